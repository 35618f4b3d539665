#include "drawingdb/dxf_tags.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace drawingdb {
namespace {

struct CodeRange {
  int first, last;
  TagType type;
};

// The value type of each range of group codes.
constexpr CodeRange kCodeRanges[] = {
    {0, 4, TagType::String},       {5, 5, TagType::Handle},       {6, 9, TagType::String},
    {10, 59, TagType::Real},       {60, 79, TagType::Int16},      {90, 99, TagType::Int32},
    {100, 102, TagType::String},   {105, 105, TagType::Handle},   {110, 149, TagType::Real},
    {160, 169, TagType::Int64},    {170, 179, TagType::Int16},    {210, 239, TagType::Real},
    {270, 289, TagType::Int16},    {290, 299, TagType::Bool},     {300, 309, TagType::String},
    {310, 319, TagType::Binary},   {320, 369, TagType::Handle},   {370, 389, TagType::Int16},
    {390, 399, TagType::Handle},   {400, 409, TagType::Int16},    {410, 419, TagType::String},
    {420, 429, TagType::Int32},    {430, 439, TagType::String},   {440, 459, TagType::Int32},
    {460, 469, TagType::Real},     {470, 479, TagType::String},   {480, 481, TagType::Handle},
    {999, 999, TagType::Comment},  {1000, 1003, TagType::String}, {1004, 1004, TagType::Binary},
    {1005, 1005, TagType::Handle}, {1010, 1059, TagType::Real},   {1060, 1070, TagType::Int16},
    {1071, 1071, TagType::Int32},
};

constexpr int kTypedCodes = 1072;

constexpr std::array<TagType, kTypedCodes> makeTypeTable() {
  std::array<TagType, kTypedCodes> table{};
  for (TagType& t : table) t = TagType::String;
  for (const CodeRange& r : kCodeRanges)
    for (int c = r.first; c <= r.last; ++c) table[static_cast<std::size_t>(c)] = r.type;
  return table;
}
constexpr std::array<TagType, kTypedCodes> kTypeOfCode = makeTypeTable();

// The line of a group code in ASCII DXF with its line end: right-aligned
// in three places ("  0", " 10", "330", "1001").  The writer takes the
// codes below kTypedCodes from this table.
struct CodeText {
  char text[7];
  std::uint8_t size;
};

constexpr std::array<CodeText, kTypedCodes> makeCodeTexts() {
  std::array<CodeText, kTypedCodes> table{};
  for (int c = 0; c < kTypedCodes; ++c) {
    char digits[4] = {};
    int n = 0;
    for (int v = c; n == 0 || v > 0; v /= 10) digits[n++] = static_cast<char>('0' + v % 10);
    CodeText& t = table[static_cast<std::size_t>(c)];
    int k = 0;
    for (int pad = n; pad < 3; ++pad) t.text[k++] = ' ';
    while (n > 0) t.text[k++] = digits[--n];
    t.text[k++] = '\r';
    t.text[k++] = '\n';
    t.size = static_cast<std::uint8_t>(k);
  }
  return table;
}
constexpr std::array<CodeText, kTypedCodes> kCodeTexts = makeCodeTexts();
static_assert(sizeof(CodeText) == 8);

// Upper-case hexadecimal digits of a handle into `buf` (16 bytes); returns
// their number.
std::size_t formatHandleTo(char* buf, Handle h) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char reversed[16];
  std::size_t n = 0;
  do {
    reversed[n++] = kHex[h & 15];
    h >>= 4;
  } while (h != 0);
  for (std::size_t i = 0; i < n; ++i) buf[i] = reversed[n - 1 - i];
  return n;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool parseInt(std::string_view s, std::int64_t& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool parseReal(std::string_view s, double& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  if (r.ec == std::errc::result_out_of_range) return false;
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

template <class T>
T readLittle(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // the machines we run on are little-endian
  return v;
}

}  // namespace

TagType tagTypeOf(int code) {
  if (code < 0 || code >= kTypedCodes) return TagType::String;
  return kTypeOfCode[static_cast<std::size_t>(code)];
}

bool parseHandle(std::string_view text, Handle& out) {
  text = trim(text);
  if (text.empty() || text.size() > 16) return false;
  Handle v = 0;
  for (char c : text) {
    const int d = hexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<Handle>(d);
  }
  out = v;
  return true;
}

std::string formatHandle(Handle h) {
  char buf[16];
  return std::string(buf, formatHandleTo(buf, h));
}

namespace {

// The text "%.<precision>g" gives for a value whose exact decimal expansion
// has at most `precision` digits and that is written without an exponent:
// a multiple of 1/2^k (k <= 22) that is 0 or at least 1e-4 in magnitude.
// Such a value is n/2^k = n*5^k/10^k, so its digits are those of the
// integer n*5^k; when that integer has at most `precision` digits the
// rounding to that many digits changes nothing.  Coordinates of drawings
// are mostly values of this kind (whole numbers, halves, quarters), and the
// general rounding is far slower.  Returns the length, or 0 when the value
// is not of this kind.
std::size_t formatShortDyadic(char* buf, double value, int precision) {
  static constexpr std::uint64_t kPow5[] = {1ULL,
                                            5ULL,
                                            25ULL,
                                            125ULL,
                                            625ULL,
                                            3125ULL,
                                            15625ULL,
                                            78125ULL,
                                            390625ULL,
                                            1953125ULL,
                                            9765625ULL,
                                            48828125ULL,
                                            244140625ULL,
                                            1220703125ULL,
                                            6103515625ULL,
                                            30517578125ULL,
                                            152587890625ULL,
                                            762939453125ULL,
                                            3814697265625ULL,
                                            19073486328125ULL,
                                            95367431640625ULL,
                                            476837158203125ULL,
                                            2384185791015625ULL};
  static constexpr std::uint64_t kPow10[] = {1ULL,
                                             10ULL,
                                             100ULL,
                                             1000ULL,
                                             10000ULL,
                                             100000ULL,
                                             1000000ULL,
                                             10000000ULL,
                                             100000000ULL,
                                             1000000000ULL,
                                             10000000000ULL,
                                             100000000000ULL,
                                             1000000000000ULL,
                                             10000000000000ULL,
                                             100000000000000ULL,
                                             1000000000000000ULL,
                                             10000000000000000ULL};
  if (precision < 1 || precision > 16) return 0;
  const std::uint64_t limit = kPow10[precision];
  char* out = buf;
  if (std::signbit(value)) *out++ = '-';
  const double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    *out++ = '0';
    return static_cast<std::size_t>(out - buf);
  }
  if (!(magnitude >= 1e-4) || !(magnitude < 1e16)) return 0;
  // From 2^53 on every double is whole; below, the conversion to an
  // integer tells whether it is (cheaper than a rounding call).
  constexpr double kWholeFrom = 9007199254740992.0;
  double scaled = magnitude;
  int k = 0;
  while (scaled < kWholeFrom && scaled != static_cast<double>(static_cast<std::uint64_t>(scaled))) {
    if (++k >= static_cast<int>(std::size(kPow5))) return 0;
    scaled *= 2;  // exact: the value is far from the top of the range
  }
  const auto n = static_cast<std::uint64_t>(scaled);
  // (A wide product instead of a division: this runs for every number.)
  const unsigned __int128 wide = static_cast<unsigned __int128>(n) * kPow5[k];
  if (wide >= limit) return 0;
  const auto digits = static_cast<std::uint64_t>(wide);
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, digits);
  auto length = static_cast<int>(r.ptr - text);
  if (length <= k) {
    // Below 1: "0." and the leading zeros of the fraction.
    *out++ = '0';
    *out++ = '.';
    for (int i = length; i < k; ++i) *out++ = '0';
    while (text[length - 1] == '0') --length;  // digits is not 0 here
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return static_cast<std::size_t>(out + length - buf);
  }
  const int whole = length - k;
  std::memcpy(out, text, static_cast<std::size_t>(whole));
  out += whole;
  int last = length;
  while (last > whole && text[last - 1] == '0') --last;
  if (last > whole) {
    *out++ = '.';
    std::memcpy(out, text + whole, static_cast<std::size_t>(last - whole));
    out += last - whole;
  }
  return static_cast<std::size_t>(out - buf);
}

// 10^precision for precisions 1 to 16: whole numbers below have at most
// that many digits.
constexpr double kWholeBelow[] = {1e0, 1e1, 1e2, 1e3,  1e4,  1e5,  1e6,  1e7, 1e8,
                                  1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

// Writes the text of formatReal into `buf` (at least 40 bytes) and returns
// its length; no allocation, as the writer calls it for every number.
std::size_t formatRealTo(char* buf, double value, int precision) {
  if (!std::isfinite(value)) value = 0.0;
  // Whole numbers of at most `precision` digits, the most common values
  // of drawings: their digits and ".0" ("-0.0" for negative zero).
  if (precision > 0 && precision <= 16 && std::fabs(value) < kWholeBelow[precision]) {
    const auto whole = static_cast<std::int64_t>(value);
    if (static_cast<double>(whole) == value) {
      char* out = buf;
      if (whole == 0 && std::signbit(value)) *out++ = '-';
      out = std::to_chars(out, buf + 32, whole).ptr;
      out[0] = '.';
      out[1] = '0';
      return static_cast<std::size_t>(out + 2 - buf);
    }
  }
  char* const end = buf + 32;
  std::to_chars_result r{};
  if (precision >= 17 || precision <= 0) {
    r = std::to_chars(buf, end, value);
  } else if (const std::size_t n = formatShortDyadic(buf, value, precision); n > 0) {
    r.ptr = buf + n;
  } else {
    r = std::to_chars(buf, end, value, std::chars_format::general, precision);
  }
  std::size_t n = static_cast<std::size_t>(r.ptr - buf);
  std::size_t e = n;
  bool point = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (buf[i] == 'e') {
      e = i;
      buf[i] = 'E';
      break;
    }
    if (buf[i] == '.') point = true;
  }
  if (!point) {
    // "1" -> "1.0", "1e+20" -> "1.0E+20"
    std::memmove(buf + e + 2, buf + e, n - e);
    buf[e] = '.';
    buf[e + 1] = '0';
    n += 2;
  }
  return n;
}

}  // namespace

std::string formatReal(double value, int precision) {
  char buf[48];
  return std::string(buf, formatRealTo(buf, value, precision));
}

// ---------------------------------------------------------------- reading

TagReader::TagReader(std::string_view file) : data_(file), size_(file.size()), sourceDone_(true) { start(); }

TagReader::TagReader(ByteSource& source, std::size_t chunk) : source_(&source), size_(source.size()) {
  buffer_.resize(std::max<std::size_t>(chunk, 1));
  data_ = std::string_view(buffer_.data(), 0);
  start();
}

void TagReader::start() {
  if (have(kBinaryDxfSentinel.size()) && data_.substr(0, kBinaryDxfSentinel.size()) == kBinaryDxfSentinel) {
    binary_ = true;
    pos_ = kBinaryDxfSentinel.size();
    // The first tag is (0, "SECTION"): with one-byte codes the byte after
    // the code already starts the text.
    codeBytes_ = (have(2) && data_[pos_ + 1] != '\0') ? 1 : 2;
  } else if (have(3) && data_.substr(0, 3) == "\xEF\xBB\xBF") {
    pos_ = 3;  // a UTF-8 byte order mark, written by some editors
  }
}

bool TagReader::fail(std::string what) {
  if (status_.ok()) status_ = Status::fail(StatusCode::BadFile, std::move(what));
  pos_ = data_.size();
  sourceDone_ = true;
  return false;
}

// Moves the bytes not yet read to the front of the buffer and reads from
// the source behind them until `n` are there or the source has no more.
// The buffer grows only for a tag longer than it.
bool TagReader::refill(std::size_t n) {
  if (sourceDone_) return false;
  const std::size_t kept = data_.size() - pos_;
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, kept);
    consumed_ += pos_;
    pos_ = 0;
  }
  if (n > buffer_.size()) buffer_.resize(std::max(n, 2 * buffer_.size()));
  std::size_t filled = kept;
  while (filled < n) {
    const std::size_t got = source_->read(buffer_.data() + filled, buffer_.size() - filled);
    if (got == 0) {
      sourceDone_ = true;
      break;
    }
    filled += got;
  }
  data_ = std::string_view(buffer_.data(), filled);
  size_ = std::max(size_, consumed_ + filled);
  if (sourceDone_ && !source_->status().ok()) {
    // What was read before the failure is not used: the file as a whole
    // could not be read.
    status_ = source_->status();
    pos_ = data_.size();
    return false;
  }
  return filled >= n;
}

bool TagReader::next(Tag& tag) {
  if (pushedBack_ && started_) {
    pushedBack_ = false;
    tag = last_;
    return true;
  }
  pushedBack_ = false;
  if (!status_.ok()) return false;
  bool got;
  do {
    got = binary_ ? nextBinary(tag) : nextAscii(tag);
  } while (got && tag.type == TagType::Comment);
  if (got && tag.type == TagType::String) tag.text = codePage_.decode(tag.text, decoded_);
  if (got) {
    last_ = tag;
    started_ = true;
  }
  return got;
}

// A line ends at LF, CR LF, lone CR or LF CR: files pass through systems
// that write any of them.
bool TagReader::readLine(std::string_view& line) {
  std::size_t length = 0;  // bytes from pos_ on known to hold no line end
  for (;;) {
    const std::size_t held = data_.size() - pos_;
    const char* p = data_.data() + pos_;
    while (length < held && p[length] != '\n' && p[length] != '\r') ++length;
    if (length < held || !have(held + 1)) break;
  }
  have(length + 2);  // the line end and the byte after it, the second of a pair
  if (!status_.ok() || pos_ >= data_.size()) return false;
  line = data_.substr(pos_, length);
  pos_ += length;
  if (pos_ < data_.size()) {
    const char first = data_[pos_++];
    if (pos_ < data_.size() && data_[pos_] != first && (data_[pos_] == '\n' || data_[pos_] == '\r')) ++pos_;
  }
  ++line_;
  return true;
}

bool TagReader::nextAscii(Tag& tag) {
  std::string_view codeLine;
  // Blank lines between tags (some writers end files with them) are skipped.
  do {
    if (!readLine(codeLine)) return false;
  } while (trim(codeLine).empty());
  const std::size_t codeAt = line_;
  std::int64_t code = 0;
  if (!parseInt(codeLine, code) || code < -32768 || code > 32767)
    return fail("line " + std::to_string(codeAt) + ": group code expected");
  std::string_view value;
  if (!readLine(value)) return fail("line " + std::to_string(codeAt) + ": value of group " + std::to_string(code) + " missing");
  tag.code = static_cast<int>(code);
  tag.type = tagTypeOf(tag.code);
  tag.text = value;
  tag.real = 0;
  tag.integer = 0;
  const auto where = [] { return std::string("line "); };
  switch (tag.type) {
    case TagType::String:
    case TagType::Comment:
      break;
    case TagType::Handle: {
      Handle h = 0;
      tag.integer = parseHandle(value, h) ? static_cast<std::int64_t>(h) : 0;
      tag.text = trim(value);
      break;
    }
    case TagType::Real:
      if (!parseReal(value, tag.real)) {
        std::int64_t i = 0;
        if (!parseInt(value, i)) return fail(where() + std::to_string(line_) + ": number expected for group " + std::to_string(code));
        tag.real = static_cast<double>(i);
      }
      break;
    case TagType::Int16:
    case TagType::Int32:
    case TagType::Int64:
    case TagType::Bool:
      if (!parseInt(value, tag.integer)) {
        // Some writers put a real where an integer belongs ("1.0").
        double d = 0;
        if (!parseReal(value, d) || d != std::trunc(d) || std::fabs(d) > 9.2e18)
          return fail(where() + std::to_string(line_) + ": integer expected for group " + std::to_string(code));
        tag.integer = static_cast<std::int64_t>(d);
      }
      break;
    case TagType::Binary: {
      const std::string_view hex = trim(value);
      if (hex.size() % 2 != 0) return fail(where() + std::to_string(line_) + ": odd number of hex digits");
      scratch_.resize(hex.size() / 2);
      for (std::size_t i = 0; i < scratch_.size(); ++i) {
        const int hi = hexDigit(hex[2 * i]), lo = hexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return fail(where() + std::to_string(line_) + ": hex digit expected");
        scratch_[i] = static_cast<char>(hi * 16 + lo);
      }
      tag.text = scratch_;
      break;
    }
  }
  return true;
}

bool TagReader::nextBinary(Tag& tag) {
  if (!have(1)) return false;
  tagOffset_ = consumed_ + pos_;
  // The text of a message is made only when one is needed.
  const auto where = [at = tagOffset_] { return "byte " + std::to_string(at); };
  auto need = [&](std::size_t n) { return have(n); };
  int code = 0;
  if (codeBytes_ == 1) {
    const auto b = static_cast<unsigned char>(data_[pos_++]);
    if (b == 0xFF) {
      if (!need(2)) return fail(where() + ": group code truncated");
      code = readLittle<std::int16_t>(data_.data() + pos_);
      pos_ += 2;
    } else {
      code = b;
    }
  } else {
    if (!need(2)) return fail(where() + ": group code truncated");
    code = readLittle<std::int16_t>(data_.data() + pos_);
    pos_ += 2;
  }
  tag.code = code;
  tag.type = tagTypeOf(code);
  tag.real = 0;
  tag.integer = 0;
  tag.text = {};
  auto fixed = [&](std::size_t n) {
    if (!need(n)) return fail(where() + ": value of group " + std::to_string(code) + " truncated");
    return true;
  };
  switch (tag.type) {
    case TagType::Comment:
      return fail(where() + ": comments are not allowed in binary DXF");
    case TagType::String:
    case TagType::Handle: {
      std::size_t length = 0;  // bytes from pos_ on known to hold no NUL
      for (;;) {
        const std::size_t held = data_.size() - pos_;
        const void* nul = std::memchr(data_.data() + pos_ + length, '\0', held - length);
        if (nul != nullptr) {
          length = static_cast<std::size_t>(static_cast<const char*>(nul) - (data_.data() + pos_));
          break;
        }
        length = held;
        if (!have(held + 1)) {
          if (!status_.ok()) return false;
          return fail(where() + ": text of group " + std::to_string(code) + " not terminated");
        }
      }
      tag.text = data_.substr(pos_, length);
      pos_ += length + 1;
      if (tag.type == TagType::Handle) {
        Handle h = 0;
        tag.integer = parseHandle(tag.text, h) ? static_cast<std::int64_t>(h) : 0;
      }
      break;
    }
    case TagType::Real:
      if (!fixed(8)) return false;
      tag.real = readLittle<double>(data_.data() + pos_);
      pos_ += 8;
      if (!std::isfinite(tag.real)) return fail(where() + ": group " + std::to_string(code) + " is not a finite number");
      break;
    case TagType::Int16:
      if (!fixed(2)) return false;
      tag.integer = readLittle<std::int16_t>(data_.data() + pos_);
      pos_ += 2;
      break;
    case TagType::Int32:
      if (!fixed(4)) return false;
      tag.integer = readLittle<std::int32_t>(data_.data() + pos_);
      pos_ += 4;
      break;
    case TagType::Int64:
      if (!fixed(8)) return false;
      tag.integer = readLittle<std::int64_t>(data_.data() + pos_);
      pos_ += 8;
      break;
    case TagType::Bool:
      if (!fixed(1)) return false;
      tag.integer = static_cast<unsigned char>(data_[pos_]);
      pos_ += 1;
      break;
    case TagType::Binary: {
      if (!fixed(1)) return false;
      const auto n = static_cast<unsigned char>(data_[pos_++]);
      if (!fixed(n)) return false;
      tag.text = data_.substr(pos_, n);
      pos_ += n;
      break;
    }
  }
  return true;
}

// ---------------------------------------------------------------- writing

TagWriter::TagWriter(ByteSink& sink, Options options)
    : sink_(sink), options_(options), block_(std::make_unique_for_overwrite<char[]>(2 * kFlushAt)), capacity_(2 * kFlushAt) {
  if (options_.binary) append(kBinaryDxfSentinel);
}

char* TagWriter::room(std::size_t n) {
  if (capacity_ - used_ < n) {
    const std::size_t grown = std::max(2 * capacity_, used_ + n);
    auto block = std::make_unique_for_overwrite<char[]>(grown);
    std::memcpy(block.get(), block_.get(), used_);
    block_ = std::move(block);
    capacity_ = grown;
  }
  return block_.get() + used_;
}

void TagWriter::append(std::string_view s) {
  if (s.empty()) return;
  std::memcpy(room(s.size()), s.data(), s.size());
  used_ += s.size();
}

void TagWriter::append(char c) {
  *room(1) = c;
  ++used_;
}

void TagWriter::maybeFlush() {
  if (used_ >= kFlushAt) flush();
}

Status TagWriter::flush() {
  if (!failed_ && used_ > 0) {
    if (!sink_.write(std::string_view(block_.get(), used_))) failed_ = true;
    written_ += used_;
  }
  used_ = 0;
  if (failed_) return Status::fail(StatusCode::WriteFailed, "the output refused the bytes");
  return {};
}

void TagWriter::code(int c) {
  if (options_.binary) {
    if (options_.codeBytes == 1) {
      if (c >= 0 && c < 255) {
        append(static_cast<char>(c));
        return;
      }
      append(static_cast<char>(0xFF));
    }
    const auto v = static_cast<std::int16_t>(c);
    append(std::string_view(reinterpret_cast<const char*>(&v), 2));
    return;
  }
  if (c >= 0 && c < kTypedCodes) {
    // The whole entry is copied (a fixed size is one move); only its text
    // counts.
    const CodeText& t = kCodeTexts[static_cast<std::size_t>(c)];
    std::memcpy(room(sizeof t), &t, sizeof t);
    used_ += t.size;
    return;
  }
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, c);
  const std::size_t n = static_cast<std::size_t>(r.ptr - buf);
  if (n < 3) append(std::string_view("   ", 3 - n));
  append(std::string_view(buf, n));
  append("\r\n");
}

namespace {
// Whether every byte of `value` is printable ASCII other than a backslash:
// such a text is the same in every code page and holds nothing that a
// tag cannot store, so it is written as it is.
bool plainText(std::string_view value) {
  for (const char ch : value) {
    const auto b = static_cast<unsigned char>(ch);
    if (b <= '\r' || b >= 0x80 || b == '\\') return false;
  }
  return true;
}
}  // namespace

void TagWriter::text(int c, std::string_view value) {
  if (plainText(value)) {
    if (!options_.binary && c >= 0 && c < kTypedCodes) {
      // The code's line and the text's in one piece of the block.
      const CodeText& t = kCodeTexts[static_cast<std::size_t>(c)];
      char* out = room(sizeof t + value.size() + 2);
      std::memcpy(out, &t, sizeof t);
      out += t.size;
      if (!value.empty()) std::memcpy(out, value.data(), value.size());
      out[value.size()] = '\r';
      out[value.size() + 1] = '\n';
      used_ += t.size + value.size() + 2;
      maybeFlush();
      return;
    }
    code(c);
    char* out = room(value.size() + 2);
    if (!value.empty()) std::memcpy(out, value.data(), value.size());
    if (options_.binary) {
      out[value.size()] = '\0';
      used_ += value.size() + 1;
    } else {
      out[value.size()] = '\r';
      out[value.size() + 1] = '\n';
      used_ += value.size() + 2;
    }
    maybeFlush();
    return;
  }
  if (options_.codePage != nullptr && tagTypeOf(c) == TagType::String) value = options_.codePage->encode(value, encoded_);
  code(c);
  if (options_.binary) {
    // A NUL would end the text early; it cannot be stored.
    append(value.substr(0, value.find('\0')));
    append('\0');
  } else {
    // Line breaks inside a value would split the tag; they cannot be stored.
    char* out = room(value.size() + 2);
    for (const char ch : value) *out++ = ch == '\n' || ch == '\r' ? ' ' : ch;
    out[0] = '\r';
    out[1] = '\n';
    used_ += value.size() + 2;
  }
  maybeFlush();
}

std::size_t TagWriter::textSize(int c, std::string_view value) {
  if (options_.codePage == nullptr || tagTypeOf(c) != TagType::String) return value.size();
  return options_.codePage->encode(value, encoded_).size();
}

void TagWriter::real(int c, double value) {
  const TagType t = tagTypeOf(c);
  if (t != TagType::Real) {
    integer(c, static_cast<std::int64_t>(std::llround(std::isfinite(value) ? value : 0.0)));
    return;
  }
  if (!options_.binary && c >= 0) {
    // The code's line and the number's in one piece of the block.
    const CodeText& t = kCodeTexts[static_cast<std::size_t>(c)];
    char* out = room(sizeof t + 48 + 2);
    std::memcpy(out, &t, sizeof t);
    out += t.size;
    const std::size_t n = formatRealTo(out, value, options_.precision);
    out[n] = '\r';
    out[n + 1] = '\n';
    used_ += t.size + n + 2;
    maybeFlush();
    return;
  }
  code(c);
  if (options_.binary) {
    const double v = std::isfinite(value) ? value : 0.0;
    append(std::string_view(reinterpret_cast<const char*>(&v), 8));
  } else {
    char* out = room(48 + 2);
    const std::size_t n = formatRealTo(out, value, options_.precision);
    out[n] = '\r';
    out[n + 1] = '\n';
    used_ += n + 2;
  }
  maybeFlush();
}

void TagWriter::integer(int c, std::int64_t value) {
  const TagType t = tagTypeOf(c);
  if (t == TagType::Real) {
    real(c, static_cast<double>(value));
    return;
  }
  if (t == TagType::Handle) {
    handle(c, static_cast<Handle>(value));
    return;
  }
  if (t == TagType::String || t == TagType::Binary || t == TagType::Comment) {
    text(c, std::to_string(value));
    return;
  }
  if (!options_.binary) {
    const std::int64_t v = t == TagType::Int16 ? static_cast<std::int16_t>(value)
                           : t == TagType::Int32 ? static_cast<std::int32_t>(value)
                           : t == TagType::Bool  ? (value != 0 ? 1 : 0)
                                                 : value;
    // Integer types lie below kTypedCodes: the code's line and the
    // number's in one piece of the block.
    const CodeText& code = kCodeTexts[static_cast<std::size_t>(c)];
    char* out = room(sizeof code + 24 + 2);
    std::memcpy(out, &code, sizeof code);
    out += code.size;
    const auto r = std::to_chars(out, out + 24, v);
    r.ptr[0] = '\r';
    r.ptr[1] = '\n';
    used_ += code.size + static_cast<std::size_t>(r.ptr - out) + 2;
    maybeFlush();
    return;
  }
  code(c);
  switch (t) {
    case TagType::Int16: {
      const auto v = static_cast<std::int16_t>(value);
      append(std::string_view(reinterpret_cast<const char*>(&v), 2));
      break;
    }
    case TagType::Int32: {
      const auto v = static_cast<std::int32_t>(value);
      append(std::string_view(reinterpret_cast<const char*>(&v), 4));
      break;
    }
    case TagType::Bool:
      append(value != 0 ? '\1' : '\0');
      break;
    default:
      append(std::string_view(reinterpret_cast<const char*>(&value), 8));
      break;
  }
  maybeFlush();
}

void TagWriter::handle(int c, Handle value) {
  char buf[16];
  text(c, std::string_view(buf, formatHandleTo(buf, value)));
}

void TagWriter::bytes(int c, std::string_view value) {
  if (value.size() > 255) value = value.substr(0, 255);
  code(c);
  if (options_.binary) {
    append(static_cast<char>(value.size()));
    append(value);
  } else {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char* out = room(2 * value.size() + 2);
    for (char ch : value) {
      const auto b = static_cast<unsigned char>(ch);
      *out++ = kHex[b >> 4];
      *out++ = kHex[b & 15];
    }
    out[0] = '\r';
    out[1] = '\n';
    used_ += 2 * value.size() + 2;
  }
  maybeFlush();
}

void TagWriter::tag(const Tag& t) {
  switch (t.type) {
    case TagType::Real: real(t.code, t.real); break;
    case TagType::Int16:
    case TagType::Int32:
    case TagType::Int64:
    case TagType::Bool: integer(t.code, t.integer); break;
    case TagType::Binary: bytes(t.code, t.text); break;
    case TagType::Comment: break;
    case TagType::String:
    case TagType::Handle: text(t.code, t.text); break;
  }
}

}  // namespace drawingdb

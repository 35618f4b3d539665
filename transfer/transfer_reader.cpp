// CAD transfer file: the file in memory, its lines, the value-line readers,
// the header sections and the layer table of the elements.
#include "transfer/transfer_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "support/config.h"
#include "support/large_pages.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/transfer_lines.h"

namespace {

constexpr std::size_t kMaxFileSize = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
// A layer value takes at least "#0\n".
constexpr std::size_t kSmallestValueLine = 3;

TransferReaderState& state() { return transferReader(); }

bool debugAbove(int level) { return runSettings().traceLevel > level; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

namespace transfer_lines {

void skipRestOfLine() {
  TransferReaderState& s = state();
  const std::size_t lf = s.bytes.find('\n', s.offset);
  s.offset = lf == std::string::npos ? s.bytes.size() : lf + 1;
}

std::string_view takeRestOfLine() {
  TransferReaderState& s = state();
  const char* const data = s.bytes.data();
  const std::size_t size = s.bytes.size();
  const std::size_t start = std::min(s.offset, size);
  // Value lines are short: the first bytes are looked at one by one before
  // the search of a long line is handed to memchr.
  constexpr std::size_t kShortLine = 32;
  std::size_t end = start;
  const std::size_t shortEnd = std::min(size, start + kShortLine);
  while (end < shortEnd && data[end] != '\n') ++end;
  if (end == shortEnd && end < size) {
    const void* lf = std::memchr(data + end, '\n', size - end);
    end = lf == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(lf) - data);
  }
  // end is now the line feed or the end of the file.
  if (end >= size) {
    s.offset = size;
    // A line that the end of the file cuts short (no line feed).
    s.endOfFileMet = true;
  } else {
    s.offset = end + 1;
  }
  if (end > start && data[end - 1] == '\r') --end;
  return std::string_view(data + start, end - start).substr(0, kTransferLineLength);
}

std::string_view nextToken(std::string_view line, std::size_t& at) {
  while (at < line.size() && isBlank(line[at])) ++at;
  const std::size_t start = at;
  while (at < line.size() && !isBlank(line[at])) ++at;
  return line.substr(start, at - start);
}

int skipToSection() {
  // The next '@' that begins a line (the reading offset counts as the
  // beginning of one); value lines hardly ever hold an '@', so the search
  // passes over them at once.
  TransferReaderState& s = state();
  for (std::size_t at = s.offset; at < s.bytes.size(); ++at) {
    at = s.bytes.find('@', at);
    if (at == std::string::npos) break;
    if (at == s.offset || s.bytes[at - 1] == '\n') {
      s.offset = at + 1;
      return 0;
    }
  }
  s.offset = std::max(s.offset, s.bytes.size());
  return -1;
}

}  // namespace transfer_lines

using namespace transfer_lines;

namespace {

// Numbers as stream extraction reads them: the longest prefix that is one.
bool parseInteger(std::string_view token, std::int64_t& value) {
  if (token.size() > 1 && token[0] == '+' && token[1] != '-') token.remove_prefix(1);
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  return result.ec == std::errc() && result.ptr != token.data();
}

// The digits of a plain decimal number: at most 15 digits with at most one
// point among them, read as an integer (exact) and the count of digits
// after the point (-1 without a point).
struct PlainDigits {
  std::uint64_t digits = 0;
  int count = 0;
  int fraction = -1;
  // The integer and the power of ten are both exact, so one division
  // rounds as from_chars would.
  double magnitude() const {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    return static_cast<double>(digits) / kPow10[fraction < 0 ? 0 : fraction];
  }
};
constexpr std::size_t kTooManyDigits = static_cast<std::size_t>(-1);

// Reads the digits and the point of data[at, size) into d; the offset of
// the first other character, kTooManyDigits past 15 digits.
std::size_t scanPlainDigits(const char* data, std::size_t at, std::size_t size, PlainDigits& d) {
  d = PlainDigits{};
  for (; at < size; ++at) {
    const char c = data[at];
    if (c >= '0' && c <= '9') {
      if (++d.count > 15) return kTooManyDigits;
      d.digits = d.digits * 10 + static_cast<std::uint64_t>(c - '0');
      if (d.fraction >= 0) ++d.fraction;
    } else if (c == '.' && d.fraction < 0) {
      d.fraction = 0;
    } else {
      break;
    }
  }
  return at;
}

// The numbers a CAD system writes ("12", "-0.5", "3.125"): a sign, at
// most 15 digits with at most one point among them, no exponent.  The
// digits read as an integer and the power of ten of the point are both
// exact, so one division rounds as from_chars would.  false for any other
// form (from_chars reads it).
bool parseShortDecimal(std::string_view token, double& value) {
  PlainDigits d;
  const std::size_t at = scanPlainDigits(token.data(), token[0] == '-' ? 1 : 0, token.size(), d);
  if (at == kTooManyDigits || d.count == 0 ||
      (at < token.size() && (token[at] == 'e' || token[at] == 'E'))) {
    return false;
  }
  const double magnitude = d.magnitude();
  value = token[0] == '-' ? -magnitude : magnitude;
  return true;
}

bool parseReal(std::string_view token, double& value) {
  if (token.empty()) return false;
  if (token.size() > 1 && token[0] == '+' && token[1] != '-') token.remove_prefix(1);
  // Only the decimal forms; "inf", "nan" and the like are no coordinates.
  std::size_t at = token[0] == '-' ? 1 : 0;
  if (at >= token.size() || !((token[at] >= '0' && token[at] <= '9') || token[at] == '.')) return false;
  if (parseShortDecimal(token, value)) return true;
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value,
                                      std::chars_format::general);
  return result.ec == std::errc() && result.ptr != token.data() && std::isfinite(value);
}

bool parseInt32(std::string_view token, std::int32_t& value) {
  std::int64_t wide = 0;
  if (token.empty() || !parseInteger(token, wide)) return false;
  if (wide < std::numeric_limits<std::int32_t>::min() || wide > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(wide);
  return true;
}

bool parseInt16(std::string_view token, std::int16_t& value) {
  std::int32_t wide = 0;
  if (!parseInt32(token, wide) || wide < std::numeric_limits<std::int16_t>::min() ||
      wide > std::numeric_limits<std::int16_t>::max()) {
    return false;
  }
  value = static_cast<std::int16_t>(wide);
  return true;
}

// The next value line, without its '#': 0, or -1 with the reason set.
int readValueLine(std::string_view& line) {
  if (nextValueLine() != 0) return -1;
  line = takeRestOfLine();
  return 0;
}

// Hands the rest of the current line to `parse` with the position of its
// first token: 0, or -1 when `parse` refused the value.
template <typename Parse>
int parseRestOfLine(Parse parse) {
  const std::string_view line = takeRestOfLine();
  std::size_t at = 0;
  if (parse(line, at)) return 0;
  state().lastStop = TransferStop::kBadValue;
  return -1;
}

// Reads the next value line and hands it to `parse` with the position of its
// first token: 0, or -1 when the element ended or `parse` refused the value.
template <typename Parse>
int readValue(const char* code, Parse parse) {
  TraceScope t(code);
  if (nextValueLine() != 0) return -1;
  return parseRestOfLine(parse);
}

// The value lines a CAD system writes are mostly one number alone: blanks,
// a '-', digits with at most one point among them, the line feed.  Such a
// line is read straight from the file at the reading offset, which then
// moves past its line feed; its digits go to d (at most 15 of them).
// false, and the offset where it was, for any other
// line: the general way reads it (and gives the same value for these).
bool takePlainNumber(bool& negative, PlainDigits& d) {
  TransferReaderState& s = state();
  const char* const data = s.bytes.data();
  const std::size_t size = s.bytes.size();
  const std::size_t lineStart = s.offset;
  std::size_t at = lineStart;
  while (at < size && (data[at] == ' ' || data[at] == '\t')) ++at;
  negative = at < size && data[at] == '-';
  if (negative) ++at;
  at = scanPlainDigits(data, at, size, d);
  if (at == kTooManyDigits || d.count == 0 || at >= size || data[at] != '\n' ||
      at - lineStart > kTransferLineLength) {
    return false;
  }
  s.offset = at + 1;
  return true;
}

bool readPlainReal(double& value) {
  bool negative = false;
  PlainDigits d;
  if (!takePlainNumber(negative, d)) return false;
  const double magnitude = d.magnitude();
  value = negative ? -magnitude : magnitude;
  return true;
}

bool readPlainInt(std::int32_t& value) {
  TransferReaderState& s = state();
  const std::size_t offset = s.offset;
  bool negative = false;
  PlainDigits d;
  if (!takePlainNumber(negative, d)) return false;
  if (d.fraction >= 0 || d.count > 9) {
    s.offset = offset;
    return false;
  }
  value = negative ? -static_cast<std::int32_t>(d.digits) : static_cast<std::int32_t>(d.digits);
  return true;
}

// Keyword of the section whose '@' was just passed; the line is consumed.
std::string sectionKeyword() {
  std::size_t at = 0;
  return std::string(nextToken(takeRestOfLine(), at));
}

// A header read failed: a '@' where a value belongs is reported.
int headerFailure() {
  if (state().lastStop == TransferStop::kSection) mfaWarning("hse100", 1000, Channel::kProtocol);
  return -1;
}

int readFileVersion() {
  TransferReaderState& s = state();
  std::int32_t version = 0;
  if (readInt(version) != 0) return headerFailure();
  s.fileVersion = version;
  if (readToken(s.versionText) != 0 || readToken(s.senderName) != 0) return headerFailure();
  if (s.senderName.compare(0, 6, "Quorix") == 0) runState().senderCode = 4;
  return 0;
}

int readGeneral() {
  TransferReaderState& s = state();
  double extents[4] = {};
  for (double& v : extents) {
    if (readReal(v) != 0) return headerFailure();
  }
  s.xmin = extents[0];
  s.ymin = extents[1];
  s.xmax = extents[2];
  s.ymax = extents[3];
  std::int32_t count = 0;
  if (readInt(count) != 0) return headerFailure();
  s.layerValueList.reset(count, s.bytes.size() / kSmallestValueLine + 1);
  if (count <= 0) {
    mfaWarning("hse100", 1020, Channel::kProtocol);
    return 0;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    double value = 0;
    if (readReal(value) == 0) {
      s.layerValueList.add(value);
      continue;
    }
    if (s.lastStop == TransferStop::kSection) {
      // The list is shorter than announced: it ends before the next section.
      mfaError("hse100", 1000, Channel::kProtocol);
      s.offset = s.lastSectionOffset;
      break;
    }
    if (s.lastStop == TransferStop::kEndOfFile) return -1;
    s.layerValueList.addUnreadable();
  }
  return 0;
}

int readReference() {
  TransferReaderState& s = state();
  double xyz[3] = {};
  for (double& v : xyz) {
    if (readReal(v) != 0) return headerFailure();
  }
  s.reference = Point3{xyz[0], xyz[1], xyz[2]};
  return 0;
}

int readHeader() {
  TransferReaderState& s = state();
  for (;;) {
    if (skipToSection() != 0) return -1;  // no "general"
    const std::string keyword = sectionKeyword();
    if (keyword == "fileversion") {
      if (readFileVersion() != 0) return -1;
    } else if (keyword == "general") {
      if (readGeneral() != 0) return -1;
      break;
    }
    // Any other section before "general" is passed over.
  }
  s.maxCoordinate = std::max({std::fabs(s.xmin), std::fabs(s.ymin), std::fabs(s.xmax), std::fabs(s.ymax)});
  if (debugAbove(4)) {
    std::printf("hse100_init_hole_cads_elem : Extremwerte : %f %f %f %f\n", s.xmin, s.ymin, s.xmax, s.ymax);
    std::printf("hse100_init_hole_cads_elem : maxm_koor = %f\n", s.maxCoordinate);
  }
  // Only the section right after "general" may be the reference point.
  if (skipToSection() == 0 && sectionKeyword() == "reference") {
    if (readReference() != 0) return -1;
  }
  return 0;
}

}  // namespace

TransferReaderState& transferReader() {
  static TransferReaderState s;
  return s;
}

const RunStateRegistrar kRunStateRegistered("transfer reader", resetTransferReader);

void resetTransferReader() { transferReader() = TransferReaderState(); }

int openTransferBytes(std::string bytes) {
  TraceScope t("hse100");
  resetTransferReader();
  TransferReaderState& s = state();
  // Positions are 32-bit counts from the end of the file.
  if (bytes.size() > kMaxFileSize) return -1;
  // Lines end with LF, CR LF or a lone CR: a lone CR becomes an LF, so
  // that the readers of lines see one line end (offsets stay as they are).
  for (std::size_t k = bytes.find('\r'); k != std::string::npos; k = bytes.find('\r', k + 1))
    if (k + 1 == bytes.size() || bytes[k + 1] != '\n') bytes[k] = '\n';
  s.bytes = std::move(bytes);
  s.fileSize = static_cast<std::int32_t>(s.bytes.size());
  s.open = true;
  const int result = readHeader();
  s.offset = 0;
  s.lastStop = TransferStop::kNone;
  return result;
}

int openTransferFile(const std::string& name) {
  TraceScope t("hse100");
  if (debugAbove(4)) {
    std::printf("hse100_init_hole_cads_elem : Oeffne Datei (%s) zum Lesen der CAD-Daten\n", name.c_str());
  }
  resetTransferReader();
  std::string bytes;
  const int r = readTransferFileBytes(name, bytes);
  return r != 0 ? r : openTransferBytes(std::move(bytes));
}

int readTransferFileBytes(const std::string& name, std::string& bytes) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return -99;
  bool tooLarge = false;
  try {
    // Room for the whole file at once, as far as it can be addressed.
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && status.st_size > 0) {
      bytes.reserve(std::min(static_cast<std::size_t>(status.st_size), kMaxFileSize));
      adviseLargePages(bytes.data(), bytes.capacity());
    }
    char buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      if (bytes.size() + got > kMaxFileSize) {
        tooLarge = true;
        break;
      }
      bytes.append(buffer, got);
    }
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    return -1;
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return -99;
  return tooLarge ? -1 : 0;
}

void rewindTransferFile() {
  state().offset = 0;
  state().lastStop = TransferStop::kNone;
}

int seekToPosition(std::int32_t position) {
  TransferReaderState& s = state();
  if (!s.open || position < 0 || position > s.fileSize) return -1;
  s.offset = static_cast<std::size_t>(s.fileSize - position);
  s.lastStop = TransferStop::kNone;
  return 0;
}

int seekToElement(std::int32_t position, std::string& keyword, std::string& identifier, std::string* rest) {
  TransferReaderState& s = state();
  keyword.clear();
  identifier.clear();
  if (rest != nullptr) rest->clear();
  if (seekToPosition(position) != 0) return -1;
  const std::size_t at = s.offset;
  // Only the '@' that begins a line starts a section.
  if (at == 0 || s.bytes[at - 1] != '@' || (at >= 2 && s.bytes[at - 2] != '\n')) return -1;
  const std::string_view line = takeRestOfLine();
  std::size_t from = 0;
  keyword = nextToken(line, from);
  identifier = nextToken(line, from);
  if (rest != nullptr) {
    while (from < line.size() && isBlank(line[from])) ++from;
    std::size_t end = line.size();
    while (end > from && isBlank(line[end - 1])) --end;
    rest->assign(line.substr(from, end - from));
  }
  return 0;
}

TransferStop lastTransferStop() { return state().lastStop; }

int nextValueLine() {
  TransferReaderState& s = state();
  s.lastStop = TransferStop::kNone;
  const char* const data = s.bytes.data();
  const std::size_t size = s.bytes.size();
  std::size_t at = s.offset;
  for (;;) {
    if (at >= size) {
      s.offset = at;
      s.lastStop = TransferStop::kEndOfFile;
      s.endOfFileMet = true;
      return -1;
    }
    const char c = data[at++];
    if (c == '#') {
      s.offset = at;
      return 0;
    }
    if (c == '@') {
      s.offset = at;
      s.lastSectionOffset = at - 1;
      s.lastStop = TransferStop::kSection;
      return -1;
    }
    if (c != '\n') {
      // A comment line: passed over.
      const void* lf = std::memchr(data + at, '\n', size - at);
      at = lf == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    }
  }
}

int readToken(std::string& token) {
  return readValue("hse151", [&](std::string_view line, std::size_t& at) {
    const std::string_view value = nextToken(line, at);
    if (value.empty()) return false;
    token.assign(value);
    return true;
  });
}

int skipValueLine() {
  return readValue("hse151", [](std::string_view, std::size_t&) { return true; });
}

int readTokenView(std::string_view& token) {
  return readValue("hse151", [&](std::string_view line, std::size_t& at) {
    token = nextToken(line, at);
    return !token.empty();
  });
}

int readTextLine(std::string& text) {
  return readValue("hse151", [&](std::string_view line, std::size_t&) {
    text.assign(line);
    return true;
  });
}

int readInt(std::int32_t& value) {
  TraceScope t("hse151");
  if (nextValueLine() != 0) return -1;
  if (readPlainInt(value)) return 0;
  return parseRestOfLine(
      [&](std::string_view line, std::size_t& at) { return parseInt32(nextToken(line, at), value); });
}

int readReal(double& value) {
  TraceScope t("hse151");
  if (nextValueLine() != 0) return -1;
  if (readPlainReal(value)) return 0;
  return parseRestOfLine([&](std::string_view line, std::size_t& at) {
    const std::string_view token = nextToken(line, at);
    return !token.empty() && parseReal(token, value);
  });
}

int readPoint(Point3& point) {
  return readValue("hse151", [&](std::string_view line, std::size_t& at) {
    const std::string_view x = nextToken(line, at);
    const std::string_view y = nextToken(line, at);
    double px = 0, py = 0;
    if (x.empty() || y.empty() || !parseReal(x, px) || !parseReal(y, py)) return false;
    point = Point3{px, py, 0.0};
    return true;
  });
}

int readIntAndText(std::int32_t& value, std::string& text) {
  return readValue("hse152", [&](std::string_view line, std::size_t& at) {
    if (!parseInt32(nextToken(line, at), value)) return false;
    text.assign(nextToken(line, at));
    return true;
  });
}

int readPen(TransferPen& pen) {
  return readValue("hse152", [&](std::string_view line, std::size_t& at) {
    std::int16_t fields[4] = {};
    for (std::int16_t& field : fields) {
      if (!parseInt16(nextToken(line, at), field)) return false;
    }
    pen.colour = fields[0];
    pen.red = fields[1];
    pen.green = fields[2];
    pen.blue = fields[3];
    pen.name.assign(nextToken(line, at));
    return true;
  });
}

// The text is read with a limit of `length` characters, as length - 1
// characters and a terminator.  A shorter limit than a whole line means the
// CAD system wrote the text over several lines: each line end becomes a line
// feed of the text and the following lines (as they stand, without a role
// character) are appended until length - 1 characters are collected.  A
// line that begins with '@' or '#', or the end of the file, ends the text
// early: a count that lies does not swallow the next field or section.
int readTextBlock(std::string& text, std::int32_t length) {
  TraceScope t("hse154");
  TransferReaderState& s = state();
  const std::size_t limit =
      static_cast<std::size_t>(std::clamp<std::int32_t>(length, 1, static_cast<std::int32_t>(kTransferLineLength))) - 1;
  std::string_view line;
  if (readValueLine(line) != 0) return -1;
  text.assign(line.substr(0, limit));
  if (static_cast<std::size_t>(length) >= kTransferLineLength || text.size() >= limit) return 0;
  while (text.size() < limit) {
    if (s.offset >= s.bytes.size() || s.bytes[s.offset] == '@' || s.bytes[s.offset] == '#') break;
    text.push_back('\n');
    const std::string_view more = takeRestOfLine();
    text.append(more.substr(0, limit - std::min(limit, text.size())));
  }
  return 0;
}

int skipEndMarkers(std::int32_t& position, std::string& token) {
  TraceScope t("hse140");
  TransferReaderState& s = state();
  for (;;) {
    if (nextValueLine() != 0) return -1;
    const std::size_t hash = s.offset - 1;
    std::size_t at = 0;
    const std::string_view value = nextToken(takeRestOfLine(), at);
    if (value == "EOE") continue;
    token.assign(value);
    s.offset = hash;
    position = s.fileSize - static_cast<std::int32_t>(hash);
    return 0;
  }
}

int skipToEndOfElement() {
  TraceScope t("hse145");
  std::string token;
  for (;;) {
    if (readToken(token) == 0) {
      if (token == "EOE") return 0;
    } else if (state().lastStop != TransferStop::kBadValue) {
      return -1;  // the element ended without its marker
    }
  }
}

int markPosition(std::int32_t& position) {
  TraceScope t("hse135");
  TransferReaderState& s = state();
  if (nextValueLine() != 0) return -1;
  s.offset -= 1;  // back to the '#'
  position = s.fileSize - static_cast<std::int32_t>(s.offset);
  return 0;
}

Point3 referencePoint() {
  TraceScope t("hse101");
  return state().reference;
}

std::int32_t layerNumberOf(double layerValue) { return state().layerValueList.lookup(layerValue); }

// An element goes to the list of its layer when it stands on its own: it has
// no father, or its first father is on another layer.
int buildLayerTable(int flag, std::vector<std::int32_t>& members, std::int32_t& count) {
  TraceScope t("hse900");
  if (flag != 0) return -99;
  members.clear();
  count = 0;
  const ElementTable& table = elementTable();
  const std::int32_t layers = state().layerValueList.capacity();
  struct Entry {
    std::int32_t layer;
    std::int32_t sequence;
  };
  std::vector<Entry> entries;
  const std::int32_t last = std::min(table.lastIndex, table.capacity - 1);
  for (std::int32_t i = 1; i <= last; ++i) {
    const ElementRecord& e = table.records[i];
    const std::int32_t level = e.de.level;
    if (level <= 0 || level > layers) continue;
    if (e.fathers != nullptr) {
      const std::int32_t father = e.fathers->index;
      if (father >= 1 && father <= last && table.records[father].de.level == level) continue;
    }
    entries.push_back(Entry{level, e.de.sequence});
  }
  if (entries.empty()) return -1;
  // Layer N first, down to layer 1; within a layer in the order of adding.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.layer > b.layer; });
  members.reserve(entries.size());
  for (const Entry& entry : entries) members.push_back(entry.sequence);
  count = static_cast<std::int32_t>(members.size());
  return 0;
}

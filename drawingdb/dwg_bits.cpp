#include "drawingdb/dwg_bits.h"

#include <cstring>

#include "drawingdb/code_page.h"

namespace drawingdb {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? (c >> 1) ^ 0xA001 : c >> 1;
    table[i] = static_cast<std::uint16_t>(c);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

// kCrcSlices[k][b]: the CRC of the byte b followed by k zero bytes, so
// that eight bytes are taken in one step.
constexpr std::array<std::array<std::uint16_t, 256>, 8> makeCrcSlices() {
  std::array<std::array<std::uint16_t, 256>, 8> slices{};
  slices[0] = kCrcTable;
  for (std::size_t k = 1; k < 8; ++k)
    for (unsigned i = 0; i < 256; ++i) {
      const unsigned before = slices[k - 1][i];
      slices[k][i] = static_cast<std::uint16_t>((before >> 8) ^ kCrcTable[before & 0xFF]);
    }
  return slices;
}
constexpr std::array<std::array<std::uint16_t, 256>, 8> kCrcSlices = makeCrcSlices();

// The longest modular values read: 9 bytes of MC/UMC (62 / 63 value bits),
// 4 words of MS (60 bits).  Sizes, handles and offsets stay far below.
constexpr int kMostModularBytes = 9;
constexpr int kMostModularWords = 4;
// A handle reference holds at most 8 value bytes.
constexpr unsigned kMostHandleBytes = 8;

using DoubleImage = std::array<std::uint8_t, 8>;

DoubleImage imageOf(double value) {
  DoubleImage image;
  std::memcpy(image.data(), &value, sizeof value);
  return image;
}

std::uint64_t bitsOf(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof value);
  return bits;
}

double doubleOfBits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Bit-exact: 0.0 and -0.0 differ, so what is written reads back unchanged.
bool sameDouble(double a, double b) { return imageOf(a) == imageOf(b); }

}  // namespace

std::uint16_t dwgCrc16(std::string_view bytes, std::uint16_t seed) {
  unsigned crc = seed;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  for (; n >= 8; n -= 8, p += 8) {
    // The register meets the first two bytes; each byte then contributes
    // its CRC shifted past the bytes after it.
    const unsigned b0 = p[0] ^ (crc & 0xFF), b1 = p[1] ^ (crc >> 8);
    crc = kCrcSlices[7][b0] ^ kCrcSlices[6][b1] ^ kCrcSlices[5][p[2]] ^ kCrcSlices[4][p[3]] ^ kCrcSlices[3][p[4]] ^
          kCrcSlices[2][p[5]] ^ kCrcSlices[1][p[6]] ^ kCrcSlices[0][p[7]];
  }
  for (; n > 0; --n, ++p) crc = (crc >> 8) ^ kCrcTable[(crc ^ *p) & 0xFF];
  return static_cast<std::uint16_t>(crc);
}

std::optional<Handle> resolveHandle(const DwgHandleRef& ref, Handle own) {
  switch (ref.code) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 5:
      return ref.value;
    case 6:
      if (ref.value != 0 || own == UINT64_MAX) return std::nullopt;
      return own + 1;
    case 8:
      if (ref.value != 0 || own == 0) return std::nullopt;
      return own - 1;
    case 0xA:
      if (ref.value > UINT64_MAX - own) return std::nullopt;
      return own + ref.value;
    case 0xC:
      if (ref.value > own) return std::nullopt;
      return own - ref.value;
    default:
      return std::nullopt;
  }
}

// ------------------------------------------------------------- reader

void DwgBitReader::fail(const char* what, std::size_t at) {
  if (failed_) return;
  failed_ = true;
  failure_ = std::string(what) + " at bit " + std::to_string(at);
}

Status DwgBitReader::status() const {
  return failed_ ? Status::fail(StatusCode::BadFile, failure_) : Status{};
}

std::uint64_t DwgBitReader::rawBitsNearEnd(unsigned count) {
  // As many bits at once as the current byte holds.
  std::uint64_t value = 0;
  while (count > 0) {
    const unsigned room = 8 - static_cast<unsigned>(bit_ & 7);
    const unsigned n = count < room ? count : room;
    const unsigned byte = static_cast<std::uint8_t>(bytes_[bit_ >> 3]);
    value = (value << n) | ((byte >> (room - n)) & ((1u << n) - 1));
    bit_ += n;
    count -= n;
  }
  return value;
}

std::uint64_t DwgBitReader::rawLittleEndian(unsigned count) {
  std::uint64_t value = 0;
  for (unsigned shift = 0; count > 0;) {
    const unsigned n = count < 4 ? count : 4;
    // The group's bytes come first one highest; turned round, the first is lowest.
    const auto group = static_cast<std::uint32_t>(rawBits(8 * n));
    value |= std::uint64_t{__builtin_bswap32(group) >> (8 * (4 - n))} << shift;
    shift += 8 * n;
    count -= n;
  }
  return value;
}

void DwgBitReader::seekBit(std::size_t bit) {
  if (failed_) return;
  if (bit > end_) {
    fail("seek past the end", bit);
    return;
  }
  bit_ = bit;
}

void DwgBitReader::alignToByte() {
  if (failed_ || (bit_ & 7) == 0) return;
  const std::size_t next = bit_ + 8 - (bit_ & 7);
  if (next > end_) {
    fail("byte boundary past the end", bit_);
    return;
  }
  bit_ = next;
}

std::uint8_t DwgBitReader::readBit() { return take(1, "bit past the end") ? static_cast<std::uint8_t>(rawBits(1)) : 0; }

std::uint8_t DwgBitReader::readBitPair() {
  return take(2, "bit pair past the end") ? static_cast<std::uint8_t>(rawBits(2)) : 0;
}

std::uint8_t DwgBitReader::readThreeBits() {
  std::uint8_t value = 0;
  for (int i = 0; i < 3; ++i) {
    if (!take(1, "three-bit value past the end")) return 0;
    const auto bit = static_cast<std::uint8_t>(rawBits(1));
    value = static_cast<std::uint8_t>((value << 1) | bit);
    if (bit == 0) break;
  }
  return value;
}

std::uint8_t DwgBitReader::readFourBits() {
  return take(4, "four bits past the end") ? static_cast<std::uint8_t>(rawBits(4)) : 0;
}

std::uint8_t DwgBitReader::readRawChar() { return take(8, "RC past the end") ? static_cast<std::uint8_t>(rawBits(8)) : 0; }

std::uint16_t DwgBitReader::readRawShort() {
  return take(16, "RS past the end") ? static_cast<std::uint16_t>(rawLittleEndian(2)) : 0;
}

std::uint32_t DwgBitReader::readRawLong() {
  return take(32, "RL past the end") ? static_cast<std::uint32_t>(rawLittleEndian(4)) : 0;
}

std::uint64_t DwgBitReader::readRawLongLong() {
  return take(64, "RLL past the end") ? rawLittleEndian(8) : 0;
}

double DwgBitReader::readRawDouble() {
  if (!take(64, "RD past the end")) return 0;
  return doubleOfBits(rawLittleEndian(8));
}

DwgPoint2 DwgBitReader::readRawPoint2() {
  DwgPoint2 p;
  p.x = readRawDouble();
  p.y = readRawDouble();
  return failed_ ? DwgPoint2{} : p;
}

DwgPoint3 DwgBitReader::readRawPoint3() {
  DwgPoint3 p;
  p.x = readRawDouble();
  p.y = readRawDouble();
  p.z = readRawDouble();
  return failed_ ? DwgPoint3{} : p;
}

std::string DwgBitReader::readRawBytes(std::size_t count) {
  if (count > bitsLeft() / 8) {
    fail("raw bytes past the end", bit_);
    return {};
  }
  if (!take(count * 8, "raw bytes past the end")) return {};
  std::string out(count, '\0');
  if ((bit_ & 7) == 0) {
    std::memcpy(out.data(), bytes_.data() + bit_ / 8, count);
    bit_ += count * 8;
  } else {
    for (auto& c : out) c = static_cast<char>(rawBits(8));
  }
  return out;
}

std::int16_t DwgBitReader::readBitShort() {
  switch (readBitPair()) {
    case 0:
      return static_cast<std::int16_t>(readRawShort());
    case 1:
      return readRawChar();
    case 2:
      return 0;
    default:
      return failed_ ? 0 : 256;
  }
}

std::int32_t DwgBitReader::readBitLong() {
  const std::size_t start = bit_;
  switch (readBitPair()) {
    case 0:
      return static_cast<std::int32_t>(readRawLong());
    case 1:
      return readRawChar();
    case 2:
      return 0;
    default:
      if (!failed_) fail("invalid BL code 3", start);
      return 0;
  }
}

std::uint64_t DwgBitReader::readBitLongLong() {
  if (!take(3, "BLL length past the end")) return 0;
  const auto length = static_cast<unsigned>(rawBits(3));
  if (!take(8 * length, "BLL past the end")) return 0;
  return rawLittleEndian(length);
}

double DwgBitReader::readBitDouble() {
  const std::size_t start = bit_;
  switch (readBitPair()) {
    case 0:
      return readRawDouble();
    case 1:
      return failed_ ? 0 : 1.0;
    case 2:
      return 0.0;
    default:
      if (!failed_) fail("invalid BD code 3", start);
      return 0;
  }
}

double DwgBitReader::readDoubleWithDefault(double fallback) {
  const std::uint8_t code = readBitPair();
  if (failed_) return 0;
  switch (code) {
    case 0:
      return fallback;
    case 1:
      if (!take(32, "DD past the end")) return 0;
      return doubleOfBits((bitsOf(fallback) & ~std::uint64_t{0xFFFFFFFF}) | rawLittleEndian(4));
    case 2: {
      if (!take(48, "DD past the end")) return 0;
      // Bytes 4 and 5 first, then 0 to 3.
      const std::uint64_t middle = rawLittleEndian(2);
      const std::uint64_t low = rawLittleEndian(4);
      return doubleOfBits((bitsOf(fallback) & ~std::uint64_t{0xFFFFFFFFFFFF}) | middle << 32 | low);
    }
    default:
      return readRawDouble();
  }
}

DwgPoint2 DwgBitReader::readPoint2WithDefault(const DwgPoint2& fallback) {
  DwgPoint2 p;
  p.x = readDoubleWithDefault(fallback.x);
  p.y = readDoubleWithDefault(fallback.y);
  return failed_ ? DwgPoint2{} : p;
}

DwgPoint2 DwgBitReader::readBitPoint2() {
  DwgPoint2 p;
  p.x = readBitDouble();
  p.y = readBitDouble();
  return failed_ ? DwgPoint2{} : p;
}

DwgPoint3 DwgBitReader::readBitPoint3() {
  DwgPoint3 p;
  p.x = readBitDouble();
  p.y = readBitDouble();
  p.z = readBitDouble();
  return failed_ ? DwgPoint3{} : p;
}

double DwgBitReader::readThickness(Release r) {
  if (r >= Release::R2000 && readBit() == 1) return 0.0;
  return readBitDouble();
}

DwgPoint3 DwgBitReader::readExtrusion(Release r) {
  if (r >= Release::R2000) {
    const std::uint8_t isNormal = readBit();
    if (failed_) return {};
    if (isNormal == 1) return kDwgNormalZ;
  }
  return readBitPoint3();
}

std::int64_t DwgBitReader::readModularChar() {
  const std::size_t start = bit_;
  std::uint64_t magnitude = 0;
  for (int i = 0; i < kMostModularBytes; ++i) {
    const std::uint8_t byte = readRawChar();
    if (failed_) return 0;
    if ((byte & 0x80) == 0) {
      magnitude |= static_cast<std::uint64_t>(byte & 0x3F) << (7 * i);
      const auto value = static_cast<std::int64_t>(magnitude);
      return (byte & 0x40) != 0 ? -value : value;
    }
    magnitude |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
  }
  fail("MC longer than 9 bytes", start);
  return 0;
}

std::uint64_t DwgBitReader::readUnsignedModularChar() {
  const std::size_t start = bit_;
  std::uint64_t value = 0;
  for (int i = 0; i < kMostModularBytes; ++i) {
    const std::uint8_t byte = readRawChar();
    if (failed_) return 0;
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) return value;
  }
  fail("UMC longer than 9 bytes", start);
  return 0;
}

std::uint64_t DwgBitReader::readModularShort() {
  const std::size_t start = bit_;
  std::uint64_t value = 0;
  for (int i = 0; i < kMostModularWords; ++i) {
    const std::uint16_t word = readRawShort();
    if (failed_) return 0;
    value |= static_cast<std::uint64_t>(word & 0x7FFF) << (15 * i);
    if ((word & 0x8000) == 0) return value;
  }
  fail("MS longer than 4 words", start);
  return 0;
}

DwgHandleRef DwgBitReader::readHandle() {
  const std::size_t start = bit_;
  const std::uint8_t head = readRawChar();
  if (failed_) return {};
  const unsigned count = head & 0x0F;
  if (count > kMostHandleBytes) {
    fail("handle with more than 8 bytes", start);
    return {};
  }
  if (!take(8 * count, "handle past the end")) return {};
  DwgHandleRef ref;
  ref.code = static_cast<std::uint8_t>(head >> 4);
  // The value's bytes come highest first.
  ref.value = count == 0 ? 0 : rawBits(8 * count);
  return ref;
}

std::string DwgBitReader::readText() {
  const auto length = static_cast<std::uint16_t>(readBitShort());
  if (failed_) return {};
  std::string text = readRawBytes(length);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::int16_t DwgBitReader::readColor() { return readBitShort(); }

DwgTime DwgBitReader::readTime() {
  DwgTime t;
  t.day = readBitLong();
  t.milliseconds = readBitLong();
  return failed_ ? DwgTime{} : t;
}

std::string DwgBitReader::readUnicodeUnits() {
  const auto count = static_cast<std::uint16_t>(readBitShort());
  if (failed_) return {};
  if (std::size_t{count} * 16 > bitsLeft()) {
    fail("text of UTF-16 units past the end", bit_);
    return {};
  }
  const std::string units = readRawBytes(std::size_t{count} * 2);
  std::string text = dwgUtf8OfUtf16(units);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::string DwgBitReader::readUnicodeText() {
  if (failed_) return {};
  if (strings_ == Strings::Empty) return {};
  if (strings_ == Strings::None) return readUnicodeUnits();
  std::swap(bit_, stringBit_);
  std::swap(end_, stringEnd_);
  std::string text = readUnicodeUnits();
  std::swap(bit_, stringBit_);
  std::swap(end_, stringEnd_);
  return text;
}

void DwgBitReader::locateStrings(std::size_t handleStart) {
  if (failed_) return;
  strings_ = Strings::Empty;
  if (handleStart > end_ || handleStart <= bit_) {
    fail("no room for the string stream flag", bit_);
    return;
  }
  const std::size_t data = bit_;
  const auto rawShortAt = [&](std::size_t at) {
    bit_ = at;
    return static_cast<std::uint32_t>(rawLittleEndian(2));
  };
  bit_ = handleStart - 1;
  const bool has = rawBits(1) != 0;
  bit_ = data;
  if (!has) {
    end_ = handleStart - 1;
    return;
  }
  if (handleStart - 1 - data < 16) {
    fail("string stream size before the data", data);
    return;
  }
  std::size_t sizeAt = handleStart - 1 - 16;
  std::uint64_t size = rawShortAt(sizeAt);
  if ((size & 0x8000) != 0) {
    if (sizeAt - data < 16) {
      bit_ = data;
      fail("string stream size before the data", data);
      return;
    }
    sizeAt -= 16;
    size = (size & 0x7FFF) | std::uint64_t{rawShortAt(sizeAt)} << 15;
  }
  bit_ = data;
  if (size > sizeAt - data) {
    fail("string stream larger than the data", data);
    return;
  }
  strings_ = Strings::Located;
  stringBit_ = sizeAt - static_cast<std::size_t>(size);
  stringEnd_ = sizeAt;
  end_ = stringBit_;
}

std::int16_t DwgBitReader::readObjectType(Release r) {
  if (r < Release::R2010) return readBitShort();
  switch (readBitPair()) {
    case 0: return readRawChar();
    case 1: return static_cast<std::int16_t>(readRawChar() + 0x1F0);
    default: return static_cast<std::int16_t>(readRawShort());
  }
}

bool DwgBitReader::readSentinel(const DwgSentinel& expected) {
  const std::string bytes = readRawBytes(expected.size());
  return !failed_ && std::memcmp(bytes.data(), expected.data(), expected.size()) == 0;
}

// ------------------------------------------------------------- writer

void DwgBitWriter::fail(const char* what) {
  if (failed_) return;
  failed_ = true;
  failure_ = std::string(what) + " at bit " + std::to_string(bits_);
}

void DwgBitWriter::put(std::uint64_t value, unsigned count) {
  if (count > 32) {
    put(value >> 32, count - 32);  // the high bits first
    count = 32;
  }
  if (count == 0) return;
  // The bits after those already in the last byte: at most 7 + 32 of them,
  // over at most five bytes from `first` on.
  const auto used = static_cast<unsigned>(bits_ & 7);
  const std::size_t first = bits_ >> 3;
  const unsigned total = used + count;
  const unsigned span = (total + 7) / 8;
  while (bytes_.size() < first + span) bytes_.push_back('\0');
  const std::uint64_t window = (value & ((std::uint64_t{1} << count) - 1)) << (8 * span - total);
  char* out = bytes_.data() + first;
  for (unsigned i = 0; i < span; ++i)
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) | ((window >> (8 * (span - 1 - i))) & 0xFF));
  bits_ += count;
}

void DwgBitWriter::alignToByte() {
  if ((bits_ & 7) != 0) bits_ += 8 - (bits_ & 7);
}

void DwgBitWriter::writeBit(bool value) { put(value ? 1 : 0, 1); }
void DwgBitWriter::writeBitPair(std::uint8_t value) { put(value & 3, 2); }
void DwgBitWriter::writeFourBits(std::uint8_t value) { put(value & 15, 4); }

void DwgBitWriter::writeThreeBits(std::uint8_t value) {
  switch (value) {
    case 0:
      put(0, 1);
      return;
    case 2:
      put(2, 2);
      return;
    case 6:
      put(6, 3);
      return;
    case 7:
      put(7, 3);
      return;
    default:
      fail("three-bit value other than 0, 2, 6, 7");
  }
}

void DwgBitWriter::writeRawChar(std::uint8_t value) { put(value, 8); }
// Raw values go lowest byte first: turned round, the first byte is the highest.
void DwgBitWriter::writeRawShort(std::uint16_t value) { put(__builtin_bswap16(value), 16); }
void DwgBitWriter::writeRawLong(std::uint32_t value) { put(__builtin_bswap32(value), 32); }
void DwgBitWriter::writeRawLongLong(std::uint64_t value) { put(__builtin_bswap64(value), 64); }
void DwgBitWriter::writeRawDouble(double value) { writeRawLongLong(bitsOf(value)); }
void DwgBitWriter::writeRawPoint2(const DwgPoint2& value) {
  writeRawDouble(value.x);
  writeRawDouble(value.y);
}
void DwgBitWriter::writeRawPoint3(const DwgPoint3& value) {
  writeRawDouble(value.x);
  writeRawDouble(value.y);
  writeRawDouble(value.z);
}
void DwgBitWriter::writeRawBytes(std::string_view bytes) {
  if ((bits_ & 7) == 0) {
    bytes_.append(bytes);
    bits_ += bytes.size() * 8;
    return;
  }
  for (char c : bytes) put(static_cast<std::uint8_t>(c), 8);
}

void DwgBitWriter::writeBitShort(std::int16_t value) {
  if (value == 0) {
    put(2, 2);
  } else if (value == 256) {
    put(3, 2);
  } else if (value > 0 && value < 256) {
    put(1, 2);
    writeRawChar(static_cast<std::uint8_t>(value));
  } else {
    put(0, 2);
    writeRawShort(static_cast<std::uint16_t>(value));
  }
}

void DwgBitWriter::writeBitLong(std::int32_t value) {
  if (value == 0) {
    put(2, 2);
  } else if (value > 0 && value < 256) {
    put(1, 2);
    writeRawChar(static_cast<std::uint8_t>(value));
  } else {
    put(0, 2);
    writeRawLong(static_cast<std::uint32_t>(value));
  }
}

void DwgBitWriter::writeBitLongLong(std::uint64_t value) {
  unsigned length = 0;
  while (length < 8 && (value >> (8 * length)) != 0) ++length;
  if (length > 7) {
    fail("BLL value of more than 7 bytes");
    return;
  }
  put(length, 3);
  // Lowest byte first: the value's bytes turned round, the unused ones off.
  if (length > 0) put(__builtin_bswap64(value) >> (8 * (8 - length)), 8 * length);
}

void DwgBitWriter::writeBitDouble(double value) {
  if (sameDouble(value, 0.0)) {
    put(2, 2);
  } else if (sameDouble(value, 1.0)) {
    put(1, 2);
  } else {
    put(0, 2);
    writeRawDouble(value);
  }
}

void DwgBitWriter::writeDoubleWithDefault(double value, double fallback) {
  const DoubleImage v = imageOf(value);
  const DoubleImage d = imageOf(fallback);
  if (v == d) {
    put(0, 2);
  } else if (std::memcmp(v.data() + 4, d.data() + 4, 4) == 0) {
    put(1, 2);
    writeRawLong(static_cast<std::uint32_t>(bitsOf(value)));
  } else if (std::memcmp(v.data() + 6, d.data() + 6, 2) == 0) {
    // Bytes 4 and 5 first, then 0 to 3.
    put(2, 2);
    writeRawShort(static_cast<std::uint16_t>(bitsOf(value) >> 32));
    writeRawLong(static_cast<std::uint32_t>(bitsOf(value)));
  } else {
    put(3, 2);
    writeRawDouble(value);
  }
}

void DwgBitWriter::writePoint2WithDefault(const DwgPoint2& value, const DwgPoint2& fallback) {
  writeDoubleWithDefault(value.x, fallback.x);
  writeDoubleWithDefault(value.y, fallback.y);
}

void DwgBitWriter::writeBitPoint2(const DwgPoint2& value) {
  writeBitDouble(value.x);
  writeBitDouble(value.y);
}

void DwgBitWriter::writeBitPoint3(const DwgPoint3& value) {
  writeBitDouble(value.x);
  writeBitDouble(value.y);
  writeBitDouble(value.z);
}

void DwgBitWriter::writeThickness(double value, Release r) {
  if (r >= Release::R2000) {
    const bool zero = sameDouble(value, 0.0);
    writeBit(zero);
    if (zero) return;
  }
  writeBitDouble(value);
}

void DwgBitWriter::writeExtrusion(const DwgPoint3& value, Release r) {
  if (r >= Release::R2000) {
    const bool normal = sameDouble(value.x, 0.0) && sameDouble(value.y, 0.0) && sameDouble(value.z, 1.0);
    writeBit(normal);
    if (normal) return;
  }
  writeBitPoint3(value);
}

void DwgBitWriter::writeModularChar(std::int64_t value) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 62;
  if (value <= -kLimit || value >= kLimit) {
    fail("MC value beyond 62 bits");
    return;
  }
  const bool negative = value < 0;
  auto magnitude = static_cast<std::uint64_t>(negative ? -value : value);
  // 7-bit groups while more than the 6 bits of the last byte remain.
  while (magnitude > 0x3F) {
    writeRawChar(static_cast<std::uint8_t>(0x80 | (magnitude & 0x7F)));
    magnitude >>= 7;
  }
  writeRawChar(static_cast<std::uint8_t>(magnitude | (negative ? 0x40 : 0)));
}

void DwgBitWriter::writeUnsignedModularChar(std::uint64_t value) {
  if (value >> 63 != 0) {
    fail("UMC value beyond 63 bits");
    return;
  }
  while (value > 0x7F) {
    writeRawChar(static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    value >>= 7;
  }
  writeRawChar(static_cast<std::uint8_t>(value));
}

void DwgBitWriter::writeModularShort(std::uint64_t value) {
  if (value >> 60 != 0) {
    fail("MS value beyond 60 bits");
    return;
  }
  while (value > 0x7FFF) {
    writeRawShort(static_cast<std::uint16_t>(0x8000 | (value & 0x7FFF)));
    value >>= 15;
  }
  writeRawShort(static_cast<std::uint16_t>(value));
}

void DwgBitWriter::writeHandle(const DwgHandleRef& ref) {
  if (ref.code > 15) {
    fail("handle code above 15");
    return;
  }
  unsigned count = 0;
  while (count < kMostHandleBytes && (ref.value >> (8 * count)) != 0) ++count;
  writeRawChar(static_cast<std::uint8_t>(ref.code << 4 | count));
  put(ref.value, 8 * count);  // highest byte first
}

void DwgBitWriter::writeText(std::string_view text) {
  if (text.size() > UINT16_MAX) {
    fail("text longer than 65535 bytes");
    return;
  }
  writeBitShort(static_cast<std::int16_t>(static_cast<std::uint16_t>(text.size())));
  writeRawBytes(text);
}

void DwgBitWriter::writeColor(std::int16_t index) { writeBitShort(index); }

void DwgBitWriter::writeTime(const DwgTime& time) {
  writeBitLong(time.day);
  writeBitLong(time.milliseconds);
}

void DwgBitWriter::writeObjectType(std::int16_t type) { writeBitShort(type); }

void DwgBitWriter::writeSentinel(const DwgSentinel& sentinel) {
  writeRawBytes(std::string_view(reinterpret_cast<const char*>(sentinel.data()), sentinel.size()));
}

void DwgBitWriter::overwriteRawLong(std::size_t bit, std::uint32_t value) {
  if (bit > bits_ || bits_ - bit < 32) {
    fail("RL to overwrite is not there");
    return;
  }
  // The value's bytes lowest first, over the four or five bytes from the one
  // that holds `bit`.
  const auto skip = static_cast<unsigned>(bit & 7);
  const unsigned span = (skip + 32 + 7) / 8;
  const unsigned shift = 8 * span - skip - 32;
  const std::uint64_t window = std::uint64_t{__builtin_bswap32(value)} << shift;
  const std::uint64_t mask = std::uint64_t{0xFFFFFFFF} << shift;
  char* out = bytes_.data() + (bit >> 3);
  for (unsigned i = 0; i < span; ++i) {
    const unsigned down = 8 * (span - 1 - i);
    const auto keep = static_cast<unsigned char>(~(mask >> down));
    out[i] = static_cast<char>((static_cast<unsigned char>(out[i]) & keep) | ((window >> down) & 0xFF));
  }
}

std::string dwgUtf8OfUtf16(std::string_view units) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(units.size() / 2);
  std::uint32_t high = 0;  // a high surrogate waiting for its low half
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const std::uint32_t unit = static_cast<std::uint8_t>(units[i]) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(units[i + 1])) << 8;
    const bool isHigh = unit >= 0xD800 && unit < 0xDC00;
    const bool isLow = unit >= 0xDC00 && unit < 0xE000;
    if (high != 0 && isLow) {
      appendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), out);
      high = 0;
      continue;
    }
    if (high != 0) appendUtf8(kReplacement, out);
    high = isHigh ? unit : 0;
    if (isLow) appendUtf8(kReplacement, out);
    else if (!isHigh) appendUtf8(unit, out);
  }
  if (high != 0) appendUtf8(kReplacement, out);
  return out;
}

std::string hexOf(std::uint64_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + out;
}

}  // namespace drawingdb

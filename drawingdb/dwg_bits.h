// The bit stream of DWG files of R13 to 2000: a reader and a writer of
// every value type those releases store, and their 16-bit CRC.
//
// Inside the bit-coded areas (header variables, classes, objects, second
// header) a file is one continuous stream of bits, the most significant bit
// of each byte first.  A raw value that starts in the middle of a byte takes
// the next 8 bits of the stream per byte; raw multi-byte values are little
// endian.  The compressed types spend a two-bit code on the common values:
//
//   B   1 bit               BB  2 bits, first bit high     3B  up to 3 bits
//   BS  BB + nothing/RC/RS  BL  BB + nothing/RC/RL         BD  BB + nothing/RD
//   DD  BB + 0/4/6/8 bytes that replace bytes of a default
//   BT  thickness: 2000 one bit for 0.0, else BD; R13/R14 a plain BD
//   BE  extrusion: 2000 one bit for (0,0,1), else 3BD; R13/R14 a plain 3BD
//   MC  modular char: 7-bit groups, low first, 0x80 = more; sign 0x40 in
//       the last byte;  UMC the same without sign;  MS 15-bit words
//   H   handle reference: RC (code << 4 | n), then n bytes, high first
//   T/TV  BS length, then the bytes (no terminating NUL)
//   CMC colour: a BS colour index in these releases
//   OT  object type: a BS up to 2007; from 2010 on a BB selector, then an RC
//       (0), an RC + 0x1F0 (1) or an RS (2, 3)
//
// From 2007 on the texts of an object (and of the header variables and the
// classes) lie in a string stream of their own between the data and the
// handles, each a BS count of UTF-16 code units and the units as RS.  The
// stream is located from its end: the bit before the handle stream says
// whether there is one; if so the RS before that bit is its size in bits,
// and when that size has bit 15 set the RS before it holds the bits from
// 15 on.  locateStrings() finds it and bounds the data before it.
//
// Both sides keep a sticky failure: a read past the end or of an invalid
// code fails the reader, which from then on returns zeros and stays where
// it failed; a value the format cannot hold fails the writer.  A writer
// always takes the shortest form a native file uses, so reading back what
// it wrote gives the same values and writing them again the same bits.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

// The 16-bit CRC of these releases (reflected polynomial 0xA001, no final
// XOR); every checksum of an R13-2000 file starts from kDwgCrcSeed.
inline constexpr std::uint16_t kDwgCrcSeed = 0xC0C1;
std::uint16_t dwgCrc16(std::string_view bytes, std::uint16_t seed = kDwgCrcSeed);

// A 16-byte marker written verbatim around a block of the file.
using DwgSentinel = std::array<std::uint8_t, 16>;

struct DwgPoint2 {
  double x = 0, y = 0;
  bool operator==(const DwgPoint2&) const = default;
};
struct DwgPoint3 {
  double x = 0, y = 0, z = 0;
  bool operator==(const DwgPoint3&) const = default;
};
inline constexpr DwgPoint3 kDwgNormalZ{0, 0, 1};

// A day (Julian day number) and the milliseconds since its midnight.
struct DwgTime {
  std::int32_t day = 0;
  std::int32_t milliseconds = 0;
  bool operator==(const DwgTime&) const = default;
};

// A handle reference as stored: the code says what kind of link it is or
// how the target is computed from the handle of the object holding it.
struct DwgHandleRef {
  std::uint8_t code = 0;    // 0..15
  std::uint64_t value = 0;  // the handle, or the offset of codes 0xA / 0xC
  bool operator==(const DwgHandleRef&) const = default;
};

// The handle a reference points to, seen from the object `own`: codes 0 and
// 2-5 hold it, 6/8 are own + 1 / own - 1, 0xA/0xC own + / - the offset.  0 is
// the null reference; nullopt an invalid code, a counter where none belongs
// or a result outside the handle range.
std::optional<Handle> resolveHandle(const DwgHandleRef& ref, Handle own);

class DwgBitReader {
 public:
  explicit DwgBitReader(std::string_view bytes) : bytes_(bytes), end_(bytes.size() * 8) {}
  // Reads no further than `bitLimit` bits (an object's data stream ends
  // where its handle stream begins).
  DwgBitReader(std::string_view bytes, std::size_t bitLimit)
      : bytes_(bytes), end_(bitLimit < bytes.size() * 8 ? bitLimit : bytes.size() * 8) {}

  bool failed() const { return failed_; }
  // Where the reader stands; after a failure, where the failing read began.
  std::size_t bitPosition() const { return bit_; }
  std::size_t bitsLeft() const { return end_ - bit_; }
  // Moves to an absolute bit position; beyond the end fails.
  void seekBit(std::size_t bit);
  // Skips to the next byte boundary (nothing when on one); fails when the
  // boundary lies beyond the end.
  void alignToByte();

  std::uint8_t readBit();            // B
  std::uint8_t readBitPair();        // BB
  std::uint8_t readThreeBits();      // 3B: 0, 2, 6 or 7
  std::uint8_t readFourBits();       // 4 plain bits, the first is the value 8
  std::int16_t readBitShort();       // BS
  std::int32_t readBitLong();        // BL
  std::uint64_t readBitLongLong();   // BLL: 3-bit length, then that many bytes
  double readBitDouble();            // BD
  double readDoubleWithDefault(double fallback);  // DD
  DwgPoint2 readPoint2WithDefault(const DwgPoint2& fallback);  // 2DD
  DwgPoint2 readBitPoint2();         // 2BD
  DwgPoint3 readBitPoint3();         // 3BD
  double readThickness(Release r);   // BT
  DwgPoint3 readExtrusion(Release r);  // BE

  std::uint8_t readRawChar();        // RC
  std::uint16_t readRawShort();      // RS
  std::uint32_t readRawLong();       // RL
  std::uint64_t readRawLongLong();   // RLL
  double readRawDouble();            // RD
  DwgPoint2 readRawPoint2();         // 2RD
  DwgPoint3 readRawPoint3();         // 3RD
  // `count` raw bytes (TF); fails without allocating when fewer are left.
  std::string readRawBytes(std::size_t count);

  std::int64_t readModularChar();    // MC
  std::uint64_t readUnsignedModularChar();  // UMC
  std::uint64_t readModularShort();  // MS
  DwgHandleRef readHandle();         // H
  // T / TV; one trailing NUL (written by some applications) is dropped.
  std::string readText();
  // T of 2007 and later: BS count of UTF-16LE code units, then the units;
  // as UTF-8, an unpaired surrogate as U+FFFD, one trailing NUL dropped.
  // Read from the string stream when one is located, else in place.
  std::string readUnicodeText();
  // Locates the string stream of 2007+ data whose handle stream begins at
  // bit `handleStart` (the data reaching back to the reader's position):
  // from then on readUnicodeText() reads from it, and the data ends where
  // it begins.  Without strings (flag 0) every text reads as empty.  A
  // size that reaches before the reader's position fails the reader.
  void locateStrings(std::size_t handleStart);
  // Whether the texts are those of 2007+ (locateStrings() was called).
  bool unicodeTexts() const { return strings_ != Strings::None; }
  // Bits left in the located string stream (0 when there is none): with
  // bitsLeft() the room of counts whose elements hold texts.
  std::size_t stringBitsLeft() const { return strings_ == Strings::Located ? stringEnd_ - stringBit_ : 0; }
  std::int16_t readColor();          // CMC
  DwgTime readTime();                // TIMEBLL: BL day, BL milliseconds
  std::int16_t readObjectType() { return readBitShort(); }  // OT up to 2007
  std::int16_t readObjectType(Release r);                   // OT of release r
  // Reads 16 bytes and tells whether they are the sentinel.
  bool readSentinel(const DwgSentinel& expected);

  // What failed, with the bit position; empty while nothing has.
  const std::string& failure() const { return failure_; }
  Status status() const;

 private:
  bool take(std::size_t bits, const char* what) {
    if (failed_) return false;
    if (bits <= bitsLeft()) return true;
    fail(what, bit_);
    return false;
  }
  // After take().  Most reads lie eight bytes or more before the end of
  // the bytes: they take the bits from one 64-bit window.
  std::uint64_t rawBits(unsigned count) {
    const std::size_t at = bit_ >> 3;
    const auto skip = static_cast<unsigned>(bit_ & 7);
    if (count == 0 || count + skip > 64 || bytes_.size() - at < 8) return rawBitsNearEnd(count);
    // The eight bytes from the current one, the first one highest.
    std::uint64_t window;
    std::memcpy(&window, bytes_.data() + at, sizeof window);
    if constexpr (std::endian::native == std::endian::little) window = __builtin_bswap64(window);
    bit_ += count;
    return (window << skip) >> (64 - count);
  }
  std::uint64_t rawBitsNearEnd(unsigned count);
  // `count` bytes (at most 8), the first the lowest: a little-endian raw
  // value.  After take().
  std::uint64_t rawLittleEndian(unsigned count);
  void fail(const char* what, std::size_t at);
  std::string readUnicodeUnits();

  enum class Strings : std::uint8_t { None, Empty, Located };

  std::string_view bytes_;
  std::size_t end_;
  std::size_t bit_ = 0;
  Strings strings_ = Strings::None;
  std::size_t stringBit_ = 0;  // the string stream's cursor and end
  std::size_t stringEnd_ = 0;
  bool failed_ = false;
  std::string failure_;
};

class DwgBitWriter {
 public:
  bool failed() const { return failed_; }
  const std::string& failure() const { return failure_; }
  std::size_t bitPosition() const { return bits_; }
  // The bytes written so far, the last one padded with 0 bits.
  const std::string& bytes() const { return bytes_; }
  void alignToByte();

  void writeBit(bool value);
  void writeBitPair(std::uint8_t value);
  void writeThreeBits(std::uint8_t value);   // 0, 2, 6 or 7
  void writeFourBits(std::uint8_t value);
  void writeBitShort(std::int16_t value);
  void writeBitLong(std::int32_t value);
  void writeBitLongLong(std::uint64_t value);
  void writeBitDouble(double value);
  void writeDoubleWithDefault(double value, double fallback);
  void writePoint2WithDefault(const DwgPoint2& value, const DwgPoint2& fallback);
  void writeBitPoint2(const DwgPoint2& value);
  void writeBitPoint3(const DwgPoint3& value);
  void writeThickness(double value, Release r);
  void writeExtrusion(const DwgPoint3& value, Release r);

  void writeRawChar(std::uint8_t value);
  void writeRawShort(std::uint16_t value);
  void writeRawLong(std::uint32_t value);
  void writeRawLongLong(std::uint64_t value);
  void writeRawDouble(double value);
  void writeRawPoint2(const DwgPoint2& value);
  void writeRawPoint3(const DwgPoint3& value);
  void writeRawBytes(std::string_view bytes);

  void writeModularChar(std::int64_t value);          // |value| < 2^62
  void writeUnsignedModularChar(std::uint64_t value);  // value < 2^63
  void writeModularShort(std::uint64_t value);        // value < 2^60
  void writeHandle(const DwgHandleRef& ref);
  void writeText(std::string_view text);               // at most 65535 bytes
  void writeColor(std::int16_t index);
  void writeTime(const DwgTime& time);
  void writeObjectType(std::int16_t type);
  void writeSentinel(const DwgSentinel& sentinel);

  // Replaces the 32 bits of an RL written earlier at `bit` (a size that is
  // known only when what follows it is written).
  void overwriteRawLong(std::size_t bit, std::uint32_t value);

 private:
  void put(std::uint64_t value, unsigned count);
  void fail(const char* what);

  std::string bytes_;
  std::size_t bits_ = 0;
  bool failed_ = false;
  std::string failure_;
};

// UTF-16LE code units (an odd last byte ignored) as UTF-8; NUL units are
// kept, an unpaired surrogate becomes U+FFFD.
std::string dwgUtf8OfUtf16(std::string_view units);

// "0x" and the hexadecimal digits of a handle, address or size, for
// messages about a file.
std::string hexOf(std::uint64_t value);

}  // namespace drawingdb

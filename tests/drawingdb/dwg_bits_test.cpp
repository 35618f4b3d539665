// The DWG bit stream: each value type against the bits a file holds, round
// trips at every bit offset, reads past the end and invalid codes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "drawingdb/dwg_bits.h"

using namespace drawingdb;

namespace {

// "01 1010" -> the bytes with those bits, MSB first, padded with zeros.
std::string bytesOfBits(std::string_view bits) {
  DwgBitWriter w;
  for (char c : bits)
    if (c == '0' || c == '1') w.writeBit(c == '1');
  return w.bytes();
}

std::size_t bitCount(std::string_view bits) {
  std::size_t n = 0;
  for (char c : bits) n += c == '0' || c == '1' ? 1 : 0;
  return n;
}

std::string bitsOf(const DwgBitWriter& w) {
  std::string out;
  for (std::size_t i = 0; i < w.bitPosition(); ++i)
    out.push_back((static_cast<std::uint8_t>(w.bytes()[i / 8]) >> (7 - i % 8)) & 1 ? '1' : '0');
  return out;
}

std::string compact(std::string_view bits) {
  std::string out;
  for (char c : bits)
    if (c == '0' || c == '1') out.push_back(c);
  return out;
}

// One value, the bits a file stores for it, how to write it and how to read
// it back (the reader answers whether it got the value).
struct Encoding {
  const char* name;
  const char* bits;
  std::function<void(DwgBitWriter&)> write;
  std::function<bool(DwgBitReader&)> readsBack;
};

template <class T>
Encoding encoding(const char* name, const char* bits, void (DwgBitWriter::*write)(T), T (DwgBitReader::*read)(),
                  T value) {
  return {name, bits, [=](DwgBitWriter& w) { (w.*write)(value); },
          [=](DwgBitReader& r) { return (r.*read)() == value; }};
}

const std::vector<Encoding>& encodings() {
  using W = DwgBitWriter;
  using R = DwgBitReader;
  static const std::vector<Encoding> table = {
      encoding<std::int16_t>("BS 0", "10", &W::writeBitShort, &R::readBitShort, 0),
      encoding<std::int16_t>("BS 256", "11", &W::writeBitShort, &R::readBitShort, 256),
      encoding<std::int16_t>("BS 7", "01 00000111", &W::writeBitShort, &R::readBitShort, 7),
      encoding<std::int16_t>("BS 1000", "00 11101000 00000011", &W::writeBitShort, &R::readBitShort, 1000),
      encoding<std::int16_t>("BS -1", "00 11111111 11111111", &W::writeBitShort, &R::readBitShort, -1),
      encoding<std::int32_t>("BL 0", "10", &W::writeBitLong, &R::readBitLong, 0),
      encoding<std::int32_t>("BL 200", "01 11001000", &W::writeBitLong, &R::readBitLong, 200),
      encoding<std::int32_t>("BL 70000", "00 01110000 00010001 00000001 00000000", &W::writeBitLong,
                             &R::readBitLong, 70000),
      encoding<std::uint64_t>("BLL 0", "000", &W::writeBitLongLong, &R::readBitLongLong, 0),
      encoding<std::uint64_t>("BLL 0x1234", "010 00110100 00010010", &W::writeBitLongLong, &R::readBitLongLong,
                              0x1234),
      encoding<double>("BD 1.0", "01", &W::writeBitDouble, &R::readBitDouble, 1.0),
      encoding<double>("BD 0.0", "10", &W::writeBitDouble, &R::readBitDouble, 0.0),
      encoding<double>("BD 0.5", "00 00000000 00000000 00000000 00000000 00000000 00000000 11100000 00111111",
                       &W::writeBitDouble, &R::readBitDouble, 0.5),
      encoding<std::uint8_t>("3B 0", "0", &W::writeThreeBits, &R::readThreeBits, 0),
      encoding<std::uint8_t>("3B 2", "10", &W::writeThreeBits, &R::readThreeBits, 2),
      encoding<std::uint8_t>("3B 6", "110", &W::writeThreeBits, &R::readThreeBits, 6),
      encoding<std::uint8_t>("3B 7", "111", &W::writeThreeBits, &R::readThreeBits, 7),
      encoding<std::uint8_t>("4BITS 9", "1001", &W::writeFourBits, &R::readFourBits, 9),
      encoding<std::int64_t>("MC 300", "10101100 00000010", &W::writeModularChar, &R::readModularChar, 300),
      encoding<std::int64_t>("MC -300", "10101100 01000010", &W::writeModularChar, &R::readModularChar, -300),
      encoding<std::int64_t>("MC 64", "11000000 00000000", &W::writeModularChar, &R::readModularChar, 64),
      encoding<std::int64_t>("MC -5", "01000101", &W::writeModularChar, &R::readModularChar, -5),
      encoding<std::uint64_t>("UMC 200", "11001000 00000001", &W::writeUnsignedModularChar,
                              &R::readUnsignedModularChar, 200),
      encoding<std::uint64_t>("MS 40000", "01000000 10011100 00000001 00000000", &W::writeModularShort,
                              &R::readModularShort, 40000),
      encoding<std::uint64_t>("MS 0x7FFF", "11111111 01111111", &W::writeModularShort, &R::readModularShort,
                              0x7FFF),
      encoding<std::uint16_t>("RS 0x1234", "00110100 00010010", &W::writeRawShort, &R::readRawShort, 0x1234),
      encoding<std::uint32_t>("RL 0x01020304", "00000100 00000011 00000010 00000001", &W::writeRawLong,
                              &R::readRawLong, 0x01020304),
      encoding<std::int16_t>("CMC 256", "11", &W::writeColor, &R::readColor, 256),
      encoding<std::int16_t>("OT 19", "01 00010011", &W::writeObjectType, &R::readObjectType, 19),
      {"H 5 0x1F", "01010001 00011111", [](W& w) { w.writeHandle({5, 0x1F}); },
       [](R& r) { return r.readHandle() == DwgHandleRef{5, 0x1F}; }},
      {"H 5 0x2D1", "01010010 00000010 11010001", [](W& w) { w.writeHandle({5, 0x2D1}); },
       [](R& r) { return r.readHandle() == DwgHandleRef{5, 0x2D1}; }},
      {"H null soft pointer", "01000000", [](W& w) { w.writeHandle({4, 0}); },
       [](R& r) { return r.readHandle() == DwgHandleRef{4, 0}; }},
      {"TV AB", "01 00000010 01000001 01000010", [](W& w) { w.writeText("AB"); },
       [](R& r) { return r.readText() == "AB"; }},
      {"TV empty", "10", [](W& w) { w.writeText(""); }, [](R& r) { return r.readText().empty(); }},
      {"DD equal to the default", "00", [](W& w) { w.writeDoubleWithDefault(1.5, 1.5); },
       [](R& r) { return r.readDoubleWithDefault(1.5) == 1.5; }},
      // 1.5 = 00 00 00 00 00 00 F8 3F; 1.5 + 2^-40 differs in bytes 0-3 only.
      {"DD low four bytes", "01 00000000 00010000 00000000 00000000",
       [](W& w) { w.writeDoubleWithDefault(1.5 + std::ldexp(1.0, -40), 1.5); },
       [](R& r) { return r.readDoubleWithDefault(1.5) == 1.5 + std::ldexp(1.0, -40); }},
      // 1.75 = 00 00 00 00 00 00 FC 3F: bytes 6-7 differ, full RD.
      {"DD full", "11 00000000 00000000 00000000 00000000 00000000 00000000 11111100 00111111",
       [](W& w) { w.writeDoubleWithDefault(1.75, 1.5); },
       [](R& r) { return r.readDoubleWithDefault(1.5) == 1.75; }},
      // 1.5 + 2^-20 = 00 00 00 00 10 00 F8 3F: bytes 4-5 then 0-3.
      {"DD six bytes", "10 00000001 00000000 00000000 00000000 00000000 00000000",
       [](W& w) { w.writeDoubleWithDefault(1.5 + std::ldexp(1.0, -20), 1.5); },
       [](R& r) { return r.readDoubleWithDefault(1.5) == 1.5 + std::ldexp(1.0, -20); }},
      {"BT 0 in 2000", "1", [](W& w) { w.writeThickness(0.0, Release::R2000); },
       [](R& r) { return r.readThickness(Release::R2000) == 0.0; }},
      {"BT 1 in 2000", "0 01", [](W& w) { w.writeThickness(1.0, Release::R2000); },
       [](R& r) { return r.readThickness(Release::R2000) == 1.0; }},
      {"BT 0 in R14", "10", [](W& w) { w.writeThickness(0.0, Release::R14); },
       [](R& r) { return r.readThickness(Release::R14) == 0.0; }},
      {"BE normal in 2000", "1", [](W& w) { w.writeExtrusion(kDwgNormalZ, Release::R2000); },
       [](R& r) { return r.readExtrusion(Release::R2000) == kDwgNormalZ; }},
      {"BE normal in R13", "10 10 01", [](W& w) { w.writeExtrusion(kDwgNormalZ, Release::R13); },
       [](R& r) { return r.readExtrusion(Release::R13) == kDwgNormalZ; }},
      {"BE other in 2000", "0 01 10 10", [](W& w) { w.writeExtrusion({1, 0, 0}, Release::R2000); },
       [](R& r) { return r.readExtrusion(Release::R2000) == DwgPoint3{1, 0, 0}; }},
      {"TIMEBLL", "01 00000001 10", [](W& w) { w.writeTime({1, 0}); },
       [](R& r) { return r.readTime() == DwgTime{1, 0}; }},
  };
  return table;
}

// The bits a file holds for each value, written and read back at each
// offset within a byte, the value ending the data or with more bytes after
// it (the reader takes them several at a time there), the writer starting
// in the middle of a byte.
TEST(DwgBits, EachTypeWritesTheBitsOfAFileAtEveryOffsetAndReadsThemBack) {
  for (const Encoding& e : encodings()) {
    for (unsigned offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(std::string(e.name) + " at offset " + std::to_string(offset));
      const std::string lead(offset, '1');
      DwgBitWriter w;
      for (unsigned i = 0; i < offset; ++i) w.writeBit(true);
      e.write(w);
      ASSERT_FALSE(w.failed()) << w.failure();
      EXPECT_EQ(bitsOf(w), lead + compact(e.bits));

      for (const std::size_t after : {0, 80}) {
        const std::string bits = lead + e.bits + std::string(after, '1');
        const std::string bytes = bytesOfBits(bits);
        DwgBitReader r(bytes, bitCount(bits));
        for (unsigned i = 0; i < offset; ++i) r.readBit();
        EXPECT_TRUE(e.readsBack(r)) << after;
        EXPECT_FALSE(r.failed()) << r.failure();
        EXPECT_EQ(r.bitPosition(), offset + bitCount(e.bits));
      }
    }
  }
}

TEST(DwgBits, AValueCutByTheEndFailsTheReaderForGood) {
  for (const Encoding& e : encodings()) {
    SCOPED_TRACE(e.name);
    const std::string bytes = bytesOfBits(e.bits);
    DwgBitReader r(bytes, bitCount(e.bits) - 1);
    e.readsBack(r);
    ASSERT_TRUE(r.failed());
    EXPECT_FALSE(r.status().ok());
    EXPECT_NE(r.failure().find("at bit"), std::string::npos);
    // Sticky: nothing more is read, even what would fit.
    r.seekBit(0);
    EXPECT_EQ(r.readBit(), 0);
    EXPECT_EQ(r.readRawChar(), 0);
    EXPECT_TRUE(r.failed());
  }
}

TEST(DwgBits, EveryTypeRoundTripsAtEveryBitOffset) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  for (unsigned offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    DwgBitWriter w;
    for (unsigned i = 0; i < offset; ++i) w.writeBit(true);
    w.writeBitShort(-32768);
    w.writeBitShort(255);
    w.writeBitLong(-1);
    w.writeBitLong(std::numeric_limits<std::int32_t>::max());
    w.writeBitLongLong(0x00FF'FFFF'FFFF'FFFF);
    w.writeBitDouble(-0.0);
    w.writeBitDouble(tiny);
    w.writeDoubleWithDefault(-2.25, 1e20);
    w.writePoint2WithDefault({0.0, 9.0}, {0.0, 12.0});
    w.writeBitPoint2({1.0, -1.0});
    w.writeBitPoint3({0.5, 0.0, 1e300});
    w.writeThickness(-0.0, Release::R2000);
    w.writeExtrusion({0, 0, -1}, Release::R2000);
    w.writeRawChar(0xA5);
    w.writeRawLongLong(0x0102030405060708);
    w.writeRawPoint2({3.0, 4.0});
    w.writeRawPoint3({-1.0, 2.0, -3.0});
    w.writeRawBytes(std::string("\0\x01\xff", 3));
    w.writeModularChar((std::int64_t{1} << 62) - 1);
    w.writeModularChar(-(std::int64_t{1} << 40));
    w.writeUnsignedModularChar((std::uint64_t{1} << 63) - 1);
    w.writeModularShort((std::uint64_t{1} << 60) - 1);
    w.writeHandle({0xC, 0xFFFF'FFFF'FFFF'FFFF});
    w.writeHandle({0, 0});
    w.writeText(std::string(300, 'x'));
    w.writeColor(-7);
    w.writeTime({2460462, 86'399'999});
    w.writeSentinel({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    ASSERT_FALSE(w.failed()) << w.failure();

    DwgBitReader r(w.bytes(), w.bitPosition());
    for (unsigned i = 0; i < offset; ++i) EXPECT_EQ(r.readBit(), 1);
    EXPECT_EQ(r.readBitShort(), -32768);
    EXPECT_EQ(r.readBitShort(), 255);
    EXPECT_EQ(r.readBitLong(), -1);
    EXPECT_EQ(r.readBitLong(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(r.readBitLongLong(), 0x00FF'FFFF'FFFF'FFFFu);
    const double minusZero = r.readBitDouble();
    EXPECT_TRUE(minusZero == 0.0 && std::signbit(minusZero));
    EXPECT_EQ(r.readBitDouble(), tiny);
    EXPECT_EQ(r.readDoubleWithDefault(1e20), -2.25);
    EXPECT_EQ(r.readPoint2WithDefault({0.0, 12.0}), (DwgPoint2{0.0, 9.0}));
    EXPECT_EQ(r.readBitPoint2(), (DwgPoint2{1.0, -1.0}));
    EXPECT_EQ(r.readBitPoint3(), (DwgPoint3{0.5, 0.0, 1e300}));
    EXPECT_TRUE(std::signbit(r.readThickness(Release::R2000)));
    EXPECT_EQ(r.readExtrusion(Release::R2000), (DwgPoint3{0, 0, -1}));
    EXPECT_EQ(r.readRawChar(), 0xA5);
    EXPECT_EQ(r.readRawLongLong(), 0x0102030405060708u);
    EXPECT_EQ(r.readRawPoint2(), (DwgPoint2{3.0, 4.0}));
    EXPECT_EQ(r.readRawPoint3(), (DwgPoint3{-1.0, 2.0, -3.0}));
    EXPECT_EQ(r.readRawBytes(3), std::string("\0\x01\xff", 3));
    EXPECT_EQ(r.readModularChar(), (std::int64_t{1} << 62) - 1);
    EXPECT_EQ(r.readModularChar(), -(std::int64_t{1} << 40));
    EXPECT_EQ(r.readUnsignedModularChar(), (std::uint64_t{1} << 63) - 1);
    EXPECT_EQ(r.readModularShort(), (std::uint64_t{1} << 60) - 1);
    EXPECT_EQ(r.readHandle(), (DwgHandleRef{0xC, 0xFFFF'FFFF'FFFF'FFFF}));
    EXPECT_EQ(r.readHandle(), (DwgHandleRef{0, 0}));
    EXPECT_EQ(r.readText(), std::string(300, 'x'));
    EXPECT_EQ(r.readColor(), -7);
    EXPECT_EQ(r.readTime(), (DwgTime{2460462, 86'399'999}));
    EXPECT_TRUE(r.readSentinel({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_FALSE(r.failed()) << r.failure();
    EXPECT_EQ(r.bitsLeft(), 0u);
  }
}

TEST(DwgBits, InvalidCodesAndOverlongValuesFailTheReader) {
  struct Case {
    const char* name;
    std::string bits;
    std::function<void(DwgBitReader&)> read;
  };
  const std::string nineContinued(9 * 8, '1');
  const std::vector<Case> cases = {
      {"BD code 3", "11", [](DwgBitReader& r) { r.readBitDouble(); }},
      {"BL code 3", "11", [](DwgBitReader& r) { r.readBitLong(); }},
      {"handle counter 9", "01011001", [](DwgBitReader& r) { r.readHandle(); }},
      {"MC of ten bytes", nineContinued + "00000001", [](DwgBitReader& r) { r.readModularChar(); }},
      {"UMC of ten bytes", nineContinued + "00000001", [](DwgBitReader& r) { r.readUnsignedModularChar(); }},
      {"MS of five words", std::string(4 * 16, '1') + "0000000100000000",
       [](DwgBitReader& r) { r.readModularShort(); }},
      // 65535 bytes announced, two there: no allocation, a failure.
      {"text longer than the data", "00 11111111 11111111 01000001 01000010",
       [](DwgBitReader& r) { r.readText(); }},
      {"seek past the end", "0", [](DwgBitReader& r) { r.seekBit(2); }},
      {"byte boundary past the end", "000", [](DwgBitReader& r) {
         r.readBit();
         r.alignToByte();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = bytesOfBits(c.bits);
    DwgBitReader r(bytes, bitCount(c.bits));
    c.read(r);
    EXPECT_TRUE(r.failed());
  }
}

TEST(DwgBits, TextDropsOneTrailingNul) {
  DwgBitWriter w;
  w.writeText(std::string("AB\0", 3));
  w.writeText(std::string("C\0\0", 3));
  DwgBitReader r(w.bytes());
  EXPECT_EQ(r.readText(), "AB");
  EXPECT_EQ(r.readText(), std::string("C\0", 2));
}

TEST(DwgBits, ValuesTheFormatCannotHoldFailTheWriter) {
  const std::vector<std::pair<const char*, std::function<void(DwgBitWriter&)>>> cases = {
      {"3B of 5", [](DwgBitWriter& w) { w.writeThreeBits(5); }},
      {"BLL of 8 bytes", [](DwgBitWriter& w) { w.writeBitLongLong(std::uint64_t{1} << 56); }},
      {"MC of 2^62", [](DwgBitWriter& w) { w.writeModularChar(std::int64_t{1} << 62); }},
      {"MC of -2^62", [](DwgBitWriter& w) { w.writeModularChar(-(std::int64_t{1} << 62)); }},
      {"UMC of 2^63", [](DwgBitWriter& w) { w.writeUnsignedModularChar(std::uint64_t{1} << 63); }},
      {"MS of 2^60", [](DwgBitWriter& w) { w.writeModularShort(std::uint64_t{1} << 60); }},
      {"handle code 16", [](DwgBitWriter& w) { w.writeHandle({16, 1}); }},
      {"text of 65536 bytes", [](DwgBitWriter& w) { w.writeText(std::string(65536, 'a')); }},
      {"RL overwritten where none is", [](DwgBitWriter& w) {
         w.writeRawShort(0);
         w.overwriteRawLong(0, 1);
       }},
  };
  for (const auto& [name, write] : cases) {
    SCOPED_TRACE(name);
    DwgBitWriter w;
    write(w);
    EXPECT_TRUE(w.failed());
    EXPECT_FALSE(w.failure().empty());
  }
}

TEST(DwgBits, ABitSizeWrittenAfterTheDataLandsInItsPlaceholder) {
  for (unsigned offset = 0; offset < 8; ++offset) {
    SCOPED_TRACE(offset);
    DwgBitWriter w;
    for (unsigned i = 0; i < offset; ++i) w.writeBit(true);
    w.writeBitShort(19);
    const std::size_t at = w.bitPosition();
    w.writeRawLong(0xFFFFFFFF);
    w.writeBitDouble(0.5);
    w.overwriteRawLong(at, 0xDEADBEEF);
    EXPECT_FALSE(w.failed());
    DwgBitReader r(w.bytes());
    for (unsigned i = 0; i < offset; ++i) EXPECT_EQ(r.readBit(), 1);
    EXPECT_EQ(r.readBitShort(), 19);
    EXPECT_EQ(r.readRawLong(), 0xDEADBEEFu);
    EXPECT_EQ(r.readBitDouble(), 0.5);
  }
}

TEST(DwgBits, HandleReferencesResolveAgainstTheirOwner) {
  struct Case {
    DwgHandleRef ref;
    Handle own;
    std::optional<Handle> target;
  };
  const Case cases[] = {
      {{4, 0x1F}, 0x30, 0x1F},   {{5, 0}, 0x30, 0},          {{0, 0x53}, 1, 0x53},
      {{6, 0}, 0x30, 0x31},      {{8, 0}, 0x30, 0x2F},       {{0xA, 5}, 0x30, 0x35},
      {{0xC, 5}, 0x30, 0x2B},    {{6, 1}, 0x30, std::nullopt}, {{8, 0}, 0, std::nullopt},
      {{0xC, 0x31}, 0x30, std::nullopt}, {{0xA, 1}, UINT64_MAX, std::nullopt},
      {{1, 1}, 0x30, std::nullopt}, {{7, 0}, 0x30, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << int(c.ref.code) << " value " << c.ref.value);
    EXPECT_EQ(resolveHandle(c.ref, c.own), c.target);
  }
}

TEST(DwgBits, CrcOfLongRunsEqualsTheBitwiseCrc) {
  // The CRC taken bit by bit (polynomial 0xA001, reflected), against which
  // the table-driven one, eight bytes at a step, must agree for every
  // length (whole steps and the bytes left over) and seed.
  const auto bitwise = [](const std::string& bytes, unsigned crc) {
    for (const char c : bytes) {
      crc ^= static_cast<std::uint8_t>(c);
      for (int k = 0; k < 8; ++k) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<std::uint16_t>(crc);
  };
  std::string bytes;
  std::uint32_t x = 12345;
  for (int i = 0; i < 300; ++i) {
    x = x * 1103515245 + 12345;
    bytes.push_back(static_cast<char>(x >> 16));
  }
  for (const std::uint16_t seed : {std::uint16_t{0}, kDwgCrcSeed, std::uint16_t{0xFFFF}})
    for (std::size_t n = 0; n <= bytes.size(); n += n < 40 ? 1 : 37) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " length " << n);
      EXPECT_EQ(dwgCrc16(std::string_view(bytes).substr(0, n), seed), bitwise(bytes.substr(0, n), seed));
    }
  // The object map's final page: its CRC as native files store it.
  EXPECT_EQ(dwgCrc16(std::string("\x00\x02", 2)), 0x01D0);
  EXPECT_EQ(dwgCrc16(""), kDwgCrcSeed);
}

}  // namespace

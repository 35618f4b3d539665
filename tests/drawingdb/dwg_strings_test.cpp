// The texts of DWG data from 2007 on: the string stream located from the
// end of the data, UTF-16 texts (pairs, unpaired surrogates, a trailing
// NUL), sizes that lie, and the object type of 2010 on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "drawingdb/dwg_bits.h"

using namespace drawingdb;

namespace {

// Data of 2007+: a BS 77 in the data stream, the string stream that
// `strings` writes, the stream's size (bits) and the has-strings flag, then
// a handle stream of one null handle.  `size` replaces the true size when
// given.
struct Built {
  std::string bytes;
  std::size_t handleStart = 0;
};
template <class Strings>
Built buildWith(Strings strings, bool flag = true, std::optional<std::uint32_t> size = {}) {
  DwgBitWriter w;
  w.writeBitShort(77);
  const std::size_t first = w.bitPosition();
  strings(w);
  const std::uint32_t bits = size.value_or(static_cast<std::uint32_t>(w.bitPosition() - first));
  if (flag) {
    if (bits >= 0x8000) {
      w.writeRawShort(static_cast<std::uint16_t>(bits >> 15));
      w.writeRawShort(static_cast<std::uint16_t>((bits & 0x7FFF) | 0x8000));
    } else {
      w.writeRawShort(static_cast<std::uint16_t>(bits));
    }
  }
  w.writeBit(flag);
  Built b;
  b.handleStart = w.bitPosition();
  w.writeHandle({0, 0});
  b.bytes = w.bytes();
  return b;
}
Built build(const std::vector<std::u16string>& texts, bool flag = true, std::optional<std::uint32_t> size = {}) {
  return buildWith(
      [&](DwgBitWriter& w) {
        for (const std::u16string& t : texts) {
          w.writeBitShort(static_cast<std::int16_t>(t.size()));
          for (char16_t u : t) w.writeRawShort(static_cast<std::uint16_t>(u));
        }
      },
      flag, size);
}

TEST(DwgStrings, TextsComeFromTheStringStreamAsUtf8) {
  struct Case {
    const char* what;
    std::u16string units;
    std::string utf8;
  };
  const Case cases[] = {
      {"ASCII", u"Layer 0", "Layer 0"},
      {"Latin and euro", u"Stra\u00DFe \u20AC", "Stra\xC3\x9F" "e \xE2\x82\xAC"},
      {"surrogate pair", u"\U0001D11E", "\xF0\x9D\x84\x9E"},
      {"trailing NUL dropped", std::u16string(u"ab\0", 3), "ab"},
      {"empty", u"", ""},
      {"lone high at the end", u"a\xD834", "a\xEF\xBF\xBD"},
      {"lone low", u"\xDD1E" "b", "\xEF\xBF\xBD" "b"},
      {"high before a non-surrogate", u"\xD834" "c", "\xEF\xBF\xBD" "c"},
      {"two highs, then a low", u"\xD834\xD834\xDD1E", "\xEF\xBF\xBD\xF0\x9D\x84\x9E"},
  };
  for (const Case& c : cases) {
    const Built b = build({c.units, u"next"});
    DwgBitReader in(b.bytes, b.handleStart);
    in.locateStrings(b.handleStart);
    ASSERT_FALSE(in.failed()) << c.what << ": " << in.failure();
    EXPECT_TRUE(in.unicodeTexts());
    EXPECT_EQ(in.readUnicodeText(), c.utf8) << c.what;
    EXPECT_EQ(in.readBitShort(), 77) << c.what;  // the data stream is apart
    EXPECT_EQ(in.readUnicodeText(), "next") << c.what;
    // The data ends where the strings begin.
    EXPECT_EQ(in.bitsLeft(), 0u) << c.what;
    EXPECT_FALSE(in.failed()) << c.what << ": " << in.failure();
  }
}

TEST(DwgStrings, LargeStreamsTakeASecondSizeWord) {
  // More than 0x7FFF bits of texts: the size's bit 15 says a high part
  // precedes it.
  const std::u16string big(3000, u'x');
  const Built b = build({big, u"end"});
  DwgBitReader in(b.bytes, b.handleStart);
  in.locateStrings(b.handleStart);
  ASSERT_FALSE(in.failed()) << in.failure();
  EXPECT_EQ(in.readUnicodeText(), std::string(3000, 'x'));
  EXPECT_EQ(in.readUnicodeText(), "end");
  EXPECT_EQ(in.readBitShort(), 77);
}

TEST(DwgStrings, DataWithoutStringsReadsEmptyTexts) {
  const Built b = build({}, false);
  DwgBitReader in(b.bytes, b.handleStart);
  in.locateStrings(b.handleStart);
  ASSERT_FALSE(in.failed()) << in.failure();
  EXPECT_EQ(in.readUnicodeText(), "");
  EXPECT_EQ(in.readBitShort(), 77);
  EXPECT_FALSE(in.failed());
}

TEST(DwgStrings, LyingSizesAndCountsFailCleanly) {
  struct Case {
    const char* what;
    Built built;
    bool failsOnLocate;
  };
  const Case cases[] = {
      {"size beyond the data", build({u"abc"}, true, 4000), true},
      {"high size beyond the data", build({u"abc"}, true, 0x12345), true},
      {"empty stream, a text read", build({}, true, 0), false},
      // A count of 3 units where 2.5 are: the odd byte is no unit.
      {"odd UTF-16 length", buildWith([](DwgBitWriter& w) {
         w.writeBitShort(3);
         w.writeRawBytes(std::string("a\0b\0c", 5));
       }), false},
      {"count past the stream", buildWith([](DwgBitWriter& w) {
         w.writeBitShort(0x7FFF);
         w.writeRawShort('a');
       }), false},
  };
  for (const Case& c : cases) {
    DwgBitReader in(c.built.bytes, c.built.handleStart);
    in.locateStrings(c.built.handleStart);
    if (!c.failsOnLocate) {
      ASSERT_FALSE(in.failed()) << c.what << ": " << in.failure();
      in.readUnicodeText();
    }
    EXPECT_TRUE(in.failed()) << c.what;
    EXPECT_FALSE(in.failure().empty()) << c.what;
    // Failed readers stay failed and read nothing.
    EXPECT_EQ(in.readUnicodeText(), "") << c.what;
    EXPECT_EQ(in.readBitShort(), 0) << c.what;
  }
}

TEST(DwgStrings, FlagAndSizeOutsideTheDataFail) {
  const Built b = build({u"abc"});
  for (std::size_t handleStart : {std::size_t{0}, std::size_t{1}, b.bytes.size() * 8 + 1}) {
    DwgBitReader in(b.bytes);
    in.readBit();  // the data begins after one bit
    in.locateStrings(handleStart);
    EXPECT_TRUE(in.failed()) << handleStart;
  }
  // The flag is set but fewer than 16 bits lie before it for the size.
  const std::string ones(1, '\xFF');
  DwgBitReader in(ones);
  in.readBit();
  in.locateStrings(8);
  EXPECT_TRUE(in.failed());
}

TEST(DwgStrings, ObjectTypeOf2010) {
  struct Case {
    std::int16_t type;
    std::uint8_t selector;
  };
  for (const Case c : {Case{1, 0}, Case{77, 0}, Case{255, 0}, Case{0x1F0, 1}, Case{0x2EF, 1}, Case{500, 1},
                       Case{0x2F0, 2}, Case{0x7FF, 2}}) {
    DwgBitWriter w;
    w.writeBitPair(c.selector);
    if (c.selector == 0) w.writeRawChar(static_cast<std::uint8_t>(c.type));
    else if (c.selector == 1) w.writeRawChar(static_cast<std::uint8_t>(c.type - 0x1F0));
    else w.writeRawShort(static_cast<std::uint16_t>(c.type));
    DwgBitReader in(w.bytes());
    EXPECT_EQ(in.readObjectType(Release::R2010), c.type);
    const std::string first = w.bytes().substr(0, 1);
    DwgBitReader cut(first);
    cut.readObjectType(Release::R2018);
    EXPECT_TRUE(cut.failed()) << c.type;
  }
  // Before 2010 the type is a BS.
  DwgBitWriter w;
  w.writeBitShort(500);
  DwgBitReader in(w.bytes());
  EXPECT_EQ(in.readObjectType(Release::R2007), 500);
}

}  // namespace

// Field parsers of IGES parameter data: integers, reals, Hollerith strings.

#include "iges_in/iges_fields.h"

#include <gtest/gtest.h>

namespace {

struct RealCase {
  const char* text;
  double value;
  unsigned flags;
  const char* rest;
};

TEST(IgesFields, Reals) {
  igesDelimiters() = IgesDelimiters{};
  const RealCase cases[] = {
      {"1.5D2,X", 150.0, IgesFlag::kExponentD, "X"},
      {"1.2.3,X", 0.0, IgesFlag::kInvalid, "X"},
      {"0.00005,X", 0.0, 0, "X"},
      {"-2.5E-1;", -0.25, IgesFlag::kRecordEnd, ""},
      {",X", 0.0, IgesFlag::kEmpty, "X"},
      {"1E,X", 0.0, IgesFlag::kInvalid, "X"},
      {"1E999,X", 0.0, IgesFlag::kInvalid, "X"},
      // Blanks inside and around the number, a leading plus, small letters.
      {"  12.5  ,X", 12.5, 0, "X"},
      {"1 2.5,X", 12.5, 0, "X"},
      {"1.5 E 2,X", 150.0, 0, "X"},
      {"+3.25;", 3.25, IgesFlag::kRecordEnd, ""},
      {"2.e-1,X", 0.2, 0, "X"},
      {"-.5d1,X", 0.0, IgesFlag::kInvalid, "X"},
      {"1.25D+1 ,X", 12.5, IgesFlag::kExponentD, "X"},
      {"+,X", 0.0, IgesFlag::kInvalid, "X"},
      {"1-2,X", 0.0, IgesFlag::kInvalid, "X"},
      // Below the range of doubles: 0, not refused.
      {"1E-999,X", 0.0, 0, "X"},
  };
  for (const RealCase& c : cases) {
    unsigned flags = 0;
    double v = -1.0;
    const char* next = parseReal(c.text, flags, v);
    ASSERT_NE(next, nullptr) << c.text;
    EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    EXPECT_EQ(flags, c.flags) << c.text;
    EXPECT_STREQ(next, c.rest) << c.text;
  }
}

TEST(IgesFields, Integers) {
  igesDelimiters() = IgesDelimiters{};
  struct Case {
    const char* text;
    int value;
    unsigned flags;
  } const cases[] = {
      {"12 3,", 123, 0},       {"-7;", -7, IgesFlag::kRecordEnd},
      {"1-2,", 0, IgesFlag::kInvalid}, {"99999999999,", 0, IgesFlag::kInvalid},
      {",", 0, IgesFlag::kEmpty},
      {"99999999999999999999999999999999,", 0, IgesFlag::kInvalid},
  };
  for (const auto& c : cases) {
    unsigned flags = 0;
    int v = -1;
    EXPECT_NE(parseInteger(c.text, flags, v), nullptr) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(flags, c.flags) << c.text;
  }
  unsigned flags = 0;
  int v = 0;
  EXPECT_EQ(parseInteger("", flags, v), nullptr);
}

TEST(IgesFields, HollerithStringsAndRepair) {
  igesDelimiters() = IgesDelimiters{};
  struct Case {
    const char* text;
    const char* value;
    unsigned flags;
  } const cases[] = {
      {"5HAB CDE,", "ABCDE", 0},          // count one too small: the blank run goes
      {"3HABC;", "ABC", IgesFlag::kRecordEnd},
      {"0H,", "", IgesFlag::kEmpty},
      {"1H ,", "", IgesFlag::kEmpty},
      {"2HABCDEF,", "", IgesFlag::kInvalid},  // no blank run to remove
      {"50HAB,", "", IgesFlag::kInvalid},     // count past the end of the text
      {"3H,;,", ",;,", IgesFlag::kRecordEnd},
  };
  for (const auto& c : cases) {
    unsigned flags = 0;
    std::string s = "junk";
    parseString(c.text, flags, s);
    EXPECT_EQ(s, c.value) << c.text;
    EXPECT_EQ(flags & ~IgesFlag::kRecordEnd, c.flags & ~IgesFlag::kRecordEnd) << c.text;
  }
}

TEST(IgesFields, DelimiterSpec) {
  IgesDelimiters& d = igesDelimiters();
  d = IgesDelimiters{};
  const char* p = checkDelimiterSpec(",,");
  EXPECT_EQ(d.param, ',');
  EXPECT_STREQ(p, ",");
  p = checkDelimiterSpec("1H;;1H:;");
  EXPECT_EQ(d.param, ';');
  EXPECT_STREQ(p, "1H:;");
  EXPECT_EQ(checkDelimiterSpec("2H"), nullptr);
  d = IgesDelimiters{};
}

}  // namespace

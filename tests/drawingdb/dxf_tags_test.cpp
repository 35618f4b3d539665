// DXF tags: the type table, ASCII and binary reading and writing, and the
// reader's behaviour on damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "drawingdb/dxf_tags.h"

using namespace drawingdb;

namespace {

// The texts of binary chunks live in the reader until its next tag; the
// copies here keep them.
std::vector<Tag> readAll(std::string_view data, Status* status = nullptr) {
  static std::deque<std::string> texts;
  TagReader reader(data);
  std::vector<Tag> tags;
  Tag t;
  while (reader.next(t)) {
    texts.emplace_back(t.text);
    t.text = texts.back();
    tags.push_back(t);
  }
  if (status) *status = reader.status();
  return tags;
}

TEST(DxfTags, TypeOfEveryCodeRange) {
  struct Case {
    int code;
    TagType type;
  };
  const Case cases[] = {
      {0, TagType::String},    {5, TagType::Handle},   {9, TagType::String},   {10, TagType::Real},
      {59, TagType::Real},     {60, TagType::Int16},   {79, TagType::Int16},   {90, TagType::Int32},
      {100, TagType::String},  {102, TagType::String}, {105, TagType::Handle}, {110, TagType::Real},
      {149, TagType::Real},    {160, TagType::Int64},  {170, TagType::Int16},  {210, TagType::Real},
      {239, TagType::Real},    {270, TagType::Int16},  {289, TagType::Int16},  {290, TagType::Bool},
      {300, TagType::String},  {310, TagType::Binary}, {320, TagType::Handle}, {330, TagType::Handle},
      {369, TagType::Handle},  {370, TagType::Int16},  {390, TagType::Handle}, {400, TagType::Int16},
      {410, TagType::String},  {420, TagType::Int32},  {430, TagType::String}, {440, TagType::Int32},
      {460, TagType::Real},    {470, TagType::String}, {480, TagType::Handle}, {999, TagType::Comment},
      {1000, TagType::String}, {1004, TagType::Binary}, {1005, TagType::Handle}, {1010, TagType::Real},
      {1042, TagType::Real},   {1070, TagType::Int16}, {1071, TagType::Int32}, {-1, TagType::String},
      {5000, TagType::String},
  };
  for (const Case& c : cases) EXPECT_EQ(tagTypeOf(c.code), c.type) << c.code;
}

TEST(DxfTags, AsciiReadsEveryWriterVariant) {
  // CR LF and LF lines, right-justified codes, numbers with blanks, '+',
  // missing leading zero, exponents and integers written as reals; string
  // values keep their leading blanks; comments are skipped.
  const std::string data =
      "  0\r\nSECTION\r\n999\ncomment\n  1\n  A text \n 10\n   +.5\n 20\n1.5E+3\n 30\n7\n"
      " 70\n     4\n 62\n1.0\n  5\n1f\n310\n00FF7a\n290\n1\n1071\n-70000\n  0\nEOF\n";
  Status status;
  const auto tags = readAll(data, &status);
  ASSERT_TRUE(status.ok()) << status.detail;
  ASSERT_EQ(tags.size(), 12u);
  EXPECT_EQ(tags[0].text, "SECTION");
  EXPECT_EQ(tags[1].text, "  A text ");
  EXPECT_DOUBLE_EQ(tags[2].real, 0.5);
  EXPECT_DOUBLE_EQ(tags[3].real, 1500.0);
  EXPECT_DOUBLE_EQ(tags[4].real, 7.0);
  EXPECT_EQ(tags[5].integer, 4);
  EXPECT_EQ(tags[6].integer, 1);
  EXPECT_EQ(tags[7].integer, 0x1F);
  EXPECT_EQ(tags[8].text, std::string("\x00\xFF\x7A", 3));
  EXPECT_EQ(tags[9].integer, 1);
  EXPECT_EQ(tags[10].integer, -70000);
  EXPECT_EQ(tags[11].text, "EOF");
}

// The same tags with every kind of line end, empty values included.
TEST(DxfTags, EveryLineEnd) {
  for (const char* end : {"\n", "\r\n", "\r", "\n\r"}) {
    std::string data;
    for (const char* line : {"  0", "TEXT", "  1", "", " 40", "2.5", "  0", "EOF"}) data += std::string(line) + end;
    Status status;
    const auto tags = readAll(data, &status);
    ASSERT_TRUE(status.ok()) << status.detail;
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].text, "TEXT");
    EXPECT_EQ(tags[1].text, "");
    EXPECT_EQ(tags[2].real, 2.5);
    EXPECT_EQ(tags[3].text, "EOF");
  }
}

TEST(DxfTags, DamagedAsciiStopsWithTheLine) {
  struct Case {
    const char* data;
    const char* where;
  };
  const Case cases[] = {
      {"  0\nSECTION\nxx\nHEADER\n", "line 3"},  {"  0\nSECTION\n 10\nabc\n", "line 4"},
      {"  0\nSECTION\n 70\n1.5\n", "line 4"},    {"  0\nSECTION\n  2\n", "line 3"},
      {"310\nABC\n", "line 2"},                  {"310\nZZ\n", "line 2"},
      {" 10\n1e999\n", "line 2"},                 {"99999\nx\n", "line 1"},
  };
  for (const Case& c : cases) {
    Status status;
    readAll(c.data, &status);
    EXPECT_EQ(status.code, StatusCode::BadFile) << c.data;
    EXPECT_NE(status.detail.find(c.where), std::string::npos) << c.data << " -> " << status.detail;
  }
}

// A tag of every type, written and read back in every form.
TEST(DxfTags, WrittenTagsReadBackInEveryForm) {
  struct Form {
    bool binary;
    int codeBytes;
  };
  for (const Form form : {Form{false, 2}, Form{true, 1}, Form{true, 2}}) {
    SCOPED_TRACE(std::to_string(form.binary) + "/" + std::to_string(form.codeBytes));
    StringSink sink;
    TagWriter w(sink, {form.binary, form.codeBytes, 17});
    w.text(0, "SECTION");
    w.text(1, "  lead");
    w.real(10, 0.1 + 0.2);
    w.real(40, -1e-300);
    w.integer(70, -5);
    w.integer(90, 123456789);
    w.integer(160, 1LL << 40);
    w.boolean(290, true);
    w.handle(5, 0xABCDEF12345ULL);
    w.bytes(310, std::string("\x01\x00\xFE", 3));
    w.integer(1071, -2);
    w.real(1010, 3.25);
    w.integer(40, 3);  // an integer for a real code is written as a real
    w.text(0, "EOF");
    ASSERT_TRUE(w.flush().ok());
    Status status;
    const auto tags = readAll(sink.data, &status);
    ASSERT_TRUE(status.ok()) << status.detail;
    ASSERT_EQ(tags.size(), 14u);
    EXPECT_EQ(tags[1].text, "  lead");
    EXPECT_EQ(tags[2].real, 0.1 + 0.2);
    EXPECT_EQ(tags[3].real, -1e-300);
    EXPECT_EQ(tags[4].integer, -5);
    EXPECT_EQ(tags[5].integer, 123456789);
    EXPECT_EQ(tags[6].integer, 1LL << 40);
    EXPECT_EQ(tags[7].integer, 1);
    EXPECT_EQ(tags[8].integer, static_cast<std::int64_t>(0xABCDEF12345ULL));
    EXPECT_EQ(tags[8].text, "ABCDEF12345");
    EXPECT_EQ(tags[9].text, std::string("\x01\x00\xFE", 3));
    EXPECT_EQ(tags[10].code, 1071);
    EXPECT_EQ(tags[10].integer, -2);
    EXPECT_EQ(tags[11].code, 1010);
    EXPECT_EQ(tags[11].real, 3.25);
    EXPECT_EQ(tags[12].type, TagType::Real);
    EXPECT_EQ(tags[12].real, 3.0);
    EXPECT_EQ(tags[13].text, "EOF");
    TagReader reader(sink.data);
    EXPECT_EQ(reader.binary(), form.binary);
  }
}

TEST(DxfTags, AsciiLayout) {
  StringSink sink;
  TagWriter w(sink, {false, 2, 16});
  w.text(0, "LINE");
  w.real(10, 1);
  w.integer(1070, 7);
  w.text(1, "a\nb");
  ASSERT_TRUE(w.flush().ok());
  EXPECT_EQ(sink.data, "  0\r\nLINE\r\n 10\r\n1.0\r\n1070\r\n7\r\n  1\r\na b\r\n");
}

TEST(DxfTags, RealsAlwaysHaveADecimalPoint) {
  struct Case {
    double value;
    int precision;
    const char* text;
  };
  const Case cases[] = {
      {0.0, 16, "0.0"},          {1.0, 16, "1.0"},       {-2.5, 16, "-2.5"},
      {1e20, 16, "1.0E+20"},     {1.5e-7, 16, "1.5E-07"}, {0.1 + 0.2, 16, "0.3"},
      {0.1 + 0.2, 17, "0.30000000000000004"}, {1.0 / 3.0, 16, "0.3333333333333333"},
      {123456.0, 6, "123456.0"}, {1234567.0, 6, "1.23457E+06"}, {-0.0, 16, "-0.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatReal(c.value, c.precision), c.text) << c.value;
  // 16 digits keep every double within a relative 1e-15.
  for (double v : {3.141592653589793, 2.718281828459045e10, 1.0e-9 + 7.0}) {
    const double back = std::stod(formatReal(v, 16));
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-15);
  }
}

// Whole numbers, halves and other short binary fractions take a quicker way
// than the general rounding; both must give the same text at every
// precision, on both sides of the limits of that way (the number of digits,
// the switch to an exponent below 1e-4 and at 10^precision).
TEST(DxfTags, ShortBinaryFractionsAsTheGeneralRounding) {
  const auto general = [](double v, int precision) {
    char buf[48];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    std::string s(buf, r.ptr);
    const std::size_t e = s.find('e');
    if (e != std::string::npos) s[e] = 'E';
    if (s.find('.') != std::string::npos) return s;
    const std::size_t at = std::min(e, s.size());
    return s.substr(0, at) + ".0" + s.substr(at);
  };
  std::vector<double> values = {0.0, -0.0, 1.0, 0.5, 0.0625, 123.25, 1e-4, 1.0 / 8192, 1.0 / 16384,
                                std::ldexp(1.0, -22), std::ldexp(3.0, -23), 9999999999999998.0,
                                1e15, 1e16, 1234567.0, 123456.5, 4503599627370496.5, 0.1, 1.0 / 3.0};
  for (int p = 0; p <= 17; ++p) {
    const double power = std::pow(10.0, p);
    for (double v : {power - 0.5, power - 1.0, power, power + 1.0}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const int k = static_cast<int>(random() % 26);
    const auto n = static_cast<double>(random() >> (random() % 64));
    values.push_back(std::ldexp(n, -k) * ((i & 1) ? -1.0 : 1.0));
  }
  for (double v : values) {
    for (int precision : {1, 6, 10, 15, 16}) {
      ASSERT_EQ(formatReal(v, precision), general(v, precision)) << v << " at " << precision;
    }
  }
}

// Text values: plain ones are written as they are, the others through the
// code page (non-ASCII characters, backslashes that read as escapes), with
// line breaks turned into spaces in ASCII and the value ended at a NUL in
// binary files; the same in every code page, both forms.
TEST(DxfTags, TextsAsTheCodePageHasThem) {
  const std::string values[] = {"AcDbLine", "", "Wall 2", "tab\there", "a\rb\nc", "C:\\dir\\x",
                                "\\U+00C4", "Gr\xC3\xBC\xC3\x9F" "e", std::string("cut\0off", 7), "~{}|\x7F"};
  for (const char* pageName : {"ANSI_1252", "ANSI_1251", "UTF-8"}) {
    const CodePage page = std::string_view(pageName) == "UTF-8" ? CodePage::utf8() : CodePage::named(pageName);
    for (const bool binary : {false, true}) {
      for (const std::string& value : values) {
        SCOPED_TRACE(std::string(pageName) + (binary ? " binary " : " ASCII ") + value);
        StringSink sink;
        TagWriter w(sink, {binary, 2, 16, &page});
        w.text(1, value);
        ASSERT_TRUE(w.flush().ok());
        std::string scratch;
        std::string expected(page.encode(value, scratch));
        if (binary) {
          expected = std::string(kBinaryDxfSentinel).append("\1", 2).append(expected.substr(0, expected.find('\0'))).append(1, '\0');
        } else {
          std::replace(expected.begin(), expected.end(), '\r', ' ');
          std::replace(expected.begin(), expected.end(), '\n', ' ');
          expected = "  1\r\n" + expected + "\r\n";
        }
        EXPECT_EQ(sink.data, expected);
      }
    }
  }
}

// A binary file cut at any byte ends with a status, never a crash or a
// read beyond the end (the sanitizers check the latter).
TEST(DxfTags, TruncatedBinaryFailsCleanly) {
  StringSink sink;
  TagWriter w(sink, {true, 2, 16});
  w.text(0, "SECTION");
  w.real(10, 1.5);
  w.integer(70, 3);
  w.integer(90, 3);
  w.bytes(310, "abc");
  w.text(0, "EOF");
  ASSERT_TRUE(w.flush().ok());
  for (std::size_t n = kBinaryDxfSentinel.size(); n < sink.data.size(); ++n) {
    const std::string cut = sink.data.substr(0, n);
    TagReader reader(cut);
    Tag t;
    int count = 0;
    while (reader.next(t)) ++count;
    EXPECT_LT(count, 6) << n;
    const bool atTagBoundary = reader.status().ok();
    if (!atTagBoundary) {
      EXPECT_NE(reader.status().detail.find("byte"), std::string::npos);
    }
  }
}

TEST(DxfTags, PushBackReturnsTheSameTag) {
  TagReader reader("  0\nA\n  0\nB\n");
  Tag t;
  ASSERT_TRUE(reader.next(t));
  reader.pushBack();
  ASSERT_TRUE(reader.next(t));
  EXPECT_EQ(t.text, "A");
  ASSERT_TRUE(reader.next(t));
  EXPECT_EQ(t.text, "B");
  EXPECT_FALSE(reader.next(t));
}

TEST(DxfTags, Handles) {
  Handle h = 0;
  EXPECT_TRUE(parseHandle("0", h));
  EXPECT_EQ(h, 0u);
  EXPECT_TRUE(parseHandle("FFFFFFFFFFFFFFFF", h));
  EXPECT_EQ(h, ~0ULL);
  EXPECT_FALSE(parseHandle("1FFFFFFFFFFFFFFFF", h));
  EXPECT_FALSE(parseHandle("G1", h));
  EXPECT_FALSE(parseHandle("", h));
  EXPECT_EQ(formatHandle(0x2a), "2A");
}

}  // namespace

// The text fetcher on transfer files written here: the one-line layout
// with its line feeds, the block layouts, the strings of dimensions and
// symbols, the width factor and the empty texts.
#include <cmath>
#include <string>

#include "tests/transfer/fetch_test_support.h"

namespace {

using fetch_test::FetchTest;
using fetch_test::header;
using fetch_test::near;

// A "text" element: insertion (11, 12) before the reference point, height
// 2, the angle in degrees, width factor and text length as given, then the
// layout lines.
std::string textElement(const std::string& angle, const std::string& widthFactor, const std::string& length,
                        const std::string& layout) {
  return "@text 1\n#visible\n#1 0 0 0 x\n#11\n#12\n#-2\n#" + angle + "\n#0\n#4\n#0\n#3\n#mx\n#7 iso_font\n#" +
         widthFactor + "\n#" + length + "\n" + layout;
}

TEST_F(FetchTest, OneLineTexts) {
  const struct {
    const char* name;
    std::string element;
    std::int32_t form;
    std::vector<std::string> strings;
    std::vector<double> xs;  // insertion x of each part
    double width;            // of the first part
  } cases[] = {
      {"one line with its length", textElement("0", "1", "9", "#one\n#3\n#abc\n"), 0, {"abc"}, {10}, 9},
      {"length 0: width from the characters", textElement("0", "0.5", "0", "#one\n#3\n#abc\n"), 0, {"abc"},
       {10}, 3},
      {"width factor 0 becomes 1", textElement("0", "0", "0", "#one\n#3\n#abc\n"), 0, {"abc"}, {10}, 6},
      // Two line feeds: three parts along the angle, each where the
      // previous one ends.
      {"two line feeds", textElement("0", "1", "25", "#one\n#8\n#ab\ncd\nef\n"), 2, {"ab", "cd", "ef"},
       {10, 14, 18}, 4},
      {"longer count than the text", textElement("0", "1", "0", "#one\n#40\n#abc\n@line 9\n"), 0, {"abc"},
       {10}, 6},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(load(header(0) + c.element)) << c.name;
    TransferText t;
    ASSERT_EQ(fetch(fetchText, "text 1", t), 0) << c.name;
    EXPECT_EQ(label(), "TEXT    ") << c.name;
    EXPECT_EQ(t.form, c.form) << c.name;
    EXPECT_EQ(element(lastIndex_).form, c.form) << c.name;
    ASSERT_EQ(t.parts.size(), c.strings.size()) << c.name;
    for (std::size_t i = 0; i < t.parts.size(); ++i) {
      EXPECT_EQ(t.parts[i].text, c.strings[i]) << c.name;
      EXPECT_TRUE(near(t.parts[i].insertion.x, c.xs[i])) << c.name << " " << i;
      EXPECT_TRUE(near(t.parts[i].insertion.y, 10)) << c.name;
    }
    const TransferTextPart& p = t.parts.front();
    EXPECT_TRUE(near(p.width, c.width)) << c.name;
    EXPECT_DOUBLE_EQ(p.height, 2) << c.name;
    EXPECT_EQ(p.fontNumber, 7) << c.name;
    EXPECT_EQ(p.fontName, "iso_font") << c.name;
    EXPECT_EQ(p.mirror, "mx") << c.name;
  }

  // Along an angle of 90 degrees the parts climb.
  ASSERT_TRUE(load(header(0) + textElement("90", "1", "0", "#one\n#5\n#ab\ncd\n")));
  TransferText t;
  ASSERT_EQ(fetch(fetchText, "text 1", t), 0);
  ASSERT_EQ(t.parts.size(), 2u);
  EXPECT_TRUE(near(t.parts[1].insertion.x, 10));
  EXPECT_TRUE(near(t.parts[1].insertion.y, 14));
}

TEST_F(FetchTest, BlockTexts) {
  ASSERT_TRUE(load(header(0) + textElement("0", "1", "0", "#block\n#5\n#3\n#first\n#\n#third\n#20\n#1\n#0\n")));
  TransferText t;
  ASSERT_EQ(fetch(fetchText, "text 1", t), 0);
  EXPECT_EQ(t.form, 6);
  ASSERT_EQ(t.parts.size(), 3u);
  EXPECT_EQ(t.parts[1].text, "");
  EXPECT_EQ(t.parts[2].text, "third");
  // Each line below the previous one by the spacing.
  EXPECT_TRUE(near(t.parts[2].insertion.y, 0));
  EXPECT_TRUE(near(t.parts[2].insertion.x, 10));
  EXPECT_EQ(t.layer, 2);

  ASSERT_TRUE(load(header(0) + textElement("0", "1", "0", "#blo\n#2\n#first\n#second\n")));
  ASSERT_EQ(fetch(fetchText, "text 1", t), 0);
  EXPECT_DOUBLE_EQ(t.lineSpacing, 3);
  ASSERT_EQ(t.parts.size(), 2u);
  EXPECT_TRUE(near(t.parts[1].insertion.y, 7));
}

TEST_F(FetchTest, EmptyAndBrokenTexts) {
  const struct {
    const char* name;
    std::string layout;
    int result;
    bool warned;  // warning 685
  } cases[] = {
      {"blo with 0 lines", "#blo\n#0\n", -99, false},
      {"block with 0 lines", "#block\n#2\n#0\n", -99, false},
      {"empty text", "#one\n#0\n#\n", -99, true},
      {"negative count", "#one\n#-5\n#\n", -99, true},
      {"more lines than the file holds", "#blo\n#2000000000\n#a\n", -1, false},
      {"negative line count", "#blo\n#-3\n#a\n", -1, false},
      {"missing text", "#one\n#3\n", -1, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(load(header(0) + textElement("0", "1", "0", c.layout))) << c.name;
    TransferText t;
    std::string messages;
    EXPECT_EQ(fetch(fetchText, "text 1", t, &messages), c.result) << c.name;
    EXPECT_EQ(messages.find("M685") != std::string::npos, c.warned) << c.name << messages;
  }
}

TEST_F(FetchTest, StringsAndVariables) {
  const std::string head = "#visible\n#1 0 0 0 x\n";
  ASSERT_TRUE(load(header(0) + "@d_string_angle 1\n" + head + "#12.5\n#11\n#12\n#3\n#90\n#0\n#1\n#0\n" +
                   "@d_string_angle_em 2\n" + head + "#x\n#11\n#12\n#3\n#0\n#2\n#1\n#0\n#4\n#0.5\n#6\n" +
                   "@variable 3\n" + head + "#11\n#12\n#3\n#name\n#30\n#1\n#0\n" +
                   "@d_string_angle 4\n" + head + "#\n#11\n#12\n#3\n#0\n#1\n#1\n#0\n"));
  TransferText t;
  ASSERT_EQ(fetch(fetchText, "d_string_angle 1", t), 0);
  EXPECT_EQ(label(), "STRING  ");
  ASSERT_EQ(t.parts.size(), 1u);
  EXPECT_EQ(t.parts[0].text, "12.5");
  EXPECT_TRUE(near(t.parts[0].angle, M_PI / 2));
  EXPECT_DOUBLE_EQ(t.parts[0].widthFactor, 1.0);
  EXPECT_DOUBLE_EQ(t.parts[0].width, 12);

  ASSERT_EQ(fetch(fetchText, "d_string_angle_em 2", t), 0);
  EXPECT_EQ(label(), "STRING_E");
  EXPECT_EQ(t.emphasis[0], 4);
  EXPECT_DOUBLE_EQ(t.emphasisValue, 0.5);
  EXPECT_EQ(t.emphasis[1], 6);
  EXPECT_DOUBLE_EQ(t.parts[0].widthFactor, 2);

  ASSERT_EQ(fetch(fetchText, "variable 3", t), 0);
  EXPECT_EQ(label(), "VARIABLE");
  EXPECT_EQ(t.parts[0].text, "name");
  EXPECT_EQ(t.layer, 1);

  std::string messages;
  EXPECT_EQ(fetch(fetchText, "d_string_angle 4", t, &messages), -99);
  EXPECT_NE(messages.find("M685"), std::string::npos);
}

}  // namespace

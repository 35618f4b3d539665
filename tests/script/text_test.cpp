// Text statements of the script and the string-literal rule, compared byte
// for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "elements/element_table.h"
#include "script/text.h"
#include "support/assign_tables.h"
#include "support/charset.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/script/script_stream.h"

namespace {

namespace fs = std::filesystem;

class ScriptTextTest : public ScriptStreamTest {
 protected:
  void SetUp() override {
    ScriptStreamTest::SetUp();
    dir_ = fs::temp_directory_path() / ("trovak_text_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_EQ(allocateTable(32), 0);
    runPaths().assignDir = dir_.string() + "/";
  }
  void TearDown() override {
    ScriptStreamTest::TearDown();
    resetCharacterTables();
    resetTable();
    freeTable();
    fs::remove_all(dir_);
  }
  static ScriptTextString string(const std::string& text, double x = 10, double y = 20, double angle = 0) {
    ScriptTextString s;
    s.text = text;
    s.characterCount = static_cast<std::int32_t>(text.size());
    s.boxWidth = 8;
    s.boxHeight = 2.5;
    s.angle = angle;
    s.anchor = 1;
    s.start = ScriptPointXYZ{x, y, 0};
    return s;
  }
  static ScriptNoteRecord noteOf(std::vector<ScriptTextString> strings, int form = 0) {
    ScriptNoteRecord n;
    n.form = form;
    n.strings = std::move(strings);
    return n;
  }

  fs::path dir_;
};

TEST(ScriptQuoteText, LiteralRule) {
  const std::pair<std::string, std::string> rows[] = {
      {"A\"B$C", "A\\\"B@036C"}, {"\xE4", "@228"},      {"a\\b", "a\\\\b"}, {"@+-0.1", "@+-0.1"},
      {"10@+-0.1", "10@+-0.1"},  {"a@b", "a@@b"},     {"@ab", "@ab"},    {"a@@b", "a@@b"},
      {"ab@", "ab@@"},           {"@+", "@+"},        {"", ""},
      {std::string("\x01\x7f\xff\0", 4), "@001@127@255@000"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(ScriptQuoteText(in), out) << in;
  // Four times the input at most.
  const std::string worst(100, '\x80');
  EXPECT_EQ(ScriptQuoteText(worst).size(), 400u);

  EXPECT_STREQ(scriptAnchorName(0), "beginv");
  EXPECT_STREQ(scriptAnchorName(10), "beginv");
  EXPECT_STREQ(scriptAnchorName(1), "begint");
  EXPECT_STREQ(scriptAnchorName(5), "middlem");
  EXPECT_STREQ(scriptAnchorName(9), "endv");
}

TEST_F(ScriptTextTest, AbsoluteAnglePosAndMirroredStrings) {
  open();
  std::vector<std::int32_t> created;
  // No strings: nothing at all.
  EXPECT_EQ(ScriptText(0, noteOf({}), nullptr, created), -99);
  EXPECT_EQ(take(), "");

  ScriptTextString a = string("A\"B$C\xE4");
  a.anchor = 0;
  ScriptTextString b = string("x@y", 30, 20, 0.5);
  b.anchor = 10;
  b.fontName = "iso";
  ASSERT_EQ(ScriptText(0, noteOf({a, b}), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointRelative(E1,10,20,0,{7},{})\n"
            "E3=DTCreateTextAbsolute(TEXTFONT,0,1,\"mnone\",\"beginv\",\"A\\\"B@036C@228\",E2,2.5,8,0,{7},{})\n"
            "E4=DTCreatePointRelative(E1,30,20,0,{7},{})\n"
            "E5=DTCreateTextAnglepos(\"iso\",0,1,\"mnone\",\"beginv\",\"x@@y\",E4,2.5,28.64788979,8,0,{7},{})\n");
  EXPECT_EQ(created, (std::vector<std::int32_t>{3, 5}));

  // Mirrored about the normal and about the base line; a matrix moves the
  // start point, turns the angle and scales the height.
  ScriptTextString c = string("M", 0, 0);
  c.mirror = 1;
  ScriptTextString d = string("N", 0, 0);
  d.mirror = 2;
  d.anchor = 5;
  ScriptMatrix m;
  m.r[0][0] = 0;
  m.r[0][1] = -2;
  m.r[1][0] = 2;
  m.r[1][1] = 0;
  m.t[0] = 100;
  created.clear();
  ASSERT_EQ(ScriptText(0, noteOf({c, d}), &m, created), 0);
  EXPECT_EQ(take(),
            "E6=DTCreatePointSameY(E1,100,0,{7},{})\n"
            "E7=DTCreateTextAnglepos(TEXTFONT,0,1,\"mnone\",\"begint\",\"M\",E6,5,90.0000001,8,0,{7},{})\n"
            "E8=angle_sum(90.0000001,90.0)\n"
            "E9=line_pointalfalength(,,\"not_limited\",E6,E8,100.0,\"beginv\")\n"
            "E10=text_mirror(,E7,E9)\n"
            "delete({E9,E7})\n"
            "E11=DTCreateTextAnglepos(TEXTFONT,0,1,\"mnone\",\"middlem\",\"N\",E6,5,90.0000001,8,0,{7},{})\n"
            "E12=angle_absolute(90.0000001)\n"
            "E13=line_pointalfalength(,,\"not_limited\",E6,E12,100.0,\"beginv\")\n"
            "E14=text_mirror(,E11,E13)\n"
            "delete({E13,E11})\n");
  EXPECT_EQ(created, (std::vector<std::int32_t>{10, 14}));
  EXPECT_EQ(scriptState().elementCounter, 15);

  // Height 0 is written as it is; a string without text ends the note with
  // the strings before it written; a rejected string is skipped.
  ScriptTextString e = string("Z", 0, 0);
  e.boxHeight = 0;
  ScriptTextString skipped = string("skip");
  skipped.rejected = true;
  ScriptTextString none;
  none.hasText = false;
  created.clear();
  EXPECT_EQ(ScriptText(0, noteOf({e, skipped, none, string("lost")}), nullptr, created), -99);
  EXPECT_EQ(take(), "E15=DTCreateTextAbsolute(TEXTFONT,0,1,\"mnone\",\"begint\",\"Z\",E1,0,8,0,{7},{})\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{15});

  // An angle or a height that is no number is written as 0.
  ScriptTextString bad = string("Q", 0, 0, std::nan(""));
  bad.boxHeight = std::numeric_limits<double>::infinity();
  bad.mirror = 1;
  created.clear();
  ASSERT_EQ(ScriptText(0, noteOf({bad}), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E16=DTCreateTextAbsolute(TEXTFONT,0,1,\"mnone\",\"begint\",\"Q\",E1,0,8,0,{7},{})\n"
            "E17=angle_sum(0,90.0)\n"
            "E18=line_pointalfalength(,,\"not_limited\",E1,E17,100.0,\"beginv\")\n"
            "E19=text_mirror(,E16,E18)\n"
            "delete({E18,E16})\n");
}

TEST_F(ScriptTextTest, VerticalUpsideDownAndClassicStrings) {
  runState().senderCode = 1;
  open();
  std::vector<std::int32_t> created;
  ScriptTextString v = string("a\"\\@T", 0, 10);
  v.vertical = 1;
  v.anchor = 3;
  ASSERT_EQ(ScriptText(0, noteOf({v}), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointSameX(E1,10,0,{7},{})\n"
            "E3=DTCreateWorldRotaScale(E2,0,1,1,1)\n"
            "E4=DTCreatePointOrigin(E3,\"\")\n"
            "E5=point_samex(E4,3.75,0,{7},{})\n"
            "E6=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"endt\",{\"a\" \"\\\"\" \"\\\\\" \"@220\" },E5,2.5,0,8,0,{7},{})\n");

  // Upside down: vertical, a further quarter turn.
  ScriptTextString u = string("up", 0, 10, 3.14159265);
  created.clear();
  ASSERT_EQ(ScriptText(0, noteOf({u}), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E7=DTCreateWorldRotaScale(E2,270.0000003,1,1,1)\n"
            "E8=DTCreatePointOrigin(E7,\"\")\n"
            "E9=point_samex(E8,3.75,0,{7},{})\n"
            "E10=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"begint\",{\"u\" \"p\" },E9,2.5,270.0000003,8,0,{7},{})\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{10});

  // Classic mode: a string of more than 80 characters becomes a block, an
  // angled one in a rotated world; 80 characters are a normal string.
  runSettings().tlvvMode = 1;
  const std::string longText(81, 'x');
  created.clear();
  ASSERT_EQ(ScriptText(0, noteOf({string(longText, 0, 10, 0.25), string(std::string(80, 'y'), 0, 10)}), nullptr,
                       created),
            0);
  EXPECT_EQ(take(),
            "E11=DTCreateWorldRotaScale(E2,14.32394489,1,1,1)\n"
            "E12=DTCreatePointOrigin(E11,\"\")\n"
            "E13=DTCreatePointSameX(E2,3.75,0,{7},{})\n"
            "E14=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"begint\",{\"" + longText +
                "\" },E13,2.5,14.32394489,8,0,{7},{})\n"
            "E15=DTCreateTextAbsolute(TEXTFONT,0,1,\"mnone\",\"begint\",\"" + std::string(80, 'y') +
                "\",E2,2.5,8,0,{7},{})\n");
  // An empty string is no normal string either.
  ASSERT_EQ(ScriptText(0, noteOf({string("", 0, 10)}), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E16=DTCreatePointSameX(E2,3.75,0,{7},{})\n"
            "E17=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"begint\",{\"\" },E16,2.5,0,8,0,{7},{})\n");
}

TEST_F(ScriptTextTest, StackedAndMergedNotes) {
  open();
  std::vector<std::int32_t> created;
  ScriptTextString first = string("one", 0, 10);
  first.anchor = 4;
  ASSERT_EQ(ScriptText(0, noteOf({first, string("t@o"), string("$3")}, 6), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointSameX(E1,10,0,{7},{})\n"
            "E3=DTCreatePointSameX(E2,3.75,0,{7},{})\n"
            "E4=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"beginm\",{\n"
            "\"one\"\n"
            "\"t@@o\"\n"
            "\"@0363\"\n"
            "},E3,2.5,0,8,0,{7},{})\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{4});

  // The toolkit directions put the block on the start point.
  runState().useToolkit = 1;
  created.clear();
  ASSERT_EQ(ScriptText(0, noteOf({string("a", 0, 10), string("b")}, 6), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E5=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"begint\",{\n\"a\"\n\"b\"\n},E2,2.5,0,8,0,{7},{})\n");
  runState().useToolkit = 0;

  // Form 2: the strings become one; a vertical one is stacked.
  ScriptTextString head = string("AB", 0, 10);
  head.vertical = 1;
  ScriptTextString rejected = string("no");
  rejected.rejected = true;
  ASSERT_EQ(ScriptText(0, noteOf({head, string("C"), rejected, string("%%d")}, 2), nullptr, created), 0);
  EXPECT_EQ(take(),
            "E6=DTCreateWorldRotaScale(E2,0,1,1,1)\n"
            "E7=DTCreatePointOrigin(E6,\"\")\n"
            "E8=point_samex(E7,3.75,0,{7},{})\n"
            "E9=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"begint\",{\"A\" \"B\" \"C\" \"@030\" },E8,2.5,0,8,0,{7},{})\n");
}

TEST_F(ScriptTextTest, FontsScalesClipAndInfo) {
  std::ofstream(dir_ / "fontname.cfg") << "STD,iso_3098\n";
  std::ofstream(dir_ / "font2.cfg") << "65,66\n";
  runState().senderCode = 4;
  runSettings().nameMode = 1;
  open();
  std::vector<std::int32_t> created;
  ScriptTextString s = string("AA");
  s.fontName = "STD";
  s.fontCode = 2;
  ScriptNoteRecord n = noteOf({s});
  n.attributes.blank = 1;
  n.data.type = 212;
  n.data.sequence = 41;
  n.data.parameterPointer = 77;
  n.viewCurrent = true;
  n.viewScale = 2;
  ASSERT_EQ(ScriptText(5, n, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointRelative(E1,10,20,1,{7},{})\n"
            "E3=DTCreateTextAbsolute(\"iso_3098\",0,1,\"mnone\",\"begint\",\"BB\",E2,5,16,1,{7},{\"-\",212,0,41,77})\n");

  // Sending system 7 keeps the text size in a scaled view; fonts of other
  // systems are not renamed.
  runState().senderCode = 7;
  ASSERT_EQ(ScriptText(5, n, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E4=DTCreateTextAbsolute(\"STD\",0,1,\"mnone\",\"begint\",\"BB\",E2,2.5,8,1,{7},{\"-\",212,0,41,77})\n");

  // Outside the view's clip box the note is left out.
  ScriptSetClipBox(100, 100, 200, 200);
  EXPECT_EQ(ScriptText(5, n, nullptr, created), -99);
  EXPECT_EQ(take(), "");
  ScriptClearClipBox();

  // Toolkit directions: the DWG text factor scales the width only when the
  // record has no width factor of its own.
  runState().useToolkit = 1;
  n.viewCurrent = false;
  n.dwgTextFactor = 2;
  n.strings[0].fontName.clear();
  n.strings[0].fontCode = 1;
  n.strings[0].ownWidthFactor = true;
  ASSERT_EQ(ScriptText(5, n, nullptr, created), 0);
  const std::string out = take();
  EXPECT_NE(out.find("\"AA\",E2,5,8,1,"), std::string::npos) << out;
}

}  // namespace

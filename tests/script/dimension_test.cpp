// Dimension statements of the script: text analysis, argument blocks and
// the statements of every kind, compared byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "script/dimension.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/script/script_stream.h"

namespace {

class ScriptDimensionTest : public ScriptStreamTest {
 protected:
  // The last line written.
  static std::string lastLine(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == '\n') t.pop_back();
    return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
  }
  static ScriptTextString str(const std::string& text, double x, double y, double h = 2.5, double w = 0) {
    ScriptTextString s;
    s.text = text;
    s.characterCount = static_cast<std::int32_t>(text.size());
    s.boxHeight = h;
    s.boxWidth = w > 0 ? w : h * 0.8 * static_cast<double>(text.size());
    s.start = ScriptPointXYZ{x, y, 0};
    return s;
  }
  static ScriptDimensionRecord linear(const std::string& text, double angle) {
    ScriptDimensionRecord d;
    d.kind = ScriptDimKind::kLinear;
    d.note.strings = {str(text, 30, 40)};
    d.first = {10, 20, 0};
    d.second = {10 + 50 * std::cos(angle), 20 + 50 * std::sin(angle), 0};
    d.linePosition = {30, 30, 0};
    d.lineAngle = angle;
    return d;
  }
};

TEST_F(ScriptDimensionTest, OptionsBlockSymbolsRepetitionHalvesAndArrows) {
  const std::vector<ScriptDimWitness> none;
  const std::vector<ScriptDimLeader> noLeaders;
  EXPECT_EQ(DimOptionsBlock(2, false, "", none, 'w', noLeaders), "{ { \"digits\", 2 } }");
  EXPECT_EQ(DimOptionsBlock(0, true, "4x", none, 'w', noLeaders),
            "{ { \"digits\", 0 } \"show_zeros\" \"repet\" { \"repeat\" 4 } }");
  EXPECT_EQ(DimShownPreText("4x"), "");
  EXPECT_EQ(DimOptionsBlock(0, false, "(3 * ", none, 'w', noLeaders), "{ { \"digits\", 0 } \"repet\" { \"repeat\" 3 } }");
  // A word with an 'x' is no repetition.
  EXPECT_EQ(DimOptionsBlock(0, false, "Max ", none, 'w', noLeaders), "{ { \"digits\", 0 } }");
  EXPECT_EQ(DimShownPreText("Max "), "Max ");
  // The flag field: "DU" at 8-9 wins over the other symbols, "PR" is added.
  const std::string flags = "()[]PRTHDUQU..............";
  ASSERT_EQ(flags.size(), 26u);
  EXPECT_EQ(DimOptionsBlock(1, false, flags, none, 'w', noLeaders),
            "{ { \"digits\", 1 } \"diam\" \"control\" }");
  EXPECT_EQ(DimShownPreText(flags), "");
  EXPECT_EQ(DimOptionsBlock(1, false, "()", none, 'w', noLeaders), "{ { \"digits\", 1 } \"aux\" }");
  EXPECT_EQ(DimOptionsBlock(1, false, "\xD8", none, 'w', noLeaders), "{ { \"digits\", 1 } \"diam\" }");
  EXPECT_EQ(DimOptionsBlock(1, false, "\x19", none, 'w', noLeaders), "{ { \"digits\", 1 } \"almost\" }");
  // A suppressed first witness line: left half while waiting or done,
  // right half in other states but taken over.
  const std::vector<ScriptDimWitness> firstOff = {{3, 1}, {4, 0}};
  const std::vector<ScriptDimWitness> secondOff = {{3, 0}, {4, 1}};
  EXPECT_EQ(DimOptionsBlock(0, false, "", firstOff, 'd', noLeaders), "{ { \"digits\", 0 } \"left_half\" }");
  EXPECT_EQ(DimOptionsBlock(0, false, "", firstOff, 'e', noLeaders), "{ { \"digits\", 0 } \"right_half\" }");
  EXPECT_EQ(DimOptionsBlock(0, false, "", firstOff, 'c', noLeaders), "{ { \"digits\", 0 } }");
  EXPECT_EQ(DimOptionsBlock(0, false, "", secondOff, 'w', noLeaders), "{ { \"digits\", 0 } \"right_half\" }");
  std::vector<ScriptDimLeader> leaders(2);
  leaders[0].form = 5;
  leaders[1].form = 9;
  EXPECT_EQ(DimOptionsBlock(0, false, "", none, 'w', leaders), "{ { \"digits\", 0 } \"two_points\" }");
  leaders[1].form = 1;
  EXPECT_EQ(DimOptionsBlock(0, false, "", none, 'w', leaders, {"\"is_longmeasure\""}),
            "{ { \"digits\", 0 } \"arrow_right\" \"is_longmeasure\" }");
  leaders[0].form = 1;
  EXPECT_EQ(DimOptionsBlock(0, false, "", none, 'r', leaders), "{ { \"digits\", 0 } \"arrow_left\" }");
}

TEST_F(ScriptDimensionTest, TextToleranceAndArrowBlocks) {
  open();
  ScriptDimTexts t;
  t.pre = "R";
  t.value = "25";
  t.height = 0;  // no height: the default height
  t.x = 1.5;
  t.y = 2;
  EXPECT_EQ(DimTextBlock(t, DimTextForm::kIges, "{7}"), "{\"R\",\"25\",\"\",{\"\",3.5,0.0,0,1},{1.5,2}}");
  EXPECT_EQ(DimTextBlock(t, DimTextForm::kSector, "{7}"), "{\"R\", \"25\", \"\", {\"\",3.5,0,1},{1.5,2}}");
  t.height = 2.5;
  t.angle = 0.5;
  t.font = "iso";
  EXPECT_EQ(DimTextBlock(t, DimTextForm::kToolkit, "{3}", 2.0),
            "{\"R\",\"25\",\"\",{\"iso\",5,28.6479,0,1},{1.5,2,0},{3}}");
  t.angle = 0.0005;
  EXPECT_EQ(DimTextBlock(t, DimTextForm::kToolkit, "{3}"), "{\"R\",\"25\",\"\",{\"iso\",2.5,0.0,0,1},{1.5,2,0},{3}}");

  EXPECT_EQ(DimToleranceBlock("+0.1", "-0.2", "", "H7", false), "{\"+0.1\",\"-0.2\",\"\",\"H7\"}");
  EXPECT_EQ(DimToleranceBlock("0.1", "-0.2", "%%p0.05", "", true), "{\"+0.100000\",\"-0.200000\",\"@+-0.05\",\"\"}");
  EXPECT_EQ(DimToleranceBlock("", "", "@+-0.1", "", false), "{\"\",\"\",\"@+-0.1\",\"\"}");

  EXPECT_EQ(DimArrowBlock({}, "{7}"), "{0}");
  std::vector<ScriptDimLeader> leaders(3);
  leaders[0].arrowName = "_DOT";
  leaders[0].arrowSize = 2.5;
  leaders[1].arrowName = "DATUMBLANK";
  leaders[1].arrowSize = 1;
  leaders[2].arrowName = "";  // the default filled arrow
  EXPECT_EQ(DimArrowBlock(leaders, "{7}"),
            "{3,{\"point\",2.500000,{7}}{\"triemty\",1.000000,{7}}{\"\",0.000000,{7}}}");
  EXPECT_STREQ(DimArrowName("CLOSEDBLANK"), "empty");
  EXPECT_STREQ(DimArrowName("SOMETHING"), "");

  ScriptDimTexts code;
  code.value = "@029";
  code.post = "mm";
  DimMoveCode029(code);
  EXPECT_EQ(std::tuple(code.value, code.post), std::tuple("", "mm@029"));
  code.value = "@029";
  code.post = "";
  DimMoveCode029(code);
  EXPECT_EQ(std::tuple(code.value, code.post), std::tuple("", "@029"));
}

TEST_F(ScriptDimensionTest, TextAnalysisSplitsTheDimensionText) {
  ScriptNoteRecord note;
  auto analyse = [&](std::vector<ScriptTextString> strings, bool angular = false) {
    note.strings = std::move(strings);
    return DimAnalyseText(note, angular);
  };
  ScriptDimTexts t = analyse({str("25H7", 0, 0)});
  EXPECT_EQ(std::tuple(t.value, t.fit), std::tuple("25", "H7"));
  t = analyse({str("4x25.50", 0, 0)});
  EXPECT_EQ(std::tuple(t.pre, t.value, t.digits), std::tuple("4x", "25.50", 2));
  EXPECT_TRUE(t.showZeros);
  t = analyse({str("4 x 90 = 360", 0, 0)});
  EXPECT_EQ(std::tuple(t.pre, t.value), std::tuple("4 x 90 = ", "360"));
  t = analyse({str("R25", 0, 0)});
  EXPECT_EQ(std::tuple(t.pre, t.value, t.fit), std::tuple("R", "25", ""));
  t = analyse({str("TYP", 0, 0)});
  EXPECT_EQ(std::tuple(t.pre, t.value), std::tuple("TYP", ""));
  // Value, then a raised and a lowered smaller string: the deviations.
  t = analyse({str("-0.2", 10.5, 0, 1.5), str("50", 0, 0, 3.5, 10), str("+0.1", 10.5, 2, 1.5)});
  EXPECT_EQ(std::tuple(t.value, t.upper, t.lower), std::tuple("50", "+0.1", "-0.2"));
  EXPECT_DOUBLE_EQ(t.height, 3.5);
  // Two strings that adjoin are one text; a plus-minus tolerance stays.
  t = analyse({str("12", 0, 0, 2.5, 4), str(".5@+-0.1", 4.1, 0, 2.5, 8)});
  EXPECT_EQ(std::tuple(t.value, t.tolerance), std::tuple("12.5", "@+-0.1"));
  EXPECT_EQ(ScriptQuoteText(t.tolerance), "@+-0.1");
  // A string of height 0 beside one with a height is dropped; alone it is
  // kept (and written with the default height).
  t = analyse({str("99", 0, 0, 0), str("30", 20, 0)});
  EXPECT_EQ(t.value, "30");
  t = analyse({str("30", 0, 0, 0)});
  EXPECT_EQ(std::tuple(t.value, t.height), std::tuple("30", 0.0));
  // Heights that are all negative (a broken file): the tallest carries the value.
  t = analyse({str("-", 0, 0, -3), str("30", 5, 0, -2)});
  EXPECT_EQ(t.value, "30");
  // Angular: the degree signs the KPL dimension adds are removed.
  t = analyse({str("45\xB0", 0, 0), str("+1\xB0", 6, 2, 1.5)}, true);
  EXPECT_EQ(std::tuple(t.value, t.post, t.upper), std::tuple("45", "", "+1"));
  // Sending system 4 ends its texts in a blank.
  runState().senderCode = 4;
  t = analyse({str("30 ", 0, 0)});
  EXPECT_EQ(t.post, "");
  t = analyse({});
  EXPECT_EQ(t.value, "");
  // An over-long text is kept whole.
  const std::string longText(5000, '1');
  t = analyse({str(longText, 0, 0)});
  EXPECT_EQ(t.value, longText);
}

TEST_F(ScriptDimensionTest, LinearKindsAndTheAlignedRule) {
  open();
  std::vector<std::int32_t> created;
  ScriptDimensionRecord d = linear("50", 0.0);
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  const std::string hor = take();
  EXPECT_EQ(lastLine(hor),
            "E4=DTCreateLinearDimension(\"pointpointhor\",{ { \"digits\", 0 } },{\"\",\"50\",\"\",{\"\",2.5,0.0,0,1},"
            "{30,40}},{\"\",\"\",\"\",\"\"},{20,10},0.0,{0}, E2, E3,0,0,{7},{})")
      << hor;
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0], 4);

  d = linear("50", 1.5707963267948966);
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_NE(lastLine(take()).find("(\"pointpointvert\","), std::string::npos);
  EXPECT_NE(out_.str().find("},90.0,{0}, E2, E"), std::string::npos);

  // At 0.0005 radians: aligned, and the angle argument stays empty.
  d = linear("50", 0.0005);
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  const std::string small = lastLine(take());
  EXPECT_NE(small.find("(\"plc1plc2\","), std::string::npos) << small;
  EXPECT_NE(small.find("}, ,{0}, E"), std::string::npos) << small;

  d = linear("50", 0.5);
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_NE(lastLine(take()).find("},28.64788976,{0}, E"), std::string::npos);

  // A dimension line that is not along the measured points cannot be written.
  d = linear("50", 0.5);
  d.second = {60, 20, 0};
  EXPECT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), -1);
  EXPECT_EQ(take(), "");
  d.aligned = true;
  EXPECT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_NE(take().find("(\"plc1plc2\","), std::string::npos);

  // Toolkit form with its arrow block; "@029" leaves the value.
  runState().useToolkit = 1;
  d = linear("50", 0.0);
  d.textsGiven = true;
  d.texts.value = "@029";
  d.texts.post = "mm";
  d.texts.tolerance = "%%p0.1";
  d.texts.height = 2.5;
  d.leaders.resize(1);
  d.leaders[0].arrowName = "OPEN";
  d.leaders[0].arrowSize = 3;
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  const std::string kit = lastLine(take());
  EXPECT_NE(kit.find(",{ { \"digits\", 0 } }, {\"\",\"\",\"mm@029\",{\"\",2.5,0.0,0,1},{0,0,0},{7}},"
                     "{\"\",\"\",\"@+-0.1\",\"\"}, {20,10 },0.0, {1,{\"open\",3.000000,{7}}}, E2, E"),
            std::string::npos)
      << kit;
}

TEST_F(ScriptDimensionTest, DiameterRadiusAndAngularStatements) {
  open();
  std::vector<std::int32_t> created;
  ScriptDimensionRecord d;
  d.kind = ScriptDimKind::kDiameter;
  d.note.strings = {str("\xD8" "20", 40, 20)};
  d.centre = {30, 20, 0};
  d.linePosition = {40, 20, 0};
  d.circle = 7;
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreateAngleAbsolute ( 0, \"\" )\n"
            "E3=DTCreateDiameterDimension ( { { \"digits\", 0 } \"diam\" },{\"\",\"20\",\"\",{\"\",2.5,0.0,0,1},"
            "{40,20}},{\"\",\"\",\"\",\"\"},{40,20},E2,{0},E7,0,{7},{})\n");
  d.circle = 0;  // no circle to refer to
  EXPECT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), -1);

  d.kind = ScriptDimKind::kRadius;
  d.note.strings = {str("R10", 45, 20)};
  d.circle = 7;
  d.leaders.resize(1);
  d.leaders[0].arrowPoint = {40, 20, 0};  // text outside the arc: short radius
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E4 = DTCreateRadiusDimension ({ { \"digits\", 0 } \"is_shortradiusmeasure\" },{\"R\",\"10\",\"\","
            "{\"\",2.5,0.0,0,1},{45,20}},{\"\",\"\",\"\",\"\"},{40,20},0,{1,{\"\",0.000000,{7}}},E7,0,{7},{})\n");
  d.note.strings = {str("R10", 35, 20)};
  ASSERT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), 0);
  EXPECT_NE(take().find("\"is_longradiusmeasure\""), std::string::npos);

  // Angular by three points (the vertex is the origin point E1), then on an
  // arc already written.
  ScriptDimensionRecord a;
  a.kind = ScriptDimKind::kAngular;
  a.note.strings = {str("30\xB0", 20, 5)};
  a.centre = {0, 0, 0};
  a.first = {10, 0, 0};
  a.second = {10 * std::cos(0.5235987755982988), 10 * std::sin(0.5235987755982988), 0};
  a.linePosition = {20, 5, 0};
  ASSERT_EQ(ScriptDimension(1, a, nullptr, nullptr, created), 0);
  const std::string three = take();
  EXPECT_EQ(lastLine(three),
            "E8=DTCreateAngularDimension(\"angle3points\",{ { \"digits\", 0 } },{\"\",\"30\",\"\",{\"\",2.5,0.0,0,1},"
            "{20,5}},{\"\",\"\",\"\",\"\"},{20,5},0,{0},{E1,E6,E7},0,0,{7},{})")
      << three;
  a.second = {10 * std::cos(4.0), 10 * std::sin(4.0), 0};
  ASSERT_EQ(ScriptDimension(1, a, nullptr, nullptr, created), 0);
  EXPECT_NE(take().find("\"is_longmeasure\" }"), std::string::npos);

  ScriptDimReference arc;
  arc.arc = 42;
  a.references = {arc};
  a.arcLength = true;
  ASSERT_EQ(ScriptDimension(1, a, nullptr, nullptr, created), 0);
  const std::string sector = lastLine(take());
  EXPECT_NE(sector.find("(\"arclength\",{ { \"digits\", 0 } \"is_longmeasure\" },{\"\", \"30\", \"\", {\"\",2.5,0,1},"
                     "{20,5}},"),
            std::string::npos)
      << sector;
  EXPECT_NE(sector.find(",{0},{E42},0,0,{7},{})"), std::string::npos) << sector;

  // Two lines already written along the legs; a line across a leg does not fit.
  auto line = [](double x2, double y2, std::int32_t number) {
    ScriptDimReference r;
    r.line = number;
    r.hasEnds = true;
    r.end = ScriptPointXYZ{x2, y2, 0};
    return r;
  };
  a.arcLength = false;
  a.k = 3;
  a.second = {0, 10, 0};
  a.references = {line(20, 0, 50), line(0, 20, 51)};
  ASSERT_EQ(ScriptDimension(1, a, nullptr, nullptr, created), 0);
  EXPECT_NE(lastLine(take()).find("(\"angle2lines\",{ { \"digits\", 0 } },{\"\",\"30\",\"\",{\"\",2.5,0.0,0,1},"
                                  "{20,5}},{\"\",\"\",\"\",\"\"},{20,5},0,{0},{E50,E51},3,0,0,{7},{})"),
            std::string::npos);
  a.references = {line(20, 0, 50), line(20, 20, 52)};
  ASSERT_EQ(ScriptDimension(1, a, nullptr, nullptr, created), 0);
  EXPECT_NE(lastLine(take()).find("(\"angle3points\""), std::string::npos);
}

TEST_F(ScriptDimensionTest, FrameMatricesAndFailures) {
  open();
  std::vector<std::int32_t> created;
  ScriptDimensionRecord d = linear("50", 0.0);
  // Element matrix (shift by 100) first, then the view (scale 2).
  ScriptMatrix shift, scale;
  shift.t[0] = 100;
  for (int i = 0; i < 3; ++i) scale.r[i][i] = 2;
  ASSERT_EQ(ScriptDimension(1, d, &scale, &shift, created), 0);
  const std::string moved = take();
  EXPECT_NE(moved.find("E2=DTCreatePointRelative(E1,220,40"), std::string::npos) << moved;
  EXPECT_NE(moved.find("{\"\",\"50\",\"\",{\"\",5,0.0,0,1},{260,80}}"), std::string::npos) << moved;

  // Ordinate dimensions are not written.
  d.kind = ScriptDimKind::kNone;
  EXPECT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), -1);
  EXPECT_EQ(take(), "");
  // Outside the clip box.
  d.kind = ScriptDimKind::kLinear;
  ScriptSetClipBox(500, 500, 600, 600);
  EXPECT_EQ(ScriptDimension(1, d, nullptr, nullptr, created), -99);
  EXPECT_EQ(take(), "");
  ScriptClearClipBox();
  EXPECT_EQ(created.size(), 1u);
}

}  // namespace

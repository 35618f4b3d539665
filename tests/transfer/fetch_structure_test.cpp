// Fetchers of dimensions, groups, user elements, layers, symbols and
// leader arrows on transfer files written here.
#include <cmath>
#include <string>
#include <tuple>
#include <variant>

#include "tests/transfer/fetch_test_support.h"

namespace {

using fetch_test::FetchTest;
using fetch_test::header;
using fetch_test::near;

const std::string kHead = "#visible\n#1 0 0 0 x\n";

// A "measure" of the kind with its definition, decoration and the given
// tagged lines.
std::string measure(const std::string& status, const std::string& kind, const std::string& tagged) {
  std::string points = "#1 2\n#11 2\n#6 7\n";
  if (kind.rfind("angle", 0) == 0 || kind == "arclength") points += "#1 12\n";
  return "@measure 1\n#" + status + "\n#1 -1 -1 -1 x\n#5\n#end\n#" + kind + "\n" + points + "#10\n" + tagged;
}

TEST_F(FetchTest, MeasureWithDecorationFrameAndSubElements) {
  const std::string tagged =
      "#pretext\n#ca. \n#minandmax\n#inside_text\n#is_shortmeasure\n#no_left_arrow\n#no_right\n"
      "#meas_raw\n#9.98\n#meas_aux\n#0.02\n"
      "#d_line\n" + kHead + "#1\n#2\n#11\n#2\n#1\n#0\n#EOE\n"
      "#d_nonfill_triangle\n" + kHead + "#1\n#0\n#1 2\n#2 3\n#2 1\n#EOE\n#EOE\n"
      "#d_string_angle\n" + kHead + "#10.00\n#6\n#7\n#3\n#0\n#1\n#1\n#0\n#EOE\n"
      "#d_unknown\n#1\n#2\n#EOE\n"
      "#box_control\n#1\n#d_rectangle\n" + kHead + "#1\n#0\n#5 6\n#7 8\n#EOE\n";
  ASSERT_TRUE(load(header(0) + measure("visible", "pointpointhor", tagged)));
  TransferDimension d;
  std::string out;
  testing::internal::CaptureStdout();
  ASSERT_EQ(fetch(fetchDimension, "measure 1", d), 0);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "hse502 : Masssubelement 'd_unknown' unbekannt, wird ignoriert !\n");
  EXPECT_EQ(std::tuple(label(), element(lastIndex_).type), std::tuple(std::string("BEMASS  "), 444));
  EXPECT_EQ(std::tuple(d.kindCode, d.orientation, d.linearBlock), std::tuple(1, 1, true));
  ASSERT_EQ(d.points.size(), 3u);
  ASSERT_EQ(d.reals.size(), 1u);
  EXPECT_EQ(std::tuple(d.points[1].x, d.points[2].y, d.reals[0]), std::tuple(10., 5., 10.));
  EXPECT_EQ(d.preTextString, "ca. ");
  EXPECT_EQ(std::tuple(d.preText, d.postText, d.textPosition, d.arrows, d.shortMeasure, d.leftArrow, d.rightArrow,
                       d.rightPart),
            std::tuple(1, 9, 1, 1, 1, 0, 1, 0));
  EXPECT_TRUE(d.hasRaw && d.hasAux);
  EXPECT_DOUBLE_EQ(d.auxValue, 0.02);
  EXPECT_EQ(std::tuple(d.frameTranslated, d.frameElements), std::tuple(std::string("BOX"), 1));
  ASSERT_EQ(d.parts.size(), 4u);
  EXPECT_EQ(d.parts[0].kind, TransferSubElement::Kind::kLine);
  EXPECT_DOUBLE_EQ(std::get<TransferLine>(d.parts[0].record).end.x, 10);
  EXPECT_EQ(d.parts[1].kind, TransferSubElement::Kind::kPolyline);
  EXPECT_EQ(std::get<TransferHatch>(d.parts[1].record).points.size(), 3u);
  EXPECT_EQ(d.parts[2].kind, TransferSubElement::Kind::kString);
  EXPECT_EQ(std::get<TransferText>(d.parts[2].record).parts[0].text, "10.00");
  EXPECT_TRUE(d.parts[3].frame);
  EXPECT_EQ(std::get<TransferHatch>(d.parts[3].record).points.size(), 4u);

  // Without level PLUS the frame's sub-elements are passed over.
  runState().runMode = RunModeBit::kOutput | RunModeBit::kG1 | RunModeBit::kB1;
  testing::internal::CaptureStdout();
  ASSERT_EQ(fetch(fetchDimension, "measure 1", d), 0);
  out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("hse502 : IGES_GRAF false, Massrahmen 'd_rectangle' werden ignoriert !\n"),
            std::string::npos);
  EXPECT_EQ(d.parts.size(), 3u);
}

TEST_F(FetchTest, MeasureKindsAndStatus) {
  const struct {
    const char* status;
    const char* kind;
    std::uint32_t runMode;
    int result;
    std::int32_t code;
  } cases[] = {
      {"visible", "pointpointvert", RunModeBit::kPlus, 0, 1},
      {"deleted", "chain", RunModeBit::kPlus, 0, 32769},
      {"hidden", "pointpoint", RunModeBit::kPlus, -99, 0},  // neither deleted nor visible
      {"visible", "radiusofsect", RunModeBit::kPlus, 0, 11},
      {"visible", "angle2lines", RunModeBit::kPlus, 0, 70},
      {"visible", "arclength", RunModeBit::kPlus, 0, 4101},
      {"visible", "arclength", RunModeBit::kG1 | RunModeBit::kB1, -99, 4101},
      {"visible", "spiral", RunModeBit::kPlus, -99, 0},
  };
  for (const auto& c : cases) {
    runState().runMode = RunModeBit::kOutput | c.runMode;
    ASSERT_TRUE(load(header(0) + measure(c.status, c.kind, "")));
    TransferDimension d;
    EXPECT_EQ(fetch(fetchDimension, "measure 1", d), c.result) << c.kind << " " << c.status;
    if (c.result == 0) {
      EXPECT_EQ(d.kindCode, c.code) << c.kind;
      EXPECT_EQ(d.deleted, std::string(c.status) == "deleted");
      EXPECT_EQ(d.points.size(), (c.code & 7) == 1 || (c.code & 7) == 3 ? 3u : 4u) << c.kind;
    }
  }
  TransferDimension d;
  ASSERT_TRUE(load(header(0) + measure("visible", "pointpointvert", "")));
  ASSERT_EQ(fetch(fetchDimension, "measure 1", d), 0);
  EXPECT_EQ(d.orientation, 2);
  EXPECT_TRUE(near(d.angle, M_PI / 2));
  // A sub-element that ends early ends the dimension with -1.
  ASSERT_TRUE(load(header(0) + measure("visible", "pointpoint", "#d_line\n" + kHead + "#1\n#2\n")));
  EXPECT_EQ(fetch(fetchDimension, "measure 1", d), -1);
}

TEST_F(FetchTest, DimensionBuilders) {
  const std::string common = "#1 2\n#11 2\n#6 7\n";
  const struct {
    const char* keyword;
    std::string head;  // before the points
    std::string points;
    std::int32_t code;
  } cases[] = {
      {"dimension_distance", "", common, 1},
      {"measure_distance", "#4\n#end\n", common, 1},
      {"dimension_diameter", "", common, 2},
      {"dimension_radius", "", common, 11},
      {"dimension_angular", "", common + "#1 12\n", 68},
  };
  for (const auto& c : cases) {
    const std::string start = std::string(c.keyword) + " 1";
    ASSERT_TRUE(load(header(1) + "@" + start + "\n#attr\n#x\n" + kHead + c.head + c.points +
                     "#10\n#3.5\n#10.0\n#20\n#1\n#0\n#d_line\n#a\n#x\n" + kHead + "#1\n#2\n#11\n#2\n#1\n#0\n#EOE\n"));
    TransferDimension d;
    ASSERT_EQ(fetch(fetchDimension, start, d), 0) << c.keyword;
    EXPECT_EQ(label(), "BEMASS  ");
    EXPECT_EQ(d.kindCode, c.code) << c.keyword;
    EXPECT_EQ(d.attributeText, "attr");
    EXPECT_DOUBLE_EQ(d.textHeight, 3.5) << c.keyword;
    EXPECT_EQ(d.text, "10.0") << c.keyword;
    EXPECT_EQ(d.layer, 2) << c.keyword;
    EXPECT_EQ(d.parts.size(), 1u) << c.keyword;
  }
}

TEST_F(FetchTest, GroupsAndUserElements) {
  ASSERT_TRUE(load(header(1) + "@group 1 outline\n#a\n#x\n#5\n#end\n" +
                   "@user 2 rest of line\n#t\n#bolt\n" +
                   "@userdef 3\n#a\n#x\n#screw\n" +
                   "@userref 4\n#a\n#x\n#deleted\n#3 -1 -1 -1 x\n#screw\n#t\n#11 12 5\n#30\n#2.5\n" +
                   "@plane 5\n#a\n#x\n#area\n"));
  TransferGroup g;
  ASSERT_EQ(fetch(fetchGroup, "group 1", g), 0);
  EXPECT_EQ(std::tuple(label(), element(lastIndex_).type, g.name, g.attributeText),
            std::tuple(std::string("GROUP   "), 402, std::string("outline"), std::string("a")));
  ASSERT_EQ(fetch(fetchUserElement, "user 2", g), 0);
  EXPECT_EQ(label(), "USER    ");
  EXPECT_EQ(element(lastIndex_).type, 408);
  EXPECT_EQ(g.name, "bolt");
  ASSERT_EQ(fetch(fetchUserElement, "userdef 3", g), 0);
  EXPECT_EQ(element(lastIndex_).type, 308);
  EXPECT_EQ(g.definitionName, "screw");
  ASSERT_EQ(fetch(fetchUserElement, "userref 4", g), 0);
  EXPECT_TRUE(g.deleted);
  EXPECT_EQ(std::tuple(g.penColour, g.definitionName, g.layer), std::tuple(3, std::string("screw"), 1));
  EXPECT_EQ(std::tuple(g.insertion.x, g.insertion.z, g.factor), std::tuple(10.0, 5.0, 2.5));
  ASSERT_EQ(fetch(fetchGroup, "plane 5", g), 0);
  EXPECT_EQ(g.name, "area");
  // A group is no user element.
  EXPECT_EQ(fetch(fetchUserElement, "group 1", g), -99);
  // A broken insertion point.
  ASSERT_TRUE(load(header(0) + "@userref 4\n#visible\n#3 -1 -1 -1 x\n#screw\n#t\n#11 zz 5\n#30\n#2.5\n"));
  EXPECT_EQ(fetch(fetchUserElement, "userref 4", g), -1);
}

TEST_F(FetchTest, Layer) {
  ASSERT_TRUE(load(header(1) + "@layer 1 L7\n#a\n#x\n#deleted\n#1 0 0 0 x\n#Walls and doors\n"));
  TransferLayer l;
  ASSERT_EQ(fetch(fetchLayer, "layer 1", l), 0);
  EXPECT_EQ(label(), "LAYER   ");
  EXPECT_EQ(element(lastIndex_).type, 8888);
  EXPECT_EQ(std::tuple(l.name, l.headerToken, l.deleted, l.attributeText),
            std::tuple("Walls and doors", "L7", true, "a"));
}

TEST_F(FetchTest, SymbolPartsAndLeaders) {
  const std::string leader = "#symbol_pfeil\n" + kHead + "#arrow\n#1\n#2\n#3\n#4\n#5\n#6\n#EOE\n";
  const std::string text =
      "#text\n" + kHead + "#11\n#12\n#2\n#0\n#0\n#4\n#0\n#3\n#mnone\n#1 f\n#1\n#0\n#one\n#2\n#ok\n#EOE\n";
  ASSERT_TRUE(load(header(0) + "@symbol 1\n" + kHead + "#EOE\n#name\n#n1\n#EOE\n#EOE\n" + leader + text +
                   "#formplace\n#x\n"));
  TransferSymbol s;
  ASSERT_EQ(fetch(fetchSymbol, "symbol 1", s), 0);
  EXPECT_EQ(element(lastIndex_).type, 210);
  EXPECT_EQ(label(), "NAME    ");
  ASSERT_EQ(s.parts.size(), 4u);
  EXPECT_EQ(s.parts[0].token, "name");
  EXPECT_EQ(std::string(s.parts[1].label), "MSPF    ");
  EXPECT_EQ(std::string(s.parts[3].label), "FORMTOL ");

  // The output fetches the parts by their positions.
  TransferLeader l;
  ASSERT_EQ(run([&] { return fetchLeader(lastIndex_, s.parts[1].position, l); }), 0);
  EXPECT_EQ(l.form, 3);
  EXPECT_DOUBLE_EQ(l.headSize[1], 4.5);
  EXPECT_DOUBLE_EQ(l.values[4], 4);  // the points less the reference point
  EXPECT_DOUBLE_EQ(l.values[5], 4);
  TransferText t;
  ASSERT_EQ(run([&] { return fetchText(0, s.parts[2].position, t); }), 0);
  ASSERT_EQ(t.parts.size(), 1u);
  EXPECT_EQ(t.parts[0].text, "ok");
  EXPECT_EQ(run([&] { return fetchLeader(0, s.parts[0].position, l); }), -99);

  const struct {
    const char* head;
    std::int32_t form;
    double size0;
  } heads[] = {{"triangle", 3, 1.0}, {"point", 5, 1.0}, {"dot", 1, 0.0}};
  for (const auto& h : heads) {
    ASSERT_TRUE(load(header(0) + "@symbol 1\n" + kHead + "#symbol_pfeil\n" + kHead + "#" + h.head +
                     "\n#1\n#2\n#3\n#4\n#5\n#6\n"));
    ASSERT_EQ(fetch(fetchSymbol, "symbol 1", s), 0);
    ASSERT_EQ(s.parts.size(), 1u);
    ASSERT_EQ(run([&] { return fetchLeader(0, s.parts[0].position, l); }), 0) << h.head;
    EXPECT_EQ(l.form, h.form) << h.head;
    EXPECT_DOUBLE_EQ(l.headSize[0], h.size0) << h.head;
  }
}

TEST_F(FetchTest, FrameReaderDebugLines) {
  ASSERT_TRUE(load(header(0) + measure("visible", "pointpoint", "#fit\n#no_frame\n#0\n")));
  runSettings().traceLevel = 5;
  TransferDimension d;
  testing::internal::CaptureStdout();
  ASSERT_EQ(fetch(fetchDimension, "measure 1", d), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "hse507 : measkind 'pointpoint', measbox 'no_frame', translated 'NONE', posttext 'fit'\n"
            "         Erkannte Anzahl der Massrahmenelemente -> 0\n");
  EXPECT_EQ(d.postText, 64);
}

}  // namespace

// The conversion engine of the IGES input run on small files: what a file
// becomes in the script, and in which state each element ends.
#include "iges_in/conversion_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_script_source.h"
#include "iges_in/kpl_reader.h"
#include "script/script_writer.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

std::string joinPointers(const std::vector<int>& des) {
  std::string s = std::to_string(des.size());
  for (int d : des) s.append(",").append(std::to_string(d));
  return s + ";";
}

// The element numbers listed by every contour statement of a script.
std::vector<std::vector<int>> contourMembers(const std::string& script) {
  std::vector<std::vector<int>> out;
  static const std::regex statement(R"(DTCreateContour(OfElements|Union)\([^{]*\{([^}]*)\})");
  static const std::regex number(R"(E(\d+))");
  for (auto it = std::sregex_iterator(script.begin(), script.end(), statement);
       it != std::sregex_iterator(); ++it) {
    const std::string list = (*it)[2];
    std::vector<int> members;
    for (auto n = std::sregex_iterator(list.begin(), list.end(), number); n != std::sregex_iterator(); ++n)
      members.push_back(std::stoi((*n)[1]));
    out.push_back(members);
  }
  return out;
}

class ConvertEngine : public ConversionTest {
 protected:
  void SetUp() override {
    ConversionTest::SetUp();
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
    assignTables().colourDefinitions = {{"black", 0, 0, 0, 8},
                                        {"red", 255, 0, 0, 2},
                                        {"darkred", 250, 0, 0, 12},
                                        {"green", 0, 255, 0, 3}};
  }
};

// Lines, arcs and points with matrices: the geometry arrives transformed, a
// chain of matrices is composed outermost first, the matrices read end in
// 'd', a matrix value that cannot be read is 0 (warning 450), and a matrix
// that cannot be resolved fails its element.
TEST_F(ConvertEngine, GeometryAfterItsMatrices) {
  igestest::Builder b;
  const int shift = b.add(124, "1.,0.,0.,10.,0.,1.,0.,20.,0.,0.,1.,0.;");
  igestest::Entity turn{124, 0, "0.,-1.,0.,0.,1.,0.,0.,0.,0.,0.,1.,0.;"};
  turn.matrix = shift;  // shift(turn(p))
  const int turned = b.add(turn);
  igestest::Entity line{110, 0, "0.,0.,0.,2.,0.,0.;"};
  line.matrix = turned;
  const int l = b.add(line);
  igestest::Entity arc{100, 0, "0.,0.,0.,5.,0.,5.,0.;"};
  arc.matrix = shift;
  const int a = b.add(arc);
  const int p = b.add(116, "3.,4.,0.;");
  const int bad = b.add(124, "1.2.3,0.,0.,0.,0.,1.,0.,0.,0.,0.,1.,0.;");
  igestest::Entity flattened{110, 0, "0.,0.,0.,1.,1.,0.;"};
  flattened.matrix = bad;
  const int fl = b.add(flattened);
  const int cut = b.add(110, "0.,0.,0.,1.;");  // parameter data ends early
  // A second element under the same chain, and a matrix that names itself.
  igestest::Entity again{116, 0, "1.,0.,0.;"};
  again.matrix = turned;
  const int p2 = b.add(again);
  const int loop = b.add(124, "1.,0.,0.,0.,0.,1.,0.,0.,0.,0.,1.,0.;");
  b.entity(loop).matrix = loop;
  igestest::Entity looped{110, 0, "0.,0.,0.,1.,1.,0.;"};
  looped.matrix = loop;
  const int lp = b.add(looped);

  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();
  ASSERT_EQ(s.lines.size(), 2u);
  const auto r = [](double v) { return std::round(v * 1e9) / 1e9; };  // to compare several values at once
  const kpl::Line &l0 = s.lines[0], &l1 = s.lines[1];
  // The matrix whose first value reads as 0 puts the line onto x = 0.
  EXPECT_EQ(std::tuple(r(l1.start.x), r(l1.end.x), r(l1.end.y)), std::tuple(0., 0., 1.));
  EXPECT_EQ(std::tuple(r(l0.start.x), r(l0.start.y), r(l0.end.x), r(l0.end.y)), std::tuple(10., 20., 10., 22.));
  ASSERT_EQ(s.circles.size(), 1u);
  const auto& circle = s.circles[0];
  EXPECT_EQ(std::tuple(r(circle.centre.x), r(circle.centre.y), r(circle.radius)), std::tuple(10., 20., 5.));
  EXPECT_EQ(states({l, a, p}), "ddd");
  EXPECT_EQ(created(l).size(), 1u);
  EXPECT_EQ(states({shift, turned, bad, fl}), "dddd");
  EXPECT_EQ(reported(450), 1);
  EXPECT_EQ(state(cut), 'e');
  EXPECT_EQ(reported(320), 0);
  EXPECT_EQ(reported(790), 1);  // the cut line
  EXPECT_EQ(state(lp), 'e');
  EXPECT_GE(reported(442), 1);
  // The point under the chain: turn (1,0) to (0,1), then shift.
  const Transform* m = element(indexOfPointer(p2)).matrix.get();
  ASSERT_NE(m, nullptr);
  const Point3 q = applyTransform(*m, Point3{1, 0, 0});
  EXPECT_EQ(std::tuple(r(q.x), r(q.y)), std::tuple(10., 21.));
  EXPECT_EQ(state(p2), 'd');
}

// A field that cannot be read takes its default, with its warning, and the
// element is converted with it.
TEST_F(ConvertEngine, UnreadableFieldTakesItsDefault) {
  struct Case {
    const char* name;
    int type;
    const char* data;
  };
  const Case cases[] = {
      {"second dot in a real", 110, "3.,1.2.3,0.,5.,7.,0.;"},
      {"letter in a real", 110, "3.,1x,0.,5.,7.,0.;"},
      {"exponent without digits", 110, "3.,1E,0.,5.,7.,0.;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    afresh();
    igestest::Builder b;
    const int l = b.add(c.type, c.data);
    ASSERT_EQ(convert(b), 0);
    const kpl::Script s = script();
    ASSERT_TRUE(s.errors.empty()) << s.errors.front();
    ASSERT_EQ(s.lines.size(), 1u);
    const kpl::Line& l0 = s.lines[0];  // whole numbers: read and written exactly
    EXPECT_EQ(std::tuple(l0.start.x, l0.start.y, l0.end.x, l0.end.y), std::tuple(3., 0., 5., 7.));
    EXPECT_EQ(state(l), 'd');
    EXPECT_EQ(std::tuple(reported(450), reported(790)), std::tuple(1, 0));
  }
}

// Conic arcs by their invariants, read from the file.
TEST_F(ConvertEngine, ConicArcs) {
  igestest::Builder b;
  const int circle = b.add(104, "1.,0.,1.,0.,0.,-1.,0.,1.,0.,0.,1.;", 1);
  const int hyperbola = b.add(104, "1.,0.,-1.,0.,0.,-1.,0.,1.,0.,1.5,1.118033989;", 2);
  const int parabola = b.add(104, "1.,0.,0.,0.,-1.,0.,0.,-1.,1.,1.,1.;", 3);
  const int imaginary = b.add(104, "1.,0.,1.,0.,0.,1.,0.,1.,0.,0.,1.;", 1);
  // Determinant -0.00005 (a circle of radius 0.007): below the epsilon, a
  // line from start to end.
  const int flat = b.add(104, "1.,0.,1.,0.,0.,-0.00005,0.,0.,0.,3.,4.;");
  // Large ellipses have small coefficients; they stay ellipses.
  const int wide = b.add(104, "4.719169966E-04,0.,1.887667987E-03,0.,0.,-1.,0.,46.03,0.,0.,23.01;");
  const int huge = b.add(104, "1.E-08,0.,1.E-08,0.,0.,-1.,0.,10000.,0.,0.,10000.;");
  // Practically the line pair x = +-y, with A and C nearly cancelling: a
  // line, not a hyperbola blown up by its vanishing trace.
  const int pair = b.add(104, "1.,0.,-0.999999999,0.,0.,-1.E-10,0.,1.,1.,2.,2.;", 2);
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();
  ASSERT_EQ(s.ellipses.size(), 3u);
  EXPECT_NEAR(s.ellipses[0].centre.x, 0, 1e-9);
  EXPECT_TRUE(s.ellipses[0].isArc);
  EXPECT_NEAR(std::fabs(s.ellipses[1].axis1.x), 46.03, 0.01);
  EXPECT_NEAR(std::fabs(s.ellipses[2].axis1.x), 10000, 1e-3);
  EXPECT_GE(s.splines.size(), 2u);  // hyperbola and parabola pieces
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_NEAR(s.lines[0].end.x, 3, 1e-9);
  EXPECT_NEAR(s.lines[0].end.y, 4, 1e-9);
  EXPECT_NEAR(s.lines[1].end.x, 2, 1e-9);
  EXPECT_EQ(states({pair, circle, hyperbola, parabola, imaginary, flat, wide, huge}), "cdddecdd");
  EXPECT_EQ(reported(470), 1);
}

// Colour definitions select their palette colour; elements pointing at one
// take its index.
TEST_F(ConvertEngine, ColourDefinitions) {
  igestest::Builder b;
  const int red = b.add(314, "100.,0.,0.,3Hred;");
  const int almost = b.add(314, "99.,0.,0.,;");
  igestest::Entity line{110, 0, "0.,0.,0.,1.,0.,0.;"};
  line.colour = -almost;
  const int l = b.add(line);
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({red, almost}), "dd");
  const auto* exact = dynamic_cast<const ColourRecord*>(element(indexOfPointer(red)).params.get());
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(exact->colourIndex, 2);  // 255, 0, 0 exactly
  // 252, 0, 0: nearest is 250, 0, 0; a plain index stays; no such definition gives 1.
  EXPECT_EQ(std::tuple(resolvedColour(-almost), resolvedColour(7), resolvedColour(-9999)), std::tuple(12, 7, 1));
  EXPECT_EQ(state(l), 'd');
  // The line's statement carries the colour its definition selected.
  EXPECT_NE(out_.str().find(",{12},{"), std::string::npos) << out_.str();

  // Without a palette the definition is faulty and gives colour 1.
  afresh();
  assignTables().colourDefinitions.clear();
  runPaths().assignDir = dir_.string() + "/none/";
  igestest::Builder c;
  const int lone = c.add(314, "0.,100.,0.;");
  ASSERT_EQ(convert(c), 0);
  EXPECT_EQ(state(lone), 'e');
  EXPECT_EQ(resolvedColour(-lone), 1);
}

// The emit gates: blanked elements with the switch off and on, entity use
// below level PLUS, and the level rule of copious-data witness lines.
TEST_F(ConvertEngine, GatesAndLevels) {
  igestest::Builder b;
  igestest::Entity blanked{110, 0, "0.,0.,0.,5.,0.,0.;"};
  blanked.status = "01000000";
  const int hidden = b.add(blanked);
  igestest::Entity annotation{110, 0, "0.,1.,0.,5.,1.,0.;"};
  annotation.status = "00000200";
  const int used = b.add(annotation);
  const int witness = b.add(106, "1,2,0.,0.,0.,0.,9.;", 40);
  const int witness2 = b.add(106, "1,2,0.,1.,0.,1.,9.;", 40);
  // A line shared by a blanked composite and a visible one is still
  // written, for the visible one.
  const int shared = b.add(110, "0.,5.,0.,5.,5.,0.;");
  igestest::Entity hiddenCurve{102, 0, joinPointers({shared})};
  hiddenCurve.status = "01000000";
  const int c1 = b.add(hiddenCurve);
  const int c2 = b.add(102, joinPointers({shared}));

  runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  runSettings().blankMode = 0;
  testing::internal::CaptureStderr();
  ASSERT_EQ(convert(b), 0);
  const std::string console = testing::internal::GetCapturedStderr();
  EXPECT_EQ(script().lines.size(), 1u);
  EXPECT_EQ(states({c1, c2, shared}), "idd");
  ASSERT_EQ(created(shared).size(), 1u);
  const auto contours = contourMembers(out_.str());
  ASSERT_EQ(contours.size(), 1u);
  EXPECT_EQ(contours[0], std::vector<int>{created(shared)[0]});
  EXPECT_EQ(states({hidden, used, witness, witness2}), "iiee");
  EXPECT_EQ(reported(190), 2);
  EXPECT_EQ(occurrences(console, "(190)"), 1);  // the console hears of it once
  EXPECT_EQ(reported(790), 0);

  afresh();
  runState().runMode = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
  runSettings().blankMode = 1;
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  EXPECT_EQ(s.lines.size(), 5u);  // blanked line, annotation line, two witness lines, shared
  EXPECT_EQ(states({hidden, used, witness}), "ddd");
  EXPECT_EQ(reported(190), 0);
}

// Composite curves: members are written once, a member shared by two
// composites is listed by both contours with the same objects, a composite
// inside a composite gives a union, and physically dependent members get
// the composite's matrix.
TEST_F(ConvertEngine, CompositeCurvesShareTheirMembers) {
  igestest::Builder b;
  const int shift = b.add(124, "1.,0.,0.,100.,0.,1.,0.,0.,0.,0.,1.,0.;");
  const int l1 = b.add(110, "0.,0.,0.,10.,0.,0.;");
  const int l2 = b.add(110, "10.,0.,0.,10.,10.,0.;");
  const int l3 = b.add(110, "10.,10.,0.,0.,0.,0.;");
  const int c1 = b.add(102, joinPointers({l1, l2}));
  const int c2 = b.add(102, joinPointers({l2, l3}));
  igestest::Entity dependent{110, 0, "0.,0.,0.,0.,5.,0.;"};
  dependent.status = "00010000";
  const int d = b.add(dependent);
  igestest::Entity moved{102, 0, joinPointers({d})};
  moved.matrix = shift;
  const int c3 = b.add(moved);
  const int arc = b.add(100, "0.,0.,0.,1.,0.,0.,1.;");
  const int outer = b.add(102, joinPointers({c3, arc}));

  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_EQ(s.lines.size(), 4u);  // l1, l2, l3 and the dependent line, each once
  for (int de : {l1, l2, l3, d, c1, c2, c3, outer, arc}) EXPECT_EQ(state(de), 'd') << de;
  ASSERT_EQ(created(l2).size(), 1u);
  const int shared = created(l2)[0];
  const auto contours = contourMembers(out_.str());
  int listing = 0;
  for (const auto& members : contours)
    for (int m : members) listing += m == shared;
  EXPECT_EQ(listing, 2);
  // The dependent line moved with its composite.
  bool movedLine = false;
  for (const kpl::Line& line : s.lines)
    movedLine |= std::fabs(line.start.x - 100) < 1e-9 && std::fabs(line.end.y - 5) < 1e-9;
  EXPECT_TRUE(movedLine);
  // The outer composite: its sub-contour and a contour of the arc, united.
  ASSERT_EQ(created(outer).size(), 1u);
  ASSERT_EQ(created(c3).size(), 1u);
  bool union_ = false;
  for (const auto& members : contours)
    union_ |= members.size() == 2 && members[0] == created(c3)[0];
  EXPECT_TRUE(union_);
  EXPECT_EQ(s.contours, 5);  // c1, c2, c3, the arc's contour and the union
}

// Composites that contain themselves through another end, directly or at
// the bottom of a long chain: the cycle is reported once and the rest
// converts.  Chains of any depth convert whole, and members shared along a
// chain are written once (a chain where every composite holds the next one
// twice would otherwise double its work per level).
TEST_F(ConvertEngine, CyclicAndDeepComposites) {
  igestest::Builder b;
  const int line = b.add(110, "0.,0.,0.,1.,0.,0.;");
  // c1 = {line, c2}, c2 = {c1}: DE numbers are known in advance.
  const int c1 = 3, c2 = 5;
  EXPECT_EQ(b.add(102, joinPointers({line, c2})), c1);
  EXPECT_EQ(b.add(102, joinPointers({c1})), c2);
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(reported(510), 1);
  EXPECT_EQ(state(line), 'd');
  EXPECT_EQ(script().lines.size(), 1u);
  EXPECT_EQ(states({c1, c2}).find('w'), std::string::npos);

  constexpr int kDepth = 10000;
  struct Case {
    const char* name;
    bool shared;  // every composite holds the one inside it twice
    bool cyclic;  // the innermost composite holds the outermost one
  };
  for (const Case& c : {Case{"chain", false, false}, Case{"shared members", true, false},
                        Case{"cycle at the bottom", false, true}}) {
    SCOPED_TRACE(c.name);
    afresh();
    igestest::Builder deep;
    const int first = deep.add(110, "0.,0.,0.,1.,0.,0.;");
    const int outermost = first + 2 * kDepth;
    const int bottom = c.cyclic ? deep.add(102, joinPointers({first, outermost}))
                                : deep.add(102, joinPointers({first}));
    int inner = bottom;
    for (int k = 1; k < kDepth; ++k)
      inner = deep.add(102, c.shared ? joinPointers({inner, inner}) : joinPointers({inner}));
    ASSERT_EQ(inner, outermost);
    ASSERT_EQ(convert(deep), 0);
    EXPECT_EQ(reported(510), c.cyclic ? 1 : 0);
    EXPECT_EQ(script().lines.size(), 1u);
    // Without the cycle every composite is written; with it the ring
    // fails, but nothing stays waiting.
    int written = 0, waiting = 0;
    for (int de = bottom; de <= outermost; de += 2) {
      written += state(de) == 'd';
      waiting += state(de) == 'w';
    }
    EXPECT_EQ(waiting, 0);
    if (c.cyclic) {
      EXPECT_LT(written, kDepth);
    } else {
      EXPECT_EQ(written, kDepth);
      EXPECT_EQ(created(outermost).size(), 1u);
    }
  }
}

// Types the engine does not write: unknown ones fail with 510 (at level
// PLUS one with sons stands for its members), the structuring and
// annotation ones are left for their converters, properties and layers are
// not written.
TEST_F(ConvertEngine, TypesNotWrittenHere) {
  igestest::Builder b;
  const int unknown = b.add(199, "1.,2.;");
  const int l1 = b.add(110, "0.,0.,0.,1.,0.,0.;");
  const int l2 = b.add(110, "0.,1.,0.,1.,1.,0.;");
  const int ruled = b.add(118, std::to_string(l1) + "," + std::to_string(l2) + ",0,0;");
  const int note = b.add(212, "1,4,1.,1.,0.,0.,0.,0.,0.,0.,4HTEXT;");
  const int zorder = b.add(406, "1,3;", 6731);
  const int other = b.add(406, "1,3;", 15);
  const int group = b.add(402, "1," + std::to_string(l1) + ";", 7);

  testing::internal::CaptureStderr();
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(occurrences(testing::internal::GetCapturedStderr(), "(510)"), 1);
  EXPECT_EQ(states({unknown, ruled, l1, l2}), "eedd");
  EXPECT_EQ(state(note), 'e');  // its string lacks the start point's y and z: faulty
  EXPECT_EQ(state(group), 'd');  // a group of its member
  EXPECT_EQ(states({zorder, other}), "ci");
  EXPECT_EQ(reported(510), 2);
  EXPECT_EQ(script().lines.size(), 2u);

  afresh();
  runState().runMode = RunModeBit::kInput | RunModeBit::kPlus;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(state(unknown), 'e');  // no sons
  // At level PLUS the surface's members are written and grouped under its
  // type and index.
  EXPECT_EQ(state(ruled), 'c');
  EXPECT_EQ(created(ruled).size(), 1u);
  EXPECT_EQ(occurrences(out_.str(), "DTCreateGroup (\"Unknown(118)" + std::to_string((ruled + 1) / 2) + "\""), 1)
      << out_.str();
  const ElementRecord& written = element(indexOfPointer(ruled));
  EXPECT_EQ(std::tuple(written.outputKind, written.outputSubKind), std::tuple(402, 7));
  EXPECT_EQ(reported(510), 1);
  EXPECT_EQ(script().lines.size(), 2u);
}

// The z-order property (406 form 6731) orders its members in depth; an
// element outside it takes the place of the first father that has one.
// The table tells the script: no level variables, and a z statement when
// the place changes.  Without the property the levels stay.
TEST(IgesScriptSource, ZOrderOfThePropertyAndItsMembersSons) {
  resetRunState();
  runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  ASSERT_EQ(allocateTable(8), 0);
  std::int32_t idx[7];
  for (std::int32_t& i : idx) i = newIndex();
  // idx[1]: the property of idx[2..4]; idx[4] is a group with the son
  // idx[5]; idx[6] lies in no property.
  element(idx[1]).type = 406;
  element(idx[1]).form = 6731;
  element(idx[4]).type = 402;
  for (int k = 2; k <= 4; ++k) {
    ASSERT_EQ(appendSon(idx[1], idx[k]), 0);
    ASSERT_EQ(linkSon(idx[1], idx[k], 'x'), 0);
  }
  ASSERT_EQ(appendSon(idx[4], idx[5]), 0);
  ASSERT_EQ(linkSon(idx[4], idx[5], 'x'), 0);

  ScriptSource source;
  source.unitFlag = 2;
  source.levels = {0, 1, 2};
  igesScriptSourceOfTable(source);
  EXPECT_TRUE(source.zOrderProperty);
  std::ostringstream out;
  ASSERT_EQ(ScriptOpenStream(out, "a.kpl", source), 0);
  EXPECT_EQ(out.str().find("Z0="), std::string::npos);
  std::size_t seen = out.str().size();
  const auto take = [&out, &seen] {
    const std::string part = out.str().substr(seen);
    seen = out.str().size();
    return part;
  };
  const struct {
    int element, found;
    const char* statement;
  } cases[] = {
      {2, 1, ""},
      {3, 1, "Z=DTCreateLengthSum(MZ,DTCreateLengthProd(1,DZ,\"\"),\"\")\n"},
      {3, 1, ""},
      {5, 1, "Z=DTCreateLengthSum(MZ,DTCreateLengthProd(2,DZ,\"\"),\"\")\n"},
      {6, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScriptZOrder(idx[c.element]), c.found) << c.element;
    EXPECT_EQ(take(), c.statement) << c.element;
  }
  resetScriptState();

  element(idx[1]).form = 15;
  ScriptSource plain;
  plain.levels = {0, 1};
  igesScriptSourceOfTable(plain);
  EXPECT_FALSE(plain.zOrderProperty);
  EXPECT_FALSE(plain.zOrderOf);
  std::ostringstream levels;
  ASSERT_EQ(ScriptOpenStream(levels, "a.kpl", plain), 0);
  EXPECT_NE(levels.str().find("Z1="), std::string::npos);
  resetScriptState();
  freeTable();
}

// Planes with their bounding curve, and flashes.
TEST_F(ConvertEngine, PlanesAndFlashes) {
  igestest::Builder b;
  const int l1 = b.add(110, "0.,0.,0.,4.,0.,0.;");
  const int l2 = b.add(110, "4.,0.,0.,0.,3.,0.;");
  const int l3 = b.add(110, "0.,3.,0.,0.,0.,0.;");
  const int boundary = b.add(102, joinPointers({l1, l2, l3}));
  const int plane = b.add(108, "0.,0.,1.,0.," + std::to_string(boundary) + ",0.,0.,0.,0.;", 1);
  const int open = b.add(108, "0.,0.,1.,0.,0,0.,0.,0.,0.;");
  const int flash = b.add(125, "5.,6.,4.,2.,0.,0;", 2);
  // A point cannot bound a plane: report 225, the point is written alone.
  const int point = b.add(116, "7.,7.,0.;");
  const int pointPlane = b.add(108, "0.,0.,1.,0.," + std::to_string(point) + ",0.,0.,0.,0.;", 1);
  ASSERT_EQ(convert(b), 0);
  const kpl::Script s = script();
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_EQ(s.planes, 1);
  EXPECT_EQ(occurrences(out_.str(), "DTCreatePlaneOfContour"), 1);
  EXPECT_EQ(states({plane, boundary, open, flash}), "ddic");
  EXPECT_EQ(reported(225), 1);
  EXPECT_EQ(states({pointPlane, point}), "ed");
  ASSERT_EQ(s.circles.size(), 2u);
  EXPECT_NEAR(s.circles[0].radius, 2, 1e-9);
  EXPECT_NEAR(s.circles[1].radius, 1, 1e-9);
}

// The composite curve, plane and flash layouts are read by one rule: an
// element whose parameter-pass record is gone is read again by the pass's
// reader and gives the same record.
TEST_F(ConvertEngine, LayoutsReadAgainGiveThePassRecords) {
  igestest::Builder b;
  const int l1 = b.add(110, "0.,0.,0.,4.,0.,0.;");
  const int l2 = b.add(110, "4.,0.,0.,0.,3.,0.;");
  const int composite = b.add(102, joinPointers({l1, l2}));
  const int plane = b.add(108, "0.,0.,1.,2.," + std::to_string(composite) + ",1.,2.,3.,4.;", 1);
  const int flash = b.add(125, "5.,6.,4.,2.,0.5," + std::to_string(l1) + ";", 2);
  read(b);
  const std::int32_t ci = indexOfPointer(composite), pi = indexOfPointer(plane),
                     fi = indexOfPointer(flash);
  const CompositeRecord passComposite = *dynamic_cast<CompositeRecord*>(element(ci).params.get());
  const PlaneRecord passPlane = *dynamic_cast<PlaneRecord*>(element(pi).params.get());
  const SurfaceRecord passFlash = *dynamic_cast<SurfaceRecord*>(element(fi).params.get());
  for (std::int32_t i : {ci, pi, fi}) element(i).params.reset();

  const Transform* matrix = nullptr;
  const CompositeRecord* c = nullptr;
  ASSERT_EQ(readComposite(ci, c, matrix), 0);
  EXPECT_EQ(c->constituents, passComposite.constituents);
  EXPECT_EQ(c->constituents, (std::vector<std::int32_t>{indexOfPointer(l1), indexOfPointer(l2)}));
  const PlaneRecord* p = nullptr;
  ASSERT_EQ(readPlane(pi, p, matrix), 0);
  EXPECT_EQ(p->boundary, passPlane.boundary);
  EXPECT_EQ((std::vector<double>{p->a, p->b, p->c, p->d, p->symbolPoint.x, p->symbolPoint.y,
                                 p->symbolPoint.z, p->symbolSize}),
            (std::vector<double>{0, 0, 1, 2, 1, 2, 3, 4}));
  const SurfaceRecord* f = nullptr;
  ASSERT_EQ(readFlash(fi, f, matrix), 0);
  EXPECT_EQ(std::tuple(f->values, f->values, f->curves),
            std::tuple(passFlash.values, (std::vector<double>{5, 6, 4, 2, 0.5}), passFlash.curves));
}

// The top-level driver: views and drawings ignored with their reports and
// trace texts.
TEST_F(ConvertEngine, DriverReportsIgnoredViews) {
  igestest::Builder b;
  const int view = b.add(410, "1,1.,0,0,0,0,0,0;");
  const int line = b.add(110, "0.,0.,0.,1.,0.,0.;");
  runSettings().viewMode = 0;
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  const std::string& out = console_;
  EXPECT_EQ(std::tuple(reported(445), reported(436)), std::tuple(1, 1));
  EXPECT_NE(out.find("-> cee100 : Viewbehandlung ausgeschaltet\n,            es werden alle "
                     "Drawings/Views ignoriert !"),
            std::string::npos);
  EXPECT_NE(out.find("-> cee100 : Kein Drawing in der IGES-Datei\n,            es werden alle "
                     "Views ignoriert !"),
            std::string::npos);
  EXPECT_EQ(states({view, line}), "id");

  // With view handling on and no drawing only the missing drawing is told.
  afresh();
  runSettings().viewMode = 1;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(std::tuple(reported(445), reported(436)), std::tuple(0, 1));
  EXPECT_EQ(state(line), 'd');

  // A drawing with its view: drawing mode, no report; the model is written
  // in the view's pass and the drawing and view end converted.
  afresh();
  igestest::Builder d;
  const int v = d.add(410, "1,1.,0,0,0,0,0,0;");
  const int l = d.add(110, "0.,0.,0.,1.,0.,0.;");
  const int drawing = d.add(404, "1," + std::to_string(v) + ",0.,0.,0;");
  runSettings().viewMode = 1;
  ASSERT_EQ(convert(d), 0);
  EXPECT_EQ(reported(445) + reported(436), 0);
  EXPECT_EQ(states({l, v, drawing}), "ddd");
  EXPECT_EQ(script().lines.size(), 1u);
}

}  // namespace

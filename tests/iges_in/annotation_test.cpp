// Notes, leaders, dimensions, labels, general symbols and sectioned areas of
// the IGES input, converted from small files: the statements they become,
// and the states their elements end in.
#include "iges_in/conversion_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/iges_annotation.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "iges_in/kpl_reader.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

class Annotation : public ConversionTest {};

std::string note(const std::string& text, int font = 1, double x = 1, double y = 2) {
  std::ostringstream o;
  o << "1," << text.size() << ",2.,1.," << font << ",0.,0.,0,0," << x << ".," << y << ".,0.," << text.size() << "H"
    << text << ";";
  return o.str();
}
// A leader with its head at (hx, hy) through the points.
std::string leader(double hx, double hy, const std::vector<std::pair<int, int>>& points) {
  std::ostringstream o;
  o << points.size() << ",1.,2.,0.," << hx << ".," << hy << ".";
  for (const auto& [x, y] : points) o << "," << x << ".," << y << ".";
  o << ";";
  return o.str();
}
std::string ptr(int de) { return std::to_string(de); }

// A note becomes a text statement and a leader its lines with the two
// sides of the arrow; a note carrying the program's own attributes is not
// converted; at level G1 alone both give warning 190 and 'e'.
TEST_F(Annotation, NotesAndLeaders) {
  igestest::Builder b;
  const int n = b.add(212, note("HELLO"));
  const int own = b.add(212, "4,4,1.,1.,1,0.,0.,0,0,0.,0.,0.,4HCO=1,4,1.,1.,1,0.,0.,0,0,0.,0.,0.,4HNR=2,"
                             "5,1.,1.,1,0.,0.,0,0,0.,0.,0.,5HFLG=3,6,1.,1.,1,0.,0.,0,0,0.,0.,0.,6HTEXT=x;");
  const int l = b.add(214, leader(0, 0, {{5, 0}, {5, 5}}), 1);
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({n, own, l}), "did");
  EXPECT_EQ(std::tuple(occurrences(out_.str(), "HELLO"), occurrences(out_.str(), "FLG=")), std::tuple(1, 0))
      << out_.str();
  const kpl::Script s = kpl::readScript(out_.str());
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.lines.size(), 4u);

  afresh();
  runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({n, l}), "ee");
  EXPECT_EQ(reported(190), 3);
  EXPECT_EQ(occurrences(out_.str(), "HELLO"), 0);
}

// Linear, angular, radius and diameter dimensions are written as the
// group "MASS.<n>" of their parts; a dimension inside a 402 form 13 only
// once, through the group.
TEST_F(Annotation, DimensionsAndDimensionGroups) {
  igestest::Builder b;
  const int n1 = b.add(212, note("10"));
  const int l1 = b.add(214, leader(0, 0, {{3, 0}}), 1);
  const int l2 = b.add(214, leader(10, 0, {{7, 0}}), 1);
  const int linear = b.add(216, ptr(n1) + "," + ptr(l1) + "," + ptr(l2) + ",0,0;");
  const int n2 = b.add(212, note("45"));
  const int l3 = b.add(214, leader(20, 0, {{20, 5}}), 1);
  const int angular = b.add(202, ptr(n2) + ",0,0,0.,0.,5.," + ptr(l3) + ",0;");
  const int n3 = b.add(212, note("30"));
  const int l4 = b.add(214, leader(40, 0, {{43, 0}}), 1);
  const int inGroup = b.add(216, ptr(n3) + "," + ptr(l4) + ",0,0,0;");
  const int group = b.add(402, "1,0," + ptr(inGroup) + ";", 13);
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({linear, angular, inGroup, group}), "dddd");
  const std::string out = out_.str();
  // The dimension writer takes the linear and the angular dimension; their
  // notes and leaders are not written by themselves.
  EXPECT_EQ(occurrences(out, "=DTCreateLinearDimension(\"pointpointhor\""), 1) << out;
  EXPECT_EQ(occurrences(out, "=DTCreateAngularDimension("), 1);
  EXPECT_EQ(occurrences(out, "\"10\""), 1);
  EXPECT_EQ(states({n1, l1}), "dd");
  // The group's dimension once, as the group of its parts.
  EXPECT_EQ(occurrences(out, "DTCreateGroup (\"MASS.1\""), 1);
  EXPECT_EQ(occurrences(out, "DTCreateGroup (\"MASS."), 1);
  EXPECT_EQ(occurrences(out, "\"30\""), 1);
  EXPECT_EQ(igesAnnotationState().dimensionGroups, 1);
  EXPECT_EQ(element(indexOfPointer(linear)).scriptObjects.size(), 1u);

  // G1 with B1 converts annotation too; G1 alone does not.
  afresh();
  runState().runMode = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({linear, group}), "dd");
  afresh();
  runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(states({linear, angular, group}), "eee");
  EXPECT_EQ(occurrences(out_.str(), "MASS."), 0);
}

// The radius search: an arc whose centre is the dimension's and whose
// radius reaches the arrow is found at level 1; an arc centred on the
// leader line at level 2; the counts are traced.
TEST_F(Annotation, RadiusSearch) {
  igestest::Builder b;
  const int arc = b.add(100, "0.,0.,0.,5.,0.,5.,0.;");
  const int other = b.add(100, "0.,20.,0.,25.,0.,25.,0.;");
  const int n = b.add(212, note("R5"));
  const int l = b.add(214, leader(5, 0, {{10, 0}}), 1);
  const int radius = b.add(222, ptr(n) + "," + ptr(l) + ",0.,0.,0;");
  runSettings().traceLevel = 5;
  ASSERT_EQ(convert(b), 0);
  EXPECT_EQ(state(radius), 'd');
  const DimensionRecord* rec = dynamic_cast<const DimensionRecord*>(element(indexOfPointer(radius)).params.get());
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(rec->arc, indexOfPointer(arc));
  EXPECT_EQ(igesAnnotationState().level1.size(), 1u);
  EXPECT_EQ(igesAnnotationState().level2, std::vector<std::int32_t>{indexOfPointer(other)});
  EXPECT_EQ(occurrences(out_.str(), "= DTCreateRadiusDimension ("), 1) << out_.str();
  // The arc the dimension measures is written before it, and only once.
  EXPECT_EQ(kpl::readScript(out_.str()).circles.size(), 2u);
  EXPECT_EQ(state(arc), 'd');
  EXPECT_NE(console_.find("Suchen Level 1, Anzahl gefundener Kreis(-boegen) fuer Radienmass : 1\n"), std::string::npos);

  // A diameter dimension without a matching arc finds none.
  afresh();
  igestest::Builder d;
  d.add(100, "0.,50.,50.,52.,50.,52.,50.;");
  const int dn = d.add(212, note("D5"));
  const int dl = d.add(214, leader(5, 0, {{10, 0}}), 1);
  const int diameter = d.add(206, ptr(dn) + "," + ptr(dl) + ",0,0.,0.;");
  ASSERT_EQ(convert(d), 0);
  EXPECT_EQ(state(diameter), 'd');
  EXPECT_TRUE(igesAnnotationState().level1.empty() && igesAnnotationState().level2.empty());
  // Without its arc the radius writer cannot express it: the group of its parts.
  EXPECT_EQ(occurrences(out_.str(), "DTCreateGroup (\"MASS.1\""), 1) << out_.str();
}

// A zero son count with linked sons is corrected with the three trace
// lines, and the dimension is converted.
TEST_F(Annotation, SonCountCorrected) {
  igestest::Builder b;
  const int n = b.add(212, note("7"));
  const int l1 = b.add(214, leader(0, 0, {{3, 0}}), 1);
  const int l2 = b.add(214, leader(7, 0, {{4, 0}}), 1);
  const int linear = b.add(216, ptr(n) + "," + ptr(l1) + "," + ptr(l2) + ",0,0;");
  read(b);
  element(indexOfPointer(linear)).sonCount = 0;
  runSettings().traceLevel = 1;
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(state(linear), 'd');
  EXPECT_EQ(element(indexOfPointer(linear)).sonCount, 3);
  EXPECT_NE(console_.find("cee512 : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht eingetragen !!!!!\n"
                          "                  Anzahl korrigiert -> ABLAUF KORREKT -> ldv966 korrigieren !!!!!\n"
                          "         Index in der lokalen Datenstruktur : " +
                          std::to_string(indexOfPointer(linear)) + "\n"),
            std::string::npos)
      << console_;
}

// Labels become symbol comments, a tolerance symbol the symbol form of its
// name, a sectioned area a plane; a label without sons gives error 510.
TEST_F(Annotation, LabelsSymbolsAndSectionedAreas) {
  igestest::Builder b;
  const int ln = b.add(212, note("A-A"));
  const int ll = b.add(214, leader(0, 0, {{5, 5}}), 1);
  const int label = b.add(210, ptr(ln) + ",1," + ptr(ll) + ";");
  const int lonely = b.add(210, "0,0;");
  const int sn = b.add(212, note("j", 1003));
  const int frame = b.add(110, "0.,0.,0.,10.,0.,0.;");
  const int symbol = b.add(228, ptr(sn) + ",1," + ptr(frame) + ",0;");
  const int circle = b.add(100, "0.,30.,0.,35.,0.,35.,0.;");
  const int area = b.add(230, ptr(circle) + ",1,0.,0.,0.,2.,0.785,0;");
  // A symbol that names no tolerance is the group of its parts.
  const int gn = b.add(212, note("X"));
  const int frame2 = b.add(110, "0.,20.,0.,10.,20.,0.;");
  const int grouped = b.add(228, ptr(gn) + ",1," + ptr(frame2) + ",0;");
  runSettings().traceLevel = 1;
  ASSERT_EQ(convert(b), 0);
  const std::string out = out_.str();
  EXPECT_EQ(states({label, lonely, symbol, grouped, area}), "didcd");
  EXPECT_EQ(occurrences(out, "DTCreateSymbolComment("), 1) << out;
  EXPECT_EQ(occurrences(out, "\"A-A\""), 1);
  EXPECT_EQ(reported(510), 1);
  EXPECT_EQ(occurrences(out, "DTCreateSymbolForm (TEXTFONT,0,1,1,\"position\""), 1) << out;
  EXPECT_EQ(element(indexOfPointer(symbol)).outputKind, 0);
  EXPECT_EQ(occurrences(out, "DTCreateGroup (\"Symbol" + std::to_string(indexOfPointer(grouped)) + "\""), 1);
  const ElementRecord& group = element(indexOfPointer(grouped));
  EXPECT_EQ(std::tuple(group.outputKind, group.outputSubKind), std::tuple(402, 7));
  EXPECT_EQ(kpl::readScript(out).planes, 1);
  EXPECT_NE(console_.find("-> cee465 : Begin of General Label, Depth = 1\n"), std::string::npos);
  EXPECT_NE(console_.find("-> cee650 : End   of General Symbol\n"), std::string::npos);
  EXPECT_EQ(std::tuple(toleranceSymbolName(1001, 'l'), toleranceSymbolName(1003, 'l'), toleranceSymbolName(1, 'j')),
            std::tuple("perpendic", "", ""));
}


// One string of a note's parameter data: the Hollerith text given whole
// ("2HAB", "3H   ", "1H ").
std::string noteString(const std::string& hollerith, double y) {
  std::ostringstream o;
  o << "2,2.,1.,1,0.,0.,0,0,1.," << y << ".,0.," << hollerith;
  return o.str();
}

// The content check of the note conversion: a string that shows nothing
// is left out, a note of such strings only is not converted, and a string
// without text ends the note, whose strings before it stay its own.
TEST_F(Annotation, NoteStringsTheContentCheckRejects) {
  struct Case {
    std::vector<std::string> strings;
    int texts;
    char state;
  };
  const std::vector<Case> cases = {
      {{"2HAB", "3H   ", "2HCD"}, 2, 'd'},
      {{"2H  ", "1H\t"}, 0, 'i'},
      {{"2HAB", "1H ", "2HCD"}, 1, 'd'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strings[1]);
    igestest::Builder b;
    std::string p = std::to_string(c.strings.size());
    for (std::size_t k = 0; k < c.strings.size(); ++k) p.append(",").append(noteString(c.strings[k], static_cast<double>(5 * k)));
    const int n = b.add(212, p + ";");
    ASSERT_EQ(convert(b), 0);
    const std::string out = out_.str();
    EXPECT_EQ(occurrences(out, "=DTCreateTextAbsolute("), c.texts) << out;
    EXPECT_EQ(std::tuple(occurrences(out, "\"AB\""), occurrences(out, "\"CD\""), state(n), created(n).size()),
              std::tuple(c.texts > 0 ? 1 : 0, c.texts > 1 ? 1 : 0, c.state, static_cast<std::size_t>(c.texts)));
    afresh();
  }
}

// The arrow heads of a dimension follow its leaders' forms through the
// installation's leader table (kinds 5, 6 and 9 are heads): the options
// name the ends that have one.
TEST_F(Annotation, ArrowKindsFromTheLeaderForms) {
  struct Case {
    int form1, form2;
    std::pair<long, long> firstPair;  // pair 1 of the leader table (kind, value)
    const char* option;               // nullptr: no arrow option
  };
  const std::vector<Case> cases = {
      {1, 1, {1, 1}, nullptr},
      {5, 1, {1, 1}, "\"arrow_right\" "},
      {1, 9, {1, 1}, "\"arrow_left\" "},
      {5, 1, {6, 1}, "\"two_points\" "},  // form 1 drawn as kind 6
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.form1) + "/" + std::to_string(c.form2) + " pair " +
                 std::to_string(c.firstPair.first));
    assignTables().leaders[0] = c.firstPair;
    igestest::Builder b;
    const int n = b.add(212, note("10"));
    const int l1 = b.add(214, leader(0, 0, {{3, 0}}), c.form1);
    const int l2 = b.add(214, leader(10, 0, {{7, 0}}), c.form2);
    const int linear = b.add(216, ptr(n) + "," + ptr(l1) + "," + ptr(l2) + ",0,0;");
    ASSERT_EQ(convert(b), 0);
    EXPECT_EQ(state(linear), 'd');
    const std::string out = out_.str();
    ASSERT_EQ(occurrences(out, "=DTCreateLinearDimension("), 1) << out;
    const int arrows = occurrences(out, "\"two_points\"") + occurrences(out, "\"arrow_right\"") +
                       occurrences(out, "\"arrow_left\"");
    EXPECT_EQ(arrows, c.option == nullptr ? 0 : 1) << out;
    if (c.option != nullptr) {
      EXPECT_EQ(occurrences(out, c.option), 1) << out;
    }
    afresh();
  }
}

// The radius search looks in the current view only: a diameter dimension
// of view 2 finds its arc when the arc is drawn in view 2, and none when
// the arc belongs to view 1 (the dimension is then the group of its parts).
TEST_F(Annotation, DiameterWhoseArcLiesInAnotherView) {
  for (const bool sameView : {true, false}) {
    SCOPED_TRACE(sameView);
    runSettings().viewMode = 1;
    igestest::Builder b;
    const int v1 = b.add(410, "1,1.,0,0,0,0,0,0;");
    const int v2 = b.add(410, "2,1.,0,0,0,0,0,0;");
    igestest::Entity arc{100, 0, "0.,0.,0.,5.,0.,5.,0.;"};
    arc.view = sameView ? v2 : v1;
    const int a = b.add(arc);
    igestest::Entity text{212, 0, note("D10")};
    text.status = "00010000";
    const int n = b.add(text);
    igestest::Entity arrow{214, 1, leader(5, 0, {{10, 0}})};
    arrow.status = "00010000";
    const int l = b.add(arrow);
    igestest::Entity dimension{206, 0, ptr(n) + "," + ptr(l) + ",0,0.,0.;"};
    dimension.view = v2;
    const int d = b.add(dimension);
    b.add(404, "2," + ptr(v1) + ",0.,0.," + ptr(v2) + ",100.,0.,0;");
    runSettings().traceLevel = 5;
    ASSERT_EQ(convert(b), 0);
    const std::string out = out_.str();
    EXPECT_EQ(state(d), 'd');
    EXPECT_EQ(occurrences(console_, "Suchen Level 1, Anzahl gefundener Kreis(-boegen) fuer Radienmass : "), 1);
    const DimensionRecord* rec = dynamic_cast<const DimensionRecord*>(element(indexOfPointer(d)).params.get());
    ASSERT_NE(rec, nullptr);
    if (sameView) {
      EXPECT_EQ(rec->arc, indexOfPointer(a));
      EXPECT_EQ(occurrences(out, "=DTCreateDiameterDimension ("), 1) << out;
      EXPECT_NE(console_.find("Suchen Level 1, Anzahl gefundener Kreis(-boegen) fuer Radienmass : 1\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(rec->arc, 0);
      EXPECT_TRUE(igesAnnotationState().level1.empty());
      EXPECT_TRUE(igesAnnotationState().level2.empty());
      EXPECT_EQ(occurrences(out, "DTCreateDiameterDimension"), 0);
      EXPECT_EQ(occurrences(out, "DTCreateGroup (\"MASS.1\""), 1) << out;
      EXPECT_NE(console_.find("Suchen Level 1, Anzahl gefundener Kreis(-boegen) fuer Radienmass : 0\n"),
                std::string::npos);
    }
    // The arc itself is drawn in its view either way.
    EXPECT_EQ(kpl::readScript(out).circles.size(), 1u);
    afresh();
  }
}

}  // namespace

// Structure statements of the script: groups, subfigure brackets, labels,
// symbols, symbol models and their instances, compared byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/script/script_stream.h"

namespace {

class ScriptStructure : public ScriptStreamTest {
 protected:
  void TearDown() override {
    ScriptStreamTest::TearDown();
    resetScriptStructureState();
  }
};

TEST_F(ScriptStructure, GroupStatementBreaksEveryTwentyMembers) {
  runSettings().graphicInfoMode = 1;
  open();
  ScriptGroupRecord g;
  g.name = "GRP.1";
  for (std::int32_t k = 101; k <= 125; ++k) g.members.push_back(k);
  g.reference = ScriptPointXYZ{1, 2, 0};
  ScriptMatrix m;
  m.t[0] = 10;
  m.t[1] = 20;
  std::vector<std::int32_t> created;
  const std::int32_t statements = scriptState().statementCounter;
  ASSERT_EQ(ScriptGroup(0, g, &m, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreateGroup (\"GRP.1\", {\n"
            "E101 E102 E103 E104 E105 E106 E107 E108 E109 E110 E111 E112 E113 E114 E115 E116 E117 E118 E119 E120 \n"
            "E121 E122 E123 E124 E125 },0,{7},{})\n"
            "SetGroupInfo (E2,11,22)\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{2});
  EXPECT_EQ(std::tuple(scriptState().elementCounter, scriptState().statementCounter), std::tuple(3, statements + 1));

  // A group without members writes nothing; a blanked group says so.
  g.members.clear();
  EXPECT_EQ(ScriptGroup(0, g, &m, created), -1);
  EXPECT_EQ(take(), "");
  runSettings().graphicInfoMode = 0;
  g.members = {7};
  g.attributes.blank = 1;
  ASSERT_EQ(ScriptGroup(0, g, nullptr, created), 0);
  EXPECT_EQ(take(), "E3=DTCreateGroup (\"GRP.1\", {\nE7 },1,{7},{})\n");
}

TEST_F(ScriptStructure, ReferencePointIsTheLastMemberAndUnknownTypesAreNamed) {
  runSettings().graphicInfoMode = 2;
  open();
  ScriptGroupRecord g;
  g.name = "G";
  g.members = {5, 6};
  g.reference = ScriptPointXYZ{3, 4, 0};
  std::vector<std::int32_t> created;
  ASSERT_EQ(ScriptGroup(0, g, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointRelative(E1,3,4,0,{7},{})\n"
            "name (E2, \"GRP_REFPK\")\n"
            "E3=DTCreateGroup (\"G\", {\nE5 E6  E2 },0,{7},{})\n"
            "SetGroupInfo (E3,3,4)\n");

  // Outside the view's clip box the reference point is left out.
  ScriptSetClipBox(100, 100, 200, 200);
  ASSERT_EQ(ScriptGroup(0, g, nullptr, created), 0);
  EXPECT_EQ(take(), "E4=DTCreateGroup (\"G\", {\nE5 E6 },0,{7},{})\nSetGroupInfo (E4,3,4)\n");
  ScriptClearClipBox();

  runSettings().graphicInfoMode = 0;
  g.data.type = 999;
  EXPECT_EQ(ScriptUnknownAssociativity(12, g, nullptr, created), -88);
  EXPECT_EQ(take(), "E5=DTCreateGroup (\"Unknown(999)12\", {\nE5 E6 },0,{7},{})\n");
}

TEST_F(ScriptStructure, EdxScriptBracketsSubfiguresAndWritesNoGroups) {
  // Trace output names the subfigure; a plain script gets no bracket.
  runSettings().traceLevel = 2;
  open();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ScriptSubfigureBegin(1, "BOLT"), 0);
  EXPECT_EQ(ScriptSubfigureEnd(1, "BOLT"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "-> ses497 : Begin of Subfigure 'BOLT' (1)\n-> ses498 : End   of Subfigure 'BOLT' (1)\n");
  EXPECT_EQ(take(), "");

  TearDown();
  SetUp();
  out_.str("");
  seen_ = 0;
  runState().edxOut = 1;
  open();
  std::vector<std::int32_t> created;
  ScriptElement point;
  ASSERT_EQ(ScriptSubfigureBegin(2, "NUT"), 0);
  ASSERT_EQ(ScriptPointElement(point, nullptr, ScriptPointXYZ{1, 1, 0}, created), 0);
  ScriptGroupRecord g;
  g.name = "GRP.1";
  g.members = created;
  EXPECT_EQ(ScriptGroup(0, g, nullptr, created), 0);
  ASSERT_EQ(ScriptSubfigureEnd(2, "NUT"), 0);
  EXPECT_EQ(take(), "DTStartGroup(\"NUT\")\nE2=DTCreatePointRelative(E1,1,1,0,{7},{})\nDTEndGroup(\"NUT\")\n");
  EXPECT_EQ(created.size(), 1u);
}

TEST_F(ScriptStructure, SymbolHeaderAndLinesBySendingSystem) {
  open();
  auto strings = [](std::initializer_list<const char*> texts) {
    std::vector<ScriptNoteString> out;
    for (const char* t : texts) out.push_back(ScriptNoteString{t, 2.5, 0.0, {}});
    return out;
  };
  ScriptSymbolRecord sym;
  sym.name = "SYM";
  sym.strings = strings({"A", "B", "x", "|", "y"});
  sym.anchor[0] = ScriptPointXYZ{1, 1, 0};
  sym.anchor[1] = ScriptPointXYZ{2, 1, 0};
  sym.direction[2] = 1;
  std::vector<std::int32_t> created;
  ASSERT_EQ(ScriptSymbolForm(0, sym, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointRelative(E1,1,1,0,{7},{})\n"
            "E3=DTCreatePointRelative(E1,2,1,0,{7},{})\n"
            "E4 = DTCreateSymbolForm (TEXTFONT,0,1,2.5,\"SYM\",\"x\",{\"y\" \"\"},E2,E3,{0,0,1},0,{7},{} )\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{4});

  const struct {
    std::vector<ScriptNoteString> strings;
    const char* header;
    std::vector<std::string> lines;
  } others[] = {
      {strings({"A", "B", "h1", "h2", "|", "a", "b", "|", "c"}), "h1h2", {"ab", "c"}},
      {strings({"A", "B", "h"}), "h", {}},
      {strings({"A", "B", "h", "|", "a", "|"}), "h", {"a"}},
      {strings({"A", "B", "|", "|", "a"}), "", {"", "a"}},
      {strings({"A"}), "", {}},
  };
  for (const auto& c : others) {
    std::string header;
    std::vector<std::string> lines;
    scriptSymbolTexts(c.strings, header, lines);
    EXPECT_EQ(header, c.header);
    EXPECT_EQ(lines, c.lines) << c.header;
  }

  // Sending system 6: the header runs while the strings change their line,
  // every string after it is a line; the height is the second string's.
  runState().senderCode = 6;
  sym.strings = {{"N", 1.0, 0, {0, 12, 0}}, {"H1", 3.0, 0, {0, 10, 0}}, {"H2", 3.0, 0, {0, 8, 0}},
                 {"L1", 3.0, 0, {5, 8, 0}}, {"L2", 3.0, 0, {0, 6, 0}}};
  ASSERT_EQ(ScriptSymbolForm(0, sym, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E5 = DTCreateSymbolForm (TEXTFONT,0,1,3,\"SYM\",\"H1H2\",{\"L1\" \"L2\" \"\"},E2,E3,{0,0,1},0,{7},{} )\n");

  // With members the symbol is a group of them.
  sym.members = {2, 3};
  EXPECT_EQ(ScriptSymbolForm(1, sym, nullptr, created), -88);
  EXPECT_EQ(take(), "E6=DTCreateGroup (\"Symbol1\", {\nE2 E3 },0,{7},{})\n");
}

TEST_F(ScriptStructure, LabelCommentAndItsTextHeight) {
  open();
  ScriptLabelRecord label;
  label.leader[0] = ScriptPointXYZ{1, 1, 0};
  label.leader[1] = ScriptPointXYZ{11, 1, 0};
  label.leader[2] = ScriptPointXYZ{11, 6, 0};
  label.note = ScriptNoteString{"NOTE \"1\"", 3.5, 1.5707963267948966, {}};
  label.viewCurrent = true;
  label.viewScale = 2.0;
  std::vector<std::int32_t> created;
  ASSERT_EQ(ScriptLabel(0, label, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E2=DTCreatePointRelative(E1,1,1,0,{7},{})\n"
            "E3=DTCreatePointSameY(E2,10,0,{7},{})\n"
            "E4=DTCreatePointSameX(E3,5,0,{7},{})\n"
            "E5=DTCreateSymbolComment(TEXTFONT,0,1,7,\"triangle\",90,\"NOTE \"1\"\",E2,0,E3,E4,{0,0,0},0,{7},{})\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{5});

  // Sending system 7 keeps the height of the note; the leader points are
  // registered already.
  runState().senderCode = 7;
  ASSERT_EQ(ScriptLabel(0, label, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E6=DTCreateSymbolComment(TEXTFONT,0,1,3.5,\"triangle\",90,\"NOTE \"1\"\",E2,0,E3,E4,{0,0,0},0,{7},{})\n");

  // A height or angle that is no number is written as 0.
  label.note.height = std::nan("");
  label.note.angle = HUGE_VAL;
  ASSERT_EQ(ScriptLabel(0, label, nullptr, created), 0);
  EXPECT_EQ(take(),
            "E7=DTCreateSymbolComment(TEXTFONT,0,1,0,\"triangle\",0,\"NOTE \"1\"\",E2,0,E3,E4,{0,0,0},0,{7},{})\n");

  label.members = {2, 3, 4};
  EXPECT_EQ(ScriptLabel(1, label, nullptr, created), -88);
  EXPECT_EQ(take(), "E8=DTCreateGroup (\"Label1\", {\nE2 E3 E4 },0,{7},{})\n");
}

TEST_F(ScriptStructure, SymbolModelsNumberTheirElementsAfresh) {
  runState().runMode = RunModeBit::kInput | RunModeBit::kPlus;
  runSettings().userElementMode = 1;
  ScriptSource source;
  source.subfiguresPending = true;
  open(source);

  // The model defines the levels it is given, each once.
  EXPECT_EQ(ScriptModelNew("", {3}), -1);
  ASSERT_EQ(ScriptModelNew("BOLT", {4, 3, 4}), 0);
  EXPECT_EQ(take(),
            "input_new(true,\"BOLT\")\n"
            "delete(top.list_world.first)\n"
            "delete(origin)\n"
            "P0=DTCreateAngleAbsolute(0,\"\")\n"
            "P1=DTCreateLengthAbsolute(1,\"\")\n"
            "MZ=DTCreateLengthAbsolute(0,\"Master Z\")\n"
            "DZ=DTCreateLengthAbsolute(1,\"Delta  Z\")\n"
            "C0=DTCreateWorldRotaScale(origin,P0,P1,P1,1)\n"
            "BLNK = DTCreateLayer (\"blanked\", \"inactive\", {0})\n"
            "E1=DTCreatePointOrigin(C0,\"\")\n"
            "delete(E1)\n"
            "Z3=DTCreateLengthSum(MZ,DTCreateLengthProd(-3,DZ,\"\"),\"\")\n"
            "Z4=DTCreateLengthSum(MZ,DTCreateLengthProd(-4,DZ,\"\"),\"\")\n");
  EXPECT_EQ(ScriptPointBare(nullptr, ScriptPointXYZ{5, 5, 0}), 2);
  take();
  ASSERT_EQ(ScriptModelSave("BOLT"), 0);
  EXPECT_EQ(take(), "inpar(origin)\ninpar(P0)\ninpar(P1)\ninpar(MZ)\ninpar(DZ)\noutput_save(\"BOLT\")\n");
  EXPECT_EQ(std::tuple(scriptState().elementCounter, scriptState().lengthCounter), std::tuple(1, 1));

  ASSERT_EQ(ScriptModelCreate({8, 7}), 0);
  const std::string main = take();
  const std::string head = "cd(HOME)\nmodel_create(IGES_NAME)\n\nC0=DTGetWorld ()\n";
  EXPECT_EQ(main.substr(0, head.size()), head);
  EXPECT_NE(main.find("E1=DTCreatePointOrigin(C0,\"iges_origin\")\n"), std::string::npos);
  const std::string levels = "Z7=DTCreateLengthSum(MZ,DTCreateLengthProd(-7,DZ,\"\"),\"\")\n"
                             "Z8=DTCreateLengthSum(MZ,DTCreateLengthProd(-8,DZ,\"\"),\"\")\n";
  ASSERT_GE(main.size(), levels.size());
  EXPECT_EQ(main.substr(main.size() - levels.size()), levels);
  // The point of the symbol model is unknown to the main model.
  EXPECT_EQ(ScriptPointBare(nullptr, ScriptPointXYZ{5, 5, 0}), 2);
  EXPECT_EQ(take(), "E2=DTCreatePointRelative(E1,5,5,0,{0},{})\n");
}

// The image of the definition's point p under the statements written:
// user_symbol at E<p> turned by P0 and scaled by P1, then, when present,
// the mirror in the line through E<p> at the angle P0.
ScriptPointXYZ placedBySymbolStatements(const std::string& text, const ScriptPointXYZ& at,
                                        const ScriptPointXYZ& p) {
  const double kRad = 3.14159265358979323846 / 180.0;
  const double phi = std::stod(text.substr(text.find("DTCreateAngleAbsolute(") + 22)) * kRad;
  const double s = std::stod(text.substr(text.find("P1=DTCreateLengthAbsolute(") + 26));
  double x = s * (std::cos(phi) * p.x - std::sin(phi) * p.y);
  double y = s * (std::sin(phi) * p.x + std::cos(phi) * p.y);
  if (text.find("user_mirror(") != std::string::npos) {
    const double c = std::cos(2 * phi), n = std::sin(2 * phi);
    const double mx = c * x + n * y, my = n * x - c * y;
    x = mx;
    y = my;
  }
  return ScriptPointXYZ{at.x + x, at.y + y, 0};
}

TEST_F(ScriptStructure, InstancesAndTheMirrorConstruction) {
  open();
  ScriptSetSymbolModelDirectory("/models");
  ScriptInstanceRecord inst;
  inst.definition = "BOLT";
  inst.position = ScriptPointXYZ{10, 20, 0};
  inst.angle = 30;
  inst.scale = 2;
  inst.mirrored = true;
  inst.level = 4;
  std::vector<std::int32_t> created;
  ASSERT_EQ(ScriptSymbolInstance(0, inst, nullptr, created), 0);
  const std::string mirrored = take();
  EXPECT_EQ(mirrored,
            "E2=DTCreatePointRelative(E1,10,20,0,{0},{})\n"
            "P0=DTCreateAngleAbsolute(210,\"\")\n"
            "P1=DTCreateLengthAbsolute(2,\"\")\n"
            "E3=user_symbol(\"/models/BOLT\",E2,P0,P1,Z4,length_qotient(DZ,10))\n"
            "E4=line_pointalfalength(,,\"not_limited\",E2,P0,100.0,\"beginv\")\n"
            "E5=user_mirror(E4,E3)\n"
            "delete({E4,E3})\n");
  EXPECT_EQ(created, std::vector<std::int32_t>{5});

  // The statements place every point of the definition where the instance
  // puts it, with and without a matrix that turns or mirrors.
  const double kRad = 3.14159265358979323846 / 180.0;
  ScriptMatrix turn;
  turn.r[0][0] = 0, turn.r[0][1] = -1, turn.r[1][0] = 1, turn.r[1][1] = 0;
  turn.t[0] = 5;
  ScriptMatrix flip;
  flip.r[0][0] = -3;
  flip.r[1][1] = 3;
  ScriptMatrix* matrices[] = {nullptr, &turn, &flip};
  for (ScriptMatrix* m : matrices) {
    for (bool mirror : {false, true}) {
      for (double angle : {0.0, 30.0, -100.0, 250.0}) {
        inst.mirrored = mirror;
        inst.angle = angle;
        std::vector<std::int32_t> made;
        ASSERT_EQ(ScriptSymbolInstance(0, inst, m, made), 0);
        const std::string text = take();
        const ScriptPointXYZ at = scriptTransform(m, inst.position);
        for (const ScriptPointXYZ p : {ScriptPointXYZ{1, 0, 0}, ScriptPointXYZ{0.3, -2, 0}}) {
          const double px = mirror ? -p.x : p.x;
          const double a = angle * kRad;
          const ScriptPointXYZ local{inst.position.x + inst.scale * (std::cos(a) * px - std::sin(a) * p.y),
                                     inst.position.y + inst.scale * (std::sin(a) * px + std::cos(a) * p.y), 0};
          const ScriptPointXYZ want = scriptTransform(m, local);
          const ScriptPointXYZ got = placedBySymbolStatements(text, at, p);
          EXPECT_NEAR(got.x, want.x, 1e-6) << text;
          EXPECT_NEAR(got.y, want.y, 1e-6) << text;
        }
      }
    }
  }

  // An element of the table gets its info; no directory, no path.
  ScriptSetSymbolModelDirectory("");
  inst.mirrored = false;
  inst.angle = 45;
  inst.data.type = 408;
  inst.data.sequence = 13;
  inst.data.parameterPointer = 7;
  inst.data.name = "INST";
  ASSERT_EQ(ScriptSymbolInstance(7, inst, nullptr, created), 0);
  const std::string info = take();
  const std::int32_t n = created.back();
  EXPECT_NE(info.find("P0=DTCreateAngleAbsolute(45,\"\")\n"), std::string::npos);
  EXPECT_NE(info.find("=user_symbol(\"BOLT\","), std::string::npos);
  EXPECT_NE(info.find("set_igesinfo(E" + std::to_string(n) + ",\"-\",408,0,13,7)\n"), std::string::npos);
  inst.definition.clear();
  EXPECT_EQ(ScriptSymbolInstance(7, inst, nullptr, created), -1);
}

}  // namespace

// Statements of the script writer core, compared byte for byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "script/script_writer.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

class ScriptCore : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
  }
  void TearDown() override { resetScriptState(); }

  // Opens on the string stream, after the prologue; returns what the
  // prologue and level list wrote.
  void open(double scale = 1.0) {
    ScriptSource source;
    source.unitFlag = 2;
    source.unitName = "MM";
    source.modelScale = scale;
    ASSERT_EQ(ScriptOpenStream(out_, "/tmp/x/drawing.kpl", source), 0);
  }
  // The text written since the last call.
  std::string take() {
    const std::string all = out_.str();
    const std::string part = all.substr(seen_);
    seen_ = all.size();
    return part;
  }
  std::ostringstream out_;
  std::size_t seen_ = 0;
};

TEST_F(ScriptCore, NumbersUseTenSignificantDigits) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{0.5, "0.5"}, {1234.5678912345, "1234.567891"}, {1e-12, "1e-12"}, {5.0, "5"}, {-25.4, "-25.4"}};
  for (const auto& c : cases) EXPECT_EQ(scriptNumber(c.value), c.text) << c.value;
}

// The digits of every number are printf's: at powers of ten on either side,
// at the halves where the rounding turns, at the edges of the fixed form,
// and on values of drawings (grid steps, thirds, converted inches).
TEST_F(ScriptCore, NumbersAreThoseOfPrintfAtEveryMagnitude) {
  std::vector<double> values = {0.0, -0.0, 1e-4, 9.9999999995e-5, 9.99999999949e-5, 9999999999.5, 9999999999.4,
                                1e10, 0.1, 0.3, 2.5, 1.0 / 3.0, 25.4, 123456789.05, 1.00000000005, 0.00012345678915};
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> unit(1.0, 10.0);
  std::uniform_int_distribution<int> power(-7, 12);
  for (int i = 0; i < 200000; ++i) {
    const double p = std::pow(10.0, power(random));
    values.push_back(unit(random) * p);
    // A decimal of eleven digits ending in 5: the tenth digit is a tie.
    values.push_back(std::round(unit(random) * 1e9) * p / 1e9 + 5.0 * p / 1e10);
    values.push_back(std::nextafter(p, 0.0));
    values.push_back(-1.25 * (i % 5000) - 0.75 * (i / 5000) / 3.0);
    values.push_back((i % 1000) / 25.4);
  }
  char expected[40];
  for (const double v : values) {
    std::snprintf(expected, sizeof expected, "%.10g", v);
    ASSERT_EQ(scriptNumber(v), expected) << std::hexfloat << v;
  }
}

TEST_F(ScriptCore, PrologueWithScaleOneAndTwo) {
  const std::string common =
      "C0=DTGetWorld ()\n"
      "// Benoetigte (verwendete) Systemeinstellungen ermitteln\n"
      "TEXTFONT=DTGetDefaultFont()\n"
      "DTSetSessionDefaults()\n"
      "BLNK=DTCreateLayer(\"255\", \"inactive\", {0})\n"
      "Z=DTCreateLengthAbsolute(0,\"\")\n"
      "MZ=DTCreateLengthAbsolute(0,\"iges_mz\")\n"
      "DZ=DTCreateLengthAbsolute(1,\"iges_dz\")\n"
      "E1=DTCreatePointOrigin(C0,\"iges_origin\")\n";
  open(1.0);
  std::string text = take();
  std::size_t at = text.find("C0=DTGetWorld");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.substr(at), common);
  EXPECT_EQ(scriptState().elementCounter, 2);

  TearDown();
  SetUp();
  out_.str("");
  seen_ = 0;
  open(2.0);
  text = take();
  at = text.find("C0=DTGetWorld");
  EXPECT_EQ(text.substr(at), common + "C0=DTCreateWorldFirstRota(E1,0.0,2)\nE2=DTCreatePointOrigin(C0,\"\")\n");
  EXPECT_EQ(scriptState().reference.number, 2);
}

TEST_F(ScriptCore, HeaderStepsFollowTheSettings) {
  runSettings().tlvvMode = 1;
  runSettings().userElementMode = 0;
  runSettings().graphicInfoMode = 1;
  runPaths().scriptIncludeDir = "/inc/";
  open();
  const std::string text = take();
  EXPECT_NE(text.find("include /inc/zirovuvod_createfunc.inc\nDTSetTLVVersion (4)\nAKT_UNIT=\"MM\"\n"
                      "file \"iges_kpl.err\" error_output\nfunction user_mirror(line,user)\n"),
            std::string::npos);
  EXPECT_NE(text.find("  ret = group_abs (user.filename,group)\n  return (ret)\nend\n"), std::string::npos);
  EXPECT_NE(text.find("function SetGroupInfo ( id, refx, refy )\n  create_attrib(id,\"IGES_REFX\")\n"
                      "  set_attrib(id,\"IGES_REFX\",refx)\n"),
            std::string::npos);
  EXPECT_EQ(text.find("prompt"), std::string::npos);
  EXPECT_EQ(text.find("show_status_percent"), std::string::npos);
  EXPECT_NE(text.find("if program.unit = \"inch\" then IGES_UNIT = false drawing_inch_mm(true) end\n"),
            std::string::npos);
  // Classic mode also drops the closing progress statement.
  ScriptClose();
  const std::string closing = take();
  EXPECT_EQ(closing,
            "edit(top,,\"active\",)\nif program.mode != \"batch\" then view_full() end\n"
            "if valid(IGES_UNIT)then drawing_inch_mm(IGES_UNIT) end\nDTRestoreSystemDefaults()\n");
}

TEST_F(ScriptCore, UnitsByTheFileOrTheSetting) {
  const struct {
    int unitMode, flag;
    const char* name;
    double scale;
    bool inchStatement, mmStatement;
  } cases[] = {
      {kNotSet, 1, "", 25.4, true, false}, {kNotSet, 2, "", 1.0, false, true},
      {kNotSet, 3, "IN", 25.4, true, false}, {kNotSet, 3, "MM", 1.0, false, true},
      {kNotSet, 3, "FT", 1.0, false, false}, {2, 1, "", 1.0, false, true},
      {1, 2, "", 25.4, true, false},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    runSettings().unitMode = c.unitMode;
    std::ostringstream out;
    ScriptSource source;
    source.unitFlag = c.flag;
    source.unitName = c.name;
    ScriptOpenStream(out, "a.kpl", source);
    const std::string text = out.str();
    EXPECT_EQ(scriptState().unitScale, c.scale) << c.flag << c.name;
    EXPECT_EQ(text.find("drawing_inch_mm(false)") != std::string::npos, c.inchStatement) << c.flag << c.name;
    EXPECT_EQ(text.find("drawing_inch_mm(true)") != std::string::npos, c.mmStatement) << c.flag << c.name;
  }
}

TEST_F(ScriptCore, PointsReuseRegisteredNumbers) {
  open();
  take();
  const ScriptAttributes a;
  const ScriptPointXYZ p{10, 20, 0};
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, p), 2);
  EXPECT_EQ(take(), "E2=DTCreatePointRelative(E1,10,20,0,{7},{})\n");
  // Within the tolerance in x and y: the same point, no statement.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{10.00005, 19.99995, 7}), 2);
  EXPECT_EQ(take(), "");
  // Further points relative to the first.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, &p, ScriptPointXYZ{15, 20, 0}), 3);
  EXPECT_EQ(take(), "E3=DTCreatePointSameY(E2,5,0,{7},{})\n");
  EXPECT_EQ(ScriptPoint(0, a, nullptr, &p, ScriptPointXYZ{10, 12.5, 0}), 4);
  EXPECT_EQ(take(), "E4=DTCreatePointSameX(E2,-7.5,0,{7},{})\n");
  // An unregistered reference is written as E0.
  const ScriptPointXYZ unknown{99, 99, 0};
  EXPECT_EQ(ScriptPoint(0, a, nullptr, &unknown, ScriptPointXYZ{100, 99, 0}), 5);
  EXPECT_EQ(take(), "E5=DTCreatePointSameY(E0,1,0,{7},{})\n");
  // The failed reference lookup registered nothing: the reference point
  // itself is still written.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, unknown), 6);
}

TEST_F(ScriptCore, PointOnItsReferenceCollapses) {
  open();
  take();
  const ScriptAttributes a;
  const ScriptPointXYZ p{1, 1, 0};
  ScriptPoint(0, a, nullptr, nullptr, p);
  take();
  // The registry keeps the tolerance it started with (1e-4); the offsets
  // are compared with the run's point tolerance, divided by 100.
  scriptState().pointTolerance = 1.0;
  EXPECT_EQ(ScriptPoint(0, a, nullptr, &p, ScriptPointXYZ{1.005, 0.995, 0}), 3);
  EXPECT_EQ(ScriptPoint(0, a, nullptr, &p, ScriptPointXYZ{1.02, 1.005, 0}), 4);
  EXPECT_EQ(ScriptPointBare(&p, ScriptPointXYZ{1.0, 0.97, 0}), 5);
  EXPECT_EQ(take(), "E3=E2\nE4=DTCreatePointSameY(E2,0.02,0,{7},{})\nE5=DTCreatePointSameX(E2,-0.03,0,{0},{})\n");
  // The collapsed point is registered like any other.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{1.005, 0.995, 0}), 3);
}

TEST_F(ScriptCore, LengthsAndTheirInverse) {
  runSettings().pointMode = 0;
  open();
  take();
  // Lengths asked for in this order, each with the variable it gives.
  const auto expectLengths = [](std::initializer_list<std::pair<double, int>> rows) {
    for (const auto& [length, variable] : rows) EXPECT_EQ(ScriptLength(length), variable) << length;
  };
  expectLengths({{5.0, 1}, {-5.0, 2}, {5.0000001, 1}, {-7.0, 3}, {7.0, 4}});
  EXPECT_EQ(take(),
            "L1=DTCreateLengthAbsolute(5,\"\")\nL2=length_inverse(L1)\n"
            "L3=DTCreateLengthAbsolute(-7,\"\")\nL4=length_inverse(L3)\n");
  // A length within the tolerance (1e-6) of two lengths takes the older one,
  // whichever of the two it is.
  expectLengths({{9.0000015, 5}, {9.0, 6}, {9.0000008, 5}, {11.0, 7}, {11.0000015, 8}, {11.0000008, 7}});
  take();
  // Points in length mode write the variables first.
  ScriptPoint(0, ScriptAttributes{}, nullptr, nullptr, ScriptPointXYZ{5, -7, 0});
  EXPECT_EQ(take(), "E2=DTCreatePointRelative(E1,L1,L3,0,{7},{})\n");
}

TEST_F(ScriptCore, OffsetsTheSystemCannotTake) {
  open();
  take();
  const ScriptAttributes a;
  const int warnings = mfaCounts().warnings;
  // The first point far away: the reference point moves there.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{3e9, 5, 0}), 2);
  EXPECT_EQ(take(), "E2=DTCreatePointSameX(E1,5,0,{7},{})\n");
  EXPECT_EQ(scriptState().reference.x, 3e9);
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{3e9 + 10, 5, 0}), 3);
  EXPECT_EQ(take(), "E3=DTCreatePointRelative(E1,10,5,0,{7},{})\n");
  // Later ones are put on the reference point; a point that is no number
  // is never taken for one already written.
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{-3e9, std::nan(""), 0}), 4);
  EXPECT_EQ(ScriptPoint(0, a, nullptr, nullptr, ScriptPointXYZ{-3e9, std::nan(""), 0}), 5);
  EXPECT_EQ(take(), "E4=E1\nE5=E1\n");
  EXPECT_EQ(mfaCounts().warnings - warnings, 5);
  EXPECT_EQ(scriptState().reference.x, 3e9);
}

TEST_F(ScriptCore, HeaderOfEachInput) {
  const struct {
    std::uint32_t format;
    const char *errorFile, *prompt, *refx, *prefix;
  } cases[] = {
      {0, "file \"iges_kpl.err\" error_output\n", "prompt (\"(IGES) ", "IGES_REFX", "iges_"},
      {RunModeBit::kDxf, "file \"dxf_kpl.err\" error_output\n", "prompt (\"(DXF) ", "DXF_REFX", "dxf_"},
      {RunModeBit::kDwg, "file \"dwg_kpl.err\" error_output\n", "prompt (\"(DWG) ", "DWG_REFX", "dwg_"},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    runState().runMode |= c.format;
    runSettings().graphicInfoMode = 2;
    runSettings().textMode = 3;
    std::ostringstream out;
    ScriptSource source;
    source.unitFlag = 2;
    ASSERT_EQ(ScriptOpenStream(out, "C:\\work\\parts/bracket.kpl", source), 0);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("/* created by ", 0), 0u) << text;
    EXPECT_NE(text.find(c.errorFile), std::string::npos) << c.prefix;
    EXPECT_NE(text.find(c.prompt + mfaMessageText(1105) + " bracket.kpl\")\nshow_status_percent (0)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("function SetGroupInfo ( id, refx, refy )\n  create_attrib(id,\"") + c.refx +
                        "\",refx)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(std::string("MZ=DTCreateLengthAbsolute(0,\"") + c.prefix + "mz\")\n"), std::string::npos);
    EXPECT_EQ(text.find("TEXTFONT"), std::string::npos);  // textMode "ign"
    EXPECT_EQ(text.find("user_mirror"), std::string::npos);  // subfigures dissolved
  }

  // The EDX output writes its script beside the output file.
  TearDown();
  SetUp();
  runState().edxOut = 1;
  const std::string name = ::testing::TempDir() + "script_header_edx";
  ScriptSource source;
  source.unitFlag = 2;
  ASSERT_EQ(ScriptOpen(name, source), 0);
  ASSERT_EQ(ScriptClose(), 0);
  std::ifstream in(name + ".kpl");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("EDXFILENAME=\"" + name + "\"\n"), std::string::npos);
  std::remove((name + ".kpl").c_str());
  EXPECT_EQ(ScriptOpen("/nonexistent-dir/x/y.kpl", source), -7);
}

TEST_F(ScriptCore, SubfigurePassDefersThePrologue) {
  runState().runMode = RunModeBit::kInput | RunModeBit::kPlus;
  runSettings().userElementMode = 1;
  ScriptSource source;
  source.unitFlag = 2;
  source.modelScale = 2.0;
  source.subfiguresPending = true;
  source.symbolModelDir = "/models/";
  ASSERT_EQ(ScriptOpenStream(out_, "a.kpl", source), 0);
  const std::string text = take();
  const std::string tail = "IGES_NAME = top.filename\nmodel_save(top,true,false,IGES_NAME)\nHOME=wd()\n"
                           "cd(\"/models/\")\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.find("DTGetWorld"), std::string::npos);
  EXPECT_NE(text.find("function user_mirror(line,user)\n"), std::string::npos);
  // The prologue written later keeps the model's scale.
  ScriptPrologue();
  EXPECT_NE(take().find("C0=DTCreateWorldFirstRota(E1,0.0,2)\n"), std::string::npos);
}

TEST_F(ScriptCore, LineStyleInItsThreeForms) {
  const struct {
    int tlvv, font;
    double width;
    const char* text;
  } cases[] = {
      {99, 2, 0.35, "{\"dashed\"0.350}"}, {99, 1, 1.0, "{\"solid\"1.00}"},
      {1, 3, 2.7, "{\"dashdotted\" 2}"},  {1, 9, 5.0, "{\"solid\" 3}"},
      {9999, 7, 0.5, "{\"7\" 0.5}"},      {9999, 0, 0.25, "{\"1\" 0.25}"},
  };
  for (const auto& c : cases) {
    runSettings().tlvvMode = c.tlvv;
    EXPECT_EQ(ScriptLineStyle(c.font, c.width), c.text);
  }
}

// The blocks appended to a statement being built are the texts the
// returning forms give, with the same count of statements, also when a
// style repeats (the writer keeps the last one) or the mode changes.
TEST_F(ScriptCore, AppendedBlocksAreTheReturnedOnes) {
  const struct {
    int tlvv, font;
    double width;
  } styles[] = {{9999, 2, 0.5}, {9999, 2, 0.5}, {99, 2, 0.5}, {99, 2, 0.5}, {1, 2, 0.5},
                {9999, 9, 0.5}, {9999, 1, 0.5}, {9999, 1, 0.25}, {9999, 1, 0.5}};
  for (const auto& c : styles) {
    runSettings().tlvvMode = c.tlvv;
    const std::int32_t before = scriptState().statementCounter;
    std::string appended = "x";
    scriptAppendLineStyle(appended, c.font, c.width);
    EXPECT_EQ(scriptState().statementCounter, before + 1);
    EXPECT_EQ(appended.substr(1), ScriptLineStyle(c.font, c.width)) << c.tlvv << " " << c.font << " " << c.width;
  }
  const struct {
    int tlvv, cad, r, g, b;
  } colours[] = {{0, -3, 10, 20, 30}, {1, -3, 10, 20, 30}, {0, 5, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, -2147483647, 0, 0, 0}};
  for (const auto& c : colours) {
    runSettings().tlvvMode = c.tlvv;
    std::string appended;
    scriptAppendColourTextOf(appended, c.cad, c.r, c.g, c.b);
    EXPECT_EQ(appended, ScriptColourTextOf(c.cad, c.r, c.g, c.b));
  }
  const struct {
    std::int32_t level;
    const char* text;
  } levels[] = {{0, "Z0"}, {4, "Z4"}, {-3, "Z_3"}, {-2147483647 - 1, "Z_2147483648"}};
  for (const auto& c : levels) {
    std::string appended;
    scriptAppendZRef(appended, 1, c.level);
    EXPECT_EQ(appended, c.text);
  }
}

// Texts lent for statements: one lent inside another is a text of its own,
// and a text lent again after its return is empty.
TEST_F(ScriptCore, ScratchTextsNest) {
  ScriptScratch outer;
  outer.text() = "E1=";
  {
    ScriptScratch inner;
    EXPECT_TRUE(inner.text().empty());
    inner.text() = "E2=";
    EXPECT_EQ(outer.text(), "E1=");
  }
  ScriptScratch again;
  EXPECT_TRUE(again.text().empty());
  EXPECT_EQ(outer.text(), "E1=");
}

TEST_F(ScriptCore, ZReferenceAndLevelList) {
  EXPECT_EQ(ScriptZRef(1, 4), "Z4");
  EXPECT_EQ(ScriptZRef(1, -3), "Z_3");
  runSettings().layerNames = 1;
  EXPECT_EQ(ScriptZRef(1, 4), "MZ");
  runSettings().layerNames = 0;
  std::ostringstream out;
  scriptState().out = &out;
  ScriptLevelList({3, 0, 3, -2, 1});
  EXPECT_EQ(out.str(),
            "Z0=DTCreateLengthSum(MZ,DTCreateLengthProd(0,DZ,\"\"),\"\")\n"
            "Z1=DTCreateLengthSum(MZ,DTCreateLengthProd(-1,DZ,\"\"),\"\")\n"
            "Z3=DTCreateLengthSum(MZ,DTCreateLengthProd(-3,DZ,\"\"),\"\")\n");
  out.str("");
  runSettings().layerNames = 1;
  ScriptLevelList({2, 0});
  EXPECT_EQ(out.str(),
            "LY0=DTCreateLayer(\"iges_level0\", \"active\",  {0})\n"
            "LY2=DTCreateLayer(\"iges_level2\", \"inactive\",{0})\n");
  out.str("");
  ScriptLayerSwitch(1, 2);
  ScriptLayerSwitch(2, 2);
  ScriptLayerSwitch(3, -4);
  EXPECT_EQ(out.str(), "edit(LY2,,\"active\",)\nedit(LY_4,,\"active\",)\n");
  scriptState().out = nullptr;
}

TEST_F(ScriptCore, LayerStatusBreaksAfterWidthEighty) {
  runState().useToolkit = 1;
  runSettings().layerNames = 1;
  std::ostringstream out;
  scriptState().out = &out;
  ScriptState& s = scriptState();
  s.hasLayerTable = true;
  // 21 + 4 * (10 + 8) = 93: the break follows the fourth item; 21 + 3*18 = 75 does not.
  for (int i = 0; i < 6; ++i) s.layers.push_back(ScriptLayer{"layer_" + std::to_string(1000 + i), i, i == 1, 0, 0});
  ScriptClose();
  const std::string text = out.str();
  EXPECT_EQ(text.substr(0, text.find("edit(top")),
            "DTSetLayerStatus ( { {\"layer_1000\",1},{\"layer_1001\",0},{\"layer_1002\",1},{\"layer_1003\",1},\n"
            "{\"layer_1004\",1},{\"layer_1005\",1}})\n");

  // Numbered items count 3 each: 21 + 20 * 3 = 81 breaks after the 20th.
  out.str("");
  runSettings().layerNames = 0;
  s.out = &out;
  s.layers.clear();
  for (int i = 1; i <= 22; ++i) s.layers.push_back(ScriptLayer{"x", i, 0, 0, 0});
  ScriptClose();
  std::string expected = "DTSetLayerStatus ( { ";
  for (int i = 1; i <= 22; ++i) {
    expected += "{\"" + std::to_string(i) + "\",1}" + (i < 22 ? "," : "") + (i == 20 ? "\n" : "");
  }
  expected += "})\n";
  const std::string numbered = out.str();
  EXPECT_EQ(numbered.substr(0, numbered.find("edit(top")), expected);
}

TEST_F(ScriptCore, SubLayerOnFirstUseAndZOrderOfTheSource) {
  // The source's z-order: element 2 has place 0, 3 place 1, 5 place 2, 6 none.
  ScriptSource source;
  source.unitFlag = 2;
  source.levels = {0, 1, 2};
  source.zOrderProperty = true;
  source.zOrderOf = [](std::int32_t index) { return index == 2 ? 0 : index == 3 ? 1 : index == 5 ? 2 : -1; };
  ASSERT_EQ(ScriptOpenStream(out_, "a.kpl", source), 0);
  // The z-order turns the z-mechanism on: no level variables.
  EXPECT_EQ(take().find("Z0="), std::string::npos);
  const struct {
    int element, found;
    const char *statement, *zref;
  } cases[] = {
      {2, 1, "", "MZ"},
      {3, 1, "Z=DTCreateLengthSum(MZ,DTCreateLengthProd(1,DZ,\"\"),\"\")\n", "Z"},
      {3, 1, "", "Z"},
      {5, 1, "Z=DTCreateLengthSum(MZ,DTCreateLengthProd(2,DZ,\"\"),\"\")\n", "Z"},
      {6, 0, "", "MZ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScriptZOrder(c.element), c.found) << c.element;
    EXPECT_EQ(take(), c.statement) << c.element;
    EXPECT_EQ(ScriptZRef(c.element, 1), c.zref) << c.element;
  }

  ScriptState& s = scriptState();
  s.layers.push_back(ScriptLayer{"WALL", 3, 1, 0, 0, false});
  runSettings().layerNames = 1;
  EXPECT_EQ(ScriptLayerOf("WALL"), 3);
  EXPECT_EQ(ScriptLayerOf("WALL"), 3);
  EXPECT_EQ(ScriptLayerOf("DOOR"), 0);
  EXPECT_EQ(take(), "AKTLAYER=DTCreateSubLayer ( \"WALL\", top, \"active\",1," + ScriptColourText(0) + ")\n");
}

TEST_F(ScriptCore, InfoColourAndNameTexts) {
  ScriptElementData d;
  d.type = 110;
  d.form = 0;
  d.sequence = 7;
  d.parameterPointer = 3;
  EXPECT_EQ(ScriptInfoText(4, &d), "{}");
  runSettings().nameMode = 1;
  EXPECT_EQ(std::tuple(ScriptInfoText(4, &d), ScriptInfoText(0, &d)), std::tuple("{\"-\",110,0,7,3}", "{}"));
  d.name = "WALL";
  runState().runMode |= RunModeBit::kDxf;
  EXPECT_EQ(ScriptInfoText(4, &d), "{\"WALL\",7}");
  EXPECT_EQ(ScriptColourTextOf(-3, 10, 20, 30), "{10,20,30}");
  EXPECT_EQ(std::tuple(ScriptColourTextOf(5, 0, 0, 0), ScriptColourTextOf(0, 0, 0, 0)), std::tuple("{5}", "{7}"));
  runSettings().tlvvMode = 1;
  EXPECT_EQ(ScriptColourTextOf(-3, 10, 20, 30), "{3}");

  std::ostringstream out;
  scriptState().out = &out;
  ScriptSetInfo(4, 1, d);
  runState().runMode &= ~RunModeBit::kDxf;
  ScriptSetInfo(4, 1, d);
  EXPECT_EQ(out.str(),
            "set_dxfinfo(E4,\"WALL\",7)\n"
            "set_igesinfo(E4,\"WALL\",110,0,7,3)\n");
  scriptState().out = nullptr;
}

TEST_F(ScriptCore, ProgressOnlyAfterStatements) {
  open();
  take();
  scriptState().statementCounter = 0;
  ScriptProgress(10);
  ScriptPoint(0, ScriptAttributes{}, nullptr, nullptr, ScriptPointXYZ{3, 4, 0});
  take();
  ScriptProgress(20);
  ScriptProgress(20);
  EXPECT_EQ(take(), "show_status_percent (20)\n");
}

}  // namespace

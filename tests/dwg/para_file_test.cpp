// The parameter file of the DWG directions: its lines, the rules they set
// and the keyed messages of bad lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>

#include "dwg/graph_attr.h"
#include "dwg/out_para.h"
#include "support/ide_msg.h"
#include "support/run_state.h"

namespace {

constexpr int kOut = DwgDirection::kOutput;
constexpr int kIn = DwgDirection::kInput;

class ParaFile : public ::testing::Test {
 protected:
  void SetUp() override { ideMsgReset(); }
  void TearDown() override {
    ideMsgReset();
    resetDwgGraphAttr(kOut);
  }
  // Reads text as the parameter file in direction; returns what was printed.
  std::string read(int direction, const std::string& text, int* result = nullptr) {
    resetDwgGraphAttr(direction);
    testing::internal::CaptureStderr();
    const int r = DwgOutPara::ReadParaText(text);
    if (result != nullptr) *result = r;
    return testing::internal::GetCapturedStderr();
  }
};

using Check = std::function<void(const DwgGraphAttr&)>;

bool identityExcept(const DwgGraphAttr& g, bool toAc, int index, int value) {
  for (int i = 0; i < 256; ++i) {
    const int expected = i == index ? value : (i == 255 ? 0 : i);
    if ((toAc ? g.acColourOf(i) : g.applicationColourOf(i)) != expected) return false;
  }
  return true;
}

bool unchangedColours(const DwgGraphAttr& g) {
  return identityExcept(g, true, -1, 0) && identityExcept(g, false, -1, 0);
}

TEST_F(ParaFile, ColourLines) {
  const Check unchanged = [](const DwgGraphAttr& g) { EXPECT_TRUE(unchangedColours(g)); };
  const struct {
    const char* text;
    const char* printed;
    Check check;
  } cases[] = {
      {"dwg_colordefault 3\ndwgout_colorassign 10 5\n", "",
       [](const DwgGraphAttr& g) {
         for (int i = 0; i < 255; ++i) EXPECT_EQ(g.acColourOf(i), i == 10 ? 5 : 3) << i;
         EXPECT_EQ(g.acColourOf(255), 0);
         EXPECT_TRUE(identityExcept(g, false, -1, 0));
       }},
      {"dwg_colorassign 0 256\n",
       "Error: 2nd Argument not in AC colorrange 1-255: 256\n       keyword dwg_colorassign\n", unchanged},
      {"dwg_colorassign 300 1\n",
       "Error: 1st Argument not in Application colorrange 0 - 255 : 300\n"
       "       keyword dwg_colorassign\n", unchanged},
      {"DWG_ColorAssign 3x 1\n",
       "Error: Can not convert 1st Argument 3x\n       keyword DWG_ColorAssign\n", unchanged},
      {"dwg_colorassign 3 one\n",
       "Error: Can not convert 2nd Argument one\n       keyword dwg_colorassign\n", unchanged},
      {"dwg_colorassign 3 1\n", "",
       [](const DwgGraphAttr& g) {
         EXPECT_TRUE(identityExcept(g, true, 3, 1));
         EXPECT_TRUE(identityExcept(g, false, 1, 3));
       }},
      {"dwgin_colorassign 12 2\n", "",
       [](const DwgGraphAttr& g) {
         EXPECT_TRUE(identityExcept(g, true, -1, 0));
         EXPECT_TRUE(identityExcept(g, false, 2, 12));
       }},
      {"dwg_colordefault 3\ndwg_colorassign 7 9\ndwg_colordefault SAME\n", "", unchanged},
      {"dwg_colordefault red\n",
       "Error: Can not convert Argument red to an integer value for keyword dwg_colordefault\n"
       "       keyword dwg_colordefault\n", unchanged},
      {"dwg_colordefault 70000\n",
       "Error: Argument not in AC colorrange 0-255: 70000\n       keyword dwg_colordefault\n", unchanged},
      {"dwgin_blockcolor 9\n", "", [](const DwgGraphAttr& g) { EXPECT_EQ(g.blockColour(), 9); }},
      {"dwgin_blockcolor 256\n",
       "Error: 1st Argument not in Application colorrange 0 - 255 : 256\n"
       "       keyword dwgin_blockcolor\n",
       [](const DwgGraphAttr& g) { EXPECT_EQ(g.blockColour(), 5); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read(kOut, c.text), c.printed) << c.text;
    c.check(dwgGraphAttr());
  }
}

TEST_F(ParaFile, LineShapeAndCounts) {
  const struct {
    const char* text;
    const char* printed;
    int result;
  } cases[] = {
      {"", "", 0},
      {"// comment\n# comment\n\n   \t\n  # indented comment\r\n", "", 0},
      {"frobnicate 1 2\n", "Error: Unknown keyword frobnicate. line ignored\n", 0},
      {"dwg_colorassign 3\n",
       "Error: not enough tokens '1' for key dwg_colorassign. I need 2. line ignored.\n", 0},
      {"DWGOUT_LINESTYLEASSIGN 3\n",
       "Error: not enough tokens '1' for key DWGOUT_LINESTYLEASSIGN. I need 2. line ignored.\n", 0},
      // Too many arguments: reported, the first ones are used.
      {"dwg_colorassign 3 1 9\n",
       "Error: too many tokens (3' for key dwg_colorassign. I need 2. unnecessary ones ignored\n",
       0},
      // The result is that of the last handler that ran.
      {"dwg_colorassign 0 256\nfrobnicate\n",
       "Error: 2nd Argument not in AC colorrange 1-255: 256\n       keyword dwg_colorassign\n"
       "Error: Unknown keyword frobnicate. line ignored\n",
       -1},
      {"dwg_colorassign 0 256\ndwg_colorassign 1 2\n",
       "Error: 2nd Argument not in AC colorrange 1-255: 256\n       keyword dwg_colorassign\n", 0},
      {"idemsgcmd msgApp hello world\n", "Error: hello world\n", 0},
      {"idemsgcmd\n", "Error: mode missing for msg\n", -1},
  };
  for (const auto& c : cases) {
    int result = 99;
    EXPECT_EQ(read(kOut, c.text, &result), c.printed) << c.text;
    EXPECT_EQ(result, c.result) << c.text;
  }
  // The "too many" line took its first two arguments.
  read(kOut, "dwg_colorassign 3 1 9\n");
  EXPECT_EQ(dwgGraphAttr().acColourOf(3), 1);
}

TEST_F(ParaFile, SplitLine) {
  const struct {
    const char* line;
    const char* keyword;
    std::vector<std::string> arguments;
  } cases[] = {
      {"dwg_layerassign \"Schnitt a/b\" SECTION", "dwg_layerassign", {"Schnitt a/b", "SECTION"}},
      {"k\t'a b'\t\"c\"d", "k", {"a b", "c", "d"}},
      {"k x\"y z\"", "k", {"x", "y z"}},
      {"k \"\" a", "k", {"a"}},
      {"k \"open to the end", "k", {"open to the end"}},
      {"k\"x\" y", "k\"x\"", {"y"}},  // the keyword ends at blanks only
  };
  for (const auto& c : cases) {
    const DwgOutPara::Line line = DwgOutPara::SplitLine(c.line);
    EXPECT_EQ(line.keyword, c.keyword) << c.line;
    EXPECT_EQ(line.arguments, c.arguments) << c.line;
    EXPECT_EQ(line.count, c.arguments.size()) << c.line;
  }
  std::string many = "k";
  for (int i = 0; i < 40; ++i) many.append(" ").append(std::to_string(i));
  const DwgOutPara::Line line = DwgOutPara::SplitLine(many);
  EXPECT_EQ(line.count, 40u);
  ASSERT_EQ(line.arguments.size(), DwgOutPara::kParaArguments);
  EXPECT_EQ(line.arguments.back(), "24");
}

TEST_F(ParaFile, LayerLines) {
  // Output: the first pair of a CAD layer stays.
  EXPECT_EQ(read(kOut, "dwg_layerassign Wall A\ndwg_layerassign Wall B\ndwg_layerassign Roof A\n"),
            "Note: Telvura Layer Wall already assigned. Using last assignment for dwgout.\n");
  EXPECT_EQ(*dwgGraphAttr().acLayerOf("Wall"), "A");
  EXPECT_EQ(*dwgGraphAttr().acLayerOf("Roof"), "A");
  // Input: the first pair of a drawing layer (any case) stays.
  EXPECT_EQ(read(kIn, "dwg_layerassign Wall A\ndwg_layerassign Roof a\ndwg_layerassign Wall B\n"),
            "Note: AC Layer a already assigned. Using last assignment for dwgin.\n");
  EXPECT_EQ(*dwgGraphAttr().telvuraLayerOf("a"), "Wall");
  EXPECT_EQ(*dwgGraphAttr().telvuraLayerOf("B"), "Wall");
  EXPECT_EQ(dwgGraphAttr().telvuraLayerOf("C"), nullptr);

  EXPECT_EQ(read(kOut, "dwgout_layerdefine \"Schnitt a/b\" 4 3\n"
                       "dwgout_layerdefine SCHNITT_A_B 5 6\n"),
            "Note: Autocad Layer SCHNITT_A_B already defined.\n"
            "      Overwriting previous definition.\n");
  const DwgLayerDefinition* d = dwgGraphAttr().layerDefinition("SCHNITT_A_B");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(std::tuple(d->number, d->colour), std::tuple(5, 6));
  // The built-in definitions of the line style layers are there too.
  ASSERT_NE(dwgGraphAttr().layerDefinition("TELVURA_STYLE_29"), nullptr);

  const struct {
    const char* text;
    const char* printed;
  } bad[] = {
      {"dwgout_layerdefine X y 3\n",
       "Error: Can not convert 2nd Argument y\n       keyword dwgout_layerdefine\n"},
      {"dwgout_layerdefine X 1 z\n",
       "Error: Can not convert 3rd Argument z\n       keyword dwgout_layerdefine\n"},
      {"dwgout_layerdefine X 1 0\n",
       "Error: 3rd Argument not in AC colorrange 1-255: 0\n       keyword dwgout_layerdefine\n"},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(read(kOut, c.text), c.printed) << c.text;
    EXPECT_EQ(dwgGraphAttr().layerDefinition("X"), nullptr) << c.text;
  }

  read(kOut, "dwgout_layerdefault \"tv #\" 4 3\n");
  EXPECT_EQ(dwgGraphAttr().defaultLayer().name, "TV_#");
  EXPECT_EQ(std::tuple(dwgGraphAttr().defaultLayer().colour, dwgGraphAttr().layerNameMode()), std::tuple(3, 2));
  read(kOut, "dwgout_layerdefault all 0 2\n");
  EXPECT_EQ(std::tuple(dwgGraphAttr().defaultLayer().name, dwgGraphAttr().layerNameMode()), std::tuple("ALL", 1));
}

TEST_F(ParaFile, LineStyleAssignments) {
  // Only the keyword written in upper case for the direction applies.
  for (int direction : {kOut, kIn}) {
    EXPECT_EQ(read(direction, "dwg_linestyleassign 3 DASHED\ndwgout_linestyleassign 3 DASHED\n"
                              "dwgin_linestyleassign 3 DASHED\n"),
              "");
    EXPECT_TRUE(dwgGraphAttr().linetypes().empty());
    EXPECT_EQ(dwgGraphAttr().lineStyleOf("DASHED"), 1);
  }
  EXPECT_EQ(read(kIn, "DWGOUT_LINESTYLEASSIGN 3 DASHED\n"), "");
  EXPECT_TRUE(dwgGraphAttr().linetypes().empty());

  EXPECT_EQ(read(kOut, "DWGOUT_LINESTYLEASSIGN 3 DASHED\n"), "");
  const DwgLinetype* dashed = dwgGraphAttr().linetypeOf(3);
  ASSERT_NE(dashed, nullptr);
  EXPECT_EQ(std::tuple(dashed->name, dashed->description, dashed->dashes),
            std::tuple("DASHED", std::string(28, '_'), (std::vector<double>{10.0, 10.0})));
  EXPECT_EQ(dwgGraphAttr().linetypeOf(4), nullptr);  // no default line style assigned

  // Dash lengths in one argument or spread; the default line style.
  read(kOut, "DWGOUT_LINESTYLEASSIGN 2 DASHDOT \"Dash dot\" 4 \"5.0,-2.5\t0 -2.5\"\n"
             "DWGOUT_LINESTYLEASSIGN 5 CENTER Center 2 8.0 -1.5\n"
             "DWGOUT_LINESTYLEASSIGN 5 default\n");
  ASSERT_NE(dwgGraphAttr().linetypeOf(2), nullptr);
  EXPECT_EQ(dwgGraphAttr().linetypeOf(2)->dashes, (std::vector<double>{5.0, -2.5, 0.0, -2.5}));
  EXPECT_EQ(dwgGraphAttr().linetypeOf(2)->description, "Dash dot");
  EXPECT_EQ(dwgGraphAttr().defaultLineStyle(), 5);
  ASSERT_NE(dwgGraphAttr().linetypeOf(17), nullptr);
  EXPECT_EQ(dwgGraphAttr().linetypeOf(17)->name, "CENTER");

  const struct {
    const char* text;
    const char* printed;
  } bad[] = {
      // Each message ends in the line "       keyword DWGOUT_LINESTYLEASSIGN".
      {"DWGOUT_LINESTYLEASSIGN x DASHED\n", "Error: Can not convert 1st Argument x\n"},
      {"DWGOUT_LINESTYLEASSIGN 2 ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n",
       "Error: 2nd Argument length > 32: ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n"},
      {"DWGOUT_LINESTYLEASSIGN 2 D d 3 \"1,2\"\n", "Error: Invalid dash pattern (count, lengths): 3, 1,2 \n"},
      {"DWGOUT_LINESTYLEASSIGN 2 D d 13 1\n", "Error: Invalid dash pattern (count, lengths): 13, 1 \n"},
      {"DWGOUT_LINESTYLEASSIGN 2 D d 1 nan\n", "Error: Invalid dash pattern (count, lengths): 1, nan \n"},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(read(kOut, c.text), c.printed + std::string("       keyword DWGOUT_LINESTYLEASSIGN\n")) << c.text;
    EXPECT_TRUE(dwgGraphAttr().linetypes().empty()) << c.text;
  }

  // Input: the first line style of a linetype stays; names in any case.
  EXPECT_EQ(read(kIn, "DWGIN_LINESTYLEASSIGN 3 DASHED\nDWGIN_LINESTYLEASSIGN 4 dashed\n"
                      "DWGIN_LINESTYLEASSIGN 7 DEFAULT\n"),
            "Note: Ac Linestyle dashed already assigned to TV Linestyle # 3\n");
  EXPECT_EQ(dwgGraphAttr().lineStyleOf("Dashed"), 3);
  EXPECT_EQ(dwgGraphAttr().lineStyleOf("HIDDEN"), 7);
}

TEST_F(ParaFile, LineStyleLayersAndMode) {
  EXPECT_EQ(read(kOut, "dwgout_linestylelayer 2 0.7 0.3 THIN\n"),
            "Note: Lower thickness (0.7) is greater than upper thickness(0.3). Using inverted "
            "values\n");
  const DwgLineStyleLayer& thin = dwgGraphAttr().lineStyleLayers().back();
  EXPECT_EQ(std::tuple(thin.kind, thin.lineStyle), std::tuple(DwgKind::kCurve, 2));
  EXPECT_DOUBLE_EQ(thin.lower, 0.3);
  EXPECT_DOUBLE_EQ(thin.upper, 0.7);
  EXPECT_EQ(thin.layerName, "THIN");

  read(kOut, "dwgout_linestylelayer filledHATCH Min max SOLIDS\n");
  const DwgLineStyleLayer& solids = dwgGraphAttr().lineStyleLayers().back();
  EXPECT_EQ(solids.kind, DwgKind::kFilledHatch);
  EXPECT_DOUBLE_EQ(solids.lower, DwgGraphAttr::kThinnestLine);
  EXPECT_DOUBLE_EQ(solids.upper, DwgGraphAttr::kThickestLine);

  const std::size_t builtIn = DwgGraphAttr::kBuiltInStyleLayers + 5;
  const struct {
    const char* text;
    const char* printed;
  } bad[] = {
      // Each message ends in the line "       keyword dwgout_linestylelayer".
      {"dwgout_linestylelayer 1 0.1 X\n", "Error: Give 2 or 4 arguments for dwgout_linestylelayer\n"},
      {"dwgout_linestylelayer 1 0.1 5 X\n",
       "Error: Upper thickness not within limits 0 and 2.11 for keyword dwgout_linestylelayer: 5\n"},
      {"dwgout_linestylelayer 1 thin Max X\n",
       "Error: Lower thickness not within limits 0 and 2.11 for keyword dwgout_linestylelayer: thin\n"},
      {"dwgout_linestylelayer Dotted X\n", "Error: 1st Argument is no line style number or kind: Dotted\n"},
      {"dwgout_linestylelayer 1 ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n",
       "Error: 2nd Argument length > 32: ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n"},
  };
  for (const auto& c : bad) {
    EXPECT_EQ(read(kOut, c.text), c.printed + std::string("       keyword dwgout_linestylelayer\n")) << c.text;
    EXPECT_EQ(dwgGraphAttr().lineStyleLayers().size(), builtIn) << c.text;
  }

  const struct {
    int direction;
    const char* text;
    const char* printed;
    int mode;
  } modes[] = {
      {kOut, "dwgout_graphattrmode USELINESTYLELAYER\n", "", DwgAttrMode::kUseLineStyleLayer},
      {kOut, "dwgout_graphattrmode useLineStyleLayer\ndwgout_graphattrmode useTelvuraSettings\n",
       "", DwgAttrMode::kUseTelvuraSettings},
      {kOut, "dwgin_graphattrmode useLineStyleLayer\n", "", DwgAttrMode::kUseTelvuraSettings},
      {kIn, "dwgin_graphattrmode useLineStyleLayer\n", "", DwgAttrMode::kUseLineStyleLayer},
      {kOut, "dwgout_graphattrmode layers\n",
       "Error: Invalid Argument layers for key dwgout_graphattrmode\n"
       "       keyword dwgout_graphattrmode\n",
       DwgAttrMode::kUseTelvuraSettings},
  };
  for (const auto& c : modes) {
    EXPECT_EQ(read(c.direction, c.text), c.printed) << c.text;
    EXPECT_EQ(dwgGraphAttr().graphAttrMode(), c.mode) << c.text;
  }
}

TEST_F(ParaFile, UntrustedFileStaysBounded) {
  // A line is read up to 512 characters: an argument beyond is lost.
  const std::string longLine = "dwg_colorassign " + std::string(600, ' ') + "3 1\n";
  EXPECT_EQ(read(kOut, longLine),
            "Error: not enough tokens '0' for key dwg_colorassign. I need 2. line ignored.\n");
  // Lists of the file take at most kMostEntries entries.
  std::string text;
  const std::size_t builtIn = dwgGraphAttr().layerDefinitions().size();
  for (std::size_t i = 0; i <= DwgGraphAttr::kMostEntries - builtIn; ++i)
    text += "dwgout_layerdefine L" + std::to_string(i) + " 1 1\n";
  EXPECT_EQ(read(kOut, text),
            "Error: too many entries for key dwgout_layerdefine. line ignored\n");
  EXPECT_EQ(dwgGraphAttr().layerDefinitions().size(), DwgGraphAttr::kMostEntries);
  // Bytes of any value, NULs and lone quotes do no harm.
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  std::string quoted = "\ndwg_layerassign \"";
  quoted += '\0';
  quoted += "\" '\n";
  read(kOut, binary + quoted + binary);
}

TEST_F(ParaFile, FileOnDisk) {
  char dirTemplate[] = "/tmp/dwg_para_test_XXXXXX";
  const std::string dir = mkdtemp(dirTemplate);
  const std::string path = dir + "/dwg_para.iga";
  EXPECT_EQ(DwgOutPara::ParaPath("  \"" + dir + "\" more"), path);
  EXPECT_EQ(DwgOutPara::ParaPath(dir + "/"), path);
  runState().installDir = "/opt/tv/";
  EXPECT_EQ(DwgOutPara::ParaPath(""), "/opt/tv/ririzidedareru/dwg_para.iga");
  runState().installDir.clear();

  resetDwgGraphAttr(kOut);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DwgOutPara::ReadPara(dir), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Unable to open " + path + ". Using program defaults\n");
  // A directory of that name is no parameter file either.
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DwgOutPara::ReadPara(dir), -1);
  testing::internal::GetCapturedStderr();
  rmdir(path.c_str());

  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs("dwg_colorassign 3 1\r\ndwgin_blockcolor 0\n", file);
  std::fclose(file);
  EXPECT_EQ(DwgOutPara::ReadPara(dir), 0);
  EXPECT_EQ(std::tuple(dwgGraphAttr().acColourOf(3), dwgGraphAttr().blockColour()), std::tuple(1, 0));
  unlink(path.c_str());
  rmdir(dir.c_str());

  // The example of the installation changes nothing and reads cleanly.
  resetDwgGraphAttr(kOut);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DwgOutPara::ReadPara(TROVAK_SOURCE_DIR "/ririzidedareru"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(unchangedColours(dwgGraphAttr()));
  EXPECT_TRUE(dwgGraphAttr().linetypes().empty());
}

}  // namespace

// The graphic attributes and layers that entities of the DWG output get,
// layer name correction, and the keyed message files of the DWG directions.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "dwg/dwg_texts.h"
#include "dwg/graph_attr.h"
#include "dwg/out_para.h"
#include "support/config.h"
#include "support/ide_msg.h"
#include "support/run_state.h"

namespace {

class GraphAttr : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    // A DWG output run: line width numbers are hundredths of a millimetre.
    runState().runMode = RunModeBit::kOutput | RunModeBit::kDwg;
    runState().useToolkit = 1;
    resetDwgGraphAttr(DwgDirection::kOutput);
  }
  void TearDown() override {
    resetRunState();
    resetDwgGraphAttr(DwgDirection::kOutput);
  }
  void setUp(const std::string& parameters) {
    testing::internal::CaptureStderr();
    DwgOutPara::ReadParaText(parameters);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << parameters;
  }
};

DwgElementAttributes element(int colour, int lineStyle, int lineWidth, const std::string& layer) {
  DwgElementAttributes e;
  e.colour = colour;
  e.lineStyle = lineStyle;
  e.lineWidth = lineWidth;
  e.layerName = layer;
  return e;
}

TEST_F(GraphAttr, CorrectAcLayerName) {
  const std::string forty(40, 'x');
  const struct {
    std::string name;
    bool keepPattern;
    std::string corrected;
    std::string printed;
  } cases[] = {
      {"Schnitt a/b", false, "SCHNITT_A_B", ""},
      {"A b_", false, "A_B", ""},
      {"_", false, "_", ""},
      {"a__", false, "A_", ""},
      {"$x-1", false, "$X-1", ""},
      {"M\xe4nner\xcd", false, "M_NNER\xcd", ""},
      {"tv#", false, "TV", ""},
      {"tv#", true, "TV#", ""},
      {forty, false, std::string(31, 'X'),
       "Warning: Name too long, truncated to: " + std::string(31, 'x') + "\n"},
  };
  for (const auto& c : cases) {
    std::string name = c.name;
    testing::internal::CaptureStderr();
    DwgGraphAttr::correctAcLayerName(name, c.keepPattern);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed) << c.name;
    EXPECT_EQ(name, c.corrected) << c.name;
  }
}

TEST_F(GraphAttr, SetLayerChoosesAndMakesLayers) {
  const struct {
    const char* parameters;
    const char* elementLayer;
    const char* given;  // nullptr: the element's own layer
    const char* layer;  // "" : no layer set
    int colour;         // of the layer made
    const char* printed;
  } cases[] = {
      {"", "", nullptr, "EMPTY", 7, "Note: Empty Layername in intermediate file. Using 'EMPTY'\n"},
      {"dwgout_layerdefault TV_# 0 3\n", "", nullptr, "TV_EMPTY", 3,
       "Note: Empty Layername in intermediate file. Using 'EMPTY'\n"},
      {"", "Wall 2", nullptr, "WALL_2", 7, ""},
      {"dwgout_layerdefine wall_2 1 4\n", "Wall 2", nullptr, "WALL_2", 4, ""},
      {"dwg_layerassign \"Wall 2\" Outer\n", "Wall 2", nullptr, "OUTER", 7, ""},
      {"dwgout_layerdefault \"tv #\" 0 3\n", "Wall", nullptr, "TV_WALL", 3, ""},
      {"dwgout_layerdefault ALL 0 2\n", "Wall", nullptr, "ALL", 2, ""},
      {"", "Wall", "Telvura_Style_3", "TELVURA_STYLE_3", 7, ""},
      {"dwgout_layerdefine Style3 3 5\n", "Wall", "Style3", "STYLE3", 5, ""},
      // The default pattern given is no layer of its own.
      {"", "Wall", "#", "WALL", 7, ""},
  };
  for (const auto& c : cases) {
    resetDwgGraphAttr(DwgDirection::kOutput);
    setUp(c.parameters);
    DwgEntityAttributes entity;
    DwgLayerList layers;
    const std::string given = c.given != nullptr ? c.given : "";
    testing::internal::CaptureStderr();
    EXPECT_EQ(dwgGraphAttr().SetLayer(element(1, 1, 0, c.elementLayer), entity, layers,
                                      c.given != nullptr ? &given : nullptr),
              c.printed[0] == '\0' ? 0 : 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed) << c.parameters;
    EXPECT_EQ(entity.layer, c.layer) << c.parameters << c.elementLayer;
    ASSERT_EQ(layers.records().size(), 1u) << c.parameters << c.elementLayer;
    EXPECT_EQ(layers.records()[0].name, c.layer);
    EXPECT_EQ(layers.records()[0].colourIndex, c.colour) << c.parameters << c.elementLayer;
  }

  // A layer is made once; layer name mode 0 sets no layer.
  DwgLayerList layers;
  DwgEntityAttributes a, b, c;
  dwgGraphAttr().SetLayer(element(1, 1, 0, "Wall"), a, layers, nullptr);
  dwgGraphAttr().SetLayer(element(1, 1, 0, "wall"), b, layers, nullptr);
  EXPECT_EQ(layers.records().size(), 1u);
  dwgGraphAttr().setLayerNameMode(0);
  EXPECT_EQ(dwgGraphAttr().SetLayer(element(1, 1, 0, "Roof"), c, layers, nullptr), 0);
  EXPECT_EQ(c.layer, "");
  EXPECT_EQ(layers.records().size(), 1u);
}

TEST_F(GraphAttr, TelvuraSettingsGiveColourLinetypeAndWeight) {
  setUp("dwg_colorassign 3 1\nDWGOUT_LINESTYLEASSIGN 2 DASHED\nDWGOUT_LINESTYLEASSIGN 4 CENTER\n"
        "DWGOUT_LINESTYLEASSIGN 4 default\n");
  const struct {
    int colour, lineStyle, lineWidth;
    int colourIndex;
    const char* linetype;
    int lineWeight;
  } cases[] = {
      {3, 2, 35, 1, "DASHED", 35},
      {7, 1, 50, 7, "CENTER", 50},      // style without linetype: the default style's
      {255, 4, 0, 0, "CENTER", 50},     // CAD 255 is "by block"; width 0 stands for 0.5 mm
      {0, 2, 26, 0, "DASHED", 25},      // 0 "by block"; the nearest standard weight
      {-5, 2, 500, 256, "DASHED", 211}, // negative: "by layer"
      {300, 2, 1, 256, "DASHED", 0},    // beyond the palette: "by layer"
  };
  for (const auto& c : cases) {
    DwgEntityAttributes entity;
    DwgLayerList layers;
    dwgGraphAttr().applyAttributes(element(c.colour, c.lineStyle, c.lineWidth, "L1"), entity,
                                   layers, DwgKind::kCurve);
    EXPECT_EQ(entity.colourIndex, c.colourIndex) << c.colour;
    EXPECT_EQ(entity.linetype, c.linetype) << c.lineStyle;
    EXPECT_EQ(entity.lineWeight, c.lineWeight) << c.lineWidth;
    EXPECT_EQ(entity.layer, "L1");
  }
  // Without a default linetype the entity keeps the layer's.
  resetDwgGraphAttr(DwgDirection::kOutput);
  DwgEntityAttributes entity;
  DwgLayerList layers;
  dwgGraphAttr().applyAttributes(element(1, 9, 0, "L1"), entity, layers, DwgKind::kCurve);
  EXPECT_EQ(entity.linetype, "");
}

TEST_F(GraphAttr, LineStyleLayersChooseTheLayer) {
  setUp("dwgout_graphattrmode useLineStyleLayer\n"
        "dwgout_linestylelayer 2 0.3 0.7 THIN\n"
        "dwgout_linestylelayer 2 0.5 max THICK\n"
        "dwgout_linestylelayer Text LETTERS\n"
        "dwgout_linestylelayer Hatch HATCHES\n"
        "dwgout_linestylelayer FilledHatch SOLIDS\n");
  const struct {
    int kind, lineStyle, lineWidth;
    const char* layer;
  } cases[] = {
      {DwgKind::kCurve, 2, 35, "THIN"},
      {DwgKind::kCurve, 2, 30, "THIN"},
      {DwgKind::kCurve, 2, 70, "THICK"},  // both match: the one added last
      {DwgKind::kCurve, 2, 900, "THICK"},  // beyond the limits: the thickest
      {DwgKind::kCurve, 2, 20, "TELVURA_STYLE_2"},
      {DwgKind::kCurve, 29, 20, "TELVURA_STYLE_29"},
      {DwgKind::kCurve, 30, 20, "WALL"},  // no line style layer: the default pattern
      {DwgKind::kText, 2, 35, "LETTERS"},
      {DwgKind::kDimension, 2, 35, "TELVURA_STYLE_MEASURE"},
      {DwgKind::kHatch, 2, 35, "HATCHES"},
      {DwgKind::kFilledHatch, 2, 35, "SOLIDS"},
      {DwgKind::kFilledHiddenHatch, 2, 35, "TELVURA_STYLE_FILLEDHIDDENHATCH"},
  };
  for (const auto& c : cases) {
    DwgEntityAttributes entity;
    DwgLayerList layers;
    dwgGraphAttr().applyAttributes(element(3, c.lineStyle, c.lineWidth, "Wall"), entity, layers,
                                   c.kind);
    EXPECT_EQ(entity.layer, c.layer) << c.kind << " " << c.lineStyle << " " << c.lineWidth;
    // The entity takes colour, linetype and weight from its layer.
    EXPECT_EQ(std::tuple(entity.colourIndex, entity.linetype, entity.lineWeight),
              std::tuple(DwgEntityAttributes::kByLayer, "", DwgEntityAttributes::kLineWeightByLayer));
  }
  // A missing kind falls back: filled hidden hatch to filled hatch to hatch.
  EXPECT_EQ(dwgGraphAttr().lineStyleLayerName(DwgKind::kFilledHiddenHatch, 0, 0.0),
            "Telvura_Style_filledhiddenhatch");
  EXPECT_EQ(dwgGraphAttr().lineStyleLayerName(DwgKind::kCurve, 31, 0.0), "#");
}

TEST_F(GraphAttr, InputLookups) {
  resetDwgGraphAttr(DwgDirection::kInput);
  setUp("dwg_colorassign 20 4\ndwgin_colorassign 21 5\ndwgin_blockcolor 11\n"
        "dwg_layerassign Kontur OUTLINE\nDWGIN_LINESTYLEASSIGN 6 HIDDEN\n"
        "DWGIN_LINESTYLEASSIGN 2 default\n");
  const DwgGraphAttr& g = dwgGraphAttr();
  // 256, "by layer", is no palette colour.
  EXPECT_EQ(std::tuple(g.applicationColourOf(4), g.applicationColourOf(5), g.applicationColourOf(6),
                       g.applicationColourOf(255), g.applicationColourOf(256)),
            std::tuple(20, 21, 6, 0, 256));
  EXPECT_EQ(g.blockColour(), 11);
  ASSERT_NE(g.telvuraLayerOf("outline"), nullptr);
  EXPECT_EQ(*g.telvuraLayerOf("outline"), "Kontur");
  EXPECT_EQ(g.lineStyleOf("Hidden"), 6);
  EXPECT_EQ(g.lineStyleOf("CONTINUOUS"), 2);
}

// --- Keyed message files ----------------------------------------------------

std::map<std::string, std::string> messageFileLines(const std::string& name) {
  std::ifstream file(std::string(TROVAK_SOURCE_DIR "/ririzidedareru/msc/") + name,
                     std::ios::binary);
  std::map<std::string, std::string> lines;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t key = line.find_first_of(" \t-");
    const std::size_t dash = line.find('-', key);
    if (key == std::string::npos || dash == std::string::npos) {
      ADD_FAILURE() << name << ": " << line;
      continue;
    }
    lines.emplace(line.substr(0, key), line.substr(dash + 1));
  }
  return lines;
}

TEST_F(GraphAttr, MessageFilesHoldEveryKey) {
  const auto english = messageFileLines("dwg_en.msg");
  const auto german = messageFileLines("dwg_ge.msg");
  std::size_t count = 0;
  const DwgText* texts = dwgTexts(count);
  ASSERT_GT(count, 50u);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string key = texts[i].key;
    ASSERT_TRUE(english.count(key)) << key;
    ASSERT_TRUE(german.count(key)) << key;
    EXPECT_EQ(english.at(key), texts[i].defaultText) << key;
    EXPECT_NE(german.at(key), texts[i].defaultText) << key;
  }
  EXPECT_EQ(english.size(), count);
  EXPECT_EQ(german.size(), count);
}

TEST_F(GraphAttr, MessagesInTheRunsLanguage) {
  EXPECT_EQ(std::tuple(dwgMessageFileName("/m", "deutsch"), dwgMessageFileName("/m/", "english"),
                       dwgMessageFileName("/m/", "Deutsch"), dwgMessageFileName("/m/", "german")),
            std::tuple("/m/dwg_ge.msg", "/m/dwg_en.msg", "/m/dwg_en.msg", "/m/dwg_en.msg"));
  const struct {
    const char* language;
    const char* printed;
  } cases[] = {
      {"deutsch",
       "Fehler: 2. Argument nicht im AC-Farbbereich 1-255: 256\n"
       "        Schl\xfcsselwort dwg_colorassign\n"},
      {"english",
       "Error: 2nd Argument not in AC colorrange 1-255: 256\n"
       "       keyword dwg_colorassign\n"},
  };
  for (const auto& c : cases) {
    ideMsgReset();
    runPaths().messageDir = TROVAK_SOURCE_DIR "/ririzidedareru/msc";
    runState().language = c.language;
    runSettings().messageLevel = 4;
    ASSERT_EQ(dwgLoadMessages(), 0);
    resetDwgGraphAttr(DwgDirection::kOutput);
    testing::internal::CaptureStderr();
    DwgOutPara::ReadParaText("dwg_colorassign 0 256\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed) << c.language;
  }
  // Message level 1 lets errors through, not notes.
  runSettings().messageLevel = 1;
  dwgLoadMessages();
  testing::internal::CaptureStderr();
  DwgOutPara::ReadParaText("dwg_layerassign A B\ndwg_layerassign A C\nbogus\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Unknown keyword bogus. line ignored\n");
  resetRunConfiguration();
}

}  // namespace

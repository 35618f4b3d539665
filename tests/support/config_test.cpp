// Reading of the run configuration file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("trovak_config_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    resetRunState();
    runState().installDir = std::string(TROVAK_SOURCE_DIR) + "/";
    runState().language = "deutsch";
    runPaths().installDir = runState().installDir;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the configuration and reads it for a run of the given mode.
  int read(const std::string& text, std::uint32_t mode, const std::string& level = "") {
    const std::string name = (dir_ / "run.config").string();
    std::ofstream(name, std::ios::binary) << text;
    runState().runMode = mode;
    return readRunConfiguration(level, name, "drawing.igs");
  }

  fs::path dir_;
};

constexpr std::uint32_t kIgesIn = RunModeBit::kInput;
constexpr std::uint32_t kDxfIn = RunModeBit::kInput | RunModeBit::kDxf;
constexpr std::uint32_t kDwgOut = RunModeBit::kOutput | RunModeBit::kDwg;

TEST_F(ConfigTest, LinesAreSelectedByTheirPrefix) {
  struct Case {
    std::uint32_t mode;
    int expected;
  } cases[] = {{kIgesIn, 1}, {kDxfIn, 0}, {kDwgOut, -1}};
  const std::string text =
      "DX_LAYR numm\n"
      "  I_SPLI ja\n"
      "DW_GRAF ja\n"
      "X_NAME ja\n";
  for (const Case& c : cases) {
    ASSERT_EQ(read(text, c.mode), 0);
    const RunSettings& s = runSettings();
    EXPECT_EQ(std::tuple(s.layerNames, s.splineMode, s.graphicsMode, s.nameMode),
              std::tuple(c.mode == kDxfIn ? 0 : kNotSet, c.mode == kIgesIn ? 1 : kNotSet,
                         c.mode == kDwgOut ? 1 : kNotSet, kNotSet))
        << c.mode;
  }
  ASSERT_EQ(read("DX_LAYR true\n", kIgesIn), 0);
  EXPECT_EQ(runSettings().layerNames, kNotSet);
  for (std::uint32_t mode : {kIgesIn, kDxfIn, kDwgOut}) {
    ASSERT_EQ(read("TR_LAYR true\n", mode), 0);
    EXPECT_EQ(runSettings().layerNames, 1);
  }
}

TEST_F(ConfigTest, SwitchValuesAndDefaults) {
  ASSERT_EQ(read("", kIgesIn), 0);
  const RunSettings& s = runSettings();
  EXPECT_EQ(std::tuple(s.messageLevel, s.protocolMode, s.senderCode, s.tlvvMode, s.viewMode, s.textWidthFactor),
            std::tuple(4, 1, 99, 9999, -1, 1.0));

  ASSERT_EQ(read("I_MESS warn\nI_SPEZ medusa\nI_TLVV classic\nI_DATP alle\nI_VIEW rand\n"
                 "I_TEST gruppe\nI_UNIT inch\nI_USER neu\nI_KRBG ppp\nI_ELLI poly\n"
                 "I_PUNK laenge\nI_GINF punkt\nI_PREC 0.25\nI_VINR 7\nI_MASS plus\n",
                 kIgesIn),
            0);
  EXPECT_EQ(std::tuple(s.messageLevel, s.senderCode, s.tlvvMode, s.protocolMode, s.viewMode, s.traceLevel,
                       s.unitMode, s.userElementMode),
            std::tuple(2, 5, 1, 2, 2, 2, 1, 1));
  EXPECT_EQ(std::tuple(s.arcMode, s.ellipseMode, s.pointMode, s.graphicInfoMode, s.viewNumber, s.dimensionMode),
            std::tuple(0, 1, 0, 2, 7, 1));
  EXPECT_EQ(std::tuple(s.precisionSet, s.precision), std::tuple(true, 0.25));

  // Unknown words: the message level prints nothing, the trace level is 99,
  // the arc mode stays.
  ASSERT_EQ(read("I_MESS laut\nI_TEST viel\nI_KRBG xyz\n", kIgesIn), 0);
  EXPECT_EQ(std::tuple(s.messageLevel, s.traceLevel, s.arcMode), std::tuple(-1, 99, kNotSet));
}

TEST_F(ConfigTest, TextWidthIsTakenOnlyInItsRange) {
  struct Case {
    const char* line;
    double expected;
  } cases[] = {{"I_WTEXT 3.5\n", 1.0}, {"I_WTEXT 0.8\n", 0.8}, {"I_WTXT 0.1\n", 0.1},
               {"I_WTEXT 0.05\n", 1.0}, {"I_WTEXT abc\n", 1.0}};
  for (const Case& c : cases) {
    ASSERT_EQ(read(c.line, kIgesIn), 0);
    EXPECT_DOUBLE_EQ(runSettings().textWidthFactor, c.expected) << c.line;
  }
}

TEST_F(ConfigTest, LevelOfTheCommandLineWins) {
  runState().level = "PLUS";
  ASSERT_EQ(read("I_STUF G1\n", kIgesIn, "PLUS"), 0);
  EXPECT_EQ(runState().level, "PLUS");
  runState().level = "";
  ASSERT_EQ(read("I_STUF G1\nI_STUF PLUS\n", kIgesIn, ""), 0);
  EXPECT_EQ(runState().level, "G1");  // the first _STUF stays
}

TEST_F(ConfigTest, RepeatedKeywordsAndFreeTexts) {
  ASSERT_EQ(read("I_MESS err\nI_MESS meld\n"
                 "I_FIRM  \"Musterfirma GmbH\"  \n"
                 "I_FIRM Zweite Firma\n"
                 "I_TEL 0711 123 \n"
                 "I_ZUORDNUNG /nonexistent/dir\n",
                 kIgesIn),
            0);
  EXPECT_EQ(runSettings().messageLevel, 3);  // the last one wins
  EXPECT_EQ(runSettings().startTexts[kStartCompany], "Musterfirma GmbH");
  EXPECT_EQ(runSettings().startTexts[kStartTelephone], "0711 123");
  // The unreadable assignment directory falls back to the default.
  EXPECT_EQ(runPaths().assignDir,
            std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/iges/");
}

TEST_F(ConfigTest, DirectoriesAreNormalisedAndNamesDerived) {
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  ASSERT_EQ(read("TR_TEMP /var/tmp\nTR_PROT ~/prot\nTR_PFAD \"/data/in/\"\n", kDxfIn), 0);
  const RunPaths& p = runPaths();
  EXPECT_EQ(p.tempDir, "/var/tmp/");
  EXPECT_EQ(p.protocolDir, home + "/prot/");
  EXPECT_EQ(p.inputDir, "/data/in/");
  EXPECT_EQ(p.protocolFile, home + "/prot/drawing.igs.prot");
  EXPECT_EQ(p.assignDir, std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/dxf/");
  EXPECT_EQ(p.messageFile, std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/msc/dt_de.msg");
  const std::string suffix =
      std::to_string(getpid()) + "_" + std::to_string(p.runCounter) + ".tmp";
  EXPECT_EQ(p.igesStartFile, "/var/tmp/strt" + suffix);
  EXPECT_EQ(p.igesTerminateFile, "/var/tmp/term" + suffix);

  const int counter = p.runCounter;
  ASSERT_EQ(read("TR_LANG english\n", kIgesIn), 0);
  EXPECT_EQ(p.runCounter, counter + 1);
  EXPECT_EQ(p.messageFile, std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/msc/dt_en.msg");
  EXPECT_EQ(p.tempDir, "/tmp/");
}

TEST_F(ConfigTest, ToolkitRunsUseTheDwgTables) {
  runState().useToolkit = 1;
  ASSERT_EQ(read("", RunModeBit::kOutput | RunModeBit::kDxf), 0);
  EXPECT_EQ(runPaths().assignDir, std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/dwg/");
}

TEST_F(ConfigTest, UnusableInstallationDataEndsTheRun) {
  // No assignment directory.
  runState().installDir = "/nonexistent/";
  runPaths().installDir = "/nonexistent/";
  const std::string messages = "TR_MEDI " + std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/msc\n";
  EXPECT_EQ(read(messages, kIgesIn), kConfigDirectoryUnreadable);
  // No message file either: the message file is checked first.
  EXPECT_EQ(read("", kIgesIn), kConfigNoMessageFile);
  EXPECT_EQ(mfaTextCount(), 0);
}

TEST_F(ConfigTest, DwgVersions) {
  struct Case {
    const char* value;
    int expected;
  } cases[] = {{"R2004", 1018}, {"2000", 1015}, {"14", 1014}, {"R12", 1009},
               {"11", 1009}, {"R25", 1002}, {"2010", -1}};
  for (const Case& c : cases) {
    ASSERT_EQ(read(std::string("DW_ACAD ") + c.value + "\n", kDwgOut), 0);
    EXPECT_EQ(runSettings().dwgVersion, c.expected) << c.value;
  }
}

TEST_F(ConfigTest, OverlongLinesAndValuesStayBounded) {
  // A 600-character line must not be read as further lines: its tail holds
  // what would look like a keyword line.
  std::string text = "I_FIRM " + std::string(300, 'x') + "I_SPLI ja" + std::string(300, 'y') +
                     "\nI_TYPE " + std::string(100, 'w') + "\n";
  ASSERT_EQ(read(text, kIgesIn), 0);
  EXPECT_EQ(runSettings().splineMode, kNotSet);
  EXPECT_LE(runSettings().startTexts[kStartCompany].size(), kConfigLineLength);
  EXPECT_EQ(runSettings().typeText, std::string(kConfigWordLength, 'w'));
}

TEST_F(ConfigTest, MissingFileKeepsTheDefaults) {
  runState().runMode = kIgesIn;
  ASSERT_EQ(readRunConfiguration("", (dir_ / "none.config").string(), ""), 0);
  EXPECT_EQ(runSettings().messageLevel, 4);
  EXPECT_EQ(runPaths().protocolFile, "./trovak_iges.prot");
}

}  // namespace

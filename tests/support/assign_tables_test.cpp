// Reading of the assignment tables and their lookups.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

class AssignTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("trovak_assign_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    resetRunState();
    runState().runMode = RunModeBit::kInput;
    runPaths().assignDir = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const char* name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  int warnings() { return mfaCounts().warnings; }

  fs::path dir_;
};

TEST_F(AssignTablesTest, GlobalValuesKeepDefaultsOutsideTheirRange) {
  write("global.cfg",
        "HYPB_ITPO_FAKT 7.0 0\n"
        "MAXM_KRBG_ITPO 12.6 0\n"
        "PARB_ITPO_FAKT 2.5 0\n"
        "MAXM_SPLI_FAKT 0.05 0\n"
        "ALLG_SYST_EPSL 0.001 0\n"
        "BEZG_PNKT_NAME 0 0 \"REFPUNKT\"\n"
        "TEXT_ESCP_ZCHN 0 0 \"<>\n"
        "hypb_itpo_fakt 2.0 0\n");
  const int before = warnings();
  ASSERT_EQ(readGlobalValues(), 0);
  const GlobalValues& g = assignTables().global;
  EXPECT_EQ(std::tuple(g.hyperbolaFactor, g.parabolaFactor, g.splineFactor, g.systemEpsilon),
            std::tuple(1.0, 2.5, 1.0, 0.001));
  EXPECT_EQ(g.maxArcInterpolation, 13);
  EXPECT_EQ(g.referencePointName, "REFPUNKT");
  EXPECT_EQ(g.textEscapes, "><#/");  // no closing quote
  EXPECT_EQ(warnings() - before, 3);  // HYPB, MAXM_SPLI, TEXT_ESCP
}

TEST_F(AssignTablesTest, LineStylesBothWays) {
  write("linestyle.cfg", "0,5\n3,4\nkommentar\n1,1\n");
  ASSERT_EQ(readLineStyles(), 0);
  EXPECT_EQ(assignTables().lineStyles[0], std::make_pair(2L, 5L));
  struct Case {
    int n, cad, exchange;
  } cases[] = {{5, 2, 1}, {4, 3, 1}, {1, 1, 1}, {3, 1, 4}, {2, 1, 5}, {0, 1, 1}, {9, 1, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(cadLineStyle(c.n), c.cad) << c.n;
    EXPECT_EQ(exchangeLineStyle(c.n), c.exchange) << c.n;
  }
  runState().useToolkit = 1;
  runState().runMode |= RunModeBit::kDwg;
  EXPECT_EQ(cadLineStyle(7), 7);
  EXPECT_EQ(exchangeLineStyle(7), 7);
}

TEST_F(AssignTablesTest, MissingTablesReportError150) {
  const int before = mfaCounts().errors;
  EXPECT_EQ(readLineStyles(), -1);
  EXPECT_EQ(readLeaders(), -1);
  EXPECT_EQ(readColourLists(), -1);
  EXPECT_EQ(readDxfLineTypes(), -1);
  EXPECT_EQ(mfaCounts().errors - before, 4);
  EXPECT_EQ(leaderKindOf(4), 4);  // defaults stay
  EXPECT_EQ(cadLineStyle(1), 2);
}

TEST_F(AssignTablesTest, LeadersRefuseUnknownKinds) {
  write("leader.cfg", "12,3\n2,7\n5,9\n");
  const int before = warnings();
  ASSERT_EQ(readLeaders(), 0);
  EXPECT_EQ(warnings() - before, 1);
  EXPECT_EQ(leaderKindOf(7), 2);
  EXPECT_EQ(leaderKindOf(9), 5);
  EXPECT_EQ(leaderKindOf(3), 3);  // 12,3 was not stored; pair 3 is the default (3,3)
}

TEST_F(AssignTablesTest, ColourListsLaterListOverrides) {
  write("color.cfg", "1,1\n1,7\n3,7\n2,2\n10,4\n");
  ASSERT_EQ(readColourLists(), 0);
  // List 10 does not exist; a list above 9 counts as 1; list 5 is empty.
  EXPECT_EQ(std::tuple(colourListOf(7), colourListOf(1), colourListOf(2), colourListOf(4)), std::tuple(3, 1, 2, 0));
  EXPECT_EQ(std::tuple(cadColourOf(1), cadColourOf(3), cadColourOf(12), cadColourOf(5)), std::tuple(1, 7, 1, 0));
  // A pointer to a colour definition goes through the element and palette.
  auto colourOf = [](int index, double& r, double& g, double& b) {
    if (index != 3) return false;
    r = 100; g = 0; b = 0;
    return true;
  };
  auto nearest = [](double r, double, double) { return r > 50 ? 2 : 1; };
  EXPECT_EQ(cadColourOf(-5, colourOf, nearest), 2);  // pointer 5 -> index 3
  EXPECT_EQ(cadColourOf(-7, colourOf, nearest), 0);
  EXPECT_EQ(cadColourOf(-5), 0);
}

TEST_F(AssignTablesTest, ColourDefinitionsAreMadeOncePerTriple) {
  int made = 0;
  auto make = [&made](long r, long g, long b, const std::string&, long) {
    EXPECT_EQ(r, 100);
    EXPECT_EQ(g, 50);  // 128 * 100 / 255
    EXPECT_EQ(b, 0);
    return 40 + made++;
  };
  EXPECT_EQ(colourDefinitionOf(2, 255, 128, 0, "orange", make).second, -1);  // not PLUS
  runState().runMode |= RunModeBit::kPlus;
  EXPECT_EQ(colourDefinitionOf(2, 255, 128, 0, "orange", make).second, 40);
  EXPECT_EQ(colourDefinitionOf(2, 255, 128, 0, "orange", make).second, 40);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(colourDefinitionOf(2, -1, 0, 0, "none", make).second, -2);
}

TEST_F(AssignTablesTest, ManyColourTriplesEachKeepTheirElement) {
  // A drawing may give every element a pen of its own: each distinct triple
  // gets one element, triples that differ in one component only are apart,
  // a triple met again (in any order, under any name and number) finds its
  // element, and a failed make leaves no entry behind.
  runState().runMode |= RunModeBit::kPlus;
  int made = 0;
  bool fail = false;
  auto make = [&](long, long, long, const std::string&, long) { return fail ? -1 : 100 + made++; };
  const long values[] = {0, 1, 255, 256, 32767};
  std::vector<std::array<long, 3>> triples;
  for (long r : values) {
    for (long g : values) {
      for (long b : values) triples.push_back({r, g, b});
    }
  }
  for (std::size_t i = 0; i < triples.size(); ++i) {
    const auto& t = triples[i];
    EXPECT_EQ(colourDefinitionOf(1, t[0], t[1], t[2], "a", make).second, 100 + static_cast<int>(i));
  }
  for (std::size_t i = triples.size(); i-- > 0;) {
    const auto& t = triples[i];
    EXPECT_EQ(colourDefinitionOf(7, t[0], t[1], t[2], "b", make).second, 100 + static_cast<int>(i));
  }
  EXPECT_EQ(made, static_cast<int>(triples.size()));
  fail = true;
  EXPECT_EQ(colourDefinitionOf(1, 3, 4, 5, "c", make).second, -1);
  fail = false;
  const int late = colourDefinitionOf(1, 3, 4, 5, "c", make).second;
  EXPECT_EQ(late, 100 + made - 1);
  EXPECT_EQ(colourDefinitionOf(1, 3, 4, 5, "c", make).second, late);
  resetAssignTables();
  runState().runMode |= RunModeBit::kPlus;
  const int fresh = colourDefinitionOf(1, 0, 0, 0, "d", make).second;  // a fresh run makes anew
  EXPECT_EQ(fresh, late + 1);
}

TEST_F(AssignTablesTest, ColourDefinitionTable) {
  write("farbtabelle.zuor", "rot 255 0 0 2\nkaputt 1 2\nblau 0 0 255 4\n");
  ASSERT_EQ(readColourDefinitions(), 0);
  ASSERT_EQ(assignTables().colourDefinitions.size(), 2u);
  EXPECT_EQ(assignTables().colourDefinitions[1].name, "blau");
  EXPECT_EQ(assignTables().colourDefinitions[1].number, 4);
}

TEST_F(AssignTablesTest, LineWidthLookups) {
  // IGES: factor from the global section, 1.0 / 10 gradations.
  readAssignments(1.0, 10);
  EXPECT_EQ(widthNumber(0.36), 4);
  EXPECT_EQ(widthNumber(0.34), 3);
  EXPECT_DOUBLE_EQ(widthOfNumber(5), 0.5);
  EXPECT_DOUBLE_EQ(widthOfNumber(0), 0.0001);
  runSettings().tlvvMode = 1;
  EXPECT_DOUBLE_EQ(widthOfNumber(3), 0.35);   // 0.3 -> the next standard pen
  EXPECT_DOUBLE_EQ(widthOfNumber(30), 2.0);   // wider than every pen: the last
  runSettings().tlvvMode = 9999;
  runState().senderCode = 11;  // recognised from the file
  EXPECT_DOUBLE_EQ(widthOfNumber(2), 0.35);
  EXPECT_DOUBLE_EQ(widthOfNumber(9), 2.0);
  // Other runs: hundredths of a millimetre.
  runState().runMode = RunModeBit::kOutput | RunModeBit::kDxf;
  readAssignments(1.0, 10);
  EXPECT_DOUBLE_EQ(assignTables().lineWidthFactor, 1.0);
  EXPECT_EQ(widthNumber(0.35), 35);
  EXPECT_DOUBLE_EQ(widthOfNumber(50), 0.5);
  EXPECT_DOUBLE_EQ(widthOfNumber(0), 0.5);
}

TEST_F(AssignTablesTest, DxfLineTypesGiveTheLineStyle) {
  write("dxf_linetypes.zuor",
        "/ Kommentar\n"
        "CONTINUOUS;Durchgezogen;1;0;0.0\n"
        "DASHED;Gestrichelt;2;2;5.0;3.5;-1.5\n"
        "BROKEN;zu wenig Elemente;3;4;5.0;1.0\n");
  runState().runMode = RunModeBit::kOutput | RunModeBit::kDxf;
  ASSERT_EQ(readDxfLineTypes(), 0);
  ASSERT_EQ(assignTables().dxfLineTypes.size(), 2u);
  EXPECT_EQ(assignTables().dxfLineTypes[1].elements.size(), 2u);
  // CAD style n is the n-th line type of the table; styles outside the
  // table draw solid.
  const std::vector<std::pair<int, int>> styles = {{1, 1}, {2, 2}, {3, 1}, {0, 1}, {-1, 1}};
  for (const auto& [cad, exchange] : styles) EXPECT_EQ(exchangeLineStyle(cad), exchange) << cad;
}

TEST_F(AssignTablesTest, InstalledTablesAreReadable) {
  for (const char* sub : {"iges/", "dxf/", "dwg/"}) {
    runPaths().assignDir = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/" + sub;
    const int before = warnings() + mfaCounts().errors;
    EXPECT_EQ(readGlobalValues(), 0);
    EXPECT_EQ(readLineStyles(), 0);
    EXPECT_EQ(readColourLists(), 0);
    EXPECT_EQ(readLeaders(), 0);
    EXPECT_EQ(readColourDefinitions(), 0);
    EXPECT_EQ(readDxfLineTypes(), 0);
    EXPECT_EQ(warnings() + mfaCounts().errors, before) << sub;
    EXPECT_EQ(assignTables().dxfLineTypes.size(), 5u);
    EXPECT_EQ(assignTables().global.referencePointName, "BEZUGSPUNKT");
  }
}

}  // namespace

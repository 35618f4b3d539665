// -igesin -stat over the real IGES files of the corpus: every well-formed
// file is read with status 0 and its statistics list each entity type with
// the count of its directory section; the malformed files end with their
// messages and statuses; no temporary file outlives a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"

namespace {

namespace fs = std::filesystem;

std::string corpusDir() { return std::string(TROVAK_CORPUS_DIR) + "/iges/"; }

// Entity types by count, read from the directory section of the file: the
// first of each pair of D records carries the type in columns 1..8.
std::map<int, int> directoryTypes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::map<int, int> counts;
  std::string line;
  long dRecords = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 73 || line[72] != 'D') continue;
    if (dRecords++ % 2 == 0) ++counts[std::atoi(line.substr(0, 8).c_str())];
  }
  return counts;
}

// The per-kind rows of the statistics: "<name> <tag> [type] [form] : total
// ...".  Returns the totals by type and the sum row's total.
struct KindTable {
  std::map<int, int> byType;
  int sum = -1;
  bool found = false;
};

KindTable kindTable(const std::string& report) {
  KindTable t;
  std::istringstream in(report);
  std::string line;
  bool inTable = false;
  while (std::getline(in, line)) {
    const std::size_t colon = line.rfind(':');
    if (!inTable) {
      if (colon != std::string::npos && line.find("total", colon) != std::string::npos) {
        inTable = t.found = true;
      }
      continue;
    }
    if (colon == std::string::npos) break;
    std::istringstream right(line.substr(colon + 1));
    int total = 0;
    right >> total;
    if (line.rfind("Total", 0) == 0) {
      t.sum = total;
      break;
    }
    std::vector<int> numbers;
    std::istringstream left(line.substr(0, colon));
    for (std::string word; left >> word;) {
      char* end = nullptr;
      const long v = std::strtol(word.c_str(), &end, 10);
      if (*end == '\0' && !word.empty()) numbers.push_back(static_cast<int>(v));
    }
    if (numbers.empty()) continue;
    // Two numbers are type and form, unless the name itself carries the
    // type (a kind without a name of its own).
    const int type = numbers.size() >= 2 && numbers[numbers.size() - 2] != numbers.back()
                         ? numbers[numbers.size() - 2]
                         : numbers.back();
    t.byType[type] += total;
  }
  return t;
}

std::string configText(const std::string& tempDir, bool statToConsole) {
  return "TR_PROT ./\nTR_TEMP " + tempDir + "\nTR_LANG english\nTR_STAT " +
         (statToConsole ? "ja" : "nein") + "\n";
}

int filesIn(const std::string& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir)) {
    (void)e;
    ++n;
  }
  return n;
}

struct StatRun {
  ProgramResult result;
  std::string protocol;
  int leftovers = 0;
};

StatRun runStat(const std::string& name, bool statToConsole = true) {
  TempDir dir;
  const std::string temp = dir.path() + "/tmp";
  fs::create_directories(temp);
  const std::string config = dir.write("run.config", configText(temp, statToConsole));
  StatRun run;
  run.result = runProgram(TROVAK_PROGRAM, {"-igesin", "-stat", corpusDir() + name, "out.kpl", config},
                          dir.path(), "", 300);
  run.protocol = readWholeFile(dir.path() + "/" + name + ".prot");
  run.leftovers = filesIn(temp);
  return run;
}

class StatCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(StatCorpus, EveryEntityTypeIsCountedAsInTheDirectory) {
  const std::string source = corpusDir() + GetParam();
  if (!fs::exists(source)) GTEST_SKIP() << "no corpus";
  const StatRun run = runStat(GetParam());
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_EQ(run.leftovers, 0);
  const std::map<int, int> expected = directoryTypes(source);
  int all = 0;
  for (const auto& [type, count] : expected) all += count;

  const KindTable inProtocol = kindTable(run.protocol);
  ASSERT_TRUE(inProtocol.found) << run.protocol;
  EXPECT_EQ(inProtocol.byType, expected);
  EXPECT_EQ(inProtocol.sum, all);
  // The same report on standard output, without the global section.
  const KindTable onConsole = kindTable(run.result.out);
  EXPECT_EQ(onConsole.byType, expected);
  EXPECT_NE(run.protocol.find("Values of the IGES global section"), std::string::npos);
  EXPECT_EQ(run.result.out.find("Values of the IGES global section"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CorpusFiles, StatCorpus,
                         ::testing::Values("sample_curves.igs", "occt_curves_50.igs",
                                           "occt_curves_500.igs", "occt_curves_brep_100.igs",
                                           "bearing_3d.iges", "rounded_cube_3d.igs"));

TEST(StatCorpusMalformed, FramesThatDoNotHoldEndWithTheirStatus) {
  struct Case {
    const char* file;
    int status;
    const char* message;  // the message number that must be reported
  };
  const Case cases[] = {
      {"first_line_82_cols.iges", 15, "(340)"},
      {"first_line_without_80_cols.iges", 15, "(340)"},
      // Cut inside the directory section: no terminate record (-9 - 20, as
      // the exit status 10 - (-29)).
      {"up_to_line_7_of_DE_section.iges", 39, "(350)"},
  };
  for (const Case& c : cases) {
    if (!fs::exists(corpusDir() + c.file)) GTEST_SKIP() << "no corpus";
    const StatRun run = runStat(c.file);
    EXPECT_EQ(run.result.status, c.status) << c.file << "\n" << run.result.err;
    EXPECT_NE(run.result.err.find(c.message), std::string::npos) << c.file << "\n" << run.result.err;
    EXPECT_EQ(run.leftovers, 0) << c.file;
    // No statistics after a failed run.
    EXPECT_FALSE(kindTable(run.protocol).found) << c.file;
  }
}

TEST(StatCorpusSettings, StatisticsOffKeepsTheReportInTheProtocol) {
  if (!fs::exists(corpusDir() + "sample_curves.igs")) GTEST_SKIP() << "no corpus";
  const StatRun run = runStat("sample_curves.igs", false);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_TRUE(kindTable(run.protocol).found);
  EXPECT_FALSE(kindTable(run.result.out).found);
}

}  // namespace

// -igesout runs of the real program on CAD transfer files written by the
// tests: the statuses of the run, the IGES file it leaves (and the files it
// must not leave), the levels and the refused toolkit input directions.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "transfer/dispatch_samples.h"

namespace {

namespace fs = std::filesystem;

struct OutputRun {
  std::unique_ptr<TempDir> dir;
  ProgramResult result;
  std::string output;                 // the written file, "" when none
  bool outputExists = false;
  std::vector<std::string> leftovers;  // files that should not be there
};

// Runs the program with the switches on a transfer file in a fresh
// directory whose configuration puts the temporary files into tmp/.
OutputRun runOutput(const std::vector<std::string>& switches, const std::string* transfer,
                    const std::string& outputName = "out.igs") {
  OutputRun run;
  run.dir = std::make_unique<TempDir>();
  const std::string base = run.dir->path();
  fs::create_directories(base + "/tmp");
  const std::string config = run.dir->write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\n");
  if (transfer != nullptr) run.dir->write("in.trf", *transfer);
  std::vector<std::string> args = switches;
  args.push_back(outputName);
  args.push_back("in.trf");
  args.push_back(config);
  run.result = runProgram(TROVAK_PROGRAM, args, base);
  const std::string outputPath = outputName.front() == '/' ? outputName : base + "/" + outputName;
  run.outputExists = fs::exists(outputPath);
  if (run.outputExists) run.output = samples::readFile(outputPath);
  const std::set<std::string> expected = {"run.config", "in.trf", "in.trf.prot", "tmp", outputName};
  for (const auto& entry : fs::directory_iterator(base)) {
    const std::string name = entry.path().filename().string();
    if (expected.count(name) == 0) run.leftovers.push_back(name);
  }
  for (const auto& entry : fs::directory_iterator(base + "/tmp")) {
    run.leftovers.push_back("tmp/" + entry.path().filename().string());
  }
  return run;
}

std::string drawing() { return samples::smallDrawing().str(); }

TEST(IgesOutRunTest, StatusesAndFiles) {
  const std::string ok = drawing();
  const std::string empty;
  const std::string noGeneral = "@fileversion\n#1\n#V1\n#CAD\n@line 1\n#visible\n";
  struct Case {
    const char* name;
    const std::string* transfer;
    std::string outputName;
    int status;
    bool written;
  };
  const Case cases[] = {
      {"a drawing", &ok, "out.igs", 0, true},
      {"no transfer file", nullptr, "out.igs", 14, false},
      {"an empty transfer file", &empty, "out.igs", 19, false},
      {"no general section", &noGeneral, "out.igs", 21, false},
      // The output cannot be made: error 980, result -4 of the direction.
      {"no output directory", &ok, "missing/out.igs", 24, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OutputRun run = runOutput({"-igesout"}, c.transfer, c.outputName);
    EXPECT_EQ(run.result.status, c.status) << run.result.out << run.result.err;
    EXPECT_EQ(run.outputExists, c.written);
    // Section files and half-written outputs never stay behind.
    EXPECT_TRUE(run.leftovers.empty()) << run.leftovers.front();
  }
}

TEST(IgesOutRunTest, Levels) {
  const std::string file = drawing();
  struct Case {
    std::vector<std::string> switches;
    const char* senderId;
    std::map<int, int> counts;
  };
  const Case cases[] = {
      {{"-igesout"}, "15HVERS2006.1-G1B1,7HOUT.IGS,", {{100, 1}, {110, 2}, {212, 1}, {402, 1}}},
      {{"-igesout", "-g1"}, "13HVERS2006.1-G1,", {{100, 1}, {110, 2}, {402, 1}}},
      {{"-igesout", "-vdais"}, "16HVERS2006.1-VDAIS,", {{100, 1}, {110, 2}, {402, 1}}},
      // PLUS: the pen's colour definition, the group's name and the layer
      // list come on top.
      {{"-igesout", "-plus"},
       "15HVERS2006.1-PLUS,",
       {{100, 1}, {110, 2}, {212, 1}, {314, 1}, {402, 1}, {406, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.senderId);
    const OutputRun run = runOutput(c.switches, &file);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    const samples::IgesView view = samples::readIges(run.output);
    EXPECT_TRUE(view.errors.empty()) << view.errors.front();
    EXPECT_EQ(view.countByType(), c.counts);
    EXPECT_NE(view.global.find(c.senderId), std::string::npos) << view.global;
  }
  // STAT counts the elements and writes no file.
  const OutputRun stat = runOutput({"-igesout", "-stat"}, &file);
  EXPECT_EQ(stat.result.status, 0);
  EXPECT_FALSE(stat.outputExists);
  EXPECT_TRUE(stat.leftovers.empty());
}

TEST(IgesOutRunTest, FileCutInsideItsLastElement) {
  // A file cut inside its last element: the element is a warning that names
  // its identifier, in the protocol, and the closing line counts it (and
  // the element's failure, when it fails, as an error), for
  // both writers of the output loop.  The cut points lie inside the member
  // list of a last group, in its header values and its keyword (named by
  // what is left of it), and inside a last line's fields.
  const std::string group = samples::TransferFile().line("1", 0, 0, 10, 5).line("4", 0, 0, 5, 0)
                                .group("57", "G", {"1", "4"}).str();
  const std::string line = samples::TransferFile().line("1", 0, 0, 10, 5).line("58", 0, 0, 5, 0).str();
  struct Case {
    const char* name;
    const std::string* file;
    std::size_t cutBytes;  // taken off the end
    const char* identifier;
    int failed;  // the element fails (an error of its own) or keeps what it has
  };
  const Case cases[] = {
      {"group: inside its end marker", &group, 2, "57", 0},
      {"group: after its first member", &group, 8, "57", 0},
      {"group: before its members", &group, 11, "57", 1},
      {"group: inside its header values", &group, 16, "57", 1},
      {"group: inside its keyword", &group, 43, "grou", 0},
      {"line: before its last value", &line, 4, "58", 1},
      {"line: inside its coordinates", &line, 17, "58", 1},
  };
  for (const char* direction : {"-igesout", "-dxf12out"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(direction) + ", " + c.name);
      const std::string cut = c.file->substr(0, c.file->size() - c.cutBytes);
      const OutputRun run =
          runOutput({direction}, &cut, std::string(direction) == "-igesout" ? "out.igs" : "out.dxf");
      ASSERT_EQ(run.result.status, 0) << run.result.err;
      const std::string protocol = samples::readFile(run.dir->path() + "/in.trf.prot");
      EXPECT_NE(protocol.find("WARNUNG (1320)"), std::string::npos) << protocol;
      EXPECT_NE(protocol.find(std::string("Element ") + c.identifier + " der CAD-Transferdatei"),
                std::string::npos)
          << protocol;
      const std::pair<int, int> counts = closingCounts(run.result.err);
      EXPECT_EQ(counts.first, c.failed) << run.result.err;
      EXPECT_EQ(counts.second, 1) << run.result.err;
    }
  }
  // The whole file: nothing to warn about.
  const OutputRun whole = runOutput({"-igesout"}, &group);
  EXPECT_EQ(closingCounts(whole.result.err), std::make_pair(0, 0)) << whole.result.err;
}

TEST(IgesOutRunTest, LineWeightsCountInTheGradationsOfTheGlobalSection) {
  // The file's global section says 10000 gradations up to 100 mm: a width
  // in millimetres is written as its hundredths (rounded).
  const std::vector<std::pair<double, int>> widths = {{0.35, 35}, {0.7, 70}, {2.0, 200}, {0.004, 0}, {0.006, 1}};
  samples::TransferFile file;
  for (std::size_t k = 0; k < widths.size(); ++k) {
    file.line(std::to_string(k + 1), 0, static_cast<double>(k), 10, static_cast<double>(k), 10, false, 1,
              widths[k].first);
  }
  const std::string text = file.str();
  const OutputRun run = runOutput({"-igesout"}, &text);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  const samples::IgesView view = samples::readIges(run.output);
  ASSERT_TRUE(view.errors.empty()) << view.errors.front();
  EXPECT_NE(view.global.find(",10000,"), std::string::npos) << view.global;
  const auto lines = view.ofType(110);
  ASSERT_EQ(lines.size(), widths.size());
  for (const samples::IgesEntity* line : lines) {
    // The lines lie at y = 0, 1, 2, ... in the order of the widths.
    const std::size_t k = static_cast<std::size_t>(std::lround(line->real(2)));
    ASSERT_LT(k, widths.size());
    EXPECT_EQ(line->lineWeight, widths[k].second) << widths[k].first;
  }
}

TEST(IgesOutRunTest, EdxInput) {
  // -edxin: the elements come from an EDX file: a named group of a line and
  // a circle, a plain element list with a point, and a composite segment of
  // a line and an arc.
  const std::string edx =
      "{0:\"G1\"{.L(0,0,0)(10,0,0).C(5,5,0)(2,0,0)}}\n"
      "{0:\"els2d\".P(1,2,0)}\n"
      "{0:UT1024{def}{(0,0,0),1,(5,0,0),19,(6,1,0),(5,2,0),(5,2,0)}}\n";
  const OutputRun run = runOutput({"-edxin", "-igesout"}, &edx);
  ASSERT_EQ(run.result.status, 0) << run.result.err;
  EXPECT_TRUE(run.leftovers.empty());
  const samples::IgesView view = samples::readIges(run.output);
  EXPECT_TRUE(view.errors.empty());
  EXPECT_EQ(view.countByType(), (std::map<int, int>{{100, 2}, {110, 2}, {116, 1}, {402, 2}}));
  EXPECT_EQ(view.ofType(116).front()->label, "POINT   ");
  for (const samples::IgesEntity* group : view.ofType(402)) EXPECT_EQ(group->integer(1), 2);
}

}  // namespace

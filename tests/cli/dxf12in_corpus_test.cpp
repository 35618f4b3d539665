// -dxf12in over the real DXF files of the corpus.
//
// Files of the releases the own reader is made for (R2.6 to R12) convert
// with status 0, and the lines, circles, arcs and points of the script
// (read back through its point chain) are those another DXF reader finds
// in the same file: model space and the sheet, with every INSERT and
// DIMENSION expanded into its block's entities, since the script expands
// block instances in place (the default subfigure mode of the input
// directions).  Every line, circle, arc and point of the file, and every
// arc segment of its polylines, must be in the script; the script may hold
// more lines (polylines, solids, faces and the outlines of texts are
// written as lines too), but not more circles or arcs.
//
// Files of later releases are read as far as the own reader's entity list
// goes: status 0, or a clear error status, never a crash.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "cli/dxf_peer.h"
#include "iges_in/kpl_reader.h"

namespace {

using namespace dxfpeer;

std::string corpus() { return std::string(TROVAK_CORPUS_DIR); }

ProgramResult convert(const TempDir& dir, const std::string& file, const std::string& script) {
  const std::string config =
      dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n");
  return runProgram(TROVAK_PROGRAM, {"-dxf12in", file, script, config}, dir.path(), "", 300);
}

class Dxf12inCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Dxf12inCorpus, ScriptHoldsTheGeometryOfTheFile) {
  const std::string file = corpus() + "/" + GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const std::string script = dir.path() + "/out.kpl";
  const ProgramResult run = convert(dir, file, script);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  const kpl::Script s = kpl::readScriptFile(script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);
  if (!available()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  Drawing x = read(file);
  // The own reader draws dimensions from their blocks.
  const auto append = [](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.end()); };
  append(x.lines, x.dimensions.lines);
  append(x.circles, asCircles(x.dimensions.circles));
  append(x.arcs, x.dimensions.arcs);
  append(x.points, x.dimensions.points);

  const auto lostLines = missing(x.lines, s.lines, lineKey, sameLine);
  EXPECT_TRUE(lostLines.empty()) << describe(lostLines.size(), x.lines.size(), "lines", lostLines.front().start);

  const auto lostCircles = missing(x.circles, s.circles, centreKey, sameCircle);
  EXPECT_TRUE(lostCircles.empty()) << describe(lostCircles.size(), x.circles.size(), "circles",
                                               lostCircles.front().centre);
  EXPECT_EQ(s.circles.size(), x.circles.size());

  const std::vector<kpl::Circle> arcs = asCircles(s.arcs);
  const auto lostArcs = missing(asCircles(x.arcs), arcs, centreKey, sameCircle);
  EXPECT_TRUE(lostArcs.empty()) << describe(lostArcs.size(), x.arcs.size(), "arcs", lostArcs.front().centre);
  EXPECT_EQ(arcs.size(), x.arcs.size());

  std::vector<kpl::Point> written;
  for (const auto& [n, p] : s.points) written.push_back(p);
  const auto lostPoints = missing(places(x.points), written, pointKey,
                                  [](const kpl::Point& a, const kpl::Point& b) { return near(a, b, std::fabs(a.x)); });
  EXPECT_TRUE(lostPoints.empty()) << describe(lostPoints.size(), x.points.size(), "points", lostPoints.front());
}

INSTANTIATE_TEST_SUITE_P(Release12AndBefore, Dxf12inCorpus,
                         ::testing::Values("dwg/r2.6/entities.dxf", "dwg/r9/entities.dxf", "dwg/r11/entities-2d.dxf",
                                           "dxf/example_r12.dxf", "dxf/r12/Leader.dxf", "dxf/r12/Constraints.dxf"));

// Every later-release DXF file of the corpus (and the binary one): a status
// of 0 or a clear error status, nothing from the sanitizers.
TEST(Dxf12inCorpusLater, LaterReleasesAreReadWithoutFailing) {
  const std::filesystem::path root = corpus();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no corpus";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".dxf" || ext == ".dxfb") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  int converted = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    TempDir dir;
    const ProgramResult run = convert(dir, file.string(), dir.path() + "/out.kpl");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err.substr(0, 2000);
    EXPECT_EQ(run.err.find("AddressSanitizer"), std::string::npos) << run.err.substr(0, 2000);
    // 0, or the status of a file without a readable section (-8 - 20, shown
    // as 38); a binary file is input the direction cannot read (14).
    if (file.extension() == ".dxfb") {
      EXPECT_EQ(run.status, 14) << run.err.substr(0, 2000);
      EXPECT_NE(run.err.find("(981)"), std::string::npos) << run.err.substr(0, 2000);
    } else {
      EXPECT_TRUE(run.status == 0 || run.status == 38) << run.status << "\n" << run.err.substr(0, 2000);
    }
    if (run.status == 0) ++converted;
  }
  EXPECT_GT(converted, 0);
}

}  // namespace

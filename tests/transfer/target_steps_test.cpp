// The output loop with a step set of the test's own: the set handed to the
// loop gets every element, whatever target the run mode names, in
// conversion order, with the brackets of groups, contours, dimensions and
// plane-part boundaries around the steps of their members.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "elements/target_steps.h"
#include "iges_out/iges_writer.h"
#include "support/config.h"
#include "support/run_state.h"
#include "tests/output_run_reset.h"
#include "transfer/dispatch_samples.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

namespace fs = std::filesystem;
using samples::TransferFile;

// Writes nothing; notes every call as "<operation> <identifier>", the
// composites with the number of members (or contours) they were given.
class RecordingSteps final : public TargetSteps {
 public:
  std::vector<std::string> events;
  int groupBracket = ConvertResult::kDone;  // what beginGroup answers
  int finishResult = 0;

  void beginRun(const OutputExtents& e) override {
    events.push_back("run " + std::to_string(static_cast<int>(e.xmin)) + " " +
                     std::to_string(static_cast<int>(e.ymax)));
  }
  int finish() override {
    events.push_back("finish");
    return finishResult;
  }

  int point(const StepContext&, const TransferPoint& r) override { return note("point", r); }
  int line(const StepContext&, const TransferLine& r) override { return note("line", r); }
  int circle(const StepContext&, const TransferCircle& r) override { return note("circle", r); }
  int ellipse(const StepContext&, const TransferEllipse& r) override { return note("ellipse", r); }
  int spline(const StepContext&, const TransferSpline& r) override { return note("spline", r); }
  int hatch(const StepContext&, const TransferHatch& r) override { return note("hatch", r); }
  int text(const StepContext&, const TransferText& r) override { return note("text", r); }
  int symbol(const StepContext&, const TransferSymbol& r, SymbolPartReader&) override {
    return note("symbol", r);
  }

  int beginDimension(const StepContext&, const TransferDimension& r) override {
    return note("beginDimension", r);
  }
  int dimension(const StepContext&, const TransferDimension& r) override { return note("dimension", r); }
  void endDimension(const StepContext&, const TransferDimension& r) override { note("endDimension", r); }

  int beginGroup(const StepContext&, const TransferGroup& r) override {
    note("beginGroup", r);
    return groupBracket;
  }
  int group(const StepContext&, const TransferGroup& r, const WrittenMembers& m) override {
    return note("group", r, m.indices.size());
  }
  void endGroup(const StepContext&, const TransferGroup& r) override { note("endGroup", r); }

  int beginContour(const StepContext&, const TransferContour& r) override {
    return note("beginContour", r);
  }
  int contour(const StepContext&, const TransferContour& r, const WrittenMembers& m) override {
    return note("contour", r, m.indices.size());
  }
  void endContour(const StepContext&, const TransferContour& r) override { note("endContour", r); }

  void beginBoundary(const StepContext&, const TransferPlanePart& r) override { note("beginBoundary", r); }
  std::int32_t looseContour(const StepContext&, const TransferPlanePart& r,
                            const std::vector<std::int32_t>& curves) override {
    note("looseContour", r, curves.size());
    return 1;  // a reference for the contour made
  }
  void endBoundary(const StepContext&, const TransferPlanePart& r) override { note("endBoundary", r); }
  int planePart(const StepContext&, const TransferPlanePart& r,
                const std::vector<std::int32_t>& contours) override {
    return note("planePart", r, contours.size());
  }

 private:
  int note(const std::string& what, const TransferRecord& r) {
    events.push_back(what + " " + r.identifier);
    return ConvertResult::kDone;
  }
  int note(const std::string& what, const TransferRecord& r, std::size_t count) {
    events.push_back(what + " " + r.identifier + " (" + std::to_string(count) + ")");
    return ConvertResult::kDone;
  }
};

class TargetStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetOutputRun();
    dir_ = fs::temp_directory_path() / ("trovak_target_steps_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    runPaths().tempDir = dir_.string() + "/";
    runPaths().assignDir = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru/assign/iges/";
    resetIgesWriter();
  }
  void TearDown() override {
    resetTransferReader();
    freeTable();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // Loads the file at level PLUS of an IGES run and converts it with the
  // recording steps; the loop's result.
  int convert(const std::string& file) {
    runState().runMode = RunModeBit::kOutput | RunModeBit::kPlus;
    runState().level = "PLUS";
    runState().outputTolerance = 0.1;
    EXPECT_EQ(openTransferBytes(file), 0);
    EXPECT_EQ(loadTransferTable(), 0);
    return convertTransferElements(steps_);
  }
  char stateOf(const std::string& id) {
    const auto position = transferReader().transferIdIndex.find(id);
    if (!position) return '?';
    const std::int32_t i = findById(*position, 1, elementTable().lastIndex);
    return i < 1 ? '?' : element(i).state;
  }

  fs::path dir_;
  RecordingSteps steps_;
};

// Contour 10 of lines 1 to 3; group 20 holding line 5 and group 21, which
// holds line 4; plane part 30 bounded by the loose lines 6 to 8; dimension
// 40 naming line 9 as its member; a point and a circle of their own;
// contour 60 whose only member, line 61, is deleted.
std::string compositesFile() {
  TransferFile f;
  f.line("1", 0, 0, 1, 0).line("2", 1, 0, 1, 1).line("3", 1, 1, 0, 0);
  f.line("4", 0, 2, 1, 2).line("5", 0, 3, 1, 3);
  f.line("6", 5, 0, 6, 0).line("7", 6, 0, 6, 1).line("8", 6, 1, 5, 0);
  f.line("9", 0, 9, 9, 9);
  f.contour("10", {"1", "2", "3"});
  f.group("20", "Outer", {"5", "21"}).group("21", "Inner", {"4"});
  f.planePart("30", {"6", "7", "8"});
  f.raw("@measure_distance 40\n#attribute text of 40\n#x\n#visible\n#1 0 0 0 black\n#9\n#end\n"
        "#0 0\n#10 0\n#5 5\n#10\n#3.5\n#\n#10\n#1\n#0.5\n");
  f.point("50", 3, 3).circle("51", 4, 4, 1);
  f.line("61", 0, 0, 2, 2, 10, true).contour("60", {"61"});
  return f.str();
}

TEST_F(TargetStepsTest, TheSetHandedInSeesEveryElementInItsBrackets) {
  runSettings().inbiMode = 0;  // deleted elements are left out
  const std::uint32_t directoryBefore = igesWriter().directorySeq;
  EXPECT_EQ(convert(compositesFile()), 0);
  const std::vector<std::string> expected = {
      "run -100 100",
      // Groups first: a group in a group (the first of the sons) opens and
      // closes inside its father's brackets, after its own member.
      "beginGroup 20", "beginGroup 21", "line 4", "group 21 (1)", "endGroup 21", "line 5",
      "group 20 (2)", "endGroup 20",
      // The plane part: its boundary curves between the boundary brackets,
      // the loose curves joined into one contour.
      "beginBoundary 30", "line 6", "line 7", "line 8", "looseContour 30 (3)", "endBoundary 30",
      "planePart 30 (1)",
      // Contours: the end bracket also when no member was written.
      "beginContour 60", "endContour 60",
      "beginContour 10", "line 1", "line 2", "line 3", "contour 10 (3)", "endContour 10",
      // The dimension's member inside its brackets, before the dimension.
      "beginDimension 40", "line 9", "dimension 40", "endDimension 40",
      // The elements of no composite.
      "circle 51", "point 50", "finish"};
  EXPECT_EQ(steps_.events, expected);
  for (const char* id : {"1", "4", "9", "10", "20", "21", "30", "40", "50"}) EXPECT_EQ(stateOf(id), 'd') << id;
  EXPECT_EQ(stateOf("60"), 'i');
  EXPECT_EQ(stateOf("61"), 'i');
  // An IGES run mode, yet nothing went to the IGES writer.
  EXPECT_EQ(igesWriter().directorySeq, directoryBefore);
}

TEST_F(TargetStepsTest, ARefusedBracketAndAFailedFinish) {
  // A group bracket that is refused ends the group's step at once: no
  // member inside it, no end bracket; the members come later on their own.
  steps_.groupBracket = ConvertResult::kIgnored;
  steps_.finishResult = -1;
  const std::string file = TransferFile().line("1", 0, 0, 1, 0).group("2", "G", {"1"}).str();
  EXPECT_EQ(convert(file), -1);  // the loop's result is the finish's
  const std::vector<std::string> expected = {"run -100 100", "beginGroup 2", "line 1", "finish"};
  EXPECT_EQ(steps_.events, expected);
  EXPECT_EQ(stateOf("2"), 'i');
  EXPECT_EQ(stateOf("1"), 'd');
}

}  // namespace

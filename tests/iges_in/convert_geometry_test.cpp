// The emit steps of the IGES geometry entities, read back through the
// script reader.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "iges_in/iges_geometry.h"
#include "iges_in/kpl_reader.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

class ConvertGeometry : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1 | RunModeBit::kB1;
    out_.str("");
    out_.clear();
    created_.clear();
    ScriptSource source;
    source.unitFlag = 2;
    ScriptOpenStream(out_, "a.kpl", source);
    element_.index = 1;
    element_.data.type = 110;
  }
  void TearDown() override { resetScriptState(); }
  kpl::Script script() { return kpl::readScript(out_.str()); }

  std::ostringstream out_;
  ScriptElement element_;
  std::vector<std::int32_t> created_;
};

TEST_F(ConvertGeometry, CopiousDataByForm) {
  // IP 1: pairs with a common z; three points.
  const ParameterValues pairs = {1, 3, 0, 0, 0, 1, 0, 1, 1};
  const ParameterValues triples = {2, 3, 0, 0, 0, 1, 0, 0, 1, 1, 0};
  struct Case {
    int form;
    const ParameterValues* v;
    std::uint32_t level;
    int result;
    std::size_t lines;
    int contours;
  } cases[] = {
      {1, &pairs, RunModeBit::kG1, 0, 0, 0},
      {12, &triples, RunModeBit::kG1, 0, 2, 0},
      {11, &pairs, RunModeBit::kG1, 0, 2, 0},
      {63, &pairs, RunModeBit::kG1, 0, 2, 1},
      {40, &pairs, RunModeBit::kG1, -1, 0, 0},
      {40, &pairs, RunModeBit::kG1 | RunModeBit::kB1, 0, 2, 0},
      {31, &pairs, RunModeBit::kPlus, 0, 1, 0},
      {20, &pairs, RunModeBit::kPlus, -99, 0, 0},
      {64, &pairs, RunModeBit::kPlus, -99, 0, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    runState().runMode = RunModeBit::kInput | c.level;
    EXPECT_EQ(emitCopiousData(element_, nullptr, c.form, *c.v, created_), c.result) << c.form;
    const kpl::Script s = script();
    EXPECT_EQ(s.lines.size(), c.lines) << c.form;
    EXPECT_EQ(s.contours, c.contours) << c.form;
    TearDown();
  }
  // A point count larger than the data holds reads only what is there.
  SetUp();
  EXPECT_EQ(emitCopiousData(element_, nullptr, 11, {1, 1e9, 0, 0, 0, 1, 0}, created_), 0);
  EXPECT_EQ(script().lines.size(), 1u);
}

TEST_F(ConvertGeometry, FlashesAreCircles) {
  EXPECT_EQ(emitFlash(element_, nullptr, 1, {5, 6, 4, 0, 0, 0, 0}, created_), -88);
  EXPECT_EQ(emitFlash(element_, nullptr, 2, {0, 0, 2, 6, 0, 0, 0}, created_), -88);
  EXPECT_EQ(emitFlash(element_, nullptr, 3, {0, 0, 2, 6, 0, 0, 0}, created_), -99);
  const kpl::Script s = script();
  ASSERT_EQ(s.circles.size(), 3u);
  EXPECT_NEAR(s.circles[0].centre.x, 5, 1e-9);
  EXPECT_NEAR(s.circles[0].radius, 2, 1e-9);
  EXPECT_NEAR(s.circles[1].radius, 1, 1e-9);
  EXPECT_NEAR(s.circles[2].radius, 3, 1e-9);
}

TEST_F(ConvertGeometry, ParametricSplineAsSplineOrLines) {
  // One cubic segment x = s, y = s^3 on [0, 1].
  const ParameterValues v = {3, 3, 2, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  int kind = 112;
  EXPECT_EQ(emitParametricSpline(element_, nullptr, v, created_, kind), 0);
  EXPECT_EQ(kind, 112);
  EXPECT_EQ(script().splines.size(), 1u);
  SetUp();
  runSettings().splineMode = 0;
  EXPECT_EQ(emitParametricSpline(element_, nullptr, v, created_, kind), 0);
  EXPECT_EQ(kind, 110);
  const kpl::Script s = script();
  EXPECT_EQ(s.splines.size(), 0u);
  ASSERT_EQ(s.lines.size(), static_cast<std::size_t>(kSplineStepsPerSegment));
  EXPECT_NEAR(s.lines.back().end.x, 1, 1e-9);
  EXPECT_NEAR(s.lines.back().end.y, 1, 1e-9);
  // A segment count the data cannot hold is refused.
  EXPECT_EQ(emitParametricSpline(element_, nullptr, {3, 3, 2, 1e9}, created_, kind), -1);
}

TEST_F(ConvertGeometry, RationalBSplineControlPoints) {
  // K=2, M=2: 6 knots, 3 weights, 3 control points.
  const ParameterValues v = {2, 2, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1,
                             0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 1};
  EXPECT_EQ(emitRationalBSpline(element_, nullptr, v, created_), 0);
  const kpl::Script s = script();
  ASSERT_EQ(s.splines.size(), 1u);
  ASSERT_EQ(s.splines[0].controlPoints.size(), 3u);
  EXPECT_NEAR(s.splines[0].controlPoints[1].y, 2, 1e-9);
  EXPECT_EQ(s.splines[0].degree, 2);
  EXPECT_EQ(emitRationalBSpline(element_, nullptr, {1e9, 3, 0, 0, 0, 0}, created_), -1);
}

TEST_F(ConvertGeometry, EmitGates) {
  struct Case {
    std::uint32_t level;
    int blankSetting;
    int useToolkit;
    int entityUse, blank;
    bool written;
  } cases[] = {
      {RunModeBit::kG1, kNotSet, 0, 0, 0, true},
      {RunModeBit::kG1, kNotSet, 0, 2, 0, false},
      {RunModeBit::kG1 | RunModeBit::kB1, kNotSet, 0, 2, 0, true},
      {RunModeBit::kPlus, kNotSet, 0, 2, 0, true},
      {RunModeBit::kG1, kNotSet, 0, 0, 1, true},
      {RunModeBit::kG1, kNotSet, 1, 0, 1, false},
      {RunModeBit::kG1, 0, 0, 0, 1, false},
      {RunModeBit::kG1, 1, 1, 0, 1, true},
  };
  for (const Case& c : cases) {
    runState().runMode = RunModeBit::kInput | c.level;
    runSettings().blankMode = c.blankSetting;
    runState().useToolkit = c.useToolkit;
    EXPECT_EQ(passesEmitGates(c.entityUse, c.blank), c.written)
        << c.level << " " << c.blankSetting << " " << c.entityUse << " " << c.blank;
  }
}

}  // namespace

// Runs one after another in one process: every module's record is set back
// by resetRunState(), so that a drawing converts to the same script whatever
// was converted before it.  A record left out of the registry shows here as
// a counter that goes on (group and dimension numbers), a subfigure or
// layer remembered from the earlier drawing, or a setting that stays.
#include "tests/iges_in/conversion_fixture.h"

namespace {

class RunAfterRun : public ConversionTest {
 protected:
  // Converts the drawing as a run of its own would, after a fresh start.
  std::string convertFresh(const igestest::Builder& b) {
    afresh();
    EXPECT_EQ(convert(b), 0);
    return text();
  }
};

TEST_F(RunAfterRun, ADrawingConvertsAlikeWhateverRanBefore) {
  const igestest::Builder annotated = igestest::annotatedDrawing();
  // Another drawing that leaves every module's record busy: the annotated
  // one again behind arcs of another radius around the same centre, with
  // more lines, a colour, a view and a drawing, converted view by view.
  igestest::Builder other = igestest::annotatedDrawing(3);
  other.add(110, "0.,0.,0.,50.,50.,0.;");
  other.add(314, "50.,20.,10.,5HOCHRE;");
  const int view = other.add(410, "7,2.,0,0,0,0,0,0;");
  other.add(404, "1," + std::to_string(view) + ",10.,10.,0;");

  const std::string first = convertFresh(annotated);
  ASSERT_FALSE(first.empty());
  afresh();
  runSettings().viewMode = 1;
  runSettings().traceLevel = 1;
  runSettings().worldMode = 1;
  igesStructureSettings().modelDirectory = "other/";
  ASSERT_EQ(convert(other), 0);
  ASSERT_NE(text(), first);
  EXPECT_EQ(convertFresh(annotated), first);
}

}  // namespace

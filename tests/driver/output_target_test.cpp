// The target of an output run and the step set the dispatcher hands to the
// output loop for it.
#include <gtest/gtest.h>

#include "driver/output_target.h"
#include "driver/toolkit_output.h"
#include "iges_out/dxf_steps.h"
#include "iges_out/iges_steps.h"
#include "support/run_state.h"

namespace {

TEST(OutputTargetTest, OneSetPerTarget) {
  struct Case {
    std::uint32_t bits;
    int useToolkit;
    OutputTarget target;
    TargetSteps* steps;
  };
  const Case cases[] = {
      {RunModeBit::kOutput | RunModeBit::kPlus, 0, OutputTarget::kIges, &igesTargetSteps()},
      {RunModeBit::kOutput | RunModeBit::kDxf | RunModeBit::kG1 | RunModeBit::kB1, 0, OutputTarget::kOwnDxf,
       &ownDxfTargetSteps()},
      {RunModeBit::kOutput | RunModeBit::kDxf | RunModeBit::kPlus, 1, OutputTarget::kToolkit, &toolkitTargetSteps()},
      {RunModeBit::kOutput | RunModeBit::kDwg | RunModeBit::kPlus, 1, OutputTarget::kToolkit, &toolkitTargetSteps()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    resetRunState();
    runState().runMode = c.bits;
    runState().useToolkit = c.useToolkit;
    EXPECT_EQ(outputTarget(), c.target);
    EXPECT_EQ(outputStepsOf(outputTarget()), c.steps);
  }
  resetRunState();
}

}  // namespace

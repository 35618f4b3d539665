// The target of an output run and its step set.
#include "driver/output_target.h"

#include "driver/toolkit_output.h"
#include "iges_out/dxf_steps.h"
#include "iges_out/iges_steps.h"
#include "support/run_state.h"

OutputTarget outputTarget() {
  if (runHas(RunModeBit::kDxf | RunModeBit::kDwg)) {
    return runState().useToolkit != 0 ? OutputTarget::kToolkit : OutputTarget::kOwnDxf;
  }
  return OutputTarget::kIges;
}

TargetSteps* outputStepsOf(OutputTarget target) {
  switch (target) {
    case OutputTarget::kIges: return &igesTargetSteps();
    case OutputTarget::kOwnDxf: return &ownDxfTargetSteps();
    case OutputTarget::kToolkit: return &toolkitTargetSteps();
  }
  return nullptr;
}

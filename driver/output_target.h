// The target of an output run, and the set of output steps that writes it
// (elements/target_steps.h), chosen once per run and handed to the output
// loop.
#pragma once

#include "elements/target_steps.h"

// Where an output run writes.
enum class OutputTarget {
  kIges,     // the IGES writer (-igesout)
  kOwnDxf,   // the own DXF writer (-dxf12out)
  kToolkit,  // the drawing database toolkit (-dxfout, -dwgout)
};
// The target of the run: from the exchange format of the run-mode word and
// the toolkit flag.
OutputTarget outputTarget();

// The step set of a target; nullptr for one whose steps this program does
// not have.
TargetSteps* outputStepsOf(OutputTarget target);

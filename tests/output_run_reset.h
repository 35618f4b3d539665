// The state a run of the output conversion starts from: every module set
// back and the messages kept off the console.  Shared by the output loop
// tests, its benchmark and its fuzz target.
#pragma once

#include "support/messages.h"
#include "support/run_state.h"

inline void resetOutputRun() {
  resetRunState();
  mfaSetMessageLevel(0);
}

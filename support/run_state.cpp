#include "support/run_state.h"

RunState& runState() {
  static RunState state;
  return state;
}

void resetRunState() { runState() = RunState{}; }

bool runIsGerman() { return runState().language == "deutsch"; }

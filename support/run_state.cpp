#include "support/run_state.h"

namespace {

struct RegisteredState {
  const char* name;
  RunStateReset reset;
};

// The registry itself is no run state: it is filled while the program
// starts and stays as it is.
std::vector<RegisteredState>& registry() {
  static std::vector<RegisteredState> states;
  return states;
}

const RunStateRegistrar kRegistered("run", [] { runState() = RunState{}; });

}  // namespace

RunState& runState() {
  static RunState state;
  return state;
}

void registerRunState(const char* name, RunStateReset reset) { registry().push_back({name, reset}); }

void resetRunState() {
  for (const RegisteredState& state : registry()) state.reset();
}

std::vector<std::string> registeredRunStates() {
  std::vector<std::string> names;
  for (const RegisteredState& state : registry()) names.emplace_back(state.name);
  return names;
}

bool runIsGerman() { return runState().language == "deutsch"; }

// The registry of run state: what a run changes lives in module records
// that register their reset, so that resetRunState() leaves nothing of an
// earlier run behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

// Every process-wide variable of the program's sources sits in a file
// that registers a reset for it: a file may hold no more such variables
// than it has registrars.  The few statics below hold no run state.
TEST(RunStateRegistry, EveryStaticOfTheSourcesIsRegistered) {
  const std::set<std::string> notRunState = {
      "Stack",                         // the trace's call nesting
      "RunFileTable",                  // files owned by their OutputFile objects
      "std::vector<RegisteredState>",  // the registry itself
      "std::ostream",                  // the script's discard stream
      "RecordStorage",                 // the element table's memory, reset with it
      "IgesSteps",                     // the output steps of a target: no members
      "OwnDxfSteps",
  };
  const std::regex variable(R"(^\s*static\s+(?!const\b|constexpr\b|inline\b)([\w:<>, ]+?)\s+\w+\s*(\{.*\}|\(.*\)|=.*)?;)");
  const std::regex registrar(R"(RunStateRegistrar\s+\w+\()");
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(TROVAK_SOURCE_DIR)) {
    const std::string path = entry.path().string();
    const std::string relative = path.substr(std::string(TROVAK_SOURCE_DIR).size() + 1);
    if (entry.path().extension() != ".cpp") continue;
    if (relative.rfind("tests/", 0) == 0 || relative.rfind("fuzz/", 0) == 0 ||
        relative.rfind("bench/", 0) == 0 || relative.rfind("build", 0) == 0 ||
        relative.rfind("tools/", 0) == 0 || relative.find("/.") != std::string::npos)
      continue;
    ++files;
    std::ifstream in(path);
    int statics = 0;
    int registrars = 0;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (std::regex_search(line, registrar)) ++registrars;
      if (std::regex_search(line, m, variable) && notRunState.count(m[1].str()) == 0) ++statics;
    }
    EXPECT_LE(statics, registrars) << relative << ": a static without a registered reset";
  }
  EXPECT_GT(files, 50);
}

// The records this library holds are set back to what a run starts from.
TEST(RunStateRegistry, ResetSetsTheRecordsBack) {
  runState().runMode = 7;
  runState().language = "english";
  runSettings().traceLevel = 3;
  mfaWarning("test", 1, Channel::kProtocol);
  resetRunState();
  EXPECT_EQ(runState().runMode, 0u);
  EXPECT_EQ(runState().language, "");
  EXPECT_EQ(runSettings().traceLevel, RunSettings().traceLevel);
  EXPECT_EQ(mfaCounts().warnings, 0);
  const std::vector<std::string> names = registeredRunStates();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "a name twice";
}

}  // namespace

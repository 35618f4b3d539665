// Fuzzes the reader of the run configuration file.  The run is installed in
// a scratch directory: message files with a short text for every message in
// use, and the assignment directories, so that a configuration that does not
// name other directories is read to its end.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/config.h"
#include "driver/message_numbers.h"
#include "driver/messages.h"
#include "driver/run_state.h"
#include "scratch_dir.h"

namespace {

struct Installation {
  ScratchDir dir{"fuzz_config"};
  std::string config = dir.path() + "run.config";
  Installation() {
    for (const char* sub : {"ririzidedareru", "ririzidedareru/msc", "ririzidedareru/assign",
                            "ririzidedareru/assign/iges", "ririzidedareru/assign/dxf",
                            "ririzidedareru/assign/dwg"}) {
      if (mkdir((dir.path() + sub).c_str(), 0700) != 0) std::abort();
    }
    std::size_t count = 0;
    const int* numbers = messageNumbersInUse(count);
    std::string texts;
    for (std::size_t i = 0; i < count; ++i) texts += std::to_string(numbers[i]) + " t\n";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(texts.data());
    dir.write("ririzidedareru/msc/dt_de.msg", bytes, texts.size());
    dir.write("ririzidedareru/msc/dt_en.msg", bytes, texts.size());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Installation installation;
  mfaSetMessageLevel(0);
  installation.dir.write("run.config", data, size);
  resetRunState();
  runState().runMode = RunModeBit::kInput;
  resetRunConfiguration();
  runPaths().installDir = installation.dir.path();
  (void)readRunConfiguration("", installation.config, "input.igs");
  mfaFree();
  mfaResetCounts();
  return 0;
}

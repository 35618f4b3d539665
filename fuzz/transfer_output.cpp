// Fuzzes the output conversion loop: the input is a CAD transfer file whose
// first byte chooses the level and the target (IGES or the own DXF writer);
// the element table is loaded and every element converted through the
// fetchers and the output steps into section files in a temporary
// directory, which are removed again.  Member lists that nest deeply or lead
// back to their own element, kinds at the wrong level, missing values and
// absurd counts must end in states, never in a crash or a hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "elements/element_table.h"
#include "iges_out/dxf_steps.h"
#include "iges_out/dxf_writer.h"
#include "iges_out/iges_steps.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "tests/output_run_reset.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

std::filesystem::path scratchPath() {
  return std::filesystem::temp_directory_path() / ("trovak_fuzz_output_" + std::to_string(getpid()));
}

const std::string& scratchDir() {
  static const std::string dir = [] {
    const std::filesystem::path path = scratchPath();
    std::filesystem::create_directories(path);
    // libFuzzer ends through exit(): the directory goes with the process.
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchPath(), ignored);
    });
    return path.string() + "/";
  }();
  return dir;
}

constexpr std::uint32_t kLevels[] = {
    RunModeBit::kG1,
    RunModeBit::kG1 | RunModeBit::kB1,
    RunModeBit::kPlus,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  resetOutputRun();
  const std::uint8_t choice = data[0];
  const bool dxf = (choice & 0x4) != 0;
  RunState& state = runState();
  state.runMode = RunModeBit::kOutput | kLevels[choice % 3] | (dxf ? RunModeBit::kDxf : 0);
  RunPaths& p = runPaths();
  p.tempDir = scratchDir();
  p.igesStartFile = p.tempDir + "strt.tmp";
  p.igesGlobalFile = p.tempDir + "glob.tmp";
  p.igesDirectoryFile = p.tempDir + "dirc.tmp";
  p.igesParameterFile = p.tempDir + "parm.tmp";
  p.igesTerminateFile = p.tempDir + "term.tmp";

  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (openTransferBytes(text) == 0 && loadTransferTable() == 0) {
    const bool opened = dxf ? (resetDxfWriter(), startDxfSections() == 0)
                            : (resetIgesWriter(), openSectionFiles() == 0);
    if (opened) convertTransferElements(dxf ? ownDxfTargetSteps() : igesTargetSteps());
  }
  if (dxf) {
    resetDxfWriter();
  } else {
    resetIgesWriter();
  }
  removeAllSectionFiles();
  resetTransferReader();
  freeTable();
  return 0;
}

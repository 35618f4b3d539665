// -dxfout on a generated CAD transfer file of 1M lines (every fiftieth line
// closes a group of the ten before it, so blocks and inserts are part of
// it), phase by phase as the dispatcher runs them: reading the transfer
// file into the element table, the output loop filling the drawing
// database, and the save (audit, DXF of Release 2000 written).  The same
// file then goes the -dxf12out way (the loop with the own DXF writer and
// the writing of its sections) as the baseline of the same call.
//
// Times are processor seconds of this process (user and system), which
// other load of the machine leaves alone.
//
// Printed per way: the seconds of each phase, the megabytes of DXF
// written, the rate of the output side (loop and save) and the rate of the
// whole conversion (load, loop and save) in megabytes of DXF per second;
// then the ratio of the output sides.  The goal of -dxfout is 100 MB/s or
// more for the whole conversion.
//
// Usage: bench_dxfout_path [lines, default 1000000] [-acad suffix's file version, default 1015]
//                          [toolkit: -dxfout alone, as for a profiler]
#include <unistd.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver/toolkit_output.h"
#include "elements/element_table.h"
#include "iges_out/dxf_steps.h"
#include "iges_out/dxf_writer.h"
#include "support/config.h"
#include "support/run_state.h"
#include "bench/transfer_file.h"
#include "tests/output_run_reset.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

namespace fs = std::filesystem;
// The processor seconds this process has used so far.
double processorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double secondsSince(double start) { return processorSeconds() - start; }

struct Phases {
  double load = 0, loop = 0, save = 0, megabytes = 0;
  double rate() const { return loop + save > 0 ? megabytes / (loop + save) : 0; }
  double wholeRate() const { return load + loop + save > 0 ? megabytes / (load + loop + save) : 0; }
};

void loadTransfer(const std::string& text, Phases& p) {
  const double start = processorSeconds();
  std::string copy = text;
  if (openTransferBytes(std::move(copy)) != 0 || loadTransferTable() != 0) {
    std::fprintf(stderr, "the generated file does not load\n");
    std::exit(1);
  }
  p.load = secondsSince(start);
}

void finishRun(const fs::path& output, Phases& p) {
  std::error_code error;
  p.megabytes = static_cast<double>(fs::file_size(output, error)) / 1e6;
  fs::remove(output, error);
  freeTable();
  resetTransferReader();
}

Phases toolkitRun(const std::string& text, int fileVersion, const fs::path& dir) {
  Phases p;
  resetOutputRun();
  RunState& state = runState();
  state.runMode = RunModeBit::kOutput | RunModeBit::kDxf | RunModeBit::kPlus;
  state.useToolkit = 1;
  state.dwgOutAsDxf = 1;
  state.dwgVersion = fileVersion;
  state.outputTolerance = 0.1;
  runPaths().parameterDir = dir.string();  // no parameter file: the defaults
  const fs::path output = dir / "out.dxf";
  if (startToolkitOutput() != 0) std::exit(1);
  resetOutputDispatch();
  loadTransfer(text, p);
  double start = processorSeconds();
  if (convertTransferElements(toolkitTargetSteps()) != 0) std::exit(1);
  p.loop = secondsSince(start);
  start = processorSeconds();
  if (saveToolkitOutput(output.string()) != 0) std::exit(1);
  p.save = secondsSince(start);
  finishRun(output, p);
  return p;
}

Phases ownDxfRun(const std::string& text, const fs::path& dir) {
  Phases p;
  resetOutputRun();
  RunState& state = runState();
  state.runMode = RunModeBit::kOutput | RunModeBit::kDxf | RunModeBit::kG1 | RunModeBit::kB1;
  state.outputTolerance = 0.0001;
  runPaths().tempDir = dir.string() + "/";
  const fs::path output = dir / "own.dxf";
  resetDxfWriter();
  if (startDxfSections() != 0 || writeDxfComment() != 0) std::exit(1);
  resetOutputDispatch();
  loadTransfer(text, p);
  double start = processorSeconds();
  if (convertTransferElements(ownDxfTargetSteps()) != 0) std::exit(1);
  p.loop = secondsSince(start);
  start = processorSeconds();
  const TransferReaderState& input = transferReader();
  if (finishDxfOutput(DxfExtents{input.xmin, input.ymin, input.xmax, input.ymax}, output.string()) != 0)
    std::exit(1);
  p.save = secondsSince(start);
  finishRun(output, p);
  return p;
}

void print(const char* way, const Phases& p) {
  std::printf("%-24s %8.3f %8.3f %8.3f %10.1f %10.1f %10.1f\n", way, p.load, p.loop, p.save, p.megabytes, p.rate(),
              p.wholeRate());
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int fileVersion = argc > 2 ? std::atoi(argv[2]) : 1015;
  const bool toolkitOnly = argc > 3 && std::string(argv[3]) == "toolkit";
  const fs::path dir = fs::temp_directory_path() / ("trovak_bench_dxfout_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string text = bench::transferFile(lines);
  std::printf("%ld lines, %.1f MB of transfer file\n", lines, static_cast<double>(text.size()) / 1e6);
  std::printf("%-24s %8s %8s %8s %10s %10s %10s\n", "way", "load s", "loop s", "save s", "MB of DXF", "MB/s out",
              "MB/s all");
  const Phases toolkit = toolkitRun(text, fileVersion, dir);
  print(("-dxfout (AC" + std::to_string(fileVersion) + ")").c_str(), toolkit);
  if (toolkitOnly) {
    fs::remove_all(dir);
    return 0;
  }
  const Phases own = ownDxfRun(text, dir);
  print("-dxf12out (baseline)", own);
  if (own.rate() > 0) std::printf("rate of -dxfout / rate of -dxf12out: %.2f\n", toolkit.rate() / own.rate());
  fs::remove_all(dir);
  return 0;
}

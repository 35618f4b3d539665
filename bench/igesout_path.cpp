// The whole -igesout path on generated CAD transfer files of 10k, 100k and
// 1M lines listed with ascending identifiers (the order the CAD system
// writes, and the one that makes sorted insertions and list scans go
// quadratic): reading the header, the directory pass and the element table,
// the output loop with the IGES entity writers, and the end of the file
// (global, start and terminate sections, joining).  Every fifth element is
// also a member of a group of ten, so the member walks are part of it.  The
// time per line of each column must stay flat from 10k to 1M.
//
// Usage: bench_igesout_path [largest count, default 1000000]
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "elements/element_table.h"
#include "iges_out/iges_steps.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "bench/transfer_file.h"
#include "tests/output_run_reset.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timings {
  double load = 0, convert = 0, finish = 0;
  long entities = 0;
};

Timings run(long lines, const fs::path& dir) {
  Timings t;
  resetOutputRun();
  RunPaths& p = runPaths();
  p.tempDir = dir.string() + "/";
  p.assignDir = p.tempDir;  // the start-section text is written there
  p.igesStartFile = p.tempDir + "strt.tmp";
  p.igesGlobalFile = p.tempDir + "glob.tmp";
  p.igesDirectoryFile = p.tempDir + "dirc.tmp";
  p.igesParameterFile = p.tempDir + "parm.tmp";
  p.igesTerminateFile = p.tempDir + "term.tmp";
  runState().runMode = RunModeBit::kOutput | RunModeBit::kPlus;
  runState().level = "PLUS";
  runState().outputTolerance = 0.1;
  std::string text = bench::transferFile(lines);
  const std::string output = dir.string() + "/out.igs";

  auto start = Clock::now();
  if (openTransferBytes(std::move(text)) != 0 || loadTransferTable() != 0) {
    std::fprintf(stderr, "the generated file does not load\n");
    std::exit(1);
  }
  t.load = secondsSince(start);
  start = Clock::now();
  resetIgesWriter();
  if (openSectionFiles() != 0) std::exit(1);
  setOutputGlobals(output, "PLUS", transferReader().maxCoordinate);
  if (convertTransferElements(igesTargetSteps()) != 0) std::exit(1);
  t.convert = secondsSince(start);
  start = Clock::now();
  if (finishIgesOutput(output) != 0) std::exit(1);
  t.finish = secondsSince(start);
  t.entities = igesWriter().directorySeq / 2;
  fs::remove(output);
  freeTable();
  resetTransferReader();
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const long largest = argc > 1 ? std::atol(argv[1]) : 1000000;
  const fs::path dir = fs::temp_directory_path() / ("trovak_bench_igesout_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::FILE* start = std::fopen((dir / "startsection.txt").c_str(), "w");
  if (start == nullptr) return 1;
  std::fputs("SENDEFIRMA         : BENCH\n.TEXT.\n", start);
  std::fclose(start);
  std::printf("%10s %10s %14s %14s %14s\n", "lines", "entities", "load us/line", "loop us/line",
              "join us/line");
  for (long lines = 10000; lines <= largest; lines *= 10) {
    const Timings t = run(lines, dir);
    const double per = 1e6 / static_cast<double>(lines);
    std::printf("%10ld %10ld %14.3f %14.3f %14.3f\n", lines, t.entities, t.load * per, t.convert * per,
                t.finish * per);
    std::fflush(stdout);
  }
  removeAllSectionFiles();
  fs::remove_all(dir);
  return 0;
}

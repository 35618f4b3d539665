// -dwgout of generated CAD transfer files of 10k lines and ten times as
// many up to 1M (every fiftieth line closes a group of the ten before it,
// so blocks and inserts are part of it), run as the program: the transfer
// file read, the drawing database filled, audited and saved as a DWG file
// of release 2000.  Printed per size: the processor seconds of the run
// (best of three), the megabytes of DWG written, the megabytes a second,
// the peak memory and the growth from N to 10N (goal at most 11x); the -dxfout run of the same
// file beside it.
//
// Usage: bench_dwgout_path [max lines, default 1000000] [program]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transfer_file.h"

#include "bench/timed_run.h"

namespace {

namespace fs = std::filesystem;
using bench::transferFile;

using bench::bestOfThree;

}  // namespace

int main(int argc, char** argv) {
  const fs::path self = fs::absolute(argv[0]);
  const long most = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  if (access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no program %s\n", program.c_str());
    return 2;
  }
  char pattern[] = "/tmp/bench_dwgout_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/tmp");
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/tmp\nTR_LANG english\nTR_STAT nein\n";
  std::printf("processor seconds (best of three)\n%9s %10s %10s %8s %8s %10s %10s\n", "lines", "-dwgout s", "MB of DWG",
              "MB/s", "peak MB", "-dxfout s", "MB of DXF");
  int result = 0;
  double last = 0;
  long lastN = 0;
  for (long n = 10000; n <= most; n *= 10) {
    std::ofstream(dir + "/in.trf", std::ios::binary) << transferFile(n);
    long peakKb = 0;
    const double dwg =
        bestOfThree({program, "-dwgout", "-acad2000", dir + "/out.dwg", dir + "/in.trf", dir + "/run.config"}, dir, &peakKb);
    const double dwgMb = double(fs::exists(dir + "/out.dwg") ? fs::file_size(dir + "/out.dwg") : 0) / 1e6;
    const double dxf = bestOfThree({program, "-dxfout", "-acad2000", dir + "/out.dxf", dir + "/in.trf", dir + "/run.config"}, dir);
    const double dxfMb = double(fs::exists(dir + "/out.dxf") ? fs::file_size(dir + "/out.dxf") : 0) / 1e6;
    if (dwg < 0) {
      std::printf("%9ld  the -dwgout run failed\n", n);
      result = 1;
      continue;
    }
    std::printf("%9ld %10.3f %10.1f %8.1f %8.1f %10.3f %10.1f\n", n, dwg, dwgMb, dwg > 0 ? dwgMb / dwg : 0.0,
                double(peakKb) / 1024, dxf, dxfMb);
    if (lastN > 0) std::printf("%9s -dwgout grew %.1fx for %ldx the lines (goal: at most 11x)\n", "", dwg / last, n / lastN);
    last = dwg;
    lastN = n;
  }
  fs::remove_all(dir);
  return result;
}

// The rate of an output direction of the real program: a CAD transfer file
// of N lines and one of 10N (bench/transfer_file.h) converted by a child
// process, its output thrown away after it is measured.  Printed per file:
// the processor seconds (best of three), the megabytes written, the rate in
// megabytes of output per processor second, the peak memory; then the
// growth of the time from N to 10N (10 is linear).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/timed_run.h"
#include "bench/transfer_file.h"

namespace bench {

struct OutputRate {
  double seconds = -1, megabytes = 0;
  long peakKb = 0;
};

inline OutputRate measureOutput(const std::string& program, const std::string& direction, long lines,
                                const std::string& dir) {
  namespace fs = std::filesystem;
  const std::string input = dir + "/in.trf";
  const std::string output = dir + "/out" + std::to_string(lines);
  {
    const std::string text = transferFile(lines);
    std::ofstream(input, std::ios::binary) << text;
  }
  OutputRate r;
  r.seconds = bestOfThree({program, direction, output, input, dir + "/run.config"}, dir, &r.peakKb);
  std::error_code error;
  r.megabytes = static_cast<double>(fs::file_size(output, error)) / 1e6;
  fs::remove(output, error);
  fs::remove(input, error);
  return r;
}

// The whole benchmark: `argv[1]` the larger line count (default 1000000),
// `argv[2]` the program (default trovak_iges beside the bench folder).
inline int outputRateMain(int argc, char** argv, const char* direction, double goal) {
  namespace fs = std::filesystem;
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const fs::path self = fs::absolute(argv[0]);
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  char pattern[] = "/tmp/bench_output_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/tmp");
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/tmp/\nTR_LANG english\nTR_STAT nein\n";
  std::printf("%s, processor seconds, best of three\n%10s %9s %9s %9s %9s\n", direction, "lines", "seconds", "MB out",
              "MB/s", "peak MB");
  OutputRate rates[2];
  int result = 0;
  for (int k = 0; k < 2; ++k) {
    const long n = k == 0 ? lines / 10 : lines;
    rates[k] = measureOutput(program, direction, n, dir);
    if (rates[k].seconds <= 0) {
      std::printf("%10ld  the conversion failed\n", n);
      result = 1;
      continue;
    }
    std::printf("%10ld %9.3f %9.1f %9.1f %9.1f\n", n, rates[k].seconds, rates[k].megabytes,
                rates[k].megabytes / rates[k].seconds, static_cast<double>(rates[k].peakKb) / 1024.0);
  }
  if (result == 0) {
    const double rate = rates[1].megabytes / rates[1].seconds;
    std::printf("growth %ld -> %ld lines: %.2f (linear: 10)\nrate %.1f MB/s%s\n", lines / 10, lines,
                rates[1].seconds / rates[0].seconds, rate, rate >= goal ? "" : "  (goal: at least 100 MB/s)");
  }
  fs::remove_all(dir);
  return result;
}

}  // namespace bench

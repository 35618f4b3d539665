// -dxf12in -plus of the real program against two DXF readers that only
// parse: the C++ reader dxfrw-read (goal: ratio at most 2) and the Python
// reader's readfile (goal: ratio at most 0.1).  The files are generated
// (bench/r12_file.h): N and 10N entities (default N 10000).  Every program
// runs as a child process, its processor time counts (best of three).
// Printed per file: the seconds and ratios, the peak memory of the
// conversion against the goal of twice the file and 32 MiB; then the growth
// of the conversion's time from N to 10N (10 is linear, goal: at most 11).
//
// Usage: bench_dxf12in_path [larger entity count, default 100000] [program] [dxfrw-read] [python3]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/r12_file.h"
#include "bench/timed_run.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path self = fs::weakly_canonical(fs::absolute(argv[0]));
  const long most = argc > 1 ? std::atol(argv[1]) : 100000;
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  const std::string reader = fs::absolute(argc > 3 ? argv[3] : "../shared/tools/dxf-peer/bin/dxfrw-read").string();
  const std::string python = argc > 4 ? argv[4] : "/usr/bin/python3";
  const bool withReader = access(reader.c_str(), X_OK) == 0;
  const bool withPython = access(python.c_str(), X_OK) == 0;
  char pattern[] = "/tmp/bench_dxf12in_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/tmp");
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/tmp/\nTR_LANG english\nTR_STAT nein\n";
  std::printf("-dxf12in -plus, processor seconds, best of three\n%9s %7s %8s %8s %7s %8s %7s %8s %8s\n", "entities",
              "MB", "ours s", "C++ s", "ratio", "Python s", "ratio", "peak MB", "goal MB");
  double seconds[2] = {-1, -1};
  int result = 0;
  for (int k = 0; k < 2; ++k) {
    const long n = k == 0 ? most / 10 : most;
    const std::string file = bench::writeR12File(n, dir + "/in.dxf");
    const double bytes = static_cast<double>(fs::file_size(file));
    long peakKb = 0;
    seconds[k] = bench::bestOfThree({program, "-dxf12in", "-plus", file, dir + "/out.kpl", dir + "/run.config"},
                                    dir, &peakKb);
    const double parsed = withReader ? bench::bestOfThree({reader, file}, dir) : -1;
    const double python_s =
        withPython ? bench::bestOfThree({python, "-c", "import sys, ezdxf; ezdxf.readfile(sys.argv[1])", file}, dir)
                   : -1;
    if (seconds[k] < 0) {
      std::printf("%9ld %7.1f  the conversion failed\n", n, bytes / 1e6);
      result = 1;
      continue;
    }
    const double peakMb = static_cast<double>(peakKb) / 1024.0;
    const double goalMb = 2.0 * bytes / 1048576.0 + 32.0;
    std::printf("%9ld %7.1f %8.3f", n, bytes / 1e6, seconds[k]);
    if (parsed > 0)
      std::printf(" %8.3f %7.2f", parsed, seconds[k] / parsed);
    else
      std::printf(" %8s %7s", "-", "-");
    if (python_s > 0)
      std::printf(" %8.3f %7.2f", python_s, seconds[k] / python_s);
    else
      std::printf(" %8s %7s", "-", "-");
    std::printf(" %8.1f %8.1f%s\n", peakMb, goalMb, peakMb <= goalMb ? "" : "  (over)");
  }
  if (result == 0)
    std::printf("growth %ld -> %ld entities: %.2f (linear: 10)\n", most / 10, most, seconds[1] / seconds[0]);
  fs::remove_all(dir);
  return result;
}

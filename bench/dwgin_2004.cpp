// DWG files of release 2004 (the paged layout, compressed sections) read
// into the database and converted whole (-dwgin), against the DWG
// oracle's reader (dwgread, which reads the file and writes nothing).
//
// The drawing is written by the program itself: a generated CAD transfer
// file of N lines (with groups, so blocks and inserts are part of it)
// converted with -dwgout -acad2004, for N = 10000 and ten times as many up
// to the limit (default 1000000).  Per size, in processor seconds, the best
// of three runs, each a child process: the toolkit reading the file into a
// database (this program with --read), the whole -dwgin conversion (with
// its peak memory), and dwgread.  Goals: the reading no slower than
// dwgread, -dwgin at most twice dwgread.
//
// Usage: bench_dwgin_2004 [-k] [max lines] [program] [dwgread]
//   program defaults to trovak_iges beside the bench folder of the build,
//   dwgread to ../shared/tools/dwg-oracle/bin/dwgread; -k keeps the files.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

#include "bench/timed_run.h"
#include "bench/transfer_file.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    drawingdb::Database db;
    return drawingdb::readFile(argv[2], db).status.ok() ? 0 : 1;
  }
  const std::optional<bench::PeerBenchArgs> args =
      bench::peerBenchArgs(argc, argv, "../shared/tools/dwg-oracle/bin/dwgread");
  if (!args) return 2;
  const auto& [self, keep, most, program, peer, withPeer] = *args;

  char pattern[] = "/tmp/bench_dwgin2004_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/tmp");
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/tmp\nTR_LANG english\nTR_STAT nein\n";

  std::printf("release 2004 DWG from -dwgout -acad2004, processor seconds (best of three), peak memory of -dwgin\n"
              "%9s %8s %9s %9s %9s %8s %8s %9s\n",
              "lines", "MB", "read s", "-dwgin s", "dwgread s", "read/p", "dwgin/p", "peak MB");
  int result = 0;
  for (long n = 10000; n <= most; n *= 10) {
    std::ofstream(dir + "/in.trf", std::ios::binary) << bench::transferFile(n);
    const std::string file = dir + "/drawing" + std::to_string(n) + ".dwg";
    if (bench::timedRun({program, "-dwgout", "-acad2004", file, dir + "/in.trf", dir + "/run.config"}, dir) < 0 ||
        !fs::exists(file)) {
      std::printf("%9ld  -dwgout -acad2004 failed\n", n);
      result = 1;
      continue;
    }
    const double mb = double(fs::file_size(file)) / 1e6;
    const double read = bench::bestOfThree({self.string(), "--read", file}, dir);
    long peakKb = 0;
    const double convert =
        bench::bestOfThree({program, "-dwgin", file, dir + "/out.kpl", dir + "/run.config"}, dir, &peakKb);
    const double parse = withPeer ? bench::bestOfThree({peer, file}, dir) : -1;
    if (read < 0 || convert < 0) {
      std::printf("%9ld %8.1f  the reading or the conversion failed\n", n, mb);
      result = 1;
      continue;
    }
    std::printf("%9ld %8.1f %9.3f %9.3f", n, mb, read, convert);
    if (parse > 0)
      std::printf(" %9.3f %8.2f %8.2f %9.1f%s%s\n", parse, read / parse, convert / parse, double(peakKb) / 1024,
                  read <= parse ? "" : "  (goal: read/p at most 1)", convert / parse <= 2.0 ? "" : "  (goal: dwgin/p at most 2)");
    else
      std::printf(" %9s %8s %8s %9.1f\n", "-", "-", "-", double(peakKb) / 1024);
    std::fflush(stdout);
  }
  if (keep)
    std::printf("files kept in %s\n", dir.c_str());
  else
    fs::remove_all(dir);
  return result;
}

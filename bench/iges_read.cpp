// -igesin -plus of the real program against the IGES reader of another
// toolkit that only parses the file (bench_iges_parse_peer, built when that
// toolkit is installed).  The files are generated: N and 10N entities
// (default N 10000; lines, arcs with 124 matrices, a few composite curves
// and subfigures, many instances of one subfigure).  Both run as child
// processes, their processor time counts (best of three).  Printed per
// file: the seconds of both and their ratio (goal: at most 0.5), the peak
// memory against the goal of twice the file and 32 MiB; then the growth of
// the time from N to 10N (10 is linear, goal: at most 11).
//
// Usage: bench_iges_read [-k] [larger entity count, default 100000] [program] [peer]
//   -k keeps the larger file (for a profiler) and says where it is.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/iges_file.h"
#include "bench/timed_run.h"

namespace {

using bench::appendIgesParameters;
using bench::igesField;
using bench::putIgesRecord;

// A real as a CAD system writes it: nine decimals, trailing zeros cut.
std::string real(double v) {
  char t[40];
  std::snprintf(t, sizeof t, "%.9f", v);
  std::string s = t;
  while (s.back() == '0') s.pop_back();
  return s + ",";
}

// Curves as a CAD system writes them, in turn: a matrix, arcs and conic
// arcs placed by the last matrix, lines, and B-spline curves of four poles;
// every 1000th entity is a composite of the two curves before it, every
// 5000th a subfigure of the curve before it, and past the first subfigure
// every seventh entity is an instance of it.
std::string makeFile(long entities, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  putIgesRecord(f, "benchmark", 'S', 1);
  putIgesRecord(f, ",,4Hbnch,4Hfile,4Hbnch,3H1.0,32,38,6,308,15,4Hbnch,1.,2,2HMM,1,1.,", 'G', 1);
  putIgesRecord(f, "15H20260101.120000,0.0001,1000.;", 'G', 2);
  std::string params;
  params.reserve(static_cast<std::size_t>(entities) * 250);
  long p = 0;
  long lastMatrix = 0;
  for (long i = 0; i < entities; ++i) {
    const long de = 2 * i + 1;
    const double x = 431.540863594 + static_cast<double>(i % 977) * 1.618033988;
    const double y = -314.917918426 + static_cast<double>(i % 751) * 2.718281828;
    std::string data;
    long type = 110;
    long matrix = 0;
    if (i % 1000 == 999) {
      type = 102;
      data = "102,2," + std::to_string(de - 2) + "," + std::to_string(de - 4) + ";";
    } else if (i % 5000 == 4998) {
      type = 308;
      data = "308,0,3HSUB,1," + std::to_string(de - 2) + ";";
    } else if (i > 5000 && i % 7 == 3) {
      // Instances that all share the first subfigure: one definition with
      // a father per instance.
      type = 408;
      data = "408," + std::to_string(2 * 4998 + 1) + "," + real(x) + real(y) + "0.,1.;";
    } else if (i % 5 == 0) {
      type = 124;
      data = "124,0.866025404,-0.5,0.," + real(x) + "0.5,0.866025404,0.," + real(y) + "0.,0.,1.,0.;";
      lastMatrix = de;
    } else if (i % 5 == 1) {
      type = 100;
      data = "100,0.,0.,0.," + real(x * 0.061) + "0.," + real(x * 0.061) + "0.;";
      matrix = lastMatrix;
    } else if (i % 5 == 2) {
      type = 104;
      data = "104,3.938895943E-04,0.,1.575558377E-03,0.,-0.,-1.,0.," + real(x * 0.004) + real(y * 0.003) +
             real(-x * 0.004) + "0.;";
      matrix = lastMatrix;
    } else if (i % 5 == 3) {
      type = 126;
      data = "126,3,3,1,0,1,0,0.,0.,0.,0.,1.,1.,1.,1.,1.,1.,1.,1.,";
      for (int k = 0; k < 4; ++k) data += real(x + 20.0 * k) + real(y - 30.0 * (k % 2)) + "0.,";
      data += "0.,1.,0.,0.,1.;";
    } else {
      data = "110," + real(x) + real(y) + "0.," + real(-y * 0.67) + real(x * -0.47) + "0.;";
    }
    long lines = 0;
    const long first = p + 1;
    appendIgesParameters(params, data, de, p, lines);
    putIgesRecord(f,
                  igesField(type) + igesField(first) + igesField(0) + igesField(1) + igesField(0) + igesField(0) +
                      igesField(matrix) + igesField(0) + "00000000",
                  'D', de);
    putIgesRecord(f, igesField(type) + igesField(0) + igesField(0) + igesField(lines) + igesField(0), 'D', de + 1);
  }
  std::fputs(params.c_str(), f);
  char t[80];
  std::snprintf(t, sizeof t, "S%7dG%7dD%7ldP%7ld", 1, 2, 2 * entities, p);
  putIgesRecord(f, t, 'T', 1);
  std::fclose(f);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path self = fs::weakly_canonical(fs::absolute(argv[0]));
  const bool keep = argc > 1 && std::string(argv[1]) == "-k";
  if (keep) {
    --argc;
    ++argv;
  }
  const long most = argc > 1 ? std::atol(argv[1]) : 100000;
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  const std::string peer = argc > 3 ? std::string(argv[3]) : (self.parent_path() / "bench_iges_parse_peer").string();
  const bool withPeer = access(peer.c_str(), X_OK) == 0;
  char pattern[] = "/tmp/bench_iges_read_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  fs::create_directories(dir + "/tmp");
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/tmp/\nTR_LANG english\nTR_STAT nein\n";
  std::printf("-igesin -plus, processor seconds, best of three\n%9s %8s %9s %9s %7s %9s %9s\n", "entities", "MB",
              "ours s", "peer s", "ratio", "peak MB", "goal MB");
  double seconds[2] = {-1, -1};
  int result = 0;
  for (int k = 0; k < 2; ++k) {
    const long n = k == 0 ? most / 10 : most;
    const std::string file = makeFile(n, dir + "/in.igs");
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    long peakKb = 0;
    seconds[k] = bench::bestOfThree({program, "-igesin", "-plus", file, dir + "/out.kpl", dir + "/run.config"}, dir,
                                    &peakKb);
    const double parse = withPeer ? bench::bestOfThree({peer, file}, dir) : -1;
    const double peakMb = static_cast<double>(peakKb) / 1024.0;
    const double goalMb = 2.0 * static_cast<double>(fs::file_size(file)) / 1048576.0 + 32.0;
    if (seconds[k] < 0) {
      std::printf("%9ld %8.1f  the conversion failed\n", n, mb);
      result = 1;
      continue;
    }
    std::printf("%9ld %8.1f %9.3f", n, mb, seconds[k]);
    if (parse > 0)
      std::printf(" %9.3f %7.2f", parse, seconds[k] / parse);
    else
      std::printf(" %9s %7s", "-", "-");
    std::printf(" %9.1f %9.1f%s\n", peakMb, goalMb, peakMb <= goalMb ? "" : "  (over)");
  }
  if (result == 0)
    std::printf("growth %ld -> %ld entities: %.2f (linear: 10)\n", most / 10, most, seconds[1] / seconds[0]);
  if (keep) {
    std::printf("file kept: %s/in.igs\n", dir.c_str());
    return result;
  }
  fs::remove_all(dir);
  return result;
}

// The toolkit's DXF codec on generated drawings of 10k, 100k and 1M
// entities (lines, circles, arcs, texts, lightweight polylines, inserts of
// a few blocks, on 100 layers), as ASCII and as binary files: write speed
// (goal >= 100 MB/s), read time against the C++ peer reader dxfrw-read when
// it is there (parse only), the growth of the read time from N to 10N (goal
// at most 11x) and the peak memory of a process that reads the file from
// disk (goal at most twice the file plus 32 MiB).
//
//   bench_drawingdb_dxf [max-entities] [peer-program]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/bench_drawing.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/file_io.h"

using namespace drawingdb;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The peak resident memory of this process, in KiB.
long peakKib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The child's part: reads the file from disk into a database and reports
// the time and the peak memory of the whole process, which holds nothing
// else: what the reader keeps of the file counts, as it would in use.
int readAndReport(const char* path) {
  const auto t0 = Clock::now();
  Database db;
  const ReadResult r = readFile(path, db);
  const auto t1 = Clock::now();
  if (!r.status.ok()) return 1;
  std::printf("%.6f %ld\n", seconds(t0, t1), peakKib());
  return 0;
}

// Reads the file in a fresh process of this program so that its peak
// memory is that of the reading alone.
bool readInChild(const std::string& path, double& secondsOut, long& peakOut) {
  const std::string cmd = "/proc/" + std::to_string(getpid()) + "/exe --read " + path;
  std::FILE* child = popen(cmd.c_str(), "r");
  if (child == nullptr) return false;
  const bool got = std::fscanf(child, "%lf %ld", &secondsOut, &peakOut) == 2;
  return pclose(child) == 0 && got;
}

double peerSeconds(const std::string& peer, const std::string& path) {
  if (peer.empty() || access(peer.c_str(), X_OK) != 0) return -1;
  const std::string cmd = peer + " " + path + " >/dev/null";
  const auto t0 = Clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return seconds(t0, Clock::now());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") return readAndReport(argv[2]);
  const long maxEntities = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string peer = argc > 2 ? argv[2] : "../shared/tools/dxf-peer/bin/dxfrw-read";
  for (const bool binary : {false, true}) {
    std::printf("%s\n%10s %10s %9s %9s %9s %9s %9s %10s %10s\n", binary ? "binary DXF" : "ASCII DXF", "entities", "MB",
                "write", "MB/s", "read", "peer", "us/ent", "peak/file", "goal");
    double lastRead = 0;
    long lastN = 0;
    for (long n = 10000; n <= maxEntities; n *= 10) {
      Database db = makeBenchDrawing(n, BenchDrawingShape{100, 5, 0.0, false, ""});
      StringSink sink;
      sink.data.reserve(static_cast<std::size_t>(n) * 200);
      const auto t0 = Clock::now();
      if (!writeDxf(db, sink, {Release::R2000, binary, 16}).ok()) return 1;
      const double writeTime = seconds(t0, Clock::now());
      const double mb = double(sink.data.size()) / 1e6;
      const std::string path = "/tmp/bench_drawingdb_" + std::to_string(getpid()) + ".dxf";
      std::ofstream(path, std::ios::binary) << sink.data;
      double readTime = 0;
      long peak = 0;
      if (!readInChild(path, readTime, peak)) return 1;
      const double peerTime = peerSeconds(peer, path);
      std::remove(path.c_str());
      // Goal: at most twice the file plus 32 MiB.
      const double fileKib = double(sink.data.size()) / 1024.0;
      std::printf("%10ld %10.1f %9.3f %9.1f %9.3f %9.3f %9.3f %10.3f %10.3f\n", n, mb, writeTime, mb / writeTime, readTime,
                  peerTime, readTime * 1e6 / double(n), double(peak) / fileKib, (2 * fileKib + 32 * 1024) / fileKib);
      if (lastN > 0)
        std::printf("%10s read time grew %.1fx for %ldx the entities\n", "", readTime / lastRead, n / lastN);
      lastRead = readTime;
      lastN = n;
    }
  }
  return 0;
}

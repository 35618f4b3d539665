// The toolkit's DXF codec on generated drawings of 10k, 100k and 1M
// entities (lines, circles, arcs, texts, lightweight polylines, inserts of
// a few blocks, on 100 layers), as ASCII and as binary files: write speed
// (goal >= 100 MB/s), read time against the C++ peer reader dxfrw-read when
// it is there (parse only; ratio ours/peer, goal at most 1), the growth of
// the read time from N to 10N (goal at most 11x) and the peak memory of a
// process that reads the file from disk (goal at most twice the file plus
// 32 MiB).  Times are processor seconds, which the load of a shared machine
// disturbs far less than the wall clock (shown for the read).
//
//   bench_drawingdb_dxf [max-entities] [peer-program]
//   bench_drawingdb_dxf --make N file [binary]   (the drawing of N entities)
//   bench_drawingdb_dxf --read file              (time and peak memory of reading it)
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

// Processor time (user and system) of this process, or of its children
// waited for: on a machine shared with other work it measures what the
// program costs, where the wall clock measures the machine's load too.
double cpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

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
  const double c0 = processCpuSeconds();
  Database db;
  const ReadResult r = readFile(path, db);
  const double cpu = processCpuSeconds() - c0;
  const auto t1 = Clock::now();
  if (!r.status.ok()) return 1;
  std::printf("%.6f %.6f %ld\n", cpu, seconds(t0, t1), peakKib());
  return 0;
}

// Reads the file in a fresh process of this program so that its peak
// memory is that of the reading alone.
bool readInChild(const std::string& path, double& cpuOut, double& wallOut, long& peakOut) {
  const std::string cmd = "/proc/" + std::to_string(getpid()) + "/exe --read " + path;
  std::FILE* child = popen(cmd.c_str(), "r");
  if (child == nullptr) return false;
  const bool got = std::fscanf(child, "%lf %lf %ld", &cpuOut, &wallOut, &peakOut) == 3;
  return pclose(child) == 0 && got;
}

// The processor time of the peer reading the file (with the shell that
// starts it, a millisecond).
double peerCpuSeconds(const std::string& peer, const std::string& path) {
  if (peer.empty() || access(peer.c_str(), X_OK) != 0) return -1;
  const std::string cmd = peer + " " + path + " >/dev/null";
  const double c0 = cpuSeconds(RUSAGE_CHILDREN);
  if (std::system(cmd.c_str()) != 0) return -1;
  return cpuSeconds(RUSAGE_CHILDREN) - c0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") return readAndReport(argv[2]);
  // Makes the drawing of N entities as a file, for profiling the reader.
  if (argc >= 4 && std::string(argv[1]) == "--make") {
    Database db = makeBenchDrawing(std::atol(argv[2]), BenchDrawingShape{100, 5, 0.0, false, ""});
    StringSink sink;
    if (!writeDxf(db, sink, {Release::R2000, argc > 4 && std::string(argv[4]) == "binary", 16}).ok()) return 1;
    std::ofstream(argv[3], std::ios::binary) << sink.data;
    return 0;
  }
  const long maxEntities = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string peer = argc > 2 ? argv[2] : "../shared/tools/dxf-peer/bin/dxfrw-read";
  for (const bool binary : {false, true}) {
    std::printf("%s (times in processor seconds)\n%10s %8s %8s %8s %8s %8s %7s %8s %8s %9s %6s\n",
                binary ? "binary DXF" : "ASCII DXF", "entities", "MB", "write", "MB/s", "read", "peer", "ratio", "wall",
                "us/ent", "peak/file", "goal");
    double lastRead = 0;
    long lastN = 0;
    for (long n = 10000; n <= maxEntities; n *= 10) {
      Database db = makeBenchDrawing(n, BenchDrawingShape{100, 5, 0.0, false, ""});
      StringSink sink;
      sink.data.reserve(static_cast<std::size_t>(n) * 200);
      const double c0 = processCpuSeconds();
      if (!writeDxf(db, sink, {Release::R2000, binary, 16}).ok()) return 1;
      const double writeTime = processCpuSeconds() - c0;
      const double mb = double(sink.data.size()) / 1e6;
      const std::string path = "/tmp/bench_drawingdb_" + std::to_string(getpid()) + ".dxf";
      std::ofstream(path, std::ios::binary) << sink.data;
      double readTime = 0, readWall = 0;
      long peak = 0;
      if (!readInChild(path, readTime, readWall, peak)) return 1;
      const double peerTime = peerCpuSeconds(peer, path);
      std::remove(path.c_str());
      // Goal: at most twice the file plus 32 MiB.
      const double fileKib = double(sink.data.size()) / 1024.0;
      std::printf("%10ld %8.1f %8.3f %8.1f %8.3f %8.3f %7.2f %8.3f %8.3f %9.3f %6.3f\n", n, mb, writeTime, mb / writeTime,
                  readTime, peerTime, peerTime > 0 ? readTime / peerTime : 0.0, readWall, readTime * 1e6 / double(n),
                  double(peak) / fileKib, (2 * fileKib + 32 * 1024) / fileKib);
      if (lastN > 0)
        std::printf("%10s read time grew %.1fx for %ldx the entities\n", "", readTime / lastRead, n / lastN);
      lastRead = readTime;
      lastN = n;
    }
  }
  return 0;
}

// The whole -dxfin conversion against a parse-only C++ DXF reader.
//
// A drawing of N entities (default 100000; lines, circles, arcs, points,
// texts, lightweight polylines with bulges and inserts of small blocks, on
// 50 layers) is written through the toolkit as a release 2000 DXF file,
// ASCII and binary.  The program converts it (-dxfin: the toolkit reads the
// file, the entities are mapped into the element table, converted, and
// the KPL script is written); the peer reader (dxfrw-read) only parses the
// same file.  Both run as child processes; their processor time counts,
// the best of three runs.  Two shares of the conversion are shown beside
// it: the toolkit reading the file into a database alone (this program
// with --read), and a run at level -stat (the file read and mapped into
// the element table, nothing converted).  With -g the drawing is made
// again with 10N entities and the growth of each time is shown.
// Goals: the conversion takes at most twice the peer's time, reading and
// mapping at most the peer's time, and each time grows at most 11x from N
// to 10N.
//
// Usage: bench_dxfin_path [-k] [-g] [entities] [program] [peer]
//   program defaults to trovak_iges beside the bench folder of the build,
//   peer to ../shared/tools/dxf-peer/bin/dxfrw-read; -k keeps the files
//   (for a profiler) and says where they are.
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

#include "bench/bench_drawing.h"
#include "drawingdb/byte_sink.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

#include "bench/timed_run.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

using bench::bestOfThree;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    Database db;
    return readFile(argv[2], db).status.ok() ? 0 : 1;
  }
  const fs::path self = fs::absolute(argv[0]);
  bool keep = false, growth = false;
  while (argc > 1 && (std::string(argv[1]) == "-k" || std::string(argv[1]) == "-g")) {
    (std::string(argv[1]) == "-k" ? keep : growth) = true;
    --argc;
    ++argv;
  }
  const long entities = argc > 1 ? std::atol(argv[1]) : 100000;
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  const std::string peer = fs::absolute(argc > 3 ? argv[3] : "../shared/tools/dxf-peer/bin/dxfrw-read").string();
  if (access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no program %s\n", program.c_str());
    return 2;
  }
  const bool withPeer = access(peer.c_str(), X_OK) == 0;

  char pattern[] = "/tmp/bench_dxfin_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/\nTR_LANG english\nTR_STAT nein\n";

  std::printf("release 2000, processor seconds (best of three), peak memory of -dxfin\n"
              "%9s %7s %7s %9s %8s %8s %8s %7s %7s %7s %8s\n",
              "entities", "form", "MB", "-dxfin s", "read s", "-stat s", "peer s", "ratio", "read/p", "stat/p", "peak MB");
  int result = 0;
  struct Times {
    double convert = 0, read = 0, stat = 0;
  } last[2];
  for (long n = entities; n <= (growth ? 10 * entities : entities); n *= 10) {
    Database db = makeBenchDrawing(n, BenchDrawingShape{});
    for (const bool binary : {false, true}) {
      StringSink sink;
      SaveOptions options;
      options.format = binary ? FileFormat::DxfBinary : FileFormat::DxfAscii;
      options.release = Release::R2000;
      if (!save(db, sink, options).ok()) return 1;
      const std::string file = dir + (binary ? "/drawing_bin" : "/drawing") + std::to_string(n) + ".dxf";
      std::ofstream(file, std::ios::binary) << sink.data;
      const double mb = double(sink.data.size()) / 1e6;
      long peakKb = 0;
      const double convert = bestOfThree({program, "-dxfin", file, dir + "/out.kpl", dir + "/run.config"}, dir, &peakKb);
      const double read = bestOfThree({self.string(), "--read", file}, dir);
      const double stat = bestOfThree({program, "-dxfin", "-stat", file, dir + "/stat.kpl", dir + "/run.config"}, dir);
      const double parse = withPeer ? bestOfThree({peer, file}, dir) : -1;
      const char* form = binary ? "binary" : "ASCII";
      if (convert < 0 || read < 0 || stat < 0) {
        std::printf("%9ld %7s %7.1f  the reading or the conversion failed\n", n, form, mb);
        result = 1;
        continue;
      }
      std::printf("%9ld %7s %7.1f %9.3f %8.3f %8.3f", n, form, mb, convert, read, stat);
      if (parse > 0)
        std::printf(" %8.3f %7.2f %7.2f %7.2f %8.1f%s%s\n", parse, convert / parse, read / parse, stat / parse,
                    double(peakKb) / 1024, convert / parse <= 2.0 ? "" : "  (goal: ratio at most 2)",
                    stat / parse <= 1.0 ? "" : "  (goal: stat/p at most 1)");
      else
        std::printf(" %8s %7s %7s %7s %8.1f\n", "-", "-", "-", "-", double(peakKb) / 1024);
      Times& before = last[binary ? 1 : 0];
      if (n > entities && before.convert > 0)
        std::printf("%9s %7s grew -dxfin %.1fx, reading %.1fx, -stat %.1fx for 10x the entities (goal: at most 11x)\n",
                    "", form, convert / before.convert, read / before.read, stat / before.stat);
      before = Times{convert, read, stat};
    }
  }
  if (keep)
    std::printf("files kept in %s\n", dir.c_str());
  else
    fs::remove_all(dir);
  return result;
}

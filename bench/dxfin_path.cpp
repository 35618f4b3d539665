// The whole -dxfin conversion against a parse-only C++ DXF reader.
//
// A drawing of N entities (default 100000; lines, circles, arcs, points,
// texts, lightweight polylines with bulges and inserts of small blocks, on
// 50 layers) is written through the toolkit as a release 2000 DXF file,
// ASCII and binary.  The program converts it (-dxfin: the toolkit reads the
// file, the entities are mapped into the element table, converted, and
// the KPL script is written); the peer reader (dxfrw-read) only parses the
// same file.  Both run as child processes; their processor time counts,
// the best of three runs.  A run at level -stat (the file read and mapped
// into the element table, nothing converted) shows the reader's share.
// Goal: the conversion takes at most twice the peer's time.
//
// Usage: bench_dxfin_path [-k] [entities] [program] [peer]
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
  const fs::path self = fs::absolute(argv[0]);
  const bool keep = argc > 1 && std::string(argv[1]) == "-k";
  if (keep) {
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

  Database db = makeBenchDrawing(entities, BenchDrawingShape{});
  std::printf("%ld entities, release 2000, processor seconds\n%8s %9s %10s %9s %9s %9s %7s %7s\n", entities, "form",
              "MB", "-dxfin s", "MB/s", "-stat s", "peer s", "ratio", "stat/p");
  int result = 0;
  for (const bool binary : {false, true}) {
    StringSink sink;
    SaveOptions options;
    options.format = binary ? FileFormat::DxfBinary : FileFormat::DxfAscii;
    options.release = Release::R2000;
    if (!save(db, sink, options).ok()) return 1;
    const std::string file = dir + (binary ? "/drawing_bin.dxf" : "/drawing.dxf");
    std::ofstream(file, std::ios::binary) << sink.data;
    const double mb = double(sink.data.size()) / 1e6;
    const double convert = bestOfThree({program, "-dxfin", file, dir + "/out.kpl", dir + "/run.config"}, dir);
    const double read = bestOfThree({program, "-dxfin", "-stat", file, dir + "/stat.kpl", dir + "/run.config"}, dir);
    const double parse = withPeer ? bestOfThree({peer, file}, dir) : -1;
    if (convert < 0 || read < 0) {
      std::printf("%8s %9.1f  the conversion failed\n", binary ? "binary" : "ASCII", mb);
      result = 1;
      continue;
    }
    std::printf("%8s %9.1f %10.3f %9.1f %9.3f", binary ? "binary" : "ASCII", mb, convert, mb / convert, read);
    if (parse > 0)
      std::printf(" %9.3f %7.2f %7.2f%s\n", parse, convert / parse, read / parse,
                  convert / parse <= 2.0 ? "" : "  (goal: ratio at most 2)");
    else
      std::printf(" %9s\n", "-");
  }
  if (keep)
    std::printf("files kept in %s\n", dir.c_str());
  else
    fs::remove_all(dir);
  return result;
}

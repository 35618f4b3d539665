// DWG files of release 2000 read into the database and converted whole
// (-dwgin), against the DWG oracle's reader (dwgread, which reads the file
// and writes nothing).
//
// A drawing of N entities (lines, circles, arcs, points, texts,
// lightweight polylines with bulges and inserts of small blocks, on 50
// layers) is written through the toolkit as a release 2000 DWG file, for
// N = 10000 and ten times as many up to the limit (default 1000000).  Per
// size, in processor seconds, the best of three runs, each a child
// process: the toolkit reading the file into a database (this program with
// --read), the whole -dwgin conversion (with its peak memory), and
// dwgread.  Goals: the reading
// no slower than dwgread, -dwgin at most twice dwgread, and the times of
// the reading and of -dwgin growing at most 11x from N to 10N.
//
// Usage: bench_dwgin_path [-k] [max entities] [program] [dwgread]
//   program defaults to trovak_iges beside the bench folder of the build,
//   dwgread to ../shared/tools/dwg-oracle/bin/dwgread; -k keeps the files.
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

#include "drawingdb/byte_sink.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

#include "bench/timed_run.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

Database makeDrawing(long n) {
  Database db = Database::create(Release::R2000);
  for (int l = 0; l < 50; ++l) db.addRecord(db.layers, "LAYER_" + std::to_string(l)).data.colour = 1 + l % 7;
  for (int b = 0; b < 10; ++b) {
    BlockRecord& block = db.addBlock("BLOCK_" + std::to_string(b));
    const std::size_t bi = db.blockIndex(block);
    for (int k = 0; k < 4; ++k) {
      Entity e = makeEntity(EntityKind::Line);
      drawingdb::get<Line>(e.data) = Line{{double(k), 0, 0}, {double(k) + 0.5, 1, 0}};
      db.addEntity(db.blocks[bi], std::move(e));
    }
  }
  const std::size_t model = db.blockIndex(db.modelSpace());
  for (long i = 0; i < n; ++i) {
    const double x = double(i % 1000) * 1.25, y = double(i / 1000) * 0.75;
    Entity e;
    switch (i % 7) {
      case 0:
        e = makeEntity(EntityKind::Line);
        drawingdb::get<Line>(e.data) = Line{{x, y, 0}, {x + 1.0 / 3.0, y + 0.2, 0}};
        break;
      case 1:
        e = makeEntity(EntityKind::Circle);
        drawingdb::get<Circle>(e.data).center = {x, y, 0};
        drawingdb::get<Circle>(e.data).radius = 0.3;
        break;
      case 2: {
        e = makeEntity(EntityKind::Arc);
        Arc& a = drawingdb::get<Arc>(e.data);
        a.center = {x, y, 0};
        a.radius = 0.4;
        a.startAngle = 15;
        a.endAngle = 200;
        break;
      }
      case 3: {
        e = makeEntity(EntityKind::Text);
        Text& t = drawingdb::get<Text>(e.data);
        t.insertion = {x, y, 0};
        t.height = 0.25;
        t.value = std::string("T").append(std::to_string(i));
        break;
      }
      case 4: {
        e = makeEntity(EntityKind::LwPolyline);
        auto& v = drawingdb::get<LwPolyline>(e.data).vertices;
        for (int k = 0; k < 5; ++k) v.push_back({{x + k * 0.1, y + (k % 2) * 0.1, 0}, 0, 0, k == 2 ? 0.5 : 0});
        break;
      }
      case 5:
        e = makeEntity(EntityKind::Point);
        drawingdb::get<PointEntity>(e.data).location = {x + 0.05, y + 0.05, 0};
        break;
      default: {
        e = makeEntity(EntityKind::Insert);
        Insert& ins = drawingdb::get<Insert>(e.data);
        ins.block = "BLOCK_" + std::to_string(i % 10);
        ins.insertion = {x, y, 0};
        ins.rotation = double(i % 360);
        break;
      }
    }
    e.common.layer = "LAYER_" + std::to_string(i % 50);
    db.addEntity(db.blocks[model], std::move(e));
  }
  return db;
}

using bench::bestOfThree;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    Database db;
    return readFile(argv[2], db).status.ok() ? 0 : 1;
  }
  const std::optional<bench::PeerBenchArgs> args =
      bench::peerBenchArgs(argc, argv, "../shared/tools/dwg-oracle/bin/dwgread");
  if (!args) return 2;
  const auto& [self, keep, most, program, peer, withPeer] = *args;

  char pattern[] = "/tmp/bench_dwgin_XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  std::ofstream(dir + "/run.config") << "TR_PROT ./\nTR_TEMP " << dir << "/\nTR_LANG english\nTR_STAT nein\n";

  std::printf("release 2000 DWG, processor seconds (best of three), peak memory of -dwgin\n%9s %8s %9s %9s %9s %8s %8s %9s\n",
              "entities", "MB", "read s", "-dwgin s", "dwgread s", "read/p", "dwgin/p", "peak MB");
  int result = 0;
  double lastRead = 0, lastConvert = 0;
  long lastN = 0;
  for (long n = 10000; n <= most; n *= 10) {
    Database db = makeDrawing(n);
    StringSink sink;
    SaveOptions options;
    options.format = FileFormat::Dwg;
    options.release = Release::R2000;
    if (!save(db, sink, options).ok()) return 1;
    const std::string file = dir + "/drawing" + std::to_string(n) + ".dwg";
    std::ofstream(file, std::ios::binary) << sink.data;
    const double mb = double(sink.data.size()) / 1e6;
    const double read = bestOfThree({self.string(), "--read", file}, dir);
    long peakKb = 0;
    const double convert = bestOfThree({program, "-dwgin", file, dir + "/out.kpl", dir + "/run.config"}, dir, &peakKb);
    const double parse = withPeer ? bestOfThree({peer, file}, dir) : -1;
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
    if (lastN > 0)
      std::printf("%9s reading grew %.1fx, -dwgin %.1fx for %ldx the entities (goal: at most 11x)\n", "",
                  read / lastRead, convert / lastConvert, n / lastN);
    lastRead = read;
    lastConvert = convert;
    lastN = n;
  }
  if (keep)
    std::printf("files kept in %s\n", dir.c_str());
  else
    fs::remove_all(dir);
  return result;
}

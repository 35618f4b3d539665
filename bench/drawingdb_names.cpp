// Lookups by name in drawings with many layers and blocks: reading a DXF
// file of N layers and N blocks (each block inserted once, each insert on
// its own layer) and then finding every layer and block by name, for N of
// 10k and 100k.  Goal: both grow at most 11x from N to 10N (no search of
// all names per name).
//
//   bench_drawingdb_names [max-names]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drawingdb/dxf_codec.h"

using namespace drawingdb;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string drawingOf(long n) {
  Database db = Database::create(Release::R2000);
  for (long i = 0; i < n; ++i) {
    std::string name = "N";
    name += std::to_string(i);
    db.addRecord(db.layers, name);
    BlockRecord& block = db.addBlock(name);
    const std::size_t bi = db.blockIndex(block);
    Entity line = makeEntity(EntityKind::Line);
    get<Line>(line.data) = Line{{0, 0, 0}, {1, 1, 0}};
    db.addEntity(db.blocks[bi], std::move(line));
    Entity insert = makeEntity(EntityKind::Insert);
    insert.common.layer = name;
    get<Insert>(insert.data).block = name;
    db.addEntity(db.modelSpace(), std::move(insert));
  }
  StringSink sink;
  if (!writeDxf(db, sink, {Release::R2000, false, 16}).ok()) std::exit(1);
  return std::move(sink.data);
}

struct Row {
  double read = 0, lookup = 0;
};

Row measure(long n) {
  const std::string file = drawingOf(n);
  Row row;
  Database db;
  const auto t0 = Clock::now();
  if (!readDxf(file, db).status.ok()) std::exit(1);
  const auto t1 = Clock::now();
  long found = 0;
  for (long i = 0; i < n; ++i) {
    std::string name = "n";  // another case: found all the same
    name += std::to_string(i);
    found += db.layers.find(name) != nullptr;
    found += db.findBlock(name) != nullptr;
  }
  const auto t2 = Clock::now();
  if (found != 2 * n) std::exit(1);
  row.read = seconds(t0, t1);
  row.lookup = seconds(t1, t2);
  std::printf("%8ld names: read %8.3f s, %ld lookups %8.4f s\n", n, row.read, 2 * n, row.lookup);
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  const long most = argc > 1 ? std::atol(argv[1]) : 100000;
  Row last;
  bool ok = true;
  for (long n = 10000; n <= most; n *= 10) {
    const Row row = measure(n);
    if (n > 10000) {
      const double readGrowth = row.read / last.read, lookupGrowth = row.lookup / last.lookup;
      std::printf("growth from %ld: read %.1fx, lookups %.1fx (goal <= 11x)\n", n / 10, readGrowth, lookupGrowth);
      ok = ok && readGrowth <= 11 && lookupGrowth <= 11;
    }
    last = row;
  }
  return ok ? 0 : 1;
}

// Subfigures nested in a chain, expanded where they are placed (the
// default subfigure mode): d and 4d levels (default d 10000), each level
// a line and the placement of the level below.
//
//   IGES      a 308 per level holding its line and a 408 of the 308 below
//             (-igesin -plus); one 408 of the top level outside.
//   DXF       a block per level holding its line and an insert of the block
//             below (-dxfin); one insert of the top block in model space.
//   groups    as IGES, with a 402 group between each level and the 408 it
//             holds: each group lists the objects of the level below it,
//             its line and the group there.
//
// The program runs as a child process; its processor time counts (best
// of three).  Printed: the script's size, the seconds, and the growth
// from d to 4d levels (goal: at most 4.5, 4 is linear).
//
// Usage: bench_nested_blocks [-k] [levels d] [program]
//   program defaults to trovak_iges beside the bench folder of the build;
//   -k keeps the files of 4d levels (for a profiler) and says where.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/iges_file.h"
#include "bench/timed_run.h"
#include "drawingdb/byte_sink.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"

namespace fs = std::filesystem;

namespace {

using bench::appendIgesParameters;
using bench::igesField;
using bench::putIgesRecord;

struct IgesEntity {
  long type = 0;
  long form = 0;
  std::string data;
  bool dependent = false;
};

void writeIges(const std::vector<IgesEntity>& entities, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  putIgesRecord(f, "nested subfigures", 'S', 1);
  putIgesRecord(f, ",,4Hbnch,4Hfile,4Hbnch,3H1.0,32,38,6,308,15,4Hbnch,1.,2,2HMM,1,1.,", 'G', 1);
  putIgesRecord(f, "15H20260101.120000,0.0001,1000.;", 'G', 2);
  std::string params;
  long p = 0;
  for (std::size_t i = 0; i < entities.size(); ++i) {
    const IgesEntity& e = entities[i];
    const long de = 2 * static_cast<long>(i) + 1;
    long lines = 0;
    const long first = p + 1;
    appendIgesParameters(params, std::to_string(e.type) + "," + e.data, de, p, lines);
    putIgesRecord(f,
                  igesField(e.type) + igesField(first) + igesField(0) + igesField(1) + igesField(0) + igesField(0) +
                      igesField(0) + igesField(0) + (e.dependent ? "00010000" : "00000000"),
                  'D', de);
    putIgesRecord(f, igesField(e.type) + igesField(0) + igesField(0) + igesField(lines) + igesField(e.form), 'D',
                  de + 1);
  }
  std::fputs(params.c_str(), f);
  char t[80];
  std::snprintf(t, sizeof t, "S%7dG%7dD%7ldP%7ld", 1, 2, 2 * static_cast<long>(entities.size()), p);
  putIgesRecord(f, t, 'T', 1);
  std::fclose(f);
}

// The chain of `levels` subfigures; with `groups` a group between each
// level and the instance it holds.
void makeIgesChain(long levels, bool groups, const std::string& path) {
  std::vector<IgesEntity> entities;
  const auto add = [&entities](IgesEntity e) {
    entities.push_back(std::move(e));
    return 2 * static_cast<long>(entities.size()) - 1;
  };
  long inner = 0;
  for (long k = 0; k < levels; ++k) {
    const std::string y = std::to_string(k) + ".";
    const long line = add(IgesEntity{110, 0, "0.," + y + ",0.,1.," + y + ",0.;", true});
    std::string members = "1," + std::to_string(line);
    if (inner != 0) {
      const long held = groups ? add(IgesEntity{402, 7, "1," + std::to_string(inner) + ";", true}) : inner;
      members = "2," + std::to_string(line) + "," + std::to_string(held);
    }
    // The name "S<k>" as a Hollerith string.
    const std::string digits = std::to_string(k);
    std::string data = "0,";
    data.append(std::to_string(digits.size() + 1)).append("HS").append(digits).append(",").append(members).append(";");
    const long definition = add(IgesEntity{308, 0, data, false});
    inner = add(IgesEntity{408, 0, std::to_string(definition) + ",0.,0.,0.,1.;", k + 1 < levels});
  }
  writeIges(entities, path);
}

void makeDxfChain(long levels, const std::string& path) {
  using namespace drawingdb;
  Database db = Database::create(Release::R2000);
  const auto name = [](long k) { return "LEVEL" + std::to_string(k); };
  for (long k = 0; k < levels; ++k) db.addBlock(name(k));
  for (long k = 0; k < levels; ++k) {
    BlockRecord& block = *db.findBlock(name(k));
    Entity line = makeEntity(EntityKind::Line);
    line.data = Line{{0, double(k), 0}, {1, double(k), 0}};
    db.addEntity(block, line);
    if (k + 1 < levels) {
      Entity insert = makeEntity(EntityKind::Insert);
      Insert in;
      in.block = name(k + 1);
      insert.data = in;
      db.addEntity(*db.findBlock(name(k)), insert);
    }
  }
  Entity top = makeEntity(EntityKind::Insert);
  Insert in;
  in.block = name(0);
  top.data = in;
  db.addEntity(db.modelSpace(), top);
  StringSink sink;
  SaveOptions options;
  options.format = FileFormat::DxfAscii;
  options.release = Release::R2000;
  if (!save(db, sink, options).ok()) std::abort();
  std::ofstream(path, std::ios::binary) << sink.data;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path self = fs::absolute(argv[0]);
  const bool keep = argc > 1 && std::string(argv[1]) == "-k";
  if (keep) {
    --argc;
    ++argv;
  }
  const long levels = argc > 1 ? std::atol(argv[1]) : 10000;
  const std::string program =
      argc > 2 ? std::string(argv[2]) : (self.parent_path().parent_path() / "trovak_iges").string();
  if (levels < 1 || access(program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no program %s (or no levels)\n", program.c_str());
    return 2;
  }
  const std::string dir = bench::benchRunFolder("nested_blocks");
  if (dir.empty()) return 1;

  std::printf("processor seconds, best of three\n%-7s %8s %10s %9s\n", "shape", "levels", "script MB", "seconds");
  int result = 0;
  for (const std::string shape : {"IGES", "DXF", "groups"}) {
    double seconds[2] = {-1, -1};
    for (int k = 0; k < 2; ++k) {
      const long n = k == 0 ? levels : 4 * levels;
      const std::string file = dir + "/chain_" + shape + (shape == "DXF" ? ".dxf" : ".igs");
      std::vector<std::string> args{program};
      if (shape == "DXF") {
        makeDxfChain(n, file);
        args.push_back("-dxfin");
      } else {
        makeIgesChain(n, shape == "groups", file);
        args.insert(args.end(), {"-igesin", "-plus"});
      }
      const std::string out = dir + "/out_" + shape + ".kpl";
      args.insert(args.end(), {file, out, dir + "/run.config"});
      seconds[k] = bench::bestOfThree(args, dir);
      if (seconds[k] < 0) {
        std::printf("%-7s %8ld  the conversion failed\n", shape.c_str(), n);
        result = 1;
        continue;
      }
      std::error_code ec;
      const auto size = fs::file_size(out, ec);
      std::printf("%-7s %8ld %10.2f %9.3f\n", shape.c_str(), n, ec ? 0.0 : double(size) / 1e6, seconds[k]);
    }
    if (seconds[0] <= 0 || seconds[1] <= 0) continue;
    const double growth = seconds[1] / seconds[0];
    std::printf("%-7s growth %.2f for 4x the levels%s\n", shape.c_str(), growth,
                growth <= 4.5 ? "" : "  (goal: at most 4.5)");
  }
  if (keep) {
    std::printf("files of the larger runs kept in %s\n", dir.c_str());
  } else {
    fs::remove_all(dir);
  }
  return result;
}

// The drawing of dimensions and hatches for files of releases that need
// it: the blocks of N dimensions built at once, a hatch whose boundary is
// a gear of N vertices filled solid, and one whose boundary is a round
// polygon of N vertices drawn with a line pattern (as many lines whatever
// N, so the drawing itself stays the same size), for N from 10k on by
// factors of 10.  Each step should take at most about 12 times the one
// before (the gear crosses many teeth at one height: a fill that visited
// every piece crossing each height would grow with N squared).
//
//   bench_drawingdb_annotation [max-n]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "drawingdb/dimension_block.h"
#include "drawingdb/hatch_fill.h"

using namespace drawingdb;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double buildDimensions(long n) {
  Database db = Database::create(Release::R2000);
  for (long i = 0; i < n; ++i) {
    Entity e = makeEntity(EntityKind::Dimension);
    Dimension& d = get<Dimension>(e.data);
    d.flags = static_cast<std::int32_t>(i % 7);
    const double x = double(i % 1000) * 10, y = double(i / 1000) * 10;
    d.definition = {x + 1, y + 3, 0};
    d.defPoint2 = {x, y, 0};
    d.defPoint3 = {x + 4, y + 1, 0};
    d.defPoint4 = {x + 1, y + 4, 0};
    d.arcPoint = {x + 2, y + 2, 0};
    db.addEntity(db.modelSpace(), std::move(e));
  }
  const auto t0 = Clock::now();
  const std::size_t built = buildMissingDimensionBlocks(db);
  const auto t1 = Clock::now();
  if (built != static_cast<std::size_t>(n)) std::fprintf(stderr, "built %zu of %ld blocks\n", built, n);
  return seconds(t0, t1);
}

Hatch gear(long n, bool solid) {
  const double tooth = solid ? 1 : 0;
  Hatch h;
  h.solidFill = solid ? 1 : 0;
  h.lines = {HatchLine{45, 0, 0, -0.05, 0.05, {0.5, -0.25}}};
  HatchPath p;
  p.flags = 3;
  for (long i = 0; i < n; ++i) {
    const double a = 2 * 3.141592653589793 * double(i) / double(n), r = i % 2 ? 100 : 100 - tooth;
    p.vertices.push_back({{r * std::cos(a), r * std::sin(a), 0}, 0});
  }
  h.paths = {p};
  return h;
}

double drawHatch(long n, bool solid) {
  const Hatch h = gear(n, solid);
  const auto t0 = Clock::now();
  const std::size_t pieces = hatchDrawing(h).size();
  const auto t1 = Clock::now();
  if (pieces == 0) std::fprintf(stderr, "the gear of %ld vertices drew nothing\n", n);
  return seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  const long maxN = argc > 1 ? std::atol(argv[1]) : 1000000;
  struct Step {
    const char* what;
    double (*run)(long);
  };
  const Step steps[] = {
      {"dimension blocks", buildDimensions},
      {"solid hatch", [](long n) { return drawHatch(n, true); }},
      {"pattern hatch", [](long n) { return drawHatch(n, false); }},
  };
  int failed = 0;
  for (const Step& s : steps) {
    double previous = 0;
    for (long n = 10000; n <= maxN; n *= 10) {
      const double t = s.run(n);
      const double growth = previous > 0 ? t / previous : 0;
      std::printf("%-16s n=%-8ld %8.3f s%s\n", s.what, n, t,
                  previous > 0 ? (" growth " + std::to_string(growth)).c_str() : "");
      if (previous > 0.01 && growth > 12) {
        std::printf("  growth above 12x\n");
        ++failed;
      }
      previous = t;
    }
  }
  return failed == 0 ? 0 : 1;
}

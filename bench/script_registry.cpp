// Cost per point of the point registry, per length of the length registry
// and per element of the level list, on the inputs that make plain binary
// trees degrade: points along a line in increasing x, columns of table rows
// (equal x, y decreasing), nested lines drawn from both ends inwards,
// lengths in increasing order, and many elements on few levels; and the
// points of a drawing as the converters pass them: elements of three points
// whose later points are written against the first (which is looked up
// again each time), chains of elements sharing their ends, cells drawn row
// by row in six views spread over the sheet, and one element in ten placed
// anywhere; and a sheet of small elements in rows of a thousand cells
// (lines, polylines of five vertices, circles, texts), as large drawings of
// parts lists and plans are written, so that every cell's x comes back on
// each row and each column of the sheet holds as many points as there are
// rows.  Every point is looked up again after all are written.  The
// processor time per item must stay flat from 10k to 1M: the last line
// gives the growth of the total time from 100k to 1M (goal: at most 11x).
// Then the point registry alone, without the writer around it: the time
// per lookup and the memory per point it holds.
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <ostream>
#include <streambuf>
#include <utility>
#include <vector>

#include "script/point_registry.h"
#include "script/script_writer.h"
#include "support/config.h"
#include "support/run_state.h"

namespace {

// The processor time of the process: the machine is shared.
double processorSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Takes the script and forgets it.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

using PointAt = std::function<ScriptPointXYZ(long i, long count)>;

ScriptPointXYZ onLine(long i, long) { return ScriptPointXYZ{0.5 * static_cast<double>(i + 1), 3.0, 0.0}; }

ScriptPointXYZ inColumns(long i, long count) {
  const long rows = count / 4;
  const double columns[4] = {0.0, 40.0, 40.00015, 90.0};
  return ScriptPointXYZ{columns[i % 4], 0.25 * static_cast<double>(rows - i / 4), 0.0};
}

ScriptPointXYZ nested(long i, long count) {
  const double k = static_cast<double>(i / 2);
  return ScriptPointXYZ{i % 2 == 0 ? k : static_cast<double>(count) - k, -5.0, 0.0};
}

double secondsPerPoint(long count, const PointAt& at) {
  resetScriptState();
  resetRunConfiguration();
  runSettings().pointMode = 1;
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  ScriptPrologue();
  const ScriptAttributes attributes;
  const double start = processorSeconds();
  for (int pass = 0; pass < 2; ++pass) {
    for (long i = 0; i < count; ++i) ScriptPoint(0, attributes, nullptr, nullptr, at(i, count));
  }
  const double s = processorSeconds() - start;
  scriptState().out = nullptr;
  return s / static_cast<double>(2 * count);
}

// The elements of a drawing: count points in elements of three.
double secondsPerDrawingPoint(long count) {
  resetScriptState();
  resetRunConfiguration();
  runSettings().pointMode = 1;
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  ScriptPrologue();
  const ScriptAttributes attributes;
  const long elements = count / 3;
  const long perView = elements / 6 + 1;
  std::uint32_t random = 12345;
  auto next = [&random] {
    random = random * 1664525u + 1013904223u;
    return static_cast<double>(random >> 8) / 16777216.0;
  };
  const double start = processorSeconds();
  for (int pass = 0; pass < 2; ++pass) {
    random = 12345;
    ScriptPointXYZ end{0, 0, 0};
    for (long e = 0; e < elements; ++e) {
      // Views in a three by two layout of the sheet, one after the other.
      const long view = e / perView, cell = e % perView;
      const double viewX = 2000.0 * static_cast<double>(view % 3), viewY = 1500.0 * static_cast<double>(view / 3);
      ScriptPointXYZ first{viewX + 1.25 * static_cast<double>(cell % 1000),
                           viewY + 0.75 * static_cast<double>(cell / 1000), 0.0};
      if (e % 4 != 0) first = end;  // chains of four share their ends
      if (e % 10 == 7) first = ScriptPointXYZ{6000.0 * next(), 3000.0 * next(), 0.0};
      const ScriptPointXYZ second{first.x + 1.0 / 3.0, first.y + 0.2, 0.0};
      const ScriptPointXYZ third{first.x + 0.1 * next(), first.y - 0.3, 0.0};
      ScriptPoint(0, attributes, nullptr, nullptr, first);
      ScriptPoint(0, attributes, nullptr, &first, second);
      ScriptPoint(0, attributes, nullptr, &first, third);
      end = third;
    }
  }
  const double s = processorSeconds() - start;
  scriptState().out = nullptr;
  return s / static_cast<double>(6 * elements);
}

// The elements of a sheet of rows: count points, a thousand cells a row.
double secondsPerSheetPoint(long count) {
  resetScriptState();
  resetRunConfiguration();
  runSettings().pointMode = 1;
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  ScriptPrologue();
  const ScriptAttributes attributes;
  long points = 0;
  const double start = processorSeconds();
  for (int pass = 0; pass < 2; ++pass) {
    for (long i = 0; points < (pass + 1) * count; ++i) {
      const ScriptPointXYZ first{1.25 * static_cast<double>(i % 1000), 0.75 * static_cast<double>(i / 1000), 0.0};
      ScriptPoint(0, attributes, nullptr, nullptr, first);
      ++points;
      switch (i % 4) {
        case 0:  // a line
          ScriptPoint(0, attributes, nullptr, &first, ScriptPointXYZ{first.x + 1.0 / 3.0, first.y + 0.2, 0.0});
          ++points;
          break;
        case 1:  // a polyline: its vertices zigzag to the right
          for (int k = 1; k < 5; ++k) {
            ScriptPoint(0, attributes, nullptr, &first,
                        ScriptPointXYZ{first.x + 0.1 * k, first.y + 0.1 * (k % 2), 0.0});
            ++points;
          }
          break;
        case 2:  // a circle: its centre and a point of its rim
          ScriptPoint(0, attributes, nullptr, &first, ScriptPointXYZ{first.x + 0.3, first.y, 0.0});
          ++points;
          break;
        default:  // a text: its insertion point only
          break;
      }
    }
  }
  const double s = processorSeconds() - start;
  scriptState().out = nullptr;
  return s / static_cast<double>(points);
}

// The registry alone: points looked up twice, the first time with a new
// number; the seconds per lookup, and the bytes held per point.
double registrySecondsPerLookup(long count, const PointAt& at, double& bytesPerPoint) {
  PointRegistry registry;
  registry.setTolerance(1e-6);
  std::int32_t next = 1;
  const double start = processorSeconds();
  for (int pass = 0; pass < 2; ++pass) {
    for (long i = 0; i < count; ++i) {
      const ScriptPointXYZ p = at(i, count);
      registry.lookup(p.x, p.y, 1, next++);
    }
  }
  const double s = processorSeconds() - start;
  bytesPerPoint = static_cast<double>(registry.bytesHeld()) / static_cast<double>(registry.size());
  return s / static_cast<double>(2 * count);
}

ScriptPointXYZ scattered(long i, long) {
  std::uint32_t h = static_cast<std::uint32_t>(i) * 2654435761u;
  h ^= h >> 15;
  const std::uint32_t k = h * 2246822519u;
  return ScriptPointXYZ{0.001 * static_cast<double>(h % 1000000u), 0.001 * static_cast<double>(k % 700000u), 0.0};
}

double secondsPerLength(long count) {
  resetScriptState();
  resetRunConfiguration();
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  const double start = processorSeconds();
  for (long i = 0; i < count; ++i) ScriptLength(0.5 * static_cast<double>(i + 1));
  for (long i = 0; i < count; ++i) ScriptLength(-0.5 * static_cast<double>(i + 1));
  const double s = processorSeconds() - start;
  scriptState().out = nullptr;
  return s / static_cast<double>(2 * count);
}

double secondsPerLevel(long count) {
  resetScriptState();
  resetRunConfiguration();
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  std::vector<std::int32_t> levels(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) levels[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(i % 3);
  const double start = processorSeconds();
  ScriptLevelList(levels);
  const double s = processorSeconds() - start;
  scriptState().out = nullptr;
  return s / static_cast<double>(count);
}

}  // namespace

int main() {
  std::printf("%9s %12s %12s %12s %12s %12s %12s %12s   (microseconds per item)\n", "items", "line", "columns",
              "nested", "drawing", "sheet", "lengths", "levels");
  double last[5] = {0, 0, 0, 0, 0};
  for (long n : {10000L, 100000L, 1000000L}) {
    const double now[5] = {secondsPerPoint(n, onLine), secondsPerPoint(n, inColumns), secondsPerPoint(n, nested),
                           secondsPerDrawingPoint(n), secondsPerSheetPoint(n)};
    std::printf("%9ld %12.3f %12.3f %12.3f %12.3f %12.3f %12.3f %12.3f\n", n, now[0] * 1e6, now[1] * 1e6,
                now[2] * 1e6, now[3] * 1e6, now[4] * 1e6, secondsPerLength(n) * 1e6, secondsPerLevel(n) * 1e6);
    if (n == 1000000L) {
      std::printf("%9s", "growth");
      for (int k = 0; k < 5; ++k) std::printf(" %11.1fx", 10.0 * now[k] / last[k]);
      std::printf("   (total time from 100k to 1M items)\n");
    }
    for (int k = 0; k < 5; ++k) last[k] = now[k];
    std::fflush(stdout);
  }
  std::printf("\nthe registry alone, 1M points each looked up twice: microseconds per lookup, bytes per point\n");
  const std::pair<const char*, PointAt> shapes[] = {
      {"line", onLine}, {"columns", inColumns}, {"nested", nested}, {"scattered", scattered}};
  for (const auto& [name, at] : shapes) {
    double bytes = 0;
    const double seconds = registrySecondsPerLookup(1000000L, at, bytes);
    std::printf("%12s %9.3f %9.1f\n", name, seconds * 1e6, bytes);
  }
  resetScriptState();
  return 0;
}

// Cost per point of the point registry, per length of the length registry
// and per element of the level list, on the inputs that make plain binary
// trees degrade: points along a line in increasing x, columns of table rows
// (equal x, y decreasing), nested lines drawn from both ends inwards,
// lengths in increasing order, and many elements on few levels.  Every
// point is looked up again after all are written.  The time per item must
// stay flat from 10k to 1M.
#include <chrono>
#include <cstdio>
#include <functional>
#include <ostream>
#include <streambuf>
#include <vector>

#include "script/script_writer.h"
#include "support/config.h"
#include "support/run_state.h"

namespace {

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
  const auto start = std::chrono::steady_clock::now();
  for (int pass = 0; pass < 2; ++pass) {
    for (long i = 0; i < count; ++i) ScriptPoint(0, attributes, nullptr, nullptr, at(i, count));
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  scriptState().out = nullptr;
  return s / static_cast<double>(2 * count);
}

double secondsPerLength(long count) {
  resetScriptState();
  resetRunConfiguration();
  Discard sink;
  std::ostream out(&sink);
  scriptState().out = &out;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) ScriptLength(0.5 * static_cast<double>(i + 1));
  for (long i = 0; i < count; ++i) ScriptLength(-0.5 * static_cast<double>(i + 1));
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
  const auto start = std::chrono::steady_clock::now();
  ScriptLevelList(levels);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  scriptState().out = nullptr;
  return s / static_cast<double>(count);
}

}  // namespace

int main() {
  std::printf("%9s %12s %12s %12s %12s %12s   (microseconds per item)\n", "items", "line", "columns",
              "nested", "lengths", "levels");
  for (long n : {10000L, 100000L, 1000000L}) {
    std::printf("%9ld %12.3f %12.3f %12.3f %12.3f %12.3f\n", n, secondsPerPoint(n, onLine) * 1e6,
                secondsPerPoint(n, inColumns) * 1e6, secondsPerPoint(n, nested) * 1e6, secondsPerLength(n) * 1e6,
                secondsPerLevel(n) * 1e6);
    std::fflush(stdout);
  }
  resetScriptState();
  return 0;
}

// Cost per point of the point and length registries on the inputs that
// make a plain binary tree degrade: points along a line in increasing x,
// and lengths in increasing order.  The time per point must stay flat from
// 10k to 1M points.
#include <chrono>
#include <cstdio>
#include <sstream>

#include "driver/config.h"
#include "driver/run_state.h"
#include "script/script_writer.h"

namespace {

double secondsPerItem(long count, bool lengths) {
  resetScriptState();
  resetRunConfiguration();
  runSettings().pointMode = lengths ? 0 : 1;
  std::ostringstream out;
  scriptState().out = &out;
  ScriptPrologue();
  const auto start = std::chrono::steady_clock::now();
  const ScriptAttributes attributes;
  for (long i = 0; i < count; ++i) {
    const double x = 0.5 * static_cast<double>(i + 1);
    if (lengths) {
      ScriptLength(x);
    } else {
      ScriptPoint(0, attributes, nullptr, nullptr, ScriptPointXYZ{x, 3.0, 0.0});
    }
  }
  // Every point again: all are found.
  for (long i = 0; i < count && !lengths; ++i) {
    ScriptPoint(0, attributes, nullptr, nullptr, ScriptPointXYZ{0.5 * static_cast<double>(i + 1), 3.0, 0.0});
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  scriptState().out = nullptr;
  return s / static_cast<double>(count);
}

}  // namespace

int main() {
  for (long n : {10000L, 100000L, 1000000L}) {
    std::printf("%8ld points : %8.3f us/point   lengths : %8.3f us/length\n", n, secondsPerItem(n, false) * 1e6,
                secondsPerItem(n, true) * 1e6);
  }
  resetScriptState();
  return 0;
}

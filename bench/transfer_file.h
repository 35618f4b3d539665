// The CAD transfer file the output-path benchmarks convert: a header with
// the drawing's extents and three layer values, then `lines` line elements
// listed with ascending identifiers (the order the CAD system writes, and
// the one that makes sorted insertions and list scans go quadratic), their
// layers going round the three values.  After every fiftieth line a group
// element holds the ten lines before it, so member walks, blocks and
// inserts are part of every run.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace bench {

inline std::string transferFile(long lines) {
  std::string out = "@fileversion\n#1\n#V1\n#BenchCAD\n@general\n#0\n#0\n#1000\n#1000\n#3\n#10\n#20\n#30\n";
  out.reserve(static_cast<std::size_t>(lines) * 110);
  char buffer[256];
  for (long id = 1; id <= lines; ++id) {
    const double x = static_cast<double>(id % 1000);
    std::snprintf(buffer, sizeof buffer,
                  "@line %ld\n#attr\n#x\n#visible\n#1 0 0 0 black\n#%g\n#%g\n#%g\n#%g\n#%d\n#1\n#0.5\n", id, x,
                  x * 0.5, x + 1.0, x * 0.5 + 2.0, 10 * static_cast<int>(id % 3 + 1));
    out += buffer;
    if (id % 50 == 0) {
      std::snprintf(buffer, sizeof buffer, "@group %ld G%ld\n#attr\n#x\n", lines + id, id);
      out += buffer;
      for (long m = id - 9; m <= id; ++m) {
        std::snprintf(buffer, sizeof buffer, "#%ld\n", m);
        out += buffer;
      }
      out += "#end\n";
    }
  }
  return out;
}

}  // namespace bench

// A generated DXF file of Release 12 for the benchmarks of the own DXF
// reader: one layer per 100 entities and one block per 1000 (each of a few
// lines, inserted ten times, nine in ten inserting the block before),
// every tenth entity a polyline of five vertices, every fiftieth a
// dimension of its own block, the rest lines and circles.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

inline void group(std::FILE* f, int code, const std::string& value) { std::fprintf(f, "%3d\n%s\n", code, value.c_str()); }
inline void group(std::FILE* f, int code, double value) { std::fprintf(f, "%3d\n%.6f\n", code, value); }

inline std::string layerName(long n) { return "LAYER_" + std::to_string(n); }
inline std::string blockName(long n) { return "BLOCK_" + std::to_string(n); }

inline std::string writeR12File(long entities, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  const long layers = entities / 100 + 1;
  const long blocks = entities / 1000 + 1;
  const long dimensions = entities / 50;
  group(f, 0, "SECTION");
  group(f, 2, "HEADER");
  group(f, 9, "$ACADVER");
  group(f, 1, "AC1009");
  group(f, 0, "ENDSEC");
  group(f, 0, "SECTION");
  group(f, 2, "TABLES");
  group(f, 0, "TABLE");
  group(f, 2, "LAYER");
  group(f, 70, "10");  // far too few: the table grows
  for (long k = 0; k < layers; ++k) {
    group(f, 0, "LAYER");
    group(f, 2, layerName(k));
    group(f, 70, "0");
    group(f, 62, std::to_string(k % 255 + 1));
    group(f, 6, "CONTINUOUS");
  }
  group(f, 0, "ENDTAB");
  group(f, 0, "ENDSEC");
  group(f, 0, "SECTION");
  group(f, 2, "BLOCKS");
  for (long b = 0; b < blocks; ++b) {
    group(f, 0, "BLOCK");
    group(f, 8, "0");
    group(f, 2, blockName(b));
    group(f, 70, "0");
    group(f, 10, 0.0);
    group(f, 20, 0.0);
    for (int k = 0; k < 3; ++k) {
      group(f, 0, "LINE");
      group(f, 8, layerName(b % layers));
      group(f, 10, static_cast<double>(k));
      group(f, 20, 0.0);
      group(f, 11, static_cast<double>(k + 1));
      group(f, 21, 1.0);
    }
    if (b % 10 != 0) {  // chains of ten blocks: the drawing grows linearly
      group(f, 0, "INSERT");
      group(f, 8, "0");
      group(f, 2, blockName(b - 1));
      group(f, 10, 5.0);
      group(f, 20, 5.0);
    }
    group(f, 0, "ENDBLK");
  }
  for (long d = 0; d < dimensions; ++d) {
    group(f, 0, "BLOCK");
    group(f, 2, "*D" + std::to_string(d));
    group(f, 70, "1");
    group(f, 0, "LINE");
    group(f, 8, "0");
    group(f, 10, 0.0);
    group(f, 20, 0.0);
    group(f, 11, 1.0);
    group(f, 21, 0.0);
    group(f, 0, "ENDBLK");
  }
  group(f, 0, "ENDSEC");
  group(f, 0, "SECTION");
  group(f, 2, "ENTITIES");
  long dimension = 0;
  for (long i = 0; i < entities; ++i) {
    const std::string layer = layerName(i / 100 % layers);
    if (i % 50 == 49 && dimension < dimensions) {
      group(f, 0, "DIMENSION");
      group(f, 8, layer);
      group(f, 2, "*D" + std::to_string(dimension++));
      group(f, 70, "1");
    } else if (i % 100 == 7) {
      group(f, 0, "INSERT");
      group(f, 8, layer);
      group(f, 2, blockName(i / 100 % blocks));
      group(f, 10, static_cast<double>(i));
      group(f, 20, 3.0);
      group(f, 50, 30.0);
    } else if (i % 10 == 3) {
      group(f, 0, "POLYLINE");
      group(f, 8, layer);
      group(f, 66, "1");
      group(f, 70, "1");
      for (int k = 0; k < 5; ++k) {
        group(f, 0, "VERTEX");
        group(f, 8, layer);
        group(f, 10, static_cast<double>(i + k));
        group(f, 20, static_cast<double>(k * k));
      }
      group(f, 0, "SEQEND");
    } else if (i % 2 == 0) {
      group(f, 0, "CIRCLE");
      group(f, 8, layer);
      group(f, 10, static_cast<double>(i));
      group(f, 20, 1.0);
      group(f, 40, 2.5);
    } else {
      group(f, 0, "LINE");
      group(f, 8, layer);
      group(f, 62, "256");
      group(f, 10, static_cast<double>(i));
      group(f, 20, 0.0);
      group(f, 11, static_cast<double>(i + 1));
      group(f, 21, 10.0);
    }
  }
  group(f, 0, "ENDSEC");
  group(f, 0, "EOF");
  std::fclose(f);
  return path;
}

}  // namespace bench

// Reads generated IGES files of 10k, 100k and 1M entities (lines, arcs with
// 124 matrices, a few composite curves and subfigures, many instances of one
// subfigure) and prints the read
// time per entity, which should stay flat as the file grows.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "elements/element_table.h"
#include "iges_in/iges_reader.h"
#include "support/config.h"
#include "support/run_state.h"

namespace {

void put(std::FILE* f, const std::string& body, char section, long sequence) {
  std::string line = body.substr(0, 72);
  line.resize(72, ' ');
  std::fprintf(f, "%s%c%7ld\n", line.c_str(), section, sequence);
}

std::string field(long v) {
  char t[16];
  std::snprintf(t, sizeof t, "%8ld", v);
  return t;
}

// Every tenth entity is a matrix, every 1000th a composite of the two lines
// before it, every 5000th a subfigure of the line before it; past the first
// subfigure every seventh entity is an instance of it.
std::string makeFile(long entities) {
  const std::string path = "/tmp/bench_iges_read_" + std::to_string(getpid()) + ".igs";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  put(f, "benchmark", 'S', 1);
  put(f, ",,4Hbnch,4Hfile,4Hbnch,3H1.0,32,38,6,308,15,4Hbnch,1.,2,2HMM,1,1.,", 'G', 1);
  put(f, "15H20260101.120000,0.0001,1000.;", 'G', 2);
  std::string params;
  params.reserve(static_cast<std::size_t>(entities) * 81);
  long p = 0;
  long lastMatrix = 0;
  for (long i = 0; i < entities; ++i) {
    const long de = 2 * i + 1;
    std::string data;
    long type = 110;
    long matrix = 0;
    if (i % 10 == 0) {
      type = 124;
      data = "124,1.,0.,0.,5.,0.,1.,0.,7.,0.,0.,1.,0.;";
      lastMatrix = de;
    } else if (i % 1000 == 999) {
      type = 102;
      data = "102,2," + std::to_string(de - 2) + "," + std::to_string(de - 4) + ";";
    } else if (i % 5000 == 4998) {
      type = 308;
      data = "308,0,3HSUB,1," + std::to_string(de - 2) + ";";
    } else if (i > 5000 && i % 7 == 3) {
      // Instances that all share the first subfigure: one definition with
      // a father per instance.
      type = 408;
      data = "408," + std::to_string(2 * 4998 + 1) + ",1.,2.,0.,1.;";
    } else if (i % 2 == 0) {
      type = 100;
      data = "100,0.,0.,0.,5.,0.,5.,0.;";
      matrix = lastMatrix;
    } else {
      data = "110,0.,0.," + std::to_string(i) + ".,10.,0.,0.;";
    }
    put(f, field(type) + field(p + 1) + field(0) + field(1) + field(0) + field(0) + field(matrix) +
               field(0) + "00000000",
        'D', de);
    put(f, field(type) + field(0) + field(0) + field(1) + field(0), 'D', de + 1);
    std::string body = data;
    body.resize(64, ' ');
    char line[96];
    std::snprintf(line, sizeof line, "%s%8ld%c%7ld\n", body.c_str(), de, 'P', ++p);
    params += line;
  }
  std::fputs(params.c_str(), f);
  char t[80];
  std::snprintf(t, sizeof t, "S%7dG%7dD%7ldP%7ld", 1, 2, 2 * entities, p);
  put(f, t, 'T', 1);
  std::fclose(f);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  long most = argc > 1 ? std::atol(argv[1]) : 1000000;
  runPaths().tempDir = "/tmp";
  for (long n = 10000; n <= most; n *= 10) {
    const std::string path = makeFile(n);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    resetRunState();
    const auto begin = std::chrono::steady_clock::now();
    int r = igesReaderAttach(f);
    if (r == 0) r = readStartSection(0);
    if (r == 0) r = readGlobalSection();
    if (r == 0) r = readIgesInput();
    const auto end = std::chrono::steady_clock::now();
    const double us = std::chrono::duration<double, std::micro>(end - begin).count();
    std::printf("%8ld entities: result %d, %zd elements, %.3f us per entity\n", n, r,
                static_cast<ssize_t>(elementTable().lastIndex), us / static_cast<double>(n));
    closeIgesInput();
    freeTable();
    std::fclose(f);
    std::remove(path.c_str());
  }
  return 0;
}

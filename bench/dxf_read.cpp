// Reads generated DXF files of 10k, 100k and 1M entities (bench/r12_file.h)
// with the own DXF reader and prints the read time per entity, which
// should stay flat as the file grows.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/r12_file.h"
#include "dxf_in/dxf_reader.h"
#include "elements/element_table.h"
#include "support/run_state.h"

int main(int argc, char** argv) {
  const long most = argc > 1 ? std::atol(argv[1]) : 1000000;
  for (long n = 10000; n <= most; n *= 10) {
    const std::string path =
        bench::writeR12File(n, "/tmp/bench_dxf_read_" + std::to_string(getpid()) + ".dxf");
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) std::abort();
    resetRunState();
    runState().runMode = RunModeBit::kDxf | RunModeBit::kInput | RunModeBit::kPlus;
    dxfReader().lineTypeAssignmentsRead = true;
    const auto begin = std::chrono::steady_clock::now();
    const int r = readDxfFile(f);
    const auto end = std::chrono::steady_clock::now();
    const double us = std::chrono::duration<double, std::micro>(end - begin).count();
    std::printf("%8ld entities: result %d, %d elements, %zu layers, %.3f us per entity\n", n, r,
                static_cast<int>(elementTable().lastIndex), dxfReader().layers.entries.size(),
                us / static_cast<double>(n));
    releaseDxfReader();
    resetDxfReader();
    freeTable();
    std::fclose(f);
    std::remove(path.c_str());
  }
  return 0;
}

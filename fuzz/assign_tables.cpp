// Fuzzes the readers of the assignment tables: the input becomes each table
// file of a scratch assignment directory in turn, then every lookup runs
// over the loaded tables.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/assign_tables.h"
#include "support/config.h"

namespace {

const std::string& scratchDir() {
  static const std::string dir = [] {
    char name[] = "/tmp/fuzz_assign_XXXXXX";
    const char* made = mkdtemp(name);
    if (made == nullptr) std::abort();
    return std::string(made) + "/";
  }();
  return dir;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kTables[] = {"global.cfg", "linestyle.cfg", "color.cfg",
                                        "leader.cfg", "farbtabelle.zuor", "dxf_linetypes.zuor"};
  const std::string& dir = scratchDir();
  for (const char* table : kTables) unlink((dir + table).c_str());
  for (const char* table : kTables) {
    resetAssignTables();
    runPaths().assignDir = dir;
    writeFile(dir + table, data, size);
    (void)readGlobalValues();
    (void)readLineStyles();
    (void)readColourLists();
    (void)readLeaders();
    (void)readColourDefinitions();
    (void)readDxfLineTypes();
    for (int n = -2; n < 40; ++n) {
      (void)cadLineStyle(n);
      (void)exchangeLineStyle(n);
      (void)colourListOf(n);
      (void)leaderKindOf(n);
      (void)leaderValueOf(n);
    }
    (void)widthNumber(0.35);
    unlink((dir + table).c_str());
  }
  resetAssignTables();
  return 0;
}

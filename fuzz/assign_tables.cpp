// Fuzzes the readers of the assignment tables: the input becomes each table
// file of an assignment directory in turn, is read by that table's reader,
// and the lookups over that table run.  Each table has a directory of its
// own whose only entry is a link to the input, so an input is written once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "scratch_dir.h"

namespace {

// Numbers the lookups are asked for: around the ends of the tables' ranges.
constexpr int kNumbers[] = {-2, -1, 0, 1, 2, 3, 5, 8, 11, 12, 63, 64, 255, 256, 100000};

void globalValues() {
  (void)readGlobalValues();
  (void)readAssignments(1.0, 3);
  (void)widthNumber(0.35);
  (void)widthOfNumber(4);
}

void lineStyles() {
  (void)readLineStyles();
  for (int n : kNumbers) {
    (void)cadLineStyle(n);
    (void)exchangeLineStyle(n);
  }
}

void colourLists() {
  (void)readColourLists();
  for (int n : kNumbers) (void)colourListOf(n);
}

void leaders() {
  (void)readLeaders();
  for (int n : kNumbers) (void)leaderKindOf(n);
}

void colourDefinitions() { (void)readColourDefinitions(); }

// The DXF line types answer the line-style lookup of a run of the own DXF
// reader and writer.
void dxfLineTypes() {
  (void)readDxfLineTypes();
  runState().runMode = RunModeBit::kOutput | RunModeBit::kDxf;
  for (int n : kNumbers) (void)exchangeLineStyle(n);
  runState().runMode = 0;
}

struct Table {
  const char* file;
  void (*readAndLookUp)();
};

constexpr Table kTables[] = {
    {"global.cfg", globalValues},     {"linestyle.cfg", lineStyles},
    {"color.cfg", colourLists},       {"leader.cfg", leaders},
    {"farbtabelle.zuor", colourDefinitions}, {"dxf_linetypes.zuor", dxfLineTypes},
};
constexpr std::size_t kTableCount = sizeof kTables / sizeof kTables[0];

struct Scratch {
  ScratchDir dir{"fuzz_assign"};
  std::string tableDirs[kTableCount];
  Scratch() {
    for (std::size_t k = 0; k < kTableCount; ++k) {
      tableDirs[k] = dir.linkedDirectory("t" + std::to_string(k), kTables[k].file, "input");
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  mfaSetMessageLevel(0);
  scratch.dir.write("input", data, size);
  for (std::size_t k = 0; k < kTableCount; ++k) {
    resetAssignTables();
    runState().runMode = 0;
    runPaths().assignDir = scratch.tableDirs[k];
    kTables[k].readAndLookUp();
  }
  resetAssignTables();
  mfaResetCounts();
  return 0;
}

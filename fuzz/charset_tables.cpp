// Fuzzes the reader of the character tables and the font-name file: the
// input becomes each table file of an assignment directory in turn, and
// texts are converted through it in the runs that read that table.  Each
// table has a directory of its own whose only entry is a link to the input,
// so an input is written once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/charset.h"
#include "driver/config.h"
#include "driver/messages.h"
#include "driver/run_state.h"
#include "scratch_dir.h"

namespace {

// A run that reads the table: its mode, toolkit use, sending system, and
// the fonts whose texts go through the table (0 ends the list, except as
// the first font).
struct Conversion {
  std::uint32_t runMode;
  int useToolkit;
  int senderCode;
  int fonts[2];
};

constexpr std::uint32_t kIgesIn = RunModeBit::kInput;
constexpr std::uint32_t kDxfIn = RunModeBit::kInput | RunModeBit::kDxf;
constexpr std::uint32_t kOutput = RunModeBit::kOutput;

struct Table {
  const char* file;
  Conversion conversions[2];
  int conversionCount;
};

// Font 0 is the charset table of the own runs; the toolkit runs take it
// for font 1 as well, in both directions.  Font 1 reads font.cfg in DXF and
// DWG runs and font1.cfg in IGES runs; the fonts 2 and 3 share the current
// table, so the second reloads it.
constexpr Table kTables[] = {
    {"charset.cfg", {{kIgesIn, 0, 1, {0, -1}}, {kOutput, 1, 99, {1, -1}}}, 2},
    {"font.cfg", {{kDxfIn, 0, 9, {1, -1}}, {kDxfIn, 1, 99, {1, -1}}}, 2},
    {"font1.cfg", {{kIgesIn, 0, 2, {1, -1}}}, 1},
    {"font2.cfg", {{kIgesIn, 0, 1, {2, 3}}}, 1},
    {"font1001.cfg", {{kIgesIn, 0, 99, {1001, -1}}}, 1},
    {"font1002.cfg", {{kOutput, 0, 1, {1002, -1}}}, 1},
    {"font1003.cfg", {{kIgesIn, 0, 99, {1003, 1001}}}, 1},
    {"fontname.cfg", {}, 0},
};
constexpr std::size_t kTableCount = sizeof kTables / sizeof kTables[0];

struct Scratch {
  ScratchDir dir{"fuzz_charset"};
  std::string tableDirs[kTableCount];
  // Bytes across the whole range, and the escapes of the sending systems;
  // the input's own bytes follow.
  std::string sample;
  Scratch() {
    for (std::size_t k = 0; k < kTableCount; ++k) {
      tableDirs[k] = dir.linkedDirectory("t" + std::to_string(k), kTables[k].file, "input");
    }
    for (int c = 1; c < 256; c += 9) sample += static_cast<char>(c);
    sample += "\x1F \x7F\xFF@65@T@1@2@6@|^`^200$H$$T$$3$%%d%%123%%u%%% a\xC8O\xC8";
  }
};

void startRun(const std::string& assignDir, const Conversion& c) {
  resetRunState();
  resetCharacterTables();
  runPaths().assignDir = assignDir;
  runState().runMode = c.runMode;
  runState().useToolkit = c.useToolkit;
  runState().senderCode = c.senderCode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  mfaSetMessageLevel(0);
  scratch.dir.write("input", data, size);
  std::string sample = scratch.sample;
  sample.append(reinterpret_cast<const char*>(data), size < 128 ? size : 128);
  std::string text;
  for (std::size_t k = 0; k < kTableCount; ++k) {
    const Table& table = kTables[k];
    for (int i = 0; i < table.conversionCount; ++i) {
      const Conversion& c = table.conversions[i];
      startRun(scratch.tableDirs[k], c);
      for (int font : c.fonts) {
        if (font < 0) break;
        text = sample;
        convertText(text, font);
      }
    }
  }
  // The font-name file.
  startRun(scratch.tableDirs[kTableCount - 1], Conversion{kIgesIn, 0, 99, {-1, -1}});
  (void)cadFontName(std::string(reinterpret_cast<const char*>(data), size < 32 ? size : 32));
  (void)cadFontName("STANDARD");
  resetCharacterTables();
  resetRunState();
  mfaResetCounts();
  return 0;
}

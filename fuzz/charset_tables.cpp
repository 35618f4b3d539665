// Fuzzes the reader of the character tables and the font-name file: the
// input becomes each table file of a scratch assignment directory in turn,
// then texts of every font are converted through the loaded tables, in an
// own, a toolkit input and a toolkit output run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/charset.h"
#include "driver/config.h"
#include "driver/messages.h"
#include "driver/run_state.h"

namespace {

const std::string& scratchDir() {
  static const std::string dir = [] {
    char name[] = "/tmp/fuzz_charset_XXXXXX";
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
  static const char* const kTables[] = {"charset.cfg",  "font.cfg",     "font1.cfg",   "font2.cfg",
                                        "font1001.cfg", "font1002.cfg", "font1003.cfg", "fontname.cfg"};
  static const int kFonts[] = {0, 1, 2, 3, 1001, 1002, 1003};
  mfaSetMessageLevel(0);
  const std::string& dir = scratchDir();
  std::string sample;
  for (int c = 1; c < 256; ++c) sample += static_cast<char>(c);
  sample += "@65@T^`^200$H$%%d%%123%%u a\xC8";
  sample.append(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  for (const char* table : kTables) unlink((dir + table).c_str());
  for (const char* table : kTables) {
    writeFile(dir + table, data, size);
    for (int run = 0; run < 3; ++run) {
      resetRunState();
      runPaths().assignDir = dir;
      runState().useToolkit = run == 0 ? 0 : 1;
      runState().runMode = run == 2 ? RunModeBit::kOutput : RunModeBit::kInput | RunModeBit::kDxf;
      runState().senderCode = run == 0 ? 1 : 99;
      for (int font : kFonts) {
        (void)loadCharacterTable(font);
        std::string text = sample;
        convertText(text, font);
      }
      (void)cadFontName(std::string(reinterpret_cast<const char*>(data), size < 32 ? size : 32));
    }
    unlink((dir + table).c_str());
  }
  resetRunState();
  return 0;
}

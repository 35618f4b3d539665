// Fuzzes the toolkit's reading of whole DWG files of R13 to 2000: header
// variables, classes, every object through the map, table records before
// entities and each block's entity chain.  A file that reads is written
// again in its release, and what was written must read back.
//
// Seeds: unless an input file is named (a crash being replayed), the R14 and
// 2000 drawings of the shared corpus beside the project are added to the
// corpus directories at start-up; they are read there, never copied.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_file.h"

using namespace drawingdb;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const std::vector<std::string_view> given(*argv + 1, *argv + *argc);
  for (std::string_view a : given)
    if (!a.starts_with("-") && fs::is_regular_file(fs::path(a))) return 0;
  static std::vector<std::string> added;
  const fs::path root = fs::path(TROVAK_CORPUS_DIR) / "dwg";
  for (const char* dir : {"r14", "2000"})
    if (fs::is_directory(root / dir)) added.push_back((root / dir).string());
  std::string seeds;
  for (const char* file : {"example_r14.dwg", "example_2000.dwg"})
    if (fs::is_regular_file(root / file)) seeds += (seeds.empty() ? "" : ",") + (root / file).string();
  if (!seeds.empty()) added.push_back("-seed_inputs=" + seeds);
  if (added.empty()) return 0;
  // libFuzzer writes what it finds into the first directory named: the
  // corpus directories go after the caller's.
  static std::vector<char*> args(*argv, *argv + *argc);
  for (std::string& a : added) args.push_back(a.data());
  args.push_back(nullptr);
  *argc = static_cast<int>(args.size() - 1);
  *argv = args.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Database db;
  const DwgReadResult read = readDwg(input, db);
  if (!read.status.ok()) {
    if (read.status.detail.empty()) std::abort();
    return 0;
  }
  StringSink sink;
  if (!writeDwg(db, sink, {db.release, nullptr}).ok()) return 0;
  Database back;
  if (!readDwg(sink.data, back).status.ok()) std::abort();
  return 0;
}

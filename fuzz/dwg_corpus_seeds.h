// The start-up of the DWG fuzz targets: unless an input file is named (a
// crash being replayed), drawings of the shared corpus beside the project
// are added to the corpus directories (by default those of R14 and 2000);
// they are read there, never copied.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

inline int addDwgCorpusSeeds(int* argc, char*** argv,
                             std::initializer_list<const char*> dirs = {"r14", "2000"},
                             std::initializer_list<const char*> files = {"example_r14.dwg", "example_2000.dwg"}) {
  namespace fs = std::filesystem;
  const std::vector<std::string_view> given(*argv + 1, *argv + *argc);
  for (std::string_view a : given)
    if (!a.starts_with("-") && fs::is_regular_file(fs::path(a))) return 0;
  static std::vector<std::string> added;
  const fs::path root = fs::path(TROVAK_CORPUS_DIR) / "dwg";
  for (const char* dir : dirs)
    if (fs::is_directory(root / dir)) added.push_back((root / dir).string());
  std::string seeds;
  for (const char* file : files)
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

}  // namespace fuzz

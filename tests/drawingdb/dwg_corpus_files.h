// The R14 and 2000 DWG drawings of the shared corpus, for the tests of the
// DWG layers that walk real files.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

// The drawings under `root` (the corpus's dwg folder), in name order; none
// when the corpus is not there.
inline std::vector<std::filesystem::path> dwgCorpusDrawings(const std::filesystem::path& root) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const char* dir : {"r14", "2000"})
    for (const auto& entry : std::filesystem::directory_iterator(root / dir, ec))
      if (entry.path().extension() == ".dwg") files.push_back(entry.path());
  for (const char* name : {"example_r14.dwg", "example_2000.dwg"})
    if (std::filesystem::exists(root / name)) files.push_back(root / name);
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string fileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The R14 and 2000 DWG drawings of the shared corpus, for the tests of the
// DWG layers that walk real files, and the output of the peer readers.
#pragma once

#include <algorithm>
#include <cstdio>
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

// What a shell command writes to its standard output (empty when it cannot
// be started).
inline std::string commandOutput(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

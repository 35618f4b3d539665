// The common ground of the writer tests of this folder: a scratch folder
// per test that holds the section files of the IGES and the DXF writer,
// and the readers of what they wrote.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/config.h"

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The text a section file holds so far (its stream flushed first).
inline std::string sectionFileText(std::FILE* file, const std::string& path) {
  std::fflush(file);
  return readAll(path);
}

class SectionFilesTest : public ::testing::Test {
 protected:
  // An empty scratch folder named after `stem` and the process, with the
  // five section files of the IGES writer named into it.
  void makeScratch(const std::string& stem) {
    dir_ = fs::temp_directory_path() / (stem + "_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    RunPaths& p = runPaths();
    const std::string d = dir_.string() + "/";
    p.igesStartFile = d + "strt1_1.tmp";
    p.igesGlobalFile = d + "glob1_1.tmp";
    p.igesDirectoryFile = d + "dirc1_1.tmp";
    p.igesParameterFile = d + "parm1_1.tmp";
    p.igesTerminateFile = d + "term1_1.tmp";
  }
  void removeScratch() { fs::remove_all(dir_); }

  // Files left in the scratch folder (folders in it do not count).
  int filesLeft() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir_))
      if (!e.is_directory()) ++n;
    return n;
  }

  fs::path dir_;
};

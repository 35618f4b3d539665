// The release table: every release once and in order, version texts that
// find their release, and the boundary of the toolkit folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "drawingdb/releases.h"

using namespace drawingdb;

namespace {

TEST(Releases, VersionTextsFindTheirRelease) {
  struct Case {
    std::string text;
    Release release;
  };
  const Case cases[] = {
      {"AC1002", Release::R2_5},  {"AC1003", Release::R2_6},   {"AC1004", Release::R9},
      {"AC1006", Release::R10},   {"AC1009", Release::R12},    {"AC1011", Release::R13},
      {"AC1012", Release::R13},   {"AC1014", Release::R14},    {"AC1015", Release::R2000},
      {"AC1018", Release::R2004}, {"AC1021", Release::R2007},  {"AC1024", Release::R2010},
      {"AC1027", Release::R2013}, {"AC1032", Release::R2018},  {"AC2.10", Release::R2_10},
      {"MC0.0", Release::R1_0},   {" AC1015 \r", Release::R2000}, {std::string("AC1018\0\0", 8), Release::R2004},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.c_str());
    const auto r = releaseFromVersion(c.text);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, c.release);
  }
  for (const char* bad : {"", "AC1010", "AC10150", "ac1015", "AC"}) EXPECT_FALSE(releaseFromVersion(bad).has_value()) << bad;
}

// Every row of the table is at its own index and its version text finds it
// again; what can be written can be read back.
TEST(Releases, TableIsOrderedAndReadsWhatItWrites) {
  const auto all = releases();
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(all[i].release), i);
    EXPECT_EQ(releaseFromVersion(all[i].version), all[i].release) << all[i].version;
    if (all[i].can & kWriteDxf) {
      EXPECT_TRUE(all[i].can & kReadDxf) << all[i].version;
    }
  }
}

// The toolkit knows DXF and DWG and nothing else of the program: none of its
// files includes a header of another folder, and its build links nothing.
TEST(ToolkitBoundary, IncludesOnlyItsOwnFolder) {
  const std::filesystem::path root = TROVAK_SOURCE_DIR;
  const std::regex include(R"re(^\s*#\s*include\s*"([^"/]+)/)re");
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "drawingdb")) {
    const auto ext = entry.path().extension();
    if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
      std::smatch m;
      if (std::regex_search(line, m, include)) {
        EXPECT_EQ(m[1].str(), "drawingdb") << entry.path() << ":" << n;
      }
    }
  }
  EXPECT_GT(files, 0);
  std::ifstream cmake(root / "drawingdb" / "CMakeLists.txt");
  const std::string text((std::istreambuf_iterator<char>(cmake)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("trovak_module(drawingdb)"), std::string::npos);
}

}  // namespace

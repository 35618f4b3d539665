// The release table: every release once and in order, version texts that
// find their release, and the boundary of the toolkit folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

TEST(Releases, TableIsOrderedAndComplete) {
  const auto all = releases();
  ASSERT_EQ(all.front().release, kOldestRelease);
  ASSERT_EQ(all.back().release, kNewestRelease);
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(all[i].release), i);
    EXPECT_EQ(&releaseInfo(all[i].release), &all[i]);
    // Every version string reads back as its own release.
    EXPECT_EQ(releaseFromVersion(all[i].version), all[i].release) << all[i].version;
  }
  // Everything that can be written can also be read back.
  for (const ReleaseInfo& r : all)
    if (r.can & kWriteDxf) {
      EXPECT_TRUE(r.can & kReadDxf) << r.version;
    }
  // The releases the program writes as DXF.
  for (const char* v : {"AC1002", "AC1003", "AC1004", "AC1006", "AC1009", "AC1012", "AC1014", "AC1015", "AC1018"})
    EXPECT_TRUE(can(*releaseFromVersion(v), kWriteDxf)) << v;
}

TEST(Releases, SpansCompareByRelease) {
  EXPECT_TRUE(since(Release::R13).has(Release::R2018));
  EXPECT_FALSE(since(Release::R13).has(Release::R12));
  EXPECT_TRUE(until(Release::R12).has(Release::R2_5));
  EXPECT_FALSE(until(Release::R12).has(Release::R13));
  EXPECT_TRUE(between(Release::R13, Release::R14).has(Release::R14));
  EXPECT_FALSE(between(Release::R13, Release::R14).has(Release::R2000));
  EXPECT_FALSE(kNoRelease.has(kOldestRelease));
  EXPECT_TRUE(kAllReleases.has(kOldestRelease));
}

// The toolkit knows DXF and DWG and nothing else of the program: none of its
// files includes a header of another folder of the project.
TEST(ToolkitBoundary, IncludesOnlyItsOwnFolder) {
  const std::filesystem::path root = TROVAK_SOURCE_DIR;
  std::set<std::string> folders;
  for (const auto& entry : std::filesystem::directory_iterator(root))
    if (entry.is_directory() && entry.path().filename() != "drawingdb" && entry.path().filename().string()[0] != '.')
      folders.insert(entry.path().filename().string());
  ASSERT_TRUE(folders.count("dwg"));
  const std::regex include(R"re(^\s*#\s*include\s*"([^"/]+)/)re");
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root / "drawingdb")) {
    if (!entry.is_regular_file()) continue;
    const auto ext = entry.path().extension();
    if (ext != ".h" && ext != ".cpp") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
      ++n;
      std::smatch m;
      if (std::regex_search(line, m, include)) {
        EXPECT_EQ(m[1].str(), "drawingdb") << entry.path() << ":" << n << " includes " << line;
        EXPECT_FALSE(folders.count(m[1].str())) << entry.path() << ":" << n;
      }
    }
  }
  EXPECT_GT(files, 0);
  // The build links the toolkit to nothing of the project.
  std::ifstream cmake(root / "drawingdb" / "CMakeLists.txt");
  std::string text((std::istreambuf_iterator<char>(cmake)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("trovak_module(drawingdb)"), std::string::npos);
}

}  // namespace

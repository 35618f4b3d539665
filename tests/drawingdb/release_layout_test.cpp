// The files written for a release are laid out as the corpus files of that
// release: the same sections and tables in the same order, and the same
// header variables.  Skipped without the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_tags.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

struct Layout {
  std::vector<std::string> sections, tables;
  std::set<std::string> variables;
};

Layout layoutOf(const std::string& bytes) {
  Layout l;
  TagReader tags(bytes);
  Tag t;
  std::string last;
  // Old files may carry bytes after EOF (an end-of-file character).
  while (tags.next(t) && !(t.code == 0 && t.text == "EOF")) {
    if (t.code == 2 && last == "SECTION") l.sections.emplace_back(t.text);
    if (t.code == 2 && last == "TABLE") l.tables.emplace_back(t.text);
    if (t.code == 9) l.variables.emplace(t.text);
    last = t.code == 0 ? std::string(t.text) : std::string();
  }
  EXPECT_TRUE(tags.status().ok()) << tags.status().detail;
  return l;
}

TEST(ReleaseLayout, AsTheCorpusFilesOfTheRelease) {
  const char* env = std::getenv("TROVAK_CORPUS_DIR");
  const std::filesystem::path corpus = env != nullptr ? env : TROVAK_CORPUS_DIR;
  struct Case {
    Release release;
    const char* file;
  };
  const Case cases[] = {
      {Release::R2_6, "dwg/r2.6/entities.dxf"},  {Release::R9, "dwg/r9/entities.dxf"},
      {Release::R12, "dxf/example_r12.dxf"},     {Release::R13, "dxf/r13/v.dxf"},
      {Release::R14, "dxf/sample_r14.dxf"},      {Release::R2000, "dwg/2000/entities-2d.dxf"},
  };
  int compared = 0;
  for (const Case& c : cases) {
    const std::filesystem::path path = corpus / c.file;
    if (!std::filesystem::exists(path)) continue;
    SCOPED_TRACE(c.file);
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const Layout theirs = layoutOf(bytes.str());
    Database db = sample::drawing(c.release);
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {c.release, false, 16}).ok());
    const Layout ours = layoutOf(sink.data);
    EXPECT_EQ(ours.sections, theirs.sections);
    EXPECT_EQ(ours.tables, theirs.tables);
    for (const std::string& v : ours.variables) EXPECT_TRUE(theirs.variables.count(v)) << "we write " << v;
    for (const std::string& v : theirs.variables) EXPECT_TRUE(ours.variables.count(v)) << "we lack " << v;
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "the corpus is not there";
}

}  // namespace

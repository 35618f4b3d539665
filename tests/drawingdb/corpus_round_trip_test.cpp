// Every DXF file of the corpus (ASCII and binary) is read, written again in
// its own release and as 2000, and read by ezdxf: no audit errors, and the
// same entities as ezdxf finds in the original.  Skipped without the
// corpus or ezdxf.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "dwg_corpus_files.h"
#include "drawingdb/audit.h"
#include "drawingdb/dxf_codec.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

// The corpus beside the project, or where TROVAK_CORPUS_DIR points.  Without
// it the list holds one empty name, whose test skips.
std::vector<std::string> corpusFiles() {
  std::vector<std::string> files;
  const char* env = std::getenv("TROVAK_CORPUS_DIR");
  const std::filesystem::path root = env != nullptr ? env : TROVAK_CORPUS_DIR;
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return {""};
  for (const auto& e : std::filesystem::recursive_directory_iterator(root, ec)) {
    const auto ext = e.path().extension();
    if (e.is_regular_file() && (ext == ".dxf" || ext == ".dxfb")) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) files.push_back("");
  return files;
}

const std::set<std::string> kModelled = {"LINE",   "POINT",  "CIRCLE",   "ARC",        "TEXT",    "SOLID",
                                         "TRACE",  "3DFACE", "INSERT",   "POLYLINE",   "LWPOLYLINE", "ELLIPSE",
                                         "ATTDEF", "SPLINE", "MTEXT",    "LEADER",     "DIMENSION", "HATCH"};

std::string kindOf(const sample::PeerEntity& e) { return e.kind.substr(0, e.kind.find(':')); }

// Ours must list the original's entities in order; `extraLines` LINEs
// may stand between them (3DLINE entities, which ezdxf skips and the
// toolkit reads as lines).  With `onlyModelled`, kinds the toolkit does not
// model are left out of the comparison.
void expectSameEntities(const sample::PeerResult& original, const sample::PeerResult& ours, int extraLines,
                        bool onlyModelled) {
  auto keep = [&](const sample::PeerEntity& e) { return !onlyModelled || kModelled.count(kindOf(e)); };
  std::vector<const sample::PeerEntity*> a, b;
  for (const auto& e : original.entities)
    if (keep(e)) a.push_back(&e);
  for (const auto& e : ours.entities)
    if (keep(e)) b.push_back(&e);
  std::size_t j = 0;
  for (std::size_t i = 0; i < a.size(); ++i, ++j) {
    while (j < b.size() && extraLines > 0 && kindOf(*b[j]) == "LINE" && kindOf(*a[i]) != "LINE") {
      --extraLines;
      ++j;
    }
    ASSERT_LT(j, b.size()) << "missing " << a[i]->kind;
    SCOPED_TRACE("entity " + std::to_string(i) + " " + a[i]->kind);
    // Blocks lose the kinds that cannot be carried over: their size is
    // compared only where everything is.
    if (onlyModelled) {
      EXPECT_EQ(kindOf(*a[i]), kindOf(*b[j]));
    } else {
      EXPECT_EQ(a[i]->kind, b[j]->kind);
    }
    EXPECT_EQ(a[i]->layer, b[j]->layer);
    EXPECT_EQ(a[i]->colour, b[j]->colour);
    EXPECT_TRUE(sameName(a[i]->linetype, b[j]->linetype)) << a[i]->linetype << " " << b[j]->linetype;
    ASSERT_EQ(a[i]->numbers.size(), b[j]->numbers.size());
    for (std::size_t k = 0; k < a[i]->numbers.size(); ++k)
      EXPECT_NEAR(a[i]->numbers[k], b[j]->numbers[k], 1e-9 * std::max(1.0, std::fabs(a[i]->numbers[k]))) << k;
  }
  EXPECT_LE(b.size(), j + static_cast<std::size_t>(std::max(extraLines, 0)));
}

class CorpusRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusRoundTrip, ReadWrittenAndSeenAlike) {
  const std::string path = GetParam();
  if (path.empty()) GTEST_SKIP() << "the corpus is not there";
  const std::string bytes = fileContents(path);
  Database db;
  const DxfReadResult read = readDxf(bytes, db);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  for (const Finding& f : read.findings) ADD_FAILURE() << f.code << ": " << f.detail;
  // The files are sound: the audit misses at most a table record that
  // older files may leave out, or an object that was told of changes to
  // an entity and is gone (the files keep such reactors).
  for (const Finding& f : audit(db, {false}))
    if (f.code != "missing-record" && f.code != "dangling-reactor") ADD_FAILURE() << "audit: " << f.code << ": " << f.detail;
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const bool binary = bytes.rfind("AutoCAD Binary DXF", 0) == 0;
  int lines3d = 0;
  for (EntityId id : db.modelSpace().entities) lines3d += db.entities[id].dxfName() == "3DLINE" ? 1 : 0;
  const sample::PeerResult original = sample::readWithPeer(path);
  ASSERT_TRUE(original.ran) << original.auditText;

  struct Target {
    Release release;
    bool binary;
  };
  std::vector<Target> targets;
  if (can(db.release, kWriteDxf)) targets.push_back({db.release, binary && db.release >= Release::R10});
  targets.push_back({Release::R2000, false});
  for (const Target& t : targets) {
    SCOPED_TRACE(std::string(releaseInfo(t.release).version) + (t.binary ? " binary" : " ASCII"));
    Database copy;
    ASSERT_TRUE(readDxf(bytes, copy).status.ok());
    StringSink sink;
    ASSERT_TRUE(writeDxf(copy, sink, {t.release, t.binary, 16}).ok());
    const std::string out = "/tmp/drawingdb_corpus_" + std::to_string(getpid()) + ".dxf";
    std::ofstream(out, std::ios::binary) << sink.data;
    const sample::PeerResult ours = sample::readWithPeer(out);
    ASSERT_TRUE(ours.ran) << ours.auditText;
    EXPECT_EQ(ours.errors, 0) << ours.auditText;
    // Across the R13 boundary only the modelled kinds can be carried over.
    const bool sameFamily = (db.release >= Release::R13) == (t.release >= Release::R13);
    expectSameEntities(original, ours, lines3d, !sameFamily);
    if (!HasFailure()) std::remove(out.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRoundTrip, ::testing::ValuesIn(corpusFiles()), [](const auto& info) {
  if (info.param.empty()) return std::string("NoCorpus");
  std::string name = std::filesystem::path(info.param).parent_path().filename().string() + "_" +
                     std::filesystem::path(info.param).filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace

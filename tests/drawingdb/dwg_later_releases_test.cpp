// DWG files of 2007, 2010, 2013 and 2018 from the shared corpus: read whole, with
// the names of their records (string streams), their header variables and
// the entity each draws; and object data whose string stream is damaged
// read to an answer, never past the object.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "drawingdb/dwg_file.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/dwg_sections.h"
#include "dwg_corpus_files.h"
#include "dwg_test_context.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

const fs::path kRoot = fs::path(TROVAK_CORPUS_DIR) / "dwg";

TEST(DwgLaterReleases, CorpusDrawingsReadWhole) {
  struct Case {
    const char* file;
    EntityKind kind;
  };
  const Case cases[] = {
      {"2007/Arc.dwg", EntityKind::Arc},   {"2007/Line.dwg", EntityKind::Line},
      {"2010/Arc.dwg", EntityKind::Arc},   {"2010/Line.dwg", EntityKind::Line}, {"2010/Text.dwg", EntityKind::MText},
      {"2013/Line.dwg", EntityKind::Line}, {"2013/Text.dwg", EntityKind::MText}, {"2018/Arc.dwg", EntityKind::Arc},
      {"2018/Line.dwg", EntityKind::Line}, {"2018/Text.dwg", EntityKind::MText},
  };
  int read = 0;
  for (const Case& c : cases) {
    const fs::path path = kRoot / c.file;
    if (!fs::exists(path)) continue;
    ++read;
    SCOPED_TRACE(c.file);
    const std::string file = fileContents(path);
    Database db;
    const DwgReadResult result = readDwg(file, db);
    ASSERT_TRUE(result.status.ok()) << result.status.detail;
    // Record names come from the string streams.
    EXPECT_NE(db.layers.find("0"), nullptr);
    EXPECT_NE(db.styles.find("Standard"), nullptr);
    EXPECT_NE(db.linetypes.find("Continuous"), nullptr);
    EXPECT_NE(db.findBlock("*Model_Space"), nullptr);
    // Texts of the header variables too, after all other variables.
    EXPECT_EQ(db.header.text("$MENU"), ".");
    EXPECT_EQ(db.header.text("$FINGERPRINTGUID").size(), 38u);
    EXPECT_GT(db.header.handle("$HANDSEED"), 0x100u);

    const BlockRecord& model = db.modelSpace();
    ASSERT_EQ(model.entities.size(), 1u);
    const Entity& e = db.entities[model.entities.front()];
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_EQ(e.common.layer, "0");
    if (const MText* m = e.data.getIf<MText>()) {
      EXPECT_EQ(m->value.rfind("This a multiline text to check if ", 0), 0u) << m->value;
      EXPECT_EQ(m->value.find('\0'), std::string::npos);
      EXPECT_DOUBLE_EQ(m->height, 0.2);
      EXPECT_EQ(m->style, "Standard");
    }
  }
  if (read == 0) GTEST_SKIP() << "no corpus";
}

// Object lookups for reading single objects.
using Names = TestReadContext;

// Every bit of the end of a text's data (its string stream, the stream's
// size and flag) flipped: the object reads or fails with a message, its
// text never longer than the object.
TEST(DwgLaterReleases, DamagedStringStreamsReadToAnAnswer) {
  const fs::path path = kRoot / "2018/Text.dwg";
  if (!fs::exists(path)) GTEST_SKIP() << "no corpus";
  const std::string file = fileContents(path);
  DwgPagedIndex index;
  ASSERT_TRUE(indexDwgPagedFile(file, index).ok());
  const Release r = index.layout.header.release;
  DwgClassesRead classes = readDwgClasses(index.classes, r, CodePage::utf8());
  ASSERT_TRUE(classes.status.ok()) << classes.status.detail;
  Names names(r, classes.classes);
  int texts = 0;
  for (const DwgObjectLocation& o : index.objectMap) {
    const DwgPagedObjectFrame frame = readDwgPagedObjectFrame(index.objects, o.address, r);
    ASSERT_TRUE(frame.status.ok()) << frame.status.detail;
    DwgObjectIn in;
    ASSERT_TRUE(readDwgObjectHead(frame.data, names, in, frame.handleBits).ok());
    if (in.head.type != dwg_type::kMText) continue;
    ++texts;
    const std::size_t handleStart = in.bitsize;
    for (std::size_t bit = handleStart > 64 ? handleStart - 64 : 0; bit < handleStart; ++bit) {
      std::string damaged(frame.data);
      damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (0x80 >> (bit % 8)));
      DwgObjectIn d;
      const Status head = readDwgObjectHead(damaged, names, d, frame.handleBits);
      if (!head.ok()) {
        EXPECT_FALSE(head.detail.empty()) << bit;
        continue;
      }
      Entity e;
      const Status s = readDwgEntity(d, names, e);
      if (!s.ok()) {
        EXPECT_FALSE(s.detail.empty()) << bit;
      } else if (const MText* m = e.data.getIf<MText>()) {
        EXPECT_LE(m->value.size(), damaged.size() * 2) << bit;
      }
    }
  }
  EXPECT_EQ(texts, 1);
}

}  // namespace

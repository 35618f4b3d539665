// Lookups of table records and blocks by name go through a hashed index
// that follows the lists as they change: names compare without regard to
// case, the first of equal names wins, and appends, removals and renames
// (announced by namesChanged) are seen.  Reading matches each BLOCK to
// its record by handle, else by name, as many records as the file has.
#include <gtest/gtest.h>

#include <string>

#include "drawingdb/dxf_codec.h"

using namespace drawingdb;

namespace {

std::string numbered(const char* prefix, int i) {
  std::string name = prefix;
  name += std::to_string(i);
  return name;
}

TEST(NameLookup, FollowsTheListsAsTheyChange) {
  Database db = Database::create(Release::R2000);
  db.addRecord(db.layers, "Walls");
  ASSERT_NE(db.layers.find("WALLS"), nullptr);  // index built here
  // Appended after the index was built, once directly: found all the same.
  db.addRecord(db.layers, "doors");
  db.layers.records.emplace_back().common.name = "Windows";
  db.addRecord(db.layers, "walls");  // a second of the same name: the first wins
  struct Case {
    const char* asked;
    const char* found;  // nullptr: none
  };
  const Case cases[] = {{"walls", "Walls"}, {"DOORS", "doors"}, {"windows", "Windows"}, {"roof", nullptr}, {"", nullptr}};
  for (const Case& c : cases) {
    const Record<Layer>* r = db.layers.find(c.asked);
    if (c.found == nullptr) {
      EXPECT_EQ(r, nullptr) << c.asked;
    } else {
      ASSERT_NE(r, nullptr) << c.asked;
      EXPECT_EQ(r->common.name, c.found) << c.asked;
    }
  }
  // Removed: an entry pointing past the end or at another name is rebuilt.
  db.layers.records.erase(db.layers.records.end() - 3, db.layers.records.end());
  EXPECT_EQ(db.layers.find("Windows"), nullptr);
  EXPECT_EQ(db.layers.find("doors"), nullptr);
  EXPECT_EQ(db.layers.find("walls")->common.name, "Walls");
  // Renamed in place and announced.
  db.layers.records.back().common.name = "Roof";
  db.namesChanged();
  ASSERT_NE(db.layers.find("roof"), nullptr);
  // Blocks alike.
  db.addBlock("Door");
  ASSERT_NE(db.findBlock("DOOR"), nullptr);
  db.findBlock("door")->name = "Gate";
  db.namesChanged();
  EXPECT_EQ(db.findBlock("door"), nullptr);
  ASSERT_NE(db.findBlock("GATE"), nullptr);
  EXPECT_NE(db.findBlock("*model_space"), nullptr);
}

// Files with 3000 blocks (with handles and, in R12, without): every
// BLOCK finds its own record, and no record is made twice.
TEST(NameLookup, ReadingMatchesEveryBlockToItsRecord) {
  Database db = Database::create(Release::R2000);
  for (int i = 0; i < 3000; ++i) {
    BlockRecord& b = db.addBlock(numbered("B", i));
    b.base = {static_cast<double>(i), 0, 0};
  }
  for (const Release r : {Release::R2000, Release::R12}) {
    StringSink out;
    ASSERT_TRUE(writeDxf(db, out, {r, false, 16}).ok());
    Database back;
    ASSERT_TRUE(readDxf(out.data, back).status.ok());
    for (int i = 0; i < 3000; ++i) {
      const BlockRecord* b = back.findBlock(numbered("b", i));
      ASSERT_NE(b, nullptr) << i;
      EXPECT_EQ(b->base.x, i);
    }
    EXPECT_EQ(back.blocks.size(), db.blocks.size()) << releaseInfo(r).version;
  }
}

}  // namespace

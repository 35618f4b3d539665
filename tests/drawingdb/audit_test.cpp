// The audit: each kind of damage is found, repaired when asked, and a
// second audit finds nothing; without repairs the database stays as it
// was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>

#include "drawingdb/audit.h"
#include "drawingdb/dxf_codec.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

Entity& firstOf(Database& db, EntityKind kind) {
  for (EntityId id : db.modelSpace().entities)
    if (db.entities[id].kind == kind) return db.entities[id];
  throw std::runtime_error("no such entity");
}

std::size_t modelSize(Database& db) { return db.modelSpace().entities.size(); }

TEST(Audit, NewDatabasesOfEveryReleaseAreClean) {
  for (const ReleaseInfo& r : releases()) {
    if (!(r.can & kWriteDxf)) continue;
    Database db = Database::create(r.release);
    EXPECT_TRUE(audit(db).empty()) << r.version;
    Database sample = sample::drawing(r.release);
    for (const Finding& f : audit(sample)) ADD_FAILURE() << r.version << " " << f.code << " " << f.detail;
  }
}

TEST(Audit, DamageIsFoundAndRepaired) {
  struct Case {
    const char* code;
    std::function<void(Database&)> damage;
    std::function<void(Database&, std::size_t modelBefore)> repaired;
  };
  const Case cases[] = {
      {"missing-record", [](Database& db) { std::erase_if(db.layers.records, [](auto& r) { return r.common.name == "0"; }); },
       [](Database& db, std::size_t) { EXPECT_NE(db.layers.find("0"), nullptr); }},
      {"duplicate-handle",
       [](Database& db) { firstOf(db, EntityKind::Circle).common.handle = firstOf(db, EntityKind::Line).common.handle; },
       [](Database& db, std::size_t) {
         EXPECT_NE(firstOf(db, EntityKind::Circle).common.handle, firstOf(db, EntityKind::Line).common.handle);
       }},
      {"undefined-layer", [](Database& db) { firstOf(db, EntityKind::Arc).common.layer = "NEW"; },
       [](Database& db, std::size_t) { EXPECT_NE(db.layers.find("NEW"), nullptr); }},
      {"undefined-linetype", [](Database& db) { firstOf(db, EntityKind::Arc).common.linetype = "NOPE"; },
       [](Database& db, std::size_t) { EXPECT_EQ(firstOf(db, EntityKind::Arc).common.linetype, "BYLAYER"); }},
      {"bad-colour", [](Database& db) { firstOf(db, EntityKind::Point).common.colour = 300; },
       [](Database& db, std::size_t) { EXPECT_EQ(firstOf(db, EntityKind::Point).common.colour, 256); }},
      {"bad-number", [](Database& db) { get<Line>(firstOf(db, EntityKind::Line).data).end.y = NAN; },
       [](Database& db, std::size_t) { EXPECT_EQ(get<Line>(firstOf(db, EntityKind::Line).data).end, Point3{}); }},
      {"bad-value", [](Database& db) { get<Circle>(firstOf(db, EntityKind::Circle).data).radius = 0; },
       [](Database& db, std::size_t before) { EXPECT_EQ(modelSize(db), before - 1); }},
      {"bad-value", [](Database& db) { get<Ellipse>(firstOf(db, EntityKind::Ellipse).data).ratio = 1.5; },
       [](Database& db, std::size_t before) { EXPECT_EQ(modelSize(db), before - 1); }},
      {"undefined-style", [](Database& db) { get<Text>(firstOf(db, EntityKind::Text).data).style = "GONE"; },
       [](Database& db, std::size_t) { EXPECT_EQ(get<Text>(firstOf(db, EntityKind::Text).data).style, "Standard"); }},
      {"undefined-block", [](Database& db) { get<Insert>(firstOf(db, EntityKind::Insert).data).block = "NONE"; },
       [](Database& db, std::size_t before) { EXPECT_EQ(modelSize(db), before - 1); }},
      {"block-cycle",
       [](Database& db) {
         Entity e = makeEntity(EntityKind::Insert);
         get<Insert>(e.data).block = "B1";
         db.addEntity(*db.findBlock("B1"), std::move(e));
       },
       [](Database& db, std::size_t) { EXPECT_EQ(db.findBlock("B1")->entities.size(), 3u); }},
      {"wrong-owner", [](Database& db) { firstOf(db, EntityKind::Line).common.owner = 0x7777; },
       [](Database& db, std::size_t) { EXPECT_EQ(firstOf(db, EntityKind::Line).common.owner, db.modelSpace().handle); }},
      {"dangling-entry", [](Database& db) { db.dictionary(db.rootDictionary)->entries.push_back({"LOST", 0xFFFFFF}); },
       [](Database& db, std::size_t) {
         for (const auto& e : db.dictionary(db.rootDictionary)->entries) EXPECT_NE(e.name, "LOST");
       }},
      {"empty-polyline", [](Database& db) { get<Polyline>(firstOf(db, EntityKind::Polyline).data).vertices.clear(); },
       [](Database& db, std::size_t before) { EXPECT_EQ(modelSize(db), before - 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Database db = sample::drawing(Release::R2000);
    c.damage(db);
    const std::size_t before = modelSize(db);
    // Without repairs: found, not fixed, nothing changed.
    std::vector<Finding> found = audit(db, {false});
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().code, c.code);
    EXPECT_FALSE(found.front().fixed);
    EXPECT_FALSE(found.front().detail.empty());
    EXPECT_EQ(modelSize(db), before);
    EXPECT_EQ(audit(db, {false}).size(), found.size());
    // With repairs: fixed, and a second audit is clean.
    found = audit(db);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().code, c.code);
    EXPECT_TRUE(found.front().fixed);
    c.repaired(db, before);
    for (const Finding& f : audit(db)) ADD_FAILURE() << "after repair: " << f.code << " " << f.detail;
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {Release::R2000, false, 16}).ok());
    Database back;
    ASSERT_TRUE(readDxf(sink.data, back).status.ok());
    EXPECT_TRUE(audit(back).empty());
  }
}

std::size_t countOf(const std::vector<Finding>& found, std::string_view code) {
  return static_cast<std::size_t>(std::count_if(found.begin(), found.end(), [&](const Finding& f) { return f.code == code; }));
}

// A handle used by several entities is reported for every use after the
// first, whether the handles of the drawing lie close together or spread
// over the whole range; the repair leaves each handle used once.
TEST(Audit, EveryRepeatedUseOfAHandleIsFound) {
  struct Case {
    const char* name;
    Handle handle;  // 0: the line's own
    int uses;       // entities (line, circles, arcs) given the handle
  };
  const Case cases[] = {
      {"two uses of a handle among the others", 0, 2},
      {"three uses of a handle among the others", 0, 3},
      {"two uses of a handle far beyond the others", 0xFFFFFFFFFF00ULL, 2},
      {"three uses of a handle far beyond the others", 0x7FFFFFFFFFFFFFFFULL, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Database db = sample::drawing(Release::R2000);
    std::vector<Entity*> users;
    for (EntityId id : db.modelSpace().entities)
      if (static_cast<int>(users.size()) < c.uses) users.push_back(&db.entities[id]);
    ASSERT_EQ(static_cast<int>(users.size()), c.uses);
    const Handle h = c.handle != 0 ? c.handle : users.front()->common.handle;
    for (Entity* e : users) e->common.handle = h;
    const std::vector<Finding> found = audit(db, {false});
    EXPECT_EQ(countOf(found, "duplicate-handle"), static_cast<std::size_t>(c.uses - 1));
    EXPECT_EQ(countOf(audit(db), "duplicate-handle"), static_cast<std::size_t>(c.uses - 1));
    int keeping = 0;
    for (const Entity* e : users) keeping += e->common.handle == h ? 1 : 0;
    EXPECT_EQ(keeping, 1);
    EXPECT_TRUE(audit(db).empty());
  }
}

// An undefined layer or linetype is reported for every entity that names
// it, also when entities on defined layers and linetypes come between.
TEST(Audit, EveryEntityOnAnUndefinedNameIsFound) {
  Database db = sample::drawing(Release::R2000);
  std::size_t damaged = 0;
  for (EntityId id : db.modelSpace().entities) {
    if (id % 2 == 1) continue;
    db.entities[id].common.layer = "NEW";
    db.entities[id].common.linetype = "NOPE";
    ++damaged;
  }
  ASSERT_GT(damaged, 1u);
  const std::vector<Finding> found = audit(db, {false});
  EXPECT_EQ(countOf(found, "undefined-layer"), damaged);
  EXPECT_EQ(countOf(found, "undefined-linetype"), damaged);
  // Repaired, the layer exists from its first entity on: one report of it.
  const std::vector<Finding> fixed = audit(db);
  EXPECT_EQ(countOf(fixed, "undefined-layer"), 1u);
  EXPECT_EQ(countOf(fixed, "undefined-linetype"), damaged);
  EXPECT_TRUE(audit(db).empty());

  // Entities going round more defined layers than the audit keeps at hand,
  // with entities on an undefined one among them.
  Database many = sample::drawing(Release::R2000);
  // (Names built by appending: GCC 12 misreads a literal plus a temporary
  // in Release builds.)
  const auto layerName = [](int i) { return std::string("L").append(std::to_string(i)); };
  for (int i = 0; i < 12; ++i) many.addRecord(many.layers, layerName(i));
  const Entity line = firstOf(many, EntityKind::Line);
  std::size_t undefined = 0;
  for (int i = 0; i < 120; ++i) {
    Entity e = line;
    e.common.handle = 0;
    e.common.layer = i % 5 == 4 ? std::string("GONE") : layerName(i % 12);
    undefined += i % 5 == 4 ? 1 : 0;
    many.addEntity(many.modelSpace(), std::move(e));
  }
  EXPECT_EQ(countOf(audit(many, {false}), "undefined-layer"), undefined);
  EXPECT_EQ(countOf(audit(many), "undefined-layer"), 1u);
  EXPECT_TRUE(audit(many).empty());
}

// A database with every repairable damage at once, repaired and written,
// passes the audit of the peer reader.
TEST(Audit, RepairedFilesPassThePeerAudit) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  for (Release r : {Release::R12, Release::R2000}) {
    Database db = sample::drawing(r);
    firstOf(db, EntityKind::Arc).common.layer = "NEW";
    firstOf(db, EntityKind::Arc).common.linetype = "NOPE";
    get<Text>(firstOf(db, EntityKind::Text).data).style = "GONE";
    get<Insert>(firstOf(db, EntityKind::Insert).data).block = "NONE";
    get<Circle>(firstOf(db, EntityKind::Circle).data).radius = -1;
    EXPECT_EQ(audit(db).size(), 5u);
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {r, false, 16}).ok());
    const std::string path = "/tmp/drawingdb_audit_" + std::to_string(getpid()) + ".dxf";
    std::ofstream(path, std::ios::binary) << sink.data;
    const sample::PeerResult peer = sample::readWithPeer(path);
    std::remove(path.c_str());
    ASSERT_TRUE(peer.ran) << peer.auditText;
    EXPECT_EQ(peer.errors, 0) << peer.auditText;
  }
}

}  // namespace

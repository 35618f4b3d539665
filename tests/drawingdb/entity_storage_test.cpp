// How entities are held: their data out of line with value semantics,
// shared names kept as written, the handle index, and reading a large
// file by name through a mapping that gives back what it has read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "drawingdb/dxf_codec.h"
#include "drawingdb/file_io.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

std::string written(Database& db, Release r, bool binary = false) {
  StringSink sink;
  EXPECT_TRUE(writeDxf(db, sink, {r, binary, 16}).ok());
  return sink.data;
}

TEST(EntityStorage, DataAndExtrasAreCopiedAsValues) {
  Entity a = makeEntity(EntityKind::Circle);
  get<Circle>(a.data).radius = 2;
  a.common.extras().reactors.push_back(0x42);
  Entity b = a;
  get<Circle>(b.data).radius = 3;
  b.common.extras().reactors.push_back(0x43);
  EXPECT_EQ(get<Circle>(a.data).radius, 2);
  EXPECT_EQ(a.common.reactors(), std::vector<Handle>{0x42});
  EXPECT_EQ(b.common.reactors(), (std::vector<Handle>{0x42, 0x43}));

  // Another kind replaces the data; visit sees the type held.
  b.data = Line{{1, 2, 3}, {4, 5, 6}};
  EXPECT_EQ(get_if<Circle>(&b.data), nullptr);
  EXPECT_TRUE(holds_alternative<Line>(b.data));
  EXPECT_TRUE(visit([](const auto& d) { return std::is_same_v<std::decay_t<decltype(d)>, Line>; }, b.data));
  EXPECT_THROW(get<Arc>(b.data), std::bad_variant_access);

  // A moved-from entity holds no data until given some.
  Entity c = std::move(b);
  EXPECT_EQ(get<Line>(c.data).end, (Point3{4, 5, 6}));
  EXPECT_EQ(b.data.index(), std::variant_npos);
  EXPECT_EQ(get_if<Line>(&b.data), nullptr);
  b.data = Arc{};
  EXPECT_TRUE(holds_alternative<Arc>(b.data));

  // The DXF type is that of the kind unless set otherwise.
  EXPECT_EQ(a.dxfName(), "CIRCLE");
  Entity line3d = makeEntity(EntityKind::Line);
  line3d.setDxfName("3DLINE");
  EXPECT_EQ(line3d.dxfName(), "3DLINE");
  line3d.setDxfName("LINE");
  EXPECT_EQ(line3d.dxfName(), "LINE");
  EXPECT_EQ(makeEntity(EntityKind::Trace).dxfName(), "TRACE");
  EXPECT_EQ(makeEntity(EntityKind::Line).common.extrasIfAny(), nullptr);
}

TEST(EntityStorage, NamesAreSharedAndKeptAsWritten) {
  Database db = Database::create(Release::R2000);
  for (const char* layer : {"Wall", "WALL", "Wall", "wall"}) {
    Entity e = sample::entity(EntityKind::Insert, layer);
    get<Insert>(e.data).block = "Door";
    db.addEntity(db.modelSpace(), std::move(e));
  }
  db.addBlock("Door");
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    Database back;
    ASSERT_TRUE(readDxf(written(db, Release::R2000, binary), back).status.ok());
    const std::vector<EntityId>& ms = back.modelSpace().entities;
    ASSERT_EQ(ms.size(), 4u);
    const EntityCommon* c[4];
    for (int i = 0; i < 4; ++i) c[i] = &back.entities[ms[static_cast<std::size_t>(i)]].common;
    EXPECT_EQ(c[0]->layer, "Wall");
    EXPECT_EQ(c[1]->layer, "WALL");
    EXPECT_EQ(c[3]->layer, "wall");
    EXPECT_TRUE(c[0]->layer.sharesTextWith(c[2]->layer));
    EXPECT_FALSE(c[0]->layer.sharesTextWith(c[1]->layer));
    EXPECT_TRUE(c[0]->linetype.sharesTextWith(c[1]->linetype));
    const Name& door = get<Insert>(back.entities[ms[0]].data).block;
    EXPECT_EQ(door, "Door");
    EXPECT_TRUE(door.sharesTextWith(get<Insert>(back.entities[ms[3]].data).block));
  }
}

TEST(EntityStorage, HandleIndexHoldsAnyHandles) {
  struct Case {
    const char* name;
    Handle first, step;
  };
  // Ascending, descending and strided handles, as adversarial files may
  // hold them; each found, the absent ones not.
  for (const Case c : {Case{"ascending", 1, 1}, Case{"descending", 200000, Handle(-1)}, Case{"strided", 1 << 20, 1 << 20},
                       Case{"high", ~Handle(0) - 100000, 1}}) {
    SCOPED_TRACE(c.name);
    HandleIndex index;
    constexpr std::uint32_t n = 100000;
    for (std::uint32_t i = 0; i < n; ++i) ASSERT_TRUE(index.insert(c.first + i * c.step, {RefKind::Entity, i, 0}));
    EXPECT_EQ(index.size(), n);
    EXPECT_FALSE(index.insert(c.first, {RefKind::Object, 0, 0}));
    EXPECT_FALSE(index.insert(0, {RefKind::Object, 0, 0}));
    for (std::uint32_t i = 0; i < n; ++i) {
      const HandleRef* ref = index.find(c.first + i * c.step);
      ASSERT_NE(ref, nullptr);
      ASSERT_EQ(ref->index, i);
    }
    EXPECT_EQ(index.find(c.first + n * c.step), nullptr);
    EXPECT_EQ(index.find(0), nullptr);
  }
}

// Handles that come out of order, ahead of the handles numbered one after
// another and behind them, are held once and found wherever they were put,
// also when the handles numbered in order catch up with them.
TEST(EntityStorage, HandleIndexHoldsHandlesOutOfOrder) {
  HandleIndex index;
  ASSERT_TRUE(index.insert(100, {RefKind::Entity, 100, 0}));
  ASSERT_TRUE(index.insert(5000, {RefKind::Entity, 5000, 0}));  // far ahead
  ASSERT_TRUE(index.insert(50, {RefKind::Entity, 50, 0}));      // behind the first
  for (Handle h = 101; h <= 6000; ++h) {
    const bool added = index.insert(h, {RefKind::Entity, static_cast<std::uint32_t>(h), 0});
    ASSERT_EQ(added, h != 5000) << h;
  }
  EXPECT_EQ(index.size(), 5902u);
  for (const Handle h : {Handle(50), Handle(100), Handle(4999), Handle(5000), Handle(5001), Handle(6000)}) {
    const HandleRef* ref = index.find(h);
    ASSERT_NE(ref, nullptr) << h;
    EXPECT_EQ(ref->index, h);
  }
  for (const Handle h : {Handle(49), Handle(51), Handle(99), Handle(6001)}) EXPECT_EQ(index.find(h), nullptr) << h;
  EXPECT_FALSE(index.insert(50, {RefKind::Object, 0, 0}));
  index.reset(10);
  EXPECT_EQ(index.size(), 0u);
  EXPECT_EQ(index.find(100), nullptr);
}

TEST(EntityStorage, EveryHandleOfAReadFileIsFound) {
  // Lines and polylines with vertices in model space; the second line
  // repeats the first one's handle.
  const std::string file =
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1009\n  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n"
      "  0\nLINE\n  5\n10\n  8\n0\n 10\n0\n 20\n0\n 11\n1\n 21\n1\n"
      "  0\nLINE\n  5\n10\n  8\n0\n 10\n0\n 20\n0\n 11\n2\n 21\n2\n"
      "  0\nPOLYLINE\n  5\n20\n  8\n0\n 66\n1\n"
      "  0\nVERTEX\n  5\n21\n  8\n0\n 10\n0\n 20\n0\n  0\nVERTEX\n  5\n22\n  8\n0\n 10\n1\n 20\n0\n"
      "  0\nSEQEND\n  5\n23\n  8\n0\n  0\nENDSEC\n  0\nEOF\n";
  Database db;
  const DxfReadResult r = readDxf(file, db);
  ASSERT_TRUE(r.status.ok()) << r.status.detail;
  ASSERT_EQ(db.entities.size(), 3u);
  EXPECT_EQ(db.entities[0].common.handle, 0x10u);
  EXPECT_NE(db.entities[1].common.handle, 0x10u);
  EXPECT_TRUE(std::any_of(r.findings.begin(), r.findings.end(), [](const Finding& f) { return f.code == "duplicate-handle"; }));
  for (EntityId id = 0; id < 3; ++id) {
    const HandleRef* ref = db.find(db.entities[id].common.handle);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->kind, RefKind::Entity);
    EXPECT_EQ(ref->index, id);
  }
  const HandleRef* vertex = db.find(0x22);
  ASSERT_NE(vertex, nullptr);
  EXPECT_EQ(vertex->kind, RefKind::Vertex);
  EXPECT_EQ(vertex->index, 2u);
  EXPECT_EQ(vertex->sub, 1u);
  ASSERT_NE(db.find(0x23), nullptr);
  EXPECT_EQ(db.find(0x23)->kind, RefKind::Seqend);
  // New handles go above every handle of the file.
  EXPECT_GT(db.newHandle(), 0x23u);
}

TEST(EntityStorage, LargeFileReadByNameAsFromMemory) {
  // Several megabytes, so that reading by name hands pages back on the way.
  Database db = Database::create(Release::R2000);
  for (int i = 0; i < 40000; ++i) {
    Entity e = sample::entity(i % 2 ? EntityKind::Line : EntityKind::Text, std::string("L") + std::to_string(i % 7));
    if (auto* l = get_if<Line>(&e.data)) *l = Line{{double(i), 0, 0}, {double(i), 1, 0}};
    else get<Text>(e.data).value = std::to_string(i);
    db.addEntity(db.modelSpace(), std::move(e));
  }
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    const std::string bytes = written(db, Release::R2000, binary);
    ASSERT_GT(bytes.size(), 3u << 20);
    const std::string path = "/tmp/drawingdb_storage_" + std::to_string(getpid()) + ".dxf";
    std::ofstream(path, std::ios::binary) << bytes;
    Database byName, fromMemory;
    const ReadResult r = readFile(path, byName);
    std::remove(path.c_str());
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    ASSERT_TRUE(readBytes(bytes, fromMemory).status.ok());
    EXPECT_EQ(written(byName, Release::R2000, binary), written(fromMemory, Release::R2000, binary));
    const Entity& last = byName.entities[byName.modelSpace().entities.back()];
    EXPECT_EQ(get<Line>(last.data).start.x, 39999);
    EXPECT_EQ(last.common.layer, "L" + std::to_string(39999 % 7));
  }
}

TEST(EntityStorage, UnknownKindsAreWrittenBackAsRead) {
  Database db = Database::create(Release::R2000);
  Entity unknown = sample::entity(EntityKind::Unknown, "Frames");
  unknown.setDxfName("WIPEOUT");
  unknown.readIn = Release::R2000;
  get<UnknownEntity>(unknown.data).tags = {RawTag{100, TagType::String, 0, 0, "AcDbWipeout"},
                                           RawTag{10, TagType::Real, 1.5, 0, ""},
                                           RawTag{90, TagType::Int32, 0, 7, ""},
                                           RawTag{340, TagType::Handle, 0, 0, "0"}};
  unknown.common.extras().xdata = {RawTag{1001, TagType::String, 0, 0, "APP"},
                                   RawTag{1000, TagType::String, 0, 0, "kept"}};
  db.addEntity(db.modelSpace(), std::move(unknown));
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    const std::string first = written(db, Release::R2000, binary);
    Database back;
    ASSERT_TRUE(readDxf(first, back).status.ok());
    EXPECT_EQ(back.entities[back.modelSpace().entities[0]].dxfName(), "WIPEOUT");
    EXPECT_EQ(written(back, Release::R2000, binary), first);
  }
}

}  // namespace

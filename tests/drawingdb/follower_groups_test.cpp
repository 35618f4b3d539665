// What the entities that follow others (VERTEX, SEQEND, ENDBLK), the BLOCK
// entities and the heads of the symbol tables hold of their own survives
// writing and reading (DXF in every release that has it, DWG where its
// objects carry it): layer, colour, linetype, reactors,
// extension dictionary, other applications' 102 groups, XDATA, and the
// DIMSTYLE table's list of its records; in DWG files those the common
// entity data holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "drawingdb/dwg_file.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_tags.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

RawTag text(int code, std::string value) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  t.text = std::move(value);
  return t;
}
RawTag number(int code, std::int64_t value) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  t.integer = value;
  return t;
}

std::string shown(const std::vector<RawTag>& tags) {
  std::string s;
  for (const RawTag& t : tags) {
    s += ' ';
    s += std::to_string(t.code);
    s += '=';
    s += t.type == TagType::String ? t.text : std::to_string(t.integer);
  }
  return s;
}
std::string shown(const std::vector<Handle>& handles) {
  std::string s;
  for (const Handle h : handles) {
    s += ' ';
    s += formatHandle(h);
  }
  return s;
}

// A follower's own groups as text, those that release `r` has.
std::string describe(const FollowerGroups& own, Release r) {
  const EntityCommon* c = own.get();
  if (c == nullptr) return "(plain)";
  std::string s = "layer=" + c->layer + " colour=" + std::to_string(c->colour) + " linetype=" + c->linetype +
                  " xdata:" + shown(c->xdata());
  if (r >= Release::R13)
    s += " reactors:" + shown(c->reactors()) + " xdict=" + formatHandle(c->xdictionary) + " apps:" + shown(c->applications()) +
         " extra:" + shown(c->extra());
  if (r >= Release::R2000) s += " lineweight=" + std::to_string(c->lineweight);
  return s;
}
std::string describe(const TableHead& head) {
  return "reactors:" + shown(head.reactors) + " xdict=" + formatHandle(head.xdictionary) + " apps:" + shown(head.applications) +
         " xdata:" + shown(head.xdata) + " records:" + shown(head.records);
}

const Polyline& firstPolyline(const Database& db) {
  for (const Entity& e : db.entities)
    if (const auto* p = get_if<Polyline>(&e.data)) return *p;
  throw std::runtime_error("no polyline");
}
const Insert& firstInsertWithAttributes(const Database& db) {
  for (const Entity& e : db.entities)
    if (const auto* i = get_if<Insert>(&e.data); i != nullptr && !i->attributes.empty()) return *i;
  throw std::runtime_error("no insert with attributes");
}

EntityCommon groups(std::string layer, int colour, std::string linetype, std::string application) {
  EntityCommon c;
  c.layer = layer;
  c.colour = colour;
  c.linetype = linetype;
  c.extras().xdata = {text(1001, "MYAPP"), text(1000, application + " xdata"), number(1070, colour)};
  return c;
}

// A drawing whose followers and table heads carry groups of their own.
Database drawing() {
  Database db = Database::create(Release::R2000);
  for (const char* name : {"WALLS", "OTHER"}) db.addRecord(db.layers, name);
  db.addRecord(db.appids, "MYAPP");
  const Handle reactor = db.addObject("DICTIONARY", db.rootDictionary, Dictionary{}).handle;
  db.dictionary(db.rootDictionary)->entries.push_back({"FOLLOWERS", reactor});
  const Handle extension = db.addObject("DICTIONARY", db.rootDictionary, Dictionary{}).handle;
  db.dictionary(db.rootDictionary)->entries.push_back({"EXTENSION", extension});

  Entity polyline = sample::entity(EntityKind::Polyline, "WALLS");
  Polyline& p = get<Polyline>(polyline.data);
  for (int k = 0; k < 3; ++k) {
    Vertex v;
    v.location = {double(k), double(k % 2), 0};
    p.vertices.push_back(v);
  }
  EntityCommon vertex = groups("OTHER", 3, "Continuous", "vertex");
  vertex.lineweight = 25;
  vertex.extras().reactors = {reactor};
  vertex.xdictionary = extension;
  vertex.extras().applications = {text(102, "{MYAPP"), text(1, "on a vertex"), text(102, "}")};
  p.vertices[1].own.keep(std::move(vertex), "WALLS");
  p.vertices[2].own.keep(groups("WALLS", 256, "BYLAYER", "plain"), "WALLS");  // XDATA alone
  p.seqendGroups.keep(groups("OTHER", 5, "BYLAYER", "seqend"), "WALLS");
  db.addEntity(db.modelSpace(), std::move(polyline));

  BlockRecord& block = db.addBlock("B1");
  block.layer = "WALLS";
  block.endGroups.keep(groups("OTHER", 4, "Continuous", "endblk"), "WALLS");
  EntityCommon begin = groups("WALLS", 6, "Continuous", "block");
  begin.lineweight = 35;
  begin.extras().reactors = {reactor};
  begin.xdictionary = extension;
  begin.extras().applications = {text(102, "{MYAPP"), text(1, "on a block"), text(102, "}")};
  block.blockGroups.keep(std::move(begin), "WALLS");
  // XDATA alone, on a block of its own.
  db.addBlock("B2").blockGroups.keep(groups("0", 256, "BYLAYER", "second block"), "0");
  Entity line = sample::entity(EntityKind::Line);
  get<Line>(line.data) = Line{{0, 0, 0}, {1, 0, 0}};
  db.addEntity(block, std::move(line));

  Entity insert = sample::entity(EntityKind::Insert, "WALLS");
  get<Insert>(insert.data).block = "B1";
  const EntityId id = db.addEntity(db.modelSpace(), std::move(insert));
  Entity attribute = sample::entity(EntityKind::Attrib, "WALLS");
  get<Attrib>(attribute.data).tag = "T";
  get<Attrib>(attribute.data).value = "v";
  db.addAttribute(id, std::move(attribute));
  get<Insert>(db.entities[id].data).seqendGroups.keep(groups("OTHER", 2, "BYLAYER", "attributes end"), "WALLS");

  db.layers.head.applications = {text(102, "{MYAPP"), text(1, "on the layer table"), text(102, "}")};
  db.layers.head.reactors = {reactor};
  db.layers.head.xdata = {text(1001, "MYAPP"), text(1000, "layer table xdata")};
  db.blockTableHead.xdictionary = extension;
  for (const Record<DimStyle>& r : db.dimstyles.records) db.dimstyles.head.records.push_back(r.common.handle);
  return db;
}

std::string written(Database& db, Release release, bool binary = false) {
  StringSink sink;
  EXPECT_TRUE(writeDxf(db, sink, {release, binary, 16}).ok());
  return sink.data;
}

TEST(FollowerGroups, SurviveWritingAndReadingInEveryRelease) {
  Database source = drawing();
  using Show = std::function<std::string(const Database&, Release)>;
  const std::pair<const char*, Show> parts[] = {
      {"vertex 0", [](const Database& db, Release m) { return describe(firstPolyline(db).vertices.at(0).own, m); }},
      {"vertex 1", [](const Database& db, Release m) { return describe(firstPolyline(db).vertices.at(1).own, m); }},
      {"vertex 2", [](const Database& db, Release m) { return describe(firstPolyline(db).vertices.at(2).own, m); }},
      {"polyline end", [](const Database& db, Release m) { return describe(firstPolyline(db).seqendGroups, m); }},
      {"attributes end", [](const Database& db, Release m) { return describe(firstInsertWithAttributes(db).seqendGroups, m); }},
      {"block end", [](const Database& db, Release m) { return describe(const_cast<Database&>(db).findBlock("B1")->endGroups, m); }},
      {"block begin", [](const Database& db, Release m) { return describe(const_cast<Database&>(db).findBlock("B1")->blockGroups, m); }},
      {"plain block begin", [](const Database& db, Release m) { return describe(const_cast<Database&>(db).findBlock("B2")->blockGroups, m); }},
      {"layer table", [](const Database& db, Release m) { return m >= Release::R13 ? describe(db.layers.head) : std::string(); }},
      {"block table", [](const Database& db, Release m) { return m >= Release::R13 ? describe(db.blockTableHead) : std::string(); }},
  };
  for (const Release release : {Release::R12, Release::R13, Release::R14, Release::R2000, Release::R2004}) {
    for (const bool binary : {false, true}) {
      SCOPED_TRACE(std::string(releaseInfo(release).version) + (binary ? " binary" : " ASCII"));
      const std::string first = written(source, release, binary);
      Database back;
      const DxfReadResult r = readDxf(first, back);
      ASSERT_TRUE(r.status.ok()) << r.status.detail;
      for (const auto& [what, show] : parts) EXPECT_EQ(show(back, release), show(source, release)) << what;
      // The DIMSTYLE table lists its records from 2000 on.
      EXPECT_EQ(shown(back.dimstyles.head.records), release >= Release::R2000 ? shown(source.dimstyles.head.records) : "");
      // Written again, nothing changes (files before R13 give their
      // tables handles only when read).
      if (release >= Release::R13) {
        EXPECT_TRUE(written(back, release, binary) == first);
      }
    }
  }
}

// A follower's own groups as a DWG file holds them (its common entity
// data: no other applications' 102 groups, no lineweight before 2000);
// a DWG file carries the common data of BLOCK and ENDBLK entities too.
std::string describeDwg(const FollowerGroups& own, Release r) {
  const EntityCommon* c = own.get();
  if (c == nullptr) return "(plain)";
  return "layer=" + foldedName(c->layer) + " colour=" + std::to_string(c->colour) + " linetype=" + foldedName(c->linetype) +
         " xdata:" + shown(c->xdata()) + " reactors:" + shown(c->reactors()) + " xdict=" + formatHandle(c->xdictionary) +
         (r >= Release::R2000 ? " lineweight=" + std::to_string(c->lineweight) : std::string());
}

std::string blockInDwg(Database& db, const char* name, Release r) {
  const BlockRecord* b = db.findBlock(name);
  if (b == nullptr) return "(none)";
  return foldedName(b->layer) + " begin " + describeDwg(b->blockGroups, r) + " end " + describeDwg(b->endGroups, r);
}

TEST(FollowerGroups, SurviveDwgFilesOfEveryRelease) {
  Database source = drawing();
  using Show = std::function<std::string(Database&, Release)>;
  const std::pair<const char*, Show> parts[] = {
      {"vertex 1", [](Database& db, Release m) { return describeDwg(firstPolyline(db).vertices.at(1).own, m); }},
      {"vertex 2", [](Database& db, Release m) { return describeDwg(firstPolyline(db).vertices.at(2).own, m); }},
      {"polyline end", [](Database& db, Release m) { return describeDwg(firstPolyline(db).seqendGroups, m); }},
      {"attributes end", [](Database& db, Release m) { return describeDwg(firstInsertWithAttributes(db).seqendGroups, m); }},
      {"block B1", [](Database& db, Release m) { return blockInDwg(db, "B1", m); }},
      {"plain block B2", [](Database& db, Release m) { return blockInDwg(db, "B2", m); }},
      {"model space", [](Database& db, Release) { return std::to_string(db.modelSpace().blockGroups.get() != nullptr); }},
  };
  for (const Release release : {Release::R13, Release::R14, Release::R2000}) {
    SCOPED_TRACE(releaseInfo(release).version);
    StringSink first;
    ASSERT_TRUE(writeDwg(source, first, {release, nullptr}).ok());
    Database back;
    const DwgReadResult r = readDwg(first.data, back);
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    for (const auto& [what, show] : parts) EXPECT_EQ(show(back, release), show(source, release)) << what;
    // Written and read once more, nothing changes.
    StringSink again;
    ASSERT_TRUE(writeDwg(back, again, {release, nullptr}).ok());
    Database third;
    ASSERT_TRUE(readDwg(again.data, third).status.ok());
    for (const auto& [what, show] : parts) EXPECT_EQ(show(third, release), show(source, release)) << what;
  }
}

// The vertex identifier of 2010 files; older releases have no group for it.
TEST(FollowerGroups, VertexIdentifierIsReadAndWrittenWhereTheReleaseHasIt) {
  const std::string file =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1024\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
      "0\nPOLYLINE\n5\n20\n100\nAcDbEntity\n8\nL\n100\nAcDb2dPolyline\n66\n1\n70\n0\n"
      "0\nVERTEX\n5\n21\n100\nAcDbEntity\n8\nL\n100\nAcDbVertex\n100\nAcDb2dVertex\n10\n1\n20\n2\n30\n0\n70\n0\n91\n7\n"
      "0\nSEQEND\n5\n22\n100\nAcDbEntity\n8\nL\n0\nENDSEC\n0\nEOF\n";
  Database db;
  const DxfReadResult r = readDxf(file, db);
  ASSERT_TRUE(r.status.ok()) << r.status.detail;
  const Vertex& v = firstPolyline(db).vertices.at(0);
  EXPECT_EQ(v.identifier, 7);
  EXPECT_EQ(v.own.get(), nullptr);  // on its polyline's layer, nothing of its own
  EXPECT_EQ(written(db, Release::R2004).find(" 91\r\n7\r\n"), std::string::npos);
}

// ezdxf reads the followers' own groups and finds no error in the file
// (it moves vertices and sequence ends to the layer of their polyline, and
// has no colour or linetype for a block's end).
TEST(FollowerGroups, ThePeerSeesThem) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  Database db = drawing();
  const std::string path = "/tmp/drawingdb_followers_" + std::to_string(getpid()) + ".dxf";
  std::ofstream(path, std::ios::binary) << written(db, Release::R2000);
  const char* script = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
print("ERRORS", len(doc.audit().errors))
pl = doc.modelspace().query("POLYLINE")[0]
def attr(e, name):
    return e.dxf.get(name, "-") if e.dxf.is_supported(name) else "-"
def show(where, e):
    x = " ".join(str(t.value) for t in e.get_xdata("MYAPP")) if e.has_xdata("MYAPP") else ""
    print(where, e.dxf.layer, attr(e, "color"), attr(e, "linetype"), x)
show("vertex", pl.vertices[1])
show("seqend", pl.seqend)
show("endblk", doc.blocks.get("B1").endblk)
show("block", doc.blocks.get("B1").block)
)PY";
  const std::string base = "/tmp/drawingdb_followers_" + std::to_string(getpid());
  std::ofstream(base + ".py") << script;
  const int status = std::system(("/usr/bin/python3 " + base + ".py " + path + " >" + base + ".out 2>&1").c_str());
  std::stringstream seen;
  seen << std::ifstream(base + ".out").rdbuf();
  for (const std::string& f : {path, base + ".py", base + ".out"}) std::remove(f.c_str());
  ASSERT_EQ(status, 0) << seen.str();
  EXPECT_NE(seen.str().find("ERRORS 0"), std::string::npos) << seen.str();
  EXPECT_NE(seen.str().find("vertex WALLS 3 Continuous vertex xdata 3"), std::string::npos) << seen.str();
  EXPECT_NE(seen.str().find("seqend WALLS 5 - seqend xdata 5"), std::string::npos) << seen.str();
  EXPECT_NE(seen.str().find("endblk OTHER - - endblk xdata 4"), std::string::npos) << seen.str();
  EXPECT_NE(seen.str().find("block WALLS - - block xdata 6"), std::string::npos) << seen.str();
}

}  // namespace

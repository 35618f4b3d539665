// DWG files of 2.5 to 11/12: the corpus's drawings read with the geometry
// of their DXF twins, drawings written in each release and read back, the
// layout of written files against the corpus files of their release, and
// damaged files (cut sections, table counts and
// record sizes that lie, entity lengths past the section end, JUMPs that
// loop), which must end in a Status, never in a crash or a hang.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "dwg_corpus_files.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_file.h"
#include "drawingdb/dwg_pre_r13.h"
#include "drawingdb/dwg_pre_r13_layout.h"
#include "drawingdb/file_io.h"
#include "sample_drawing.h"

using namespace drawingdb;
namespace fs = std::filesystem;

namespace {

void put16(std::string& f, std::size_t at, std::uint16_t v) {
  f[at] = static_cast<char>(v & 0xFF);
  f[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t get32(const std::string& f, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(f[at + i]);
  return v;
}

// The corpus drawings of these releases, each with its DXF twin.
struct CorpusFile {
  const char* path;
  Release release;
};
constexpr CorpusFile kCorpus[] = {
    {"r2.6/entities.dwg", Release::R2_6}, {"r9/entities.dwg", Release::R9}, {"r11/entities-2d.dwg", Release::R12}};

fs::path corpusDwg() { return fs::path(TROVAK_CORPUS_DIR) / "dwg"; }
bool haveCorpus() { return fs::exists(corpusDwg() / kCorpus[0].path); }

// One entity as the tests compare it: kind, layer, colour, linetype, the
// texts it holds and its geometry numbers.
struct Shape {
  std::string what;
  std::vector<double> numbers;
};

void add(std::vector<double>& n, const Point3& p) { n.insert(n.end(), {p.x, p.y, p.z}); }

Shape shapeOf(const Entity& e) {
  Shape s;
  s.what = std::string(e.dxfName()) + "|" + foldedName(e.common.layer) + "|" + std::to_string(e.common.colour) + "|" +
           foldedName(e.common.linetype);
  std::vector<double>& n = s.numbers;
  if (const auto* l = get_if<Line>(&e.data)) add(n, l->start), add(n, l->end);
  else if (const auto* p = get_if<PointEntity>(&e.data)) add(n, p->location);
  else if (const auto* c = get_if<Circle>(&e.data)) add(n, c->center), n.push_back(c->radius);
  else if (const auto* a = get_if<Arc>(&e.data)) add(n, a->center), n.insert(n.end(), {a->radius, a->startAngle, a->endAngle});
  else if (const auto* t = get_if<Text>(&e.data)) {
    add(n, t->insertion), n.insert(n.end(), {t->height, t->rotation, t->widthFactor, double(t->horizontal)});
    if (t->horizontal != 0) add(n, t->alignment);
    s.what += "|" + t->value;
  } else if (const auto* so = get_if<Solid>(&e.data)) {
    for (const Point3* p : {&so->corner1, &so->corner2, &so->corner3, &so->corner4}) add(n, *p);
  } else if (const auto* f = get_if<Face3d>(&e.data)) {
    for (const Point3* p : {&f->corner1, &f->corner2, &f->corner3, &f->corner4}) add(n, *p);
  } else if (const auto* i = get_if<Insert>(&e.data)) {
    add(n, i->insertion), n.insert(n.end(), {i->xScale, i->yScale, i->zScale, i->rotation, double(i->attributes.size())});
    s.what += "|" + foldedName(i->block);
  } else if (const auto* pl = get_if<Polyline>(&e.data)) {
    n.push_back(pl->flags);
    for (const Vertex& v : pl->vertices) add(n, v.location), n.push_back(v.bulge);
  } else if (const auto* ad = get_if<AttDef>(&e.data)) {
    add(n, ad->insertion), n.insert(n.end(), {ad->height, ad->rotation});
    s.what += "|" + ad->tag + "|" + ad->prompt + "|" + ad->defaultValue;
  } else if (const auto* at = get_if<Attrib>(&e.data)) {
    add(n, at->insertion), n.insert(n.end(), {at->height, at->rotation});
    s.what += "|" + at->tag + "|" + at->value;
  } else if (const auto* d = get_if<Dimension>(&e.data)) {
    add(n, d->definition), add(n, d->defPoint2), add(n, d->defPoint3);
    n.push_back(d->flags & 7);
    s.what += "|" + foldedName(d->block);
  }
  return s;
}

// The entities of a block in order, attributes after their insert.
std::vector<Shape> shapesOf(const Database& db, const BlockRecord& b) {
  std::vector<Shape> out;
  for (EntityId id : b.entities) {
    out.push_back(shapeOf(db.entities[id]));
    if (const auto* i = get_if<Insert>(&db.entities[id].data))
      for (EntityId a : i->attributes) out.push_back(shapeOf(db.entities[a]));
  }
  return out;
}

// Equal up to the six significant digits DXF files of these releases
// write.
void expectSameShapes(const std::vector<Shape>& got, const std::vector<Shape>& want, const std::string& where) {
  ASSERT_EQ(got.size(), want.size()) << where;
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].what, want[i].what) << where << " entity " << i;
    ASSERT_EQ(got[i].numbers.size(), want[i].numbers.size()) << where << " " << got[i].what;
    for (std::size_t k = 0; k < got[i].numbers.size(); ++k)
      EXPECT_NEAR(got[i].numbers[k], want[i].numbers[k], 1e-5 * std::max(1.0, std::fabs(want[i].numbers[k])))
          << where << " " << got[i].what << " number " << k;
  }
}

// ---------------------------------------------------------------- corpus

TEST(DwgPreR13Corpus, FilesHoldTheGeometryOfTheirDxfTwins) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  for (const CorpusFile& f : kCorpus) {
    SCOPED_TRACE(f.path);
    fs::path twin = corpusDwg() / f.path;
    twin.replace_extension(".dxf");
    Database dwg, dxf;
    const ReadResult read = readFile((corpusDwg() / f.path).string(), dwg);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(dwg.release, f.release);
    ASSERT_TRUE(readFile(twin.string(), dxf).status.ok());
    expectSameShapes(shapesOf(dwg, dwg.modelSpace()), shapesOf(dxf, dxf.modelSpace()), "model space");
    for (const BlockRecord& b : dxf.blocks) {
      if (&b == &dxf.modelSpace() || &b == &dxf.paperSpace()) continue;
      const BlockRecord* ours = dwg.findBlock(b.name);
      ASSERT_NE(ours, nullptr) << b.name;
      EXPECT_EQ(ours->flags & 7, b.flags & 7) << b.name;
      expectSameShapes(shapesOf(dwg, *ours), shapesOf(dxf, b), "block " + b.name);
    }
    // The tables: names, layer colours (negative when off) and linetypes.
    std::map<std::string, std::string> layers;
    for (const auto& l : dxf.layers.records)
      layers[foldedName(l.common.name)] = std::to_string(l.data.colour) + " " + foldedName(l.data.linetype);
    for (const auto& l : dwg.layers.records)
      EXPECT_EQ(layers[foldedName(l.common.name)], std::to_string(l.data.colour) + " " + foldedName(l.data.linetype))
          << l.common.name;
    EXPECT_EQ(dwg.layers.records.size(), dxf.layers.records.size());
    for (const auto& s : dxf.styles.records) {
      const auto* ours = dwg.styles.find(s.common.name);
      ASSERT_NE(ours, nullptr) << s.common.name;
      EXPECT_EQ(ours->data.font, s.data.font);
      EXPECT_DOUBLE_EQ(ours->data.lastHeight, s.data.lastHeight);
    }
    for (const char* variable : {"$EXTMIN", "$EXTMAX", "$LIMMAX", "$INSBASE"}) {
      const Point3 a = dwg.header.point(variable), b = dxf.header.point(variable);
      EXPECT_NEAR(a.x, b.x, 1e-5) << variable;
      EXPECT_NEAR(a.y, b.y, 1e-5) << variable;
    }
    EXPECT_EQ(dwg.header.text("$CLAYER"), dxf.header.text("$CLAYER"));
    EXPECT_DOUBLE_EQ(dwg.header.real("$TEXTSIZE"), dxf.header.real("$TEXTSIZE"));
  }
}

// ------------------------------------------------------------ writing

constexpr Release kOldReleases[] = {Release::R2_5, Release::R2_6, Release::R9, Release::R10, Release::R12};

std::string dwgOf(Database& db, Release r, std::vector<Finding>* findings = nullptr) {
  StringSink sink;
  const Status s = writeDwg(db, sink, {r, findings});
  EXPECT_TRUE(s.ok()) << s.detail;
  return sink.data;
}

// The sample drawing of every kind, written in each release: read back it
// holds the same entities (lightweight polylines as polylines, paper space
// left out), and writing what was read gives the same bytes again.
TEST(DwgPreR13Write, DrawingsReadBackWithEveryEntityAndRecord) {
  for (const Release r : kOldReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Database db = sample::drawing(r);
    std::vector<Finding> findings;
    const std::string file = dwgOf(db, r, &findings);
    Database back;
    const ReadResult read = readBytes(file, back);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_TRUE(read.findings.empty()) << read.findings.front().detail;
    EXPECT_EQ(back.release, r);
    const std::vector<Shape> written = shapesOf(db, db.modelSpace());
    const std::vector<Shape> got = shapesOf(back, back.modelSpace());
    ASSERT_EQ(got.size(), written.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (written[i].what.starts_with("LWPOLYLINE")) {
        EXPECT_TRUE(got[i].what.starts_with("POLYLINE")) << got[i].what;
        continue;
      }
      EXPECT_EQ(got[i].what, written[i].what);
      ASSERT_EQ(got[i].numbers.size(), written[i].numbers.size()) << got[i].what;
      for (std::size_t k = 0; k < got[i].numbers.size(); ++k)
        EXPECT_NEAR(got[i].numbers[k], written[i].numbers[k], 1e-9) << got[i].what << " number " << k;
    }
    for (const BlockRecord& b : db.blocks) {
      if (&b == &db.modelSpace() || &b == &db.paperSpace()) continue;
      const BlockRecord* ours = back.findBlock(b.name);
      ASSERT_NE(ours, nullptr) << b.name;
      EXPECT_EQ(ours->base, b.base);
      expectSameShapes(shapesOf(back, *ours), shapesOf(db, b), "block " + b.name);
    }
    for (const auto& l : db.layers.records) {
      const auto* ours = back.layers.find(l.common.name);
      ASSERT_NE(ours, nullptr) << l.common.name;
      EXPECT_EQ(ours->data.colour, l.data.colour);
      EXPECT_TRUE(sameName(ours->data.linetype, l.data.linetype));
    }
    const auto* dashed = back.linetypes.find("DASHED");
    ASSERT_NE(dashed, nullptr);
    EXPECT_EQ(dashed->data.dashes.size(), 2u);
    EXPECT_EQ(back.styles.find("ISO")->data.font, "isocp.shx");
    EXPECT_EQ(dwgOf(back, r), file);
    // Paper space has no place before 11/12 and is left out there.
    EXPECT_EQ(std::count_if(findings.begin(), findings.end(), [](const Finding& f) { return f.code == "paper-space-left-out"; }),
              db.paperSpace().entities.empty() || r == Release::R12 ? 0 : 1);
  }
}

// Header variables and the current records travel by their places and
// record numbers.
TEST(DwgPreR13Write, HeaderVariablesKeepTheirValues) {
  for (const Release r : kOldReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Database db = Database::create(r);
    db.addRecord(db.layers, "WALLS");
    db.addRecord(db.linetypes, "DASHED");
    db.header.set("$CLAYER", std::string("WALLS"));
    db.header.set("$CELTYPE", std::string("DASHED"));
    db.header.set("$EXTMIN", Point3{-1, -2, 0});
    db.header.set("$EXTMAX", Point3{100, 200, 0});
    db.header.set("$LTSCALE", 2.5);
    db.header.set("$DIMASZ", 0.25);
    db.header.set("$LUPREC", 6);
    db.header.set("$DIMTIH", 0);
    db.header.set("$MENU", std::string("mymenu"));
    Database back;
    ASSERT_TRUE(readBytes(dwgOf(db, r), back).status.ok());
    EXPECT_EQ(back.header.text("$CLAYER"), "WALLS");
    EXPECT_EQ(back.header.text("$CELTYPE"), "DASHED");
    EXPECT_EQ(back.header.point("$EXTMIN"), (Point3{-1, -2, 0}));
    EXPECT_EQ(back.header.point("$EXTMAX"), (Point3{100, 200, 0}));
    EXPECT_EQ(back.header.real("$LTSCALE"), 2.5);
    EXPECT_EQ(back.header.real("$DIMASZ"), 0.25);
    EXPECT_EQ(back.header.integer("$LUPREC"), 6);
    EXPECT_EQ(back.header.integer("$DIMTIH"), 0);
    EXPECT_EQ(back.header.text("$MENU"), "mymenu");
  }
}

// A written file has the layout of the corpus files of its release: the
// number of header variables, the record size of every table, the
// entities right after the header (11/12: after its CRC and sentinel),
// then the tables in their order, the block section and the extras last.
TEST(DwgPreR13Write, FilesHaveTheLayoutOfTheCorpusFiles) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  for (const CorpusFile& c : kCorpus) {
    SCOPED_TRACE(c.path);
    const std::string real = fileContents(corpusDwg() / c.path);
    Database db;
    ASSERT_TRUE(readBytes(real, db).status.ok());
    const std::string ours = dwgOf(db, c.release);
    auto rs = [](const std::string& f, std::size_t at) {
      return static_cast<int>(static_cast<std::uint8_t>(f[at]) | (static_cast<std::uint8_t>(f[at + 1]) << 8));
    };
    EXPECT_EQ(ours.substr(0, 0x14), real.substr(0, 0x14));
    const std::uint16_t count = static_cast<std::uint16_t>(rs(real, 0x11));
    EXPECT_EQ(get32(ours, 0x14), get32(real, 0x14));
    std::uint32_t previous = get32(ours, 0x18);
    for (std::size_t t = 0; t < prer13::kTables; ++t) {
      const auto table = static_cast<prer13::Table>(t);
      if (!prer13::holdsTable(count, table)) continue;
      const std::size_t at = prer13::kDescriptorAt[t];
      EXPECT_EQ(rs(ours, at), rs(real, at)) << prer13::kTableNames[t];
      EXPECT_GE(get32(ours, at + 6), previous) << prer13::kTableNames[t];
      previous = get32(ours, at + 6);
    }
    EXPECT_GE(get32(ours, 0x1C), previous);
    EXPECT_EQ(get32(ours, 0x20) & 0xFF000000u, get32(real, 0x20) & 0xFF000000u);
    EXPECT_EQ(get32(ours, 0x24), get32(ours, 0x1C) + (get32(ours, 0x20) & 0xFFFFFF) + (c.release == Release::R12 ? 32 : 0));
    EXPECT_EQ(get32(ours, 0x28), 0x80000000u);
    if (c.release != Release::R12) {
      EXPECT_EQ(get32(ours, 0x24), ours.size());
      // The entity count of these releases: the records of the entity and
      // block sections (the corpus files count their deleted ones too).
      Database back;
      ASSERT_TRUE(readBytes(ours, back).status.ok());
      std::size_t records = 0;
      for (const Entity& e : back.entities) {
        ++records;
        if (const auto* p = get_if<Polyline>(&e.data)) records += p->vertices.size() + 1;
        if (const auto* i = get_if<Insert>(&e.data); i != nullptr && !i->attributes.empty()) ++records;
      }
      records += 2 * (back.blocks.size() - 2);
      EXPECT_EQ(static_cast<std::size_t>(rs(ours, 0x76)), records);
    } else {
      EXPECT_EQ(ours.substr(ours.size() - 16), real.substr(real.size() - 16));
    }
  }
}

// ------------------------------------- paper space, extended data, shapes

std::size_t countOf(const std::vector<Finding>& findings, const std::string& code) {
  return static_cast<std::size_t>(
      std::count_if(findings.begin(), findings.end(), [&](const Finding& f) { return f.code == code; }));
}

RawTag textTag(std::int32_t code, std::string text) { return {code, TagType::String, 0, 0, std::move(text)}; }
RawTag realTag(std::int32_t code, double v) { return {code, TagType::Real, v, 0, {}}; }
RawTag intTag(std::int32_t code, TagType t, std::int64_t v) { return {code, t, 0, v, {}}; }

// Extended data with an item of every kind, for two applications (the
// second not in the APPID table).
std::vector<RawTag> everyItem() {
  return {textTag(1001, "ACAD"), textTag(1000, "first"), textTag(1002, "{"), textTag(1003, "WALLS"),
          realTag(1040, 2.5), realTag(1010, 1), realTag(1020, 2), realTag(1030, 3), intTag(1070, TagType::Int16, -7),
          intTag(1071, TagType::Int32, 123456), textTag(1002, "}"), textTag(1001, "TROVAK"),
          RawTag{1004, TagType::Binary, 0, 0, std::string("\x01\x00\xFF", 3)},
          RawTag{1005, TagType::Handle, 0, 0x1A2B, "1A2B"}, realTag(1041, 0.5), realTag(1042, 3)};
}

// A drawing of 11/12 with model and paper space: on the sheet a line
// with extended data, a text, a polyline and three viewports (the sheet's
// own, one freezing a layer, one switched off).
Database spacesDrawing() {
  Database db = Database::create(Release::R12);
  db.addRecord(db.layers, "WALLS").data.colour = 3;
  db.addRecord(db.layers, "SHEET").data.colour = 5;
  db.header.set("$TILEMODE", 0);
  db.header.set("$PLIMMAX", Point3{420, 297, 0});
  db.header.set("$PEXTMIN", Point3{0, 0, 0});
  db.header.set("$PEXTMAX", Point3{420, 297, 0});
  Entity model = makeEntity(EntityKind::Line);
  get<Line>(model.data) = Line{{0, 0, 0}, {100, 50, 0}};
  model.common.layer = "WALLS";
  db.addEntity(db.modelSpace(), std::move(model));
  auto paper = [&](Entity e) {
    e.common.paperSpace = true;
    e.common.layer = "SHEET";
    db.addEntity(db.paperSpace(), std::move(e));
  };
  Entity frame = makeEntity(EntityKind::Line);
  get<Line>(frame.data) = Line{{10, 10, 0}, {410, 10, 0}};
  frame.common.extras().xdata = everyItem();
  frame.common.colour = 1;
  paper(std::move(frame));
  Entity title = makeEntity(EntityKind::Text);
  get<Text>(title.data).insertion = {300, 20, 0};
  get<Text>(title.data).height = 5;
  get<Text>(title.data).value = "PLAN";
  paper(std::move(title));
  Entity border = makeEntity(EntityKind::Polyline);
  auto& pl = get<Polyline>(border.data);
  pl.flags = 1;
  for (const Point3& p : {Point3{5, 5, 0}, Point3{415, 5, 0}, Point3{415, 292, 0}}) {
    Vertex v;
    v.location = p;
    pl.vertices.push_back(v);
  }
  paper(std::move(border));
  const Handle walls = db.layers.find("WALLS")->common.handle;
  for (int id : {1, 2, 3}) {
    Entity v = makeEntity(EntityKind::Viewport);
    Viewport& vp = get<Viewport>(v.data);
    vp.id = id;
    vp.center = {210.0 * id / 2, 148.5, 0};
    vp.width = 100.0 * id;
    vp.height = 80;
    vp.status = id == 3 ? 0 : id;
    vp.viewCenter = {50.0 * id, 25, 0};
    vp.viewHeight = 60;
    vp.viewTarget = {1, 2, 0};
    vp.twist = id == 2 ? 15 : 0;
    vp.circleZoom = 100;
    if (id == 2) vp.frozenLayers = {walls};
    paper(std::move(v));
  }
  return db;
}

// What a viewport shows, as the tests compare it.
std::string viewOf(const Database& db, const Entity& e) {
  const Viewport& v = get<Viewport>(e.data);
  std::ostringstream out;
  out << v.id << " on " << (v.status != 0) << " at " << v.center.x << "," << v.center.y << " " << v.width << "x"
      << v.height << " view " << v.viewCenter.x << "," << v.viewCenter.y << " " << v.viewHeight << " target "
      << v.viewTarget.x << "," << v.viewTarget.y << " twist " << v.twist << " zoom " << v.circleZoom << " frozen";
  for (Handle h : v.frozenLayers)
    for (const auto& l : db.layers.records)
      if (l.common.handle == h) out << " " << l.common.name;
  return out.str();
}

// 11/12: paper space follows model space in the entity section, its
// viewports with their views and VX records; read back, the sheet holds
// the same entities and views, and writing what was read gives the same
// bytes.  Releases before it have no paper space and leave it out.
TEST(DwgPreR13Spaces, PaperSpaceAndItsViewportsReadBack) {
  Database db = spacesDrawing();
  std::vector<Finding> findings;
  const std::string file = dwgOf(db, Release::R12, &findings);
  EXPECT_TRUE(findings.empty()) << findings.front().detail;
  Database back;
  const ReadResult read = readBytes(file, back);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  EXPECT_TRUE(read.findings.empty()) << read.findings.front().detail;
  expectSameShapes(shapesOf(back, back.modelSpace()), shapesOf(db, db.modelSpace()), "model space");
  expectSameShapes(shapesOf(back, back.paperSpace()), shapesOf(db, db.paperSpace()), "paper space");
  ASSERT_EQ(back.paperSpace().entities.size(), db.paperSpace().entities.size());
  for (std::size_t i = 0; i < db.paperSpace().entities.size(); ++i) {
    const Entity& want = db.entities[db.paperSpace().entities[i]];
    const Entity& got = back.entities[back.paperSpace().entities[i]];
    EXPECT_TRUE(got.common.paperSpace);
    if (want.kind == EntityKind::Viewport) {
      EXPECT_EQ(viewOf(back, got), viewOf(db, want));
    }
  }
  for (const char* variable : {"$PLIMMAX", "$PEXTMAX"}) EXPECT_EQ(back.header.point(variable), db.header.point(variable));
  EXPECT_EQ(back.header.integer("$TILEMODE"), 0);
  EXPECT_EQ(dwgOf(back, Release::R12), file);
  // The VX table: one record for each viewport.
  EXPECT_EQ(static_cast<std::uint8_t>(file[prer13::kDescriptorAt[prer13::kVx] + 2]), 3);

  for (const Release r : {Release::R9, Release::R10}) {
    std::vector<Finding> older;
    Database old;
    ASSERT_TRUE(readBytes(dwgOf(db, r, &older), old).status.ok());
    EXPECT_TRUE(old.paperSpace().entities.empty());
    EXPECT_EQ(countOf(older, "paper-space-left-out"), 1u);
  }
}

// The VPORT table of 10 and 11/12 holds the views of model space: its
// records read back with every field.
TEST(DwgPreR13Spaces, ViewportRecordsReadBack) {
  for (const Release r : {Release::R10, Release::R12}) {
    SCOPED_TRACE(releaseInfo(r).version);
    Database db = Database::create(r);
    Vport& v = db.vports.find("*ACTIVE")->data;
    v.lowerLeft = {0, 0.5, 0};
    v.upperRight = {0.5, 1, 0};
    v.center = {120, 80, 0};
    v.height = 150;
    v.aspect = 1.6;
    v.target = {1, 2, 3};
    v.direction = {0, -1, 1};
    v.twist = 30;
    v.snapSpacing = {2.5, 2.5, 0};
    v.gridSpacing = {10, 5, 0};
    v.snapAngle = 45;
    v.gridOn = 1;
    v.circleZoom = 250;
    Vport& second = db.addRecord(db.vports, "*ACTIVE").data;
    second.center = {5, 6, 0};
    Database back;
    ASSERT_TRUE(readBytes(dwgOf(db, r), back).status.ok());
    ASSERT_EQ(back.vports.records.size(), db.vports.records.size());
    for (std::size_t i = 0; i < db.vports.records.size(); ++i) {
      const Vport& a = back.vports.records[i].data;
      const Vport& b = db.vports.records[i].data;
      EXPECT_EQ(a.lowerLeft, b.lowerLeft);
      EXPECT_EQ(a.upperRight, b.upperRight);
      EXPECT_EQ(a.center, b.center);
      EXPECT_EQ(a.target, b.target);
      EXPECT_EQ(a.direction, b.direction);
      EXPECT_EQ(a.snapSpacing, b.snapSpacing);
      EXPECT_EQ(a.gridSpacing, b.gridSpacing);
      EXPECT_EQ(a.height, b.height);
      EXPECT_EQ(a.aspect, b.aspect);
      EXPECT_NEAR(a.twist, b.twist, 1e-9);
      EXPECT_NEAR(a.snapAngle, b.snapAngle, 1e-9);
      EXPECT_EQ(a.gridOn, b.gridOn);
      EXPECT_EQ(a.circleZoom, b.circleZoom);
    }
  }
}

// Extended data travels with the entities that have room for it (those
// of paper space), applications and layers by their record numbers; an
// application the table lacks is added to it.  Model-space entities have
// none in these files: their extended data is left out, said once.
TEST(DwgPreR13Spaces, ExtendedDataOfEveryItemReadsBack) {
  Database db = spacesDrawing();
  db.entities[db.modelSpace().entities.front()].common.extras().xdata = everyItem();
  std::vector<Finding> findings;
  const std::string file = dwgOf(db, Release::R12, &findings);
  EXPECT_EQ(countOf(findings, "xdata-left-out"), 1u);
  Database back;
  ASSERT_TRUE(readBytes(file, back).status.ok());
  EXPECT_EQ(back.entities[back.paperSpace().entities.front()].common.xdata(), everyItem());
  EXPECT_TRUE(back.entities[back.modelSpace().entities.front()].common.xdata().empty());
  EXPECT_NE(back.appids.find("TROVAK"), nullptr);
  // The viewports' own extended data holds their view, not the entity.
  for (EntityId id : back.paperSpace().entities)
    if (back.entities[id].kind == EntityKind::Viewport) {
      EXPECT_TRUE(back.entities[id].common.xdata().empty());
    }
}

// The paper-space line's extended data in a written file, damaged: an
// unknown item or an application beyond the table leaves the data out
// (the entity stays); a size past the entity's end refuses the file.
TEST(DwgPreR13Spaces, DamagedExtendedData) {
  Database drawing = spacesDrawing();
  const std::string sound = dwgOf(drawing, Release::R12);
  // The first paper-space entity follows the model-space line; its items
  // follow type, flags, size, layer, options, extra byte and their size.
  const std::size_t line = get32(sound, 0x14);
  const std::size_t at = line + static_cast<std::uint8_t>(sound[line + 2]);
  ASSERT_EQ(sound[at + 1] & prer13::kHasExtra, prer13::kHasExtra);
  const std::size_t eed = at + 11;
  ASSERT_EQ(sound[eed], prer13::kEedApplication);
  const struct {
    const char* what;
    void (*apply)(std::string& file, std::size_t eed);
    bool refused;
  } damages[] = {{"unknown item", [](std::string& f, std::size_t e) { f[e + 3] = 99; }, false},
                 {"application beyond the table", [](std::string& f, std::size_t e) { put16(f, e + 1, 40); }, false},
                 {"size past the entity", [](std::string& f, std::size_t e) { put16(f, e - 2, 0x7000); }, true}};
  for (const auto& d : damages) {
    std::string file = sound;
    d.apply(file, eed);
    const std::size_t size = static_cast<std::uint8_t>(file[at + 2]) | (static_cast<std::uint8_t>(file[at + 3]) << 8);
    put16(file, at + size - 2, dwgCrc16(std::string_view(file).substr(at, size - 2)));
    Database db;
    std::vector<Finding> findings;
    const Status s = readDwgPreR13(file, db, findings);
    if (d.refused) {
      EXPECT_EQ(s.code, StatusCode::BadFile) << d.what;
      continue;
    }
    ASSERT_TRUE(s.ok()) << d.what << ": " << s.detail;
    EXPECT_EQ(countOf(findings, "bad-xdata"), 1u) << d.what;
    ASSERT_EQ(db.paperSpace().entities.size(), 6u) << d.what;
    EXPECT_TRUE(db.entities[db.paperSpace().entities.front()].common.xdata().empty()) << d.what;
  }
}

// The corpus files' shape (number 131 of the second STYLE record's shape
// file, turned 30 degrees) is written back as it was read; one read from
// DXF, known by its name alone, is left out.
TEST(DwgPreR13Spaces, ShapesAreWrittenBack) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  auto shapeIn = [](Database& db) -> const Entity* {
    for (EntityId id : db.modelSpace().entities)
      if (db.entities[id].dxfName() == "SHAPE") return &db.entities[id];
    return nullptr;
  };
  for (const CorpusFile& c : kCorpus) {
    SCOPED_TRACE(c.path);
    const std::string real = fileContents(corpusDwg() / c.path);
    Database db;
    ASSERT_TRUE(readBytes(real, db).status.ok());
    const Entity* read = shapeIn(db);
    ASSERT_NE(read, nullptr);
    Database back;
    ASSERT_TRUE(readBytes(dwgOf(db, c.release), back).status.ok());
    const Entity* written = shapeIn(back);
    ASSERT_NE(written, nullptr);
    EXPECT_EQ(get<UnknownEntity>(written->data).tags, get<UnknownEntity>(read->data).tags);
    EXPECT_EQ(written->common.extra(), read->common.extra());
    ASSERT_EQ(read->common.extra().size(), 2u);
    EXPECT_EQ(read->common.extra()[0].integer, 131);
    EXPECT_NEAR(get<UnknownEntity>(read->data).tags.back().real, 30, 1e-9);
  }
  Database fromDxf = Database::create(Release::R12);
  Entity shape = makeEntity(EntityKind::Unknown);
  shape.setDxfName("SHAPE");
  get<UnknownEntity>(shape.data).tags = {realTag(10, 1), realTag(20, 2), realTag(40, 1), textTag(2, "BOX")};
  fromDxf.addEntity(fromDxf.modelSpace(), std::move(shape));
  std::vector<Finding> findings;
  dwgOf(fromDxf, Release::R12, &findings);
  EXPECT_EQ(countOf(findings, "entity-left-out"), 1u);
}

// An entity with both an elevation and a thickness stores the elevation
// first, in every release.
TEST(DwgPreR13Spaces, ElevationAndThicknessTogether) {
  for (const Release r : kOldReleases) {
    SCOPED_TRACE(releaseInfo(r).version);
    Database db = Database::create(r);
    Entity e = makeEntity(EntityKind::Circle);
    get<Circle>(e.data) = Circle{{1, 2, 5}, 3, 7};
    db.addEntity(db.modelSpace(), std::move(e));
    const std::string file = dwgOf(db, r);
    const std::size_t at = get32(file, 0x14);
    EXPECT_EQ(file[at + 1] & (prer13::kHasElevation | prer13::kHasThickness), prer13::kHasElevation | prer13::kHasThickness);
    double stored[2];
    std::memcpy(stored, file.data() + at + 8, sizeof stored);
    EXPECT_EQ(stored[0], 5);
    EXPECT_EQ(stored[1], 7);
    Database back;
    ASSERT_TRUE(readBytes(file, back).status.ok());
    const Circle& c = get<Circle>(back.entities[back.modelSpace().entities.front()].data);
    EXPECT_EQ(c.center.z, 5);
    EXPECT_EQ(c.thickness, 7);
  }
}

// ------------------------------------------------------- damaged files

Status readOf(const std::string& file) {
  Database db;
  std::vector<Finding> findings;
  return readDwgPreR13(file, db, findings);
}

// Each damage of a sound file, and whether it must be refused (a file
// whose damage leaves it consistent may be read).
struct Damage {
  const char* what;
  void (*apply)(std::string& file);
};

const Damage kDamages[] = {
    {"cut within the header variables", [](std::string& f) { f.resize(0x200); }},
    {"cut within the tables", [](std::string& f) { f.resize(get32(f, prer13::kDescriptorAt[prer13::kStyle] + 6) + 10); }},
    {"cut within the block section", [](std::string& f) { f.resize(get32(f, 0x1C) + 20); }},
    {"entity section past the end", [](std::string& f) { put32(f, 0x18, static_cast<std::uint32_t>(f.size() + 1)); }},
    {"entity section ends before it starts", [](std::string& f) { put32(f, 0x18, get32(f, 0x14) - 1); }},
    {"block section larger than the file", [](std::string& f) { put32(f, 0x20, 0x40FFFFFF); }},
    {"layer count lies", [](std::string& f) { put16(f, prer13::kDescriptorAt[prer13::kLayer] + 2, 0x7FFF); }},
    {"style record size lies", [](std::string& f) { put16(f, prer13::kDescriptorAt[prer13::kStyle], 100); }},
    {"linetype table past the end", [](std::string& f) { put32(f, prer13::kDescriptorAt[prer13::kLinetype] + 6, 0xFFFFFFF0); }},
    {"unknown number of header variables", [](std::string& f) { put16(f, 0x11, 77); }},
    {"first entity longer than its section",
     [](std::string& f) { put16(f, get32(f, 0x14) + 2, static_cast<std::uint16_t>(get32(f, 0x18) - get32(f, 0x14) + 1)); }},
    {"first entity of length zero", [](std::string& f) { put16(f, get32(f, 0x14) + 2, 0); }},
    {"first entity a JUMP onto itself",
     [](std::string& f) {
       const std::size_t at = get32(f, 0x14);
       f[at] = prer13::kJump;
       put16(f, at + 2, 8);
       put32(f, at + 4, static_cast<std::uint32_t>(at));
     }},
    {"first entity a JUMP out of the file",
     [](std::string& f) {
       const std::size_t at = get32(f, 0x14);
       f[at] = prer13::kJump;
       put16(f, at + 2, 8);
       put32(f, at + 4, prer13::kExtrasMark | 0xFFFFF);
     }},
};

TEST(DwgPreR13Damaged, LyingCountsSizesAndLengthsEndInAStatus) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  for (const CorpusFile& c : kCorpus) {
    const std::string sound = fileContents(corpusDwg() / c.path);
    ASSERT_TRUE(readOf(sound).ok()) << c.path;
    for (const Damage& d : kDamages) {
      std::string file = sound;
      d.apply(file);
      const Status s = readOf(file);
      EXPECT_EQ(s.code, StatusCode::BadFile) << c.path << ": " << d.what;
      EXPECT_FALSE(s.detail.empty());
    }
  }
}

// Every cut and every changed byte: a Status or a database, never a crash,
// a hang or an unbounded allocation (the sanitizers watch).
TEST(DwgPreR13Damaged, CutAndChangedFilesNeverBreakTheReader) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  for (const CorpusFile& c : kCorpus) {
    const std::string sound = fileContents(corpusDwg() / c.path);
    for (std::size_t n = 0; n < sound.size(); n += 97) readOf(sound.substr(0, n));
    for (std::size_t at = 0; at < sound.size(); at += 13) {
      std::string changed = sound;
      changed[at] = static_cast<char>(~changed[at]);
      readOf(changed);
    }
  }
}

// Files of 11/12 check their CRCs, their sentinels and the addresses
// their auxiliary header repeats.
TEST(DwgPreR13Damaged, ElevenChecksItsCrcsAndSentinels) {
  if (!haveCorpus()) GTEST_SKIP() << "the corpus is not there";
  const std::string sound = fileContents(corpusDwg() / "r11/entities-2d.dwg");
  const std::size_t entities = get32(sound, 0x14);
  const std::size_t layers = get32(sound, prer13::kDescriptorAt[prer13::kLayer] + 6);
  const struct {
    const char* what;
    std::size_t at;
  } changes[] = {{"header variable", 0x100}, {"entity data", entities + 10}, {"layer record", layers + 3},
                 {"entities begin sentinel", entities - 5}, {"layer end sentinel", layers + 2 * 41 + 3},
                 {"auxiliary header", sound.size() - 16 - 100}, {"auxiliary header end", sound.size() - 1}};
  for (const auto& c : changes) {
    std::string file = sound;
    file[c.at] = static_cast<char>(file[c.at] ^ 0x10);
    EXPECT_EQ(readOf(file).code, StatusCode::BadFile) << c.what;
  }
}

}  // namespace

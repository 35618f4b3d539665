// Where the block of a dimension puts its lines and text: as the peer
// renders the same dimension under DIMTAD, DIMJUST and DIMGAP, in the
// dimension's own plane when its extrusion is not the world's Z, and at
// the user's text position.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "drawingdb/dimension_block.h"
#include "drawingdb/plane.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

// The peer's blocks for a set of dimensions: per case its points, the
// middle of its text and its lines.
const char* kRenderScript = R"PY(
import sys, ezdxf
doc = ezdxf.new("R2000")
msp = doc.modelspace()
cases = []
for tad in (0, 1, 4):
    for just in (0, 1, 2):
        cases.append(("linear", (0, 0), (10, 0), (3, 2), tad, just))
cases += [("linear", (0, 0), (10, 0), (3, -2), 1, 0), ("linear", (0, 0), (10, 0), (3, 2), 1, 3),
          ("aligned", (0, 0), (8, 6), 2, 1, 0), ("aligned", (0, 0), (8, 6), -2, 0, 1)]
for kind, p1, p2, where, tad, just in cases:
    o = {"dimtad": tad, "dimjust": just, "dimgap": 0.25, "dimtxt": 1.0, "dimasz": 0.5, "dimexo": 0.25, "dimexe": 0.5,
         "dimdec": 2, "dimzin": 8, "dimtsz": 0, "dimtih": 0, "dimtoh": 0, "dimscale": 1, "dimdle": 0, "dimtvp": 0}
    if kind == "linear": dim = msp.add_linear_dim(base=where, p1=p1, p2=p2, override=o)
    else: dim = msp.add_aligned_dim(p1=p1, p2=p2, distance=where, override=o)
    dim.render()
    d = dim.dimension
    print("CASE", 1 if kind == "aligned" else 0, tad, just, p1[0], p1[1], p2[0], p2[1], d.dxf.defpoint.x, d.dxf.defpoint.y)
    for e in doc.blocks.get(d.dxf.geometry):
        if e.dxftype() == "MTEXT": print("TEXT", e.dxf.insert.x, e.dxf.insert.y)
        if e.dxftype() == "LINE": print("LINE", e.dxf.start.x, e.dxf.start.y, e.dxf.end.x, e.dxf.end.y)
)PY";

struct Segment {
  Point3 a, b;
};

struct Rendered {
  int kind = 0, tad = 0, just = 0;
  Point3 p1, p2, definition;
  Point3 text;
  std::vector<Segment> lines;
};

std::vector<Rendered> renderedByPeer() {
  const std::string base = "/tmp/drawingdb_dimplace_" + std::to_string(getpid());
  std::ofstream(base + ".py") << kRenderScript;
  const int status = std::system(("/usr/bin/python3 " + base + ".py >" + base + ".out 2>&1").c_str());
  std::ifstream in(base + ".out");
  std::vector<Rendered> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string word;
    s >> word;
    if (word == "CASE") {
      Rendered r;
      s >> r.kind >> r.tad >> r.just >> r.p1.x >> r.p1.y >> r.p2.x >> r.p2.y >> r.definition.x >> r.definition.y;
      cases.push_back(r);
    } else if (word == "TEXT" && !cases.empty()) {
      s >> cases.back().text.x >> cases.back().text.y;
    } else if (word == "LINE" && !cases.empty()) {
      Segment g;
      s >> g.a.x >> g.a.y >> g.b.x >> g.b.y;
      cases.back().lines.push_back(g);
    } else {
      ADD_FAILURE() << line;
    }
  }
  std::remove((base + ".py").c_str());
  std::remove((base + ".out").c_str());
  EXPECT_EQ(status, 0);
  return cases;
}

// A drawing whose standard style has the sizes of the peer's cases.
Database styled(int tad, int just) {
  Database db = Database::create(Release::R2000);
  DimStyle& s = db.dimstyles.find("Standard")->data;
  s.textAbove = tad;
  s.justification = just;
  s.gap = 0.25;
  s.textHeight = 1;
  s.arrowSize = 0.5;
  s.extensionOffset = 0.25;
  s.extensionExtend = 0.5;
  s.decimals = 2;
  s.zeroSuppression = 8;
  return db;
}

struct Block {
  std::vector<Segment> lines;
  std::vector<const Text*> texts;
  std::vector<const Entity*> planar;  // arcs, solids, texts
  std::vector<Point3> points;
};

Block blockOf(Database& db, EntityId id) {
  Block out;
  const BlockRecord* b = db.findBlock(get<Dimension>(db.entities[id].data).block);
  if (b == nullptr) return out;
  for (EntityId e : b->entities) {
    const Entity& x = db.entities[e];
    if (const auto* l = get_if<Line>(&x.data)) out.lines.push_back({l->start, l->end});
    if (const auto* t = get_if<Text>(&x.data)) out.texts.push_back(t);
    if (const auto* p = get_if<PointEntity>(&x.data)) out.points.push_back(p->location);
    if (!holds_alternative<Line>(x.data) && !holds_alternative<PointEntity>(x.data)) out.planar.push_back(&x);
  }
  return out;
}

double apart(Point3 a, Point3 b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }
bool sameSegment(const Segment& s, const Segment& t, double tolerance) {
  return (apart(s.a, t.a) < tolerance && apart(s.b, t.b) < tolerance) || (apart(s.a, t.b) < tolerance && apart(s.b, t.a) < tolerance);
}

// The peer estimates a text as wide as its height per character, the
// toolkit 0.8 of it: positions that depend on the width differ by that.
constexpr double kTextTolerance = 0.25;
constexpr double kLineTolerance = 0.45;

TEST(DimensionPlacement, TextAndLinesAsThePeerRendersThem) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const std::vector<Rendered> cases = renderedByPeer();
  ASSERT_EQ(cases.size(), 13u);
  for (const Rendered& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + " DIMTAD " + std::to_string(c.tad) + " DIMJUST " + std::to_string(c.just) +
                 " at " + std::to_string(c.definition.y));
    Database db = styled(c.tad, c.just);
    Entity e = makeEntity(EntityKind::Dimension);
    Dimension& d = get<Dimension>(e.data);
    d.flags = c.kind;
    d.defPoint2 = c.p1;
    d.defPoint3 = c.p2;
    d.definition = c.definition;
    const EntityId id = db.addEntity(db.modelSpace(), std::move(e));
    ASSERT_TRUE(buildDimensionBlock(db, id).ok());
    const Block b = blockOf(db, id);
    ASSERT_EQ(b.texts.size(), 1u);
    EXPECT_EQ(b.texts[0]->value, "10");
    EXPECT_LT(apart(b.texts[0]->alignment, c.text), kTextTolerance)
        << b.texts[0]->alignment.x << " " << b.texts[0]->alignment.y << " peer " << c.text.x << " " << c.text.y;
    EXPECT_LT(apart(get<Dimension>(db.entities[id].data).textMid, c.text), kTextTolerance);
    // A piece of a broken line shorter than the difference of the width
    // estimates may be left out by one of the two.
    std::size_t slivers = 0;
    for (const Segment& peer : c.lines) slivers += apart(peer.a, peer.b) < kLineTolerance ? 1 : 0;
    EXPECT_LE(b.lines.size(), c.lines.size());
    EXPECT_GE(b.lines.size() + slivers, c.lines.size());
    for (const Segment& peer : c.lines) {
      if (apart(peer.a, peer.b) < kLineTolerance) continue;
      bool found = false;
      for (const Segment& ours : b.lines) found = found || sameSegment(ours, peer, kLineTolerance);
      EXPECT_TRUE(found) << "peer line " << peer.a.x << " " << peer.a.y << " - " << peer.b.x << " " << peer.b.y;
    }
  }
}

// A linear dimension from (0,0) to (10,0) with its line at y = 2, drawn in
// the plane of `normal` whose own coordinates these are.
EntityId planarDimension(Database& db, Point3 normal) {
  const plane::Ocs ocs = plane::ocsOf(normal);
  const double elevation = 3;
  Entity e = makeEntity(EntityKind::Dimension);
  Dimension& d = get<Dimension>(e.data);
  d.extrusion = normal;
  d.defPoint2 = plane::fromOcs(ocs, {0, 0, elevation});
  d.defPoint3 = plane::fromOcs(ocs, {10, 0, elevation});
  d.definition = plane::fromOcs(ocs, {10, 2, elevation});
  const EntityId id = db.addEntity(db.modelSpace(), std::move(e));
  EXPECT_TRUE(buildDimensionBlock(db, id).ok());
  return id;
}

TEST(DimensionPlacement, DrawnInTheDimensionsPlane) {
  Database flatDb = styled(0, 0);
  const Block flat = blockOf(flatDb, planarDimension(flatDb, kNormalZ));
  ASSERT_FALSE(flat.lines.empty());
  const Point3 normals[] = {{0, 0, -1}, {1, 0, 0}, {0, 0.6, 0.8}, {0.3, -0.4, 0.5}};
  for (const Point3& raw : normals) {
    SCOPED_TRACE(std::to_string(raw.x) + " " + std::to_string(raw.y) + " " + std::to_string(raw.z));
    const Point3 normal = plane::unit(raw);
    const plane::Ocs ocs = plane::ocsOf(normal);
    Database db = styled(0, 0);
    const EntityId id = planarDimension(db, raw);
    const Block b = blockOf(db, id);
    // The same drawing as the flat one, taken into the plane: lines and
    // points in world coordinates, the rest in the plane's with its
    // extrusion.
    ASSERT_EQ(b.lines.size(), flat.lines.size());
    for (std::size_t i = 0; i < b.lines.size(); ++i) {
      const Segment expected{plane::fromOcs(ocs, {flat.lines[i].a.x, flat.lines[i].a.y, 3}),
                             plane::fromOcs(ocs, {flat.lines[i].b.x, flat.lines[i].b.y, 3})};
      EXPECT_TRUE(sameSegment(b.lines[i], expected, 1e-9)) << i;
    }
    for (const Point3& p : b.points) EXPECT_NEAR(plane::dot(p, normal), 3, 1e-9);
    ASSERT_EQ(b.planar.size(), flat.planar.size());
    for (const Entity* e : b.planar) {
      if (const auto* s = get_if<Solid>(&e->data)) {
        EXPECT_NEAR(plane::length(plane::sub(s->extrusion, normal)), 0, 1e-12);
        EXPECT_NEAR(s->corner1.z, 3, 1e-9);
      } else if (const auto* t = get_if<Text>(&e->data)) {
        EXPECT_NEAR(plane::length(plane::sub(t->extrusion, normal)), 0, 1e-12);
        EXPECT_NEAR(t->alignment.x, 5, 1e-9);
        EXPECT_NEAR(t->alignment.y, 2, 1e-9);
        EXPECT_NEAR(t->alignment.z, 3, 1e-9);
      } else {
        ADD_FAILURE() << "unexpected entity";
      }
    }
    const Point3 mid = get<Dimension>(db.entities[id].data).textMid;
    EXPECT_NEAR(mid.x, 5, 1e-9);
    EXPECT_NEAR(mid.y, 2, 1e-9);
  }
}

TEST(DimensionPlacement, TextTheUserPlacedStaysAndBreaksTheLineOnlyOnIt) {
  struct Case {
    Point3 textMid;
    std::size_t dimensionLines;  // pieces of the dimension line
  };
  const Case cases[] = {
      {{3, 2, 0}, 2},   // on the line: broken around the text
      {{3, 5, 0}, 1},   // above it: whole
      {{20, 2, 0}, 1},  // on its extension beyond the end: whole
  };
  for (const Case& c : cases) {
    Database db = styled(0, 0);
    Entity e = makeEntity(EntityKind::Dimension);
    Dimension& d = get<Dimension>(e.data);
    d.defPoint2 = {0, 0, 0};
    d.defPoint3 = {10, 0, 0};
    d.definition = {10, 2, 0};
    d.flags = 128;
    d.textMid = c.textMid;
    const EntityId id = db.addEntity(db.modelSpace(), std::move(e));
    ASSERT_TRUE(buildDimensionBlock(db, id).ok());
    const Block b = blockOf(db, id);
    std::size_t onLine = 0;
    for (const Segment& s : b.lines) onLine += std::fabs(s.a.y - 2) < 1e-9 && std::fabs(s.b.y - 2) < 1e-9 ? 1 : 0;
    EXPECT_EQ(onLine, c.dimensionLines) << c.textMid.x << " " << c.textMid.y;
    ASSERT_EQ(b.texts.size(), 1u);
    EXPECT_NEAR(apart(b.texts[0]->alignment, c.textMid), 0, 1e-12);
    EXPECT_NEAR(apart(get<Dimension>(db.entities[id].data).textMid, c.textMid), 0, 1e-12);
  }
}

}  // namespace

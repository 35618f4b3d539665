// Dimensions and hatches: the six kinds of dimension with the blocks built
// from their points, hatches with polyline and edge loops, written and
// read in every release (as blocks and inserts where a release has no
// HATCH), checked by ezdxf, audited, and read safely when damaged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "drawingdb/audit.h"
#include "drawingdb/dimension_block.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/hatch_fill.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

constexpr double kPi = 3.14159265358979323846;

Entity dimensionEntity(DimensionKind kind, Point3 definition, Point3 p2, Point3 p3, Point3 p4, Point3 arc = {}) {
  Entity e = makeEntity(EntityKind::Dimension);
  Dimension& d = get<Dimension>(e.data);
  d.flags = static_cast<std::int32_t>(kind);
  d.definition = definition;
  d.defPoint2 = p2;
  d.defPoint3 = p3;
  d.defPoint4 = p4;
  d.arcPoint = arc;
  return e;
}

HatchPath square(double x0, double y0, double size, std::int32_t flags) {
  HatchPath p;
  p.flags = flags | 2;
  p.vertices = {{{x0, y0, 0}, 0}, {{x0 + size, y0, 0}, 0}, {{x0 + size, y0 + size, 0}, 0}, {{x0, y0 + size, 0}, 0}};
  return p;
}

HatchPath squareOfEdges(double x0, double y0, double size, std::int32_t flags) {
  HatchPath p;
  p.flags = flags;
  const Point3 c[] = {{x0, y0, 0}, {x0 + size, y0, 0}, {x0 + size, y0 + size, 0}, {x0, y0 + size, 0}};
  for (int i = 0; i < 4; ++i) {
    HatchEdge e;
    e.start = c[i];
    e.end = c[(i + 1) % 4];
    p.edges.push_back(e);
  }
  return p;
}

// The dimensions of the drawing and what each measures.
struct Measured {
  const char* name;
  double measurement;
};
const Measured kMeasured[] = {
    {"linear", 3},          {"linear 90", 4},   {"aligned", 5},         {"angular", kPi / 3},
    {"diameter", 4},        {"radius", 3},      {"angular 3-point", kPi / 2}, {"angular 3-point, reflex", 3 * kPi / 2},
    {"ordinate X", 60},     {"ordinate Y", 5},
};

// Model space: a line, the dimensions of kMeasured in order, then a solid
// hatch, a user-defined line hatch (both a 10 x 10 square with a 4 x 4
// hole: 84 units of area and of line length at spacing 1) and a hatch of
// curved edges with a dashed pattern.
Database drawing(Release r) {
  Database db = Database::create(r);
  db.addRecord(db.layers, "DIMS").data.colour = 3;
  db.addRecord(db.layers, "HATCHES").data.colour = 5;
  Record<Linetype>& dashed = db.addRecord(db.linetypes, "DASHED");
  dashed.data.patternLength = 0.75;
  dashed.data.dashes = {{0.5, 0}, {-0.25, 0}};
  Entity line = makeEntity(EntityKind::Line);
  get<Line>(line.data) = Line{{0, 0, 0}, {10, 0, 0}};
  const EntityId lineId = db.addEntity(db.modelSpace(), std::move(line));
  const Handle lineHandle = db.entities[lineId].common.handle;

  const double c60 = std::cos(kPi / 3), s60 = std::sin(kPi / 3);
  std::vector<Entity> dims;
  dims.push_back(dimensionEntity(DimensionKind::Linear, {0, 6, 0}, {0, 0, 0}, {3, 4, 0}, {}));
  dims.push_back(dimensionEntity(DimensionKind::Linear, {-2, 0, 0}, {0, 0, 0}, {3, 4, 0}, {}));
  get<Dimension>(dims.back().data).rotation = 90;
  dims.push_back(dimensionEntity(DimensionKind::Aligned, {12.4, 5.2, 0}, {10, 0, 0}, {13, 4, 0}, {}));
  dims.push_back(dimensionEntity(DimensionKind::Angular, {20 + 5 * c60, 5 * s60, 0}, {21, 0, 0}, {25, 0, 0},
                                 {20 + c60, s60, 0}, {20 + 3 * std::cos(kPi / 6), 3 * std::sin(kPi / 6), 0}));
  dims.push_back(dimensionEntity(DimensionKind::Diameter, {30, 0, 0}, {}, {}, {34, 0, 0}));
  dims.push_back(dimensionEntity(DimensionKind::Radius, {40, 0, 0}, {}, {}, {40, 3, 0}));
  get<Dimension>(dims.back().data).leaderLength = 1;
  dims.push_back(dimensionEntity(DimensionKind::Angular3Point, {51, 1, 0}, {52, 0, 0}, {50, 2, 0}, {50, 0, 0}));
  dims.push_back(dimensionEntity(DimensionKind::Angular3Point, {49, -1, 0}, {52, 0, 0}, {50, 2, 0}, {50, 0, 0}));
  dims.push_back(dimensionEntity(DimensionKind::Ordinate, {0, 0, 0}, {60, 5, 0}, {60, 9, 0}, {}));
  get<Dimension>(dims.back().data).flags |= 64;
  dims.push_back(dimensionEntity(DimensionKind::Ordinate, {0, 0, 0}, {60, 5, 0}, {64, 5, 0}, {}));
  get<Dimension>(dims.back().data).text = "<> mm";
  for (Entity& e : dims) {
    e.common.layer = "DIMS";
    e.common.colour = 3;
    const EntityId id = db.addEntity(db.modelSpace(), std::move(e));
    EXPECT_TRUE(buildDimensionBlock(db, id).ok());
  }

  Entity solid = makeEntity(EntityKind::Hatch);
  solid.common.colour = 1;
  {
    Hatch& h = get<Hatch>(solid.data);
    h.paths = {square(0, 0, 10, 1), square(3, 3, 4, 0)};
    h.paths[0].sources = {lineHandle};
    h.associative = 1;
  }
  db.addEntity(db.modelSpace(), std::move(solid));

  Entity user = makeEntity(EntityKind::Hatch);
  {
    Hatch& h = get<Hatch>(user.data);
    h.pattern = "_USER";
    h.solidFill = 0;
    h.patternType = 0;
    h.scale = 1;
    h.lines = {HatchLine{0, 0, 0, 0, 1, {}}};
    h.paths = {squareOfEdges(0, 0, 10, 1), squareOfEdges(3, 3, 4, 0)};
  }
  db.addEntity(db.modelSpace(), std::move(user));

  Entity curved = makeEntity(EntityKind::Hatch);
  curved.common.layer = "HATCHES";
  curved.common.linetype = "DASHED";
  curved.common.colour = 5;
  {
    Hatch& h = get<Hatch>(curved.data);
    h.pattern = "DASHED_CROSS";
    h.solidFill = 0;
    h.patternType = 2;
    h.angle = 45;
    h.scale = 0.5;
    h.elevation = {0, 0, 2.5};
    h.lines = {HatchLine{45, 0.25, 0, -0.7071067811865476, 0.7071067811865476, {1.25, -0.25, 0, -0.25}},
               HatchLine{135, 0, 0, -0.7071067811865476, -0.7071067811865476, {}}};
    HatchPath p;
    p.flags = 1;
    HatchEdge arc;  // a half circle counter-clockwise from (25,0) over the top to (15,0)
    arc.type = 2;
    arc.start = {20, 0, 0};
    arc.radius = 5;
    arc.startAngle = 0;
    arc.endAngle = 180;
    HatchEdge ellipse;  // the lower half of an ellipse, clockwise from (15,0) to (25,0)
    ellipse.type = 3;
    ellipse.start = {20, 0, 0};
    ellipse.end = {5, 0, 0};
    ellipse.radius = 0.4;
    ellipse.startAngle = 0;
    ellipse.endAngle = 180;
    ellipse.counterClockwise = false;
    p.edges = {arc, ellipse};
    HatchPath island;
    island.flags = 0;
    HatchEdge spline;
    spline.type = 4;
    spline.degree = 2;
    spline.rational = true;
    spline.knots = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4};
    spline.controlPoints = {{21, 0, 0}, {21, 1, 0}, {20, 1, 0}, {19, 1, 0}, {19, 0, 0},
                            {19, -1, 0}, {20, -1, 0}, {21, -1, 0}, {21, 0, 0}};
    spline.weights = {1, 0.7071067811865476, 1, 0.7071067811865476, 1, 0.7071067811865476, 1, 0.7071067811865476, 1};
    island.edges = {spline};
    h.paths = {p, island};
    h.seeds = {{20, 3, 0}, {24, 0.5, 0}};
    h.pixelSize = 0.125;
  }
  db.addEntity(db.modelSpace(), std::move(curved));
  return db;
}

void near(double a, double b, const char* what) { EXPECT_NEAR(a, b, 1e-9 * std::max(1.0, std::fabs(a))) << what; }
void nearPoint(const Point3& a, const Point3& b, bool z, const char* what) {
  near(a.x, b.x, what);
  near(a.y, b.y, what);
  if (z) near(a.z, b.z, what);
}

void expectSameDimension(const Dimension& a, const Dimension& b, Release r) {
  const bool z = r >= Release::R10;
  EXPECT_EQ(a.block, b.block);
  EXPECT_EQ(a.flags, b.flags);
  EXPECT_EQ(a.text, b.text);
  if (r >= Release::R12) {
    EXPECT_TRUE(sameName(a.style, b.style)) << b.style;
  }
  nearPoint(a.definition, b.definition, z, "definition");
  nearPoint(a.textMid, b.textMid, z, "textMid");
  switch (dimensionKind(a)) {
    case DimensionKind::Linear:
    case DimensionKind::Aligned:
    case DimensionKind::Ordinate:
      nearPoint(a.defPoint2, b.defPoint2, z, "13");
      nearPoint(a.defPoint3, b.defPoint3, z, "14");
      near(a.rotation, b.rotation, "rotation");
      break;
    case DimensionKind::Angular:
      nearPoint(a.arcPoint, b.arcPoint, z, "16");
      [[fallthrough]];
    case DimensionKind::Angular3Point:
      nearPoint(a.defPoint2, b.defPoint2, z, "13");
      nearPoint(a.defPoint3, b.defPoint3, z, "14");
      [[fallthrough]];
    case DimensionKind::Diameter:
    case DimensionKind::Radius:
      nearPoint(a.defPoint4, b.defPoint4, z, "15");
      near(a.leaderLength, b.leaderLength, "leader");
      break;
  }
  if (r >= Release::R2000) near(a.measurement, b.measurement, "measurement");
}

void expectSameHatch(const Hatch& a, const Hatch& b) {
  EXPECT_EQ(a.pattern, b.pattern);
  EXPECT_EQ(a.solidFill, b.solidFill);
  EXPECT_EQ(a.associative, b.associative);
  EXPECT_EQ(a.style, b.style);
  EXPECT_EQ(a.patternType, b.patternType);
  near(a.elevation.z, b.elevation.z, "elevation");
  near(a.pixelSize, b.pixelSize, "pixel size");
  if (a.solidFill == 0) {
    near(a.angle, b.angle, "angle");
    near(a.scale, b.scale, "scale");
    ASSERT_EQ(a.lines.size(), b.lines.size());
    for (std::size_t i = 0; i < a.lines.size(); ++i) {
      near(a.lines[i].angle, b.lines[i].angle, "line angle");
      near(a.lines[i].baseX, b.lines[i].baseX, "base");
      near(a.lines[i].offsetY, b.lines[i].offsetY, "offset");
      EXPECT_EQ(a.lines[i].dashes, b.lines[i].dashes);
    }
  }
  ASSERT_EQ(a.seeds.size(), b.seeds.size());
  for (std::size_t i = 0; i < a.seeds.size(); ++i) nearPoint(a.seeds[i], b.seeds[i], false, "seed");
  ASSERT_EQ(a.paths.size(), b.paths.size());
  for (std::size_t i = 0; i < a.paths.size(); ++i) {
    const HatchPath &p = a.paths[i], &q = b.paths[i];
    EXPECT_EQ(p.flags, q.flags);
    EXPECT_EQ(p.sources.size(), q.sources.size());
    ASSERT_EQ(p.vertices.size(), q.vertices.size());
    for (std::size_t k = 0; k < p.vertices.size(); ++k) {
      nearPoint(p.vertices[k].location, q.vertices[k].location, false, "vertex");
      near(p.vertices[k].bulge, q.vertices[k].bulge, "bulge");
    }
    ASSERT_EQ(p.edges.size(), q.edges.size());
    for (std::size_t k = 0; k < p.edges.size(); ++k) {
      const HatchEdge &e = p.edges[k], &f = q.edges[k];
      EXPECT_EQ(e.type, f.type);
      if (e.type != 4) {
        nearPoint(e.start, f.start, false, "edge start");
        if (e.type != 2) nearPoint(e.end, f.end, false, "edge end");
        if (e.type != 1) {
          near(e.radius, f.radius, "radius");
          near(e.startAngle, f.startAngle, "start angle");
          near(e.endAngle, f.endAngle, "end angle");
          EXPECT_EQ(e.counterClockwise, f.counterClockwise);
        }
      } else {
        EXPECT_EQ(e.degree, f.degree);
        EXPECT_EQ(e.rational, f.rational);
        EXPECT_EQ(e.knots, f.knots);
        EXPECT_EQ(e.weights, f.weights);
        ASSERT_EQ(e.controlPoints.size(), f.controlPoints.size());
        for (std::size_t c = 0; c < e.controlPoints.size(); ++c)
          nearPoint(e.controlPoints[c], f.controlPoints[c], false, "control point");
      }
    }
  }
}

using sample::everyWrittenForm;
using sample::Form;

std::string written(Database& db, const Form& form) {
  StringSink sink;
  const Status s = writeDxf(db, sink, {form.release, form.binary, 17});
  EXPECT_TRUE(s.ok()) << s.detail;
  return sink.data;
}

// The area of a SOLID (corners in Z order).
double solidArea(const Solid& s) {
  const Point3 ring[] = {s.corner1, s.corner2, s.corner4, s.corner3};
  double twice = 0;
  for (int i = 0; i < 4; ++i) twice += ring[i].x * ring[(i + 1) % 4].y - ring[(i + 1) % 4].x * ring[i].y;
  return std::fabs(twice) / 2;
}

// Area of the SOLIDs and length of the LINEs of a block.
struct Drawn {
  double area = 0, length = 0;
  std::size_t solids = 0, lines = 0, points = 0, texts = 0, arcs = 0;
};
Drawn drawnIn(const Database& db, const BlockRecord& b) {
  Drawn d;
  for (EntityId id : b.entities) {
    const Entity& e = db.entities[id];
    if (const auto* s = get_if<Solid>(&e.data)) {
      d.area += solidArea(*s);
      ++d.solids;
    } else if (const auto* l = get_if<Line>(&e.data)) {
      d.length += std::hypot(l->end.x - l->start.x, l->end.y - l->start.y);
      ++d.lines;
    } else if (holds_alternative<PointEntity>(e.data)) {
      ++d.points;
    } else if (holds_alternative<Text>(e.data)) {
      ++d.texts;
    } else if (holds_alternative<Arc>(e.data)) {
      ++d.arcs;
    }
  }
  return d;
}

TEST(DimensionBlock, MeasuresEachKindAndDrawsIt) {
  Database db = drawing(Release::R2000);
  const BlockRecord& ms = db.modelSpace();
  ASSERT_GE(ms.entities.size(), std::size(kMeasured) + 1);
  for (std::size_t i = 0; i < std::size(kMeasured); ++i) {
    SCOPED_TRACE(kMeasured[i].name);
    const Dimension& d = get<Dimension>(db.entities[ms.entities[i + 1]].data);
    near(d.measurement, kMeasured[i].measurement, "measurement");
    EXPECT_EQ(d.flags & 32, 32);
    const BlockRecord* b = db.findBlock(d.block);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name.substr(0, 2), "*D");
    EXPECT_EQ(b->flags & 1, 1);
    const Drawn drawn = drawnIn(db, *b);
    EXPECT_EQ(drawn.texts, 1u);
    EXPECT_GE(drawn.points, 2u);
    const DimensionKind kind = dimensionKind(d);
    const bool angular = kind == DimensionKind::Angular || kind == DimensionKind::Angular3Point;
    // The style puts the text on the line (DIMTAD 0): an arc is broken
    // around it.
    EXPECT_EQ(drawn.arcs, angular ? 2u : 0u);
    // Arrows at both ends of a dimension line or arc, one at a radius.
    const std::size_t arrows = kind == DimensionKind::Ordinate ? 0 : kind == DimensionKind::Radius ? 1 : 2;
    EXPECT_EQ(drawn.solids, arrows);
    // The text of the block says what the dimension measures.
    for (EntityId id : b->entities)
      if (const auto* t = get_if<Text>(&db.entities[id].data)) {
        EXPECT_EQ(t->value, dimensionText(d, db.dimstyles.find("Standard")->data, d.measurement));
        nearPoint(t->alignment, d.textMid, true, "text at the text point");
      }
  }
  // The blocks are numbered apart; rebuilding keeps the block and its name.
  const EntityId first = ms.entities[1];
  const std::string name = get<Dimension>(db.entities[first].data).block;
  const std::size_t blocks = db.blocks.size();
  ASSERT_TRUE(buildDimensionBlock(db, first).ok());
  EXPECT_EQ(get<Dimension>(db.entities[first].data).block, name);
  EXPECT_EQ(db.blocks.size(), blocks);
  EXPECT_FALSE(buildDimensionBlock(db, ms.entities[0]).ok());  // a line
}

TEST(DimensionBlock, TextFollowsOverrideAndStyle) {
  struct Case {
    DimensionKind kind;
    const char* override;
    int decimals;
    double rounding;
    int zeroSuppression;
    const char* post;
    double measurement;
    const char* shown;
  };
  const Case cases[] = {
      {DimensionKind::Linear, "", 4, 0, 0, "", 3, "3.0000"},
      {DimensionKind::Linear, "", 2, 0, 8, "", 2.5, "2.5"},
      {DimensionKind::Linear, "", 2, 0, 8, "", 3, "3"},
      {DimensionKind::Linear, "", 2, 0.25, 0, "", 3.13, "3.25"},
      {DimensionKind::Linear, "", 1, 0, 0, " mm", 12, "12.0 mm"},
      {DimensionKind::Linear, "", 1, 0, 0, "ca. <> mm", 12, "ca. 12.0 mm"},
      {DimensionKind::Linear, "<> (ref)", 0, 0, 0, "", 7.4, "7 (ref)"},
      {DimensionKind::Linear, "fixed", 0, 0, 0, "", 7.4, "fixed"},
      {DimensionKind::Linear, " ", 0, 0, 0, "", 7.4, ""},
      {DimensionKind::Radius, "", 1, 0, 0, "", 3, "R3.0"},
      {DimensionKind::Diameter, "", 1, 0, 0, "", 4, "%%c4.0"},
      {DimensionKind::Angular, "", 0, 0, 0, "", kPi / 3, "60%%d"},
      {DimensionKind::Angular3Point, "", 1, 0, 8, "", 3 * kPi / 2, "270%%d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    Dimension d;
    d.flags = static_cast<std::int32_t>(c.kind);
    d.text = c.override;
    DimStyle s;
    s.decimals = c.decimals;
    s.rounding = c.rounding;
    s.zeroSuppression = c.zeroSuppression;
    s.post = c.post;
    EXPECT_EQ(dimensionText(d, s, c.measurement), c.shown);
  }
}

TEST(HatchDrawing, FillsByOddParityAndClipsPatterns) {
  Database db = drawing(Release::R2000);
  const BlockRecord& ms = db.modelSpace();
  const std::size_t first = std::size(kMeasured) + 1;
  const Hatch& solid = get<Hatch>(db.entities[ms.entities[first]].data);
  const Hatch& lines = get<Hatch>(db.entities[ms.entities[first + 1]].data);
  // The solid square with its hole: 100 - 16, whatever the loops' kinds.
  Database scratch = Database::create(Release::R12);
  auto drawnOf = [&](const Hatch& h) {
    BlockRecord& b = scratch.addBlock("*X" + std::to_string(scratch.blocks.size()));
    const std::size_t index = scratch.blockIndex(b);
    for (Entity& e : hatchDrawing(h)) scratch.addEntity(scratch.blocks[index], std::move(e));
    return drawnIn(scratch, scratch.blocks[index]);
  };
  near(drawnOf(solid).area, 84, "solid area");
  Hatch solidOfEdges = solid;
  solidOfEdges.paths = lines.paths;
  near(drawnOf(solidOfEdges).area, 84, "solid area of edge loops");
  // Lines one unit apart: as long in sum as the area.
  near(drawnOf(lines).length, 84, "line length");
  // A double user-defined hatch without definition lines: both families
  // (the loops kept off the lines, which a rounding would otherwise let
  // touch them).
  Hatch doubled = lines;
  doubled.lines.clear();
  doubled.doubled = 1;
  doubled.paths = {squareOfEdges(0.25, 0.25, 10, 1), squareOfEdges(3.25, 3.25, 4, 0)};
  near(drawnOf(doubled).length, 168, "double line length");
  // Dashes of 1.25 with gaps: 1.25 of every 1.75 units drawn on the lines.
  Hatch dashed = lines;
  dashed.lines = {HatchLine{0, 0, 0, 0, 1, {1.25, -0.5}}};
  dashed.paths = {square(0, 0, 7, 1)};
  near(drawnOf(dashed).length, 7 * 4 * 1.25, "dashed length");
  // A disc of radius 1 from a full circle edge: the flattened area is a
  // little less than pi.
  Hatch disc = solid;
  HatchPath circle;
  circle.flags = 1;
  HatchEdge e;
  e.type = 2;
  e.radius = 1;
  circle.edges = {e};
  disc.paths = {circle};
  const double area = drawnOf(disc).area;
  EXPECT_GT(area, kPi * 0.99);
  EXPECT_LT(area, kPi);
  // Loops that cross themselves or each other fill by odd parity too: a
  // bow tie of two unit triangles, two squares overlapping by one unit.
  Hatch crossing = solid;
  HatchPath bow;
  bow.flags = 3;
  bow.vertices = {{{0, 0, 0}, 0}, {{2, 2, 0}, 0}, {{2, 0, 0}, 0}, {{0, 2, 0}, 0}};
  crossing.paths = {bow};
  near(drawnOf(crossing).area, 2, "bow tie");
  crossing.paths = {square(0, 0, 2, 1), square(1, 1, 2, 1)};
  near(drawnOf(crossing).area, 6, "overlapping squares");
  // Vertices at the same heights, steps and teeth: a comb of three teeth.
  Hatch comb = solid;
  HatchPath teeth;
  teeth.flags = 3;
  teeth.vertices = {{{0, 0, 0}, 0}, {{5, 0, 0}, 0}, {{5, 3, 0}, 0}, {{4, 3, 0}, 0}, {{4, 1, 0}, 0}, {{3, 1, 0}, 0},
                    {{3, 3, 0}, 0}, {{2, 3, 0}, 0}, {{2, 1, 0}, 0}, {{1, 1, 0}, 0}, {{1, 3, 0}, 0}, {{0, 3, 0}, 0}};
  comb.paths = {teeth};
  near(drawnOf(comb).area, 5 + 3 * 2, "comb");
  // A pattern too fine to draw line by line is filled instead.
  Hatch fine = lines;
  fine.lines = {HatchLine{0, 0, 0, 0, 1e-6, {}}};
  const Drawn filled = drawnOf(fine);
  EXPECT_EQ(filled.lines, 0u);
  near(filled.area, 84, "fine pattern filled");
}

// The SOLIDs of a hatch's drawing: their area, whether all are finite,
// and what the drawing reported.
struct Filled {
  double area = 0;
  std::size_t solids = 0, others = 0;
  bool finite = true;
  std::vector<Finding> findings;
};
Filled filledOf(const Hatch& h) {
  Filled f;
  for (const Entity& e : hatchDrawing(h, 0x2A, &f.findings)) {
    const auto* s = get_if<Solid>(&e.data);
    if (s == nullptr) {
      ++f.others;
      continue;
    }
    const double a = solidArea(*s);
    f.finite = f.finite && std::isfinite(a);
    f.area += a;
    ++f.solids;
  }
  return f;
}

HatchPath polygon(const std::vector<Point3>& corners) {
  HatchPath p;
  p.flags = 3;
  for (const Point3& c : corners) p.vertices.push_back({c, 0});
  return p;
}

// Boundaries whose pieces nearly coincide, touch at their ends or run
// almost in line, in numbers: the order of pieces along a height is then
// at the mercy of rounding, which must never break the sweep (the
// sanitizers watch), and the fill stays within what rounding can move.
TEST(HatchDrawing, NearDegenerateBoundariesFillSafely) {
  struct Case {
    const char* name;
    std::vector<HatchPath> paths;
    double area, tolerance;
  };
  std::vector<Case> cases;
  {  // a checkerboard: 60 x 60 squares, neighbours touching at corners only
    Case c{"checkerboard", {}, 60 * 60 / 2, 1e-6};
    for (int i = 0; i < 60; ++i)
      for (int j = 0; j < 60; ++j)
        if ((i + j) % 2 == 0) c.paths.push_back(square(i, j, 1, 1));
    cases.push_back(std::move(c));
  }
  {  // a fan of 3000 slivers from one vertex, each a nanoradian wide
    Case c{"fan", {}, 0, 1e-9};
    for (int i = 0; i < 3000; ++i) {
      const double a = 0.3 + i * 2e-9, b = a + 1e-9;
      c.paths.push_back(polygon({{0, 0, 0}, {1000 * std::cos(a), 1000 * std::sin(a), 0}, {1000 * std::cos(b), 1000 * std::sin(b), 0}}));
      c.area += 0.5 * 1000 * 1000 * std::sin(1e-9);
    }
    c.tolerance = c.area * 0.01;
    cases.push_back(std::move(c));
  }
  {  // a saw: 5000 teeth of height 1e-12 under a flat top
    Case c{"saw", {}, 5000, 1e-6};
    std::vector<Point3> corners;
    for (int i = 0; i <= 5000; ++i) corners.push_back({static_cast<double>(i), (i % 2) * 1e-12, 0});
    corners.push_back({5000, 1, 0});
    corners.push_back({0, 1, 0});
    c.paths = {polygon(corners)};
    cases.push_back(std::move(c));
  }
  {  // 1000 copies of one square, each 1e-15 off the last: even parity, near nothing
    Case c{"stacked squares", {}, 0, 1e-6};
    for (int i = 0; i < 1000; ++i) c.paths.push_back(square(i * 1e-15, 0, 10, 1));
    cases.push_back(std::move(c));
  }
  {  // 1500 strips along one slope, 1e-13 apart, touching each other's ends
    Case c{"strips in line", {}, 1500 * 1e-3, 1e-6};
    for (int i = 0; i < 1500; ++i) {
      const double x = i, y = i * 0.7 + (i % 3) * 1e-13;
      c.paths.push_back(polygon({{x, y, 0}, {x + 1, y + 0.7, 0}, {x + 1, y + 0.701, 0}, {x, y + 0.001, 0}}));
    }
    cases.push_back(std::move(c));
  }
  for (const Case& c : cases) {
    Hatch h;
    h.solidFill = 1;
    h.paths = c.paths;
    const Filled f = filledOf(h);
    EXPECT_TRUE(f.finite) << c.name;
    EXPECT_EQ(f.others, 0u) << c.name;
    EXPECT_NEAR(f.area, c.area, c.tolerance) << c.name;
    EXPECT_TRUE(f.findings.empty()) << c.name;
  }
}

// Nothing of a hatch is lost silently: boundaries of any size are split
// where they cross themselves, and where a drawing stops at a limit or
// draws a pattern filled, the hatch's handle comes back with a finding,
// from hatchDrawing and from writing a release without HATCH.
TEST(HatchDrawing, LimitsAreReportedAndLargeCrossingBoundariesSplit) {
  // 1500 bow ties (6000 pieces): each fills its two triangles only.
  Hatch bows;
  bows.solidFill = 1;
  for (int i = 0; i < 1500; ++i) {
    const double x = 3.0 * i;
    bows.paths.push_back(polygon({{x, 0, 0}, {x + 2, 2, 0}, {x + 2, 0, 0}, {x, 2, 0}}));
  }
  const Filled bowsFilled = filledOf(bows);
  EXPECT_NEAR(bowsFilled.area, 1500 * 2, 1e-6);
  EXPECT_TRUE(bowsFilled.findings.empty());

  // A comb of 110000 pointed teeth (two SOLIDs each) needs more SOLIDs
  // than a drawing holds.
  Hatch comb;
  comb.solidFill = 1;
  std::vector<Point3> teeth = {{0, 0, 0}, {110000, 0, 0}};
  for (int i = 110000; i-- > 0;) {
    const double x = i;
    teeth.insert(teeth.end(), {{x + 1, 1, 0}, {x + 1, 2, 0}, {x + 0.5, 3, 0}});
  }
  teeth.push_back({0, 1, 0});
  comb.paths = {polygon(teeth)};
  // A pattern a millionth apart is drawn filled.
  Hatch fine;
  fine.solidFill = 0;
  fine.lines = {HatchLine{0, 0, 0, 0, 1e-6, {}}};
  fine.paths = {square(0, 0, 10, 1)};
  // A loop whose slanted side spans more than a double: its pieces
  // overflow and are left out.
  Hatch far;
  far.solidFill = 1;
  far.paths = {polygon({{-1.7e308, 0, 0}, {1.7e308, 1, 0}, {-1.7e308, 1, 0}})};
  struct Case {
    const char* name;
    const Hatch* hatch;
    const char* code;
    bool fixed;
    const char* says;
  };
  const Case cases[] = {
      {"comb", &comb, "hatch-drawn-in-part", false, "200000 entities"},
      {"fine pattern", &fine, "hatch-drawn-filled", true, "filled"},
      {"far out", &far, "hatch-drawn-in-part", false, "too far out"},
  };
  for (const Case& c : cases) {
    const Filled f = filledOf(*c.hatch);
    ASSERT_EQ(f.findings.size(), 1u) << c.name;
    EXPECT_EQ(f.findings[0].code, c.code) << c.name;
    EXPECT_EQ(f.findings[0].handle, 0x2Au) << c.name;
    EXPECT_EQ(f.findings[0].fixed, c.fixed) << c.name;
    EXPECT_NE(f.findings[0].detail.find(c.says), std::string::npos) << c.name << ": " << f.findings[0].detail;
  }
  // Through the writer: an R12 file of a drawing with the fine pattern
  // names that hatch, and a 2004 file names a spline edge it cannot hold.
  for (const Release r : {Release::R12, Release::R2004}) {
    Database db = Database::create(r);
    Entity e = makeEntity(EntityKind::Hatch);
    Hatch& h = get<Hatch>(e.data);
    h = fine;
    HatchPath fitOnly = squareOfEdges(20, 0, 5, 1);
    fitOnly.edges[0].type = 4;
    fitOnly.edges[0].degree = 3;
    fitOnly.edges[0].fitPoints = {{20, 0, 0}, {22, -1, 0}, {25, 0, 0}};
    h.paths.push_back(fitOnly);
    const EntityId id = db.addEntity(db.modelSpace(), std::move(e));
    const Handle handle = db.entities[id].common.handle;
    std::vector<Finding> findings;
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {r, false, 16, &findings}).ok());
    ASSERT_EQ(findings.size(), 1u) << releaseInfo(r).version;
    EXPECT_EQ(findings[0].code, r == Release::R12 ? "hatch-drawn-filled" : "hatch-spline-fit-only");
    EXPECT_EQ(findings[0].handle, handle);
  }
}

TEST(DimensionHatch, EveryReleaseReadsBackWhatItCanHold) {
  for (const Form& form : everyWrittenForm()) {
    SCOPED_TRACE(std::string(releaseInfo(form.release).version) + (form.binary ? " binary" : " ASCII"));
    Database db = drawing(form.release);
    const std::string file = written(db, form);
    Database back;
    const DxfReadResult r = readDxf(file, back);
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    for (const Finding& f : r.findings) ADD_FAILURE() << f.code << ": " << f.detail;
    for (const Finding& f : audit(back, {false})) ADD_FAILURE() << "audit: " << f.code << ": " << f.detail;
    const BlockRecord& ms = db.modelSpace();
    const BlockRecord& ms2 = back.modelSpace();
    ASSERT_EQ(ms.entities.size(), ms2.entities.size());
    for (std::size_t i = 1; i < ms.entities.size(); ++i) {
      const Entity& a = db.entities[ms.entities[i]];
      const Entity& b = back.entities[ms2.entities[i]];
      EXPECT_EQ(a.common.colour, b.common.colour);
      EXPECT_EQ(a.common.layer, b.common.layer);
      EXPECT_TRUE(sameName(a.common.linetype, b.common.linetype));
      if (form.release >= Release::R10) {
        EXPECT_EQ(a.common.handle, b.common.handle);
      }
      if (const auto* d = get_if<Dimension>(&a.data)) {
        ASSERT_EQ(b.kind, EntityKind::Dimension);
        expectSameDimension(*d, get<Dimension>(b.data), form.release);
        const BlockRecord* blockA = db.findBlock(d->block);
        const BlockRecord* blockB = back.findBlock(get<Dimension>(b.data).block);
        ASSERT_NE(blockB, nullptr);
        EXPECT_EQ(blockA->entities.size(), blockB->entities.size());
        EXPECT_EQ(blockB->flags & 1, 1);
        continue;
      }
      const Hatch& h = get<Hatch>(a.data);
      if (form.release >= Release::R14) {
        ASSERT_EQ(b.kind, EntityKind::Hatch);
        expectSameHatch(h, get<Hatch>(b.data));
        continue;
      }
      // Before R14: an insert of an anonymous block that draws the hatch.
      ASSERT_EQ(b.kind, EntityKind::Insert);
      const Insert& ins = get<Insert>(b.data);
      const BlockRecord* drawn = back.findBlock(ins.block);
      ASSERT_NE(drawn, nullptr);
      EXPECT_EQ(drawn->name.substr(0, 2), "*X");
      EXPECT_EQ(drawn->flags & 1, 1);
      if (form.release >= Release::R10) {
        EXPECT_EQ(ins.insertion.z, h.elevation.z);
      }
      const Drawn d = drawnIn(back, *drawn);
      if (i == std::size(kMeasured) + 1) near(d.area, 84, "solid area");
      if (i == std::size(kMeasured) + 2) near(d.length, 84, "line length");
      if (i == std::size(kMeasured) + 3) {
        EXPECT_GT(d.lines, 10u);
        EXPECT_GT(d.points, 0u);  // the dots of the dashed family
      }
    }
    // The database written from is unchanged by the drawing of hatches.
    EXPECT_EQ(db.entities[ms.entities.back()].kind, EntityKind::Hatch);
  }
}

TEST(DimensionHatch, AuditFindsDanglingReferences) {
  Database db = drawing(Release::R2000);
  const std::vector<EntityId> ms = db.modelSpace().entities;  // the repair adds blocks
  Dimension& d = get<Dimension>(db.entities[ms[1]].data);
  d.block = "*D999";
  d.style = "NO_SUCH_STYLE";
  Hatch& h = get<Hatch>(db.entities[ms[std::size(kMeasured) + 1]].data);
  h.paths[1].sources = {0xFFFFF};
  get<Hatch>(db.entities[ms[std::size(kMeasured) + 2]].data).paths.clear();
  get<Hatch>(db.entities[ms[std::size(kMeasured) + 3]].data).paths[1].edges[0].knots.pop_back();
  std::vector<std::string> codes;
  for (const Finding& f : audit(db)) codes.push_back(f.code);
  const std::vector<std::string> expected{"undefined-block", "undefined-dimstyle", "dangling-reference", "empty-hatch",
                                          "bad-spline-edge"};
  EXPECT_EQ(codes, expected);
  const Dimension& fixed = get<Dimension>(db.entities[ms[1]].data);
  EXPECT_NE(db.findBlock(fixed.block), nullptr);
  EXPECT_EQ(fixed.style, "Standard");
  EXPECT_TRUE(h.paths[1].sources.empty());
  EXPECT_EQ(db.modelSpace().entities.size(), std::size(kMeasured) + 3);  // the hatch without boundary is gone
  // The spline edge with a knot too few became the lines of its control
  // polygon; the repaired drawing audits clean.
  const HatchPath& island = get<Hatch>(db.entities[ms[std::size(kMeasured) + 3]].data).paths[1];
  ASSERT_EQ(island.edges.size(), 8u);
  EXPECT_EQ(island.edges[7].type, 1);
  EXPECT_EQ(island.edges[7].end, (Point3{21, 0, 0}));
  EXPECT_TRUE(audit(db).empty());
}

// A dimension naming no style has the default one; in a drawing without
// it, the current style ($DIMSTYLE).  A style named but missing stays for
// the audit to find.
TEST(DimensionHatch, DimensionWithoutStyleTakesTheCurrentOne) {
  const std::string file =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n9\n$DIMSTYLE\n2\nISO-25\n0\nENDSEC\n"
      "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nDIMSTYLE\n70\n1\n0\nDIMSTYLE\n2\nISO-25\n70\n0\n0\nENDTAB\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n"
      "0\nDIMENSION\n8\n0\n2\n*D1\n10\n0\n20\n0\n11\n1\n21\n1\n70\n1\n13\n0\n23\n0\n14\n2\n24\n0\n"
      "0\nDIMENSION\n8\n0\n2\n*D2\n3\nOTHER\n10\n0\n20\n0\n11\n1\n21\n1\n70\n1\n13\n0\n23\n0\n14\n2\n24\n0\n"
      "0\nENDSEC\n0\nEOF\n";
  Database db;
  ASSERT_TRUE(readDxf(file, db).status.ok());
  const auto& ms = db.modelSpace().entities;
  ASSERT_EQ(ms.size(), 2u);
  EXPECT_EQ(get<Dimension>(db.entities[ms[0]].data).style, "ISO-25");
  EXPECT_EQ(get<Dimension>(db.entities[ms[1]].data).style, "OTHER");
  std::size_t styleFindings = 0;
  for (const Finding& f : audit(db, {false})) styleFindings += f.code == "undefined-dimstyle" ? 1 : 0;
  EXPECT_EQ(styleFindings, 1u);
}

// Counts far beyond the file, paths and edges cut short or out of order:
// read without large allocations, and written again.
TEST(DimensionHatch, DamagedHatchGroupsReadSafely) {
  const std::string head = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nHATCH\n5\n2F\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbHatch\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n";
  const std::string tail = "75\n0\n76\n1\n98\n2000000000\n10\n1\n0\nENDSEC\n0\nEOF\n";
  const std::string bodies[] = {
      "91\n2000000000\n92\n2\n72\n1\n73\n1\n93\n2000000000\n10\n1\n20\n2\n42\n0.5\n",
      "91\n1\n92\n1\n93\n-5\n72\n4\n94\n3\n95\n2000000000\n96\n2000000000\n40\n1\n10\n1\n20\n1\n97\n2000000000\n",
      "10\n5\n42\n1\n72\n9\n11\n3\n92\n0\n72\n77\n40\n1\n72\n2\n97\n1\n330\nABC\n",
      "91\n1\n92\n0\n93\n1\n72\n4\n94\n-7\n95\n3\n96\n2\n40\n0\n40\n1\n40\n2\n10\n0\n20\n0\n10\n1e308\n20\n-1e308\n",
  };
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    Database db;
    const DxfReadResult r = readDxf(head + body + tail, db);
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    for (const Form form : {Form{Release::R2000, false}, Form{Release::R12, false}}) {
      StringSink sink;
      ASSERT_TRUE(writeDxf(db, sink, {form.release, false, 17}).ok());
      Database again;
      EXPECT_TRUE(readDxf(sink.data, again).status.ok());
    }
  }
}

// Reals far beyond the integers where an integer belongs (a header
// variable) read as the nearest 32-bit integer.
TEST(DimensionHatch, RealsWhereIntegersBelongAreClamped) {
  const std::string file =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$LUNITS\n40\n1e20\n9\n$LUPREC\n40\n-1e20\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n0\nHATCH\n5\n2F\n330\n1F\n100\nAcDbEntity\n8\n0\n100\nAcDbHatch\n"
      "10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n75\n0\n76\n1\n47\n1\n0\nENDSEC\n0\nEOF\n";
  Database db;
  ASSERT_TRUE(readDxf(file, db).status.ok());
  EXPECT_EQ(db.header.integer("$LUNITS"), 2147483647);
  EXPECT_EQ(db.header.integer("$LUPREC"), -2147483647 - 1);
}

// --------------------------------------------------------------- peer

const char* kPeerScript = R"PY(
import sys, math, ezdxf
from ezdxf import path as P
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
print("ERRORS", len(auditor.errors))
for e in auditor.errors:
    print("AUDIT", e.code, e.message)
def p(v): return [float(c) for c in v][:2]
# The area the peer's own reading of the boundary encloses: external
# loops count, the others are holes.
def region(h):
    total = 0.0
    for pa, bp in zip(P.from_hatch(h), h.paths):
        q = list(pa.flattening(0.0001))
        a = abs(sum(q[i].x * q[i + 1].y - q[i + 1].x * q[i].y for i in range(len(q) - 1))) / 2
        total += a if (bp.path_type_flags & 1) else -a
    return total
def drawn(name):
    area = length = 0.0
    for x in doc.blocks.get(name):
        t = x.dxftype()
        if t == "SOLID":
            r = [x.dxf.vtx0, x.dxf.vtx1, x.dxf.vtx3, x.dxf.vtx2]
            area += abs(sum(r[i][0] * r[(i + 1) % 4][1] - r[(i + 1) % 4][0] * r[i][1] for i in range(4))) / 2
        elif t == "LINE":
            length += math.dist(p(x.dxf.start), p(x.dxf.end))
    return [area, length]
for e in doc.modelspace():
    t = e.dxftype(); d = e.dxf; n = []
    if t == "DIMENSION":
        blk = doc.blocks.get(d.geometry)
        n = [d.dimtype, len(blk) if blk is not None else -1] + p(d.defpoint) + p(d.text_midpoint)
        for k in ("defpoint2", "defpoint3", "defpoint4", "defpoint5"): n += p(d.get(k, (0, 0, 0)))
        t += ":" + d.get("dimstyle", "") + ":" + d.get("text", "")
    elif t == "HATCH":
        n = [d.solid_fill, len(e.paths), len(e.seeds)]
        for path in e.paths:
            if path.type == 1:
                n += [1, len(path.vertices)]
                for v in path.vertices: n += [v[0], v[1], v[2]]
            else:
                n += [2, len(path.edges)]
                for g in path.edges:
                    k = g.type.value if hasattr(g.type, "value") else g.type
                    n += [k]
                    if k == 1: n += p(g.start) + p(g.end)
                    elif k == 2: n += p(g.center) + [g.radius, g.start_angle, g.end_angle, 1 if g.ccw else 0]
                    elif k == 3: n += p(g.center) + p(g.major_axis) + [g.ratio, g.start_angle, g.end_angle, 1 if g.ccw else 0]
                    elif k == 4:
                        n += [g.degree, len(g.knot_values), len(g.control_points)] + list(g.knot_values)
                        for c in g.control_points: n += p(c)
                        n += list(g.weights)
        if not d.solid_fill:
            n += [len(e.pattern.lines)]
            for l in e.pattern.lines: n += [l.angle] + p(l.base_point) + p(l.offset) + list(l.dash_length_items)
        t += ":" + d.pattern_name + ":" + repr(region(e))
    elif t == "INSERT":
        n = drawn(d.name)
        t += ":" + d.name[:2]
    print("%s|%s|%d|%s|%s" % (t, d.get("layer", "0"), d.get("color", 256), d.get("linetype", "BYLAYER"), " ".join(repr(float(x)) for x in n)))
)PY";

void pushPoint(std::vector<double>& n, const Point3& p) {
  n.push_back(p.x);
  n.push_back(p.y);
}

// What the peer must list of a dimension or hatch of ours.
std::vector<double> expectedNumbers(Database& db, const Entity& e, Release r) {
  std::vector<double> n;
  if (const auto* d = get_if<Dimension>(&e.data)) {
    n = {static_cast<double>(d->flags), static_cast<double>(db.findBlock(d->block)->entities.size())};
    pushPoint(n, d->definition);
    pushPoint(n, d->textMid);
    const bool angular = dimensionKind(*d) == DimensionKind::Angular;
    const bool hasPoint4 = dimensionKind(*d) != DimensionKind::Linear && dimensionKind(*d) != DimensionKind::Aligned &&
                           dimensionKind(*d) != DimensionKind::Ordinate;
    const bool hasPoint23 = dimensionKind(*d) != DimensionKind::Radius && dimensionKind(*d) != DimensionKind::Diameter;
    pushPoint(n, hasPoint23 ? d->defPoint2 : Point3{});
    pushPoint(n, hasPoint23 ? d->defPoint3 : Point3{});
    pushPoint(n, hasPoint4 ? d->defPoint4 : Point3{});
    pushPoint(n, angular ? d->arcPoint : Point3{});
    return n;
  }
  const Hatch& h = get<Hatch>(e.data);
  if (r < Release::R14) {
    const auto& drawn = hatchDrawing(h);
    double area = 0, length = 0;
    for (const Entity& x : drawn) {
      if (const auto* s = get_if<Solid>(&x.data)) {
        area += solidArea(*s);
      } else if (const auto* l = get_if<Line>(&x.data)) {
        length += std::hypot(l->end.x - l->start.x, l->end.y - l->start.y);
      }
    }
    return {area, length};
  }
  n = {static_cast<double>(h.solidFill), static_cast<double>(h.paths.size()), static_cast<double>(h.seeds.size())};
  for (const HatchPath& p : h.paths) {
    if (p.flags & 2) {
      n.insert(n.end(), {1, static_cast<double>(p.vertices.size())});
      for (const HatchVertex& v : p.vertices) n.insert(n.end(), {v.location.x, v.location.y, v.bulge});
      continue;
    }
    n.insert(n.end(), {2, static_cast<double>(p.edges.size())});
    for (const HatchEdge& g : p.edges) {
      n.push_back(g.type);
      // The peer shows clockwise arcs with their angles unmirrored.
      const double start = g.counterClockwise ? g.startAngle : 360 - g.endAngle;
      const double end = g.counterClockwise ? g.endAngle : 360 - g.startAngle;
      if (g.type == 1) {
        pushPoint(n, g.start);
        pushPoint(n, g.end);
      } else if (g.type == 2) {
        pushPoint(n, g.start);
        n.insert(n.end(), {g.radius, start, end, g.counterClockwise ? 1.0 : 0.0});
      } else if (g.type == 3) {
        pushPoint(n, g.start);
        pushPoint(n, g.end);
        n.insert(n.end(), {g.radius, start, end, g.counterClockwise ? 1.0 : 0.0});
      } else {
        n.insert(n.end(), {static_cast<double>(g.degree), static_cast<double>(g.knots.size()),
                           static_cast<double>(g.controlPoints.size())});
        n.insert(n.end(), g.knots.begin(), g.knots.end());
        for (const Point3& c : g.controlPoints) pushPoint(n, c);
        n.insert(n.end(), g.weights.begin(), g.weights.end());
      }
    }
  }
  if (h.solidFill == 0) {
    n.push_back(static_cast<double>(h.lines.size()));
    for (const HatchLine& l : h.lines) {
      n.insert(n.end(), {l.angle, l.baseX, l.baseY, l.offsetX, l.offsetY});
      n.insert(n.end(), l.dashes.begin(), l.dashes.end());
    }
  }
  return n;
}

class PeerReadsDimensionsAndHatches : public ::testing::TestWithParam<Form> {};

TEST_P(PeerReadsDimensionsAndHatches, AsWritten) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const Form form = GetParam();
  Database db = drawing(form.release);
  const std::string path = "/tmp/drawingdb_dimhatch_" + std::to_string(getpid()) + "_" + sample::formName(form) + ".dxf";
  std::ofstream(path, std::ios::binary) << written(db, form);
  const sample::PeerResult peer = sample::readWithPeer(path, kPeerScript);
  std::remove(path.c_str());
  ASSERT_TRUE(peer.ran) << peer.auditText;
  EXPECT_EQ(peer.errors, 0) << peer.auditText;
  const BlockRecord& ms = db.modelSpace();
  ASSERT_EQ(peer.entities.size(), ms.entities.size());
  for (std::size_t i = 1; i < ms.entities.size(); ++i) {
    const Entity& e = db.entities[ms.entities[i]];
    const sample::PeerEntity& got = peer.entities[i];
    SCOPED_TRACE(got.kind);
    const bool asBlock = e.kind == EntityKind::Hatch && form.release < Release::R14;
    EXPECT_EQ(got.kind.substr(0, got.kind.find(':')), asBlock ? "INSERT" : std::string(dxfNameOf(e.kind)));
    EXPECT_EQ(got.colour, e.common.colour);
    EXPECT_EQ(got.layer, e.common.layer);
    EXPECT_TRUE(sameName(got.linetype, e.common.linetype)) << got.linetype;
    const std::vector<double> want = expectedNumbers(db, e, form.release);
    ASSERT_EQ(got.numbers.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got.numbers[k], want[k], 1e-9 * std::max(1.0, std::fabs(want[k]))) << k;
    if (const auto* h = get_if<Hatch>(&e.data); h != nullptr && !asBlock) {
      // The peer reads the loops as enclosing the area our filling covers
      // (up to the flattening of curves): clockwise arcs, ellipses and
      // rational splines mean the same to both.
      Hatch filled = *h;
      filled.solidFill = 1;
      double area = 0;
      for (const Entity& x : hatchDrawing(filled)) area += solidArea(get<Solid>(x.data));
      const double peerArea = std::stod(got.kind.substr(got.kind.rfind(':') + 1));
      EXPECT_NEAR(area, peerArea, 0.005 * peerArea);
    }
    if (const auto* d = get_if<Dimension>(&e.data)) {
      const std::string text = d->text;
      EXPECT_EQ(got.kind, "DIMENSION:Standard:" + text);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, PeerReadsDimensionsAndHatches,
                         ::testing::ValuesIn(sample::peerJudgedForms()),
                         [](const auto& info) { return sample::formName(info.param); });

}  // namespace

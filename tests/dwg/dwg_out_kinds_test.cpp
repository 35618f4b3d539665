// DwgOut's splines, dimensions and hatches: what each makes in the
// database, the loops it chains from the boundary list, and the saved file
// of every -acad release read back by the toolkit and by ezdxf.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "drawingdb/file_io.h"
#include "dwg/dwg_out.h"
#include "dwg/out_para.h"
#include "dwg/start_data.h"
#include "support/ide_msg.h"
#include "tests/drawingdb/sample_drawing.h"
#include "tests/dwg/dwg_out_support.h"

namespace {

using drawingdb::Point3;
using drawingdb::Release;

constexpr double kPi = std::numbers::pi;

using DwgOutKinds = DwgOutFixture;

// ------------------------------------------------------------- splines

TEST_F(DwgOutKinds, SplinesAreCheckedAndKept) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  const std::vector<Point3> four{{0, 0, 0}, {1, 2, 0}, {3, 2, 0}, {4, 0, 0}};
  const std::vector<double> clamped{0, 0, 0, 0, 1, 1, 1, 1};
  const struct {
    const char* what;
    int degree;
    std::vector<double> knots;
    std::vector<Point3> points;
    std::vector<double> weights;
  } refused[] = {
      {"degree 0", 0, {0, 1, 2, 3, 4}, four, {}},
      {"a knot too few", 3, {0, 0, 0, 1, 1, 1, 1}, four, {}},
      {"knots falling", 3, {0, 0, 0, 0, 1, 0.5, 1, 1}, four, {}},
      {"no span", 3, {0, 0, 0, 0, 0, 0, 0, 0}, four, {}},
      {"too few points", 3, {0, 0, 0, 0, 1, 1, 1}, {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}}, {}},
      {"weights missing one", 3, clamped, four, {1, 1, 1}},
      {"weight zero", 3, clamped, four, {1, 0, 1, 1}},
      {"knot not finite", 3, {0, 0, 0, 0, NAN, 1, 1, 1}, four, {}},
      {"point not finite", 3, clamped, {{0, 0, 0}, {1, INFINITY, 0}, {3, 2, 0}, {4, 0, 0}}, {}},
  };
  for (const auto& r : refused) EXPECT_EQ(out.spline(r.degree, r.knots, r.points, r.weights, {}), -1) << r.what;
  EXPECT_EQ(modelCount(), 0u);

  // Equal weights: a plain spline; others: rational.  Flat ones are planar.
  ASSERT_EQ(out.spline(3, clamped, four, {2, 2, 2, 2}, {}), 0);
  const auto& plain = drawingdb::get<drawingdb::Spline>(last().data);
  EXPECT_TRUE(plain.weights.empty());
  EXPECT_EQ(std::tuple(plain.flags, plain.knots, plain.controlPoints), std::tuple(8, clamped, four));
  std::vector<Point3> lifted = four;
  lifted[1].z = 1;
  ASSERT_EQ(out.spline(3, clamped, lifted, {1, 0.5, 0.5, 1}, {}), 0);
  const auto& rational = drawingdb::get<drawingdb::Spline>(last().data);
  EXPECT_EQ(std::tuple(rational.flags, rational.weights), std::tuple(4, (std::vector<double>{1, 0.5, 0.5, 1})));

  // Collect mode: segments along the curve from its first to its last point.
  out.setCollect(true);
  ASSERT_EQ(out.spline(3, clamped, four, {}, {}), 0);
  out.setCollect(false);
  EXPECT_EQ(modelCount(), 2u);
  const auto& b = out.boundary();
  ASSERT_GT(b.size(), 4u);
  EXPECT_EQ(b.front().start, four.front());
  EXPECT_NEAR(b.back().end.x, 4, 1e-12);
  for (std::size_t i = 1; i < b.size(); ++i) EXPECT_EQ(b[i].start, b[i - 1].end);
}

// ------------------------------------------------------------- hatches

// The loops DwgOut chains from a boundary list: curves out of order and
// the wrong way round still meet; an arc taken backwards becomes a
// clockwise edge over the same points; an open chain is left out.
TEST_F(DwgOutKinds, BoundaryCurvesChainIntoLoops) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  out.setCollect(true);
  // Outer: (0,0)-(10,0), the half circle over (10,0)..(10,10) bulging
  // right, (10,10)-(0,10) given backwards, (0,0)-(0,10) given backwards.
  ASSERT_EQ(out.line({0, 0, 0}, {10, 0, 0}, {}), 0);
  ASSERT_EQ(out.line({0, 10, 0}, {10, 10, 0}, {}), 0);  // backwards
  ASSERT_EQ(out.circleArc({10, 5, 0}, {10, 0, 0}, {10, 10, 0}, {}), 0);
  ASSERT_EQ(out.line({0, 10, 0}, {0, 0.00005, 0}, {}), 0);  // meets within the gap
  // An island circle and an open chain.
  ASSERT_EQ(out.circleArc({5, 5, 0}, {7, 5, 0}, {7, 5, 0}, {}), 0);
  ASSERT_EQ(out.line({20, 0, 0}, {30, 0, 0}, {}), 0);
  ASSERT_EQ(out.line({30, 0, 0}, {30, 10, 0}, {}), 0);
  out.setCollect(false);
  DwgHatch solid;
  ASSERT_EQ(out.hatch(solid, {}), 0);
  EXPECT_TRUE(out.boundary().empty());
  const auto& h = drawingdb::get<drawingdb::Hatch>(last().data);
  ASSERT_EQ(h.paths.size(), 2u);
  const auto& outer = h.paths[0];
  EXPECT_EQ(outer.flags, 1);
  ASSERT_EQ(outer.edges.size(), 4u);
  EXPECT_EQ(std::tuple(outer.edges[0].start, outer.edges[0].end), std::tuple((Point3{0, 0, 0}), (Point3{10, 0, 0})));
  // The arc, found by its end although listed after the backwards line.
  EXPECT_EQ(outer.edges[1].type, 2);
  EXPECT_TRUE(outer.edges[1].counterClockwise);
  EXPECT_NEAR(outer.edges[1].startAngle, 270, 1e-9);
  EXPECT_NEAR(outer.edges[1].endAngle, 90, 1e-9);
  EXPECT_EQ(std::tuple(outer.edges[2].start, outer.edges[2].end, outer.edges[3].start),
            std::tuple((Point3{10, 10, 0}), (Point3{0, 10, 0}), (Point3{0, 10, 0})));
  EXPECT_EQ(h.paths[1].flags, 0);
  ASSERT_EQ(h.paths[1].edges.size(), 1u);
  EXPECT_NEAR(h.paths[1].edges[0].endAngle, 360, 1e-9);

  // The same outline with the arc given the other way: a clockwise edge,
  // its angles mirrored as the database holds them.
  out.setCollect(true);
  ASSERT_EQ(out.line({10, 0, 0}, {0, 0, 0}, {}), 0);
  ASSERT_EQ(out.line({0, 0, 0}, {0, 10, 0}, {}), 0);
  ASSERT_EQ(out.line({0, 10, 0}, {10, 10, 0}, {}), 0);
  ASSERT_EQ(out.circleArc({10, 5, 0}, {10, 0, 0}, {10, 10, 0}, {}), 0);
  out.setCollect(false);
  ASSERT_EQ(out.hatch(solid, {}), 0);
  const auto& turned = drawingdb::get<drawingdb::Hatch>(last().data);
  ASSERT_EQ(turned.paths.size(), 1u);
  const auto& arc = turned.paths[0].edges[3];
  EXPECT_EQ(arc.type, 2);
  EXPECT_FALSE(arc.counterClockwise);
  EXPECT_NEAR(arc.startAngle, 360 - 90, 1e-9);
  EXPECT_NEAR(arc.endAngle, 360 - 270, 1e-9);

  // Elliptic arcs: a half ellipse closed by its chord taken backwards, and
  // a whole one on its own.
  out.setCollect(true);
  ASSERT_EQ(out.line({4, 0, 0}, {-4, 0, 0}, {}), 0);
  ASSERT_EQ(out.ellipse({0, 0, 0}, {4, 0, 0}, 0.5, 0, kPi, {}), 0);
  ASSERT_EQ(out.ellipse({20, 0, 0}, {0, 3, 0}, 0.25, 0, 2 * kPi, {}), 0);
  out.setCollect(false);
  EXPECT_EQ(modelCount(), 2u);
  ASSERT_EQ(out.hatch(solid, {}), 0);
  const auto& ellipses = drawingdb::get<drawingdb::Hatch>(last().data);
  ASSERT_EQ(ellipses.paths.size(), 2u);
  ASSERT_EQ(ellipses.paths[0].edges.size(), 2u);
  const auto& half = ellipses.paths[0].edges[1];
  EXPECT_EQ(half.type, 3);
  EXPECT_FALSE(half.counterClockwise);
  EXPECT_EQ(half.end, (Point3{4, 0, 0}));
  EXPECT_DOUBLE_EQ(half.radius, 0.5);
  EXPECT_NEAR(half.startAngle, 180, 1e-9);
  EXPECT_NEAR(half.endAngle, 360, 1e-9);
  const auto& whole = ellipses.paths[1].edges.at(0);
  EXPECT_EQ(std::tuple(whole.type, whole.start), std::tuple(3, (Point3{20, 0, 0})));
  EXPECT_NEAR(whole.endAngle - whole.startAngle, 360, 1e-9);

  // Nothing closes, or nothing collected: no hatch, the list is emptied.
  out.setCollect(true);
  ASSERT_EQ(out.line({0, 0, 0}, {1, 0, 0}, {}), 0);
  out.setCollect(false);
  EXPECT_EQ(out.hatch(solid, {}), -1);
  EXPECT_TRUE(out.boundary().empty());
  EXPECT_EQ(out.hatch(solid, {}), -1);
  EXPECT_EQ(modelCount(), 3u);
}

// Pattern, fill and the line style layer kind of each hatch, in the mode
// that puts entities on line style layers.
TEST_F(DwgOutKinds, HatchPatternsFillsAndTheirLayers) {
  DwgOutPara::ReadParaText("dwgout_graphattrmode useLineStyleLayer\n");
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  const struct {
    DwgHatch hatch;
    const char* pattern;
    double angle;
    int doubled;
    std::size_t lines;
    const char* layer;
  } cases[] = {
      {{1, 2.5, 0.00009, 1}, "_U", 0, 0, 1, "TELVURA_STYLE_HATCH"},
      {{1, 2.5, -0.00011, 1}, "_U", 360 - 0.00011 * 180 / kPi, 0, 1, "TELVURA_STYLE_HATCH"},
      {{2, 3, kPi / 4, 1}, "_U", 45, 1, 2, "TELVURA_STYLE_HATCH"},
      {{0, 0, 0, 1}, "SOLID", 0, 0, 0, "TELVURA_STYLE_FILLEDHATCH"},
      {{0, 0, 0, 0}, "SOLID", 0, 0, 0, "TELVURA_STYLE_FILLEDHIDDENHATCH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layer + std::string(" ") + c.pattern);
    out.setCollect(true);
    ASSERT_EQ(out.circleArc({0, 0, 0}, {4, 0, 0}, {4, 0, 0}, {}), 0);
    out.setCollect(false);
    ASSERT_EQ(out.hatch(c.hatch, element(3, "Flaeche")), 0);
    const auto& h = drawingdb::get<drawingdb::Hatch>(last().data);
    EXPECT_EQ(std::tuple(h.pattern, h.solidFill, h.patternType, h.associative),
              std::tuple(c.pattern, c.hatch.hatchKind == 0 ? 1 : 0, c.hatch.hatchKind == 0 ? 1 : 0, 0));
    EXPECT_EQ(h.elevation, (Point3{0, 0, 0}));
    EXPECT_NEAR(h.angle, c.angle, 1e-9);
    EXPECT_EQ(h.doubled, c.doubled);
    ASSERT_EQ(h.lines.size(), c.lines);
    for (std::size_t k = 0; k < h.lines.size(); ++k) {
      // Lines at the angle (a quarter turned for the second), spacing apart.
      EXPECT_NEAR(h.lines[k].angle, std::fmod(c.angle + 90.0 * k, 360.0), 1e-9);
      EXPECT_NEAR(std::hypot(h.lines[k].offsetX, h.lines[k].offsetY), c.hatch.spacing, 1e-12);
      const double a = h.lines[k].angle * kPi / 180;
      EXPECT_NEAR(h.lines[k].offsetX * std::cos(a) + h.lines[k].offsetY * std::sin(a), 0, 1e-12);
    }
    if (c.lines > 0) {
      EXPECT_DOUBLE_EQ(h.scale, c.hatch.spacing);
    }
    EXPECT_EQ(last().common.layer, c.layer);
  }
  // A pattern needs a spacing.
  for (const double spacing : {0.0, -1.0, double(NAN)}) {
    out.setCollect(true);
    ASSERT_EQ(out.circleArc({0, 0, 0}, {4, 0, 0}, {4, 0, 0}, {}), 0);
    out.setCollect(false);
    EXPECT_EQ(out.hatch({1, spacing, 0, 1}, {}), -1) << spacing;
  }
}

// ---------------------------------------------------------- dimensions

TEST_F(DwgOutKinds, DimensionKindsAndPoints) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  using K = drawingdb::DimensionKind;
  const struct {
    const char* what;
    DwgDimension d;
    K kind;
    Point3 definition, p2, p3, p4;
    double measurement;
    bool textPlaced;
  } cases[] = {
      {"horizontal", {1, 1, 0, {{0, 0, 0}, {30, 10, 0}, {5, 20, 0}}, ""}, K::Linear, {30, 20, 0}, {0, 0, 0}, {30, 10, 0}, {}, 30, false},
      {"vertical", {1, 2, 0, {{0, 0, 0}, {30, 10, 0}, {-5, 3, 0}}, ""}, K::Linear, {-5, 10, 0}, {0, 0, 0}, {30, 10, 0}, {}, 10, false},
      {"aligned", {1, 0, 0, {{0, 0, 0}, {3, 4, 0}, {-4, 3, 0}}, "<> mm"}, K::Aligned, {-1, 7, 0}, {0, 0, 0}, {3, 4, 0}, {}, 5, false},
      {"diameter", {2, 0, 0, {{10, 10, 0}, {14, 10, 0}}, ""}, K::Diameter, {6, 10, 0}, {}, {}, {14, 10, 0}, 8, false},
      {"radius, text placed", {3, 0, 0, {{10, 10, 0}, {10, 13, 0}, {20, 20, 0}}, ""}, K::Radius, {10, 10, 0}, {}, {}, {10, 13, 0}, 3, true},
      {"angle", {4, 0, 0, {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {5, 5, 0}}, ""}, K::Angular3Point, {5, 5, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 0}, kPi / 2, false},
      {"angle, arc at leg 1", {68, 0, 0, {{0, 0, 0}, {10, 0, 0}, {-10, 0.0, 0}}, ""}, K::Angular3Point, {10, 0, 0}, {10, 0, 0}, {-10, 0, 0}, {0, 0, 0}, kPi, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string made;
    ASSERT_EQ(out.dimension(c.d, "", element(2, "Mass"), &made), 0);
    const auto& d = drawingdb::get<drawingdb::Dimension>(last().data);
    EXPECT_EQ(drawingdb::dimensionKind(d), c.kind);
    auto near = [](const Point3& a, const Point3& b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z) < 1e-12; };
    EXPECT_TRUE(near(d.definition, c.definition));
    if (c.kind != K::Diameter && c.kind != K::Radius) {
      EXPECT_TRUE(near(d.defPoint2, c.p2));
      EXPECT_TRUE(near(d.defPoint3, c.p3));
    }
    if (c.kind != K::Linear && c.kind != K::Aligned) {
      EXPECT_TRUE(near(d.defPoint4, c.p4));
    }
    EXPECT_NEAR(d.measurement, c.measurement, 1e-12);
    EXPECT_EQ((d.flags & 128) != 0, c.textPlaced);
    EXPECT_EQ(d.text, c.d.text);
    // Without a block of the element's, the database draws one.
    EXPECT_EQ(d.block, made);
    const drawingdb::BlockRecord* block = out.database().findBlock(made);
    ASSERT_NE(block, nullptr);
    EXPECT_FALSE(block->entities.empty());
    EXPECT_EQ(std::tuple(last().common.layer, last().common.colour), std::tuple("MASS", 2));
  }
  // An arc length: the angle over its arc, the length as its text.
  ASSERT_EQ(out.dimension({5, 0, 0, {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 4, 0}}, ""}, "", {}), 0);
  EXPECT_EQ(drawingdb::get<drawingdb::Dimension>(last().data).text, "6.28");
  // Points that make no dimension.
  const DwgDimension refused[] = {
      {1, 0, 0, {{0, 0, 0}, {1, 0, 0}}, ""},
      {2, 0, 0, {{1, 1, 0}, {1, 1, 0}}, ""},
      {4, 0, 0, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, ""},
      {1, 0, NAN, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, ""},
      {3, 0, 0, {{0, 0, 0}, {NAN, 1, 0}}, ""},
  };
  const std::size_t before = modelCount();
  for (const DwgDimension& d : refused) EXPECT_EQ(out.dimension(d, "", {}), -1);
  EXPECT_EQ(modelCount(), before);
}

// The block of the element's drawing is the one the dimension shows; an
// empty one is drawn by the database; a block that is no dimension block
// is refused.
TEST_F(DwgOutKinds, DimensionsShowTheirBlocks) {
  ASSERT_EQ(out.startUp(Release::R2000, DwgOut::kSaveDxf, {}), 0);
  const DwgDimension linear{1, 1, 0, {{0, 0, 0}, {30, 0, 0}, {0, 10, 0}}, "30"};
  std::string block, made;
  ASSERT_EQ(out.createBlock("*D" + std::to_string(out.nextDimensionBlockNumber()), &block), 0);
  ASSERT_EQ(out.line({0, 10, 0}, {30, 10, 0}, {}), 0);
  ASSERT_EQ(out.text({{"30", 2.5, 1, 0, "", {12, 11, 0}}}, {}, 1, 0), 0);
  // Still open: the dimension closes it and lands in model space.
  ASSERT_EQ(out.dimension(linear, block, {}, &made), 0);
  EXPECT_FALSE(out.inBlock());
  EXPECT_EQ(made, block);
  const auto& d = drawingdb::get<drawingdb::Dimension>(last().data);
  EXPECT_EQ(std::tuple(d.block, d.flags & 32), std::tuple(block, 32));
  EXPECT_EQ(out.database().findBlock(block)->entities.size(), 2u);

  std::string empty;
  ASSERT_EQ(out.createBlock("*D2", &empty), 0);
  ASSERT_EQ(out.closeBlock(), 0);
  ASSERT_EQ(out.dimension(linear, empty, {}, &made), 0);
  EXPECT_EQ(made, empty);
  EXPECT_FALSE(out.database().findBlock(empty)->entities.empty());
  const std::size_t blocks = out.database().blocks.size();

  std::string named;
  ASSERT_EQ(out.createBlock("Gruppe", &named), 0);
  ASSERT_EQ(out.closeBlock(), 0);
  EXPECT_EQ(out.dimension(linear, named, {}), -1);
  EXPECT_EQ(out.dimension(linear, "*D99", {}), -1);
  EXPECT_EQ(out.database().blocks.size(), blocks + 1);
}

// ------------------------------------------------------------- saving

// The peer's script: audit, then per entity of model space
// "KIND|layer|colour|linetype|numbers".
const char* kPeerScript = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
print("ERRORS", len(auditor.errors))
for e in auditor.errors:
    print("AUDIT", e.code, e.message)
def p(v): return [float(c) for c in v][:2]
for e in doc.modelspace():
    t = e.dxftype(); d = e.dxf; n = []
    if t == "SPLINE":
        n = [d.degree, len(e.knots)] + [float(k) for k in e.knots]
        for c in e.control_points: n += [float(x) for x in c]
        n += [float(w) for w in e.weights]
    elif t == "POLYLINE":
        n = [len(e.vertices)] + p(e.vertices[0].dxf.location) + p(e.vertices[-1].dxf.location)
    elif t == "DIMENSION":
        blk = doc.blocks.get(d.geometry)
        n = [d.dimtype & 7, len(blk) if blk is not None else -1] + p(d.defpoint)
        for k in ("defpoint2", "defpoint3", "defpoint4"): n += p(d.get(k, (0, 0, 0)))
        t += ":" + d.geometry[:2] + ":" + d.get("text", "")
    elif t == "HATCH":
        n = [d.solid_fill, d.get("pattern_angle", 0.0), d.get("pattern_scale", 1.0), d.get("pattern_double", 0), d.associative, len(e.paths)]
        for path in e.paths:
            n += [path.path_type_flags, len(path.edges)]
            for g in path.edges:
                k = g.type.value if hasattr(g.type, "value") else g.type
                n += [k]
                if k == 1: n += p(g.start) + p(g.end)
                elif k == 2: n += p(g.center) + [g.radius, g.start_angle, g.end_angle, 1 if g.ccw else 0]
                elif k == 3: n += p(g.center) + p(g.major_axis) + [g.ratio, g.start_angle, g.end_angle, 1 if g.ccw else 0]
        t += ":" + d.pattern_name
    elif t == "INSERT":
        n = [len(doc.blocks.get(d.name))]
        t += ":" + d.name[:2]
    print("%s|%s|%d|%s|%s" % (t, d.get("layer", "0"), d.get("color", 256), d.get("linetype", "BYLAYER"), " ".join(repr(float(x)) for x in n)))
)PY";

class SavedKinds : public DwgOutKinds, public ::testing::WithParamInterface<int> {
 protected:
  void TearDown() override {
    std::remove(path.c_str());
    std::remove(report.c_str());
    DwgOutKinds::TearDown();
  }
  // A spline, a dimension with the element's block and one drawn by the
  // database, a cross hatch with an island and a solid fill.
  void build(Release release) {
    DwgOutPara::ReadParaText("DWGOUT_LINESTYLEASSIGN 2 DASHED\n");
    ASSERT_EQ(out.startUp(release, DwgOut::kSaveDxf, installedStartData()), 0);
    ASSERT_EQ(out.spline(3, knots, controls, {}, element(1, "Kurven", 2)), 0);
    std::string block;
    ASSERT_EQ(out.createBlock("*D" + std::to_string(out.nextDimensionBlockNumber()), &block), 0);
    ASSERT_EQ(out.line({0, 10, 0}, {30, 10, 0}, {}), 0);
    ASSERT_EQ(out.line({0, 0, 0}, {0, 12, 0}, {}), 0);
    ASSERT_EQ(out.line({30, 0, 0}, {30, 12, 0}, {}), 0);
    ASSERT_EQ(out.closeBlock(), 0);
    ASSERT_EQ(out.dimension({1, 1, 0, {{0, 0, 0}, {30, 0, 0}, {15, 10, 0}}, "30"}, block, element(2, "Mass", 2)), 0);
    ASSERT_EQ(out.dimension({3, 0, 0, {{50, 50, 0}, {53, 54, 0}}, ""}, "", element(3, "Mass")), 0);
    out.setCollect(true);
    ASSERT_EQ(out.line({0, 20, 0}, {20, 20, 0}, {}), 0);
    ASSERT_EQ(out.circleArc({20, 30, 0}, {20, 20, 0}, {20, 40, 0}, {}), 0);
    ASSERT_EQ(out.line({20, 40, 0}, {0, 40, 0}, {}), 0);
    ASSERT_EQ(out.line({0, 40, 0}, {0, 20, 0}, {}), 0);
    ASSERT_EQ(out.circleArc({10, 30, 0}, {13, 30, 0}, {13, 30, 0}, {}), 0);
    out.setCollect(false);
    ASSERT_EQ(out.hatch({2, 2, kPi / 6, 1}, element(4, "Flaeche", 2)), 0);
    out.setCollect(true);
    ASSERT_EQ(out.line({40, 0, 0}, {50, 0, 0}, {}), 0);
    ASSERT_EQ(out.line({50, 0, 0}, {45, 8, 0}, {}), 0);
    ASSERT_EQ(out.line({45, 8, 0}, {40, 0, 0}, {}), 0);
    ASSERT_EQ(out.ellipse({45, 3, 0}, {2, 0, 0}, 0.5, 0, 2 * kPi, {}), 0);
    out.setCollect(false);
    ASSERT_EQ(out.hatch({0, 0, 0, 1}, element(5, "Flaeche")), 0);
  }
  const std::vector<double> knots{0, 0, 0, 0, 0.5, 1, 1, 1, 1};
  const std::vector<Point3> controls{{0, 0, 0}, {10, 20, 0}, {20, -5, 0}, {30, 15, 0}, {40, 0, 0}};
  std::string path = "/tmp/dwg_out_kinds_" + std::to_string(getpid()) + "_" + std::to_string(GetParam()) + ".dxf";
  std::string report = path + ".audit";
};

void expectNear(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-9) << what << " [" << k << "]";
}

TEST_P(SavedKinds, ReadBackAsBuilt) {
  const Release release = DwgOut::releaseOfVersion(GetParam());
  build(release);
  testing::internal::CaptureStdout();
  ASSERT_EQ(out.saveFile(path, report), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Audit : ok.\n");

  // The toolkit's reader: the kinds, the spline's curve, the dimensions'
  // blocks and the hatches' loops, or their older forms.
  drawingdb::Database back;
  const drawingdb::ReadResult read = drawingdb::readFile(path, back);
  ASSERT_TRUE(read.status.ok()) << read.status.detail;
  const bool splines = release >= Release::R13, hatches = release >= Release::R14;
  const std::vector<std::string> kinds{splines ? "SPLINE" : "POLYLINE", "DIMENSION", "DIMENSION",
                                       hatches ? "HATCH" : "INSERT", hatches ? "HATCH" : "INSERT"};
  const auto& ms = back.modelSpace().entities;
  ASSERT_EQ(ms.size(), kinds.size());
  for (std::size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(back.entities[ms[i]].dxfName(), kinds[i]) << i;
  if (splines) {
    const auto& s = drawingdb::get<drawingdb::Spline>(back.entities[ms[0]].data);
    EXPECT_EQ(std::tuple(s.knots, s.controlPoints), std::tuple(knots, controls));
  }
  for (std::size_t i : {1, 2}) {
    const auto& d = drawingdb::get<drawingdb::Dimension>(back.entities[ms[i]].data);
    const drawingdb::BlockRecord* block = back.findBlock(d.block);
    ASSERT_NE(block, nullptr) << d.block;
    EXPECT_EQ(block->entities.size() >= 3, true) << d.block;
  }
  EXPECT_EQ(back.findBlock(drawingdb::get<drawingdb::Dimension>(back.entities[ms[1]].data).block)->entities.size(), 3u);
  if (hatches) {
    const auto& h = drawingdb::get<drawingdb::Hatch>(back.entities[ms[3]].data);
    EXPECT_EQ(std::tuple(h.pattern, h.doubled), std::tuple("_U", 1));
    ASSERT_EQ(h.paths.size(), 2u);
    EXPECT_EQ(std::tuple(h.paths[0].edges.size(), h.paths[1].edges.size()), std::tuple(4u, 1u));
    const auto& solid = drawingdb::get<drawingdb::Hatch>(back.entities[ms[4]].data);
    EXPECT_EQ(solid.pattern, "SOLID");
    ASSERT_EQ(solid.paths.size(), 2u);
    EXPECT_EQ(solid.paths[1].edges.at(0).type, 3);
  }

  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const sample::PeerResult peer = sample::readWithPeer(path, kPeerScript);
  ASSERT_TRUE(peer.ran) << peer.auditText;
  EXPECT_EQ(peer.errors, 0) << peer.auditText;
  ASSERT_EQ(peer.entities.size(), kinds.size());
  const struct {
    const char* layer;
    int colour;
    const char* linetype;
  } attributes[] = {{"KURVEN", 1, "DASHED"}, {"MASS", 2, "DASHED"}, {"MASS", 3, "BYLAYER"},
                    {"FLAECHE", 4, "DASHED"}, {"FLAECHE", 5, "BYLAYER"}};
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    SCOPED_TRACE(peer.entities[i].kind);
    EXPECT_EQ(peer.entities[i].kind.substr(0, peer.entities[i].kind.find(':')), kinds[i]);
    EXPECT_EQ(peer.entities[i].layer, attributes[i].layer);
    EXPECT_EQ(peer.entities[i].colour, attributes[i].colour);
    EXPECT_TRUE(drawingdb::sameName(peer.entities[i].linetype, attributes[i].linetype)) << peer.entities[i].linetype;
  }
  if (splines) {
    std::vector<double> want{3, 9};
    want.insert(want.end(), knots.begin(), knots.end());
    for (const Point3& c : controls) want.insert(want.end(), {c.x, c.y, c.z});
    expectNear(peer.entities[0].numbers, want, "spline");
  } else {
    // The polyline along the spline from its first to its last point.
    const auto& n = peer.entities[0].numbers;
    ASSERT_EQ(n.size(), 5u);
    expectNear({n[1], n[2], n[3], n[4]}, {0, 0, 40, 0}, "spline as polyline");
  }
  // Linear (rotated) with the element's three lines; radius drawn by the database.
  EXPECT_EQ(peer.entities[1].kind, "DIMENSION:*D:30");
  expectNear(peer.entities[1].numbers, {0, 3, 30, 10, 0, 0, 30, 0, 0, 0}, "linear dimension");
  EXPECT_EQ(peer.entities[2].kind, "DIMENSION:*D:");
  ASSERT_EQ(peer.entities[2].numbers.size(), 10u);
  EXPECT_EQ(peer.entities[2].numbers[0], 4);
  EXPECT_GT(peer.entities[2].numbers[1], 0);
  expectNear({peer.entities[2].numbers.begin() + 2, peer.entities[2].numbers.begin() + 4}, {50, 50}, "radius centre");
  expectNear({peer.entities[2].numbers.begin() + 8, peer.entities[2].numbers.end()}, {53, 54}, "radius point");
  if (!hatches) {
    // Before R14 a hatch is a block of its drawing.
    EXPECT_EQ(peer.entities[3].kind, "INSERT:*X");
    EXPECT_GT(peer.entities[3].numbers.at(0), 4);
    EXPECT_EQ(peer.entities[4].kind, "INSERT:*X");
    return;
  }
  EXPECT_EQ(peer.entities[3].kind, "HATCH:_U");
  expectNear(peer.entities[3].numbers,
             {0, 30, 2, 1, 0, 2,
              1, 4, 1, 0, 20, 20, 20, 2, 20, 30, 10, 270, 90, 1, 1, 20, 40, 0, 40, 1, 0, 40, 0, 20,
              0, 1, 2, 10, 30, 3, 0, 360, 1},
             "cross hatch");
  EXPECT_EQ(peer.entities[4].kind, "HATCH:SOLID");
  expectNear(peer.entities[4].numbers, {1, 0, 1, 0, 0, 2, 1, 3, 1, 40, 0, 50, 0, 1, 50, 0, 45, 8, 1, 45, 8, 40, 0,
                                          0, 1, 3, 45, 3, 2, 0, 0.5, 0, 360, 1},
             "solid fill");
}

INSTANTIATE_TEST_SUITE_P(AcadVersions, SavedKinds,
                         ::testing::Values(1002, 1003, 1004, 1006, 1009, 1012, 1014, 1015, 1018),
                         [](const auto& info) { return "AC" + std::to_string(info.param); });

}  // namespace

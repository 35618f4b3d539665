// Fetchers of points, lines, circles, ellipses, splines, hatches and
// polygons, contours and plane parts on transfer files written here: the
// common layout in both file versions, the attribute mappings, the early
// ends of an element and the geometry each kind builds.
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "tests/transfer/fetch_test_support.h"

namespace {

using fetch_test::FetchTest;
using fetch_test::header;
using fetch_test::near;
using fetch_test::versionLines;

std::string lineElement(int version, const std::string& id, double layer) {
  return "@line " + id + "\n" + versionLines(version) + "#visible\n#1 -1 -1 -1 black\n" +
         "#11\n#12\n  a comment line between two values\n\n#21\n#22\n#" + std::to_string(layer) +
         "\n#5\n#0.35\n";
}

TEST_F(FetchTest, LineInBothFileVersions) {
  assignTables().lineStyles[0] = {5, 4};
  assignTables().lineWidthFactor = 0.05;
  TransferLine lines[2];
  for (int version : {0, 1}) {
    ASSERT_TRUE(load(header(version) + lineElement(version, "7", 20)));
    ASSERT_EQ(fetch(fetchLine, "line 7", lines[version]), 0) << version;
    EXPECT_EQ(element(lastIndex_).type, 110);
    EXPECT_EQ(label(), "LINE    ");
  }
  for (const TransferLine& l : lines) {
    // The reference point (1, 2) is subtracted.
    EXPECT_EQ(std::tuple(l.start.x, l.start.y, l.end.x, l.end.y), std::tuple(10.0, 10.0, 20.0, 20.0));
    EXPECT_EQ(std::tuple(l.layer, l.lineStyle, l.lineWidth, l.deleted, l.identifier),
              std::tuple(2, 4, 7, false, std::string("7")));
  }
  EXPECT_EQ(lines[0].attributeText, "");
  EXPECT_EQ(lines[1].attributeText, "attr text");
}

TEST_F(FetchTest, LayerValuesAndStatus) {
  // Layer values 10, 20, 30: layer numbers 3, 2, 1; an unknown value gives
  // warning 1010 and layer 0.
  const struct {
    double value;
    std::int32_t layer;
    bool warned;
  } cases[] = {{10, 3, false}, {20, 2, false}, {30, 1, false}, {10.00005, 3, false}, {15, 0, true}};
  for (const auto& c : cases) {
    ASSERT_TRUE(load(header(0) + lineElement(0, "1", c.value)));
    TransferLine line;
    std::string messages;
    ASSERT_EQ(fetch(fetchLine, "line 1", line, &messages), 0);
    EXPECT_EQ(line.layer, c.layer) << c.value;
    EXPECT_EQ(messages.find("M1010") != std::string::npos, c.warned) << c.value << messages;
  }
  ASSERT_TRUE(load(header(0) + "@d_line 2\n#deleted\n#1 -1 -1 -1 x\n#1\n#2\n#3\n#4\n#1\n#0.5\n"));
  TransferLine line;
  ASSERT_EQ(fetch(fetchLine, "d_line 2", line), 0);
  EXPECT_TRUE(line.deleted);
  EXPECT_EQ(line.layer, 0);
  EXPECT_DOUBLE_EQ(line.end.y, 2);
}

TEST_F(FetchTest, PenColour) {
  // At level PLUS a pen with a colour makes one colour-definition element
  // per distinct colour; the colour field is its negated DE number.
  const std::string pen = "@line 1\n#visible\n#3 255 0 0 red\n#0\n#0\n#1\n#1\n#10\n#1\n#0\n";
  ASSERT_TRUE(load(header(0) + pen + "@line 2\n#visible\n#4 255 0 0 rot\n#0\n#0\n#1\n#1\n#10\n#1\n#0\n"));
  TransferLine a, b;
  ASSERT_EQ(fetch(fetchLine, "line 1", a), 0);
  ASSERT_EQ(fetch(fetchLine, "line 2", b), 0);
  ASSERT_GT(a.colourDefinition, 0);
  EXPECT_EQ(a.colourDefinition, b.colourDefinition);
  EXPECT_EQ(a.colour, -(2 * a.colourDefinition - 1));
  const ElementRecord& def = element(a.colourDefinition);
  EXPECT_EQ(def.type, 314);
  const auto* colour = dynamic_cast<const ColourRecord*>(def.params.get());
  ASSERT_NE(colour, nullptr);
  EXPECT_DOUBLE_EQ(colour->red, 100);
  EXPECT_EQ(colour->name, "red");

  // Below PLUS the colour list of the number is used.
  resetAssignTables();
  runState().runMode = RunModeBit::kOutput | RunModeBit::kG1;
  assignTables().colourLists[2] = {3};
  ASSERT_TRUE(load(header(0) + pen));
  ASSERT_EQ(fetch(fetchLine, "line 1", a), 0);
  EXPECT_EQ(a.colourDefinition, 0);
  EXPECT_EQ(a.colour, 2);
  EXPECT_EQ(a.penColour, 3);
}

TEST_F(FetchTest, EarlyEndsOfAnElement) {
  const std::string good = "@line 1\n#visible\n#1 0 0 0 x\n#0\n#0\n#1\n#1\n#10\n#1\n#0.5";
  const struct {
    const char* name;
    std::string body;
    int result;
    bool warned;  // warning 1000
  } cases[] = {
      {"complete at the end of the file", good, 0, false},
      {"truncated", "@line 1\n#visible\n#1 0 0 0 x\n#0\n#0\n#1", -1, false},
      {"@ inside", "@line 1\n#visible\n#1 0 0 0 x\n#0\n#0\n@line 2\n#visible\n", -1, true},
      {"letters for a real", "@line 1\n#visible\n#1 0 0 0 x\n#0\n#abc\n#1\n#1\n#10\n#1\n#0\n", -1, false},
      {"not a line", "@circle 1\n#visible\n#1 0 0 0 x\n", -99, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(load(header(0) + c.body)) << c.name;
    TransferLine line;
    std::string messages;
    const std::string start = std::string(c.body.substr(1, c.body.find('\n') - 1));
    EXPECT_EQ(fetch(fetchLine, start, line, &messages), c.result) << c.name;
    EXPECT_EQ(messages.find("M1000") != std::string::npos, c.warned) << c.name << messages;
  }
  // A position that names no section.
  ASSERT_TRUE(load(header(0) + good));
  TransferLine line;
  EXPECT_EQ(run([&] { return fetchLine(1, positionOf("line 1") - 3, line); }), -99);
  EXPECT_EQ(run([&] { return fetchLine(1, -5, line); }), -99);
  EXPECT_EQ(run([&] { return fetchLine(1, 1 << 30, line); }), -99);
}

TEST_F(FetchTest, Points) {
  ASSERT_TRUE(load(header(1) + "@point 1\n#a\n#x\n#visible\n#1 0 0 0 x\n#5\n#6\n" +
                   "@d_point 2\n#a\n#x\n#visible\n#1 0 0 0 x\n#5\n#6\n#3\n#4\n"));
  TransferPoint p;
  ASSERT_EQ(fetch(fetchPoint, "point 1", p), 0);
  EXPECT_DOUBLE_EQ(p.point.x, 4);
  EXPECT_DOUBLE_EQ(p.point.y, 4);
  EXPECT_EQ(label(), "POINT   ");
  ASSERT_EQ(fetch(fetchPoint, "d_point 2", p), 0);
  EXPECT_EQ(p.marker[0], 3);
  EXPECT_EQ(p.marker[1], 4);
}

TEST_F(FetchTest, Circles) {
  const std::string head = "#visible\n#1 0 0 0 x\n";
  ASSERT_TRUE(load(header(0) +
                   "@circle 1\n" + head + "#11\n#12\n#-5\n#t\n#circle\n#0\n#0\n#0\n#0\n#10\n#1\n#0\n" +
                   "@circle 2\n" + head + "#11\n#12\n#5\n#t\n#arc\n#16\n#12\n#11\n#17\n#10\n#1\n#0\n" +
                   "@d_circle 3\n" + head + "#1\n#2\n#4\n#2\n#1\n#5\n#1\n#0\n" +
                   "@d_arc_3p 4\n" + head + "#4 2\n#1 5\n#-2 2\n#1\n#0\n" +
                   "@d_arc_3p 5\n" + head + "#-2 2\n#1 5\n#4 2\n#1\n#0\n" +
                   "@d_arc_3p 6\n" + head + "#0 0\n#1 1\n#2 2\n#1\n#0\n" +
                   "@d_fill_arc 7\n" + head + "#1\n#2\n#4\n#2\n#4\n#2\n#1\n#0\n"));
  // "cir...": a full circle starts and ends at centre + (r, 0); three
  // points, counter-clockwise or clockwise, give the same arc running
  // counter-clockwise.
  const struct {
    const char* start;
    const char* label;
    bool full, filled;
    double centreX, radius, startX, endX, endY;
  } cases[] = {
      {"circle 1", "CIRCLE  ", true, false, 10, 5, 15, 15, 10},
      {"circle 2", "CIRCLE  ", false, false, 10, 5, 15, 10, 15},
      {"d_circle 3", "CIRCLE  ", false, false, 0, 3, 3, 0, 3},
      {"d_arc_3p 4", "CIRCLE  ", false, false, 0, 3, 3, -3, 0},
      {"d_arc_3p 5", "CIRCLE  ", false, false, 0, 3, 3, -3, 0},
      {"d_fill_arc 7", "CIRCLE  ", true, true, 0, 3, 3, 3, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.start);
    TransferCircle c;
    ASSERT_EQ(fetch(fetchCircle, k.start, c), 0);
    EXPECT_EQ(label(), k.label);
    EXPECT_EQ(c.fullCircle, k.full);
    EXPECT_EQ(c.filled, k.filled);
    for (const auto& [got, want] : {std::pair{c.centre.x, k.centreX}, {c.radius, k.radius}, {c.start.x, k.startX},
                                    {c.end.x, k.endX}, {c.end.y, k.endY}})
      EXPECT_TRUE(near(got, want)) << got << " " << want;
  }
  TransferCircle c;
  std::string messages;
  EXPECT_EQ(fetch(fetchCircle, "d_arc_3p 6", c, &messages), -1);
  EXPECT_NE(messages.find("M630"), std::string::npos);
}

TEST_F(FetchTest, Ellipse) {
  ASSERT_TRUE(load(header(0) + "@ellips 1\n#visible\n#1 0 0 0 x\n#11\n#12\n#4\n#2\n#90\n#0\n#90\n#30\n#1\n#0\n" +
                   "@d_ellips 2\n#visible\n#1 0 0 0 x\n#1\n#2\n#4\n#2\n#0\n#0\n#360\n#1\n#0\n"));
  TransferEllipse e;
  ASSERT_EQ(fetch(fetchEllipse, "ellips 1", e), 0);
  EXPECT_EQ(label(), "ELBG    ");
  EXPECT_DOUBLE_EQ(e.centre.x, 10);
  EXPECT_TRUE(near(e.axisDirection[0], 0));
  EXPECT_TRUE(near(e.axisDirection[1], 1));
  EXPECT_EQ(e.layer, 1);
  EXPECT_FALSE(e.fullEllipse);
  EXPECT_TRUE(near(e.localStart.x, 4));
  EXPECT_TRUE(near(e.localEnd.x, 0));
  EXPECT_TRUE(near(e.localEnd.y, 2));
  ASSERT_EQ(fetch(fetchEllipse, "d_ellips 2", e), 0);
  EXPECT_TRUE(e.fullEllipse);
}

// The B-spline at u by the Cox-de Boor recursion (the test's own
// evaluation).
double basis(const std::vector<double>& t, int i, int p, double u) {
  if (p == 0) return (t[i] <= u && u < t[i + 1]) || (u == t.back() && t[i] < u && u <= t[i + 1]) ? 1 : 0;
  double a = 0, b = 0;
  if (t[i + p] > t[i]) a = (u - t[i]) / (t[i + p] - t[i]) * basis(t, i, p - 1, u);
  if (t[i + p + 1] > t[i + 1]) b = (t[i + p + 1] - u) / (t[i + p + 1] - t[i + 1]) * basis(t, i + 1, p - 1, u);
  return a + b;
}

TEST_F(FetchTest, SplineAsPiecewisePolynomial) {
  // Degree 3, five control points, an inner knot: two segments that give
  // the B-spline's points.
  const std::string spline =
      "@spline 1\n#visible\n#1 0 0 0 x\n#0.5\n#tok\n#1.5\n#non_periodic_urbs\n#3\n#5\n"
      "#0\n#0\n#0\n#0\n#2\n#4\n#4\n#4\n#4\n"
      "#1 2\n#3 7\n#6 -2\n#9 5\n#13 2\n#1\n#1\n#1\n#1\n#1\n#0.5\n";
  ASSERT_TRUE(load(header(0) + spline));
  TransferSpline s;
  ASSERT_EQ(fetch(fetchSpline, "spline 1", s), 0);
  EXPECT_EQ(label(), "SPLINE  ");
  ASSERT_EQ(s.segments.size(), 2u);
  ASSERT_EQ(s.breakpoints, (std::vector<double>{0, 2, 4}));
  EXPECT_EQ(s.pieceDegree, 3);
  EXPECT_FALSE(s.rational);
  for (double u : {0.0, 0.3, 1.0, 1.9, 2.0, 2.5, 3.7, 4.0}) {
    double x = 0, y = 0;
    for (int i = 0; i < 5; ++i) {
      const double n = basis(s.knots, i, 3, u);
      x += n * s.controlPoints[i].x;
      y += n * s.controlPoints[i].y;
    }
    const std::size_t k = u < 2 ? 0 : 1;
    const double d = u - s.breakpoints[k];
    const auto& g = s.segments[k];
    EXPECT_TRUE(near(g.x[0] + d * (g.x[1] + d * (g.x[2] + d * g.x[3])), x, 1e-9)) << u;
    EXPECT_TRUE(near(g.y[0] + d * (g.y[1] + d * (g.y[2] + d * g.y[3])), y, 1e-9)) << u;
  }

  const struct {
    const char* name;
    std::string from, to;
    int result;
  } bad[] = {
      {"other form", "#non_periodic_urbs", "#periodic", -1},
      {"control count beyond the file", "#3\n#5\n", "#3\n#2000000000\n", -1},
      {"degree 0", "#3\n#5\n", "#0\n#5\n", -1},
      {"descending knots", "#2\n#4\n#4", "#5\n#4\n#4", -1},
      {"zero weight", "#1\n#1\n#1\n#1\n#1\n#0.5", "#1\n#1\n#0\n#1\n#1\n#0.5", -1},
      {"not a spline", "@spline", "@hatch", -99},
  };
  for (const auto& c : bad) {
    std::string text = spline;
    text.replace(text.find(c.from), c.from.size(), c.to);
    ASSERT_TRUE(load(header(0) + text)) << c.name;
    const std::string start = text.substr(1, text.find('\n') - 1);
    EXPECT_EQ(fetch(fetchSpline, start, s), c.result) << c.name;
  }
}

TEST_F(FetchTest, HatchesAndPolygons) {
  const std::string head = "#visible\n#1 0 0 0 x\n";
  const struct {
    const char* keyword;
    std::string values;  // after the head
    const char* label;
    std::int32_t form;
    std::size_t points;
    bool closed, filled;
  } cases[] = {
      {"hatch", "#10\n#1\n#0\n#3\n#1 2\n#5 2\n#5 6\n", "HATCH   ", 63, 3, true, true},
      {"d_polyline", "#1\n#0\n#2\n#1 2\n#5 2\n", "POLYLINE", 11, 2, false, false},
      {"d_fill_polygon", "#1\n#0\n#3\n#1 2\n#5 2\n#5 6\n", "POLYGON ", 63, 3, true, true},
      {"d_multiline", "#1\n#0\n#0\n", "MULTILIN", 11, 0, false, false},
      {"d_rectangle", "#1\n#0\n#1 2\n#5 6\n", "BOX     ", 63, 4, true, false},
      {"d_fill_rectangle", "#1\n#0\n#1 2\n#5 6\n", "BOX     ", 63, 4, true, true},
      {"d_triangle", "#1\n#0\n#1 2\n#5 2\n#5 6\n", "TRIANGLE", 63, 3, true, true},
      {"d_nonfill_triangle", "#1\n#0\n#1 2\n#5 2\n#5 6\n", "TRIANGLE", 63, 3, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    const std::string start = std::string(c.keyword) + " 1";
    ASSERT_TRUE(load(header(0) + "@" + start + "\n" + head + c.values));
    TransferHatch h;
    ASSERT_EQ(fetch(fetchHatch, start, h), 0);
    EXPECT_EQ(std::tuple(label(), element(lastIndex_).form, h.points.size(), h.closed, h.filled),
              std::tuple(std::string(c.label), c.form, c.points, c.closed, c.filled));
    if (c.points >= 3) {
      EXPECT_EQ(std::tuple(h.points[0].x, h.points[2].y), std::tuple(0., 4.));
    }
  }
  // A point count the rest of the file cannot hold, a negative count and
  // a keyword of another kind.
  for (const char* values : {"#10\n#1\n#0\n#99999999\n#1 2\n", "#10\n#1\n#0\n#-1\n"}) {
    ASSERT_TRUE(load(header(0) + "@hatch 1\n" + head + values));
    TransferHatch h;
    EXPECT_EQ(fetch(fetchHatch, "hatch 1", h), -1) << values;
  }
  ASSERT_TRUE(load(header(0) + "@line 1\n" + head));
  TransferHatch h;
  std::string out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(fetch(fetchHatch, "line 1", h), -99);
  out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "hse710 : Unbekannter CAD-Typ 'line'\n");
}

TEST_F(FetchTest, ContoursAndPlaneParts) {
  ASSERT_TRUE(load(header(1) + "@contour 1\n#30\n#5\n#end\n" +
                   "@contour_part 2\n#a\n#x\n#visible\n#1 0 0 0 x\n#20\n#inside\n#5\n" +
                   "@plane_part 3\n#a\n#x\n#deleted\n#2\n#10\n#hatch_cross\n#2.5\n#45\n#1\n"));
  TransferContour c;
  ASSERT_EQ(fetch(fetchContour, "contour 1", c), 0);
  EXPECT_EQ(c.layer, 1);
  EXPECT_EQ(label(), "CONTOUR ");
  ASSERT_EQ(fetch(fetchContour, "contour_part 2", c), 0);
  EXPECT_EQ(c.layer, 2);
  EXPECT_EQ(c.orientation, 1);
  TransferPlanePart p;
  ASSERT_EQ(fetch(fetchPlanePart, "plane_part 3", p), 0);
  EXPECT_EQ(label(), "PLANE   ");
  EXPECT_EQ(element(lastIndex_).type, 230);
  EXPECT_TRUE(p.deleted);
  EXPECT_EQ(p.contourCount, 2);
  EXPECT_EQ(p.layer, 3);
  EXPECT_EQ(p.hatchKind, 2);
  EXPECT_DOUBLE_EQ(p.hatchSpacing, 2.5);
  EXPECT_TRUE(near(p.hatchAngle, M_PI / 4));
}

TEST_F(FetchTest, DebugLinesOfTheLineFetcher) {
  ASSERT_TRUE(load(header(0) + "@line 7\n#visible\n#1 -1 -1 -1 x\n#0\n#0\n#1\n#1\n#10\n#1\n#0\n"));
  const std::int32_t position = positionOf("line 7");
  TransferLine line;
  for (int level : {98, 99}) {
    runSettings().traceLevel = level;
    testing::internal::CaptureStdout();
    ASSERT_EQ(fetch(fetchLine, "line 7", line), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string expected = level > 98 ? "hse240_hole_line_datn : ID 7 Offset " + std::to_string(position) +
                                                  " Type   line\nhse240_hole_line_datn : ok \n"
                                            : "";
    EXPECT_EQ(out, expected) << level;
  }
}

}  // namespace

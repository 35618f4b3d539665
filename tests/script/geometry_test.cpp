// Geometry statements, compared byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <tuple>

#include "script/geometry.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/run_state.h"
#include "tests/script/script_stream.h"

namespace {

// The script is opened here without a unit name, on a path of its own.
class ScriptGeometry : public ScriptStreamTest {
 protected:
  void SetUp() override {
    resetRunState();
    runState().runMode = RunModeBit::kInput | RunModeBit::kG1;
    runSettings().tlvvMode = 99;
    ScriptSource source;
    source.unitFlag = 2;
    ScriptOpenStream(out_, "a.kpl", source);
    take();
    element_.index = 5;
    element_.level = 2;
  }
  // The statement lines of a text that are not points.
  static std::string statements(const std::string& text) {
    std::istringstream in(text);
    std::string line, kept;
    while (std::getline(in, line)) {
      if (line.find("DTCreatePoint") == std::string::npos) kept += line + "\n";
    }
    return kept;
  }
  // The style of the element as the assignment tables give it.
  std::string style() const {
    const std::int32_t counter = scriptState().statementCounter;
    const std::string text = ScriptLineStyle(cadLineStyle(element_.font), widthOfNumber(element_.widthNumber));
    scriptState().statementCounter = counter;
    return text;
  }
  ScriptElement element_;
  std::vector<std::int32_t> created_;
};

TEST_F(ScriptGeometry, LinesShareCornerPoints) {
  ASSERT_EQ(ScriptLine(element_, nullptr, {0, 0, 0}, {10, 0, 0}, created_), 0);
  ASSERT_EQ(ScriptLine(element_, nullptr, {10, 0, 0}, {10, 5, 0}, created_), 0);
  const std::string text = take();
  EXPECT_EQ(text,
            "E2=DTCreatePointSameY(E1,10,0,{7},{})\n"  // origin is E1: (0,0) reuses it
            "E3=DTCreateLine(Z2," + style() + ",E1,E2,0,{7},{})\n"
            "E4=DTCreatePointSameX(E2,5,0,{7},{})\n"
            "E5=DTCreateLine(Z2," + style() + ",E2,E4,0,{7},{})\n");
  EXPECT_EQ(created_, (std::vector<std::int32_t>{3, 5}));
}

TEST_F(ScriptGeometry, DegenerateAndCollapsedLines) {
  EXPECT_EQ(ScriptLine(element_, nullptr, {1, 1, 0}, {1.00001, 1, 0}, created_), -1);
  // Long in space, a point in the drawing after the projection.
  ScriptMatrix flat;
  flat.r[2][2] = 0.0;
  EXPECT_EQ(ScriptLine(element_, nullptr, {1, 1, 0}, {1, 1, 9}, created_), -1);
  EXPECT_EQ(take(), "");
  EXPECT_TRUE(created_.empty());
}

TEST_F(ScriptGeometry, ArcsInBothModesAndFullCircles) {
  ASSERT_EQ(ScriptCircle(element_, nullptr, {0, 0, 0}, {10, 0, 0}, {0, 10, 0}, created_), 0);
  EXPECT_EQ(statements(take()),
            "E5=DTCreateArc(Z2," + style() + ",\"no_axes\",E2,E4,E3,0,{7},{})\n");
  runSettings().arcMode = 1;
  ASSERT_EQ(ScriptCircle(element_, nullptr, {50, 0, 0}, {60, 0, 0}, {50, 10, 0}, created_), 0);
  EXPECT_EQ(statements(take()),
            "E9=DTCreateArcCenter(Z2," + style() + ",\"no_axes\",E7,E6,E8,10,0,{7},{})\n");
  // Start equals end within the tolerance: a full circle.
  ASSERT_EQ(ScriptCircle(element_, nullptr, {100, 0, 0}, {102.5, 0, 0}, {102.50001, 0, 0}, created_), 0);
  EXPECT_EQ(statements(take()), "E11=DTCreateCircle(Z2," + style() + ",\"no_axes\",E10,2.5,0,{7},{})\n");
  EXPECT_EQ(ScriptCircle(element_, nullptr, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, created_), -1);
}

TEST_F(ScriptGeometry, TiltedArcBecomesEllipseAndMirrorSwaps) {
  // Turned by 60 degrees about the x axis, then mirrored in z.
  const double c = 0.5, s = std::sqrt(0.75);
  ScriptMatrix m;
  m.r[1][1] = c;
  m.r[1][2] = -s;
  m.r[2][1] = s;
  m.r[2][2] = c;
  ASSERT_EQ(ScriptCircle(element_, &m, {0, 0, 0}, {10, 0, 0}, {0, 10, 0}, created_), 0);
  std::string text = statements(take());
  EXPECT_EQ(text,
            "E4=DTCreateEllipse(Z2," + style() + ",\"no_axes\",E1,E2,E3,0,{7},{})\n"
            "E6=DTCreateEllipseArc(Z2," + style() + ",\"no_axes\",E1,E2,E3,E2,E5,0,{7},{})\n");
  m.r[2][2] = -c;
  m.t[0] = 100;
  ASSERT_EQ(ScriptCircle(element_, &m, {0, 0, 0}, {10, 0, 0}, {0, 10, 0}, created_), 0);
  text = statements(take());
  EXPECT_NE(text.find(",\"no_axes\",E7,E8,E9,E11,E8,0,{7},{})"), std::string::npos) << text;
  // Three quarters: the end is the axis point, the arc is still written.
  m.r[2][2] = c;
  m.t[0] = 200;
  ASSERT_EQ(ScriptCircle(element_, &m, {0, 0, 0}, {10, 0, 0}, {0, -10, 0}, created_), 0);
  text = statements(take());
  EXPECT_EQ(text,
            "E16=DTCreateEllipse(Z2," + style() + ",\"no_axes\",E13,E14,E15,0,{7},{})\n"
            "E17=DTCreateEllipseArc(Z2," + style() + ",\"no_axes\",E13,E14,E15,E14,E15,0,{7},{})\n");
}

TEST_F(ScriptGeometry, EllipseOfConicCoefficients) {
  // x^2/16 + y^2/4 = 1 around (1, 2).
  const double k[6] = {1.0 / 16, 0, 1.0 / 4, -2.0 / 16, -4.0 / 4, 1.0 / 16 + 4.0 / 4 - 1};
  ScriptEllipseData e;
  ASSERT_EQ(scriptEllipseOfConic(k, 0, e), 0);
  EXPECT_NEAR(e.centre.x, 1, 1e-12);
  EXPECT_NEAR(e.centre.y, 2, 1e-12);
  EXPECT_NEAR(e.a, 4, 1e-12);
  EXPECT_NEAR(e.b, 2, 1e-12);
  e.start = e.end = ScriptPointXYZ{5, 2, 0};
  ASSERT_EQ(ScriptConic(element_, nullptr, e, created_), 0);
  EXPECT_EQ(statements(take()), "E5=DTCreateEllipse(Z2," + style() + ",\"no_axes\",E2,E3,E4,0,{7},{})\n");
  // The arc from the end of the major axis to the end of the minor one,
  // mirrored: start and end (the axis points again) change places.
  e.start = ScriptPointXYZ{5, 2, 0};
  e.end = ScriptPointXYZ{1, 4, 0};
  ScriptMatrix mirror;
  mirror.r[0][0] = -1;
  mirror.r[2][2] = -1;
  mirror.t[0] = 50;
  ASSERT_EQ(ScriptConic(element_, &mirror, e, created_), 0);
  EXPECT_EQ(statements(take()),
            "E9=DTCreateEllipseArc(Z2," + style() + ",\"no_axes\",E6,E7,E8,E8,E7,0,{7},{})\n");
  const double hyperbola[6] = {1, 0, -1, 0, 0, -1};
  EXPECT_EQ(scriptEllipseOfConic(hyperbola, 0, e), -1);
}

TEST_F(ScriptGeometry, BSplineDegreeIsCappedAtFour) {
  const std::vector<ScriptPointXYZ> controls = {{0, 0, 0}, {1, 2, 0}, {3, 2, 0}, {4, 0, 0}, {5, 1, 0}, {6, 0, 0}};
  ASSERT_EQ(ScriptBSpline(element_, nullptr, controls, 5, false, created_), 0);
  EXPECT_EQ(statements(take()),
            "E7=DTCreateSpline(Z2," + style() + ",\"nonper_urbs\",4, { E1 E2 E3 E4 E5 E6},0,{7},{})\n");
  EXPECT_EQ(ScriptBSpline(element_, nullptr, {}, 3, false, created_), -1);
}

TEST_F(ScriptGeometry, ParametricSplineBezierJunctionsAndHiding) {
  // Two cubic segments of y = t^3 on [0,1] and [1,2]: smooth to C2 inside,
  // open at the closing junction.
  ScriptSplineSegment a, b;
  a.x[1] = 1;
  a.y[3] = 1;
  b.x[0] = 1;
  b.x[1] = 1;
  b.y[0] = 1;
  b.y[1] = 3;
  b.y[2] = 3;
  b.y[3] = 1;
  const auto pa = scriptBezierOf(a, 1.0, 3);
  const auto pb = scriptBezierOf(b, 1.0, 3);
  ASSERT_EQ(pa.size(), 4u);
  EXPECT_NEAR(pa[1].x, 1.0 / 3, 1e-12);
  EXPECT_NEAR(pa[3].y, 1.0, 1e-12);
  EXPECT_EQ(std::tuple(scriptJunctionClass(pa, pb, 3), scriptJunctionClass(pb, pa, 3)), std::tuple(2, -1));
  element_.attributes.blank = 1;
  ASSERT_EQ(ScriptParamSpline(element_, nullptr, {0, 1, 2}, {a, b}, created_), 0);
  const std::string text = statements(take());
  // One open spline of the two segments: five control points.
  EXPECT_NE(text.find("\"nonper_urbs\",3, { E1 E2 E3 E4 E5},1,{7},{})\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DTSetInVisible({E6})\n"), std::string::npos) << text;
  ASSERT_EQ(created_.size(), 1u);
}

TEST_F(ScriptGeometry, ContourLineBreaksEveryTwentyMembers) {
  std::vector<std::int32_t> members;
  for (int i = 0; i < 45; ++i) members.push_back(100 + i);
  ASSERT_EQ(ScriptContour(element_, members, 0, created_), 0);
  const std::string text = take();
  std::string expected = "E2=DTCreateContourOfElements( Z2, { ";
  for (int i = 0; i < 45; ++i) expected += std::string(i % 20 == 0 ? "\n" : "") + "E" + std::to_string(100 + i) + " ";
  expected += "},0,{7},{})\n";
  EXPECT_EQ(text, expected);
  // Mixed: the plain members first, then the union with the sub-contours.
  ASSERT_EQ(ScriptContour(element_, {50, 51, 60, 61}, 2, created_), 0);
  EXPECT_EQ(take(),
            "E3=DTCreateContourOfElements( Z2, { \nE60 E61 },0,{7},{})\n"
            "E4=DTCreateContourUnion( Z2, { E50 E51 E3 },0,{7},{})\n");
  created_.clear();
  ASSERT_EQ(ScriptContourUnion(element_, {77}, created_), 0);
  EXPECT_EQ(take(), "");
  EXPECT_EQ(created_, std::vector<std::int32_t>{77});
}

TEST_F(ScriptGeometry, HatchBlocksSpacingAndAngle) {
  const struct {
    int pattern;
    const char* hatch;
  } cases[] = {{1, "{\"hatch_single\",false}"}, {15, "{\"hatch_single\",false}"},
               {16, "{\"hatch_cross\",false}"},  {18, "{\"hatch_cross\",false}"},
               {19, "{\"hatch_no\",true}"},      {0, "{\"hatch_no\",true}"}};
  for (const auto& c : cases) {
    const std::int32_t n = scriptState().elementCounter;
    ASSERT_EQ(ScriptPlane(element_, {{40, false, 0}, {41, false, 0}}, c.pattern, 0.01, 0.5, true, created_), 0);
    EXPECT_EQ(take(), "E" + std::to_string(n) + "=DTCreatePlane(Z2," + c.hatch +
                          ",{\n E40 E41},0.025,28.64788976,0,{7},{})\n")
        << c.pattern;
  }
  // The caller's flag of an unhatched plane.
  ASSERT_EQ(ScriptPlane(element_, {{40, false, 0}}, 0, 2.0, 0, false, created_), 0);
  EXPECT_NE(take().find("{\"hatch_no\",false},{\n E40},2,0,"), std::string::npos);
  // A contour boundary marked as filled; the other boundaries become one contour first.
  ASSERT_EQ(ScriptPlane(element_, {{30, true, 1}, {41, false, 0}, {42, false, 0}}, 3, 1.0, 0, false, created_), 0);
  EXPECT_EQ(take(),
            "E9=DTCreateContourOfElements( Z2, { \nE41 E42 },0,{7},{})\n"
            "E10=DTCreateContourUnion( Z2, { E30 E9 },0,{7},{})\n"
            "E11=DTCreatePlaneOfContour(Z2,{\"hatch_single\",true},E10,1,0,0,{7},{})\n");
  // With a contour boundary an unhatched plane says true whatever the flag.
  ASSERT_EQ(ScriptPlane(element_, {{30, true, 0}}, 0, 1.0, 0, false, created_), 0);
  EXPECT_NE(take().find("{\"hatch_no\",true},"), std::string::npos);
}

TEST_F(ScriptGeometry, ClipCutsAndDrops) {
  ScriptSetClipBox(0, 0, 10, 10);
  ScriptPointXYZ a{-5, 5, 0}, b{5, 5, 0};
  ASSERT_EQ(ScriptClip(a, b), 0);
  EXPECT_DOUBLE_EQ(a.x, 0);
  EXPECT_DOUBLE_EQ(b.x, 5);
  ScriptPointXYZ c{20, 20, 0}, d{30, 25, 0};
  EXPECT_EQ(ScriptClip(c, d), -1);
  EXPECT_EQ(ScriptLine(element_, nullptr, {20, 20, 0}, {30, 25, 0}, created_), -99);
  EXPECT_EQ(ScriptCircle(element_, nullptr, {50, 50, 0}, {51, 50, 0}, {51, 50, 0}, created_), -99);
  EXPECT_EQ(take(), "");
  ScriptClearClipBox();
}

TEST_F(ScriptGeometry, DrawingBorderWithInfo) {
  runSettings().viewMode = 2;
  element_.data.name = "SHEET1";
  element_.data.type = 404;
  element_.data.sequence = 9;
  element_.data.parameterPointer = 4;
  ASSERT_EQ(ScriptDrawingBorder(element_, {0, 0, 0}, {420, 297, 0}, created_), 0);
  const std::string text = statements(take());
  EXPECT_NE(text.find("E3=DTCreateLine(Z2," + style() + ",E1,E2,0,{7},{})\n"
                      "set_igesinfo(E3,\"SHEET1\",404,0,9,4)\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(created_.size(), 4u);
}

}  // namespace

namespace {

// Cubic Bezier value at u.
ScriptPointXYZ bezierAt(const std::vector<ScriptPointXYZ>& p, double u) {
  const double v = 1 - u;
  const double w[4] = {v * v * v, 3 * u * v * v, 3 * u * u * v, u * u * u};
  ScriptPointXYZ r;
  for (int i = 0; i < 4; ++i) {
    r.x += w[i] * p[i].x;
    r.y += w[i] * p[i].y;
  }
  return r;
}

// An open uniform B-spline of degree g (end knots repeated g+1 times) at u
// in [0, number of segments].
ScriptPointXYZ uniformSplineAt(const std::vector<ScriptPointXYZ>& d, int g, double u) {
  std::vector<double> knots;
  const int segments = static_cast<int>(d.size()) - g;
  for (int i = 0; i <= g; ++i) knots.push_back(0);
  for (int i = 1; i < segments; ++i) knots.push_back(i);
  for (int i = 0; i <= g; ++i) knots.push_back(segments);
  // The span holding u, then de Boor's triangle.
  int k = g;
  while (k + 1 < static_cast<int>(d.size()) && knots[static_cast<std::size_t>(k + 1)] <= u) ++k;
  std::vector<ScriptPointXYZ> p(d.begin() + (k - g), d.begin() + k + 1);
  for (int r = 1; r <= g; ++r) {
    for (int j = g; j >= r; --j) {
      const int i = k - g + j;
      const double a = (u - knots[static_cast<std::size_t>(i)]) /
                       (knots[static_cast<std::size_t>(i + g - r + 1)] - knots[static_cast<std::size_t>(i)]);
      p[static_cast<std::size_t>(j)].x = (1 - a) * p[static_cast<std::size_t>(j - 1)].x + a * p[static_cast<std::size_t>(j)].x;
      p[static_cast<std::size_t>(j)].y = (1 - a) * p[static_cast<std::size_t>(j - 1)].y + a * p[static_cast<std::size_t>(j)].y;
    }
  }
  return p[static_cast<std::size_t>(g)];
}

// The merged control polygon reproduces the segments: open pieces of one to
// four segments of each degree (segments of one polynomial, so they join
// smoothly), and a closed curve made from a periodic polygon.
TEST(ScriptSplinePieces, MergedPolygonReproducesTheSegments) {
  resetScriptState();
  for (int g = 1; g <= 3; ++g) {
    for (int n = 1; n <= 4; ++n) {
      // p(t) = (t + t^2/3 - t^3/5, 2 - t^2 + t^3/4) cut down to degree g, on [0, n].
      const double cx[4] = {0, 1, g >= 2 ? 1.0 / 3 : 0, g >= 3 ? -0.2 : 0};
      const double cy[4] = {2, g >= 2 ? 0.0 : 0.5, g >= 2 ? -1.0 : 0.0, g >= 3 ? 0.25 : 0.0};
      auto value = [](const double* c, double t) { return c[0] + t * (c[1] + t * (c[2] + t * c[3])); };
      std::vector<std::vector<ScriptPointXYZ>> polygons;
      for (int i = 0; i < n; ++i) {
        // The segment's coefficients at t = i (Taylor form).
        ScriptSplineSegment seg;
        const double t0 = i;
        for (int axis = 0; axis < 2; ++axis) {
          const double* c = axis == 0 ? cx : cy;
          double* a = axis == 0 ? seg.x : seg.y;
          a[0] = value(c, t0);
          a[1] = c[1] + 2 * c[2] * t0 + 3 * c[3] * t0 * t0;
          a[2] = c[2] + 3 * c[3] * t0;
          a[3] = c[3];
        }
        polygons.push_back(scriptBezierOf(seg, 1.0, g));
        if (i > 0) {
          EXPECT_GE(scriptJunctionClass(polygons[static_cast<std::size_t>(i - 1)], polygons.back(), g), g - 1);
        }
      }
      const std::vector<ScriptPointXYZ> merged = scriptMergePiece(polygons, g, false);
      ASSERT_EQ(merged.size(), static_cast<std::size_t>(n + g)) << g << " " << n;
      for (double u = 0; u <= n; u += 0.125) {
        const ScriptPointXYZ q = uniformSplineAt(merged, g, u);
        EXPECT_NEAR(q.x, value(cx, u), 1e-9) << "degree " << g << " segments " << n << " u " << u;
        EXPECT_NEAR(q.y, value(cy, u), 1e-9) << "degree " << g << " segments " << n << " u " << u;
      }
    }
  }
  // A closed cubic: the Bezier polygons of a periodic spline give its
  // control points back.  The segment on the points P0..P3 has the Bezier
  // points (P0 + 4 P1 + P2)/6, (2 P1 + P2)/3, (P1 + 2 P2)/3, (P1 + 4 P2 + P3)/6.
  const std::vector<ScriptPointXYZ> closed = {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {1, 5, 0}, {-1, 2, 0}};
  const std::size_t k = closed.size();
  auto mix = [](std::initializer_list<std::pair<double, ScriptPointXYZ>> terms) {
    ScriptPointXYZ r;
    for (const auto& [w, p] : terms) {
      r.x += w * p.x;
      r.y += w * p.y;
    }
    return r;
  };
  std::vector<std::vector<ScriptPointXYZ>> polygons;
  for (std::size_t i = 0; i < k; ++i) {
    const ScriptPointXYZ &p0 = closed[i], &p1 = closed[(i + 1) % k], &p2 = closed[(i + 2) % k],
                         &p3 = closed[(i + 3) % k];
    polygons.push_back({mix({{1.0 / 6, p0}, {4.0 / 6, p1}, {1.0 / 6, p2}}), mix({{2.0 / 3, p1}, {1.0 / 3, p2}}),
                        mix({{1.0 / 3, p1}, {2.0 / 3, p2}}), mix({{1.0 / 6, p1}, {4.0 / 6, p2}, {1.0 / 6, p3}})});
  }
  for (std::size_t i = 0; i < k; ++i) {
    EXPECT_GE(scriptJunctionClass(polygons[(i + k - 1) % k], polygons[i], 3), 2);
  }
  const std::vector<ScriptPointXYZ> merged = scriptMergePiece(polygons, 3, true);
  ASSERT_EQ(merged.size(), k);
  for (std::size_t i = 0; i < k; ++i) {
    EXPECT_NEAR(merged[i].x, closed[(i + 1) % k].x, 1e-12) << i;
    EXPECT_NEAR(merged[i].y, closed[(i + 1) % k].y, 1e-12) << i;
  }
}

TEST(ScriptConicPieces, ParabolaExactHyperbolaWithinTolerance) {
  resetScriptState();
  resetAssignTables();
  const struct {
    const char* name;
    double k[6];
    ScriptPointXYZ start, end;
    bool onePiece;
  } cases[] = {
      {"parabola y = x^2", {1, 0, 0, 0, -1, 0}, {-2, 4, 0}, {3, 9, 0}, true},
      {"hyperbola x^2 - y^2 = 1", {1, 0, -1, 0, 0, -1}, {std::cosh(-1.5), std::sinh(-1.5), 0},
       {std::cosh(1.2), std::sinh(1.2), 0}, false},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<ScriptPointXYZ>> polygons;
    ASSERT_EQ(scriptConicPolygons(c.k, c.start, c.end, polygons), 0) << c.name;
    if (c.onePiece) {
      EXPECT_EQ(polygons.size(), 1u) << c.name;
    }
    EXPECT_NEAR(polygons.front().front().x, c.start.x, 1e-12);
    EXPECT_NEAR(polygons.back().back().y, c.end.y, 1e-12);
    for (const auto& p : polygons) {
      ASSERT_EQ(p.size(), 4u);
      for (double u = 0; u <= 1.0; u += 0.125) {
        const ScriptPointXYZ q = bezierAt(p, u);
        const double value = c.k[0] * q.x * q.x + c.k[1] * q.x * q.y + c.k[2] * q.y * q.y + c.k[3] * q.x +
                             c.k[4] * q.y + c.k[5];
        EXPECT_LT(std::fabs(value), 0.01) << c.name << " u=" << u;
      }
    }
  }
}

}  // namespace

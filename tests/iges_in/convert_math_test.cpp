// Conic classification, matrix composition and palette selection of the
// IGES conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry_math.h"

namespace {

struct ConicCase {
  const char* what;
  double a, b, c, d, e, f;
  ConicKind expected;
};

TEST(ConvertConic, ClassifiesByInvariants) {
  const ConicCase cases[] = {
      {"unit circle", 1, 0, 1, 0, 0, -1, ConicKind::kEllipse},
      {"ellipse 4x^2+y^2=4", 4, 0, 1, 0, 0, -4, ConicKind::kEllipse},
      {"rotated ellipse", 2, 1, 2, 0, 0, -3, ConicKind::kEllipse},
      {"hyperbola x^2-y^2=1", 1, 0, -1, 0, 0, -1, ConicKind::kHyperbola},
      {"parabola x^2=y", 1, 0, 0, 0, -1, 0, ConicKind::kParabola},
      {"no real points x^2+y^2=-1", 1, 0, 1, 0, 0, 1, ConicKind::kNoRealPoints},
      {"pair of lines x^2-y^2=0", 1, 0, -1, 0, 0, 0, ConicKind::kDegenerate},
      {"determinant 0.00005", 1, 0, 1, 0, 0, -0.00005, ConicKind::kDegenerate},
      {"determinant 0.0002", 1, 0, 1, 0, 0, -0.0002, ConicKind::kEllipse},
  };
  for (const ConicCase& k : cases) {
    EXPECT_EQ(classifyConic(k.a, k.b, k.c, k.d, k.e, k.f, 0.0001), k.expected) << k.what;
  }
}

TEST(ConvertMatrix, ComposesInnerFirst) {
  // inner: rotate 90 degrees about z; outer: move by (10, 0, 0).
  const double rot[12] = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0};
  const double move[12] = {1, 0, 0, 10, 0, 1, 0, 0, 0, 0, 1, 0};
  const Transform inner = transformFromParameters(rot);
  const Transform outer = transformFromParameters(move);
  const Point3 p = applyTransform(composeTransforms(outer, inner), Point3{1, 0, 0});
  EXPECT_NEAR(p.x, 10.0, 1e-12);
  EXPECT_NEAR(p.y, 1.0, 1e-12);
  const Point3 q = applyTransform(composeTransforms(inner, outer), Point3{1, 0, 0});
  EXPECT_NEAR(q.x, 0.0, 1e-12);
  EXPECT_NEAR(q.y, 11.0, 1e-12);
  const Point3 v = applyRotation(composeTransforms(outer, inner), Point3{1, 0, 0});
  EXPECT_NEAR(v.x, 0.0, 1e-12);
  EXPECT_NEAR(v.y, 1.0, 1e-12);
}

TEST(ConvertPalette, ExactThenNearestFirstOnTie) {
  const PaletteColour palette[] = {
      {0, 0, 0, 1}, {250, 5, 0, 2}, {255, 0, 0, 3}, {0, 255, 0, 4}, {0, 0, 250, 5}, {0, 5, 255, 6},
  };
  const std::size_t n = sizeof palette / sizeof palette[0];
  EXPECT_EQ(nearestPaletteColour(palette, n, percentToByte(100), 0, 0), 2);
  EXPECT_EQ(nearestPaletteColour(palette, n, 254, 0, 0), 2);
  EXPECT_EQ(nearestPaletteColour(palette, n, 10, 10, 10), 0);
  // Distance 5 to both entries 4 and 5: the first wins.
  EXPECT_EQ(nearestPaletteColour(palette, n, 0, 0, 255), 4);
  EXPECT_EQ(nearestPaletteColour(palette, n, 0, 0, 252), 4);
  EXPECT_EQ(nearestPaletteColour(palette, 0, 1, 2, 3), -1);
  // Without the exact entry, 100 % red picks the nearest one.
  EXPECT_EQ(nearestPaletteColour(palette, 2, percentToByte(100), 0, 0), 1);
}

TEST(ConvertPalette, PercentagesTruncate) {
  const struct {
    double percent;
    int value;
  } cases[] = {{100, 255}, {0, 0}, {50, 127}, {99.9, 252}, {33.3, 84}, {-5, -12}};
  for (const auto& c : cases) EXPECT_EQ(percentToByte(c.percent), c.value) << c.percent;
  EXPECT_EQ(percentToByte(std::nan("")), 0);
}

}  // namespace

namespace {

TEST(ConvertSpline, PolylinePointsFollowTheSegments) {
  SplineSegment segments[2];
  // x = s, y = s^2 on [0, 1]; then a straight piece x = 1 + s, y = 1 on [1, 3].
  segments[0].t0 = 0;
  segments[0].t1 = 1;
  segments[0].coef[0][1] = 1;
  segments[0].coef[1][2] = 1;
  segments[1].t0 = 1;
  segments[1].t1 = 3;
  segments[1].coef[0][0] = 1;
  segments[1].coef[0][1] = 1;
  segments[1].coef[1][0] = 1;
  const std::size_t n = splinePolylinePointCount(segments, 2);
  EXPECT_EQ(n, static_cast<std::size_t>(kSplineStepsPerSegment + 2));
  std::vector<Point3> points(n);
  ASSERT_EQ(splinePolylinePoints(segments, 2, points.data(), n), n);
  for (int k = 0; k < kSplineStepsPerSegment; ++k) {
    const double s = static_cast<double>(k) / kSplineStepsPerSegment;
    EXPECT_NEAR(points[k].x, s, 1e-12);
    EXPECT_NEAR(points[k].y, s * s, 1e-12);
  }
  EXPECT_NEAR(points[n - 2].x, 1, 1e-12);
  EXPECT_NEAR(points[n - 1].x, 3, 1e-12);
  EXPECT_NEAR(points[n - 1].y, 1, 1e-12);
  // A short buffer is never overrun.
  EXPECT_EQ(splinePolylinePoints(segments, 2, points.data(), 3), 3u);
  EXPECT_EQ(splinePolylinePointCount(segments, 0), 0u);
}

}  // namespace

// The marks of a gathering take each object once, also numbers outside the
// table (negative, very large), and a new gathering starts with none taken,
// however many gatherings came before.
TEST(ConvertObjectMarks, EachObjectOncePerGathering) {
  ObjectMarks marks;
  const std::vector<std::int32_t> objects{3, 1, 3, -7, 1, 1 << 30, -7, 1 << 30, 0, 100000, 0};
  const std::vector<bool> taken{true, true, false, true, false, true, false, false, true, true, false};
  for (int gathering = 0; gathering < 3; ++gathering) {
    SCOPED_TRACE(gathering);
    marks.begin();
    for (std::size_t k = 0; k < objects.size(); ++k) EXPECT_EQ(marks.insert(objects[k]), taken[k]) << k;
  }
  marks.begin();
  EXPECT_TRUE(marks.insert(5));
  EXPECT_FALSE(marks.insert(5));
}

// The cubic through the fit points of a spline: the control points and
// knots a CAD program stores for them, the points passed through, and the
// point sets no curve fits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dwg/spline_fit.h"

namespace db = drawingdb;

namespace {

// The curve's point at `u` (de Boor).
db::Point3 pointAt(const FittedSpline& s, double u) {
  const std::vector<double>& k = s.knots;
  std::size_t span = 3;
  while (span + 1 < s.controls.size() && u >= k[span + 1]) ++span;
  db::Point3 d[4];
  for (int j = 0; j < 4; ++j) d[j] = s.controls[span - 3 + static_cast<std::size_t>(j)];
  for (int r = 1; r <= 3; ++r)
    for (int j = 3; j >= r; --j) {
      const std::size_t i = span - 3 + static_cast<std::size_t>(j);
      const double a = (u - k[i]) / (k[i + 4 - static_cast<std::size_t>(r)] - k[i]);
      d[j] = {(1 - a) * d[j - 1].x + a * d[j].x, (1 - a) * d[j - 1].y + a * d[j].y, (1 - a) * d[j - 1].z + a * d[j].z};
    }
  return d[3];
}

double distance(const db::Point3& a, const db::Point3& b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }

}  // namespace

// A spline of a drawing's DWG file (fit points and end tangents) and the
// control points and knots its DXF twin, written by a CAD program, holds.
TEST(SplineFit, GivesTheControlPointsACadProgramStores) {
  const std::vector<db::Point3> fit = {{-1160.70829, 1466.2996, 0}, {-803.258421, 1216.77356, 0},
                                       {-1263.53633, 1021.06686, 0}, {-1297.81235, 1896.85433, 0},
                                       {-1493.67529, 1867.49833, 0}, {-1449.60613, 1436.94359, 0}};
  FittedSpline s;
  ASSERT_TRUE(splineThroughFitPoints(fit, {-0.812236023, -0.583328932, 0}, {-0.0360413721, -0.999350299, 0}, s));
  const std::vector<double> knots = {0, 0, 0, 0, 435.928496, 936.08534, 1812.54329, 2010.59396,
                                     2443.39816, 2443.39816, 2443.39816, 2443.39816};
  const std::vector<db::Point3> controls = {{-1160.70829, 1466.2996, 0},  {-1278.7339, 1381.53636, 0},
                                            {-393.954446, 1231.13153, 0}, {-1793.15627, 719.569223, 0},
                                            {-936.550514, 1967.43042, 0}, {-1656.36324, 1879.6203, 0},
                                            {-1444.40651, 1581.11793, 0}, {-1449.60613, 1436.94359, 0}};
  ASSERT_EQ(s.knots.size(), knots.size());
  for (std::size_t k = 0; k < knots.size(); ++k) EXPECT_NEAR(s.knots[k], knots[k], 1e-5) << k;
  ASSERT_EQ(s.controls.size(), controls.size());
  for (std::size_t k = 0; k < controls.size(); ++k) EXPECT_LT(distance(s.controls[k], controls[k]), 1e-4) << k;
}

// Through every point, in order, whatever the tangents say; the ends
// leave along the given tangent or, without one, along the parabola
// through the three end points.
TEST(SplineFit, PassesThroughEveryPoint) {
  const struct {
    const char* name;
    std::vector<db::Point3> fit;
    db::Point3 start, end;
  } rows[] = {
      {"two points", {{0, 0, 0}, {10, 0, 0}}, {0, 1, 0}, {0, -1, 0}},
      {"three points, no tangents", {{0, 0, 0}, {5, 5, 0}, {10, 0, 0}}, {}, {}},
      {"in space", {{0, 0, 0}, {1, 2, 3}, {4, 4, 4}, {6, 1, 0}, {9, 0, -2}}, {1, 0, 0}, {}},
      {"a point repeated", {{0, 0, 0}, {3, 1, 0}, {3, 1, 0}, {6, 0, 0}, {9, 2, 0}}, {}, {1, 1, 0}},
      {"many points", {}, {}, {}},
  };
  for (auto row : rows) {
    SCOPED_TRACE(row.name);
    if (row.fit.empty())
      for (int k = 0; k < 2000; ++k) row.fit.push_back({double(k), std::sin(k * 0.01) * 100.0, 0});
    FittedSpline s;
    ASSERT_TRUE(splineThroughFitPoints(row.fit, row.start, row.end, s));
    EXPECT_EQ(s.knots.size(), s.controls.size() + 4);
    for (std::size_t k = 1; k < s.knots.size(); ++k) EXPECT_LE(s.knots[k - 1], s.knots[k]);
    // The parameters of the distinct points are the knots from the fourth.
    std::size_t at = 3;
    for (std::size_t k = 0; k < row.fit.size(); ++k) {
      if (k > 0 && row.fit[k] == row.fit[k - 1]) continue;
      EXPECT_LT(distance(pointAt(s, s.knots[at]), row.fit[k]), 1e-6 * (1 + s.knots.back())) << k;
      ++at;
    }
    // The first leg leaves along the start tangent where one is given.
    const db::Point3 leg{s.controls[1].x - s.controls[0].x, s.controls[1].y - s.controls[0].y,
                         s.controls[1].z - s.controls[0].z};
    if (row.start != db::Point3{}) {
      EXPECT_NEAR(leg.x * row.start.y - leg.y * row.start.x, 0.0, 1e-9);
    }
  }
}

TEST(SplineFit, NoCurveFitsTooFewOrBadPoints) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::vector<db::Point3>> rows = {
      {}, {{1, 1, 0}}, {{1, 1, 0}, {1, 1, 0}, {1, 1, 0}}, {{0, 0, 0}, {nan, 1, 0}}, {{0, 0, 0}, {inf, 1, 0}, {2, 2, 0}},
      {{-1e308, 0, 0}, {1e308, 0, 0}}};
  for (std::size_t k = 0; k < rows.size(); ++k) {
    FittedSpline s;
    EXPECT_FALSE(splineThroughFitPoints(rows[k], {}, {}, s)) << k;
  }
}

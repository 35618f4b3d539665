#include "iges_in/iges_geometry_math.h"

#include <cmath>
#include <cstdlib>

#include "support/trace.h"

Transform composeTransforms(const Transform& outer, const Transform& inner) {
  Transform m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) sum += outer.r[i][k] * inner.r[k][j];
      m.r[i][j] = sum;
    }
    double shift = outer.t[i];
    for (int k = 0; k < 3; ++k) shift += outer.r[i][k] * inner.t[k];
    m.t[i] = shift;
  }
  return m;
}

bool composeIfAny(const Transform* outer, const Transform* inner, Transform& out) {
  if (outer == nullptr && inner == nullptr) return false;
  if (outer == nullptr) {
    out = *inner;
  } else {
    out = inner != nullptr ? composeTransforms(*outer, *inner) : *outer;
  }
  return true;
}

Point3 applyRotation(const Transform& m, const Point3& v) {
  return Point3{m.r[0][0] * v.x + m.r[0][1] * v.y + m.r[0][2] * v.z,
                m.r[1][0] * v.x + m.r[1][1] * v.y + m.r[1][2] * v.z,
                m.r[2][0] * v.x + m.r[2][1] * v.y + m.r[2][2] * v.z};
}

Point3 applyTransform(const Transform& m, const Point3& p) {
  Point3 q = applyRotation(m, p);
  q.x += m.t[0];
  q.y += m.t[1];
  q.z += m.t[2];
  return q;
}

Transform transformFromParameters(const double values[12]) {
  Transform m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.r[i][j] = values[4 * i + j];
    m.t[i] = values[4 * i + 3];
  }
  return m;
}

ConicInvariants conicInvariants(double a, double b, double c, double d, double e, double f) {
  // | A   B/2 D/2 |
  // | B/2 C   E/2 |
  // | D/2 E/2 F   |
  const double b2 = b / 2.0, d2 = d / 2.0, e2 = e / 2.0;
  ConicInvariants q;
  q.q1 = a * (c * f - e2 * e2) - b2 * (b2 * f - e2 * d2) + d2 * (b2 * e2 - c * d2);
  q.q2 = a * c - b * b / 4.0;
  q.q3 = a + c;
  return q;
}

ConicKind classifyConic(double a, double b, double c, double d, double e, double f,
                        double epsilon) {
  TraceScope t("cee160");
  const ConicInvariants q = conicInvariants(a, b, c, d, e, f);
  const double small = epsilon / 1e6;
  if (std::fabs(q.q1) < epsilon) return ConicKind::kDegenerate;
  if (q.q2 >= small && q.q1 * q.q3 < 0.0) return ConicKind::kEllipse;
  if (std::fabs(q.q2) <= small) return ConicKind::kParabola;
  if (q.q2 < -small) return ConicKind::kHyperbola;
  return ConicKind::kNoRealPoints;
}

int percentToByte(double percent) {
  if (!std::isfinite(percent)) return 0;
  // Percentages of a colour definition lie in 0..100; anything else is
  // clamped so that the integer arithmetic below cannot overflow.
  if (percent > 1e6) percent = 1e6;
  if (percent < -1e6) percent = -1e6;
  const long whole = static_cast<long>(percent);  // toward zero
  return static_cast<int>(whole * 255 / 100);
}

long nearestPaletteColour(const PaletteColour* palette, std::size_t count, int red, int green,
                          int blue) {
  TraceScope t("pov314");
  long best = -1;
  long bestDistance = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const PaletteColour& p = palette[i];
    if (p.red == red && p.green == green && p.blue == blue) return static_cast<long>(i);
    const long distance = std::labs(static_cast<long>(p.red) - red) +
                          std::labs(static_cast<long>(p.green) - green) +
                          std::labs(static_cast<long>(p.blue) - blue);
    if (best < 0 || distance < bestDistance) {
      best = static_cast<long>(i);
      bestDistance = distance;
    }
  }
  return best;
}

namespace {

Point3 evaluateSplineSegment(const SplineSegment& segment, double s) {
  double v[3];
  for (int axis = 0; axis < 3; ++axis) {
    const double* c = segment.coef[axis];
    v[axis] = ((c[3] * s + c[2]) * s + c[1]) * s + c[0];
  }
  return Point3{v[0], v[1], v[2]};
}

// A segment whose quadratic and cubic terms vanish is a straight piece: its
// two ends describe it.
bool segmentIsStraight(const SplineSegment& s) {
  for (int axis = 0; axis < 3; ++axis)
    if (s.coef[axis][2] != 0.0 || s.coef[axis][3] != 0.0) return false;
  return true;
}

}  // namespace

std::size_t splinePolylinePointCount(const SplineSegment* segments, std::size_t count) {
  if (count == 0) return 0;
  std::size_t n = 1;
  for (std::size_t i = 0; i < count; ++i)
    n += segmentIsStraight(segments[i]) ? 1 : kSplineStepsPerSegment;
  return n;
}

std::size_t splinePolylinePoints(const SplineSegment* segments, std::size_t count, Point3* out,
                                 std::size_t capacity) {
  TraceScope t("cee780");
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const SplineSegment& s = segments[i];
    const int steps = segmentIsStraight(s) ? 1 : kSplineStepsPerSegment;
    const double length = s.t1 - s.t0;
    for (int k = 0; k < steps && n < capacity; ++k)
      out[n++] = evaluateSplineSegment(s, length * k / steps);
  }
  if (count > 0 && n < capacity) {
    const SplineSegment& last = segments[count - 1];
    out[n++] = evaluateSplineSegment(last, last.t1 - last.t0);
  }
  return n;
}

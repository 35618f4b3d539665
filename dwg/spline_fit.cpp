#include "dwg/spline_fit.h"

#include <cmath>

namespace db = drawingdb;

namespace {

db::Point3 operator-(const db::Point3& a, const db::Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
db::Point3 operator+(const db::Point3& a, const db::Point3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
db::Point3 operator*(double f, const db::Point3& a) { return {f * a.x, f * a.y, f * a.z}; }
double length(const db::Point3& a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
bool finite(const db::Point3& a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

// The unit vector along `v`, or along `fallback` where `v` has no length.
db::Point3 unit(const db::Point3& v, const db::Point3& fallback) {
  const double l = length(v);
  if (l > 0.0 && std::isfinite(l)) return (1.0 / l) * v;
  const double f = length(fallback);
  return (1.0 / f) * fallback;
}

// The direction at `a` of the parabola through a, b, c at the parameters
// 0, ab, ab + bc.
db::Point3 parabolaStart(const db::Point3& a, const db::Point3& b, const db::Point3& c, double ab, double bc) {
  const double share = ab / (ab + bc);
  return ((1.0 + share) / ab) * (b - a) + (-share / bc) * (c - b);
}

// The three cubic basis functions that do not vanish at the knot
// u = knots[span] (N[span-3], N[span-2], N[span-1]; N[span] is 0 there).
void basisAt(const std::vector<double>& knots, std::size_t span, double u, double n[4]) {
  double left[4] = {0, 0, 0, 0}, right[4] = {0, 0, 0, 0};
  n[0] = 1.0;
  for (int j = 1; j <= 3; ++j) {
    left[j] = u - knots[span + 1 - static_cast<std::size_t>(j)];
    right[j] = knots[span + static_cast<std::size_t>(j)] - u;
    double saved = 0.0;
    for (int r = 0; r < j; ++r) {
      const double t = n[r] / (right[r + 1] + left[j - r]);
      n[r] = saved + right[r + 1] * t;
      saved = left[j - r] * t;
    }
    n[j] = saved;
  }
}

}  // namespace

bool splineThroughFitPoints(const std::vector<db::Point3>& fit, const db::Point3& startTangent,
                            const db::Point3& endTangent, FittedSpline& out) {
  out = FittedSpline{};
  std::vector<db::Point3> q;
  std::vector<double> u;
  for (const db::Point3& p : fit) {
    if (!finite(p)) return false;
    if (!q.empty() && !(length(p - q.back()) > 0.0)) continue;
    u.push_back(q.empty() ? 0.0 : u.back() + length(p - q.back()));
    q.push_back(p);
  }
  if (q.size() < 2 || !std::isfinite(u.back())) return false;
  const std::size_t n = q.size() - 1;  // the last point's index

  // The end tangents, as unit vectors.
  db::Point3 d0 = startTangent, dn = endTangent;
  if (!finite(d0) || !(length(d0) > 0.0))
    d0 = n >= 2 ? parabolaStart(q[0], q[1], q[2], u[1] - u[0], u[2] - u[1]) : q[1] - q[0];
  if (!finite(dn) || !(length(dn) > 0.0))
    dn = n >= 2 ? -1.0 * parabolaStart(q[n], q[n - 1], q[n - 2], u[n] - u[n - 1], u[n - 1] - u[n - 2]) : q[n] - q[n - 1];
  d0 = unit(d0, q[1] - q[0]);
  dn = unit(dn, q[n] - q[n - 1]);

  // Knots: the parameters, the ends fourfold.
  out.knots.assign(3, u[0]);
  out.knots.insert(out.knots.end(), u.begin(), u.end());
  out.knots.insert(out.knots.end(), 3, u[n]);

  // Controls P0 .. P(n+2): the ends and their neighbours along the
  // tangents are known; P2 .. Pn follow from passing through q[1] ..
  // q[n-1], one tridiagonal system (row k: a P(k) + b P(k+1) + c P(k+2)
  // = q[k]), solved by elimination from the first row down.
  std::vector<db::Point3>& p = out.controls;
  p.resize(n + 3);
  p[0] = q[0];
  p[1] = q[0] + ((u[1] - u[0]) / 3.0) * d0;
  p[n + 1] = q[n] + (-(u[n] - u[n - 1]) / 3.0) * dn;
  p[n + 2] = q[n];
  if (n >= 2) {
    std::vector<double> diagonal(n + 1), upper(n + 1);
    std::vector<db::Point3> right(n + 1);
    for (std::size_t k = 1; k < n; ++k) {
      double basis[4];
      basisAt(out.knots, k + 3, u[k], basis);
      double a = basis[0], b = basis[1], c = basis[2];
      db::Point3 r = q[k];
      if (k == 1) {
        r = r + (-a) * p[1];
        a = 0.0;
      }
      if (k == n - 1) {
        r = r + (-c) * p[n + 1];
        c = 0.0;
      }
      if (k > 1) {
        // Eliminate P(k) with the row before.
        const double f = a / diagonal[k - 1];
        b -= f * upper[k - 1];
        r = r + (-f) * right[k - 1];
      }
      if (!(std::fabs(b) > 0.0)) return false;
      diagonal[k] = b;
      upper[k] = c;
      right[k] = r;
    }
    for (std::size_t k = n - 1; k >= 1; --k) {
      db::Point3 r = right[k];
      if (k < n - 1) r = r + (-upper[k]) * p[k + 2];
      p[k + 1] = (1.0 / diagonal[k]) * r;
      if (!finite(p[k + 1])) return false;
    }
  }
  for (const db::Point3& c : p)
    if (!finite(c)) return false;
  return true;
}

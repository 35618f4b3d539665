// Points and directions in a plane, and the plane of an entity in space:
// the little vector arithmetic the drawing of dimensions, hatches and the
// older forms of annotations needs.
#pragma once

#include <cmath>
#include <numbers>

#include "drawingdb/model.h"

namespace drawingdb::plane {

struct Vec {
  double x = 0, y = 0;
};

inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
inline Vec operator*(Vec a, double k) { return {a.x * k, a.y * k}; }
inline double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
inline double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
inline double length(Vec a) { return std::hypot(a.x, a.y); }
inline Vec perpendicular(Vec a) { return {-a.y, a.x}; }
// The unit vector along `a`, or `fallback` when `a` has no length.
inline Vec unit(Vec a, Vec fallback = {1, 0}) {
  const double l = length(a);
  return l > 0 && std::isfinite(l) ? Vec{a.x / l, a.y / l} : fallback;
}
inline Vec direction(double radians) { return {std::cos(radians), std::sin(radians)}; }
inline double angleOf(Vec a) { return std::atan2(a.y, a.x); }
inline Vec of(const Point3& p) { return {p.x, p.y}; }
inline Point3 at(Vec v, double z = 0) { return {v.x, v.y, z}; }

// Points in space.
inline Point3 add(Point3 a, Point3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Point3 sub(Point3 a, Point3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Point3 scale(Point3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(Point3 a, Point3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Point3 cross(Point3 a, Point3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double length(Point3 a) { return std::sqrt(dot(a, a)); }
inline Point3 unit(Point3 a) {
  const double l = length(a);
  return l > 0 && std::isfinite(l) ? scale(a, 1 / l) : Point3{};
}

// The axes of an entity's own coordinate system (OCS) for its extrusion
// `n`, by the arbitrary axis rule of the formats: the X axis is Y x n when
// n lies within 1/64 of the world Z axis, else Z x n.  A zero extrusion
// stands for the world's Z.
struct Ocs {
  Point3 x{1, 0, 0}, y{0, 1, 0}, z = kNormalZ;
};
inline Ocs ocsOf(Point3 n) {
  n = unit(n);
  if (length(n) == 0) return {};
  Ocs o;
  o.z = n;
  o.x = unit(std::fabs(n.x) < 1.0 / 64 && std::fabs(n.y) < 1.0 / 64 ? cross({0, 1, 0}, n) : cross({0, 0, 1}, n));
  o.y = unit(cross(n, o.x));
  return o;
}
inline Point3 toOcs(const Ocs& o, Point3 p) { return {dot(p, o.x), dot(p, o.y), dot(p, o.z)}; }
inline Point3 fromOcs(const Ocs& o, Point3 p) { return add(add(scale(o.x, p.x), scale(o.y, p.y)), scale(o.z, p.z)); }

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kTwoPi = 2 * std::numbers::pi;
inline double degrees(double radians) { return radians * 180 / kPi; }
inline double radians(double degrees) { return degrees * kPi / 180; }
// An angle in [0, 2 pi).
inline double normalized(double a) {
  a = std::fmod(a, kTwoPi);
  return a < 0 ? a + kTwoPi : a;
}

// Whether the numbers of an entity drawn from others (lines, arcs, solids,
// points, texts) are all finite: points far out may overflow on the way.
// Kept out of line: inlined into the code that has just built the entity,
// the optimiser takes the other kinds' members of the variant for unset.
inline bool finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }
[[gnu::noinline]] inline bool finiteDrawing(const Entity& e) {
  if (const auto* l = get_if<Line>(&e.data)) return finite(l->start) && finite(l->end);
  if (const auto* a = get_if<Arc>(&e.data))
    return finite(a->center) && std::isfinite(a->radius) && std::isfinite(a->startAngle) && std::isfinite(a->endAngle);
  if (const auto* s = get_if<Solid>(&e.data)) return finite(s->corner1) && finite(s->corner2) && finite(s->corner3) && finite(s->corner4);
  if (const auto* p = get_if<PointEntity>(&e.data)) return finite(p->location);
  if (const auto* t = get_if<Text>(&e.data))
    return finite(t->insertion) && finite(t->alignment) && std::isfinite(t->height) && std::isfinite(t->rotation);
  return true;
}

}  // namespace drawingdb::plane

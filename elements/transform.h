// A transformation as IGES writes it in a 124 entity, a 3-D point, and the
// angle constants every module computes with.
#pragma once

#include <cmath>

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 57.29577951308232;

// A point p becomes r*p + t.
struct Transform {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
};

struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// The transformations a block insert is made of.
inline Transform translation(double x, double y, double z) {
  Transform t;
  t.t[0] = x;
  t.t[1] = y;
  t.t[2] = z;
  return t;
}

// A turn about the Z axis, counterclockwise by `radians`.
inline Transform rotationZ(double radians) {
  Transform t;
  t.r[0][0] = std::cos(radians);
  t.r[0][1] = -std::sin(radians);
  t.r[1][0] = std::sin(radians);
  t.r[1][1] = std::cos(radians);
  return t;
}

// The system whose axes are the unit vectors xAxis, yAxis and zAxis (the
// columns of the rotation) and whose origin lies at origin.
inline Transform axesAt(const Point3& origin, const Point3& xAxis, const Point3& yAxis, const Point3& zAxis) {
  Transform t = translation(origin.x, origin.y, origin.z);
  t.r[0][0] = xAxis.x;
  t.r[1][0] = xAxis.y;
  t.r[2][0] = xAxis.z;
  t.r[0][1] = yAxis.x;
  t.r[1][1] = yAxis.y;
  t.r[2][1] = yAxis.z;
  t.r[0][2] = zAxis.x;
  t.r[1][2] = zAxis.y;
  t.r[2][2] = zAxis.z;
  return t;
}

inline Transform scaling(double x, double y, double z) {
  Transform t;
  t.r[0][0] = x;
  t.r[1][1] = y;
  t.r[2][2] = z;
  return t;
}

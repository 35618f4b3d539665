// A transformation as IGES writes it in a 124 entity, a 3-D point, and the
// angle constants every module computes with.
#pragma once

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

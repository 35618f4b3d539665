// A transformation as IGES writes it in a 124 entity, and a 3-D point.
#pragma once

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

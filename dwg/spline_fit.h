// The curve of a spline given by its fit points only (files of R13 to
// 2000 hold a fitted spline so, and DXF files may): the cubic B-spline
// through the points that CAD programs fit, for the element of a B-spline
// curve.
#pragma once

#include <vector>

#include "drawingdb/model.h"

// Control points and knots of a cubic B-spline (four equal knots at
// either end).
struct FittedSpline {
  std::vector<drawingdb::Point3> controls;
  std::vector<double> knots;
};

// The cubic B-spline that passes through `fit` in order, parametrised by
// the chord lengths between the points (the knots are those parameters),
// leaving the first point along `startTangent` and reaching the last
// along `endTangent`.  A tangent of length 0 is not given: the direction
// of the parabola through the three points at that end stands in.
// Repeated points count once.  False where no such curve exists (fewer
// than two distinct points, values that are not finite).
bool splineThroughFitPoints(const std::vector<drawingdb::Point3>& fit, const drawingdb::Point3& startTangent,
                            const drawingdb::Point3& endTangent, FittedSpline& out);

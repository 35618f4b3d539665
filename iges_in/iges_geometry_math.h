// Geometry helpers of the IGES conversion that need nothing but numbers:
// classification of conic arcs, composition of transformation matrices,
// nearest palette colour of a colour definition, and points along a
// parametric spline.
#pragma once

#include <cstddef>
#include <cstdint>

#include "elements/transform.h"

// outer(inner(p)): inner is applied first.
Transform composeTransforms(const Transform& outer, const Transform& inner);
// The same where either may be missing (null): false, `out` untouched, when
// both are.
bool composeIfAny(const Transform* outer, const Transform* inner, Transform& out);
Point3 applyTransform(const Transform& m, const Point3& p);
// The rotation part only (directions, axis vectors).
Point3 applyRotation(const Transform& m, const Point3& v);
// The 12 values of a 124 in parameter order: R11 R12 R13 T1 R21 ... T3.
Transform transformFromParameters(const double values[12]);

// What a conic arc (104) with the implicit coefficients A..F is.
enum class ConicKind {
  kDegenerate,    // |Q1| < eps: written as the line from start to end
  kEllipse,
  kParabola,
  kHyperbola,
  kNoRealPoints,  // an ellipse without real points: not written
};

struct ConicInvariants {
  double q1 = 0.0;  // determinant of the symmetric 3x3 matrix of the conic
  double q2 = 0.0;  // A*C - B*B/4
  double q3 = 0.0;  // A + C
};

ConicInvariants conicInvariants(double a, double b, double c, double d, double e, double f);
ConicKind classifyConic(double a, double b, double c, double d, double e, double f,
                        double epsilon);

// A colour of the installation's palette.
struct PaletteColour {
  int red = 0;
  int green = 0;
  int blue = 0;
  int number = 0;
};

// A colour definition's percentages as 0..255 values: each percentage is
// truncated toward zero, multiplied by 255 and divided by 100.
int percentToByte(double percent);
// The palette entry with exactly these values, else the one with the
// smallest sum of absolute differences (the first on a tie); -1 for an
// empty palette.
long nearestPaletteColour(const PaletteColour* palette, std::size_t count, int red, int green,
                          int blue);

// One polynomial segment of a parametric spline (112): per axis the
// coefficients of a + b*s + c*s^2 + d*s^3 with s = t - t(i).
struct SplineSegment {
  double t0 = 0.0;
  double t1 = 0.0;
  double coef[3][4] = {};
};

// Points along a parametric spline for writing it as lines: the start of
// every segment and, inside a curved segment, kSplineStepsPerSegment - 1
// evenly spaced points; the end of the last segment closes the list.
constexpr int kSplineStepsPerSegment = 10;
std::size_t splinePolylinePoints(const SplineSegment* segments, std::size_t count, Point3* out,
                                 std::size_t capacity);
// How many points splinePolylinePoints gives for these segments.
std::size_t splinePolylinePointCount(const SplineSegment* segments, std::size_t count);

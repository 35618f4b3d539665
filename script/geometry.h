// Geometry statements of the KPL script: points, lines, circles and arcs,
// ellipses, splines, composite curves, planes and hatched areas.  Every
// writer follows one frame: degenerate test, layer and z-order, transform,
// clip, points through the point registry, then the statement with its
// argument blocks.  Writers return 0 when statements were written, -1 for a
// degenerate element (with a warning), -99 outside the view's clip box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/script_writer.h"

// The element being written: what the statements need of its record in the
// element table.  index 0 for construction elements that have none.
struct ScriptElement {
  std::int32_t index = 0;
  std::int32_t level = 0;
  int font = 1;          // line font number of the exchange file
  int widthNumber = 0;   // line width number of the exchange file
  ScriptAttributes attributes;  // colour number and blank status
  std::string layerName;        // DXF/DWG input: the entity's layer, or ""
  ScriptElementData data;       // directory data for info and name blocks
};

// p' = R*p + t.
struct ScriptMatrix {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
};

ScriptPointXYZ scriptTransform(const ScriptMatrix* m, const ScriptPointXYZ& p);
// The scale a matrix applies to lengths (1 without matrix).
double scriptMatrixScale(const ScriptMatrix* m);

// The clip box of the view being converted: two opposite corners in the
// coordinates the writers' matrices take the geometry to.
void ScriptSetClipBox(double x1, double y1, double x2, double y2);
void ScriptClearClipBox();
// Cuts the segment to the clip box; -1 when it lies wholly outside.
int ScriptClip(ScriptPointXYZ& a, ScriptPointXYZ& b);  // ses190
// Points of an arc, text or dimension: -1 when all lie outside the box.
int ScriptClipPoints(const std::vector<ScriptPointXYZ>& points);  // ses190

int ScriptPointElement(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& p,
                       std::vector<std::int32_t>& created);  // ses200
int ScriptLine(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& p1,
               const ScriptPointXYZ& p2, std::vector<std::int32_t>& created);  // ses240
// chord < 0: distance of start and end; the own DXF reader passes its own.
int ScriptCircle(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& centre,
                 const ScriptPointXYZ& start, const ScriptPointXYZ& end,
                 std::vector<std::int32_t>& created, double chord = -1.0);  // ses280

// An ellipse by centre, semi-axes a >= b and rotation (radians); start and
// end equal (within the tolerance) for the full ellipse.
struct ScriptEllipseData {
  ScriptPointXYZ centre;
  double a = 0.0, b = 0.0, rotation = 0.0;
  ScriptPointXYZ start, end;
};
// Centre, axes and rotation of the conic A x^2 + B xy + C y^2 + D x + E y + F = 0;
// -1 when it is no real ellipse.
int scriptEllipseOfConic(const double coefficients[6], double z, ScriptEllipseData& out);
int ScriptConic(const ScriptElement& e, const ScriptMatrix* m, const ScriptEllipseData& ellipse,
                std::vector<std::int32_t>& created);  // ses330

// A parabola or hyperbola arc of the conic A..F from start to end, written
// as cubic splines, one per piece (ses340).
int ScriptConicCurve(const ScriptElement& e, const ScriptMatrix* m, const double coefficients[6],
                     const ScriptPointXYZ& start, const ScriptPointXYZ& end,
                     std::vector<std::int32_t>& created);  // ses340
// The cubic control polygons of such an arc; -1 when start and end do not
// bound an arc of the conic.
int scriptConicPolygons(const double coefficients[6], const ScriptPointXYZ& start, const ScriptPointXYZ& end,
                        std::vector<std::vector<ScriptPointXYZ>>& polygons);

int ScriptBSpline(const ScriptElement& e, const ScriptMatrix* m, const std::vector<ScriptPointXYZ>& controls,
                  int degree, bool periodic, std::vector<std::int32_t>& created);  // ses380

// One segment of a parametric spline: per axis the coefficients a0..a3.
struct ScriptSplineSegment {
  double x[4] = {0, 0, 0, 0}, y[4] = {0, 0, 0, 0}, z[4] = {0, 0, 0, 0};
};
int ScriptParamSpline(const ScriptElement& e, const ScriptMatrix* m, const std::vector<double>& breaks,
                      const std::vector<ScriptSplineSegment>& segments,
                      std::vector<std::int32_t>& created);  // ses360
// Pieces of helpers, exposed for their tests.
std::vector<ScriptPointXYZ> scriptBezierOf(const ScriptSplineSegment& s, double dt, int degree);  // ses952
int scriptJunctionClass(const std::vector<ScriptPointXYZ>& earlier, const std::vector<ScriptPointXYZ>& later,
                        int degree);  // ses953
// The control points of the uniform spline that runs through the Bezier
// polygons of one piece (degree 1 to 3, joined smoothly); empty when the
// polygons do not fit the degree.
std::vector<ScriptPointXYZ> scriptMergePiece(const std::vector<std::vector<ScriptPointXYZ>>& bezier, int degree,
                                             bool periodic);  // ses955

// Composite curves: members' element numbers, the first compositeCount of
// them composite curves themselves.
int ScriptContour(const ScriptElement& e, const std::vector<std::int32_t>& members, std::size_t compositeCount,
                  std::vector<std::int32_t>& created);  // ses700
int ScriptContourUnion(const ScriptElement& e, const std::vector<std::int32_t>& members,
                       std::vector<std::int32_t>& created);  // ses705
void ScriptContourStart();

struct ScriptBoundary {
  std::int32_t number = 0;
  bool contour = false;  // IGES 102 or 106 form 63
  int structure = 0;     // structure field of its directory entry
};
// A plane without a hatch pattern writes {"hatch_no",<flag>}: the flag is
// `unhatchedFlag`, and always true when a boundary is a contour.
int ScriptPlane(const ScriptElement& e, const std::vector<ScriptBoundary>& boundaries, int pattern,
                double spacing, double angle, bool unhatchedFlag,
                std::vector<std::int32_t>& created);  // ses400

// The frame of a drawing (viewMode 2): four lines, each with its info.
int ScriptDrawingBorder(const ScriptElement& drawing, const ScriptPointXYZ& corner1,
                        const ScriptPointXYZ& corner2, std::vector<std::int32_t>& created);  // ses270

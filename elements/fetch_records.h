// Parameter records of the output direction: what the element fetchers of
// the transfer file reader (transfer/fetchers.h) read from one element of
// the CAD transfer file, converted for the writers.  Every record derives
// from TransferRecord, which holds the attributes common to all element
// kinds; the output loop passes one record per kind to the fetcher, which
// fills it, and hands the filled record to the output steps of the run's
// target (target_steps.h).  An EDX file stores its
// lines, circles and groups as records of these kinds in the element's
// ElementRecord::params; the fetchers of those kinds copy them from there.
//
// Units and conventions of every record:
// - Points have the reference point of the file subtracted; z is 0 unless
//   the file gives it.
// - Angles are in radians (the file writes degrees).
// - `colour` is the colour number of the colour assignment, or the negated
//   DE number (2i - 1) of the colour-definition element i of the element
//   table when the run keeps colour definitions (then `colourDefinition`
//   is i, otherwise 0).
// - `layer` is the layer number of the layer value list (0 when the value
//   matched no entry), `lineStyle` the exchange line style and `lineWidth`
//   the line width number of the assignment tables.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "elements/param_records.h"
#include "elements/transform.h"

// Labels of the element table record (8 characters, blank-padded).
namespace TransferLabel {
constexpr char kPoint[] = "POINT   ";
constexpr char kLine[] = "LINE    ";
constexpr char kCircle[] = "CIRCLE  ";
constexpr char kEllipse[] = "ELBG    ";
constexpr char kSpline[] = "SPLINE  ";
constexpr char kPlanePart[] = "PLANE   ";
constexpr char kText[] = "TEXT    ";
constexpr char kString[] = "STRING  ";
constexpr char kStringEm[] = "STRING_E";
constexpr char kVariable[] = "VARIABLE";
constexpr char kDimension[] = "BEMASS  ";
constexpr char kGroup[] = "GROUP   ";
constexpr char kUser[] = "USER    ";
constexpr char kContour[] = "CONTOUR ";
constexpr char kHatch[] = "HATCH   ";
constexpr char kPolyline[] = "POLYLINE";
constexpr char kPolygon[] = "POLYGON ";
constexpr char kMultiline[] = "MULTILIN";
constexpr char kBox[] = "BOX     ";
constexpr char kTriangle[] = "TRIANGLE";
constexpr char kLayer[] = "LAYER   ";
constexpr char kComment[] = "COMMENT ";
constexpr char kName[] = "NAME    ";
constexpr char kFormTolerance[] = "FORMTOL ";
constexpr char kReference[] = "REFERENC";
constexpr char kLeader[] = "MSPF    ";
}  // namespace TransferLabel

// The attributes every element kind shares.  Kinds without a pen, layer,
// style or width line keep the defaults.
struct TransferRecord : ParamRecord {
  std::string keyword;        // the section keyword ("line", "d_line" ...)
  std::string identifier;     // the identifier of the header line
  std::string attributeText;  // files of version 1 and later only
  bool deleted = false;       // status token "deleted"
  std::int32_t penColour = 0; // the pen's colour number as read
  std::int16_t red = -1, green = -1, blue = -1;  // the pen's colour as read
  std::string colourName;
  std::int32_t colour = 0;
  std::int32_t colourDefinition = 0;
  std::int32_t layer = 0;
  std::int32_t lineStyle = 1;
  std::int32_t lineWidth = 0;
};

// 116: "point", "d_point".
struct TransferPoint : TransferRecord {
  Point3 point;
  // The two integers that close a "d_point" (the CAD system's point marker
  // kind and size), as read; 0 for "point".
  std::int32_t marker[2] = {0, 0};
};

// 110: "line", "d_line".
struct TransferLine : TransferRecord {
  Point3 start;
  Point3 end;
};

// 100: "circle", "d_circle", "d_fill_arc", "d_arc_3p".  The arc runs
// counter-clockwise from start to end; a full circle has start = end =
// (centre x + radius, centre y).
struct TransferCircle : TransferRecord {
  Point3 centre;
  double radius = 0;
  Point3 start;
  Point3 end;
  bool fullCircle = false;
  bool filled = false;  // "d_fill_arc"
  std::string arcKind;  // the arc kind token of "circle"
};

// 104: "ellips", "d_ellips", "d_arc_ellips".  The ellipse lies in its own
// frame: centre at the origin, the first half axis along x.  The output
// places it with a matrix made of `centre` and `axisDirection`.
struct TransferEllipse : TransferRecord {
  Point3 centre;
  double axisDirection[2] = {1.0, 0.0};  // unit vector of the first half axis
  double halfAxisA = 0;                  // along axisDirection
  double halfAxisB = 0;                  // perpendicular to it
  double startAngle = 0;                 // parameter angles, counter-clockwise
  double endAngle = 0;
  bool fullEllipse = false;
  Point3 localStart;  // (a cos start, b sin start) in the ellipse's frame
  Point3 localEnd;
};

// 112: "spline".  The B-spline as the file gives it (form
// "non_periodic_urbs"), and the same curve as the piecewise cubic
// polynomials of an IGES parametric spline: for each span i the curve is
// c(u) = a + b s + c s^2 + d s^3 with s = u - breakpoints[i].
struct TransferSpline : TransferRecord {
  double leadValues[2] = {0, 0};  // the two reals after the pen
  std::string leadToken;          // the token between them
  std::string form;               // "non_periodic_urbs"
  std::int32_t degree = 0;
  std::vector<double> knots;      // control points + degree + 1 values
  std::vector<Point3> controlPoints;
  std::vector<double> weights;    // one per control point, as read
  bool rational = false;          // the weights are not all equal
  // Piecewise polynomial form (degree at most 3; exact for polynomial
  // splines of degree 3 or less, an interpolation at four parameters per
  // span otherwise).
  std::int32_t pieceDegree = 0;
  std::vector<double> breakpoints;  // segments + 1 values
  struct Segment {
    double x[4] = {0, 0, 0, 0};  // a, b, c, d
    double y[4] = {0, 0, 0, 0};
    double z[4] = {0, 0, 0, 0};
  };
  std::vector<Segment> segments;
};

// 230: "plane_part".  The integer of the element is the number of the
// part's boundary contours as the CAD system counts them, kept as read.
struct TransferPlanePart : TransferRecord {
  std::int32_t contourCount = 0;
  std::string hatchToken;  // "hatch_no", "hatch_single", "hatch_cross"
  std::int32_t hatchKind = 0;  // 0 none, 1 single, 2 cross hatching
  double hatchSpacing = 0;     // the first hatch parameter
  double hatchAngle = 0;       // the second, radians
};

// 102: "contour", "contour_part".
struct TransferContour : TransferRecord {
  std::string orientationToken;  // "outside", "inside", "neutral"
  std::int32_t orientation = 0;  // 0 outside, 1 inside, 2 neutral
};

// 106: "hatch" and the polygon forms.  The points are the polygon's
// corners in order; a closed polygon does not repeat its first point.
struct TransferHatch : TransferRecord {
  char label[9] = "HATCH   ";
  std::vector<Point3> points;
  bool closed = false;
  bool filled = false;
};

// One line of a text as the writers place it.
struct TransferTextPart {
  std::string text;
  double height = 0;       // absolute height
  double widthFactor = 1.0;
  double width = 0;        // length of the part along the angle
  std::int32_t fontNumber = 0;
  std::string fontName;
  double angle = 0;
  std::string mirror = "mnone";  // "mnone", "mx", "my"
  Point3 insertion;
};

// 212: "text", "d_string_angle", "d_string_angle_em", "variable".  Form 0
// one line, 2 one line split at its line feeds, 6 a block of lines.
struct TransferText : TransferRecord {
  char label[9] = "TEXT    ";
  std::int32_t form = 0;
  std::vector<TransferTextPart> parts;
  double lineSpacing = 0;   // blocks
  double textLength = 0;    // as read
  double box[4] = {0, 0, 0, 0};  // "text": y1, y2, x1, x2 as read (reference point subtracted)
  // "d_string_angle_em": the integer, the real and the integer that close it.
  std::int32_t emphasis[2] = {0, 0};
  double emphasisValue = 0;
};

// A drawing sub-element of a dimension ("d_line", "d_arc_3p", "d_circle",
// "d_fill_arc", "d_polyline", "d_triangle", "d_nonfill_triangle",
// "d_string_angle" ...), read up to its "EOE" marker.  Polylines and
// triangles are the arrow heads.
struct TransferSubElement {
  enum class Kind { kLine, kArc, kPolyline, kString };
  Kind kind = Kind::kLine;
  bool frame = false;  // part of the dimension's frame
  std::variant<TransferLine, TransferCircle, TransferHatch, TransferText> record;
};

// 444: "measure" and the four dimension keywords.
//
// "measure" is read in this order after the status and the pen: tokens up
// to "end"; the measure kind token; the definition points, one point
// ("x y") per value line, 3 for linear, diameter and radius kinds, 4 for
// angles and arc lengths; the measured value (real).  Then tagged value
// lines until the element ends, each a token: a decoration token (tables
// below, in any order), "pretext" and "posttext" followed by their text
// line, "meas_raw" and "meas_aux" followed by a real, a frame token
// followed by the number of frame sub-elements, or a sub-element keyword
// followed by its layout (the "d_" layouts) and "EOE".
//
// "dimension_distance", "dimension_diameter", "dimension_radius" and
// "dimension_angular" (and "measure_distance", a distance) share one
// layout: [v] attribute text, [v] token, status, pen ("measure_distance"
// then names its members up to "end", like "measure"), the definition
// points as for "measure" (3 for distance, diameter and radius, 4 for the
// angle: vertex, a point on each leg, the arc's point), the measured
// value, the text height (real), the text as a text line, the layer value,
// the line style and the line width; then optional sub-elements as for
// "measure".
//
// The status of a dimension is "deleted" or "visible"; any other status, an
// unknown measure kind, or an arc length outside level PLUS leaves the
// dimension unconverted.  The "tables below" are the decoration fields:
// pre-text, post-text, text position, arrows, measure length, left and
// right arrow, left and right part.
struct TransferDimension : TransferRecord {
  std::string kindToken;
  std::int32_t kindCode = 0;   // see the measure kind table; low 3 bits: 1 linear,
                               // 2 diameter, 3 radius, 0/4/6 angle, 5 arc length
  std::int32_t orientation = 0;  // linear: 1 horizontal, 2 vertical, 0 free
  double angle = 0;              // of the dimension line
  bool linearBlock = false;      // a linear-dimension block was made
  std::vector<Point3> points;    // definition points
  std::vector<double> reals;     // measured value, then any further reals
  double textHeight = 0;         // the dimension keywords
  // Decoration.
  std::int32_t preText = 0;
  std::int32_t postText = 0;
  std::int32_t textPosition = 0;
  std::int32_t arrows = 1;
  std::int32_t shortMeasure = 0;
  std::int32_t leftArrow = 1;
  std::int32_t rightArrow = 1;
  std::int32_t leftPart = 1;
  std::int32_t rightPart = 1;
  std::string preTextString;
  std::string postTextString;
  std::string postTextToken;
  bool hasRaw = false, hasAux = false;
  double rawValue = 0;  // "meas_raw"
  double auxValue = 0;  // "meas_aux"
  std::string text;     // the dimension keywords' text
  // Frame.
  std::string frameToken;
  std::string frameTranslated;  // "BOX", "BOX_LINE", "THEORETICAL" or "NONE"
  std::int32_t frameElements = 0;
  std::vector<TransferSubElement> parts;
};

// 402 / 408 / 308: "group", "layer", "plane", "grafic", "user", "userref",
// "userdef".
struct TransferGroup : TransferRecord {
  std::string name;            // group or element name
  std::string definitionName;  // "userref": the referenced definition
  Point3 insertion;            // "userref"
  double factor = 1.0;         // "userref"
};

// 8888: "layer".
struct TransferLayer : TransferRecord {
  std::string name;
  std::string headerToken;  // the third token of the header line
};

// The leader arrow "symbol_pfeil" of a symbol.
struct TransferLeader : TransferRecord {
  std::string headToken;      // "arrow", "triangle", "point" or another
  std::int32_t form = 1;      // 3 arrow or triangle, 5 point, 1 other
  double headSize[2] = {0, 0};
  // The head's position and two direction points (x, y pairs, reference
  // point subtracted).
  double values[6] = {0, 0, 0, 0, 0, 0};
};

// 210: "symbol" and its parts.  Each part keeps the position of its first
// value line, so that the output can fetch it later.
struct TransferSymbolPart {
  std::string token;  // "comment", "text", "symbol_pfeil", "name", "formplace", "reference"
  char label[9] = "        ";
  std::int32_t position = 0;  // of the part's first value line
};
struct TransferSymbol : TransferRecord {
  std::vector<TransferSymbolPart> parts;
};

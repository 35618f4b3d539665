// The picture of a conversion (-svg <file>): a record of every element as
// the run wrote it to its target, in the target's coordinates, kept while
// the run goes and written as one SVG file at its end.
//
// The record exists only when a picture was asked for: conversionPicture() is
// nullptr otherwise, and every place that feeds it tests that pointer
// first, so a run without -svg pays one test per element.
//
// Shapes belong to a section (the model, a drawing, a view of a drawing)
// and to a layer; the SVG has one group per section and per layer in it,
// named after them.  Colours are numbers of the CAD system's colour
// assignment ("farbtabelle.zuor"), or a colour of their own.  A shape of an
// element that failed is drawn red with the message number and text as its
// title; an element that failed before it had a place is listed without
// geometry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DrawnPoint {
  double x = 0.0, y = 0.0;
};

enum class DrawnKind {
  kLine,      // points: start, end
  kArc,       // centre, radius, start and end angle (counter-clockwise)
  kCircle,    // centre, radius
  kEllipse,   // centre, rx along `rotation`, ry; full, or from start to end parameter
  kSpline,    // points: the curve sampled from its start to its end, or with
              // bezierDegree > 0 its Bezier pieces, degree + 1 points each
  kPolyline,  // points; closed
  kHatch,     // points: the outline, always closed
  kText,      // points: the insertion; height, angle, text
  kArrow,     // points: the tip and the two corners of its base
};

// The dimensions the picture draws as their lines, arrows and text.
enum class DrawnDimensionKind { kLinear, kAngular, kRadius, kDiameter };

// A dimension as its statement gives it, in the target's coordinates.
struct DrawnDimension {
  DrawnDimensionKind kind = DrawnDimensionKind::kLinear;
  // Linear and diameter: the ends of the dimension line.  Radius: the
  // arrow's point on the circle (second unused).  Angular: a point on each
  // leg, on the dimension arc.
  DrawnPoint first, second;
  DrawnPoint centre;  // radius and diameter: the centre; angular: the vertex
  double arrowSize = 0.0;  // 0: the text height
  DrawnPoint textAt;
  double textHeight = 0.0, textAngle = 0.0;  // angle in radians
  std::string text;
};

// Who a shape belongs to and how it is coloured.
struct DrawnStyle {
  std::int32_t element = 0;  // index in the element table, 0 none
  std::string layer;         // the layer's name ("" the default layer)
  int colour = 0;            // colour number of the colour assignment, 0 none
  int red = -1, green = -1, blue = -1;  // a colour of its own (0..255), -1 none
};

struct DrawnShape {
  DrawnKind kind = DrawnKind::kLine;
  DrawnStyle style;
  std::size_t section = 0;
  std::int32_t dimension = 0;  // the dimension element it is part of, 0 none
  std::vector<DrawnPoint> points;
  int bezierDegree = 0;  // spline: 1 to 3 when `points` are Bezier pieces
  DrawnPoint centre;
  double rx = 0.0, ry = 0.0, rotation = 0.0;  // radians
  double start = 0.0, end = 0.0;              // radians; arcs and partial ellipses
  bool full = true;                           // ellipse
  bool closed = false;
  double height = 0.0, angle = 0.0;  // text; angle in radians
  std::string text;                  // ISO 8859-1 as converted
  bool failed = false;
  int message = 0;  // the message of a failed element, 0 none
};

// An element that failed without a place of its own.
struct FailedElement {
  std::int32_t element = 0;
  std::size_t section = 0;
  int message = 0;
};

struct DrawnSection {
  std::string drawing;  // "" for the model
  std::string view;     // "" for a drawing's own elements
};

class ConversionPicture {
 public:
  ConversionPicture();

  // The section that the following shapes belong to.
  void enterSection(const std::string& drawing, const std::string& view);
  void leaveSection() { section_ = 0; }

  void line(const DrawnStyle& s, DrawnPoint a, DrawnPoint b);
  // A full circle when the angles span a whole turn or more.
  void arc(const DrawnStyle& s, DrawnPoint centre, double radius, double start, double end);
  void circle(const DrawnStyle& s, DrawnPoint centre, double radius);
  void ellipse(const DrawnStyle& s, DrawnPoint centre, double rx, double ry, double rotation,
               bool full, double start, double end);
  void spline(const DrawnStyle& s, std::vector<DrawnPoint> points);
  // A curve of Bezier pieces of `degree` (1 to 3), each degree + 1 points;
  // drawn exactly as one SVG path, moving on where a piece does not start
  // at the end of the one before.
  void bezierCurve(const DrawnStyle& s, int degree, const std::vector<std::vector<DrawnPoint>>& pieces);
  // The spline of a KPL statement: the B-spline of `degree` on uniform
  // knots over `controls`, starting and ending at its first and last
  // control point when open, wrapping around when periodic.  Up to the
  // third degree drawn exactly as its Bezier pieces, above it sampled
  // finely; a degree beyond the control points is lowered to theirs.
  void uniformSpline(const DrawnStyle& s, int degree, const std::vector<DrawnPoint>& controls, bool periodic);
  void polyline(const DrawnStyle& s, std::vector<DrawnPoint> points, bool closed);
  void hatch(const DrawnStyle& s, std::vector<DrawnPoint> points);
  void text(const DrawnStyle& s, DrawnPoint at, double height, double angle, const std::string& text);
  // An arrow head at `tip` whose shaft comes from `from`; nothing when the
  // two meet or the size is 0.
  void arrow(const DrawnStyle& s, DrawnPoint tip, DrawnPoint from, double size);
  // A dimension as its lines, arrows and text, in a group of its element.
  void dimension(const DrawnStyle& s, const DrawnDimension& d);

  // Shapes recorded between the two belong to the dimension `element`.
  void beginDimension(std::int32_t element) { dimension_ = element; }
  void endDimension() { dimension_ = 0; }

  // A mark for the two below: the count of shapes so far.
  std::size_t mark() const { return shapes_.size(); }
  // Forgets the shapes recorded since `mark` (the target left the element out).
  void dropSince(std::size_t mark);
  // The shapes recorded since `mark` belong to an element that failed.
  void failSince(std::size_t mark, std::int32_t element);
  // The element failed: listed without a place unless a shape of it is
  // already marked failed.
  void elementFailed(std::int32_t element);

  const std::vector<DrawnShape>& shapes() const { return shapes_; }
  const std::vector<FailedElement>& failures() const { return failures_; }
  const std::vector<DrawnSection>& sections() const { return sections_; }

  // The SVG text of the record (reads the colour definitions of the
  // assignment directory when the run has not).
  std::string svg() const;

 private:
  DrawnShape& add(DrawnKind kind, const DrawnStyle& s);
  int problemSince();

  std::vector<DrawnShape> shapes_;
  std::vector<FailedElement> failures_;
  std::vector<DrawnSection> sections_;
  std::vector<std::int32_t> failedElements_;  // sorted
  std::size_t lastFailedMark_ = 0;  // where the shapes of the latest failed element begin
  std::int32_t lastFailed_ = 0;
  std::size_t section_ = 0;
  std::int32_t dimension_ = 0;
  long seenProblem_ = 0;
};

// The run's record, nullptr when no picture was asked for.
ConversionPicture* conversionPicture();
// Starts an empty record for the run (the -svg switch).
void startConversionPicture();
// Ends the record; conversionPicture() is nullptr again.
void stopConversionPicture();

// Writes the record as the SVG file `name` (temporary name and rename);
// 0, or -1 with the failure text in `failure`.
int writeConversionPicture(const std::string& name, std::string& failure);

// The RGB of a colour number of the colour assignment, "#rrggbb": from the
// colour definitions read (readColourDefinitions), else the eight colours
// every exchange format numbers alike; black for an unknown number.
std::string drawnColourText(int colour);

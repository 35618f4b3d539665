// Output steps of the geometric kinds: point (dpe200), line (dpe240),
// circle and arc (dpe280), ellipse with its matrix (dpe320, dpe360), spline
// (dpe330), hatch and polygon forms (dpe710), and the colour definitions of
// the colour assignment (dpe314).
//
// IGES target: the entity writer packs the parameter record, then the
// element's directory entry follows.  Own DXF target: points, lines,
// circles and arcs as their DXF entities; curves the DXF writer has no
// entity for (ellipses, splines, polygons) as a block of line segments.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "elements/transform.h"
#include "elements/convert_result.h"
#include "iges_out/dxf_writer.h"
#include "iges_out/iges_entities.h"
#include "support/trace.h"
#include "transfer/fetchers.h"
#include "transfer/output_steps.h"

namespace output_steps {

namespace {

constexpr char kMatrixLabel[] = "TRFMATRX";
constexpr char kColourLabel[] = "COL_DEF ";
// Copious data forms: an open 2-D path, a closed planar curve.
constexpr std::int32_t kCopiousPath = 11;
constexpr std::int32_t kCopiousClosed = 63;
constexpr std::int32_t kEllipseForm = 1;
// Segments of the line block that draws an ellipse in a DXF file, and of
// each polynomial span of a spline.
constexpr int kEllipseSegments = 72;
constexpr int kSplineSpanSegments = 8;

double widthOf(const TransferRecord& r) { return static_cast<double>(r.lineWidth); }

int writeDxfSegments(const std::vector<DxfSegment>& segments, const TransferRecord& r) {
  if (segments.empty()) return -1;
  return dxfWriteLineBlock(segments, r.lineStyle, widthOf(r)) == 0 ? 0 : -1;
}

void addSegment(std::vector<DxfSegment>& segments, const Point3& a, const Point3& b) {
  segments.push_back(DxfSegment{a.x, a.y, b.x, b.y});
}

// Fetches with the fetcher, then settles the colour and the deleted flag.
// 0 to go on, or the step result.
template <class Record, class Fetch>
int fetchRecord(const StepContext& c, Record& record, Fetch fetch) {
  const int fetched = fetch(c.index, c.position, record);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(record)) return ConvertResult::kIgnored;
  resolveColour(record);
  return 0;
}

}  // namespace

int convertPoint(const StepContext& c) {
  TraceScope t("dpe200");
  TransferPoint p;
  // A deleted point that is not converted is not converted: it gets the
  // state of a left-out element, not that of a written one.
  if (const int r = fetchRecord(c, p, fetchPoint); r != 0) return r;
  if (dxfTarget()) return dxfWritePoint(p.point.x, p.point.y, p.lineStyle, widthOf(p)) == 0 ? 0 : -1;
  IgesPointParams params;
  params.point = igesPoint(p.point);
  const std::int32_t start = beginEntity();
  if (writeIgesPoint(params) != 0) return -1;
  return writeElementEntity(c, p, IgesType::kPoint, 0, start);
}

int convertLine(const StepContext& c) {
  TraceScope t("dpe240");
  TransferLine l;
  if (const int r = fetchRecord(c, l, fetchLine); r != 0) return r;
  if (dxfTarget()) {
    const double start[3] = {l.start.x, l.start.y, 0.0};
    const double end[3] = {l.end.x, l.end.y, 0.0};
    return dxfWriteLine(start, end, l.lineStyle, widthOf(l)) == 0 ? 0 : -1;
  }
  IgesLineParams params;
  params.start = igesPoint(l.start);
  params.end = igesPoint(l.end);
  const std::int32_t start = beginEntity();
  if (writeIgesLine(params) != 0) return -1;
  return writeElementEntity(c, l, IgesType::kLine, 0, start);
}

int convertCircle(const StepContext& c) {
  TraceScope t("dpe280");
  TransferCircle a;
  if (const int r = fetchRecord(c, a, fetchCircle); r != 0) return r;
  if (!(a.radius > 0.0) || !std::isfinite(a.radius)) return -1;
  if (dxfTarget()) {
    // The arc runs counter-clockwise from its start to its end point.
    const double startAngle = degreesOf(a.start.x - a.centre.x, a.start.y - a.centre.y);
    const double endAngle = degreesOf(a.end.x - a.centre.x, a.end.y - a.centre.y);
    return dxfWriteArc(a.centre.x, a.centre.y, a.radius, a.fullCircle, startAngle, endAngle,
                       a.lineStyle, widthOf(a)) == 0
               ? 0
               : -1;
  }
  IgesArcParams params;
  params.zDisplacement = 0.0;
  params.centreX = a.centre.x;
  params.centreY = a.centre.y;
  params.startX = a.start.x;
  params.startY = a.start.y;
  params.endX = a.end.x;
  params.endY = a.end.y;
  const std::int32_t start = beginEntity();
  if (writeIgesArc(params) != 0) return -1;
  return writeElementEntity(c, a, IgesType::kCircularArc, 0, start);
}

namespace {

// dpe360: the ellipse's placement as a 124 matrix, appended to the element
// table and written; its directory sequence number, or the growth's result.
std::int32_t writeEllipseMatrix(const TransferEllipse& e) {
  TraceScope t("dpe360");
  const std::int32_t index = appendOutputRecord(IgesType::kTransformationMatrix, 0, kMatrixLabel);
  if (index < 0) return -1;
  IgesMatrixParams m;
  const double cx = e.axisDirection[0], cy = e.axisDirection[1];
  m.rotation[0][0] = cx;
  m.rotation[0][1] = -cy;
  m.rotation[1][0] = cy;
  m.rotation[1][1] = cx;
  m.translation[0] = e.centre.x;
  m.translation[1] = e.centre.y;
  m.translation[2] = e.centre.z;
  const std::int32_t start = beginEntity();
  if (writeIgesMatrix(m) != 0) return -1;
  ElementRecord& record = element(index);
  record.de.subscript = index;
  record.outputKind = IgesType::kTransformationMatrix;
  if (writeEntity(record.de, IgesType::kTransformationMatrix, 0, start, EntityStatus{}) < 0)
    return -1;
  setState(index, ElementState::kDone);
  classifyElement(index);
  return element(index).de.sequence;
}

Point3 ellipsePoint(const TransferEllipse& e, double t) {
  const double u = e.halfAxisA * std::cos(t), v = e.halfAxisB * std::sin(t);
  const double cx = e.axisDirection[0], cy = e.axisDirection[1];
  return Point3{e.centre.x + u * cx - v * cy, e.centre.y + u * cy + v * cx, 0.0};
}

}  // namespace

int convertEllipse(const StepContext& c) {
  TraceScope t("dpe320");
  TransferEllipse e;
  if (const int r = fetchRecord(c, e, fetchEllipse); r != 0) return r;
  const double a = e.halfAxisA, b = e.halfAxisB;
  if (!(a > 0.0) || !(b > 0.0) || !std::isfinite(a) || !std::isfinite(b)) return -1;
  const double norm = std::hypot(e.axisDirection[0], e.axisDirection[1]);
  if (!(norm > 0.0)) return -1;
  e.axisDirection[0] /= norm;
  e.axisDirection[1] /= norm;
  if (dxfTarget()) {
    double from = e.startAngle, to = e.endAngle;
    if (e.fullEllipse) {
      from = 0.0;
      to = 2.0 * kPi;
    } else {
      while (to <= from) to += 2.0 * kPi;
    }
    std::vector<DxfSegment> segments;
    const int n = kEllipseSegments;
    Point3 previous = ellipsePoint(e, from);
    for (int i = 1; i <= n; ++i) {
      const Point3 next = ellipsePoint(e, from + (to - from) * i / n);
      addSegment(segments, previous, next);
      previous = next;
    }
    return writeDxfSegments(segments, e);
  }
  const std::int32_t matrix = writeEllipseMatrix(e);
  if (matrix < 0) return -1;
  // In its own frame: x^2/a^2 + y^2/b^2 = 1, written as
  // A x^2 + B xy + C y^2 + D x + E y + F = 0.
  IgesConicParams params;
  params.coefficients[0] = b * b;
  params.coefficients[2] = a * a;
  params.coefficients[5] = -a * a * b * b;
  if (e.fullEllipse) {
    params.startX = params.endX = a;
    params.startY = params.endY = 0.0;
  } else {
    params.startX = e.localStart.x;
    params.startY = e.localStart.y;
    params.endX = e.localEnd.x;
    params.endY = e.localEnd.y;
  }
  const std::int32_t start = beginEntity();
  if (writeIgesConic(params) != 0) return -1;
  return writeElementEntity(c, e, IgesType::kConicArc, kEllipseForm, start, matrix);
}

int convertSpline(const StepContext& c) {
  TraceScope t("dpe330");
  TransferSpline s;
  if (const int r = fetchRecord(c, s, fetchSpline); r != 0) return r;
  const std::size_t spans = s.segments.size();
  if (spans == 0 || s.breakpoints.size() != spans + 1) return -1;
  if (dxfTarget()) {
    std::vector<DxfSegment> segments;
    Point3 previous{s.segments[0].x[0], s.segments[0].y[0], 0.0};
    for (std::size_t i = 0; i < spans; ++i) {
      const auto& g = s.segments[i];
      const double length = s.breakpoints[i + 1] - s.breakpoints[i];
      for (int k = 1; k <= kSplineSpanSegments; ++k) {
        const double u = length * k / kSplineSpanSegments;
        const Point3 next{g.x[0] + u * (g.x[1] + u * (g.x[2] + u * g.x[3])),
                          g.y[0] + u * (g.y[1] + u * (g.y[2] + u * g.y[3])), 0.0};
        addSegment(segments, previous, next);
        previous = next;
      }
    }
    return writeDxfSegments(segments, s);
  }
  IgesSplineParams params;
  const std::int32_t degree = s.pieceDegree >= 1 && s.pieceDegree <= 3 ? s.pieceDegree : 3;
  params.splineType = degree;
  params.degree = degree;
  params.dimensions = 2;
  params.breakPoints = s.breakpoints;
  params.segments.reserve(spans);
  for (const auto& g : s.segments) {
    IgesSplineSegment segment;
    std::memcpy(segment.x, g.x, sizeof segment.x);
    std::memcpy(segment.y, g.y, sizeof segment.y);
    params.segments.push_back(segment);
  }
  // Terminal values: the last span at its end, value and the derivatives
  // divided by 1, 2 and 6, for x, y and z.
  const auto& last = s.segments.back();
  const double u = s.breakpoints[spans] - s.breakpoints[spans - 1];
  const double* coefficients[2] = {last.x, last.y};
  for (int axis = 0; axis < 2; ++axis) {
    const double* k = coefficients[axis];
    params.terminal[axis * 4 + 0] = k[0] + u * (k[1] + u * (k[2] + u * k[3]));
    params.terminal[axis * 4 + 1] = k[1] + u * (2.0 * k[2] + 3.0 * u * k[3]);
    params.terminal[axis * 4 + 2] = k[2] + 3.0 * u * k[3];
    params.terminal[axis * 4 + 3] = k[3];
  }
  const std::int32_t start = beginEntity();
  if (writeIgesSpline(params) != 0) return -1;
  return writeElementEntity(c, s, IgesType::kParametricSpline, 0, start);
}

int convertHatch(const StepContext& c) {
  TraceScope t("dpe710");
  TransferHatch h;
  if (const int r = fetchRecord(c, h, fetchHatch); r != 0) return r;
  if (h.points.size() < 2) return -1;
  if (dxfTarget()) {
    std::vector<DxfSegment> segments;
    for (std::size_t i = 1; i < h.points.size(); ++i) addSegment(segments, h.points[i - 1], h.points[i]);
    if (h.closed && h.points.size() > 2) addSegment(segments, h.points.back(), h.points.front());
    return writeDxfSegments(segments, h);
  }
  IgesCopiousParams params;
  params.interpretation = 1;
  params.points.reserve(h.points.size() + 1);
  for (const Point3& p : h.points) params.points.emplace_back(p.x, p.y);
  // A closed polygon repeats its first point, so that every reader closes
  // it whether it knows the closed form or not.
  const bool closed = h.closed && h.points.size() > 2;
  if (closed) params.points.emplace_back(h.points.front().x, h.points.front().y);
  const std::int32_t start = beginEntity();
  if (writeIgesCopious(params) != 0) return -1;
  return writeElementEntity(c, h, IgesType::kCopiousData, closed ? kCopiousClosed : kCopiousPath,
                            start);
}

int convertColourDefinition(const StepContext& c) {
  TraceScope t("dpe314");
  if (!igesTarget()) return ConvertResult::kIgnored;
  const auto* colour = dynamic_cast<const ColourRecord*>(element(c.index).params.get());
  if (colour == nullptr) return -1;
  IgesColourParams params;
  params.red = colour->red;
  params.green = colour->green;
  params.blue = colour->blue;
  params.name = colour->name;
  const std::int32_t start = beginEntity();
  if (writeIgesColour(params) != 0) return -1;
  ElementRecord& e = element(c.index);
  std::snprintf(e.de.label, sizeof e.de.label, "%s", kColourLabel);
  e.de.subscript = c.index;
  e.outputKind = IgesType::kColourDefinition;
  EntityStatus status;
  status.use = 2;  // a definition
  return writeEntity(e.de, IgesType::kColourDefinition, 0, start, status) < 0 ? -1 : 0;
}

}  // namespace output_steps

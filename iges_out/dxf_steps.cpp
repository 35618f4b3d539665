// The output steps of the own DXF writer.
#include "iges_out/dxf_steps.h"

#include <cmath>
#include <variant>
#include <vector>

#include "elements/convert_result.h"
#include "elements/transform.h"
#include "iges_out/dxf_writer.h"

namespace {

// Segments of the line block that draws an ellipse, and of each polynomial
// span of a spline.
constexpr int kEllipseSegments = 72;
constexpr int kSplineSpanSegments = 8;

double widthOf(const TransferRecord& r) { return static_cast<double>(r.lineWidth); }

// Angle of (x, y) in degrees, 0 <= angle < 360.
double degreesOf(double x, double y) {
  double angle = std::atan2(y, x) * 180.0 / kPi;
  if (angle < 0.0) angle += 360.0;
  if (angle >= 360.0) angle -= 360.0;
  return angle;
}

int writeDxfSegments(const std::vector<DxfSegment>& segments, const TransferRecord& r) {
  if (segments.empty()) return -1;
  return dxfWriteLineBlock(segments, r.lineStyle, widthOf(r)) == 0 ? 0 : -1;
}

void addSegment(std::vector<DxfSegment>& segments, const Point3& a, const Point3& b) {
  segments.push_back(DxfSegment{a.x, a.y, b.x, b.y});
}

Point3 ellipsePoint(const TransferEllipse& e, double t) {
  const double u = e.halfAxisA * std::cos(t), v = e.halfAxisB * std::sin(t);
  const double cx = e.axisDirection[0], cy = e.axisDirection[1];
  return Point3{e.centre.x + u * cx - v * cy, e.centre.y + u * cy + v * cx, 0.0};
}

// The own DXF writer draws a dimension with its drawing sub-elements:
// lines, arcs, and the arrow heads as blocks of lines.
int drawDimensionDxf(const TransferDimension& d) {
  int written = 0;
  for (const TransferSubElement& part : d.parts) {
    if (const auto* line = std::get_if<TransferLine>(&part.record)) {
      const double start[3] = {line->start.x, line->start.y, 0.0};
      const double end[3] = {line->end.x, line->end.y, 0.0};
      if (dxfWriteLine(start, end, line->lineStyle, line->lineWidth) != 0) return -1;
      ++written;
    } else if (const auto* arc = std::get_if<TransferCircle>(&part.record)) {
      if (!(arc->radius > 0.0)) continue;
      const double from = degreesOf(arc->start.x - arc->centre.x, arc->start.y - arc->centre.y);
      const double to = degreesOf(arc->end.x - arc->centre.x, arc->end.y - arc->centre.y);
      if (dxfWriteArc(arc->centre.x, arc->centre.y, arc->radius, arc->fullCircle, from, to,
                      arc->lineStyle, arc->lineWidth) != 0) {
        return -1;
      }
      ++written;
    } else if (const auto* polygon = std::get_if<TransferHatch>(&part.record)) {
      std::vector<DxfSegment> segments;
      const std::vector<Point3>& p = polygon->points;
      for (std::size_t i = 1; i < p.size(); ++i) segments.push_back({p[i - 1].x, p[i - 1].y, p[i].x, p[i].y});
      if (polygon->closed && p.size() > 2) segments.push_back({p.back().x, p.back().y, p.front().x, p.front().y});
      if (segments.empty()) continue;
      if (dxfWriteLineBlock(segments, polygon->lineStyle, polygon->lineWidth) != 0) return -1;
      ++written;
    }
  }
  return written > 0 ? ConvertResult::kDone : ConvertResult::kIgnored;
}

}  // namespace

TargetSteps& ownDxfTargetSteps() {
  static OwnDxfSteps steps;
  return steps;
}

bool OwnDxfSteps::failed() const { return dxfWriter().failed; }

int OwnDxfSteps::finish() { return dxfWriter().failed ? -1 : 0; }

int OwnDxfSteps::point(const StepContext& /*c*/, const TransferPoint& p) {
  return dxfWritePoint(p.point.x, p.point.y, p.lineStyle, widthOf(p)) == 0 ? 0 : -1;
}

int OwnDxfSteps::line(const StepContext& /*c*/, const TransferLine& l) {
  const double start[3] = {l.start.x, l.start.y, 0.0};
  const double end[3] = {l.end.x, l.end.y, 0.0};
  return dxfWriteLine(start, end, l.lineStyle, widthOf(l)) == 0 ? 0 : -1;
}

int OwnDxfSteps::circle(const StepContext& /*c*/, const TransferCircle& a) {
  // The arc runs counter-clockwise from its start to its end point.
  const double startAngle = degreesOf(a.start.x - a.centre.x, a.start.y - a.centre.y);
  const double endAngle = degreesOf(a.end.x - a.centre.x, a.end.y - a.centre.y);
  return dxfWriteArc(a.centre.x, a.centre.y, a.radius, a.fullCircle, startAngle, endAngle,
                     a.lineStyle, widthOf(a)) == 0
             ? 0
             : -1;
}

int OwnDxfSteps::ellipse(const StepContext& /*c*/, const TransferEllipse& e) {
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

int OwnDxfSteps::spline(const StepContext& /*c*/, const TransferSpline& s) {
  std::vector<DxfSegment> segments;
  Point3 previous{s.segments[0].x[0], s.segments[0].y[0], 0.0};
  for (std::size_t i = 0; i < s.segments.size(); ++i) {
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

int OwnDxfSteps::hatch(const StepContext& /*c*/, const TransferHatch& h) {
  std::vector<DxfSegment> segments;
  for (std::size_t i = 1; i < h.points.size(); ++i) addSegment(segments, h.points[i - 1], h.points[i]);
  if (h.closed && h.points.size() > 2) addSegment(segments, h.points.back(), h.points.front());
  return writeDxfSegments(segments, h);
}

int OwnDxfSteps::text(const StepContext& /*c*/, const TransferText& /*text*/) {
  return ConvertResult::kIgnored;
}

int OwnDxfSteps::dimension(const StepContext& /*c*/, const TransferDimension& d) {
  return drawDimensionDxf(d);
}

int OwnDxfSteps::symbol(const StepContext& /*c*/, const TransferSymbol& /*symbol*/,
                        SymbolPartReader& /*parts*/) {
  return ConvertResult::kIgnored;
}

// A group or contour is done once one of its members was written (the
// loop asks only then).
int OwnDxfSteps::group(const StepContext& /*c*/, const TransferGroup& /*group*/,
                       const WrittenMembers& /*members*/) {
  return ConvertResult::kDone;
}

int OwnDxfSteps::contour(const StepContext& /*c*/, const TransferContour& /*contour*/,
                         const WrittenMembers& /*members*/) {
  return ConvertResult::kDone;
}

// The boundary's curves are entities of their own.
int OwnDxfSteps::planePart(const StepContext& /*c*/, const TransferPlanePart& /*part*/,
                           const std::vector<std::int32_t>& /*contours*/) {
  return ConvertResult::kDone;
}

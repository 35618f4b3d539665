// The picture of a conversion: the record and its SVG text.
//
// SVG's y axis points down, the drawing's up: every y is written negated,
// so a shape keeps its place and the view box is the drawing's extent with
// its y range turned.  Strokes are one pixel wide at the picture's own
// size (the longer side 1000 pixels), so that a drawing of any size shows
// its lines.
#include "support/conversion_picture.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/run_state.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTurn = 2.0 * kPi;
// Width of a character in text heights, for the extent of texts.
constexpr double kCharacterWidth = 0.7;
// Splines above the third degree (SVG paths go up to cubic pieces) are
// drawn through this many points per knot span.
constexpr int kSamplesPerSpan = 32;
// The highest spline degree a KPL statement writes.
constexpr int kHighestDegree = 4;
// An arrow's width at its base, in arrow lengths.
constexpr double kArrowWidth = 1.0 / 3.0;

std::unique_ptr<ConversionPicture>& recordSlot() {
  static std::unique_ptr<ConversionPicture> record;
  return record;
}

void resetRecord() { recordSlot().reset(); }

const RunStateRegistrar kRunStateRegistered("conversionPicture", resetRecord);

std::string number(double value) {
  if (!std::isfinite(value)) value = 0.0;
  // The rounding noise of sines and cosines (1e-16 for 0) and "-0" are 0.
  if (std::fabs(value) < 1e-12) value = 0.0;
  char text[40];
  std::snprintf(text, sizeof text, "%.12g", value);
  return text;
}

// Text for an XML attribute or element: markup characters escaped, the
// ISO 8859-1 bytes of the conversion as UTF-8, control bytes left out.
std::string xmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (byte) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (byte >= 0x80) {
          out += static_cast<char>(0xC0 | (byte >> 6));
          out += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte >= 0x20 && byte != 0x7F) {
          out += ch;
        }
    }
  }
  return out;
}

DrawnPoint onEllipse(const DrawnShape& s, double t) {
  const double c = std::cos(s.rotation), n = std::sin(s.rotation);
  const double u = s.rx * std::cos(t), v = s.ry * std::sin(t);
  return {s.centre.x + c * u - n * v, s.centre.y + n * u + c * v};
}

DrawnPoint onArc(const DrawnShape& s, double t) {
  return {s.centre.x + s.rx * std::cos(t), s.centre.y + s.rx * std::sin(t)};
}

// A point of a Bezier piece at t in [0, 1] (de Casteljau).
DrawnPoint onBezier(const DrawnPoint* piece, int degree, double t) {
  DrawnPoint d[kHighestDegree + 1];
  for (int j = 0; j <= degree; ++j) d[j] = piece[j];
  for (int r = 1; r <= degree; ++r) {
    for (int j = 0; j <= degree - r; ++j) d[j] = {d[j].x + t * (d[j + 1].x - d[j].x), d[j].y + t * (d[j + 1].y - d[j].y)};
  }
  return d[0];
}

// The blossom of a B-spline on the knot span [knots[span], knots[span+1]]
// at the `degree` arguments `t`: de Boor's algorithm with an argument of its
// own at each level.  With every argument u it is the curve's point at u;
// with the span's ends as arguments, the span's Bezier points.
DrawnPoint blossom(int degree, const std::vector<double>& knots, const std::vector<DrawnPoint>& controls,
                   std::size_t span, const double* t) {
  const std::size_t p = static_cast<std::size_t>(degree);
  DrawnPoint d[kHighestDegree + 1];
  for (std::size_t j = 0; j <= p; ++j) d[j] = controls[span - p + j];
  for (std::size_t r = 1; r <= p; ++r) {
    for (std::size_t j = p; j >= r; --j) {
      const std::size_t k = span - p + j;
      const double width = knots[k + p + 1 - r] - knots[k];
      const double a = width > 0.0 ? (t[r - 1] - knots[k]) / width : 0.0;
      d[j] = {(1.0 - a) * d[j - 1].x + a * d[j].x, (1.0 - a) * d[j - 1].y + a * d[j].y};
    }
  }
  return d[p];
}

bool samePoint(DrawnPoint a, DrawnPoint b) { return a.x == b.x && a.y == b.y; }

// The parameter span of an arc from start to end, counter-clockwise, in
// (0, 2 pi].
double span(double start, double end) {
  double d = std::fmod(end - start, kTurn);
  if (d <= 0.0) d += kTurn;
  return d;
}

struct Box {
  double xmin = HUGE_VAL, ymin = HUGE_VAL, xmax = -HUGE_VAL, ymax = -HUGE_VAL;
  void add(DrawnPoint p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    xmin = std::min(xmin, p.x);
    xmax = std::max(xmax, p.x);
    ymin = std::min(ymin, p.y);
    ymax = std::max(ymax, p.y);
  }
  bool empty() const { return xmin > xmax; }
};

// The extent of a curve given by a point function over [a, a + d]: its
// ends and the points where it turns in x or y, found by sampling finely
// enough that the view box misses no visible part.
template <typename On>
void addCurve(Box& box, On on, double a, double d) {
  constexpr int kSteps = 256;
  for (int k = 0; k <= kSteps; ++k) box.add(on(a + d * k / kSteps));
}

void addShape(Box& box, const DrawnShape& s) {
  switch (s.kind) {
    case DrawnKind::kCircle:
      box.add({s.centre.x - s.rx, s.centre.y - s.rx});
      box.add({s.centre.x + s.rx, s.centre.y + s.rx});
      return;
    case DrawnKind::kArc:
      addCurve(box, [&s](double t) { return onArc(s, t); }, s.start, span(s.start, s.end));
      return;
    case DrawnKind::kEllipse:
      addCurve(box, [&s](double t) { return onEllipse(s, t); }, s.full ? 0.0 : s.start,
               s.full ? kTurn : span(s.start, s.end));
      return;
    case DrawnKind::kText: {
      const DrawnPoint at = s.points.front();
      const double length = s.height * kCharacterWidth * static_cast<double>(s.text.size());
      const double c = std::cos(s.angle), n = std::sin(s.angle);
      box.add(at);
      box.add({at.x + c * length, at.y + n * length});
      box.add({at.x - n * s.height, at.y + c * s.height});
      box.add({at.x + c * length - n * s.height, at.y + n * length + c * s.height});
      return;
    }
    case DrawnKind::kSpline:
      if (s.bezierDegree > 0) {
        const std::size_t size = static_cast<std::size_t>(s.bezierDegree) + 1;
        for (std::size_t k = 0; k + size <= s.points.size(); k += size) {
          addCurve(box, [&](double t) { return onBezier(&s.points[k], s.bezierDegree, t); }, 0.0, 1.0);
        }
        return;
      }
      for (const DrawnPoint& p : s.points) box.add(p);
      return;
    default:
      for (const DrawnPoint& p : s.points) box.add(p);
  }
}

// The SVG path of Bezier pieces: L, Q or C per piece, M where a piece
// starts away from the end of the one before.
std::string bezierPath(const DrawnShape& s) {
  const std::size_t size = static_cast<std::size_t>(s.bezierDegree) + 1;
  const char* command = s.bezierDegree == 1 ? " L" : s.bezierDegree == 2 ? " Q" : " C";
  std::string out;
  const auto addPoint = [&out](DrawnPoint p) {
    out += ' ';
    out += number(p.x);
    out += ' ';
    out += number(-p.y);
  };
  for (std::size_t k = 0; k + size <= s.points.size(); k += size) {
    if (k == 0 || !samePoint(s.points[k], s.points[k - 1])) {
      out += k == 0 ? "M" : " M";
      addPoint(s.points[k]);
    }
    out += command;
    for (std::size_t j = 1; j < size; ++j) addPoint(s.points[k + j]);
  }
  return out;
}

std::string pointList(const std::vector<DrawnPoint>& points) {
  std::string out;
  for (const DrawnPoint& p : points) {
    if (!out.empty()) out += ' ';
    out += number(p.x) + "," + number(-p.y);
  }
  return out;
}

// One shape's SVG element, without its closing.
std::string shapeElement(const DrawnShape& s, const std::string& stroke) {
  const std::string paint = " stroke=\"" + stroke + "\"";
  const std::string id = " data-element=\"" + std::to_string(s.style.element) + "\"";
  switch (s.kind) {
    case DrawnKind::kLine:
      return "<line class=\"line\"" + id + paint + " x1=\"" + number(s.points[0].x) + "\" y1=\"" +
             number(-s.points[0].y) + "\" x2=\"" + number(s.points[1].x) + "\" y2=\"" +
             number(-s.points[1].y) + "\"";
    case DrawnKind::kCircle:
      return "<circle class=\"circle\"" + id + paint + " cx=\"" + number(s.centre.x) + "\" cy=\"" +
             number(-s.centre.y) + "\" r=\"" + number(s.rx) + "\"";
    case DrawnKind::kArc:
    case DrawnKind::kEllipse: {
      const bool arc = s.kind == DrawnKind::kArc;
      const std::string kind = arc ? "arc" : "ellipse";
      const std::string data = " data-cx=\"" + number(s.centre.x) + "\" data-cy=\"" + number(s.centre.y) +
                               "\" data-rx=\"" + number(s.rx) + "\" data-ry=\"" + number(arc ? s.rx : s.ry) +
                               "\"";
      if (!arc && s.full) {
        return "<ellipse class=\"ellipse\"" + id + paint + data + " cx=\"" + number(s.centre.x) + "\" cy=\"" +
               number(-s.centre.y) + "\" rx=\"" + number(s.rx) + "\" ry=\"" + number(s.ry) +
               "\" transform=\"rotate(" + number(-s.rotation * 180.0 / kPi) + " " + number(s.centre.x) + " " +
               number(-s.centre.y) + ")\"";
      }
      const double d = span(s.start, s.end);
      const DrawnPoint a = arc ? onArc(s, s.start) : onEllipse(s, s.start);
      const DrawnPoint b = arc ? onArc(s, s.start + d) : onEllipse(s, s.start + d);
      const double ry = arc ? s.rx : s.ry;
      // Counter-clockwise in the drawing is clockwise on the turned y axis
      // (sweep flag 0).
      return "<path class=\"" + kind + "\"" + id + paint + data + " d=\"M " + number(a.x) + " " + number(-a.y) +
             " A " + number(s.rx) + " " + number(ry) + " " + number(arc ? 0.0 : -s.rotation * 180.0 / kPi) +
             (d > kPi ? " 1 0 " : " 0 0 ") + number(b.x) + " " + number(-b.y) + "\"";
    }
    case DrawnKind::kSpline:
      if (s.bezierDegree > 0) {
        return "<path class=\"spline\"" + id + paint + " data-degree=\"" + std::to_string(s.bezierDegree) +
               "\" d=\"" + bezierPath(s) + "\"";
      }
      return "<polyline class=\"spline\"" + id + paint + " points=\"" + pointList(s.points) + "\"";
    case DrawnKind::kArrow:
      return "<polygon class=\"arrow\"" + id + paint + " fill=\"" + stroke + "\" points=\"" + pointList(s.points) +
             "\"";
    case DrawnKind::kPolyline:
      return std::string(s.closed ? "<polygon" : "<polyline") + " class=\"polyline\"" + id + paint +
             " points=\"" + pointList(s.points) + "\"";
    case DrawnKind::kHatch:
      return "<polygon class=\"hatch\"" + id + paint + " points=\"" + pointList(s.points) + "\"";
    case DrawnKind::kText: {
      const DrawnPoint at = s.points.front();
      return "<text class=\"text\"" + id + " fill=\"" + stroke + "\" stroke=\"none\" x=\"" + number(at.x) +
             "\" y=\"" + number(-at.y) + "\" font-size=\"" + number(s.height) + "\" data-angle=\"" +
             number(s.angle) + "\" transform=\"rotate(" + number(-s.angle * 180.0 / kPi) + " " + number(at.x) +
             " " + number(-at.y) + ")\"";
    }
  }
  return "";
}

// "element <n>: <message number> <text>" in the run's language.
std::string titleOf(std::int32_t element, int message) {
  std::string title = (runIsGerman() ? "Element " : "element ") + std::to_string(element);
  if (message != 0) {
    title += ": " + std::to_string(message);
    const std::string text = mfaTextOf(message);
    if (!text.empty()) title += " " + text;
  }
  return "<title>" + xmlText(title) + "</title>";
}

std::string colourOf(const DrawnStyle& s) {
  if (s.red >= 0 && s.green >= 0 && s.blue >= 0) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", std::min(s.red, 255), std::min(s.green, 255),
                  std::min(s.blue, 255));
    return text;
  }
  return drawnColourText(s.colour);
}

}  // namespace

ConversionPicture::ConversionPicture() : sections_{DrawnSection{}} {}

void ConversionPicture::enterSection(const std::string& drawing, const std::string& view) {
  for (std::size_t k = 0; k < sections_.size(); ++k) {
    if (sections_[k].drawing == drawing && sections_[k].view == view) {
      section_ = k;
      return;
    }
  }
  sections_.push_back({drawing, view});
  section_ = sections_.size() - 1;
}

DrawnShape& ConversionPicture::add(DrawnKind kind, const DrawnStyle& s) {
  DrawnShape& shape = shapes_.emplace_back();
  shape.kind = kind;
  shape.style = s;
  shape.section = section_;
  shape.dimension = dimension_;
  return shape;
}

void ConversionPicture::line(const DrawnStyle& s, DrawnPoint a, DrawnPoint b) { add(DrawnKind::kLine, s).points = {a, b}; }

void ConversionPicture::arc(const DrawnStyle& s, DrawnPoint centre, double radius, double start, double end) {
  if (std::fabs(end - start) >= kTurn) {
    circle(s, centre, radius);
    return;
  }
  DrawnShape& shape = add(DrawnKind::kArc, s);
  shape.centre = centre;
  shape.rx = shape.ry = radius;
  shape.start = start;
  shape.end = end;
}

void ConversionPicture::circle(const DrawnStyle& s, DrawnPoint centre, double radius) {
  DrawnShape& shape = add(DrawnKind::kCircle, s);
  shape.centre = centre;
  shape.rx = shape.ry = radius;
}

void ConversionPicture::ellipse(const DrawnStyle& s, DrawnPoint centre, double rx, double ry, double rotation,
                            bool full, double start, double end) {
  DrawnShape& shape = add(DrawnKind::kEllipse, s);
  shape.centre = centre;
  shape.rx = rx;
  shape.ry = ry;
  shape.rotation = rotation;
  shape.full = full;
  shape.start = start;
  shape.end = end;
}

void ConversionPicture::spline(const DrawnStyle& s, std::vector<DrawnPoint> points) {
  if (points.size() < 2) return;
  add(DrawnKind::kSpline, s).points = std::move(points);
}

void ConversionPicture::bezierCurve(const DrawnStyle& s, int degree,
                                    const std::vector<std::vector<DrawnPoint>>& pieces) {
  if (degree < 1 || degree > 3 || pieces.empty()) return;
  const std::size_t size = static_cast<std::size_t>(degree) + 1;
  std::vector<DrawnPoint> points;
  points.reserve(pieces.size() * size);
  for (const std::vector<DrawnPoint>& piece : pieces) {
    if (piece.size() != size) return;
    points.insert(points.end(), piece.begin(), piece.end());
  }
  DrawnShape& shape = add(DrawnKind::kSpline, s);
  shape.bezierDegree = degree;
  shape.points = std::move(points);
}

// The knots a KPL spline of n control points has: uniform, the end knots
// repeated degree + 1 times when open; when periodic the control polygon
// is carried on by its first `degree` points, and the curve closes.
void ConversionPicture::uniformSpline(const DrawnStyle& s, int degree, const std::vector<DrawnPoint>& controls,
                                      bool periodic) {
  const std::size_t n = controls.size();
  if (n < 2 || degree < 1) return;
  const int p = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::min(degree, kHighestDegree)), n - 1));
  const std::size_t up = static_cast<std::size_t>(p);
  std::vector<DrawnPoint> polygon = controls;
  std::vector<double> knots;
  if (periodic) {
    polygon.insert(polygon.end(), controls.begin(), controls.begin() + static_cast<long>(up));
    knots.resize(polygon.size() + up + 1);
    for (std::size_t k = 0; k < knots.size(); ++k) knots[k] = static_cast<double>(k);
  } else {
    knots.assign(up, 0.0);
    for (std::size_t k = 0; k + up <= n; ++k) knots.push_back(static_cast<double>(k));
    knots.insert(knots.end(), up, static_cast<double>(n - up));
  }
  // The spans of the curve: from knots[p] to knots[polygon size].
  if (p <= 3) {
    std::vector<std::vector<DrawnPoint>> pieces;
    pieces.reserve(polygon.size() - up);
    double t[kHighestDegree];
    for (std::size_t span = up; span < polygon.size(); ++span) {
      const double a = knots[span], b = knots[span + 1];
      std::vector<DrawnPoint>& piece = pieces.emplace_back(up + 1);
      // Bezier point k: the blossom at a (p - k times) and b (k times).
      for (std::size_t k = 0; k <= up; ++k) {
        for (std::size_t j = 0; j < up; ++j) t[j] = j < up - k ? a : b;
        piece[k] = blossom(p, knots, polygon, span, t);
      }
    }
    bezierCurve(s, p, pieces);
    return;
  }
  std::vector<DrawnPoint> points;
  points.reserve((polygon.size() - up) * kSamplesPerSpan + 1);
  double t[kHighestDegree];
  for (std::size_t span = up; span < polygon.size(); ++span) {
    const double a = knots[span], b = knots[span + 1];
    for (int k = span == up ? 0 : 1; k <= kSamplesPerSpan; ++k) {
      const double u = a + (b - a) * k / kSamplesPerSpan;
      for (int j = 0; j < p; ++j) t[j] = u;
      points.push_back(blossom(p, knots, polygon, span, t));
    }
  }
  spline(s, std::move(points));
}

void ConversionPicture::polyline(const DrawnStyle& s, std::vector<DrawnPoint> points, bool closed) {
  if (points.size() < 2) return;
  DrawnShape& shape = add(DrawnKind::kPolyline, s);
  shape.points = std::move(points);
  shape.closed = closed;
}

void ConversionPicture::hatch(const DrawnStyle& s, std::vector<DrawnPoint> points) {
  if (points.size() < 2) return;
  DrawnShape& shape = add(DrawnKind::kHatch, s);
  shape.points = std::move(points);
  shape.closed = true;
}

void ConversionPicture::text(const DrawnStyle& s, DrawnPoint at, double height, double angle, const std::string& text) {
  DrawnShape& shape = add(DrawnKind::kText, s);
  shape.points = {at};
  shape.height = height;
  shape.angle = angle;
  shape.text = text;
}

void ConversionPicture::arrow(const DrawnStyle& s, DrawnPoint tip, DrawnPoint from, double size) {
  const double length = std::hypot(from.x - tip.x, from.y - tip.y);
  if (!(length > 0.0) || !(size > 0.0) || !std::isfinite(size)) return;
  const double ux = (from.x - tip.x) / length, uy = (from.y - tip.y) / length;
  const DrawnPoint base{tip.x + ux * size, tip.y + uy * size};
  const double half = size * kArrowWidth / 2.0;
  add(DrawnKind::kArrow, s).points = {tip, {base.x - uy * half, base.y + ux * half}, {base.x + uy * half, base.y - ux * half}};
}

// Linear and diameter: the dimension line between its ends with an arrow
// at each.  Radius: the line from the centre to the circle with the arrow
// there.  Angular: the arc around the vertex from the first leg to the
// second, counter-clockwise, an arrow at each end along the arc.
void ConversionPicture::dimension(const DrawnStyle& s, const DrawnDimension& d) {
  const std::int32_t outer = dimension_;
  dimension_ = s.element;
  const double size = d.arrowSize > 0.0 ? d.arrowSize : d.textHeight;
  switch (d.kind) {
    case DrawnDimensionKind::kLinear:
    case DrawnDimensionKind::kDiameter: {
      DrawnPoint second = d.second;
      // A diameter given by one arrow point: the line runs through the
      // centre to the opposite point.
      if (d.kind == DrawnDimensionKind::kDiameter && samePoint(d.first, d.second))
        second = {2.0 * d.centre.x - d.first.x, 2.0 * d.centre.y - d.first.y};
      line(s, d.first, second);
      arrow(s, d.first, second, size);
      arrow(s, second, d.first, size);
      break;
    }
    case DrawnDimensionKind::kRadius:
      line(s, d.centre, d.first);
      arrow(s, d.first, d.centre, size);
      break;
    case DrawnDimensionKind::kAngular: {
      const double radius = std::hypot(d.first.x - d.centre.x, d.first.y - d.centre.y);
      if (!(radius > 0.0)) break;
      const double a0 = std::atan2(d.first.y - d.centre.y, d.first.x - d.centre.x);
      const double a1 = std::atan2(d.second.y - d.centre.y, d.second.x - d.centre.x);
      arc(s, d.centre, radius, a0, a1);
      const DrawnPoint end = {d.centre.x + radius * std::cos(a1), d.centre.y + radius * std::sin(a1)};
      // The shafts leave the ends along the arc's tangents, inwards.
      arrow(s, d.first, {d.first.x - std::sin(a0) * radius, d.first.y + std::cos(a0) * radius}, size);
      arrow(s, end, {end.x + std::sin(a1) * radius, end.y - std::cos(a1) * radius}, size);
      break;
    }
  }
  if (!d.text.empty()) text(s, d.textAt, d.textHeight, d.textAngle, d.text);
  dimension_ = outer;
}

void ConversionPicture::dropSince(std::size_t mark) {
  if (mark < shapes_.size()) shapes_.resize(mark);
}

// The latest error or warning reported since the last failure taken, 0
// when none was.
int ConversionPicture::problemSince() {
  const MessageSerial last = mfaLastProblem();
  if (last.serial == seenProblem_) return 0;
  seenProblem_ = last.serial;
  return last.number;
}

void ConversionPicture::failSince(std::size_t mark, std::int32_t element) {
  if (mark >= shapes_.size()) return;
  const int message = problemSince();
  for (std::size_t k = mark; k < shapes_.size(); ++k) {
    shapes_[k].failed = true;
    shapes_[k].message = message;
  }
  lastFailedMark_ = mark;
  lastFailed_ = element;
  const auto at = std::lower_bound(failedElements_.begin(), failedElements_.end(), element);
  if (at == failedElements_.end() || *at != element) failedElements_.insert(at, element);
}

void ConversionPicture::elementFailed(std::int32_t element) {
  const auto at = std::lower_bound(failedElements_.begin(), failedElements_.end(), element);
  if (at != failedElements_.end() && *at == element) {
    // Drawn as failed already; a message reported after its step (by the
    // loop that took the step's result) still names the failure.
    if (element == lastFailed_ && lastFailedMark_ < shapes_.size() && shapes_[lastFailedMark_].message == 0) {
      const int message = problemSince();
      for (std::size_t k = lastFailedMark_; k < shapes_.size(); ++k)
        if (shapes_[k].style.element == element) shapes_[k].message = message;
    }
    return;
  }
  failedElements_.insert(at, element);
  failures_.push_back({element, section_, problemSince()});
}

std::string ConversionPicture::svg() const {
  // The colour definitions, unless the run has read them already (a run
  // whose assignment directory has none draws with the basic colours).
  if (assignTables().colourDefinitions.empty() &&
      access((runPaths().assignDir + "farbtabelle.zuor").c_str(), R_OK) == 0)
    (void)readColourDefinitions();
  Box box;
  for (const DrawnShape& s : shapes_) addShape(box, s);
  if (box.empty()) box = Box{0.0, 0.0, 1.0, 1.0};
  // A margin of 2 % around the drawing; a drawing without width or height
  // gets one of a unit.
  double width = box.xmax - box.xmin, height = box.ymax - box.ymin;
  const double margin = std::max({width, height, 1.0}) * 0.02;
  const double x0 = box.xmin - margin, y0 = -box.ymax - margin;
  width += 2.0 * margin;
  height += 2.0 * margin;
  // The pixel size of the picture: the longer side 1000 pixels.
  const double scale = 1000.0 / std::max(width, height);

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"" + number(x0) + " " + number(y0) + " " +
         number(width) + " " + number(height) + "\" width=\"" + number(std::ceil(width * scale)) +
         "\" height=\"" + number(std::ceil(height * scale)) + "\">\n";
  // Lines one pixel wide at the picture's own size.
  out += "<g fill=\"none\" stroke-width=\"" + number(1.0 / scale) + "\">\n";

  // Sections in the order they were entered, layers in the order of their
  // first shape within the section.
  std::vector<std::size_t> order(shapes_.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::vector<std::string> layers;
  std::vector<std::size_t> layerOf(shapes_.size());
  for (std::size_t k = 0; k < shapes_.size(); ++k) {
    const auto at = std::find(layers.begin(), layers.end(), shapes_[k].style.layer);
    layerOf[k] = static_cast<std::size_t>(at - layers.begin());
    if (at == layers.end()) layers.push_back(shapes_[k].style.layer);
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (shapes_[a].section != shapes_[b].section) return shapes_[a].section < shapes_[b].section;
    return layerOf[a] < layerOf[b];
  });

  std::string openDrawing;
  bool drawingOpen = false, viewOpen = false, layerOpen = false, dimensionOpen = false;
  std::size_t section = ~std::size_t{0}, layer = ~std::size_t{0};
  std::int32_t dimension = 0;
  const auto closeDimension = [&] {
    if (dimensionOpen) out += "</g>\n";
    dimensionOpen = false;
    dimension = 0;
  };
  const auto closeLayer = [&] {
    closeDimension();
    if (layerOpen) out += "</g>\n";
    layerOpen = false;
    layer = ~std::size_t{0};
  };
  const auto closeView = [&] {
    closeLayer();
    if (viewOpen) out += "</g>\n";
    viewOpen = false;
  };
  const auto closeDrawing = [&] {
    closeView();
    if (drawingOpen) out += "</g>\n";
    drawingOpen = false;
  };
  const auto openSection = [&](std::size_t k) {
    const DrawnSection& s = sections_[k];
    closeLayer();
    if (!drawingOpen || s.drawing != openDrawing) {
      closeDrawing();
      if (!s.drawing.empty()) {
        out += "<g class=\"drawing\" data-name=\"" + xmlText(s.drawing) + "\"><title>" + xmlText(s.drawing) +
               "</title>\n";
        drawingOpen = true;
        openDrawing = s.drawing;
      }
    }
    closeView();
    if (!s.view.empty()) {
      out += "<g class=\"view\" data-name=\"" + xmlText(s.view) + "\"><title>" + xmlText(s.view) + "</title>\n";
      viewOpen = true;
    }
    section = k;
  };

  for (const std::size_t k : order) {
    const DrawnShape& s = shapes_[k];
    if (s.section != section) openSection(s.section);
    if (layerOf[k] != layer) {
      closeLayer();
      out += "<g class=\"layer\" data-name=\"" + xmlText(s.style.layer) + "\"><title>" + xmlText(s.style.layer) +
             "</title>\n";
      layerOpen = true;
      layer = layerOf[k];
    }
    if (s.dimension != dimension) {
      closeDimension();
      if (s.dimension != 0) {
        out += "<g class=\"dimension\" data-element=\"" + std::to_string(s.dimension) + "\">\n";
        dimensionOpen = true;
        dimension = s.dimension;
      }
    }
    out += shapeElement(s, s.failed ? "#ff0000" : colourOf(s.style));
    if (s.failed) out += " data-failed=\"1\"";
    if (s.kind == DrawnKind::kText) {
      out += ">";
      if (s.failed) out += titleOf(s.style.element, s.message);
      out += xmlText(s.text) + "</text>\n";
    } else if (s.failed) {
      out += ">";
      out += titleOf(s.style.element, s.message);
      out += "</";
      out += (s.kind == DrawnKind::kLine     ? "line"
              : s.kind == DrawnKind::kCircle ? "circle"
              : s.kind == DrawnKind::kSpline ? (s.bezierDegree > 0 ? "path" : "polyline")
              : s.kind == DrawnKind::kHatch || s.kind == DrawnKind::kArrow ? "polygon"
              : s.kind == DrawnKind::kPolyline ? (s.closed ? "polygon" : "polyline")
              : s.kind == DrawnKind::kEllipse && s.full ? "ellipse"
                                                        : "path");
      out += ">\n";
    } else {
      out += "/>\n";
    }
  }
  closeDrawing();
  // Elements that failed before they had a place.
  if (!failures_.empty()) {
    out += "<g class=\"failed\" stroke=\"#ff0000\">\n";
    for (const FailedElement& f : failures_) {
      out += "<g class=\"failed-element\" data-element=\"" + std::to_string(f.element) + "\" data-message=\"" +
             std::to_string(f.message) + "\">" + titleOf(f.element, f.message) + "</g>\n";
    }
    out += "</g>\n";
  }
  out += "</g>\n</svg>\n";
  return out;
}

ConversionPicture* conversionPicture() { return recordSlot().get(); }

void startConversionPicture() { recordSlot() = std::make_unique<ConversionPicture>(); }

void stopConversionPicture() { recordSlot().reset(); }

int writeConversionPicture(const std::string& name, std::string& failure) {
  const ConversionPicture* record = conversionPicture();
  if (record == nullptr) return 0;
  OutputFile file;
  if (!file.create(name)) {
    failure = file.failureText();
    return -1;
  }
  if (!file.write(record->svg()) || !file.commit()) {
    failure = file.failureText();
    file.discard();
    return -1;
  }
  return 0;
}

std::string drawnColourText(int colour) {
  const AssignTables& tables = assignTables();
  for (const ColourDefinition& d : tables.colourDefinitions) {
    if (d.number != colour) continue;
    char text[8];
    const auto part = [](long v) { return static_cast<int>(std::clamp(v, 0L, 255L)); };
    std::snprintf(text, sizeof text, "#%02x%02x%02x", part(d.red), part(d.green), part(d.blue));
    return text;
  }
  // 1 black, 2 red, 3 green, 4 blue, 5 yellow, 6 magenta, 7 cyan, 8 white.
  static constexpr const char* kBasic[] = {"#000000", "#ff0000", "#00ff00", "#0000ff",
                                           "#ffff00", "#ff00ff", "#00ffff", "#ffffff"};
  if (colour >= 1 && colour <= 8) return kBasic[colour - 1];
  return "#000000";
}

// Fetchers of the curves and areas: point, line, circle, ellipse, spline,
// hatch and polygon forms, contour and plane part.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "elements/transform.h"
#include "support/assign_tables.h"
#include "support/trace.h"
#include "transfer/fetch_common.h"
#include "transfer/fetchers.h"

using namespace fetch_detail;

namespace {

// Highest spline degree taken from a file; the evaluation costs degree
// squared per sample.
constexpr std::int32_t kMaxSplineDegree = 25;
// Shortest value lines: "#0\n" for one number, "#0 0\n" for a point.
constexpr std::size_t kNumberLineBytes = 3;
constexpr std::size_t kPointLineBytes = 5;

double distance(const Point3& a, const Point3& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The circle through three points; the arc runs counter-clockwise from
// the first to the third point over the second.  false when they lie on a
// line.
bool circleThrough(const Point3& p1, const Point3& p2, const Point3& p3, TransferCircle& out) {
  const double d = 2.0 * (p1.x * (p2.y - p3.y) + p2.x * (p3.y - p1.y) + p3.x * (p1.y - p2.y));
  const double scale = std::max({distance(p1, p2), distance(p2, p3), distance(p1, p3)});
  if (!(std::fabs(d) > 1e-12 * scale * scale) || !std::isfinite(d)) return false;
  const double s1 = p1.x * p1.x + p1.y * p1.y;
  const double s2 = p2.x * p2.x + p2.y * p2.y;
  const double s3 = p3.x * p3.x + p3.y * p3.y;
  out.centre.x = (s1 * (p2.y - p3.y) + s2 * (p3.y - p1.y) + s3 * (p1.y - p2.y)) / d;
  out.centre.y = (s1 * (p3.x - p2.x) + s2 * (p1.x - p3.x) + s3 * (p2.x - p1.x)) / d;
  out.centre.z = p1.z;
  out.radius = distance(out.centre, p1);
  // d > 0: p1, p2, p3 counter-clockwise.
  out.start = d > 0 ? p1 : p3;
  out.end = d > 0 ? p3 : p1;
  return std::isfinite(out.radius);
}

void fullCircleAt(TransferCircle& out) {
  out.fullCircle = true;
  out.start = Point3{out.centre.x + out.radius, out.centre.y, out.centre.z};
  out.end = out.start;
}

// The point of the rational B-spline at parameter u of span k, by de Boor's
// algorithm on homogeneous coordinates.
Point3 splinePoint(const TransferSpline& s, std::size_t k, double u) {
  const std::size_t p = static_cast<std::size_t>(s.degree);
  double d[kMaxSplineDegree + 1][4];
  for (std::size_t j = 0; j <= p; ++j) {
    const Point3& c = s.controlPoints[j + k - p];
    const double w = s.weights[j + k - p];
    d[j][0] = c.x * w;
    d[j][1] = c.y * w;
    d[j][2] = c.z * w;
    d[j][3] = w;
  }
  for (std::size_t r = 1; r <= p; ++r) {
    for (std::size_t j = p; j >= r; --j) {
      const double low = s.knots[j + k - p];
      const double span = s.knots[j + 1 + k - r] - low;
      const double alpha = span > 0 ? (u - low) / span : 0.0;
      for (int c = 0; c < 4; ++c) d[j][c] = (1.0 - alpha) * d[j - 1][c] + alpha * d[j][c];
    }
  }
  const double w = d[p][3] != 0 ? d[p][3] : 1.0;
  return Point3{d[p][0] / w, d[p][1] / w, d[p][2] / w};
}

// The cubic through four equally spaced samples f0..f3 over [0, h], as
// a + b s + c s^2 + d s^3.
void cubicThrough(const double f[4], double h, double out[4]) {
  const double d1 = f[1] - f[0];
  const double d2 = f[2] - 2 * f[1] + f[0];
  const double d3 = f[3] - 3 * f[2] + 3 * f[1] - f[0];
  out[0] = f[0];
  out[1] = (3 * d1 - 1.5 * d2 + d3) / h;
  out[2] = (4.5 * d2 - 4.5 * d3) / (h * h);
  out[3] = 4.5 * d3 / (h * h * h);
}

// The piecewise polynomial form of the spline, one segment per knot span
// of non-zero length.
bool buildSegments(TransferSpline& s) {
  const std::size_t n = s.controlPoints.size();
  const std::size_t p = static_cast<std::size_t>(s.degree);
  s.pieceDegree = std::min<std::int32_t>(s.degree, 3);
  for (std::size_t k = p; k < n; ++k) {
    const double u0 = s.knots[k];
    const double u1 = s.knots[k + 1];
    if (!(u1 > u0)) continue;
    const double h = u1 - u0;
    double fx[4], fy[4], fz[4];
    for (int i = 0; i < 4; ++i) {
      const Point3 c = splinePoint(s, k, i == 3 ? u1 : u0 + h * i / 3.0);
      fx[i] = c.x;
      fy[i] = c.y;
      fz[i] = c.z;
    }
    TransferSpline::Segment segment;
    cubicThrough(fx, h, segment.x);
    cubicThrough(fy, h, segment.y);
    cubicThrough(fz, h, segment.z);
    if (s.breakpoints.empty()) s.breakpoints.push_back(u0);
    s.breakpoints.push_back(u1);
    s.segments.push_back(segment);
  }
  return !s.segments.empty();
}

}  // namespace

namespace fetch_detail {

int readLineBody(ValueReader& r, const std::string& keyword, TransferLine& out) {
  if (keyword != "line" && keyword != "d_line") return -99;
  out = TransferLine();
  out.keyword = keyword;
  readHead(r, out);
  r.pointXY(out.start);
  r.pointXY(out.end);
  readTail(r, out);
  return r.result();
}

int readCircleBody(ValueReader& r, const std::string& keyword, TransferCircle& out) {
  if (keyword != "circle" && keyword != "d_circle" && keyword != "d_fill_arc" && keyword != "d_arc_3p") return -99;
  out = TransferCircle();
  out.keyword = keyword;
  readHead(r, out);
  if (keyword == "circle") {
    r.pointXY(out.centre);
    r.real(out.radius);
    r.skip();
    r.token(out.arcKind);
    r.pointXY(out.start);
    r.pointXY(out.end);
    readTail(r, out);
    if (!r.ok()) return -1;
    out.radius = std::fabs(out.radius);
    if (out.arcKind.compare(0, 3, "cir") == 0) fullCircleAt(out);
    return 0;
  }
  if (keyword == "d_arc_3p") {
    Point3 p1, p2, p3;
    r.point(p1);
    r.point(p2);
    r.point(p3);
    readTail(r, out);
    if (!r.ok()) return -1;
    if (distance(p1, p3) == 0 && distance(p1, p2) > 0) {
      // First and last point together: the circle over the diameter p1 p2.
      out.centre = Point3{(p1.x + p2.x) / 2, (p1.y + p2.y) / 2, p1.z};
      out.radius = distance(p1, p2) / 2;
      fullCircleAt(out);
      return 0;
    }
    if (!circleThrough(p1, p2, p3, out)) {
      mfaWarning(r.code(), 630, Channel::kProtocol);
      return -1;
    }
    return 0;
  }
  // "d_circle", "d_fill_arc": centre, start and end.
  r.pointXY(out.centre);
  r.pointXY(out.start);
  r.pointXY(out.end);
  readTail(r, out);
  if (!r.ok()) return -1;
  out.filled = keyword == "d_fill_arc";
  out.radius = distance(out.centre, out.start);
  if (distance(out.start, out.end) <= 1e-9 * std::max(1.0, out.radius)) fullCircleAt(out);
  return 0;
}

bool hatchKindOf(std::string_view keyword, std::int32_t& form, const char*& label) {
  struct Kind {
    std::string_view keyword;
    const char* label;
    bool closed;
  };
  static constexpr Kind kKinds[] = {
      {"hatch", TransferLabel::kHatch, true},
      {"d_polyline", TransferLabel::kPolyline, false},
      {"d_fill_polygon", TransferLabel::kPolygon, true},
      {"d_multiline", TransferLabel::kMultiline, false},
      {"d_rectangle", TransferLabel::kBox, true},
      {"d_fill_rectangle", TransferLabel::kBox, true},
      {"d_triangle", TransferLabel::kTriangle, true},
      {"d_nonfill_triangle", TransferLabel::kTriangle, true},
  };
  for (const Kind& k : kKinds) {
    if (k.keyword == keyword) {
      // Copious data: 63 closed planar curve, 11 open planar polyline.
      form = k.closed ? 63 : 11;
      label = k.label;
      return true;
    }
  }
  return false;
}

int readHatchBody(ValueReader& r, const std::string& keyword, TransferHatch& out) {
  std::int32_t form = 0;
  const char* label = nullptr;
  if (!hatchKindOf(keyword, form, label)) return -99;
  out = TransferHatch();
  out.keyword = keyword;
  std::copy(label, label + 8, out.label);
  readHead(r, out);
  if (keyword == "hatch") readLayer(r, out);
  readStyleAndWidth(r, out);
  if (!r.ok()) return -1;
  out.closed = form == 63;
  out.filled = keyword == "hatch" || keyword == "d_fill_polygon" || keyword == "d_fill_rectangle" ||
               keyword == "d_triangle";
  if (keyword == "d_rectangle" || keyword == "d_fill_rectangle") {
    Point3 a, b;
    if (!r.point(a) || !r.point(b)) return -1;
    out.points = {a, Point3{b.x, a.y, a.z}, b, Point3{a.x, b.y, a.z}};
    return 0;
  }
  std::int32_t count = 3;
  if (keyword != "d_triangle" && keyword != "d_nonfill_triangle" && !r.integer(count)) return -1;
  if (!countFits(count, kPointLineBytes - 1)) return -1;
  out.points.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    Point3 p;
    if (!r.point(p)) return -1;
    out.points.push_back(p);
  }
  return 0;
}

}  // namespace fetch_detail

int fetchPoint(std::int32_t index, std::int32_t position, TransferPoint& out) {
  TraceScope t("hse200");
  return guarded("hse200", [&] {
    stamp(index, IgesType::kPoint, 0, TransferLabel::kPoint);
    // Points of an EDX file come with their record, as lines and circles do.
    if (copyStoredRecord(index, out)) return 0;
    if (!openRecord("hse200", position, {"point", "d_point"}, out)) return -99;
    ValueReader r("hse200");
    readHead(r, out);
    r.pointXY(out.point);
    if (out.keyword == "d_point") {
      r.integer(out.marker[0]);
      r.integer(out.marker[1]);
    }
    return r.result();
  });
}

int fetchLine(std::int32_t index, std::int32_t position, TransferLine& out) {
  TraceScope t("hse240");
  return guarded("hse240", [&] {
    stamp(index, IgesType::kLine, 0, TransferLabel::kLine);
    if (copyStoredRecord(index, out)) return 0;
    std::string keyword, identifier;
    if (!openElement(position, keyword, identifier)) return -99;
    if (debugAbove(98)) {
      std::printf("hse240_hole_line_datn : ID %s Offset %d Type   %s\n", identifier.c_str(),
                  static_cast<int>(position), keyword.c_str());
    }
    ValueReader r("hse240");
    const int rc = readLineBody(r, keyword, out);
    if (rc != 0) return rc;
    out.identifier = identifier;
    if (debugAbove(98)) std::printf("hse240_hole_line_datn : ok \n");
    return 0;
  });
}

int fetchCircle(std::int32_t index, std::int32_t position, TransferCircle& out) {
  TraceScope t("hse280");
  return guarded("hse280", [&] {
    stamp(index, IgesType::kCircularArc, 0, TransferLabel::kCircle);
    if (copyStoredRecord(index, out)) return 0;
    std::string keyword, identifier;
    if (!openElement(position, keyword, identifier)) return -99;
    debugHeader("hse280", identifier, position, keyword);
    ValueReader r("hse280");
    const int rc = readCircleBody(r, keyword, out);
    out.identifier = identifier;
    return rc;
  });
}

int fetchEllipse(std::int32_t index, std::int32_t position, TransferEllipse& out) {
  TraceScope t("hse320");
  return guarded("hse320", [&] {
    stamp(index, IgesType::kConicArc, 0, TransferLabel::kEllipse);
    if (!openRecord("hse320", position, {"ellips", "d_ellips", "d_arc_ellips"}, out)) return -99;
    ValueReader r("hse320");
    readHead(r, out);
    double axisAngle = 0;
    r.pointXY(out.centre);
    r.real(out.halfAxisA);
    r.real(out.halfAxisB);
    r.angle(axisAngle);
    r.angle(out.startAngle);
    r.angle(out.endAngle);
    readTail(r, out);
    if (!r.ok()) return -1;
    out.halfAxisA = std::fabs(out.halfAxisA);
    out.halfAxisB = std::fabs(out.halfAxisB);
    out.axisDirection[0] = std::cos(axisAngle);
    out.axisDirection[1] = std::sin(axisAngle);
    const double sweep = out.endAngle - out.startAngle;
    out.fullEllipse = std::fabs(sweep) < 1e-12 || std::fabs(sweep) >= 2.0 * kPi - 1e-12;
    if (out.fullEllipse) out.endAngle = out.startAngle;
    out.localStart = Point3{out.halfAxisA * std::cos(out.startAngle), out.halfAxisB * std::sin(out.startAngle), 0};
    out.localEnd = Point3{out.halfAxisA * std::cos(out.endAngle), out.halfAxisB * std::sin(out.endAngle), 0};
    return 0;
  });
}

int fetchSpline(std::int32_t index, std::int32_t position, TransferSpline& out) {
  TraceScope t("hse360");
  return guarded("hse360", [&] {
    stamp(index, IgesType::kParametricSpline, 0, TransferLabel::kSpline);
    if (!openRecord("hse360", position, {"spline"}, out)) return -99;
    ValueReader r("hse360");
    readHead(r, out);
    r.real(out.leadValues[0]);
    r.token(out.leadToken);
    r.real(out.leadValues[1]);
    r.token(out.form);
    if (!r.ok()) return -1;
    if (out.form != "non_periodic_urbs") {
      mfaError("hse360", 510, Channel::kProtocol);
      return -1;
    }
    std::int32_t count = 0;
    if (!r.integer(out.degree) || !r.integer(count)) return -1;
    if (out.degree < 1 || out.degree > kMaxSplineDegree || count <= out.degree) return -1;
    const std::int64_t knotCount = static_cast<std::int64_t>(count) + out.degree + 1;
    // Knots, control points and weights all follow.
    if (!countFits(knotCount + 2 * static_cast<std::int64_t>(count), kNumberLineBytes - 1))
      return -1;
    out.knots.resize(static_cast<std::size_t>(knotCount));
    for (double& k : out.knots) r.real(k);
    out.controlPoints.resize(static_cast<std::size_t>(count));
    for (Point3& p : out.controlPoints) r.point(p);
    out.weights.resize(static_cast<std::size_t>(count));
    for (double& w : out.weights) r.real(w);
    double width = 0;
    r.real(width);
    if (!r.ok()) return -1;
    out.lineWidth = widthNumber(width);
    for (std::size_t i = 1; i < out.knots.size(); ++i) {
      if (out.knots[i] < out.knots[i - 1]) return -1;  // knots must not descend
    }
    for (double w : out.weights) {
      if (!(w > 0)) return -1;
      if (w != out.weights.front()) out.rational = true;
    }
    return buildSegments(out) ? 0 : -1;
  });
}

int fetchHatch(std::int32_t index, std::int32_t position, TransferHatch& out) {
  TraceScope t("hse710");
  return guarded("hse710", [&] {
    std::string keyword, identifier;
    if (!openElement(position, keyword, identifier)) {
      stamp(index, IgesType::kCopiousData, 63, TransferLabel::kHatch);
      return -99;
    }
    debugHeader("hse710", identifier, position, keyword);
    std::int32_t form = 63;
    const char* label = TransferLabel::kHatch;
    if (!hatchKindOf(keyword, form, label)) {
      stamp(index, IgesType::kCopiousData, 63, TransferLabel::kHatch);
      std::printf("hse710 : Unbekannter CAD-Typ '%s'\n", keyword.c_str());
      return -99;
    }
    stamp(index, IgesType::kCopiousData, form, label);
    ValueReader r("hse710");
    const int rc = readHatchBody(r, keyword, out);
    out.identifier = identifier;
    return rc;
  });
}

int fetchContour(std::int32_t index, std::int32_t position, TransferContour& out) {
  TraceScope t("hse700");
  return guarded("hse700", [&] {
    stamp(index, IgesType::kCompositeCurve, 0, TransferLabel::kContour);
    if (!openRecord("hse700", position, {"contour", "contour_part"}, out)) return -99;
    ValueReader r("hse700");
    if (out.keyword == "contour") {
      readLayer(r, out);
      return r.result();
    }
    readHead(r, out);
    readLayer(r, out);
    r.token(out.orientationToken);
    if (!r.ok()) return -1;
    out.orientation = out.orientationToken == "outside" ? 0 : out.orientationToken == "inside" ? 1 : 2;
    return 0;
  });
}

int fetchPlanePart(std::int32_t index, std::int32_t position, TransferPlanePart& out) {
  TraceScope t("hse400");
  return guarded("hse400", [&] {
    stamp(index, IgesType::kSectionedArea, 0, TransferLabel::kPlanePart);
    if (!openRecord("hse400", position, {"plane_part"}, out)) return -99;
    ValueReader r("hse400");
    readHead(r, out, false);
    r.integer(out.contourCount);
    readLayer(r, out);
    r.token(out.hatchToken);
    r.real(out.hatchSpacing);
    r.angle(out.hatchAngle);
    if (!r.ok()) return -1;
    out.hatchKind = out.hatchToken == "hatch_single" ? 1 : out.hatchToken == "hatch_cross" ? 2 : 0;
    return 0;
  });
}

#include "drawingdb/annotation_forms.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "drawingdb/plane.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

using namespace plane;

// ---------------------------------------------------------------- MVIEW XDATA

RawTag xtag(std::int32_t code, double real) { return {code, TagType::Real, real, 0, {}}; }
RawTag xint(std::int32_t code, std::int64_t value) { return {code, TagType::Int16, 0, value, {}}; }
RawTag xtext(std::int32_t code, std::string text) { return {code, TagType::String, 0, 0, std::move(text)}; }

constexpr std::int32_t kAlwaysOn = 32768;  // set in every viewport of 2000 files

// Reads the MVIEW section (from its 1002 "{" on) into the viewport.
std::vector<std::string> readMview(Viewport& v, const std::vector<RawTag>& tags) {
  std::vector<Point3> points;
  std::vector<double> reals;
  std::vector<std::int64_t> ints;
  std::vector<std::string> frozen;
  for (const RawTag& t : tags) {
    const double real = t.type == TagType::Real ? t.real : static_cast<double>(t.integer);
    switch (t.code) {
      case 1010: points.push_back({real, 0, 0}); break;
      case 1020: if (!points.empty()) points.back().y = real; break;
      case 1030: if (!points.empty()) points.back().z = real; break;
      case 1040: reals.push_back(real); break;
      case 1070: ints.push_back(t.integer); break;
      case 1003: frozen.push_back(t.text); break;
      default: break;
    }
  }
  auto real = [&](std::size_t i, double& out) {
    if (i < reals.size()) out = reals[i];
  };
  auto integer = [&](std::size_t i) -> std::int64_t { return i < ints.size() ? ints[i] : 0; };
  if (!points.empty()) v.viewTarget = points[0];
  if (points.size() > 1) v.viewDirection = points[1];
  real(0, v.twist);
  real(1, v.viewHeight);
  real(2, v.viewCenter.x);
  real(3, v.viewCenter.y);
  real(4, v.lensLength);
  real(5, v.frontClip);
  real(6, v.backClip);
  real(7, v.snapAngle);
  real(8, v.snapBase.x);
  real(9, v.snapBase.y);
  real(10, v.snapSpacing.x);
  real(11, v.snapSpacing.y);
  real(12, v.gridSpacing.x);
  real(13, v.gridSpacing.y);
  // ints[0] is the layout version of the XDATA.
  if (ints.size() > 2) v.circleZoom = static_cast<std::int32_t>(std::clamp<std::int64_t>(ints[2], 1, 20000));
  const std::int64_t isoPair = integer(8);
  v.flags = static_cast<std::int32_t>((integer(1) & 31) | (integer(3) != 0 ? 128 : 0) | ((integer(4) & 3) << 5) |
                                      (integer(5) != 0 ? 256 : 0) | (integer(6) != 0 ? 512 : 0) |
                                      (integer(7) != 0 ? 1024 : 0) | (integer(9) != 0 ? 2048 : 0) |
                                      (isoPair == 1 ? 4096 : isoPair == 2 ? 8192 : 0) | kAlwaysOn);
  return frozen;
}

}  // namespace

std::vector<RawTag> viewportXdata(const Viewport& v, const std::vector<std::string>& frozenLayerNames) {
  std::vector<RawTag> x;
  x.push_back(xtext(1001, "ACAD"));
  x.push_back(xtext(1000, "MVIEW"));
  x.push_back(xtext(1002, "{"));
  x.push_back(xint(1070, 16));
  for (const Point3& p : {v.viewTarget, v.viewDirection}) {
    x.push_back(xtag(1010, p.x));
    x.push_back(xtag(1020, p.y));
    x.push_back(xtag(1030, p.z));
  }
  for (double d : {v.twist, v.viewHeight, v.viewCenter.x, v.viewCenter.y, v.lensLength, v.frontClip, v.backClip})
    x.push_back(xtag(1040, d));
  const std::int32_t f = v.flags;
  for (std::int64_t n : {std::int64_t{f & 31}, std::int64_t{v.circleZoom}, std::int64_t{(f & 128) != 0},
                         std::int64_t{(f >> 5) & 3}, std::int64_t{(f & 256) != 0}, std::int64_t{(f & 512) != 0},
                         std::int64_t{(f & 1024) != 0}, std::int64_t{(f & 4096) != 0 ? 1 : (f & 8192) != 0 ? 2 : 0}})
    x.push_back(xint(1070, n));
  for (double d : {v.snapAngle, v.snapBase.x, v.snapBase.y, v.snapSpacing.x, v.snapSpacing.y, v.gridSpacing.x,
                   v.gridSpacing.y})
    x.push_back(xtag(1040, d));
  x.push_back(xint(1070, (f & 2048) != 0));
  x.push_back(xtext(1002, "{"));
  for (const std::string& n : frozenLayerNames) x.push_back(xtext(1003, n));
  x.push_back(xtext(1002, "}"));
  x.push_back(xtext(1002, "}"));
  return x;
}

std::vector<std::string> settleAfterRead(Entity& e) {
  if (auto* m = get_if<MText>(&e.data)) {
    // An angle counts only where no direction vector was given.
    if (m->rotation != 0 && m->xAxis == Point3{1, 0, 0} && std::isfinite(m->rotation)) {
      // Files disagree on the unit; angles beyond a full turn in radians
      // are degrees.
      const double radians = std::fabs(m->rotation) > 6.2832 ? m->rotation * std::numbers::pi / 180 : m->rotation;
      m->xAxis = {std::cos(radians), std::sin(radians), 0};
    }
    m->rotation = 0;
    return {};
  }
  auto* v = get_if<Viewport>(&e.data);
  if (v == nullptr) return {};
  if (e.common.xdata().empty()) return {};
  std::vector<RawTag>& x = e.common.extras().xdata;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    if (x[i].code != 1001 || x[i].text != "ACAD" || x[i + 1].code != 1000 || x[i + 1].text != "MVIEW") continue;
    std::size_t end = i + 2;
    while (end < x.size() && x[end].code != 1001) ++end;
    const std::vector<RawTag> section(x.begin() + static_cast<std::ptrdiff_t>(i + 2),
                                      x.begin() + static_cast<std::ptrdiff_t>(end));
    x.erase(x.begin() + static_cast<std::ptrdiff_t>(i), x.begin() + static_cast<std::ptrdiff_t>(end));
    return readMview(*v, section);
  }
  return {};
}

// ---------------------------------------------------------------- MTEXT text

std::string mtextPlainText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '{' || c == '}') continue;
    if (c != '\\' || i + 1 >= s.size()) {
      out.push_back(c);
      continue;
    }
    const char d = s[++i];
    switch (d) {
      case 'P': case 'X': case 'N': out.push_back('\n'); break;
      case '~': out.push_back(' '); break;
      case '\\': case '{': case '}': out.push_back(d); break;
      case 'L': case 'l': case 'O': case 'o': case 'K': case 'k': break;
      case 'U': case 'M':
        // Character escapes stay as they are for the text that carries them.
        out.push_back('\\');
        out.push_back(d);
        break;
      case 'S': {
        // Stacked text "\Sa^b;" reads a/b.
        for (++i; i < s.size() && s[i] != ';'; ++i) out.push_back(s[i] == '^' || s[i] == '#' ? '/' : s[i]);
        break;
      }
      case 'A': case 'C': case 'c': case 'F': case 'f': case 'H': case 'h': case 'Q': case 'T': case 'W': case 'p':
        // A code with a value up to its semicolon.
        while (i < s.size() && s[i] != ';') ++i;
        break;
      default: out.push_back(d); break;
    }
  }
  return out;
}

// ---------------------------------------------------------------- SPLINE points

namespace {

constexpr std::int32_t kMostDegree = 25;  // beyond it the control polygon is drawn
constexpr int kStepsPerSpan = 8;

// A point of the NURBS curve at `t` in span `k` (de Boor's scheme on
// weighted points).
Point3 curvePoint(const Spline& s, double t, std::size_t k) {
  const auto p = static_cast<std::size_t>(s.degree);
  const bool weighted = s.weights.size() == s.controlPoints.size();
  std::vector<Point3> d(p + 1);
  std::vector<double> w(p + 1);
  for (std::size_t j = 0; j <= p; ++j) {
    const std::size_t i = j + k - p;
    w[j] = weighted ? s.weights[i] : 1.0;
    d[j] = scale(s.controlPoints[i], w[j]);
  }
  for (std::size_t r = 1; r <= p; ++r)
    for (std::size_t j = p; j >= r; --j) {
      const double lo = s.knots[j + k - p], hi = s.knots[j + 1 + k - r];
      const double a = hi > lo ? (t - lo) / (hi - lo) : 0.0;
      d[j] = add(scale(d[j - 1], 1 - a), scale(d[j], a));
      w[j] = (1 - a) * w[j - 1] + a * w[j];
    }
  return w[p] != 0 ? scale(d[p], 1 / w[p]) : d[p];
}

bool curveIsSound(const Spline& s) {
  const std::size_t n = s.controlPoints.size();
  if (s.degree < 1 || s.degree > kMostDegree || n < static_cast<std::size_t>(s.degree) + 1) return false;
  if (s.knots.size() != n + static_cast<std::size_t>(s.degree) + 1) return false;
  for (std::size_t i = 0; i < s.knots.size(); ++i)
    if (!std::isfinite(s.knots[i]) || (i > 0 && s.knots[i] < s.knots[i - 1])) return false;
  for (double w : s.weights)
    if (!(w > 0) || !std::isfinite(w)) return false;
  return s.knots[n] > s.knots[static_cast<std::size_t>(s.degree)];
}

}  // namespace

std::vector<Point3> splinePoints(const Spline& s) {
  if (!curveIsSound(s)) return s.fitPoints.size() >= 2 ? s.fitPoints : s.controlPoints;
  const auto p = static_cast<std::size_t>(s.degree);
  const std::size_t n = s.controlPoints.size();
  std::vector<Point3> out;
  std::size_t last = p;
  for (std::size_t k = p; k < n; ++k) {
    const double a = s.knots[k], b = s.knots[k + 1];
    if (!(b > a)) continue;
    last = k;
    for (int step = 0; step < kStepsPerSpan; ++step) out.push_back(curvePoint(s, a + (b - a) * step / kStepsPerSpan, k));
  }
  out.push_back(curvePoint(s, s.knots[n], last));
  return out;
}

// ---------------------------------------------------------------- older forms

bool needsOlderForm(const Entity& e, Release release) {
  switch (e.kind) {
    case EntityKind::Ellipse:
    case EntityKind::Spline:
    case EntityKind::MText:
    case EntityKind::Leader:
    case EntityKind::Viewport: return !entitySpec(e.kind).in.has(release);
    default: return false;
  }
}

namespace {

Entity like(const Entity& e, EntityKind kind) {
  Entity out = makeEntity(kind);
  out.common.layer = e.common.layer;
  out.common.linetype = e.common.linetype;
  out.common.colour = e.common.colour;
  out.common.lineweight = e.common.lineweight;
  out.common.linetypeScale = e.common.linetypeScale;
  out.common.invisible = e.common.invisible;
  out.common.paperSpace = e.common.paperSpace;
  return out;
}

// A polyline through world points: a 3D polyline from R10 on, a 2D one
// (the releases are 2D) before.
Entity polylineThrough(const Entity& e, const std::vector<Point3>& points, bool closed, Release release) {
  Entity out = like(e, EntityKind::Polyline);
  Polyline& p = get<Polyline>(out.data);
  const bool in3d = release >= Release::R10;
  p.flags = (in3d ? 8 : 0) | (closed ? 1 : 0);
  for (const Point3& at : points) {
    Vertex v;
    v.location = in3d ? at : Point3{at.x, at.y, 0};
    v.flags = in3d ? 32 : 0;
    p.vertices.push_back(v);
  }
  return out;
}

// SPLINE before R13: a polyline along the curve.
std::vector<Entity> splineForm(const Entity& e, const Spline& s, Release release) {
  const std::vector<Point3> points = splinePoints(s);
  if (points.empty()) return {};
  const bool closedThroughFitPoints = (s.flags & 1) != 0 && points.size() == s.fitPoints.size();
  return {polylineThrough(e, points, closedThroughFitPoints, release)};
}

// ELLIPSE before R13: a polyline along the curve, 64 segments to a full
// turn (at least 4), closed when the ellipse is whole.
std::vector<Entity> ellipseForm(const Entity& e, const Ellipse& el, Release release) {
  constexpr double kTurn = 2 * std::numbers::pi;
  const Point3 minor = scale(cross(unit(el.extrusion), el.majorAxis), el.ratio);
  const double start = el.startParameter;
  double span = el.endParameter - start;
  if (!std::isfinite(span)) return {};
  if (span <= 0) span = std::fmod(span, kTurn) + kTurn;  // the end lies a turn on
  span = std::min(span, kTurn);
  const double end = start + span;
  const bool whole = span >= kTurn - 1e-12;
  const int steps = std::max(4, static_cast<int>(std::ceil((end - start) / kTurn * 64)));
  std::vector<Point3> points;
  for (int i = 0; i <= steps - (whole ? 1 : 0); ++i) {
    const double t = start + (end - start) * i / steps;
    points.push_back(add(el.center, add(scale(el.majorAxis, std::cos(t)), scale(minor, std::sin(t)))));
  }
  return {polylineThrough(e, points, whole, release)};
}

// The size of a dimension style's arrows in drawing units.
double arrowSize(const Database& db, std::string_view style) {
  if (const Record<DimStyle>* d = db.dimstyles.find(style)) return d->data.arrowSize * d->data.scale;
  return db.header.real("$DIMASZ") * db.header.real("$DIMSCALE");
}

// A smooth curve through every point (a Catmull-Rom curve, its end
// segments with the ends doubled): `kStepsPerSpan` segments between two
// points.
std::vector<Point3> smoothThrough(const std::vector<Point3>& p) {
  if (p.size() < 3) return p;
  std::vector<Point3> out;
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    const Point3 a = p[i == 0 ? 0 : i - 1], b = p[i], c = p[i + 1], d = p[i + 2 < p.size() ? i + 2 : i + 1];
    for (int step = 0; step < kStepsPerSpan; ++step) {
      const double t = static_cast<double>(step) / kStepsPerSpan, t2 = t * t, t3 = t2 * t;
      // 0.5 * (2b + (c - a) t + (2a - 5b + 4c - d) t^2 + (3b - a - 3c + d) t^3)
      const Point3 q = add(add(scale(b, 2), scale(sub(c, a), t)),
                           add(scale(add(sub(scale(a, 2), scale(b, 5)), sub(scale(c, 4), d)), t2),
                               scale(add(sub(scale(b, 3), a), sub(d, scale(c, 3))), t3)));
      out.push_back(scale(q, 0.5));
    }
  }
  out.push_back(p.back());
  return out;
}

// LEADER before R13: its path as a polyline through the vertices, along a
// smooth curve through them where the path is a spline, and, when it has
// one, its arrow as a filled triangle at the first vertex in the size its
// dimension style gives arrows.  The annotation is an entity of its own
// and is written in its own older form.
std::vector<Entity> leaderForm(const Entity& e, const Leader& l, const Database& db, Release release) {
  if (l.vertices.empty()) return {};
  std::vector<Entity> out{
      polylineThrough(e, l.pathType == 1 ? smoothThrough(l.vertices) : l.vertices, false, release)};
  if (l.colour != 256 && e.common.colour == 256) out[0].common.colour = l.colour;
  const double size = arrowSize(db, l.dimensionStyle);
  if (l.arrowhead == 0 || l.vertices.size() < 2 || !(size > 0) || !std::isfinite(size)) return out;
  const Ocs ocs = ocsOf(l.normal);
  const Point3 tip = toOcs(ocs, l.vertices[0]);
  const Point3 along = unit(sub(toOcs(ocs, l.vertices[1]), tip));
  if (length(along) == 0) return out;
  const Point3 across{-along.y * size / 6, along.x * size / 6, 0};
  const Point3 base = add(tip, scale(along, size));
  Entity arrow = like(out[0], EntityKind::Solid);
  Solid& s = get<Solid>(arrow.data);
  s.corner1 = tip;
  s.corner2 = add(base, across);
  s.corner3 = sub(base, across);
  s.corner4 = s.corner3;
  for (Point3* c : {&s.corner2, &s.corner3, &s.corner4}) c->z = tip.z;
  s.extrusion = ocs.z;
  out.push_back(std::move(arrow));
  return out;
}

// The lines of a text, none longer than what files before R13 hold in
// one value (255 bytes): a longer line breaks at its last blank before
// the limit, else at the limit (never inside a UTF-8 character).
std::vector<std::string> textLines(std::string_view plain) {
  constexpr std::size_t kMost = 250;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= plain.size()) {
    std::size_t end = plain.find('\n', start);
    if (end == std::string_view::npos) end = plain.size();
    std::string_view line = plain.substr(start, end - start);
    while (line.size() > kMost) {
      std::size_t cut = line.rfind(' ', kMost);
      if (cut == std::string_view::npos || cut == 0) {
        cut = kMost;
        while (cut > 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      }
      lines.emplace_back(line.substr(0, cut));
      line.remove_prefix(cut);
      if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    }
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

// MTEXT before R13: one TEXT per line of its plain text, at the standard
// spacing of 5/3 of the text height times the line spacing factor, placed
// so the block of lines stands at the attachment point as the paragraph
// did.  The reference width does not wrap lines: where the words would
// break depends on the font.
std::vector<Entity> mtextForm(const Entity& e, const MText& m) {
  const std::vector<std::string> lines = textLines(mtextPlainText(m.value));
  const Ocs ocs = ocsOf(m.extrusion);
  const Point3 origin = toOcs(ocs, m.insertion);
  Point3 dir = unit(toOcs(ocs, m.xAxis));
  dir.z = 0;
  dir = unit(dir);
  if (length(dir) == 0) dir = {1, 0, 0};
  const Point3 up{-dir.y, dir.x, 0};
  const double spacing = m.height * 5.0 / 3.0 * (m.lineSpacing > 0 ? m.lineSpacing : 1.0);
  const int attachment = std::clamp(m.attachment, 1, 9);
  const int column = (attachment - 1) % 3, row = (attachment - 1) / 3;
  const double total = m.height + spacing * static_cast<double>(lines.size() - 1);
  const double top = row == 0 ? 0 : row == 1 ? total / 2 : total;  // of the first line above the attachment point
  std::vector<Entity> out;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].empty()) continue;
    Entity t = like(e, EntityKind::Text);
    Text& text = get<Text>(t.data);
    const double down = m.height - top + spacing * static_cast<double>(k);
    text.insertion = sub(origin, scale(up, down));
    text.alignment = text.insertion;
    text.height = m.height;
    text.value = lines[k];
    text.style = m.style;
    text.rotation = std::atan2(dir.y, dir.x) * 180 / std::numbers::pi;
    text.horizontal = column;  // 0 left, 1 centre, 2 right
    text.extrusion = ocs.z;
    out.push_back(std::move(t));
  }
  return out;
}

// VIEWPORT before R11: those releases have no paper space, so no view
// onto model space; the frame of the viewport is drawn as a closed
// polyline where it stood.  The viewport with id 1 is paper space itself
// and has no frame.
std::vector<Entity> viewportForm(const Entity& e, const Viewport& v, Release release) {
  if (v.id == 1 || !(v.width > 0) || !(v.height > 0)) return {};
  const double w = v.width / 2, h = v.height / 2;
  const Point3 c = v.center;
  Entity out = polylineThrough(e, {{c.x - w, c.y - h, c.z}, {c.x + w, c.y - h, c.z}, {c.x + w, c.y + h, c.z},
                                   {c.x - w, c.y + h, c.z}},
                               true, release);
  get<Polyline>(out.data).flags &= 1;  // a plane frame: a 2D polyline
  for (Vertex& vx : get<Polyline>(out.data).vertices) {
    vx.flags = 0;
    vx.location.z = 0;
  }
  get<Polyline>(out.data).origin.z = c.z;
  return {out};
}

}  // namespace

std::vector<Entity> olderForm(const Entity& e, const Database& db, Release release) {
  if (!needsOlderForm(e, release)) return {};
  if (const auto* el = get_if<Ellipse>(&e.data)) return ellipseForm(e, *el, release);
  if (const auto* s = get_if<Spline>(&e.data)) return splineForm(e, *s, release);
  if (const auto* m = get_if<MText>(&e.data)) return mtextForm(e, *m);
  if (const auto* l = get_if<Leader>(&e.data)) return leaderForm(e, *l, db, release);
  if (const auto* v = get_if<Viewport>(&e.data)) return viewportForm(e, *v, release);
  return {};
}

}  // namespace drawingdb

#include "dwg/entity_mapper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <variant>

#include "drawingdb/dimension_block.h"
#include "dwg/graph_attr.h"
#include "dwg/spline_fit.h"
#include "dxf_in/dxf_mapping.h"
#include "elements/element_table.h"
#include "iges_in/iges_annotation.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_structure.h"
#include "support/ascii.h"
#include "support/assign_tables.h"
#include "support/graph_components.h"
#include "support/messages.h"
#include "support/trace.h"

namespace db = drawingdb;

namespace {

constexpr int kMsgNoMemory = 370;
constexpr int kMsgSelfContaining = 1322;

using namespace DxfValues;

// Text flags: generation 2 backwards, 4 upside down; attribute flags 1
// invisible, 2 constant.
constexpr int kBackwards = 2;
constexpr int kUpsideDown = 4;
constexpr int kAttributeInvisible = 1;
constexpr int kAttributeConstant = 2;
// Polyline flags.
constexpr int kPolyClosed = 1;
constexpr int kPolySplineFit = 4;
constexpr int kPoly3d = 8;
constexpr int kPolyMesh = 16;
constexpr int kPolyface = 64;
// Vertex flags: 8 added by curve fitting, 16 spline frame point, 64
// polyface position, 128 polyface face.
constexpr int kVertexFitted = 8;
constexpr int kVertexFrame = 16;
constexpr int kVertexPolyfacePosition = 64;
constexpr int kVertexFace = 128;
// Hatch boundary path flag: a polyline loop.
constexpr int kHatchPolylinePath = 2;
// Fill patterns of a sectioned area: single lines, crossed lines.
constexpr int kPatternSingle = 1;
constexpr int kPatternCross = 16;

Point3 pt(const db::Point3& p) { return Point3{p.x, p.y, p.z}; }

template <typename R>
R* newRecord(MapContext& c, std::int32_t type, std::int32_t form, std::int32_t& index) {
  auto rec = std::make_unique<R>();
  R* out = rec.get();
  index = c.sink.add(type, form, std::move(rec));
  return index > 0 ? out : nullptr;
}

// A new element of the entity itself.
template <typename R>
R* ownRecord(MapContext& c, std::int32_t type, std::int32_t form) {
  std::int32_t index = 0;
  R* rec = newRecord<R>(c, type, form, index);
  if (rec != nullptr) c.made.own.push_back(index);
  return rec;
}

// The matrix of an object coordinate system, when the normal is not the z
// axis; on the last element made.
void objectSystem(MapContext& c, std::int32_t index, const db::Point3& normal) {
  if (normal.x == 0.0 && normal.y == 0.0 && normal.z > 0.0) return;  // the world's own system
  Transform m;
  if (arbitraryAxis(pt(normal), m)) c.sink.setMatrix(index, m);
}

std::int32_t lastOwn(const MapContext& c) { return c.made.own.empty() ? 0 : c.made.own.back(); }

// An open (form 11, or 12 in space) or closed (63) polyline of points.
int copiousPolyline(MapContext& c, std::vector<Point3> points, bool closed, bool space) {
  if (points.size() < 2) return -1;
  if (closed && points.size() > 2) points.push_back(points.front());
  const int form = closed && points.size() > 3 && !space ? 63 : space ? 12 : 11;
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kCopiousData, form);
  if (rec == nullptr) return -1;
  copiousValues(points, rec->values);
  return 0;
}

// A member (a line, an arc, a conic, a spline) of the composite curve
// `contour`, physically dependent on it.
std::int32_t member(MapContext& c, std::int32_t contour, std::int32_t type, std::int32_t form,
                    std::vector<double> values) {
  std::int32_t index = 0;
  auto* rec = newRecord<GeometryRecord>(c, type, form, index);
  if (rec == nullptr) return 0;
  rec->values = std::move(values);
  c.sink.setDependent(index);
  c.made.members.push_back(index);
  c.sink.link(contour, index);
  return index;
}

// A polyline whose segments may be arcs: a composite curve (102) of its
// lines and arcs, or, without arcs, copious data.
int bulgePolyline(MapContext& c, const std::vector<DxfVertex>& points, bool closed) {
  if (points.empty()) return -1;
  if (!hasBulge(points, closed)) {
    std::vector<Point3> plain = polylinePoints(points, false);
    if (plain.size() == 1) plain.push_back(plain.front());
    return copiousPolyline(c, std::move(plain), closed, false);
  }
  const std::size_t n = points.size();
  const std::size_t segments = closed && n > 1 ? n : n - 1;
  auto* rec = ownRecord<CompositeRecord>(c, IgesType::kCompositeCurve, 0);
  if (rec == nullptr) return -1;
  const std::int32_t contour = lastOwn(c);
  for (std::size_t k = 0; k < segments; ++k) {
    std::int32_t type = 0;
    std::vector<double> values;
    if (!segmentValues(points[k].p, points[(k + 1) % n].p, points[k].bulge, type, values)) continue;
    const std::int32_t m =
        member(c, contour, type, type == IgesType::kCircularArc ? 1 : 0, std::move(values));
    if (m == 0) break;
    rec->constituents.push_back(m);
  }
  return 0;
}

// The conic (104 form 1) of an ellipse in its own system: the major axis
// along x, centre at the origin, from parameter t0 to t1
// counterclockwise; the system is the element's matrix.
std::vector<double> ellipseValues(double a, double b, double t0, double t1) {
  return {1.0 / (a * a), 0.0,           1.0 / (b * b),     0.0, 0.0, -1.0, 0.0,
          a * std::cos(t0), b * std::sin(t0), a * std::cos(t1), b * std::sin(t1)};
}

// The system of an ellipse: centre, major axis direction, normal.
bool ellipseSystem(const db::Point3& centre, const db::Point3& major, const db::Point3& normal, Transform& out,
                   double& a) {
  a = std::sqrt(major.x * major.x + major.y * major.y + major.z * major.z);
  const double nl = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  if (!(a > 0.0) || !(nl > 0.0) || !std::isfinite(a) || !std::isfinite(nl)) return false;
  const double ux = major.x / a, uy = major.y / a, uz = major.z / a;
  const double nx = normal.x / nl, ny = normal.y / nl, nz = normal.z / nl;
  // v = n x u
  const double vx = ny * uz - nz * uy, vy = nz * ux - nx * uz, vz = nx * uy - ny * ux;
  out = axesAt(pt(centre), Point3{ux, uy, uz}, Point3{vx, vy, vz}, Point3{nx, ny, nz});
  return true;
}

// ---------------------------------------------------------------------------
// Geometry

int mapLine(MapContext& c, const db::Entity& e) {
  const auto& l = db::get<db::Line>(e.data);
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kLine, 0);
  if (rec == nullptr) return -1;
  rec->values = {l.start.x, l.start.y, l.start.z, l.end.x, l.end.y, l.end.z};
  return 0;
}

int mapPoint(MapContext& c, const db::Entity& e) {
  const auto& p = db::get<db::PointEntity>(e.data);
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kPoint, 0);
  if (rec == nullptr) return -1;
  rec->values = {p.location.x, p.location.y, p.location.z};
  return 0;
}

int circularArc(MapContext& c, const db::Point3& centre, double r, double a1, double a2, int form,
                const db::Point3& normal) {
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kCircularArc, form);
  if (rec == nullptr) return -1;
  rec->values = {centre.z, centre.x, centre.y, centre.x + r * std::cos(a1), centre.y + r * std::sin(a1),
                 centre.x + r * std::cos(a2), centre.y + r * std::sin(a2)};
  objectSystem(c, lastOwn(c), normal);
  return 0;
}

int mapCircle(MapContext& c, const db::Entity& e) {
  const auto& k = db::get<db::Circle>(e.data);
  return circularArc(c, k.center, k.radius, 0.0, 0.0, 0, k.extrusion);
}

int mapArc(MapContext& c, const db::Entity& e) {
  const auto& a = db::get<db::Arc>(e.data);
  return circularArc(c, a.center, a.radius, a.startAngle * kRadiansPerDegree, a.endAngle * kRadiansPerDegree, 1,
                     a.extrusion);
}

int mapEllipse(MapContext& c, const db::Entity& e) {
  const auto& el = db::get<db::Ellipse>(e.data);
  Transform system;
  double a = 0.0;
  const double ratio = el.ratio;
  if (!ellipseSystem(el.center, el.majorAxis, el.extrusion, system, a) || !(ratio > 0.0) || !std::isfinite(ratio))
    return -1;
  double t0 = el.startParameter, t1 = el.endParameter;
  // A whole ellipse starts and ends at the end of its major axis.
  if (std::fabs(std::fabs(t1 - t0) - 2.0 * kPi) < 1e-9) t0 = t1 = 0.0;
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kConicArc, 1);
  if (rec == nullptr) return -1;
  rec->values = ellipseValues(a, a * ratio, t0, t1);
  c.sink.setMatrix(lastOwn(c), system);
  return 0;
}

int mapSpline(MapContext& c, const db::Entity& e) {
  const auto& s = db::get<db::Spline>(e.data);
  std::vector<Point3> points;
  if (s.controlPoints.size() >= 2) {
    for (const db::Point3& p : s.controlPoints) points.push_back(pt(p));
    auto* rec = ownRecord<GeometryRecord>(c, IgesType::kBSplineCurve, 0);
    if (rec == nullptr) return -1;
    splineValues(points, s.degree, s.knots, s.weights, (s.flags & 8) != 0, (s.flags & 1) != 0, (s.flags & 2) != 0,
                 pt(s.normal), rec->values);
    return 0;
  }
  // A spline by its fit points only: the cubic curve through them that
  // CAD programs fit; a closed one, or one that no curve fits, the
  // polyline through them.
  FittedSpline fitted;
  if ((s.flags & 1) == 0 && splineThroughFitPoints(s.fitPoints, s.startTangent, s.endTangent, fitted)) {
    for (const db::Point3& p : fitted.controls) points.push_back(pt(p));
    auto* rec = ownRecord<GeometryRecord>(c, IgesType::kBSplineCurve, 0);
    if (rec == nullptr) return -1;
    splineValues(points, 3, fitted.knots, {}, (s.flags & 8) != 0, false, false, pt(s.normal), rec->values);
    return 0;
  }
  for (const db::Point3& p : s.fitPoints) points.push_back(pt(p));
  return copiousPolyline(c, std::move(points), (s.flags & 1) != 0, true);
}

int mapLwPolyline(MapContext& c, const db::Entity& e) {
  const auto& l = db::get<db::LwPolyline>(e.data);
  std::vector<DxfVertex> points;
  points.reserve(l.vertices.size());
  for (const db::LwVertex& v : l.vertices) points.push_back(DxfVertex{Point3{v.location.x, v.location.y, l.elevation}, v.bulge});
  if (bulgePolyline(c, points, (l.flags & kPolyClosed) != 0) != 0) return -1;
  objectSystem(c, lastOwn(c), l.extrusion);
  return 0;
}

// The rows of a polygon mesh (M rows of N vertices), each an open polyline
// in space (closed when the mesh closes in N).
int meshRows(MapContext& c, const db::Polyline& p) {
  const std::size_t m = static_cast<std::size_t>(std::max(p.meshM, 0));
  const std::size_t n = static_cast<std::size_t>(std::max(p.meshN, 0));
  if (m == 0 || n == 0 || m > p.vertices.size() / n) return -1;
  for (std::size_t row = 0; row < m; ++row) {
    std::vector<Point3> points;
    for (std::size_t k = 0; k < n; ++k) points.push_back(pt(p.vertices[row * n + k].location));
    if (copiousPolyline(c, std::move(points), (p.flags & 32) != 0, true) != 0) return -1;
  }
  return 0;
}

// The faces of a polyface mesh, each a closed polyline in space through
// the positions its face record names (1-based, negative: edge hidden).
int polyfaceFaces(MapContext& c, const db::Polyline& p) {
  std::vector<Point3> positions;
  for (const db::Vertex& v : p.vertices)
    if ((v.flags & kVertexPolyfacePosition) != 0) positions.push_back(pt(v.location));
  int faces = 0;
  for (const db::Vertex& v : p.vertices) {
    if ((v.flags & kVertexFace) == 0 || (v.flags & kVertexPolyfacePosition) != 0) continue;
    std::vector<Point3> outline;
    for (std::int32_t f : {v.face1, v.face2, v.face3, v.face4}) {
      const std::int32_t k = f < 0 ? -f : f;
      if (k >= 1 && static_cast<std::size_t>(k) <= positions.size()) outline.push_back(positions[static_cast<std::size_t>(k - 1)]);
    }
    if (outline.size() >= 2 && copiousPolyline(c, std::move(outline), true, true) == 0) ++faces;
  }
  return faces > 0 ? 0 : -1;
}

int mapPolyline(MapContext& c, const db::Entity& e) {
  const auto& p = db::get<db::Polyline>(e.data);
  if ((p.flags & kPolyMesh) != 0) return meshRows(c, p);
  if ((p.flags & kPolyface) != 0) return polyfaceFaces(c, p);
  const bool closed = (p.flags & kPolyClosed) != 0;
  const bool space = (p.flags & kPoly3d) != 0;
  std::vector<DxfVertex> points, frame;
  for (const db::Vertex& v : p.vertices) {
    DxfVertex b{pt(v.location), v.bulge};
    if (!space) b.p.z = p.origin.z;
    if ((v.flags & kVertexFrame) != 0) frame.push_back(b);
    else if ((v.flags & kVertexFitted) == 0 || (p.flags & kPolySplineFit) == 0) points.push_back(b);
  }
  if ((p.flags & kPolySplineFit) != 0) {
    // A spline fit keeps its frame (control) points; the fitted points are
    // the curve's approximation.
    const std::vector<DxfVertex>& controls = frame.empty() ? points : frame;
    if (controls.size() >= 2) {
      const std::vector<Point3> cp = polylinePoints(controls, false);
      auto* rec = ownRecord<GeometryRecord>(c, IgesType::kBSplineCurve, 0);
      if (rec == nullptr) return -1;
      const int degree = c.db.header.integer("$SPLINETYPE") == 5 ? 2 : 3;
      splineValues(cp, degree, {}, {}, !space, closed, closed, Point3{0.0, 0.0, 1.0}, rec->values);
      if (!space) objectSystem(c, lastOwn(c), p.extrusion);
      return 0;
    }
  }
  if (points.empty()) points = frame;
  if (space) return copiousPolyline(c, polylinePoints(points, false), closed, true);
  if (bulgePolyline(c, points, closed) != 0) return -1;
  objectSystem(c, lastOwn(c), p.extrusion);
  return 0;
}

// SOLID and TRACE: the outline through the corners 1, 2, 4, 3 (a triangle
// repeats its third corner as the fourth), closed; copious data of IP 1
// (x, y pairs at one z) in the object system.
int mapSolid(MapContext& c, const db::Entity& e) {
  const auto& s = db::get<db::Solid>(e.data);
  std::vector<db::Point3> outline{s.corner1, s.corner2, s.corner4};
  if (s.corner4.x != s.corner3.x || s.corner4.y != s.corner3.y) outline.push_back(s.corner3);
  outline.push_back(s.corner1);
  auto* rec = ownRecord<GeometryRecord>(c, IgesType::kCopiousData, 63);
  if (rec == nullptr) return -1;
  rec->values = {1.0, static_cast<double>(outline.size()), s.corner1.z};
  for (const db::Point3& p : outline) {
    rec->values.push_back(p.x);
    rec->values.push_back(p.y);
  }
  objectSystem(c, lastOwn(c), s.extrusion);
  return 0;
}

// 3DFACE: the whole outline in space, or, when it hides edges, a line per
// visible edge.  A face that hides every edge shows nothing.
int mapFace(MapContext& c, const db::Entity& e) {
  const auto& f = db::get<db::Face3d>(e.data);
  const db::Point3 corners[4] = {f.corner1, f.corner2, f.corner3, f.corner4};
  const int hidden = f.invisibleEdges & 15;
  if (hidden == 0) {
    std::vector<Point3> outline;
    for (const db::Point3& p : corners)
      if (outline.empty() || outline.back().x != p.x || outline.back().y != p.y || outline.back().z != p.z)
        outline.push_back(pt(p));
    return copiousPolyline(c, std::move(outline), true, true);
  }
  for (int k = 0; k < 4; ++k) {
    const db::Point3& a = corners[k];
    const db::Point3& b = corners[(k + 1) % 4];
    if ((hidden & (1 << k)) != 0 || a == b) continue;
    auto* rec = ownRecord<GeometryRecord>(c, IgesType::kLine, 0);
    if (rec == nullptr) return -1;
    rec->values = {a.x, a.y, a.z, b.x, b.y, b.z};
  }
  return c.made.own.empty() ? -1 : 0;
}

// ---------------------------------------------------------------------------
// Texts

// The look of a text from its own values and its text style.
TextLook textLook(MapContext& c, std::string_view styleName, double height, double widthFactor,
                  double oblique, int generation) {
  TextLook look;
  MapContext::TextStyleOfName& known = c.lastTextStyle;
  if (!known.valid || known.name != styleName) {
    known.style = c.db.styles.find(styleName);
    if (known.style == nullptr) known.style = c.db.styles.find("Standard");
    known.fontName = known.style != nullptr ? styleFontName(known.style->data.font) : std::string();
    known.name.assign(styleName);
    known.valid = true;
  }
  const auto* style = known.style;
  look.height = height;
  if (!(look.height > 0.0) && style != nullptr && style->data.fixedHeight > 0.0) look.height = style->data.fixedHeight;
  if (!(look.height > 0.0)) look.height = c.db.header.real("$TEXTSIZE");
  if (!(look.height > 0.0) || !std::isfinite(look.height)) look.height = 1.0;
  look.widthFactor = widthFactor > 0.0 && std::isfinite(widthFactor) ? widthFactor
                     : style != nullptr && style->data.widthFactor > 0.0 ? style->data.widthFactor
                                                                         : 1.0;
  look.slant = kPi / 2 - (std::isfinite(oblique) ? oblique : 0.0) * kRadiansPerDegree;
  // Backwards text is mirrored about the axis across its base line, upside
  // down text about the base line itself.
  if ((generation & kBackwards) != 0) look.mirror = 1;
  else if ((generation & kUpsideDown) != 0) look.mirror = 2;
  if (style != nullptr) look.fontName = known.fontName;
  return look;
}

// A string of a note of the toolkit's input, which names its font itself.
NoteStringData fontedString(const std::string& text, const TextLook& look, double angle) {
  NoteStringData n = noteString(text, look, std::isfinite(angle) ? angle : 0.0, Point3{});
  n.fontName = look.fontName;
  return n;
}

// The start (left end of the base line) of a justified text from its
// alignment point: across the estimated width for centred (1, 4) and
// right (2) texts, down by the height for middle (2, and 4) and top (3).
// Aligned (3) and fitted (5) texts start at their first point.
Point3 textStart(const db::Point3& insertion, const db::Point3& alignment, int horizontal, int vertical,
                 double width, double height, double angle) {
  if ((horizontal == 0 && vertical == 0) || horizontal == 3 || horizontal == 5) return pt(insertion);
  double dx = 0.0, dy = 0.0;
  if (horizontal == 1 || horizontal == 4) dx = -width / 2.0;
  else if (horizontal == 2) dx = -width;
  if (vertical == 2 || horizontal == 4) dy = -height / 2.0;
  else if (vertical == 3) dy = -height;
  const double ca = std::cos(angle), sa = std::sin(angle);
  return Point3{alignment.x + ca * dx - sa * dy, alignment.y + sa * dx + ca * dy, alignment.z};
}

// A one-line note of a TEXT, ATTRIB or ATTDEF.
int lineNote(MapContext& c, const std::string& value, std::string_view style, const db::Point3& insertion,
             const db::Point3& alignment, double height, double rotation, double widthFactor, double oblique,
             int generation, int horizontal, int vertical, const db::Point3& normal) {
  const TextLook look = textLook(c, style, height, widthFactor, oblique, generation);
  auto* rec = ownRecord<NoteRecord>(c, IgesType::kGeneralNote, 0);
  if (rec == nullptr) return -1;
  const double angle = rotation * kRadiansPerDegree;
  NoteStringData s = fontedString(value, look, angle);
  s.start = textStart(insertion, alignment, horizontal, vertical, s.boxWidth, look.height, angle);
  rec->strings.push_back(std::move(s));
  objectSystem(c, lastOwn(c), normal);
  return 0;
}

int mapText(MapContext& c, const db::Entity& e) {
  const auto& t = db::get<db::Text>(e.data);
  return lineNote(c, t.value, t.style.view(), t.insertion, t.alignment, t.height, t.rotation, t.widthFactor, t.oblique,
                  t.generation, t.horizontal, t.vertical, t.extrusion);
}

// The note of an attribute: one line, or the lines of a multi-line
// attribute, the first placed as a one-line text is and each next one a
// line spacing lower.
int attributeNote(MapContext& c, const db::AttributeText& a, const std::string& value) {
  if (!a.multiline)
    return lineNote(c, value, a.style.view(), a.insertion, a.alignment, a.height, a.rotation, a.widthFactor, a.oblique,
                    a.generation, a.horizontal, a.vertical, a.extrusion);
  const TextLook look = textLook(c, a.style.view(), a.height, a.widthFactor, a.oblique, a.generation);
  auto* rec = ownRecord<NoteRecord>(c, IgesType::kGeneralNote, 0);
  if (rec == nullptr) return -1;
  const double angle = std::isfinite(a.rotation) ? a.rotation * kRadiansPerDegree : 0.0;
  const double spacing = a.lineSpacing > 0.0 && std::isfinite(a.lineSpacing) ? a.lineSpacing : 1.0;
  const double step = look.height * kMTextLineSpacing * spacing;
  const double ca = std::cos(angle), sa = std::sin(angle);
  const std::vector<std::string> lines = mtextPlainLines(value);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    NoteStringData s = fontedString(lines[k], look, angle);
    s.start = textStart(a.insertion, a.alignment, a.horizontal, a.vertical, s.boxWidth, look.height, angle);
    const double down = step * static_cast<double>(k);
    s.start.x += sa * down;
    s.start.y -= ca * down;
    rec->strings.push_back(std::move(s));
  }
  objectSystem(c, lastOwn(c), a.extrusion);
  return 0;
}

// Attributes show their values as texts; an invisible one, and a
// definition whose value each insert gives (not constant), show nothing
// here: counted as not carried.
int mapAttrib(MapContext& c, const db::Entity& e) {
  const auto& a = db::get<db::Attrib>(e.data);
  if ((a.flags & kAttributeInvisible) != 0) {
    ++c.notCarried["ATTRIB (invisible)"];
    return 0;
  }
  return attributeNote(c, a, a.value);
}

int mapAttDef(MapContext& c, const db::Entity& e) {
  const auto& a = db::get<db::AttDef>(e.data);
  if ((a.flags & kAttributeInvisible) != 0) {
    ++c.notCarried["ATTDEF (invisible)"];
    return 0;
  }
  if ((a.flags & kAttributeConstant) == 0) {
    // Each insert shows the value in its own ATTRIB.
    ++c.notCarried["ATTDEF (value given by each insert)"];
    return 0;
  }
  return attributeNote(c, a, a.defaultValue);
}

int mapMText(MapContext& c, const db::Entity& e) {
  const auto& m = db::get<db::MText>(e.data);
  const TextLook look = textLook(c, m.style, m.height, 1.0, 0.0, 0);
  auto* rec = ownRecord<NoteRecord>(c, IgesType::kGeneralNote, 0);
  if (rec == nullptr) return -1;
  // The direction of the base line: the x axis (in the object system when
  // the x axis is the default), else the rotation angle.
  double angle = m.rotation * kRadiansPerDegree;
  if ((m.xAxis.x != 0.0 || m.xAxis.y != 0.0) && !(m.xAxis.x == 1.0 && m.xAxis.y == 0.0 && m.rotation != 0.0))
    angle = std::atan2(m.xAxis.y, m.xAxis.x);
  const std::vector<std::string> lines = mtextPlainLines(m.value);
  // Attachment rows: 1..3 hang the text below the point, 4..6 centre it,
  // 7..9 put its last line on it; columns: left, centre, right.
  const int attachment = std::clamp(m.attachment, 1, 9);
  const double spacing = m.lineSpacing > 0.0 && std::isfinite(m.lineSpacing) ? m.lineSpacing : 1.0;
  const double step = look.height * kMTextLineSpacing * spacing;
  const double total = step * static_cast<double>(lines.size() - 1);
  double first = -look.height;
  if (attachment >= 4 && attachment <= 6) first = total / 2.0 - look.height / 2.0;
  else if (attachment >= 7) first = total;
  const int column = (attachment - 1) % 3;
  const double ca = std::cos(angle), sa = std::sin(angle);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    NoteStringData s = fontedString(lines[k], look, angle);
    const double dx = column == 1 ? -s.boxWidth / 2.0 : column == 2 ? -s.boxWidth : 0.0;
    const double dy = first - step * static_cast<double>(k);
    s.start = Point3{m.insertion.x + ca * dx - sa * dy, m.insertion.y + sa * dx + ca * dy, m.insertion.z};
    rec->strings.push_back(std::move(s));
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Inserts, dimensions, leaders, hatches, viewports

// The placement of one cell of an insert, without its block's base point
// (added when the insert is linked to its block).
Transform insertPlacement(const db::Insert& in, double columnOffset, double rowOffset) {
  const auto scale = [](double v) { return v != 0.0 && std::isfinite(v) ? v : 1.0; };
  return insertPlacement(pt(in.insertion), in.rotation, columnOffset, rowOffset, scale(in.xScale), scale(in.yScale),
                         scale(in.zScale), pt(in.extrusion));
}

int mapInsert(MapContext& c, const db::Entity& e) {
  const auto& in = db::get<db::Insert>(e.data);
  const db::BlockRecord* block = c.db.findBlock(in.block);
  const long columns = std::max(in.columns, 1);
  const long rows = std::max(in.rows, 1);
  const long holder = c.fatherBlock;
  for (long r = 0; r < rows; ++r) {
    for (long k = 0; k < columns; ++k) {
      if (r + k > 0 && --c.arrayBudget < 0) {
        // More copies than the file could describe: the rest is left.
        ++c.notCarried["INSERT (array cells beyond the file's size)"];
        return 0;
      }
      auto* rec = ownRecord<InstanceRecord>(c, IgesType::kSubfigureInstance, 0);
      if (rec == nullptr) return -1;
      c.sink.setMatrix(lastOwn(c), insertPlacement(in, static_cast<double>(k) * in.columnSpacing,
                                                  static_cast<double>(r) * in.rowSpacing));
      if (block != nullptr)
        c.inserts.push_back(MapContext::PendingInsert{lastOwn(c), c.db.blockIndex(*block), holder});
      else
        ++c.notCarried["INSERT (block missing)"];
    }
  }
  return 0;
}

// A part of a live dimension (its note or a leader): no element of its
// own, taken over by the dimension from the start; the dimension's
// attributes.
template <typename R>
R* dimensionPart(MapContext& c, std::int32_t type, std::int32_t form, std::int32_t& index) {
  R* rec = newRecord<R>(c, type, form, index);
  if (rec == nullptr) return nullptr;
  c.sink.setTakenOver(index);
  c.made.members.push_back(index);
  return rec;
}

// The style of a dimension (its own, else the defaults) and its scale.
db::DimStyle dimensionStyle(const MapContext& c, const db::Dimension& d, double& scale) {
  const auto* found = c.db.dimstyles.find(d.style);
  const db::DimStyle style = found != nullptr ? found->data : db::DimStyle{};
  scale = style.scale > 0.0 && std::isfinite(style.scale) ? style.scale : 1.0;
  return style;
}

// The note of a live dimension: the text it shows for the measurement,
// centred on its text position; 0 when it cannot be made.
std::int32_t dimensionNote(MapContext& c, const db::Dimension& d, double measurement, double angle) {
  double scale = 1.0;
  const db::DimStyle style = dimensionStyle(c, d, scale);
  std::int32_t note = 0;
  auto* rec = dimensionPart<NoteRecord>(c, IgesType::kGeneralNote, 0, note);
  if (rec == nullptr) return 0;
  TextLook look;
  look.height = style.textHeight * scale > 0.0 ? style.textHeight * scale : 2.5;
  const double textAngle = d.textRotation != 0.0 ? d.textRotation * kRadiansPerDegree : angle;
  NoteStringData s = fontedString(db::dimensionText(d, style, measurement), look, textAngle);
  const double ca = std::cos(textAngle), sa = std::sin(textAngle);
  const double dx = -s.boxWidth / 2.0, dy = -look.height / 2.0;
  s.start = Point3{d.textMid.x + ca * dx - sa * dy, d.textMid.y + sa * dx + ca * dy, d.definition.z};
  rec->strings.push_back(std::move(s));
  return note;
}

// A leader of a live dimension: its arrow at `head`, its line towards
// `towards`; 0 when it cannot be made.
std::int32_t dimensionLeader(MapContext& c, const db::Dimension& d, const Point3& head, const Point3& towards) {
  double scale = 1.0;
  const db::DimStyle style = dimensionStyle(c, d, scale);
  std::int32_t leader = 0;
  auto* l = dimensionPart<LeaderRecord>(c, IgesType::kLeader, 1, leader);
  if (l == nullptr) return 0;
  l->arrowHeight = style.arrowSize * scale;
  l->arrowWidth = l->arrowHeight / 3.0;
  l->z = d.definition.z;
  l->head = head;
  l->points = {towards};
  return leader;
}

// A linear or aligned dimension as the dimension writer takes it: a note
// with the text it shows at its text position, and two leaders whose heads
// are the ends of the dimension line (the measured points projected on
// it).  The drawn parts of its block stay its sons: they are written
// instead when the writer cannot express the dimension.
void liveLinear(MapContext& c, const db::Dimension& d, DimensionRecord& rec) {
  const db::Point3& p1 = d.defPoint2;
  const db::Point3& p2 = d.defPoint3;
  double angle = d.rotation * kRadiansPerDegree;
  if (db::dimensionKind(d) == db::DimensionKind::Aligned) angle = std::atan2(p2.y - p1.y, p2.x - p1.x);
  const double ux = std::cos(angle), uy = std::sin(angle);
  const auto onLine = [&](const db::Point3& p) {
    const double t = (p.x - d.definition.x) * ux + (p.y - d.definition.y) * uy;
    return Point3{d.definition.x + t * ux, d.definition.y + t * uy, d.definition.z};
  };
  const Point3 a1 = onLine(p1), a2 = onLine(p2);
  const double measured = std::hypot(a2.x - a1.x, a2.y - a1.y);
  if (!(measured > 0.0) || !std::isfinite(measured)) return;
  const std::int32_t note = dimensionNote(c, d, d.measurement > 0.0 ? d.measurement : measured, angle);
  const Point3 middle{(a1.x + a2.x) / 2.0, (a1.y + a2.y) / 2.0, d.definition.z};
  const std::int32_t first = note != 0 ? dimensionLeader(c, d, a1, middle) : 0;
  const std::int32_t second = first != 0 ? dimensionLeader(c, d, a2, middle) : 0;
  if (second == 0) return;
  rec.note = note;
  rec.leaders = {first, second};
}

// A radius or diameter dimension as the dimension writer takes it: its
// centre, a note, and one leader with its arrow on the curve, pointing
// from the text.  The writer measures the circle or arc it finds there;
// without one the drawn parts are written instead.
void liveRadial(MapContext& c, const db::Dimension& d, DimensionRecord& rec) {
  const bool diameter = db::dimensionKind(d) == db::DimensionKind::Diameter;
  const db::Point3& onCurve = d.defPoint4;
  const Point3 centre = diameter ? Point3{(d.definition.x + onCurve.x) / 2.0, (d.definition.y + onCurve.y) / 2.0,
                                          d.definition.z}
                                 : pt(d.definition);
  const double radius = std::hypot(onCurve.x - centre.x, onCurve.y - centre.y);
  if (!(radius > 0.0) || !std::isfinite(radius)) return;
  const double angle = std::atan2(onCurve.y - centre.y, onCurve.x - centre.x);
  const double measured = d.measurement > 0.0 ? d.measurement : diameter ? 2.0 * radius : radius;
  const std::int32_t note = dimensionNote(c, d, measured, angle);
  const std::int32_t leader = note != 0 ? dimensionLeader(c, d, pt(onCurve), pt(d.textMid)) : 0;
  if (leader == 0) return;
  rec.note = note;
  rec.leaders = {leader};
  rec.hasCentre = true;
  rec.centre = centre;
}

// The angle from a to b counterclockwise, in [0, 2 pi).
double sweepOf(double a, double b) {
  double s = std::fmod(b - a, 2.0 * kPi);
  if (s < 0.0) s += 2.0 * kPi;
  return s;
}

// An angular dimension as the dimension writer takes it (three points):
// its vertex, and two leaders whose heads lie on the legs at the radius of
// its arc, the first leg the one the arc leaves counterclockwise.  Of two
// lines the legs are the halves that hold the arc point between them.
void liveAngular(MapContext& c, const db::Dimension& d, DimensionRecord& rec) {
  Point3 vertex;
  std::vector<double> firstLegs, secondLegs;  // candidate directions of the legs
  Point3 arcPoint;
  if (db::dimensionKind(d) == db::DimensionKind::Angular3Point) {
    vertex = pt(d.defPoint4);
    arcPoint = pt(d.definition);
    firstLegs = {std::atan2(d.defPoint2.y - vertex.y, d.defPoint2.x - vertex.x)};
    secondLegs = {std::atan2(d.defPoint3.y - vertex.y, d.defPoint3.x - vertex.x)};
    // Either leg may come first.
    firstLegs.push_back(secondLegs[0]);
    secondLegs.push_back(firstLegs[0]);
  } else {
    // The first line from defPoint2 to defPoint3, the second from
    // defPoint4 to the definition point; the vertex where they meet.
    const double ax = d.defPoint3.x - d.defPoint2.x, ay = d.defPoint3.y - d.defPoint2.y;
    const double bx = d.definition.x - d.defPoint4.x, by = d.definition.y - d.defPoint4.y;
    const double cross = ax * by - ay * bx;
    if (!(std::fabs(cross) > 1e-12) || !std::isfinite(cross)) return;
    const double t = ((d.defPoint4.x - d.defPoint2.x) * by - (d.defPoint4.y - d.defPoint2.y) * bx) / cross;
    vertex = Point3{d.defPoint2.x + t * ax, d.defPoint2.y + t * ay, d.definition.z};
    arcPoint = pt(d.arcPoint);
    const double a = std::atan2(ay, ax), b = std::atan2(by, bx);
    firstLegs = {a, a + kPi, b, b + kPi};
    secondLegs = {b, b + kPi, a, a + kPi};
  }
  const double radius = std::hypot(arcPoint.x - vertex.x, arcPoint.y - vertex.y);
  if (!(radius > 0.0) || !std::isfinite(radius)) return;
  const double at = std::atan2(arcPoint.y - vertex.y, arcPoint.x - vertex.x);
  // The pair of legs whose counterclockwise sweep holds the arc point, the
  // narrowest of them.
  double first = 0.0, sweep = 2.0 * kPi;
  bool found = false;
  for (std::size_t i = 0; i < firstLegs.size(); ++i) {
    for (std::size_t j = 0; j < secondLegs.size(); ++j) {
      const double s = sweepOf(firstLegs[i], secondLegs[j]);
      if (!(s > 1e-12) || sweepOf(firstLegs[i], at) > s || s >= sweep) continue;
      first = firstLegs[i];
      sweep = s;
      found = true;
    }
  }
  if (!found) return;
  const Point3 head1{vertex.x + radius * std::cos(first), vertex.y + radius * std::sin(first), vertex.z};
  const Point3 head2{vertex.x + radius * std::cos(first + sweep), vertex.y + radius * std::sin(first + sweep), vertex.z};
  const std::int32_t note = dimensionNote(c, d, d.measurement > 0.0 ? d.measurement : sweep, first + sweep / 2.0 - kPi / 2.0);
  const std::int32_t l1 = note != 0 ? dimensionLeader(c, d, head1, pt(d.textMid)) : 0;
  const std::int32_t l2 = l1 != 0 ? dimensionLeader(c, d, head2, pt(d.textMid)) : 0;
  if (l2 == 0) return;
  rec.note = note;
  rec.leaders = {l1, l2};
  rec.hasCentre = true;
  rec.centre = vertex;
}

int mapDimension(MapContext& c, const db::Entity& e) {
  const auto& d = db::get<db::Dimension>(e.data);
  auto* rec = ownRecord<DimensionRecord>(c, dimensionTypeOf(d.flags), 0);
  if (rec == nullptr) return -1;
  for (const db::Point3* p : {&d.definition, &d.textMid, &d.cloneInsertion, &d.defPoint2, &d.defPoint3, &d.defPoint4,
                              &d.arcPoint}) {
    rec->values.push_back(p->x);
    rec->values.push_back(p->y);
    rec->values.push_back(p->z);
  }
  rec->values.push_back(d.leaderLength);
  rec->values.push_back(d.lineSpacing);
  const db::DimensionKind kind = db::dimensionKind(d);
  if (kind == db::DimensionKind::Linear || kind == db::DimensionKind::Aligned) liveLinear(c, d, *rec);
  if (kind == db::DimensionKind::Radius || kind == db::DimensionKind::Diameter) liveRadial(c, d, *rec);
  if (kind == db::DimensionKind::Angular || kind == db::DimensionKind::Angular3Point) liveAngular(c, d, *rec);
  return 0;
}

int mapLeader(MapContext& c, const db::Entity& e) {
  const auto& l = db::get<db::Leader>(e.data);
  if (l.vertices.size() < 2) return -1;
  // The arrow's size from the leader's dimension style.
  double arrow = 0.0;
  if (l.arrowhead != 0) {
    const auto* style = c.db.dimstyles.find(l.dimensionStyle);
    arrow = style != nullptr ? style->data.arrowSize * (style->data.scale > 0.0 ? style->data.scale : 1.0) : 2.5;
  }
  auto* rec = ownRecord<LeaderRecord>(c, IgesType::kLeader, 1);
  if (rec == nullptr) return -1;
  rec->arrowHeight = arrow;
  rec->arrowWidth = arrow / 3.0;
  rec->z = l.vertices.front().z;
  rec->head = pt(l.vertices.front());
  for (std::size_t k = 1; k < l.vertices.size(); ++k) rec->points.push_back(pt(l.vertices[k]));
  return 0;
}

// One edge of a hatch boundary as a member of its contour.
std::int32_t edgeMember(MapContext& c, std::int32_t contour, const db::HatchEdge& edge, double z) {
  switch (edge.type) {
    case 1:
      return member(c, contour, IgesType::kLine, 0, {edge.start.x, edge.start.y, z, edge.end.x, edge.end.y, z});
    case 2: {
      double a1 = edge.startAngle * kRadiansPerDegree, a2 = edge.endAngle * kRadiansPerDegree;
      // A clockwise arc holds its angles mirrored.
      if (!edge.counterClockwise) {
        const double start = a1;
        a1 = -a2;
        a2 = -start;
      }
      const double r = edge.radius;
      const bool whole = std::fabs(std::fabs(edge.endAngle - edge.startAngle) - 360.0) < 1e-9;
      if (whole) a1 = a2 = 0.0;
      return member(c, contour, IgesType::kCircularArc, whole ? 0 : 1,
                    {z, edge.start.x, edge.start.y, edge.start.x + r * std::cos(a1), edge.start.y + r * std::sin(a1),
                     edge.start.x + r * std::cos(a2), edge.start.y + r * std::sin(a2)});
    }
    case 3: {
      Transform system;
      double a = 0.0;
      const db::Point3 centre{edge.start.x, edge.start.y, z};
      if (!ellipseSystem(centre, edge.end, db::kNormalZ, system, a) || !(edge.radius > 0.0)) return 0;
      double t0 = edge.startAngle * kRadiansPerDegree, t1 = edge.endAngle * kRadiansPerDegree;
      if (!edge.counterClockwise) {
        const double start = t0;
        t0 = -t1;
        t1 = -start;
      }
      if (std::fabs(std::fabs(edge.endAngle - edge.startAngle) - 360.0) < 1e-9) t0 = t1 = 0.0;
      const std::int32_t m = member(c, contour, IgesType::kConicArc, 1, ellipseValues(a, a * edge.radius, t0, t1));
      if (m != 0) c.sink.setMatrix(m, system);
      return m;
    }
    default: {
      std::vector<Point3> controls;
      for (const db::Point3& p : edge.controlPoints.empty() ? edge.fitPoints : edge.controlPoints)
        controls.push_back(Point3{p.x, p.y, z});
      if (controls.size() < 2) return 0;
      std::vector<double> values;
      splineValues(controls, edge.controlPoints.empty() ? 1 : edge.degree, edge.controlPoints.empty() ? std::vector<double>{} : edge.knots,
                   edge.weights, true, false, edge.periodic, Point3{0.0, 0.0, 1.0}, values);
      return member(c, contour, IgesType::kBSplineCurve, 0, std::move(values));
    }
  }
}

int mapHatch(MapContext& c, const db::Entity& e) {
  const auto& h = db::get<db::Hatch>(e.data);
  auto* rec = ownRecord<AnnotationRecord>(c, IgesType::kSectionedArea, 0);
  if (rec == nullptr) return -1;
  const std::int32_t area = lastOwn(c);
  // The pattern: a solid fill fills its boundaries; crossed lines (a
  // doubled user pattern, or families at different angles) and single
  // lines, spaced by the first family's offset across its lines.
  int pattern = 0;
  double spacing = 0.0, angle = h.angle * kRadiansPerDegree;
  if (h.solidFill == 0) {
    pattern = kPatternSingle;
    spacing = h.scale;
    if (!h.lines.empty()) {
      const db::HatchLine& l = h.lines.front();
      const double a = l.angle * kRadiansPerDegree;
      spacing = std::fabs(-std::sin(a) * l.offsetX + std::cos(a) * l.offsetY);
      angle = a;
      for (const db::HatchLine& other : h.lines)
        if (std::fabs(other.angle - l.angle) > 1e-6) pattern = kPatternCross;
    }
    if (h.doubled != 0) pattern = kPatternCross;
  }
  c.made.filled = h.solidFill != 0;
  const double z = h.elevation.z;
  std::vector<std::int32_t> boundaries;
  for (const db::HatchPath& path : h.paths) {
    const std::size_t before = c.made.own.size();
    if ((path.flags & kHatchPolylinePath) != 0) {
      std::vector<DxfVertex> points;
      for (const db::HatchVertex& v : path.vertices) points.push_back(DxfVertex{Point3{v.location.x, v.location.y, z}, v.bulge});
      if (points.size() < 2 || bulgePolyline(c, points, true) != 0) continue;
    } else {
      if (path.edges.empty()) continue;
      auto* contour = ownRecord<CompositeRecord>(c, IgesType::kCompositeCurve, 0);
      if (contour == nullptr) return -1;
      const std::int32_t index = lastOwn(c);
      for (const db::HatchEdge& edge : path.edges)
        if (const std::int32_t m = edgeMember(c, index, edge, z); m != 0) contour->constituents.push_back(m);
    }
    if (c.made.own.size() == before) continue;
    const std::int32_t boundary = c.made.own.back();
    // The boundary belongs to the area: not an element of its own.
    c.made.own.pop_back();
    objectSystem(c, boundary, h.extrusion);
    c.made.members.push_back(boundary);
    c.sink.link(area, boundary);
    boundaries.push_back(boundary);
  }
  if (boundaries.empty()) return 0;  // the area converts to nothing and is reported then
  rec->geometry = boundaries;
  rec->values = {static_cast<double>(pattern), 0.0, 0.0, z, spacing, angle};
  return 0;
}

int mapViewport(MapContext& c, const db::Entity& e) {
  const auto& v = db::get<db::Viewport>(e.data);
  auto* rec = ownRecord<DxfViewRecord>(c, IgesType::kView, 0);
  if (rec == nullptr) return -1;
  const std::int32_t index = lastOwn(c);
  c.sink.setRegistered(index);
  c.views.push_back(index);
  rec->viewNumber = v.id;
  // The viewport shows the model around its view centre, its view height
  // on its own height on the sheet.
  double scale = 1.0;
  if (v.viewHeight > 0.0 && v.height > 0.0 && std::isfinite(v.height / v.viewHeight)) scale = v.height / v.viewHeight;
  rec->scale = scale;
  rec->hasLevelList = true;
  for (db::Handle h : v.frozenLayers) {
    const db::HandleRef* ref = c.db.find(h);
    if (ref != nullptr && ref->kind == db::RefKind::Record && ref->sub < c.db.layers.records.size())
      rec->frozenLayers.push_back(c.db.layers.records[ref->sub].common.name);
  }
  const double x = v.center.x - scale * (v.viewTarget.x + v.viewCenter.x);
  const double y = v.center.y - scale * (v.viewTarget.y + v.viewCenter.y);
  // The sheet's own viewport (identifier 1) and one switched off show no
  // model view.
  if (v.id != 1 && v.status != 0) {
    if (auto* drawing = dynamic_cast<DrawingRecord*>(c.sink.record(drawingElement(c))))
      drawing->views.push_back(DrawingRecord::ViewSlot{index, x, y});
  }
  return 0;
}

// The line style of a linetype: the parameter file's assignment, else the
// installation's linetype table ("dxf_linetypes.zuor"), else the default
// line style.
int lineStyleOfLinetype(MapContext& c, const std::string& linetype) {
  if (const int* assigned = c.attr.assignedLineStyleOf(linetype)) return *assigned;
  AssignTables& tables = assignTables();
  if (!c.linetypeTableRead && tables.dxfLineTypes.empty()) (void)readDxfLineTypes();
  c.linetypeTableRead = true;
  for (const DxfLineType& t : tables.dxfLineTypes)
    if (upperAscii(t.name) == linetype) return t.style;
  return c.attr.defaultLineStyle();
}

// What the entity's common groups give the directory entry: the layer's
// level, the colour (by block: the block colour of the parameter file; by
// layer: the layer's), the line style of the linetype (by layer: the
// layer's) through the attribute mapping.
DwgDirectoryAttributes attributesOfCommon(MapContext& c, const db::Entity& e) {
  DwgDirectoryAttributes a;
  const std::string layerName = e.common.layer.empty() ? std::string("0") : e.common.layer.str();
  a.level = layerLevel(c, layerName);
  const auto* layer = c.db.layers.find(layerName);
  int colour = e.common.colour;
  if (colour == 0) {
    a.colour = c.attr.blockColour();
  } else {
    if (colour == 256 || colour < 0 || colour > 256) colour = layer != nullptr ? std::abs(layer->data.colour) : 7;
    if (colour < 1 || colour > 255) colour = 7;
    a.colour = c.attr.applicationColourOf(colour);
  }
  std::string linetype = upperAscii(e.common.linetype.str());
  a.lineWeight = kWeightNormal;
  if (linetype == "BYBLOCK") {
    a.lineWeight = kWeightByBlock;
    a.lineFont = c.attr.defaultLineStyle();
    return a;
  }
  if (linetype.empty() || linetype == "BYLAYER") linetype = layer != nullptr ? layer->data.linetype : "CONTINUOUS";
  a.lineFont = lineStyleOfLinetype(c, upperAscii(linetype));
  return a;
}

// The same with the entity's sequence, each combination worked out once.
DwgDirectoryAttributes directoryOf(MapContext& c, const db::Entity& e) {
  const std::string_view layer = e.common.layer.view(), linetype = e.common.linetype.view();
  const MapContext::DirectoryKey key{layer, linetype, e.common.colour};
  auto found = c.directories.find(key);
  if (found == c.directories.end()) found = c.directories.emplace(key, attributesOfCommon(c, e)).first;
  DwgDirectoryAttributes a = found->second;
  a.sequence = static_cast<std::int32_t>(std::min<long>(c.sequence, INT32_MAX));
  return a;
}

}  // namespace

// ---------------------------------------------------------------------------

namespace {
// The graphic attributes of a record the mapper made: the kinds it makes
// most are told by their class alone.
GraphicAttributes* mappedAttributesOf(ParamRecord* record) {
  if (record == nullptr) return nullptr;
  const std::type_info& kind = typeid(*record);
  if (kind == typeid(GeometryRecord)) return &static_cast<GeometryRecord*>(record)->attributes;
  if (kind == typeid(NoteRecord)) return &static_cast<NoteRecord*>(record)->attributes;
  if (kind == typeid(InstanceRecord)) return &static_cast<InstanceRecord*>(record)->attributes;
  if (kind == typeid(CompositeRecord)) return &static_cast<CompositeRecord*>(record)->attributes;
  return attributesOf(record);
}
}  // namespace

std::int32_t ElementSink::add(std::int32_t type, std::int32_t form, std::unique_ptr<ParamRecord> record) {
  TraceScope t("ldv125");
  std::int32_t index = 0;
  if (newElement(t.code(), type, form, index) != 0) return 0;
  element(index).params = std::move(record);
  return index;
}

void ElementSink::setDirectory(std::int32_t index, const DwgDirectoryAttributes& a) {
  ElementRecord& e = element(index);
  e.de.level = a.level;
  e.de.colour = a.colour;
  e.de.lineFont = a.lineFont;
  e.de.lineWeight = a.lineWeight;
  e.de.structure = a.structure;
  e.de.sequence = a.sequence;
  e.de.paramPointer = a.sequence;
  if (GraphicAttributes* g = mappedAttributesOf(e.params.get())) copyAttributes(*g, e.de);
}

void ElementSink::setMatrix(std::int32_t index, const Transform& matrix) {
  try {
    element(index).matrix = std::make_unique<Transform>(matrix);
  } catch (const std::bad_alloc&) {
    mfaError("ldv820", kMsgNoMemory, Channel::kBoth);
  }
}

void ElementSink::setRegistered(std::int32_t index) {
  setStateRaw(index, ElementState::kRegistered);
  elementTable().drawingsPresent = true;
}

void ElementSink::setDependent(std::int32_t index) { element(index).dependency = 'p'; }

void ElementSink::setTakenOver(std::int32_t index) { setStateRaw(index, ElementState::kTakenOver); }

int ElementSink::link(std::int32_t father, std::int32_t son) { return linkFatherSon(father, son); }

ParamRecord* ElementSink::record(std::int32_t index) { return isElementIndex(index) ? element(index).params.get() : nullptr; }

MapContext::MapContext(drawingdb::Database& database, const DwgGraphAttr& attributes)
    : db(database), attr(attributes), blockElements(database.blocks.size(), 0),
      dimensionBlocks(database.blocks.size(), 0), mappedByKind(db::EntityData::kTypes + 1) {}

std::size_t MapContext::DirectoryKeyHash::operator()(const DirectoryKey& k) const {
  std::size_t h = std::hash<std::string_view>()(k.layer);
  const auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
  mix(std::hash<std::string_view>()(k.linetype));
  mix(static_cast<std::size_t>(static_cast<std::uint32_t>(k.colour)));
  return h;
}

// ---------------------------------------------------------------------------

namespace {

constexpr DwgEntityMapping kMappings[] = {
    {db::EntityKind::Line, IgesType::kLine, 0, mapLine},
    {db::EntityKind::Point, IgesType::kPoint, 0, mapPoint},
    {db::EntityKind::Circle, IgesType::kCircularArc, 0, mapCircle},
    {db::EntityKind::Arc, IgesType::kCircularArc, 1, mapArc},
    {db::EntityKind::Text, IgesType::kGeneralNote, 0, mapText},
    {db::EntityKind::Ellipse, IgesType::kConicArc, 1, mapEllipse},
    {db::EntityKind::Solid, IgesType::kCopiousData, 63, mapSolid},
    {db::EntityKind::Trace, IgesType::kCopiousData, 63, mapSolid},
    {db::EntityKind::Face3d, IgesType::kCopiousData, 12, mapFace},
    {db::EntityKind::Insert, IgesType::kSubfigureInstance, 0, mapInsert},
    {db::EntityKind::Polyline, IgesType::kCopiousData, 11, mapPolyline},
    {db::EntityKind::LwPolyline, IgesType::kCopiousData, 11, mapLwPolyline},
    {db::EntityKind::AttDef, IgesType::kGeneralNote, 0, mapAttDef},
    {db::EntityKind::Attrib, IgesType::kGeneralNote, 0, mapAttrib},
    {db::EntityKind::Unknown, 0, 0, nullptr},
    {db::EntityKind::Spline, IgesType::kBSplineCurve, 0, mapSpline},
    {db::EntityKind::MText, IgesType::kGeneralNote, 0, mapMText},
    {db::EntityKind::Leader, IgesType::kLeader, 1, mapLeader},
    {db::EntityKind::Viewport, IgesType::kView, 0, mapViewport},
    {db::EntityKind::Dimension, IgesType::kLinearDimension, 0, mapDimension},
    {db::EntityKind::Hatch, IgesType::kSectionedArea, 0, mapHatch},
};

// The name an entity is counted under.
std::string countName(const db::Entity& e) {
  return std::string(e.dxfName());
}

// Counts a mapped entity under its name.
void countMapped(MapContext& c, const db::Entity& e) {
  const std::string_view name = e.dxfName();
  const auto kind = static_cast<std::size_t>(e.kind);
  MapContext::NameCounter* last = kind < c.mappedByKind.size() ? &c.mappedByKind[kind] : nullptr;
  if (last != nullptr && last->count != nullptr && last->name == name) {
    ++*last->count;
    return;
  }
  const auto at = c.mapped.try_emplace(std::string(name), 0).first;
  ++at->second;
  if (last != nullptr) *last = MapContext::NameCounter{at->first, &at->second};
}

// Maps one entity (and the attributes of an insert) with the context's
// father; the number of elements of the entity itself.
long mapEntity(MapContext& c, const db::Entity& e);

void mapInsertAttributes(MapContext& c, const db::Entity& e) {
  const auto* in = db::get_if<db::Insert>(&e.data);
  if (in == nullptr) return;
  for (std::uint32_t id : in->attributes)
    if (id < c.db.entities.size() && c.db.entities[id].kind == db::EntityKind::Attrib) mapEntity(c, c.db.entities[id]);
}

long mapEntity(MapContext& c, const db::Entity& e) {
  ++c.sequence;
  const DwgEntityMapping* row = entityMappingOf(e.kind);
  if (row == nullptr || row->map == nullptr) {
    ++c.notCarried[countName(e)];
    return 0;
  }
  // The lists keep their room from entity to entity.
  MadeElements& m = c.made;
  m.own.clear();
  m.members.clear();
  m.filled = false;
  // An entity whose data is not of its kind (a damaged database) makes
  // nothing; memory running out stops the entity, not the run.
  int r = -1;
  try {
    r = row->map(c, e);
  } catch (const std::bad_variant_access&) {
    r = -1;
  } catch (const std::bad_alloc&) {
    mfaNoMemory("DwgIn::mapEntity");
    r = -1;
  }
  if (r != 0 && m.own.empty()) {
    ++c.notCarried[countName(e) + " (not convertible)"];
    return 0;
  }
  DwgDirectoryAttributes a = directoryOf(c, e);
  DwgDirectoryAttributes ma = a;
  ma.structure = m.filled ? 1 : 0;
  for (std::int32_t i : m.members) c.sink.setDirectory(i, ma);
  for (std::int32_t i : m.own) {
    c.sink.setDirectory(i, a);
    if (c.father != 0) c.sink.link(c.father, i);
  }
  // What follows maps further entities, which use the lists anew.
  const long count = static_cast<long>(m.own.size());
  const std::int32_t first = count > 0 ? m.own.front() : 0;
  if (count > 0) countMapped(c, e);
  // The drawn parts of a dimension are its sons.  A dimension among the
  // parts of another keeps no parts of its own: the parts are no deeper
  // than one level.
  if (e.kind == db::EntityKind::Dimension && count > 0 && !c.inDimension) {
    const auto* d = db::get_if<db::Dimension>(&e.data);
    if (const db::BlockRecord* block = d != nullptr ? c.db.findBlock(d->block) : nullptr) {
      const std::size_t held = c.db.blockIndex(*block);
      if (c.fatherBlock >= 0) c.holds.emplace_back(c.fatherBlock, held);
      const std::int32_t outerFather = c.father;
      const long outerBlock = c.fatherBlock;
      c.father = first;
      c.fatherBlock = static_cast<long>(held);
      c.inDimension = true;
      for (db::EntityId id : block->entities)
        if (id < c.db.entities.size()) mapEntity(c, c.db.entities[id]);
      c.inDimension = false;
      c.father = outerFather;
      c.fatherBlock = outerBlock;
    }
  }
  mapInsertAttributes(c, e);
  return count;
}

}  // namespace

const DwgEntityMapping* entityMappings(std::size_t& count) {
  count = std::size(kMappings);
  return kMappings;
}

const DwgEntityMapping* entityMappingOf(drawingdb::EntityKind kind) {
  // The rows stand in the order of the kinds: a kind finds its row by its
  // value, other rows are searched.
  const auto k = static_cast<std::size_t>(kind);
  if (k < std::size(kMappings) && kMappings[k].kind == kind) return &kMappings[k];
  for (const DwgEntityMapping& m : kMappings)
    if (m.kind == kind) return &m;
  return nullptr;
}

bool entityCarried(const drawingdb::Entity& entity) {
  const DwgEntityMapping* row = entityMappingOf(entity.kind);
  return row != nullptr && row->map != nullptr;
}

int mapBlockEntities(MapContext& context, const drawingdb::BlockRecord& block, int mode, long& count) {
  TraceScope t("DwgIn::mapBlock");
  for (db::EntityId id : block.entities) {
    if (id >= context.db.entities.size()) continue;
    const db::Entity& e = context.db.entities[id];
    if (mode == 1) {
      if (entityCarried(e)) ++count;
      continue;
    }
    // A viewport only shows the drawing: a layout with nothing but its
    // viewports has nothing to convert.
    const long made = mapEntity(context, e);
    if (e.kind != db::EntityKind::Viewport) count += made;
  }
  return 0;
}

std::int32_t blockElement(MapContext& c, std::size_t block) {
  if (block >= c.blockElements.size()) return 0;
  if (c.blockElements[block] != 0) return c.blockElements[block];
  const db::BlockRecord& b = c.db.blocks[block];
  std::int32_t index = 0;
  auto* rec = newRecord<BlockRecord>(c, IgesType::kSubfigureDefinition, 0, index);
  if (rec == nullptr) return 0;
  rec->name = b.name;
  rec->base = pt(b.base);
  rec->blockFlags = b.flags;
  DwgDirectoryAttributes a;
  a.level = layerLevel(c, b.layer.empty() ? std::string("0") : b.layer);
  c.sink.setDirectory(index, a);
  c.blockElements[block] = index;
  return index;
}

std::int32_t drawingElement(MapContext& c) {
  if (c.drawing != 0) return c.drawing;
  std::int32_t index = 0;
  if (newRecord<DrawingRecord>(c, IgesType::kDrawing, 0, index) == nullptr) return 0;
  c.sink.setRegistered(index);
  c.drawing = index;
  return index;
}

int linkInserts(MapContext& c) {
  TraceScope t("DwgIn::linkInserts");
  const std::size_t n = c.db.blocks.size();
  std::vector<std::vector<int>> edges(n);
  for (const MapContext::PendingInsert& p : c.inserts)
    if (p.holder >= 0 && static_cast<std::size_t>(p.holder) < n && p.block < n)
      edges[static_cast<std::size_t>(p.holder)].push_back(static_cast<int>(p.block));
  for (const auto& [holder, held] : c.holds)
    if (holder >= 0 && static_cast<std::size_t>(holder) < n && held < n)
      edges[static_cast<std::size_t>(holder)].push_back(static_cast<int>(held));
  const std::vector<int> component = stronglyConnectedComponents(edges);
  int cycles = 0;
  for (const MapContext::PendingInsert& p : c.inserts) {
    if (p.block >= n) continue;
    if (p.holder >= 0 && component[static_cast<std::size_t>(p.holder)] == component[p.block]) {
      // The block would insert itself: reported, not followed.
      mfaSetPosition(p.instance, 0);
      const std::string shownName = mfaCurrentName();
      mfaSetCurrentName(c.db.blocks[p.block].name);
      mfaError(t.code(), kMsgSelfContaining, cycles == 0 ? Channel::kBoth : Channel::kProtocol);
      mfaSetCurrentName(shownName);
      mfaClearPosition();
      ++cycles;
      setStateRaw(p.instance, ElementState::kError);
      continue;
    }
    const std::int32_t definition = blockElement(c, p.block);
    if (definition == 0 || c.sink.link(p.instance, definition) != 0) continue;
    auto* rec = dynamic_cast<InstanceRecord*>(c.sink.record(p.instance));
    if (rec == nullptr) continue;
    rec->definition = definition;
    rec->blockFlags |= c.db.blocks[p.block].flags;
    // The block's base point is the insertion point's place in it.
    const db::Point3& base = c.db.blocks[p.block].base;
    ElementRecord& e = element(p.instance);
    if (e.matrix != nullptr) *e.matrix = composeTransforms(*e.matrix, translation(-base.x, -base.y, -base.z));
  }
  c.inserts.clear();
  return cycles;
}

void makeViewLevels(MapContext& c) {
  for (const std::int32_t i : c.views) {
    if (!isElementIndex(i) || element(i).type != IgesType::kView) continue;
    auto* rec = dynamic_cast<DxfViewRecord*>(element(i).params.get());
    if (rec == nullptr) continue;
    rec->hiddenLevels.clear();
    for (const std::string& name : rec->frozenLayers) rec->hiddenLevels.push_back(layerLevel(c, name));
    std::sort(rec->hiddenLevels.begin(), rec->hiddenLevels.end());
    rec->hiddenLevels.erase(std::unique(rec->hiddenLevels.begin(), rec->hiddenLevels.end()), rec->hiddenLevels.end());
  }
}

std::int32_t layerLevel(MapContext& c, const std::string& layer) {
  const auto* found = c.db.layers.find(layer);
  if (found == nullptr) {
    c.db.layers.add(layer);
    return static_cast<std::int32_t>(c.db.layers.records.size() - 1);
  }
  return static_cast<std::int32_t>(found - c.db.layers.records.data());
}

std::vector<std::string> mtextPlainLines(const std::string& value) {
  std::vector<std::string> lines(1);
  // Codes with an argument up to ";": font, height, width, tracking,
  // slant, colour, alignment, stacking, and the others of that form.
  const std::string argumentCodes = "fFHWTQCcApS";
  for (std::size_t k = 0; k < value.size(); ++k) {
    const char ch = value[k];
    if (ch == '\n') {
      lines.emplace_back();
      continue;
    }
    if (ch == '{' || ch == '}') continue;
    if (ch != '\\' || k + 1 >= value.size()) {
      lines.back() += ch;
      continue;
    }
    const char code = value[++k];
    if (code == 'P' || code == 'X') {
      lines.emplace_back();
    } else if (code == '~') {
      lines.back() += ' ';
    } else if (code == '\\' || code == '{' || code == '}') {
      lines.back() += code;
    } else if (code == 'S') {
      // A stacked fraction "a^b", "a/b" or "a#b": shown as "a/b".
      const std::size_t end = value.find(';', k + 1);
      std::string stack = value.substr(k + 1, end == std::string::npos ? std::string::npos : end - k - 1);
      for (char& s : stack)
        if (s == '^' || s == '#') s = '/';
      lines.back() += stack;
      k = end == std::string::npos ? value.size() : end;
    } else if (argumentCodes.find(code) != std::string::npos) {
      const std::size_t end = value.find(';', k + 1);
      k = end == std::string::npos ? value.size() : end;
    } else if (code == 'U' && k + 1 < value.size() && value[k + 1] == '+') {
      // A character by its code point: kept when it is one byte of the
      // texts' character set.
      const std::string digits = value.substr(k + 2, 4);
      char* stop = nullptr;
      const long codePoint = std::strtol(digits.c_str(), &stop, 16);
      if (stop == digits.c_str() + 4 && codePoint > 0 && codePoint < 256) lines.back() += static_cast<char>(codePoint);
      else lines.back() += '?';
      k = std::min(value.size() - 1, k + 5);
    }
    // Other codes (\L \l \O \o \K \k, line break mode ...) switch a
    // look on or off and show nothing.
  }
  return lines;
}

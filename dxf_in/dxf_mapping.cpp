#include "dxf_in/dxf_mapping.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "elements/element_table.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_structure.h"
#include "support/ascii.h"
#include "support/assign_tables.h"
#include "support/messages.h"
#include "support/trace.h"

namespace {

constexpr int kMsgNoMemory = 370;
constexpr int kMsgUnknownLineType = 940;

using namespace DxfValues;

// The arbitrary axis rule: a normal this close to the z axis takes the
// world y axis for its x direction.
constexpr double kArbitraryAxisLimit = 1.0 / 64.0;
// Per entity: the length of a long text (its pieces joined) and the groups
// of extended data read (the rest is left).
constexpr std::size_t kMaxTextChunks = 1 << 20;
constexpr std::size_t kMaxExtendedGroups = 65536;

DxfGroups& store() { return dxfReader().groups; }

std::int32_t clampLine(long line) { return static_cast<std::int32_t>(std::clamp<long>(line, 0, INT32_MAX - 1)); }

// A new element with a typed record of class R.
template <typename R>
R* newRecord(const char* code, std::int32_t type, std::int32_t form, std::int32_t& index) {
  if (newElement(code, type, form, index) != 0) return nullptr;
  try {
    auto rec = std::make_unique<R>();
    R* out = rec.get();
    element(index).params = std::move(rec);
    return out;
  } catch (const std::bad_alloc&) {
    mfaError(code, kMsgNoMemory, Channel::kBoth);
    setStateRaw(index, ElementState::kError);
    return nullptr;
  }
}

// The line style of a DXF line type name: the installation's line-type
// table gives it ("dxf_linetypes.zuor"), 1 (solid) when it has none.
std::int32_t lineFontOf(const std::string& name) {
  DxfReaderState& s = dxfReader();
  AssignTables& tables = assignTables();
  if (!s.lineTypeAssignmentsRead) {
    s.lineTypeAssignmentsRead = true;
    if (tables.dxfLineTypes.empty()) readDxfLineTypes();
  }
  const std::string key = upperAscii(dxfTrimmed(name));
  // The names compare upper-cased (the ASCII letters only).
  const auto sameName = [&key](const std::string& other) {
    if (other.size() != key.size()) return false;
    for (std::size_t k = 0; k < key.size(); ++k) {
      const char c = other[k] >= 'a' && other[k] <= 'z' ? static_cast<char>(other[k] - 'a' + 'A') : other[k];
      if (c != key[k]) return false;
    }
    return true;
  };
  for (const DxfLineType& t : tables.dxfLineTypes)
    if (sameName(t.name)) return t.style;
  return 1;
}

// The object coordinate system of the entity's extrusion, or none.
std::unique_ptr<Transform> objectSystem() {
  Transform m;
  if (!arbitraryAxis(store().extrusion(), m)) return nullptr;
  return std::make_unique<Transform>(m);
}

// A scale factor of an insert (41, 42, 43): a missing or zero one is 1.
double scaleFactor(int code) {
  const double v = store().real(code);
  return v != 0.0 ? v : 1.0;
}

// The placement of an insert (or a shape) of the group store.
Transform insertPlacement(double columnOffset, double rowOffset, double sx, double sy, double sz) {
  const DxfGroups& g = store();
  return insertPlacement(g.point(10), g.real(50), columnOffset, rowOffset, sx, sy, sz, g.extrusion());
}

// The text style's font: its font file without a ".shx" ending.
std::string fontNameOf(std::int32_t style) {
  if (style < 0) return "";
  return styleFontName(dxfReader().textStyles.entries[static_cast<std::size_t>(style)].font);
}

// The look of a TEXT or MTEXT from the groups or the text style.
TextLook textLook() {
  const DxfGroups& g = store();
  const DxfReaderState& s = dxfReader();
  TextLook look;
  const std::int32_t style = findTextStyle(g.has(7) ? g.text(7) : "STANDARD");
  const DxfTextStyleEntry* st = style >= 0 ? &s.textStyles.entries[static_cast<std::size_t>(style)] : nullptr;
  look.height = g.real(40);
  if (!(look.height > 0.0) && st != nullptr && st->height > 0.0) look.height = st->height;
  if (!(look.height > 0.0) && s.header.hasTextSize && s.header.textSize > 0.0) look.height = s.header.textSize;
  if (!(look.height > 0.0)) look.height = 1.0;
  look.widthFactor = g.real(41) > 0.0 ? g.real(41) : st != nullptr ? st->widthFactor : 1.0;
  const double oblique = g.real(51, st != nullptr ? st->oblique : 0.0);
  look.slant = kPi / 2 - oblique * kRadiansPerDegree;
  const int generation = g.integer(71, st != nullptr ? st->generation : 0);
  // Backwards text is mirrored about the axis across its base line, upside
  // down text about the base line itself.
  if (generation & 2) look.mirror = 1;
  else if (generation & 4) look.mirror = 2;
  look.fontName = fontNameOf(style);
  return look;
}

// The lines of an MTEXT: its pieces (code 3) and its end (code 1), split
// at the paragraph marks; the brace and non-breaking-space codes go.
std::vector<std::string> mtextLines(const std::string& whole) {
  std::vector<std::string> lines(1);
  for (std::size_t k = 0; k < whole.size(); ++k) {
    const char c = whole[k];
    if (c == '\\' && k + 1 < whole.size()) {
      const char next = whole[k + 1];
      if (next == 'P') {
        lines.emplace_back();
        ++k;
        continue;
      }
      if (next == '~') {
        lines.back() += ' ';
        ++k;
        continue;
      }
      if (next == '\\' || next == '{' || next == '}') {
        lines.back() += next;
        ++k;
        continue;
      }
    }
    if (c == '{' || c == '}') continue;
    lines.back() += c;
  }
  return lines;
}

// The extended data of a viewport ("MVIEW" of the application "ACAD"): the
// view height, the view centre and target, and the layers frozen in it.
struct ViewportData {
  bool present = false;
  double viewHeight = 0.0;
  double centreX = 0.0, centreY = 0.0;
  Point3 target;
  std::vector<std::string> frozen;
};

ViewportData viewportData(const DxfGroups& groups) {
  ViewportData d;
  int reals = 0, points = 0, depth = 0;
  std::size_t extended = 0;
  bool inView = false;
  for (const DxfGroup& g : groups.list()) {
    // The extended data: its first kMaxExtendedGroups groups.
    if (g.code < 1000 || g.code > 1071) continue;
    if (++extended > kMaxExtendedGroups) break;
    if (g.code == 1001) {
      inView = false;
      continue;
    }
    if (g.code == 1000 && dxfTrimmed(g.value) == "MVIEW") {
      inView = d.present = true;
      continue;
    }
    if (!inView) continue;
    if (g.code == 1002) {
      depth += dxfTrimmed(g.value) == "{" ? 1 : -1;
      continue;
    }
    if (g.code == 1010) {
      if (points == 0) d.target.x = dxfReal(g.value);
      ++points;
    } else if (g.code == 1020 && points == 1) {
      d.target.y = dxfReal(g.value);
    } else if (g.code == 1030 && points == 1) {
      d.target.z = dxfReal(g.value);
    } else if (g.code == 1040) {
      // Twist angle, view height, view centre x and y, ...
      if (reals == 1) d.viewHeight = dxfReal(g.value);
      if (reals == 2) d.centreX = dxfReal(g.value);
      if (reals == 3) d.centreY = dxfReal(g.value);
      ++reals;
    } else if (g.code == 1003 && depth >= 2) {
      d.frozen.push_back(g.value);
    }
  }
  return d;
}

}  // namespace

// One segment of a polyline from p to q: a line (110), or with a bulge (the
// tangent of a quarter of the included angle, negative for clockwise) an
// arc (100 form 1), which runs counterclockwise: from p to q for a positive
// bulge, from q to p for a negative one.  false for a segment of no length.
bool segmentValues(const Point3& p, const Point3& q, double bulge, std::int32_t& type,
                   std::vector<double>& values) {
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double length = std::hypot(dx, dy);
  if (!(length > 0.0) || !std::isfinite(length)) return false;
  // The centre lies on the chord's perpendicular bisector, at h to the
  // left of the chord (to the right for h < 0: clockwise, or more than a
  // half circle).
  const double h = length / (2.0 * std::tan(2.0 * std::atan(bulge)));
  if (!(std::fabs(bulge) > kSmallestBulge) || !std::isfinite(h)) {
    type = IgesType::kLine;
    values = {p.x, p.y, p.z, q.x, q.y, q.z};
    return true;
  }
  const double cx = (p.x + q.x) / 2.0 - dy / length * h;
  const double cy = (p.y + q.y) / 2.0 + dx / length * h;
  const Point3& from = bulge > 0.0 ? p : q;
  const Point3& to = bulge > 0.0 ? q : p;
  type = IgesType::kCircularArc;
  values = {p.z, cx, cy, from.x, from.y, to.x, to.y};
  return true;
}

int newElement(const char* code, std::int32_t type, std::int32_t form, std::int32_t& index) {
  index = newIndex();
  if (index <= 0) {
    index = 0;
    return mfaNoMemory(code);
  }
  ElementRecord& e = element(index);
  e.type = type;
  e.form = form;
  e.de.entityType = type;
  e.de.form = form;
  return 0;
}

NoteStringData noteString(const std::string& text, const TextLook& look, double angle, const Point3& start) {
  NoteStringData n;
  n.text = text;
  n.characterCount = static_cast<std::int32_t>(text.size());
  n.boxHeight = look.height;
  n.boxWidth = look.height * look.widthFactor * static_cast<double>(text.size());
  n.fontCode = 1;
  n.slant = look.slant;
  n.angle = angle;
  n.mirror = look.mirror;
  n.start = start;
  return n;
}

std::string styleFontName(std::string fontFile) {
  if (fontFile.size() >= 4 && upperAscii(fontFile.substr(fontFile.size() - 4)) == ".SHX")
    fontFile.resize(fontFile.size() - 4);
  return fontFile;
}

GraphicAttributes* attributesOf(ParamRecord* record) {
  if (auto* r = dynamic_cast<GeometryRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<NoteRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<DimensionRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<InstanceRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<ViewRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<CompositeRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<LeaderRecord*>(record)) return &r->attributes;
  if (auto* r = dynamic_cast<AnnotationRecord*>(record)) return &r->attributes;
  return nullptr;
}

Transform insertPlacement(const Point3& insertion, double rotation, double columnOffset, double rowOffset,
                          double sx, double sy, double sz, const Point3& normal) {
  Transform m = composeTransforms(translation(insertion.x, insertion.y, insertion.z),
                                  rotationZ(rotation * kRadiansPerDegree));
  m = composeTransforms(m, translation(columnOffset, rowOffset, 0.0));
  m = composeTransforms(m, scaling(sx, sy, sz));
  Transform ocs;
  if (arbitraryAxis(normal, ocs)) m = composeTransforms(ocs, m);
  return m;
}

void copiousValues(const std::vector<Point3>& points, std::vector<double>& v) {
  v.reserve(2 + 3 * points.size());
  v.push_back(2);
  v.push_back(static_cast<double>(points.size()));
  for (const Point3& p : points) {
    v.push_back(p.x);
    v.push_back(p.y);
    v.push_back(p.z);
  }
}

std::vector<Point3> polylinePoints(const std::vector<DxfVertex>& vertices, bool closed) {
  std::vector<Point3> points;
  points.reserve(vertices.size() + 1);
  for (const DxfVertex& v : vertices) points.push_back(v.p);
  if (closed && vertices.size() > 1) points.push_back(vertices.front().p);
  return points;
}

bool hasBulge(const std::vector<DxfVertex>& vertices, bool closed) {
  const std::size_t segments = closed || vertices.empty() ? vertices.size() : vertices.size() - 1;
  for (std::size_t k = 0; k < segments; ++k)
    if (std::fabs(vertices[k].bulge) > kSmallestBulge && std::isfinite(vertices[k].bulge)) return true;
  return false;
}

void splineValues(const std::vector<Point3>& controls, int degree, std::vector<double> knots,
                  const std::vector<double>& weights, bool planar, bool closed, bool periodic, const Point3& normal,
                  std::vector<double>& v) {
  const int k = static_cast<int>(controls.size()) - 1;
  const int m = std::clamp(degree, 1, std::max(1, k));
  const std::size_t knotCount = static_cast<std::size_t>(k + m + 2);
  bool ascending = knots.size() == knotCount;
  for (std::size_t i = 1; ascending && i < knots.size(); ++i)
    ascending = std::isfinite(knots[i]) && knots[i] >= knots[i - 1];
  if (!ascending || !(knots.back() > knots.front())) {
    knots.clear();
    for (int i = 0; i <= k + m + 1; ++i) {
      if (i <= m) knots.push_back(0.0);
      else if (i > k) knots.push_back(1.0);
      else knots.push_back(static_cast<double>(i - m) / (k - m + 1));
    }
  }
  const bool rational = weights.size() == controls.size() &&
                        std::any_of(weights.begin(), weights.end(), [&](double w) { return w != weights.front(); });
  v.reserve(6 + knotCount + static_cast<std::size_t>(k + 1) * 4 + 5);
  v.push_back(k);
  v.push_back(m);
  v.push_back(planar ? 1 : 0);
  v.push_back(closed ? 1 : 0);
  v.push_back(rational ? 0 : 1);
  v.push_back(periodic ? 1 : 0);
  v.insert(v.end(), knots.begin(), knots.end());
  for (std::size_t i = 0; i < controls.size(); ++i) v.push_back(rational ? weights[i] : 1.0);
  for (const Point3& p : controls) {
    v.push_back(p.x);
    v.push_back(p.y);
    v.push_back(p.z);
  }
  v.push_back(knots[static_cast<std::size_t>(m)]);
  v.push_back(knots[static_cast<std::size_t>(k + 1)]);
  v.push_back(normal.x);
  v.push_back(normal.y);
  v.push_back(normal.z);
}

// ---------------------------------------------------------------------------

std::int32_t dimensionTypeOf(int flags) {
  static constexpr std::int32_t kTypes[8] = {
      IgesType::kLinearDimension,   IgesType::kLinearDimension,  IgesType::kAngularDimension,
      IgesType::kDiameterDimension, IgesType::kRadiusDimension,  IgesType::kAngularDimension,
      IgesType::kOrdinateDimension, IgesType::kTransferDimension};
  return kTypes[flags & 7];
}

bool arbitraryAxis(const Point3& normal, Transform& out) {
  const double length = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  if (!(length > 0.0) || !std::isfinite(length)) return false;
  const double nx = normal.x / length, ny = normal.y / length, nz = normal.z / length;
  if (std::fabs(nx) < 1e-12 && std::fabs(ny) < 1e-12 && nz > 0.0) return false;
  // Ax = W x N with W the world y axis near the z axis, else the z axis.
  double ax, ay, az;
  if (std::fabs(nx) < kArbitraryAxisLimit && std::fabs(ny) < kArbitraryAxisLimit) {
    ax = nz;  // (0,1,0) x N
    ay = 0.0;
    az = -nx;
  } else {
    ax = -ny;  // (0,0,1) x N
    ay = nx;
    az = 0.0;
  }
  const double al = std::sqrt(ax * ax + ay * ay + az * az);
  ax /= al;
  ay /= al;
  az /= al;
  // Ay = N x Ax.
  const double bx = ny * az - nz * ay, by = nz * ax - nx * az, bz = nx * ay - ny * ax;
  out = axesAt(Point3{}, Point3{ax, ay, az}, Point3{bx, by, bz}, Point3{nx, ny, nz});
  return true;
}

int applyExtrusion(std::int32_t index) {
  TraceScope t("ldv820");
  try {
    auto m = objectSystem();
    if (m != nullptr) element(index).matrix = std::move(m);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

int applyCommonAttributes(std::int32_t index, long line, std::int32_t father) {
  TraceScope t("ldv800");
  DxfReaderState& s = dxfReader();
  const DxfGroups& g = s.groups;
  ElementRecord& e = element(index);
  e.de.sequence = clampLine(line);
  // The position of the element's messages: its line in the DXF file.
  e.de.paramPointer = clampLine(line);
  e.de.entityType = e.type;
  e.de.form = e.form;
  // The level is the layer's position in the layer table; a layer the
  // table does not list is added, so that it keeps a level of its own.
  const std::string layerName = !dxfTrimmed(g.text(8)).empty() ? g.text(8) : "0";
  std::int32_t layer = findLayer(layerName);
  if (layer < 0) {
    try {
      DxfLayerEntry added;
      added.name = layerName;
      layer = s.layers.add(std::move(added));
    } catch (const std::bad_alloc&) {
      mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
    }
  }
  e.de.level = layer;
  const DxfLayerEntry* l = layer >= 0 ? &s.layers.entries[static_cast<std::size_t>(layer)] : nullptr;
  const bool hasFather = isElementIndex(father);
  // Colour: 0 by block (the father's), 256 (or none) by layer.
  const int colour = g.has(62) ? g.colour() : 256;
  if (colour == 0) e.de.colour = hasFather ? element(father).de.colour : 7;
  else if (colour == 256) e.de.colour = l != nullptr ? l->colour : 7;
  else e.de.colour = colour;
  // Line type.
  const std::string lineType = upperAscii(dxfTrimmed(g.text(6)));
  if (lineType.empty() || lineType == "BYLAYER") {
    e.de.lineFont = lineFontOf(l != nullptr ? l->lineType : "CONTINUOUS");
    e.de.lineWeight = kWeightNormal;
  } else if (lineType == "BYBLOCK") {
    e.de.lineFont = hasFather ? element(father).de.lineFont : 1;
    e.de.lineWeight = kWeightByBlock;
  } else {
    e.de.lineWeight = kWeightNormal;
    if (findLineType(lineType) < 0) {
      mfaSetPosition(index, 0);
      mfaError(t.code(), kMsgUnknownLineType, Channel::kProtocol);
      mfaClearPosition();
      e.de.lineFont = 1;
    } else {
      e.de.lineFont = lineFontOf(lineType);
    }
  }
  // Block contents are the block's sons.
  if (hasFather) linkFatherSon(father, index);
  if (GraphicAttributes* a = attributesOf(element(index).params.get())) copyAttributes(*a, element(index).de);
  // Paper space belongs to the drawing.
  if ((g.integer(67) != 0 || s.inPaperSpaceBlock) && !hasFather && isElementIndex(s.drawing) && index != s.drawing)
    linkFatherSon(s.drawing, index);
  return 0;
}

void applyMemberAttributes(std::int32_t index) {
  TraceScope t("ldv800");
  const DirectoryFields& de = element(index).de;
  for (std::int32_t m : dxfReader().members) {
    if (!isElementIndex(m)) continue;
    ElementRecord& e = element(m);
    e.de = de;
    e.de.entityType = e.type;
    e.de.form = e.form;
    if (GraphicAttributes* a = attributesOf(e.params.get())) copyAttributes(*a, e.de);
  }
}

// ---------------------------------------------------------------------------
// Geometry

int mapLine(std::int32_t& index) {
  TraceScope t("ldv801");
  auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kLine, 0, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  const Point3 a = g.point(10);
  const Point3 b = g.point(11);
  rec->values = {a.x, a.y, a.z, b.x, b.y, b.z};
  return 0;
}

int mapPoint(std::int32_t& index) {
  TraceScope t("ldv802");
  auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kPoint, 0, index);
  if (rec == nullptr) return -1;
  const Point3 p = store().point(10);
  rec->values = {p.x, p.y, p.z};
  return 0;
}

namespace {

// A circle (form 0) or an arc (form 1) in its object coordinate system:
// ZT, centre, start and end point as the 100's parameter data.
int mapCircularArc(const char* code, int form, std::int32_t& index) {
  auto* rec = newRecord<GeometryRecord>(code, IgesType::kCircularArc, form, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  const Point3 c = g.point(10);
  const double r = g.real(40);
  double a1 = 0.0, a2 = 0.0;
  if (form == 1) {
    a1 = g.real(50) * kRadiansPerDegree;
    a2 = g.real(51) * kRadiansPerDegree;
  }
  rec->values = {c.z, c.x, c.y, c.x + r * std::cos(a1), c.y + r * std::sin(a1), c.x + r * std::cos(a2),
                 c.y + r * std::sin(a2)};
  return applyExtrusion(index);
}

}  // namespace

int mapCircle(std::int32_t& index) {
  TraceScope t("ldv803");
  return mapCircularArc(t.code(), 0, index);
}

int mapArc(std::int32_t& index) {
  TraceScope t("ldv804");
  return mapCircularArc(t.code(), 1, index);
}

int mapSolid(std::int32_t& index) {
  TraceScope t("ldv806");
  auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kCopiousData, 63, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  // The outline runs through the corners 1, 2, 4, 3; a triangle repeats
  // its third corner as the fourth.
  const Point3 p1 = g.point(10);
  const Point3 p2 = g.point(11);
  const Point3 p3 = g.point(12);
  const Point3 p4 = g.has(13) ? g.point(13) : p3;
  std::vector<Point3> outline{p1, p2, p4};
  if (p4.x != p3.x || p4.y != p3.y) outline.push_back(p3);
  outline.push_back(p1);
  std::vector<double>& v = rec->values;
  v = {1.0, static_cast<double>(outline.size()), p1.z};
  for (const Point3& p : outline) {
    v.push_back(p.x);
    v.push_back(p.y);
  }
  return applyExtrusion(index);
}

// ---------------------------------------------------------------------------
// Texts

namespace {

// The note (212) of a TEXT or MTEXT, its look and font taken from the
// groups and the text style.
DxfNoteRecord* newNote(const char* code, TextLook& look, std::int32_t& index) {
  auto* rec = newRecord<DxfNoteRecord>(code, IgesType::kGeneralNote, 0, index);
  if (rec == nullptr) return nullptr;
  look = textLook();
  rec->fontName = look.fontName;
  return rec;
}

// An instance (408) of an insert or a shape with its placement (see
// insertPlacement).
int newInstance(const char* code, double columnOffset, double rowOffset, double sx, double sy, double sz,
                std::int32_t& index) {
  if (newRecord<InstanceRecord>(code, IgesType::kSubfigureInstance, 0, index) == nullptr) return -1;
  try {
    element(index).matrix = std::make_unique<Transform>(insertPlacement(columnOffset, rowOffset, sx, sy, sz));
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(code);
  }
  return 0;
}

}  // namespace

int mapText(std::int32_t& index) {
  TraceScope t("ldv807");
  TextLook look;
  auto* rec = newNote(t.code(), look, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  rec->strings.push_back(noteString(g.text(1), look, g.real(50) * kRadiansPerDegree, g.point(10)));
  return applyExtrusion(index);
}

int mapMText(std::int32_t& index) {
  TraceScope t("ldv807");
  TextLook look;
  auto* rec = newNote(t.code(), look, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  // The direction vector (11, 21) wins over the rotation angle.
  double angle = g.real(50) * kRadiansPerDegree;
  const Point3 direction = g.point(11);
  if (g.has(11) && (direction.x != 0.0 || direction.y != 0.0)) angle = std::atan2(direction.y, direction.x);
  // Attachment points 1..3 hang the text below the insertion point, 4..6
  // centre it, 7..9 put its last line on it.
  const std::vector<std::string> lines = mtextLines(g.joined(3, kMaxTextChunks) + g.text(1));
  const int attachment = g.integer(71, 1);
  const Point3 at = g.point(10);
  const double step = look.height * kMTextLineSpacing;
  const double total = step * static_cast<double>(lines.size() - 1);
  double first = -look.height;
  if (attachment >= 4 && attachment <= 6) first = total / 2.0 - look.height / 2.0;
  else if (attachment >= 7 && attachment <= 9) first = total;
  const double c = std::cos(angle), s = std::sin(angle);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const double dy = first - step * static_cast<double>(k);
    const Point3 start{at.x - s * dy, at.y + c * dy, at.z};
    rec->strings.push_back(noteString(lines[k], look, angle, start));
  }
  return applyExtrusion(index);
}

// ---------------------------------------------------------------------------
// Blocks and instances

int mapShape(std::int32_t& index) {
  TraceScope t("ldv808");
  // The shapes' outlines are in shape files, which are not read: the
  // instance has no definition and is counted as not carried.
  ++dxfReader().notCarried[DxfNotCarried::kShape];
  const DxfGroups& g = store();
  const double size = g.real(40) != 0.0 ? g.real(40) : 1.0;
  return newInstance(t.code(), 0.0, 0.0, size * scaleFactor(41), size, size, index);
}

int mapBlock(std::int32_t& index) {
  TraceScope t("ldv809");
  auto* rec = newRecord<BlockRecord>(t.code(), IgesType::kSubfigureDefinition, 0, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  rec->name = g.text(2);
  rec->base = g.point(10);
  rec->blockFlags = g.integer(70);
  return 0;
}

int mapInsert(std::int32_t& index) {
  TraceScope t("ldv810");
  return newInstance(t.code(), 0.0, 0.0, scaleFactor(41), scaleFactor(42), scaleFactor(43), index);
}

int mapInsertArray(std::int32_t first, std::vector<std::int32_t>& copies) {
  TraceScope t("ldv810");
  DxfReaderState& s = dxfReader();
  const DxfGroups& g = store();
  const long columns = std::max(g.integer(70), 1);
  const long rows = std::max(g.integer(71), 1);
  if (columns == 1 && rows == 1) return 0;
  const double dx = g.real(44), dy = g.real(45);
  for (long r = 0; r < rows; ++r) {
    for (long c = 0; c < columns; ++c) {
      if (r == 0 && c == 0) continue;
      if (s.arrayCellBudget <= 0) {
        // More copies than the file could describe: the rest is left.
        mfaSetPosition(first, 0);
        mfaWarning(t.code(), 790, Channel::kProtocol);
        mfaClearPosition();
        return -1;
      }
      --s.arrayCellBudget;
      std::int32_t index = 0;
      if (newInstance(t.code(), static_cast<double>(c) * dx, static_cast<double>(r) * dy, scaleFactor(41),
                      scaleFactor(42), scaleFactor(43), index) != 0)
        return -1;
      try {
        copies.push_back(index);
      } catch (const std::bad_alloc&) {
        return mfaNoMemory(t.code());
      }
    }
  }
  return 0;
}

namespace {

// Attribute flags (group 70).
constexpr int kAttributeInvisible = 1;
constexpr int kAttributeConstant = 2;

// A visible attribute value is a text like TEXT; the others are recorded
// (type 6050 or 6051) and counted as not carried.
int mapAttribute(const char* code, std::int32_t recordType, int notCarried, std::int32_t& index) {
  if (notCarried < 0) {
    TextLook look;
    auto* rec = newNote(code, look, index);
    if (rec == nullptr) return -1;
    const DxfGroups& g = store();
    rec->strings.push_back(noteString(g.text(1), look, g.real(50) * kRadiansPerDegree, g.point(10)));
    return applyExtrusion(index);
  }
  ++dxfReader().notCarried[notCarried];
  return newElement(code, recordType, 0, index);
}

}  // namespace

int mapAttDef(std::int32_t& index) {
  TraceScope t("ldv811");
  // A definition shows its value in every insert of its block only when
  // the value is constant; the others are shown by the ATTRIB entities
  // that follow each insert.
  const int flags = store().integer(70);
  int notCarried = -1;
  if ((flags & kAttributeInvisible) != 0) notCarried = DxfNotCarried::kInvisibleAttribute;
  else if ((flags & kAttributeConstant) == 0) notCarried = DxfNotCarried::kAttributeTemplate;
  return mapAttribute(t.code(), 6050, notCarried, index);
}

int mapAttrib(std::int32_t& index) {
  TraceScope t("ldv812");
  const bool invisible = (store().integer(70) & kAttributeInvisible) != 0;
  return mapAttribute(t.code(), 6051, invisible ? DxfNotCarried::kInvisibleAttribute : -1, index);
}

int mapFace(std::int32_t& index) {
  TraceScope t("ldv805");
  const DxfGroups& g = store();
  // The corners in order; a triangle repeats its third corner.  Bit k of
  // group 70 hides the edge from corner k+1 to the next.
  const Point3 corners[4] = {g.point(10), g.point(11), g.point(12), g.point(g.has(13) ? 13 : 12)};
  const int hidden = g.integer(70) & 15;
  const auto same = [](const Point3& a, const Point3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; };
  if (hidden == 0) {
    // The whole outline: a closed area of (x, y, z) points.
    auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kCopiousData, 63, index);
    if (rec == nullptr) return -1;
    std::vector<Point3> outline;
    for (const Point3& p : corners)
      if (outline.empty() || !same(outline.back(), p)) outline.push_back(p);
    outline.push_back(corners[0]);
    copiousValues(outline, rec->values);
    return 0;
  }
  // Some edges hidden: each visible edge is a line of its own.
  index = 0;
  for (int k = 0; k < 4; ++k) {
    const Point3& a = corners[k];
    const Point3& b = corners[(k + 1) % 4];
    if ((hidden & (1 << k)) != 0 || same(a, b)) continue;
    std::int32_t line = 0;
    auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kLine, 0, line);
    if (rec == nullptr) return index != 0 ? 0 : -1;
    rec->values = {a.x, a.y, a.z, b.x, b.y, b.z};
    if (index == 0) {
      index = line;
      continue;
    }
    try {
      dxfReader().companions.push_back(line);
    } catch (const std::bad_alloc&) {
      mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
      setStateRaw(line, ElementState::kError);
    }
  }
  // No edge to draw: the face is recorded and shows nothing, as in the
  // drawing it came from.
  if (index == 0) return newElement(t.code(), 6000, 0, index);
  return 0;
}

// ---------------------------------------------------------------------------
// Polylines

namespace {

// A member of a contour: a line or an arc of its own, physically
// dependent on the contour, which places it (it takes the contour's
// attributes after them, see applyMemberAttributes).
int newMember(const char* code, std::int32_t contour, std::int32_t type, std::vector<double> values) {
  std::int32_t index = 0;
  auto* rec = newRecord<GeometryRecord>(code, type, type == IgesType::kCircularArc ? 1 : 0, index);
  if (rec == nullptr) return -1;
  rec->values = std::move(values);
  element(index).dependency = 'p';
  try {
    dxfReader().members.push_back(index);
  } catch (const std::bad_alloc&) {
    mfaError(code, kMsgNoMemory, Channel::kBoth);
    setStateRaw(index, ElementState::kError);
    return -1;
  }
  return linkFatherSon(contour, index) == 0 ? 0 : -1;
}

// A polyline with arc segments: a composite curve (102) of its lines and
// arcs in the order of the vertices, in the polyline's object coordinate
// system.
int mapContour(const char* code, const std::vector<DxfVertex>& vertices, bool closed, std::int32_t& index) {
  const std::size_t n = vertices.size();
  const std::size_t segments = closed && n > 1 ? n : n - 1;
  std::vector<std::pair<std::int32_t, std::vector<double>>> pieces;
  pieces.reserve(segments);
  for (std::size_t k = 0; k < segments; ++k) {
    std::pair<std::int32_t, std::vector<double>> piece;
    if (segmentValues(vertices[k].p, vertices[(k + 1) % n].p, vertices[k].bulge, piece.first, piece.second))
      pieces.push_back(std::move(piece));
  }
  if (pieces.empty()) return -1;
  auto* rec = newRecord<CompositeRecord>(code, IgesType::kCompositeCurve, 0, index);
  if (rec == nullptr) return -1;
  for (auto& [type, values] : pieces)
    if (newMember(code, index, type, std::move(values)) != 0) break;
  rec->constituents = dxfReader().members;
  return applyExtrusion(index);
}

}  // namespace

int mapPolyline(std::int32_t& index) {
  TraceScope t("ldv813");
  const DxfReaderState& s = dxfReader();
  const int flags = s.groups.integer(70);
  const bool closed = (flags & 1) != 0;
  const bool splineFit = (flags & 4) != 0;
  const bool threeD = (flags & (8 | 16 | 64)) != 0;
  const double elevation = s.groups.real(30);
  std::vector<DxfVertex> vertices, frame;
  try {
    for (DxfVertex x : s.vertices) {
      // Face records of a polyface mesh hold no position.
      if ((x.flags & 128) != 0 && (x.flags & 64) == 0) continue;
      if (!threeD) x.p.z = elevation;
      if ((x.flags & 16) != 0) frame.push_back(x);
      else if ((x.flags & 8) == 0 || !splineFit) vertices.push_back(x);
    }
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  // A spline fit keeps its frame (control) points; the fitted points the
  // writer added are the curve's approximation.
  if (splineFit) {
    const std::vector<DxfVertex>& controls = frame.empty() ? vertices : frame;
    if (controls.size() >= 2) {
      auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kBSplineCurve, 0, index);
      if (rec == nullptr) return -1;
      std::vector<Point3> points;
      points.reserve(controls.size());
      for (const DxfVertex& v : controls) points.push_back(v.p);
      const int degree = s.header.splineType == 5 ? 2 : 3;
      splineValues(points, degree, {}, {}, true, closed, closed, Point3{0.0, 0.0, 1.0}, rec->values);
      return threeD ? 0 : applyExtrusion(index);
    }
  }
  if (vertices.empty()) vertices = frame;
  if (vertices.empty()) return -1;
  if (!threeD && hasBulge(vertices, closed)) {
    try {
      return mapContour(t.code(), vertices, closed, index);
    } catch (const std::bad_alloc&) {
      return mfaNoMemory(t.code());
    }
  }
  auto* rec = newRecord<GeometryRecord>(t.code(), IgesType::kCopiousData,
                                        closed && vertices.size() > 2 ? 63 : 11, index);
  if (rec == nullptr) return -1;
  copiousValues(polylinePoints(vertices, closed && vertices.size() > 2), rec->values);
  return threeD ? 0 : applyExtrusion(index);
}

// ---------------------------------------------------------------------------
// Drawing, viewports, dimensions

int mapDrawing(std::int32_t& index) {
  TraceScope t("ldv819");
  auto* rec = newRecord<DrawingRecord>(t.code(), IgesType::kDrawing, 0, index);
  if (rec == nullptr) return -1;
  ElementRecord& e = element(index);
  e.de.sequence = clampLine(dxfReader().current.line);
  setStateRaw(index, ElementState::kRegistered);
  elementTable().drawingsPresent = true;
  return 0;
}

int mapViewport(std::int32_t& index) {
  TraceScope t("ldv817");
  DxfReaderState& s = dxfReader();
  auto* rec = newRecord<DxfViewRecord>(t.code(), IgesType::kView, 0, index);
  if (rec == nullptr) return -1;
  const DxfGroups& g = store();
  rec->viewNumber = g.integer(69);
  setStateRaw(index, ElementState::kRegistered);
  elementTable().drawingsPresent = true;
  ViewportData d = viewportData(g);
  rec->hasLevelList = d.present;
  if (!d.present && g.has(12) && g.has(45)) {
    // Later releases give the view in groups of their own: centre 12,
    // target 17, height 45 (their frozen layers are handles, not names).
    d.present = true;
    d.centreX = g.real(12);
    d.centreY = g.real(22);
    d.target = g.point(17);
    d.viewHeight = g.real(45);
  }
  rec->frozenLayers = std::move(d.frozen);
  // The viewport shows the model around the view centre, its view height
  // on its own height on the sheet.
  const double paperHeight = g.real(41);
  double scale = 1.0;
  if (d.present && d.viewHeight > 0.0 && paperHeight > 0.0 && std::isfinite(paperHeight / d.viewHeight))
    scale = paperHeight / d.viewHeight;
  rec->scale = scale;
  const double x = g.real(10) - scale * (d.target.x + d.centreX);
  const double y = g.real(20) - scale * (d.target.y + d.centreY);
  // The sheet's own viewport (identifier 1) and one switched off (status
  // 0) show no model view.
  const int status = g.integer(68, 1);
  if (isElementIndex(s.drawing) && rec->viewNumber != 1 && status != 0) {
    if (auto* drawing = dynamic_cast<DrawingRecord*>(element(s.drawing).params.get())) {
      try {
        drawing->views.push_back(DrawingRecord::ViewSlot{index, x, y});
      } catch (const std::bad_alloc&) {
        mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
      }
    }
  }
  return 0;
}

void makeViewLevelLists() {
  DxfReaderState& s = dxfReader();
  const std::int32_t last = elementTable().lastIndex;
  // The positions of each layer name (a name may stand in the table more
  // than once), made when the first view needs them.
  std::unordered_map<std::string, std::vector<std::int32_t>> positions;
  bool made = false;
  for (std::int32_t i = 1; i <= last; ++i) {
    if (element(i).type != IgesType::kView) continue;
    auto* rec = dynamic_cast<DxfViewRecord*>(element(i).params.get());
    if (rec == nullptr || !rec->hasLevelList) continue;
    try {
      if (!made) {
        for (std::size_t k = 0; k < s.layers.entries.size(); ++k)
          positions[upperAscii(s.layers.entries[k].name)].push_back(static_cast<std::int32_t>(k));
        made = true;
      }
      std::unordered_set<std::string> frozen;
      rec->hiddenLevels.clear();
      for (const std::string& name : rec->frozenLayers) {
        const std::string key = upperAscii(dxfTrimmed(name));
        if (!frozen.insert(key).second) continue;
        const auto it = positions.find(key);
        if (it != positions.end()) rec->hiddenLevels.insert(rec->hiddenLevels.end(), it->second.begin(), it->second.end());
      }
      std::sort(rec->hiddenLevels.begin(), rec->hiddenLevels.end());
    } catch (const std::bad_alloc&) {
      rec->hasLevelList = false;
    }
  }
}

int mapDimension(std::int32_t& index) {
  TraceScope t("ldv818");
  const DxfGroups& g = store();
  auto* rec = newRecord<DimensionRecord>(t.code(), dimensionTypeOf(g.integer(70)), 0, index);
  if (rec == nullptr) return -1;
  // The definition points 10..16, then 40 and 41.
  for (int code = 10; code <= 16; ++code) {
    const Point3 p = g.point(code);
    rec->values.push_back(p.x);
    rec->values.push_back(p.y);
    rec->values.push_back(p.z);
  }
  rec->values.push_back(g.real(40));
  rec->values.push_back(g.real(41));
  return 0;
}

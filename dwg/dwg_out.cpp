#include "dwg/dwg_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <unordered_map>
#include <utility>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/audit.h"
#include "drawingdb/code_page.h"
#include "drawingdb/dimension_block.h"
#include "drawingdb/file_io.h"
#include "drawingdb/plane.h"
#include "dwg/dwg_texts.h"
#include "support/ide_msg.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

using drawingdb::Point3;
namespace plane = drawingdb::plane;

// An entity of `kind` holding `data`, its data made once (an entity made
// empty holds data of its kind already, which giving it other data would
// make a second time).
template <class Data>
drawingdb::Entity entityOf(drawingdb::EntityKind kind, Data&& data) {
  return drawingdb::Entity{drawingdb::EntityCommon{}, kind, drawingdb::kNewestRelease,
                           drawingdb::EntityData(std::forward<Data>(data))};
}

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
// A text's width factor when neither the configuration nor the sender gives one.
constexpr double kDefaultTextWidth = 0.66;
// The sender whose own text width factors are kept.
constexpr int kSenderWithOwnWidth = 4;

constexpr int kMsgAuditReportUnwritten = 1316;  // &t: the report and why
constexpr int kMsgSaveRefused = 1317;           // &t: the file and why
constexpr int kMsgOutputUnwritable = 1300;      // &t: the file and why
constexpr int kMsgOutputNotCreated = 1301;      // &t: the file and why
constexpr int kMsgPartsLeftOut = 1337;          // &i: how many, &t: the first

bool finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

double distance(const Point3& a, const Point3& b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }

// The direction from the centre to p, in [0, 2 pi).
double directionOf(const Point3& center, const Point3& p) {
  double angle = std::atan2(p.y - center.y, p.x - center.x);
  if (angle < 0) angle += kTwoPi;
  return angle;
}

// A text of the element table (ISO 8859-1, a character a byte) as the
// database holds text (UTF-8), without line breaks or other control bytes,
// which a DXF text value cannot hold.
std::string printable(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    drawingdb::appendUtf8(b < 0x20 ? ' ' : b, shown);
  }
  return shown;
}

// Within this distance two boundary curves meet and a chain closes.
constexpr double kBoundaryGap = 0.0001;
// The highest spline degree the database is given.
constexpr int kMaxSplineDegree = 25;
// An angle of a hatch pattern this small (radians) is no angle.
constexpr double kNoHatchAngle = 0.0001;

// The ends of a boundary curve in the order it was collected.
struct CurveEnds {
  Point3 a, b;
};

// The point of an elliptic arc at parameter t.
Point3 ellipsePoint(const DwgBoundaryCurve& c, double t) {
  const Point3 minor{-c.majorAxis.y * c.ratio, c.majorAxis.x * c.ratio, 0};
  return {c.center.x + c.majorAxis.x * std::cos(t) + minor.x * std::sin(t),
          c.center.y + c.majorAxis.y * std::cos(t) + minor.y * std::sin(t), 0};
}

CurveEnds endsOf(const DwgBoundaryCurve& c) {
  if (c.ellipse) return {ellipsePoint(c, c.startAngle), ellipsePoint(c, c.endAngle)};
  if (!c.arc) return {c.start, c.end};
  return {{c.center.x + c.radius * std::cos(c.startAngle), c.center.y + c.radius * std::sin(c.startAngle), 0},
          {c.center.x + c.radius * std::cos(c.endAngle), c.center.y + c.radius * std::sin(c.endAngle), 0}};
}

// The edge of a hatch loop that runs along the curve, forwards or back.
// An arc run backwards is a clockwise edge, whose angles the database
// holds mirrored.
drawingdb::HatchEdge edgeOf(const DwgBoundaryCurve& c, bool reversed) {
  drawingdb::HatchEdge e;
  if (!c.arc && !c.ellipse) {
    e.type = 1;
    e.start = reversed ? c.end : c.start;
    e.end = reversed ? c.start : c.end;
    return e;
  }
  e.type = c.ellipse ? 3 : 2;
  e.start = {c.center.x, c.center.y, 0};
  e.radius = c.ellipse ? c.ratio : c.radius;
  if (c.ellipse) e.end = {c.majorAxis.x, c.majorAxis.y, 0};
  const double from = c.startAngle * kDegreesPerRadian, to = c.endAngle * kDegreesPerRadian;
  e.counterClockwise = !reversed;
  e.startAngle = reversed ? 360 - to : from;
  e.endAngle = reversed ? 360 - from : to;
  return e;
}

// Finds curve ends near a point: the ends sit in cells of a grid of the
// gap's size, a point looks at its cell and the eight around it.
class EndGrid {
 public:
  void add(const Point3& p, std::size_t entry) { cells_.emplace(key(cell(p.x), cell(p.y)), entry); }
  template <class Take>
  bool find(const Point3& p, Take take) const {
    const std::int64_t cx = cell(p.x), cy = cell(p.y);
    for (std::int64_t dx = -1; dx <= 1; ++dx)
      for (std::int64_t dy = -1; dy <= 1; ++dy) {
        const auto range = cells_.equal_range(key(cx + dx, cy + dy));
        for (auto it = range.first; it != range.second; ++it)
          if (take(it->second)) return true;
      }
    return false;
  }

 private:
  static std::int64_t cell(double v) {
    // Coordinates beyond any drawing share the outermost cells.
    return static_cast<std::int64_t>(std::floor(std::clamp(v / kBoundaryGap, -1e15, 1e15)));
  }
  static std::uint64_t key(std::int64_t x, std::int64_t y) {
    return static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(y);
  }
  std::unordered_multimap<std::uint64_t, std::size_t> cells_;
};

// The loops of the boundary list: each curve not yet taken starts a chain
// that takes, end to start, the curve meeting its open end (the next one
// of the list when it does, as contours come in order); a chain whose end
// comes back to its start is a loop, any other is left out.  The first
// loop is the outer boundary.
std::vector<drawingdb::HatchPath> boundaryLoops(const std::vector<DwgBoundaryCurve>& curves) {
  std::vector<CurveEnds> ends;
  ends.reserve(curves.size());
  std::vector<bool> taken(curves.size(), false);
  EndGrid grid;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    ends.push_back(endsOf(curves[i]));
    // A segment without length bounds nothing.
    if (!curves[i].arc && !curves[i].ellipse && distance(ends[i].a, ends[i].b) == 0) taken[i] = true;
    grid.add(ends[i].a, 2 * i);
    grid.add(ends[i].b, 2 * i + 1);
  }
  std::vector<drawingdb::HatchPath> loops;
  for (std::size_t first = 0; first < curves.size(); ++first) {
    if (taken[first]) continue;
    taken[first] = true;
    drawingdb::HatchPath loop;
    loop.flags = loops.empty() ? 1 : 0;
    loop.edges.push_back(edgeOf(curves[first], false));
    const Point3 start = ends[first].a;
    Point3 open = ends[first].b;
    std::size_t last = first;
    bool closed = distance(open, start) <= kBoundaryGap;
    while (!closed) {
      std::size_t next = curves.size();
      bool reversed = false;
      auto take = [&](std::size_t entry) {
        const std::size_t i = entry / 2;
        if (taken[i]) return false;
        const Point3& p = entry % 2 == 0 ? ends[i].a : ends[i].b;
        if (distance(p, open) > kBoundaryGap) return false;
        next = i;
        reversed = entry % 2 == 1;
        return true;
      };
      const std::size_t following = last + 1;
      if (!(following < curves.size() && (take(2 * following) || take(2 * following + 1))) && !grid.find(open, take))
        break;
      taken[next] = true;
      loop.edges.push_back(edgeOf(curves[next], reversed));
      open = reversed ? ends[next].a : ends[next].b;
      last = next;
      closed = distance(open, start) <= kBoundaryGap;
    }
    if (closed) loops.push_back(std::move(loop));
  }
  return loops;
}

// A user-defined pattern: lines at the angle (degrees), `spacing` apart,
// and with cross hatching the same lines turned a quarter.
std::vector<drawingdb::HatchLine> userPatternLines(double angle, double spacing, bool doubled) {
  std::vector<drawingdb::HatchLine> lines;
  for (int family = 0; family < (doubled ? 2 : 1); ++family) {
    drawingdb::HatchLine l;
    l.angle = std::fmod(angle + 90.0 * family, 360.0);
    const plane::Vec offset = plane::perpendicular(plane::direction(plane::radians(l.angle))) * spacing;
    l.offsetX = offset.x;
    l.offsetY = offset.y;
    lines.push_back(l);
  }
  return lines;
}

plane::Vec vecOf(const Point3& p) { return {p.x, p.y}; }
Point3 pointOf(plane::Vec v) { return {v.x, v.y, 0}; }

// The dimension of the database for the output step's dimension: its kind,
// points and measurement (lengths, angles in radians), and the middle of
// its text.  false when the points do not make the dimension.
bool dimensionOf(const DwgDimension& p, drawingdb::Dimension& d, bool& textPlaced) {
  using plane::Vec;
  const int kind = p.kindCode & 7;
  const std::size_t need = kind == 2 || kind == 3 ? 2 : 3;
  if (p.points.size() < need) return false;
  for (const Point3& q : p.points)
    if (!finite(q)) return false;
  textPlaced = false;
  if (kind == 1) {
    const Vec p1 = vecOf(p.points[0]), p2 = vecOf(p.points[1]), p3 = vecOf(p.points[2]);
    Vec along;
    if (p.orientation == 1 || p.orientation == 2) {
      along = p.orientation == 1 ? Vec{1, 0} : Vec{0, 1};
      d.flags = static_cast<std::int32_t>(drawingdb::DimensionKind::Linear);
      d.rotation = p.orientation == 1 ? 0 : 90;
    } else if (plane::length(p2 - p1) > 0) {
      along = plane::unit(p2 - p1);
      d.flags = static_cast<std::int32_t>(drawingdb::DimensionKind::Aligned);
    } else {
      if (!std::isfinite(p.angle)) return false;
      along = plane::direction(p.angle);
      d.flags = static_cast<std::int32_t>(drawingdb::DimensionKind::Linear);
      d.rotation = p.angle * kDegreesPerRadian;
    }
    const Vec normal = plane::perpendicular(along);
    const Vec a1 = p1 + normal * plane::dot(p3 - p1, normal);
    const Vec a2 = p2 + normal * plane::dot(p3 - p2, normal);
    d.definition = pointOf(a2);
    d.defPoint2 = pointOf(p1);
    d.defPoint3 = pointOf(p2);
    d.textMid = pointOf((a1 + a2) * 0.5);
    d.measurement = std::fabs(plane::dot(p2 - p1, along));
    return true;
  }
  if (kind == 2 || kind == 3) {
    const Vec centre = vecOf(p.points[0]), on = vecOf(p.points[1]);
    const double radius = plane::length(on - centre);
    if (!(radius > 0)) return false;
    const bool diameter = kind == 2;
    d.flags = static_cast<std::int32_t>(diameter ? drawingdb::DimensionKind::Diameter : drawingdb::DimensionKind::Radius);
    d.definition = pointOf(diameter ? centre * 2 - on : centre);
    d.defPoint4 = pointOf(on);
    d.measurement = diameter ? 2 * radius : radius;
    textPlaced = p.points.size() > 2;
    d.textMid = textPlaced ? pointOf(vecOf(p.points[2])) : pointOf(diameter ? centre : (centre + on) * 0.5);
    return true;
  }
  // Angles and arc lengths: the angle at the vertex between the legs.
  const Vec vertex = vecOf(p.points[0]), leg1 = vecOf(p.points[1]), leg2 = vecOf(p.points[2]);
  const Vec onArc = p.points.size() > 3 ? vecOf(p.points[3]) : leg1;
  const double radius = plane::length(onArc - vertex);
  if (!(plane::length(leg1 - vertex) > 0) || !(plane::length(leg2 - vertex) > 0) || !(radius > 0)) return false;
  const Vec u1 = plane::unit(leg1 - vertex), u2 = plane::unit(leg2 - vertex);
  d.flags = static_cast<std::int32_t>(drawingdb::DimensionKind::Angular3Point);
  d.definition = pointOf(onArc);
  d.defPoint2 = pointOf(leg1);
  d.defPoint3 = pointOf(leg2);
  d.defPoint4 = pointOf(vertex);
  d.measurement = std::atan2(std::fabs(plane::cross(u1, u2)), plane::dot(u1, u2));
  d.textMid = pointOf(vertex + plane::unit(u1 + u2, plane::perpendicular(u1)) * radius);
  return true;
}

// Writes the toolkit's bytes through the program's one way of writing an
// output.
class OutputSink final : public drawingdb::ByteSink {
 public:
  explicit OutputSink(OutputFile& file) : file_(file) {}
  bool write(std::string_view bytes) override { return file_.write(bytes); }

 private:
  OutputFile& file_;
};

std::string hexHandle(drawingdb::Handle h) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(h));
  return text;
}

void reportWithText(int number, int severity, const std::string& text) {
  mfaReport("DwgOut::saveFile", number, Channel::kBoth, severity, {}, {}, text, nullptr);
}

// Writes the audit report: one line of four words per finding (the object's
// handle, the finding, the field and what was done), then a closing line.
// false when the report could not be written.
bool writeAuditReport(const std::string& reportPath, const std::string& drawing,
                      const std::vector<drawingdb::Finding>& findings) {
  OutputFile report;
  if (!report.create(reportPath)) {
    reportWithText(kMsgAuditReportUnwritten, Severity::kWarning, report.failureText());
    return false;
  }
  std::string text = "Audit of " + drawing + "\n";
  std::size_t fixed = 0;
  for (const drawingdb::Finding& f : findings) {
    if (f.fixed) ++fixed;
    text += hexHandle(f.handle) + " " + f.code + " " + (f.field.empty() ? "-" : f.field) + " " +
            (f.fixed ? "fixed: " : "not fixed: ") + f.detail + "\n";
  }
  text += std::to_string(findings.size()) + " errors found, " + std::to_string(fixed) + " fixed\n";
  report.write(text);
  if (!report.commit()) {
    reportWithText(kMsgAuditReportUnwritten, Severity::kWarning, report.failureText());
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// DwgBase

DwgBase::DwgBase(int direction) { dwgGraphAttr().setDirection(direction); }

const drawingdb::Record<drawingdb::Linetype>* DwgBase::linetypeRecord(const std::string& name) {
  if (const auto* found = db_.linetypes.find(name)) return found;
  const std::vector<double>* dashes = nullptr;
  const std::string* description = nullptr;
  for (const DwgStartLinetype& l : start_.linetypes) {
    if (drawingdb::sameName(l.name, name)) {
      dashes = &l.dashes;
      description = &l.description;
      break;
    }
  }
  if (dashes == nullptr) {
    for (const DwgLinetype& l : dwgGraphAttr().linetypes()) {
      if (drawingdb::sameName(l.name, name)) {
        dashes = &l.dashes;
        description = &l.description;
        break;
      }
    }
  }
  if (dashes == nullptr) return nullptr;
  auto& record = db_.addRecord(db_.linetypes, name);
  record.data.description = *description;
  for (double length : *dashes) {
    record.data.dashes.push_back({length, 0});
    record.data.patternLength += std::fabs(length);
  }
  return &record;
}

void DwgBase::applyTo(const DwgEntityAttributes& attributes, drawingdb::EntityCommon& common) {
  common.colour = attributes.colourIndex;
  common.lineweight = attributes.lineWeight;
  common.linetype = drawingdb::Name::byLayer();
  if (!attributes.linetype.empty()) {
    if (const auto* record = linetypeRecord(attributes.linetype)) common.linetype = names_(record->common.name);
  }
  common.layer = attributes.layer.empty() ? drawingdb::Name::layerZero() : names_(attributes.layer);
  if (db_.layers.find(common.layer) != nullptr) return;
  auto& layer = db_.addRecord(db_.layers, common.layer.str());
  if (const DwgLayerRecord* chosen = layers_.find(attributes.layer)) {
    layer.data.colour = chosen->on ? chosen->colourIndex : -chosen->colourIndex;
    if (chosen->frozen) layer.common.flags |= 1;
    if (const auto* record = linetypeRecord(chosen->linetype)) layer.data.linetype = record->common.name;
  }
  if (db_.linetypes.find(layer.data.linetype) == nullptr) {
    const auto* continuous = db_.linetypes.find("CONTINUOUS");
    if (continuous != nullptr) layer.data.linetype = continuous->common.name;
  }
}

// ---------------------------------------------------------------------------
// DwgOut

DwgOut::DwgOut() : DwgBase(DwgDirection::kOutput) {}

drawingdb::Release DwgOut::releaseOfVersion(int fileVersion) {
  if (fileVersion > 0) {
    const auto release = drawingdb::releaseFromVersion("AC" + std::to_string(fileVersion));
    if (release) return *release;
  }
  return drawingdb::Release::R2000;
}

int DwgOut::startUp(drawingdb::Release release, SaveType saveType, const DwgStartData& start) {
  TraceScope t("DwgOut::startUp");
  dwgGraphAttr().setDirection(DwgDirection::kOutput);
  saveType_ = saveType;
  openBlocks_.clear();
  collect_ = false;
  boundary_.clear();
  blockCounter_ = 0;
  dimensionBlockCounter_ = 0;
  anonymousBlockNumber_ = 0;
  layers_ = DwgLayerList();
  attributeChoices_.clear();
  start_ = start;
  db_ = drawingdb::Database::create(release);
  for (const DwgStartLinetype& l : start_.linetypes) {
    if (auto* existing = db_.linetypes.find(l.name)) {
      // CONTINUOUS is made by the database; the file gives its description.
      existing->data.description = l.description;
      continue;
    }
    linetypeRecord(l.name);
  }
  for (const DwgStartLayer& l : start_.layers) {
    auto* layer = db_.layers.find(l.name);
    if (layer == nullptr) layer = &db_.addRecord(db_.layers, l.name);
    layer->data.colour = l.colourIndex;
    if (const auto* record = linetypeRecord(l.linetype)) layer->data.linetype = record->common.name;
  }
  // The default text style: the database's own standard style, or one of
  // the file's name that becomes the current style.
  const DwgStartStyle& s = start_.textStyle;
  auto* style = db_.styles.find(s.name);
  if (style == nullptr) style = &db_.addRecord(db_.styles, s.name);
  style->data.font = s.font;
  style->data.widthFactor = s.widthFactor;
  style->data.fixedHeight = s.height;
  db_.header.set("$TEXTSTYLE", style->common.name);
  // The program names itself as a registered application of the drawing.
  if (release >= drawingdb::Release::R12 && db_.appids.find(kIdentification) == nullptr)
    db_.addRecord(db_.appids, kIdentification);
  return 0;
}

int DwgOut::extents(double xmin, double ymin, double xmax, double ymax) {
  TraceScope t("DwgOut::extents");
  const Point3 low{xmin, ymin, 0}, high{xmax, ymax, 0};
  if (!finite(low) || !finite(high)) return -1;
  db_.header.set("$EXTMIN", low);
  db_.header.set("$EXTMAX", high);
  return 0;
}

drawingdb::BlockRecord& DwgOut::currentBlock() {
  if (!openBlocks_.empty() && openBlocks_.back() < db_.blocks.size()) return db_.blocks[openBlocks_.back()];
  return db_.modelSpace();
}

void DwgOut::setAttributes(const DwgElementAttributes& element, int kind, drawingdb::EntityCommon& common) {
  struct KeyView {
    int kind;
    int colour;
    int lineStyle;
    int lineWidth;
    std::string_view layerName;
  };
  const KeyView key{kind, element.colour, element.lineStyle, element.lineWidth, element.layerName};
  if (const auto found = attributeChoices_.find(key); found != attributeChoices_.end()) {
    const AttributeChoice& choice = found->second;
    common.colour = choice.colour;
    common.lineweight = choice.lineweight;
    common.linetype = choice.linetype;
    common.layer = choice.layer;
    return;
  }
  DwgEntityAttributes attributes;
  const int reported = dwgGraphAttr().applyAttributes(element, attributes, layers_, kind);
  applyTo(attributes, common);
  if (reported != 0) return;
  attributeChoices_.emplace(AttributeKey{kind, element.colour, element.lineStyle, element.lineWidth, element.layerName},
                            AttributeChoice{common.colour, common.lineweight, common.linetype, common.layer});
}

int DwgOut::add(drawingdb::Entity entity, const DwgElementAttributes& element, int kind) {
  setAttributes(element, kind, entity.common);
  db_.addEntity(currentBlock(), std::move(entity));
  return 0;
}

int DwgOut::line(const Point3& start, const Point3& end, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::line");
  if (!finite(start) || !finite(end)) return -1;
  if (collect_) {
    DwgBoundaryCurve curve;
    curve.start = start;
    curve.end = end;
    boundary_.push_back(curve);
    return 0;
  }
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Line, drawingdb::Line{start, end});
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::circleArc(const Point3& center, const Point3& start, const Point3& end,
                      const DwgElementAttributes& element) {
  TraceScope t("DwgOut::circleArc");
  if (!finite(center) || !finite(start) || !finite(end)) return -1;
  const double radius = distance(center, start);
  if (!(radius > 0) || !std::isfinite(radius)) return -1;
  const bool full = distance(start, end) <= kFullCircleGap;
  const double startAngle = full ? 0.0 : directionOf(center, start);
  const double endAngle = full ? kTwoPi : directionOf(center, end);
  if (collect_) {
    DwgBoundaryCurve curve;
    curve.arc = true;
    curve.center = center;
    curve.radius = radius;
    curve.startAngle = startAngle;
    curve.endAngle = endAngle;
    boundary_.push_back(curve);
    return 0;
  }
  if (full) {
    drawingdb::Entity e = entityOf(drawingdb::EntityKind::Circle, drawingdb::Circle{center, radius});
    return add(std::move(e), element, DwgKind::kCurve);
  }
  drawingdb::Entity e =
      entityOf(drawingdb::EntityKind::Arc,
               drawingdb::Arc{center, radius, startAngle * kDegreesPerRadian, endAngle * kDegreesPerRadian});
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::ellipse(const Point3& center, const Point3& majorAxis, double ratio, double startParameter,
                    double endParameter, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::ellipse");
  if (!finite(center) || !finite(majorAxis) || !std::isfinite(ratio) || !std::isfinite(startParameter) ||
      !std::isfinite(endParameter))
    return -1;
  if (std::hypot(majorAxis.x, majorAxis.y, majorAxis.z) == 0 || !(ratio > 0)) return -1;
  drawingdb::Ellipse shape;
  shape.center = center;
  shape.majorAxis = majorAxis;
  shape.ratio = ratio;
  shape.startParameter = startParameter;
  shape.endParameter = endParameter;
  if (ratio > 1) {
    // The minor axis is the longer one: it becomes the major axis (turned a
    // quarter counter-clockwise about Z), and the parameters shift by a
    // quarter turn so that every parameter names the same point.
    shape.majorAxis = {-majorAxis.y * ratio, majorAxis.x * ratio, majorAxis.z * ratio};
    shape.ratio = 1.0 / ratio;
    shape.startParameter = startParameter - kTwoPi / 4;
    shape.endParameter = endParameter - kTwoPi / 4;
  }
  // The database keeps parameters in [0, 2 pi]; a full ellipse runs 0 to 2 pi.
  const double sweep = shape.endParameter - shape.startParameter;
  if (std::fabs(sweep) >= kTwoPi || std::fabs(std::fabs(sweep) - kTwoPi) <= 1e-12) {
    shape.startParameter = 0;
    shape.endParameter = kTwoPi;
  } else {
    shape.startParameter = std::fmod(shape.startParameter, kTwoPi);
    if (shape.startParameter < 0) shape.startParameter += kTwoPi;
    shape.endParameter = std::fmod(shape.endParameter, kTwoPi);
    if (shape.endParameter < 0) shape.endParameter += kTwoPi;
  }
  if (collect_) {
    DwgBoundaryCurve curve;
    curve.ellipse = true;
    curve.center = center;
    curve.majorAxis = shape.majorAxis;
    curve.ratio = shape.ratio;
    curve.startAngle = shape.startParameter;
    curve.endAngle = shape.endParameter;
    boundary_.push_back(curve);
    return 0;
  }
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Ellipse, shape);
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::point(const Point3& location, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::point");
  if (!finite(location)) return -1;
  drawingdb::PointEntity p;
  p.location = location;
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Point, p);
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::polyline(const std::vector<Point3>& points, bool closed, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::polyline");
  if (points.size() < 2) return -1;
  for (const Point3& p : points)
    if (!finite(p)) return -1;
  if (collect_) {
    const std::size_t ends = closed && points.size() > 2 ? points.size() : points.size() - 1;
    for (std::size_t i = 0; i < ends; ++i) {
      DwgBoundaryCurve piece;
      piece.start = points[i];
      piece.end = points[(i + 1) % points.size()];
      boundary_.push_back(piece);
    }
    return 0;
  }
  drawingdb::Polyline p;
  p.flags = closed && points.size() > 2 ? 1 : 0;
  p.vertices.reserve(points.size());
  for (const Point3& point : points) {
    drawingdb::Vertex v;
    v.location = {point.x, point.y, 0};
    p.vertices.push_back(v);
  }
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Polyline, std::move(p));
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::spline(int degree, const std::vector<double>& knots, const std::vector<Point3>& controlPoints,
                   const std::vector<double>& weights, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::spline");
  const std::size_t n = controlPoints.size();
  if (degree < 1 || degree > kMaxSplineDegree || n < static_cast<std::size_t>(degree) + 1 ||
      knots.size() != n + static_cast<std::size_t>(degree) + 1 || (!weights.empty() && weights.size() != n))
    return -1;
  for (std::size_t i = 0; i < knots.size(); ++i)
    if (!std::isfinite(knots[i]) || (i > 0 && knots[i] < knots[i - 1])) return -1;
  if (!(knots[n] > knots[static_cast<std::size_t>(degree)])) return -1;
  for (const Point3& c : controlPoints)
    if (!finite(c)) return -1;
  for (double w : weights)
    if (!std::isfinite(w) || !(w > 0)) return -1;
  drawingdb::Spline s;
  s.degree = degree;
  s.knots = knots;
  s.controlPoints = controlPoints;
  if (std::any_of(weights.begin(), weights.end(), [&](double w) { return w != weights.front(); })) {
    s.weights = weights;
    s.flags |= 4;
  }
  if (std::all_of(controlPoints.begin(), controlPoints.end(), [](const Point3& c) { return c.z == 0; })) s.flags |= 8;
  if (collect_) {
    const std::vector<Point3> along = drawingdb::splinePoints(s);
    for (std::size_t i = 0; i + 1 < along.size(); ++i) {
      DwgBoundaryCurve piece;
      piece.start = along[i];
      piece.end = along[i + 1];
      boundary_.push_back(piece);
    }
    return 0;
  }
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Spline, std::move(s));
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::dimension(const DwgDimension& dimension, const std::string& block, const DwgElementAttributes& element,
                      std::string* made) {
  TraceScope t("DwgOut::dimension");
  drawingdb::Dimension d;
  bool textPlaced = false;
  if (!dimensionOf(dimension, d, textPlaced)) return -1;
  d.text = printable(dimension.text);
  if ((dimension.kindCode & 7) == 5 && d.text.empty()) {
    // An arc length shows as the angle over its arc with the length as text.
    char length[64];
    std::snprintf(length, sizeof length, "%.2f", d.measurement * distance(d.definition, d.defPoint4));
    d.text = length;
  }
  // The block: one of the anonymous dimension blocks, closed before the
  // dimension that shows it is made.
  const drawingdb::BlockRecord* shown = nullptr;
  if (!block.empty()) {
    shown = db_.findBlock(block);
    if (shown == nullptr || shown->name.size() < 2 || shown->name[0] != '*' ||
        (shown->name[1] != 'D' && shown->name[1] != 'd'))
      return -1;
    if (!openBlocks_.empty() && openBlocks_.back() == db_.blockIndex(*shown)) closeBlock();
    d.block = shown->name;
  }
  const bool drawn = shown != nullptr && !shown->entities.empty();
  if (drawn) d.flags |= 32;
  if (textPlaced) d.flags |= 128;  // the text stands where the element puts it
  if (const auto* standard = db_.dimstyles.find(d.style)) d.style = standard->common.name;
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Dimension, std::move(d));
  setAttributes(element, DwgKind::kDimension, e.common);
  const drawingdb::EntityId id = db_.addEntity(currentBlock(), std::move(e));
  // Without a drawing of its own the database draws the block from the
  // dimension's points (into the empty block given, or a new one).
  if (!drawn && !drawingdb::buildDimensionBlock(db_, id).ok()) return -1;
  if (made != nullptr) *made = drawingdb::get<drawingdb::Dimension>(db_.entities[id].data).block;
  return 0;
}

int DwgOut::hatch(const DwgHatch& hatch, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::hatch");
  std::vector<DwgBoundaryCurve> curves;
  curves.swap(boundary_);
  drawingdb::Hatch h;
  h.elevation = {0, 0, 0};
  h.associative = 0;
  int kind = DwgKind::kHatch;
  if (hatch.hatchKind != 0) {
    if (!std::isfinite(hatch.angle) || !std::isfinite(hatch.spacing) || !(hatch.spacing > 0)) return -1;
    const double angle = std::fabs(hatch.angle) <= kNoHatchAngle ? 0.0 : hatch.angle * kDegreesPerRadian;
    h.pattern = "_U";
    h.solidFill = 0;
    h.patternType = 0;
    h.angle = std::fmod(angle, 360.0);
    if (h.angle < 0) h.angle += 360.0;
    h.scale = hatch.spacing;
    h.doubled = hatch.hatchKind == 2 ? 1 : 0;
    h.lines = userPatternLines(h.angle, hatch.spacing, h.doubled != 0);
  } else {
    h.pattern = "SOLID";
    h.solidFill = 1;
    h.patternType = 1;
    kind = hatch.fillValue > 0 ? DwgKind::kFilledHatch : DwgKind::kFilledHiddenHatch;
  }
  h.paths = boundaryLoops(curves);
  if (h.paths.empty()) return -1;
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Hatch, std::move(h));
  return add(std::move(e), element, kind);
}

std::string DwgOut::styleFor(const std::string& fontName) {
  if (fontName.empty() || fontName.size() > DwgStart::kNameLength) return start_.textStyle.name;
  for (char c : fontName)
    if (static_cast<unsigned char>(c) < 0x20) return start_.textStyle.name;
  if (const auto* style = db_.styles.find(fontName)) return style->common.name;
  auto& style = db_.addRecord(db_.styles, fontName);
  style.data.font = fontName;
  return fontName;
}

int DwgOut::text(const std::vector<DwgTextPart>& parts, const DwgElementAttributes& element,
                 double textWidthFactor, int senderCode) {
  TraceScope t("DwgOut::text");
  int result = 0;
  for (const DwgTextPart& part : parts) {
    const double width = textWidthFactor > 0                  ? textWidthFactor
                         : senderCode == kSenderWithOwnWidth ? part.widthFactor
                                                              : kDefaultTextWidth;
    if (!std::isfinite(part.insertion.x) || !std::isfinite(part.insertion.y) || !std::isfinite(part.angle) ||
        !std::isfinite(part.height) || !(part.height > 0) || !std::isfinite(width) || !(width > 0)) {
      result = -1;
      continue;
    }
    drawingdb::Text text;
    text.insertion = {part.insertion.x, part.insertion.y, 0};
    text.height = part.height;
    text.value = printable(part.text);
    text.rotation = part.angle * kDegreesPerRadian;
    text.widthFactor = width;
    text.style = styleFor(part.fontName);
    drawingdb::Entity e = entityOf(drawingdb::EntityKind::Text, std::move(text));
    if (add(std::move(e), element, DwgKind::kText) != 0) result = -1;
  }
  return result;
}

int DwgOut::createBlock(const std::string& name, std::string* made) {
  TraceScope t("DwgOut::createBlock");
  if (name.empty()) return -1;
  const bool anonymous = name[0] == '*' && name.size() > 1 &&
                         (name[1] == 'x' || name[1] == 'X' || name[1] == 'd' || name[1] == 'D');
  std::string blockName;
  std::int32_t flags = 0;
  if (anonymous) {
    // Anonymous blocks are numbered on from the last one given, past any
    // "*D<n>" the database already holds: each number is tried once in a run.
    do blockName = "*D" + std::to_string(++anonymousBlockNumber_);
    while (db_.findBlock(blockName) != nullptr);
    flags = 1;
  } else {
    blockName = name;
    DwgGraphAttr::correctAcLayerName(blockName);
    blockName += "_" + std::to_string(++blockCounter_);
  }
  drawingdb::BlockRecord& block = db_.addBlock(blockName);
  block.flags = flags;
  openBlocks_.push_back(db_.blockIndex(block));
  if (made != nullptr) *made = blockName;
  return 0;
}

int DwgOut::setBlockLayer(const std::string& layer) {
  if (openBlocks_.empty() || layer.empty()) return -1;
  if (db_.layers.find(layer) == nullptr) db_.addRecord(db_.layers, layer);
  currentBlock().layer = layer;
  return 0;
}

int DwgOut::closeBlock() {
  TraceScope t("DwgOut::closeBlock");
  if (!openBlocks_.empty()) openBlocks_.pop_back();
  return 0;
}

int DwgOut::insert(const std::string& name, const Point3& insertion, double scale,
                   const DwgElementAttributes& element) {
  TraceScope t("DwgOut::insert");
  if (!finite(insertion) || !std::isfinite(scale) || scale == 0) return -1;
  const drawingdb::BlockRecord* block = db_.findBlock(name);
  if (block == nullptr) return -1;
  const std::size_t index = db_.blockIndex(*block);
  if (std::find(openBlocks_.begin(), openBlocks_.end(), index) != openBlocks_.end()) return -1;
  drawingdb::Insert i;
  i.block = block->name;
  i.insertion = insertion;
  i.xScale = i.yScale = i.zScale = scale;
  drawingdb::Entity e = entityOf(drawingdb::EntityKind::Insert, std::move(i));
  return add(std::move(e), element, DwgKind::kCurve);
}

namespace {

// What the release could not hold and the writer left out (entities,
// extended data, paper space), one counted warning for all.  A linetype
// the table lacks is not counted: its entity is written and follows its
// layer.
void reportPartsLeftOut(const char* code, const std::vector<drawingdb::Finding>& findings) {
  constexpr std::string_view kLeftOut = "-left-out";
  long count = 0;
  const drawingdb::Finding* first = nullptr;
  for (const drawingdb::Finding& f : findings) {
    const std::string_view c = f.code;
    if (c.size() < kLeftOut.size() || c.substr(c.size() - kLeftOut.size()) != kLeftOut) continue;
    if (c == "linetype-left-out") continue;
    if (first == nullptr) first = &f;
    ++count;
  }
  if (first != nullptr)
    mfaReport(code, kMsgPartsLeftOut, Channel::kBoth, Severity::kWarning, {count}, {}, first->detail, nullptr);
}

}  // namespace

int DwgOut::saveFile(const std::string& path) { return saveFile(path, kAuditReport); }

int DwgOut::saveFile(const std::string& path, const std::string& reportPath) {
  TraceScope t("DwgOut::saveFile");
  dwgPut("DwgOut::saveFile_1");
  ideMsgPut(path);
  ideMsgEmit(IdeSeverity::kNote);

  const std::vector<drawingdb::Finding> findings = drawingdb::audit(db_);
  writeAuditReport(reportPath, path, findings);

  drawingdb::SaveOptions options;
  options.format = saveType_ == kSaveDwg ? drawingdb::FileFormat::Dwg : drawingdb::FileFormat::DxfAscii;
  options.release = db_.release;
  options.precision = 16;
  std::vector<drawingdb::Finding> written;
  options.findings = &written;
  int result = 0;
  OutputFile file;
  if (!file.create(path)) {
    reportWithText(kMsgOutputNotCreated, Severity::kError, file.failureText());
    result = -1;
  } else {
    OutputSink sink(file);
    const drawingdb::Status saved = drawingdb::save(db_, sink, options);
    if (!saved.ok() && saved.code != drawingdb::StatusCode::WriteFailed) {
      file.discard();
      reportWithText(kMsgSaveRefused, Severity::kError, path + " (" + saved.detail + ")");
      result = -1;
    } else if (!saved.ok() || !file.commit()) {
      file.discard();
      reportWithText(kMsgOutputUnwritable, Severity::kError, file.failureText());
      result = -1;
    }
  }
  if (result == 0) {
    dwgPut("DwgOut::saveFile_2");
    ideMsgEmit(IdeSeverity::kContinue);
    reportPartsLeftOut(t.code(), written);
  }
  if (findings.empty())
    std::puts("Audit : ok.");
  else
    std::printf("Audit : Check \"%s\" for errors.\n", reportPath.c_str());
  std::fflush(stdout);
  return result;
}

namespace {
DwgOut& builderState() {
  static DwgOut state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DWG database builder", [] { builderState() = DwgOut(); });
}  // namespace

DwgOut& dwgOut() { return builderState(); }

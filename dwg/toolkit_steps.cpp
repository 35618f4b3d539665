#include "dwg/toolkit_steps.h"

#include <cmath>
#include <type_traits>
#include <utility>
#include <variant>

#include "support/config.h"
#include "support/run_state.h"

namespace {

drawingdb::Point3 dbPoint(const Point3& p) { return {p.x, p.y, p.z}; }
drawingdb::Point3 flatPoint(double x, double y) { return {x, y, 0}; }

// The names of blocks whose element has none.
constexpr char kGroupBlock[] = "GROUP";
constexpr char kUserBlock[] = "USER";
// The layer of the dimension blocks.
constexpr char kDimensionBlockLayer[] = "no_layer";
// Segments drawn per polynomial span of a spline the database refuses.
constexpr int kSplineSpanSegments = 8;

// An insert stands on layer "0" of the drawing and takes its colour from
// there unless the element gives a layer: the members inside keep their
// own attributes.
constexpr char kInsertLayer = '0';
constexpr int kColourByLayer = -1;

// The text a dimension shows: its own text (a string sub-element, else the
// text of the dimension keywords) between its pre- and post-text; empty
// when the dimension shows its measurement.
std::string dimensionText(const TransferDimension& d) {
  std::string text;
  for (const TransferSubElement& part : d.parts) {
    const auto* string = std::get_if<TransferText>(&part.record);
    if (part.kind == TransferSubElement::Kind::kString && string != nullptr && !string->parts.empty()) {
      text = string->parts.front().text;
      break;
    }
  }
  if (text.empty()) text = d.text;
  if (text.empty() && (d.preText != 0 || !d.postTextString.empty())) text = "<>";
  if (d.preText != 0) text = d.preTextString + text;
  if (d.postText != 0 || !d.postTextString.empty()) text += d.postTextString;
  return text;
}

}  // namespace

DwgTargetSteps::DwgTargetSteps(DwgOut& out, LayerNames layerNames)
    : out_(out), layerNamesOfRun_(std::move(layerNames)) {}

DwgElementAttributes DwgTargetSteps::attributesOf(const TransferRecord& record) const {
  DwgElementAttributes a;
  a.colour = record.colour;
  a.lineStyle = record.lineStyle;
  a.lineWidth = record.lineWidth;
  if (const auto found = layerNames_.find(record.layer); found != layerNames_.end()) a.layerName = found->second;
  return a;
}

void DwgTargetSteps::reset() {
  layerNames_.clear();
  blocks_.clear();
  definitionBlocks_.clear();
  boundaryDepth_ = 0;
}

DwgElementAttributes DwgTargetSteps::insertAttributesOf(const TransferRecord& record) const {
  DwgElementAttributes a = attributesOf(record);
  if (a.layerName.empty()) a.layerName.push_back(kInsertLayer);
  if (a.colour == 0) a.colour = kColourByLayer;
  return a;
}

void DwgTargetSteps::beginRun(const OutputExtents& extents) {
  reset();
  if (layerNamesOfRun_) layerNames_ = layerNamesOfRun_();
  textWidthFactor_ = runSettings().textWidthFactor;
  senderCode_ = runState().senderCode;
  // Extents that are no numbers leave the database's own.
  (void)out_.extents(extents.xmin, extents.ymin, extents.xmax, extents.ymax);
}

int DwgTargetSteps::finish() {
  // Every bracket closes its block; what a broken bracket left open is
  // closed here, so that the save sees model space current.
  while (!blocks_.empty()) closeBlock(blocks_.back().index);
  while (out_.inBlock()) out_.closeBlock();
  out_.setCollect(false);
  out_.clearBoundary();
  boundaryDepth_ = 0;
  return 0;
}

// --------------------------------------------------------------- geometry

int DwgTargetSteps::point(const StepContext&, const TransferPoint& p) {
  return out_.point(dbPoint(p.point), attributesOf(p));
}

int DwgTargetSteps::line(const StepContext&, const TransferLine& l) {
  return out_.line(dbPoint(l.start), dbPoint(l.end), attributesOf(l));
}

int DwgTargetSteps::circle(const StepContext&, const TransferCircle& a) {
  return out_.circleArc(dbPoint(a.centre), dbPoint(a.start), dbPoint(a.end), attributesOf(a));
}

int DwgTargetSteps::ellipse(const StepContext&, const TransferEllipse& e) {
  const drawingdb::Point3 major{e.axisDirection[0] * e.halfAxisA, e.axisDirection[1] * e.halfAxisA, 0};
  const double from = e.fullEllipse ? 0.0 : e.startAngle;
  const double to = e.fullEllipse ? 2.0 * kPi : e.endAngle;
  return out_.ellipse(dbPoint(e.centre), major, e.halfAxisB / e.halfAxisA, from, to, attributesOf(e));
}

int DwgTargetSteps::spline(const StepContext&, const TransferSpline& s) {
  const DwgElementAttributes a = attributesOf(s);
  std::vector<drawingdb::Point3> controlPoints;
  controlPoints.reserve(s.controlPoints.size());
  for (const Point3& p : s.controlPoints) controlPoints.push_back(dbPoint(p));
  const std::vector<double> none;
  const std::vector<double>& weights = s.weights.size() == s.controlPoints.size() ? s.weights : none;
  if (out_.spline(s.degree, s.knots, controlPoints, weights, a) == 0) return 0;
  // A B-spline the database cannot hold: the polynomial spans as a
  // polyline along the curve.
  std::vector<drawingdb::Point3> along;
  along.push_back(flatPoint(s.segments[0].x[0], s.segments[0].y[0]));
  for (std::size_t i = 0; i < s.segments.size(); ++i) {
    const auto& g = s.segments[i];
    const double length = s.breakpoints[i + 1] - s.breakpoints[i];
    for (int k = 1; k <= kSplineSpanSegments; ++k) {
      const double u = length * k / kSplineSpanSegments;
      along.push_back(flatPoint(g.x[0] + u * (g.x[1] + u * (g.x[2] + u * g.x[3])),
                                g.y[0] + u * (g.y[1] + u * (g.y[2] + u * g.y[3]))));
    }
  }
  return out_.polyline(along, false, a);
}

int DwgTargetSteps::drawPolygon(const std::vector<Point3>& points, bool closed, bool filled,
                                const DwgElementAttributes& a) {
  std::vector<drawingdb::Point3> corners;
  corners.reserve(points.size());
  for (const Point3& p : points) corners.push_back(dbPoint(p));
  if (!filled || out_.collecting() || corners.size() < 3) return out_.polyline(corners, closed, a);
  // A filled polygon: a solid hatch over its outline.
  out_.clearBoundary();
  out_.setCollect(true);
  const int outlined = out_.polyline(corners, true, a);
  out_.setCollect(false);
  if (outlined != 0) {
    out_.clearBoundary();
    return outlined;
  }
  DwgHatch fill;
  fill.hatchKind = 0;
  fill.fillValue = 1;
  return out_.hatch(fill, a);
}

int DwgTargetSteps::hatch(const StepContext&, const TransferHatch& h) {
  return drawPolygon(h.points, h.closed, h.filled, attributesOf(h));
}

// ------------------------------------------------------------- annotation

int DwgTargetSteps::drawTextParts(const std::vector<TransferTextPart>& parts, const DwgElementAttributes& a) {
  std::vector<DwgTextPart> shown;
  shown.reserve(parts.size());
  for (const TransferTextPart& p : parts) {
    DwgTextPart part;
    part.text = p.text;
    part.height = p.height;
    part.widthFactor = p.widthFactor;
    part.angle = p.angle;
    part.fontName = p.fontName;
    part.insertion = dbPoint(p.insertion);
    shown.push_back(std::move(part));
  }
  return out_.text(shown, a, textWidthFactor_, senderCode_);
}

int DwgTargetSteps::text(const StepContext&, const TransferText& text) {
  return drawTextParts(text.parts, attributesOf(text));
}

int DwgTargetSteps::dimension(const StepContext&, const TransferDimension& d) {
  const DwgElementAttributes own = attributesOf(d);
  std::string block;
  if (out_.createBlock("*D" + std::to_string(out_.nextDimensionBlockNumber()), &block) != 0) return -1;
  // The block itself stands on a layer of its own, apart from the drawing's.
  (void)out_.setBlockLayer(kDimensionBlockLayer);
  // The sub-elements draw with their own pen, style and width on the
  // dimension's layer (their layouts carry none).
  for (const TransferSubElement& part : d.parts) {
    std::visit(
        [&](const auto& record) {
          DwgElementAttributes a = attributesOf(record);
          a.layerName = own.layerName;
          using Record = std::decay_t<decltype(record)>;
          // A sub-element the database refuses is left out of the drawing.
          if constexpr (std::is_same_v<Record, TransferLine>) {
            (void)out_.line(dbPoint(record.start), dbPoint(record.end), a);
          } else if constexpr (std::is_same_v<Record, TransferCircle>) {
            (void)out_.circleArc(dbPoint(record.centre), dbPoint(record.start), dbPoint(record.end), a);
          } else if constexpr (std::is_same_v<Record, TransferHatch>) {
            (void)drawPolygon(record.points, record.closed, record.filled, a);
          } else {
            (void)drawTextParts(record.parts, a);
          }
        },
        part.record);
  }
  out_.closeBlock();
  DwgDimension shown;
  shown.kindCode = d.kindCode;
  shown.orientation = d.orientation;
  shown.angle = d.angle;
  shown.points.reserve(d.points.size());
  for (const Point3& p : d.points) shown.points.push_back(dbPoint(p));
  shown.text = dimensionText(d);
  return out_.dimension(shown, block, own);
}

int DwgTargetSteps::symbol(const StepContext&, const TransferSymbol& symbol, SymbolPartReader& parts) {
  const DwgElementAttributes a = attributesOf(symbol);
  int written = 0;
  for (const TransferSymbolPart& part : symbol.parts) {
    if (part.token == "text" && runConvertsAnnotation()) {
      TransferText text;
      if (parts.text(part.position, text) != 0 || text.parts.empty()) continue;
      if (drawTextParts(text.parts, a) != 0) return -1;
      ++written;
    } else if (part.token == "symbol_pfeil") {
      TransferLeader leader;
      if (parts.leader(part.position, leader) != 0) continue;
      const std::vector<drawingdb::Point3> path = {flatPoint(leader.values[0], leader.values[1]),
                                                   flatPoint(leader.values[2], leader.values[3])};
      if (out_.polyline(path, false, a) != 0) return -1;
      ++written;
    }
  }
  return written > 0 ? ConvertResult::kDone : ConvertResult::kIgnored;
}

// -------------------------------------------------------------- composites

int DwgTargetSteps::openBlock(std::int32_t index, const std::string& name) {
  OpenBlock block;
  block.index = index;
  if (out_.createBlock(name, &block.name) != 0) return -1;
  block.open = true;
  blocks_.push_back(std::move(block));
  return 0;
}

std::string DwgTargetSteps::closeBlock(std::int32_t index) {
  if (blocks_.empty() || blocks_.back().index != index) return {};
  OpenBlock block = std::move(blocks_.back());
  blocks_.pop_back();
  if (block.open) out_.closeBlock();
  return block.name;
}

int DwgTargetSteps::beginGroup(const StepContext& c, const TransferGroup& group) {
  return openBlock(c.index, group.name.empty() ? kGroupBlock : group.name);
}

int DwgTargetSteps::group(const StepContext& c, const TransferGroup& group, const WrittenMembers&) {
  const std::string block = closeBlock(c.index);
  if (block.empty()) return -1;
  return out_.insert(block, {0, 0, 0}, 1.0, insertAttributesOf(group));
}

void DwgTargetSteps::endGroup(const StepContext& c, const TransferGroup&) { (void)closeBlock(c.index); }

int DwgTargetSteps::beginUserDefinition(const StepContext& c, const TransferGroup& definition) {
  return openBlock(c.index, definition.name.empty() ? kUserBlock : definition.name);
}

int DwgTargetSteps::userDefinition(const StepContext& c, const TransferGroup&, const WrittenMembers&) {
  const std::string block = closeBlock(c.index);
  if (block.empty()) return -1;
  definitionBlocks_[c.index] = block;
  return 0;
}

void DwgTargetSteps::endUserDefinition(const StepContext& c, const TransferGroup&) { (void)closeBlock(c.index); }

int DwgTargetSteps::userInstance(const StepContext&, const TransferGroup& instance, std::int32_t definition) {
  const std::string block = definitionBlock(definition);
  if (block.empty()) return ConvertResult::kTakenOver;
  return out_.insert(block, dbPoint(instance.insertion), instance.factor, insertAttributesOf(instance));
}

std::string DwgTargetSteps::definitionBlock(std::int32_t definition) const {
  const auto found = definitionBlocks_.find(definition);
  return found == definitionBlocks_.end() ? std::string() : found->second;
}

int DwgTargetSteps::contour(const StepContext&, const TransferContour&, const WrittenMembers&) {
  // The members are the contour: drawn, or collected for a hatch.
  return 0;
}

void DwgTargetSteps::beginBoundary(const StepContext&, const TransferPlanePart&) {
  if (boundaryDepth_++ > 0) return;
  out_.clearBoundary();
  out_.setCollect(true);
}

void DwgTargetSteps::endBoundary(const StepContext&, const TransferPlanePart&) {
  if (boundaryDepth_ > 0 && --boundaryDepth_ == 0) out_.setCollect(false);
}

int DwgTargetSteps::planePart(const StepContext&, const TransferPlanePart& part, const std::vector<std::int32_t>&) {
  // A boundary still being collected (a plane part among the boundary of
  // another) hatches with the outer one.
  if (out_.collecting()) return 0;
  DwgHatch h;
  h.hatchKind = part.hatchKind;
  h.spacing = part.hatchSpacing;
  h.angle = part.hatchAngle;
  h.fillValue = 1;
  return out_.hatch(h, attributesOf(part));
}

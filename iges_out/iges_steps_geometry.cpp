// IGES output steps of the geometric kinds: point (116), line (110),
// circle and arc (100), ellipse as a conic arc (104) placed by its matrix
// (124, dpe360), spline as a parametric spline (112), polygons as copious
// data (106); the colour definitions (314) of the colour assignment; the
// layer list (406, dpe900); the end of the run.
#include <cstdio>
#include <cstring>
#include <vector>

#include "elements/convert_result.h"
#include "elements/element_table.h"
#include "iges_out/iges_directory.h"
#include "iges_out/iges_entities.h"
#include "iges_out/iges_steps.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "support/trace.h"

using namespace iges_steps;

namespace {

constexpr char kMatrixLabel[] = "TRFMATRX";
constexpr char kColourLabel[] = "COL_DEF ";
// Copious data forms: an open 2-D path, a closed planar curve.
constexpr std::int32_t kCopiousPath = 11;
constexpr std::int32_t kCopiousClosed = 63;
constexpr std::int32_t kEllipseForm = 1;

// The layer list: one 406 property of this form and label, after every
// other entity of a PLUS run.
constexpr std::int32_t kLayerListForm = 6731;
constexpr char kLayerListLabel[] = "SI-LIST ";
// The list is known by its form, label, line weight and colour, both 871
// (the receiving CAD system looks for this mark; general IGES readers may
// call the colour number out of range).
constexpr std::int32_t kLayerListWeight = 871;
constexpr std::int32_t kLayerListColour = 871;

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
  DirectoryEntry de = directoryEntryOf(index);
  de.subscript = index;
  record.outputKind = IgesType::kTransformationMatrix;
  const std::int32_t written = writeEntity(de, IgesType::kTransformationMatrix, 0, start, EntityStatus{});
  setDirectoryEntry(index, de);
  if (written < 0) return -1;
  setState(index, ElementState::kDone);
  classifyElement(index);
  return element(index).de.sequence;
}

}  // namespace

TargetSteps& igesTargetSteps() {
  static IgesSteps steps;
  return steps;
}

bool IgesSteps::failed() const { return sectionWriteFailed(); }

int IgesSteps::finish() { return igesWriter().failed ? -1 : 0; }

int IgesSteps::point(const StepContext& c, const TransferPoint& p) {
  IgesPointParams params;
  params.point = igesPoint(p.point);
  const std::int32_t start = beginEntity();
  if (writeIgesPoint(params) != 0) return -1;
  return writeElementEntity(c, p, IgesType::kPoint, 0, start);
}

int IgesSteps::line(const StepContext& c, const TransferLine& l) {
  IgesLineParams params;
  params.start = igesPoint(l.start);
  params.end = igesPoint(l.end);
  const std::int32_t start = beginEntity();
  if (writeIgesLine(params) != 0) return -1;
  return writeElementEntity(c, l, IgesType::kLine, 0, start);
}

int IgesSteps::circle(const StepContext& c, const TransferCircle& a) {
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

int IgesSteps::ellipse(const StepContext& c, const TransferEllipse& e) {
  const double a = e.halfAxisA, b = e.halfAxisB;
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

int IgesSteps::spline(const StepContext& c, const TransferSpline& s) {
  const std::size_t spans = s.segments.size();
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

int IgesSteps::hatch(const StepContext& c, const TransferHatch& h) {
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

int IgesSteps::colourDefinition(const StepContext& c, const ColourRecord& colour) {
  IgesColourParams params;
  params.red = colour.red;
  params.green = colour.green;
  params.blue = colour.blue;
  params.name = colour.name;
  const std::int32_t start = beginEntity();
  if (writeIgesColour(params) != 0) return -1;
  ElementRecord& e = element(c.index);
  DirectoryEntry de = directoryEntryOf(c.index);
  std::snprintf(de.label, sizeof de.label, "%s", kColourLabel);
  de.subscript = c.index;
  e.outputKind = IgesType::kColourDefinition;
  EntityStatus status;
  status.use = 2;  // a definition
  const std::int32_t written = writeEntity(de, IgesType::kColourDefinition, 0, start, status);
  setDirectoryEntry(c.index, de);
  return written < 0 ? -1 : 0;
}

void IgesSteps::referToColourDefinition(std::int32_t definition, TransferRecord& record) {
  const ElementRecord& d = element(definition);
  if (d.state == ElementState::kDone && d.de.sequence > 0) {
    record.colour = -d.de.sequence;
  } else {
    // The definition could not be written: no colour rather than a pointer
    // to an entity that is not in the file.
    record.colour = 0;
    record.colourDefinition = 0;
  }
}

std::int32_t IgesSteps::layerList(const std::vector<std::int32_t>& members) {
  const std::int32_t index =
      appendOutputRecord(IgesType::kProperty, kLayerListForm, kLayerListLabel);
  if (index < 0) return -1;
  IgesMemberParams params;
  params.members = members;
  const std::int32_t start = beginEntity();
  if (writeIgesGeneric(IgesType::kProperty, params) != 0) return -1;
  ElementRecord& e = element(index);
  DirectoryEntry de = directoryEntryOf(index);
  de.lineFont = 1;
  de.level = 0;
  de.lineWeight = kLayerListWeight;
  de.colour = kLayerListColour;
  de.subscript = index;
  e.outputKind = IgesType::kProperty;
  EntityStatus status;
  status.use = 3;
  const std::int32_t written = writeEntity(de, IgesType::kProperty, kLayerListForm, start, status);
  setDirectoryEntry(index, de);
  if (written < 0) return -1;
  setState(index, ElementState::kDone);
  return index;
}

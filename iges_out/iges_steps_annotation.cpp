// IGES output steps of the annotation kinds: a text is a general note
// (212); a dimension is a linear (216), diameter (206), radius (222) or
// angular (202) dimension whose note, leaders (214) and witness lines (106
// form 40) are made from its definition points and written before it; a
// symbol is a general label (210) of its text and leader arrows.
#include <cmath>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "elements/convert_result.h"
#include "elements/element_table.h"
#include "elements/transform.h"
#include "iges_out/iges_directory.h"
#include "iges_out/iges_entities.h"
#include "iges_out/iges_steps.h"
#include "support/run_state.h"

using namespace iges_steps;

namespace {

constexpr std::int32_t kNoteSimple = 0;
constexpr std::int32_t kNoteStacked = 6;  // several strings, left justified
constexpr std::int32_t kLeaderWedge = 1;
constexpr std::int32_t kWitnessForm = 40;
constexpr double kDefaultTextHeight = 3.5;
// Arrow head of the leaders made for a dimension: height and width.
constexpr double kArrowHeight = 1.45;
constexpr double kArrowWidth = 4.5;
// Share of the text height one character takes along the line.
constexpr double kCharacterWidth = 0.7;
// The note's strings, leaders and witness lines are parts of their
// dimension or label, and annotation.
constexpr EntityStatus kAnnotationPart{0, 1, 1, 0};

// Mirror flag of a general note: "mx" mirrors across the axis square to the
// base line, "my" across the base line.
std::int32_t mirrorFlagOf(const std::string& token) {
  if (token == "mx") return 1;
  if (token == "my") return 2;
  return 0;
}

IgesNoteString noteString(const TransferTextPart& part) {
  IgesNoteString s;
  s.characterCount = static_cast<std::int32_t>(part.text.size());
  s.boxWidth = part.width;
  s.boxHeight = part.height;
  s.fontCode = part.fontNumber > 0 ? part.fontNumber : 1;
  s.slantAngle = kPi / 2.0;
  s.rotationAngle = part.angle;
  s.mirrorFlag = mirrorFlagOf(part.mirror);
  s.startX = part.insertion.x;
  s.startY = part.insertion.y;
  s.startZ = part.insertion.z;
  s.text = part.text;
  return s;
}

struct Vec {
  double x = 0.0, y = 0.0;
};
Vec vecOf(const Point3& p) { return Vec{p.x, p.y}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator*(double k, Vec a) { return {k * a.x, k * a.y}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double length(Vec a) { return std::hypot(a.x, a.y); }
Vec unit(Vec a) {
  const double l = length(a);
  return l > 0.0 ? Vec{a.x / l, a.y / l} : Vec{1.0, 0.0};
}

// The parts of a dimension written so far, and the attributes they take.
struct DimensionParts {
  const TransferRecord& record;
  double textHeight = kDefaultTextHeight;
};

// A one-string note centred on `at` along `angle`.
std::int32_t writeDimensionNote(const DimensionParts& d, const std::string& text, Vec at,
                                double angle) {
  IgesNoteParams params;
  IgesNoteString s;
  s.text = text.empty() ? std::string(" ") : text;
  s.characterCount = static_cast<std::int32_t>(s.text.size());
  s.boxHeight = d.textHeight;
  s.boxWidth = d.textHeight * kCharacterWidth * static_cast<double>(s.characterCount);
  s.slantAngle = kPi / 2.0;
  s.rotationAngle = angle;
  const Vec along{std::cos(angle), std::sin(angle)};
  const Vec start = at - (s.boxWidth / 2.0) * along;
  s.startX = start.x;
  s.startY = start.y;
  params.strings.push_back(s);
  const std::int32_t begin = beginEntity();
  if (writeIgesNote(params) != 0) return -1;
  DirectoryEntry de = partEntry(d.record, "NOTE    ");
  return writeEntity(de, IgesType::kGeneralNote, kNoteSimple, begin, kAnnotationPart);
}

// A leader from its arrow head at `head` to `end`.
std::int32_t writeDimensionLeader(const DimensionParts& d, Vec head, Vec end) {
  IgesLeaderParams params;
  params.arrowHeight = kArrowHeight;
  params.arrowWidth = kArrowWidth;
  params.headX = head.x;
  params.headY = head.y;
  params.segmentEnds.emplace_back(end.x, end.y);
  const std::int32_t begin = beginEntity();
  if (writeIgesLeader(params) != 0) return -1;
  DirectoryEntry de = partEntry(d.record, "LEADER  ");
  return writeEntity(de, IgesType::kLeader, kLeaderWedge, begin, kAnnotationPart);
}

// A witness line from the measured point to the dimension line; its first
// segment (the gap at the measured point) is empty.
std::int32_t writeWitnessLine(const DimensionParts& d, Vec from, Vec to) {
  IgesCopiousParams params;
  params.interpretation = 1;
  params.points = {{from.x, from.y}, {from.x, from.y}, {to.x, to.y}};
  const std::int32_t begin = beginEntity();
  if (writeIgesWitnessLine(params) != 0) return -1;
  DirectoryEntry de = partEntry(d.record, "WITNESS ");
  return writeEntity(de, IgesType::kCopiousData, kWitnessForm, begin, kAnnotationPart);
}

// The text a dimension shows: its own text string (a "d_string_angle"
// sub-element or the text of the dimension keywords), else the measured
// value; with the pre- and post-texts around it.
std::string dimensionText(const TransferDimension& d) {
  std::string text;
  for (const TransferSubElement& part : d.parts) {
    if (part.kind != TransferSubElement::Kind::kString) continue;
    const auto* string = std::get_if<TransferText>(&part.record);
    if (string != nullptr && !string->parts.empty()) {
      text = string->parts.front().text;
      break;
    }
  }
  if (text.empty()) text = d.text;
  if (text.empty() && !d.reals.empty() && std::isfinite(d.reals.front())) {
    char value[64];
    std::snprintf(value, sizeof value, "%.2f", d.reals.front());
    text = value;
  }
  if (d.preText != 0) text = d.preTextString + text;
  if (d.postText != 0 || !d.postTextString.empty()) text += d.postTextString;
  return text;
}

// The directory entry of a dimension, note or label: the element itself,
// in use as annotation, where its parts are marked as parts.
int writeAnnotationEntity(const StepContext& c, const TransferRecord& record, std::int32_t type,
                          std::int32_t form, std::int32_t parameterStart) {
  StepContext own = c;
  own.status.use = 1;
  return writeElementEntity(own, record, type, form, parameterStart);
}

// 216: two measured points, the third on the dimension line; the dimension
// line runs horizontally, vertically or along the measured points.
int writeLinear(const StepContext& c, const TransferDimension& d, const DimensionParts& parts,
                const std::string& text) {
  if (d.points.size() < 3) return -1;
  const Vec p1 = vecOf(d.points[0]), p2 = vecOf(d.points[1]), p3 = vecOf(d.points[2]);
  Vec along;
  if (d.orientation == 1) {
    along = {1.0, 0.0};
  } else if (d.orientation == 2) {
    along = {0.0, 1.0};
  } else if (length(p2 - p1) > 0.0) {
    along = unit(p2 - p1);
  } else {
    along = {std::cos(d.angle), std::sin(d.angle)};
  }
  const Vec normal{-along.y, along.x};
  const Vec a1 = p1 + dot(p3 - p1, normal) * normal;
  const Vec a2 = p2 + dot(p3 - p2, normal) * normal;
  const Vec middle = 0.5 * (a1 + a2);
  IgesLinearDimensionParams params;
  params.members[0] = writeDimensionNote(parts, text, middle, std::atan2(along.y, along.x));
  params.members[1] = writeDimensionLeader(parts, a1, middle);
  params.members[2] = writeDimensionLeader(parts, a2, middle);
  params.members[3] = writeWitnessLine(parts, p1, a1);
  params.members[4] = writeWitnessLine(parts, p2, a2);
  for (std::int32_t m : params.members) {
    if (m < 0) return -1;
  }
  const std::int32_t begin = beginEntity();
  if (writeIgesLinearDimension(params) != 0) return -1;
  return writeAnnotationEntity(c, d, IgesType::kLinearDimension, 0, begin);
}

// 206: centre and a point on the circle; the text at the third point when
// there is one, else outside the circle beyond the point.
int writeDiameter(const StepContext& c, const TransferDimension& d, const DimensionParts& parts,
                  const std::string& text) {
  if (d.points.size() < 2) return -1;
  const Vec centre = vecOf(d.points[0]), onCircle = vecOf(d.points[1]);
  const Vec opposite = 2.0 * centre - onCircle;
  const Vec at = d.points.size() > 2 ? vecOf(d.points[2]) : centre;
  IgesDiameterParams params;
  params.note = writeDimensionNote(parts, text, at, 0.0);
  params.firstLeader = writeDimensionLeader(parts, onCircle, at);
  params.secondLeader = writeDimensionLeader(parts, opposite, at);
  if (params.note < 0 || params.firstLeader < 0 || params.secondLeader < 0) return -1;
  params.centreX = centre.x;
  params.centreY = centre.y;
  const std::int32_t begin = beginEntity();
  if (writeIgesDiameterDimension(params) != 0) return -1;
  return writeAnnotationEntity(c, d, IgesType::kDiameterDimension, 0, begin);
}

// 222: centre and a point on the arc; the text at the third point when
// there is one, else at the centre.
int writeRadius(const StepContext& c, const TransferDimension& d, const DimensionParts& parts,
                const std::string& text) {
  if (d.points.size() < 2) return -1;
  const Vec centre = vecOf(d.points[0]), onArc = vecOf(d.points[1]);
  const Vec at = d.points.size() > 2 ? vecOf(d.points[2]) : centre;
  IgesRadiusParams params;
  params.note = writeDimensionNote(parts, text, at, 0.0);
  params.leader = writeDimensionLeader(parts, onArc, at);
  if (params.note < 0 || params.leader < 0) return -1;
  params.centreX = centre.x;
  params.centreY = centre.y;
  const std::int32_t begin = beginEntity();
  if (writeIgesRadiusDimension(params) != 0) return -1;
  return writeAnnotationEntity(c, d, IgesType::kRadiusDimension, 0, begin);
}

// 202: the vertex, a point on each leg, and the point the dimension arc
// passes through (the first leg's point when there is no fourth).
int writeAngular(const StepContext& c, const TransferDimension& d, const DimensionParts& parts,
                 const std::string& text) {
  if (d.points.size() < 3) return -1;
  const Vec vertex = vecOf(d.points[0]), leg1 = vecOf(d.points[1]), leg2 = vecOf(d.points[2]);
  const Vec arcPoint = d.points.size() > 3 ? vecOf(d.points[3]) : leg1;
  const double radius = length(arcPoint - vertex);
  if (!(radius > 0.0)) return -1;
  const Vec head1 = vertex + radius * unit(leg1 - vertex);
  const Vec head2 = vertex + radius * unit(leg2 - vertex);
  const Vec bisector = unit(unit(leg1 - vertex) + unit(leg2 - vertex));
  const Vec at = vertex + radius * bisector;
  IgesAngularParams params;
  params.note = writeDimensionNote(parts, text, at, 0.0);
  params.firstLeader = writeDimensionLeader(parts, head1, at);
  params.secondLeader = writeDimensionLeader(parts, head2, at);
  if (params.note < 0 || params.firstLeader < 0 || params.secondLeader < 0) return -1;
  params.vertexX = vertex.x;
  params.vertexY = vertex.y;
  params.radius = radius;
  const std::int32_t begin = beginEntity();
  if (writeIgesAngularDimension(params) != 0) return -1;
  return writeAnnotationEntity(c, d, IgesType::kAngularDimension, 0, begin);
}

}  // namespace

int IgesSteps::text(const StepContext& c, const TransferText& text) {
  IgesNoteParams params;
  params.strings.reserve(text.parts.size());
  for (const TransferTextPart& part : text.parts) params.strings.push_back(noteString(part));
  const std::int32_t begin = beginEntity();
  if (writeIgesNote(params) != 0) return -1;
  return writeAnnotationEntity(c, text, IgesType::kGeneralNote,
                               params.strings.size() > 1 ? kNoteStacked : kNoteSimple, begin);
}

int IgesSteps::dimension(const StepContext& c, const TransferDimension& d) {
  DimensionParts parts{d, d.textHeight > 0.0 && std::isfinite(d.textHeight) ? d.textHeight
                                                                            : kDefaultTextHeight};
  const std::string text = dimensionText(d);
  switch (d.kindCode & 7) {
    case 1: return writeLinear(c, d, parts, text);
    case 2: return writeDiameter(c, d, parts, text);
    case 3: return writeRadius(c, d, parts, text);
    default: return writeAngular(c, d, parts, text);  // angles and arc lengths
  }
}

// The label's note is the symbol's first text part that reads, at a level
// that converts annotation; every leader arrow part is a leader.  Notes and
// leaders are written in the order of the parts.
int IgesSteps::symbol(const StepContext& c, const TransferSymbol& symbol, SymbolPartReader& reader) {
  IgesLabelParams params;
  for (const TransferSymbolPart& part : symbol.parts) {
    if (part.token == "text" && params.note == 0 && runConvertsAnnotation()) {
      TransferText text;
      if (reader.text(part.position, text) != 0 || text.parts.empty()) continue;
      IgesNoteParams note;
      for (const TransferTextPart& p : text.parts) note.strings.push_back(noteString(p));
      const std::int32_t begin = beginEntity();
      if (writeIgesNote(note) != 0) return -1;
      DirectoryEntry de = partEntry(symbol, "NOTE    ");
      params.note =
          writeEntity(de, IgesType::kGeneralNote,
                      note.strings.size() > 1 ? kNoteStacked : kNoteSimple, begin, kAnnotationPart);
      if (params.note < 0) return -1;
    } else if (part.token == "symbol_pfeil") {
      TransferLeader leader;
      if (reader.leader(part.position, leader) != 0) continue;
      IgesLeaderParams p;
      p.arrowHeight = leader.headSize[0];
      p.arrowWidth = leader.headSize[1];
      p.headX = leader.values[0];
      p.headY = leader.values[1];
      p.segmentEnds.emplace_back(leader.values[2], leader.values[3]);
      const std::int32_t begin = beginEntity();
      if (writeIgesLeader(p) != 0) return -1;
      DirectoryEntry de = partEntry(symbol, TransferLabel::kLeader);
      const std::int32_t sequence =
          writeEntity(de, IgesType::kLeader, leader.form, begin, kAnnotationPart);
      if (sequence < 0) return -1;
      params.leaders.push_back(sequence);
    }
  }
  if (params.note == 0 && params.leaders.empty()) return ConvertResult::kIgnored;
  const std::int32_t begin = beginEntity();
  if (writeIgesLabel(params) != 0) return -1;
  return writeAnnotationEntity(c, symbol, IgesType::kGeneralLabel, 0, begin);
}

// The element table of an EDX file: one element per parsed record, the
// members linked as sons, the drawing extents from the bounding box.
#include "transfer/edx_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "support/messages.h"
#include "support/trace.h"
#include "transfer/edx_parser.h"
#include "elements/fetch_records.h"
#include "transfer/transfer_reader.h"

namespace {

// A warning: the file holds no element the parser knows.
constexpr int kMsgNoEdxElements = 1324;

// The parser and its lengths work with 32-bit counts.
constexpr std::size_t kMaxEdxFileSize = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

double length(const Point3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// The circle through s, p and q in the xy plane: false when the three lie
// on a straight line (or coincide).  `turn` is positive when s, p, q run
// counter-clockwise.
bool circleThrough(const Point3& s, const Point3& p, const Point3& q, Point3& centre, double& radius,
                   double& turn) {
  const double px = p.x - s.x, py = p.y - s.y;
  const double qx = q.x - s.x, qy = q.y - s.y;
  const double pp = px * px + py * py, qq = qx * qx + qy * qy;
  turn = px * qy - py * qx;
  // Relative test: the sine of the angle at s below 1e-12.
  if (!(std::fabs(turn) > 1e-12 * std::sqrt(pp) * std::sqrt(qq)) || pp == 0 || qq == 0) return false;
  const double ux = (qy * pp - py * qq) / (2 * turn);
  const double uy = (px * qq - qx * pp) / (2 * turn);
  centre = Point3{s.x + ux, s.y + uy, s.z};
  radius = std::sqrt(ux * ux + uy * uy);
  return std::isfinite(radius);
}

void stamp(ElementRecord& e, std::int32_t type, std::int32_t form, const char* label) {
  e.type = type;
  e.form = form;
  e.de.entityType = type;
  e.de.form = form;
  std::memset(e.de.label, 0, sizeof e.de.label);
  std::memcpy(e.de.label, label, std::min(std::strlen(label), sizeof e.de.label - 1));
}

template <typename Record>
std::unique_ptr<Record> transferRecord(const char* keyword, std::int32_t index) {
  auto record = std::make_unique<Record>();
  record->keyword = keyword;
  record->identifier = std::to_string(index);
  return record;
}

// The element of one parsed record.
void fillElement(std::int32_t index, const EdxRecord& r) {
  ElementRecord& e = element(index);
  e.transferId = index;
  switch (r.kind) {
    case EdxKind::kPoint: {
      auto point = transferRecord<TransferPoint>("point", index);
      point->point = edxPoint(r, 0);
      stamp(e, IgesType::kPoint, 0, TransferLabel::kPoint);
      e.params = std::move(point);
      return;
    }
    case EdxKind::kLine: {
      auto line = transferRecord<TransferLine>("line", index);
      line->start = edxPoint(r, 0);
      line->end = edxPoint(r, 1);
      stamp(e, IgesType::kLine, 0, TransferLabel::kLine);
      e.params = std::move(line);
      return;
    }
    case EdxKind::kCircle: {
      auto circle = transferRecord<TransferCircle>("circle", index);
      circle->centre = edxPoint(r, 0);
      circle->radius = length(edxPoint(r, 1));
      if (!std::isfinite(circle->radius)) circle->radius = 0;
      circle->fullCircle = true;
      circle->arcKind = "circle";
      circle->start = Point3{circle->centre.x + circle->radius, circle->centre.y, circle->centre.z};
      circle->end = circle->start;
      stamp(e, IgesType::kCircularArc, 0, TransferLabel::kCircle);
      e.params = std::move(circle);
      return;
    }
    case EdxKind::kArc: {
      const EdxArcShape shape = edxArcShape(edxPoint(r, 0), edxPoint(r, 1), edxPoint(r, 2), edxPoint(r, 3));
      if (shape.straight) {
        auto line = transferRecord<TransferLine>("line", index);
        line->start = shape.start;
        line->end = shape.end;
        stamp(e, IgesType::kLine, 0, TransferLabel::kLine);
        e.params = std::move(line);
        return;
      }
      auto circle = transferRecord<TransferCircle>("circle", index);
      circle->centre = shape.centre;
      circle->radius = shape.radius;
      circle->start = shape.start;
      circle->end = shape.end;
      circle->fullCircle = shape.full;
      circle->arcKind = shape.full ? "circle" : "arc";
      stamp(e, IgesType::kCircularArc, 0, TransferLabel::kCircle);
      e.params = std::move(circle);
      return;
    }
    case EdxKind::kGroup:
    case EdxKind::kCompositeSegment: {
      auto group = transferRecord<TransferGroup>("group", index);
      group->name = r.kind == EdxKind::kGroup ? r.text : "CSEG." + std::to_string(index);
      stamp(e, IgesType::kAssociativityInstance, 7, TransferLabel::kGroup);
      e.params = std::move(group);
      return;
    }
    default:
      return;
  }
}

// The member links, record index to record indices: each member once, no
// element inside itself (a dropped link is -1).  The links are walked depth-first from the
// records in their order; a link back to a record on the walk's path would
// close a cycle and is dropped.  Linear in records and links.
std::vector<std::vector<std::int32_t>> memberLinks(const std::vector<EdxRecord>& records) {
  const std::size_t n = records.size();
  std::vector<std::vector<std::int32_t>> links(n);
  std::vector<std::int32_t> seenIn(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::int32_t son : records[i].sons) {
      if (son < 0 || static_cast<std::size_t>(son) >= n || static_cast<std::size_t>(son) == i) continue;
      if (seenIn[static_cast<std::size_t>(son)] == static_cast<std::int32_t>(i)) continue;
      seenIn[static_cast<std::size_t>(son)] = static_cast<std::int32_t>(i);
      links[i].push_back(son);
    }
  }
  std::vector<char> colour(n, 0);  // 0 unseen, 1 on the path, 2 done
  struct Frame {
    std::size_t node;
    std::size_t next;
  };
  std::vector<Frame> path;
  for (std::size_t root = 0; root < n; ++root) {
    if (colour[root] != 0 || links[root].empty()) continue;
    colour[root] = 1;
    path.push_back(Frame{root, 0});
    while (!path.empty()) {
      Frame& top = path.back();
      std::vector<std::int32_t>& out = links[top.node];
      if (top.next == out.size()) {
        colour[top.node] = 2;
        path.pop_back();
        continue;
      }
      std::int32_t& link = out[top.next++];
      const auto to = static_cast<std::size_t>(link);
      if (colour[to] == 1) {
        link = -1;  // dropped
      } else if (colour[to] == 0) {
        colour[to] = 1;
        path.push_back(Frame{to, 0});
      }
    }
  }
  return links;
}

int fillTable() {
  TraceScope t("edx220");
  const EdxParserState& s = edxParser();
  const std::vector<EdxRecord>& records = s.records;
  if (records.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
  const auto n = static_cast<std::int32_t>(records.size());
  resetTable();
  if (allocateTable(n, n / 8 + 512) != 0) return -1;
  for (std::int32_t r = 0; r < n; ++r) {
    const std::int32_t index = newIndex();
    if (index != r + 1) return -1;
    fillElement(index, records[static_cast<std::size_t>(r)]);
  }
  const std::vector<std::vector<std::int32_t>> links = memberLinks(records);
  for (std::int32_t r = 0; r < n; ++r) {
    for (std::int32_t son : links[static_cast<std::size_t>(r)]) {
      if (son < 0) continue;
      if (appendSon(r + 1, son + 1) != 0 || linkSon(r + 1, son + 1, 'v') != 0) return -1;
    }
  }
  ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    ElementRecord& e = element(i);
    if (e.type == IgesType::kAssociativityInstance && e.sons == nullptr)
      e.state = ElementState::kError;
    e.sonCursor = e.sons;
    e.sonCursor2 = e.sons;
  }
  return 0;
}

// The bounding box as the drawing extents of the run.
void handOverExtents() {
  const EdxBox& box = edxParser().box;
  resetTransferReader();
  TransferReaderState& reader = transferReader();
  if (box.empty) return;
  reader.xmin = box.min.x;
  reader.ymin = box.min.y;
  reader.xmax = box.max.x;
  reader.ymax = box.max.y;
  reader.maxCoordinate =
      std::max({std::fabs(reader.xmin), std::fabs(reader.ymin), std::fabs(reader.xmax), std::fabs(reader.ymax)});
}

}  // namespace

EdxArcShape edxArcShape(const Point3& s, const Point3& a, const Point3& b, const Point3& e) {
  EdxArcShape shape;
  shape.start = s;
  shape.end = e;
  const double scale = std::max({std::hypot(a.x - s.x, a.y - s.y), std::hypot(b.x - s.x, b.y - s.y),
                                 std::hypot(e.x - s.x, e.y - s.y)});
  double turn = 0;
  const double gapX = s.x - e.x, gapY = s.y - e.y;
  if (std::sqrt(gapX * gapX + gapY * gapY) <= 1e-9 * scale) {
    if (scale > 0 && circleThrough(s, a, b, shape.centre, shape.radius, turn)) {
      shape.full = true;
      shape.start = Point3{shape.centre.x + shape.radius, shape.centre.y, s.z};
      shape.end = shape.start;
      return shape;
    }
    shape.straight = true;
    return shape;
  }
  if (!circleThrough(s, a, e, shape.centre, shape.radius, turn) &&
      !circleThrough(s, b, e, shape.centre, shape.radius, turn)) {
    shape.straight = true;
    return shape;
  }
  // IGES arcs run counter-clockwise: a clockwise arc is the same arc from
  // its end to its start.
  if (turn < 0) std::swap(shape.start, shape.end);
  shape.start.z = s.z;
  shape.end.z = s.z;
  return shape;
}

int loadEdxText(const std::string& fileName, std::string text) {
  TraceScope t("edx210");
  if (text.size() > kMaxEdxFileSize) return -1;
  try {
    resetEdxParser();
    EdxBuffer buffer;
    buffer.fileName = fileName;
    buffer.length = static_cast<std::int32_t>(text.size());
    buffer.text = std::move(text);
    parseEdxFile(buffer);
    // Nothing the parser knows: damaged, or not an EDX file at all.
    if (edxParser().records.empty()) mfaWarning(t.code(), kMsgNoEdxElements, Channel::kBoth);
    const int filled = fillTable();
    handOverExtents();
    return filled;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int loadEdxTable(const std::string& fileName) {
  TraceScope t("edx200");
  std::string text;
  const int r = readTransferFileBytes(fileName, text);
  return r != 0 ? r : loadEdxText(fileName, std::move(text));
}

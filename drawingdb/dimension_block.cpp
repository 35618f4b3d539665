#include "drawingdb/dimension_block.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <unordered_set>

#include "drawingdb/dxf_fields.h"
#include "drawingdb/plane.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

using namespace plane;

// The number of the next *D<n> block: one above the highest in use.
std::int64_t nextDimensionNumber(const Database& db) {
  std::int64_t highest = 0;
  for (const BlockRecord& b : db.blocks) {
    if (b.name.size() < 3 || b.name[0] != '*' || (b.name[1] != 'D' && b.name[1] != 'd')) continue;
    std::int64_t n = 0;
    const char* first = b.name.data() + 2;
    const char* last = b.name.data() + b.name.size();
    const auto [ptr, ec] = std::from_chars(first, last, n);
    if (ec == std::errc() && ptr == last && n > highest) highest = n;
  }
  return highest + 1;
}

bool isDimensionBlockName(std::string_view n) { return n.size() >= 2 && n[0] == '*' && (n[1] == 'D' || n[1] == 'd'); }

const DimStyle& styleOf(const Database& db, const Dimension& d) {
  static const DimStyle defaults{};
  if (const Record<DimStyle>* r = db.dimstyles.find(d.style)) return r->data;
  if (!db.dimstyles.records.empty()) return db.dimstyles.records.front().data;
  return defaults;
}

bool isText(const RawTag& t, int code, std::string_view text) {
  return t.code == code && t.type == TagType::String && sameName(t.text, text);
}

// Applies the DSTYLE pairs of the XDATA of application ACAD.
void applyOverrides(DimStyle& s, const std::vector<RawTag>& xdata) {
  FieldReader<DimStyle> fields(fieldsOf<DimStyle>());
  bool acad = false;
  for (std::size_t i = 0; i < xdata.size(); ++i) {
    if (xdata[i].code == 1001) acad = isText(xdata[i], 1001, "ACAD");
    if (!acad || !isText(xdata[i], 1000, "DSTYLE") || i + 1 >= xdata.size() || !isText(xdata[i + 1], 1002, "{")) continue;
    // Up to the closing brace, or where the pairs end or break off.
    for (i += 2; i + 1 < xdata.size() && xdata[i].code == 1070; i += 2) {
      Tag value = tagOf(xdata[i + 1]);
      if (value.code == 1001 || value.code == 1002) break;
      const int code = clampInt32(xdata[i].integer);
      if (code <= 0 || code >= 1000) continue;  // no group of a style
      value.code = code;
      fields.take(s, value, 0);
    }
    return;
  }
}

std::string textStyleName(const Database& db, const DimStyle& s) {
  if (s.textStyle != 0)
    for (const Record<TextStyle>& r : db.styles.records)
      if (r.common.handle == s.textStyle) return r.common.name;
  if (const Record<TextStyle>* r = db.styles.find("Standard")) return r->common.name;
  return "Standard";
}

// A text angle that reads from the left or from below: within (-90, 90].
double readable(double degreesAngle) {
  double a = std::fmod(degreesAngle, 360.0);
  if (a <= -90) a += 360;
  if (a > 270) a -= 360;
  if (a > 90) a -= 180;
  return a;
}

// The side above a text read along the angle (degrees).
Vec above(double rotationDegrees) { return perpendicular(direction(radians(rotationDegrees))); }

// The characters a text shows: UTF-8 sequences and the %%c, %%d and %%p
// codes count one each.
std::size_t shownCharacters(std::string_view v) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if ((static_cast<unsigned char>(v[i]) & 0xC0) == 0x80) continue;
    if (v[i] == '%' && i + 2 < v.size() && v[i + 1] == '%') i += 2;
    ++n;
  }
  return n;
}

// Draws one dimension into its block, in the dimension's plane: the points
// of the dimension (world coordinates, the text's middle in the plane's
// own) are taken into the plane's coordinate system (by its extrusion),
// drawn there, and the lines and points go back to world coordinates while
// arcs, solids and texts keep the plane's coordinates and its extrusion.
class Drawer {
 public:
  Drawer(Database& db, std::size_t block, const Dimension& d, const DimStyle& s, std::string textStyle)
      : db_(db), block_(block), d_(d), s_(s), textStyle_(std::move(textStyle)), ocs_(ocsOf(d.extrusion)) {
    const double scale = s.scale > 0 && std::isfinite(s.scale) ? s.scale : 1;
    auto sized = [&](double v) { return std::isfinite(v * scale) ? v * scale : 0.0; };
    arrow_ = sized(s.arrowSize);
    tick_ = sized(s.tickSize);
    exo_ = sized(s.extensionOffset);
    exe_ = sized(s.extensionExtend);
    height_ = sized(s.textHeight);
    gap_ = std::fabs(sized(s.gap));
    centre_ = sized(s.centerMark);
    lineExtend_ = sized(s.lineExtend);
    const double elevation = toOcs(ocs_, d.definition).z;
    z_ = std::isfinite(elevation) ? elevation : 0;
    auto colour = [](std::int32_t c) { return c >= 0 && c <= 256 ? c : 0; };
    lineColour_ = colour(s.lineColour);
    extensionColour_ = colour(s.extensionColour);
    textColour_ = colour(s.textColour);
  }

  // Returns the measurement; `textMid` receives the text position (in the
  // plane's coordinates).
  double draw(Point3& textMid) {
    switch (dimensionKind(d_)) {
      case DimensionKind::Linear:
      case DimensionKind::Aligned: return linear(textMid);
      case DimensionKind::Angular: return angular2Line(textMid);
      case DimensionKind::Angular3Point: return angular3Point(textMid);
      case DimensionKind::Diameter: return diameter(textMid);
      case DimensionKind::Radius: return radius(textMid);
      case DimensionKind::Ordinate: return ordinate(textMid);
    }
    return 0;
  }

 private:
  bool userText() const { return (d_.flags & 128) != 0; }
  // A point of the dimension in the plane.
  Vec in(const Point3& world) const { return of(toOcs(ocs_, world)); }
  Point3 world(Vec v) const { return fromOcs(ocs_, at(v, z_)); }
  Point3 placed(Vec v) const { return at(v, z_); }

  // Pieces that points far out made overflow are left out.
  void add(Entity e) {
    if (finiteDrawing(e)) db_.addEntity(db_.blocks[block_], std::move(e));
  }

  void line(Vec a, Vec b, std::int32_t colour) {
    Entity e = makeEntity(EntityKind::Line);
    e.common.colour = colour;
    get<Line>(e.data) = Line{world(a), world(b)};
    add(std::move(e));
  }

  bool filledArrows() const { return !(tick_ > 0) && arrow_ > 0; }
  double arrowLength() const { return tick_ > 0 ? tick_ : arrow_; }

  // An arrow with its tip at `tip`, its tail towards `back` (a unit
  // vector): a filled triangle, or a tick when the style has a tick size.
  void arrowAt(Vec tip, Vec back) {
    if (tick_ > 0) {
      const Vec slant = unit(back + perpendicular(back)) * tick_;
      line(tip - slant, tip + slant, lineColour_);
      return;
    }
    if (!(arrow_ > 0)) return;
    Entity e = makeEntity(EntityKind::Solid);
    e.common.colour = lineColour_;
    const Vec base = tip + back * arrow_;
    const Vec side = perpendicular(back) * (arrow_ / 6);
    Solid& s = get<Solid>(e.data);
    s.corner1 = placed(base + side);
    s.corner2 = placed(base - side);
    s.corner3 = s.corner4 = placed(tip);
    s.extrusion = ocs_.z;
    add(std::move(e));
  }

  void text(Vec mid, double rotationDegrees, const std::string& value) {
    if (value.empty()) return;
    Entity e = makeEntity(EntityKind::Text);
    e.common.colour = textColour_;
    Text& t = get<Text>(e.data);
    t.insertion = t.alignment = placed(mid);
    t.height = height_ > 0 ? height_ : 0.18;
    t.value = value;
    t.rotation = rotationDegrees;
    t.style = textStyle_;
    t.horizontal = 4;  // middle: the alignment point is the text's centre
    t.extrusion = ocs_.z;
    add(std::move(e));
  }

  void arcPiece(Vec centre, double r, double start, double end) {
    Entity e = makeEntity(EntityKind::Arc);
    e.common.colour = lineColour_;
    Arc& a = get<Arc>(e.data);
    a.center = placed(centre);
    a.radius = r;
    a.startAngle = degrees(normalized(start));
    a.endAngle = degrees(normalized(end));
    a.extrusion = ocs_.z;
    add(std::move(e));
  }

  void defpoint(const Point3& p) {
    Entity e = makeEntity(EntityKind::Point);
    e.common.layer = "Defpoints";
    get<PointEntity>(e.data).location = p;
    add(std::move(e));
  }

  void centreMark(Vec c) {
    const double size = std::fabs(centre_);
    if (!(size > 0)) return;
    line(c - Vec{size, 0}, c + Vec{size, 0}, lineColour_);
    line(c - Vec{0, size}, c + Vec{0, size}, lineColour_);
  }

  // An extension line along `dir` from the point at distance `from` to
  // distance `to` from `origin`, leaving the style's gap at the measured
  // point and overshooting the dimension line by the style's extension.
  void extension(Vec origin, Vec dir, double from, double to, bool suppressed) {
    if (suppressed) return;
    const double sign = to >= from ? 1 : -1;
    const double a = from + sign * exo_, b = to + sign * exe_;
    if ((b - a) * sign > 0) line(origin + dir * a, origin + dir * b, extensionColour_);
  }

  std::string value(double measurement) const { return dimensionText(d_, s_, measurement); }
  double textWidth(const std::string& v) const { return static_cast<double>(shownCharacters(v)) * height_ * 0.8; }

  // The text's distance from its line, towards the side above the text
  // (DIMTAD 1 above, 2 outside, 3 as 1, 4 below, 0 on the line: moved by
  // DIMTVP times the text height).
  double textOffset() const {
    if (s_.textAbove == 0) return std::isfinite(s_.textVertical) ? s_.textVertical * height_ : 0;
    const double off = gap_ + height_ / 2;
    return s_.textAbove == 4 ? -off : off;
  }
  double rotationAlong(Vec dir) const { return d_.textRotation != 0 ? d_.textRotation : readable(degrees(angleOf(dir))); }
  // Whether a text inside the extension lines (the arc, the circle) stands
  // level (DIMTIH), or one outside them (DIMTOH).
  bool level(bool inside) const { return d_.textRotation == 0 && (inside ? s_.textInside : s_.textOutside) != 0; }
  // The rotation a text is drawn with: `along` its line, or level.
  double shownRotation(double along, bool inside) const { return level(inside) ? 0 : along; }

  // A dimension line from a to b with the style's arrows at the ends that
  // ask for them: the line stops at the tails of filled arrows, runs on
  // past ticks by DIMDLE, and leaves room (DIMGAP around it) for a text
  // standing on it.
  void dimensionLine(Vec a, Vec b, bool arrowAtA, bool arrowAtB, Vec textMid, const std::string& shown) {
    const Vec along = unit(b - a);
    double from = 0, to = length(b - a);
    if (filledArrows() && to > (arrowAtA ? arrow_ : 0) + (arrowAtB ? arrow_ : 0)) {
      from += arrowAtA ? arrow_ : 0;
      to -= arrowAtB ? arrow_ : 0;
    } else if (tick_ > 0) {
      from -= arrowAtA ? lineExtend_ : 0;
      to += arrowAtB ? lineExtend_ : 0;
    }
    const double across = cross(along, textMid - a), at = dot(textMid - a, along);
    const double half = textWidth(shown) / 2 + gap_;
    if (!shown.empty() && std::fabs(across) < height_ / 2 && at + half > from && at - half < to) {
      if (at - half > from) line(a + along * from, a + along * (at - half), lineColour_);
      if (at + half < to) line(a + along * (at + half), a + along * to, lineColour_);
    } else {
      line(a + along * from, a + along * to, lineColour_);
    }
    if (arrowAtA) arrowAt(a, along);
    if (arrowAtB) arrowAt(b, along * -1);
  }

  // Rotated and aligned: the distance between the extension origins along
  // the dimension line's direction.  The text stands where DIMJUST says:
  // 0 centred, 1 and 2 beside the first or second extension line, 3 and 4
  // along the first or second extension line beyond the dimension line.
  double linear(Point3& textMid) {
    const Vec p1 = in(d_.defPoint2), p2 = in(d_.defPoint3), on = in(d_.definition);
    const Vec u = dimensionKind(d_) == DimensionKind::Aligned ? unit(p2 - p1) : direction(radians(d_.rotation));
    const Vec n = perpendicular(u);
    Vec e = d_.oblique != 0 ? direction(radians(d_.oblique)) : n;
    if (std::fabs(dot(e, n)) < 1e-9) e = n;
    const Vec d1 = p1 + e * (dot(on - p1, n) / dot(e, n));
    const Vec d2 = p2 + e * (dot(on - p2, n) / dot(e, n));
    const double measured = std::fabs(dot(d2 - d1, u));
    const std::string shown = value(measured);
    const double width = textWidth(shown);
    const Vec e1 = unit(d1 - p1, e), e2 = unit(d2 - p2, e);
    const int just = std::clamp(s_.justification, 0, 4);
    const bool alongExtension = just >= 3 && !userText();
    double rotation = rotationAlong(u);
    if (alongExtension) {
      const Vec dir = just == 3 ? e1 : e2;
      rotation = rotationAlong(dir);
      // On the side of the extension line away from the other one, however
      // the text reads.
      Vec side = above(rotation);
      if (dot(side, just == 3 ? d2 - d1 : d1 - d2) > 0) side = side * -1;
      textMid = placed((just == 3 ? d1 : d2) + dir * (exe_ + width / 2) + side * (gap_ + height_ / 2));
    } else if (!userText()) {
      const Vec along = unit(d2 - d1, u);
      Vec side = above(rotation);
      // Outside: away from the points measured.
      if (s_.textAbove == 2 && dot(side, d1 - p1) + dot(side, d2 - p2) < 0) side = side * -1;
      Vec mid = (d1 + d2) * 0.5;
      if (just == 1) mid = d1 + along * (arrowLength() + gap_ + width / 2);
      if (just == 2) mid = d2 - along * (arrowLength() + gap_ + width / 2);
      textMid = placed(mid + side * textOffset());
    }
    extension(p1, e1, 0, length(d1 - p1) + (alongExtension && just == 3 ? width : 0), s_.suppress1 != 0);
    extension(p2, e2, 0, length(d2 - p2) + (alongExtension && just == 4 ? width : 0), s_.suppress2 != 0);
    dimensionLine(d1, d2, true, true, of(textMid), shown);
    // Inside: between the extension lines, as a text the user placed may not be.
    const double at = dot(of(textMid) - d1, unit(d2 - d1, u));
    const bool inside = !alongExtension && (!userText() || (at >= 0 && at <= length(d2 - d1)));
    text(of(textMid), shownRotation(rotation, inside), shown);
    defpoint(d_.defPoint2);
    defpoint(d_.defPoint3);
    defpoint(d_.definition);
    return measured;
  }

  // An arc around `vertex` through `onArc` from ray angle `start` counter-
  // clockwise to `end` (radians), with arrows at both ends, broken around
  // a text standing on it.  Returns the angle measured.
  double arc(Vec vertex, Vec onArc, double start, double end, Point3& textMid) {
    const double r = length(onArc - vertex);
    const double sweep = normalized(end - start);
    const double middle = start + sweep / 2;
    const std::string shown = value(sweep);
    const double along = d_.textRotation != 0 ? d_.textRotation : readable(degrees(middle) - 90);
    // The text is inside when it stands within the angle, outside the arc's ends.
    const bool inside = userText() ? normalized(angleOf(of(textMid) - vertex) - start) <= sweep : true;
    const double rotation = shownRotation(along, inside);
    if (!userText()) {
      // Above the text is outwards or inwards, as the text reads.
      const double outwards = dot(above(rotation), direction(middle)) >= 0 ? 1 : -1;
      textMid = placed(vertex + direction(middle) * (r + outwards * textOffset()));
    }
    if (r > 0) {
      const Vec mid = of(textMid);
      const double half = (textWidth(shown) / 2 + gap_) / r;
      const double at = normalized(angleOf(mid - vertex) - start);
      if (!shown.empty() && std::fabs(length(mid - vertex) - r) < height_ / 2 && at - half < sweep && at + half > 0 && 2 * half < kPi) {
        if (at - half > 0) arcPiece(vertex, r, start, start + at - half);
        if (at + half < sweep) arcPiece(vertex, r, start + at + half, end);
      } else {
        arcPiece(vertex, r, start, end);
      }
      arrowAt(vertex + direction(start) * r, perpendicular(direction(start)));
      arrowAt(vertex + direction(end) * r, perpendicular(direction(end)) * -1);
    }
    text(of(textMid), rotation, shown);
    return sweep;
  }

  // The sector around the vertex that holds the angle `inside`, bounded by
  // two of the `rays` (angles): their indices, start and end counter-
  // clockwise.
  static std::pair<std::size_t, std::size_t> sectorOf(const std::vector<double>& rays, double inside) {
    std::size_t start = 0, end = 0;
    double before = kTwoPi + 1, after = kTwoPi + 1;
    for (std::size_t i = 0; i < rays.size(); ++i) {
      const double back = normalized(inside - rays[i]), ahead = normalized(rays[i] - inside);
      if (back < before) before = back, start = i;
      if (ahead < after) after = ahead, end = i;
    }
    return {start, end};
  }

  // The extension line on the ray at `angle` from the farthest of the two
  // points of its line on that side of the vertex out (or in) to the arc.
  void rayExtension(Vec vertex, double angle, double r, Vec p, Vec q) {
    const Vec dir = direction(angle);
    extension(vertex, dir, std::max({0.0, dot(p - vertex, dir), dot(q - vertex, dir)}), r, false);
  }

  // The first line runs through defPoint2 and defPoint3, the second
  // through defPoint4 and the definition point; the arc point picks which
  // of the four angles between them is measured.
  double angular2Line(Point3& textMid) {
    const Vec a1 = in(d_.defPoint2), a2 = in(d_.defPoint3), b1 = in(d_.defPoint4), b2 = in(d_.definition);
    const Vec da = a2 - a1, db = b2 - b1;
    const double denominator = cross(da, db);
    double measured = 0;
    if (std::fabs(denominator) > 1e-12 * std::max(1.0, length(da) * length(db))) {
      const Vec vertex = a1 + da * (cross(b1 - a1, db) / denominator);
      const double aa = angleOf(da), ab = angleOf(db);
      const std::vector<double> rays{normalized(aa), normalized(aa + kPi), normalized(ab), normalized(ab + kPi)};
      const Vec onArc = in(d_.arcPoint);
      const auto [start, end] = sectorOf(rays, angleOf(onArc - vertex));
      const double r = length(onArc - vertex);
      rayExtension(vertex, rays[start], r, start < 2 ? a1 : b1, start < 2 ? a2 : b2);
      rayExtension(vertex, rays[end], r, end < 2 ? a1 : b1, end < 2 ? a2 : b2);
      measured = arc(vertex, onArc, rays[start], rays[end], textMid);
    } else {
      // Parallel lines enclose no angle: the text alone.
      if (!userText()) textMid = placed(in(d_.arcPoint));
      text(of(textMid), d_.textRotation, value(0));
    }
    defpoint(d_.defPoint2);
    defpoint(d_.defPoint3);
    defpoint(d_.defPoint4);
    defpoint(d_.definition);
    defpoint(d_.arcPoint);
    return measured;
  }

  double angular3Point(Point3& textMid) {
    const Vec vertex = in(d_.defPoint4), p1 = in(d_.defPoint2), p2 = in(d_.defPoint3), onArc = in(d_.definition);
    const double a = normalized(angleOf(p1 - vertex)), b = normalized(angleOf(p2 - vertex));
    const double inside = normalized(angleOf(onArc - vertex));
    const bool fromA = normalized(inside - a) <= normalized(b - a);
    const double start = fromA ? a : b, end = fromA ? b : a;
    const double r = length(onArc - vertex);
    extension(vertex, direction(a), length(p1 - vertex), r, s_.suppress1 != 0);
    extension(vertex, direction(b), length(p2 - vertex), r, s_.suppress2 != 0);
    const double measured = arc(vertex, onArc, start, end, textMid);
    defpoint(d_.defPoint2);
    defpoint(d_.defPoint3);
    defpoint(d_.defPoint4);
    defpoint(d_.definition);
    return measured;
  }

  double diameter(Point3& textMid) {
    const Vec a = in(d_.definition), b = in(d_.defPoint4);
    const Vec dir = unit(b - a);
    const double measured = length(b - a);
    const std::string shown = value(measured);
    const Vec c = (a + b) * 0.5;
    const double rotation = rotationAlong(dir);
    if (!userText()) textMid = placed(c + dir * (measured / 4) + above(rotation) * textOffset());
    dimensionLine(a, b, true, true, of(textMid), shown);
    centreMark(c);
    text(of(textMid), shownRotation(rotation, length(of(textMid) - c) < measured / 2), shown);
    defpoint(d_.definition);
    defpoint(d_.defPoint4);
    return measured;
  }

  double radius(Point3& textMid) {
    const Vec c = in(d_.definition), q = in(d_.defPoint4);
    const Vec dir = unit(q - c);
    const double measured = length(q - c);
    const std::string shown = value(measured);
    const double width = textWidth(shown);
    // Placed by the toolkit the text stands outside the curve, at the end
    // of a leader: along it, or level and beside the leader's end.
    const double leader = d_.leaderLength > 0 ? d_.leaderLength : 2 * arrow_;
    if (!userText())
      textMid = placed(level(false) ? q + dir * (leader + gap_) + Vec{(dir.x >= 0 ? 1 : -1) * width / 2, 0}
                                    : q + dir * (leader + gap_ + width / 2));
    const Vec mid = of(textMid);
    const bool inside = length(mid - c) < measured;
    if (inside) {
      dimensionLine(c, q, false, true, mid, shown);
    } else {
      // Outside the curve: from the arrow at the curve out to the text.
      const double out = level(false) ? std::max(dot(mid - q, dir) - gap_, 2 * arrow_)
                                      : std::max(length(mid - q) - gap_ - width / 2, 2 * arrow_);
      dimensionLine(q, q + dir * out, true, false, mid, shown);
    }
    centreMark(c);
    text(mid, shownRotation(rotationAlong(dir), inside), shown);
    defpoint(d_.definition);
    defpoint(d_.defPoint4);
    return measured;
  }

  double ordinate(Point3& textMid) {
    const bool alongX = (d_.flags & 64) != 0;  // the X of the feature is measured
    const Vec origin = in(d_.definition), feature = in(d_.defPoint2), end = in(d_.defPoint3);
    const Vec axis = alongX ? Vec{0, 1} : Vec{1, 0};
    const double measured = alongX ? feature.x - origin.x : feature.y - origin.y;
    const double run = dot(end - feature, axis);
    const double sign = run >= 0 ? 1 : -1;
    const double jog = 2 * arrow_;
    const Vec kneeNear = feature + axis * (sign * std::max(std::fabs(run) - 2 * jog, exo_));
    const Vec kneeFar = end - axis * (sign * jog);
    line(feature + axis * (sign * exo_), kneeNear, extensionColour_);
    line(kneeNear, kneeFar, extensionColour_);
    line(kneeFar, end, extensionColour_);
    const std::string shown = value(std::fabs(measured));
    // The text stands beyond the leader's end, along the leader or level
    // (DIMTOH: the text of an ordinate is outside).
    const double rotation = d_.textRotation != 0 ? d_.textRotation : shownRotation(alongX ? 90 : 0, false);
    const bool runsAlongLeader = !(alongX && level(false));
    if (!userText()) {
      const Vec beyond = axis * (sign * (gap_ + (runsAlongLeader ? textWidth(shown) / 2 : height_ / 2)));
      textMid = placed(end + beyond + (runsAlongLeader ? above(rotation) * textOffset() : Vec{0, 0}));
    }
    text(of(textMid), rotation, shown);
    defpoint(d_.defPoint2);
    defpoint(d_.defPoint3);
    return measured;
  }

  Database& db_;
  std::size_t block_;
  const Dimension& d_;
  const DimStyle& s_;
  std::string textStyle_;
  Ocs ocs_;
  double arrow_ = 0, tick_ = 0, exo_ = 0, exe_ = 0, height_ = 0, gap_ = 0, centre_ = 0, lineExtend_ = 0, z_ = 0;
  std::int32_t lineColour_ = 0, extensionColour_ = 0, textColour_ = 0;
};

void ensureDefpointsLayer(Database& db) {
  if (db.layers.find("Defpoints") != nullptr) return;
  Record<Layer>& l = db.addRecord(db.layers, "Defpoints");
  l.data.plot = false;
  if (const Record<Linetype>* c = db.linetypes.find("Continuous")) l.data.linetype = c->common.name;
}

Status build(Database& db, EntityId id, std::int64_t& nextNumber) {
  if (id >= db.entities.size() || !holds_alternative<Dimension>(db.entities[id].data))
    return Status::fail(StatusCode::NotFound, "entity " + std::to_string(id) + " is not a dimension");
  ensureDefpointsLayer(db);
  Dimension dim = get<Dimension>(db.entities[id].data);
  std::size_t block = db.blocks.size();
  if (BlockRecord* named = dim.block.empty() ? nullptr : db.findBlock(dim.block); named && isDimensionBlockName(named->name)) {
    block = db.blockIndex(*named);
    named->entities.clear();
  } else {
    db.addBlock("*D" + std::to_string(nextNumber++));
  }
  BlockRecord& b = db.blocks[block];
  b.flags |= 1;
  b.base = {};
  dim.block = b.name;
  dim.flags |= 32;
  const DimStyle style = effectiveDimStyle(db, db.entities[id]);
  Point3 textMid = dim.textMid;
  const double measured = Drawer(db, block, dim, style, textStyleName(db, style)).draw(textMid);
  dim.measurement = measured;
  dim.textMid = textMid;
  get<Dimension>(db.entities[id].data) = std::move(dim);
  return {};
}

}  // namespace

DimStyle effectiveDimStyle(const Database& db, const Entity& dimension) {
  const auto* d = get_if<Dimension>(&dimension.data);
  if (d == nullptr) return {};
  DimStyle s = styleOf(db, *d);
  applyOverrides(s, dimension.common.xdata());
  return s;
}

std::string dimensionText(const Dimension& d, const DimStyle& s, double measurement) {
  if (d.text == " ") return {};  // a blank override hides the text
  const DimensionKind kind = dimensionKind(d);
  const bool angular = kind == DimensionKind::Angular || kind == DimensionKind::Angular3Point;
  double v = angular ? degrees(measurement) : measurement * (s.linearFactor != 0 ? s.linearFactor : 1);
  if (s.rounding > 0 && std::isfinite(s.rounding)) v = std::round(v / s.rounding) * s.rounding;
  const int decimals = std::clamp(s.decimals, 0, 8);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, std::isfinite(v) ? v : 0.0);
  std::string number = buffer;
  if ((s.zeroSuppression & 8) && number.find('.') != std::string::npos) {
    while (number.back() == '0') number.pop_back();
    if (number.back() == '.') number.pop_back();
  }
  if (number == "-0") number = "0";
  if (angular) number += "%%d";
  if (kind == DimensionKind::Radius) number = "R" + number;
  if (kind == DimensionKind::Diameter) number = "%%c" + number;
  if (!s.post.empty() && !angular) {
    const auto at = s.post.find("<>");
    number = at == std::string::npos ? number + s.post : s.post.substr(0, at) + number + s.post.substr(at + 2);
  }
  if (d.text.empty()) return number;
  std::string shown = d.text;
  for (auto at = shown.find("<>"); at != std::string::npos; at = shown.find("<>", at + number.size()))
    shown.replace(at, 2, number);
  return shown;
}

Status buildDimensionBlock(Database& db, EntityId id) {
  std::int64_t next = nextDimensionNumber(db);
  return build(db, id, next);
}

std::size_t buildMissingDimensionBlocks(Database& db) {
  std::int64_t next = 0;
  std::size_t built = 0;
  std::unordered_set<std::string> names;  // upper-cased, made at the first dimension
  bool named = false;
  // Building a block adds entities (no dimensions), which moves the list's
  // iterators: the walk takes its place again from the id after a build.
  EntityId id = 0;
  for (auto it = db.entities.begin(); it != db.entities.end(); ++it, ++id) {
    if (it->kind != EntityKind::Dimension) continue;
    const auto* d = get_if<Dimension>(&it->data);
    if (d == nullptr) continue;
    if (!named) {
      for (const BlockRecord& b : db.blocks) {
        std::string u = b.name;
        for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        names.insert(std::move(u));
      }
      named = true;
    }
    std::string u = d->block;
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!u.empty() && names.count(u)) continue;
    if (next == 0) next = nextDimensionNumber(db);
    if (build(db, id, next).ok()) ++built;
    it = db.entities.begin() + static_cast<std::ptrdiff_t>(id);
  }
  return built;
}

}  // namespace drawingdb

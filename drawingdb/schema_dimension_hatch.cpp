// The declarations of DIMENSION and HATCH.
//
// A dimension is one field list whose subclasses follow its kind: each
// kind's points are written under the kind's own subclass marker (R13 on),
// and every kind keeps its points in the same members, so files without
// markers (before R13) read the same way.
//
// A hatch's boundary paths reuse group codes with meanings that depend on
// the path (polyline or edges) and on the edge's type, so they have a
// descriptor of their own that decides by the path and edge read last.
// Counts in the file (paths, vertices, edges, knots, control points) only
// reserve room, bounded by the rest of the file; the data are the groups
// that follow.
#include "drawingdb/dxf_fields.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

using R = Release;
constexpr Emit kOpt = Emit::IfNotDefault;
constexpr Span kR12On = since(R::R12);

// ------------------------------------------------------------- dimension

bool isLinearOrAligned(const Dimension& d) {
  return dimensionKind(d) == DimensionKind::Linear || dimensionKind(d) == DimensionKind::Aligned;
}
bool isLinear(const Dimension& d) { return dimensionKind(d) == DimensionKind::Linear; }
bool isAngular(const Dimension& d) { return dimensionKind(d) == DimensionKind::Angular; }
bool isAngular3Point(const Dimension& d) { return dimensionKind(d) == DimensionKind::Angular3Point; }
bool isDiameter(const Dimension& d) { return dimensionKind(d) == DimensionKind::Diameter; }
bool isRadius(const Dimension& d) { return dimensionKind(d) == DimensionKind::Radius; }
bool isOrdinate(const Dimension& d) { return dimensionKind(d) == DimensionKind::Ordinate; }

template <class F>
constexpr F when(F f, bool (*w)(const Dimension&)) {
  f.when = w;
  return f;
}

constexpr Field<Dimension> kDimension[] = {
    marker<Dimension>("AcDbDimension"),
    field("block", &Dimension::block, 2),
    point("definition", &Dimension::definition, 10),
    point("textMid", &Dimension::textMid, 11),
    point("cloneInsertion", &Dimension::cloneInsertion, 12, kAllReleases, kR10On, kOpt),
    field("flags", &Dimension::flags, 70),
    field("text", &Dimension::text, 1, kAllReleases, kOpt),
    field("attachment", &Dimension::attachment, 71, kR2000On),
    field("lineSpacingStyle", &Dimension::lineSpacingStyle, 72, kR2000On, kOpt),
    field("lineSpacing", &Dimension::lineSpacing, 41, kR2000On, kOpt),
    field("measurement", &Dimension::measurement, 42, kR2000On),
    field("textRotation", &Dimension::textRotation, 53, kAllReleases, kOpt),
    field("horizontalDirection", &Dimension::horizontalDirection, 51, kAllReleases, kOpt),
    point("extrusion", &Dimension::extrusion, 210, kR10On, kR10On, kOpt),
    field("style", &Dimension::style, 3, kR12On),
    marker<Dimension>("AcDbAlignedDimension", isLinearOrAligned),
    when(point("defPoint2", &Dimension::defPoint2, 13), isLinearOrAligned),
    when(point("defPoint3", &Dimension::defPoint3, 14), isLinearOrAligned),
    when(field("rotation", &Dimension::rotation, 50), isLinear),
    when(field("oblique", &Dimension::oblique, 52, kAllReleases, kOpt), isLinearOrAligned),
    marker<Dimension>("AcDbRotatedDimension", isLinear),
    marker<Dimension>("AcDb2LineAngularDimension", isAngular),
    when(point("defPoint2", &Dimension::defPoint2, 13), isAngular),
    when(point("defPoint3", &Dimension::defPoint3, 14), isAngular),
    when(point("defPoint4", &Dimension::defPoint4, 15), isAngular),
    when(point("arcPoint", &Dimension::arcPoint, 16), isAngular),
    marker<Dimension>("AcDb3PointAngularDimension", isAngular3Point),
    when(point("defPoint2", &Dimension::defPoint2, 13), isAngular3Point),
    when(point("defPoint3", &Dimension::defPoint3, 14), isAngular3Point),
    when(point("defPoint4", &Dimension::defPoint4, 15), isAngular3Point),
    marker<Dimension>("AcDbDiametricDimension", isDiameter),
    when(point("defPoint4", &Dimension::defPoint4, 15), isDiameter),
    when(field("leaderLength", &Dimension::leaderLength, 40), isDiameter),
    marker<Dimension>("AcDbRadialDimension", isRadius),
    when(point("defPoint4", &Dimension::defPoint4, 15), isRadius),
    when(field("leaderLength", &Dimension::leaderLength, 40), isRadius),
    marker<Dimension>("AcDbOrdinateDimension", isOrdinate),
    when(point("defPoint2", &Dimension::defPoint2, 13), isOrdinate),
    when(point("defPoint3", &Dimension::defPoint3, 14), isOrdinate),
};

// ------------------------------------------------------------- hatch

std::size_t reserveFor(std::int64_t count, std::size_t remaining) {
  return count > 0 ? std::min<std::size_t>(static_cast<std::size_t>(count), remaining / 4 + 1) : 0;
}

void write2d(TagWriter& w, int code, const Point3& p) {
  w.real(code, p.x);
  w.real(code + 10, p.y);
}

// The boundary paths: 91 count, then per path 92 flags and either the
// polyline (72 has bulges, 73 closed, 93 count, 10/20 [42] per vertex) or
// the edges (93 count, per edge 72 type and its groups), then 97 and the
// 330 handles of the source entities.
class HatchPaths final : public ListDesc<Hatch> {
 public:
  std::string_view member() const override { return "paths"; }
  std::size_t size(const Hatch& h) const override { return h.paths.size(); }
  bool takesCode(int code) const override {
    switch (code) {
      case 91: case 92: case 93: case 94: case 95: case 96: case 97:
      case 72: case 73: case 74:
      case 10: case 20: case 11: case 21: case 12: case 22: case 13: case 23:
      case 40: case 42: case 50: case 51: case 330:
        return true;
      default:
        return false;
    }
  }

  void dxfWrite(const Hatch& h, TagWriter& w, Release r) const override {
    w.integer(91, static_cast<std::int64_t>(h.paths.size()));
    for (const HatchPath& p : h.paths) {
      w.integer(92, p.flags);
      if (p.flags & 2) {
        bool bulges = false;
        for (const HatchVertex& v : p.vertices) bulges = bulges || v.bulge != 0;
        w.integer(72, bulges ? 1 : 0);
        w.integer(73, p.closed ? 1 : 0);
        w.integer(93, static_cast<std::int64_t>(p.vertices.size()));
        for (const HatchVertex& v : p.vertices) {
          write2d(w, 10, v.location);
          if (bulges) w.real(42, v.bulge);
        }
      } else {
        w.integer(93, static_cast<std::int64_t>(p.edges.size()));
        for (const HatchEdge& e : p.edges) writeEdge(e, w, r);
      }
      w.integer(97, static_cast<std::int64_t>(p.sources.size()));
      for (Handle s : p.sources) w.handle(330, s);
    }
  }

  void dxfRead(Hatch& h, const Tag& t, std::size_t remaining) const override {
    if (t.code == 91) {
      h.paths.reserve(reserveFor(t.integer, remaining));
      return;
    }
    if (t.code == 92) {
      h.paths.emplace_back();
      h.paths.back().flags = clampInt32(t.integer);
      return;
    }
    if (h.paths.empty()) return;  // a group before any path means nothing
    HatchPath& p = h.paths.back();
    if (t.code == 330) {
      p.sources.push_back(static_cast<Handle>(t.integer));
      return;
    }
    if (p.flags & 2) readVertexGroup(p, t, remaining);
    else readEdgeGroup(p, t, remaining);
  }

 private:
  static void writeEdge(const HatchEdge& e, TagWriter& w, Release r) {
    w.integer(72, e.type);
    switch (e.type) {
      case 1:
        write2d(w, 10, e.start);
        write2d(w, 11, e.end);
        break;
      case 2:
      case 3:
        write2d(w, 10, e.start);
        if (e.type == 3) write2d(w, 11, e.end);
        w.real(40, e.radius);
        w.real(50, e.startAngle);
        w.real(51, e.endAngle);
        w.integer(73, e.counterClockwise ? 1 : 0);
        break;
      case 4: {
        const bool weighted = e.rational && e.weights.size() == e.controlPoints.size();
        w.integer(94, e.degree);
        w.integer(73, e.rational ? 1 : 0);
        w.integer(74, e.periodic ? 1 : 0);
        w.integer(95, static_cast<std::int64_t>(e.knots.size()));
        w.integer(96, static_cast<std::int64_t>(e.controlPoints.size()));
        for (double k : e.knots) w.real(40, k);
        for (std::size_t i = 0; i < e.controlPoints.size(); ++i) {
          write2d(w, 10, e.controlPoints[i]);
          if (weighted) w.real(42, e.weights[i]);
        }
        // Fit data (97 count, 11 fit points, 12/13 tangents) belong to the
        // edge from 2010 on.  Earlier releases cannot hold them: there the
        // group after the control points is the loop's 97 count of source
        // objects, so a fit count would be read as that and mislead every
        // reader.  The control data above are the curve itself; a spline
        // edge written for an earlier release keeps its shape and loses
        // only how it was constructed (fit points and end tangents).
        if (r >= Release::R2010) {
          w.integer(97, static_cast<std::int64_t>(e.fitPoints.size()));
          for (const Point3& f : e.fitPoints) write2d(w, 11, f);
          write2d(w, 12, e.startTangent);
          write2d(w, 13, e.endTangent);
        }
        break;
      }
      default:
        break;
    }
  }

  static void readVertexGroup(HatchPath& p, const Tag& t, std::size_t remaining) {
    switch (t.code) {
      case 73: p.closed = t.integer != 0; break;
      case 93: p.vertices.reserve(reserveFor(t.integer, remaining)); break;
      case 10: p.vertices.emplace_back().location.x = realOf(t); break;
      case 20:
        if (!p.vertices.empty()) p.vertices.back().location.y = realOf(t);
        break;
      case 42:
        if (!p.vertices.empty()) p.vertices.back().bulge = realOf(t);
        break;
      default: break;  // 72, the bulge flag, follows from the bulges
    }
  }

  static void readEdgeGroup(HatchPath& p, const Tag& t, std::size_t remaining) {
    if (t.code == 93) {
      p.edges.reserve(reserveFor(t.integer, remaining));
      return;
    }
    if (t.code == 72) {
      p.edges.emplace_back().type = clampInt32(t.integer);
      return;
    }
    if (p.edges.empty()) return;
    HatchEdge& e = p.edges.back();
    const double v = realOf(t);
    if (e.type == 4) {
      switch (t.code) {
        case 94: e.degree = clampInt32(t.integer); break;
        case 73: e.rational = t.integer != 0; break;
        case 74: e.periodic = t.integer != 0; break;
        case 95: e.knots.reserve(reserveFor(t.integer, remaining)); break;
        case 96: e.controlPoints.reserve(reserveFor(t.integer, remaining)); break;
        case 97: e.fitPoints.reserve(reserveFor(t.integer, remaining)); break;  // or the path's source count
        case 40: e.knots.push_back(v); break;
        case 10: e.controlPoints.emplace_back().x = v; break;
        case 20:
          if (!e.controlPoints.empty()) e.controlPoints.back().y = v;
          break;
        case 42: e.weights.push_back(v); break;
        case 11: e.fitPoints.emplace_back().x = v; break;
        case 21:
          if (!e.fitPoints.empty()) e.fitPoints.back().y = v;
          break;
        case 12: e.startTangent.x = v; break;
        case 22: e.startTangent.y = v; break;
        case 13: e.endTangent.x = v; break;
        case 23: e.endTangent.y = v; break;
        default: break;
      }
      return;
    }
    switch (t.code) {
      case 10: e.start.x = v; break;
      case 20: e.start.y = v; break;
      case 11: e.end.x = v; break;
      case 21: e.end.y = v; break;
      case 40: e.radius = v; break;
      case 50: e.startAngle = v; break;
      case 51: e.endAngle = v; break;
      case 73: e.counterClockwise = t.integer != 0; break;
      default: break;
    }
  }
};
const HatchPaths kHatchPaths;

// Repeated reals (the dashes of a pattern line): a count, then one group
// each.
template <class Obj>
class RealList final : public ListDesc<Obj> {
 public:
  constexpr RealList(std::string_view name, std::vector<double> Obj::*member, int countCode, int code)
      : name_(name), member_(member), countCode_(countCode), code_(code) {}
  std::string_view member() const override { return name_; }
  std::size_t size(const Obj& obj) const override { return (obj.*member_).size(); }
  bool takesCode(int code) const override { return code == countCode_ || code == code_; }
  void dxfWrite(const Obj& obj, TagWriter& w, Release) const override {
    w.integer(countCode_, static_cast<std::int64_t>((obj.*member_).size()));
    for (double d : obj.*member_) w.real(code_, d);
  }
  void dxfRead(Obj& obj, const Tag& t, std::size_t remaining) const override {
    if (t.code == countCode_) (obj.*member_).reserve(reserveFor(t.integer, remaining));
    else (obj.*member_).push_back(realOf(t));
  }

 private:
  std::string_view name_;
  std::vector<double> Obj::*member_;
  int countCode_;
  int code_;
};

const RealList<HatchLine> kDashes{"dashes", &HatchLine::dashes, 79, 49};

const Field<HatchLine> kHatchLine[] = {
    field("angle", &HatchLine::angle, 53),
    field("baseX", &HatchLine::baseX, 43),
    field("baseY", &HatchLine::baseY, 44),
    field("offsetX", &HatchLine::offsetX, 45),
    field("offsetY", &HatchLine::offsetY, 46),
    Field<HatchLine>{"dashes", &kDashes, 79},
};

const ListOf<Hatch, HatchLine> kHatchLines{"lines", &Hatch::lines, 78, 53};

// Seed points: 98 count, then 10/20 each.
class HatchSeeds final : public ListDesc<Hatch> {
 public:
  std::string_view member() const override { return "seeds"; }
  std::size_t size(const Hatch& h) const override { return h.seeds.size(); }
  bool takesCode(int code) const override { return code == 98 || code == 10 || code == 20; }
  void dxfWrite(const Hatch& h, TagWriter& w, Release) const override {
    w.integer(98, static_cast<std::int64_t>(h.seeds.size()));
    for (const Point3& p : h.seeds) write2d(w, 10, p);
  }
  void dxfRead(Hatch& h, const Tag& t, std::size_t remaining) const override {
    if (t.code == 98) h.seeds.reserve(reserveFor(t.integer, remaining));
    else if (t.code == 10) h.seeds.emplace_back().x = realOf(t);
    else if (!h.seeds.empty()) h.seeds.back().y = realOf(t);
  }
};
const HatchSeeds kHatchSeeds;

bool isPatternFill(const Hatch& h) { return h.solidFill == 0; }

const Field<Hatch> kHatch[] = {
    marker<Hatch>("AcDbHatch"),
    point("elevation", &Hatch::elevation, 10, kAllReleases, kAllReleases),
    point("extrusion", &Hatch::extrusion, 210, kAllReleases, kAllReleases),
    field("pattern", &Hatch::pattern, 2),
    field("solidFill", &Hatch::solidFill, 70),
    field("associative", &Hatch::associative, 71),
    Field<Hatch>{"paths", &kHatchPaths, 91},
    field("style", &Hatch::style, 75),
    field("patternType", &Hatch::patternType, 76),
    [] {
      Field<Hatch> f = field("angle", &Hatch::angle, 52);
      f.when = isPatternFill;
      return f;
    }(),
    [] {
      Field<Hatch> f = field("scale", &Hatch::scale, 41);
      f.when = isPatternFill;
      return f;
    }(),
    [] {
      Field<Hatch> f = field("doubled", &Hatch::doubled, 77);
      f.when = isPatternFill;
      return f;
    }(),
    [] {
      Field<Hatch> f{"lines", &kHatchLines, 78};
      f.when = isPatternFill;
      return f;
    }(),
    field("pixelSize", &Hatch::pixelSize, 47, kAllReleases, kOpt),
    Field<Hatch>{"seeds", &kHatchSeeds, 98},
};

}  // namespace

template <> std::span<const Field<Dimension>> fieldsOf<Dimension>() { return kDimension; }
template <> std::span<const Field<Hatch>> fieldsOf<Hatch>() { return kHatch; }
template <> std::span<const Field<HatchLine>> fieldsOf<HatchLine>() { return kHatchLine; }

}  // namespace drawingdb

// The declarations of SPLINE, MTEXT, LEADER, VIEWPORT and GROUP (see
// schema.h for the form of a declaration).
#include "drawingdb/dxf_fields.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

constexpr Emit kOpt = Emit::IfNotDefault;
constexpr Span k2D = kNoRelease;

// ---------------------------------------------------------------- SPLINE

const ValuesOf<Spline, double> kKnotCount{"knots", &Spline::knots, 72, 40, ListPart::CountOnly};
const ValuesOf<Spline, Point3> kControlCount{"controlPoints", &Spline::controlPoints, 73, 10, ListPart::CountOnly};
const ValuesOf<Spline, Point3> kFitCount{"fitPoints", &Spline::fitPoints, 74, 11, ListPart::CountOnly};
const ValuesOf<Spline, double> kKnots{"knots", &Spline::knots, 72, 40, ListPart::ElementsOnly};
const ValuesOf<Spline, double> kWeights{"weights", &Spline::weights, -1, 41};
const ValuesOf<Spline, Point3> kControlPoints{"controlPoints", &Spline::controlPoints, 73, 10, ListPart::ElementsOnly};
const ValuesOf<Spline, Point3> kFitPoints{"fitPoints", &Spline::fitPoints, 74, 11, ListPart::ElementsOnly};

const Field<Spline> kSpline[] = {
    marker<Spline>("AcDbSpline"),
    point("normal", &Spline::normal, 210, kAllReleases, kAllReleases, kOpt),
    field("flags", &Spline::flags, 70),
    field("degree", &Spline::degree, 71),
    Field<Spline>{"knotCount", &kKnotCount, 72},
    Field<Spline>{"controlCount", &kControlCount, 73},
    Field<Spline>{"fitCount", &kFitCount, 74},
    field("knotTolerance", &Spline::knotTolerance, 42),
    field("controlTolerance", &Spline::controlTolerance, 43),
    field("fitTolerance", &Spline::fitTolerance, 44),
    point("startTangent", &Spline::startTangent, 12, kAllReleases, kAllReleases, kOpt),
    point("endTangent", &Spline::endTangent, 13, kAllReleases, kAllReleases, kOpt),
    Field<Spline>{"knots", &kKnots, 40},
    Field<Spline>{"weights", &kWeights, 41},
    Field<Spline>{"controlPoints", &kControlPoints, 10},
    Field<Spline>{"fitPoints", &kFitPoints, 11},
};

// ---------------------------------------------------------------- MTEXT

// The text of an MTEXT: chunks of 250 bytes of the file in groups 3, the
// rest in the closing group 1.  A chunk never ends inside a character (its
// UTF-8 bytes, or the \U+ escape the code page writes it as), so a reader
// that decodes each group alone sees whole characters.
class MTextChunks final : public ListDesc<MText> {
 public:
  static constexpr std::size_t kChunk = 250;

  std::string_view member() const override { return "value"; }
  std::size_t size(const MText& m) const override { return m.value.size(); }
  bool takesCode(int code) const override { return code == 1 || code == 3; }
  void dxfWrite(const MText& m, TagWriter& w, Release) const override {
    const std::string_view v = m.value;
    std::size_t start = 0, bytes = 0;
    for (std::size_t i = 0; i < v.size();) {
      std::size_t n = 1;
      while (i + n < v.size() && (static_cast<unsigned char>(v[i + n]) & 0xC0) == 0x80) ++n;
      const std::size_t size = static_cast<unsigned char>(v[i]) < 0x80 ? 1 : w.textSize(3, v.substr(i, n));
      if (bytes + size > kChunk) {
        w.text(3, v.substr(start, i - start));
        start = i;
        bytes = 0;
      }
      bytes += size;
      i += n;
    }
    if (bytes >= kChunk) {
      w.text(3, v.substr(start));
      start = v.size();
    }
    w.text(1, v.substr(start));
  }
  void dxfRead(MText& m, const Tag& t, std::size_t) const override { m.value.append(t.text); }
};
const MTextChunks kMTextChunks;

const Field<MText> kMText[] = {
    marker<MText>("AcDbMText"),
    point("insertion", &MText::insertion, 10),
    checked(field("height", &MText::height, 40), Check::Positive),
    field("referenceWidth", &MText::referenceWidth, 41),
    field("attachment", &MText::attachment, 71),
    field("direction", &MText::direction, 72),
    Field<MText>{"value", &kMTextChunks, 1},
    field("style", &MText::style, 7),
    point("extrusion", &MText::extrusion, 210, kAllReleases, kAllReleases, kOpt),
    point("xAxis", &MText::xAxis, 11, kAllReleases, kAllReleases, kOpt),
    // Read, never written: a direction given as an angle becomes xAxis.
    field("rotation", &MText::rotation, 50, kNoRelease),
    field("lineSpacingStyle", &MText::lineSpacingStyle, 73, kR2000On),
    field("lineSpacing", &MText::lineSpacing, 44, kR2000On),
};

// ---------------------------------------------------------------- LEADER

const ValuesOf<Leader, Point3> kLeaderVertices{"vertices", &Leader::vertices, 76, 10};

const Field<Leader> kLeader[] = {
    marker<Leader>("AcDbLeader"),
    field("dimensionStyle", &Leader::dimensionStyle, 3),
    field("arrowhead", &Leader::arrowhead, 71),
    field("pathType", &Leader::pathType, 72),
    field("creation", &Leader::creation, 73),
    field("hookDirection", &Leader::hookDirection, 74),
    field("hookLine", &Leader::hookLine, 75),
    field("textHeight", &Leader::textHeight, 40),
    field("textWidth", &Leader::textWidth, 41),
    Field<Leader>{"vertices", &kLeaderVertices, 76},
    field("colour", &Leader::colour, 77, kAllReleases, kOpt),
    field("annotation", &Leader::annotation, 340, kAllReleases, kOpt),
    point("normal", &Leader::normal, 210, kAllReleases, kAllReleases, kOpt),
    point("horizontalDirection", &Leader::horizontalDirection, 211, kAllReleases, kAllReleases, kOpt),
    point("blockOffset", &Leader::blockOffset, 212, kAllReleases, kAllReleases, kOpt),
    point("annotationOffset", &Leader::annotationOffset, 213, kAllReleases, kAllReleases, kOpt),
};

// ---------------------------------------------------------------- VIEWPORT

// Files before 2000 keep the view of a viewport in its XDATA (see
// annotation_forms.cpp); from 2000 on it has groups of its own.
const ValuesOf<Viewport, Handle> kFrozenLayers{"frozenLayers", &Viewport::frozenLayers, -1, 331};

const Field<Viewport> kViewport[] = {
    marker<Viewport>("AcDbViewport"),
    point("center", &Viewport::center, 10),
    field("width", &Viewport::width, 40),
    field("height", &Viewport::height, 41),
    field("status", &Viewport::status, 68),
    field("id", &Viewport::id, 69),
    point("viewCenter", &Viewport::viewCenter, 12, kR2000On, k2D),
    point("snapBase", &Viewport::snapBase, 13, kR2000On, k2D),
    point("snapSpacing", &Viewport::snapSpacing, 14, kR2000On, k2D),
    point("gridSpacing", &Viewport::gridSpacing, 15, kR2000On, k2D),
    point("viewDirection", &Viewport::viewDirection, 16, kR2000On, kAllReleases),
    point("viewTarget", &Viewport::viewTarget, 17, kR2000On, kAllReleases),
    field("lensLength", &Viewport::lensLength, 42, kR2000On),
    field("frontClip", &Viewport::frontClip, 43, kR2000On),
    field("backClip", &Viewport::backClip, 44, kR2000On),
    field("viewHeight", &Viewport::viewHeight, 45, kR2000On),
    field("snapAngle", &Viewport::snapAngle, 50, kR2000On),
    field("twist", &Viewport::twist, 51, kR2000On),
    field("circleZoom", &Viewport::circleZoom, 72, kR2000On),
    Field<Viewport>{"frozenLayers", &kFrozenLayers, 331, kR2000On},
    field("flags", &Viewport::flags, 90, kR2000On),
    field("plotStyleSheet", &Viewport::plotStyleSheet, 1, kR2000On),
    field("renderMode", &Viewport::renderMode, 281, kR2000On),
    field("ucsPerViewport", &Viewport::ucsPerViewport, 71, kR2000On),
    field("ucsIcon", &Viewport::ucsIcon, 74, kR2000On),
    point("ucsOrigin", &Viewport::ucsOrigin, 110, kR2000On, kAllReleases),
    point("ucsXAxis", &Viewport::ucsXAxis, 111, kR2000On, kAllReleases),
    point("ucsYAxis", &Viewport::ucsYAxis, 112, kR2000On, kAllReleases),
    field("orthoType", &Viewport::orthoType, 79, kR2000On),
    field("elevation", &Viewport::elevation, 146, kR2000On),
};

// ---------------------------------------------------------------- GROUP

const ValuesOf<Group, Handle> kGroupEntities{"entities", &Group::entities, -1, 340};

const Field<Group> kGroup[] = {
    marker<Group>("AcDbGroup"),
    field("description", &Group::description, 300),
    field("unnamed", &Group::unnamed, 70),
    field("selectable", &Group::selectable, 71),
    Field<Group>{"entities", &kGroupEntities, 340},
};

}  // namespace

template <> std::span<const Field<Spline>> fieldsOf<Spline>() { return kSpline; }
template <> std::span<const Field<MText>> fieldsOf<MText>() { return kMText; }
template <> std::span<const Field<Leader>> fieldsOf<Leader>() { return kLeader; }
template <> std::span<const Field<Viewport>> fieldsOf<Viewport>() { return kViewport; }
template <> std::span<const Field<Group>> fieldsOf<Group>() { return kGroup; }

}  // namespace drawingdb

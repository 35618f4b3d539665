#include "drawingdb/schema.h"

#include <array>
#include <unordered_map>

#include "drawingdb/dxf_fields.h"

namespace drawingdb {
namespace {

using R = Release;
constexpr Emit kOpt = Emit::IfNotDefault;
constexpr Span kR12On = since(R::R12);
constexpr Span kR14On = since(R::R14);
constexpr Span kR26On = since(R::R2_6);
constexpr Span k2D = kNoRelease;  // points without Z in every release

// ---------------------------------------------------------------- entities

constexpr Field<Line> kLine[] = {
    marker<Line>("AcDbLine"),
    field("thickness", &Line::thickness, 39, kAllReleases, kOpt),
    point("start", &Line::start, 10),
    point("end", &Line::end, 11),
    point("extrusion", &Line::extrusion, 210, kR10On, kR10On, kOpt),
};

constexpr Field<PointEntity> kPoint[] = {
    marker<PointEntity>("AcDbPoint"),
    point("location", &PointEntity::location, 10),
    field("thickness", &PointEntity::thickness, 39, kAllReleases, kOpt),
    point("extrusion", &PointEntity::extrusion, 210, kR10On, kR10On, kOpt),
    field("xAxisAngle", &PointEntity::xAxisAngle, 50, kR10On, kOpt),
};

constexpr Field<Circle> kCircle[] = {
    marker<Circle>("AcDbCircle"),
    field("thickness", &Circle::thickness, 39, kAllReleases, kOpt),
    point("center", &Circle::center, 10),
    checked(field("radius", &Circle::radius, 40), Check::Positive),
    point("extrusion", &Circle::extrusion, 210, kR10On, kR10On, kOpt),
};

constexpr Field<Arc> kArc[] = {
    marker<Arc>("AcDbCircle"),
    field("thickness", &Arc::thickness, 39, kAllReleases, kOpt),
    point("center", &Arc::center, 10),
    checked(field("radius", &Arc::radius, 40), Check::Positive),
    point("extrusion", &Arc::extrusion, 210, kR10On, kR10On, kOpt),
    marker<Arc>("AcDbArc"),
    field("startAngle", &Arc::startAngle, 50),
    field("endAngle", &Arc::endAngle, 51),
};

bool textIsJustified(const Text& t) { return t.horizontal != 0 || t.vertical != 0; }

constexpr Field<Text> kText[] = {
    marker<Text>("AcDbText"),
    field("thickness", &Text::thickness, 39, kAllReleases, kOpt),
    point("insertion", &Text::insertion, 10),
    checked(field("height", &Text::height, 40), Check::Positive),
    field("value", &Text::value, 1),
    field("rotation", &Text::rotation, 50, kAllReleases, kOpt),
    field("widthFactor", &Text::widthFactor, 41, kAllReleases, kOpt),
    field("oblique", &Text::oblique, 51, kAllReleases, kOpt),
    field("style", &Text::style, 7),
    field("generation", &Text::generation, 71, kAllReleases, kOpt),
    field("horizontal", &Text::horizontal, 72, kAllReleases, kOpt),
    [] {
      Field<Text> f = point("alignment", &Text::alignment, 11);
      f.when = textIsJustified;
      return f;
    }(),
    point("extrusion", &Text::extrusion, 210, kR10On, kR10On, kOpt),
    marker<Text>("AcDbText"),
    field("vertical", &Text::vertical, 73, kR12On, kOpt),
};

// DWG files from R13 on store the fields of some kinds in the order and
// the form given here.
constexpr Span kDwgFromR13 = since(R::R13);
template <class Obj>
constexpr Field<Obj> dwg(Field<Obj> f, Bits bits) {
  f.dwg[0] = DwgForm{kDwgFromR13, bits};
  return f;
}

constexpr Field<Ellipse> kEllipse[] = {
    marker<Ellipse>("AcDbEllipse"),
    dwg(point("center", &Ellipse::center, 10), Bits::BD3),
    dwg(point("majorAxis", &Ellipse::majorAxis, 11), Bits::BD3),
    dwg(point("extrusion", &Ellipse::extrusion, 210), Bits::BD3),
    dwg(checked(field("ratio", &Ellipse::ratio, 40), Check::UnitRatio), Bits::BD),
    dwg(field("startParameter", &Ellipse::startParameter, 41), Bits::BD),
    dwg(field("endParameter", &Ellipse::endParameter, 42), Bits::BD),
};

constexpr Field<Solid> kSolid[] = {
    marker<Solid>("AcDbTrace"),
    point("corner1", &Solid::corner1, 10),
    point("corner2", &Solid::corner2, 11),
    point("corner3", &Solid::corner3, 12),
    point("corner4", &Solid::corner4, 13),
    field("thickness", &Solid::thickness, 39, kAllReleases, kOpt),
    point("extrusion", &Solid::extrusion, 210, kR10On, kR10On, kOpt),
};

constexpr Field<Face3d> kFace3d[] = {
    marker<Face3d>("AcDbFace"),
    point("corner1", &Face3d::corner1, 10, kAllReleases, kAllReleases),
    point("corner2", &Face3d::corner2, 11, kAllReleases, kAllReleases),
    point("corner3", &Face3d::corner3, 12, kAllReleases, kAllReleases),
    point("corner4", &Face3d::corner4, 13, kAllReleases, kAllReleases),
    field("invisibleEdges", &Face3d::invisibleEdges, 70, kAllReleases, kOpt),
};

bool isMInsert(const Insert& i) { return i.columns > 1 || i.rows > 1; }
bool isSingleInsert(const Insert& i) { return !isMInsert(i); }
bool hasAttributes(const Insert& i) { return !i.attributes.empty(); }

constexpr Field<Insert> kInsert[] = {
    marker<Insert>("AcDbBlockReference", isSingleInsert),
    marker<Insert>("AcDbMInsertBlock", isMInsert),
    [] {
      Field<Insert> f{"attributesFollow", Fixed{1}, 66};
      f.when = hasAttributes;
      return f;
    }(),
    field("block", &Insert::block, 2),
    point("insertion", &Insert::insertion, 10),
    field("xScale", &Insert::xScale, 41, kAllReleases, kOpt),
    field("yScale", &Insert::yScale, 42, kAllReleases, kOpt),
    field("zScale", &Insert::zScale, 43, kR10On, kOpt),
    field("rotation", &Insert::rotation, 50, kAllReleases, kOpt),
    field("columns", &Insert::columns, 70, kAllReleases, kOpt),
    field("rows", &Insert::rows, 71, kAllReleases, kOpt),
    field("columnSpacing", &Insert::columnSpacing, 44, kAllReleases, kOpt),
    field("rowSpacing", &Insert::rowSpacing, 45, kAllReleases, kOpt),
    point("extrusion", &Insert::extrusion, 210, kR10On, kR10On, kOpt),
};

bool is2dPolyline(const Polyline& p) { return (p.flags & (8 | 16 | 64)) == 0; }
bool is3dPolyline(const Polyline& p) { return (p.flags & 8) != 0; }
bool isMesh(const Polyline& p) { return (p.flags & 16) != 0; }
bool isPolyface(const Polyline& p) { return (p.flags & 64) != 0; }

constexpr Field<Polyline> kPolyline[] = {
    marker<Polyline>("AcDb2dPolyline", is2dPolyline),
    marker<Polyline>("AcDb3dPolyline", is3dPolyline),
    marker<Polyline>("AcDbPolygonMesh", isMesh),
    marker<Polyline>("AcDbPolyFaceMesh", isPolyface),
    Field<Polyline>{"verticesFollow", Fixed{1}, 66},
    point("origin", &Polyline::origin, 10, kR10On),
    field("thickness", &Polyline::thickness, 39, kAllReleases, kOpt),
    field("flags", &Polyline::flags, 70),
    field("startWidth", &Polyline::startWidth, 40, kAllReleases, kOpt),
    field("endWidth", &Polyline::endWidth, 41, kAllReleases, kOpt),
    field("meshM", &Polyline::meshM, 71, kR10On, kOpt),
    field("meshN", &Polyline::meshN, 72, kR10On, kOpt),
    field("smoothM", &Polyline::smoothM, 73, kR10On, kOpt),
    field("smoothN", &Polyline::smoothN, 74, kR10On, kOpt),
    field("surfaceType", &Polyline::surfaceType, 75, kR10On, kOpt),
    point("extrusion", &Polyline::extrusion, 210, kR10On, kR10On, kOpt),
};

bool is2dVertex(const Vertex& v) { return (v.flags & (32 | 64 | 128)) == 0; }
bool is3dVertex(const Vertex& v) { return (v.flags & 32) != 0; }
bool isMeshVertex(const Vertex& v) { return (v.flags & (64 | 128)) == 64; }
bool isPolyfaceVertex(const Vertex& v) { return (v.flags & (64 | 128)) == (64 | 128); }
bool isFaceRecord(const Vertex& v) { return (v.flags & (64 | 128)) == 128; }

constexpr Field<Vertex> kVertex[] = {
    marker<Vertex>("AcDbVertex", [](const Vertex& v) { return !isFaceRecord(v); }),
    marker<Vertex>("AcDb2dVertex", is2dVertex),
    marker<Vertex>("AcDb3dPolylineVertex", is3dVertex),
    marker<Vertex>("AcDbPolygonMeshVertex", isMeshVertex),
    marker<Vertex>("AcDbPolyFaceMeshVertex", isPolyfaceVertex),
    marker<Vertex>("AcDbFaceRecord", isFaceRecord),
    point("location", &Vertex::location, 10),
    field("startWidth", &Vertex::startWidth, 40, kAllReleases, kOpt),
    field("endWidth", &Vertex::endWidth, 41, kAllReleases, kOpt),
    field("bulge", &Vertex::bulge, 42, kAllReleases, kOpt),
    field("flags", &Vertex::flags, 70),
    field("tangent", &Vertex::tangent, 50, kAllReleases, kOpt),
    field("face1", &Vertex::face1, 71, kR10On, kOpt),
    field("face2", &Vertex::face2, 72, kR10On, kOpt),
    field("face3", &Vertex::face3, 73, kR10On, kOpt),
    field("face4", &Vertex::face4, 74, kR10On, kOpt),
    field("identifier", &Vertex::identifier, 91, since(Release::R2010), kOpt),
};

constexpr Field<LwVertex> kLwVertex[] = {
    point("location", &LwVertex::location, 10, kAllReleases, k2D),
    field("startWidth", &LwVertex::startWidth, 40, kAllReleases, kOpt),
    field("endWidth", &LwVertex::endWidth, 41, kAllReleases, kOpt),
    field("bulge", &LwVertex::bulge, 42, kAllReleases, kOpt),
};

const ListOf<LwPolyline, LwVertex> kLwCount{"vertices", &LwPolyline::vertices, 90, 10, ListPart::CountOnly};
const ListOf<LwPolyline, LwVertex> kLwVertices{"vertices", &LwPolyline::vertices, 90, 10, ListPart::ElementsOnly};

const Field<LwPolyline> kLwPolyline[] = {
    marker<LwPolyline>("AcDbPolyline"),
    Field<LwPolyline>{"vertexCount", &kLwCount, 90},
    field("flags", &LwPolyline::flags, 70),
    field("constantWidth", &LwPolyline::constantWidth, 43, kAllReleases, kOpt),
    field("elevation", &LwPolyline::elevation, 38, kAllReleases, kOpt),
    field("thickness", &LwPolyline::thickness, 39, kAllReleases, kOpt),
    Field<LwPolyline>{"vertices", &kLwVertices, 10},
    point("extrusion", &LwPolyline::extrusion, 210, kAllReleases, kAllReleases, kOpt),
};

bool attDefIsJustified(const AttDef& t) { return t.horizontal != 0 || t.vertical != 0; }
bool attribIsJustified(const Attrib& t) { return t.horizontal != 0 || t.vertical != 0; }

constexpr Field<AttDef> kAttDef[] = {
    marker<AttDef>("AcDbText"),
    field<AttDef>("thickness", &AttDef::thickness, 39, kAllReleases, kOpt),
    point<AttDef>("insertion", &AttDef::insertion, 10),
    checked(field<AttDef>("height", &AttDef::height, 40), Check::Positive),
    field<AttDef>("defaultValue", &AttDef::defaultValue, 1),
    field<AttDef>("rotation", &AttDef::rotation, 50, kAllReleases, kOpt),
    field<AttDef>("widthFactor", &AttDef::widthFactor, 41, kAllReleases, kOpt),
    field<AttDef>("oblique", &AttDef::oblique, 51, kAllReleases, kOpt),
    field<AttDef>("style", &AttDef::style, 7),
    field<AttDef>("generation", &AttDef::generation, 71, kAllReleases, kOpt),
    field<AttDef>("horizontal", &AttDef::horizontal, 72, kAllReleases, kOpt),
    [] {
      Field<AttDef> f = point<AttDef>("alignment", &AttDef::alignment, 11);
      f.when = attDefIsJustified;
      return f;
    }(),
    point<AttDef>("extrusion", &AttDef::extrusion, 210, kR10On, kR10On, kOpt),
    marker<AttDef>("AcDbAttributeDefinition"),
    field<AttDef>("prompt", &AttDef::prompt, 3),
    field<AttDef>("tag", &AttDef::tag, 2),
    field<AttDef>("flags", &AttDef::flags, 70),
    field<AttDef>("fieldLength", &AttDef::fieldLength, 73, kR12On, kOpt),
    field<AttDef>("vertical", &AttDef::vertical, 74, kR12On, kOpt),
    // A multi-line attribute of DWG 2018 and its line spacing: set by the
    // DWG reader, kept with the value; no group of their own here.
    Field<AttDef>{"multiline", std::monostate{}, -1, kNoRelease},
    Field<AttDef>{"lineSpacing", std::monostate{}, -1, kNoRelease},
};

constexpr Field<Attrib> kAttrib[] = {
    marker<Attrib>("AcDbText"),
    field<Attrib>("thickness", &Attrib::thickness, 39, kAllReleases, kOpt),
    point<Attrib>("insertion", &Attrib::insertion, 10),
    checked(field<Attrib>("height", &Attrib::height, 40), Check::Positive),
    field<Attrib>("value", &Attrib::value, 1),
    field<Attrib>("rotation", &Attrib::rotation, 50, kAllReleases, kOpt),
    field<Attrib>("widthFactor", &Attrib::widthFactor, 41, kAllReleases, kOpt),
    field<Attrib>("oblique", &Attrib::oblique, 51, kAllReleases, kOpt),
    field<Attrib>("style", &Attrib::style, 7),
    field<Attrib>("generation", &Attrib::generation, 71, kAllReleases, kOpt),
    field<Attrib>("horizontal", &Attrib::horizontal, 72, kAllReleases, kOpt),
    [] {
      Field<Attrib> f = point<Attrib>("alignment", &Attrib::alignment, 11);
      f.when = attribIsJustified;
      return f;
    }(),
    point<Attrib>("extrusion", &Attrib::extrusion, 210, kR10On, kR10On, kOpt),
    marker<Attrib>("AcDbAttribute"),
    field<Attrib>("tag", &Attrib::tag, 2),
    field<Attrib>("flags", &Attrib::flags, 70),
    field<Attrib>("fieldLength", &Attrib::fieldLength, 73, kR12On, kOpt),
    field<Attrib>("vertical", &Attrib::vertical, 74, kR12On, kOpt),
    // A multi-line attribute of DWG 2018 and its line spacing: set by the
    // DWG reader, kept with the value; no group of their own here.
    Field<Attrib>{"multiline", std::monostate{}, -1, kNoRelease},
    Field<Attrib>{"lineSpacing", std::monostate{}, -1, kNoRelease},
};

constexpr Field<UnknownEntity> kUnknownEntity[] = {
    // The groups of an unknown entity are kept whole by the codec.
    Field<UnknownEntity>{"tags", std::monostate{}, -1, kNoRelease},
    // Kept whole by the DWG codec.
    Field<UnknownEntity>{"dwg", std::monostate{}, -1, kNoRelease},
};

// ---------------------------------------------------------------- records

constexpr Field<Layer> kLayer[] = {
    field("colour", &Layer::colour, 62),
    field("linetype", &Layer::linetype, 6),
    field("plot", &Layer::plot, 290, kR2000On, kOpt),
    field("lineweight", &Layer::lineweight, 370, kR2000On),
    field("plotStyle", &Layer::plotStyle, 390, kR2000On, kOpt),
};

constexpr Field<Dash> kDash[] = {
    field("length", &Dash::length, 49),
    field("shape", &Dash::shape, 74, kR13On),
};

const ListOf<Linetype, Dash> kDashCount{"dashes", &Linetype::dashes, 73, 49, ListPart::CountOnly};
const ListOf<Linetype, Dash> kDashes{"dashes", &Linetype::dashes, 73, 49, ListPart::ElementsOnly};

const Field<Linetype> kLinetype[] = {
    field("description", &Linetype::description, 3),
    field("alignment", &Linetype::alignment, 72),
    Field<Linetype>{"dashCount", &kDashCount, 73},
    field("patternLength", &Linetype::patternLength, 40),
    Field<Linetype>{"dashes", &kDashes, 49},
};

constexpr Field<TextStyle> kTextStyle[] = {
    field("fixedHeight", &TextStyle::fixedHeight, 40),
    field("widthFactor", &TextStyle::widthFactor, 41),
    field("oblique", &TextStyle::oblique, 50),
    field("generation", &TextStyle::generation, 71),
    field("lastHeight", &TextStyle::lastHeight, 42),
    field("font", &TextStyle::font, 3),
    field("bigFont", &TextStyle::bigFont, 4),
};

constexpr Field<View> kView[] = {
    field("height", &View::height, 40),
    point("center", &View::center, 10, kAllReleases, k2D),
    field("width", &View::width, 41),
    point("direction", &View::direction, 11, kR10On),
    point("target", &View::target, 12, kR10On),
    field("lensLength", &View::lensLength, 42, kR10On),
    field("frontClip", &View::frontClip, 43, kR10On),
    field("backClip", &View::backClip, 44, kR10On),
    field("twist", &View::twist, 50, kR10On),
    field("viewMode", &View::viewMode, 71, kR10On),
};

constexpr Field<Ucs> kUcs[] = {
    point("origin", &Ucs::origin, 10),
    point("xAxis", &Ucs::xAxis, 11),
    point("yAxis", &Ucs::yAxis, 12),
};

constexpr Field<Vport> kVport[] = {
    point("lowerLeft", &Vport::lowerLeft, 10, kAllReleases, k2D),
    point("upperRight", &Vport::upperRight, 11, kAllReleases, k2D),
    point("center", &Vport::center, 12, kAllReleases, k2D),
    point("snapBase", &Vport::snapBase, 13, kAllReleases, k2D),
    point("snapSpacing", &Vport::snapSpacing, 14, kAllReleases, k2D),
    point("gridSpacing", &Vport::gridSpacing, 15, kAllReleases, k2D),
    point("direction", &Vport::direction, 16, kAllReleases, kAllReleases),
    point("target", &Vport::target, 17, kAllReleases, kAllReleases),
    field("height", &Vport::height, 40),
    field("aspect", &Vport::aspect, 41),
    field("lensLength", &Vport::lensLength, 42),
    field("frontClip", &Vport::frontClip, 43),
    field("backClip", &Vport::backClip, 44),
    field("snapAngle", &Vport::snapAngle, 50),
    field("twist", &Vport::twist, 51),
    field("viewMode", &Vport::viewMode, 71),
    field("circleZoom", &Vport::circleZoom, 72),
    field("fastZoom", &Vport::fastZoom, 73, until(R::R2004)),
    field("ucsIcon", &Vport::ucsIcon, 74),
    field("snapOn", &Vport::snapOn, 75, until(R::R2004)),
    field("gridOn", &Vport::gridOn, 76, until(R::R2004)),
    field("snapStyle", &Vport::snapStyle, 77, until(R::R2004)),
    field("snapIsoPair", &Vport::snapIsoPair, 78, until(R::R2004)),
};

constexpr Field<AppId> kAppId[] = {
    Field<AppId>{"(no fields)", std::monostate{}, -1, kNoRelease},
};

constexpr Field<DimStyle> kDimStyle[] = {
    field("post", &DimStyle::post, 3),
    field("altPost", &DimStyle::altPost, 4),
    field("scale", &DimStyle::scale, 40),
    field("arrowSize", &DimStyle::arrowSize, 41),
    field("extensionOffset", &DimStyle::extensionOffset, 42),
    field("lineIncrement", &DimStyle::lineIncrement, 43),
    field("extensionExtend", &DimStyle::extensionExtend, 44),
    field("rounding", &DimStyle::rounding, 45),
    field("lineExtend", &DimStyle::lineExtend, 46),
    field("tolerancePlus", &DimStyle::tolerancePlus, 47),
    field("toleranceMinus", &DimStyle::toleranceMinus, 48),
    field("textHeight", &DimStyle::textHeight, 140),
    field("centerMark", &DimStyle::centerMark, 141),
    field("tickSize", &DimStyle::tickSize, 142),
    field("altFactor", &DimStyle::altFactor, 143),
    field("linearFactor", &DimStyle::linearFactor, 144),
    field("textVertical", &DimStyle::textVertical, 145),
    field("toleranceFactor", &DimStyle::toleranceFactor, 146),
    field("gap", &DimStyle::gap, 147),
    field("tolerance", &DimStyle::tolerance, 71),
    field("limits", &DimStyle::limits, 72),
    field("textInside", &DimStyle::textInside, 73),
    field("textOutside", &DimStyle::textOutside, 74),
    field("suppress1", &DimStyle::suppress1, 75),
    field("suppress2", &DimStyle::suppress2, 76),
    field("textAbove", &DimStyle::textAbove, 77),
    field("zeroSuppression", &DimStyle::zeroSuppression, 78),
    field("alternate", &DimStyle::alternate, 170),
    field("altDecimals", &DimStyle::altDecimals, 171),
    field("forceLine", &DimStyle::forceLine, 172),
    field("separateArrows", &DimStyle::separateArrows, 173),
    field("textInsideForced", &DimStyle::textInsideForced, 174),
    field("suppressOutside", &DimStyle::suppressOutside, 175),
    field("lineColour", &DimStyle::lineColour, 176),
    field("extensionColour", &DimStyle::extensionColour, 177),
    field("textColour", &DimStyle::textColour, 178),
    field("decimals", &DimStyle::decimals, 271, kR13On),
    field("justification", &DimStyle::justification, 280, kR13On, kOpt),
    field("textStyle", &DimStyle::textStyle, 340, kR13On, kOpt),
};

// ---------------------------------------------------------------- objects

// Dictionary entries: 3 name, then 350 (soft owner) or, in a dictionary
// that owns its entries hard, 360.
class DictionaryEntries final : public ListDesc<Dictionary> {
 public:
  std::string_view member() const override { return "entries"; }
  std::size_t size(const Dictionary& d) const override { return d.entries.size(); }
  bool takesCode(int code) const override { return code == 3 || code == 350 || code == 360; }
  void dxfWrite(const Dictionary& d, TagWriter& w, Release) const override {
    for (const DictionaryEntry& e : d.entries) {
      w.text(3, e.name);
      w.handle(d.hardOwner ? 360 : 350, e.object);
    }
  }
  void dxfRead(Dictionary& d, const Tag& t, std::size_t) const override {
    if (t.code == 3) {
      d.entries.push_back({std::string(t.text), 0});
    } else if (!d.entries.empty() && d.entries.back().object == 0) {
      d.entries.back().object = static_cast<Handle>(t.integer);
      if (t.code == 360) d.hardOwner = true;
    }
  }
};
const DictionaryEntries kDictionaryEntries;

constexpr Field<DictionaryEntry> kDictionaryEntry[] = {
    field("name", &DictionaryEntry::name, 3),
    field("object", &DictionaryEntry::object, 350),
};

const Field<Dictionary> kDictionary[] = {
    marker<Dictionary>("AcDbDictionary"),
    field("hardOwner", &Dictionary::hardOwner, 280, kR2000On, kOpt),
    field("cloning", &Dictionary::cloning, 281, kR2000On),
    Field<Dictionary>{"entries", &kDictionaryEntries, 3},
};

constexpr Field<Layout> kLayout[] = {
    marker<Layout>("AcDbPlotSettings"),
    field("pageSetup", &Layout::pageSetup, 1),
    field("printer", &Layout::printer, 2),
    field("paperSize", &Layout::paperSize, 4),
    field("plotView", &Layout::plotView, 6),
    field("marginLeft", &Layout::marginLeft, 40),
    field("marginBottom", &Layout::marginBottom, 41),
    field("marginRight", &Layout::marginRight, 42),
    field("marginTop", &Layout::marginTop, 43),
    field("paperWidth", &Layout::paperWidth, 44),
    field("paperHeight", &Layout::paperHeight, 45),
    field("originX", &Layout::originX, 46),
    field("originY", &Layout::originY, 47),
    field("windowMinX", &Layout::windowMinX, 48),
    field("windowMinY", &Layout::windowMinY, 49),
    field("windowMaxX", &Layout::windowMaxX, 140),
    field("windowMaxY", &Layout::windowMaxY, 141),
    field("scaleNumerator", &Layout::scaleNumerator, 142),
    field("scaleDenominator", &Layout::scaleDenominator, 143),
    field("plotFlags", &Layout::plotFlags, 70),
    field("paperUnits", &Layout::paperUnits, 72),
    field("rotation", &Layout::rotation, 73),
    field("plotType", &Layout::plotType, 74),
    field("styleSheet", &Layout::styleSheet, 7),
    field("standardScale", &Layout::standardScale, 75),
    field("scaleFactor", &Layout::scaleFactor, 147),
    field("imageOriginX", &Layout::imageOriginX, 148),
    field("imageOriginY", &Layout::imageOriginY, 149),
    marker<Layout>("AcDbLayout"),
    field("name", &Layout::name, 1),
    field("flags", &Layout::flags, 70),
    field("tabOrder", &Layout::tabOrder, 71),
    point("limMin", &Layout::limMin, 10, kAllReleases, k2D),
    point("limMax", &Layout::limMax, 11, kAllReleases, k2D),
    point("insBase", &Layout::insBase, 12, kAllReleases, kAllReleases),
    point("extMin", &Layout::extMin, 14, kAllReleases, kAllReleases),
    point("extMax", &Layout::extMax, 15, kAllReleases, kAllReleases),
    field("elevation", &Layout::elevation, 146),
    point("ucsOrigin", &Layout::ucsOrigin, 13, kAllReleases, kAllReleases),
    point("ucsXAxis", &Layout::ucsXAxis, 16, kAllReleases, kAllReleases),
    point("ucsYAxis", &Layout::ucsYAxis, 17, kAllReleases, kAllReleases),
    field("orthoType", &Layout::orthoType, 76),
    field("blockRecord", &Layout::blockRecord, 330),
    field("viewport", &Layout::viewport, 331, kAllReleases, kOpt),
    field("namedUcs", &Layout::namedUcs, 345, kAllReleases, kOpt),
    field("baseUcs", &Layout::baseUcs, 346, kAllReleases, kOpt),
};

constexpr Field<UnknownObject> kUnknownObject[] = {
    Field<UnknownObject>{"tags", std::monostate{}, -1, kNoRelease},
    // Kept whole by the DWG codec.
    Field<UnknownObject>{"dwg", std::monostate{}, -1, kNoRelease},
    Field<UnknownObject>{"references", std::monostate{}, -1, kNoRelease},
};

// ---------------------------------------------------------------- kinds

constexpr EntitySpec kEntitySpecs[] = {
    {EntityKind::Line, "LINE", kAllReleases},         {EntityKind::Point, "POINT", kAllReleases},
    {EntityKind::Circle, "CIRCLE", kAllReleases},     {EntityKind::Arc, "ARC", kAllReleases},
    {EntityKind::Text, "TEXT", kAllReleases},         {EntityKind::Ellipse, "ELLIPSE", kR13On},
    {EntityKind::Solid, "SOLID", kAllReleases},       {EntityKind::Trace, "TRACE", kAllReleases},
    {EntityKind::Face3d, "3DFACE", kR26On},           {EntityKind::Insert, "INSERT", kAllReleases},
    {EntityKind::Polyline, "POLYLINE", kAllReleases}, {EntityKind::LwPolyline, "LWPOLYLINE", kR14On},
    {EntityKind::AttDef, "ATTDEF", kAllReleases},     {EntityKind::Attrib, "ATTRIB", kAllReleases},
    {EntityKind::Unknown, "", kAllReleases},
    {EntityKind::Spline, "SPLINE", kR13On},           {EntityKind::MText, "MTEXT", kR13On},
    {EntityKind::Leader, "LEADER", kR13On},           {EntityKind::Viewport, "VIEWPORT", kR12On},
    {EntityKind::Dimension, "DIMENSION", kAllReleases}, {EntityKind::Hatch, "HATCH", kR14On},
};

constexpr bool specsInKindOrder() {
  for (std::size_t i = 0; i < std::size(kEntitySpecs); ++i)
    if (static_cast<std::size_t>(kEntitySpecs[i].kind) != i) return false;
  return true;
}
static_assert(specsInKindOrder(), "one entity spec per kind, in the order of EntityKind");

constexpr RecordSpec kVportSpec{"VPORT", "VPORT", "AcDbViewportTableRecord", kR10On, 5};
constexpr RecordSpec kLinetypeSpec{"LTYPE", "LTYPE", "AcDbLinetypeTableRecord", kAllReleases, 5};
constexpr RecordSpec kLayerSpec{"LAYER", "LAYER", "AcDbLayerTableRecord", kAllReleases, 5};
constexpr RecordSpec kStyleSpec{"STYLE", "STYLE", "AcDbTextStyleTableRecord", kAllReleases, 5};
constexpr RecordSpec kViewSpec{"VIEW", "VIEW", "AcDbViewTableRecord", kAllReleases, 5};
constexpr RecordSpec kUcsSpec{"UCS", "UCS", "AcDbUCSTableRecord", kR10On, 5};
constexpr RecordSpec kAppIdSpec{"APPID", "APPID", "AcDbRegAppTableRecord", kR12On, 5};
constexpr RecordSpec kDimStyleSpec{"DIMSTYLE", "DIMSTYLE", "AcDbDimStyleTableRecord", kR12On, 105};

// ---------------------------------------------------------------- header

constexpr Point3 kNoMin{1e20, 1e20, 1e20};
constexpr Point3 kNoMax{-1e20, -1e20, -1e20};
constexpr Span kUntilR9 = until(R::R9);

#define REAL(n, c, span, d) HeaderVar{n, ValueKind::Real, c, span, kNoRelease, d}
#define INT(n, span, d) HeaderVar{n, ValueKind::Int, 70, span, kNoRelease, d}
#define INTC(n, c, span, d) HeaderVar{n, ValueKind::Int, c, span, kNoRelease, d}
#define TEXT(n, c, span, d) HeaderVar{n, ValueKind::Text, c, span, kNoRelease, 0, d}
#define PT(n, span, z, ...) HeaderVar{n, ValueKind::Point, 10, span, z, 0, {}, Point3{__VA_ARGS__}}
#define BOOL(n, span, d) HeaderVar{n, ValueKind::Bool, 290, span, kNoRelease, d}

// The releases whose DWG header variables section this table describes.
constexpr Span kDwgSection = between(R::R13, R::R2018);
constexpr Span kDwgR13R14 = between(R::R13, R::R14);
constexpr Span kDwgR2000 = between(R::R2000, R::R2018);

// A variable the DWG header section stores as `bits` in the releases `in`.
constexpr HeaderVar dwg(HeaderVar v, Bits bits, Span in = kDwgSection) {
  v.dwg[0] = DwgForm{in, bits};
  return v;
}
// One form in R13/R14, another in 2000 (both at their own places).
constexpr HeaderVar dwg(HeaderVar v, Bits r13r14, Bits r2000) {
  v.dwg[0] = DwgForm{kDwgR13R14, r13r14};
  v.dwg[1] = DwgForm{kDwgR2000, r2000};
  return v;
}

// In the order the releases' own files list them.  The DWG forms are those
// of values the section holds as they are; names the section holds as
// handles, the dates and the packed flags of 2000 are converted by the DWG
// section codec.
const HeaderVar kHeaderVars[] = {
    TEXT("$ACADVER", 1, kAllReleases, "AC1015"),
    HeaderVar{"$ACADMAINTVER", ValueKind::Int, 70, between(R::R14, R::R2013), kNoRelease, 0, {}, {}, 90, since(R::R2018)},
    TEXT("$DWGCODEPAGE", 3, kR13On, "ANSI_1252"),
    dwg(PT("$INSBASE", kAllReleases, kR10On, 0, 0, 0), Bits::BD3),
    dwg(PT("$EXTMIN", kAllReleases, kR12On, 1e20, 1e20, 1e20), Bits::BD3),
    dwg(PT("$EXTMAX", kAllReleases, kR12On, -1e20, -1e20, -1e20), Bits::BD3),
    dwg(PT("$LIMMIN", kAllReleases, k2D, 0, 0, 0), Bits::RD2),
    dwg(PT("$LIMMAX", kAllReleases, k2D, 12, 9, 0), Bits::RD2),
    PT("$VIEWCTR", kUntilR9, k2D, 6, 4.5, 0),
    REAL("$VIEWSIZE", 40, kUntilR9, 9),
    INT("$SNAPMODE", kUntilR9, 0),
    PT("$SNAPUNIT", kUntilR9, k2D, 1, 1, 0),
    PT("$SNAPBASE", kUntilR9, k2D, 0, 0, 0),
    REAL("$SNAPANG", 50, kUntilR9, 0),
    INT("$SNAPSTYLE", kUntilR9, 0),
    INT("$SNAPISOPAIR", kUntilR9, 0),
    INT("$GRIDMODE", kUntilR9, 0),
    PT("$GRIDUNIT", kUntilR9, k2D, 0, 0, 0),
    dwg(INT("$ORTHOMODE", kAllReleases, 0), Bits::B),
    dwg(INT("$REGENMODE", kAllReleases, 1), Bits::B),
    dwg(INT("$FILLMODE", kAllReleases, 1), Bits::B),
    dwg(INT("$QTEXTMODE", kAllReleases, 0), Bits::B),
    dwg(INT("$MIRRTEXT", kR10On, 1), Bits::B),
    dwg(INT("$DRAGMODE", until(R::R14), 2), Bits::BS, kDwgR13R14),
    dwg(REAL("$LTSCALE", 40, kAllReleases, 1), Bits::BD),
    dwg(INT("$OSMODE", until(R::R14), 0), Bits::BS, kDwgR13R14),
    dwg(INT("$ATTMODE", kAllReleases, 1), Bits::BS),
    dwg(REAL("$TEXTSIZE", 40, kAllReleases, 0.2), Bits::BD),
    dwg(REAL("$TRACEWID", 40, kAllReleases, 0.05), Bits::BD),
    TEXT("$TEXTSTYLE", 7, kAllReleases, "Standard"),
    TEXT("$CLAYER", 8, kAllReleases, "0"),
    TEXT("$CELTYPE", 6, kR26On, "BYLAYER"),
    dwg(INTC("$CECOLOR", 62, kR26On, 256), Bits::CMC),
    dwg(REAL("$CELTSCALE", 40, kR13On, 1), Bits::BD),
    dwg(INT("$DISPSILH", kR13On, 0), Bits::B),
    dwg(REAL("$DIMSCALE", 40, kAllReleases, 1), Bits::BD),
    dwg(REAL("$DIMASZ", 40, kAllReleases, 0.18), Bits::BD),
    dwg(REAL("$DIMEXO", 40, kAllReleases, 0.0625), Bits::BD),
    dwg(REAL("$DIMDLI", 40, kAllReleases, 0.38), Bits::BD),
    dwg(REAL("$DIMRND", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$DIMDLE", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$DIMEXE", 40, kAllReleases, 0.18), Bits::BD),
    dwg(REAL("$DIMTP", 40, kAllReleases, 0), Bits::BD),
    dwg(REAL("$DIMTM", 40, kAllReleases, 0), Bits::BD),
    dwg(REAL("$DIMTXT", 40, kAllReleases, 0.18), Bits::BD),
    dwg(REAL("$DIMCEN", 40, kAllReleases, 0.09), Bits::BD),
    dwg(REAL("$DIMTSZ", 40, kAllReleases, 0), Bits::BD),
    dwg(INT("$DIMTOL", kAllReleases, 0), Bits::B, Bits::B),
    dwg(INT("$DIMLIM", kAllReleases, 0), Bits::B, Bits::B),
    dwg(INT("$DIMTIH", kAllReleases, 1), Bits::B, Bits::B),
    dwg(INT("$DIMTOH", kAllReleases, 1), Bits::B, Bits::B),
    dwg(INT("$DIMSE1", kAllReleases, 0), Bits::B, Bits::B),
    dwg(INT("$DIMSE2", kAllReleases, 0), Bits::B, Bits::B),
    dwg(INT("$DIMTAD", kAllReleases, 0), Bits::RC, Bits::BS),
    dwg(INT("$DIMZIN", kR26On, 0), Bits::RC, Bits::BS),
    dwg(TEXT("$DIMBLK", 1, kR26On, ""), Bits::TV, kDwgR13R14),
    dwg(INT("$DIMASO", kR26On, 1), Bits::B),
    dwg(INT("$DIMSHO", kR26On, 1), Bits::B),
    dwg(TEXT("$DIMPOST", 1, kR26On, ""), Bits::TV, Bits::TV),
    dwg(TEXT("$DIMAPOST", 1, kR26On, ""), Bits::TV, Bits::TV),
    dwg(INT("$DIMALT", kR26On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMALTD", kR26On, 2), Bits::RC, Bits::BS),
    dwg(REAL("$DIMALTF", 40, kR26On, 25.4), Bits::BD),
    dwg(REAL("$DIMLFAC", 40, kR26On, 1), Bits::BD),
    dwg(INT("$DIMTOFL", kR10On, 0), Bits::B, Bits::B),
    dwg(REAL("$DIMTVP", 40, kR10On, 0), Bits::BD),
    dwg(INT("$DIMTIX", kR10On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMSOXD", kR10On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMSAH", kR10On, 0), Bits::B, Bits::B),
    dwg(TEXT("$DIMBLK1", 1, kR10On, ""), Bits::TV, kDwgR13R14),
    dwg(TEXT("$DIMBLK2", 1, kR10On, ""), Bits::TV, kDwgR13R14),
    TEXT("$DIMSTYLE", 2, kR12On, "Standard"),
    dwg(INT("$DIMCLRD", kR12On, 0), Bits::CMC),
    dwg(INT("$DIMCLRE", kR12On, 0), Bits::CMC),
    dwg(INT("$DIMCLRT", kR12On, 0), Bits::CMC),
    dwg(REAL("$DIMTFAC", 40, kR12On, 1), Bits::BD),
    dwg(REAL("$DIMGAP", 40, kR12On, 0.09), Bits::BD),
    dwg(INT("$DIMJUST", kR13On, 0), Bits::RC, Bits::BS),
    dwg(INT("$DIMSD1", kR13On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMSD2", kR13On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMTOLJ", kR13On, 1), Bits::RC, Bits::BS),
    dwg(INT("$DIMTZIN", kR13On, 0), Bits::RC, Bits::BS),
    dwg(INT("$DIMALTZ", kR13On, 0), Bits::RC, Bits::BS),
    dwg(INT("$DIMALTTZ", kR13On, 0), Bits::RC, Bits::BS),
    dwg(INT("$DIMFIT", between(R::R13, R::R14), 3), Bits::RC, kDwgR13R14),
    dwg(INT("$DIMUPT", kR13On, 0), Bits::B, Bits::B),
    dwg(INT("$DIMUNIT", between(R::R13, R::R14), 2), Bits::BS, kDwgR13R14),
    dwg(INT("$DIMDEC", kR13On, 4), Bits::BS, Bits::BS),
    dwg(INT("$DIMTDEC", kR13On, 4), Bits::BS, Bits::BS),
    dwg(INT("$DIMALTU", kR13On, 2), Bits::BS, Bits::BS),
    dwg(INT("$DIMALTTD", kR13On, 2), Bits::BS, Bits::BS),
    TEXT("$DIMTXSTY", 7, kR13On, "Standard"),
    dwg(INT("$DIMAUNIT", kR13On, 0), Bits::BS, Bits::BS),
    dwg(INT("$DIMADEC", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(REAL("$DIMALTRND", 40, kR2000On, 0), Bits::BD, kDwgR2000),
    dwg(INT("$DIMAZIN", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(INT("$DIMDSEP", kR2000On, 46), Bits::BS, kDwgR2000),
    dwg(INT("$DIMATFIT", kR2000On, 3), Bits::BS, kDwgR2000),
    dwg(INT("$DIMFRAC", kR2000On, 0), Bits::BS, kDwgR2000),
    TEXT("$DIMLDRBLK", 1, kR2000On, ""),
    dwg(INT("$DIMLUNIT", kR2000On, 2), Bits::BS, kDwgR2000),
    dwg(INT("$DIMLWD", kR2000On, -2), Bits::BS, kDwgR2000),
    dwg(INT("$DIMLWE", kR2000On, -2), Bits::BS, kDwgR2000),
    dwg(INT("$DIMTMOVE", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(INT("$LUNITS", kAllReleases, 2), Bits::BS),
    dwg(INT("$LUPREC", kAllReleases, 4), Bits::BS),
    INT("$AXISMODE", until(R::R10), 0),
    PT("$AXISUNIT", until(R::R10), k2D, 0, 0, 0),
    dwg(REAL("$SKETCHINC", 40, kAllReleases, 0.1), Bits::BD),
    dwg(REAL("$FILLETRAD", 40, kAllReleases, 0), Bits::BD),
    dwg(INT("$AUNITS", kAllReleases, 0), Bits::BS),
    dwg(INT("$AUPREC", kAllReleases, 0), Bits::BS),
    dwg(TEXT("$MENU", 1, kAllReleases, "."), Bits::TV),
    dwg(REAL("$ELEVATION", 40, kAllReleases, 0), Bits::BD),
    dwg(REAL("$PELEVATION", 40, kR12On, 0), Bits::BD),
    dwg(REAL("$THICKNESS", 40, kAllReleases, 0), Bits::BD),
    PT("$VIEWDIR", kUntilR9, kUntilR9, 0, 0, 1),
    dwg(INT("$LIMCHECK", kAllReleases, 0), Bits::B),
    dwg(INT("$BLIPMODE", until(R::R13), 0), Bits::B, kDwgR13R14),
    dwg(REAL("$CHAMFERA", 40, kAllReleases, 0), Bits::BD),
    dwg(REAL("$CHAMFERB", 40, kAllReleases, 0), Bits::BD),
    dwg(REAL("$CHAMFERC", 40, kR13On, 0), Bits::BD),
    dwg(REAL("$CHAMFERD", 40, kR13On, 0), Bits::BD),
    INT("$FASTZOOM", between(R::R2_6, R::R9), 1),
    dwg(INT("$SKPOLY", kR26On, 0), Bits::B),
    dwg(REAL("$TDCREATE", 40, kR26On, 2451544.5), Bits::TIME),
    REAL("$TDUCREATE", 40, kR2000On, 2451544.5),
    dwg(REAL("$TDUPDATE", 40, kR26On, 2451544.5), Bits::TIME),
    REAL("$TDUUPDATE", 40, kR2000On, 2451544.5),
    dwg(REAL("$TDINDWG", 40, kR26On, 0), Bits::TIME),
    dwg(REAL("$TDUSRTIMER", 40, kR26On, 0), Bits::TIME),
    dwg(INT("$USRTIMER", kR26On, 1), Bits::B),
    dwg(REAL("$ANGBASE", 50, kR26On, 0), Bits::BD),
    dwg(INT("$ANGDIR", kR26On, 0), Bits::B),
    dwg(INT("$PDMODE", kR26On, 0), Bits::BS),
    dwg(REAL("$PDSIZE", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$PLINEWID", 40, kR26On, 0), Bits::BD),
    dwg(INT("$COORDS", between(R::R2_6, R::R14), 1), Bits::BS, kDwgR13R14),
    dwg(INT("$SPLFRAME", since(R::R9), 0), Bits::B),
    dwg(INT("$SPLINETYPE", kR10On, 6), Bits::BS),
    dwg(INT("$SPLINESEGS", since(R::R9), 8), Bits::BS),
    dwg(INT("$ATTDIA", between(R::R9, R::R14), 0), Bits::B, kDwgR13R14),
    dwg(INT("$ATTREQ", between(R::R9, R::R14), 1), Bits::B, kDwgR13R14),
    INT("$HANDLING", between(R::R10, R::R14), 1),
    HeaderVar{"$HANDSEED", ValueKind::Handle, 5, kR10On},
    dwg(INT("$SURFTAB1", kR10On, 6), Bits::BS),
    dwg(INT("$SURFTAB2", kR10On, 6), Bits::BS),
    dwg(INT("$SURFTYPE", kR10On, 6), Bits::BS),
    dwg(INT("$SURFU", kR10On, 6), Bits::BS),
    dwg(INT("$SURFV", kR10On, 6), Bits::BS),
    TEXT("$UCSNAME", 2, kR10On, ""),
    dwg(PT("$UCSORG", kR10On, kR10On, 0, 0, 0), Bits::BD3),
    dwg(PT("$UCSXDIR", kR12On, kR12On, 1, 0, 0), Bits::BD3),
    dwg(PT("$UCSYDIR", kR12On, kR12On, 0, 1, 0), Bits::BD3),
    TEXT("$UCSBASE", 2, kR2000On, ""),
    TEXT("$UCSORTHOREF", 2, kR2000On, ""),
    dwg(INT("$UCSORTHOVIEW", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(PT("$UCSORGTOP", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$UCSORGBOTTOM", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$UCSORGLEFT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$UCSORGRIGHT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$UCSORGFRONT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$UCSORGBACK", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    TEXT("$PUCSBASE", 2, kR2000On, ""),
    TEXT("$PUCSNAME", 2, kR12On, ""),
    dwg(PT("$PUCSORG", kR12On, kR12On, 0, 0, 0), Bits::BD3),
    dwg(PT("$PUCSXDIR", kR12On, kR12On, 1, 0, 0), Bits::BD3),
    dwg(PT("$PUCSYDIR", kR12On, kR12On, 0, 1, 0), Bits::BD3),
    TEXT("$PUCSORTHOREF", 2, kR2000On, ""),
    dwg(INT("$PUCSORTHOVIEW", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(PT("$PUCSORGTOP", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$PUCSORGBOTTOM", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$PUCSORGLEFT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$PUCSORGRIGHT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$PUCSORGFRONT", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(PT("$PUCSORGBACK", kR2000On, kR2000On, 0, 0, 0), Bits::BD3, kDwgR2000),
    dwg(INT("$USERI1", kR26On, 0), Bits::BS),
    dwg(INT("$USERI2", kR26On, 0), Bits::BS),
    dwg(INT("$USERI3", kR26On, 0), Bits::BS),
    dwg(INT("$USERI4", kR26On, 0), Bits::BS),
    dwg(INT("$USERI5", kR26On, 0), Bits::BS),
    dwg(REAL("$USERR1", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$USERR2", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$USERR3", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$USERR4", 40, kR26On, 0), Bits::BD),
    dwg(REAL("$USERR5", 40, kR26On, 0), Bits::BD),
    dwg(INT("$WORLDVIEW", kR12On, 1), Bits::B),
    dwg(INT("$SHADEDGE", kR12On, 3), Bits::BS),
    dwg(INT("$SHADEDIF", kR12On, 70), Bits::BS),
    dwg(INT("$TILEMODE", kR12On, 1), Bits::B),
    dwg(INT("$MAXACTVP", kR12On, 64), Bits::BS),
    dwg(PT("$PINSBASE", kR13On, kR13On, 0, 0, 0), Bits::BD3),
    dwg(INT("$PLIMCHECK", kR12On, 0), Bits::B),
    dwg(PT("$PEXTMIN", kR12On, kR12On, 1e20, 1e20, 1e20), Bits::BD3),
    dwg(PT("$PEXTMAX", kR12On, kR12On, -1e20, -1e20, -1e20), Bits::BD3),
    dwg(PT("$PLIMMIN", kR12On, k2D, 0, 0, 0), Bits::RD2),
    dwg(PT("$PLIMMAX", kR12On, k2D, 12, 9, 0), Bits::RD2),
    dwg(INT("$UNITMODE", kR12On, 0), Bits::BS),
    dwg(INT("$VISRETAIN", kR12On, 1), Bits::B),
    dwg(INT("$PLINEGEN", kR12On, 0), Bits::B),
    dwg(INT("$PSLTSCALE", kR12On, 1), Bits::B),
    dwg(INT("$TREEDEPTH", kR13On, 3020), Bits::BS),
    dwg(INT("$PICKSTYLE", between(R::R13, R::R14), 1), Bits::BS, kDwgR13R14),
    dwg(INT("$DELOBJ", between(R::R13, R::R14), 1), Bits::B, kDwgR13R14),
    INT("$SAVEIMAGES", between(R::R13, R::R13), 0),
    TEXT("$CMLSTYLE", 2, kR13On, "Standard"),
    dwg(INT("$CMLJUST", kR13On, 0), Bits::BS),
    dwg(REAL("$CMLSCALE", 40, kR13On, 1), Bits::BD),
    dwg(INT("$PROXYGRAPHICS", kR14On, 1), Bits::BS),
    INT("$MEASUREMENT", kR14On, 0),
    INTC("$CELWEIGHT", 370, kR2000On, -1),
    INTC("$ENDCAPS", 280, kR2000On, 0),
    INTC("$JOINSTYLE", 280, kR2000On, 0),
    BOOL("$LWDISPLAY", kR2000On, 0),
    dwg(INT("$INSUNITS", kR2000On, 0), Bits::BS, kDwgR2000),
    dwg(TEXT("$HYPERLINKBASE", 1, kR2000On, ""), Bits::TV, kDwgR2000),
    dwg(TEXT("$STYLESHEET", 1, kR2000On, ""), Bits::TV, kDwgR2000),
    BOOL("$XEDIT", kR2000On, 1),
    dwg(INTC("$CEPSNTYPE", 380, kR2000On, 0), Bits::BS, kDwgR2000),
    BOOL("$PSTYLEMODE", kR2000On, 1),
    BOOL("$EXTNAMES", kR2000On, 1),
    dwg(REAL("$PSVPSCALE", 40, kR2000On, 0), Bits::BD, kDwgR2000),
    BOOL("$OLESTARTUP", kR2000On, 0),
    dwg(TEXT("$FINGERPRINTGUID", 2, kR2000On, "{00000000-0000-0000-0000-000000000000}"), Bits::TV, kDwgR2000),
    dwg(TEXT("$VERSIONGUID", 2, kR2000On, "{00000000-0000-0000-0000-000000000000}"), Bits::TV, kDwgR2000),
};

#undef REAL
#undef INT
#undef INTC
#undef TEXT
#undef PT
#undef BOOL

}  // namespace

template <> std::span<const Field<Line>> fieldsOf<Line>() { return kLine; }
template <> std::span<const Field<PointEntity>> fieldsOf<PointEntity>() { return kPoint; }
template <> std::span<const Field<Circle>> fieldsOf<Circle>() { return kCircle; }
template <> std::span<const Field<Arc>> fieldsOf<Arc>() { return kArc; }
template <> std::span<const Field<Text>> fieldsOf<Text>() { return kText; }
template <> std::span<const Field<Ellipse>> fieldsOf<Ellipse>() { return kEllipse; }
template <> std::span<const Field<Solid>> fieldsOf<Solid>() { return kSolid; }
template <> std::span<const Field<Face3d>> fieldsOf<Face3d>() { return kFace3d; }
template <> std::span<const Field<Insert>> fieldsOf<Insert>() { return kInsert; }
template <> std::span<const Field<Polyline>> fieldsOf<Polyline>() { return kPolyline; }
template <> std::span<const Field<Vertex>> fieldsOf<Vertex>() { return kVertex; }
template <> std::span<const Field<LwVertex>> fieldsOf<LwVertex>() { return kLwVertex; }
template <> std::span<const Field<LwPolyline>> fieldsOf<LwPolyline>() { return kLwPolyline; }
template <> std::span<const Field<AttDef>> fieldsOf<AttDef>() { return kAttDef; }
template <> std::span<const Field<Attrib>> fieldsOf<Attrib>() { return kAttrib; }
template <> std::span<const Field<UnknownEntity>> fieldsOf<UnknownEntity>() { return kUnknownEntity; }
template <> std::span<const Field<Layer>> fieldsOf<Layer>() { return kLayer; }
template <> std::span<const Field<Dash>> fieldsOf<Dash>() { return kDash; }
template <> std::span<const Field<Linetype>> fieldsOf<Linetype>() { return kLinetype; }
template <> std::span<const Field<TextStyle>> fieldsOf<TextStyle>() { return kTextStyle; }
template <> std::span<const Field<View>> fieldsOf<View>() { return kView; }
template <> std::span<const Field<Ucs>> fieldsOf<Ucs>() { return kUcs; }
template <> std::span<const Field<Vport>> fieldsOf<Vport>() { return kVport; }
template <> std::span<const Field<AppId>> fieldsOf<AppId>() { return kAppId; }
template <> std::span<const Field<DimStyle>> fieldsOf<DimStyle>() { return kDimStyle; }
template <> std::span<const Field<DictionaryEntry>> fieldsOf<DictionaryEntry>() { return kDictionaryEntry; }
template <> std::span<const Field<Dictionary>> fieldsOf<Dictionary>() { return kDictionary; }
template <> std::span<const Field<Layout>> fieldsOf<Layout>() { return kLayout; }
template <> std::span<const Field<UnknownObject>> fieldsOf<UnknownObject>() { return kUnknownObject; }

template <> const RecordSpec& recordSpec<Vport>() { return kVportSpec; }
template <> const RecordSpec& recordSpec<Linetype>() { return kLinetypeSpec; }
template <> const RecordSpec& recordSpec<Layer>() { return kLayerSpec; }
template <> const RecordSpec& recordSpec<TextStyle>() { return kStyleSpec; }
template <> const RecordSpec& recordSpec<View>() { return kViewSpec; }
template <> const RecordSpec& recordSpec<Ucs>() { return kUcsSpec; }
template <> const RecordSpec& recordSpec<AppId>() { return kAppIdSpec; }
template <> const RecordSpec& recordSpec<DimStyle>() { return kDimStyleSpec; }

std::span<const EntitySpec> entitySpecs() { return kEntitySpecs; }
const EntitySpec& entitySpec(EntityKind kind) { return kEntitySpecs[static_cast<std::size_t>(kind)]; }

std::span<const HeaderVar> headerVars() { return kHeaderVars; }

int headerVarIndex(std::string_view name) {
  static const std::unordered_map<std::string_view, int> index = [] {
    std::unordered_map<std::string_view, int> m;
    for (std::size_t i = 0; i < std::size(kHeaderVars); ++i) m.emplace(kHeaderVars[i].name, static_cast<int>(i));
    return m;
  }();
  const auto it = index.find(name);
  return it == index.end() ? -1 : it->second;
}

HeaderValue defaultValue(const HeaderVar& v) {
  switch (v.kind) {
    case ValueKind::Real: return v.real;
    case ValueKind::Int: return static_cast<std::int32_t>(v.real);
    case ValueKind::Text: return std::string(v.text);
    case ValueKind::Point: return v.point;
    case ValueKind::Handle: return Handle{0};
    case ValueKind::Bool: return v.real != 0;
  }
  return {};
}

}  // namespace drawingdb

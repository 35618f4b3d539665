#include "drawingdb/dwg_sections.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "drawingdb/dwg_objects.h"
#include "drawingdb/schema.h"

namespace drawingdb {

namespace {

using R = Release;

constexpr Span kAll = between(R::R13, R::R2018);
constexpr Span kOld = between(R::R13, R::R14);
constexpr Span kNew = between(R::R2000, R::R2018);
constexpr Span kR14R2000 = between(R::R14, R::R2004);
constexpr Span kUpTo2000 = between(R::R13, R::R2000);
constexpr Span k2004 = between(R::R2004, R::R2018);
constexpr Span k2007 = since(R::R2007);
constexpr Span k2010 = since(R::R2010);
constexpr Span k2013 = since(R::R2013);

constexpr double kPi = 3.14159265358979323846;
constexpr std::int64_t kDayMilliseconds = 86400000;

bool isSectionRelease(Release r) { return r >= R::R13 && r <= R::R2000; }
// The header variables and the classes are read from R13 on; from 2007 on
// their texts lie in a string stream and the header's handles in a handle
// stream of their own.  They are written up to 2004.
bool isReadRelease(Release r) { return r >= R::R13; }
bool isWriteRelease(Release r) { return r >= R::R13 && r <= R::R2004; }

std::string_view viewOf(const DwgSentinel& s) { return {reinterpret_cast<const char*>(s.data()), s.size()}; }

// Little-endian raw values of the byte-aligned blocks.
std::uint64_t littleEndianAt(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < size; ++i) v |= std::uint64_t{static_cast<std::uint8_t>(bytes[at + i])} << (8 * i);
  return v;
}
void appendLittleEndian(std::string& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// --------------------------------------------------------------- values

std::int64_t asInteger(const HeaderValue& v) {
  if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&v)) return std::isfinite(*d) ? static_cast<std::int64_t>(std::llround(std::clamp(*d, -2e9, 2e9))) : 0;
  if (const auto* h = std::get_if<Handle>(&v)) return static_cast<std::int64_t>(*h);
  return 0;
}
double asReal(const HeaderValue& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  return 0;
}
Point3 asPoint(const HeaderValue& v) {
  if (const auto* p = std::get_if<Point3>(&v)) return *p;
  return {};
}
std::string_view asText(const HeaderValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

// A colour of 2004 and later: index 0, method and value, no names.
void writeColor2004(DwgBitWriter& out, std::int32_t index) {
  out.writeBitShort(0);
  const std::uint32_t rgb = index == 256 ? 0xC0000000u : index == 0 ? 0xC1000000u : 0xC3000000u | (static_cast<std::uint32_t>(index) & 0xFF);
  out.writeBitLong(static_cast<std::int32_t>(rgb));
  out.writeRawChar(0);
}

// Reads one value of a bit form; integers of every width as int32.
HeaderValue readBits(DwgBitReader& in, Bits bits, const CodePage& page, Release r) {
  switch (bits) {
    case Bits::B: return std::int32_t{in.readBit()};
    case Bits::RC: return std::int32_t{in.readRawChar()};
    case Bits::RS: return std::int32_t{static_cast<std::int16_t>(in.readRawShort())};
    case Bits::BS: return std::int32_t{in.readBitShort()};
    case Bits::BL: return std::int32_t{in.readBitLong()};
    case Bits::RL: return static_cast<std::int32_t>(in.readRawLong());
    case Bits::CMC: return std::int32_t{r >= R::R2004 ? readDwgColour2004(in) : in.readColor()};
    case Bits::BD: return in.readBitDouble();
    case Bits::RD: return in.readRawDouble();
    case Bits::BD3: {
      const DwgPoint3 p = in.readBitPoint3();
      return Point3{p.x, p.y, p.z};
    }
    case Bits::RD2: {
      const DwgPoint2 p = in.readRawPoint2();
      return Point3{p.x, p.y, 0};
    }
    case Bits::TV: return readDwgText(in, page);
    case Bits::TIME: return julianFromDwgTime(in.readTime());
    default: return std::monostate{};
  }
}

void writeBits(DwgBitWriter& out, Bits bits, const HeaderValue& v, const CodePage& page, Release r) {
  switch (bits) {
    case Bits::B: out.writeBit(asInteger(v) != 0); break;
    case Bits::RC: out.writeRawChar(static_cast<std::uint8_t>(asInteger(v))); break;
    case Bits::RS: out.writeRawShort(static_cast<std::uint16_t>(asInteger(v))); break;
    case Bits::BS: out.writeBitShort(static_cast<std::int16_t>(asInteger(v))); break;
    case Bits::BL: out.writeBitLong(static_cast<std::int32_t>(asInteger(v))); break;
    case Bits::RL: out.writeRawLong(static_cast<std::uint32_t>(asInteger(v))); break;
    case Bits::CMC:
      if (r >= R::R2004) writeColor2004(out, static_cast<std::int32_t>(asInteger(v)));
      else out.writeColor(static_cast<std::int16_t>(asInteger(v)));
      break;
    case Bits::BD: out.writeBitDouble(asReal(v)); break;
    case Bits::RD: out.writeRawDouble(asReal(v)); break;
    case Bits::BD3: {
      const Point3 p = asPoint(v);
      out.writeBitPoint3({p.x, p.y, p.z});
      break;
    }
    case Bits::RD2: {
      const Point3 p = asPoint(v);
      out.writeRawPoint2({p.x, p.y});
      break;
    }
    case Bits::TV: {
      std::string scratch;
      out.writeText(page.encode(asText(v), scratch));
      break;
    }
    case Bits::TIME: out.writeTime(dwgTimeFromJulian(asReal(v))); break;
    default: break;
  }
}

// A value read in the form of a declared variable's kind.
HeaderValue asKind(ValueKind kind, HeaderValue v) {
  switch (kind) {
    case ValueKind::Bool: return asInteger(v) != 0;
    case ValueKind::Int: return static_cast<std::int32_t>(asInteger(v));
    case ValueKind::Real: return asReal(v);
    default: return v;
  }
}

RawTag keptTag(const HeaderValue& v) {
  RawTag t;
  if (const auto* d = std::get_if<double>(&v)) {
    t.type = TagType::Real;
    t.real = *d;
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    t.type = TagType::String;
    t.text = *s;
  } else {
    t.type = TagType::Int32;
    t.integer = asInteger(v);
  }
  return t;
}
HeaderValue keptValue(const RawTag& t) {
  switch (t.type) {
    case TagType::Real: return t.real;
    case TagType::String: return t.text;
    default: return static_cast<std::int32_t>(t.integer);
  }
}

// ------------------------------------------------------ the variable list

enum class Slot : std::uint8_t {
  Declared,   // a variable of the Header, in its declared DWG form
  Kept,       // a value no DXF variable holds: Header::dwgUnknown
  Ref,        // a handle of DwgHeaderHandles
  Handseed,   // HANDSEED: DwgHeaderHandles::handseed and $HANDSEED
  Flags,      // 2000: lineweight, end caps, joins and five switches in one BL
  PlotStyle,  // 2000: a handle present only when $CEPSNTYPE is 3
  Versions,   // 2013: REQUIREDVERSIONS, a BLL kept as its value
};

struct Item {
  Slot slot;
  std::string_view name;
  Span in;
  Bits bits = Bits::None;      // kept values
  double real = 0;             // default of a kept number
  std::string_view text = {};  // default of a kept text
  std::uint8_t code = 0;       // handle code of a reference
  Handle DwgHeaderHandles::*member = nullptr;
  // An angle the Header (like DXF) holds in degrees and the file in
  // radians: $ANGBASE, whose value other readers of DWG also turn from
  // radians into the degrees of their DXF.
  bool degrees = false;
};

constexpr Item var(std::string_view name, Span in = kAll) { return Item{Slot::Declared, name, in}; }
constexpr Item angle(std::string_view name) {
  Item i = var(name);
  i.degrees = true;
  return i;
}
constexpr Item kept(std::string_view name, Bits bits, Span in, double real = 0, std::string_view text = {}) {
  return Item{Slot::Kept, name, in, bits, real, text};
}
constexpr Item ref(std::string_view name, Handle DwgHeaderHandles::*member, std::uint8_t code, Span in = kAll) {
  Item i{Slot::Ref, name, in};
  i.code = code;
  i.member = member;
  return i;
}

using H = DwgHeaderHandles;

// Every value of the section in its order; each applies in the releases `in`.
constexpr Item kItems[] = {
    Item{Slot::Versions, "REQUIREDVERSIONS", k2013},
    kept("unknown1", Bits::BD, kAll, 412148564080.0),
    kept("unknown2", Bits::BD, kAll, 1.0),
    kept("unknown3", Bits::BD, kAll, 1.0),
    kept("unknown4", Bits::BD, kAll, 1.0),
    kept("unknown5", Bits::TV, kAll, 0, "m"),
    kept("unknown6", Bits::TV, kAll),
    kept("unknown7", Bits::TV, kAll),
    kept("unknown8", Bits::TV, kAll),
    kept("unknown9", Bits::BL, kAll),
    kept("unknown10", Bits::BL, kAll),
    kept("unknown11", Bits::BS, kOld),
    ref("current viewport entity header", &H::viewportEntityHeader, 5, kUpTo2000),
    var("$DIMASO"),
    var("$DIMSHO"),
    kept("DIMSAV", Bits::B, kOld),
    var("$PLINEGEN"),
    var("$ORTHOMODE"),
    var("$REGENMODE"),
    var("$FILLMODE"),
    var("$QTEXTMODE"),
    var("$PSLTSCALE"),
    var("$LIMCHECK"),
    var("$BLIPMODE", kOld),
    kept("unknown2004a", Bits::B, k2004),
    var("$USRTIMER"),
    var("$SKPOLY"),
    var("$ANGDIR"),
    var("$SPLFRAME"),
    var("$ATTREQ", kOld),
    var("$ATTDIA", kOld),
    var("$MIRRTEXT"),
    var("$WORLDVIEW"),
    kept("WIREFRAME", Bits::B, kOld),
    var("$TILEMODE"),
    var("$PLIMCHECK"),
    var("$VISRETAIN"),
    var("$DELOBJ", kOld),
    var("$DISPSILH"),
    kept("PELLIPSE", Bits::B, kAll),
    var("$PROXYGRAPHICS"),
    var("$DRAGMODE", kOld),
    var("$TREEDEPTH"),
    var("$LUNITS"),
    var("$LUPREC"),
    var("$AUNITS"),
    var("$AUPREC"),
    var("$OSMODE", kOld),
    var("$ATTMODE"),
    var("$COORDS", kOld),
    var("$PDMODE"),
    var("$PICKSTYLE", kOld),
    kept("unknown2004b", Bits::BL, k2004),
    kept("unknown2004c", Bits::BL, k2004),
    kept("unknown2004d", Bits::BL, k2004),
    var("$USERI1"),
    var("$USERI2"),
    var("$USERI3"),
    var("$USERI4"),
    var("$USERI5"),
    var("$SPLINESEGS"),
    var("$SURFU"),
    var("$SURFV"),
    var("$SURFTYPE"),
    var("$SURFTAB1"),
    var("$SURFTAB2"),
    var("$SPLINETYPE"),
    var("$SHADEDGE"),
    var("$SHADEDIF"),
    var("$UNITMODE"),
    var("$MAXACTVP"),
    kept("ISOLINES", Bits::BS, kAll, 4),
    var("$CMLJUST"),
    kept("TEXTQLTY", Bits::BS, kAll, 50),
    var("$LTSCALE"),
    var("$TEXTSIZE"),
    var("$TRACEWID"),
    var("$SKETCHINC"),
    var("$FILLETRAD"),
    var("$THICKNESS"),
    angle("$ANGBASE"),
    var("$PDSIZE"),
    var("$PLINEWID"),
    var("$USERR1"),
    var("$USERR2"),
    var("$USERR3"),
    var("$USERR4"),
    var("$USERR5"),
    var("$CHAMFERA"),
    var("$CHAMFERB"),
    var("$CHAMFERC"),
    var("$CHAMFERD"),
    kept("FACETRES", Bits::BD, kAll, 0.5),
    var("$CMLSCALE"),
    var("$CELTSCALE"),
    var("$MENU"),
    var("$TDCREATE"),
    var("$TDUPDATE"),
    kept("unknown2004e", Bits::BL, k2004),
    kept("unknown2004f", Bits::BL, k2004),
    kept("unknown2004g", Bits::BL, k2004),
    var("$TDINDWG"),
    var("$TDUSRTIMER"),
    var("$CECOLOR"),
    Item{Slot::Handseed, "$HANDSEED", kAll},
    ref("$CLAYER", &H::currentLayer, 5),
    ref("$TEXTSTYLE", &H::textStyle, 5),
    ref("$CELTYPE", &H::currentLinetype, 5),
    ref("CMATERIAL", nullptr, 5, k2007),
    ref("$DIMSTYLE", &H::dimStyle, 5),
    ref("$CMLSTYLE", &H::mlineStyle, 5),
    var("$PSVPSCALE", kNew),
    var("$PINSBASE"),
    var("$PEXTMIN"),
    var("$PEXTMAX"),
    var("$PLIMMIN"),
    var("$PLIMMAX"),
    var("$PELEVATION"),
    var("$PUCSORG"),
    var("$PUCSXDIR"),
    var("$PUCSYDIR"),
    ref("$PUCSNAME", &H::paperUcs, 5),
    ref("$PUCSORTHOREF", &H::paperUcsOrthoRef, 5, kNew),
    var("$PUCSORTHOVIEW", kNew),
    ref("$PUCSBASE", &H::paperUcsBase, 5, kNew),
    var("$PUCSORGTOP", kNew),
    var("$PUCSORGBOTTOM", kNew),
    var("$PUCSORGLEFT", kNew),
    var("$PUCSORGRIGHT", kNew),
    var("$PUCSORGFRONT", kNew),
    var("$PUCSORGBACK", kNew),
    var("$INSBASE"),
    var("$EXTMIN"),
    var("$EXTMAX"),
    var("$LIMMIN"),
    var("$LIMMAX"),
    var("$ELEVATION"),
    var("$UCSORG"),
    var("$UCSXDIR"),
    var("$UCSYDIR"),
    ref("$UCSNAME", &H::ucs, 5),
    ref("$UCSORTHOREF", &H::ucsOrthoRef, 5, kNew),
    var("$UCSORTHOVIEW", kNew),
    ref("$UCSBASE", &H::ucsBase, 5, kNew),
    var("$UCSORGTOP", kNew),
    var("$UCSORGBOTTOM", kNew),
    var("$UCSORGLEFT", kNew),
    var("$UCSORGRIGHT", kNew),
    var("$UCSORGFRONT", kNew),
    var("$UCSORGBACK", kNew),
    var("$DIMPOST", kNew),
    var("$DIMAPOST", kNew),
    kept("DIMALTMZS", Bits::TV, k2010),
    kept("DIMMZS", Bits::TV, k2010),
    var("$DIMTOL", kOld),
    var("$DIMLIM", kOld),
    var("$DIMTIH", kOld),
    var("$DIMTOH", kOld),
    var("$DIMSE1", kOld),
    var("$DIMSE2", kOld),
    var("$DIMALT", kOld),
    var("$DIMTOFL", kOld),
    var("$DIMSAH", kOld),
    var("$DIMTIX", kOld),
    var("$DIMSOXD", kOld),
    var("$DIMALTD", kOld),
    var("$DIMZIN", kOld),
    var("$DIMSD1", kOld),
    var("$DIMSD2", kOld),
    var("$DIMTOLJ", kOld),
    var("$DIMJUST", kOld),
    var("$DIMFIT", kOld),
    var("$DIMUPT", kOld),
    var("$DIMTZIN", kOld),
    var("$DIMALTZ", kOld),
    var("$DIMALTTZ", kOld),
    var("$DIMTAD", kOld),
    var("$DIMUNIT", kOld),
    var("$DIMAUNIT", kOld),
    var("$DIMDEC", kOld),
    var("$DIMTDEC", kOld),
    var("$DIMALTU", kOld),
    var("$DIMALTTD", kOld),
    ref("$DIMTXSTY", &H::dimTextStyle, 5, kOld),
    var("$DIMSCALE"),
    var("$DIMASZ"),
    var("$DIMEXO"),
    var("$DIMDLI"),
    var("$DIMEXE"),
    var("$DIMRND"),
    var("$DIMDLE"),
    var("$DIMTP"),
    var("$DIMTM"),
    kept("DIMFXL", Bits::BD, k2007, 1),
    kept("DIMJOGANG", Bits::BD, k2007, kPi / 4),
    kept("DIMTFILL", Bits::BS, k2007),
    kept("DIMTFILLCLR", Bits::CMC, k2007),
    var("$DIMTOL", kNew),
    var("$DIMLIM", kNew),
    var("$DIMTIH", kNew),
    var("$DIMTOH", kNew),
    var("$DIMSE1", kNew),
    var("$DIMSE2", kNew),
    var("$DIMTAD", kNew),
    var("$DIMZIN", kNew),
    var("$DIMAZIN", kNew),
    kept("DIMARCSYM", Bits::BS, k2007),
    var("$DIMTXT"),
    var("$DIMCEN"),
    var("$DIMTSZ"),
    var("$DIMALTF"),
    var("$DIMLFAC"),
    var("$DIMTVP"),
    var("$DIMTFAC"),
    var("$DIMGAP"),
    var("$DIMPOST", kOld),
    var("$DIMAPOST", kOld),
    var("$DIMBLK", kOld),
    var("$DIMBLK1", kOld),
    var("$DIMBLK2", kOld),
    var("$DIMALTRND", kNew),
    var("$DIMALT", kNew),
    var("$DIMALTD", kNew),
    var("$DIMTOFL", kNew),
    var("$DIMSAH", kNew),
    var("$DIMTIX", kNew),
    var("$DIMSOXD", kNew),
    var("$DIMCLRD"),
    var("$DIMCLRE"),
    var("$DIMCLRT"),
    var("$DIMADEC", kNew),
    var("$DIMDEC", kNew),
    var("$DIMTDEC", kNew),
    var("$DIMALTU", kNew),
    var("$DIMALTTD", kNew),
    var("$DIMAUNIT", kNew),
    var("$DIMFRAC", kNew),
    var("$DIMLUNIT", kNew),
    var("$DIMDSEP", kNew),
    var("$DIMTMOVE", kNew),
    var("$DIMJUST", kNew),
    var("$DIMSD1", kNew),
    var("$DIMSD2", kNew),
    var("$DIMTOLJ", kNew),
    var("$DIMTZIN", kNew),
    var("$DIMALTZ", kNew),
    var("$DIMALTTZ", kNew),
    var("$DIMUPT", kNew),
    var("$DIMATFIT", kNew),
    kept("DIMFXLON", Bits::B, k2007),
    kept("DIMTXTDIRECTION", Bits::B, k2010),
    kept("DIMALTMZF", Bits::BD, k2010, 100),
    kept("DIMMZF", Bits::BD, k2010, 100),
    ref("$DIMTXSTY", &H::dimTextStyle, 5, kNew),
    ref("$DIMLDRBLK", &H::dimLeaderBlock, 5, kNew),
    ref("$DIMBLK", &H::dimBlock, 5, kNew),
    ref("$DIMBLK1", &H::dimBlock1, 5, kNew),
    ref("$DIMBLK2", &H::dimBlock2, 5, kNew),
    ref("DIMLTYPE", nullptr, 5, k2007),
    ref("DIMLTEX1", nullptr, 5, k2007),
    ref("DIMLTEX2", nullptr, 5, k2007),
    var("$DIMLWD", kNew),
    var("$DIMLWE", kNew),
    ref("BLOCK_CONTROL", &H::blockControl, 3),
    ref("LAYER_CONTROL", &H::layerControl, 3),
    ref("STYLE_CONTROL", &H::styleControl, 3),
    ref("LTYPE_CONTROL", &H::linetypeControl, 3),
    ref("VIEW_CONTROL", &H::viewControl, 3),
    ref("UCS_CONTROL", &H::ucsControl, 3),
    ref("VPORT_CONTROL", &H::vportControl, 3),
    ref("APPID_CONTROL", &H::appidControl, 3),
    ref("DIMSTYLE_CONTROL", &H::dimstyleControl, 3),
    ref("VX_CONTROL", &H::vxControl, 3, kUpTo2000),
    ref("ACAD_GROUP", &H::groupDictionary, 5),
    ref("ACAD_MLINESTYLE", &H::mlineStyleDictionary, 5),
    ref("named object dictionary", &H::namedObjects, 3),
    kept("TSTACKALIGN", Bits::BS, kNew, 1),
    kept("TSTACKSIZE", Bits::BS, kNew, 70),
    var("$HYPERLINKBASE", kNew),
    var("$STYLESHEET", kNew),
    ref("ACAD_LAYOUT", &H::layoutDictionary, 5, kNew),
    ref("ACAD_PLOTSETTINGS", &H::plotSettingsDictionary, 5, kNew),
    ref("ACAD_PLOTSTYLENAME", &H::plotStyleDictionary, 5, kNew),
    ref("ACAD_MATERIAL", &H::materialDictionary, 5, k2004),
    ref("ACAD_COLOR", &H::colorDictionary, 5, k2004),
    ref("ACAD_VISUALSTYLE", nullptr, 5, k2007),
    ref("unknown2013", nullptr, 5, k2013),
    Item{Slot::Flags, "FLAGS", kNew},
    var("$INSUNITS", kNew),
    var("$CEPSNTYPE", kNew),
    Item{Slot::PlotStyle, "CPSNID", kNew, Bits::None, 0, {}, 5, &H::currentPlotStyle},
    var("$FINGERPRINTGUID", kNew),
    var("$VERSIONGUID", kNew),
    kept("SORTENTS", Bits::RC, k2004, 127),
    kept("INDEXCTL", Bits::RC, k2004),
    kept("HIDETEXT", Bits::RC, k2004, 1),
    kept("XCLIPFRAME", Bits::RC, k2004),
    kept("DIMASSOC", Bits::RC, k2004, 2),
    kept("HALOGAP", Bits::RC, k2004),
    kept("OBSCOLOR", Bits::BS, k2004, 257),
    kept("INTERSECTIONCOLOR", Bits::BS, k2004, 257),
    kept("OBSLTYPE", Bits::RC, k2004),
    kept("INTERSECTIONDISPLAY", Bits::RC, k2004),
    kept("PROJECTNAME", Bits::TV, k2004),
    ref("*PAPER_SPACE block record", &H::paperSpace, 5),
    ref("*MODEL_SPACE block record", &H::modelSpace, 5),
    ref("BYLAYER linetype", &H::byLayer, 5),
    ref("BYBLOCK linetype", &H::byBlock, 5),
    ref("CONTINUOUS linetype", &H::continuous, 5),
    kept("CAMERADISPLAY", Bits::B, k2007),
    kept("unknown2007a", Bits::BL, k2007),
    kept("unknown2007b", Bits::BL, k2007, 10),
    kept("unknown2007c", Bits::BD, k2007, 1),
    kept("STEPSPERSEC", Bits::BD, k2007, 2),
    kept("STEPSIZE", Bits::BD, k2007, 6),
    kept("3DDWFPREC", Bits::BD, k2007, 2),
    kept("LENSLENGTH", Bits::BD, k2007, 50),
    kept("CAMERAHEIGHT", Bits::BD, k2007),
    kept("SOLIDHIST", Bits::RC, k2007),
    kept("SHOWHIST", Bits::RC, k2007, 1),
    kept("PSOLWIDTH", Bits::BD, k2007, 0.25),
    kept("PSOLHEIGHT", Bits::BD, k2007, 4),
    kept("LOFTANG1", Bits::BD, k2007, kPi / 2),
    kept("LOFTANG2", Bits::BD, k2007, kPi / 2),
    kept("LOFTMAG1", Bits::BD, k2007),
    kept("LOFTMAG2", Bits::BD, k2007),
    kept("LOFTPARAM", Bits::BS, k2007, 7),
    kept("LOFTNORMALS", Bits::RC, k2007, 1),
    kept("LATITUDE", Bits::BD, k2007, 37.795),
    kept("LONGITUDE", Bits::BD, k2007, -122.394),
    kept("NORTHDIRECTION", Bits::BD, k2007),
    kept("TIMEZONE", Bits::BL, k2007, -8000),
    kept("LIGHTGLYPHDISPLAY", Bits::RC, k2007, 1),
    kept("TILEMODELIGHTSYNCH", Bits::RC, k2007, 1),
    kept("DWFFRAME", Bits::RC, k2007, 2),
    kept("DGNFRAME", Bits::RC, k2007),
    kept("REALWORLDSCALE", Bits::B, k2007, 1),
    kept("INTERFERECOLOR", Bits::CMC, k2007, 1),
    ref("INTERFEREOBJVS", nullptr, 5, k2007),
    ref("INTERFEREVPVS", nullptr, 5, k2007),
    ref("DRAGVS", nullptr, 5, k2007),
    kept("CSHADOW", Bits::RC, k2007),
    kept("SHADOWPLANELOCATION", Bits::BD, k2007),
    kept("unknown272", Bits::BS, kR14R2000),
    kept("unknown273", Bits::BS, kR14R2000),
    kept("unknown274", Bits::BS, kR14R2000),
    kept("unknown275", Bits::BS, kR14R2000),
};

// What follows the listed values in a file (R13 has more than its list
// says); kept as bits: the tag's integer is the number of bits, its text
// the bits from the most significant of the first byte on.
constexpr std::string_view kTail = "tail";
// The FLAGS word as stored, kept when the variables do not give it back
// (bits no variable holds, lineweight indices no weight has).
constexpr std::string_view kFlags = "FLAGS";

// A date kept as stored: day in the high, milliseconds in the low 32 bits.
std::int64_t packTime(const DwgTime& t) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(t.day)) << 32 |
                                   static_cast<std::uint32_t>(t.milliseconds));
}
DwgTime unpackTime(std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(u >> 32)), static_cast<std::int32_t>(static_cast<std::uint32_t>(u))};
}

// The indices of the declared variables of kItems (-1 for other slots).
const std::vector<int>& declaredIndices() {
  static const std::vector<int> indices = [] {
    std::vector<int> v;
    for (const Item& i : kItems) v.push_back(i.slot == Slot::Declared ? headerVarIndex(i.name) : -1);
    return v;
  }();
  return indices;
}

// The packed FLAGS of 2000: mask and the variable each field holds.
constexpr std::uint32_t kLineweightBits = 0x1F;
constexpr std::uint32_t kEndCapBits = 0x60;
constexpr std::uint32_t kJoinBits = 0x180;
constexpr std::uint32_t kLwDisplayOff = 0x200;
constexpr std::uint32_t kXEditOff = 0x400;
constexpr std::uint32_t kExtNames = 0x800;
constexpr std::uint32_t kPlotStyleMode = 0x2000;
constexpr std::uint32_t kOleStartup = 0x4000;
constexpr std::uint32_t kFlagsKnown =
    kLineweightBits | kEndCapBits | kJoinBits | kLwDisplayOff | kXEditOff | kExtNames | kPlotStyleMode | kOleStartup;

std::uint32_t packFlags(const Header& h) {
  std::uint32_t f = dwgLineweightIndex(h.integer("$CELWEIGHT"));
  f |= (static_cast<std::uint32_t>(h.integer("$ENDCAPS")) << 5) & kEndCapBits;
  f |= (static_cast<std::uint32_t>(h.integer("$JOINSTYLE")) << 7) & kJoinBits;
  if (!h.integer("$LWDISPLAY")) f |= kLwDisplayOff;
  if (!h.integer("$XEDIT")) f |= kXEditOff;
  if (h.integer("$EXTNAMES")) f |= kExtNames;
  if (h.integer("$PSTYLEMODE")) f |= kPlotStyleMode;
  if (h.integer("$OLESTARTUP")) f |= kOleStartup;
  return f;
}

void unpackFlags(std::uint32_t f, Header& h) {
  h.set("$CELWEIGHT", lineweightOfDwgIndex(static_cast<std::uint8_t>(f & kLineweightBits)));
  h.set("$ENDCAPS", static_cast<std::int32_t>((f & kEndCapBits) >> 5));
  h.set("$JOINSTYLE", static_cast<std::int32_t>((f & kJoinBits) >> 7));
  h.set("$LWDISPLAY", (f & kLwDisplayOff) == 0);
  h.set("$XEDIT", (f & kXEditOff) == 0);
  h.set("$EXTNAMES", (f & kExtNames) != 0);
  h.set("$PSTYLEMODE", (f & kPlotStyleMode) != 0);
  h.set("$OLESTARTUP", (f & kOleStartup) != 0);
}

Status sectionFailure(std::string_view section, std::string_view what, const std::string& failure) {
  return Status::fail(StatusCode::BadFile, std::string(section) + ": " + std::string(what) + ": " + failure);
}

}  // namespace

// ------------------------------------------------------------ conversions

DwgTime dwgTimeFromJulian(double julian) {
  if (!std::isfinite(julian) || julian < std::numeric_limits<std::int32_t>::min() ||
      julian >= std::numeric_limits<std::int32_t>::max())
    return {};
  double day = std::floor(julian);
  std::int64_t ms = std::llround((julian - day) * static_cast<double>(kDayMilliseconds));
  if (ms >= kDayMilliseconds && day < std::numeric_limits<std::int32_t>::max() - 1) {
    day += 1;
    ms -= kDayMilliseconds;
  }
  return {static_cast<std::int32_t>(day), static_cast<std::int32_t>(std::min<std::int64_t>(ms, kDayMilliseconds - 1))};
}

double julianFromDwgTime(const DwgTime& t) {
  return static_cast<double>(t.day) + static_cast<double>(t.milliseconds) / static_cast<double>(kDayMilliseconds);
}

namespace {

struct CodePageNumber {
  std::uint16_t number;
  std::string_view name;
};
constexpr CodePageNumber kCodePages[] = {
    {1, "US_ASCII"},   {2, "ISO8859_1"},  {3, "ISO8859_2"},  {4, "ISO8859_3"},  {5, "ISO8859_4"},
    {6, "ISO8859_5"},  {7, "ISO8859_6"},  {8, "ISO8859_7"},  {9, "ISO8859_8"},  {10, "ISO8859_9"},
    {11, "DOS437"},    {12, "DOS850"},    {13, "DOS852"},    {14, "DOS855"},    {15, "DOS857"},
    {16, "DOS860"},    {17, "DOS861"},    {18, "DOS863"},    {19, "DOS864"},    {20, "DOS865"},
    {21, "DOS869"},    {22, "DOS932"},    {23, "MACINTOSH"}, {24, "BIG5"},      {25, "KSC5601"},
    {26, "JOHAB"},     {27, "DOS866"},    {28, "ANSI_1250"}, {29, "ANSI_1251"}, {30, "ANSI_1252"},
    {31, "GB2312"},    {32, "ANSI_1253"}, {33, "ANSI_1254"}, {34, "ANSI_1255"}, {35, "ANSI_1256"},
    {36, "ANSI_1257"}, {37, "ANSI_874"},  {38, "ANSI_932"},  {39, "ANSI_936"},  {40, "ANSI_949"},
    {41, "ANSI_950"},  {42, "ANSI_1361"}, {44, "ANSI_1258"},
};

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::string_view dwgCodePageName(std::uint16_t number) {
  for (const CodePageNumber& c : kCodePages)
    if (c.number == number) return c.name;
  return {};
}

std::uint16_t dwgCodePageNumber(std::string_view name) {
  for (const CodePageNumber& c : kCodePages)
    if (sameLetters(c.name, name)) return c.number;
  return 30;
}

// ------------------------------------------------------- header variables

std::span<const DwgNamedHandle> dwgHeaderNamedHandles() {
  static constexpr DwgNamedHandle kNamed[] = {
      {"$CLAYER", &H::currentLayer, DwgNameTable::Layer, kAll},
      {"$TEXTSTYLE", &H::textStyle, DwgNameTable::Style, kAll},
      {"$CELTYPE", &H::currentLinetype, DwgNameTable::Linetype, kAll},
      {"$DIMSTYLE", &H::dimStyle, DwgNameTable::DimStyle, kAll},
      {"$CMLSTYLE", &H::mlineStyle, DwgNameTable::MlineStyle, kAll},
      {"$PUCSNAME", &H::paperUcs, DwgNameTable::Ucs, kAll},
      {"$PUCSORTHOREF", &H::paperUcsOrthoRef, DwgNameTable::Ucs, kNew},
      {"$PUCSBASE", &H::paperUcsBase, DwgNameTable::Ucs, kNew},
      {"$UCSNAME", &H::ucs, DwgNameTable::Ucs, kAll},
      {"$UCSORTHOREF", &H::ucsOrthoRef, DwgNameTable::Ucs, kNew},
      {"$UCSBASE", &H::ucsBase, DwgNameTable::Ucs, kNew},
      {"$DIMTXSTY", &H::dimTextStyle, DwgNameTable::Style, kAll},
      {"$DIMLDRBLK", &H::dimLeaderBlock, DwgNameTable::Block, kNew},
      {"$DIMBLK", &H::dimBlock, DwgNameTable::Block, kNew},
      {"$DIMBLK1", &H::dimBlock1, DwgNameTable::Block, kNew},
      {"$DIMBLK2", &H::dimBlock2, DwgNameTable::Block, kNew},
  };
  return kNamed;
}

Status readDwgHeaderVariables(std::string_view data, Release r, const CodePage& page, Header& header,
                              DwgHeaderHandles& handles) {
  if (!isReadRelease(r)) return Status::fail(StatusCode::NotSupported, "header variables of this release");
  constexpr std::string_view kSection = "header variables";
  const auto vars = headerVars();
  const std::vector<int>& declared = declaredIndices();
  header.dwgUnknown.clear();
  header.dwgUnknownFrom = r;
  handles = DwgHeaderHandles{};
  DwgBitReader in(data);
  // From 2007 on the data opens with its size in bits, where the handle
  // stream begins; the texts lie in the string stream before it.
  DwgBitReader separate(data);
  DwgBitReader* refs = &in;
  if (r >= R::R2007) {
    const std::uint32_t bitsize = in.readRawLong();
    if (in.failed()) return sectionFailure(kSection, "the size", in.failure());
    if (bitsize > data.size() * 8)
      return Status::fail(StatusCode::BadFile, std::string(kSection) + ": bitsize " + std::to_string(bitsize) +
                                                   " beyond the section");
    in.locateStrings(bitsize);
    if (in.failed()) return sectionFailure(kSection, "the string stream", in.failure());
    separate.seekBit(bitsize);
    refs = &separate;
  }
  for (std::size_t k = 0; k < std::size(kItems); ++k) {
    const Item& item = kItems[k];
    if (!item.in.has(r)) continue;
    switch (item.slot) {
      case Slot::Versions: {
        RawTag t;
        t.type = TagType::Int64;
        t.integer = static_cast<std::int64_t>(in.readBitLongLong());
        header.dwgUnknown.push_back({std::string(item.name), {std::move(t)}});
        break;
      }
      case Slot::Declared: {
        const HeaderVar& v = vars[static_cast<std::size_t>(declared[k])];
        const Bits bits = v.dwgBits(r);
        HeaderValue value;
        if (bits == Bits::TIME) {
          const DwgTime t = in.readTime();
          value = julianFromDwgTime(t);
          // A day and milliseconds outside their ranges do not come back from
          // the Julian date: the stored pair is kept beside it.
          if (dwgTimeFromJulian(std::get<double>(value)) != t) {
            RawTag stored;
            stored.type = TagType::Int32;
            stored.integer = packTime(t);
            header.dwgUnknown.push_back({std::string(item.name), {std::move(stored)}});
          }
        } else {
          value = readBits(in, bits, page, r);
        }
        if (item.degrees) {
          const double radians = asReal(value);
          value = radians * 180.0 / kPi;
          // The radians are kept while the degrees give them back only
          // approximately.
          if (std::get<double>(value) * kPi / 180.0 != radians && !std::isnan(radians))
            header.dwgUnknown.push_back({std::string(item.name), {keptTag(radians)}});
        }
        header.valueAt(static_cast<std::size_t>(declared[k])) = asKind(v.kind, std::move(value));
        break;
      }
      case Slot::Kept:
        header.dwgUnknown.push_back({std::string(item.name), {keptTag(readBits(in, item.bits, page, r))}});
        break;
      case Slot::PlotStyle:
        if (header.integer("$CEPSNTYPE") != 3) break;
        [[fallthrough]];
      case Slot::Ref:
      case Slot::Handseed: {
        DwgBitReader& from = item.slot == Slot::Handseed ? in : *refs;
        const DwgHandleRef h = from.readHandle();
        if (from.failed()) {
          if (&from != &in) return sectionFailure(kSection, item.name, from.failure());
          break;
        }
        const std::optional<Handle> target = resolveHandle(h, 0);
        if (!target)
          return Status::fail(StatusCode::BadFile, std::string(kSection) + ": " + std::string(item.name) +
                                                       ": handle reference of code " + std::to_string(h.code) +
                                                       " names no handle");
        if (item.slot == Slot::Handseed) {
          handles.handseed = *target;
          header.set("$HANDSEED", *target);
        } else if (item.member != nullptr) {
          handles.*item.member = *target;
        }
        break;
      }
      case Slot::Flags: {
        const auto flags = static_cast<std::uint32_t>(in.readBitLong());
        unpackFlags(flags, header);
        if (packFlags(header) != flags)
          header.dwgUnknown.push_back({std::string(kFlags), {keptTag(static_cast<std::int32_t>(flags))}});
        break;
      }
    }
    if (in.failed()) return sectionFailure(kSection, item.name, in.failure());
  }
  // Whatever follows the list, unless it is the padding of the last byte.
  const std::size_t rest = in.bitsLeft();
  std::string bits;
  bool set = false;
  for (std::size_t i = 0; i < rest; ++i) {
    if (i % 8 == 0) bits.push_back('\0');
    if (in.readBit()) {
      bits.back() = static_cast<char>(bits.back() | (0x80 >> (i % 8)));
      set = true;
    }
  }
  if (rest >= 8 || set) {
    RawTag t;
    t.type = TagType::String;
    t.integer = static_cast<std::int64_t>(rest);
    t.text = std::move(bits);
    header.dwgUnknown.push_back({std::string(kTail), {std::move(t)}});
  }
  return {};
}

Status writeDwgHeaderVariables(const Header& header, const DwgHeaderHandles& handles, Release r,
                               const CodePage& page, std::string& data) {
  if (!isWriteRelease(r)) return Status::fail(StatusCode::NotSupported, "header variables of this release");
  const auto vars = headerVars();
  const std::vector<int>& declared = declaredIndices();
  std::unordered_map<std::string_view, const RawTag*> kept;
  if (header.dwgUnknownFrom == r)
    for (const UnknownVariable& u : header.dwgUnknown)
      if (!u.tags.empty()) kept.emplace(u.name, &u.tags.front());
  const auto keptTagOf = [&](std::string_view name) -> const RawTag* {
    const auto it = kept.find(name);
    return it == kept.end() ? nullptr : it->second;
  };
  DwgBitWriter out;
  for (std::size_t k = 0; k < std::size(kItems); ++k) {
    const Item& item = kItems[k];
    if (!item.in.has(r)) continue;
    switch (item.slot) {
      case Slot::Declared: {
        const HeaderVar& v = vars[static_cast<std::size_t>(declared[k])];
        HeaderValue value = header.valueAt(static_cast<std::size_t>(declared[k]));
        if (std::holds_alternative<std::monostate>(value)) value = defaultValue(v);
        const RawTag* raw = keptTagOf(item.name);
        if (v.dwgBits(r) == Bits::TIME && raw && julianFromDwgTime(unpackTime(raw->integer)) == asReal(value)) {
          out.writeTime(unpackTime(raw->integer));
          break;
        }
        if (item.degrees) {
          const double degrees = asReal(value);
          value = raw && raw->real * 180.0 / kPi == degrees ? raw->real : degrees * kPi / 180.0;
        }
        writeBits(out, v.dwgBits(r), value, page, r);
        break;
      }
      case Slot::Kept: {
        HeaderValue value;
        if (const RawTag* t = keptTagOf(item.name)) value = keptValue(*t);
        else if (item.bits == Bits::TV) value = std::string(item.text);
        else if (item.bits == Bits::BD) value = item.real;
        else value = static_cast<std::int32_t>(item.real);
        writeBits(out, item.bits, value, page, r);
        break;
      }
      case Slot::Handseed: {
        const Handle seed = handles.handseed != 0 ? handles.handseed : header.handle("$HANDSEED");
        out.writeHandle({0, seed});
        break;
      }
      case Slot::PlotStyle:
        if (header.integer("$CEPSNTYPE") != 3) break;
        [[fallthrough]];
      case Slot::Ref: out.writeHandle({item.code, item.member != nullptr ? handles.*item.member : 0}); break;
      case Slot::Versions: out.writeBitLongLong(0); break;
      case Slot::Flags: {
        std::uint32_t flags = packFlags(header);
        // The stored word while it says what the variables say.
        if (const RawTag* t = keptTagOf(kFlags)) {
          const auto stored = static_cast<std::uint32_t>(t->integer);
          Header told;
          unpackFlags(stored, told);
          flags = packFlags(told) == flags ? stored : flags | (stored & ~kFlagsKnown);
        }
        out.writeBitLong(static_cast<std::int32_t>(flags));
        break;
      }
    }
  }
  if (const RawTag* t = keptTagOf(kTail)) {
    const std::size_t bits = static_cast<std::size_t>(std::clamp<std::int64_t>(t->integer, 0, static_cast<std::int64_t>(t->text.size()) * 8));
    for (std::size_t i = 0; i < bits; ++i) out.writeBit((static_cast<std::uint8_t>(t->text[i / 8]) >> (7 - i % 8)) & 1);
  } else if (r == R::R13) {
    // R13 files hold four more values than the list names.
    for (int i = 0; i < 4; ++i) out.writeBitShort(0);
  }
  out.alignToByte();
  if (out.failed()) return Status::fail(StatusCode::OutOfRange, "header variables: " + out.failure());
  data = out.bytes();
  return {};
}

// ---------------------------------------------------------------- classes

namespace {

constexpr std::int16_t kEntityClass = 0x1F2;
constexpr std::int16_t kObjectClass = 0x1F3;

ClassDef classOf(std::string_view dxf, std::string_view cpp, bool entity) {
  ClassDef c;
  c.dxfName = dxf;
  c.className = cpp;
  c.isEntity = entity;
  return c;
}

// Kinds that have a type number of their own in 2000 and need no class.
bool fixedIn2000(std::string_view dxf) { return dxf == "LWPOLYLINE" || dxf == "HATCH" || dxf == "XRECORD"; }

}  // namespace

DwgClassesRead readDwgClasses(std::string_view data, Release r, const CodePage& page) {
  DwgClassesRead result;
  if (!isReadRelease(r)) {
    result.status = Status::fail(StatusCode::NotSupported, "classes of this release");
    return result;
  }
  DwgBitReader in(data);
  // From 2007 on: the size in bits first, the names in a string stream.
  if (r >= R::R2007) {
    const std::uint32_t bitsize = in.readRawLong();
    if (!in.failed() && bitsize > data.size() * 8) {
      result.status = Status::fail(StatusCode::BadFile, "classes: bitsize " + std::to_string(bitsize) + " beyond the section");
      return result;
    }
    in.locateStrings(bitsize);
    if (in.failed()) {
      result.status = sectionFailure("classes", "the string stream", in.failure());
      return result;
    }
  }
  // From 2004 on the list opens with the highest class number and says how
  // many classes follow.
  std::size_t count = SIZE_MAX;
  if (r >= R::R2004) {
    const std::int16_t highest = in.readBitShort();
    in.readRawChar();
    in.readRawChar();
    in.readBit();
    if (in.failed()) {
      result.status = sectionFailure("classes", "the count", in.failure());
      return result;
    }
    if (highest < kDwgFirstClassNumber - 1) {
      result.status = Status::fail(StatusCode::BadFile, "classes: the highest class number is " + std::to_string(highest));
      return result;
    }
    count = static_cast<std::size_t>(highest - (kDwgFirstClassNumber - 1));
  }
  while (result.classes.size() < count && (count != SIZE_MAX || in.bitsLeft() >= 8)) {
    const std::size_t at = in.bitPosition();
    ClassDef c;
    const std::int16_t number = in.readBitShort();
    c.flags = in.readBitShort();
    c.application = readDwgText(in, page);
    c.className = readDwgText(in, page);
    c.dxfName = readDwgText(in, page);
    c.wasProxy = in.readBit() != 0;
    const std::int16_t item = in.readBitShort();
    if (r >= R::R2004) {
      c.instances = in.readBitLong();
      in.readBitShort();  // the release and maintenance that made the class
      in.readBitShort();
      in.readBitLong();
      in.readBitLong();
    }
    if (in.failed()) {
      result.status = sectionFailure("classes", "class " + std::to_string(result.classes.size() + 1) + " at bit " +
                                                    std::to_string(at), in.failure());
      return result;
    }
    c.isEntity = item == kEntityClass;
    result.classes.push_back(std::move(c));
    result.numbers.push_back(number);
  }
  return result;
}

Status writeDwgClasses(std::span<const ClassDef> classes, Release r, const CodePage& page, std::string& data) {
  if (!isWriteRelease(r)) return Status::fail(StatusCode::NotSupported, "classes of this release");
  if (classes.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max() - kDwgFirstClassNumber))
    return Status::fail(StatusCode::OutOfRange, std::to_string(classes.size()) + " classes are more than a file numbers");
  DwgBitWriter out;
  std::string scratch;
  if (r >= R::R2004) {
    out.writeBitShort(static_cast<std::int16_t>(kDwgFirstClassNumber - 1 + static_cast<std::int16_t>(classes.size())));
    out.writeRawChar(0);
    out.writeRawChar(0);
    out.writeBit(true);
  }
  for (std::size_t i = 0; i < classes.size(); ++i) {
    const ClassDef& c = classes[i];
    out.writeBitShort(static_cast<std::int16_t>(kDwgFirstClassNumber + static_cast<std::int16_t>(i)));
    out.writeBitShort(static_cast<std::int16_t>(c.flags));
    out.writeText(page.encode(c.application, scratch));
    out.writeText(page.encode(c.className, scratch));
    out.writeText(page.encode(c.dxfName, scratch));
    out.writeBit(c.wasProxy);
    out.writeBitShort(c.isEntity ? kEntityClass : kObjectClass);
    if (r >= R::R2004) {
      out.writeBitLong(c.instances);
      for (int zero = 0; zero < 2; ++zero) out.writeBitShort(0);
      for (int zero = 0; zero < 2; ++zero) out.writeBitLong(0);
    }
  }
  out.alignToByte();
  if (out.failed()) return Status::fail(StatusCode::OutOfRange, "classes: " + out.failure());
  data = out.bytes();
  return {};
}

std::vector<ClassDef> dwgClassesFor(std::span<const ClassDef> have, Release r) {
  std::vector<ClassDef> out;
  if (r >= R::R2000) {
    out.push_back(classOf("ACDBDICTIONARYWDFLT", "AcDbDictionaryWithDefault", false));
    out.push_back(classOf("ACDBPLACEHOLDER", "AcDbPlaceHolder", false));
    // LAYOUT has a type number of its own from 2004 on.
    if (r < R::R2004) out.push_back(classOf("LAYOUT", "AcDbLayout", false));
    out.push_back(classOf("DICTIONARYVAR", "AcDbDictionaryVar", false));
  } else {
    out.push_back(classOf("DICTIONARYVAR", "AcDbDictionaryVar", false));
    out.push_back(classOf("XRECORD", "AcDbXrecord", false));
    if (r >= R::R14) {
      out.push_back(classOf("LWPOLYLINE", "AcDbPolyline", true));
      out.push_back(classOf("HATCH", "AcDbHatch", true));
    }
  }
  std::unordered_set<std::string> listed;
  for (const ClassDef& c : out) listed.insert(c.dxfName);
  for (const ClassDef& c : have) {
    if (r >= R::R2000 && fixedIn2000(c.dxfName)) continue;
    if (r >= R::R2004 && c.dxfName == "LAYOUT") continue;
    if (c.dxfName.empty() || !listed.insert(c.dxfName).second) continue;
    out.push_back(c);
  }
  return out;
}

std::int16_t dwgClassNumber(std::span<const ClassDef> classes, std::string_view dxfName) {
  for (std::size_t i = 0; i < classes.size(); ++i)
    if (classes[i].dxfName == dxfName) return static_cast<std::int16_t>(kDwgFirstClassNumber + static_cast<std::int16_t>(i));
  return -1;
}

// -------------------------------------------------------------- AuxHeader

namespace {

// A cursor over a raw little-endian block whose size was checked before.
class RawCursor {
 public:
  RawCursor(std::string_view bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  std::uint64_t take(std::size_t size) {
    const std::uint64_t v = littleEndianAt(bytes_, at_, size);
    at_ += size;
    return v;
  }
  std::uint8_t rc() { return static_cast<std::uint8_t>(take(1)); }
  std::uint16_t rs() { return static_cast<std::uint16_t>(take(2)); }
  std::uint32_t rl() { return static_cast<std::uint32_t>(take(4)); }
  std::size_t at() const { return at_; }

 private:
  std::string_view bytes_;
  std::size_t at_;
};

Status blockInside(std::string_view file, const DwgSectionLocator& where, std::size_t least, const char* what) {
  if (std::uint64_t{where.address} + where.size > file.size())
    return Status::fail(StatusCode::OutOfRange, std::string(what) + " at " + hexOf(where.address) + ", " +
                                                    std::to_string(where.size) + " bytes, reaches past the end of the file");
  if (where.size < least)
    return Status::fail(StatusCode::BadFile, std::string(what) + " at " + hexOf(where.address) + " has " +
                                                 std::to_string(where.size) + " bytes, fewer than " + std::to_string(least));
  return {};
}

}  // namespace

Status readDwgAuxHeader(std::string_view file, const DwgSectionLocator& where, DwgAuxHeader& out) {
  if (Status s = blockInside(file, where, kDwgAuxHeaderSize, "AuxHeader"); !s.ok()) return s;
  RawCursor c(file, where.address);
  DwgAuxHeader a;
  for (auto& m : a.marker) m = c.rc();
  a.appRelease = c.rs();
  a.appMaintenance = c.rs();
  a.saves = c.rl();
  a.minusOne = static_cast<std::int32_t>(c.rl());
  a.saves2 = c.rs();
  a.unknown17 = c.rs();
  a.zero19 = c.rl();
  for (auto& v : a.releases) v = c.rs();
  for (auto& v : a.unknown31) v = c.rs();
  for (auto& v : a.zero43) v = c.rl();
  a.created = {static_cast<std::int32_t>(c.rl()), static_cast<std::int32_t>(c.rl())};
  a.updated = {static_cast<std::int32_t>(c.rl()), static_cast<std::int32_t>(c.rl())};
  a.handseed = c.take(8);
  a.zero87 = c.rs();
  a.saves3 = c.rs();
  for (auto& v : a.zero91) v = c.rl();
  a.saves4 = c.rl();
  for (auto& v : a.zero107) v = c.rl();
  for (auto& v : a.zero115) v = c.rc();
  out = a;
  return {};
}

void writeDwgAuxHeader(const DwgAuxHeader& a, std::string& out) {
  for (std::uint8_t m : a.marker) appendLittleEndian(out, m, 1);
  appendLittleEndian(out, a.appRelease, 2);
  appendLittleEndian(out, a.appMaintenance, 2);
  appendLittleEndian(out, a.saves, 4);
  appendLittleEndian(out, static_cast<std::uint32_t>(a.minusOne), 4);
  appendLittleEndian(out, a.saves2, 2);
  appendLittleEndian(out, a.unknown17, 2);
  appendLittleEndian(out, a.zero19, 4);
  for (std::uint16_t v : a.releases) appendLittleEndian(out, v, 2);
  for (std::uint16_t v : a.unknown31) appendLittleEndian(out, v, 2);
  for (std::uint32_t v : a.zero43) appendLittleEndian(out, v, 4);
  for (const DwgTime& t : {a.created, a.updated}) {
    appendLittleEndian(out, static_cast<std::uint32_t>(t.day), 4);
    appendLittleEndian(out, static_cast<std::uint32_t>(t.milliseconds), 4);
  }
  appendLittleEndian(out, a.handseed, 8);
  appendLittleEndian(out, a.zero87, 2);
  appendLittleEndian(out, a.saves3, 2);
  for (std::uint32_t v : a.zero91) appendLittleEndian(out, v, 4);
  appendLittleEndian(out, a.saves4, 4);
  for (std::uint32_t v : a.zero107) appendLittleEndian(out, v, 4);
  for (std::uint8_t v : a.zero115) appendLittleEndian(out, v, 1);
}

// ---------------------------------------------------------------- preview

Status readDwgPreview(std::string_view file, std::uint64_t address, DwgPreview& out) {
  const auto bad = [&](const std::string& what) {
    return Status::fail(StatusCode::BadFile, "preview at " + hexOf(address) + ": " + what);
  };
  if (address > file.size() || file.size() - address < 16 + 4) return bad("reaches past the end of the file");
  if (file.substr(address, 16) != viewOf(kDwgPreviewBegin)) return bad("no begin sentinel");
  const std::uint64_t size = littleEndianAt(file, address + 16, 4);
  const std::uint64_t body = address + 20;
  if (size < 1 || size > file.size() - body || file.size() - body - size < 16)
    return bad("size " + std::to_string(size) + " reaches past the end of the file");
  const std::uint64_t end = body + size;
  if (file.substr(end, 16) != viewOf(endSentinelOf(kDwgPreviewBegin))) return bad("no end sentinel");
  const std::size_t count = static_cast<std::uint8_t>(file[body]);
  if (1 + 9 * count > size) return bad(std::to_string(count) + " entries do not fit in " + std::to_string(size) + " bytes");
  DwgPreview p;
  RawCursor c(file, body + 1);
  for (std::size_t i = 0; i < count; ++i) {
    DwgPreviewEntry e;
    e.type = c.rc();
    const std::uint64_t at = c.rl();
    const std::uint64_t bytes = c.rl();
    if (at < body || at > end || bytes > end - at)
      return bad("entry " + std::to_string(i + 1) + " at " + hexOf(at) + ", " + std::to_string(bytes) +
                 " bytes, lies outside the preview");
    e.data = std::string(file.substr(at, bytes));
    p.entries.push_back(std::move(e));
  }
  out = std::move(p);
  return {};
}

Status writeDwgPreview(const DwgPreview& preview, std::string& out) { return writeDwgPreview(preview, out.size(), out); }

Status writeDwgPreview(const DwgPreview& preview, std::uint64_t start, std::string& out) {
  if (preview.entries.size() > 255) return Status::fail(StatusCode::OutOfRange, "a preview holds at most 255 entries");
  std::uint64_t size = 1 + 9 * preview.entries.size();
  for (const DwgPreviewEntry& e : preview.entries) size += e.data.size();
  if (start + 20 + size > std::numeric_limits<std::uint32_t>::max())
    return Status::fail(StatusCode::OutOfRange, "preview lies beyond the 4 GB a file addresses");
  out.append(viewOf(kDwgPreviewBegin));
  appendLittleEndian(out, size, 4);
  appendLittleEndian(out, preview.entries.size(), 1);
  std::uint64_t at = start + 20 + 1 + 9 * preview.entries.size();
  for (const DwgPreviewEntry& e : preview.entries) {
    appendLittleEndian(out, e.type, 1);
    appendLittleEndian(out, at, 4);
    appendLittleEndian(out, e.data.size(), 4);
    at += e.data.size();
  }
  for (const DwgPreviewEntry& e : preview.entries) out.append(e.data);
  out.append(viewOf(endSentinelOf(kDwgPreviewBegin)));
  return {};
}

DwgPreview dwgMinimalPreview() {
  constexpr std::uint32_t kSide = 32;  // pixels; rows of 32 bytes need no padding
  std::string dib;
  appendLittleEndian(dib, 40, 4);     // size of the info header
  appendLittleEndian(dib, kSide, 4);  // width
  appendLittleEndian(dib, kSide, 4);  // height
  appendLittleEndian(dib, 1, 2);      // planes
  appendLittleEndian(dib, 8, 2);      // bits per pixel
  appendLittleEndian(dib, 0, 4);      // no compression
  appendLittleEndian(dib, kSide * kSide, 4);
  appendLittleEndian(dib, 0, 4);
  appendLittleEndian(dib, 0, 4);
  appendLittleEndian(dib, 256, 4);    // colours used
  appendLittleEndian(dib, 0, 4);
  for (int i = 0; i < 256; ++i) appendLittleEndian(dib, i == 0 ? 0x00FFFFFFu : 0u, 4);  // colour 0 white
  dib.append(kSide * kSide, '\0');
  DwgPreview p;
  p.entries.push_back({1, std::string(80, '\0')});
  p.entries.push_back({2, std::move(dib)});
  return p;
}

// ----------------------------------------------------------- ObjFreeSpace

Status readDwgObjFreeSpace(std::string_view file, const DwgSectionLocator& where, DwgObjFreeSpace& out) {
  if (Status s = blockInside(file, where, 21, "ObjFreeSpace"); !s.ok()) return s;
  RawCursor c(file, where.address);
  DwgObjFreeSpace f;
  f.zero = c.rl();
  f.handles = c.rl();
  f.updated = {static_cast<std::int32_t>(c.rl()), static_cast<std::int32_t>(c.rl())};
  f.firstObject = c.rl();
  const std::size_t count = c.rc();
  if (21 + 8 * count > where.size)
    return Status::fail(StatusCode::BadFile, "ObjFreeSpace at " + hexOf(where.address) + ": " + std::to_string(count) +
                                                 " values do not fit in " + std::to_string(where.size) + " bytes");
  f.values.clear();
  for (std::size_t i = 0; i < count; ++i) f.values.push_back(c.take(8));
  out = std::move(f);
  return {};
}

Status writeDwgObjFreeSpace(const DwgObjFreeSpace& f, std::string& out) {
  if (f.values.size() > 255) return Status::fail(StatusCode::OutOfRange, "ObjFreeSpace holds at most 255 values");
  appendLittleEndian(out, f.zero, 4);
  appendLittleEndian(out, f.handles, 4);
  appendLittleEndian(out, static_cast<std::uint32_t>(f.updated.day), 4);
  appendLittleEndian(out, static_cast<std::uint32_t>(f.updated.milliseconds), 4);
  appendLittleEndian(out, f.firstObject, 4);
  appendLittleEndian(out, f.values.size(), 1);
  for (std::uint64_t v : f.values) appendLittleEndian(out, v, 8);
  return {};
}

// --------------------------------------------------------------- template

Status readDwgTemplate(std::string_view file, const DwgSectionLocator& where, DwgTemplate& out) {
  if (Status s = blockInside(file, where, 4, "template"); !s.ok()) return s;
  RawCursor c(file, where.address);
  const std::size_t length = c.rs();
  if (2 + length + 2 > where.size)
    return Status::fail(StatusCode::BadFile, "template at " + hexOf(where.address) + ": a description of " +
                                                 std::to_string(length) + " bytes does not fit in " +
                                                 std::to_string(where.size) + " bytes");
  DwgTemplate t;
  t.description = std::string(file.substr(c.at(), length));
  RawCursor m(file, c.at() + length);
  t.measurement = m.rs();
  out = std::move(t);
  return {};
}

Status writeDwgTemplate(const DwgTemplate& t, std::string& out) {
  if (t.description.size() > 0xFFFF) return Status::fail(StatusCode::OutOfRange, "template description is too long");
  appendLittleEndian(out, t.description.size(), 2);
  out.append(t.description);
  appendLittleEndian(out, t.measurement, 2);
  return {};
}

// ----------------------------------------------------- second file header

std::vector<DwgSecondHeaderHandle> dwgSecondHeaderHandles(const DwgHeaderHandles& h) {
  const Handle values[] = {h.handseed,       h.blockControl, h.layerControl, h.styleControl, h.linetypeControl,
                           h.viewControl,    h.ucsControl,   h.vportControl, h.appidControl, h.dimstyleControl,
                           h.vxControl,      h.namedObjects, h.mlineStyleDictionary, h.groupDictionary};
  std::vector<DwgSecondHeaderHandle> out;
  for (std::size_t i = 0; i < std::size(values); ++i) out.push_back({static_cast<std::uint8_t>(i), values[i]});
  return out;
}

std::size_t findDwgSecondHeader(std::string_view file) { return file.rfind(viewOf(kDwgSecondHeaderBegin)); }

Status readDwgSecondHeader(std::string_view file, std::uint64_t address, DwgSecondHeader& out) {
  const auto bad = [&](const std::string& what) {
    return Status::fail(StatusCode::BadFile, "second header at " + hexOf(address) + ": " + what);
  };
  if (address > file.size() || file.size() - address < 16 + 4) return bad("reaches past the end of the file");
  if (file.substr(address, 16) != viewOf(kDwgSecondHeaderBegin)) return bad("no begin sentinel");
  const std::uint64_t size = littleEndianAt(file, address + 16, 4);
  if (size < 4 + 2 || size > file.size() - address - 16 || file.size() - address - 16 - size < 16)
    return bad("size " + std::to_string(size) + " reaches past the end of the file");
  const std::uint64_t end = address + 16 + size;  // the end sentinel
  if (file.substr(end, 16) != viewOf(endSentinelOf(kDwgSecondHeaderBegin))) return bad("no end sentinel");
  const std::string_view region = file.substr(address + 16, size);  // RL size .. before the end sentinel
  DwgBitReader in(region.substr(4));
  DwgSecondHeader s;
  const std::int32_t own = in.readBitLong();
  const std::string version = in.readRawBytes(11);
  const std::optional<Release> release = releaseFromVersion(version.substr(0, std::min<std::size_t>(6, version.size())));
  if (in.failed()) return bad(in.failure());
  if (static_cast<std::uint32_t>(own) != address) return bad("it names its address as " + hexOf(static_cast<std::uint32_t>(own)));
  if (!release || !isSectionRelease(*release)) return bad("no version string of R13 to 2000");
  s.release = *release;
  s.formatMaintenance = in.readRawChar();
  s.one = in.readRawChar();
  s.appCode = static_cast<std::uint16_t>(in.readBitShort());
  s.codepage = in.readRawShort();
  const std::int16_t locators = in.readBitShort();
  if (locators < 0) return bad("negative locator count");
  for (std::int16_t i = 0; i < locators && !in.failed(); ++i) {
    DwgSectionLocator l;
    l.number = in.readRawChar();
    l.address = static_cast<std::uint32_t>(in.readBitLong());
    l.size = static_cast<std::uint32_t>(in.readBitLong());
    s.locators.push_back(l);
  }
  const std::int16_t records = in.readBitShort();
  if (records < 0) return bad("negative handle count");
  for (std::int16_t i = 0; i < records && !in.failed(); ++i) {
    const std::uint8_t bytes = in.readRawChar();
    DwgSecondHeaderHandle h;
    h.index = in.readRawChar();
    if (bytes > 8) return bad("a handle of " + std::to_string(bytes) + " bytes");
    for (std::uint8_t b = 0; b < bytes; ++b) h.value = h.value << 8 | in.readRawChar();
    s.handles.push_back(h);
  }
  in.alignToByte();
  if (in.failed()) return bad(in.failure());
  const std::size_t crcAt = 4 + in.bitPosition() / 8;  // within `region`
  const std::size_t trailing = s.release >= R::R14 ? 8 : 0;
  if (crcAt + 2 + trailing > region.size()) return bad("no room for the CRC");
  const auto stored = static_cast<std::uint16_t>(littleEndianAt(region, crcAt, 2));
  const std::uint16_t crc = dwgCrc16(region.substr(0, crcAt));
  if (stored != crc) return bad("CRC " + hexOf(stored) + " where the data give " + hexOf(crc));
  if (trailing != 0)
    for (std::size_t i = 0; i < 8; ++i) s.trailing[i] = static_cast<std::uint8_t>(region[crcAt + 2 + i]);
  out = std::move(s);
  return {};
}

Status writeDwgSecondHeader(const DwgSecondHeader& s, std::string& out) {
  if (!isSectionRelease(s.release)) return Status::fail(StatusCode::NotSupported, "second header of this release");
  const std::uint64_t start = out.size();
  if (start > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
    return Status::fail(StatusCode::OutOfRange, "second header lies beyond the addresses a file holds");
  if (s.locators.size() > 0x7FFF || s.handles.size() > 0x7FFF)
    return Status::fail(StatusCode::OutOfRange, "second header: too many records");
  DwgBitWriter w;
  w.writeBitLong(static_cast<std::int32_t>(start));
  std::string version(releaseInfo(s.release).version);
  version.resize(11, '\0');
  w.writeRawBytes(version);
  w.writeRawChar(s.formatMaintenance);
  w.writeRawChar(s.one);
  w.writeBitShort(static_cast<std::int16_t>(s.appCode));
  w.writeRawShort(s.codepage);
  w.writeBitShort(static_cast<std::int16_t>(s.locators.size()));
  for (const DwgSectionLocator& l : s.locators) {
    w.writeRawChar(l.number);
    w.writeBitLong(static_cast<std::int32_t>(l.address));
    w.writeBitLong(static_cast<std::int32_t>(l.size));
  }
  w.writeBitShort(static_cast<std::int16_t>(s.handles.size()));
  for (const DwgSecondHeaderHandle& h : s.handles) {
    std::uint8_t bytes = 0;
    for (Handle v = h.value; v != 0; v >>= 8) ++bytes;
    w.writeRawChar(bytes);
    w.writeRawChar(h.index);
    for (int b = bytes - 1; b >= 0; --b) w.writeRawChar(static_cast<std::uint8_t>(h.value >> (8 * b)));
  }
  w.alignToByte();
  if (w.failed()) return Status::fail(StatusCode::OutOfRange, "second header: " + w.failure());
  const std::size_t trailing = s.release >= R::R14 ? 8 : 0;
  std::string region;
  appendLittleEndian(region, 4 + w.bytes().size() + 2 + trailing, 4);
  region += w.bytes();
  appendLittleEndian(region, dwgCrc16(region), 2);
  if (trailing != 0)
    for (std::uint8_t b : s.trailing) region.push_back(static_cast<char>(b));
  out.append(viewOf(kDwgSecondHeaderBegin));
  out += region;
  out.append(viewOf(endSentinelOf(kDwgSecondHeaderBegin)));
  return {};
}

}  // namespace drawingdb

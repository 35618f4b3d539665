// The type-specific data of every entity kind in DWG files of R13, R14 and
// 2000, read into and written from the database's kinds.  Files store
// angles in radians where the database (as DXF) holds degrees; points of
// planar kinds as X/Y with one elevation; and links to records, blocks and
// other entities as handles.  Kinds whose data is a plain list of fields
// are walked through their declarations (schema.cpp, Field::dwg); the rest
// are written out here.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <type_traits>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/schema.h"

namespace drawingdb {

namespace {

using namespace dwg_type;

constexpr double kDegrees = 180 / std::numbers::pi;
double degreesOf(double radians) { return radians * kDegrees; }
double radiansOf(double degrees) { return degrees / kDegrees; }

Point3 pointOf(const DwgPoint3& p) { return {p.x, p.y, p.z}; }
Point3 pointOf(const DwgPoint2& p, double z = 0) { return {p.x, p.y, z}; }
DwgPoint3 dwgPoint(const Point3& p) { return {p.x, p.y, p.z}; }
DwgPoint2 dwgPoint2(const Point3& p) { return {p.x, p.y}; }

std::int16_t shortOf(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, INT16_MIN, INT16_MAX));
}

// A count read from the data: it must be non-negative and fit in the bits
// left when each element takes at least `bitsEach`.  0 (and the reader
// failed by an impossible seek) when not.
std::size_t countOf(DwgBitReader& d, std::int64_t count, std::size_t bitsEach, DwgObjectIn& in, const char* what) {
  if (d.failed()) return 0;
  if (count < 0 || static_cast<std::uint64_t>(count) > d.bitsLeft() / bitsEach) {
    if (in.badReference.empty())
      in.badReference = std::string(what) + " count " + std::to_string(count) + " beyond the object at bit " +
                        std::to_string(d.bitPosition());
    return 0;
  }
  return static_cast<std::size_t>(count);
}

// The vertices or attributes an entity leads: R13 to 2000 link the first
// and the last, 2004 on list all `owned` of them.
void readFollowers(DwgObjectIn& in, Release r, std::int64_t owned, const char* what) {
  if (r < Release::R2004) {
    in.firstFollower = in.readHandle();
    in.lastFollower = in.readHandle();
    return;
  }
  const std::size_t n = countOf(in.handles, owned, 8, in, what);
  in.followers.reserve(n);
  for (std::size_t k = 0; k < n && !in.handles.failed(); ++k) in.followers.push_back(in.readHandle());
  if (!in.followers.empty()) {
    in.firstFollower = in.followers.front();
    in.lastFollower = in.followers.back();
  }
}

// Their handles; the count of 2004 is written by the caller with the data.
void writeFollowers(DwgObjectOut& out, Release r, const DwgEntityLinks& links, std::uint8_t code) {
  if (r < Release::R2004) {
    out.handle(4, links.firstFollower);
    out.handle(4, links.lastFollower);
    return;
  }
  for (const Handle h : links.followers) out.handle(code, h);
}

// ------------------------------------------------- declared field lists

// The DWG form of a field in a release, None when the release stores none.
template <class Obj>
Bits formOf(const Field<Obj>& f, Release r) {
  for (const DwgForm& form : f.dwg)
    if (form.bits != Bits::None && form.in.has(r)) return form.bits;
  return Bits::None;
}

template <class Obj>
void readDeclared(DwgBitReader& d, Release r, Obj& obj) {
  for (const Field<Obj>& f : fieldsOf<Obj>()) {
    const Bits bits = formOf(f, r);
    if (bits == Bits::None) continue;
    if (const auto* m = std::get_if<double Obj::*>(&f.member)) {
      obj.*(*m) = bits == Bits::BT ? d.readThickness(r) : bits == Bits::RD ? d.readRawDouble() : d.readBitDouble();
    } else if (const auto* p = std::get_if<Point3 Obj::*>(&f.member)) {
      obj.*(*p) = pointOf(bits == Bits::BE ? d.readExtrusion(r) : d.readBitPoint3());
    } else if (const auto* i = std::get_if<std::int32_t Obj::*>(&f.member)) {
      obj.*(*i) = bits == Bits::BL ? d.readBitLong() : bits == Bits::RC ? d.readRawChar() : d.readBitShort();
    }
  }
}

template <class Obj>
void writeDeclared(DwgBitWriter& w, Release r, const Obj& obj) {
  for (const Field<Obj>& f : fieldsOf<Obj>()) {
    const Bits bits = formOf(f, r);
    if (bits == Bits::None) continue;
    if (const auto* m = std::get_if<double Obj::*>(&f.member)) {
      if (bits == Bits::BT) w.writeThickness(obj.*(*m), r);
      else if (bits == Bits::RD) w.writeRawDouble(obj.*(*m));
      else w.writeBitDouble(obj.*(*m));
    } else if (const auto* p = std::get_if<Point3 Obj::*>(&f.member)) {
      if (bits == Bits::BE) w.writeExtrusion(dwgPoint(obj.*(*p)), r);
      else w.writeBitPoint3(dwgPoint(obj.*(*p)));
    } else if (const auto* i = std::get_if<std::int32_t Obj::*>(&f.member)) {
      if (bits == Bits::BL) w.writeBitLong(obj.*(*i));
      else if (bits == Bits::RC) w.writeRawChar(static_cast<std::uint8_t>(obj.*(*i)));
      else w.writeBitShort(shortOf(obj.*(*i)));
    }
  }
}

// ------------------------------------------------------- common <-> head

constexpr std::int32_t kPlotStyleCode = 390;
// The groups of an entity's true colour, colour name and transparency (2004 on).
constexpr std::int32_t kTrueColourCode = 420, kColourNameCode = 430, kTransparencyCode = 440;

RawTag integerTag(std::int32_t code, std::int64_t value) {
  RawTag t{code, TagType::Int32, 0, value, std::to_string(value)};
  return t;
}

void commonFromHead(DwgObjectIn& in, DwgReadContext& c, EntityCommon& out) {
  const DwgObjectHead& h = in.head;
  out.handle = h.handle;
  out.owner = h.e.mode == 0 ? h.owner : 0;
  out.paperSpace = h.e.mode == 1;
  out.layer = c.layerName(h.e.layer);
  if (out.layer.empty()) {
    c.warn("entity " + formatHandle(h.handle) + " on an unknown layer: layer 0");
    out.layer = Name::layerZero();
  }
  switch (h.e.linetypeFlags) {
    case 0: out.linetype = Name::byLayer(); break;
    case 1: out.linetype = "BYBLOCK"; break;
    case 2: out.linetype = "Continuous"; break;
    default:
      out.linetype = c.linetypeName(h.e.linetype);
      if (out.linetype.empty()) {
        c.warn("entity " + formatHandle(h.handle) + " with an unknown linetype: BYLAYER");
        out.linetype = Name::byLayer();
      }
      break;
  }
  out.colour = h.e.colour;
  out.linetypeScale = h.e.linetypeScale;
  out.invisible = (h.e.invisibility & 1) != 0;
  out.lineweight = c.release() >= Release::R2000 ? lineweightOfDwgIndex(h.e.lineweight) : -1;
  out.xdictionary = h.xdictionary;
  if (!h.reactors.empty()) out.extras().reactors = h.reactors;
  if (!h.xdata.empty()) out.extras().xdata = h.xdata;
  if (h.e.plotStyleFlags == 3)
    out.extras().extra.push_back(
        RawTag{kPlotStyleCode, TagType::Handle, 0, static_cast<std::int64_t>(h.e.plotStyle), formatHandle(h.e.plotStyle)});
  if ((h.e.rgb >> 24) == (kDwgColourRgb >> 24))
    out.extras().extra.push_back(integerTag(kTrueColourCode, h.e.rgb & 0xFFFFFF));
  if (!h.e.colourName.empty()) {
    std::string scratch;
    std::string name(c.codePage().decode(h.e.colourName, scratch));
    if (!h.e.bookName.empty()) name = std::string(c.codePage().decode(h.e.bookName, scratch)) + "$" + name;
    out.extras().extra.push_back(RawTag{kColourNameCode, TagType::String, 0, 0, std::move(name)});
  }
  if (h.e.transparency != 0)
    out.extras().extra.push_back(integerTag(kTransparencyCode, static_cast<std::int32_t>(h.e.transparency)));
}

DwgObjectHead headOf(const EntityCommon& c, std::int16_t type, Handle handle, const DwgEntityLinks& links,
                     DwgWriteContext& context) {
  DwgObjectHead h;
  h.type = type;
  h.handle = handle;
  h.entity = true;
  h.xdata = c.xdata();
  h.owner = links.mode == 0 ? links.owner : 0;
  h.reactors = c.reactors();
  h.xdictionary = c.xdictionary;
  DwgEntityHead& e = h.e;
  e.mode = links.mode;
  e.previous = links.previous;
  e.next = links.next;
  e.colour = shortOf(c.colour);
  e.linetypeScale = c.linetypeScale;
  e.invisibility = c.invisible ? 1 : 0;
  e.lineweight = dwgLineweightIndex(c.lineweight);
  e.layer = context.layerHandle(c.layer.empty() ? std::string_view("0") : std::string_view(c.layer));
  if (e.layer == 0) context.warn("layer " + c.layer.str() + " has no record");
  if (c.linetype.empty() || sameName(c.linetype, "BYLAYER")) {
    e.linetypeFlags = 0;
  } else {
    e.linetype = context.linetypeHandle(c.linetype);
    if (sameName(c.linetype, "BYBLOCK")) e.linetypeFlags = 1;
    else if (e.linetype == 0 && sameName(c.linetype, "Continuous")) e.linetypeFlags = 2;
    else e.linetypeFlags = 3;
    if (e.linetype == 0 && (e.linetypeFlags == 3 || context.release() < Release::R2000)) {
      context.warn("linetype " + c.linetype.str() + " has no record: BYLAYER");
      e.linetypeFlags = 0;
    }
  }
  for (const RawTag& t : c.extra()) {
    if (t.code == kPlotStyleCode && t.integer != 0) {
      e.plotStyleFlags = 3;
      e.plotStyle = static_cast<Handle>(t.integer);
    }
    // A true colour (the index stays for older readers); its name needs
    // the colour object it names, which is not kept.
    if (t.code == kTrueColourCode && context.release() >= Release::R2004)
      e.rgb = kDwgColourRgb | (static_cast<std::uint32_t>(t.integer) & 0xFFFFFF);
    if (t.code == kTransparencyCode && context.release() >= Release::R2004)
      e.transparency = static_cast<std::uint32_t>(t.integer);
  }
  return h;
}

// ---------------------------------------------------------------- texts

// What TEXT, ATTRIB and ATTDEF share, in the order files store it.
struct TextFields {
  Point3 insertion;
  Point3 alignment;
  double height = 0, rotation = 0, widthFactor = 1, oblique = 0, thickness = 0;
  Point3 extrusion = kNormalZ;
  std::string value;
  std::int32_t generation = 0, horizontal = 0, vertical = 0;
};

void readTextFields(DwgObjectIn& in, DwgReadContext& c, TextFields& t) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  if (r < Release::R2000) {
    const double elevation = d.readBitDouble();
    t.insertion = pointOf(d.readRawPoint2(), elevation);
    t.alignment = pointOf(d.readRawPoint2(), elevation);
    t.extrusion = pointOf(d.readBitPoint3());
    t.thickness = d.readBitDouble();
    t.oblique = degreesOf(d.readBitDouble());
    t.rotation = degreesOf(d.readBitDouble());
    t.height = d.readBitDouble();
    t.widthFactor = d.readBitDouble();
    t.value = readDwgText(d, c.codePage());
    t.generation = d.readBitShort();
    t.horizontal = d.readBitShort();
    t.vertical = d.readBitShort();
    // As in DXF, a text not justified has no alignment point.
    if (t.horizontal == 0 && t.vertical == 0) t.alignment = {};
    return;
  }
  const std::uint8_t flags = d.readRawChar();
  const double elevation = (flags & 0x01) != 0 ? 0 : d.readRawDouble();
  const DwgPoint2 insertion = d.readRawPoint2();
  t.insertion = pointOf(insertion, elevation);
  // Left out: the text is not justified and, as in DXF, has none.
  if ((flags & 0x02) == 0) t.alignment = pointOf(d.readPoint2WithDefault(insertion), elevation);
  t.extrusion = pointOf(d.readExtrusion(r));
  t.thickness = d.readThickness(r);
  if ((flags & 0x04) == 0) t.oblique = degreesOf(d.readRawDouble());
  if ((flags & 0x08) == 0) t.rotation = degreesOf(d.readRawDouble());
  t.height = d.readRawDouble();
  if ((flags & 0x10) == 0) t.widthFactor = d.readRawDouble();
  t.value = readDwgText(d, c.codePage());
  if ((flags & 0x20) == 0) t.generation = d.readBitShort();
  if ((flags & 0x40) == 0) t.horizontal = d.readBitShort();
  if ((flags & 0x80) == 0) t.vertical = d.readBitShort();
  if (t.horizontal == 0 && t.vertical == 0) t.alignment = {};
}

void writeTextFields(DwgObjectOut& out, DwgWriteContext& c, const TextFields& t) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  const double elevation = t.insertion.z;
  if (r < Release::R2000) {
    w.writeBitDouble(elevation);
    w.writeRawPoint2(dwgPoint2(t.insertion));
    w.writeRawPoint2(dwgPoint2(t.alignment));
    w.writeBitPoint3(dwgPoint(t.extrusion));
    w.writeBitDouble(t.thickness);
    w.writeBitDouble(radiansOf(t.oblique));
    w.writeBitDouble(radiansOf(t.rotation));
    w.writeBitDouble(t.height);
    w.writeBitDouble(t.widthFactor);
    writeDwgText(w, t.value, c.codePage());
    w.writeBitShort(shortOf(t.generation));
    w.writeBitShort(shortOf(t.horizontal));
    w.writeBitShort(shortOf(t.vertical));
    return;
  }
  // A bit set leaves out a field that holds its default; the alignment
  // point is left out only for a text aligned at its insertion point.
  const bool justified = t.horizontal != 0 || t.vertical != 0;
  std::uint8_t flags = 0;
  if (elevation == 0) flags |= 0x01;
  if (!justified) flags |= 0x02;
  if (t.oblique == 0) flags |= 0x04;
  if (t.rotation == 0) flags |= 0x08;
  if (t.widthFactor == 1) flags |= 0x10;
  if (t.generation == 0) flags |= 0x20;
  if (t.horizontal == 0) flags |= 0x40;
  if (t.vertical == 0) flags |= 0x80;
  w.writeRawChar(flags);
  if ((flags & 0x01) == 0) w.writeRawDouble(elevation);
  w.writeRawPoint2(dwgPoint2(t.insertion));
  if ((flags & 0x02) == 0) w.writePoint2WithDefault(dwgPoint2(t.alignment), dwgPoint2(t.insertion));
  w.writeExtrusion(dwgPoint(t.extrusion), r);
  w.writeThickness(t.thickness, r);
  if ((flags & 0x04) == 0) w.writeRawDouble(radiansOf(t.oblique));
  if ((flags & 0x08) == 0) w.writeRawDouble(radiansOf(t.rotation));
  w.writeRawDouble(t.height);
  if ((flags & 0x10) == 0) w.writeRawDouble(t.widthFactor);
  writeDwgText(w, t.value, c.codePage());
  if ((flags & 0x20) == 0) w.writeBitShort(shortOf(t.generation));
  if ((flags & 0x40) == 0) w.writeBitShort(shortOf(t.horizontal));
  if ((flags & 0x80) == 0) w.writeBitShort(shortOf(t.vertical));
}

template <class T>
TextFields textFieldsOf(const T& a, const std::string& value) {
  return TextFields{a.insertion, a.alignment, a.height,     a.rotation, a.widthFactor, a.oblique, a.thickness,
                    a.extrusion, value,       a.generation, a.horizontal, a.vertical};
}
template <class T>
void takeTextFields(T& a, TextFields&& t, std::string& value) {
  a.insertion = t.insertion;
  a.alignment = t.alignment;
  a.height = t.height;
  a.rotation = t.rotation;
  a.widthFactor = t.widthFactor;
  a.oblique = t.oblique;
  a.thickness = t.thickness;
  a.extrusion = t.extrusion;
  a.generation = t.generation;
  a.horizontal = t.horizontal;
  a.vertical = t.vertical;
  value = std::move(t.value);
}

Name styleOf(DwgObjectIn& in, DwgReadContext& c) {
  Name n = c.styleName(in.readHandle());
  return n.empty() ? Name::standard() : n;
}

// 2018 on an MTEXT (and the MTEXT a multi-line attribute embeds) ends
// with its annotation data: B not annotative; when set BS version, B
// default flag, the registered application (handle stream), BL
// attachment, 3BD x axis, 3BD insertion, BD rectangle width and height,
// BD extents width and height (copies of the fields before), then BS
// column type (0 none, 1 static, 2 dynamic) and with columns BL column
// count, BD width, BD gutter, B auto height, B flow reversed and, for
// dynamic columns without auto height, a BD height per column.  The
// copies and the columns are not kept: the fields before say it all.
void skipMTextAnnotation(DwgObjectIn& in) {
  DwgBitReader& d = in.data;
  if (d.readBit() == 0) return;
  d.readBitShort();
  d.readBit();
  in.readHandle();
  d.readBitLong();
  d.readBitPoint3();
  d.readBitPoint3();
  for (int i = 0; i < 4; ++i) d.readBitDouble();
  const std::int16_t columns = d.readBitShort();
  if (columns == 0 || d.failed()) return;
  const std::int32_t count = d.readBitLong();
  d.readBitDouble();
  d.readBitDouble();
  const bool autoHeight = d.readBit() != 0;
  d.readBit();
  if (autoHeight || columns != 2) return;
  const std::size_t heights = countOf(d, count, 2, in, "MTEXT column height");
  for (std::size_t i = 0; i < heights && !d.failed(); ++i) d.readBitDouble();
}

// The data of an MTEXT up to its style handle: what an MTEXT entity holds
// and what a multi-line attribute of 2018 embeds.
void readMTextData(DwgObjectIn& in, DwgReadContext& c, MText& m) {
  DwgBitReader& d = in.data;
  m.insertion = pointOf(d.readBitPoint3());
  m.extrusion = pointOf(d.readBitPoint3());
  m.xAxis = pointOf(d.readBitPoint3());
  m.referenceWidth = d.readBitDouble();
  if (c.release() >= Release::R2007) d.readBitDouble();  // the frame's height
  m.height = d.readBitDouble();
  m.attachment = d.readBitShort();
  m.direction = d.readBitShort();
  d.readBitDouble();  // extents height and width: computed by whoever draws it
  d.readBitDouble();
  m.value = readDwgText(d, c.codePage());
  if (c.release() >= Release::R2000) {
    m.lineSpacingStyle = d.readBitShort();
    m.lineSpacing = d.readBitDouble();
    d.readBit();
  }
  // 2004 on: the background fill (flags; with bit 0 or 0x10 its scale,
  // colour and transparency), not kept.
  if (c.release() >= Release::R2004 && (d.readBitLong() & 0x11) != 0) {
    d.readBitLong();
    readDwgColour2004(d);
    d.readBitLong();
  }
}

// 2018: the attribute types of the type byte.
constexpr std::uint8_t kAttributeSingleLine = 1;

// A multi-line attribute of 2018 embeds an MTEXT (its data and annotation
// data as an MTEXT entity holds them, no style of its own), then BS size
// of its annotative data and, when not 0, that many bytes, the registered
// application (handle stream) and a BS.  The MTEXT's text is the value;
// its lines become lines of the attribute.
void readEmbeddedMText(DwgObjectIn& in, DwgReadContext& c, AttributeText& a, std::string& value) {
  DwgBitReader& d = in.data;
  MText m;
  readMTextData(in, c, m);
  skipMTextAnnotation(in);
  const std::size_t annotative = countOf(d, static_cast<std::uint16_t>(d.readBitShort()), 8, in,
                                         "attribute annotative data byte");
  if (annotative > 0) {
    d.readRawBytes(annotative);
    in.readHandle();
    d.readBitShort();
  }
  if (d.failed()) return;
  a.multiline = true;
  a.lineSpacing = m.lineSpacing;
  if (!m.value.empty()) value = std::move(m.value);
}

// From 2010 on a version byte follows the text fields (and precedes the
// prompt of a definition); from 2007 on a lock-position bit the flags.
// 2018 adds a type byte: 1 a single line, 2 (attribute) and 4
// (definition) multi-line with an embedded MTEXT.
void readAttribute(DwgObjectIn& in, DwgReadContext& c, AttributeText& a, std::string& value, std::string* prompt) {
  TextFields t;
  readTextFields(in, c, t);
  takeTextFields(a, std::move(t), value);
  const Release r = c.release();
  if (r >= Release::R2010) in.data.readRawChar();
  if (r >= Release::R2018 && in.data.readRawChar() != kAttributeSingleLine) readEmbeddedMText(in, c, a, value);
  a.tag = readDwgText(in.data, c.codePage());
  a.fieldLength = in.data.readBitShort();
  a.flags = in.data.readRawChar();
  if (r >= Release::R2007) in.data.readBit();  // lock position
  if (prompt != nullptr) {
    if (r >= Release::R2010) in.data.readRawChar();
    *prompt = readDwgText(in.data, c.codePage());
  }
  a.style = styleOf(in, c);
}

void writeAttribute(DwgObjectOut& out, DwgWriteContext& c, const AttributeText& a, const std::string& value,
                    const std::string* prompt) {
  writeTextFields(out, c, textFieldsOf(a, value));
  writeDwgText(out.data(), a.tag, c.codePage());
  out.data().writeBitShort(shortOf(a.fieldLength));
  out.data().writeRawChar(static_cast<std::uint8_t>(a.flags));
  if (prompt != nullptr) writeDwgText(out.data(), *prompt, c.codePage());
  out.handle(5, c.styleHandle(a.style));
}

// ------------------------------------------------------------ dimensions

struct DimensionType {
  std::int16_t type;
  DimensionKind kind;
};
constexpr DimensionType kDimensionTypes[] = {
    {kDimensionOrdinate, DimensionKind::Ordinate},        {kDimensionLinear, DimensionKind::Linear},
    {kDimensionAligned, DimensionKind::Aligned},          {kDimensionAngular3Point, DimensionKind::Angular3Point},
    {kDimensionAngular2Line, DimensionKind::Angular},     {kDimensionRadius, DimensionKind::Radius},
    {kDimensionDiameter, DimensionKind::Diameter},
};

std::int16_t dimensionType(const Dimension& d) {
  for (const DimensionType& t : kDimensionTypes)
    if (t.kind == dimensionKind(d)) return t.type;
  return kDimensionLinear;
}

// The flags byte: bit 0 text at its default place (DXF 128 clear), bit 1
// the dimension's own block (DXF 32); bit 3 is set by every writer seen.
constexpr std::int32_t kDimensionOwnBlock = 32, kDimensionOrdinateX = 64, kDimensionTextMoved = 128;

void readDimension(DwgObjectIn& in, DwgReadContext& c, Dimension& dim) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  if (r >= Release::R2010) d.readRawChar();  // class version
  dim.extrusion = pointOf(d.readBitPoint3());
  const DwgPoint2 textMid = d.readRawPoint2();
  const double elevation = d.readBitDouble();
  dim.textMid = pointOf(textMid, elevation);
  const std::uint8_t flags = d.readRawChar();
  dim.text = readDwgText(d, c.codePage());
  dim.textRotation = degreesOf(d.readBitDouble());
  dim.horizontalDirection = degreesOf(d.readBitDouble());
  d.readBitPoint3();  // the block's insertion scale: (1, 1, 1)
  d.readBitDouble();  // and rotation
  if (r >= Release::R2000) {
    dim.attachment = d.readBitShort();
    dim.lineSpacingStyle = d.readBitShort();
    dim.lineSpacing = d.readBitDouble();
    dim.measurement = d.readBitDouble();
  }
  dim.cloneInsertion = pointOf(d.readRawPoint2(), elevation);
  std::int32_t kind = 0;
  for (const DimensionType& t : kDimensionTypes)
    if (t.type == in.head.type) kind = static_cast<std::int32_t>(t.kind);
  dim.flags = kind | ((flags & 2) != 0 ? kDimensionOwnBlock : 0) | ((flags & 1) == 0 ? kDimensionTextMoved : 0);
  switch (in.head.type) {
    case kDimensionOrdinate:
      dim.definition = pointOf(d.readBitPoint3());
      dim.defPoint2 = pointOf(d.readBitPoint3());
      dim.defPoint3 = pointOf(d.readBitPoint3());
      if ((d.readRawChar() & 1) != 0) dim.flags |= kDimensionOrdinateX;
      break;
    case kDimensionLinear:
    case kDimensionAligned:
      dim.defPoint2 = pointOf(d.readBitPoint3());
      dim.defPoint3 = pointOf(d.readBitPoint3());
      dim.definition = pointOf(d.readBitPoint3());
      dim.oblique = degreesOf(d.readBitDouble());
      if (in.head.type == kDimensionLinear) dim.rotation = degreesOf(d.readBitDouble());
      break;
    case kDimensionAngular3Point:
      dim.definition = pointOf(d.readBitPoint3());
      dim.defPoint2 = pointOf(d.readBitPoint3());
      dim.defPoint3 = pointOf(d.readBitPoint3());
      dim.defPoint4 = pointOf(d.readBitPoint3());
      break;
    case kDimensionAngular2Line:
      dim.arcPoint = pointOf(d.readRawPoint2(), elevation);
      dim.defPoint2 = pointOf(d.readBitPoint3());
      dim.defPoint3 = pointOf(d.readBitPoint3());
      dim.defPoint4 = pointOf(d.readBitPoint3());
      dim.definition = pointOf(d.readBitPoint3());
      break;
    case kDimensionRadius:
      dim.definition = pointOf(d.readBitPoint3());
      dim.defPoint4 = pointOf(d.readBitPoint3());
      dim.leaderLength = d.readBitDouble();
      break;
    default:  // diameter
      dim.defPoint4 = pointOf(d.readBitPoint3());
      dim.definition = pointOf(d.readBitPoint3());
      dim.leaderLength = d.readBitDouble();
      break;
  }
  const Name style = c.dimstyleName(in.readHandle());
  dim.style = style.empty() ? std::string("Standard") : style.str();
  dim.block = c.blockName(in.readHandle()).str();
}

void writeDimension(DwgObjectOut& out, DwgWriteContext& c, const Dimension& dim) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  const double elevation = dim.textMid.z;
  w.writeBitPoint3(dwgPoint(dim.extrusion));
  w.writeRawPoint2(dwgPoint2(dim.textMid));
  w.writeBitDouble(elevation);
  std::uint8_t flags = 8;
  if ((dim.flags & kDimensionTextMoved) == 0) flags |= 1;
  if ((dim.flags & kDimensionOwnBlock) != 0) flags |= 2;
  w.writeRawChar(flags);
  writeDwgText(w, dim.text, c.codePage());
  w.writeBitDouble(radiansOf(dim.textRotation));
  w.writeBitDouble(radiansOf(dim.horizontalDirection));
  w.writeBitPoint3(DwgPoint3{1, 1, 1});
  w.writeBitDouble(0);
  if (r >= Release::R2000) {
    w.writeBitShort(shortOf(dim.attachment));
    w.writeBitShort(shortOf(dim.lineSpacingStyle));
    w.writeBitDouble(dim.lineSpacing);
    w.writeBitDouble(dim.measurement);
  }
  w.writeRawPoint2(dwgPoint2(dim.cloneInsertion));
  const auto p = [&](const Point3& v) { w.writeBitPoint3(dwgPoint(v)); };
  switch (dimensionType(dim)) {
    case kDimensionOrdinate:
      p(dim.definition), p(dim.defPoint2), p(dim.defPoint3);
      w.writeRawChar((dim.flags & kDimensionOrdinateX) != 0 ? 1 : 0);
      break;
    case kDimensionLinear:
    case kDimensionAligned:
      p(dim.defPoint2), p(dim.defPoint3), p(dim.definition);
      w.writeBitDouble(radiansOf(dim.oblique));
      if (dimensionType(dim) == kDimensionLinear) w.writeBitDouble(radiansOf(dim.rotation));
      break;
    case kDimensionAngular3Point:
      p(dim.definition), p(dim.defPoint2), p(dim.defPoint3), p(dim.defPoint4);
      break;
    case kDimensionAngular2Line:
      w.writeRawPoint2(dwgPoint2(dim.arcPoint));
      p(dim.defPoint2), p(dim.defPoint3), p(dim.defPoint4), p(dim.definition);
      break;
    case kDimensionRadius:
      p(dim.definition), p(dim.defPoint4);
      w.writeBitDouble(dim.leaderLength);
      break;
    default:
      p(dim.defPoint4), p(dim.definition);
      w.writeBitDouble(dim.leaderLength);
      break;
  }
  out.handle(5, c.dimstyleHandle(dim.style));
  const Handle block = dim.block.empty() ? 0 : c.blockHandle(dim.block);
  if (block == 0 && !dim.block.empty()) c.warn("dimension block " + dim.block + " has no record");
  out.handle(5, block);
}

// --------------------------------------------------------------- hatches

// From 2010 on a spline edge ends with its fit points (2RD each) and,
// when there are any, its start and end tangents.
void readHatchEdge(DwgBitReader& d, DwgObjectIn& in, Release r, HatchEdge& e) {
  e.type = d.readRawChar();
  switch (e.type) {
    case 1:
      e.start = pointOf(d.readRawPoint2());
      e.end = pointOf(d.readRawPoint2());
      break;
    case 2:
      e.start = pointOf(d.readRawPoint2());
      e.radius = d.readBitDouble();
      e.startAngle = degreesOf(d.readBitDouble());
      e.endAngle = degreesOf(d.readBitDouble());
      e.counterClockwise = d.readBit() != 0;
      break;
    case 3:
      e.start = pointOf(d.readRawPoint2());
      e.end = pointOf(d.readRawPoint2());
      e.radius = d.readBitDouble();
      e.startAngle = degreesOf(d.readBitDouble());
      e.endAngle = degreesOf(d.readBitDouble());
      e.counterClockwise = d.readBit() != 0;
      break;
    case 4: {
      e.degree = d.readBitLong();
      e.rational = d.readBit() != 0;
      e.periodic = d.readBit() != 0;
      const std::int32_t knots = d.readBitLong();
      const std::int32_t controls = d.readBitLong();
      const std::size_t k = countOf(d, knots, 2, in, "hatch spline knot");
      e.knots.reserve(k);
      for (std::size_t i = 0; i < k; ++i) e.knots.push_back(d.readBitDouble());
      const std::size_t n = countOf(d, controls, 128, in, "hatch spline control point");
      e.controlPoints.reserve(n);
      for (std::size_t i = 0; i < n && !d.failed(); ++i) {
        e.controlPoints.push_back(pointOf(d.readRawPoint2()));
        if (e.rational) e.weights.push_back(d.readBitDouble());
      }
      if (r < Release::R2010) break;
      const std::size_t fit = countOf(d, d.readBitLong(), 128, in, "hatch spline fit point");
      e.fitPoints.reserve(fit);
      for (std::size_t i = 0; i < fit && !d.failed(); ++i) e.fitPoints.push_back(pointOf(d.readRawPoint2()));
      if (fit > 0) {
        e.startTangent = pointOf(d.readRawPoint2());
        e.endTangent = pointOf(d.readRawPoint2());
      }
      break;
    }
    default:
      if (in.badReference.empty())
        in.badReference = "hatch edge of unknown type " + std::to_string(e.type) + " at bit " +
                          std::to_string(d.bitPosition());
      break;
  }
}

void writeHatchEdge(DwgBitWriter& w, const HatchEdge& e) {
  w.writeRawChar(static_cast<std::uint8_t>(e.type));
  switch (e.type) {
    case 1:
      w.writeRawPoint2(dwgPoint2(e.start));
      w.writeRawPoint2(dwgPoint2(e.end));
      break;
    case 2:
    case 3:
      w.writeRawPoint2(dwgPoint2(e.start));
      if (e.type == 3) w.writeRawPoint2(dwgPoint2(e.end));
      w.writeBitDouble(e.radius);
      w.writeBitDouble(radiansOf(e.startAngle));
      w.writeBitDouble(radiansOf(e.endAngle));
      w.writeBit(e.counterClockwise);
      break;
    default: {
      const bool rational = e.rational && e.weights.size() == e.controlPoints.size();
      w.writeBitLong(e.degree);
      w.writeBit(rational);
      w.writeBit(e.periodic);
      w.writeBitLong(static_cast<std::int32_t>(e.knots.size()));
      w.writeBitLong(static_cast<std::int32_t>(e.controlPoints.size()));
      for (double k : e.knots) w.writeBitDouble(k);
      for (std::size_t i = 0; i < e.controlPoints.size(); ++i) {
        w.writeRawPoint2(dwgPoint2(e.controlPoints[i]));
        if (rational) w.writeBitDouble(e.weights[i]);
      }
      break;
    }
  }
}

// 2004 on, a HATCH opens with its gradient: BL gradient flag, BL reserved,
// BD angle, BD shift, BL single colour, BD tint, BL colour count, per
// colour BD value and CMC colour, TV name.  Hatches are drawn by their
// pattern here: the gradient is read past and written as none.
void skipHatchGradient(DwgBitReader& d, DwgObjectIn& in) {
  d.readBitLong();
  d.readBitLong();
  d.readBitDouble();
  d.readBitDouble();
  d.readBitLong();
  d.readBitDouble();
  const std::size_t colours = countOf(d, d.readBitLong(), 2 + 2 + 2 + 8, in, "hatch gradient colour");
  for (std::size_t i = 0; i < colours && !d.failed(); ++i) {
    d.readBitDouble();
    readDwgColour2004(d);
  }
  readDwgText(d, CodePage::raw());  // from 2007 on in the string stream
}

void writeNoHatchGradient(DwgBitWriter& w) {
  w.writeBitLong(0);
  w.writeBitLong(0);
  w.writeBitDouble(0);
  w.writeBitDouble(0);
  w.writeBitLong(0);
  w.writeBitDouble(0);
  w.writeBitLong(0);
  w.writeText("");
}

void readHatch(DwgObjectIn& in, DwgReadContext& c, Hatch& h) {
  DwgBitReader& d = in.data;
  if (c.release() >= Release::R2004) skipHatchGradient(d, in);
  h.elevation.z = d.readBitDouble();
  h.extrusion = pointOf(d.readBitPoint3());
  h.pattern = readDwgText(d, c.codePage());
  h.solidFill = d.readBit();
  h.associative = d.readBit();
  const std::size_t paths = countOf(d, d.readBitLong(), 8, in, "hatch path");
  h.paths.reserve(paths);
  std::vector<std::size_t> sources;
  bool derived = false;
  for (std::size_t p = 0; p < paths && !d.failed() && in.badReference.empty(); ++p) {
    HatchPath& path = h.paths.emplace_back();
    path.flags = d.readBitLong();
    derived = derived || (path.flags & 4) != 0;
    if ((path.flags & 2) == 0) {
      const std::size_t edges = countOf(d, d.readBitLong(), 8, in, "hatch edge");
      path.edges.reserve(edges);
      for (std::size_t i = 0; i < edges && !d.failed() && in.badReference.empty(); ++i)
        readHatchEdge(d, in, c.release(), path.edges.emplace_back());
    } else {
      const bool bulges = d.readBit() != 0;
      path.closed = d.readBit() != 0;
      const std::size_t n = countOf(d, d.readBitLong(), 128, in, "hatch vertex");
      path.vertices.reserve(n);
      for (std::size_t i = 0; i < n && !d.failed(); ++i) {
        HatchVertex& v = path.vertices.emplace_back();
        v.location = pointOf(d.readRawPoint2());
        if (bulges) v.bulge = d.readBitDouble();
      }
    }
    sources.push_back(countOf(in.handles, d.readBitLong(), 8, in, "hatch boundary object"));
  }
  h.style = d.readBitShort();
  h.patternType = d.readBitShort();
  if (h.solidFill == 0) {
    h.angle = degreesOf(d.readBitDouble());
    h.scale = d.readBitDouble();
    h.doubled = d.readBit();
    const std::size_t lines = countOf(d, d.readBitShort(), 8, in, "hatch pattern line");
    h.lines.reserve(lines);
    for (std::size_t i = 0; i < lines && !d.failed(); ++i) {
      HatchLine& l = h.lines.emplace_back();
      l.angle = degreesOf(d.readBitDouble());
      l.baseX = d.readBitDouble();
      l.baseY = d.readBitDouble();
      l.offsetX = d.readBitDouble();
      l.offsetY = d.readBitDouble();
      const std::size_t dashes = countOf(d, d.readBitShort(), 2, in, "hatch dash");
      l.dashes.reserve(dashes);
      for (std::size_t k = 0; k < dashes; ++k) l.dashes.push_back(d.readBitDouble());
    }
  }
  if (derived) h.pixelSize = d.readBitDouble();
  const std::size_t seeds = countOf(d, d.readBitLong(), 128, in, "hatch seed point");
  h.seeds.reserve(seeds);
  for (std::size_t i = 0; i < seeds && !d.failed(); ++i) h.seeds.push_back(pointOf(d.readRawPoint2()));
  for (std::size_t p = 0; p < sources.size() && p < h.paths.size(); ++p)
    for (std::size_t i = 0; i < sources[p] && !in.handles.failed(); ++i) h.paths[p].sources.push_back(in.readHandle());
}

void writeHatch(DwgObjectOut& out, DwgWriteContext& c, const Hatch& h) {
  DwgBitWriter& w = out.data();
  if (c.release() >= Release::R2004) writeNoHatchGradient(w);
  w.writeBitDouble(h.elevation.z);
  w.writeBitPoint3(dwgPoint(h.extrusion));
  writeDwgText(w, h.pattern, c.codePage());
  w.writeBit(h.solidFill != 0);
  w.writeBit(h.associative != 0);
  w.writeBitLong(static_cast<std::int32_t>(h.paths.size()));
  bool derived = false;
  for (const HatchPath& path : h.paths) {
    w.writeBitLong(path.flags);
    derived = derived || (path.flags & 4) != 0;
    if ((path.flags & 2) == 0) {
      w.writeBitLong(static_cast<std::int32_t>(path.edges.size()));
      for (const HatchEdge& e : path.edges) writeHatchEdge(w, e);
    } else {
      const bool bulges = std::any_of(path.vertices.begin(), path.vertices.end(),
                                      [](const HatchVertex& v) { return v.bulge != 0; });
      w.writeBit(bulges);
      w.writeBit(path.closed);
      w.writeBitLong(static_cast<std::int32_t>(path.vertices.size()));
      for (const HatchVertex& v : path.vertices) {
        w.writeRawPoint2(dwgPoint2(v.location));
        if (bulges) w.writeBitDouble(v.bulge);
      }
    }
    w.writeBitLong(static_cast<std::int32_t>(path.sources.size()));
    for (const Handle s : path.sources) out.handle(4, s);
  }
  w.writeBitShort(shortOf(h.style));
  w.writeBitShort(shortOf(h.patternType));
  if (h.solidFill == 0) {
    w.writeBitDouble(radiansOf(h.angle));
    w.writeBitDouble(h.scale);
    w.writeBit(h.doubled != 0);
    w.writeBitShort(static_cast<std::int16_t>(std::min<std::size_t>(h.lines.size(), INT16_MAX)));
    for (std::size_t i = 0; i < h.lines.size() && i < INT16_MAX; ++i) {
      const HatchLine& l = h.lines[i];
      w.writeBitDouble(radiansOf(l.angle));
      w.writeBitDouble(l.baseX);
      w.writeBitDouble(l.baseY);
      w.writeBitDouble(l.offsetX);
      w.writeBitDouble(l.offsetY);
      w.writeBitShort(static_cast<std::int16_t>(std::min<std::size_t>(l.dashes.size(), INT16_MAX)));
      for (std::size_t k = 0; k < l.dashes.size() && k < INT16_MAX; ++k) w.writeBitDouble(l.dashes[k]);
    }
  }
  if (derived) w.writeBitDouble(h.pixelSize);
  w.writeBitLong(static_cast<std::int32_t>(h.seeds.size()));
  for (const Point3& s : h.seeds) w.writeRawPoint2(dwgPoint2(s));
}

// ------------------------------------------------------------- polylines

// POLYLINE flags (DXF 70) that pick the object type.
constexpr std::int32_t kFlag3d = 8, kFlagMesh = 16, kFlagPface = 64;

std::int16_t polylineType(const Polyline& p) {
  if ((p.flags & kFlagPface) != 0) return kPolylinePface;
  if ((p.flags & kFlagMesh) != 0) return kPolylineMesh;
  if ((p.flags & kFlag3d) != 0) return kPolyline3d;
  return kPolyline2d;
}

void readPolyline(DwgObjectIn& in, DwgReadContext& c, Polyline& p) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  switch (in.head.type) {
    case kPolyline2d:
      p.flags = d.readBitShort();
      p.surfaceType = d.readBitShort();
      p.startWidth = d.readBitDouble();
      p.endWidth = d.readBitDouble();
      p.thickness = d.readThickness(r);
      p.origin.z = d.readBitDouble();
      p.extrusion = pointOf(d.readExtrusion(r));
      break;
    case kPolyline3d:
      p.surfaceType = d.readRawChar();
      p.flags = d.readRawChar() | kFlag3d;
      break;
    case kPolylinePface:
      p.flags = kFlagPface;
      p.meshM = d.readBitShort();  // vertices
      p.meshN = d.readBitShort();  // faces
      break;
    default:  // mesh
      p.flags = d.readBitShort() | kFlagMesh;
      p.surfaceType = d.readBitShort();
      p.meshM = d.readBitShort();
      p.meshN = d.readBitShort();
      p.smoothM = d.readBitShort();
      p.smoothN = d.readBitShort();
      break;
  }
  readFollowers(in, r, r >= Release::R2004 ? d.readBitLong() : 0, "vertex");
  in.seqend = in.readHandle();
  p.seqend = in.seqend;
}

void writePolyline(DwgObjectOut& out, DwgWriteContext& c, const Polyline& p, const DwgEntityLinks& links) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  switch (polylineType(p)) {
    case kPolyline2d:
      w.writeBitShort(shortOf(p.flags));
      w.writeBitShort(shortOf(p.surfaceType));
      w.writeBitDouble(p.startWidth);
      w.writeBitDouble(p.endWidth);
      w.writeThickness(p.thickness, r);
      w.writeBitDouble(p.origin.z);
      w.writeExtrusion(dwgPoint(p.extrusion), r);
      break;
    case kPolyline3d:
      w.writeRawChar(static_cast<std::uint8_t>(p.surfaceType));
      w.writeRawChar(static_cast<std::uint8_t>(p.flags & ~kFlag3d));
      break;
    case kPolylinePface:
      w.writeBitShort(shortOf(p.meshM));
      w.writeBitShort(shortOf(p.meshN));
      break;
    default:
      w.writeBitShort(shortOf(p.flags & ~kFlagMesh));
      w.writeBitShort(shortOf(p.surfaceType));
      w.writeBitShort(shortOf(p.meshM));
      w.writeBitShort(shortOf(p.meshN));
      w.writeBitShort(shortOf(p.smoothM));
      w.writeBitShort(shortOf(p.smoothN));
      break;
  }
  if (r >= Release::R2004) w.writeBitLong(static_cast<std::int32_t>(links.followers.size()));
  writeFollowers(out, r, links, 3);
  out.handle(3, links.seqend);
}

// The vertex type a polyline's vertices take.
std::int16_t vertexType(const Polyline& p, const Vertex& v) {
  switch (polylineType(p)) {
    case kPolyline2d: return kVertex2d;
    case kPolyline3d: return kVertex3d;
    case kPolylineMesh: return kVertexMesh;
    default: return (v.flags & 64) != 0 ? kVertexPface : kVertexPfaceFace;
  }
}

// ---------------------------------------------------------- lwpolylines

// DWG flags of LWPOLYLINE: which optional parts are stored, and closed /
// PLINEGEN (DXF 1 / 128).
enum : std::int16_t {
  kLwExtrusion = 1, kLwThickness = 2, kLwConstantWidth = 4, kLwElevation = 8,
  kLwBulges = 16, kLwWidths = 32, kLwPlinegen = 256, kLwClosed = 512,
  kLwVertexIds = 1024,  // 2010
};

void readLwPolyline(DwgObjectIn& in, DwgReadContext& c, LwPolyline& p) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  const std::int16_t flags = d.readBitShort();
  p.flags = ((flags & kLwClosed) != 0 ? 1 : 0) | ((flags & kLwPlinegen) != 0 ? 128 : 0);
  if ((flags & kLwConstantWidth) != 0) p.constantWidth = d.readBitDouble();
  if ((flags & kLwElevation) != 0) p.elevation = d.readBitDouble();
  if ((flags & kLwThickness) != 0) p.thickness = d.readBitDouble();
  if ((flags & kLwExtrusion) != 0) p.extrusion = pointOf(d.readBitPoint3());
  const std::size_t points = countOf(d, d.readBitLong(), r >= Release::R2000 ? 4 : 128, in, "LWPOLYLINE point");
  const std::size_t bulges = (flags & kLwBulges) != 0 ? countOf(d, d.readBitLong(), 2, in, "LWPOLYLINE bulge") : 0;
  const std::size_t ids = r >= Release::R2010 && (flags & kLwVertexIds) != 0
                              ? countOf(d, d.readBitLong(), 2, in, "LWPOLYLINE vertex id")
                              : 0;
  const std::size_t widths = (flags & kLwWidths) != 0 ? countOf(d, d.readBitLong(), 4, in, "LWPOLYLINE width") : 0;
  p.vertices.resize(points);
  DwgPoint2 previous;
  for (std::size_t i = 0; i < points && !d.failed(); ++i) {
    const DwgPoint2 at = r < Release::R2000 || i == 0 ? d.readRawPoint2() : d.readPoint2WithDefault(previous);
    p.vertices[i].location = pointOf(at);
    previous = at;
  }
  for (std::size_t i = 0; i < bulges && !d.failed(); ++i) {
    const double b = d.readBitDouble();
    if (i < points) p.vertices[i].bulge = b;
  }
  for (std::size_t i = 0; i < ids && !d.failed(); ++i) d.readBitLong();
  for (std::size_t i = 0; i < widths && !d.failed(); ++i) {
    const double start = d.readBitDouble(), end = d.readBitDouble();
    if (i < points) p.vertices[i].startWidth = start, p.vertices[i].endWidth = end;
  }
  if ((bulges != 0 && bulges != points) || (widths != 0 && widths != points))
    c.warn("LWPOLYLINE " + formatHandle(in.head.handle) + " with bulge or width counts not its point count");
}

void writeLwPolyline(DwgObjectOut& out, DwgWriteContext& c, const LwPolyline& p) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  const auto any = [&](auto pred) { return std::any_of(p.vertices.begin(), p.vertices.end(), pred); };
  std::int16_t flags = 0;
  if (p.extrusion != kNormalZ) flags |= kLwExtrusion;
  if (p.thickness != 0) flags |= kLwThickness;
  if (p.constantWidth != 0) flags |= kLwConstantWidth;
  if (p.elevation != 0) flags |= kLwElevation;
  if (any([](const LwVertex& v) { return v.bulge != 0; })) flags |= kLwBulges;
  if (any([](const LwVertex& v) { return v.startWidth != 0 || v.endWidth != 0; })) flags |= kLwWidths;
  if ((p.flags & 128) != 0) flags |= kLwPlinegen;
  if ((p.flags & 1) != 0) flags |= kLwClosed;
  w.writeBitShort(flags);
  if ((flags & kLwConstantWidth) != 0) w.writeBitDouble(p.constantWidth);
  if ((flags & kLwElevation) != 0) w.writeBitDouble(p.elevation);
  if ((flags & kLwThickness) != 0) w.writeBitDouble(p.thickness);
  if ((flags & kLwExtrusion) != 0) w.writeBitPoint3(dwgPoint(p.extrusion));
  const auto n = static_cast<std::int32_t>(p.vertices.size());
  w.writeBitLong(n);
  if ((flags & kLwBulges) != 0) w.writeBitLong(n);
  if ((flags & kLwWidths) != 0) w.writeBitLong(n);
  for (std::size_t i = 0; i < p.vertices.size(); ++i) {
    const DwgPoint2 at = dwgPoint2(p.vertices[i].location);
    if (r < Release::R2000 || i == 0) w.writeRawPoint2(at);
    else w.writePoint2WithDefault(at, dwgPoint2(p.vertices[i - 1].location));
  }
  if ((flags & kLwBulges) != 0)
    for (const LwVertex& v : p.vertices) w.writeBitDouble(v.bulge);
  if ((flags & kLwWidths) != 0)
    for (const LwVertex& v : p.vertices) w.writeBitDouble(v.startWidth), w.writeBitDouble(v.endWidth);
}

// ---------------------------------------------------------------- others

void readLine(DwgObjectIn& in, Release r, Line& l) {
  DwgBitReader& d = in.data;
  if (r < Release::R2000) {
    l.start = pointOf(d.readBitPoint3());
    l.end = pointOf(d.readBitPoint3());
  } else {
    const bool flat = d.readBit() != 0;
    l.start.x = d.readRawDouble();
    l.end.x = d.readDoubleWithDefault(l.start.x);
    l.start.y = d.readRawDouble();
    l.end.y = d.readDoubleWithDefault(l.start.y);
    if (!flat) {
      l.start.z = d.readRawDouble();
      l.end.z = d.readDoubleWithDefault(l.start.z);
    }
  }
  l.thickness = d.readThickness(r);
  l.extrusion = pointOf(d.readExtrusion(r));
}

void writeLine(DwgBitWriter& w, Release r, const Line& l) {
  if (r < Release::R2000) {
    w.writeBitPoint3(dwgPoint(l.start));
    w.writeBitPoint3(dwgPoint(l.end));
  } else {
    // Both Z exactly 0 (not -0.0): left out.
    const bool flat = std::signbit(l.start.z) == false && l.start.z == 0 && std::signbit(l.end.z) == false && l.end.z == 0;
    w.writeBit(flat);
    w.writeRawDouble(l.start.x);
    w.writeDoubleWithDefault(l.end.x, l.start.x);
    w.writeRawDouble(l.start.y);
    w.writeDoubleWithDefault(l.end.y, l.start.y);
    if (!flat) {
      w.writeRawDouble(l.start.z);
      w.writeDoubleWithDefault(l.end.z, l.start.z);
    }
  }
  w.writeThickness(l.thickness, r);
  w.writeExtrusion(dwgPoint(l.extrusion), r);
}

void readFace3d(DwgObjectIn& in, Release r, Face3d& f) {
  DwgBitReader& d = in.data;
  Point3* corners[] = {&f.corner1, &f.corner2, &f.corner3, &f.corner4};
  if (r < Release::R2000) {
    for (Point3* p : corners) *p = pointOf(d.readBitPoint3());
    f.invisibleEdges = d.readBitShort();
    return;
  }
  const bool noFlags = d.readBit() != 0;
  const bool flat = d.readBit() != 0;
  f.corner1.x = d.readRawDouble();
  f.corner1.y = d.readRawDouble();
  f.corner1.z = flat ? 0 : d.readRawDouble();
  for (int i = 1; i < 4; ++i) {
    const Point3& before = *corners[i - 1];
    corners[i]->x = d.readDoubleWithDefault(before.x);
    corners[i]->y = d.readDoubleWithDefault(before.y);
    corners[i]->z = d.readDoubleWithDefault(before.z);
  }
  f.invisibleEdges = noFlags ? 0 : d.readBitShort();
}

void writeFace3d(DwgBitWriter& w, Release r, const Face3d& f) {
  const Point3* corners[] = {&f.corner1, &f.corner2, &f.corner3, &f.corner4};
  if (r < Release::R2000) {
    for (const Point3* p : corners) w.writeBitPoint3(dwgPoint(*p));
    w.writeBitShort(shortOf(f.invisibleEdges));
    return;
  }
  const bool flat = f.corner1.z == 0 && !std::signbit(f.corner1.z);
  w.writeBit(f.invisibleEdges == 0);
  w.writeBit(flat);
  w.writeRawDouble(f.corner1.x);
  w.writeRawDouble(f.corner1.y);
  if (!flat) w.writeRawDouble(f.corner1.z);
  for (int i = 1; i < 4; ++i) {
    const Point3& before = *corners[i - 1];
    w.writeDoubleWithDefault(corners[i]->x, before.x);
    w.writeDoubleWithDefault(corners[i]->y, before.y);
    w.writeDoubleWithDefault(corners[i]->z, before.z);
  }
  if (f.invisibleEdges != 0) w.writeBitShort(shortOf(f.invisibleEdges));
}

void readSolid(DwgObjectIn& in, Release r, Solid& s) {
  DwgBitReader& d = in.data;
  s.thickness = d.readThickness(r);
  const double elevation = d.readBitDouble();
  for (Point3* p : {&s.corner1, &s.corner2, &s.corner3, &s.corner4}) *p = pointOf(d.readRawPoint2(), elevation);
  s.extrusion = pointOf(d.readExtrusion(r));
}

void writeSolid(DwgBitWriter& w, Release r, const Solid& s) {
  w.writeThickness(s.thickness, r);
  w.writeBitDouble(s.corner1.z);
  for (const Point3* p : {&s.corner1, &s.corner2, &s.corner3, &s.corner4}) w.writeRawPoint2(dwgPoint2(*p));
  w.writeExtrusion(dwgPoint(s.extrusion), r);
}

void readInsert(DwgObjectIn& in, DwgReadContext& c, Insert& i) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  i.insertion = pointOf(d.readBitPoint3());
  if (r < Release::R2000) {
    const DwgPoint3 s = d.readBitPoint3();
    i.xScale = s.x, i.yScale = s.y, i.zScale = s.z;
  } else {
    switch (d.readBitPair()) {
      case 3: i.xScale = i.yScale = i.zScale = 1; break;
      case 2: i.xScale = i.yScale = i.zScale = d.readRawDouble(); break;
      case 1:
        i.xScale = 1;
        i.yScale = d.readDoubleWithDefault(1);
        i.zScale = d.readDoubleWithDefault(1);
        break;
      default:
        i.xScale = d.readRawDouble();
        i.yScale = d.readDoubleWithDefault(i.xScale);
        i.zScale = d.readDoubleWithDefault(i.xScale);
        break;
    }
  }
  i.rotation = degreesOf(d.readBitDouble());
  i.extrusion = pointOf(d.readBitPoint3());
  const bool attributes = d.readBit() != 0;
  const std::int32_t owned = attributes && r >= Release::R2004 ? d.readBitLong() : 0;
  if (in.head.type == kMInsert) {
    i.columns = d.readBitShort();
    i.rows = d.readBitShort();
    i.columnSpacing = d.readBitDouble();
    i.rowSpacing = d.readBitDouble();
  }
  const Handle block = in.readHandle();
  i.block = c.blockName(block);
  if (i.block.empty() && in.status().ok()) c.warn("INSERT " + formatHandle(in.head.handle) + " of an unknown block");
  if (attributes) {
    readFollowers(in, r, owned, "attribute");
    in.seqend = in.readHandle();
    i.seqend = in.seqend;
  }
}

void writeInsert(DwgObjectOut& out, DwgWriteContext& c, const Insert& i, const DwgEntityLinks& links, bool minsert) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  w.writeBitPoint3(dwgPoint(i.insertion));
  if (r < Release::R2000) {
    w.writeBitPoint3(DwgPoint3{i.xScale, i.yScale, i.zScale});
  } else if (i.xScale == 1 && i.yScale == 1 && i.zScale == 1) {
    w.writeBitPair(3);
  } else if (i.xScale == i.yScale && i.xScale == i.zScale) {
    w.writeBitPair(2);
    w.writeRawDouble(i.xScale);
  } else if (i.xScale == 1) {
    w.writeBitPair(1);
    w.writeDoubleWithDefault(i.yScale, 1);
    w.writeDoubleWithDefault(i.zScale, 1);
  } else {
    w.writeBitPair(0);
    w.writeRawDouble(i.xScale);
    w.writeDoubleWithDefault(i.yScale, i.xScale);
    w.writeDoubleWithDefault(i.zScale, i.xScale);
  }
  w.writeBitDouble(radiansOf(i.rotation));
  w.writeBitPoint3(dwgPoint(i.extrusion));
  const bool attributes = !i.attributes.empty();
  w.writeBit(attributes);
  if (attributes && r >= Release::R2004) w.writeBitLong(static_cast<std::int32_t>(links.followers.size()));
  if (minsert) {
    w.writeBitShort(shortOf(i.columns));
    w.writeBitShort(shortOf(i.rows));
    w.writeBitDouble(i.columnSpacing);
    w.writeBitDouble(i.rowSpacing);
  }
  const Handle block = c.blockHandle(i.block);
  if (block == 0) c.warn("block " + i.block.str() + " has no record");
  out.handle(5, block);
  if (attributes) {
    writeFollowers(out, r, links, 3);
    out.handle(3, links.seqend);
  }
}

// From 2013 on two more BLs follow the form: flags (bit 0: by fit points)
// and the knot parameterisation (15: by control points), which decide it.
void readSpline(DwgObjectIn& in, Release r, Spline& s) {
  DwgBitReader& d = in.data;
  std::int32_t form = d.readBitLong();
  if (r >= Release::R2013) {
    const std::int32_t flags = d.readBitLong();
    const std::int32_t parameterisation = d.readBitLong();
    if ((flags & 1) != 0) form = 2;
    if (parameterisation == 15) form = 1;
  }
  s.degree = d.readBitLong();
  s.flags = 8;  // planar: what every 2D spline is
  if (form == 2) {
    s.fitTolerance = d.readBitDouble();
    s.startTangent = pointOf(d.readBitPoint3());
    s.endTangent = pointOf(d.readBitPoint3());
    const std::size_t n = countOf(d, d.readBitLong(), 6, in, "SPLINE fit point");
    s.fitPoints.reserve(n);
    for (std::size_t i = 0; i < n && !d.failed(); ++i) s.fitPoints.push_back(pointOf(d.readBitPoint3()));
    return;
  }
  if (form != 1) {
    if (in.badReference.empty()) in.badReference = "SPLINE of unknown form " + std::to_string(form);
    return;
  }
  if (d.readBit() != 0) s.flags |= 4;
  if (d.readBit() != 0) s.flags |= 1;
  if (d.readBit() != 0) s.flags |= 2;
  s.knotTolerance = d.readBitDouble();
  s.controlTolerance = d.readBitDouble();
  const std::int32_t knots = d.readBitLong();
  const std::int32_t controls = d.readBitLong();
  const bool weights = d.readBit() != 0;
  const std::size_t k = countOf(d, knots, 2, in, "SPLINE knot");
  s.knots.reserve(k);
  for (std::size_t i = 0; i < k && !d.failed(); ++i) s.knots.push_back(d.readBitDouble());
  const std::size_t n = countOf(d, controls, weights ? 8 : 6, in, "SPLINE control point");
  s.controlPoints.reserve(n);
  for (std::size_t i = 0; i < n && !d.failed(); ++i) {
    s.controlPoints.push_back(pointOf(d.readBitPoint3()));
    if (weights) s.weights.push_back(d.readBitDouble());
  }
}

void writeSpline(DwgBitWriter& w, const Spline& s) {
  // The control-point form when there are control points: files of these
  // releases hold one form only.
  const bool fit = s.controlPoints.empty();
  w.writeBitLong(fit ? 2 : 1);
  w.writeBitLong(s.degree);
  if (fit) {
    w.writeBitDouble(s.fitTolerance);
    w.writeBitPoint3(dwgPoint(s.startTangent));
    w.writeBitPoint3(dwgPoint(s.endTangent));
    w.writeBitLong(static_cast<std::int32_t>(s.fitPoints.size()));
    for (const Point3& p : s.fitPoints) w.writeBitPoint3(dwgPoint(p));
    return;
  }
  const bool weights = s.weights.size() == s.controlPoints.size();
  w.writeBit((s.flags & 4) != 0);
  w.writeBit((s.flags & 1) != 0);
  w.writeBit((s.flags & 2) != 0);
  w.writeBitDouble(s.knotTolerance);
  w.writeBitDouble(s.controlTolerance);
  w.writeBitLong(static_cast<std::int32_t>(s.knots.size()));
  w.writeBitLong(static_cast<std::int32_t>(s.controlPoints.size()));
  w.writeBit(weights);
  for (double k : s.knots) w.writeBitDouble(k);
  for (std::size_t i = 0; i < s.controlPoints.size(); ++i) {
    w.writeBitPoint3(dwgPoint(s.controlPoints[i]));
    if (weights) w.writeBitDouble(s.weights[i]);
  }
}

void readMText(DwgObjectIn& in, DwgReadContext& c, MText& m) {
  readMTextData(in, c, m);
  const Name style = c.styleName(in.readHandle());
  m.style = style.empty() ? std::string("Standard") : style.str();
  if (c.release() >= Release::R2018) skipMTextAnnotation(in);
}

void writeMText(DwgObjectOut& out, DwgWriteContext& c, const MText& m) {
  DwgBitWriter& w = out.data();
  w.writeBitPoint3(dwgPoint(m.insertion));
  w.writeBitPoint3(dwgPoint(m.extrusion));
  w.writeBitPoint3(dwgPoint(m.xAxis));
  w.writeBitDouble(m.referenceWidth);
  w.writeBitDouble(m.height);
  w.writeBitShort(shortOf(m.attachment));
  w.writeBitShort(shortOf(m.direction));
  w.writeBitDouble(m.height);  // extents: one line of the reference width
  w.writeBitDouble(m.referenceWidth);
  writeDwgText(w, m.value, c.codePage());
  if (c.release() >= Release::R2000) {
    w.writeBitShort(shortOf(m.lineSpacingStyle));
    w.writeBitDouble(m.lineSpacing);
    w.writeBit(false);
  }
  if (c.release() >= Release::R2004) w.writeBitLong(0);  // no background fill
  out.handle(5, c.styleHandle(m.style));
}

void readLeader(DwgObjectIn& in, DwgReadContext& c, Leader& l) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  d.readBit();
  l.creation = d.readBitShort();
  l.pathType = d.readBitShort();
  const std::size_t n = countOf(d, d.readBitLong(), 6, in, "LEADER point");
  l.vertices.reserve(n);
  for (std::size_t i = 0; i < n && !d.failed(); ++i) l.vertices.push_back(pointOf(d.readBitPoint3()));
  d.readBitPoint3();  // origin: the first point
  l.normal = pointOf(d.readBitPoint3());
  l.horizontalDirection = pointOf(d.readBitPoint3());
  l.blockOffset = pointOf(d.readBitPoint3());
  // The end point's offset from the annotation came with R14.
  if (r >= Release::R14) l.annotationOffset = pointOf(d.readBitPoint3());
  if (r < Release::R2000) d.readBitDouble();  // dimension gap
  l.textHeight = d.readBitDouble();
  l.textWidth = d.readBitDouble();
  l.hookDirection = d.readBit();
  l.arrowhead = d.readBit();
  d.readBitShort();  // arrowhead type
  if (r < Release::R2000) {
    d.readBitDouble();  // arrow size
    d.readBit();
    d.readBit();
    d.readBitShort();
    l.colour = d.readBitShort();
    d.readBit();
    d.readBit();
  } else {
    d.readBit();
    d.readBit();
  }
  l.annotation = in.readHandle();
  const Name style = c.dimstyleName(in.readHandle());
  l.dimensionStyle = style.empty() ? std::string("Standard") : style.str();
}

void writeLeader(DwgObjectOut& out, DwgWriteContext& c, const Leader& l) {
  DwgBitWriter& w = out.data();
  const Release r = c.release();
  w.writeBit(false);
  w.writeBitShort(shortOf(l.creation));
  w.writeBitShort(shortOf(l.pathType));
  w.writeBitLong(static_cast<std::int32_t>(l.vertices.size()));
  for (const Point3& p : l.vertices) w.writeBitPoint3(dwgPoint(p));
  w.writeBitPoint3(l.vertices.empty() ? DwgPoint3{} : dwgPoint(l.vertices.front()));
  w.writeBitPoint3(dwgPoint(l.normal));
  w.writeBitPoint3(dwgPoint(l.horizontalDirection));
  w.writeBitPoint3(dwgPoint(l.blockOffset));
  if (r >= Release::R14) w.writeBitPoint3(dwgPoint(l.annotationOffset));
  if (r < Release::R2000) w.writeBitDouble(0.09);
  w.writeBitDouble(l.textHeight);
  w.writeBitDouble(l.textWidth);
  w.writeBit(l.hookDirection != 0);
  w.writeBit(l.arrowhead != 0);
  w.writeBitShort(0);
  if (r < Release::R2000) {
    w.writeBitDouble(0.18);
    w.writeBit(false);
    w.writeBit(false);
    w.writeBitShort(0);
    w.writeBitShort(shortOf(l.colour));
    w.writeBit(false);
    w.writeBit(false);
  } else {
    w.writeBit(false);
    w.writeBit(false);
  }
  out.handle(5, l.annotation);
  out.handle(5, c.dimstyleHandle(l.dimensionStyle));
}

// VIEWPORT.  R13/R14 store the frame (centre, size) here and the view in
// the entity's EED of the application ACAD; 2000 stores everything here.
// 2004 adds the shade plot mode; 2007 the major grid lines after the
// circle zoom, the lighting after the shade plot mode and the background,
// visual style, shade plot and sun handles at the end.
void readViewport(DwgObjectIn& in, DwgReadContext& c, Viewport& v) {
  DwgBitReader& d = in.data;
  v.center = pointOf(d.readBitPoint3());
  v.width = d.readBitDouble();
  v.height = d.readBitDouble();
  if (c.release() < Release::R2000) {
    in.readHandle();  // the VX record
    return;
  }
  v.viewTarget = pointOf(d.readBitPoint3());
  v.viewDirection = pointOf(d.readBitPoint3());
  v.twist = degreesOf(d.readBitDouble());
  v.viewHeight = d.readBitDouble();
  v.lensLength = d.readBitDouble();
  v.frontClip = d.readBitDouble();
  v.backClip = d.readBitDouble();
  v.snapAngle = degreesOf(d.readBitDouble());
  v.viewCenter = pointOf(d.readRawPoint2());
  v.snapBase = pointOf(d.readRawPoint2());
  v.snapSpacing = pointOf(d.readRawPoint2());
  v.gridSpacing = pointOf(d.readRawPoint2());
  v.circleZoom = d.readBitShort();
  const Release r = c.release();
  if (r >= Release::R2007) d.readBitShort();  // major grid lines
  const std::size_t frozen = countOf(in.handles, d.readBitLong(), 8, in, "VIEWPORT frozen layer");
  v.flags = d.readBitLong();
  v.plotStyleSheet = readDwgText(d, c.codePage());
  v.renderMode = d.readRawChar();
  v.ucsIcon = d.readBit();  // UCS at the origin
  v.ucsPerViewport = d.readBit();
  v.ucsOrigin = pointOf(d.readBitPoint3());
  v.ucsXAxis = pointOf(d.readBitPoint3());
  v.ucsYAxis = pointOf(d.readBitPoint3());
  v.elevation = d.readBitDouble();
  v.orthoType = d.readBitShort();
  if (r >= Release::R2004) d.readBitShort();  // shade plot mode
  if (r >= Release::R2007) {
    // Lighting: default lights on, their type, brightness, contrast and
    // the ambient colour.
    d.readBit();
    d.readRawChar();
    d.readBitDouble();
    d.readBitDouble();
    readDwgColour2004(d);
  }
  v.frozenLayers.reserve(frozen);
  for (std::size_t i = 0; i < frozen; ++i) v.frozenLayers.push_back(in.readHandle());
  in.readHandle();  // clip boundary
  if (r < Release::R2004) in.readHandle();  // viewport entity record (2000)
  in.readHandle();  // named UCS
  in.readHandle();  // base UCS
  if (r >= Release::R2007)
    for (int i = 0; i < 4; ++i) in.readHandle();  // background, visual style, shade plot, sun
}

void writeViewport(DwgObjectOut& out, DwgWriteContext& c, const Viewport& v) {
  DwgBitWriter& w = out.data();
  w.writeBitPoint3(dwgPoint(v.center));
  w.writeBitDouble(v.width);
  w.writeBitDouble(v.height);
  if (c.release() < Release::R2000) {
    out.handle(5, 0);
    return;
  }
  w.writeBitPoint3(dwgPoint(v.viewTarget));
  w.writeBitPoint3(dwgPoint(v.viewDirection));
  w.writeBitDouble(radiansOf(v.twist));
  w.writeBitDouble(v.viewHeight);
  w.writeBitDouble(v.lensLength);
  w.writeBitDouble(v.frontClip);
  w.writeBitDouble(v.backClip);
  w.writeBitDouble(radiansOf(v.snapAngle));
  w.writeRawPoint2(dwgPoint2(v.viewCenter));
  w.writeRawPoint2(dwgPoint2(v.snapBase));
  w.writeRawPoint2(dwgPoint2(v.snapSpacing));
  w.writeRawPoint2(dwgPoint2(v.gridSpacing));
  w.writeBitShort(shortOf(v.circleZoom));
  w.writeBitLong(static_cast<std::int32_t>(v.frozenLayers.size()));
  w.writeBitLong(v.flags);
  writeDwgText(w, v.plotStyleSheet, c.codePage());
  w.writeRawChar(static_cast<std::uint8_t>(v.renderMode));
  w.writeBit(v.ucsIcon != 0);
  w.writeBit(v.ucsPerViewport != 0);
  w.writeBitPoint3(dwgPoint(v.ucsOrigin));
  w.writeBitPoint3(dwgPoint(v.ucsXAxis));
  w.writeBitPoint3(dwgPoint(v.ucsYAxis));
  w.writeBitDouble(v.elevation);
  w.writeBitShort(shortOf(v.orthoType));
  const bool r2004 = c.release() >= Release::R2004;
  if (r2004) w.writeBitShort(0);  // shade plot mode: as displayed
  for (const Handle h : v.frozenLayers) out.handle(r2004 ? 4 : 5, h);
  out.handle(5, 0);  // clip boundary
  if (!r2004) out.handle(5, 0);  // viewport entity record (2000)
  out.handle(5, 0);  // named UCS
  out.handle(5, 0);  // base UCS
}

// R13/R14 keep the view of a viewport in its "ACAD"/"MVIEW" EED: it goes
// into the viewport's fields, the frozen layers by their handles.
void viewFromXdata(Entity& e) {
  if (e.common.xdata().empty()) return;
  std::vector<Handle> frozen;
  bool inView = false;
  for (const RawTag& t : e.common.xdata()) {
    if (t.code == 1001) inView = false;
    if (t.code == 1000 && t.text == "MVIEW") inView = true;
    if (inView && t.code == 1003 && t.integer != 0) frozen.push_back(static_cast<Handle>(t.integer));
  }
  settleAfterRead(e);
  get<Viewport>(e.data).frozenLayers = std::move(frozen);
  if (e.common.xdata().empty()) e.common.extras().xdata.clear();
}

// The EED of a viewport of R13/R14: its view, then its own XDATA.
std::vector<RawTag> viewXdata(const Entity& e) {
  const Viewport& v = get<Viewport>(e.data);
  std::vector<RawTag> x = viewportXdata(v, std::vector<std::string>(v.frozenLayers.size()));
  std::size_t next = 0;
  for (RawTag& t : x)
    if (t.code == 1003 && next < v.frozenLayers.size()) t.integer = static_cast<std::int64_t>(v.frozenLayers[next++]);
  x.insert(x.end(), e.common.xdata().begin(), e.common.xdata().end());
  return x;
}

// ------------------------------------------- kinds kept with their bits

// DXF groups of values decoded from the bits of a kind the database keeps
// as an unknown entity: DXF writers write these, DWG writers of the
// release read the bits.
RawTag textGroup(std::int32_t code, std::string text) { return RawTag{code, TagType::String, 0, 0, std::move(text)}; }
RawTag realGroup(std::int32_t code, double v) { return RawTag{code, TagType::Real, v, 0, {}}; }
RawTag wholeGroup(std::int32_t code, std::int64_t v) { return RawTag{code, tagTypeOf(code), 0, v, std::to_string(v)}; }
RawTag handleGroup(std::int32_t code, Handle h) {
  return RawTag{code, TagType::Handle, 0, static_cast<std::int64_t>(h), formatHandle(h)};
}
void pointGroups(std::vector<RawTag>& tags, std::int32_t code, const Point3& p, bool withZ = true) {
  tags.push_back(realGroup(code, p.x));
  tags.push_back(realGroup(code + 10, p.y));
  if (withZ) tags.push_back(realGroup(code + 20, p.z));
}

// IMAGE and WIPEOUT (classes): BL class version, 3BD insertion, 3BD U and
// V vectors (one pixel's extent), 2RD size in pixels, BS display flags,
// B clipping, RC brightness, contrast and fade, from 2010 on B clip mode
// (1: keep the outside), BS clip boundary type (1 a rectangle of two 2RD
// corners, 2 a polygon of BL count 2RD vertices); handles: the IMAGEDEF
// and its reactor.
void readRasterImage(DwgObjectIn& in, Release r, bool wipeout, std::vector<RawTag>& tags) {
  DwgBitReader& d = in.data;
  tags.push_back(textGroup(100, wipeout ? "AcDbWipeout" : "AcDbRasterImage"));
  tags.push_back(wholeGroup(90, d.readBitLong()));
  for (const std::int32_t code : {10, 11, 12}) pointGroups(tags, code, pointOf(d.readBitPoint3()));
  pointGroups(tags, 13, pointOf(d.readRawPoint2()), false);
  const std::int16_t display = d.readBitShort();
  const std::uint8_t clipping = d.readBit();
  const std::uint8_t brightness = d.readRawChar(), contrast = d.readRawChar(), fade = d.readRawChar();
  const std::uint8_t clipMode = r >= Release::R2010 ? d.readBit() : 0;
  const std::int16_t boundary = d.readBitShort();
  std::size_t corners = 2;
  if (boundary != 1) corners = countOf(d, d.readBitLong(), 128, in, "image clip vertex");
  if ((boundary != 1 && boundary != 2) && in.badReference.empty())
    in.badReference = "image clip boundary of type " + std::to_string(boundary);
  std::vector<Point3> vertices;
  vertices.reserve(corners);
  for (std::size_t i = 0; i < corners && !d.failed(); ++i) vertices.push_back(pointOf(d.readRawPoint2()));
  tags.push_back(handleGroup(340, in.readHandle()));
  tags.push_back(wholeGroup(70, display));
  tags.push_back(wholeGroup(280, clipping));
  tags.push_back(wholeGroup(281, brightness));
  tags.push_back(wholeGroup(282, contrast));
  tags.push_back(wholeGroup(283, fade));
  tags.push_back(handleGroup(360, in.readHandle()));
  tags.push_back(wholeGroup(71, boundary));
  tags.push_back(wholeGroup(91, static_cast<std::int64_t>(vertices.size())));
  for (const Point3& v : vertices) pointGroups(tags, 14, v, false);
  if (r >= Release::R2010) tags.push_back(wholeGroup(290, clipMode));
}

// ACAD_PROXY_ENTITY (and ACAD_PROXY_OBJECT, dwg_records.cpp) of 2000 on:
// BL class id, then before 2018 BL drawing format (release in the low
// word, maintenance release in the high word), from 2018 on BL release and
// BL maintenance release apart, then B original data format (1 DXF).
// The original object's data and handles follow.
void readProxyEntity(DwgObjectIn& in, Release r, std::vector<RawTag>& tags) {
  if (r < Release::R2000) return;
  DwgBitReader& d = in.data;
  tags.push_back(textGroup(100, "AcDbProxyEntity"));
  tags.push_back(wholeGroup(90, kProxyEntity));
  tags.push_back(wholeGroup(91, d.readBitLong()));
  std::uint32_t format = static_cast<std::uint32_t>(d.readBitLong());
  if (r >= Release::R2018) format = (format & 0xFFFF) | static_cast<std::uint32_t>(d.readBitLong()) << 16;
  tags.push_back(wholeGroup(95, static_cast<std::int32_t>(format)));
  tags.push_back(wholeGroup(70, d.readBit()));
}

// The DXF names of fixed types the database keeps as unknown entities.
std::string_view unknownDxfName(std::int16_t type) {
  switch (type) {
    case kShape: return "SHAPE";
    case kRegion: return "REGION";
    case kSolid3d: return "3DSOLID";
    case kBody: return "BODY";
    case kRay: return "RAY";
    case kXline: return "XLINE";
    case kOleFrame: return "OLEFRAME";
    case kTolerance: return "TOLERANCE";
    case kMLine: return "MLINE";
    case kOle2Frame: return "OLE2FRAME";
    case kProxyEntity: return "ACAD_PROXY_ENTITY";
    default: return "UNKNOWN";
  }
}

void keepBits(DwgObjectIn& in, DwgKeptBits& kept) {
  kept.type = in.head.type < kFirstClass ? in.head.type : 0;
  DwgBitWriter data, handles;
  DwgBitReader rest = in.restOfData();
  kept.dataBits = rest.bitsLeft();
  for (std::size_t n = kept.dataBits; n >= 8; n -= 8) data.writeRawChar(rest.readRawChar());
  for (std::size_t n = kept.dataBits % 8; n > 0; --n) data.writeBit(rest.readBit() != 0);
  kept.handleBits = in.handles.bitsLeft();
  for (std::size_t n = kept.handleBits; n >= 8; n -= 8) handles.writeRawChar(in.handles.readRawChar());
  for (std::size_t n = kept.handleBits % 8; n > 0; --n) handles.writeBit(in.handles.readBit() != 0);
  kept.data = data.bytes();
  kept.handles = handles.bytes();
}

void writeKeptBits(const DwgKeptBits& kept, DwgObjectOut& out) {
  DwgBitReader data(kept.data, kept.dataBits), handles(kept.handles, kept.handleBits);
  for (std::size_t n = kept.dataBits; n >= 8; n -= 8) out.data().writeRawChar(data.readRawChar());
  for (std::size_t n = kept.dataBits % 8; n > 0; --n) out.data().writeBit(data.readBit() != 0);
  for (std::size_t n = kept.handleBits; n >= 8; n -= 8) out.handles().writeRawChar(handles.readRawChar());
  for (std::size_t n = kept.handleBits % 8; n > 0; --n) out.handles().writeBit(handles.readBit() != 0);
}

// The class name an R13/R14 file gives LWPOLYLINE and HATCH, or "".
std::string_view classNameOf(const DwgObjectIn& in, DwgReadContext& c) {
  if (in.head.type < kFirstClass) return {};
  const ClassDef* def = c.classOf(in.head.type);
  return def != nullptr ? std::string_view(def->dxfName) : std::string_view();
}

// The type an entity is written as; 0 when the release cannot hold it.
std::int16_t typeOf(const Entity& e, DwgWriteContext& c) {
  const Release r = c.release();
  switch (e.kind) {
    case EntityKind::Line: return kLine;
    case EntityKind::Point: return kPoint;
    case EntityKind::Circle: return kCircle;
    case EntityKind::Arc: return kArc;
    case EntityKind::Text: return kText;
    case EntityKind::Ellipse: return kEllipse;
    case EntityKind::Solid: return kSolid;
    case EntityKind::Trace: return kTrace;
    case EntityKind::Face3d: return kFace3d;
    case EntityKind::Insert: {
      const Insert& i = get<Insert>(e.data);
      return i.columns > 1 || i.rows > 1 ? kMInsert : kInsert;
    }
    case EntityKind::Polyline: return polylineType(get<Polyline>(e.data));
    case EntityKind::LwPolyline: return r >= Release::R2000 ? kLwPolyline : c.classNumber("LWPOLYLINE");
    case EntityKind::Hatch: return r >= Release::R2000 ? kHatch : c.classNumber("HATCH");
    case EntityKind::AttDef: return kAttDef;
    case EntityKind::Attrib: return kAttrib;
    case EntityKind::Spline: return kSpline;
    case EntityKind::MText: return kMText;
    case EntityKind::Leader: return kLeader;
    case EntityKind::Viewport: return kViewport;
    case EntityKind::Dimension: return dimensionType(get<Dimension>(e.data));
    case EntityKind::Unknown: {
      if (e.readIn != r) return 0;
      const DwgKeptBits& kept = get<UnknownEntity>(e.data).dwg;
      if (!get<UnknownEntity>(e.data).keepsDwgBits()) return 0;
      return kept.type != 0 ? kept.type : c.classNumber(e.dxfName());
    }
  }
  return 0;
}

}  // namespace

bool isDwgVertexType(std::int16_t type) { return type >= kVertex2d && type <= kVertexPfaceFace; }

Status readDwgEntity(DwgObjectIn& in, DwgReadContext& c, Entity& out) {
  const Release r = c.release();
  const std::int16_t type = in.head.type;
  const std::string_view className = classNameOf(in, c);
  EntityKind kind = EntityKind::Unknown;
  switch (type) {
    case kLine: kind = EntityKind::Line; break;
    case kPoint: kind = EntityKind::Point; break;
    case kCircle: kind = EntityKind::Circle; break;
    case kArc: kind = EntityKind::Arc; break;
    case kText: kind = EntityKind::Text; break;
    case kEllipse: kind = EntityKind::Ellipse; break;
    case kSolid: kind = EntityKind::Solid; break;
    case kTrace: kind = EntityKind::Trace; break;
    case kFace3d: kind = EntityKind::Face3d; break;
    case kInsert: case kMInsert: kind = EntityKind::Insert; break;
    case kPolyline2d: case kPolyline3d: case kPolylinePface: case kPolylineMesh: kind = EntityKind::Polyline; break;
    case kAttDef: kind = EntityKind::AttDef; break;
    case kAttrib: kind = EntityKind::Attrib; break;
    case kSpline: kind = EntityKind::Spline; break;
    case kMText: kind = EntityKind::MText; break;
    case kLeader: kind = EntityKind::Leader; break;
    case kViewport: kind = EntityKind::Viewport; break;
    case kDimensionOrdinate: case kDimensionLinear: case kDimensionAligned: case kDimensionAngular3Point:
    case kDimensionAngular2Line: case kDimensionRadius: case kDimensionDiameter:
      kind = EntityKind::Dimension;
      break;
    default:
      if (type == kLwPolyline && r >= Release::R2000) kind = EntityKind::LwPolyline;
      else if (type == kHatch && r >= Release::R2000) kind = EntityKind::Hatch;
      else if (className == "LWPOLYLINE") kind = EntityKind::LwPolyline;
      else if (className == "HATCH") kind = EntityKind::Hatch;
      break;
  }
  out = makeEntity(kind);
  out.readIn = r;
  DwgBitReader& d = in.data;
  visit(
      [&](auto& data) {
        using T = std::decay_t<decltype(data)>;
        if constexpr (std::is_same_v<T, Line>) {
          readLine(in, r, data);
        } else if constexpr (std::is_same_v<T, PointEntity>) {
          data.location = pointOf(d.readBitPoint3());
          data.thickness = d.readThickness(r);
          data.extrusion = pointOf(d.readExtrusion(r));
          data.xAxisAngle = degreesOf(d.readBitDouble());
        } else if constexpr (std::is_same_v<T, Circle> || std::is_same_v<T, Arc>) {
          data.center = pointOf(d.readBitPoint3());
          data.radius = d.readBitDouble();
          data.thickness = d.readThickness(r);
          data.extrusion = pointOf(d.readExtrusion(r));
          if constexpr (std::is_same_v<T, Arc>) {
            data.startAngle = degreesOf(d.readBitDouble());
            data.endAngle = degreesOf(d.readBitDouble());
          }
        } else if constexpr (std::is_same_v<T, Text>) {
          TextFields t;
          readTextFields(in, c, t);
          takeTextFields(data, std::move(t), data.value);
          data.style = styleOf(in, c);
        } else if constexpr (std::is_same_v<T, Ellipse>) {
          readDeclared(d, r, data);
        } else if constexpr (std::is_same_v<T, Solid>) {
          readSolid(in, r, data);
        } else if constexpr (std::is_same_v<T, Face3d>) {
          readFace3d(in, r, data);
        } else if constexpr (std::is_same_v<T, Insert>) {
          readInsert(in, c, data);
        } else if constexpr (std::is_same_v<T, Polyline>) {
          readPolyline(in, c, data);
        } else if constexpr (std::is_same_v<T, LwPolyline>) {
          readLwPolyline(in, c, data);
        } else if constexpr (std::is_same_v<T, AttDef>) {
          readAttribute(in, c, data, data.defaultValue, &data.prompt);
        } else if constexpr (std::is_same_v<T, Attrib>) {
          readAttribute(in, c, data, data.value, nullptr);
        } else if constexpr (std::is_same_v<T, Spline>) {
          readSpline(in, r, data);
        } else if constexpr (std::is_same_v<T, MText>) {
          readMText(in, c, data);
        } else if constexpr (std::is_same_v<T, Leader>) {
          readLeader(in, c, data);
        } else if constexpr (std::is_same_v<T, Viewport>) {
          readViewport(in, c, data);
        } else if constexpr (std::is_same_v<T, Dimension>) {
          readDimension(in, c, data);
        } else if constexpr (std::is_same_v<T, Hatch>) {
          readHatch(in, c, data);
        } else {
          // Kinds whose fields are known give their DXF groups too; the
          // bits are kept from where those begin.
          const std::size_t dataAt = d.bitPosition(), handlesAt = in.handles.bitPosition();
          if (className == "IMAGE" || className == "WIPEOUT") readRasterImage(in, r, className == "WIPEOUT", data.tags);
          else if (type == kProxyEntity) readProxyEntity(in, r, data.tags);
          if (!in.status().ok()) return;
          d.seekBit(dataAt);
          in.handles.seekBit(handlesAt);
          keepBits(in, data.dwg);
        }
      },
      out.data);
  if (kind == EntityKind::Unknown) out.setDxfName(className.empty() ? unknownDxfName(type) : className);
  commonFromHead(in, c, out.common);
  if (kind == EntityKind::Viewport && r < Release::R2000) viewFromXdata(out);
  return in.status();
}

Status readDwgVertex(DwgObjectIn& in, DwgReadContext& c, Vertex& v, std::string_view headLayer) {
  DwgBitReader& d = in.data;
  const Release r = c.release();
  v = Vertex{};
  v.handle = in.head.handle;
  if (in.head.type == kVertexPfaceFace) {
    v.flags = 128;
    v.face1 = d.readBitShort();
    v.face2 = d.readBitShort();
    v.face3 = d.readBitShort();
    v.face4 = d.readBitShort();
  } else {
    v.flags = d.readRawChar();
    v.location = pointOf(d.readBitPoint3());
    if (in.head.type == kVertex2d) {
      const double start = d.readBitDouble();
      v.startWidth = std::fabs(start);
      v.endWidth = start < 0 ? v.startWidth : d.readBitDouble();
      v.bulge = d.readBitDouble();
      if (r >= Release::R2010) v.identifier = d.readBitLong();
      v.tangent = degreesOf(d.readBitDouble());
    }
  }
  (void)r;
  EntityCommon own;
  commonFromHead(in, c, own);
  v.own.keep(std::move(own), headLayer);
  return in.status();
}

Status readDwgBlockName(DwgObjectIn& in, DwgReadContext& c, std::string& name) {
  name = readDwgText(in.data, c.codePage());
  return in.status();
}

Status readDwgFollowerGroups(DwgObjectIn& in, DwgReadContext& c, EntityCommon& out) {
  out = EntityCommon{};
  commonFromHead(in, c, out);
  out.handle = 0;
  out.owner = 0;
  out.paperSpace = false;
  return in.status();
}

Status writeDwgEntity(const Entity& e, const DwgEntityLinks& links, DwgWriteContext& c, std::string& frame) {
  const Release r = c.release();
  const std::int16_t type = typeOf(e, c);
  if (type == 0)
    return Status::fail(StatusCode::NotSupported,
                        std::string(e.dxfName()) + " " + formatHandle(e.common.handle) + " has no form in " +
                            std::string(releaseInfo(r).version));
  DwgObjectOut out(r);
  DwgObjectHead head = headOf(e.common, type, e.common.handle, links, c);
  if (e.kind == EntityKind::Viewport && r < Release::R2000) head.xdata = viewXdata(e);
  if (Status s = out.begin(head, c); !s.ok()) return s;
  DwgBitWriter& w = out.data();
  visit(
      [&](const auto& data) {
        using T = std::decay_t<decltype(data)>;
        if constexpr (std::is_same_v<T, Line>) {
          writeLine(w, r, data);
        } else if constexpr (std::is_same_v<T, PointEntity>) {
          w.writeBitPoint3(dwgPoint(data.location));
          w.writeThickness(data.thickness, r);
          w.writeExtrusion(dwgPoint(data.extrusion), r);
          w.writeBitDouble(radiansOf(data.xAxisAngle));
        } else if constexpr (std::is_same_v<T, Circle> || std::is_same_v<T, Arc>) {
          w.writeBitPoint3(dwgPoint(data.center));
          w.writeBitDouble(data.radius);
          w.writeThickness(data.thickness, r);
          w.writeExtrusion(dwgPoint(data.extrusion), r);
          if constexpr (std::is_same_v<T, Arc>) {
            w.writeBitDouble(radiansOf(data.startAngle));
            w.writeBitDouble(radiansOf(data.endAngle));
          }
        } else if constexpr (std::is_same_v<T, Text>) {
          writeTextFields(out, c, textFieldsOf(data, data.value));
          out.handle(5, c.styleHandle(data.style));
        } else if constexpr (std::is_same_v<T, Ellipse>) {
          writeDeclared(w, r, data);
        } else if constexpr (std::is_same_v<T, Solid>) {
          writeSolid(w, r, data);
        } else if constexpr (std::is_same_v<T, Face3d>) {
          writeFace3d(w, r, data);
        } else if constexpr (std::is_same_v<T, Insert>) {
          writeInsert(out, c, data, links, type == kMInsert);
        } else if constexpr (std::is_same_v<T, Polyline>) {
          writePolyline(out, c, data, links);
        } else if constexpr (std::is_same_v<T, LwPolyline>) {
          writeLwPolyline(out, c, data);
        } else if constexpr (std::is_same_v<T, AttDef>) {
          writeAttribute(out, c, data, data.defaultValue, &data.prompt);
        } else if constexpr (std::is_same_v<T, Attrib>) {
          writeAttribute(out, c, data, data.value, nullptr);
        } else if constexpr (std::is_same_v<T, Spline>) {
          writeSpline(w, data);
        } else if constexpr (std::is_same_v<T, MText>) {
          writeMText(out, c, data);
        } else if constexpr (std::is_same_v<T, Leader>) {
          writeLeader(out, c, data);
        } else if constexpr (std::is_same_v<T, Viewport>) {
          writeViewport(out, c, data);
        } else if constexpr (std::is_same_v<T, Dimension>) {
          writeDimension(out, c, data);
        } else if constexpr (std::is_same_v<T, Hatch>) {
          writeHatch(out, c, data);
        } else {
          writeKeptBits(data.dwg, out);
        }
      },
      e.data);
  return out.finish(frame);
}

Status writeDwgVertex(const Entity& polyline, std::size_t index, const DwgEntityLinks& links, DwgWriteContext& c,
                      std::string& frame) {
  const Polyline* p = get_if<Polyline>(&polyline.data);
  if (p == nullptr || index >= p->vertices.size())
    return Status::fail(StatusCode::NotFound, "no vertex " + std::to_string(index));
  const Vertex& v = p->vertices[index];
  const std::int16_t type = vertexType(*p, v);
  // A vertex with groups of its own writes them; one without takes its
  // polyline's layer, colour and linetype and carries no EED of its own.
  const EntityCommon* own = v.own.get();
  DwgObjectHead head = headOf(own != nullptr ? *own : polyline.common, type, v.handle, links, c);
  if (own == nullptr) {
    head.xdata.clear();
    head.reactors.clear();
    head.xdictionary = 0;
  }
  DwgObjectOut out(c.release());
  if (Status s = out.begin(head, c); !s.ok()) return s;
  DwgBitWriter& w = out.data();
  if (type == kVertexPfaceFace) {
    for (const std::int32_t f : {v.face1, v.face2, v.face3, v.face4}) w.writeBitShort(shortOf(f));
  } else {
    w.writeRawChar(static_cast<std::uint8_t>(v.flags));
    w.writeBitPoint3(dwgPoint(v.location));
    if (type == kVertex2d) {
      // Equal non-zero widths: the start width negated stands for both.
      if (v.startWidth == v.endWidth && v.startWidth > 0) {
        w.writeBitDouble(-v.startWidth);
      } else {
        w.writeBitDouble(v.startWidth);
        w.writeBitDouble(v.endWidth);
      }
      w.writeBitDouble(v.bulge);
      w.writeBitDouble(radiansOf(v.tangent));
    }
  }
  return out.finish(frame);
}

Status writeDwgSeqend(const Entity& parent, Handle seqend, const DwgEntityLinks& links, DwgWriteContext& c,
                      std::string& frame) {
  // A SEQEND with groups of its own writes them; one without takes its
  // head's layer, colour and linetype and nothing else.
  const EntityCommon* own = nullptr;
  if (const auto* p = get_if<Polyline>(&parent.data)) own = p->seqendGroups.get();
  else if (const auto* i = get_if<Insert>(&parent.data)) own = i->seqendGroups.get();
  DwgObjectHead head = headOf(own != nullptr ? *own : parent.common, kSeqend, seqend, links, c);
  if (own == nullptr) {
    head.xdata.clear();
    head.reactors.clear();
    head.xdictionary = 0;
    head.e.plotStyleFlags = 0;
  }
  DwgObjectOut out(c.release());
  if (Status s = out.begin(head, c); !s.ok()) return s;
  return out.finish(frame);
}

namespace {
Status writeBlockEntity(const BlockRecord& b, bool begin, const DwgEntityLinks& links, DwgWriteContext& c,
                        std::string& frame) {
  // Groups of its own where it has them, else a plain entity on the
  // block's layer.
  const EntityCommon* own = (begin ? b.blockGroups : b.endGroups).get();
  EntityCommon common = own != nullptr ? *own : EntityCommon{};
  common.layer = b.layer.empty() ? Name::layerZero() : Name(b.layer);
  if (!begin && own != nullptr && !own->layer.empty()) common.layer = own->layer;
  DwgObjectOut out(c.release());
  if (Status s = out.begin(headOf(common, begin ? kBlock : kEndBlock, begin ? b.blockHandle : b.endHandle, links, c), c);
      !s.ok())
    return s;
  if (begin) writeDwgText(out.data(), b.name, c.codePage());
  return out.finish(frame);
}
}  // namespace

Status writeDwgBlockBegin(const BlockRecord& block, const DwgEntityLinks& links, DwgWriteContext& c, std::string& frame) {
  return writeBlockEntity(block, true, links, c, frame);
}

Status writeDwgBlockEnd(const BlockRecord& block, const DwgEntityLinks& links, DwgWriteContext& c, std::string& frame) {
  return writeBlockEntity(block, false, links, c, frame);
}

}  // namespace drawingdb

// Writing DWG files of 2.5 to 11/12 (layout in dwg_pre_r13_layout.h).
//
// The database is copied and brought into the terms of the release first:
// the records it needs, hatches as blocks of lines and fills, dimension
// blocks where missing.  Then the sections are built in the order their
// addresses become known: the entity section (its place follows from the
// size of the header), the block section (whose offsets the BLOCK records
// hold), the table records, and finally the header with every address,
// the auxiliary header and the CRCs of 11/12.  Entities store only the
// optional fields that differ from their defaults; names are written in
// upper case, as these releases compare them.  Files of 11/12 hold paper
// space after model space in the entity section, each of its entities
// flagged with the extra byte, which also announces extended data: only
// those entities can carry theirs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <unordered_map>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/code_page.h"
#include "drawingdb/dimension_block.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_pre_r13.h"
#include "drawingdb/dwg_pre_r13_layout.h"
#include "drawingdb/hatch_fill.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

using namespace prer13;

double radians(double degrees) { return degrees * std::numbers::pi / 180; }

// Little-endian values appended to a byte string.
class Bytes {
 public:
  explicit Bytes(std::string& out) : out_(out) {}
  void rc(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void rs(std::int32_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    rc(static_cast<std::uint8_t>(u & 0xFF));
    rc(static_cast<std::uint8_t>(u >> 8));
  }
  void rl(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) rc(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
  }
  void rd(double v) {
    if (!std::isfinite(v)) v = 0;
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) rc(static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFF));
  }
  void point2(const Point3& p) {
    rd(p.x);
    rd(p.y);
  }
  void point3(const Point3& p) {
    point2(p);
    rd(p.z);
  }
  // A zero-padded field of `size` bytes (the text cut to leave one NUL).
  void fixed(std::string_view text, std::size_t size) {
    text = text.substr(0, size == 0 ? 0 : size - 1);
    out_.append(text);
    out_.append(size - text.size(), '\0');
  }
  // An entity's text: RS length and the bytes.
  void tv(std::string_view text) {
    text = text.substr(0, 0x7FFF);
    rs(static_cast<std::int32_t>(text.size()));
    out_.append(text);
  }
  void raw(std::string_view bytes) { out_.append(bytes); }
  template <std::size_t N>
  void raw(const std::array<std::uint8_t, N>& bytes) {
    for (std::uint8_t b : bytes) rc(b);
  }

 private:
  std::string& out_;
};

void put16(std::string& f, std::size_t at, std::uint16_t v) {
  f[at] = static_cast<char>(v & 0xFF);
  f[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A name as these releases store it: upper case, at most 31 characters,
// blanks and other characters outside A-Z 0-9 $ - _ as "_".
std::string storedName(std::string_view name) {
  std::string out;
  for (char c : name.substr(0, 31)) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == '-' || c == '_' || c == '*';
    out.push_back(plain ? c : '_');
  }
  return out;
}

bool isZero(const Point3& p) { return p.x == 0 && p.y == 0 && p.z == 0; }

// Record numbers by name, in table order.
class Index {
 public:
  std::size_t add(std::string_view name) {
    const auto [it, added] = numbers_.emplace(foldedName(storedName(name)), names_.size());
    if (added) names_.push_back(storedName(name));
    return it->second;
  }
  std::int32_t find(std::string_view name) const {
    const auto it = numbers_.find(foldedName(storedName(name)));
    return it == numbers_.end() ? -1 : static_cast<std::int32_t>(it->second);
  }
  // A record whose name may repeat another's (shape files have none):
  // it takes a number of its own; the name finds the first.
  void append(std::string_view name) {
    numbers_.emplace(foldedName(storedName(name)), names_.size());
    names_.push_back(storedName(name));
  }
  std::size_t size() const { return names_.size(); }

 private:
  std::unordered_map<std::string, std::size_t> numbers_;
  std::vector<std::string> names_;
};

struct TableOut {
  std::string records;
  std::uint16_t count = 0;
};

class PreR13Writer {
 public:
  PreR13Writer(const Database& source, Release r, std::vector<Finding>* findings)
      : db_(source), release_(r), layout_(*layoutOf(r)), findings_(findings), page_(CodePage::named("ANSI_1252")) {}

  Status write(std::string& out) {
    prepare();
    variablesEnd_ = variablesEnd(layout_.variables);
    entitiesStart_ = variablesEnd_ + (eleven() ? 18 : 0);
    std::string entities = entitySection();
    std::string blocks = blockSection();
    if (entities.size() > kSizeBits || blocks.size() > kSizeBits)
      return Status::fail(StatusCode::OutOfRange, "the drawing is too large for a DWG file of this release (16 MB per section)");
    tables();
    assemble(out, entities, blocks);
    if (xdataLeftOut_ != 0)
      note("xdata-left-out", 0, "the extended data of " + std::to_string(xdataLeftOut_) +
                                    " entities is left out: only entities of paper space carry theirs in this release");
    return {};
  }

 private:
  bool eleven() const { return layout_.sentinels; }
  bool threeD() const { return layout_.threeD; }
  void note(const char* code, Handle h, std::string what) {
    if (findings_ != nullptr) findings_->push_back({code, h, "", false, std::move(what)});
  }
  std::string encoded(std::string_view text) {
    std::string scratch;
    return std::string(page_.encode(text, scratch));
  }

  // ------------------------------------------------------- preparation

  void prepare() {
    db_.completeFor(release_);
    replaceHatchesByBlocks(db_, findings_);
    buildMissingDimensionBlocks(db_);
    for (const auto& r : db_.linetypes.records)
      if (!sameName(r.common.name, "BYLAYER") && !sameName(r.common.name, "BYBLOCK")) linetypes_.add(r.common.name);
    for (const auto& r : db_.layers.records) layers_.add(r.common.name);
    for (const auto& r : db_.styles.records) styles_.append(r.common.name);
    for (const auto& r : db_.appids.records) appids_.add(r.common.name);
    for (const auto& r : db_.ucs.records) ucs_.add(r.common.name);
    for (const auto& r : db_.dimstyles.records) dimstyles_.add(r.common.name);
    for (const BlockRecord& b : db_.blocks)
      if (!isSpace(b)) blocks_.add(b.name);
  }

  bool isSpace(const BlockRecord& b) { return &b == &db_.modelSpace() || &b == &db_.paperSpace(); }

  // A layer an entity names that the table lacks is added to it.
  std::int32_t layerIndex(std::string_view name) {
    std::int32_t i = layers_.find(name);
    if (i >= 0) return i;
    db_.addRecord(db_.layers, std::string(name));
    return static_cast<std::int32_t>(layers_.add(name));
  }

  // ---------------------------------------------------------- entities

  // An entity record: the common header before `data`, the CRC after.
  struct Record {
    explicit Record(std::uint8_t t) : type(t) {}
    std::uint8_t type;
    std::uint8_t flags = 0;
    std::uint16_t options = 0;
    std::string data;
  };

  // `xdata`: the extended data to store, when not the entity's own.
  void emit(std::string& section, Record& r, const EntityCommon& c, double elevation, double thickness, bool flat2d,
            const std::vector<RawTag>* xdata = nullptr) {
    std::string head;
    Bytes b(head);
    std::uint8_t flags = r.flags;
    if (xdata == nullptr) xdata = &c.xdata();
    std::string eed;
    if (paper_) {
      flags |= kHasExtra;
      eed = extendedData(*xdata, c.handle);
    } else if (!xdata->empty()) {
      ++xdataLeftOut_;
    }
    const std::int32_t colour = c.colour;
    const bool hasColour = colour >= 0 && colour <= 255;
    if (hasColour) flags |= kHasColour;
    std::int32_t linetype = -1;
    if (sameName(c.linetype, "BYBLOCK")) linetype = eleven() ? kLinetypeByBlock11 : kLinetypeByBlockOld;
    else if (!sameName(c.linetype, "BYLAYER") && !c.linetype.str().empty()) {
      linetype = linetypes_.find(c.linetype);
      if (linetype < 0 || (!eleven() && linetype >= kLinetypeByBlockOld)) {
        note("linetype-left-out", c.handle, "linetype " + c.linetype.str() + " is not in the table; the entity follows its layer");
        linetype = -1;
      }
    }
    if (linetype >= 0) flags |= kHasLinetype;
    if (flat2d || elevation != 0) flags |= kHasElevation;
    if (thickness != 0) flags |= kHasThickness;
    b.rc(r.type);
    b.rc(flags);
    b.rs(0);  // the size, below
    b.rs(layerIndex(c.layer));
    b.rs(r.options);
    if (paper_) {
      b.rc(eed.empty() ? 0 : kExtraEed);
      if (!eed.empty()) b.rs(static_cast<std::int32_t>(eed.size())), b.raw(eed);
    }
    if (hasColour) b.rc(static_cast<std::uint8_t>(colour));
    if (linetype >= 0) {
      if (eleven()) b.rs(linetype);
      else b.rc(static_cast<std::uint8_t>(linetype));
    }
    if ((flags & kHasElevation) && !flat2d) b.rd(elevation);
    if (thickness != 0) b.rd(thickness);
    head += r.data;
    const std::size_t size = head.size() + (eleven() ? 2 : 0);
    if (size > 0xFFFF) {
      note("entity-left-out", c.handle, "the entity needs " + std::to_string(size) + " bytes; an entity of this release holds 65535");
      return;
    }
    put16(head, 2, static_cast<std::uint16_t>(size));
    if (eleven()) Bytes(head).rs(dwgCrc16(head));
    section += head;
    ++records_;
  }

  // Extended data as these files store it: each application's items from
  // its 1001 group on, applications and layers by their record number (an
  // application the APPID table lacks is added to it).  Groups no item
  // holds are passed over; data longer than an entity can hold is left
  // out (noted).
  std::string extendedData(const std::vector<RawTag>& xdata, Handle h) {
    std::string out;
    Bytes b(out);
    auto real = [](const RawTag& t) { return t.type == TagType::Real ? t.real : static_cast<double>(t.integer); };
    auto bytes = [&](std::uint8_t code, std::string_view text) {
      text = text.substr(0, 255);
      b.rc(code);
      b.rc(static_cast<std::uint8_t>(text.size()));
      b.raw(text);
    };
    bool application = false;
    for (std::size_t i = 0; i < xdata.size(); ++i) {
      const RawTag& t = xdata[i];
      if (t.code == 1001) {
        std::int32_t app = appids_.find(t.text);
        if (app < 0) {
          db_.addRecord(db_.appids, storedName(t.text));
          app = static_cast<std::int32_t>(appids_.add(t.text));
        }
        b.rc(kEedApplication);
        b.rs(app);
        application = true;
        continue;
      }
      if (!application) continue;
      const int code = t.code - 1000;
      switch (code) {
        case 0: bytes(0, encoded(t.text)); break;
        case 2: b.rc(2), b.rc(t.text == "}" ? 1 : 0); break;
        case 3: b.rc(3), b.rs(layerIndex(t.text)); break;
        case 4: bytes(4, t.text); break;
        case 5:
          b.rc(5);
          for (int k = 7; k >= 0; --k) b.rc(static_cast<std::uint8_t>((static_cast<std::uint64_t>(t.integer) >> (8 * k)) & 0xFF));
          break;
        case 10: case 11: case 12: case 13: case 14: case 15: {
          Point3 p{real(t), 0, 0};
          if (i + 1 < xdata.size() && xdata[i + 1].code == t.code + 10) p.y = real(xdata[++i]);
          if (i + 1 < xdata.size() && xdata[i + 1].code == t.code + 20) p.z = real(xdata[++i]);
          b.rc(static_cast<std::uint8_t>(code));
          b.point3(p);
          break;
        }
        case 40: case 41: case 42: b.rc(static_cast<std::uint8_t>(code)), b.rd(real(t)); break;
        case 70: b.rc(70), b.rs(static_cast<std::int32_t>(t.integer)); break;
        case 71: b.rc(71), b.rl(static_cast<std::uint32_t>(t.integer)); break;
        default: break;
      }
    }
    if (out.size() > 0x7FFF) {
      note("xdata-left-out", h, "extended data of " + std::to_string(out.size()) + " bytes is more than an entity holds");
      out.clear();
    }
    return out;
  }

  // Address of the next record of a section, as a SEQEND states it.
  std::uint32_t addressOf(const std::string& section, bool blockSection) const {
    return blockSection ? kBlocksMark + static_cast<std::uint32_t>(section.size())
                        : static_cast<std::uint32_t>(entitiesStart_ + section.size());
  }

  void seqend(std::string& section, std::uint32_t head, const EntityCommon& c, double elevation) {
    Record r{kSeqend};
    Bytes(r.data).rl(head);
    emit(section, r, c, elevation, 0, false);
  }

  // A point of LINE, POINT, 3DLINE and 3DFACE: 3D from 10 on unless every
  // point of the entity lies at Z 0 (then flagged 2D); before 10 2D at the
  // entity's elevation.
  void flatPoints(Record& r, std::initializer_list<const Point3*> points, double& elevation, bool& flat2d) {
    Bytes b(r.data);
    const bool allZero = std::all_of(points.begin(), points.end(), [](const Point3* p) { return p->z == 0; });
    if (threeD()) {
      flat2d = allZero;
      for (const Point3* p : points) flat2d ? b.point2(*p) : b.point3(*p);
      return;
    }
    elevation = (*points.begin())->z;
    for (const Point3* p : points) b.point2(*p);
  }

  void entity(std::string& section, const Entity& e, bool blockSection) {
    const EntityCommon& c = e.common;
    double elevation = 0;
    bool flat2d = false;
    auto extrusion = [&](Record& r, const Point3& x, std::uint16_t bit) {
      if (threeD() && x != kNormalZ) {
        r.options |= bit;
        Bytes(r.data).point3(x);
      }
    };
    switch (e.kind) {
      case EntityKind::Line: {
        const Line& l = get<Line>(e.data);
        Record r{e.dxfName() == "3DLINE" && !threeD() ? kLine3d : kLine};
        if (r.type == kLine3d) {
          Bytes b(r.data);
          b.point2(l.start);
          if (l.start.z != 0) r.options |= 0x01, b.rd(l.start.z);
          b.point2(l.end);
          if (l.end.z != 0) r.options |= 0x02, b.rd(l.end.z);
        } else {
          flatPoints(r, {&l.start, &l.end}, elevation, flat2d);
          extrusion(r, l.extrusion, 0x01);
        }
        return emit(section, r, c, elevation, l.thickness, flat2d);
      }
      case EntityKind::Point: {
        const PointEntity& p = get<PointEntity>(e.data);
        Record r{kPoint};
        flatPoints(r, {&p.location}, elevation, flat2d);
        extrusion(r, p.extrusion, 0x01);
        if (p.xAxisAngle != 0) r.options |= 0x02, Bytes(r.data).rd(radians(p.xAxisAngle));
        return emit(section, r, c, elevation, p.thickness, flat2d);
      }
      case EntityKind::Circle:
      case EntityKind::Arc: {
        const bool arc = e.kind == EntityKind::Arc;
        const Circle circle = arc ? Circle{get<Arc>(e.data).center, get<Arc>(e.data).radius, get<Arc>(e.data).thickness,
                                           get<Arc>(e.data).extrusion}
                                  : get<Circle>(e.data);
        Record r{arc ? kArc : kCircle};
        Bytes b(r.data);
        b.point2(circle.center);
        b.rd(circle.radius);
        if (arc) {
          b.rd(radians(get<Arc>(e.data).startAngle));
          b.rd(radians(get<Arc>(e.data).endAngle));
        }
        extrusion(r, circle.extrusion, 0x01);
        return emit(section, r, c, circle.center.z, circle.thickness, false);
      }
      case EntityKind::Text: {
        const Text& t = get<Text>(e.data);
        Record r{kText};
        Bytes b(r.data);
        b.point2(t.insertion);
        b.rd(t.height);
        b.tv(encoded(t.value));
        if (t.rotation != 0) r.options |= 0x01, b.rd(radians(t.rotation));
        if (t.widthFactor != 1) r.options |= 0x02, b.rd(t.widthFactor);
        if (t.oblique != 0) r.options |= 0x04, b.rd(radians(t.oblique));
        if (const std::int32_t s = styles_.find(t.style); s > 0) r.options |= 0x08, b.rc(static_cast<std::uint8_t>(s));
        if (t.generation != 0) r.options |= 0x10, b.rc(static_cast<std::uint8_t>(t.generation));
        if (t.horizontal != 0) r.options |= 0x20, b.rc(static_cast<std::uint8_t>(t.horizontal));
        if (t.horizontal != 0 || (eleven() && t.vertical != 0)) r.options |= 0x40, b.point2(t.alignment);
        extrusion(r, t.extrusion, 0x80);
        if (eleven() && t.vertical != 0) r.options |= 0x100, b.rc(static_cast<std::uint8_t>(t.vertical));
        return emit(section, r, c, t.insertion.z, t.thickness, false);
      }
      case EntityKind::Solid:
      case EntityKind::Trace: {
        const Solid& s = get<Solid>(e.data);
        Record r{e.kind == EntityKind::Solid ? kSolid : kTrace};
        for (const Point3* p : {&s.corner1, &s.corner2, &s.corner3, &s.corner4}) Bytes(r.data).point2(*p);
        extrusion(r, s.extrusion, 0x01);
        return emit(section, r, c, s.corner1.z, s.thickness, false);
      }
      case EntityKind::Face3d: {
        const Face3d& f = get<Face3d>(e.data);
        Record r{kFace3d};
        if (threeD()) {
          flatPoints(r, {&f.corner1, &f.corner2, &f.corner3, &f.corner4}, elevation, flat2d);
        } else {
          Bytes b(r.data);
          int bit = 0;
          for (const Point3* p : {&f.corner1, &f.corner2, &f.corner3, &f.corner4}) {
            b.point2(*p);
            if (p->z != 0) r.options |= static_cast<std::uint16_t>(1 << bit), b.rd(p->z);
            ++bit;
          }
        }
        return emit(section, r, c, elevation, 0, flat2d);
      }
      case EntityKind::Insert: return insert(section, e, blockSection);
      case EntityKind::AttDef:
      case EntityKind::Attrib: return attribute(section, e);
      case EntityKind::Polyline: return polyline(section, e, blockSection);
      case EntityKind::LwPolyline: {
        const LwPolyline& lw = get<LwPolyline>(e.data);
        Entity p = makeEntity(EntityKind::Polyline);
        p.common = e.common;
        Polyline& pl = get<Polyline>(p.data);
        pl.flags = lw.flags & 1;
        pl.origin.z = lw.elevation;
        pl.thickness = lw.thickness;
        pl.extrusion = lw.extrusion;
        pl.startWidth = pl.endWidth = lw.constantWidth;
        for (const LwVertex& v : lw.vertices) {
          Vertex out;
          out.location = {v.location.x, v.location.y, lw.elevation};
          out.startWidth = v.startWidth;
          out.endWidth = v.endWidth;
          out.bulge = v.bulge;
          pl.vertices.push_back(out);
        }
        return polyline(section, p, blockSection);
      }
      case EntityKind::Dimension: return dimension(section, e);
      case EntityKind::Ellipse:
      case EntityKind::Spline:
      case EntityKind::MText:
      case EntityKind::Leader:
        for (const Entity& part : olderForm(e, db_, release_)) entity(section, part, blockSection);
        return;
      case EntityKind::Viewport:
        if (eleven() && paper_) return viewport(section, e);
        break;
      case EntityKind::Unknown:
        if (e.dxfName() == "SHAPE") return shape(section, e);
        break;
      case EntityKind::Hatch: break;
    }
    note("entity-left-out", c.handle, std::string(e.dxfName()) + " cannot be stored in a DWG file of this release");
  }

  // A viewport of paper space: its place on the sheet in the entity, its
  // view in its "ACAD" extended data (with the layers it freezes by name),
  // and a VX record.
  void viewport(std::string& section, const Entity& e) {
    const Viewport& v = get<Viewport>(e.data);
    Record r{kViewport};
    Bytes b(r.data);
    b.point3(v.center);
    b.rd(v.width);
    b.rd(v.height);
    b.rs(v.id);
    std::vector<std::string> frozen;
    for (Handle h : v.frozenLayers)
      for (const auto& l : db_.layers.records)
        if (l.common.handle == h) frozen.push_back(l.common.name);
    std::vector<RawTag> xdata = viewportXdata(v, frozen);
    xdata.insert(xdata.end(), e.common.xdata().begin(), e.common.xdata().end());
    viewports_.push_back({static_cast<std::uint32_t>(entitiesStart_ + section.size()), v.status == 0 ? -1 : v.id});
    emit(section, r, e.common, 0, 0, false, &xdata);
  }

  // A SHAPE read from a file of these releases: by its number in its
  // shape file.  One read from DXF has only its name and is left out.
  void shape(std::string& section, const Entity& e) {
    const auto& tags = get<UnknownEntity>(e.data).tags;
    auto find = [](const std::vector<RawTag>& in, std::int32_t code) -> const RawTag* {
      for (const RawTag& t : in)
        if (t.code == code) return &t;
      return nullptr;
    };
    auto real = [&](std::int32_t code, double fallback) {
      const RawTag* t = find(tags, code);
      if (t == nullptr) return fallback;
      return t->type == TagType::Real ? t->real : static_cast<double>(t->integer);
    };
    const RawTag* number = find(e.common.extra(), kShapeNumber);
    if (number == nullptr || number->integer < 0 || number->integer > 255) {
      note("entity-left-out", e.common.handle, "a SHAPE known by its name alone cannot be stored in a DWG file of this release");
      return;
    }
    Record r{kShape};
    Bytes b(r.data);
    const Point3 at{real(10, 0), real(20, 0), real(30, 0)};
    b.point2(at);
    b.rd(real(40, 1));
    b.rc(static_cast<std::uint8_t>(number->integer));
    if (const double rotation = real(50, 0); rotation != 0) r.options |= 0x01, b.rd(radians(rotation));
    if (const RawTag* file = find(e.common.extra(), kShapeFile)) {
      std::size_t i = 0;
      for (const auto& style : db_.styles.records) {
        if ((style.common.flags & 1) && sameName(style.data.font, file->text)) {
          r.options |= 0x02;
          b.rc(static_cast<std::uint8_t>(i));
          break;
        }
        ++i;
      }
    }
    emit(section, r, e.common, at.z, real(39, 0), false);
  }

  void insert(std::string& section, const Entity& e, bool blockSection) {
    const Insert& i = get<Insert>(e.data);
    const std::int32_t block = blocks_.find(i.block);
    if (block < 0) {
      note("entity-left-out", e.common.handle, "the insert names block " + i.block.str() + ", which does not exist");
      return;
    }
    Record r{kInsert};
    Bytes b(r.data);
    b.rs(block);
    b.point2(i.insertion);
    if (i.xScale != 1) r.options |= 0x01, b.rd(i.xScale);
    if (i.yScale != 1) r.options |= 0x02, b.rd(i.yScale);
    if (i.rotation != 0) r.options |= 0x04, b.rd(radians(i.rotation));
    if (i.zScale != 1 && threeD()) r.options |= 0x08, b.rd(i.zScale);
    if (i.columns != 1) r.options |= 0x10, b.rs(i.columns);
    if (i.rows != 1) r.options |= 0x20, b.rs(i.rows);
    if (i.columnSpacing != 0) r.options |= 0x40, b.rd(i.columnSpacing);
    if (i.rowSpacing != 0) r.options |= 0x80, b.rd(i.rowSpacing);
    if (threeD() && i.extrusion != kNormalZ) r.options |= 0x100, b.point3(i.extrusion);
    std::vector<const Entity*> attributes;
    for (EntityId a : i.attributes)
      if (a < db_.entities.size() && db_.entities[a].kind == EntityKind::Attrib) attributes.push_back(&db_.entities[a]);
    if (!attributes.empty()) r.flags |= kFollowers;
    const std::uint32_t head = addressOf(section, blockSection);
    emit(section, r, e.common, i.insertion.z, 0, false);
    if (attributes.empty()) return;
    for (const Entity* a : attributes) attribute(section, *a);
    seqend(section, head, e.common, 0);
  }

  void attribute(std::string& section, const Entity& e) {
    const bool def = e.kind == EntityKind::AttDef;
    const AttributeText& a = def ? static_cast<const AttributeText&>(get<AttDef>(e.data)) : get<Attrib>(e.data);
    Record r{def ? kAttdef : kAttrib};
    Bytes b(r.data);
    b.point2(a.insertion);
    b.rd(a.height);
    b.tv(encoded(def ? get<AttDef>(e.data).defaultValue : get<Attrib>(e.data).value));
    if (def) b.tv(encoded(get<AttDef>(e.data).prompt));
    b.tv(encoded(a.tag));
    b.rc(static_cast<std::uint8_t>(a.flags & 0x0F));
    if (a.rotation != 0) r.options |= 0x02, b.rd(radians(a.rotation));
    if (a.widthFactor != 1) r.options |= 0x04, b.rd(a.widthFactor);
    if (a.oblique != 0) r.options |= 0x08, b.rd(radians(a.oblique));
    if (const std::int32_t s = styles_.find(a.style); s > 0) r.options |= 0x10, b.rc(static_cast<std::uint8_t>(s));
    if (a.generation != 0) r.options |= 0x20, b.rc(static_cast<std::uint8_t>(a.generation));
    if (a.horizontal != 0) r.options |= 0x40, b.rc(static_cast<std::uint8_t>(a.horizontal));
    if (a.horizontal != 0 || (eleven() && a.vertical != 0)) r.options |= 0x80, b.point2(a.alignment);
    if (threeD() && a.extrusion != kNormalZ) r.options |= 0x100, b.point3(a.extrusion);
    if (eleven() && a.vertical != 0) r.options |= 0x200, b.rc(static_cast<std::uint8_t>(a.vertical));
    emit(section, r, e.common, a.insertion.z, a.thickness, false);
  }

  void polyline(std::string& section, const Entity& e, bool blockSection) {
    const Polyline& p = get<Polyline>(e.data);
    Record r{kPolyline};
    Bytes b(r.data);
    if (p.flags != 0) r.options |= 0x01, b.rc(static_cast<std::uint8_t>(p.flags));
    if (p.startWidth != 0) r.options |= 0x02, b.rd(p.startWidth);
    if (p.endWidth != 0) r.options |= 0x04, b.rd(p.endWidth);
    if (threeD()) {
      if (p.extrusion != kNormalZ) r.options |= 0x08, b.point3(p.extrusion);
      if (p.meshM != 0) r.options |= 0x10, b.rs(p.meshM);
      if (p.meshN != 0) r.options |= 0x20, b.rs(p.meshN);
      if (p.smoothM != 0) r.options |= 0x40, b.rs(p.smoothM);
      if (p.smoothN != 0) r.options |= 0x80, b.rs(p.smoothN);
      if (p.surfaceType != 0) r.options |= 0x100, b.rs(p.surfaceType);
    }
    r.flags |= kFollowers;
    const std::uint32_t head = addressOf(section, blockSection);
    emit(section, r, e.common, p.origin.z, p.thickness, false);
    // Vertices and the SEQEND take the polyline's layer and look.
    EntityCommon follower;
    follower.layer = e.common.layer;
    follower.colour = e.common.colour;
    follower.linetype = e.common.linetype;
    for (const Vertex& v : p.vertices) {
      Record vr{kVertex};
      Bytes vb(vr.data);
      vb.point2(v.location);
      if (v.startWidth != 0) vr.options |= 0x01, vb.rd(v.startWidth);
      if (v.endWidth != 0) vr.options |= 0x02, vb.rd(v.endWidth);
      if (v.bulge != 0) vr.options |= 0x04, vb.rd(v.bulge);
      if (v.flags != 0) vr.options |= 0x08, vb.rc(static_cast<std::uint8_t>(v.flags));
      if (v.tangent != 0) vr.options |= 0x10, vb.rd(radians(v.tangent));
      emit(section, vr, follower, (p.flags & 8) ? v.location.z : p.origin.z, 0, false);
    }
    seqend(section, head, follower, p.origin.z);
  }

  void dimension(std::string& section, const Entity& e) {
    const Dimension& d = get<Dimension>(e.data);
    const std::int32_t block = blocks_.find(d.block);
    if (block < 0) {
      note("entity-left-out", e.common.handle, "the dimension has no block");
      return;
    }
    Record r{kDimension};
    Bytes b(r.data);
    auto point = [&](const Point3& p) { threeD() ? b.point3(p) : b.point2(p); };
    b.rs(block);
    point(d.definition);
    b.point2(d.textMid);
    if (!isZero(d.cloneInsertion)) r.options |= 0x01, b.point2(d.cloneInsertion);
    const std::int32_t flags = d.flags & (7 | 64 | 128);
    if (flags != 0) r.options |= 0x02, b.rc(static_cast<std::uint8_t>(flags));
    if (!d.text.empty()) r.options |= 0x04, b.tv(encoded(d.text));
    if (!isZero(d.defPoint2)) r.options |= 0x08, point(d.defPoint2);
    if (!isZero(d.defPoint3)) r.options |= 0x10, point(d.defPoint3);
    if (!isZero(d.defPoint4)) r.options |= 0x20, point(d.defPoint4);
    if (!isZero(d.arcPoint)) r.options |= 0x40, b.point2(d.arcPoint);
    if (d.leaderLength != 0) r.options |= 0x80, b.rd(d.leaderLength);
    if (d.rotation != 0) r.options |= 0x100, b.rd(radians(d.rotation));
    if (d.oblique != 0) r.options |= 0x200, b.rd(radians(d.oblique));
    if (d.textRotation != 0) r.options |= 0x400, b.rd(radians(d.textRotation));
    if (threeD() && d.extrusion != kNormalZ) r.options |= 0x4000, b.point3(d.extrusion);
    if (eleven()) {
      const std::int32_t style = dimstyles_.find(d.style);
      if (style > 0) r.options |= 0x8000, b.rs(style);
    }
    emit(section, r, e.common, threeD() ? 0 : d.definition.z, 0, false);
  }

  std::string entitySection() {
    std::string out;
    for (EntityId id : db_.modelSpace().entities) entity(out, db_.entities[id], false);
    const std::size_t paper = db_.paperSpace().entities.size();
    if (paper != 0 && !eleven()) note("paper-space-left-out", 0, std::to_string(paper) + " entities of paper space are left out");
    if (paper != 0 && eleven()) {
      paper_ = true;
      for (EntityId id : db_.paperSpace().entities) entity(out, db_.entities[id], false);
      paper_ = false;
    }
    return out;
  }

  std::string blockSection() {
    std::string out;
    for (const BlockRecord& block : db_.blocks) {
      if (isSpace(block)) continue;
      blockOffsets_.push_back(kBlocksMark + static_cast<std::uint32_t>(out.size()));
      EntityCommon head;
      head.layer = block.layer;
      Record r{kBlockBegin};
      Bytes b(r.data);
      b.point2(block.base);
      if (eleven()) {
        if (!block.xrefPath.empty()) r.options |= 0x02, b.tv(encoded(block.xrefPath));
        r.options |= 0x04;
        b.tv(storedName(block.name));
      }
      emit(out, r, head, block.base.z, 0, false);
      for (EntityId id : block.entities) entity(out, db_.entities[id], true);
      Record end{kBlockEnd};
      emit(out, end, head, 0, 0, false);
    }
    return out;
  }

  // ------------------------------------------------------------ tables

  // Starts a record: flags, name and (11/12) "used".
  void recordHead(Bytes& b, std::uint8_t flags, std::string_view name) {
    b.rc(flags);
    b.fixed(storedName(name), 32);
    if (eleven()) b.rs(-1);
  }

  void finishRecord(TableOut& t, std::string& record, Table which) {
    record.resize(layout_.recordSize[which] - (eleven() ? 2 : 0), '\0');
    if (eleven()) Bytes(record).rs(dwgCrc16(record));
    t.records += record;
    ++t.count;
  }

  void tables() {
    const bool old = release_ <= Release::R2_6;
    {
      std::size_t i = 0;
      for (const BlockRecord& block : db_.blocks) {
        if (isSpace(block)) continue;
        std::string rec;
        Bytes b(rec);
        recordHead(b, static_cast<std::uint8_t>(block.flags & 7), block.name);
        b.rl(blockOffsets_[i++]);
        if (old) b.rc(0);
        if (eleven()) b.rs(-1), b.rs(-1);
        finishRecord(tables_[kBlock], rec, kBlock);
      }
    }
    for (const auto& r : db_.linetypes.records) {
      if (sameName(r.common.name, "BYLAYER") || sameName(r.common.name, "BYBLOCK")) continue;
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.fixed(encoded(r.data.description), 48);
      b.rc(static_cast<std::uint8_t>(r.data.alignment));
      const std::size_t dashes = std::min<std::size_t>(r.data.dashes.size(), 12);
      b.rc(static_cast<std::uint8_t>(dashes));
      b.rd(r.data.patternLength);
      for (std::size_t k = 0; k < 12; ++k) b.rd(k < dashes ? r.data.dashes[k].length : 0);
      if (old) b.rc(0);
      finishRecord(tables_[kLinetype], rec, kLinetype);
    }
    // Layers may grow while entities are written: they come after.
    for (const auto& r : db_.layers.records) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.rs(r.data.colour == 0 ? 7 : r.data.colour);
      b.rs(std::max(0, linetypes_.find(r.data.linetype)));
      if (old) b.rc(0);
      finishRecord(tables_[kLayer], rec, kLayer);
    }
    for (const auto& r : db_.styles.records) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.rd(r.data.fixedHeight);
      b.rd(r.data.widthFactor);
      b.rd(radians(r.data.oblique));
      b.rc(static_cast<std::uint8_t>(r.data.generation));
      b.rd(r.data.lastHeight);
      b.fixed(encoded(r.data.font), 64);
      b.fixed(encoded(r.data.bigFont), 64);
      finishRecord(tables_[kStyle], rec, kStyle);
    }
    for (const auto& r : db_.views.records) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.rd(r.data.height);
      b.point2(r.data.center);
      b.rd(r.data.width);
      b.point3(r.data.direction);
      b.rs(0);
      if (old) b.rc(0);
      if (threeD()) {
        b.point3(r.data.target);
        b.rs(r.data.viewMode);
        b.rd(r.data.lensLength);
        b.rd(r.data.frontClip);
        b.rd(r.data.backClip);
        b.rd(radians(r.data.twist));
      }
      finishRecord(tables_[kView], rec, kView);
    }
    if (!holdsTable(layout_.variables, kUcs)) return;
    for (const auto& r : db_.ucs.records) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.point3(r.data.origin);
      b.point3(r.data.xAxis);
      b.point3(r.data.yAxis);
      finishRecord(tables_[kUcs], rec, kUcs);
    }
    for (const auto& r : db_.vports.records) {
      std::string rec;
      Bytes b(rec);
      const Vport& v = r.data;
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      b.point2(v.lowerLeft);
      b.point2(v.upperRight);
      b.point3(v.target);
      b.point3(v.direction);
      b.rd(radians(v.twist));
      b.rd(v.height);
      b.point2(v.center);
      b.rd(v.aspect);
      b.rd(v.lensLength);
      b.rd(v.frontClip);
      b.rd(v.backClip);
      for (std::int32_t s : {v.viewMode, v.circleZoom, v.fastZoom, v.ucsIcon, v.snapOn, v.gridOn, v.snapStyle, v.snapIsoPair}) b.rs(s);
      b.rd(radians(v.snapAngle));
      b.point2(v.snapBase);
      b.point2(v.snapSpacing);
      b.point2(v.gridSpacing);
      finishRecord(tables_[kVport], rec, kVport);
    }
    if (!holdsTable(layout_.variables, kAppid)) return;
    for (const auto& r : db_.appids.records) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      finishRecord(tables_[kAppid], rec, kAppid);
    }
    for (const auto& r : db_.dimstyles.records) {
      std::string rec;
      Bytes b(rec);
      const DimStyle& d = r.data;
      recordHead(b, static_cast<std::uint8_t>(r.common.flags & 0x3F), r.common.name);
      for (double v : {d.scale, d.arrowSize, d.extensionOffset, d.lineIncrement, d.extensionExtend, d.rounding, d.lineExtend,
                       d.tolerancePlus, d.toleranceMinus, d.textHeight, d.centerMark, d.tickSize, d.altFactor, d.linearFactor,
                       d.textVertical})
        b.rd(v);
      for (std::int32_t v : {d.tolerance, d.limits, d.textInside, d.textOutside, d.suppress1, d.suppress2, d.textAbove,
                             d.zeroSuppression, d.alternate, d.altDecimals, d.forceLine, d.separateArrows, d.textInsideForced,
                             d.suppressOutside})
        b.rc(static_cast<std::uint8_t>(v));
      b.fixed(encoded(d.post), 16);
      b.fixed(encoded(d.altPost), 16);
      b.fixed("", 16 + 16 + 66);
      b.rs(d.lineColour);
      b.rs(d.extensionColour);
      b.rs(d.textColour);
      b.rc(0);
      b.rd(d.toleranceFactor);
      b.rd(d.gap);
      finishRecord(tables_[kDimstyle], rec, kDimstyle);
    }
    // One VX record for each viewport, in their order; addresses above
    // 0xFFFF keep their low 16 bits.
    std::int32_t previous = -1;
    for (const VxOut& v : viewports_) {
      std::string rec;
      Bytes b(rec);
      recordHead(b, 0, "*VX" + std::to_string(previous + 2));
      b.rs(static_cast<std::int32_t>(v.address & 0xFFFF));
      b.rs(v.number);
      b.rs(previous++);
      finishRecord(tables_[kVx], rec, kVx);
    }
  }

  // ------------------------------------------------------------ layout

  void assemble(std::string& out, const std::string& entities, const std::string& blocks) {
    out.assign(variablesEnd_, '\0');
    out.replace(0, 6, releaseInfo(release_).version);
    out[0x0C] = 1;
    put16(out, 0x0D, 3);
    put16(out, 0x0F, 5);
    put16(out, 0x11, layout_.variables);
    variables(out);
    Bytes b(out);
    if (eleven()) {
      b.rs(0);  // the header CRC, below
      b.raw(sentinel(Sentinel::Entities, false));
    }
    const std::size_t entitiesStart = out.size();
    out += entities;
    const std::size_t entitiesEnd = out.size();
    if (eleven()) b.raw(sentinel(Sentinel::Entities, true));
    std::array<std::uint32_t, kTables> addresses{};
    for (std::size_t t = 0; t < kTables; ++t) {
      const auto table = static_cast<Table>(t);
      if (!holdsTable(layout_.variables, table)) continue;
      if (eleven()) b.raw(tableSentinel(table, false));
      addresses[t] = static_cast<std::uint32_t>(out.size());
      out += tables_[t].records;
      if (eleven()) b.raw(tableSentinel(table, true));
      const std::size_t at = kDescriptorAt[t];
      put16(out, at, layout_.recordSize[t]);
      put16(out, at + 2, tables_[t].count);
      put16(out, at + 4, 0);
      put32(out, at + 6, addresses[t]);
    }
    if (eleven()) b.raw(sentinel(Sentinel::Blocks, false));
    const std::size_t blocksStart = out.size();
    out += blocks;
    if (eleven()) {
      b.raw(sentinel(Sentinel::Blocks, true));
      b.raw(sentinel(Sentinel::Extras, false));
    }
    const std::size_t extrasStart = out.size();
    if (eleven()) b.raw(sentinel(Sentinel::Extras, true));
    put32(out, kEntitiesStartAt, static_cast<std::uint32_t>(entitiesStart));
    put32(out, kEntitiesEndAt, static_cast<std::uint32_t>(entitiesEnd));
    put32(out, kBlocksStartAt, static_cast<std::uint32_t>(blocksStart));
    put32(out, kBlocksSizeAt, kBlocksMark | static_cast<std::uint32_t>(blocks.size()));
    put32(out, kExtrasStartAt, static_cast<std::uint32_t>(extrasStart));
    put32(out, kExtrasSizeAt, kExtrasMark);
    if (!threeD()) put16(out, kEntityCountAt, static_cast<std::uint16_t>(std::min<std::size_t>(records_, 0xFFFF)));
    if (!eleven()) return;
    put16(out, variablesEnd_, dwgCrc16(std::string_view(out).substr(0, variablesEnd_)));
    // The auxiliary header repeats the addresses and the tables.
    const std::size_t auxAt = out.size();
    b.raw(sentinel(Sentinel::AuxHeader, false));
    std::string aux;
    Bytes a(aux);
    a.rs(16);
    a.rs(kAuxHeaderSize);
    a.rl(static_cast<std::uint32_t>(entitiesStart));
    a.rl(static_cast<std::uint32_t>(entitiesEnd));
    a.rl(static_cast<std::uint32_t>(blocksStart));
    a.rl(static_cast<std::uint32_t>(extrasStart));
    a.rs(0);  // HANDLING
    a.fixed("", 8);
    a.rs(kTables);
    for (std::size_t t = 0; t < kTables; ++t) {
      a.rs(kAuxTableIds[t]);
      a.rs(layout_.recordSize[t]);
      a.rs(tables_[t].count);
      a.rl(addresses[t]);
    }
    a.rl(static_cast<std::uint32_t>(auxAt));
    a.rs(dwgCrc16(aux));
    out += aux;
    b.raw(sentinel(Sentinel::AuxHeader, true));
  }

  // The value of a declared variable as a number (its default when unset).
  double number(std::string_view name, double fallback) const {
    const int i = headerVarIndex(name);
    if (i < 0) return fallback;
    const HeaderValue& v = db_.header.valueAt(static_cast<std::size_t>(i));
    const HeaderValue value = std::holds_alternative<std::monostate>(v) ? defaultValue(headerVars()[static_cast<std::size_t>(i)]) : v;
    if (const auto* d = std::get_if<double>(&value)) return *d;
    if (const auto* n = std::get_if<std::int32_t>(&value)) return *n;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
    return fallback;
  }

  void variables(std::string& out) {
    for (const HeaderSlot& slot : headerSlots()) {
      if (layout_.variables <= slot.above) continue;
      std::string value;
      Bytes b(value);
      const bool named = !slot.name.empty() && headerVarIndex(slot.name) >= 0;
      switch (slot.slot) {
        case Slot::Short: b.rs(static_cast<std::int32_t>(std::lround(named ? number(slot.name, slot.real) : slot.real))); break;
        case Slot::Byte: b.rc(static_cast<std::uint8_t>(std::lround(named ? number(slot.name, slot.real) : slot.real))); break;
        case Slot::Real: b.rd(named ? number(slot.name, slot.real) : slot.real); break;
        case Slot::Point2:
        case Slot::Point3: {
          const Point3 p = named ? db_.header.point(slot.name) : Point3{slot.point[0], slot.point[1], slot.point[2]};
          slot.slot == Slot::Point2 ? b.point2(p) : b.point3(p);
          break;
        }
        case Slot::Text: b.fixed(encoded(named ? db_.header.text(slot.name) : std::string(slot.text)), slot.size); break;
        case Slot::Date: {
          const double date = named ? number(slot.name, 0) : 0;
          const double day = std::floor(std::max(0.0, date));
          b.rl(static_cast<std::uint32_t>(std::min(day, 4e9)));
          b.rl(static_cast<std::uint32_t>(std::clamp((date - day) * 86400000.0, 0.0, 86399999.0)));
          break;
        }
        case Slot::Handle: b.fixed("", 8); break;
        case Slot::Layer: b.rs(std::max(0, layers_.find(db_.header.text(slot.name)))); break;
        case Slot::Style: b.rs(std::max(0, styles_.find(db_.header.text(slot.name)))); break;
        case Slot::Ucs: b.rs(ucs_.find(db_.header.text(slot.name))); break;
        case Slot::Dimstyle: b.rs(dimstyles_.find(db_.header.text(slot.name))); break;
        case Slot::Linetype: {
          const std::string name = db_.header.text(slot.name);
          if (sameName(name, "BYBLOCK")) b.rs(eleven() ? kLinetypeByBlock11 : kCeltypeByBlockOld);
          else if (const std::int32_t i = linetypes_.find(name); i >= 0) b.rs(i);
          else b.rs(eleven() ? kLinetypeByLayer11 : kCeltypeByLayerOld);
          break;
        }
        case Slot::Fixed:
          if (slot.text.empty()) b.rs(static_cast<std::int32_t>(slot.real));
          else b.fixed(slot.text, slot.size);
          break;
      }
      out.replace(slot.offset, value.size(), value);
    }
    // Entities carry no handles.
    if (layout_.variables > 129) put16(out, kHandlingAt, 0);
  }

  Database db_;
  Release release_;
  const ReleaseLayout& layout_;
  std::vector<Finding>* findings_;
  CodePage page_;
  std::size_t variablesEnd_ = 0;
  std::size_t entitiesStart_ = 0;
  std::size_t records_ = 0;  // entity records of the entity and block sections
  Index linetypes_, layers_, styles_, ucs_, dimstyles_, blocks_, appids_;
  bool paper_ = false;            // paper space is being written
  std::size_t xdataLeftOut_ = 0;  // entities whose extended data had no place
  struct VxOut {
    std::uint32_t address;
    std::int32_t number;  // -1: switched off
  };
  std::vector<VxOut> viewports_;
  std::vector<std::uint32_t> blockOffsets_;
  std::array<TableOut, kTables> tables_;
};

}  // namespace

Status writeDwgPreR13(const Database& db, Release r, std::string& out, std::vector<Finding>* findings) {
  if (layoutOf(r) == nullptr)
    return Status::fail(StatusCode::NotSupported, "DWG files of version " + std::string(releaseInfo(r).version) + " are not of 2.5 to 11/12");
  return PreR13Writer(db, r, findings).write(out);
}

}  // namespace drawingdb

#include "drawingdb/dwg_records.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <span>
#include <utility>

#include "drawingdb/code_page.h"
#include "drawingdb/dimstyle_forms.h"
#include "drawingdb/dxf_fields.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

// ------------------------------------------------------- values by field

// How a value is stored in the bits.  Angle is a BD in radians whose DXF
// group (and database member) holds degrees.
enum class Form : std::uint8_t { B, BB, RC, BS, BL, BD, Angle, RD2, BD2, BD3, TV, CMC };

bool integral(Form f) { return f == Form::B || f == Form::BB || f == Form::RC || f == Form::BS || f == Form::BL || f == Form::CMC; }
bool planar(Form f) { return f == Form::RD2 || f == Form::BD2; }
bool spatial(Form f) { return planar(f) || f == Form::BD3; }

// A value between the bits and the database.
struct Value {
  double real = 0;
  std::int64_t integer = 0;
  std::string text;
  Point3 point;
};

// One value of a plain run of an object's data: its form, its DXF group,
// the declared member that holds it in the database (empty: none; the
// value is then kept as its DXF group, unless the group is 0: a value of
// later releases that the database does not keep) and the releases that
// store it.
struct Slot {
  Form form;
  int code;
  std::string_view member = {};
  Span in = kR13On;
  double fallback = 0;  // written when the database has no value
  Point3 fallbackPoint = {};
};

constexpr Span kR13R14 = between(Release::R13, Release::R14);
constexpr Span kFrom2000 = since(Release::R2000);
constexpr Span kUntil2000 = until(Release::R2000);
constexpr Span kFrom2004 = since(Release::R2004);
constexpr Span kFrom2007 = since(Release::R2007);
constexpr Span kFrom2010 = since(Release::R2010);

template <class Obj>
const Field<Obj>* declared(std::string_view member) {
  for (const Field<Obj>& f : fieldsOf<Obj>())
    if (f.name == member) return &f;
  return nullptr;
}

template <class Obj>
void storeMember(Obj& obj, const Field<Obj>& f, const Value& v, Form form) {
  const bool whole = integral(form);
  std::visit(Overloaded{
                 [&](double Obj::*m) { obj.*m = whole ? static_cast<double>(v.integer) : v.real; },
                 [&](std::int32_t Obj::*m) { obj.*m = whole ? clampInt32(v.integer) : clampInt32(v.real); },
                 [&](std::string Obj::*m) { obj.*m = v.text; },
                 [&](Name Obj::*m) { obj.*m = v.text; },
                 [&](bool Obj::*m) { obj.*m = v.integer != 0; },
                 [&](Handle Obj::*m) { obj.*m = static_cast<Handle>(v.integer); },
                 [&](Point3 Obj::*m) { obj.*m = Point3{v.point.x, v.point.y, planar(form) ? (obj.*m).z : v.point.z}; },
                 [](auto) {},
             },
             f.member);
}

template <class Obj>
Value loadMember(const Obj& obj, const Field<Obj>& f) {
  Value v;
  std::visit(Overloaded{
                 [&](double Obj::*m) {
                   v.real = obj.*m;
                   v.integer = clampInt32(obj.*m);
                 },
                 [&](std::int32_t Obj::*m) {
                   v.integer = obj.*m;
                   v.real = obj.*m;
                 },
                 [&](std::string Obj::*m) { v.text = obj.*m; },
                 [&](Name Obj::*m) { v.text = std::string((obj.*m).view()); },
                 [&](bool Obj::*m) { v.integer = obj.*m ? 1 : 0; },
                 [&](Handle Obj::*m) { v.integer = static_cast<std::int64_t>(obj.*m); },
                 [&](Point3 Obj::*m) { v.point = obj.*m; },
                 [](auto) {},
             },
             f.member);
  return v;
}

// Values without a member live in the record's extra groups, as a DXF
// reader keeps them.
const RawTag* keptTag(const std::vector<RawTag>& kept, int code, std::size_t nth = 0) {
  for (const RawTag& t : kept)
    if (t.code == code && nth-- == 0) return &t;
  return nullptr;
}

RawTag tagFor(int code, const Value& v, Form form) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  switch (t.type) {
    case TagType::Real: t.real = integral(form) ? static_cast<double>(v.integer) : v.real; break;
    case TagType::String:
    case TagType::Binary:
    case TagType::Comment: t.text = v.text; break;
    case TagType::Handle:
      // A handle as DXF states it (hex); R13/R14 dimension styles name
      // their arrow blocks in groups 5-7, which are handles elsewhere.
      if (form == Form::TV) {
        t.text = v.text;
      } else {
        t.integer = v.integer;
        t.text = formatHandle(static_cast<Handle>(v.integer));
      }
      break;
    default: t.integer = integral(form) ? v.integer : clampInt32(v.real); break;
  }
  return t;
}

double realOf(const RawTag& t) { return t.type == TagType::Real ? t.real : static_cast<double>(t.integer); }

void keep(std::vector<RawTag>& kept, int code, const Value& v, Form form) {
  if (spatial(form)) {
    kept.push_back(tagFor(code, Value{v.point.x, 0, {}, {}}, Form::BD));
    kept.push_back(tagFor(code + 10, Value{v.point.y, 0, {}, {}}, Form::BD));
    if (!planar(form)) kept.push_back(tagFor(code + 20, Value{v.point.z, 0, {}, {}}, Form::BD));
    return;
  }
  kept.push_back(tagFor(code, v, form));
}

Value kept(const std::vector<RawTag>& list, const Slot& s, std::size_t nth = 0) {
  Value v;
  v.real = s.fallback;
  v.integer = static_cast<std::int64_t>(s.fallback);
  v.point = s.fallbackPoint;
  if (spatial(s.form)) {
    if (const RawTag* x = keptTag(list, s.code, nth)) v.point.x = realOf(*x);
    if (const RawTag* y = keptTag(list, s.code + 10, nth)) v.point.y = realOf(*y);
    if (const RawTag* z = keptTag(list, s.code + 20, nth)) v.point.z = realOf(*z);
    return v;
  }
  if (const RawTag* t = keptTag(list, s.code, nth)) {
    v.real = realOf(*t);
    v.integer = t->type == TagType::Real ? clampInt32(t->real) : t->integer;
    v.text = t->text;
  }
  return v;
}

// ------------------------------------------------------- the two walks

// `bits` bits of a reader as bytes (the last one padded with 0 bits), and
// back.
std::string copyBits(DwgBitReader& from, std::size_t bits) {
  DwgBitWriter to;
  for (; bits >= 8 && !from.failed(); bits -= 8) to.writeRawChar(from.readRawChar());
  for (; bits > 0 && !from.failed(); --bits) to.writeBit(from.readBit() != 0);
  return to.bytes();
}
void pasteBits(std::string_view bytes, std::size_t bits, DwgBitWriter& to) {
  DwgBitReader from(bytes, bits);
  for (; bits >= 8; bits -= 8) to.writeRawChar(from.readRawChar());
  for (; bits > 0; --bits) to.writeBit(from.readBit() != 0);
}


// Reads an object's type data and handles.  Each layout below is written
// once for both directions: a layout calls io.bs(x) and friends, which
// here read into x and in BodyOut write x.
class BodyIn {
 public:
  static constexpr bool kReads = true;
  BodyIn(DwgBitReader& data, DwgBitReader& handles, Handle own, Release r, const CodePage& page)
      : d_(data), h_(handles), own_(own), r_(r), page_(page) {}

  Release release() const { return r_; }
  bool r2000() const { return r_ >= Release::R2000; }
  bool failed() const { return d_.failed() || h_.failed() || !problem_.empty(); }
  // The first problem found: a count beyond the bits comes before the
  // reads past the end it leads to.
  Status status() const {
    if (!problem_.empty()) return Status::fail(StatusCode::BadFile, problem_);
    if (d_.failed()) return d_.status();
    if (h_.failed()) return h_.status();
    return {};
  }
  void fail(std::string what) {
    if (problem_.empty()) problem_ = std::move(what);
  }

  void b(bool& v) { v = d_.readBit() != 0; }
  void b(std::int32_t& v) { v = d_.readBit(); }
  void bb(std::int32_t& v) { v = d_.readBitPair(); }
  void rc(std::int32_t& v) { v = d_.readRawChar(); }
  void bs(std::int32_t& v) { v = d_.readBitShort(); }
  void bl(std::int32_t& v) { v = d_.readBitLong(); }
  void bd(double& v) { v = d_.readBitDouble(); }
  void angle(double& v) { v = d_.readBitDouble() * (180.0 / std::numbers::pi); }
  void rd(double& v) { v = d_.readRawDouble(); }
  void bd3(Point3& p) {
    const DwgPoint3 q = d_.readBitPoint3();
    p = Point3{q.x, q.y, q.z};
  }
  void tv(std::string& s) { s = readDwgText(d_, page_); }
  void cmc(std::int32_t& v) { v = r_ >= Release::R2004 ? readDwgColour2004(d_) : d_.readColor(); }
  void fourBits(std::int32_t& v) { v = d_.readFourBits(); }
  // A flag bit of `flags`.
  void flag(std::int32_t& flags, std::int32_t bit) {
    if (d_.readBit() != 0) flags |= bit;
    else flags &= ~bit;
  }
  void raw(std::size_t n, std::string& bytes) { bytes = d_.readRawBytes(n); }

  void value(Form f, Value& v) {
    std::int32_t i = 0;
    switch (f) {
      case Form::B: b(i); break;
      case Form::BB: bb(i); break;
      case Form::RC: rc(i); break;
      case Form::BS: bs(i); break;
      case Form::BL: bl(i); break;
      case Form::CMC: cmc(i); break;
      case Form::BD: bd(v.real); break;
      case Form::Angle: angle(v.real); break;
      case Form::RD2: {
        const DwgPoint2 p = d_.readRawPoint2();
        v.point = Point3{p.x, p.y, 0};
        break;
      }
      case Form::BD2: {
        const DwgPoint2 p = d_.readBitPoint2();
        v.point = Point3{p.x, p.y, 0};
        break;
      }
      case Form::BD3: bd3(v.point); break;
      case Form::TV: tv(v.text); break;
    }
    if (integral(f)) {
      v.integer = i;
      v.real = i;
    }
  }

  // A count whose elements take at least `bitsEach` bits of the data
  // (inData) or handle stream: a count the bits left cannot hold is damage.
  void count(std::size_t& n, Form f, std::size_t bitsEach, bool inData, const char* what) {
    std::int64_t c = 0;
    if (f == Form::RC) c = d_.readRawChar();
    else if (f == Form::BS) c = static_cast<std::uint16_t>(d_.readBitShort());
    else c = d_.readBitLong();
    if (d_.failed()) return;
    const std::size_t left = inData ? d_.bitsLeft() + d_.stringBitsLeft() : h_.bitsLeft();
    if (c < 0 || static_cast<std::uint64_t>(c) * bitsEach > left) {
      fail(std::string("count of ") + what + " (" + std::to_string(c) + ") beyond the object's bits");
      n = 0;
      return;
    }
    n = static_cast<std::size_t>(c);
  }

  void handle(std::uint8_t, Handle& target) {
    const DwgHandleRef ref = h_.readHandle();
    if (h_.failed()) return;
    const std::optional<Handle> t = resolveHandle(ref, own_);
    if (!t) {
      fail("invalid handle reference (code " + std::to_string(ref.code) + ")");
      return;
    }
    target = *t;
  }
  void handles(std::uint8_t code, std::size_t n, std::vector<Handle>& list) {
    list.assign(n, 0);
    for (Handle& h : list) {
      handle(code, h);
      if (failed()) return;
    }
  }
  // Bits left in the handle stream (an xrecord's references run to its end).
  std::size_t handleBitsLeft() const { return h_.bitsLeft(); }

 private:
  DwgBitReader& d_;
  DwgBitReader& h_;
  Handle own_;
  Release r_;
  const CodePage& page_;
  std::string problem_;
};

class BodyOut {
 public:
  static constexpr bool kReads = false;
  BodyOut(DwgBitWriter& data, Release r, const CodePage& page) : d_(data), r_(r), page_(page) {}

  Release release() const { return r_; }
  bool r2000() const { return r_ >= Release::R2000; }
  bool failed() const { return d_.failed() || !problem_.empty(); }
  Status status() const {
    if (d_.failed()) return Status::fail(StatusCode::OutOfRange, d_.failure());
    if (!problem_.empty()) return Status::fail(StatusCode::OutOfRange, problem_);
    return {};
  }
  void fail(std::string what) {
    if (problem_.empty()) problem_ = std::move(what);
  }

  void b(const bool& v) { d_.writeBit(v); }
  void b(const std::int32_t& v) { d_.writeBit(v != 0); }
  void bb(const std::int32_t& v) { d_.writeBitPair(static_cast<std::uint8_t>(v & 3)); }
  void rc(const std::int32_t& v) { d_.writeRawChar(static_cast<std::uint8_t>(v)); }
  void bs(const std::int32_t& v) { d_.writeBitShort(static_cast<std::int16_t>(v)); }
  void bl(const std::int32_t& v) { d_.writeBitLong(v); }
  void bd(const double& v) { d_.writeBitDouble(v); }
  void angle(const double& v) { d_.writeBitDouble(v * (std::numbers::pi / 180.0)); }
  void rd(const double& v) { d_.writeRawDouble(v); }
  void bd3(const Point3& p) { d_.writeBitPoint3(DwgPoint3{p.x, p.y, p.z}); }
  void tv(const std::string& s) { writeDwgText(d_, s, page_); }
  void cmc(const std::int32_t& v) {
    if (r_ >= Release::R2004) writeDwgColour2004(d_, static_cast<std::int16_t>(v));
    else d_.writeColor(static_cast<std::int16_t>(v));
  }
  void fourBits(const std::int32_t& v) { d_.writeFourBits(static_cast<std::uint8_t>(v & 15)); }
  void flag(const std::int32_t& flags, std::int32_t bit) { d_.writeBit((flags & bit) != 0); }
  void raw(std::size_t, const std::string& bytes) { d_.writeRawBytes(bytes); }

  void value(Form f, const Value& v) {
    const auto i = static_cast<std::int32_t>(v.integer);
    switch (f) {
      case Form::B: b(i); break;
      case Form::BB: bb(i); break;
      case Form::RC: rc(i); break;
      case Form::BS: bs(i); break;
      case Form::BL: bl(i); break;
      case Form::CMC: cmc(i); break;
      case Form::BD: bd(v.real); break;
      case Form::Angle: angle(v.real); break;
      case Form::RD2: d_.writeRawPoint2(DwgPoint2{v.point.x, v.point.y}); break;
      case Form::BD2: d_.writeBitPoint2(DwgPoint2{v.point.x, v.point.y}); break;
      case Form::BD3: bd3(v.point); break;
      case Form::TV: tv(v.text); break;
    }
  }

  void count(const std::size_t& n, Form f, std::size_t, bool, const char* what) {
    const std::size_t limit = f == Form::RC ? 255 : f == Form::BS ? 65535 : 0x7FFFFFFF;
    if (n > limit) {
      fail(std::string("too many ") + what + " (" + std::to_string(n) + ") for the object");
      return;
    }
    if (f == Form::RC) d_.writeRawChar(static_cast<std::uint8_t>(n));
    else if (f == Form::BS) d_.writeBitShort(static_cast<std::int16_t>(static_cast<std::uint16_t>(n)));
    else d_.writeBitLong(static_cast<std::int32_t>(n));
  }

  void handle(std::uint8_t code, const Handle& target) { refs.push_back(DwgHandleRef{code, target}); }
  // Data and handles kept as read.
  void bits(const DwgKeptBits& kept) {
    pasteBits(kept.data, kept.dataBits, d_);
    keptHandles = &kept;
  }
  const DwgKeptBits* keptHandles = nullptr;
  void handles(std::uint8_t code, std::size_t, const std::vector<Handle>& list) {
    for (Handle h : list) handle(code, h);
  }

  // The handle references in the order the layout gave them; they follow
  // the data.
  std::vector<DwgHandleRef> refs;

 private:
  DwgBitWriter& d_;
  Release r_;
  const CodePage& page_;
  std::string problem_;
};

// A plain run of slots of a database type `Obj`, with the groups kept
// beside it.
template <class Io, class Obj, class Kept>
void slots(Io& io, Obj& obj, Kept& extra, std::span<const Slot> list) {
  for (const Slot& s : list) {
    if (!s.in.has(io.release())) continue;
    using Plain = std::remove_const_t<Obj>;
    const Field<Plain>* f = s.member.empty() ? nullptr : declared<Plain>(s.member);
    if constexpr (Io::kReads) {
      Value v;
      io.value(s.form, v);
      if (io.failed()) return;
      if (f != nullptr) storeMember(obj, *f, v, s.form);
      else if (s.code != 0) keep(extra, s.code, v, s.form);
    } else {
      io.value(s.form, f != nullptr ? loadMember(obj, *f) : kept(extra, s));
    }
  }
}

// ------------------------------------------------------- slot tables

constexpr Slot kStyleSlots[] = {
    {Form::BD, 40, "fixedHeight"}, {Form::BD, 41, "widthFactor"}, {Form::Angle, 50, "oblique"},
    {Form::RC, 71, "generation"},  {Form::BD, 42, "lastHeight"},  {Form::TV, 3, "font"},
    {Form::TV, 4, "bigFont"},
};

// VIEW and VPORT share their view: height, then the width (VPORT keeps the
// aspect ratio width / height as its DXF group 41, see vportLayout).
constexpr Slot kViewSlots[] = {
    {Form::BD, 40, "height"},     {Form::BD, 41, "width"},         {Form::RD2, 10, "center"},
    {Form::BD3, 12, "target"},    {Form::BD3, 11, "direction"},    {Form::Angle, 50, "twist"},
    {Form::BD, 42, "lensLength"}, {Form::BD, 43, "frontClip"},     {Form::BD, 44, "backClip"},
};
constexpr Slot kViewUcsSlots[] = {
    {Form::BD3, 110, {}, kFrom2000}, {Form::BD3, 111, {}, kFrom2000, 0, {1, 0, 0}},
    {Form::BD3, 112, {}, kFrom2000, 0, {0, 1, 0}}, {Form::BD, 146, {}, kFrom2000}, {Form::BS, 79, {}, kFrom2000},
};

constexpr Slot kUcsSlots[] = {
    {Form::BD3, 10, "origin"}, {Form::BD3, 11, "xAxis"}, {Form::BD3, 12, "yAxis"},
    {Form::BD, 146, {}, kFrom2000}, {Form::BS, 79, {}, kFrom2000},
};

constexpr Slot kVportViewSlots[] = {
    {Form::RD2, 12, "center"},    {Form::BD3, 17, "target"},   {Form::BD3, 16, "direction"},
    {Form::Angle, 51, "twist"},   {Form::BD, 42, "lensLength"}, {Form::BD, 43, "frontClip"},
    {Form::BD, 44, "backClip"},
};
constexpr Slot kVportCornerSlots[] = {
    {Form::RD2, 10, "lowerLeft"}, {Form::RD2, 11, "upperRight"},
};
constexpr Slot kVportGridSlots[] = {
    {Form::BS, 72, "circleZoom"}, {Form::B, 73, "fastZoom"},    {Form::BB, 74, "ucsIcon"},
    {Form::B, 76, "gridOn"},      {Form::RD2, 15, "gridSpacing"}, {Form::B, 75, "snapOn"},
    {Form::B, 77, "snapStyle"},   {Form::BS, 78, "snapIsoPair"}, {Form::Angle, 50, "snapAngle"},
    {Form::RD2, 13, "snapBase"},  {Form::RD2, 14, "snapSpacing"},
};
// The viewport's own UCS (2000); the flag before it has no DXF group.
constexpr Slot kVportUcsSlots[] = {
    {Form::B, 65, {}, kFrom2000, 1},
    {Form::BD3, 110, {}, kFrom2000},
    {Form::BD3, 111, {}, kFrom2000, 0, {1, 0, 0}},
    {Form::BD3, 112, {}, kFrom2000, 0, {0, 1, 0}},
    {Form::BD, 146, {}, kFrom2000},
    {Form::BS, 79, {}, kFrom2000},
    {Form::BS, 0, {}, kFrom2007},  // grid flags
    {Form::BS, 0, {}, kFrom2007, 5},  // major grid lines
};
// The lighting of 2007: default lights on, their type, brightness,
// contrast and the ambient colour; the database keeps none of them.
constexpr Slot kVportLightingSlots[] = {
    {Form::B, 0, {}, kFrom2007, 1}, {Form::RC, 0, {}, kFrom2007, 1}, {Form::BD, 0, {}, kFrom2007},
    {Form::BD, 0, {}, kFrom2007},   {Form::CMC, 0, {}, kFrom2007, 250},
};

// Dimension style variables in the order of each release's data.
constexpr Slot kDimStyleR14Slots[] = {
    {Form::B, 71, "tolerance"},        {Form::B, 72, "limits"},
    {Form::B, 73, "textInside"},       {Form::B, 74, "textOutside"},
    {Form::B, 75, "suppress1"},        {Form::B, 76, "suppress2"},
    {Form::B, 170, "alternate"},       {Form::B, 172, "forceLine"},
    {Form::B, 173, "separateArrows"},  {Form::B, 174, "textInsideForced"},
    {Form::B, 175, "suppressOutside"}, {Form::RC, 171, "altDecimals"},
    {Form::RC, 78, "zeroSuppression"}, {Form::B, 281},
    {Form::B, 282},                    {Form::RC, 283, {}, kR13On, 1},
    {Form::RC, 280, "justification"},  {Form::RC, 287, {}, kR13On, 3},
    {Form::B, 288},                    {Form::RC, 284},
    {Form::RC, 285},                   {Form::RC, 286},
    {Form::RC, 77, "textAbove"},       {Form::BS, 270, {}, kR13On, 2},
    {Form::BS, 275},                   {Form::BS, 271, "decimals"},
    {Form::BS, 272, {}, kR13On, 4},    {Form::BS, 273, {}, kR13On, 2},
    {Form::BS, 274, {}, kR13On, 2},    {Form::BD, 40, "scale"},
    {Form::BD, 41, "arrowSize"},       {Form::BD, 42, "extensionOffset"},
    {Form::BD, 43, "lineIncrement"},   {Form::BD, 44, "extensionExtend"},
    {Form::BD, 45, "rounding"},        {Form::BD, 46, "lineExtend"},
    {Form::BD, 47, "tolerancePlus"},   {Form::BD, 48, "toleranceMinus"},
    {Form::BD, 140, "textHeight"},     {Form::BD, 141, "centerMark"},
    {Form::BD, 142, "tickSize"},       {Form::BD, 143, "altFactor"},
    {Form::BD, 144, "linearFactor"},   {Form::BD, 145, "textVertical"},
    {Form::BD, 146, "toleranceFactor"}, {Form::BD, 147, "gap"},
    {Form::TV, 3, "post"},             {Form::TV, 4, "altPost"},
    {Form::TV, 5},                     {Form::TV, 6},
    {Form::TV, 7},                     {Form::CMC, 176, "lineColour"},
    {Form::CMC, 177, "extensionColour"}, {Form::CMC, 178, "textColour"},
};
constexpr Slot kDimStyle2000Slots[] = {
    {Form::TV, 3, "post"},             {Form::TV, 4, "altPost"},
    {Form::BD, 40, "scale"},           {Form::BD, 41, "arrowSize"},
    {Form::BD, 42, "extensionOffset"}, {Form::BD, 43, "lineIncrement"},
    {Form::BD, 44, "extensionExtend"}, {Form::BD, 45, "rounding"},
    {Form::BD, 46, "lineExtend"},      {Form::BD, 47, "tolerancePlus"},
    {Form::BD, 48, "toleranceMinus"},  {Form::BD, 0, {}, kFrom2007, 1},
    {Form::BD, 0, {}, kFrom2007, 0.785398163397448}, {Form::BS, 0, {}, kFrom2007},
    {Form::CMC, 0, {}, kFrom2007},     {Form::B, 71, "tolerance"},
    {Form::B, 72, "limits"},           {Form::B, 73, "textInside"},
    {Form::B, 74, "textOutside"},      {Form::B, 75, "suppress1"},
    {Form::B, 76, "suppress2"},        {Form::BS, 77, "textAbove"},
    {Form::BS, 78, "zeroSuppression"}, {Form::BS, 79},
    {Form::BS, 0, {}, kFrom2007},      {Form::BD, 140, "textHeight"},     {Form::BD, 141, "centerMark"},
    {Form::BD, 142, "tickSize"},       {Form::BD, 143, "altFactor"},
    {Form::BD, 144, "linearFactor"},   {Form::BD, 145, "textVertical"},
    {Form::BD, 146, "toleranceFactor"}, {Form::BD, 147, "gap"},
    {Form::BD, 148},                   {Form::B, 170, "alternate"},
    {Form::BS, 171, "altDecimals"},    {Form::B, 172, "forceLine"},
    {Form::B, 173, "separateArrows"},  {Form::B, 174, "textInsideForced"},
    {Form::B, 175, "suppressOutside"}, {Form::CMC, 176, "lineColour"},
    {Form::CMC, 177, "extensionColour"}, {Form::CMC, 178, "textColour"},
    {Form::BS, 179},                   {Form::BS, 271, "decimals"},
    {Form::BS, 272, {}, kR13On, 4},    {Form::BS, 273, {}, kR13On, 2},
    {Form::BS, 274, {}, kR13On, 2},    {Form::BS, 275},
    {Form::BS, 276},                   {Form::BS, 277, {}, kR13On, 2},
    {Form::BS, 278, {}, kR13On, 46},   {Form::BS, 279},
    {Form::BS, 280, "justification"},  {Form::B, 281},
    {Form::B, 282},                    {Form::BS, 283, {}, kR13On, 1},
    {Form::BS, 284},                   {Form::BS, 285},
    {Form::BS, 286},                   {Form::B, 288},
    {Form::BS, 289, {}, kR13On, 3},
    // 2007: DIMFXLON; 2010: text direction, the alternate and the main
    // sub-unit factors and suffixes.
    {Form::B, 0, {}, kFrom2007},       {Form::B, 0, {}, kFrom2010},
    {Form::BD, 0, {}, kFrom2010, 100}, {Form::TV, 0, {}, kFrom2010},
    {Form::BD, 0, {}, kFrom2010, 100}, {Form::TV, 0, {}, kFrom2010},
    {Form::BS, 371, {}, kR13On, -2},   {Form::BS, 372, {}, kR13On, -2},
};

constexpr Slot kLayoutPlotSlots[] = {
    {Form::TV, 1, "pageSetup"},       {Form::TV, 2, "printer"},          {Form::BS, 70, "plotFlags"},
    {Form::BD, 40, "marginLeft"},     {Form::BD, 41, "marginBottom"},    {Form::BD, 42, "marginRight"},
    {Form::BD, 43, "marginTop"},      {Form::BD, 44, "paperWidth"},      {Form::BD, 45, "paperHeight"},
    {Form::TV, 4, "paperSize"},       {Form::BD, 46, "originX"},         {Form::BD, 47, "originY"},
    {Form::BS, 72, "paperUnits"},     {Form::BS, 73, "rotation"},        {Form::BS, 74, "plotType"},
    {Form::BD, 48, "windowMinX"},     {Form::BD, 49, "windowMinY"},      {Form::BD, 140, "windowMaxX"},
    {Form::BD, 141, "windowMaxY"},    {Form::TV, 6, "plotView", kUntil2000},
    {Form::BD, 142, "scaleNumerator"},
    {Form::BD, 143, "scaleDenominator"}, {Form::TV, 7, "styleSheet"},    {Form::BS, 75, "standardScale"},
    {Form::BD, 147, "scaleFactor"},   {Form::BD, 148, "imageOriginX"},   {Form::BD, 149, "imageOriginY"},
    // 2004 on: shade plot mode, resolution level and custom dots per inch.
    {Form::BS, 76, {}, kFrom2004, 0}, {Form::BS, 77, {}, kFrom2004, 2}, {Form::BS, 78, {}, kFrom2004, 300},
};
constexpr Slot kLayoutSlots[] = {
    {Form::TV, 1, "name"},          {Form::BS, 71, "tabOrder"},    {Form::BS, 70, "flags"},
    {Form::BD3, 12, "insBase"},     {Form::RD2, 10, "limMin"},     {Form::RD2, 11, "limMax"},
    {Form::BD3, 13, "ucsOrigin"},   {Form::BD3, 16, "ucsXAxis"},   {Form::BD3, 17, "ucsYAxis"},
    {Form::BD, 146, "elevation"},   {Form::BS, 76, "orthoType"},   {Form::BD3, 14, "extMin"},
    {Form::BD3, 15, "extMax"},
};

// ------------------------------------------------------- layouts

// What a control object lists: its records, and the records it holds
// apart (the two spaces of the block table, BYBLOCK and BYLAYER of the
// linetype table; 2000 dimension style tables add a list of their own).
struct ControlLinks {
  std::vector<Handle> entries;
  std::vector<Handle> special;
  std::vector<Handle> more;
};

Form controlCountForm(std::int16_t type) {
  switch (type) {
    case dwg_type::kBlockControl:
    case dwg_type::kLayerControl:
    case dwg_type::kStyleControl:
    case dwg_type::kViewControl: return Form::BL;
    default: return Form::BS;
  }
}

template <class Io, class Links>
void controlLayout(Io& io, std::int16_t type, Links& c) {
  std::size_t n = c.entries.size();
  io.count(n, controlCountForm(type), 8, false, "table entries");
  std::size_t more = c.more.size();
  const bool dimstyles = type == dwg_type::kDimStyleControl && io.r2000();
  if (dimstyles) io.count(more, Form::RC, 8, false, "dimension style links");
  if (io.failed()) return;
  io.handles(2, n, c.entries);
  const std::size_t special = type == dwg_type::kBlockControl || type == dwg_type::kLinetypeControl ? 2 : 0;
  if constexpr (Io::kReads) c.special.assign(special, 0);
  for (std::size_t i = 0; i < special; ++i) io.handle(3, c.special[i]);
  if (dimstyles) io.handles(5, more, c.more);
}

// LAYER.  R13/R14 store frozen, off, frozen in new viewports and locked as
// bits; 2000 packs them with "plottable" and the lineweight index into one
// BS.  "Off" is the sign of the colour in the database.
template <class Io, class Rec>
void layerLayout(Io& io, Rec& rec, Handle& linetype) {
  std::int32_t state = 0;
  std::int32_t colour = 0;
  if constexpr (!Io::kReads) {
    const std::int32_t f = rec.common.flags;
    state = ((f & 1) ? 1 : 0) | (rec.data.colour < 0 ? 2 : 0) | ((f & 2) ? 4 : 0) | ((f & 4) ? 8 : 0);
    if (io.r2000()) state |= (rec.data.plot ? 16 : 0) | (dwgLineweightIndex(rec.data.lineweight) << 5);
    colour = rec.data.colour;
  }
  if (io.r2000()) {
    io.bs(state);
  } else {
    io.flag(state, 1);
    io.flag(state, 2);
    io.flag(state, 4);
    io.flag(state, 8);
  }
  io.cmc(colour);
  if (io.r2000()) io.handle(5, rec.data.plotStyle);
  if (io.release() >= Release::R2007) {
    Handle material = 0;  // the database keeps no materials
    io.handle(5, material);
  }
  io.handle(5, linetype);
  if constexpr (Io::kReads) {
    std::int32_t& f = rec.common.flags;
    f = (f & ~7) | ((state & 1) ? 1 : 0) | ((state & 4) ? 2 : 0) | ((state & 8) ? 4 : 0);
    const std::int32_t shown = colour < 0 ? -colour : colour;
    rec.data.colour = (state & 2) ? -shown : shown;
    if (io.r2000()) {
      rec.data.plot = (state & 16) != 0;
      rec.data.lineweight = lineweightOfDwgIndex(static_cast<std::uint8_t>((state >> 5) & 31));
    }
  }
}

template <class Io, class Rec>
void styleLayout(Io& io, Rec& rec) {
  io.flag(rec.common.flags, 1);
  io.flag(rec.common.flags, 4);
  slots(io, rec.data, rec.common.extra, std::span<const Slot>(kStyleSlots));
}

// LTYPE.  A dash beyond a plain one (a shape or a text in the line) keeps
// its other values as the DXF groups 75, 340, 46, 50, 44, 45 and 9 among
// the record's extra groups, one run per such dash.
constexpr std::size_t kLinetypeTextArea = 256;
constexpr Slot kComplexDashSlots[] = {
    {Form::BS, 75}, {Form::BD, 46, {}, kR13On, 1}, {Form::Angle, 50}, {Form::BD, 44}, {Form::BD, 45},
};

template <class Io, class Rec>
void linetypeLayout(Io& io, Rec& rec) {
  auto& lt = rec.data;
  io.tv(lt.description);
  io.bd(lt.patternLength);
  io.rc(lt.alignment);
  std::size_t n = lt.dashes.size();
  io.count(n, Form::RC, 2 + 2 + 64 + 64 + 2 + 2 + 2, true, "dashes");
  if (io.failed()) return;
  if constexpr (Io::kReads) lt.dashes.assign(n, Dash{});
  std::string area;
  std::size_t complexDash = 0;
  std::vector<Handle> styles(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    auto& dash = lt.dashes[i];
    io.bd(dash.length);
    Value shapeNumber, scale, rotation, dx, dy;
    const bool complex = dash.shape != 0;
    if constexpr (!Io::kReads) {
      const std::vector<RawTag>& extra = rec.common.extra;
      const std::size_t k = complex ? complexDash : 0;
      shapeNumber = complex ? kept(extra, kComplexDashSlots[0], k) : Value{};
      scale = complex ? kept(extra, kComplexDashSlots[1], k) : Value{1, 1, {}, {}};
      rotation = complex ? kept(extra, kComplexDashSlots[2], k) : Value{};
      dx = complex ? kept(extra, kComplexDashSlots[3], k) : Value{};
      dy = complex ? kept(extra, kComplexDashSlots[4], k) : Value{};
      if (complex) {
        if (const RawTag* style = keptTag(extra, 340, k)) styles[i] = static_cast<Handle>(style->integer);
        if (dash.shape & 2)
          if (const RawTag* text = keptTag(extra, 9, k)) area += text->text + '\0';
      }
    }
    io.value(Form::BS, shapeNumber);
    io.rd(dx.real);
    io.rd(dy.real);
    io.bd(scale.real);
    io.value(Form::Angle, rotation);
    io.bs(dash.shape);
    if constexpr (Io::kReads) {
      if (dash.shape != 0) {
        auto& extra = rec.common.extra;
        keep(extra, 75, shapeNumber, Form::BS);
        keep(extra, 46, scale, Form::BD);
        keep(extra, 50, rotation, Form::Angle);
        keep(extra, 44, dx, Form::BD);
        keep(extra, 45, dy, Form::BD);
      }
    }
    if (complex) ++complexDash;
  }
  if constexpr (!Io::kReads) {
    if (area.size() > kLinetypeTextArea) {
      io.fail("texts of the linetype's dashes longer than " + std::to_string(kLinetypeTextArea) + " bytes");
      return;
    }
    area.resize(kLinetypeTextArea, '\0');
  }
  if (io.release() < Release::R2007) {
    io.raw(kLinetypeTextArea, area);
  } else if (std::any_of(lt.dashes.begin(), lt.dashes.end(), [](const Dash& d) { return (d.shape & 2) != 0; })) {
    // From 2007 on the area holds UTF-16 texts and is there only when a
    // dash shows a text.
    std::string units;
    io.raw(2 * kLinetypeTextArea, units);
    if constexpr (Io::kReads) area = dwgUtf8OfUtf16(units);
  }
  for (Handle& style : styles) io.handle(5, style);
  if constexpr (Io::kReads) {
    // The texts follow one another in the order of the dashes that show one.
    auto& extra = rec.common.extra;
    std::size_t at = 0;
    for (std::size_t i = 0; i < n; ++i) {
      if (lt.dashes[i].shape == 0) continue;
      extra.push_back(tagFor(340, Value{0, static_cast<std::int64_t>(styles[i]), {}, {}}, Form::BL));
      if ((lt.dashes[i].shape & 2) == 0) continue;
      while (at < area.size() && area[at] == '\0') ++at;
      const std::size_t end = std::min(area.find('\0', at), area.size());
      extra.push_back(tagFor(9, Value{0, 0, area.substr(at, end - at), {}}, Form::TV));
      at = end;
    }
  }
}


// VIEW and VPORT keep their view mode in four bits, first read the value
// 8.  Of DXF's group 71 (1 perspective, 2 front clip, 4 back clip, 8 UCS
// follows, 16 front clip not at the eye) they hold 2 and 4 as they are,
// perspective as 8, and "front clip at the eye" as 1: files with 1 there
// have 71 = 0 in their DXF twins, a file with 0 has 71 = 16.  VPORT keeps
// "UCS follows" in a bit of its own.
std::int32_t fourBitsOfViewMode(std::int32_t mode) {
  return (mode & 6) | ((mode & 1) != 0 ? 8 : 0) | ((mode & 16) != 0 ? 0 : 1);
}
std::int32_t viewModeOfFourBits(std::int32_t bits) {
  return (bits & 6) | ((bits & 8) != 0 ? 1 : 0) | ((bits & 1) != 0 ? 0 : 16);
}

template <class Io, class Rec>
void viewModeBits(Io& io, Rec& rec) {
  std::int32_t bits = 0;
  if constexpr (!Io::kReads) bits = fourBitsOfViewMode(rec.data.viewMode);
  io.fourBits(bits);
  if constexpr (Io::kReads) rec.data.viewMode = viewModeOfFourBits(bits);
}

// One value kept among the extra groups (no member holds it).
template <class Io, class Kept>
void keptValue(Io& io, Kept& extra, const Slot& s) {
  if (!s.in.has(io.release())) return;
  if constexpr (Io::kReads) {
    Value v;
    io.value(s.form, v);
    if (!io.failed()) keep(extra, s.code, v, s.form);
  } else {
    io.value(s.form, kept(extra, s));
  }
}

// A handle kept as its DXF group among the extra groups.
template <class Io, class Kept>
void keptHandle(Io& io, Kept& extra, int code) {
  Handle h = 0;
  if constexpr (!Io::kReads) h = static_cast<Handle>(kept(extra, Slot{Form::BL, code}).integer);
  io.handle(5, h);
  if constexpr (Io::kReads)
    if (!io.failed()) extra.push_back(tagFor(code, Value{0, static_cast<std::int64_t>(h), {}, {}}, Form::BL));
}

// VIEW.  2007 on adds the lighting of VPORT after the render mode, the
// "camera plottable" bit after the UCS and, among the handles, the
// background, visual style and sun before the UCS's and the live section
// after them; the database keeps none of these.
template <class Io, class Rec>
void viewLayout(Io& io, Rec& rec) {
  auto& extra = rec.common.extra;
  slots(io, rec.data, extra, std::span<const Slot>(kViewSlots));
  viewModeBits(io, rec);
  keptValue(io, extra, Slot{Form::RC, 281, {}, kFrom2000});
  slots(io, rec.data, extra, std::span<const Slot>(kVportLightingSlots));
  io.flag(rec.common.flags, 1);  // a paper-space view
  if (!io.r2000()) return;
  std::int32_t associated = 0;
  if constexpr (!Io::kReads) associated = static_cast<std::int32_t>(kept(extra, Slot{Form::B, 72}).integer);
  io.b(associated);
  if constexpr (Io::kReads) keep(extra, 72, Value{0, associated, {}, {}}, Form::B);
  if (associated != 0) slots(io, rec.data, extra, std::span<const Slot>(kViewUcsSlots));
  const bool r2007 = io.release() >= Release::R2007;
  Handle none = 0;
  if (r2007) {
    std::int32_t cameraPlottable = 0;
    io.b(cameraPlottable);
    io.handle(4, none);  // background
    io.handle(5, none);  // visual style
    io.handle(3, none);  // sun
  }
  if (associated != 0) {
    keptHandle(io, extra, 346);
    keptHandle(io, extra, 345);
  }
  if (r2007) io.handle(4, none);  // live section
}

template <class Io, class Rec>
void ucsLayout(Io& io, Rec& rec) {
  auto& extra = rec.common.extra;
  slots(io, rec.data, extra, std::span<const Slot>(kUcsSlots));
  if (!io.r2000()) return;
  // Orthographic UCSs based on this one: (type 71, origin 13) pairs.
  std::size_t n = 0;
  if constexpr (!Io::kReads)
    n = static_cast<std::size_t>(std::count_if(extra.begin(), extra.end(), [](const RawTag& t) { return t.code == 71; }));
  io.count(n, Form::BS, 2 + 6, true, "orthographic UCSs");
  for (std::size_t i = 0; i < n && !io.failed(); ++i) {
    Value type, origin;
    if constexpr (!Io::kReads) {
      type = kept(extra, Slot{Form::BS, 71}, i);
      origin = kept(extra, Slot{Form::BD3, 13}, i);
    }
    io.value(Form::BS, type);
    io.value(Form::BD3, origin);
    if constexpr (Io::kReads) {
      keep(extra, 71, type, Form::BS);
      keep(extra, 13, origin, Form::BD3);
    }
  }
  keptHandle(io, extra, 346);
  keptHandle(io, extra, 345);
}

template <class Io, class Rec>
void vportLayout(Io& io, Rec& rec) {
  auto& v = rec.data;
  auto& extra = rec.common.extra;
  io.bd(v.height);
  // The database keeps the aspect ratio (DXF 41), the file the width.
  double width = 0;
  if constexpr (!Io::kReads) width = v.aspect * v.height;
  io.bd(width);
  if constexpr (Io::kReads) v.aspect = v.height != 0 ? width / v.height : 0;
  slots(io, v, extra, std::span<const Slot>(kVportViewSlots));
  viewModeBits(io, rec);
  keptValue(io, extra, Slot{Form::RC, 281, {}, kFrom2000});
  slots(io, v, extra, std::span<const Slot>(kVportLightingSlots));
  slots(io, v, extra, std::span<const Slot>(kVportCornerSlots));
  std::int32_t follow = 0;
  if constexpr (!Io::kReads) follow = (v.viewMode & 8) != 0 ? 1 : 0;
  io.b(follow);
  if constexpr (Io::kReads)
    if (follow != 0) v.viewMode |= 8;
  slots(io, v, extra, std::span<const Slot>(kVportGridSlots));
  if (!io.r2000()) return;
  std::int32_t atOrigin = 0;  // no DXF group
  io.b(atOrigin);
  slots(io, v, extra, std::span<const Slot>(kVportUcsSlots));
  if (io.release() >= Release::R2007) {
    // Background, visual style and sun.
    Handle none = 0;
    io.handle(4, none);
    io.handle(5, none);
    io.handle(3, none);
  }
  keptHandle(io, extra, 345);
  keptHandle(io, extra, 346);
}

template <class Io, class Rec>
void appidLayout(Io& io, Rec&) {
  std::int32_t unknown = 0;
  io.rc(unknown);
}

template <class Io, class Rec>
void dimstyleLayout(Io& io, Rec& rec) {
  auto& extra = rec.common.extra;
  if (io.r2000()) slots(io, rec.data, extra, std::span<const Slot>(kDimStyle2000Slots));
  else slots(io, rec.data, extra, std::span<const Slot>(kDimStyleR14Slots));
  std::int32_t flag = 0;  // always 0
  io.b(flag);
  io.handle(5, rec.data.textStyle);
  if (!io.r2000()) return;
  for (int code : {341, 342, 343, 344}) keptHandle(io, extra, code);
  if (io.release() < Release::R2007) return;
  // The linetypes of the dimension line and the extension lines.
  Handle linetype = 0;
  for (int i = 0; i < 3; ++i) io.handle(5, linetype);
}

// BLOCK_HEADER.  `first` and `last` are the ends of the block's entity
// chain (R13 to 2000); 2004 on lists every entity the block owns in
// `owned`.  2000 also lists the inserts that name the block.  A preview
// image is kept as the DXF groups 310 of the record.
template <class Io, class Block>
void blockLayout(Io& io, Block& b, Handle& first, Handle& last, std::vector<Handle>& owned,
                 std::vector<Handle>& inserts) {
  io.flag(b.flags, 1);
  io.flag(b.flags, 2);
  io.flag(b.flags, 4);
  io.flag(b.flags, 8);
  if (io.r2000()) io.flag(b.flags, 32);
  const bool r2004 = io.release() >= Release::R2004;
  std::size_t ownedCount = owned.size();
  if (r2004 && (b.flags & 12) == 0) io.count(ownedCount, Form::BL, 8, false, "owned entities");
  io.bd3(b.base);
  io.tv(b.xrefPath);
  std::size_t counted = inserts.size();
  if (io.r2000()) {
    if constexpr (Io::kReads) {
      counted = 0;
      std::int32_t mark = 0;
      for (io.rc(mark); mark != 0 && !io.failed(); io.rc(mark)) ++counted;
    } else {
      for (std::size_t i = 0; i < counted; ++i) io.rc(1);
      io.rc(0);
    }
    io.tv(b.description);
    std::string preview;
    if constexpr (!Io::kReads)
      for (const RawTag& t : b.recordExtra)
        if (t.code == 310) preview += t.text;
    std::size_t size = preview.size();
    io.count(size, Form::BL, 8, true, "preview bytes");
    io.raw(size, preview);
    if constexpr (Io::kReads) {
      for (std::size_t at = 0; at < preview.size() && !io.failed(); at += 127) {
        RawTag chunk;
        chunk.code = 310;
        chunk.type = TagType::Binary;
        chunk.text = preview.substr(at, 127);
        b.recordExtra.push_back(std::move(chunk));
      }
    }
  }
  if (io.release() >= Release::R2007) {
    // Insert units (DXF 70 of the BLOCK_RECORD), explodable, scaling.
    std::int32_t units = 0, explodable = 1, scaling = 0;
    io.bs(units);
    io.b(explodable);
    io.rc(scaling);
  }
  if (io.failed()) return;
  io.handle(3, b.blockHandle);
  if ((b.flags & 12) == 0 && !r2004) {
    io.handle(4, first);
    io.handle(4, last);
  }
  if (r2004 && (b.flags & 12) == 0) {
    io.handles(3, ownedCount, owned);
    if (io.failed()) return;
  }
  io.handle(3, b.endHandle);
  if (io.r2000()) {
    if constexpr (Io::kReads)
      if (counted * 8 > io.handleBitsLeft()) {
        io.fail("count of inserts (" + std::to_string(counted) + ") beyond the object's bits");
        return;
      }
    io.handles(4, counted, inserts);
    io.handle(5, b.layout);
  }
}

// DICTIONARY (and the dictionary part of ACDBDICTIONARYWDFLT, which has
// the 2000 form in every release: the R14 files that hold one have it).
// R13 has no hard-owner byte, only 2000 the cloning flag.
template <class Io, class Dict>
void dictionaryLayout(Io& io, Dict& d, bool withDefault = false) {
  std::size_t n = d.entries.size();
  io.count(n, Form::BL, 2, true, "dictionary entries");
  if constexpr (Io::kReads)
    if (n * 8 > io.handleBitsLeft()) {
      io.fail("count of dictionary entries (" + std::to_string(n) + ") beyond the object's handles");
      return;
    }
  if (io.r2000() || withDefault) io.bs(d.cloning);
  std::int32_t hard = d.hardOwner ? 1 : 0;
  if (io.release() >= Release::R14 || withDefault) io.rc(hard);
  if constexpr (Io::kReads) {
    d.hardOwner = hard != 0;
    d.entries.assign(n, DictionaryEntry{});
  }
  if (io.failed()) return;
  for (auto& e : d.entries) io.tv(e.name);
  for (auto& e : d.entries) io.handle(d.hardOwner ? 3 : 2, e.object);
}

// LAYOUT.  2004 on names its plot view by a handle, not by name, and
// lists the viewports of the layout (not kept: the viewports entities of
// its block are the layout's); 2007 on names the visual style of shaded
// plots after the plot view.
template <class Io, class L>
void layoutLayout(Io& io, L& layout) {
  std::vector<RawTag> none;
  slots(io, layout, none, std::span<const Slot>(kLayoutPlotSlots));
  slots(io, layout, none, std::span<const Slot>(kLayoutSlots));
  const bool r2004 = io.release() >= Release::R2004;
  std::vector<Handle> viewports;
  std::size_t count = 0;
  if (r2004) io.count(count, Form::BL, 8, false, "layout viewports");
  Handle plotView = 0;
  if (r2004) io.handle(5, plotView);
  Handle shadePlotStyle = 0;
  if (io.release() >= Release::R2007) io.handle(4, shadePlotStyle);
  io.handle(4, layout.blockRecord);
  io.handle(4, layout.viewport);
  io.handle(5, layout.baseUcs);
  io.handle(5, layout.namedUcs);
  if (r2004) io.handles(4, count, viewports);
}

template <class Io, class G>
void groupLayout(Io& io, G& g) {
  io.tv(g.description);
  io.bs(g.unnamed);
  io.bs(g.selectable);
  std::size_t n = g.entities.size();
  io.count(n, Form::BL, 8, false, "group members");
  io.handles(5, n, g.entities);
}


// --------------------------------------------- objects kept as DXF groups

// Objects the database does not model are kept as the groups a DXF file
// holds after the owner; these build and read such lists.
RawTag marker(std::string_view subclass) { return tagFor(100, Value{0, 0, std::string(subclass), {}}, Form::TV); }
RawTag textTag(int code, std::string text) { return tagFor(code, Value{0, 0, std::move(text), {}}, Form::TV); }
RawTag intTag(int code, std::int64_t v) { return tagFor(code, Value{0, v, {}, {}}, Form::BL); }
RawTag realTag(int code, double v) { return tagFor(code, Value{v, 0, {}, {}}, Form::BD); }

// Reads the groups of a kept object one after another, markers skipped.
class TagCursor {
 public:
  explicit TagCursor(const std::vector<RawTag>& tags) : tags_(tags) {}
  // The next group if it has `code` (taken), else nullptr.
  const RawTag* take(int code) {
    while (at_ < tags_.size() && tags_[at_].code == 100) ++at_;
    if (at_ < tags_.size() && tags_[at_].code == code) return &tags_[at_++];
    return nullptr;
  }
  std::int64_t integer(int code, std::int64_t fallback) {
    const RawTag* t = take(code);
    return t == nullptr ? fallback : t->type == TagType::Real ? clampInt32(t->real) : t->integer;
  }
  double real(int code, double fallback) {
    const RawTag* t = take(code);
    return t == nullptr ? fallback : realOf(*t);
  }
  std::string text(int code) {
    const RawTag* t = take(code);
    return t == nullptr ? std::string() : t->text;
  }
  bool atEnd() {
    while (at_ < tags_.size() && tags_[at_].code == 100) ++at_;
    return at_ >= tags_.size();
  }
  const RawTag& next() { return tags_[at_++]; }

 private:
  const std::vector<RawTag>& tags_;
  std::size_t at_ = 0;
};

// MLINESTYLE.  A line's linetype is an index: 32767 BYLAYER, 32766
// BYBLOCK, else the position among the linetype table's entries; from 2018
// on a handle (its index reads as BYLAYER until the handle is resolved).
// The DXF group 6 names it.
struct MlineLine {
  std::size_t tag;
  std::int32_t index;
  Handle record;
};
constexpr std::int32_t kMlineByLayer = 32767;
constexpr std::int32_t kMlineByBlock = 32766;

Status readMlineStyle(BodyIn& io, std::vector<RawTag>& tags, std::vector<MlineLine>& linetypes) {
  std::string name, description;
  std::int32_t flags = 0, fill = 0, count = 0;
  double start = 0, end = 0;
  io.tv(name);
  io.tv(description);
  io.bs(flags);
  io.cmc(fill);
  io.angle(start);
  io.angle(end);
  std::size_t n = 0;
  io.count(n, Form::RC, 2 + 2 + 2, true, "multiline style lines");
  count = static_cast<std::int32_t>(n);
  tags = {marker("AcDbMlineStyle"), textTag(2, name), intTag(70, flags), textTag(3, description), intTag(62, fill),
          realTag(51, start), realTag(52, end), intTag(71, count)};
  for (std::size_t i = 0; i < n && !io.failed(); ++i) {
    double offset = 0;
    std::int32_t colour = 0, linetype = 0;
    Handle record = 0;
    io.bd(offset);
    io.cmc(colour);
    if (io.release() >= Release::R2018) {
      io.handle(5, record);
      linetype = kMlineByLayer;
    } else {
      io.bs(linetype);
    }
    tags.push_back(realTag(49, offset));
    tags.push_back(intTag(62, colour));
    linetypes.push_back({tags.size(), linetype, record});
    tags.push_back(textTag(6, linetype == kMlineByBlock ? "BYBLOCK" : "BYLAYER"));
  }
  return io.status();
}

void writeMlineStyle(BodyOut& io, const std::vector<RawTag>& tags, const std::vector<std::string>& linetypes, bool upper) {
  TagCursor c(tags);
  std::string name = c.text(2);
  const std::int32_t flags = static_cast<std::int32_t>(c.integer(70, 0));
  io.tv(upper ? dwgR14Name(name) : name);
  io.tv(c.text(3));
  io.bs(flags);
  io.cmc(static_cast<std::int32_t>(c.integer(62, 256)));
  io.angle(c.real(51, 90));
  io.angle(c.real(52, 90));
  const auto n = static_cast<std::size_t>(std::max<std::int64_t>(0, c.integer(71, 0)));
  io.count(n, Form::RC, 0, true, "multiline style lines");
  for (std::size_t i = 0; i < n && !io.failed(); ++i) {
    io.bd(c.real(49, 0));
    io.cmc(static_cast<std::int32_t>(c.integer(62, 256)));
    const std::string lt = c.text(6);
    std::int32_t index = kMlineByLayer;
    if (sameName(lt, "BYBLOCK")) {
      index = kMlineByBlock;
    } else if (!lt.empty() && !sameName(lt, "BYLAYER")) {
      for (std::size_t k = 0; k < linetypes.size(); ++k)
        if (sameName(linetypes[k], lt)) index = static_cast<std::int32_t>(k);
    }
    io.bs(index);
  }
}

// XRECORD: its groups stored as (RS code, value) records in a byte run.
// Angles (groups 50-58) are held in radians where DXF holds degrees.
bool xrecordPoint(int code) {
  return (code >= 10 && code <= 18) || (code >= 110 && code <= 112) || code == 210 || (code >= 1010 && code <= 1013);
}
bool xrecordByte(int code) { return (code >= 280 && code <= 299); }
bool xrecordAngle(int code) { return code >= 50 && code <= 58; }

// Texts are RS length, RC code page and the bytes up to 2004; from 2007 on
// RS length in UTF-16 units and the units.
Status parseXrecordData(std::string_view bytes, Release release, std::vector<RawTag>& tags) {
  DwgBitReader r(bytes);
  while (r.bitsLeft() > 0 && !r.failed()) {
    const int code = static_cast<std::int16_t>(r.readRawShort());
    if (r.failed()) break;
    const TagType type = tagTypeOf(code);
    if (xrecordPoint(code)) {
      const DwgPoint3 p = r.readRawPoint3();
      tags.push_back(realTag(code, p.x));
      tags.push_back(realTag(code + 10, p.y));
      tags.push_back(realTag(code + 20, p.z));
      continue;
    }
    RawTag t;
    t.code = code;
    t.type = type;
    switch (type) {
      case TagType::String:
      case TagType::Comment: {
        const std::size_t length = r.readRawShort();
        if (release >= Release::R2007) {
          t.text = dwgUtf8OfUtf16(r.readRawBytes(2 * length));
          break;
        }
        r.readRawChar();  // code page
        t.text = r.readRawBytes(length);
        break;
      }
      case TagType::Binary: t.text = r.readRawBytes(r.readRawChar()); break;
      case TagType::Real:
        t.real = r.readRawDouble();
        if (xrecordAngle(code)) t.real *= 180.0 / std::numbers::pi;
        break;
      case TagType::Handle:
      case TagType::Int64: t.integer = static_cast<std::int64_t>(r.readRawLongLong()); break;
      case TagType::Int32: t.integer = static_cast<std::int32_t>(r.readRawLong()); break;
      case TagType::Bool: t.integer = r.readRawChar(); break;
      case TagType::Int16:
        t.integer = xrecordByte(code) ? r.readRawChar() : static_cast<std::int16_t>(r.readRawShort());
        break;
    }
    if (r.failed()) break;
    tags.push_back(std::move(t));
  }
  if (r.failed()) return Status::fail(StatusCode::BadFile, "xrecord data: " + r.failure());
  return {};
}

Status buildXrecordData(TagCursor& c, std::string& bytes) {
  DwgBitWriter w;
  while (!c.atEnd()) {
    const RawTag& t = c.next();
    if (t.code < 0 || t.code > 0x7FFF) return Status::fail(StatusCode::OutOfRange, "xrecord group code " + std::to_string(t.code));
    w.writeRawShort(static_cast<std::uint16_t>(t.code));
    if (xrecordPoint(t.code)) {
      DwgPoint3 p{realOf(t), 0, 0};
      if (const RawTag* y = c.take(t.code + 10)) p.y = realOf(*y);
      if (const RawTag* z = c.take(t.code + 20)) p.z = realOf(*z);
      w.writeRawPoint3(p);
      continue;
    }
    switch (tagTypeOf(t.code)) {
      case TagType::String:
      case TagType::Comment:
        if (t.text.size() > 0xFFFF) return Status::fail(StatusCode::OutOfRange, "xrecord text longer than 65535 bytes");
        w.writeRawShort(static_cast<std::uint16_t>(t.text.size()));
        w.writeRawChar(30);
        w.writeRawBytes(t.text);
        break;
      case TagType::Binary:
        if (t.text.size() > 0xFF) return Status::fail(StatusCode::OutOfRange, "xrecord binary group longer than 255 bytes");
        w.writeRawChar(static_cast<std::uint8_t>(t.text.size()));
        w.writeRawBytes(t.text);
        break;
      case TagType::Real: w.writeRawDouble(xrecordAngle(t.code) ? realOf(t) * (std::numbers::pi / 180.0) : realOf(t)); break;
      case TagType::Handle:
      case TagType::Int64: w.writeRawLongLong(static_cast<std::uint64_t>(t.integer)); break;
      case TagType::Int32: w.writeRawLong(static_cast<std::uint32_t>(t.integer)); break;
      case TagType::Bool: w.writeRawChar(static_cast<std::uint8_t>(t.integer)); break;
      case TagType::Int16:
        if (xrecordByte(t.code)) w.writeRawChar(static_cast<std::uint8_t>(t.integer));
        else w.writeRawShort(static_cast<std::uint16_t>(t.integer));
        break;
    }
  }
  bytes = w.bytes();
  return {};
}

}  // namespace
}  // namespace drawingdb

namespace drawingdb {

// ------------------------------------------------------- reading

namespace {

// The groups a DXF file holds of objects kept with their bits whose
// fields are known.  IMAGEDEF: BL class version, 2RD size in pixels, TV
// file name, B loaded, RC resolution unit, 2RD size of a pixel.
// IMAGEDEF_REACTOR: BL class version.  ACAD_PROXY_OBJECT (2000 on): as
// ACAD_PROXY_ENTITY (dwg_entities.cpp), BL class id, the drawing format
// (2018 on: release and maintenance release apart), B original format.
Status keptObjectGroups(BodyIn& io, std::int16_t type, std::string_view cls, std::vector<RawTag>& tags) {
  const Release r = io.release();
  Value v;
  const auto take = [&](int code, Form f) {
    io.value(f, v);
    keep(tags, code, v, f);
  };
  if (cls == "IMAGEDEF") {
    tags.push_back(marker("AcDbRasterImageDef"));
    take(90, Form::BL);
    Value size, name, loaded, unit, pixel;
    io.value(Form::RD2, size);
    io.value(Form::TV, name);
    io.value(Form::B, loaded);
    io.value(Form::RC, unit);
    io.value(Form::RD2, pixel);
    keep(tags, 1, name, Form::TV);
    keep(tags, 10, size, Form::RD2);
    keep(tags, 11, pixel, Form::RD2);
    keep(tags, 280, loaded, Form::B);
    keep(tags, 281, unit, Form::RC);
  } else if (cls == "IMAGEDEF_REACTOR") {
    tags.push_back(marker("AcDbRasterImageDefReactor"));
    take(90, Form::BL);
  } else if (type == dwg_type::kProxyObject && r >= Release::R2000) {
    tags.push_back(marker("AcDbProxyObject"));
    tags.push_back(intTag(90, dwg_type::kProxyObject));
    take(91, Form::BL);
    Value format;
    io.value(Form::BL, format);
    if (r >= Release::R2018) {
      Value maintenance;
      io.value(Form::BL, maintenance);
      format.integer = (format.integer & 0xFFFF) | (maintenance.integer & 0xFFFF) << 16;
    }
    keep(tags, 95, format, Form::BL);
    take(70, Form::B);
  }
  return io.status();
}

std::string hexHandle(Handle h) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[h & 15]);
    h >>= 4;
  } while (h != 0);
  return s;
}

Status damaged(std::string_view kind, Handle h, const Status& why) {
  return Status::fail(why.code == StatusCode::Ok ? StatusCode::BadFile : why.code,
                      std::string(kind) + " " + hexHandle(h) + ": " + why.detail);
}

template <class R>
SymbolTable<R>& tableOf(Database& db);
template <> SymbolTable<Layer>& tableOf<Layer>(Database& db) { return db.layers; }
template <> SymbolTable<TextStyle>& tableOf<TextStyle>(Database& db) { return db.styles; }
template <> SymbolTable<Linetype>& tableOf<Linetype>(Database& db) { return db.linetypes; }
template <> SymbolTable<View>& tableOf<View>(Database& db) { return db.views; }
template <> SymbolTable<Ucs>& tableOf<Ucs>(Database& db) { return db.ucs; }
template <> SymbolTable<Vport>& tableOf<Vport>(Database& db) { return db.vports; }
template <> SymbolTable<AppId>& tableOf<AppId>(Database& db) { return db.appids; }
template <> SymbolTable<DimStyle>& tableOf<DimStyle>(Database& db) { return db.dimstyles; }

// Puts a table's records in the order of the control object's special
// records and entries; records it does not list follow.
template <class Item, class HandleOf>
void orderBy(std::vector<Item>& items, const std::vector<Handle>& first, const std::vector<Handle>& then, HandleOf handleOf) {
  std::unordered_map<Handle, std::size_t> rank;
  for (Handle h : first)
    if (h != 0) rank.emplace(h, rank.size());
  for (Handle h : then)
    if (h != 0) rank.emplace(h, rank.size());
  std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    const auto ra = rank.find(handleOf(a));
    const auto rb = rank.find(handleOf(b));
    return (ra == rank.end() ? SIZE_MAX : ra->second) < (rb == rank.end() ? SIZE_MAX : rb->second);
  });
}

}  // namespace

Status DwgRecordReader::read(DwgObjectIn& in, DwgReadContext& ctx) {
  const Release r = ctx.release();
  const DwgObjectHead& head = in.head;
  BodyIn io(in.data, in.handles, head.handle, r, ctx.codePage());
  const ClassDef* classDef = head.type >= dwg_type::kFirstClass ? ctx.classOf(head.type) : nullptr;
  std::string_view cls = classDef != nullptr ? std::string_view(classDef->dxfName) : std::string_view();
  // Placeholders and layouts have type numbers of their own from 2004 on.
  if (r >= Release::R2004 && head.type == dwg_type::kPlaceholder) cls = "ACDBPLACEHOLDER";
  if (r >= Release::R2004 && head.type == dwg_type::kLayout) cls = "LAYOUT";
  // Table records begin with their name and xref data.
  auto recordHead = [&](std::string_view kind, std::string& name, std::int32_t& flags) -> Status {
    DwgRecordHead rh;
    if (Status s = readDwgRecordHead(in, ctx, rh); !s.ok()) return damaged(kind, head.handle, s);
    name = std::move(rh.name);
    if (rh.xrefDependent) flags |= 16;
    return {};
  };

  auto common = [&](RecordCommon& c) {
    c.handle = head.handle;
    c.owner = head.owner;
    c.reactors = head.reactors;
    c.xdictionary = head.xdictionary;
    c.xdata = head.xdata;
  };
  auto record = [&]<class R>(std::string_view kind, auto layout) -> Status {
    Record<R> rec;
    common(rec.common);
    if (Status s = recordHead(kind, rec.common.name, rec.common.flags); !s.ok()) return s;
    layout(io, rec);
    if (io.failed()) return damaged(kind, head.handle, io.status());
    tableOf<R>(db_).records.push_back(std::move(rec));
    return {};
  };
  auto control = [&](std::string_view kind, Handle* tableHandle) -> Status {
    ControlLinks links;
    controlLayout(io, head.type, links);
    if (io.failed()) return damaged(kind, head.handle, io.status());
    if (tableHandle != nullptr) *tableHandle = head.handle;
    Control& c = controls_[head.type];
    c.entries = std::move(links.entries);
    c.special = std::move(links.special);
    return {};
  };
  auto object = [&](std::string dxfName, ObjectKind kind, ObjectData data) {
    Object o;
    o.kind = kind;
    o.dxfName = std::move(dxfName);
    o.handle = head.handle;
    o.owner = head.owner;
    o.readIn = r;
    o.reactors = head.reactors;
    o.xdictionary = head.xdictionary;
    o.data = std::move(data);
    if (kind == ObjectKind::Dictionary && o.owner == 0 && db_.rootDictionary == 0) db_.rootDictionary = o.handle;
    db_.objects.push_back(std::move(o));
  };

  using namespace dwg_type;
  switch (head.type) {
    case kBlockControl: return control("BLOCK_CONTROL", &db_.blockTable);
    case kLayerControl: return control("LAYER_CONTROL", &db_.layers.handle);
    case kStyleControl: return control("STYLE_CONTROL", &db_.styles.handle);
    case kLinetypeControl: return control("LTYPE_CONTROL", &db_.linetypes.handle);
    case kViewControl: return control("VIEW_CONTROL", &db_.views.handle);
    case kUcsControl: return control("UCS_CONTROL", &db_.ucs.handle);
    case kVportControl: return control("VPORT_CONTROL", &db_.vports.handle);
    case kAppIdControl: return control("APPID_CONTROL", &db_.appids.handle);
    case kDimStyleControl: return control("DIMSTYLE_CONTROL", &db_.dimstyles.handle);
    case kVxControl: return control("VX_CONTROL", nullptr);
    case kLayer: {
      Handle linetype = 0;
      const Status s = record.operator()<Layer>("LAYER", [&](BodyIn& b, Record<Layer>& rec) { layerLayout(b, rec, linetype); });
      if (s.ok() && linetype != 0) layerLinetypes_[head.handle] = linetype;
      return s;
    }
    case kStyle: return record.operator()<TextStyle>("STYLE", [](BodyIn& b, Record<TextStyle>& rec) { styleLayout(b, rec); });
    case kLinetype: return record.operator()<Linetype>("LTYPE", [](BodyIn& b, Record<Linetype>& rec) { linetypeLayout(b, rec); });
    case kView: return record.operator()<View>("VIEW", [](BodyIn& b, Record<View>& rec) { viewLayout(b, rec); });
    case kUcs: return record.operator()<Ucs>("UCS", [](BodyIn& b, Record<Ucs>& rec) { ucsLayout(b, rec); });
    case kVport: return record.operator()<Vport>("VPORT", [](BodyIn& b, Record<Vport>& rec) { vportLayout(b, rec); });
    case kAppId: return record.operator()<AppId>("APPID", [](BodyIn& b, Record<AppId>& rec) { appidLayout(b, rec); });
    case kDimStyle: return record.operator()<DimStyle>("DIMSTYLE", [](BodyIn& b, Record<DimStyle>& rec) { dimstyleLayout(b, rec); });
    case kVx: {
      // Viewport entity records: the database has no such table; their
      // entities carry what a drawing shows.
      std::string name;
      std::int32_t flags = 0;
      return recordHead("VX", name, flags);
    }
    case kBlockHeader: {
      BlockRecord b;
      b.handle = head.handle;
      b.reactors = head.reactors;
      b.xdictionary = head.xdictionary;
      b.recordXdata = head.xdata;
      if (Status s = recordHead("BLOCK_HEADER", b.name, b.flags); !s.ok()) return s;
      BlockChain chain;
      blockLayout(io, b, chain.first, chain.last, chain.owned, chain.inserts);
      if (io.failed()) return damaged("BLOCK_HEADER", head.handle, io.status());
      chain.record = head.handle;
      chains_.push_back(std::move(chain));
      db_.blocks.push_back(std::move(b));
      return {};
    }
    case kDictionary: {
      Dictionary d;
      dictionaryLayout(io, d);
      if (io.failed()) return damaged("DICTIONARY", head.handle, io.status());
      object("DICTIONARY", ObjectKind::Dictionary, std::move(d));
      return {};
    }
    case kGroup: {
      Group g;
      groupLayout(io, g);
      if (io.failed()) return damaged("GROUP", head.handle, io.status());
      object("GROUP", ObjectKind::Group, std::move(g));
      return {};
    }
    case kMLineStyle: {
      UnknownObject u;
      std::vector<MlineLine> linetypes;
      const Status s = readMlineStyle(io, u.tags, linetypes);
      if (!s.ok()) return damaged("MLINESTYLE", head.handle, s);
      for (const MlineLine& l : linetypes)
        if (l.record != 0 || (l.index != kMlineByLayer && l.index != kMlineByBlock))
          mlineLinetypes_.push_back({db_.objects.size(), l.tag, l.index, l.record});
      object("MLINESTYLE", ObjectKind::Unknown, std::move(u));
      return {};
    }
    default: break;
  }
  const bool xrecord = (head.type == kXRecord && r >= Release::R2000) || cls == "XRECORD";
  if (xrecord) {
    std::size_t size = 0;
    io.count(size, Form::BL, 8, true, "xrecord bytes");
    std::string bytes;
    if (!io.failed()) io.raw(size, bytes);
    std::int32_t cloning = 1;
    if (r >= Release::R2000) io.bs(cloning);
    if (io.failed()) return damaged("XRECORD", head.handle, io.status());
    UnknownObject u;
    u.tags.push_back(marker("AcDbXrecord"));
    if (r >= Release::R2000) u.tags.push_back(intTag(280, cloning));
    const Status s = parseXrecordData(bytes, r, u.tags);
    if (!s.ok()) return damaged("XRECORD", head.handle, s);
    // References of the owner's own run to the end of the handle stream;
    // each takes at least one byte.
    while (in.handles.bitsLeft() >= 8) {
      const DwgHandleRef ref = in.handles.readHandle();
      const std::optional<Handle> target = in.handles.failed() ? std::nullopt : resolveHandle(ref, head.handle);
      if (!target) return damaged("XRECORD", head.handle, Status::fail(StatusCode::BadFile, "invalid trailing reference"));
      // The relative forms (offsets from the own handle) are pointers.
      u.references.push_back({ref.code <= 5 ? ref.code : std::uint8_t{4}, *target});
    }
    object("XRECORD", ObjectKind::Unknown, std::move(u));
    return {};
  }
  if (cls == "ACDBDICTIONARYWDFLT") {
    Dictionary d;
    dictionaryLayout(io, d, true);
    Handle fallback = 0;
    io.handle(5, fallback);
    if (io.failed()) return damaged("ACDBDICTIONARYWDFLT", head.handle, io.status());
    UnknownObject u;
    u.tags.push_back(marker("AcDbDictionary"));
    if (d.hardOwner) u.tags.push_back(intTag(280, 1));
    u.tags.push_back(intTag(281, d.cloning));
    for (const DictionaryEntry& e : d.entries) {
      u.tags.push_back(textTag(3, e.name));
      u.tags.push_back(intTag(d.hardOwner ? 360 : 350, static_cast<std::int64_t>(e.object)));
    }
    u.tags.push_back(marker("AcDbDictionaryWithDefault"));
    u.tags.push_back(intTag(340, static_cast<std::int64_t>(fallback)));
    object("ACDBDICTIONARYWDFLT", ObjectKind::Unknown, std::move(u));
    return {};
  }
  if (cls == "ACDBPLACEHOLDER") {
    object("ACDBPLACEHOLDER", ObjectKind::Unknown, UnknownObject{});
    return {};
  }
  if (cls == "DICTIONARYVAR") {
    std::int32_t schema = 0;
    std::string value;
    io.rc(schema);
    io.tv(value);
    if (io.failed()) return damaged("DICTIONARYVAR", head.handle, io.status());
    object("DICTIONARYVAR", ObjectKind::Unknown,
           UnknownObject{{marker("DictionaryVariables"), intTag(280, schema), textTag(1, std::move(value))}, {}, {}});
    return {};
  }
  if (cls == "LAYOUT") {
    Layout l;
    layoutLayout(io, l);
    if (io.failed()) return damaged("LAYOUT", head.handle, io.status());
    object("LAYOUT", ObjectKind::Layout, std::move(l));
    return {};
  }
  // Objects declared value by value, read as their DXF groups; one whose
  // data the declarations do not hold keeps its bits.
  if (isDwgDeclaredObject(cls, r)) {
    UnknownObject declared;
    DwgBitReader probe = in.data;
    if (readDwgDeclaredObject(cls, probe, ctx.codePage(), declared.tags).ok() && probe.bitsLeft() == 0) {
      object(std::string(cls), ObjectKind::Unknown, std::move(declared));
      return {};
    }
  }
  // Not understood, or known only for the groups of a DXF file: kept with
  // its bits (the common data and links stay in the Object).
  UnknownObject u;
  u.dwg.type = classDef != nullptr ? 0 : head.type;
  DwgBitReader rest = in.restOfData();
  const std::size_t handlesAt = in.handles.bitPosition();
  if (Status s = keptObjectGroups(io, head.type, cls, u.tags); !s.ok()) return damaged(cls, head.handle, s);
  in.handles.seekBit(handlesAt);
  const std::size_t dataBits = rest.bitsLeft();
  const std::size_t handleBits = in.handles.bitsLeft();
  u.dwg.data = copyBits(rest, dataBits);
  u.dwg.dataBits = dataBits;
  u.dwg.handles = copyBits(in.handles, handleBits);
  u.dwg.handleBits = handleBits;
  if (in.data.failed() || rest.failed() || in.handles.failed())
    return damaged("object", head.handle, rest.failed() ? rest.status() : io.status());
  object(cls.empty() ? "DWG_OBJECT_" + std::to_string(head.type) : std::string(cls), ObjectKind::Unknown, std::move(u));
  return {};
}

void DwgRecordReader::finish(DwgReadContext& ctx) {
  using namespace dwg_type;
  auto links = [&](std::int16_t type) -> const Control& {
    static const Control kNone;
    const auto it = controls_.find(type);
    return it == controls_.end() ? kNone : it->second;
  };
  auto byHandle = [](const auto& rec) { return rec.common.handle; };
  orderBy(db_.layers.records, {}, links(kLayerControl).entries, byHandle);
  orderBy(db_.styles.records, {}, links(kStyleControl).entries, byHandle);
  orderBy(db_.linetypes.records, links(kLinetypeControl).special, links(kLinetypeControl).entries, byHandle);
  orderBy(db_.views.records, {}, links(kViewControl).entries, byHandle);
  orderBy(db_.ucs.records, {}, links(kUcsControl).entries, byHandle);
  orderBy(db_.vports.records, {}, links(kVportControl).entries, byHandle);
  orderBy(db_.appids.records, {}, links(kAppIdControl).entries, byHandle);
  orderBy(db_.dimstyles.records, {}, links(kDimStyleControl).entries, byHandle);
  orderBy(db_.blocks, links(kBlockControl).special, links(kBlockControl).entries,
          [](const BlockRecord& b) { return b.handle; });

  // Layers name their linetypes.
  std::unordered_map<Handle, std::string> linetypeNames;
  for (const auto& rec : db_.linetypes.records) linetypeNames.emplace(rec.common.handle, rec.common.name);
  for (auto& rec : db_.layers.records) {
    const auto link = layerLinetypes_.find(rec.common.handle);
    if (link == layerLinetypes_.end()) continue;
    const auto name = linetypeNames.find(link->second);
    if (name != linetypeNames.end()) rec.data.linetype = name->second;
    else ctx.warn("layer " + rec.common.name + " names a linetype that is not in the file");
  }
  // Multiline styles name theirs by position among the table's entries.
  const std::vector<Handle>& entries = links(kLinetypeControl).entries;
  for (const MlineLinetype& m : mlineLinetypes_) {
    if (m.object >= db_.objects.size()) continue;
    auto* u = std::get_if<UnknownObject>(&db_.objects[m.object].data);
    if (u == nullptr || m.tag >= u->tags.size()) continue;
    const auto index = static_cast<std::size_t>(m.index);
    const auto name = m.record != 0         ? linetypeNames.find(m.record)
                      : index < entries.size() ? linetypeNames.find(entries[index])
                                               : linetypeNames.end();
    if (name != linetypeNames.end()) u->tags[m.tag].text = name->second;
  }
  // Where each block's entities begin, by the block's final position.
  std::unordered_map<Handle, std::size_t> blockAt;
  for (std::size_t i = 0; i < db_.blocks.size(); ++i) blockAt.emplace(db_.blocks[i].handle, i);
  for (BlockChain& c : chains_) c.block = blockAt[c.record];
  db_.namesChanged();
}

// ------------------------------------------------------- writing

namespace {

// The object heads of what this writer writes.
struct Head {
  std::int16_t type = 0;
  Handle handle = 0;
  Handle owner = 0;
  const std::vector<Handle>* reactors = nullptr;
  Handle xdictionary = 0;
  const std::vector<RawTag>* xdata = nullptr;
};

// Writes one object: its head (and a table record's name), then `body` on
// the data (which gives the type's handle references in order), then
// those references.
template <class Body>
Status emit(const Head& head, DwgWriteContext& ctx, std::string_view kind, Body body, std::string& frame,
            const DwgRecordHead* record = nullptr) {
  DwgObjectOut out(ctx.release());
  DwgObjectHead common;
  common.type = head.type;
  common.handle = head.handle;
  common.owner = head.owner;
  if (head.reactors != nullptr) common.reactors = *head.reactors;
  common.xdictionary = head.xdictionary;
  if (head.xdata != nullptr) common.xdata = *head.xdata;
  if (Status s = out.begin(common, ctx); !s.ok()) return damaged(kind, head.handle, s);
  if (record != nullptr) out.writeRecordHead(*record, ctx);
  BodyOut io(out.data(), ctx.release(), ctx.codePage());
  body(io);
  if (io.failed()) return damaged(kind, head.handle, io.status());
  for (const DwgHandleRef& ref : io.refs) out.handle(ref.code, ref.value);
  if (io.keptHandles != nullptr) pasteBits(io.keptHandles->handles, io.keptHandles->handleBits, out.handles());
  if (Status s = out.finish(frame); !s.ok()) return damaged(kind, head.handle, s);
  return {};
}

DwgRecordHead recordHeadOf(const std::string& name, std::int32_t flags) {
  DwgRecordHead h;
  h.name = name;
  h.xrefDependent = (flags & 16) != 0;
  return h;
}

// The handle of the record a table names `name` (0 when none).
template <class R>
Handle recordHandle(const SymbolTable<R>& table, std::string_view name) {
  const Record<R>* rec = table.find(name);
  return rec == nullptr ? 0 : rec->common.handle;
}

// The placeholder "Normal" of the plot style dictionary: the plot style of
// layers that name none.
Handle normalPlotStyle(const Database& db) {
  const Object* root = nullptr;
  for (const Object& o : db.objects)
    if (o.handle == db.rootDictionary) root = &o;
  const auto* d = root != nullptr ? std::get_if<Dictionary>(&root->data) : nullptr;
  if (d == nullptr) return 0;
  for (const DictionaryEntry& e : d->entries) {
    if (e.name != "ACAD_PLOTSTYLENAME") continue;
    for (const Object& o : db.objects) {
      if (o.handle != e.object) continue;
      if (const auto* u = std::get_if<UnknownObject>(&o.data)) {
        TagCursor c(u->tags);
        while (!c.atEnd()) {
          const RawTag& t = c.next();
          if (t.code == 3 && t.text == "Normal")
            if (const RawTag* h = c.take(350)) return static_cast<Handle>(h->integer);
        }
      }
    }
  }
  return 0;
}

constexpr std::int16_t kControlOfTable[] = {dwg_type::kVportControl,  dwg_type::kLinetypeControl,
                                            dwg_type::kLayerControl,  dwg_type::kStyleControl,
                                            dwg_type::kViewControl,   dwg_type::kUcsControl,
                                            dwg_type::kAppIdControl,  dwg_type::kDimStyleControl,
                                            dwg_type::kBlockControl};
constexpr std::string_view kControlName[] = {"VPORT_CONTROL", "LTYPE_CONTROL", "LAYER_CONTROL",
                                             "STYLE_CONTROL", "VIEW_CONTROL",  "UCS_CONTROL",
                                             "APPID_CONTROL", "DIMSTYLE_CONTROL", "BLOCK_CONTROL"};

}  // namespace

DwgRecordWriter::DwgRecordWriter(const Database& db) : db_(db), arrows_(arrowBlocksOf(db)) {
  for (const Entity& e : db.entities)
    if (const auto* i = get_if<Insert>(&e.data)) insertsOf_[foldedName(i->block)].push_back(e.common.handle);
}

Status DwgRecordWriter::writeVxControl(Handle h, DwgWriteContext& ctx, std::string& frame) {
  ControlLinks none;
  return emit(Head{dwg_type::kVxControl, h}, ctx, "VX_CONTROL",
              [&](BodyOut& io) { controlLayout(io, dwg_type::kVxControl, none); }, frame);
}

bool DwgRecordWriter::isMlineStyleDictionary(Handle h) const {
  const HandleRef* root = db_.find(db_.rootDictionary);
  if (root == nullptr || root->kind != RefKind::Object || root->index >= db_.objects.size()) return false;
  if (const auto* d = std::get_if<Dictionary>(&db_.objects[root->index].data))
    for (const DictionaryEntry& e : d->entries)
      if (e.name == "ACAD_MLINESTYLE") return e.object == h;
  return false;
}

bool DwgRecordWriter::writes(const Object& o, Release r) const {
  if (const auto* u = std::get_if<UnknownObject>(&o.data)) {
    if (u->keepsDwgBits()) return o.readIn == r;
    return o.dxfName == "MLINESTYLE" || o.dxfName == "XRECORD" || o.dxfName == "DICTIONARYVAR" ||
           isDwgDeclaredObject(o.dxfName, r) ||
           (r >= Release::R2000 && (o.dxfName == "ACDBDICTIONARYWDFLT" || o.dxfName == "ACDBPLACEHOLDER"));
  }
  if (o.kind == ObjectKind::Layout) return r >= Release::R2000;
  return true;
}

Status DwgRecordWriter::write(Handle h, DwgWriteContext& ctx, std::string& frame) const {
  const HandleRef* ref = db_.find(h);
  if (ref == nullptr) return Status::fail(StatusCode::NotFound, "no object has the handle " + hexHandle(h));
  const Release r = ctx.release();
  const bool upper = r < Release::R2000;
  switch (ref->kind) {
    case RefKind::Table: {
      if (ref->index >= std::size(kControlOfTable)) break;
      const std::int16_t type = kControlOfTable[ref->index];
      ControlLinks links;
      auto list = [&](const auto& table) {
        for (const auto& rec : table.records)
          if (rec.common.handle != 0) links.entries.push_back(rec.common.handle);
      };
      switch (ref->index) {
        case 0: list(db_.vports); break;
        case 1:
          links.special = {recordHandle(db_.linetypes, "ByBlock"), recordHandle(db_.linetypes, "ByLayer")};
          for (const auto& rec : db_.linetypes.records)
            if (rec.common.handle != 0 && !sameName(rec.common.name, "ByBlock") && !sameName(rec.common.name, "ByLayer"))
              links.entries.push_back(rec.common.handle);
          break;
        case 2: list(db_.layers); break;
        case 3: list(db_.styles); break;
        case 4: list(db_.views); break;
        case 5: list(db_.ucs); break;
        case 6: list(db_.appids); break;
        case 7:
          list(db_.dimstyles);
          if (r >= Release::R2000) {
            Handle standard = recordHandle(db_.dimstyles, "Standard");
            if (standard == 0 && !links.entries.empty()) standard = links.entries.front();
            if (standard != 0) links.more.push_back(standard);
          }
          break;
        default: {
          Handle model = 0, paper = 0;
          for (const BlockRecord& b : db_.blocks) {
            if (sameName(b.name, "*Model_Space")) model = b.handle;
            else if (sameName(b.name, "*Paper_Space")) paper = b.handle;
            else if (b.handle != 0) links.entries.push_back(b.handle);
          }
          links.special = {model, paper};
          break;
        }
      }
      return emit(Head{type, h}, ctx, kControlName[ref->index],
                  [&](BodyOut& io) { controlLayout(io, type, links); }, frame);
    }
    case RefKind::Record: {
      auto record = [&]<class R>(const SymbolTable<R>& table, std::int16_t type, std::string_view kind, auto layout) -> Status {
        if (ref->sub >= table.records.size()) return Status::fail(StatusCode::NotFound, "record index out of range");
        Record<R> rec = table.records[ref->sub];
        // R13 and R14 hold the names of table records in upper case, but
        // an application's name as the application gives it.
        if (upper && !std::is_same_v<R, AppId>) rec.common.name = dwgR14Name(rec.common.name);
        const Head head{type, h, rec.common.owner != 0 ? rec.common.owner : table.handle, &rec.common.reactors,
                        rec.common.xdictionary, &rec.common.xdata};
        const DwgRecordHead named = recordHeadOf(rec.common.name, rec.common.flags);
        return emit(head, ctx, kind, [&](BodyOut& io) { layout(io, rec); }, frame, &named);
      };
      switch (ref->index) {
        case 0: return record(db_.vports, dwg_type::kVport, "VPORT", [](BodyOut& io, const auto& rec) { vportLayout(io, rec); });
        case 1: return record(db_.linetypes, dwg_type::kLinetype, "LTYPE", [](BodyOut& io, const auto& rec) { linetypeLayout(io, rec); });
        case 2:
          return record(db_.layers, dwg_type::kLayer, "LAYER", [&](BodyOut& io, Record<Layer>& rec) {
            // A layer always names a linetype record (a hard link).
            Handle linetype = ctx.linetypeHandle(rec.data.linetype);
            if (linetype == 0) linetype = ctx.linetypeHandle("Continuous");
            if (rec.data.plotStyle == 0) rec.data.plotStyle = normalPlotStyle(db_);
            layerLayout(io, std::as_const(rec), linetype);
          });
        case 3: return record(db_.styles, dwg_type::kStyle, "STYLE", [](BodyOut& io, const auto& rec) { styleLayout(io, rec); });
        case 4: return record(db_.views, dwg_type::kView, "VIEW", [](BodyOut& io, const auto& rec) { viewLayout(io, rec); });
        case 5: return record(db_.ucs, dwg_type::kUcs, "UCS", [](BodyOut& io, const auto& rec) { ucsLayout(io, rec); });
        case 6: return record(db_.appids, dwg_type::kAppId, "APPID", [](BodyOut& io, const auto& rec) { appidLayout(io, rec); });
        case 7:
          return record(db_.dimstyles, dwg_type::kDimStyle, "DIMSTYLE", [&](BodyOut& io, Record<DimStyle>& rec) {
            if (rec.data.textStyle == 0) rec.data.textStyle = recordHandle(db_.styles, "Standard");
            rec.common.extra = dimStyleGroupsFor(rec.common.extra, r, arrows_);
            if (upper)
              for (RawTag& t : rec.common.extra)
                if (t.code >= 5 && t.code <= 7) t.text = dwgR14Name(t.text);
            dimstyleLayout(io, std::as_const(rec));
          });
        default: break;
      }
      break;
    }
    case RefKind::Block: {
      if (ref->index >= db_.blocks.size()) break;
      BlockRecord b = db_.blocks[ref->index];
      b.entities.clear();
      if (upper) b.name = dwgR14Name(b.name);
      const BlockRecord& original = db_.blocks[ref->index];
      Handle first = 0, last = 0;
      std::vector<Handle> owned;
      if (!original.entities.empty()) {
        first = db_.entities[original.entities.front()].common.handle;
        last = db_.entities[original.entities.back()].common.handle;
      }
      if (r >= Release::R2004) {
        owned.reserve(original.entities.size());
        for (const EntityId id : original.entities) owned.push_back(db_.entities[id].common.handle);
      }
      std::vector<Handle> inserts;
      if (r >= Release::R2000) {
        const auto it = insertsOf_.find(foldedName(original.name));
        if (it != insertsOf_.end()) inserts = it->second;
      }
      const Head head{dwg_type::kBlockHeader, h, db_.blockTable, &b.reactors, b.xdictionary, &b.recordXdata};
      const DwgRecordHead named = recordHeadOf(b.name, b.flags);
      return emit(head, ctx, "BLOCK_HEADER", [&](BodyOut& io) { blockLayout(io, std::as_const(b), first, last, owned, inserts); },
                  frame, &named);
    }
    case RefKind::Object: {
      if (ref->index >= db_.objects.size()) break;
      const Object& o = db_.objects[ref->index];
      if (!writes(o, r))
        return Status::fail(StatusCode::NotSupported, o.dxfName + " " + hexHandle(h) + " is not written to files of this release");
      Head head{0, h, o.owner, &o.reactors, o.xdictionary, nullptr};
      if (const auto* d = std::get_if<Dictionary>(&o.data)) {
        Dictionary shown = *d;
        std::erase_if(shown.entries, [&](const DictionaryEntry& e) {
          const HandleRef* target = db_.find(e.object);
          return target != nullptr && target->kind == RefKind::Object && target->index < db_.objects.size() &&
                 !writes(db_.objects[target->index], r);
        });
        // Multiline styles are named in upper case in R13/R14, as records are.
        if (upper && isMlineStyleDictionary(o.handle))
          for (DictionaryEntry& e : shown.entries) e.name = dwgR14Name(e.name);
        head.type = dwg_type::kDictionary;
        return emit(head, ctx, "DICTIONARY", [&](BodyOut& io) { dictionaryLayout(io, std::as_const(shown)); }, frame);
      }
      if (const auto* g = std::get_if<Group>(&o.data)) {
        head.type = dwg_type::kGroup;
        return emit(head, ctx, "GROUP", [&](BodyOut& io) { groupLayout(io, *g); }, frame);
      }
      if (const auto* l = std::get_if<Layout>(&o.data)) {
        head.type = r >= Release::R2004 ? dwg_type::kLayout : ctx.classNumber("LAYOUT");
        return emit(head, ctx, "LAYOUT", [&](BodyOut& io) { layoutLayout(io, *l); }, frame);
      }
      const auto& tags = std::get<UnknownObject>(o.data).tags;
      const UnknownObject& u = std::get<UnknownObject>(o.data);
      if (u.keepsDwgBits()) {
        head.type = u.dwg.type != 0 ? u.dwg.type : ctx.classNumber(o.dxfName);
        return emit(head, ctx, o.dxfName, [&](BodyOut& io) { io.bits(u.dwg); }, frame);
      }
      if (isDwgDeclaredObject(o.dxfName, r)) {
        DwgBitWriter declared;
        if (Status s = writeDwgDeclaredObject(o.dxfName, tags, ctx.codePage(), declared, ctx); !s.ok()) return s;
        DwgKeptBits bits;
        bits.dataBits = declared.bitPosition();
        bits.data = declared.bytes();
        head.type = ctx.classNumber(o.dxfName);
        return emit(head, ctx, o.dxfName, [&](BodyOut& io) { io.bits(bits); }, frame);
      }
      if (o.dxfName == "MLINESTYLE") {
        std::vector<std::string> linetypes;
        for (const auto& rec : db_.linetypes.records)
          if (!sameName(rec.common.name, "ByBlock") && !sameName(rec.common.name, "ByLayer")) linetypes.push_back(rec.common.name);
        head.type = dwg_type::kMLineStyle;
        return emit(head, ctx, "MLINESTYLE", [&](BodyOut& io) { writeMlineStyle(io, tags, linetypes, upper); }, frame);
      }
      if (o.dxfName == "DICTIONARYVAR") {
        head.type = (ctx.classNumber("DICTIONARYVAR"));
        return emit(head, ctx, "DICTIONARYVAR", [&](BodyOut& io) {
          TagCursor c(tags);
          io.rc(static_cast<std::int32_t>(c.integer(280, 0)));
          io.tv(c.text(1));
        }, frame);
      }
      if (o.dxfName == "ACDBPLACEHOLDER") {
        head.type = (ctx.classNumber("ACDBPLACEHOLDER"));
        return emit(head, ctx, "ACDBPLACEHOLDER", [](BodyOut&) {}, frame);
      }
      if (o.dxfName == "ACDBDICTIONARYWDFLT") {
        Dictionary d;
        Handle fallback = 0;
        TagCursor c(tags);
        while (!c.atEnd()) {
          const RawTag& t = c.next();
          if (t.code == 280) d.hardOwner = t.integer != 0;
          else if (t.code == 281) d.cloning = static_cast<std::int32_t>(t.integer);
          else if (t.code == 3) d.entries.push_back({t.text, 0});
          else if ((t.code == 350 || t.code == 360) && !d.entries.empty()) d.entries.back().object = static_cast<Handle>(t.integer);
          else if (t.code == 340) fallback = static_cast<Handle>(t.integer);
        }
        head.type = (ctx.classNumber("ACDBDICTIONARYWDFLT"));
        return emit(head, ctx, "ACDBDICTIONARYWDFLT", [&](BodyOut& io) {
          dictionaryLayout(io, std::as_const(d), true);
          io.handle(5, fallback);
        }, frame);
      }
      if (o.dxfName == "XRECORD") {
        TagCursor c(tags);
        std::int32_t cloning = 1;
        if (o.readIn >= Release::R2000)
          if (const RawTag* t = c.take(280)) cloning = static_cast<std::int32_t>(t->integer);
        std::string bytes;
        const Status built = buildXrecordData(c, bytes);
        if (!built.ok()) return damaged("XRECORD", h, built);
        head.type = r >= Release::R2000 ? dwg_type::kXRecord : (ctx.classNumber("XRECORD"));
        return emit(head, ctx, "XRECORD", [&](BodyOut& io) {
          io.count(bytes.size(), Form::BL, 8, true, "xrecord bytes");
          io.raw(bytes.size(), bytes);
          if (r >= Release::R2000) io.bs(cloning);
          for (const DwgReference& ref : u.references) io.handle(ref.code, ref.target);
        }, frame);
      }
      break;
    }
    default: break;
  }
  return Status::fail(StatusCode::NotSupported, "handle " + hexHandle(h) + " names nothing this writer writes");
}


std::string dwgR14Name(std::string_view name) {
  std::string out(name);
  for (std::size_t i = 0; i < out.size(); ++i) {
    char& c = out[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '-' ||
                      (c == '*' && i == 0) || static_cast<unsigned char>(c) >= 0x80;
    if (!kept) c = '_';
  }
  return out;
}

}  // namespace drawingdb

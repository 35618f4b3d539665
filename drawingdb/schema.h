// The declarations: every entity, table record, object and header
// variable is described once as an ordered list of fields, each with its
// DXF group code and the releases whose files carry it (and room for the
// DWG encodings).  One generic walk per codec goes over these lists, so
// release differences live here and not in the codecs.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <variant>

#include "drawingdb/model.h"
#include "drawingdb/releases.h"

namespace drawingdb {

class TagWriter;
struct Tag;

// How a field is stored in DWG object data, per range of releases (filled
// by the DWG codecs).
// RD2 is a raw point (2RD), TIME a date or duration (TIMEBLL: BL day, BL
// milliseconds).
enum class Bits : std::uint8_t { None, RC, RS, RL, RD, B, BB, BS, BL, BD, BD2, BD3, DD, BT, BE, MC, MS, TV, H, CMC, RD2, TIME };
struct DwgForm {
  Span in = kNoRelease;
  Bits bits = Bits::None;
};

// What the audit checks of a value beyond being a finite number.
enum class Check : std::uint8_t {
  None,
  Positive,   // > 0 (radius, text height)
  UnitRatio,  // 0 < v <= 1 (ellipse axis ratio)
};

enum class Emit : std::uint8_t {
  Always,
  IfNotDefault,  // left out while it holds the value of a default-constructed object
};

// Data that repeats (vertices, dashes, dictionary entries): a descriptor of
// its own whose elements have their own field list.
template <class Obj>
struct ListDesc {
  virtual ~ListDesc() = default;
  virtual std::string_view member() const = 0;
  virtual std::size_t size(const Obj& obj) const = 0;
  virtual bool takesCode(int code) const = 0;
  virtual void dxfWrite(const Obj& obj, TagWriter& w, Release r) const = 0;
  // Takes one tag of the list; `remaining` bounds what a count may reserve.
  virtual void dxfRead(Obj& obj, const Tag& t, std::size_t remaining) const = 0;
  // The group that states the number of elements (-1: none); a reader
  // compares it with the elements that follow.
  virtual int countCode() const { return -1; }
};

// A group written with a fixed value and skipped on reading (the
// "entities follow" flag 66 of polylines).
struct Fixed {
  std::int32_t value;
};

template <class Obj>
using MemberRef = std::variant<std::monostate, double Obj::*, std::int32_t Obj::*, std::string Obj::*, Point3 Obj::*,
                               Handle Obj::*, bool Obj::*, const ListDesc<Obj>*, Fixed, Name Obj::*>;

template <class Obj>
struct Field {
  std::string_view name;      // member name; the subclass name of a marker
  MemberRef<Obj> member;      // monostate: a subclass marker (group 100)
  int code = 100;             // DXF group code (points: X; Y is code + 10, Z code + 20)
  Span dxf = kAllReleases;    // releases whose DXF files carry it
  Span z = kNoRelease;        // points: releases whose files carry the Z
  Emit emit = Emit::Always;
  bool (*when)(const Obj&) = nullptr;  // written only when this holds
  Check check = Check::None;
  std::array<DwgForm, 2> dwg{};

  bool isMarker() const { return std::holds_alternative<std::monostate>(member); }
};

inline constexpr Span kR13On = since(Release::R13);
inline constexpr Span kR10On = since(Release::R10);
inline constexpr Span kR2000On = since(Release::R2000);

template <class Obj>
constexpr Field<Obj> marker(std::string_view subclass, bool (*when)(const Obj&) = nullptr) {
  Field<Obj> f{subclass, std::monostate{}, 100, kR13On};
  f.when = when;
  return f;
}

template <class Obj, class T>
constexpr Field<Obj> field(std::string_view name, T Obj::*m, int code, Span dxf = kAllReleases,
                           Emit emit = Emit::Always) {
  Field<Obj> f{name, m, code, dxf};
  f.emit = emit;
  return f;
}

// A member an entity has from a base it shares with other kinds: the
// entity's type is given, field<AttDef>(...).
template <class Obj, class T, class Base>
  requires(std::is_base_of_v<Base, Obj> && !std::is_same_v<Base, Obj>)
constexpr Field<Obj> field(std::string_view name, T Base::*m, int code, Span dxf = kAllReleases,
                           Emit emit = Emit::Always) {
  return field<Obj, T>(name, static_cast<T Obj::*>(m), code, dxf, emit);
}

// A point: X at `code`, Y at code + 10, Z at code + 20 in the releases `z`.
template <class Obj>
constexpr Field<Obj> point(std::string_view name, Point3 Obj::*m, int code, Span dxf = kAllReleases, Span z = kR10On,
                           Emit emit = Emit::Always) {
  Field<Obj> f{name, m, code, dxf, z};
  f.emit = emit;
  return f;
}

template <class Obj>
constexpr Field<Obj> checked(Field<Obj> f, Check c) {
  f.check = c;
  return f;
}

// The field list of each declared kind.
template <class Obj>
std::span<const Field<Obj>> fieldsOf();

// What a symbol table and its records are called.
struct RecordSpec {
  std::string_view table;     // "LAYER"
  std::string_view record;    // "LAYER"
  std::string_view subclass;  // "AcDbLayerTableRecord"
  Span in;                    // releases that have the table
  int handleCode;             // 5, or 105 for dimension styles
};
template <class R>
const RecordSpec& recordSpec();

// The DXF names of the entity kinds and the releases that have them.
struct EntitySpec {
  EntityKind kind;
  std::string_view dxfName;
  Span in;
};
std::span<const EntitySpec> entitySpecs();
const EntitySpec& entitySpec(EntityKind kind);

// ------------------------------------------------------------- header

struct HeaderVar {
  std::string_view name;  // "$LTSCALE"
  ValueKind kind;
  int code;               // group of the value (points: X)
  Span dxf;
  Span z = kNoRelease;    // points: releases whose files carry Z
  double real = 0;        // default of reals and integers
  std::string_view text = {};  // default of texts
  Point3 point = {};      // default of points
  int altCode = -1;       // a second code for other releases
  Span altDxf = kNoRelease;
  // How the DWG header variables section stores it, per range of releases
  // (none: the section holds it in another form, or not at all).
  std::array<DwgForm, 2> dwg{};
  // The bit form in release r; Bits::None when r stores none.
  constexpr Bits dwgBits(Release r) const {
    for (const DwgForm& f : dwg)
      if (f.in.has(r)) return f.bits;
    return Bits::None;
  }
};

std::span<const HeaderVar> headerVars();
// Index of a declared variable, or -1.
int headerVarIndex(std::string_view name);
HeaderValue defaultValue(const HeaderVar& v);

}  // namespace drawingdb

// The generic DXF walk over a field list: writing an object's groups in
// declaration order, and giving each group read to the field it belongs
// to.  Used by the DXF codec and by the list descriptors of schema.cpp.
#pragma once

#include <algorithm>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "drawingdb/dxf_tags.h"
#include "drawingdb/schema.h"

// The walks visit every kind of member pointer a field may hold; for a
// struct without members of some kind, GCC's array-bounds analysis at -O2
// follows the branches that can never be taken and warns about them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"

namespace drawingdb {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

inline std::int32_t clampInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}
// A real where an integer belongs: rounded towards zero into the range of
// 32-bit integers (NaN reads as 0).
inline std::int32_t clampInt32(double v) {
  if (!(v == v)) return 0;
  return static_cast<std::int32_t>(std::clamp(v, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                                              static_cast<double>(std::numeric_limits<std::int32_t>::max())));
}
inline double realOf(const Tag& t) {
  return t.type == TagType::Real ? t.real : static_cast<double>(t.integer);
}

template <class Obj>
void writeFields(TagWriter& w, const Obj& obj, std::span<const Field<Obj>> fields, Release r) {
  if constexpr (std::is_empty_v<Obj>) {
    return;  // a record without fields of its own (APPID)
  } else {
  static const Obj defaults{};
  for (const Field<Obj>& f : fields) {
    if (!f.dxf.has(r)) continue;
    if (f.when != nullptr && !f.when(obj)) continue;
    const bool skipDefault = f.emit == Emit::IfNotDefault;
    std::visit(Overloaded{
                   [&](std::monostate) { w.text(100, f.name); },
                   [&](double Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.real(f.code, obj.*m);
                   },
                   [&](std::int32_t Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.integer(f.code, obj.*m);
                   },
                   [&](std::string Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.text(f.code, obj.*m);
                   },
                   [&](Name Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.text(f.code, obj.*m);
                   },
                   [&](bool Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.boolean(f.code, obj.*m);
                   },
                   [&](Handle Obj::*m) {
                     if (!(skipDefault && obj.*m == defaults.*m)) w.handle(f.code, obj.*m);
                   },
                   [&](Point3 Obj::*m) {
                     const Point3& p = obj.*m;
                     if (skipDefault && p == defaults.*m) return;
                     w.real(f.code, p.x);
                     w.real(f.code + 10, p.y);
                     if (f.z.has(r)) w.real(f.code + 20, p.z);
                   },
                   [&](const ListDesc<Obj>* list) { list->dxfWrite(obj, w, r); },
                   [&](Fixed c) { w.integer(f.code, c.value); },
               },
               f.member);
  }
  }
}

template <class Obj>
bool fieldTakesCode(const Field<Obj>& f, int code) {
  if (f.isMarker()) return false;
  if (const auto* list = std::get_if<const ListDesc<Obj>*>(&f.member)) return (*list)->takesCode(code);
  if (std::holds_alternative<Point3 Obj::*>(f.member)) return code == f.code || code == f.code + 10 || code == f.code + 20;
  return code == f.code;
}

// Gives the groups of one object to its fields.  Subclass markers move the
// reader to their place in the list, so a code that two subclasses use
// reaches the right field; without markers (older releases) the fields are
// searched onwards from the last one that took a group.
template <class Obj>
class FieldReader {
 public:
  // Names read (of blocks, styles) are shared through `names` when given.
  explicit FieldReader(std::span<const Field<Obj>> fields, NameTable* names = nullptr) : fields_(fields), names_(names) {}

  // A count a list stated that its elements did not match.
  struct CountMismatch {
    std::string_view member;
    std::int64_t stated;
    std::size_t found;
  };

  // True when a field took the tag.
  bool take(Obj& obj, const Tag& t, std::size_t remaining) {
    if constexpr (std::is_empty_v<Obj>) return false;
    if (t.code == 100) {
      for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].isMarker() && fields_[i].name == t.text) {
          pos_ = i;
          return true;
        }
      return false;
    }
    const std::size_t n = fields_.size();
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t i = (pos_ + k) % n;
      if (!fieldTakesCode(fields_[i], t.code)) continue;
      pos_ = i;
      if (const auto* list = std::get_if<const ListDesc<Obj>*>(&fields_[i].member);
          list != nullptr && (*list)->countCode() == t.code)
        counts_.push_back({*list, t.integer});
      assign(obj, fields_[i], t, remaining, names_);
      return true;
    }
    return false;
  }

  // The lists whose stated count differs from the elements read.
  std::vector<CountMismatch> countMismatches(const Obj& obj) const {
    std::vector<CountMismatch> out;
    for (const auto& [list, stated] : counts_)
      if (stated < 0 || static_cast<std::size_t>(stated) != list->size(obj))
        out.push_back({list->member(), stated, list->size(obj)});
    return out;
  }

 private:
  static void assign(Obj& obj, const Field<Obj>& f, const Tag& t, std::size_t remaining, NameTable* names) {
    if constexpr (std::is_empty_v<Obj>) return;
    std::visit(Overloaded{
                   [&](std::monostate) {},
                   [&](double Obj::*m) { obj.*m = realOf(t); },
                   [&](std::int32_t Obj::*m) {
                     obj.*m = t.type == TagType::Real ? clampInt32(t.real) : clampInt32(t.integer);
                   },
                   [&](std::string Obj::*m) { obj.*m = std::string(t.text); },
                   [&](Name Obj::*m) { obj.*m = names != nullptr ? (*names)(t.text) : Name(t.text); },
                   [&](bool Obj::*m) { obj.*m = t.integer != 0; },
                   [&](Handle Obj::*m) { obj.*m = static_cast<Handle>(t.integer); },
                   [&](Point3 Obj::*m) {
                     const double v = realOf(t);
                     if (t.code == f.code) (obj.*m).x = v;
                     else if (t.code == f.code + 10) (obj.*m).y = v;
                     else (obj.*m).z = v;
                   },
                   [&](const ListDesc<Obj>* list) { list->dxfRead(obj, t, remaining); },
                   [&](Fixed) {},
               },
               f.member);
  }

  std::span<const Field<Obj>> fields_;
  NameTable* names_;
  std::size_t pos_ = 0;
  std::vector<std::pair<const ListDesc<Obj>*, std::int64_t>> counts_;
};

// A list of elements with their own fields: an optional count group
// written first, then per element its fields, the first of which (the
// `startCode`) begins a new element on reading.
// Where the count stands apart from the elements (LWPOLYLINE: 90 first,
// then other groups, then the vertices), the list is declared twice: once
// as the count only, once as the elements only.
enum class ListPart : std::uint8_t { CountAndElements, CountOnly, ElementsOnly };

template <class Obj, class Elem>
class ListOf final : public ListDesc<Obj> {
 public:
  constexpr ListOf(std::string_view name, std::vector<Elem> Obj::*member, int countCode, int startCode,
                   ListPart part = ListPart::CountAndElements, Span countIn = kAllReleases)
      : name_(name), member_(member), countCode_(countCode), startCode_(startCode), part_(part), countIn_(countIn) {}

  std::string_view member() const override { return name_; }
  std::size_t size(const Obj& obj) const override { return (obj.*member_).size(); }
  int countCode() const override { return part_ == ListPart::ElementsOnly ? -1 : countCode_; }
  bool takesCode(int code) const override {
    if (code == countCode_) return part_ != ListPart::ElementsOnly;
    if (part_ == ListPart::CountOnly) return false;
    for (const Field<Elem>& f : fieldsOf<Elem>())
      if (fieldTakesCode(f, code)) return true;
    return false;
  }
  void dxfWrite(const Obj& obj, TagWriter& w, Release r) const override {
    const auto& v = obj.*member_;
    if (countCode_ >= 0 && countIn_.has(r) && part_ != ListPart::ElementsOnly)
      w.integer(countCode_, static_cast<std::int64_t>(v.size()));
    if (part_ == ListPart::CountOnly) return;
    for (const Elem& e : v) writeFields<Elem>(w, e, fieldsOf<Elem>(), r);
  }
  void dxfRead(Obj& obj, const Tag& t, std::size_t remaining) const override {
    auto& v = obj.*member_;
    if (t.code == countCode_) {
      // A count reserves room, but never more than the rest of the file
      // could hold (each element takes at least a few bytes).
      if (t.integer > 0) v.reserve(std::min<std::size_t>(static_cast<std::size_t>(t.integer), remaining / 4 + 1));
      return;
    }
    if (t.code == startCode_ || v.empty()) v.emplace_back();
    // The codes of an element's fields are distinct: a reader of its own
    // per group finds the field.
    FieldReader<Elem>(fieldsOf<Elem>()).take(v.back(), t, remaining);
  }

 private:
  std::string_view name_;
  std::vector<Elem> Obj::*member_;
  int countCode_;
  int startCode_;
  ListPart part_;
  Span countIn_;
};

// A list of plain values (reals, points, handles), each element one group
// (a point its X, Y and Z groups): spline knots, leader vertices, group
// members.  An optional count group is written first; as with ListOf the
// count and the values may be declared apart.
template <class Obj, class T>
class ValuesOf final : public ListDesc<Obj> {
 public:
  constexpr ValuesOf(std::string_view name, std::vector<T> Obj::*member, int countCode, int valueCode,
                     ListPart part = ListPart::CountAndElements, Span z = kAllReleases)
      : name_(name), member_(member), countCode_(countCode), valueCode_(valueCode), part_(part), z_(z) {}

  std::string_view member() const override { return name_; }
  std::size_t size(const Obj& obj) const override { return (obj.*member_).size(); }
  int countCode() const override { return part_ == ListPart::ElementsOnly ? -1 : countCode_; }
  bool takesCode(int code) const override {
    if (countCode_ >= 0 && code == countCode_) return part_ != ListPart::ElementsOnly;
    if (part_ == ListPart::CountOnly) return false;
    if constexpr (std::is_same_v<T, Point3>)
      return code == valueCode_ || code == valueCode_ + 10 || code == valueCode_ + 20;
    return code == valueCode_;
  }
  void dxfWrite(const Obj& obj, TagWriter& w, Release r) const override {
    const auto& v = obj.*member_;
    if (countCode_ >= 0 && part_ != ListPart::ElementsOnly) w.integer(countCode_, static_cast<std::int64_t>(v.size()));
    if (part_ == ListPart::CountOnly) return;
    for (const T& e : v) {
      if constexpr (std::is_same_v<T, Point3>) {
        w.real(valueCode_, e.x);
        w.real(valueCode_ + 10, e.y);
        if (z_.has(r)) w.real(valueCode_ + 20, e.z);
      } else if constexpr (std::is_same_v<T, Handle>) {
        w.handle(valueCode_, e);
      } else {
        w.real(valueCode_, e);
      }
    }
  }
  void dxfRead(Obj& obj, const Tag& t, std::size_t remaining) const override {
    auto& v = obj.*member_;
    if (countCode_ >= 0 && t.code == countCode_) {
      // Room for what the count states, never more than the rest of the
      // file could hold.
      if (t.integer > 0) v.reserve(std::min<std::size_t>(static_cast<std::size_t>(t.integer), remaining / 4 + 1));
      return;
    }
    if constexpr (std::is_same_v<T, Point3>) {
      if (t.code == valueCode_ || v.empty()) v.emplace_back();
      if (t.code == valueCode_) v.back().x = realOf(t);
      else if (t.code == valueCode_ + 10) v.back().y = realOf(t);
      else v.back().z = realOf(t);
    } else if constexpr (std::is_same_v<T, Handle>) {
      v.push_back(static_cast<Handle>(t.integer));
    } else {
      v.push_back(realOf(t));
    }
  }

 private:
  std::string_view name_;
  std::vector<T> Obj::*member_;
  int countCode_;
  int valueCode_;
  ListPart part_;
  Span z_;
};

}  // namespace drawingdb

#pragma GCC diagnostic pop

// The in-memory drawing database: header variables, symbol tables with
// their records, block records with their entities, and the objects of the
// OBJECTS section.  No I/O here; the codecs fill and read it through the
// declarations of schema.h.
//
// Entity, record and object data are plain aggregates so that their field
// declarations can be checked to cover every member.  What the toolkit does
// not understand is kept as read (kind, handle, owner, layer and the raw
// groups), so a drawing read and written again loses nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "drawingdb/dxf_tags.h"
#include "drawingdb/name.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

struct Point3 {
  double x = 0, y = 0, z = 0;
  bool operator==(const Point3&) const = default;
};
inline constexpr Point3 kNormalZ{0, 0, 1};

// A group kept as read.
struct RawTag {
  std::int32_t code = 0;
  TagType type = TagType::String;
  double real = 0;
  std::int64_t integer = 0;
  std::string text;
  bool operator==(const RawTag&) const = default;
};
RawTag rawTagOf(const Tag& t);
Tag tagOf(const RawTag& r);

// ------------------------------------------------------------- entities

struct EntityCommon;

// The common groups of an entity that only follows another (a VERTEX or
// the SEQEND after a polyline or an insert's attributes, the ENDBLK of a
// block) or that only opens a block (its BLOCK) where it has its own: its
// layer, linetype, colour, lineweight, reactors, extension dictionary,
// other applications' 102 groups, groups the toolkit does not model and
// XDATA, as read.  Its handle is kept beside, with its head.  Held out of
// line and only when the entity says more than that it is on its head's
// layer (a BLOCK's head is its block, with the block's layer), so that such
// an entity, and every one the toolkit makes, costs a pointer and is
// written on the layer of its head.
class FollowerGroups {
 public:
  FollowerGroups();
  FollowerGroups(const FollowerGroups& other);
  FollowerGroups(FollowerGroups&& other) noexcept;
  FollowerGroups& operator=(const FollowerGroups& other);
  FollowerGroups& operator=(FollowerGroups&& other) noexcept;
  ~FollowerGroups();

  // Null: the follower takes its head's layer and the defaults.
  const EntityCommon* get() const { return own_.get(); }
  // Keeps `groups` unless they say no more than that the follower is on
  // `headLayer` (then the follower holds nothing).
  void keep(EntityCommon groups, std::string_view headLayer);

 private:
  std::unique_ptr<EntityCommon> own_;
};

struct Line {
  Point3 start;
  Point3 end;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
};

struct PointEntity {
  Point3 location;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
  double xAxisAngle = 0;
};

struct Circle {
  Point3 center;
  double radius = 0;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
};

struct Arc {
  Point3 center;
  double radius = 0;
  double startAngle = 0;  // degrees
  double endAngle = 0;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
};

struct Text {
  Point3 insertion;
  Point3 alignment;  // second alignment point, used when justified
  double height = 0;
  std::string value;
  double rotation = 0;
  double widthFactor = 1;
  double oblique = 0;
  Name style = Name::standard();
  std::int32_t generation = 0;
  std::int32_t horizontal = 0;
  std::int32_t vertical = 0;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
};

struct Ellipse {
  Point3 center;
  Point3 majorAxis{1, 0, 0};  // end of the major axis relative to the centre
  Point3 extrusion = kNormalZ;
  double ratio = 1;
  double startParameter = 0;
  double endParameter = 6.283185307179586;
};

// SOLID and TRACE: corners in Z order 1-2-4-3 (a triangle repeats the
// third as fourth), in the entity's own coordinate system.
struct Solid {
  Point3 corner1;
  Point3 corner2;
  Point3 corner3;
  Point3 corner4;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
};

// 3DFACE: corners in outline order, world coordinates.
struct Face3d {
  Point3 corner1;
  Point3 corner2;
  Point3 corner3;
  Point3 corner4;
  std::int32_t invisibleEdges = 0;  // 1, 2, 4, 8: edge 1..4 hidden
};

struct Insert {
  Name block;
  Point3 insertion;
  double xScale = 1;
  double yScale = 1;
  double zScale = 1;
  double rotation = 0;
  std::int32_t columns = 1;
  std::int32_t rows = 1;
  double columnSpacing = 0;
  double rowSpacing = 0;
  Point3 extrusion = kNormalZ;
  std::vector<std::uint32_t> attributes;  // ATTRIB entities (ids) that follow the insert
  Handle seqend = 0;                      // handle of the SEQEND after the attributes
  FollowerGroups seqendGroups;            // of that SEQEND
};

struct Vertex {
  Handle handle = 0;
  Point3 location;
  double startWidth = 0;
  double endWidth = 0;
  double bulge = 0;
  std::int32_t flags = 0;
  double tangent = 0;
  std::int32_t face1 = 0;
  std::int32_t face2 = 0;
  std::int32_t face3 = 0;
  std::int32_t face4 = 0;
  std::int32_t identifier = 0;  // the vertex's number in its polyline (2010 on)
  FollowerGroups own;           // its common groups where they are its own
};

// POLYLINE: 2D and 3D polylines, meshes and polyface meshes.
struct Polyline {
  Point3 origin;  // only its Z, the elevation of a 2D polyline, means anything
  std::int32_t flags = 0;
  double startWidth = 0;
  double endWidth = 0;
  std::int32_t meshM = 0;
  std::int32_t meshN = 0;
  std::int32_t smoothM = 0;
  std::int32_t smoothN = 0;
  std::int32_t surfaceType = 0;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
  std::vector<Vertex> vertices;
  Handle seqend = 0;
  FollowerGroups seqendGroups;
};

struct LwVertex {
  Point3 location;  // X and Y only
  double startWidth = 0;
  double endWidth = 0;
  double bulge = 0;
};

struct LwPolyline {
  std::int32_t flags = 0;
  double constantWidth = 0;
  double elevation = 0;
  double thickness = 0;
  std::vector<LwVertex> vertices;
  Point3 extrusion = kNormalZ;
};

// What ATTDEF and ATTRIB share: a text with a tag, placed and styled as
// TEXT is.
struct AttributeText {
  Point3 insertion;
  Point3 alignment;
  double height = 0;
  double rotation = 0;
  double widthFactor = 1;
  double oblique = 0;
  Name style = Name::standard();
  std::int32_t generation = 0;
  std::int32_t horizontal = 0;
  double thickness = 0;
  Point3 extrusion = kNormalZ;
  std::string tag;
  std::int32_t flags = 0;  // 1 invisible, 2 constant, 4 verify, 8 preset
  std::int32_t fieldLength = 0;
  std::int32_t vertical = 0;
  // A multi-line attribute (DWG 2018 on): its value holds MTEXT lines
  // ("\P" between them), stacked from the insertion point downwards at
  // `lineSpacing` times the standard spacing.
  bool multiline = false;
  double lineSpacing = 1;
};

// ATTDEF: a text of a block that asks for a value when the block is
// inserted.
struct AttDef : AttributeText {
  std::string defaultValue;
  std::string prompt;
};

// ATTRIB: the value of an attribute of one insert; follows its INSERT.
struct Attrib : AttributeText {
  std::string value;
};

}  // namespace drawingdb

#include "drawingdb/model_dimension_hatch.h"

namespace drawingdb {

// The type-specific part of a DWG object the toolkit does not model, as
// read: written back unchanged to files of the release it came from.
struct DwgKeptBits {
  std::int16_t type = 0;       // fixed types; a class is named by the DXF name
  std::string data;            // the data after the common data
  std::size_t dataBits = 0;
  std::string handles;         // the handle references after the common ones
  std::size_t handleBits = 0;
  bool operator==(const DwgKeptBits&) const = default;
};

// An entity of a kind the toolkit does not model: every group after the
// common ones, as read from a DXF file, or its bits from a DWG file.
struct UnknownEntity {
  std::vector<RawTag> tags;
  DwgKeptBits dwg;
  // Only a DWG file of its release can hold it.
  bool keepsDwgBits() const { return dwg.type != 0 || dwg.dataBits + dwg.handleBits > 0; }
};

}  // namespace drawingdb

// SPLINE, MTEXT, LEADER, VIEWPORT and GROUP (they use Point3 above).
#include "drawingdb/model_annotation.h"

namespace drawingdb {

enum class EntityKind : std::uint8_t {
  Line, Point, Circle, Arc, Text, Ellipse, Solid, Trace, Face3d, Insert, Polyline, LwPolyline, AttDef, Attrib, Unknown,
  Spline, MText, Leader, Viewport, Dimension, Hatch
};

template <class... T>
struct TypeList {};
// The data types of entities, in the order of EntityData::index().
using EntityTypes = TypeList<Line, PointEntity, Circle, Arc, Text, Ellipse, Solid, Face3d, Insert, Polyline, LwPolyline,
                             AttDef, Attrib, UnknownEntity, Spline, MText, Leader, Viewport, Dimension, Hatch>;

namespace detail {
template <class T, class... Ts>
constexpr std::size_t typeIndex(TypeList<Ts...>) {
  constexpr bool same[] = {std::is_same_v<T, Ts>...};
  for (std::size_t i = 0; i < sizeof...(Ts); ++i)
    if (same[i]) return i;
  return sizeof...(Ts);
}
template <std::size_t I, class T, class... Ts>
struct TypeAt : TypeAt<I - 1, Ts...> {};
template <class T, class... Ts>
struct TypeAt<0, T, Ts...> {
  using type = T;
};
template <std::size_t I, class... Ts>
auto typeAt(TypeList<Ts...>) -> typename TypeAt<I, Ts...>::type;
template <class... Ts>
constexpr std::size_t typeCount(TypeList<Ts...>) { return sizeof...(Ts); }
}  // namespace detail

// The data of an entity: one of the types of EntityTypes, held out of line
// so that an entity takes what its kind needs (a line its 80 bytes, a
// hatch its loops) and the list of a drawing's entities stays small.  It
// reads as a std::variant does, through get<Line>(e.data),
// get_if<Line>(&e.data), holds_alternative<Line>(e.data) and
// visit(f, e.data) below.  A moved-from value holds nothing (index() is
// std::variant_npos) until it is assigned again.
class EntityData {
 public:
  static constexpr std::size_t kTypes = detail::typeCount(EntityTypes{});
  template <class T>
  static constexpr std::size_t kIndexOf = detail::typeIndex<T>(EntityTypes{});
  template <class T>
  static constexpr bool kHolds = kIndexOf<T> < kTypes;
  template <std::size_t I>
  using TypeAt = decltype(detail::typeAt<I>(EntityTypes{}));

  EntityData() : EntityData(Line{}) {}
  // Holds nothing until assigned (as a moved-from value): for a reader
  // that assigns the data of the kind it reads.
  explicit EntityData(std::nullptr_t) : head_(nullptr) {}
  template <class T>
    requires kHolds<std::decay_t<T>>
  EntityData(T&& value) : head_(new Box<std::decay_t<T>>(std::forward<T>(value))) {}
  EntityData(const EntityData& other) : head_(copy(other.head_)) {}
  EntityData(EntityData&& other) noexcept : head_(std::exchange(other.head_, nullptr)) {}
  EntityData& operator=(const EntityData& other) {
    if (this != &other) *this = EntityData(other);
    return *this;
  }
  EntityData& operator=(EntityData&& other) noexcept {
    if (this != &other) {
      clear();
      head_ = std::exchange(other.head_, nullptr);
    }
    return *this;
  }
  template <class T>
    requires kHolds<std::decay_t<T>>
  EntityData& operator=(T&& value) {
    using U = std::decay_t<T>;
    if (U* p = getIf<U>()) *p = std::forward<T>(value);
    else *this = EntityData(std::forward<T>(value));
    return *this;
  }
  ~EntityData() { clear(); }

  std::size_t index() const { return head_ ? head_->index : std::variant_npos; }
  template <class T>
  T* getIf() {
    return index() == kIndexOf<T> ? &static_cast<Box<T>*>(head_)->value : nullptr;
  }
  template <class T>
  const T* getIf() const {
    return index() == kIndexOf<T> ? &static_cast<const Box<T>*>(head_)->value : nullptr;
  }

 private:
  struct Head {
    std::uint8_t index;
  };
  template <class T>
  struct Box : Head {
    template <class U>
    explicit Box(U&& v) : Head{static_cast<std::uint8_t>(kIndexOf<T>)}, value(std::forward<U>(v)) {}
    T value;
  };
  template <class T>
  static Head* copyAs(const Head* h) {
    return new Box<T>(static_cast<const Box<T>*>(h)->value);
  }
  template <class T>
  static void destroyAs(Head* h) {
    delete static_cast<Box<T>*>(h);
  }
  template <class... Ts>
  static constexpr std::array<Head* (*)(const Head*), sizeof...(Ts)> copies(TypeList<Ts...>) {
    return {&copyAs<Ts>...};
  }
  template <class... Ts>
  static constexpr std::array<void (*)(Head*), sizeof...(Ts)> destroys(TypeList<Ts...>) {
    return {&destroyAs<Ts>...};
  }
  static Head* copy(const Head* h) {
    static constexpr auto kCopy = copies(EntityTypes{});
    return h ? kCopy[h->index](h) : nullptr;
  }
  void clear() {
    static constexpr auto kDestroy = destroys(EntityTypes{});
    if (head_ != nullptr) kDestroy[head_->index](head_);
    head_ = nullptr;
  }

  Head* head_;
};

template <class T>
T* get_if(EntityData* d) {
  return d ? d->getIf<T>() : nullptr;
}
template <class T>
const T* get_if(const EntityData* d) {
  return d ? d->getIf<T>() : nullptr;
}
template <class T>
bool holds_alternative(const EntityData& d) {
  return d.index() == EntityData::kIndexOf<T>;
}
template <class T>
T& get(EntityData& d) {
  if (T* p = d.getIf<T>()) return *p;
  throw std::bad_variant_access();
}
template <class T>
const T& get(const EntityData& d) {
  if (const T* p = d.getIf<T>()) return *p;
  throw std::bad_variant_access();
}

namespace detail {
template <std::size_t I, class F, class D>
decltype(auto) visitFrom(F& f, D& d) {
  using T = EntityData::TypeAt<I>;
  if constexpr (I + 1 < EntityData::kTypes)
    if (d.index() != I) return visitFrom<I + 1>(f, d);
  return f(get<T>(d));
}
}  // namespace detail

// Calls f with the data as its type, as std::visit does.
template <class F>
decltype(auto) visit(F&& f, EntityData& d) {
  if (d.index() >= EntityData::kTypes) throw std::bad_variant_access();
  return detail::visitFrom<0>(f, d);
}
template <class F>
decltype(auto) visit(F&& f, const EntityData& d) {
  if (d.index() >= EntityData::kTypes) throw std::bad_variant_access();
  return detail::visitFrom<0>(f, d);
}

// What few entities have, kept out of line.
struct EntityExtras {
  // Objects told of changes to the entity (102 {ACAD_REACTORS), from R13 on.
  std::vector<Handle> reactors;
  // The 102 groups of other applications ({NAME ... }) between the handle
  // and the owner, as read; written back there from R13 on.
  std::vector<RawTag> applications;
  std::vector<RawTag> extra;  // groups of the entity the toolkit does not model
  std::vector<RawTag> xdata;  // 1001 and after
  std::string dxfName;        // the DXF type where it is not that of the kind (unknown kinds, 3DLINE)
  bool operator==(const EntityExtras&) const = default;
};

// Groups every entity has.  The layer and linetype names are shared with
// every other entity on them (see Name).
struct EntityCommon {
  Handle handle = 0;
  Handle owner = 0;
  Name layer = Name::layerZero();
  Name linetype = Name::byLayer();
  double linetypeScale = 1;
  // The entity's own dictionary (102 {ACAD_XDICTIONARY), from R13 on.
  Handle xdictionary = 0;

 private:
  // Declared here, before the small members, so that those end the
  // struct and what follows them in an Entity may use the rest of its
  // last eight bytes.
  std::unique_ptr<EntityExtras> more_;

 public:
  std::int32_t colour = 256;     // 0 ByBlock, 256 ByLayer
  std::int32_t lineweight = -1;  // -1 ByLayer
  bool invisible = false;
  bool paperSpace = false;

  const std::vector<Handle>& reactors() const { return more_ ? more_->reactors : kNoExtras.reactors; }
  const std::vector<RawTag>& applications() const { return more_ ? more_->applications : kNoExtras.applications; }
  const std::vector<RawTag>& extra() const { return more_ ? more_->extra : kNoExtras.extra; }
  const std::vector<RawTag>& xdata() const { return more_ ? more_->xdata : kNoExtras.xdata; }
  // The lists to change, made when first asked for.
  EntityExtras& extras();
  const EntityExtras* extrasIfAny() const { return more_.get(); }

  EntityCommon() = default;
  EntityCommon(const EntityCommon& other);
  EntityCommon(EntityCommon&&) noexcept = default;
  EntityCommon& operator=(const EntityCommon& other);
  EntityCommon& operator=(EntityCommon&&) noexcept = default;
  ~EntityCommon() = default;

 private:
  static const EntityExtras kNoExtras;
};

struct Entity {
  // (The kind and release fill what the common groups leave of their last
  // eight bytes.)
  [[no_unique_address]] EntityCommon common;
  EntityKind kind = EntityKind::Line;
  Release readIn = kNewestRelease;  // release of the file an unknown entity came from
  EntityData data;

  // The DXF type ("LINE"); for unknown kinds the only record of it.
  std::string_view dxfName() const;
  void setDxfName(std::string_view name);
};

using EntityId = std::uint32_t;

// ---------------------------------------------------------- table records

struct Layer {
  std::int32_t colour = 7;  // negative: layer off
  std::string linetype = "Continuous";
  bool plot = true;
  std::int32_t lineweight = -3;  // default
  Handle plotStyle = 0;
};

struct Dash {
  double length = 0;   // negative: gap, 0: dot
  std::int32_t shape = 0;  // element type; 0 a plain dash
};

struct Linetype {
  std::string description;
  std::int32_t alignment = 65;
  double patternLength = 0;
  std::vector<Dash> dashes;
};

struct TextStyle {
  double fixedHeight = 0;
  double widthFactor = 1;
  double oblique = 0;
  std::int32_t generation = 0;
  double lastHeight = 2.5;
  std::string font = "txt";
  std::string bigFont;
};

struct View {
  double height = 1;
  double width = 1;
  Point3 center;  // X and Y
  Point3 direction = kNormalZ;
  Point3 target;
  double lensLength = 50;
  double frontClip = 0;
  double backClip = 0;
  double twist = 0;
  std::int32_t viewMode = 0;
};

struct Ucs {
  Point3 origin;
  Point3 xAxis{1, 0, 0};
  Point3 yAxis{0, 1, 0};
};

struct Vport {
  Point3 lowerLeft;
  Point3 upperRight{1, 1, 0};
  Point3 center;
  Point3 snapBase;
  Point3 snapSpacing{0.5, 0.5, 0};
  Point3 gridSpacing{0.5, 0.5, 0};
  Point3 direction = kNormalZ;
  Point3 target;
  double height = 10;
  double aspect = 1.5;
  double lensLength = 50;
  double frontClip = 0;
  double backClip = 0;
  double snapAngle = 0;
  double twist = 0;
  std::int32_t viewMode = 0;
  std::int32_t circleZoom = 1000;
  std::int32_t fastZoom = 1;
  std::int32_t ucsIcon = 3;
  std::int32_t snapOn = 0;
  std::int32_t gridOn = 0;
  std::int32_t snapStyle = 0;
  std::int32_t snapIsoPair = 0;
};

struct AppId {};

struct DimStyle {
  std::string post;
  std::string altPost;
  double scale = 1;
  double arrowSize = 0.18;
  double extensionOffset = 0.0625;
  double lineIncrement = 0.38;
  double extensionExtend = 0.18;
  double rounding = 0;
  double lineExtend = 0;
  double tolerancePlus = 0;
  double toleranceMinus = 0;
  double textHeight = 0.18;
  double centerMark = 0.09;
  double tickSize = 0;
  double altFactor = 25.4;
  double linearFactor = 1;
  double textVertical = 0;
  double toleranceFactor = 1;
  double gap = 0.09;
  std::int32_t tolerance = 0;
  std::int32_t limits = 0;
  std::int32_t textInside = 1;
  std::int32_t textOutside = 1;
  std::int32_t suppress1 = 0;
  std::int32_t suppress2 = 0;
  std::int32_t textAbove = 0;
  std::int32_t zeroSuppression = 0;
  std::int32_t alternate = 0;
  std::int32_t altDecimals = 2;
  std::int32_t forceLine = 0;
  std::int32_t separateArrows = 0;
  std::int32_t textInsideForced = 0;
  std::int32_t suppressOutside = 0;
  std::int32_t lineColour = 0;
  std::int32_t extensionColour = 0;
  std::int32_t textColour = 0;
  std::int32_t decimals = 4;
  // Where the text stands along the dimension line: 0 centred, 1 and 2
  // beside the first or second extension line, 3 and 4 along the first or
  // second extension line, beyond the dimension line.
  std::int32_t justification = 0;
  Handle textStyle = 0;
};

// Groups every table record has.
struct RecordCommon {
  Handle handle = 0;
  Handle owner = 0;
  std::string name;
  std::int32_t flags = 0;
  std::vector<Handle> reactors;  // as on entities
  Handle xdictionary = 0;
  std::vector<RawTag> applications;  // as on entities
  std::vector<RawTag> extra;
  std::vector<RawTag> xdata;
};

template <class R>
struct Record {
  RecordCommon common;
  R data;
};

// Case-insensitive lookup of names in a list (records of a table, blocks)
// by hashing: built on the first lookup, extended by what was appended
// since, and rebuilt when the list shrank or an entry no longer names its
// item.  A name changed in place, or items removed and others appended
// between lookups, must be followed by changed() (Database::namesChanged).
class NameIndex {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;
  // The first position whose name (nameAt(i)) equals `name`, or kNone.
  template <class NameAt>
  std::size_t find(std::string_view name, std::size_t count, NameAt nameAt) const;
  void changed() { indexed_ = 0; }  // constant time: the next lookup rebuilds

 private:
  mutable std::unordered_map<std::string, std::size_t> first_;  // upper-cased name -> first position
  mutable std::size_t indexed_ = 0;                             // positions below are in first_
};

// A name upper-cased (ASCII), the key under which sameName finds it.
std::string foldedName(std::string_view name);

// What the head of a symbol table (its TABLE entry) holds beside its
// name, handle and count, as read: reactors, extension dictionary, other
// applications' 102 groups, groups the toolkit does not model, XDATA, and
// the references to records that the DIMSTYLE table lists (340, 2000 on).
struct TableHead {
  std::vector<Handle> reactors;
  Handle xdictionary = 0;
  std::vector<RawTag> applications;
  std::vector<RawTag> extra;
  std::vector<RawTag> xdata;
  std::vector<Handle> records;
};

template <class R>
struct SymbolTable {
  Handle handle = 0;
  TableHead head;
  std::vector<Record<R>> records;

  // By hashed name (see NameIndex): expected constant time.
  Record<R>* find(std::string_view name);
  const Record<R>* find(std::string_view name) const;
  Record<R>& add(std::string name);  // without a handle; Database::addRecord gives one
  NameIndex names;
};

// A block: its table record and its BLOCK/ENDBLK entities in one.
struct BlockRecord {
  Handle handle = 0;       // the block record (R13 and later)
  Handle blockHandle = 0;  // BLOCK
  Handle endHandle = 0;    // ENDBLK
  std::string name;
  std::int32_t flags = 0;  // 1 anonymous, 2 has attribute definitions, 4 external reference ...
  Point3 base;
  std::string layer = "0";
  std::string xrefPath;
  std::string description;
  Handle layout = 0;  // LAYOUT object of *Model_Space and *Paper_Space
  std::vector<Handle> reactors;  // of the block record, as on entities
  Handle xdictionary = 0;
  std::vector<RawTag> applications;  // of the block record, as on entities
  // Of the block record: groups the toolkit does not model (units, preview
  // image ...) with other applications' 102 groups after the owner, and
  // the XDATA.
  std::vector<RawTag> recordExtra;
  std::vector<RawTag> recordXdata;
  std::vector<EntityId> entities;
  FollowerGroups blockGroups;  // of the BLOCK entity, on `layer` when plain
  FollowerGroups endGroups;    // of the ENDBLK
};

// ------------------------------------------------------------- objects

struct DictionaryEntry {
  std::string name;
  Handle object = 0;
};

struct Dictionary {
  bool hardOwner = false;
  std::int32_t cloning = 1;
  std::vector<DictionaryEntry> entries;
};

struct Layout {
  std::string pageSetup;
  std::string printer = "none_device";
  std::string paperSize;
  std::string plotView;
  double marginLeft = 0;
  double marginBottom = 0;
  double marginRight = 0;
  double marginTop = 0;
  double paperWidth = 0;
  double paperHeight = 0;
  double originX = 0;
  double originY = 0;
  double windowMinX = 0;
  double windowMinY = 0;
  double windowMaxX = 0;
  double windowMaxY = 0;
  double scaleNumerator = 1;
  double scaleDenominator = 1;
  std::int32_t plotFlags = 688;
  std::int32_t paperUnits = 0;
  std::int32_t rotation = 0;
  std::int32_t plotType = 5;
  std::string styleSheet;
  std::int32_t standardScale = 16;
  double scaleFactor = 1;
  double imageOriginX = 0;
  double imageOriginY = 0;
  std::string name;
  std::int32_t flags = 0;
  std::int32_t tabOrder = 0;
  Point3 limMin;
  Point3 limMax{420, 297, 0};
  Point3 insBase;
  Point3 extMin{1e20, 1e20, 1e20};
  Point3 extMax{-1e20, -1e20, -1e20};
  double elevation = 0;
  Point3 ucsOrigin;
  Point3 ucsXAxis{1, 0, 0};
  Point3 ucsYAxis{0, 1, 0};
  std::int32_t orthoType = 0;
  Handle blockRecord = 0;
  Handle viewport = 0;
  // The UCS records of a layout's own UCS: the named one it uses and the
  // base of an orthographic one (0: unnamed, the world).
  Handle namedUcs = 0;
  Handle baseUcs = 0;
};

// A handle reference of a DWG object's handle stream that no group of the
// object's data states: its code (2 soft owner, 3 hard owner, 4 soft
// pointer, 5 hard pointer) and the object it names.
struct DwgReference {
  std::uint8_t code = 4;
  Handle target = 0;
  bool operator==(const DwgReference&) const = default;
};

// An object of a kind the toolkit does not model: every group after the
// owner, as read from a DXF file, or its bits from a DWG file.
struct UnknownObject {
  std::vector<RawTag> tags;
  DwgKeptBits dwg;
  // The references a DWG file stores after the data (an xrecord's), which
  // DXF files have no place for.
  std::vector<DwgReference> references;
  // Only a DWG file of its release can hold it.
  bool keepsDwgBits() const { return dwg.type != 0 || dwg.dataBits + dwg.handleBits > 0; }
};

enum class ObjectKind : std::uint8_t { Dictionary, Layout, Unknown, Group };
using ObjectData = std::variant<Dictionary, Layout, UnknownObject, Group>;

struct Object {
  ObjectKind kind = ObjectKind::Unknown;
  std::string dxfName;
  Handle handle = 0;
  Handle owner = 0;
  Release readIn = kNewestRelease;
  std::vector<Handle> reactors;  // as on entities
  Handle xdictionary = 0;
  std::vector<RawTag> extra;  // other 102 groups of applications, as read
  ObjectData data;
};

struct ClassDef {
  std::string dxfName;
  std::string className;
  std::string application = "ObjectDBX Classes";
  std::int32_t flags = 0;
  std::int32_t instances = 0;
  bool wasProxy = false;
  bool isEntity = false;
};

// ------------------------------------------------------------- header

enum class ValueKind : std::uint8_t { Real, Int, Text, Point, Handle, Bool };
using HeaderValue = std::variant<std::monostate, double, std::int32_t, std::string, Point3, Handle, bool>;

// A header variable the toolkit does not declare, kept as read.
struct UnknownVariable {
  std::string name;
  std::vector<RawTag> tags;
};

class Header {
 public:
  Header();
  // Values of declared variables (see schema.h); unset ones read as their
  // declared default.  Names are "$NAME"; unknown names read as defaults of
  // their kind and are set as unknown variables.
  double real(std::string_view name) const;
  std::int32_t integer(std::string_view name) const;
  std::string text(std::string_view name) const;
  Point3 point(std::string_view name) const;
  Handle handle(std::string_view name) const;
  bool set(std::string_view name, HeaderValue value);  // false: not a declared variable (or wrong kind)

  HeaderValue& valueAt(std::size_t declared) { return values_[declared]; }
  const HeaderValue& valueAt(std::size_t declared) const { return values_[declared]; }

  std::vector<UnknownVariable> unknown;
  Release unknownFrom = kNewestRelease;
  // Values of a DWG file's header variables section that no DXF variable
  // holds (unnamed values, settings of the application only), each a tag of
  // code 0; kept so that writing the release they were read in gives them
  // back.
  std::vector<UnknownVariable> dwgUnknown;
  Release dwgUnknownFrom = kNewestRelease;

 private:
  std::vector<HeaderValue> values_;
};

// ------------------------------------------------------------- database

enum class RefKind : std::uint8_t { Table, Record, Block, BlockBegin, BlockEnd, Entity, Vertex, Seqend, Object };

// Where a handle leads.
struct HandleRef {
  RefKind kind;
  std::uint32_t index = 0;  // entity id, object index, block index, or table number
  std::uint32_t sub = 0;    // record or vertex index
};

// Handles and where they lead.  The handles of a file are mostly dense
// (numbered from 1 on): those below four times the handles held (plus a
// thousand) are found directly at their place in one array, 12 bytes and a
// bit a place, filled in order as a file is read.  The others go to open
// addressing with linear probing over two flat arrays (8 + 12 bytes a
// slot, at most four fifths full) whose slots are found from the handle
// mixed with a seed of its own, so that no choice of handles in a file
// crowds them together.  A drawing of a million entities indexes them in
// about 12 MB, and a large one is not slowed by a table spread wider than
// the caches.
class HandleIndex {
 public:
  HandleIndex();
  // False when `h` is there already (or is 0, which names nothing).
  bool insert(Handle h, HandleRef ref);
  // Valid until the next insert.
  const HandleRef* find(Handle h) const;
  // Expects `n` handles; frees what was there.
  void reset(std::size_t n = 0);
  std::size_t size() const { return size_; }

 private:
  bool denseFits(Handle h) const { return h < 4 * (size_ + expected_) + 1024; }
  bool present(Handle h) const { return h < dense_.size() && ((present_[h >> 6] >> (h & 63)) & 1) != 0; }
  const HandleRef* findSparse(Handle h) const;
  bool insertSparse(Handle h, HandleRef ref);
  std::size_t slotOf(Handle h) const;
  void grow();

  std::vector<HandleRef> dense_;           // by handle
  std::vector<std::uint64_t> present_;     // a bit by handle: dense_ holds it
  std::vector<Handle> keys_;               // 0: empty
  std::vector<HandleRef> refs_;
  std::size_t sparse_ = 0;                 // handles in keys_
  std::size_t size_ = 0;
  std::size_t expected_ = 0;
  std::uint64_t seed_;
};

class Database {
 public:
  // An empty database: no tables, no blocks (readers start from this).
  Database() = default;
  // A database with the default objects of the release: the tables and
  // records every file of it has, model and paper space, the dictionaries
  // and layouts of later releases.
  static Database create(Release release);
  // Adds whatever `release` needs and the database lacks (idempotent).
  void completeFor(Release release);

  Release release = Release::R2000;

  Header header;

  SymbolTable<Vport> vports;
  SymbolTable<Linetype> linetypes;
  SymbolTable<Layer> layers;
  SymbolTable<TextStyle> styles;
  SymbolTable<View> views;
  SymbolTable<Ucs> ucs;
  SymbolTable<AppId> appids;
  SymbolTable<DimStyle> dimstyles;
  Handle blockTable = 0;
  // The table of viewport entity records, which DWG files of R13 to 2000
  // have and DXF files lack (its handle is kept so that a drawing written
  // again keeps its numbers).
  Handle viewportEntityTable = 0;
  TableHead blockTableHead;

  std::vector<BlockRecord> blocks;
  // Every entity; blocks and inserts refer to them by id.  A deque grows
  // without moving what it holds, so a large drawing never needs its
  // entities twice in memory while it is read.
  std::deque<Entity> entities;
  std::vector<Object> objects;
  Handle rootDictionary = 0;
  std::vector<ClassDef> classes;

  // Handles: the next one to give and the index of those given.
  Handle newHandle() { return nextHandle_++; }
  Handle handleSeed() const { return nextHandle_; }
  // Records that `h` is taken (keeps the seed above it); false if it already was.
  bool claim(Handle h, HandleRef ref);
  const HandleRef* find(Handle h) const;
  // Keeps handles below `h` free of new ones (the seed a file states).
  void raiseSeed(Handle h) {
    if (h > nextHandle_) nextHandle_ = h;
  }
  // Calls f(Handle&) for every handle the database holds: tables, records,
  // blocks, entities with their vertices and sequence ends, objects.
  template <class F>
  void forEachHandle(F&& f);
  // Calls f(Handle&, HandleRef) for every handle with where it leads, in
  // the order of forEachHandle; the sequence end of an insert without
  // attributes only when it has a handle.
  template <class F>
  void forEachHandleRef(F&& f);
  // Rebuilds the index from the contents (after edits that bypassed claim).
  void reindex();
  // Empties the index, with room for `handles` handles.
  void clearIndex(std::size_t handles) { index_.reset(handles); }

  BlockRecord* findBlock(std::string_view name);  // by hashed name (see NameIndex)
  // To be called after renaming or removing records or blocks in place.
  void namesChanged();
  BlockRecord& modelSpace();  // created when missing
  BlockRecord& paperSpace();
  std::size_t blockIndex(const BlockRecord& b) const { return static_cast<std::size_t>(&b - blocks.data()); }

  // Adds an entity to a block with a new handle; returns its id.
  EntityId addEntity(BlockRecord& block, Entity e);
  // Adds an ATTRIB to an insert (it follows the insert in files).
  EntityId addAttribute(EntityId insert, Entity attribute);
  template <class R>
  Record<R>& addRecord(SymbolTable<R>& table, std::string name);
  BlockRecord& addBlock(std::string name);
  Object& addObject(std::string dxfName, Handle owner, ObjectData data);
  Object* findObject(Handle h);
  Dictionary* dictionary(Handle h);
  // Adds a GROUP object named `name` to the ACAD_GROUP dictionary (made
  // when missing) and makes the group a reactor of each of its entities.
  Object& addGroup(std::string name, Group group);
  // The name of a group object (its key in the ACAD_GROUP dictionary);
  // empty when it is not there.
  std::string groupName(Handle group);

 private:
  Handle nextHandle_ = 1;
  HandleIndex index_;
  NameIndex blockNames_;
};

// Case-insensitive name comparison (ASCII), as the formats compare names.
bool sameName(std::string_view a, std::string_view b);

// The DXF name and kind of each modelled entity.
EntityKind entityKindOf(std::string_view dxfName, bool* known);
std::string_view dxfNameOf(EntityKind kind);
Entity makeEntity(EntityKind kind);

template <class F>
void Database::forEachHandle(F&& f) {
  auto table = [&](auto& t) {
    f(t.handle);
    for (auto& r : t.records) f(r.common.handle);
  };
  table(vports);
  table(linetypes);
  table(layers);
  table(styles);
  table(views);
  table(ucs);
  table(appids);
  table(dimstyles);
  f(blockTable);
  for (BlockRecord& b : blocks) {
    f(b.handle);
    f(b.blockHandle);
    f(b.endHandle);
  }
  for (Entity& e : entities) {
    f(e.common.handle);
    if (auto* p = get_if<Polyline>(&e.data)) {
      for (Vertex& v : p->vertices) f(v.handle);
      f(p->seqend);
    } else if (auto* i = get_if<Insert>(&e.data)) {
      if (!i->attributes.empty()) f(i->seqend);
    }
  }
  for (Object& o : objects) f(o.handle);
}

template <class F>
void Database::forEachHandleRef(F&& f) {
  auto table = [&](auto& t, std::uint32_t number) {
    f(t.handle, HandleRef{RefKind::Table, number, 0});
    for (std::size_t i = 0; i < t.records.size(); ++i)
      f(t.records[i].common.handle, HandleRef{RefKind::Record, number, static_cast<std::uint32_t>(i)});
  };
  table(vports, 0);
  table(linetypes, 1);
  table(layers, 2);
  table(styles, 3);
  table(views, 4);
  table(ucs, 5);
  table(appids, 6);
  table(dimstyles, 7);
  f(blockTable, HandleRef{RefKind::Table, 8, 0});
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const auto bi = static_cast<std::uint32_t>(b);
    f(blocks[b].handle, HandleRef{RefKind::Block, bi, 0});
    f(blocks[b].blockHandle, HandleRef{RefKind::BlockBegin, bi, 0});
    f(blocks[b].endHandle, HandleRef{RefKind::BlockEnd, bi, 0});
  }
  for (std::size_t i = 0; i < entities.size(); ++i) {
    const auto id = static_cast<std::uint32_t>(i);
    Entity& e = entities[i];
    f(e.common.handle, HandleRef{RefKind::Entity, id, 0});
    if (auto* p = get_if<Polyline>(&e.data)) {
      for (std::size_t v = 0; v < p->vertices.size(); ++v)
        f(p->vertices[v].handle, HandleRef{RefKind::Vertex, id, static_cast<std::uint32_t>(v)});
      f(p->seqend, HandleRef{RefKind::Seqend, id, 0});
    } else if (auto* ins = get_if<Insert>(&e.data)) {
      if (!ins->attributes.empty() || ins->seqend != 0) f(ins->seqend, HandleRef{RefKind::Seqend, id, 0});
    }
  }
  for (std::size_t i = 0; i < objects.size(); ++i) f(objects[i].handle, HandleRef{RefKind::Object, static_cast<std::uint32_t>(i), 0});
}

template <class NameAt>
std::size_t NameIndex::find(std::string_view name, std::size_t count, NameAt nameAt) const {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (count < indexed_) indexed_ = 0;
    if (indexed_ == 0) first_.clear();
    for (; indexed_ < count; ++indexed_) first_.emplace(foldedName(nameAt(indexed_)), indexed_);
    const auto it = first_.find(foldedName(name));
    if (it == first_.end()) return kNone;
    if (it->second < count && sameName(nameAt(it->second), name)) return it->second;
    indexed_ = 0;  // stale: rebuild once
  }
  return kNone;
}

template <class R>
Record<R>* SymbolTable<R>::find(std::string_view name) {
  const std::size_t i = names.find(name, records.size(), [&](std::size_t k) -> std::string_view { return records[k].common.name; });
  return i == NameIndex::kNone ? nullptr : &records[i];
}
template <class R>
const Record<R>* SymbolTable<R>::find(std::string_view name) const {
  const std::size_t i = names.find(name, records.size(), [&](std::size_t k) -> std::string_view { return records[k].common.name; });
  return i == NameIndex::kNone ? nullptr : &records[i];
}
template <class R>
Record<R>& SymbolTable<R>::add(std::string name) {
  records.emplace_back();
  records.back().common.name = std::move(name);
  records.back().common.owner = handle;
  return records.back();
}

}  // namespace drawingdb

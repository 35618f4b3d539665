#include "drawingdb/model.h"

#include <algorithm>
#include <random>

#include "drawingdb/schema.h"

namespace drawingdb {

RawTag rawTagOf(const Tag& t) { return RawTag{t.code, t.type, t.real, t.integer, std::string(t.text)}; }

Tag tagOf(const RawTag& r) {
  Tag t;
  t.code = r.code;
  t.type = r.type;
  t.real = r.real;
  t.integer = r.integer;
  t.text = r.text;
  return t;
}

std::string foldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return folded;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------- header

Header::Header() {
  const auto vars = headerVars();
  values_.reserve(vars.size());
  for (const HeaderVar& v : vars) values_.push_back(defaultValue(v));
}

namespace {

template <class T>
T valueOr(const HeaderValue& v, T fallback) {
  if (const T* p = std::get_if<T>(&v)) return *p;
  return fallback;
}

bool kindMatches(ValueKind k, const HeaderValue& v) {
  switch (k) {
    case ValueKind::Real: return std::holds_alternative<double>(v);
    case ValueKind::Int: return std::holds_alternative<std::int32_t>(v);
    case ValueKind::Text: return std::holds_alternative<std::string>(v);
    case ValueKind::Point: return std::holds_alternative<Point3>(v);
    case ValueKind::Handle: return std::holds_alternative<Handle>(v);
    case ValueKind::Bool: return std::holds_alternative<bool>(v);
  }
  return false;
}

}  // namespace

double Header::real(std::string_view name) const {
  const int i = headerVarIndex(name);
  return i < 0 ? 0.0 : valueOr<double>(values_[static_cast<std::size_t>(i)], 0.0);
}
std::int32_t Header::integer(std::string_view name) const {
  const int i = headerVarIndex(name);
  if (i < 0) return 0;
  const HeaderValue& v = values_[static_cast<std::size_t>(i)];
  if (const bool* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  return valueOr<std::int32_t>(v, 0);
}
std::string Header::text(std::string_view name) const {
  const int i = headerVarIndex(name);
  return i < 0 ? std::string() : valueOr<std::string>(values_[static_cast<std::size_t>(i)], std::string());
}
Point3 Header::point(std::string_view name) const {
  const int i = headerVarIndex(name);
  return i < 0 ? Point3{} : valueOr<Point3>(values_[static_cast<std::size_t>(i)], Point3{});
}
Handle Header::handle(std::string_view name) const {
  const int i = headerVarIndex(name);
  return i < 0 ? 0 : valueOr<Handle>(values_[static_cast<std::size_t>(i)], 0);
}
bool Header::set(std::string_view name, HeaderValue value) {
  const int i = headerVarIndex(name);
  if (i < 0 || !kindMatches(headerVars()[static_cast<std::size_t>(i)].kind, value)) return false;
  values_[static_cast<std::size_t>(i)] = std::move(value);
  return true;
}

// ---------------------------------------------------------------- kinds

EntityKind entityKindOf(std::string_view dxfName, bool* known) {
  for (const EntitySpec& s : entitySpecs())
    if (!s.dxfName.empty() && s.dxfName == dxfName) {
      if (known) *known = true;
      return s.kind;
    }
  if (known) *known = false;
  return EntityKind::Unknown;
}

std::string_view dxfNameOf(EntityKind kind) { return entitySpec(kind).dxfName; }

// ---------------------------------------------------------------- entities

// A drawing holds millions of these: the kind's data out of line, the rest
// in ten words.
static_assert(sizeof(Entity) <= 80);

const EntityExtras EntityCommon::kNoExtras{};

EntityCommon::EntityCommon(const EntityCommon& other)
    : handle(other.handle),
      owner(other.owner),
      layer(other.layer),
      linetype(other.linetype),
      linetypeScale(other.linetypeScale),
      xdictionary(other.xdictionary),
      more_(other.more_ ? std::make_unique<EntityExtras>(*other.more_) : nullptr),
      colour(other.colour),
      lineweight(other.lineweight),
      invisible(other.invisible),
      paperSpace(other.paperSpace) {}

EntityCommon& EntityCommon::operator=(const EntityCommon& other) {
  if (this != &other) *this = EntityCommon(other);
  return *this;
}

EntityExtras& EntityCommon::extras() {
  if (!more_) more_ = std::make_unique<EntityExtras>();
  return *more_;
}

FollowerGroups::FollowerGroups() = default;
FollowerGroups::FollowerGroups(const FollowerGroups& other)
    : own_(other.own_ ? std::make_unique<EntityCommon>(*other.own_) : nullptr) {}
FollowerGroups::FollowerGroups(FollowerGroups&& other) noexcept = default;
FollowerGroups& FollowerGroups::operator=(const FollowerGroups& other) {
  if (this != &other) own_ = other.own_ ? std::make_unique<EntityCommon>(*other.own_) : nullptr;
  return *this;
}
FollowerGroups& FollowerGroups::operator=(FollowerGroups&& other) noexcept = default;
FollowerGroups::~FollowerGroups() = default;

void FollowerGroups::keep(EntityCommon groups, std::string_view headLayer) {
  const EntityExtras* more = groups.extrasIfAny();
  const bool plain = groups.layer == headLayer && sameName(groups.linetype, "BYLAYER") && groups.colour == 256 &&
                     groups.lineweight == -1 && groups.linetypeScale == 1.0 && !groups.invisible &&
                     groups.xdictionary == 0 && (more == nullptr || *more == EntityExtras{});
  if (plain) own_.reset();
  else own_ = std::make_unique<EntityCommon>(std::move(groups));
}

std::string_view Entity::dxfName() const {
  const EntityExtras* more = common.extrasIfAny();
  return more != nullptr && !more->dxfName.empty() ? std::string_view(more->dxfName) : dxfNameOf(kind);
}

void Entity::setDxfName(std::string_view name) {
  if (name == dxfNameOf(kind) && common.extrasIfAny() == nullptr) return;
  common.extras().dxfName = name == dxfNameOf(kind) ? std::string() : std::string(name);
}

namespace {
EntityData dataOf(EntityKind kind) {
  switch (kind) {
    case EntityKind::Line: return Line{};
    case EntityKind::Point: return PointEntity{};
    case EntityKind::Circle: return Circle{};
    case EntityKind::Arc: return Arc{};
    case EntityKind::Text: return Text{};
    case EntityKind::Ellipse: return Ellipse{};
    case EntityKind::Solid:
    case EntityKind::Trace: return Solid{};
    case EntityKind::Face3d: return Face3d{};
    case EntityKind::Insert: return Insert{};
    case EntityKind::Polyline: return Polyline{};
    case EntityKind::LwPolyline: return LwPolyline{};
    case EntityKind::AttDef: return AttDef{};
    case EntityKind::Attrib: return Attrib{};
    case EntityKind::Unknown: return UnknownEntity{};
    case EntityKind::Spline: return Spline{};
    case EntityKind::MText: return MText{};
    case EntityKind::Leader: return Leader{};
    case EntityKind::Viewport: return Viewport{};
    case EntityKind::Dimension: return Dimension{};
    case EntityKind::Hatch: return Hatch{};
  }
  return UnknownEntity{};
}
}  // namespace

// The data made in place: an Entity made first would hold a line's.
Entity makeEntity(EntityKind kind) { return Entity{EntityCommon{}, kind, kNewestRelease, dataOf(kind)}; }

// ---------------------------------------------------------------- database

HandleIndex::HandleIndex() : seed_(std::random_device{}()) { seed_ = (seed_ << 32) ^ std::random_device{}(); }

std::size_t HandleIndex::slotOf(Handle h) const {
  // A 64-bit mix of the handle and the seed, scaled onto the slots.
  std::uint64_t x = h ^ seed_;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return static_cast<std::size_t>((static_cast<unsigned __int128>(x) * keys_.size()) >> 64);
}

void HandleIndex::reset(std::size_t n) {
  dense_ = std::vector<HandleRef>();
  present_ = std::vector<std::uint64_t>();
  keys_ = std::vector<Handle>();
  refs_ = std::vector<HandleRef>();
  sparse_ = 0;
  size_ = 0;
  expected_ = n;
}

void HandleIndex::grow() {
  std::vector<Handle> keys = std::move(keys_);
  std::vector<HandleRef> refs = std::move(refs_);
  const std::size_t slots = std::max<std::size_t>(sparse_ * 2 + sparse_ / 2, 64);
  keys_.assign(slots, 0);
  refs_.resize(slots);
  sparse_ = 0;
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (keys[i] != 0) insertSparse(keys[i], refs[i]);
}

bool HandleIndex::insertSparse(Handle h, HandleRef ref) {
  if ((sparse_ + 1) * 5 > keys_.size() * 4) grow();
  for (std::size_t i = slotOf(h);; i = i + 1 == keys_.size() ? 0 : i + 1) {
    if (keys_[i] == h) return false;
    if (keys_[i] == 0) {
      keys_[i] = h;
      refs_[i] = ref;
      ++sparse_;
      return true;
    }
  }
}

const HandleRef* HandleIndex::findSparse(Handle h) const {
  if (keys_.empty()) return nullptr;
  for (std::size_t i = slotOf(h);; i = i + 1 == keys_.size() ? 0 : i + 1) {
    if (keys_[i] == h) return &refs_[i];
    if (keys_[i] == 0) return nullptr;
  }
}

bool HandleIndex::insert(Handle h, HandleRef ref) {
  if (h == 0) return false;
  if (!denseFits(h)) {
    if (!insertSparse(h, ref)) return false;
    ++size_;
    return true;
  }
  // A handle held apart while it was beyond the direct places stays there.
  if (present(h) || findSparse(h) != nullptr) return false;
  if (h >= dense_.size()) {
    // Room for the handles expected at once (a file's are mostly numbered
    // from 1 on, a few above them), so that a large file's index is not
    // grown by doubling, which leaves it up to twice too large and holds
    // the old array beside the new one while it moves; beyond that it
    // doubles.
    const std::size_t expected = expected_ + expected_ / 8 + 1024;
    const std::size_t step = dense_.empty() ? expected : 2 * dense_.size();
    const std::size_t places = std::max<std::size_t>(h + 1, std::min<std::size_t>(step, 4 * (size_ + expected_) + 1024));
    dense_.resize(places);
    present_.resize((places + 63) / 64, 0);
  }
  dense_[h] = ref;
  present_[h >> 6] |= std::uint64_t{1} << (h & 63);
  ++size_;
  return true;
}

const HandleRef* HandleIndex::find(Handle h) const {
  if (h == 0) return nullptr;
  if (present(h)) return &dense_[h];
  return findSparse(h);
}

bool Database::claim(Handle h, HandleRef ref) {
  if (h == 0) return false;
  if (h >= nextHandle_) nextHandle_ = h + 1;
  return index_.insert(h, ref);
}

const HandleRef* Database::find(Handle h) const { return index_.find(h); }

void Database::reindex() {
  std::size_t handles = 0;
  forEachHandleRef([&](Handle& h, HandleRef) { handles += h != 0 ? 1 : 0; });
  index_.reset(handles);
  forEachHandleRef([&](Handle& h, HandleRef ref) { claim(h, ref); });
}

BlockRecord* Database::findBlock(std::string_view name) {
  const std::size_t i = blockNames_.find(name, blocks.size(), [&](std::size_t k) -> std::string_view { return blocks[k].name; });
  return i == NameIndex::kNone ? nullptr : &blocks[i];
}

void Database::namesChanged() {
  blockNames_.changed();
  vports.names.changed();
  linetypes.names.changed();
  layers.names.changed();
  styles.names.changed();
  views.names.changed();
  ucs.names.changed();
  appids.names.changed();
  dimstyles.names.changed();
}

// (The exact spelling, the one the toolkit writes, is compared first: it
// is asked for with every entity a converter adds.)
BlockRecord& Database::modelSpace() {
  for (BlockRecord& b : blocks)
    if (b.name == "*Model_Space" || sameName(b.name, "*Model_Space") || sameName(b.name, "$MODEL_SPACE")) return b;
  return addBlock("*Model_Space");
}

BlockRecord& Database::paperSpace() {
  for (BlockRecord& b : blocks)
    if (b.name == "*Paper_Space" || sameName(b.name, "*Paper_Space") || sameName(b.name, "$PAPER_SPACE")) return b;
  return addBlock("*Paper_Space");
}

BlockRecord& Database::addBlock(std::string name) {
  blocks.emplace_back();
  BlockRecord& b = blocks.back();
  b.name = std::move(name);
  const auto bi = static_cast<std::uint32_t>(blocks.size() - 1);
  b.handle = newHandle();
  claim(b.handle, {RefKind::Block, bi, 0});
  b.blockHandle = newHandle();
  claim(b.blockHandle, {RefKind::BlockBegin, bi, 0});
  b.endHandle = newHandle();
  claim(b.endHandle, {RefKind::BlockEnd, bi, 0});
  return b;
}

EntityId Database::addEntity(BlockRecord& block, Entity e) {
  const auto id = static_cast<EntityId>(entities.size());
  if (e.common.handle == 0 || find(e.common.handle) != nullptr) e.common.handle = newHandle();
  claim(e.common.handle, {RefKind::Entity, id, 0});
  e.common.owner = block.handle;
  if (auto* p = get_if<Polyline>(&e.data)) {
    for (std::size_t v = 0; v < p->vertices.size(); ++v) {
      if (p->vertices[v].handle == 0) p->vertices[v].handle = newHandle();
      claim(p->vertices[v].handle, {RefKind::Vertex, id, static_cast<std::uint32_t>(v)});
    }
    if (p->seqend == 0) p->seqend = newHandle();
    claim(p->seqend, {RefKind::Seqend, id, 0});
  }
  entities.push_back(std::move(e));
  block.entities.push_back(id);
  return id;
}

EntityId Database::addAttribute(EntityId insert, Entity a) {
  const auto id = static_cast<EntityId>(entities.size());
  if (a.common.handle == 0 || find(a.common.handle) != nullptr) a.common.handle = newHandle();
  claim(a.common.handle, {RefKind::Entity, id, 0});
  a.common.owner = entities[insert].common.handle;
  entities.push_back(std::move(a));
  if (auto* ins = get_if<Insert>(&entities[insert].data)) {
    ins->attributes.push_back(id);
    if (ins->seqend == 0) {
      ins->seqend = newHandle();
      claim(ins->seqend, {RefKind::Seqend, insert, 0});
    }
  }
  return id;
}

template <class R>
static std::uint32_t tableNumber(const Database& db, const SymbolTable<R>& t) {
  const void* p = &t;
  if (p == &db.vports) return 0;
  if (p == &db.linetypes) return 1;
  if (p == &db.layers) return 2;
  if (p == &db.styles) return 3;
  if (p == &db.views) return 4;
  if (p == &db.ucs) return 5;
  if (p == &db.appids) return 6;
  return 7;
}

template <class R>
Record<R>& Database::addRecord(SymbolTable<R>& table, std::string name) {
  Record<R>& r = table.add(std::move(name));
  r.common.handle = newHandle();
  claim(r.common.handle, {RefKind::Record, tableNumber(*this, table), static_cast<std::uint32_t>(table.records.size() - 1)});
  return r;
}

template Record<Vport>& Database::addRecord(SymbolTable<Vport>&, std::string);
template Record<Linetype>& Database::addRecord(SymbolTable<Linetype>&, std::string);
template Record<Layer>& Database::addRecord(SymbolTable<Layer>&, std::string);
template Record<TextStyle>& Database::addRecord(SymbolTable<TextStyle>&, std::string);
template Record<View>& Database::addRecord(SymbolTable<View>&, std::string);
template Record<Ucs>& Database::addRecord(SymbolTable<Ucs>&, std::string);
template Record<AppId>& Database::addRecord(SymbolTable<AppId>&, std::string);
template Record<DimStyle>& Database::addRecord(SymbolTable<DimStyle>&, std::string);

Object& Database::addObject(std::string dxfName, Handle owner, ObjectData data) {
  objects.emplace_back();
  Object& o = objects.back();
  o.dxfName = std::move(dxfName);
  o.owner = owner;
  o.handle = newHandle();
  o.kind = std::holds_alternative<Dictionary>(data) ? ObjectKind::Dictionary
           : std::holds_alternative<Layout>(data)   ? ObjectKind::Layout
           : std::holds_alternative<Group>(data)    ? ObjectKind::Group
                                                    : ObjectKind::Unknown;
  o.data = std::move(data);
  claim(o.handle, {RefKind::Object, static_cast<std::uint32_t>(objects.size() - 1), 0});
  return o;
}

Object* Database::findObject(Handle h) {
  const HandleRef* ref = find(h);
  if (ref == nullptr || ref->kind != RefKind::Object || ref->index >= objects.size()) return nullptr;
  return &objects[ref->index];
}

Dictionary* Database::dictionary(Handle h) {
  Object* o = findObject(h);
  return o == nullptr ? nullptr : std::get_if<Dictionary>(&o->data);
}

Object& Database::addGroup(std::string name, Group group) {
  if (rootDictionary == 0 || dictionary(rootDictionary) == nullptr)
    rootDictionary = addObject("DICTIONARY", 0, Dictionary{}).handle;
  Handle groups = 0;
  for (const DictionaryEntry& e : dictionary(rootDictionary)->entries)
    if (e.name == "ACAD_GROUP" && dictionary(e.object) != nullptr) groups = e.object;
  if (groups == 0) {
    groups = addObject("DICTIONARY", rootDictionary, Dictionary{}).handle;
    dictionary(rootDictionary)->entries.push_back({"ACAD_GROUP", groups});
  }
  const std::vector<Handle> members = group.entities;
  Object& o = addObject("GROUP", groups, std::move(group));
  o.reactors.push_back(groups);
  dictionary(groups)->entries.push_back({std::move(name), o.handle});
  for (const Handle h : members) {
    const HandleRef* ref = find(h);
    if (ref == nullptr || ref->kind != RefKind::Entity) continue;
    std::vector<Handle>& reactors = entities[ref->index].common.extras().reactors;
    if (std::find(reactors.begin(), reactors.end(), o.handle) == reactors.end()) reactors.push_back(o.handle);
  }
  return o;
}

std::string Database::groupName(Handle group) {
  const Object* o = findObject(group);
  if (o == nullptr) return {};
  if (const Dictionary* d = dictionary(o->owner))
    for (const DictionaryEntry& e : d->entries)
      if (e.object == group) return e.name;
  return {};
}

// ---------------------------------------------------------------- defaults

namespace {

template <class R>
void ensureTableHandle(Database& db, SymbolTable<R>& t, std::uint32_t number) {
  if (t.handle == 0) {
    t.handle = db.newHandle();
    db.claim(t.handle, {RefKind::Table, number, 0});
  }
  for (Record<R>& r : t.records) r.common.owner = t.handle;
}

template <class R>
Record<R>& ensureRecord(Database& db, SymbolTable<R>& t, std::string_view name) {
  if (Record<R>* r = t.find(name)) return *r;
  return db.addRecord(t, std::string(name));
}

std::vector<RawTag> rawGroups(std::initializer_list<std::pair<int, std::string_view>> groups) {
  std::vector<RawTag> tags;
  for (const auto& [code, text] : groups) {
    RawTag t;
    t.code = code;
    t.type = tagTypeOf(code);
    if (t.type == TagType::Real) t.real = std::stod(std::string(text));
    else if (t.type == TagType::Int16 || t.type == TagType::Int32 || t.type == TagType::Bool) t.integer = std::stoll(std::string(text));
    else if (t.type == TagType::Handle) {
      Handle h = 0;
      if (parseHandle(text, h)) t.integer = static_cast<std::int64_t>(h);
    }
    t.text = std::string(text);
    tags.push_back(std::move(t));
  }
  return tags;
}

Handle dictionaryEntry(Database& db, Handle dict, std::string_view name) {
  if (Dictionary* d = db.dictionary(dict))
    for (const DictionaryEntry& e : d->entries)
      if (e.name == name) return e.object;
  return 0;
}

// Adds `name` to a dictionary with a new object, unless it names an object
// of the expected kind already; an entry naming anything else (a damaged
// file) is pointed at the new object.
Handle ensureEntry(Database& db, Handle dict, std::string_view name, std::string dxfName, ObjectData data) {
  if (const Handle h = dictionaryEntry(db, dict, name); h != 0) {
    const Object* o = db.findObject(h);
    if (o != nullptr && o->dxfName == dxfName && o->data.index() == data.index()) return h;
  }
  const Handle h = db.addObject(std::move(dxfName), dict, std::move(data)).handle;
  Dictionary* d = db.dictionary(dict);
  std::erase_if(d->entries, [&](const DictionaryEntry& e) { return e.name == name; });
  d->entries.push_back({std::string(name), h});
  return h;
}

void ensureClass(Database& db, std::string_view dxfName, std::string_view className) {
  for (const ClassDef& c : db.classes)
    if (c.dxfName == dxfName) return;
  ClassDef c;
  c.dxfName = std::string(dxfName);
  c.className = std::string(className);
  db.classes.push_back(std::move(c));
}

}  // namespace

Database Database::create(Release release) {
  Database db;
  db.release = release;
  db.completeFor(release);
  return db;
}

void Database::completeFor(Release r) {
  const bool modern = r >= Release::R13;
  ensureTableHandle(*this, vports, 0);
  ensureTableHandle(*this, linetypes, 1);
  ensureTableHandle(*this, layers, 2);
  ensureTableHandle(*this, styles, 3);
  ensureTableHandle(*this, views, 4);
  ensureTableHandle(*this, ucs, 5);
  ensureTableHandle(*this, appids, 6);
  ensureTableHandle(*this, dimstyles, 7);
  if (blockTable == 0) {
    blockTable = newHandle();
    claim(blockTable, {RefKind::Table, 8, 0});
  }
  if (modern) {
    ensureRecord(*this, linetypes, "ByBlock");
    ensureRecord(*this, linetypes, "ByLayer");
  }
  ensureRecord(*this, linetypes, modern ? "Continuous" : "CONTINUOUS").data.description = "Solid line";
  Record<Layer>& zero = ensureRecord(*this, layers, "0");
  if (!linetypes.find(zero.data.linetype)) zero.data.linetype = modern ? "Continuous" : "CONTINUOUS";
  ensureRecord(*this, styles, modern ? "Standard" : "STANDARD");
  if (r >= Release::R10) ensureRecord(*this, vports, "*ACTIVE");
  if (r >= Release::R12) {
    ensureRecord(*this, appids, "ACAD");
    ensureRecord(*this, dimstyles, modern ? "Standard" : "STANDARD");
  }
  modelSpace();
  paperSpace();
  if (modern) {
    if (rootDictionary == 0 || dictionary(rootDictionary) == nullptr) rootDictionary = addObject("DICTIONARY", 0, Dictionary{}).handle;
    ensureEntry(*this, rootDictionary, "ACAD_GROUP", "DICTIONARY", Dictionary{});
  }
  if (r >= Release::R2000) {
    dictionary(rootDictionary)->cloning = 1;
    const Handle layouts = ensureEntry(*this, rootDictionary, "ACAD_LAYOUT", "DICTIONARY", Dictionary{});
    const Handle styles = ensureEntry(*this, rootDictionary, "ACAD_MLINESTYLE", "DICTIONARY", Dictionary{});
    ensureEntry(*this, rootDictionary, "ACAD_PLOTSETTINGS", "DICTIONARY", Dictionary{});
    if (dictionaryEntry(*this, rootDictionary, "ACAD_PLOTSTYLENAME") == 0) {
      Object& names = addObject("ACDBDICTIONARYWDFLT", rootDictionary, UnknownObject{});
      const Handle namesHandle = names.handle;
      const Handle normal = addObject("ACDBPLACEHOLDER", namesHandle, UnknownObject{}).handle;
      Object& n = *findObject(namesHandle);
      n.readIn = r;
      std::get<UnknownObject>(n.data).tags =
          rawGroups({{100, "AcDbDictionary"}, {281, "1"}, {3, "Normal"}, {350, formatHandle(normal)},
                     {100, "AcDbDictionaryWithDefault"}, {340, formatHandle(normal)}});
      dictionary(rootDictionary)->entries.push_back({"ACAD_PLOTSTYLENAME", namesHandle});
    }
    if (dictionaryEntry(*this, styles, "Standard") == 0) {
      Object& ml = addObject("MLINESTYLE", styles, UnknownObject{});
      ml.readIn = r;
      std::get<UnknownObject>(ml.data).tags =
          rawGroups({{100, "AcDbMlineStyle"}, {2, "Standard"}, {70, "0"}, {3, ""}, {62, "256"}, {51, "90.0"},
                     {52, "90.0"}, {71, "2"}, {49, "0.5"}, {62, "256"}, {6, "BYLAYER"}, {49, "-0.5"}, {62, "256"},
                     {6, "BYLAYER"}});
      dictionary(styles)->entries.push_back({"Standard", ml.handle});
    }
    // The layouts of model space and paper space, linked both ways.
    struct Space {
      const char* name;
      int tab;
    };
    for (const Space s : {Space{"Model", 0}, Space{"Layout1", 1}}) {
      BlockRecord& block = s.tab == 0 ? modelSpace() : paperSpace();
      const Handle blockHandle = block.handle;
      Layout layout;
      layout.name = s.name;
      layout.tabOrder = s.tab;
      layout.flags = s.tab == 0 ? 1 : 0;
      layout.plotFlags = s.tab == 0 ? 1712 : 688;
      layout.blockRecord = blockHandle;
      const Handle h = ensureEntry(*this, layouts, s.name, "LAYOUT", std::move(layout));
      if (Object* o = findObject(h))
        if (auto* l = std::get_if<Layout>(&o->data)) l->blockRecord = blockHandle;
      (s.tab == 0 ? modelSpace() : paperSpace()).layout = h;
    }
    ensureClass(*this, "ACDBDICTIONARYWDFLT", "AcDbDictionaryWithDefault");
    ensureClass(*this, "ACDBPLACEHOLDER", "AcDbPlaceHolder");
    ensureClass(*this, "LAYOUT", "AcDbLayout");
  }
  // Everything written from R13 on carries a handle.
  for (std::size_t i = 0; i < entities.size(); ++i) {
    Entity& e = entities[i];
    if (e.common.handle == 0 && r >= Release::R10) {
      e.common.handle = newHandle();
      claim(e.common.handle, {RefKind::Entity, static_cast<std::uint32_t>(i), 0});
    }
    const auto id = static_cast<std::uint32_t>(i);
    if (auto* p = get_if<Polyline>(&e.data)) {
      for (std::size_t v = 0; v < p->vertices.size(); ++v)
        if (p->vertices[v].handle == 0) {
          p->vertices[v].handle = newHandle();
          claim(p->vertices[v].handle, {RefKind::Vertex, id, static_cast<std::uint32_t>(v)});
        }
      if (p->seqend == 0) {
        p->seqend = newHandle();
        claim(p->seqend, {RefKind::Seqend, id, 0});
      }
    } else if (auto* ins = get_if<Insert>(&e.data)) {
      if (!ins->attributes.empty() && ins->seqend == 0) {
        ins->seqend = newHandle();
        claim(ins->seqend, {RefKind::Seqend, id, 0});
      }
    }
  }
}

}  // namespace drawingdb

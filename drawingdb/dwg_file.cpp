#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_file.h"

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "drawingdb/dimension_block.h"
#include "drawingdb/dimstyle_forms.h"
#include "drawingdb/dwg_objects.h"
#include "drawingdb/dwg_pre_r13.h"
#include "drawingdb/dwg_records.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/hatch_fill.h"
#include "drawingdb/schema.h"

namespace drawingdb {

namespace {

}  // namespace

// ------------------------------------------------------------- writing

namespace {

// A name's record in a table, or 0.
template <class R>
Handle recordHandle(const SymbolTable<R>& table, std::string_view name) {
  const Record<R>* r = table.find(name);
  return r == nullptr ? 0 : r->common.handle;
}

Handle entryOf(Database& db, Handle dictionary, std::string_view name) {
  if (const Dictionary* d = db.dictionary(dictionary))
    for (const DictionaryEntry& e : d->entries)
      if (sameName(e.name, name)) return e.object;
  return 0;
}

// The header variables that name a record, as handles, and back.
Handle namedHandle(Database& db, DwgNameTable table, std::string_view name, Handle mlineStyles) {
  switch (table) {
    case DwgNameTable::Layer: return recordHandle(db.layers, name);
    case DwgNameTable::Style: return recordHandle(db.styles, name);
    case DwgNameTable::Linetype: return recordHandle(db.linetypes, name);
    case DwgNameTable::DimStyle: return recordHandle(db.dimstyles, name);
    case DwgNameTable::Ucs: return recordHandle(db.ucs, name);
    case DwgNameTable::MlineStyle: return entryOf(db, mlineStyles, name);
    case DwgNameTable::Block: {
      const BlockRecord* b = db.findBlock(name);
      return b == nullptr ? 0 : b->handle;
    }
  }
  return 0;
}

// The header's handles from the database: tables, dictionaries, spaces and
// the records the named variables name.  `vxControl` is the viewport
// entity table, which the database does not hold.
DwgHeaderHandles dwgHeaderHandlesOf(Database& db, Release r, Handle vxControl) {
  DwgHeaderHandles h;
  h.blockControl = db.blockTable;
  h.layerControl = db.layers.handle;
  h.styleControl = db.styles.handle;
  h.linetypeControl = db.linetypes.handle;
  h.viewControl = db.views.handle;
  h.ucsControl = db.ucs.handle;
  h.vportControl = db.vports.handle;
  h.appidControl = db.appids.handle;
  h.dimstyleControl = db.dimstyles.handle;
  h.vxControl = vxControl;
  h.namedObjects = db.rootDictionary;
  h.groupDictionary = entryOf(db, db.rootDictionary, "ACAD_GROUP");
  h.mlineStyleDictionary = entryOf(db, db.rootDictionary, "ACAD_MLINESTYLE");
  if (r >= Release::R2004) {
    h.materialDictionary = entryOf(db, db.rootDictionary, "ACAD_MATERIAL");
    h.colorDictionary = entryOf(db, db.rootDictionary, "ACAD_COLOR");
  }
  if (r >= Release::R2000) {
    h.layoutDictionary = entryOf(db, db.rootDictionary, "ACAD_LAYOUT");
    h.plotSettingsDictionary = entryOf(db, db.rootDictionary, "ACAD_PLOTSETTINGS");
    h.plotStyleDictionary = entryOf(db, db.rootDictionary, "ACAD_PLOTSTYLENAME");
  }
  h.modelSpace = db.modelSpace().handle;
  h.paperSpace = db.paperSpace().handle;
  h.byLayer = recordHandle(db.linetypes, "ByLayer");
  h.byBlock = recordHandle(db.linetypes, "ByBlock");
  h.continuous = recordHandle(db.linetypes, "Continuous");
  for (const DwgNamedHandle& n : dwgHeaderNamedHandles()) {
    if (!n.in.has(r)) continue;
    h.*n.member = namedHandle(db, n.table, db.header.text(n.variable), h.mlineStyleDictionary);
  }
  // A drawing names its current records; where a name leads nowhere the
  // standard record stands in.
  auto fallback = [&](Handle& member, Handle standard) {
    if (member == 0) member = standard;
  };
  fallback(h.currentLayer, recordHandle(db.layers, "0"));
  fallback(h.textStyle, recordHandle(db.styles, "Standard"));
  fallback(h.currentLinetype, h.byLayer);
  fallback(h.dimStyle, recordHandle(db.dimstyles, "Standard"));
  fallback(h.mlineStyle, entryOf(db, h.mlineStyleDictionary, "Standard"));
  fallback(h.dimTextStyle, h.textStyle);
  h.handseed = db.handleSeed();
  return h;
}

}  // namespace

namespace {

// The lookups the object writers ask for, from the database.
class WriteContext final : public DwgWriteContext {
 public:
  WriteContext(Database& db, Release r, CodePage page, std::uint16_t pageNumber, std::vector<ClassDef>& classes)
      : db_(db), release_(r), page_(std::move(page)), pageNumber_(pageNumber), classes_(classes) {}

  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  std::uint16_t codepageNumber() const override { return pageNumber_; }
  Handle layerHandle(std::string_view name) const override { return recordHandle(db_.layers, name); }
  Handle linetypeHandle(std::string_view name) const override { return recordHandle(db_.linetypes, name); }
  Handle styleHandle(std::string_view name) const override { return recordHandle(db_.styles, name); }
  Handle dimstyleHandle(std::string_view name) const override { return recordHandle(db_.dimstyles, name); }
  Handle blockHandle(std::string_view name) const override {
    const BlockRecord* b = db_.findBlock(name);
    return b == nullptr ? 0 : b->handle;
  }
  // Every application is given its record before the objects are written
  // (see addApplications); one found only now has none.
  Handle appidHandle(std::string_view app) override {
    const Handle h = recordHandle(db_.appids, app);
    if (h == 0) warn("application " + std::string(app) + " has no APPID record: its extended data is left out");
    return h;
  }
  std::int16_t classNumber(std::string_view dxfName) override {
    const std::int16_t n = dwgClassNumber(classes_, dxfName);
    if (n < 0) warn("no class " + std::string(dxfName) + " among the classes of the file");
    return n;
  }
  void warn(std::string_view what) override { warnings.emplace_back(what); }

  std::vector<std::string> warnings;

 private:
  Database& db_;
  Release release_;
  CodePage page_;
  std::uint16_t pageNumber_;
  std::vector<ClassDef>& classes_;
};

// Gives every application that extended data names an APPID record.
void addApplications(Database& db) {
  std::vector<std::string> names;
  auto scan = [&](const std::vector<RawTag>& tags) {
    for (const RawTag& t : tags)
      if (t.code == 1001 && !t.text.empty() && db.appids.find(t.text) == nullptr &&
          std::find(names.begin(), names.end(), t.text) == names.end())
        names.push_back(t.text);
  };
  for (const Entity& e : db.entities) {
    scan(e.common.xdata());
    if (const auto* p = get_if<Polyline>(&e.data))
      for (const Vertex& v : p->vertices)
        if (const EntityCommon* own = v.own.get()) scan(own->xdata());
  }
  for (const BlockRecord& b : db.blocks) {
    scan(b.recordXdata);
    for (const FollowerGroups* own : {&b.blockGroups, &b.endGroups})
      if (const EntityCommon* c = own->get()) scan(c->xdata());
  }
  auto records = [&](auto& table) {
    for (const auto& r : table.records) scan(r.common.xdata);
  };
  records(db.vports);
  records(db.linetypes);
  records(db.layers);
  records(db.styles);
  records(db.views);
  records(db.ucs);
  records(db.appids);
  records(db.dimstyles);
  for (std::string& n : names) db.addRecord(db.appids, std::move(n));
}

// What a file of R13 or R14 holds besides what Database::completeFor adds:
// the multiline style dictionary with its "Standard" style, which the
// header variables name.
void addMlineStyles(Database& db, Release r) {
  Dictionary* root = db.dictionary(db.rootDictionary);
  if (root == nullptr) return;
  Handle styles = entryOf(db, db.rootDictionary, "ACAD_MLINESTYLE");
  if (styles == 0 || db.dictionary(styles) == nullptr) {
    styles = db.addObject("DICTIONARY", db.rootDictionary, Dictionary{}).handle;
    std::erase_if(db.dictionary(db.rootDictionary)->entries,
                  [](const DictionaryEntry& e) { return e.name == "ACAD_MLINESTYLE"; });
    db.dictionary(db.rootDictionary)->entries.push_back({"ACAD_MLINESTYLE", styles});
  }
  if (entryOf(db, styles, "Standard") != 0) return;
  // The style as a DXF file states it: two lines half a unit either side.
  auto tag = [](int code, TagType type, std::string text, double real = 0, std::int64_t integer = 0) {
    RawTag t;
    t.code = code;
    t.type = type;
    t.text = std::move(text);
    t.real = real;
    t.integer = integer;
    return t;
  };
  Object& ml = db.addObject("MLINESTYLE", styles, UnknownObject{});
  ml.readIn = r;
  ml.reactors.push_back(styles);
  std::get<UnknownObject>(ml.data).tags = {
      tag(100, TagType::String, "AcDbMlineStyle"), tag(2, TagType::String, "Standard"),
      tag(70, TagType::Int16, "0", 0, 0),          tag(3, TagType::String, ""),
      tag(62, TagType::Int16, "256", 0, 256),      tag(51, TagType::Real, "90.0", 90),
      tag(52, TagType::Real, "90.0", 90),          tag(71, TagType::Int16, "2", 0, 2),
      tag(49, TagType::Real, "0.5", 0.5),          tag(62, TagType::Int16, "256", 0, 256),
      tag(6, TagType::String, "BYLAYER"),          tag(49, TagType::Real, "-0.5", -0.5),
      tag(62, TagType::Int16, "256", 0, 256),      tag(6, TagType::String, "BYLAYER")};
  db.dictionary(styles)->entries.push_back({"Standard", ml.handle});
}

// What an R14 file holds besides: the dictionary of variables the header
// has no place for, with the angular decimals of dimensions (the header of
// 2000 holds them as $DIMADEC).  Kept as found when the drawing has it.
void addVariableDictionary(Database& db, Release r) {
  if (db.dictionary(db.rootDictionary) == nullptr) return;
  Handle variables = entryOf(db, db.rootDictionary, "ACDBVARIABLEDICTIONARY");
  if (variables == 0 || db.dictionary(variables) == nullptr) {
    Object& d = db.addObject("DICTIONARY", db.rootDictionary, Dictionary{});
    d.reactors.push_back(db.rootDictionary);
    variables = d.handle;
    std::erase_if(db.dictionary(db.rootDictionary)->entries,
                  [](const DictionaryEntry& e) { return sameName(e.name, "ACDBVARIABLEDICTIONARY"); });
    db.dictionary(db.rootDictionary)->entries.push_back({"ACDBVARIABLEDICTIONARY", variables});
  }
  if (entryOf(db, variables, "DIMADEC") != 0) return;
  RawTag subclass, schema, value;
  subclass.code = 100;
  subclass.type = TagType::String;
  subclass.text = "DictionaryVariables";
  schema.code = 280;
  schema.type = TagType::Int16;
  value.code = 1;
  value.type = TagType::String;
  value.text = std::to_string(db.header.integer("$DIMADEC"));
  Object& var = db.addObject("DICTIONARYVAR", variables, UnknownObject{{subclass, schema, value}, {}, {}});
  var.readIn = r;
  var.reactors.push_back(variables);
  db.dictionary(variables)->entries.push_back({"DIMADEC", var.handle});
}

// A drawing of 2000 as its programs begin one has two paper layouts,
// "Layout1" and "Layout2", each with a paper space block of its own (the
// second's is "*Paper_Space0").  A drawing with no paper layout but the
// first is given the second.
void addSecondPaperLayout(Database& db) {
  const Handle layouts = entryOf(db, db.rootDictionary, "ACAD_LAYOUT");
  const Dictionary* d = db.dictionary(layouts);
  if (d == nullptr || d->entries.size() != 2 || entryOf(db, layouts, "Layout2") != 0 ||
      db.findBlock("*Paper_Space0") != nullptr)
    return;
  const Handle block = db.addBlock("*Paper_Space0").handle;
  Layout layout;
  layout.name = "Layout2";
  layout.tabOrder = 2;
  layout.blockRecord = block;
  Object& o = db.addObject("LAYOUT", layouts, std::move(layout));
  o.reactors.push_back(layouts);
  const Handle h = o.handle;
  db.findBlock("*Paper_Space0")->layout = h;
  std::vector<DictionaryEntry>& entries = db.dictionary(layouts)->entries;
  entries.push_back({"Layout2", h});
  std::stable_sort(entries.begin(), entries.end(),
                   [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.name < b.name; });
}

// The objects a drawing of 2004 has besides its tables: the materials
// ByBlock, ByLayer and Global in ACAD_MATERIAL, the visual styles in
// ACAD_VISUALSTYLE and the annotation scales in ACAD_SCALELIST, as files
// written by the CAD programs hold them.  Dictionaries the drawing has
// already are kept as they are.
struct VisualStyleRow {
  std::string_view name;
  // The values after the description, in declared order; colours by
  // method and value.
  std::array<double, 31> values;
};

constexpr double kFg = static_cast<double>(kDwgColourIndex | 7);
constexpr double kBg = static_cast<double>(kDwgColourIndex | 8);
constexpr double kNo = static_cast<double>(0xC8000000u);

constexpr VisualStyleRow kVisualStyles[] = {
    {"2dWireframe", {4, 0, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 0, kNo, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"Basic", {7, 1, 0, 1, -0.6, -30, kFg, 0, 0, 4, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Brighten", {12, 2, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 50, 0, 1}},
    {"ColorChange", {16, 2, 2, 3, -0.6, -30, kBg, 0, 1, 4, kFg, kNo, 1, 1, 8, kBg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Conceptual", {9, 3, 2, 1, -0.6, -30, kFg, 0, 2, 2, kFg, kNo, 1, 40, 8, kFg, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"Dim", {11, 2, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, -50, 0, 1}},
    {"EdgeColorOff", {22, 2, 2, 0, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Facepattern", {15, 2, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Flat", {0, 2, 1, 1, -0.6, 30, kFg, 2, 0, 0, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 13, 0, 0, 1}},
    {"FlatWithEdges", {1, 2, 1, 1, -0.6, 30, kFg, 2, 1, 0, kFg, kNo, 1, 1, 0, kNo, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 13, 0, 0, 1}},
    {"Gouraud", {2, 2, 2, 1, -0.6, 30, kFg, 2, 0, 0, kFg, kNo, 1, 1, 0, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 13, 0, 0, 1}},
    {"GouraudWithEdges", {3, 2, 2, 1, -0.6, 30, kFg, 2, 1, 0, kFg, kNo, 1, 1, 0, kNo, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 13, 0, 0, 1}},
    {"Hidden", {6, 1, 2, 2, -0.6, -30, kFg, 0, 2, 2, kFg, kNo, 2, 40, 0, kNo, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"JitterOff", {20, 2, 2, 0, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 10, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Linepattern", {14, 2, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 7, 1, 8, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 7, 1, 0, 0, 1}},
    {"OverhangOff", {21, 2, 2, 0, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 9, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Realistic", {8, 2, 2, 0, -0.6, 30, kFg, 2, 0, 0, kFg, kNo, 1, 1, 8, kNo, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 13, 0, 0, 0}},
    {"Shaded", {27, 2, 2, 1, -0.6, 30, kFg, 2, 0, 4, kFg, kNo, 1, 1, 8, kNo, 1, 1, 6, 2, kBg, 3, 0, 0, 0, 0, 1, 5, 0, 0, 0}},
    {"Shaded with edges", {26, 2, 2, 1, -0.6, 30, kFg, 2, 1, 10, kFg, kNo, 2, 1, 8, kNo, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 5, 0, 0, 0}},
    {"Shades of Gray", {23, 2, 2, 3, -0.6, -30, kFg, 0, 2, 2, kFg, kFg, 1, 40, 8, kFg, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"Sketchy", {24, 1, 2, 2, -0.6, -30, kFg, 0, 2, 2, kFg, kFg, 1, 40, 11, kFg, 1, 1, 6, 2, kFg, 6, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"Thicken", {13, 2, 2, 1, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 12, kFg, 1, 1, 6, 2, kFg, 5, 0, 0, 0, 0, 1, 1, 0, 0, 1}},
    {"Wireframe", {5, 0, 2, 0, -0.6, -30, kFg, 0, 1, 4, kFg, kNo, 1, 1, 0, kNo, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 1, 0, 0, 0}},
    {"X-Ray", {25, 2, 2, 1, 0.5, -30, kFg, 1, 1, 0, kFg, kNo, 1, 1, 8, kFg, 1, 1, 6, 2, kFg, 3, 0, 0, 0, 0, 1, 13, 0, 0, 0}},
};

struct ScaleRow {
  std::string_view name;
  double paper;
  double drawing;
};

constexpr ScaleRow kScales[] = {
    {"1:1", 1, 1},         {"1:2", 1, 2},         {"1:4", 1, 4},          {"1:5", 1, 5},
    {"1:8", 1, 8},         {"1:10", 1, 10},       {"1:16", 1, 16},        {"1:20", 1, 20},
    {"1:30", 1, 30},       {"1:40", 1, 40},       {"1:50", 1, 50},        {"1:100", 1, 100},
    {"2:1", 2, 1},         {"4:1", 4, 1},         {"8:1", 8, 1},          {"10:1", 10, 1},
    {"100:1", 100, 1},     {"1/128\" = 1'-0\"", 0.0078125, 12}, {"1/64\" = 1'-0\"", 0.015625, 12},
    {"1/32\" = 1'-0\"", 0.03125, 12}, {"1/16\" = 1'-0\"", 0.0625, 12}, {"3/32\" = 1'-0\"", 0.09375, 12},
    {"1/8\" = 1'-0\"", 0.125, 12}, {"3/16\" = 1'-0\"", 0.1875, 12}, {"1/4\" = 1'-0\"", 0.25, 12},
    {"3/8\" = 1'-0\"", 0.375, 12}, {"1/2\" = 1'-0\"", 0.5, 12}, {"3/4\" = 1'-0\"", 0.75, 12},
    {"1\" = 1'-0\"", 1, 12},  {"1-1/2\" = 1'-0\"", 1.5, 12}, {"3\" = 1'-0\"", 3, 12},
    {"6\" = 1'-0\"", 6, 12},  {"1'-0\" = 1'-0\"", 12, 12},
};

// Sets the groups after the subclass marker in order: texts from `texts`,
// then numbers from `numbers` (a colour takes one number, its method and
// value, and gives the index group from it).
void fillInOrder(std::vector<RawTag>& tags, std::span<const std::string_view> texts, std::span<const double> numbers) {
  std::size_t text = 0, number = 0;
  for (std::size_t i = 1; i < tags.size(); ++i) {
    RawTag& t = tags[i];
    if (t.type == TagType::String) {
      if (text < texts.size()) t.text = std::string(texts[text++]);
      continue;
    }
    if (number >= numbers.size()) break;
    const double v = numbers[number++];
    const bool colourIndex = i + 1 < tags.size() && tags[i + 1].code > 420 && tags[i + 1].code < 430;
    if (colourIndex) {
      const auto method = static_cast<std::uint32_t>(v);
      t.integer = method >> 24 == 0xC8 ? 0 : 256;
      t.real = static_cast<double>(t.integer);
      RawTag& value = tags[++i];
      value.integer = static_cast<std::int32_t>(method);
      value.real = v;
      continue;
    }
    t.real = v;
    t.integer = static_cast<std::int64_t>(v);
  }
}

void addDrawingStyles(Database& db) {
  if (db.dictionary(db.rootDictionary) == nullptr) return;
  std::int32_t materials = 0, styles = 0, scales = 0;
  // A dictionary of the root of that name, made when missing; 0 when the
  // drawing has one already.
  auto fresh = [&](std::string_view name) -> Handle {
    if (entryOf(db, db.rootDictionary, name) != 0) return 0;
    const Handle h = db.addObject("DICTIONARY", db.rootDictionary, Dictionary{}).handle;
    db.findObject(h)->reactors.push_back(db.rootDictionary);
    std::vector<DictionaryEntry>& root = db.dictionary(db.rootDictionary)->entries;
    root.push_back({std::string(name), h});
    std::stable_sort(root.begin(), root.end(),
                     [](const DictionaryEntry& a, const DictionaryEntry& b) { return a.name < b.name; });
    return h;
  };
  auto add = [&](Handle dictionary, std::string_view kind, std::string entry, std::vector<RawTag> tags) {
    Object& o = db.addObject(std::string(kind), dictionary, UnknownObject{std::move(tags), {}, {}});
    o.readIn = Release::R2004;
    o.reactors.push_back(dictionary);
    const Handle h = o.handle;
    db.dictionary(dictionary)->entries.push_back({std::move(entry), h});
  };
  if (const Handle d = fresh("ACAD_MATERIAL"); d != 0) {
    for (const std::string_view name : {"ByBlock", "ByLayer", "Global"}) {
      std::vector<RawTag> tags = dwgDeclaredDefaults("MATERIAL");
      const std::string_view texts[] = {name};
      fillInOrder(tags, texts, {});
      add(d, "MATERIAL", std::string(name), std::move(tags));
      ++materials;
    }
  }
  if (const Handle d = fresh("ACAD_VISUALSTYLE"); d != 0) {
    for (const VisualStyleRow& row : kVisualStyles) {
      std::vector<RawTag> tags = dwgDeclaredDefaults("VISUALSTYLE");
      const std::string_view texts[] = {row.name};
      fillInOrder(tags, texts, row.values);
      add(d, "VISUALSTYLE", std::string(row.name), std::move(tags));
      ++styles;
    }
  }
  if (const Handle d = fresh("ACAD_SCALELIST"); d != 0) {
    for (const ScaleRow& row : kScales) {
      std::vector<RawTag> tags = dwgDeclaredDefaults("SCALE");
      const std::string_view texts[] = {row.name};
      const double numbers[] = {0, row.paper, row.drawing, scales == 0 ? 1.0 : 0.0};
      fillInOrder(tags, texts, numbers);
      // Entries named A0 to A9, B0 ... as the CAD programs name them.
      const std::string entry{static_cast<char>('A' + scales / 10), static_cast<char>('0' + scales % 10)};
      add(d, "SCALE", entry, std::move(tags));
      ++scales;
    }
  }
  // Their classes, with the counts of objects.
  auto listClass = [&](std::string_view dxf, std::string_view cpp, std::int32_t flags, std::int32_t count) {
    if (count == 0) return;
    for (const ClassDef& c : db.classes)
      if (c.dxfName == dxf) return;
    ClassDef c;
    c.dxfName = dxf;
    c.className = cpp;
    c.flags = flags;
    c.instances = count;
    db.classes.push_back(std::move(c));
  };
  listClass("MATERIAL", "AcDbMaterial", 1153, materials);
  listClass("VISUALSTYLE", "AcDbVisualStyle", 4095, styles);
  listClass("SCALE", "AcDbScale", 1153, scales);
}

}  // namespace

namespace {

// What one object of the file is, to be encoded when its turn comes.
struct PlannedObject {
  enum Kind : std::uint8_t {
    Records,     // a table, record, block record or object: the record writer's
    VxControl,
    BlockBegin,  // `index` the block
    BlockEnd,
    Entity,      // `index` the entity id
    Vertex,      // `index` the polyline's id, `sub` the vertex
    Seqend,      // `index` the polyline's or insert's id
  };
  Handle handle = 0;
  Kind kind = Records;
  std::uint32_t index = 0;
  std::uint32_t sub = 0;
  DwgEntityLinks links;
};

class DwgFileWriter {
 public:
  DwgFileWriter(Database& db, Release r, std::vector<Finding>* findings) : db_(db), r_(r), findings_(findings) {}

  Status write(std::string& out) {
    prepare();
    plan();
    std::sort(plan_.begin(), plan_.end(), [](const PlannedObject& a, const PlannedObject& b) { return a.handle < b.handle; });
    for (std::size_t i = 1; i < plan_.size(); ++i)
      if (plan_[i].handle == plan_[i - 1].handle)
        return Status::fail(StatusCode::OutOfRange, "handle " + hexOf(plan_[i].handle) + " names two objects");

    const std::string pageName = db_.header.text("$DWGCODEPAGE");
    const std::uint16_t pageNumber = dwgCodePageNumber(pageName.empty() ? "ANSI_1252" : pageName);
    std::string_view known = dwgCodePageName(pageNumber);
    WriteContext context(db_, r_, CodePage::named(known.empty() ? "ANSI_1252" : known), pageNumber, classes_);

    DwgFileParts parts;
    if (Status s = encodeObjects(context, parts.objects); !s.ok()) return s;
    for (const std::string& w : context.warnings) note("dwg-write", 0, w);

    const DwgHeaderHandles handles = dwgHeaderHandlesOf(db_, r_, vxControl_);
    parts.header.release = r_;
    parts.header.formatMaintenance = r_ == Release::R2000 ? 15 : 0;
    parts.header.codepage = pageNumber;
    if (Status s = writeDwgHeaderVariables(db_.header, handles, r_, context.codePage(), parts.headerVariables); !s.ok())
      return s;
    if (Status s = writeDwgClasses(classes_, r_, context.codePage(), parts.classes); !s.ok()) return s;
    parts.auxHeader.created = dwgTimeFromJulian(db_.header.real("$TDCREATE"));
    parts.auxHeader.updated = dwgTimeFromJulian(db_.header.real("$TDUPDATE"));
    parts.auxHeader.handseed = handles.handseed;
    parts.preview = dwgMinimalPreview();
    parts.secondHeader.handles = dwgSecondHeaderHandles(handles);
    parts.measurement.measurement = static_cast<std::uint16_t>(db_.header.integer("$MEASUREMENT") != 0 ? 1 : 0);
    if (r_ >= Release::R2004) {
      // The format number of the release in the AuxHeader.
      constexpr std::uint16_t kFormat2004 = 0x19;
      parts.auxHeader.appRelease = kFormat2004;
      parts.auxHeader.releases = {kFormat2004, 0, kFormat2004, 0};
      return dwgPagedFileLayout(parts, out);
    }
    return dwgFileLayout(parts, out);
  }

 private:
  // The database as the release needs it.
  void prepare() {
    db_.completeFor(r_);
    dimHeaderFor(db_.header, db_.release, r_);
    dimVariablesIntoHeader(db_, r_);
    buildMissingDimensionBlocks(db_);
    if (r_ < Release::R2000) addMlineStyles(db_, r_);
    if (r_ == Release::R14) addVariableDictionary(db_, r_);
    if (r_ >= Release::R2000) addSecondPaperLayout(db_);
    if (r_ >= Release::R2004) addDrawingStyles(db_);
    addApplications(db_);
    db_.reindex();
    // Files of 2004 on have no viewport entity table.
    if (r_ < Release::R2004 && (db_.viewportEntityTable == 0 || db_.find(db_.viewportEntityTable) != nullptr))
      db_.viewportEntityTable = db_.newHandle();
    vxControl_ = db_.viewportEntityTable;
    classes_ = dwgClassesFor(db_.classes, r_);
    records_.emplace(db_);
  }

  void add(Handle handle, PlannedObject::Kind kind = PlannedObject::Records, std::uint32_t index = 0,
           std::uint32_t sub = 0, const DwgEntityLinks& links = {}) {
    PlannedObject o;
    o.handle = handle;
    o.kind = kind;
    o.index = index;
    o.sub = sub;
    o.links = links;
    if (o.handle == 0) {
      note("dwg-no-handle", 0, "an object without a handle is left out");
      return;
    }
    plan_.push_back(o);
  }

  // Every object of the file, with the links the assembly decides.
  void plan() {
    auto records = [&](auto& table) {
      add(table.handle);
      for (const auto& r : table.records) add(r.common.handle);
    };
    records(db_.vports);
    records(db_.linetypes);
    records(db_.layers);
    records(db_.styles);
    records(db_.views);
    records(db_.ucs);
    records(db_.appids);
    records(db_.dimstyles);
    add(db_.blockTable);
    if (r_ < Release::R2004) add(vxControl_, PlannedObject::VxControl);
    // Objects the release has no place for are left out (the record writer
    // leaves them out of their dictionaries too).
    for (const Object& o : db_.objects)
      if (records_->writes(o, r_)) add(o.handle);
    const Handle model = db_.modelSpace().handle;
    const Handle paper = db_.paperSpace().handle;
    for (std::size_t b = 0; b < db_.blocks.size(); ++b) {
      const BlockRecord& block = db_.blocks[b];
      add(block.handle);
      DwgEntityLinks own;
      own.mode = block.handle == model ? 2 : block.handle == paper ? 1 : 0;
      own.owner = own.mode == 0 ? block.handle : 0;
      const auto index = static_cast<std::uint32_t>(b);
      add(block.blockHandle, PlannedObject::BlockBegin, index, 0, own);
      add(block.endHandle, PlannedObject::BlockEnd, index, 0, own);
      chain(block.entities, own);
    }
  }

  // A chain of entities (a block's, or an insert's attributes): each
  // links to its neighbours, the ends to nothing.
  void chain(const std::vector<EntityId>& ids, const DwgEntityLinks& own) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] >= db_.entities.size()) continue;
      DwgEntityLinks links = own;
      links.previous = i > 0 && ids[i - 1] < db_.entities.size() ? db_.entities[ids[i - 1]].common.handle : 0;
      links.next = i + 1 < ids.size() && ids[i + 1] < db_.entities.size() ? db_.entities[ids[i + 1]].common.handle : 0;
      entity(ids[i], links);
    }
  }

  void entity(EntityId id, DwgEntityLinks links) {
    const Entity& e = db_.entities[id];
    const Handle self = e.common.handle;
    DwgEntityLinks follower;
    follower.mode = 0;
    follower.owner = self;
    if (const auto* p = get_if<Polyline>(&e.data)) {
      if (!p->vertices.empty()) {
        links.firstFollower = p->vertices.front().handle;
        links.lastFollower = p->vertices.back().handle;
      }
      if (r_ >= Release::R2004)
        for (const Vertex& v : p->vertices) links.followers.push_back(v.handle);
      links.seqend = p->seqend;
      for (std::size_t v = 0; v < p->vertices.size(); ++v) {
        DwgEntityLinks vl = follower;
        vl.previous = v > 0 ? p->vertices[v - 1].handle : 0;
        vl.next = v + 1 < p->vertices.size() ? p->vertices[v + 1].handle : 0;
        add(p->vertices[v].handle, PlannedObject::Vertex, id, static_cast<std::uint32_t>(v), vl);
      }
      add(p->seqend, PlannedObject::Seqend, id, 0, follower);
    } else if (const auto* ins = get_if<Insert>(&e.data); ins != nullptr && !ins->attributes.empty()) {
      links.firstFollower = db_.entities[ins->attributes.front()].common.handle;
      links.lastFollower = db_.entities[ins->attributes.back()].common.handle;
      if (r_ >= Release::R2004)
        for (const EntityId a : ins->attributes) links.followers.push_back(db_.entities[a].common.handle);
      links.seqend = ins->seqend;
      chain(ins->attributes, follower);
      add(ins->seqend, PlannedObject::Seqend, id, 0, follower);
    }
    add(self, PlannedObject::Entity, id, 0, links);
  }

  Status encodeObjects(WriteContext& context, DwgEncodedObjects& out) {
    const DwgRecordWriter& records = *records_;
    std::string frame;
    out.entries.reserve(plan_.size());
    for (const PlannedObject& o : plan_) {
      frame.clear();
      Status s;
      switch (o.kind) {
        case PlannedObject::Records: s = records.write(o.handle, context, frame); break;
        case PlannedObject::VxControl: s = DwgRecordWriter::writeVxControl(o.handle, context, frame); break;
        case PlannedObject::BlockBegin: s = writeDwgBlockBegin(db_.blocks[o.index], o.links, context, frame); break;
        case PlannedObject::BlockEnd: s = writeDwgBlockEnd(db_.blocks[o.index], o.links, context, frame); break;
        case PlannedObject::Entity: s = writeDwgEntity(db_.entities[o.index], o.links, context, frame); break;
        case PlannedObject::Vertex: s = writeDwgVertex(db_.entities[o.index], o.sub, o.links, context, frame); break;
        case PlannedObject::Seqend:
          s = writeDwgSeqend(db_.entities[o.index], o.handle, o.links, context, frame);
          break;
      }
      if (!s.ok()) return Status::fail(s.code, "object " + hexOf(o.handle) + ": " + s.detail);
      out.add(o.handle, frame);
    }
    return {};
  }

  void note(const char* code, Handle h, std::string what) {
    if (findings_ != nullptr) findings_->push_back({code, h, "", false, std::move(what)});
  }

  Database& db_;
  Release r_;
  std::vector<Finding>* findings_;
  Handle vxControl_ = 0;
  std::vector<ClassDef> classes_;
  std::vector<PlannedObject> plan_;
  std::optional<DwgRecordWriter> records_;
};

// LWPOLYLINE before R14: the same outline as a 2D POLYLINE, its vertices
// and sequence end numbered from the seed on.
void lightweightAsPolylines(Database& db) {
  for (Entity& e : db.entities) {
    const auto* lw = get_if<LwPolyline>(&e.data);
    if (lw == nullptr) continue;
    Polyline p;
    p.flags = lw->flags & (1 | 128);
    p.origin.z = lw->elevation;
    p.thickness = lw->thickness;
    p.extrusion = lw->extrusion;
    p.startWidth = p.endWidth = lw->constantWidth;
    for (const LwVertex& lv : lw->vertices) {
      Vertex v;
      v.handle = db.newHandle();
      v.location = {lv.location.x, lv.location.y, lw->elevation};
      v.startWidth = lv.startWidth;
      v.endWidth = lv.endWidth;
      v.bulge = lv.bulge;
      p.vertices.push_back(v);
    }
    p.seqend = db.newHandle();
    e.kind = EntityKind::Polyline;
    e.data = std::move(p);
  }
  db.reindex();
}

}  // namespace

Status writeDwg(Database& db, ByteSink& sink, const DwgWriteOptions& options) {
  if (options.release >= Release::R2_5 && options.release <= Release::R12) {
    std::string file;
    if (Status s = writeDwgPreR13(db, options.release, file, options.findings); !s.ok()) return s;
    if (!sink.write(file)) return Status::fail(StatusCode::WriteFailed, "the DWG file could not be stored");
    return {};
  }
  if (options.release < Release::R13 || options.release > Release::R2004)
    return Status::fail(StatusCode::NotSupported,
                        "DWG files of version " + std::string(releaseInfo(options.release).version) + " cannot be written");
  std::string file;
  // R13 has neither HATCH nor LWPOLYLINE: a copy of the database shows each
  // hatch as an insert of a block that draws it and each lightweight
  // polyline as a 2D polyline, and the copy is written (as in DXF).
  const bool older = options.release < Release::R14 &&
                     std::any_of(db.entities.begin(), db.entities.end(), [](const Entity& e) {
                       return holds_alternative<Hatch>(e.data) || holds_alternative<LwPolyline>(e.data);
                     });
  if (older) {
    Database drawn = db;
    replaceHatchesByBlocks(drawn, options.findings);
    lightweightAsPolylines(drawn);
    if (Status s = DwgFileWriter(drawn, options.release, options.findings).write(file); !s.ok()) return s;
  } else if (Status s = DwgFileWriter(db, options.release, options.findings).write(file); !s.ok()) {
    return s;
  }
  if (!sink.write(file)) return Status::fail(StatusCode::WriteFailed, "the DWG file could not be stored");
  return {};
}

// ------------------------------------------------------------- reading

namespace {

// Handles of a table's records and their names, for the lookups.
using NameOf = std::unordered_map<Handle, Name>;

class ReadContext final : public DwgReadContext {
 public:
  ReadContext(Release r, CodePage page, std::vector<Finding>& findings) : release_(r), page_(std::move(page)), findings_(findings) {}

  Release release() const override { return release_; }
  const CodePage& codePage() const override { return page_; }
  Name layerName(Handle h) const override { return lookup(layers, h); }
  Name linetypeName(Handle h) const override { return lookup(linetypes, h); }
  Name styleName(Handle h) const override { return lookup(styles, h); }
  Name dimstyleName(Handle h) const override { return lookup(dimstyles, h); }
  Name blockName(Handle h) const override { return lookup(blocks, h); }
  std::string appidName(Handle h) const override { return lookup(appids, h).str(); }
  const ClassDef* classOf(std::int16_t type) const override {
    const auto it = classAt.find(type);
    return it == classAt.end() ? nullptr : &(*classes)[it->second];
  }
  void warn(std::string_view what) override {
    if (findings_.size() < kMostFindings) findings_.push_back({"dwg-read", current, "", false, std::string(what)});
  }

  // Filled by the assembly as it goes.
  NameOf layers, linetypes, styles, dimstyles, blocks, appids;
  const std::vector<ClassDef>* classes = nullptr;
  std::unordered_map<std::int16_t, std::size_t> classAt;  // type number -> place in `classes`
  Handle current = 0;  // the object being read, for the findings

  static constexpr std::size_t kMostFindings = 10000;

 private:
  static Name lookup(const NameOf& names, Handle h) {
    const auto it = names.find(h);
    return it == names.end() ? Name() : it->second;
  }

  Release release_;
  CodePage page_;
  std::vector<Finding>& findings_;
};

// Where an object is and what it is, from the first pass.
struct Located {
  Handle handle = 0;
  std::uint64_t address = 0;
  std::int16_t type = 0;
  bool entity = false;
  bool placed = false;  // taken into a block, a polyline or an insert
  std::string_view frame;  // the object's bytes, their CRC checked by the first pass
  std::uint64_t handleBits = 0;  // 2010 on: the size of its handle stream
};

class DwgFileReader {
 public:
  DwgFileReader(std::string_view file, Database& db, std::vector<Finding>& findings)
      : file_(file), db_(db), findings_(findings) {}

  Status read() {
    if (Status s = indexDwgObjectSource(file_, source_); !s.ok()) return s;
    r_ = source_.release;
    const std::string_view pageName = dwgCodePageName(source_.codepage);
    CodePage page = CodePage::named(pageName.empty() ? "ANSI_1252" : pageName);
    if (!pageName.empty()) db_.header.set("$DWGCODEPAGE", std::string(pageName));
    ReadContext context(r_, std::move(page), findings_);
    context_ = &context;

    if (Status s = readDwgHeaderVariables(source_.headerVariables, r_, context.codePage(), db_.header, handles_); !s.ok())
      return within("header variables", s);
    DwgClassesRead classes = readDwgClasses(source_.classes, r_, context.codePage());
    if (!classes.status.ok()) return within("classes", classes.status);
    db_.classes = std::move(classes.classes);
    context.classes = &db_.classes;
    for (std::size_t i = 0; i < classes.numbers.size() && i < db_.classes.size(); ++i)
      context.classAt.emplace(classes.numbers[i], i);

    objects_.reserve(source_.map.size());
    for (const DwgObjectLocation& o : source_.map) {
      Located& at = objects_.emplace_back();
      at.handle = o.handle;
      at.address = o.address;
    }
    source_.map = {};
    source_.held.objectMap = {};
    if (Status s = readRecords(); !s.ok()) return s;
    nameHeaderRecords();
    if (Status s = readBlocks(); !s.ok()) return s;
    finish();
    return {};
  }

 private:
  static Status within(const char* what, const Status& s) {
    return Status::fail(s.code, std::string(what) + ": " + s.detail);
  }

  // The object's frame up to its type data (the frame as the first pass
  // found it).
  Status head(const Located& at, DwgObjectIn& in) {
    context_->current = at.handle;
    if (Status s = readDwgObjectHead(at.frame, *context_, in, at.handleBits); !s.ok())
      return Status::fail(s.code, "object " + hexOf(at.handle) + ": " + s.detail);
    return {};
  }

  // The object's frame and kind; its own handle must be the one the
  // object map gives it.
  Status kind(Located& at, DwgObjectKind& kind) {
    const DwgPagedObjectFrame frame = readDwgObjectFrameOf(source_, at.address);
    if (!frame.status.ok()) return frame.status;
    context_->current = at.handle;
    if (Status s = readDwgObjectKind(frame.data, *context_, kind, frame.handleBits); !s.ok())
      return Status::fail(s.code, "object " + hexOf(at.handle) + ": " + s.detail);
    if (kind.handle != at.handle)
      return Status::fail(StatusCode::BadFile, "object at " + hexOf(at.address) + " is " + hexOf(kind.handle) +
                                                   ", the object map says " + hexOf(at.handle));
    at.frame = frame.data;
    at.handleBits = frame.handleBits;
    at.type = kind.type;
    at.entity = kind.entity;
    return {};
  }

  // The object map's entry of a handle, or nullptr.
  Located* locate(Handle h) {
    const auto it = std::lower_bound(objects_.begin(), objects_.end(), h,
                                     [](const Located& l, Handle v) { return l.handle < v; });
    return it != objects_.end() && it->handle == h ? &*it : nullptr;
  }

  // First pass: every object's frame and kind; then the non-entity objects
  // are read whole, the applications first (the EED of any object names its
  // application by handle), the entities wait for their blocks.
  Status readRecords() {
    for (Located& at : objects_) {
      DwgObjectKind k;
      if (Status s = kind(at, k); !s.ok()) return s;
    }
    DwgRecordReader records(db_);
    auto read = [&](const Located& at) {
      DwgObjectIn in;
      if (Status s = head(at, in); !s.ok()) return s;
      if (Status s = records.read(in, *context_); !s.ok())
        return Status::fail(s.code, "object " + hexOf(at.handle) + ": " + s.detail);
      return Status{};
    };
    for (const Located& at : objects_)
      if (at.type == dwg_type::kAppId)
        if (Status s = read(at); !s.ok()) return s;
    for (const auto& r : db_.appids.records) context_->appids.emplace(r.common.handle, Name(r.common.name));
    for (const Located& at : objects_)
      if (!at.entity && at.type != dwg_type::kAppId)
        if (Status s = read(at); !s.ok()) return s;
    records.finish(*context_);
    chains_ = records.blockChains();
    auto names = [](const auto& table, NameOf& out) {
      for (const auto& r : table.records) out.emplace(r.common.handle, Name(r.common.name));
    };
    names(db_.layers, context_->layers);
    names(db_.linetypes, context_->linetypes);
    names(db_.styles, context_->styles);
    names(db_.dimstyles, context_->dimstyles);
    names(db_.appids, context_->appids);
    if (Status s = readBlockEntities(); !s.ok()) return s;
    for (const BlockRecord& b : db_.blocks) context_->blocks.emplace(b.handle, Name(b.name));
    return {};
  }

  // Each block's BLOCK and ENDBLK: the name the BLOCK states where the
  // record's is cut short, the layer and EED of the BLOCK, the groups of
  // the ENDBLK.  Then every block has a name of its own.
  Status readBlockEntities() {
    for (BlockRecord& b : db_.blocks) {
      if (Located* at = locate(b.blockHandle); at != nullptr && at->type == dwg_type::kBlock) {
        at->placed = true;
        DwgObjectIn in;
        if (Status s = head(*at, in); !s.ok()) return s;
        std::string stated;
        EntityCommon groups;
        if (Status s = readDwgBlockName(in, *context_, stated); !s.ok())
          return Status::fail(s.code, "BLOCK " + hexOf(at->handle) + ": " + s.detail);
        if (Status s = readDwgFollowerGroups(in, *context_, groups); !s.ok())
          return Status::fail(s.code, "BLOCK " + hexOf(at->handle) + ": " + s.detail);
        if (completes(b.name, stated)) b.name = std::move(stated);
        b.layer = groups.layer.str();
        b.blockGroups.keep(std::move(groups), b.layer);
      }
      if (Located* at = locate(b.endHandle); at != nullptr && at->type == dwg_type::kEndBlock) {
        at->placed = true;
        DwgObjectIn in;
        if (Status s = head(*at, in); !s.ok()) return s;
        EntityCommon groups;
        if (Status s = readDwgFollowerGroups(in, *context_, groups); !s.ok())
          return Status::fail(s.code, "ENDBLK " + hexOf(at->handle) + ": " + s.detail);
        b.endGroups.keep(std::move(groups), b.layer);
      }
    }
    nameEveryBlock();
    return {};
  }

  // Whether a BLOCK's name completes its record's: "*D3" for "*D",
  // "*Paper_Space0" for "*Paper_Space".
  static bool completes(std::string_view record, std::string_view stated) {
    if (stated.size() <= record.size()) return false;
    if (record.empty()) return true;
    if (record.front() != '*' || !sameName(stated.substr(0, record.size()), record)) return false;
    const std::string_view number = stated.substr(record.size());
    return std::all_of(number.begin(), number.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
  }

  // Blocks whose names are still taken by an earlier block (files that
  // name anonymous blocks by their kind only) are numbered after it: the
  // spaces the header names keep theirs, the others are told apart, so
  // that the entities that name them by handle keep to their own block.
  void nameEveryBlock() {
    std::unordered_set<std::string> taken;
    for (const BlockRecord& b : db_.blocks) taken.insert(foldedName(b.name));
    if (taken.size() == db_.blocks.size()) return;
    std::vector<std::size_t> order;
    for (const Handle space : {handles_.modelSpace, handles_.paperSpace})
      for (std::size_t i = 0; i < db_.blocks.size(); ++i)
        if (space != 0 && db_.blocks[i].handle == space) order.push_back(i);
    for (std::size_t i = 0; i < db_.blocks.size(); ++i)
      if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
    std::unordered_set<std::string> kept;
    std::unordered_map<std::string, std::size_t> nextNumber;  // by stem, so that each search goes on from the last
    for (const std::size_t i : order) {
      BlockRecord& b = db_.blocks[i];
      if (kept.insert(foldedName(b.name)).second) continue;
      const std::string was = b.name;
      std::string stem = b.name;
      while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9') stem.pop_back();
      for (std::size_t& n = nextNumber[foldedName(stem)];; ++n) {
        std::string name = stem + std::to_string(n);
        if (taken.count(foldedName(name)) != 0) continue;
        b.name = std::move(name);
        ++n;
        break;
      }
      taken.insert(foldedName(b.name));
      kept.insert(foldedName(b.name));
      note("dwg-block-name", b.handle, "a second block " + was + " is read as " + b.name);
    }
  }

  // The header variables that name records take the names of the records
  // the header's handles lead to.
  void nameHeaderRecords() {
    for (const DwgNamedHandle& n : dwgHeaderNamedHandles()) {
      if (!n.in.has(r_)) continue;
      const Handle h = handles_.*n.member;
      if (h == 0) continue;
      Name name;
      switch (n.table) {
        case DwgNameTable::Layer: name = context_->layerName(h); break;
        case DwgNameTable::Style: name = context_->styleName(h); break;
        case DwgNameTable::Linetype: name = context_->linetypeName(h); break;
        case DwgNameTable::DimStyle: name = context_->dimstyleName(h); break;
        case DwgNameTable::Block: name = context_->blockName(h); break;
        case DwgNameTable::Ucs:
          for (const auto& r : db_.ucs.records)
            if (r.common.handle == h) name = r.common.name;
          break;
        case DwgNameTable::MlineStyle:
          if (const Dictionary* d = db_.dictionary(handles_.mlineStyleDictionary))
            for (const DictionaryEntry& e : d->entries)
              if (e.object == h) name = e.name;
          break;
      }
      if (!name.empty()) db_.header.set(n.variable, name.str());
    }
  }

  // Second pass: each block's entities along the chain its record starts.
  Status readBlocks() {
    for (const DwgRecordReader::BlockChain& c : chains_) {
      if (c.block >= db_.blocks.size()) continue;
      if (Status s = followChain({c.first, c.last, &c.owned}, db_.blocks[c.block].handle, [&](Entity&& e) {
            const auto id = static_cast<EntityId>(db_.entities.size());
            e.common.owner = db_.blocks[c.block].handle;
            db_.entities.push_back(std::move(e));
            db_.blocks[c.block].entities.push_back(id);
            return id;
          });
          !s.ok())
        return s;
    }
    return placeLoose();
  }

  // The entities of a block, or the vertices or attributes of an entity:
  // R13 to 2000 link them from `first` along their next links to `last`
  // (or a null link), 2004 on list them all.
  struct Chain {
    Handle first = 0;
    Handle last = 0;
    const std::vector<Handle>* listed = nullptr;
  };

  // Walks a chain: `next` is the link of the object just read.
  class ChainWalk {
   public:
    ChainWalk(const Chain& c, Release r) : c_(c), listed_(r >= Release::R2004 && c.listed != nullptr) {
      h_ = listed_ ? (c.listed->empty() ? 0 : c.listed->front()) : c.first;
    }
    Handle current() const { return h_; }
    void advance(Handle next) {
      if (listed_) {
        h_ = ++at_ < c_.listed->size() ? (*c_.listed)[at_] : 0;
        return;
      }
      h_ = h_ == c_.last ? 0 : next;
    }

   private:
    Chain c_;
    bool listed_;
    std::size_t at_ = 0;
    Handle h_ = 0;
  };

  // Follows a chain of entities, reading each; `take` keeps the entity and
  // returns its id.  A link back to an entity already taken is a cycle.
  using Take = std::function<EntityId(Entity&&)>;

  Status followChain(const Chain& chain, Handle owner, const Take& take) {
    for (ChainWalk walk(chain, r_); walk.current() != 0;) {
      const Handle h = walk.current();
      Located* at = locate(h);
      if (at == nullptr || !at->entity) {
        note("dwg-broken-chain", owner, "the entities after " + hexOf(h) + " are found by their owner: " +
                                            (at == nullptr ? "no such object" : "not an entity"));
        return {};
      }
      if (at->placed)
        return Status::fail(StatusCode::BadFile, "entity " + hexOf(h) + " is linked twice: a reference cycle");
      at->placed = true;
      DwgObjectIn in;
      if (Status s = head(*at, in); !s.ok()) return s;
      const Handle next = in.head.e.next;
      if (Status s = entity(in, *at, take); !s.ok()) return s;
      walk.advance(next);
    }
    return {};
  }

  // One drawable entity with its vertices or attributes.
  Status entity(DwgObjectIn& in, const Located& at, const Take& take) {
    if (at.type == dwg_type::kBlock || at.type == dwg_type::kEndBlock || at.type == dwg_type::kSeqend ||
        isDwgVertexType(at.type)) {
      note("dwg-misplaced", at.handle, "a block's chain holds a BLOCK, ENDBLK, SEQEND or VERTEX: left out");
      return {};
    }
    // readDwgEntity gives the data of the kind it reads.
    Entity e{EntityCommon{}, EntityKind::Line, kNewestRelease, EntityData(nullptr)};
    if (Status s = readDwgEntity(in, *context_, e); !s.ok()) {
      // The frame passed its size and CRC checks and its common data
      // read: the file's layout holds, only this kind's own data does not
      // decode.  The entity (with whatever it leads) is left out.
      if (s.code != StatusCode::BadFile) return Status::fail(s.code, "entity " + hexOf(at.handle) + ": " + s.detail);
      note(kDwgEntityLeftOut, at.handle,
           "entity " + hexOf(at.handle) + " of type " + std::to_string(at.type) + " left out: " + s.detail);
      return {};
    }
    e.common.handle = at.handle;
    e.common.paperSpace = in.head.e.mode == 1;
    e.readIn = r_;
    const std::vector<Handle> listed = std::move(in.followers);
    const Chain followers{in.firstFollower, in.lastFollower, &listed};
    const Handle seqend = in.seqend;
    const EntityId id = take(std::move(e));
    if (auto* p = get_if<Polyline>(&db_.entities[id].data)) {
      p->seqend = seqend;
      if (Status s = sequenceEnd(id, seqend, p->seqendGroups); !s.ok()) return s;
      return vertices(id, followers);
    }
    if (holds_alternative<Insert>(db_.entities[id].data) && followers.first != 0) {
      get<Insert>(db_.entities[id].data).seqend = seqend;
      if (Status s = sequenceEnd(id, seqend, get<Insert>(db_.entities[id].data).seqendGroups); !s.ok()) return s;
      std::vector<EntityId> attributes;
      const Handle insert = at.handle;
      if (Status s = followChain(followers, insert, [&](Entity&& a) {
            const auto aid = static_cast<EntityId>(db_.entities.size());
            a.common.owner = insert;
            db_.entities.push_back(std::move(a));
            attributes.push_back(aid);
            return aid;
          });
          !s.ok())
        return s;
      get<Insert>(db_.entities[id].data).attributes = std::move(attributes);
    }
    return {};
  }

  // The SEQEND after the vertices or attributes of entity `leader`: taken,
  // and its groups kept where they are its own.
  Status sequenceEnd(EntityId leader, Handle seqend, FollowerGroups& groups) {
    Located* at = locate(seqend);
    if (at == nullptr || at->type != dwg_type::kSeqend) return {};
    if (at->placed) {
      note("dwg-misplaced", seqend, "a SEQEND ends two sequences: the second takes its head's groups");
      return {};
    }
    at->placed = true;
    DwgObjectIn in;
    if (Status s = head(*at, in); !s.ok()) return s;
    EntityCommon own;
    if (Status s = readDwgFollowerGroups(in, *context_, own); !s.ok())
      return Status::fail(s.code, "SEQEND " + hexOf(seqend) + ": " + s.detail);
    groups.keep(std::move(own), db_.entities[leader].common.layer.str());
    return {};
  }

  // A polyline's vertices, from the first along their links or as listed.
  Status vertices(EntityId polyline, const Chain& chain) {
    for (ChainWalk walk(chain, r_); walk.current() != 0;) {
      const Handle h = walk.current();
      Located* at = locate(h);
      if (at == nullptr || !isDwgVertexType(at->type)) {
        note("dwg-broken-chain", db_.entities[polyline].common.handle,
             "a polyline's vertices end early at " + hexOf(h));
        return {};
      }
      if (at->placed) return Status::fail(StatusCode::BadFile, "vertex " + hexOf(h) + " is linked twice: a reference cycle");
      at->placed = true;
      DwgObjectIn in;
      if (Status s = head(*at, in); !s.ok()) return s;
      Vertex v;
      if (Status s = readDwgVertex(in, *context_, v, db_.entities[polyline].common.layer.str()); !s.ok())
        return Status::fail(s.code, "vertex " + hexOf(h) + ": " + s.detail);
      v.handle = h;
      get<Polyline>(db_.entities[polyline].data).vertices.push_back(std::move(v));
      walk.advance(in.head.e.next);
    }
    return {};
  }

  // Entities no chain reached (a damaged chain): those of model and paper
  // space by their mode, those of blocks by their owner.
  Status placeLoose() {
    std::unordered_map<Handle, std::size_t> blockOf;
    for (std::size_t b = 0; b < db_.blocks.size(); ++b) blockOf.emplace(db_.blocks[b].handle, b);
    const std::size_t model = db_.blockIndex(db_.modelSpace());
    const std::size_t paper = db_.blockIndex(db_.paperSpace());
    std::size_t loose = 0;
    for (std::size_t i = 0; i < objects_.size(); ++i) {
      const Located at = objects_[i];
      if (!at.entity || at.placed || at.type == dwg_type::kBlock || at.type == dwg_type::kEndBlock ||
          at.type == dwg_type::kSeqend || at.type == dwg_type::kAttrib || isDwgVertexType(at.type))
        continue;
      DwgObjectIn in;
      if (Status s = head(at, in); !s.ok()) return s;
      std::size_t block = in.head.e.mode == 2 ? model : in.head.e.mode == 1 ? paper : SIZE_MAX;
      if (in.head.e.mode == 0) {
        const auto it = blockOf.find(in.head.owner);
        if (it == blockOf.end()) continue;
        block = it->second;
      }
      ++loose;
      objects_[i].placed = true;
      const Handle owner = db_.blocks[block].handle;
      if (Status s = entity(in, at, [&](Entity&& e) {
            const auto id = static_cast<EntityId>(db_.entities.size());
            e.common.owner = owner;
            db_.entities.push_back(std::move(e));
            db_.blocks[block].entities.push_back(id);
            return id;
          });
          !s.ok())
        return s;
    }
    if (loose > 0) note("dwg-broken-chain", 0, std::to_string(loose) + " entities were found by their owner, not along a chain");
    return {};
  }

  // DWG files hold no viewport numbers and no status beside the flag that
  // a viewport is off (2000).  Each layout's first viewport is its sheet
  // (number 1); the others are numbered on from 2, those of the current
  // layout first; each stands in its layout's stacking order unless off.
  void numberViewports() {
    constexpr std::int32_t kViewportOff = 131072;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < db_.blocks.size(); ++i)
      if (db_.blocks[i].handle == handles_.paperSpace) order.push_back(i);
    for (std::size_t i = 0; i < db_.blocks.size(); ++i)
      if (db_.blocks[i].handle != handles_.paperSpace) order.push_back(i);
    std::int32_t next = 2;
    for (const std::size_t i : order) {
      std::int32_t stacked = 0;
      bool sheet = true;
      for (const EntityId id : db_.blocks[i].entities) {
        auto* v = get_if<Viewport>(&db_.entities[id].data);
        if (v == nullptr) continue;
        v->id = sheet ? 1 : next;
        if (!sheet && next < INT32_MAX) ++next;
        sheet = false;
        v->status = (v->flags & kViewportOff) != 0 ? 0 : ++stacked;
      }
    }
  }

  void finish() {
    numberViewports();
    // The spaces the header names come first among blocks of their name
    // (files of real applications may hold a second "*Paper_Space").
    for (const Handle space : {handles_.modelSpace, handles_.paperSpace}) {
      auto named = std::find_if(db_.blocks.begin(), db_.blocks.end(), [&](const BlockRecord& b) { return b.handle == space; });
      if (named == db_.blocks.end()) continue;
      const auto first = std::find_if(db_.blocks.begin(), named, [&](const BlockRecord& b) { return sameName(b.name, named->name); });
      if (first != named) std::rotate(first, named, named + 1);
    }
    db_.namesChanged();
    db_.viewportEntityTable = handles_.vxControl;
    db_.release = r_;
    db_.header.unknownFrom = r_;
    db_.reindex();
    db_.raiseSeed(handles_.handseed);
  }

  void note(std::string_view code, Handle h, std::string what) {
    if (findings_.size() < ReadContext::kMostFindings)
      findings_.push_back({std::string(code), h, "", false, std::move(what)});
  }

  std::string_view file_;
  DwgObjectSource source_;
  Database& db_;
  std::vector<Finding>& findings_;
  Release r_ = Release::R2000;
  ReadContext* context_ = nullptr;
  DwgHeaderHandles handles_;
  std::vector<Located> objects_;
  std::vector<DwgRecordReader::BlockChain> chains_;
};

}  // namespace

DwgReadResult readDwg(std::string_view file, Database& db) {
  DwgReadResult result;
  const std::optional<Release> r = releaseFromVersion(file.substr(0, 6));
  if (r && *r >= Release::R2_5 && *r <= Release::R12) {
    result.status = readDwgPreR13(file, db, result.findings);
    return result;
  }
  result.status = DwgFileReader(file, db, result.findings).read();
  return result;
}

}  // namespace drawingdb

// The DXF writer: sections in the order of the release, each object
// through the generic walk of its declaration.
#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/dimension_block.h"
#include "drawingdb/dimstyle_forms.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_fields.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/hatch_fill.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

bool isModelSpaceName(std::string_view n) { return sameName(n, "*Model_Space") || sameName(n, "$MODEL_SPACE"); }
bool isPaperSpaceName(std::string_view n) { return sameName(n, "*Paper_Space") || sameName(n, "$PAPER_SPACE"); }

// Whether groups kept as read from a file of release `from` belong into a
// file of release `to`: the structure of files changed with R13 and with
// 2000.
bool keptGroupsFit(Release from, Release to) {
  if ((from >= Release::R13) != (to >= Release::R13)) return false;
  return to >= from || (from < Release::R2000) == (to < Release::R2000);
}

// The kinds of a drawing's entities, a bit each: one walk over the list of
// entities (their data, held apart, is not read) tells the writer which of
// its walks over every entity it can leave out.
using EntityKinds = std::uint32_t;
static_assert(static_cast<unsigned>(EntityKind::Hatch) < 32);

EntityKinds kindsOf(const Database& db) {
  EntityKinds kinds = 0;
  for (const Entity& e : db.entities) kinds |= EntityKinds{1} << static_cast<unsigned>(e.kind);
  return kinds;
}

bool hasKind(EntityKinds kinds, EntityKind k) { return ((kinds >> static_cast<unsigned>(k)) & 1U) != 0; }

class DxfWriter {
 public:
  DxfWriter(Database& db, TagWriter& w, Release r, EntityKinds kinds) : db_(db), w_(w), r_(r), kinds_(kinds) {}

  void write() {
    modern_ = r_ >= Release::R13;
    handles_ = r_ >= Release::R10;
    // Entities a release cannot hold in their own form are written in an
    // older form that needs handles of its own; they are numbered from the
    // seed on, and the seed written covers them.
    nextHandle_ = db_.handleSeed();
    Handle extra = 0;
    if (r_ < Release::R14 && hasKind(kinds_, EntityKind::LwPolyline))
      for (const Entity& e : db_.entities)
        if (const auto* lw = get_if<LwPolyline>(&e.data)) extra += lw->vertices.size() + 1;
    seed_ = nextHandle_ + extra + olderForms(nextHandle_ + extra);
    header();
    if (modern_) classes();
    arrows_ = arrowBlocksOf(db_);
    tables();
    blocks();
    entities();
    if (modern_) objects();
    w_.text(0, "EOF");
  }

 private:
  void section(std::string_view name) {
    w_.text(0, "SECTION");
    w_.text(2, name);
  }
  void endsec() { w_.text(0, "ENDSEC"); }

  // The entities of kinds the release lacks, drawn in the forms it has
  // (annotation_forms.cpp).  They get their handles before the header
  // states the seed: the first entity of a form keeps the handle of what
  // it draws, the others and their vertices take new ones from `first`
  // on.  Returns the number of handles taken.
  Handle olderForms(Handle first) {
    Handle next = first;
    const bool any = hasKind(kinds_, EntityKind::Ellipse) || hasKind(kinds_, EntityKind::Spline) ||
                     hasKind(kinds_, EntityKind::MText) || hasKind(kinds_, EntityKind::Leader) ||
                     hasKind(kinds_, EntityKind::Viewport);
    if (!any) return 0;
    for (std::size_t id = 0; id < db_.entities.size(); ++id) {
      const Entity& e = db_.entities[id];
      if (!needsOlderForm(e, r_)) continue;
      std::vector<Entity> form = olderForm(e, db_, r_);
      for (std::size_t k = 0; k < form.size(); ++k) {
        Entity& part = form[k];
        part.common.handle = k == 0 ? e.common.handle : next++;
        if (auto* p = get_if<Polyline>(&part.data)) {
          for (Vertex& v : p->vertices) v.handle = next++;
          p->seqend = next++;
        }
      }
      olderForms_.emplace(static_cast<EntityId>(id), std::move(form));
    }
    return next - first;
  }

  // Whether the object or entity a handle names is in the file written.
  bool written(Handle h) const {
    const HandleRef* ref = db_.find(h);
    if (ref == nullptr) return false;
    if (ref->kind == RefKind::Object) return ref->index < db_.objects.size() && objectWritten(db_.objects[ref->index]);
    if (ref->kind == RefKind::Entity && ref->index < db_.entities.size()) {
      return entityWritten(db_.entities[ref->index]);
    }
    return true;
  }

  // Entities of kinds the toolkit does not model go to files whose form
  // their kept groups fit; those read from a DWG file only to DWG files.
  bool entityWritten(const Entity& e) const {
    if (e.kind != EntityKind::Unknown) return true;
    return keptGroupsFit(e.readIn, r_) && !get<UnknownEntity>(e.data).keepsDwgBits();
  }

  // The groups between handle and owner: other applications' 102 groups
  // as read, the reactors and the extension dictionary.
  void ownership(const std::vector<Handle>& reactors, Handle xdictionary, const std::vector<RawTag>& applications = {}) {
    for (const RawTag& t : applications) w_.tag(tagOf(t));
    bool open = false;
    for (const Handle h : reactors) {
      if (!written(h)) continue;
      if (!open) w_.text(102, "{ACAD_REACTORS");
      open = true;
      w_.handle(330, h);
    }
    if (open) w_.text(102, "}");
    if (xdictionary != 0 && written(xdictionary)) {
      w_.text(102, "{ACAD_XDICTIONARY");
      w_.handle(360, xdictionary);
      w_.text(102, "}");
    }
  }

  // -------------------------------------------------------------- header
  void header() {
    section("HEADER");
    const auto vars = headerVars();
    for (std::size_t i = 0; i < vars.size(); ++i) {
      const HeaderVar& v = vars[i];
      int code = -1;
      if (v.dxf.has(r_)) code = v.code;
      else if (v.altDxf.has(r_)) code = v.altCode;
      if (code < 0) continue;
      HeaderValue value = db_.header.valueAt(i);
      if (std::holds_alternative<std::monostate>(value)) value = defaultValue(v);
      if (v.name == "$ACADVER") value = std::string(releaseInfo(r_).acadver);
      if (v.name == "$HANDSEED") value = seed_;
      if (v.name == "$HANDLING") value = std::int32_t{1};
      w_.text(9, v.name);
      std::visit(Overloaded{
                     [&](std::monostate) { w_.text(code, ""); },
                     [&](double d) { w_.real(code, d); },
                     [&](std::int32_t n) { w_.integer(code, n); },
                     [&](const std::string& s) { w_.text(code, s); },
                     [&](const Point3& p) {
                       w_.real(code, p.x);
                       w_.real(code + 10, p.y);
                       if (v.z.has(r_)) w_.real(code + 20, p.z);
                     },
                     [&](Handle h) { w_.handle(code, h); },
                     [&](bool b) { w_.boolean(code, b); },
                 },
                 value);
    }
    if (db_.header.unknownFrom == r_)
      for (const UnknownVariable& u : db_.header.unknown) {
        w_.text(9, u.name);
        for (const RawTag& t : u.tags) w_.tag(tagOf(t));
      }
    endsec();
  }

  // -------------------------------------------------------------- classes
  bool objectWritten(const Object& o) const {
    if (!modern_) return false;
    if (o.kind == ObjectKind::Layout) return r_ >= Release::R2000;
    if (o.kind == ObjectKind::Unknown) {
      const auto* u = std::get_if<UnknownObject>(&o.data);
      return keptGroupsFit(o.readIn, r_) && (u == nullptr || !u->keepsDwgBits());
    }
    return true;
  }

  void classes() {
    std::unordered_set<std::string_view> used;
    for (const Object& o : db_.objects)
      if (objectWritten(o)) used.insert(o.dxfName);
    for (const Entity& e : db_.entities)
      if (e.kind == EntityKind::Unknown && entityWritten(e)) used.insert(e.dxfName());
    section("CLASSES");
    for (const ClassDef& c : db_.classes) {
      if (!used.count(c.dxfName)) continue;
      w_.text(0, "CLASS");
      w_.text(1, c.dxfName);
      w_.text(2, c.className);
      w_.text(3, c.application);
      w_.integer(90, c.flags);
      if (r_ >= Release::R2004) w_.integer(91, c.instances);
      w_.integer(280, c.wasProxy ? 1 : 0);
      w_.integer(281, c.isEntity ? 1 : 0);
    }
    endsec();
  }

  // -------------------------------------------------------------- tables
  void tableHead(std::string_view name, Handle h, std::size_t count, const TableHead& head) {
    w_.text(0, "TABLE");
    w_.text(2, name);
    if (modern_) {
      w_.handle(5, h);
      ownership(head.reactors, head.xdictionary, head.applications);
      w_.handle(330, 0);
      w_.text(100, "AcDbSymbolTable");
    }
    w_.integer(70, static_cast<std::int64_t>(count));
    if (modern_ && name == "DIMSTYLE") {
      w_.text(100, "AcDbDimStyleTable");
      w_.integer(71, static_cast<std::int64_t>(count));
      if (r_ >= Release::R2000)
        for (const Handle record : head.records)
          if (written(record)) w_.handle(340, record);
    }
    extraAndXdata(head.extra, head.xdata, db_.release);
  }

  void extraAndXdata(const std::vector<RawTag>& extra, const std::vector<RawTag>& xdata, Release from) {
    if (keptGroupsFit(from, r_))
      for (const RawTag& t : extra) w_.tag(tagOf(t));
    if (r_ >= Release::R12)
      for (const RawTag& t : xdata) w_.tag(tagOf(t));
  }

  template <class R>
  bool recordWritten(const Record<R>& rec) const {
    if constexpr (std::is_same_v<R, Linetype>) {
      if (!modern_ && (sameName(rec.common.name, "ByBlock") || sameName(rec.common.name, "ByLayer"))) return false;
    }
    return !rec.common.name.empty();
  }

  template <class R>
  void table(const SymbolTable<R>& t) {
    const RecordSpec& spec = recordSpec<R>();
    if (!spec.in.has(r_)) return;
    std::size_t count = 0;
    for (const Record<R>& rec : t.records) count += recordWritten(rec) ? 1 : 0;
    tableHead(spec.table, t.handle, count, t.head);
    for (const Record<R>& rec : t.records) {
      if (!recordWritten(rec)) continue;
      w_.text(0, spec.record);
      if (modern_) {
        w_.handle(spec.handleCode, rec.common.handle);
        ownership(rec.common.reactors, rec.common.xdictionary, rec.common.applications);
        w_.handle(330, t.handle);
        w_.text(100, "AcDbSymbolTableRecord");
        w_.text(100, spec.subclass);
      }
      w_.text(2, rec.common.name);
      w_.integer(70, rec.common.flags);
      writeFields<R>(w_, rec.data, fieldsOf<R>(), r_);
      if constexpr (std::is_same_v<R, DimStyle>) {
        // Arrows, units and fit in this release's form; of a release whose
        // other groups do not fit, those alone.
        std::vector<RawTag> extra = dimStyleGroupsFor(rec.common.extra, r_, arrows_);
        if (!keptGroupsFit(db_.release, r_)) std::erase_if(extra, [](const RawTag& t) { return !dimStyleFormGroup(t.code); });
        if (!modern_) std::erase_if(extra, [](const RawTag& t) { return t.code == 270 || t.code == 287; });
        for (const RawTag& t : extra) w_.tag(tagOf(t));
        if (r_ >= Release::R12)
          for (const RawTag& t : rec.common.xdata) w_.tag(tagOf(t));
        continue;
      }
      extraAndXdata(rec.common.extra, rec.common.xdata, db_.release);
    }
    w_.text(0, "ENDTAB");
  }

  std::string_view blockName(const BlockRecord& b) const {
    if (modern_ && isModelSpaceName(b.name)) return "*Model_Space";
    if (modern_ && isPaperSpaceName(b.name)) return "*Paper_Space";
    return b.name;
  }

  void tables() {
    section("TABLES");
    table(db_.vports);
    table(db_.linetypes);
    table(db_.layers);
    table(db_.styles);
    table(db_.views);
    table(db_.ucs);
    table(db_.appids);
    table(db_.dimstyles);
    if (modern_) {
      tableHead("BLOCK_RECORD", db_.blockTable, db_.blocks.size(), db_.blockTableHead);
      for (const BlockRecord& b : db_.blocks) {
        w_.text(0, "BLOCK_RECORD");
        w_.handle(5, b.handle);
        ownership(b.reactors, b.xdictionary, b.applications);
        w_.handle(330, db_.blockTable);
        w_.text(100, "AcDbSymbolTableRecord");
        w_.text(100, "AcDbBlockTableRecord");
        w_.text(2, blockName(b));
        if (r_ >= Release::R2000) w_.handle(340, b.layout);
        extraAndXdata(b.recordExtra, b.recordXdata, db_.release);
      }
      w_.text(0, "ENDTAB");
    }
    endsec();
  }

  // -------------------------------------------------------------- entities
  void entityHead(std::string_view name, Handle handle, Handle owner, bool paper, const EntityCommon& c) {
    w_.text(0, name);
    if (handles_) w_.handle(5, handle);
    if (modern_) {
      ownership(c.reactors(), c.xdictionary, c.applications());
      w_.handle(330, owner);
      w_.text(100, "AcDbEntity");
    }
    if (paper && r_ >= Release::R12) w_.integer(67, 1);
    w_.text(8, c.layer.empty() ? std::string_view("0") : std::string_view(c.layer));
    commonGroups(c);
  }

  // The common groups after the layer that say more than their defaults.
  void commonGroups(const EntityCommon& c) {
    if (!c.linetype.empty() && !(c.linetype == "BYLAYER" || sameName(c.linetype, "BYLAYER"))) w_.text(6, c.linetype);
    if (c.colour != 256) w_.integer(62, c.colour);
    if (r_ >= Release::R2000 && c.lineweight != -1) w_.integer(370, c.lineweight);
    if (modern_ && c.linetypeScale != 1.0) w_.real(48, c.linetypeScale);
    if (modern_ && c.invisible) w_.integer(60, 1);
  }

  // A follower (VERTEX, SEQEND, ENDBLK): its own common groups, or those
  // of a plain entity on its head's layer.  Its head then writes the
  // kind's fields and closes it with its extra groups and XDATA
  // (followerTail).
  void followerHead(std::string_view name, Handle handle, Handle owner, bool paper, const FollowerGroups& own,
                    std::string_view headLayer) {
    if (const EntityCommon* c = own.get()) {
      entityHead(name, handle, owner, paper, *c);
      return;
    }
    if (plainFollower_.layer != headLayer) plainFollower_.layer = headLayer;
    entityHead(name, handle, owner, paper, plainFollower_);
  }
  void followerTail(const FollowerGroups& own, Release from) {
    if (const EntityCommon* c = own.get()) extraAndXdata(c->extra(), c->xdata(), from);
  }

  void seqend(Handle handle, Handle owner, bool paper, const FollowerGroups& own, const Entity& head) {
    followerHead("SEQEND", handle, owner, paper, own, head.common.layer);
    followerTail(own, head.readIn);
  }

  void polyline(const Entity& e, const Polyline& p, Handle owner, bool paper) {
    entityHead("POLYLINE", e.common.handle, owner, paper, e.common);
    writeFields<Polyline>(w_, p, fieldsOf<Polyline>(), r_);
    extraAndXdata(e.common.extra(), e.common.xdata(), e.readIn);
    for (const Vertex& v : p.vertices) {
      followerHead("VERTEX", v.handle != 0 ? v.handle : nextHandle_++, e.common.handle, paper, v.own, e.common.layer);
      writeFields<Vertex>(w_, v, fieldsOf<Vertex>(), r_);
      followerTail(v.own, e.readIn);
    }
    seqend(p.seqend != 0 ? p.seqend : nextHandle_++, e.common.handle, paper, p.seqendGroups, e);
  }

  // LWPOLYLINE before R14: the same outline as a 2D POLYLINE.
  void lwAsPolyline(const Entity& e, const LwPolyline& lw, Handle owner, bool paper) {
    Polyline p;
    p.flags = lw.flags & (1 | 128);
    p.origin.z = lw.elevation;
    p.thickness = lw.thickness;
    p.extrusion = lw.extrusion;
    p.startWidth = p.endWidth = lw.constantWidth;
    for (const LwVertex& lv : lw.vertices) {
      Vertex v;
      v.handle = nextHandle_++;
      v.location = {lv.location.x, lv.location.y, lw.elevation};
      v.startWidth = lv.startWidth;
      v.endWidth = lv.endWidth;
      v.bulge = lv.bulge;
      p.vertices.push_back(v);
    }
    p.seqend = nextHandle_++;
    polyline(e, p, owner, paper);
  }

  void entity(EntityId id, Handle owner, bool paper) {
    if (!olderForms_.empty())
      if (const auto it = olderForms_.find(id); it != olderForms_.end()) {
        for (const Entity& part : it->second) entity(part, owner, paper);
        return;
      }
    entity(db_.entities[id], owner, paper);
  }

  void entity(const Entity& e, Handle owner, bool paper) {
    if (e.kind == EntityKind::Unknown) {
      if (!entityWritten(e)) return;
      entityHead(e.dxfName(), e.common.handle, owner, paper, e.common);
      for (const RawTag& t : get<UnknownEntity>(e.data).tags) w_.tag(tagOf(t));
      extraAndXdata({}, e.common.xdata(), e.readIn);
      return;
    }
    if (const auto* p = get_if<Polyline>(&e.data)) {
      polyline(e, *p, owner, paper);
      return;
    }
    if (const auto* lw = get_if<LwPolyline>(&e.data); lw != nullptr && r_ < Release::R14) {
      lwAsPolyline(e, *lw, owner, paper);
      return;
    }
    if (!entitySpec(e.kind).in.has(r_)) return;
    entityHead(dxfNameOf(e.kind), e.common.handle, owner, paper, e.common);
    visit(Overloaded{
                   [&](const UnknownEntity&) {},
                   [&](const Leader& l) {
                     // An annotation the file does not hold is not named.
                     Leader shown = l;
                     if (shown.annotation != 0 && !written(shown.annotation)) shown.annotation = 0;
                     writeFields<Leader>(w_, shown, fieldsOf<Leader>(), r_);
                   },
                   [&](const auto& data) {
                     using T = std::decay_t<decltype(data)>;
                     writeFields<T>(w_, data, fieldsOf<T>(), r_);
                   },
               },
               e.data);
    if (const auto* v = get_if<Viewport>(&e.data); v != nullptr && r_ < Release::R2000) {
      // Before 2000 the view of a viewport is XDATA of its own.
      if (keptGroupsFit(e.readIn, r_))
        for (const RawTag& t : e.common.extra()) w_.tag(tagOf(t));
      for (const RawTag& t : viewportXdata(*v, layerNames(v->frozenLayers))) w_.tag(tagOf(t));
      extraAndXdata({}, e.common.xdata(), e.readIn);
      return;
    }
    extraAndXdata(e.common.extra(), e.common.xdata(), e.readIn);
    if (const auto* ins = get_if<Insert>(&e.data); ins != nullptr && !ins->attributes.empty()) {
      for (EntityId a : ins->attributes)
        if (a < db_.entities.size()) entity(a, e.common.handle, paper);
      seqend(ins->seqend != 0 ? ins->seqend : nextHandle_++, e.common.handle, paper, ins->seqendGroups, e);
    }
  }

  std::vector<std::string> layerNames(const std::vector<Handle>& handles) {
    if (layerNames_.empty())
      for (const Record<Layer>& r : db_.layers.records) layerNames_.emplace(r.common.handle, r.common.name);
    std::vector<std::string> names;
    for (const Handle h : handles)
      if (const auto it = layerNames_.find(h); it != layerNames_.end()) names.push_back(it->second);
    return names;
  }

  void blocks() {
    section("BLOCKS");
    for (const BlockRecord& b : db_.blocks) {
      const bool model = isModelSpaceName(b.name), paper = isPaperSpaceName(b.name);
      if (!modern_ && (model || paper)) continue;
      const bool inPaper = paper || (b.name.size() >= 12 && sameName(b.name.substr(0, 12), "*Paper_Space"));
      const EntityCommon* own = b.blockGroups.get();
      w_.text(0, "BLOCK");
      if (modern_) {
        w_.handle(5, b.blockHandle);
        if (own != nullptr) ownership(own->reactors(), own->xdictionary, own->applications());
        w_.handle(330, b.handle);
        w_.text(100, "AcDbEntity");
        if (inPaper) w_.integer(67, 1);
      }
      w_.text(8, b.layer.empty() ? std::string_view("0") : std::string_view(b.layer));
      if (own != nullptr) commonGroups(*own);
      if (modern_) w_.text(100, "AcDbBlockBegin");
      w_.text(2, blockName(b));
      w_.integer(70, b.flags);
      w_.real(10, b.base.x);
      w_.real(20, b.base.y);
      if (r_ >= Release::R10) w_.real(30, b.base.z);
      if (r_ >= Release::R12) {
        w_.text(3, blockName(b));
        w_.text(1, b.xrefPath);
      }
      if (r_ >= Release::R2000 && !b.description.empty()) w_.text(4, b.description);
      followerTail(b.blockGroups, db_.release);
      if (!model && !paper)
        for (EntityId id : b.entities) entity(id, b.handle, inPaper);
      followerHead("ENDBLK", b.endHandle, b.handle, inPaper && modern_, b.endGroups, b.layer);
      if (modern_) w_.text(100, "AcDbBlockEnd");
      followerTail(b.endGroups, db_.release);
    }
    endsec();
  }

  void entities() {
    section("ENTITIES");
    const BlockRecord& model = db_.modelSpace();
    for (EntityId id : model.entities) entity(id, model.handle, false);
    const BlockRecord& paper = db_.paperSpace();
    for (EntityId id : paper.entities) entity(id, paper.handle, true);
    endsec();
  }

  // -------------------------------------------------------------- objects
  void object(const Object& o) {
    w_.text(0, o.dxfName);
    w_.handle(5, o.handle);
    ownership(o.reactors, o.xdictionary, o.extra);
    w_.handle(330, o.owner);
    std::visit(Overloaded{
                   [&](const Dictionary& d) {
                     // Entries whose objects are not written are left out.
                     Dictionary shown = d;
                     std::erase_if(shown.entries, [&](const DictionaryEntry& e) {
                       const Object* target = db_.findObject(e.object);
                       return target != nullptr && !objectWritten(*target);
                     });
                     writeFields<Dictionary>(w_, shown, fieldsOf<Dictionary>(), r_);
                   },
                   [&](const Layout& l) { writeFields<Layout>(w_, l, fieldsOf<Layout>(), r_); },
                   [&](const Group& g) {
                     // Members not in the file are left out of the group.
                     Group shown = g;
                     std::erase_if(shown.entities, [&](Handle h) { return !written(h); });
                     writeFields<Group>(w_, shown, fieldsOf<Group>(), r_);
                   },
                   [&](const UnknownObject& u) {
                     for (const RawTag& t : u.tags) w_.tag(tagOf(t));
                   },
               },
               o.data);
  }

  void objects() {
    section("OBJECTS");
    if (Object* root = db_.findObject(db_.rootDictionary)) object(*root);
    for (const Object& o : db_.objects)
      if (o.handle != db_.rootDictionary && objectWritten(o)) object(o);
    endsec();
  }

  Database& db_;
  TagWriter& w_;
  Release r_;
  EntityKinds kinds_;
  bool modern_ = false;
  ArrowBlocks arrows_;  // the arrow blocks of dimension styles
  bool handles_ = false;
  Handle nextHandle_ = 0;
  Handle seed_ = 0;
  std::unordered_map<EntityId, std::vector<Entity>> olderForms_;
  std::unordered_map<Handle, std::string> layerNames_;
  EntityCommon plainFollower_;  // the common groups of a follower that has none of its own
};

// Releases before 2010 hold a hatch's spline edges by their control data
// only (see the hatch declaration); an edge known only by its fit points
// has no curve there.
void reportFitOnlySplineEdges(const Database& db, std::vector<Finding>& findings) {
  for (const Entity& e : db.entities) {
    const auto* h = get_if<Hatch>(&e.data);
    if (h == nullptr) continue;
    std::size_t lost = 0;
    for (const HatchPath& p : h->paths)
      for (const HatchEdge& edge : p.edges)
        if (edge.type == 4 && edge.controlPoints.empty() && !edge.fitPoints.empty()) ++lost;
    if (lost > 0)
      findings.push_back({"hatch-spline-fit-only", e.common.handle, "edges", false,
                          std::to_string(lost) + " spline edges known only by fit points have no curve in this release"});
  }
}

// The code page of the text of a file of release `r`: the drawing's own
// where the release states it in $DWGCODEPAGE, else ANSI_1252, which
// readers take when a file names none.  A page the toolkit does not know
// leaves the text as it is held (as it was read).
CodePage codePageFor(const Database& db, Release r, std::vector<Finding>* findings) {
  const std::string named = db.header.text("$DWGCODEPAGE");
  if (r >= Release::R2007) return CodePage::utf8();
  CodePage drawing = CodePage::named(named.empty() ? std::string_view("ANSI_1252") : std::string_view(named));
  if (!drawing.known()) {
    if (findings != nullptr)
      findings->push_back({"unknown-code-page", 0, "$DWGCODEPAGE", false,
                           "code page " + named + " is not known: the text is written as it is held"});
    return drawing;
  }
  const int index = headerVarIndex("$DWGCODEPAGE");
  if (index >= 0 && headerVars()[static_cast<std::size_t>(index)].dxf.has(r)) return drawing;
  return CodePage::named("ANSI_1252");
}

}  // namespace

Status writeDxf(Database& db, ByteSink& sink, const DxfWriteOptions& options) {
  if (!can(options.release, kWriteDxf))
    return Status::fail(StatusCode::NotSupported,
                        "DXF files of release " + std::string(releaseInfo(options.release).version) + " cannot be written");
  if (options.binary && options.release < Release::R10)
    return Status::fail(StatusCode::NotSupported, "binary DXF exists from release 10 on");
  db.completeFor(options.release);
  dimHeaderFor(db.header, db.release, options.release);
  dimVariablesIntoHeader(db, options.release);
  EntityKinds kinds = kindsOf(db);
  if (hasKind(kinds, EntityKind::Dimension)) {
    buildMissingDimensionBlocks(db);
    kinds = kindsOf(db);  // with what the blocks built hold
  }
  const CodePage page = codePageFor(db, options.release, options.findings);
  TagWriter w(sink, {options.binary, options.release >= Release::R13 ? 2 : 1, options.precision, &page});
  // Releases before R14 have no HATCH: a copy of the database shows each
  // hatch as an insert of a block that draws it, and the copy is written.
  const bool hatches = hasKind(kinds, EntityKind::Hatch);
  if (hatches && !entitySpec(EntityKind::Hatch).in.has(options.release)) {
    Database drawn = db;
    replaceHatchesByBlocks(drawn, options.findings);
    DxfWriter(drawn, w, options.release, kindsOf(drawn)).write();
  } else {
    if (hatches && options.release < Release::R2010 && options.findings != nullptr) reportFitOnlySplineEdges(db, *options.findings);
    DxfWriter(db, w, options.release, kinds).write();
  }
  return w.flush();
}

}  // namespace drawingdb

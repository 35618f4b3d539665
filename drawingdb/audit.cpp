#include "drawingdb/audit.h"

// See dxf_fields.h: the field walks draw false array-bounds warnings.
#pragma GCC diagnostic ignored "-Warray-bounds"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "drawingdb/dimension_block.h"
#include "drawingdb/dxf_fields.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

template <class R>
std::unordered_set<std::string> namesOf(const SymbolTable<R>& t) {
  std::unordered_set<std::string> names;
  for (const Record<R>& r : t.records) names.insert(upper(r.common.name));
  return names;
}

// The handles that occur more than once in `all`, sorted.  Handles handed
// out by a database lie close together: a bit per value of their range
// finds the repeated ones in one pass.  Handles spread wider (as a file
// may hold them) are sorted instead.
std::vector<Handle> repeatedHandles(std::vector<Handle> all) {
  std::vector<Handle> repeated;
  if (all.empty()) return repeated;
  const auto [low, high] = std::minmax_element(all.begin(), all.end());
  const Handle first = *low, range = *high - *low;
  if (range / 64 <= all.size()) {
    std::vector<std::uint64_t> bits(static_cast<std::size_t>(range / 64) + 1);
    for (const Handle h : all) {
      const Handle at = h - first;
      std::uint64_t& word = bits[static_cast<std::size_t>(at / 64)];
      const std::uint64_t bit = std::uint64_t{1} << (at % 64);
      if ((word & bit) != 0) repeated.push_back(h);
      word |= bit;
    }
    std::sort(repeated.begin(), repeated.end());
  } else {
    std::sort(all.begin(), all.end());
    for (std::size_t i = 1; i < all.size(); ++i)
      if (all[i] == all[i - 1]) repeated.push_back(all[i]);
  }
  repeated.erase(std::unique(repeated.begin(), repeated.end()), repeated.end());
  return repeated;
}

// The last few names found defined, looked for before the tables: each
// held here keeps its shared text, so a text seen is one of these names.
class RecentNames {
 public:
  bool has(const Name& name) const {
    for (std::size_t i = 0; i < count_; ++i)
      if (names_[i] == name) return true;
    return false;
  }
  void add(const Name& name) {
    names_[next_] = name;
    next_ = (next_ + 1) % kKept;
    count_ = std::min(count_ + 1, kKept);
  }

 private:
  static constexpr std::size_t kKept = 8;
  Name names_[kKept];
  std::size_t next_ = 0, count_ = 0;
};

class Auditor {
 public:
  Auditor(Database& db, const AuditOptions& options) : db_(db), fix_(options.fix) {}

  std::vector<Finding> run() {
    requiredRecords();
    handles();
    entities();
    blockCycles();
    dictionaries();
    references();
    return std::move(findings_);
  }

 private:
  void report(std::string code, Handle h, std::string field, bool fixable, std::string detail) {
    findings_.push_back({std::move(code), h, std::move(field), fix_ && fixable, std::move(detail)});
  }

  // ------------------------------------------------------------ records
  void requiredRecords() {
    const Release r = db_.release;
    const bool modern = r >= Release::R13;
    auto need = [&](bool present, std::string what) {
      if (!present) report("missing-record", 0, what, true, what + " is missing");
    };
    need(db_.layers.find("0") != nullptr, "layer 0");
    need(db_.linetypes.find("Continuous") != nullptr, "linetype Continuous");
    if (modern) {
      need(db_.linetypes.find("ByBlock") != nullptr, "linetype ByBlock");
      need(db_.linetypes.find("ByLayer") != nullptr, "linetype ByLayer");
    }
    need(db_.styles.find("Standard") != nullptr, "text style Standard");
    if (r >= Release::R10) need(db_.vports.find("*ACTIVE") != nullptr, "viewport *ACTIVE");
    if (r >= Release::R12) {
      need(db_.appids.find("ACAD") != nullptr, "application ACAD");
      need(!db_.dimstyles.records.empty(), "dimension style Standard");
    }
    need(db_.findBlock("*Model_Space") || db_.findBlock("$MODEL_SPACE"), "block *Model_Space");
    need(db_.findBlock("*Paper_Space") || db_.findBlock("$PAPER_SPACE"), "block *Paper_Space");
    if (modern) need(db_.dictionary(db_.rootDictionary) != nullptr, "root dictionary");
    if (fix_ && !findings_.empty()) db_.completeFor(r);
  }

  // ------------------------------------------------------------ handles
  void handles() {
    std::vector<Handle> all;
    all.reserve(db_.entities.size() + 3 * db_.blocks.size() + db_.objects.size());
    db_.forEachHandle([&](Handle& h) {
      if (h != 0) all.push_back(h);
    });
    const std::vector<Handle> repeated = repeatedHandles(std::move(all));
    if (repeated.empty()) return;
    // Of a handle used more than once, the first use keeps it.
    std::unordered_set<Handle> seen;
    bool changed = false;
    db_.forEachHandle([&](Handle& h) {
      if (h == 0 || !std::binary_search(repeated.begin(), repeated.end(), h)) return;
      if (seen.insert(h).second) return;
      report("duplicate-handle", h, "handle", true, "handle " + formatHandle(h) + " is used more than once");
      if (fix_) {
        h = 0;
        changed = true;
      }
    });
    if (changed) {
      db_.forEachHandle([&](Handle& h) {
        if (h == 0) h = db_.newHandle();
      });
      db_.reindex();
    }
  }

  // ------------------------------------------------------------ entities
  template <class T>
  bool checkFields(T& data, Handle h) {
    bool keep = true;
    for (const Field<T>& f : fieldsOf<T>()) {
      std::visit(Overloaded{
                     [&](double T::*m) {
                       double& v = data.*m;
                       if (!std::isfinite(v)) {
                         report("bad-number", h, std::string(f.name), true, "not a finite number");
                         if (fix_) v = 0;
                       }
                       const bool bad = (f.check == Check::Positive && !(v > 0)) ||
                                        (f.check == Check::UnitRatio && !(v > 0 && v <= 1));
                       if (bad) {
                         report("bad-value", h, std::string(f.name), true,
                                std::string(f.name) + " " + formatReal(v, 17) + " is out of range; the entity is removed");
                         keep = false;
                       }
                     },
                     [&](Point3 T::*m) {
                       Point3& p = data.*m;
                       if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                         report("bad-number", h, std::string(f.name), true, "not a finite point");
                         if (fix_) p = Point3{};
                       }
                     },
                     [&](const auto&) {},
                 },
                 f.member);
    }
    return keep;
  }

  void entities() {
    const auto layers = namesOf(db_.layers);
    const auto linetypes = namesOf(db_.linetypes);
    const auto styles = namesOf(db_.styles);
    std::unordered_set<std::string> blocks;
    for (const BlockRecord& b : db_.blocks) blocks.insert(upper(b.name));
    std::unordered_set<std::string> addedLayers;
    const std::string standard = db_.styles.find("Standard") ? db_.styles.find("Standard")->common.name : "Standard";
    // Entities come in runs on a few layers and linetypes: names found
    // defined stay defined (the tables only grow), and the last few of them
    // are known without a lookup.
    RecentNames definedLayers, definedLinetypes;
    walked_.assign(db_.entities.size(), 0);
    for (BlockRecord& block : db_.blocks) {
      std::vector<EntityId> kept;
      kept.reserve(block.entities.size());
      for (EntityId id : block.entities) {
        if (id >= db_.entities.size()) {
          report("dangling-entity", block.handle, "entities", true, "block " + block.name + " lists a missing entity");
          continue;
        }
        Entity& e = db_.entities[id];
        const Handle h = e.common.handle;
        bool keep = true;
        if (e.common.owner != block.handle) {
          report("wrong-owner", h, "owner", true, "owner is not the block " + block.name);
          if (fix_) e.common.owner = block.handle;
        }
        if (!definedLayers.has(e.common.layer)) {
          const std::string layer = upper(e.common.layer);
          if (layers.count(layer) || addedLayers.count(layer)) {
            definedLayers.add(e.common.layer);
          } else {
            report("undefined-layer", h, "layer", true, "layer " + e.common.layer + " is not in the layer table");
            if (fix_) {
              if (e.common.layer.empty()) e.common.layer = "0";
              else db_.addRecord(db_.layers, e.common.layer.str()).data.linetype = db_.linetypes.find("Continuous") ? db_.linetypes.find("Continuous")->common.name : "Continuous";
              addedLayers.insert(layer);
            }
          }
        }
        if (!definedLinetypes.has(e.common.linetype)) {
          const std::string lt = upper(e.common.linetype);
          if (lt.empty() || lt == "BYLAYER" || lt == "BYBLOCK" || linetypes.count(lt)) {
            definedLinetypes.add(e.common.linetype);
          } else {
            report("undefined-linetype", h, "linetype", true, "linetype " + e.common.linetype + " is not defined; ByLayer used");
            if (fix_) e.common.linetype = "BYLAYER";
          }
        }
        if (e.common.colour < 0 || e.common.colour > 256) {
          report("bad-colour", h, "colour", true, "colour " + std::to_string(e.common.colour) + " is not a colour number; ByLayer used");
          if (fix_) e.common.colour = 256;
        }
        visit(Overloaded{
                       [&](UnknownEntity&) {},
                       [&](auto& data) {
                         using T = std::decay_t<decltype(data)>;
                         keep = checkFields<T>(data, h) && keep;
                       },
                   },
                   e.data);
        if (auto* t = get_if<Text>(&e.data); t != nullptr && !styles.count(upper(t->style))) {
          report("undefined-style", h, "style", true, "text style " + t->style + " is not defined; " + standard + " used");
          if (fix_) t->style = standard;
        }
        if (auto* i = get_if<Insert>(&e.data); i != nullptr && !blocks.count(upper(i->block))) {
          report("undefined-block", h, "block", true, "block " + i->block + " is not defined; the insert is removed");
          keep = false;
        }
        if (auto* p = get_if<Polyline>(&e.data); p != nullptr && p->vertices.empty()) {
          report("empty-polyline", h, "vertices", true, "polyline without vertices is removed");
          keep = false;
        }
        if (auto* p = get_if<LwPolyline>(&e.data); p != nullptr && p->vertices.empty()) {
          report("empty-polyline", h, "vertices", true, "polyline without vertices is removed");
          keep = false;
        }
        if (auto* d = get_if<Dimension>(&e.data)) dimensionReferences(*d, id, h, blocks);
        if (auto* t = get_if<Hatch>(&e.data)) keep = hatchReferences(*t, h) && keep;
        walked_[id] |= whatItNames(e);
        if (keep || !fix_) kept.push_back(id);
      }
      if (fix_) block.entities = std::move(kept);
    }
    // Blocks are added only now: the loop above holds references into them.
    for (EntityId id : unblockedDimensions_) buildDimensionBlock(db_, id);
  }

  // A dimension shows through its block: one that names none gets it
  // built from its points.  Its style must be a dimension style of the
  // drawing (a table that exists from R12 on).
  void dimensionReferences(Dimension& d, EntityId id, Handle h, const std::unordered_set<std::string>& blocks) {
    if (d.block.empty() || !blocks.count(upper(d.block))) {
      report("undefined-block", h, "block",  true,
             "dimension block " + (d.block.empty() ? std::string("(none)") : d.block) + " is not defined; it is built from the dimension");
      if (fix_) unblockedDimensions_.push_back(id);
    }
    if (db_.release >= Release::R12 && !db_.dimstyles.records.empty() && db_.dimstyles.find(d.style) == nullptr) {
      const Record<DimStyle>* standard = db_.dimstyles.find("Standard");
      const std::string used = standard != nullptr ? standard->common.name : db_.dimstyles.records.front().common.name;
      report("undefined-dimstyle", h, "style", true, "dimension style " + d.style + " is not defined; " + used + " used");
      if (fix_) d.style = used;
    }
  }

  // A hatch needs a boundary; the entities its loops were made from must
  // exist (dangling ones are dropped, the loops stay), and its spline
  // edges must have as many knots as control points and degree ask for
  // (others become the lines of their control polygons).
  bool hatchReferences(Hatch& t, Handle h) {
    if (t.paths.empty()) {
      report("empty-hatch", h, "paths", true, "hatch without boundary is removed");
      return false;
    }
    for (HatchPath& p : t.paths) {
      std::erase_if(p.sources, [&](Handle source) {
        const HandleRef* ref = db_.find(source);
        if (ref != nullptr && ref->kind == RefKind::Entity) return false;
        report("dangling-reference", h, "sources", true,
               "hatch boundary source " + formatHandle(source) + " is not an entity; the reference is removed");
        return fix_;
      });
      std::vector<HatchEdge> edges;
      for (const HatchEdge& e : p.edges) {
        const std::size_t n = e.controlPoints.size();
        if (e.type != 4 || (e.degree >= 1 && e.knots.size() == n + static_cast<std::size_t>(e.degree) + 1 &&
                            (e.weights.empty() || e.weights.size() == n))) {
          edges.push_back(e);
          continue;
        }
        report("bad-spline-edge", h, "paths", true,
               "spline edge of degree " + std::to_string(e.degree) + " with " + std::to_string(n) + " control points has " +
                   std::to_string(e.knots.size()) + " knots and " + std::to_string(e.weights.size()) +
                   " weights; its control polygon is used");
        // The edge becomes the lines of its control polygon (its fit
        // points when it has no control points), as it is drawn anyway.
        const std::vector<Point3>& points = n > 0 ? e.controlPoints : e.fitPoints;
        for (std::size_t i = 0; i + 1 < points.size(); ++i) {
          HatchEdge line;
          line.start = points[i];
          line.end = points[i + 1];
          edges.push_back(line);
        }
      }
      if (fix_) p.edges = std::move(edges);
    }
    return true;
  }

  // A block that inserts itself, directly or through others, cannot be
  // drawn; the insert that closes the cycle is removed.
  void blockCycles() {
    std::unordered_map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < db_.blocks.size(); ++i) byName.emplace(upper(db_.blocks[i].name), i);
    enum : std::uint8_t { White, Grey, Black };
    std::vector<std::uint8_t> colour(db_.blocks.size(), White);
    struct Frame {
      std::size_t block;
      std::size_t next;  // position in the block's entity list
    };
    for (std::size_t root = 0; root < db_.blocks.size(); ++root) {
      if (colour[root] != White) continue;
      std::vector<Frame> stack{{root, 0}};
      colour[root] = Grey;
      while (!stack.empty()) {
        Frame& top = stack.back();
        BlockRecord& b = db_.blocks[top.block];
        if (top.next >= b.entities.size()) {
          colour[top.block] = Black;
          stack.pop_back();
          continue;
        }
        const std::size_t at = top.next++;
        const EntityId id = b.entities[at];
        if (id < walked_.size() && (walked_[id] & kInserts) == 0) continue;
        const auto* ins = id < db_.entities.size() ? get_if<Insert>(&db_.entities[id].data) : nullptr;
        if (ins == nullptr) continue;
        const auto it = byName.find(upper(ins->block));
        if (it == byName.end()) continue;
        if (colour[it->second] == Grey) {
          report("block-cycle", db_.entities[id].common.handle, "block", true,
                 "block " + b.name + " inserts " + ins->block + ", which inserts " + b.name + " again; the insert is removed");
          if (fix_) {
            b.entities.erase(b.entities.begin() + static_cast<std::ptrdiff_t>(at));
            --top.next;
          }
          continue;
        }
        if (colour[it->second] == White) {
          colour[it->second] = Grey;
          stack.push_back({it->second, 0});
        }
      }
    }
  }

  // ------------------------------------------------------------ objects
  void dictionaries() {
    for (Object& o : db_.objects) {
      auto* d = std::get_if<Dictionary>(&o.data);
      if (d == nullptr) continue;
      const Handle owner = o.handle;
      std::erase_if(d->entries, [&](const DictionaryEntry& e) {
        if (db_.find(e.object) != nullptr) return false;
        report("dangling-entry", owner, e.name, true, "dictionary entry " + e.name + " names no object; it is removed");
        return fix_;
      });
    }
  }

  // ------------------------------------------------------------ references
  // What entities, records and objects name by handle or name beyond their
  // block and layer: reactors, extension dictionaries, a leader's annotation and
  // dimension style, the frozen layers of a viewport, the style of an
  // MTEXT, the entities of a group; and whether a spline's numbers agree.
  void references() {
    std::unordered_set<Handle> layerHandles;
    for (const Record<Layer>& r : db_.layers.records) layerHandles.insert(r.common.handle);
    const auto styles = namesOf(db_.styles);
    const auto dimstyles = namesOf(db_.dimstyles);
    const Record<TextStyle>* standardStyle = db_.styles.find("Standard");
    for (BlockRecord& block : db_.blocks) {
      std::vector<EntityId> kept;
      for (EntityId id : block.entities) {
        if (id >= db_.entities.size()) continue;
        if (id < walked_.size() && (walked_[id] & kNamesMore) == 0) {
          kept.push_back(id);  // nothing to check
          continue;
        }
        Entity& e = db_.entities[id];
        const Handle h = e.common.handle;
        std::vector<Handle> noReactors;
        ownership(e.common.extrasIfAny() != nullptr ? e.common.extras().reactors : noReactors, e.common.xdictionary, h);
        bool keep = true;
        if (auto* l = get_if<Leader>(&e.data)) {
          const HandleRef* ref = db_.find(l->annotation);
          if (l->annotation != 0 && (ref == nullptr || ref->kind != RefKind::Entity)) {
            report("dangling-annotation", h, "annotation", true,
                   "leader annotation " + formatHandle(l->annotation) + " is no entity; the leader keeps none");
            if (fix_) l->annotation = 0;
          }
          if (!dimstyles.count(upper(l->dimensionStyle)) && !db_.dimstyles.records.empty()) {
            const std::string fallback = db_.dimstyles.records.front().common.name;
            report("undefined-dimstyle", h, "dimensionStyle", true,
                   "dimension style " + l->dimensionStyle + " is not defined; " + fallback + " used");
            if (fix_) l->dimensionStyle = fallback;
          }
        } else if (auto* v = get_if<Viewport>(&e.data)) {
          std::erase_if(v->frozenLayers, [&](Handle layer) {
            if (layerHandles.count(layer)) return false;
            report("dangling-layer", h, "frozenLayers", true,
                   "viewport freezes " + formatHandle(layer) + ", which is no layer; it is left out");
            return fix_;
          });
        } else if (auto* m = get_if<MText>(&e.data); m != nullptr && !styles.count(upper(m->style))) {
          const std::string fallback = standardStyle != nullptr ? standardStyle->common.name : "Standard";
          report("undefined-style", h, "style", true, "text style " + m->style + " is not defined; " + fallback + " used");
          if (fix_) m->style = fallback;
        } else if (auto* s = get_if<Spline>(&e.data)) {
          keep = spline(*s, h);
        }
        if (keep || !fix_) kept.push_back(id);
      }
      if (fix_) block.entities = std::move(kept);
    }
    auto records = [&](auto& table) {
      for (auto& r : table.records) ownership(r.common.reactors, r.common.xdictionary, r.common.handle);
    };
    records(db_.vports);
    records(db_.linetypes);
    records(db_.layers);
    records(db_.styles);
    records(db_.views);
    records(db_.ucs);
    records(db_.appids);
    records(db_.dimstyles);
    for (BlockRecord& b : db_.blocks) ownership(b.reactors, b.xdictionary, b.handle);
    for (Object& o : db_.objects) {
      ownership(o.reactors, o.xdictionary, o.handle);
      if (auto* g = std::get_if<Group>(&o.data)) {
        std::erase_if(g->entities, [&](Handle member) {
          const HandleRef* ref = db_.find(member);
          if (ref != nullptr && ref->kind == RefKind::Entity) return false;
          report("dangling-group-entity", o.handle, "entities",
                 true, "group lists " + formatHandle(member) + ", which is no entity; it is left out");
          return fix_;
        });
      }
    }
  }

  void ownership(std::vector<Handle>& reactors, Handle& xdictionary, Handle h) {
    std::erase_if(reactors, [&](Handle r) {
      if (db_.find(r) != nullptr) return false;
      report("dangling-reactor", h, "reactors", true, "reactor " + formatHandle(r) + " names nothing; it is left out");
      return fix_;
    });
    if (xdictionary != 0 && db_.dictionary(xdictionary) == nullptr) {
      report("dangling-xdictionary", h, "xdictionary", true,
             "extension dictionary " + formatHandle(xdictionary) + " is no dictionary; the link is dropped");
      if (fix_) xdictionary = 0;
    }
  }

  // A spline is drawn from control points and knots (their numbers agree
  // with the degree: knots = control points + degree + 1, weights one per
  // control point or none) or from fit points.  What disagrees is dropped
  // while fit points remain; a spline left with nothing to draw is removed.
  bool spline(Spline& s, Handle h) {
    const std::size_t n = s.controlPoints.size();
    if (!s.weights.empty() && s.weights.size() != n) {
      report("bad-spline", h, "weights", true,
             std::to_string(s.weights.size()) + " weights for " + std::to_string(n) + " control points; weights of 1 used");
      if (fix_) {
        s.weights.clear();
        s.flags &= ~4;
      }
    }
    const bool controlled = n > 0 && s.degree >= 1 && n >= static_cast<std::size_t>(s.degree) + 1 &&
                            s.knots.size() == n + static_cast<std::size_t>(s.degree) + 1;
    if (n > 0 && !controlled) {
      report("bad-spline", h, "knots",
             true, std::to_string(s.knots.size()) + " knots do not fit " + std::to_string(n) + " control points of degree " +
                 std::to_string(s.degree) + (s.fitPoints.size() >= 2 ? "; the fit points are kept" : "; the spline is removed"));
      if (fix_ && s.fitPoints.size() >= 2) {
        s.controlPoints.clear();
        s.knots.clear();
        s.weights.clear();
      }
      return s.fitPoints.size() >= 2;
    }
    if (n == 0 && s.fitPoints.size() < 2) {
      report("bad-spline", h, "controlPoints", true, "spline without control or fit points is removed");
      return false;
    }
    return true;
  }

  // What the walk over every block's entities (entities()) saw of each
  // entity for the later checks, so that these read only the entities that
  // concern them (a large drawing's entities are read once, not thrice).
  // Entities made after the walk are not in it: they are always read.
  static constexpr std::uint8_t kInserts = 1;    // an insert (block cycles)
  static constexpr std::uint8_t kNamesMore = 2;  // something for references()
  static std::uint8_t whatItNames(const Entity& e) {
    std::uint8_t what = get_if<Insert>(&e.data) != nullptr ? kInserts : 0;
    const EntityExtras* extras = e.common.extrasIfAny();
    if ((extras != nullptr && !extras->reactors.empty()) || e.common.xdictionary != 0 ||
        get_if<Leader>(&e.data) != nullptr || get_if<Viewport>(&e.data) != nullptr ||
        get_if<MText>(&e.data) != nullptr || get_if<Spline>(&e.data) != nullptr)
      what |= kNamesMore;
    return what;
  }
  std::vector<std::uint8_t> walked_;

  Database& db_;
  bool fix_;
  std::vector<Finding> findings_;
  std::vector<EntityId> unblockedDimensions_;
};

}  // namespace

std::vector<Finding> audit(Database& db, const AuditOptions& options) { return Auditor(db, options).run(); }

}  // namespace drawingdb

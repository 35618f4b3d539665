// The DXF reader: sections into a Database, each object's groups given to
// the fields of its declaration.  Groups and objects it does not model are
// kept as read; anything malformed stops the reading with a status, never
// with a crash.
#include <set>
#include <type_traits>
#include <unordered_map>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_fields.h"
#include "drawingdb/dxf_tags.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

bool is(const Tag& t, int code, std::string_view text) { return t.code == code && t.text == text; }

class DxfReader {
 public:
  // `input` is the file held in memory (std::string_view) or a
  // ByteSource& to read it from in pieces.
  template <class Input>
  DxfReader(Input&& input, Database& db, std::vector<Finding>& findings)
      : tags_(input), db_(db), findings_(findings) {
    settleCodePage();
  }
  DxfReader(ByteSource& source, std::size_t buffer, Database& db, std::vector<Finding>& findings)
      : tags_(source, buffer), db_(db), findings_(findings) {
    settleCodePage();
  }

  Status read() {
    Tag t;
    bool sawEof = false;
    while (tags_.next(t)) {
      if (is(t, 0, "EOF")) {
        sawEof = true;
        break;
      }
      if (!is(t, 0, "SECTION")) {
        note("stray-group", 0, "group " + std::to_string(t.code) + " outside a section at " + where());
        continue;
      }
      if (!tags_.next(t)) break;
      const std::string name(t.text);
      if (t.code != 2) {
        tags_.pushBack();
        note("unnamed-section", 0, "section without a name at " + where());
        skipSection();
      } else if (name == "HEADER") {
        header();
      } else if (name == "CLASSES") {
        classes();
      } else if (name == "TABLES") {
        tables();
      } else if (name == "BLOCKS") {
        blocks();
      } else if (name == "ENTITIES") {
        entities();
      } else if (name == "OBJECTS") {
        objects();
      } else {
        note("unknown-section", 0, "section " + name + " skipped");
        skipSection();
      }
      if (!supported_) break;
    }
    if (!tags_.status().ok()) return tags_.status();
    if (!supported_)
      return Status::fail(StatusCode::NotSupported, "DXF files of version " + version_ + " cannot be read");
    if (!sawEof) note("no-eof", 0, "the file ends without EOF");
    if (const std::size_t n = tags_.codePage().undecodable(); n > 0)
      note("undecodable-text", 0,
           std::to_string(n) + " characters of the text could not be read in " +
               (tags_.codePage().kind() == CodePage::Kind::Utf8 ? std::string("UTF-8") : std::string(tags_.codePage().name())) +
               " and became U+FFFD");
    finish();
    return {};
  }

 private:
  std::string where() const {
    return (tags_.binary() ? "byte " : "line ") + std::to_string(tags_.position());
  }
  void note(std::string code, Handle h, std::string detail, std::string field = {}) {
    findings_.push_back({std::move(code), h, std::move(field), false, std::move(detail)});
  }

  void skipSection() {
    Tag t;
    while (tags_.next(t))
      if (is(t, 0, "ENDSEC")) return;
  }

  // Reads up to the next group 0 (left for the caller), handing each
  // group to `take`.
  template <class F>
  void groups(F&& take) {
    Tag t;
    while (tags_.next(t)) {
      if (t.code == 0) {
        tags_.pushBack();
        return;
      }
      take(t);
    }
  }

  // ------------------------------------------------------------ header
  void header() {
    Tag t;
    while (tags_.next(t)) {
      if (t.code == 0) {
        if (t.text != "ENDSEC") tags_.pushBack();
        return;
      }
      if (t.code != 9) continue;
      const std::string name(t.text);
      std::vector<RawTag> values;
      while (tags_.next(t)) {
        if (t.code == 0 || t.code == 9) {
          tags_.pushBack();
          break;
        }
        values.push_back(rawTagOf(t));
      }
      variable(name, values);
    }
  }

  void variable(const std::string& name, const std::vector<RawTag>& values) {
    if (name == "$ACADVER" && !values.empty()) {
      version_ = values.front().text;
      const auto r = releaseFromVersion(version_);
      if (!r || !can(*r, kReadDxf)) {
        supported_ = false;
        return;
      }
      release_ = *r;
      settleCodePage();
    }
    if (name == "$DWGCODEPAGE" && !values.empty()) {
      codePageName_ = values.front().text;
      settleCodePage();
      if (!tags_.codePage().known() && release_ < Release::R2007)
        note("unknown-code-page", 0, "code page " + codePageName_ + " is not known: its text is kept as it stands in the file",
             "$DWGCODEPAGE");
    }
    const int index = headerVarIndex(name);
    if (index < 0) {
      db_.header.unknown.push_back({name, values});
      return;
    }
    if (values.empty()) return;
    const HeaderVar& v = headerVars()[static_cast<std::size_t>(index)];
    HeaderValue& out = db_.header.valueAt(static_cast<std::size_t>(index));
    const RawTag& first = values.front();
    const double real = first.type == TagType::Real ? first.real : static_cast<double>(first.integer);
    switch (v.kind) {
      case ValueKind::Real: out = real; break;
      case ValueKind::Int: out = first.type == TagType::Real ? clampInt32(real) : clampInt32(first.integer); break;
      case ValueKind::Text: out = first.text; break;
      case ValueKind::Handle: out = static_cast<Handle>(first.integer); break;
      case ValueKind::Bool: out = first.integer != 0; break;
      case ValueKind::Point: {
        Point3 p;
        for (const RawTag& g : values) {
          const double d = g.type == TagType::Real ? g.real : static_cast<double>(g.integer);
          if (g.code == v.code) p.x = d;
          else if (g.code == v.code + 10) p.y = d;
          else if (g.code == v.code + 20) p.z = d;
        }
        out = p;
        break;
      }
    }
  }

  // The text of files from 2007 on is UTF-8, that of older ones in the
  // code page their header names (ANSI_1252 until it names one).
  void settleCodePage() {
    if (release_ >= Release::R2007) tags_.setCodePage(CodePage::utf8());
    else tags_.setCodePage(CodePage::named(codePageName_.empty() ? std::string_view("ANSI_1252") : codePageName_));
  }

  // ------------------------------------------------------------ classes
  void classes() {
    Tag t;
    while (tags_.next(t)) {
      if (is(t, 0, "ENDSEC")) return;
      if (!is(t, 0, "CLASS")) continue;
      ClassDef c;
      c.application.clear();
      groups([&](const Tag& g) {
        switch (g.code) {
          case 1: c.dxfName = g.text; break;
          case 2: c.className = g.text; break;
          case 3: c.application = g.text; break;
          case 90: c.flags = clampInt32(g.integer); break;
          case 91: c.instances = clampInt32(g.integer); break;
          case 280: c.wasProxy = g.integer != 0; break;
          case 281: c.isEntity = g.integer != 0; break;
          default: break;
        }
      });
      db_.classes.push_back(std::move(c));
    }
  }

  // ------------------------------------------------------------ tables
  void tables() {
    Tag t;
    while (tags_.next(t)) {
      if (is(t, 0, "ENDSEC")) return;
      if (!is(t, 0, "TABLE")) continue;
      std::string name;
      Handle handle = 0;
      TableHead head;
      bool ownerSeen = false, inXdata = false;
      groups([&](const Tag& g) {
        if (inXdata || g.code >= 1000) {
          inXdata = true;
          head.xdata.push_back(rawTagOf(g));
        } else if (g.code == 2 && name.empty()) {
          name = g.text;
        } else if ((g.code == 5 || g.code == 105) && handle == 0) {
          handle = static_cast<Handle>(g.integer);
        } else if (g.code == 102) {
          ownership(g, head.reactors, head.xdictionary, ownerSeen ? &head.extra : &head.applications);
        } else if (g.code == 330 && !ownerSeen) {
          ownerSeen = true;
        } else if (g.code == 340 && name == "DIMSTYLE") {
          head.records.push_back(static_cast<Handle>(g.integer));
        } else if (g.code == 100 || g.code == 70 || (g.code == 71 && name == "DIMSTYLE")) {
          // subclasses and counts: written from what the table holds
        } else {
          head.extra.push_back(rawTagOf(g));
        }
      });
      auto take = [&](auto& t) {
        t.head = std::move(head);
        table(t, handle);
      };
      if (name == "VPORT") take(db_.vports);
      else if (name == "LTYPE") take(db_.linetypes);
      else if (name == "LAYER") take(db_.layers);
      else if (name == "STYLE") take(db_.styles);
      else if (name == "VIEW") take(db_.views);
      else if (name == "UCS") take(db_.ucs);
      else if (name == "APPID") take(db_.appids);
      else if (name == "DIMSTYLE") take(db_.dimstyles);
      else if (name == "BLOCK_RECORD") {
        db_.blockTableHead = std::move(head);
        blockRecords(handle);
      } else {
        note("unknown-table", handle, "table " + name + " skipped");
        skipTo("ENDTAB");
      }
    }
  }

  void skipTo(std::string_view end) {
    Tag t;
    while (tags_.next(t))
      if (is(t, 0, end)) return;
  }

  // Groups of the 102 "{NAME" ... "}" brackets; appended to `out` when given.
  void bracket(const Tag& open, std::vector<RawTag>* out) {
    if (out) out->push_back(rawTagOf(open));
    Tag t;
    while (tags_.next(t)) {
      if (t.code == 0) {
        tags_.pushBack();
        return;
      }
      if (out) out->push_back(rawTagOf(t));
      if (t.code == 102) return;
    }
  }

  // A 102 bracket of an entity, table record or object: the reactors and
  // the extension dictionary go to their members, any other application's
  // groups to `other` when given (those before the owner to the head's
  // list of applications, later ones to the groups kept in place).
  void ownership(const Tag& open, std::vector<Handle>& reactors, Handle& xdictionary, std::vector<RawTag>* other) {
    ownership(open, [&]() -> std::vector<Handle>& { return reactors; }, xdictionary, other);
  }
  // The same, the list of reactors asked of `reactors()` when there is one
  // (an entity keeps it out of line).
  template <class Reactors>
    requires std::is_invocable_v<Reactors>
  void ownership(const Tag& open, Reactors&& reactors, Handle& xdictionary, std::vector<RawTag>* other) {
    if (open.text == "{ACAD_REACTORS" || open.text == "{ACAD_XDICTIONARY") {
      const bool reactorList = open.text == "{ACAD_REACTORS";
      Tag t;
      while (tags_.next(t)) {
        if (t.code == 0) {
          tags_.pushBack();
          return;
        }
        if (t.code == 102) return;
        if (reactorList && t.code >= 330 && t.code <= 369 && t.integer != 0)
          reactors().push_back(static_cast<Handle>(t.integer));
        else if (!reactorList && t.code >= 330 && t.code <= 369 && xdictionary == 0)
          xdictionary = static_cast<Handle>(t.integer);
      }
      return;
    }
    bracket(open, other);
  }

  template <class R>
  void table(SymbolTable<R>& table, Handle handle) {
    table.handle = handle;
    const RecordSpec& spec = recordSpec<R>();
    Tag t;
    while (tags_.next(t)) {
      if (t.code != 0) continue;
      if (t.text == "ENDTAB") return;
      if (t.text == "ENDSEC") {
        tags_.pushBack();
        return;
      }
      Record<R> rec;
      FieldReader<R> fields(fieldsOf<R>());
      bool ownerSeen = false, nameSeen = false, flagsSeen = false, inXdata = false;
      Tag g;
      while (tags_.next(g)) {
        if (g.code == 0) {
          tags_.pushBack();
          break;
        }
        if (inXdata || g.code >= 1000) {
          inXdata = true;
          rec.common.xdata.push_back(rawTagOf(g));
        } else if (g.code == spec.handleCode || (g.code == 5 && spec.handleCode == 5)) {
          rec.common.handle = static_cast<Handle>(g.integer);
        } else if (g.code == 102) {
          ownership(g, rec.common.reactors, rec.common.xdictionary, ownerSeen ? &rec.common.extra : &rec.common.applications);
        } else if (g.code == 330 && !ownerSeen) {
          ownerSeen = true;
        } else if (g.code == 100 && (g.text == "AcDbSymbolTableRecord" || g.text == spec.subclass)) {
        } else if (g.code == 2 && !nameSeen) {
          nameSeen = true;
          rec.common.name = g.text;
        } else if (g.code == 70 && !flagsSeen) {
          flagsSeen = true;
          rec.common.flags = clampInt32(g.integer);
        } else if (!fields.take(rec.data, g, tags_.remaining())) {
          rec.common.extra.push_back(rawTagOf(g));
        }
      }
      rec.common.owner = handle;
      table.records.push_back(std::move(rec));
    }
  }

  void blockRecords(Handle handle) {
    db_.blockTable = handle;
    Tag t;
    while (tags_.next(t)) {
      if (t.code != 0) continue;
      if (t.text == "ENDTAB") return;
      if (t.text == "ENDSEC") {
        tags_.pushBack();
        return;
      }
      BlockRecord b;
      bool ownerSeen = false, nameSeen = false, layoutSeen = false, inXdata = false;
      groups([&](const Tag& g) {
        if (inXdata || g.code >= 1000) {
          inXdata = true;
          b.recordXdata.push_back(rawTagOf(g));
        } else if (g.code == 5 && b.handle == 0) {
          b.handle = static_cast<Handle>(g.integer);
        } else if (g.code == 2 && !nameSeen) {
          nameSeen = true;
          b.name = g.text;
        } else if (g.code == 340 && !layoutSeen) {
          layoutSeen = true;
          b.layout = static_cast<Handle>(g.integer);
        } else if (g.code == 102) {
          ownership(g, b.reactors, b.xdictionary, ownerSeen ? &b.recordExtra : &b.applications);
        } else if (g.code == 330 && !ownerSeen) {
          ownerSeen = true;
        } else if (g.code != 100 || (g.text != "AcDbSymbolTableRecord" && g.text != "AcDbBlockTableRecord")) {
          b.recordExtra.push_back(rawTagOf(g));
        }
      });
      db_.blocks.push_back(std::move(b));
    }
  }

  // ------------------------------------------------------------ blocks
  // The model or paper space block, made when the file has none.  Where it
  // is is kept, as every entity of the ENTITIES section asks for it.
  BlockRecord& layoutBlock(bool paper) {
    const auto isLayout = [paper](const BlockRecord& b) {
      return paper ? (sameName(b.name, "*Paper_Space") || sameName(b.name, "$PAPER_SPACE"))
                   : (sameName(b.name, "*Model_Space") || sameName(b.name, "$MODEL_SPACE"));
    };
    std::size_t& at = layoutBlocks_[paper ? 1 : 0];
    if (at < db_.blocks.size() && isLayout(db_.blocks[at])) return db_.blocks[at];
    for (at = 0; at < db_.blocks.size(); ++at)
      if (isLayout(db_.blocks[at])) return db_.blocks[at];
    db_.blocks.emplace_back();
    db_.blocks.back().name = paper ? "*Paper_Space" : "*Model_Space";
    return db_.blocks.back();
  }

  void blocks() {
    // The blocks' records by handle (the last with each) and those still
    // without a BLOCK by name (upper-cased), so matching is not a search.
    std::unordered_map<Handle, std::size_t> byHandle;
    std::unordered_map<std::string, std::set<std::size_t>> waiting;
    for (std::size_t i = 0; i < db_.blocks.size(); ++i) {
      if (db_.blocks[i].handle != 0) byHandle[db_.blocks[i].handle] = i;
      if (db_.blocks[i].blockHandle == 0) waiting[foldedName(db_.blocks[i].name)].insert(i);
    }
    // Names given to records below change what lookups by name see.
    db_.namesChanged();
    Tag t;
    while (tags_.next(t)) {
      if (is(t, 0, "ENDSEC")) return;
      if (!is(t, 0, "BLOCK")) continue;
      BlockRecord head;
      Handle owner = 0;
      // The BLOCK entity's common groups and what it has that the toolkit
      // does not model; its layer is the block's.
      EntityCommon own;
      own.layer = names_(head.layer);
      bool ownerSeen = false, specific = false, inXdata = false;
      const auto reactors = [&]() -> std::vector<Handle>& { return own.extras().reactors; };
      groups([&](const Tag& g) {
        if (inXdata || g.code >= 1000) {
          inXdata = true;
          own.extras().xdata.push_back(rawTagOf(g));
          return;
        }
        switch (g.code) {
          case 5: head.blockHandle = static_cast<Handle>(g.integer); return;
          case 330:
            if (ownerSeen) break;
            owner = static_cast<Handle>(g.integer);
            ownerSeen = true;
            return;
          case 102: ownership(g, reactors, own.xdictionary, ownerSeen ? &own.extras().extra : &own.extras().applications); return;
          case 100:
            if (g.text == "AcDbBlockBegin") specific = true;
            if (g.text == "AcDbEntity" || g.text == "AcDbBlockBegin") return;
            break;
          case 2: head.name = g.text; return;
          case 70: head.flags = clampInt32(g.integer); return;
          case 10: head.base.x = realOf(g); return;
          case 20: head.base.y = realOf(g); return;
          case 30: head.base.z = realOf(g); return;
          case 1: head.xrefPath = g.text; return;
          case 4: head.description = g.text; return;
          case 3: case 67: return;  // the name again; paper space follows from the name
          default:
            if (common(own, g, ownerSeen, specific)) return;
            break;
        }
        own.extras().extra.push_back(rawTagOf(g));
      });
      head.layer = own.layer.str();
      head.blockGroups.keep(std::move(own), head.layer);
      // The block's record: by its handle, else the last of that name
      // without a BLOCK yet, else a new one.
      std::size_t index = db_.blocks.size();
      if (const auto it = byHandle.find(owner); owner != 0 && it != byHandle.end()) index = it->second;
      if (index == db_.blocks.size()) {
        if (const auto it = waiting.find(foldedName(head.name)); it != waiting.end()) {
          std::set<std::size_t>& list = it->second;
          while (!list.empty() && (db_.blocks[*list.rbegin()].blockHandle != 0 || !sameName(db_.blocks[*list.rbegin()].name, head.name)))
            list.erase(std::prev(list.end()));
          if (!list.empty()) index = *list.rbegin();
        }
      }
      if (index == db_.blocks.size()) db_.blocks.emplace_back();
      {
        BlockRecord& b = db_.blocks[index];
        if (b.name.empty()) b.name = head.name;
        b.blockHandle = head.blockHandle;
        if (b.blockHandle == 0) waiting[foldedName(b.name)].insert(index);
        b.layer = head.layer;
        b.flags = head.flags;
        b.base = head.base;
        b.xrefPath = head.xrefPath;
        b.description = head.description;
        b.blockGroups = std::move(head.blockGroups);
      }
      while (tags_.next(t)) {
        if (t.code != 0) continue;
        if (t.text == "ENDBLK") {
          BlockRecord& b = db_.blocks[index];
          b.endHandle = 0;
          follower(b.endHandle, b.endGroups, b.layer, [](const Tag& g) {
            return g.code == 100 && (g.text == "AcDbEntity" || g.text == "AcDbBlockEnd");
          });
          break;
        }
        if (t.text == "ENDSEC" || t.text == "BLOCK" || t.text == "EOF") {
          note("block-without-end", db_.blocks[index].handle, "block " + db_.blocks[index].name + " has no ENDBLK");
          tags_.pushBack();
          break;
        }
        const EntityId id = entity(std::string(t.text));
        db_.blocks[index].entities.push_back(id);
      }
    }
  }

  // Calls `read` with the type name of each record of a section, up to its
  // ENDSEC; an EOF is left for the caller.
  template <class Read>
  void sectionRecords(Read&& read) {
    Tag t;
    while (tags_.next(t)) {
      if (t.code != 0) continue;
      if (t.text == "ENDSEC") return;
      if (t.text == "EOF") {
        tags_.pushBack();
        return;
      }
      read(std::string(t.text));
    }
  }

  // ------------------------------------------------------------ entities
  void entities() {
    sectionRecords([&](const std::string& name) {
      const EntityId id = entity(name);
      layoutBlock(db_.entities[id].common.paperSpace).entities.push_back(id);
    });
  }

  // Reads one entity (its "0 NAME" read already) and what belongs to it:
  // the vertices of a polyline, the attributes of an insert.
  EntityId entity(const std::string& name) {
    bool known = false;
    EntityKind kind = entityKindOf(name, &known);
    if (name == "3DLINE") kind = EntityKind::Line, known = true;
    Entity e = makeEntity(kind);
    e.setDxfName(name);
    e.readIn = release_;
    bool ownerSeen = false, specific = false, inXdata = false, attributesFollow = false;
    const auto reactors = [&]() -> std::vector<Handle>& { return e.common.extras().reactors; };
    visit(Overloaded{
                   [&](UnknownEntity& u) {
                     groups([&](const Tag& g) {
                       if (inXdata || g.code >= 1000) {
                         inXdata = true;
                         e.common.extras().xdata.push_back(rawTagOf(g));
                       } else if (!common(e.common, g, ownerSeen, specific)) {
                         if (g.code == 100) specific = true;
                         if (g.code == 102) ownership(g, reactors, e.common.xdictionary, ownerSeen ? &u.tags : &e.common.extras().applications);
                         else u.tags.push_back(rawTagOf(g));
                       }
                     });
                   },
                   [&](auto& data) {
                     using T = std::decay_t<decltype(data)>;
                     FieldReader<T> fields(fieldsOf<T>(), &names_);
                     groups([&](const Tag& g) {
                       if (inXdata || g.code >= 1000) {
                         inXdata = true;
                         e.common.extras().xdata.push_back(rawTagOf(g));
                       } else if (g.code == 66) {
                         attributesFollow = g.integer != 0;
                       } else if (!common(e.common, g, ownerSeen, specific)) {
                         if (g.code == 100) specific = true;
                         if (g.code == 102) ownership(g, reactors, e.common.xdictionary, ownerSeen ? &e.common.extras().extra : &e.common.extras().applications);
                         else if (!fields.take(data, g, tags_.remaining())) e.common.extras().extra.push_back(rawTagOf(g));
                       }
                     });
                     // Counts stated in the file that the elements did
                     // not match: the elements read are kept.
                     for (const auto& m : fields.countMismatches(data))
                       note("count-mismatch", e.common.handle,
                            name + " states " + std::to_string(m.stated) + " " + std::string(m.member) + " and has " +
                                std::to_string(m.found),
                            std::string(m.member));
                   },
               },
               e.data);
    std::vector<std::string> frozenLayers = settleAfterRead(e);
    const auto id = static_cast<EntityId>(db_.entities.size());
    if (!frozenLayers.empty()) frozenLayerNames_.emplace_back(id, std::move(frozenLayers));
    db_.entities.push_back(std::move(e));
    if (kind == EntityKind::Polyline) vertices(id);
    if (kind == EntityKind::Insert && attributesFollow) attributes(id);
    return id;
  }

  // The groups every entity has; false when `g` is not one of them.
  bool common(EntityCommon& c, const Tag& g, bool& ownerSeen, bool specific) {
    switch (g.code) {
      case 5:
        if (c.handle != 0) return false;
        c.handle = static_cast<Handle>(g.integer);
        return true;
      case 330:
        // The owner stands before the kind's own groups; later 330 groups
        // are references of the kind (a hatch's source entities).
        if (ownerSeen || specific) return false;
        ownerSeen = true;
        c.owner = static_cast<Handle>(g.integer);
        return true;
      case 100:
        return g.text == "AcDbEntity";
      default:
        break;
    }
    // In files with subclasses the common groups stand in AcDbEntity,
    // before the kind's own subclass.
    if (specific) return false;
    switch (g.code) {
      case 8: c.layer = names_(g.text); return true;
      case 6: c.linetype = names_(g.text); return true;
      case 62: c.colour = clampInt32(g.integer); return true;
      case 370: c.lineweight = clampInt32(g.integer); return true;
      case 48: c.linetypeScale = realOf(g); return true;
      case 60: c.invisible = g.integer != 0; return true;
      case 67: c.paperSpace = g.integer != 0; return true;
      default: return false;
    }
  }

  // Reads the groups of a follower (VERTEX, SEQEND, ENDBLK; its "0 NAME"
  // read already) up to the next group 0: its handle into `handle`, its
  // common groups and what it has that the toolkit does not model into
  // `own` (kept where they say more than that it is on `headLayer`), and
  // every other group to `take`, which tells whether it knew the group.
  template <class Take>
  void follower(Handle& handle, FollowerGroups& own, std::string_view headLayer, Take&& take) {
    EntityCommon c;
    c.layer = names_(headLayer);
    bool ownerSeen = false, specific = false, inXdata = false;
    const auto reactors = [&]() -> std::vector<Handle>& { return c.extras().reactors; };
    groups([&](const Tag& g) {
      if (inXdata || g.code >= 1000) {
        inXdata = true;
        c.extras().xdata.push_back(rawTagOf(g));
      } else if (g.code == 5 && handle == 0) {
        handle = static_cast<Handle>(g.integer);
      } else if (g.code == 102) {
        ownership(g, reactors, c.xdictionary, ownerSeen ? &c.extras().extra : &c.extras().applications);
      } else if (!common(c, g, ownerSeen, specific)) {
        if (g.code == 100) specific = true;
        if (!take(g)) c.extras().extra.push_back(rawTagOf(g));
      }
    });
    own.keep(std::move(c), headLayer);
  }

  // A SEQEND: its handle and its own groups.
  void sequenceEnd(Handle& handle, FollowerGroups& own, std::string_view headLayer) {
    handle = 0;
    follower(handle, own, headLayer, [](const Tag&) { return false; });
    ++followers_;
  }

  void vertices(EntityId id) {
    const Name headLayer = db_.entities[id].common.layer;
    Tag t;
    while (tags_.next(t)) {
      if (is(t, 0, "VERTEX")) {
        Vertex v;
        FieldReader<Vertex> fields(fieldsOf<Vertex>());
        follower(v.handle, v.own, headLayer, [&](const Tag& g) { return fields.take(v, g, tags_.remaining()); });
        get<Polyline>(db_.entities[id].data).vertices.push_back(std::move(v));
        ++followers_;
      } else if (is(t, 0, "SEQEND")) {
        Polyline& p = get<Polyline>(db_.entities[id].data);
        sequenceEnd(p.seqend, p.seqendGroups, headLayer);
        return;
      } else {
        tags_.pushBack();
        note("no-seqend", db_.entities[id].common.handle, "polyline without SEQEND");
        return;
      }
    }
  }

  void attributes(EntityId id) {
    Tag t;
    while (tags_.next(t)) {
      if (is(t, 0, "SEQEND")) {
        const Name headLayer = db_.entities[id].common.layer;
        Insert& ins = get<Insert>(db_.entities[id].data);
        sequenceEnd(ins.seqend, ins.seqendGroups, headLayer);
        return;
      }
      if (t.code == 0 && t.text == "ATTRIB") {
        const EntityId a = entity("ATTRIB");
        get<Insert>(db_.entities[id].data).attributes.push_back(a);
        continue;
      }
      tags_.pushBack();
      note("no-seqend", db_.entities[id].common.handle, "insert attributes without SEQEND");
      return;
    }
  }

  // ------------------------------------------------------------ objects
  void objects() {
    sectionRecords([&](const std::string& name) { object(name); });
  }

  void object(const std::string& name) {
    Object o;
    o.dxfName = name;
    o.readIn = release_;
    std::vector<RawTag> body;  // every group after the owner
    bool ownerSeen = false;
    groups([&](const Tag& g) {
      if (g.code == 5 && o.handle == 0 && !ownerSeen) o.handle = static_cast<Handle>(g.integer);
      else if (g.code == 102 && !ownerSeen) ownership(g, o.reactors, o.xdictionary, &o.extra);
      else if (g.code == 330 && !ownerSeen) {
        ownerSeen = true;
        o.owner = static_cast<Handle>(g.integer);
      } else {
        body.push_back(rawTagOf(g));
      }
    });
    // Dictionaries and layouts are modelled when every group found its
    // field; otherwise the object is kept whole as read.
    auto model = [&](auto data) -> bool {
      using T = decltype(data);
      FieldReader<T> fields(fieldsOf<T>());
      for (const RawTag& r : body)
        if (!fields.take(data, tagOf(r), tags_.remaining())) return false;
      o.data = std::move(data);
      return true;
    };
    if (name == "DICTIONARY" && model(Dictionary{})) o.kind = ObjectKind::Dictionary;
    else if (name == "LAYOUT" && model(Layout{})) o.kind = ObjectKind::Layout;
    else if (name == "GROUP" && model(Group{})) o.kind = ObjectKind::Group;
    else {
      o.kind = ObjectKind::Unknown;
      o.data = UnknownObject{std::move(body), {}, {}};
    }
    if (db_.objects.empty() && o.kind == ObjectKind::Dictionary) db_.rootDictionary = o.handle;
    db_.objects.push_back(std::move(o));
  }

  // ------------------------------------------------------------ finish
  void finish() {
    db_.release = release_;
    db_.header.unknownFrom = release_;
    layoutBlock(false);
    layoutBlock(true);
    // Handles: those of the file stay unless taken twice; the rest get new
    // ones above the file's seed.  The index is built on the way.
    // The index is built on the way, with room for what was read.
    std::size_t records = 0;
    for (std::size_t n : {db_.vports.records.size(), db_.linetypes.records.size(), db_.layers.records.size(),
                          db_.styles.records.size(), db_.views.records.size(), db_.ucs.records.size(),
                          db_.appids.records.size(), db_.dimstyles.records.size()})
      records += n;
    db_.clearIndex(9 + records + 3 * db_.blocks.size() + db_.entities.size() + followers_ + db_.objects.size());
    Handle highest = 0;
    bool unset = false;
    db_.forEachHandleRef([&](Handle& h, HandleRef ref) {
      if (h == 0) {
        unset = true;
        return;
      }
      if (!db_.claim(h, ref)) {
        note("duplicate-handle", h, "handle " + formatHandle(h) + " is used twice; the second use gets a new one");
        h = 0;
        unset = true;
        return;
      }
      highest = std::max(highest, h);
    });
    db_.raiseSeed(std::max(highest + 1, db_.header.handle("$HANDSEED")));
    if (unset)
      db_.forEachHandleRef([&](Handle& h, HandleRef ref) {
        if (h != 0) return;
        h = db_.newHandle();
        db_.claim(h, ref);
      });
    // A dimension that names no style (files before R12 have no group for
    // it, later ones may leave it out) has the default one; where the
    // drawing has no such record, it takes the drawing's current style.
    const std::string current = db_.header.text("$DIMSTYLE");
    if (!db_.dimstyles.records.empty() && db_.dimstyles.find(Dimension{}.style) == nullptr &&
        db_.dimstyles.find(current) != nullptr)
      for (Entity& e : db_.entities)
        if (auto* d = get_if<Dimension>(&e.data); d != nullptr && sameName(d->style, Dimension{}.style))
          d->style = db_.dimstyles.find(current)->common.name;
    frozenLayers();
    // Owners follow the structure: an entity belongs to the block that
    // lists it (files before R13 name no owners).
    for (BlockRecord& b : db_.blocks)
      for (EntityId id : b.entities) db_.entities[id].common.owner = b.handle;
  }

  // The layers frozen in viewports of files before 2000 are named; now
  // that every layer record has a handle they become handles.
  void frozenLayers() {
    if (frozenLayerNames_.empty()) return;
    std::unordered_map<std::string, Handle> layers;
    for (const Record<Layer>& r : db_.layers.records) {
      std::string key = r.common.name;
      for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      layers.emplace(std::move(key), r.common.handle);
    }
    for (auto& [id, names] : frozenLayerNames_) {
      Entity& e = db_.entities[id];
      auto& handles = get<Viewport>(e.data).frozenLayers;
      for (std::string& n : names) {
        std::string key = n;
        for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        const auto it = layers.find(key);
        if (it != layers.end()) handles.push_back(it->second);
        else note("undefined-layer", e.common.handle, "viewport freezes layer " + n + ", which is not in the layer table");
      }
    }
  }

  TagReader tags_;
  Database& db_;
  NameTable names_;  // layers, linetypes, blocks and styles of entities, each held once
  std::vector<std::pair<EntityId, std::vector<std::string>>> frozenLayerNames_;
  std::size_t followers_ = 0;  // vertices and sequence ends read
  std::size_t layoutBlocks_[2] = {SIZE_MAX, SIZE_MAX};  // model and paper space in db_.blocks, as last found
  std::vector<Finding>& findings_;
  Release release_ = Release::R12;  // files without $ACADVER read as R12
  std::string version_;
  std::string codePageName_;  // as $DWGCODEPAGE gives it
  bool supported_ = true;
};

}  // namespace

DxfReadResult readDxf(std::string_view file, Database& db) {
  DxfReadResult result;
  DxfReader reader(file, db, result.findings);
  result.status = reader.read();
  return result;
}

DxfReadResult readDxf(ByteSource& source, Database& db, std::size_t buffer) {
  DxfReadResult result;
  DxfReader reader(source, buffer, db, result.findings);
  result.status = reader.read();
  return result;
}

}  // namespace drawingdb

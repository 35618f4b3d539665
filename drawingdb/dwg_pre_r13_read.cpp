// Reading DWG files of 2.5 to 11/12 (layout in dwg_pre_r13_layout.h).
//
// Nothing in the file is trusted: the version names the release, the
// count at 0x11 where the header variables end, and every section address,
// table descriptor and entity length is checked against the file before
// it is used.  Tables are read first (entities name their records by
// number), then the block-definition section (so that inserts find their
// blocks), then the entity section.  A JUMP record moves the walk to
// another place of the entity or extras section; a place reached twice
// ends the read (a loop).  In files of 11/12 an entity of the entity
// section flagged with the extra byte belongs to paper space; its extended
// data names its applications by their APPID record.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "drawingdb/annotation_forms.h"
#include "drawingdb/code_page.h"
#include "drawingdb/dwg_bits.h"
#include "drawingdb/dwg_pre_r13.h"
#include "drawingdb/dwg_pre_r13_layout.h"
#include "drawingdb/schema.h"

namespace drawingdb {
namespace {

using namespace prer13;

std::string hexAt(std::size_t at) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zX", at);
  return text;
}

double degrees(double radians) { return radians * 180 / std::numbers::pi; }

// A bounded view of the file: every read past `end` fails and leaves the
// cursor failed, reading zeros.
class Cursor {
 public:
  Cursor(std::string_view file, std::size_t pos, std::size_t end) : file_(file), pos_(pos), end_(std::min(end, file.size())) {}

  bool failed() const { return failed_; }
  std::size_t pos() const { return pos_; }

  std::string_view take(std::size_t n) {
    if (failed_ || pos_ > end_ || end_ - pos_ < n) {
      failed_ = true;
      return {};
    }
    const std::string_view out = file_.substr(pos_, n);
    pos_ += n;
    return out;
  }
  std::uint8_t rc() {
    const std::string_view b = take(1);
    return b.empty() ? 0 : static_cast<std::uint8_t>(b[0]);
  }
  std::uint16_t rs() { return static_cast<std::uint16_t>(little(take(2))); }
  std::int16_t signedRs() { return static_cast<std::int16_t>(rs()); }
  std::uint32_t rl() { return static_cast<std::uint32_t>(little(take(4))); }
  double rd() {
    const std::uint64_t bits = little(take(8));
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return std::isfinite(d) ? d : 0;
  }
  Point3 point2(double z = 0) {
    const double x = rd();
    const double y = rd();
    return {x, y, z};
  }
  Point3 point3() {
    const double x = rd();
    const double y = rd();
    return {x, y, rd()};
  }
  // A text of an entity: RS length and the bytes, up to a NUL.
  std::string_view tv() {
    const std::string_view b = take(rs());
    return b.substr(0, b.find('\0'));
  }

 private:
  static std::uint64_t little(std::string_view b) {
    std::uint64_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = (v << 8) | static_cast<std::uint8_t>(b[i]);
    return v;
  }

  std::string_view file_;
  std::size_t pos_;
  std::size_t end_;
  bool failed_ = false;
};

// A fixed-size zero-padded name field.
std::string_view fixedText(std::string_view field) { return field.substr(0, field.find('\0')); }

struct Descriptor {
  std::uint16_t size = 0;
  std::uint16_t count = 0;
  std::uint32_t address = 0;
};

// A record of a table: its name (empty when deleted) and its bytes after
// the name (and after "used" in 11/12), without the CRC.
struct RawRecord {
  std::uint8_t flags = 0;
  std::string name;
  bool deleted = false;
  std::string_view body;
};

// The sequence an entity opens: a polyline collecting its vertices, an
// insert its attributes.
struct OpenSequence {
  std::optional<Entity> polyline;
  std::optional<EntityId> insert;
  BlockRecord* owner = nullptr;
};

class PreR13Reader {
 public:
  PreR13Reader(std::string_view file, Database& db, std::vector<Finding>& findings)
      : file_(file), db_(db), findings_(findings), page_(CodePage::named("ANSI_1252")) {}

  Status read() {
    if (Status s = fixedHeader(); !s.ok()) return s;
    if (Status s = tables(); !s.ok()) return s;
    variables();
    if (Status s = blockSection(); !s.ok()) return s;
    if (Status s = walk(entities_, false); !s.ok()) return s;
    db_.completeFor(release_);
    for (BlockRecord& b : db_.blocks)
      for (EntityId id : b.entities) db_.entities[id].common.owner = b.handle;
    return {};
  }

 private:
  struct Section {
    std::size_t begin = 0, end = 0;
  };

  Status bad(std::string what) { return Status::fail(StatusCode::BadFile, std::move(what)); }
  void note(const char* code, std::string what) { findings_.push_back({code, 0, "", false, std::move(what)}); }

  std::uint16_t rsAt(std::size_t at) const { return Cursor(file_, at, file_.size()).rs(); }
  std::uint32_t rlAt(std::size_t at) const { return Cursor(file_, at, file_.size()).rl(); }

  bool sentinelAt(std::size_t at, const std::array<std::uint8_t, 16>& s) const {
    return at <= file_.size() && file_.size() - at >= 16 && std::memcmp(file_.data() + at, s.data(), 16) == 0;
  }

  // ------------------------------------------------------------ header

  Status fixedHeader() {
    const std::optional<Release> r = releaseFromVersion(file_.substr(0, 6));
    layout_ = r ? layoutOf(*r) : nullptr;
    if (layout_ == nullptr) return bad("not a DWG file of 2.5 to 11/12");
    release_ = *r;
    if (file_.size() < kVariablesStart) return bad("the file ends within its fixed header");
    count_ = rsAt(0x11);
    const std::size_t end = variablesEnd(count_);
    if (end == 0) return bad("no release stores " + std::to_string(count_) + " header variables");
    if (layout_->sentinels != (count_ > 160)) return bad(std::to_string(count_) + " header variables do not belong to this release");
    variablesEnd_ = end;
    if (file_.size() < end) return bad("the file ends within its header variables (" + std::to_string(file_.size()) + " bytes)");
    if (layout_->sentinels) {
      if (file_.size() < end + 18) return bad("the file ends after its header variables");
      if (dwgCrc16(file_.substr(0, end)) != rsAt(end)) return bad("the CRC of the header variables does not match");
      if (!sentinelAt(end + 2, sentinel(Sentinel::Entities, false))) return bad("no entities sentinel after the header at " + hexAt(end + 2));
    }
    const std::size_t first = layout_->sentinels ? end + 18 : end;
    entities_ = {rlAt(kEntitiesStartAt), rlAt(kEntitiesEndAt)};
    const std::uint32_t blocksSize = rlAt(kBlocksSizeAt);
    const std::uint32_t extrasSize = rlAt(kExtrasSizeAt);
    blocks_ = {rlAt(kBlocksStartAt), 0};
    blocks_.end = blocks_.begin + (blocksSize & kSizeBits);
    extras_ = {rlAt(kExtrasStartAt), 0};
    extras_.end = extras_.begin + (extrasSize & kSizeBits);
    const struct {
      const char* name;
      Section s;
      Sentinel mark;
    } sections[] = {{"entity", entities_, Sentinel::Entities}, {"block", blocks_, Sentinel::Blocks}, {"extra entity", extras_, Sentinel::Extras}};
    for (const auto& s : sections) {
      if (s.s.begin < first || s.s.begin > s.s.end || s.s.end > file_.size())
        return bad(std::string("the ") + s.name + " section [" + hexAt(s.s.begin) + ", " + hexAt(s.s.end) +
                   ") lies outside the file (" + std::to_string(file_.size()) + " bytes)");
      if (layout_->sentinels && (!sentinelAt(s.s.begin - 16, sentinel(s.mark, false)) || !sentinelAt(s.s.end, sentinel(s.mark, true))))
        return bad(std::string("the sentinels of the ") + s.name + " section are missing");
    }
    return layout_->sentinels ? auxiliaryHeader() : Status{};
  }

  // The auxiliary header that ends a file of 11/12: within its sentinels,
  // under its CRC, the section addresses again.
  Status auxiliaryHeader() {
    const std::size_t whole = 16 + kAuxHeaderSize + 16;
    if (file_.size() < whole) return bad("the file has no auxiliary header");
    const std::size_t at = file_.size() - whole;
    if (!sentinelAt(at, sentinel(Sentinel::AuxHeader, false)) || !sentinelAt(file_.size() - 16, sentinel(Sentinel::AuxHeader, true)))
      return bad("the sentinels of the auxiliary header are missing");
    const std::string_view aux = file_.substr(at + 16, kAuxHeaderSize);
    Cursor c(file_, at + 16, at + 16 + kAuxHeaderSize);
    c.rs();
    c.rs();
    const std::size_t addresses[] = {c.rl(), c.rl(), c.rl(), c.rl()};
    if (dwgCrc16(aux.substr(0, kAuxHeaderSize - 2)) != rsAt(at + 16 + kAuxHeaderSize - 2))
      return bad("the CRC of the auxiliary header does not match");
    if (addresses[0] != entities_.begin || addresses[1] != entities_.end || addresses[2] != blocks_.begin ||
        addresses[3] != extras_.begin)
      return bad("the auxiliary header names other section addresses than the file header");
    return {};
  }

  // ------------------------------------------------------------ tables

  Status records(Table t, std::vector<RawRecord>& out) {
    if (!holdsTable(count_, t)) return {};
    Cursor c(file_, kDescriptorAt[t], file_.size());
    Descriptor d;
    d.size = c.rs();
    d.count = c.rs();
    c.rs();
    d.address = c.rl();
    const std::string name(kTableNames[t]);
    if (d.count == 0) return {};
    const std::uint16_t expected = layout_->recordSize[t];
    if (expected == 0) return bad("table " + name + " does not exist in this release");
    if (d.size != expected)
      return bad("table " + name + " states records of " + std::to_string(d.size) + " bytes; this release has " + std::to_string(expected));
    const std::uint64_t end = std::uint64_t{d.address} + std::uint64_t{d.count} * d.size;
    if (d.address < variablesEnd_ || end > file_.size())
      return bad("table " + name + " (" + std::to_string(d.count) + " records at " + hexAt(d.address) + ") runs past the end of the file");
    const bool eleven = layout_->sentinels;
    if (eleven && (d.address < 16 || !sentinelAt(d.address - 16, tableSentinel(t, false)) ||
                   !sentinelAt(static_cast<std::size_t>(end), tableSentinel(t, true))))
      return bad("the sentinels of table " + name + " are missing");
    for (std::size_t i = 0; i < d.count; ++i) {
      const std::size_t at = d.address + i * d.size;
      std::string_view bytes = file_.substr(at, d.size);
      if (eleven) {
        const std::uint16_t stored = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[d.size - 2]) |
                                                                (static_cast<std::uint8_t>(bytes[d.size - 1]) << 8));
        if (dwgCrc16(bytes.substr(0, d.size - 2)) != stored)
          return bad("the CRC of record " + std::to_string(i) + " of table " + name + " does not match");
        bytes.remove_suffix(2);
      }
      RawRecord r;
      r.flags = static_cast<std::uint8_t>(bytes[0]);
      std::string scratch;
      r.name = std::string(page_.decode(fixedText(bytes.substr(1, 32)), scratch));
      r.deleted = (r.flags & 0x80) != 0;
      r.body = bytes.substr(eleven ? 35 : 33);
      out.push_back(std::move(r));
    }
    return {};
  }

  std::string text(std::string_view bytes) {
    std::string scratch;
    return std::string(page_.decode(bytes, scratch));
  }

  // The records of a table into the database; `names` by record number
  // (empty for deleted ones).
  template <class R, class Fill>
  Status table(Table t, SymbolTable<R>& into, std::vector<std::string>& names, Fill&& fill) {
    std::vector<RawRecord> raw;
    if (Status s = records(t, raw); !s.ok()) return s;
    std::unordered_set<std::string> read;
    for (RawRecord& r : raw) {
      names.push_back(r.deleted ? std::string() : r.name);
      if (r.deleted) continue;
      Record<R>* record = into.find(r.name);
      // Shape files have no name: each is a record of its own.  So has each
      // tile of model space, all of them "*ACTIVE" VPORT records.
      const bool repeated = !read.insert(foldedName(r.name)).second;
      if (record == nullptr || r.name.empty() || (t == kVport && repeated)) record = &db_.addRecord(into, r.name);
      record->common.flags = r.flags & ~0xC0;
      Cursor c(file_, static_cast<std::size_t>(r.body.data() - file_.data()), static_cast<std::size_t>(r.body.data() - file_.data()) + r.body.size());
      fill(record->data, c, r.flags);
    }
    return {};
  }

  Status tables() {
    // Every release has a layer "0", the linetype CONTINUOUS and the style
    // STANDARD; the file's records take their data.
    db_.release = release_;
    db_.completeFor(release_);
    Status s = table(kLinetype, db_.linetypes, linetypes_, [&](Linetype& l, Cursor& c, std::uint8_t) {
      l.description = text(fixedText(c.take(48)));
      l.alignment = c.rc();
      const std::uint8_t dashes = std::min<std::uint8_t>(c.rc(), 12);
      l.patternLength = c.rd();
      l.dashes.clear();
      for (std::uint8_t i = 0; i < dashes; ++i) l.dashes.push_back({c.rd(), 0});
    });
    if (!s.ok()) return s;
    s = table(kLayer, db_.layers, layers_, [&](Layer& l, Cursor& c, std::uint8_t) {
      l.colour = c.signedRs();
      const std::uint16_t linetype = c.rs();
      l.linetype = linetype < linetypes_.size() && !linetypes_[linetype].empty() ? linetypes_[linetype] : "CONTINUOUS";
    });
    if (!s.ok()) return s;
    s = table(kStyle, db_.styles, styles_, [&](TextStyle& t, Cursor& c, std::uint8_t) {
      t.fixedHeight = c.rd();
      t.widthFactor = c.rd();
      t.oblique = degrees(c.rd());
      t.generation = c.rc();
      t.lastHeight = c.rd();
      t.font = text(fixedText(c.take(64)));
      t.bigFont = text(fixedText(c.take(64)));
      styleFonts_.resize(styles_.size());
      styleFonts_.back() = t.font;
    });
    if (!s.ok()) return s;
    s = table(kView, db_.views, views_, [&](View& v, Cursor& c, std::uint8_t) {
      v.height = c.rd();
      v.center = c.point2();
      v.width = c.rd();
      v.direction = c.point3();
      c.rs();
      if (release_ < Release::R10) return;
      v.target = c.point3();
      v.viewMode = c.rs();
      v.lensLength = c.rd();
      v.frontClip = c.rd();
      v.backClip = c.rd();
      v.twist = degrees(c.rd());
    });
    if (!s.ok()) return s;
    s = table(kUcs, db_.ucs, ucs_, [&](Ucs& u, Cursor& c, std::uint8_t) {
      u.origin = c.point3();
      u.xAxis = c.point3();
      u.yAxis = c.point3();
    });
    if (!s.ok()) return s;
    std::vector<std::string> unused;
    s = table(kVport, db_.vports, unused, [&](Vport& v, Cursor& c, std::uint8_t) {
      v.lowerLeft = c.point2();
      v.upperRight = c.point2();
      v.target = c.point3();
      v.direction = c.point3();
      v.twist = degrees(c.rd());
      v.height = c.rd();
      v.center = c.point2();
      v.aspect = c.rd();
      v.lensLength = c.rd();
      v.frontClip = c.rd();
      v.backClip = c.rd();
      v.viewMode = c.rs();
      v.circleZoom = c.rs();
      v.fastZoom = c.rs();
      v.ucsIcon = c.rs();
      v.snapOn = c.rs();
      v.gridOn = c.rs();
      v.snapStyle = c.rs();
      v.snapIsoPair = c.rs();
      v.snapAngle = degrees(c.rd());
      v.snapBase = c.point2();
      v.snapSpacing = c.point2();
      v.gridSpacing = c.point2();
    });
    if (!s.ok()) return s;
    s = table(kAppid, db_.appids, appids_, [](AppId&, Cursor&, std::uint8_t) {});
    if (!s.ok()) return s;
    // The VX records tell which viewports are switched off.
    std::vector<RawRecord> vx;
    if (s = records(kVx, vx); !s.ok()) return s;
    for (const RawRecord& r : vx) {
      if (r.deleted || r.body.size() < 4) continue;
      Cursor c(file_, static_cast<std::size_t>(r.body.data() - file_.data()), file_.size());
      const std::uint16_t address = c.rs();
      viewportOn_[address] = c.signedRs() != -1;
    }
    s = table(kDimstyle, db_.dimstyles, dimstyles_, [&](DimStyle& d, Cursor& c, std::uint8_t) {
      for (double* v : {&d.scale, &d.arrowSize, &d.extensionOffset, &d.lineIncrement, &d.extensionExtend, &d.rounding,
                        &d.lineExtend, &d.tolerancePlus, &d.toleranceMinus, &d.textHeight, &d.centerMark, &d.tickSize,
                        &d.altFactor, &d.linearFactor, &d.textVertical})
        *v = c.rd();
      for (std::int32_t* v : {&d.tolerance, &d.limits, &d.textInside, &d.textOutside, &d.suppress1, &d.suppress2,
                              &d.textAbove, &d.zeroSuppression, &d.alternate, &d.altDecimals, &d.forceLine,
                              &d.separateArrows, &d.textInsideForced, &d.suppressOutside})
        *v = c.rc();
      d.post = text(fixedText(c.take(16)));
      d.altPost = text(fixedText(c.take(16)));
      c.take(16 + 16 + 66);  // arrow blocks, kept by name in the header only
      d.lineColour = c.rs();
      d.extensionColour = c.rs();
      d.textColour = c.rs();
      c.rc();
      d.toleranceFactor = c.rd();
      d.gap = c.rd();
    });
    if (!s.ok()) return s;
    // Blocks: every live record becomes a block in table order; the block
    // section gives it its base point and entities.
    std::vector<RawRecord> raw;
    if (s = records(kBlock, raw); !s.ok()) return s;
    for (const RawRecord& r : raw) {
      blockIndexes_.push_back(SIZE_MAX);
      if (r.deleted) continue;
      Cursor c(file_, static_cast<std::size_t>(r.body.data() - file_.data()), file_.size());
      const std::uint32_t offset = c.rl();
      // Anonymous blocks are stored by their letter alone ("*D"); their
      // number is that of their record.
      std::string name = r.name;
      if ((r.flags & 1) && name.size() == 2 && name[0] == '*') name += std::to_string(blockIndexes_.size() - 1);
      if (db_.findBlock(name) != nullptr || name.empty()) {
        note("duplicate-block", "block record " + std::to_string(blockIndexes_.size() - 1) + " (" + r.name + ") is left out");
        continue;
      }
      BlockRecord& b = db_.addBlock(name);
      b.flags = r.flags & 0x3F;
      blockIndexes_.back() = db_.blockIndex(b);
      blockAt_.emplace(offset, db_.blockIndex(b));
    }
    return {};
  }

  std::string nameAt(const std::vector<std::string>& names, std::int32_t i) const {
    return i >= 0 && static_cast<std::size_t>(i) < names.size() ? names[static_cast<std::size_t>(i)] : std::string();
  }

  // ------------------------------------------------- header variables

  void setVariable(std::string_view name, double value) {
    const int i = headerVarIndex(name);
    if (i < 0) return;
    switch (headerVars()[static_cast<std::size_t>(i)].kind) {
      case ValueKind::Int: db_.header.set(name, static_cast<std::int32_t>(value)); break;
      case ValueKind::Bool: db_.header.set(name, value != 0); break;
      case ValueKind::Real: db_.header.set(name, value); break;
      case ValueKind::Handle: db_.header.set(name, static_cast<Handle>(value)); break;
      default: break;
    }
  }

  void variables() {
    for (const HeaderSlot& slot : headerSlots()) {
      if (count_ <= slot.above || slot.name.empty()) continue;
      Cursor c(file_, slot.offset, variablesEnd_);
      switch (slot.slot) {
        case Slot::Short: setVariable(slot.name, c.signedRs()); break;
        case Slot::Byte: setVariable(slot.name, c.rc()); break;
        case Slot::Real: setVariable(slot.name, c.rd()); break;
        case Slot::Point2: db_.header.set(slot.name, c.point2()); break;
        case Slot::Point3: db_.header.set(slot.name, c.point3()); break;
        case Slot::Text: db_.header.set(slot.name, text(fixedText(c.take(slot.size)))); break;
        case Slot::Date: {
          const std::uint32_t day = c.rl();
          const std::uint32_t ms = c.rl();
          setVariable(slot.name, day + ms / 86400000.0);
          break;
        }
        case Slot::Handle: break;  // the seed of handles the database does not keep
        case Slot::Layer: setName(slot.name, nameAt(layers_, c.signedRs())); break;
        case Slot::Style: setName(slot.name, nameAt(styles_, c.signedRs())); break;
        case Slot::Ucs: setName(slot.name, nameAt(ucs_, c.signedRs())); break;
        case Slot::Dimstyle: setName(slot.name, nameAt(dimstyles_, c.signedRs())); break;
        case Slot::Linetype: {
          const std::uint16_t v = c.rs();
          const bool eleven = layout_->sentinels;
          if (v == (eleven ? kLinetypeByLayer11 : kCeltypeByLayerOld)) db_.header.set(slot.name, std::string("BYLAYER"));
          else if (v == (eleven ? kLinetypeByBlock11 : kCeltypeByBlockOld)) db_.header.set(slot.name, std::string("BYBLOCK"));
          else setName(slot.name, nameAt(linetypes_, v));
          break;
        }
        case Slot::Fixed: break;
      }
    }
  }

  void setName(std::string_view variable, const std::string& name) {
    if (!name.empty()) db_.header.set(variable, name);
  }

  // ---------------------------------------------------------- entities

  // The entity records of a section, from `s.begin` on, following JUMPs.
  // The entity section holds model space; in the block section BLOCK and
  // ENDBLK open and close the block being defined.
  Status walk(Section s, bool blockSection) {
    std::size_t pos = s.begin;
    Section region = s;
    std::unordered_set<std::size_t> jumped;
    BlockRecord* current = blockSection ? nullptr : &db_.modelSpace();
    OpenSequence open;
    while (pos < region.end) {
      Cursor head(file_, pos, region.end);
      const std::uint8_t type = head.rc();
      const std::uint8_t flags = head.rc();
      const std::uint16_t size = head.rs();
      const std::size_t crc = layout_->sentinels ? 2 : 0;
      if (head.failed() || size < 4 + crc || size > region.end - pos)
        return bad("the entity at " + hexAt(pos) + " (length " + std::to_string(size) + ") runs past the end of its section at " +
                   hexAt(region.end));
      if (crc != 0 && dwgCrc16(file_.substr(pos, size - 2)) != rsAt(pos + size - 2))
        return bad("the CRC of the entity at " + hexAt(pos) + " does not match");
      const std::size_t next = pos + size;
      if ((type & 0x7F) == kJump) {
        const std::uint32_t target = head.rl();
        if (head.failed()) return bad("the JUMP at " + hexAt(pos) + " is too short");
        std::size_t to;
        if (target & kExtrasMark) {
          to = extras_.begin + (target & kSizeBits);
          region = extras_;
        } else {
          to = target;
          region = blockSection ? blocks_ : entities_;
        }
        if (to < region.begin || to > region.end) return bad("the JUMP at " + hexAt(pos) + " leads outside its section");
        if (!jumped.insert(to).second) return bad("the JUMP at " + hexAt(pos) + " closes a loop");
        pos = to;
        continue;
      }
      if (type & kDeletedType) {
        ++deleted_;
        pos = next;
        continue;
      }
      if (size < 8 + crc) return bad("the entity at " + hexAt(pos) + " is too short (" + std::to_string(size) + " bytes)");
      Cursor c(file_, pos + 4, next - crc);
      if (Status st = entity(type, flags, pos, c, current, open, blockSection); !st.ok()) return st;
      pos = next;
    }
    closeSequence(open);
    if (blockSection && current != nullptr) note("no-endblk", "block " + current->name + " has no ENDBLK");
    return {};
  }

  Status blockSection() { return walk(blocks_, true); }

  void closeSequence(OpenSequence& open) {
    if (open.polyline) {
      if (open.owner != nullptr) db_.addEntity(*open.owner, std::move(*open.polyline));
      open.polyline.reset();
    }
    open.insert.reset();
  }

  // The elevation and thickness an entity's flags add.
  struct Common {
    double elevation = 0;
    double thickness = 0;
  };

  Status entity(std::uint8_t type, std::uint8_t flags, std::size_t at, Cursor& c, BlockRecord*& current, OpenSequence& open,
                bool blockSection) {
    const std::uint16_t layer = c.rs();
    const std::uint16_t options = c.rs();
    const bool eleven = layout_->sentinels;
    const bool flat = layout_->threeD && (type == kLine || type == kPoint || type == kLine3d || type == kFace3d);
    Entity e;
    EntityCommon& common = e.common;
    Common k;
    std::uint8_t extra = 0;
    if (flags & kHasExtra) extra = c.rc();
    std::vector<RawTag> xdata;
    if (extra & kExtraEed) {
      const std::string_view eed = c.take(c.rs());
      if (!c.failed()) extendedData(eed, at, xdata);
    }
    // Paper space has no block of its own in these files: its entities
    // stand in the entity section, flagged.
    const bool paper = eleven && (flags & kHasExtra) && !blockSection;
    if (flags & kHasColour) common.colour = c.rc();
    if (flags & kHasLinetype) {
      const std::uint16_t lt = eleven ? c.rs() : c.rc();
      if (eleven ? lt == kLinetypeByBlock11 : lt == kLinetypeByBlockOld) common.linetype = "BYBLOCK";
      else if (!(eleven && lt == kLinetypeByLayer11)) {
        const std::string name = nameAt(linetypes_, lt);
        if (name.empty()) note("bad-linetype", "the entity at " + hexAt(at) + " names linetype " + std::to_string(lt) + ", which does not exist");
        else common.linetype = name;
      }
    }
    if ((flags & kHasElevation) && !flat) k.elevation = c.rd();
    if (flags & kHasThickness) k.thickness = c.rd();
    // The handles of 11/12 are passed over: the database numbers its
    // entities itself.
    if (flags & kHasHandle) c.take(c.rc());
    if (extra & kExtraViewport) c.rs();
    {
      const std::string name = nameAt(layers_, layer);
      if (name.empty()) note("bad-layer", "the entity at " + hexAt(at) + " names layer " + std::to_string(layer) + ", which does not exist");
      else common.layer = layerNames_(name);
    }
    const bool threeD = layout_->threeD && !(flags & kHasElevation);
    auto point = [&](bool flatKind) { return flatKind ? (threeD ? c.point3() : c.point2()) : c.point2(k.elevation); };

    // Followers of an open sequence.
    if (type == kVertex || type == kSeqend || type == kAttrib) {
      if (type == kVertex && open.polyline) {
        Vertex v;
        if (!(options & 0x4000)) v.location = c.point2(k.elevation);
        if (options & 0x01) v.startWidth = c.rd();
        if (options & 0x02) v.endWidth = c.rd();
        if (options & 0x04) v.bulge = c.rd();
        if (options & 0x08) v.flags = c.rc();
        if (options & 0x10) v.tangent = degrees(c.rd());
        if (c.failed()) return bad("the VERTEX at " + hexAt(at) + " is shorter than its fields");
        get<Polyline>(open.polyline->data).vertices.push_back(std::move(v));
        return {};
      }
      if (type == kSeqend && (open.polyline || open.insert)) {
        closeSequence(open);
        return {};
      }
      if (type != kAttrib || !open.insert) {
        note("loose-follower", "the entity at " + hexAt(at) + " follows no POLYLINE or INSERT");
        return {};
      }
    } else {
      if (open.polyline || open.insert) note("no-seqend", "a sequence before " + hexAt(at) + " has no SEQEND");
      closeSequence(open);
    }
    if (!xdata.empty()) common.extras().xdata = std::move(xdata);
    common.paperSpace = paper;

    switch (type) {
      case kLine:
      case kLine3d: {
        Line l;
        if (type == kLine) {
          l.start = point(true);
          l.end = point(true);
          if (layout_->threeD && (options & 0x01)) l.extrusion = c.point3();
        } else if (threeD) {
          l.start = c.point3();
          l.end = c.point3();
        } else {
          l.start = c.point2(k.elevation);
          if (options & 0x01) l.start.z = c.rd();
          l.end = c.point2(k.elevation);
          if (options & 0x02) l.end.z = c.rd();
        }
        l.thickness = k.thickness;
        e.kind = EntityKind::Line;
        e.data = l;
        if (type == kLine3d) e.setDxfName("3DLINE");
        break;
      }
      case kPoint: {
        PointEntity p;
        p.location = point(true);
        if (options & 0x01) p.extrusion = c.point3();
        if (options & 0x02) p.xAxisAngle = degrees(c.rd());
        p.thickness = k.thickness;
        e.kind = EntityKind::Point;
        e.data = p;
        break;
      }
      case kCircle:
      case kArc: {
        const Point3 center = c.point2(k.elevation);
        const double radius = c.rd();
        double start = 0, end = 0;
        if (type == kArc) {
          start = degrees(c.rd());
          end = degrees(c.rd());
        }
        Point3 extrusion = kNormalZ;
        double z = k.elevation;
        if (options & 0x01) extrusion = c.point3();
        if (options & 0x02) z = c.rd();
        if (type == kCircle) {
          e.kind = EntityKind::Circle;
          e.data = Circle{{center.x, center.y, z}, radius, k.thickness, extrusion};
        } else {
          e.kind = EntityKind::Arc;
          e.data = Arc{{center.x, center.y, z}, radius, start, end, k.thickness, extrusion};
        }
        break;
      }
      case kText: {
        Text t;
        t.insertion = c.point2(k.elevation);
        t.height = c.rd();
        t.value = text(c.tv());
        if (options & 0x01) t.rotation = degrees(c.rd());
        if (options & 0x02) t.widthFactor = c.rd();
        if (options & 0x04) t.oblique = degrees(c.rd());
        t.style = styleName(options & 0x08 ? c.rc() : 0);
        if (options & 0x10) t.generation = c.rc();
        if (options & 0x20) t.horizontal = c.rc();
        if (options & 0x40) t.alignment = c.point2(k.elevation);
        if (options & 0x80) t.extrusion = c.point3();
        if (options & 0x100) t.vertical = c.rc();
        t.thickness = k.thickness;
        e.kind = EntityKind::Text;
        e.data = std::move(t);
        break;
      }
      case kTrace:
      case kSolid: {
        Solid s;
        for (Point3* p : {&s.corner1, &s.corner2, &s.corner3, &s.corner4}) *p = c.point2(k.elevation);
        if (options & 0x01) s.extrusion = c.point3();
        s.thickness = k.thickness;
        e.kind = type == kSolid ? EntityKind::Solid : EntityKind::Trace;
        e.data = s;
        break;
      }
      case kFace3d: {
        Face3d f;
        int bit = 0;
        for (Point3* p : {&f.corner1, &f.corner2, &f.corner3, &f.corner4}) {
          if (threeD) *p = c.point3();
          else {
            *p = c.point2(k.elevation);
            if (!layout_->threeD && (options & (1 << bit))) p->z = c.rd();
          }
          ++bit;
        }
        e.kind = EntityKind::Face3d;
        e.data = f;
        break;
      }
      case kInsert: {
        Insert i;
        const std::uint16_t block = c.rs();
        i.insertion = c.point2(k.elevation);
        if (options & 0x01) i.xScale = c.rd();
        if (options & 0x02) i.yScale = c.rd();
        if (options & 0x04) i.rotation = degrees(c.rd());
        if (options & 0x08) i.zScale = c.rd();
        if (options & 0x10) i.columns = c.rs();
        if (options & 0x20) i.rows = c.rs();
        if (options & 0x40) i.columnSpacing = c.rd();
        if (options & 0x80) i.rowSpacing = c.rd();
        if (options & 0x100) i.extrusion = c.point3();
        const std::size_t b = block < blockIndexes_.size() ? blockIndexes_[block] : SIZE_MAX;
        if (b == SIZE_MAX) {
          note("bad-block", "the INSERT at " + hexAt(at) + " names block " + std::to_string(block) + ", which does not exist");
          return {};
        }
        i.block = db_.blocks[b].name;
        e.kind = EntityKind::Insert;
        e.data = std::move(i);
        break;
      }
      case kAttdef:
      case kAttrib: {
        AttributeText a;
        a.insertion = c.point2(k.elevation);
        a.height = c.rd();
        std::string value = text(c.tv());
        std::string prompt;
        if (type == kAttdef) prompt = text(c.tv());
        a.tag = text(c.tv());
        a.flags = c.rc();
        if (options & 0x01) a.fieldLength = c.rs();
        if (options & 0x02) a.rotation = degrees(c.rd());
        if (options & 0x04) a.widthFactor = c.rd();
        if (options & 0x08) a.oblique = degrees(c.rd());
        a.style = styleName(options & 0x10 ? c.rc() : 0);
        if (options & 0x20) a.generation = c.rc();
        if (options & 0x40) a.horizontal = c.rc();
        if (options & 0x80) a.alignment = c.point2(k.elevation);
        if (options & 0x100) a.extrusion = c.point3();
        if (options & 0x200) a.vertical = c.rc();
        a.thickness = k.thickness;
        if (type == kAttdef) {
          AttDef d{a, std::move(value), std::move(prompt)};
          e.kind = EntityKind::AttDef;
          e.data = std::move(d);
        } else {
          Attrib r{a, std::move(value)};
          e.kind = EntityKind::Attrib;
          e.data = std::move(r);
        }
        break;
      }
      case kPolyline: {
        Polyline p;
        p.origin.z = k.elevation;
        if (options & 0x01) p.flags = c.rc();
        if (options & 0x02) p.startWidth = c.rd();
        if (options & 0x04) p.endWidth = c.rd();
        if (options & 0x08) p.extrusion = c.point3();
        if (options & 0x10) p.meshM = c.rs();
        if (options & 0x20) p.meshN = c.rs();
        if (options & 0x40) p.smoothM = c.rs();
        if (options & 0x80) p.smoothN = c.rs();
        if (options & 0x100) p.surfaceType = c.rs();
        p.thickness = k.thickness;
        e.kind = EntityKind::Polyline;
        e.data = std::move(p);
        break;
      }
      case kDimension: {
        Dimension d;
        const std::uint16_t block = c.rs();
        auto dimPoint = [&] { return layout_->threeD ? c.point3() : c.point2(k.elevation); };
        d.definition = dimPoint();
        d.textMid = c.point2(k.elevation);
        if (options & 0x01) d.cloneInsertion = c.point2(k.elevation);
        if (options & 0x02) d.flags = c.rc();
        // Files store the measured text as a single blank, which DXF
        // files of the same drawings leave empty.
        if (options & 0x04) d.text = text(c.tv());
        if (d.text.find_first_not_of(' ') == std::string::npos) d.text.clear();
        if (options & 0x08) d.defPoint2 = dimPoint();
        if (options & 0x10) d.defPoint3 = dimPoint();
        if (options & 0x20) d.defPoint4 = dimPoint();
        if (options & 0x40) d.arcPoint = c.point2(k.elevation);
        if (options & 0x80) d.leaderLength = c.rd();
        if (options & 0x100) d.rotation = degrees(c.rd());
        if (options & 0x200) d.oblique = degrees(c.rd());
        if (options & 0x400) d.textRotation = degrees(c.rd());
        if (options & 0x4000) d.extrusion = c.point3();
        std::string style = options & 0x8000 ? nameAt(dimstyles_, c.signedRs()) : std::string();
        if (style.empty()) style = db_.header.text("$DIMSTYLE");
        if (style.empty() || db_.dimstyles.find(style) == nullptr)
          style = db_.dimstyles.records.empty() ? std::string("STANDARD") : db_.dimstyles.records.front().common.name;
        d.style = style;
        const std::size_t b = block < blockIndexes_.size() ? blockIndexes_[block] : SIZE_MAX;
        if (b != SIZE_MAX) d.block = db_.blocks[b].name;
        e.kind = EntityKind::Dimension;
        e.data = std::move(d);
        break;
      }
      case kShape: {
        UnknownEntity u;
        const Point3 p = c.point2(k.elevation);
        const double height = c.rd();
        const std::uint8_t number = c.rc();
        const double rotation = options & 0x01 ? degrees(c.rd()) : 0;
        const std::size_t file = options & 0x02 ? c.rc() : SIZE_MAX;
        // DXF files name a shape; these files give its number in its
        // shape file.  Both are kept beside the groups (see kShapeNumber).
        std::vector<RawTag>& kept = common.extras().extra;
        kept.push_back(RawTag{kShapeNumber, TagType::Int16, 0, number, {}});
        if (file < styleFonts_.size()) kept.push_back(RawTag{kShapeFile, TagType::String, 0, 0, styleFonts_[file]});
        auto real = [](int code, double v) {
          RawTag t;
          t.code = code;
          t.type = TagType::Real;
          t.real = v;
          return t;
        };
        u.tags = {real(10, p.x), real(20, p.y), real(30, p.z), real(40, height), real(50, rotation)};
        e.kind = EntityKind::Unknown;
        e.data = std::move(u);
        e.setDxfName("SHAPE");
        break;
      }
      case kBlockBegin: {
        if (!blockSection) {
          note("loose-block", "a BLOCK entity at " + hexAt(at) + " stands outside the block section");
          return {};
        }
        const Point3 base = c.point2(k.elevation);
        std::string xref, name;
        if (options & 0x02) xref = text(c.tv());
        if (options & 0x04) name = text(c.tv());
        const auto found = blockAt_.find(static_cast<std::uint32_t>((at - blocks_.begin) | kBlocksMark));
        current = nullptr;
        if (found != blockAt_.end()) current = &db_.blocks[found->second];
        else if (!name.empty() && db_.findBlock(name) == nullptr) current = &db_.addBlock(name);
        if (current == nullptr) {
          note("loose-block", "the BLOCK entity at " + hexAt(at) + " belongs to no block record; its entities are left out");
          return {};
        }
        current->base = base;
        current->xrefPath = xref;
        if (c.failed()) return bad("the BLOCK at " + hexAt(at) + " is shorter than its fields");
        return {};
      }
      case kViewport: {
        Viewport v;
        v.center = c.point3();
        v.width = c.rd();
        v.height = c.rd();
        v.id = c.signedRs();
        const auto on = viewportOn_.find(static_cast<std::uint16_t>(at & 0xFFFF));
        v.status = on == viewportOn_.end() || on->second ? 1 : 0;
        e.kind = EntityKind::Viewport;
        e.data = std::move(v);
        // Its view comes out of its extended data.
        for (const std::string& name : settleAfterRead(e)) {
          if (const auto* layer = db_.layers.find(name)) get<Viewport>(e.data).frozenLayers.push_back(layer->common.handle);
          else note("bad-layer", "the VIEWPORT at " + hexAt(at) + " freezes layer " + name + ", which does not exist");
        }
        break;
      }
      case kBlockEnd:
        current = blockSection ? nullptr : current;
        return {};
      default:
        note("not-read", "the entity at " + hexAt(at) + " is of type " + std::to_string(type) + ", which is not read");
        return {};
    }
    if (c.failed()) return bad("the entity at " + hexAt(at) + " is shorter than its fields");
    BlockRecord* owner = paper ? &db_.paperSpace() : current;
    if (owner == nullptr) {
      note("loose-entity", "the entity at " + hexAt(at) + " stands outside any block definition");
      return {};
    }
    if (type == kAttrib) {
      db_.addAttribute(*open.insert, std::move(e));
      return {};
    }
    if (type == kPolyline && (flags & kFollowers)) {
      open.polyline = std::move(e);
      open.owner = owner;
      return {};
    }
    const EntityId id = db_.addEntity(*owner, std::move(e));
    if (type == kInsert && (flags & kFollowers)) open.insert = id;
    return {};
  }

  // The extended data of the entity at `at` as DXF groups, each
  // application's from its 1001 group on.  Data cut short, with an item
  // of no known code, before its first application or naming a record
  // that does not exist is left out whole.
  void extendedData(std::string_view eed, std::size_t at, std::vector<RawTag>& out) {
    const std::size_t begin = static_cast<std::size_t>(eed.data() - file_.data());
    const std::size_t end = begin + eed.size();
    Cursor c(file_, begin, end);
    auto real = [](std::int32_t code, double v) { return RawTag{code, TagType::Real, v, 0, {}}; };
    auto fail = [&](const std::string& why) {
      note("bad-xdata", "the extended data of the entity at " + hexAt(at) + " " + why + "; it is left out");
      out.clear();
    };
    while (c.pos() < end) {
      const std::uint8_t code = c.rc();
      if (out.empty() && code != kEedApplication) return fail("begins with no application");
      RawTag t{1000 + code, TagType::String, 0, 0, {}};
      switch (code) {
        case 0: t.text = text(c.take(c.rc())); break;
        case kEedApplication:
          t.text = nameAt(appids_, c.signedRs());
          if (t.text.empty()) return fail("names an application the APPID table lacks");
          break;
        case 2: t.text = c.rc() == 0 ? "{" : "}"; break;
        case 3:
          t.text = nameAt(layers_, c.signedRs());
          if (t.text.empty()) return fail("names a layer the LAYER table lacks");
          break;
        case 4:
          t.type = TagType::Binary;
          t.text = std::string(c.take(c.rc()));
          break;
        case 5: {
          std::uint64_t h = 0;
          for (char b : c.take(8)) h = (h << 8) | static_cast<std::uint8_t>(b);
          char hex[24];
          std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(h));
          t = RawTag{1005, TagType::Handle, 0, static_cast<std::int64_t>(h), hex};
          break;
        }
        case 10: case 11: case 12: case 13: case 14: case 15: {
          const Point3 p = c.point3();
          out.push_back(real(1000 + code, p.x));
          out.push_back(real(1010 + code, p.y));
          t = real(1020 + code, p.z);
          break;
        }
        case 40: case 41: case 42: t = real(1000 + code, c.rd()); break;
        case 70: t = RawTag{1070, TagType::Int16, 0, c.signedRs(), {}}; break;
        case 71: t = RawTag{1071, TagType::Int32, 0, static_cast<std::int32_t>(c.rl()), {}}; break;
        default: return fail("holds an item of unknown code " + std::to_string(code));
      }
      if (c.failed()) return fail("is cut short");
      out.push_back(std::move(t));
    }
  }

  Name styleName(std::size_t i) {
    if (i < styles_.size() && !styles_[i].empty()) return Name(styles_[i]);
    return db_.styles.records.empty() ? Name::standard() : Name(db_.styles.records.front().common.name);
  }

  std::string_view file_;
  Database& db_;
  std::vector<Finding>& findings_;
  CodePage page_;
  const ReleaseLayout* layout_ = nullptr;
  Release release_ = Release::R12;
  std::uint16_t count_ = 0;
  std::size_t variablesEnd_ = 0;
  Section entities_, blocks_, extras_;
  std::vector<std::string> linetypes_, layers_, styles_, views_, ucs_, dimstyles_, appids_;
  NameTable layerNames_;  // the layer of each entity, each name held once
  std::unordered_map<std::uint16_t, bool> viewportOn_;     // VX: entity address (low 16 bits) -> switched on
  std::vector<std::string> styleFonts_;                     // STYLE record number -> font file
  std::vector<std::size_t> blockIndexes_;                   // BLOCK record number -> index in db_.blocks
  std::unordered_map<std::uint32_t, std::size_t> blockAt_;  // offset in the block section (marked) -> block
  std::size_t deleted_ = 0;
};

}  // namespace

Status readDwgPreR13(std::string_view file, Database& db, std::vector<Finding>& findings) {
  return PreR13Reader(file, db, findings).read();
}

}  // namespace drawingdb

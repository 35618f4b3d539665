#include "drawingdb/dimstyle_forms.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <unordered_map>

#include "drawingdb/dxf_tags.h"

namespace drawingdb {
namespace {

constexpr int kArrowNames[] = {5, 6, 7};          // DIMBLK, DIMBLK1, DIMBLK2
constexpr int kArrowHandles[] = {342, 343, 344};  // the same, by handle
constexpr int kUnit = 270, kFit = 287;            // R13/R14
constexpr int kLinearUnit = 277, kFraction = 276, kAttachFit = 289, kTextMove = 279;  // 2000

}  // namespace

bool dimStyleFormGroup(int code) {
  return code == 5 || code == 6 || code == 7 || code == kUnit || code == kFit || code == kLinearUnit ||
         code == kFraction || code == kAttachFit || code == kTextMove || (code >= 341 && code <= 344);
}

namespace {

bool olderOnly(int code) { return code == 5 || code == 6 || code == 7 || code == kUnit || code == kFit; }

bool newerOnly(int code) {
  switch (code) {
    case 79:   // DIMAZIN
    case 148:  // DIMALTRND
    case 179:  // DIMADEC
    case 278:  // DIMDSEP
    case 341:  // DIMLDRBLK
    case 371:  // DIMLWD
    case 372:  // DIMLWE
    case kFraction:
    case kLinearUnit:
    case kTextMove:
    case kAttachFit: return true;
    default: return std::find(std::begin(kArrowHandles), std::end(kArrowHandles), code) != std::end(kArrowHandles);
  }
}

const RawTag* groupOf(const std::vector<RawTag>& tags, int code) {
  for (const RawTag& t : tags)
    if (t.code == code) return &t;
  return nullptr;
}

std::optional<std::int64_t> integerOf(const std::vector<RawTag>& tags, int code) {
  const RawTag* t = groupOf(tags, code);
  if (t == nullptr) return std::nullopt;
  if (t->type == TagType::Real) return static_cast<std::int64_t>(t->real);
  return t->integer;
}

RawTag group(int code, std::int64_t integer, std::string text = {}) {
  RawTag t;
  t.code = code;
  t.type = tagTypeOf(code);
  t.integer = integer;
  t.real = static_cast<double>(integer);
  t.text = std::move(text);
  // Handles as DXF states them; groups 5-7 hold the names of arrows here.
  if (t.type == TagType::Handle && code > 7) t.text = formatHandle(static_cast<Handle>(integer));
  return t;
}

// DIMUNIT: 1 scientific, 2 decimal, 3 engineering, 4 architectural
// stacked, 5 fractional stacked, 6 architectural, 7 fractional.  2000
// splits it into the unit (DIMLUNIT 1-5, 6 the system's own) and the
// stacking of fractions (DIMFRAC 0 horizontal, 1 diagonal, 2 none).
std::pair<std::int64_t, std::int64_t> linearUnitOf(std::int64_t unit) {
  switch (unit) {
    case 1:
    case 3: return {unit, 0};
    case 4: return {4, 0};
    case 5: return {5, 0};
    case 6: return {4, 2};
    case 7: return {5, 2};
    default: return {2, 0};
  }
}
std::int64_t unitOf(std::int64_t linearUnit, std::int64_t fraction) {
  const bool stacked = fraction != 2;
  switch (linearUnit) {
    case 1:
    case 3: return linearUnit;
    case 4: return stacked ? 4 : 6;
    case 5: return stacked ? 5 : 7;
    default: return 2;
  }
}

// DIMFIT 0-3 say what leaves the room between the extension lines first,
// as DIMATFIT does; 4 and 5 (text moved with a leader, or without) are
// DIMTMOVE 1 and 2 of 2000 with the best fit.
std::pair<std::int64_t, std::int64_t> attachFitOf(std::int64_t fit) {
  if (fit == 4) return {3, 1};
  if (fit == 5) return {3, 2};
  if (fit >= 0 && fit <= 3) return {fit, 0};
  return {3, 0};
}
std::int64_t fitOf(std::int64_t attachFit, std::int64_t textMove) {
  if (textMove == 1) return 4;
  if (textMove == 2) return 5;
  return attachFit >= 0 && attachFit <= 3 ? attachFit : 3;
}

}  // namespace

std::vector<RawTag> dimStyleGroupsFor(const std::vector<RawTag>& kept, Release to, const ArrowBlocks& blocks) {
  const bool handles = to >= Release::R2000;
  std::vector<RawTag> out;
  out.reserve(kept.size() + 4);
  for (const RawTag& t : kept)
    if (handles ? !olderOnly(t.code) : !newerOnly(t.code)) out.push_back(t);
  if (handles) {
    for (std::size_t i = 0; i < 3; ++i) {
      const RawTag* name = groupOf(kept, kArrowNames[i]);
      if (name == nullptr || groupOf(kept, kArrowHandles[i]) != nullptr) continue;
      const Handle block = name->text.empty() || !blocks.handleOf ? 0 : blocks.handleOf(name->text);
      if (block != 0) out.push_back(group(kArrowHandles[i], static_cast<std::int64_t>(block)));
    }
    if (const auto unit = integerOf(kept, kUnit); unit && !groupOf(kept, kLinearUnit)) {
      const auto [linear, fraction] = linearUnitOf(*unit);
      out.push_back(group(kLinearUnit, linear));
      out.push_back(group(kFraction, fraction));
    }
    if (const auto fit = integerOf(kept, kFit); fit && !groupOf(kept, kAttachFit)) {
      const auto [attach, move] = attachFitOf(*fit);
      out.push_back(group(kAttachFit, attach));
      out.push_back(group(kTextMove, move));
    }
    return out;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    const auto block = integerOf(kept, kArrowHandles[i]);
    if (!block || groupOf(kept, kArrowNames[i]) != nullptr) continue;
    const std::string name = *block == 0 || !blocks.nameOf ? std::string() : blocks.nameOf(static_cast<Handle>(*block));
    out.push_back(group(kArrowNames[i], 0, name));
  }
  if (to < Release::R13) return out;
  if (const auto linear = integerOf(kept, kLinearUnit); linear && !groupOf(kept, kUnit))
    out.push_back(group(kUnit, unitOf(*linear, integerOf(kept, kFraction).value_or(0))));
  if (const auto attach = integerOf(kept, kAttachFit); attach && !groupOf(kept, kFit))
    out.push_back(group(kFit, fitOf(*attach, integerOf(kept, kTextMove).value_or(0))));
  return out;
}

void dimHeaderFor(Header& header, Release from, Release to) {
  if (from < Release::R13 || to < Release::R13 || (from >= Release::R2000) == (to >= Release::R2000)) return;
  const auto set = [&](std::string_view name, std::int64_t v) { header.set(name, static_cast<std::int32_t>(v)); };
  if (to >= Release::R2000) {
    const auto [linear, fraction] = linearUnitOf(header.integer("$DIMUNIT"));
    set("$DIMLUNIT", linear);
    set("$DIMFRAC", fraction);
    const auto [attach, move] = attachFitOf(header.integer("$DIMFIT"));
    set("$DIMATFIT", attach);
    set("$DIMTMOVE", move);
    return;
  }
  set("$DIMUNIT", unitOf(header.integer("$DIMLUNIT"), header.integer("$DIMFRAC")));
  set("$DIMFIT", fitOf(header.integer("$DIMATFIT"), header.integer("$DIMTMOVE")));
}

void dimVariablesIntoHeader(Database& db, Release to) {
  if (db.release < Release::R13 || db.release >= Release::R2000 || to < Release::R2000) return;
  const auto entry = [&db](Handle dictionary, std::string_view name) -> Handle {
    if (const Dictionary* d = db.dictionary(dictionary))
      for (const DictionaryEntry& e : d->entries)
        if (sameName(e.name, name)) return e.object;
    return 0;
  };
  const Object* var = db.findObject(entry(entry(db.rootDictionary, "ACDBVARIABLEDICTIONARY"), "DIMADEC"));
  const auto* kept = var != nullptr ? get_if<UnknownObject>(&var->data) : nullptr;
  if (kept == nullptr) return;
  for (const RawTag& t : kept->tags) {
    if (t.code != 1) continue;
    int value = 0;
    const char* end = t.text.data() + t.text.size();
    const auto [at, error] = std::from_chars(t.text.data(), end, value);
    if (error == std::errc{} && at == end && value >= -1 && value <= 8) db.header.set("$DIMADEC", value);
    return;
  }
}

ArrowBlocks arrowBlocksOf(const Database& db) {
  auto byName = std::make_shared<std::unordered_map<std::string, Handle>>();
  for (const BlockRecord& b : db.blocks)
    if (b.handle != 0) byName->emplace(foldedName(b.name), b.handle);
  ArrowBlocks out;
  out.handleOf = [byName](std::string_view name) {
    const auto it = byName->find(foldedName(name));
    return it == byName->end() ? Handle{0} : it->second;
  };
  out.nameOf = [&db](Handle h) {
    const HandleRef* ref = db.find(h);
    if (ref == nullptr || ref->kind != RefKind::Block || ref->index >= db.blocks.size()) return std::string();
    return db.blocks[ref->index].name;
  };
  return out;
}

}  // namespace drawingdb

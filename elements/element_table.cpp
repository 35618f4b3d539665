// The element table: allocation, growth, fresh slots, son and father links
// and the message position of an element.
#include "elements/element_table.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "support/config.h"
#include "support/large_pages.h"
#include "support/messages.h"
#include "support/progress_line.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Largest table this program makes; a reader asking for more is refused
// (the readers size the table from the file, which cannot be that large).
constexpr std::int32_t kMaxCapacity = 1 << 25;

// Conversion priority of a son by its type: planes, views and drawings
// first, then subfigures, groups, sectioned areas, composite curves,
// dimensions and their parts; every other type gets kLastKey.
constexpr std::int32_t kSonPriority[] = {IgesType::kPlane,
                                         IgesType::kRuledSurface,
                                         IgesType::kDrawing,
                                         IgesType::kView,
                                         IgesType::kSurfaceOfRevolution,
                                         IgesType::kTabulatedCylinder,
                                         IgesType::kSubfigureInstance,
                                         IgesType::kSubfigureDefinition,
                                         IgesType::kAssociativityInstance,
                                         IgesType::kSectionedArea,
                                         IgesType::kCompositeCurve,
                                         IgesType::kGeneralLabel,
                                         IgesType::kLinearDimension,
                                         IgesType::kDiameterDimension,
                                         IgesType::kAngularDimension,
                                         IgesType::kRadiusDimension,
                                         IgesType::kOrdinateDimension,
                                         IgesType::kPointDimension,
                                         IgesType::kCopiousData,
                                         IgesType::kConicArc,
                                         IgesType::kParametricSpline};
constexpr std::int32_t kPriorityCount = sizeof(kSonPriority) / sizeof(kSonPriority[0]);
constexpr std::int32_t kLastKey = 99;

// sonRunTails: one slot per key 0..20, one for key 99, one for the last
// node of the whole list.  Lists shorter than kRunTailThreshold are scanned.
constexpr int kRunSlots = kPriorityCount + 1;
constexpr int kTailSlot = kRunSlots;
constexpr int kRunTailArray = kRunSlots + 1;
constexpr std::int32_t kRunTailThreshold = 8;
// Fathers lists at least this long get a lookup by father index.
constexpr std::int32_t kFatherLookupThreshold = 16;

int runSlotOf(std::int32_t key) {
  if (key >= 0 && key < kPriorityCount) return key;
  if (key == kLastKey) return kPriorityCount;
  return -1;
}

// Makes the run-tail array of a sons list from the list as it stands.
void buildRunTails(ElementRecord& father) {
  std::unique_ptr<LinkNode*[]>& array = father.sideRecord().sonRunTails;
  array = std::make_unique<LinkNode*[]>(kRunTailArray);
  LinkNode** tails = array.get();
  for (int i = 0; i < kRunTailArray; ++i) tails[i] = nullptr;
  father.sonsUnordered = false;
  std::int32_t lastKey = -1;
  for (LinkNode* n = father.sons; n != nullptr; n = n->next) {
    const int slot = runSlotOf(n->orderKey);
    if (slot < 0 || n->orderKey < lastKey) father.sonsUnordered = true;
    if (slot >= 0) tails[slot] = n;
    lastKey = n->orderKey;
    tails[kTailSlot] = n;
  }
}

// The run-tail array when it can be used, made when the list has grown.
LinkNode** runTails(ElementRecord& father) {
  if (father.sonRunTails() == nullptr) {
    if (father.sonCount < kRunTailThreshold) return nullptr;
    buildRunTails(father);
  }
  LinkNode** tails = father.sonRunTails();
  // A list changed behind the table's back: make the array again.
  if ((father.sons == nullptr) != (tails[kTailSlot] == nullptr) ||
      (tails[kTailSlot] != nullptr && tails[kTailSlot]->next != nullptr)) {
    buildRunTails(father);
    tails = father.sonRunTails();
  }
  return tails;
}

// Inserts the node in front of the first node whose key is greater (equal
// keys keep their insertion order).
void insertByPriority(ElementRecord& father, LinkNode* node) {
  LinkNode** tails = runTails(father);
  const int slot = runSlotOf(node->orderKey);
  if (tails != nullptr && !father.sonsUnordered && slot >= 0) {
    // In an ordered list the node goes behind the last node of the nearest
    // run whose key is not greater.
    LinkNode* after = nullptr;
    for (int s = slot; s >= 0 && after == nullptr; --s) after = tails[s];
    if (after == nullptr) {
      node->next = father.sons;
      father.sons = node;
    } else {
      node->next = after->next;
      after->next = node;
    }
    tails[slot] = node;
    if (node->next == nullptr) tails[kTailSlot] = node;
    return;
  }
  if (father.sons == nullptr || node->orderKey < father.sons->orderKey) {
    node->next = father.sons;
    father.sons = node;
  } else {
    LinkNode* p = father.sons;
    while (p->next != nullptr && p->next->orderKey <= node->orderKey) p = p->next;
    node->next = p->next;
    p->next = node;
  }
  if (tails != nullptr) {
    if (slot < 0) father.sonsUnordered = true;
    if (node->next == nullptr) tails[kTailSlot] = node;
  }
}

void appendNode(ElementRecord& father, LinkNode* node) {
  LinkNode** tails = runTails(father);
  LinkNode* last = nullptr;
  if (tails != nullptr) {
    last = tails[kTailSlot];
  } else {
    for (LinkNode* p = father.sons; p != nullptr; p = p->next) last = p;
  }
  if (last == nullptr) {
    father.sons = node;
  } else {
    last->next = node;
  }
  if (tails != nullptr) {
    const int slot = runSlotOf(node->orderKey);
    if (slot < 0 || (last != nullptr && node->orderKey < last->orderKey)) {
      father.sonsUnordered = true;
    } else {
      tails[slot] = node;
    }
    tails[kTailSlot] = node;
  }
}

// Link checks: both indices within 0..lastIndex+1 and inside the array.
bool linkIndexOk(const char* code, std::int32_t index) {
  const ElementTable& table = elementTable();
  if (index >= 0 && index <= table.lastIndex + 1 && index < table.capacity && table.records) {
    return true;
  }
  mfaSetArgument(index);
  mfaError(code, 975, Channel::kProtocol);
  return false;
}

LinkNode* newNode(const char* code, std::int32_t index, std::int32_t key) {
  LinkNode* node = linkStore.make();
  if (node == nullptr) {
    mfaError(code, 370, Channel::kProtocol);
    return nullptr;
  }
  node->index = index;
  node->orderKey = key;
  return node;
}

// The son as stored in a sons list: a null pointer of the parameter data
// becomes kNull with the last key.
void sonEntry(std::int32_t son, std::int32_t& stored, std::int32_t& key) {
  if (son == 0) {
    stored = LinkIndex::kNull;
    key = kLastKey;
    return;
  }
  stored = son;
  const ElementRecord& s = element(son);
  key = sonOrderKey(s.type, s.form);
}

int insertSon(const char* code, std::int32_t father, std::int32_t son, bool byPriority) {
  std::int32_t stored = 0;
  std::int32_t key = 0;
  sonEntry(son, stored, key);
  LinkNode* node = newNode(code, stored, key);
  if (node == nullptr) return -1;
  ElementRecord& f = element(father);
  if (byPriority) {
    insertByPriority(f, node);
  } else {
    appendNode(f, node);
  }
  ++f.sonCount;
  return 0;
}

int insertFather(const char* code, std::int32_t father, std::int32_t son) {
  LinkNode* node = newNode(code, father, 0);
  if (node == nullptr) return -1;
  ElementRecord& s = element(son);
  node->next = s.fathers;
  s.fathers = node;
  ++s.fatherCount;
  if (auto* lookup = s.fatherLookup()) (*lookup)[father] = node;
  ++elementTable().linkGeneration;
  return 0;
}

int traceLevel() { return runSettings().traceLevel; }

void forgetWalkCaches(ElementTable& table) {
  table.convertOrder = ElementTable::ConvertOrder();
  ++table.cursorGeneration;
  ++table.linkGeneration;
  table.descentPath.clear();
  table.descentTop = nullptr;
  table.descentStart = 0;
  for (auto& cache : table.ancestorCache) cache.clear();
  for (bool& made : table.ancestorCacheMade) made = false;
}

// The blocks a new run of memory holds beyond those asked for: as many as
// there are (so that a growing table makes few runs), up to about this
// many bytes.
constexpr std::size_t kMostRunAhead = std::size_t{32} << 20;
constexpr std::size_t kBlockBytes = sizeof(ElementRecord) * RecordBlocks::kPerBlock;

// What directoryExtraOf yields for an element without the fields.
const DirectoryExtra kNoExtra{};

}  // namespace

LinkStore linkStore;

LinkNode* LinkStore::make() noexcept {
  LinkNode* node = nullptr;
  if (free_ != 0) {
    node = at(free_);
    const LinkNode* following = node->next;
    free_ = following == nullptr ? 0 : following->id;
  } else {
    if (made_ == UINT32_MAX) return nullptr;
    const std::size_t chunk = made_ >> kShift;
    if (chunk >= chunks_.size()) {
      try {
        chunks_.push_back(std::make_unique<LinkNode[]>(kPerChunk));
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
    }
    node = &chunks_[chunk][made_ & (kPerChunk - 1)];
    node->id = made_++;
  }
  node->index = 0;
  node->orderKey = 0;
  node->next = nullptr;
  ++inUse_;
  return node;
}

void LinkStore::release(LinkNode* node) noexcept {
  node->next = at(free_);
  free_ = node->id;
  --inUse_;
}

RecordBlocks::RecordBlocks(RecordBlocks&& other) noexcept
    : blocks_(std::move(other.blocks_)), runs_(std::move(other.runs_)) {
  other.blocks_.clear();
  other.runs_.clear();
}

RecordBlocks& RecordBlocks::operator=(RecordBlocks&& other) noexcept {
  if (this != &other) {
    reset();
    blocks_ = std::move(other.blocks_);
    runs_ = std::move(other.runs_);
    other.blocks_.clear();
    other.runs_.clear();
  }
  return *this;
}

void RecordBlocks::reset() {
  for (ElementRecord* block : blocks_) std::destroy_n(block, kPerBlock);
  for (const Run& run : runs_) releaseLargeBlock(run.memory, run.bytes);
  blocks_.clear();
  runs_.clear();
}

bool RecordBlocks::holdAtLeast(std::int64_t n) {
  while (size() < n) {
    // The blocks lie one after the other in the runs: the last run has
    // room when the runs hold more blocks than are made.
    std::size_t inRuns = 0;
    for (const Run& run : runs_) inRuns += run.blocks;
    if (inRuns == blocks_.size()) {
      const auto missing = static_cast<std::size_t>((n - size() + kPerBlock - 1) >> kShift);
      const std::size_t ahead = std::min(blocks_.size(), std::max<std::size_t>(kMostRunAhead / kBlockBytes, 1));
      Run run;
      run.blocks = missing + ahead;
      run.bytes = run.blocks * kBlockBytes;
      run.memory = allocateLargeBlock(run.bytes);
      if (run.memory == nullptr) return false;
      try {
        runs_.push_back(run);
      } catch (const std::bad_alloc&) {
        releaseLargeBlock(run.memory, run.bytes);
        return false;
      }
      inRuns += run.blocks;
    }
    const Run& last = runs_.back();
    const std::size_t inLast = blocks_.size() - (inRuns - last.blocks);
    auto* block = reinterpret_cast<ElementRecord*>(static_cast<char*>(last.memory) + inLast * kBlockBytes);
    try {
      if (blocks_.size() == blocks_.capacity()) blocks_.reserve(std::max<std::size_t>(2 * blocks_.size(), 16));
    } catch (const std::bad_alloc&) {
      return false;
    }
    std::uninitialized_default_construct_n(block, kPerBlock);
    blocks_.push_back(block);
  }
  return true;
}

void RecordBlocks::expect(std::int64_t n) {
  try {
    blocks_.reserve(static_cast<std::size_t>((n + kPerBlock - 1) >> kShift));
  } catch (const std::bad_alloc&) {
    // The list grows as it must instead.
  }
}

ElementTable& elementTable() {
  static ElementTable table;
  return table;
}

const RunStateRegistrar kRunStateRegistered("element table", [] {
  elementTable() = ElementTable();
});

ElementRecord& element(std::int32_t index) {
  ElementTable& table = elementTable();
  if (table.records && index >= 0 && index < table.capacity) return table.records[index];
  table.outside = ElementRecord();
  return table.outside;
}

bool isElementIndex(std::int32_t index) {
  const ElementTable& table = elementTable();
  return index >= 1 && index <= table.lastIndex && index < table.capacity;
}

DirectoryExtra& directoryExtra(std::int32_t index) {
  ElementTable& table = elementTable();
  if (!table.records || index < 0 || index >= table.capacity) {
    table.outsideExtra = DirectoryExtra();
    return table.outsideExtra;
  }
  const auto slot = static_cast<std::size_t>(index);
  if (slot >= table.extras.size()) table.extras.resize(slot + 1);
  return table.extras[slot];
}

const DirectoryExtra& directoryExtraOf(std::int32_t index) {
  const ElementTable& table = elementTable();
  if (index < 0 || static_cast<std::size_t>(index) >= table.extras.size()) {
    return kNoExtra;
  }
  return table.extras[static_cast<std::size_t>(index)];
}

DirectoryEntry directoryEntryOf(std::int32_t index) {
  DirectoryEntry de;
  static_cast<DirectoryFields&>(de) = element(index).de;
  static_cast<DirectoryExtra&>(de) = directoryExtraOf(index);
  return de;
}

void setDirectoryEntry(std::int32_t index, const DirectoryEntry& de) {
  element(index).de = de;
  directoryExtra(index) = de;
}

void clearDirectoryEntry(std::int32_t index) {
  element(index).de = DirectoryFields();
  ElementTable& table = elementTable();
  if (index >= 0 && static_cast<std::size_t>(index) < table.extras.size())
    table.extras[static_cast<std::size_t>(index)] = DirectoryExtra();
}

int resetTable() {
  TraceScope t("ldv060");
  ElementTable& table = elementTable();
  table.progressOn = 1;
  table.progressScale = 1;
  table.lastIndex = 0;
  table.processedCount = 0;
  table.classesMet = 0;
  table.drawingsPresent = false;
  forgetWalkCaches(table);
  resetCursors();
  return 0;
}

int resetCursors() {
  TraceScope t("ldv061");
  for (std::int32_t& c : elementTable().cursors) c = 1;
  return 0;
}

int allocateTable(std::int32_t n, std::int32_t room) {
  TraceScope t("ldv130");
  ElementTable& table = elementTable();
  table.records.reset();
  table.extras = std::vector<DirectoryExtra>();
  table.descentMarks = std::vector<std::uint32_t>();
  table.capacity = 0;
  forgetWalkCaches(table);
  if (n < 0 || n >= kMaxCapacity) return -1;
  table.records.expect(std::min<std::int64_t>(static_cast<std::int64_t>(n) + 1 + std::max<std::int32_t>(room, 0),
                                              kMaxCapacity));
  if (!table.records.holdAtLeast(static_cast<std::int64_t>(n) + 1)) {
    table.records.reset();
    return -1;
  }
  table.capacity = n + 1;
  return 0;
}

int growTable() {
  TraceScope t("ldv131");
  ElementTable& table = elementTable();
  const std::int32_t old = table.capacity;
  std::int64_t wanted = std::min<std::int64_t>(2LL * old, static_cast<std::int64_t>(old) + 500);
  if (wanted <= old) wanted = old + 1;  // an empty table grows too
  if (wanted > kMaxCapacity || !table.records.holdAtLeast(wanted)) {
    if (traceLevel() > 4) {
      std::printf("-> ldv131 : Datenstruktur zu klein\n          vergroessern von %d auf %d nicht moeglich !!!!\n",
                  static_cast<int>(old), static_cast<int>(wanted));
    }
    return -1;
  }
  table.capacity = static_cast<std::int32_t>(wanted);
  if (traceLevel() > 4) {
    std::printf("-> ldv131 : Datenstruktur zu klein\n          vergroessern von %d auf %d\n",
                static_cast<int>(old), static_cast<int>(wanted));
  }
  return 0;
}

std::int32_t newIndex() {
  TraceScope t("ldv125");
  ElementTable& table = elementTable();
  // An empty table grows to one slot only, which is slot 0: grow until the
  // new index has its slot.
  while (table.lastIndex + 1 >= table.capacity) {
    if (growTable() != 0) return -1;
  }
  table.lastIndex += 1;
  progressLineTick();
  ElementRecord& e = table.records[table.lastIndex];
  e.state = ElementState::kWaiting;
  if (traceLevel() == 99) std::printf("-> ldv125 : Neuer Index : %d\n", static_cast<int>(table.lastIndex));
  return table.lastIndex;
}

void freeTable() {
  TraceScope t("ldv135");
  ElementTable& table = elementTable();
  table.records.reset();
  table.extras = std::vector<DirectoryExtra>();
  table.descentMarks = std::vector<std::uint32_t>();
  table.capacity = 0;
  table.lastIndex = 0;
  table.processedCount = 0;
  table.classesMet = 0;
  table.drawingsPresent = false;
  forgetWalkCaches(table);
  for (std::int32_t& c : table.cursors) c = 1;
}

std::int32_t sonOrderKey(std::int32_t type, std::int32_t form) {
  const bool output = runHas(RunModeBit::kOutput);
  if (!output && ((type == IgesType::kConicArc && form == 1) ||
                  (type == IgesType::kCopiousData && form == 40)))
    return kLastKey;
  for (std::int32_t i = 0; i < kPriorityCount; ++i) {
    if (kSonPriority[i] == type) return i;
  }
  if (type == IgesType::kTransferDimension && output && runHas(RunModeBit::kPlus)) return 20;
  return kLastKey;
}

int linkSon(std::int32_t father, std::int32_t son, char mode) {
  TraceScope t("ldv846");
  if (!linkIndexOk(t.code(), father) || !linkIndexOk(t.code(), son)) return -1;
  if (mode == 'f') return insertSon(t.code(), father, son, true);
  return insertFather(t.code(), father, son);
}

int appendSon(std::int32_t father, std::int32_t son) {
  TraceScope t("ldv847");
  if (!linkIndexOk(t.code(), father) || !linkIndexOk(t.code(), son)) return -1;
  return insertSon(t.code(), father, son, false);
}

int linkFatherSon(std::int32_t father, std::int32_t son) {
  TraceScope t("ldv848");
  if (!linkIndexOk(t.code(), father) || !linkIndexOk(t.code(), son)) return -1;
  if (insertSon(t.code(), father, son, true) != 0) return -1;
  // A null pointer has a node in the sons list but no element to point back.
  if (son == 0) return 0;
  return insertFather(t.code(), father, son);
}

// An element's position in messages: its directory-entry number and its
// parameter-data line, and the caller's third number.
void mfaSetPosition(std::int32_t index, long third) {
  TraceScope t("mfa130");
  if (index == 0) {
    mfaSetPositionSilent();
    return;
  }
  const ElementRecord& e = element(index);
  const long first = e.de.sequence != 0 ? e.de.sequence : deNumberOf(index);
  mfaSetPositionNumbers(first, e.de.paramPointer, third);
}

namespace element_walk {

std::uint32_t beginWalk() {
  ElementTable& table = elementTable();
  if (++table.walkEpoch == 0) {
    for (std::int32_t i = 0; i < table.capacity; ++i) table.records[i].walkMark = 0;
    table.walkEpoch = 1;
  }
  return table.walkEpoch;
}

bool hasSlot(std::int32_t index) {
  const ElementTable& table = elementTable();
  return table.records && index >= 0 && index < table.capacity;
}

LinkNode* fatherNode(std::int32_t son, std::int32_t father) {
  if (!hasSlot(son)) return nullptr;
  ElementRecord& s = element(son);
  if (s.fatherLookup() == nullptr && s.fatherCount >= kFatherLookupThreshold) {
    // Newest first: the first node of a father in the list wins.
    auto lookup = std::make_unique<std::unordered_map<std::int32_t, LinkNode*>>();
    for (LinkNode* n = s.fathers; n != nullptr; n = n->next) lookup->emplace(n->index, n);
    s.sideRecord().fatherLookup = std::move(lookup);
  }
  if (auto* lookup = s.fatherLookup()) {
    auto it = lookup->find(father);
    return it == lookup->end() ? nullptr : it->second;
  }
  for (LinkNode* n = s.fathers; n != nullptr; n = n->next) {
    if (n->index == father) return n;
  }
  return nullptr;
}

const std::vector<char>& ancestorMarks(std::int32_t type) {
  ElementTable& table = elementTable();
  const int which = type == IgesType::kSubfigureDefinition     ? 0
                    : type == IgesType::kAssociativityInstance ? 1
                                                               : 2;
  std::vector<char>& marks = table.ancestorCache[which];
  const std::int32_t n = std::min(table.lastIndex, table.capacity - 1);
  if (table.ancestorCacheMade[which] && table.ancestorCacheGeneration[which] == table.linkGeneration &&
      static_cast<std::int32_t>(marks.size()) == n + 1) {
    return marks;
  }
  marks.assign(static_cast<std::size_t>(n < 0 ? 0 : n + 1), 0);
  if (n >= 0) {
    // Children of every element from the fathers lists (compressed rows),
    // then a breadth-first pass from every element of the type.
    std::vector<std::int32_t> start(static_cast<std::size_t>(n) + 2, 0);
    for (std::int32_t i = 0; i <= n; ++i) {
      for (const LinkNode* f = table.records[i].fathers; f != nullptr; f = f->next) {
        if (f->index >= 0 && f->index <= n) ++start[static_cast<std::size_t>(f->index) + 1];
      }
    }
    for (std::int32_t i = 0; i <= n; ++i) start[i + 1] += start[i];
    std::vector<std::int32_t> children(static_cast<std::size_t>(start[n + 1]));
    std::vector<std::int32_t> fill(start.begin(), start.end() - 1);
    for (std::int32_t i = 0; i <= n; ++i) {
      for (const LinkNode* f = table.records[i].fathers; f != nullptr; f = f->next) {
        if (f->index >= 0 && f->index <= n) children[fill[f->index]++] = i;
      }
    }
    std::vector<std::int32_t> queue;
    for (std::int32_t i = 0; i <= n; ++i) {
      if (table.records[i].type == type) queue.push_back(i);
    }
    for (std::size_t q = 0; q < queue.size(); ++q) {
      const std::int32_t e = queue[q];
      for (std::int32_t c = start[e]; c < start[e + 1]; ++c) {
        const std::int32_t child = children[c];
        if (!marks[child]) {
          marks[child] = 1;
          // A marked element that is of the type itself was queued already.
          if (table.records[child].type != type) queue.push_back(child);
        }
      }
    }
  }
  table.ancestorCacheMade[which] = true;
  table.ancestorCacheGeneration[which] = table.linkGeneration;
  return marks;
}

}  // namespace element_walk

// The element table: the one in-memory model every direction works on.
// Slot i holds one element (an IGES entity, a DXF or DWG entity mapped to
// its IGES kind, or an element of the CAD transfer file) with its directory
// entry, typed parameter record, son and father links, processing state and
// the numbers of the objects written for it.
//
// Indices are int32; index 0 is not an element.  For an IGES file the
// element whose first directory line has sequence number D lives at index
// (D+1)/2; a DE pointer p found in parameter data is index p/2+1, and index
// i is shown as DE number 2i-1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "elements/iges_format.h"
#include "elements/object_list.h"
#include "elements/param_records.h"
#include "elements/transform.h"

// Indices that stand in son lists instead of an element.
namespace LinkIndex {
constexpr std::int32_t kNull = -3;      // a null pointer of the parameter data
}  // namespace LinkIndex

// Processing states.
namespace ElementState {
constexpr char kWaiting = 'w';
constexpr char kRegistered = 'r';  // drawing or view registered for the drawing pass
constexpr char kDone = 'd';
constexpr char kTakenOver = 'c';
constexpr char kIgnored = 'i';
constexpr char kDefinitionWritten = 'o';
constexpr char kError = 'e';
}  // namespace ElementState

struct LinkNode;

// A link to a node of the son and father lists: the node's number in the
// store of nodes (LinkStore), 0 for none.  It takes half the room of a
// pointer, and a table holds five per element; it reads and is assigned
// as a pointer to the node.
class NodeRef {
 public:
  NodeRef() = default;
  NodeRef(std::nullptr_t) noexcept {}
  NodeRef(const LinkNode* node) noexcept;
  NodeRef& operator=(const LinkNode* node) noexcept;
  NodeRef& operator=(std::nullptr_t) noexcept {
    id_ = 0;
    return *this;
  }
  operator LinkNode*() const noexcept;
  LinkNode* operator->() const noexcept { return *this; }

 private:
  std::uint32_t id_ = 0;
};

struct LinkNode {
  std::int32_t index = 0;
  std::int32_t orderKey = 0;
  NodeRef next;
  std::uint32_t id = 0;  // the node's number in the store
};

// The nodes of all son and father lists, in chunks that never move (a
// pointer to a node stays valid as the store grows); a node given back is
// used again by the next one made.  Node number 0 is none.
class LinkStore {
 public:
  static constexpr int kShift = 12;
  static constexpr std::uint32_t kPerChunk = std::uint32_t{1} << kShift;

  LinkNode* at(std::uint32_t id) const { return id == 0 ? nullptr : &chunks_[id >> kShift][id & (kPerChunk - 1)]; }
  // A fresh node (index, key 0, no next); nullptr when memory runs out.
  LinkNode* make() noexcept;
  void release(LinkNode* node) noexcept;
  // Nodes in use.
  std::size_t inUse() const { return inUse_; }

 private:
  std::vector<std::unique_ptr<LinkNode[]>> chunks_;
  std::uint32_t made_ = 1;  // numbers handed out so far (0 is none)
  std::uint32_t free_ = 0;  // the first node given back, 0 for none
  std::size_t inUse_ = 0;
};

// The store of the table's nodes.
extern LinkStore linkStore;

inline NodeRef::NodeRef(const LinkNode* node) noexcept : id_(node == nullptr ? 0 : node->id) {}
inline NodeRef& NodeRef::operator=(const LinkNode* node) noexcept {
  id_ = node == nullptr ? 0 : node->id;
  return *this;
}
inline NodeRef::operator LinkNode*() const noexcept { return linkStore.at(id_); }

// The fields of a directory entry that every element keeps.  The texts
// stand last, so that the fields have no padding.
struct DirectoryFields {
  std::int32_t entityType = 0;
  std::int32_t paramPointer = 0;
  std::int32_t structure = 0;
  std::int32_t lineFont = kIgesDirectory[kDirLineFont].defaultValue;
  std::int32_t level = 0;
  std::int32_t matrixPointer = 0;
  std::int32_t sequence = 0;
  std::int32_t lineWeight = 0;
  std::int32_t colour = kIgesDirectory[kDirColour].defaultValue;
  std::int32_t paramLineCount = 0;
  std::int32_t form = 0;
  char status[10] = {};
  char label[10] = {};
};

// The fields of a directory entry that only the IGES directions use: the
// input reads them and the output writes them.  The table keeps them beside
// the records (directoryExtra), for the elements that have them.
struct DirectoryExtra {
  std::int32_t view = 0;
  std::int32_t labelAssoc = 0;
  std::int32_t entityType2 = 0;
  std::int32_t subscript = 0;
  std::int32_t sequence2 = 0;
};

// A whole directory entry, as the IGES files hold it.
struct DirectoryEntry : DirectoryFields, DirectoryExtra {};

// Attribute block of an element of the CAD transfer file.
struct TransferAttributes {
  std::int32_t first = 0;
  std::int32_t second = 0;
  std::string name;
  double points[6] = {};  // two 3-D points
  std::int32_t last = 0;
};

// What few elements have: kept beside the record, made when first asked
// for, so that the table does not carry it for every element.
struct ElementSide {
  // Input directions: the associativities and properties of the directory
  // entry's back-pointer block (element indices).
  std::vector<std::int32_t> assocs;
  std::vector<std::int32_t> props;
  // Bookkeeping of the table (not part of the element's data): the last node
  // of each priority run of `sons` (made when the list grows), so that
  // inserting by priority does not scan long lists.
  std::unique_ptr<LinkNode*[]> sonRunTails;
  // Made when the fathers list grows long: the first node of each father in
  // `fathers`, so that a son shared by many fathers is found in constant time.
  std::unique_ptr<std::unordered_map<std::int32_t, LinkNode*>> fatherLookup;
  // Output direction: the attribute block the transfer file gave the
  // element, when it gave one.
  std::unique_ptr<TransferAttributes> transferAttrs;
};

struct ElementRecord {
  ElementRecord() = default;
  ElementRecord(const ElementRecord&) = delete;
  ElementRecord& operator=(const ElementRecord&) = delete;
  ElementRecord(ElementRecord&& other) noexcept;
  ElementRecord& operator=(ElementRecord&& other) noexcept;
  ~ElementRecord();  // releases the lists and owned blocks

  // The fields are ordered by size so that the record, of which a table
  // holds one per element, has no padding.
  std::int32_t type = 0;
  std::int32_t form = 0;
  std::int32_t outputKind = 0;
  std::int32_t outputSubKind = 0;
  std::int32_t sonCount = 0;
  std::int32_t fatherCount = 0;
  // Output directions: the element's identifier in the CAD transfer file, 0
  // before it has one.
  std::int32_t transferId = 0;
  DirectoryFields de;
  char dependency = 'n';  // 'p' physically dependent
  // Beside the type: the conversion order scans both over the whole table.
  char state = 0;
  std::uint8_t classBits = 0;  // classBitsOf the type and form
  // The element's failure has been reported with a counted error (790).
  bool failureReported : 1 = false;
  // Set when appendSon put a son out of priority order; insertions by
  // priority then scan the list instead of using sonRunTails.
  bool sonsUnordered : 1 = false;
  // The mark of the last walk that visited the element; bookkeeping of the
  // table.
  std::uint32_t walkMark = 0;
  NodeRef sons;
  NodeRef sonCursor;
  NodeRef sonCursor2;
  NodeRef fathers;
  NodeRef fatherCursor;
  std::unique_ptr<Transform> matrix;
  std::unique_ptr<ParamRecord> params;
  // Input directions: the numbers of the script objects written for the
  // element.
  ObjectList scriptObjects;
  // What few elements have (see ElementSide), null until asked for.
  std::unique_ptr<ElementSide> side;

  // The side record, made when the element has none.
  ElementSide& sideRecord();
  // The associativities and properties; empty when there is no side record.
  const std::vector<std::int32_t>& assocs() const;
  const std::vector<std::int32_t>& props() const;
  // The attribute block of the transfer file, null when there is none.
  const TransferAttributes* transferAttrs() const { return side ? side->transferAttrs.get() : nullptr; }
  // The priority runs of `sons` and the lookup of `fathers`, null when not
  // made.
  LinkNode** sonRunTails() const { return side ? side->sonRunTails.get() : nullptr; }
  std::unordered_map<std::int32_t, LinkNode*>* fatherLookup() const {
    return side ? side->fatherLookup.get() : nullptr;
  }

  void releaseLists();
};

// The slots of the table, held in blocks of a fixed number of records.
// The table grows by whole blocks: a record never moves once made (a
// reference to it stays valid while the table grows), growth copies
// nothing, and no more than one block lies beyond the slots in use.  The
// blocks are made in larger runs of memory (support/large_pages.h), of
// which only the blocks made are touched.
class RecordBlocks {
 public:
  static constexpr int kShift = 10;
  static constexpr std::int32_t kPerBlock = std::int32_t{1} << kShift;

  RecordBlocks() = default;
  RecordBlocks(const RecordBlocks&) = delete;
  RecordBlocks& operator=(const RecordBlocks&) = delete;
  RecordBlocks(RecordBlocks&& other) noexcept;
  RecordBlocks& operator=(RecordBlocks&& other) noexcept;
  ~RecordBlocks() { reset(); }

  ElementRecord& operator[](std::int32_t i) {
    return blocks_[static_cast<std::uint32_t>(i) >> kShift][i & (kPerBlock - 1)];
  }
  const ElementRecord& operator[](std::int32_t i) const {
    return blocks_[static_cast<std::uint32_t>(i) >> kShift][i & (kPerBlock - 1)];
  }
  explicit operator bool() const { return !blocks_.empty(); }
  // Slots made (whole blocks).
  std::int64_t size() const { return static_cast<std::int64_t>(blocks_.size()) << kShift; }
  // Makes blocks until slots 0..n-1 exist; false when memory runs out
  // (the blocks made until then stay).
  bool holdAtLeast(std::int64_t n);
  // Room in the list of blocks for n slots, so that it need not be copied
  // while the table grows to them.
  void expect(std::int64_t n);
  void reset();

 private:
  struct Run {
    void* memory = nullptr;
    std::size_t bytes = 0;
    std::size_t blocks = 0;  // room for
  };
  std::vector<ElementRecord*> blocks_;
  std::vector<Run> runs_;  // the blocks lie in the runs in order
};

struct ElementTable {
  RecordBlocks records;
  std::int32_t capacity = 0;
  std::int32_t lastIndex = 0;
  int progressOn = 1;
  std::int32_t processedCount = 0;
  std::int32_t cursors[17] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  std::int32_t classesMet = 0;  // OR of the class bits of all elements
  bool drawingsPresent = false; // a 404 or 410 was read
  std::uint32_t walkEpoch = 0;

  // Bookkeeping of the walks.  cursorGeneration rises whenever a table
  // operation resets son cursors, linkGeneration whenever a fathers list
  // changes; the caches below are valid only for the generation they were
  // made in.
  std::uint64_t cursorGeneration = 0;
  std::uint64_t linkGeneration = 0;
  // The descent path of nextDescendant: the start element and the elements
  // whose sonCursor2 node leads to the next one, kept from call to call so
  // that a deep tree is not descended again from the top for every result.
  std::vector<std::int32_t> descentPath;
  // Per element: the descent's epoch while the element is on its path (made
  // when a descent first runs).
  std::vector<std::uint32_t> descentMarks;
  std::int32_t descentStart = 0;
  std::uint64_t descentGeneration = 0;
  const LinkNode* descentTop = nullptr;
  std::uint32_t descentEpoch = 0;
  // Per element: has an ancestor of type 308, 402, 102 (nextToConvert,
  // markAll).
  std::vector<char> ancestorCache[3];
  std::uint64_t ancestorCacheGeneration[3] = {0, 0, 0};
  bool ancestorCacheMade[3] = {false, false, false};
  // The conversion order of nextToConvert: per typed step the indices
  // 1..last whose element had the step's type when the order was made,
  // ascending, and where the step's cursor stands in that list.  An
  // element's type is set when its slot is filled and stays; filling the
  // slots anew (resetTable, allocateTable, freeTable) forgets the order,
  // and elements added after it was made (beyond `last`) are scanned.  So
  // a step passes over the elements of its type, not over the whole table.
  struct ConvertOrder {
    bool made = false;
    std::int32_t last = 0;
    std::vector<std::int32_t> ofStep[17];
    std::size_t at[17] = {};
    std::int32_t atCursor[17] = {};
  } convertOrder;
  // The directory fields few elements have (DirectoryExtra), by index:
  // made up to the highest index that was given any.
  std::vector<DirectoryExtra> extras;
  // What element() hands out for an index outside the table.
  ElementRecord outside;
  DirectoryExtra outsideExtra;
  // Where progress percentages go (the script's progress statement), and the
  // factor of the denominator (a drawing converts its elements once per view).
  void (*progressDisplay)(int percent) = nullptr;
  std::int32_t progressScale = 1;
};

ElementTable& elementTable();
// The element at index i; i should lie in 0..capacity-1 (any other index
// yields an empty scratch record that is cleared on every such call).
ElementRecord& element(std::int32_t index);
// true when 1 <= i <= lastIndex.
bool isElementIndex(std::int32_t index);
// The element's DirectoryExtra, made when it has none (an index outside
// 0..capacity-1 yields a scratch record, cleared on every such call).
DirectoryExtra& directoryExtra(std::int32_t index);
// The element's DirectoryExtra; all fields zero when it has none.
const DirectoryExtra& directoryExtraOf(std::int32_t index);
// The whole directory entry of an element, and the entry given back to it.
DirectoryEntry directoryEntryOf(std::int32_t index);
void setDirectoryEntry(std::int32_t index, const DirectoryEntry& de);
// Sets every field of the element's directory entry to its default.
void clearDirectoryEntry(std::int32_t index);

// IGES pointer and index rules.
constexpr std::int32_t indexOfPointer(std::int32_t dePointer) { return dePointer / 2 + 1; }
constexpr std::int32_t deNumberOf(std::int32_t index) { return 2 * index - 1; }

int resetTable();                    // ldv060
int resetCursors();                  // ldv061
// A table of n records and slot 0; the capacity is n + 1.  `room`: about
// how many records the run adds itself later (the output directions'
// colour definitions, matrices and contours), for which the list of
// blocks is prepared.
int allocateTable(std::int32_t n, std::int32_t room = 0);  // ldv130
int growTable();                     // ldv131
std::int32_t newIndex();             // ldv125
void freeTable();                    // ldv135

int linkSon(std::int32_t father, std::int32_t son, char mode);  // ldv846
int appendSon(std::int32_t father, std::int32_t son);           // ldv847
int linkFatherSon(std::int32_t father, std::int32_t son);       // ldv848
// Priority key of a son of this type and form.
std::int32_t sonOrderKey(std::int32_t type, std::int32_t form);

// nextSon results: 0 a son, -1 exhausted and no father, -2 exhausted with a
// father, -3 no sons at all.
struct SonResult {
  std::int32_t index = 0;
  std::int32_t deNumber = 0;  // input directions
  std::int32_t type = 0;      // output direction
  std::int32_t id = 0;        // output direction
};
int nextSon(std::int32_t father, SonResult& out);                       // ldv011
std::int32_t firstSonOfType(std::int32_t father, std::int32_t type);    // ldv020
int nextDescendant(std::int32_t start, std::int32_t& deNumber, std::int32_t& index);  // ldv012
int hasNoAncestorOfType(std::int32_t index, std::int32_t type);         // ldv001

// nextToConvert: 0 and the element, or -1 (index -1) when no step yields.
struct ConvertPick {
  std::int32_t index = -1;
  std::int32_t deNumberOrType = 0;
  std::int32_t id = 0;
};
int nextToConvert(ConvertPick& out);  // ldv005

int setState(std::int32_t index, char state);                                    // ldv701
int setStateFromResult(std::int32_t index, int result, const char* callerCode);  // ldv700
int setStateDeep(std::int32_t index, char state);                                // ldv200
// As setStateDeep, but the sons of the elements of type `keepType` met
// below `index` are left as they are (a subfigure definition's own members,
// without those of the definitions its instances name).
int setStateDeepWithin(std::int32_t index, char state, std::int32_t keepType);   // ldv203
int setStateDeepKeepSelf(std::int32_t index, char state);                        // ldv252
int setStateRaw(std::int32_t index, char state);                                 // ldv880
// An element that ends in the error state is reported once with the counted
// error 790 and its position, so that the closing count of errors covers
// every element the statistics count as failed.  `reportElementFailure`
// reports the element (once) on behalf of `code`; `reportUnreportedFailures`
// does so for every element of the table in the error state whose failure
// was not reported yet and returns their number.
void reportElementFailure(std::int32_t index, const char* code);  // ldv702
int reportUnreportedFailures();                                    // ldv703
int markAll(char state);                                                         // ldv201
// Puts both son cursors of the element back to the head of its sons and its
// father cursor to its fathers; the way to start a fresh walk.
void resetSonCursors(std::int32_t index);
// The matrix indices from the outermost inwards; -1 on a bad chain.
int matrixChain(std::int32_t index, std::vector<std::int32_t>& chain);  // ldv500

struct StatusFlags {
  int blank = 0;
  int subordinate = 0;
  int entityUse = 0;
  int hierarchy = 0;
};
StatusFlags decodeStatus(const DirectoryFields& de);  // ldv600
// Class bits of a (type, form) pair (a byte's worth).
std::uint8_t classBitsOf(std::int32_t type, std::int32_t form);
// Sets the element's classBits and ORs them into classesMet; the bits.
std::int32_t classifyElement(std::int32_t index);  // chk001

// Output directions.
std::int32_t findById(std::int32_t id, std::int32_t low, std::int32_t high);  // ldv160
// The same over the whole table, searched outwards from the index `hint`
// (any index; cheap when the element stands near it).
std::int32_t findByIdNear(std::int32_t id, std::int32_t hint);
struct TransferListNode {
  std::int32_t id = 0;
  std::int32_t type = 0;
  std::unique_ptr<TransferAttributes> attrs;
  TransferListNode* next = nullptr;
};
std::int32_t countList(const TransferListNode* head);  // ldv120
// Sorts the elements handed over by the transfer file reader ascending by
// id, equal ids in the order given (ldv050); the caller frees the list with
// freeTransferList.  nullptr for an empty input.
TransferListNode* loadTransferList(std::vector<TransferListNode*> elements);  // ldv050
int loadTransferElements(const TransferListNode* list);                      // ldv140
int freeTransferList(TransferListNode* list);                                // ldv150
// Types whose members the element table links (the composite kinds).
bool linksTransferMembers(std::int32_t type);
// membersOf(index, ids) fills the member ids of a complex element from the
// transfer file; 0 / -1.
int linkTransferElements(
    const std::function<int(std::int32_t index, std::vector<std::int32_t>& ids)>& membersOf);  // ldv965

// The message position of an element: its first and second position
// numbers (DE number of the element, parameter line), element 0 silences
// the position.
void mfaSetPosition(std::int32_t index, long third);  // mfa130

// Helpers of the table's own walks, shared by its source files.
namespace element_walk {
// Starts a walk with fresh visit marks (ElementRecord::walkMark).
std::uint32_t beginWalk();
// true when the index names a slot of the table (0..capacity-1).
bool hasSlot(std::int32_t index);
// The node of `father` in the fathers list of `son`, or nullptr.
LinkNode* fatherNode(std::int32_t son, std::int32_t father);
// Per element 0..lastIndex: 1 when an ancestor (over all fathers, at any
// depth) has the type; cached until a fathers list changes.  type is 308,
// 402 or 102.
const std::vector<char>& ancestorMarks(std::int32_t type);
}  // namespace element_walk

// The conversion engine of the IGES input: after the reader has filled the
// element table, every element to be converted passes through one
// conversion pass of two phases.
//
//   collect  walks the elements in conversion order (nextToConvert at the
//            top level, nextSon under a complex element), reads each
//            element's parameter data into its typed record and appends a
//            conversion record; complex elements (composite curves, bounded
//            planes, unknown complex elements) collect their members as the
//            records that follow their own.
//   emit     walks the records in order and writes each element through the
//            KPL script writer; the numbers of the written objects go to the
//            element's created list, the writer's result becomes its state.
//
// An element met a second time in the same pass (the same curve in two
// composites) is written once: its later records copy the objects of the
// first.  convertModel is the top-level driver of the input direction.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "elements/element_table.h"
#include "elements/param_records.h"
#include "elements/transform.h"
#include "script/geometry.h"

// The position of a conversion record in its list.  A pass holds fewer
// than kMostRecords records (a larger one runs out of memory first).
using RecordPosition = std::uint32_t;
constexpr std::size_t kMostRecords = 0xFFFFFFF0u;

// One collected element.  The element's type, form, typed record and
// matrix are read from the element itself: they are set once, when it is
// read, and do not change while a pass runs.  A pass over the whole table
// holds one record per element.
struct ConversionRecord {
  std::int32_t index = 0;
  // The records of the element's members follow this one; `end` is the
  // position after the last of them (position + 1 for a simple element).
  RecordPosition end = 0;
  RecordPosition original = 0;  // flag 1: position of the first record
  // The script objects kept for the record (ConversionRecords::objects):
  // their place in the list + 1, 0 for none.
  std::uint32_t objects = 0;
  // 0: the element's own record; 1: a later record of an element already
  // collected in this pass (`original` names the first one).
  std::uint8_t flag = 0;
  bool underFather = false;   // collected under a complex element, not at top level
};

// The records of a pass in order, and the script objects kept for some of
// them: those of members and of nested passes, which are read afterwards,
// and those copied from an element written before.  The records of a top
// level pass leave most objects to their elements, so the lists are kept
// beside the records instead of in each.
class ConversionRecords {
 public:
  ConversionRecord& operator[](std::size_t k) { return records_[k]; }
  const ConversionRecord& operator[](std::size_t k) const { return records_[k]; }
  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  std::vector<ConversionRecord>::iterator begin() { return records_.begin(); }
  std::vector<ConversionRecord>::iterator end() { return records_.end(); }
  std::vector<ConversionRecord>::const_iterator begin() const { return records_.begin(); }
  std::vector<ConversionRecord>::const_iterator end() const { return records_.end(); }
  void reserve(std::size_t n) { records_.reserve(n); }
  void push_back(const ConversionRecord& record) { records_.push_back(record); }
  // Drops the records from position n on (n not beyond the size).
  void resize(std::size_t n) { records_.resize(n); }
  void clear() {
    records_.clear();
    objects_.clear();
  }
  // The objects kept for the record at k; empty when none are kept.
  const ObjectList& objects(std::size_t k) const {
    const std::uint32_t slot = records_[k].objects;
    return slot == 0 ? kNone : objects_[slot - 1];
  }
  // Keeps the objects for the record at k.
  void keepObjects(std::size_t k, ObjectList objects) {
    std::uint32_t& slot = records_[k].objects;
    if (slot == 0) {
      objects_.push_back(std::move(objects));
      slot = static_cast<std::uint32_t>(objects_.size());
    } else {
      objects_[slot - 1] = std::move(objects);
    }
  }

 private:
  static inline const ObjectList kNone;
  std::vector<ConversionRecord> records_;
  std::vector<ObjectList> objects_;
};

// The view number outside a view pass.
constexpr std::int32_t kNoView = -99;

// A 124 transformation as read, or unreadable.
struct MatrixEntry {
  Transform value;
  bool readable = false;
};

// Matrices by element index: the entry of an element once it is made.
class MatrixTable {
 public:
  // The entry of the element, null when none is made (or the index is none).
  const MatrixEntry* find(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size() || slots_[index] == 0) return nullptr;
    return &entries_[slots_[index] - 1];
  }
  // Makes the element's entry unless it has one.
  void emplace(std::int32_t index, const MatrixEntry& entry) {
    if (index < 0) return;
    const std::size_t i = static_cast<std::size_t>(index);
    if (i >= slots_.size()) slots_.resize(std::max(i + 1, 2 * slots_.size()), 0);
    if (slots_[i] != 0) return;
    entries_.push_back(entry);
    slots_[i] = static_cast<std::uint32_t>(entries_.size());
  }
  // Room for the entries of n matrices.
  void reserve(std::size_t n) { entries_.reserve(n); }

 private:
  std::vector<std::uint32_t> slots_;  // per element: its entry + 1, 0 for none
  std::vector<MatrixEntry> entries_;
};

// The script objects taken so far by one gathering (each object once): the
// writer numbers its objects from 1 up, so a number is marked in a table by
// number, stamped with the gathering it was taken in (a new gathering costs
// nothing); a number beyond the table's reach is kept in a set.
class ObjectMarks {
 public:
  // Starts a gathering: nothing is taken.
  void begin() {
    if (!others_.empty()) others_.clear();
    if (++stamp_ != 0) return;
    std::fill(stamps_.begin(), stamps_.end(), 0u);
    stamp_ = 1;
  }
  // Takes the object: false when it was taken before in this gathering.
  bool insert(std::int32_t object) {
    if (object < 0 || object >= kTableReach) return others_.insert(object).second;
    const std::size_t i = static_cast<std::size_t>(object);
    if (i >= stamps_.size()) stamps_.resize(std::max(i + 1, 2 * stamps_.size()), 0u);
    if (stamps_[i] == stamp_) return false;
    stamps_[i] = stamp_;
    return true;
  }

 private:
  static constexpr std::int32_t kTableReach = 1 << 24;
  std::vector<std::uint32_t> stamps_;
  std::uint32_t stamp_ = 0;
  std::unordered_set<std::int32_t> others_;
};

// The process-wide state of the engine, reset by convertModel.
struct IgesConvertState {
  std::int32_t currentView = 0;       // the element of the current view, 0 for none
  std::int32_t currentViewNumber = kNoView;
  bool cycleReported = false;         // a composite that contains itself was reported
  bool unsupportedShown = false;      // error 510 went to the console once
  std::int32_t notConverted = 0;      // 404, 410, 8888 met by the collect phase
  // Per element of the table, for the pass that runs: the first record of
  // the element (+1, 0 for none) and whether it is on the current collect
  // or emit path.
  std::vector<RecordPosition> firstRecord;
  std::vector<unsigned char> onPath;
  // The 124 entities read so far (each is read once per run), and per 124
  // its chain (itself and the matrices outside it) composed.
  MatrixTable matrices;
  MatrixTable chains;
  // First-record tables for passes run inside another pass: each nested
  // pass works on a table of its own, handed back cleared.
  std::vector<std::vector<RecordPosition>> scratchTables;
  // The storage of the last parameter text read, used again by the next.
  std::string spareText;
  // The values of the last matrix read, their storage used again.
  std::vector<double> matrixValues;
  // Nested passes (nestedPass) running: their records keep their objects.
  int nestedPasses = 0;
  // Record lists of nested passes that have ended, kept for their room.
  std::vector<ConversionRecords> spareRecords;
  // The objects a nested pass has gathered.
  ObjectMarks objectMarks;
  // The walk of resolveMatrix: the matrices met from the element outwards,
  // and per element the walk that met it last (a matrix met twice by one
  // walk closes a loop).
  std::vector<std::int32_t> matrixPath;
  std::vector<std::uint32_t> matrixWalkMarks;
  std::uint32_t matrixWalk = 0;
};
IgesConvertState& igesConvertState();

// A member that is itself a contour (written before the plain members).
inline bool makesContour(std::int32_t type, std::int32_t form) {
  return type == IgesType::kCompositeCurve || (type == IgesType::kCopiousData && form == 63);
}

// A physically dependent element: it takes the transformation of the element
// whose part it is.
bool isPhysicallyDependent(const ElementRecord& e);
// The directory data of an element for the info and name blocks of its
// statements, and the element as the script writer takes it.
ScriptElementData scriptDataOf(std::int32_t index);
ScriptElement scriptElementOf(std::int32_t index);
// Records that the element was written as a group of its parts (a label,
// a symbol or an unknown associativity): output kind 402, form 7.
void markWrittenAsGroup(std::int32_t index);
// Error 510 for an element the engine cannot convert: the first one of a
// run also on the console (a file of solids has thousands), the others in
// the protocol.
void reportUnsupported(const char* code, std::int32_t index);
// Fetches the element's parameter data; error 760 when it cannot be had.
bool fetchOwnData(std::int32_t index, const char* code, std::string& text);
// A DE pointer of parameter data as an element index, 0 for none (and for
// the element itself).
std::int32_t pointerIndex(std::int32_t self, int pointer);

// Converts the sons of `father` by a collect and an emit pass of their own
// and gathers the objects written for them (each once, in son order); the
// objects of each son go to `perSon` when it is given.  The caller's records
// and its first-record table are left as they are; sons still waiting
// afterwards get 'i'.  0 / -1.
int nestedPass(std::int32_t father, const Transform* view, const Transform* fatherMatrix,
               std::vector<std::int32_t>& objects,
               std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>>* perSon = nullptr);

// Puts the element on the collect path of the passes, or takes it off: an
// element on the path that a pass meets again under a father closes a cycle
// and is left out there.  For the groups a group walk holds open.
void setOnCollectPath(std::int32_t index, bool on);

// The top-level driver (cee100): one collect and one emit pass over the
// whole table.  The script must be open; it stays open.  0 / -1.
int convertModel();

// The phases (cee150, cee160).  father 0 is the top level; viewMatrix and
// fatherMatrix may be null; allowed (count > 0) restricts the types taken
// under the father.  0 / -1.
int collectPass(std::int32_t father, const Transform* viewMatrix, const Transform* fatherMatrix,
                const std::int32_t* allowed, int allowedCount, ConversionRecords& records);
int emitPass(std::int32_t father, const Transform* viewMatrix, const Transform* fatherMatrix,
             ConversionRecords& records);

// The view filter (cee190): non-zero when the element belongs to the view
// being converted; outside view passes every element does.
int inCurrentView(std::int32_t index, std::int32_t viewNumber);

// The element's matrix chain composed into one transformation (cee810),
// stored as the element's matrix.  0 with `out` null when the element has
// none, 0 with `out` set, or -1 when a matrix of the chain cannot be read
// (warning 320, the matrix gets 'e').
int resolveMatrix(std::int32_t index, const Transform*& out);
// Reads one 124 (cee820): 0 / -1.
int readMatrix(std::int32_t index, Transform& out);
// The graphic attributes of the directory entry (cee800).
void copyAttributes(GraphicAttributes& attributes, const DirectoryFields& de);
// The same of the element at the index.
GraphicAttributes attributesOf(std::int32_t index);

// The readers: fill the element's typed record (when the parameter pass did
// not) and hand it out with the element's matrix.  0 / -1 (760 for parameter
// data that cannot be fetched, 370 for memory).
int readCircularArc(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix);    // cee280
int readConicArc(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix);       // cee320
int readCopiousData(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix);    // cee700
int readComposite(std::int32_t index, const CompositeRecord*& out, const Transform*& matrix);     // cee720
int readFlash(std::int32_t index, const SurfaceRecord*& out, const Transform*& matrix);           // cee220
int readPlane(std::int32_t index, const PlaneRecord*& out, const Transform*& matrix);             // cee110

// A colour definition (cee314): selects its palette colour, stores it in
// the record and sets the element to 'd' ('e' for an empty palette).  The
// colour index, or 1 when none can be selected.
int colourDefinition(std::int32_t index);
// The colour an element is written with: its colour number, or for a
// negative one the palette index of the colour definition it points to.
long resolvedColour(std::int32_t colour);

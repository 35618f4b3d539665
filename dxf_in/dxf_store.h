// What the own DXF reader keeps while it reads: the groups of the entity
// being read (the group store), the header values, the four tables and the
// lists of blocks, inserts and dimensions, in one state record per run.
//
// The reader (dxf_reader.h) fills this store and hands each entity to the
// entity mapping (dxf_mapping.h), which reads it from here: calls run from
// the reader to the mapping, and both use the store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "elements/transform.h"

// File version codes of "$ACADVER".
namespace DxfVersion {
constexpr int kUnknown = -1;
constexpr int kRelease10 = 10;
constexpr int kRelease12 = 12;
constexpr int kRelease13 = 13;
}  // namespace DxfVersion

// One group as read.
struct DxfGroup {
  int code = 0;
  std::string value;
  long line = 0;  // line number of the group-code line (1-based)
};

// The group store: the groups of the entity being read as they came, in
// file order.  A code the entity gives more than once keeps every value;
// the lookups take its last one, and a code the entity does not give reads
// as `otherwise` (0 or "").  The last group of each code below kIndexed is
// noted as it comes (an array insert looks its groups up once per copy);
// a lookup of a higher code walks the groups.  Cleared between entities,
// the store keeps its slots and their texts' room, so that reading an
// entity allocates nothing once the store has held one as large.
struct DxfGroups {
  static constexpr int kIndexed = 240;

  void add(const DxfGroup& group) { add(group.code, group.value, group.line); }
  void add(int code, std::string_view value, long line);
  void clear();
  // The groups in file order.
  std::span<const DxfGroup> list() const { return {slots_.data(), count_}; }
  // The last group of the code, nullptr when there is none.
  const DxfGroup* last(int code) const;
  bool has(int code) const { return last(code) != nullptr; }
  const std::string& text(int code) const;
  double real(int code, double otherwise = 0.0) const;
  int integer(int code, int otherwise = 0) const;
  // The point whose x has the code (10..18): y has the code + 10, z the
  // code + 20 (38, the elevation, for 18).
  Point3 point(int code) const;
  // The colour number (62) as its absolute value: a negative one is that
  // of a layer switched off.
  int colour() const;
  // The extrusion direction (210, 220, 230), the z axis when not given.
  Point3 extrusion() const { return Point3{real(210), real(220), real(230, 1.0)}; }
  // The values of the code joined in file order, as long as the joined
  // text is shorter than `limit` (long texts come in pieces).
  std::string joined(int code, std::size_t limit) const;

 private:
  std::vector<DxfGroup> slots_;  // slots_[0, count_) hold the groups
  std::size_t count_ = 0;
  std::size_t lastOf_[kIndexed] = {};  // position in the groups + 1, 0 for none
};

// One header variable as stored.
struct DxfHeaderValue {
  int code = 0;        // the group code of its value
  double real = 0.0;
  long integer = 0;
  std::string text;
};

// The values of the HEADER section kept for the run.
struct DxfHeader {
  int version = DxfVersion::kUnknown;
  std::string versionText;
  double textSize = 0.0;
  bool hasTextSize = false;
  int fillMode = 1;
  int splineType = 6;  // 5 quadratic, 6 cubic
  // The dimension variables ("$DIMASZ" ...) read, by name.
  std::unordered_map<std::string, DxfHeaderValue> dimensions;
};

// Table entries.
struct DxfLayerEntry {
  std::string name;
  int flags = 0;      // low three bits of group 70 (1 frozen)
  int colour = 7;     // absolute value of group 62
  bool off = false;   // group 62 was negative
  std::string lineType = "CONTINUOUS";
};

// A line type or a dimension style keeps every group of its entry.
struct DxfGroupsEntry {
  std::string name;
  int flags = 0;
  std::vector<DxfGroup> groups;
};

struct DxfTextStyleEntry {
  std::string name;
  int flags = 0;
  double height = 0.0;       // 40, 0 for a variable height
  double widthFactor = 1.0;  // 41
  double oblique = 0.0;      // 50, degrees
  int generation = 0;        // 71
  double lastHeight = 0.0;   // 42
  std::string font;          // 3
  std::string bigFont;       // 4
};

// A table of named entries.  Names compare without regard to the case of
// the ASCII letters (as DXF names do); a name given twice finds its last
// entry, as a search from the end backwards would.
template <typename Entry>
struct DxfTable {
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::int32_t> lastByName;

  // Reserves room for `count` entries (10 when below 1), never more than
  // the file's size can hold.
  void size(long count, long fileSize);
  // Appends an entry; it becomes the one its name finds.
  std::int32_t add(Entry entry);
  // The position of the last entry of that name, -1 for none.
  std::int32_t find(const std::string& name) const;
  void clear() {
    entries.clear();
    entries.shrink_to_fit();
    lastByName.clear();
  }
};

// A block, an insert or a dimension read, for linkBlocks.
struct DxfNamedElement {
  std::int32_t index = 0;
  std::string name;
  std::int32_t father = 0;  // the block it was read in, 0 in ENTITIES
};

// A VERTEX of a polyline: its point (10, 20, 30), bulge (42) and flags (70).
struct DxfVertex {
  Point3 p;
  double bulge = 0.0;
  int flags = 0;
};

// Kinds of entities read that the conversion cannot carry: each is
// reported once with its count, and its elements stay unconverted.
namespace DxfNotCarried {
constexpr int kShape = 0;              // SHAPE: the shape files are not read
constexpr int kInvisibleAttribute = 1; // ATTRIB and ATTDEF with flag 1
constexpr int kAttributeTemplate = 2;  // ATTDEF that its inserts' ATTRIBs show
constexpr int kCount = 3;
}  // namespace DxfNotCarried

// Where the reader stood when the file ended.
struct DxfFileEnd {
  std::string section;   // the section being read ("" between sections)
  std::string entity;    // the entity whose groups were being read, "" none
  long entityLine = 0;   // its first line
  bool eofMark = false;  // the end mark "0 EOF" was read
};

// The process-wide state of the reader, reset per run.
struct DxfReaderState {
  std::FILE* file = nullptr;
  long fileSize = 0;
  long line = 0;           // lines read so far
  // The file is read a block at a time: block[blockPos, blockEnd) has been
  // read from the file but not taken yet.  A line that does not lie whole
  // in one block is put together in `carry`.
  std::vector<char> block;
  std::size_t blockPos = 0, blockEnd = 0;
  std::string carry;
  DxfGroup current;        // the last group read
  bool atEnd = false;      // end of file reached
  DxfGroups groups;
  // Holds the polyline's own groups while its vertices are read.
  DxfGroups spareGroups;
  // The vertices of the polyline being mapped (its groups are `groups`).
  std::vector<DxfVertex> vertices;
  DxfHeader header;
  bool headerRead = false;
  DxfTable<DxfLayerEntry> layers;
  DxfTable<DxfGroupsEntry> lineTypes;
  DxfTable<DxfGroupsEntry> dimStyles;
  DxfTable<DxfTextStyleEntry> textStyles;
  std::vector<DxfNamedElement> blocks;
  std::vector<DxfNamedElement> inserts;
  std::vector<DxfNamedElement> dimensions;
  std::int32_t drawing = 0;  // the drawing element (404), 0 before TABLES
  // Reading the block of paper space: what it holds is paper space.
  bool inPaperSpaceBlock = false;
  int tablesRead = 0, blocksRead = 0, entitiesRead = 0;
  long badCodeLines = 0;     // group-code lines that were not numbers
  bool quiet = false;        // a bad group-code line is not reported (the header probe)
  long entitiesSkipped = 0;  // entities of names the mapping does not know
  std::unordered_map<std::string, long> skippedByName;  // and how often each name came
  long cyclesBroken = 0;     // inserts not linked because their block inserts itself
  // Copies of array inserts still allowed (bounded by the file's size).
  long arrayCellBudget = 0;
  bool lineTypeAssignmentsRead = false;  // "dxf_linetypes.zuor" was asked for
  // The current group was read but not taken yet (a HEADER without ENDSEC
  // ends at the next section's group).
  bool currentPending = false;
  DxfFileEnd end;
  long cutValues = 0;                  // values cut to their field
  long firstUnlistedCut = 0, lastUnlistedCut = 0;  // lines of the ones not listed
  // Elements the last mapping made besides its own: members of its
  // contour (sons of the mapped element), and further elements of their
  // own (which get the entity's attributes and father).
  std::vector<std::int32_t> members;
  std::vector<std::int32_t> companions;
  long notCarried[DxfNotCarried::kCount] = {};
};

DxfReaderState& dxfReader();
// Back to the state of a new run (stt849 releases, this forgets).
void resetDxfReader();

// A value without the blanks and tabs some writers put around it (names
// and keywords are compared upper-cased, by upperAscii of support/ascii.h).
std::string dxfTrimmed(const std::string& value);

// The conversion of a group value: integers as the usual decimal conversion
// (clamped to int), reals as floating point (a value that is not finite
// reads as 0).
int dxfInteger(const std::string& value);
double dxfReal(const std::string& value);
// true when the text is a decimal integer (blanks around it allowed).
bool dxfIsInteger(const std::string& text, long& value);

// Table look-ups (the codes of the system).
std::int32_t findLayer(const std::string& name);      // dxf120
std::int32_t findLineType(const std::string& name);   // dxf220
std::int32_t findTextStyle(const std::string& name);  // dxf420

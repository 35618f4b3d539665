// The program's own reader of ASCII DXF files (-dxf12in).
//
// A DXF file is a sequence of groups, each two text lines: the group code
// (a decimal integer) and the value.  The reader collects the groups of one
// entity in the group store (DxfGroups), then hands the entity by its name
// to the entity mapping (dxf_mapping.h), which makes one element-table
// record of the IGES kind the conversion engine knows.  The HEADER section
// gives the file version and the defaults of texts and dimensions, the
// TABLES section the line types, layers, dimension styles and text styles,
// the BLOCKS section the block definitions (308) whose entities become
// their sons, and the ENTITIES section the drawing itself.  After reading,
// linkBlocks ties the inserts and dimensions to their blocks.
//
// Everything read comes from outside: lines end with LF, CR LF or a lone
// CR; they are cut at 255 characters and texts at the length of their
// store field (each cut value is a warning), counts are bounded by the
// file's size, a group-code line that is not a number ends the entity with
// a warning, a block that inserts itself is reported and not linked, and a
// file that ends inside a section, inside an entity or without its end
// mark is an error naming the line where it ended (what was read is still
// converted).  Binary DXF files are recognised by their sentinel and left
// to the toolkit's reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "elements/transform.h"

// Longest line read; the rest of a longer line is read away.
constexpr std::size_t kDxfLineLength = 255;
// Store field sizes (characters kept of a group value).
constexpr std::size_t kDxfTextLength = 256;
constexpr std::size_t kDxfAppNameLength = 31;
constexpr std::size_t kDxfControlLength = 4;
constexpr std::size_t kDxfXLayerLength = 255;
// A binary chunk of extended data holds up to 127 bytes, written as two
// hexadecimal digits each.
constexpr std::size_t kDxfBinaryLength = 2 * 127;
constexpr std::size_t kDxfXHandleLength = 255;

// The first bytes of a binary DXF file.
constexpr char kDxfBinarySentinel[] = "AutoCAD Binary DXF\r\n\x1a";
constexpr std::size_t kDxfBinarySentinelLength = 22;  // with its closing NUL
static_assert(sizeof kDxfBinarySentinel == kDxfBinarySentinelLength);
// Cut values reported one by one; the further ones are counted and
// summed up in one note at the end of the file.
constexpr long kDxfCutValuesListed = 20;

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

// One group of extended data (codes 1000 and above) in file order.
struct DxfExtendedGroup {
  int code = 0;
  std::string text;
  double real = 0.0;
};

// The group store: the groups of the entity being read, by code.
struct DxfGroups {
  std::string texts[10];        // codes 1..9 (index = code): 1 text, 2 name, 5 handle, 6 line type, 7 style, 8 layer
  bool hasText[10] = {};
  std::string textChunks;       // every code 3 of the entity in order (long texts come in pieces)
  Point3 points[9];             // 10..18 x, 20..28 y, 30..38 z
  bool hasPoint[9] = {};
  double elevation = 0.0;       // 38
  double thickness = 0.0;       // 39
  double reals[9] = {};         // 40..48
  bool hasReal[9] = {};
  std::vector<double> dashes;   // 49
  double angles[9] = {};        // 50..58, degrees
  bool hasAngle[9] = {};
  int colour = 0;               // 62, absolute value
  bool hasColour = false;
  bool colourNegative = false;  // 62 was below 0 (a layer switched off)
  int ints[4] = {};             // 66..69
  bool hasInt[4] = {};
  int flags[9] = {};            // 70..78
  bool hasFlag[9] = {};
  double reals140[9] = {};      // 140..148
  Point3 extrusion{0.0, 0.0, 1.0};  // 210, 220, 230
  std::string appName;          // 1001
  std::string control;          // 1002
  std::string xLayer;           // 1003
  std::string binary;           // 1004
  std::string xHandle;          // 1005
  std::vector<DxfExtendedGroup> extended;  // 1000..1071 in order
  // Codes met that are not kept (counted for the trace).
  long ignored = 0;

  void clear();
  const std::string& text(int code) const { return texts[code]; }
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

struct DxfLineTypeEntry {
  std::string name;
  std::string description;
  int flags = 0;
  int alignment = 65;
  double patternLength = 0.0;
  std::vector<double> dashes;
};

struct DxfDimStyleEntry {
  std::string name;
  int flags = 0;
  std::string texts[5];  // 3..7: post text, alternate post text, arrow blocks
  double reals[9] = {};  // 40..48
  double reals140[9] = {};
  int flagValues[9] = {};  // 70..78
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
  DxfGroup current;        // the last group read
  bool atEnd = false;      // end of file reached
  DxfGroups groups;
  DxfHeader header;
  bool headerRead = false;
  DxfTable<DxfLayerEntry> layers;
  DxfTable<DxfLineTypeEntry> lineTypes;
  DxfTable<DxfDimStyleEntry> dimStyles;
  DxfTable<DxfTextStyleEntry> textStyles;
  std::vector<DxfNamedElement> blocks;
  std::vector<DxfNamedElement> inserts;
  std::vector<DxfNamedElement> dimensions;
  std::int32_t drawing = 0;  // the drawing element (404), 0 before TABLES
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
// Attaches the open input file; the reader does not close it.
void dxfReaderAttach(std::FILE* file);

// true when the file (at its current position, which is kept) begins with
// the sentinel of a binary DXF file.
bool dxfIsBinary(std::FILE* file);

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

// scl520: one group into `out`: 0, -1 at the end of the file.  A group-code
// line that is not a number gives warning 978 and the reader moves on to
// the next line that holds the code 0: `out` is then that group (the next
// entity), as if the entity had ended.
int readGroup(DxfGroup& out);
// hvd500: stores one group in the group store by code.
void storeGroup(DxfGroups& store, const DxfGroup& group);
// hvd502: clears the group store and stores the groups up to the next code
// 0, which stays the reader's current group.  0, -1 at the end of the file.
int readEntityGroups();

// stt840: the HEADER section from the current position: 0 when the file
// begins with one (it is read), else -1.
int readHeader();
// The input driver's part of the reader: the sections TABLES, BLOCKS and
// ENTITIES in file order (others skipped), warnings 973, 974, 976 for the
// missing ones, then linkBlocks.  0, or -8 (error 977) when none was read.
int readDxfSections();
int readTables();    // stt842
int readBlocks();    // stt844
int readEntities();  // stt846
// stt847: the entity whose name is the current group, with the element
// `father` (a block, 0 in ENTITIES).  The new element, 0 for none.
std::int32_t readEntity(std::int32_t father);
// stt845: links inserts and dimensions to their blocks.
int linkBlocks();
// stt849: frees the tables and lists.
void releaseDxfReader();

// Table operations (the codes of the system).
std::int32_t addLayer(const DxfGroups& g);          // dxf100/dxf110
std::int32_t addLineType(const DxfGroups& g);       // dxf200/dxf210
std::int32_t addDimStyle(const DxfGroups& g);       // dxf300/dxf310
std::int32_t addTextStyle(const DxfGroups& g);      // dxf400/dxf410
std::int32_t findLayer(const std::string& name);      // dxf120
std::int32_t findLineType(const std::string& name);   // dxf220
std::int32_t findDimStyle(const std::string& name);   // dxf320
std::int32_t findTextStyle(const std::string& name);  // dxf420
void freeLayers();      // dxf190
void freeLineTypes();   // dxf290
void freeDimStyles();   // dxf390
void freeTextStyles();  // dxf490

// The reader run over a whole file from its start (header, sections,
// links), for the fuzz target and the benchmark: 0 or the reader's
// negative result.
int readDxfFile(std::FILE* file);

#include "dxf_in/dxf_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dxf_in/dxf_mapping.h"
#include "elements/element_table.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_structure.h"
#include "support/ascii.h"
#include "support/config.h"
#include "support/graph_components.h"
#include "support/messages.h"
#include "support/trace.h"

namespace {

// A block that inserts itself, directly or through other blocks.
constexpr int kMsgSelfContaining = 1322;
constexpr int kMsgNotMapped = 790;
constexpr int kMsgNoTables = 973;
constexpr int kMsgNoBlocks = 974;
constexpr int kMsgNoEntities = 976;
constexpr int kMsgNoSection = 977;
constexpr int kMsgBadGroupCode = 978;
constexpr int kMsgEntitySkipped = 979;
constexpr int kMsgShapes = 982;
constexpr int kMsgInvisibleAttributes = 983;
constexpr int kMsgAttributeTemplates = 984;
constexpr int kMsgEndsInSection = 985;
constexpr int kMsgEndsInEntity = 986;
constexpr int kMsgEndsWithoutEof = 987;
constexpr int kMsgValueCut = 988;
constexpr int kMsgCutValuesSummed = 989;

// The fields of extended data values are cut to.
struct FieldLength {
  int code;
  std::size_t length;
};
constexpr FieldLength kExtendedFields[] = {
    {1001, kDxfAppNameLength}, {1002, kDxfControlLength}, {1003, kDxfXLayerLength},
    {1004, kDxfBinaryLength},  {1005, kDxfXHandleLength},
};

// The header variables kept besides "$ACADVER", "$TEXTSIZE", "$FILLMODE"
// and "$SPLINETYPE".
constexpr const char* kDimensionVariables[] = {
    "$DIMALT",  "$DIMALTD", "$DIMALTF", "$DIMAPOST", "$DIMASZ",  "$DIMBLK",  "$DIMBLK1",
    "$DIMBLK2", "$DIMCLRD", "$DIMCLRE", "$DIMCLRT",  "$DIMDLE",  "$DIMDLI",  "$DIMEXE",
    "$DIMEXO",  "$DIMLFAC", "$DIMGAP",  "$DIMLIM",   "$DIMPOST", "$DIMRND",  "$DIMSAH",
    "$DIMSCALE", "$DIMSE1", "$DIMSE2",  "$DIMSOXD",  "$DIMSTYLE", "$DIMTAD", "$DIMTIH",
    "$DIMTIX",  "$DIMTM",   "$DIMTOFL", "$DIMTOH",   "$DIMTOL",  "$DIMTP",   "$DIMTSZ",
    "$DIMTVP",  "$DIMTXT",  "$DIMZIN"};

// "$ACADVER" values and the version codes they give.
struct VersionCode {
  const char* text;
  int version;
};
constexpr VersionCode kVersions[] = {
    {"AC1006", DxfVersion::kRelease10},
    {"AC1009", DxfVersion::kRelease12},
    {"AC1011", DxfVersion::kRelease13},
    {"AC1012", DxfVersion::kRelease13},
};

std::string cut(const std::string& value, std::size_t length) {
  return value.size() <= length ? value : value.substr(0, length);
}

// A value cut to `kept` of its `length` characters in line `line`:
// warning 988, the first of a file also on the console.  The first
// kDxfCutValuesListed are listed one by one, the further ones counted as
// warnings without a text of their own (note 989 sums them up at the end).
void valueCut(long line, std::size_t kept, long length) {
  DxfReaderState& s = dxfReader();
  if (s.quiet) return;
  ++s.cutValues;
  if (s.cutValues <= kDxfCutValuesListed) {
    mfaReport("scl520", kMsgValueCut, s.cutValues == 1 ? Channel::kBoth : Channel::kProtocol, Severity::kWarning,
              {line, static_cast<long>(kept), length}, {}, "", nullptr);
    return;
  }
  if (s.firstUnlistedCut == 0) s.firstUnlistedCut = line;
  s.lastUnlistedCut = line;
  // Counted as a warning, shown nowhere.
  mfaSetPositionSilent();
  mfaWarning("scl520", kMsgValueCut, Channel::kProtocol);
  mfaClearPosition();
}

// Bytes read from the file at a time.
constexpr std::size_t kDxfBlockSize = std::size_t{1} << 16;

// Reads the next block of the file: false at its end (or on a read error,
// which ends the reading as the end of the file would).
bool refillBlock(DxfReaderState& s) {
  s.blockPos = s.blockEnd = 0;
  if (s.file == nullptr) return false;
  if (s.block.size() < kDxfBlockSize) s.block.resize(kDxfBlockSize);
  s.blockEnd = std::fread(s.block.data(), 1, s.block.size(), s.file);
  return s.blockEnd > 0;
}

// One line of at most kDxfLineLength characters without its line end
// ("\n", "\r\n", "\n\r" or a lone "\r"); the rest of a longer line is read away
// (warning 988).  false at the end of the file.  `out` stays valid up to
// the next line read.
bool readLine(std::string_view& out) {
  DxfReaderState& s = dxfReader();
  out = {};
  if (s.blockPos == s.blockEnd && !refillBlock(s)) return false;
  s.carry.clear();
  bool carried = false;  // the line's kept characters are in s.carry
  long length = 0;
  for (;;) {
    const char* const begin = s.block.data() + s.blockPos;
    const char* const end = s.block.data() + s.blockEnd;
    const char* p = begin;
    while (p != end && *p != '\n' && *p != '\r') ++p;
    const auto piece = static_cast<std::size_t>(p - begin);
    const long room = LONG_MAX - length;
    length += piece < static_cast<std::size_t>(room) ? static_cast<long>(piece) : room;
    if (p == end) {
      // The line goes on in the next block (or ends with the file).
      if (s.carry.size() < kDxfLineLength)
        s.carry.append(begin, std::min(piece, kDxfLineLength - s.carry.size()));
      carried = true;
      if (!refillBlock(s)) break;
      continue;
    }
    if (carried) {
      if (s.carry.size() < kDxfLineLength)
        s.carry.append(begin, std::min(piece, kDxfLineLength - s.carry.size()));
    } else {
      out = std::string_view(begin, std::min(piece, kDxfLineLength));
    }
    const char c = *p;
    s.blockPos = static_cast<std::size_t>(p + 1 - s.block.data());
    if (s.blockPos == s.blockEnd) {
      // The other character of a pair may stand in the next block: the
      // line is kept aside before the block is read over.
      if (!carried) {
        s.carry.assign(out);
        carried = true;
      }
      if (!refillBlock(s)) break;
    }
    // The other character of a pair ("\r\n", or "\n\r" of systems that
    // write the feed first) belongs to the same line end.
    const char next = s.block[s.blockPos];
    if (next != c && (next == '\n' || next == '\r')) ++s.blockPos;
    break;
  }
  if (carried) out = s.carry;
  ++s.line;
  if (length > static_cast<long>(out.size())) valueCut(s.line, out.size(), length);
  return true;
}

// The text without the blanks and tabs around it.
std::string_view trimmedView(std::string_view value) {
  std::size_t b = 0, e = value.size();
  while (b < e && (value[b] == ' ' || value[b] == '\t')) ++b;
  while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t')) --e;
  return value.substr(b, e - b);
}

// A group-code line as a number (dxfIsInteger of the line's text, which
// ends at a NUL byte): a plain run of digits is converted here, anything
// else by the general conversion.
bool codeOf(std::string_view line, long& value) {
  const std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  const std::string_view t = trimmedView(line);
  std::size_t k = 0;
  const bool negative = !t.empty() && t[0] == '-';
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) k = 1;
  if (k < t.size() && t.size() - k <= 9) {
    long v = 0;
    std::size_t d = k;
    for (; d < t.size() && t[d] >= '0' && t[d] <= '9'; ++d) v = v * 10 + (t[d] - '0');
    if (d == t.size()) {
      value = negative ? -v : v;
      return true;
    }
  }
  return dxfIsInteger(std::string(line), value);
}

// The group's value cut to its store field; a value longer than the
// field is reported with the line of the value.
std::string cutField(const DxfGroup& group, std::size_t length) {
  if (group.value.size() <= length) return group.value;
  valueCut(group.line + 1, length, static_cast<long>(group.value.size()));
  return group.value.substr(0, length);
}

void badGroupCode(long line) {
  DxfReaderState& s = dxfReader();
  if (s.quiet) return;
  mfaSetPositionNumbers(line, line, 0);
  mfaWarning("scl520", kMsgBadGroupCode, s.badCodeLines == 0 ? Channel::kBoth : Channel::kProtocol);
  mfaClearPosition();
  ++s.badCodeLines;
}

bool isEntity(const DxfGroup& g, const char* name) { return g.code == 0 && trimmedView(g.value) == name; }

// Reads on to the group that ends the section (or the file).
void skipSection() {
  DxfReaderState& s = dxfReader();
  while (readGroup(s.current) == 0)
    if (isEntity(s.current, "ENDSEC") || isEntity(s.current, "EOF")) return;
}

// The file ended while the groups of the entity `name` (begun in `line`)
// were read.  The marks that end lists and sections are no entities: a
// file ending after one of them ends inside its section.
void fileEndsInEntity(const std::string& value, long line) {
  DxfReaderState& s = dxfReader();
  const std::string name(trimmedView(value));
  if (!s.end.entity.empty() || name.empty()) return;
  for (const char* mark : {"ENDTAB", "ENDBLK", "SEQEND", "ENDSEC", "EOF", "SECTION"})
    if (name == mark) return;
  s.end.entity = name;
  s.end.entityLine = line;
}

}  // namespace

// ---------------------------------------------------------------------------
// State

void dxfReaderAttach(std::FILE* file) {
  DxfReaderState& s = dxfReader();
  s.file = file;
  // What was read ahead of a former position is not the file's from here.
  s.blockPos = s.blockEnd = 0;
  s.line = 0;
  s.atEnd = false;
  s.currentPending = false;
  s.end = DxfFileEnd{};
  s.cutValues = s.firstUnlistedCut = s.lastUnlistedCut = 0;
  s.fileSize = 0;
  if (file != nullptr) {
    const long at = std::ftell(file);
    if (at >= 0 && std::fseek(file, 0, SEEK_END) == 0) {
      const long size = std::ftell(file);
      s.fileSize = size > 0 ? size : 0;
      std::fseek(file, at, SEEK_SET);
    }
  }
  // Every copy of an array insert costs at least as much as a byte of the
  // file would; small files still get a few thousand.
  s.arrayCellBudget = std::max<long>(s.fileSize, 10000);
}

bool dxfIsBinary(std::FILE* file) {
  if (file == nullptr) return false;
  const long at = std::ftell(file);
  char head[kDxfBinarySentinelLength];
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  if (at >= 0) std::fseek(file, at, SEEK_SET);
  return got == sizeof head && std::memcmp(head, kDxfBinarySentinel, sizeof head) == 0;
}

// ---------------------------------------------------------------------------
// Groups

int readGroup(DxfGroup& out) {
  TraceScope t("scl520");
  DxfReaderState& s = dxfReader();
  std::string_view line;
  if (!readLine(line)) {
    s.atEnd = true;
    return -1;
  }
  long code = 0;
  long codeLine = s.line;
  if (!codeOf(line, code)) {
    // The pairs are out of step: the entity ends here, reading goes on at
    // the next line that holds the code 0.
    badGroupCode(codeLine);
    do {
      if (!readLine(line)) {
        s.atEnd = true;
        return -1;
      }
    } while (!codeOf(line, code) || code != 0);
    codeLine = s.line;
  }
  if (!readLine(line)) {
    s.atEnd = true;
    return -1;
  }
  out.code = static_cast<int>(std::clamp<long>(code, INT_MIN, INT_MAX));
  out.value.assign(line);
  out.line = codeLine;
  if (out.code == 0 && trimmedView(out.value) == "EOF") s.end.eofMark = true;
  return 0;
}

void storeGroup(DxfGroups& g, const DxfGroup& group) {
  TraceScope t("hvd500");
  if (group.code > 1000) {
    for (const FieldLength& f : kExtendedFields) {
      if (group.code != f.code) continue;
      g.add(group.code, cutField(group, f.length), group.line);
      return;
    }
  }
  g.add(group);
}

namespace {

// readEntityGroups into the store `into`.
int readEntityGroupsInto(DxfGroups& into) {
  TraceScope t("hvd502");
  DxfReaderState& s = dxfReader();
  into.clear();
  // The entity's name and line, for the report of a file that ends
  // before the entity does.
  const bool named = s.current.code == 0 && !s.atEnd;
  const std::string name = named ? s.current.value : std::string();
  const long line = s.current.line;
  bool full = false;  // memory ran out: the further groups are read away
  for (;;) {
    if (readGroup(s.current) != 0) {
      if (named) fileEndsInEntity(name, line);
      return -1;
    }
    if (s.current.code == 0) return 0;
    if (full) continue;
    try {
      storeGroup(into, s.current);
    } catch (const std::bad_alloc&) {
      full = true;
      mfaNoMemory(t.code());
    }
  }
}

}  // namespace

int readEntityGroups() { return readEntityGroupsInto(dxfReader().groups); }

// ---------------------------------------------------------------------------
// Tables

namespace {

// A table entry begins with its name (group 2) and its flags (group 70).
template <typename Entry>
Entry namedEntry(const DxfGroups& g) {
  Entry e;
  e.name = g.text(2);
  e.flags = g.integer(70);
  return e;
}

std::int32_t addLayer(const DxfGroups& g) {
  TraceScope t("dxf110");
  auto e = namedEntry<DxfLayerEntry>(g);
  e.flags &= 7;
  if (g.has(62)) e.colour = g.colour();
  e.off = g.integer(62) < 0;
  if (g.has(6)) e.lineType = g.text(6);
  return dxfReader().layers.add(std::move(e));
}

// A line type or a dimension style: its name, flags and groups.
std::int32_t addGroupsEntry(const char* code, DxfTable<DxfGroupsEntry> DxfReaderState::*table, const DxfGroups& g) {
  TraceScope t(code);
  auto e = namedEntry<DxfGroupsEntry>(g);
  e.groups.assign(g.list().begin(), g.list().end());
  return (dxfReader().*table).add(std::move(e));
}

std::int32_t addTextStyle(const DxfGroups& g) {
  TraceScope t("dxf410");
  auto e = namedEntry<DxfTextStyleEntry>(g);
  e.height = g.real(40);
  if (g.real(41) > 0.0) e.widthFactor = g.real(41);
  e.lastHeight = g.real(42);
  e.oblique = g.real(50);
  e.generation = g.integer(71);
  e.font = g.text(3);
  e.bigFont = g.text(4);
  return dxfReader().textStyles.add(std::move(e));
}

}  // namespace

void releaseDxfReader() {
  TraceScope t("stt849");
  DxfReaderState& s = dxfReader();
  s.layers.clear();
  s.lineTypes.clear();
  s.dimStyles.clear();
  s.textStyles.clear();
  s.blocks.clear();
  s.inserts.clear();
  s.dimensions.clear();
  s.groups = DxfGroups{};
  s.spareGroups = DxfGroups{};
  s.vertices.clear();
  s.header.dimensions.clear();
  s.block = std::vector<char>{};
  s.blockPos = s.blockEnd = 0;
  s.carry = std::string{};
  s.file = nullptr;
}

// ---------------------------------------------------------------------------
// Header

namespace {

void storeHeaderVariable(const std::string& name, const DxfGroup& value) {
  DxfHeader& h = dxfReader().header;
  if (name == "$ACADVER") {
    h.versionText = cut(dxfTrimmed(value.value), kDxfTextLength);
    h.version = DxfVersion::kUnknown;
    for (const VersionCode& v : kVersions)
      if (h.versionText == v.text) h.version = v.version;
    return;
  }
  if (name == "$TEXTSIZE") {
    h.textSize = dxfReal(value.value);
    h.hasTextSize = true;
    return;
  }
  const bool flag70 = value.code == 70;
  if (name == "$FILLMODE") {
    if (flag70) h.fillMode = dxfInteger(value.value);
    return;
  }
  if (name == "$SPLINETYPE") {
    if (flag70) h.splineType = dxfInteger(value.value);
    return;
  }
  if (name == "$DIMZIN" && !flag70) return;
  for (const char* d : kDimensionVariables) {
    if (name != d) continue;
    DxfHeaderValue v;
    v.code = value.code;
    if ((value.code >= 10 && value.code < 60) || (value.code >= 140 && value.code < 150))
      v.real = dxfReal(value.value);
    else if ((value.code >= 60 && value.code < 100) || (value.code >= 170 && value.code < 180) ||
             (value.code >= 270 && value.code < 290))
      v.integer = dxfInteger(value.value);
    else
      v.text = cut(value.value, kDxfTextLength);
    h.dimensions[name] = std::move(v);
    return;
  }
}

}  // namespace

int readHeader() {
  TraceScope t("stt840");
  DxfReaderState& s = dxfReader();
  DxfGroup& g = s.current;
  // The first groups only tell whether the file begins with a header; a
  // file that does not is read again from its start by the sections.
  s.quiet = true;
  int first = readGroup(g);
  // Comments (999) may stand before the first section.
  while (first == 0 && g.code == 999) first = readGroup(g);
  const bool header = first == 0 && isEntity(g, "SECTION") && readGroup(g) == 0 && g.code == 2 &&
                      dxfTrimmed(g.value) == "HEADER";
  s.quiet = false;
  if (!header) return -1;
  s.headerRead = true;
  s.end.section = "HEADER";
  if (readGroup(g) != 0) return 0;
  for (;;) {
    if (g.code == 0) {
      // ENDSEC; or, in a file whose header has no ENDSEC, the group that
      // follows it, which the sections take.
      if (dxfTrimmed(g.value) == "ENDSEC") {
        s.end.section.clear();
      } else {
        s.currentPending = true;
        if (dxfTrimmed(g.value) != "EOF") s.end.section.clear();
      }
      return 0;
    }
    if (g.code != 9) {
      if (readGroup(g) != 0) return 0;
      continue;
    }
    const std::string name = dxfTrimmed(g.value);
    // The variable's value is the group after its name; the three flag
    // variables take theirs only from a group 70 among the following ones.
    bool stored = false;
    for (;;) {
      if (readGroup(g) != 0) return 0;
      if (g.code == 0 || g.code == 9) break;
      const bool flagOnly = name == "$DIMZIN" || name == "$FILLMODE" || name == "$SPLINETYPE";
      if (!stored && (!flagOnly || g.code == 70)) {
        storeHeaderVariable(name, g);
        stored = true;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Sections

namespace {

// Moves on to the next group of code 0 in a section: false at the end of
// the file or of the section ("ENDSEC", or "EOF" where ENDSEC is missing),
// else true with the entity's name.
bool nextSectionEntity(std::string& name) {
  DxfReaderState& s = dxfReader();
  for (;;) {
    if (s.atEnd) return false;
    if (s.current.code == 0) break;
    if (readGroup(s.current) != 0) return false;
  }
  name.assign(trimmedView(s.current.value));
  return name != "ENDSEC" && name != "EOF";
}

int readTables() {
  TraceScope t("stt842");
  DxfReaderState& s = dxfReader();
  if (s.drawing == 0) {
    std::int32_t drawing = 0;
    if (mapDrawing(drawing) == 0) s.drawing = drawing;
  }
  if (readGroup(s.current) != 0) return 0;
  for (std::string name; nextSectionEntity(name);) {
    if (name != "TABLE") {
      readEntityGroups();
      continue;
    }
    // The table's head: its name (2) and the count of its entries (70).
    readEntityGroups();
    const std::string table = upperAscii(dxfTrimmed(s.groups.text(2)));
    const long count = s.groups.integer(70);
    if (table == "LAYER") s.layers.size(count, s.fileSize);
    else if (table == "LTYPE") s.lineTypes.size(count, s.fileSize);
    else if (table == "DIMSTYLE") s.dimStyles.size(count, s.fileSize);
    else if (table == "STYLE") s.textStyles.size(count, s.fileSize);
    while (!s.atEnd && s.current.code == 0) {
      const std::string entry(trimmedView(s.current.value));
      if (entry == "ENDTAB" || entry == "ENDSEC" || entry == "EOF" || entry == "TABLE") break;
      readEntityGroups();
      try {
        if (entry == "LAYER" && table == "LAYER") addLayer(s.groups);
        else if (entry == "LTYPE" && table == "LTYPE")
          addGroupsEntry("dxf210", &DxfReaderState::lineTypes, s.groups);
        else if (entry == "DIMSTYLE" && table == "DIMSTYLE")
          addGroupsEntry("dxf310", &DxfReaderState::dimStyles, s.groups);
        else if (entry == "STYLE" && table == "STYLE") addTextStyle(s.groups);
      } catch (const std::bad_alloc&) {
        mfaNoMemory(t.code());
      }
    }
    if (!s.atEnd && isEntity(s.current, "ENDTAB")) readEntityGroups();
  }
  return 0;
}

int readBlocks() {
  TraceScope t("stt844");
  DxfReaderState& s = dxfReader();
  if (readGroup(s.current) != 0) return 0;
  std::int32_t block = 0;
  for (std::string name; nextSectionEntity(name);) {
    if (name == "BLOCK") {
      const long line = s.current.line;
      readEntityGroups();
      // The blocks of model and paper space ("$MODEL_SPACE" in files of
      // R12, "*Model_Space" later, in any case) are no blocks: what they
      // hold belongs to their space.
      const std::string blockName = upperAscii(dxfTrimmed(s.groups.text(2)));
      const bool model = blockName == "$MODEL_SPACE" || blockName == "*MODEL_SPACE";
      const bool paper = blockName == "$PAPER_SPACE" || blockName == "*PAPER_SPACE";
      if (model || paper) {
        s.inPaperSpaceBlock = paper;
        block = 0;
        continue;
      }
      s.inPaperSpaceBlock = false;
      std::int32_t index = 0;
      if (mapBlock(index) != 0) {
        mfaSetPositionNumbers(line, line, 0);
        mfaWarning(t.code(), kMsgNotMapped, Channel::kProtocol);
        mfaClearPosition();
        block = 0;
        continue;
      }
      applyCommonAttributes(index, line, 0);
      try {
        s.blocks.push_back(DxfNamedElement{index, s.groups.text(2), 0});
      } catch (const std::bad_alloc&) {
        mfaNoMemory(t.code());
      }
      block = index;
      continue;
    }
    if (name == "ENDBLK") {
      readEntityGroups();
      block = 0;
      s.inPaperSpaceBlock = false;
      continue;
    }
    readEntity(block);
  }
  s.inPaperSpaceBlock = false;
  return 0;
}

int readEntities() {
  TraceScope t("stt846");
  DxfReaderState& s = dxfReader();
  if (readGroup(s.current) != 0) return 0;
  for (std::string name; nextSectionEntity(name);) readEntity(0);
  return 0;
}

using Mapping = int (*)(std::int32_t&);

struct EntityMapping {
  const char* name;
  Mapping map;
};

// The entities the mapping knows, by name.
constexpr EntityMapping kMappings[] = {
    {"LINE", mapLine},         {"POINT", mapPoint},       {"CIRCLE", mapCircle},
    {"ARC", mapArc},           {"TRACE", mapSolid},       {"SOLID", mapSolid},
    {"TEXT", mapText},         {"MTEXT", mapMText},       {"SHAPE", mapShape},
    {"INSERT", mapInsert},     {"POLYLINE", mapPolyline}, {"VIEWPORT", mapViewport},
    {"DIMENSION", mapDimension}, {"ATTDEF", mapAttDef},   {"ATTRIB", mapAttrib},
    {"3DFACE", mapFace},
};

// The VERTEX entities after a POLYLINE up to its SEQEND, as the vertices
// the mapping takes; the group store keeps the POLYLINE's own groups (the
// vertices' groups go to the spare store).  -1 (error 370) when memory
// fails.
int readVertices() {
  DxfReaderState& s = dxfReader();
  int result = 0;
  s.vertices.clear();
  try {
    while (!s.atEnd && isEntity(s.current, "VERTEX")) {
      readEntityGroupsInto(s.spareGroups);
      const DxfGroups& v = s.spareGroups;
      s.vertices.push_back(DxfVertex{v.point(10), v.real(42), v.integer(70)});
    }
    if (!s.atEnd && isEntity(s.current, "SEQEND")) readEntityGroupsInto(s.spareGroups);
  } catch (const std::bad_alloc&) {
    mfaNoMemory("stt847");
    result = -1;
  }
  return result;
}

}  // namespace

std::int32_t readEntity(std::int32_t father) {
  TraceScope t("stt847");
  DxfReaderState& s = dxfReader();
  const std::string name(trimmedView(s.current.value));
  const long line = s.current.line;
  readEntityGroups();
  Mapping map = nullptr;
  for (const EntityMapping& m : kMappings)
    if (std::string_view(name) == m.name) map = m.map;
  if (map == nullptr) {
    // Not mapped: recorded in the scratch slot and not converted.
    if (name != "ENDBLK" && name != "ENDSEC") {
      ElementRecord& scratch = element(0);
      scratch.type = 9999;
      scratch.de.sequence = static_cast<std::int32_t>(std::min<long>(line, INT32_MAX));
      ++s.entitiesSkipped;
      // The end of a list of attributes is no content of its own.
      if (name != "SEQEND") {
        try {
          ++s.skippedByName[name];
        } catch (const std::bad_alloc&) {
          mfaNoMemory(t.code());
        }
      }
    }
    return 0;
  }
  std::int32_t index = 0;
  s.members.clear();
  s.companions.clear();
  if ((name == "POLYLINE" && readVertices() != 0) || map(index) != 0 || !isElementIndex(index)) {
    mfaSetPositionNumbers(line, line, 0);
    mfaWarning(t.code(), kMsgNotMapped, Channel::kProtocol);
    mfaClearPosition();
    return 0;
  }
  std::vector<std::int32_t> copies;
  try {
    if (name == "INSERT") {
      s.inserts.push_back(DxfNamedElement{index, s.groups.text(2), father});
      mapInsertArray(index, copies);
      for (std::int32_t c : copies) s.inserts.push_back(DxfNamedElement{c, s.groups.text(2), father});
    }
    if (name == "DIMENSION") s.dimensions.push_back(DxfNamedElement{index, s.groups.text(2), father});
  } catch (const std::bad_alloc&) {
    mfaNoMemory(t.code());
  }
  applyCommonAttributes(index, line, father);
  applyMemberAttributes(index);
  for (std::int32_t c : copies) applyCommonAttributes(c, line, father);
  for (std::int32_t c : s.companions) applyCommonAttributes(c, line, father);
  s.members.clear();
  s.companions.clear();
  return index;
}

// ---------------------------------------------------------------------------
// Links

namespace {

// The dimension takes over the son list of its geometry block: the sons
// now name the dimension as their father where they named the block.
void takeOverSons(std::int32_t block, std::int32_t dimension) {
  ElementRecord& b = element(block);
  ElementRecord& d = element(dimension);
  if (d.sons != nullptr) return;
  d.sons = b.sons;
  d.sonCount = b.sonCount;
  d.sonCursor = d.sonCursor2 = d.sons;
  if (b.sonRunTails() != nullptr) {
    d.sideRecord().sonRunTails = std::move(b.side->sonRunTails);
  } else if (d.side) {
    d.side->sonRunTails.reset();
  }
  d.sonsUnordered = b.sonsUnordered;
  b.sons = b.sonCursor = b.sonCursor2 = nullptr;
  b.sonCount = 0;
  b.sonsUnordered = false;
  for (LinkNode* n = d.sons; n != nullptr; n = n->next) {
    if (!isElementIndex(n->index)) continue;
    ElementRecord& son = element(n->index);
    if (auto* lookup = son.fatherLookup()) {
      const auto it = lookup->find(block);
      if (it != lookup->end()) {
        LinkNode* first = it->second;
        lookup->erase(it);
        lookup->emplace(dimension, first);
      }
    }
    for (LinkNode* f = son.fathers; f != nullptr; f = f->next)
      if (f->index == block) f->index = dimension;
    son.fatherCursor = son.fathers;
  }
  ElementTable& table = elementTable();
  ++table.linkGeneration;
  ++table.cursorGeneration;
}

}  // namespace

int linkBlocks() {
  TraceScope t("stt845");
  DxfReaderState& s = dxfReader();
  int result = 0;
  try {
    std::unordered_map<std::string, std::size_t> byName;  // the last block of a name
    std::unordered_map<std::int32_t, std::size_t> positionOf;
    for (std::size_t k = 0; k < s.blocks.size(); ++k) {
      byName[upperAscii(s.blocks[k].name)] = k;
      positionOf[s.blocks[k].index] = k;
    }
    std::vector<std::vector<int>> edges(s.blocks.size());
    std::vector<long> target(s.inserts.size(), -1);
    for (std::size_t k = 0; k < s.inserts.size(); ++k) {
      const auto found = byName.find(upperAscii(s.inserts[k].name));
      if (found == byName.end()) continue;
      target[k] = static_cast<long>(found->second);
      const auto holder = positionOf.find(s.inserts[k].father);
      if (holder != positionOf.end()) edges[holder->second].push_back(static_cast<int>(found->second));
    }
    const std::vector<int> component = stronglyConnectedComponents(edges);
    for (std::size_t k = 0; k < s.inserts.size(); ++k) {
      if (target[k] < 0) continue;
      const DxfNamedElement& insert = s.inserts[k];
      const DxfNamedElement& block = s.blocks[static_cast<std::size_t>(target[k])];
      const auto holder = positionOf.find(insert.father);
      if (holder != positionOf.end() &&
          component[holder->second] == component[static_cast<std::size_t>(target[k])]) {
        // The block would insert itself: reported, not followed.
        mfaSetPosition(insert.index, 0);
        const std::string shownName = mfaCurrentName();
        mfaSetCurrentName(block.name);
        mfaError(t.code(), kMsgSelfContaining, s.cyclesBroken == 0 ? Channel::kBoth : Channel::kProtocol);
        mfaSetCurrentName(shownName);
        mfaClearPosition();
        ++s.cyclesBroken;
        setStateRaw(insert.index, ElementState::kError);
        continue;
      }
      if (linkFatherSon(insert.index, block.index) != 0) continue;
      ElementRecord& e = element(insert.index);
      auto* rec = dynamic_cast<InstanceRecord*>(e.params.get());
      const auto* def = dynamic_cast<const BlockRecord*>(element(block.index).params.get());
      if (rec != nullptr) {
        rec->definition = block.index;
        if (def != nullptr) rec->blockFlags |= def->blockFlags;
      }
      if (def != nullptr && e.matrix != nullptr) {
        // The block's base point is the insertion point's place in it.
        Transform base;
        base.t[0] = -def->base.x;
        base.t[1] = -def->base.y;
        base.t[2] = -def->base.z;
        *e.matrix = composeTransforms(*e.matrix, base);
      }
    }
    std::unordered_map<std::int32_t, std::int32_t> takenBy;  // block -> the dimension that took its sons
    for (const DxfNamedElement& dimension : s.dimensions) {
      const auto found = byName.find(upperAscii(dimension.name));
      if (found == byName.end()) continue;  // no block: the dimension keeps no sons
      const std::int32_t block = s.blocks[found->second].index;
      const auto taken = takenBy.find(block);
      if (taken == takenBy.end()) {
        takeOverSons(block, dimension.index);
        takenBy.emplace(block, dimension.index);
        continue;
      }
      // A second dimension of the same block gets the same parts.
      std::vector<std::int32_t> parts;
      for (const LinkNode* n = element(taken->second).sons; n != nullptr; n = n->next)
        if (isElementIndex(n->index)) parts.push_back(n->index);
      for (std::int32_t p : parts) linkFatherSon(dimension.index, p);
    }
  } catch (const std::bad_alloc&) {
    mfaNoMemory(t.code());
    result = -1;
  }
  // The names are no longer needed.
  s.inserts.clear();
  s.inserts.shrink_to_fit();
  s.dimensions.clear();
  s.dimensions.shrink_to_fit();
  makeViewLevelLists();
  return result;
}

namespace {

// Warning 979 once per name of the entities that were not converted, with
// how often the name came, in the order of the names.
void reportSkippedEntities() {
  DxfReaderState& s = dxfReader();
  std::vector<std::pair<std::string, long>> names(s.skippedByName.begin(), s.skippedByName.end());
  std::sort(names.begin(), names.end());
  for (const auto& [name, count] : names)
    mfaReport("stt847", kMsgEntitySkipped, Channel::kProtocol, Severity::kWarning, {count}, {}, name, nullptr);
}

// Once per kind of entity read that the conversion cannot carry, with how
// many there were (warnings 982 to 984); their elements stay unconverted.
void reportNotCarried() {
  const DxfReaderState& s = dxfReader();
  constexpr int kMessages[DxfNotCarried::kCount] = {kMsgShapes, kMsgInvisibleAttributes, kMsgAttributeTemplates};
  for (int kind = 0; kind < DxfNotCarried::kCount; ++kind)
    if (s.notCarried[kind] > 0)
      mfaReport("stt847", kMessages[kind], Channel::kBoth, Severity::kWarning, {s.notCarried[kind]}, {}, "", nullptr);
}

// Error 985, 986 or 987 when the file ended inside a section, inside an
// entity or without its end mark "0 EOF": the line where it ended, and
// the section or the entity.  What was read is converted all the same.
void reportFileEnd() {
  DxfReaderState& s = dxfReader();
  const DxfFileEnd& end = s.end;
  int number = 0;
  std::string what;
  std::vector<long> ints{s.line};
  if (!end.entity.empty()) {
    number = kMsgEndsInEntity;
    what = end.entity;
    ints.push_back(end.entityLine);
  } else if (!end.section.empty()) {
    number = kMsgEndsInSection;
    what = end.section;
  } else if (!end.eofMark) {
    number = kMsgEndsWithoutEof;
  } else {
    return;
  }
  mfaReport("stt200", number, Channel::kBoth, Severity::kError, ints, {}, cut(what, kDxfTextLength), nullptr);
}

}  // namespace


int readDxfSections() {
  TraceScope t("stt200");
  DxfReaderState& s = dxfReader();
  bool sectionMet = s.headerRead;
  while (!s.atEnd) {
    if (s.currentPending) s.currentPending = false;
    else if (readGroup(s.current) != 0) break;
    if (s.current.code != 0) continue;
    const std::string name = dxfTrimmed(s.current.value);
    if (name == "EOF") break;
    if (name != "SECTION") continue;
    sectionMet = true;
    if (readGroup(s.current) != 0) break;
    const std::string section = s.current.code == 2 ? dxfTrimmed(s.current.value) : std::string();
    s.end.section = section.empty() ? "?" : section;
    if (section == "TABLES") {
      readTables();
      ++s.tablesRead;
    } else if (section == "BLOCKS") {
      readBlocks();
      ++s.blocksRead;
    } else if (section == "ENTITIES") {
      readEntities();
      ++s.entitiesRead;
    } else if (!isEntity(s.current, "ENDSEC")) {
      skipSection();
    }
    // A section ends with its ENDSEC; one that the end of the file or its
    // end mark ends is reported below.
    if (s.atEnd || !isEntity(s.current, "ENDSEC")) break;
    s.end.section.clear();
  }
  if (sectionMet) reportFileEnd();
  if (s.tablesRead == 0) mfaWarning(t.code(), kMsgNoTables, Channel::kBoth);
  if (s.blocksRead == 0) mfaWarning(t.code(), kMsgNoBlocks, Channel::kBoth);
  if (s.entitiesRead == 0) mfaWarning(t.code(), kMsgNoEntities, Channel::kBoth);
  if (s.cutValues > kDxfCutValuesListed)
    mfaReport(t.code(), kMsgCutValuesSummed, Channel::kBoth, Severity::kNote,
              {s.cutValues - kDxfCutValuesListed, s.firstUnlistedCut, s.lastUnlistedCut}, {}, "", nullptr);
  if (s.tablesRead == 0 && s.blocksRead == 0 && s.entitiesRead == 0) {
    mfaError(t.code(), kMsgNoSection, Channel::kBoth50);
    return -8;
  }
  linkBlocks();
  reportSkippedEntities();
  reportNotCarried();
  return 0;
}

int readDxfFile(std::FILE* file) {
  dxfReaderAttach(file);
  const long start = file != nullptr ? std::ftell(file) : 0;
  if (readHeader() != 0 && file != nullptr) {
    std::fseek(file, start, SEEK_SET);
    dxfReaderAttach(file);
  }
  freeTable();
  resetTable();
  allocateTable(100);
  return readDxfSections();
}

#include "iges_out/dxf_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "iges_out/number_text.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/large_pages.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/product.h"
#include "support/run_state.h"
#include "support/time_stamp.h"
#include "support/trace.h"

namespace {

constexpr int kDefaultLimitDecimals = 8;
constexpr int kMaxLimitDecimals = 16;
// The line type of a layer when the run has no DXF line types at all; it is
// then defined in the table as a continuous line so the name resolves.
constexpr const char* kUnknownLineType = "unknown";

constexpr int kMsgCannotWrite = 1300;
constexpr int kMsgCannotCreate = 1301;
// The least and the most a new piece of a section's text holds.
constexpr std::size_t kLeastPiece = std::size_t{64} << 10;
constexpr std::size_t kMostPiece = std::size_t{8} << 20;

// Appends text to a section; memory that runs out marks the run's DXF
// output as failed.
void put(DxfSection which, std::string_view text) {
  DxfWriterState& s = dxfWriter();
  if (s.failed) return;
  try {
    s.sections[which].append(text);
  } catch (const std::bad_alloc&) {
    s.failed = true;
  }
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

// One group: the code right-aligned in three columns on its line, the value
// on the next.  Every group of the file is made here; an entity's groups
// are gathered and written at once.
struct CodeLines {
  char text[1000][4];  // "%3d\n" of 0..999
};
constexpr CodeLines makeCodeLines() {
  CodeLines lines{};
  for (int code = 0; code < 1000; ++code) {
    char* line = lines.text[code];
    line[0] = code < 100 ? ' ' : static_cast<char>('0' + code / 100);
    line[1] = code < 10 ? ' ' : static_cast<char>('0' + code / 10 % 10);
    line[2] = static_cast<char>('0' + code % 10);
    line[3] = '\n';
  }
  return lines;
}
constexpr CodeLines kCodeLines = makeCodeLines();

void appendCode(std::string& out, int code) {
  if (code >= 0 && code < 1000) {
    out.append(kCodeLines.text[code], 4);
    return;
  }
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, code).ptr;
  if (end - digits < 3) out.append(static_cast<std::size_t>(3 - (end - digits)), ' ');
  out.append(digits, end);
  out += '\n';
}
void appendGroup(std::string& out, int code, std::string_view value) {
  appendCode(out, code);
  out.append(value);
  out += '\n';
}
void appendGroup(std::string& out, int code, long value) {
  appendCode(out, code);
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
  out += '\n';
}
// A coordinate or length with `decimals` places (a value that is not finite
// as 0), as "%.*f" prints it.
void appendGroup(std::string& out, int code, double value, int decimals = 8) {
  // 309 integer digits, a sign, the point and the decimals, the line feed.
  char text[420];
  char* end = text;
  if (code >= 0 && code < 1000) {
    std::memcpy(text, kCodeLines.text[code], 4);
    end += 4;
  } else {
    appendCode(out, code);
  }
  end = fixedText(end, finiteOrZero(value), decimals < 0 ? 6 : std::min(decimals, 17));
  *end++ = '\n';
  out.append(text, end);
}
// The groups of one entity, gathered (emptied for it).
std::string& groups() {
  std::string& text = dxfWriter().group;
  text.clear();
  return text;
}
template <class Value>
void tag(DxfSection section, int code, Value value) {
  std::string& text = groups();
  appendGroup(text, code, value);
  put(section, text);
}
void tag(DxfSection section, int code, const char* value) { tag(section, code, std::string_view(value)); }
void tag(DxfSection section, int code, const std::string& value) { tag(section, code, std::string_view(value)); }
void tag(DxfSection section, int code, double value, int decimals) {
  std::string& text = groups();
  appendGroup(text, code, value, decimals);
  put(section, text);
}

// The integer part of a width, bounded so that a wild value cannot
// overflow; not-a-number counts as 0.
long widthPart(double width) {
  if (!(width == width)) return 0;
  constexpr double kBound = 1e9;
  if (width > kBound) return static_cast<long>(kBound);
  if (width < -kBound) return static_cast<long>(-kBound);
  return static_cast<long>(width);
}

}  // namespace

DxfSectionText::DxfSectionText(DxfSectionText&& other) noexcept
    : pieces_(std::move(other.pieces_)), size_(other.size_) {
  other.pieces_.clear();
  other.size_ = 0;
}

DxfSectionText& DxfSectionText::operator=(DxfSectionText&& other) noexcept {
  if (this != &other) {
    release();
    pieces_ = std::move(other.pieces_);
    size_ = other.size_;
    other.pieces_.clear();
    other.size_ = 0;
  }
  return *this;
}

char* DxfSectionText::room(std::size_t most) {
  if (pieces_.empty() || pieces_.back().capacity - pieces_.back().size < most) {
    if (pieces_.size() == pieces_.capacity()) pieces_.reserve(std::max<std::size_t>(2 * pieces_.size(), 8));
    Piece piece;
    piece.capacity = std::max(most, std::clamp(size_, kLeastPiece, kMostPiece));
    piece.text = static_cast<char*>(::operator new(piece.capacity));
    adviseLargePages(piece.text, piece.capacity);
    pieces_.push_back(piece);
  }
  return pieces_.back().text + pieces_.back().size;
}

void DxfSectionText::append(std::string_view text) {
  if (text.empty()) return;
  std::memcpy(room(text.size()), text.data(), text.size());
  pieces_.back().size += text.size();
  size_ += text.size();
}

std::size_t DxfSectionText::capacity() const {
  std::size_t bytes = 0;
  for (const Piece& p : pieces_) bytes += p.capacity;
  return bytes;
}

std::string DxfSectionText::joined() const {
  std::string text;
  text.reserve(size_);
  for (const Piece& p : pieces_) text.append(p.text, p.size);
  return text;
}

void DxfSectionText::giveBack(Piece& piece) {
  ::operator delete(piece.text, piece.capacity);
  piece = Piece();
}

void DxfSectionText::release() {
  for (Piece& p : pieces_) giveBack(p);
  pieces_ = std::vector<Piece>();
  size_ = 0;
}

DxfWriterState& dxfWriter() {
  static DxfWriterState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DXF writer", resetDxfWriter);

void resetDxfWriter() { dxfWriter() = DxfWriterState{}; }

int startDxfSections() {
  TraceScope t("stt100");
  DxfWriterState& s = dxfWriter();
  for (DxfSectionText& section : s.sections) section.release();
  s.failed = false;
  tag(kDxfBlocks, 0, "SECTION");
  tag(kDxfBlocks, 2, "BLOCKS");
  tag(kDxfEntities, 0, "SECTION");
  tag(kDxfEntities, 2, "ENTITIES");
  return s.failed ? -1 : 0;
}

std::string dxfLayerName(std::int32_t lineStyle, double width) {
  return std::string("L")
      .append(std::to_string(lineStyle))
      .append("S")
      .append(std::to_string(widthPart(width)));
}

namespace {

// The name of the layer of (line style, width), the layer made when new.
const std::string& layerNameOf(std::int32_t lineStyle, double width) {
  DxfLayerList& list = dxfWriter().layerList;
  const auto key = std::make_pair(lineStyle, widthPart(width));
  if (list.lastKnown && list.lastKey == key) return list.layers[list.last].name;
  auto found = list.index.find(key);
  if (found == list.index.end()) {
    DxfLayer layer;
    layer.name = dxfLayerName(lineStyle, width);
    layer.lineStyle = lineStyle;
    layer.width = width;
    const std::vector<DxfLineType>& types = assignTables().dxfLineTypes;
    layer.lineType = types.empty() ? kUnknownLineType : types.front().name;
    for (const DxfLineType& type : types) {
      if (type.style == lineStyle) {
        layer.lineType = type.name;
        break;
      }
    }
    list.layers.push_back(layer);
    found = list.index.emplace(key, list.layers.size() - 1).first;
  }
  list.lastKey = key;
  list.last = found->second;
  list.lastKnown = true;
  return list.layers[found->second].name;
}

// The head of an entity: its kind and its layer group.
std::string& entityHead(std::string_view kind, std::int32_t lineStyle, double width) {
  TraceScope t("dxf105");
  std::string& text = groups();
  appendGroup(text, 0, kind);
  appendGroup(text, 8, layerNameOf(lineStyle, width));
  return text;
}

}  // namespace

int dxfLayerOf(DxfSection section, std::int32_t lineStyle, double width) {
  TraceScope t("dxf105");
  tag(section, 8, layerNameOf(lineStyle, width));
  return 0;
}

int writeDxfComment() {
  TraceScope t("sse100");
  const DxfSection f = kDxfStart;
  tag(f, 999, std::string(" ") + kProductTitle + " (" + buildDate() + ")");
  tag(f, 999, " file created : " + timeStamp(2));
  return dxfWriter().failed ? -1 : 0;
}

int dxfLimitDecimals() {
  const RunSettings& s = runSettings();
  if (!s.precisionSet || !(s.precision == s.precision)) return kDefaultLimitDecimals;
  if (s.precision < 0) return 0;
  if (s.precision > kMaxLimitDecimals) return kMaxLimitDecimals;
  return static_cast<int>(s.precision);
}

int writeDxfHeader(const DxfExtents& extents, int decimals) {
  TraceScope t("gte100");
  const DxfSection f = kDxfHeader;
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxLimitDecimals) decimals = kMaxLimitDecimals;
  tag(f, 0, "SECTION");
  tag(f, 2, "HEADER");
  // Header variables: the name, then the value with its own code.
  struct Fixed {
    const char* name;
    int code;
    const char* value;
  };
  static constexpr Fixed kFixed[] = {{"$ANGBASE", 50, " 0.0"},
                                     {"$ANGDIR", 70, " 0"},
                                     {"$PDMODE", 70, " 1"},
                                     {"$LTSCALE", 40, " 3"},
                                     {"$DWGCODEPAGE", 3, "dos850"}};
  for (const Fixed& v : kFixed) {
    tag(f, 9, v.name);
    tag(f, v.code, v.value);
  }
  tag(f, 9, "$LIMMAX");
  tag(f, 10, extents.xmax, decimals);
  tag(f, 20, extents.ymax, decimals);
  tag(f, 9, "$LIMMIN");
  tag(f, 10, extents.xmin, decimals);
  tag(f, 20, extents.ymin, decimals);
  tag(f, 0, "ENDSEC");
  return dxfWriter().failed ? -1 : 0;
}

namespace {

// One line-type record of the LTYPE table.
void writeLineType(DxfSection f, const std::string& name, const std::string& description,
                   const std::vector<double>& elements, double patternLength) {
  tag(f, 0, "LTYPE");
  tag(f, 2, name);
  tag(f, 70, "    64");
  tag(f, 3, description);
  tag(f, 72, "    65");
  tag(f, 73, static_cast<long>(elements.size()));
  tag(f, 40, patternLength, 6);
  for (const double e : elements) tag(f, 49, e, 6);
}

// The layer table: every layer an entity used.
void writeLayerTable(DxfSection f) {
  TraceScope t("dxf150");
  const DxfLayerList& list = dxfWriter().layerList;
  tag(f, 0, "TABLE");
  tag(f, 2, "LAYER");
  tag(f, 70, static_cast<long>(list.layers.size()));
  for (const DxfLayer& layer : list.layers) {
    tag(f, 0, "LAYER");
    tag(f, 2, layer.name);
    tag(f, 70, "    64");
    tag(f, 6, layer.lineType);
  }
  tag(f, 0, "ENDTAB");
}

}  // namespace

int writeDxfTables() {
  TraceScope t("gte110");
  const DxfSection f = kDxfTables;
  const std::vector<DxfLineType>& types = assignTables().dxfLineTypes;
  bool unknownUsed = false;
  if (types.empty()) {
    for (const DxfLayer& layer : dxfWriter().layerList.layers)
      unknownUsed = unknownUsed || layer.lineType == kUnknownLineType;
  }
  tag(f, 0, "SECTION");
  tag(f, 2, "TABLES");
  tag(f, 0, "TABLE");
  tag(f, 2, "LTYPE");
  tag(f, 70, static_cast<long>(types.size() + (unknownUsed ? 1 : 0)));
  for (const DxfLineType& type : types)
    writeLineType(f, type.name, type.description, type.elements, type.patternLength);
  if (unknownUsed) writeLineType(f, kUnknownLineType, "", {}, 0.0);
  tag(f, 0, "ENDTAB");
  writeLayerTable(f);
  tag(f, 0, "ENDSEC");
  return dxfWriter().failed ? -1 : 0;
}

int dxfWritePoint(double x, double y, std::int32_t lineStyle, double width) {
  TraceScope t("vds200");
  std::string& text = entityHead("POINT", lineStyle, width);
  appendGroup(text, 10, x);
  appendGroup(text, 20, y);
  put(kDxfEntities, text);
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteLine(const double start[3], const double end[3], std::int32_t lineStyle,
                 double width) {
  TraceScope t("vds240");
  std::string& text = entityHead("LINE", lineStyle, width);
  for (int i = 0; i < 3; ++i) appendGroup(text, 10 + 10 * i, start[i]);
  for (int i = 0; i < 3; ++i) appendGroup(text, 11 + 10 * i, end[i]);
  put(kDxfEntities, text);
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteArc(double centreX, double centreY, double radius, bool fullCircle,
                double startAngle, double endAngle, std::int32_t lineStyle, double width) {
  TraceScope t("vds280");
  std::string& text = entityHead(fullCircle ? "CIRCLE" : "ARC", lineStyle, width);
  appendGroup(text, 10, centreX);
  appendGroup(text, 20, centreY);
  appendGroup(text, 40, radius);
  if (!fullCircle) {
    appendGroup(text, 50, startAngle);
    appendGroup(text, 51, endAngle);
  }
  put(kDxfEntities, text);
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteLineBlock(const std::vector<DxfSegment>& segments, std::int32_t lineStyle,
                      double width) {
  TraceScope t("vds300");
  DxfWriterState& s = dxfWriter();
  if (s.blockNumber == std::numeric_limits<std::int32_t>::max()) return -1;
  const std::string name = "*X" + std::to_string(++s.blockNumber);
  const DxfSection b = kDxfBlocks;
  tag(b, 0, "BLOCK");
  dxfLayerOf(b, lineStyle, width);
  tag(b, 2, name);
  tag(b, 70, "     65");
  tag(b, 10, "0.0");
  tag(b, 20, "0.0");
  tag(b, 30, "0");
  for (const DxfSegment& seg : segments) {
    tag(b, 0, "LINE");
    dxfLayerOf(b, lineStyle, width);
    tag(b, 10, seg.x1);
    tag(b, 20, seg.y1);
    tag(b, 11, seg.x2);
    tag(b, 21, seg.y2);
  }
  tag(b, 0, "ENDBLK");
  const DxfSection e = kDxfEntities;
  tag(e, 0, "INSERT");
  dxfLayerOf(e, lineStyle, width);
  tag(e, 2, name);
  tag(e, 10, "0.0");
  tag(e, 20, "0.0");
  tag(e, 30, "0.0");
  return s.failed ? -1 : 0;
}

int finishDxfOutput(const DxfExtents& extents, const std::string& outputName) {
  TraceScope t("stt100");
  DxfWriterState& s = dxfWriter();
  tag(kDxfBlocks, 0, "ENDSEC");
  // The file's end marker follows the last section.
  tag(kDxfEntities, 0, "ENDSEC");
  tag(kDxfEntities, 0, "EOF");
  writeDxfHeader(extents, dxfLimitDecimals());
  writeDxfTables();
  if (s.failed) {
    for (DxfSectionText& section : s.sections) section.release();
    mfaReport(t.code(), 980, Channel::kBoth, Severity::kError, {}, {}, outputName, nullptr);
    return -4;
  }
  OutputFile out;
  bool written = out.create(outputName);
  const int message = written ? kMsgCannotWrite : kMsgCannotCreate;
  // Each piece's memory is given back once it is written, so that the
  // file's pages can take it.
  for (DxfSectionText& section : s.sections)
    written = section.writeOut([&](std::string_view piece) { return written && out.write(piece); });
  if (!written || !out.commit()) {
    out.discard();
    mfaReport(t.code(), message, Channel::kBoth, Severity::kError, {}, {}, out.failureText(), nullptr);
    return -4;
  }
  if (runSettings().traceLevel > 0)
    std::printf("-> stt100 : Name der erzeugten Datei : %s\n", outputName.c_str());
  return 0;
}

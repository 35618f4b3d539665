#include "iges_out/dxf_writer.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <limits>

#include "iges_out/section_files.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
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

// Writes formatted text to a section file; a failed write marks the run's
// DXF output as failed.
__attribute__((format(printf, 2, 3))) void put(std::FILE* file, const char* format, ...) {
  DxfWriterState& s = dxfWriter();
  if (file == nullptr) {
    s.failed = true;
    return;
  }
  va_list args;
  va_start(args, format);
  if (std::vfprintf(file, format, args) < 0) {
    if (!s.failed) noteSectionWriteFailure(file, errno);
    s.failed = true;
  }
  va_end(args);
}

std::FILE* section(DxfSection which) { return dxfWriter().files[which]; }

// The integer part of a width, bounded so that a wild value cannot
// overflow; not-a-number counts as 0.
long widthPart(double width) {
  if (!(width == width)) return 0;
  constexpr double kBound = 1e9;
  if (width > kBound) return static_cast<long>(kBound);
  if (width < -kBound) return static_cast<long>(-kBound);
  return static_cast<long>(width);
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

}  // namespace

DxfWriterState& dxfWriter() {
  static DxfWriterState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DXF writer", resetDxfWriter);

void resetDxfWriter() {
  DxfWriterState& s = dxfWriter();
  discardSectionFileSet(s.files, s.paths, kDxfSectionCount);
  s = DxfWriterState{};
}

int openDxfSectionFiles() {
  TraceScope t("stt100");
  DxfWriterState& s = dxfWriter();
  const RunPaths& p = runPaths();
  const std::string names[kDxfSectionCount] = {p.dxfStartFile, p.dxfHeaderFile, p.dxfTablesFile,
                                               p.dxfBlocksFile, p.dxfEntitiesFile};
  if (openSectionFileSet(names, kDxfSectionCount, s.files, s.paths, t.code()) != 0) return -1;
  put(section(kDxfBlocks), "  0\nSECTION\n  2\nBLOCKS\n");
  put(section(kDxfEntities), "  0\nSECTION\n  2\nENTITIES\n");
  return s.failed ? -1 : 0;
}

std::string dxfLayerName(std::int32_t lineStyle, double width) {
  return std::string("L")
      .append(std::to_string(lineStyle))
      .append("S")
      .append(std::to_string(widthPart(width)));
}

int dxfLayerOf(std::FILE* stream, std::int32_t lineStyle, double width) {
  TraceScope t("dxf105");
  DxfLayerList& list = dxfWriter().layerList;
  const auto key = std::make_pair(lineStyle, widthPart(width));
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
  put(stream, "  8\n%s\n", list.layers[found->second].name.c_str());
  return 0;
}

int writeDxfComment() {
  TraceScope t("sse100");
  std::FILE* f = section(kDxfStart);
  put(f, "999\n");
  put(f, " %s (%s)\n", kProductTitle, buildDate().c_str());
  put(f, "999\n");
  put(f, " file created : %s\n", timeStamp(2).c_str());
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
  std::FILE* f = section(kDxfHeader);
  if (decimals < 0) decimals = 0;
  if (decimals > kMaxLimitDecimals) decimals = kMaxLimitDecimals;
  put(f, "  0\nSECTION\n  2\nHEADER\n");
  put(f, "  9\n$ANGBASE\n 50\n 0.0\n");
  put(f, "  9\n$ANGDIR\n 70\n 0\n");
  put(f, "  9\n$PDMODE\n 70\n 1\n");
  put(f, "  9\n$LTSCALE\n 40\n 3\n");
  put(f, "  9\n$DWGCODEPAGE\n  3\ndos850\n");
  put(f, "  9\n$LIMMAX\n 10\n%.*f\n 20\n%.*f\n", decimals, finiteOrZero(extents.xmax), decimals,
      finiteOrZero(extents.ymax));
  put(f, "  9\n$LIMMIN\n 10\n%.*f\n 20\n%.*f\n", decimals, finiteOrZero(extents.xmin), decimals,
      finiteOrZero(extents.ymin));
  put(f, "  0\nENDSEC\n");
  return dxfWriter().failed ? -1 : 0;
}

namespace {

// One line-type record of the LTYPE table.
void writeLineType(std::FILE* f, const std::string& name, const std::string& description,
                   const std::vector<double>& elements, double patternLength) {
  put(f, "  0\nLTYPE\n");
  put(f, "  2\n%s\n", name.c_str());
  put(f, " 70\n    64\n");
  put(f, "  3\n%s\n", description.c_str());
  put(f, " 72\n    65\n");
  put(f, " 73\n%ld\n", static_cast<long>(elements.size()));
  put(f, " 40\n%f\n", finiteOrZero(patternLength));
  for (const double e : elements) put(f, " 49\n%f\n", finiteOrZero(e));
}

// The layer table: every layer an entity used.
void writeLayerTable(std::FILE* f) {
  TraceScope t("dxf150");
  const DxfLayerList& list = dxfWriter().layerList;
  put(f, "  0\nTABLE\n  2\nLAYER\n");
  put(f, " 70\n%ld\n", static_cast<long>(list.layers.size()));
  for (const DxfLayer& layer : list.layers) {
    put(f, "  0\nLAYER\n");
    put(f, "  2\n%s\n", layer.name.c_str());
    put(f, " 70\n    64\n");
    put(f, "  6\n%s\n", layer.lineType.c_str());
  }
  put(f, "  0\nENDTAB\n");
}

}  // namespace

int writeDxfTables() {
  TraceScope t("gte110");
  std::FILE* f = section(kDxfTables);
  const std::vector<DxfLineType>& types = assignTables().dxfLineTypes;
  bool unknownUsed = false;
  if (types.empty()) {
    for (const DxfLayer& layer : dxfWriter().layerList.layers)
      unknownUsed = unknownUsed || layer.lineType == kUnknownLineType;
  }
  put(f, "  0\nSECTION\n  2\nTABLES\n");
  put(f, "  0\nTABLE\n  2\nLTYPE\n");
  put(f, " 70\n%ld\n", static_cast<long>(types.size() + (unknownUsed ? 1 : 0)));
  for (const DxfLineType& type : types)
    writeLineType(f, type.name, type.description, type.elements, type.patternLength);
  if (unknownUsed) writeLineType(f, kUnknownLineType, "", {}, 0.0);
  put(f, "  0\nENDTAB\n");
  writeLayerTable(f);
  put(f, "  0\nENDSEC\n");
  return dxfWriter().failed ? -1 : 0;
}

int dxfWritePoint(double x, double y, std::int32_t lineStyle, double width) {
  TraceScope t("vds200");
  std::FILE* f = section(kDxfEntities);
  put(f, "  0\nPOINT\n");
  dxfLayerOf(f, lineStyle, width);
  put(f, " 10\n%.8f\n 20\n%.8f\n", finiteOrZero(x), finiteOrZero(y));
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteLine(const double start[3], const double end[3], std::int32_t lineStyle,
                 double width) {
  TraceScope t("vds240");
  std::FILE* f = section(kDxfEntities);
  put(f, "  0\nLINE\n");
  dxfLayerOf(f, lineStyle, width);
  put(f, " 10\n%.8f\n 20\n%.8f\n 30\n%.8f\n", finiteOrZero(start[0]), finiteOrZero(start[1]),
      finiteOrZero(start[2]));
  put(f, " 11\n%.8f\n 21\n%.8f\n 31\n%.8f\n", finiteOrZero(end[0]), finiteOrZero(end[1]),
      finiteOrZero(end[2]));
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteArc(double centreX, double centreY, double radius, bool fullCircle,
                double startAngle, double endAngle, std::int32_t lineStyle, double width) {
  TraceScope t("vds280");
  std::FILE* f = section(kDxfEntities);
  put(f, fullCircle ? "  0\nCIRCLE\n" : "  0\nARC\n");
  dxfLayerOf(f, lineStyle, width);
  put(f, " 10\n%.8f\n 20\n%.8f\n", finiteOrZero(centreX), finiteOrZero(centreY));
  put(f, " 40\n%.8f\n", finiteOrZero(radius));
  if (!fullCircle)
    put(f, " 50\n%.8f\n 51\n%.8f\n", finiteOrZero(startAngle), finiteOrZero(endAngle));
  return dxfWriter().failed ? -1 : 0;
}

int dxfWriteLineBlock(const std::vector<DxfSegment>& segments, std::int32_t lineStyle,
                      double width) {
  TraceScope t("vds300");
  DxfWriterState& s = dxfWriter();
  if (s.blockNumber == std::numeric_limits<std::int32_t>::max()) return -1;
  const std::string name = "*X" + std::to_string(++s.blockNumber);
  std::FILE* b = section(kDxfBlocks);
  put(b, "  0\nBLOCK\n");
  dxfLayerOf(b, lineStyle, width);
  put(b, "  2\n%s\n", name.c_str());
  put(b, " 70\n     65\n");
  put(b, " 10\n0.0\n 20\n0.0\n 30\n0\n");
  for (const DxfSegment& seg : segments) {
    put(b, "  0\nLINE\n");
    dxfLayerOf(b, lineStyle, width);
    put(b, " 10\n%.8f\n 20\n%.8f\n", finiteOrZero(seg.x1), finiteOrZero(seg.y1));
    put(b, " 11\n%.8f\n 21\n%.8f\n", finiteOrZero(seg.x2), finiteOrZero(seg.y2));
  }
  put(b, "  0\nENDBLK\n");
  std::FILE* e = section(kDxfEntities);
  put(e, "  0\nINSERT\n");
  dxfLayerOf(e, lineStyle, width);
  put(e, "  2\n%s\n", name.c_str());
  put(e, " 10\n0.0\n 20\n0.0\n 30\n0.0\n");
  return s.failed ? -1 : 0;
}

int finishDxfOutput(const DxfExtents& extents, const std::string& outputName) {
  TraceScope t("stt100");
  DxfWriterState& s = dxfWriter();
  put(section(kDxfBlocks), "  0\nENDSEC\n");
  // The file's end marker follows the last section.
  put(section(kDxfEntities), "  0\nENDSEC\n  0\nEOF\n");
  writeDxfHeader(extents, dxfLimitDecimals());
  writeDxfTables();
  if (!closeSectionFileSet(s.files, kDxfSectionCount)) s.failed = true;
  if (s.failed) {
    discardSectionFileSet(s.files, s.paths, kDxfSectionCount);
    if (sectionWriteFailed())
      reportSectionWriteFailure(t.code());
    else
      mfaReport(t.code(), 980, Channel::kBoth, Severity::kError, {}, {}, outputName, nullptr);
    return -4;
  }
  const JoinResult r = joinFiles(s.paths, kDxfSectionCount, outputName, t.code());
  if (r.status == 0 && runSettings().traceLevel > 0)
    std::printf("-> stt100 : Name der erzeugten Datei : %s\n", outputName.c_str());
  return r.status;
}

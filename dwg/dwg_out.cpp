#include "dwg/dwg_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>

#include "drawingdb/audit.h"
#include "drawingdb/file_io.h"
#include "dwg/dwg_texts.h"
#include "support/ide_msg.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

using drawingdb::Point3;

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
// A text's width factor when neither the configuration nor the sender gives one.
constexpr double kDefaultTextWidth = 0.66;
// The sender whose own text width factors are kept.
constexpr int kSenderWithOwnWidth = 4;

constexpr int kMsgAuditReportUnwritten = 1316;  // &t: the report and why
constexpr int kMsgSaveRefused = 1317;           // &t: the file and why
constexpr int kMsgOutputUnwritable = 1300;      // &t: the file and why
constexpr int kMsgOutputNotCreated = 1301;      // &t: the file and why

bool finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

double distance(const Point3& a, const Point3& b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }

// The direction from the centre to p, in [0, 2 pi).
double directionOf(const Point3& center, const Point3& p) {
  double angle = std::atan2(p.y - center.y, p.x - center.x);
  if (angle < 0) angle += kTwoPi;
  return angle;
}

// A DXF text value holds no line break or other control byte.
std::string printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

// Writes the toolkit's bytes through the program's one way of writing an
// output.
class OutputSink final : public drawingdb::ByteSink {
 public:
  explicit OutputSink(OutputFile& file) : file_(file) {}
  bool write(std::string_view bytes) override { return file_.write(bytes); }

 private:
  OutputFile& file_;
};

std::string hexHandle(drawingdb::Handle h) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(h));
  return text;
}

void reportWithText(int number, int severity, const std::string& text) {
  mfaReport("DwgOut::saveFile", number, Channel::kBoth, severity, {}, {}, text, nullptr);
}

// Writes the audit report: one line of four words per finding (the object's
// handle, the finding, the field and what was done), then a closing line.
// false when the report could not be written.
bool writeAuditReport(const std::string& reportPath, const std::string& drawing,
                      const std::vector<drawingdb::Finding>& findings) {
  OutputFile report;
  if (!report.create(reportPath)) {
    reportWithText(kMsgAuditReportUnwritten, Severity::kWarning, report.failureText());
    return false;
  }
  std::string text = "Audit of " + drawing + "\n";
  std::size_t fixed = 0;
  for (const drawingdb::Finding& f : findings) {
    if (f.fixed) ++fixed;
    text += hexHandle(f.handle) + " " + f.code + " " + (f.field.empty() ? "-" : f.field) + " " +
            (f.fixed ? "fixed: " : "not fixed: ") + f.detail + "\n";
  }
  text += std::to_string(findings.size()) + " errors found, " + std::to_string(fixed) + " fixed\n";
  report.write(text);
  if (!report.commit()) {
    reportWithText(kMsgAuditReportUnwritten, Severity::kWarning, report.failureText());
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// DwgBase

DwgBase::DwgBase(int direction) { dwgGraphAttr().setDirection(direction); }

const drawingdb::Record<drawingdb::Linetype>* DwgBase::linetypeRecord(const std::string& name) {
  if (const auto* found = db_.linetypes.find(name)) return found;
  const std::vector<double>* dashes = nullptr;
  const std::string* description = nullptr;
  for (const DwgStartLinetype& l : start_.linetypes) {
    if (drawingdb::sameName(l.name, name)) {
      dashes = &l.dashes;
      description = &l.description;
      break;
    }
  }
  if (dashes == nullptr) {
    for (const DwgLinetype& l : dwgGraphAttr().linetypes()) {
      if (drawingdb::sameName(l.name, name)) {
        dashes = &l.dashes;
        description = &l.description;
        break;
      }
    }
  }
  if (dashes == nullptr) return nullptr;
  auto& record = db_.addRecord(db_.linetypes, name);
  record.data.description = *description;
  for (double length : *dashes) {
    record.data.dashes.push_back({length, 0});
    record.data.patternLength += std::fabs(length);
  }
  return &record;
}

void DwgBase::applyTo(const DwgEntityAttributes& attributes, drawingdb::EntityCommon& common) {
  common.colour = attributes.colourIndex;
  common.lineweight = attributes.lineWeight;
  common.linetype = "BYLAYER";
  if (!attributes.linetype.empty()) {
    if (const auto* record = linetypeRecord(attributes.linetype)) common.linetype = record->common.name;
  }
  common.layer = attributes.layer.empty() ? std::string("0") : attributes.layer;
  if (db_.layers.find(common.layer) != nullptr) return;
  auto& layer = db_.addRecord(db_.layers, common.layer);
  if (const DwgLayerRecord* chosen = layers_.find(attributes.layer)) {
    layer.data.colour = chosen->on ? chosen->colourIndex : -chosen->colourIndex;
    if (chosen->frozen) layer.common.flags |= 1;
    if (const auto* record = linetypeRecord(chosen->linetype)) layer.data.linetype = record->common.name;
  }
  if (db_.linetypes.find(layer.data.linetype) == nullptr) {
    const auto* continuous = db_.linetypes.find("CONTINUOUS");
    if (continuous != nullptr) layer.data.linetype = continuous->common.name;
  }
}

// ---------------------------------------------------------------------------
// DwgOut

DwgOut::DwgOut() : DwgBase(DwgDirection::kOutput) {}

drawingdb::Release DwgOut::releaseOfVersion(int fileVersion) {
  if (fileVersion > 0) {
    const auto release = drawingdb::releaseFromVersion("AC" + std::to_string(fileVersion));
    if (release) return *release;
  }
  return drawingdb::Release::R2000;
}

int DwgOut::startUp(drawingdb::Release release, SaveType saveType, const DwgStartData& start) {
  TraceScope t("DwgOut::startUp");
  dwgGraphAttr().setDirection(DwgDirection::kOutput);
  saveType_ = saveType;
  currentBlock_ = kModelSpace;
  collect_ = false;
  boundary_.clear();
  blockCounter_ = 0;
  dimensionBlockCounter_ = 0;
  layers_ = DwgLayerList();
  start_ = start;
  db_ = drawingdb::Database::create(release);
  for (const DwgStartLinetype& l : start_.linetypes) {
    if (auto* existing = db_.linetypes.find(l.name)) {
      // CONTINUOUS is made by the database; the file gives its description.
      existing->data.description = l.description;
      continue;
    }
    linetypeRecord(l.name);
  }
  for (const DwgStartLayer& l : start_.layers) {
    auto* layer = db_.layers.find(l.name);
    if (layer == nullptr) layer = &db_.addRecord(db_.layers, l.name);
    layer->data.colour = l.colourIndex;
    if (const auto* record = linetypeRecord(l.linetype)) layer->data.linetype = record->common.name;
  }
  // The default text style: the database's own standard style, or one of
  // the file's name that becomes the current style.
  const DwgStartStyle& s = start_.textStyle;
  auto* style = db_.styles.find(s.name);
  if (style == nullptr) style = &db_.addRecord(db_.styles, s.name);
  style->data.font = s.font;
  style->data.widthFactor = s.widthFactor;
  style->data.fixedHeight = s.height;
  db_.header.set("$TEXTSTYLE", style->common.name);
  // The program names itself as a registered application of the drawing.
  if (release >= drawingdb::Release::R12 && db_.appids.find(kIdentification) == nullptr)
    db_.addRecord(db_.appids, kIdentification);
  return 0;
}

int DwgOut::extents(double xmin, double ymin, double xmax, double ymax) {
  TraceScope t("DwgOut::extents");
  const Point3 low{xmin, ymin, 0}, high{xmax, ymax, 0};
  if (!finite(low) || !finite(high)) return -1;
  db_.header.set("$EXTMIN", low);
  db_.header.set("$EXTMAX", high);
  return 0;
}

drawingdb::BlockRecord& DwgOut::currentBlock() {
  if (currentBlock_ != kModelSpace && currentBlock_ < db_.blocks.size()) return db_.blocks[currentBlock_];
  return db_.modelSpace();
}

int DwgOut::add(drawingdb::Entity entity, const DwgElementAttributes& element, int kind) {
  DwgEntityAttributes attributes;
  dwgGraphAttr().applyAttributes(element, attributes, layers_, kind);
  applyTo(attributes, entity.common);
  db_.addEntity(currentBlock(), std::move(entity));
  return 0;
}

int DwgOut::line(const Point3& start, const Point3& end, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::line");
  if (!finite(start) || !finite(end)) return -1;
  if (collect_) {
    DwgBoundaryCurve curve;
    curve.start = start;
    curve.end = end;
    boundary_.push_back(curve);
    return 0;
  }
  drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Line);
  e.data = drawingdb::Line{start, end};
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::circleArc(const Point3& center, const Point3& start, const Point3& end,
                      const DwgElementAttributes& element) {
  TraceScope t("DwgOut::circleArc");
  if (!finite(center) || !finite(start) || !finite(end)) return -1;
  const double radius = distance(center, start);
  if (!(radius > 0) || !std::isfinite(radius)) return -1;
  const bool full = distance(start, end) <= kFullCircleGap;
  const double startAngle = full ? 0.0 : directionOf(center, start);
  const double endAngle = full ? kTwoPi : directionOf(center, end);
  if (collect_) {
    DwgBoundaryCurve curve;
    curve.arc = true;
    curve.center = center;
    curve.radius = radius;
    curve.startAngle = startAngle;
    curve.endAngle = endAngle;
    boundary_.push_back(curve);
    return 0;
  }
  if (full) {
    drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Circle);
    e.data = drawingdb::Circle{center, radius};
    return add(std::move(e), element, DwgKind::kCurve);
  }
  drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Arc);
  e.data = drawingdb::Arc{center, radius, startAngle * kDegreesPerRadian, endAngle * kDegreesPerRadian};
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::ellipse(const Point3& center, const Point3& majorAxis, double ratio, double startParameter,
                    double endParameter, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::ellipse");
  if (!finite(center) || !finite(majorAxis) || !std::isfinite(ratio) || !std::isfinite(startParameter) ||
      !std::isfinite(endParameter))
    return -1;
  if (std::hypot(majorAxis.x, majorAxis.y, majorAxis.z) == 0 || !(ratio > 0)) return -1;
  drawingdb::Ellipse shape;
  shape.center = center;
  shape.majorAxis = majorAxis;
  shape.ratio = ratio;
  shape.startParameter = startParameter;
  shape.endParameter = endParameter;
  if (ratio > 1) {
    // The minor axis is the longer one: it becomes the major axis (turned a
    // quarter counter-clockwise about Z), and the parameters shift by a
    // quarter turn so that every parameter names the same point.
    shape.majorAxis = {-majorAxis.y * ratio, majorAxis.x * ratio, majorAxis.z * ratio};
    shape.ratio = 1.0 / ratio;
    shape.startParameter = startParameter - kTwoPi / 4;
    shape.endParameter = endParameter - kTwoPi / 4;
  }
  // The database keeps parameters in [0, 2 pi]; a full ellipse runs 0 to 2 pi.
  const double sweep = shape.endParameter - shape.startParameter;
  if (std::fabs(sweep) >= kTwoPi || std::fabs(std::fabs(sweep) - kTwoPi) <= 1e-12) {
    shape.startParameter = 0;
    shape.endParameter = kTwoPi;
  } else {
    shape.startParameter = std::fmod(shape.startParameter, kTwoPi);
    if (shape.startParameter < 0) shape.startParameter += kTwoPi;
    shape.endParameter = std::fmod(shape.endParameter, kTwoPi);
    if (shape.endParameter < 0) shape.endParameter += kTwoPi;
  }
  drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Ellipse);
  e.data = shape;
  return add(std::move(e), element, DwgKind::kCurve);
}

int DwgOut::point(const Point3& location, const DwgElementAttributes& element) {
  TraceScope t("DwgOut::point");
  if (!finite(location)) return -1;
  drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Point);
  drawingdb::PointEntity p;
  p.location = location;
  e.data = p;
  return add(std::move(e), element, DwgKind::kCurve);
}

std::string DwgOut::styleFor(const std::string& fontName) {
  if (fontName.empty() || fontName.size() > DwgStart::kNameLength) return start_.textStyle.name;
  for (char c : fontName)
    if (static_cast<unsigned char>(c) < 0x20) return start_.textStyle.name;
  if (const auto* style = db_.styles.find(fontName)) return style->common.name;
  auto& style = db_.addRecord(db_.styles, fontName);
  style.data.font = fontName;
  return fontName;
}

int DwgOut::text(const std::vector<DwgTextPart>& parts, const DwgElementAttributes& element,
                 double textWidthFactor, int senderCode) {
  TraceScope t("DwgOut::text");
  int result = 0;
  for (const DwgTextPart& part : parts) {
    const double width = textWidthFactor > 0                  ? textWidthFactor
                         : senderCode == kSenderWithOwnWidth ? part.widthFactor
                                                              : kDefaultTextWidth;
    if (!std::isfinite(part.insertion.x) || !std::isfinite(part.insertion.y) || !std::isfinite(part.angle) ||
        !std::isfinite(part.height) || !(part.height > 0) || !std::isfinite(width) || !(width > 0)) {
      result = -1;
      continue;
    }
    drawingdb::Text text;
    text.insertion = {part.insertion.x, part.insertion.y, 0};
    text.height = part.height;
    text.value = printable(part.text);
    text.rotation = part.angle * kDegreesPerRadian;
    text.widthFactor = width;
    text.style = styleFor(part.fontName);
    drawingdb::Entity e = drawingdb::makeEntity(drawingdb::EntityKind::Text);
    e.data = std::move(text);
    if (add(std::move(e), element, DwgKind::kText) != 0) result = -1;
  }
  return result;
}

int DwgOut::createBlock(const std::string& name, std::string* made) {
  TraceScope t("DwgOut::createBlock");
  if (name.empty() || inBlock()) return -1;
  const bool anonymous = name[0] == '*' && name.size() > 1 &&
                         (name[1] == 'x' || name[1] == 'X' || name[1] == 'd' || name[1] == 'D');
  std::string blockName;
  std::int32_t flags = 0;
  if (anonymous) {
    // The database numbers its anonymous blocks: the first free "*D<n>".
    int n = 0;
    do blockName = "*D" + std::to_string(++n);
    while (db_.findBlock(blockName) != nullptr);
    flags = 1;
  } else {
    blockName = name;
    DwgGraphAttr::correctAcLayerName(blockName);
    blockName += "_" + std::to_string(++blockCounter_);
  }
  drawingdb::BlockRecord& block = db_.addBlock(blockName);
  block.flags = flags;
  currentBlock_ = db_.blockIndex(block);
  if (made != nullptr) *made = blockName;
  return 0;
}

int DwgOut::closeBlock() {
  TraceScope t("DwgOut::closeBlock");
  currentBlock_ = kModelSpace;
  return 0;
}

int DwgOut::saveFile(const std::string& path) { return saveFile(path, kAuditReport); }

int DwgOut::saveFile(const std::string& path, const std::string& reportPath) {
  TraceScope t("DwgOut::saveFile");
  dwgPut("DwgOut::saveFile_1");
  ideMsgPut(path);
  ideMsgEmit(IdeSeverity::kNote);

  const std::vector<drawingdb::Finding> findings = drawingdb::audit(db_);
  writeAuditReport(reportPath, path, findings);

  drawingdb::SaveOptions options;
  options.format = saveType_ == kSaveDwg ? drawingdb::FileFormat::Dwg : drawingdb::FileFormat::DxfAscii;
  options.release = db_.release;
  options.precision = 16;
  int result = 0;
  OutputFile file;
  if (!file.create(path)) {
    reportWithText(kMsgOutputNotCreated, Severity::kError, file.failureText());
    result = -1;
  } else {
    OutputSink sink(file);
    const drawingdb::Status saved = drawingdb::save(db_, sink, options);
    if (!saved.ok() && saved.code != drawingdb::StatusCode::WriteFailed) {
      file.discard();
      reportWithText(kMsgSaveRefused, Severity::kError, path + " (" + saved.detail + ")");
      result = -1;
    } else if (!saved.ok() || !file.commit()) {
      file.discard();
      reportWithText(kMsgOutputUnwritable, Severity::kError, file.failureText());
      result = -1;
    }
  }
  if (result == 0) {
    dwgPut("DwgOut::saveFile_2");
    ideMsgEmit(IdeSeverity::kContinue);
  }
  if (findings.empty())
    std::puts("Audit : ok.");
  else
    std::printf("Audit : Check \"%s\" for errors.\n", reportPath.c_str());
  std::fflush(stdout);
  return result;
}

namespace {
DwgOut& builderState() {
  static DwgOut state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DWG database builder", [] { builderState() = DwgOut(); });
}  // namespace

DwgOut& dwgOut() { return builderState(); }

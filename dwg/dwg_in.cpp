#include "dwg/dwg_in.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "drawingdb/dimension_block.h"
#include "drawingdb/dwg_file.h"
#include "drawingdb/file_io.h"
#include "dwg/dwg_texts.h"
#include "dwg/entity_mapper.h"
#include "dwg/toolkit.h"
#include "elements/element_table.h"
#include "support/ide_msg.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/run_statistics.h"
#include "support/trace.h"

namespace db = drawingdb;

namespace {

// Entities of a kind no IGES entity carries (count and name).
constexpr int kMsgNotCarried = 1328;
// Entities of a DWG file whose own data did not decode (count, the first).
constexpr int kMsgEntitiesLeftOut = 1336;
// The first slots of the table besides those the layouts need.
constexpr long kFirstSlots = 100;

// The layout blocks, in any case; files of R12 may name them with "$".
bool isModelSpace(const std::string& name) {
  return db::sameName(name, "*MODEL_SPACE") || db::sameName(name, "$MODEL_SPACE");
}
bool isPaperSpace(const std::string& name) {
  return db::sameName(name, "*PAPER_SPACE") || db::sameName(name, "$PAPER_SPACE");
}
// The paper space of a further layout ("*Paper_Space0" ...): a drawing
// of its own.
bool isOtherLayout(const std::string& name) {
  return name.size() > 12 && db::sameName(name.substr(0, 12), "*PAPER_SPACE");
}
// Whether a layout holds more than the sheet's own viewport (identifier
// 1) and viewports switched off.
bool layoutHoldsSomething(const db::Database& database, const db::BlockRecord& layout) {
  for (db::EntityId id : layout.entities) {
    if (id >= database.entities.size()) continue;
    const auto* v = db::get_if<db::Viewport>(&database.entities[id].data);
    if (v == nullptr || (v->id != 1 && v->status != 0)) return true;
  }
  return false;
}

// A keyed error of the reader that ends the input: the key's text and the
// file name.  It counts among the errors of the run's closing line.
void reportWithFile(const char* key, const std::string& fileName, const std::string& detail) {
  dwgPut(key);
  ideMsgPut(fileName);
  ideMsgEmit(IdeSeverity::kError);
  mfaCount(Severity::kError);
  if (!detail.empty()) {
    ideMsgPut(detail);
    ideMsgEmit(IdeSeverity::kContinue);
  }
}

// The entities the reader left out, one counted warning for all.
void reportEntitiesLeftOut(const char* code, const std::vector<db::Finding>& findings) {
  long count = 0;
  const db::Finding* first = nullptr;
  for (const db::Finding& f : findings) {
    if (f.code != db::kDwgEntityLeftOut) continue;
    if (first == nullptr) first = &f;
    ++count;
  }
  if (first != nullptr) mfaReport(code, kMsgEntitiesLeftOut, Channel::kBoth, Severity::kWarning, {count}, {}, first->detail, nullptr);
}

}  // namespace

DwgIn::DwgIn() : DwgBase(DwgDirection::kInput) {}

int DwgIn::init(const std::string& programDirectory, bool german) {
  TraceScope t("DwgIn::init");
  dwgGraphAttr().setDirection(DwgDirection::kInput);
  if (programDirectory.empty()) {
    dwgPut("DwgIn::init");
    ideMsgEmit(IdeSeverity::kFatal);
    return -1;
  }
  return initialiseToolkit(1, german, programDirectory);
}

int DwgIn::ReadFile(const std::string& fileName) {
  TraceScope t("DwgIn::ReadFile");
  db_ = db::Database{};
  layerList_.clear();
  mapped_.clear();
  notCarried_.clear();
  elementCount_ = 0;
  selfInserts_ = 0;
  const db::ReadResult read = db::readFile(fileName, db_);
  if (!read.status.ok()) {
    reportWithFile("DwgIn::ReadFile_1", fileName, read.status.detail);
    return -1;
  }
  reportEntitiesLeftOut(t.code(), read.findings);
  // Dimensions that name no block get one drawn from their points.
  db::buildMissingDimensionBlocks(db_);

  MapContext context(db_, dwgGraphAttr());
  // Copies of array inserts: as many as the file has bytes, a few
  // thousand for small files.
  std::FILE* f = std::fopen(fileName.c_str(), "rb");
  if (f != nullptr) {
    if (std::fseek(f, 0, SEEK_END) == 0) context.arrayBudget = std::max(std::ftell(f), context.arrayBudget);
    std::fclose(f);
  }

  // First pass: what the layouts would make sizes the table.
  long layoutCount = 0;
  for (const db::BlockRecord& b : db_.blocks)
    if (isModelSpace(b.name) || isPaperSpace(b.name)) mapBlockEntities(context, b, 1, layoutCount);
  freeTable();
  resetTable();
  if (allocateTable(static_cast<std::int32_t>(std::min<long>(layoutCount + kFirstSlots, INT32_MAX / 2))) != 0) {
    mfaNoMemory(t.code());
    return -1;
  }

  // Second pass.
  modelScale_ = 1.0;
  for (const db::Entity& e : db_.entities) {
    if (e.kind != db::EntityKind::Dimension) continue;  // the data of others is not read
    const auto* d = db::get_if<db::Dimension>(&e.data);
    if (d == nullptr) continue;
    if (const db::BlockRecord* b = db_.findBlock(d->block))
      context.dimensionBlocks[db_.blockIndex(*b)] = 1;
  }
  drawingElement(context);
  long count = 0;
  for (std::size_t k = 0; k < db_.blocks.size(); ++k) {
    const db::BlockRecord& b = db_.blocks[k];
    context.fatherBlock = -1;
    if (isPaperSpace(b.name)) {
      context.father = context.drawing;
      mapBlockEntities(context, b, 0, count);
    } else if (isModelSpace(b.name)) {
      context.father = 0;
      mapBlockEntities(context, b, 0, count);
    } else if (isOtherLayout(b.name)) {
      // A further layout is a drawing of its own, after the first; its
      // viewports are its views.  One with nothing on its sheet makes
      // nothing.
      if (!layoutHoldsSomething(db_, b)) continue;
      const std::int32_t first = context.drawing;
      context.drawing = 0;
      context.father = drawingElement(context);
      if (context.father != 0) mapBlockEntities(context, b, 0, count);
      context.drawing = first;
    } else if (context.dimensionBlocks[k] == 0) {
      context.father = blockElement(context, k);
      if (context.father == 0) continue;
      context.fatherBlock = static_cast<long>(k);
      long inBlock = 0;
      mapBlockEntities(context, b, 0, inBlock);
    }
  }
  context.father = 0;
  context.fatherBlock = -1;
  selfInserts_ = linkInserts(context);
  makeViewLevels(context);
  elementCount_ = count;
  mapped_ = context.mapped;
  notCarried_ = context.notCarried;

  for (const auto& [name, n] : notCarried_) {
    mfaReport(t.code(), kMsgNotCarried, Channel::kBoth, Severity::kWarning, {n}, {}, name, nullptr);
    statisticsAddToolkitEntry(ToolkitList::kNotConverted, name, static_cast<int>(std::min<long>(n, INT32_MAX)));
  }
  for (const auto& [name, n] : mapped_) statisticsAddName(name, static_cast<std::int32_t>(std::min<long>(n, INT32_MAX)));

  const DwgGraphAttr& attr = dwgGraphAttr();
  for (std::size_t k = 0; k < db_.layers.records.size(); ++k) {
    const auto& record = db_.layers.records[k];
    DwgInLayer layer;
    const std::string* assigned = attr.telvuraLayerOf(record.common.name);
    layer.name = assigned != nullptr ? *assigned : record.common.name;
    layer.number = static_cast<std::int32_t>(k);
    layer.off = record.data.colour < 0;
    layer.colour = std::abs(record.data.colour);
    layerList_.push_back(std::move(layer));
  }

  // Everything the conversion needs is in the element table and the lists
  // above now: the database goes before the conversion makes its records.
  db_ = db::Database{};

  if (count == 0) {
    reportWithFile("DwgIn::ReadFile_2", fileName, "");
    return -1;
  }
  return 0;
}

namespace {
DwgIn& readerState() {
  static DwgIn state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("DWG input", [] { readerState() = DwgIn(); });
}  // namespace

DwgIn& dwgIn() { return readerState(); }

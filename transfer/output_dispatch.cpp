// The output conversion loop (dpe100), the conversion of members (dpe150),
// the outcome of a step, the directory entries of the IGES target and the
// layer list (dpe900).
#include "elements/convert_result.h"
#include "transfer/output_dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "elements/transform.h"
#include "iges_out/dxf_writer.h"
#include "iges_out/iges_entities.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/output_steps.h"
#include "transfer/transfer_reader.h"

namespace {

// The layer list: one 406 property of this form and label, after every
// other entity of a PLUS run.
constexpr std::int32_t kLayerListForm = 6731;
constexpr char kLayerListLabel[] = "SI-LIST ";
// The list is known by its form, label, line weight and colour, both 871
// (the receiving CAD system looks for this mark; general IGES readers may
// call the colour number out of range).
constexpr std::int32_t kLayerListWeight = 871;
constexpr std::int32_t kLayerListColour = 871;

// The states of the step results, by the numbers the loop hands to setState.
struct ResultState {
  int result;
  char state;
};
constexpr ResultState kResultStates[] = {
    {ConvertResult::kDone, ElementState::kDone},              // 100
    {ConvertResult::kTakenOver, ElementState::kTakenOver},    // 99
    {ConvertResult::kIgnored, ElementState::kIgnored},        // 105
    {ConvertResult::kRegistered, ElementState::kRegistered},  // 114
};

bool onPath(std::int32_t index) {
  const std::vector<char>& path = outputDispatch().onPath;
  return index >= 0 && static_cast<std::size_t>(index) < path.size() && path[index] != 0;
}

void setOnPath(std::int32_t index, bool on) {
  std::vector<char>& path = outputDispatch().onPath;
  if (index < 0) return;
  if (static_cast<std::size_t>(index) >= path.size()) {
    if (!on) return;
    path.resize(static_cast<std::size_t>(index) + 1, 0);
  }
  path[index] = on ? 1 : 0;
}

// A member link back to an element being converted: warning 1326 naming
// the element, once per element.
void reportMemberCycle(std::int32_t index) {
  if (!outputDispatch().cyclesReported.insert(index).second) return;
  mfaReport("dpe150", kMsgMemberCycle, Channel::kProtocol, Severity::kWarning, {}, {},
            transferIdentifierAt(element(index).transferId), nullptr);
}

// The step of the element's type.
int dispatchByType(const output_steps::StepContext& c) {
  using namespace output_steps;
  switch (element(c.index).type) {
    case IgesType::kPoint: return convertPoint(c);
    case IgesType::kLine: return convertLine(c);
    case IgesType::kCircularArc: return convertCircle(c);
    case IgesType::kConicArc: return convertEllipse(c);
    case IgesType::kParametricSpline: return convertSpline(c);
    case IgesType::kCopiousData: return convertHatch(c);
    case IgesType::kGeneralNote: return convertText(c);
    case IgesType::kTransferDimension: return convertDimension(c);
    case IgesType::kAssociativityInstance: return convertGroup(c);
    case IgesType::kSubfigureDefinition:
    case IgesType::kSubfigureInstance: return convertUserElement(c);
    case IgesType::kCompositeCurve: return convertContour(c);
    case IgesType::kSectionedArea: return convertPlanePart(c);
    case IgesType::kGeneralLabel: return convertSymbol(c);
    case IgesType::kLayer: return convertLayer(c);
    case IgesType::kColourDefinition: return convertColourDefinition(c);
    default: return -1;
  }
}

}  // namespace

OutputDispatchState& outputDispatch() {
  static OutputDispatchState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("output dispatch", resetOutputDispatch);

void resetOutputDispatch() { outputDispatch() = OutputDispatchState(); }

OutputTarget outputTarget() {
  if (runHas(RunModeBit::kDxf | RunModeBit::kDwg)) {
    return runState().useToolkit != 0 ? OutputTarget::kToolkit : OutputTarget::kOwnDxf;
  }
  return OutputTarget::kIges;
}

char stateOfStepResult(int result) {
  if (result == ConvertResult::kLater) return 0;
  for (const ResultState& entry : kResultStates) {
    if (entry.result == result) return entry.state;
  }
  return ElementState::kError;
}

bool convertsDeletedElements() {
  const int setting = runSettings().inbiMode;
  if (setting == kNotSet) return runState().useToolkit == 0;
  return setting != 0;
}

bool writesLayerList() { return runSettings().sistMode != 0; }

namespace output_steps {

bool igesTarget() { return outputTarget() == OutputTarget::kIges; }
bool dxfTarget() { return outputTarget() == OutputTarget::kOwnDxf; }
bool plusLevel() { return runHas(RunModeBit::kPlus); }

bool beingConverted(std::int32_t index) { return onPath(index); }

StepFrame beginStep(const StepContext& c) {
  ElementRecord& e = element(c.index);
  e.de = DirectoryEntry();
  // Whether the file ends inside this element (members keep their own).
  TransferReaderState& reader = transferReader();
  StepFrame frame;
  frame.endMetBefore = reader.endOfFileMet;
  reader.endOfFileMet = false;
  setOnPath(c.index, true);
  return frame;
}

int runStep(const StepContext& c) {
  const StepFrame frame = beginStep(c);
  return endStep(c, frame, dispatchByType(c));
}

int endStep(const StepContext& c, const StepFrame& frame, int result) {
  setOnPath(c.index, false);
  TransferReaderState& reader = transferReader();
  const bool cut = reader.endOfFileMet && reader.open;
  reader.endOfFileMet = frame.endMetBefore || reader.endOfFileMet;
  outputDispatch().classFlags |= classifyElement(c.index);
  const char state = stateOfStepResult(result);
  if (state == ElementState::kError && cut) {
    // A file cut inside its last element: a warning names the element.
    mfaReport("dpe100", kMsgElementCut, Channel::kProtocol, Severity::kWarning, {}, {},
              transferIdentifierAt(element(c.index).transferId), nullptr);
  }
  if (state != 0) setState(c.index, state);
  // A failed element counts as an error of the run.
  // A section file that cannot be written (full or limited temporary
  // folder) fails the whole output with one error, not every element.
  if (state == ElementState::kError && !sectionWriteFailed()) reportElementFailure(c.index, "dpe100");
  return result;
}

IgesPoint igesPoint(const Point3& p) { return IgesPoint{p.x, p.y, p.z}; }

double degreesOf(double x, double y) {
  double angle = std::atan2(y, x) * 180.0 / kPi;
  if (angle < 0.0) angle += 360.0;
  if (angle >= 360.0) angle -= 360.0;
  return angle;
}

std::int32_t beginEntity() { return igesWriter().parameterSeq; }

std::int32_t writeEntity(DirectoryEntry& de, std::int32_t type, std::int32_t form,
                         std::int32_t parameterStart, const EntityStatus& status) {
  de.entityType = type;
  de.entityType2 = type;
  de.form = form;
  de.paramPointer = parameterStart;
  de.paramLineCount = igesWriter().parameterSeq - parameterStart;
  auto digits = [](int value) { return static_cast<unsigned>(value < 0 ? 0 : value) % 100u; };
  std::snprintf(de.status, sizeof de.status, "%02u%02u%02u%02u", digits(status.blank),
                digits(status.subordinate), digits(status.use), digits(status.hierarchy));
  std::string line1, line2;
  formatDirectoryEntry(de, line1, line2);
  if (writeDirectoryEntry(line1, line2) != 0) return -1;
  return de.sequence;
}

namespace {

// The graphic attributes as the directory fields allow them: a line font
// pattern 0 to 5 (solid otherwise), a line weight between 0 and the
// gradations of the global section, a colour number 0 to 8 or a pointer to
// a colour definition (no colour otherwise), a level that fits its eight
// columns.  A value of the transfer file beyond that would make the entry
// unreadable and end the whole output.
void applyAttributes(DirectoryEntry& de, const TransferRecord& record) {
  constexpr std::int32_t kMaxLevel = 9999999;
  de.lineFont = record.lineStyle >= 0 && record.lineStyle <= 5 ? record.lineStyle : 1;
  de.level = std::clamp(record.layer, -kMaxLevel, kMaxLevel);
  de.lineWeight = std::clamp(record.lineWidth, 0, std::max(igesWriter().global.lineWeightGradations, 0));
  de.colour = record.colour <= 8 && record.colour >= -kMaxLevel ? record.colour : 0;
}

}  // namespace

EntityStatus statusOf(const StepContext& c, const TransferRecord& record) {
  EntityStatus status = c.status;
  if (record.deleted) status.blank = 1;
  return status;
}

int writeElementEntity(const StepContext& c, const TransferRecord& record, std::int32_t type,
                       std::int32_t form, std::int32_t parameterStart,
                       std::int32_t matrixSequence) {
  ElementRecord& e = element(c.index);
  applyAttributes(e.de, record);
  e.de.matrixPointer = matrixSequence;
  e.de.subscript = c.index;
  e.form = form;
  e.outputKind = type;
  return writeEntity(e.de, type, form, parameterStart, statusOf(c, record)) < 0 ? -1 : 0;
}

DirectoryEntry partEntry(const TransferRecord& record, const char* label) {
  DirectoryEntry de;
  applyAttributes(de, record);
  std::snprintf(de.label, sizeof de.label, "%s", label);
  return de;
}

bool leftOutAsDeleted(const TransferRecord& record) {
  return record.deleted && !convertsDeletedElements();
}

void resolveColour(TransferRecord& record) {
  const std::int32_t definition = record.colourDefinition;
  if (definition < 1 || !isElementIndex(definition) ||
      element(definition).type != IgesType::kColourDefinition)
    return;
  if (!igesTarget()) return;
  if (element(definition).state == ElementState::kWaiting) {
    StepContext c;
    c.index = definition;
    c.position = element(definition).transferId;
    // Whether the definition was written is its state, read below.
    (void)runStep(c);
  }
  const ElementRecord& d = element(definition);
  if (d.state == ElementState::kDone && d.de.sequence > 0) {
    record.colour = -d.de.sequence;
  } else {
    // The definition could not be written: no colour rather than a pointer
    // to an entity that is not in the file.
    record.colour = 0;
    record.colourDefinition = 0;
  }
}

int convertMembers(const StepContext& c, const char* code, const EntityStatus& memberStatus,
                   std::vector<std::int32_t>& written, std::vector<std::int32_t>* writtenIndices) {
  written.clear();
  if (writtenIndices != nullptr) writtenIndices->clear();
  // The nodes of the sons list live on the heap: they stay where they are
  // when a step grows the table and moves the records.
  const LinkNode* first = element(c.index).sons;
  std::int32_t found = 0;
  for (const LinkNode* n = first; n != nullptr; n = n->next) {
    if (n->index >= 1) ++found;
  }
  if (found != element(c.index).sonCount) {
    std::printf("%s : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht eingetragen !!!!!\n",
                code);
    std::printf("%s\n", std::strcmp(code, "dpe690") == 0
                            ? "                  Anzahl korrigiert -> ABLAUF KORREKT"
                            : "                  Anzahl korrigiert -> ABLAUF EVTL. KORREKT");
    std::printf("         Index in der lokalen Datenstruktur : %ld\n", static_cast<long>(c.index));
  }
  int count = 0;
  for (const LinkNode* n = first; n != nullptr; n = n->next) {
    const std::int32_t son = n->index;
    if (!isElementIndex(son)) continue;
    if (onPath(son)) {
      // The member is being converted: it holds this composite.
      reportMemberCycle(son);
      continue;
    }
    if (element(son).state == ElementState::kWaiting) {
      convertMember(son, element(son).transferId, c.depth + 1, memberStatus.subordinate,
                    memberStatus.use);
    }
    const ElementRecord& member = element(son);
    if (member.state != ElementState::kDone) continue;
    if (igesTarget()) {
      // A member written before (shared by two composites) is pointed at
      // again; one that wrote no entity of its own is left out.
      if (member.de.sequence <= 0) continue;
      written.push_back(member.de.sequence);
    }
    if (writtenIndices != nullptr) writtenIndices->push_back(son);
    ++count;
  }
  return count;
}

std::int32_t appendOutputRecord(std::int32_t type, std::int32_t form, const char* label) {
  const std::int32_t index = newIndex();
  if (index < 0) return -1;
  ElementRecord& e = element(index);
  e.type = type;
  e.form = form;
  e.de = DirectoryEntry();
  std::snprintf(e.de.label, sizeof e.de.label, "%s", label);
  return index;
}

}  // namespace output_steps

int convertMember(std::int32_t index, std::int32_t position, int depth, int subordinate,
                  int entityUse) {
  TraceScope t("dpe150");
  if (!isElementIndex(index) || onPath(index)) return -1;
  if (element(index).state != ElementState::kWaiting) return 0;
  if (depth > kMaxMemberDepth) {
    // Deeper than any drawing nests: the member is an error of its own.
    setState(index, ElementState::kError);
    reportElementFailure(index, "dpe100");
    return -1;
  }
  output_steps::StepContext c;
  c.index = index;
  c.position = position;
  c.depth = depth;
  c.status.subordinate = subordinate;
  c.status.use = entityUse;
  return output_steps::runStep(c);
}

int writeLayerList() {
  TraceScope t("dpe900");
  using namespace output_steps;
  if (!igesTarget()) return -1;
  std::vector<std::int32_t> members;
  std::int32_t count = 0;
  if (buildLayerTable(0, members, count) != 0 || count == 0) return -1;
  const std::int32_t index =
      appendOutputRecord(IgesType::kProperty, kLayerListForm, kLayerListLabel);
  if (index < 0) return -1;
  IgesMemberParams params;
  params.members = members;
  const std::int32_t start = beginEntity();
  if (writeIgesGeneric(IgesType::kProperty, params) != 0) return -1;
  ElementRecord& e = element(index);
  e.de.lineFont = 1;
  e.de.level = 0;
  e.de.lineWeight = kLayerListWeight;
  e.de.colour = kLayerListColour;
  e.de.subscript = index;
  e.outputKind = IgesType::kProperty;
  EntityStatus status;
  status.use = 3;
  if (writeEntity(e.de, IgesType::kProperty, kLayerListForm, start, status) < 0) return -1;
  setState(index, ElementState::kDone);
  outputDispatch().layerListIndex = index;
  return 0;
}

int convertTransferElements() {
  TraceScope t("dpe100");
  // The drawing database toolkit is not part of this program: a toolkit
  // target has nothing to write into.
  if (outputTarget() == OutputTarget::kToolkit) return -1;
  OutputDispatchState& s = outputDispatch();
  s.onPath.assign(static_cast<std::size_t>(elementTable().lastIndex) + 1, 0);
  s.classFlags = 0;
  ConvertPick pick;
  while (!sectionWriteFailed() && nextToConvert(pick) == 0) {
    output_steps::StepContext c;
    c.index = pick.index;
    c.position = pick.id;
    // The step's result has become the element's state; the loop goes on
    // with the next element whatever it was.
    (void)output_steps::runStep(c);
  }
  if (output_steps::igesTarget() && output_steps::plusLevel() && writesLayerList()) {
    writeLayerList();
  }
  s.onPath.clear();
  s.onPath.shrink_to_fit();
  if (output_steps::igesTarget() && igesWriter().failed) return -1;
  if (output_steps::dxfTarget() && dxfWriter().failed) return -1;
  return 0;
}

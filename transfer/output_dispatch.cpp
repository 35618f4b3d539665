// The output conversion loop (dpe100), the conversion of members (dpe150),
// the outcome of a step and the layer list (dpe900).
#include "elements/convert_result.h"
#include "transfer/output_dispatch.h"

#include <cstdio>
#include <cstring>

#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/output_steps.h"
#include "transfer/transfer_reader.h"

namespace {

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
  const std::vector<bool>& path = outputDispatch().onPath;
  return index >= 0 && static_cast<std::size_t>(index) < path.size() && path[static_cast<std::size_t>(index)];
}

void setOnPath(std::int32_t index, bool on) {
  std::vector<bool>& path = outputDispatch().onPath;
  if (index < 0) return;
  if (static_cast<std::size_t>(index) >= path.size()) {
    if (!on) return;
    path.resize(static_cast<std::size_t>(index) + 1, false);
  }
  path[static_cast<std::size_t>(index)] = on;
}

// The step of an element of a kind that converts no members.
int leafStep(const StepContext& c) {
  using namespace output_steps;
  switch (element(c.index).type) {
    case IgesType::kPoint: return convertPoint(c);
    case IgesType::kLine: return convertLine(c);
    case IgesType::kCircularArc: return convertCircle(c);
    case IgesType::kConicArc: return convertEllipse(c);
    case IgesType::kParametricSpline: return convertSpline(c);
    case IgesType::kCopiousData: return convertHatch(c);
    case IgesType::kGeneralNote: return convertText(c);
    case IgesType::kGeneralLabel: return convertSymbol(c);
    case IgesType::kLayer: return convertLayer(c);
    case IgesType::kColourDefinition: return convertColourDefinition(c);
    default: return -1;
  }
}

// The step of an element of a kind that converts members.
output_steps::StepTask compositeStep(const StepContext& c) {
  using namespace output_steps;
  switch (element(c.index).type) {
    case IgesType::kTransferDimension: return convertDimension(c);
    case IgesType::kAssociativityInstance: return convertGroup(c);
    case IgesType::kSubfigureDefinition:
    case IgesType::kSubfigureInstance: return convertUserElement(c);
    case IgesType::kCompositeCurve: return convertContour(c);
    default: return convertPlanePart(c);
  }
}

bool kindConvertsMembers(std::int32_t index) {
  switch (element(index).type) {
    case IgesType::kTransferDimension:
    case IgesType::kAssociativityInstance:
    case IgesType::kSubfigureDefinition:
    case IgesType::kSubfigureInstance:
    case IgesType::kCompositeCurve:
    case IgesType::kSectionedArea: return true;
    default: return false;
  }
}

// The step of a composite between beginStep and endStep.
output_steps::StepTask compositeRun(StepContext c) {
  const output_steps::StepFrame frame = output_steps::beginStep(c);
  const int result = co_await compositeStep(c);
  co_return output_steps::endStep(c, frame, result);
}

// convertMember's checks: 1 when the member's step is to run (its context
// in `c`), else the result of convertMember.
int prepareMember(std::int32_t index, std::int32_t position, int depth, int subordinate, int entityUse,
                  StepContext& c) {
  if (!isElementIndex(index) || onPath(index)) return -1;
  if (element(index).state != ElementState::kWaiting) return 0;
  c.index = index;
  c.position = position;
  c.depth = depth;
  c.status.subordinate = subordinate;
  c.status.use = entityUse;
  return 1;
}

}  // namespace

OutputDispatchState& outputDispatch() {
  static OutputDispatchState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("output dispatch", resetOutputDispatch);

void resetOutputDispatch() { outputDispatch() = OutputDispatchState(); }

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

TargetSteps& target() { return *outputDispatch().steps; }
bool plusLevel() { return runHas(RunModeBit::kPlus); }

bool beingConverted(std::int32_t index) { return onPath(index); }

void reportMemberCycle(std::int32_t index) {
  if (!outputDispatch().cyclesReported.insert(index).second) return;
  mfaReport("dpe150", kMsgMemberCycle, Channel::kProtocol, Severity::kWarning, {}, {},
            transferIdentifierAt(element(index).transferId), nullptr);
}

StepFrame beginStep(const StepContext& c) {
  clearDirectoryEntry(c.index);
  // Whether the file ends inside this element (members keep their own).
  TransferReaderState& reader = transferReader();
  StepFrame frame;
  frame.endMetBefore = reader.endOfFileMet;
  reader.endOfFileMet = false;
  setOnPath(c.index, true);
  return frame;
}

int runStep(const StepContext& c) {
  if (convertsMembers(c.index)) return compositeRun(c).run();
  const StepFrame frame = beginStep(c);
  return endStep(c, frame, leafStep(c));
}

bool convertsMembers(std::int32_t index) { return kindConvertsMembers(index); }

StepTask memberStep(std::int32_t index, std::int32_t position, int depth, int subordinate, int entityUse) {
  TraceScope t("dpe150");
  StepContext c;
  const int checked = prepareMember(index, position, depth, subordinate, entityUse, c);
  if (checked != 1) co_return checked;
  if (!convertsMembers(index)) {
    const StepFrame frame = beginStep(c);
    co_return endStep(c, frame, leafStep(c));
  }
  co_return co_await compositeRun(c);
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
  if (state == ElementState::kError && !target().failed()) reportElementFailure(c.index, "dpe100");
  return result;
}

bool leftOutAsDeleted(const TransferRecord& record) {
  return record.deleted && !convertsDeletedElements();
}

void resolveColour(TransferRecord& record) {
  const std::int32_t definition = record.colourDefinition;
  if (definition < 1 || !isElementIndex(definition) ||
      element(definition).type != IgesType::kColourDefinition)
    return;
  if (!target().writesColourDefinitions()) return;
  if (element(definition).state == ElementState::kWaiting) {
    StepContext c;
    c.index = definition;
    c.position = element(definition).transferId;
    // Whether the definition was written is its state, which the target
    // reads.
    (void)runStep(c);
  }
  target().referToColourDefinition(definition, record);
}

StepTask convertMembers(StepContext c, const char* code, EntityStatus memberStatus, WrittenMembers& written) {
  written.references.clear();
  written.indices.clear();
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
      co_await memberStep(son, element(son).transferId, c.depth + 1, memberStatus.subordinate, memberStatus.use);
    }
    if (element(son).state != ElementState::kDone) continue;
    // A member written before (shared by two composites) is referred to
    // again.
    const std::int32_t reference = target().memberReference(son);
    if (reference <= 0) continue;
    written.references.push_back(reference);
    written.indices.push_back(son);
    ++count;
  }
  co_return count;
}

}  // namespace output_steps

int convertMember(std::int32_t index, std::int32_t position, int depth, int subordinate,
                  int entityUse) {
  return output_steps::memberStep(index, position, depth, subordinate, entityUse).run();
}

int writeLayerList(TargetSteps& steps) {
  TraceScope t("dpe900");
  std::vector<std::int32_t> members;
  std::int32_t count = 0;
  if (buildLayerTable(0, members, count) != 0 || count == 0) return -1;
  const std::int32_t index = steps.layerList(members);
  if (index < 0) return -1;
  outputDispatch().layerListIndex = index;
  return 0;
}

int convertTransferElements(TargetSteps& steps) {
  TraceScope t("dpe100");
  OutputDispatchState& s = outputDispatch();
  s.steps = &steps;
  s.onPath.assign(static_cast<std::size_t>(elementTable().lastIndex) + 1, false);
  s.classFlags = 0;
  const TransferReaderState& reader = transferReader();
  steps.beginRun(OutputExtents{reader.xmin, reader.ymin, reader.xmax, reader.ymax});
  ConvertPick pick;
  while (!steps.failed() && nextToConvert(pick) == 0) {
    StepContext c;
    c.index = pick.index;
    c.position = pick.id;
    // The step's result has become the element's state; the loop goes on
    // with the next element whatever it was.
    (void)output_steps::runStep(c);
  }
  if (output_steps::plusLevel() && writesLayerList()) writeLayerList(steps);
  s.onPath.clear();
  s.onPath.shrink_to_fit();
  const int finished = steps.finish();
  s.steps = nullptr;
  return finished;
}

// Output steps of the composite kinds: groups (dpe600, dpe640), user
// elements (dpe680 instances, dpe690 definitions), contours (dpe700), plane
// parts with the recognition of their boundary contours (dpe400, dpe420,
// dpe800) and layers (dpe888).
//
// A composite converts its members first (convertMember), between the
// target's brackets (elements/target_steps.h), so that every member is
// written before the composite refers to it; the target then writes the
// composite from the references of the members written.
#include <cstdio>
#include <string>
#include <vector>

#include "elements/convert_result.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/fetchers.h"
#include "transfer/output_dispatch.h"
#include "transfer/output_steps.h"

namespace output_steps {

namespace {

// Members of a group or user element belong to it logically only; members
// of a definition, a contour or a plane part are parts of it.
constexpr EntityStatus kIndependent{};
constexpr EntityStatus kPhysicallyDependent{0, 1, 0, 0};

bool debugAbove(int level) { return runSettings().traceLevel > level; }

// The end of a group whose sons have had their steps and whose target
// bracket is open: the group of the members written, then the bracket's
// end.  The group record is fetched by the caller.
StepTask writeGroup(const StepContext& c, const TransferGroup& g, const char* code) {
  WrittenMembers members;
  const int count = co_await convertMembers(c, code, kIndependent, members);
  TargetSteps& steps = target();
  const int result = count == 0 ? ConvertResult::kIgnored : steps.group(c, g, members);
  steps.endGroup(c, g);
  co_return result;
}

// Whether user elements are converted as such: at level PLUS, by a target
// that writes them.
bool userElementsWritten() { return plusLevel() && target().writesUserElements(); }

// Whether the element's step is the group step: a group, or a user
// element that is not converted as such.
bool writtenAsGroup(std::int32_t index) {
  const std::int32_t type = element(index).type;
  if (type == IgesType::kAssociativityInstance) return true;
  return (type == IgesType::kSubfigureDefinition || type == IgesType::kSubfigureInstance) && !userElementsWritten();
}

// The function code of the group step of the element.
const char* groupCode(std::int32_t index) {
  return element(index).type == IgesType::kAssociativityInstance && plusLevel() ? "dpe640" : "dpe600";
}

// The group record of the element, and the target's group bracket opened;
// 0, or the step result that ends the group without its members (a fetch
// refused, a deleted group left out, the bracket refused).
int openGroup(const StepContext& c, TransferGroup& g) {
  const int fetched = fetchGroup(c.index, c.position, g);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(g)) return ConvertResult::kIgnored;
  return target().beginGroup(c, g);
}

// One group the group step holds open while the members before its next
// son are converted.
struct OpenGroup {
  StepContext c;
  TransferGroup g;
  const char* code = nullptr;
  const LinkNode* next = nullptr;  // the next son to convert
  StepFrame frame;                 // the step bookkeeping of a nested group
};

// dpe600 / dpe640: the group step on a record fetched as a group.  The
// groups nested in it, to any depth the file holds, are kept on a stack of
// their own: each group converts its sons in son order, a son that is a
// group is opened in its turn and written when its own sons are, so every
// member is written before the group that points at it, in the order of
// one conversion per member.
StepTask groupStep(StepContext c, const char* code) {
  std::vector<OpenGroup> open;
  {
    OpenGroup& root = open.emplace_back();
    root.c = c;
    root.code = code;
    const int begun = openGroup(c, root.g);
    if (begun != 0) co_return begun;
    root.next = element(c.index).sons;
  }
  for (;;) {
    OpenGroup& top = open.back();
    if (top.next != nullptr) {
      const std::int32_t son = top.next->index;
      top.next = top.next->next;
      // Sons written before, failed, or being converted (a link back into
      // the groups being converted, reported by writeGroup) are not
      // converted here.
      if (!isElementIndex(son) || beingConverted(son) || element(son).state != ElementState::kWaiting) continue;
      if (!writtenAsGroup(son)) {
        co_await memberStep(son, element(son).transferId, top.c.depth + 1, kIndependent.subordinate,
                            kIndependent.use);
        continue;
      }
      // A group in a group counts as the same level.
      StepContext inner;
      inner.index = son;
      inner.position = element(son).transferId;
      inner.depth = top.c.depth;
      inner.status = kIndependent;
      const StepFrame frame = beginStep(inner);
      TransferGroup g;
      const int begun = openGroup(inner, g);
      if (begun != 0) {
        endStep(inner, frame, begun);
        continue;
      }
      OpenGroup& opened = open.emplace_back();  // `top` is not used again
      opened.c = inner;
      opened.g = std::move(g);
      opened.code = groupCode(son);
      opened.next = element(son).sons;
      opened.frame = frame;
      continue;
    }
    const int result = co_await writeGroup(top.c, top.g, top.code);
    if (open.size() == 1) co_return result;
    const OpenGroup closed = std::move(open.back());
    open.pop_back();
    endStep(closed.c, closed.frame, result);
  }
}

// The 308 definition a user element refers to: a 308 son, else the
// definition of the same name.  0 when there is none.
std::int32_t definitionOf(std::int32_t index, const std::string& name) {
  const std::int32_t son = firstSonOfType(index, IgesType::kSubfigureDefinition);
  if (son > 0) return son;
  if (name.empty()) return 0;
  OutputDispatchState& s = outputDispatch();
  if (!s.definitionsMade) {
    // One pass over the table, the first definition of a name wins.
    const ElementTable& table = elementTable();
    for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
      const ElementRecord& e = table.records[i];
      if (e.type == IgesType::kSubfigureDefinition && e.transferAttrs() &&
          !e.transferAttrs()->name.empty()) {
        s.definitions.emplace(e.transferAttrs()->name, i);
      }
    }
    s.definitionsMade = true;
  }
  const auto found = s.definitions.find(name);
  return found == s.definitions.end() ? 0 : found->second;
}

// dpe690: a user element definition ("userdef") of its members, which are
// parts of it.
StepTask writeDefinition(const StepContext& c, const TransferGroup& g) {
  TraceScope t("dpe690");
  if (const int begun = target().beginUserDefinition(c, g); begun != 0) co_return begun;
  WrittenMembers members;
  const int count = co_await convertMembers(c, t.code(), kPhysicallyDependent, members);
  TargetSteps& steps = target();
  const int result = count == 0 ? ConvertResult::kIgnored : steps.userDefinition(c, g, members);
  steps.endUserDefinition(c, g);
  co_return result;
}

// dpe680: a user element reference as an instance of its definition; -88
// when the definition cannot be written or referred to (the caller writes
// the element as a group then).
StepTask writeInstance(const StepContext& c, const TransferGroup& g) {
  TraceScope t("dpe680");
  std::string name = g.definitionName;
  if (name.empty() && element(c.index).transferAttrs()) name = element(c.index).transferAttrs()->name;
  const std::int32_t definition = definitionOf(c.index, name);
  if (definition <= 0 || definition == c.index) co_return ConvertResult::kTakenOver;
  // An instance inside its own definition (at any depth) closes a cycle.
  if (beingConverted(definition)) reportMemberCycle(definition);
  if (element(definition).state == ElementState::kWaiting) {
    co_await memberStep(definition, element(definition).transferId, c.depth + 1, 0, 0);
  }
  if (element(definition).state != ElementState::kDone) co_return ConvertResult::kTakenOver;
  co_return target().userInstance(c, g, definition);
}

}  // namespace

StepTask convertGroup(StepContext c) {
  TraceScope t(plusLevel() ? "dpe640" : "dpe600");
  co_return co_await groupStep(c, t.code());
}

StepTask convertUserElement(StepContext c) {
  if (!userElementsWritten()) {
    TraceScope t("dpe600");
    co_return co_await groupStep(c, t.code());
  }
  TransferGroup g;
  const int fetched = fetchUserElement(c.index, c.position, g);
  if (fetched != 0) co_return fetched;
  if (leftOutAsDeleted(g)) co_return ConvertResult::kIgnored;
  if (element(c.index).type == IgesType::kSubfigureDefinition) co_return co_await writeDefinition(c, g);
  const int instance = co_await writeInstance(c, g);
  if (instance != ConvertResult::kTakenOver) co_return instance;
  // No definition to refer to: the user element's own members as a group.
  TraceScope t("dpe640");
  co_return co_await groupStep(c, t.code());
}

StepTask convertContour(StepContext c) {
  TraceScope t("dpe700");
  TransferContour contour;
  const int fetched = fetchContour(c.index, c.position, contour);
  if (fetched != 0) co_return fetched;
  if (leftOutAsDeleted(contour)) co_return ConvertResult::kIgnored;
  resolveColour(contour);
  if (const int begun = target().beginContour(c, contour); begun != 0) co_return begun;
  WrittenMembers members;
  const int count = co_await convertMembers(c, t.code(), kPhysicallyDependent, members);
  TargetSteps& steps = target();
  const int result = count == 0 ? ConvertResult::kIgnored : steps.contour(c, contour, members);
  steps.endContour(c, contour);
  co_return result;
}

namespace {

bool isCurveType(std::int32_t type) {
  return type == IgesType::kCircularArc || type == IgesType::kConicArc ||
         type == IgesType::kCopiousData || type == IgesType::kLine ||
         type == IgesType::kParametricSpline;
}

// dpe800: the boundary contours of a plane part from its members.  A
// contour member is one contour; loose curves that follow each other in
// the member list make one contour together (the target's looseContour).
// Members that are no curve cannot bound an area and are reported.  The
// number of contours with their references in `contours` (those the target
// gave one); -1 on a write failure.
StepTask recogniseContours(const StepContext& c, const TransferPlanePart& part,
                           std::vector<std::int32_t>& contours) {
  TraceScope t("dpe800");
  TargetSteps& steps = target();
  contours.clear();
  std::vector<std::int32_t> loose;
  int count = 0;
  auto closeLoose = [&]() -> bool {
    if (loose.empty()) return true;
    const std::int32_t reference = steps.looseContour(c, part, loose);
    if (reference < 0) return false;
    if (reference > 0) contours.push_back(reference);
    ++count;
    loose.clear();
    return true;
  };
  for (const LinkNode* n = element(c.index).sons; n != nullptr; n = n->next) {
    const std::int32_t son = n->index;
    if (!isElementIndex(son)) continue;
    const std::int32_t type = element(son).type;
    if (type != IgesType::kCompositeCurve && !isCurveType(type)) {
      std::printf("dpe800 : Konturelementdaten unbekannt !!\n");
      continue;
    }
    co_await memberStep(son, element(son).transferId, c.depth + 1, 1, 0);
    if (element(son).state != ElementState::kDone) continue;
    const std::int32_t reference = steps.memberReference(son);
    if (type == IgesType::kCompositeCurve) {
      if (!closeLoose()) co_return -1;
      if (reference <= 0) continue;
      contours.push_back(reference);
      ++count;
    } else if (reference > 0) {
      loose.push_back(reference);
    }
  }
  if (!closeLoose()) co_return -1;
  if (debugAbove(4)) std::printf("dpe800 : Anzahl erkannter Konturen  ->  %d\n", count);
  co_return count;
}

}  // namespace

StepTask convertPlanePart(StepContext c) {
  const bool plus = plusLevel();
  if (!plus && !runHas(RunModeBit::kB1)) {
    if (debugAbove(4)) {
      std::printf(
          "-> dpe100 : Fl\xe4"
          "che (Index:%d, ID:%d) wird ignoriert (Leistungsstufenfehler)\n",
          static_cast<int>(c.index), static_cast<int>(element(c.index).transferId));
    }
    co_return ConvertResult::kIgnored;
  }
  TraceScope t(plus ? "dpe420" : "dpe400");
  TransferPlanePart part;
  const int fetched = fetchPlanePart(c.index, c.position, part);
  if (fetched != 0) co_return fetched;
  if (leftOutAsDeleted(part)) co_return ConvertResult::kIgnored;
  resolveColour(part);
  TargetSteps& steps = target();
  std::vector<std::int32_t> contours;
  steps.beginBoundary(c, part);
  const int count = co_await recogniseContours(c, part, contours);
  steps.endBoundary(c, part);
  if (count < 0) co_return -1;
  if (count == 0) co_return ConvertResult::kIgnored;
  co_return target().planePart(c, part, contours);
}

int convertLayer(const StepContext& c) {
  TraceScope t("dpe888");
  TransferLayer layer;
  const int fetched = fetchLayer(c.index, c.position, layer);
  if (fetched != 0) return fetched;
  // A layer is written through the level numbers of its elements and the
  // layer list at the end of the run; it makes no entity of its own.
  return 0;
}

}  // namespace output_steps

// Output steps of the composite kinds: groups (dpe600, dpe640 with the name
// property dpe580), user elements (dpe680 instances, dpe690 definitions),
// contours (dpe700), plane parts with the recognition of their boundary
// contours (dpe400, dpe420, dpe800) and layers (dpe888).
//
// A composite converts its members first (convertMember), so that every
// member's directory entry exists before the composite points at it.  For
// the own DXF target there is nothing to point at: the members are written
// as entities of their own and the composite is done when one was.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "elements/convert_result.h"
#include "iges_out/iges_entities.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/fetchers.h"
#include "transfer/output_dispatch.h"
#include "transfer/output_steps.h"

namespace output_steps {

namespace {

// Forms and labels of the entities the composites become.
constexpr std::int32_t kGroupForm = 7;     // 402: unordered group without back pointers
constexpr std::int32_t kNameForm = 15;     // 406: name property
constexpr char kNameLabel[] = "NAME    ";
constexpr char kContourLabel[] = "CONTOUR ";

// Members of a group or user element belong to it logically only; members
// of a definition, a contour or a plane part are parts of it.
constexpr EntityStatus kIndependent{};
constexpr EntityStatus kPhysicallyDependent{0, 1, 0, 0};

bool debugAbove(int level) { return runSettings().traceLevel > level; }

// dpe580: the name property of a group; its directory sequence number, 0
// when the group has no name, -1 on a write failure.
std::int32_t writeNameProperty(const TransferRecord& record, const std::string& name) {
  TraceScope t("dpe580");
  if (name.empty()) return 0;
  IgesPropertyParams params;
  params.valueCount = 1;
  params.value = name;
  const std::int32_t start = beginEntity();
  if (writeIgesProperty(params) != 0) return -1;
  DirectoryEntry de = partEntry(record, kNameLabel);
  return writeEntity(de, IgesType::kProperty, kNameForm, start, kPhysicallyDependent);
}

// A group of the members, with the group's name as a property at level
// PLUS.  The group record is fetched by the caller.
int writeGroup(const StepContext& c, const TransferGroup& g, const char* code) {
  std::vector<std::int32_t> members;
  const int count = convertMembers(c, code, kIndependent, members);
  if (count == 0) return ConvertResult::kIgnored;
  if (!igesTarget()) return 0;
  IgesMemberParams params;
  params.members = std::move(members);
  if (plusLevel()) {
    const std::int32_t name = writeNameProperty(g, g.name);
    if (name < 0) return -1;
    if (name > 0) params.pointers.properties.push_back(name);
  }
  const std::int32_t start = beginEntity();
  if (writeIgesAssociativity(params) != 0) return -1;
  return writeElementEntity(c, g, IgesType::kAssociativityInstance, kGroupForm, start);
}

// Whether the element's step is the group step: a group, or a user
// element below PLUS or for a target other than IGES.
bool writtenAsGroup(std::int32_t index) {
  const std::int32_t type = element(index).type;
  if (type == IgesType::kAssociativityInstance) return true;
  return (type == IgesType::kSubfigureDefinition || type == IgesType::kSubfigureInstance) && (!plusLevel() || !igesTarget());
}

// The function code of the group step of the element.
const char* groupCode(std::int32_t index) {
  return element(index).type == IgesType::kAssociativityInstance && plusLevel() ? "dpe640" : "dpe600";
}

// The group record of the element; 0, or the step result that ends the
// group without its members (a fetch refused, a deleted group left out).
int fetchGroupRecord(const StepContext& c, TransferGroup& g) {
  const int fetched = fetchGroup(c.index, c.position, g);
  if (fetched != 0) return fetched;
  return leftOutAsDeleted(g) ? ConvertResult::kIgnored : ConvertResult::kDone;
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
int groupStep(const StepContext& c, const char* code) {
  std::vector<OpenGroup> open;
  {
    OpenGroup& root = open.emplace_back();
    root.c = c;
    root.code = code;
    const int fetched = fetchGroupRecord(c, root.g);
    if (fetched != 0) return fetched;
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
        convertMember(son, element(son).transferId, top.c.depth + 1, kIndependent.subordinate,
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
      const int fetched = fetchGroupRecord(inner, g);
      if (fetched != 0) {
        endStep(inner, frame, fetched);
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
    const int result = writeGroup(top.c, top.g, top.code);
    if (open.size() == 1) return result;
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
      if (e.type == IgesType::kSubfigureDefinition && e.transferAttrs &&
          !e.transferAttrs->name.empty()) {
        s.definitions.emplace(e.transferAttrs->name, i);
      }
    }
    s.definitionsMade = true;
  }
  const auto found = s.definitions.find(name);
  return found == s.definitions.end() ? 0 : found->second;
}

// Nesting depth of a definition: 0 when it holds no instance, else one
// more than the deepest definition its instances refer to.  A written
// instance keeps that number (its definition's depth plus one) in its
// outputSubKind.
std::int32_t definitionDepth(const std::vector<std::int32_t>& memberIndices) {
  std::int32_t depth = 0;
  for (std::int32_t member : memberIndices) {
    if (element(member).outputKind == IgesType::kSubfigureInstance)
      depth = std::max(depth, element(member).outputSubKind);
  }
  return depth;
}

// dpe690: a user element definition ("userdef") as a 308 subfigure
// definition of its members.
int writeDefinition(const StepContext& c, const TransferGroup& g) {
  TraceScope t("dpe690");
  std::vector<std::int32_t> members, indices;
  const int count = convertMembers(c, t.code(), kPhysicallyDependent, members, &indices);
  if (count == 0) return ConvertResult::kIgnored;
  if (!igesTarget()) return 0;
  IgesDefinitionParams params;
  params.depth = definitionDepth(indices);
  params.name = g.name;
  params.members = std::move(members);
  element(c.index).outputSubKind = params.depth;
  const std::int32_t start = beginEntity();
  if (writeIgesDefinition(params) != 0) return -1;
  EntityStatus status;
  status.use = 2;  // a definition
  StepContext own = c;
  own.status = status;
  return writeElementEntity(own, g, IgesType::kSubfigureDefinition, 0, start);
}

// dpe680: a user element reference as a 408 instance of its definition;
// -88 when the definition cannot be written (the caller writes the element
// as a group then).
int writeInstance(const StepContext& c, const TransferGroup& g) {
  TraceScope t("dpe680");
  std::string name = g.definitionName;
  if (name.empty() && element(c.index).transferAttrs) name = element(c.index).transferAttrs->name;
  const std::int32_t definition = definitionOf(c.index, name);
  if (definition <= 0 || definition == c.index) return ConvertResult::kTakenOver;
  if (element(definition).state == ElementState::kWaiting) {
    convertMember(definition, element(definition).transferId, c.depth + 1);
  }
  const ElementRecord& d = element(definition);
  if (d.state != ElementState::kDone || d.outputKind != IgesType::kSubfigureDefinition || d.de.sequence <= 0) return ConvertResult::kTakenOver;
  IgesInstanceParams params;
  params.definition = d.de.sequence;
  params.x = g.insertion.x;
  params.y = g.insertion.y;
  params.z = g.insertion.z;
  params.scale = g.factor;
  element(c.index).outputSubKind = d.outputSubKind + 1;
  const std::int32_t start = beginEntity();
  if (writeIgesUserInstance(params) != 0) return -1;
  return writeElementEntity(c, g, IgesType::kSubfigureInstance, 0, start);
}

}  // namespace

int convertGroup(const StepContext& c) {
  TraceScope t(plusLevel() ? "dpe640" : "dpe600");
  return groupStep(c, t.code());
}

int convertUserElement(const StepContext& c) {
  if (!plusLevel() || !igesTarget()) {
    TraceScope t("dpe600");
    return groupStep(c, t.code());
  }
  TransferGroup g;
  const int fetched = fetchUserElement(c.index, c.position, g);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(g)) return ConvertResult::kIgnored;
  if (element(c.index).type == IgesType::kSubfigureDefinition) return writeDefinition(c, g);
  const int instance = writeInstance(c, g);
  if (instance != ConvertResult::kTakenOver) return instance;
  // No definition to refer to: the user element's own members as a group.
  TraceScope t("dpe640");
  return groupStep(c, t.code());
}

int convertContour(const StepContext& c) {
  TraceScope t("dpe700");
  TransferContour contour;
  const int fetched = fetchContour(c.index, c.position, contour);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(contour)) return ConvertResult::kIgnored;
  resolveColour(contour);
  std::vector<std::int32_t> members;
  const int count = convertMembers(c, t.code(), kPhysicallyDependent, members);
  if (count == 0) return ConvertResult::kIgnored;
  if (!igesTarget()) return 0;
  IgesMemberParams params;
  params.members = std::move(members);
  const std::int32_t start = beginEntity();
  if (writeIgesComposite(params) != 0) return -1;
  return writeElementEntity(c, contour, IgesType::kCompositeCurve, 0, start);
}

namespace {

bool isCurveType(std::int32_t type) {
  return type == IgesType::kCircularArc || type == IgesType::kConicArc ||
         type == IgesType::kCopiousData || type == IgesType::kLine ||
         type == IgesType::kParametricSpline;
}

// A contour made of loose member curves: a new 102 record of the table,
// written with the plane part's attributes.  Its directory sequence
// number, or -1.
std::int32_t writeLooseContour(const TransferRecord& part, const std::vector<std::int32_t>& curves) {
  const std::int32_t index = appendOutputRecord(IgesType::kCompositeCurve, 0, kContourLabel);
  if (index < 0) return -1;
  IgesMemberParams params;
  params.members = curves;
  const std::int32_t start = beginEntity();
  if (writeIgesComposite(params) != 0) return -1;
  ElementRecord& e = element(index);
  const DirectoryEntry attributes = partEntry(part, kContourLabel);
  e.de = attributes;
  e.de.subscript = index;
  e.outputKind = IgesType::kCompositeCurve;
  if (writeEntity(e.de, IgesType::kCompositeCurve, 0, start, kPhysicallyDependent) < 0) return -1;
  setState(index, ElementState::kDone);
  classifyElement(index);
  return element(index).de.sequence;
}

// dpe800: the boundary contours of a plane part from its members.  A
// contour member is one contour; loose curves that follow each other in
// the member list make one contour together.  Members that are no curve
// cannot bound an area and are reported.  The contours' directory sequence
// numbers (IGES), or their count (other targets); -1 on a write failure.
int recogniseContours(const StepContext& c, const TransferRecord& part,
                      std::vector<std::int32_t>& contours) {
  TraceScope t("dpe800");
  contours.clear();
  std::vector<std::int32_t> loose;
  int count = 0;
  auto closeLoose = [&]() -> bool {
    if (loose.empty()) return true;
    if (igesTarget()) {
      const std::int32_t sequence = writeLooseContour(part, loose);
      if (sequence < 0) return false;
      contours.push_back(sequence);
    }
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
    convertMember(son, element(son).transferId, c.depth + 1, 1, 0);
    const ElementRecord& member = element(son);
    if (member.state != ElementState::kDone) continue;
    if (type == IgesType::kCompositeCurve) {
      if (!closeLoose()) return -1;
      if (igesTarget()) {
        if (member.de.sequence <= 0) continue;
        contours.push_back(member.de.sequence);
      }
      ++count;
    } else if (igesTarget()) {
      if (member.de.sequence > 0) loose.push_back(member.de.sequence);
    } else {
      loose.push_back(son);
    }
  }
  if (!closeLoose()) return -1;
  if (debugAbove(4)) std::printf("dpe800 : Anzahl erkannter Konturen  ->  %d\n", count);
  return count;
}

}  // namespace

int convertPlanePart(const StepContext& c) {
  const bool plus = plusLevel();
  if (!plus && !runHas(RunModeBit::kB1)) {
    if (debugAbove(4)) {
      std::printf(
          "-> dpe100 : Fl\xe4"
          "che (Index:%d, ID:%d) wird ignoriert (Leistungsstufenfehler)\n",
          static_cast<int>(c.index), static_cast<int>(element(c.index).transferId));
    }
    return ConvertResult::kIgnored;
  }
  TraceScope t(plus ? "dpe420" : "dpe400");
  TransferPlanePart part;
  const int fetched = fetchPlanePart(c.index, c.position, part);
  if (fetched != 0) return fetched;
  if (leftOutAsDeleted(part)) return ConvertResult::kIgnored;
  resolveColour(part);
  std::vector<std::int32_t> contours;
  const int count = recogniseContours(c, part, contours);
  if (count < 0) return -1;
  if (count == 0) return ConvertResult::kIgnored;
  // Below PLUS the boundary contours are the plane part's geometry; the
  // sectioned area that fills them belongs to the full scope.
  if (!plus || !igesTarget()) return 0;
  IgesSectionedAreaParams params;
  params.boundary = contours.front();
  params.pattern = part.hatchKind;
  params.distance = part.hatchSpacing;
  params.angle = part.hatchAngle;
  params.islands.assign(contours.begin() + 1, contours.end());
  const std::int32_t start = beginEntity();
  if (writeIgesSectionedArea(params) != 0) return -1;
  return writeElementEntity(c, part, IgesType::kSectionedArea, 0, start);
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

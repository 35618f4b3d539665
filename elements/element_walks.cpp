// Walks over the element table: son cursors, descendants, ancestors, the
// conversion order, states and progress, the matrix chain and the status
// and class decoding of directory entries.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "elements/element_table.h"
#include "support/config.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/progress_line.h"
#include "support/run_state.h"
#include "support/trace.h"

using element_walk::ancestorMarks;
using element_walk::beginWalk;
using element_walk::fatherNode;
using element_walk::hasSlot;

namespace {

// "The element could not be converted."
constexpr int kMsgNotConverted = 790;

bool skippedLink(std::int32_t index) { return index < 0; }

// Results of a son or pick in the input or output direction.
void describe(std::int32_t index, std::int32_t& deNumberOrType, std::int32_t& id) {
  if (runHas(RunModeBit::kOutput)) {
    const ElementRecord& e = element(index);
    deNumberOrType = e.type;
    id = e.transferId;
  } else {
    deNumberOrType = deNumberOf(index);
    id = 0;
  }
}

// Has the element an ancestor of the type, over all fathers at any depth?
// Every ancestor is visited once, so cycles and shared fathers cost nothing
// extra.
// The walk over the ancestors: 1 when one is of the type, 0 when none is,
// -1 when more than `budget` ancestors were met before either was known
// (a budget below 0 sets no bound).
int searchAncestors(std::int32_t index, std::int32_t type, int budget) {
  const std::uint32_t mark = beginWalk();
  std::vector<std::int32_t> stack{index};
  element(index).walkMark = mark;
  int met = 0;
  while (!stack.empty()) {
    const std::int32_t e = stack.back();
    stack.pop_back();
    for (const LinkNode* f = element(e).fathers; f != nullptr; f = f->next) {
      if (!hasSlot(f->index)) continue;
      ElementRecord& father = element(f->index);
      if (father.type == type) return 1;
      if (father.walkMark != mark) {
        if (budget >= 0 && ++met > budget) return -1;
        father.walkMark = mark;
        stack.push_back(f->index);
      }
    }
  }
  return 0;
}

// The ancestors searched directly before the marks of the whole table are
// made instead.
constexpr int kDirectAncestors = 64;

bool hasAncestorOfType(std::int32_t index, std::int32_t type) {
  if (!hasSlot(index)) return false;
  // Without fathers there is nothing to search (nor any marks to make).
  if (element(index).fathers == nullptr) return false;
  if (type == IgesType::kSubfigureDefinition || type == IgesType::kAssociativityInstance ||
      type == IgesType::kCompositeCurve) {
    // Most elements have a few ancestors: they are searched directly, and
    // the marks of the whole table (made again whenever a link changes) are
    // made only for an element with many.
    const int direct = searchAncestors(index, type, kDirectAncestors);
    if (direct >= 0) return direct == 1;
    const std::vector<char>& marks = ancestorMarks(type);
    return index < static_cast<std::int32_t>(marks.size()) && marks[index] != 0;
  }
  return searchAncestors(index, type, -1) == 1;
}

bool firstFatherIsProperty(const ElementRecord& e) {
  return e.fathers != nullptr && hasSlot(e.fathers->index) &&
         element(e.fathers->index).type == IgesType::kProperty;
}

void countProgress(ElementRecord& e, char state) {
  ElementTable& table = elementTable();
  if (state == ElementState::kRegistered || state == ElementState::kWaiting) return;
  if (e.state != ElementState::kWaiting && e.state != ElementState::kRegistered) return;
  if (!table.progressOn) return;
  ++table.processedCount;
  progressLineTick();
  const std::int64_t denominator =
      static_cast<std::int64_t>(table.lastIndex) * (table.progressScale > 0 ? table.progressScale : 1);
  if (denominator > 0 && table.progressDisplay != nullptr) {
    table.progressDisplay(static_cast<int>(static_cast<std::int64_t>(table.processedCount) * 100 / denominator));
  }
}

void resetForWaiting(ElementRecord& e) {
  e.sonCursor = e.sons;
  e.sonCursor2 = e.sons;
  e.fatherCursor = e.fathers;
  if (!runHas(RunModeBit::kOutput)) {
    e.scriptObjects.clear();
    e.scriptObjects.shrink_to_fit();
  }
}

// The type of element each conversion step takes; 0 for the last two
// steps, which take elements of any type.
constexpr std::int32_t kStepTypes[17] = {
    IgesType::kLayer,
    IgesType::kSubfigureInstance,
    IgesType::kSubfigureDefinition,
    IgesType::kAssociativityInstance,
    IgesType::kSectionedArea,
    IgesType::kCompositeCurve,
    IgesType::kAssociativityInstance,
    IgesType::kTransferDimension,
    IgesType::kLinearDimension,
    IgesType::kRadiusDimension,
    IgesType::kAngularDimension,
    IgesType::kDiameterDimension,
    IgesType::kGeneralLabel,
    IgesType::kOrdinateDimension,
    IgesType::kPointDimension,
    0,
    0,
};

// One conversion step of nextToConvert: does element i qualify?
bool qualifies(int step, std::int32_t i) {
  const ElementRecord& e = element(i);
  if (e.state != ElementState::kWaiting) return false;
  switch (step) {
    case 0: return e.type == IgesType::kLayer;
    case 1:
      return e.type == IgesType::kSubfigureInstance &&
             !hasAncestorOfType(i, IgesType::kSubfigureDefinition) &&
             firstSonOfType(i, IgesType::kSubfigureDefinition) != 0;
    case 2:
      return e.type == IgesType::kSubfigureDefinition &&
             !hasAncestorOfType(i, IgesType::kSubfigureDefinition);
    case 3:
      return e.type == IgesType::kAssociativityInstance &&
             !hasAncestorOfType(i, IgesType::kAssociativityInstance) &&
             (runHas(RunModeBit::kOutput) || e.form != 13);
    case 4: return e.type == IgesType::kSectionedArea;
    case 5:
      return e.type == IgesType::kCompositeCurve &&
             !hasAncestorOfType(i, IgesType::kCompositeCurve);
    case 6: return e.type == IgesType::kAssociativityInstance;
    case 7: return e.type == IgesType::kTransferDimension;
    case 15: return e.sons != nullptr && (e.fathers == nullptr || firstFatherIsProperty(e));
    case 16: return e.type != IgesType::kTransformationMatrix;
    default: return e.type == kStepTypes[step];  // the dimensions
  }
}

// The steps before the last two take the elements of one type each.
constexpr int kTypedSteps = 15;

void makeConvertOrder(ElementTable& table) {
  ElementTable::ConvertOrder& order = table.convertOrder;
  const std::int32_t last = std::max(0, std::min(table.lastIndex, table.capacity - 1));
  for (std::vector<std::int32_t>& listed : order.ofStep) listed.clear();
  for (std::int32_t i = 1; i <= last; ++i) {
    const std::int32_t type = table.records[i].type;
    for (int step = 0; step < kTypedSteps; ++step) {
      if (kStepTypes[step] == type) order.ofStep[step].push_back(i);
    }
  }
  order.last = last;
  order.made = true;
  for (std::int32_t& at : order.atCursor) at = -1;
}

// Passes the step's cursor over the table up to `end` to the next element
// that qualifies for the step: its index, or -1 with the cursor at `end`.
std::int32_t scanFrom(int step, std::int32_t& cursor, std::int32_t end) {
  const std::int32_t type = kStepTypes[step];
  const RecordBlocks& records = elementTable().records;
  while (cursor < end) {
    // Most records are passed over on their state and type alone.  The
    // records are large and the pass touches one place in each: they are
    // asked for well before they are read, so that the pass does not wait
    // for every one.
    constexpr std::int32_t kAhead = 16;
    std::int32_t i = cursor;
    for (; i < end; ++i) {
      if (i + kAhead < end) __builtin_prefetch(&records[i + kAhead].type);
      if (records[i].state == ElementState::kWaiting && (type == 0 || records[i].type == type)) break;
    }
    cursor = i;
    if (i >= end) break;
    ++cursor;
    if (qualifies(step, i)) return i;
  }
  return -1;
}

void setStateTree(std::int32_t index, char state, std::int32_t keepType = 0) {
  // Depth-first over the son tree without recursion; each element is entered
  // once per call, so shared sons and cycles do not multiply the work.
  const std::uint32_t mark = beginWalk();
  std::vector<std::int32_t> stack{index};
  element(index).walkMark = mark;
  while (!stack.empty()) {
    const std::int32_t i = stack.back();
    stack.pop_back();
    ElementRecord& e = element(i);
    setState(i, state);
    if (state == ElementState::kWaiting) resetForWaiting(e);
    if (keepType != 0 && i != index && e.type == keepType) continue;
    for (const LinkNode* n = e.sons; n != nullptr; n = n->next) {
      if (n->index == LinkIndex::kNull || !hasSlot(n->index) || skippedLink(n->index)) continue;
      ElementRecord& son = element(n->index);
      if (son.walkMark == mark) continue;
      if (state != ElementState::kWaiting && son.state != ElementState::kWaiting &&
          son.state != ElementState::kRegistered) {
        continue;
      }
      son.walkMark = mark;
      stack.push_back(n->index);
    }
  }
  elementTable().cursorGeneration++;
}

}  // namespace

void resetSonCursors(std::int32_t index) {
  if (!hasSlot(index)) return;
  ElementRecord& e = element(index);
  e.sonCursor = e.sons;
  e.sonCursor2 = e.sons;
  e.fatherCursor = e.fathers;
  ++elementTable().cursorGeneration;
}

int nextSon(std::int32_t father, SonResult& out) {
  TraceScope t("ldv011");
  out = SonResult();
  if (!hasSlot(father)) return -3;
  ElementRecord& f = element(father);
  while (f.sonCursor != nullptr) {
    const LinkNode* node = f.sonCursor;
    f.sonCursor = node->next;
    if (skippedLink(node->index) || !hasSlot(node->index)) continue;
    out.index = node->index;
    element(node->index).fatherCursor = fatherNode(node->index, father);
    if (runHas(RunModeBit::kOutput)) {
      out.type = element(node->index).type;
      out.id = element(node->index).transferId;
    } else {
      out.deNumber = deNumberOf(node->index);
    }
    return 0;
  }
  if (f.sons == nullptr) return -3;
  return f.fathers != nullptr ? -2 : -1;
}

std::int32_t firstSonOfType(std::int32_t father, std::int32_t type) {
  TraceScope t("ldv020");
  if (!hasSlot(father)) return 0;
  for (const LinkNode* n = element(father).sons; n != nullptr; n = n->next) {
    if (!skippedLink(n->index) && hasSlot(n->index) && element(n->index).type == type) return n->index;
  }
  return 0;
}

// Leaves first.  The path from the start element down to the element whose
// son is walked is kept between calls (valid while the start element and its
// cursor are those of the last call and no table operation reset cursors),
// so each call costs a constant amount beside the elements it steps over.
// An element already on the path is not entered again: a cyclic structure
// ends instead of descending forever.
int nextDescendant(std::int32_t start, std::int32_t& deNumber, std::int32_t& index) {
  TraceScope t("ldv012");
  deNumber = 0;
  index = 0;
  if (!hasSlot(start)) return -1;
  ElementTable& table = elementTable();
  std::vector<std::int32_t>& path = table.descentPath;
  const bool resume = !path.empty() && table.descentStart == start &&
                      table.descentGeneration == table.cursorGeneration &&
                      table.descentTop == element(start).sonCursor2;
  std::vector<std::uint32_t>& marks = table.descentMarks;
  if (marks.size() < static_cast<std::size_t>(table.capacity)) marks.resize(static_cast<std::size_t>(table.capacity), 0);
  if (!resume) {
    for (std::int32_t i : path) {
      if (hasSlot(i)) marks[i] = 0;
    }
    path.assign(1, start);
    if (++table.descentEpoch == 0) {
      std::fill(marks.begin(), marks.end(), 0u);
      table.descentEpoch = 1;
    }
    marks[start] = table.descentEpoch;
    table.descentStart = start;
    table.descentGeneration = table.cursorGeneration;
  }
  const std::uint32_t onPath = table.descentEpoch;
  int result = -1;
  for (;;) {
    const std::int32_t current = path.back();
    ElementRecord& e = element(current);
    while (e.sonCursor2 != nullptr &&
           (skippedLink(e.sonCursor2->index) || !hasSlot(e.sonCursor2->index) ||
            marks[e.sonCursor2->index] == onPath)) {
      e.sonCursor2 = e.sonCursor2->next;
    }
    if (e.sonCursor2 == nullptr) {
      if (path.size() == 1) break;  // the start element is exhausted
      // The element has nothing left: it is the result, below its father.
      path.pop_back();
      marks[current] = 0;
      ElementRecord& father = element(path.back());
      father.sonCursor2 = father.sonCursor2->next;
      e.fatherCursor = fatherNode(current, path.back());
      index = current;
      result = 0;
      break;
    }
    const std::int32_t son = e.sonCursor2->index;
    ElementRecord& s = element(son);
    if (s.type == IgesType::kSubfigureDefinition) {
      // A subfigure definition is returned as it is; its sons are its own.
      e.sonCursor2 = e.sonCursor2->next;
      s.fatherCursor = fatherNode(son, current);
      index = son;
      result = 0;
      break;
    }
    marks[son] = onPath;
    path.push_back(son);
  }
  table.descentTop = element(start).sonCursor2;
  if (result == 0) deNumber = deNumberOf(index);
  return result;
}

int hasNoAncestorOfType(std::int32_t index, std::int32_t type) {
  TraceScope t("ldv001");
  if (!hasSlot(index)) return 1;
  const ElementRecord& e = element(index);
  if (type == 0) return (e.fathers == nullptr || firstFatherIsProperty(e)) ? 1 : 0;
  return hasAncestorOfType(index, type) ? 0 : 1;
}

int nextToConvert(ConvertPick& out) {
  TraceScope t("ldv005");
  out = ConvertPick();
  ElementTable& table = elementTable();
  const std::int32_t end = std::min(table.lastIndex + 1, table.capacity);
  ElementTable::ConvertOrder& order = table.convertOrder;
  if (!order.made || order.last > table.lastIndex || table.lastIndex - order.last > std::max(order.last, 1024)) {
    makeConvertOrder(table);
  }
  const RecordBlocks& records = table.records;
  for (int step = 0; step < 17; ++step) {
    std::int32_t& cursor = table.cursors[step];
    if (cursor < 1) cursor = 1;
    if (cursor >= end) continue;  // the step has passed the last element
    const std::int32_t type = kStepTypes[step];
    if (step < kTypedSteps) {
      // The listed elements of the step's type, then those added since.
      const std::vector<std::int32_t>& listed = order.ofStep[step];
      std::size_t& at = order.at[step];
      if (order.atCursor[step] != cursor)
        at = static_cast<std::size_t>(std::lower_bound(listed.begin(), listed.end(), cursor) - listed.begin());
      std::int32_t picked = -1;
      while (at < listed.size()) {
        const std::int32_t i = listed[at++];
        if (i >= end) {
          at = listed.size();
          break;
        }
        if (records[i].state != ElementState::kWaiting || records[i].type != type) continue;
        cursor = i + 1;
        if (qualifies(step, i)) {
          picked = i;
          break;
        }
      }
      if (picked < 0 && at >= listed.size() && cursor <= order.last) cursor = order.last + 1;
      if (picked < 0 && cursor < end) picked = scanFrom(step, cursor, end);
      order.atCursor[step] = cursor;
      if (picked < 0) continue;
      out.index = picked;
    } else {
      const std::int32_t picked = scanFrom(step, cursor, end);
      if (picked < 0) continue;
      out.index = picked;
    }
    describe(out.index, out.deNumberOrType, out.id);
    return 0;
  }
  out.index = -1;
  return -1;
}

int setState(std::int32_t index, char state) {
  TraceScope t("ldv701");
  if (!hasSlot(index)) return 0;
  ElementRecord& e = element(index);
  countProgress(e, state);
  e.state = state;
  if (state == ElementState::kError) {
    if (ConversionPicture* record = conversionPicture()) record->elementFailed(index);
  }
  return 0;
}

int setStateRaw(std::int32_t index, char state) {
  TraceScope t("ldv880");
  if (hasSlot(index)) element(index).state = state;
  return 0;
}

int setStateFromResult(std::int32_t index, int result, const char* callerCode) {
  TraceScope t("ldv700");
  switch (result) {
    case 0: return setState(index, ElementState::kDone);
    case -99: return setState(index, ElementState::kIgnored);
    case -88: return setState(index, ElementState::kTakenOver);
    case -1:
      setState(index, ElementState::kError);
      if (hasSlot(index)) element(index).failureReported = true;
      mfaError(callerCode != nullptr ? callerCode : t.code(), kMsgNotConverted, Channel::kProtocol);
      return 0;
    default:
      setState(index, ElementState::kError);
      if (hasSlot(index)) element(index).failureReported = true;
      mfaSetPosition(index, 0);
      mfaError(t.code(), 560, Channel::kProtocol);
      mfaClearPosition();
      return 0;
  }
}

void reportElementFailure(std::int32_t index, const char* code) {
  TraceScope t("ldv702");
  if (!hasSlot(index)) return;
  ElementRecord& e = element(index);
  if (e.failureReported) return;
  e.failureReported = true;
  mfaSetPosition(index, 0);
  mfaError(code != nullptr ? code : t.code(), kMsgNotConverted, Channel::kProtocol);
  mfaClearPosition();
}

int reportUnreportedFailures() {
  TraceScope t("ldv703");
  const ElementTable& table = elementTable();
  int reported = 0;
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    if (!hasSlot(i)) break;
    const ElementRecord& e = element(i);
    if (e.state != ElementState::kError || e.failureReported) continue;
    reportElementFailure(i, t.code());
    ++reported;
  }
  return reported;
}

int setStateDeep(std::int32_t index, char state) {
  TraceScope t("ldv200");
  if (!hasSlot(index)) return 0;
  setStateTree(index, state);
  return 0;
}

int setStateDeepWithin(std::int32_t index, char state, std::int32_t keepType) {
  TraceScope t("ldv203");
  if (!hasSlot(index)) return 0;
  setStateTree(index, state, keepType);
  return 0;
}

int setStateDeepKeepSelf(std::int32_t index, char state) {
  TraceScope t("ldv252");
  if (!hasSlot(index)) return 0;
  const char own = element(index).state;
  const std::int32_t counted = elementTable().processedCount;
  setStateTree(index, state);
  // The element keeps its state, so it has not been processed: take back
  // the count its own setState made (the percentage would pass 100).
  const bool ownCounted = (own == ElementState::kWaiting || own == ElementState::kRegistered) &&
                          state != ElementState::kWaiting && state != ElementState::kRegistered &&
                          elementTable().progressOn && elementTable().processedCount > counted;
  if (ownCounted) --elementTable().processedCount;
  element(index).state = own;
  return 0;
}

int markAll(char state) {
  TraceScope t("ldv201");
  ElementTable& table = elementTable();
  const bool keepSubfigures = runSettings().userElementMode != 2;
  const std::vector<char>* under308 =
      keepSubfigures ? &ancestorMarks(IgesType::kSubfigureDefinition) : nullptr;
  for (std::int32_t i = 1; i <= table.lastIndex && i < table.capacity; ++i) {
    ElementRecord& e = table.records[i];
    if (e.type == IgesType::kTransformationMatrix || e.type == IgesType::kColourDefinition ||
        e.type == IgesType::kDrawing || e.type == IgesType::kView)
      continue;
    if (e.type == IgesType::kAssociativityInstance && (e.form == 3 || e.form == 4)) continue;
    if (keepSubfigures &&
        (e.type == IgesType::kSubfigureDefinition ||
         (i < static_cast<std::int32_t>(under308->size()) && (*under308)[i] != 0))) {
      continue;
    }
    e.state = state;
    if (state == ElementState::kWaiting) resetForWaiting(e);
  }
  ++table.cursorGeneration;
  return 0;
}

int matrixChain(std::int32_t index, std::vector<std::int32_t>& chain) {
  TraceScope t("ldv500");
  chain.clear();
  if (index < 0 || !hasSlot(index)) return -1;
  const std::uint32_t mark = beginWalk();
  std::int32_t current = index;
  for (;;) {
    ElementRecord& e = element(current);
    std::int32_t pointer = e.de.matrixPointer;
    if (pointer == 0) break;
    if (pointer < 0) {
      mfaWarning(t.code(), 441, Channel::kProtocol);
      pointer = pointer == INT32_MIN ? INT32_MAX : -pointer;
    }
    const std::int32_t m = indexOfPointer(pointer);
    if (!isElementIndex(m) || element(m).type != IgesType::kTransformationMatrix ||
        element(m).walkMark == mark) {
      // Not a matrix, or a matrix already in the chain (a loop).
      const long args[2] = {e.type, e.de.sequence};
      mfaReportArgs(t.code(), 442, Channel::kProtocol, Severity::kError, 2, args, 0, nullptr, "", nullptr);
      chain.clear();
      return -1;
    }
    element(m).walkMark = mark;
    chain.push_back(m);
    current = m;
  }
  // Collected innermost first; the result lists the outermost first.
  for (std::size_t a = 0, b = chain.size(); a + 1 < b; ++a, --b) std::swap(chain[a], chain[b - 1]);
  return 0;
}

StatusFlags decodeStatus(const DirectoryFields& de) {
  TraceScope t("ldv600");
  StatusFlags flags;
  const char* s = de.status;
  // The characters after the end of a short field count as blanks.
  std::size_t length = 0;
  while (length < 8 && s[length] != '\0') ++length;
  auto at = [&](std::size_t i) { return i < length ? s[i] : ' '; };
  flags.blank = at(1) == '1' ? 1 : 0;
  const char sub = at(3);
  flags.subordinate = (sub >= '1' && sub <= '3') ? sub - '0' : 0;
  const char use = at(5);
  flags.entityUse = (use >= '1' && use <= '5') ? use - '0' : 0;
  const char hierarchy = at(7);
  flags.hierarchy = (hierarchy == '1' || hierarchy == '2') ? hierarchy - '0' : 0;
  return flags;
}

std::uint8_t classBitsOf(std::int32_t type, std::int32_t form) {
  switch (type) {
    case IgesType::kLeader:
      if (form == 1 || form == 4 || form == 9 || form == 10) return 8;
      if (form == 2 || form == 3 || (form >= 5 && form <= 8) || form == 11) return 16;
      return 0;
    case IgesType::kConicArc: return (form >= 0 && form <= 3) ? 4 : 0;
    case IgesType::kCopiousData:
      if (form == 1 || form == 11 || form == 63) return 4;
      if (form == 2 || form == 12) return 32;
      if (form == 3 || form == 13) return 64;
      if ((form >= 31 && form <= 38) || form == 40) return 8;
      return 0;
    default:
      return 0;
  }
}

std::int32_t classifyElement(std::int32_t index) {
  TraceScope t("chk001");
  if (!hasSlot(index)) return 0;
  ElementRecord& e = element(index);
  e.classBits = classBitsOf(e.type, e.form);
  elementTable().classesMet |= e.classBits;
  return e.classBits;
}

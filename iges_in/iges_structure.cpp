#include "iges_in/iges_structure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "elements/element_table.h"
#include "iges_in/iges_fields.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_script_source.h"
#include "script/geometry.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// The name of the n-th drawing in the picture of the run (-svg).
std::string pictureDrawingName(int n) { return "drawing " + std::to_string(n); }

constexpr int kMsgNoMemory = 370;
constexpr int kMsgDrawingWithoutViews = 435;
constexpr int kMsgCycle = 510;
constexpr int kMsgUnsupportedForm = 521;
constexpr int kMsgDuplicateNote = 891;
constexpr int kMsgModelExists = 892;
constexpr int kMsgOldName = 893;
constexpr int kMsgNewName = 894;
constexpr int kMsgDuplicateError = 897;
constexpr int kMsgSelfContaining = 1322;
constexpr int kMsgNoSubfigureMembers = 1323;
constexpr int kMsgGroupCycle = 1327;

constexpr std::size_t kFirstRecordCapacity = 50;
// Subfigure names are kept to a length any file system takes.
constexpr std::size_t kMaxNameLength = 200;
bool levelIsPlus() { return runHas(RunModeBit::kPlus); }
int traceLevel() { return runSettings().traceLevel; }
// A drawing read as DXF by the own reader, or through the toolkit: blocks,
// inserts and viewports carry the records of the DXF mapping.
bool drawingInputRun() { return runHas(RunModeBit::kInput) && runHas(RunModeBit::kDxf | RunModeBit::kDwg); }
// The flags of a DXF block definition (0 for any other 308).
std::int32_t dxfBlockFlags(std::int32_t index) {
  const auto* rec = dynamic_cast<const BlockRecord*>(element(index).params.get());
  return rec != nullptr ? rec->blockFlags : 0;
}
// Anonymous blocks (bit 0) and external references (bit 2) are not written
// as symbol models of their own.
bool dxfBlockNotWritten(std::int32_t index) { return drawingInputRun() && (dxfBlockFlags(index) & 5) != 0; }
bool dxfBlockAnonymous(std::int32_t index) { return drawingInputRun() && (dxfBlockFlags(index) & 1) != 0; }

// An error text of the structure converters, "FEHLER (<code>) : " and the
// text with the index: to the protocol file, and to standard output.
void errorText(const std::string& code, const std::string& format, std::int32_t index) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, ("FEHLER (" + code + ") : " + format).c_str(), static_cast<int>(index));
  std::FILE* protocol = mfaProtocolFile();
  if (protocol != nullptr) std::fputs(buffer, protocol);
  std::fputs(buffer, stdout);
}

// A structure that contains itself: reported once per run (later ones in
// the protocol only), the element that closes it fails.
void reportCycle(const char* code, std::int32_t index) {
  IgesStructureState& s = igesStructureState();
  mfaSetPosition(index, element(index).de.paramPointer);
  mfaError(code, kMsgCycle, s.cycleReported ? Channel::kProtocol : Channel::kBoth);
  mfaClearPosition();
  s.cycleReported = true;
}

// The name a subfigure definition is known under: the name it was written
// or expanded under, else the name of its parameter data.
std::string definitionLabel(std::int32_t definition) {
  const IgesStructureState& s = igesStructureState();
  const auto named = s.definitionNames.find(definition);
  if (named != s.definitionNames.end()) return named->second;
  if (!isElementIndex(definition)) return "";
  const auto* rec = dynamic_cast<const SubfigureRecord*>(element(definition).params.get());
  return rec != nullptr ? rec->name : "";
}

// An instance whose definition holds, directly or through other
// definitions, an instance of itself: an error naming the definition, at
// the instance (on the console the first time, in the protocol always),
// once per instance.
void reportSelfContaining(const char* code, std::int32_t instance, std::int32_t definition) {
  IgesStructureState& s = igesStructureState();
  // Each instance is one failed element: a second expansion that meets it
  // again says nothing new.
  if (!s.selfContainingInstances.insert(instance).second) return;
  mfaSetPosition(instance, element(instance).de.paramPointer);
  const std::string shownName = mfaCurrentName();
  mfaSetCurrentName(definitionLabel(definition));
  mfaError(code, kMsgSelfContaining, s.selfContainingReported ? Channel::kProtocol : Channel::kBoth);
  mfaSetCurrentName(shownName);
  mfaClearPosition();
  s.selfContainingReported = true;
}

// Enters the conversion of the structure `index` from inside another one's
// pass; false (reported) when the structure is open already: it contains
// itself.  Nesting as files hold it does not come here (groups and
// expanded instances are walked with stacks of their own, definitions are
// written innermost first before the model that holds them), so the open
// structures are distinct elements, never more than the file has.
bool enterNesting(const char* code, std::int32_t index) {
  IgesStructureState& s = igesStructureState();
  bool entered = false;
  try {
    entered = s.nestingPath.insert(index).second;
  } catch (const std::bad_alloc&) {
    mfaNoMemory(code);
    return false;
  }
  if (!entered) {
    reportCycle(code, index);
    return false;
  }
  ++s.nesting;
  return true;
}
void leaveNesting(std::int32_t index) {
  IgesStructureState& s = igesStructureState();
  s.nestingPath.erase(index);
  --s.nesting;
}

// Sets the state of the element and everything below it without counting
// progress (the states are put back for another pass, nothing is done).
void setStateDeepQuiet(std::int32_t index, char state, std::int32_t keepType = 0) {
  ElementTable& t = elementTable();
  const int on = t.progressOn;
  t.progressOn = 0;
  if (keepType != 0) {
    setStateDeepWithin(index, state, keepType);
  } else {
    setStateDeep(index, state);
  }
  t.progressOn = on;
}

bool isWritten(char state) {
  return state == ElementState::kDone || state == ElementState::kTakenOver ||
         state == ElementState::kDefinitionWritten;
}

Transform inverseOf(const Transform& m, bool& ok) {
  const double (&a)[3][3] = m.r;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  Transform inv;
  ok = std::isfinite(det) && std::fabs(det) > 1e-12;
  if (!ok) return inv;
  inv.r[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  inv.r[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  inv.r[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  inv.r[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  inv.r[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  inv.r[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  inv.r[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  inv.r[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  inv.r[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  for (int i = 0; i < 3; ++i) {
    inv.t[i] = 0.0;
    for (int k = 0; k < 3; ++k) inv.t[i] -= inv.r[i][k] * m.t[k];
  }
  return inv;
}

// Steps through the fields of parameter data; a missing or refused field
// fails the reader.
using Fields = IgesFieldCursor;

bool fetchText(std::int32_t index, std::string& text) {
  const ElementRecord& e = element(index);
  return fetchParameterData(e.type, e.de.paramPointer, e.de.paramLineCount, text) == 0;
}



// The member count of an element that has members but none counted: the
// count is corrected and the conversion goes on.
void correctSonCount(const char* code, std::int32_t index) {
  ElementRecord& e = element(index);
  if (e.sonCount != 0 || e.sons == nullptr) return;
  std::int32_t n = 0;
  for (const LinkNode* s = e.sons; s != nullptr; s = s->next) ++n;
  e.sonCount = n;
  std::printf("%s : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht eingetragen !!!!!\n",
              code);
  std::printf("                  Anzahl korrigiert -> ABLAUF KORREKT -> ldv966 korrigieren !!!!!\n");
  std::printf("         Index in der lokalen Datenstruktur : %ld\n", static_cast<long>(index));
}

// ---------------------------------------------------------------------------
// Passes of the structures

// One collect and emit pass at the top level (or under `father`).
int topLevelPass(std::int32_t father, const Transform* view) {
  TraceScope t("cee100");
  IgesConvertState& s = igesConvertState();
  ConversionRecords records;
  try {
    const std::size_t n = static_cast<std::size_t>(elementTable().lastIndex) + 1;
    s.firstRecord.assign(n, 0);
    s.onPath.assign(n, 0);
    records.reserve(kFirstRecordCapacity);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  if (father == 0) resetCursors();
  if (collectPass(father, view, nullptr, nullptr, 0, records) != 0) return -1;
  if (!records.empty() && emitPass(father, view, nullptr, records) != 0) return -1;
  for (const ConversionRecord& rec : records)
    if (isElementIndex(rec.index) && element(rec.index).state == ElementState::kWaiting)
      setState(rec.index, ElementState::kIgnored);
  return 0;
}

// The 308 an instance refers to: its definition pointer, else its first
// 308 son.
std::int32_t definitionOf(std::int32_t instance, std::int32_t pointer) {
  const std::int32_t d = pointerIndex(0, pointer);
  if (d != 0 && element(d).type == IgesType::kSubfigureDefinition) return d;
  return firstSonOfType(instance, IgesType::kSubfigureDefinition);
}

struct InstanceData {
  std::int32_t definition = 0;
  double x = 0.0, y = 0.0, z = 0.0;
  double scale = 1.0;
  const Transform* matrix = nullptr;
};

// The common end of reading a 408: its matrix and its definition (0 for
// none).  0 / -1 with the error text naming `c`.
int placeInstance(std::int32_t index, const std::string& c, std::int32_t definition, InstanceData& out) {
  if (resolveMatrix(index, out.matrix) != 0) {
    errorText(c, "beim Ermitteln der Transformationsmatrix des 408'ers mit Index %d !\n", index);
    return -1;
  }
  out.definition = definition;
  if (out.definition == 0) {
    errorText(c, "408 mit Index %d hat keinen Sohn !\n", index);
    return -1;
  }
  return 0;
}

// Reads a 408's parameter data; the error texts name `code`.  0 / -1.
int readInstance(std::int32_t index, const char* code, InstanceData& out) {
  std::string text;
  const std::string c(code);
  if (const auto* rec = dynamic_cast<const InstanceRecord*>(element(index).params.get())) {
    // An instance of DXF input: the record holds what the parameter data
    // would, the element's matrix the placement.
    out.x = rec->position.x;
    out.y = rec->position.y;
    out.z = rec->position.z;
    if (std::isfinite(rec->scale) && rec->scale != 0.0) out.scale = rec->scale;
    const std::int32_t d = rec->definition;
    return placeInstance(index, c,
                         isElementIndex(d) && element(d).type == IgesType::kSubfigureDefinition
                             ? d
                             : firstSonOfType(index, IgesType::kSubfigureDefinition),
                         out);
  }
  if (!fetchText(index, text)) {
    errorText(c, "PD-Datensatz des 408'ers mit Index %d konnte nicht geholt werden !\n", index);
    return -1;
  }
  Fields f{text.c_str()};
  const int pointer = f.integer();
  if (f.failed) {
    errorText(c, "1. Parameter (Pointer) des 408'ers mit Index %d konnte nicht ermittelt werden !\n", index);
    return -1;
  }
  double* coordinates[3] = {&out.x, &out.y, &out.z};
  const char* names[3] = {"X", "Y", "Z"};
  for (int k = 0; k < 3; ++k) {
    *coordinates[k] = f.real();
    if (f.failed) {
      errorText(c,
                std::string("Referenzpunkt (") + names[k] +
                    "-wert) des 408'ers mit Index %d konnte nicht ermittelt werden !\n",
                index);
      return -1;
    }
  }
  if (f.more()) {
    const double scale = f.real();
    if (!f.failed && std::isfinite(scale) && scale != 0.0) out.scale = scale;
  }
  return placeInstance(index, c, definitionOf(index, pointer), out);
}

// The subfigure record of a 308: the one the parameter pass made, or read
// now.  nullptr (with the error text) when it cannot be had.
const SubfigureRecord* subfigureRecordOf(std::int32_t index) {
  ElementRecord& e = element(index);
  if (const auto* rec = dynamic_cast<const SubfigureRecord*>(e.params.get())) return rec;
  std::string text;
  if (!fetchText(index, text)) {
    errorText("cee680", "PD-Datensatz des 308'ers mit Index %d konnte nicht geholt werden !\n", index);
    return nullptr;
  }
  auto rec = std::make_unique<SubfigureRecord>();
  Fields f{text.c_str()};
  rec->depth = f.integer();
  if (f.failed) {
    errorText("cee680", "1. Parameter (Tiefe) des 308'ers mit Index %d konnte nicht ermittelt werden !\n", index);
    return nullptr;
  }
  rec->name = f.string();
  if (f.failed) {
    errorText("cee680", "2. Parameter (Name) des 308'ers mit Index %d konnte nicht ermittelt werden !\n", index);
    return nullptr;
  }
  const SubfigureRecord* out = rec.get();
  if (e.params == nullptr) {
    e.params = std::move(rec);
    return out;
  }
  return nullptr;
}

// A subfigure name made fit to be a model name and a plain file name:
// path separators, blanks, brackets, quotes and control characters become
// '_', and so does a leading dot.  `changed` tells whether anything was
// replaced.
std::string repairedName(const std::string& name, std::int32_t index, bool& changed) {
  changed = false;
  std::string out = name.substr(0, kMaxNameLength);
  if (out.size() != name.size()) changed = true;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == ' ' || c == '[' || c == ']' || c == '\\' || c == '"' || u < 0x20 || u == 0x7f) {
      c = '_';
      changed = true;
    }
  }
  if (!out.empty() && out.front() == '.') {
    out.front() = '_';
    changed = true;
  }
  if (out.empty()) {
    out = "SUBFIG" + std::to_string(index);
    changed = true;
  }
  return out;
}

bool nameWritten(const std::string& name) { return igesStructureState().writtenNames.count(name) != 0; }

void registerName(const std::string& original, std::int32_t index, const std::string& name) {
  IgesStructureState& s = igesStructureState();
  s.names[original] = SubfigureEntry{index, name, 1};
  s.writtenNames.insert(name);
}

// The subfigure definitions of the instances among the members of
// `definition`, in the order they are met.  The walk does not enter other
// definitions, except the anonymous blocks of a drawing: they are expanded
// where they are inserted, so the definitions inside them belong to the
// model that inserts them.
std::vector<std::int32_t> innerDefinitions(std::int32_t definition) {
  std::vector<std::int32_t> found;
  std::unordered_set<std::int32_t> seen{definition};
  std::vector<std::int32_t> stack{definition};
  while (!stack.empty()) {
    const std::int32_t i = stack.back();
    stack.pop_back();
    for (const LinkNode* n = element(i).sons; n != nullptr; n = n->next) {
      const std::int32_t k = n->index;
      if (!isElementIndex(k) || !seen.insert(k).second) continue;
      if (element(k).type == IgesType::kSubfigureDefinition && !dxfBlockAnonymous(k)) {
        found.push_back(k);
        continue;
      }
      stack.push_back(k);
    }
  }
  return found;
}

int writeDefinitionModel(std::int32_t index, const std::string& name, const std::string& original);

// Writes the definitions of the instances inside the definition before it,
// innermost first (each model is written on its own, not inside another):
// a walk with its own stack, so any depth the file holds is written.  The
// definitions on the walk's path count as active: an instance of one of
// them inside a deeper definition closes a cycle and is reported where it
// stands.
void writeInnerDefinitions(std::int32_t root) {
  IgesStructureState& s = igesStructureState();
  struct Frame {
    std::int32_t definition;
    std::vector<std::int32_t> inner;
    std::size_t next;
  };
  std::vector<Frame> path;
  path.push_back(Frame{root, innerDefinitions(root), 0});
  while (!path.empty()) {
    Frame& top = path.back();
    if (top.next < top.inner.size()) {
      const std::int32_t k = top.inner[top.next++];
      if (element(k).state != ElementState::kWaiting || s.activeDefinitions.count(k) != 0) continue;
      s.activeDefinitions.insert(k);
      path.push_back(Frame{k, innerDefinitions(k), 0});  // `top` is not used again
      continue;
    }
    const std::int32_t done = top.definition;
    path.pop_back();
    if (done == root) break;
    if (element(done).state == ElementState::kWaiting) {
      std::string name;
      const int named = subfigureName(done, name);
      int r = named;
      if (named == ConvertResult::kLater) {
        setStateDeepQuiet(done, ElementState::kDefinitionWritten);
        setState(done, ElementState::kDefinitionWritten);
        r = 0;
      } else if (named == 0) {
        const SubfigureRecord* rec = subfigureRecordOf(done);
        r = writeDefinitionModel(done, name, rec != nullptr ? rec->name : name);
      } else {
        r = ConvertResult::kError;
      }
      if (r != 0 && element(done).state == ElementState::kWaiting)
        setStateFromResult(done, r == ConvertResult::kError ? -1 : r, "cee680");
    }
    s.activeDefinitions.erase(done);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// State

IgesStructureSettings& igesStructureSettings() {
  static IgesStructureSettings settings;
  return settings;
}

const RunStateRegistrar kRunStateRegistered("IGES structure settings",
                                            [] { igesStructureSettings() = IgesStructureSettings{}; });

void igesStructureSettingsFromRun(ScriptSource& source) {
  IgesStructureSettings& settings = igesStructureSettings();
  settings.scaledViewHandling = runSettings().worldMode == 0 ? 0 : 1;
  std::string directory = runPaths().ubblDir;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  settings.modelDirectory = directory;
  // Definitions of the table (IGES subfigures, DXF blocks) become symbol
  // models before the main model when instances are not expanded.
  bool definitions = false;
  const ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex && !definitions; ++i)
    definitions = element(i).type == IgesType::kSubfigureDefinition;
  settings.mainModelSaved = levelIsPlus() && userElementMode() != 2 && definitions;
  source.subfiguresPending = settings.mainModelSaved;
  source.symbolModelDir = settings.modelDirectory;
  igesScriptSourceOfTable(source);
}

IgesStructureState& igesStructureState() {
  static IgesStructureState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered2("IGES structure",
                                             [] { igesStructureState() = IgesStructureState{}; });

// ---------------------------------------------------------------------------
// Dispatch

int collectStructure(std::int32_t index) {
  TraceScope t("cee150");
  ElementRecord& e = element(index);
  switch (e.type) {
    case IgesType::kAssociativityInstance:
      switch (e.form) {
        case 1: case 7: case 14: case 15:
          return convertGroup(index);
        case 3: case 4:
          // Views-visible associativities steer the view filter only.
          setState(index, ElementState::kDone);
          return ConvertResult::kIgnored;
        default:
          mfaSetPosition(index, e.de.paramPointer);
          mfaReport(t.code(), kMsgUnsupportedForm, Channel::kProtocol, Severity::kWarning,
                    {e.form, e.type, e.de.sequence}, {}, "", nullptr);
          mfaClearPosition();
          return ConvertResult::kError;
      }
    case IgesType::kSubfigureDefinition:
      if (!levelIsPlus()) {
        refuseForLevel(t.code(), index);
        return ConvertResult::kError;
      }
      if (userElementMode() == 2 || dxfBlockNotWritten(index)) {
        // Each instance writes the members where it stands; the symbol
        // models an anonymous block refers to are written first.
        if (userElementMode() != 2 && dxfBlockAnonymous(index)) writeInnerDefinitions(index);
        setStateDeepQuiet(index, ElementState::kIgnored);
        return ConvertResult::kIgnored;
      }
      return convertSubfigureDefinition(index);
    case IgesType::kSubfigureInstance:
      if (!levelIsPlus()) {
        refuseForLevel(t.code(), index);
        return ConvertResult::kError;
      }
      if (drawingInputRun()) {
        // An anonymous block is expanded at its instance whatever the
        // subfigure mode; an external reference cannot be converted.
        const auto* rec = dynamic_cast<const InstanceRecord*>(e.params.get());
        const std::int32_t flags = rec != nullptr ? rec->blockFlags : 0;
        if ((flags & 1) != 0) return convertInstanceExpanded(index);
        if ((flags & 4) != 0) return ConvertResult::kError;
      }
      return userElementMode() == 2 ? convertInstanceExpanded(index) : convertInstance(index);
    default:
      return ConvertResult::kIgnored;
  }
}

namespace {

bool mainModelPending() {
  const IgesStructureState& s = igesStructureState();
  return igesStructureSettings().mainModelSaved && !s.mainModelCreated && levelIsPlus() && userElementMode() != 2;
}

// The levels a symbol model of the subfigure definition defines: those of
// the definition's members and their descendants, each element once; an
// instance among them adds its own level but not those of its definition
// (that is a model of its own).
std::vector<std::int32_t> definitionLevels(std::int32_t definition) {
  std::vector<std::int32_t> levels;
  if (!isElementIndex(definition)) return levels;
  // The walk's marks cost nothing per definition (a chain of definitions
  // would otherwise pay for the whole table at each one).
  const std::uint32_t mark = element_walk::beginWalk();
  std::vector<std::int32_t> stack{definition};
  element(definition).walkMark = mark;
  while (!stack.empty()) {
    const std::int32_t i = stack.back();
    stack.pop_back();
    for (const LinkNode* son = element(i).sons; son != nullptr; son = son->next) {
      const std::int32_t k = son->index;
      if (!isElementIndex(k) || element(k).walkMark == mark) continue;
      ElementRecord& e = element(k);
      e.walkMark = mark;
      levels.push_back(e.de.level);
      if (e.type != IgesType::kSubfigureInstance) stack.push_back(k);
    }
  }
  return levels;
}

// The levels of the main model: every element outside the subfigure
// definitions.
std::vector<std::int32_t> mainModelLevels() {
  std::vector<std::int32_t> levels;
  const ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex && i < table.capacity; ++i) {
    const ElementRecord& e = element(i);
    if (e.type == IgesType::kSubfigureDefinition || hasNoAncestorOfType(i, IgesType::kSubfigureDefinition) == 0)
      continue;
    levels.push_back(e.de.level);
  }
  return levels;
}

}  // namespace

void structureTopLevelPick(std::int32_t index) {
  igesStructureState().topLevelPick = index;
  if (!mainModelPending()) return;
  const ElementTable& t = elementTable();
  if (t.cursors[2] <= t.lastIndex && t.cursors[2] < t.capacity) return;
  igesStructureState().mainModelCreated = true;
  ScriptModelCreate(mainModelLevels());
}

namespace {

// Subfigures that hold themselves where no pass reached them (a closed
// ring of definitions and instances without an instance outside it): each
// ring is found by a walk over the definitions and instances with a stack
// of its own, and reported at the instance that closes it, unless an
// instance on the ring failed already (the ring was reported when its
// expansion met it).  Linear in the definitions, instances and their links.
void reportClosedRings() {
  const ElementTable& table = elementTable();
  const std::int32_t last = table.lastIndex;
  auto inRing = [](std::int32_t i) {
    if (!isElementIndex(i)) return false;
    const std::int32_t type = element(i).type;
    return type == IgesType::kSubfigureDefinition || type == IgesType::kSubfigureInstance;
  };
  std::vector<char> colour(static_cast<std::size_t>(last) + 1, 0);  // 1 on the path, 2 done
  struct Frame {
    std::int32_t node;
    const LinkNode* next;
    int failed;  // failed instances on the path up to here
  };
  std::vector<Frame> path;
  std::vector<std::size_t> depthOf(static_cast<std::size_t>(last) + 1, 0);
  for (std::int32_t root = 1; root <= last; ++root) {
    if (!inRing(root) || colour[static_cast<std::size_t>(root)] != 0) continue;
    const auto failedHere = [](std::int32_t i) {
      return element(i).type == IgesType::kSubfigureInstance &&
                     element(i).state == ElementState::kError
                 ? 1
                 : 0;
    };
    colour[static_cast<std::size_t>(root)] = 1;
    path.push_back(Frame{root, element(root).sons, failedHere(root)});
    while (!path.empty()) {
      Frame& top = path.back();
      while (top.next != nullptr && !inRing(top.next->index)) top.next = top.next->next;
      if (top.next == nullptr) {
        colour[static_cast<std::size_t>(top.node)] = 2;
        path.pop_back();
        continue;
      }
      const std::int32_t to = top.next->index;
      top.next = top.next->next;
      char& c = colour[static_cast<std::size_t>(to)];
      if (c == 1) {
        const std::size_t at = depthOf[static_cast<std::size_t>(to)];
        const int before = at > 0 ? path[at - 1].failed : 0;
        if (path.back().failed - before > 0) continue;  // reported where it was met
        const std::int32_t from = path.back().node;
        const std::int32_t instance =
            element(from).type == IgesType::kSubfigureInstance ? from : to;
        if (element(instance).type != IgesType::kSubfigureInstance) continue;
        const std::int32_t definition =
            element(from).type == IgesType::kSubfigureInstance
                ? to
                : firstSonOfType(instance, IgesType::kSubfigureDefinition);
        reportSelfContaining("cee641", instance, definition);
        setStateRaw(instance, ElementState::kError);
        // The path's counts up from here include the failed instance.
        for (std::size_t k = depthOf[static_cast<std::size_t>(instance)]; k < path.size(); ++k) ++path[k].failed;
        continue;
      }
      if (c == 2) continue;
      c = 1;
      const int failed = path.back().failed + failedHere(to);
      depthOf[static_cast<std::size_t>(to)] = path.size();
      path.push_back(Frame{to, element(to).sons, failed});
    }
  }
}

}  // namespace

void structureFinish() {
  if (levelIsPlus()) reportClosedRings();
  if (!mainModelPending()) return;
  igesStructureState().mainModelCreated = true;
  ScriptModelCreate(mainModelLevels());
}

// ---------------------------------------------------------------------------
// Views

namespace {

// The view test of the element and, for a dependent element without a view
// of its own, of its first fathers: 1 in the view `viewNumber`, else 0.
// The elements walked are appended to `walked` (marked `onWalk` in the
// answers while the walk runs); one with a known answer ends the walk.
int viewOfFathers(std::int32_t index, std::int32_t viewNumber, std::vector<std::int32_t>& walked, signed char onWalk) {
  IgesStructureState& s = igesStructureState();
  std::int32_t current = index;
  for (;;) {
    if (!isElementIndex(current)) return 1;
    const signed char answer = s.fatherWalkAnswers[static_cast<std::size_t>(current)];
    if (answer == onWalk) return 1;  // a cycle of fathers
    if (answer >= 0) return answer;
    s.fatherWalkAnswers[static_cast<std::size_t>(current)] = onWalk;
    walked.push_back(current);
    if (static_cast<std::size_t>(current) < s.underDrawing.size() && s.underDrawing[current]) return 0;
    const ElementRecord& e = element(current);
    std::int32_t pointer = directoryExtraOf(current).view;
    if (pointer < 0) pointer = pointer == INT32_MIN ? INT32_MAX : -pointer;
    if (pointer == 0) {
      const bool dependent = e.dependency == 'p' || decodeStatus(e.de).subordinate == 1 ||
                             decodeStatus(e.de).subordinate == 3;
      if (!dependent || e.fathers == nullptr || !isElementIndex(e.fathers->index)) return 1;
      current = e.fathers->index;
      continue;
    }
    const std::int32_t v = indexOfPointer(pointer);
    if (!isElementIndex(v)) return 0;
    const ElementRecord& view = element(v);
    if (view.type == IgesType::kView) {
      const auto* rec = dynamic_cast<const ViewRecord*>(view.params.get());
      return rec != nullptr && rec->viewNumber == viewNumber ? 1 : 0;
    }
    if (view.type == IgesType::kAssociativityInstance && (view.form == 3 || view.form == 4)) {
      auto known = s.viewLists.find(v);
      if (known == s.viewLists.end()) {
        // The views of the list: NV, NE, then per view its pointer (form 4
        // with four further values each).
        std::vector<std::int32_t> views;
        std::string text;
        if (fetchText(v, text)) {
          Fields f{text.c_str()};
          const int nv = f.integer();
          f.integer();
          for (int k = 0; k < nv && f.more() && !f.failed; ++k) {
            const std::int32_t w = pointerIndex(0, f.integer());
            if (w != 0 && element(w).type == IgesType::kView) views.push_back(w);
            if (view.form == 4)
              for (int skip = 0; skip < 4 && f.more(); ++skip) f.integer();
          }
        }
        known = s.viewLists.emplace(v, std::move(views)).first;
      }
      for (std::int32_t w : known->second) {
        const auto* rec = dynamic_cast<const ViewRecord*>(element(w).params.get());
        if (rec != nullptr && rec->viewNumber == viewNumber) return 1;
      }
      return 0;
    }
    return 0;
  }
}

}  // namespace

int structureInCurrentView(std::int32_t index, std::int32_t viewNumber) {
  TraceScope t("cee190");
  if (viewNumber == kNoView || igesConvertState().currentView == 0) return 1;
  IgesStructureState& s = igesStructureState();
  if (drawingInputRun()) {
    // DXF input: the element's level must be one the view shows.
    if (static_cast<std::size_t>(index) < s.underDrawing.size() && s.underDrawing[index]) return 0;
    if (!isElementIndex(index) || element(index).type == IgesType::kSubfigureDefinition) return 1;
    const auto* view = dynamic_cast<const DxfViewRecord*>(element(igesConvertState().currentView).params.get());
    if (view == nullptr || !view->hasLevelList) return 1;
    const std::vector<std::int32_t>& hidden = view->hiddenLevels;
    return std::binary_search(hidden.begin(), hidden.end(), element(index).de.level) ? 0 : 1;
  }
  // A physically dependent element without a view of its own follows its
  // first father, as far as the fathers go; a cycle of fathers ends the
  // walk (the element counts as in the view).  Each element's answer is
  // kept for the view, so that chains shared by many elements are walked
  // once.
  const ElementTable& table = elementTable();
  const std::int32_t currentView = igesConvertState().currentView;
  const std::size_t n = static_cast<std::size_t>(table.lastIndex) + 1;
  if (s.fatherWalkAnswers.size() != n || s.fatherWalkView != currentView || s.fatherWalkViewNumber != viewNumber ||
      s.fatherWalkLinks != table.linkGeneration || s.fatherWalkDrawings != s.underDrawingGeneration) {
    s.fatherWalkAnswers.assign(n, -1);
    s.fatherWalkView = currentView;
    s.fatherWalkViewNumber = viewNumber;
    s.fatherWalkLinks = table.linkGeneration;
    s.fatherWalkDrawings = s.underDrawingGeneration;
  }
  constexpr signed char kOnWalk = -2;
  std::vector<std::int32_t>& walked = s.fatherWalkPath;
  walked.clear();
  const int answer = viewOfFathers(index, viewNumber, walked, kOnWalk);
  for (std::int32_t w : walked) s.fatherWalkAnswers[static_cast<std::size_t>(w)] = static_cast<signed char>(answer);
  return answer;
}

std::string viewName(std::int32_t view) {
  TraceScope t("cee191");
  IgesStructureState& s = igesStructureState();
  const auto known = s.viewNames.find(view);
  if (known != s.viewNames.end()) return known->second;
  std::string name;
  const ElementRecord& e = element(view);
  for (std::int32_t p : e.props()) {
    if (!isElementIndex(p) || element(p).type != IgesType::kProperty || element(p).form != 15)
      continue;
    std::string text;
    if (!fetchText(p, text)) continue;
    Fields f{text.c_str()};
    f.integer();
    name = f.string();
    if (!f.failed && !name.empty()) break;
    name.clear();
  }
  if (name.empty()) {
    const auto* rec = dynamic_cast<const ViewRecord*>(e.params.get());
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%s.%d", "VIEW", rec != nullptr ? static_cast<int>(rec->viewNumber) : 0);
    name = buffer;
  }
  s.viewNames.emplace(view, name);
  return name;
}

int viewInfo(std::int32_t drawing, int slot, ViewInfo& info) {
  TraceScope t("cee270");
  info = ViewInfo{};
  const auto* d = dynamic_cast<const DrawingRecord*>(element(drawing).params.get());
  if (d == nullptr || slot < 0 || static_cast<std::size_t>(slot) >= d->views.size()) return -1;
  const DrawingRecord::ViewSlot& v = d->views[static_cast<std::size_t>(slot)];
  info.x = v.x;
  info.y = v.y;
  if (v.view == 0) return -1;
  const auto* rec = dynamic_cast<const ViewRecord*>(element(v.view).params.get());
  if (rec == nullptr) return -1;
  info.number = rec->viewNumber;
  info.scale = std::isfinite(rec->scale) && rec->scale != 0.0 ? rec->scale : 1.0;
  info.name = viewName(v.view);
  return 0;
}

int viewMatrix(std::int32_t view, double scale, double x, double y, bool withOrigin, Transform& out) {
  TraceScope t("cee831");
  out = Transform{};
  const auto* rec = dynamic_cast<const ViewRecord*>(element(view).params.get());
  int result = 0;
  if (rec != nullptr && rec->hasMatrix) {
    // The view's matrix takes view space to model space; the geometry goes
    // the other way.
    bool ok = false;
    const Transform inv = inverseOf(rec->matrix, ok);
    if (ok) out = inv;
    else result = -1;
  }
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) out.r[i][k] *= scale;
    out.t[i] *= scale;
  }
  if (withOrigin) {
    out.t[0] += x;
    out.t[1] += y;
  }
  return result;
}

namespace {

// The clip box of a view, in the coordinates the view's geometry is written
// in: the four sides of its view volume (planes x = D/A on the left and
// right, y = D/B at the top and bottom, in view space), their corners taken
// through the view's own matrix into model space and then through
// `toDrawing` like the geometry.  false when a side is missing or is no
// such plane: the view then clips nothing.
bool viewClipBox(std::int32_t view, const Transform& toDrawing, Point3& low, Point3& high) {
  const auto* rec = dynamic_cast<const ViewRecord*>(element(view).params.get());
  if (rec == nullptr) return false;
  enum { kLeft, kTop, kRight, kBottom };
  double side[4];
  for (int k = kLeft; k <= kBottom; ++k) {
    const std::int32_t plane = rec->clipPlanes[k];
    const auto* p = isElementIndex(plane) ? dynamic_cast<const PlaneRecord*>(element(plane).params.get()) : nullptr;
    if (p == nullptr) return false;
    const double across = k == kLeft || k == kRight ? p->a : p->b;
    if (across == 0.0) return false;
    side[k] = p->d / across;
    if (!std::isfinite(side[k])) return false;
  }
  Point3 corners[2] = {{side[kLeft], side[kBottom], 0.0}, {side[kRight], side[kTop], 0.0}};
  for (Point3& c : corners) {
    if (rec->hasMatrix) c = applyTransform(rec->matrix, c);
    c = applyTransform(toDrawing, c);
  }
  low = corners[0];
  high = corners[1];
  return true;
}

// ---------------------------------------------------------------------------
// Groups

// One group a group walk holds open: its members are converted when the
// groups among them are written.
struct OpenGroup {
  std::int32_t index = 0;
  const Transform* own = nullptr;  // the group's matrix, null for none
  std::string name;
  int depth = 0;
  const LinkNode* next = nullptr;  // the next son to look at
};

bool convertedAsGroup(const ElementRecord& e) {
  return e.type == IgesType::kAssociativityInstance &&
         (e.form == 1 || e.form == 7 || e.form == 14 || e.form == 15);
}

// A son of an open group that the walk opens before its father is written:
// a group waiting for its conversion, in the view being converted, and not
// open already (a group met again inside itself is left to the pass, which
// reports it).
bool memberGroupToOpen(std::int32_t index) {
  if (!isElementIndex(index)) return false;
  const ElementRecord& e = element(index);
  return convertedAsGroup(e) && e.state == ElementState::kWaiting &&
         igesStructureState().activeGroups.count(index) == 0 &&
         inCurrentView(index, igesConvertState().currentViewNumber) != 0;
}

// Opens the group: it is named, traced and held open.  0, or
// ConvertResult::kError when its matrix cannot be had.  `inner`: opened by
// a structure walk below its first structure.
int openGroup(std::int32_t index, const char* code, bool inner, std::vector<OpenGroup>& open) {
  IgesStructureState& s = igesStructureState();
  const Transform* own = nullptr;
  if (resolveMatrix(index, own) != 0) return ConvertResult::kError;
  OpenGroup& g = open.emplace_back();
  g.index = index;
  g.own = own;
  char name[48];
  std::snprintf(name, sizeof name, "%s.%d", "GRP", ++s.groupCounter);
  g.name = name;
  g.depth = ++s.groupDepth;
  g.next = element(index).sons;
  if (traceLevel() > 0) {
    const Transform identity;
    const Transform& m = own != nullptr ? *own : identity;
    std::printf("-> %s : Begin of Group '%s', Depth = %d\n", code, name, g.depth);
    std::printf("            Reference-point : (x) %f, (y) %f, (z) %f\n", m.t[0], m.t[1], m.t[2]);
    const double f = std::sqrt(std::fabs(m.r[0][0] * m.r[1][1] - m.r[0][1] * m.r[1][0]));
    std::printf("            Scale factor    : (f) %f\n", f);
    std::printf("            Angle           : (w) %f\n", std::atan2(m.r[1][0], m.r[0][0]) * kDegreesPerRadian);
  }
  s.activeGroups.insert(index);
  // The walk's first structure is on the collect path of the pass that took it.
  if (inner) setOnCollectPath(index, true);
  return 0;
}

// Closes the innermost open group: its members are converted by a pass of
// their own (the groups among them are written already) and the group is
// written.  The group's result.
int closeGroup(const char* code, bool inner, std::vector<OpenGroup>& open) {
  IgesStructureState& s = igesStructureState();
  const OpenGroup g = std::move(open.back());
  open.pop_back();
  std::vector<std::int32_t> members;
  const Transform* view = s.currentViewMatrix;
  const int r = nestedPass(g.index, view, g.own, members);
  s.activeGroups.erase(g.index);
  if (inner) setOnCollectPath(g.index, false);
  --s.groupDepth;
  if (traceLevel() > 0) {
    std::printf("-> %s : End   of Group '%s', Depth = %d\n", code, g.name.c_str(), g.depth);
    std::printf("            Number of sons  : %d\n", static_cast<int>(members.size()));
  }
  if (r != 0) return ConvertResult::kError;
  if (members.empty()) return ConvertResult::kIgnored;
  ScriptGroupRecord group;
  group.name = g.name;
  group.members = members;
  const ElementRecord& e = element(g.index);
  group.level = e.de.level;
  group.attributes.colour = e.de.colour;
  group.attributes.blank = decodeStatus(e.de).blank;
  group.data = scriptDataOf(g.index);
  Transform final;
  const bool hasFinal = composeIfAny(view, g.own, final);
  const ScriptMatrix sm = hasFinal ? toScriptMatrix(final) : ScriptMatrix{};
  std::vector<std::int32_t> created;
  const int w = ScriptGroup(g.index, group, hasFinal ? &sm : nullptr, created);
  if (w != 0) return ConvertResult::kError;
  ElementRecord& after = element(g.index);
  after.scriptObjects = created;
  setState(g.index, ElementState::kDone);
  return 0;
}

}  // namespace

bool structureReportsGroupCycle(std::int32_t index) {
  IgesStructureState& s = igesStructureState();
  if (s.activeGroups.count(index) == 0) return false;
  if (!s.groupCyclesReported.insert(index).second) return true;
  mfaSetPosition(index, element(index).de.paramPointer);
  mfaReport("cee600", kMsgGroupCycle, s.groupCycleShown ? Channel::kProtocol : Channel::kBoth,
            Severity::kWarning, {static_cast<long>(deNumberOf(index))}, {}, "", nullptr);
  mfaClearPosition();
  s.groupCycleShown = true;
  return true;
}

// ---------------------------------------------------------------------------
// Subfigures

std::string subfigureFileName(const std::string& name) {
  const std::string& dir = igesStructureSettings().modelDirectory;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%s", ".udo");
  return dir.empty() ? name + buffer : dir + "/" + name + buffer;
}

int subfigureName(std::int32_t index, std::string& name) {
  TraceScope t("cee870");
  IgesStructureState& s = igesStructureState();
  const SubfigureRecord* rec = subfigureRecordOf(index);
  if (rec == nullptr) return -1;
  const std::string& original = rec->name;
  const auto known = s.names.find(original);
  if (known != s.names.end()) {
    SubfigureEntry& entry = known->second;
    ++entry.uses;
    if (entry.index != index) {
      mfaSetPosition(index, element(index).de.paramPointer);
      if (userElementMode() == 2)
        mfaNote(t.code(), kMsgDuplicateNote, Channel::kProtocol);
      else
        mfaError(t.code(), kMsgDuplicateError, Channel::kProtocol);
      mfaClearPosition();
    }
    if (traceLevel() > 1) std::printf("-> cee870 : last Definition of Subfigure '%s' used\n", entry.writtenName.c_str());
    name = entry.writtenName;
    s.definitionNames[index] = name;
    return isElementIndex(entry.index) && element(entry.index).state == ElementState::kError ? -1
                                                                                            : ConvertResult::kLater;
  }
  bool changed = false;
  std::string repaired = repairedName(original, index, changed);
  if (changed && nameWritten(repaired)) {
    const std::string digits = std::to_string(index);
    const std::size_t keep = digits.size() < 8 ? 8 - digits.size() : 0;
    repaired = repaired.substr(0, keep) + digits;
  }
  if (changed) {
    if (traceLevel() > 1)
      std::printf("-> cee870 : New Subfigurename '%s' extracted from '%s'\n", repaired.c_str(), original.c_str());
    mfaSetPosition(index, element(index).de.paramPointer);
    mfaReport(t.code(), kMsgOldName, Channel::kProtocol, Severity::kNote, {}, {}, original, nullptr);
    mfaReport(t.code(), kMsgNewName, Channel::kProtocol, Severity::kNote, {}, {}, repaired, nullptr);
    mfaClearPosition();
  }
  name = repaired;
  s.definitionNames[index] = name;
  if (s.modelFiles.count(subfigureFileName(name)) != 0) {
    mfaSetPosition(index, element(index).de.paramPointer);
    mfaNote(t.code(), kMsgModelExists, Channel::kProtocol);
    mfaClearPosition();
    registerName(original, index, name);
    return ConvertResult::kLater;
  }
  return 0;
}

namespace {

// Writes one definition as a model of its own (the definitions of the
// instances among its members are written already); the definition is
// active while it is written.  0 or a converter result.
int writeDefinitionModel(std::int32_t index, const std::string& name, const std::string& original) {
  TraceScope t("cee680");
  IgesStructureState& s = igesStructureState();
  correctSonCount(t.code(), index);
  // The definition is a model of its own: no view applies inside it.
  IgesConvertState& c = igesConvertState();
  const std::int32_t savedView = c.currentView, savedNumber = c.currentViewNumber;
  const Transform* savedMatrix = s.currentViewMatrix;
  c.currentView = 0;
  c.currentViewNumber = kNoView;
  s.currentViewMatrix = nullptr;
  // Nor its clip box (the corners stay for the view's pass).
  bool& clipped = scriptState().clipSet;
  const bool savedClip = clipped;
  clipped = false;
  if (traceLevel() > 0) std::printf("-> cee680 : Begin of Subfigure '%s' (%d)\n", name.c_str(), static_cast<int>(index));
  std::vector<std::int32_t> members;
  int r = ScriptModelNew(name, definitionLevels(index));
  if (r == 0) {
    r = nestedPass(index, nullptr, nullptr, members);
    // The model is closed even when its members failed.
    const int saved = ScriptModelSave(name);
    if (r == 0) r = saved;
  }
  if (traceLevel() > 0) {
    std::printf("-> cee680 : End   of Subfigure '%s' (%d)\n", name.c_str(), static_cast<int>(index));
    std::printf("            Number of sons  : %d\n", static_cast<int>(members.size()));
  }
  c.currentView = savedView;
  c.currentViewNumber = savedNumber;
  s.currentViewMatrix = savedMatrix;
  clipped = savedClip;
  if (r != 0) return ConvertResult::kError;
  registerName(original, index, name);
  s.modelFiles.insert(subfigureFileName(name));
  setState(index, ElementState::kDone);
  return 0;
}

}  // namespace

int convertSubfigureDefinition(std::int32_t index) {
  TraceScope t("cee680");
  IgesStructureState& s = igesStructureState();
  ElementRecord& e = element(index);
  if (isWritten(e.state)) return 0;
  // A definition that failed before is not tried again.
  if (e.state == ElementState::kError) return ConvertResult::kError;
  if (s.activeDefinitions.count(index) != 0) return ConvertResult::kError;
  std::string name;
  const int named = subfigureName(index, name);
  if (named == -1) return ConvertResult::kError;
  if (named == ConvertResult::kLater) {
    // Written before under this name: the model there is used.
    setStateDeepQuiet(index, ElementState::kDefinitionWritten);
    setState(index, ElementState::kDefinitionWritten);
    return 0;
  }
  const SubfigureRecord* rec = subfigureRecordOf(index);
  const std::string original = rec != nullptr ? rec->name : name;
  if (!enterNesting(t.code(), index)) return ConvertResult::kError;
  s.activeDefinitions.insert(index);
  writeInnerDefinitions(index);
  const int r = writeDefinitionModel(index, name, original);
  s.activeDefinitions.erase(index);
  leaveNesting(index);
  return r;
}

int convertInstance(std::int32_t index) {
  TraceScope t("cee640");
  IgesStructureState& s = igesStructureState();
  InstanceData data;
  if (readInstance(index, t.code(), data) != 0) return ConvertResult::kError;
  const bool topLevel = s.topLevelPick == index && s.nesting == 0;
  if (topLevel && mainModelPending()) return ConvertResult::kLater;  // after the definitions, in the main model
  const std::int32_t def = data.definition;
  if (!isWritten(element(def).state)) {
    if (s.activeDefinitions.count(def) != 0) {
      reportSelfContaining(t.code(), index, def);
      return ConvertResult::kError;
    }
    if (!enterNesting(t.code(), index)) return ConvertResult::kError;
    const int r = convertSubfigureDefinition(def);
    leaveNesting(index);
    if (r != 0 && !isWritten(element(def).state)) {
      setState(def, ElementState::kError);
      return ConvertResult::kError;
    }
  }
  const auto named = s.definitionNames.find(def);
  if (named == s.definitionNames.end() || named->second.empty()) return ConvertResult::kError;
  const int depth = ++s.instanceDepth;
  if (traceLevel() > 0) {
    std::printf("-> cee640 : Begin of Singular Subfigure (%d), Depth = %d\n", static_cast<int>(index), depth);
    std::printf("            Reference-point : (x) %f, (y) %f, (z) %f\n", data.x, data.y, data.z);
  }
  ScriptInstanceRecord instance;
  instance.definition = named->second;
  instance.position = ScriptPointXYZ{data.x, data.y, data.z};
  instance.scale = data.scale;
  instance.level = element(index).de.level;
  instance.data = scriptDataOf(index);
  const Transform* view = s.currentViewMatrix;
  Transform final;
  const bool hasFinal = composeIfAny(view, data.matrix, final);
  const ScriptMatrix sm = hasFinal ? toScriptMatrix(final) : ScriptMatrix{};
  // The reference names the model file where the definitions are saved.
  const std::string& directory = igesStructureSettings().modelDirectory;
  if (!directory.empty()) ScriptSetSymbolModelDirectory(directory);
  std::vector<std::int32_t> created;
  const int w = ScriptSymbolInstance(index, instance, hasFinal ? &sm : nullptr, created);
  if (traceLevel() > 0)
    std::printf("-> cee640 : End   of Singular Subfigure (%d), Depth = %d\n", static_cast<int>(index), depth);
  --s.instanceDepth;
  if (w != 0) return ConvertResult::kError;
  element(index).scriptObjects = created;
  setState(index, ElementState::kDone);
  return 0;
}

namespace {

// One instance being expanded: the members of its definition are written
// with the combined placement, between the subfigure brackets.
struct Expansion {
  std::int32_t instance = 0;
  std::int32_t definition = 0;
  std::string name;
  int depth = 0;
  Transform combined;                // placement of the members, with the view
  const Transform* outer = nullptr;  // the placement around the instance
  const LinkNode* next = nullptr;    // the definition's next son to look at
  // The lists of expansion objects made before this expansion opened: the
  // ones made after it are its own and those of the expansions inside it.
  std::size_t listMark = 0;
  // The instances among the definition's sons whose objects this expansion
  // alone takes, with their lists (ascending by instance once sorted).
  std::vector<std::pair<std::int32_t, NestedObjectLists::Id>> innerLists;
};

// Whether the collect step expands this instance where it stands (rather
// than referring to a symbol model, or refusing it).
bool expandsInstance(std::int32_t index) {
  if (drawingInputRun()) {
    const auto* rec = dynamic_cast<const InstanceRecord*>(element(index).params.get());
    const std::int32_t flags = rec != nullptr ? rec->blockFlags : 0;
    if ((flags & 1) != 0) return true;
    if ((flags & 4) != 0) return false;
  }
  return userElementMode() == 2;
}

// A son of a definition being expanded that is an instance to expand
// before the definition's other members.
bool nestedInstance(std::int32_t index) {
  if (!isElementIndex(index)) return false;
  const ElementRecord& e = element(index);
  return e.type == IgesType::kSubfigureInstance && e.state == ElementState::kWaiting &&
         expandsInstance(index) && inCurrentView(index, igesConvertState().currentViewNumber) != 0;
}

// Opens the expansion of an instance inside the placement `outer`: 0, or
// ConvertResult::kError when it cannot be expanded.
int beginExpansion(std::int32_t index, const Transform* outer, const char* code,
                   std::deque<Expansion>& open) {
  IgesStructureState& s = igesStructureState();
  InstanceData data;
  if (readInstance(index, code, data) != 0) return ConvertResult::kError;
  std::int32_t def = data.definition;
  std::string name;
  const int named = subfigureName(def, name);
  if (named == -1) return ConvertResult::kError;
  if (named == ConvertResult::kLater) {
    // A second definition of a name: the first one is expanded.
    const SubfigureRecord* rec = subfigureRecordOf(def);
    const auto entry = rec != nullptr ? s.names.find(rec->name) : s.names.end();
    if (entry != s.names.end() && isElementIndex(entry->second.index)) def = entry->second.index;
  } else {
    const SubfigureRecord* rec = subfigureRecordOf(def);
    if (rec != nullptr) registerName(rec->name, def, name);
  }
  if (s.activeDefinitions.count(def) != 0) {
    reportSelfContaining(code, index, def);
    return ConvertResult::kError;
  }
  correctSonCount("cee681", def);
  // p' = M (position + scale p), then the placement around it.
  Transform place;
  for (int i = 0; i < 3; ++i) place.r[i][i] = data.scale;
  place.t[0] = data.x;
  place.t[1] = data.y;
  place.t[2] = data.z;
  if (data.matrix != nullptr) place = composeTransforms(*data.matrix, place);
  Expansion& x = open.emplace_back();
  x.instance = index;
  x.definition = def;
  x.name = name;
  x.outer = outer;
  x.combined = outer != nullptr ? composeTransforms(*outer, place) : place;
  x.depth = ++s.instanceDepth;
  x.listMark = s.expansionLists.count();
  if (traceLevel() > 0) {
    std::printf("-> cee641 : Begin of Singular Subfigure (%d), Depth = %d\n", static_cast<int>(index), x.depth);
    std::printf("            Reference-point : (x) %f, (y) %f, (z) %f\n", place.t[0], place.t[1], place.t[2]);
    const double f = std::sqrt(std::fabs(place.r[0][0] * place.r[1][1] - place.r[0][1] * place.r[1][0]));
    std::printf("            Scale factor    : (f) %f\n", f);
    std::printf("            Angle           : (w) %f\n",
                std::atan2(place.r[1][0], place.r[0][0]) * kDegreesPerRadian);
  }
  s.activeDefinitions.insert(def);
  s.currentViewMatrix = &x.combined;
  // The definition's own members wait to be written again; the members of
  // the definitions its instances name wait from their own expansion on
  // (each expansion costs the members it writes).
  setStateDeepQuiet(def, ElementState::kWaiting, IgesType::kSubfigureDefinition);
  x.next = element(def).sons;
  ScriptSubfigureBegin(x.depth, name);
  return 0;
}

// Whether the objects of the expanded instance go to the expansion around
// it alone: the expansion's definition is its only father, so no other
// pass asks for them (a new expansion of the definition writes it afresh).
bool objectsOnlyForOuter(std::int32_t instance) {
  const ElementRecord& e = element(instance);
  return e.fathers != nullptr && e.fathers->next == nullptr;
}

// The objects of the expansion's members, from the objects of each son and
// the lists of the instances expanded inside whose objects it alone takes:
// a list of the expansion lists that takes theirs by reference.
NestedObjectLists::Id gatherExpansionList(Expansion& x,
                                          const std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>>& perSon) {
  NestedObjectLists& lists = igesStructureState().expansionLists;
  std::sort(x.innerLists.begin(), x.innerLists.end());
  for (const auto& [son, objects] : perSon) {
    const auto inner = std::lower_bound(x.innerLists.begin(), x.innerLists.end(),
                                        std::pair<std::int32_t, NestedObjectLists::Id>(son, -1));
    // A son written afresh since its expansion closed has objects of its own.
    const bool byReference = inner != x.innerLists.end() && inner->first == son && objects.empty() &&
                             isElementIndex(son) && element(son).state == ElementState::kDone;
    if (byReference) {
      lists.addList(inner->second);
    } else {
      for (std::int32_t obj : objects) lists.addObject(obj);
    }
  }
  return lists.close();
}

// Closes the innermost expansion: the definition's members are written
// (the nested instances among them are expanded already).  The instance's
// result.  `insideExpansion`: the expansion is opened inside another one
// (the next on `open`), which takes its objects.
//
// The objects of an instance are all objects written for it, to any depth.
// An expansion inside another whose objects only that one takes keeps them
// as a list of the expansion lists: the outer one takes the list whole, by
// reference, so a chain of expansions n deep is n lists of the objects
// each level writes itself, read out once at the chain's top.  Any other
// expansion gives its instance the objects read out.
int endExpansion(std::deque<Expansion>& open, bool insideExpansion) {
  IgesStructureState& s = igesStructureState();
  Expansion& x = open.back();
  std::vector<std::int32_t> members;
  std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>> perSon;
  const bool withInner = !x.innerLists.empty();
  const int r = nestedPass(x.definition, &x.combined, nullptr, members, withInner ? &perSon : nullptr);
  ScriptSubfigureEnd(x.depth, x.name);
  // The objects of the instances expanded inside are among the members now;
  // an instance that only this definition holds is not asked for them again
  // (a new expansion of the definition writes it afresh), so a chain of
  // expansions keeps one list of objects per open level, not one per level.
  for (const LinkNode* n = element(x.definition).sons; n != nullptr; n = n->next) {
    if (!isElementIndex(n->index)) continue;
    ElementRecord& inner = element(n->index);
    if (inner.type == IgesType::kSubfigureInstance && inner.state == ElementState::kDone &&
        objectsOnlyForOuter(n->index))
      ObjectList().swap(inner.scriptObjects);
  }
  // Members not written stay out of the later passes.
  setStateDeepQuiet(x.definition, ElementState::kIgnored);
  s.currentViewMatrix = x.outer;
  s.activeDefinitions.erase(x.definition);
  if (traceLevel() > 0) {
    std::printf("-> cee681 : End   of Subfigure '%s' (%d) -> converted to Group\n", x.name.c_str(),
                static_cast<int>(x.definition));
    std::printf("-> cee641 : End   of Singular Subfigure (%d), Depth = %d\n", static_cast<int>(x.instance),
                x.depth);
  }
  --s.instanceDepth;
  const std::int32_t index = x.instance, def = x.definition;
  const bool byReference = insideExpansion && objectsOnlyForOuter(index);
  NestedObjectLists& lists = s.expansionLists;
  NestedObjectLists::Id list = -1;
  if (r == 0 && withInner) {
    list = gatherExpansionList(x, perSon);
  } else if (r == 0 && byReference) {
    for (std::int32_t obj : members) lists.addObject(obj);
    list = lists.close();
  }
  const std::size_t mark = x.listMark;
  open.pop_back();
  const bool empty = list >= 0 ? !lists.holdsObjects(list) : members.empty();
  if (r != 0 || empty) {
    lists.truncate(mark);
    if (r != 0) return ConvertResult::kError;
    errorText("cee681", "Keine Sohnelemente beim 308'er mit Index %d erzeugt !\n", def);
    mfaSetPosition(index, element(index).de.paramPointer);
    const std::string shownName = mfaCurrentName();
    mfaSetCurrentName(definitionLabel(def));
    mfaError("cee681", kMsgNoSubfigureMembers, Channel::kProtocol);
    mfaSetCurrentName(shownName);
    mfaClearPosition();
    return ConvertResult::kError;
  }
  if (byReference) {
    open.back().innerLists.emplace_back(index, list);
    element(index).scriptObjects.clear();
  } else if (list >= 0) {
    std::vector<std::int32_t> objects;
    lists.readOut(list, igesConvertState().objectMarks, objects);
    lists.truncate(mark);
    element(index).scriptObjects = std::move(objects);
  } else {
    element(index).scriptObjects = std::move(members);
  }
  setState(index, ElementState::kDone);
  return 0;
}

// The structures nested in a group or an expanded instance, to any depth
// the file holds: the open groups and expansions are kept on stacks of
// their own, nothing recurses per level.  Each open structure opens the
// groups and the instances to expand among its sons first, in son order,
// and is written when they are: its pass then takes their objects as they
// stand, so the innermost structure is written first.  Groups are named
// and traced, expansions bracketed, in the order the file nests them.  An
// instance placed inside an expansion takes its placement, one inside a
// group the placement the group's pass would give it (the view's).
int walkStructures(std::int32_t root, bool rootIsGroup, const char* code) {
  IgesStructureState& s = igesStructureState();
  const Transform* const startMatrix = s.currentViewMatrix;
  std::vector<OpenGroup> groups;
  std::deque<Expansion> expansions;  // keeps its elements in place: inner placements point at them
  std::vector<bool> openIsGroup;     // the kinds of the open structures, outermost first
  int result = ConvertResult::kError;
  try {
    const int opened = rootIsGroup ? openGroup(root, code, false, groups)
                                   : beginExpansion(root, s.currentViewMatrix, code, expansions);
    if (opened != 0) return opened;
    openIsGroup.push_back(rootIsGroup);
    while (!openIsGroup.empty()) {
      const bool topIsGroup = openIsGroup.back();
      const LinkNode*& next = topIsGroup ? groups.back().next : expansions.back().next;
      const LinkNode* n = next;
      while (n != nullptr && !memberGroupToOpen(n->index) && !nestedInstance(n->index)) n = n->next;
      if (n != nullptr) {
        next = n->next;  // not used again: opening may move the group stack
        const std::int32_t inner = n->index;
        if (memberGroupToOpen(inner)) {
          if (openGroup(inner, code, true, groups) != 0) {
            setState(inner, ElementState::kError);
            continue;
          }
          openIsGroup.push_back(true);
        } else {
          if (beginExpansion(inner, s.currentViewMatrix, code, expansions) != 0) {
            setState(inner, ElementState::kError);
            continue;
          }
          openIsGroup.push_back(false);
        }
        continue;
      }
      const bool isRoot = openIsGroup.size() == 1;
      openIsGroup.pop_back();
      if (topIsGroup) {
        const std::int32_t closed = groups.back().index;
        const int r = closeGroup(code, !isRoot, groups);
        if (isRoot) {
          result = r;
        } else if (r != 0 && element(closed).state != ElementState::kDone) {
          setState(closed, r == ConvertResult::kIgnored ? ElementState::kIgnored : ElementState::kError);
        }
      } else {
        const std::int32_t closed = expansions.back().instance;
        const int r = endExpansion(expansions, !isRoot && !openIsGroup.back());
        if (isRoot) {
          result = r;
        } else if (r != 0) {
          setState(closed, ElementState::kError);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    mfaError(code, kMsgNoMemory, Channel::kBoth);
    result = ConvertResult::kError;
    // The structures left open are given up.
    for (std::size_t k = 0; k < groups.size(); ++k) {
      s.activeGroups.erase(groups[k].index);
      if (groups[k].index != root) setOnCollectPath(groups[k].index, false);
      --s.groupDepth;
    }
    for (const Expansion& x : expansions) {
      s.activeDefinitions.erase(x.definition);
      --s.instanceDepth;
    }
    if (!expansions.empty()) s.expansionLists.truncate(expansions.front().listMark);
    s.currentViewMatrix = startMatrix;
  }
  return result;
}

}  // namespace

// A group and the structures nested in it.
int convertGroup(std::int32_t index) {
  TraceScope t("cee600");
  IgesStructureState& s = igesStructureState();
  if (s.activeGroups.count(index) != 0) {
    reportCycle(t.code(), index);
    return ConvertResult::kError;
  }
  if (!enterNesting(t.code(), index)) return ConvertResult::kError;
  const int result = walkStructures(index, true, t.code());
  leaveNesting(index);
  return result;
}

// An instance expanded in place, and the structures nested in its
// definition.
int convertInstanceExpanded(std::int32_t index) {
  TraceScope t("cee641");
  IgesStructureState& s = igesStructureState();
  // Only an instance the top level of a pass took waits: under a father
  // it would not be taken again.
  const bool topLevel = s.topLevelPick == index && s.nesting == 0;
  const ElementTable& table = elementTable();
  if (topLevel && table.cursors[2] <= table.lastIndex && table.cursors[2] < table.capacity)
    return ConvertResult::kLater;  // the top-level definitions come first
  // Met again while its expansion is open, the instance is inside its own
  // definition: the walk's expansion reports that (1322) and fails.
  if (s.nestingPath.count(index) != 0) return walkStructures(index, false, t.code());
  if (!enterNesting(t.code(), index)) return ConvertResult::kError;
  const int result = walkStructures(index, false, t.code());
  leaveNesting(index);
  return result;
}

// ---------------------------------------------------------------------------
// Drawings

int prepareDrawing(std::int32_t drawing) {
  TraceScope t("cee180");
  // The definitions are gathered first: writing one resets cursors the
  // descent uses.
  std::vector<std::int32_t> found;
  resetSonCursors(drawing);
  std::int32_t de = 0, index = 0;
  std::unordered_set<std::int32_t> seen;
  while (nextDescendant(drawing, de, index) == 0) {
    const std::int32_t type = element(index).type;
    if ((type == IgesType::kSubfigureDefinition || type == IgesType::kSubfigureInstance) &&
        seen.insert(index).second)
      found.push_back(index);
  }
  for (std::int32_t i : found) {
    std::int32_t def = i;
    if (element(i).type == IgesType::kSubfigureInstance) {
      if (traceLevel() > 1) std::printf("cee180 : 408 darf nicht vorkommen !\n");
      def = firstSonOfType(i, IgesType::kSubfigureDefinition);
      if (def == 0) continue;
    }
    if (element(def).state != ElementState::kWaiting) continue;
    if (dxfBlockNotWritten(def)) {
      setState(def, ElementState::kIgnored);
      continue;
    }
    if (!levelIsPlus()) {
      refuseForLevel(t.code(), def);
      setState(def, ElementState::kError);
      continue;
    }
    const int r = convertSubfigureDefinition(def);
    if (r != 0 && element(def).state == ElementState::kWaiting) setState(def, ElementState::kError);
  }
  return 0;
}

namespace {

// Marks every element under a drawing.  A subfigure definition is shared
// by its instances: it and its members lie under the drawings only when
// every father it has does, so that a block placed both on a sheet and in
// the model is drawn in the views as well.  Each link is followed once.
void markUnderDrawings(const std::vector<std::int32_t>& drawings) {
  IgesStructureState& s = igesStructureState();
  const std::size_t n = static_cast<std::size_t>(elementTable().lastIndex) + 1;
  s.underDrawing.assign(n, 0);
  ++s.underDrawingGeneration;
  // Per definition met: its fathers not yet marked.
  std::unordered_map<std::int32_t, long> fathersLeft;
  std::vector<std::int32_t> stack;
  const auto reach = [&](std::int32_t son) {
    if (!isElementIndex(son) || static_cast<std::size_t>(son) >= n) return;
    if (element(son).type != IgesType::kSubfigureDefinition) {
      stack.push_back(son);
      return;
    }
    auto left = fathersLeft.find(son);
    if (left == fathersLeft.end()) {
      long fathers = 0;
      for (const LinkNode* f = element(son).fathers; f != nullptr; f = f->next) ++fathers;
      left = fathersLeft.emplace(son, fathers).first;
    }
    if (--left->second <= 0) stack.push_back(son);
  };
  for (std::int32_t d : drawings) {
    for (const LinkNode* son = element(d).sons; son != nullptr; son = son->next) reach(son->index);
    while (!stack.empty()) {
      const std::int32_t i = stack.back();
      stack.pop_back();
      if (!isElementIndex(i) || static_cast<std::size_t>(i) >= n || s.underDrawing[i]) continue;
      s.underDrawing[i] = 1;
      for (const LinkNode* son = element(i).sons; son != nullptr; son = son->next) reach(son->index);
    }
  }
}

ViewStatistics countStates() {
  ViewStatistics v;
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i) {
    const ElementRecord& e = element(i);
    if (e.type == IgesType::kDrawing || e.type == IgesType::kView ||
        e.type == IgesType::kTransformationMatrix)
      continue;
    switch (e.state) {
      case ElementState::kDone: case ElementState::kTakenOver: case ElementState::kDefinitionWritten:
        ++v.converted;
        break;
      case ElementState::kIgnored: ++v.ignored; break;
      case ElementState::kError: ++v.failed; break;
      default: break;
    }
  }
  return v;
}

void writeViewStatistics(int drawing, int view, std::int32_t number, const ViewStatistics& v) {
  char line[160];
  std::snprintf(line, sizeof line, "Drawing %d, view %d (Nr.: %d): %d converted, %d ignored, %d with errors\n",
                drawing, view, static_cast<int>(number), static_cast<int>(v.converted),
                static_cast<int>(v.ignored), static_cast<int>(v.failed));
  if (std::FILE* protocol = mfaProtocolFile()) std::fputs(line, protocol);
  if (runSettings().statisticsToConsole == 1) std::fputs(line, stdout);
}

// In subfigure mode 2 the definitions stay out of the passes: only their
// instances write their members.
void ignoreDefinitions() {
  if (userElementMode() != 2) return;
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i)
    if (element(i).type == IgesType::kSubfigureDefinition)
      setStateDeepQuiet(i, ElementState::kIgnored);
}

// The drawing's border, once per drawing in drawing coordinates (outside
// every view's world and matrix), when the view switch asks for borders.
void writeDrawingBorder(std::int32_t drawing) {
  if (runSettings().viewMode != 2) return;
  const auto* d = dynamic_cast<const DrawingRecord*>(element(drawing).params.get());
  if (d == nullptr || !d->hasFrame) return;
  std::vector<std::int32_t> created;
  ScriptDrawingBorder(scriptElementOf(drawing), ScriptPointXYZ{d->frameX1, d->frameY1, 0.0},
                      ScriptPointXYZ{d->frameX2, d->frameY2, 0.0}, created);
  element(drawing).scriptObjects.append(created.data(), created.data() + created.size());
}

}  // namespace

int convertDrawingMode() {
  TraceScope t("cee100");
  IgesStructureState& s = igesStructureState();
  IgesConvertState& c = igesConvertState();
  ElementTable& table = elementTable();
  const bool trace = traceLevel() > 0;
  std::vector<std::int32_t> drawings;
  int totalViews = 0;
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    const ElementRecord& e = element(i);
    const auto* d =
        e.type == IgesType::kDrawing ? dynamic_cast<const DrawingRecord*>(e.params.get()) : nullptr;
    if (d == nullptr) continue;
    drawings.push_back(i);
    for (const DrawingRecord::ViewSlot& v : d->views)
      if (v.view != 0) ++totalViews;
  }
  markUnderDrawings(drawings);
  if (userElementMode() != 2)
    for (std::int32_t d : drawings) prepareDrawing(d);
  table.progressScale = totalViews > 0 ? totalViews : 1;
  const int viewFilter = runSettings().viewNumber > 0 ? runSettings().viewNumber : 0;
  const double eps = systemEpsilon();
  bool firstView = true;
  int result = 0;
  const int drawingCount = static_cast<int>(drawings.size());
  for (int dn = 1; dn <= drawingCount; ++dn) {
    const std::int32_t drawing = drawings[static_cast<std::size_t>(dn - 1)];
    s.currentDrawing = drawing;
    if (trace) std::printf("-> cee100 : Begin of %d. Drawing (Number of Drawings : %d)\n", dn, drawingCount);
    const auto* d = dynamic_cast<const DrawingRecord*>(element(drawing).params.get());
    int viewsOfDrawing = 0;
    for (const DrawingRecord::ViewSlot& v : d->views)
      if (v.view != 0) ++viewsOfDrawing;
    if (viewsOfDrawing == 0) {
      mfaSetPosition(drawing, element(drawing).de.paramPointer);
      mfaNote(t.code(), kMsgDrawingWithoutViews, Channel::kProtocol);
      mfaClearPosition();
    }
    int vn = 0;
    for (int slot = 0; slot < static_cast<int>(d->views.size()); ++slot) {
      const std::int32_t view = d->views[static_cast<std::size_t>(slot)].view;
      if (view == 0) continue;
      ++vn;
      if (!firstView) {
        // The same geometry again for this view; the definitions are
        // written once.
        // The annotation of the drawings keeps its states: it is written in
        // its drawing's own pass, never in a view.
        std::vector<std::pair<std::int32_t, char>> kept;
        for (std::size_t i = 1; i < s.underDrawing.size(); ++i)
          if (s.underDrawing[i]) kept.emplace_back(static_cast<std::int32_t>(i), element(static_cast<std::int32_t>(i)).state);
        markAll(ElementState::kWaiting);
        for (const auto& k : kept) setStateRaw(k.first, k.second);
        resetCursors();
        table.cursors[2] = table.lastIndex + 1;
        ignoreDefinitions();
      }
      firstView = false;
      if (userElementMode() == 2) {
        s.names.clear();
        s.writtenNames.clear();
      }
      setStateDeepQuiet(drawing, ElementState::kIgnored);
      ViewInfo info;
      viewInfo(drawing, slot, info);
      if (viewFilter != 0 && viewFilter != info.number) {
        setState(view, ElementState::kIgnored);
        continue;
      }
      s.currentSlot = slot;
      const bool moved = igesStructureSettings().scaledViewHandling == 1 && std::fabs(info.scale - 1.0) > eps;
      Transform matrix;
      if (moved) {
        const ScriptPointXYZ origin{info.x, info.y, 0.0};
        ScriptWorldSave(info.scale, &origin);
        viewMatrix(view, 1.0, info.x, info.y, false, matrix);
      } else {
        viewMatrix(view, info.scale, info.x, info.y, true, matrix);
      }
      if (trace) {
        if (!info.name.empty())
          std::printf("-> cee100 : Begin of %d. View (Nr.: %d), Name : %s\n", vn, static_cast<int>(info.number),
                      info.name.c_str());
        else
          std::printf("-> cee100 : Begin of %d. View (Nr.: %d)\n", vn, static_cast<int>(info.number));
      }
      c.currentView = view;
      c.currentViewNumber = info.number;
      s.currentViewMatrix = &matrix;
      Point3 low, high;
      if (viewClipBox(view, matrix, low, high)) ScriptSetClipBox(low.x, low.y, high.x, high.y);
      if (ConversionPicture* picture = conversionPicture()) {
        picture->enterSection(pictureDrawingName(dn), info.name.empty() ? "view " + std::to_string(info.number)
                                                                       : info.name);
      }
      if (topLevelPass(0, &matrix) != 0) result = -1;
      ScriptClearClipBox();
      s.currentViewMatrix = nullptr;
      c.currentView = 0;
      c.currentViewNumber = kNoView;
      setStateDeepQuiet(view, ElementState::kDone);
      setState(view, ElementState::kDone);
      if (moved) ScriptWorldRestore();
      const ViewStatistics v = countStates();
      writeViewStatistics(dn, vn, info.number, v);
      s.viewTotals.converted += v.converted;
      s.viewTotals.ignored += v.ignored;
      s.viewTotals.failed += v.failed;
      ++s.viewsConverted;
      if (trace) std::printf("-> cee100 : End   of %d. View (Nr.: %d)\n", vn, static_cast<int>(info.number));
    }
    // The drawing's own annotation, without a view.
    if (ConversionPicture* picture = conversionPicture()) picture->enterSection(pictureDrawingName(dn), "");
    setStateDeepQuiet(drawing, ElementState::kWaiting);
    s.currentSlot = -1;
    c.currentView = 0;
    c.currentViewNumber = kNoView;
    if (element(drawing).sons != nullptr && topLevelPass(drawing, nullptr) != 0) result = -1;
    writeDrawingBorder(drawing);
    setState(drawing, ElementState::kDone);
    if (trace) std::printf("-> cee100 : End   of %d. Drawing (Number of Drawings : %d)\n", dn, drawingCount);
  }
  s.currentDrawing = 0;
  if (ConversionPicture* picture = conversionPicture()) picture->leaveSection();
  return result;
}

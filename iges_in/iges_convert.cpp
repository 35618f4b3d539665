#include "iges_in/iges_convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "iges_in/iges_annotation.h"
#include "iges_in/iges_fields.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "script/geometry.h"
#include "script/structure.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgCannotConvert = 320;
constexpr int kMsgNotAllowedHere = 225;
constexpr int kMsgNoMemory = 370;
constexpr int kMsgViewsWithoutDrawing = 436;
constexpr int kMsgViewHandlingOff = 445;
constexpr int kMsgUnsupported = 510;
constexpr int kMsgNoParameterData = 760;
constexpr int kMsgNotConverted = 790;

// The first record capacity of a pass.
constexpr std::size_t kFirstRecordCapacity = 50;

// Sender of the composite-curve rule: blanked constituents are left out.
constexpr int kSenderBlankedConstituents = 5;

// Member types of a composite curve, and of the boundary of a plane.
constexpr std::int32_t kCurveTypes[] = {IgesType::kCircularArc, IgesType::kCompositeCurve,
                                        IgesType::kConicArc,    IgesType::kCopiousData,
                                        IgesType::kLine,        IgesType::kParametricSpline,
                                        IgesType::kPoint,       IgesType::kBSplineCurve};
constexpr int kCurveTypeCount = static_cast<int>(sizeof kCurveTypes / sizeof kCurveTypes[0]);
constexpr std::int32_t kBoundaryTypes[] = {IgesType::kCircularArc, IgesType::kCompositeCurve,
                                           IgesType::kConicArc,    IgesType::kCopiousData,
                                           IgesType::kLine,        IgesType::kParametricSpline,
                                           IgesType::kBSplineCurve};
constexpr int kBoundaryTypeCount =
    static_cast<int>(sizeof kBoundaryTypes / sizeof kBoundaryTypes[0]);

// The drawable entities: the emit gates apply to them.
bool isDrawable(std::int32_t type) {
  switch (type) {
    case IgesType::kCircularArc:
    case IgesType::kCompositeCurve:
    case IgesType::kConicArc:
    case IgesType::kCopiousData:
    case IgesType::kPlane:
    case IgesType::kLine:
    case IgesType::kParametricSpline:
    case IgesType::kPoint:
    case IgesType::kFlash:
    case IgesType::kBSplineCurve: return true;
    default:
      // Surfaces, written as unknown elements.
      return type >= IgesType::kRuledSurface && type <= IgesType::kTabulatedCylinder;
  }
}


// Section lines and witness lines of copious data need level PLUS or B1.
bool refusedForLevel(std::int32_t type, std::int32_t form) {
  if (type != IgesType::kCopiousData) return false;
  if (!((form >= 31 && form <= 37) || form == 40)) return false;
  return !(runHas(RunModeBit::kPlus) || runHas(RunModeBit::kB1));
}

// ---------------------------------------------------------------------------
// Reading parameter data

using FieldReader = IgesFieldCursor;

// count reals, or with count < 0 every field up to the record delimiter.
bool readReals(const std::string& text, int count, std::vector<double>& values) {
  FieldReader f{text.c_str()};
  values.clear();
  // As many as there are fields (the values are kept for the whole run).
  std::size_t fields = count >= 0 ? static_cast<std::size_t>(count) : 1;
  if (count < 0) {
    const IgesDelimiters& d = igesDelimiters();
    for (const char c : text) {
      if (c == d.record) break;
      fields += c == d.param;
    }
  }
  values.reserve(std::min(fields, text.size() / 2 + 1));
  while (count < 0 ? f.more() : static_cast<int>(values.size()) < count) {
    values.push_back(f.real());
    if (f.failed) return false;
  }
  return !values.empty() || count == 0;
}

// The element's typed record of class R: the one the parameter pass made,
// or a new one filled by `fill` from the parameter data.
template <typename R, typename Fill>
int typedRecord(std::int32_t index, const char* code, Fill fill, const R*& out,
                const Transform*& matrix) {
  out = nullptr;
  matrix = nullptr;
  ElementRecord& e = element(index);
  try {
    if (resolveMatrix(index, matrix) != 0) return ConvertResult::kError;
    if (e.params == nullptr) {
      auto rec = std::make_unique<R>();
      // The text's storage is used again by the next element (a fill that
      // reads another element meanwhile takes a fresh one).
      std::string text = std::move(igesConvertState().spareText);
      const bool fetched = fetchOwnData(index, code, text);
      if (!fetched) return ConvertResult::kError;
      mfaSetPosition(index, e.de.paramPointer);
      const bool ok = fill(*rec, text);
      igesConvertState().spareText = std::move(text);
      // A value that is missing or cannot be read: the element is faulty.
      if (!ok) mfaError(code, kMsgNotConverted, Channel::kProtocol);
      mfaClearPosition();
      if (!ok) return ConvertResult::kError;
      e.params = std::move(rec);
    }
  } catch (const std::bad_alloc&) {
    mfaError(code, kMsgNoMemory, Channel::kBoth);
    return ConvertResult::kError;
  }
  out = recordAs<R>(e.params.get());
  return out != nullptr ? 0 : ConvertResult::kError;
}

int readGeometry(std::int32_t index, const char* code, int count, const GeometryRecord*& out,
                 const Transform*& matrix) {
  TraceScope t(code);
  return typedRecord<GeometryRecord>(
      index, code,
      [&](GeometryRecord& rec, const std::string& text) {
        copyAttributes(rec.attributes, element(index).de);
        return readReals(text, count, rec.values);
      },
      out, matrix);
}

// ---------------------------------------------------------------------------
// Per-pass bookkeeping

constexpr unsigned char kOnCollectPath = 1;
constexpr unsigned char kOnEmitPath = 2;

// The collect step of a complex element asks for its members with this
// result: the walk then takes them as the records after the element's own.
constexpr int kCollectMembers = 1;

struct Pass {
  const Transform* viewMatrix = nullptr;
  // Set by a collect step that answers kCollectMembers: the member types
  // the element takes (null for any).
  const std::int32_t* membersAllowed = nullptr;
  int membersAllowedCount = 0;
};

void preparePass() {
  IgesConvertState& s = igesConvertState();
  const std::size_t n = static_cast<std::size_t>(elementTable().lastIndex) + 1;
  s.firstRecord.assign(n, 0);
  s.onPath.assign(n, 0);
}

bool inTable(std::int32_t index) {
  return index >= 0 && static_cast<std::size_t>(index) < igesConvertState().firstRecord.size();
}

void reportNestingOnce(const char* code, std::int32_t index) {
  IgesConvertState& s = igesConvertState();
  if (s.cycleReported) return;
  s.cycleReported = true;
  reportUnsupported(code, index);
}

// Drops the records from position `from` on, and their marks.
void dropRecords(ConversionRecords& records, std::size_t from) {
  IgesConvertState& s = igesConvertState();
  for (std::size_t k = from; k < records.size(); ++k) {
    const std::int32_t i = records[k].index;
    if (inTable(i) && records[k].flag == 0 && s.firstRecord[static_cast<std::size_t>(i)] == k + 1)
      s.firstRecord[static_cast<std::size_t>(i)] = 0;
  }
  records.resize(from);
}

// Asks the walk for the members of a complex element.
int collectMembers(Pass& pass, const std::int32_t* allowed, int allowedCount) {
  pass.membersAllowed = allowed;
  pass.membersAllowedCount = allowedCount;
  return kCollectMembers;
}

// ---------------------------------------------------------------------------
// Collect steps of the types

int collectComposite(std::int32_t index, Pass& pass) {
  TraceScope t("cee720");
  const CompositeRecord* rec = nullptr;
  const Transform* matrix = nullptr;
  const int r = readComposite(index, rec, matrix);
  if (r != 0) return r;
  return collectMembers(pass, kCurveTypes, kCurveTypeCount);
}

int collectPlane(std::int32_t index, Pass& pass) {
  TraceScope t("cee110");
  const PlaneRecord* rec = nullptr;
  const Transform* matrix = nullptr;
  const int r = readPlane(index, rec, matrix);
  if (r != 0) return r;
  // A plane without a bounding curve has nothing to draw.
  if (rec->boundary == 0 || element(index).sons == nullptr) return ConvertResult::kIgnored;
  return collectMembers(pass, kBoundaryTypes, kBoundaryTypeCount);
}

int collectUnknown(std::int32_t index, Pass& pass) {
  TraceScope t("cee499");
  const Transform* matrix = nullptr;
  if (resolveMatrix(index, matrix) != 0) return ConvertResult::kError;
  return collectMembers(pass, nullptr, 0);
}

// The collect step by type (the element's record is the last one):
// kCollectMembers for a complex element whose members are to be taken.
int collectElement(std::int32_t index, Pass& pass) {
  ElementRecord& e = element(index);
  const Transform* matrix = nullptr;
  const GeometryRecord* geometry = nullptr;
  switch (e.type) {
    case IgesType::kCircularArc: return readCircularArc(index, geometry, matrix);
    case IgesType::kCompositeCurve: return collectComposite(index, pass);
    case IgesType::kConicArc: return readConicArc(index, geometry, matrix);
    case IgesType::kCopiousData: return readCopiousData(index, geometry, matrix);
    case IgesType::kPlane: return collectPlane(index, pass);
    case IgesType::kLine: return readGeometry(index, "cee240", 6, geometry, matrix);
    case IgesType::kParametricSpline: return readGeometry(index, "cee360", -1, geometry, matrix);
    case IgesType::kPoint: return readGeometry(index, "cee200", 3, geometry, matrix);
    case IgesType::kFlash: {
      const SurfaceRecord* flash = nullptr;
      return readFlash(index, flash, matrix);
    }
    case IgesType::kBSplineCurve: return readGeometry(index, "cee380", -1, geometry, matrix);
    case IgesType::kTransformationMatrix:
      return ConvertResult::kIgnored;  // used through matrix pointers
    case IgesType::kColourDefinition: {
      colourDefinition(index);
      return e.state == ElementState::kError ? ConvertResult::kError : ConvertResult::kIgnored;
    }
    case IgesType::kDrawing:
    case IgesType::kView:
    case IgesType::kLayer:
      // They drive the passes; nothing of their own is written.
      ++igesConvertState().notConverted;
      return ConvertResult::kIgnored;
    case IgesType::kProperty:
      // A z-order property is kept for the group that owns it.
      return e.form == 6731 ? 0 : ConvertResult::kIgnored;
    case 6000:
    case 6050:
    case 6051:
      // Faces and attributes of DXF input are recorded, not converted.
      return ConvertResult::kIgnored;
    default:
      break;
  }
  if (isAnnotationElement(e.type, e.form)) return collectAnnotation(index);
  if (e.type == IgesType::kSubfigureDefinition || e.type == IgesType::kAssociativityInstance ||
      e.type == IgesType::kSubfigureInstance)
    return collectStructure(index);
  if (runHas(RunModeBit::kPlus) && e.sons != nullptr) return collectUnknown(index, pass);
  reportUnsupported("cee150", index);
  return ConvertResult::kError;
}

// The state of an element whose record the collect phase dropped.
void stateAfterCollect(std::int32_t index, int r) {
  ElementRecord& e = element(index);
  if (e.state == ElementState::kDone || e.state == ElementState::kTakenOver) return;
  switch (r) {
    case ConvertResult::kLater:
      setStateRaw(index, ElementState::kWaiting);
      resetSonCursors(index);
      return;
    case ConvertResult::kIgnored:
      setState(index, ElementState::kIgnored);
      return;
    case ConvertResult::kError:
      setState(index, ElementState::kError);
      return;
    default:
      setStateFromResult(index, r, "cee150");
      return;
  }
}

bool allowedType(std::int32_t type, const std::int32_t* allowed, int allowedCount) {
  if (allowed == nullptr || allowedCount <= 0) return true;
  for (int k = 0; k < allowedCount; ++k)
    if (allowed[k] == type) return true;
  return false;
}

// The end of an element's collect step: its record is completed, or it and
// the records after it are dropped and the element's state says why.
void finishCollected(std::int32_t index, std::size_t position, int r,
                     ConversionRecords& records) {
  IgesConvertState& s = igesConvertState();
  s.onPath[static_cast<std::size_t>(index)] &= static_cast<unsigned char>(~kOnCollectPath);
  if (r == 0 || r == ConvertResult::kTakenOver) {
    records[position].end = static_cast<RecordPosition>(records.size());
    return;
  }
  dropRecords(records, position);
  stateAfterCollect(index, r);
}

// One element whose sons the collect walk is taking: the top level (father
// 0) or a complex element, whose record is at `position`.
struct CollectFrame {
  std::int32_t father = 0;
  const std::int32_t* allowed = nullptr;
  int allowedCount = 0;
  std::size_t position = 0;
};

// The next element under the frame's father: 0 and the element, 1 when
// there is none left, ConvertResult::kError when the father's sons cannot
// be had (the father gets 'e').
int nextCollected(std::int32_t father, std::int32_t& index) {
  if (father == 0) {
    ConvertPick pick;
    if (nextToConvert(pick) != 0) return 1;
    index = pick.index;
    structureTopLevelPick(index);
    return 0;
  }
  SonResult son;
  const int r = nextSon(father, son);
  if (r == -3) {
    setState(father, ElementState::kError);
    return ConvertResult::kError;
  }
  if (r != 0) return 1;
  index = son.index;
  return 0;
}

// Collects the elements under `father` (0: the top level) and, below each
// complex element, its members as the records after its own: a walk with a
// stack of its own, so any depth the file holds is taken.  An element met
// again under itself (it is on the walk's path) closes a cycle, which is
// reported once and left out there.  0, or ConvertResult::kError when the
// father's own sons cannot be had.
int collectWalk(std::vector<CollectFrame>& stack, Pass& pass, ConversionRecords& records);

int collectInto(std::int32_t father0, Pass& pass, const std::int32_t* allowed0, int allowedCount0,
                ConversionRecords& records) {
  std::vector<CollectFrame> stack;
  stack.push_back(CollectFrame{father0, allowed0, allowedCount0, 0});
  try {
    return collectWalk(stack, pass, records);
  } catch (...) {
    // The elements still open leave the walk's path.
    for (std::size_t k = 1; k < stack.size(); ++k) setOnCollectPath(stack[k].father, false);
    throw;
  }
}

int collectWalk(std::vector<CollectFrame>& stack, Pass& pass, ConversionRecords& records) {
  TraceScope t("cee150");
  IgesConvertState& s = igesConvertState();
  while (!stack.empty()) {
    const CollectFrame frame = stack.back();
    const std::int32_t father = frame.father;
    std::int32_t index = 0;
    const int picked = nextCollected(father, index);
    if (picked != 0) {
      const int r = picked == 1 ? 0 : ConvertResult::kError;
      stack.pop_back();
      if (stack.empty()) return r;
      finishCollected(father, frame.position, r, records);
      continue;
    }
    if (!inTable(index)) continue;
    ElementRecord& e = element(index);
    if (e.state == ElementState::kRegistered) continue;
    if (!inCurrentView(index, s.currentViewNumber)) {
      setState(index, ElementState::kIgnored);
      if (father != 0 && element(father).type == IgesType::kAssociativityInstance &&
          element(father).form == 13) {
        // The sons end here.
        stack.pop_back();
        if (stack.empty()) return 0;
        finishCollected(father, frame.position, 0, records);
      }
      continue;
    }
    if (!allowedType(e.type, frame.allowed, frame.allowedCount)) {
      const ElementRecord& f = element(father);
      mfaReport(t.code(), kMsgNotAllowedHere, Channel::kProtocol, Severity::kWarning,
                {e.type, f.type, f.de.sequence}, {}, "", nullptr);
      continue;
    }
    const std::size_t slot = static_cast<std::size_t>(index);
    if (father != 0) {
      if (s.onPath[slot] & kOnCollectPath) {
        // The complex element contains itself.
        if (!structureReportsGroupCycle(index)) reportNestingOnce(t.code(), index);
        continue;
      }
      if (runState().senderCode == kSenderBlankedConstituents &&
          element(father).type == IgesType::kCompositeCurve && decodeStatus(e.de).blank == 1) {
        setState(index, ElementState::kIgnored);
        continue;
      }
      // Failed, ignored, or a subfigure definition already written: nothing
      // the father could use.
      if (e.state == ElementState::kError || e.state == ElementState::kIgnored ||
          e.state == ElementState::kDefinitionWritten)
        continue;
    }
    if (s.firstRecord[slot] != 0) {
      // Collected before in this pass: at the top level nothing is to be
      // done; under a father the record refers to the first one.
      if (father == 0) continue;
      ConversionRecord ref;
      ref.index = index;
      ref.flag = 1;
      ref.underFather = true;
      ref.original = s.firstRecord[slot] - 1;
      ref.end = static_cast<RecordPosition>(records.size() + 1);
      if (records.size() >= kMostRecords) throw std::bad_alloc();
      records.push_back(std::move(ref));
      continue;
    }
    const std::size_t position = records.size();
    if (position >= kMostRecords) throw std::bad_alloc();
    {
      ConversionRecord rec;
      rec.index = index;
      rec.underFather = father != 0;
      records.push_back(std::move(rec));
    }
    s.firstRecord[slot] = static_cast<RecordPosition>(position + 1);
    if (e.state == ElementState::kDone || e.state == ElementState::kTakenOver) {
      // Written in an earlier pass: the emit phase copies its objects.
      records[position].end = static_cast<RecordPosition>(position + 1);
      continue;
    }
    s.onPath[slot] |= kOnCollectPath;
    int r = 0;
    try {
      r = collectElement(index, pass);
      if (r == kCollectMembers) {
        resetSonCursors(index);
        stack.push_back(CollectFrame{index, pass.membersAllowed, pass.membersAllowedCount, position});
        continue;
      }
    } catch (const std::bad_alloc&) {
      mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
      r = ConvertResult::kError;
    }
    finishCollected(index, position, r, records);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Emit

struct Matrices {
  bool hasOwn = false;      // the element's transformation (father and own), without the view
  Transform own;
  bool hasFinal = false;    // with the view
  Transform final;
};

Matrices matricesOf(const ConversionRecord& rec, const Transform* view, const Transform* father) {
  Matrices m;
  const ElementRecord& e = element(rec.index);
  m.hasOwn = composeIfAny(isPhysicallyDependent(e) ? father : nullptr, e.matrix.get(), m.own);
  m.hasFinal = composeIfAny(view, m.hasOwn ? &m.own : nullptr, m.final);
  return m;
}

// The complex elements: their members are written before them.
enum class Complex { kNone, kComposite, kPlane, kUnknown };

Complex complexKind(std::int32_t type) {
  switch (type) {
    case IgesType::kCompositeCurve: return Complex::kComposite;
    case IgesType::kPlane: return Complex::kPlane;
    case IgesType::kCircularArc:
    case IgesType::kConicArc:
    case IgesType::kCopiousData:
    case IgesType::kLine:
    case IgesType::kParametricSpline:
    case IgesType::kPoint:
    case IgesType::kFlash:
    case IgesType::kBSplineCurve:
    case IgesType::kProperty: return Complex::kNone;
    default: return Complex::kUnknown;  // its members become a group
  }
}

// One record the emit walk is at.
struct EmitFrame {
  enum class Step { kStart, kMembers, kAlias };
  std::size_t position = 0;
  const Transform* fatherMatrix = nullptr;
  Step step = Step::kStart;
  bool open = false;  // the element is on the emit path
  Complex kind = Complex::kNone;
  Matrices m;
  ScriptElement se;
  std::size_t next = 0;     // the next member record
  std::size_t member = 0;   // the member record written last
  bool hasMember = false;
  // The objects of the members written so far: a composite and an unknown
  // element take each object once, contours first; a plane takes every
  // object as a boundary.
  std::vector<std::int32_t> contours, plain;
  std::unordered_set<std::int32_t> seen;
  std::vector<ScriptBoundary> boundaries;

  // Makes a frame used before the one of a record met afresh; the lists
  // keep their room.
  void restart(std::size_t at, const Transform* father) {
    position = at;
    fatherMatrix = father;
    step = Step::kStart;
    open = false;
    kind = Complex::kNone;
    next = 0;
    member = 0;
    hasMember = false;
    contours.clear();
    plain.clear();
    seen.clear();
    boundaries.clear();
  }
};

// The frames of the emit walks, kept from record to record: a walk takes
// the frames above those of the walks it runs inside (a nested pass that a
// structure runs while it is written).  A frame does not move while it is
// in use: members take their father's matrix from it.
struct EmitFrames {
  std::vector<std::unique_ptr<EmitFrame>> frames;
  std::size_t inUse = 0;
};

EmitFrames& emitFrames() {
  static EmitFrames frames;
  return frames;
}

const RunStateRegistrar kEmitFramesRegistered("IGES emit frames", [] { emitFrames() = EmitFrames{}; });

// The frames of one walk: a stack over the shared frames, handed back when
// the walk ends.
class EmitStack {
 public:
  EmitStack() : pool_(emitFrames()), base_(pool_.inUse) {}
  ~EmitStack() { pool_.inUse = base_; }
  EmitStack(const EmitStack&) = delete;
  EmitStack& operator=(const EmitStack&) = delete;

  bool empty() const { return pool_.inUse == base_; }
  EmitFrame& back() { return *pool_.frames[pool_.inUse - 1]; }
  void pop_back() { --pool_.inUse; }
  EmitFrame& push(std::size_t position, const Transform* fatherMatrix) {
    if (pool_.inUse == pool_.frames.size()) pool_.frames.push_back(std::make_unique<EmitFrame>());
    EmitFrame& f = *pool_.frames[pool_.inUse++];
    f.restart(position, fatherMatrix);
    return f;
  }

 private:
  EmitFrames& pool_;
  std::size_t base_;
};

void gatherMember(EmitFrame& f, const ConversionRecords& records, std::size_t k) {
  const ElementRecord& e = element(records[k].index);
  const ObjectList& objects = records.objects(k);
  if (f.kind == Complex::kPlane) {
    for (std::int32_t n : objects)
      f.boundaries.push_back(ScriptBoundary{n, makesContour(e.type, e.form), e.de.structure});
    return;
  }
  std::vector<std::int32_t>& into = makesContour(e.type, e.form) ? f.contours : f.plain;
  for (std::int32_t n : objects)
    if (f.seen.insert(n).second) into.push_back(n);
}

// The conic's coefficients scaled (by a positive factor, which leaves the
// curve as it is) so that |A| + |C| is 1 (the trace of an ellipse or a
// parabola; for a hyperbola whose A and C nearly cancel the trace itself
// would blow the coefficients up), or to |B| = 1, or to a largest
// coefficient of 1 when the quadratic part vanishes.  The invariants the classification compares
// with the epsilon then measure the curve's shape and size instead of the
// scale its coefficients were written in: an ellipse with half axes of 46
// and 23 has a determinant of 1e-6 as written, and would be taken for a
// degenerate one.
ParameterValues normalisedConic(const ParameterValues& v) {
  ParameterValues n = v;
  if (n.size() < 6) return n;
  double scale = std::fabs(n[0]) + std::fabs(n[2]);
  if (!(scale > 0.0)) scale = std::fabs(n[1]);
  if (!(scale > 0.0)) {
    for (std::size_t k = 0; k < 6; ++k) scale = std::max(scale, std::fabs(n[k]));
  }
  if (!(scale > 0.0) || !std::isfinite(scale)) return n;
  for (std::size_t k = 0; k < 6; ++k) n[k] /= scale;
  return n;
}

// Writes an element without members.
int emitSimple(const ConversionRecord& rec, const Matrices& m, const ScriptElement& se,
               std::vector<std::int32_t>& created) {
  ElementRecord& e = element(rec.index);
  const Transform* tm = m.hasFinal ? &m.final : nullptr;
  static const ParameterValues kNone;
  const GeometryRecord* g = recordAs<GeometryRecord>(e.params.get());
  const ParameterValues& v = g != nullptr ? g->values : kNone;
  switch (e.type) {
    case IgesType::kCircularArc: return emitCircularArc(se, tm, v, created);
    case IgesType::kConicArc: return emitConicArc(se, tm, normalisedConic(v), created);
    case IgesType::kCopiousData: return emitCopiousData(se, tm, e.form, v, created);
    case IgesType::kLine: return emitLine(se, tm, v, created);
    case IgesType::kParametricSpline: {
      int kind = e.outputKind;
      const int r = emitParametricSpline(se, tm, v, created, kind);
      e.outputKind = kind;
      return r;
    }
    case IgesType::kPoint: return emitPoint(se, tm, v, created);
    case IgesType::kFlash: {
      const SurfaceRecord* flash = recordAs<SurfaceRecord>(e.params.get());
      if (flash == nullptr) return ConvertResult::kError;
      return emitFlash(se, tm, e.form, flash->values, created);
    }
    case IgesType::kBSplineCurve: return emitRationalBSpline(se, tm, v, created);
    case IgesType::kProperty: return ConvertResult::kTakenOver;  // used by its group
    default: return ConvertResult::kError;
  }
}

// Writes a complex element from the objects of its members.
int emitComplex(EmitFrame& f, std::int32_t index, std::vector<std::int32_t>& created) {
  if (f.kind == Complex::kPlane) {
    TraceScope t("cee110");
    if (f.boundaries.empty()) return ConvertResult::kError;
    // Copious data written as a plane says "no hatch" with false.
    return ScriptPlane(f.se, f.boundaries, 0, 0.0, 0.0, f.se.data.type != IgesType::kCopiousData,
                       created);
  }
  std::vector<std::int32_t> members = std::move(f.contours);
  const std::size_t contours = members.size();
  members.insert(members.end(), f.plain.begin(), f.plain.end());
  if (f.kind == Complex::kComposite) {
    TraceScope t("cee720");
    if (members.empty()) return ConvertResult::kError;
    return ScriptContour(f.se, members, contours, created);
  }
  // An unknown complex element: its members are gathered in a group named
  // after its type and index.
  TraceScope t("cee499");
  if (members.empty()) return ConvertResult::kIgnored;
  const ScriptElement se = scriptElementOf(index);
  ScriptGroupRecord group;
  group.members = members;
  group.level = se.level;
  group.attributes = se.attributes;
  group.data = se.data;
  const ScriptMatrix sm = f.m.hasFinal ? toScriptMatrix(f.m.final) : ScriptMatrix{};
  markWrittenAsGroup(index);
  return ScriptUnknownAssociativity(index, group, f.m.hasFinal ? &sm : nullptr, created);
}

// The end of an element's write: its objects and its state.
void finishEmitted(ConversionRecords& records, std::size_t position, int r,
                   std::vector<std::int32_t>& created) {
  IgesConvertState& s = igesConvertState();
  const std::int32_t index = records[position].index;
  s.onPath[static_cast<std::size_t>(index)] &= static_cast<unsigned char>(~kOnEmitPath);
  ElementRecord& after = element(index);
  // Only the records of members and of nested passes are read for their
  // objects afterwards (by the complex element, by the nested pass); a
  // record of a top-level pass leaves them to its element.
  if (records[position].underFather || s.nestedPasses > 0) {
    after.scriptObjects = created;
    records.keepObjects(position, std::move(created));
  } else {
    after.scriptObjects = std::move(created);
  }
  // The position names the element in the messages of a failure; a result
  // that only sets the state reports nothing.
  const bool quiet = r == 0 || r == ConvertResult::kIgnored || r == ConvertResult::kTakenOver;
  if (!quiet) mfaSetPosition(index, after.de.paramPointer);
  setStateFromResult(index, r, "cee160");
  mfaClearPosition();
}

// The first step at a record: false when the record is settled by it (the
// frame is done), true when the walk goes on with the frame's next step
// (new frames may be pushed after it).
bool startRecord(ConversionRecords& records, EmitFrame& f, const Pass& pass, EmitStack& stack) {
  TraceScope t("cee160");
  IgesConvertState& s = igesConvertState();
  const std::size_t position = f.position;
  ConversionRecord& rec = records[position];
  if (!inTable(rec.index)) return false;
  const std::int32_t index = rec.index;
  ElementRecord& e = element(index);
  if (e.state == ElementState::kDone || e.state == ElementState::kTakenOver) {
    records.keepObjects(position, e.scriptObjects);
    return false;
  }
  if (e.state != ElementState::kWaiting) return false;  // 'e', 'i', 'o'
  const std::size_t slot = static_cast<std::size_t>(index);
  if (s.onPath[slot] & kOnEmitPath) return false;
  if (rec.flag == 1) {
    // The first record was passed over (its father was not written): the
    // element is written here.
    if (rec.original >= position) return false;
    f.step = EmitFrame::Step::kAlias;
    stack.push(rec.original, f.fatherMatrix);
    return true;
  }
  if (isDrawable(e.type)) {
    const StatusFlags st = decodeStatus(e.de);
    if (!passesEmitGates(st.entityUse, st.blank)) {
      setState(index, ElementState::kIgnored);
      return false;
    }
  }
  if (refusedForLevel(e.type, e.form)) {
    mfaSetPosition(index, e.de.paramPointer);
    refuseForLevel(t.code());
    mfaClearPosition();
    setState(index, ElementState::kError);
    return false;
  }
  f.m = matricesOf(rec, pass.viewMatrix, f.fatherMatrix);
  s.onPath[slot] |= kOnEmitPath;
  f.open = true;
  f.se = scriptElementOf(index);
  f.kind = complexKind(e.type);
  if (f.kind == Complex::kNone) {
    std::vector<std::int32_t> created;
    const int r = emitSimple(rec, f.m, f.se, created);
    finishEmitted(records, position, r, created);
    return false;
  }
  if (f.kind == Complex::kComposite) ScriptContourStart();
  f.step = EmitFrame::Step::kMembers;
  f.next = position + 1;
  return true;
}

// Writes the record at `position` and, before a complex element, the
// records of its members: a walk with a stack of its own, so any depth the
// collect phase took is written.  An element is on the walk's path while
// its members are written; met again there it is passed over.
void emitRecord(ConversionRecords& records, std::size_t position, const Pass& pass,
                const Transform* fatherMatrix) {
  TraceScope t("cee160");
  EmitStack stack;
  stack.push(position, fatherMatrix);
  while (!stack.empty()) {
    EmitFrame& f = stack.back();
    try {
      switch (f.step) {
        case EmitFrame::Step::kStart:
          if (!startRecord(records, f, pass, stack)) stack.pop_back();
          continue;
        case EmitFrame::Step::kAlias: {
          records.keepObjects(f.position, element(records[f.position].index).scriptObjects);
          stack.pop_back();
          continue;
        }
        case EmitFrame::Step::kMembers:
          break;
      }
      if (f.hasMember) gatherMember(f, records, f.member);
      f.hasMember = false;
      if (f.next < records[f.position].end) {
        const std::size_t k = f.next;
        f.next = std::max<std::size_t>(records[k].end, k + 1);
        f.member = k;
        f.hasMember = true;
        stack.push(k, f.m.hasOwn ? &f.m.own : nullptr);
        continue;
      }
      std::vector<std::int32_t> created;
      const int r = emitComplex(f, records[f.position].index, created);
      finishEmitted(records, f.position, r, created);
      stack.pop_back();
    } catch (const std::bad_alloc&) {
      mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
      EmitFrame& failed = stack.back();
      if (failed.open) {
        std::vector<std::int32_t> none;
        finishEmitted(records, failed.position, ConvertResult::kError, none);
      }
      stack.pop_back();
    }
  }
}

// How many records ahead of the one being written emitPass asks for the
// memory of the next.
constexpr std::size_t kEmitAhead = 6;

void prefetchRecord(const ConversionRecord& rec) {
  if (!isElementIndex(rec.index)) return;
  const ElementRecord& e = element(rec.index);
  __builtin_prefetch(&e.de);
  __builtin_prefetch(&e.state);
  __builtin_prefetch(&e.params);
}

// Elements collected but left in 'w' (their father was not written, or a
// gate refused it before its members were reached) are not converted.
void settleUnwritten(const ConversionRecords& records) {
  for (const ConversionRecord& rec : records)
    if (inTable(rec.index) && element(rec.index).state == ElementState::kWaiting)
      setState(rec.index, ElementState::kIgnored);
}

// One pass over the whole table.
int convertWholeModel(const Transform* viewMatrix) {
  TraceScope t("cee100");
  ConversionRecords records;
  try {
    // Mostly one record per element: the room is taken once (it is touched
    // only as the records fill it) instead of being copied as it grows.
    records.reserve(std::max(kFirstRecordCapacity, static_cast<std::size_t>(elementTable().lastIndex) + 1));
    preparePass();
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  resetCursors();
  if (collectPass(0, viewMatrix, nullptr, nullptr, 0, records) != 0) return -1;
  if (emitPass(0, viewMatrix, nullptr, records) != 0) return -1;
  settleUnwritten(records);
  return 0;
}

// Drawings and views met by the parameter pass.
struct DrawingCounts {
  int drawings = 0;       // 404 with its drawing record
  int views = 0;          // 410
  int firstDrawingViews = 0;
};

DrawingCounts countDrawings() {
  DrawingCounts c;
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i) {
    const ElementRecord& e = element(i);
    if (e.type == IgesType::kView) ++c.views;
    if (e.type != IgesType::kDrawing) continue;
    const DrawingRecord* d = dynamic_cast<const DrawingRecord*>(e.params.get());
    if (d == nullptr) continue;
    if (c.drawings == 0)
      for (const DrawingRecord::ViewSlot& v : d->views)
        if (v.view != 0) ++c.firstDrawingViews;
    ++c.drawings;
  }
  return c;
}

// Drawings and views that are not honoured are ignored as a whole.
void ignoreDrawingsAndViews() {
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i) {
    const ElementRecord& e = element(i);
    if ((e.type == IgesType::kDrawing || e.type == IgesType::kView) &&
        e.state == ElementState::kRegistered)
      setState(i, ElementState::kIgnored);
  }
}

// Drawing mode: one pass per view of each drawing and one for the
// drawing's annotation; views outside every drawing are left.
int convertDrawings() {
  TraceScope t("cee100");
  const int r = convertDrawingMode();
  ignoreDrawingsAndViews();
  return r;
}

}  // namespace

bool isPhysicallyDependent(const ElementRecord& e) {
  const StatusFlags st = decodeStatus(e.de);
  return e.dependency == 'p' || st.subordinate == 1 || st.subordinate == 3;
}

ScriptElementData scriptDataOf(std::int32_t index) {
  const ElementRecord& e = element(index);
  ScriptElementData d;
  d.type = e.type;
  d.form = e.form;
  d.sequence = e.de.sequence != 0 ? e.de.sequence : deNumberOf(index);
  d.parameterPointer = e.de.paramPointer;
  return d;
}

void markWrittenAsGroup(std::int32_t index) {
  if (!isElementIndex(index)) return;
  ElementRecord& e = element(index);
  e.outputKind = IgesType::kAssociativityInstance;
  e.outputSubKind = 7;
}

ScriptElement scriptElementOf(std::int32_t index) {
  GraphicAttributes a;
  copyAttributes(a, element(index).de);
  ScriptElement se;
  se.index = index;
  se.level = a.level;
  se.font = a.lineFont;
  se.widthNumber = a.lineWeight;
  // A negative colour stays the pointer to its colour definition; the
  // definition is resolved here so that its palette colour is known.
  if (a.colour < 0) resolvedColour(a.colour);
  se.attributes.colour = a.colour;
  se.attributes.blank = a.blank;
  se.data = scriptDataOf(index);
  return se;
}

void reportUnsupported(const char* code, std::int32_t index) {
  bool& shown = igesConvertState().unsupportedShown;
  mfaSetPosition(index, element(index).de.paramPointer);
  mfaError(code, kMsgUnsupported, shown ? Channel::kProtocol : Channel::kBoth);
  mfaClearPosition();
  shown = true;
}

bool fetchOwnData(std::int32_t index, const char* code, std::string& text) {
  const ElementRecord& e = element(index);
  mfaSetPosition(index, e.de.paramPointer);
  const int r = fetchParameterData(e.type, e.de.paramPointer, e.de.paramLineCount, text);
  if (r != 0) mfaError(code, kMsgNoParameterData, Channel::kProtocol);
  mfaClearPosition();
  return r == 0;
}

std::int32_t pointerIndex(std::int32_t self, int pointer) {
  if (pointer <= 0) return 0;
  const std::int32_t i = indexOfPointer(pointer);
  return (i == self || !isElementIndex(i)) ? 0 : i;
}

// ---------------------------------------------------------------------------
// Public operations

IgesConvertState& igesConvertState() {
  static IgesConvertState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES conversion",
                                            [] { igesConvertState() = IgesConvertState{}; });

int nestedPass(std::int32_t father, const Transform* view, const Transform* fatherMatrix,
               std::vector<std::int32_t>& objects,
               std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>>* perSon) {
  IgesConvertState& s = igesConvertState();
  const std::size_t n = static_cast<std::size_t>(elementTable().lastIndex) + 1;
  if (s.firstRecord.size() != n || s.onPath.size() != n) {
    s.firstRecord.assign(n, 0);
    s.onPath.assign(n, 0);
  }
  std::vector<std::vector<RecordPosition>>& pool = s.scratchTables;
  std::vector<RecordPosition> mine;
  if (!pool.empty() && pool.back().size() == n) {
    mine = std::move(pool.back());
    pool.pop_back();
  } else {
    mine.assign(n, 0);
  }
  std::vector<RecordPosition> saved = std::move(s.firstRecord);
  s.firstRecord = std::move(mine);
  // The records of an earlier nested pass lend their room.
  ConversionRecords records;
  if (!s.spareRecords.empty()) {
    records = std::move(s.spareRecords.back());
    s.spareRecords.pop_back();
    records.clear();
  }
  int r = 0;
  struct Nesting {
    int& depth;
    explicit Nesting(int& d) : depth(d) { ++depth; }
    ~Nesting() { --depth; }
  } nesting(s.nestedPasses);
  try {
    r = collectPass(father, view, fatherMatrix, nullptr, 0, records);
    if (r == 0 && !records.empty()) r = emitPass(father, view, fatherMatrix, records);
    // Each object once, in the order made.
    ObjectMarks& marks = s.objectMarks;
    marks.begin();
    for (std::size_t k = 0; k < records.size(); k = records[k].end > k ? records[k].end : k + 1) {
      for (std::int32_t obj : records.objects(k))
        if (marks.insert(obj)) objects.push_back(obj);
      if (perSon != nullptr) perSon->emplace_back(records[k].index, records.objects(k));
    }
  } catch (const std::bad_alloc&) {
    mfaError("cee150", kMsgNoMemory, Channel::kBoth);
    r = -1;
  }
  for (const ConversionRecord& rec : records) {
    if (!isElementIndex(rec.index)) continue;
    if (static_cast<std::size_t>(rec.index) < s.firstRecord.size())
      s.firstRecord[static_cast<std::size_t>(rec.index)] = 0;
    if (element(rec.index).state == ElementState::kWaiting) setState(rec.index, ElementState::kIgnored);
  }
  pool.push_back(std::move(s.firstRecord));
  s.firstRecord = std::move(saved);
  records.clear();
  try {
    s.spareRecords.push_back(std::move(records));
  } catch (const std::bad_alloc&) {
    // Kept only for speed.
  }
  return r;
}

void copyAttributes(GraphicAttributes& a, const DirectoryFields& de) {
  TraceScope t("cee800");
  a.lineFont = de.lineFont;
  a.level = de.level;
  a.lineWeight = de.lineWeight;
  a.colour = de.colour;
  const StatusFlags st = decodeStatus(de);
  a.blank = static_cast<std::int8_t>(st.blank);
  a.subordinate = static_cast<std::int8_t>(st.subordinate);
  a.entityUse = static_cast<std::int8_t>(st.entityUse);
  a.hierarchy = static_cast<std::int8_t>(st.hierarchy);
}

GraphicAttributes attributesOf(std::int32_t index) {
  GraphicAttributes a;
  copyAttributes(a, element(index).de);
  return a;
}

int readMatrix(std::int32_t index, Transform& out) {
  TraceScope t("cee820");
  IgesConvertState& s = igesConvertState();
  out = Transform{};
  if (const MatrixEntry* known = s.matrices.find(index)) {
    if (!known->readable) return -1;
    out = known->value;
    return 0;
  }
  MatrixEntry entry;
  const ElementRecord& e = element(index);
  if (e.type == IgesType::kTransformationMatrix) {
    // The storage of the text and the values is the engine's, used again by
    // every matrix.
    std::string text = std::move(s.spareText);
    if (fetchOwnData(index, t.code(), text) && readReals(text, 12, s.matrixValues)) {
      entry.value = transformFromParameters(s.matrixValues.data());
      entry.readable = true;
    }
    s.spareText = std::move(text);
  }
  s.matrices.emplace(index, entry);
  if (!entry.readable) {
    mfaSetPosition(index, e.de.paramPointer);
    mfaWarning(t.code(), kMsgCannotConvert, Channel::kProtocol);
    mfaClearPosition();
    setState(index, ElementState::kError);
    return -1;
  }
  if (e.state == ElementState::kWaiting) setState(index, ElementState::kDone);
  out = entry.value;
  return 0;
}

int resolveMatrix(std::int32_t index, const Transform*& out) {
  TraceScope t("cee810");
  out = nullptr;
  ElementRecord& e = element(index);
  if (e.matrix != nullptr) {
    out = e.matrix.get();
    return 0;
  }
  if (e.de.matrixPointer == 0) return 0;
  // The matrices from the element outwards, up to the first one whose
  // composed chain is known: each matrix's chain is composed once per run,
  // however many elements and matrices point at it.
  IgesConvertState& s = igesConvertState();
  std::vector<std::int32_t>& path = s.matrixPath;
  path.clear();
  std::vector<std::uint32_t>& marks = s.matrixWalkMarks;
  if (++s.matrixWalk == 0) {
    std::fill(marks.begin(), marks.end(), 0u);
    s.matrixWalk = 1;
  }
  const std::size_t n = static_cast<std::size_t>(elementTable().lastIndex) + 1;
  if (marks.size() < n) marks.resize(n, 0u);
  std::int32_t from = index;
  // A copy: the table's entries move as it grows.
  std::optional<MatrixEntry> known;
  for (;;) {
    std::int32_t pointer = element(from).de.matrixPointer;
    if (pointer == 0) break;
    if (pointer < 0) {
      mfaWarning(t.code(), 441, Channel::kProtocol);
      pointer = pointer == INT32_MIN ? INT32_MAX : -pointer;
    }
    const std::int32_t m = indexOfPointer(pointer);
    if (const MatrixEntry* hit = s.chains.find(m)) {
      known = *hit;
      break;
    }
    const bool metBefore = isElementIndex(m) && static_cast<std::size_t>(m) < marks.size() &&
                           marks[static_cast<std::size_t>(m)] == s.matrixWalk;
    if (!isElementIndex(m) || element(m).type != IgesType::kTransformationMatrix || metBefore ||
        static_cast<std::size_t>(m) >= marks.size()) {
      // Not a matrix, or a matrix already in the chain (a loop).
      const ElementRecord& bad = element(from);
      mfaReport(t.code(), 442, Channel::kProtocol, Severity::kError, {bad.type, bad.de.sequence},
                {}, "", nullptr);
      for (std::int32_t p : path) s.chains.emplace(p, MatrixEntry{});
      return -1;
    }
    marks[static_cast<std::size_t>(m)] = s.matrixWalk;
    path.push_back(m);
    from = m;
  }
  if (known && !known->readable) {
    for (std::int32_t p : path) s.chains.emplace(p, MatrixEntry{});
    return -1;
  }
  // Outermost first: the chain of the outermost matrix is its own matrix.
  MatrixEntry chain;
  if (known) chain = *known;
  for (std::size_t k = path.size(); k-- > 0;) {
    Transform one;
    if (readMatrix(path[k], one) != 0) {
      for (std::size_t j = 0; j <= k; ++j) s.chains.emplace(path[j], MatrixEntry{});
      return -1;
    }
    chain.value = chain.readable ? composeTransforms(chain.value, one) : one;
    chain.readable = true;
    s.chains.emplace(path[k], chain);
  }
  if (!chain.readable) return 0;
  e.matrix = std::make_unique<Transform>(chain.value);
  out = e.matrix.get();
  return 0;
}

int readCircularArc(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix) {
  return readGeometry(index, "cee280", 7, out, matrix);
}
int readConicArc(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix) {
  TraceScope t("cee320");
  return typedRecord<GeometryRecord>(
      index, t.code(),
      [&](GeometryRecord& rec, const std::string& text) {
        copyAttributes(rec.attributes, element(index).de);
        // The coefficients of a large conic are small numbers (1/a^2): they
        // are read as they stand, not cut to zero below the epsilon.
        FieldReader f{text.c_str()};
        rec.values.reserve(11);
        for (int k = 0; k < 11 && !f.failed; ++k) rec.values.push_back(f.real(k < 6));
        return !f.failed;
      },
      out, matrix);
}
int readCopiousData(std::int32_t index, const GeometryRecord*& out, const Transform*& matrix) {
  return readGeometry(index, "cee700", -1, out, matrix);
}

// Composite curves, planes and flashes are read by the parameter pass, which
// links their members; the record it made is used.  An element the pass
// could not read is read here by the same rule.
template <typename R>
int passRecord(std::int32_t index, const char* code, const R*& out, const Transform*& matrix) {
  TraceScope t(code);
  return typedRecord<R>(
      index, code,
      [&](R& rec, const std::string& text) {
        readEntityParameters(index, element(index).type, text);
        R* made = dynamic_cast<R*>(element(index).params.get());
        if (made == nullptr) return false;
        rec = std::move(*made);
        return true;
      },
      out, matrix);
}

int readComposite(std::int32_t index, const CompositeRecord*& out, const Transform*& matrix) {
  return passRecord(index, "cee720", out, matrix);
}
int readFlash(std::int32_t index, const SurfaceRecord*& out, const Transform*& matrix) {
  return passRecord(index, "cee220", out, matrix);
}
int readPlane(std::int32_t index, const PlaneRecord*& out, const Transform*& matrix) {
  return passRecord(index, "cee110", out, matrix);
}

int colourDefinition(std::int32_t index) {
  TraceScope t("cee314");
  if (!isElementIndex(index) || element(index).type != IgesType::kColourDefinition) return 1;
  ElementRecord& e = element(index);
  ColourRecord* rec = dynamic_cast<ColourRecord*>(e.params.get());
  if (rec == nullptr) {
    // Not read by the parameter pass: read it now.
    std::string text;
    if (e.params != nullptr || !fetchOwnData(index, t.code(), text)) {
      setState(index, ElementState::kError);
      return 1;
    }
    auto made = std::make_unique<ColourRecord>();
    FieldReader f{text.c_str()};
    made->red = f.real();
    made->green = f.real();
    made->blue = f.real();
    rec = made.get();
    e.params = std::move(made);
  }
  if (e.state == ElementState::kDone) return rec->colourIndex;
  if (e.state == ElementState::kError) return 1;
  int colour = 1;
  const int r = selectPaletteColour(rec->red, rec->green, rec->blue, colour);
  rec->colourIndex = colour;
  setState(index, r == 0 ? ElementState::kDone : ElementState::kError);
  return colour;
}

long resolvedColour(std::int32_t colour) {
  TraceScope t("cee314");
  if (colour >= 0) return colour;
  const std::int32_t index = colour == INT32_MIN ? 0 : indexOfPointer(-colour);
  if (!isElementIndex(index) || element(index).type != IgesType::kColourDefinition) return 1;
  const int chosen = colourDefinition(index);
  const ColourRecord* rec = dynamic_cast<const ColourRecord*>(element(index).params.get());
  if (rec != nullptr && runSettings().traceLevel > 4)
    std::printf("-> cee314 : Ausgewaehlte Farbe %d aus RGB-Werten : %f %f %f\n", chosen, rec->red,
                rec->green, rec->blue);
  return chosen;
}

int inCurrentView(std::int32_t index, std::int32_t viewNumber) {
  return structureInCurrentView(index, viewNumber);
}

int collectPass(std::int32_t father, const Transform* viewMatrix, const Transform* fatherMatrix,
                const std::int32_t* allowed, int allowedCount, ConversionRecords& records) {
  TraceScope t("cee150");
  (void)fatherMatrix;  // applied when the records are written
  if (igesConvertState().firstRecord.size() != static_cast<std::size_t>(elementTable().lastIndex) + 1)
    preparePass();
  Pass pass;
  pass.viewMatrix = viewMatrix;
  if (father != 0) resetSonCursors(father);
  try {
    collectInto(father, pass, allowed, allowedCount, records);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

int emitPass(std::int32_t father, const Transform* viewMatrix, const Transform* fatherMatrix,
             ConversionRecords& records) {
  TraceScope t("cee160");
  (void)father;
  if (igesConvertState().onPath.size() != static_cast<std::size_t>(elementTable().lastIndex) + 1)
    preparePass();
  Pass pass;
  pass.viewMatrix = viewMatrix;
  for (std::size_t k = 0; k < records.size(); k = records[k].end > k ? records[k].end : k + 1) {
    // The element and typed record of a record a few places on are asked
    // for from memory while this one is written: in a large drawing the
    // collect phase has long pushed them out of the cache.
    if (k + kEmitAhead < records.size()) prefetchRecord(records[k + kEmitAhead]);
    emitRecord(records, k, pass, fatherMatrix);
  }
  return 0;
}

void setOnCollectPath(std::int32_t index, bool on) {
  std::vector<unsigned char>& path = igesConvertState().onPath;
  if (index < 0 || static_cast<std::size_t>(index) >= path.size()) return;
  if (on) {
    path[static_cast<std::size_t>(index)] |= kOnCollectPath;
  } else {
    path[static_cast<std::size_t>(index)] &= static_cast<unsigned char>(~kOnCollectPath);
  }
}

int convertModel() {
  TraceScope t("cee100");
  // The conversion's records are as resetRunState() left them at the start
  // of the run.
  const DrawingCounts c = countDrawings();
  const int viewHandling = runSettings().viewMode;
  // DXF input has its one drawing whether or not it has viewports: without
  // a view the model is converted as a whole, as it would be lost otherwise.
  const bool needsViews = runState().useToolkit != 0 || runHas(RunModeBit::kDxf);
  const bool drawingMode = viewHandling > 0 && c.drawings > 0 && (!needsViews || c.firstDrawingViews > 0);
  if (drawingMode) {
    const int r = convertDrawings();
    structureFinish();
    return r;
  }
  const bool trace = runSettings().traceLevel > 0;
  if ((elementTable().drawingsPresent || c.drawings > 0 || c.views > 0) && viewHandling < 1) {
    mfaNote(t.code(), kMsgViewHandlingOff, Channel::kProtocol);
    if (trace)
      std::printf("-> cee100 : Viewbehandlung ausgeschaltet\n,            es werden alle "
                  "Drawings/Views ignoriert !");
  }
  if (c.views > 0 && c.drawings == 0) {
    mfaNote(t.code(), kMsgViewsWithoutDrawing, Channel::kProtocol);
    if (trace)
      std::printf("-> cee100 : Kein Drawing in der IGES-Datei\n,            es werden alle Views "
                  "ignoriert !");
  }
  const int r = convertWholeModel(nullptr);
  ignoreDrawingsAndViews();
  structureFinish();
  return r;
}

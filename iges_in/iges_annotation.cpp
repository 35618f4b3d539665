#include "iges_in/iges_annotation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "elements/element_table.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_fields.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_geometry_math.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "script/dimension.h"
#include "script/geometry.h"
#include "script/structure.h"
#include "script/text.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgNoMemory = 370;
constexpr int kMsgNotConverted = 790;

// Sending systems with rules of their own.
constexpr int kSenderSymbolPolyline = 5;  // symbol reference point on its polyline
constexpr int kSenderTinyLeaders = 31;    // leaders with tiny arrows are no label leaders

// Leaders of the tiny-leader sender below these arrow sizes are left out.
constexpr double kTinyArrowHeight = 0.01;
constexpr double kTinyArrowWidth = 0.02;

// Strings of a note and points of a leader beyond any real drawing.
constexpr int kMaxStrings = 10000;
constexpr int kMaxLeaderPoints = 100000;


int traceLevel() { return runSettings().traceLevel; }

bool isDimensionType(std::int32_t type) {
  switch (type) {
    case IgesType::kAngularDimension:
    case IgesType::kDiameterDimension:
    case IgesType::kLinearDimension:
    case IgesType::kOrdinateDimension:
    case IgesType::kPointDimension:
    case IgesType::kRadiusDimension: return true;
    default:
      return false;
  }
}



// ---------------------------------------------------------------------------
// Parameter data

using Fields = IgesFieldCursor;




// The element's typed record of class R, made by `fill` from the parameter
// data when the element has none yet; -1 when `type` is given and the index
// names no element of that type.
template <typename R, typename Fill>
int typedRecord(std::int32_t index, const char* code, Fill fill, const R*& out, std::int32_t type = 0) {
  out = nullptr;
  if (type != 0 && (!isElementIndex(index) || element(index).type != type)) return -1;
  ElementRecord& e = element(index);
  if (e.params == nullptr) {
    auto rec = std::make_unique<R>();
    std::string text;
    if (!fetchOwnData(index, code, text)) return ConvertResult::kError;
    Fields f{text.c_str()};
    fill(*rec, f);
    if (f.failed) {
      mfaSetPosition(index, e.de.paramPointer);
      mfaError(code, kMsgNotConverted, Channel::kProtocol);
      mfaClearPosition();
      return ConvertResult::kError;
    }
    e.params = std::move(rec);
  }
  out = recordAs<R>(e.params.get());
  return out != nullptr ? 0 : ConvertResult::kError;
}

// ---------------------------------------------------------------------------
// Matrices and script descriptions

// The view matrix of the pass that runs, null outside view passes.
const Transform* viewMatrixNow() { return igesStructureState().currentViewMatrix; }

// The element's own transformation (with that of the annotation element
// whose part it is, for a dependent part), without the view.
bool ownMatrix(std::int32_t index, Transform& out, bool& failed) {
  failed = false;
  const Transform* own = nullptr;
  if (resolveMatrix(index, own) != 0) {
    failed = true;
    return false;
  }
  const std::vector<const Transform*>& fathers = igesAnnotationState().fatherMatrices;
  const Transform* father = fathers.empty() ? nullptr : fathers.back();
  return composeIfAny(isPhysicallyDependent(element(index)) ? father : nullptr, own, out);
}

// Own matrix and view composed; false when there is neither.
bool finalMatrix(std::int32_t index, Transform& out, bool& failed) {
  Transform own;
  const bool hasOwn = ownMatrix(index, own, failed);
  return composeIfAny(viewMatrixNow(), hasOwn ? &own : nullptr, out);
}



ScriptPointXYZ toScript(const Point3& p) { return ScriptPointXYZ{p.x, p.y, p.z}; }

// The scale of the view being converted, 1 outside view passes.
bool currentViewScale(double& scale) {
  scale = 1.0;
  const std::int32_t view = igesConvertState().currentView;
  if (view == 0 || !isElementIndex(view)) return false;
  const ViewRecord* v = dynamic_cast<const ViewRecord*>(element(view).params.get());
  if (v != nullptr) scale = v->scale;
  return true;
}

// ---------------------------------------------------------------------------
// Passes over the parts of an annotation element

// Converts the sons of `father` in a pass of their own, under the father's
// matrix (see nestedPass).
int partsPass(std::int32_t father, const Transform* fatherMatrix, std::vector<std::int32_t>& objects,
              std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>>* perSon = nullptr) {
  IgesAnnotationState& a = igesAnnotationState();
  a.fatherMatrices.push_back(fatherMatrix);
  const int r = nestedPass(father, viewMatrixNow(), fatherMatrix, objects, perSon);
  a.fatherMatrices.pop_back();
  return r;
}

// Parts that were not written with their annotation element are not
// written by themselves later.
void settleParts(std::int32_t index, char state) {
  for (const LinkNode* s = element(index).sons; s != nullptr; s = s->next)
    if (isElementIndex(s->index) && element(s->index).state == ElementState::kWaiting)
      setState(s->index, state);
}

void finish(std::int32_t index, std::vector<std::int32_t>& created, char state) {
  element(index).scriptObjects = std::move(created);
  setState(index, state);
}

// ---------------------------------------------------------------------------
// General notes (212)

bool carriesOwnAttributes(const NoteRecord& note) {
  bool co = false, nr = false, flg = false, text = false;
  for (const NoteStringData& s : note.strings) {
    co = co || s.text.find("CO=") != std::string::npos;
    nr = nr || s.text.find("NR=") != std::string::npos;
    flg = flg || s.text.find("FLG=") != std::string::npos;
    text = text || s.text.find("TEXT=") != std::string::npos;
  }
  return co && nr && flg && text;
}

// The content check of one string: a string that shows nothing (only
// blanks and control characters) is not written.  An empty text field is
// no text at all, which ends the note.
bool showsNothing(const std::string& text) {
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u > 0x20 && u != 0x7f) return false;
  }
  return true;
}

ScriptNoteRecord scriptNoteOf(std::int32_t index, const NoteRecord* rec) {
  ScriptNoteRecord note;
  const ElementRecord& e = element(index);
  note.form = e.form;
  note.level = rec->attributes.level;
  if (rec->attributes.colour < 0) resolvedColour(rec->attributes.colour);
  note.attributes.colour = rec->attributes.colour;
  note.attributes.blank = rec->attributes.blank;
  note.data = scriptDataOf(index);
  note.viewCurrent = currentViewScale(note.viewScale);
  for (const NoteStringData& s : rec->strings) {
    ScriptTextString ts;
    ts.characterCount = s.characterCount;
    ts.boxWidth = s.boxWidth;
    ts.boxHeight = s.boxHeight;
    ts.fontCode = s.fontCode > 0 ? s.fontCode : 1;
    ts.fontName = s.fontName;
    ts.angle = s.angle;
    ts.mirror = s.mirror;
    ts.vertical = s.vertical;
    ts.start = toScript(s.start);
    ts.text = s.text;
    ts.hasText = !s.text.empty();
    ts.rejected = ts.hasText && showsNothing(s.text);
    note.strings.push_back(std::move(ts));
  }
  return note;
}

int convertNote(std::int32_t index) {
  TraceScope t("cee440");
  const NoteRecord* rec = nullptr;
  if (readNote(index, rec) != 0) return ConvertResult::kError;
  if (carriesOwnAttributes(*rec)) return ConvertResult::kIgnored;
  const ScriptNoteRecord note = scriptNoteOf(index, rec);
  bool failed = false;
  Transform m;
  const bool has = finalMatrix(index, m, failed);
  if (failed) return ConvertResult::kError;
  const ScriptMatrix sm = has ? toScriptMatrix(m) : ScriptMatrix{};
  std::vector<std::int32_t> created;
  const int r = ScriptText(index, note, has ? &sm : nullptr, created);
  // A string without text ends the note; what was written before it
  // belongs to the note all the same.
  if (r != 0 && (r != ConvertResult::kIgnored || created.empty()))
    return r == ConvertResult::kIgnored ? r : ConvertResult::kError;
  // Every string rejected: nothing of the note is in the script.
  if (created.empty()) return ConvertResult::kIgnored;
  finish(index, created, ElementState::kDone);
  return 0;
}

// ---------------------------------------------------------------------------
// Leaders (214)

int convertLeader(std::int32_t index) {
  TraceScope t("cee582");
  const LeaderRecord* rec = nullptr;
  if (readLeader(index, rec) != 0) return ConvertResult::kError;
  bool failed = false;
  Transform m;
  const bool has = finalMatrix(index, m, failed);
  if (failed) return ConvertResult::kError;
  const ScriptMatrix sm = has ? toScriptMatrix(m) : ScriptMatrix{};
  const ScriptMatrix* smp = has ? &sm : nullptr;
  const ScriptElement se = scriptElementOf(index);
  std::vector<std::int32_t> created;
  ScriptPointXYZ from = toScript(rec->head);
  from.z = rec->z;
  for (const Point3& p : rec->points) {
    ScriptPointXYZ to = toScript(p);
    to.z = rec->z;
    if (std::fabs(to.x - from.x) + std::fabs(to.y - from.y) > 0.0) ScriptLine(se, smp, from, to, created);
    from = to;
  }
  // Wedge arrow heads (forms 1 to 3): two sides from the tip back along
  // the first segment.
  const int form = element(index).form;
  if (form >= 1 && form <= 3 && !rec->points.empty() && rec->arrowWidth > 0.0) {
    const double dx = rec->points.front().x - rec->head.x;
    const double dy = rec->points.front().y - rec->head.y;
    const double len = std::hypot(dx, dy);
    if (len > 0.0) {
      const double ux = dx / len, uy = dy / len;
      const double h = std::fabs(rec->arrowHeight) / 2.0;
      const ScriptPointXYZ tip{rec->head.x, rec->head.y, rec->z};
      const double bx = rec->head.x + ux * rec->arrowWidth, by = rec->head.y + uy * rec->arrowWidth;
      ScriptLine(se, smp, tip, ScriptPointXYZ{bx - uy * h, by + ux * h, rec->z}, created);
      ScriptLine(se, smp, tip, ScriptPointXYZ{bx + uy * h, by - ux * h, rec->z}, created);
    }
  }
  if (created.empty()) return ConvertResult::kError;
  finish(index, created, ElementState::kDone);
  return 0;
}

// ---------------------------------------------------------------------------
// General labels (210)

int convertLabel(std::int32_t index) {
  TraceScope t("cee465");
  const AnnotationRecord* rec = dynamic_cast<const AnnotationRecord*>(element(index).params.get());
  IgesAnnotationState& a = igesAnnotationState();
  const int depth = ++a.labelDepth;
  const bool trace = traceLevel() > 0;
  if (trace) std::printf("-> cee465 : Begin of General Label, Depth = %d\n", depth);
  std::vector<const LeaderRecord*> leaders;
  int sons = 0;
  for (const LinkNode* s = element(index).sons; s != nullptr; s = s->next) {
    ++sons;
    if (!isElementIndex(s->index) || element(s->index).type != IgesType::kLeader) continue;
    const LeaderRecord* l = nullptr;
    if (readLeader(s->index, l) != 0) continue;
    if (runState().senderCode == kSenderTinyLeaders && std::fabs(l->arrowHeight) < kTinyArrowHeight &&
        std::fabs(l->arrowWidth) < kTinyArrowWidth)
      continue;
    leaders.push_back(l);
  }
  if (trace) {
    std::printf("-> cee465 : End   of General Label, Depth = %d\n", depth);
    std::printf("            Number of sons : %d\n", sons);
  }
  --a.labelDepth;
  if (rec == nullptr || sons == 0 || !runHas(RunModeBit::kPlus)) {
    reportUnsupported(t.code(), index);
    return ConvertResult::kIgnored;
  }
  ScriptLabelRecord label;
  const NoteRecord* note = nullptr;
  if (rec->note != 0 && readNote(rec->note, note) == 0 && !note->strings.empty()) {
    const NoteStringData& s = note->strings.front();
    label.note.text = ScriptQuoteText(s.text);
    label.note.height = s.boxHeight;
    label.note.angle = s.angle;
    label.note.position = toScript(s.start);
  }
  if (!leaders.empty()) {
    const LeaderRecord& l = *leaders.front();
    label.leader[0] = ScriptPointXYZ{l.head.x, l.head.y, l.z};
    for (int k = 1; k < 3; ++k) {
      const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(k - 1), l.points.size() - 1);
      label.leader[k] = l.points.empty() ? label.leader[0] : ScriptPointXYZ{l.points[at].x, l.points[at].y, l.z};
    }
  } else {
    for (ScriptPointXYZ& p : label.leader) p = label.note.position;
  }
  label.level = rec->attributes.level;
  if (rec->attributes.colour < 0) resolvedColour(rec->attributes.colour);
  label.attributes.colour = rec->attributes.colour;
  label.attributes.blank = rec->attributes.blank;
  label.data = scriptDataOf(index);
  label.viewCurrent = currentViewScale(label.viewScale);
  bool failed = false;
  Transform m;
  const bool has = finalMatrix(index, m, failed);
  if (failed) return ConvertResult::kError;
  const ScriptMatrix sm = has ? toScriptMatrix(m) : ScriptMatrix{};
  std::vector<std::int32_t> created;
  if (!label.members.empty()) markWrittenAsGroup(index);
  const int r = ScriptLabel(index, label, has ? &sm : nullptr, created);
  if (r != 0 && r != ConvertResult::kTakenOver) return ConvertResult::kError;
  // The note and the leaders are written as part of the label.
  settleParts(index, ElementState::kTakenOver);
  finish(index, created, r == 0 ? ElementState::kDone : ElementState::kTakenOver);
  return 0;
}

// ---------------------------------------------------------------------------
// General symbols (228)

// The reference point of a form 2 symbol of the polyline sender: the
// vertex of its first copious data nearest to the note's start.
bool polylineReference(const AnnotationRecord& rec, const Point3& start, Point3& out) {
  if (rec.geometry.empty() || rec.geometry.front() == 0) return false;
  const std::int32_t poly = rec.geometry.front();
  if (element(poly).type != IgesType::kCopiousData) return false;
  const GeometryRecord* g = nullptr;
  const Transform* matrix = nullptr;
  if (readCopiousData(poly, g, matrix) != 0 || g->values.size() < 2) return false;
  const std::vector<double>& v = g->values;
  const int ip = static_cast<int>(v[0]);
  const std::size_t n = v[1] > 0.0 ? static_cast<std::size_t>(v[1]) : 0;
  std::size_t first = 2, stride = 3;
  double z = 0.0;
  if (ip == 1) {
    if (v.size() < 3) return false;
    z = v[2];
    first = 3;
    stride = 2;
  } else if (ip == 3) {
    stride = 6;
  }
  double best = 99999.99;
  bool found = false;
  for (std::size_t k = 0; k < n && first + k * stride + 1 < v.size(); ++k) {
    const std::size_t at = first + k * stride;
    const Point3 p{v[at], v[at + 1], ip == 1 ? z : (at + 2 < v.size() ? v[at + 2] : 0.0)};
    const double d = std::hypot(p.x - start.x, p.y - start.y);
    if (d < best) {
      best = d;
      out = p;
      found = true;
    }
  }
  return found;
}

int convertSymbol(std::int32_t index) {
  TraceScope t("cee650");
  const bool trace = traceLevel() > 0;
  if (trace) std::printf("-> cee650 : Begin of General Symbol\n");
  const AnnotationRecord* rec = dynamic_cast<const AnnotationRecord*>(element(index).params.get());
  ScriptSymbolRecord symbol;
  const NoteRecord* note = nullptr;
  Point3 reference;
  if (rec != nullptr && rec->note != 0 && readNote(rec->note, note) == 0 && !note->strings.empty()) {
    const NoteStringData& first = note->strings.front();
    reference = first.start;
    if (!first.text.empty()) symbol.name = toleranceSymbolName(first.fontCode, first.text.front());
    for (const NoteStringData& s : note->strings)
      symbol.strings.push_back(ScriptNoteString{ScriptQuoteText(s.text), s.boxHeight, s.angle, toScript(s.start)});
    symbol.direction[0] = std::cos(first.angle);
    symbol.direction[1] = std::sin(first.angle);
  }
  if (rec != nullptr && runState().senderCode == kSenderSymbolPolyline && element(index).form == 2) {
    Point3 p;
    if (polylineReference(*rec, reference, p)) reference = p;
  }
  symbol.anchor[0] = toScript(reference);
  symbol.anchor[1] = symbol.anchor[0];
  if (rec != nullptr) {
    for (std::int32_t l : rec->leaders) {
      const LeaderRecord* lr = nullptr;
      if (l != 0 && element(l).type == IgesType::kLeader && readLeader(l, lr) == 0) {
        symbol.anchor[1] = ScriptPointXYZ{lr->head.x, lr->head.y, lr->z};
        break;
      }
    }
  }
  bool failed = false;
  Transform own;
  const bool hasOwn = ownMatrix(index, own, failed);
  const bool hasMembers = element(index).sons != nullptr;
  // A tolerance symbol is written as the symbol form of its name, which
  // draws its own frame; any other symbol as the group of its members.
  if (rec != nullptr && !failed && hasMembers && symbol.name.empty() && runHas(RunModeBit::kPlus))
    partsPass(index, hasOwn ? &own : nullptr, symbol.members);
  if (trace) std::printf("-> cee650 : End   of General Symbol\n");
  if (failed) return ConvertResult::kError;
  setStateDeepKeepSelf(index, ElementState::kIgnored);
  if (rec == nullptr || !hasMembers || !runHas(RunModeBit::kPlus) ||
      (symbol.name.empty() && symbol.members.empty())) {
    reportUnsupported(t.code(), index);
    return ConvertResult::kIgnored;
  }
  symbol.level = rec->attributes.level;
  if (rec->attributes.colour < 0) resolvedColour(rec->attributes.colour);
  symbol.attributes.colour = rec->attributes.colour;
  symbol.attributes.blank = rec->attributes.blank;
  symbol.data = scriptDataOf(index);
  Transform m;
  const bool has = finalMatrix(index, m, failed);
  const ScriptMatrix sm = has ? toScriptMatrix(m) : ScriptMatrix{};
  std::vector<std::int32_t> created;
  if (!symbol.members.empty()) markWrittenAsGroup(index);
  const int r = ScriptSymbolForm(index, symbol, has ? &sm : nullptr, created);
  if (r != 0 && r != ConvertResult::kTakenOver) return ConvertResult::kError;
  finish(index, created, r == 0 ? ElementState::kDone : ElementState::kTakenOver);
  return 0;
}

// ---------------------------------------------------------------------------
// Sectioned areas (230)

int convertSectionedArea(std::int32_t index) {
  TraceScope t("cee390");
  checkSonCount(t.code(), index);
  const AnnotationRecord* rec = dynamic_cast<const AnnotationRecord*>(element(index).params.get());
  if (rec == nullptr || element(index).sons == nullptr) return ConvertResult::kError;
  bool failed = false;
  Transform own;
  const bool hasOwn = ownMatrix(index, own, failed);
  if (failed) return ConvertResult::kError;
  std::vector<std::int32_t> objects;
  std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>> perSon;
  if (partsPass(index, hasOwn ? &own : nullptr, objects, &perSon) != 0) return ConvertResult::kError;
  std::vector<ScriptBoundary> boundaries;
  std::unordered_set<std::int32_t> seen;
  for (const auto& [son, made] : perSon) {
    if (!isElementIndex(son)) continue;
    const ElementRecord& b = element(son);
    for (std::int32_t n : made)
      if (seen.insert(n).second) boundaries.push_back(ScriptBoundary{n, makesContour(b.type, b.form), b.de.structure});
  }
  if (boundaries.empty()) return ConvertResult::kError;
  const int pattern = rec->values.empty() ? 0 : static_cast<int>(rec->values[0]);
  const double spacing = rec->values.size() > 4 ? rec->values[4] : 0.0;
  const double angle = rec->values.size() > 5 ? rec->values[5] : 0.0;
  std::vector<std::int32_t> created;
  const ScriptElement se = scriptElementOf(index);
  const int r =
      ScriptPlane(se, boundaries, pattern, spacing, angle, se.data.type != IgesType::kCopiousData, created);
  if (r != 0) return r == ConvertResult::kIgnored ? r : ConvertResult::kError;
  finish(index, created, ElementState::kDone);
  return 0;
}

// ---------------------------------------------------------------------------
// Dimensions

// The parameter layout of each dimension type: 'p' a part, 'r' a number.
const char* dimensionLayout(std::int32_t type) {
  switch (type) {
    case IgesType::kAngularDimension:
      return "ppprrrpp";  // note, witness 1, witness 2, vertex x y, radius, leader 1, leader 2
    case IgesType::kDiameterDimension: return "ppprr";  // note, leader 1, leader 2, centre x y
    case IgesType::kLinearDimension:
      return "ppppp";  // note, leader 1, leader 2, witness 1, witness 2
    case IgesType::kOrdinateDimension: return "pp";   // note, witness or leader
    case IgesType::kPointDimension: return "ppp";     // note, leader, geometry
    case IgesType::kRadiusDimension: return "pprrp";  // note, leader, centre x y, leader 2
    default: return "";
  }
}

const char* dimensionCode(std::int32_t type) {
  switch (type) {
    case IgesType::kAngularDimension: return "cee542";
    case IgesType::kDiameterDimension: return "cee532";
    case IgesType::kLinearDimension: return "cee512";
    case IgesType::kOrdinateDimension: return "cee572";
    case IgesType::kPointDimension: return "cee552";
    case IgesType::kRadiusDimension: return "cee522";
    default: return "cee500";
  }
}

// Reads the dimension's parts into its record (the converters cee512 ...).
int readDimension(std::int32_t index, const DimensionRecord*& out) {
  const std::int32_t type = element(index).type;
  return typedRecord<DimensionRecord>(
      index, dimensionCode(type),
      [&](DimensionRecord& rec, Fields& f) {
        rec.attributes = attributesOf(index);
        int part = 0;
        for (const char* l = dimensionLayout(type); *l != '\0'; ++l) {
          if (*l == 'r') {
            rec.values.push_back(f.real());
            continue;
          }
          // A trailing part left out is none.
          if (!f.more()) break;
          const std::int32_t p = pointerIndex(index, f.integer());
          if (part++ == 0) {
            rec.note = p;
          } else if (p != 0) {
            const std::int32_t t = element(p).type;
            (t == IgesType::kLeader ? rec.leaders : rec.witnesses).push_back(p);
          }
        }
        if ((type == IgesType::kAngularDimension || type == IgesType::kDiameterDimension ||
             type == IgesType::kRadiusDimension) &&
            rec.values.size() >= 2) {
          rec.hasCentre = true;
          rec.centre = Point3{rec.values[0], rec.values[1], 0.0};
        }
      },
      out);
}

std::int32_t firstFather(std::int32_t index) {
  const LinkNode* f = element(index).fathers;
  return f != nullptr ? f->index : 0;
}

void indexArcs() {
  IgesAnnotationState& a = igesAnnotationState();
  if (a.arcsIndexed) return;
  a.arcsIndexed = true;
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i)
    if (element(i).type == IgesType::kCircularArc) a.arcsByFather.emplace_back(firstFather(i), i);
  std::sort(a.arcsByFather.begin(), a.arcsByFather.end());
}

// The dimension's matrix with the view applied to a point.
Point3 placed(const Transform* m, const Point3& p) { return m != nullptr ? applyTransform(*m, p) : p; }

// Writes the parts of a dimension and gathers their objects.
int dimensionParts(std::int32_t index, std::vector<std::int32_t>& objects) {
  bool failed = false;
  Transform own;
  const bool hasOwn = ownMatrix(index, own, failed);
  if (failed) return ConvertResult::kError;
  return partsPass(index, hasOwn ? &own : nullptr, objects);
}

// The dimension as a group "MASS.<n>" of its written parts.
int writeDimensionGroup(std::int32_t index, const std::vector<std::int32_t>& members,
                        std::vector<std::int32_t>& created) {
  TraceScope t("cee510");
  char name[32];
  std::snprintf(name, sizeof name, "%s.%d", "MASS", ++igesAnnotationState().dimensionGroups);
  ScriptGroupRecord group;
  group.name = name;
  group.members = members;
  const ElementRecord& e = element(index);
  group.level = e.de.level;
  group.attributes.colour = e.de.colour;
  group.attributes.blank = decodeStatus(e.de).blank;
  group.data = scriptDataOf(index);
  const Transform* view = viewMatrixNow();
  const ScriptMatrix sm = view != nullptr ? toScriptMatrix(*view) : ScriptMatrix{};
  return ScriptGroup(index, group, view != nullptr ? &sm : nullptr, created) == 0 ? 0 : ConvertResult::kError;
}

// The KPL dimension of a dimension entity.
ScriptDimKind dimensionKindOf(std::int32_t type) {
  switch (type) {
    case IgesType::kAngularDimension: return ScriptDimKind::kAngular;
    case IgesType::kDiameterDimension: return ScriptDimKind::kDiameter;
    case IgesType::kLinearDimension: return ScriptDimKind::kLinear;
    case IgesType::kRadiusDimension: return ScriptDimKind::kRadius;
    default: return ScriptDimKind::kNone;
  }
}

// The one object written for an element of the given type, or 0.
std::int32_t writtenObjectOfType(std::int32_t index, std::int32_t type) {
  if (!isElementIndex(index)) return 0;
  const ElementRecord& e = element(index);
  if ((e.type != type && e.de.entityType != type) || e.scriptObjects.size() != 1) return 0;
  return e.scriptObjects.front();
}

// What an angular dimension refers to: an arc or a line already written.
ScriptDimReference dimensionReferenceOf(std::int32_t index) {
  ScriptDimReference r;
  r.arc = writtenObjectOfType(index, IgesType::kCircularArc);
  r.line = writtenObjectOfType(index, IgesType::kLine);
  if (!isElementIndex(index)) return r;
  const auto* g = dynamic_cast<const GeometryRecord*>(element(index).params.get());
  if (g != nullptr && g->values.size() >= 6) {
    r.hasEnds = true;
    r.start = ScriptPointXYZ{g->values[0], g->values[1], g->values[2]};
    r.end = ScriptPointXYZ{g->values[3], g->values[4], g->values[5]};
  }
  return r;
}

// The dimension through the dimension writer: 0 written, -99 outside the
// view's clip box, -1 when the writer cannot express it.  A dimension
// written consumes its parts: the note (with the toolkit, the dimension
// itself) and its leaders are done and not converted again.
int writeDimension(std::int32_t index, const DimensionRecord& rec, std::vector<std::int32_t>& created) {
  ScriptDimensionRecord d;
  const ElementRecord& e = element(index);
  d.kind = dimensionKindOf(e.type);
  d.level = rec.attributes.level;
  if (rec.attributes.colour < 0) resolvedColour(rec.attributes.colour);
  d.attributes.colour = rec.attributes.colour;
  d.attributes.blank = rec.attributes.blank;
  d.data = scriptDataOf(index);
  d.state = e.state;
  const NoteRecord* note = nullptr;
  if (rec.note == 0 || readNote(rec.note, note) != 0) return ConvertResult::kError;
  d.note = scriptNoteOf(rec.note, note);
  if (!note->strings.empty()) d.linePosition = toScript(note->strings.front().start);
  std::vector<Point3> heads;
  for (std::int32_t l : rec.leaders) {
    const LeaderRecord* lr = nullptr;
    if (readLeader(l, lr) != 0) return ConvertResult::kError;
    ScriptDimLeader dl;
    // The leader's IGES form names its arrow head; the leader table of the
    // installation maps it to the arrow kind of the CAD system.
    dl.form = leaderKindOf(element(l).form);
    dl.arrowPoint = ScriptPointXYZ{lr->head.x, lr->head.y, lr->z};
    dl.arrowSize = lr->arrowHeight;
    d.leaders.push_back(dl);
    heads.push_back(lr->head);
  }
  for (std::int32_t w : rec.witnesses) {
    ScriptDimWitness dw;
    dw.index = w;
    d.witnesses.push_back(dw);
    if (e.type == IgesType::kAngularDimension) d.references.push_back(dimensionReferenceOf(w));
  }
  if (heads.size() >= 2) {
    d.first = toScript(heads[0]);
    d.second = toScript(heads[1]);
    d.lineAngle = std::atan2(heads[1].y - heads[0].y, heads[1].x - heads[0].x);
  } else if (heads.size() == 1) {
    d.first = d.second = toScript(heads[0]);
  }
  if (rec.hasCentre) d.centre = toScript(rec.centre);
  if (rec.arc != 0 && !element(rec.arc).scriptObjects.empty())
    d.circle = element(rec.arc).scriptObjects.front();
  bool failed = false;
  Transform own;
  const bool hasOwn = ownMatrix(index, own, failed);
  if (failed) return ConvertResult::kError;
  const ScriptMatrix om = hasOwn ? toScriptMatrix(own) : ScriptMatrix{};
  const Transform* view = viewMatrixNow();
  const ScriptMatrix vm = view != nullptr ? toScriptMatrix(*view) : ScriptMatrix{};
  const int r = ScriptDimension(index, d, view != nullptr ? &vm : nullptr, hasOwn ? &om : nullptr, created);
  if (r != 0) return r;
  setState(runState().useToolkit != 0 ? index : rec.note, ElementState::kDone);
  for (std::int32_t l : rec.leaders) {
    if (l > 0) setState(l, ElementState::kDone);
  }
  return 0;
}

// One dimension: its record read, its arc searched, its parts written.
// Inside a dimension group the parts' objects are its result; otherwise
// they are grouped.
int convertDimension(std::int32_t index, bool inGroup) {
  const std::int32_t type = element(index).type;
  TraceScope t(dimensionCode(type));
  checkSonCount(t.code(), index);
  const DimensionRecord* rec = nullptr;
  if (readDimension(index, rec) != 0) return ConvertResult::kError;
  if (type == IgesType::kDiameterDimension || type == IgesType::kRadiusDimension) {
    DimensionRecord* own = dynamic_cast<DimensionRecord*>(element(index).params.get());
    own->arc = radiusSearch(index, *rec);
    if (own->arc != 0) {
      const GeometryRecord* arc = nullptr;
      const Transform* matrix = nullptr;
      if (readCircularArc(own->arc, arc, matrix) != 0) {
        own->arc = 0;
      } else if (element(own->arc).state == ElementState::kWaiting &&
                 element(own->arc).scriptObjects.empty()) {
        // The dimension refers to the arc's object: the arc is written now.
        Transform m;
        const Transform* view = viewMatrixNow();
        const bool hasM = matrix != nullptr || view != nullptr;
        if (matrix != nullptr && view != nullptr) m = composeTransforms(*view, *matrix);
        else if (matrix != nullptr) m = *matrix;
        else if (view != nullptr) m = *view;
        std::vector<std::int32_t> made;
        const int w = emitCircularArc(scriptElementOf(own->arc), hasM ? &m : nullptr, arc->values, made);
        element(own->arc).scriptObjects = made;
        setStateFromResult(own->arc, w, t.code());
      }
    }
  }
  if (!inGroup) {
    std::vector<std::int32_t> created;
    const int w = writeDimension(index, *rec, created);
    if (w == 0) {
      settleParts(index, ElementState::kTakenOver);
      finish(index, created, ElementState::kDone);
      return 0;
    }
    if (w == ConvertResult::kIgnored) return w;
  }
  std::vector<std::int32_t> objects;
  if (dimensionParts(index, objects) != 0 || objects.empty()) {
    // A dimension whose parts cannot be read: its parts are not written
    // by themselves.
    settleParts(index, ElementState::kIgnored);
    return ConvertResult::kError;
  }
  settleParts(index, ElementState::kIgnored);
  if (inGroup) {
    finish(index, objects, ElementState::kDone);
    return 0;
  }
  std::vector<std::int32_t> created;
  if (writeDimensionGroup(index, objects, created) != 0) return ConvertResult::kError;
  finish(index, created, ElementState::kDone);
  return 0;
}

// A dimension assembled from parts (cee505): its dimensions are written as
// one, in one group.  `from` is the dimension the group was reached from
// (0 for none).
int convertDimensionGroup(std::int32_t group, std::int32_t from) {
  TraceScope t("cee505");
  checkSonCount(t.code(), group);
  const ElementRecord& g = element(group);
  if (g.de.matrixPointer != 0 && traceLevel() > 0)
    std::printf("cee505 : Transformation von 402/13 wurde ignoriert !!\n");
  IgesAnnotationState& a = igesAnnotationState();
  IgesConvertState& s = igesConvertState();
  a.activeDimensionGroups.push_back(group);
  std::vector<std::int32_t> members;
  std::unordered_set<std::int32_t> seen;
  std::vector<std::int32_t> dimensions;
  for (const LinkNode* son = g.sons; son != nullptr; son = son->next)
    if (isElementIndex(son->index) && isDimensionType(element(son->index).type)) dimensions.push_back(son->index);
  for (std::int32_t d : dimensions) {
    ElementRecord& e = element(d);
    if (e.state == ElementState::kDone || e.state == ElementState::kTakenOver) {
      for (std::int32_t obj : e.scriptObjects)
        if (seen.insert(obj).second) members.push_back(obj);
      continue;
    }
    if (e.state != ElementState::kWaiting && d != from) continue;
    if (!inCurrentView(d, s.currentViewNumber)) continue;
    const int r = convertDimension(d, true);
    if (r != 0) {
      setState(d, ElementState::kError);
      continue;
    }
    for (std::int32_t obj : element(d).scriptObjects)
      if (seen.insert(obj).second) members.push_back(obj);
  }
  a.activeDimensionGroups.pop_back();
  if (members.empty()) return ConvertResult::kError;
  std::vector<std::int32_t> created;
  if (writeDimensionGroup(group, members, created) != 0) return ConvertResult::kError;
  finish(group, created, ElementState::kDone);
  return 0;
}

// The dimension dispatch (cee500): a dimension inside a dimension group is
// converted through the group.
int dimensionGroupCheck(std::int32_t index) {
  TraceScope t("cee500");
  for (const LinkNode* f = element(index).fathers; f != nullptr; f = f->next) {
    if (!isElementIndex(f->index)) continue;
    const ElementRecord& father = element(f->index);
    if (father.type != IgesType::kAssociativityInstance || father.form != 13) continue;
    const std::vector<std::int32_t>& active = igesAnnotationState().activeDimensionGroups;
    if (std::find(active.begin(), active.end(), f->index) != active.end()) return convertDimension(index, true);
    if (father.state != ElementState::kWaiting) continue;
    if (convertDimensionGroup(f->index, index) == 0) return element(index).state == ElementState::kDone ? 0 : ConvertResult::kError;
  }
  return convertDimension(index, false);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations

IgesAnnotationState& igesAnnotationState() {
  static IgesAnnotationState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES annotation",
                                            [] { igesAnnotationState() = IgesAnnotationState{}; });

bool isAnnotationElement(std::int32_t type, std::int32_t form) {
  switch (type) {
    case IgesType::kAngularDimension:
    case IgesType::kDiameterDimension:
    case IgesType::kGeneralLabel:
    case IgesType::kGeneralNote:
    case IgesType::kLeader:
    case IgesType::kLinearDimension:
    case IgesType::kOrdinateDimension:
    case IgesType::kPointDimension:
    case IgesType::kRadiusDimension:
    case IgesType::kGeneralSymbol:
    case IgesType::kSectionedArea: return true;
    case IgesType::kAssociativityInstance: return form == 13;
    default:
      return false;
  }
}

int collectAnnotation(std::int32_t index) {
  TraceScope t("cee150");
  if (!isElementIndex(index)) return ConvertResult::kError;
  const ElementRecord& e = element(index);
  if (!runConvertsAnnotation()) {
    refuseForLevel(t.code(), index);
    return ConvertResult::kError;
  }
  try {
    switch (e.type) {
      case IgesType::kGeneralNote: return convertNote(index);
      case IgesType::kLeader: return convertLeader(index);
      case IgesType::kGeneralLabel: return convertLabel(index);
      case IgesType::kGeneralSymbol: return convertSymbol(index);
      case IgesType::kSectionedArea: return convertSectionedArea(index);
      case IgesType::kAssociativityInstance: return convertDimensionGroup(index, 0);
      default:
        if (isDimensionType(e.type)) return dimensionGroupCheck(index);
        return ConvertResult::kError;
    }
  } catch (const std::bad_alloc&) {
    mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
    return ConvertResult::kError;
  }
}

int readNote(std::int32_t index, const NoteRecord*& out) {
  TraceScope t("cee440");
  return typedRecord<NoteRecord>(
      index, t.code(),
      [&](NoteRecord& rec, Fields& f) {
        rec.attributes = attributesOf(index);
        const int n = f.integer();
        if (n < 0 || n > kMaxStrings) {
          f.failed = true;
          return;
        }
        for (int k = 0; k < n && !f.failed; ++k) {
          NoteStringData s;
          s.characterCount = f.integer();
          s.boxWidth = f.real();
          s.boxHeight = f.real();
          s.fontCode = f.integer();
          s.slant = f.real();
          s.angle = f.real();
          s.mirror = f.integer();
          s.vertical = f.integer();
          s.start.x = f.real();
          s.start.y = f.real();
          s.start.z = f.real();
          s.text = f.string();
          rec.strings.push_back(std::move(s));
        }
      },
      out, IgesType::kGeneralNote);
}

int readLeader(std::int32_t index, const LeaderRecord*& out) {
  TraceScope t("cee582");
  return typedRecord<LeaderRecord>(
      index, t.code(),
      [&](LeaderRecord& rec, Fields& f) {
        rec.attributes = attributesOf(index);
        const int n = f.integer();
        if (n < 0 || n > kMaxLeaderPoints) {
          f.failed = true;
          return;
        }
        rec.arrowHeight = f.real();
        rec.arrowWidth = f.real();
        rec.z = f.real();
        rec.head.x = f.real();
        rec.head.y = f.real();
        rec.head.z = rec.z;
        for (int k = 0; k < n && !f.failed; ++k) {
          Point3 p;
          p.x = f.real();
          p.y = f.real();
          p.z = rec.z;
          rec.points.push_back(p);
        }
      },
      out, IgesType::kLeader);
}

std::string toleranceSymbolName(int font, char first) {
  if (font != 1001 && font != 1003) return "";
  switch (first) {
    case 'a': return "angle";
    case 'b': return font == 1003 ? "perpendic" : "";
    case 'd': return "freesurface";
    case 'e': return "round";
    case 'f': return "parallel";
    case 'g': return "cylindric";
    case 'h': return "run_out";
    case 'i': return "symmetric";
    case 'j': return "position";
    case 'k': return "spline";
    case 'l': return font == 1001 ? "perpendic" : "";
    case 'm': return "flat";
    case 'r': return "concentric";
    case 't': return font == 1003 ? "run_out2" : "";
    case 'u': return font == 1003 ? "straight" : "";
    default: return "";
  }
}

std::int32_t radiusSearch(std::int32_t dimension, const DimensionRecord& rec) {
  TraceScope t("cee599");
  IgesAnnotationState& a = igesAnnotationState();
  a.level1.clear();
  a.level2.clear();
  if (!rec.hasCentre) return 0;
  indexArcs();
  const double tolerance = 10.0 * systemEpsilon();
  Transform dm;
  bool failed = false;
  const bool hasDm = finalMatrix(dimension, dm, failed);
  const Point3 centre = placed(hasDm ? &dm : nullptr, rec.centre);
  // The arrow point and the leader line: the first leader's head and its
  // first point.
  bool hasLeader = false;
  Point3 arrow, along;
  if (!rec.leaders.empty()) {
    const LeaderRecord* l = nullptr;
    if (readLeader(rec.leaders.front(), l) == 0) {
      hasLeader = true;
      arrow = placed(hasDm ? &dm : nullptr, l->head);
      along = l->points.empty() ? arrow : placed(hasDm ? &dm : nullptr, l->points.front());
    }
  }
  const std::int32_t father = firstFather(dimension);
  const auto first = std::lower_bound(a.arcsByFather.begin(), a.arcsByFather.end(),
                                      std::make_pair(father, std::int32_t{0}));
  const Transform* view = viewMatrixNow();
  const std::int32_t viewNumber = igesConvertState().currentViewNumber;
  for (auto it = first; it != a.arcsByFather.end() && it->first == father; ++it) {
    const std::int32_t arc = it->second;
    if (!inCurrentView(arc, viewNumber)) continue;
    const GeometryRecord* g = nullptr;
    const Transform* matrix = nullptr;
    if (readCircularArc(arc, g, matrix) != 0 || g->values.size() < 5) continue;
    Transform m;
    const bool hasM = matrix != nullptr || view != nullptr;
    if (matrix != nullptr && view != nullptr) m = composeTransforms(*view, *matrix);
    else if (matrix != nullptr) m = *matrix;
    else if (view != nullptr) m = *view;
    const double z = g->values[0];
    const Point3 c = placed(hasM ? &m : nullptr, Point3{g->values[1], g->values[2], z});
    const Point3 s = placed(hasM ? &m : nullptr, Point3{g->values[3], g->values[4], z});
    const double radius = std::hypot(s.x - c.x, s.y - c.y);
    const double off = std::hypot(c.x - centre.x, c.y - centre.y);
    if (off < tolerance) {
      if (hasLeader && std::fabs(std::hypot(arrow.x - c.x, arrow.y - c.y) - radius) < tolerance) a.level1.push_back(arc);
    } else if (hasLeader) {
      const double dx = along.x - arrow.x, dy = along.y - arrow.y;
      const double len = std::hypot(dx, dy);
      if (len > 0.0 && std::fabs((c.x - arrow.x) * dy - (c.y - arrow.y) * dx) / len < tolerance) a.level2.push_back(arc);
    }
  }
  if (traceLevel() > 4) {
    std::printf("cee599 : Suchen Level 1, Anzahl gefundener Kreis(-boegen) fuer Radienmass : %ld\n",
                static_cast<long>(a.level1.size()));
    std::printf("         Suchen Level 2, Anzahl gefundener Kreis(-boegen) fuer Radienmass : %ld\n",
                static_cast<long>(a.level2.size()));
  }
  if (!a.level1.empty()) return a.level1.front();
  if (!a.level2.empty()) return a.level2.front();
  return 0;
}

void checkSonCount(const char* code, std::int32_t index) {
  ElementRecord& e = element(index);
  if (e.sonCount != 0 || e.sons == nullptr) return;
  std::int32_t n = 0;
  for (const LinkNode* s = e.sons; s != nullptr; s = s->next) ++n;
  e.sonCount = n;
  if (traceLevel() <= 0) return;
  std::printf("%s : FEHLER : Anzahl der Sohnelemente in der lokalen Datenstruktur nicht eingetragen !!!!!\n", code);
  std::printf("                  Anzahl korrigiert -> ABLAUF KORREKT -> ldv966 korrigieren !!!!!\n");
  std::printf("         Index in der lokalen Datenstruktur : %ld\n", static_cast<long>(index));
}

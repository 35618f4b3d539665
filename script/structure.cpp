#include "script/structure.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <ostream>
#include <sstream>

#include "elements/transform.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// A group statement starts a new line before every this many members.
constexpr std::size_t kMembersPerLine = 20;
// The sending system whose symbols keep one string per line.
constexpr int kSenderLinePerString = 6;
// The sending system whose label heights ignore the view scale.
constexpr int kSenderNoViewScale = 7;

struct StructureModule {
  std::string symbolModelDirectory;
};

StructureModule& module() {
  static StructureModule m;
  return m;
}

const RunStateRegistrar kRunStateRegistered("script structure", resetScriptStructureState);

void countStatement() { ++scriptState().statementCounter; }

// The element's layer: its named layer, or the layer switch for its level.
void selectLayer(std::int32_t index, std::int32_t level, const std::string& layerName,
                 const std::string& elementName) {
  mfaSetCurrentName(elementName);
  if (!layerName.empty()) {
    ScriptLayerOf(layerName);
  } else {
    ScriptLayerSwitch(index, level);
  }
}

// A label or symbol with members: a group "<prefix><index>" over them.
int writeAsGroup(const char* prefix, std::int32_t index, const std::vector<std::int32_t>& members,
                 const ScriptPointXYZ& reference, std::int32_t level, const ScriptAttributes& attributes,
                 const std::string& layerName, const ScriptElementData& data, const ScriptMatrix* m,
                 std::vector<std::int32_t>& created) {
  ScriptGroupRecord group;
  group.name = prefix + std::to_string(index);
  group.members = members;
  group.reference = reference;
  group.level = level;
  group.attributes = attributes;
  group.layerName = layerName;
  group.data = data;
  const int rc = ScriptGroup(index, group, m, created);
  return rc == 0 ? -88 : rc;
}

bool sameLine(const ScriptNoteString& a, const ScriptNoteString& b) {
  return std::fabs(a.position.y - b.position.y) <= scriptState().pointTolerance;
}

// An angle in [0, 360).
double normalDegrees(double a) {
  if (!std::isfinite(a)) return 0.0;
  a = std::fmod(a, 360.0);
  if (a < 0.0) a += 360.0;
  return a;
}

// The trace line of a subfigure's begin or end and, in an EDX script, the
// statement that brackets its group.
int subfigureBracket(const char* code, const char* which, const char* statement, int depth, const std::string& name) {
  TraceScope t(code);
  if (runSettings().traceLevel > 1) {
    std::printf("-> %s : %s Subfigure '%s' (%d)\n", code, which, name.c_str(), depth);
  }
  if (runState().edxOut) {
    scriptOut() << statement << "(\"" << name << "\")\n";
    countStatement();
  }
  return 0;
}

}  // namespace

void resetScriptStructureState() { module() = StructureModule(); }

void ScriptSetSymbolModelDirectory(const std::string& directory) { module().symbolModelDirectory = directory; }

int ScriptSubfigureBegin(int depth, const std::string& name) {
  return subfigureBracket("ses497", "Begin of", "DTStartGroup", depth, name);
}

int ScriptSubfigureEnd(int depth, const std::string& name) {
  return subfigureBracket("ses498", "End   of", "DTEndGroup", depth, name);
}

int ScriptGroup(std::int32_t index, const ScriptGroupRecord& group, const ScriptMatrix* m,
                std::vector<std::int32_t>& created) {
  TraceScope t("ses500");
  // An EDX script brackets its groups itself.
  if (runState().edxOut) return 0;
  if (group.members.empty()) return -1;
  try {
    selectLayer(index, group.level, group.layerName, group.data.name);
    ScriptState& s = scriptState();
    std::ostream& o = scriptOut();
    // The reference point as a member of its own, when it can be written
    // (it may lie outside the view's clip box).
    std::int32_t referenceMember = 0;
    if (runSettings().graphicInfoMode == 2) {
      ScriptElement e;
      e.index = index;
      e.level = group.level;
      e.attributes = group.attributes;
      e.layerName = group.layerName;
      e.data = group.data;
      std::vector<std::int32_t> made;
      if (ScriptPointElement(e, m, group.reference, made) == 0 && !made.empty()) {
        referenceMember = made.front();
        o << "name (" << E(referenceMember) << ", \"GRP_REFPK\")\n";
        countStatement();
      }
    }
    const std::int32_t n = s.elementCounter;
    std::string text = E(n) + "=DTCreateGroup (\"" + group.name + "\", {";
    for (std::size_t k = 0; k < group.members.size(); ++k) {
      if (k % kMembersPerLine == 0) text += "\n";
      text += E(group.members[k]) + " ";
    }
    if (referenceMember != 0) text.append(" ").append(E(referenceMember)).append(" ");
    text += "}," + ScriptBlank(group.attributes.blank) + "," + ScriptColourText(group.attributes.colour) + "," +
            ScriptInfoText(index, &group.data) + ")\n";
    o << text;
    ScriptRecordCreated(n, created);
    if (scriptGraphicInfoOn()) {
      const ScriptPointXYZ q = scriptTransform(m, group.reference);
      o << "SetGroupInfo (" << E(n) << "," << scriptFiniteNumber(q.x) << "," << scriptFiniteNumber(q.y) << ")\n";
    }
    ++s.elementCounter;
    ++s.statementCounter;
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

int ScriptUnknownAssociativity(std::int32_t index, const ScriptGroupRecord& group, const ScriptMatrix* m,
                               std::vector<std::int32_t>& created) {
  TraceScope t("ses499");
  try {
    ScriptGroupRecord named = group;
    named.name = "Unknown(" + std::to_string(group.data.type) + ")" + std::to_string(index);
    const int rc = ScriptGroup(index, named, m, created);
    return rc == 0 ? -88 : rc;
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
}

int ScriptLabel(std::int32_t index, const ScriptLabelRecord& label, const ScriptMatrix* m,
                std::vector<std::int32_t>& created) {
  TraceScope t("ses465");
  try {
    if (!label.members.empty()) {
      return writeAsGroup("Label", index, label.members, label.note.position, label.level, label.attributes,
                          label.layerName, label.data, m, created);
    }
    selectLayer(index, label.level, label.layerName, label.data.name);
    ScriptState& s = scriptState();
    const ScriptPointXYZ pa = scriptTransform(m, label.leader[0]);
    const ScriptPointXYZ pb = scriptTransform(m, label.leader[1]);
    const ScriptPointXYZ pc = scriptTransform(m, label.leader[2]);
    const std::int32_t a = ScriptConstructionPoint(nullptr, pa);
    const std::int32_t b = ScriptConstructionPoint(&pa, pb);
    const std::int32_t c = ScriptConstructionPoint(&pb, pc);
    double height = label.note.height;
    if (s.modelScale != 1.0) height *= s.modelScale;
    if (label.viewCurrent && runState().senderCode != kSenderNoViewScale) height *= label.viewScale;
    height *= s.unitScale;
    const double angle = label.note.angle * kDegreesPerRadian;
    const std::int32_t n = s.elementCounter;
    const std::string text = E(n) + "=DTCreateSymbolComment(TEXTFONT,0,1," + scriptFiniteNumber(height) +
                             ",\"triangle\"," + scriptFiniteNumber(angle) + ",\"" + label.note.text + "\"," + E(a) +
                             ",0," + E(b) + "," + E(c) + ",{0,0,0},0," + ScriptColourText(label.attributes.colour) +
                             "," + ScriptInfoText(index, &label.data) + ")\n";
    scriptOut() << text;
    ScriptFinishElement(n, created);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

void scriptSymbolTexts(const std::vector<ScriptNoteString>& strings, std::string& header,
                       std::vector<std::string>& lines) {
  header.clear();
  lines.clear();
  const std::size_t count = strings.size();
  if (runState().senderCode == kSenderLinePerString) {
    // The header runs over the strings from the second on as long as each
    // stands on a line of its own; the first string on the line of the one
    // before starts the body, one line per string.
    std::size_t i = 1;
    while (i < count && !sameLine(strings[i], strings[i - 1])) header += strings[i++].text;
    for (; i < count; ++i) lines.push_back(strings[i].text);
    return;
  }
  // Header from the third string up to the first "|"; after it the body,
  // its lines separated by further "|" strings.
  std::size_t i = 2;
  while (i < count && strings[i].text != "|") header += strings[i++].text;
  if (i >= count) return;
  ++i;
  std::string line;
  bool open = false;
  for (; i < count; ++i) {
    if (strings[i].text == "|") {
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line += strings[i].text;
      open = true;
    }
  }
  if (open) lines.push_back(line);
}

int ScriptSymbolForm(std::int32_t index, const ScriptSymbolRecord& symbol, const ScriptMatrix* m,
                     std::vector<std::int32_t>& created) {
  TraceScope t("ses650");
  try {
    if (!symbol.members.empty()) {
      const ScriptPointXYZ reference = symbol.strings.empty() ? symbol.anchor[0] : symbol.strings.front().position;
      return writeAsGroup("Symbol", index, symbol.members, reference, symbol.level, symbol.attributes,
                          symbol.layerName, symbol.data, m, created);
    }
    selectLayer(index, symbol.level, symbol.layerName, symbol.data.name);
    ScriptZOrder(index);
    ScriptState& s = scriptState();
    const std::int32_t a = ScriptConstructionPoint(nullptr, scriptTransform(m, symbol.anchor[0]));
    const std::int32_t b = ScriptConstructionPoint(nullptr, scriptTransform(m, symbol.anchor[1]));
    double height = 0.0;
    if (runState().senderCode == kSenderLinePerString && symbol.strings.size() > 1) {
      height = symbol.strings[1].height;
    } else if (!symbol.strings.empty()) {
      height = symbol.strings[0].height;
    }
    height *= s.unitScale;
    std::string header;
    std::vector<std::string> lines;
    scriptSymbolTexts(symbol.strings, header, lines);
    const std::int32_t n = s.elementCounter;
    std::string text = E(n) + " = DTCreateSymbolForm (TEXTFONT,0,1," + scriptFiniteNumber(height) + ",\"" +
                       symbol.name + "\",\"" + header + "\",{";
    for (const std::string& line : lines) text += "\"" + line + "\" ";
    text += "\"\"},";
    text += E(a) + "," + E(b) + ",{" + scriptFiniteNumber(symbol.direction[0]) + "," +
            scriptFiniteNumber(symbol.direction[1]) + "," + scriptFiniteNumber(symbol.direction[2]) + "},0," +
            ScriptColourText(symbol.attributes.colour) + "," + ScriptInfoText(index, &symbol.data) + " )\n";
    scriptOut() << text;
    ScriptFinishElement(n, created);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

namespace {

// A symbol model starts its numbering afresh: elements, lengths, points and
// the reference point (the point tolerance stays).
void freshModel() {
  ScriptState& s = scriptState();
  scriptResetRegistries();
  s.elementCounter = 1;
  s.lengthCounter = 1;
}

}  // namespace

int ScriptModelNew(const std::string& name, const std::vector<std::int32_t>& levels) {
  TraceScope t("ses600");
  if (name.empty()) return -1;
  try {
    std::ostream& o = scriptOut();
    freshModel();
    ScriptState& s = scriptState();
    o << "input_new(true,\"" << name << "\")\n";
    o << "delete(top.list_world.first)\n";
    o << "delete(origin)\n";
    o << "P0=DTCreateAngleAbsolute(0,\"\")\n";
    o << "P1=DTCreateLengthAbsolute(1,\"\")\n";
    o << "MZ=DTCreateLengthAbsolute(0,\"Master Z\")\n";
    o << "DZ=DTCreateLengthAbsolute(1,\"Delta  Z\")\n";
    o << "C0=DTCreateWorldRotaScale(origin,P0,P1,P1,1)\n";
    o << "BLNK = DTCreateLayer (\"blanked\", \"inactive\", {0})\n";
    const std::int32_t n = s.elementCounter++;
    o << "E" << n << "=DTCreatePointOrigin(C0,\"\")\n";
    o << "delete(E" << n << ")\n";
    s.statementCounter += 11;
    s.reference = ScriptReference{n, 0.0, 0.0, 0.0};
    s.haveReference = true;
    scriptPointLookup(0.0, 0.0, n, n);
    if (ScriptLevelList(levels) != 0) throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
    return mfaNoMemory("ses601");
  }
  return 0;
}

int ScriptModelSave(const std::string& name) {
  TraceScope t("ses620");
  if (name.empty()) return -1;
  std::ostream& o = scriptOut();
  o << "inpar(origin)\n";
  o << "inpar(P0)\n";
  o << "inpar(P1)\n";
  o << "inpar(MZ)\n";
  o << "inpar(DZ)\n";
  o << "output_save(\"" << name << "\")\n";
  scriptState().statementCounter += 6;
  freshModel();
  return 0;
}

int ScriptModelCreate(const std::vector<std::int32_t>& levels) {
  TraceScope t("ses600");
  try {
    std::ostream& o = scriptOut();
    o << "cd(HOME)\n";
    o << "model_create(IGES_NAME)\n";
    o << "\n";
    scriptState().statementCounter += 2;
    freshModel();
    ScriptPrologue();
    if (ScriptLevelList(levels) != 0) throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

namespace {

// The placement of an instance after the matrix: angle (degrees), scale
// and mirror flag of  A * scale * Rot(angle) * M  with A the matrix's
// linear part in the drawing plane, taken as a similarity.
void placeInstance(const ScriptMatrix* m, const ScriptInstanceRecord& instance, double& angle, double& scale,
                   bool& mirrored) {
  angle = instance.angle;
  scale = instance.scale;
  mirrored = instance.mirrored;
  if (m == nullptr) return;
  const double a = m->r[0][0], b = m->r[0][1], c = m->r[1][0], d = m->r[1][1];
  const double det = a * d - b * c;
  if (!std::isfinite(det) || det == 0.0) return;
  const double k = std::sqrt(std::fabs(det));
  if (det > 0.0) {
    // A = k Rot(beta): the rotations add.
    angle += std::atan2(c, a) * kDegreesPerRadian;
  } else {
    // A = k Rot(beta) Mx, and Mx Rot(alpha) = Rot(-alpha) Mx: the angle
    // turns round and the mirror toggles.
    angle = std::atan2(-b, d) * kDegreesPerRadian - angle;
    mirrored = !mirrored;
  }
  scale *= k;
}

}  // namespace

int ScriptSymbolInstance(std::int32_t index, const ScriptInstanceRecord& instance, const ScriptMatrix* m,
                         std::vector<std::int32_t>& created) {
  TraceScope t("ses640");
  if (instance.definition.empty()) return -1;
  try {
    const std::string& directory = module().symbolModelDirectory;
    std::string file = instance.definition;
    if (!directory.empty()) {
      const char last = directory.back();
      file = directory + (last == '/' || last == '\\' ? "" : "/") + instance.definition;
    }
    selectLayer(index, instance.level, instance.layerName, instance.data.name);
    ScriptZOrder(index);
    ScriptState& s = scriptState();
    std::ostream& o = scriptOut();
    double angle = 0.0, scale = 1.0;
    bool mirrored = false;
    placeInstance(m, instance, angle, scale, mirrored);
    if (!std::isfinite(scale)) scale = 1.0;
    // A mirrored definition is placed turned by a further half turn and then
    // mirrored in the line through its position along the turned x axis:
    // Refl(phi) Rot(phi) = Rot(phi) My, and Rot(alpha + 180) My = Rot(alpha) Mx.
    if (mirrored) angle = normalDegrees(angle + 180.0);
    const std::int32_t p = ScriptPointBare(nullptr, scriptTransform(m, instance.position));
    std::string text = "P0=DTCreateAngleAbsolute(" + scriptFiniteNumber(angle) + ",\"\")\n";
    text += "P1=DTCreateLengthAbsolute(" + scriptFiniteNumber(scale) + ",\"\")\n";
    const std::string zref = ScriptZRef(index, instance.level);
    const std::int32_t symbolNumber = s.elementCounter++;
    text += E(symbolNumber) + "=user_symbol(\"" + file + "\"," + E(p) + ",P0,P1," + zref +
            ",length_qotient(DZ,10))\n";
    std::int32_t result = symbolNumber;
    int statements = 3;
    if (mirrored) {
      const std::int32_t line = s.elementCounter++;
      result = s.elementCounter++;
      text += E(line) + "=line_pointalfalength(,,\"not_limited\"," + E(p) + ",P0,100.0,\"beginv\")\n";
      text += E(result) + "=user_mirror(" + E(line) + "," + E(symbolNumber) + ")\n";
      text += "delete({" + E(line) + "," + E(symbolNumber) + "})\n";
      statements += 3;
    }
    o << text;
    s.statementCounter += statements;
    ScriptRecordCreated(result, created);
    if (index > 0) {
      ScriptElementData data = instance.data;
      data.name.clear();
      ScriptSetInfo(result, index, data);
    }
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}

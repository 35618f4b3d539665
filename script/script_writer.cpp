#include "script/script_writer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_map>

#include "script/point_registry.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/product.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Lengths already written, by magnitude.
struct LengthNode {
  std::int32_t positive = 0;
  std::int32_t negative = 0;
  std::uint64_t order = 0;  // insertion order
};

struct Registries {
  PointRegistry points;  // its tolerance is 0.0 until the first point sets it
  std::map<double, LengthNode> lengths;
  std::uint64_t lengthOrder = 0;
};

// The layer table by name (first entry of a name) and by number, made
// again whenever the table has changed size.
struct LayerIndex {
  const ScriptLayer* data = nullptr;
  std::size_t size = 0;
  std::unordered_map<std::string, std::size_t> byName;
  std::unordered_map<std::int32_t, std::size_t> byNumber;
};

struct WriterModule {
  ScriptState state;
  LayerIndex layerIndex;
  Registries registries;
  // The open script: the output, the stream buffer over it and the
  // stream the writers print to.
  std::unique_ptr<OutputFile> file;
  std::unique_ptr<OutputStreamBuffer> buffer;
  std::unique_ptr<std::ostream> stream;
  std::string failure;  // "<name> (<reason>)" of the last failure
  // What the open script's source says of z-order and defined colours.
  std::function<int(std::int32_t)> zOrderOf;
  std::function<int(long)> definedColourOf;
  bool dxfInput = false;
  bool dwgInput = false;
  // The point statement's pieces, built in buffers that keep their room
  // from point to point.
  std::string pointTail, pointLine;
  // Texts lent for building statements (ScriptScratch), kept with their
  // room; the first `scratchInUse` are lent out.
  std::vector<std::unique_ptr<std::string>> scratch;
  std::size_t scratchInUse = 0;
  // The last line style written: most elements of a drawing share a few.
  struct {
    bool made = false;
    int tlvv = 0;
    int font = 0;
    double width = 0.0;
    std::string text;
  } lastStyle;
};

WriterModule& module() {
  static WriterModule m;
  return m;
}

const RunStateRegistrar kRunStateRegistered("script writer", resetScriptState);

bool dxfRun() { return runHas(RunModeBit::kDxf); }
bool dwgRun() { return runHas(RunModeBit::kDwg); }
bool classic() { return runSettings().tlvvMode == 1; }
bool layerNamesOn() {
  const int v = runSettings().layerNames;
  return v == 1 || (v == kNotSet && runState().useToolkit != 0);
}

const char* prefix() { return dxfRun() ? "dxf_" : dwgRun() ? "dwg_" : "iges_"; }

// The level part of a variable name: "5" or "_5" for level -5.
std::string levelName(std::int32_t level) {
  if (level >= 0) return std::to_string(level);
  return std::string("_").append(std::to_string(-static_cast<std::int64_t>(level)));
}

}  // namespace

ScriptState& scriptState() { return module().state; }

ScriptScratch::ScriptScratch() {
  WriterModule& m = module();
  if (m.scratchInUse == m.scratch.size()) m.scratch.push_back(std::make_unique<std::string>());
  text_ = m.scratch[m.scratchInUse++].get();
  text_->clear();
}

ScriptScratch::~ScriptScratch() { --module().scratchInUse; }

std::int32_t scriptNextElement() {
  ScriptState& s = scriptState();
  const std::int32_t n = s.elementCounter++;
  ++s.statementCounter;
  return n;
}

void scriptStatement(const std::string& text) { scriptOut() << text << "\n"; }

bool scriptGraphicInfoOn() {
  const int v = runSettings().graphicInfoMode;
  return v != 0 && v != kNotSet;
}

void resetScriptState() {
  WriterModule& m = module();
  // A script that was not closed is not put under its name.
  m.stream.reset();
  m.buffer.reset();
  m.file.reset();
  m.failure.clear();
  m.state = ScriptState();
  m.registries = Registries();
  m.layerIndex = LayerIndex();
  m.lastStyle.made = false;
  m.zOrderOf = nullptr;
  m.definedColourOf = nullptr;
}

namespace {

// The numbers of a script mostly lie between 1e-4 and 1e10, where "%.10g"
// writes them in fixed form.  Such a number times 10^(9 - its exponent) is
// its ten significant digits before rounding; the one multiplication that
// makes it is off by far less than 1e-5, so the product rounds as the exact
// value does unless it lies that close to a half.  Writes the text and
// returns its end, or null for a number left to the exact conversion.
char* writeFixedTenDigits(double value, char* text) {
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,
                                       1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13};
  const double a = std::fabs(value);
  if (!(a >= 1e-4 && a < 1e10)) return nullptr;
  static constexpr double kBounds[] = {1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  int exponent = -4;
  while (exponent < 9 && a >= kBounds[exponent + 4]) ++exponent;
  const double scaled = a * kPowers[9 - exponent];
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;
  if (std::fabs(fraction - 0.5) < 1e-5) return nullptr;
  const std::uint64_t digits = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
  // An exponent misjudged at a power of ten, or a rounding up to the next
  // one, changes the form: left to the exact conversion.
  if (digits < 1000000000u || digits >= 10000000000u) return nullptr;
  // Two digits at a time.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char d[10];
  std::uint64_t rest = digits;
  for (int i = 8; i >= 0; i -= 2) {
    const std::size_t pair = static_cast<std::size_t>(rest % 100) * 2;
    rest /= 100;
    d[i] = kPairs[pair];
    d[i + 1] = kPairs[pair + 1];
  }
  int last = 9;  // the last digit written: trailing zeros of the fraction go
  const int wholeDigits = exponent >= 0 ? exponent + 1 : 0;
  while (last >= wholeDigits && d[last] == '0') --last;
  char* p = text;
  if (value < 0) *p++ = '-';
  if (exponent >= 0) {
    for (int i = 0; i < wholeDigits; ++i) *p++ = d[i];
    if (last >= wholeDigits) {
      *p++ = '.';
      for (int i = wholeDigits; i <= last; ++i) *p++ = d[i];
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int i = -1; i > exponent; --i) *p++ = '0';
    for (int i = 0; i <= last; ++i) *p++ = d[i];
  }
  return p;
}

}  // namespace

namespace {

// The room a number takes at most (sign, ten digits, point, exponent).
constexpr std::size_t kNumberRoom = 32;

// Writes the number at p (at most kNumberRoom characters); returns the end.
char* putNumber(char* p, double value) {
  if (char* end = writeFixedTenDigits(value, p)) return end;
  const std::to_chars_result r = std::to_chars(p, p + kNumberRoom, value, std::chars_format::general, 10);
  return r.ec == std::errc() ? r.ptr : p;
}

// Writes the integer at p (at most 20 characters); returns the end.
char* putInteger(char* p, long value) {
  return std::to_chars(p, p + 24, value).ptr;
}

// Writes a text whose length the compiler knows.
template <std::size_t N>
char* putText(char* p, const char (&text)[N]) {
  std::memcpy(p, text, N - 1);
  return p + N - 1;
}

}  // namespace

// Ten significant digits in the shortest of fixed and exponent form, the
// bytes of printf's "%.10g" in the "C" locale the program runs in.
void scriptAppendNumber(std::string& text, double value) {
  char digits[kNumberRoom];
  text.append(digits, static_cast<std::size_t>(putNumber(digits, value) - digits));
}

std::string scriptNumber(double value) {
  std::string text;
  scriptAppendNumber(text, value);
  return text;
}

void scriptAppendInteger(std::string& text, long value) {
  char digits[24];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, static_cast<std::size_t>(r.ptr - digits));
}

void scriptWrite(const std::string& text) {
  scriptOut().write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string scriptFiniteNumber(double value) { return scriptNumber(std::isfinite(value) ? value : 0.0); }

std::ostream& scriptOut() {
  ScriptState& s = scriptState();
  if (s.out) return *s.out;
  // Writing before ScriptOpen or after ScriptClose is a caller's fault; the
  // text is dropped rather than sent anywhere.
  static std::ostream discard(nullptr);
  return discard;
}

void scriptResetRegistries() {
  module().registries = Registries();
  ScriptState& s = scriptState();
  s.haveReference = false;
  s.reference = ScriptReference();
}


std::int32_t scriptPointLookup(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  PointRegistry& r = module().registries.points;
  if (r.empty() && r.tolerance() == 0.0) r.setTolerance(scriptState().pointTolerance);
  return r.lookup(x, y, ref, newNumber);
}

namespace {

void writeMirrorFunction(std::ostream& o) {
  static constexpr const char* kLines[] = {
      "function user_mirror(line,user)",
      "  group = {}",
      "  for el in user.list_all do",
      "    prim=true",
      "    switch (el.prim_type)",
      "    case \"point\":   elem =  point_mirrorline (el,line)",
      "    case \"line\":    elem =  line_mirrorline (,,,el,line)",
      "    case \"circle\":  elem =  circle_mirrorcircle (,,,,el,line)",
      "    case \"ellipse\": elem =  ellipse_mirrorellipse (,,el,line)",
      "    case \"spline\":  elem =  spline_mirrorspline (,el,line)",
      "    case \"text\":    elem =  text_mirror (,el,line)",
      "    case \"plane\":   elem =  plane_mirror (,el,line)",
      "    case \"contour\": elem =  contour_mirrorline (,el,line)",
      "    case \"user\":    elem =  user_mirror (line,el)",
      "    otherwise: prim=false",
      "    end",
      "    if prim then",
      "      if el.deleted then delete (elem) end",
      "      group = group + elem",
      "    end",
      "  end",
  };
  for (const char* line : kLines) o << line << "\n";
  o << (classic() ? "  ret = group_abs (user.filename,group)" : "  ret = group_create (group,user.filename)")
    << "\n";
  o << "  return (ret)\n";
  o << "end\n";
}

void writeGroupInfoFunction(std::ostream& o) {
  const char* x = dwgRun() ? "DWG_REFX" : dxfRun() ? "DXF_REFX" : "IGES_REFX";
  const char* y = dwgRun() ? "DWG_REFY" : dxfRun() ? "DXF_REFY" : "IGES_REFY";
  o << "function SetGroupInfo ( id, refx, refy )\n";
  if (classic()) {
    o << "  create_attrib(id,\"" << x << "\")\n";
    o << "  set_attrib(id,\"" << x << "\",refx)\n";
    o << "  create_attrib(id,\"" << y << "\")\n";
    o << "  set_attrib(id,\"" << y << "\",refy)\n";
  } else {
    o << "  create_attrib(id,\"" << x << "\",refx)\n";
    o << "  create_attrib(id,\"" << y << "\",refy)\n";
  }
  o << "end\n";
}

// "dd.mm.yy" of the program's build date "dd.mm.yyyy".
std::string shortBuildDate() {
  const std::string& d = buildDate();
  if (d.size() == 10) return d.substr(0, 6) + d.substr(8, 2);
  return d;
}

std::string baseName(const std::string& path) {
  const std::size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

void writeUnits(std::ostream& o, const ScriptSource& source) {
  ScriptState& s = scriptState();
  s.statementCounter = 0;
  s.unitScale = 1.0;
  int mode = runSettings().unitMode;
  if (mode != 1 && mode != 2) {
    if (source.unitFlag == 1) {
      mode = 1;
    } else if (source.unitFlag == 2) {
      mode = 2;
    } else if (source.unitFlag == 3 && (source.unitName == "INCH" || source.unitName == "IN")) {
      mode = 1;
    } else if (source.unitFlag == 3 && source.unitName == "MM") {
      mode = 2;
    } else {
      mfaReport("ses721", 461, Channel::kBoth, Severity::kWarning, {}, {}, source.unitName, nullptr);
      return;
    }
  }
  if (mode == 1) {
    s.unitScale = 25.4;
    o << "if program.unit = \"mm\" then IGES_UNIT = true drawing_inch_mm(false) end\n";
  } else {
    o << "if program.unit = \"inch\" then IGES_UNIT = false drawing_inch_mm(true) end\n";
  }
}

int writeHeader(std::ostream& o, const std::string& outputName, const ScriptSource& source) {
  ScriptState& s = scriptState();
  module().zOrderOf = source.zOrderOf;
  module().definedColourOf = source.definedColourOf;
  s.zMechanism = source.zOrderProperty;
  o << "/* created by " << kProductTitle << " " << kVersionText << " from " << shortBuildDate()
    << " */\n";
  o << "include " << runPaths().scriptIncludeDir << "zirovuvod_createfunc.inc\n";
  if (classic()) o << "DTSetTLVVersion (4)\n";
  o.precision(10);
  o << "AKT_UNIT=\"" << source.unitName << "\"\n";
  if (runState().edxOut) o << "EDXFILENAME=\"" << outputName << "\"\n";
  o << (dxfRun() ? "file \"dxf_kpl.err\" error_output\n"
                 : dwgRun() ? "file \"dwg_kpl.err\" error_output\n" : "file \"iges_kpl.err\" error_output\n");
  if (userElementMode() != 2) writeMirrorFunction(o);
  if (scriptGraphicInfoOn()) writeGroupInfoFunction(o);
  if (!classic()) {
    o << "prompt (\"" << (dwgRun() ? "(DWG) " : dxfRun() ? "(DXF) " : "(IGES) ")
      << mfaMessageText(1105) << " " << baseName(outputName) << "\")\n";
    o << "show_status_percent (0)\n";
  }
  writeUnits(o, source);
  // The prologue may come later (with the first symbol model); it takes the
  // model scale from the state.
  s.modelScale = source.modelScale;
  if (source.subfiguresPending && userElementMode() != 2 && runHas(RunModeBit::kPlus)) {
    o << "IGES_NAME = top.filename\n";
    o << "model_save(top,true,false,IGES_NAME)\n";
    o << "HOME=wd()\n";
    if (!source.symbolModelDir.empty()) o << "cd(\"" << source.symbolModelDir << "\")\n";
    return 0;
  }
  ScriptPrologue();
  return ScriptLevelList(source.levels);
}

}  // namespace
int ScriptOpenStream(std::ostream& out, const std::string& outputName, const ScriptSource& source) {
  TraceScope t("ses721");
  ScriptState& s = scriptState();
  s.out = &out;
  return writeHeader(out, outputName, source);
}

int ScriptOpen(const std::string& outputName, const ScriptSource& source) {
  TraceScope t("ses721");
  WriterModule& m = module();
  const std::string fileName = runState().edxOut ? outputName + ".kpl" : outputName;
  // Written under a temporary name beside the script and put under its
  // name by ScriptClose, so a run that fails or is stopped leaves the
  // previous script as it was.
  auto file = std::make_unique<OutputFile>();
  if (!file->create(fileName)) {
    m.failure = file->failureText();
    return -7;
  }
  m.file = std::move(file);
  m.buffer = std::make_unique<OutputStreamBuffer>(*m.file);
  m.stream = std::make_unique<std::ostream>(m.buffer.get());
  m.state.out = m.stream.get();
  return writeHeader(*m.stream, outputName, source);
}

int ScriptPrologue() {
  TraceScope t("ses100");
  ScriptState& s = scriptState();
  std::ostream& o = scriptOut();
  const char* p = prefix();
  o << "C0=DTGetWorld ()\n";
  if (runSettings().textMode != 3) {
    o << "// Benoetigte (verwendete) Systemeinstellungen ermitteln\n";
    o << "TEXTFONT=DTGetDefaultFont()\n";
    o << "DTSetSessionDefaults()\n";
  }
  o << (layerNamesOn() ? "BLNK=DTCreateLayer(\"blanked\", \"inactive\", {0})\n"
                       : "BLNK=DTCreateLayer(\"255\", \"inactive\", {0})\n");
  std::int32_t n = s.elementCounter++;
  o << "Z=DTCreateLengthAbsolute(0,\"\")\n";
  o << "MZ=DTCreateLengthAbsolute(0,\"" << p << "mz\")\n";
  o << "DZ=DTCreateLengthAbsolute(1,\"" << p << "dz\")\n";
  o << "E" << n << "=DTCreatePointOrigin(C0,\"" << p << "origin\")\n";
  if (std::fabs(s.modelScale - 1.0) > s.pointTolerance) {
    o << "C0=DTCreateWorldFirstRota(E" << n << ",0.0," << scriptNumber(s.modelScale) << ")\n";
    n = s.elementCounter++;
    o << "E" << n << "=DTCreatePointOrigin(C0,\"\")\n";
  }
  s.reference = ScriptReference{n, 0.0, 0.0, 0.0};
  s.haveReference = true;
  PointRegistry& r = module().registries.points;
  if (r.tolerance() == 0.0 && r.empty()) r.setTolerance(s.pointTolerance);
  scriptPointLookup(0.0, 0.0, n, n);
  return 0;
}

namespace {

void writeLayerStatus(std::ostream& o) {
  const ScriptState& s = scriptState();
  if (runState().useToolkit == 0 || !s.hasLayerTable) return;
  o << "DTSetLayerStatus ( { ";
  int width = 21;
  const bool named = layerNamesOn();
  for (std::size_t i = 0; i < s.layers.size(); ++i) {
    const ScriptLayer& l = s.layers[i];
    const std::string name = named ? l.name : std::to_string(l.number);
    o << "{\"" << name << "\"," << (l.off == 1 ? 0 : 1) << "}";
    if (i + 1 < s.layers.size()) o << ",";
    width += named ? static_cast<int>(l.name.size()) + 8 : 3;
    if (width > 80) {
      o << "\n";
      width = 0;
    }
  }
  o << "})\n";
}

}  // namespace

int ScriptClose() {
  TraceScope t("ses820");
  WriterModule& m = module();
  std::ostream& o = scriptOut();
  writeLayerStatus(o);
  o << "edit(top,,\"active\",)\n";
  o << "if program.mode != \"batch\" then view_full() end\n";
  o << "if valid(IGES_UNIT)then drawing_inch_mm(IGES_UNIT) end\n";
  o << "DTRestoreSystemDefaults()\n";
  if (!classic()) {
    o << "show_status_percent (100)\n";
    o << "prompt (\" \")\n";
  }
  o.flush();
  int result = 0;
  if (m.file) {
    m.stream.reset();
    m.buffer.reset();
    if (!m.file->commit()) {
      m.failure = m.file->failureText();
      result = -7;
    }
    m.file.reset();
  }
  m.state.out = nullptr;
  // The points and lengths written are of no use once the script is
  // closed; a large drawing's take many megabytes.
  m.registries = Registries();
  return result;
}

const std::string& ScriptFileFailure() { return module().failure; }

int ScriptWorldSave(double scale, const ScriptPointXYZ* origin) {
  TraceScope t("ses101");
  std::ostream& o = scriptOut();
  o << "W0=C0\n";
  o << "POS0=E1\n";
  const std::int32_t p = origin ? ScriptPointBare(nullptr, *origin) : 1;
  o << "C0=DTCreateWorldFirstRota(E" << p << ",0.0," << scriptNumber(scale) << ")\n";
  o << "E1=DTCreatePointOrigin(C0,\"\")\n";
  return 0;
}

int ScriptWorldRestore() {
  TraceScope t("ses102");
  std::ostream& o = scriptOut();
  o << "C0=DTSetWorld(W0)\n";
  o << "E1=POS0\n";
  return 0;
}

namespace {

LayerIndex& layerIndex() {
  LayerIndex& index = module().layerIndex;
  const std::vector<ScriptLayer>& layers = scriptState().layers;
  if (index.data != layers.data() || index.size != layers.size()) {
    index.byName.clear();
    index.byNumber.clear();
    for (std::size_t i = 0; i < layers.size(); ++i) {
      index.byName.emplace(layers[i].name, i);
      index.byNumber.emplace(layers[i].number, i);
    }
    index.data = layers.data();
    index.size = layers.size();
  }
  return index;
}

}  // namespace

std::int32_t ScriptLayerOf(const std::string& name) {
  TraceScope t("ses103");
  std::vector<ScriptLayer>& layers = scriptState().layers;
  const LayerIndex& index = layerIndex();
  const auto it = index.byName.find(name);
  if (it == index.byName.end()) return 0;
  ScriptLayer& l = layers[it->second];
  if (!l.written) {
    ScriptSubLayer(l);
    l.written = true;
  }
  return l.number;
}

int ScriptSubLayer(ScriptLayer& layer) {
  TraceScope t("ses104");
  const std::string name = layerNamesOn() ? layer.name : std::to_string(layer.number);
  scriptOut() << "AKTLAYER=DTCreateSubLayer ( \"" << name << "\", top, \"active\","
              << (layer.off == 1 ? 1 : 0) << "," << ScriptColourText(layer.colour) << ")\n";
  return 0;
}

int ScriptLayerSwitch(std::int32_t /*index*/, std::int32_t level) {
  TraceScope t("ses230");
  ScriptState& s = scriptState();
  if (!layerNamesOn() || level == s.lastLayer) return 0;
  scriptOut() << "edit(LY" << levelName(level) << ",,\"active\",)\n";
  s.lastLayer = level;
  return 0;
}

int ScriptLevelList(const std::vector<std::int32_t>& levels) {
  TraceScope t("ses721");
  ScriptState& s = scriptState();
  std::set<std::int32_t> tree;
  try {
    for (std::int32_t l : levels) tree.insert(l < 0 ? 0 : l);
  } catch (const std::bad_alloc&) {
    return -6;
  }
  std::ostream& o = scriptOut();
  if (layerNamesOn()) {
    // Drawings name their layers themselves.
    const bool drawingLayers = dxfRun() || dwgRun();
    for (std::int32_t n : tree) {
      std::string name = std::string(dxfRun() ? "dxf_level" : dwgRun() ? "dwg_level" : "iges_level") +
                         levelName(n);
      int colour = 0;
      const LayerIndex& index = layerIndex();
      const auto it = index.byNumber.find(n);
      if (it != index.byNumber.end()) {
        const ScriptLayer& l = s.layers[it->second];
        if (drawingLayers) name = l.name;
        colour = l.cadColour;
      }
      // Every layer is held in LY<n>, the variable the layer switch edits.
      if (dxfRun()) {
        o << "LY" << levelName(n) << "=DTCreateLayer(\"" << name << "\", "
          << (n != 0 ? "\"inactive\", {" : "\"active\",   {") << colour << "})\n";
      } else {
        o << "LY" << levelName(n) << "=DTCreateLayer(\"" << name << "\", "
          << (n != 0 ? "\"inactive\",{0})" : "\"active\",  {0})") << "\n";
      }
    }
    s.lastLayer = 0;
  } else if (!s.zMechanism) {
    for (std::int32_t n : tree) {
      o << "Z" << levelName(n) << "=DTCreateLengthSum(MZ,DTCreateLengthProd(" << -static_cast<std::int64_t>(n)
        << ",DZ,\"\"),\"\")\n";
    }
  }
  return 0;
}

int ScriptZOrder(std::int32_t index) {
  TraceScope t("ses231");
  ScriptState& s = scriptState();
  if (!s.zMechanism) return 0;
  s.zOrderFlag = 0;
  const int k = module().zOrderOf ? module().zOrderOf(index) : -1;
  if (k < 0) return 0;
  if (k > 0 && k != s.lastZOrder) {
    scriptOut() << "Z=DTCreateLengthSum(MZ,DTCreateLengthProd(" << k << ",DZ,\"\"),\"\")\n";
    s.lastZOrder = k;
  }
  if (k > 0) s.zOrderFlag = 1;
  return 1;
}

void scriptAppendZRef(std::string& text, std::int32_t /*index*/, std::int32_t level) {
  TraceScope t("ses220");
  ScriptState& s = scriptState();
  if (s.zMechanism) {
    if (s.zOrderFlag == -1) std::fputs("z-mechanism badly initialized", stdout);
    text.append(s.zOrderFlag != 0 ? "Z" : "MZ");
    s.zOrderFlag = 0;
    return;
  }
  if (layerNamesOn()) {
    text.append("MZ");
    return;
  }
  text.push_back('Z');
  if (level < 0) text.push_back('_');
  scriptAppendInteger(text, level < 0 ? -static_cast<long>(level) : level);
}

std::string ScriptZRef(std::int32_t index, std::int32_t level) {
  std::string text;
  scriptAppendZRef(text, index, level);
  return text;
}

namespace {
constexpr const char* kFontNames[] = {"solid",  "dashed", "dashdotted", "dashdotdotted",
                                      "dotted", "broken", "solid_invisiblepart_dashed"};
}

void scriptAppendLineStyle(std::string& text, int font, double width) {
  ScriptState& s = scriptState();
  auto& last = module().lastStyle;
  const int tlvv = runSettings().tlvvMode;
  if (last.made && last.tlvv == tlvv && last.font == font && last.width == width) {
    ++s.statementCounter;
    text.append(last.text);
    return;
  }
  last.text = ScriptLineStyle(font, width);
  last.made = true;
  last.tlvv = tlvv;
  last.font = font;
  last.width = width;
  text.append(last.text);
}

std::string ScriptLineStyle(int font, double width) {
  TraceScope t("ses210");
  ScriptState& s = scriptState();
  if (font < 1 || font > 7) font = 1;
  std::string text;
  const int tlvv = runSettings().tlvvMode;
  if (tlvv == 1) {
    double w = std::trunc(width);
    if (!(w <= 3.0)) w = 3.0;
    text = "{\"" + std::string(kFontNames[font - 1]) + "\" " + std::to_string(static_cast<int>(w)) + "}";
  } else if (tlvv == 99) {
    std::ostringstream n;
    n.precision(3);
    n << std::showpoint << width;
    text = "{\"" + std::string(kFontNames[font - 1]) + "\"" + n.str() + "}";
  } else {
    text = "{\"" + std::to_string(font) + "\" " + scriptNumber(width) + "}";
  }
  ++s.statementCounter;
  return text;
}

std::string ScriptBlank(int blank) { return blank == 1 ? "1" : "0"; }

void scriptAppendColourTextOf(std::string& text, int cadColour, int red, int green, int blue) {
  TraceScope t("ses870");
  text.push_back('{');
  if (cadColour < 0 && !classic()) {
    scriptAppendInteger(text, red);
    text.push_back(',');
    scriptAppendInteger(text, green);
    text.push_back(',');
    scriptAppendInteger(text, blue);
  } else if (cadColour != 0) {
    scriptAppendInteger(text, cadColour < 0 ? -static_cast<long>(cadColour) : cadColour);
  } else {
    text.push_back('7');
  }
  text.push_back('}');
}

void scriptAppendColourText(std::string& text, long colour) {
  TraceScope t("ses870");
  if (colour >= 0) {
    scriptAppendColourTextOf(text, cadColourOf(colour), 0, 0, 0);
    return;
  }
  const int cad = module().definedColourOf ? module().definedColourOf(colour) : 0;
  scriptAppendColourTextOf(text, cad, 0, 0, 0);
}

std::string ScriptColourTextOf(int cadColour, int red, int green, int blue) {
  TraceScope t("ses870");
  if (cadColour < 0 && !classic()) {
    return std::string("{")
        .append(std::to_string(red))
        .append(",")
        .append(std::to_string(green))
        .append(",")
        .append(std::to_string(blue))
        .append("}");
  }
  if (cadColour != 0) {
    return std::string("{")
        .append(std::to_string(cadColour < 0 ? -static_cast<long>(cadColour) : cadColour))
        .append("}");
  }
  return "{7}";
}

// Integration point: RGB results of the colour assignment need their three
// components from the colour-definition table; until the assignment tables
// hand them out, an RGB result is written by its index.
std::string ScriptColourText(long colour) {
  TraceScope t("ses870");
  if (colour >= 0) return ScriptColourTextOf(cadColourOf(colour), 0, 0, 0);
  const int cad = module().definedColourOf ? module().definedColourOf(colour) : 0;
  return ScriptColourTextOf(cad, 0, 0, 0);
}

void scriptAppendInfoText(std::string& text, std::int32_t index, const ScriptElementData* data) {
  if (runSettings().nameMode != 1 || index < 1 || data == nullptr) {
    text.append("{}");
    return;
  }
  text.append(ScriptInfoText(index, data));
}

std::string ScriptInfoText(std::int32_t index, const ScriptElementData* data) {
  const int nameMode = runSettings().nameMode;
  if (nameMode != 1 || index < 1 || data == nullptr) return "{}";
  const std::string name = data->name.empty() ? "-" : data->name;
  if (runIsIges()) {
    return "{\"" + name + "\"," + std::to_string(data->type) + "," + std::to_string(data->form) + "," +
           std::to_string(data->sequence) + "," + std::to_string(data->parameterPointer) + "}";
  }
  return "{\"" + name + "\"," + std::to_string(data->sequence) + "}";
}

int ScriptSetInfo(std::int32_t n, std::int32_t /*index*/, const ScriptElementData& data) {
  const std::string name = data.name.empty() ? "-" : data.name;
  std::ostream& o = scriptOut();
  if (dxfRun()) {
    o << "set_dxfinfo(E" << n << ",\"" << name << "\"," << data.sequence << ")\n";
  } else {
    o << "set_igesinfo(E" << n << ",\"" << name << "\"," << data.type << "," << data.form << ","
      << data.sequence << "," << data.parameterPointer << ")\n";
  }
  ++scriptState().statementCounter;
  return 0;
}

int ScriptProgress(int percent) {
  ScriptState& s = scriptState();
  if (classic() || percent == s.lastPercent) return 0;
  if (s.statementCounter > 0) scriptOut() << "show_status_percent (" << percent << ")\n";
  s.lastPercent = percent;
  s.statementCounter = 0;
  return 0;
}

// Lengths are found as in a binary tree of magnitudes searched with the
// tolerance: the walk stops at the first node within the tolerance.  Stored
// magnitudes lie more than the tolerance apart, so at most the two
// neighbours of a magnitude can be within it, and of two such neighbours
// the walk meets the older one first (it is the other's ancestor).  The
// ordered map finds both neighbours directly.
std::int32_t ScriptLength(double value) {
  ScriptState& s = scriptState();
  // A length that is not a finite number has no place in the script.
  if (!std::isfinite(value)) value = 0.0;
  const double m = std::fabs(value);
  const bool positive = value > 0.0;
  const double e = s.pointTolerance / 100.0;
  Registries& r = module().registries;
  auto& lengths = r.lengths;
  auto found = lengths.end();
  for (auto it = lengths.lower_bound(m - 2.0 * e); it != lengths.end() && it->first <= m + 2.0 * e; ++it) {
    if (std::fabs(m - it->first) > e) continue;
    if (found == lengths.end() || it->second.order < found->second.order) found = it;
  }
  if (found == lengths.end()) found = lengths.emplace(m, LengthNode{0, 0, r.lengthOrder++}).first;
  LengthNode& node = found->second;
  std::int32_t& number = positive ? node.positive : node.negative;
  if (number != 0) return number;
  const std::int32_t other = positive ? node.negative : node.positive;
  number = s.lengthCounter++;
  std::ostream& o = scriptOut();
  if (other != 0) {
    o << "L" << number << "=length_inverse(L" << other << ")\n";
  } else {
    o << "L" << number << "=DTCreateLengthAbsolute(" << (positive ? "" : "-") << scriptNumber(found->first)
      << ",\"\")\n";
  }
  return number;
}

namespace {

// An offset of a point statement after its comma: a number, or a length
// variable with pointMode 0 (whose statement, when new, is written first).
char* putOffset(char* p, double v) {
  *p++ = ',';
  if (runSettings().pointMode == 0) {
    const std::int32_t k = ScriptLength(v);
    *p++ = 'L';
    return putInteger(p, k);
  }
  return putNumber(p, v);
}

std::int32_t writePoint(const char* code, const std::string& tail, const ScriptPointXYZ* referencePoint,
                        const ScriptPointXYZ& point) {
  ScriptState& s = scriptState();
  if (!s.haveReference) {
    // No prologue written yet (neither the script's nor a symbol model's):
    // the plain prologue makes the reference point every point refers to.
    ScriptPrologue();
  }
  std::int32_t ref = s.reference.number;
  double rx = s.reference.x, ry = s.reference.y;
  if (referencePoint) {
    ref = scriptPointLookup(referencePoint->x, referencePoint->y, s.reference.number, 0);
    rx = referencePoint->x;
    ry = referencePoint->y;
    if (ref == 0) {
      std::fprintf(stderr, "%s_create_point : Bezugspunkt nicht gefunden !\n", code);
    }
  }
  const std::int32_t n = s.elementCounter;
  const std::int32_t found = scriptPointLookup(point.x, point.y, s.reference.number, n);
  if (found != 0) return found;
  double dx = point.x - rx;
  double dy = point.y - ry;
  // An offset the CAD system cannot take is written as 0.  On the first
  // point of a model a merely far one moves the reference point there
  // instead, so that the points after it keep their true distances.
  double* referenceCoordinate[2] = {&s.reference.x, &s.reference.y};
  double* offsets[2] = {&dx, &dy};
  for (int axis = 0; axis < 2; ++axis) {
    double& d = *offsets[axis];
    if (std::fabs(d) <= 2147483646.0) continue;
    const bool first = s.elementCounter == 2;
    mfaWarning("ses1000", first ? 1041 : 1040, Channel::kBoth);
    if (first && std::isfinite(d)) *referenceCoordinate[axis] = d;
    d = 0.0;
  }
  const double e = s.pointTolerance / 100.0;
  const double sc = s.unitScale;
  const bool bx = std::fabs(dx) > e;
  const bool by = std::fabs(dy) > e;
  // The statement is made in one piece and goes to the stream at once; its
  // offsets, as length variables, write their statements while it is made.
  char head[3 * 24 + 2 * kNumberRoom + 32];
  char* p = head;
  *p++ = 'E';
  p = putInteger(p, n);
  if (bx && by) {
    p = putText(p, "=DTCreatePointRelative(E");
  } else if (bx) {
    p = putText(p, "=DTCreatePointSameY(E");
  } else if (by) {
    p = putText(p, "=DTCreatePointSameX(E");
  } else {
    p = putText(p, "=E");
  }
  p = putInteger(p, ref);
  if (bx) p = putOffset(p, dx * sc);
  if (by) p = putOffset(p, dy * sc);
  std::string& line = module().pointLine;
  line.assign(head, static_cast<std::size_t>(p - head));
  if (bx || by) line.append(tail);
  line.push_back('\n');
  scriptWrite(line);
  if (bx || by) ++s.statementCounter;
  ++s.elementCounter;
  return n;
}

}  // namespace

std::int32_t ScriptPoint(std::int32_t index, const ScriptAttributes& attributes, const ScriptElementData* data,
                         const ScriptPointXYZ* reference, const ScriptPointXYZ& point) {
  TraceScope t("ses1001");
  std::string& tail = module().pointTail;
  tail.clear();
  tail.append(attributes.blank == 1 ? ",1," : ",0,");
  scriptAppendColourText(tail, attributes.colour);
  tail.push_back(',');
  scriptAppendInfoText(tail, index, data);
  tail.push_back(')');
  return writePoint("ses1001", tail, reference, point);
}

std::int32_t ScriptPointBare(const ScriptPointXYZ* reference, const ScriptPointXYZ& point) {
  TraceScope t("ses1000");
  return writePoint("ses1000", ",0,{0},{})", reference, point);
}

std::int32_t ScriptConstructionPoint(const ScriptPointXYZ* reference, const ScriptPointXYZ& point) {
  return ScriptPoint(0, ScriptAttributes{}, nullptr, reference, point);
}

int ScriptRecordCreated(std::int32_t n, std::vector<std::int32_t>& list) {
  TraceScope t("ses1100");
  try {
    if (list.size() == list.capacity()) {
      const std::size_t capacity = list.capacity() == 0 ? 8 : list.capacity() * 2;
      list.reserve(capacity);
      if (runSettings().traceLevel > 1) std::printf("ses1100 : cad_groesse auf %zu\n", list.capacity());
    }
    list.push_back(n);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory("ses1100");
  }
  return 0;
}

void ScriptFinishElement(std::int32_t n, std::vector<std::int32_t>& created) {
  ScriptRecordCreated(n, created);
  ScriptState& s = scriptState();
  ++s.elementCounter;
  ++s.statementCounter;
}

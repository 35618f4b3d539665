#include "support/assign_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgCannotOpen = 150;
constexpr int kMsgNoMemory = 370;
constexpr int kMsgBadLeader = 710;
constexpr int kMsgBadValue = 860;
constexpr std::size_t kGlobalLineLength = 82;
constexpr std::size_t kTableLineLength = 255;
constexpr std::size_t kMaxColourDefinitions = 65536;
constexpr std::size_t kMaxDxfLineTypes = 1024;
constexpr std::size_t kMaxDashElements = 12;

// Pen widths of the plotter standard, used when the line weights are to be
// mapped onto standard pens.
constexpr double kStandardPenWidths[] = {0.13, 0.18, 0.25, 0.35, 0.5, 0.7, 1.0, 1.4, 2.0};
// Line widths of the sending system 11, by its width numbers 0..5.
constexpr double kSender11Widths[] = {0.18, 0.25, 0.35, 0.5, 0.7, 1.0};

enum class Kind { kReal, kRounded, kInteger, kText };

struct GlobalKey {
  const char* name;
  Kind kind;
  double low, high;  // range; low > high: any value
};

constexpr GlobalKey kGlobalKeys[] = {
    {"ALLG_SYST_EPSL", Kind::kReal, 1, 0},      {"MINM_RESO_WERT", Kind::kReal, 1, 0},
    {"MAXM_KRBG_ITPO", Kind::kRounded, 2, 128}, {"HYPB_ITPO_FAKT", Kind::kReal, 0.1, 5},
    {"PARB_ITPO_FAKT", Kind::kReal, 0.1, 5},    {"MAXM_SPLI_FAKT", Kind::kReal, 0.1, 10},
    {"HOEH_DICK_FAKT", Kind::kReal, 0.0, 10},   {"ABMA_RAHM", Kind::kInteger, 0, 1e6},
    {"WIMA_RAHM", Kind::kInteger, 0, 1e6},      {"BOMA_RAHM", Kind::kInteger, 0, 1e6},
    {"RAMA_RAHM", Kind::kInteger, 0, 1e6},      {"DUMA_RAHM", Kind::kInteger, 0, 1e6},
    {"TXTV_INDX", Kind::kInteger, 0, 1e6},      {"TXTH_INDX", Kind::kInteger, 0, 1e6},
    {"TXTM_INDX", Kind::kInteger, 0, 1e6},      {"TXTT_INDX", Kind::kInteger, 0, 1e6},
    {"TXTN_INDX", Kind::kInteger, 0, 1e6},      {"TXTP_INDX", Kind::kInteger, 0, 1e6},
    {"TXTB_INDX", Kind::kInteger, 0, 1e6},      {"TXTS_INDX", Kind::kInteger, 0, 1e6},
    {"SLSH_WINK", Kind::kReal, -360, 360},      {"TEXT_ESCP_ZCHN", Kind::kText, 0, 0},
    {"BEZG_PNKT_NAME", Kind::kText, 0, 0},      {"LEER_FEHL_MELD", Kind::kText, 0, 0},
};

void setDefaults(AssignTables& s) {
  s = AssignTables();
  for (auto& p : s.lineStyles) p = {2, 1};
  for (int i = 0; i < kLeaderPairs; ++i) s.leaders[i] = {i + 1, i + 1};
}

AssignTables& state() {
  static AssignTables tables = [] {
    AssignTables s;
    setDefaults(s);
    return s;
  }();
  return tables;
}

const RunStateRegistrar kRunStateRegistered("assignment tables", resetAssignTables);

std::string pathOf(const char* file) { return runPaths().assignDir + file; }


void reportFile(const char* code, int number, int severity, int channel, const std::string& name) {
  mfaSetCurrentName(name);
  mfaReport(code, number, channel, severity, {}, {}, name, nullptr);
}

// A table the run cannot go on without is named on the console as well: the
// run ends, and the user is to see why without opening the protocol.
enum class Need { kOptional, kRequired };

std::FILE* openTable(const char* code, const std::string& name, Need need) {
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) {
    reportFile(code, kMsgCannotOpen, Severity::kError,
               need == Need::kRequired ? Channel::kBoth : Channel::kProtocol, name);
  }
  return file;
}

bool pairOf(const std::string& line, long& a, long& b) {
  return std::sscanf(line.c_str(), "%ld,%ld", &a, &b) == 2;
}

bool toolkitExchange() {
  return runState().useToolkit && runHas(RunModeBit::kDxf | RunModeBit::kDwg);
}

void storeGlobal(GlobalValues& g, int key, double real, long integer, const std::string& text) {
  switch (key) {
    case 0: g.systemEpsilon = real; break;
    case 1: g.minimumResolution = real; break;
    case 2: g.maxArcInterpolation = static_cast<int>(real + 0.5); break;
    case 3: g.hyperbolaFactor = real; break;
    case 4: g.parabolaFactor = real; break;
    case 5: g.splineFactor = real; break;
    case 6: g.heightThicknessFactor = real; break;
    case 7: case 8: case 9: case 10: case 11: g.frame[key - 7] = integer; break;
    case 12: case 13: case 14: case 15: case 16: case 17: case 18: case 19:
      g.textIndex[key - 12] = integer; break;
    case 20: g.slashAngle = real; break;
    case 21: g.textEscapes = text; break;
    case 22: g.referencePointName = text; break;
    case 23: g.emptyErrorText = text; break;
  }
}

// The text between the double quotes of a line; false without both quotes.
bool quotedText(const std::string& line, std::string& text) {
  const std::size_t open = line.find('"');
  if (open == std::string::npos) return false;
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string::npos) return false;
  text = line.substr(open + 1, close - open - 1);
  return true;
}

}  // namespace

AssignTables& assignTables() { return state(); }

void resetAssignTables() { setDefaults(state()); }

int readGlobalValues() {
  TraceScope t("zti100");
  GlobalValues& g = state().global;
  g = GlobalValues();
  std::FILE* file = std::fopen(pathOf("global.cfg").c_str(), "r");
  if (file == nullptr) return 0;  // the defaults stay in force
  std::string line;
  while (readTableLine(file, kGlobalLineLength, line)) {
    char name[kGlobalLineLength + 1] = {};
    double real = 0.0;
    long integer = 0;
    if (std::sscanf(line.c_str(), "%82s %lf %ld", name, &real, &integer) < 1) continue;
    for (std::size_t k = 0; k < std::size(kGlobalKeys); ++k) {
      const GlobalKey& key = kGlobalKeys[k];
      if (std::strcmp(name, key.name) != 0) continue;
      std::string text;
      if (key.kind == Kind::kText) {
        if (!quotedText(line, text)) {
          reportFile(key.name, kMsgBadValue, Severity::kWarning, Channel::kProtocol,
                     pathOf("global.cfg"));
          GlobalValues defaults;
          storeGlobal(g, static_cast<int>(k), 0, 0,
                      k == 21 ? defaults.textEscapes
                              : k == 22 ? defaults.referencePointName : defaults.emptyErrorText);
          break;
        }
      } else {
        const double value = key.kind == Kind::kInteger ? static_cast<double>(real) : real;
        if (key.low <= key.high && (value < key.low || value > key.high)) {
          reportFile(key.name, kMsgBadValue, Severity::kWarning, Channel::kProtocol,
                     pathOf("global.cfg"));
          break;
        }
        integer = static_cast<long>(real);
      }
      storeGlobal(g, static_cast<int>(k), real, integer, text);
      break;
    }
  }
  std::fclose(file);
  return 0;
}

int readLineStyles() {
  TraceScope t("zti200");
  AssignTables& s = state();
  for (auto& p : s.lineStyles) p = {2, 1};
  const std::string name = pathOf("linestyle.cfg");
  std::FILE* file = openTable(t.code(), name, Need::kRequired);
  if (file == nullptr) return -1;
  std::string line;
  int n = 0;
  while (n < kLineStylePairs && readTableLine(file, kTableLineLength, line)) {
    long a, b;
    if (!pairOf(line, a, b)) continue;
    s.lineStyles[n++] = {a < 1 ? 2 : a, b};
  }
  std::fclose(file);
  return 0;
}

int readColourLists() {
  TraceScope t("zti500");
  AssignTables& s = state();
  for (auto& list : s.colourLists) list.clear();
  const std::string name = pathOf("color.cfg");
  std::FILE* file = openTable(t.code(), name, Need::kRequired);
  if (file == nullptr) return -1;
  std::string line;
  while (readTableLine(file, kTableLineLength, line)) {
    long a, b;
    if (!pairOf(line, a, b) || a < 0 || a >= kColourListCount) continue;
    if (s.colourLists[a].size() < static_cast<std::size_t>(kColourListLength)) {
      s.colourLists[a].push_back(b);
    }
  }
  std::fclose(file);
  return 0;
}

int readLeaders() {
  TraceScope t("zti600");
  AssignTables& s = state();
  for (int i = 0; i < kLeaderPairs; ++i) s.leaders[i] = {i + 1, i + 1};
  const std::string name = pathOf("leader.cfg");
  std::FILE* file = openTable(t.code(), name, Need::kRequired);
  if (file == nullptr) return -1;
  std::string line;
  int lines = 0, n = 0;
  while (lines < kLeaderPairs && readTableLine(file, kTableLineLength, line)) {
    long a, b;
    if (!pairOf(line, a, b)) continue;
    ++lines;
    if (a < 1 || a > kLeaderPairs) {
      mfaWarning(t.code(), kMsgBadLeader, Channel::kProtocol);
      continue;
    }
    s.leaders[n++] = {a, b};
  }
  std::fclose(file);
  return 0;
}

int readColourDefinitions() {
  TraceScope t("zti510");
  AssignTables& s = state();
  s.colourDefinitions.clear();
  const std::string name = pathOf("farbtabelle.zuor");
  const bool traced = runSettings().traceLevel > 0;
  if (traced) std::printf("-> zti510 : Einlesen der Farbdefinitionstabelle : %s\n", name.c_str());
  std::FILE* file = openTable(t.code(), name, Need::kOptional);
  if (file == nullptr) return -1;
  std::string line;
  while (readTableLine(file, kTableLineLength, line)) {
    char colourName[kTableLineLength + 1] = {};
    ColourDefinition d;
    if (std::sscanf(line.c_str(), "%255s %ld %ld %ld %ld", colourName, &d.red, &d.green, &d.blue,
                    &d.number) != 5) {
      continue;
    }
    if (s.colourDefinitions.size() >= kMaxColourDefinitions) {
      mfaError(t.code(), kMsgNoMemory, Channel::kBoth);
      std::fclose(file);
      return -1;
    }
    d.name = colourName;
    if (traced) {
      std::printf("-> zti510 : Name : %s (%ld,%ld,%ld), nummer = %ld\n", d.name.c_str(), d.red,
                  d.green, d.blue, d.number);
    }
    s.colourDefinitions.push_back(d);
  }
  std::fclose(file);
  return 0;
}

// A line type per line: name, description, line style, count of dash
// elements, pattern length and the element lengths, separated by ";".
int readDxfLineTypes() {
  TraceScope t("zti201");
  AssignTables& s = state();
  s.dxfLineTypes.clear();
  const std::string name = pathOf("dxf_linetypes.zuor");
  std::FILE* file = openTable("zti200", name, Need::kOptional);
  if (file == nullptr) return -1;
  std::string line;
  while (s.dxfLineTypes.size() < kMaxDxfLineTypes && readTableLine(file, kTableLineLength, line)) {
    if (line.empty() || line[0] == '/' || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
      const std::size_t semi = line.find(';', from);
      fields.push_back(line.substr(from, semi == std::string::npos ? std::string::npos : semi - from));
      if (semi == std::string::npos) break;
      from = semi + 1;
    }
    if (fields.size() < 5 || fields[0].empty()) continue;
    DxfLineType type;
    type.name = fields[0];
    type.description = fields[1];
    char* end = nullptr;
    type.style = static_cast<int>(std::strtol(fields[2].c_str(), &end, 10));
    const long count = std::strtol(fields[3].c_str(), &end, 10);
    type.patternLength = std::strtod(fields[4].c_str(), &end);
    if (count < 0 || static_cast<std::size_t>(count) > kMaxDashElements ||
        fields.size() < 5 + static_cast<std::size_t>(count)) {
      continue;
    }
    for (long i = 0; i < count; ++i) type.elements.push_back(std::strtod(fields[5 + i].c_str(), &end));
    s.dxfLineTypes.push_back(type);
  }
  std::fclose(file);
  return 0;
}

int readAssignments(double maxLineWidth, long lineWeightGradations) {
  TraceScope t("zti300");
  double& factor = state().lineWidthFactor;
  factor = 1.0;
  if (runIsIges() && lineWeightGradations > 0 && maxLineWidth > 0.0) {
    factor = maxLineWidth / static_cast<double>(lineWeightGradations);
  }
  return 0;
}

int cadLineStyle(int n) {
  TraceScope t("zti220");
  if (toolkitExchange()) return n;
  for (const auto& p : state().lineStyles) {
    if (p.second == n) return static_cast<int>(p.first);
  }
  return 1;
}

int exchangeLineStyle(int n) {
  TraceScope t("zti240");
  if (runState().useToolkit) return n;
  if (runIsIges()) {
    if (n <= 0) return 1;
    for (const auto& p : state().lineStyles) {
      if (p.first == n) return static_cast<int>(p.second);
    }
    return 1;
  }
  // The CAD line styles count from 1: style n draws with the n-th line
  // type of the table.
  const auto& types = state().dxfLineTypes;
  if (n >= 1 && static_cast<std::size_t>(n) <= types.size()) return types[static_cast<std::size_t>(n) - 1].style;
  return 1;
}

int widthNumber(double width) {
  TraceScope t("zti320");
  const double factor = state().lineWidthFactor;
  const double n = runIsIges() ? width / factor + 0.5 : width * 100.0;
  if (!(n > -2e9 && n < 2e9)) return 0;
  return static_cast<int>(n);
}

double widthOfNumber(int n) {
  TraceScope t("zti340");
  if (runIsIges() && !runState().useToolkit) {
    double w;
    if (runState().senderCode == 11) {
      w = (n >= 0 && n <= 5) ? kSender11Widths[n] : 2.0;
    } else {
      w = n * state().lineWidthFactor;
      if (w < 0.0001) w = 0.0001;
    }
    if (runSettings().tlvvMode == 1) {
      double pen = kStandardPenWidths[std::size(kStandardPenWidths) - 1];
      for (double p : kStandardPenWidths) {
        if (p >= w) {
          pen = p;
          break;
        }
      }
      w = pen;
    }
    return w;
  }
  const double w = n / 100.0;
  return w > 0.0001 ? w : 0.5;
}

int colourListOf(int c) {
  TraceScope t("zti520");
  if (toolkitExchange()) return c;
  const AssignTables& s = state();
  int result = 0;
  for (int i = 0; i < kColourListCount; ++i) {
    for (long v : s.colourLists[i]) {
      if (v == c) {
        result = static_cast<int>(s.colourListNumber[i]);
        break;
      }
    }
  }
  return result;
}

std::pair<int, int> colourDefinitionOf(long number, long red, long green, long blue,
                                       const std::string& name,
                                       const MakeColourElement& makeElement) {
  TraceScope t("zti521");
  const int list = colourListOf(static_cast<int>(number));
  if (toolkitExchange() || !runHas(RunModeBit::kPlus)) return {list, -1};
  if (red < 0 || green < 0 || blue < 0) return {list, -2};
  AssignTables& s = state();
  const std::array<long, 3> key = {red, green, blue};
  const auto made = s.madeColours.find(key);
  if (made != s.madeColours.end()) return {list, made->second};
  if (!makeElement) return {list, -1};
  auto percent = [](long v) { return (v > 255 ? 255 : v) * 100 / 255; };
  const int element = makeElement(percent(red), percent(green), percent(blue), name, number);
  if (element < 0) return {list, -1};
  s.madeColours.emplace(key, element);
  return {list, element};
}

int cadColourOf(long c, const ColourOfElement& colourOf, const NearestPaletteColour& nearest) {
  TraceScope t("zti540");
  if (runState().useToolkit) return c >= 0 ? static_cast<int>(c) : 0;
  if (c >= 0) {
    const long list = c > 9 ? 1 : c;
    if (list >= kColourListCount) return 0;  // list 9 does not exist
    const auto& values = state().colourLists[list];
    return values.empty() ? 0 : static_cast<int>(values.front());
  }
  if (!colourOf || !nearest || c < -4000000000L) return 0;
  const int index = static_cast<int>(-c / 2 + 1);
  double r, g, b;
  if (!colourOf(index, r, g, b)) return 0;
  return nearest(r, g, b);
}

int leaderKindOf(long v) {
  TraceScope t("zti620");
  for (const auto& p : state().leaders) {
    if (p.second == v) return static_cast<int>(p.first);
  }
  return 1;
}

bool readTableLine(std::FILE* file, std::size_t limit, std::string& line, bool* cut) {
  line.clear();
  if (cut != nullptr) *cut = false;
  int c;
  bool any = false;
  while ((c = std::fgetc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < limit) {
      line += static_cast<char>(c);
    } else if (cut != nullptr) {
      *cut = true;
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// The run configuration file.
//
// One file serves every direction: each line starts with a prefix naming
// the exchange format it is meant for ("TR" all runs, "I" IGES, "DX" DXF,
// "DW" DWG), followed by a keyword beginning with "_" and its value.
#include "support/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/assign_tables.h"
#include "support/builtin_texts.h"
#include "support/message_numbers.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgIncompleteSettings = 115;
constexpr int kMsgConfigProblem = 870;

// What became of the configuration file.
enum class ConfigFileState {
  kRead,           // read, and it holds settings
  kNotFound,       // the named file does not exist, or the search found none
  kUnreadable,     // a directory, or opening or reading it failed
  kNoSettings,     // read, but not one line holds a setting (empty, or not a configuration)
};

// What a keyword fills.
enum class Key {
  kLevel, kLanguage, kMessageDir, kAssignDir, kScriptIncludeDir, kParameterDir, kProtocolDir,
  kTempDir, kUbblDir, kInputDir, kSpline, kGraphics, kDimension, kUserElement, kView,
  kViewNumber, kText, kTextWidth, kTiming, kTimingCad, kName, kGraphicInfo, kProtocol,
  kStatistics, kBlank, kUnit, kMessageLevel, kGroup, kTrace, kSist, kInbi, kLayer, kSender,
  kWorld, kPoint, kArc, kEllipse, kTlvv, kPrecision, kQuorixFont, kStartText, kType, kAcad
};

struct Keyword {
  std::string_view word;
  Key key;
  int startText;  // index into RunSettings::startTexts for kStartText
};

// Longer keywords first where one is the beginning of another (_WTEXT).
constexpr Keyword kKeywords[] = {
    {"_STUF", Key::kLevel, 0},        {"_LANG", Key::kLanguage, 0},
    {"_MEDI", Key::kMessageDir, 0},   {"_ZUOR", Key::kAssignDir, 0},
    {"_KPLI", Key::kScriptIncludeDir, 0}, {"_PARA", Key::kParameterDir, 0},
    {"_PROT", Key::kProtocolDir, 0},  {"_TEMP", Key::kTempDir, 0},
    {"_UBBL", Key::kUbblDir, 0},      {"_PATH", Key::kInputDir, 0},
    {"_PFAD", Key::kInputDir, 0},     {"_SPLI", Key::kSpline, 0},
    {"_GRAF", Key::kGraphics, 0},     {"_MASS", Key::kDimension, 0},
    {"_USER", Key::kUserElement, 0},  {"_UBIS", Key::kUserElement, 0},
    {"_VIEW", Key::kView, 0},         {"_VINR", Key::kViewNumber, 0},
    {"_TEXT", Key::kText, 0},         {"_WTEXT", Key::kTextWidth, 0},
    {"_WTXT", Key::kTextWidth, 0},    {"_TIME", Key::kTiming, 0},
    {"_TCAD", Key::kTimingCad, 0},    {"_NAME", Key::kName, 0},
    {"_GINF", Key::kGraphicInfo, 0},  {"_DATP", Key::kProtocol, 0},
    {"_STAT", Key::kStatistics, 0},   {"_BLAN", Key::kBlank, 0},
    {"_UNIT", Key::kUnit, 0},         {"_MESS", Key::kMessageLevel, 0},
    {"_GRUP", Key::kGroup, 0},        {"_TEST", Key::kTrace, 0},
    {"_SIST", Key::kSist, 0},         {"_INBI", Key::kInbi, 0},
    {"_LAYR", Key::kLayer, 0},        {"_SPEZ", Key::kSender, 0},
    {"_SPEC", Key::kSender, 0},       {"_WORL", Key::kWorld, 0},
    {"_WELT", Key::kWorld, 0},        {"_POIN", Key::kPoint, 0},
    {"_PUNK", Key::kPoint, 0},        {"_KRBG", Key::kArc, 0},
    {"_ARC", Key::kArc, 0},           {"_ELLI", Key::kEllipse, 0},
    {"_TLVV", Key::kTlvv, 0},         {"_PREC", Key::kPrecision, 0},
    {"_Quorix_Font", Key::kQuorixFont, 0},
    {"_FIRM", Key::kStartText, kStartCompany},
    {"_ASPR", Key::kStartText, kStartContact},
    {"_TEL", Key::kStartText, kStartTelephone},
    {"_ADRS", Key::kStartText, kStartAddress},
    {"_PROJ", Key::kStartText, kStartProject},
    {"_PROK", Key::kStartText, kStartProjectShort},
    {"_VARI", Key::kStartText, kStartVariant},
    {"_VERT", Key::kStartText, kStartDistribution},
    {"_GDAT", Key::kStartText, kStartDate},
    {"_AUTH", Key::kStartText, kStartAuthor},
    {"_EFA", Key::kStartText, kStartEfa},
    {"_ENA", Key::kStartText, kStartEna},
    {"_TYPE", Key::kType, 0},         {"_ACAD", Key::kAcad, 0},
};

struct Word {
  std::string_view text;
  int value;
};

constexpr Word kSenderNames[] = {
    {"auto", 99}, {"drafting", 1}, {"dogs", 2}, {"euclid", 3}, {"quorix", 4},
    {"medusa", 5}, {"unigraphics", 6}, {"proren", 7}, {"konsys-draft", 8},
    {"autocad", 10}, {"wendrisk", 90}, {"no", 0}, {"nein", 0}, {"false", 0},
};

constexpr Word kTraceLevels[] = {
    {"no", 0}, {"nein", 0}, {"false", 0}, {"view", 1}, {"gruppe", 2}, {"group", 2},
    {"mass", 4}, {"measure", 4}, {"test", 5}, {"time1", 10}, {"time2", 11},
};

constexpr Word kMessageLevels[] = {{"norm", 4}, {"meld", 3}, {"warn", 2}, {"err", 1}};

constexpr Word kAcadVersions[] = {
    {"2005", 1018}, {"R2005", 1018}, {"2004", 1018}, {"R2004", 1018}, {"2000", 1015},
    {"R2000", 1015}, {"14", 1014}, {"R14", 1014}, {"13", 1012}, {"R13", 1012},
    {"12", 1009}, {"R12", 1009}, {"11", 1009}, {"R11", 1009}, {"10", 1006},
    {"R10", 1006}, {"9", 1004}, {"R9", 1004}, {"26", 1003}, {"R26", 1003},
    {"25", 1002}, {"R25", 1002},
};

constexpr const char* kSearchDirs[] = {"", "~/", "~/korvell/iges/", "/korvell/cad/iges/"};

// The state of this module: the records of the run and the texts as read.
struct ConfigState {
  RunPaths paths;
  RunSettings settings;
  std::string texts[std::size(kKeywords)];  // value texts as read, by keyword
  bool given[std::size(kKeywords)] = {};
  int runCounter = 0;  // kept over resets: counts the runs of the process
};

ConfigState& configState() {
  static ConfigState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("run configuration", resetRunConfiguration);

bool lookUp(const Word* table, std::size_t count, std::string_view text, int& value) {
  for (std::size_t i = 0; i < count; ++i) {
    if (table[i].text == text) {
      value = table[i].value;
      return true;
    }
  }
  return false;
}
template <std::size_t N>
bool lookUp(const Word (&table)[N], std::string_view text, int& value) {
  return lookUp(table, N, text, value);
}

bool isYes(std::string_view v) { return v == "yes" || v == "ja" || v == "true"; }
bool isNo(std::string_view v) { return v == "no" || v == "nein" || v == "false"; }

// Sets `target` to 1 or 0 for a yes or no text, leaves it otherwise.
void yesNo(std::string_view v, int& target) {
  if (isYes(v)) target = 1;
  else if (isNo(v)) target = 0;
}

std::string expandHome(const std::string& path) {
  if (path.empty() || path[0] != '~') return path;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + path.substr(1);
}

std::string normalisedDirectory(const std::string& value) {
  std::string dir = expandHome(value);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool readable(const std::string& dir) { return access(dir.c_str(), R_OK) == 0; }

// The configuration file of the search path, or "" when none exists.
std::string searchConfigFile() {
  TraceScope t("stt501");
  const char* own = runHas(RunModeBit::kOutput) ? "iges_pre.config" : "iges_post.config";
  for (const char* dir : kSearchDirs) {
    for (const char* name : {own, "iges.config"}) {
      const std::string path = expandHome(dir) + name;
      if (access(path.c_str(), R_OK) == 0) return path;
    }
  }
  return "";
}

// Does the line belong to this run?
bool lineApplies(std::string_view line) {
  if (line.starts_with("TR")) return true;
  if (runHas(RunModeBit::kDxf)) return line.starts_with("DX");
  if (runHas(RunModeBit::kDwg)) return line.starts_with("DW");
  return line.starts_with("I");
}

// The keyword at the first "_": the longest entry of the table that the
// text begins with.
int keywordAt(std::string_view text) {
  int found = -1;
  for (std::size_t i = 0; i < std::size(kKeywords); ++i) {
    if (text.starts_with(kKeywords[i].word) &&
        (found < 0 || kKeywords[i].word.size() > kKeywords[found].word.size())) {
      found = static_cast<int>(i);
    }
  }
  return found;
}

bool isFreeText(Key key) { return key == Key::kStartText || key == Key::kQuorixFont; }

// The value after the keyword: blanks and quotes skipped; a word ends at the
// next blank, a free text runs to the end of the line; trailing quotes (and
// for free texts trailing blanks) are removed.
std::string valueOf(std::string_view rest, bool freeText) {
  std::size_t b = 0;
  while (b < rest.size() && (rest[b] == ' ' || rest[b] == '\t' || rest[b] == '"')) ++b;
  rest.remove_prefix(b);
  if (!freeText) {
    const std::size_t end = rest.find_first_of(" \t");
    if (end != std::string_view::npos) rest = rest.substr(0, end);
  }
  while (!rest.empty() &&
         (rest.back() == '"' || (freeText && (rest.back() == ' ' || rest.back() == '\t')))) {
    rest.remove_suffix(1);
  }
  return std::string(rest);
}

bool keepsFirst(Key key) { return key == Key::kLevel || key == Key::kStartText; }

// Reads the lines of the file that belong to this run.  Returns the number
// of lines of the file that hold a setting of some run: a prefix and a known
// keyword.
int readFile(std::FILE* file, bool& problem) {
  TraceScope t("stt502");
  ConfigState& s = configState();
  std::string line;
  bool cut;
  int settingLines = 0;
  while (readTableLine(file, kConfigLineLength, line, &cut)) {
    std::string_view v(line);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    // A setting carries the prefix of some run.
    if (!v.starts_with("TR") && !v.starts_with("DX") && !v.starts_with("DW") && !v.starts_with("I")) continue;
    const std::size_t underscore = v.find('_');
    if (underscore == std::string_view::npos) continue;
    const std::string_view text = v.substr(underscore);
    const int k = keywordAt(text);
    if (k < 0) continue;
    ++settingLines;
    if (!lineApplies(v)) continue;
    if (cut) problem = true;  // an over-long line: its value is taken as far as it was read
    const Keyword& kw = kKeywords[k];
    // The rest of the keyword as written (_ZUORDNUNG counts as _ZUOR).
    std::size_t end = kw.word.size();
    if (!isFreeText(kw.key)) {
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '"') ++end;
    }
    if (keepsFirst(kw.key) && kw.key == Key::kStartText) {
      if (!s.settings.startTexts[kw.startText].empty()) continue;
    }
    if (keepsFirst(kw.key) && s.given[k]) continue;
    s.texts[k] = valueOf(text.substr(end), isFreeText(kw.key));
    s.given[k] = true;
    if (kw.key == Key::kStartText) s.settings.startTexts[kw.startText] = s.texts[k];
  }
  return settingLines;
}

// The text last read for a key (any of its spellings), or nullptr.
const std::string* textOf(Key key) {
  ConfigState& s = configState();
  const std::string* found = nullptr;
  for (std::size_t i = 0; i < std::size(kKeywords); ++i) {
    if (kKeywords[i].key == key && s.given[i]) found = &s.texts[i];
  }
  return found;
}

std::string cutWord(const std::string& text, bool& problem) {
  if (text.size() <= kConfigWordLength) return text;
  problem = true;
  return text.substr(0, kConfigWordLength);
}

bool parseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0';
}

void interpretSwitches(bool& problem) {
  TraceScope t("stt503");
  RunSettings& st = configState().settings;
  const std::string* v;
  if ((v = textOf(Key::kLevel))) st.level = *v;
  if ((v = textOf(Key::kLanguage))) st.language = *v;
  if ((v = textOf(Key::kSpline))) yesNo(*v, st.splineMode);
  if ((v = textOf(Key::kGraphics))) yesNo(*v, st.graphicsMode);
  if ((v = textOf(Key::kDimension))) {
    if (*v == "PLUS" || *v == "plus") st.dimensionMode = 1;
    else if (*v == "true" || isNo(*v)) st.dimensionMode = 0;
    else st.dimensionMode = 2;
  }
  if ((v = textOf(Key::kUserElement))) {
    if (*v == "vorh" || *v == "exist") st.userElementMode = 0;
    else if (*v == "neu" || *v == "new") st.userElementMode = 1;
    else if (*v == "aufl" || *v == "diss") st.userElementMode = 2;
  }
  if ((v = textOf(Key::kView))) {
    if (*v == "border" || *v == "rand") st.viewMode = 2;
    else yesNo(*v, st.viewMode);
  }
  if ((v = textOf(Key::kViewNumber))) {
    double n;
    if (isNo(*v)) st.viewNumber = 0;
    else if (parseNumber(*v, n) && n >= 0 && n < 1e9) st.viewNumber = static_cast<int>(n);
    else problem = true;
    if (st.viewNumber > 0 && st.traceLevel > 0) {
      std::printf("-> stt500 : Einschr\xE4nkung f\xFCr darzustellende Views (Nr) : %d\n",
                  st.viewNumber);
    }
  }
  if ((v = textOf(Key::kText))) st.textMode = isNo(*v) ? 0 : (*v == "true" || isYes(*v)) ? 1 : 3;
  if ((v = textOf(Key::kTextWidth))) {
    double w;
    if (parseNumber(*v, w) && w >= 0.1 && w <= 2.9) st.textWidthFactor = w;
  }
  if ((v = textOf(Key::kTiming))) yesNo(*v, st.timing);
  if ((v = textOf(Key::kTimingCad))) yesNo(*v, st.timingCad);
  if ((v = textOf(Key::kName))) yesNo(*v, st.nameMode);
  if ((v = textOf(Key::kGraphicInfo))) {
    if (*v == "point" || *v == "punkt") st.graphicInfoMode = 2;
    else yesNo(*v, st.graphicInfoMode);
  }
  if ((v = textOf(Key::kProtocol))) {
    if (*v == "all" || *v == "alle") st.protocolMode = 2;
    else yesNo(*v, st.protocolMode);
  }
  if ((v = textOf(Key::kStatistics))) yesNo(*v, st.statisticsToConsole);
  if ((v = textOf(Key::kBlank))) yesNo(*v, st.blankMode);
  if ((v = textOf(Key::kUnit))) {
    if (*v == "false" || *v == "keine") st.unitMode = 0;
    else if (*v == "inch") st.unitMode = 1;
    else if (*v == "mm") st.unitMode = 2;
  }
  if ((v = textOf(Key::kMessageLevel)) && !lookUp(kMessageLevels, *v, st.messageLevel)) {
    st.messageLevel = -1;
  }
  if ((v = textOf(Key::kGroup))) yesNo(*v, st.groupMode);
  if ((v = textOf(Key::kTrace)) && !lookUp(kTraceLevels, *v, st.traceLevel)) st.traceLevel = 99;
  if ((v = textOf(Key::kSist))) yesNo(*v, st.sistMode);
  if ((v = textOf(Key::kInbi))) yesNo(*v, st.inbiMode);
  if ((v = textOf(Key::kLayer))) {
    if (*v == "false" || *v == "nein" || *v == "numm") st.layerNames = 0;
    else if (*v == "true" || *v == "orig") st.layerNames = 1;
  }
  if ((v = textOf(Key::kSender))) lookUp(kSenderNames, *v, st.senderCode);
  if ((v = textOf(Key::kWorld))) yesNo(*v, st.worldMode);
  if ((v = textOf(Key::kPoint))) st.pointMode = (*v == "length" || *v == "laenge") ? 0 : 1;
  if ((v = textOf(Key::kArc))) {
    if (*v == "ppp") st.arcMode = 0;
    else if (*v == "sce") st.arcMode = 1;
  }
  if ((v = textOf(Key::kEllipse))) {
    if (*v == "true") st.ellipseMode = 0;
    else if (*v == "poly") st.ellipseMode = 1;
  }
  if ((v = textOf(Key::kTlvv))) {
    st.tlvvMode = *v == "classic" ? 1 : *v == "latest" ? 99 : 9999;
  }
  if ((v = textOf(Key::kPrecision))) {
    double p;
    if (parseNumber(*v, p)) {
      st.precision = p;
      st.precisionSet = true;
    } else {
      problem = true;
    }
  }
  if ((v = textOf(Key::kQuorixFont))) {
    st.quorixFont = *v;
    st.senderCode = 4;
  }
  if ((v = textOf(Key::kType))) st.typeText = cutWord(*v, problem);
  if ((v = textOf(Key::kAcad))) {
    const std::string word = cutWord(*v, problem);
    if (!lookUp(kAcadVersions, word, st.dwgVersion)) {
      std::printf("ERROR: unsupported Autocad Version (%s), using default !\n", word.c_str());
    }
  }
}

std::string directoryOf(Key key, const std::string& fallback) {
  const std::string* v = textOf(key);
  return (v != nullptr && !v->empty()) ? normalisedDirectory(*v) : fallback;
}

// The installation's data directory: "ririzidedareru/" in the program's
// directory, or in the current one when that is unknown.
std::string dataDirectory() {
  const RunPaths& p = configState().paths;
  return (p.installDir.empty() ? std::string("./") : p.installDir) + "ririzidedareru/";
}

// Reports a directory that cannot be read: as a warning when a default takes
// its place, else as the error that ends the run.  Before the protocol is
// open the report reaches the console only.
void reportDirectory(const char* code, int number, int severity, const std::string& dir) {
  mfaSetCurrentName(dir);
  mfaReport(code, number, Channel::kBoth, severity, {}, {}, dir, nullptr);
}

// Directories with their defaults and read checks; 0 or the status 17.
ConfigResult settleDirectories() {
  TraceScope t("stt504");
  RunPaths& p = configState().paths;
  const std::string base = dataDirectory();
  const char* sub = runState().useToolkit ? "dwg/" : runHas(RunModeBit::kDxf) ? "dxf/" : "iges/";
  const std::string defaultAssign = base + "assign/" + sub;

  p.scriptIncludeDir = directoryOf(Key::kScriptIncludeDir, "#/ririzidedareru/kpl/");
  p.parameterDir = directoryOf(Key::kParameterDir, base);
  p.protocolDir = directoryOf(Key::kProtocolDir, "./");
  p.tempDir = directoryOf(Key::kTempDir, "/tmp/");
  p.ubblDir = directoryOf(Key::kUbblDir, "");
  p.inputDir = directoryOf(Key::kInputDir, "");
  p.assignDir = directoryOf(Key::kAssignDir, defaultAssign);

  if (!readable(p.assignDir)) {
    if (p.assignDir != defaultAssign) {
      reportDirectory(t.code(), BuiltinMessage::kDirectoryFallback, Severity::kWarning,
                      p.assignDir);
      p.assignDir = defaultAssign;
    }
    if (!readable(p.assignDir)) {
      reportDirectory(t.code(), BuiltinMessage::kDirectoryMissing, Severity::kError, p.assignDir);
      return kConfigDirectoryUnreadable;
    }
  }
  // A script include directory beginning with "#" is resolved by the CAD
  // system when it runs the script; only a real directory can be checked.
  if (p.scriptIncludeDir[0] != '#' && !readable(p.scriptIncludeDir)) {
    reportDirectory(t.code(), BuiltinMessage::kDirectoryMissing, Severity::kError,
                    p.scriptIncludeDir);
    return kConfigDirectoryUnreadable;
  }
  return kConfigRead;
}

// Loads the message file of the run's language and checks that it holds a
// text for every message the program uses.  A file that cannot be used
// leaves no message text of the run: the report of why the run ends, and
// every later one, takes the program's built-in texts.
ConfigResult loadMessageFile() {
  TraceScope t("stt506");
  RunPaths& p = configState().paths;
  p.messageDir = directoryOf(Key::kMessageDir, dataDirectory() + "msc/");
  p.messageFile = p.messageDir + "dt_" + runState().language.substr(0, 2) + ".msg";
  p.entityTable = p.messageDir + "entity_tab";
  struct stat info {};
  const bool regular = stat(p.messageFile.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  int missing = 0;
  if (regular && mfaLoad(p.messageFile) == 0) {
    std::size_t count = 0;
    const int* numbers = messageNumbersInUse(count);
    missing = mfaFirstMissingText(numbers, count);
    if (missing == 0) return kConfigRead;
  }
  mfaFree();
  mfaSetCurrentName(p.messageFile);
  if (missing == 0) {
    mfaReport(t.code(), BuiltinMessage::kMessageFileUnreadable, Channel::kConsole,
              Severity::kError, {}, {}, p.messageFile, nullptr);
  } else {
    mfaReport(t.code(), BuiltinMessage::kMessageFileIncomplete, Channel::kConsole,
              Severity::kError, {missing}, {}, p.messageFile, nullptr);
  }
  return kConfigNoMessageFile;
}

// Reads the configuration file; says what became of it.  `problem` is set
// when a line of it was too long.
ConfigFileState readConfigFile(const std::string& name, bool& problem) {
  TraceScope t("stt507");
  if (name.empty()) return ConfigFileState::kNotFound;
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? ConfigFileState::kNotFound
                                               : ConfigFileState::kUnreadable;
  }
  if (S_ISDIR(info.st_mode)) return ConfigFileState::kUnreadable;
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) return ConfigFileState::kUnreadable;
  const int settingLines = readFile(file, problem);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return ConfigFileState::kUnreadable;
  return settingLines > 0 ? ConfigFileState::kRead : ConfigFileState::kNoSettings;
}

// Says on the console why the run goes on with the defaults.
void reportConfigFile(ConfigFileState state, const std::string& name) {
  TraceScope t("stt508");
  int number = 0;
  switch (state) {
    case ConfigFileState::kRead:
      return;
    case ConfigFileState::kNotFound:
      number = BuiltinMessage::kConfigNotFound;
      break;
    case ConfigFileState::kUnreadable:
      number = BuiltinMessage::kConfigUnreadable;
      break;
    case ConfigFileState::kNoSettings:
      number = BuiltinMessage::kConfigWithoutSettings;
      break;
  }
  mfaSetCurrentName(name);
  mfaWarning("stt500", number, Channel::kConsole);
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string sectionFile(const char* stem, int pid, int counter) {
  return configState().paths.tempDir + stem + std::to_string(pid) + "_" +
         std::to_string(counter) + ".tmp";
}

void deriveNames(const std::string& inputFile) {
  TraceScope t("stt505");
  ConfigState& s = configState();
  RunPaths& p = s.paths;
  const std::string base = baseName(inputFile);
  p.protocolFile = p.protocolDir + (base.empty() ? std::string("trovak_iges") : base) + ".prot";
  const int pid = static_cast<int>(getpid());
  const int n = p.runCounter;
  p.igesStartFile = sectionFile("strt", pid, n);
  p.igesGlobalFile = sectionFile("glob", pid, n);
  p.igesDirectoryFile = sectionFile("dirc", pid, n);
  p.igesParameterFile = sectionFile("parm", pid, n);
  p.igesTerminateFile = sectionFile("term", pid, n);
}

}  // namespace

RunPaths& runPaths() { return configState().paths; }
RunSettings& runSettings() { return configState().settings; }

void resetRunConfiguration() {
  ConfigState& s = configState();
  const std::string installDir = s.paths.installDir;
  s.paths = RunPaths();
  s.paths.installDir = installDir;
  s.settings = RunSettings();
  for (std::size_t i = 0; i < std::size(kKeywords); ++i) {
    s.texts[i].clear();
    s.given[i] = false;
  }
}

ConfigResult readRunConfiguration(const std::string& level, const std::string& configFile,
                                  const std::string& inputFile) {
  TraceScope t("stt500");
  ConfigState& s = configState();
  resetRunConfiguration();
  s.paths.runCounter = ++s.runCounter;

  // The names the search for a configuration file tries in each directory.
  const std::string searched =
      std::string(runHas(RunModeBit::kOutput) ? "iges_pre.config" : "iges_post.config") + ", iges.config";
  s.paths.configFile = configFile.empty() ? searchConfigFile() : expandHome(configFile);
  bool problem = false;
  bool fileProblem = false;
  const ConfigFileState fileState = readConfigFile(s.paths.configFile, fileProblem);
  // The trace level decides about the notice of the file used.
  if (const std::string* v = textOf(Key::kTrace)) {
    if (!lookUp(kTraceLevels, *v, s.settings.traceLevel)) s.settings.traceLevel = 99;
  }
  if (s.settings.traceLevel > 0) {
    std::printf("-> stt500 : Verwendete Konfigurationsdatei -> %s\n", s.paths.configFile.c_str());
  }
  interpretSwitches(problem);
  // The command line's level wins over the file's.
  if (level.empty() && !s.settings.level.empty()) runState().level = s.settings.level;
  if (!s.settings.language.empty()) runState().language = s.settings.language;
  if (runState().language.empty()) runState().language = "deutsch";

  // The messages first: every later report of the run needs their texts.
  const ConfigResult messages = loadMessageFile();
  if (messages != kConfigRead) return messages;
  reportConfigFile(fileState, s.paths.configFile.empty() ? searched : s.paths.configFile);
  if (problem) mfaWarning(t.code(), kMsgIncompleteSettings, Channel::kConsole);
  if (fileProblem) {
    mfaSetCurrentName(s.paths.configFile);
    mfaWarning(t.code(), kMsgConfigProblem, Channel::kConsole);
  }

  const ConfigResult dirs = settleDirectories();
  if (dirs != kConfigRead) return dirs;
  deriveNames(inputFile);
  return kConfigRead;
}

// The command line and the dialog.  The switch table is scanned in order for
// every argument and the first entry that matches wins; the dialog collects
// the same choices as a short argument vector that the same table scans.
#include "driver/command_line.h"

#include <cstring>

#include "support/assign_tables.h"
#include "support/builtin_texts.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

enum class Match {
  kExact,          // the whole argument equals the text
  kPrefix,         // the argument begins with the text
  kPrefixAndMore,  // the argument begins with the text and has more after it
};

enum class Effect {
  kVersion,
  kHelp,
  kVersionAndHelp,
  kDialog,
  kDirection,
  kEdxIn,
  kEdxOut,
  kAcad,
  kLevel,
  kLanguage,
  kTlvv,
  kSvg,
};

// One row of the switch table.  Direction rows also say which phase they
// select, whether the drawing-database toolkit does the file work, and the
// toolkit's output format (-1: leave it, 0: DWG, 1: DXF).
struct SwitchEntry {
  const char* text;
  Match match;
  Effect effect;
  const char* phase = nullptr;
  int toolkit = 0;
  int outAsDxf = -1;
};

constexpr SwitchEntry kSwitches[] = {
    {"-ver", Match::kPrefix, Effect::kVersion},
    {"-v", Match::kExact, Effect::kVersion},
    {"-help", Match::kExact, Effect::kHelp},
    {"-?", Match::kExact, Effect::kVersionAndHelp},
    {"-dia", Match::kPrefix, Effect::kDialog},
    {"-pre", Match::kExact, Effect::kDirection, "IPRE"},
    {"-igesout", Match::kExact, Effect::kDirection, "IPRE"},
    {"-post", Match::kExact, Effect::kDirection, "IPST"},
    {"-igesin", Match::kExact, Effect::kDirection, "IPST"},
    {"-dxf12in", Match::kExact, Effect::kDirection, "DXFI"},
    {"-dxfin", Match::kExact, Effect::kDirection, "DXFI", 1},
    {"-dxf12out", Match::kExact, Effect::kDirection, "DXFO"},
    {"-dxfout", Match::kExact, Effect::kDirection, "DXFO", 1, 1},
    {"-edxin", Match::kExact, Effect::kEdxIn},
    {"-edxout", Match::kExact, Effect::kEdxOut},
    {"-dwgin", Match::kExact, Effect::kDirection, "DWGI", 1},
    {"-dwgout", Match::kExact, Effect::kDirection, "DWGO", 1, 0},
    {"-acad", Match::kPrefixAndMore, Effect::kAcad},
    {"-g1", Match::kPrefix, Effect::kLevel},
    {"-vdais", Match::kExact, Effect::kLevel},
    {"-plus", Match::kExact, Effect::kLevel},
    {"-stat", Match::kExact, Effect::kLevel},
    {"-lang", Match::kExact, Effect::kLanguage},
    {"-tlvv", Match::kExact, Effect::kTlvv},
    {"-svg", Match::kExact, Effect::kSvg},
};

// "-acad<ver>" suffixes and the drawing-file versions they select.
struct AcadVersion {
  const char* suffix;
  int fileVersion;
};

constexpr AcadVersion kAcadVersions[] = {
    {"25", DwgFileVersion::kAC1002},   {"26", DwgFileVersion::kAC1003},
    {"9", DwgFileVersion::kAC1004},    {"10", DwgFileVersion::kAC1006},
    {"11", DwgFileVersion::kAC1009},   {"12", DwgFileVersion::kAC1009},
    {"13", DwgFileVersion::kAC1012},   {"14", DwgFileVersion::kAC1014},
    {"2000", DwgFileVersion::kAC1015}, {"2004", DwgFileVersion::kAC1018},
    {"2005", DwgFileVersion::kAC1018},
};

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool matches(const SwitchEntry& entry, const std::string& argument) {
  switch (entry.match) {
    case Match::kExact:
      return argument == entry.text;
    case Match::kPrefix:
      return startsWith(argument, entry.text);
    case Match::kPrefixAndMore:
      return argument.size() > std::strlen(entry.text) && startsWith(argument, entry.text);
  }
  return false;
}

const SwitchEntry* findSwitch(const std::string& argument) {
  for (const SwitchEntry& entry : kSwitches) {
    if (matches(entry, argument)) return &entry;
  }
  return nullptr;
}

void takeFileName(const std::string& name, RunRequest& request) {
  std::string* slots[] = {&request.exchangeFile, &request.cadFile, &request.configFile};
  if (request.fileCount < 3) {
    *slots[request.fileCount] = name;
    ++request.fileCount;
  }
}

// Applies one switch; returns how many of the following arguments it took.
std::size_t applySwitch(const SwitchEntry& entry, const std::string& argument,
                        const std::string* next, RunRequest& request, bool& dialogWanted) {
  switch (entry.effect) {
    case Effect::kVersion:
      ++request.versionRequested;
      return 0;
    case Effect::kHelp:
      ++request.helpRequested;
      return 0;
    case Effect::kVersionAndHelp:
      ++request.versionRequested;
      ++request.helpRequested;
      return 0;
    case Effect::kDialog:
      dialogWanted = true;
      return 0;
    case Effect::kDirection:
      request.phase = entry.phase;
      request.useToolkit += entry.toolkit;
      if (entry.outAsDxf >= 0) request.dwgOutAsDxf = entry.outAsDxf;
      ++request.directionCount;
      return 0;
    case Effect::kEdxIn:
      ++request.edxIn;
      return 0;
    case Effect::kEdxOut:
      ++request.edxOut;
      return 0;
    case Effect::kAcad: {
      const int version = dwgVersionOfSuffix(argument.substr(std::strlen(entry.text)));
      if (version >= 0) request.dwgVersion = version;
      return 0;
    }
    case Effect::kLevel:
      request.level = argument.substr(1);
      return 0;
    case Effect::kLanguage:
      // A "-lang" without a following argument has nothing to take.
      if (next == nullptr) return 0;
      request.language = *next;
      request.languageGiven = true;
      return 1;
    case Effect::kTlvv:
      if (next == nullptr) return 0;
      request.tlvvValue = *next;
      request.tlvvGiven = true;
      return 1;
    case Effect::kSvg:
      // The picture's file name; "-svg" as the last argument names none.
      if (next == nullptr) return 0;
      request.svgFile = *next;
      return 1;
  }
  return 0;
}

// Scans args[start..] through the switch table; says whether "-dia" was seen.
bool scanArguments(std::size_t start, const std::vector<std::string>& args, RunRequest& request) {
  TraceScope t("stt011");
  bool dialogWanted = false;
  for (std::size_t i = start; i < args.size(); ++i) {
    const std::string& argument = args[i];
    const std::string* next = i + 1 < args.size() ? &args[i + 1] : nullptr;
    if (const SwitchEntry* entry = findSwitch(argument)) {
      i += applySwitch(*entry, argument, next, request, dialogWanted);
    } else if (!argument.empty() && argument[0] == '-') {
      // Unknown switches are ignored.
    } else {
      takeFileName(argument, request);
    }
  }
  return dialogWanted;
}

// ---------------------------------------------------------------------------
// Dialog

// A question of the dialog: its first line in both languages and its prompt
// line (the second line, which the answer follows on the same line).
struct Question {
  const char* german;
  const char* english;
  const char* promptGerman;
  const char* promptEnglish;
};

constexpr const char* kFilePromptGerman = "   (vollstaendigen Pfadnamen angeben) : ";
constexpr const char* kFilePromptEnglish = "   (use full pathname)    : ";

constexpr Question kDirectionQuestion = {
    "-> Bitte die Funktion eingeben", "-> function needed",
    "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=Ende))  : ",
    "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=quit))  : "};
constexpr Question kLevelQuestion = {"-> Bitte die Leistungsstufe angeben", "-> efficiency needed",
                                     "   (-g1/-g1b1/-g1b2/-plus/-vdais)     : ",
                                     "   (-g1/-g1b1/-g1b2/-plus/-vdais)     : "};
constexpr Question kDwgFileQuestion = {"-> Bitte den DWG-Dateinamen angeben",
                                       "-> name of DWG-file needed", kFilePromptGerman,
                                       kFilePromptEnglish};
constexpr Question kIgesFileQuestion = {"-> Bitte den IGES-Dateinamen angeben",
                                        "-> name of IGES-file needed", kFilePromptGerman,
                                        kFilePromptEnglish};
constexpr Question kDxfFileQuestion = {"-> Bitte den DXF-Dateinamen angeben",
                                       "-> name of DXF-file needed", kFilePromptGerman,
                                       kFilePromptEnglish};
constexpr Question kScriptFileQuestion = {"-> Bitte den KPL-Ausgabedateinamen angeben",
                                          "-> name of KPL-file needed", kFilePromptGerman,
                                          kFilePromptEnglish};
constexpr Question kInputFileQuestion = {"-> Bitte den Namen der Inputdatei angeben",
                                         "-> name of Input-file needed", kFilePromptGerman,
                                         kFilePromptEnglish};
constexpr Question kConfigFileQuestion = {"-> Bitte den Namen der Konfigurationsdatei angeben",
                                          "-> name of config-file needed", kFilePromptGerman,
                                          kFilePromptEnglish};

constexpr const char* kInvalidGerman = "\n\n-> unzulaessige Eingabe !!\n";
constexpr const char* kInvalidEnglish = "\n\n-> invalid input, retry !!\n";

// The directions the dialog accepts and the questions that follow each.
struct DialogDirection {
  const char* answer;
  const Question* exchangeFile;  // the exchange-file question
  bool asksLevel;
  bool input;  // input direction: asks for the KPL file, else for the input file
};

constexpr DialogDirection kDialogDirections[] = {
    {"-igesin", &kIgesFileQuestion, true, true},  {"-igesout", &kIgesFileQuestion, true, false},
    {"-dxf12in", &kDxfFileQuestion, false, true}, {"-dxfout", &kDxfFileQuestion, false, false},
    {"-dwgout", &kDwgFileQuestion, false, false}, {"-dwgin", &kDwgFileQuestion, false, true},
    {"-dxfin", &kDxfFileQuestion, false, true},
};

enum class AnswerRead { kLine, kTooLong, kEnd };

// Reads one answer line of at most kMaxDialogAnswer characters and drops its
// line end.  A longer line is read to its end and refused.
AnswerRead readAnswer(std::FILE* in, std::string& answer) {
  TraceScope t("stt021");
  bool tooLong = false;
  if (!readTableLine(in, kMaxDialogAnswer, answer, &tooLong)) return AnswerRead::kEnd;
  return tooLong ? AnswerRead::kTooLong : AnswerRead::kLine;
}

void askQuestion(const Question& question, const std::string& language, std::FILE* out) {
  const bool german = isGerman(language);
  std::fprintf(out, "%s\n%s", german ? question.german : question.english,
               german ? question.promptGerman : question.promptEnglish);
  std::fflush(out);
}

// The input ended while `question` waited for its answer: says so on its
// own line after the prompt.
void sayInputEnded(const Question& question, const std::string& language, std::FILE* out) {
  const bool german = isGerman(language);
  const char* asked = german ? question.german : question.english;
  if (std::strncmp(asked, "-> ", 3) == 0) asked += 3;
  char text[kMaxDialogAnswer + 256];
  mfaFormat(builtinText(BuiltinMessage::kDialogInputEnded, german), {}, asked, text, sizeof text);
  std::fprintf(out, "\n%s\n", text);
  std::fflush(out);
}

// Asks until the answer is accepted by `valid`; false when the input ended
// (which is said).
template <typename Valid>
bool askUntilValid(const Question& question, const std::string& language,
                   const DialogStreams& streams, std::string& answer, Valid valid) {
  for (;;) {
    askQuestion(question, language, streams.out);
    const AnswerRead read = readAnswer(streams.in, answer);
    if (read == AnswerRead::kEnd) {
      sayInputEnded(question, language, streams.out);
      return false;
    }
    if (read == AnswerRead::kLine && valid(answer)) return true;
    std::fputs(isGerman(language) ? kInvalidGerman : kInvalidEnglish, streams.out);
    std::fflush(streams.out);
  }
}

bool anyAnswer(const std::string&) { return true; }

bool validLevel(const std::string& answer) {
  return startsWith(answer, "-g1") || answer == "-plus" || answer == "-vdais" ||
         answer == "-stat";
}

const DialogDirection* findDialogDirection(const std::string& answer) {
  for (const DialogDirection& direction : kDialogDirections) {
    if (answer == direction.answer) return &direction;
  }
  return nullptr;
}

}  // namespace

bool isGerman(const std::string& language) { return language == "deutsch"; }

int dwgVersionOfSuffix(const std::string& suffix) {
  for (const AcadVersion& entry : kAcadVersions) {
    if (suffix == entry.suffix) return entry.fileVersion;
  }
  return -1;
}

int runDialog(const std::string& language, std::vector<std::string>& answers,
              const DialogStreams& streams) {
  TraceScope t("stt020");
  answers.clear();
  std::string answer;
  const DialogDirection* direction = nullptr;
  const bool gotDirection =
      askUntilValid(kDirectionQuestion, language, streams, answer, [&](const std::string& a) {
        return a == "q" || (direction = findDialogDirection(a)) != nullptr;
      });
  if (!gotDirection) return kDialogInputEnded;
  if (answer == "q") return kDialogQuit;
  answers.push_back(answer);

  if (direction->asksLevel) {
    if (!askUntilValid(kLevelQuestion, language, streams, answer, validLevel)) {
      answers.clear();
      return kDialogInputEnded;
    }
    answers.push_back(answer);
  }
  const Question* files[] = {direction->exchangeFile,
                             direction->input ? &kScriptFileQuestion : &kInputFileQuestion,
                             &kConfigFileQuestion};
  for (const Question* question : files) {
    if (!askUntilValid(*question, language, streams, answer, anyAnswer)) {
      answers.clear();
      return kDialogInputEnded;
    }
    answers.push_back(answer);
  }
  return 0;
}

int parseCommandLine(std::size_t start, const std::vector<std::string>& args, RunRequest& request,
                     const DialogStreams& streams) {
  TraceScope t("stt010");
  if (start >= args.size()) return 1;
  if (!scanArguments(start, args, request)) return 0;

  std::vector<std::string> answers;
  const int dialog = runDialog(request.language, answers, streams);
  if (dialog == kDialogInputEnded) request.dialogInputEnded = true;
  if (dialog != 0) return 1;
  // The answers are scanned on top of the command line.  A "-dia" typed as
  // an answer does not start the dialog again.
  scanArguments(0, answers, request);
  return 0;
}

// ---------------------------------------------------------------------------
// Usage, version, refusals

namespace {

constexpr std::size_t kMaxShownProgramName = 49;

std::string shownProgramName(const std::string& programPath) {
  const std::size_t slash = programPath.find_last_of("/\\");
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  if (name.size() > kMaxShownProgramName) name.resize(kMaxShownProgramName);
  return name;
}

constexpr const char* kUsageLines[] = {
    "    [-igesin (post)] [-g1b2] [<DXF-file> ] [<KPL-file>]\n",
    "    [-dxfin        ] [-plus]\n",
    "    [-dxf12in      ] [-plus]\n",
    "    [-dwgin        ] [-plus] [<DWG-file>] [<KPL-file>]\n",
    "    [-dwgout       ] [-acad<ver>] [<DWG-file>] [<inpfile>]\n",
    "    [-dxfout       ] [-acad<ver>] [<DXF-file>] [<inpfile>]\n",
    "    [-version      ]\n",
    "    [-help         ]\n",
};

}  // namespace

void printUsage(std::FILE* out, const std::string& programPath, const std::string& language) {
  TraceScope t("stt030");
  const std::string name = shownProgramName(programPath);
  std::fprintf(out, isGerman(language) ? "-> Kommandozeilenparameter fuer '%s V%s'\n"
                                       : "-> how to use '%s V%s'\n",
               kProductTitle, kVersionText);
  std::fprintf(out, "   %s [-igesout(pre) ] [-g1b1] [<IGES-file>] [<inpfile> ] <config-file>\n",
               name.c_str());
  const std::string indent(name.size(), ' ');
  for (const char* line : kUsageLines) std::fprintf(out, "%s%s", indent.c_str(), line);
}

void printVersion(std::FILE* out, const std::string& language) {
  TraceScope t("stt040");
  std::fprintf(out, isGerman(language) ? "-> %s V%s, Datum : %s\n" : "-> %s V%s, build date : %s\n",
               kProductTitle, kVersionText, buildDate().c_str());
}

RunEnd printRefusal(std::FILE* out, const std::string& programPath, const RunRequest& request) {
  TraceScope t("stt050");
  const bool german = isGerman(request.language);
  const char* path = programPath.c_str();
  RunEnd end;
  if (request.directionCount == 0) {
    if (german) {
      std::fprintf(out, "-> %s weiss nicht was zu tun ist,\n", path);
      std::fputs("   Sie muessen -igesin, -igesout, -dxf12in, -dxfin, -dxfout, -dwgin oder -dwgout "
                 "angeben !!!\n",
                 out);
    } else {
      std::fprintf(out, "-> %s doesn't know what to do,\n", path);
      std::fputs("   you had to specify -igesin, -igesout, -dxf12in, -dxfin, -dxfout, -dwgin or "
                 "-dwgout !!!\n",
                 out);
    }
    end = RunEnd::kNoDirection;
  } else {
    if (german) {
      std::fprintf(out, "-> %s kennt nicht alle benoetigten Dateinamen,\n", path);
      std::fputs("   bitte pruefen Sie Ihren Kommandozeile auf fehlende Dateienamen,\n", out);
      std::fputs("   oder geben Sie trovak_iges -dia ein !!\n", out);
    } else {
      std::fprintf(out, "-> %s doesn't see all necessary filenames,\n", path);
      std::fputs("   please check your command line for missing filenames,\n", out);
      std::fputs("   or write trovak_iges -dia on the command line !!\n", out);
    }
    end = RunEnd::kMissingFileNames;
  }
  printUsage(out, programPath, request.language);
  return end;
}

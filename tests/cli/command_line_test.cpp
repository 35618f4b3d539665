// The switch table, the dialog and the status mapping, called directly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "driver/command_line.h"
#include "support/program_dir.h"
#include "support/run_state.h"

namespace {

struct SwitchCase {
  std::vector<std::string> args;  // without the program name
  std::string phase;
  std::string level;
  int useToolkit;
  int dwgOutAsDxf;
  int dwgVersion;
  int directionCount;
  int fileCount;
  std::vector<std::string> files;  // exchange, cad, config
};

RunRequest parsed(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"trovak_iges"};
  all.insert(all.end(), args.begin(), args.end());
  RunRequest request;
  parseCommandLine(1, all, request);
  return request;
}

TEST(CommandLine, SwitchTable) {
  const SwitchCase cases[] = {
      {{"-igesin", "a", "b", "c"}, "IPST", "", 0, -1, -1, 1, 3, {"a", "b", "c"}},
      {{"-post", "a"}, "IPST", "", 0, -1, -1, 1, 1, {"a", "", ""}},
      {{"-pre", "-g1b2"}, "IPRE", "g1b2", 0, -1, -1, 1, 0, {"", "", ""}},
      {{"-igesout", "-g1xyz"}, "IPRE", "g1xyz", 0, -1, -1, 1, 0, {"", "", ""}},
      {{"-igesout", "-G1"}, "IPRE", "", 0, -1, -1, 1, 0, {"", "", ""}},
      {{"-dxf12in", "-plus"}, "DXFI", "plus", 0, -1, -1, 1, 0, {"", "", ""}},
      {{"-dxfin", "-vdais"}, "DXFI", "vdais", 1, -1, -1, 1, 0, {"", "", ""}},
      {{"-dxf12out", "-stat"}, "DXFO", "stat", 0, -1, -1, 1, 0, {"", "", ""}},
      {{"-dxfout"}, "DXFO", "", 1, 1, -1, 1, 0, {"", "", ""}},
      {{"-dwgin"}, "DWGI", "", 1, -1, -1, 1, 0, {"", "", ""}},
      {{"-dwgout", "-acad2004"}, "DWGO", "", 1, 0, 1018, 1, 0, {"", "", ""}},
      {{"-dwgout", "-acad2005"}, "DWGO", "", 1, 0, 1018, 1, 0, {"", "", ""}},
      {{"-dwgout", "-acad15"}, "DWGO", "", 1, 0, -1, 1, 0, {"", "", ""}},
      {{"-dwgout", "-acad"}, "DWGO", "", 1, 0, -1, 1, 0, {"", "", ""}},
      {{"-acad25", "-acad9"}, "", "", 0, -1, 1004, 0, 0, {"", "", ""}},
      // The last direction decides, every one is counted.
      {{"-igesin", "-igesout", "x"}, "IPRE", "", 0, -1, -1, 2, 1, {"x", "", ""}},
      // -tlvv and -lang take the next argument, which is no file name.
      {{"-igesin", "-tlvv", "x", "a", "b", "c"}, "IPST", "", 0, -1, -1, 1, 3, {"a", "b", "c"}},
      {{"-lang", "a", "b"}, "", "", 0, -1, -1, 0, 1, {"b", "", ""}},
      // Unknown switches are ignored; a fourth file name too.
      {{"-unknown", "a", "b", "c", "d"}, "", "", 0, -1, -1, 0, 3, {"a", "b", "c"}},
      // -lang at the end has nothing to take.
      {{"-igesin", "-lang"}, "IPST", "", 0, -1, -1, 1, 0, {"", "", ""}},
  };
  for (const SwitchCase& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const RunRequest r = parsed(c.args);
    EXPECT_EQ(r.phase, c.phase);
    EXPECT_EQ(r.level, c.level);
    EXPECT_EQ(r.useToolkit, c.useToolkit);
    EXPECT_EQ(r.dwgOutAsDxf, c.dwgOutAsDxf);
    EXPECT_EQ(r.dwgVersion, c.dwgVersion);
    EXPECT_EQ(r.directionCount, c.directionCount);
    EXPECT_EQ(r.fileCount, c.fileCount);
    EXPECT_EQ(r.exchangeFile, c.files[0]);
    EXPECT_EQ(r.cadFile, c.files[1]);
    EXPECT_EQ(r.configFile, c.files[2]);
  }
}

// What the texts of -version and -help look like is checked on runs of the
// program (cli/program); here the switches that only set the run up.
TEST(CommandLine, EdxSwitchesAndSwitchesWithAValue) {
  const RunRequest r = parsed({"-edxin", "-edxout", "-lang", "deutsch", "-tlvv", "latest", "-helpme"});
  EXPECT_EQ(std::tuple(r.edxIn, r.edxOut, r.versionRequested, r.helpRequested), std::tuple(1, 1, 0, 0));
  EXPECT_EQ(r.language, "deutsch");
  EXPECT_EQ(r.tlvvValue, "latest");
}

// Runs the dialog on `input` and returns what it printed.
struct DialogRun {
  int result;
  std::vector<std::string> answers;
  std::string printed;
};

DialogRun dialog(const std::string& language, const std::string& input) {
  DialogRun run;
  std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  if (input.empty()) in = std::fopen("/dev/null", "r");
  char* outText = nullptr;
  std::size_t outSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  run.result = runDialog(language, run.answers, DialogStreams{in, out});
  std::fclose(out);
  std::fclose(in);
  run.printed.assign(outText, outSize);
  std::free(outText);
  return run;
}

const std::string kDirectionEn =
    "-> function needed\n"
    "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=quit))  : ";
const std::string kDirectionDe =
    "-> Bitte die Funktion eingeben\n"
    "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=Ende))  : ";
const std::string kLevelEn = "-> efficiency needed\n   (-g1/-g1b1/-g1b2/-plus/-vdais)     : ";
const std::string kInvalidEn = "\n\n-> invalid input, retry !!\n";
const std::string kInvalidDe = "\n\n-> unzulaessige Eingabe !!\n";
const std::string kFileEn = "   (use full pathname)    : ";
const std::string kFileDe = "   (vollstaendigen Pfadnamen angeben) : ";

// Every dialog run: its answers (none when it quits or its input ends) and
// what it printed, the whole text or (`whole` false) how it ends.
TEST(Dialog, AnswersQuestionsAndEnds) {
  const std::string tooLong(kMaxDialogAnswer + 1, 'x');
  const std::string longest(kMaxDialogAnswer, 'y');
  auto askEn = [](const std::string& what) { return "-> name of " + what + " needed\n" + kFileEn; };
  auto askDe = [](const std::string& what) { return "-> Bitte den " + what + " angeben\n" + kFileDe; };
  const std::string ended = "\n-> The input ended without an answer to : ";
  struct Case {
    std::string language, input;
    int result;
    std::vector<std::string> answers;
    std::string printed;  // "" not checked
    bool whole;
  };
  const Case cases[] = {
      // The questions of every direction; CR LF line ends and a last answer
      // without its line end.
      {"", "-igesin\n-g1b1\na.igs\na.kpl\nc.cfg\n", 0, {"-igesin", "-g1b1", "a.igs", "a.kpl", "c.cfg"}, "", false},
      {"", "-igesout\n-stat\na.igs\nt.txt\nc.cfg\n", 0, {"-igesout", "-stat", "a.igs", "t.txt", "c.cfg"}, "", false},
      {"", "-dxf12in\na.dxf\na.kpl\nc\n", 0, {"-dxf12in", "a.dxf", "a.kpl", "c"}, "", false},
      {"", "-dxfin\na.dxf\na.kpl\nc\n", 0, {"-dxfin", "a.dxf", "a.kpl", "c"}, "", false},
      {"", "-dxfout\na.dxf\nt\nc\n", 0, {"-dxfout", "a.dxf", "t", "c"}, "", false},
      {"", "-dwgout\r\na.dwg\r\nt\r\nc", 0, {"-dwgout", "a.dwg", "t", "c"}, "", false},
      {"english", "-dwgin\nd.dwg\nk.kpl\nc\n", 0, {"-dwgin", "d.dwg", "k.kpl", "c"},
       kDirectionEn + askEn("DWG-file") + askEn("KPL-file") + askEn("config-file"), true},
      {"deutsch", "-igesout\n-plus\ni.igs\nt\nc\n", 0, {"-igesout", "-plus", "i.igs", "t", "c"},
       kDirectionDe + "-> Bitte die Leistungsstufe angeben\n   (-g1/-g1b1/-g1b2/-plus/-vdais)     : " +
           askDe("IGES-Dateinamen") + "-> Bitte den Namen der Inputdatei angeben\n" + kFileDe +
           "-> Bitte den Namen der Konfigurationsdatei angeben\n" + kFileDe,
       true},
      {"deutsch", "-dxf12in\nd\nk\nc\n", 0, {"-dxf12in", "d", "k", "c"},
       kDirectionDe + askDe("DXF-Dateinamen") + askDe("KPL-Ausgabedateinamen") +
           "-> Bitte den Namen der Konfigurationsdatei angeben\n" + kFileDe,
       true},
      // An invalid answer repeats its own question only; "q" quits only at
      // the first question, later it is a file name.
      {"", "-igesinx\n-igesin\n-g2\n-G1\n-g1\na\nb\nc\n", 0, {"-igesin", "-g1", "a", "b", "c"},
       kDirectionEn + kInvalidEn + kDirectionEn + kLevelEn + kInvalidEn + kLevelEn + kInvalidEn + kLevelEn +
           askEn("IGES-file") + askEn("KPL-file") + askEn("config-file"),
       true},
      {"deutsch", "x\nq\n", kDialogQuit, {}, kDirectionDe + kInvalidDe + kDirectionDe, true},
      {"", "-dwgin\nq\nk\nc\n", 0, {"-dwgin", "q", "k", "c"}, "", false},
      // An overlong answer is refused and asked again.
      {"", "-dxfin\n" + tooLong + "\n" + longest + "\nk\nc\n", 0, {"-dxfin", longest, "k", "c"},
       kDirectionEn + askEn("DXF-file") + kInvalidEn + askEn("DXF-file") + askEn("KPL-file") + askEn("config-file"),
       true},
      {"", std::string(100000, '-'), kDialogInputEnded, {}, ended + "function needed\n", false},
      // Quitting and input that ends early.
      {"", "q\n", kDialogQuit, {}, kDirectionEn, true},
      {"", "q", kDialogQuit, {}, kDirectionEn, true},
      {"", "", kDialogInputEnded, {}, kDirectionEn + ended + "function needed\n", true},
      {"", "-igesin\n", kDialogInputEnded, {}, ended + "efficiency needed\n", false},
      {"", "-igesin\n-g1\na\nb\n", kDialogInputEnded, {}, ended + "name of config-file needed\n", false},
      {"deutsch", "-dwgin\n\n", kDialogInputEnded, {},
       "\n-> Die Eingabe endete ohne Antwort auf : Bitte den KPL-Ausgabedateinamen angeben\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language + ": " + c.input.substr(0, 40));
    const DialogRun run = dialog(c.language, c.input);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.answers, c.answers);
    if (c.whole) {
      EXPECT_EQ(run.printed, c.printed);
    } else if (!c.printed.empty()) {
      ASSERT_GE(run.printed.size(), c.printed.size());
      EXPECT_EQ(run.printed.substr(run.printed.size() - c.printed.size()), c.printed);
    }
  }
}

// Answers of the dialog are scanned on top of the command line; a "-dia"
// answer does not start the dialog again.
TEST(Dialog, AnswersAreScannedOnTopOfTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string input, phase, level, exchange, cad, config;
    int fileCount;
  };
  const Case cases[] = {
      {{"p", "a.igs", "-dia"}, "-igesin\n-g1b2\nx.igs\nk.kpl\nc.cfg\n", "IPST", "g1b2", "a.igs", "x.igs", "k.kpl", 3},
      {{"p", "-dia"}, "-dwgin\n-dia\nk\nc\n", "DWGI", "", "k", "c", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::FILE* in = fmemopen(const_cast<char*>(c.input.data()), c.input.size(), "r");
    std::FILE* out = std::fopen("/dev/null", "w");
    RunRequest request;
    EXPECT_EQ(parseCommandLine(1, c.args, request, DialogStreams{in, out}), 0);
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(request.phase, c.phase);
    EXPECT_EQ(request.level, c.level);
    EXPECT_EQ(request.exchangeFile, c.exchange);
    EXPECT_EQ(request.cadFile, c.cad);
    EXPECT_EQ(request.configFile, c.config);
    EXPECT_EQ(request.fileCount, c.fileCount);
  }
}

TEST(CommandLine, BuildDate) {
  const std::pair<const char*, const char*> cases[] = {
      {"Apr 18 2006", "18.04.2006"}, {"Jan  1 2024", "01.01.2024"},
      {"Dec 31 1999", "31.12.1999"}, {"Foo  9 2010", "09.00.2010"},
      {"", "00.00.00"},
  };
  for (const auto& [text, date] : cases) EXPECT_EQ(formatBuildDate(text), date) << text;
}

TEST(CommandLine, ExitStatusOfEveryRunEnd) {
  // The statuses users and scripts rely on; a conversion's result r gives
  // 30 - r for the input and 20 - r for the output direction.
  const std::pair<RunOutcome, int> cases[] = {
      {{RunEnd::kDone}, 0},           {{RunEnd::kHelpOrVersion}, 1},
      {{RunEnd::kMissingFileNames}, 2}, {{RunEnd::kNoDirection}, 3},
      {{RunEnd::kToolkit}, 9},        {{RunEnd::kMessageFile}, 10},
      {{RunEnd::kSameFile}, 12},      {{RunEnd::kNoProtocol}, 13},
      {{RunEnd::kCannotOpenInput}, 14}, {{RunEnd::kStartGlobal}, 15},
      {{RunEnd::kDirectorySetup}, 16}, {{RunEnd::kTables}, 17},
      {{RunEnd::kEmptyDxf}, 18},      {{RunEnd::kEmptyIges}, 19},
      {{RunEnd::kInputConversion, -7}, 37}, {{RunEnd::kInputConversion, -8}, 38},
      {{RunEnd::kInputConversion, -1}, 31}, {{RunEnd::kOutputConversion, -1}, 21},
      {{RunEnd::kOutputConversion, -4}, 24},
  };
  for (const auto& [outcome, status] : cases)
    EXPECT_EQ(exitStatusOf(outcome), status) << static_cast<int>(outcome.end) << " " << outcome.result;
}

TEST(ProgramDirectory, FromProgramPath) {
  EXPECT_EQ(programDirectory("/opt/x/bin/trovak_iges"), "/opt/x/bin/");
  EXPECT_EQ(programDirectory("./trovak_iges"), "./");
  EXPECT_EQ(programDirectory("build/trovak_iges"), "build/");
  // Found through PATH: the running executable's directory (the test
  // program's, here), never the current directory.
  const std::string self = programDirectory("trovak_iges");
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self.front(), '/');
  EXPECT_EQ(self.back(), '/');
}

}  // namespace

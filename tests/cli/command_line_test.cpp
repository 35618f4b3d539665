// The switch table, the dialog and the status mapping, called directly.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/program_dir.h"
#include "driver/run_state.h"

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

TEST(CommandLine, VersionHelpLanguageAndEdx) {
  struct Case {
    std::vector<std::string> args;
    int version, help, edxIn, edxOut;
    std::string language, tlvv;
  };
  const Case cases[] = {
      {{"-version"}, 1, 0, 0, 0, "", ""},
      {{"-ver", "-v", "-verbose"}, 3, 0, 0, 0, "", ""},
      {{"-help", "-?"}, 1, 2, 0, 0, "", ""},
      {{"-helpme"}, 0, 0, 0, 0, "", ""},
      {{"-edxin", "-edxout", "-edxout"}, 0, 0, 1, 2, "", ""},
      {{"-lang", "deutsch", "-tlvv", "latest"}, 0, 0, 0, 0, "deutsch", "latest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const RunRequest r = parsed(c.args);
    EXPECT_EQ(r.versionRequested, c.version);
    EXPECT_EQ(r.helpRequested, c.help);
    EXPECT_EQ(r.edxIn, c.edxIn);
    EXPECT_EQ(r.edxOut, c.edxOut);
    EXPECT_EQ(r.language, c.language);
    EXPECT_EQ(r.tlvvValue, c.tlvv);
  }
}

TEST(CommandLine, NothingToScanReturnsOne) {
  RunRequest request;
  EXPECT_EQ(parseCommandLine(1, {"trovak_iges"}, request), 1);
  EXPECT_EQ(parseCommandLine(1, {"trovak_iges", "x"}, request), 0);
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

TEST(Dialog, AnswersPerDirection) {
  struct Case {
    std::string input;
    std::vector<std::string> answers;
  };
  const Case cases[] = {
      {"-igesin\n-g1b1\na.igs\na.kpl\nc.cfg\n", {"-igesin", "-g1b1", "a.igs", "a.kpl", "c.cfg"}},
      {"-igesout\n-stat\na.igs\nt.txt\nc.cfg\n", {"-igesout", "-stat", "a.igs", "t.txt", "c.cfg"}},
      {"-dxf12in\na.dxf\na.kpl\nc\n", {"-dxf12in", "a.dxf", "a.kpl", "c"}},
      {"-dxfin\na.dxf\na.kpl\nc\n", {"-dxfin", "a.dxf", "a.kpl", "c"}},
      {"-dxfout\na.dxf\nt\nc\n", {"-dxfout", "a.dxf", "t", "c"}},
      {"-dwgin\na.dwg\na.kpl\nc\n", {"-dwgin", "a.dwg", "a.kpl", "c"}},
      {"-dwgout\r\na.dwg\r\nt\r\nc", {"-dwgout", "a.dwg", "t", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const DialogRun run = dialog("", c.input);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.answers, c.answers);
  }
}

TEST(Dialog, QuestionsInBothLanguages) {
  const DialogRun en = dialog("english", "-dwgin\nd.dwg\nk.kpl\nc\n");
  EXPECT_EQ(en.printed, kDirectionEn + "-> name of DWG-file needed\n" + kFileEn +
                            "-> name of KPL-file needed\n" + kFileEn +
                            "-> name of config-file needed\n" + kFileEn);
  const DialogRun de = dialog("deutsch", "-igesout\n-plus\ni.igs\nt\nc\n");
  EXPECT_EQ(de.printed, kDirectionDe + "-> Bitte die Leistungsstufe angeben\n" +
                            "   (-g1/-g1b1/-g1b2/-plus/-vdais)     : " +
                            "-> Bitte den IGES-Dateinamen angeben\n" + kFileDe +
                            "-> Bitte den Namen der Inputdatei angeben\n" + kFileDe +
                            "-> Bitte den Namen der Konfigurationsdatei angeben\n" + kFileDe);
  const DialogRun dxf = dialog("deutsch", "-dxf12in\nd\nk\nc\n");
  EXPECT_EQ(dxf.printed, kDirectionDe + "-> Bitte den DXF-Dateinamen angeben\n" + kFileDe +
                             "-> Bitte den KPL-Ausgabedateinamen angeben\n" + kFileDe +
                             "-> Bitte den Namen der Konfigurationsdatei angeben\n" + kFileDe);
}

TEST(Dialog, InvalidAnswersRepeatOnlyTheirQuestion) {
  const DialogRun run = dialog("", "-igesinx\n-igesin\n-g2\n-G1\n-g1\na\nb\nc\n");
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.answers, (std::vector<std::string>{"-igesin", "-g1", "a", "b", "c"}));
  EXPECT_EQ(run.printed, kDirectionEn + kInvalidEn + kDirectionEn + kLevelEn + kInvalidEn +
                             kLevelEn + kInvalidEn + kLevelEn + "-> name of IGES-file needed\n" +
                             kFileEn + "-> name of KPL-file needed\n" + kFileEn +
                             "-> name of config-file needed\n" + kFileEn);
  const DialogRun german = dialog("deutsch", "x\nq\n");
  EXPECT_EQ(german.printed, kDirectionDe + kInvalidDe + kDirectionDe);
}

TEST(Dialog, QuitAndEndOfInput) {
  struct Case {
    const char* input;
    const char* language;
    int result;
    std::string printedEnd;  // how the printed text ends
  };
  const Case cases[] = {
      {"q\n", "", kDialogQuit, kDirectionEn},
      {"q", "", kDialogQuit, kDirectionEn},
      {"", "", kDialogInputEnded,
       "\n-> The input ended without an answer to : function needed\n"},
      {"-igesin\n", "", kDialogInputEnded,
       "\n-> The input ended without an answer to : efficiency needed\n"},
      {"-igesin\n-g1\na\nb\n", "", kDialogInputEnded,
       "\n-> The input ended without an answer to : name of config-file needed\n"},
      {"-dwgin\n\n", "deutsch", kDialogInputEnded,
       "\n-> Die Eingabe endete ohne Antwort auf : Bitte den KPL-Ausgabedateinamen angeben\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const DialogRun run = dialog(c.language, c.input);
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(run.answers.empty());
    ASSERT_GE(run.printed.size(), c.printedEnd.size());
    EXPECT_EQ(run.printed.substr(run.printed.size() - c.printedEnd.size()), c.printedEnd);
  }
  // "q" quits only at the first question; later it is a file name.
  const DialogRun later = dialog("", "-dwgin\nq\nk\nc\n");
  EXPECT_EQ(later.result, 0);
  EXPECT_EQ(later.answers[1], "q");
}

TEST(Dialog, OverlongAnswerIsRefusedAndAskedAgain) {
  const std::string tooLong(kMaxDialogAnswer + 1, 'x');
  const std::string longest(kMaxDialogAnswer, 'y');
  const DialogRun run = dialog("", "-dxfin\n" + tooLong + "\n" + longest + "\nk\nc\n");
  EXPECT_EQ(run.result, 0);
  ASSERT_EQ(run.answers.size(), 4u);
  EXPECT_EQ(run.answers[1], longest);
  EXPECT_EQ(run.printed, kDirectionEn + "-> name of DXF-file needed\n" + kFileEn + kInvalidEn +
                             "-> name of DXF-file needed\n" + kFileEn +
                             "-> name of KPL-file needed\n" + kFileEn +
                             "-> name of config-file needed\n" + kFileEn);
  // An endless direction answer ends with the input.
  const DialogRun endless = dialog("", std::string(100000, '-'));
  EXPECT_EQ(endless.result, kDialogInputEnded);
}

TEST(Dialog, AnswersAreScannedOnTopOfTheCommandLine) {
  const std::string input = "-igesin\n-g1b2\nx.igs\nk.kpl\nc.cfg\n";
  std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  std::FILE* out = std::fopen("/dev/null", "w");
  RunRequest request;
  EXPECT_EQ(parseCommandLine(1, {"p", "a.igs", "-dia"}, request, DialogStreams{in, out}), 0);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(request.phase, "IPST");
  EXPECT_EQ(request.level, "g1b2");
  EXPECT_EQ(request.exchangeFile, "a.igs");
  EXPECT_EQ(request.cadFile, "x.igs");
  EXPECT_EQ(request.configFile, "k.kpl");
  EXPECT_EQ(request.fileCount, 3);
}

TEST(Dialog, ADiaAnswerDoesNotStartTheDialogAgain) {
  const std::string input = "-dwgin\n-dia\nk\nc\n";
  std::FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
  std::FILE* out = std::fopen("/dev/null", "w");
  RunRequest request;
  EXPECT_EQ(parseCommandLine(1, {"p", "-dia"}, request, DialogStreams{in, out}), 0);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(request.phase, "DWGI");
  EXPECT_EQ(request.fileCount, 2);
}

TEST(CommandLine, BuildDate) {
  const std::pair<const char*, const char*> cases[] = {
      {"Apr 18 2006", "18.04.2006"}, {"Jan  1 2024", "01.01.2024"},
      {"Dec 31 1999", "31.12.1999"}, {"Foo  9 2010", "09.00.2010"},
      {"", "00.00.00"},
  };
  for (const auto& [text, date] : cases) EXPECT_EQ(formatBuildDate(text), date) << text;
}

TEST(CommandLine, ExitStatusOfDispatcherResults) {
  const std::pair<int, int> cases[] = {{0, 0}, {14, 14}, {19, 19}, {-1, 11}, {-28, 38}};
  for (const auto& [result, status] : cases) EXPECT_EQ(exitStatusOf(result), status) << result;
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

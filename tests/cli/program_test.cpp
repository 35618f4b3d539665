// Runs of the real program: statuses, usage and version texts, the dialog,
// the protocol file of runs that end at the input check, and traps.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "support/program_dir.h"
#include "run_program.h"

namespace {

const std::string kProgram = TROVAK_PROGRAM;

std::string usage(const std::string& name, bool german) {
  const std::string pad(name.size(), ' ');
  std::string text = german ? "-> Kommandozeilenparameter fuer 'RUR Izodaviva (UNKNOWN) V2006.1'\n"
                            : "-> how to use 'RUR Izodaviva (UNKNOWN) V2006.1'\n";
  text += "   " + name + " [-igesout(pre) ] [-g1b1] [<IGES-file>] [<inpfile> ] <config-file>\n";
  text += pad + "    [-igesin (post)] [-g1b2] [<DXF-file> ] [<KPL-file>]\n";
  text += pad + "    [-dxfin        ] [-plus]\n";
  text += pad + "    [-dxf12in      ] [-plus]\n";
  text += pad + "    [-dwgin        ] [-plus] [<DWG-file>] [<KPL-file>]\n";
  text += pad + "    [-dwgout       ] [-acad<ver>] [<DWG-file>] [<inpfile>]\n";
  text += pad + "    [-dxfout       ] [-acad<ver>] [<DXF-file>] [<inpfile>]\n";
  text += pad + "    [-version      ]\n";
  text += pad + "    [-help         ]\n";
  return text;
}

std::string version(bool german) {
  return std::string(german ? "-> RUR Izodaviva (UNKNOWN) V2006.1, Datum : "
                            : "-> RUR Izodaviva (UNKNOWN) V2006.1, build date : ") +
         buildDate() + "\n";
}

const std::string kName = "trovak_iges";

const std::string kNoDirectionEn =
    "-> " + kProgram + " doesn't know what to do,\n"
    "   you had to specify -igesin, -igesout, -dxf12in, -dxfin, -dxfout, -dwgin or -dwgout !!!\n";
const std::string kNoDirectionDe =
    "-> " + kProgram + " weiss nicht was zu tun ist,\n"
    "   Sie muessen -igesin, -igesout, -dxf12in, -dxfin, -dxfout, -dwgin oder -dwgout angeben !!!\n";
const std::string kMissingFilesEn =
    "-> " + kProgram + " doesn't see all necessary filenames,\n"
    "   please check your command line for missing filenames,\n"
    "   or write trovak_iges -dia on the command line !!\n";
const std::string kMissingFilesDe =
    "-> " + kProgram + " kennt nicht alle benoetigten Dateinamen,\n"
    "   bitte pruefen Sie Ihren Kommandozeile auf fehlende Dateienamen,\n"
    "   oder geben Sie trovak_iges -dia ein !!\n";

TEST(Program, TextsAndStatusesWithoutARun) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{}, 3, kNoDirectionEn + usage(kName, false)},
      {{"-lang", "deutsch"}, 3, kNoDirectionDe + usage(kName, true)},
      {{"-unknown", "a", "b", "c"}, 3, kNoDirectionEn + usage(kName, false)},
      {{"-igesin", "a.igs", "out.kpl"}, 2, kMissingFilesEn + usage(kName, false)},
      {{"-lang", "deutsch", "-dwgout", "x"}, 2, kMissingFilesDe + usage(kName, true)},
      {{"-lang", "deutsch", "-help"}, 1, usage(kName, true)},
      {{"-lang", "german", "-help"}, 1, usage(kName, false)},
      {{"-version"}, 1, version(false)},
      {{"-lang", "deutsch", "-v"}, 1, version(true)},
      {{"-ver", "-verbose"}, 1, version(false)},
      {{"-helpme"}, 3, kNoDirectionEn + usage(kName, false)},
      {{"-?"}, 1, version(false) + usage(kName, false)},
      {{"-igesin", "-version", "a", "b"}, 1, version(false)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    const ProgramResult r = runProgram(kProgram, c.args, dir.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Program, LongProgramNameIsCutInTheUsage) {
  TempDir dir;
  const std::string name(60, 'p');
  const std::string link = dir.path() + "/" + name;
  ASSERT_EQ(symlink(kProgram.c_str(), link.c_str()), 0);
  const ProgramResult r = runProgram(link, {"-help"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, usage(name.substr(0, 49), false));
}

// The dialog of the program reads its standard input in the language of
// the command line (its questions and answers are tested in cli/command_line).
TEST(Program, DialogOnStandardInput) {
  TempDir dir;
  ProgramResult r = runProgram(kProgram, {"-dia"}, dir.path(), "q\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "-> function needed\n"
                   "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=quit))  : " +
                       kNoDirectionEn + usage(kName, false));

  r = runProgram(kProgram, {"-lang", "deutsch", "-dia"}, dir.path(), "");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "-> Bitte die Funktion eingeben\n"
                   "   (-igesin/-igesout/-dxf12in/-dxfin/-dxfout/-dwgin/-dwgout/q(=Ende))  : "
                   "\n-> Die Eingabe endete ohne Antwort auf : Bitte die Funktion eingeben\n");

  // The answers start the run; a command line that names the whole run
  // still runs when the dialog's input ends at once.
  const std::string config = dir.write("run.config", "TR_PROT " + dir.path() + "/\n");
  dir.write("e.igs", "");
  dir.write("e.dxf", "");
  r = runProgram(kProgram, {"-dia"}, dir.path(), "-dxf12in\ne.dxf\no.kpl\n" + config + "\n");
  EXPECT_EQ(r.status, 18);
  r = runProgram(kProgram, {"-igesin", "e.igs", "o.kpl", config, "-dia"}, dir.path(), "");
  EXPECT_EQ(r.status, 19);
}

// A configuration that puts the protocol and the temporary files into the
// run's directory.
std::string writeConfig(const TempDir& dir) {
  return dir.write("run.config",
                   "TR_PROT " + dir.path() + "/\n"
                   "TR_TEMP " + dir.path() + "/\n"
                   "TR_TIME nein\n"
                   "I_SPEZ auto\n");
}

// The files of the directory that the test did not write itself.
std::vector<std::string> newFiles(const TempDir& dir, const std::vector<std::string>& known) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    bool isKnown = false;
    for (const std::string& k : known) isKnown = isKnown || k == name;
    if (!isKnown) found.push_back(entry.path().string());
  }
  return found;
}

void expectProtocolWithHeadAndConfig(const TempDir& dir, const std::vector<std::string>& known,
                                     const std::string& config) {
  const std::vector<std::string> files = newFiles(dir, known);
  ASSERT_EQ(files.size(), 1u) << "expected exactly one protocol file";
  const std::string protocol = readWholeFile(files[0]);
  const std::string head = " 2006.1 (" + buildDate() + ")\n";
  const std::size_t headAt = protocol.find(head);
  ASSERT_NE(headAt, std::string::npos) << protocol;
  EXPECT_EQ(protocol.find('\n'), headAt + head.size() - 1) << "the head is the first line";
  const std::size_t copyAt = protocol.find(readWholeFile(config));
  EXPECT_NE(copyAt, std::string::npos) << protocol;
  EXPECT_GT(copyAt, headAt);
}

TEST(Program, EmptyInputFiles) {
  struct Case {
    std::string direction;
    std::string file;
    int status;
  };
  const Case cases[] = {
      {"-igesin", "empty.igs", 19},
      {"-dxf12in", "empty.dxf", 18},
      {"-post", "empty.iges", 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.direction);
    TempDir dir;
    const std::string config = writeConfig(dir);
    dir.write(c.file, "");
    const ProgramResult r =
        runProgram(kProgram, {c.direction, c.file, "out.kpl", config}, dir.path());
    EXPECT_EQ(r.status, c.status) << r.err;
    expectProtocolWithHeadAndConfig(dir, {"run.config", c.file}, config);
  }
}

TEST(Program, NotesAboutTheRunsFilesFollowTheProtocolSetting) {
  struct Case {
    std::string setting;  // "" keeps the default
    bool notesOnConsole;
  };
  const Case cases[] = {{"", false}, {"TR_DATP ja\n", false}, {"TR_DATP alle\n", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    TempDir dir;
    const std::string config = dir.write("run.config", "TR_PROT " + dir.path() + "/\n" + c.setting);
    dir.write("e.igs", "");
    const ProgramResult r = runProgram(kProgram, {"-igesin", "e.igs", "o.kpl", config}, dir.path());
    EXPECT_EQ(r.status, 19);
    // The protocol file is always named on the console.
    EXPECT_NE(r.err.find("(121)"), std::string::npos) << r.err;
    for (const char* note : {"(122)", "(123)", "(124)"}) {
      EXPECT_EQ(r.err.find(note) != std::string::npos, c.notesOnConsole) << note << r.err;
    }
    const std::vector<std::string> files = newFiles(dir, {"run.config", "e.igs"});
    ASSERT_EQ(files.size(), 1u);
    const std::string protocol = readWholeFile(files[0]);
    for (const char* note : {"(122)", "(123)", "(124)", "(970)"}) {
      EXPECT_NE(protocol.find(note), std::string::npos) << note;
    }
  }
}

TEST(Program, RunsStartWithADirectionAndThreeFiles) {
  TempDir dir;
  const std::string config = writeConfig(dir);
  dir.write("e.igs", "");
  // The version switch gives way to the run; -tlvv takes its value.
  const ProgramResult r = runProgram(
      kProgram, {"-version", "-tlvv", "x", "-igesin", "-g1xyz", "e.igs", "o.kpl", config},
      dir.path());
  EXPECT_EQ(r.status, 19);
  EXPECT_EQ(r.out.find("V2006.1, build date"), std::string::npos);

  // A missing input file.
  TempDir other;
  const std::string config2 = writeConfig(other);
  const ProgramResult missing =
      runProgram(kProgram, {"-igesin", "missing.igs", "o.kpl", config2}, other.path());
  EXPECT_EQ(missing.status, 14);
  // The input file as a directory.
  ASSERT_EQ(mkdir((other.path() + "/sub").c_str(), 0700), 0);
  const ProgramResult directory =
      runProgram(kProgram, {"-igesin", "sub", "o.kpl", config2}, other.path());
  EXPECT_EQ(directory.status, 14);
}

TEST(Program, InstalledThroughALink) {
  // A program started through a link in another directory finds the
  // installation beside the real file.
  TempDir dir;
  const std::string link = dir.path() + "/trovak_iges";
  ASSERT_EQ(symlink(kProgram.c_str(), link.c_str()), 0);
  EXPECT_EQ(programDirectory(link), directoryPart(std::filesystem::canonical(kProgram).string()));
}

// The program is blocked opening its input, a FIFO without writer.
bool waitsForFifo(pid_t pid) {
  std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
  std::string where;
  wchan >> where;
  return where.find("fifo") != std::string::npos || where.find("partner") != std::string::npos;
}

TEST(Program, TrapsAreReported) {
  if (!std::filesystem::exists("/proc/self/wchan")) GTEST_SKIP() << "no /proc wchan";
  struct Case {
    int signalNumber;
    const char* text;
  };
  const Case cases[] = {{SIGSEGV, "SEGMENTATION VIOLATION"}, {SIGFPE, "ARITHMETIC TRAP EXEPTION"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TempDir dir;
    const std::string config = writeConfig(dir);
    const std::string fifo = dir.path() + "/input.igs";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    bool sent = false;
    const ProgramResult r = runProgram(
        kProgram, {"-igesin", "input.igs", "o.kpl", config}, dir.path(), "", 60, [&](pid_t pid) {
          if (!waitsForFifo(pid)) return false;
          kill(pid, c.signalNumber);
          sent = true;
          if (c.signalNumber == SIGFPE) {
            // The run goes on after an arithmetic trap sent from outside:
            // let its open finish with an empty input.
            usleep(200000);
            std::ofstream writer(fifo);
          }
          return true;
        });
    ASSERT_TRUE(sent);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.err.find(std::string(c.text) + " "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("SYST_TRAP"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, c.signalNumber == SIGSEGV ? 128 + SIGSEGV : 19);
  }
}

}  // namespace

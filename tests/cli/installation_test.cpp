// Runs of the real program whose configuration file or installation data
// (message files, assignment directory and tables) is missing or unusable:
// what the run says about it, where, and the status it ends with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

namespace fs = std::filesystem;

const std::string kProgram = TROVAK_PROGRAM;
const std::string kData = std::string(TROVAK_SOURCE_DIR) + "/ririzidedareru";
const std::string kExampleIges = std::string(TROVAK_SOURCE_DIR) + "/examples/line_and_circle.igs";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// A copy of the program in a directory of its own, with the installation
// data the test gives it: the program finds its data beside its real file.
class Installation {
 public:
  Installation() {
    fs::copy_file(kProgram, program());
    fs::create_directories(dataDir() + "/msc");
    fs::create_directories(dataDir() + "/assign");
  }
  std::string program() const { return dir_.path() + "/trovak_iges"; }
  std::string dataDir() const { return dir_.path() + "/ririzidedareru"; }
  std::string messageFile(const char* name) const { return dataDir() + "/msc/" + name; }
  void copyMessageFiles() const {
    for (const char* name : {"dt_de.msg", "dt_en.msg"}) {
      fs::copy_file(kData + "/msc/" + name, messageFile(name), fs::copy_options::overwrite_existing);
    }
  }
  void copyAssignments() const {
    fs::copy(kData + "/assign", dataDir() + "/assign",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

 private:
  TempDir dir_;
};

// A configuration that keeps the protocol in the run's directory.
std::string protocolHere(const TempDir& dir) { return "TR_PROT " + dir.path() + "/\n"; }

TEST(Installation, ConfigurationFileThatCannotBeUsedIsNamedAndTheDefaultsServe) {
  struct Case {
    const char* what;
    std::string language;  // "" none on the command line
    std::string expected;  // the message's header
  };
  const Case cases[] = {
      {"missing", "", "WARNUNG (992) in Funktion stt500, "},
      {"missing", "english", "WARNING (992) in function stt500, "},
      {"empty", "", "WARNUNG (994)"},
      {"folder", "english", "WARNING (993)"},
      {"random", "english", "WARNING (994)"},
  };
  const std::string texts[][2] = {
      {"Die Konfigurationsdatei NAME wurde nicht gefunden, es gelten die Voreinstellungen",
       "The configuration file NAME was not found, the defaults are used"},
      {"Die Konfigurationsdatei NAME kann nicht gelesen werden, es gelten die Voreinstellungen",
       "The configuration file NAME cannot be read, the defaults are used"},
      {"Die Konfigurationsdatei NAME enth\xE4lt keine Einstellungen, es gelten die Voreinstellungen",
       "The configuration file NAME holds no settings, the defaults are used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " " + c.language);
    TempDir dir;
    const std::string name = dir.path() + "/run.config";
    const std::string what = c.what;
    if (what == "empty") dir.write("run.config", "");
    if (what == "folder") {
      ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    }
    if (what == "random") {
      std::string bytes;
      for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919 + 13) % 256);
      dir.write("run.config", bytes);
    }
    dir.write("e.igs", "");
    std::vector<std::string> args = {"-igesin", "e.igs", "o.kpl", name};
    if (!c.language.empty()) args.insert(args.begin(), {"-lang", c.language});
    const ProgramResult r = runProgram(kProgram, args, dir.path());
    // The run goes on with the defaults and ends at its empty input.
    EXPECT_EQ(r.status, 19) << r.err;
    EXPECT_TRUE(contains(r.err, c.expected)) << r.err;
    const int kind = what == "missing" ? 0 : what == "folder" ? 1 : 2;
    std::string text = texts[kind][c.language.empty() ? 0 : 1];
    text.replace(text.find("NAME"), 4, name);
    EXPECT_TRUE(contains(r.err, text + "\n")) << r.err;
    EXPECT_FALSE(contains(r.err, "(870)")) << r.err;
  }
}

TEST(Installation, MissingRequiredTableIsShownOnTheConsole) {
  TempDir dir;
  const std::string assign = dir.path() + "/assign/";
  fs::copy(kData + "/assign/iges", assign, fs::copy_options::recursive);
  fs::remove(assign + "color.cfg");
  const std::string config = dir.write("run.config", protocolHere(dir) + "TR_ZUOR " + assign + "\n");
  fs::copy_file(kExampleIges, dir.path() + "/in.igs");
  const ProgramResult r =
      runProgram(kProgram, {"-lang", "english", "-igesin", "in.igs", "o.kpl", config}, dir.path());
  EXPECT_EQ(r.status, 17);
  EXPECT_TRUE(contains(r.err, "ERROR (150) in function zti500, ")) << r.err;
  EXPECT_TRUE(contains(r.err, "The file " + assign + "color.cfg cannot be opened\n")) << r.err;
  EXPECT_TRUE(contains(r.err, "ERROR (997) in function start, ")) << r.err;
  EXPECT_TRUE(contains(r.err, "The assignment tables cannot be read, the run ends\n")) << r.err;
  EXPECT_FALSE(contains(r.err, "(0)")) << r.err;
  // The protocol has both as well.
  const std::string protocol = readWholeFile(dir.path() + "/in.igs.prot");
  EXPECT_TRUE(contains(protocol, "color.cfg cannot be opened")) << protocol;
  EXPECT_TRUE(contains(protocol, "(997)")) << protocol;
}

TEST(Installation, UnreadableAssignmentDirectory) {
  // A configured directory that is not there gives way to the installation's.
  TempDir dir;
  const std::string config =
      dir.write("run.config", protocolHere(dir) + "I_ZUOR " + dir.path() + "/nowhere\n");
  dir.write("e.igs", "");
  ProgramResult r = runProgram(kProgram, {"-igesin", "e.igs", "o.kpl", config}, dir.path());
  EXPECT_EQ(r.status, 19) << r.err;
  EXPECT_TRUE(contains(r.err, "WARNUNG (995) in Funktion stt504, ")) << r.err;
  EXPECT_TRUE(contains(r.err, "Kein Lesezugriff auf " + dir.path() +
                                  "/nowhere/ ! Das voreingestellte Verzeichnis wird verwendet\n"))
      << r.err;

  // An installation without assignment directory ends the run.
  Installation installation;
  installation.copyMessageFiles();
  fs::remove_all(installation.dataDir() + "/assign");
  const std::string assign = installation.dataDir() + "/assign/iges/";
  r = runProgram(installation.program(), {"-lang", "english", "-igesin", "e.igs", "o.kpl", config},
                 dir.path());
  EXPECT_EQ(r.status, 17);
  EXPECT_TRUE(contains(r.err, "ERROR (996) in function stt504, ")) << r.err;
  EXPECT_TRUE(contains(r.err, "No read access to " + assign + " ! Translation aborted\n")) << r.err;
  EXPECT_EQ(r.out.find("No read access"), std::string::npos) << r.out;
}

TEST(Installation, MessageFileThatCannotBeUsedEndsTheRun) {
  struct Case {
    const char* what;
    bool english;
  };
  const Case cases[] = {{"missing", false}, {"missing", true},  {"folder", false},
                        {"empty", true},    {"truncated", false}, {"random", true}};
  Installation installation;
  installation.copyAssignments();
  for (const Case& c : cases) {
    const std::string what = c.what;
    SCOPED_TRACE(what + (c.english ? " english" : " deutsch"));
    const char* fileName = c.english ? "dt_en.msg" : "dt_de.msg";
    const std::string file = installation.messageFile(fileName);
    fs::remove_all(installation.dataDir() + "/msc");
    fs::create_directories(installation.dataDir() + "/msc");
    if (what == "folder") fs::create_directories(file);
    if (what == "empty") writeFile(file, "");
    if (what == "truncated") {
      const std::string whole = readWholeFile(kData + "/msc/" + fileName);
      writeFile(file, whole.substr(0, whole.size() * 2 / 3));
    }
    if (what == "random") {
      std::string bytes;
      for (int i = 0; i < 2048; ++i) bytes += static_cast<char>((i * 131 + 7) % 256);
      writeFile(file, bytes);
    }
    TempDir dir;
    const std::string config =
        dir.write("run.config", protocolHere(dir) + (c.english ? "TR_LANG english\n" : ""));
    dir.write("e.igs", "");
    const ProgramResult r =
        runProgram(installation.program(), {"-igesin", "e.igs", "o.kpl", config}, dir.path());
    EXPECT_EQ(r.status, 10) << r.err;
    const bool unreadable = what == "missing" || what == "folder";
    const std::string number = unreadable ? "(990)" : "(991)";
    EXPECT_TRUE(contains(r.err, c.english ? "ERROR " + number + " in function stt506, "
                                          : "FEHLER " + number + " in Funktion stt506, "))
        << r.err;
    const std::string text =
        c.english ? "The message file " + file + (unreadable ? " cannot be read, the run ends\n" : " is incomplete")
                  : "Die Meldungsdatei " + file +
                        (unreadable ? " kann nicht gelesen werden, der Lauf endet\n" : " ist unvollst\xE4ndig");
    EXPECT_TRUE(contains(r.err, text)) << r.err;
    // The closing summary counts the one error; no protocol was begun.
    EXPECT_TRUE(contains(r.err, c.english ? "Conversion finished: 1 errors"
                                          : "Konvertierung beendet: 1 Fehler"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir.path() + "/e.igs.prot"));
  }

  // A message directory of the configuration that points nowhere.
  TempDir dir;
  const std::string config =
      dir.write("run.config", protocolHere(dir) + "TR_MEDI " + dir.path() + "/nowhere\n");
  dir.write("e.igs", "");
  const ProgramResult r = runProgram(kProgram, {"-igesin", "e.igs", "o.kpl", config}, dir.path());
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(contains(r.err, "Die Meldungsdatei " + dir.path() +
                                  "/nowhere/dt_de.msg kann nicht gelesen werden, der Lauf endet\n"))
      << r.err;
}

TEST(Installation, ToolkitStartUpData) {
  // The toolkit directions start by reading DWGINIT.DAT of the data tree:
  // missing or damaged, the toolkit's message and status 9, a damaged file
  // with the line and what is wrong first, and nothing is written.
  // Installed, the run goes on (and ends at the tables this installation
  // lacks: status 17).
  constexpr char kToolkitError[] = "-> DWG-Toolkit error !\n   file DWGINIT.DAT not found !!!\n\n";
  Installation installation;
  installation.copyMessageFiles();
  TempDir dir;
  const std::string config = dir.write("run.config", protocolHere(dir));
  dir.write("in.trf", "");
  const std::vector<std::string> args = {"-lang", "english", "-dxfout", "out.dxf", "in.trf", config};
  const std::string start = installation.dataDir() + "/DWGINIT.DAT";
  const struct {
    const char* what;
    std::string contents;  // "" no file
    std::string printed;   // "" the toolkit started
  } cases[] = {
      {"missing", "", kToolkitError},
      {"damaged", "linetype A\nlayer 0 300 A\n",
       "-> The start-up file " + start + " is damaged, line 2: a value is no number or out of its range\n" +
           kToolkitError},
      {"installed", readWholeFile(kData + "/DWGINIT.DAT"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.contents.empty()) writeFile(start, c.contents);
    const ProgramResult r = runProgram(installation.program(), args, dir.path());
    EXPECT_FALSE(fs::exists(dir.path() + "/out.dxf"));
    if (c.printed.empty()) {
      EXPECT_EQ(r.status, 17);
      EXPECT_EQ(r.out.find("DWG-Toolkit"), std::string::npos) << r.out;
      continue;
    }
    EXPECT_EQ(r.status, 9);
    EXPECT_EQ(r.out, c.printed);
    EXPECT_FALSE(fs::exists(dir.path() + "/in.trf.prot"));
  }
}

}  // namespace

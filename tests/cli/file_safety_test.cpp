// Nothing a user has is lost: outputs named like an input, runs stopped by
// signals, full disks (a file-size limit on the child), links planted under
// output names, shared temporary folders and two runs writing one script.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/convert_iges_builder.h"
#include "transfer/dispatch_samples.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

std::string dxfLines(int count) {
  std::string text = "  0\nSECTION\n  2\nENTITIES\n";
  for (int i = 0; i < count; ++i) {
    text += "  0\nLINE\n  8\n0\n 10\n" + std::to_string(i) + ".5\n 20\n" + std::to_string(3 * i) +
            ".25\n 30\n0.0\n 11\n" + std::to_string(i + 1) + ".75\n 21\n" + std::to_string(3 * i + 2) +
            ".125\n 31\n0.0\n";
  }
  return text + "  0\nENDSEC\n  0\nEOF\n";
}

std::string transferLines(int count) {
  samples::TransferFile f;
  for (int i = 0; i < count; ++i) f.line(std::to_string(i + 1), i, 0, i + 1, 5);
  return f.str();
}

std::string igesLines(int count) {
  igestest::Builder b;
  for (int i = 0; i < count; ++i) b.add(110, std::to_string(i) + ".,0.,0.," + std::to_string(i + 1) + ".,2.,0.;");
  return b.text();
}

// A run's folder: the input, the configuration (protocol into the folder,
// temporary files into tmp/) and what the run leaves.
struct Workspace {
  TempDir dir;
  std::string base = dir.path();
  Workspace() {
    fs::create_directories(base + "/tmp");
    dir.write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\n");
  }
  std::string path(const std::string& name) const { return base + "/" + name; }
  std::string read(const std::string& name) const { return readWholeFile(path(name)); }
  bool exists(const std::string& name) const {
    struct stat info {};
    return lstat(path(name).c_str(), &info) == 0;
  }
  // Every file of the folder and of tmp/, except `expected`.
  std::vector<std::string> leftovers(const std::set<std::string>& expected) const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(base)) {
      const std::string name = e.path().filename().string();
      if (name != "tmp" && expected.count(name) == 0) found.push_back(name);
    }
    for (const auto& e : fs::directory_iterator(base + "/tmp")) found.push_back("tmp/" + e.path().filename().string());
    return found;
  }
  // A run is killed after `timeoutSeconds`: the large drawings of the stop
  // test may take minutes on a busy machine under the sanitizers.
  ProgramResult run(const std::vector<std::string>& args, const std::function<bool()>& inChild = nullptr,
                    const std::function<bool(pid_t)>& whileRunning = nullptr, int timeoutSeconds = 120) const {
    std::vector<std::string> all = {"-lang", "english"};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(TROVAK_PROGRAM, all, base, "", timeoutSeconds, whileRunning, inChild);
  }
};

// The child cannot write beyond `bytes` into any file; it ignores SIGXFSZ,
// so its writes fail with EFBIG as on a full disk.
std::function<bool()> fileSizeLimit(rlim_t bytes) {
  return [bytes] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
  };
}

std::function<bool()> withUmask(mode_t mask) {
  return [mask] {
    umask(mask);
    return true;
  };
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// ---------------------------------------------------------------------------

TEST(FileSafety, AnOutputThatIsAnInputOrAnotherOutputEndsTheRunBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // before the configuration
    const char* input;
    const char* inputName;
    const char* hardLink;  // made as a hard link of the input, or nullptr
  };
  const std::string iges = igesLines(2);
  const std::string dxf = dxfLines(2);
  const std::string transfer = transferLines(2);
  const Case cases[] = {
      {"IGES input as script", {"-igesin", "x.igs", "x.igs"}, iges.c_str(), "x.igs", nullptr},
      {"DXF input as script", {"-dxf12in", "x.dxf", "x.dxf"}, dxf.c_str(), "x.dxf", nullptr},
      {"transfer file as IGES output", {"-igesout", "x.trf", "x.trf"}, transfer.c_str(), "x.trf", nullptr},
      {"the same file by another path", {"-igesin", "x.igs", "tmp/../x.igs"}, iges.c_str(), "x.igs", nullptr},
      {"a hard link of the input", {"-igesin", "x.igs", "link.kpl"}, iges.c_str(), "x.igs", "link.kpl"},
      {"the script named like the protocol", {"-igesin", "x.igs", "x.igs.prot"}, iges.c_str(), "x.igs", nullptr},
      {"the script named like the configuration", {"-igesin", "x.igs", "run.config"}, iges.c_str(), "x.igs",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w;
    w.dir.write(c.inputName, c.input);
    const std::string config = w.read("run.config");
    if (c.hardLink != nullptr) {
      ASSERT_EQ(link(w.path(c.inputName).c_str(), w.path(c.hardLink).c_str()), 0);
    }
    std::vector<std::string> args = c.args;
    args.push_back("run.config");
    const ProgramResult r = w.run(args);
    EXPECT_EQ(r.status, 12) << r.err;
    EXPECT_NE(r.err.find("(1302)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(args[2] + " = "), std::string::npos) << r.err;
    EXPECT_EQ(w.read(c.inputName), c.input);
    EXPECT_EQ(w.read("run.config"), config);
    EXPECT_FALSE(w.exists(std::string(c.inputName) + ".prot"));
  }
}

TEST(FileSafety, AStoppedRunKeepsThePreviousOutputsAndLeavesOnlyItsProtocol) {
  struct Case {
    const char* name;
    int signalNumber;
    bool igesOut;
  };
  const Case cases[] = {
      {"SIGINT while the script is written", SIGINT, false},
      {"SIGTERM while the script is written", SIGTERM, false},
      {"SIGKILL while the script is written", SIGKILL, false},
      {"SIGTERM while the section files are written", SIGTERM, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // On a busy machine the run may finish, or commit its output, between
    // seeing its file and the signal: then the case is tried again with a
    // larger drawing.
    for (int scale = 1; scale <= 16; scale *= 2) {
      const std::string dxf = dxfLines(30000 * scale);
      const std::string transfer = transferLines(20000 * scale);
      Workspace w;
      const std::string input = c.igesOut ? "in.trf" : "in.dxf";
      const std::string output = c.igesOut ? "out.igs" : "out.kpl";
      w.dir.write(input, c.igesOut ? transfer : dxf);
      w.dir.write(output, "previous output\n");
      w.dir.write(input + ".prot", "previous protocol\n");
      // The signal comes once the run has begun to write: a temporary script
      // beside the output, or section files in the temporary folder.
      bool sent = false;
      auto whileRunning = [&](pid_t pid) {
        for (const auto& e : fs::directory_iterator(c.igesOut ? w.base + "/tmp" : w.base)) {
          const std::string name = e.path().filename().string();
          const bool writing = c.igesOut ? true : name.rfind(output + ".", 0) == 0 && fs::file_size(e.path()) > 0;
          if (!writing) continue;
          kill(pid, c.signalNumber);
          sent = true;
          return true;
        }
        return false;
      };
      const std::vector<std::string> args = c.igesOut ? std::vector<std::string>{"-igesout", output, input, "run.config"}
                                                      : std::vector<std::string>{"-dxf12in", input, output, "run.config"};
      const ProgramResult r = w.run(args, withUmask(022), whileRunning, 600);
      if ((r.status == 0 || w.read(output) != "previous output\n") && scale < 16) continue;
      ASSERT_TRUE(sent) << r.err;
      EXPECT_EQ(r.status, 128 + c.signalNumber) << r.err;
      EXPECT_EQ(w.read(output), "previous output\n");
      if (c.signalNumber == SIGKILL) break;  // nothing can clean up after it
      EXPECT_EQ(w.leftovers({input, output, input + ".prot", "run.config"}), std::vector<std::string>{});
      const std::string protocol = w.read(input + ".prot");
      EXPECT_NE(protocol.find("stopped by signal " + std::to_string(c.signalNumber)), std::string::npos)
          << protocol;
      EXPECT_EQ(modeOf(w.path(input + ".prot")), 0644u);
      break;
    }
  }
}

TEST(FileSafety, AFullDiskIsOneErrorNamingTheFileAndNothingUnderTheFinalName) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* input;
    std::string inputText;
    rlim_t limit;
    int status;
    std::string failedFile;  // a part of the name the error gives
    std::string finalName;   // stays as it was ("" none before)
  };
  std::string bigConfigComment;
  for (int i = 0; i < 2000; ++i) bigConfigComment += "# a comment line of the configuration file\n";
  const Case cases[] = {
      {"the script", {"-dxf12in", "in.dxf", "out.kpl"}, "in.dxf", dxfLines(3000), 64 * 1024, 37, ": out.kpl (",
       "out.kpl"},
      {"the protocol", {"-dxf12in", "in.dxf", "out.kpl"}, "in.dxf", dxfLines(5), 32 * 1024, 13, "/in.dxf.prot (",
       "in.dxf.prot"},
      {"a section file", {"-igesout", "out.igs", "in.trf"}, "in.trf", transferLines(3000), 32 * 1024, 24, "/tmp/",
       "out.igs"},
      {"the IGES output", {"-igesout", "out.igs", "in.trf"}, "in.trf", transferLines(400), 80 * 1000, 24,
       ": out.igs (", "out.igs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w;
    w.dir.write(c.input, c.inputText);
    if (c.finalName == "in.dxf.prot") w.dir.write("run.config", w.read("run.config") + bigConfigComment);
    w.dir.write(c.finalName, "previous\n");
    std::vector<std::string> args = c.args;
    args.push_back("run.config");
    const ProgramResult r = w.run(args, fileSizeLimit(c.limit));
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(occurrences(r.err, "ERROR ("), 1) << r.err;
    EXPECT_NE(r.err.find("(1300)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.failedFile), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::strerror(EFBIG)), std::string::npos) << r.err;
    EXPECT_EQ(w.read(c.finalName), "previous\n");
    // No warning per element that could not be written.
    if (c.args[0] == "-igesout") {
      EXPECT_LT(occurrences(w.read(std::string(c.input) + ".prot"), "WARNING ("), 3);
    }
    std::set<std::string> expected = {c.input, "run.config", c.finalName, std::string(c.input) + ".prot", "out.kpl"};
    EXPECT_EQ(w.leftovers(expected), std::vector<std::string>{});
  }
}

TEST(FileSafety, NoOutputFollowsALinkOrChangesAFileSharedByHardLinks) {
  struct Case {
    const char* name;
    const char* planted;  // the name a link is planted under
    bool symbolic;
  };
  const Case cases[] = {
      {"a symbolic link under the script's name", "out.kpl", true},
      {"a symbolic link under the protocol's name", "in.dxf.prot", true},
      {"a hard link under the script's name", "out.kpl", false},
      {"a hard link under the protocol's name", "in.dxf.prot", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace w;
    w.dir.write("in.dxf", dxfLines(3));
    w.dir.write("victim.txt", "somebody's data\n");
    const int linked = c.symbolic ? symlink(w.path("victim.txt").c_str(), w.path(c.planted).c_str())
                                  : link(w.path("victim.txt").c_str(), w.path(c.planted).c_str());
    ASSERT_EQ(linked, 0);
    const ProgramResult r = w.run({"-dxf12in", "in.dxf", "out.kpl", "run.config"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(w.read("victim.txt"), "somebody's data\n");
    struct stat info {};
    ASSERT_EQ(lstat(w.path(c.planted).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_nlink, 1u);
    EXPECT_NE(w.read(c.planted), "somebody's data\n");
  }
}

TEST(FileSafety, ModesOfOutputsAndScratchFiles) {
  // Finished outputs get the mode of a newly created file.
  for (const mode_t mask : {mode_t{022}, mode_t{027}}) {
    SCOPED_TRACE(mask);
    Workspace w;
    w.dir.write("in.dxf", dxfLines(3));
    w.dir.write("in.trf", transferLines(3));
    ASSERT_EQ(w.run({"-dxf12in", "in.dxf", "out.kpl", "run.config"}, withUmask(mask)).status, 0);
    ASSERT_EQ(w.run({"-igesout", "out.igs", "in.trf", "run.config"}, withUmask(mask)).status, 0);
    for (const char* name : {"out.kpl", "in.dxf.prot", "out.igs", "in.trf.prot"})
      EXPECT_EQ(modeOf(w.path(name)), 0666u & ~mask) << name;
  }
  // Section files in a shared temporary folder: readable by their owner
  // only, and a name another user made before is no obstacle.
  Workspace w;
  w.dir.write("in.trf", transferLines(20000));
  std::map<std::string, mode_t> seen;
  auto whileRunning = [&](pid_t) {
    for (const auto& e : fs::directory_iterator(w.base + "/tmp")) {
      const std::string name = e.path().filename().string();
      // The files of the run, not the names planted before it.
      if (std::count(name.begin(), name.end(), '_') == 2) seen[name] = modeOf(e.path().string());
    }
    return seen.size() >= 5;
  };
  const std::string tmp = w.base + "/tmp/";
  const bool root = geteuid() == 0;
  auto plantNames = [tmp, root] {
    // The names the section files of this process would have if they were
    // made from the process id and the run counter alone.
    const std::string pid = std::to_string(getpid());
    for (const char* stem : {"strt", "glob", "dirc", "parm", "term"}) {
      const std::string name = tmp + stem + pid + "_1.tmp";
      const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (fd < 0 || write(fd, "foreign", 7) != 7) return false;
      close(fd);
      if (root && chown(name.c_str(), kNobody, kNobody) != 0) return false;
    }
    return true;
  };
  const ProgramResult r = w.run({"-igesout", "out.igs", "in.trf", "run.config"}, plantNames, whileRunning);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_GE(seen.size(), 5u);
  for (const auto& [name, mode] : seen) EXPECT_EQ(mode, 0600u) << name;
  int planted = 0;
  for (const auto& e : fs::directory_iterator(w.base + "/tmp")) {
    EXPECT_EQ(readWholeFile(e.path().string()), "foreign") << e.path();
    ++planted;
  }
  EXPECT_EQ(planted, 5);
}

TEST(FileSafety, AScriptThatCannotBeCreatedNamesTheFileAndTheReason) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  Workspace w;
  w.dir.write("in.dxf", dxfLines(3));
  fs::create_directories(w.base + "/readonly");
  fs::create_directories(w.base + "/shared");
  chmod(w.base.c_str(), 0755);
  chmod((w.base + "/readonly").c_str(), 0555);
  chmod((w.base + "/shared").c_str(), 0777);
  chmod((w.base + "/tmp").c_str(), 0777);
  chmod(w.path("in.dxf").c_str(), 0644);
  w.dir.write("run.config", "TR_TEMP " + w.base + "/tmp\nTR_PROT " + w.base + "/shared\n");
  chmod(w.path("run.config").c_str(), 0644);
  auto asNobody = [] { return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0; };
  const ProgramResult r = w.run({"-dxf12in", "in.dxf", "readonly/out.kpl", "run.config"}, asNobody);
  if (r.status == 126 || r.status == 127) GTEST_SKIP() << "cannot run the program as nobody here";
  EXPECT_EQ(r.status, 37) << r.err;
  EXPECT_NE(r.err.find("The KPL script cannot be created: readonly/out.kpl (" + std::string(std::strerror(EACCES)) + ")"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_empty(w.base + "/readonly"));
}

TEST(FileSafety, TwoRunsWritingOneScriptLeaveOneWholeScript) {
  // Each run's script alone, for comparison.
  std::map<std::string, std::string> whole;
  const std::map<std::string, std::string> inputs = {{"a.dxf", dxfLines(8000)}, {"b.dxf", dxfLines(12000)}};
  for (const auto& [name, text] : inputs) {
    Workspace alone;
    alone.dir.write(name, text);
    ASSERT_EQ(alone.run({"-dxf12in", name, "out.kpl", "run.config"}).status, 0);
    whole[name] = alone.read("out.kpl");
  }
  for (int round = 0; round < 3; ++round) {
    Workspace w;
    for (const auto& [name, text] : inputs) w.dir.write(name, text);
    auto runOf = [&w](const std::string& name) { return w.run({"-dxf12in", name, "out.kpl", "run.config"}).status; };
    auto first = std::async(std::launch::async, runOf, "a.dxf");
    auto second = std::async(std::launch::async, runOf, "b.dxf");
    EXPECT_EQ(first.get(), 0);
    EXPECT_EQ(second.get(), 0);
    const std::string script = w.read("out.kpl");
    EXPECT_TRUE(script == whole["a.dxf"] || script == whole["b.dxf"]) << "round " << round;
    EXPECT_EQ(w.leftovers({"a.dxf", "b.dxf", "a.dxf.prot", "b.dxf.prot", "run.config", "out.kpl"}),
              std::vector<std::string>{});
  }
}

}  // namespace

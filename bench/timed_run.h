// Runs a program as the benchmarks of whole conversions do: its output
// thrown away, its processor time (user and system) measured, which other
// load of the machine leaves alone.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// The processor seconds of one run, or -1 when it cannot run or ends with
// another status than 0; `peakKb`, when given, takes the run's peak
// resident memory in kilobytes.
inline double timedRun(const std::vector<std::string>& args, const std::string& workDir, long* peakKb = nullptr) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (chdir(workDir.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds(usage.ru_utime) + seconds(usage.ru_stime) : -1;
}

// The least of three runs, or -1 when one fails; `peakKb` as for timedRun
// (the largest of the three).
inline double bestOfThree(const std::vector<std::string>& args, const std::string& workDir, long* peakKb = nullptr) {
  double best = -1;
  for (int i = 0; i < 3; ++i) {
    long peak = 0;
    const double t = timedRun(args, workDir, &peak);
    if (peakKb != nullptr) *peakKb = i == 0 ? peak : std::max(*peakKb, peak);
    if (t < 0) return -1;
    best = best < 0 ? t : std::min(best, t);
  }
  return best;
}

// The command line of the benches that run the program against a peer
// program: [-k] [max size] [program] [peer].  The program defaults to
// trovak_iges beside the bench folder of the build, the peer to
// `defaultPeer`; -k keeps the files.  Empty when the program cannot run.
struct PeerBenchArgs {
  std::filesystem::path self;  // this bench, for runs of its own child modes
  bool keep = false;
  long most = 1000000;
  std::string program;
  std::string peer;
  bool withPeer = false;
};

inline std::optional<PeerBenchArgs> peerBenchArgs(int argc, char** argv, const char* defaultPeer) {
  PeerBenchArgs a;
  a.self = std::filesystem::absolute(argv[0]);
  a.keep = argc > 1 && std::string(argv[1]) == "-k";
  if (a.keep) {
    --argc;
    ++argv;
  }
  if (argc > 1) a.most = std::atol(argv[1]);
  a.program = argc > 2 ? std::string(argv[2]) : (a.self.parent_path().parent_path() / "trovak_iges").string();
  a.peer = std::filesystem::absolute(argc > 3 ? argv[3] : defaultPeer).string();
  if (access(a.program.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no program %s\n", a.program.c_str());
    return std::nullopt;
  }
  a.withPeer = access(a.peer.c_str(), X_OK) == 0;
  return a;
}

// A fresh folder /tmp/bench_<name>_XXXXXX for the runs of a benchmark,
// with a run configuration (run.config) whose temporary folder is its
// tmp; empty when it cannot be made.
inline std::string benchRunFolder(const std::string& name) {
  std::string pattern = "/tmp/bench_" + name + "_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return "";
  std::error_code ec;
  std::filesystem::create_directories(pattern + "/tmp", ec);
  std::FILE* config = std::fopen((pattern + "/run.config").c_str(), "w");
  if (ec || config == nullptr) return "";
  std::fprintf(config, "TR_PROT ./\nTR_TEMP %s/tmp/\nTR_LANG english\nTR_STAT nein\n", pattern.c_str());
  std::fclose(config);
  return pattern;
}

}  // namespace bench

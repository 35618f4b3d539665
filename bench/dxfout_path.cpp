// The whole -dxfout run of the program on a generated CAD transfer file of
// 1M lines (every fiftieth line closes a group of the ten before it, so
// blocks and inserts are part of it): reading the file, building the
// drawing database, the audit and the save as DXF of Release 2000.  The
// same file is then converted with -dxf12out, the own DXF writer, as the
// baseline of the same call.  Printed per run: seconds, megabytes of DXF
// written, megabytes per second, and the ratio of the two runs' rates.
// The goal of -dxfout is 100 MB of DXF per second or more.
//
// Usage: bench_dxfout_path [lines, default 1000000] [-acad suffix, default 2000]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string transferFile(long lines) {
  std::string out = "@fileversion\n#1\n#V1\n#BenchCAD\n@general\n#0\n#0\n#1000\n#1000\n#3\n#10\n#20\n#30\n";
  out.reserve(static_cast<std::size_t>(lines) * 110);
  char buffer[256];
  for (long id = 1; id <= lines; ++id) {
    const double x = static_cast<double>(id % 1000);
    std::snprintf(buffer, sizeof buffer,
                  "@line %ld\n#attr\n#x\n#visible\n#1 0 0 0 black\n#%g\n#%g\n#%g\n#%g\n#%d\n#1\n#0.5\n", id, x,
                  x * 0.5, x + 1.0, x * 0.5 + 2.0, 10 * static_cast<int>(id % 3 + 1));
    out += buffer;
    if (id % 50 == 0) {
      std::snprintf(buffer, sizeof buffer, "@group %ld G%ld\n#attr\n#x\n", lines + id, id);
      out += buffer;
      for (long m = id - 9; m <= id; ++m) {
        std::snprintf(buffer, sizeof buffer, "#%ld\n", m);
        out += buffer;
      }
      out += "#end\n";
    }
  }
  return out;
}

struct Run {
  double seconds = 0;
  double megabytes = 0;
  int status = -1;
  double rate() const { return seconds > 0 ? megabytes / seconds : 0; }
};

// Runs the program in `dir` with its output going nowhere; the time of the
// whole process and the size of the file it wrote.
Run runProgram(const fs::path& dir, const std::vector<std::string>& args, const fs::path& output) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(TROVAK_PROGRAM));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  Run run;
  fs::remove(output);
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, TROVAK_PROGRAM, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  std::error_code ignored;
  run.megabytes = static_cast<double>(fs::file_size(output, ignored)) / 1e6;
  if (ignored) run.megabytes = 0;
  return run;
}

void print(const char* label, const Run& r) {
  std::printf("%-22s %6d %10.3f %10.1f %10.1f\n", label, r.status, r.seconds, r.megabytes, r.rate());
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string release = argc > 2 ? argv[2] : "2000";
  const fs::path dir = fs::temp_directory_path() / ("trovak_bench_dxfout_" + std::to_string(getpid()));
  fs::create_directories(dir / "tmp");
  {
    std::ofstream config(dir / "run.config");
    config << "TR_PROT ./\nTR_TEMP " << (dir / "tmp").string() << "\nTR_LANG english\nTR_STAT nein\n";
    std::ofstream input(dir / "in.trf", std::ios::binary);
    input << transferFile(lines);
  }
  std::printf("%ld lines, %.1f MB of transfer file\n", lines, static_cast<double>(fs::file_size(dir / "in.trf")) / 1e6);
  std::printf("%-22s %6s %10s %10s %10s\n", "run", "status", "seconds", "MB out", "MB/s");
  const Run toolkit = runProgram(dir, {"-dxfout", "-acad" + release, "out.dxf", "in.trf", "run.config"}, dir / "out.dxf");
  print(("-dxfout -acad" + release).c_str(), toolkit);
  const Run own = runProgram(dir, {"-dxf12out", "own.dxf", "in.trf", "run.config"}, dir / "own.dxf");
  print("-dxf12out (baseline)", own);
  if (own.rate() > 0) std::printf("rate of -dxfout / rate of -dxf12out: %.2f\n", toolkit.rate() / own.rate());
  fs::remove_all(dir);
  return toolkit.status == 0 && own.status == 0 ? 0 : 1;
}

// The progress line through the real program: with standard error on a
// terminal a long run shows the line, updates it and clears it at its end,
// and nothing of it reaches the protocol, the output file or standard
// output; a short run shows none; with standard error a pipe nothing of it
// is written at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "transfer/dispatch_samples.h"

namespace {

constexpr const char* kClearToEnd = "\033[K";

// A pseudo-terminal for the program's standard error, in raw mode so that
// the screen shows the bytes as written.
class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    termios mode{};
    if (slave_ >= 0 && tcgetattr(slave_, &mode) == 0) {
      cfmakeraw(&mode);
      tcsetattr(slave_, TCSANOW, &mode);
    }
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 160;
    if (slave_ >= 0) ioctl(slave_, TIOCSWINSZ, &size);
  }
  ~Terminal() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ready() const { return slave_ >= 0; }
  int slave() const { return slave_; }
  // Appends what the program has written so far to `screen`.
  void drain(std::string& screen) const {
    char buffer[4096];
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      screen.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

double secondsNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct TerminalRun {
  std::unique_ptr<TempDir> dir;
  ProgramResult result;
  std::string screen;  // what a terminal on standard error showed
  int lines = 0;  // of the drawing converted
  double seconds = 0.0;
  std::string protocol, output;
};

// -igesout of a drawing of `lines` lines; standard error on `terminal`, or
// a pipe when it is nullptr.
TerminalRun convert(int lines, const Terminal* terminal) {
  samples::TransferFile drawing(1);
  for (int k = 0; k < lines; ++k) drawing.line(std::to_string(k + 1), k, 0, k, 10 + k % 7);
  TerminalRun run;
  run.lines = lines;
  run.dir = std::make_unique<TempDir>();
  const std::string base = run.dir->path();
  std::filesystem::create_directories(base + "/tmp");
  const std::string config =
      run.dir->write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\nTR_LANG english\n");
  run.dir->write("in.trf", drawing.str());
  std::function<bool(pid_t)> watch;
  std::function<bool()> onTerminal;
  if (terminal != nullptr) {
    watch = [&](pid_t) {
      terminal->drain(run.screen);
      return false;
    };
    onTerminal = [terminal] { return dup2(terminal->slave(), STDERR_FILENO) == STDERR_FILENO; };
  }
  const double start = secondsNow();
  run.result = runProgram(TROVAK_PROGRAM, {"-igesout", "out.igs", "in.trf", config}, base, "", 600, watch, onTerminal);
  run.seconds = secondsNow() - start;
  if (terminal != nullptr) terminal->drain(run.screen);
  run.protocol = readWholeFile(base + "/in.trf.prot");
  run.output = readWholeFile(base + "/out.igs");
  return run;
}

// The lines the screen showed, in order: each carriage return starts one,
// "\033[K" ends it; an empty one is the line cleared.
std::vector<std::string> shownLines(const std::string& screen) {
  std::vector<std::string> lines;
  for (std::size_t at = screen.find('\r'); at != std::string::npos; at = screen.find('\r', at + 1)) {
    const std::size_t end = screen.find(kClearToEnd, at);
    if (end == std::string::npos) break;
    lines.push_back(screen.substr(at + 1, end - at - 1));
  }
  return lines;
}

TEST(ProgressLineRun, ALongRunOnATerminalShowsUpdatesAndClearsTheLine) {
  Terminal terminal;
  if (!terminal.ready()) GTEST_SKIP() << "no pseudo-terminal here";
  // Long enough for the line (it waits a second) to be drawn several times,
  // however fast the machine converts: the drawing grows until it is.
  TerminalRun run;
  std::set<std::string> drawn;
  for (int lines = 20000; lines <= 1280000; lines *= 4) {
    run = convert(lines, &terminal);
    ASSERT_EQ(run.result.status, 0) << run.result.out;
    drawn.clear();
    for (const std::string& line : shownLines(run.screen))
      if (!line.empty()) drawn.insert(line);
    if (drawn.size() >= 3 || run.seconds > 20.0) break;
  }
  ASSERT_GE(drawn.size(), 3u) << "a run of " << run.seconds << " s drew " << drawn.size() << " lines";
  // Once shown, the line follows the run: it changes at least every two
  // seconds (it may change four times a second).
  EXPECT_GE(static_cast<double>(drawn.size()), (run.seconds - 1.0) / 2.0) << run.seconds << " s";
  // The phase, the elements done of all and the percentage.
  bool ofAll = false;
  for (const std::string& line : drawn)
    ofAll = ofAll || (line.find(" of ") != std::string::npos && line.find(" %)") != std::string::npos);
  EXPECT_TRUE(ofAll) << *drawn.begin();
  // Cleared at the end: the last line shown is the empty one.
  const std::vector<std::string> shown = shownLines(run.screen);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back(), "");
  // Nothing of it in the files and on standard output.
  for (const std::string* text : {&run.protocol, &run.output, &run.result.out}) {
    EXPECT_EQ(text->find(kClearToEnd), std::string::npos);
    EXPECT_EQ(text->find('\r'), std::string::npos);
    for (const std::string& line : drawn) EXPECT_EQ(text->find(line), std::string::npos) << line;
  }
  EXPECT_TRUE(run.result.err.empty());

  // The same run with standard error a pipe: nothing of the line anywhere.
  const TerminalRun piped = convert(run.lines, nullptr);
  ASSERT_EQ(piped.result.status, 0) << piped.result.out;
  for (const std::string* text : {&piped.result.err, &piped.result.out, &piped.protocol}) {
    EXPECT_EQ(text->find(kClearToEnd), std::string::npos);
    EXPECT_EQ(text->find('\r'), std::string::npos);
    for (const std::string& line : drawn) EXPECT_EQ(text->find(line), std::string::npos) << line;
  }
}

TEST(ProgressLineRun, AShortRunShowsNothing) {
  Terminal terminal;
  if (!terminal.ready()) GTEST_SKIP() << "no pseudo-terminal here";
  const TerminalRun run = convert(10, &terminal);
  ASSERT_EQ(run.result.status, 0) << run.result.out;
  // The line waits a second before it first appears.
  if (run.seconds >= 1.0) GTEST_SKIP() << "the short run took " << run.seconds << " s";
  EXPECT_EQ(run.screen.find(kClearToEnd), std::string::npos) << run.screen;
}

}  // namespace

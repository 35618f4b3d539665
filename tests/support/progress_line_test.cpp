// The progress line: drawn in place on a terminal, never on a pipe or a
// file, cut to the terminal's width, and taken off the screen for other
// text and at the end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/progress_line.h"

namespace {

constexpr double kAtOnce = 0.0;
constexpr double kNotSoon = 3600.0;
// More ticks than the line lets pass before it first looks at the clock.
constexpr int kManyTicks = 4096;

std::string gText = "converting: 5 of 10 elements (50 %)";
std::string describe() { return gText; }

// Everything that can be read from `fd` now.
std::string drain(int fd) {
  std::string seen;
  char buffer[512];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return seen;
}

void tick(int times) {
  for (int i = 0; i < times; ++i) progressLineTick();
}

// A pseudo-terminal in raw mode: the side the program writes to and the
// side the test reads the screen from.
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
  }
  ~Terminal() {
    progressLineEnd();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool ready() const { return slave_ >= 0; }
  int screen() const { return master_; }
  int stderrSide() const { return slave_; }
  void setColumns(unsigned short columns) const {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    ioctl(slave_, TIOCSWINSZ, &size);
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

TEST(ProgressLine, OnATerminalTheLineIsDrawnInPlaceTakenOffForOtherTextAndClearedAtTheEnd) {
  Terminal terminal;
  if (!terminal.ready()) GTEST_SKIP() << "no pseudo-terminal here";
  terminal.setColumns(80);
  gText = "converting: 5 of 10 elements (50 %)";
  progressLineStart(terminal.stderrSide(), kAtOnce, describe);
  tick(kManyTicks);
  EXPECT_EQ(drain(terminal.screen()), "\r" + gText + "\033[K");
  EXPECT_TRUE(progressLine().shown);

  // Another phase shows at once, on the same line.
  gText = "writing the output: 10 of 10 elements (100 %)";
  progressLineLook();
  EXPECT_EQ(drain(terminal.screen()), "\r" + gText + "\033[K");

  progressLineHide();
  EXPECT_EQ(drain(terminal.screen()), "\r\033[K");
  progressLineHide();  // off the screen already: nothing more
  EXPECT_EQ(drain(terminal.screen()), "");

  progressLineLook();
  EXPECT_EQ(drain(terminal.screen()), "\r" + gText + "\033[K");
  progressLineEnd();
  EXPECT_EQ(drain(terminal.screen()), "\r\033[K");
  tick(kManyTicks);  // ended: the loops go on without a line
  EXPECT_EQ(drain(terminal.screen()), "");
}

TEST(ProgressLine, AShortRunShowsNothing) {
  Terminal terminal;
  if (!terminal.ready()) GTEST_SKIP() << "no pseudo-terminal here";
  progressLineStart(terminal.stderrSide(), kNotSoon, describe);
  tick(kManyTicks);
  progressLineLook();
  progressLineEnd();
  EXPECT_EQ(drain(terminal.screen()), "");
}

TEST(ProgressLine, TheLineIsCutToTheTerminalWidthSoItNeverWraps) {
  Terminal terminal;
  if (!terminal.ready()) GTEST_SKIP() << "no pseudo-terminal here";
  terminal.setColumns(12);
  gText = "Konvertieren: \xc3\xa4\xc3\xb6 5 von 10 Elementen (50 %)";
  progressLineStart(terminal.stderrSide(), kAtOnce, describe);
  progressLineLook();
  // Eleven columns, one less than the terminal has.
  EXPECT_EQ(drain(terminal.screen()), "\rKonvertiere\033[K");
  terminal.setColumns(20);  // the two umlauts take one column each
  progressLineLook();
  EXPECT_EQ(drain(terminal.screen()), "\rKonvertieren: \xc3\xa4\xc3\xb6 5 \033[K");
}

TEST(ProgressLine, NothingReachesAPipeOrAFile) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  char fileName[] = "/tmp/progress_line_XXXXXX";
  const int file = mkstemp(fileName);
  ASSERT_GE(file, 0);
  unlink(fileName);
  for (const int fd : {pipeEnds[1], file}) {
    progressLineStart(fd, kAtOnce, describe);
    EXPECT_FALSE(progressLine().active);
    tick(kManyTicks);
    progressLineLook();
    progressLineHide();
    progressLineEnd();
  }
  close(pipeEnds[1]);
  EXPECT_EQ(drain(pipeEnds[0]), "");
  close(pipeEnds[0]);
  EXPECT_EQ(lseek(file, 0, SEEK_END), 0);
  close(file);
}

}  // namespace

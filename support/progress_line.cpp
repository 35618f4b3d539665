#include "support/progress_line.h"

#include "support/run_state.h"

#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr double kRedrawSeconds = 0.25;   // the line changes at most four times a second
constexpr double kLookSeconds = 0.05;     // aim for a look at the clock about this often
constexpr long kFirstInterval = 256;
constexpr long kLongestInterval = 1L << 20;
constexpr const char* kClearToEnd = "\033[K";

double secondsNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Writes all of `text`; a terminal that refuses it ends the line for the run.
void writeAll(ProgressLineState& s, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(s.fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      s.active = false;
      s.shown = false;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

// The columns the line may fill: one less than the terminal is wide, so
// that it never wraps (a wrapped line cannot be rewritten in place).
std::size_t usableColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
  return 79;
}

// The text cut to `columns` characters, counting UTF-8 sequences as one.
std::string cutToColumns(const std::string& text, std::size_t columns) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;
    if (seen == columns) return text.substr(0, i);
    ++seen;
  }
  return text;
}

void draw(ProgressLineState& s, double now) {
  const std::string text = s.describe != nullptr ? s.describe() : std::string();
  std::string line = "\r";
  line += cutToColumns(text, usableColumns(s.fd));
  line += kClearToEnd;
  writeAll(s, line);
  if (!s.active) return;
  s.shown = true;
  s.lastDrawn = now;
}

}  // namespace

ProgressLineState& progressLine() {
  static ProgressLineState state;
  return state;
}

// A new run starts without a line: nothing shown, nothing to clear.
const RunStateRegistrar kRunStateRegistered("progress line", [] { progressLine() = ProgressLineState{}; });

void progressLineStart(int fd, double delaySeconds, ProgressDescribe describe) {
  ProgressLineState& s = progressLine();
  s = ProgressLineState{};
  if (fd < 0 || isatty(fd) != 1) return;
  s.active = true;
  s.fd = fd;
  s.interval = kFirstInterval;
  s.countdown = kFirstInterval;
  s.startedAt = secondsNow();
  s.lastLook = s.startedAt;
  s.delay = delaySeconds;
  s.describe = describe;
}

void progressLineTick() {
  ProgressLineState& s = progressLine();
  if (!s.active || --s.countdown > 0) return;
  const double now = secondsNow();
  // The ticks between two looks follow the speed of the loop: about as
  // many as pass in kLookSeconds.  A loop that slows down is followed at
  // once, one that speeds up by doubling, so that a burst of cheap ticks
  // cannot stretch the wait for the next look.
  const double since = now - s.lastLook;
  const double doubled = 2.0 * static_cast<double>(s.interval);
  const double fitting = since > 0.0 ? static_cast<double>(s.interval) * kLookSeconds / since : doubled;
  s.interval = std::clamp(static_cast<long>(std::min(fitting, doubled)), 1L, kLongestInterval);
  s.countdown = s.interval;
  s.lastLook = now;
  if (now - s.startedAt >= s.delay && now - s.lastDrawn >= kRedrawSeconds) draw(s, now);
}

void progressLineLook() {
  ProgressLineState& s = progressLine();
  if (!s.active) return;
  const double now = secondsNow();
  // A new phase: its loop may go at another speed than the one before,
  // so its ticks are counted from the short interval again.
  s.interval = kFirstInterval;
  s.countdown = kFirstInterval;
  s.lastLook = now;
  if (now - s.startedAt >= s.delay) draw(s, now);
}

void progressLineHide() {
  ProgressLineState& s = progressLine();
  if (!s.active || !s.shown) return;
  std::string line = "\r";
  line += kClearToEnd;
  writeAll(s, line);
  s.shown = false;
  s.lastDrawn = 0.0;  // drawn again at the next look
}

void progressLineEnd() {
  progressLineHide();
  progressLine() = ProgressLineState{};
}

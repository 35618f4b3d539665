#include "support/timer.h"

#include <cmath>
#include <cstdio>

#include "support/config.h"
#include "support/run_state.h"
#include "support/time_stamp.h"
#include "support/trace.h"

namespace {

constexpr int kTimerTraceLevel = 9;  // trace lines above this setting

std::string stampAt(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return "";
  return timeStampOf(2, local);
}

// The last interval in hours, minutes and seconds.
void computeInterval(RunTimer& timer) {
  std::int64_t elapsed = timer.stopSeconds - timer.startSeconds;
  if (elapsed < 0) elapsed = 0;  // the clock was set back: no negative run times
  std::int64_t minutes = elapsed / 60;
  timer.seconds = static_cast<double>(elapsed - 60 * minutes);
  timer.hours = static_cast<int>(minutes / 60);
  timer.minutes = static_cast<int>(minutes % 60);
}

// Adds the last interval to the sum, carrying seconds into minutes and
// minutes into hours.
void accumulate(RunTimer& timer) {
  timer.sumHours += timer.hours;
  timer.sumMinutes += timer.minutes;
  timer.sumSeconds += timer.seconds;
  if (timer.sumSeconds >= 60.0) {
    const double wholeMinutes = std::floor(timer.sumSeconds / 60.0);
    timer.sumMinutes += static_cast<int>(wholeMinutes);
    timer.sumSeconds -= 60.0 * wholeMinutes;
  }
  if (timer.sumMinutes > 59) {
    timer.sumHours += timer.sumMinutes / 60;
    timer.sumMinutes %= 60;
  }
}

}  // namespace

int trcTimerAt(RunTimer& timer, int stop, int compute, std::time_t now) {
  TraceScope t("trc900");
  if (stop == 0) {
    timer.startText = stampAt(now);
    timer.startSeconds = static_cast<std::int64_t>(now);
    return 0;
  }
  timer.stopText = stampAt(now);
  timer.stopSeconds = static_cast<std::int64_t>(now);
  if (compute == 0) return 0;
  const bool traced = runSettings().traceLevel > kTimerTraceLevel;
  computeInterval(timer);
  if (traced)
    std::printf("trc900 : Aktueller Wert                -> %2d h %2d m %f s \n", timer.hours,
                timer.minutes, timer.seconds);
  accumulate(timer);
  if (traced)
    std::printf("trc900 : Auflaufwert bei Summenbildung -> %2d h %2d m %f s \n", timer.sumHours,
                timer.sumMinutes, timer.sumSeconds);
  return 0;
}

int trcTimer(RunTimer& timer, int stop, int compute) {
  return trcTimerAt(timer, stop, compute, std::time(nullptr));
}

TimerState& trcTimers() {
  static TimerState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("timers", trcResetTimers);

void trcResetTimers() { trcTimers() = TimerState{}; }

// The run timer: measures intervals of calendar time and sums them.  The
// dispatcher keeps one timer for the whole run; the second one is free for
// any module that wants to accumulate the time of one of its steps.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct RunTimer {
  std::string startText;  // time stamp (mode 2) taken at start
  std::string stopText;   // time stamp taken at stop
  std::int64_t startSeconds = 0;
  std::int64_t stopSeconds = 0;
  int sumHours = 0;  // accumulated over all measured intervals
  int sumMinutes = 0;
  double sumSeconds = 0.0;  // below 60 after carrying
  int hours = 0;            // the last interval
  int minutes = 0;
  double seconds = 0.0;
};

// stop 0: starts the interval.  stop != 0: stops it; with compute != 0 the
// interval is computed and added to the sum.  Returns 0.
int trcTimer(RunTimer& timer, int stop, int compute);  // trc900
// The same at a given calendar time.
int trcTimerAt(RunTimer& timer, int stop, int compute, std::time_t now);

struct TimerState {
  RunTimer run;     // the whole run
  RunTimer second;  // accumulated by other modules
};
TimerState& trcTimers();
void trcResetTimers();

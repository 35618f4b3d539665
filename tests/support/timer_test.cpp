// The run timer: intervals and their accumulation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/config.h"
#include "support/time_stamp.h"
#include "support/timer.h"

namespace {

TEST(RunTimer, IntervalsAndSums) {
  struct Case {
    std::vector<long> intervals;
    int hours, minutes;
    double seconds;  // the last interval
    int sumHours, sumMinutes;
    double sumSeconds;
  } cases[] = {
      {{3725}, 1, 2, 5.0, 1, 2, 5.0},
      {{40, 40}, 0, 0, 40.0, 0, 1, 20.0},
      {{59, 1}, 0, 0, 1.0, 0, 1, 0.0},
      {{3599, 1}, 0, 0, 1.0, 1, 0, 0.0},
      {{-5}, 0, 0, 0.0, 0, 0, 0.0},  // a clock set back gives no negative time
  };
  for (const Case& c : cases) {
    RunTimer timer;
    std::time_t now = 1000000;
    for (long d : c.intervals) {
      trcTimerAt(timer, 0, 0, now);
      now += d;
      trcTimerAt(timer, 1, 1, now);
    }
    EXPECT_EQ(timer.hours, c.hours);
    EXPECT_EQ(timer.minutes, c.minutes);
    EXPECT_DOUBLE_EQ(timer.seconds, c.seconds);
    EXPECT_EQ(timer.sumHours, c.sumHours);
    EXPECT_EQ(timer.sumMinutes, c.sumMinutes);
    EXPECT_DOUBLE_EQ(timer.sumSeconds, c.sumSeconds);
  }
}

TEST(RunTimer, TraceLinesAboveNine) {
  resetRunConfiguration();
  runSettings().traceLevel = 10;
  RunTimer timer;
  testing::internal::CaptureStdout();
  trcTimerAt(timer, 0, 0, 0);
  trcTimerAt(timer, 1, 1, 3725);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("trc900 : Aktueller Wert                ->  1 h  2 m 5.000000 s \n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("trc900 : Auflaufwert bei Summenbildung ->  1 h  2 m 5.000000 s \n"),
            std::string::npos);
  runSettings().traceLevel = 9;
  testing::internal::CaptureStdout();
  trcTimerAt(timer, 1, 1, 3725);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  resetRunConfiguration();
}

TEST(TimeStamp, Modes) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 6;
  when.tm_hour = 9;
  when.tm_min = 5;
  when.tm_sec = 3;
  const struct {
    int mode;
    const char* text;
  } cases[] = {{0, ""},
               {1, "06.12.26"},
               {2, "06.12.2026 09:05:03"},
               {3, "261206.090503"},
               {4, "20261206.090503"},
               {5, "06.12.2026"},
               {17, "261206.090503"}};
  for (const auto& c : cases) EXPECT_EQ(timeStampOf(c.mode, when), c.text) << c.mode;
}

// The clock's text is kept from call to call: a new second or another
// mode must still give its own text.
TEST(TimeStamp, FollowsTheClockAndTheMode) {
  const char* saved = std::getenv("SOURCE_DATE_EPOCH");
  const std::string restore = saved != nullptr ? saved : "";
  const struct {
    const char* epoch;
    int mode;
    const char* text;
  } cases[] = {{"1765011903", 2, "06.12.2025 09:05:03"}, {"1765011903", 2, "06.12.2025 09:05:03"},
               {"1765011904", 2, "06.12.2025 09:05:04"}, {"1765011904", 3, "251206.090504"},
               {"1765011904", 1, "06.12.25"},            {"1765011903", 4, "20251206.090503"}};
  for (const auto& c : cases) {
    setenv("SOURCE_DATE_EPOCH", c.epoch, 1);
    EXPECT_EQ(timeStamp(c.mode), c.text) << c.epoch << " mode " << c.mode;
  }
  EXPECT_EQ(timeStamp(0), "");
  if (saved != nullptr) {
    setenv("SOURCE_DATE_EPOCH", restore.c_str(), 1);
  } else {
    unsetenv("SOURCE_DATE_EPOCH");
  }
}

}  // namespace

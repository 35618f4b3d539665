#include "support/time_stamp.h"

#include <cstdio>
#include <cstdlib>

#include "support/run_state.h"

std::string timeStampOf(int mode, const std::tm& when) {
  // The fields are widened before formatting so that no field of a
  // broken-down time can overflow the buffer.
  const long day = when.tm_mday;
  const long month = when.tm_mon + 1L;
  const long year = when.tm_year + 1900L;
  const long shortYear = ((year % 100) + 100) % 100;
  const long hours = when.tm_hour;
  const long minutes = when.tm_min;
  const long seconds = when.tm_sec;
  char buffer[96];
  switch (mode) {
    case 0:
      return "";
    case 1:
      std::snprintf(buffer, sizeof buffer, "%02ld.%02ld.%02ld", day, month, shortYear);
      break;
    case 2:
      std::snprintf(buffer, sizeof buffer, "%02ld.%02ld.%ld %02ld:%02ld:%02ld", day, month, year,
                    hours, minutes, seconds);
      break;
    case 4:
      std::snprintf(buffer, sizeof buffer, "%ld%02ld%02ld.%02ld%02ld%02ld", year, month, day, hours,
                    minutes, seconds);
      break;
    case 5:
      std::snprintf(buffer, sizeof buffer, "%02ld.%02ld.%02ld", day, month, year);
      break;
    default:  // 3 and every mode not listed
      std::snprintf(buffer, sizeof buffer, "%02ld%02ld%02ld.%02ld%02ld%02ld", shortYear, month, day,
                    hours, minutes, seconds);
      break;
  }
  return buffer;
}

namespace {

// A build or test that needs outputs which do not change from run to run
// fixes the clock with SOURCE_DATE_EPOCH (seconds since 1970, taken as UTC),
// the convention of reproducible builds.  Anything but a plain decimal
// number is ignored.
bool fixedClock(std::time_t& when) {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return false;
  long long seconds = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || seconds > 253402300799LL) return false;
    seconds = seconds * 10 + (*c - '0');
  }
  if (seconds > 253402300799LL) return false;  // after the year 9999
  when = static_cast<std::time_t>(seconds);
  return true;
}

// The text changes once a second while messages, timers and file comments
// ask for it far more often: the last text made is kept with the second and
// mode it was made for.
struct LastStamp {
  bool valid = false, fixed = false;
  int mode = 0;
  std::time_t when = 0;
  std::string text;
};

LastStamp& lastStamp() {
  static LastStamp last;
  return last;
}

const RunStateRegistrar kRunStateRegistered("time stamp", [] { lastStamp() = LastStamp(); });

}  // namespace

std::string timeStamp(int mode) {
  if (mode == 0) return "";
  LastStamp& last = lastStamp();
  std::time_t when = 0;
  const bool fixed = fixedClock(when);
  if (!fixed) when = std::time(nullptr);
  if (last.valid && last.mode == mode && last.fixed == fixed && last.when == when) return last.text;
  std::tm broken{};
  if ((fixed ? gmtime_r(&when, &broken) : localtime_r(&when, &broken)) == nullptr) return "";
  last.text = timeStampOf(mode, broken);
  last.valid = true;
  last.fixed = fixed;
  last.mode = mode;
  last.when = when;
  return last.text;
}

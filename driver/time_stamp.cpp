#include "driver/time_stamp.h"

#include <cstdio>

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

std::string timeStamp(int mode) {
  if (mode == 0) return "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return "";
  return timeStampOf(mode, local);
}

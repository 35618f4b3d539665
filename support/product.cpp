#include "support/product.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kMonthAbbreviations[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string formatBuildDate(const char* compilerDate) {
  // "Mmm dd yyyy", the day padded with a blank.
  int month = 0;
  for (int i = 0; i < 12; ++i) {
    if (std::strncmp(compilerDate, kMonthAbbreviations[i], 3) == 0) month = i + 1;
  }
  int day = 0;
  int year = 0;
  if (std::strlen(compilerDate) >= 11) std::sscanf(compilerDate + 3, "%d %d", &day, &year);
  char text[40];
  std::snprintf(text, sizeof text, "%.2d.%.2d.%.2d", day, month, year);
  return text;
}

const std::string& buildDate() {
  static const std::string date = formatBuildDate(__DATE__);
  return date;
}

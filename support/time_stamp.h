// Time stamps: the local time as text in one of the modes of the system.
//   0  no text
//   1  "dd.mm.yy"
//   2  "dd.mm.yyyy hh:mm:ss"   (message headers, protocol, run timer)
//   3  "yymmdd.hhmmss"         (also every mode not listed here)
//   4  "yyyymmdd.hhmmss"
//   5  "dd.mm.yyyy"
#pragma once

#include <ctime>
#include <string>

std::string timeStamp(int mode);
// The same for a given broken-down time.
std::string timeStampOf(int mode, const std::tm& when);

// The program's identity, shown by the usage and version texts, in the
// protocol head and in the files the writers make.  The edition field of the
// title is "(UNKNOWN)" in every build.
#pragma once

#include <string>

constexpr const char* kProductTitle = "RUR Izodaviva (UNKNOWN)";
constexpr const char* kVersionText = "2006.1";

// "dd.mm.yyyy" from a compiler date text of the form "Apr 18 2006"; an
// unknown month abbreviation gives month 0.
std::string formatBuildDate(const char* compilerDate);
// The build date of this program.
const std::string& buildDate();

// The program's own directory, the base of the installation data
// (message files, assignment tables).
#pragma once

#include <string>

// The directory of the program, ending in "/":
// - argv[0] with a "/": its part up to and including the last "/"; when
//   argv[0] is a symbolic link (an installed program started through the
//   link in bin/), the directory of the file it resolves to;
// - argv[0] without a "/" (found through PATH): the directory of the running
//   executable as the operating system reports it;
// - "./" when neither can be found.
std::string programDirectory(const std::string& programPath);  // stt060

// The directory part of a path up to and including its last "/", or "" when
// it has none.
std::string directoryPart(const std::string& path);

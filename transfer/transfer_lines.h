// Line-level helpers of the transfer file reader, shared by its source
// files.  All work at the reader's offset in the file held in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace transfer_lines {
// Moves past the next line feed (or to the end of the file).
void skipRestOfLine();
// The rest of the current line without its line end, at most
// kTransferLineLength characters of it; the offset moves past the line feed.
std::string_view takeRestOfLine();
// The next blank-separated token of `line` from `at`; "" when none is left.
std::string_view nextToken(std::string_view line, std::size_t& at);
// Moves to the next line that begins with '@' and past the '@': 0, or -1 at
// the end of the file.  The offset must be at the start of a line.
int skipToSection();
}  // namespace transfer_lines

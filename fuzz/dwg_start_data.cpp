// Fuzzes the start-up data file DWGINIT.DAT of the toolkit directions: the
// input is read as the file's contents, and what was read is checked to be
// within the bounds the reader promises.  A refused file names a line of
// the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dwg/start_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DwgStartData read;
  DwgStartProblem problem;
  if (!DwgStart::parse(text, read, problem)) {
    if (problem.message < DwgStartMessage::kUnknownKeyword || problem.message > DwgStartMessage::kTooLarge)
      std::abort();
    if (problem.line < 0 || static_cast<std::size_t>(problem.line) > size + 1) std::abort();
    return 0;
  }
  if (read.linetypes.size() + read.layers.size() > DwgStart::kMostEntries) std::abort();
  for (const DwgStartLinetype& l : read.linetypes) {
    if (l.name.empty() || l.name.size() > DwgStart::kNameLength) std::abort();
    if (l.description.size() > DwgStart::kDescriptionLength || l.dashes.size() > DwgStart::kMostDashes) std::abort();
    for (double d : l.dashes)
      if (!(d >= -DwgStart::kLongestDash && d <= DwgStart::kLongestDash)) std::abort();
  }
  for (const DwgStartLayer& l : read.layers)
    if (l.colourIndex < 1 || l.colourIndex > 255 || l.name.empty()) std::abort();
  if (!(read.textStyle.widthFactor > 0)) std::abort();
  return 0;
}

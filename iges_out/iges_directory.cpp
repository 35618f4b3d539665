// The directory entries of the IGES output steps.
#include "iges_out/iges_directory.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "iges_out/iges_writer.h"

namespace iges_steps {

namespace {

// The graphic attributes as the directory fields allow them: a line font
// pattern 0 to 5 (solid otherwise), a line weight between 0 and the
// gradations of the global section, a colour number 0 to 8 or a pointer to
// a colour definition (no colour otherwise), a level that fits its eight
// columns.  A value of the transfer file beyond that would make the entry
// unreadable and end the whole output.
void applyAttributes(DirectoryEntry& de, const TransferRecord& record) {
  constexpr std::int32_t kMaxLevel = 9999999;
  de.lineFont = record.lineStyle >= 0 && record.lineStyle <= 5 ? record.lineStyle : 1;
  de.level = std::clamp(record.layer, -kMaxLevel, kMaxLevel);
  de.lineWeight = std::clamp(record.lineWidth, 0, std::max(igesWriter().global.lineWeightGradations, 0));
  de.colour = record.colour <= 8 && record.colour >= -kMaxLevel ? record.colour : 0;
}

// Status digits of the element itself: those the context brings, blanked
// when the element is deleted.
EntityStatus statusOf(const StepContext& c, const TransferRecord& record) {
  EntityStatus status = c.status;
  if (record.deleted) status.blank = 1;
  return status;
}

}  // namespace

std::int32_t beginEntity() { return igesWriter().parameterSeq; }

std::int32_t writeEntity(DirectoryEntry& de, std::int32_t type, std::int32_t form,
                         std::int32_t parameterStart, const EntityStatus& status) {
  de.entityType = type;
  de.entityType2 = type;
  de.form = form;
  de.paramPointer = parameterStart;
  de.paramLineCount = igesWriter().parameterSeq - parameterStart;
  // Four two-digit fields, each value below 100 (a negative one as 0).
  const int fields[4] = {status.blank, status.subordinate, status.use, status.hierarchy};
  for (int k = 0; k < 4; ++k) {
    const unsigned value = static_cast<unsigned>(fields[k] < 0 ? 0 : fields[k]) % 100u;
    de.status[2 * k] = static_cast<char>('0' + value / 10);
    de.status[2 * k + 1] = static_cast<char>('0' + value % 10);
  }
  de.status[8] = '\0';
  // The two records keep their room from entry to entry.
  std::string& line1 = igesWriter().directoryLines[0];
  std::string& line2 = igesWriter().directoryLines[1];
  formatDirectoryEntry(de, line1, line2);
  if (writeDirectoryEntry(line1, line2) != 0) return -1;
  return de.sequence;
}

int writeElementEntity(const StepContext& c, const TransferRecord& record, std::int32_t type,
                       std::int32_t form, std::int32_t parameterStart,
                       std::int32_t matrixSequence) {
  ElementRecord& e = element(c.index);
  DirectoryEntry de = directoryEntryOf(c.index);
  applyAttributes(de, record);
  de.matrixPointer = matrixSequence;
  de.subscript = c.index;
  e.form = form;
  e.outputKind = type;
  const std::int32_t written = writeEntity(de, type, form, parameterStart, statusOf(c, record));
  setDirectoryEntry(c.index, de);
  return written < 0 ? -1 : 0;
}

DirectoryEntry partEntry(const TransferRecord& record, const char* label) {
  DirectoryEntry de;
  applyAttributes(de, record);
  std::snprintf(de.label, sizeof de.label, "%s", label);
  return de;
}

std::int32_t appendOutputRecord(std::int32_t type, std::int32_t form, const char* label) {
  const std::int32_t index = newIndex();
  if (index < 0) return -1;
  ElementRecord& e = element(index);
  e.type = type;
  e.form = form;
  clearDirectoryEntry(index);
  std::snprintf(e.de.label, sizeof e.de.label, "%s", label);
  return index;
}

}  // namespace iges_steps

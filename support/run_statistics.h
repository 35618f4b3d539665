// The record of a run's conversion statistics and the counters the modules
// feed while the run goes on; the report that counts the element table into
// it and writes it belongs to the run dispatcher (driver/statistics.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Outcome counters of a kind.
namespace Outcome {
constexpr int kConverted = 0;  // states 'd', 'c', 'o'
constexpr int kIgnored = 1;    // state 'i'
constexpr int kError = 2;      // state 'e'
}  // namespace Outcome

// The toolkit lists.
namespace ToolkitList {
constexpr int kNotConverted = 0;  // objects of the drawing database not converted, with counts
constexpr int kNotes = 1;         // notes of the drawing database
}  // namespace ToolkitList

// One row of the per-kind table: all elements of one entity type, or of one
// form of a type whose forms are told apart.
struct KindStatistics {
  std::string name;      // padded to one width
  std::int32_t type = 0;
  std::int32_t form = 0;      // the form of a form row; 0 otherwise
  std::string levelTag;       // "G1  ", "G2  ", "G3  ", "B1  ", "B2  ", "PLUS"; "" for unknown types
  bool byForm = false;        // a row of one form of its type
  std::int32_t total = 0;
  std::int32_t outcome[3] = {0, 0, 0};  // converted, ignored, with errors

  // Elements neither converted nor failed: ignored, waiting, registered.
  std::int32_t rest() const { return total - outcome[Outcome::kConverted] - outcome[Outcome::kError]; }
};

struct NameCount {
  std::string name;
  std::int32_t count = 0;
};

struct RunStatistics {
  std::uint32_t runMode = 0;
  std::uint32_t runMode2 = 0;
  // Lines written into the sections of an IGES output file: start, global,
  // directory, parameter (the terminate section is one line).
  std::int32_t igesSections[4] = {0, 0, 0, 0};
  bool complete = false;  // the element table has been counted
  // Rows ascending by type; within a type the form rows ascending by form,
  // then the row of the remaining forms.
  std::vector<KindStatistics> kinds;
  // The name table and the two toolkit lists, in the order first met.
  std::vector<NameCount> names;
  std::vector<NameCount> toolkit[2];

  // Bookkeeping: where each name and list entry is kept.
  std::unordered_map<std::string, std::size_t> nameIndex;
  std::unordered_map<std::string, std::size_t> toolkitIndex[2];
};

RunStatistics& runStatistics();
// Empties the record and takes the run-mode words of the run.
void statisticsInit();
// Empties the record, run-mode words included.
void statisticsReset();
// Releases everything the record holds; the end of the run.
void statisticsFinish();

// One more element of this name, or `count` more.
void statisticsAddName(const std::string& name, std::int32_t count = 1);
// `count` more of `text` in the toolkit list (ToolkitList::k*); other list
// numbers are ignored.
void statisticsAddToolkitEntry(int list, const std::string& text, int count);

#include "support/run_statistics.h"

#include <utility>

#include "support/run_state.h"
#include "support/trace.h"

RunStatistics& runStatistics() {
  static RunStatistics statistics;
  return statistics;
}

void statisticsReset() {
  TraceScope t("sta002");
  runStatistics() = RunStatistics{};
}

namespace {
const RunStateRegistrar kRunStateRegistered("statistics", statisticsReset);
}  // namespace

void statisticsInit() {
  TraceScope t("sta001");
  statisticsReset();
  RunStatistics& s = runStatistics();
  s.runMode = runState().runMode;
  s.runMode2 = runState().runMode2;
}

void statisticsFinish() {
  TraceScope t("sta900");
  RunStatistics empty;
  std::swap(runStatistics(), empty);  // gives the memory back, not just the contents
}

void statisticsAddName(const std::string& name, std::int32_t count) {
  TraceScope t("sta550");
  RunStatistics& s = runStatistics();
  auto at = s.nameIndex.find(name);
  if (at == s.nameIndex.end()) {
    at = s.nameIndex.emplace(name, s.names.size()).first;
    s.names.push_back({name, 0});
  }
  s.names[at->second].count += count;
}

void statisticsAddToolkitEntry(int list, const std::string& text, int count) {
  TraceScope t("sta570");
  if (list != ToolkitList::kNotConverted && list != ToolkitList::kNotes) return;
  RunStatistics& s = runStatistics();
  std::vector<NameCount>& entries = s.toolkit[list];
  const auto [at, added] = s.toolkitIndex[list].emplace(text, entries.size());
  if (added) entries.push_back({text, 0});
  entries[at->second].count += count;
}

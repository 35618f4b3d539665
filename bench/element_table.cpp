// Cost per element of the element table's main operations on tables of 10k,
// 100k and 1M elements: filling (from a small table that grows), linking,
// taking every element in conversion order, walking a deep nesting chain
// leaves first, the sons of many instances of one shared symbol definition,
// and marking all elements again.  The shape of the table is the one that
// makes naive walks degrade: half the elements in groups, a quarter in one
// chain of nested groups, a quarter instances of one definition (so the
// definition has a quarter of the table as fathers).  The time per element
// of each column must stay flat from 10k to 1M.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "elements/element_table.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

using Clock = std::chrono::steady_clock;
using Index = std::int32_t;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Timings {
  double fill = 0, link = 0, convert = 0, descend = 0, instances = 0, mark = 0;
  long converted = 0, descended = 0, sons = 0;
};

Index add(std::int32_t type) {
  const Index i = newIndex();
  element(i).type = type;
  return i;
}

Timings run(Index count) {
  Timings t;
  resetRunState();
  allocateTable(100);  // as the DXF readers do: start small and grow
  mfaSetMessageLevel(0);
  runState().runMode = RunModeBit::kInput;

  constexpr Index kGroupSize = 10;  // one group and nine members
  constexpr Index kDefinitionSize = 10;
  const Index groupElements = count / 2 / kGroupSize * kGroupSize;
  const Index chainLength = count / 4;
  const Index instanceCount = count - groupElements - chainLength - kDefinitionSize;

  // Fill.
  auto start = Clock::now();
  for (Index i = 0; i < groupElements; ++i) add(i % kGroupSize == 0 ? 402 : (i % 3 == 0 ? 100 : 110));
  const Index chainTop = elementTable().lastIndex + 1;
  for (Index i = 0; i < chainLength; ++i) add(i + 1 == chainLength ? 110 : 402);
  const Index definition = add(308);
  for (Index i = 1; i < kDefinitionSize; ++i) add(i % 2 == 0 ? 100 : 110);
  const Index firstInstance = elementTable().lastIndex + 1;
  for (Index i = 0; i < instanceCount; ++i) add(408);
  const Index last = elementTable().lastIndex;
  t.fill = secondsSince(start);

  // Link, as the parameter pass does: members of groups, the chain, the
  // definition's members and each instance's definition.
  start = Clock::now();
  for (Index g = 1; g <= groupElements; g += kGroupSize) {
    for (Index m = 1; m < kGroupSize; ++m) linkFatherSon(g, g + m);
  }
  for (Index i = chainTop; i + 1 < chainTop + chainLength; ++i) linkFatherSon(i, i + 1);
  for (Index m = 1; m < kDefinitionSize; ++m) linkFatherSon(definition, definition + m);
  for (Index i = firstInstance; i <= last; ++i) linkFatherSon(i, definition);
  for (Index i = 1; i <= last; ++i) resetSonCursors(i);
  t.link = secondsSince(start);

  // Every element in conversion order.
  start = Clock::now();
  ConvertPick pick;
  while (nextToConvert(pick) == 0) {
    setState(pick.index, ElementState::kDone);
    ++t.converted;
  }
  t.convert = secondsSince(start);

  // The deep chain, leaves first.
  start = Clock::now();
  Index de = 0;
  Index index = 0;
  while (nextDescendant(chainTop, de, index) == 0) ++t.descended;
  t.descend = secondsSince(start);

  // Each instance reaches the shared definition (its father cursor is
  // looked up among a quarter of the table).
  start = Clock::now();
  SonResult son;
  for (Index i = firstInstance; i <= last; ++i) {
    while (nextSon(i, son) == 0) ++t.sons;
  }
  t.instances = secondsSince(start);

  start = Clock::now();
  markAll(ElementState::kWaiting);
  resetCursors();
  t.mark = secondsSince(start);

  if (t.converted != last || t.descended != chainLength - 1 || t.sons != instanceCount) {
    std::printf("unexpected counts: converted %ld of %d, descended %ld of %d, sons %ld of %d\n", t.converted,
                static_cast<int>(last), t.descended, static_cast<int>(chainLength - 1), t.sons,
                static_cast<int>(instanceCount));
  }
  return t;
}

}  // namespace

int main() {
  std::printf("%9s | %-17s | %-17s | %-17s | %-17s | %-17s | %-17s\n", "elements", "fill", "link", "convert",
              "descend chain", "instance sons", "markAll");
  std::printf("%9s | %-17s | %-17s | %-17s | %-17s | %-17s | %-17s\n", "", "ms    ns/elem", "ms    ns/elem",
              "ms    ns/elem", "ms    ns/elem", "ms    ns/elem", "ms    ns/elem");
  for (Index n : {10000, 100000, 1000000}) {
    const Timings t = run(n);
    // Per element of the part of the table each operation works on.
    const double all = static_cast<double>(n);
    const double chain = static_cast<double>(n / 4);
    const double instances = static_cast<double>(t.sons > 0 ? t.sons : 1);
    auto cell = [](double seconds, double items) {
      static char text[8][32];
      static int slot = 0;
      char* out = text[slot++ % 8];
      std::snprintf(out, 32, "%7.1f %7.1f", seconds * 1e3, seconds * 1e9 / items);
      return out;
    };
    std::printf("%9d | %-17s | %-17s | %-17s | %-17s | %-17s | %-17s\n", static_cast<int>(n), cell(t.fill, all),
                cell(t.link, all), cell(t.convert, all), cell(t.descend, chain), cell(t.instances, instances),
                cell(t.mark, all));
  }
  resetTable();
  freeTable();
  return 0;
}

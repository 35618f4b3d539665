// Cost per element of fetching the elements of a CAD transfer file at the
// full conversion level, on generated files of 10k, 100k and 1M lines, in
// two shapes:
// - one pen: every line drawn with the same pen (one colour definition);
// - own pens: every line with a pen of its own colour, so that every fetch
//   makes a new colour-definition element and looks up all made before.
// Opening the file with the directory pass, and the fetches, are timed
// apart; the time per element of each column must stay flat from 10k to
// 1M.  Times are processor times of this program.
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <string>

#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_reader.h"

namespace {

double secondsSince(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

std::string file(long count, bool ownPens) {
  std::string out = "@general\n#0\n#0\n#1000\n#1000\n#1\n#10\n";
  char text[200];
  for (long i = 0; i < count; ++i) {
    const long colour = ownPens ? i : 0;
    std::snprintf(text, sizeof text,
                  "@line %ld\n#visible\n#1 %ld %ld %ld pen\n#%ld\n#0\n#%ld\n#1\n#10\n#1\n#0.35\n", i,
                  colour % 256, (colour / 256) % 256, colour / 65536, i % 1000, i % 1000);
    out += text;
  }
  return out;
}

struct Timing {
  double open = 0, fetch = 0;
  std::int32_t elements = 0;
};

Timing run(const std::string& bytes) {
  Timing t;
  resetRunState();
  runState().runMode = RunModeBit::kOutput | RunModeBit::kG1 | RunModeBit::kB1 | RunModeBit::kPlus;
  auto start = std::clock();
  if (openTransferBytes(bytes) != 0 || loadTransferTable() != 0) return t;
  t.open = secondsSince(start);
  t.elements = elementTable().lastIndex;
  start = std::clock();
  TransferLine line;
  for (std::int32_t index = 1; index <= t.elements; ++index) {
    fetchLine(index, element(index).transferId, line);
  }
  t.fetch = secondsSince(start);
  resetTransferReader();
  freeTable();
  return t;
}

}  // namespace

int main() {
  mfaSetMessageLevel(0);
  std::printf("%-8s %9s | %-17s | %-17s\n", "shape", "elements", "open", "fetch");
  std::printf("%-8s %9s | %-17s | %-17s\n", "", "", "ms  ns/element", "ms  ns/element");
  for (const bool ownPens : {false, true}) {
    for (long n : {10000L, 100000L, 1000000L}) {
      const Timing t = run(file(n, ownPens));
      const double elements = t.elements > 0 ? t.elements : 1;
      std::printf("%-8s %9d | %7.1f %9.1f | %7.1f %9.1f\n", ownPens ? "own pens" : "one pen", t.elements,
                  t.open * 1e3, t.open * 1e9 / elements, t.fetch * 1e3, t.fetch * 1e9 / elements);
    }
  }
  return 0;
}

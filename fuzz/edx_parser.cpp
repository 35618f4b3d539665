// Fuzzes the EDX file parser and the element table made from it: the input
// is an EDX file; it is parsed, loaded into the element table, every
// element is fetched by every fetcher (the ones of its kind copy its record,
// the others find no transfer file to read), walked for its members and
// taken in conversion order.  The parser's reports go to /dev/null.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "elements/element_table.h"
#include "fuzz/fetch_everything.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/edx_parser.h"
#include "transfer/edx_table.h"
#include "elements/fetch_records.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  resetRunState();
  runState().runMode = RunModeBit::kOutput;
  mfaSetMessageLevel(0);
  std::string text(reinterpret_cast<const char*>(data), size);
  if (loadEdxText("fuzz.edx", std::move(text)) == 0) {
    const EdxParserState& parsed = edxParser();
    const std::int32_t last = elementTable().lastIndex;
    if (static_cast<std::size_t>(last) != parsed.records.size()) __builtin_trap();
    for (std::int32_t i = 1; i <= last; ++i) {
      const ElementRecord& e = element(i);
      if (e.params == nullptr || e.transferId != i) __builtin_trap();
      fetchEverything(i, i);
      std::int32_t deNumber = 0, index = 0;
      while (nextDescendant(i, deNumber, index) == 0) {
      }
      SonResult son;
      resetSonCursors(i);
      while (nextSon(i, son) == 0) {
      }
    }
    ConvertPick pick;
    while (nextToConvert(pick) == 0) setStateDeep(pick.index, ElementState::kDone);
  }
  resetEdxParser();
  resetTransferReader();
  freeTable();
  return 0;
}

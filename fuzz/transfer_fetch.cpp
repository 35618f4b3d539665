// Fuzzes the element fetchers: the input is a CAD transfer file; its
// header is read, the element table is loaded, and every fetcher is run on
// every element (and on the parts of every symbol), whatever the element's
// kind, with and without the full conversion level.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "elements/element_table.h"
#include "fuzz/fetch_everything.h"
#include "support/assign_tables.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_reader.h"

// The fetchers' debug and "unknown type" lines go to standard output: to
// /dev/null here, so that the fuzzer's own report stays readable.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  resetRunState();
  mfaSetMessageLevel(0);
  const bool plus = size > 0 && (data[0] & 1) != 0;
  runState().runMode = RunModeBit::kOutput | RunModeBit::kG1 | RunModeBit::kB1 | (plus ? RunModeBit::kPlus : 0);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (openTransferBytes(std::move(bytes)) == 0 && loadTransferTable() == 0) {
    // Fetches may append colour-definition records: walk the elements of
    // the file only.
    const std::int32_t last = elementTable().lastIndex;
    for (std::int32_t index = 1; index <= last; ++index) {
      fetchEverything(index, element(index).transferId);
    }
  }
  resetTransferReader();
  freeTable();
  return 0;
}

// Fuzzes the CAD transfer file reader: the input is a transfer file; the
// header is read, the element table is loaded from the directory pass with
// the member lists linked, and every element is then read with each of the
// value-line readers, walked for members and looked up by its position.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/transfer_reader.h"

namespace {

// Reads the element at the position with every kind of value reader, the
// first bytes of the input choosing the order.
void readElement(std::int32_t position, const std::uint8_t* data, std::size_t size) {
  std::string keyword, identifier, rest, text;
  if (seekToElement(position, keyword, identifier, &rest) != 0) return;
  std::int32_t i = 0, mark = 0;
  double r = 0;
  Point3 p;
  TransferPen pen;
  for (std::size_t k = 0; k < 24; ++k) {
    switch (size == 0 ? k % 12 : (data[k % size] + k) % 12) {
      case 0: readToken(text); break;
      case 1: readTextLine(text); break;
      case 2: readInt(i); break;
      case 3: readReal(r); layerNumberOf(r); break;
      case 4: readPoint(p); break;
      case 5: readIntAndText(i, text); break;
      case 6: readPen(pen); break;
      case 7: readTextBlock(text, static_cast<std::int32_t>(i)); break;
      case 8:
        if (skipEndMarkers(mark, text) == 0 && seekToPosition(mark) == 0) readToken(text);
        break;
      case 9: skipToEndOfElement(); break;
      case 10:
        if (markPosition(mark) == 0) seekToPosition(mark);
        break;
      default: nextValueLine(); break;
    }
  }
}

}  // namespace

// The fetchers' debug and "unknown type" lines go to standard output: to
// /dev/null here, so that the fuzzer's own report stays readable.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  resetRunState();
  runState().runMode = RunModeBit::kOutput;
  mfaSetMessageLevel(0);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (openTransferBytes(std::move(bytes)) == 0 && loadTransferTable() == 0) {
    const std::int32_t last = elementTable().lastIndex;
    std::vector<std::int32_t> members;
    for (std::int32_t index = 1; index <= last; ++index) {
      const std::int32_t position = element(index).transferId;
      readElement(position, data, size);
      transferMembersOf(index, members);
      for (std::int32_t member : members) readElement(member, data + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
    }
    for (std::int32_t i = 1; i <= last; ++i) {
      std::int32_t deNumber = 0, index = 0;
      while (nextDescendant(i, deNumber, index) == 0) {
      }
      element(i).de.level = static_cast<std::int32_t>(i % 7) - 1;
    }
    ConvertPick pick;
    while (nextToConvert(pick) == 0) setStateDeep(pick.index, ElementState::kDone);
    markAll(ElementState::kWaiting);
    std::int32_t count = 0;
    buildLayerTable(0, members, count);
  }
  resetTransferReader();
  freeTable();
  return 0;
}

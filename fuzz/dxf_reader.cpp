// Fuzzes the own DXF reader: the input is a DXF file; the header and the
// sections are read, every entity is mapped into the element table, inserts
// and dimensions are linked to their blocks, and the table's walks run over
// whatever graph the file made.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "dxf_in/dxf_reader.h"
#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/run_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<char> bytes(data, data + size);
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  if (file == nullptr) return 0;
  resetRunState();
  runState().runMode = RunModeBit::kDxf | RunModeBit::kInput | RunModeBit::kPlus;
  // No installation tables: every line type draws solid.
  dxfReader().lineTypeAssignmentsRead = true;
  readDxfFile(file);
  const std::int32_t last = elementTable().lastIndex;
  for (std::int32_t i = 1; i <= last; ++i) {
    std::int32_t deNumber = 0, index = 0;
    while (nextDescendant(i, deNumber, index) == 0) {
    }
    hasNoAncestorOfType(i, 308);
  }
  ConvertPick pick;
  while (nextToConvert(pick) == 0) setStateDeep(pick.index, ElementState::kDone);
  markAll(ElementState::kWaiting);
  releaseDxfReader();
  resetDxfReader();
  freeTable();
  std::fclose(file);
  return 0;
}

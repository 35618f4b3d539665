// Fuzzes the IGES reader: the input is an IGES file; the start, global,
// terminate, directory and parameter sections are read and the parameter
// pass runs, then every element's parameter data is fetched once.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/iges_reader.h"
#include "support/run_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<char> bytes(data, data + size);
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  if (file == nullptr) return 0;
  resetRunState();
  if (igesReaderAttach(file) == 0) {
    skipLeadingControl();
    if (readStartSection(0) == 0 && readGlobalSection() == 0) {
      recogniseSender();
      if (readIgesInput() == 0) {
        std::string text;
        std::vector<std::int32_t> chain;
        const std::int32_t last = elementTable().lastIndex;
        for (std::int32_t i = 1; i <= last; ++i) {
          const DirectoryFields& de = element(i).de;
          fetchParameterData(de.entityType, de.paramPointer, de.paramLineCount, text);
          matrixChain(i, chain);
          hasNoAncestorOfType(i, 406);
        }
        // The walks of the conversion over whatever graph the file made.
        for (std::int32_t i = 1; i <= last; ++i) {
          std::int32_t deNumber = 0, index = 0;
          while (nextDescendant(i, deNumber, index) == 0) {
          }
        }
        ConvertPick pick;
        while (nextToConvert(pick) == 0) setStateDeep(pick.index, ElementState::kDone);
        markAll(ElementState::kWaiting);
      }
    }
  }
  closeIgesInput();
  freeTable();
  std::fclose(file);
  return 0;
}

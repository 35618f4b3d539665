// Fuzzes the IGES input conversion: the input is one byte of switches and
// an IGES file; the file is read and converted at level PLUS into a script
// kept in memory, so that drawings, views, groups, subfigures and the
// annotation of any file the reader accepts are walked and written.
// Switches: the low two bits are the subfigure mode (0, 1, 2), the next two
// the view handling (0, 1, 2 with borders), bit 4 the world switch.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned switches = data[0];
  std::vector<char> bytes(data + 1, data + size);
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  if (file == nullptr) return 0;
  resetRunState();
  mfaSetProtocolFile(nullptr);
  runState().runMode = RunModeBit::kInput | RunModeBit::kPlus;
  runSettings().userElementMode = static_cast<int>(switches & 3u) % 3;
  runSettings().viewMode = static_cast<int>((switches >> 2) & 3u) % 3;
  runSettings().worldMode = (switches >> 4) & 1u;
  runPaths().tempDir = "/tmp/";
  if (igesReaderAttach(file) == 0) {
    skipLeadingControl();
    if (readStartSection(0) == 0 && readGlobalSection() == 0) {
      recogniseSender();
      if (readIgesInput() == 0 && elementTable().lastIndex > 0) {
        ScriptSource source;
        source.unitFlag = 2;
        igesStructureSettingsFromRun(source);
        std::ostringstream script;
        if (ScriptOpenStream(script, "fuzz.kpl", source) == 0) convertModel();
        resetScriptState();
      }
    }
  }
  closeIgesInput();
  freeTable();
  std::fclose(file);
  return 0;
}

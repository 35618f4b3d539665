// Fuzzes the whole -dxfin path after the command line: the input is a DXF
// file (ASCII or binary, of any release the toolkit reads).  DwgIn reads it
// by name through the toolkit, maps every entity of the layouts and blocks
// into the element table and links inserts to their blocks; the
// conversion engine then walks drawings, views, subfigures and annotation
// at level PLUS and writes the KPL script into memory.  Starts well from
// fuzz/dxf_seeds/ and fuzz/drawingdb_seeds/ with -dict=fuzz/dxf.dict.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "dwg/dwg_in.h"
#include "elements/element_table.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_structure.h"
#include "scratch_dir.h"
#include "script/script_writer.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

struct Scratch {
  ScratchDir dir{"fuzz_dxfin"};
  std::string file = dir.path() + "in.dxf";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  scratch.dir.write("in.dxf", data, size);
  resetRunState();
  mfaSetProtocolFile(nullptr);
  runState().useToolkit = 1;
  runState().runMode = RunModeBit::kDxf | RunModeBit::kInput | RunModeBit::kPlus;
  runPaths().tempDir = scratch.dir.path();
  if (dwgIn().ReadFile(scratch.file) == 0 && elementTable().lastIndex > 0) {
    ScriptSource source;
    source.unitFlag = 2;
    source.modelScale = dwgIn().modelScale();
    igesStructureSettingsFromRun(source);
    std::ostringstream script;
    if (ScriptOpenStream(script, "fuzz.kpl", source) == 0) convertModel();
    resetScriptState();
  }
  freeTable();
  return 0;
}

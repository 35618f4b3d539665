// The state a run of the IGES input conversion starts from: every module
// the reader and the converters keep between runs set back, and the
// message counts cleared.  Shared by the conversion tests and the fuzz
// target of the conversion.
#pragma once

#include "driver/assign_tables.h"
#include "driver/config.h"
#include "driver/messages.h"
#include "driver/run_state.h"
#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "script/script_writer.h"
#include "script/structure.h"

inline void resetIgesInputRun() {
  resetRunState();
  resetRunConfiguration();
  resetAssignTables();
  resetScriptState();
  resetScriptStructureState();
  resetIgesGeometryState();
  resetIgesReader();
  igesStructureSettings() = IgesStructureSettings{};
  mfaResetRun();
}

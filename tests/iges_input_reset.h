// The state a run of the IGES input conversion starts from: every module
// the reader and the converters keep between runs set back, and the
// message counts cleared.  Shared by the conversion tests and the fuzz
// target of the conversion.
#pragma once

#include "iges_in/iges_geometry.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

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

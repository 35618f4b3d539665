// The drawing database side of -dxfout and -dwgout: the start of the run's
// database, the output steps the output loop hands the elements to, and
// the save at the end.
#pragma once

#include <string>

#include "elements/target_steps.h"

// Before the conversion: the graphic attribute mapping of the output
// direction with the parameter file "dwg_para.iga" of the run, then a new
// database of the release -acad<ver> chose (Release 2000 without one),
// with the start-up data of the toolkit.  0, or -1 when the database could
// not be made.
int startToolkitOutput();
// The output steps of the toolkit directions, writing into the run's
// database; layer number k of the transfer file is named by its layer
// value ("10" for the value 10).
TargetSteps& toolkitTargetSteps();
// After the conversion: audits the database and saves it under `path` as
// DXF (-dxfout) or DWG (-dwgout, which has no writer yet: message 1317 and
// no file).  0, or -1 when no file was written.
int saveToolkitOutput(const std::string& path);

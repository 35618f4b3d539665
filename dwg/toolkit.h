// The drawing-database toolkit of the DWG and toolkit-DXF directions.
#pragma once

// Starts the toolkit for a run that uses it (useToolkit != 0); 0 when the
// run needs none.  This program is built without a toolkit, so its start
// cannot succeed: the toolkit's message is printed in the program's own
// language (German when `german`) and -1 returned, and the run is refused
// instead of reporting success without writing anything.
int initialiseToolkit(int useToolkit, bool german);

// The start of the drawing database toolkit for the DWG and toolkit-DXF
// directions.
#pragma once

#include <cstdio>
#include <string>

// Starts the toolkit for a run that uses it (useToolkit != 0): reads the
// start-up data "ririzidedareru/DWGINIT.DAT" of the program directory into
// dwgStartData().  0 when the run needs no toolkit or the data was read.
// When the file is missing or unreadable, or its contents are refused (the
// line and what is wrong are said first), the toolkit's message is printed
// on `out` in the program's own language (German when `german`) and -1
// returned: the run is refused.
int initialiseToolkit(int useToolkit, bool german, const std::string& programDirectory,
                      std::FILE* out = stdout);

// The run dispatcher: one conversion from start to end.
#pragma once

#include <string>

#include "driver/exit_status.h"

// Runs the conversion of `phase` ("IPST"/"IGESI", "IPRE"/"IGESO", "DXFI",
// "DXFO", "DWGI", "DWGO") at `level` ("" for the default G1B1) with the
// exchange file, the CAD-side file (KPL script or CAD transfer file) and the
// configuration file.  Returns the run's exit status.
int start(const std::string& phase, const std::string& level, const std::string& exchangeFile,
          const std::string& cadFile, const std::string& configFile);  // start

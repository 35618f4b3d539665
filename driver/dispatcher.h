// The run dispatcher: one conversion from start to end.
#pragma once

#include <string>

// Runs the conversion of `phase` ("IPST"/"IGESI", "IPRE"/"IGESO", "DXFI",
// "DXFO", "DWGI", "DWGO") at `level` ("" for the default G1B1) with the
// exchange file, the CAD-side file (KPL script or CAD transfer file) and the
// configuration file.  Returns the run status: 0, a positive status of the
// run's checks, or a negative result of a conversion driver.
int start(const std::string& phase, const std::string& level, const std::string& exchangeFile,
          const std::string& cadFile, const std::string& configFile);  // start

// Process status after a trap report: the conventional status of a process
// ended by that signal (128 + signal number).
constexpr int kTrapStatusBase = 128;

// The conversion statistics of a run.  While a run goes on the converters
// hand over element names and the notes of the drawing database toolkit;
// at the end every element of the element table is counted into the record
// of its kind by its processing state, and the report states what was run,
// what the exchange file's header said, how many records each section had
// and how many elements of each kind were read, converted, ignored or
// failed.  Every text of the report is a message text of the run's
// language.
//
// Use in a run:
//   statisticsInit()                      at the start of the run
//   statisticsAddName / ...ToolkitEntry   while the converters work
//   runStatistics().igesSections[...]     by the IGES writer, when it ends
//   statisticsComplete()                  after the direction, while the
//                                         element table is still there
//   statisticsReport(...)                 protocol file and console
//   statisticsFinish()                    before the table is released
#pragma once

#include <cstdio>

#include "iges_in/iges_global.h"
#include "support/run_statistics.h"

// What the report shows besides the record: the global section and the
// terminate counts of the IGES file read (nullptr when there is none), and
// the drawings, views and subfigure definitions the IGES reader found.
struct StatisticsSources {
  const IgesGlobal* global = nullptr;
  const IgesCounts* counts = nullptr;
  int drawings = 0;
  int views = 0;
  int subfigureDefinitions = 0;
};

// Counts every element 1..lastIndex of the element table into the row of
// its kind; a second call counts afresh.  Takes the run-mode words of the
// run again.  Returns the number of elements counted.
int statisticsComplete();  // sta151

// Writes the report into the protocol file (nullptr: none) and, with
// toConsole, to standard output (there without the global-section values).
// Completes the record first when that has not been done.
void statisticsReport(std::FILE* protocol, bool toConsole, const StatisticsSources& sources);  // sta510
// The same with the statistics-to-console setting of the run configuration.
void statisticsReportRun(std::FILE* protocol, const StatisticsSources& sources);


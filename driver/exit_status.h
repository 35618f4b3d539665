// The exit statuses of the program, decided in one place: the command line
// and the dispatcher say how a run ended, the table below says with which
// status the process ends.
#pragma once

// How a run ends.  The modules report what went wrong as named results of
// their own; the dispatcher turns them into one of these, and exitStatusOf()
// turns that into the process's exit status, here and nowhere else.
enum class RunEnd {
  kDone,              // the conversion ran
  kHelpOrVersion,     // help or version printed
  kMissingFileNames,  // a direction but fewer than three file names
  kNoDirection,       // no direction or an unknown one (also: dialog quit)
  kToolkit,           // the drawing-database toolkit could not be initialised
  kMessageFile,       // the message file cannot be read or lacks a text
  kSameFile,          // an output is an input or another output of the run
  kNoProtocol,        // the protocol file cannot be created or written
  kCannotOpenInput,   // the input file cannot be opened
  kStartGlobal,       // the IGES start or global section is unreadable
  kDirectorySetup,    // the IGES directory or parameter set-up failed
  kTables,            // an assignment directory or table cannot be read
  kEmptyDxf,          // the DXF input file is empty
  kEmptyIges,         // the IGES, DWG or transfer input file is empty
  kInputConversion,   // the input conversion failed with a negative result
  kOutputConversion,  // the output conversion failed with a negative result
};

// A run's end and, for the two conversions, the conversion's result.
struct RunOutcome {
  RunEnd end = RunEnd::kDone;
  int result = 0;
};

struct ExitStatusRow {
  RunEnd end;
  int status;
};
constexpr ExitStatusRow kExitStatuses[] = {
    {RunEnd::kDone, 0},           {RunEnd::kHelpOrVersion, 1},    {RunEnd::kMissingFileNames, 2},
    {RunEnd::kNoDirection, 3},    {RunEnd::kToolkit, 9},          {RunEnd::kMessageFile, 10},
    {RunEnd::kSameFile, 12},      {RunEnd::kNoProtocol, 13},      {RunEnd::kCannotOpenInput, 14},
    {RunEnd::kStartGlobal, 15},   {RunEnd::kDirectorySetup, 16},  {RunEnd::kTables, 17},
    {RunEnd::kEmptyDxf, 18},      {RunEnd::kEmptyIges, 19},
};

// The exit status of a run.  A failed conversion with result r ends with
// 10 - s, where s is r - 20 for the input conversion and r - 10 for the
// output conversion (so -7, a script that cannot be written, gives 37, and
// -4, an IGES or DXF file that cannot be written, gives 24).
constexpr int exitStatusOf(RunOutcome outcome) {
  if (outcome.end == RunEnd::kInputConversion) return 10 - (outcome.result - 20);
  if (outcome.end == RunEnd::kOutputConversion) return 10 - (outcome.result - 10);
  for (const ExitStatusRow& row : kExitStatuses) {
    if (row.end == outcome.end) return row.status;
  }
  return 0;
}

// Process status after a trap report: the conventional status of a process
// ended by that signal (128 + signal number).
constexpr int kTrapStatusBase = 128;

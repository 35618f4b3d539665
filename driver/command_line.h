// The command line of the converter: the switch table, the dialog that asks
// for the same choices, the usage and version texts and the exit status.
// Nothing here reads a data file; the collected choices go to the run
// dispatcher (driver/dispatcher.h).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/exit_status.h"
#include "support/product.h"

// Longest dialog answer taken; a longer line is refused and the question is
// asked again.
constexpr std::size_t kMaxDialogAnswer = 4095;

// What the command line says.
struct RunRequest {
  std::string phase;  // "IPRE", "IPST", "DXFI", "DXFO", "DWGI", "DWGO"
  std::string level;  // as typed, without its "-"
  std::string language;
  std::string tlvvValue;
  std::string exchangeFile;  // IGES, DXF or DWG file
  std::string cadFile;       // KPL script to write, or CAD transfer file to read
  std::string configFile;
  std::string svgFile;       // -svg: the picture of the conversion, "" none
  bool languageGiven = false;
  bool tlvvGiven = false;
  int useToolkit = 0;
  int dwgOutAsDxf = -1;
  int dwgVersion = -1;
  int edxIn = 0;
  int edxOut = 0;
  int directionCount = 0;
  int fileCount = 0;
  int helpRequested = 0;
  int versionRequested = 0;
  // The dialog ended because its input ended before all answers were given
  // (it has said which answer is missing).
  bool dialogInputEnded = false;
};

// Where the dialog reads its answers and prints its questions.
struct DialogStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
};

// Scans args[start..]; returns 1 when there was nothing to scan, else 0.
// When "-dia" was among them the dialog runs after the scan and its answers
// are scanned on top (file slots and counters are kept).
int parseCommandLine(std::size_t start, const std::vector<std::string>& args, RunRequest& request,
                     const DialogStreams& streams = DialogStreams{});  // stt010

// Results of runDialog besides 0.
constexpr int kDialogQuit = -1;        // the user answered "q"
constexpr int kDialogInputEnded = -2;  // the input ended before all answers were given

// Asks the dialog's questions; returns 0 with the answers in `answers`, or
// kDialogQuit or kDialogInputEnded (answers empty).  When the input ends the
// dialog says which answer is missing.
int runDialog(const std::string& language, std::vector<std::string>& answers,
              const DialogStreams& streams = DialogStreams{});  // stt020

// The DWG/DXF file version of an "-acad<ver>" suffix, or -1 when unknown.
int dwgVersionOfSuffix(const std::string& suffix);

// The program's own texts are German only for the language "deutsch";
// English otherwise, also when no language was given.
bool isGerman(const std::string& language);

void printUsage(std::FILE* out, const std::string& programPath, const std::string& language);  // stt030
void printVersion(std::FILE* out, const std::string& language);                                 // stt040


// The refusal printed when no run starts and neither help nor version was
// asked for: "doesn't know what to do" without a direction, else the
// missing-file-names text.  Returns which of the two.
RunEnd printRefusal(std::FILE* out, const std::string& programPath, const RunRequest& request);  // stt050

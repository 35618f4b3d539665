// Program entry: reads the command line (or runs the dialog), prints the
// usage and version texts or the refusal, and otherwise hands the run to the
// dispatcher and turns its result into the exit status.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/dispatcher.h"
#include "driver/program_dir.h"
#include "driver/run_state.h"
#include "driver/trace.h"

namespace {

// Keeps the choices of the command line that later modules read.
void keepRunChoices(const RunRequest& request, const std::string& programPath) {
  RunState& state = runState();
  state.programPath = programPath;
  if (request.languageGiven) state.language = request.language;
  if (request.tlvvGiven) state.tlvvValue = request.tlvvValue;
  state.useToolkit = request.useToolkit;
  state.dwgOutAsDxf = request.dwgOutAsDxf;
  state.dwgVersion = request.dwgVersion;
  state.edxIn = request.edxIn;
  state.edxOut = request.edxOut;
}

// The drawing-database toolkit of the DWG and toolkit-DXF directions.  This
// program is built without one, so its initialisation cannot succeed: the
// run is refused with the toolkit's message instead of reporting success
// without writing anything.  0 when the direction needs no toolkit.
int initialiseToolkit(const RunRequest& request) {
  TraceScope t("stt060");
  if (request.useToolkit == 0) return 0;
  // The program's own texts are English unless the language is "deutsch".
  if (isGerman(request.language)) {
    std::puts("-> Fehler beim Initialisieren des DWG-Toolkit's !");
    std::puts("   M\xf6glicherweise wurde die Datei DWGINIT.DAT nicht gefunden !!!\n");
  } else {
    std::puts("-> DWG-Toolkit error !");
    std::puts("   file DWGINIT.DAT not found !!!\n");
  }
  return -1;
}

constexpr int kToolkitStatus = 9;
constexpr int kDialogEndedStatus = 3;

}  // namespace

int main(int argc, char** argv) {
  TraceScope t("main");
  std::setlocale(LC_ALL, "C");
  resetRunState();

  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  const std::string programPath = args.empty() ? std::string() : args[0];

  RunRequest request;
  parseCommandLine(1, args, request);
  keepRunChoices(request, programPath);

  if (request.directionCount > 0 && request.fileCount > 2) {
    runState().installDir = programDirectory(programPath);
    if (initialiseToolkit(request) != 0) {
      std::fflush(nullptr);
      _exit(kToolkitStatus);
    }
    const int status = start(request.phase, request.level, request.exchangeFile,
                             request.cadFile, request.configFile);
    resetRunState();
    // The process ends at once; what is still buffered is written first.
    std::fflush(nullptr);
    _exit(exitStatusOf(status));
  }

  int status = 0;
  if (request.versionRequested) {
    printVersion(stdout, request.language);
    status = 1;
  }
  if (request.helpRequested) {
    printUsage(stdout, programPath, request.language);
    status = 1;
  }
  // When the dialog's input ended, the dialog counts as quit; it has said
  // which answer is missing.
  if (status == 0) {
    status = request.dialogInputEnded ? kDialogEndedStatus
                                      : printRefusal(stdout, programPath, request);
  }
  return status;
}

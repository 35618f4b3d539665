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
#include "dwg/dwg_in.h"
#include "dwg/toolkit.h"
#include "support/messages.h"
#include "support/program_dir.h"
#include "support/run_state.h"
#include "support/trace.h"

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
  state.svgFile = request.svgFile;
}


}  // namespace

int main(int argc, char** argv) {
  TraceScope t("main");
  std::setlocale(LC_ALL, "C");
  // Every module's state as a run starts; the command line fills in its
  // choices next.
  resetRunState();

  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  const std::string programPath = args.empty() ? std::string() : args[0];

  RunRequest request;
  parseCommandLine(1, args, request);
  keepRunChoices(request, programPath);

  if (request.directionCount > 0 && request.fileCount > 2) {
    runState().installDir = programDirectory(programPath);
    const bool german = isGerman(request.language);
    const bool reads = request.phase == "DXFI" || request.phase == "DWGI";
    const int started = request.useToolkit != 0 && reads
                            ? DwgIn::init(runState().installDir, german)
                            : initialiseToolkit(request.useToolkit, german, runState().installDir);
    if (started != 0) {
      std::fflush(nullptr);
      _exit(exitStatusOf({RunEnd::kToolkit}));
    }
    const int status = start(request.phase, request.level, request.exchangeFile,
                             request.cadFile, request.configFile);
    // The process ends at once; what is still buffered is written first.
    std::fflush(nullptr);
    _exit(status);
  }

  RunEnd end = RunEnd::kDone;
  if (request.versionRequested) {
    printVersion(stdout, request.language);
    end = RunEnd::kHelpOrVersion;
  }
  if (request.helpRequested) {
    printUsage(stdout, programPath, request.language);
    end = RunEnd::kHelpOrVersion;
  }
  // When the dialog's input ended, the dialog counts as quit; it has said
  // which answer is missing.
  if (end == RunEnd::kDone) {
    end = request.dialogInputEnded ? RunEnd::kNoDirection : printRefusal(stdout, programPath, request);
  }
  return exitStatusOf({end});
}

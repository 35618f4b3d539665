#include "dwg/toolkit.h"

#include <vector>

#include "dwg/start_data.h"
#include "support/builtin_texts.h"
#include "support/messages.h"
#include "support/trace.h"

int initialiseToolkit(int useToolkit, bool german, const std::string& programDirectory,
                      std::FILE* out) {
  TraceScope t("stt060");
  if (useToolkit == 0) return 0;
  const std::string path = DwgStart::pathIn(programDirectory);
  DwgStartData data;
  DwgStartProblem problem;
  if (DwgStart::load(path, data, problem) == 0) {
    dwgStartData() = std::move(data);
    return 0;
  }
  if (problem.message != 0) {
    // The message file of the run is not read yet: the built-in text says
    // what is wrong with the file.
    char text[1024];
    mfaFormat(builtinText(problem.message, german), {problem.line}, path, text, sizeof text);
    std::fprintf(out, "-> %s\n", text);
  }
  // Each line through a line output that appends a newline.
  if (german) {
    std::fputs("-> Fehler beim Initialisieren des DWG-Toolkit's !\n", out);
    std::fputs("   M\xf6glicherweise wurde die Datei DWGINIT.DAT nicht gefunden !!!\n\n", out);
  } else {
    std::fputs("-> DWG-Toolkit error !\n", out);
    std::fputs("   file DWGINIT.DAT not found !!!\n\n", out);
  }
  return -1;
}

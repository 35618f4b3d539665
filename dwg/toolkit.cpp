#include "dwg/toolkit.h"

#include <cstdio>

#include "support/trace.h"

int initialiseToolkit(int useToolkit, bool german) {
  TraceScope t("stt060");
  if (useToolkit == 0) return 0;
  if (german) {
    std::puts("-> Fehler beim Initialisieren des DWG-Toolkit's !");
    std::puts("   M\xf6glicherweise wurde die Datei DWGINIT.DAT nicht gefunden !!!\n");
  } else {
    std::puts("-> DWG-Toolkit error !");
    std::puts("   file DWGINIT.DAT not found !!!\n");
  }
  return -1;
}

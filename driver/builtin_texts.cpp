// The table of built-in texts (ISO 8859-1, like the message files).
#include "driver/builtin_texts.h"

namespace {

struct BuiltinText {
  int number;
  const char* german;
  const char* english;
};

constexpr BuiltinText kBuiltinTexts[] = {
    {90, "FEHLER", "ERROR"},
    {91, "WARNUNG", "WARNING"},
    {92, "HINWEIS", "NOTE"},
    {93, "in Funktion", "in function"},
    {BuiltinMessage::kMessageFileUnreadable,
     "Die Meldungsdatei &t01 kann nicht gelesen werden, der Lauf endet",
     "The message file &t01 cannot be read, the run ends"},
    {BuiltinMessage::kMessageFileIncomplete,
     "Die Meldungsdatei &t01 ist unvollst\xE4" "ndig (kein Text zur Meldung &i01), der Lauf endet",
     "The message file &t01 is incomplete (no text for message &i01), the run ends"},
    {BuiltinMessage::kConfigNotFound,
     "Die Konfigurationsdatei &t01 wurde nicht gefunden, es gelten die Voreinstellungen",
     "The configuration file &t01 was not found, the defaults are used"},
    {BuiltinMessage::kConfigUnreadable,
     "Die Konfigurationsdatei &t01 kann nicht gelesen werden, es gelten die Voreinstellungen",
     "The configuration file &t01 cannot be read, the defaults are used"},
    {BuiltinMessage::kConfigWithoutSettings,
     "Die Konfigurationsdatei &t01 enth\xE4lt keine Einstellungen, es gelten die Voreinstellungen",
     "The configuration file &t01 holds no settings, the defaults are used"},
    {BuiltinMessage::kDirectoryFallback,
     "Kein Lesezugriff auf &t01 ! Das voreingestellte Verzeichnis wird verwendet",
     "No read access to &t01 ! The default directory is used"},
    {BuiltinMessage::kDirectoryMissing,
     "Kein Lesezugriff auf &t01 ! Die Konvertierung wird abgebrochen",
     "No read access to &t01 ! Translation aborted"},
    {BuiltinMessage::kTablesUnreadable,
     "Die Zuordnungstabellen k\xF6nnen nicht gelesen werden, der Lauf endet",
     "The assignment tables cannot be read, the run ends"},
    {BuiltinMessage::kDialogInputEnded,
     "-> Die Eingabe endete ohne Antwort auf : &t01",
     "-> The input ended without an answer to : &t01"},
    {999, "Konvertierung beendet: &i01 Fehler, &i02 Warnungen, &i03 Hinweise",
     "Conversion finished: &i01 errors, &i02 warnings, &i03 notes"},
};

}  // namespace

const char* builtinText(int number, bool german) {
  for (const BuiltinText& entry : kBuiltinTexts) {
    if (entry.number == number) return german ? entry.german : entry.english;
  }
  return nullptr;
}

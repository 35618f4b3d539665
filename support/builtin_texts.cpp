// The table of built-in texts (ISO 8859-1, like the message files).
#include "support/builtin_texts.h"

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
    {1309,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: unbekanntes Schl\xFC" "sselwort",
     "The start-up file &t01 is damaged, line &i01: unknown keyword"},
    {1310,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: falsche Anzahl von Angaben",
     "The start-up file &t01 is damaged, line &i01: wrong number of values"},
    {1311,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: ein Wert ist keine Zahl oder au\xDF" "erhalb seines Bereichs",
     "The start-up file &t01 is damaged, line &i01: a value is no number or out of its range"},
    {1312,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: die Zeile ist zu lang",
     "The start-up file &t01 is damaged, line &i01: the line is too long"},
    {1313,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: ein Name ist leer, zu lang oder doppelt",
     "The start-up file &t01 is damaged, line &i01: a name is empty, too long or given twice"},
    {1314,
     "Die Startdatei &t01 ist fehlerhaft, Zeile &i01: der Linientyp des Layers ist nicht vorher definiert",
     "The start-up file &t01 is damaged, line &i01: the layer's linetype is not defined before"},
    {1315,
     "Die Startdatei &t01 ist zu gro\xDF" " oder hat zu viele Eintr\xE4" "ge (Zeile &i01)",
     "The start-up file &t01 is too large or holds too many entries (line &i01)"},
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

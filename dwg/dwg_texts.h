// The keyed messages of the DWG directions: every key with its built-in
// text.  The keyed message file of the run's language ("dwg_ge.msg" for
// German, "dwg_en.msg" otherwise) may replace any of them; a key missing
// there, or a missing file, leaves the built-in (English) text in force.
// A "~" at the end of a text stands for a trailing blank.
#pragma once

#include <string>

struct DwgText {
  const char* key;
  const char* defaultText;
};

// Every keyed message of the DWG directions, in the order of the files.
const DwgText* dwgTexts(std::size_t& count);

// The built-in text of key ("" for a key not in the table).
const char* dwgDefaultText(const std::string& key);

// Appends the text of key (the file's or the built-in one) to the message
// under construction.
void dwgPut(const char* key);

// "dwg_ge.msg" when the language is exactly "deutsch", else "dwg_en.msg",
// in the message directory (a "/" is put between when missing).
std::string dwgMessageFileName(const std::string& messageDir, const std::string& language);

// Loads the keyed message file of the run (runPaths().messageDir,
// runState().language) and sets the emit threshold from the run's message
// level.  Returns 0, or -1 when the file could not be read (the built-in
// texts then stay, and a warning says why).
int dwgLoadMessages();

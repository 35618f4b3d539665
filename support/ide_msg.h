// Keyed messages of the DWG directions.  A text is looked up by key in the
// keyed message file of the run's language ("dwg_ge.msg", "dwg_en.msg");
// every message has a built-in default text, so the facility works without
// a file.  A message is collected piece by piece and then emitted with a
// header by severity on standard error.
//
// File lines read: key, blanks or tabs, "-", text.  Trailing "~" characters
// of a text stand for blanks.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace IdeSeverity {
constexpr int kNote = 0;
constexpr int kWarning = 1;
constexpr int kError = 2;
constexpr int kProgramError = 3;
constexpr int kFatal = 4;
constexpr int kContinue = 5;  // continues the previous message, indented
}  // namespace IdeSeverity

constexpr std::size_t kIdeMsgStreamSize = 512;

// Reads a keyed message file; on failure the built-in texts stay in use and
// a warning says why.  Returns 0 or -1.
int ideMsgLoad(const std::string& path);
// The same for the contents of a file.
void ideMsgLoadText(const std::string& contents);

// The text of key, or defaultText; trailing "~" become blanks.
std::string ideMsgText(const std::string& key, const std::string& defaultText);

// The message under construction (at most kIdeMsgStreamSize - 1 bytes).
void ideMsgPut(const std::string& text);
void ideMsgPut(long value);
void ideMsgPut(double value);
void ideMsgPutKey(const std::string& key, const std::string& defaultText);
// Ends the collected text with a newline and writes it with the header of
// its severity; messages below the threshold are discarded.  Returns 1 when
// written, 0 when discarded.
int ideMsgEmit(int severity);
// A keyed message in one call: the key's text, then `tail`.
int ideMsgReport(int severity, const std::string& key, const std::string& defaultText,
                 const std::string& tail = "");

// Commands ("idemsgcmd" of the DWG parameter file): "msgApp <text>",
// "flush", "reset".  Returns 0, or -1 for a missing or unknown mode.
int ideMsgCommand(const std::vector<std::string>& arguments);

// Emit threshold from the message level of the run configuration.
int ideMsgThresholdForLevel(int messageLevel);
void ideMsgSetThreshold(int threshold);

// Back to the start of a run: no lines, empty stream, threshold 0.
void ideMsgReset();

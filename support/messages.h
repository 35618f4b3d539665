// Numbered messages of a run.  Texts come from the message file of the
// run's language; every report is counted as error, warning or note, filtered
// by the message level and sent to the console, the protocol file or both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/time_stamp.h"

// Channels: where a report goes.
namespace Channel {
constexpr int kConsole = 0;        // standard error only (also 8)
constexpr int kConsoleOnly = 8;
constexpr int kProtocol = 1;       // protocol file, console when none is open (also 22)
constexpr int kProtocol22 = 22;
constexpr int kBoth = 2;           // protocol file (when open) and console (also 50)
constexpr int kBoth50 = 50;
}  // namespace Channel

// Severity of mfaReport.
namespace Severity {
constexpr int kPlain = 0;
constexpr int kError = 1;
constexpr int kWarning = 2;
constexpr int kNote = 3;
}  // namespace Severity

constexpr int kMaxMessageTexts = 1000;  // MAXM_MELD_TEXT
constexpr std::size_t kMessageLineLength = 255;  // longest message-file line read
constexpr std::size_t kMessageTextLength = 128;  // longest header word or message text used

// Position shown after a message: numbers above kPositionFromContext take
// the current context's value.
constexpr std::uint64_t kPositionFromContext = 4294967294ULL;
struct MessagePosition {
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::uint64_t third = 0;
  int kind = 0;  // -1 the current file; 1..4 GLOBAL, DIRECTORY, PARAMETER, TERMINATE
  std::string text;
};

struct MessageCounts {
  int errors = 0;
  int warnings = 0;
  int notes = 0;
};

// Table and texts.
int mfaLoad(const std::string& messageFile);  // mfa000
int mfaLoadStream(std::FILE* file);           // mfa000 on an open stream
int mfaTextCount();                           // entries in the table
// The first of `numbers` without a text (or with an empty one) in the loaded
// table, or 0 when the table has a text for each.  Built-in texts do not
// count.
int mfaFirstMissingText(const int* numbers, std::size_t count);  // mfa001
int mfaText(int number, std::size_t maxLength, std::size_t& outLength, char* buffer);  // mfa051
std::string mfaTextOf(int number);  // the text, "" when unknown
// Expands "&i.." and "&t.." placeholders; output stops at capacity-1 bytes.
std::size_t mfaFormat(const std::string& text, const std::vector<long>& ints,
                      const std::string& textArg, char* out, std::size_t capacity);  // mfa050
std::string mfaMessageText(int number);  // mfa800
void mfaFree();                          // mfa900

// Reports.
void mfaError(const char* code, int number, int channel);    // mfa100
// Error 370, memory ran out, to the console and the protocol; -1.
int mfaNoMemory(const char* code);
void mfaWarning(const char* code, int number, int channel);  // mfa110
void mfaNote(const char* code, int number, int channel);     // mfa120
void mfaReport(const char* code, int number, int channel, int severity,
               const std::vector<long>& ints, const std::vector<double>& doubles,
               const std::string& text, const MessagePosition* position);  // mfa125
void mfaReportArgs(const char* code, int number, int channel, int severity, int intCount,
                   const long* ints, int doubleCount, const double* doubles,
                   const std::string& text, const MessagePosition* position);  // mfa126
// Sends a built message and, when a position is set, its position line to
// the destinations of the channel; nothing while the context is silent.
void mfaOutput(const char* code, int number, int channel, const std::string& text);  // mfa700

// Context.
void mfaSetPositionNumbers(long first, long second, long third);  // state "set"
void mfaSetPositionSilent();
void mfaClearPosition();  // state "normal", numbers 0
void mfaSetCurrentName(const std::string& text);
const std::string& mfaCurrentName();
void mfaSetArgument(long value);  // the message-argument slot (835, 915, 975)
void mfaSetDxfRun(bool dxf);      // position line 914 instead of 911
// Position line 1329 (the number of an entity of a drawing read through the
// toolkit) instead of 911 and 914.
void mfaSetDrawingRun(bool drawing);
// The file that position kind -1 names (the exchange file being read).
void mfaSetCurrentFile(const std::string& name);

// Level, counters, protocol.
void mfaSetMessageLevel(int level);
int mfaMessageLevel();
MessageCounts mfaCounts();
// Counts a message of the given severity that another facility reported
// (a keyed message that ends the input of a drawing).
void mfaCount(int severity);
void mfaResetCounts();
// The latest error or warning reported: its number and a serial that grows
// with every one (0 before the first), so that a caller can tell whether
// one was reported since it last looked.
struct MessageSerial {
  long serial = 0;
  int number = 0;
};
MessageSerial mfaLastProblem();
void mfaSetProtocolFile(std::FILE* file);  // nullptr: none open
std::FILE* mfaProtocolFile();
// Back to the state at the start of a run: counters zero, level 4, no
// protocol, empty context and name.  The message table is kept; mfaFree
// releases it.
void mfaResetRun();

// Time stamps (timeStamp) live in support/time_stamp.h.

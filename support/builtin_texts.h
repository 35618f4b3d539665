// Texts built into the program in German and English, under the numbers the
// message files give them.  They stand in for the message file while none is
// loaded: before the run's message file is read, and when it cannot be used,
// so that the run can still say why it ends.  The dialog, which runs before
// any message file, takes its closing text from here too.
#pragma once

// Message numbers with a built-in text.
namespace BuiltinMessage {
constexpr int kMessageFileUnreadable = 990;  // &t: the message file
constexpr int kMessageFileIncomplete = 991;  // &t: the message file, &i: the missing number
constexpr int kConfigNotFound = 992;         // &t: the configuration file
constexpr int kConfigUnreadable = 993;       // &t: the configuration file
constexpr int kConfigWithoutSettings = 994;  // &t: the configuration file
constexpr int kDirectoryFallback = 995;      // &t: the directory that cannot be read
constexpr int kDirectoryMissing = 996;       // &t: the directory that cannot be read
constexpr int kTablesUnreadable = 997;       // no argument
constexpr int kDialogInputEnded = 998;       // &t: the question left without answer
}  // namespace BuiltinMessage

// The built-in text of `number` in German or English; nullptr when the
// program has none for it.
const char* builtinText(int number, bool german);

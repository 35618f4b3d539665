#include "support/messages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "support/builtin_texts.h"
#include "support/progress_line.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// Message numbers with a fixed role.
constexpr int kHeaderError = 90;
constexpr int kHeaderWarning = 91;
constexpr int kHeaderNote = 92;
constexpr int kWordBeforeCode = 93;
constexpr int kPositionThree = 910;
constexpr int kPositionLine = 911;
constexpr int kPositionDxf = 914;
constexpr int kPositionDrawing = 1329;
constexpr int kSpecialHeaderMessage = 860;

// Messages numbers are 16-bit; 0 is not a message.
constexpr long kHighestMessageNumber = 32767;

// Capacity of an expanded message (text plus arguments).
constexpr std::size_t kExpandedCapacity = 2048;

// Messages that show the current name as their text argument.
constexpr int kNameMessages[] = {121, 122, 123, 124, 126, 150, 156, 157, 158, 461, 860,
                                 870, 891, 892, 895, 896, 897, 935, 955, 965, 980, 990,
                                 992, 993, 994, 995, 996, 1322, 1323};
// Messages that show the integer of the message-argument slot.
constexpr int kArgumentMessages[] = {835, 915, 975};

// The IGES sections a position kind names.
constexpr const char* kSectionNames[] = {"", "GLOBAL", "DIRECTORY", "PARAMETER", "TERMINATE"};

enum PositionState { kPositionNormal = 0, kPositionSet = 1, kPositionSilent = 2 };

struct PositionContext {
  long first = 0;
  long second = 0;
  long third = 0;
  int state = kPositionNormal;
};

struct MessageEntry {
  int number;
  std::string text;
};

struct MessageState {
  std::vector<MessageEntry> table;
  // The table's first entry of each message number, plus one (0: none),
  // while the table is not empty.
  std::vector<std::uint16_t> firstEntry;
  MessageCounts counts;
  int messageLevel = 4;
  std::FILE* protocolFile = nullptr;
  std::string currentName;
  std::string currentFile;
  PositionContext position;
  long argument = 0;
  bool dxfRun = false;
  bool drawingRun = false;
  MessageSerial lastProblem;
};

MessageState& messageState() {
  static MessageState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("messages", mfaResetRun);

bool contains(const int* first, const int* last, int number) {
  for (; first != last; ++first)
    if (*first == number) return true;
  return false;
}

// Reads one line of at most `limit` characters without its newline.  The
// rest of a longer line is read and dropped, so that it never turns into a
// line of its own.  False at end of file when nothing was read.
bool readMessageLine(std::FILE* file, std::size_t limit, std::string& line) {
  line.clear();
  int c = std::fgetc(file);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::fgetc(file))
    if (line.size() < limit) line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// The leading decimal number of a message-file line, or 0 when there is
// none, it is not positive or it is too large for a message number.  `rest`
// receives the position after the digits.
long messageLineNumber(const std::string& line, std::size_t& rest) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  long value = 0;
  const std::size_t digitsStart = i;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    if (value <= kHighestMessageNumber) value = value * 10 + (line[i] - '0');
  rest = i;
  if (i == digitsStart || negative || value > kHighestMessageNumber) return 0;
  return value;
}

// The text of `number`: from the message table, or, while no message file
// is loaded, the program's built-in text in the run's language.  False when
// there is none.
bool findText(int number, std::string_view& text) {
  const MessageState& s = messageState();
  if (!s.table.empty()) {
    if (number < 1 || number > kHighestMessageNumber) return false;
    const std::size_t entry = s.firstEntry[static_cast<std::size_t>(number)];
    if (entry == 0) return false;
    text = s.table[entry - 1].text;
    return true;
  }
  const char* builtin = builtinText(number, runIsGerman());
  if (builtin == nullptr) return false;
  text = builtin;
  return true;
}

// A header word or message text as the report operations use it: empty when
// it is unknown or longer than the texts that are shown.
std::string shownText(int number) {
  char buffer[kMessageTextLength + 1];
  std::size_t length = 0;
  if (mfaText(number, kMessageTextLength, length, buffer) != 0) return "";
  return std::string(buffer, length);
}

std::string expand(const std::string& text, const std::vector<long>& ints,
                   const std::string& textArg) {
  std::vector<char> out(kExpandedCapacity);
  const std::size_t length = mfaFormat(text, ints, textArg, out.data(), out.size());
  return std::string(out.data(), length);
}

bool toConsole(int channel) {
  switch (channel) {
    case 1:
    case 22:
      return messageState().protocolFile == nullptr;
    default:  // 0, 8, 2, 50, and any unknown channel: never lose a report
      return true;
  }
}

bool toProtocol(int channel) {
  if (messageState().protocolFile == nullptr) return false;
  return channel == 1 || channel == 22 || channel == 2 || channel == 50;
}

void sendText(int channel, const std::string& text) {
  if (text.empty()) return;
  if (toProtocol(channel)) std::fputs(text.c_str(), messageState().protocolFile);
  if (toConsole(channel)) {
    progressLineHide();
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }
}

// The text that a position of mfaReport names: its own text, else the file
// or section its kind names.
std::string positionText(const MessagePosition& position) {
  if (!position.text.empty()) return position.text;
  if (position.kind == -1) {
    const MessageState& s = messageState();
    return s.currentFile.empty() ? s.currentName : s.currentFile;
  }
  if (position.kind >= 1 && position.kind <= 4) return kSectionNames[position.kind];
  return "";
}

long positionValue(std::uint64_t value) {
  return static_cast<long>(value > kPositionFromContext ? 0 : value);
}

int headerNumberOf(int severity) {
  switch (severity) {
    case Severity::kWarning:
      return kHeaderWarning;
    case Severity::kNote:
      return kHeaderNote;
    default:
      return kHeaderError;
  }
}

// Keeps the number of the latest error or warning for mfaLastProblem.
void keepProblem(int number, int severity) {
  if (severity != Severity::kError && severity != Severity::kWarning) return;
  MessageSerial& last = messageState().lastProblem;
  ++last.serial;
  last.number = number;
}

void count(int severity) {
  MessageCounts& c = messageState().counts;
  switch (severity) {
    case Severity::kError:
      ++c.errors;
      break;
    case Severity::kWarning:
      ++c.warnings;
      break;
    case Severity::kNote:
      ++c.notes;
      break;
    default:
      break;
  }
}

// Builds and sends the numbered message of mfaError, mfaWarning and mfaNote.
void reportNumbered(const char* code, int number, int channel, int severity) {
  count(severity);
  keepProblem(number, severity);
  if (messageState().messageLevel < severity) return;
  const std::string header = shownText(headerNumberOf(severity));
  const std::string stamp = timeStamp(2);
  const std::string text = mfaMessageText(number);
  const char* safeCode = code != nullptr ? code : "";
  std::string built;
  if (number == kSpecialHeaderMessage) {
    built = "\n" + header + " (" + std::to_string(number) + "), " + stamp + "\n" + text + " : " +
            safeCode + "\n";
  } else {
    built = "\n" + header + " (" + std::to_string(number) + ") " + shownText(kWordBeforeCode) +
            " " + safeCode + ", " + stamp + "\n" + text + "\n";
  }
  mfaOutput(code, number, channel, built);
}

void clearTable(MessageState& s) {
  std::vector<MessageEntry>().swap(s.table);
  std::vector<std::uint16_t>().swap(s.firstEntry);
}

}  // namespace

// ---------------------------------------------------------------------------
// The table.

int mfaLoadStream(std::FILE* file) {
  TraceScope t("mfa000");
  MessageState& s = messageState();
  clearTable(s);
  if (file == nullptr) return -1;
  s.firstEntry.assign(kHighestMessageNumber + 1, 0);
  std::string line;
  while (readMessageLine(file, kMessageLineLength, line)) {
    std::size_t rest = 0;
    const long number = messageLineNumber(line, rest);
    if (number == 0) continue;  // comments, blank lines, lines without a number
    if (s.table.size() >= static_cast<std::size_t>(kMaxMessageTexts)) {
      std::fputs("mfa000 : Fehlermeldungsanzahl zu gross (> MAXM_MELD_TEXT)\n", stderr);
      std::fflush(stderr);
      break;
    }
    // One separator character follows the number; the text runs to the end.
    if (rest < line.size()) ++rest;
    s.table.push_back({static_cast<int>(number), line.substr(rest)});
    std::uint16_t& first = s.firstEntry[static_cast<std::size_t>(number)];
    if (first == 0) first = static_cast<std::uint16_t>(s.table.size());
  }
  return 0;
}

int mfaLoad(const std::string& messageFile) {
  TraceScope t("mfa000");
  clearTable(messageState());
  std::FILE* file = std::fopen(messageFile.c_str(), "r");
  if (file == nullptr) return -1;  // the table stays empty: every text prints empty
  const int result = mfaLoadStream(file);
  std::fclose(file);
  return result;
}

int mfaTextCount() { return static_cast<int>(messageState().table.size()); }

int mfaFirstMissingText(const int* numbers, std::size_t count) {
  TraceScope t("mfa001");
  // The numbers with a text, sorted; the first entry of a number decides,
  // as in every lookup.
  std::vector<std::pair<int, bool>> shown;
  shown.reserve(messageState().table.size());
  for (const MessageEntry& entry : messageState().table) {
    shown.emplace_back(entry.number, !entry.text.empty());
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < count; ++i) {
    const auto at = std::lower_bound(shown.begin(), shown.end(), numbers[i],
                                     [](const auto& entry, int n) { return entry.first < n; });
    if (at == shown.end() || at->first != numbers[i] || !at->second) return numbers[i];
  }
  return 0;
}

int mfaText(int number, std::size_t maxLength, std::size_t& outLength, char* buffer) {
  TraceScope t("mfa051");
  outLength = 0;
  if (buffer != nullptr) buffer[0] = '\0';
  std::string_view text;
  if (!findText(number, text) || buffer == nullptr || text.size() > maxLength) return -1;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  outLength = text.size();
  return 0;
}

std::string mfaTextOf(int number) {
  std::string_view text;
  return findText(number, text) ? std::string(text) : std::string();
}

std::size_t mfaFormat(const std::string& text, const std::vector<long>& ints,
                      const std::string& textArg, char* out, std::size_t capacity) {
  TraceScope t("mfa050");
  if (out == nullptr || capacity == 0) return 0;
  std::size_t length = 0;
  std::size_t nextInt = 0;
  // Appends bytes while room is left for the terminating zero.
  auto put = [&](const char* bytes, std::size_t n) {
    const std::size_t room = capacity - 1 - length;
    if (n > room) n = room;
    std::memcpy(out + length, bytes, n);
    length += n;
  };
  for (std::size_t i = 0; i < text.size() && length + 1 < capacity;) {
    const char c = text[i];
    if (c == '\\') {  // the next character is taken literally
      if (i + 1 < text.size()) put(&text[i + 1], 1);
      i += 2;
      continue;
    }
    if (c == '&' && i + 1 < text.size() && (text[i + 1] == 'i' || text[i + 1] == 't')) {
      // A placeholder is four characters: "&", the kind, two free characters.
      if (text[i + 1] == 'i') {
        if (nextInt < ints.size()) {
          const std::string digits = std::to_string(ints[nextInt]);
          put(digits.data(), digits.size());
        }
        ++nextInt;
      } else {
        put(textArg.data(), textArg.size());
      }
      i += 4;
      continue;
    }
    put(&c, 1);
    ++i;
  }
  out[length] = '\0';
  return length;
}

std::string mfaMessageText(int number) {
  TraceScope t("mfa800");
  const MessageState& s = messageState();
  const PositionContext& p = s.position;
  std::vector<long> ints;
  std::string textArg;
  if (number == kPositionLine) {
    ints = {p.first, p.second};
    if (p.third != 0) ints.push_back(p.third);
  } else if (number == 912 || number == 913) {
    ints = {p.third};
  } else if (number == kPositionDxf || number == kPositionDrawing) {
    ints = {p.second};
  } else if (contains(std::begin(kArgumentMessages), std::end(kArgumentMessages), number)) {
    ints = {s.argument};
  } else if (contains(std::begin(kNameMessages), std::end(kNameMessages), number)) {
    textArg = s.currentName;
  }
  return expand(shownText(number), ints, textArg);
}

void mfaFree() {
  TraceScope t("mfa900");
  clearTable(messageState());
}

// ---------------------------------------------------------------------------
// Reports.

void mfaError(const char* code, int number, int channel) {
  TraceScope t("mfa100");
  reportNumbered(code, number, channel, Severity::kError);
}

int mfaNoMemory(const char* code) {
  mfaError(code, 370, Channel::kBoth);
  return -1;
}

void mfaWarning(const char* code, int number, int channel) {
  TraceScope t("mfa110");
  reportNumbered(code, number, channel, Severity::kWarning);
}

void mfaNote(const char* code, int number, int channel) {
  TraceScope t("mfa120");
  messageState().position.first = 0;  // notes never carry a position line
  reportNumbered(code, number, channel, Severity::kNote);
}

void mfaOutput(const char* /*code*/, int /*number*/, int channel, const std::string& text) {
  TraceScope t("mfa700");
  const MessageState& s = messageState();
  if (s.position.state == kPositionSilent) return;
  std::string positionLine;
  if (s.position.state == kPositionSet && s.position.first != 0)
    positionLine =
        mfaMessageText(s.drawingRun ? kPositionDrawing : s.dxfRun ? kPositionDxf : kPositionLine) + "\n\n";
  sendText(channel, text + positionLine);
}

void mfaReport(const char* code, int number, int channel, int severity,
               const std::vector<long>& ints, const std::vector<double>& /*doubles*/,
               const std::string& text, const MessagePosition* position) {
  TraceScope t("mfa125");
  // A severity outside 0..3 is reported as an error rather than lost.
  if (severity < Severity::kPlain || severity > Severity::kNote) severity = Severity::kError;
  count(severity);
  keepProblem(number, severity);
  if (severity > messageState().messageLevel) return;
  const char* safeCode = code != nullptr ? code : "";
  const std::string body = expand(shownText(number), ints, text);
  if (severity > Severity::kPlain && number == kSpecialHeaderMessage) {
    // The message of a bad value names the value's key after its text.
    sendText(channel, std::string("\n").append(shownText(headerNumberOf(severity))) + " (" +
                          std::to_string(number) + "), " + timeStamp(2) + "\n" + body + " : " +
                          safeCode + "\n");
  } else {
    if (severity > Severity::kPlain) {
      sendText(channel, std::string("\n").append(shownText(headerNumberOf(severity))) + " (" +
                            std::to_string(number) + ") " + shownText(kWordBeforeCode) + " " +
                            safeCode + ", " + timeStamp(2) + "\n");
    }
    sendText(channel, body + "\n");
  }
  if (position == nullptr) return;
  const long first = positionValue(position->first);
  const long second = positionValue(position->second);
  const long third = positionValue(position->third);
  if (first == 0 && second == 0 && third == 0) return;
  const std::string where = positionText(*position);
  std::string line;
  if (first != 0)
    line = expand(shownText(kPositionThree), {first, second, third}, where);
  else
    line = expand(shownText(kPositionLine), {second, third}, where);
  sendText(channel, line + "\n");
}

void mfaReportArgs(const char* code, int number, int channel, int severity, int intCount,
                   const long* ints, int doubleCount, const double* doubles,
                   const std::string& text, const MessagePosition* position) {
  TraceScope t("mfa126");
  std::vector<long> intList;
  if (ints != nullptr && intCount > 0) intList.assign(ints, ints + intCount);
  std::vector<double> doubleList;
  if (doubles != nullptr && doubleCount > 0) doubleList.assign(doubles, doubles + doubleCount);
  if (position == nullptr) {
    mfaReport(code, number, channel, severity, intList, doubleList, text, nullptr);
    return;
  }
  // Numbers above kPositionFromContext stand for the current context's value.
  const PositionContext& context = messageState().position;
  MessagePosition resolved = *position;
  if (resolved.first > kPositionFromContext) resolved.first = static_cast<std::uint64_t>(context.first);
  if (resolved.second > kPositionFromContext)
    resolved.second = static_cast<std::uint64_t>(context.second);
  if (resolved.third > kPositionFromContext) resolved.third = static_cast<std::uint64_t>(context.third);
  mfaReport(code, number, channel, severity, intList, doubleList, text, &resolved);
}

// ---------------------------------------------------------------------------
// Context.

void mfaSetPositionNumbers(long first, long second, long third) {
  PositionContext& p = messageState().position;
  p.first = first;
  p.second = second;
  p.third = third;
  p.state = kPositionSet;
}

void mfaSetPositionSilent() { messageState().position.state = kPositionSilent; }

void mfaClearPosition() { messageState().position = PositionContext{}; }

void mfaSetCurrentName(const std::string& text) { messageState().currentName = text; }

const std::string& mfaCurrentName() { return messageState().currentName; }

void mfaSetCurrentFile(const std::string& name) { messageState().currentFile = name; }

void mfaSetArgument(long value) { messageState().argument = value; }

void mfaSetDxfRun(bool dxf) { messageState().dxfRun = dxf; }
void mfaSetDrawingRun(bool drawing) { messageState().drawingRun = drawing; }

// ---------------------------------------------------------------------------
// Level, counters, protocol.

void mfaSetMessageLevel(int level) { messageState().messageLevel = level; }

int mfaMessageLevel() { return messageState().messageLevel; }

MessageCounts mfaCounts() { return messageState().counts; }

void mfaCount(int severity) { count(severity); }

MessageSerial mfaLastProblem() { return messageState().lastProblem; }

void mfaResetCounts() { messageState().counts = MessageCounts{}; }

void mfaSetProtocolFile(std::FILE* file) { messageState().protocolFile = file; }

std::FILE* mfaProtocolFile() { return messageState().protocolFile; }

void mfaResetRun() {
  MessageState& s = messageState();
  std::vector<MessageEntry> table = std::move(s.table);
  std::vector<std::uint16_t> firstEntry = std::move(s.firstEntry);
  s = MessageState{};
  s.table = std::move(table);
  s.firstEntry = std::move(firstEntry);
}

#include "support/ide_msg.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "support/run_state.h"

namespace {

struct HeaderWord {
  int severity;
  const char* key;
  const char* defaultText;
};
constexpr HeaderWord kHeaderWords[] = {
    {IdeSeverity::kNote, "_HeaderMsgNote", "Note: "},
    {IdeSeverity::kWarning, "_HeaderMsgWarn", "Warning: "},
    {IdeSeverity::kError, "_HeaderMsgApp", "Error: "},
    {IdeSeverity::kProgramError, "_HeaderMsgProg", "Program Error: "},
    {IdeSeverity::kFatal, "_HeaderMsgFatal", "Fatal Error: "},
};

// A message file larger than this is not a message file.
constexpr long long kLargestMessageFile = 4 * 1024 * 1024;

struct IdeMsgState {
  std::vector<std::string> lines;
  // First line index per leading key token (the text up to a blank, tab or "-").
  std::unordered_map<std::string, std::size_t> firstLineOfKey;
  std::string stream;
  int threshold = 0;
  int previousSeverity = IdeSeverity::kNote;
  std::size_t previousHeaderWidth = 0;
};

IdeMsgState& ideMsgState() {
  static IdeMsgState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IDE messages", ideMsgReset);

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string leadingKey(const std::string& line) {
  std::size_t end = 0;
  while (end < line.size() && !isBlank(line[end]) && line[end] != '-') ++end;
  return line.substr(0, end);
}

// The text of a line for key: the line begins with the key, then blanks or
// tabs, then "-".  False when the line is not one for key.
bool lineText(const std::string& line, const std::string& key, std::string& text) {
  if (key.empty() || line.compare(0, key.size(), key) != 0) return false;
  std::size_t i = key.size();
  while (i < line.size() && isBlank(line[i])) ++i;
  if (i >= line.size() || line[i] != '-') return false;
  text = line.substr(i + 1);
  return true;
}

std::string withTrailingBlanks(std::string text) {
  if (!text.empty() && text.back() == '\r') text.pop_back();
  for (std::size_t i = text.size(); i > 0 && text[i - 1] == '~'; --i) text[i - 1] = ' ';
  return text;
}

const HeaderWord& headerWordOf(int severity) {
  for (const HeaderWord& word : kHeaderWords)
    if (word.severity == severity) return word;
  return kHeaderWords[IdeSeverity::kError];
}

void writeError(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void failedLoad(const char* what, const std::string& path, int errorNumber) {
  ideMsgPut(std::string(what) + path + ". Using defaults (english) ");
  ideMsgEmit(IdeSeverity::kWarning);
  ideMsgPut("System errno is " + std::to_string(errorNumber) + " " + std::strerror(errorNumber));
  ideMsgEmit(IdeSeverity::kContinue);
}

}  // namespace

void ideMsgLoadText(const std::string& contents) {
  IdeMsgState& s = ideMsgState();
  s.lines.clear();
  s.firstLineOfKey.clear();
  std::size_t start = 0;
  while (start < contents.size()) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    s.firstLineOfKey.emplace(leadingKey(line), s.lines.size());
    s.lines.push_back(std::move(line));
    start = end + 1;
  }
}

int ideMsgLoad(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    failedLoad("unable to obtain status of message file ", path, errno);
    return -1;
  }
  std::FILE* file = nullptr;
  errno = 0;
  if (S_ISREG(status.st_mode) && status.st_size <= kLargestMessageFile)
    file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    failedLoad("can not open ", path, errno != 0 ? errno : EINVAL);
    return -1;
  }
  // The file is read up to the size it had when examined, never more.
  std::string contents(static_cast<std::size_t>(status.st_size), '\0');
  const std::size_t got = std::fread(contents.data(), 1, contents.size(), file);
  std::fclose(file);
  contents.resize(got);
  ideMsgLoadText(contents);
  return 0;
}

std::string ideMsgText(const std::string& key, const std::string& defaultText) {
  const IdeMsgState& s = ideMsgState();
  std::string text;
  const bool plainKey = key.find_first_of(" \t-") == std::string::npos;
  if (plainKey) {
    // Only a line whose leading token is the key can begin with the key
    // followed by blanks and "-".
    const auto found = s.firstLineOfKey.find(key);
    if (found != s.firstLineOfKey.end() && lineText(s.lines[found->second], key, text))
      return withTrailingBlanks(text);
  } else {
    for (const std::string& line : s.lines)
      if (lineText(line, key, text)) return withTrailingBlanks(text);
  }
  return withTrailingBlanks(defaultText);
}

void ideMsgPut(const std::string& text) {
  std::string& stream = ideMsgState().stream;
  const std::size_t room = kIdeMsgStreamSize - 1 - stream.size();
  stream.append(text, 0, text.size() < room ? text.size() : room);
}

void ideMsgPut(long value) { ideMsgPut(std::to_string(value)); }

void ideMsgPut(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", value);
  ideMsgPut(std::string(buffer));
}

void ideMsgPutKey(const std::string& key, const std::string& defaultText) {
  ideMsgPut(ideMsgText(key, defaultText));
}

int ideMsgEmit(int severity) {
  IdeMsgState& s = ideMsgState();
  std::string header;
  int effective = severity;
  if (severity == IdeSeverity::kContinue) {
    effective = s.previousSeverity;
    header.assign(s.previousHeaderWidth, ' ');
  } else {
    if (severity < IdeSeverity::kNote || severity > IdeSeverity::kFatal)
      effective = IdeSeverity::kError;
    const HeaderWord& word = headerWordOf(effective);
    header = ideMsgText(word.key, word.defaultText);
    s.previousSeverity = effective;
    s.previousHeaderWidth = header.size();
  }
  std::string text;
  text.swap(s.stream);
  if (effective < s.threshold) return 0;
  writeError((header + text + "\n").c_str());
  return 1;
}

int ideMsgReport(int severity, const std::string& key, const std::string& defaultText,
                 const std::string& tail) {
  ideMsgPutKey(key, defaultText);
  ideMsgPut(tail);
  return ideMsgEmit(severity);
}

int ideMsgCommand(const std::vector<std::string>& arguments) {
  IdeMsgState& s = ideMsgState();
  if (arguments.empty()) {
    ideMsgReport(IdeSeverity::kError, "ideMsg_01", "mode missing for msg");
    return -1;
  }
  const std::string& mode = arguments[0];
  if (mode == "msgApp") {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      if (i > 1) ideMsgPut(std::string(" "));
      ideMsgPut(arguments[i]);
    }
    ideMsgEmit(IdeSeverity::kError);
    return 0;
  }
  if (mode == "flush") {
    s.stream.clear();
    return 0;
  }
  if (mode == "reset") {
    if (s.lines.empty()) {
      writeError("no internal messages present\n");
    } else {
      for (const std::string& line : s.lines) writeError((line + "\n").c_str());
    }
    return 0;
  }
  ideMsgReport(IdeSeverity::kError, "ideMsg_02", "invalid argument for msg: ", mode);
  return -1;
}

int ideMsgThresholdForLevel(int messageLevel) {
  switch (messageLevel) {
    case 1:
      return IdeSeverity::kError;
    case 2:
      return IdeSeverity::kWarning;
    case -1:
      return IdeSeverity::kFatal;
    default:
      return IdeSeverity::kNote;
  }
}

void ideMsgSetThreshold(int threshold) { ideMsgState().threshold = threshold; }

void ideMsgReset() { ideMsgState() = IdeMsgState{}; }

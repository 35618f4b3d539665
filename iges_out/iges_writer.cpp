#include "iges_out/iges_writer.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "iges_out/number_text.h"
#include "iges_out/section_files.h"
#include "support/ascii.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/product.h"
#include "support/run_state.h"
#include "support/time_stamp.h"
#include "support/trace.h"

namespace {

// The largest sequence number the seven columns of a line can hold.
constexpr std::int32_t kMaxSequence = 9999999;
// Longest line of startsection.txt that is read; the rest is read away.
constexpr std::size_t kStartFileLineLength = 256;

// A finite value; a NaN or infinity would print as a word no reader takes.
double finiteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

const char* ending(bool last) { return last ? ";" : ","; }

// Writes one 80-column record and its line feed (n bytes as formatted); any
// other length, a missing file or a failed write fails the writer.
bool putRecord(std::FILE* file, const char* record, int n) {
  IgesWriterState& s = igesWriter();
  if (file == nullptr || n != 81) {
    s.failed = true;
    return false;
  }
  if (std::fwrite(record, 1, 81, file) != 81) {
    noteSectionWriteFailure(file, errno);
    s.failed = true;
    return false;
  }
  return true;
}

// Appends `value` right-aligned in `width` columns, as "%*ld" prints it (a
// wider number takes the room it needs).
void appendRight(std::string& out, int width, long value) {
  char digits[24];
  char* const end = digits + sizeof digits;
  char* begin = end;
  if (value >= 0) {
    auto rest = static_cast<unsigned long>(value);
    do {
      *--begin = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest != 0);
  } else {
    begin = digits;
    const auto written = std::to_chars(digits, end, value).ptr;
    const long length = written - digits;
    if (length < width) out.append(static_cast<std::size_t>(width - length), ' ');
    out.append(digits, written);
    return;
  }
  const long length = end - begin;
  if (length < width) out.append(static_cast<std::size_t>(width - length), ' ');
  out.append(begin, end);
}

// Writes one line of a section: data left-aligned in `width` columns, for
// the parameter section the directory sequence number in columns 65 to 72,
// then the letter and the sequence number.
int writeSectionLine(std::FILE* file, std::int32_t& counter, std::string_view data,
                     char letter, int width) {
  IgesWriterState& s = igesWriter();
  if (file == nullptr || counter > kMaxSequence || counter < 0) {
    s.failed = true;
    return -1;
  }
  std::string& line = s.record;
  line.assign(data.substr(0, static_cast<std::size_t>(width)));
  line.resize(static_cast<std::size_t>(width), ' ');
  if (letter == 'P') appendRight(line, 8, s.directorySeq);
  line += letter;
  appendRight(line, 7, counter);
  line += '\n';
  if (!putRecord(file, line.data(), static_cast<int>(line.size()))) return -1;
  ++counter;
  return 0;
}

int flushLine(std::FILE* file, std::int32_t& counter, char letter, int width) {
  IgesWriterState& s = igesWriter();
  const int r = writeSectionLine(file, counter, s.line, letter, width);
  s.line.clear();
  return r;
}

}  // namespace

IgesWriterState& igesWriter() {
  static IgesWriterState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES writer", resetIgesWriter);

void resetIgesWriter() {
  TraceScope t("stt101");
  IgesWriterState& s = igesWriter();
  discardSectionFileSet(s.files, s.paths, kIgesSectionCount);
  s = IgesWriterState{};
}

int openSectionFiles() {
  TraceScope t("stt100");
  IgesWriterState& s = igesWriter();
  const RunPaths& p = runPaths();
  const std::string names[kIgesSectionCount] = {p.igesStartFile, p.igesGlobalFile,
                                                p.igesDirectoryFile, p.igesParameterFile,
                                                p.igesTerminateFile};
  return openSectionFileSet(names, kIgesSectionCount, s.files, s.paths, t.code());
}

int closeSectionFiles() {
  IgesWriterState& s = igesWriter();
  if (!closeSectionFileSet(s.files, kIgesSectionCount)) s.failed = true;
  return s.failed ? -1 : 0;
}

// --- Tokens ---------------------------------------------------------------

std::string igesInteger(long value, bool last) {
  std::string out;
  appendIgesInteger(out, value, last);
  return out;
}

void appendIgesInteger(std::string& out, long value, bool last) {
  char buffer[24];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out.append(buffer, end);
  out += ending(last);
}

void appendScientific(std::string& out, double value, int precision) {
  // The correct rounding is the one printf makes as well, with the
  // exponent letter 'E'.
  char buffer[400];
  out.append(buffer, scientificText(buffer, finiteOrZero(value), precision));
}

std::string igesReal(double value, bool last) {
  std::string out;
  appendScientific(out, value, 12);
  out += ending(last);
  return out;
}

std::string igesShortReal(double value, bool last) {
  std::string out;
  appendScientific(out, value, 6);
  out += ending(last);
  return out;
}

void appendPackedReal(std::string& out, double value, bool last) {
  char buffer[400];
  const char* end = scientificText(buffer, finiteOrZero(value), 12);
  // "d.ddddddddddddE+xx": trailing zeros of the mantissa go, one digit after
  // the point stays, and the exponent is marked double precision.
  const char* e = buffer;
  while (e != end && *e != 'E') ++e;
  const char* point = buffer;
  while (point != e && *point != '.') ++point;
  const char* keep = e;
  while (keep > point + 2 && keep[-1] == '0') --keep;
  out.append(buffer, static_cast<std::size_t>(keep - buffer));
  out += 'D';
  out.append(e + 1, static_cast<std::size_t>(end - e - 1));
  out += ending(last);
}

std::string igesString(std::string_view text, bool last) {
  if (text.empty()) return ending(last);
  // A line end or other control character inside a text would break the
  // fixed columns of the record; it is written as a blank (the count stays).
  std::string body(text);
  for (char& c : body) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return std::to_string(body.size()) + "H" + body + ending(last);
}

TokenClass classifyToken(std::string_view token) {
  std::size_t i = 0;
  while (i < token.size() && token[i] >= '0' && token[i] <= '9') ++i;
  if (i > 0 && i < token.size() && token[i] == 'H') return TokenClass::kString;
  const std::string text(token);
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  std::strtod(begin, &end);
  if (end == begin) return TokenClass::kOther;
  if (text.find('.') != std::string::npos) return TokenClass::kReal;
  std::strtol(begin, &end, 10);
  return end != begin ? TokenClass::kInteger : TokenClass::kOther;
}

std::string shortenReal(std::string_view token) {
  const std::size_t e = token.find('E');
  const std::size_t point = token.find('.');
  if (e == std::string_view::npos || point == std::string_view::npos || point > e)
    return std::string(token);
  std::size_t keep = e;
  while (keep > point + 2 && token[keep - 1] == '0') --keep;
  std::string out(token.substr(0, keep));
  out += 'D';
  out += token.substr(e + 1);
  return out;
}

std::string resolutionText(double value) {
  char text[48];
  if (!std::isfinite(value) || value <= 0.0) {
    std::snprintf(text, sizeof text, "%.12E", finiteOrZero(value));
    return text;
  }
  // "d.dddddddddddddE+xx": the mantissa to four decimals as a whole number,
  // one added, its first four digits kept.  A carry into a sixth digit
  // (9.9999 becomes 10.000) raises the exponent.
  std::snprintf(text, sizeof text, "%.12E", value);
  const char* exponentText = std::strchr(text, 'E');
  int exponent = std::atoi(exponentText + 1);
  const long mantissa = (text[0] - '0') * 10000L + (text[2] - '0') * 1000L + (text[3] - '0') * 100L +
             (text[4] - '0') * 10L + (text[5] - '0');
  const long raised = mantissa + 1;
  if (raised >= 100000) ++exponent;
  const std::string digits = std::to_string(raised).substr(0, 4);
  char out[48];
  std::snprintf(out, sizeof out, "%c.%c%c%c000000000E%+.2d", digits[0], digits[1], digits[2],
                digits[3], exponent);
  return out;
}

// --- Packing --------------------------------------------------------------

int packToken(std::FILE* file, std::int32_t& counter, std::string_view token, char sectionLetter,
              int width) {
  if (token.empty() || token.size() > kMaxTokenLength) return -1;
  const TokenClass kind = classifyToken(token);
  if (kind != TokenClass::kReal) return packClassified(file, counter, token, kind, sectionLetter, width);
  return packClassified(file, counter, shortenReal(token), kind, sectionLetter, width);
}

int packClassified(std::FILE* file, std::int32_t& counter, std::string_view text, TokenClass kind,
                   char sectionLetter, int width) {
  TraceScope t("vds840");
  IgesWriterState& s = igesWriter();
  if (text.empty() || text.size() > kMaxTokenLength || width <= 0) return -1;
  const auto limit = static_cast<std::size_t>(width);
  const bool endsRecord = text.back() == ';';
  s.recordEnded = false;

  if (s.line.size() + text.size() <= limit) {
    s.line += text;
  } else if (kind != TokenClass::kString) {
    // Numbers are never split: the line is written, the number starts the
    // next one.
    if (!s.line.empty() && flushLine(file, counter, sectionLetter, width) != 0) return -1;
    s.line = text;
    if (s.line.size() > limit) return -1;
  } else {
    const std::size_t prefix = text.find('H') + 1;
    if (prefix > limit - s.line.size() && !s.line.empty()) {
      if (flushLine(file, counter, sectionLetter, width) != 0) return -1;
    }
    std::size_t used = 0;
    while (s.line.size() + (text.size() - used) > limit) {
      const std::size_t room = limit - s.line.size();
      s.line.append(text, used, room);
      used += room;
      if (flushLine(file, counter, sectionLetter, width) != 0) return -1;
    }
    s.line.append(text, used, std::string::npos);
  }
  if (endsRecord) {
    if (flushLine(file, counter, sectionLetter, width) != 0) return -1;
    s.recordEnded = true;
  }
  return 0;
}

int packParameter(std::string_view token) {
  IgesWriterState& s = igesWriter();
  return packToken(s.files[kSectionParameter], s.parameterSeq, token, 'P', kParameterWidth);
}

int packParameter(std::string_view text, TokenClass kind) {
  IgesWriterState& s = igesWriter();
  return packClassified(s.files[kSectionParameter], s.parameterSeq, text, kind, 'P', kParameterWidth);
}

// --- Directory entries -----------------------------------------------------

namespace {

// One record of a directory entry, its fields in the columns of the table:
// integers right-aligned, texts left-aligned and cut to the field, the
// sequence number after the letter 'D'.  A number too wide for its field
// makes the record longer than 80 columns (writeDirectoryEntry refuses it).
void directoryRecord(std::string& line, int record, const std::int32_t (&values)[kIgesDirectoryFieldCount],
                     const char* status, const char* label) {
  line.clear();
  line.reserve(81);
  for (int i = 0; i < kIgesDirectoryFieldCount; ++i) {
    const IgesDirectoryColumns& f = kIgesDirectory[i];
    if (f.record != record) continue;
    switch (f.kind) {
      case IgesFieldKind::kInteger:
        appendRight(line, f.width, values[i]);
        break;
      case IgesFieldKind::kText: {
        const char* text = i == kDirStatus ? status : label;
        const std::size_t from = line.size();
        for (int k = 0; k < f.width && text[k] != '\0'; ++k) line += text[k];
        line.resize(from + static_cast<std::size_t>(f.width), ' ');
        break;
      }
      case IgesFieldKind::kReserved:
        line.append(static_cast<std::size_t>(f.width), ' ');
        break;
      case IgesFieldKind::kSequence:
        line += 'D';
        appendRight(line, f.width - 1, values[i]);
        break;
    }
  }
  line += '\n';
}

}  // namespace

void formatDirectoryEntry(DirectoryEntry& entry, std::string& line1, std::string& line2) {
  TraceScope t("vds800");
  IgesWriterState& s = igesWriter();
  entry.sequence = s.directorySeq;
  entry.entityType2 = entry.entityType;
  entry.sequence2 = s.directorySeq + 1;
  s.directorySeq += 2;
  // The subscript is written one higher than stored.
  const std::int32_t values[kIgesDirectoryFieldCount] = {
      entry.entityType, entry.paramPointer,   entry.structure, entry.lineFont,
      entry.level,      entry.view,           entry.matrixPointer, entry.labelAssoc,
      0,                entry.sequence,       entry.entityType2, entry.lineWeight,
      entry.colour,     entry.paramLineCount, entry.form,      0,
      0,                0,                    entry.subscript + 1, entry.sequence2};
  directoryRecord(line1, 1, values, entry.status, entry.label);
  directoryRecord(line2, 2, values, entry.status, entry.label);
}

int writeDirectoryEntry(const std::string& line1, const std::string& line2) {
  TraceScope t("vds820");
  IgesWriterState& s = igesWriter();
  std::FILE* f = s.files[kSectionDirectory];
  // A field too wide for its columns would shift the whole record.
  if (line1.size() != 81 || line2.size() != 81) {
    s.failed = true;
    return -1;
  }
  if (f == nullptr) {
    s.failed = true;
    return -1;
  }
  if (std::fwrite(line1.data(), 1, line1.size(), f) != line1.size() ||
      std::fwrite(line2.data(), 1, line2.size(), f) != line2.size()) {
    noteSectionWriteFailure(f, errno);
    s.failed = true;
    return -1;
  }
  return 0;
}

// --- Global section ---------------------------------------------------------

void setOutputGlobals(const std::string& fileName, const std::string& levelText,
                      double maxCoordinate) {
  TraceScope t("stt810");
  IgesOutputGlobal g;
  const RunSettings& settings = runSettings();
  g.senderProductId = std::string("VERS") + kVersionText + "-" + levelText;
  g.fileName = fileName;
  g.nativeSystemId = kProductTitle;
  g.preprocessorVersion = std::string(kVersionText) + "(" + buildDate() + ")";
  g.receiverProductId = settings.startTexts[kStartProject];
  g.creationDate = timeStamp(3);
  g.minResolution = runState().outputTolerance;
  g.maxCoordinate = maxCoordinate;
  g.authorName = settings.startTexts[kStartAuthor];
  g.authorOrganisation = settings.startTexts[kStartCompany];
  igesWriter().global = g;
}

int writeGlobalSection() {
  TraceScope t("gte100");
  IgesWriterState& s = igesWriter();
  const IgesOutputGlobal& g = s.global;
  const std::string delimiter1 = std::string("1H") + g.paramDelimiter + ",";
  const std::string delimiter2 = std::string("1H") + g.recordDelimiter + ",";
  char resolution[56];
  std::snprintf(resolution, sizeof resolution, "%s,", resolutionText(g.minResolution).c_str());
  // In the order and of the kinds of the global parameter table.
  const std::string tokens[kIgesGlobalCount] = {
      delimiter1,
      delimiter2,
      igesString(g.senderProductId),
      igesString(upperAscii(g.fileName)),
      igesString(g.nativeSystemId),
      igesString(g.preprocessorVersion),
      igesInteger(g.integerBits),
      igesInteger(g.singleMaxPower),
      igesInteger(g.singleDigits),
      igesInteger(g.doubleMaxPower),
      igesInteger(g.doubleDigits),
      igesString(upperAscii(g.receiverProductId)),
      igesReal(g.modelScale),
      igesInteger(g.unitsFlag),
      igesString(g.unitsName),
      igesInteger(g.lineWeightGradations),
      igesReal(g.maxLineWidth),
      igesString(g.creationDate),
      resolution,
      igesReal(g.maxCoordinate),
      igesString(upperAscii(g.authorName)),
      igesString(upperAscii(g.authorOrganisation)),
      igesInteger(g.versionFlag),
      igesInteger(g.draftingStandard, true),
  };
  s.line.clear();
  for (const std::string& token : tokens) {
    if (packToken(s.files[kSectionGlobal], s.globalSeq, token, 'G', kGlobalWidth) != 0) return -1;
  }
  --s.globalSeq;
  return 0;
}

// --- Start section ----------------------------------------------------------

namespace {

constexpr int kStartLines = 19;
constexpr int kFirstLabel = 4;
constexpr const char* kFrameLines[kFirstLabel] = {
    "************************************************************************",
    "--------------ANGABEN UEBER DEN ABSENDER--------------------------------",
    "--------------ANGABEN UEBER DAS TEIL------------------------------------",
    "--------------ANGABEN UEBER/FUER DEN EMPFAENGER-------------------------",
};
constexpr const char* kLabels[kStartLines - kFirstLabel] = {
    "VDAIS VERSION/LEIST:", "SENDEFIRMA         :", "ANSPRECHPARTNER    :",
    "TELEFON            :", "ADRESSE            :", "ERZEUGENDES SYSTEM :",
    "ERZEUGUNGSDATUM    :", "SENDE-FILENAME     :", "PROJEKT            :",
    "PROJEKTKENNUNG     :", "VARIANTE           :", "VERTRAULICHKEIT    :",
    "GUELTIGKEITSDATUM  :", "EMPFAENGERFIRMA    :", "EMPFAENGERNAME/ABT :",
};
// The order in which the template lines are written.
constexpr int kStartOrder[] = {0, 4, 1, 5, 6, 7, 8, 9, 10, 11, 2, 12, 13, 14, 15, 16, 3, 17, 18, 0};

void appendValue(std::string& line, const std::string& value) {
  if (!value.empty()) line += " " + value;
}

}  // namespace

int writeStartLine(std::string_view text) {
  TraceScope t("sse110");
  IgesWriterState& s = igesWriter();
  std::string_view rest = text;
  std::string data(rest.substr(0, kGlobalWidth));
  rest.remove_prefix(data.size());
  for (;;) {
    ++s.startCount;
    std::int32_t sequence = s.startCount;
    if (writeSectionLine(s.files[kSectionStart], sequence, data, 'S', kGlobalWidth) != 0) return -1;
    if (rest.empty()) return 0;
    const std::string_view piece = rest.substr(0, kStartContinuation);
    data = std::string(kStartIndent, ' ') + std::string(piece);
    rest.remove_prefix(piece.size());
  }
}

int writeStartSection() {
  TraceScope t("sse100");
  const std::string name = runPaths().assignDir + "startsection.txt";
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) {
    mfaError(t.code(), 130, Channel::kConsole);
    return -1;
  }
  std::string lines[kStartLines];
  for (int i = 0; i < kFirstLabel; ++i) lines[i] = kFrameLines[i];
  for (int i = kFirstLabel; i < kStartLines; ++i) lines[i] = kLabels[i - kFirstLabel];

  std::string line;
  bool textFollows = false;
  while (readTableLine(file, kStartFileLineLength, line)) {
    if (line.compare(0, 6, ".TEXT.") == 0) {
      textFollows = true;
      break;
    }
    for (int i = kFirstLabel; i < kStartLines; ++i) {
      const std::size_t labelLength = std::strlen(kLabels[i - kFirstLabel]);
      if (line.compare(0, labelLength, kLabels[i - kFirstLabel]) != 0) continue;
      const std::size_t from = line.find_first_not_of(' ', labelLength);
      if (from != std::string::npos) appendValue(lines[i], upperAscii(line.substr(from)));
      break;
    }
  }

  const RunSettings& settings = runSettings();
  const std::string& level = runState().level;
  if (!level.empty()) appendValue(lines[4], std::string(kVersionText) + "/" + level);
  appendValue(lines[5], settings.startTexts[kStartCompany]);
  appendValue(lines[6], settings.startTexts[kStartContact]);
  appendValue(lines[7], settings.startTexts[kStartTelephone]);
  appendValue(lines[8], settings.startTexts[kStartAddress]);
  appendValue(lines[9], std::string(kProductTitle) + " (" + buildDate() + ")");
  appendValue(lines[10], timeStamp(1));
  appendValue(lines[11], igesWriter().global.fileName);
  appendValue(lines[12], settings.startTexts[kStartProject]);
  appendValue(lines[13], settings.startTexts[kStartProjectShort]);
  appendValue(lines[14], settings.startTexts[kStartVariant]);
  appendValue(lines[15], settings.startTexts[kStartDistribution]);
  const std::string& date = settings.startTexts[kStartDate];
  appendValue(lines[16], date.empty() ? timeStamp(1) : date);
  appendValue(lines[17], settings.startTexts[kStartEfa]);
  appendValue(lines[18], settings.startTexts[kStartEna]);
  for (int i = 3; i < kStartLines; ++i) lines[i] = upperAscii(lines[i]);

  int result = 0;
  for (const int i : kStartOrder) {
    if (writeStartLine(lines[i]) != 0) result = -1;
  }
  if (textFollows) {
    while (result == 0 && readTableLine(file, kStartFileLineLength, line)) {
      if (writeStartLine(upperAscii(line)) != 0) result = -1;
    }
  }
  std::fclose(file);
  return result;
}

// --- Terminate record and joining ------------------------------------------

int writeTerminate() {
  TraceScope t("gte200");
  IgesWriterState& s = igesWriter();
  char record[96];
  const int n = std::snprintf(record, sizeof record, "S%07dG%07dD%07dP%07d%-40sT      1\n",
                              static_cast<int>(s.startCount), static_cast<int>(s.globalSeq),
                              static_cast<int>(s.directorySeq - 1),
                              static_cast<int>(s.parameterSeq - 1), " ");
  return putRecord(s.files[kSectionTerminate], record, n) ? 0 : -1;
}

int joinSectionFiles(const std::string (&sectionFiles)[kIgesSectionCount],
                     const std::string& outputName) {
  TraceScope t("scl200");
  const JoinResult r = joinFiles(sectionFiles, kIgesSectionCount, outputName, t.code());
  igesWriter().missingSectionFiles += r.missing;
  return r.status;
}

int finishIgesOutput(const std::string& outputName) {
  TraceScope t("stt100");
  IgesWriterState& s = igesWriter();
  int result = 0;
  if (writeGlobalSection() != 0) result = -1;
  if (result == 0 && writeStartSection() != 0) {
    mfaError(t.code(), 340, Channel::kBoth);
    result = -3;
  }
  if (result == 0 && writeTerminate() != 0) result = -1;
  if (closeSectionFiles() != 0 && result == 0) result = -1;
  if (result == -1) {
    // A section file could not be written completely: the output would be
    // a damaged file, so none is made.  A failed write names the section
    // file and the system's reason.
    if (sectionWriteFailed())
      reportSectionWriteFailure(t.code());
    else
      mfaReport(t.code(), 980, Channel::kBoth, Severity::kError, {}, {}, outputName, nullptr);
    result = -4;
  }
  if (result != 0) {
    discardSectionFileSet(s.files, s.paths, kIgesSectionCount);
    return result;
  }
  result = joinSectionFiles(s.paths, outputName);
  if (result == 0 && runSettings().traceLevel > 0)
    std::printf("-> stt100 : Name der erzeugten Datei : %s\n", outputName.c_str());
  return result;
}

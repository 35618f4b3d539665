// The IGES file reader: the record layer, the start, global and terminate
// sections, the directory and parameter sections and the fetch of an
// entity's parameter records.  The parameter pass lives in
// iges_param_pass.cpp.

#include "iges_in/iges_reader.h"

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "elements/element_table.h"
#include "elements/iges_format.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_fields.h"
#include "support/config.h"
#include "support/heap_room.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kMsgCannotWrite = 1300;

// The smallest minimum resolution a file may claim (global.cfg
// "MINM_RESO_WERT").
constexpr double kMinimumResolution = 0.0001;

bool isControl(int c) { return (c >= 0 && c < 32) || c == 127; }

struct SenderRow {
  const char* prefix;
  int code;
};
// Sending systems, recognised by the start of the native system id; the
// first match wins.
constexpr SenderRow kSenders[] = {
    {"SDRC Master Series 1 Drafting", 1},
    {"PAFEC DOGS", 2},
    {"EUCLID", 3},
    {"EUKLID", 31},
    {"Quorix", 4},
    {"Computervision, Inc., Medusa", 5},
    {"Unigraphics", 6},
    {"PROREN", 7},
    {"KONSYS DRAFT", 8},
    {"MCS Inc. ANVIL-5000", 9},
    {"AutoCAD-12", 10},
    {"Ashlar", 11},
};
// Compared with the sender's product id when no native id matched.
constexpr SenderRow kSenderByProduct = {"KONSYS DRAFT", 8};

void copyField(char* target, std::size_t size, const std::string& value) {
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(target, value.data(), n);
  target[n] = '\0';
}

// An integer directory field read with "%ld"; false when it holds no
// number.
// The integer at the start of the 8-column field after its blanks (the
// reader has made every control character a blank): a sign, then digits up
// to the first other character.  false when the field has no digits there.
bool directoryField(const char* record, IgesDirectoryField which, std::int32_t& value) {
  const char* p = record + igesDirectoryOffset(which);
  const char* const end = p + 8;
  while (p < end && *p == ' ') ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end || *p < '0' || *p > '9') return false;
  std::int32_t v = 0;  // eight columns hold at most 99999999
  for (; p < end && *p >= '0' && *p <= '9'; ++p) v = v * 10 + (*p - '0');
  value = negative ? -v : v;
  return true;
}

// The sequence number from `firstColumn` to column 80, after the section
// letter when it stands there: blanks, a sign, digits (as "%ld" reads it).
// false when there are no digits or the number is negative.
bool sequenceField(const char* record, char letter, int firstColumn, std::int32_t& value) {
  const char* p = record + firstColumn - 1;
  if (*p == letter) ++p;
  const char* const end = record + 80;
  while (p < end && *p == ' ') ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (p == end || *p < '0' || *p > '9') return false;
  long v = 0;  // at most eight digits
  for (; p < end && *p >= '0' && *p <= '9'; ++p) v = v * 10 + (*p - '0');
  if (negative) v = -v;
  if (v > INT32_MAX || v < 0) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

IgesReaderState& igesReader() {
  static IgesReaderState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES reader", resetIgesReader);

void resetIgesReader() {
  TraceScope t("stt801");
  closeIgesInput();
  igesReader() = IgesReaderState{};
  igesDelimiters() = IgesDelimiters{};
}

std::FILE* createTemporaryFile(std::string& path) {
  TraceScope t("stt805");
  std::string dir = runPaths().tempDir.empty() ? std::string("/tmp") : runPaths().tempDir;
  if (dir.back() != '/') dir += '/';
  return createScratchFile(dir + "trovak_" + std::to_string(getpid()), "w+b", path);
}

void reportTemporaryWriteFailure(const char* code, const std::string& path, int error) {
  mfaReport(code, kMsgCannotWrite, Channel::kBoth, Severity::kError, {}, {},
            fileFailureText(path, error), nullptr);
}

void removeTemporaryFiles() { closeIgesInput(); }

int igesReaderAttach(std::FILE* file) {
  TraceScope t("stt802");
  IgesReaderState& s = igesReader();
  s.input = file;
  s.position = 0;
  s.windowStart = 0;
  s.windowLength = 0;
  if (file == nullptr) return -1;
  const long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  s.fileSize = std::ftell(file);
  std::fseek(file, here, SEEK_SET);
  s.position = here;
  return s.fileSize < 0 ? -1 : 0;
}

namespace {

constexpr std::size_t kWindowBytes = std::size_t{1} << 18;

// Reads a window of the input that holds position `at`: it starts there,
// or, for a step back just before the window held (the terminate record is
// looked for backwards from the end), half a window before it.  false when
// the window holds nothing at `at` (the end of the file, or a read that
// fails).
bool fillWindow(long at) {
  IgesReaderState& s = igesReader();
  if (at < 0) return false;
  if (s.window.size() != kWindowBytes) s.window.resize(kWindowBytes);
  const long half = static_cast<long>(kWindowBytes / 2);
  const long from = at < s.windowStart && s.windowStart - at < half ? std::max(0L, at - half) : at;
  s.windowStart = from;
  s.windowLength = 0;
  if (std::fseek(s.input, from, SEEK_SET) != 0) return false;
  s.windowLength = std::fread(s.window.data(), 1, s.window.size(), s.input);
  return static_cast<long>(s.windowLength) > at - from;
}

// Copies up to `n` bytes of the input from the reading position on and
// moves the position past them; the count copied (less at the end of the
// file).
std::size_t readInput(char* into, std::size_t n) {
  IgesReaderState& s = igesReader();
  std::size_t got = 0;
  while (got < n) {
    const long at = s.position;
    if (at < s.windowStart || at - s.windowStart >= static_cast<long>(s.windowLength)) {
      if (!fillWindow(at)) break;
    }
    const std::size_t offset = static_cast<std::size_t>(at - s.windowStart);
    const std::size_t k = std::min(n - got, s.windowLength - offset);
    std::memcpy(into + got, s.window.data() + offset, k);
    got += k;
    s.position += static_cast<long>(k);
  }
  return got;
}

int inputGetc() {
  char c = 0;
  return readInput(&c, 1) == 1 ? static_cast<unsigned char>(c) : EOF;
}

bool seekInput(long at) {
  if (at < 0) return false;
  igesReader().position = at;
  return true;
}

}  // namespace

int readRecord(char* record) {
  IgesReaderState& s = igesReader();
  record[80] = '\n';
  record[81] = '\0';
  if (s.input == nullptr) {
    std::memset(record, ' ', 80);
    return -1;
  }
  const long start = s.position;
  s.lastRecordStart = start;
  // The record ends after 80 characters, at a NUL (which is read with it)
  // or at the end of the file; control characters read as blanks.
  const std::size_t got = readInput(record, 80);
  const void* nul = std::memchr(record, '\0', got);
  const std::size_t n = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - record) : got;
  for (std::size_t i = 0; i < n; ++i) {
    if (isControl(static_cast<unsigned char>(record[i]))) record[i] = ' ';
  }
  // Whatever followed a NUL is read again as the next record.
  if (nul != nullptr) seekInput(start + static_cast<long>(n) + 1);
  if (n < 80) {
    // The blanks read as a record's rest beyond the end of the file.
    std::memset(record + n, ' ', 80 - n);
    if (got == 0) return -1;
    record[n] = '\0';
    return static_cast<int>(n);
  }
  // The separator after the record (no further than the end of the file).
  s.position = std::min(s.position + s.separatorCount, std::max(s.fileSize, s.position));
  return 81;
}

void skipLeadingControl() {
  IgesReaderState& s = igesReader();
  if (s.input == nullptr) return;
  int c;
  while ((c = inputGetc()) != EOF && isControl(c)) {
  }
  if (c != EOF) --s.position;  // the first character of the file's text
}

namespace {

// Counts the separator characters after the first record; the file
// position stands right after that record's 80 columns.
void detectSeparator() {
  IgesReaderState& s = igesReader();
  const long start = s.position;
  int count = 0;
  int c;
  while ((c = inputGetc()) != EOF && isControl(c) && c != '\0') ++count;
  if (count >= 2) {
    // Padding and separators: the next record's column 73 must hold S or G.
    while (count > 0) {
      if (!seekInput(start + count + 72)) break;
      c = inputGetc();
      if (c == 'S' || c == 'G') break;
      --count;
    }
  }
  seekInput(start);
  s.separatorCount = count;
}

}  // namespace

int readStartSection(int vdais) {
  TraceScope t("stt820");
  IgesReaderState& s = igesReader();
  char record[kIgesRecordBytes];
  s.separatorCount = 0;
  int length = readRecord(record);
  if (length < 81) {
    mfaError(t.code(), 305, Channel::kBoth);
    return 152;
  }
  detectSeparator();
  for (int i = 0; i < s.separatorCount; ++i) inputGetc();
  s.startFile = createTemporaryFile(s.startPath);
  if (s.startFile == nullptr) {
    mfaReport(t.code(), 140, Channel::kBoth, Severity::kError, {}, {},
              fileFailureText(runPaths().tempDir, errno), nullptr);
    return 21;
  }
  if (record[72] != 'S') mfaWarning(t.code(), 340, Channel::kProtocol);
  bool vdaisSeen = false;
  while (length >= 0 && record[72] == 'S') {
    if (length < 81) {
      mfaError(t.code(), 305, Channel::kBoth);
      return 152;
    }
    if (std::fwrite(record, 1, 81, s.startFile) != 81) {
      reportTemporaryWriteFailure(t.code(), s.startPath, errno);
      return 21;
    }
    if (vdais != 0 && !vdaisSeen && std::strncmp(record, "VDAIS", 5) == 0) {
      vdaisSeen = true;
      std::uint32_t& mode = runState().runMode;
      if (std::strstr(record, "G1  ") != nullptr) {
        mode |= RunModeBit::kG1;
      } else if (std::strstr(record, "G1B1") != nullptr) {
        mode |= RunModeBit::kG1 | RunModeBit::kB1;
      } else if (std::strstr(record, "PLUS") != nullptr) {
        mode |= RunModeBit::kPlus;
      } else {
        mfaError(t.code(), 342, Channel::kBoth);
        return 153;
      }
    }
    length = readRecord(record);
  }
  if (vdais != 0 && !vdaisSeen) {
    mfaError(t.code(), 341, Channel::kBoth);
    return 154;
  }
  if (length < 0 || record[72] != 'G') {
    mfaError(t.code(), 310, Channel::kBoth);
    return 16;
  }
  // The global section starts with this record.
  seekInput(s.lastRecordStart);
  return 0;
}

namespace {

// A global parameter as read; which member holds it follows the
// parameter's kind.
struct GlobalValue {
  std::string text;
  int integer = 0;
  double real = 0.0;
  bool empty = false;
};

// Reads global parameters one after the other, each with the parser of its
// kind, and applies the section's failure rules; `result` is the value
// readGlobalSection returns.
struct GlobalCursor {
  const char* p;
  unsigned flags = 0;
  bool ended = false;  // the record delimiter ended the section
  int result = 0;
  bool done = false;   // stop reading (result decided)

  // Before parameter n: decides whether it can be read.
  bool begin(int n) {
    if (done) return false;
    if (p == nullptr || ended || *p == '\0') {
      if (n < IgesGlobalIndex::kFirstOptional) result = -(n + 1);
      done = true;
      return false;
    }
    flags = 0;
    return true;
  }
  // After parameter n: the parser's position.
  void end(int n, const char* next) {
    const bool optional = n >= IgesGlobalIndex::kFirstOptional;
    if (next == nullptr) {
      if (n <= IgesGlobalIndex::kUnitsName || (optional && !(flags & IgesFlag::kEmpty))) {
        result = -(n + 1);
        done = true;
      }
      p = nullptr;
      return;
    }
    if ((flags & IgesFlag::kInvalid) && optional) {
      result = -(n + 1);
      done = true;
    }
    if (optional && (flags & IgesFlag::kEmpty)) done = true;
    if (flags & IgesFlag::kRecordEnd) ended = true;
    p = next;
  }
  // Parameter n into `v`; false when it is not there or not readable.
  bool read(int n, GlobalValue& v) {
    if (!begin(n)) return false;
    v = GlobalValue{};
    switch (igesGlobalKind(n)) {
      case IgesGlobalKind::kString: end(n, parseString(p, flags, v.text)); break;
      case IgesGlobalKind::kInteger: end(n, parseInteger(p, flags, v.integer)); break;
      case IgesGlobalKind::kReal: end(n, parseRealRaw(p, flags, v.real)); break;
      case IgesGlobalKind::kDelimiter: return false;
    }
    v.empty = (flags & IgesFlag::kEmpty) != 0;
    return !(done && result != 0);
  }
};

int parseGlobalText(const std::string& text) {
  TraceScope t("stt831");
  namespace G = IgesGlobalIndex;
  IgesGlobal& g = igesReader().global;
  g = IgesGlobal{};
  igesDelimiters() = IgesDelimiters{};
  const char* p = text.c_str();
  // The parameter delimiter.
  const char* next = checkDelimiterSpec(p);
  if (next == nullptr) return -(G::kParameterDelimiter + 1);
  g.paramDelimiter = igesDelimiters().param;
  // The record delimiter; "1H" + delimiter + separator.
  p = next;
  if (*p == '\0') return -(G::kRecordDelimiter + 1);
  if (*p == g.paramDelimiter) {
    g.recordDelimiter = ';';
    ++p;
  } else {
    if (p[0] != '1' || p[1] != 'H' || p[2] == '\0') return -(G::kRecordDelimiter + 1);
    g.recordDelimiter = p[2];
    p += p[3] == '\0' ? 3 : 4;
  }
  igesDelimiters().record = g.recordDelimiter;

  GlobalCursor c{p};
  GlobalValue v;
  auto readText = [&](int n, char* target, std::size_t size) {
    if (c.read(n, v)) copyField(target, size, v.text);
  };
  auto readInteger = [&](int n, std::int32_t& target) {
    if (c.read(n, v)) target = v.integer;
  };
  readText(G::kSenderProductId, g.senderProductId, sizeof g.senderProductId);
  readText(G::kFileName, g.fileName, sizeof g.fileName);
  readText(G::kNativeSystemId, g.nativeSystemId, sizeof g.nativeSystemId);
  readText(G::kPreprocessorVersion, g.preprocessorVersion, sizeof g.preprocessorVersion);
  readInteger(G::kIntegerBits, g.integerBits);
  readInteger(G::kSingleMaxPower, g.singleMaxPower);
  readInteger(G::kSingleDigits, g.singleDigits);
  readInteger(G::kDoubleMaxPower, g.doubleMaxPower);
  readInteger(G::kDoubleDigits, g.doubleDigits);
  readText(G::kReceiverProductId, g.receiverProductId, sizeof g.receiverProductId);
  if (c.read(G::kModelScale, v)) g.modelScale = v.real == 0.0 ? 1.0 : v.real;
  readInteger(G::kUnitsFlag, g.unitsFlag);
  if (c.read(G::kUnitsName, v)) {
    if (v.text.size() > 5) v.text.resize(6);
    copyField(g.unitsName, sizeof g.unitsName, v.text);
  }
  if (c.read(G::kLineWeightGradations, v))
    g.lineWeightGradations = v.integer == 0 ? 8 : v.integer;
  if (c.read(G::kMaxLineWidth, v)) g.maxLineWidth = v.empty ? 1.0f : static_cast<float>(v.real);
  readText(G::kCreationDate, g.creationDate, sizeof g.creationDate);
  if (c.read(G::kMinResolution, v))
    g.minResolution = (v.empty || v.real < kMinimumResolution) ? kMinimumResolution : v.real;
  if (c.read(G::kMaxCoordinate, v)) g.maxCoordinate = v.real;
  readText(G::kAuthorName, g.authorName, sizeof g.authorName);
  c.read(G::kAuthorOrganisation, v);
  readInteger(G::kVersionFlag, g.versionFlag);
  readInteger(G::kDraftingStandard, g.draftingStandard);
  return c.result;
}

}  // namespace

int readGlobalSection() {
  TraceScope t("stt830");
  IgesReaderState& s = igesReader();
  if (s.startFile != nullptr) {
    std::fclose(s.startFile);
    s.startFile = nullptr;
    removeScratchFile(s.startPath);
    s.startPath.clear();
  }
  char record[kIgesRecordBytes];
  std::string text;
  int length;
  int count = 0;
  while ((length = readRecord(record)) >= 0 && record[72] == 'G') {
    if (length < 81) return -1;
    text.append(record, 72);
    ++count;
  }
  if (length >= 0) seekInput(s.lastRecordStart);
  if (count == 0) return -1;
  return parseGlobalText(text);
}

int recogniseSender() {
  TraceScope t("stt840");
  IgesReaderState& s = igesReader();
  int& code = runState().senderCode;
  if (code != 99) return code;
  const IgesGlobal& g = s.global;
  for (const SenderRow& row : kSenders) {
    if (std::strncmp(g.nativeSystemId, row.prefix, std::strlen(row.prefix)) == 0) {
      code = row.code;
      s.senderName = g.nativeSystemId;
      break;
    }
  }
  if (code == 99 && std::strncmp(g.senderProductId, kSenderByProduct.prefix,
                                 std::strlen(kSenderByProduct.prefix)) == 0) {
    code = kSenderByProduct.code;
    s.senderName = g.senderProductId;
  }
  if (code != 99) {
    mfaSetCurrentName(s.senderName);
    mfaNote("start", 126, Channel::kConsoleOnly);
  }
  return code;
}

int checkTerminate() {
  TraceScope t("hvd950");
  IgesReaderState& s = igesReader();
  if (s.input == nullptr) return -1;
  const long here = s.position;
  int result = -1;
  for (long back = 80; back <= 199 && back <= s.fileSize; ++back) {
    char record[81];
    if (!seekInput(s.fileSize - back)) break;
    if (readInput(record, 80) != 80) continue;
    record[80] = '\0';
    if (record[0] != 'S' || record[8] != 'G' || record[16] != 'D' || record[24] != 'P' ||
        record[72] != 'T')
      continue;
    long v[5] = {};
    // The T count stands after blanks, which the pattern's literal 'T' does
    // not skip: it is read from column 74 on.
    if (std::sscanf(record, "S%ldG%ldD%ldP%ld", &v[0], &v[1], &v[2], &v[3]) != 4) break;
    if (std::sscanf(record + 72, "T%ld", &v[4]) != 1) v[4] = 0;
    // Counts that the file's size cannot hold are refused.
    const long most = s.fileSize / 80;
    bool sane = true;
    for (long x : v)
      if (x < 0 || x > most) sane = false;
    if (!sane) break;
    s.counts.startCount = static_cast<std::int32_t>(v[0]);
    s.counts.globalCount = static_cast<std::int32_t>(v[1]);
    s.counts.directoryCount = static_cast<std::int32_t>(v[2]);
    s.counts.parameterCount = static_cast<std::int32_t>(v[3]);
    s.counts.terminateCount = static_cast<std::int32_t>(v[4]);
    // Up to three bytes of separator or padding after the record are usual.
    if (back > 83) mfaWarning(t.code(), 350, Channel::kProtocol);
    result = 0;
    break;
  }
  seekInput(here);
  return result;
}

int readDirectoryFirst(const char* record) {
  TraceScope t("ldv954");
  IgesReaderState& s = igesReader();
  const std::int32_t index = newIndex();
  if (index <= 0) {
    return mfaNoMemory(t.code());
  }
  ElementRecord& e = element(index);
  e.state = ElementState::kWaiting;
  DirectoryFields& de = e.de;
  de = DirectoryFields{};
  DirectoryExtra& extra = directoryExtra(index);
  extra = DirectoryExtra{};
  std::int32_t v = 0;
  if (directoryField(record, kDirEntityType, v)) de.entityType = v;
  e.type = de.entityType;
  if (directoryField(record, kDirParameterData, v)) de.paramPointer = v;
  if (de.paramPointer < 0 || de.paramPointer > s.counts.parameterCount) {
    de.paramPointer = 0;
    de.entityType = 0;
  }
  if (directoryField(record, kDirStructure, v)) de.structure = v;
  if (directoryField(record, kDirLineFont, v)) de.lineFont = v;
  if (e.type != IgesType::kTransformationMatrix && directoryField(record, kDirLevel, v)) de.level = v;
  if (directoryField(record, kDirView, v) && v >= 0 && v <= s.counts.directoryCount) extra.view = v;
  if (directoryField(record, kDirMatrix, v) && v >= 0 && v <= s.counts.directoryCount)
    de.matrixPointer = v;
  if (directoryField(record, kDirLabelDisplay, v)) extra.labelAssoc = v;
  std::memcpy(de.status, record + igesDirectoryOffset(kDirStatus), 8);
  de.status[8] = '\0';
  if (sequenceField(record, 'D', kIgesDirectory[kDirSequence].column, v)) de.sequence = v;
  // The second digit of the subordinate switch: 1 or 3, the entity depends
  // on a parent.
  const char subordinate = record[igesDirectoryOffset(kDirStatus) + 3];
  e.dependency = (subordinate == '1' || subordinate == '3') ? 'p' : 'n';
  return 0;
}

int readDirectorySecond(const char* record) {
  TraceScope t("ldv958");
  IgesReaderState& s = igesReader();
  ElementTable& table = elementTable();
  if (table.lastIndex <= 0) return -1;
  ElementRecord& e = element(table.lastIndex);
  DirectoryFields& de = e.de;
  DirectoryExtra& extra = directoryExtra(table.lastIndex);
  std::int32_t v = 0;
  extra.entityType2 = directoryField(record, kDirEntityType2, v) ? v : de.entityType;
  const IgesGlobal& g = s.global;
  if (directoryField(record, kDirLineWeight, v)) {
    de.lineWeight = v;
  } else if (g.maxLineWidth > 0.0f) {
    de.lineWeight =
        static_cast<std::int32_t>(g.lineWeightGradations / g.maxLineWidth * 0.25);
  }
  de.colour = directoryField(record, kDirColour, v) ? v : kIgesDirectory[kDirColour].defaultValue;
  if (directoryField(record, kDirParameterLines, v) && v >= 1 &&
      static_cast<long>(de.paramPointer) + v - 1 <= s.counts.parameterCount) {
    de.paramLineCount = v;
  } else {
    de.paramLineCount = 0;
    de.entityType = 0;
  }
  if (directoryField(record, kDirForm, v)) de.form = v;
  e.form = de.form;
  // The label: the first word of its eight columns ("%8s"; the record holds
  // no control characters, so blanks are the only white space).
  const char* label = record + igesDirectoryOffset(kDirLabel);
  const char* const labelEnd = label + 8;
  while (label < labelEnd && *label == ' ') ++label;
  std::size_t n = 0;
  while (n < sizeof de.label - 1 && label < labelEnd && *label != ' ' && *label != '\0') de.label[n++] = *label++;
  de.label[n] = '\0';
  if (directoryField(record, kDirSubscript, v)) extra.subscript = v;
  if (sequenceField(record, 'D', kIgesDirectory[kDirSequence2].column, v)) extra.sequence2 = v;
  return 0;
}

namespace {

void noteParameterRecord(long start) {
  IgesReaderState& s = igesReader();
  if (s.paramRecords == 0) {
    s.paramFirst = start;
  } else if (s.paramStarts.empty()) {
    if (s.paramRecords == 1) {
      s.paramStride = start - s.paramFirst;
    } else if (start != s.paramFirst + s.paramRecords * s.paramStride) {
      s.paramStarts.reserve(static_cast<std::size_t>(s.paramRecords) + 1);
      for (long k = 0; k < s.paramRecords; ++k) s.paramStarts.push_back(s.paramFirst + k * s.paramStride);
    }
  }
  if (!s.paramStarts.empty()) s.paramStarts.push_back(start);
  ++s.paramRecords;
}

// Where P record n (from 1) starts in the input file.
long parameterRecordStart(long n) {
  const IgesReaderState& s = igesReader();
  if (!s.paramStarts.empty()) return s.paramStarts[static_cast<std::size_t>(n - 1)];
  return s.paramFirst + (n - 1) * s.paramStride;
}

}  // namespace

namespace {

// The section letter (column 73) of the next record when the reader's
// window holds the whole record and it has no NUL, and the reading position
// then moves past it as readRecord would; '\0' (nothing read) otherwise.
// The P section needs no more of its records while it is read.
char takeWholeRecordLetter() {
  IgesReaderState& s = igesReader();
  const long at = s.position;
  if (s.input == nullptr || at < s.windowStart || at + 80 > s.windowStart + static_cast<long>(s.windowLength))
    return '\0';
  const char* const p = s.window.data() + (at - s.windowStart);
  if (std::memchr(p, '\0', 80) != nullptr) return '\0';
  const char c = p[72];
  s.lastRecordStart = at;
  s.position = std::min(at + 80 + s.separatorCount, std::max(s.fileSize, at + 80));
  return isControl(static_cast<unsigned char>(c)) ? ' ' : c;
}

}  // namespace

int readSection(char letter) {
  TraceScope t("stt950");
  IgesReaderState& s = igesReader();
  char record[kIgesRecordBytes];
  int n = 0;
  for (;;) {
    char found = letter == 'P' ? takeWholeRecordLetter() : '\0';
    if (found == '\0') {
      const int length = readRecord(record);
      if (length < 0) return -1;
      found = length > 72 ? record[72] : '\0';
    }
    if (found != letter) {
      if (found == 'D' || found == 'P' || found == 'T') {
        seekInput(s.lastRecordStart);
        // An entry without its second record has no parameter line count.
        if (letter == 'D' && n % 2 == 1) element(elementTable().lastIndex).de.entityType = 0;
        return 0;
      }
      if (letter == 'D') {
        mfaWarning(t.code(), 908, Channel::kProtocol);
        mfaError(t.code(), 321, Channel::kProtocol);
      } else {
        mfaWarning(t.code(), 909, Channel::kProtocol);
        mfaError(t.code(), 322, Channel::kProtocol);
      }
      return -2;
    }
    ++n;
    if (letter == 'D') {
      if (n > s.counts.directoryCount) return -3;
      ++s.directoryRecords;
      if (n % 2 == 1) {
        if (readDirectoryFirst(record) != 0) return -2;
        const std::int32_t type = element(elementTable().lastIndex).type;
        if (type == IgesType::kSubfigureDefinition) ++s.subfigureCount;
        if (type == IgesType::kTransformationMatrix) ++s.matrixCount;
      } else if (readDirectorySecond(record) != 0) {
        return -2;
      }
    } else {
      noteParameterRecord(s.lastRecordStart);
    }
  }
}

int fetchParameterData(std::int32_t type, std::int32_t pointer, std::int32_t lineCount,
                       std::string& text) {
  TraceScope t("hvd800");
  IgesReaderState& s = igesReader();
  text.clear();
  if (lineCount < 1) {
    mfaError(t.code(), 740, Channel::kProtocol);
    return -1;
  }
  if (s.input == nullptr || pointer < 1 || pointer > s.paramRecords) {
    mfaError("hvd800-1", 160, Channel::kProtocol);
    return -1;
  }
  const char recordDelimiter = igesDelimiters().record;
  char record[kIgesRecordBytes];
  bool haveDelimiter = false;
  char owner[9] = {};  // columns 65..72 of the first record: the entity's DE number
  for (long n = 0; pointer + n <= s.paramRecords; ++n) {
    if (n >= lineCount && haveDelimiter) break;
    // The record is read again as the P pass read it.  A stream positioned
    // inside its buffer stays there, so the records of one entity after the
    // other cost no more than reading the section once.
    if (!seekInput(parameterRecordStart(pointer + n))) {
      mfaError(n == 0 ? "hvd800-1" : "hvd800-2", 160, Channel::kProtocol);
      return -1;
    }
    if (readRecord(record) < 0) {
      mfaError("hvd800-2", 160, Channel::kProtocol);
      return -1;
    }
    if (n == 0) std::memcpy(owner, record + 64, 8);
    // Once the data is complete, a record of another entity ends it even
    // when the line count promises more (a count that overstates would
    // otherwise read the rest of the file for every entity).
    if (haveDelimiter && std::memcmp(owner, record + 64, 8) != 0) break;
    if (n >= lineCount) {
      // Records beyond the count are searched for the missing delimiter only
      // while they belong to the same entity; so a file without delimiters
      // costs each entity its own records, not the rest of the file.
      if (std::memcmp(owner, record + 64, 8) != 0) break;
      mfaWarning(t.code(), 930, Channel::kProtocol);
    }
    const char* from = record;
    if (n == 0) {
      unsigned flags = 0;
      int found = 0;
      record[64] = '\0';
      from = parseInteger(record, flags, found);
      if (from == nullptr || found != type) {
        mfaError(t.code(), 900, Channel::kProtocol);
        return -1;
      }
    }
    const std::size_t length = static_cast<std::size_t>(record + 64 - from);
    if (std::memchr(from, recordDelimiter, length) != nullptr) haveDelimiter = true;
    text.append(from, length);
  }
  return 0;
}

int readIgesInput() {
  TraceScope t("stt200");
  IgesReaderState& s = igesReader();
  resetTable();
  if (checkTerminate() != 0) {
    mfaError(t.code(), 350, Channel::kBoth);
    return -9;
  }
  // The table is sized from the terminate record, but never beyond what the
  // file can hold (two 80-column records per element): a terminate record
  // that overstates its count does not make the run allocate for it.  A file
  // with more entries than that still reads, the table grows.
  const long directoryRecords =
      std::min<long>(std::max<std::int32_t>(s.counts.directoryCount, 0), s.fileSize / 80 + 2);
  // The tables the run keeps until its end (the element table, the typed
  // records, the records of the conversion) take about one and a half times
  // the file: their room is asked for at once.
  reserveHeapRoom(static_cast<std::size_t>(s.fileSize) / 2 * 3);
  if (allocateTable(static_cast<std::int32_t>(directoryRecords / 2 + 1)) != 0) {
    mfaError(t.code(), 370, Channel::kBoth);
    return -6;
  }
  // Every entry has the fields of DirectoryExtra: their room at once.
  try {
    elementTable().extras.reserve(static_cast<std::size_t>(directoryRecords / 2 + 2));
  } catch (const std::bad_alloc&) {
    mfaError(t.code(), 370, Channel::kBoth);
    return -6;
  }
  int r = readSection('D');
  if (r != 0) {
    mfaError(t.code(), r == -3 ? 350 : 325, Channel::kBoth);
    return -2;
  }
  if (readSection('P') != 0) return -3;
  // The conversion reads each matrix once and keeps it with its composed
  // chain: their tables get room for every 124 of the directory at once.
  try {
    IgesConvertState& c = igesConvertState();
    c.matrices.reserve(static_cast<std::size_t>(s.matrixCount));
    c.chains.reserve(static_cast<std::size_t>(s.matrixCount));
  } catch (const std::bad_alloc&) {
    // The tables grow as the matrices come instead.
  }
  parameterPass();
  if (s.paramRecords == 0) {
    mfaError(t.code(), 330, Channel::kBoth);
    return -4;
  }
  return 0;
}

void closeIgesInput() {
  IgesReaderState& s = igesReader();
  if (s.startFile != nullptr) std::fclose(s.startFile);
  s.startFile = nullptr;
  removeScratchFile(s.startPath);
  s.startPath.clear();
}

// The run dispatcher.  One call of start() runs one conversion: it sets the
// run-mode word from the direction and the level, reads the configuration
// and the assignment tables, opens the protocol file and copies the
// configuration into it, opens and checks the input file, runs the phases of
// the direction, and ends with the statistics report, the closing message
// and the run time.
#include "driver/dispatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <ctime>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/output_target.h"
#include "driver/statistics.h"
#include "driver/toolkit_output.h"
#include "dwg/dwg_in.h"
#include "dwg/out_para.h"
#include "dxf_in/dxf_reader.h"
#include "elements/element_table.h"
#include "elements/recording_steps.h"
#include "iges_in/iges_convert.h"
#include "iges_in/iges_reader.h"
#include "iges_in/iges_structure.h"
#include "iges_out/dxf_writer.h"
#include "iges_out/iges_writer.h"
#include "iges_out/section_files.h"
#include "script/script_writer.h"
#include "script/structure.h"
#include "support/ascii.h"
#include "support/assign_tables.h"
#include "support/builtin_texts.h"
#include "support/config.h"
#include "support/heap_room.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/output_file.h"
#include "support/progress_line.h"
#include "support/run_state.h"
#include "support/timer.h"
#include "support/trace.h"
#include "transfer/edx_table.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

namespace {

// ---------------------------------------------------------------------------
// Tables

// Direction codes and the run-mode bits they set; the level bits come on
// top.  An own-DXF output run (no toolkit) has its own bits.
struct DirectionBits {
  const char* phase;
  std::uint32_t bits;
  std::uint32_t bitsWithoutToolkit;
};

constexpr DirectionBits kDirectionBits[] = {
    {"IPST", 0x0001, 0x0001}, {"IGESI", 0x0001, 0x0001}, {"IPRE", 0x0002, 0x0002},
    {"IGESO", 0x0002, 0x0002}, {"DXFI", 0x4011, 0x4011}, {"DXFO", 0x4012, 0x400E},
    {"DWGI", 0x8001, 0x8001}, {"DWGO", 0x8012, 0x8012},
};

// Names that a trap report gives for the phase it happened in, when no
// function code is known.
constexpr const char* kTrapPhaseNames[] = {"(no run)", "start"};
constexpr int kTrapPhaseRun = 1;

// Message numbers of the dispatcher.
constexpr int kMsgTimingStart = 3;
constexpr int kMsgTimingEnd = 4;
constexpr int kMsgTimingElapsed = 5;
constexpr int kMsgTimingSecond = 6;
constexpr int kMsgTitleOutput = 7;
constexpr int kMsgTitleInput = 8;
constexpr int kMsgErrorHeader = 90;
constexpr int kMsgBeforeCode = 93;
constexpr int kMsgNoProtocol = 120;
constexpr int kMsgProtocolFile = 121;
constexpr int kMsgConfigFile = 122;
constexpr int kMsgInputFile = 123;
constexpr int kMsgAssignDir = 124;
constexpr int kMsgConfigCopyTitle = 125;
constexpr int kMsgStartGlobal = 340;
constexpr int kMsgDirectorySetup = 310;
constexpr int kMsgNoMemory = 370;
constexpr int kMsgConversionFailed = 360;
constexpr int kMsgCannotWriteScript = 1030;
constexpr int kMsgNoElements = 977;
constexpr int kMsgProgressTitle = 1104;
constexpr int kMsgUnknownDirection = 920;
constexpr int kMsgTrap = 935;
constexpr int kMsgEmptyIges = 970;
constexpr int kMsgEmptyDxf = 971;
constexpr int kMsgNoDxfHeader = 972;
constexpr int kMsgBinaryDxf = 981;
constexpr int kMsgCannotOpen = 980;
constexpr int kMsgClosing = 999;
constexpr int kMsgElementLoop = 320;
constexpr int kMsgOutputPreparation = 355;
constexpr int kMsgCannotWrite = 1300;
constexpr int kMsgSameFile = 1302;
constexpr int kMsgStopped = 1303;
constexpr int kMsgFirstPhaseName = 1304;
constexpr int kMsgProgressOfAll = 1330;
constexpr int kMsgProgressCount = 1331;

// A run that lasts longer than this shows its progress line on a terminal.
constexpr double kProgressDelaySeconds = 1.0;

// The phases of a run, as a stopped run names them in its protocol (the
// names are messages 1304 to 1308).
enum RunPhase : int {
  kPhasePreparation = 0,
  kPhaseReading = 1,
  kPhaseConversion = 2,
  kPhaseWriting = 3,
  kPhaseEnd = 4,
  kPhaseCount = 5
};
// The signals that stop a run: their handler removes the run's scratch
// and partial files, keeps the previous outputs and puts the protocol
// under its name.
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
constexpr int kStopSignalCount = 2;

constexpr std::size_t kTrapTextCapacity = 1024;
constexpr std::size_t kTrapStackSize = 64 * 1024;

// ---------------------------------------------------------------------------
// State of the dispatcher for one run.

struct DispatcherState {
  OutputFile protocolFile;
  std::FILE* protocol = nullptr;
  std::FILE* input = nullptr;
  std::string inputName;

  // Trap handling.  The report texts are built before a trap can happen, so
  // that the handler only copies bytes and writes them.
  struct sigaction previousSegv {};
  struct sigaction previousFpe {};
  stack_t previousStack{};
  bool trapsInstalled = false;
  bool stackInstalled = false;
  int trapPhase = 0;
  volatile sig_atomic_t protocolFd = -1;
  bool trapReportShown = true;
  long utcOffsetSeconds = 0;
  char trapHead[kTrapTextCapacity] = {};  // "\n<90> (935) <93> SYST_TRAP, "
  char trapTextBefore[kTrapTextCapacity] = {};  // message text before the argument
  char trapTextAfter[kTrapTextCapacity] = {};   // and after it
  alignas(16) char trapStack[kTrapStackSize];

  // Stopping signals.  The line a stopped run writes is built before, per
  // signal and phase.
  struct sigaction previousStop[kStopSignalCount] {};
  bool stopInstalled = false;
  volatile sig_atomic_t runPhase = kPhasePreparation;
  char stopText[kStopSignalCount][kPhaseCount][kTrapTextCapacity] = {};
};

DispatcherState& dispatcherState() {
  static DispatcherState state;
  return state;
}

// ---------------------------------------------------------------------------
// Traps.  The handlers only use async-signal-safe calls: they copy the
// prepared texts, format the time by hand and write with write(2).

struct TrapText {
  char bytes[3 * kTrapTextCapacity];
  std::size_t length = 0;
  void add(const char* text) {
    for (; *text != '\0' && length < sizeof bytes; ++text) bytes[length++] = *text;
  }
  void addNumber(long value, int width) {
    char digits[24];
    int n = 0;
    if (value < 0) value = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 && n < 20);
    while (n < width) digits[n++] = '0';
    while (n > 0 && length < sizeof bytes) bytes[length++] = digits[--n];
  }
};

// "dd.mm.yyyy hh:mm:ss" of the local time, from the offset to UTC taken when
// the traps were armed.
void addLocalTime(TrapText& out, long utcOffset) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  long long seconds = static_cast<long long>(now.tv_sec) + utcOffset;
  long long days = seconds / 86400;
  long daySeconds = static_cast<long>(seconds % 86400);
  if (daySeconds < 0) {
    daySeconds += 86400;
    --days;
  }
  // Civil date of a day count since 1970-01-01.
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = static_cast<long>(days - era * 146097);
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long monthIndex = (5 * dayOfYear + 2) / 153;
  const long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long year = static_cast<long>(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
  out.addNumber(day, 2);
  out.add(".");
  out.addNumber(month, 2);
  out.add(".");
  out.addNumber(year, 1);
  out.add(" ");
  out.addNumber(daySeconds / 3600, 2);
  out.add(":");
  out.addNumber(daySeconds / 60 % 60, 2);
  out.add(":");
  out.addNumber(daySeconds % 60, 2);
}

void writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written <= 0) return;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
}

// Error 935 of "SYST_TRAP" to protocol and console.
void reportTrap(const char* what) {
  DispatcherState& s = dispatcherState();
  if (!s.trapReportShown) return;
  const char* where = trcCurrentCode();
  if (where[0] == '\0') where = kTrapPhaseNames[s.trapPhase];
  TrapText text;
  text.add(s.trapHead);
  addLocalTime(text, s.utcOffsetSeconds);
  text.add("\n");
  text.add(s.trapTextBefore);
  text.add(what);
  text.add(" ");
  text.add(where);
  text.add(s.trapTextAfter);
  text.add("\n");
  const int protocolFd = s.protocolFd;
  if (protocolFd >= 0) writeAll(protocolFd, text.bytes, text.length);
  writeAll(STDERR_FILENO, text.bytes, text.length);
}

void onSegmentationFault(int signalNumber) {
  reportTrap("SEGMENTATION VIOLATION");
  settleRunFiles();
  // The failed operation cannot go on: the process ends here.
  _exit(kTrapStatusBase + signalNumber);
}

void onArithmeticTrap(int signalNumber, siginfo_t* info, void*) {
  reportTrap("ARITHMETIC TRAP EXEPTION");
  // A trap raised by the processor would repeat at once when the handler
  // returns; only a signal sent from outside lets the run go on.  The
  // handler stays installed for the next one.
  if (info == nullptr || info->si_code > 0) {
    settleRunFiles();
    _exit(kTrapStatusBase + signalNumber);
  }
}

// SIGINT and SIGTERM: the protocol gets the line that names the signal and
// the phase, every scratch and partial file of the run is removed, the
// previous outputs stay, and the process ends with 128 + the signal.
void onStop(int signalNumber) {
  DispatcherState& s = dispatcherState();
  int which = 0;
  while (which < kStopSignalCount - 1 && kStopSignals[which] != signalNumber) ++which;
  int phase = s.runPhase;
  if (phase < 0 || phase >= kPhaseCount) phase = kPhaseEnd;
  const char* text = s.stopText[which][phase];
  const std::size_t length = std::strlen(text);
  const int protocolFd = s.protocolFd;
  if (protocolFd >= 0) writeAll(protocolFd, text, length);
  // A progress line on the terminal makes room for the report.
  if (progressLine().shown) writeAll(STDERR_FILENO, "\r\033[K", 4);
  writeAll(STDERR_FILENO, text, length);
  settleRunFiles();
  _exit(kTrapStatusBase + signalNumber);
}

// The lines of a stopped run, from the message texts loaded so far.
void armStopReport() {
  DispatcherState& s = dispatcherState();
  for (int k = 0; k < kStopSignalCount; ++k) {
    for (int phase = 0; phase < kPhaseCount; ++phase) {
      std::string name = mfaTextOf(kMsgFirstPhaseName + phase);
      char line[kTrapTextCapacity - 8];
      const std::string format = mfaTextOf(kMsgStopped);
      if (format.empty()) {
        std::snprintf(line, sizeof line, "signal %d (%d)", kStopSignals[k], phase);
      } else {
        mfaFormat(format, {kStopSignals[k]}, name, line, sizeof line);
      }
      std::snprintf(s.stopText[k][phase], sizeof s.stopText[k][phase], "\n%s\n", line);
    }
  }
}

void installStopHandlers() {
  DispatcherState& s = dispatcherState();
  armStopReport();
  struct sigaction stop {};
  stop.sa_handler = onStop;
  sigemptyset(&stop.sa_mask);
  for (const int signalNumber : kStopSignals) sigaddset(&stop.sa_mask, signalNumber);
  stop.sa_flags = SA_ONSTACK;
  for (int k = 0; k < kStopSignalCount; ++k) sigaction(kStopSignals[k], &stop, &s.previousStop[k]);
  s.stopInstalled = true;
}

void restoreStopHandlers() {
  DispatcherState& s = dispatcherState();
  if (!s.stopInstalled) return;
  for (int k = 0; k < kStopSignalCount; ++k) sigaction(kStopSignals[k], &s.previousStop[k], nullptr);
  s.stopInstalled = false;
}

void setPhase(RunPhase phase) {
  dispatcherState().runPhase = phase;
  progressLineLook();
}

// The progress line of the run: the phase, the elements done of all and
// the percentage.  While an input is read its elements are counted as they
// come; of all of them only an IGES file tells in advance (its directory
// sizes the table).  The conversion counts the elements done of the
// table's elements, each once per view of a drawing.
std::string describeProgress() {
  const int phase = dispatcherState().runPhase;
  const std::string name = mfaTextOf(kMsgFirstPhaseName + phase);
  const ElementTable& table = elementTable();
  long done = 0;
  long all = 0;
  if (phase == kPhaseReading) {
    done = table.lastIndex;
    const bool igesInput = runHas(RunModeBit::kInput) && runIsIges() && runState().useToolkit == 0;
    if (igesInput && table.capacity > 1) all = std::max<long>(table.capacity - 1, done);
  } else if (phase == kPhaseConversion || phase == kPhaseWriting) {
    done = table.processedCount;
    all = static_cast<long>(table.lastIndex) * std::max<std::int32_t>(table.progressScale, 1);
    done = std::min(done, all);
  } else {
    return name;
  }
  char text[kTrapTextCapacity];
  if (all > 0) {
    mfaFormat(mfaTextOf(kMsgProgressOfAll), {done, all, done * 100 / all}, name, text, sizeof text);
  } else {
    mfaFormat(mfaTextOf(kMsgProgressCount), {done}, name, text, sizeof text);
  }
  return text;
}

// Builds the texts of the trap report from the message texts loaded so far.
void armTrapReport() {
  TraceScope t("stt910");
  DispatcherState& s = dispatcherState();
  const std::string head = std::string("\n").append(mfaTextOf(kMsgErrorHeader)) + " (" +
                           std::to_string(kMsgTrap) + ") " + mfaTextOf(kMsgBeforeCode) +
                           " SYST_TRAP, ";
  std::snprintf(s.trapHead, sizeof s.trapHead, "%s", head.c_str());
  // The text argument is marked and split off, so the handler can put the
  // trap's own text in its place.
  char expanded[kTrapTextCapacity];
  mfaFormat(mfaTextOf(kMsgTrap), {}, "\x01", expanded, sizeof expanded);
  const char* mark = std::strchr(expanded, '\x01');
  if (mark == nullptr) {
    std::snprintf(s.trapTextBefore, sizeof s.trapTextBefore, "%s", expanded);
    s.trapTextAfter[0] = '\0';
  } else {
    std::snprintf(s.trapTextBefore, sizeof s.trapTextBefore, "%.*s",
                  static_cast<int>(mark - expanded), expanded);
    std::snprintf(s.trapTextAfter, sizeof s.trapTextAfter, "%s", mark + 1);
  }
  s.trapReportShown = mfaMessageLevel() >= 1;
  armStopReport();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  s.utcOffsetSeconds = local.tm_gmtoff;
}

void installTraps() {
  TraceScope t("stt900");
  DispatcherState& s = dispatcherState();
  stack_t stack{};
  stack.ss_sp = s.trapStack;
  stack.ss_size = sizeof s.trapStack;
  s.stackInstalled = sigaltstack(&stack, &s.previousStack) == 0;

  struct sigaction segv {};
  segv.sa_handler = onSegmentationFault;
  sigemptyset(&segv.sa_mask);
  segv.sa_flags = SA_ONSTACK;
  struct sigaction fpe {};
  fpe.sa_sigaction = onArithmeticTrap;
  sigemptyset(&fpe.sa_mask);
  fpe.sa_flags = SA_ONSTACK | SA_SIGINFO | SA_RESTART;
  sigaction(SIGSEGV, &segv, &s.previousSegv);
  sigaction(SIGFPE, &fpe, &s.previousFpe);
  s.trapsInstalled = true;
  s.trapPhase = kTrapPhaseRun;
  armTrapReport();
}

void restoreTraps() {
  TraceScope t("stt901");
  DispatcherState& s = dispatcherState();
  if (s.trapsInstalled) {
    sigaction(SIGSEGV, &s.previousSegv, nullptr);
    sigaction(SIGFPE, &s.previousFpe, nullptr);
    s.trapsInstalled = false;
  }
  if (s.stackInstalled) {
    sigaltstack(&s.previousStack, nullptr);
    s.stackInstalled = false;
  }
  s.trapPhase = 0;
}

// ---------------------------------------------------------------------------
// Run-mode word and level

int setDirectionBits(const std::string& phase) {
  TraceScope t("stt601");
  for (const DirectionBits& entry : kDirectionBits) {
    if (phase == entry.phase) {
      runState().runMode = runState().useToolkit ? entry.bits : entry.bitsWithoutToolkit;
      return 0;
    }
  }
  return -1;
}

// Sets the level bits of the run-mode word from the upper-cased level text.
void setLevelBits() {
  TraceScope t("stt602");
  RunState& state = runState();
  RunSettings& settings = runSettings();
  std::uint32_t& mode = state.runMode;
  if (state.level.empty()) {
    state.level = "G1B1";
    mode |= RunModeBit::kG1 | RunModeBit::kB1;
  } else if (state.level == "G1") {
    mode |= RunModeBit::kG1;
  } else if (state.level == "G1B1") {
    mode |= RunModeBit::kG1 | RunModeBit::kB1;
  } else if (state.level == "G1B2") {
    mode |= RunModeBit::kG1 | RunModeBit::kB1 | RunModeBit::kG1B2;
    settings.viewMode = 1;
  } else if (state.level == "PLUS") {
    mode |= RunModeBit::kPlus;
    if (settings.viewMode == -1) settings.viewMode = 1;
  } else if (state.level == "VDAIS") {
    state.vdaisMode = 1;
  } else if (state.level == "STAT") {
    mode |= RunModeBit::kStat;
  } else if (state.useToolkit) {
    mode |= RunModeBit::kPlus;
  } else {
    mode |= RunModeBit::kG1 | RunModeBit::kB1;
  }
}

// ---------------------------------------------------------------------------
// Protocol file

void noteWithName(int number, const std::string& name, int channel) {
  mfaSetCurrentName(name);
  mfaNote("start", number, channel);
}

bool isInputRun() { return runHas(RunModeBit::kInput); }

void writeProtocolHead(std::FILE* protocol) {
  TraceScope t("stt610");
  if (runSettings().timing) {
    std::fprintf(protocol, "%s %s\n", mfaTextOf(kMsgTimingStart).c_str(),
                 trcTimers().run.startText.c_str());
  }
  std::fprintf(protocol, "%s %s (%s)\n",
               mfaTextOf(isInputRun() ? kMsgTitleInput : kMsgTitleOutput).c_str(), kVersionText,
               buildDate().c_str());
}

// Copies the configuration file into the protocol under its title.
void copyConfiguration(std::FILE* protocol, const std::string& configFile) {
  TraceScope t("stt611");
  const std::string title = mfaTextOf(kMsgConfigCopyTitle);
  std::fprintf(protocol, "\n%s\n%s\n", title.c_str(), std::string(title.size(), '-').c_str());
  if (configFile.empty()) return;
  std::FILE* file = std::fopen(configFile.c_str(), "rb");
  if (file == nullptr) return;
  // Byte for byte, so that no line is cut; the last line gets its line end.
  char buffer[4096];
  std::size_t n;
  char last = '\n';
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    std::fwrite(buffer, 1, n, protocol);
    last = buffer[n - 1];
  }
  if (last != '\n') std::fputc('\n', protocol);
  std::fclose(file);
}

// Opens the protocol file and writes its head.
RunEnd openProtocol() {
  TraceScope t("stt612");
  DispatcherState& s = dispatcherState();
  const std::string& name = runPaths().protocolFile;
  noteWithName(kMsgProtocolFile, name, Channel::kConsole);
  // Written under a temporary name beside it and put under its name at the
  // end of the run, also when the run is stopped.
  s.protocol = nullptr;
  if (!name.empty() && s.protocolFile.create(name)) {
    s.protocolFile.keepWhenStopped();
    s.protocol = s.protocolFile.stream();
  }
  if (s.protocol == nullptr) {
    s.protocolFile.discard();
    mfaSetCurrentName(name);
    mfaError("start", kMsgNoProtocol, Channel::kConsole);
    return RunEnd::kNoProtocol;
  }
  // Line by line, so that a trap report written directly to the file
  // follows everything written before it.
  std::setvbuf(s.protocol, nullptr, _IOLBF, 0);
  s.protocolFd = s.protocolFile.descriptor();
  mfaSetProtocolFile(s.protocol);
  writeProtocolHead(s.protocol);
  return RunEnd::kDone;
}

// Puts the protocol under its name; false when it could not be written
// completely (error 1300 on the console, no protocol under its name).
bool closeProtocol() {
  DispatcherState& s = dispatcherState();
  if (s.protocol == nullptr) return true;
  s.protocolFd = -1;
  mfaSetProtocolFile(nullptr);
  s.protocol = nullptr;
  if (s.protocolFile.commit()) return true;
  mfaReport("start", kMsgCannotWrite, Channel::kConsole, Severity::kError, {}, {},
            s.protocolFile.failureText(), nullptr);
  return false;
}

void closeInput() {
  DispatcherState& s = dispatcherState();
  if (s.input != nullptr) std::fclose(s.input);
  s.input = nullptr;
}

// ---------------------------------------------------------------------------
// Input file

// The input file name: the configured input directory goes in front of a
// name without a directory part.
std::string inputFileName(const std::string& exchangeFile) {
  const std::string& dir = runPaths().inputDir;
  if (!dir.empty() && exchangeFile.find('/') == std::string::npos) return dir + exchangeFile;
  return exchangeFile;
}

// Opens the input file and checks its length.
RunEnd openInput(const std::string& exchangeFile) {
  TraceScope t("stt620");
  DispatcherState& s = dispatcherState();
  s.inputName = inputFileName(exchangeFile);
  s.input = std::fopen(s.inputName.c_str(), "rb");
  struct stat info {};
  if (s.input != nullptr && (fstat(fileno(s.input), &info) != 0 || S_ISDIR(info.st_mode))) {
    // A directory opens on this system but reads nothing.
    closeInput();
  }
  if (s.input == nullptr) {
    mfaSetCurrentName(s.inputName);
    // Console and protocol, counted once.
    mfaError("start", kMsgCannotOpen, Channel::kBoth);
    closeProtocol();
    return RunEnd::kCannotOpenInput;
  }
  if (info.st_size == 0) {
    mfaSetCurrentName(s.inputName);
    const bool dxf = runHas(RunModeBit::kDxf);
    mfaError("start", dxf ? kMsgEmptyDxf : kMsgEmptyIges, Channel::kBoth);
    closeInput();
    return dxf ? RunEnd::kEmptyDxf : RunEnd::kEmptyIges;
  }
  mfaSetCurrentFile(s.inputName);
  if (runState().useToolkit) closeInput();  // the toolkit opens the file by name
  return RunEnd::kDone;
}

// ---------------------------------------------------------------------------
// Conversion drivers

// What the script's header needs from the exchange file.
ScriptSource scriptSourceOfIges() {
  const IgesGlobal& g = igesReader().global;
  ScriptSource source;
  source.unitFlag = g.unitsFlag;
  source.unitName = g.unitsName;
  source.modelScale = g.modelScale;
  const ElementTable& table = elementTable();
  source.levels.reserve(static_cast<std::size_t>(table.lastIndex));
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) source.levels.push_back(element(i).de.level);
  igesStructureSettingsFromRun(source);
  return source;
}

// DXF input read by the program's own reader (not the toolkit).
bool ownDxfInput() { return runHas(RunModeBit::kDxf) && runState().useToolkit == 0; }

// What the script's header needs from a DXF file: its layer table (the
// level of an element is its layer's position) and the levels used.  The
// drawing units of a DXF file are taken as millimetres unless the
// configuration says otherwise.
ScriptSource scriptSourceOfDxf() {
  ScriptSource source;
  source.unitFlag = 2;
  ScriptState& script = scriptState();
  const DxfReaderState& dxf = dxfReader();
  script.layers.clear();
  script.layers.reserve(dxf.layers.entries.size());
  for (std::size_t k = 0; k < dxf.layers.entries.size(); ++k) {
    const DxfLayerEntry& l = dxf.layers.entries[k];
    ScriptLayer layer;
    layer.name = l.name;
    layer.number = static_cast<std::int32_t>(k);
    layer.off = l.off ? 1 : 0;
    layer.colour = l.colour;
    // The layer statements of the script carry the layer's colour as the
    // CAD system numbers it.
    layer.cadColour = cadColourOf(l.colour);
    script.layers.push_back(std::move(layer));
  }
  script.hasLayerTable = !script.layers.empty();
  const ElementTable& table = elementTable();
  source.levels.reserve(static_cast<std::size_t>(table.lastIndex));
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) source.levels.push_back(element(i).de.level);
  igesStructureSettingsFromRun(source);
  return source;
}

// A drawing read through the toolkit (-dxfin, -dwgin).
bool toolkitInput() { return runHas(RunModeBit::kInput) && runState().useToolkit != 0; }

// What the script's header needs from a drawing read through the toolkit:
// its layer table (the level of an element is its layer's position) with
// the names the parameter file assigns, the levels used and the model
// scale of the reader.  Drawing units are taken as millimetres, as for
// the own DXF reader.
ScriptSource scriptSourceOfToolkit() {
  ScriptSource source;
  source.unitFlag = 2;
  source.modelScale = dwgIn().modelScale();
  ScriptState& script = scriptState();
  script.layers.clear();
  script.layers.reserve(dwgIn().layerList().size());
  for (const DwgInLayer& l : dwgIn().layerList()) {
    ScriptLayer layer;
    layer.name = l.name;
    layer.number = l.number;
    layer.off = l.off ? 1 : 0;
    layer.colour = l.colour;
    layer.cadColour = cadColourOf(l.colour);
    script.layers.push_back(std::move(layer));
  }
  script.hasLayerTable = !script.layers.empty();
  const ElementTable& table = elementTable();
  source.levels.reserve(static_cast<std::size_t>(table.lastIndex));
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) source.levels.push_back(element(i).de.level);
  igesStructureSettingsFromRun(source);
  return source;
}

// The toolkit's part of the input driver: the parameter file of the DWG
// directions in its input sense, then DwgIn reads the file by name and
// fills the element table.  -8 when it read nothing (its keyed message
// says why).
int readToolkitInput() {
  TraceScope t("stt200");
  dwgReadParameters(DwgDirection::kInput);
  // The database, the element table and the script's registries of a
  // drawing take up to about 20 times its file (DWG, the densest form).
  struct stat file {};
  if (stat(dispatcherState().inputName.c_str(), &file) == 0 && file.st_size > 0)
    reserveHeapRoom(static_cast<std::size_t>(file.st_size) * 24);
  return dwgIn().ReadFile(dispatcherState().inputName) == 0 ? 0 : -8;
}

// The own DXF reader's part of the input driver: a table of 100 slots to
// begin with, then the sections TABLES, BLOCKS and ENTITIES in file order.
int readDxfInput() {
  TraceScope t("stt200");
  freeTable();
  resetTable();
  if (allocateTable(100) != 0) {
    mfaError(t.code(), kMsgNoMemory, Channel::kBoth50);
    return -6;
  }
  return readDxfSections();
}

// A statistics run with a picture asked for draws what it read: the
// element table is converted at the level that takes every kind (PLUS)
// into a script that is thrown away.  The messages of that pass are held
// back (neither protocol nor console sees them, and the run's counts are
// those of the reading), and the writer starts the run's own script
// afresh.  The elements' states are left to the caller, which counts them
// as ignored.
void drawWhatWasRead(const ScriptSource& source) {
  TraceScope t("stt205");
  const MessageCounts counts = mfaCounts();
  const int level = mfaMessageLevel();
  std::FILE* const protocol = mfaProtocolFile();
  RunSettings& settings = runSettings();
  const RunSettings kept = settings;
  const std::uint32_t mode = runState().runMode;
  mfaSetMessageLevel(-1);
  mfaSetProtocolFile(nullptr);
  settings.statisticsToConsole = 0;
  runState().runMode |= RunModeBit::kPlus;
  if (settings.viewMode == -1) settings.viewMode = 1;
  {
    std::ostringstream discarded;
    if (ScriptOpenStream(discarded, "", source) == 0) (void)convertModel();
    resetScriptState();
    resetScriptStructureState();
  }
  runState().runMode = mode;
  settings = kept;
  mfaSetProtocolFile(protocol);
  mfaSetMessageLevel(level);
  mfaResetCounts();
  for (int k = 0; k < counts.errors; ++k) mfaCount(Severity::kError);
  for (int k = 0; k < counts.warnings; ++k) mfaCount(Severity::kWarning);
  for (int k = 0; k < counts.notes; ++k) mfaCount(Severity::kNote);
}

// The input conversion: the reader of the exchange format fills the element
// table, the converters write the KPL script.  Returns 0 or a negative
// result.
int convertInput(const std::string& scriptName) {
  TraceScope t("stt200");
  const bool iges = runIsIges() && runState().useToolkit == 0;
  const bool dxf = ownDxfInput();
  const bool toolkit = toolkitInput();
  if (!iges && !dxf && !toolkit) return 0;
  const int read = iges ? readIgesInput() : dxf ? readDxfInput() : readToolkitInput();
  if (read != 0) return read;
  setPhase(kPhaseConversion);
  if (elementTable().lastIndex == 0) {
    mfaError(t.code(), kMsgNoElements, Channel::kBoth50);
    return -8;
  }
  // The header's values; the DXF and toolkit inputs also hand the writer
  // their layer tables, so the source is made anew for each script.
  const auto sourceOfInput = [&] {
    return iges ? scriptSourceOfIges() : dxf ? scriptSourceOfDxf() : scriptSourceOfToolkit();
  };
  if (runHas(RunModeBit::kStat) && conversionPicture() != nullptr) drawWhatWasRead(sourceOfInput());
  const int opened = ScriptOpen(scriptName, sourceOfInput());
  if (opened == -6) {
    mfaError(t.code(), kMsgNoMemory, Channel::kBoth50);
    (void)ScriptClose();  // the run fails for the memory; nothing is put under the script's name
    return opened;
  }
  if (opened == -7) {
    // The script's name and the system's reason.
    mfaReport(t.code(), kMsgCannotWriteScript, Channel::kBoth50, Severity::kError, {}, {},
              ScriptFileFailure(), nullptr);
    return opened;
  }
  elementTable().progressDisplay = [](int percent) { ScriptProgress(percent); };
  progressLineHide();
  std::printf("%s %s\n", mfaTextOf(kMsgProgressTitle).c_str(), scriptName.c_str());
  std::fflush(stdout);
  int result = 0;
  if (runHas(RunModeBit::kStat)) {
    // Only the statistics: every element is read and none converted.
    const std::int32_t last = elementTable().lastIndex;
    for (std::int32_t i = 1; i <= last; ++i) setState(i, ElementState::kIgnored);
  } else if (convertModel() != 0) {
    mfaError(t.code(), kMsgConversionFailed, Channel::kProtocol22);
    result = -5;
  }
  setPhase(kPhaseWriting);
  if (ScriptClose() != 0) {
    // A write, flush or close of the script failed: nothing is put under
    // its name.
    mfaReport("ses820", kMsgCannotWrite, Channel::kBoth50, Severity::kError, {}, {},
              ScriptFileFailure(), nullptr);
    result = -7;
  }
  elementTable().progressDisplay = nullptr;
  return result;
}

// The frame of an IGES file: start and global sections, then the sending
// system.
RunEnd readIgesFrame() {
  TraceScope t("stt625");
  DispatcherState& s = dispatcherState();
  resetIgesReader();
  if (igesReaderAttach(s.input) != 0) {
    mfaError("start", kMsgStartGlobal, Channel::kBoth50);
    return RunEnd::kStartGlobal;
  }
  skipLeadingControl();
  if (readStartSection(runState().vdaisMode) != 0) {
    mfaError("start", kMsgStartGlobal, Channel::kBoth50);
    return RunEnd::kStartGlobal;
  }
  if (readGlobalSection() != 0) {
    mfaError("start", kMsgDirectorySetup, Channel::kBoth50);
    return RunEnd::kDirectorySetup;
  }
  if (runState().senderCode == 99) (void)recogniseSender();  // keeps the code in runState()
  return RunEnd::kDone;
}

// The HEADER section of a DXF file (stt810 for the run's values before
// it); a file without one is read from its start again (warning 972).
void readDxfHeader() {
  TraceScope t("stt810");
  DispatcherState& s = dispatcherState();
  const long start = std::ftell(s.input);
  statisticsReset();
  dxfReaderAttach(s.input);
  if (readHeader() == 0) return;
  mfaWarning("start", kMsgNoDxfHeader, Channel::kBoth);
  if (start >= 0) std::fseek(s.input, start, SEEK_SET);
  dxfReaderAttach(s.input);
}

// The tables the conversion looks things up in.  0, or -1 when one of them
// cannot be read (that table's reader has reported why).
int prepareConversion() {
  TraceScope t("stt320");
  const bool igesInput = runHas(RunModeBit::kInput) && runIsIges() && runState().useToolkit == 0;
  if (runIsIges() && readLineStyles() != 0) return -1;
  if (readColourLists() != 0) return -1;
  if (runIsIges() && readLeaders() != 0) return -1;
  if (igesInput) {
    const IgesGlobal& g = igesReader().global;
    return readAssignments(g.maxLineWidth, g.lineWeightGradations) != 0 ? -1 : 0;
  }
  if (runHas(RunModeBit::kOutput) && runIsIges()) {
    // The line weights written are numbers of the global section that the
    // output file carries: its gradations over its maximum line width.
    const IgesOutputGlobal g;
    return readAssignments(g.maxLineWidth, g.lineWeightGradations) != 0 ? -1 : 0;
  }
  return readAssignments() != 0 ? -1 : 0;
}

// The element table of an output run: loaded from the CAD transfer file
// opened before, or from the EDX file (-edxin).  0 / -1.
int loadOutputElements(const std::string& inputName) {
  TraceScope t("stt330");
  if (runState().edxIn != 0) return loadEdxTable(inputName) == 0 ? 0 : -1;
  return loadTransferTable();
}

// The output conversion: the section files of the output format (the
// drawing database of the toolkit directions), the element table, the
// element loop, and the end of the output file (the IGES global, start and
// terminate sections, or the DXF header and tables, joined; the saved
// database) under `outputName`.  Returns 0 or a negative result.
int convertOutput(const std::string& outputName, const std::string& inputName) {
  TraceScope t("stt100");
  // The steps of the run's target, chosen here once for the whole loop.
  const OutputTarget target = outputTarget();
  TargetSteps* steps = outputStepsOf(target);
  if (steps == nullptr) return -1;
  // With a picture asked for, every step also draws what it writes.
  std::unique_ptr<RecordingSteps> recording;
  if (ConversionPicture* record = conversionPicture()) {
    recording = std::make_unique<RecordingSteps>(*steps, *record);
    steps = recording.get();
  }
  const bool toolkit = target == OutputTarget::kToolkit;
  const bool dxf = runHas(RunModeBit::kDxf);
  if (toolkit) {
    if (startToolkitOutput() != 0) return -1;
  } else if (dxf) {
    resetDxfWriter();
    // The line types the DXF layers draw with; without the table every
    // layer draws with the line type "unknown".
    (void)readDxfLineTypes();
    if (startDxfSections() != 0 || writeDxfComment() != 0) return -1;
  } else {
    resetIgesWriter();
    if (openSectionFiles() != 0) return -1;
  }
  resetOutputDispatch();
  if (loadOutputElements(inputName) != 0) {
    mfaError(t.code(), kMsgOutputPreparation, Channel::kBoth);
    return -1;
  }
  // The global values of the IGES file, once the drawing's largest
  // coordinate is known.
  if (!dxf && !toolkit) setOutputGlobals(outputName, runState().level, transferReader().maxCoordinate);  // stt810
  if (runHas(RunModeBit::kStat)) {
    // Only the statistics: every element is counted and none written.  A
    // picture asked for draws every element read.
    if (ConversionPicture* record = conversionPicture()) {
      // Annotation too, as the default level takes it.
      const std::uint32_t mode = runState().runMode;
      runState().runMode |= RunModeBit::kG1 | RunModeBit::kB1;
      DrawingOnlySteps nothing;
      RecordingSteps drawing(nothing, *record);
      (void)convertTransferElements(drawing);
      runState().runMode = mode;
    }
    const std::int32_t last = elementTable().lastIndex;
    for (std::int32_t i = 1; i <= last; ++i) setState(i, ElementState::kIgnored);
    return 0;
  }
  setPhase(kPhaseConversion);
  if (convertTransferElements(*steps) != 0) {
    if (sectionWriteFailed()) {
      // The temporary folder is full or limited: one error names the
      // section file and the reason, and no output is made.
      reportSectionWriteFailure(t.code());
      return -4;
    }
    mfaError(t.code(), kMsgElementLoop, Channel::kBoth);
    return -2;
  }
  setPhase(kPhaseWriting);
  int result = 0;
  if (toolkit) {
    // A file that could not be made is an output that cannot be made.
    result = saveToolkitOutput(outputName) == 0 ? 0 : -4;
  } else if (dxf) {
    const TransferReaderState& input = transferReader();
    result = finishDxfOutput(DxfExtents{input.xmin, input.ymin, input.xmax, input.ymax}, outputName);
  } else {
    result = finishIgesOutput(outputName);
    if (result == 0) {
      // The line counts of the written sections, for the statistics.
      const IgesWriterState& w = igesWriter();
      std::int32_t* sections = runStatistics().igesSections;
      sections[0] = w.startCount;
      sections[1] = w.globalSeq;
      sections[2] = w.directorySeq - 1;
      sections[3] = w.parameterSeq - 1;
    }
  }
  return result;
}

// Opens the CAD transfer file of an output run and reads its header; a
// header that cannot be used fails the output conversion with -1.
RunOutcome openOutputInput(const std::string& cadFile) {
  TraceScope t("stt623");
  const std::string name = inputFileName(cadFile);
  struct stat info {};
  if (stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
    mfaSetCurrentName(name);
    mfaError("start", kMsgCannotOpen, Channel::kBoth);
    return {RunEnd::kCannotOpenInput};
  }
  if (info.st_size == 0) {
    mfaSetCurrentName(name);
    mfaError("start", kMsgEmptyIges, Channel::kBoth);
    return {RunEnd::kEmptyIges};
  }
  mfaSetCurrentFile(name);
  // An EDX file is read whole when the element table is loaded.
  if (runState().edxIn != 0) return {RunEnd::kDone};
  // The file's bytes, the lists of the loading (given back before the
  // conversion, whose output text takes their room) and the text of the
  // output take about three times the file.
  reserveHeapRoom(static_cast<std::size_t>(info.st_size) * 3);
  const int opened = openTransferFile(name);
  if (opened == -99) {
    mfaSetCurrentName(name);
    mfaError("start", kMsgCannotOpen, Channel::kBoth);
    return {RunEnd::kCannotOpenInput};
  }
  if (opened != 0) {
    mfaError("stt100", kMsgOutputPreparation, Channel::kBoth);
    return {RunEnd::kOutputConversion, -1};
  }
  return {RunEnd::kDone};
}

RunOutcome runInputDirection(const std::string& exchangeFile, const std::string& cadFile) {
  TraceScope t("stt621");
  setPhase(kPhaseReading);
  const RunEnd opened = openInput(exchangeFile);
  if (opened != RunEnd::kDone) return {opened};
  if (runIsIges() && runState().useToolkit == 0) {
    const RunEnd frame = readIgesFrame();
    if (frame != RunEnd::kDone) {
      closeIgesInput();
      closeInput();
      return {frame};
    }
  }
  if (ownDxfInput() && dxfIsBinary(dispatcherState().input)) {
    // The own reader reads ASCII DXF; a binary file is input it cannot
    // read at all, as one that cannot be opened (the toolkit's reader of
    // -dxfin reads it).
    mfaError("start", kMsgBinaryDxf, Channel::kBoth);
    closeInput();
    return {RunEnd::kCannotOpenInput};
  }
  if (ownDxfInput()) readDxfHeader();
  if (prepareConversion() != 0) {
    // A table the conversion cannot do without: the run ends here and
    // says so in its status (the assignment tables are unreadable).
    mfaError("start", BuiltinMessage::kTablesUnreadable, Channel::kBoth);
    closeIgesInput();
    closeInput();
    return {RunEnd::kTables};
  }
  RunOutcome outcome;
  const int result = convertInput(cadFile);
  if (result != 0) outcome = {RunEnd::kInputConversion, result};
  if (ownDxfInput()) releaseDxfReader();
  // The temporary parameter file is closed and removed however the
  // conversion ended.
  closeIgesInput();
  closeInput();
  return outcome;
}

RunOutcome runOutputDirection(const std::string& exchangeFile, const std::string& cadFile) {
  TraceScope t("stt622");
  setPhase(kPhaseReading);
  const RunOutcome opened = openOutputInput(cadFile);
  if (opened.end != RunEnd::kDone) return opened;
  runState().outputTolerance = runHas(RunModeBit::kPlus) ? 0.1 : 0.0001;
  RunOutcome outcome;
  if (prepareConversion() != 0) {
    mfaError("start", BuiltinMessage::kTablesUnreadable, Channel::kBoth);
    outcome = {RunEnd::kTables};
  } else {
    const int result = convertOutput(exchangeFile, inputFileName(cadFile));
    if (result != 0) outcome = {RunEnd::kOutputConversion, result};
  }
  // The output state is released however the conversion ended: the input
  // closed, no section file left behind.
  removeAllSectionFiles();
  resetTransferReader();
  return outcome;
}

// ---------------------------------------------------------------------------
// End of the run

void printClosingMessage() {
  TraceScope t("stt630");
  const MessageCounts counts = mfaCounts();
  char text[kTrapTextCapacity];
  mfaFormat(mfaTextOf(kMsgClosing), {counts.errors, counts.warnings, counts.notes}, "", text,
            sizeof text);
  std::fprintf(stderr, "\n%s", text);
  if (std::FILE* protocol = dispatcherState().protocol) std::fprintf(protocol, "%s\n", text);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void printElapsed(std::FILE* out, int number, int hours, int minutes, double seconds) {
  std::fprintf(out, "%s %4d h %2d m %2.0f s\n", mfaTextOf(number).c_str(), hours, minutes,
               seconds);
}

void printRunTime() {
  TraceScope t("stt631");
  if (!runSettings().timing) return;
  RunTimer& run = trcTimers().run;
  trcTimer(run, 1, 1);
  std::FILE* protocol = dispatcherState().protocol;
  const std::string endText = mfaTextOf(kMsgTimingEnd);
  std::printf("%s %s\n", endText.c_str(), run.stopText.c_str());
  printElapsed(stdout, kMsgTimingElapsed, run.hours, run.minutes, run.seconds);
  if (protocol != nullptr) {
    std::fprintf(protocol, "%s %s\n", endText.c_str(), run.stopText.c_str());
    std::fputc('\n', protocol);
    printElapsed(protocol, kMsgTimingElapsed, run.hours, run.minutes, run.seconds);
  }
  const RunTimer& second = trcTimers().second;
  if (second.sumHours != 0 || second.sumMinutes != 0 || second.sumSeconds != 0.0) {
    printElapsed(stdout, kMsgTimingSecond, second.sumHours, second.sumMinutes, second.sumSeconds);
    if (protocol != nullptr) {
      std::fputc('\n', protocol);
      printElapsed(protocol, kMsgTimingSecond, second.sumHours, second.sumMinutes,
                   second.sumSeconds);
    }
  }
}

// The statistics report of a run that went well: the elements of the table
// counted by their states, with the IGES file's header for IGES input.
void writeStatistics() {
  TraceScope t("stt640");
  runStatistics().runMode = runState().runMode;
  runStatistics().runMode2 = runState().runMode2;
  StatisticsSources sources;
  const bool igesInput = runHas(RunModeBit::kInput) && runIsIges() && runState().useToolkit == 0;
  if (igesInput) {
    sources.global = &igesReader().global;
    sources.counts = &igesReader().counts;
    sources.subfigureDefinitions = igesReader().subfigureCount;
  }
  const ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    if (element(i).type == 404) ++sources.drawings;
    if (element(i).type == 410) ++sources.views;
  }
  statisticsComplete();
  statisticsReportRun(dispatcherState().protocol, sources);
}

void resetDispatcher() {
  DispatcherState& s = dispatcherState();
  s.protocol = nullptr;
  s.input = nullptr;
  s.inputName.clear();
  s.protocolFd = -1;
  s.protocolFile.discard();
  s.runPhase = kPhasePreparation;
}

const RunStateRegistrar kRunStateRegistered("dispatcher", resetDispatcher);

// Reads the configuration and the assignment tables and settles the level.
RunEnd prepareRun(const std::string& configFile, const std::string& inputName) {
  TraceScope t("stt603");
  RunState& state = runState();
  const ConfigResult configured = readRunConfiguration(state.level, configFile, inputName);
  if (configured == kConfigNoMessageFile) return RunEnd::kMessageFile;
  if (configured == kConfigDirectoryUnreadable) return RunEnd::kTables;
  // A sender fixed by the configuration holds for the whole run; only the
  // automatic setting (99) lets the IGES reader recognise it from the file.
  state.senderCode = runSettings().senderCode;
  mfaSetMessageLevel(runSettings().messageLevel);
  armTrapReport();
  if (runSettings().timing) {
    std::printf("%s %s\n", mfaTextOf(kMsgTimingStart).c_str(), trcTimers().run.startText.c_str());
  }
  if (readGlobalValues() != 0) return RunEnd::kTables;
  statisticsReset();
  state.level = upperAscii(state.level);
  setLevelBits();
  return RunEnd::kDone;
}

// Opens the protocol file and writes the head, the configuration copy and
// the notes about the run's files.
RunEnd startProtocol(const std::string& exchangeFile, const std::string& cadFile) {
  TraceScope t("stt613");
  const RunPaths& paths = runPaths();
  if (runSettings().protocolMode != 0) {
    const RunEnd opened = openProtocol();
    if (opened != RunEnd::kDone) return opened;
  }
  // Notes about the run's files go to the console too when the protocol setting asks for all.
  const int channel = runSettings().protocolMode == 2 ? Channel::kBoth : Channel::kProtocol;
  noteWithName(kMsgConfigFile, paths.configFile, channel);
  if (std::FILE* protocol = dispatcherState().protocol) {
    copyConfiguration(protocol, paths.configFile);
  }
  noteWithName(kMsgInputFile, isInputRun() ? inputFileName(exchangeFile) : cadFile, channel);
  noteWithName(kMsgAssignDir, paths.assignDir, channel);
  return RunEnd::kDone;
}

// An output that is the same file as an input or as another output of the
// run would destroy it: the run ends before anything is written, with error
// 1302 naming both.  Existing files are compared by device and inode, names
// not made yet by their resolved folder and name.
RunEnd checkDistinctFiles(const std::string& exchangeFile, const std::string& cadFile) {
  TraceScope t("stt614");
  const RunPaths& paths = runPaths();
  std::vector<std::string> outputs;
  std::vector<std::string> inputs;
  if (runHas(RunModeBit::kInput)) {
    outputs.push_back(runState().edxOut ? cadFile + ".kpl" : cadFile);
    inputs.push_back(inputFileName(exchangeFile));
  } else {
    outputs.push_back(exchangeFile);
    inputs.push_back(inputFileName(cadFile));
  }
  if (runSettings().protocolMode != 0 && !paths.protocolFile.empty())
    outputs.push_back(paths.protocolFile);
  if (!runState().svgFile.empty()) outputs.push_back(runState().svgFile);
  if (!paths.configFile.empty()) inputs.push_back(paths.configFile);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    std::vector<std::string> others(outputs.begin() + static_cast<std::ptrdiff_t>(i) + 1, outputs.end());
    others.insert(others.end(), inputs.begin(), inputs.end());
    for (const std::string& other : others) {
      if (!sameFile(outputs[i], other)) continue;
      mfaReport(t.code(), kMsgSameFile, Channel::kConsole, Severity::kError, {}, {},
                outputs[i] + " = " + other, nullptr);
      return RunEnd::kSameFile;
    }
  }
  return RunEnd::kDone;
}

}  // namespace

int start(const std::string& phase, const std::string& level, const std::string& exchangeFile,
          const std::string& cadFile, const std::string& configFile) {
  TraceScope t("start");
  // The run starts from the state resetRunState() leaves, with the
  // command line's choices in runState().
  RunState& state = runState();
  installStopHandlers();

  trcTimer(trcTimers().run, 0, 0);
  installTraps();

  statisticsInit();
  if (setDirectionBits(phase) != 0) {
    mfaError("start", kMsgUnknownDirection, Channel::kConsoleOnly);
    restoreTraps();
    restoreStopHandlers();
    state.runStatus = exitStatusOf({RunEnd::kNoDirection});
    return state.runStatus;
  }
  mfaSetDxfRun(runHas(RunModeBit::kDxf));
  mfaSetDrawingRun(runHas(RunModeBit::kInput) && runState().useToolkit != 0);
  state.level = level;
  if (state.language.empty()) state.language = "deutsch";
  runPaths().installDir = state.installDir;
  if (state.svgFile.empty()) {
    stopConversionPicture();
  } else {
    startConversionPicture();
  }

  RunOutcome outcome{prepareRun(configFile, runHas(RunModeBit::kInput) ? exchangeFile : cadFile)};
  const auto going = [&outcome] { return outcome.end == RunEnd::kDone; };
  if (going() && (runHas(RunModeBit::kInput) || runHas(RunModeBit::kOutput)))
    outcome = {checkDistinctFiles(exchangeFile, cadFile)};
  if (going()) outcome = {startProtocol(exchangeFile, cadFile)};
  if (going()) progressLineStart(STDERR_FILENO, kProgressDelaySeconds, describeProgress);
  if (going()) {
    if (runHas(RunModeBit::kInput)) {
      outcome = runInputDirection(exchangeFile, cadFile);
    } else if (runHas(RunModeBit::kOutput)) {
      outcome = runOutputDirection(exchangeFile, cadFile);
    } else {
      mfaError("start", kMsgUnknownDirection, Channel::kConsole);
    }
  }

  progressLineEnd();
  setPhase(kPhaseEnd);
  if (going() && conversionPicture() != nullptr) {
    // The picture of the conversion: a file that cannot be written fails
    // the run as its main output would.
    std::string failure;
    if (writeConversionPicture(state.svgFile, failure) != 0) {
      mfaReport("start", kMsgCannotWrite, Channel::kBoth, Severity::kError, {}, {}, failure, nullptr);
      outcome = runHas(RunModeBit::kInput) ? RunOutcome{RunEnd::kInputConversion, -7}
                                           : RunOutcome{RunEnd::kOutputConversion, -4};
    }
  }
  if (going()) {
    // Every element the statistics count as failed is among the errors of
    // the closing message.
    reportUnreportedFailures();
    writeStatistics();
  }
  restoreTraps();
  printClosingMessage();
  printRunTime();
  if (runSettings().traceLevel > 0) {
    const ElementTable& table = elementTable();
    std::printf("Erledigte Elemente (%d) > von Gesamt (%d)\n", static_cast<int>(table.processedCount),
                static_cast<int>(table.lastIndex));
  }
  closeInput();
  removeTemporaryFiles();
  removeAllSectionFiles();
  statisticsFinish();
  // The element table is left as it stands: the process ends right after
  // the run, and a further run starts from a fresh table, so releasing its
  // records one by one would only cost time.  It holds no output.
  stopConversionPicture();
  if (!closeProtocol() && going()) outcome = {RunEnd::kNoProtocol};
  mfaFree();
  restoreStopHandlers();
  state.runStatus = exitStatusOf(outcome);
  return state.runStatus;
}

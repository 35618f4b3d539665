// The process-wide state of one run that every module reads: the run-mode
// word, the command-line choices that outlive the command line, and the
// dispatcher's results.  One record, reachable through runState().
//
// Beside it, the registry of run state: every module keeps what one run
// changes in one record behind one accessor, and registers how that record
// is set back, once, next to the accessor.  resetRunState() sets every
// registered record back; it is called once at the start of a run (and by
// the tests before each case), so that nothing of an earlier run leaks into
// the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bits of the run-mode word.
namespace RunModeBit {
constexpr std::uint32_t kInput = 0x0001;   // exchange file to KPL script
constexpr std::uint32_t kOutput = 0x0002;  // CAD transfer file to exchange file
constexpr std::uint32_t kG1 = 0x0004;      // levels G1, G1B1, G1B2
constexpr std::uint32_t kB1 = 0x0008;      // levels G1B1, G1B2
constexpr std::uint32_t kPlus = 0x0010;    // level PLUS, and toolkit runs without a level
constexpr std::uint32_t kG1B2 = 0x0080;
constexpr std::uint32_t kStat = 0x0200;
constexpr std::uint32_t kDxf = 0x4000;  // exchange format DXF
constexpr std::uint32_t kDwg = 0x8000;  // exchange format DWG
}  // namespace RunModeBit

// DWG/DXF file versions as the drawing-file version numbers of the format
// ("AC1015" is 1015).  -1 leaves the choice to the writer.
namespace DwgFileVersion {
constexpr int kDefault = -1;
constexpr int kAC1002 = 1002;  // Release 2.5
constexpr int kAC1003 = 1003;  // Release 2.6
constexpr int kAC1004 = 1004;  // Release 9
constexpr int kAC1006 = 1006;  // Release 10
constexpr int kAC1009 = 1009;  // Releases 11 and 12
constexpr int kAC1012 = 1012;  // Release 13
constexpr int kAC1014 = 1014;  // Release 14
constexpr int kAC1015 = 1015;  // 2000
constexpr int kAC1018 = 1018;  // 2004
}  // namespace DwgFileVersion

struct RunState {
  std::uint32_t runMode = 0;
  std::uint32_t runMode2 = 0;  // the second flag word shown by the statistics

  // From the command line.
  int useToolkit = 0;
  int dwgOutAsDxf = -1;
  int dwgVersion = DwgFileVersion::kDefault;
  int edxIn = 0;
  int edxOut = 0;
  std::string language;   // "" until given; the dispatcher makes it "deutsch"
  std::string tlvvValue;  // kept as given
  std::string programPath;  // argv[0]
  std::string installDir;   // the program's directory, ending in "/", or ""
  std::string svgFile;      // -svg: the picture of the conversion, "" none

  // Set by the dispatcher.
  std::string level;  // upper-cased level text ("G1B1" when none was given)
  int vdaisMode = 0;
  int senderCode = 99;  // 99: recognised from the IGES file
  int runStatus = 0;
  double outputTolerance = 0.0001;
};

RunState& runState();

// Sets back what a module keeps of a run.
using RunStateReset = void (*)();
// Registers a module's record under a name (for the tests); done once per
// record by a RunStateRegistrar beside its accessor.
void registerRunState(const char* name, RunStateReset reset);
struct RunStateRegistrar {
  RunStateRegistrar(const char* name, RunStateReset reset) { registerRunState(name, reset); }
};
// Sets every registered record back to the state a run starts from.  The
// records do not depend on each other's reset, so their order is free.
void resetRunState();
// The names of the registered records, in the order they registered.
std::vector<std::string> registeredRunStates();

// German when the run's language is exactly "deutsch".
bool runIsGerman();

inline bool runHas(std::uint32_t bits) { return (runState().runMode & bits) != 0; }
// IGES runs: the exchange format is neither DXF nor DWG.
inline bool runIsIges() { return !runHas(RunModeBit::kDxf | RunModeBit::kDwg); }
// Texts and dimensions are converted at G1B1/G1B2 or PLUS.
inline bool runConvertsAnnotation() {
  const std::uint32_t m = runState().runMode;
  return ((m & RunModeBit::kG1) && (m & RunModeBit::kB1)) || (m & RunModeBit::kPlus);
}

// The run configuration: directories, derived file names and switches read
// from the configuration file of the run.  Filled once by
// readRunConfiguration() and read by every module through runPaths() and
// runSettings().
#pragma once

#include <cstddef>
#include <string>

// A switch that the configuration file did not set.
constexpr int kNotSet = -1;

struct RunPaths {
  std::string configFile;        // the configuration file actually read, or ""
  std::string installDir;        // the program's directory, ending in "/", or ""
  std::string messageDir;        // _MEDI
  std::string messageFile;       // <messageDir>dt_<ll>.msg
  std::string entityTable;       // <messageDir>entity_tab
  std::string assignDir;         // _ZUOR
  std::string scriptIncludeDir;  // _KPLI
  std::string parameterDir;      // _PARA
  std::string protocolDir;       // _PROT
  std::string tempDir;           // _TEMP
  std::string ubblDir;           // _UBBL
  std::string inputDir;          // _PATH, _PFAD
  std::string protocolFile;      // derived
  int runCounter = 0;            // runs of this process, in the section-file names

  // Section files of the IGES writer, in tempDir, with process id and run counter.
  std::string igesStartFile, igesGlobalFile, igesDirectoryFile, igesParameterFile,
      igesTerminateFile;
};

// Start-section texts of the IGES output, in keyword order.
enum StartText {
  kStartCompany,       // _FIRM
  kStartContact,       // _ASPR
  kStartTelephone,     // _TEL
  kStartAddress,       // _ADRS
  kStartProject,       // _PROJ
  kStartProjectShort,  // _PROK
  kStartVariant,       // _VARI
  kStartDistribution,  // _VERT
  kStartDate,          // _GDAT
  kStartAuthor,        // _AUTH
  kStartEfa,           // _EFA
  kStartEna,           // _ENA
  kStartTextCount
};

struct RunSettings {
  std::string level;     // _STUF, as read; "" when not given
  std::string language;  // _LANG
  int splineMode = kNotSet;         // _SPLI
  int graphicsMode = kNotSet;       // _GRAF
  int dimensionMode = kNotSet;      // _MASS
  int userElementMode = kNotSet;    // _USER, _UBIS
  int viewMode = -1;                // _VIEW
  int viewNumber = kNotSet;         // _VINR
  int textMode = kNotSet;           // _TEXT
  double textWidthFactor = 1.0;     // _WTEXT, _WTXT
  int timing = 0;                   // _TIME
  int timingCad = 0;                // _TCAD
  int nameMode = kNotSet;           // _NAME
  int graphicInfoMode = kNotSet;    // _GINF
  int protocolMode = 1;             // _DATP
  int statisticsToConsole = 1;      // _STAT
  int blankMode = kNotSet;          // _BLAN
  int unitMode = kNotSet;           // _UNIT
  int messageLevel = 4;             // _MESS
  int groupMode = kNotSet;          // _GRUP
  int traceLevel = 0;               // _TEST
  int sistMode = kNotSet;           // _SIST
  int inbiMode = kNotSet;           // _INBI
  int layerNames = kNotSet;         // _LAYR
  int senderCode = 99;              // _SPEZ, _SPEC
  int worldMode = 1;                // _WORL, _WELT
  int pointMode = kNotSet;          // _POIN, _PUNK
  int arcMode = kNotSet;            // _KRBG, _ARC
  int ellipseMode = 0;              // _ELLI
  int tlvvMode = 9999;              // _TLVV
  bool precisionSet = false;        // _PREC
  double precision = 0.0;
  std::string quorixFont;           // _Quorix_Font
  std::string startTexts[kStartTextCount];
  std::string typeText;             // _TYPE
  int dwgVersion = -1;              // _ACAD, as a DwgFileVersion number
};

RunPaths& runPaths();
RunSettings& runSettings();
// Subfigures are dissolved (2) unless the configuration asks for symbol models.
inline int userElementMode() {
  const int v = runSettings().userElementMode;
  return v == kNotSet ? 2 : v;
}
void resetRunConfiguration();

// Reads the configuration of the run (the named file, or the first one of
// the search path when the name is empty), derives the file names and loads
// the message file.  `level` is the level of the command line ("" when none
// was given; a _STUF line then sets runState().level).  `inputFile` names
// the protocol file: <protocolDir><base name of inputFile>.prot, or
// <protocolDir>trovak_iges.prot when it is empty.  A configuration file
// that is missing, unreadable or without settings is named in a warning and
// the defaults serve.  Returns kConfigRead, or why the run cannot go on.
enum ConfigResult : int {
  kConfigRead = 0,
  kConfigNoMessageFile,           // the message file cannot be read or lacks a text
  kConfigDirectoryUnreadable,     // no readable assignment or script include directory
};
ConfigResult readRunConfiguration(const std::string& level, const std::string& configFile,
                                  const std::string& inputFile = "");

// Longest configuration line read; the rest of a longer line is read away.
constexpr std::size_t kConfigLineLength = 255;
// Longest word value (_TYPE, _ACAD); longer ones are cut.
constexpr std::size_t kConfigWordLength = 24;

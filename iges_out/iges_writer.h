// Writing an IGES file in the fixed 80-column ASCII form.
//
// The five sections (start, global, directory, parameter, terminate) are
// written into five section files in the run's temporary directory while the
// output conversion goes on, and joined into the output file at the end:
//
//   resetIgesWriter()            counters to 1, leftovers of a former run removed
//   openSectionFiles()           the five section files, made exclusively
//   ... per element: the entity writer of iges_entities.h packs the parameter
//       data, then formatDirectoryEntry / writeDirectoryEntry ...
//   setOutputGlobals(...)        the global values of the output file
//   writeGlobalSection(), writeStartSection(), writeTerminate()
//   joinSectionFiles(...)        output file under a temporary name, renamed at the end
//
// Every section file is registered in a fixed table of paths when it is
// made; removeAllSectionFiles() (section_files.h) unlinks whatever is still
// registered, on every way out of a run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "elements/element_table.h"

// Sections in file order.
enum IgesSection {
  kSectionStart,
  kSectionGlobal,
  kSectionDirectory,
  kSectionParameter,
  kSectionTerminate,
  kIgesSectionCount
};

// Data columns of a start or global line and of a parameter line.
constexpr int kGlobalWidth = 72;
constexpr int kParameterWidth = 64;
// A start-section text goes on in continuation lines of 21 blanks and the
// next 51 characters.
constexpr int kStartIndent = 21;
constexpr int kStartContinuation = 51;
// Longest token the packer takes (a note text or file name is far shorter;
// a longer token is refused instead of growing without bound).
constexpr std::size_t kMaxTokenLength = 65536;

// The global values of the output file (global parameters 1 to 24).
struct IgesOutputGlobal {
  char paramDelimiter = ',';
  char recordDelimiter = ';';
  std::string senderProductId;
  std::string fileName;
  std::string nativeSystemId;
  std::string preprocessorVersion;
  std::int32_t integerBits = 32;
  std::int32_t singleMaxPower = 38;
  std::int32_t singleDigits = 6;
  std::int32_t doubleMaxPower = 308;
  std::int32_t doubleDigits = 15;
  std::string receiverProductId;
  double modelScale = 1.0;
  std::int32_t unitsFlag = 2;
  std::string unitsName = "MM";
  std::int32_t lineWeightGradations = 10000;
  double maxLineWidth = 100.0;
  std::string creationDate;
  double minResolution = 0.0001;
  double maxCoordinate = 0.0;
  std::string authorName;
  std::string authorOrganisation;
  std::int32_t versionFlag = 6;
  std::int32_t draftingStandard = 6;
};

struct IgesWriterState {
  std::FILE* files[kIgesSectionCount] = {};
  std::string paths[kIgesSectionCount];
  // Sequence number the next line of a section gets; startCount counts the
  // start lines written so far.
  std::int32_t startCount = 0;
  std::int32_t globalSeq = 1;
  std::int32_t directorySeq = 1;
  std::int32_t parameterSeq = 1;
  // The packer's line: tokens of the current record not yet written.
  std::string line;
  std::string record;  // the line being written (kept for its room)
  std::string directoryLines[2];  // the records of a directory entry (kept for their room)
  bool recordEnded = true;
  IgesOutputGlobal global;
  int missingSectionFiles = 0;  // section files not found at joining
  bool failed = false;          // a write to a section file failed
};

IgesWriterState& igesWriter();
// Closes and removes the section files of a former run and sets the
// counters: startCount 0, the others 1.
void resetIgesWriter();

// Opens the five section files (runPaths().iges*File) for writing, each
// created exclusively.  0, or -1 after error 140 (console).
int openSectionFiles();  // stt100
// Flushes and closes them (they stay on disk for joining).  0, or -1 when a
// write failed.
int closeSectionFiles();

// Tokens.  One place per format rule: integers "%d,", reals "%.12E,",
// strings "%dH%s," (an empty string as ","), colour components "%E,".
// `last` ends the token with the record delimiter ";" instead of ",".
std::string igesInteger(long value, bool last = false);
std::string igesReal(double value, bool last = false);
std::string igesShortReal(double value, bool last = false);
std::string igesString(std::string_view text, bool last = false);
// The same appended to `out`: an integer token; `value` as "%.*E" prints
// it (no delimiter); a real token as the packer writes it ("%.12E"
// shortened, see shortenReal).
void appendIgesInteger(std::string& out, long value, bool last = false);
void appendScientific(std::string& out, double value, int precision);
void appendPackedReal(std::string& out, double value, bool last = false);

enum class TokenClass { kString, kReal, kInteger, kOther };
TokenClass classifyToken(std::string_view token);
// A real token shortened and marked double precision: 1.500000000000E+01,
// becomes 1.5D+01, (at least one digit after the point is kept).
std::string shortenReal(std::string_view token);
// Global 19: the value rounded up in its fourth decimal of the mantissa
// ("%.12E" text; 0.0001 gives 1.000000000000E-04).
std::string resolutionText(double value);

// Appends one token to the current record of a section (global: 'G' width
// 72, parameter: 'P' width 64), writing finished lines and advancing
// `counter`.  A parameter line carries the current directorySeq.  0, or -1
// when a line cannot be written or the token is too long.
int packToken(std::FILE* file, std::int32_t& counter, std::string_view token, char sectionLetter,
              int width);  // vds840
// packToken for a token whose class is known and whose text is final (a
// real already shortened).
int packClassified(std::FILE* file, std::int32_t& counter, std::string_view text, TokenClass kind,
                   char sectionLetter, int width);  // vds840
// packToken, packClassified into the parameter section file.
int packParameter(std::string_view token);
int packParameter(std::string_view text, TokenClass kind);

// The two directory lines of an entity (81 characters each: 80 columns and
// the newline).  Line 1 takes directorySeq, which is stored back into the
// entry's sequence fields and advances by two.
void formatDirectoryEntry(DirectoryEntry& entry, std::string& line1, std::string& line2);  // vds800
int writeDirectoryEntry(const std::string& line1, const std::string& line2);               // vds820

// The global values of the output (code stt810).  `fileName` the output
// file name, `levelText` the level ("G1B1"), `maxCoordinate` the largest
// coordinate of the drawing.  Reads the start texts of the run
// configuration, the run's output tolerance, the version text, product
// title and build date.
void setOutputGlobals(const std::string& fileName, const std::string& levelText,
                      double maxCoordinate);  // stt810

int writeGlobalSection();              // gte100: 0 / -1
int writeStartSection();               // sse100: 0, or -1 after error 130
int writeStartLine(std::string_view text);  // sse110
int writeTerminate();                  // gte200
// Copies the section files in order into the output file (through a
// temporary name beside it, renamed at the end) and removes them.  A
// missing section file is skipped and counted.  0, or -4 after error 980.
int joinSectionFiles(const std::string (&sectionFiles)[kIgesSectionCount],
                     const std::string& outputName);  // scl200

// The whole end of an IGES output (after the element loop): globals,
// start section and terminate record, closing and joining.  0, -3 (start
// section, after error 340) or -4.
int finishIgesOutput(const std::string& outputName);

// Reading an IGES file (fixed 80-column ASCII form) into the element table.
//
// The dispatcher drives the direction in this order:
//   igesReaderAttach(file)       the opened input file (seekable)
//   skipLeadingControl()         control characters before the first record
//   readStartSection(vdais)      0, or the exit code 152/153/154/16/21
//   readGlobalSection()          0, or -1..-25
//   recogniseSender()            sender code of the file (runState().senderCode)
//   readIgesInput()              terminate record, table, D and P sections,
//                                parameter pass: 0 or -2..-9
//   ... conversion, which calls fetchParameterData ...
//   closeIgesInput()             closes and removes the temporary files
// The parameter section is read where it stands in the input file: the D
// and P pass notes where each P record starts, and a fetch reads the
// records of an entity from there again, through the reader's window.
// removeTemporaryFiles() may be called at any time: it closes and unlinks
// every temporary file the reader has made.  A signal or trap handler
// removes them through the table of the run's files (support/output_file.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "iges_in/iges_global.h"

// One record: 80 columns, '\n', NUL.
constexpr int kIgesRecordBytes = 82;

struct IgesReaderState {
  std::FILE* input = nullptr;
  long fileSize = 0;
  int separatorCount = 0;         // characters skipped after each record
  long lastRecordStart = 0;       // file position of the record read last
  long position = 0;              // the reading position in the input file
  // The bytes of the input from `windowStart` on that the reader holds: a
  // record inside them costs a copy, one outside a read of the window
  // around it (records are read again in place, mostly in file order).
  std::vector<char> window;
  long windowStart = 0;
  std::size_t windowLength = 0;
  IgesGlobal global;
  IgesCounts counts;
  std::string senderName;         // the text a recognised sender matched
  int subfigureCount = 0;         // 308 entities met in the D section
  long matrixCount = 0;           // 124 entities met in the D section
  int directoryRecords = 0;       // D records read
  // Where each P record starts in the input file: records that follow each
  // other at one distance are `paramFirst` + k * `paramStride`; once a
  // record breaks the rhythm (a NUL that ends one early, a separator that
  // changes) every start is listed in `paramStarts`.
  long paramFirst = 0;
  long paramStride = 0;
  std::vector<long> paramStarts;
  long paramRecords = 0;          // P records read
  std::FILE* startFile = nullptr; // scratch copy of the start section
  std::string startPath;
};

IgesReaderState& igesReader();
// Closes and removes what a previous run left and resets the state.
void resetIgesReader();

// The input file the reader works on; its size is taken here.  0 / -1.
int igesReaderAttach(std::FILE* file);
// Reads one record into `record` (kIgesRecordBytes bytes); returns the
// number of characters stored before the NUL (81 for a full record), or -1
// at the end of the file.
int readRecord(char* record);
void skipLeadingControl();

int readStartSection(int vdais);   // stt820
int readGlobalSection();           // stt830
int recogniseSender();             // sender code after recognition
int checkTerminate();              // hvd950
int readSection(char letter);      // stt950
int readDirectoryFirst(const char* record);   // ldv954
int readDirectorySecond(const char* record);  // ldv958
void parameterPass();              // ldv966
// The parameter pass's reading of one entity's parameter data (`text` as
// fetchParameterData gives it): the typed record of a structuring entity,
// its sons linked.  The one reading of each layout it knows.
void readEntityParameters(std::int32_t index, std::int32_t type, const std::string& text);
// Reads the open IGES file into the element table: the terminate record
// first (its counts size the table, never beyond what the file can hold),
// then the directory section, the places of the parameter records, and the
// parameter pass.  0, or -2 directory section unreadable, -3 parameter
// section unreadable, -4 no parameter data, -6 no memory for the table, -9
// terminate record missing or unreadable.
int readIgesInput();
void closeIgesInput();

// The parameter data of one entity as one text (columns 1..64 of its P
// records after the type field).  0, or -1 with error 740, 160 or 900.
int fetchParameterData(std::int32_t type, std::int32_t pointer, std::int32_t lineCount,
                       std::string& text);  // hvd800

// Temporary files of the run (the copy of the start section): scratch files
// with an unpredictable name and mode 0600 in runPaths().tempDir (or /tmp).  A failed write is reported as
// error 1300 with the file's name and the system's reason.
std::FILE* createTemporaryFile(std::string& path);
void removeTemporaryFiles();

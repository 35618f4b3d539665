// Reader of the CAD transfer file, the input of the output directions.
//
// The file is a sequence of sections.  The first character of a line gives
// its role: '@' starts a section ("@keyword identifier ..."), '#' is a value
// line (the n-th value line of a section is its n-th field), an empty line
// is skipped and any other line is a comment.  The header sections
// "fileversion", "general" and "reference" are read by openTransferFile; the
// element sections are found by the directory pass (nextElementHeader) and
// read later by the fetchers, which seek to an element by its position.
//
// A position is counted back from the end of the file: file size minus the
// offset of the character that follows the element's '@'.  Positions of
// values (markPosition, skipEndMarkers) use the same scheme and name the
// '#' of the value line, so that a seek to such a position followed by any
// read reads that value line.
//
// The whole file is held in memory (it is addressed by 32-bit positions, so
// it is below 2 GiB); the reader keeps its offset in it.  The file comes from
// outside: every read is bounded by the file, every count is checked against
// what the file can hold, and a read that fails leaves the reader usable.
//
// All readers return 0 on success and -1 when the field could not be read;
// lastTransferStop() tells why (end of file, a '@' line reached, or a value
// that did not convert).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element_table.h"
#include "elements/transform.h"
#include "transfer/transfer_index.h"

// Longest line the reader takes in; the rest of a longer line is passed over.
constexpr std::size_t kTransferLineLength = 4096;

// Why the last read failed.
// Warnings about damaged elements, each naming the element's identifier:
// the file ends inside the element; a group or contour without members; a
// member link that would make the element its own member (left out).
constexpr int kMsgElementCut = 1320;
constexpr int kMsgNoMembers = 1321;
constexpr int kMsgMemberCycle = 1326;

enum class TransferStop {
  kNone,
  kEndOfFile,
  kSection,   // a '@' line was reached (the '@' is consumed)
  kBadValue,  // the value line did not hold what was asked for
};

// A pen: colour number, red, green, blue and the colour's name.
struct TransferPen {
  std::int16_t colour = 0;
  std::int16_t red = 0;
  std::int16_t green = 0;
  std::int16_t blue = 0;
  std::string name;
};

struct TransferReaderState {
  bool open = false;
  std::string bytes;       // the file
  std::size_t offset = 0;  // reading offset in bytes
  std::int32_t fileSize = 0;
  TransferStop lastStop = TransferStop::kNone;
  std::size_t lastSectionOffset = 0;  // offset of the '@' that ended the last read
  // Set when a value line was looked for and the file ended instead (a
  // peek that takes its look back leaves it as it was); the output loop
  // clears it before each element, so after a failed element it tells that
  // the file ends inside that element.
  bool endOfFileMet = false;

  // Header values.
  std::int32_t fileVersion = 0;
  std::string versionText;
  std::string senderName;
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  double maxCoordinate = 0;
  Point3 reference;
  LayerValueList layerValueList;

  // Directory pass.
  TransferIdIndex transferIdIndex;
  std::int32_t definitionNames = 0;  // names of "userdef"/"userref" handed out

  // Member walk (resetMembers / nextMember).
  struct MemberWalk {
    bool started = false;
    std::int32_t position = 0;
    std::size_t offset = 0;
    bool ended = false;
    bool noList = false;
  } walk;
  // The last member list walked ended with the file instead of its "end"
  // or the next section: the element is cut off.
  bool memberListCut = false;
};

TransferReaderState& transferReader();
// Closes the file and forgets every value of the last one.
void resetTransferReader();

// Opens the named file and reads its header: 0; -1 when the file ends (or a
// '@' line comes) before the header is complete, when "general" is missing
// or the file is too large to be addressed; -99 when it cannot be opened.
int openTransferFile(const std::string& name);  // hse100
// The same on the bytes of a file already in memory (tests, fuzzing).
int openTransferBytes(std::string bytes);        // hse100
// Reads a whole file of at most 2^31 - 1 bytes into `bytes`: 0; -1 when it is
// larger or memory runs out; -99 when it cannot be opened or read.
int readTransferFileBytes(const std::string& name, std::string& bytes);

// Directory pass: the next element section from the reading offset.  0 with
// its type (0 for a keyword that is not an element) and position; -99 when
// no further section exists.  For "userdef" and "userref" the name of the
// definition goes into extra->name when extra is given.
int nextElementHeader(std::int32_t& position, std::int32_t& type,
                      TransferAttributes* extra);  // hse110
// IGES entity type of an element keyword; 0 for any other keyword.
std::int32_t elementTypeOfKeyword(std::string_view keyword);

// Seeking.  seekToPosition moves to any position of the file (-1 outside);
// seekToElement also checks that the position follows a '@' and reads the
// section's keyword, identifier and the rest of its header line (trimmed).
int seekToPosition(std::int32_t position);
int seekToElement(std::int32_t position, std::string& keyword, std::string& identifier,
                  std::string* rest = nullptr);
// Rewinds to the start of the file (the directory pass starts there).
void rewindTransferFile();
TransferStop lastTransferStop();

// Value lines.
int nextValueLine();
int readToken(std::string& token);                            // hse151
int readTextLine(std::string& text);                          // hse151
// Passes over one value line of any content, as readTextLine without
// keeping the text.
int skipValueLine();                                          // hse151
// readToken with the token as a view into the file in memory (valid until
// the file is closed).
int readTokenView(std::string_view& token);                   // hse151
int readInt(std::int32_t& value);                             // hse151
int readReal(double& value);                                  // hse151
int readPoint(Point3& point);                                 // hse151
int readIntAndText(std::int32_t& value, std::string& text);   // hse152
int readPen(TransferPen& pen);                                // hse152
// A text of known length (the count includes the line feeds of a text
// written over several lines); see the definition.
int readTextBlock(std::string& text, std::int32_t length);    // hse154
// Passes over a run of "EOE" value lines: 0 with the position of the first
// other value line (which stays unread) and its first token; -1 when the
// element ends first.
int skipEndMarkers(std::int32_t& position, std::string& token);  // hse140
// Reads value lines up to and including one whose token is "EOE": 0 after
// it, -1 when the element ended without one.
int skipToEndOfElement();                                      // hse145
// The position of the next value line, which stays unread; -1 when the
// element ends first.
int markPosition(std::int32_t& position);                      // hse135

// Values of the header.
Point3 referencePoint();                                       // hse101
// Layer number of a layer value, -1 when the list has none within the
// tolerance.
std::int32_t layerNumberOf(double layerValue);

// The members of the elements in the element table per layer, layers from
// N down to 1: 0 with the sequence numbers; -1 when no element is on a
// layer of the list; -99 (and nothing done) for a non-zero flag.
int buildLayerTable(int flag, std::vector<std::int32_t>& members, std::int32_t& count);  // hse900

// Member walk of a composite element (see transfer_directory.cpp).
void resetMembers();  // hse120
// 0 with the next member's position; 1 when the list has ended; -2 when the
// element's keyword has no member list (or the position names no element).
int nextMember(std::int32_t index, std::int32_t position, std::int32_t& memberPosition);  // hse131

// The directory pass and the element table: one record per element (id =
// position), members linked as sons.  Member lists that would close a cycle
// (an element inside itself) lose the link that closes it, and a member
// named twice in one list is linked once.  0 / -1.
int loadTransferTable();
// The member positions of the composite element at the table index, as the
// element table links them; 0 / -1.
int transferMembersOf(std::int32_t index, std::vector<std::int32_t>& positions);
// The identifier of the element at the position as its header line names it
// ("17", "17a"); "" when no element section stands there.  Moves the
// reading offset.
std::string transferIdentifierAt(std::int32_t position);

// Parser of EDX files, the input of the output directions with -edxin.
//
// An EDX file is a text of nested blocks in braces.  Blanks and line breaks
// carry no meaning anywhere (they are removed before parsing, also inside
// numbers).  A block holds either further blocks, a typed entry beginning
// with "0:" (a composite segment "UT1024", a named group "\"name\"", or an
// element list of an unknown type), or an element list.  An element list is
// a run of records, each a dot, a letter and parenthesised coordinate groups:
//
//   .P(x,y,z)  or  .(x,y,z)      point
//   .L(x,y,z)(x,y,z)             line from start to end
//   .C(x,y,z)(x,y,z)             circle: centre and radius vector
//
// A composite segment holds two blocks, its definition text and its data:
// a start point, then codes, 1 followed by one point (a line from the
// current point), 19 followed by three points A, B, C (an arc from the
// current point through A and B to C).  A named group holds nested blocks
// whose records become its members; the group named "els2d" holds a plain
// element list and "ELSgroup" lists (son, father) pairs of group names.
//
// The parser collects typed records in one list, every record registered as
// a son of the group or composite segment it stands in, and the bounding box
// of the geometry.  Problems are reported on standard output and parsing
// goes on with the next record or block.  Nesting is bounded
// (kEdxMaxNesting), every scan is linear in the size of the text.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "elements/transform.h"

// Kinds of the parsed records.
namespace EdxKind {
constexpr std::int16_t kPoint = 2;
constexpr std::int16_t kLine = 3;    // start, end
constexpr std::int16_t kCircle = 4;  // centre, radius vector (the radius is its length)
// Segment of a composite segment (code 19): the current point, A, B and C,
// points of a circular arc that runs from the current point through A and B
// to C.
constexpr std::int16_t kArc = 5;
constexpr std::int16_t kGroup = 50;               // text: the name
constexpr std::int16_t kCompositeSegment = 1024;  // text: the definition
}  // namespace EdxKind

// Blocks nested deeper than this are reported and left out.
constexpr int kEdxMaxNesting = 256;

struct EdxRecord {
  std::int16_t kind = 0;
  std::uint8_t pointCount = 0;
  std::uint32_t firstPoint = 0;  // index of its first point in EdxParserState::points
  std::string text;              // group name or definition of a composite segment
  // Record indices of the members (groups and composite segments), in the
  // order met; -1 stands for a son that the group hierarchy names but that
  // is no group.
  std::vector<std::int32_t> sons;
};

struct EdxBox {
  bool empty = true;  // no point read yet
  Point3 min;
  Point3 max;
};

// The parser's process-wide state: the results of the last parse and the
// stack of fathers during one.
struct EdxParserState {
  std::vector<EdxRecord> records;
  std::vector<Point3> points;  // the points of all records, record by record
  EdxBox box;
  std::vector<std::int32_t> fathers;                         // record indices, innermost last
  std::unordered_map<std::string, std::int32_t> groupNames;  // first group of each name
};

// What parseEdxFile works on: the file's name, its length as read and its
// text (compressed in place by the parse).
struct EdxBuffer {
  std::string fileName;
  std::int32_t length = 0;
  std::string text;
};

EdxParserState& edxParser();
// Forgets the records, points, box and fathers of the last parse.
void resetEdxParser();

// Parses the text into the record list (appended to what the state holds;
// resetEdxParser first for a fresh file).  Always 0: every problem is
// reported on standard output and passed over.
int parseEdxFile(EdxBuffer& buffer);  // edx100

// The k-th point of a record (k < pointCount).
const Point3& edxPoint(const EdxRecord& record, int k);

// Loading an EDX file into the element table (output directions, -edxin).
//
// Every parsed record (edx_parser.h) becomes one element, in the order of
// the record list: record r is element r + 1, and its identifier (the
// element's `created` entry, ascending like the positions of a transfer
// file) is that index too.  The element's parameter record is the record of
// its kind that the fetchers fill from a transfer file (elements/fetch_records.h), so
// that the fetchers copy it instead of reading:
//
//   point              116  TransferPoint
//   line               110  TransferLine
//   circle             100  TransferCircle, a full circle
//   arc                100  TransferCircle, the circular arc through its
//                           four points (110 TransferLine from the first to
//                           the last point when they lie on a straight line)
//   group              402 form 7  TransferGroup with the group's name
//   composite segment  402 form 7  TransferGroup named "CSEG.<index>"
//
// The members of groups and composite segments are linked as sons in their
// order (father links too); a member named twice is linked once, and a link
// of the group hierarchy that would put a group inside itself is left out.
// A group without members is set to the error state, as a group of a
// transfer file.  The bounding box of the geometry becomes the drawing
// extents of the transfer reader (transfer_reader.h).
#pragma once

#include <cstdint>
#include <string>

#include "elements/transform.h"

// Reads the named file (at most 2 GiB - 1), parses it and fills the element
// table: 0; -99 when the file cannot be opened or read; -1 when it is too
// large or the table cannot be made.
int loadEdxTable(const std::string& fileName);  // edx200
// The same on a file's text already in memory (tests, fuzzing); the name is
// the one the parser reports.
int loadEdxText(const std::string& fileName, std::string text);  // edx210

// The IGES form of an arc record: a circular arc counter-clockwise from
// start to end about centre (full when the arc closes), or, when its points
// lie on a straight line, a line from start to end.
struct EdxArcShape {
  bool straight = false;
  bool full = false;
  Point3 centre;
  double radius = 0;
  Point3 start;
  Point3 end;
};
// The arc from s through a and b to e in the xy plane at the height of s:
// the circle through s, a and e (s, b and e when a lies on the chord); an
// arc that ends where it starts is the full circle through s, a and b.
EdxArcShape edxArcShape(const Point3& s, const Point3& a, const Point3& b, const Point3& e);

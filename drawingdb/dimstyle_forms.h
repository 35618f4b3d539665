// The values of a dimension style that changed form between R14 and 2000.
// The database keeps them as the DXF groups of the record (its extra
// groups), in the form of the release they were read from:
//
//   R13/R14                          2000
//   5, 6, 7   DIMBLK, DIMBLK1,       342, 343, 344  the same arrow blocks by
//             DIMBLK2 by name                       handle; 341 DIMLDRBLK
//   270       DIMUNIT                277 DIMLUNIT and 276 DIMFRAC
//   287       DIMFIT                 289 DIMATFIT and 279 DIMTMOVE
//
// plus values only 2000 holds (DIMAZIN, DIMALTRND, DIMADEC, DIMDSEP,
// DIMLWD, DIMLWE).  A writer of one release converts the other's groups
// into its own and leaves out what its release has no place for.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/model.h"

namespace drawingdb {

// The block records that arrows name.
struct ArrowBlocks {
  std::function<Handle(std::string_view)> handleOf;  // 0 when no block has the name
  std::function<std::string(Handle)> nameOf;         // empty when the handle names no block
};

// `kept` (the extra groups of a DIMSTYLE record) in the form of release
// `to`; groups of neither form pass unchanged.  An arrow whose block
// cannot be found becomes the default arrow.
std::vector<RawTag> dimStyleGroupsFor(const std::vector<RawTag>& kept, Release to, const ArrowBlocks& blocks);

// The header variables of the same pairs ($DIMUNIT and $DIMFIT of R13/R14,
// $DIMLUNIT, $DIMFRAC, $DIMATFIT and $DIMTMOVE of 2000) for a file of
// release `to`, from those a file of release `from` gave (the arrows'
// $DIMBLK names need nothing: 2000 files name their blocks by handle).
void dimHeaderFor(Header& header, Release from, Release to);

// R13/R14 keep the angular decimals of dimensions as the variable DIMADEC
// of the dictionary ACDBVARIABLEDICTIONARY; 2000 holds them as $DIMADEC.
// For a file of 2000 or later from a drawing of R13/R14, the header takes
// the dictionary's value (-1 to 8; any other is left out).
void dimVariablesIntoHeader(Database& db, Release to);

// Whether a group is one of those that change form (arrows, units, fit).
bool dimStyleFormGroup(int code);

// The block lookups of a database.
ArrowBlocks arrowBlocksOf(const Database& db);

}  // namespace drawingdb

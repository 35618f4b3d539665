// The anonymous block of a dimension: the lines, arrows and text that show
// it, built from the dimension's points and its dimension style.  Readers
// that do not compute dimensions themselves draw this block, so a
// dimension is never written without one.
#pragma once

#include <string>

#include "drawingdb/model.h"
#include "drawingdb/status.h"

namespace drawingdb {

// Builds (or rebuilds) the block of dimension `id`: a new block *D<n>, or
// the anonymous block it names already, emptied.  It holds, on layer 0 in
// the colours of the style: the dimension and extension lines (an arc for
// angular kinds), arrows as filled SOLID triangles (ticks when the style
// asks for them), the text as TEXT, and POINTs at the definition points
// on layer Defpoints (made when missing, not plotted).  The dimension gets
// the block's name, flag 32, its measurement, and the text position unless
// the user placed the text (flag 128).  The style is the dimension's own,
// else the drawing's first one, else the defaults of DimStyle.
Status buildDimensionBlock(Database& db, EntityId id);

// The style a dimension is drawn with: its own (else the drawing's first,
// else the defaults of DimStyle) with the overrides the dimension holds in
// its XDATA of application "ACAD": 1000 "DSTYLE", then between 1002 "{"
// and 1002 "}" pairs of a 1070 group naming a style group code (73 for
// DIMTIH ...) and the value for it.  Codes the style does not model are
// passed over.
DimStyle effectiveDimStyle(const Database& db, const Entity& dimension);

// Builds the block of every dimension that names no existing block;
// returns how many were built.
std::size_t buildMissingDimensionBlocks(Database& db);

// The text a dimension shows for a measurement (length, or angle in
// radians) under the dimension's text override and its style: decimals,
// rounding, trailing-zero suppression, the unit text (DIMPOST) and the
// prefix of radius and diameter dimensions.
std::string dimensionText(const Dimension& d, const DimStyle& style, double measurement);

}  // namespace drawingdb

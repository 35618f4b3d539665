// A hatch drawn with plain entities, for releases without HATCH (R13 and
// older): its pattern as LINEs (POINTs for dots) clipped to the boundary,
// or its solid fill as SOLID trapezoids, held by an anonymous block *X<n>
// that an INSERT in the hatch's place shows.  Boundaries count by odd
// parity: a point is filled when a ray from it crosses the loops an odd
// number of times, so islands stay empty.
#pragma once

#include <vector>

#include "drawingdb/model.h"
#include "drawingdb/plane.h"
#include "drawingdb/status.h"

namespace drawingdb {

// The boundary loops of a hatch as straight segments in its own
// coordinate system: arcs, ellipses, bulges and splines flattened, each
// loop closed.  Loops of the "entire area" style are the external ones.
struct HatchSegment {
  plane::Vec a, b;
};
std::vector<HatchSegment> hatchOutline(const Hatch& h);

// The entities that draw the hatch, in its own coordinate system at Z 0.
// A pattern without definition lines is drawn as lines at the hatch's
// angle, its scale apart; a pattern too fine to draw line by line (more
// lines or dashes than a drawing can usefully hold) is drawn filled.
// What the drawing could not do as asked goes to `findings` (when given)
// under the hatch's `handle`: "hatch-drawn-filled" (fixed: a pattern too
// fine, drawn filled) and "hatch-drawn-in-part" (not fixed: a limit on
// entities or work reached, or pieces too far out left out).
std::vector<Entity> hatchDrawing(const Hatch& h, Handle handle = 0, std::vector<Finding>* findings = nullptr);

// Replaces every hatch of the database by an INSERT (same handle, layer,
// colour) of a new anonymous block *X<n> holding its drawing; the insert
// carries the hatch's elevation and extrusion.  Returns how many; what the
// drawings could not do in full goes to `findings` (see hatchDrawing).
std::size_t replaceHatchesByBlocks(Database& db, std::vector<Finding>* findings = nullptr);

}  // namespace drawingdb

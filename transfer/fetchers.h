// Element fetchers of the output direction: one per entity type.  Each
// takes the element's table index and position (transfer_reader.h), seeks
// to the element, checks its keyword, reads its value lines in their fixed
// order and fills the record of its kind (elements/fetch_records.h): points with the
// reference point subtracted, the layer value turned into a layer number,
// colour, line style and line width mapped through the assignment tables.
// It also stamps the element table record at the index with the entity
// type, form and label (an index outside the table is not stamped).
//
// Results: 0 the element was read and the record filled; -1 the value lines
// ended early (end of file, a '@' line reached, or a value that did not
// convert; a '@' also reports warning 1000 with the fetcher's code); -99
// the keyword at the position is not one of the fetcher's kind, or the
// element is empty (a text without lines or characters), or it is not
// converted (a dimension with an unknown status or an arc length outside
// level PLUS).
//
// A position names either an element section ("@line 12 ...") or, for the
// parts of symbols, the value line that opens a part ("#symbol_pfeil",
// "#text"); TransferSymbolPart::position is such a position.  A part has
// no table record of its own: fetch it with index 0, so that the symbol's
// record keeps its stamp.
//
// Element layouts ([v]: present only when the file version is not 0; the
// common head is "[v] attribute text, [v] token, status, pen"):
//   point       head, x, y                      d_point: head, x, y, int, int
//   line        head, x1, y1, x2, y2, layer, style, width   (d_line: no layer)
//   circle      head, cx, cy, r, token, arc kind, sx, sy, ex, ey, layer, style, width
//   d_circle, d_fill_arc   head, cx, cy, sx, sy, ex, ey, style, width
//   d_arc_3p    head, three points ("x y" each), style, width
//   ellips      head, cx, cy, half axis a, half axis b, axis angle, start
//               angle, end angle (degrees), layer, style, width
//               (d_ellips, d_arc_ellips: the same without the layer)
//   spline      head, real, token, real, form, degree, control point count
//               n, n + degree + 1 knots (one real each), n control points
//               ("x y" each), n weights (one real each), width
//   plane_part  [v], [v], status, integer, layer, hatch kind, spacing, angle
//   contour_part head, layer, orientation      contour: layer
//   hatch       head, layer, style, width, count, count points ("x y")
//   d_polyline, d_fill_polygon, d_multiline  head, style, width, count, points
//   d_rectangle, d_fill_rectangle            head, style, width, two corners
//   d_triangle, d_nonfill_triangle           head, style, width, three corners
//   text, d_string_angle, d_string_angle_em, variable, measure: see the
//   records and fetchers.cpp.
#pragma once

#include <cstdint>

#include "elements/fetch_records.h"

int fetchPoint(std::int32_t index, std::int32_t position, TransferPoint& out);          // hse200
int fetchLine(std::int32_t index, std::int32_t position, TransferLine& out);            // hse240
int fetchCircle(std::int32_t index, std::int32_t position, TransferCircle& out);        // hse280
int fetchEllipse(std::int32_t index, std::int32_t position, TransferEllipse& out);      // hse320
int fetchSpline(std::int32_t index, std::int32_t position, TransferSpline& out);        // hse360
int fetchPlanePart(std::int32_t index, std::int32_t position, TransferPlanePart& out);  // hse400
int fetchText(std::int32_t index, std::int32_t position, TransferText& out);            // hse440
int fetchDimension(std::int32_t index, std::int32_t position, TransferDimension& out);  // hse500
int fetchGroup(std::int32_t index, std::int32_t position, TransferGroup& out);          // hse600
int fetchUserElement(std::int32_t index, std::int32_t position, TransferGroup& out);    // hse680
int fetchContour(std::int32_t index, std::int32_t position, TransferContour& out);      // hse700
int fetchHatch(std::int32_t index, std::int32_t position, TransferHatch& out);          // hse710
int fetchLayer(std::int32_t index, std::int32_t position, TransferLayer& out);          // hse888
int fetchSymbol(std::int32_t index, std::int32_t position, TransferSymbol& out);        // hse220
int fetchLeader(std::int32_t index, std::int32_t position, TransferLeader& out);        // hse214

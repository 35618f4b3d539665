// The mapping of DXF entities into the element table.  Each entity read by
// the DXF reader becomes one element of the IGES kind the conversion engine
// converts, with the typed parameter record that engine reads (the values in
// the order of the IGES parameter data) and a directory entry filled from
// the entity's common attributes.  After reading, the table looks as if an
// IGES file had been read, and the IGES conversion runs unchanged.
//
//   LINE 110, POINT 116, CIRCLE 100/0, ARC 100/1, TRACE and SOLID 106/63,
//   TEXT and MTEXT 212, SHAPE and INSERT 408, BLOCK 308, POLYLINE 106, 102
//   (with arc segments: a composite curve of lines and arcs) or 126
//   (spline fit), VIEWPORT 410, DIMENSION 216/202/206/222/218/444, ATTDEF
//   and ATTRIB 212 when their value is shown (else 6050 and 6051), 3DFACE
//   106/63 (its outline), or a line per visible edge when it hides some
//   (6000 when it hides all).
//
// Every mapping reads the entity the reader left in its store (dxf_store.h):
// the group store, and for a POLYLINE its vertices.  It returns 0 with the
// new element in `index`, or -1 (error 370) when no slot can be had.  The
// mapping only reads the store and the tables: it does not read the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dxf_in/dxf_store.h"
#include "elements/transform.h"
#include "iges_in/iges_annotation.h"

// Values of the DXF format both mappings of DXF entities (the own reader's
// and the toolkit's) use.
namespace DxfValues {
constexpr double kRadiansPerDegree = kPi / 180.0;
// Line weights of the directory entry: by layer or named line type, and by
// block.
constexpr std::int32_t kWeightNormal = 50;
constexpr std::int32_t kWeightByBlock = 25;
// A bulge smaller than this is a straight segment.
constexpr double kSmallestBulge = 1e-9;
// Lines of an MTEXT follow each other at this multiple of the text height.
constexpr double kMTextLineSpacing = 5.0 / 3.0;
}  // namespace DxfValues

// A note of DXF input: the note record and the font of its text style
// (the style's font file without its ".shx" ending).
struct DxfNoteRecord : NoteRecord {
  std::string fontName;
};

// The dimension type of group 70 (its low three bits) as an element type.
std::int32_t dimensionTypeOf(int flags);

// The transformation of an object coordinate system with the extrusion
// direction `normal` (the arbitrary axis rule of the DXF format).  false
// when the direction is the z axis (or unusable): no transformation.
bool arbitraryAxis(const Point3& normal, Transform& out);

// A new element of the type and form (in its record and its directory
// entry): 0 with its index, or -1 (error 370 under code) with index 0.
int newElement(const char* code, std::int32_t type, std::int32_t form, std::int32_t& index);

// The look of a text: height, width factor, slant and mirroring (1 about
// the axis across its base line, 2 about the base line), and its font.
struct TextLook {
  double height = 1.0;
  double widthFactor = 1.0;
  double slant = kPi / 2;  // upright
  int mirror = 0;
  std::string fontName;
};

// One string of a note (212) with the look, at angle (radians) from start;
// its box is as wide as the characters at the look's height and width.
NoteStringData noteString(const std::string& text, const TextLook& look, double angle, const Point3& start);

// The font of a text style's font file: the name without a ".shx" ending.
std::string styleFontName(std::string fontFile);

// The IGES record that carries an element's graphic attributes (colour,
// line font, level) in its typed record, or none.
GraphicAttributes* attributesOf(ParamRecord* record);

// The placement of an insert cell without its block's base point: the
// object system of normal, the insertion point, the rotation (degrees),
// the cell's offset in the array and the scales.
Transform insertPlacement(const Point3& insertion, double rotation, double columnOffset, double rowOffset,
                          double sx, double sy, double sz, const Point3& normal);

// Copious data of IP 2 (x, y, z triples).
void copiousValues(const std::vector<Point3>& points, std::vector<double>& v);

// The points of a polyline, closed by its first point again when closed
// (and of more than one vertex).
std::vector<Point3> polylinePoints(const std::vector<DxfVertex>& vertices, bool closed);

// true when a segment of the polyline is an arc (the bulge of the last
// vertex of an open polyline belongs to no segment).
bool hasBulge(const std::vector<DxfVertex>& vertices, bool closed);

// The values of a rational B-spline (126): upper index K = n-1, degree M,
// the four flags, knots, weights, control points, parameter range and
// normal.  Knots that do not fit the control points are replaced by
// clamped uniform ones; weights that are all equal (or missing) make a
// polynomial spline.
void splineValues(const std::vector<Point3>& controls, int degree, std::vector<double> knots,
                  const std::vector<double>& weights, bool planar, bool closed, bool periodic, const Point3& normal,
                  std::vector<double>& v);

// One segment of a polyline from p to q: a line (110), or with a bulge (the
// tangent of a quarter of the included angle, negative for clockwise) an
// arc (100 form 1) that runs counterclockwise, with the IGES parameter
// values of either.  false for a segment of no length.
bool segmentValues(const Point3& p, const Point3& q, double bulge, std::int32_t& type,
                   std::vector<double>& values);

// ldv800: line number, level, colour, line font, father links and the
// graphic attributes of the typed record.
int applyCommonAttributes(std::int32_t index, long line, std::int32_t father);
// After applyCommonAttributes of a mapped element: its contour members
// (DxfReaderState::members) take its directory entry and attributes.
void applyMemberAttributes(std::int32_t index);
// ldv820: the element's matrix from the extrusion direction of the store.
int applyExtrusion(std::int32_t index);

int mapLine(std::int32_t& index);       // ldv801
int mapPoint(std::int32_t& index);      // ldv802
int mapCircle(std::int32_t& index);     // ldv803
int mapArc(std::int32_t& index);        // ldv804
int mapSolid(std::int32_t& index);      // ldv806: TRACE and SOLID
int mapText(std::int32_t& index);       // ldv807
int mapMText(std::int32_t& index);      // ldv807 (twin of mapText)
int mapShape(std::int32_t& index);      // ldv808
int mapBlock(std::int32_t& index);      // ldv809
int mapInsert(std::int32_t& index);     // ldv810
// The further cells of an array insert (columns 70, rows 71, spacings 44,
// 45), each an instance of its own: -1 when the file's budget of copies is
// spent (warning 790) or memory fails.
int mapInsertArray(std::int32_t first, std::vector<std::int32_t>& copies);
int mapAttDef(std::int32_t& index);     // ldv811
int mapAttrib(std::int32_t& index);     // ldv812
// ldv813: the polyline of the group store through the vertices the reader
// read after it.
int mapPolyline(std::int32_t& index);
int mapViewport(std::int32_t& index);   // ldv817
int mapDimension(std::int32_t& index);  // ldv818
int mapDrawing(std::int32_t& index);    // ldv819
int mapFace(std::int32_t& index);       // ldv805: 3DFACE

// After linking: the levels every viewport's view hides (its frozen layers).
void makeViewLevelLists();

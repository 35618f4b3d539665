// The data of dimensions and hatches, plain aggregates like every entity
// of model.h (which includes this file).  The functions that draw them
// live in dimension_block.h and hatch_fill.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drawingdb {

// DIMENSION: the points of all six kinds share members; what each point
// means depends on the kind (flags & 7):
//
//   kind                 definition (10)       defPoint2 (13)     defPoint3 (14)     defPoint4 (15)    arcPoint (16)
//   0 linear (rotated)   on the dimension line extension origin 1 extension origin 2 -                 -
//   1 aligned            on the dimension line extension origin 1 extension origin 2 -                 -
//   2 angular, 2 lines   second line, end      first line, start  first line, end    second line, start on the arc
//   3 diameter           far end of the chord  -                  -                  point on curve    -
//   4 radius             centre                -                  -                  point on curve    -
//   5 angular, 3 points  on the arc            extension origin 1 extension origin 2 vertex            -
//   6 ordinate           origin of the UCS     feature point      leader end         -                 -
//
// The anonymous block named by `block` holds the drawn dimension (lines,
// arrows, text); dimension_block.h builds it from these points.
struct Dimension {
  std::string block;
  std::string style = "Standard";
  Point3 definition;
  Point3 textMid;         // middle of the text
  Point3 cloneInsertion;  // insertion point of clones (baseline and continued dimensions)
  std::int32_t flags = 0; // kind in bits 0-2; 32 block of this dimension only, 64 ordinate of X, 128 text moved by the user
  std::int32_t attachment = 5;  // of the text: 1 top left ... 5 middle centre ... 9 bottom right
  std::int32_t lineSpacingStyle = 1;
  double lineSpacing = 1;
  double measurement = 0;  // lengths in drawing units, angles in radians
  std::string text;        // override: empty or "<>" the measurement, "<>" inside it replaced by it
  double textRotation = 0;
  double horizontalDirection = 0;
  Point3 extrusion = kNormalZ;
  Point3 defPoint2;
  Point3 defPoint3;
  Point3 defPoint4;
  Point3 arcPoint;
  double rotation = 0;      // linear: angle of the dimension line (degrees)
  double oblique = 0;       // linear and aligned: angle of the extension lines (degrees, 0 = perpendicular)
  double leaderLength = 0;  // radius and diameter
};

enum class DimensionKind : std::int32_t { Linear, Aligned, Angular, Diameter, Radius, Angular3Point, Ordinate };
inline DimensionKind dimensionKind(const Dimension& d) {
  const std::int32_t k = d.flags & 7;
  return k <= 6 ? static_cast<DimensionKind>(k) : DimensionKind::Linear;
}

// One edge of an edge boundary path of a hatch.
struct HatchEdge {
  std::int32_t type = 1;  // 1 line, 2 circular arc, 3 elliptic arc, 4 spline
  Point3 start;           // line: start; arcs: centre
  Point3 end;             // line: end; elliptic arc: end of the major axis relative to the centre
  double radius = 0;      // circular arc: radius; elliptic arc: ratio of minor to major axis
  double startAngle = 0;  // arcs, degrees (elliptic arcs: parameters in degrees)
  double endAngle = 360;
  // A clockwise arc holds its angles mirrored, as files do: the arc's
  // points lie at the negated angles (a clockwise arc over 10 to 80
  // degrees is held as 280 to 350).
  bool counterClockwise = true;
  std::int32_t degree = 3;  // spline
  bool rational = false;
  bool periodic = false;
  std::vector<double> knots;
  std::vector<Point3> controlPoints;
  std::vector<double> weights;  // empty, or one per control point
  std::vector<Point3> fitPoints;
  Point3 startTangent;
  Point3 endTangent;
};

struct HatchVertex {
  Point3 location;  // X and Y
  double bulge = 0;
};

// A boundary loop: a polyline (flags & 2) or a chain of edges.
struct HatchPath {
  std::int32_t flags = 1;  // 1 external, 2 polyline, 4 derived, 8 text box, 16 outermost
  bool closed = true;      // polyline paths
  std::vector<HatchVertex> vertices;
  std::vector<HatchEdge> edges;
  std::vector<Handle> sources;  // the entities the loop was made from
};

// A line family of the pattern, in drawing units: lines through `base +
// k * offset` at `angle` degrees, dashed by `dashes` (negative: gap, 0: dot).
struct HatchLine {
  double angle = 0;
  double baseX = 0;
  double baseY = 0;
  double offsetX = 0;
  double offsetY = 1;
  std::vector<double> dashes;
};

// HATCH: boundary loops in the entity's own coordinate system at the
// elevation of `elevation.z`.
struct Hatch {
  Point3 elevation;
  Point3 extrusion = kNormalZ;
  std::string pattern = "SOLID";
  std::int32_t solidFill = 1;
  std::int32_t associative = 0;
  std::vector<HatchPath> paths;
  std::int32_t style = 0;        // 0 odd parity, 1 outermost, 2 entire area
  std::int32_t patternType = 1;  // 0 user-defined, 1 predefined, 2 custom
  double angle = 0;              // degrees
  double scale = 1;              // scale, or spacing of user-defined lines
  std::int32_t doubled = 0;      // user-defined: a second family at right angles
  std::vector<HatchLine> lines;
  double pixelSize = 0;
  std::vector<Point3> seeds;
};

}  // namespace drawingdb

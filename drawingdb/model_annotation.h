// Entities of R13 and later drawings beyond plain geometry (SPLINE, MTEXT,
// LEADER), the paper-space VIEWPORT of R11 on, and the GROUP object of
// the named-object dictionary.  Plain aggregates like the other kinds of
// model.h, declared field by field in schema_annotation.cpp.  Included by
// model.h where Point3 is known; include model.h, not this file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drawingdb/status.h"

namespace drawingdb {

// SPLINE: a NURBS curve by its control points and knots, or a curve
// through fit points, or both.  World coordinates.
struct Spline {
  Point3 normal = kNormalZ;  // planar splines only
  std::int32_t flags = 0;    // 1 closed, 2 periodic, 4 rational, 8 planar, 16 linear
  std::int32_t degree = 3;
  double knotTolerance = 1e-10;
  double controlTolerance = 1e-10;
  double fitTolerance = 1e-10;
  Point3 startTangent;  // fit splines; zero: not given
  Point3 endTangent;
  std::vector<double> knots;
  std::vector<double> weights;  // empty: every weight 1
  std::vector<Point3> controlPoints;
  std::vector<Point3> fitPoints;
};

// MTEXT: a paragraph text with inline formatting codes ("\P" breaks a
// paragraph), placed by one of nine attachment points.
struct MText {
  Point3 insertion;
  double height = 2.5;
  double referenceWidth = 0;  // 0: lines break only where the text breaks them
  std::int32_t attachment = 1;  // 1 top-left ... 9 bottom-right
  std::int32_t direction = 1;   // 1 left to right, 3 top to bottom, 5 by style
  std::string value;
  std::string style = "Standard";
  Point3 extrusion = kNormalZ;
  Point3 xAxis{1, 0, 0};  // direction of the text's base line (world)
  double rotation = 0;     // read only: files may give the direction as an angle
  std::int32_t lineSpacingStyle = 1;  // 1 at least, 2 exactly
  double lineSpacing = 1;             // factor of the standard spacing
};

// LEADER: a line or spline path from an arrow to its annotation.
struct Leader {
  std::string dimensionStyle = "Standard";
  std::int32_t arrowhead = 1;  // 0 none, 1 drawn at the first vertex
  std::int32_t pathType = 0;   // 0 straight segments, 1 spline
  std::int32_t creation = 3;   // 0 text, 1 tolerance, 2 block, 3 no annotation
  std::int32_t hookDirection = 0;
  std::int32_t hookLine = 0;
  double textHeight = 0;
  double textWidth = 0;
  std::vector<Point3> vertices;  // world coordinates
  std::int32_t colour = 256;     // of the path when it has no annotation
  Handle annotation = 0;         // MTEXT, TOLERANCE or INSERT
  Point3 normal = kNormalZ;
  Point3 horizontalDirection{1, 0, 0};
  Point3 blockOffset;
  Point3 annotationOffset;
};

// VIEWPORT: a window of paper space onto model space.  The viewport with
// id 1 is the view of paper space itself.  Status flags as files of 2000
// and later store them: 1 perspective, 2 front clip, 4 back clip, 8 UCS
// follow, 16 front clip not at the eye, 32 UCS icon shown, 64 UCS icon at
// the origin, 128 fast zoom, 256 snap, 512 grid, 1024 isometric snap,
// 2048 hidden in plots, 4096/8192 isometric pair top/right.
struct Viewport {
  Point3 center;  // paper space
  double width = 0;
  double height = 0;
  std::int32_t status = 1;  // -1 on but off screen, 0 off, > 0 stacking order
  std::int32_t id = 2;
  Point3 viewCenter;  // model space, X and Y
  Point3 snapBase;
  Point3 snapSpacing{10, 10, 0};
  Point3 gridSpacing{10, 10, 0};
  Point3 viewDirection = kNormalZ;
  Point3 viewTarget;
  double lensLength = 50;
  double frontClip = 0;
  double backClip = 0;
  double viewHeight = 1;  // model space units shown from bottom to top
  double snapAngle = 0;
  double twist = 0;
  std::int32_t circleZoom = 1000;
  std::vector<Handle> frozenLayers;  // layer records frozen in this viewport
  std::int32_t flags = 32800;
  std::string plotStyleSheet;
  std::int32_t renderMode = 0;
  std::int32_t ucsPerViewport = 1;
  std::int32_t ucsIcon = 0;
  Point3 ucsOrigin;
  Point3 ucsXAxis{1, 0, 0};
  Point3 ucsYAxis{0, 1, 0};
  std::int32_t orthoType = 0;
  double elevation = 0;
};

// GROUP: a named selection of entities; its name is its key in the
// ACAD_GROUP dictionary.
struct Group {
  std::string description;
  std::int32_t unnamed = 0;  // 1: an anonymous group ("*A<n>")
  std::int32_t selectable = 1;
  std::vector<Handle> entities;
};

}  // namespace drawingdb

// A small reader of KPL scripts for tests: it follows the chain of point
// statements (origin, relative points, same-x / same-y points and point
// aliases, with numbers or length variables as offsets) and collects the
// element statements with their resolved geometry, so that a test can
// compare what a script builds with the drawing it came from.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kpl {

struct Point {
  double x = 0.0;
  double y = 0.0;
};

struct Line {
  int number = 0;
  Point start, end;
};

// DTCreateCircle: centre and radius as written.
struct Circle {
  int number = 0;
  Point centre;
  double radius = 0.0;
};

// DTCreateArc (three points) and DTCreateArcCenter: the centre and radius
// are derived from the points (three-point arcs) or taken as written.
struct Arc {
  int number = 0;
  Point start, middle, end, centre;
  double radius = 0.0;
  bool threePoint = true;
};

// DTCreateEllipse and DTCreateEllipseArc.
struct Ellipse {
  int number = 0;
  Point centre, axis1, axis2;
  bool isArc = false;
  Point start, end;
};

struct Spline {
  int number = 0;
  bool periodic = false;
  int degree = 0;
  std::vector<Point> controlPoints;
};

// DTCreateTextAbsolute, DTCreateTextAnglepos and DTCreateTextBlock: the
// string's bytes with the script's quoting undone (the lines of a stacked
// block joined by '\n', the characters of a vertical string side by
// side), its start point (for a block, the point its line above was made
// from), height, angle and width.  Points made in a world turned for a
// string (DTCreateWorldRotaScale) are followed along its axes.
struct Text {
  int number = 0;
  std::string text;
  std::string anchor;  // "beginv", "middlet", ...
  Point position;
  double height = 0.0;
  double angle = 0.0;  // degrees
  double width = 0.0;
};

struct Script {
  std::map<int, Point> points;      // E<n> of every point statement
  std::map<int, double> lengths;    // L<k>
  std::vector<Line> lines;
  std::vector<Circle> circles;
  std::vector<Arc> arcs;
  std::vector<Ellipse> ellipses;
  std::vector<Spline> splines;
  std::vector<Text> texts;
  int contours = 0;        // DTCreateContourOfElements and DTCreateContourUnion
  int planes = 0;          // DTCreatePlane and DTCreatePlaneOfContour
  int unknownElements = 0;  // statements that name "Unknown("
  int invisibleStatements = 0;  // DTSetInVisible
  int statements = 0;       // every statement read
  bool closed = false;      // the closing DTRestoreSystemDefaults() was seen
  std::vector<std::string> errors;  // references to undefined numbers, bad arguments
};

// Reads a script text.  unitScale divides every written offset and radius
// back into the drawing's units.
Script readScript(const std::string& text, double unitScale = 1.0);
// Reads a script file; a file that cannot be read gives one error.
Script readScriptFile(const std::string& path, double unitScale = 1.0);

// Undoes the quoting of a string literal's contents: \" and \\, "@@"
// for '@' and "@nnn" for the byte nnn ("@+-" stays as it is).
std::string unquoteText(const std::string& quoted);

// Splits "a,{b,c},\"d,e\",f(g,h)" at its top-level commas.
std::vector<std::string> splitArguments(const std::string& text);

}  // namespace kpl

// What another DXF reader (python3 with ezdxf) finds in a DXF file, and the
// comparison of it with the geometry of a script read back through its
// point chain (iges_in/kpl_reader.h).
//
// The peer lists model space and the active sheet (without its viewports)
// with every INSERT and DIMENSION expanded into its block's entities, since
// the script expands block instances in place (the default subfigure mode
// of the input directions); what it finds in dimensions it sets apart.
// One python process reads one file.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "iges_in/kpl_reader.h"

namespace dxfpeer {

// The script writer takes a point within its tolerance (0.0001) for one
// already written: a point may move by that much.
constexpr double kTolerance = 1.5e-4;
constexpr double kShortest = 0.0001;  // shorter lines are not written

// An ellipse or elliptic arc: centre, end of the major axis, ratio of the
// axes and, for an arc, its end points.
struct Ellipse {
  kpl::Point centre, major;
  double ratio = 1.0;
  bool isArc = false;
  kpl::Point start, end;
};

// A string of a TEXT, ATTRIB or of one line of an MTEXT, and where it
// stands: 'L' a text placed by its start (left on the base line, or
// aligned or fitted between two points) at `position`; 'J' a justified
// text whose alignment point is `position`; 'M' one of the `lines` lines
// of a paragraph text at `position`.
struct Text {
  char placement = 'L';
  std::string value;  // ISO 8859-1 bytes
  kpl::Point position;
  double height = 0.0;
  int lines = 1;
};

// Items set apart (see Drawing).
struct Extra {
  std::vector<kpl::Line> lines;
  std::vector<kpl::Arc> circles, arcs;  // circles: centre and radius only
  std::vector<kpl::Point> points;  // also where the texts stand
};

struct Drawing {
  std::vector<kpl::Line> lines;             // LINE
  std::vector<kpl::Line> polylineLines;     // straight segments of polylines, outlines of SOLID and TRACE
  std::vector<kpl::Circle> circles;
  std::vector<kpl::Arc> arcs;               // ARC and the bulges of polylines; middle: half way along
  std::vector<kpl::Point> points;
  std::vector<Ellipse> ellipses;
  std::vector<kpl::Spline> splines;         // control points
  std::vector<Text> texts;                  // TEXT, MTEXT and the ATTRIBs of inserts
  // What readers draw in their own ways: the drawn parts of dimensions (a
  // reader may write a live dimension instead), and the edges of 3DFACEs
  // and of the faces of polyface meshes, the chains of the meshes'
  // corners, and 3DLINEs.
  Extra dimensions, faces;
};

// True when /usr/bin/python3 imports ezdxf (asked once).
bool available();
// Reads the file with the peer; a failed read fails the calling test.
Drawing read(const std::string& file);

bool near(const kpl::Point& a, const kpl::Point& b, double scale = 1.0);
bool sameLine(const kpl::Line& a, const kpl::Line& b);
bool sameCircle(const kpl::Circle& a, const kpl::Circle& b);
// Centre and radius, the end points in either order (an arc of a mirrored
// instance runs the other way), and which of the two arcs between them.
bool sameArc(const kpl::Arc& a, const kpl::Arc& b);
bool sameEllipse(const Ellipse& a, const kpl::Ellipse& b);
bool sameSpline(const kpl::Spline& a, const kpl::Spline& b);
// The same string, and: a text placed by its start written there; the
// alignment point of a justified text inside the box of the written
// string; the point of a paragraph text within two heights per line of
// the box of each of its lines.  Converters place justified strings from
// estimated widths, so their points are judged by the box.
bool sameText(const Text& a, const kpl::Text& b);
// The expected texts not among the written ones (each used once).
std::vector<Text> missingTexts(const std::vector<Text>& expected, const std::vector<kpl::Text>& written);

// The expected items not found among the written ones (each written item
// used once).  Both sides are sorted by a key (an x coordinate) so that
// large files stay fast.
template <typename E, typename W, typename KeyE, typename KeyW, typename Same>
std::vector<E> missing(const std::vector<E>& expected, std::vector<W> written, KeyE keyE, KeyW keyW, Same same) {
  std::sort(written.begin(), written.end(), [&](const W& a, const W& b) { return keyW(a) < keyW(b); });
  std::vector<bool> used(written.size(), false);
  std::vector<E> out;
  for (const E& e : expected) {
    const double k = keyE(e);
    const double tol = kTolerance * std::max(1.0, std::fabs(k)) * 10;
    auto it = std::lower_bound(written.begin(), written.end(), k - tol,
                               [&](const W& a, double v) { return keyW(a) < v; });
    bool found = false;
    for (; it != written.end() && keyW(*it) <= k + tol; ++it) {
      const std::size_t at = static_cast<std::size_t>(it - written.begin());
      if (!used[at] && same(e, *it)) {
        used[at] = found = true;
        break;
      }
    }
    if (!found) out.push_back(e);
  }
  return out;
}

template <typename T, typename Key, typename Same>
std::vector<T> missing(const std::vector<T>& expected, std::vector<T> written, Key key, Same same) {
  return missing(expected, std::move(written), key, key, same);
}

// Keys for missing().
inline double lineKey(const kpl::Line& l) { return l.start.x < l.end.x ? l.start.x : l.end.x; }
inline double centreKey(const kpl::Circle& c) { return c.centre.x; }
inline double arcKey(const kpl::Arc& a) { return a.centre.x; }
inline double pointKey(const kpl::Point& p) { return p.x; }

// The written arcs as circles (centre and radius).
std::vector<kpl::Circle> asCircles(const std::vector<kpl::Arc>& arcs);
// The places of points: a point statement is written once per place.
std::vector<kpl::Point> places(const std::vector<kpl::Point>& points);

// A line "n of m <what> missing, first ..." for a failed comparison.
std::string describe(std::size_t lost, std::size_t of, const char* what, const kpl::Point& first);

}  // namespace dxfpeer

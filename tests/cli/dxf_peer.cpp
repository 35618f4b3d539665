#include "cli/dxf_peer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <unordered_map>

#include "cli/run_program.h"

namespace dxfpeer {
namespace {

// One line per item, WCS coordinates; texts as hex of their ISO 8859-1
// bytes, each line of a paragraph text on its own.
const char* const kListingScript = R"(
import sys, math
import ezdxf
from ezdxf.math import Vec3

def flat(n):
    n = Vec3(n).normalize()
    return abs(n.x) <= 1e-9 and abs(n.y) <= 1e-9

def text(kind, value, p, height, lines, out):
    if value:
        b = value.encode('latin-1', 'replace').hex()
        out.append('T %s %s %.12g %.12g %.12g %d' % (kind, b, p.x, p.y, height, lines))

def arc(e, tag, out):
    if not flat(e.dxf.extrusion):
        return  # tilted: an ellipse in the drawing
    c = e.ocs().to_wcs(e.dxf.center)
    s, x = e.start_point, e.end_point
    # A point half way along the arc (counter-clockwise in its own system).
    a0, a1 = e.dxf.start_angle, e.dxf.end_angle
    half = math.radians(a0 + ((a1 - a0) % 360.0) / 2.0)
    m = e.ocs().to_wcs(Vec3(e.dxf.center) + Vec3(math.cos(half), math.sin(half), 0) * e.dxf.radius)
    out.append('%s %.12g %.12g %.12g %.12g %.12g %.12g %.12g %.12g %.12g' %
               (tag, c.x, c.y, e.dxf.radius, s.x, s.y, x.x, x.y, m.x, m.y))

# What readers draw in their own ways is listed with a leading '~' (the
# parts of dimensions) or '%' (faces, meshes and 3DLINEs).
class Apart:
    def __init__(self, out):
        self.out = out
    def append(self, line):
        self.out.append('~' + line)

def face_line(a, b, out):
    out.append('%%L %.12g %.12g %.12g %.12g' % (a.x, a.y, b.x, b.y))

def emit(e, out, depth=0):
    t = e.dxftype()
    if t in ('INSERT', 'DIMENSION'):
        if depth > 20:
            return
        # A dimension may be drawn from its block or written as a live one.
        inner = Apart(out) if t == 'DIMENSION' and not isinstance(out, Apart) else out
        for v in e.virtual_entities():
            emit(v, inner, depth + 1)
        if t == 'INSERT':
            for a in e.attribs:
                emit(a, out, depth + 1)
        return
    if t == 'LINE':
        s, x = e.dxf.start, e.dxf.end
        out.append('L %.12g %.12g %.12g %.12g' % (s.x, s.y, x.x, x.y))
    elif t == 'CIRCLE':
        if flat(e.dxf.extrusion):
            c = e.ocs().to_wcs(e.dxf.center)
            out.append('C %.12g %.12g %.12g' % (c.x, c.y, e.dxf.radius))
    elif t == 'ARC':
        arc(e, 'A', out)
    elif t == 'POINT':
        p = e.dxf.location
        out.append('P %.12g %.12g' % (p.x, p.y))
    elif t == 'ELLIPSE':
        c, m = e.dxf.center, e.dxf.major_axis
        full = abs(abs(e.dxf.end_param - e.dxf.start_param) - 2 * math.pi) < 1e-9
        tool = e.construction_tool()
        s, x = tool.start_point, tool.end_point
        out.append('E %.12g %.12g %.12g %.12g %.12g %d %.12g %.12g %.12g %.12g' %
                   (c.x, c.y, c.x + m.x, c.y + m.y, e.dxf.ratio, 0 if full else 1, s.x, s.y, x.x, x.y))
    elif t == 'SPLINE':
        cps = [Vec3(p) for p in e.control_points]
        if cps:
            out.append('S %d %d %d %s' % (e.dxf.degree, 1 if e.closed else 0, len(cps),
                                          ' '.join('%.12g %.12g' % (p.x, p.y) for p in cps)))
    elif t in ('TEXT', 'ATTRIB'):
        # Justified texts are placed by their alignment point.
        h, v = e.dxf.halign, e.dxf.valign
        if (h == 0 and v == 0) or h in (3, 5):
            text('L', e.dxf.text, e.ocs().to_wcs(e.dxf.insert), e.dxf.height, 1, out)
        else:
            text('J', e.dxf.text, e.ocs().to_wcs(e.dxf.align_point), e.dxf.height, 1, out)
    elif t == 'MTEXT':
        lines = e.plain_text().split('\n')
        for line in lines:
            text('M', line, e.dxf.insert, e.dxf.char_height, len(lines), out)
    elif t in ('SOLID', 'TRACE'):
        # The outline, corners in the order 1-2-4-3.
        v = [e.ocs().to_wcs(e.dxf.get(k)) for k in ('vtx0', 'vtx1', 'vtx3', 'vtx2')]
        for a, b in zip(v, v[1:] + v[:1]):
            out.append('Q %.12g %.12g %.12g %.12g' % (a.x, a.y, b.x, b.y))
    elif t == '3DFACE':
        v = [e.dxf.vtx0, e.dxf.vtx1, e.dxf.vtx2, e.dxf.vtx3]
        for a, b in zip(v, v[1:] + v[:1]):
            face_line(a, b, out)
    elif t == '3DLINE':
        # Kept by the peer as tags only.
        p = {}
        for sub in e.xtags.subclasses:
            for tag in sub:
                if tag.code in (10, 11):
                    p[tag.code] = Vec3(tag.value)
        if 10 in p and 11 in p:
            face_line(p[10], p[11], out)
    elif t == 'POLYLINE' and e.is_poly_face_mesh:
        corners = [v.dxf.location for v in e.vertices if v.dxf.flags & 64]
        for a, b in zip(corners, corners[1:]):
            face_line(a, b, out)
        for face in e.faces():
            v = [x.dxf.location for x in face[:-1]]  # the last is the face record
            for a, b in zip(v, v[1:] + v[:1]):
                face_line(a, b, out)
    elif (t == 'POLYLINE' and e.is_2d_polyline and not (e.dxf.flags & 4)) or t == 'LWPOLYLINE':
        for v in e.virtual_entities():
            if v.dxftype() == 'ARC':
                arc(v, 'A', out)
            elif v.dxftype() == 'LINE':
                s, x = v.dxf.start, v.dxf.end
                out.append('Q %.12g %.12g %.12g %.12g' % (s.x, s.y, x.x, x.y))

doc = ezdxf.readfile(sys.argv[1])
out = []
for e in doc.modelspace():
    emit(e, out)
for e in doc.layouts.active_layout():
    if e.dxftype() != 'VIEWPORT':
        emit(e, out)
print('\n'.join(out))
)";

std::string fromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

kpl::Line readLine(std::istream& in) {
  kpl::Line l;
  in >> l.start.x >> l.start.y >> l.end.x >> l.end.y;
  return l;
}

bool longEnough(const kpl::Line& l) { return std::hypot(l.end.x - l.start.x, l.end.y - l.start.y) > kShortest; }

double scaleOf(std::initializer_list<double> values) {
  double s = 0.0;
  for (const double v : values) s = std::max(s, std::fabs(v));
  return s;
}

}  // namespace

bool available() {
  static const bool yes = [] {
    if (!std::filesystem::exists("/usr/bin/python3")) return false;
    TempDir dir;
    return runProgram("/usr/bin/python3", {"-c", "import ezdxf"}, dir.path()).status == 0;
  }();
  return yes;
}

Drawing read(const std::string& file) {
  TempDir dir;
  const std::string script = dir.write("listing.py", kListingScript);
  const ProgramResult r = runProgram("/usr/bin/python3", {script, file}, dir.path(), "", 300);
  EXPECT_EQ(r.status, 0) << r.err;
  Drawing d;
  std::istringstream in(r.out);
  std::string kind;
  while (in >> kind) {
    if (kind[0] == '~' || kind[0] == '%') {
      // Lines, circles, arcs and points set apart; the rest of the line is
      // not needed.
      Extra& extra = kind[0] == '~' ? d.dimensions : d.faces;
      kind.erase(0, 1);
      if (kind == "L" || kind == "Q") {
        const kpl::Line l = readLine(in);
        if (longEnough(l)) extra.lines.push_back(l);
      } else if (kind == "C" || kind == "A") {
        kpl::Arc a;
        in >> a.centre.x >> a.centre.y >> a.radius;
        if (kind == "A") in >> a.start.x >> a.start.y >> a.end.x >> a.end.y >> a.middle.x >> a.middle.y;
        (kind == "C" ? extra.circles : extra.arcs).push_back(a);
      } else if (kind == "P" || kind == "T") {
        // A point, or where a text stands.
        std::string placement, hex;
        if (kind == "T") in >> placement >> hex;
        kpl::Point p;
        in >> p.x >> p.y;
        extra.points.push_back(p);
      }
      std::string rest;
      std::getline(in, rest);
      continue;
    }
    if (kind == "L" || kind == "Q") {
      const kpl::Line l = readLine(in);
      if (longEnough(l)) (kind == "L" ? d.lines : d.polylineLines).push_back(l);
    } else if (kind == "C") {
      kpl::Circle c;
      in >> c.centre.x >> c.centre.y >> c.radius;
      d.circles.push_back(c);
    } else if (kind == "A") {
      kpl::Arc a;  // its middle is half way along it
      in >> a.centre.x >> a.centre.y >> a.radius >> a.start.x >> a.start.y >> a.end.x >> a.end.y >> a.middle.x >>
          a.middle.y;
      d.arcs.push_back(a);
    } else if (kind == "P") {
      kpl::Point p;
      in >> p.x >> p.y;
      d.points.push_back(p);
    } else if (kind == "E") {
      Ellipse e;
      int isArc = 0;
      in >> e.centre.x >> e.centre.y >> e.major.x >> e.major.y >> e.ratio >> isArc >> e.start.x >> e.start.y >>
          e.end.x >> e.end.y;
      e.isArc = isArc != 0;
      d.ellipses.push_back(e);
    } else if (kind == "S") {
      kpl::Spline s;
      int closed = 0;
      std::size_t count = 0;
      in >> s.degree >> closed >> count;
      s.periodic = closed != 0;
      s.controlPoints.resize(count);
      for (kpl::Point& p : s.controlPoints) in >> p.x >> p.y;
      d.splines.push_back(s);
    } else if (kind == "T") {
      Text t;
      std::string hex;
      in >> t.placement >> hex >> t.position.x >> t.position.y >> t.height >> t.lines;
      t.value = fromHex(hex);
      d.texts.push_back(t);
    } else {
      ADD_FAILURE() << "unknown peer line " << kind;
      break;
    }
  }
  return d;
}

bool near(const kpl::Point& a, const kpl::Point& b, double scale) {
  const double tol = kTolerance * std::max(1.0, scale);
  return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol;
}

bool sameLine(const kpl::Line& a, const kpl::Line& b) {
  const double scale = scaleOf({a.start.x, a.start.y, a.end.x, a.end.y});
  return (near(a.start, b.start, scale) && near(a.end, b.end, scale)) ||
         (near(a.start, b.end, scale) && near(a.end, b.start, scale));
}

bool sameCircle(const kpl::Circle& a, const kpl::Circle& b) {
  const double scale = scaleOf({a.centre.x, a.centre.y, a.radius});
  return near(a.centre, b.centre, scale) && std::fabs(a.radius - b.radius) <= kTolerance * std::max(1.0, scale);
}

namespace {

constexpr double kTwoPi = 2.0 * 3.14159265358979323846;

double angleAt(const kpl::Point& centre, const kpl::Point& p) { return std::atan2(p.y - centre.y, p.x - centre.x); }

// The counter-clockwise turn from angle a to angle b, in [0, 2 pi).
double turn(double a, double b) {
  const double t = std::fmod(b - a, kTwoPi);
  return t < 0.0 ? t + kTwoPi : t;
}

// Whether `p` lies on the arc that runs from `start` through `middle` to
// `end` about `centre` (in the sense of its angle only).
bool onArc(const kpl::Point& centre, const kpl::Point& start, const kpl::Point& middle, const kpl::Point& end,
           const kpl::Point& p, double slack) {
  const double s = angleAt(centre, start), e = angleAt(centre, end), m = angleAt(centre, middle);
  const double q = angleAt(centre, p);
  if (turn(s, m) <= turn(s, e)) return turn(s, q) <= turn(s, e) + slack;  // counter-clockwise
  return turn(e, q) <= turn(e, s) + slack;
}

// A point of the arc other than its ends: the middle of a three-point
// arc, half way counter-clockwise for an arc by its centre.
kpl::Point pointOn(const kpl::Arc& a) {
  if (a.threePoint) return a.middle;
  const double s = angleAt(a.centre, a.start);
  const double half = s + turn(s, angleAt(a.centre, a.end)) / 2.0;
  return kpl::Point{a.centre.x + a.radius * std::cos(half), a.centre.y + a.radius * std::sin(half)};
}

}  // namespace

bool sameArc(const kpl::Arc& a, const kpl::Arc& b) {
  if (!sameCircle(kpl::Circle{0, a.centre, a.radius}, kpl::Circle{0, b.centre, b.radius})) return false;
  const double scale = scaleOf({a.centre.x, a.centre.y, a.radius});
  if (!(near(a.start, b.start, scale) && near(a.end, b.end, scale)) &&
      !(near(a.start, b.end, scale) && near(a.end, b.start, scale)))
    return false;
  // The same end points bound two arcs: a point of the one lies on the
  // other.
  const double slack = a.radius > 0.0 ? kTolerance * std::max(1.0, scale) / a.radius : 0.0;
  return onArc(a.centre, a.start, pointOn(a), a.end, pointOn(b), slack);
}

bool sameEllipse(const Ellipse& a, const kpl::Ellipse& b) {
  if (a.isArc != b.isArc) return false;
  const double scale = scaleOf({a.centre.x, a.centre.y, a.major.x, a.major.y});
  if (!near(a.centre, b.centre, scale)) return false;
  // The major axis may be written towards either end.
  const kpl::Point opposite{2 * a.centre.x - a.major.x, 2 * a.centre.y - a.major.y};
  if (!near(a.major, b.axis1, scale) && !near(opposite, b.axis1, scale)) return false;
  const double major = std::hypot(a.major.x - a.centre.x, a.major.y - a.centre.y);
  const double minor = std::hypot(b.axis2.x - b.centre.x, b.axis2.y - b.centre.y);
  if (std::fabs(major * a.ratio - minor) > kTolerance * std::max(1.0, scale)) return false;
  if (!a.isArc) return true;
  return (near(a.start, b.start, scale) && near(a.end, b.end, scale)) ||
         (near(a.start, b.end, scale) && near(a.end, b.start, scale));
}

bool sameSpline(const kpl::Spline& a, const kpl::Spline& b) {
  const std::size_t n = a.controlPoints.size();
  if (a.degree != b.degree || n != b.controlPoints.size()) return false;
  // The control points in their order or, for a curve written the other
  // way round, in the reverse order.
  bool forward = true, backward = true;
  for (std::size_t i = 0; i < n; ++i) {
    const kpl::Point& p = a.controlPoints[i];
    forward = forward && near(p, b.controlPoints[i], scaleOf({p.x, p.y}));
    backward = backward && near(p, b.controlPoints[n - 1 - i], scaleOf({p.x, p.y}));
  }
  return forward || backward;
}

bool sameText(const Text& a, const kpl::Text& b) {
  if (a.value != b.text) return false;
  if (a.placement == 'L') return near(a.position, b.position, scaleOf({a.position.x, a.position.y}));
  // The reference point in the written string's box (along its base line
  // from its start, up by its height), grown by the reach of the kind.
  const double reach = a.placement == 'J' ? 0.1 * a.height : 2.0 * a.height * a.lines;
  const double tol = reach + kTolerance * std::max(1.0, scaleOf({a.position.x, a.position.y}));
  const double angle = b.angle * 3.14159265358979323846 / 180.0;
  const double dx = a.position.x - b.position.x, dy = a.position.y - b.position.y;
  const double u = dx * std::cos(angle) + dy * std::sin(angle);
  const double v = -dx * std::sin(angle) + dy * std::cos(angle);
  return u >= -tol && u <= b.width + tol && v >= -tol && v <= b.height + tol;
}

std::vector<Text> missingTexts(const std::vector<Text>& expected, const std::vector<kpl::Text>& written) {
  std::unordered_map<std::string, std::vector<std::size_t>> byValue;
  for (std::size_t i = 0; i < written.size(); ++i) byValue[written[i].text].push_back(i);
  std::vector<bool> used(written.size(), false);
  std::vector<Text> out;
  for (const Text& t : expected) {
    bool found = false;
    for (const std::size_t i : byValue[t.value]) {
      if (!used[i] && sameText(t, written[i])) {
        used[i] = found = true;
        break;
      }
    }
    if (!found) out.push_back(t);
  }
  return out;
}

std::vector<kpl::Circle> asCircles(const std::vector<kpl::Arc>& arcs) {
  std::vector<kpl::Circle> out;
  out.reserve(arcs.size());
  for (const kpl::Arc& a : arcs) out.push_back(kpl::Circle{a.number, a.centre, a.radius});
  return out;
}

std::vector<kpl::Point> places(const std::vector<kpl::Point>& points) {
  std::vector<kpl::Point> out;
  for (const kpl::Point& p : points) {
    bool seen = false;
    for (const kpl::Point& q : out) seen = seen || near(p, q, std::fabs(p.x));
    if (!seen) out.push_back(p);
  }
  return out;
}

std::string describe(std::size_t lost, std::size_t of, const char* what, const kpl::Point& first) {
  std::ostringstream s;
  s << lost << " of " << of << " " << what << " missing, first at (" << first.x << ", " << first.y << ")";
  return s.str();
}

}  // namespace dxfpeer

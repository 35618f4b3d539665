#include "iges_in/kpl_reader.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kpl {
namespace {

std::string trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\n' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\n' || s[e - 1] == '\r'))
    --e;
  return s.substr(b, e - b);
}

// Nesting of (), {} outside string literals after the text.
int nesting(const std::string& s) {
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quoted && c == '\\') {
      ++i;  // \" and \\ inside a string literal
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '(' || c == '{') ++depth;
    if (c == ')' || c == '}') --depth;
  }
  return depth;
}

// The contents of the string literals of a text block's list
// ({"a" "b" } or one per line), each unquoted.
std::vector<std::string> literals(const std::string& list) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while ((i = list.find('"', i)) != std::string::npos) {
    std::string raw;
    for (++i; i < list.size() && list[i] != '"'; ++i) {
      if (list[i] == '\\' && i + 1 < list.size()) raw += list[i++];
      raw += list[i];
    }
    out.push_back(unquoteText(raw));
    ++i;
  }
  return out;
}

std::string unquoted(const std::string& token) {
  const std::string t = trim(token);
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') return t.substr(1, t.size() - 2);
  return t;
}

// "E12" -> 12 for the given prefix letter; -1 otherwise.
int numberOf(const std::string& token, char letter) {
  const std::string t = trim(token);
  if (t.size() < 2 || t[0] != letter) return -1;
  for (std::size_t i = 1; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return -1;
  return std::atoi(t.c_str() + 1);
}

class Reader {
 public:
  explicit Reader(double unitScale) : scale_(unitScale) {}

  void statement(const std::string& raw) {
    const std::string text = trim(raw);
    if (text.empty() || text.rfind("/*", 0) == 0 || text.rfind("//", 0) == 0) return;
    ++script_.statements;
    if (text.find("Unknown(") != std::string::npos) ++script_.unknownElements;
    if (text == "DTRestoreSystemDefaults()") script_.closed = true;

    std::string lhs;
    std::string call = text;
    const std::size_t paren = text.find('(');
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos && (paren == std::string::npos || eq < paren) &&
        text.compare(eq, 2, "==") != 0) {
      lhs = trim(text.substr(0, eq));
      call = trim(text.substr(eq + 1));
    }
    const int target = numberOf(lhs, 'E');
    const int lengthTarget = numberOf(lhs, 'L');

    // Plain alias "E<n>=E<m>".
    if (target > 0 && numberOf(call, 'E') > 0) {
      script_.points[target] = point(numberOf(call, 'E'));
      return;
    }
    const std::size_t open = call.find('(');
    if (open == std::string::npos) return;
    const std::string function = trim(call.substr(0, open));
    const std::size_t close = call.rfind(')');
    if (close == std::string::npos || close < open) {
      error("unbalanced statement: " + text);
      return;
    }
    const std::vector<std::string> args = splitArguments(call.substr(open + 1, close - open - 1));

    if (lengthTarget > 0) {
      if (function == "DTCreateLengthAbsolute" && !args.empty()) {
        script_.lengths[lengthTarget] = std::strtod(args[0].c_str(), nullptr);
      } else if (function == "length_inverse" && !args.empty()) {
        script_.lengths[lengthTarget] = -length(args[0]);
      }
      return;
    }
    if (function == "DTSetInVisible") ++script_.invisibleStatements;
    if (function == "DTCreateContourOfElements" || function == "DTCreateContourUnion")
      ++script_.contours;
    if (function == "DTCreatePlane" || function == "DTCreatePlaneOfContour") ++script_.planes;
    if (target <= 0) return;

    if (function == "DTCreateWorldRotaScale" && args.size() >= 2) {
      // A world turned about a point: the points made from its origin
      // have their offsets along its axes.
      worlds_[target] = Frame{point(ref(args[0])), value(args[1]) * kRadiansPerDegree};
    } else if (function == "DTCreatePointOrigin") {
      const auto world = worlds_.find(numberOf(args.empty() ? "" : args[0], 'E'));
      const Frame frame = world == worlds_.end() ? Frame{} : world->second;
      script_.points[target] = frame.origin;
      angles_[target] = frame.angle;
    } else if (function == "DTCreatePointRelative" && args.size() >= 3) {
      relative(target, numberOf(args[0], 'E'), value(args[1]), value(args[2]));
    } else if (function == "DTCreatePointSameY" && args.size() >= 2) {
      relative(target, numberOf(args[0], 'E'), value(args[1]), 0.0);
    } else if ((function == "DTCreatePointSameX" || function == "point_samex") && args.size() >= 2) {
      relative(target, numberOf(args[0], 'E'), 0.0, value(args[1]));
      shiftedFrom_[target] = numberOf(args[0], 'E');
    } else if (function == "DTCreateLine" && args.size() >= 4) {
      script_.lines.push_back(Line{target, point(ref(args[2])), point(ref(args[3]))});
    } else if (function == "DTCreateCircle" && args.size() >= 5) {
      script_.circles.push_back(Circle{target, point(ref(args[3])), value(args[4])});
    } else if (function == "DTCreateArc" && args.size() >= 6) {
      Arc a;
      a.number = target;
      a.start = point(ref(args[3]));
      a.middle = point(ref(args[4]));
      a.end = point(ref(args[5]));
      throughThreePoints(a);
      script_.arcs.push_back(a);
    } else if (function == "DTCreateArcCenter" && args.size() >= 7) {
      Arc a;
      a.number = target;
      a.threePoint = false;
      a.start = point(ref(args[3]));
      a.centre = point(ref(args[4]));
      a.end = point(ref(args[5]));
      a.radius = value(args[6]);
      script_.arcs.push_back(a);
    } else if ((function == "DTCreateEllipse" && args.size() >= 6) ||
               (function == "DTCreateEllipseArc" && args.size() >= 8)) {
      Ellipse e;
      e.number = target;
      e.centre = point(ref(args[3]));
      e.axis1 = point(ref(args[4]));
      e.axis2 = point(ref(args[5]));
      if (function == "DTCreateEllipseArc") {
        e.isArc = true;
        e.start = point(ref(args[6]));
        e.end = point(ref(args[7]));
      }
      script_.ellipses.push_back(e);
    } else if (function == "DTCreateSpline" && args.size() >= 5) {
      Spline s;
      s.number = target;
      s.periodic = trim(args[2]) == "\"periodic_urbs\"";
      s.degree = std::atoi(args[3].c_str());
      std::string list = trim(args[4]);
      if (list.size() >= 2 && list.front() == '{' && list.back() == '}')
        list = list.substr(1, list.size() - 2);
      std::istringstream in(list);
      std::string item;
      while (in >> item) s.controlPoints.push_back(point(ref(item)));
      script_.splines.push_back(s);
    } else if (function == "DTCreateTextAbsolute" && args.size() >= 9) {
      script_.texts.push_back(Text{target, unquoteText(unquoted(args[5])), unquoted(args[4]),
                                   point(ref(args[6])), value(args[7]), 0.0, value(args[8])});
    } else if (function == "DTCreateTextAnglepos" && args.size() >= 10) {
      script_.texts.push_back(Text{target, unquoteText(unquoted(args[5])), unquoted(args[4]),
                                   point(ref(args[6])), value(args[7]), number(args[8]), value(args[9])});
    } else if (function == "DTCreateTextBlock" && args.size() >= 10) {
      // Lines of a stacked block stand one per line; the characters of a
      // vertical string side by side.
      const std::vector<std::string> parts = literals(args[5]);
      const bool lines = args[5].find('\n') != std::string::npos;
      std::string joined;
      for (std::size_t i = 0; i < parts.size(); ++i) joined += (lines && i > 0 ? "\n" : "") + parts[i];
      // The block stands one line above the string's start.
      int at = ref(args[6]);
      const auto shifted = shiftedFrom_.find(at);
      if (shifted != shiftedFrom_.end()) at = shifted->second;
      script_.texts.push_back(
          Text{target, joined, unquoted(args[4]), point(at), value(args[7]), number(args[8]), value(args[9])});
    }
  }

  Script take() { return std::move(script_); }

 private:
  void error(const std::string& text) {
    if (script_.errors.size() < 50) script_.errors.push_back(text);
  }

  int ref(const std::string& token) {
    const int n = numberOf(token, 'E');
    if (n <= 0) error("not an element reference: " + token);
    return n;
  }

  Point point(int number) {
    const auto it = script_.points.find(number);
    if (it == script_.points.end()) {
      error("undefined point E" + std::to_string(number));
      return Point{};
    }
    return it->second;
  }

  // A point `dx`, `dy` from point `from` along the axes of the world that
  // point was made in.
  void relative(int target, int from, double dx, double dy) {
    const Point r = point(from);
    const auto a = angles_.find(from);
    const double angle = a == angles_.end() ? 0.0 : a->second;
    const double c = std::cos(angle), s = std::sin(angle);
    script_.points[target] = Point{r.x + c * dx - s * dy, r.y + s * dx + c * dy};
    if (angle != 0.0) angles_[target] = angle;
  }

  // A plain number (an angle), not scaled.
  double number(const std::string& token) {
    const std::string t = trim(token);
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str()) error("not a number: " + t);
    return v;
  }

  double length(const std::string& token) {
    const int k = numberOf(token, 'L');
    const auto it = script_.lengths.find(k);
    if (it == script_.lengths.end()) {
      error("undefined length " + trim(token));
      return 0.0;
    }
    return it->second;
  }

  // A number or a length variable, back in drawing units.
  double value(const std::string& token) {
    const std::string t = trim(token);
    if (!t.empty() && t[0] == 'L') return length(t) / scale_;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str()) error("not a number: " + t);
    return v / scale_;
  }

  void throughThreePoints(Arc& a) {
    const double ax = a.start.x, ay = a.start.y;
    const double bx = a.middle.x, by = a.middle.y;
    const double cx = a.end.x, cy = a.end.y;
    const double d = 2.0 * (ax * (by - cy) + bx * (cy - ay) + cx * (ay - by));
    if (std::fabs(d) < 1e-300) {
      error("three-point arc on one line, E" + std::to_string(a.number));
      return;
    }
    const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    a.centre.x = (a2 * (by - cy) + b2 * (cy - ay) + c2 * (ay - by)) / d;
    a.centre.y = (a2 * (cx - bx) + b2 * (ax - cx) + c2 * (bx - ax)) / d;
    a.radius = std::hypot(ax - a.centre.x, ay - a.centre.y);
  }

  struct Frame {
    Point origin;
    double angle = 0.0;  // radians
  };
  static constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

  double scale_;
  Script script_;
  std::map<int, Frame> worlds_;     // E<w> of DTCreateWorldRotaScale
  std::map<int, double> angles_;    // points made in a turned world
  std::map<int, int> shiftedFrom_;  // same-x points and the point they were made from
};

}  // namespace

std::string unquoteText(const std::string& quoted) {
  std::string out;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    const char c = quoted[i];
    if (c == '\\' && i + 1 < quoted.size()) {
      out += quoted[++i];
    } else if (c == '@' && i + 1 < quoted.size() && quoted[i + 1] == '@') {
      out += '@';
      ++i;
    } else if (c == '@' && i + 3 < quoted.size() && std::isdigit(static_cast<unsigned char>(quoted[i + 1])) &&
               std::isdigit(static_cast<unsigned char>(quoted[i + 2])) &&
               std::isdigit(static_cast<unsigned char>(quoted[i + 3]))) {
      out += static_cast<char>(std::atoi(quoted.substr(i + 1, 3).c_str()));
      i += 3;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::string> splitArguments(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      current += c;
      current += text[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (!quoted) {
      if (c == '(' || c == '{') ++depth;
      if (c == ')' || c == '}') --depth;
      if (c == ',' && depth == 0) {
        out.push_back(trim(current));
        current.clear();
        continue;
      }
    }
    current += c;
  }
  out.push_back(trim(current));
  return out;
}

Script readScript(const std::string& text, double unitScale) {
  Reader reader(unitScale);
  std::istringstream in(text);
  std::string line;
  std::string pending;
  while (std::getline(in, line)) {
    pending += pending.empty() ? line : "\n" + line;
    if (nesting(pending) > 0) continue;
    reader.statement(pending);
    pending.clear();
  }
  if (!trim(pending).empty()) reader.statement(pending);
  return reader.take();
}

Script readScriptFile(const std::string& path, double unitScale) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Script s;
    s.errors.push_back("cannot read " + path);
    return s;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return readScript(text.str(), unitScale);
}

}  // namespace kpl

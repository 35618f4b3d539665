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

    if (function == "DTCreatePointOrigin") {
      script_.points[target] = Point{};
    } else if (function == "DTCreatePointRelative" && args.size() >= 3) {
      const Point r = point(numberOf(args[0], 'E'));
      script_.points[target] = Point{r.x + value(args[1]), r.y + value(args[2])};
    } else if (function == "DTCreatePointSameY" && args.size() >= 2) {
      const Point r = point(numberOf(args[0], 'E'));
      script_.points[target] = Point{r.x + value(args[1]), r.y};
    } else if (function == "DTCreatePointSameX" && args.size() >= 2) {
      const Point r = point(numberOf(args[0], 'E'));
      script_.points[target] = Point{r.x, r.y + value(args[1])};
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
    } else if ((function == "DTCreateTextAbsolute" || function == "DTCreateTextAnglepos") && args.size() >= 8) {
      script_.texts.push_back(
          Text{target, unquoteText(unquoted(args[5])), unquoted(args[4]), point(ref(args[6])), value(args[7])});
    } else if (function == "DTCreateTextBlock" && args.size() >= 8) {
      std::string joined;
      for (const std::string& line : literals(args[5])) joined += (joined.empty() ? "" : "\n") + line;
      script_.texts.push_back(Text{target, joined, unquoted(args[4]), point(ref(args[6])), value(args[7])});
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

  double scale_;
  Script script_;
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

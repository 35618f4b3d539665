#include "transfer/dispatch_samples.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace samples {

namespace {

std::string number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string pair(double x, double y) { return number(x) + " " + number(y); }

}  // namespace

TransferFile::TransferFile(int version, std::vector<double> layerValues)
    : version_(version), layers_(std::move(layerValues)) {}

std::string TransferFile::head() const {
  std::string out = "written by the test\n";
  out += "@fileversion\n#" + std::to_string(version_) + "\n#V" + std::to_string(version_) +
         "\n#TestCAD\n";
  out += "@general\n";
  for (double e : extents_) out.append("#").append(number(e)).append("\n");
  out.append("#").append(std::to_string(layers_.size())).append("\n");
  for (double v : layers_) out.append("#").append(number(v)).append("\n");
  return out;
}

TransferFile& TransferFile::raw(const std::string& text) {
  body_ += text;
  return *this;
}

void TransferFile::value(const std::string& text) { body_ += "#" + text + "\n"; }
void TransferFile::value(double n) { value(number(n)); }
void TransferFile::values(std::initializer_list<double> numbers) {
  for (double n : numbers) value(n);
}

void TransferFile::addHead(const std::string& keyword, const std::string& id, bool deleted,
                           const std::string& headerRest) {
  body_ += "@" + keyword + " " + id + (headerRest.empty() ? "" : " " + headerRest) + "\n";
  if (version_ != 0) {
    value("attribute text of " + id);
    value("x");
  }
  value(deleted ? "deleted" : "visible");
  value("1 0 0 0 black");
}

TransferFile& TransferFile::point(const std::string& id, double x, double y, bool deleted) {
  addHead("point", id, deleted);
  values({x, y});
  return *this;
}

TransferFile& TransferFile::line(const std::string& id, double x1, double y1, double x2, double y2,
                                 double layer, bool deleted, int style, double width) {
  addHead("line", id, deleted);
  values({x1, y1, x2, y2, layer, static_cast<double>(style), width});
  return *this;
}

TransferFile& TransferFile::circle(const std::string& id, double cx, double cy, double r, double layer) {
  addHead("circle", id, false);
  values({cx, cy, r});
  value("t");
  value("circle");
  values({0, 0, 0, 0, layer, 1, 0.5});
  return *this;
}

TransferFile& TransferFile::arc(const std::string& id, double cx, double cy, double r, double sx,
                                double sy, double ex, double ey, double layer) {
  addHead("circle", id, false);
  values({cx, cy, r});
  value("t");
  value("arc");
  values({sx, sy, ex, ey, layer, 1, 0.5});
  return *this;
}

TransferFile& TransferFile::ellipse(const std::string& id, double cx, double cy, double a, double b,
                                    double axisDegrees, double startDegrees, double endDegrees,
                                    double layer) {
  addHead("ellips", id, false);
  values({cx, cy, a, b, axisDegrees, startDegrees, endDegrees, layer, 1, 0.5});
  return *this;
}

TransferFile& TransferFile::spline(const std::string& id,
                                   const std::vector<std::pair<double, double>>& points) {
  addHead("spline", id, false);
  value(0.0);
  value("t");
  value(0.0);
  value("non_periodic_urbs");
  const int degree = 3;
  const int n = static_cast<int>(points.size());
  value(degree);
  value(n);
  // Clamped knots: degree + 1 zeros, the inner knots, degree + 1 ones.
  const int inner = n - degree - 1;
  for (int i = 0; i <= degree; ++i) value(0.0);
  for (int i = 1; i <= inner; ++i) value(static_cast<double>(i) / (inner + 1));
  for (int i = 0; i <= degree; ++i) value(1.0);
  for (const auto& p : points) value(pair(p.first, p.second));
  for (int i = 0; i < n; ++i) value(1.0);
  value(0.5);
  return *this;
}

TransferFile& TransferFile::hatch(const std::string& id,
                                  const std::vector<std::pair<double, double>>& points, double layer) {
  addHead("hatch", id, false);
  values({layer, 1, 0.5, static_cast<double>(points.size())});
  for (const auto& p : points) value(pair(p.first, p.second));
  return *this;
}

TransferFile& TransferFile::text(const std::string& id, double x, double y, double height,
                                 const std::string& content, double layer, bool deleted) {
  addHead("text", id, deleted);
  const double length = static_cast<double>(content.size());
  values({x, y, height, 0.0 /* angle */, y, y + height, x, x + height * length});
  value("mnone");
  value("1 standard");
  values({1.0, height * length});
  value("line");
  value(length);
  value(content);
  values({layer, 1, 0.5});
  return *this;
}

TransferFile& TransferFile::group(const std::string& id, const std::string& name,
                                  const std::vector<std::string>& members) {
  body_ += "@group " + id + " " + name + "\n";
  if (version_ != 0) {
    value("attribute text of " + id);
    value("x");
  }
  for (const std::string& m : members) value(m);
  value("end");
  return *this;
}

TransferFile& TransferFile::contour(const std::string& id, const std::vector<std::string>& members,
                                    double layer) {
  body_ += "@contour " + id + "\n";
  value(layer);
  for (const std::string& m : members) value(m);
  value("end");
  return *this;
}

TransferFile& TransferFile::planePart(const std::string& id, const std::vector<std::string>& members,
                                      double layer) {
  body_ += "@plane_part " + id + "\n";
  if (version_ != 0) {
    value("attribute text of " + id);
    value("x");
  }
  value("visible");
  values({1, layer});
  value("hatch_single");
  values({3.0, 45.0});
  for (const std::string& m : members) value(m);
  value("end");
  return *this;
}

TransferFile& TransferFile::dimension(const std::string& id, const std::string& keyword,
                                      const std::vector<std::pair<double, double>>& points,
                                      double measured, const std::string& content, double layer) {
  addHead(keyword, id, false);
  for (const auto& p : points) value(pair(p.first, p.second));
  values({measured, 3.5});
  value(content);
  values({layer, 1, 0.5});
  return *this;
}

TransferFile& TransferFile::userdef(const std::string& id, const std::string& name,
                                    const std::vector<std::string>& members) {
  body_ += "@userdef " + id + "\n";
  if (version_ != 0) {
    value("attribute text of " + id);
    value("x");
  }
  value(name);
  for (const std::string& m : members) value(m);
  value("end");
  return *this;
}

TransferFile& TransferFile::userref(const std::string& id, const std::string& definition, double x,
                                    double y, double layer) {
  addHead("userref", id, false);
  value(definition);
  value("t");
  value(pair(x, y) + " 0");
  values({layer, 1.0});
  value("end");
  return *this;
}

TransferFile& TransferFile::layer(const std::string& id, const std::string& name) {
  addHead("layer", id, false, "L" + id);
  value(name);
  value("end");
  return *this;
}

TransferFile everyKind(int version) {
  TransferFile f(version);
  f.point("1", 3, 4)
      .line("2", 0, 0, 10, 5)
      .circle("3", 5, 5, 2)
      .arc("4", 0, 0, 10, 10, 0, 0, 10)
      .ellipse("5", 20, 20, 8, 4, 30, 0, 0)
      .spline("6", {{0, 0}, {1, 2}, {3, 3}, {5, 1}, {6, 0}})
      .hatch("7", {{0, 0}, {10, 0}, {10, 10}, {0, 10}})
      .text("8", 1, 1, 3.5, "Hello")
      .line("9", 0, 0, 5, 0)
      .line("10", 5, 0, 5, 5)
      .group("11", "G11", {"9", "10"})
      .line("12", 40, 40, 50, 40)
      .line("13", 50, 40, 50, 50)
      .line("14", 50, 50, 40, 40)
      .contour("15", {"12", "13", "14"})
      .planePart("16", {"15"})
      .dimension("17", "dimension_distance", {{0, 0}, {10, 0}, {5, 5}}, 10, "")
      .dimension("18", "dimension_diameter", {{5, 5}, {7, 5}, {12, 12}}, 4, "")
      .dimension("19", "dimension_radius", {{0, 0}, {10, 0}, {12, 2}}, 10, "R10")
      .dimension("20", "dimension_angular", {{0, 0}, {10, 0}, {0, 10}, {7, 7}}, 90, "")
      .line("21", 60, 60, 61, 61)
      .userdef("22", "BOLT", {"21"})
      .userref("23", "BOLT", 100, 100)
      .layer("24", "Contours");
  return f;
}

std::map<int, int> everyKindCounts() {
  // Lines, arcs, the ellipse with its matrix, the spline, the hatch; the
  // text and the four dimensions with their notes, leaders (2 + 2 + 1 + 2)
  // and witness lines (2); group, contour, sectioned area, definition and
  // instance; the pen's colour definition, the group's name and the layer
  // list.
  return {{100, 2}, {102, 1}, {104, 1}, {106, 3}, {110, 7}, {112, 1}, {116, 1},
          {124, 1}, {202, 1}, {206, 1}, {212, 5}, {214, 7}, {216, 1}, {222, 1},
          {230, 1}, {308, 1}, {314, 1}, {402, 1}, {406, 2}, {408, 1}};
}

TransferFile smallDrawing() {
  TransferFile f;
  f.line("1", 0, 0, 10, 5).circle("2", 5, 5, 2).text("3", 1, 1, 3.5, "Hello").line("4", 0, 0, 5, 0).group("5", "G", {"1", "4"});
  return f;
}

// ---------------------------------------------------------------------------
// IGES files

namespace {

int toInt(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  return text.empty() ? 0 : std::atoi(text.c_str() + at);
}

std::string field(const std::string& line, int n) {
  return line.size() >= static_cast<std::size_t>(8 * n + 8) ? line.substr(static_cast<std::size_t>(8 * n), 8)
                                                             : std::string();
}

// Splits parameter data at the delimiters; a Hollerith string is kept whole.
std::vector<std::string> tokens(const std::string& data) {
  std::vector<std::string> out;
  std::string current;
  std::size_t i = 0;
  while (i < data.size()) {
    const char c = data[i];
    if (c == ',' || c == ';') {
      out.push_back(current);
      current.clear();
      ++i;
      if (c == ';') break;
      continue;
    }
    if (c == 'H' && !current.empty() && current.find_first_not_of("0123456789 ") == std::string::npos) {
      const std::size_t count = static_cast<std::size_t>(std::atoi(current.c_str()));
      current = data.substr(i + 1, count);
      i += 1 + count;
      continue;
    }
    current += c;
    ++i;
  }
  return out;
}

}  // namespace

double IgesEntity::real(std::size_t i) const {
  if (i >= params.size()) return 0.0;
  std::string t = params[i];
  for (char& c : t) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  return std::strtod(t.c_str(), nullptr);
}

int IgesEntity::integer(std::size_t i) const { return i < params.size() ? toInt(params[i]) : 0; }

std::map<int, int> IgesView::countByType() const {
  std::map<int, int> out;
  for (const IgesEntity& e : entities) ++out[e.type];
  return out;
}

const IgesEntity* IgesView::at(int sequence) const {
  const auto found = bySequence.find(sequence);
  return found == bySequence.end() ? nullptr : &entities[static_cast<std::size_t>(found->second)];
}

std::vector<const IgesEntity*> IgesView::ofType(int type) const {
  std::vector<const IgesEntity*> out;
  for (const IgesEntity& e : entities) {
    if (e.type == type) out.push_back(&e);
  }
  return out;
}

IgesView readIges(const std::string& text) {
  IgesView view;
  std::vector<std::string> directory, parameter;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.size() != 80) {
      view.errors.push_back("line " + std::to_string(number) + " has " + std::to_string(line.size()) +
                            " columns");
      continue;
    }
    switch (line[72]) {
      case 'G': view.global += line.substr(0, 72); break;
      case 'D': directory.push_back(line); break;
      case 'P': parameter.push_back(line); break;
      case 'S':
      case 'T': break;
      default: view.errors.push_back("line " + std::to_string(number) + " has no section letter");
    }
  }
  if (directory.size() % 2 != 0) view.errors.push_back("odd number of directory lines");
  for (std::size_t i = 0; i + 1 < directory.size(); i += 2) {
    const std::string& a = directory[i];
    const std::string& b = directory[i + 1];
    IgesEntity e;
    e.type = toInt(field(a, 0));
    e.paramPointer = toInt(field(a, 1));
    e.lineFont = toInt(field(a, 3));
    e.level = toInt(field(a, 4));
    e.matrix = toInt(field(a, 6));
    e.status = a.substr(64, 8);
    e.sequence = toInt(a.substr(73, 7));
    e.lineWeight = toInt(field(b, 1));
    e.colour = toInt(field(b, 2));
    e.paramLines = toInt(field(b, 3));
    e.form = toInt(field(b, 4));
    e.label = b.substr(56, 8);
    e.subscript = toInt(field(b, 8));
    if (e.sequence != static_cast<int>(i) + 1) view.errors.push_back("directory sequence out of order");
    if (toInt(field(b, 0)) != e.type) view.errors.push_back("second directory line of another type");
    std::string data;
    for (int p = e.paramPointer; p < e.paramPointer + e.paramLines; ++p) {
      if (p < 1 || static_cast<std::size_t>(p) > parameter.size()) {
        view.errors.push_back("parameter pointer outside the section");
        break;
      }
      const std::string& pl = parameter[static_cast<std::size_t>(p) - 1];
      if (toInt(pl.substr(64, 8)) != e.sequence) view.errors.push_back("parameter line of another entity");
      data += pl.substr(0, 64);
    }
    e.params = tokens(data);
    if (!e.params.empty() && toInt(e.params[0]) != e.type) view.errors.push_back("parameter type differs");
    view.bySequence[e.sequence] = static_cast<int>(view.entities.size());
    view.entities.push_back(std::move(e));
  }
  return view;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace samples

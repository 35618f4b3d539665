#include "iges_in/convert_iges_builder.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace igestest {
namespace {

std::string record(const std::string& body, char section, int sequence) {
  std::string line = body.substr(0, 72);
  line.resize(72, ' ');
  char tail[16];
  std::snprintf(tail, sizeof tail, "%c%7d", section, sequence);
  return line + tail + "\n";
}

std::string field(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%8ld", value);
  return text;
}

}  // namespace

int Builder::add(const Entity& e) {
  entities_.push_back(e);
  return static_cast<int>(entities_.size()) * 2 - 1;
}

std::string Builder::text() const {
  std::string out = record("trovak test file", 'S', 1);
  const std::string global =
      "1H,,1H;,4Htest,8Htest.igs,4Htest,3H1.0,32,38,6,308,15,4Htest,1.0,2,2HMM,1,1.0,"
      "15H20260101.120000,0.0001,1000.0,4Htest,4Htest,11,0;";
  int gCount = 0;
  for (std::size_t at = 0; at < global.size(); at += 72) out += record(global.substr(at, 72), 'G', ++gCount);

  std::string directory;
  std::string parameter;
  int pCount = 0;
  for (std::size_t i = 0; i < entities_.size(); ++i) {
    const Entity& e = entities_[i];
    const int de = static_cast<int>(i) * 2 + 1;
    const std::string data = std::to_string(e.type) + "," + e.params;
    const int first = pCount + 1;
    for (std::size_t at = 0; at < data.size(); at += 64) {
      std::string body = data.substr(at, 64);
      body.resize(64, ' ');
      parameter += record(body + field(de), 'P', ++pCount);
    }
    const int lines = pCount - first + 1;
    directory += record(field(e.type) + field(first) + field(0) + field(1) + field(e.level) +
                            field(e.view) + field(e.matrix) + field(0) + e.status,
                        'D', de);
    directory += record(field(e.type) + field(0) + (e.colour ? field(e.colour) : field(0)) +
                            field(lines) + field(e.form) + std::string(16, ' ') +
                            std::string(8, ' ') + field(0),
                        'D', de + 1);
  }
  out += directory + parameter;
  char terminate[80];
  std::snprintf(terminate, sizeof terminate, "S%7dG%7dD%7dP%7d", 1, gCount,
                static_cast<int>(entities_.size()) * 2, pCount);
  out += record(terminate, 'T', 1);
  return out;
}

std::string Builder::write(const std::string& path) const {
  std::ofstream(path, std::ios::binary) << text();
  return path;
}

namespace {

std::string ptr(int de) { return std::to_string(de); }

// A note of one string at (x, y).
std::string note(const std::string& text, int x, int y) {
  return "1," + std::to_string(text.size()) + ",2.,2.5,1,0.,0.,0,0," + std::to_string(x) + ".," +
         std::to_string(y) + ".,0.," + std::to_string(text.size()) + "H" + text + ";";
}

}  // namespace

Builder annotatedDrawing(int leadingArcs) {
  Builder b;
  for (int k = 0; k < leadingArcs; ++k) b.add(100, "0.,100.,0.,105.,0.,105.,0.;");
  b.add(110, "0.,0.,0.,50.,0.,0.;");
  b.add(212, note("HELLO", 10, 20));
  // Linear dimension of the line: text, two leaders whose form (5) the
  // installed leader table takes for an arrow head.
  const int n1 = b.add(212, note("50", 22, 5));
  const int l1 = b.add(214, "1,1.,2.,0.,0.,3.,20.,3.;", 5);
  const int l2 = b.add(214, "1,1.,2.,0.,50.,3.,30.,3.;", 5);
  b.add(216, ptr(n1) + "," + ptr(l1) + "," + ptr(l2) + ",0,0;");
  // Radius dimension of an arc around (100, 0).
  b.add(100, "0.,100.,0.,110.,0.,110.,0.;");
  const int n2 = b.add(212, note("R10", 115, 5));
  const int l3 = b.add(214, "1,1.,2.,0.,110.,0.,120.,0.;", 1);
  b.add(222, ptr(n2) + "," + ptr(l3) + ",100.,0.,0;");
  // A group of two lines.
  const int g1 = b.add(110, "0.,40.,0.,10.,40.,0.;");
  const int g2 = b.add(110, "0.,45.,0.,10.,45.,0.;");
  b.add(402, "2," + ptr(g1) + "," + ptr(g2) + ";", 7);
  // The subfigure and its two instances.
  Entity member{110, 0, "0.,0.,0.,4.,0.,0.;"};
  member.status = "00010000";
  const int m = b.add(member);
  const int definition = b.add(308, "0,8HLIB/BOLT,1," + ptr(m) + ";");
  b.add(408, ptr(definition) + ",200.,0.,0.;");
  b.add(408, ptr(definition) + ",200.,20.,0.;");
  return b;
}

}  // namespace igestest

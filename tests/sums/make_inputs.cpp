// Writes the drawings of the test suite that exist only as code into a
// folder, so that the output sums can convert them like any other file:
// the CAD transfer files of the output loop tests, an EDX file and an IGES
// file with annotation and structure.
#include <cstdio>
#include <fstream>
#include <string>

#include "iges_in/convert_iges_builder.h"
#include "transfer/dispatch_samples.h"

namespace {

bool writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::string edx =
      "{0:\"G1\"{.L(0,0,0)(10,0,0).C(5,5,0)(2,0,0)}}\n"
      "{0:\"els2d\".P(1,2,0)}\n"
      "{0:UT1024{def}{(0,0,0),1,(5,0,0),19,(6,1,0),(5,2,0),(5,2,0)}}\n";
  const bool ok = writeFile(folder + "/every_kind_v0.trf", samples::everyKind(0).str()) &&
                  writeFile(folder + "/every_kind_v1.trf", samples::everyKind(1).str()) &&
                  writeFile(folder + "/small_drawing.trf", samples::smallDrawing().str()) &&
                  writeFile(folder + "/groups_and_segments.edx", edx) &&
                  writeFile(folder + "/annotated.igs", igestest::annotatedDrawing().text());
  return ok ? 0 : 1;
}

// -dxf12in over the real DXF files of the corpus.
//
// Files of the releases the own reader is made for (R2.6 to R12) convert
// with status 0, and the lines, circles, arcs and points of the script
// (read back through its point chain) are those another DXF reader finds
// in the same file: model space and the sheet, with every INSERT and
// DIMENSION expanded into its block's entities, since the script expands
// block instances in place (the default subfigure mode of the input
// directions).  Every line, circle, arc and point of the file, and every
// arc segment of its polylines, must be in the script; the script may hold
// more lines (polylines, solids, faces and the outlines of texts are
// written as lines too), but not more circles or arcs.
//
// Files of later releases are read as far as the own reader's entity list
// goes: status 0, or a clear error status, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/kpl_reader.h"

namespace {

// The script writer takes a point within its tolerance (0.0001) for one
// already written: a point may move by that much.
constexpr double kTolerance = 1.5e-4;
constexpr double kShortest = 0.0001;  // shorter lines are not written

const char* const kExpansionScript = R"(
import sys
import ezdxf
from ezdxf.math import Vec3

def emit(e, out, depth=0):
    t = e.dxftype()
    if t in ('INSERT', 'DIMENSION'):
        if depth > 20:
            return
        for v in e.virtual_entities():
            emit(v, out, depth + 1)
        return
    if t == 'LINE':
        s, x = e.dxf.start, e.dxf.end
        out.append('L %.12g %.12g %.12g %.12g' % (s.x, s.y, x.x, x.y))
    elif t in ('CIRCLE', 'ARC'):
        n = Vec3(e.dxf.extrusion).normalize()
        if abs(n.x) > 1e-9 or abs(n.y) > 1e-9:
            return  # tilted: an ellipse in the drawing
        c = e.ocs().to_wcs(e.dxf.center)
        out.append('%s %.12g %.12g %.12g' % ('C' if t == 'CIRCLE' else 'A', c.x, c.y, e.dxf.radius))
    elif t == 'POINT':
        p = e.dxf.location
        out.append('P %.12g %.12g' % (p.x, p.y))
    elif t == 'POLYLINE' and e.is_2d_polyline and not (e.dxf.flags & 4):
        # The arc segments (bulges) of a polyline are arcs of the script.
        for v in e.virtual_entities():
            if v.dxftype() == 'ARC':
                emit(v, out, depth)

doc = ezdxf.readfile(sys.argv[1])
out = []
for e in doc.modelspace():
    emit(e, out)
for e in doc.layouts.active_layout():
    if e.dxftype() != 'VIEWPORT':
        emit(e, out)
print('\n'.join(out))
)";

std::string corpus() { return std::string(TROVAK_CORPUS_DIR); }

bool peerAvailable() {
  static const bool available = [] {
    if (!std::filesystem::exists("/usr/bin/python3")) return false;
    TempDir dir;
    const ProgramResult r = runProgram("/usr/bin/python3", {"-c", "import ezdxf"}, dir.path());
    return r.status == 0;
  }();
  return available;
}

struct Expected {
  std::vector<kpl::Line> lines;
  std::vector<kpl::Circle> circles;
  std::vector<kpl::Circle> arcs;
  std::vector<kpl::Point> points;
};

Expected readPeer(const std::string& file) {
  TempDir dir;
  const std::string script = dir.write("expand.py", kExpansionScript);
  const ProgramResult r = runProgram("/usr/bin/python3", {script, file}, dir.path(), "", 300);
  EXPECT_EQ(r.status, 0) << r.err;
  Expected x;
  std::istringstream in(r.out);
  std::string kind;
  while (in >> kind) {
    if (kind == "L") {
      kpl::Line l;
      in >> l.start.x >> l.start.y >> l.end.x >> l.end.y;
      if (std::hypot(l.end.x - l.start.x, l.end.y - l.start.y) > kShortest) x.lines.push_back(l);
    } else if (kind == "C" || kind == "A") {
      kpl::Circle c;
      in >> c.centre.x >> c.centre.y >> c.radius;
      (kind == "C" ? x.circles : x.arcs).push_back(c);
    } else if (kind == "P") {
      kpl::Point p;
      in >> p.x >> p.y;
      x.points.push_back(p);
    }
  }
  return x;
}

bool near(const kpl::Point& a, const kpl::Point& b, double scale = 1.0) {
  const double tol = kTolerance * std::max(1.0, scale);
  return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol;
}

bool sameLine(const kpl::Line& a, const kpl::Line& b) {
  const double scale = std::max({std::fabs(a.start.x), std::fabs(a.start.y), std::fabs(a.end.x), std::fabs(a.end.y)});
  return (near(a.start, b.start, scale) && near(a.end, b.end, scale)) ||
         (near(a.start, b.end, scale) && near(a.end, b.start, scale));
}

bool sameCircle(const kpl::Circle& a, const kpl::Circle& b) {
  const double scale = std::max({std::fabs(a.centre.x), std::fabs(a.centre.y), a.radius});
  return near(a.centre, b.centre, scale) && std::fabs(a.radius - b.radius) <= kTolerance * std::max(1.0, scale);
}

// The expected items not found among the written ones (each written item
// used once), keyed by x so that large files stay fast.
template <typename T, typename Key, typename Same>
std::vector<T> missing(const std::vector<T>& expected, std::vector<T> written, Key key, Same same) {
  std::sort(written.begin(), written.end(), [&](const T& a, const T& b) { return key(a) < key(b); });
  std::vector<bool> used(written.size(), false);
  std::vector<T> out;
  for (const T& e : expected) {
    const double k = key(e);
    const double tol = kTolerance * std::max(1.0, std::fabs(k)) * 10;
    auto it = std::lower_bound(written.begin(), written.end(), k - tol,
                               [&](const T& a, double v) { return key(a) < v; });
    bool found = false;
    for (; it != written.end() && key(*it) <= k + tol; ++it) {
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

ProgramResult convert(const TempDir& dir, const std::string& file, const std::string& script) {
  const std::string config =
      dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() + "\nTR_LANG english\nTR_STAT nein\n");
  return runProgram(TROVAK_PROGRAM, {"-dxf12in", file, script, config}, dir.path(), "", 300);
}

class Dxf12inCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Dxf12inCorpus, ScriptHoldsTheGeometryOfTheFile) {
  const std::string file = corpus() + "/" + GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const std::string script = dir.path() + "/out.kpl";
  const ProgramResult run = convert(dir, file, script);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  const kpl::Script s = kpl::readScriptFile(script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);
  if (!peerAvailable()) GTEST_SKIP() << "the peer reader (python3 with ezdxf) is not installed";
  const Expected x = readPeer(file);

  const auto lineKey = [](const kpl::Line& l) { return std::min(l.start.x, l.end.x); };
  const auto lostLines = missing(x.lines, s.lines, lineKey, sameLine);
  EXPECT_TRUE(lostLines.empty()) << lostLines.size() << " of " << x.lines.size() << " lines missing, first ("
                                 << lostLines.front().start.x << ", " << lostLines.front().start.y << ") - ("
                                 << lostLines.front().end.x << ", " << lostLines.front().end.y << ")";

  std::vector<kpl::Circle> circles = s.circles;
  const auto centreKey = [](const kpl::Circle& c) { return c.centre.x; };
  const auto lostCircles = missing(x.circles, circles, centreKey, sameCircle);
  EXPECT_TRUE(lostCircles.empty()) << lostCircles.size() << " circles missing, first at ("
                                   << lostCircles.front().centre.x << ", " << lostCircles.front().centre.y << ")";
  EXPECT_EQ(s.circles.size(), x.circles.size());

  std::vector<kpl::Circle> arcs;
  for (const kpl::Arc& a : s.arcs) arcs.push_back(kpl::Circle{a.number, a.centre, a.radius});
  const auto lostArcs = missing(x.arcs, arcs, centreKey, sameCircle);
  EXPECT_TRUE(lostArcs.empty()) << lostArcs.size() << " arcs missing, first at (" << lostArcs.front().centre.x
                                << ", " << lostArcs.front().centre.y << ")";
  EXPECT_EQ(arcs.size(), x.arcs.size());

  // A point statement is written once per place: the file's points are
  // compared as places.
  std::vector<kpl::Point> written, places;
  for (const auto& [n, p] : s.points) written.push_back(p);
  for (const kpl::Point& p : x.points) {
    bool seen = false;
    for (const kpl::Point& q : places) seen = seen || near(p, q, std::fabs(p.x));
    if (!seen) places.push_back(p);
  }
  const auto pointKey = [](const kpl::Point& p) { return p.x; };
  const auto lostPoints =
      missing(places, written, pointKey, [](const kpl::Point& a, const kpl::Point& b) { return near(a, b, std::fabs(a.x)); });
  EXPECT_TRUE(lostPoints.empty()) << lostPoints.size() << " points missing, first ("
                                  << lostPoints.front().x << ", " << lostPoints.front().y << ")";
}

INSTANTIATE_TEST_SUITE_P(Release12AndBefore, Dxf12inCorpus,
                         ::testing::Values("dwg/r2.6/entities.dxf", "dwg/r9/entities.dxf", "dwg/r11/entities-2d.dxf",
                                           "dxf/example_r12.dxf", "dxf/r12/Leader.dxf", "dxf/r12/Constraints.dxf"));

// Every later-release DXF file of the corpus (and the binary one): a status
// of 0 or a clear error status, nothing from the sanitizers.
TEST(Dxf12inCorpusLater, LaterReleasesAreReadWithoutFailing) {
  const std::filesystem::path root = corpus();
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no corpus";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".dxf" || ext == ".dxfb") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  int converted = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    TempDir dir;
    const ProgramResult run = convert(dir, file.string(), dir.path() + "/out.kpl");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err.substr(0, 2000);
    EXPECT_EQ(run.err.find("AddressSanitizer"), std::string::npos) << run.err.substr(0, 2000);
    // 0, or the status of a file without a readable section (-8 - 20, shown
    // as 38); a binary file is input the direction cannot read (14).
    if (file.extension() == ".dxfb") {
      EXPECT_EQ(run.status, 14) << run.err.substr(0, 2000);
      EXPECT_NE(run.err.find("(981)"), std::string::npos) << run.err.substr(0, 2000);
    } else {
      EXPECT_TRUE(run.status == 0 || run.status == 38) << run.status << "\n" << run.err.substr(0, 2000);
    }
    if (run.status == 0) ++converted;
  }
  EXPECT_GT(converted, 0);
}

}  // namespace

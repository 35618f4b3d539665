// -igesin over the real IGES files of the corpus: every file converts with
// status 0, and the geometry the script builds (read back through the point
// chain) is the geometry of the IGES file after its matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/kpl_reader.h"

namespace {

constexpr double kTolerance = 1e-6;
constexpr double kSystemEpsilon = 0.0001;

// An independent reading of the parts of an IGES file that the check needs.
struct Matrix {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
};

Matrix compose(const Matrix& outer, const Matrix& inner) {
  Matrix m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      m.r[i][j] = 0;
      for (int k = 0; k < 3; ++k) m.r[i][j] += outer.r[i][k] * inner.r[k][j];
    }
    m.t[i] = outer.t[i];
    for (int k = 0; k < 3; ++k) m.t[i] += outer.r[i][k] * inner.t[k];
  }
  return m;
}

kpl::Point apply(const Matrix& m, double x, double y, double z) {
  return kpl::Point{m.r[0][0] * x + m.r[0][1] * y + m.r[0][2] * z + m.t[0],
                    m.r[1][0] * x + m.r[1][1] * y + m.r[1][2] * z + m.t[1]};
}

struct Entry {
  int type = 0;
  int form = 0;
  int matrix = 0;  // DE number
  std::string status;
  std::vector<double> values;  // the parameters after the type
};

struct IgesFile {
  std::map<int, Entry> entries;  // by DE number
  std::map<int, int> fatherOf;   // constituent DE -> 102 DE

  Matrix matrixOf(int de, int depth = 0) const {
    const auto it = entries.find(de);
    if (it == entries.end() || it->second.matrix == 0 || depth > 50) return Matrix{};
    const auto m = entries.find(std::abs(it->second.matrix));
    if (m == entries.end() || m->second.type != 124 || m->second.values.size() < 12)
      return Matrix{};
    Matrix own;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) own.r[i][j] = m->second.values[4 * i + j];
      own.t[i] = m->second.values[4 * i + 3];
    }
    return compose(matrixOf(m->first, depth + 1), own);
  }

  // The element's matrices, and its composite curve's when it is a
  // physically dependent constituent.
  Matrix placement(int de) const {
    Matrix m = matrixOf(de);
    const Entry& e = entries.at(de);
    const bool dependent = e.status.size() >= 4 && (e.status[3] == '1' || e.status[3] == '3');
    const auto father = fatherOf.find(de);
    if (dependent && father != fatherOf.end()) m = compose(matrixOf(father->second), m);
    return m;
  }
};

// Values below the system epsilon are read as zero, except the
// coefficients of a conic (raw): those of a large conic are small numbers.
double parseValue(std::string text, bool raw) {
  std::replace(text.begin(), text.end(), 'D', 'E');
  const double v = std::strtod(text.c_str(), nullptr);
  return !raw && std::fabs(v) < kSystemEpsilon ? 0.0 : v;
}

IgesFile readIges(const std::string& path) {
  IgesFile file;
  std::istringstream in(readWholeFile(path));
  std::vector<std::string> d;
  std::vector<std::string> p;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 73) continue;
    if (line[72] == 'D') d.push_back(line);
    if (line[72] == 'P') p.push_back(line);
  }
  for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
    Entry e;
    e.type = std::atoi(d[i].substr(0, 8).c_str());
    const int pointer = std::atoi(d[i].substr(8, 8).c_str());
    e.matrix = std::atoi(d[i].substr(48, 8).c_str());
    e.status = d[i].substr(64, 8);
    const int count = std::atoi(d[i + 1].substr(24, 8).c_str());
    e.form = std::atoi(d[i + 1].substr(32, 8).c_str());
    std::string data;
    for (int k = 0; k < count && pointer - 1 + k < static_cast<int>(p.size()); ++k)
      data += p[pointer - 1 + k].substr(0, 64);
    data = data.substr(0, data.find(';'));
    std::istringstream fields(data);
    std::string field;
    std::getline(fields, field, ',');  // the type
    while (std::getline(fields, field, ','))
      e.values.push_back(parseValue(field, e.type == 104 && e.values.size() < 6));
    file.entries[static_cast<int>(i) + 1] = e;
  }
  for (const auto& [de, e] : file.entries) {
    if (e.type != 102 || e.values.empty()) continue;
    const int n = static_cast<int>(e.values[0]);
    for (int k = 1; k <= n && k < static_cast<int>(e.values.size()); ++k)
      file.fatherOf[static_cast<int>(e.values[k])] = de;
  }
  return file;
}

bool near(const kpl::Point& a, const kpl::Point& b) {
  return std::fabs(a.x - b.x) <= kTolerance && std::fabs(a.y - b.y) <= kTolerance;
}

// Matches expected items against written ones by key, each used once.
template <typename E, typename W, typename Key, typename Same>
std::vector<E> unmatched(const std::vector<E>& expected, std::vector<W> written, Key key,
                         Same same) {
  std::sort(written.begin(), written.end(),
            [&](const W& a, const W& b) { return key(a) < key(b); });
  std::vector<bool> used(written.size(), false);
  std::vector<E> missing;
  for (const E& e : expected) {
    auto it = std::lower_bound(written.begin(), written.end(), key(e) - kTolerance,
                               [&](const W& a, double k) { return key(a) < k; });
    bool found = false;
    for (; it != written.end() && key(*it) <= key(e) + kTolerance; ++it) {
      const std::size_t at = static_cast<std::size_t>(it - written.begin());
      if (!used[at] && same(e, *it)) {
        used[at] = found = true;
        break;
      }
    }
    if (!found) missing.push_back(e);
  }
  return missing;
}

kpl::Line canonical(kpl::Line l) {
  if (l.end.x < l.start.x || (l.end.x == l.start.x && l.end.y < l.start.y))
    std::swap(l.start, l.end);
  return l;
}

// The ellipse of a conic arc in its own plane: centre, half axes a >= b
// with the direction (ux, uy) of the major one, and where it lies in the
// drawing.
struct ExpectedEllipse {
  kpl::Point centre;  // in the drawing
  Matrix placement;
  double z = 0.0;
  double cx = 0.0, cy = 0.0, a = 0.0, b = 0.0, ux = 1.0, uy = 0.0;
  bool isArc = false;
  kpl::Point start, end;  // in the drawing, counter-clockwise there
};

struct Expected {
  std::vector<kpl::Line> lines;
  std::vector<kpl::Circle> circles;
  std::vector<kpl::Circle> arcs;  // centre and radius
  std::size_t ellipses = 0;        // also those of tilted circles, not checked further
  std::vector<ExpectedEllipse> conicEllipses;
  std::size_t splines = 0;
  bool splinesAtLeast = false;  // pieces of 112 splines, parabolas and hyperbolas
};

enum class Conic { kDegenerate, kEllipse, kOpen, kNoRealPoints };

// The kind of the conic A x^2 + B xy + C y^2 + D x + E y + F = 0.  The
// coefficients are first scaled by a positive factor that makes the
// quadratic part of unit size, so that the invariants compared with the
// epsilon do not depend on the scale the file wrote them in.
Conic classify(const double (&k)[6]) {
  double scale = std::fabs(k[0]) + std::fabs(k[2]);
  if (scale == 0.0) scale = std::fabs(k[1]);
  double n[6];
  for (int i = 0; i < 6; ++i) n[i] = scale > 0.0 ? k[i] / scale : k[i];
  const double a = n[0], b = n[1] / 2, c = n[2], d = n[3] / 2, e = n[4] / 2, f = n[5];
  const double q1 = a * (c * f - e * e) - b * (b * f - e * d) + d * (b * e - c * d);
  const double q2 = a * c - b * b;
  const double q3 = a + c;
  const double small = kSystemEpsilon / 1e6;
  if (std::fabs(q1) < kSystemEpsilon) return Conic::kDegenerate;
  if (q2 >= small && q1 * q3 < 0) return Conic::kEllipse;
  if (q2 < small) return Conic::kOpen;
  return Conic::kNoRealPoints;
}

// Centre and half axes of an ellipse, from the principal axes of its
// quadratic part.
ExpectedEllipse ellipseOf(const double (&k)[6]) {
  ExpectedEllipse x;
  const double a = k[0], b = k[1] / 2, c = k[2], d = k[3] / 2, e = k[4] / 2, f = k[5];
  const double det = a * c - b * b;
  x.cx = (b * e - c * d) / det;
  x.cy = (b * d - a * e) / det;
  const double value = d * x.cx + e * x.cy + f;  // at the centre
  const double mean = (a + c) / 2;
  const double spread = std::hypot((a - c) / 2, b);
  // Both eigenvalues have the sign of the mean; the smaller in size belongs
  // to the major axis.
  const double major = mean > 0 ? mean - spread : mean + spread;
  const double minor = mean > 0 ? mean + spread : mean - spread;
  x.a = std::sqrt(-value / major);
  x.b = std::sqrt(-value / minor);
  const double v1x = b, v1y = major - a, v2x = major - c, v2y = b;
  const bool first = std::hypot(v1x, v1y) >= std::hypot(v2x, v2y);
  const double ux = first ? v1x : v2x, uy = first ? v1y : v2y;
  const double len = std::hypot(ux, uy);
  if (len > 0) {
    x.ux = ux / len;
    x.uy = uy / len;
  }
  return x;
}

Expected expectedGeometry(const IgesFile& file) {
  Expected x;
  for (const auto& [de, e] : file.entries) {
    const std::vector<double>& v = e.values;
    if (e.type == 110 && v.size() >= 6) {
      if (std::hypot(v[3] - v[0], v[4] - v[1]) <= kSystemEpsilon) continue;
      const Matrix m = file.placement(de);
      x.lines.push_back(canonical(kpl::Line{0, apply(m, v[0], v[1], v[2]), apply(m, v[3], v[4], v[5])}));
    } else if (e.type == 100 && v.size() >= 7) {
      const Matrix m = file.placement(de);
      if (std::fabs(m.r[0][2]) >= kSystemEpsilon || std::fabs(m.r[1][2]) >= kSystemEpsilon) {
        ++x.ellipses;
        continue;
      }
      const kpl::Point centre = apply(m, v[1], v[2], v[0]);
      const kpl::Point start = apply(m, v[3], v[4], v[0]);
      const kpl::Circle c{0, centre, std::hypot(start.x - centre.x, start.y - centre.y)};
      if (std::hypot(v[5] - v[3], v[6] - v[4]) <= kSystemEpsilon)
        x.circles.push_back(c);
      else
        x.arcs.push_back(c);
    } else if (e.type == 104 && v.size() >= 11) {
      const double k[6] = {v[0], v[1], v[2], v[3], v[4], v[5]};
      const double z = v[6];
      const Matrix m = file.placement(de);
      const Conic kind = classify(k);
      if (kind == Conic::kDegenerate) {
        // Written as the line from the start to the end point.
        if (std::hypot(v[9] - v[7], v[10] - v[8]) > kSystemEpsilon)
          x.lines.push_back(canonical(kpl::Line{0, apply(m, v[7], v[8], z), apply(m, v[9], v[10], z)}));
      } else if (kind == Conic::kEllipse) {
        ++x.ellipses;
        ExpectedEllipse el = ellipseOf(k);
        el.placement = m;
        el.z = z;
        el.centre = apply(m, el.cx, el.cy, z);
        el.isArc = std::hypot(v[9] - v[7], v[10] - v[8]) > kSystemEpsilon;
        el.start = apply(m, v[7], v[8], z);
        el.end = apply(m, v[9], v[10], z);
        // A mirroring placement turns the arc's sense.
        if (m.r[0][0] * m.r[1][1] - m.r[0][1] * m.r[1][0] < 0) std::swap(el.start, el.end);
        x.conicEllipses.push_back(el);
      } else if (kind == Conic::kOpen) {
        ++x.splines;
        x.splinesAtLeast = true;
      }
    } else if (e.type == 126) {
      ++x.splines;
    } else if (e.type == 112) {
      ++x.splines;
      x.splinesAtLeast = true;
    } else if (e.type == 106 && (e.form == 11 || e.form == 12) && v.size() >= 2) {
      const int ip = static_cast<int>(v[0]);
      const int n = static_cast<int>(v[1]);
      const std::size_t stride = ip == 1 ? 2 : ip == 2 ? 3 : 6;
      const std::size_t first = ip == 1 ? 3 : 2;  // ip 1 has a common z first
      const Matrix m = file.placement(de);
      for (int k = 0; k + 1 < n; ++k) {
        const std::size_t at = first + static_cast<std::size_t>(k) * stride;
        if (at + stride + 1 >= v.size()) break;
        const double z0 = ip == 1 ? v[2] : v[at + 2];
        const double z1 = ip == 1 ? v[2] : v[at + stride + 2];
        if (std::hypot(v[at + stride] - v[at], v[at + stride + 1] - v[at + 1]) <= kSystemEpsilon)
          continue;
        x.lines.push_back(canonical(kpl::Line{0, apply(m, v[at], v[at + 1], z0),
                                              apply(m, v[at + stride], v[at + stride + 1], z1)}));
      }
    }
  }
  return x;
}

// A written ellipse against a conic's: the same centre, its first axis
// point at the end of the major half axis and its second at the end of the
// minor one (either end; any pair of perpendicular radii of a circle), the
// same arc ends.  The axis points are taken back into the conic's plane.
bool sameEllipse(const ExpectedEllipse& x, const kpl::Ellipse& w) {
  if (!near(x.centre, w.centre) || x.isArc != w.isArc) return false;
  if (x.isArc && !(near(x.start, w.start) && near(x.end, w.end))) return false;
  const Matrix& m = x.placement;
  const double det = m.r[0][0] * m.r[1][1] - m.r[0][1] * m.r[1][0];
  if (std::fabs(det) < 1e-9) return true;  // the plane seen edge-on
  const kpl::Point origin = apply(m, 0, 0, x.z);
  const auto back = [&](const kpl::Point& p, double& dx, double& dy) {
    const double px = p.x - origin.x, py = p.y - origin.y;
    dx = (m.r[1][1] * px - m.r[0][1] * py) / det - x.cx;
    dy = (m.r[0][0] * py - m.r[1][0] * px) / det - x.cy;
  };
  double d1x, d1y, d2x, d2y;
  back(w.axis1, d1x, d1y);
  back(w.axis2, d2x, d2y);
  const double tol = kTolerance * (1 + x.a);
  if (std::fabs(std::hypot(d1x, d1y) - x.a) > tol) return false;
  if (std::fabs(std::hypot(d2x, d2y) - x.b) > tol) return false;
  if (std::fabs(d1x * d2x + d1y * d2y) > tol * x.a) return false;
  // The first point lies on the major axis unless the ellipse is a circle.
  return x.a - x.b <= tol || std::fabs(-x.uy * d1x + x.ux * d1y) <= tol;
}

std::string corpusDir() { return std::string(TROVAK_CORPUS_DIR) + "/iges/"; }

ProgramResult convert(const TempDir& dir, const std::string& igesFile, const std::string& script) {
  const std::string config = dir.write("run.config", "TR_PROT ./\nTR_TEMP " + dir.path() +
                                                         "\nTR_LANG english\nTR_STAT nein\n");
  return runProgram(TROVAK_PROGRAM, {"-igesin", igesFile, script, config}, dir.path(), "", 300);
}

class IgesinCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(IgesinCorpus, ScriptRebuildsTheGeometry) {
  const std::string source = corpusDir() + GetParam();
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const std::string script = dir.path() + "/out.kpl";
  const ProgramResult run = convert(dir, source, script);
  ASSERT_EQ(run.status, 0) << run.err;
  const kpl::Script s = kpl::readScriptFile(script);
  ASSERT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);

  const Expected x = expectedGeometry(readIges(source));
  std::vector<kpl::Line> written;
  for (const kpl::Line& l : s.lines) written.push_back(canonical(l));
  EXPECT_EQ(written.size(), x.lines.size());
  const auto lineKey = [](const kpl::Line& l) { return l.start.x; };
  const auto sameLine = [](const kpl::Line& a, const kpl::Line& b) {
    return near(a.start, b.start) && near(a.end, b.end);
  };
  const std::vector<kpl::Line> missingLines = unmatched(x.lines, written, lineKey, sameLine);
  EXPECT_TRUE(missingLines.empty()) << missingLines.size() << " lines differ, first from ("
                                    << missingLines.front().start.x << ", "
                                    << missingLines.front().start.y << ")";

  const auto circleKey = [](const kpl::Circle& c) { return c.centre.x; };
  const auto sameCircle = [](const kpl::Circle& a, const kpl::Circle& b) {
    return near(a.centre, b.centre) && std::fabs(a.radius - b.radius) <= kTolerance;
  };
  EXPECT_EQ(s.circles.size(), x.circles.size());
  const auto missingCircles = unmatched(x.circles, s.circles, circleKey, sameCircle);
  EXPECT_TRUE(missingCircles.empty()) << missingCircles.size() << " circles differ";

  std::vector<kpl::Circle> arcs;
  for (const kpl::Arc& a : s.arcs) arcs.push_back(kpl::Circle{a.number, a.centre, a.radius});
  EXPECT_EQ(arcs.size(), x.arcs.size());
  // A three-point arc's centre comes out of three rounded points.
  const auto sameArc = [](const kpl::Circle& a, const kpl::Circle& b) {
    return std::hypot(a.centre.x - b.centre.x, a.centre.y - b.centre.y) <= 1e-5 * (1 + a.radius) &&
           std::fabs(a.radius - b.radius) <= 1e-5 * (1 + a.radius);
  };
  std::vector<kpl::Circle> missingArcs;
  {
    std::vector<bool> used(arcs.size(), false);
    for (const kpl::Circle& e : x.arcs) {
      bool found = false;
      for (std::size_t i = 0; i < arcs.size() && !found; ++i)
        if (!used[i] && sameArc(e, arcs[i])) used[i] = found = true;
      if (!found) missingArcs.push_back(e);
    }
  }
  EXPECT_TRUE(missingArcs.empty()) << missingArcs.size() << " arcs differ";

  EXPECT_EQ(s.ellipses.size(), x.ellipses);
  const auto ellipseKey = [](const auto& e) { return e.centre.x; };
  const auto missingEllipses =
      unmatched(x.conicEllipses, s.ellipses, ellipseKey, sameEllipse);
  EXPECT_TRUE(missingEllipses.empty())
      << missingEllipses.size() << " ellipses differ, first at (" << missingEllipses.front().centre.x
      << ", " << missingEllipses.front().centre.y << ")";
  if (x.splinesAtLeast)
    EXPECT_GE(s.splines.size(), x.splines);
  else
    EXPECT_EQ(s.splines.size(), x.splines);
}

INSTANTIATE_TEST_SUITE_P(GeometryFiles, IgesinCorpus,
                         ::testing::Values("occt_curves_50.igs", "occt_curves_500.igs",
                                           "occt_curves_brep_100.igs", "sample_curves.igs"));

// The 3D parts: what can be drawn is converted, the rest is reported.
class IgesinCorpus3d : public ::testing::TestWithParam<const char*> {};

TEST_P(IgesinCorpus3d, ConvertsWhatItCanAndReportsTheRest) {
  const std::string source = corpusDir() + GetParam();
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "no corpus";
  TempDir dir;
  const std::string script = dir.path() + "/out.kpl";
  const ProgramResult run = convert(dir, source, script);
  ASSERT_EQ(run.status, 0) << run.err;
  const kpl::Script s = kpl::readScriptFile(script);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  EXPECT_TRUE(s.closed);
  EXPECT_GT(s.lines.size() + s.splines.size() + s.circles.size() + s.arcs.size(), 0u);
  const bool reported = (run.err + run.out).find("(510)") != std::string::npos;
  EXPECT_TRUE(reported || s.unknownElements > 0) << run.err.substr(0, 2000);
}

INSTANTIATE_TEST_SUITE_P(SolidFiles, IgesinCorpus3d,
                         ::testing::Values("bearing_3d.iges", "rounded_cube_3d.igs"));

}  // namespace

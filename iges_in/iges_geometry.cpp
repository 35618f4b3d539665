#include "iges_in/iges_geometry.h"

#include <cmath>
#include <cstdio>

#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr double kSystemEpsilon = 0.0001;
constexpr int kMsgNotAtLevel = 190;
constexpr int kMsgNoRealEllipse = 470;

// The value at position i, 0.0 where the parameter data ended early.
double at(const ParameterValues& v, std::size_t i) { return i < v.size() ? v[i] : 0.0; }

ScriptPointXYZ point(double x, double y, double z) { return ScriptPointXYZ{x, y, z}; }

struct Matrix {
  explicit Matrix(const Transform* m) : has(m != nullptr) {
    if (has) value = toScriptMatrix(*m);
  }
  const ScriptMatrix* get() const { return has ? &value : nullptr; }
  bool has;
  ScriptMatrix value;
};

// Classes of copious data that only the full scope converts.
bool levelConvertsDetails() { return runHas(RunModeBit::kPlus) || runHas(RunModeBit::kB1); }


// A count read from the parameter data, bounded by what the data can hold.
std::size_t countOf(double value, std::size_t available, std::size_t perItem) {
  if (!(value > 0.0) || perItem == 0) return 0;
  const double most = static_cast<double>(available / perItem);
  return static_cast<std::size_t>(value < most ? value : most);
}

}  // namespace

IgesGeometryState& igesGeometryState() {
  static IgesGeometryState state;
  return state;
}

const RunStateRegistrar kRunStateRegistered("IGES geometry",
                                            [] { igesGeometryState() = IgesGeometryState{}; });

ScriptMatrix toScriptMatrix(const Transform& m) {
  ScriptMatrix s;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) s.r[i][j] = m.r[i][j];
    s.t[i] = m.t[i];
  }
  return s;
}

bool convertBlanked() {
  const int mode = runSettings().blankMode;
  if (mode == kNotSet) return runState().useToolkit == 0;
  return mode == 1;
}

bool passesEmitGates(int entityUse, int blankStatus) {
  TraceScope t("cee160");
  if (entityUse != 0 && !levelConvertsDetails()) return false;
  if (blankStatus == 1 && !convertBlanked()) return false;
  return true;
}

int emitPoint(const ScriptElement& e, const Transform* m, const ParameterValues& v,
              std::vector<std::int32_t>& created) {
  TraceScope t("cee200");
  const Matrix sm(m);
  return ScriptPointElement(e, sm.get(), point(at(v, 0), at(v, 1), at(v, 2)), created);
}

int emitLine(const ScriptElement& e, const Transform* m, const ParameterValues& v,
             std::vector<std::int32_t>& created) {
  TraceScope t("cee240");
  const Matrix sm(m);
  return ScriptLine(e, sm.get(), point(at(v, 0), at(v, 1), at(v, 2)),
                    point(at(v, 3), at(v, 4), at(v, 5)), created);
}

int emitCircularArc(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                    std::vector<std::int32_t>& created) {
  TraceScope t("cee280");
  const Matrix sm(m);
  const double z = at(v, 0);
  return ScriptCircle(e, sm.get(), point(at(v, 1), at(v, 2), z), point(at(v, 3), at(v, 4), z),
                      point(at(v, 5), at(v, 6), z), created);
}

int emitConicArc(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                 std::vector<std::int32_t>& created) {
  TraceScope t("cee160");
  const Matrix sm(m);
  const double c[6] = {at(v, 0), at(v, 1), at(v, 2), at(v, 3), at(v, 4), at(v, 5)};
  const double z = at(v, 6);
  const ScriptPointXYZ start = point(at(v, 7), at(v, 8), z);
  const ScriptPointXYZ end = point(at(v, 9), at(v, 10), z);
  ConicKind kind = classifyConic(c[0], c[1], c[2], c[3], c[4], c[5], kSystemEpsilon);
  // The toolkit directions hand every conic to the ellipse writer.
  if (runState().useToolkit) kind = ConicKind::kEllipse;
  switch (kind) {
    case ConicKind::kDegenerate: {
      const int r = ScriptLine(e, sm.get(), start, end, created);
      return r == 0 ? ConvertResult::kTakenOver : r;
    }
    case ConicKind::kEllipse: {
      ScriptEllipseData ellipse;
      if (scriptEllipseOfConic(c, z, ellipse) != 0) break;
      ellipse.start = start;
      ellipse.end = end;
      return ScriptConic(e, sm.get(), ellipse, created);
    }
    case ConicKind::kParabola:
    case ConicKind::kHyperbola:
      return ScriptConicCurve(e, sm.get(), c, start, end, created);
    case ConicKind::kNoRealPoints:
      break;
  }
  mfaReport(t.code(), kMsgNoRealEllipse, Channel::kProtocol, Severity::kWarning,
            {IgesType::kConicArc, e.data.sequence}, {}, "", nullptr);
  if (runSettings().traceLevel > 98)
    std::printf("cee160 : Ellipsenparameter a %f b %f c %f d %f e %f f %f\n", c[0], c[1], c[2],
                c[3], c[4], c[5]);
  return ConvertResult::kError;
}

namespace {

// The points of copious data: IP 1 pairs with a common z, IP 2 triples,
// IP 3 sextuples (point and vector).
std::vector<ScriptPointXYZ> copiousPoints(const ParameterValues& v) {
  std::vector<ScriptPointXYZ> points;
  const int ip = static_cast<int>(at(v, 0));
  const std::size_t stride = ip == 1 ? 2 : ip == 2 ? 3 : ip == 3 ? 6 : 0;
  const std::size_t first = ip == 1 ? 3 : 2;
  if (stride == 0 || v.size() < first) return points;
  const std::size_t n = countOf(at(v, 1), v.size() - first, stride);
  points.reserve(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t i = first + k * stride;
    points.push_back(point(v[i], v[i + 1], ip == 1 ? at(v, 2) : v[i + 2]));
  }
  return points;
}

// Consecutive points as lines; degenerate pieces are skipped by the writer.
int writeLines(const ScriptElement& e, const ScriptMatrix* m,
               const std::vector<ScriptPointXYZ>& points, std::size_t step,
               std::vector<std::int32_t>& created) {
  int written = 0;
  for (std::size_t k = 0; k + 1 < points.size(); k += step)
    if (ScriptLine(e, m, points[k], points[k + 1], created) == 0) ++written;
  return written;
}

}  // namespace

int emitCopiousData(const ScriptElement& e, const Transform* m, int form,
                    const ParameterValues& v, std::vector<std::int32_t>& created) {
  TraceScope t("cee700");
  const Matrix sm(m);
  const std::vector<ScriptPointXYZ> points = copiousPoints(v);
  if (form == 1 || form == 2) {
    TraceScope p("cee703");
    int written = 0;
    for (const ScriptPointXYZ& q : points)
      if (ScriptPointElement(e, sm.get(), q, created) == 0) ++written;
    return written > 0 ? ConvertResult::kDone : ConvertResult::kError;
  }
  if (form == 11 || form == 12) {
    TraceScope p("cee702");
    return writeLines(e, sm.get(), points, 1, created) > 0 ? ConvertResult::kDone
                                                           : ConvertResult::kError;
  }
  if ((form >= 31 && form <= 37) || form == 40) {
    if (!levelConvertsDetails()) {
      refuseForLevel(t.code());
      return ConvertResult::kError;
    }
    // Section lines are pairs of end points; a witness line is a path.
    TraceScope p(form == 40 ? "cee704" : "cee701");
    return writeLines(e, sm.get(), points, form == 40 ? 1 : 2, created) > 0
               ? ConvertResult::kDone
               : ConvertResult::kError;
  }
  if (form == 63) {
    TraceScope p("cee705");
    std::vector<std::int32_t> members;
    if (writeLines(e, sm.get(), points, 1, members) == 0) return ConvertResult::kError;
    return ScriptContour(e, members, 0, created);
  }
  return ConvertResult::kIgnored;
}

int emitFlash(const ScriptElement& e, const Transform* m, int form, const ParameterValues& v,
              std::vector<std::int32_t>& created) {
  TraceScope t("cee220");
  if (form != 1 && form != 2) return ConvertResult::kIgnored;
  const Matrix sm(m);
  const double x = at(v, 0), y = at(v, 1);
  int result = ConvertResult::kTakenOver;
  for (int k = 0; k < form; ++k) {
    // The size parameters of a flash are diameters.
    const double radius = at(v, 2 + static_cast<std::size_t>(k)) / 2.0;
    const ScriptPointXYZ centre = point(x, y, 0.0);
    const ScriptPointXYZ rim = point(x + radius, y, 0.0);
    const int r = ScriptCircle(e, sm.get(), centre, rim, rim, created);
    if (r != 0) result = r;
  }
  return result;
}

int emitParametricSpline(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                         std::vector<std::int32_t>& created, int& outputKind) {
  TraceScope t("cee360");
  const Matrix sm(m);
  // CTYPE, H, NDIM, N, T(1..N+1), then 12 coefficients per segment.
  constexpr std::size_t kHead = 4;
  if (v.size() < kHead) return ConvertResult::kError;
  const std::size_t n = countOf(at(v, 3), v.size() - kHead, 13);
  if (n == 0) return ConvertResult::kError;
  std::vector<double> breaks(v.begin() + kHead, v.begin() + static_cast<long>(kHead + n + 1));
  std::vector<ScriptSplineSegment> segments(n);
  std::vector<SplineSegment> pieces(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t base = kHead + n + 1 + 12 * i;
    for (int k = 0; k < 4; ++k) {
      segments[i].x[k] = pieces[i].coef[0][k] = at(v, base + k);
      segments[i].y[k] = pieces[i].coef[1][k] = at(v, base + 4 + k);
      segments[i].z[k] = pieces[i].coef[2][k] = at(v, base + 8 + k);
    }
    pieces[i].t0 = breaks[i];
    pieces[i].t1 = breaks[i + 1];
  }
  // The configuration's spline switch "no" writes the splines as lines.
  if (runSettings().splineMode != 0) {
    const std::size_t before = created.size();
    const int r = ScriptParamSpline(e, sm.get(), breaks, segments, created);
    if (r == 0) return ConvertResult::kDone;
    created.resize(before);
  }
  TraceScope lines("cee780");
  outputKind = IgesType::kLine;
  std::vector<Point3> along(splinePolylinePointCount(pieces.data(), n));
  along.resize(splinePolylinePoints(pieces.data(), n, along.data(), along.size()));
  std::vector<ScriptPointXYZ> points;
  points.reserve(along.size());
  for (const Point3& p : along) points.push_back(point(p.x, p.y, p.z));
  return writeLines(e, sm.get(), points, 1, created) > 0 ? ConvertResult::kDone
                                                         : ConvertResult::kError;
}

int emitRationalBSpline(const ScriptElement& e, const Transform* m, const ParameterValues& v,
                        std::vector<std::int32_t>& created) {
  TraceScope t("cee380");
  const Matrix sm(m);
  // K, M, PROP1..4, K+M+2 knots, K+1 weights, 3(K+1) control points.
  if (v.size() < 6 || !(at(v, 0) >= 0.0) || !(at(v, 1) >= 1.0)) return ConvertResult::kError;
  const double k = at(v, 0), degree = at(v, 1);
  if (k > static_cast<double>(v.size()) || degree > static_cast<double>(v.size()))
    return ConvertResult::kError;
  const std::size_t controls = static_cast<std::size_t>(k) + 1;
  const std::size_t knots = controls + static_cast<std::size_t>(degree) + 1;
  const std::size_t first = 6 + knots + controls;
  if (first + 3 * controls > v.size()) return ConvertResult::kError;
  std::vector<ScriptPointXYZ> points;
  points.reserve(controls);
  for (std::size_t i = 0; i < controls; ++i)
    points.push_back(point(v[first + 3 * i], v[first + 3 * i + 1], v[first + 3 * i + 2]));
  const bool periodic = at(v, 3) != 0.0;
  return ScriptBSpline(e, sm.get(), points, static_cast<int>(degree), periodic, created);
}

int selectPaletteColour(double redPercent, double greenPercent, double bluePercent, int& colour) {
  TraceScope t("pov314");
  IgesGeometryState& s = igesGeometryState();
  AssignTables& tables = assignTables();
  if (!s.paletteLoaded) {
    if (tables.colourDefinitions.empty()) readColourDefinitions();
    s.paletteLoaded = true;
  }
  const int red = percentToByte(redPercent);
  const int green = percentToByte(greenPercent);
  const int blue = percentToByte(bluePercent);
  std::vector<PaletteColour> palette;
  palette.reserve(tables.colourDefinitions.size());
  for (const ColourDefinition& d : tables.colourDefinitions)
    palette.push_back(PaletteColour{static_cast<int>(d.red), static_cast<int>(d.green),
                                    static_cast<int>(d.blue), static_cast<int>(d.number)});
  const long best = nearestPaletteColour(palette.data(), palette.size(), red, green, blue);
  if (best < 0) {
    colour = 1;
    return -1;
  }
  const PaletteColour& p = palette[static_cast<std::size_t>(best)];
  colour = p.number;
  if (runSettings().traceLevel > 4)
    std::printf("-> pov314 : ausgewaehlte Farbe %d (RGB : %d %d %d) aus %d %d %d\n", p.number,
                p.red, p.green, p.blue, red, green, blue);
  return 0;
}

void refuseForLevel(const char* code, std::int32_t index) {
  // The first refusal goes to the console too, later ones to the protocol.
  IgesGeometryState& s = igesGeometryState();
  if (index > 0) mfaSetPosition(index, element(index).de.paramPointer);
  mfaWarning(code, kMsgNotAtLevel, s.levelWarningShown ? Channel::kProtocol : Channel::kBoth);
  if (index > 0) mfaClearPosition();
  s.levelWarningShown = true;
}

#include "script/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <string>

#include "elements/transform.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

double tolerance() { return scriptState().pointTolerance; }

double distance(const ScriptPointXYZ& a, const ScriptPointXYZ& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Steps 1 and 3 of the frame: the name for messages, the element's layer
// and z-order.
void beginElement(const ScriptElement& e) {
  mfaSetCurrentName(e.data.name);
  if (!e.layerName.empty()) {
    ScriptLayerOf(e.layerName);
  } else {
    ScriptLayerSwitch(e.index, e.level);
  }
  ScriptZOrder(e.index);
}

// zref and style, the leading blocks of a statement.
void appendLeadingBlocks(std::string& text, const ScriptElement& e) {
  scriptAppendZRef(text, e.index, e.level);
  text.push_back(',');
  scriptAppendLineStyle(text, cadLineStyle(e.font), widthOfNumber(e.widthNumber));
}

// blank, colour and info, the closing blocks.
void appendClosingBlocks(std::string& text, const ScriptElement& e) {
  text.append(e.attributes.blank == 1 ? "1," : "0,");
  scriptAppendColourText(text, e.attributes.colour);
  text.push_back(',');
  scriptAppendInfoText(text, e.index, &e.data);
  text.push_back(')');
}

std::string closingBlocks(const ScriptElement& e) {
  std::string text;
  appendClosingBlocks(text, e);
  return text;
}

// "E<n>=<function>(<zref>,<style>,": the start of an element statement.
void startStatement(std::string& text, std::int32_t n, const char* function, const ScriptElement& e) {
  text.clear();
  text.push_back('E');
  scriptAppendInteger(text, n);
  text.push_back('=');
  text.append(function).push_back('(');
  appendLeadingBlocks(text, e);
  text.push_back(',');
}

// ",E<k>" for each element.
void appendElements(std::string& text, std::initializer_list<std::int32_t> elements) {
  for (const std::int32_t k : elements) {
    text.append(",E");
    scriptAppendInteger(text, k);
  }
}

// ",<blank>,<colour>,<info>)\n" and the statement to the stream.
void finishStatement(std::string& text, const ScriptElement& e) {
  text.push_back(',');
  appendClosingBlocks(text, e);
  text.push_back('\n');
  scriptWrite(text);
}

// Warning 630: the element degenerates (too small, or construction points
// that fall into one); -1.
int degenerate(const char* code) {
  mfaWarning(code, 630, Channel::kProtocol);
  return -1;
}

bool inside(const ScriptState& s, double x, double y) {
  const double x1 = std::min(s.clipX1, s.clipX2), x2 = std::max(s.clipX1, s.clipX2);
  const double y1 = std::min(s.clipY1, s.clipY2), y2 = std::max(s.clipY1, s.clipY2);
  return x >= x1 && x <= x2 && y >= y1 && y <= y2;
}

}  // namespace

ScriptPointXYZ scriptTransform(const ScriptMatrix* m, const ScriptPointXYZ& p) {
  if (!m) return p;
  ScriptPointXYZ q;
  q.x = m->r[0][0] * p.x + m->r[0][1] * p.y + m->r[0][2] * p.z + m->t[0];
  q.y = m->r[1][0] * p.x + m->r[1][1] * p.y + m->r[1][2] * p.z + m->t[1];
  q.z = m->r[2][0] * p.x + m->r[2][1] * p.y + m->r[2][2] * p.z + m->t[2];
  return q;
}

double scriptMatrixScale(const ScriptMatrix* m) {
  if (!m) return 1.0;
  return std::sqrt(m->r[0][0] * m->r[0][0] + m->r[1][0] * m->r[1][0] + m->r[2][0] * m->r[2][0]);
}

void ScriptSetClipBox(double x1, double y1, double x2, double y2) {
  ScriptState& s = scriptState();
  s.clipSet = true;
  s.clipX1 = x1;
  s.clipY1 = y1;
  s.clipX2 = x2;
  s.clipY2 = y2;
}

void ScriptClearClipBox() { scriptState().clipSet = false; }

int ScriptClip(ScriptPointXYZ& a, ScriptPointXYZ& b) {
  TraceScope t("ses190");
  const ScriptState& s = scriptState();
  if (!s.clipSet) return 0;
  if (inside(s, a.x, a.y) && inside(s, b.x, b.y)) return 0;
  // Cut the parameter range [t0, t1] of a + t (b - a) against the four edges.
  const double x1 = std::min(s.clipX1, s.clipX2), x2 = std::max(s.clipX1, s.clipX2);
  const double y1 = std::min(s.clipY1, s.clipY2), y2 = std::max(s.clipY1, s.clipY2);
  const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
  double t0 = 0.0, t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - x1, x2 - a.x, a.y - y1, y2 - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return -1;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > t1) return -1;
      if (r > t0) t0 = r;
    } else {
      if (r < t0) return -1;
      if (r < t1) t1 = r;
    }
  }
  const ScriptPointXYZ a0 = a;
  a = ScriptPointXYZ{a0.x + t0 * dx, a0.y + t0 * dy, a0.z + t0 * dz};
  b = ScriptPointXYZ{a0.x + t1 * dx, a0.y + t1 * dy, a0.z + t1 * dz};
  return 0;
}

int ScriptClipPoints(const std::vector<ScriptPointXYZ>& points) {
  TraceScope t("ses190");
  const ScriptState& s = scriptState();
  if (!s.clipSet) return 0;
  for (const ScriptPointXYZ& p : points) {
    if (inside(s, p.x, p.y)) return 0;
  }
  return -1;
}

namespace {

// The picture of the run (-svg): what an element's statement draws.
DrawnStyle drawnStyleOf(const ScriptElement& e) {
  DrawnStyle s;
  s.element = e.index;
  s.layer = e.layerName.empty() ? std::to_string(e.level) : e.layerName;
  s.colour = cadColourOf(e.attributes.colour);
  return s;
}

}  // namespace

int ScriptPointElement(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& p,
                       std::vector<std::int32_t>& created) {
  TraceScope t("ses200");
  beginElement(e);
  const ScriptPointXYZ q = scriptTransform(m, p);
  if (scriptState().clipSet && ScriptClipPoints({q}) != 0) return -99;
  ScriptRecordCreated(ScriptPoint(e.index, e.attributes, &e.data, nullptr, q), created);
  return 0;
}

int ScriptLine(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& p1,
               const ScriptPointXYZ& p2, std::vector<std::int32_t>& created) {
  TraceScope t("ses240");
  mfaSetCurrentName(e.data.name);
  if (distance(p1, p2) <= tolerance()) {
    mfaWarning(t.code(), 640, Channel::kProtocol);
    return -1;
  }
  beginElement(e);
  ScriptPointXYZ a = scriptTransform(m, p1);
  ScriptPointXYZ b = scriptTransform(m, p2);
  if (scriptState().clipSet && ScriptClip(a, b) != 0) return -99;
  if (std::hypot(a.x - b.x, a.y - b.y) <= tolerance()) {
    mfaWarning(t.code(), 641, Channel::kProtocol);
    return -1;
  }
  const std::int32_t e1 = ScriptConstructionPoint(nullptr, a);
  const std::int32_t e2 = ScriptConstructionPoint(&a, b);
  if (e1 == e2) {
    mfaWarning(t.code(), 641, Channel::kProtocol);
    return -1;
  }
  const std::int32_t n = scriptState().elementCounter;
  ScriptScratch scratch;
  std::string& text = scratch.text();
  startStatement(text, n, "DTCreateLine", e);
  text.push_back('E');
  scriptAppendInteger(text, e1);
  appendElements(text, {e2});
  finishStatement(text, e);
  ScriptFinishElement(n, created);
  if (ConversionPicture* record = conversionPicture()) record->line(drawnStyleOf(e), {a.x, a.y}, {b.x, b.y});
  return 0;
}

int ScriptCircle(const ScriptElement& e, const ScriptMatrix* m, const ScriptPointXYZ& centre,
                 const ScriptPointXYZ& start, const ScriptPointXYZ& end, std::vector<std::int32_t>& created,
                 double chord) {
  TraceScope t("ses280");
  mfaSetCurrentName(e.data.name);
  const double tol = tolerance();
  const double d = chord >= 0.0 ? chord : distance(start, end);
  const double radius = std::hypot(start.x - centre.x, start.y - centre.y);
  if (radius <= tol) return degenerate(t.code());
  beginElement(e);
  const bool parallel = !m || (std::fabs(m->r[0][2]) < tol && std::fabs(m->r[1][2]) < tol);
  const ScriptPointXYZ c = scriptTransform(m, centre);
  const ScriptPointXYZ s = scriptTransform(m, start);
  const ScriptPointXYZ en = scriptTransform(m, end);
  if (scriptState().clipSet && ScriptClipPoints({c, s, en}) != 0) return -99;
  if (ConversionPicture* record = conversionPicture()) {
    const double r = std::hypot(s.x - c.x, s.y - c.y);
    double a0 = std::atan2(s.y - c.y, s.x - c.x);
    double a1 = std::atan2(en.y - c.y, en.x - c.x);
    // A mirroring matrix turns the counter-clockwise arc round.
    if (m != nullptr && m->r[2][2] < 0.0) std::swap(a0, a1);
    if (d > tol) {
      record->arc(drawnStyleOf(e), {c.x, c.y}, r, a0, a1);
    } else {
      record->circle(drawnStyleOf(e), {c.x, c.y}, r);
    }
  }
  std::ostream& o = scriptOut();
  const char* const noAxes = "\"no_axes\"";
  if (parallel) {
    if (d > tol) {
      if (runSettings().arcMode == 1) {
        const std::int32_t ec = ScriptConstructionPoint(nullptr, c);
        const std::int32_t es = ScriptConstructionPoint(&c, s);
        const std::int32_t ee = ScriptConstructionPoint(&c, en);
        if (ec == es || ec == ee || es == ee) return degenerate(t.code());
        const double r = std::hypot(s.x - c.x, s.y - c.y) * scriptState().unitScale;
        const std::int32_t n = scriptState().elementCounter;
        ScriptScratch scratch;
        std::string& text = scratch.text();
        startStatement(text, n, "DTCreateArcCenter", e);
        text.append(noAxes);
        appendElements(text, {es, ec, ee});
        text.push_back(',');
        scriptAppendNumber(text, r);
        finishStatement(text, e);
        ScriptFinishElement(n, created);
        return 0;
      }
      // The middle of the counter-clockwise arc, in the element's plane.
      const double a0 = std::atan2(start.y - centre.y, start.x - centre.x);
      double a1 = std::atan2(end.y - centre.y, end.x - centre.x);
      if (a1 <= a0) a1 += 2.0 * kPi;
      const double am = 0.5 * (a0 + a1);
      const ScriptPointXYZ middle{centre.x + radius * std::cos(am), centre.y + radius * std::sin(am), start.z};
      const ScriptPointXYZ mi = scriptTransform(m, middle);
      const std::int32_t es = ScriptConstructionPoint(nullptr, s);
      const std::int32_t ee = ScriptConstructionPoint(&s, en);
      const std::int32_t em = ScriptConstructionPoint(&s, mi);
      if (es == ee || es == em || ee == em) return degenerate(t.code());
      const std::int32_t n = scriptState().elementCounter;
      ScriptScratch scratch;
      std::string& text = scratch.text();
      startStatement(text, n, "DTCreateArc", e);
      text.append(noAxes);
      appendElements(text, {es, em, ee});
      finishStatement(text, e);
      ScriptFinishElement(n, created);
      return 0;
    }
    const double r = std::hypot(s.x - c.x, s.y - c.y);
    if (r <= tol) return degenerate(t.code());
    const std::int32_t ec = ScriptConstructionPoint(nullptr, c);
    const std::int32_t n = scriptState().elementCounter;
    ScriptScratch scratch;
    std::string& text = scratch.text();
    startStatement(text, n, "DTCreateCircle", e);
    text.append(noAxes);
    appendElements(text, {ec});
    text.push_back(',');
    scriptAppendNumber(text, r * scriptState().unitScale);
    finishStatement(text, e);
    ScriptFinishElement(n, created);
    return 0;
  }
  // A tilted plane: the projection is an ellipse through the start point
  // and the start point turned by a quarter in the element's plane.
  const ScriptPointXYZ axis{centre.x + (start.y - centre.y), centre.y + (centre.x - start.x), centre.z};
  const ScriptPointXYZ ax = scriptTransform(m, axis);
  const std::int32_t ec = ScriptConstructionPoint(nullptr, c);
  const std::int32_t es = ScriptConstructionPoint(&c, s);
  const std::int32_t ea = ScriptConstructionPoint(&c, ax);
  if (ec == es || ec == ea || es == ea) return degenerate(t.code());
  const std::int32_t n = scriptState().elementCounter;
  {
    ScriptScratch scratch;
    std::string& text = scratch.text();
    startStatement(text, n, "DTCreateEllipse", e);
    text.append(noAxes);
    appendElements(text, {ec, es, ea});
    finishStatement(text, e);
  }
  ScriptFinishElement(n, created);
  if (d <= tol) return 0;
  const std::int32_t ee = ScriptConstructionPoint(&c, en);
  std::int32_t first = es, second = ee;
  if (m->r[2][2] < 0.0) std::swap(first, second);
  // The end may fall on the axis point (an arc of three quarters); only an
  // end on the centre or on the start leaves no arc.
  if (ee == ec || ee == es) {
    mfaWarning(t.code(), 630, Channel::kProtocol);
    o << "DTSetInVisible({E" << n << "})\n";
    ++scriptState().statementCounter;
    return 0;
  }
  const std::int32_t k = scriptState().elementCounter;
  ScriptScratch scratch;
  std::string& text = scratch.text();
  startStatement(text, k, "DTCreateEllipseArc", e);
  text.append(noAxes);
  appendElements(text, {ec, es, ea, first, second});
  finishStatement(text, e);
  ScriptFinishElement(k, created);
  return 0;
}

int scriptEllipseOfConic(const double k[6], double z, ScriptEllipseData& out) {
  const double A = k[0], B = k[1], C = k[2], D = k[3], Ee = k[4], F = k[5];
  const double det = 4.0 * A * C - B * B;
  if (!(det > 0.0)) return -1;
  const double cx = (B * Ee - 2.0 * C * D) / det;
  const double cy = (B * D - 2.0 * A * Ee) / det;
  const double f0 = A * cx * cx + B * cx * cy + C * cy * cy + D * cx + Ee * cy + F;
  double theta = 0.5 * std::atan2(B, A - C);
  const double co = std::cos(theta), si = std::sin(theta);
  const double l1 = A * co * co + B * co * si + C * si * si;
  const double l2 = A * si * si - B * co * si + C * co * co;
  if (!(-f0 / l1 > 0.0) || !(-f0 / l2 > 0.0)) return -1;
  double a = std::sqrt(-f0 / l1), b = std::sqrt(-f0 / l2);
  // The angle found is that of one axis; a is the longer.  The direction of
  // the major axis is kept within a half turn around the x axis.
  if (a < b) {
    std::swap(a, b);
    theta += 0.5 * kPi;
    if (theta > 0.5 * kPi) theta -= kPi;
  }
  out.centre = ScriptPointXYZ{cx, cy, z};
  out.a = a;
  out.b = b;
  out.rotation = theta;
  return 0;
}

int ScriptConic(const ScriptElement& e, const ScriptMatrix* m, const ScriptEllipseData& el,
                std::vector<std::int32_t>& created) {
  TraceScope t("ses330");
  mfaSetCurrentName(e.data.name);
  const double tol = tolerance();
  if (!(el.b > tol) || !(el.a > tol)) return degenerate(t.code());
  beginElement(e);
  const double co = std::cos(el.rotation), si = std::sin(el.rotation);
  const ScriptPointXYZ c = scriptTransform(m, el.centre);
  const ScriptPointXYZ p1 =
      scriptTransform(m, ScriptPointXYZ{el.centre.x + el.a * co, el.centre.y + el.a * si, el.centre.z});
  const ScriptPointXYZ p2 =
      scriptTransform(m, ScriptPointXYZ{el.centre.x - el.b * si, el.centre.y + el.b * co, el.centre.z});
  if (scriptState().clipSet && ScriptClipPoints({c, p1, p2}) != 0) return -99;
  if (ConversionPicture* record = conversionPicture()) {
    // The axes as the matrix turned them; the arc's ends as parameters of
    // the turned ellipse.
    const double rx = std::hypot(p1.x - c.x, p1.y - c.y), ry = std::hypot(p2.x - c.x, p2.y - c.y);
    const double rotation = std::atan2(p1.y - c.y, p1.x - c.x);
    const auto parameter = [&](const ScriptPointXYZ& p) {
      const ScriptPointXYZ q = scriptTransform(m, p);
      const double u = (q.x - c.x) * std::cos(rotation) + (q.y - c.y) * std::sin(rotation);
      const double v = -(q.x - c.x) * std::sin(rotation) + (q.y - c.y) * std::cos(rotation);
      return std::atan2(v / ry, u / rx);
    };
    const bool full = !(distance(el.start, el.end) > tol);
    double from = full ? 0.0 : parameter(el.start), to = full ? 0.0 : parameter(el.end);
    if (m != nullptr && m->r[2][2] < 0.0) std::swap(from, to);
    record->ellipse(drawnStyleOf(e), {c.x, c.y}, rx, ry, rotation, full, from, to);
  }
  const std::int32_t ec = ScriptConstructionPoint(nullptr, c);
  const std::int32_t e1 = ScriptConstructionPoint(&c, p1);
  const std::int32_t e2 = ScriptConstructionPoint(&c, p2);
  if (ec == e1 || ec == e2 || e1 == e2) return degenerate(t.code());
  const std::int32_t n = scriptState().elementCounter;
  if (distance(el.start, el.end) > tol) {
    std::int32_t es = ScriptConstructionPoint(&c, scriptTransform(m, el.start));
    std::int32_t ee = ScriptConstructionPoint(&c, scriptTransform(m, el.end));
    if (m && m->r[2][2] < 0.0) std::swap(es, ee);
    const std::int32_t k = scriptState().elementCounter;
    ScriptScratch scratch;
    std::string& text = scratch.text();
    startStatement(text, k, "DTCreateEllipseArc", e);
    text.append("\"no_axes\"");
    appendElements(text, {ec, e1, e2, es, ee});
    finishStatement(text, e);
    ScriptFinishElement(k, created);
    return 0;
  }
  ScriptScratch scratch;
  std::string& text = scratch.text();
  startStatement(text, n, "DTCreateEllipse", e);
  text.append("\"no_axes\"");
  appendElements(text, {ec, e1, e2});
  finishStatement(text, e);
  ScriptFinishElement(n, created);
  return 0;
}

namespace {

// Splines: control point numbers per spline.
int ScriptSpline(const ScriptElement& e, const std::vector<std::vector<std::int32_t>>& splines, int degree,
                 bool periodic, std::vector<std::int32_t>& created) {
  TraceScope t("ses957");
  for (const std::vector<std::int32_t>& controls : splines) {
    const std::int32_t n = scriptState().elementCounter;
    ScriptScratch scratch;
    std::string& text = scratch.text();
    startStatement(text, n, "DTCreateSpline", e);
    text.append(periodic ? "\"periodic_urbs\"," : "\"nonper_urbs\",");
    scriptAppendInteger(text, std::min(degree, 4));
    text.append(", {");
    for (std::int32_t c : controls) {
      text.append(" E");
      scriptAppendInteger(text, c);
    }
    text.push_back('}');
    finishStatement(text, e);
    ScriptFinishElement(n, created);
  }
  return 0;
}

int ScriptControlPoints(const ScriptElement& /*e*/, const ScriptMatrix* m, const std::vector<ScriptPointXYZ>& points,
                        std::vector<std::int32_t>& numbers) {
  TraceScope t("ses956");
  try {
    numbers.reserve(numbers.size() + points.size());
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  ScriptPointXYZ first;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const ScriptPointXYZ q = scriptTransform(m, points[i]);
    if (i == 0) {
      first = q;
      numbers.push_back(ScriptConstructionPoint(nullptr, q));
    } else {
      numbers.push_back(ScriptConstructionPoint(&first, q));
    }
  }
  return 0;
}

}  // namespace

int ScriptBSpline(const ScriptElement& e, const ScriptMatrix* m, const std::vector<ScriptPointXYZ>& controls,
                  int degree, bool periodic, std::vector<std::int32_t>& created) {
  TraceScope t("ses380");
  mfaSetCurrentName(e.data.name);
  if (controls.empty()) return -1;
  beginElement(e);
  std::vector<std::int32_t> numbers;
  if (ScriptControlPoints(e, m, controls, numbers) != 0) return -1;
  if (ConversionPicture* record = conversionPicture()) {
    // The curve the statement makes of the control points.
    std::vector<DrawnPoint> points;
    points.reserve(controls.size());
    for (const ScriptPointXYZ& p : controls) {
      const ScriptPointXYZ q = scriptTransform(m, p);
      points.push_back({q.x, q.y});
    }
    record->uniformSpline(drawnStyleOf(e), degree, points, periodic);
  }
  return ScriptSpline(e, {numbers}, degree, periodic, created);
}

std::vector<ScriptPointXYZ> scriptBezierOf(const ScriptSplineSegment& s, double dt, int g) {
  TraceScope t("ses952");
  // b_k = sum_j (C(k,j) / C(g,j)) a_j dt^j
  static constexpr double kBinomial[5][5] = {
      {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 2, 1, 0, 0}, {1, 3, 3, 1, 0}, {1, 4, 6, 4, 1}};
  std::vector<ScriptPointXYZ> b(static_cast<std::size_t>(g) + 1);
  for (int k = 0; k <= g; ++k) {
    double p = 1.0;
    ScriptPointXYZ v;
    for (int j = 0; j <= k; ++j) {
      const double f = kBinomial[k][j] / kBinomial[g][j] * p;
      if (j <= 3) {
        v.x += f * s.x[j];
        v.y += f * s.y[j];
        v.z += f * s.z[j];
      }
      p *= dt;
    }
    b[static_cast<std::size_t>(k)] = v;
  }
  return b;
}

namespace {
double squared(const ScriptPointXYZ& a, const ScriptPointXYZ& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}
ScriptPointXYZ midpoint(const ScriptPointXYZ& a, const ScriptPointXYZ& b) {
  return ScriptPointXYZ{0.5 * (a.x + b.x), 0.5 * (a.y + b.y), 0.5 * (a.z + b.z)};
}
}  // namespace

int scriptJunctionClass(const std::vector<ScriptPointXYZ>& q, const std::vector<ScriptPointXYZ>& r, int g) {
  TraceScope t("ses953");
  const std::size_t nq = q.size();
  if (nq < 2 || r.size() < 2) return -1;
  const ScriptPointXYZ& q0 = q[nq - 1];
  const ScriptPointXYZ& q1 = q[nq - 2];
  const double tol = 0.0001 * std::max(squared(q0, q1), squared(r[1], r[0]));
  if (!(squared(r[0], q0) <= tol)) return -1;
  int c = 0;
  const ScriptPointXYZ m0 = midpoint(q0, r[0]);
  if (g > 1 && squared(midpoint(q1, r[1]), m0) <= tol) {
    c = 1;
    // Curvature continuous: equal second differences on both sides.
    if (g > 2 && nq >= 3 && r.size() >= 3) {
      const ScriptPointXYZ& q2 = q[nq - 3];
      const ScriptPointXYZ dq{q0.x - 2 * q1.x + q2.x, q0.y - 2 * q1.y + q2.y, q0.z - 2 * q1.z + q2.z};
      const ScriptPointXYZ dr{r[2].x - 2 * r[1].x + r[0].x, r[2].y - 2 * r[1].y + r[0].y,
                              r[2].z - 2 * r[1].z + r[0].z};
      if (squared(dq, dr) <= tol) c = 2;
    }
  }
  return c;
}

namespace {
ScriptPointXYZ along(const ScriptPointXYZ& a, const ScriptPointXYZ& b, double f) {
  return ScriptPointXYZ{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}
}  // namespace

// The CAD system's splines have uniform knots: an open one starts and ends
// at its first and last control point (its end knots repeated), a periodic
// one wraps around.  The segments of a piece join smoothly to the degree's
// continuity in the segments' own parameter, so the piece is one such
// spline; its control points are found from the legs of the Bezier
// polygons.  Degree 1: the vertices.  Degree 2: the middle Bezier points
// (with the two ends for an open piece).  Degree 3: the middle legs of the
// Bezier polygons lie on the legs of the control polygon, which they divide
// in the ratio of the knot intervals the leg spans; inside a uniform run
// that is in thirds, near the repeated end knots in halves.
std::vector<ScriptPointXYZ> scriptMergePiece(const std::vector<std::vector<ScriptPointXYZ>>& bezier, int g,
                                             bool periodic) {
  TraceScope t("ses955");
  std::vector<ScriptPointXYZ> out;
  const int n = static_cast<int>(bezier.size());
  if (n == 0 || g < 1 || g > 3) return out;
  for (const std::vector<ScriptPointXYZ>& b : bezier) {
    if (static_cast<int>(b.size()) != g + 1) return out;
  }
  const std::vector<ScriptPointXYZ>& last = bezier.back();
  if (g == 1) {
    for (const std::vector<ScriptPointXYZ>& b : bezier) out.push_back(b[0]);
    if (!periodic) out.push_back(last[1]);
    return out;
  }
  if (g == 2) {
    if (!periodic) out.push_back(bezier.front()[0]);
    for (const std::vector<ScriptPointXYZ>& b : bezier) out.push_back(b[1]);
    if (!periodic) out.push_back(last[2]);
    return out;
  }
  if (periodic) {
    for (const std::vector<ScriptPointXYZ>& b : bezier) out.push_back(along(b[2], b[1], 2.0));
    return out;
  }
  // Knots 0,0,0,0,1,2,...,n-1,n,n,n,n; segment s spans [s, s+1] and its
  // middle leg lies on the control leg that spans [max(0, s-1), min(n, s+2)].
  out.push_back(bezier.front()[0]);
  for (int s = 0; s < n; ++s) {
    const std::vector<ScriptPointXYZ>& b = bezier[static_cast<std::size_t>(s)];
    const double from = std::max(0, s - 1), to = std::min(n, s + 2);
    const double alpha = (s - from) / (to - from), beta = (s + 1 - from) / (to - from);
    out.push_back(along(b[1], b[2], -alpha / (beta - alpha)));
  }
  out.push_back(last[2]);
  out.push_back(last[3]);
  return out;
}

int ScriptParamSpline(const ScriptElement& e, const ScriptMatrix* m, const std::vector<double>& breaks,
                      const std::vector<ScriptSplineSegment>& segments, std::vector<std::int32_t>& created) {
  TraceScope t("ses360");
  mfaSetCurrentName(e.data.name);
  const std::size_t n = segments.size();
  if (n == 0 || breaks.size() < n + 1) return -1;
  int g = 1;
  for (const ScriptSplineSegment& s : segments) {
    for (int j = 3; j > g; --j) {
      if (s.x[j] != 0.0 || s.y[j] != 0.0 || s.z[j] != 0.0) g = j;
    }
  }
  beginElement(e);
  std::vector<std::vector<ScriptPointXYZ>> bezier(n);
  for (std::size_t i = 0; i < n; ++i) bezier[i] = scriptBezierOf(segments[i], breaks[i + 1] - breaks[i], g);
  // Junction i lies before segment i; junction 0 closes the curve.
  std::vector<bool> cut(n);
  bool anyCut = false;
  for (std::size_t i = 0; i < n; ++i) {
    const std::vector<ScriptPointXYZ>& earlier = bezier[i == 0 ? n - 1 : i - 1];
    cut[i] = scriptJunctionClass(earlier, bezier[i], g) < g - 1;
    if (i > 0 && cut[i]) anyCut = true;
  }
  // Pieces as runs of segments [first, first+count) modulo n.
  struct Piece {
    std::size_t first, count;
  };
  std::vector<Piece> pieces;
  bool periodic = false;
  if (!cut[0] && !anyCut) {
    periodic = true;
    pieces.push_back(Piece{0, n});
  } else {
    std::size_t start = 0;
    for (std::size_t i = 1; i <= n; ++i) {
      if (i == n || cut[i]) {
        pieces.push_back(Piece{start, i - start});
        start = i;
      }
    }
    if (!cut[0] && pieces.size() > 1) {
      // The last piece continues into the first.
      Piece last = pieces.back();
      pieces.pop_back();
      pieces[0] = Piece{last.first, last.count + pieces[0].count};
    }
  }
  // A closed curve of fewer segments than its degree needs has no periodic
  // control polygon; it is written open from its first segment.
  if (periodic && static_cast<int>(n) <= g) periodic = false;
  std::vector<std::int32_t> made;
  for (const Piece& p : pieces) {
    std::vector<std::vector<ScriptPointXYZ>> run;
    for (std::size_t k = 0; k < p.count; ++k) run.push_back(bezier[(p.first + k) % n]);
    const std::vector<ScriptPointXYZ> polygon = scriptMergePiece(run, g, periodic);
    std::vector<std::int32_t> numbers;
    if (ScriptControlPoints(e, m, polygon, numbers) != 0) return -1;
    ScriptSpline(e, {numbers}, g, periodic, made);
  }
  for (std::int32_t k : made) ScriptRecordCreated(k, created);
  if (ConversionPicture* record = conversionPicture()) {
    // The segments' Bezier pieces, which the statements' splines follow.
    std::vector<std::vector<DrawnPoint>> drawn(n);
    for (std::size_t i = 0; i < n; ++i) {
      for (const ScriptPointXYZ& p : bezier[i]) {
        const ScriptPointXYZ q = scriptTransform(m, p);
        drawn[i].push_back({q.x, q.y});
      }
    }
    record->bezierCurve(drawnStyleOf(e), g, drawn);
  }
  if (e.attributes.blank == 1 && !made.empty()) {
    std::ostream& o = scriptOut();
    o << "DTSetInVisible({";
    for (std::size_t i = 0; i < made.size(); ++i) o << (i ? "," : "") << "E" << made[i];
    o << "})\n";
    ++scriptState().statementCounter;
  }
  return 0;
}

int ScriptContourUnion(const ScriptElement& e, const std::vector<std::int32_t>& members,
                       std::vector<std::int32_t>& created) {
  TraceScope t("ses705");
  if (members.empty()) return 0;
  if (members.size() == 1) {
    ScriptRecordCreated(members[0], created);
    return 0;
  }
  const std::int32_t n = scriptState().elementCounter;
  ScriptScratch scratch;
  std::string& text = scratch.text();
  text.push_back('E');
  scriptAppendInteger(text, n);
  text.append("=DTCreateContourUnion( ");
  scriptAppendZRef(text, e.index, e.level);
  text.append(", { ");
  for (std::int32_t k : members) {
    text.push_back('E');
    scriptAppendInteger(text, k);
    text.push_back(' ');
  }
  text.push_back('}');
  finishStatement(text, e);
  ScriptFinishElement(n, created);
  return 0;
}

int ScriptContour(const ScriptElement& e, const std::vector<std::int32_t>& members, std::size_t c,
                  std::vector<std::int32_t>& created) {
  TraceScope t("ses700");
  c = std::min(c, members.size());
  if (members.empty()) return 0;
  beginElement(e);
  if (c == members.size()) return ScriptContourUnion(e, members, created);
  const std::int32_t n = scriptState().elementCounter;
  {
    ScriptScratch scratch;
    std::string& text = scratch.text();
    text.push_back('E');
    scriptAppendInteger(text, n);
    text.append("=DTCreateContourOfElements( ");
    scriptAppendZRef(text, e.index, e.level);
    text.append(", { ");
    for (std::size_t i = c; i < members.size(); ++i) {
      if ((i - c) % 20 == 0) text.push_back('\n');
      text.push_back('E');
      scriptAppendInteger(text, members[i]);
      text.push_back(' ');
    }
    text.push_back('}');
    finishStatement(text, e);
  }
  ScriptState& s = scriptState();
  ++s.elementCounter;
  ++s.statementCounter;
  if (c == 0) {
    ScriptRecordCreated(n, created);
    return 0;
  }
  std::vector<std::int32_t> all(members.begin(), members.begin() + static_cast<std::ptrdiff_t>(c));
  all.push_back(n);
  return ScriptContourUnion(e, all, created);
}

void ScriptContourStart() {
  ScriptState& s = scriptState();
  if (runState().edxOut) scriptOut() << "DTStartContour()\n";
  if (runSettings().traceLevel > 1) std::printf("-> cee720 : Begin of contour, Depth = %d\n", s.contourDepth);
  ++s.contourDepth;
}

int ScriptPlane(const ScriptElement& e, const std::vector<ScriptBoundary>& boundaries, int pattern,
                double spacing, double angle, bool unhatchedFlag, std::vector<std::int32_t>& created) {
  TraceScope t("ses400");
  if (boundaries.empty()) return -1;
  beginElement(e);
  bool filled = false;
  bool anyContour = false;
  for (const ScriptBoundary& b : boundaries) {
    if (!b.contour) continue;
    anyContour = true;
    if (b.structure == 1) filled = true;
  }
  const char* f = filled ? "true" : "false";
  std::string hatch;
  if (pattern >= 1 && pattern <= 15) {
    hatch = std::string("{\"hatch_single\",") + f + "}";
  } else if (pattern >= 16 && pattern <= 18) {
    hatch = std::string("{\"hatch_cross\",") + f + "}";
  } else {
    hatch = std::string("{\"hatch_no\",") + (anyContour || unhatchedFlag ? "true" : "false") + "}";
  }
  // The narrowest spacing the CAD system hatches with (also for a spacing
  // that is not a number).
  if (!(spacing >= 0.025)) spacing = 0.025;
  const std::string space = scriptNumber(spacing * scriptState().unitScale);
  const std::string turn = scriptNumber(angle * kDegreesPerRadian);
  std::ostream& o = scriptOut();
  if (anyContour) {
    std::vector<std::int32_t> contours, rest;
    for (const ScriptBoundary& b : boundaries) (b.contour ? contours : rest).push_back(b.number);
    if (!rest.empty()) {
      std::vector<std::int32_t> made;
      ScriptContour(e, rest, 0, made);
      contours.insert(contours.end(), made.begin(), made.end());
    }
    std::vector<std::int32_t> united;
    ScriptContourUnion(e, contours, united);
    if (united.empty()) return -1;
    const std::int32_t n = scriptState().elementCounter;
    o << "E" << n << "=DTCreatePlaneOfContour(" << ScriptZRef(e.index, e.level) << "," << hatch << ","
      << E(united.back()) << "," << space << "," << turn << "," << closingBlocks(e) << "\n";
    ScriptFinishElement(n, created);
    return 0;
  }
  const std::int32_t n = scriptState().elementCounter;
  o << "E" << n << "=DTCreatePlane(" << ScriptZRef(e.index, e.level) << "," << hatch << ",{";
  for (std::size_t i = 0; i < boundaries.size(); ++i) {
    if (i % 20 == 0) o << "\n";
    o << " E" << boundaries[i].number;
  }
  o << "}," << space << "," << turn << "," << closingBlocks(e) << "\n";
  ScriptFinishElement(n, created);
  return 0;
}

int ScriptDrawingBorder(const ScriptElement& drawing, const ScriptPointXYZ& c1, const ScriptPointXYZ& c2,
                        std::vector<std::int32_t>& created) {
  TraceScope t("ses270");
  if (runSettings().viewMode != 2) return 0;
  const ScriptPointXYZ corners[4] = {
      {c1.x, c1.y, 0.0}, {c2.x, c1.y, 0.0}, {c2.x, c2.y, 0.0}, {c1.x, c2.y, 0.0}};
  for (int i = 0; i < 4; ++i) {
    std::vector<std::int32_t> line;
    if (ScriptLine(drawing, nullptr, corners[i], corners[(i + 1) % 4], line) != 0) continue;
    for (std::int32_t n : line) {
      ScriptRecordCreated(n, created);
      ScriptSetInfo(n, drawing.index, drawing.data);
    }
  }
  return 0;
}

namespace {

// Tangent direction of the conic at p (perpendicular to the gradient).
ScriptPointXYZ conicTangent(const double k[6], const ScriptPointXYZ& p) {
  const double gx = 2 * k[0] * p.x + k[1] * p.y + k[3];
  const double gy = k[1] * p.x + 2 * k[2] * p.y + k[4];
  return ScriptPointXYZ{-gy, gx, 0.0};
}

// Where the tangents at a and b meet; false when they are parallel.
bool tangentCorner(const double k[6], const ScriptPointXYZ& a, const ScriptPointXYZ& b, ScriptPointXYZ& corner) {
  const ScriptPointXYZ ta = conicTangent(k, a), tb = conicTangent(k, b);
  const double det = ta.x * (-tb.y) - ta.y * (-tb.x);
  if (!(std::fabs(det) > 1e-300)) return false;
  const double rx = b.x - a.x, ry = b.y - a.y;
  const double s = (rx * (-tb.y) - ry * (-tb.x)) / det;
  corner = ScriptPointXYZ{a.x + s * ta.x, a.y + s * ta.y, a.z};
  return std::isfinite(corner.x) && std::isfinite(corner.y);
}

// The point of the conic on the segment from the tangent corner c to the
// chord's middle m (the arc's shoulder); false when there is none.
bool conicShoulder(const double k[6], const ScriptPointXYZ& c, const ScriptPointXYZ& m, ScriptPointXYZ& out) {
  const double dx = m.x - c.x, dy = m.y - c.y;
  auto value = [&](double x, double y) {
    return k[0] * x * x + k[1] * x * y + k[2] * y * y + k[3] * x + k[4] * y + k[5];
  };
  // value(c + s d) = qa s^2 + qb s + qc
  const double qa = k[0] * dx * dx + k[1] * dx * dy + k[2] * dy * dy;
  const double qc = value(c.x, c.y);
  const double qb = value(c.x + dx, c.y + dy) - qa - qc;
  double s;
  if (std::fabs(qa) < 1e-300) {
    if (!(std::fabs(qb) > 1e-300)) return false;
    s = -qc / qb;
  } else {
    const double disc = qb * qb - 4 * qa * qc;
    if (!(disc >= 0.0)) return false;
    const double r1 = (-qb + std::sqrt(disc)) / (2 * qa), r2 = (-qb - std::sqrt(disc)) / (2 * qa);
    const bool in1 = r1 >= -1e-9 && r1 <= 1 + 1e-9, in2 = r2 >= -1e-9 && r2 <= 1 + 1e-9;
    if (!in1 && !in2) return false;
    s = in1 && in2 ? (std::fabs(r1 - 1) < std::fabs(r2 - 1) ? r1 : r2) : in1 ? r1 : r2;
  }
  out = ScriptPointXYZ{c.x + s * dx, c.y + s * dy, c.z};
  return true;
}

}  // namespace

int scriptConicPolygons(const double k[6], const ScriptPointXYZ& start, const ScriptPointXYZ& end,
                        std::vector<std::vector<ScriptPointXYZ>>& polygons) {
  TraceScope t("ses341");
  const double tol = tolerance();
  int maxPieces = assignTables().global.maxArcInterpolation;
  if (maxPieces < 2 || maxPieces > 128) maxPieces = 16;
  struct Arc {
    ScriptPointXYZ a, b;
  };
  std::vector<Arc> pending{{start, end}};
  std::vector<Arc> done;
  while (!pending.empty()) {
    const Arc arc = pending.back();
    pending.pop_back();
    ScriptPointXYZ corner, shoulder;
    if (!tangentCorner(k, arc.a, arc.b, corner)) return -1;
    const ScriptPointXYZ m = midpoint(arc.a, arc.b);
    if (!conicShoulder(k, corner, m, shoulder)) return -1;
    const ScriptPointXYZ q{0.25 * (arc.a.x + 2 * corner.x + arc.b.x), 0.25 * (arc.a.y + 2 * corner.y + arc.b.y),
                           arc.a.z};
    const bool close = std::hypot(q.x - shoulder.x, q.y - shoulder.y) <= tol;
    if (close || static_cast<int>(done.size() + pending.size()) + 1 >= maxPieces) {
      done.push_back(arc);
      continue;
    }
    // Later half first on the stack so that the pieces come out in order.
    pending.push_back(Arc{shoulder, arc.b});
    pending.push_back(Arc{arc.a, shoulder});
  }
  for (const Arc& arc : done) {
    ScriptPointXYZ corner;
    if (!tangentCorner(k, arc.a, arc.b, corner)) return -1;
    // The quadratic piece raised to degree 3.
    polygons.push_back({arc.a,
                        {arc.a.x + 2.0 / 3 * (corner.x - arc.a.x), arc.a.y + 2.0 / 3 * (corner.y - arc.a.y), arc.a.z},
                        {arc.b.x + 2.0 / 3 * (corner.x - arc.b.x), arc.b.y + 2.0 / 3 * (corner.y - arc.b.y), arc.b.z},
                        arc.b});
  }
  return 0;
}

int ScriptConicCurve(const ScriptElement& e, const ScriptMatrix* m, const double coefficients[6],
                     const ScriptPointXYZ& start, const ScriptPointXYZ& end, std::vector<std::int32_t>& created) {
  TraceScope t("ses340");
  mfaSetCurrentName(e.data.name);
  if (distance(start, end) <= tolerance()) return degenerate(t.code());
  std::vector<std::vector<ScriptPointXYZ>> polygons;
  if (scriptConicPolygons(coefficients, start, end, polygons) != 0) return degenerate(t.code());
  beginElement(e);
  for (const std::vector<ScriptPointXYZ>& polygon : polygons) {
    std::vector<std::int32_t> numbers;
    if (ScriptControlPoints(e, m, polygon, numbers) != 0) return -1;
    ScriptSpline(e, {numbers}, 3, false, created);
  }
  return 0;
}

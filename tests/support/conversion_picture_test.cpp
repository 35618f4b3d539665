// The picture of a conversion: the SVG text of recorded shapes (turned y
// axis, arc directions, view box, groups, failed elements and their
// titles, texts of the conversion's character set, splines as the curve
// their statement makes, dimensions as lines, arrows and text).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

class Picture : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("90 FEHLER\n91 WARNUNG\n640 Linie entartet\n", f);
    std::rewind(f);
    ASSERT_EQ(mfaLoadStream(f), 0);
    std::fclose(f);
  }
  void TearDown() override {
    mfaFree();
    resetRunState();
  }
};

DrawnStyle style(std::int32_t element, const std::string& layer, int colour = 1) {
  DrawnStyle s;
  s.element = element;
  s.layer = layer;
  s.colour = colour;
  return s;
}

int occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

std::string between(const std::string& text, const std::string& from, const std::string& to) {
  const std::size_t a = text.find(from);
  if (a == std::string::npos) return "";
  const std::size_t b = text.find(to, a + from.size());
  return text.substr(a + from.size(), b - a - from.size());
}

TEST_F(Picture, ArcsRunCounterClockwiseOnTheTurnedAxis) {
  constexpr double kPi = 3.14159265358979323846;
  struct Case {
    const char* name;
    double start, end;
    const char* path;
  };
  const Case cases[] = {
      {"a quarter", 0.0, kPi / 2, "M 1 0 A 1 1 0 0 0 0 -1"},
      {"three quarters", 0.0, 1.5 * kPi, "M 1 0 A 1 1 0 1 0 0 1"},
      {"across the angle zero", 1.5 * kPi, kPi / 2, "M 0 1 A 1 1 0 0 0 0 -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionPicture picture;
    picture.arc(style(1, "0"), {0, 0}, 1.0, c.start, c.end);
    const std::string svg = picture.svg();
    EXPECT_EQ(between(svg, " d=\"", "\""), c.path);
  }
}

TEST_F(Picture, ViewBoxFitsTheDrawingWithTheYRangeTurned) {
  ConversionPicture picture;
  picture.line(style(1, "A"), {10, 20}, {110, 70});
  picture.circle(style(2, "A"), {0, 0}, 5);
  const std::string svg = picture.svg();
  // x from -5 to 110, y from -5 to 70: 2 % of the longer side (115) around it.
  EXPECT_EQ(between(svg, "viewBox=\"", "\""), "-7.3 -72.3 119.6 79.6");
  EXPECT_NE(svg.find("x1=\"10\" y1=\"-20\" x2=\"110\" y2=\"-70\""), std::string::npos);
}

TEST_F(Picture, SectionsAndLayersBecomeNamedGroups) {
  ConversionPicture picture;
  picture.line(style(1, "Kontur"), {0, 0}, {1, 0});
  picture.enterSection("drawing 1", "Vorderansicht");
  picture.line(style(2, "Kontur"), {0, 0}, {0, 1});
  picture.line(style(3, "Mass"), {0, 0}, {1, 1});
  picture.line(style(4, "Kontur"), {0, 1}, {1, 1});
  picture.enterSection("drawing 1", "");
  picture.beginDimension(5);
  picture.text(style(5, "Mass"), {1, 1}, 2.5, 0.0, "10");
  picture.endDimension();
  picture.leaveSection();
  const std::string svg = picture.svg();
  // The model first; in the view the two Kontur lines share one group.
  const std::size_t model = svg.find("<g class=\"layer\" data-name=\"Kontur\">");
  const std::size_t drawing = svg.find("<g class=\"drawing\" data-name=\"drawing 1\">");
  const std::size_t view = svg.find("<g class=\"view\" data-name=\"Vorderansicht\">");
  ASSERT_NE(view, std::string::npos);
  EXPECT_LT(model, drawing);
  EXPECT_LT(drawing, view);
  EXPECT_EQ(occurrences(svg, "<g class=\"drawing\""), 1);
  EXPECT_EQ(occurrences(svg, "data-name=\"Kontur\""), 2);
  EXPECT_EQ(occurrences(svg, "data-name=\"Mass\""), 2);
  EXPECT_NE(svg.find("<g class=\"dimension\" data-element=\"5\">\n<text"), std::string::npos);
  EXPECT_EQ(occurrences(svg, "<g"), occurrences(svg, "</g>"));
}

TEST_F(Picture, FailedElementsAreRedWithTheirMessage) {
  ConversionPicture picture;
  picture.line(style(1, "0"), {0, 0}, {1, 0});
  std::size_t mark = picture.mark();
  picture.line(style(2, "0"), {0, 0}, {0, 1});
  mfaWarning("ses240", 640, Channel::kProtocol);
  picture.failSince(mark, 2);
  picture.elementFailed(2);  // already drawn as failed: not listed again
  mark = picture.mark();
  picture.line(style(3, "0"), {0, 0}, {2, 2});
  picture.dropSince(mark);  // left out by the target
  picture.elementFailed(7);  // no new message since element 2
  const std::string svg = picture.svg();
  EXPECT_NE(svg.find("stroke=\"#000000\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"0\"/>"), std::string::npos);
  EXPECT_NE(svg.find("data-element=\"2\" stroke=\"#ff0000\""), std::string::npos);
  EXPECT_NE(svg.find("<title>element 2: 640 Linie entartet</title></line>"), std::string::npos);
  EXPECT_EQ(svg.find("data-element=\"3\""), std::string::npos);
  EXPECT_NE(svg.find("data-element=\"7\" data-message=\"0\"><title>element 7</title>"), std::string::npos);
  EXPECT_EQ(picture.failures().size(), 1u);
}

TEST_F(Picture, TextsAreEscapedAndLatinOneBecomesUtf8) {
  ConversionPicture picture;
  picture.text(style(1, "\xc4nderung"), {0, 0}, 3.5, 0.0, "a<b & \"\xfc\"\x01");
  const std::string svg = picture.svg();
  EXPECT_NE(svg.find(">a&lt;b &amp; &quot;\xc3\xbc&quot;</text>"), std::string::npos);
  EXPECT_NE(svg.find("data-name=\"\xc3\x84nderung\""), std::string::npos);
}

// The drawn curve of a picture's one spline: the points of its path or
// polyline (y turned back), and for a path its Bezier pieces, the pieces of
// one path joining end to start.
struct DrawnCurve {
  int degree = 0;  // 0: a polyline
  int moves = 0;   // "M" commands of a path
  std::vector<DrawnPoint> points;
  std::vector<std::vector<DrawnPoint>> pieces;
};

DrawnCurve drawnCurve(const std::string& svg) {
  DrawnCurve curve;
  const std::string shape = svg.substr(svg.rfind('<', svg.find("class=\"spline\"")));
  const bool path = shape.compare(0, 5, "<path") == 0;
  std::string data = between(shape, path ? " d=\"" : " points=\"", "\"");
  if (path) curve.degree = std::atoi(between(shape, "data-degree=\"", "\"").c_str());
  curve.moves = static_cast<int>(std::count(data.begin(), data.end(), 'M'));
  for (char& c : data)
    if (c == ',' || std::isalpha(static_cast<unsigned char>(c))) c = ' ';
  const char* p = data.c_str();
  char* end = nullptr;
  for (double x = std::strtod(p, &end); end != p; x = std::strtod(p, &end)) {
    curve.points.push_back({x, -std::strtod(end, &end)});
    p = end;
  }
  const std::size_t d = static_cast<std::size_t>(curve.degree);
  for (std::size_t k = 0; d > 0 && k + d < curve.points.size(); k += d)
    curve.pieces.emplace_back(curve.points.begin() + static_cast<long>(k), curve.points.begin() + static_cast<long>(k + d + 1));
  return curve;
}

DrawnPoint bezierAt(const std::vector<DrawnPoint>& b, double t) {
  // Bernstein form, independent of the picture's de Casteljau.
  const int n = static_cast<int>(b.size()) - 1;
  DrawnPoint out;
  for (int k = 0; k <= n; ++k) {
    double c = 1.0;
    for (int j = 1; j <= k; ++j) c = c * (n - k + j) / j;
    const double f = c * std::pow(t, k) * std::pow(1.0 - t, n - k);
    out.x += f * b[static_cast<std::size_t>(k)].x;
    out.y += f * b[static_cast<std::size_t>(k)].y;
  }
  return out;
}

// The B-spline basis function N(i, p) at u (Cox and de Boor), the last
// knot counted into the last span.
double basis(const std::vector<double>& knots, std::size_t i, int p, double u) {
  if (p == 0) {
    if (knots[i] <= u && u < knots[i + 1]) return 1.0;
    const bool lastSpan = u == knots.back() && knots[i + 1] == knots.back() && knots[i] < knots[i + 1];
    return lastSpan ? 1.0 : 0.0;
  }
  double value = 0.0;
  const std::size_t up = static_cast<std::size_t>(p);
  if (knots[i + up] > knots[i]) value += (u - knots[i]) / (knots[i + up] - knots[i]) * basis(knots, i, p - 1, u);
  if (knots[i + up + 1] > knots[i + 1])
    value += (knots[i + up + 1] - u) / (knots[i + up + 1] - knots[i + 1]) * basis(knots, i + 1, p - 1, u);
  return value;
}

DrawnPoint curveAt(const std::vector<double>& knots, const std::vector<DrawnPoint>& controls, int p, double u) {
  DrawnPoint out;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const double f = basis(knots, i, p, u);
    out.x += f * controls[i].x;
    out.y += f * controls[i].y;
  }
  return out;
}

TEST_F(Picture, SplinesOfStatementsAreDrawnAsTheirCurve) {
  const std::vector<DrawnPoint> six = {{0, 0}, {10, 30}, {25, -5}, {40, 20}, {60, 0}, {70, 45}};
  const auto firstOf = [&six](std::size_t n) { return std::vector<DrawnPoint>(six.begin(), six.begin() + static_cast<long>(n)); };
  struct Case {
    const char* name;
    int degree;  // as the statement gives it
    std::vector<DrawnPoint> controls;
    bool periodic;
    int drawnDegree;  // 0: sampled
    // The curve the statement means: its knots and (periodic) its control
    // polygon carried on.
    std::vector<double> knots;
    std::vector<DrawnPoint> polygon;
    std::size_t spans;
  };
  const Case cases[] = {
      {"open, degree 1", 1, firstOf(3), false, 1, {0, 0, 1, 2, 2}, firstOf(3), 2},
      {"open, degree 2", 2, firstOf(4), false, 2, {0, 0, 0, 1, 2, 2, 2}, firstOf(4), 2},
      {"open, degree 3", 3, firstOf(5), false, 3, {0, 0, 0, 0, 1, 2, 2, 2, 2}, firstOf(5), 2},
      {"open, degree 3 of three points: lowered to 2", 3, firstOf(3), false, 2, {0, 0, 0, 1, 1, 1}, firstOf(3), 1},
      {"periodic, degree 3", 3, firstOf(4), true, 3, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       {six[0], six[1], six[2], six[3], six[0], six[1], six[2]}, 4},
      {"open, degree 4: sampled", 4, six, false, 0, {0, 0, 0, 0, 0, 1, 2, 2, 2, 2, 2}, six, 2},
      {"open, degree 6 written as 4", 6, six, false, 0, {0, 0, 0, 0, 0, 1, 2, 2, 2, 2, 2}, six, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionPicture picture;
    picture.uniformSpline(style(1, "0"), c.degree, c.controls, c.periodic);
    const DrawnCurve drawn = drawnCurve(picture.svg());
    ASSERT_EQ(drawn.degree, c.drawnDegree);
    const int p = c.drawnDegree != 0 ? c.drawnDegree : 4;
    // The non-empty knot spans in order: piece k, or samples 32 k .. 32 (k + 1).
    std::vector<std::pair<double, double>> spans;
    for (std::size_t k = static_cast<std::size_t>(p); k + 1 < c.knots.size() - static_cast<std::size_t>(p); ++k)
      if (c.knots[k + 1] > c.knots[k]) spans.push_back({c.knots[k], c.knots[k + 1]});
    ASSERT_EQ(spans.size(), c.spans);
    if (c.drawnDegree != 0) {
      ASSERT_EQ(drawn.pieces.size(), c.spans);
      EXPECT_EQ(drawn.moves, 1);  // one connected path
      for (std::size_t k = 0; k < spans.size(); ++k) {
        for (const double t : {0.0, 0.2, 0.5, 0.7, 1.0}) {
          const DrawnPoint got = bezierAt(drawn.pieces[k], t);
          const DrawnPoint want = curveAt(c.knots, c.polygon, p, spans[k].first + t * (spans[k].second - spans[k].first));
          EXPECT_NEAR(got.x, want.x, 1e-6) << "piece " << k << " at " << t;
          EXPECT_NEAR(got.y, want.y, 1e-6) << "piece " << k << " at " << t;
        }
      }
    } else {
      constexpr int kSamples = 32;
      ASSERT_EQ(drawn.points.size(), c.spans * kSamples + 1);
      for (std::size_t j = 0; j < drawn.points.size(); ++j) {
        const std::size_t k = std::min(j / kSamples, spans.size() - 1);
        const double t = static_cast<double>(j - k * kSamples) / kSamples;
        const DrawnPoint want = curveAt(c.knots, c.polygon, p, spans[k].first + t * (spans[k].second - spans[k].first));
        EXPECT_NEAR(drawn.points[j].x, want.x, 1e-6) << "sample " << j;
        EXPECT_NEAR(drawn.points[j].y, want.y, 1e-6) << "sample " << j;
      }
    }
    if (c.periodic) {
      EXPECT_NEAR(drawn.pieces.back().back().x, drawn.pieces.front().front().x, 1e-9);
      EXPECT_NEAR(drawn.pieces.back().back().y, drawn.pieces.front().front().y, 1e-9);
    } else {
      // An open spline starts and ends at its end control points.
      const DrawnPoint start = drawn.degree != 0 ? drawn.pieces.front().front() : drawn.points.front();
      const DrawnPoint end = drawn.degree != 0 ? drawn.pieces.back().back() : drawn.points.back();
      EXPECT_NEAR(start.x, c.controls.front().x, 1e-9);
      EXPECT_NEAR(end.y, c.controls.back().y, 1e-9);
    }
  }
}

TEST_F(Picture, BezierPiecesApartStartAPathOfTheirOwn) {
  ConversionPicture picture;
  picture.bezierCurve(style(1, "0"), 3,
                      {{{0, 0}, {1, 1}, {2, 1}, {3, 0}}, {{3, 0}, {4, -1}, {5, -1}, {6, 0}}, {{10, 0}, {11, 1}, {12, 1}, {13, 0}}});
  const std::string svg = picture.svg();
  EXPECT_EQ(between(svg, " d=\"", "\""), "M 0 0 C 1 -1 2 -1 3 0 C 4 1 5 1 6 0 M 10 0 C 11 -1 12 -1 13 0");
  // The view box holds the curve, not its control points: y from -0.75 to 0.75.
  EXPECT_EQ(between(svg, "viewBox=\"", "\""), "-0.26 -1.01 13.52 2.02");
}

// The tips of a picture's arrows, y turned back.
std::vector<DrawnPoint> arrowTips(const std::string& svg) {
  std::vector<DrawnPoint> tips;
  for (std::size_t at = svg.find("class=\"arrow\""); at != std::string::npos; at = svg.find("class=\"arrow\"", at + 1)) {
    const std::string points = between(svg.substr(at), "points=\"", "\"");
    char* end = nullptr;
    const double x = std::strtod(points.c_str(), &end);
    tips.push_back({x, -std::strtod(end + 1, nullptr)});
  }
  return tips;
}

TEST_F(Picture, DimensionsAreDrawnAsLinesArrowsAndText) {
  struct Case {
    const char* name;
    DrawnDimension dimension;
    int lines, arcs, arrows;
    std::vector<DrawnPoint> tips;
  };
  const auto make = [](DrawnDimensionKind kind, DrawnPoint first, DrawnPoint second, DrawnPoint centre) {
    DrawnDimension d;
    d.kind = kind;
    d.first = first;
    d.second = second;
    d.centre = centre;
    d.arrowSize = 2.0;
    d.textAt = {20, 5};
    d.textHeight = 3.5;
    d.text = "50";
    return d;
  };
  const Case cases[] = {
      {"linear", make(DrawnDimensionKind::kLinear, {0, 3}, {50, 3}, {}), 1, 0, 2, {{0, 3}, {50, 3}}},
      {"radius", make(DrawnDimensionKind::kRadius, {110, 0}, {110, 0}, {100, 0}), 1, 0, 1, {{110, 0}}},
      {"diameter by one arrow", make(DrawnDimensionKind::kDiameter, {110, 0}, {110, 0}, {100, 0}), 1, 0, 2,
       {{110, 0}, {90, 0}}},
      {"angular", make(DrawnDimensionKind::kAngular, {10, 0}, {0, 10}, {0, 0}), 0, 1, 2, {{10, 0}, {0, 10}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionPicture picture;
    picture.dimension(style(9, "Mass"), c.dimension);
    const std::string svg = picture.svg();
    EXPECT_EQ(occurrences(svg, "class=\"line\""), c.lines);
    EXPECT_EQ(occurrences(svg, "class=\"arc\""), c.arcs);
    EXPECT_EQ(occurrences(svg, "class=\"text\""), 1);
    const std::vector<DrawnPoint> tips = arrowTips(svg);
    ASSERT_EQ(tips.size(), c.tips.size());
    for (std::size_t k = 0; k < tips.size(); ++k) {
      EXPECT_NEAR(tips[k].x, c.tips[k].x, 1e-9);
      EXPECT_NEAR(tips[k].y, c.tips[k].y, 1e-9);
    }
    // Everything inside the dimension's group.
    const std::size_t group = svg.find("<g class=\"dimension\" data-element=\"9\">");
    ASSERT_NE(group, std::string::npos);
    EXPECT_GT(svg.find("class=\"arrow\""), group);
    EXPECT_LT(svg.rfind("</text>"), svg.find("</g>", group));
  }
  {
    SCOPED_TRACE("an arrow is as long as given, its base a third of that");
    ConversionPicture picture;
    picture.arrow(style(1, "0"), {0, 0}, {10, 0}, 3.0);
    EXPECT_EQ(between(picture.svg(), "points=\"", "\""), "0,0 3,-0.5 3,0.5");
  }
}

}  // namespace

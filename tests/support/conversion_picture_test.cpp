// The picture of a conversion: the SVG text of recorded shapes (turned y
// axis, arc directions, view box, groups, failed elements and their
// titles, texts of the conversion's character set).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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

}  // namespace

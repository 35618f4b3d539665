// The script reader that the conversion tests use to check geometry.
#include <gtest/gtest.h>

#include "iges_in/kpl_reader.h"

namespace {

TEST(ConvertKplReader, FollowsThePointChain) {
  const char* text =
      "C0=DTGetWorld ()\n"
      "E1=DTCreatePointOrigin(C0,\"iges_origin\")\n"
      "L1=DTCreateLengthAbsolute(5,\"\")\n"
      "L2=length_inverse(L1)\n"
      "E2=DTCreatePointRelative(E1,10,20,0,{7},{})\n"
      "E3=DTCreatePointSameY(E2,L2,0,{7},{})\n"
      "E4=DTCreatePointSameX(E2,-2.5,0,{7},{})\n"
      "E5=E2\n"
      "E6=DTCreateLine(Z0,{\"1\" 0.35},E2,E3,0,{7},{\"-\",110,0,1,1})\n"
      "E7=DTCreateCircle(Z0,{\"1\" 0.35},\"no_axes\",E4,3,0,{7},{})\n"
      "E8=DTCreatePointRelative(E1,1,0,0,{7},{})\n"
      "E9=DTCreatePointRelative(E1,0,1,0,{7},{})\n"
      "E10=DTCreatePointRelative(E1,-1,0,0,{7},{})\n"
      "E11=DTCreateArc(Z0,{\"1\" 0.35},\"no_axes\",E8,E9,E10,0,{7},{})\n"
      "E12=DTCreateSpline(Z0,{\"1\" 0.35},\"nonper_urbs\",3, { E2 E3 E4 E5},0,{7},{})\n"
      "E13=DTCreateContourOfElements( MZ, {\nE6 E7 },0,{7},{})\n"
      "DTRestoreSystemDefaults()\n";
  const kpl::Script s = kpl::readScript(text);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  ASSERT_EQ(s.lines.size(), 1u);
  EXPECT_DOUBLE_EQ(s.lines[0].start.x, 10);
  EXPECT_DOUBLE_EQ(s.lines[0].start.y, 20);
  EXPECT_DOUBLE_EQ(s.lines[0].end.x, 5);
  EXPECT_DOUBLE_EQ(s.lines[0].end.y, 20);
  ASSERT_EQ(s.circles.size(), 1u);
  EXPECT_DOUBLE_EQ(s.circles[0].centre.x, 10);
  EXPECT_DOUBLE_EQ(s.circles[0].centre.y, 17.5);
  EXPECT_DOUBLE_EQ(s.circles[0].radius, 3);
  ASSERT_EQ(s.arcs.size(), 1u);
  EXPECT_NEAR(s.arcs[0].centre.x, 0, 1e-12);
  EXPECT_NEAR(s.arcs[0].radius, 1, 1e-12);
  ASSERT_EQ(s.splines.size(), 1u);
  EXPECT_EQ(s.splines[0].controlPoints.size(), 4u);
  EXPECT_DOUBLE_EQ(s.splines[0].controlPoints[3].y, 20);
  EXPECT_EQ(s.contours, 1);
  EXPECT_TRUE(s.closed);
}

TEST(ConvertKplReader, ReportsUndefinedReferences) {
  const kpl::Script s = kpl::readScript("E2=DTCreateLine(Z0,{\"1\" 1},E5,E6,0,{7},{})\n");
  EXPECT_FALSE(s.errors.empty());
  EXPECT_FALSE(s.closed);
  const std::vector<std::string> parts = kpl::splitArguments("a,{b,c},\"d,e\",f(g,h)");
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[1], "{b,c}");
  EXPECT_EQ(parts[2], "\"d,e\"");
}

// Texts with the script's quoting undone, also where a quote or bracket in
// the string would end an argument or a statement if taken literally, and
// the points of a world turned for a vertical string.
TEST(ConvertKplReader, ReadsTextsWithTheirQuotingUndone) {
  const char* text =
      "E1=DTCreatePointOrigin(C0,\"iges_origin\")\n"
      "E2=DTCreatePointRelative(E1,3,4,0,{7},{})\n"
      "E3=DTCreateTextAbsolute(TEXTFONT,0,1,\"mnone\",\"beginv\",\"a\\\"),b\",E2,2.5,0,0,{7},{})\n"
      "E4=DTCreateTextAnglepos(TEXTFONT,0,1,\"mnone\",\"middlet\",\"x@@y@228\\\\\",E2,1,90,0,0,{7},{})\n"
      "E5=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"beginv\",{\n\"one\"\n\"t}o\"\n},E2,1,0,0,0,{7},{})\n"
      // A vertical string in a world turned by 90 degrees at E2.
      "E6=DTCreateWorldRotaScale(E2,90,1,1,1)\n"
      "E7=DTCreatePointOrigin(E6,\"\")\n"
      "E8=point_samex(E7,1.5,0,{7},{})\n"
      "E9=DTCreateTextBlock(TEXTFONT,0,1,\"mnone\",\"beginv\",{\"a\" \"b\" },E8,1,90,2,0,{7},{})\n"
      "E10=DTCreatePointRelative(E7,2,0,0,{7},{})\n";
  const kpl::Script s = kpl::readScript(text);
  EXPECT_TRUE(s.errors.empty()) << s.errors.front();
  ASSERT_EQ(s.texts.size(), 4u);
  EXPECT_EQ(s.texts[0].text, "a\"),b");
  EXPECT_EQ(s.texts[0].anchor, "beginv");
  EXPECT_DOUBLE_EQ(s.texts[0].position.x, 3);
  EXPECT_DOUBLE_EQ(s.texts[0].height, 2.5);
  EXPECT_EQ(s.texts[1].text, "x@y\xe4\\");
  EXPECT_EQ(s.texts[1].anchor, "middlet");
  EXPECT_EQ(s.texts[2].text, "one\nt}o");
  EXPECT_DOUBLE_EQ(s.texts[2].position.y, 4);
  EXPECT_EQ(s.texts[3].text, "ab");
  EXPECT_DOUBLE_EQ(s.texts[3].position.x, 3);
  EXPECT_DOUBLE_EQ(s.texts[3].angle, 90);
  EXPECT_DOUBLE_EQ(s.texts[3].width, 2);
  EXPECT_NEAR(s.points.at(8).x, 1.5, 1e-12);
  EXPECT_NEAR(s.points.at(10).y, 6, 1e-12);
}

}  // namespace

// The EDX parser on texts written by the tests: the records, son lists and
// bounding box it collects, and the reports it prints.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/messages.h"
#include "transfer/edx_parser.h"

namespace {

struct Parsed {
  std::string output;  // what the parse printed
  std::string messages;  // the numbered messages it reported (standard error)
  int warnings = 0;      // warnings counted by the message facility
  std::vector<EdxRecord> records;
};

Parsed parse(const std::string& text, const std::string& name = "t.edx") {
  resetEdxParser();
  EdxBuffer buffer;
  buffer.fileName = name;
  buffer.length = static_cast<std::int32_t>(text.size());
  buffer.text = text;
  mfaResetRun();
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = parseEdxFile(buffer);
  Parsed out;
  out.messages = testing::internal::GetCapturedStderr();
  out.output = testing::internal::GetCapturedStdout();
  out.warnings = mfaCounts().warnings;
  EXPECT_EQ(result, 0);
  out.records = edxParser().records;
  return out;
}

// What the parse printed after its first line (the compression report).
std::string reports(const Parsed& p) { return p.output.substr(p.output.find('\n') + 1); }

std::vector<int> kinds(const Parsed& p) {
  std::vector<int> out;
  for (const EdxRecord& r : p.records) out.push_back(r.kind);
  return out;
}

void expectPoint(const EdxRecord& r, int k, double x, double y, double z) {
  ASSERT_LT(k, r.pointCount);
  const Point3& p = edxPoint(r, k);
  EXPECT_DOUBLE_EQ(p.x, x);
  EXPECT_DOUBLE_EQ(p.y, y);
  EXPECT_DOUBLE_EQ(p.z, z);
}

TEST(EdxParser, Els2dRecordsAndBox) {
  const std::string text = "{\r\n  0:\"ELS2D\"\n  .P(1, 2, 3)\n  .L(0,0,0) (1,1,0)\n}\n";
  const Parsed p = parse(text, "drawing.edx");
  EXPECT_EQ(p.output, "Reading file drawing.edx, number of characters after compression : 36, (original length : " +
                          std::to_string(text.size()) + ")\n");
  EXPECT_EQ(kinds(p), (std::vector<int>{EdxKind::kPoint, EdxKind::kLine}));
  expectPoint(p.records[0], 0, 1, 2, 3);
  expectPoint(p.records[1], 0, 0, 0, 0);
  expectPoint(p.records[1], 1, 1, 1, 0);
  const EdxBox& box = edxParser().box;
  EXPECT_FALSE(box.empty);
  EXPECT_EQ(std::tuple(box.min.x, box.min.y, box.min.z, box.max.x, box.max.y, box.max.z),
            std::tuple(0.0, 0.0, 0.0, 1.0, 2.0, 3.0));
  EXPECT_TRUE(edxParser().groupNames.empty());
}

TEST(EdxParser, NumbersAndCoordinateGroups) {
  struct Case {
    const char* name;
    std::string text;
    double x, y, z;
  };
  const Case cases[] = {
      {"blanks and line breaks inside numbers", "{.P(1 2.5,\r\n-3, 4e\n1)}", 12.5, -3, 40},
      {"lone CR line ends", "{\r.P(1,\r2,\r3)\r}\r", 1, 2, 3},
      {"plus sign and exponent", "{.p(+1.5,2E-1,-0.25)}", 1.5, 0.2, -0.25},
      {"missing numbers stay 0", "{.P(7)}", 7, 0, 0},
      {"empty fields stay 0", "{.P(,,5)}", 0, 0, 5},
      {"letters do not convert", "{.P(abc,2,x3)}", 0, 2, 0},
      {"a number converts as far as it goes", "{.P(1.5abc,2,3)}", 1.5, 2, 3},
      {"not finite numbers stay 0", "{.P(inf,nan,1e999)}", 0, 0, 0},
      {"a fourth number is passed over", "{.P(1,2,3,4)}", 1, 2, 3},
      {"a point without its letter", "{.(4,5,6)}", 4, 5, 6},
      {"a group without its ')'", "{.P(1,2}", 1, 2, 0},
      {"a record without a group", "{.P}", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Parsed p = parse(c.text);
    ASSERT_EQ(kinds(p), std::vector<int>{EdxKind::kPoint});
    expectPoint(p.records[0], 0, c.x, c.y, c.z);
    EXPECT_EQ(reports(p), "");
  }
}

TEST(EdxParser, ReportsAndWhatFollowsThem) {
  struct Case {
    const char* name;
    std::string text;
    std::string printed;
    std::vector<int> kinds;
    int warning = 0;  // the numbered warning reported, 0 for none
  };
  // The surfaces are counted warnings of the message facility, each ended
  // by its line end; the other reports are printed as they stand.
  const Case cases[] = {
      {"UT1034 passed over, the next block read", "{0:UT1034{a}{.P(9,9,9)}}{.P(1,1,1)}", "", {EdxKind::kPoint},
       950},
      {"UT1042", "{0:UT1042{x}}", "", {}, 951},
      {"unknown user type", "{0:UT7777{x}}", "ERROR, unknown Usertype fount (UT7777) !\n", {}},
      {"user type cut short", "{0:UT12}", "ERROR, unknown Usertype fount (UT12) !\n", {}},
      {"unknown type, then its element list", "{0:.P(1,2,3)}", "WARNING: UNKNOWN TYPE (.P) found !\n",
       {EdxKind::kPoint}},
      {"unknown type without a list", "{0:XY.P(1,2,3)}",
       "WARNING: UNKNOWN TYPE (XY) found !\nERROR: what's this -> XY.P(1,2,3)\n", {}},
      {"unknown element letter, the list goes on", "{.Q(1.5,2).L(0,0,0)(1,0,0)}",
       "Unknown element found (Starts with a dot (.Q), what's to do now ?\n", {EdxKind::kLine}},
      {"a list that does not begin with a dot", "{P(1,2,3).P(4,5,6)}", "ERROR: what's this -> P(1,2,3).P(4,5,6)\n",
       {}},
      {"circles and lines in either case", "{.c(0,0,0)(1,0,0).l(0,0,0)(1,0,0)}", "",
       {EdxKind::kCircle, EdxKind::kLine}},
      {"a block without its '}' ends the sequence", "{.P(1,1,1)}{.P(2,2,2)", "", {EdxKind::kPoint}},
      {"a stray '}' between blocks", "}{.P(1,1,1)}}{.P(2,2,2)}", "", {EdxKind::kPoint, EdxKind::kPoint}},
      {"text outside any block", "xyz.P(1,1,1)", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Parsed p = parse(c.text);
    EXPECT_EQ(reports(p), c.printed);
    EXPECT_EQ(kinds(p), c.kinds);
    EXPECT_EQ(p.warnings, c.warning != 0 ? 1 : 0);
    if (c.warning != 0) {
      EXPECT_NE(p.messages.find(" (" + std::to_string(c.warning) + ") "), std::string::npos) << p.messages;
      EXPECT_EQ(p.messages.back(), '\n');
    } else {
      EXPECT_EQ(p.messages, "");
    }
  }
}

TEST(EdxParser, ListsAndNestedBlocksInTheirOrder) {
  // Records with nested blocks among them: each read once, in file order;
  // a stretch between blocks that is no record is reported.
  const Parsed p = parse("{.P(1,0,0){.P(2,0,0)}.P(3,0,0){{.L(0,0,0)(4,0,0)}}junk}");
  ASSERT_EQ(kinds(p), (std::vector<int>{EdxKind::kPoint, EdxKind::kPoint, EdxKind::kPoint, EdxKind::kLine}));
  expectPoint(p.records[0], 0, 1, 0, 0);
  expectPoint(p.records[1], 0, 2, 0, 0);
  expectPoint(p.records[2], 0, 3, 0, 0);
  expectPoint(p.records[3], 1, 4, 0, 0);
  EXPECT_EQ(reports(p), "ERROR: what's this -> junk\n");

  // The same inside "els2d", whose list starts at its first dot.
  const Parsed els = parse("{0:\"els2d\"x.P(1,0,0){.P(2,0,0)}.P(3,0,0)}");
  EXPECT_EQ(kinds(els), (std::vector<int>{EdxKind::kPoint, EdxKind::kPoint, EdxKind::kPoint}));
  EXPECT_EQ(reports(els), "");
}

TEST(EdxParser, CompositeSegment) {
  const Parsed p = parse(
      "{0:\"part\"{0:UT1024{CSEG def 1}{(0,0,0),1,(1,0,0),1,(1,1,0),7,(5,5,5),19,(2,1,0),(2,2,0),(1,2,0)}}}");
  EXPECT_EQ(reports(p), "");
  ASSERT_EQ(kinds(p), (std::vector<int>{EdxKind::kGroup, EdxKind::kCompositeSegment, EdxKind::kLine,
                                        EdxKind::kLine, EdxKind::kArc}));
  EXPECT_EQ(p.records[0].sons, std::vector<std::int32_t>{1});
  const EdxRecord& segment = p.records[1];
  EXPECT_EQ(segment.text, "CSEGdef1");
  EXPECT_EQ(segment.sons, (std::vector<std::int32_t>{2, 3, 4}));
  expectPoint(p.records[2], 0, 0, 0, 0);
  expectPoint(p.records[2], 1, 1, 0, 0);
  expectPoint(p.records[3], 0, 1, 0, 0);
  expectPoint(p.records[3], 1, 1, 1, 0);
  ASSERT_EQ(p.records[4].pointCount, 4);
  expectPoint(p.records[4], 0, 1, 1, 0);  // the current point
  expectPoint(p.records[4], 3, 1, 2, 0);
  // The data of code 7 is passed over and not part of the box.
  const EdxBox& box = edxParser().box;
  EXPECT_EQ(std::tuple(box.max.x, box.max.y, box.max.z), std::tuple(2.0, 2.0, 0.0));

  // A code whose points are missing adds nothing; a segment without data
  // has no sons.
  const Parsed cut = parse("{0:UT1024{d}{(0,0,0),1,19,(1,1,0),(2,2,0)}}{0:UT1024{d}}");
  EXPECT_EQ(kinds(cut), (std::vector<int>{EdxKind::kCompositeSegment, EdxKind::kCompositeSegment}));
}

TEST(EdxParser, NamedGroupsAndHierarchy) {
  const Parsed p = parse(
      "{0:\"outer\"{0:\"inner\"{.P(1,1,1)}}{.L(0,0,0)(2,2,2)}}"
      "{0:\"other\"{.P(5,5,5)}}"
      "{0:\"ELSgroup\"{\"other\",\"outer\"}{\"nogroup\",\"outer\"}{\"inner\",\"nofather\"}}");
  ASSERT_EQ(kinds(p), (std::vector<int>{EdxKind::kGroup, EdxKind::kGroup, EdxKind::kPoint, EdxKind::kLine,
                                        EdxKind::kGroup, EdxKind::kPoint}));
  using Sons = std::vector<std::int32_t>;
  EXPECT_EQ(std::tuple(p.records[0].text, p.records[1].text), std::tuple(std::string("outer"), std::string("inner")));
  EXPECT_EQ(std::tuple(p.records[0].sons, p.records[1].sons, p.records[4].sons),
            std::tuple(Sons{1, 3, 4, -1}, Sons{2}, Sons{5}));
  EXPECT_EQ(reports(p),
            "\n-> Reading group hierarchie !   WARNING: currently not available !\n"
            "Son : \"other\", Father : \"outer\"\n"
            "Son : \"nogroup\", Father : \"outer\"\n"
            "Son : \"inner\", Father : \"nofather\"\n"
            "\n-> End group hierarchie !\n");
}

TEST(EdxParser, DeepNestingIsBounded) {
  // Closed and unclosed nesting far beyond the bound: reported once, the
  // blocks around it are still read, nothing overflows.
  const int deep = 100000;
  const std::string closed = std::string(deep, '{') + ".P(1,1,1)" + std::string(deep, '}') + "{.P(2,2,2)}";
  const Parsed p = parse(closed);
  EXPECT_EQ(reports(p), "ERROR : blocks nested deeper than 256 levels, block skipped !\n");
  EXPECT_EQ(kinds(p), std::vector<int>{EdxKind::kPoint});
  expectPoint(p.records[0], 0, 2, 2, 2);

  const Parsed groups = parse([] {
    std::string s;
    for (int i = 0; i < 2000; ++i) s += "{0:\"g\"";
    return s + std::string(2000, '}');
  }());
  EXPECT_EQ(groups.records.size(), static_cast<std::size_t>(kEdxMaxNesting));

  const Parsed open = parse(std::string(deep, '{'));
  EXPECT_TRUE(open.records.empty());
}

}  // namespace

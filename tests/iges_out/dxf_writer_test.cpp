// The own DXF writer: layers per line style and width, the line-type and
// layer tables, the entity records, the sections held in memory, the
// written file and a check of it by an independent DXF library.

#include "iges_out/dxf_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "iges_out/section_files_fixture.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/product.h"

namespace {

class DxfWriterTest : public SectionFilesTest {
 protected:
  void SetUp() override {
    resetRunConfiguration();
    resetAssignTables();
    mfaResetCounts();
    resetDxfWriter();
    makeScratch("trovak_dxfout_test");
    DxfLineType continuous{"CONTINUOUS", "Solid", 1, 0.0, {}};
    DxfLineType dashed{"DASHED", "Dashed __ __", 2, 5.0, {3.5, -1.5}};
    assignTables().dxfLineTypes = {continuous, dashed};
  }
  void TearDown() override {
    resetDxfWriter();
    resetAssignTables();
    removeScratch();
  }

  std::string sectionText(DxfSection which) { return dxfWriter().sections[which].joined(); }
};

TEST_F(DxfWriterTest, LayersPerLineStyleAndWidthAndTheirTables) {
  ASSERT_EQ(startDxfSections(), 0);
  const double a[3] = {0, 0, 0};
  const double b[3] = {1, 2, 0};
  ASSERT_EQ(dxfWriteLine(a, b, 2, 0.5), 0);
  ASSERT_EQ(dxfWriteLine(b, a, 2, 0.5), 0);
  ASSERT_EQ(dxfWriteLine(a, b, 2, 1.0), 0);
  // Widths of the same integer part would give the same name: one layer.
  ASSERT_EQ(dxfWriteLine(a, b, 2, 0.35), 0);
  // A style without a line type of its own takes the table's first.
  ASSERT_EQ(dxfWritePoint(1.5, -2.25, 7, 0.0), 0);
  EXPECT_EQ(sectionText(kDxfEntities),
            "  0\nSECTION\n  2\nENTITIES\n"
            "  0\nLINE\n  8\nL2S0\n 10\n0.00000000\n 20\n0.00000000\n 30\n0.00000000\n"
            " 11\n1.00000000\n 21\n2.00000000\n 31\n0.00000000\n"
            "  0\nLINE\n  8\nL2S0\n 10\n1.00000000\n 20\n2.00000000\n 30\n0.00000000\n"
            " 11\n0.00000000\n 21\n0.00000000\n 31\n0.00000000\n"
            "  0\nLINE\n  8\nL2S1\n 10\n0.00000000\n 20\n0.00000000\n 30\n0.00000000\n"
            " 11\n1.00000000\n 21\n2.00000000\n 31\n0.00000000\n"
            "  0\nLINE\n  8\nL2S0\n 10\n0.00000000\n 20\n0.00000000\n 30\n0.00000000\n"
            " 11\n1.00000000\n 21\n2.00000000\n 31\n0.00000000\n"
            "  0\nPOINT\n  8\nL7S0\n 10\n1.50000000\n 20\n-2.25000000\n");
  ASSERT_EQ(writeDxfTables(), 0);
  EXPECT_EQ(sectionText(kDxfTables),
            "  0\nSECTION\n  2\nTABLES\n"
            "  0\nTABLE\n  2\nLTYPE\n 70\n2\n"
            "  0\nLTYPE\n  2\nCONTINUOUS\n 70\n    64\n  3\nSolid\n 72\n    65\n 73\n0\n"
            " 40\n0.000000\n"
            "  0\nLTYPE\n  2\nDASHED\n 70\n    64\n  3\nDashed __ __\n 72\n    65\n 73\n2\n"
            " 40\n5.000000\n 49\n3.500000\n 49\n-1.500000\n"
            "  0\nENDTAB\n"
            "  0\nTABLE\n  2\nLAYER\n 70\n3\n"
            "  0\nLAYER\n  2\nL2S0\n 70\n    64\n  6\nDASHED\n"
            "  0\nLAYER\n  2\nL2S1\n 70\n    64\n  6\nDASHED\n"
            "  0\nLAYER\n  2\nL7S0\n 70\n    64\n  6\nCONTINUOUS\n"
            "  0\nENDTAB\n"
            "  0\nENDSEC\n");
}

TEST_F(DxfWriterTest, EmptyLineTypeTableGivesUnknown) {
  assignTables().dxfLineTypes.clear();
  ASSERT_EQ(startDxfSections(), 0);
  ASSERT_EQ(dxfWritePoint(0, 0, 1, 2.7), 0);
  ASSERT_EQ(dxfWritePoint(0, 0, 3, 0.0), 0);
  ASSERT_EQ(dxfWriter().layerList.layers.size(), 2u);
  for (const DxfLayer& layer : dxfWriter().layerList.layers) EXPECT_EQ(layer.lineType, "unknown");
  EXPECT_EQ(dxfWriter().layerList.layers[0].name, "L1S2");
  ASSERT_EQ(writeDxfTables(), 0);
  // The name the layers use is defined, so the file stays consistent.
  const std::string lineTypes =
      "  0\nSECTION\n  2\nTABLES\n  0\nTABLE\n  2\nLTYPE\n 70\n1\n"
      "  0\nLTYPE\n  2\nunknown\n 70\n    64\n  3\n\n 72\n    65\n 73\n0\n"
      " 40\n0.000000\n  0\nENDTAB\n";
  EXPECT_EQ(sectionText(kDxfTables).substr(0, lineTypes.size()), lineTypes);
}

TEST_F(DxfWriterTest, CirclesArcsAndBlocksOfLines) {
  ASSERT_EQ(startDxfSections(), 0);
  ASSERT_EQ(dxfWriteArc(1, 2, 3, true, 10, 20, 1, 0), 0);
  ASSERT_EQ(dxfWriteArc(1, 2, 3, false, 10, 200.5, 1, 0), 0);
  ASSERT_EQ(dxfWriteLineBlock({{0, 0, 1, 0}, {1, 0, 1, 1}}, 1, 0), 0);
  ASSERT_EQ(dxfWriteLineBlock({}, 1, 0), 0);
  EXPECT_EQ(sectionText(kDxfEntities),
            "  0\nSECTION\n  2\nENTITIES\n"
            "  0\nCIRCLE\n  8\nL1S0\n 10\n1.00000000\n 20\n2.00000000\n 40\n3.00000000\n"
            "  0\nARC\n  8\nL1S0\n 10\n1.00000000\n 20\n2.00000000\n 40\n3.00000000\n"
            " 50\n10.00000000\n 51\n200.50000000\n"
            "  0\nINSERT\n  8\nL1S0\n  2\n*X1\n 10\n0.0\n 20\n0.0\n 30\n0.0\n"
            "  0\nINSERT\n  8\nL1S0\n  2\n*X2\n 10\n0.0\n 20\n0.0\n 30\n0.0\n");
  EXPECT_EQ(sectionText(kDxfBlocks),
            "  0\nSECTION\n  2\nBLOCKS\n"
            "  0\nBLOCK\n  8\nL1S0\n  2\n*X1\n 70\n     65\n 10\n0.0\n 20\n0.0\n 30\n0\n"
            "  0\nLINE\n  8\nL1S0\n 10\n0.00000000\n 20\n0.00000000\n"
            " 11\n1.00000000\n 21\n0.00000000\n"
            "  0\nLINE\n  8\nL1S0\n 10\n1.00000000\n 20\n0.00000000\n"
            " 11\n1.00000000\n 21\n1.00000000\n"
            "  0\nENDBLK\n"
            "  0\nBLOCK\n  8\nL1S0\n  2\n*X2\n 70\n     65\n 10\n0.0\n 20\n0.0\n 30\n0\n"
            "  0\nENDBLK\n");
}

// A section's text grows in pieces: small and large appends, one larger
// than any piece, and a text far beyond the first pieces all come back as
// written, in order.
TEST(DxfSectionTextTest, PiecesHoldTheTextInOrder) {
  const std::vector<std::vector<std::size_t>> runs = {
      {},
      {0, 1, 0},
      {100, std::size_t{9} << 20, 7},        // one append larger than any piece
      std::vector<std::size_t>(5000, 4000),  // 20 MB in small appends
  };
  for (const std::vector<std::size_t>& lengths : runs) {
    SCOPED_TRACE(lengths.size());
    DxfSectionText section;
    std::string expected;
    for (std::size_t k = 0; k < lengths.size(); ++k) {
      const std::string text(lengths[k], static_cast<char>('a' + k % 26));
      section.append(text);
      expected += text;
    }
    EXPECT_EQ(section.size(), expected.size());
    EXPECT_TRUE(section.joined() == expected);
    EXPECT_LE(section.capacity(), 2 * expected.size() + (std::size_t{64} << 10));  // little room unused
    // Written out, the pieces come in order and the text is empty after.
    std::string written;
    EXPECT_TRUE(section.writeOut([&written](std::string_view piece) {
      written += piece;
      return true;
    }));
    EXPECT_TRUE(written == expected);
    EXPECT_EQ(section.size(), 0u);
    EXPECT_EQ(section.pieceCount(), 0u);
  }

  // A piece that cannot be written ends the writing; the text is given
  // back all the same.
  DxfSectionText section;
  for (int k = 0; k < 5000; ++k) section.append(std::string(4000, 'x'));
  ASSERT_GT(section.pieceCount(), 2u);
  int calls = 0;
  EXPECT_FALSE(section.writeOut([&calls](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(section.pieceCount(), 0u);
}

TEST_F(DxfWriterTest, JoinedFileInSectionOrder) {
  runSettings().precisionSet = true;
  runSettings().precision = 3;
  ASSERT_EQ(startDxfSections(), 0);
  ASSERT_EQ(writeDxfComment(), 0);
  ASSERT_EQ(dxfWritePoint(0, 0, 2, 0), 0);
  const std::string out = (dir_ / "out.dxf").string();
  ASSERT_EQ(finishDxfOutput({-1.5, -2, 100.25, 50}, out), 0);
  const std::string text = readAll(out);
  const std::string comment = "999\n " + std::string(kProductTitle) + " (" + buildDate() +
                              ")\n999\n file created : ";
  EXPECT_EQ(text.substr(0, comment.size()), comment);
  const std::string header =
      "  0\nSECTION\n  2\nHEADER\n  9\n$ANGBASE\n 50\n 0.0\n  9\n$ANGDIR\n 70\n 0\n"
      "  9\n$PDMODE\n 70\n 1\n  9\n$LTSCALE\n 40\n 3\n  9\n$DWGCODEPAGE\n  3\ndos850\n"
      "  9\n$LIMMAX\n 10\n100.250\n 20\n50.000\n  9\n$LIMMIN\n 10\n-1.500\n 20\n-2.000\n"
      "  0\nENDSEC\n";
  const std::size_t h = text.find(header);
  const std::size_t t = text.find("  2\nTABLES\n");
  const std::size_t b = text.find("  2\nBLOCKS\n");
  const std::size_t e = text.find("  2\nENTITIES\n");
  ASSERT_NE(h, std::string::npos);
  EXPECT_LT(h, t);
  EXPECT_LT(t, b);
  EXPECT_LT(b, e);
  EXPECT_NE(text.find("  0\nLAYER\n  2\nL2S0\n"), std::string::npos);
  const std::string end = "  0\nENDSEC\n  0\nEOF\n";
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(filesLeft(), 1);

  // An output that cannot be made: error 980, no section file left.
  resetDxfWriter();
  mfaResetCounts();
  ASSERT_EQ(startDxfSections(), 0);
  EXPECT_EQ(finishDxfOutput({}, (dir_ / "missing" / "out.dxf").string()), -4);
  EXPECT_EQ(mfaCounts().errors, 1);
  EXPECT_EQ(filesLeft(), 1);
}

// The written file is read and audited by an independent DXF library when
// it is installed.
TEST_F(DxfWriterTest, IndependentReaderAuditsWithoutErrors) {
  if (std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-ezdxf is not installed";
  ASSERT_EQ(startDxfSections(), 0);
  ASSERT_EQ(writeDxfComment(), 0);
  const double a[3] = {0, 0, 0};
  const double b[3] = {10, 5, 0};
  ASSERT_EQ(dxfWriteLine(a, b, 1, 0.5), 0);
  ASSERT_EQ(dxfWriteLine(b, a, 2, 1.0), 0);
  ASSERT_EQ(dxfWriteArc(5, 5, 2, true, 0, 0, 2, 1.0), 0);
  ASSERT_EQ(dxfWriteArc(5, 5, 3, false, 45, 135, 1, 0.5), 0);
  ASSERT_EQ(dxfWritePoint(1, 1, 9, 0), 0);
  ASSERT_EQ(dxfWriteLineBlock({{0, 0, 1, 0}, {1, 0, 1, 1}}, 1, 0.5), 0);
  const std::string out = (dir_ / "audit.dxf").string();
  ASSERT_EQ(finishDxfOutput({0, 0, 10, 10}, out), 0);
  const std::string script = dir_.string() + "/audit.py";
  std::ofstream(script) << "import sys, ezdxf\n"
                           "doc = ezdxf.readfile(sys.argv[1])\n"
                           "auditor = doc.audit()\n"
                           "for e in auditor.errors: print(e.message)\n"
                           "msp = doc.modelspace()\n"
                           "kinds = sorted(e.dxftype() for e in msp)\n"
                           "print(' '.join(kinds))\n"
                           "print(len(auditor.errors))\n";
  const std::string command = "/usr/bin/python3 " + script + " " + out + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  EXPECT_EQ(pclose(pipe), 0) << output;
  EXPECT_EQ(output, "ARC CIRCLE INSERT LINE LINE POINT\n0\n");
}

}  // namespace

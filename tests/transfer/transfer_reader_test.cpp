// The CAD transfer file reader on files written by the tests: header
// sections, the directory pass, value lines, member lists, the element table
// loaded from a file, and the layer lists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/transfer_reader.h"

namespace {

namespace fs = std::filesystem;

class TransferReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    mfaSetMessageLevel(0);
  }
  void TearDown() override {
    resetTransferReader();
    freeTable();
  }
};

// Position of the element whose header line begins with `header`.
std::int32_t positionOf(const std::string& file, const std::string& header) {
  std::size_t at = 0;
  if (file.compare(0, header.size() + 1, "@" + header) != 0) {
    at = file.find("\n@" + header);
    if (at == std::string::npos) return -1;
    ++at;
  }
  return static_cast<std::int32_t>(file.size() - (at + 1));
}

// Every element section of the file: (position, type), in file order.
std::vector<std::pair<std::int32_t, std::int32_t>> directory() {
  std::vector<std::pair<std::int32_t, std::int32_t>> out;
  rewindTransferFile();
  std::int32_t position = 0, type = 0;
  int guard = 0;
  while (nextElementHeader(position, type, nullptr) == 0 && ++guard < 10000) out.emplace_back(position, type);
  return out;
}

std::set<std::int32_t> sonsOf(std::int32_t index) {
  std::set<std::int32_t> out;
  for (const LinkNode* n = element(index).sons; n != nullptr; n = n->next) out.insert(n->index);
  return out;
}

const char kGeneral[] = "@general\n#-10\n#-20\n#30.5\n#40\n#3\n#10\n#20\n#30\n";

TEST_F(TransferReaderTest, HeaderSections) {
  // Version, sender, extents, layers and reference point, with comments and
  // blank lines between the values and an unknown section before "general";
  // every kind of line end reads alike.
  const std::string full =
      "written by the CAD system\n"
      "@fileversion\n#2\n\n#V2.1\n   a comment line\n#Quorix-CAD 7\n"
      "@unknown 5\n#1\n"
      "@general\n#-10\n#-200.5\n#30\n#40\n#2\n#1.5\n#2.5\n"
      "@reference\n#1\n#2\n#3\n"
      "@line 1\n#visible\n@line 2\n#hidden\n";
  std::vector<std::int32_t> types;
  for (const char* end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(end[0] == '\n' ? "LF" : end[1] == '\n' ? "CR LF" : "CR");
    std::string text;
    for (char c : full) text += c == '\n' ? std::string(end) : std::string(1, c);
    resetRunState();
    ASSERT_EQ(openTransferBytes(text), 0);
    const TransferReaderState& s = transferReader();
    EXPECT_EQ(std::tuple(s.fileVersion, s.versionText, s.senderName, runState().senderCode),
              std::tuple(2, std::string("V2.1"), std::string("Quorix-CAD"), 4));
    // Whole and half numbers: read exactly.
    EXPECT_EQ(std::tuple(s.xmin, s.ymin, s.ymax, s.maxCoordinate, referencePoint().x, referencePoint().z),
              std::tuple(-10., -200.5, 40., 200.5, 1., 3.));
    // The offset is rewound.
    EXPECT_EQ(std::tuple(s.fileSize, s.layerValueList.count(), s.offset, mfaCounts().warnings),
              std::tuple(static_cast<std::int32_t>(text.size()), 2, 0u, 0));
    std::vector<std::int32_t> read;
    for (const auto& [position, type] : directory()) read.push_back(type);
    if (types.empty()) types = read;
    EXPECT_EQ(read, types);
  }
  // The header sections, the unknown one and the two lines.
  EXPECT_EQ(types.size(), 6u);

  // Only "general" and elements: no version, no reference, warning 1020 for
  // the empty layer list, no layer found.  A "fileversion" after "general"
  // is no header, and only the first section after "general" may be the
  // reference point.
  resetRunState();
  ASSERT_EQ(openTransferBytes("@general\n#0\n#0\n#1\n#1\n#0\n@fileversion\n#3\n#x\n#Quorix\n"
                              "@reference\n#5\n#5\n#5\n@line 1\n"),
            0);
  EXPECT_EQ(transferReader().fileVersion, 0);
  EXPECT_EQ(runState().senderCode, 99);
  EXPECT_DOUBLE_EQ(referencePoint().x, 0);
  EXPECT_EQ(mfaCounts().warnings, 1);
  EXPECT_EQ(layerNumberOf(0.0), -1);

  // Incomplete headers.
  EXPECT_EQ(openTransferBytes(""), -1);
  EXPECT_EQ(openTransferBytes("@fileversion\n#1\n#a\n#b\n@line 5\n"), -1);  // no "general"
  EXPECT_EQ(openTransferBytes("@general\n#0\n#0\n#1\n"), -1);                // ends inside it
  mfaResetCounts();
  EXPECT_EQ(openTransferBytes("@general\n#0\n#0\n@line 1\n#1\n#2\n"), -1);    // '@' among the values
  EXPECT_EQ(mfaCounts().warnings, 1);
  EXPECT_EQ(openTransferBytes("@general\n#0\n#zero\n#1\n#1\n#0\n"), -1);      // not a real
  EXPECT_EQ(openTransferBytes(std::string(kGeneral) + "@reference\n#1\n#2\n"), -1);
  EXPECT_EQ(openTransferBytes("@fileversion\n#1\n@general\n#0\n#0\n#1\n#1\n#0\n"), -1);

  // Through the file system.
  EXPECT_EQ(openTransferFile("/nonexistent/dir/drawing.cad"), -99);
  const fs::path path = fs::temp_directory_path() / ("transfer_" + std::to_string(getpid()) + ".cad");
  {
    std::ofstream out(path, std::ios::binary);
    out << kGeneral << "@line 7\n";
  }
  EXPECT_EQ(openTransferFile(path.string()), 0);
  EXPECT_EQ(transferReader().fileSize, static_cast<std::int32_t>(fs::file_size(path)));
  fs::remove(path);
}

TEST_F(TransferReaderTest, LayerValueList) {
  ASSERT_EQ(openTransferBytes(kGeneral), 0);
  // First listed value is layer N, the last layer 1; a value matches within
  // the tolerance.
  const std::pair<double, std::int32_t> kLayers[] = {{30, 1},       {10, 3},       {20.00009, 2},
                                                     {19.99991, 2}, {20.0002, -1}, {15, -1}};
  for (const auto& [value, layer] : kLayers) EXPECT_EQ(layerNumberOf(value), layer) << value;

  // Two values within the tolerance: the earlier wins even where the later
  // one is nearer; beyond the earlier one's reach the later one matches.
  LayerValueList list;
  list.reset(4, 100);
  for (double v : {5.0, 5.00008, 1.0, 5.0}) EXPECT_EQ(list.add(v), 0);
  EXPECT_EQ(list.add(7.0), -1);  // beyond the capacity
  EXPECT_EQ(list.count(), 4);
  EXPECT_EQ(std::tuple(list.lookup(5.00008), list.lookup(5.00017), list.lookup(1.0), list.lookup(-5.0)),
            std::tuple(4, 3, 2, -1));

  // A count that lies: the list ends at the next section (error 1000), which
  // is still found by the directory pass; the numbers stay N - i.
  mfaResetCounts();
  const std::string lying = "@general\n#0\n#0\n#1\n#1\n#2000000000\n#4\n#8\n@line 3\n#visible\n";
  ASSERT_EQ(openTransferBytes(lying), 0);
  EXPECT_EQ(mfaCounts().errors, 1);
  EXPECT_EQ(transferReader().layerValueList.count(), 2);
  EXPECT_EQ(std::tuple(layerNumberOf(4), layerNumberOf(8)), std::tuple(2000000000, 1999999999));
  EXPECT_EQ(directory(), (std::vector<std::pair<std::int32_t, std::int32_t>>{
                             {positionOf(lying, "general"), 0}, {positionOf(lying, "line 3"), 110}}));
  // The same count at the end of the file: the header is incomplete.
  EXPECT_EQ(openTransferBytes("@general\n#0\n#0\n#1\n#1\n#2000000000\n#4\n"), -1);

  // A value that does not convert keeps its place and matches nothing.
  ASSERT_EQ(openTransferBytes("@general\n#0\n#0\n#1\n#1\n#3\n#1\n#one\n#3\n"), 0);
  EXPECT_EQ(std::tuple(layerNumberOf(1), layerNumberOf(3), layerNumberOf(0)), std::tuple(3, 1, -1));
}

TEST_F(TransferReaderTest, DirectoryPassPositionsTypesAndIdentifiers) {
  const std::string file = std::string(kGeneral) +
                           "@line 17\n#visible\n"
                           "@line 17a\n#visible\n"
                           "@circle 17\n#visible\n"  // duplicate: keeps the first entry
                           "@Line 20\n"             // keywords are case-sensitive
                           "@linex 21\n"
                           "@general 22\n"          // a header keyword in the middle
                           "@d_polyline 23 rest of the line\n"
                           "@text abc\n"            // no number: not indexed
                           "@layer 0\n"             // 0: not indexed
                           "@symbol 99999999999999999999\n"
                           "@measure_distance -4\n"
                           "#line 30\n"             // a value line, not a section
                           "x@line 31\n"
                           "#a@line 32\n"          // an '@' inside a value line
                           "\n@point 33\n";
  ASSERT_EQ(openTransferBytes(file), 0);
  const auto found = directory();
  const std::vector<std::pair<std::int32_t, std::int32_t>> expected{
      {positionOf(file, "general\n"), 0},  {positionOf(file, "line 17\n"), 110},
      {positionOf(file, "line 17a"), 110}, {positionOf(file, "circle 17"), 100},
      {positionOf(file, "Line 20"), 0},    {positionOf(file, "linex"), 0},
      {positionOf(file, "general 22"), 0}, {positionOf(file, "d_polyline"), 106},
      {positionOf(file, "text abc"), 212}, {positionOf(file, "layer 0"), 8888},
      {positionOf(file, "symbol"), 210},   {positionOf(file, "measure_distance"), 444},
      {positionOf(file, "point 33"), 116}};
  EXPECT_EQ(found, expected);
  std::int32_t position = 0, type = 0;
  EXPECT_EQ(nextElementHeader(position, type, nullptr), -99);  // stays at the end

  const TransferIdIndex& ids = transferReader().transferIdIndex;
  // Type 0 ("20") is not indexed; the keys are 17, 23, -4 and 33.
  const std::pair<const char*, std::optional<std::int32_t>> lookups[] = {
      {"17", positionOf(file, "line 17\n")}, {"17a", positionOf(file, "line 17a")}, {"17b", std::nullopt},
      {"017", positionOf(file, "line 17\n")}, {"20", std::nullopt}, {"23", positionOf(file, "d_polyline")},
      {"-4", positionOf(file, "measure_distance")}, {"abc", std::nullopt}, {"0", std::nullopt}};
  for (const auto& [id, at] : lookups) EXPECT_EQ(ids.find(id), at) << id;
  EXPECT_EQ(ids.size(), 4u);

  // The position leads back to the section.
  std::string keyword, identifier, rest;
  ASSERT_EQ(seekToElement(positionOf(file, "d_polyline"), keyword, identifier, &rest), 0);
  EXPECT_EQ(std::tuple(keyword, identifier, rest), std::tuple("d_polyline", "23", "rest of the line"));

  // A suffix entry made before its plain key leaves the key free; the
  // first registration of an identifier wins, also when later ones come
  // after a look-up or with smaller numbers.
  TransferIdIndex index;
  index.insert("8x", 100);
  EXPECT_EQ(index.find("8"), std::nullopt);
  index.insert("8", 200);
  index.insert("8x", 300);
  index.insert("9", 400);
  index.insert("8", 500);
  index.insert("2", 600);
  index.insert("9", 700);
  const std::pair<const char*, std::optional<std::int32_t>> registered[] = {
      {"8x", 100}, {"8", 200}, {"9", 400}, {"2", 600}, {"2x", std::nullopt}, {"3", std::nullopt}};
  for (const auto& [id, at] : registered) EXPECT_EQ(index.find(id), at) << id;
  EXPECT_EQ(index.size(), 3u);

  // Orders of registration the index must settle alike: ascending, two to
  // five ascending sequences interleaved (elements with the groups that
  // collect them), and shuffled; repeated numbers keep their first
  // position, also across look-ups between the insertions.
  std::mt19937 shuffle(7);
  for (int sequences : {1, 2, 3, 4, 5, 0}) {
    std::vector<std::int64_t> ids;
    for (int k = 0; k < 600; ++k) {
      const int sequence = sequences == 0 ? 0 : k % sequences;
      ids.push_back(1 + sequence * 100000 + k / (sequences == 0 ? 1 : sequences));
      if (k % 7 == 0) ids.push_back(ids[static_cast<std::size_t>(k / 2)]);  // registered again
    }
    if (sequences == 0) std::shuffle(ids.begin(), ids.end(), shuffle);
    TransferIdIndex interleaved;
    std::map<std::int64_t, std::int32_t> first;
    for (std::size_t k = 0; k < ids.size(); ++k) {
      interleaved.insert(std::to_string(ids[k]), static_cast<std::int32_t>(k));
      first.emplace(ids[k], static_cast<std::int32_t>(k));
      if (k == ids.size() / 2) {
        EXPECT_EQ(interleaved.find(std::to_string(ids[0])), 0);
      }
    }
    for (const auto& [id, at] : first) EXPECT_EQ(interleaved.find(std::to_string(id)), at) << sequences << " " << id;
    EXPECT_EQ(interleaved.find("99999999"), std::nullopt);
    EXPECT_EQ(interleaved.size(), first.size()) << sequences;
  }

  // Definition names of "userdef" and "userref" for both layouts; a section
  // that ends early does not hide the next one.
  for (int version : {0, 1}) {
    const std::string lead = version != 0 ? "#attribute text\n#tok\n" : "";
    const std::string defs = "@fileversion\n#" + std::to_string(version) + "\n#v\n#sys\n" + kGeneral +
                             "@userdef 40\n" + lead + "#Screw M8\n#1\n" +
                             "@userref 41\n" + lead + "#visible\n#1 0 0 0 black\n#Screw\n" +
                             "@userdef 42\n@line 43\n";
    ASSERT_EQ(openTransferBytes(defs), 0) << version;
    std::vector<std::string> names;
    std::vector<std::int32_t> types;
    while (true) {
      TransferAttributes extra;
      if (nextElementHeader(position, type, &extra) != 0) break;
      if (type != 0) {
        types.push_back(type);
        names.push_back(extra.name);
      }
    }
    EXPECT_EQ(types, (std::vector<std::int32_t>{308, 408, 308, 110})) << version;
    EXPECT_EQ(names, (std::vector<std::string>{"Screw", "Screw", "", ""})) << version;
    EXPECT_EQ(transferReader().definitionNames, 2);
  }
}

TEST_F(TransferReaderTest, ValueLineReaders) {
  const std::string file = std::string(kGeneral) +
                           "@line 1 \n"
                           "#  some attribute  text\n"
                           "comment lines and\n\n"
                           "#visible more\n"
                           "#-42 trailing\n"
                           "#+1.5e2\n"
                           "#3.25 -4 ignored\n"
                           "#7 Arial\n"
                           "#12\n"
                           "#5 255 128 0 orange\r\n"
                           "#\n"
                           "#abc\n"
                           "#99999999999\n"
                           "#inf\n"
                           "#nan\n"
                           "#1 2 3 70000 red\n"
                           "#1.5\n"
                           "@line 2\n";
  ASSERT_EQ(openTransferBytes(file), 0);
  std::string keyword, identifier, text;
  ASSERT_EQ(seekToElement(positionOf(file, "line 1"), keyword, identifier), 0);
  EXPECT_EQ(readTextLine(text), 0);
  EXPECT_EQ(text, "  some attribute  text");
  EXPECT_EQ(readToken(text), 0);
  EXPECT_EQ(text, "visible");
  std::int32_t i = 0;
  EXPECT_EQ(readInt(i), 0);
  EXPECT_EQ(i, -42);
  double r = 0;
  EXPECT_EQ(readReal(r), 0);
  EXPECT_DOUBLE_EQ(r, 150);
  Point3 p;
  EXPECT_EQ(readPoint(p), 0);
  EXPECT_DOUBLE_EQ(p.x, 3.25);
  EXPECT_DOUBLE_EQ(p.y, -4);
  EXPECT_DOUBLE_EQ(p.z, 0);
  EXPECT_EQ(readIntAndText(i, text), 0);
  EXPECT_EQ(std::tuple(i, text), std::tuple(7, std::string("Arial")));
  EXPECT_EQ(readIntAndText(i, text), 0);
  EXPECT_EQ(std::tuple(i, text), std::tuple(12, std::string()));
  TransferPen pen;
  EXPECT_EQ(readPen(pen), 0);
  EXPECT_EQ(std::tuple(pen.colour, pen.red, pen.green, pen.blue, pen.name),
            std::tuple(5, 255, 128, 0, std::string("orange")));
  // Failures: each one consumes its line and leaves the reader usable.
  EXPECT_EQ(readToken(text), -1);  // empty value
  EXPECT_EQ(lastTransferStop(), TransferStop::kBadValue);
  EXPECT_EQ(readReal(r), -1);
  EXPECT_EQ(lastTransferStop(), TransferStop::kBadValue);
  EXPECT_EQ(readInt(i), -1);       // beyond 32 bits
  EXPECT_EQ(readReal(r), -1);      // no coordinate
  EXPECT_EQ(readReal(r), -1);
  EXPECT_EQ(readPen(pen), -1);     // beyond 16 bits
  EXPECT_EQ(pen.name, "orange");   // untouched
  EXPECT_EQ(readReal(r), 0);
  EXPECT_DOUBLE_EQ(r, 1.5);
  EXPECT_EQ(readReal(r), -1);      // the next section
  EXPECT_EQ(lastTransferStop(), TransferStop::kSection);
  EXPECT_EQ(readReal(r), -1);
  EXPECT_EQ(lastTransferStop(), TransferStop::kEndOfFile);

  // Positions that lie.
  EXPECT_EQ(seekToPosition(-1), -1);
  EXPECT_EQ(seekToPosition(transferReader().fileSize + 1), -1);
  EXPECT_EQ(seekToPosition(0), 0);
  EXPECT_EQ(readInt(i), -1);
  EXPECT_EQ(seekToElement(positionOf(file, "line 1") - 1, keyword, identifier), -1);  // not after '@'
  EXPECT_EQ(seekToElement(positionOf(file, "line 1") + 1, keyword, identifier), -1);
  EXPECT_EQ(seekToElement(transferReader().fileSize, keyword, identifier), -1);
  EXPECT_EQ(seekToElement(1 << 30, keyword, identifier), -1);
}

// Reals read back bit for bit as the standard conversion reads the
// longest number at the start of the token, in the short decimal forms
// a CAD system writes as in every other form.
TEST_F(TransferReaderTest, RealsReadAsTheStandardConversionReadsThem) {
  const char* const tokens[] = {
      "12",      "-0.5",   "3.125",   "0.1",     "-0",     "0",       ".5",        "-.5",
      "5.",      "007",    "1.5x",    "1.5.3",   "2.5-3",  "+2.5",    "1e",        "1.5e3",
      "2E-2",    "-1e308", "4.9e-324", "0.30000000000000004", "123456789012345",
      "1234567890123456", "12345678901234567890", "0.000000000000001", "999999999999999.9",
      "1.7976931348623157", "-123456.789012345",  "0.1234567890123456789",
  };
  std::string file = std::string(kGeneral) + "@line 1\n";
  for (const char* t : tokens) file += std::string("#") + t + "\n";
  ASSERT_EQ(openTransferBytes(file), 0);
  std::string keyword, identifier;
  ASSERT_EQ(seekToElement(positionOf(file, "line 1"), keyword, identifier), 0);
  for (const char* t : tokens) {
    SCOPED_TRACE(t);
    std::string_view token(t);
    if (token[0] == '+') token.remove_prefix(1);
    double expected = 0;
    ASSERT_NE(std::from_chars(token.data(), token.data() + token.size(), expected).ptr, token.data());
    double r = 1;
    ASSERT_EQ(readReal(r), 0);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << r << " " << expected;
  }
}

// What surrounds the number on its line: blanks before it, anything after
// it, the line end, a line longer than the reader takes.  Every read ends
// at its own line, so the value line after it reads next.
TEST_F(TransferReaderTest, NumbersReadWhateverSurroundsThemOnTheirLine) {
  struct Case {
    std::string line;  // without '#' and line feed
    bool realRead;
    double real;
    bool intRead;
    std::int32_t integer;
  };
  const std::vector<Case> cases = {
      {"42", true, 42, true, 42},
      {"  \t-17", true, -17, true, -17},
      {"12 ", true, 12, true, 12},
      {"12 trailing words", true, 12, true, 12},
      {"12\r", true, 12, true, 12},  // CR LF; at the end a lone CR, which ends the line
      {"1.5", true, 1.5, true, 1},
      {"-", false, 0, false, 0},
      {".", false, 0, false, 0},
      {"2147483647", true, 2147483647.0, true, 2147483647},
      {"-2147483648", true, -2147483648.0, true, -2147483647 - 1},
      {"2147483648", true, 2147483648.0, false, 0},
      {"0012", true, 12, true, 12},
      {"-0012.50", true, -12.5, true, -12},
      {std::string(5000, ' ') + "5", false, 0, false, 0},  // beyond the part of a line that is read
      {std::string(4000, ' ') + "5", true, 5, true, 5},
  };
  for (const bool asReal : {true, false}) {
    for (const bool lastLine : {false, true}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line) + (asReal ? " as a real" : " as an integer") +
                     (lastLine ? ", at the end" : ""));
        // The case line, then a line the next read must find; or the case
        // line alone at the end of the file, without a line feed.
        const std::string file = std::string(kGeneral) + "@line 1\n#" + c.line + (lastLine ? "" : "\n#9\n");
        ASSERT_EQ(openTransferBytes(file), 0);
        std::string keyword, identifier;
        ASSERT_EQ(seekToElement(positionOf(file, "line 1"), keyword, identifier), 0);
        double r = 0;
        std::int32_t i = 0;
        if (asReal) {
          ASSERT_EQ(readReal(r) == 0, c.realRead);
          if (c.realRead) {
            EXPECT_EQ(r, c.real);
          }
        } else {
          ASSERT_EQ(readInt(i) == 0, c.intRead);
          if (c.intRead) {
            EXPECT_EQ(i, c.integer);
          }
        }
        EXPECT_EQ(transferReader().endOfFileMet, lastLine && c.line.back() != '\r');
        if (!lastLine) {
          EXPECT_EQ(readInt(i), 0);
          EXPECT_EQ(i, 9);
        }
      }
    }
  }
}

TEST_F(TransferReaderTest, TextBlocksAndEndMarkers) {
  const std::string file = std::string(kGeneral) +
                           "@text 1\n"
                           "#Hello\nWorld\n"        // 11 characters over two lines
                           "#Short\n"               // a count that lies: 20
                           "#1.5\n"
                           "#Truncated text\n"      // a count that is too small: 5
                           "#next\n"
                           "#" + std::string(5000, 'x') + "\n"
                           "#EOE\n#EOE\n"
                           "#d_line\n#1\n#EOE\n"
                           "#after\n"
                           "@line 2\n#1\n";
  ASSERT_EQ(openTransferBytes(file), 0);
  std::string keyword, identifier, text;
  ASSERT_EQ(seekToElement(positionOf(file, "text 1"), keyword, identifier), 0);
  // What a read gives, or "(failed)".
  const auto block = [&text](int size) { return readTextBlock(text, size) == 0 ? text : std::string("(failed)"); };
  const auto token = [&text] { return readToken(text) == 0 ? text : std::string("(failed)"); };
  EXPECT_EQ(block(12), "Hello\nWorld");
  EXPECT_EQ(block(21), "Short");
  double r = 0;
  EXPECT_EQ(readReal(r), 0);  // the next field was not swallowed
  EXPECT_DOUBLE_EQ(r, 1.5);
  EXPECT_EQ(block(6), "Trunc");
  EXPECT_EQ(token(), "next");
  EXPECT_EQ(block(4096), std::string(4095, 'x'));  // a whole line, at most 4095 characters

  std::int32_t position = 0;
  EXPECT_EQ(skipEndMarkers(position, text), 0);
  EXPECT_EQ(text, "d_line");
  const std::int32_t mark = position;
  EXPECT_EQ(token(), "d_line");  // left where it was
  EXPECT_EQ(skipToEndOfElement(), 0);
  EXPECT_EQ(markPosition(position), 0);
  EXPECT_EQ(token(), "after");
  EXPECT_EQ(skipToEndOfElement(), -1);  // no marker before the next section
  // Marked positions lead back to their value lines.
  ASSERT_EQ(seekToPosition(mark), 0);
  EXPECT_EQ(token(), "d_line");
  ASSERT_EQ(seekToPosition(position), 0);
  EXPECT_EQ(token(), "after");
  EXPECT_EQ(skipEndMarkers(position, text), -1);
  EXPECT_EQ(lastTransferStop(), TransferStop::kSection);
}

TEST_F(TransferReaderTest, MemberWalks) {
  const std::string file = std::string(kGeneral) +
                           "@group 10 Holes\n#attr\n#tok\n"
                           "#11\n#999\n#11a\n   comment\n#12\n#end\n#13\n"
                           "@line 11\n#visible\n"
                           "@line 11a\n#visible\n"
                           "@circle 12\n#visible\n"
                           "@contour 13\n#1.5\n#11\n#12\n"  // ends at the next section
                           "@plane_part 14\n#deleted\n"     // ends inside its own fields
                           "@fileversion\n#1\n";
  ASSERT_EQ(openTransferBytes("@fileversion\n#1\n#v\n#sys\n" + file), 0);
  const std::string& bytes = transferReader().bytes;
  directory();
  auto walk = [](std::int32_t position) {
    std::vector<std::int32_t> out;
    resetMembers();
    std::int32_t member = 0;
    int result = 0;
    while ((result = nextMember(0, position, member)) == 0) out.push_back(member);
    out.push_back(result);
    return out;
  };
  EXPECT_EQ(walk(positionOf(bytes, "group")),
            (std::vector<std::int32_t>{positionOf(bytes, "line 11\n"), positionOf(bytes, "line 11a"),
                                       positionOf(bytes, "circle"), 1}));
  EXPECT_EQ(walk(positionOf(bytes, "contour")),
            (std::vector<std::int32_t>{positionOf(bytes, "line 11\n"), positionOf(bytes, "circle"), 1}));
  EXPECT_EQ(walk(positionOf(bytes, "plane_part")), (std::vector<std::int32_t>{1}));
  EXPECT_EQ(walk(positionOf(bytes, "line 11\n")), (std::vector<std::int32_t>{-2}));
  EXPECT_EQ(walk(positionOf(bytes, "line 11\n") + 3), (std::vector<std::int32_t>{-2}));  // no element there
  EXPECT_EQ(walk(-7), (std::vector<std::int32_t>{-2}));

  // Reads between two calls do not disturb the walk.
  resetMembers();
  std::int32_t member = 0;
  const std::int32_t group = positionOf(bytes, "group");
  ASSERT_EQ(nextMember(0, group, member), 0);
  std::string keyword, identifier;
  ASSERT_EQ(seekToElement(positionOf(bytes, "circle"), keyword, identifier), 0);
  ASSERT_EQ(nextMember(0, group, member), 0);
  EXPECT_EQ(member, positionOf(bytes, "line 11a"));
  ASSERT_EQ(nextMember(0, group, member), 0);
  EXPECT_EQ(nextMember(0, group, member), 1);
  EXPECT_EQ(nextMember(0, group, member), 1);
}

TEST_F(TransferReaderTest, ElementTableFromFile) {
  runState().runMode = RunModeBit::kOutput;
  // Groups inside each other in a cycle, a group naming itself and a member
  // twice, a composite curve, a userdef with its name, and an element of an
  // unknown kind.
  const std::string file = std::string(kGeneral) +
                           "@group 1 A\n#2\n#5\n#5\n#end\n"
                           "@group 2 B\n#3\n#end\n"
                           "@group 3 C\n#1\n#3\n#6\n#end\n"
                           "@contour 4\n#10\n#5\n#6\n"
                           "@line 5\n#visible\n"
                           "@circle 6\n#visible\n"
                           "@userdef 7\n#Bolt\n#5\n"
                           "@mystery 8\n#5\n";
  ASSERT_EQ(openTransferBytes(file), 0);
  ASSERT_EQ(loadTransferTable(), 0);
  const ElementTable& table = elementTable();
  ASSERT_EQ(table.lastIndex, 7);
  auto indexOf = [&](const std::string& header) { return findById(positionOf(file, header), 1, 7); };
  const std::int32_t a = indexOf("group 1"), b = indexOf("group 2"), c = indexOf("group 3");
  const std::int32_t contour = indexOf("contour"), line = indexOf("line"), circle = indexOf("circle");
  const std::int32_t def = indexOf("userdef");
  for (std::int32_t i : {a, b, c, contour, line, circle, def}) ASSERT_GE(i, 1);
  EXPECT_EQ(std::tuple(element(a).type, element(contour).type, element(def).type), std::tuple(402, 102, 308));
  ASSERT_NE(element(def).transferAttrs(), nullptr);
  EXPECT_EQ(element(def).transferAttrs()->name, "Bolt");
  EXPECT_EQ(element(line).transferAttrs(), nullptr);

  // A holds the line once; C holds neither A (the cycle) nor itself.
  using Sons = std::set<std::int32_t>;
  EXPECT_EQ(std::tuple(sonsOf(a), sonsOf(b), sonsOf(c), sonsOf(contour), sonsOf(def)),
            std::tuple(Sons{b, line}, Sons{c}, Sons{circle}, Sons{line, circle}, Sons{line}));
  EXPECT_EQ(element(line).fatherCount, 3);

  // The walks of the conversion end on the graph the file made.
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    std::int32_t deNumber = 0, index = 0;
    int guard = 0;
    while (nextDescendant(i, deNumber, index) == 0 && ++guard < 100) {
    }
    EXPECT_LT(guard, 100);
  }
  EXPECT_EQ(markAll(ElementState::kWaiting), 0);

  // Duplicate identifiers: both elements are in the table, the first one
  // keeps the identifier, so a member list names the first.  Lines may end
  // in CR LF.
  const std::string twice = std::string(kGeneral) +
                            "@group 1 G\r\n#2\r\n#end\r\n@line 2\r\n#visible\r\n@circle 2\r\n#visible\r\n";
  ASSERT_EQ(openTransferBytes(twice), 0);
  ASSERT_EQ(loadTransferTable(), 0);
  ASSERT_EQ(elementTable().lastIndex, 3);
  const std::int32_t first = findById(positionOf(twice, "line 2"), 1, 3);
  const std::int32_t group = findById(positionOf(twice, "group 1"), 1, 3);
  ASSERT_GE(first, 1);
  ASSERT_GE(group, 1);
  EXPECT_GE(findById(positionOf(twice, "circle 2"), 1, 3), 1);
  EXPECT_EQ(sonsOf(group), (std::set<std::int32_t>{first}));

  // A file without elements gives an empty table.
  ASSERT_EQ(openTransferBytes(kGeneral), 0);
  EXPECT_EQ(loadTransferTable(), 0);
  EXPECT_EQ(elementTable().lastIndex, 0);
  resetTransferReader();
  EXPECT_EQ(loadTransferTable(), -1);  // no file open
}

TEST_F(TransferReaderTest, LayerTable) {
  ASSERT_EQ(openTransferBytes(kGeneral), 0);  // three layers
  ASSERT_EQ(allocateTable(8), 0);
  ElementTable& table = elementTable();
  table.lastIndex = 7;
  // index: level, sequence
  const std::int32_t levels[] = {0, 1, 3, 3, 2, 1, 0, 4};
  for (std::int32_t i = 1; i <= 7; ++i) {
    element(i).de.level = levels[i];
    element(i).de.sequence = 100 + i;
    element(i).type = 110;
  }
  element(2).type = 402;
  ASSERT_EQ(linkFatherSon(2, 3), 0);  // same layer as its group: left out
  ASSERT_EQ(linkFatherSon(2, 5), 0);  // another layer: listed
  std::vector<std::int32_t> members;
  std::int32_t count = 0;
  ASSERT_EQ(buildLayerTable(0, members, count), 0);
  // Layer 3 first, then 2, then 1; levels 0 and beyond the list left out.
  EXPECT_EQ(members, (std::vector<std::int32_t>{102, 104, 101, 105}));
  EXPECT_EQ(count, 4);
  EXPECT_EQ(buildLayerTable(1, members, count), -99);
  EXPECT_EQ(count, 4);  // untouched

  for (std::int32_t i = 1; i <= 7; ++i) element(i).de.level = 0;
  EXPECT_EQ(buildLayerTable(0, members, count), -1);
  EXPECT_EQ(count, 0);
}

}  // namespace

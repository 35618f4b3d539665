// The IGES file reader: record separators, the start, global and terminate
// sections, the directory and parameter sections, the parameter fetch, the
// parameter pass and the files of the shared corpus.

#include "iges_in/iges_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/iges_fields.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

namespace fs = std::filesystem;

// One 80-column record with its section letter and sequence number.
std::string record(const std::string& body, char section, int sequence) {
  std::string line = body.substr(0, 72);
  line.resize(72, ' ');
  char tail[16];
  std::snprintf(tail, sizeof tail, "%c%7d", section, sequence);
  return line + tail;
}

// The records of a file joined with a separator.
std::string joined(const std::vector<std::string>& records, const std::string& separator) {
  std::string out;
  for (const std::string& r : records) out += r + separator;
  return out;
}

std::vector<std::string> recordsOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

struct ReadResult {
  int start = -100;
  int global = -100;
  int input = -100;
  MessageCounts counts;
};

class IgesReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetRunState();
    dir_ = fs::temp_directory_path() / ("trovak_reader_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    runPaths().tempDir = dir_.string();
  }
  void TearDown() override {
    closeIgesInput();
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    freeTable();
    runPaths().tempDir.clear();
    fs::remove_all(dir_);
  }

  std::string writeFile(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }

  // Runs the reader's steps as the dispatcher does, stopping at the first
  // failure.
  ReadResult readPath(const std::string& path, int vdais = 0) {
    ReadResult r;
    resetIgesReader();
    file_ = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file_, nullptr);
    if (file_ == nullptr || igesReaderAttach(file_) != 0) return r;
    skipLeadingControl();
    r.start = readStartSection(vdais);
    if (r.start == 0) r.global = readGlobalSection();
    if (r.global == 0) r.input = readIgesInput();
    r.counts = mfaCounts();
    return r;
  }
  ReadResult readText(const std::string& bytes, int vdais = 0) {
    return readPath(writeFile("in.igs", bytes), vdais);
  }

  // The files that are left in the temporary directory besides the input.
  int leftovers() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir_))
      if (e.path().filename() != "in.igs") ++n;
    return n;
  }

  fs::path dir_;
  std::FILE* file_ = nullptr;
};

// A small file: a line, a circle with a matrix, and a composite of both.
igestest::Builder smallDrawing() {
  igestest::Builder b;
  const int matrix = b.add(124, "1.,0.,0.,10.,0.,1.,0.,20.,0.,0.,1.,0.;");
  const int line = b.add(110, "0.,0.,0.,10.,0.,0.;");
  igestest::Entity arc;
  arc.type = 100;
  arc.params = "0.,0.,0.,5.,0.,5.,0.;";
  arc.matrix = matrix;
  const int circle = b.add(arc);
  igestest::Entity comp;
  comp.type = 102;
  comp.params = "2," + std::to_string(line) + "," + std::to_string(circle) + ";";
  comp.matrix = matrix;
  b.add(comp);
  return b;
}

// The position of the record with this section letter and sequence number.
std::size_t recordAt(const std::vector<std::string>& records, char section, int sequence) {
  const std::string tail = record("", section, sequence).substr(72);
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].compare(72, 8, tail) == 0) return i;
  ADD_FAILURE() << "no record " << tail;
  return 0;
}

std::map<int, int> typeCounts() {
  std::map<int, int> counts;
  for (std::int32_t i = 1; i <= elementTable().lastIndex; ++i) ++counts[element(i).type];
  return counts;
}

TEST_F(IgesReaderTest, SeparatorsAllReadTheSame) {
  const auto records = recordsOf(smallDrawing().text());
  const char* separators[] = {"\n", "\r\n", "", "\r\n\r\n"};
  std::map<int, int> first;
  for (const char* sep : separators) {
    SCOPED_TRACE(testing::Message() << "separator of " << std::strlen(sep) << " bytes");
    SetUp();
    const ReadResult r = readText(joined(records, sep));
    ASSERT_EQ(r.start, 0);
    ASSERT_EQ(r.global, 0);
    ASSERT_EQ(r.input, 0);
    EXPECT_EQ(elementTable().lastIndex, 4);
    EXPECT_EQ(igesReader().paramRecords, 4);
    if (first.empty()) first = typeCounts();
    EXPECT_EQ(typeCounts(), first);
    EXPECT_EQ(element(3).de.matrixPointer, 1);
    TearDown();
  }
}

TEST_F(IgesReaderTest, LeadingControlCharactersAndTempFilesRemoved) {
  const ReadResult r = readText("\n\r\n" + smallDrawing().text());
  EXPECT_EQ(r.input, 0);
  // The parameter section is read where it stands: no file of its own.
  EXPECT_EQ(leftovers(), 0);
  closeIgesInput();
  EXPECT_EQ(leftovers(), 0);
}

struct GlobalCase {
  const char* name;
  std::string text;
  int result;
  char param, record;
};

TEST_F(IgesReaderTest, GlobalSectionDelimitersDefaultsAndFailures) {
  const std::string tail15 = "4Hsend,4Hfile,6HEUCLID,3H1.0,32,38,6,308,15,4Hrecv,0.,2,";
  const GlobalCase cases[] = {
      {"empty delimiter fields", ",," + tail15 + "2HMM,0,,15H20260101.120000,,1000.;", 0, ',',
       ';'},
      {"own delimiters", "1H;;1H:;4Hsend;4Hfile;6HEUCLID;3H1.0;32;38;6;308;15;4Hrecv;2.;2;"
                         "5HINCH1;3;0.5;2H26;0.01;50.:",
       0, ';', ':'},
      {"cut after field 15", ",," + tail15 + "2HMM;", -17, ',', ';'},
      {"cut before field 24", ",," + tail15 + "2HMM,1,1.,2H26,0.001,9.,1HA,1HB,3;", 0, ',', ';'},
      {"bad delimiter field", "2H,,;", -2, ',', ';'},
      {"bad scale, then cut", ",," + tail15.substr(0, tail15.size() - 5) + "1.2.3;", -15, ',',
       ';'},
  };
  for (const GlobalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> records{record("start", 'S', 1)};
    for (std::size_t at = 0, n = 1; at < c.text.size(); at += 72, ++n)
      records.push_back(record(c.text.substr(at, 72), 'G', static_cast<int>(n)));
    records.push_back(record("S      1G      1D      0P      0", 'T', 1));
    const ReadResult r = readText(joined(records, "\n"));
    ASSERT_EQ(r.start, 0);
    EXPECT_EQ(r.global, c.result);
    if (c.result != 0) continue;
    const IgesGlobal& g = igesReader().global;
    EXPECT_EQ(std::tuple(g.paramDelimiter, g.recordDelimiter), std::tuple(c.param, c.record));
    EXPECT_STREQ(g.nativeSystemId, "EUCLID");
  }
  // The value rules of the first case: scale 0 and gradations 0 replaced,
  // an empty resolution is the minimum, a long unit name keeps six.
  SetUp();
  const std::string text = ",," + tail15 + "8HMILLIMET,0,,15H20260101.120000,,1000.;";
  ASSERT_EQ(readText(joined({record("s", 'S', 1), record(text.substr(0, 72), 'G', 1),
                             record(text.substr(72), 'G', 2)},
                            "\n"))
                .global,
            0);
  const IgesGlobal& g = igesReader().global;
  EXPECT_EQ(std::tuple(g.modelScale, g.lineWeightGradations), std::tuple(1.0, 8));
  EXPECT_FLOAT_EQ(g.maxLineWidth, 1.0f);
  EXPECT_DOUBLE_EQ(g.minResolution, 0.0001);
  EXPECT_STREQ(g.unitsName, "MILLIM");
  EXPECT_EQ(g.maxCoordinate, 1000.0);
  EXPECT_EQ(recogniseSender(), 3);
  EXPECT_EQ(igesReader().senderName, "EUCLID");
}

TEST_F(IgesReaderTest, StartSectionFrameAndLevels) {
  const std::string g = record(",,4Hsend,4Hfile,4Hnone,3H1.0,32,38,6,308,15,4Hrecv,1.,2,2HMM;",
                               'G', 1);
  struct Case {
    const char* name;
    std::string text;
    int vdais;
    int result;
    std::uint32_t bits;
  } cases[] = {
      {"plain", record("hello", 'S', 1) + "\n" + g + "\n", 0, 0, 0},
      {"vdais G1B1", record("VDAIS G1B1", 'S', 1) + "\n" + g + "\n", 1, 0,
       RunModeBit::kG1 | RunModeBit::kB1},
      {"vdais PLUS", record("VDAIS PLUS", 'S', 1) + "\n" + g + "\n", 1, 0, RunModeBit::kPlus},
      {"vdais no level", record("VDAIS XX", 'S', 1) + "\n" + g + "\n", 1, 153, 0},
      {"no vdais record", record("hello", 'S', 1) + "\n" + g + "\n", 1, 154, 0},
      {"short record", "short\n", 0, 152, 0},
      {"no global section", record("hello", 'S', 1) + "\n" + record("x", 'D', 1) + "\n", 0, 16,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const ReadResult r = readText(c.text, c.vdais);
    EXPECT_EQ(r.start, c.result);
    EXPECT_EQ(runState().runMode & (RunModeBit::kG1 | RunModeBit::kB1 | RunModeBit::kPlus),
              c.bits);
    closeIgesInput();
    EXPECT_EQ(leftovers(), 0);
    TearDown();
  }
}

TEST_F(IgesReaderTest, TerminateSearchAndLyingCounts) {
  const auto records = recordsOf(smallDrawing().text());
  struct Case {
    const char* name;
    std::string tail;  // bytes after the T record
    std::string terminate;  // replaces the T record when not empty
    int input;
    int warnings;
  } cases[] = {
      {"three blanks", "   ", "", 0, 0},
      {"crlf and two bytes", "\r\nxx", "", 0, 1},
      {"missing", "", "no terminate record at all", -9, 0},
      {"lying directory count", "\n", record("S      1G      2D9999999P      4", 'T', 1), -9, 0},
      {"too few directory records", "\n", record("S      1G      2D      4P      4", 'T', 1), -2,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    std::vector<std::string> r = records;
    if (!c.terminate.empty()) r.back() = c.terminate;
    std::string text = joined(std::vector<std::string>(r.begin(), r.end() - 1), "\n") + r.back();
    const ReadResult res = readText(text + c.tail);
    EXPECT_EQ(res.input, c.input);
    if (c.input == 0) {
      EXPECT_EQ(res.counts.warnings, c.warnings);
      EXPECT_EQ(std::tuple(igesReader().counts.directoryCount, igesReader().counts.parameterCount), std::tuple(8, 4));
    }
    TearDown();
  }
}

TEST_F(IgesReaderTest, DirectoryEntriesAndPointerChecks) {
  igestest::Builder b = smallDrawing();
  igestest::Entity bad;
  bad.type = 110;
  bad.params = "0.,0.,0.,1.,1.,0.;";
  bad.view = 999;  // beyond the directory section
  b.add(bad);
  auto records = recordsOf(b.text());
  // Entity 5's parameter pointer beyond the parameter section.
  records[recordAt(records, 'D', 9)].replace(8, 8, "     999");
  ASSERT_EQ(readText(joined(records, "\n")).input, 0);
  EXPECT_EQ(elementTable().lastIndex, 5);
  const ElementRecord& circle = element(3);
  EXPECT_EQ(std::tuple(circle.type, circle.de.entityType, circle.de.paramPointer, circle.de.paramLineCount),
            std::tuple(100, 100, 3, 1));
  EXPECT_EQ(std::tuple(circle.de.sequence, directoryExtraOf(3).sequence2, circle.state),
            std::tuple(5, 6, ElementState::kWaiting));
  const ElementRecord& e5 = element(5);
  EXPECT_EQ(std::tuple(e5.type, e5.de.entityType, e5.de.paramPointer, directoryExtraOf(5).view), std::tuple(110, 0, 0, 0));
  std::string text;
  EXPECT_EQ(fetchParameterData(110, e5.de.paramPointer, e5.de.paramLineCount, text), -1);
}

// The label is the first word of its eight columns; the sequence number
// after the section letter is read as a number that is not negative.
TEST_F(IgesReaderTest, DirectoryLabelsAndSequenceNumbers) {
  struct Case {
    const char* label;     // columns 57..64 of the second record
    const char* sequence;  // columns 74..80 of the first record
    const char* labelRead;
    std::int32_t sequenceRead;
  };
  const Case cases[] = {
      {"  AB CD ", "      1", "AB", 1},
      {"        ", "     +1", "", 1},
      {"ABCDEFGH", "  1 2  ", "ABCDEFGH", 1},
      {"       X", "     -1", "X", 0},
      {"LABEL   ", "       ", "LABEL", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    auto records = recordsOf(smallDrawing().text());
    records[recordAt(records, 'D', 2)].replace(56, 8, c.label);
    records[recordAt(records, 'D', 1)].replace(73, 7, c.sequence);
    ASSERT_EQ(readText(joined(records, "\n")).input, 0);
    EXPECT_EQ(std::tuple(std::string(element(1).de.label), element(1).de.sequence),
              std::tuple(std::string(c.labelRead), c.sequenceRead));
    TearDown();
  }
}

TEST_F(IgesReaderTest, OddDirectorySectionEndsAtParameterRecord) {
  auto records = recordsOf(smallDrawing().text());
  // Drop the second record of the last entry and fix the count.
  records.erase(records.begin() + static_cast<long>(recordAt(records, 'D', 8)));
  records.back() = record("S      1G      2D      7P      4", 'T', 1);
  ASSERT_EQ(readText(joined(records, "\n")).input, 0);
  EXPECT_EQ(elementTable().lastIndex, 4);
  EXPECT_EQ(std::tuple(element(4).type, element(4).de.paramLineCount, element(4).de.entityType), std::tuple(102, 0, 0));
}

TEST_F(IgesReaderTest, ParameterFetchJoinsRecordsAndChecksType) {
  igestest::Builder b;
  std::string longData;
  for (int i = 0; i < 30; ++i) longData += std::to_string(i) + ".5,";
  longData += "99.;";
  b.add(106, "1," + longData, 1);
  ASSERT_EQ(readText(b.text()).input, 0);
  const DirectoryFields& de = element(1).de;
  ASSERT_GT(de.paramLineCount, 1);
  std::string text;
  ASSERT_EQ(fetchParameterData(106, de.paramPointer, de.paramLineCount, text), 0);
  std::string squeezed;
  for (char c : text)
    if (c != ' ') squeezed += c;
  EXPECT_EQ(squeezed, "1," + longData);
  EXPECT_EQ(fetchParameterData(110, de.paramPointer, de.paramLineCount, text), -1);
  EXPECT_EQ(fetchParameterData(106, de.paramPointer, 0, text), -1);
  // A line count one too small: the next record is read with a warning.
  const int before = mfaCounts().warnings;
  ASSERT_EQ(fetchParameterData(106, de.paramPointer, de.paramLineCount - 1, text), 0);
  EXPECT_EQ(mfaCounts().warnings, before + 1);
  EXPECT_NE(text.find("99.;"), std::string::npos);
}

TEST_F(IgesReaderTest, ParameterRecordsAreFetchedWhereTheyStand) {
  // The fetch reads an entity's records from the input file again: with
  // every separator, with a record that a NUL ends early (the records no
  // longer follow each other evenly) and a control character that reads as
  // a blank, every entity gets its own data, and the faults of a fetch are
  // reported with the messages they always had.
  igestest::Builder b;
  std::string longData;
  for (int i = 0; i < 30; ++i) longData += std::to_string(i) + ".5,";
  longData += "99.;";
  b.add(110, "0.,0.,0.,1.,1.,0.;");
  b.add(106, "1," + longData, 1);
  b.add(110, "5.,5.,0.,6.,6.,0.;");
  const std::vector<std::string> data = {"0.,0.,0.,1.,1.,0.;", "1," + longData, "5.,5.,0.,6.,6.,0.;"};
  std::vector<std::string> records = recordsOf(b.text());
  records[recordAt(records, 'P', 1)][40] = '\t';
  const std::size_t shortened = recordAt(records, 'P', 3);
  records[shortened] = records[shortened].substr(0, 77) + '\0';
  for (const char* sep : {"\n", "\r\n", ""}) {
    SCOPED_TRACE(testing::Message() << "separator of " << std::strlen(sep) << " bytes");
    SetUp();
    std::string text;
    for (std::size_t k = 0; k < records.size(); ++k) text += records[k] + (k == shortened ? "" : sep);
    ASSERT_EQ(readText(text).input, 0);
    ASSERT_EQ(elementTable().lastIndex, 3);
    for (std::int32_t i = 1; i <= 3; ++i) {
      const DirectoryFields& de = element(i).de;
      std::string fetched;
      ASSERT_EQ(fetchParameterData(de.entityType, de.paramPointer, de.paramLineCount, fetched), 0) << i;
      EXPECT_EQ(fetched.find('\t'), std::string::npos);
      std::string squeezed;
      for (char c : fetched)
        if (c != ' ') squeezed += c;
      EXPECT_EQ(squeezed, data[static_cast<std::size_t>(i - 1)]) << i;
    }

    std::FILE* protocol = std::tmpfile();
    ASSERT_NE(protocol, nullptr);
    mfaSetProtocolFile(protocol);
    const DirectoryFields& de = element(2).de;
    std::string fetched;
    struct Fault {
      std::int32_t type, pointer, lines;
      int result;
      const char* message;
    };
    const long records = igesReader().paramRecords;
    const Fault faults[] = {
        {106, de.paramPointer, 0, -1, "(740)"},                       // no line to read
        {106, 0, 1, -1, "(160)"},                                     // before the section
        {106, static_cast<std::int32_t>(records) + 1, 1, -1, "(160)"},  // beyond it
        {110, de.paramPointer, de.paramLineCount, -1, "(900)"},       // another entity's type
        {106, de.paramPointer, de.paramLineCount - 1, 0, "(930)"},    // the delimiter a record later
    };
    for (const Fault& f : faults) {
      SCOPED_TRACE(f.message);
      std::fflush(protocol);
      const long before = std::ftell(protocol);
      EXPECT_EQ(fetchParameterData(f.type, f.pointer, f.lines, fetched), f.result);
      std::fflush(protocol);
      std::string written(static_cast<std::size_t>(std::ftell(protocol) - before), '\0');
      std::fseek(protocol, before, SEEK_SET);
      ASSERT_EQ(std::fread(written.data(), 1, written.size(), protocol), written.size());
      EXPECT_NE(written.find(f.message), std::string::npos) << written;
    }
    mfaSetProtocolFile(nullptr);
    std::fclose(protocol);
    TearDown();
  }
}

// A parameter section larger than the reader's window, with every 37th
// record ended early by a NUL: wherever a record falls against the window,
// each entity is found and fetches its own data.
TEST_F(IgesReaderTest, ParameterSectionsLargerThanTheWindow) {
  constexpr int kLines = 4000;
  igestest::Builder b;
  for (int k = 0; k < kLines; ++k) b.add(110, std::to_string(k) + ".,0.,0.,1.,1.,0.;");
  std::vector<std::string> records = recordsOf(b.text());
  std::vector<bool> shortened(records.size(), false);
  for (int k = 1; k <= kLines; k += 37) {
    const std::size_t at = recordAt(records, 'P', k);
    records[at] = records[at].substr(0, 77) + '\0';
    shortened[at] = true;
  }
  for (const char* sep : {"\n", "\r\n", ""}) {
    SCOPED_TRACE(testing::Message() << "separator of " << std::strlen(sep) << " bytes");
    SetUp();
    std::string text;
    for (std::size_t k = 0; k < records.size(); ++k) text += records[k] + (shortened[k] ? "" : sep);
    ASSERT_EQ(readText(text).input, 0);
    ASSERT_EQ(elementTable().lastIndex, kLines);
    EXPECT_EQ(igesReader().paramRecords, kLines);
    int wrong = 0;
    for (std::int32_t i = 1; i <= kLines; ++i) {
      const DirectoryFields& de = element(i).de;
      std::string fetched;
      if (fetchParameterData(de.entityType, de.paramPointer, de.paramLineCount, fetched) != 0 ||
          fetched.rfind(std::to_string(i - 1) + ".,", 0) != 0)
        ++wrong;
    }
    EXPECT_EQ(wrong, 0);
    TearDown();
  }
}

TEST_F(IgesReaderTest, MissingDelimiterSearchStopsAtTheNextEntity) {
  // Entities whose data never ends with the record delimiter: each fetch
  // reads its own records only (a file of them would otherwise cost the rest
  // of the file per entity).
  igestest::Builder b;
  std::string longData;
  for (int i = 0; i < 30; ++i) longData += std::to_string(i) + ".5,";
  b.add(106, "1," + longData + "99.,", 1);
  b.add(110, "0.,0.,0.,1.,1.,0.,", 1);
  ASSERT_EQ(readText(b.text()).input, 0);
  const DirectoryFields& de = element(1).de;
  ASSERT_GT(de.paramLineCount, 1);
  std::string text;
  const int before = mfaCounts().warnings;
  ASSERT_EQ(fetchParameterData(106, de.paramPointer, 1, text), 0);
  EXPECT_EQ(mfaCounts().warnings - before, de.paramLineCount - 1);
  EXPECT_NE(text.find("99.,"), std::string::npos);
  EXPECT_EQ(text.find("1.,1."), std::string::npos);  // nothing of the 110
}

TEST_F(IgesReaderTest, OverstatedLineCountEndsAtTheNextEntity) {
  igestest::Builder b;
  b.add(110, "0.,0.,0.,1.,1.,0.;");
  b.add(110, "5.,5.,0.,6.,6.,0.;");
  ASSERT_EQ(readText(b.text()).input, 0);
  const DirectoryFields& de = element(1).de;
  std::string text;
  const MessageCounts before = mfaCounts();
  ASSERT_EQ(fetchParameterData(110, de.paramPointer, 1000000, text), 0);
  EXPECT_EQ(text.find("5.,5."), std::string::npos);
  EXPECT_EQ(std::tuple(mfaCounts().warnings, mfaCounts().errors), std::tuple(before.warnings, before.errors));
}

std::vector<std::int32_t> sonsOf(std::int32_t index) {
  std::vector<std::int32_t> out;
  for (const LinkNode* n = element(index).sons; n != nullptr; n = n->next) out.push_back(n->index);
  return out;
}

TEST_F(IgesReaderTest, ParameterPassLinksSonsAndFillsRecords) {
  igestest::Builder b;
  const int matrix = b.add(124, "1.,0.,0.,10.,0.,1.,0.,20.,0.,0.,1.,0.;");  // 1
  const int l1 = b.add(110, "0.,0.,0.,1.,0.,0.;");                          // 2
  const int l2 = b.add(110, "1.,0.,0.,1.,1.,0.;");                          // 3
  igestest::Entity comp;
  comp.type = 102;
  comp.params = "3," + std::to_string(l1) + ",0," + std::to_string(l2) + ";";
  comp.matrix = matrix;
  b.add(comp);                                                                // 4
  b.add(308, "0,4HPART,2," + std::to_string(l1) + ",999;");                 // 5
  b.add(408, "9,1.,2.,0.,1.;");                                             // 6
  b.add(314, "10.,20.,30.,3HRED;");                                         // 7
  b.add(108, "0.,0.,1.,0.," + std::to_string(l2) + ",0.,0.,0.,5.;");       // 8
  b.add(410, "1,2.,0,0,0,0,0,0;", 0);                                       // 9
  b.add(404, "1,17,0.,0.,1," + std::to_string(l1) + ";");                  // 10
  b.add(228, "0,2," + std::to_string(l2) + "," + std::to_string(l1) + ",0;", 0);  // 11
  ASSERT_EQ(readText(b.text()).input, 0);

  EXPECT_EQ(sonsOf(4), (std::vector<std::int32_t>{2, 3}));
  auto* composite = dynamic_cast<CompositeRecord*>(element(4).params.get());
  ASSERT_NE(composite, nullptr);
  EXPECT_EQ(composite->constituents, (std::vector<std::int32_t>{2, 0, 3}));
  ASSERT_TRUE(composite->hasMatrix);
  EXPECT_EQ(std::tuple(composite->matrix.t[0], composite->matrix.t[1]), std::tuple(10.0, 20.0));
  EXPECT_EQ(element(2).fatherCount, 4);  // composite, subfigure, drawing, symbol

  auto* sub = dynamic_cast<SubfigureRecord*>(element(5).params.get());
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->name, "PART");
  EXPECT_EQ(sub->members, (std::vector<std::int32_t>{2}));  // 999 names no element
  EXPECT_EQ(sonsOf(6), (std::vector<std::int32_t>{5}));
  auto* colour = dynamic_cast<ColourRecord*>(element(7).params.get());
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(std::tuple(colour->green, colour->name), std::tuple(20.0, "RED"));
  auto* plane = dynamic_cast<PlaneRecord*>(element(8).params.get());
  ASSERT_NE(plane, nullptr);
  EXPECT_EQ(std::tuple(plane->boundary, plane->symbolSize), std::tuple(3, 5.0));
  auto* view = dynamic_cast<ViewRecord*>(element(9).params.get());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->scale, 2.0);
  auto* drawing = dynamic_cast<DrawingRecord*>(element(10).params.get());
  ASSERT_NE(drawing, nullptr);
  ASSERT_EQ(drawing->views.size(), 1u);
  EXPECT_EQ(std::tuple(drawing->views[0].view, drawing->annotations), std::tuple(9, (std::vector<std::int32_t>{2})));
  EXPECT_TRUE(elementTable().drawingsPresent);
  EXPECT_EQ(sonsOf(11), (std::vector<std::int32_t>{3, 2}));  // file order
  EXPECT_EQ(element(4).sonCursor, element(4).sons);
}

TEST_F(IgesReaderTest, DrawingsAndViewsAreRegistered) {
  igestest::Builder b;
  const int line = b.add(110, "0.,0.,0.,1.,0.,0.;");                       // 1
  b.add(406, "1,4HMAIN;", 15);                                              // 2
  const int view = b.add(410, "7,0.,0,0,0,0,0,0,0,1,3;");                   // 3
  const std::string v = std::to_string(view);
  // The same view through a negative pointer, then a pointer to a line.
  b.add(404, "2,-" + v + ",1.,2.," + std::to_string(line) + ",3.,4.,0;");   // 4
  ASSERT_EQ(readText(b.text()).input, 0);
  EXPECT_EQ(element(3).state, ElementState::kRegistered);
  EXPECT_EQ(element(4).state, ElementState::kRegistered);
  auto* viewRecord = dynamic_cast<ViewRecord*>(element(3).params.get());
  ASSERT_NE(viewRecord, nullptr);
  EXPECT_EQ(std::tuple(viewRecord->viewNumber, viewRecord->scale), std::tuple(7, 1.0));  // a scale of 0 is no scale
  EXPECT_EQ(element(3).props(), (std::vector<std::int32_t>{2}));
  auto* drawing = dynamic_cast<DrawingRecord*>(element(4).params.get());
  ASSERT_NE(drawing, nullptr);
  ASSERT_EQ(drawing->views.size(), 2u);
  // The second is not a view: left out, its origin still read.
  EXPECT_EQ(std::tuple(drawing->views[0].view, drawing->views[1].view, drawing->views[1].x), std::tuple(3, 0, 3.0));
  EXPECT_EQ(mfaCounts().warnings, 2);    // 443 and 444
}

TEST_F(IgesReaderTest, LyingMemberCountsAreBounded) {
  igestest::Builder b;
  const int l1 = b.add(110, "0.,0.,0.,1.,0.,0.;");
  b.add(102, "2000000000," + std::to_string(l1) + ";");
  b.add(308, "0,1HX,-5;");
  b.add(404, "99999999;");
  ASSERT_EQ(readText(b.text()).input, 0);
  auto* composite = dynamic_cast<CompositeRecord*>(element(2).params.get());
  ASSERT_NE(composite, nullptr);
  EXPECT_EQ(composite->constituents.size(), 1u);
  auto* sub = dynamic_cast<SubfigureRecord*>(element(3).params.get());
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->members.empty());
}

// Every file of the corpus reads without a crash; the readable ones give an
// element per directory entry pair with the type counts of their directory.
TEST_F(IgesReaderTest, CorpusFiles) {
  const fs::path corpus = fs::path(TROVAK_CORPUS_DIR) / "iges";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* name;
    int start, global, input;
  } cases[] = {
      {"occt_curves_50.igs", 0, 0, 0},         {"occt_curves_500.igs", 0, 0, 0},
      {"occt_curves_brep_100.igs", 0, 0, 0},   {"bearing_3d.iges", 0, 0, 0},
      {"rounded_cube_3d.igs", 0, 0, 0},        {"sample_curves.igs", 0, 0, 0},
      {"first_line_82_cols.iges", 16, -100, -100},
      // The short first record takes the first byte of the next line: its
      // column 73 is no 'S' and the record after it no 'G'.
      {"first_line_without_80_cols.iges", 16, -100, -100},
      {"up_to_line_7_of_DE_section.iges", 0, 0, -9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const std::string path = (corpus / c.name).string();
    const ReadResult r = readPath(path);
    EXPECT_EQ(std::tuple(r.start, r.global, r.input), std::tuple(c.start, c.global, c.input));
    if (c.input == 0) {
      // The directory's own type counts, from its odd D records.
      std::map<int, int> expected;
      std::ifstream in(path, std::ios::binary);
      for (std::string line; std::getline(in, line);) {
        if (line.size() >= 80 && line[72] == 'D' && std::stoi(line.substr(73, 7)) % 2 == 1)
          ++expected[std::stoi(line.substr(0, 8))];
      }
      EXPECT_EQ(typeCounts(), expected);
      EXPECT_EQ(elementTable().lastIndex * 2, igesReader().counts.directoryCount);
    }
    TearDown();
  }
}

}  // namespace

// The catalogue of damaged and hostile input: every reader of the program
// (IGES, the own DXF reader, the CAD transfer file to IGES and to DXF, EDX)
// runs on damaged forms of a small valid sample, generated here: truncated
// at many points, random bytes, NUL bytes, very long lines and values,
// counts that lie, deep nesting and every line-end style.  For each run:
// no crash (no trap status, no sanitizer report, no hang), a status the
// README documents, a message where the input is damaged, and an older file
// under the output name is still there when the run fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/convert_iges_builder.h"
#include "transfer/dispatch_samples.h"

namespace {

// What a row must show beyond the checks every row makes (no crash, a
// documented status, the older output kept on failure).
enum class Expect {
  kReported,  // a warning or an error (or a status other than 0)
  kConverts,  // status 0, nothing damaged: a different but valid form
  kAny,       // the damage may go unnoticed (it leaves a valid file)
};

struct Damaged {
  std::string name;
  std::string bytes;
  Expect expect;
};

struct Reader {
  const char* name;
  std::vector<std::string> switches;
  const char* inputName;
  const char* outputName;
  // The input is the first file name (-igesin, -dxf12in) or the second.
  bool inputFirst;
};

constexpr char kOldOutput[] = "an older output file\n";

// Statuses of the README: 0 to 3, 9, 13 to 19, and 10 - r for the negative
// result r of a conversion.  134, 136 and 139 are traps.
bool documentedStatus(int status) {
  if (status == 0 || status == 1 || status == 2 || status == 3 || status == 9) return true;
  return status >= 11 && status < 130;
}

bool sanitizerReport(const std::string& text) {
  for (const char* mark : {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error:"})
    if (text.find(mark) != std::string::npos) return true;
  return false;
}

void runRow(const Reader& reader, const Damaged& row) {
  SCOPED_TRACE(std::string(reader.name) + ": " + row.name);
  TempDir dir;
  const std::string config = dir.write("run.config", "TR_PROT " + dir.path() + "\nTR_TEMP " + dir.path() +
                                                          "\nTR_LANG english\n");
  dir.write(reader.inputName, row.bytes);
  const std::string output = dir.write(reader.outputName, kOldOutput);
  std::vector<std::string> args = reader.switches;
  if (reader.inputFirst) {
    args.insert(args.end(), {reader.inputName, reader.outputName});
  } else {
    args.insert(args.end(), {reader.outputName, reader.inputName});
  }
  args.push_back(config);
  const ProgramResult run = runProgram(TROVAK_PROGRAM, args, dir.path(), "", 30);
  const std::string console = run.out + run.err;
  ASSERT_FALSE(run.timedOut);
  EXPECT_NE(run.status, 134) << console.substr(0, 2000);
  EXPECT_NE(run.status, 136) << console.substr(0, 2000);
  EXPECT_NE(run.status, 139) << console.substr(0, 2000);
  EXPECT_FALSE(sanitizerReport(console)) << console.substr(0, 4000);
  EXPECT_TRUE(documentedStatus(run.status)) << run.status << "\n" << console.substr(0, 2000);
  const std::string protocol = readWholeFile(dir.path() + "/" + reader.inputName + ".prot");
  const std::pair<int, int> counts = closingCounts(run.err);
  switch (row.expect) {
    case Expect::kReported:
      EXPECT_TRUE(run.status != 0 || counts.first > 0 || counts.second > 0)
          << "status " << run.status << ", nothing reported\n" << console.substr(0, 2000);
      // Whatever ended the run is said on the console or in the protocol.
      if (run.status != 0) {
        EXPECT_TRUE(protocol.find("ERROR") != std::string::npos || console.find("ERROR") != std::string::npos ||
                    console.find("->") != std::string::npos)
            << console.substr(0, 2000);
      }
      break;
    case Expect::kConverts:
      EXPECT_EQ(run.status, 0) << console.substr(0, 2000);
      EXPECT_EQ(counts.first, 0) << console.substr(0, 2000);
      break;
    case Expect::kAny:
      break;
  }
  if (run.status != 0) {
    EXPECT_EQ(readWholeFile(output), kOldOutput) << "the older output is lost";
  }
}

// ---------------------------------------------------------------------------
// Damage common to every format

std::string withLineEnds(const std::string& text, const std::string& end) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (c == '\n') {
      out += end;
    } else {
      out += c;
    }
  }
  return out;
}

std::string randomBytes(std::size_t n, unsigned seed, bool printable) {
  std::mt19937 random(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(printable ? 32 + random() % 95 : random() % 256);
  return out;
}

// Changes `count` bytes of the text at places of a fixed seed.
std::string flipped(std::string text, unsigned seed, int count) {
  std::mt19937 random(seed);
  for (int k = 0; k < count && !text.empty(); ++k) text[random() % text.size()] = static_cast<char>(random() % 256);
  return text;
}

// Truncations at `points` places spread over the file from its first byte
// on, the last one keeping all but `lastCut` bytes.
void addTruncations(std::vector<Damaged>& rows, const std::string& sample, int points, std::size_t lastCut,
                    Expect expect) {
  for (int k = 0; k < points; ++k) {
    const std::size_t span = sample.size() - lastCut - 1;
    const std::size_t at = 1 + span * static_cast<std::size_t>(k) / static_cast<std::size_t>(points - 1);
    rows.push_back({"cut after " + std::to_string(at) + " bytes", sample.substr(0, at), expect});
  }
}

// `lineEnds` is what the reader makes of CR and of LF CR line ends.
void addCommonDamage(std::vector<Damaged>& rows, const std::string& sample, Expect lineEnds) {
  // Nothing of the format: noise, printable or not, and NUL bytes alone.
  rows.push_back({"random bytes", randomBytes(4000, 1, false), Expect::kReported});
  rows.push_back({"random printable bytes", randomBytes(4000, 2, true), Expect::kReported});
  rows.push_back({"NUL bytes only", std::string(2000, '\0'), Expect::kReported});
  // The sample with damage inside.
  for (unsigned seed : {3u, 4u, 5u})
    rows.push_back({"bytes changed, seed " + std::to_string(seed), flipped(sample, seed, 12), Expect::kAny,
  });
  std::string nul = sample;
  for (std::size_t at = nul.size() / 7; at < nul.size(); at += nul.size() / 7) nul[at] = '\0';
  rows.push_back({"NUL bytes inside", nul, Expect::kAny});
  const std::size_t middle = sample.find('\n', sample.size() / 2) + 1;
  rows.push_back({"a very long line", sample.substr(0, middle) + std::string(200000, 'x') + "\n" +
                                          sample.substr(middle),
                  Expect::kAny});
  // Line ends: CR LF is read as LF by every reader.
  rows.push_back({"CR LF line ends", withLineEnds(sample, "\r\n"), Expect::kConverts});
  rows.push_back({"LF CR line ends", withLineEnds(sample, "\n\r"), lineEnds});
  rows.push_back({"CR line ends", withLineEnds(sample, "\r"), lineEnds});
}

// ---------------------------------------------------------------------------
// IGES

std::string igesSample() {
  igestest::Builder b;
  igestest::Entity member{110, 0, "0.,0.,0.,5.,5.,0.;"};
  member.status = "00010000";
  const int inner = b.add(member);
  const int definition = b.add(308, "0,5HINNER,1," + std::to_string(inner) + ";");
  igestest::Entity placed{408, 0, std::to_string(definition) + ",10.,0.,0.;"};
  placed.status = "00010000";
  const int nested = b.add(placed);
  const int outer = b.add(308, "1,5HOUTER,1," + std::to_string(nested) + ";");
  b.add(408, std::to_string(outer) + ",100.,100.,0.;");
  const int line = b.add(110, "0.,0.,0.,100.,50.,0.;");
  const int arc = b.add(100, "0.,0.,50.,25.,60.,25.,60.;");
  b.add(402, "2," + std::to_string(line) + "," + std::to_string(arc) + ";", 7);
  return b.text();
}

// A chain of `depth` definitions, each holding an instance of the one
// before, and an instance of the last; `cyclic` makes the first definition
// hold an instance of the last as well.
std::string igesChain(int depth, bool cyclic) {
  igestest::Builder b;
  igestest::Entity member{110, 0, "0.,0.,0.,1.,0.,0.;"};
  member.status = "00010000";
  int held = b.add(member);
  // DE numbers: the line 1, definition k 4k + 3, its instance 4k + 5.
  const int lastInstance = 4 * (depth - 1) + 5;
  for (int k = 0; k < depth; ++k) {
    std::string members = "1," + std::to_string(held);
    if (k == 0 && cyclic) members = "2," + std::to_string(held) + "," + std::to_string(lastInstance);
    const std::string name = "S" + std::to_string(k);
    const int definition =
        b.add(308, std::to_string(k) + "," + std::to_string(name.size()) + "H" + name + "," + members + ";");
    igestest::Entity instance{408, 0, std::to_string(definition) + ",1.,0.,0.;"};
    instance.status = k + 1 < depth ? "00010000" : "00000000";
    held = b.add(instance);
  }
  return b.text();
}

// Groups holding groups, `depth` deep; `cyclic` makes the first hold the
// last as well.
std::string igesNestedGroups(int depth, bool cyclic) {
  igestest::Builder b;
  int held = b.add(110, "0.,0.,0.,1.,0.,0.;");
  // DE numbers: the line 1, group k 2k + 3.
  const int last = 2 * (depth - 1) + 3;
  for (int k = 0; k < depth; ++k) {
    const std::string members = k == 0 && cyclic ? "2," + std::to_string(held) + "," + std::to_string(last)
                                                 : "1," + std::to_string(held);
    held = b.add(402, members + ";", 7);
  }
  return b.text();
}

std::vector<Damaged> igesRows() {
  const std::string sample = igesSample();
  std::vector<Damaged> rows;
  rows.push_back({"the sample", sample, Expect::kConverts});
  // Without its terminate line the file is refused.
  addTruncations(rows, sample, 12, 10, Expect::kReported);
  // The records are columns: any line end is read.
  addCommonDamage(rows, sample, Expect::kConverts);
  // Counts that lie: the terminate line's section counts, a parameter line
  // count, a member count and a string length far beyond the file.
  std::string terminate = sample;
  const std::size_t lastLine = terminate.rfind('\n', terminate.size() - 2) + 1;
  terminate.replace(terminate.find('D', lastLine) + 1, 7, "9999999");
  rows.push_back({"terminate counts beyond the file", terminate, Expect::kReported});
  std::string group = sample;
  const std::size_t count = group.find("402,2,");
  group.replace(count + 4, 1, "9");
  rows.push_back({"group member count beyond its data", group, Expect::kReported});
  std::string hollerith = sample;
  hollerith.replace(hollerith.find("5HINNER"), 7, "99HINNE");
  rows.push_back({"string length beyond its record", hollerith, Expect::kAny});
  rows.push_back({"subfigures nested 400 deep", igesChain(400, false), Expect::kConverts});
  rows.push_back({"subfigures in a cycle 50 long", igesChain(50, true), Expect::kReported});
  rows.push_back({"groups nested 300 deep", igesNestedGroups(300, false), Expect::kConverts});
  rows.push_back({"groups in a cycle 50 long", igesNestedGroups(50, true), Expect::kReported});
  return rows;
}

// ---------------------------------------------------------------------------
// DXF (own reader)

std::string dxfOf(const std::vector<std::string>& groups) {
  std::string out;
  for (const std::string& g : groups) out += g + "\n";
  return out;
}

// Header, a layer table, a block holding a line and an insert of a block
// holding a circle, and entities of the common kinds with an insert of the
// first block.
std::string dxfSample() {
  return dxfOf({"0", "SECTION", "2", "HEADER", "9", "$ACADVER", "1", "AC1009", "0", "ENDSEC",          //
                "0", "SECTION", "2", "TABLES", "0", "TABLE", "2", "LAYER", "70", "1",                    //
                "0", "LAYER", "2", "WALLS", "70", "0", "62", "1", "6", "CONTINUOUS", "0", "ENDTAB",      //
                "0", "ENDSEC", "0", "SECTION", "2", "BLOCKS",                                            //
                "0", "BLOCK", "8", "0", "2", "B1", "70", "0", "10", "0", "20", "0",                      //
                "0", "LINE", "8", "0", "10", "0", "20", "0", "11", "1", "21", "1",                       //
                "0", "INSERT", "8", "0", "2", "B2", "10", "1", "20", "1", "0", "ENDBLK",                  //
                "0", "BLOCK", "8", "0", "2", "B2", "70", "0", "10", "0", "20", "0",                      //
                "0", "CIRCLE", "8", "0", "10", "0", "20", "0", "40", "2", "0", "ENDBLK",                  //
                "0", "ENDSEC", "0", "SECTION", "2", "ENTITIES",                                          //
                "0", "LINE", "8", "WALLS", "10", "0", "20", "0", "11", "10", "21", "5",                  //
                "0", "CIRCLE", "8", "0", "10", "5", "20", "5", "40", "2",                                //
                "0", "ARC", "8", "0", "10", "1", "20", "2", "40", "3", "50", "10", "51", "200",          //
                "0", "TEXT", "8", "0", "10", "1", "20", "2", "40", "2.5", "1", "Hello", "50", "30",      //
                "0", "POINT", "8", "0", "10", "3", "20", "4",                                            //
                "0", "INSERT", "8", "0", "2", "B1", "10", "20", "20", "20",                              //
                "0", "ENDSEC", "0", "EOF"});
}

// Blocks `depth` deep, each inserting the one before; `cyclic` makes the
// first insert the last.
std::string dxfChain(int depth, bool cyclic) {
  std::vector<std::string> g = {"0", "SECTION", "2", "BLOCKS"};
  for (int k = 0; k < depth; ++k) {
    g.insert(g.end(), {"0", "BLOCK", "8", "0", "2", "B" + std::to_string(k), "70", "0", "10", "0", "20", "0"});
    if (k == 0) {
      g.insert(g.end(), {"0", "LINE", "8", "0", "10", "0", "20", "0", "11", "1", "21", "0"});
      if (cyclic)
        g.insert(g.end(), {"0", "INSERT", "8", "0", "2", "B" + std::to_string(depth - 1), "10", "0", "20", "1"});
    } else {
      g.insert(g.end(), {"0", "INSERT", "8", "0", "2", "B" + std::to_string(k - 1), "10", "0", "20", "1"});
    }
    g.insert(g.end(), {"0", "ENDBLK"});
  }
  g.insert(g.end(), {"0", "ENDSEC", "0", "SECTION", "2", "ENTITIES", "0", "INSERT", "8", "0", "2",
                     "B" + std::to_string(depth - 1), "10", "0", "20", "0", "0", "ENDSEC", "0", "EOF"});
  return dxfOf(g);
}

std::vector<Damaged> dxfRows() {
  const std::string sample = dxfSample();
  std::vector<Damaged> rows;
  rows.push_back({"the sample", sample, Expect::kConverts});
  // A DXF file cut short is converted as far as it goes, and the place
  // where it ended is reported.
  addTruncations(rows, sample, 12, 6, Expect::kReported);
  // Lone CR and LF CR are line ends like LF.
  addCommonDamage(rows, sample, Expect::kConverts);
  // A value of 100000 characters, and counts that lie.
  const std::size_t layer = sample.find("\nLINE\n");
  std::string longValue = sample;
  if (layer != std::string::npos) longValue.insert(layer + 6, "999\n" + std::string(100000, '7') + "\n");
  // A value longer than a DXF line may be is cut and reported.
  rows.push_back({"a value 100000 characters long", longValue, Expect::kReported});
  rows.push_back({"a polyline announcing 2^31 - 1 vertices",
                  dxfOf({"0", "SECTION", "2", "ENTITIES", "0", "LWPOLYLINE", "8", "0", "90", "2147483647", "70", "0",
                         "10", "0", "20", "0", "10", "1", "20", "1", "0", "ENDSEC", "0", "EOF"}),
                  Expect::kAny});
  rows.push_back({"a group code beyond any code", dxfOf({"0", "SECTION", "2", "ENTITIES", "99999999999", "x",
                                                         "0", "ENDSEC", "0", "EOF"}),
                  Expect::kAny});
  rows.push_back({"blocks nested 400 deep", dxfChain(400, false), Expect::kAny});
  rows.push_back({"blocks in a cycle 50 long", dxfChain(50, true), Expect::kReported});
  return rows;
}

// ---------------------------------------------------------------------------
// CAD transfer file

std::string transferSample() { return samples::everyKind(1).str(); }

// Groups holding groups, `depth` deep; `cyclic` makes the first hold the
// last.
std::string transferNestedGroups(int depth, bool cyclic) {
  samples::TransferFile f;
  f.line("1", 0, 0, 1, 0);
  for (int k = 0; k < depth; ++k) {
    std::vector<std::string> members = {std::to_string(k + 1)};
    if (k == 0 && cyclic) members.push_back(std::to_string(depth + 1));
    f.group(std::to_string(k + 2), "G", members);
  }
  return f.str();
}

std::vector<Damaged> transferRows() {
  const std::string sample = transferSample();
  std::vector<Damaged> rows;
  rows.push_back({"the sample", sample, Expect::kConverts});
  // The cut points fall into the header (status 21), into section header
  // lines and into the values of elements (warning 1320).
  addTruncations(rows, sample, 16, 40, Expect::kReported);
  // Lone CR and LF CR are line ends like LF.
  addCommonDamage(rows, sample, Expect::kConverts);
  // Counts that lie: a layer list of 2^31 - 1 values, a hatch of 10^9
  // points, a text block longer than the file.
  std::string layers = sample;
  layers.replace(layers.find("#3\n#10\n"), 3, "#2147483647\n");
  rows.push_back({"2^31 - 1 layer values announced", layers, Expect::kAny});
  samples::TransferFile hatch;
  hatch.raw("@hatch 7\n#a\n#x\n#visible\n#1 0 0 0 black\n#10\n#1\n#0.5\n#1000000000\n#0 0\n#1 1\n");
  rows.push_back({"a hatch announcing 10^9 points", hatch.str(), Expect::kReported});
  samples::TransferFile text;
  text.raw("@text 8\n#a\n#x\n#visible\n#1 0 0 0 black\n#1\n#1\n#3.5\n#0\n#1\n#4.5\n#1\n#20\n#mnone\n"
           "#1 standard\n#1\n#20\n#line\n#2000000000\n#Hello\n");
  rows.push_back({"a text longer than the file", text.str(), Expect::kAny});
  rows.push_back({"a value line of 100000 digits",
                  samples::TransferFile().raw("@line 1\n#a\n#x\n#visible\n#1 0 0 0 black\n#" +
                                              std::string(100000, '9') + "\n#0\n#1\n#1\n#10\n#1\n#0.5\n")
                      .str(),
                  Expect::kAny});
  rows.push_back({"groups nested 400 deep", transferNestedGroups(400, false), Expect::kConverts});
  rows.push_back({"groups in a cycle 50 long", transferNestedGroups(50, true), Expect::kReported});
  return rows;
}

// ---------------------------------------------------------------------------
// EDX

std::string edxSample() {
  return "{0:\"G1\"{.L(0,0,0)(10,0,0).C(5,5,0)(2,0,0)}}\n"
         "{0:\"els2d\".P(1,2,0)}\n"
         "{0:UT1024{def}{(0,0,0),1,(5,0,0),19,(6,1,0),(5,2,0),(5,2,0)}}\n";
}

std::vector<Damaged> edxRows() {
  const std::string sample = edxSample();
  std::vector<Damaged> rows;
  rows.push_back({"the sample", sample, Expect::kConverts});
  // A cut EDX file is read as far as it goes; a file cut before its first
  // element is warning 1324.
  addTruncations(rows, sample, 12, 1, Expect::kAny);
  // Line ends are dropped before the blocks are read.
  addCommonDamage(rows, sample, Expect::kConverts);
  // Braces 100000 deep, opened and never closed, and closed without being
  // opened; a number of 100000 digits.
  rows.push_back({"braces nested 100000 deep", std::string(100000, '{') + std::string(100000, '}'), Expect::kAny});
  rows.push_back({"braces never closed", "{0:\"G\"" + std::string(50000, '{'), Expect::kAny});
  rows.push_back({"braces never opened", std::string(50000, '}'), Expect::kAny});
  rows.push_back({"a number of 100000 digits", "{0:\"G\"{.L(" + std::string(100000, '9') + ",0,0)(1,0,0)}}\n",
                  Expect::kAny});
  return rows;
}

// ---------------------------------------------------------------------------

struct Catalogue {
  Reader reader;
  std::function<std::vector<Damaged>()> rows;
};

class DamagedInput : public testing::TestWithParam<int> {};

const Catalogue& catalogue(int k) {
  static const Catalogue all[] = {
      {{"IGES", {"-igesin", "-plus"}, "in.igs", "out.kpl", true}, igesRows},
      {{"own DXF reader", {"-dxf12in", "-plus"}, "in.dxf", "out.kpl", true}, dxfRows},
      {{"transfer file to IGES", {"-igesout", "-plus"}, "in.trf", "out.igs", false}, transferRows},
      {{"transfer file to DXF", {"-dxf12out", "-plus"}, "in.trf", "out.dxf", false}, transferRows},
      {{"EDX", {"-edxin", "-igesout"}, "in.edx", "out.igs", false}, edxRows},
  };
  return all[k];
}

TEST_P(DamagedInput, EveryRowEndsSoundly) {
  const Catalogue& c = catalogue(GetParam());
  const std::vector<Damaged> rows = c.rows();
  for (const Damaged& row : rows) runRow(c.reader, row);
}

std::string readerName(const testing::TestParamInfo<int>& info) {
  static const char* const names[] = {"Iges", "Dxf12in", "TransferToIges", "TransferToDxf", "Edx"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Readers, DamagedInput, testing::Range(0, 5), readerName);

}  // namespace

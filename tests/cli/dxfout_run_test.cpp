// -dxfout runs of the real program, in every release -acad<ver> selects:
// the run ends with status 0 and "Audit : ok.", the file carries the
// release in $ACADVER, ezdxf reads it with the transfer file's elements
// (kind, geometry, layer, colour, linetype, texts with their styles,
// dimensions with their blocks, hatches with their boundaries), and from
// Release 11/12 on ezdxf's audit finds no error.  -dwgout writes the same
// drawing as DWG in the releases whose DWG layout the toolkit has and
// refuses the others.  The ezdxf checks are skipped when python3-ezdxf is
// not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "transfer/dispatch_samples.h"

namespace {

namespace fs = std::filesystem;

constexpr char kPython[] = "/usr/bin/python3";
constexpr double kPi = std::numbers::pi;

// Lists every file named on its command line: "FILE", the audit's error
// count, then one line per entity of model space, the entities of an
// inserted block indented below their INSERT:
//   kind|layer|colour|linetype|words|numbers
constexpr char kLister[] = R"PY(import sys, ezdxf
def nums(v): return [float(c) for c in v][:2]
def show(doc, e, indent):
    t = e.dxftype(); d = e.dxf; n = []; w = ""
    if t == "LINE": n = nums(d.start) + nums(d.end)
    elif t == "POINT": n = nums(d.location)
    elif t == "CIRCLE": n = nums(d.center) + [d.radius]
    elif t == "ARC": n = nums(d.center) + [d.radius, d.start_angle, d.end_angle]
    elif t == "ELLIPSE": n = nums(d.center) + nums(d.major_axis) + [d.ratio, d.start_param, d.end_param]
    elif t == "SPLINE": n = [d.degree, len(e.control_points)]
    elif t == "POLYLINE": n = [1.0 if e.is_closed else 0.0, len(e.vertices)]
    elif t == "TEXT":
        n = nums(d.insert) + [d.height, d.rotation]
        w = d.text + "/" + d.style + "/" + str(d.style in doc.styles)
    elif t == "DIMENSION":
        n = [d.dimtype & 15]
        w = d.get("text", "") + "/" + d.geometry + "/" + str(len(doc.blocks.get(d.geometry)))
    elif t == "HATCH":
        n = [d.solid_fill, len(e.paths)] + [len(p.edges) if hasattr(p, "edges") else len(p.vertices) for p in e.paths]
        w = d.pattern_name
    elif t == "INSERT":
        n = nums(d.insert) + [d.xscale]
        w = d.name
    print("%s%s|%s|%d|%s|%s|%s" % (indent, t, d.layer, d.color, d.linetype, w, " ".join(repr(float(x)) for x in n)))
    if t == "INSERT":
        for inner in doc.blocks.get(d.name): show(doc, inner, indent + "  ")
for path in sys.argv[1:]:
    doc = ezdxf.readfile(path)
    print("FILE", path)
    print("ERRORS", len(doc.audit().errors))
    for e in doc.modelspace(): show(doc, e, "")
)PY";

bool ezdxfAvailable() {
  if (!fs::exists(kPython)) return false;
  TempDir dir;
  return runProgram(kPython, {"-c", "import ezdxf"}, dir.path()).status == 0;
}

// One entity of a listing.
struct Listed {
  std::string head;  // indent, kind, layer, colour, linetype, words
  std::vector<double> numbers;
};

struct Listing {
  int errors = -1;
  std::vector<Listed> entities;
};

// The listings of the lister's output, by file.
std::map<std::string, Listing> parseListings(const std::string& text) {
  std::map<std::string, Listing> out;
  Listing* current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("FILE ", 0) == 0) {
      current = &out[line.substr(5)];
      continue;
    }
    if (current == nullptr) continue;
    if (line.rfind("ERRORS ", 0) == 0) {
      current->errors = std::stoi(line.substr(7));
      continue;
    }
    const std::size_t bar = line.rfind('|');
    if (bar == std::string::npos) continue;
    Listed e;
    e.head = line.substr(0, bar);
    std::istringstream numbers(line.substr(bar + 1));
    double v = 0;
    while (numbers >> v) e.numbers.push_back(v);
    current->entities.push_back(std::move(e));
  }
  return out;
}

// The $ACADVER of a DXF file.
std::string acadver(const std::string& dxf) {
  const std::size_t at = dxf.find("$ACADVER");
  if (at == std::string::npos) return "";
  std::istringstream in(dxf.substr(at));
  std::string name, code, value;
  std::getline(in, name);
  std::getline(in, code);
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
  return value;
}

// The releases of -acad<suffix>.
struct Release {
  const char* suffix;
  const char* acadver;
  int number;  // the version's number, to tell the releases apart
};
constexpr Release kReleases[] = {
    {"25", "AC1002", 1002}, {"26", "AC1003", 1003}, {"9", "AC1004", 1004},   {"10", "AC1006", 1006},
    {"11", "AC1009", 1009}, {"12", "AC1009", 1009}, {"13", "AC1012", 1012},  {"14", "AC1014", 1014},
    {"2000", "AC1015", 1015}, {"2004", "AC1018", 1018}, {"2005", "AC1018", 1018},
};

// What ezdxf lists for an entity in a Release 2000 file: the head and its
// numbers.  Rows of a block's entities are indented under their INSERT.
struct Expected {
  std::string head;
  std::vector<double> numbers;
};

// The parameter file of the runs: line styles 2 and 3 draw with linetypes
// (one of the start-up data, one of its own), CAD colour 1 is colour 5.
constexpr char kParameters[] =
    "DWGOUT_LINESTYLEASSIGN 2 DASHED\n"
    "DWGOUT_LINESTYLEASSIGN 3 LONGDASH \"Long __\" 2 \"20.0,-5.0\"\n"
    "dwgout_colorassign 1 5\n";

// A text in the font "romans" at (20, 30), 2.5 high, on layer 20.
constexpr char kRomansText[] =
    "@text 40\n#attribute text of 40\n#x\n#visible\n#1 0 0 0 black\n"
    "#20\n#30\n#2.5\n#0\n#30\n#32.5\n#20\n#30\n#mnone\n#2 romans\n#1\n#10\n#line\n#4\n#Note\n#20\n#1\n#0.5\n";

// The transfer file of the test: every kind the transfer file knows, lines
// of three line styles, a deleted line (which the toolkit directions leave
// out unless the configuration asks for it), and a text in a font of its
// own.
std::string transferFile() {
  return samples::everyKind(1)
      .line("30", 0, 1, 2, 3, 20, false, 2)
      .line("31", 0, 4, 5, 6, 30, false, 3)
      .line("32", 9, 9, 8, 8, 10, true)
      .raw(kRomansText)
      .str();
}

// Model space in conversion order.  The layers are named by their layer
// values; the spline and the point carry no layer value ("EMPTY").  The
// group and the user element are blocks shown by inserts, the plane part a
// pattern hatch over its contour, the closed hatch polygon a solid fill;
// each dimension shows its own "*D" block.
std::vector<Expected> expectedDrawing() {
  const double axis = 8 * std::cos(kPi / 6);
  return {
      {"INSERT|0|256|BYLAYER|G11_2", {0, 0, 1}},
      {"  LINE|10|5|BYLAYER|", {0, 0, 5, 0}},
      {"  LINE|10|5|BYLAYER|", {5, 0, 5, 5}},
      {"HATCH|10|0|BYLAYER|_U", {0, 1, 3}},
      {"DIMENSION|10|5|BYLAYER|/*D1/11", {5}},  // the text on the line breaks the arc
      {"DIMENSION|10|5|BYLAYER|R10/*D2/7", {4}},
      {"DIMENSION|10|5|BYLAYER|/*D3/8", {3}},
      {"DIMENSION|10|5|BYLAYER|/*D4/10", {1}},  // the level text inside breaks the line
      {"TEXT|20|5|BYLAYER|Note/romans/True", {20, 30, 2.5, 0}},
      {"LINE|30|5|LONGDASH|", {0, 4, 5, 6}},
      {"LINE|20|5|DASHED|", {0, 1, 2, 3}},
      {"INSERT|10|5|BYLAYER|BOLT_1", {100, 100, 1}},
      {"  LINE|10|5|BYLAYER|", {60, 60, 61, 61}},
      {"TEXT|10|5|BYLAYER|Hello/Standard/True", {1, 1, 3.5, 0}},
      {"HATCH|10|5|BYLAYER|SOLID", {1, 1, 4}},
      {"SPLINE|EMPTY|5|BYLAYER|", {3, 5}},
      {"ELLIPSE|10|5|BYLAYER|", {20, 20, axis, 4, 0.5, 0, 2 * kPi}},
      {"ARC|10|5|BYLAYER|", {0, 0, 10, 0, 90}},
      {"CIRCLE|10|5|BYLAYER|", {5, 5, 2}},
      {"LINE|10|5|BYLAYER|", {0, 0, 10, 5}},
      {"POINT|EMPTY|5|BYLAYER|", {3, 4}},
  };
}

// The same row in an older release: before Release 13 ellipses and
// splines are the polylines that draw them, before Release 14 a hatch is
// an insert of an anonymous block that draws it (numbers and block names
// of those are not compared).  The standard text style's name is compared
// without regard to case.
struct Form {
  std::string kind;  // "" as in Release 2000
  bool numbers = true;
  bool insertOfDrawing = false;  // followed by the block's entities
};
Form formIn(int release, const std::string& head) {
  const std::string kind = head.substr(0, head.find('|'));
  if (release < 1012 && (kind == "ELLIPSE" || kind == "SPLINE")) return {"POLYLINE", false, false};
  if (release < 1014 && kind == "HATCH") return {"INSERT", false, true};
  return {};
}

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Compares a listing with the expected drawing in a release; the first
// difference, or "".
std::string differenceIn(int release, const Listing& listing) {
  const std::vector<Expected> expected = expectedDrawing();
  std::size_t at = 0;
  for (const Expected& e : expected) {
    if (at >= listing.entities.size()) return "missing: " + e.head;
    const Listed& seen = listing.entities[at++];
    const Form form = formIn(release, e.head);
    std::string head = e.head;
    if (!form.kind.empty()) {
      head = form.kind + head.substr(head.find('|'));
      head = head.substr(0, head.rfind('|') + 1);
    }
    std::string seenHead = form.kind.empty() ? seen.head : seen.head.substr(0, seen.head.rfind('|') + 1);
    if (upper(seenHead) != upper(head)) return "seen " + seen.head + " for " + e.head;
    if (form.numbers) {
      if (seen.numbers.size() != e.numbers.size()) return "numbers of " + e.head;
      for (std::size_t i = 0; i < e.numbers.size(); ++i)
        if (std::fabs(seen.numbers[i] - e.numbers[i]) > 1e-9)
          return "number " + std::to_string(i) + " of " + e.head + ": " + std::to_string(seen.numbers[i]);
    }
    if (form.insertOfDrawing) {
      // The lines or solids that draw the hatch.
      const std::size_t first = at;
      while (at < listing.entities.size() && listing.entities[at].head.rfind("  ", 0) == 0) ++at;
      if (at == first) return "an empty drawing of " + e.head;
    }
  }
  if (at != listing.entities.size()) return "more than expected: " + listing.entities[at].head;
  return "";
}

struct Runs {
  TempDir dir;
  std::string config;
  Runs() {
    fs::create_directories(dir.path() + "/tmp");
    dir.write("dwg_para.iga", kParameters);
    config = dir.write("run.config", "TR_TEMP " + dir.path() + "/tmp\nTR_PROT " + dir.path() + "\nTR_PARA " +
                                         dir.path() + "\nTR_LANG english\n");
    dir.write("in.trf", transferFile());
  }
  ProgramResult run(const std::vector<std::string>& switches, const std::string& output) const {
    std::vector<std::string> args = switches;
    args.insert(args.end(), {output, "in.trf", config});
    return runProgram(TROVAK_PROGRAM, args, dir.path());
  }
};

TEST(DxfOutRunTest, EveryReleaseReadsBackWithTheElements) {
  if (!ezdxfAvailable()) GTEST_SKIP() << "python3-ezdxf is not installed";
  const Runs runs;
  std::vector<std::string> files;
  for (const Release& r : kReleases) {
    SCOPED_TRACE(r.suffix);
    const std::string name = std::string("out") + r.suffix + ".dxf";
    const ProgramResult run = runs.run({"-dxfout", std::string("-acad") + r.suffix}, name);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Audit : ok.\n"), std::string::npos) << run.out;
    files.push_back(runs.dir.path() + "/" + name);
    EXPECT_EQ(acadver(readWholeFile(files.back())), r.acadver);
  }
  EXPECT_TRUE(fs::is_empty(runs.dir.path() + "/tmp"));
  // One reader for all files.
  const std::string script = runs.dir.write("list.py", kLister);
  std::vector<std::string> args = {script};
  args.insert(args.end(), files.begin(), files.end());
  const ProgramResult listed = runProgram(kPython, args, runs.dir.path(), "", 120);
  ASSERT_EQ(listed.status, 0) << listed.err;
  const std::map<std::string, Listing> listings = parseListings(listed.out);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Release& r = kReleases[i];
    SCOPED_TRACE(r.suffix);
    const auto found = listings.find(files[i]);
    ASSERT_NE(found, listings.end()) << listed.out;
    if (r.number >= 1009) {
      EXPECT_EQ(found->second.errors, 0);
    }
    EXPECT_EQ(differenceIn(r.number, found->second), "") << listed.out;
  }
}

TEST(DxfOutRunTest, DwgOutWritesEveryRelease) {
  // -dwgout writes 2000 without -acad and the release of every -acad
  // suffix with it (what other readers find in them: dwg_peers); each run
  // ends with the audit line and leaves no temporary file behind.
  const Runs runs;
  const struct {
    std::vector<std::string> switches;
    const char* version;
  } written[] = {{{"-dwgout"}, "AC1015"},           {{"-dwgout", "-acad25"}, "AC1002"},
                 {{"-dwgout", "-acad26"}, "AC1003"}, {{"-dwgout", "-acad9"}, "AC1004"},
                 {{"-dwgout", "-acad10"}, "AC1006"}, {{"-dwgout", "-acad11"}, "AC1009"},
                 {{"-dwgout", "-acad12"}, "AC1009"}, {{"-dwgout", "-acad13"}, "AC1012"},
                 {{"-dwgout", "-acad14"}, "AC1014"}, {{"-dwgout", "-acad2000"}, "AC1015"},
                 {{"-dwgout", "-acad2004"}, "AC1018"}, {{"-dwgout", "-acad2005"}, "AC1018"}};
  for (const auto& w : written) {
    SCOPED_TRACE(w.switches.back());
    const ProgramResult run = runs.run(w.switches, "out.dwg");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Audit : ok.\n"), std::string::npos) << run.out;
    EXPECT_EQ(readWholeFile(runs.dir.path() + "/out.dwg").substr(0, 6), w.version);
    fs::remove(runs.dir.path() + "/out.dwg");
  }
  EXPECT_TRUE(fs::is_empty(runs.dir.path() + "/tmp"));
}

}  // namespace

// -svg <file> through the real program: the picture of every direction
// holds the elements converted (kind, count, coordinates), failed elements
// are red with their message, the picture is written like every other
// output, and a real browser draws it over its whole view box.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "iges_in/convert_iges_builder.h"
#include "iges_in/kpl_reader.h"
#include "transfer/dispatch_samples.h"

namespace {

namespace fs = std::filesystem;

// One drawn element of the SVG: its tag and attributes, and the classes of
// the groups around it.
struct SvgElement {
  std::string tag;
  std::map<std::string, std::string> attributes;
  std::string text;  // of a <text>
  std::vector<std::string> groups;  // "layer:<name>", "dimension", "view:<name>" ...
  double number(const std::string& name) const {
    const auto at = attributes.find(name);
    return at == attributes.end() ? NAN : std::strtod(at->second.c_str(), nullptr);
  }
  std::string kind() const {
    const auto at = attributes.find("class");
    return at == attributes.end() ? "" : at->second;
  }
  std::vector<double> points() const {
    std::vector<double> out;
    auto at = attributes.find("points");
    if (at == attributes.end()) at = attributes.find("d");
    if (at == attributes.end()) return out;
    std::string s = at->second;
    for (char& c : s)
      if (c == ',' || std::isalpha(static_cast<unsigned char>(c))) c = ' ';
    const char* p = s.c_str();
    char* end = nullptr;
    for (double v = std::strtod(p, &end); end != p; v = std::strtod(p, &end)) {
      out.push_back(v);
      p = end;
    }
    return out;
  }
};

struct Svg {
  double viewBox[4] = {0, 0, 0, 0};
  std::vector<SvgElement> elements;
  int failedWithoutPlace = 0;
  std::vector<const SvgElement*> of(const std::string& kind) const {
    std::vector<const SvgElement*> out;
    for (const SvgElement& e : elements)
      if (e.kind() == kind) out.push_back(&e);
    return out;
  }
};

std::map<std::string, std::string> attributesOf(const std::string& tag) {
  std::map<std::string, std::string> out;
  std::size_t at = tag.find(' ');
  while (at != std::string::npos) {
    const std::size_t eq = tag.find("=\"", at);
    if (eq == std::string::npos) break;
    const std::size_t close = tag.find('"', eq + 2);
    std::string name = tag.substr(at + 1, eq - at - 1);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    out[name] = tag.substr(eq + 2, close - eq - 2);
    at = close + 1 < tag.size() && tag[close + 1] == ' ' ? close + 1 : std::string::npos;
  }
  return out;
}

// A small reader of the pictures the program writes: tags, attributes and
// the nesting of groups.
Svg readSvg(const std::string& text) {
  Svg svg;
  std::vector<std::string> groups;
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    const std::size_t end = text.find('>', at);
    if (end == std::string::npos) break;
    std::string tag = text.substr(at + 1, end - at - 1);
    const bool selfClosing = !tag.empty() && tag.back() == '/';
    if (selfClosing) tag.pop_back();
    const std::string name = tag.substr(0, tag.find(' '));
    const auto attributes = attributesOf(tag);
    if (name == "svg") {
      const std::string box = attributes.at("viewBox");
      std::sscanf(box.c_str(), "%lf %lf %lf %lf", &svg.viewBox[0], &svg.viewBox[1], &svg.viewBox[2], &svg.viewBox[3]);
    } else if (name == "g") {
      const auto kind = attributes.find("class");
      std::string label = kind == attributes.end() ? "" : kind->second;
      if (attributes.count("data-name")) label += ":" + attributes.at("data-name");
      if (label == "failed-element") ++svg.failedWithoutPlace;
      groups.push_back(label);
    } else if (name == "/g") {
      if (!groups.empty()) groups.pop_back();
    } else if (name == "line" || name == "circle" || name == "path" || name == "polyline" || name == "polygon" ||
               name == "ellipse" || name == "text") {
      SvgElement e{name, attributes, "", groups};
      if (name == "text") {
        const std::size_t close = text.find("</text>", end);
        e.text = text.substr(end + 1, close - end - 1);
        const std::size_t title = e.text.find("</title>");
        if (title != std::string::npos) e.text.erase(0, title + 8);
      }
      svg.elements.push_back(e);
    }
    at = end + 1;
  }
  return svg;
}

bool inGroup(const SvgElement& e, const std::string& label) {
  for (const std::string& g : e.groups)
    if (g == label) return true;
  return false;
}

// The test drawing: every kind the picture draws, on three layers.
std::string testDrawing() {
  return samples::TransferFile(1)
      .line("1", 0, 0, 100, 0)
      .line("2", 100, 0, 100, 50, 20)
      .circle("3", 50, 25, 10)
      .arc("4", 0, 50, 20, 20, 50, 0, 70)
      .ellipse("5", 150, 50, 30, 10, 30, 0, 0, 30)
      .spline("6", {{0, -20}, {30, -40}, {60, -20}, {90, -40}})
      .hatch("7", {{120, 0}, {160, 0}, {160, 30}}, 30)
      .text("8", 10, 80, 5, "Hallo")
      .str();
}

struct PictureRun {
  std::unique_ptr<TempDir> dir;
  ProgramResult result;
  std::string svg;
  bool written = false;
};

PictureRun runWithPicture(const std::vector<std::string>& switches, const std::string& inputName,
                          const std::string& input, const std::string& outputName,
                          const std::string& svgName = "picture.svg") {
  PictureRun run;
  run.dir = std::make_unique<TempDir>();
  const std::string base = run.dir->path();
  fs::create_directories(base + "/tmp");
  const std::string config = run.dir->write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\n");
  run.dir->write(inputName, input);
  std::vector<std::string> args = switches;
  args.insert(args.end(), {"-svg", svgName});
  const bool inputDirection = switches.front().find("in") != std::string::npos;
  args.push_back(inputDirection ? inputName : outputName);
  args.push_back(inputDirection ? outputName : inputName);
  args.push_back(config);
  run.result = runProgram(TROVAK_PROGRAM, args, base, "", 120);
  const std::string path = svgName.front() == '/' ? svgName : base + "/" + svgName;
  run.written = fs::exists(path);
  if (run.written) run.svg = readWholeFile(path);
  return run;
}

}  // namespace

namespace {

constexpr double kTolerance = 1e-6;

// The picture's line between the two points (either way), nullptr when it has none.
const SvgElement* lineBetween(const Svg& svg, double x1, double y1, double x2, double y2) {
  for (const SvgElement* l : svg.of("line")) {
    const double a[4] = {l->number("x1"), -l->number("y1"), l->number("x2"), -l->number("y2")};
    const auto near = [](double u, double v) { return std::fabs(u - v) <= kTolerance; };
    if ((near(a[0], x1) && near(a[1], y1) && near(a[2], x2) && near(a[3], y2)) ||
        (near(a[0], x2) && near(a[1], y2) && near(a[2], x1) && near(a[3], y1)))
      return l;
  }
  return nullptr;
}

// The circle, the ellipse and the text of the test drawing, y turned; no
// text where `withText` is false.
void expectCircle(const Svg& svg) {
  const auto circles = svg.of("circle");
  ASSERT_EQ(circles.size(), 1u);
  EXPECT_NEAR(circles[0]->number("cx"), 50, kTolerance);
  EXPECT_NEAR(circles[0]->number("cy"), -25, kTolerance);
  EXPECT_NEAR(circles[0]->number("r"), 10, kTolerance);
}

void expectEllipse(const Svg& svg) {
  const auto ellipses = svg.of("ellipse");
  ASSERT_EQ(ellipses.size(), 1u);
  EXPECT_NEAR(ellipses[0]->number("data-cx"), 150, kTolerance);
  EXPECT_NEAR(ellipses[0]->number("data-cy"), 50, kTolerance);
  EXPECT_NEAR(ellipses[0]->number("data-rx"), 30, kTolerance);
  EXPECT_NEAR(ellipses[0]->number("data-ry"), 10, kTolerance);
}

void expectText(const Svg& svg, bool withText) {
  const auto texts = svg.of("text");
  ASSERT_EQ(texts.size(), withText ? 1u : 0u);
  if (!withText) return;
  EXPECT_NEAR(texts[0]->number("x"), 10, kTolerance);
  EXPECT_NEAR(texts[0]->number("y"), -80, kTolerance);
  EXPECT_NEAR(texts[0]->number("font-size"), 5, kTolerance);
  EXPECT_EQ(texts[0]->text, "Hallo");
}

// What the test drawing must look like in a picture, written y turned.
// The own DXF writer writes no texts.
void expectTestDrawing(const Svg& svg, bool withText) {
  EXPECT_EQ(svg.of("line").size(), 2u);
  // Layers are named by the layer numbers written: the layer values 10,
  // 20, 30 of the file's list are the layers 3, 2, 1.
  const SvgElement* first = lineBetween(svg, 0, 0, 100, 0);
  const SvgElement* second = lineBetween(svg, 100, 0, 100, 50);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(inGroup(*first, "layer:3"));
  EXPECT_TRUE(inGroup(*second, "layer:2"));

  expectCircle(svg);

  const auto arcs = svg.of("arc");
  ASSERT_EQ(arcs.size(), 1u);
  const std::vector<double> arc = arcs[0]->points();  // M sx sy A r r rot large sweep ex ey
  ASSERT_EQ(arc.size(), 9u);
  EXPECT_NEAR(arc[0], 20, kTolerance);
  EXPECT_NEAR(arc[1], -50, kTolerance);
  EXPECT_NEAR(arc[2], 20, kTolerance);
  EXPECT_NEAR(arc[7], 0, kTolerance);
  EXPECT_NEAR(arc[8], -70, kTolerance);

  expectEllipse(svg);

  const auto splines = svg.of("spline");
  ASSERT_EQ(splines.size(), 1u);
  const std::vector<double> spline = splines[0]->points();
  ASSERT_GE(spline.size(), 4u);
  EXPECT_NEAR(spline[0], 0, kTolerance);
  EXPECT_NEAR(spline[1], 20, kTolerance);
  EXPECT_NEAR(spline[spline.size() - 2], 90, kTolerance);
  EXPECT_NEAR(spline.back(), 40, kTolerance);

  const auto hatches = svg.of("hatch");
  ASSERT_EQ(hatches.size(), 1u);
  const std::vector<double> hatch = hatches[0]->points();
  ASSERT_GE(hatch.size(), 6u);
  EXPECT_NEAR(hatch[0], 120, kTolerance);
  EXPECT_NEAR(hatch[4], 160, kTolerance);
  EXPECT_NEAR(hatch[5], -30, kTolerance);
  EXPECT_TRUE(inGroup(*hatches[0], "layer:1"));

  expectText(svg, withText);
}

TEST(SvgPictureTest, OutputDirectionsDrawWhatTheyWrite) {
  struct Case {
    std::vector<std::string> switches;
    const char* output;
    bool withText;
  };
  const Case cases[] = {
      {{"-igesout"}, "out.igs", true},  {{"-igesout", "-stat"}, "out.igs", true},
      {{"-dxf12out"}, "out.dxf", false}, {{"-dxfout"}, "out.dxf", true},
      {{"-dwgout"}, "out.dwg", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.switches.front() + (c.switches.size() > 1 ? " " + c.switches[1] : ""));
    const PictureRun run = runWithPicture(c.switches, "in.trf", testDrawing(), c.output);
    EXPECT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    ASSERT_TRUE(run.written);
    const Svg svg = readSvg(run.svg);
    expectTestDrawing(svg, c.withText);
    // The view box holds the drawing (x from 0 to 176 over the ellipse, y
    // from -40 at the spline's end up to the text's top at 85, else the
    // arc's at 70) and not much more.
    EXPECT_LE(svg.viewBox[0], 0.0);
    EXPECT_GE(svg.viewBox[0] + svg.viewBox[2], 176.0);
    EXPECT_LE(svg.viewBox[1], c.withText ? -85.0 : -70.0);
    EXPECT_GE(svg.viewBox[1] + svg.viewBox[3], 40.0);
    EXPECT_LT(svg.viewBox[2], 220.0);
    EXPECT_LT(svg.viewBox[3], 140.0);
  }
}

}  // namespace

namespace {

TEST(SvgPictureTest, InputDirectionsDrawWhatTheyConvert) {
  // Each input direction reads the file its output direction wrote from
  // the test drawing.
  struct Case {
    const char* output;
    const char* input;
    const char* file;
    bool withText;  // and ellipses
  };
  const Case cases[] = {
      {"-igesout", "-igesin", "drawing.igs", true},
      {"-dxf12out", "-dxf12in", "drawing.dxf", false},
      {"-dxfout", "-dxfin", "drawing.dxf", true},
      {"-dwgout", "-dwgin", "drawing.dwg", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    const PictureRun written = runWithPicture({c.output}, "in.trf", testDrawing(), c.file);
    ASSERT_EQ(written.result.status, 0) << written.result.err;
    const std::string exchange = readWholeFile(written.dir->path() + "/" + c.file);
    const PictureRun run = runWithPicture({c.input}, c.file, exchange, "out.kpl");
    EXPECT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    ASSERT_TRUE(run.written);
    const Svg svg = readSvg(run.svg);
    EXPECT_NE(lineBetween(svg, 0, 0, 100, 0), nullptr);
    EXPECT_NE(lineBetween(svg, 100, 0, 100, 50), nullptr);
    expectCircle(svg);
    const auto arcs = svg.of("arc");
    ASSERT_EQ(arcs.size(), 1u);
    EXPECT_NEAR(arcs[0]->number("data-cx"), 0, kTolerance);
    EXPECT_NEAR(arcs[0]->number("data-cy"), 50, kTolerance);
    EXPECT_NEAR(arcs[0]->number("data-rx"), 20, kTolerance);
    // Release 12 files have neither texts (the own writer leaves them out)
    // nor ellipses (it writes them as polylines).
    expectText(svg, c.withText);
    if (c.withText) expectEllipse(svg);
  }
}

}  // namespace

namespace {

TEST(SvgPictureTest, PictureIsWrittenLikeEveryOutput) {
  const std::string drawing = testDrawing();
  // Never the same file as an input or another output of the run.
  for (const char* name : {"in.trf", "in.trf.prot", "out.igs", "run.config"}) {
    SCOPED_TRACE(name);
    const PictureRun run = runWithPicture({"-igesout"}, "in.trf", drawing, "out.igs", name);
    EXPECT_EQ(run.result.status, 12);
    EXPECT_EQ(readWholeFile(run.dir->path() + "/in.trf"), drawing);
  }
  {
    SCOPED_TRACE("a folder that does not exist");
    const PictureRun run = runWithPicture({"-igesout"}, "in.trf", drawing, "out.igs", "missing/picture.svg");
    EXPECT_EQ(run.result.status, 24);
    EXPECT_NE(run.result.err.find("(1300)"), std::string::npos) << run.result.err;
  }
  {
    SCOPED_TRACE("a link under the picture's name");
    TempDir elsewhere;
    const std::string target = elsewhere.write("kept.txt", "kept");
    PictureRun run;
    run.dir = std::make_unique<TempDir>();
    ASSERT_EQ(symlink(target.c_str(), (run.dir->path() + "/picture.svg").c_str()), 0);
    const std::string base = run.dir->path();
    fs::create_directories(base + "/tmp");
    const std::string config = run.dir->write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\n");
    run.dir->write("in.trf", drawing);
    run.result = runProgram(TROVAK_PROGRAM, {"-igesout", "-svg", "picture.svg", "out.igs", "in.trf", config}, base);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(readWholeFile(target), "kept");
    EXPECT_FALSE(fs::is_symlink(base + "/picture.svg"));
    EXPECT_EQ(readSvg(readWholeFile(base + "/picture.svg")).of("line").size(), 2u);
    // Only the picture beside the outputs: no temporary name left.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(base)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 5);  // run.config, in.trf, in.trf.prot, out.igs, picture.svg
  }
}

// A browser draws the picture: the screenshot is not blank and its drawn
// part fills the view box up to the margin around the drawing.
TEST(SvgPictureTest, BrowserDrawsThePictureOverItsViewBox) {
  const char* browser = "/usr/bin/chromium";
  if (access(browser, X_OK) != 0) GTEST_SKIP() << "no chromium";
  const PictureRun run = runWithPicture({"-igesout"}, "in.trf", testDrawing(), "out.igs");
  ASSERT_TRUE(run.written);
  const std::size_t at = run.svg.find("<svg ");
  const auto attributes = attributesOf(run.svg.substr(at, run.svg.find('>', at) - at));
  const int width = std::atoi(attributes.at("width").c_str());
  const int height = std::atoi(attributes.at("height").c_str());
  const std::string png = run.dir->path() + "/picture.png";
  const ProgramResult shot =
      runProgram(browser,
                 {"--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--screenshot=" + png,
                  "--window-size=" + std::to_string(width) + "," + std::to_string(height),
                  "file://" + run.dir->path() + "/picture.svg"},
                 run.dir->path(), "", 120);
  if (!fs::exists(png)) GTEST_SKIP() << "chromium made no screenshot: " << shot.err;
  const ProgramResult decoded =
      runProgram("/usr/bin/python3", {TROVAK_SOURCE_DIR "/tests/cli/png_extent.py", png}, run.dir->path(), "", 120);
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  int w = 0, h = 0, left = 0, top = 0, right = 0, bottom = 0;
  ASSERT_EQ(std::sscanf(decoded.out.c_str(), "%d %d %d %d %d %d", &w, &h, &left, &top, &right, &bottom), 6);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
  ASSERT_LE(left, right) << "blank picture";
  // The margin is 2 % of the longer side of the drawing; the drawing
  // touches the view box's margin on the left (the lines), the right (the
  // ellipse) and the bottom (the spline), the text's glyphs stay below
  // their font size at the top.
  const double margin = 0.02 / 1.04 * std::max(width, height);
  EXPECT_NEAR(left, margin, 3.0);
  EXPECT_NEAR(right, width - 1 - margin, 3.0);
  EXPECT_NEAR(bottom, height - 1 - margin, 3.0);
  EXPECT_GT(top, margin - 3.0);
  EXPECT_LT(top, 0.2 * height);
}

}  // namespace

namespace {

// An IGES file with one line and one circle; the line's end points as given.
std::string igesWithLine(const std::string& line) {
  std::string text = readWholeFile(TROVAK_SOURCE_DIR "/examples/line_and_circle.igs");
  const std::string original = "110,0.0,0.0,0.0,100.0,50.0,0.0;";
  const std::size_t at = text.find(original);
  text.replace(at, original.size(), line + std::string(original.size() - line.size(), ' '));
  return text;
}

TEST(SvgPictureTest, FailedElementsCarryTheirMessage) {
  // A line of length 0 is refused (warning 640): the picture lists it with
  // the message in the run's language and draws the rest.
  struct Case {
    const char* language;
    const char* title;
  };
  const Case cases[] = {
      {"deutsch", "Element 1: 640 Linie der L\xc3\xa4nge 0"},
      {"english", "element 1: 640 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    PictureRun run;
    run.dir = std::make_unique<TempDir>();
    const std::string base = run.dir->path();
    const std::string config =
        run.dir->write("run.config", std::string("TR_PROT ") + base + "\nTR_LANG " + c.language + "\n");
    run.dir->write("in.igs", igesWithLine("110,5.0,5.0,0.0,5.0,5.0,0.0;"));
    run.result = runProgram(TROVAK_PROGRAM, {"-igesin", "-svg", "p.svg", "in.igs", "out.kpl", config}, base);
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    const Svg svg = readSvg(readWholeFile(base + "/p.svg"));
    EXPECT_EQ(svg.failedWithoutPlace, 1);
    EXPECT_TRUE(svg.of("line").empty());
    EXPECT_EQ(svg.of("circle").size(), 1u);
    EXPECT_NE(readWholeFile(base + "/p.svg").find("data-message=\"640\"><title>" + std::string(c.title)),
              std::string::npos);
  }
}

}  // namespace

namespace {

// The Bezier pieces of a drawn spline path, y turned back; its degree in
// `degree`.
std::vector<std::vector<std::pair<double, double>>> bezierPieces(const SvgElement& path, int& degree) {
  std::vector<std::vector<std::pair<double, double>>> pieces;
  degree = static_cast<int>(path.number("data-degree"));
  const std::string d = path.attributes.at("d");
  std::pair<double, double> last;
  const char* p = d.c_str();
  while (*p != '\0') {
    const char command = *p++;
    if (command == ' ') continue;
    char* end = nullptr;
    if (command == 'M') {
      last.first = std::strtod(p, &end);
      last.second = -std::strtod(end, &end);
      p = end;
      continue;
    }
    std::vector<std::pair<double, double>> piece{last};
    for (int k = 0; k < degree; ++k) {
      const double x = std::strtod(p, &end);
      const double y = -std::strtod(end, &end);
      p = end;
      piece.push_back({x, y});
    }
    last = piece.back();
    pieces.push_back(piece);
  }
  return pieces;
}

std::pair<double, double> onBezier(const std::vector<std::pair<double, double>>& b, double t) {
  std::vector<std::pair<double, double>> d = b;
  for (std::size_t r = 1; r < d.size(); ++r)
    for (std::size_t j = 0; j + r < d.size(); ++j)
      d[j] = {d[j].first + t * (d[j + 1].first - d[j].first), d[j].second + t * (d[j + 1].second - d[j].second)};
  return d[0];
}

// The annotated test drawing with a cubic B-spline (uniform knots) and a
// parametric spline of two cubic segments, x = 10 t, y = 10 (t^3 - t) for
// t from 0 to 2, joined with equal second derivatives.
std::string igesWithSplinesAndDimensions() {
  igestest::Builder b = igestest::annotatedDrawing();
  b.add(126,
        "5,3,0,0,1,0,0.,0.,0.,0.,1.,2.,3.,3.,3.,3.,1.,1.,1.,1.,1.,1.,200.,100.,0.,210.,130.,0.,225.,95.,0.,"
        "240.,120.,0.,260.,100.,0.,270.,145.,0.,0.,3.,0.,0.,1.;");
  b.add(112,
        "6,3,2,2,0.,1.,2.,0.,10.,0.,0.,0.,-10.,0.,10.,0.,0.,0.,0.,10.,10.,0.,0.,0.,20.,30.,10.,0.,0.,0.,0.,"
        "20.,10.,0.,0.,60.,130.,0.,0.,0.,0.,0.,0.;");
  return b.text();
}

TEST(SvgPictureTest, InputSplinesAreTheirCurvesAndDimensionsTheirLinesArrowsAndText) {
  const PictureRun run = runWithPicture({"-igesin", "-plus"}, "in.igs", igesWithSplinesAndDimensions(), "out.kpl");
  ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
  ASSERT_TRUE(run.written);
  const Svg svg = readSvg(run.svg);
  const auto splines = svg.of("spline");
  ASSERT_EQ(splines.size(), 2u);
  const kpl::Script script = kpl::readScript(readWholeFile(run.dir->path() + "/out.kpl"));
  ASSERT_EQ(script.splines.size(), 2u);
  for (const SvgElement* spline : splines) ASSERT_EQ(spline->tag, "path");
  int degree = 0;
  {
    SCOPED_TRACE("the B-spline: the curve its statement makes of its control points");
    // Its ends here; the curve between them the tests of the picture
    // check against the statement's meaning.
    const auto pieces = bezierPieces(*splines[0], degree);
    EXPECT_EQ(degree, 3);
    const kpl::Spline& written = script.splines[0];
    ASSERT_EQ(written.controlPoints.size(), 6u);
    ASSERT_EQ(pieces.size(), 3u);  // one per knot span
    EXPECT_NEAR(pieces.front().front().first, written.controlPoints.front().x, kTolerance);
    EXPECT_NEAR(pieces.front().front().second, written.controlPoints.front().y, kTolerance);
    EXPECT_NEAR(pieces.back().back().first, written.controlPoints.back().x, kTolerance);
    EXPECT_NEAR(pieces.back().back().second, written.controlPoints.back().y, kTolerance);
  }
  {
    SCOPED_TRACE("the parametric spline: its segments' polynomials");
    const auto pieces = bezierPieces(*splines[1], degree);
    EXPECT_EQ(degree, 3);
    ASSERT_EQ(pieces.size(), 2u);
    for (std::size_t k = 0; k < pieces.size(); ++k) {
      for (const double t : {0.0, 0.3, 0.5, 0.9, 1.0}) {
        const double u = static_cast<double>(k) + t;
        const auto drawn = onBezier(pieces[k], t);
        EXPECT_NEAR(drawn.first, 10.0 * u, kTolerance);
        EXPECT_NEAR(drawn.second, 10.0 * (u * u * u - u), kTolerance);
      }
    }
  }
  // The linear dimension between the leaders' heads (0, 3) and (50, 3),
  // the radius dimension from the centre (100, 0) to (110, 0): their lines,
  // an arrow at each head, their texts.
  std::vector<const SvgElement*> inDimensions;
  for (const SvgElement& e : svg.elements)
    if (inGroup(e, "dimension")) inDimensions.push_back(&e);
  std::map<std::string, int> kinds;
  for (const SvgElement* e : inDimensions) ++kinds[e->kind()];
  EXPECT_EQ(kinds["line"], 2);
  EXPECT_EQ(kinds["arrow"], 3);
  EXPECT_EQ(kinds["text"], 2);
  EXPECT_EQ(inDimensions.size(), 7u);
  EXPECT_TRUE(lineBetween(svg, 0, 3, 50, 3) != nullptr && inGroup(*lineBetween(svg, 0, 3, 50, 3), "dimension"));
  EXPECT_TRUE(lineBetween(svg, 100, 0, 110, 0) != nullptr);
  std::vector<std::pair<double, double>> tips;
  for (const SvgElement* arrow : svg.of("arrow")) {
    const std::vector<double> points = arrow->points();
    ASSERT_EQ(points.size(), 6u);
    tips.push_back({points[0], -points[1]});
  }
  std::sort(tips.begin(), tips.end());
  const std::vector<std::pair<double, double>> heads = {{0, 3}, {50, 3}, {110, 0}};
  ASSERT_EQ(tips.size(), heads.size());
  for (std::size_t k = 0; k < tips.size(); ++k) {
    EXPECT_NEAR(tips[k].first, heads[k].first, kTolerance);
    EXPECT_NEAR(tips[k].second, heads[k].second, kTolerance);
  }
}

// Everything of a text but its digits (time stamps, run times).
std::string withoutDigits(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }),
             text.end());
  return text;
}

TEST(SvgPictureTest, StatisticsRunsOfTheInputDirectionsDrawWhatTheyRead) {
  // The IGES drawing of every kind, and the test drawing written by each
  // exchange format's output direction.
  struct Case {
    const char* output;  // "" for the IGES drawing
    const char* input;
    const char* file;
  };
  const Case cases[] = {
      {"", "-igesin", "drawing.igs"},
      {"-dxf12out", "-dxf12in", "drawing.dxf"},
      {"-dxfout", "-dxfin", "drawing.dxf"},
      {"-dwgout", "-dwgin", "drawing.dwg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::string exchange = igesWithSplinesAndDimensions();
    if (*c.output != '\0') {
      const PictureRun written = runWithPicture({c.output}, "in.trf", testDrawing(), c.file);
      ASSERT_EQ(written.result.status, 0) << written.result.err;
      exchange = readWholeFile(written.dir->path() + "/" + c.file);
    }
    const PictureRun converted = runWithPicture({c.input, "-plus"}, c.file, exchange, "out.kpl");
    const PictureRun counted = runWithPicture({c.input, "-plus", "-stat"}, c.file, exchange, "out.kpl");
    ASSERT_EQ(counted.result.status, 0) << counted.result.out << counted.result.err;
    ASSERT_TRUE(counted.written);
    // The statistics run draws what the conversion draws.
    EXPECT_GE(readSvg(counted.svg).elements.size(), 6u);
    EXPECT_EQ(counted.svg, converted.svg);
    // Its protocol, script and closing counts are those of a statistics run
    // without a picture.
    TempDir plain;
    const std::string base = plain.path();
    fs::create_directories(base + "/tmp");
    const std::string config = plain.write("run.config", "TR_TEMP " + base + "/tmp\nTR_PROT " + base + "\n");
    plain.write(c.file, exchange);
    const ProgramResult alone =
        runProgram(TROVAK_PROGRAM, {c.input, "-plus", "-stat", c.file, "out.kpl", config}, base, "", 120);
    ASSERT_EQ(alone.status, 0);
    const auto comparable = [](const std::string& dir, const std::string& file) {
      std::string text = readWholeFile(dir + "/" + file);
      for (std::size_t at = text.find(dir); at != std::string::npos; at = text.find(dir, at))
        text.replace(at, dir.size(), "<dir>");
      return withoutDigits(text);
    };
    EXPECT_EQ(comparable(counted.dir->path(), std::string(c.file) + ".prot"),
              comparable(base, std::string(c.file) + ".prot"));
    EXPECT_EQ(comparable(counted.dir->path(), "out.kpl"), comparable(base, "out.kpl"));
    EXPECT_EQ(closingCounts(counted.result.out + counted.result.err), closingCounts(alone.out + alone.err));
  }
}

}  // namespace

// DWG files the toolkit and -dwgout write, judged by two readers of other
// programs (the DWG oracle beside the corpus, test-only): its checker says
// OK for each, and the DXF each reader converts it to holds the entities
// of the drawing that was written (kind, layer, colour, linetype and the
// main geometry), read back with the toolkit's own DXF reader.  Every
// element kind of the transfer files, small and large drawings, each of
// the releases from R13 on; before R13 the oracle's reader alone (the
// second reads none of those releases).  The second reader writes a side file at a fixed
// place, so these tests hold one ctest lock.  Skipped without the oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "drawingdb/file_io.h"
#include "drawingdb/model.h"
#include "drawingdb/sample_drawing.h"
#include "transfer/dispatch_samples.h"

namespace {

namespace fs = std::filesystem;
namespace db = drawingdb;

std::string oracle() { return fs::path(TROVAK_CORPUS_DIR).parent_path().string() + "/tools/dwg-oracle"; }
bool haveOracle() { return fs::exists(oracle() + "/dwg-check") && fs::exists(oracle() + "/bin/dxfrw-dwg2dxf"); }

const struct {
  const char* suffix;
  db::Release release;
  const char* version;
} kReleases[] = {{"13", db::Release::R13, "AC1012"},
                 {"14", db::Release::R14, "AC1014"},
                 {"2000", db::Release::R2000, "AC1015"},
                 {"2004", db::Release::R2004, "AC1018"}};

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string number(double v) {
  if (std::fabs(v) < 5e-7) v = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", v);
  return text;
}

std::string pointOf(const db::Point3& p) { return number(p.x) + "," + number(p.y); }

// One line per entity: kind, layer, colour, linetype and its main
// geometry; the entities of a block inserted follow their INSERT once,
// indented.
void list(const db::Database& d, const db::BlockRecord& block, const std::string& indent, std::vector<std::string>& out,
          int depth = 0) {
  for (const db::EntityId id : block.entities) {
    const db::Entity& e = d.entities[id];
    std::string geometry;
    const db::BlockRecord* inserted = nullptr;
    if (const auto* l = db::get_if<db::Line>(&e.data)) geometry = pointOf(l->start) + " " + pointOf(l->end);
    else if (const auto* c = db::get_if<db::Circle>(&e.data)) geometry = pointOf(c->center) + " " + number(c->radius);
    else if (const auto* a = db::get_if<db::Arc>(&e.data))
      geometry = pointOf(a->center) + " " + number(a->radius) + " " + number(a->startAngle) + " " + number(a->endAngle);
    else if (const auto* p = db::get_if<db::PointEntity>(&e.data)) geometry = pointOf(p->location);
    else if (const auto* t = db::get_if<db::Text>(&e.data))
      geometry = pointOf(t->insertion) + " " + number(t->height) + " " + t->value;
    else if (const auto* el = db::get_if<db::Ellipse>(&e.data))
      geometry = pointOf(el->center) + " " + pointOf(el->majorAxis) + " " + number(el->ratio);
    else if (const auto* s = db::get_if<db::Spline>(&e.data)) geometry = std::to_string(s->controlPoints.size());
    else if (const auto* lw = db::get_if<db::LwPolyline>(&e.data)) geometry = std::to_string(lw->vertices.size());
    else if (const auto* pl = db::get_if<db::Polyline>(&e.data)) geometry = std::to_string(pl->vertices.size());
    else if (const auto* h = db::get_if<db::Hatch>(&e.data)) geometry = upper(h->pattern) + " " + std::to_string(h->paths.size());
    else if (const auto* i = db::get_if<db::Insert>(&e.data)) {
      geometry = upper(i->block.str()) + " " + pointOf(i->insertion) + " " + number(i->xScale);
      inserted = const_cast<db::Database&>(d).findBlock(i->block);
    } else if (const auto* dim = db::get_if<db::Dimension>(&e.data)) {
      geometry = std::to_string(dim->flags & 7);
    }
    out.push_back(indent + upper(std::string(e.dxfName()) + "|" + e.common.layer.str() + "|" +
                                 std::to_string(e.common.colour) + "|" + e.common.linetype.str()) +
                  "|" + geometry);
    if (inserted != nullptr && depth < 4) list(d, *inserted, indent + "  ", out, depth + 1);
  }
}

std::vector<std::string> listing(db::Database& d) {
  std::vector<std::string> out;
  list(d, d.modelSpace(), "", out);
  return out;
}

// The rows sorted: the readers list a block's entities in orders of their
// own (the second reader from the last to the first).
std::string joined(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  std::string out;
  for (const std::string& r : rows) out += r + "\n";
  return out;
}

// The oracle's checker on a file: its verdict line.
std::string verdictOf(const std::string& dwg, const std::string& dir) {
  const ProgramResult r = runProgram(oracle() + "/dwg-check", {dwg}, dir, "", 300);
  return r.out + r.err;
}

// The drawing the two readers find, each as a listing (empty when the
// reader failed, with why in `failure`).
struct PeerListings {
  std::vector<std::string> oracle, second;
  std::string failure;
};

PeerListings peersOf(const std::string& dwg, const std::string& dir) {
  PeerListings out;
  const std::string first = dir + "/oracle.dxf", second = dir + "/second.dxf";
  const ProgramResult a = runProgram(oracle() + "/bin/dwg2dxf", {"-y", "-o", first, dwg}, dir, "", 300);
  const ProgramResult b = runProgram(oracle() + "/bin/dxfrw-dwg2dxf", {dwg, "-y", "-v2000", second}, dir, "", 300);
  std::remove("/tmp/extmax.txt");
  if (a.status != 0) out.failure += "dwg2dxf: " + a.err.substr(0, 2000);
  if (b.status != 0) out.failure += "dxfrw-dwg2dxf: " + b.out.substr(0, 1000) + b.err.substr(0, 1000);
  for (const auto& [file, rows] : {std::pair{first, &out.oracle}, std::pair{second, &out.second}}) {
    db::Database read;
    const db::ReadResult r = db::readFile(file, read);
    if (!r.status.ok()) {
      out.failure += file + ": " + r.status.detail;
      continue;
    }
    *rows = listing(read);
  }
  return out;
}

// The second reader converts a DWG to a DXF without some kinds, whoever
// wrote the DWG (the corpus files of other programs lose them alike):
// attribute definitions and attributes, 3D faces, dimensions, traces,
// shapes and viewports.  Its listing is compared with the rest.
std::vector<std::string> withoutKindsTheSecondReaderLeavesOut(std::vector<std::string> rows) {
  static const char* const kLeftOut[] = {"ATTDEF|", "ATTRIB|", "3DFACE|", "DIMENSION|", "TRACE|", "SHAPE|", "VIEWPORT|"};
  std::erase_if(rows, [](const std::string& row) {
    const std::string_view kind = std::string_view(row).substr(row.find_first_not_of(' '));
    return std::any_of(std::begin(kLeftOut), std::end(kLeftOut), [&](const char* k) { return kind.starts_with(k); });
  });
  return rows;
}

// The vertex counts of 2D polylines left out of a listing.
std::vector<std::string> withoutPolylineVertexCounts(std::vector<std::string> rows) {
  for (std::string& row : rows)
    if (row.find("POLYLINE|") != std::string::npos && row.find("LWPOLYLINE|") == std::string::npos)
      row.erase(row.rfind('|') + 1);
  return rows;
}

// The readers find what the toolkit reads back from the file (names as
// the release stores them, R13's lightweight polylines as polylines).  The
// second reader drops vertices of model-space polylines (2D and 3D alike)
// in R13, R14 and 2000 files depending only on the handles they get: the
// same drawing with its handles shifted loses none, some or all, and a
// file the oracle writes itself loses whole polylines.  Block polylines
// and the corpus files read in full.  The vertex counts of polylines are
// therefore left out of its listing; the oracle's reader compares them.
void expectPeersAgree(const std::string& dwg, const std::string& dir) {
  const std::string verdict = verdictOf(dwg, dir);
  EXPECT_NE(verdict.find(": OK "), std::string::npos) << verdict;
  db::Database own;
  ASSERT_TRUE(db::readFile(dwg, own).status.ok());
  const std::vector<std::string> expected = listing(own);
  const PeerListings peers = peersOf(dwg, dir);
  EXPECT_EQ(joined(peers.oracle), joined(expected)) << "the oracle's reader";
  EXPECT_EQ(peers.failure, "");
  std::vector<std::string> second = peers.second, shown = withoutKindsTheSecondReaderLeavesOut(expected);
  second = withoutPolylineVertexCounts(std::move(second));
  shown = withoutPolylineVertexCounts(std::move(shown));
  EXPECT_EQ(joined(second), joined(shown)) << "the second reader";
}

// The sample drawing of the toolkit's tests: every kind it models.
TEST(DwgPeers, EveryModelledKindReadsAlike) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  TempDir dir;
  for (const auto& r : kReleases) {
    SCOPED_TRACE(r.version);
    db::Database d = sample::drawing(r.release);
    db::StringSink sink;
    ASSERT_TRUE(db::save(d, sink, {db::FileFormat::Dwg, r.release, 16}).ok());
    const std::string file = dir.write(std::string("sample") + r.suffix + ".dwg", sink.data);
    expectPeersAgree(file, dir.path());
  }
}

TEST(DwgPeers, LargeDrawingsOfEachReleaseReadAlike) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  TempDir dir;
  for (const auto& r : kReleases) {
    SCOPED_TRACE(r.version);
    db::Database d = db::Database::create(r.release);
    d.addRecord(d.layers, "WALLS").data.colour = 3;
    for (int i = 0; i < 30000; ++i) {
      db::Entity e = db::makeEntity(i % 3 == 0 ? db::EntityKind::Line : i % 3 == 1 ? db::EntityKind::Circle : db::EntityKind::Text);
      e.common.layer = i % 2 == 0 ? "0" : "WALLS";
      e.common.colour = i % 7 == 0 ? 256 : 1 + i % 255;
      if (auto* l = db::get_if<db::Line>(&e.data)) *l = db::Line{{i * 0.5, 1, 0}, {i * 0.5 + 3, -2.25, 0}};
      if (auto* c = db::get_if<db::Circle>(&e.data)) {
        c->center = {i * 1.0, i * 0.25, 0};
        c->radius = 1 + i % 9;
      }
      if (auto* t = db::get_if<db::Text>(&e.data)) {
        t->insertion = {i * 2.0, 7, 0};
        t->height = 2.5;
        t->value = std::string("T").append(std::to_string(i));
      }
      d.addEntity(d.modelSpace(), std::move(e));
    }
    db::StringSink sink;
    ASSERT_TRUE(db::save(d, sink, {db::FileFormat::Dwg, r.release, 16}).ok());
    const std::string file = dir.write(std::string("large") + r.suffix + ".dwg", sink.data);
    expectPeersAgree(file, dir.path());
  }
}

// The direction of angle 0 ($ANGBASE) is held in radians in DWG and in
// degrees in DXF and in the database: the oracle's dump shows the stored
// value, its DXF the degrees.
TEST(DwgPeers, AngleBaseIsStoredInRadians) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  TempDir dir;
  for (const auto& r : kReleases) {
    SCOPED_TRACE(r.version);
    db::Database d = db::Database::create(r.release);
    d.header.set("$ANGBASE", 30.0);
    db::StringSink sink;
    ASSERT_TRUE(db::save(d, sink, {db::FileFormat::Dwg, r.release, 16}).ok());
    const std::string file = dir.write(std::string("angle") + r.suffix + ".dwg", sink.data);
    const std::string json = dir.path() + "/angle.json", dxf = dir.path() + "/angle.dxf";
    ASSERT_EQ(runProgram(oracle() + "/bin/dwgread", {"-O", "json", "-o", json, file}, dir.path(), "", 300).status, 0);
    const std::string dump = readWholeFile(json);
    const std::size_t at = dump.find("\"ANGBASE\": ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(std::strtod(dump.c_str() + at + 11, nullptr), std::acos(-1.0) / 6, 1e-12);
    ASSERT_EQ(runProgram(oracle() + "/bin/dwg2dxf", {"-y", "-o", dxf, file}, dir.path(), "", 300).status, 0);
    db::Database back;
    ASSERT_TRUE(db::readFile(dxf, back).status.ok());
    EXPECT_NEAR(back.header.real("$ANGBASE"), 30.0, 1e-9);
  }
}

// -dwgout: the transfer file of every element kind, in each release and
// without -acad (2000); the same drawing as -dxfout writes of it.
TEST(DwgPeers, DwgOutOfEveryKindReadsAsTheDxfOutOfIt) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  TempDir dir;
  fs::create_directories(dir.path() + "/tmp");
  const std::string config = dir.write("run.config", "TR_TEMP " + dir.path() + "/tmp\nTR_PROT " + dir.path() +
                                                         "\nTR_LANG english\n");
  dir.write("in.trf", samples::everyKind(1).line("30", 0, 1, 2, 3, 20, false, 2).str());
  auto run = [&](const std::vector<std::string>& switches, const std::string& output) {
    std::vector<std::string> args = switches;
    args.insert(args.end(), {output, "in.trf", config});
    const ProgramResult result = runProgram(TROVAK_PROGRAM, args, dir.path(), "", 300);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Audit : ok.\n"), std::string::npos) << result.out;
    return dir.path() + "/" + output;
  };
  std::vector<std::pair<std::string, std::string>> runs;  // -acad switch, version
  for (const auto& r : kReleases) runs.push_back({std::string("-acad") + r.suffix, r.version});
  runs.push_back({"", "AC1015"});
  for (const auto& [acad, version] : runs) {
    SCOPED_TRACE(acad.empty() ? "no -acad" : acad);
    std::vector<std::string> switches = {"-dwgout"};
    if (!acad.empty()) switches.push_back(acad);
    const std::string dwg = run(switches, "out" + acad + ".dwg");
    ASSERT_EQ(readWholeFile(dwg).substr(0, 6), version);
    switches[0] = "-dxfout";
    const std::string dxf = run(switches, "out" + acad + ".dxf");
    db::Database fromDxf, fromDwg;
    ASSERT_TRUE(db::readFile(dxf, fromDxf).status.ok());
    ASSERT_TRUE(db::readFile(dwg, fromDwg).status.ok());
    EXPECT_EQ(listing(fromDwg).size(), listing(fromDxf).size());
    expectPeersAgree(dwg, dir.path());
  }
  EXPECT_TRUE(fs::is_empty(dir.path() + "/tmp"));
}

// The colours of a listing left out (the third field of each row).
std::vector<std::string> withoutColours(std::vector<std::string> rows) {
  for (std::string& row : rows) {
    const std::size_t first = row.find('|'), second = row.find('|', first + 1), third = row.find('|', second + 1);
    if (third != std::string::npos) row.erase(second + 1, third - second - 1);
  }
  return rows;
}

// -dwgout of the releases before R13: the transfer file of every element
// kind with -acad25 to -acad12.  Each file reads back with the entities of
// what -dxfout writes of it; the oracle's checker says OK and its reader
// finds the drawing the toolkit reads, in every release (the second
// reader reads no release before R13).
TEST(DwgPeers, DwgOutBeforeR13ReadsAsTheDxfOutOfIt) {
  if (!haveOracle()) GTEST_SKIP() << "no DWG oracle";
  TempDir dir;
  fs::create_directories(dir.path() + "/tmp");
  const std::string config = dir.write("run.config", "TR_TEMP " + dir.path() + "/tmp\nTR_PROT " + dir.path() +
                                                         "\nTR_LANG english\n");
  dir.write("in.trf", samples::everyKind(1).line("30", 0, 1, 2, 3, 20, false, 2).str());
  auto run = [&](const std::string& direction, const std::string& acad, const std::string& output) {
    const ProgramResult result = runProgram(TROVAK_PROGRAM, {direction, acad, output, "in.trf", config}, dir.path(), "", 300);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    return dir.path() + "/" + output;
  };
  const struct {
    const char* suffix;
    const char* version;
  } runs[] = {{"25", "AC1002"}, {"26", "AC1003"}, {"9", "AC1004"}, {"10", "AC1006"}, {"11", "AC1009"}, {"12", "AC1009"}};
  for (const auto& r : runs) {
    const std::string acad = std::string("-acad") + r.suffix;
    SCOPED_TRACE(acad);
    const std::string dwg = run("-dwgout", acad, "out" + acad + ".dwg");
    ASSERT_EQ(readWholeFile(dwg).substr(0, 6), r.version);
    const std::string dxf = run("-dxfout", acad, "out" + acad + ".dxf");
    db::Database fromDxf, fromDwg;
    ASSERT_TRUE(db::readFile(dxf, fromDxf).status.ok());
    const db::ReadResult read = db::readFile(dwg, fromDwg);
    ASSERT_TRUE(read.status.ok()) << read.status.detail;
    EXPECT_EQ(joined(listing(fromDwg)), joined(listing(fromDxf)));
    const std::string verdict = verdictOf(dwg, dir.path());
    EXPECT_NE(verdict.find(": OK "), std::string::npos) << verdict;
    const std::string converted = dir.path() + "/oracle.dxf";
    const ProgramResult a = runProgram(oracle() + "/bin/dwg2dxf", {"-y", "-o", converted, dwg}, dir.path(), "", 300);
    ASSERT_EQ(a.status, 0) << a.err.substr(0, 2000);
    db::Database fromOracle;
    ASSERT_TRUE(db::readFile(converted, fromOracle).status.ok());
    // Its DXF of these releases gives every entity colour 0 (its dump
    // shows the colours read as stored): colours are left out here.
    EXPECT_EQ(joined(withoutColours(listing(fromOracle))), joined(withoutColours(listing(fromDwg)))) << "the oracle's reader";
  }
  EXPECT_TRUE(fs::is_empty(dir.path() + "/tmp"));
}

}  // namespace

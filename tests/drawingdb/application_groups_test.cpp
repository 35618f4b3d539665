// The 102 groups of other applications ({NAME ... }) on entities, table
// records, block records, BLOCK entities, polyline vertices and objects:
// kept as read and written back in their place, between the handle and the
// owner, from R13 on; the XDATA of vertices, BLOCK entities and block
// records, and what else of a block record the toolkit does not model, with them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "dwg_corpus_files.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_tags.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

// Makes a drawing with ezdxf whose line, layer, model space record and
// dictionary carry groups of applications.
const char* kMakeScript = R"PY(
import sys, ezdxf
doc = ezdxf.new("R2000")
line = doc.modelspace().add_line((0, 0), (1, 1))
line.set_app_data("MYAPP", [(1, "on a line"), (40, 1.5)])
doc.layers.add("WALLS").set_app_data("MYAPP", [(1, "on a layer")])
doc.rootdict.add_new_dict("MYDICT").set_app_data("MYAPP", [(1, "on a dictionary"), (70, 3)])
doc.block_records.get("*Model_Space").set_app_data("OTHER", [(1, "on a block record")])
doc.appids.new("MYAPP")
pl = doc.modelspace().add_polyline2d([(0, 0), (1, 0), (1, 1)])
pl.vertices[1].set_app_data("MYAPP", [(1, "on a vertex")])
pl.vertices[1].set_xdata("MYAPP", [(1000, "vertex xdata"), (1070, 7)])
blk = doc.blocks.new("B1")
blk.add_line((0, 0), (1, 0))
blk.block.set_app_data("MYAPP", [(1, "on a block"), (70, 2)])
blk.block.set_xdata("MYAPP", [(1000, "block xdata")])
blk.block_record.set_xdata("MYAPP", [(1000, "record xdata")])
doc.saveas(sys.argv[1])
)PY";

// Lists them as ezdxf reads them: "where|application|code=value ...".
const char* kListScript = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
print("ERRORS", len(doc.audit().errors))
def show(where, e, app):
    if e.has_app_data(app):
        print(where + "|" + app + "|" + " ".join("%d=%s" % (t.code, t.value) for t in e.get_app_data(app)))
show("line", doc.modelspace()[0], "MYAPP")
show("layer", doc.layers.get("WALLS"), "MYAPP")
show("dictionary", doc.rootdict["MYDICT"], "MYAPP")
show("block record", doc.block_records.get("*Model_Space"), "OTHER")
vertex = doc.modelspace().query("POLYLINE")[0].vertices[1]
show("vertex", vertex, "MYAPP")
block = doc.blocks.get("B1").block
show("block", block, "MYAPP")
record = doc.block_records.get("B1")
for where, e in (("vertex", vertex), ("block", block), ("record", record)):
    if e.has_xdata("MYAPP"):
        print(where + "|xdata|" + " ".join("%d=%s" % (t.code, t.value) for t in e.get_xdata("MYAPP")))
)PY";

std::string run(const char* script, const std::string& file) {
  const std::string base = "/tmp/drawingdb_apps_" + std::to_string(getpid());
  std::ofstream(base + ".py") << script;
  const std::string cmd = "/usr/bin/python3 " + base + ".py " + file + " >" + base + ".out 2>&1";
  const int status = std::system(cmd.c_str());
  std::ifstream in(base + ".out");
  std::stringstream out;
  out << in.rdbuf();
  std::remove((base + ".py").c_str());
  std::remove((base + ".out").c_str());
  EXPECT_EQ(status, 0) << out.str();
  return out.str();
}

// The groups as text: "102={MYAPP 1=on a line 40=1.5 102=}".
std::string shown(const std::vector<RawTag>& tags) {
  std::string s;
  for (const RawTag& t : tags) {
    if (!s.empty()) s += ' ';
    s += std::to_string(t.code);
    s += '=';
    s += t.type == TagType::Real ? formatReal(t.real, 16) : t.type == TagType::String ? t.text : std::to_string(t.integer);
  }
  return s;
}

TEST(ApplicationGroups, SurviveReadingAndWritingAsThePeerSeesThem) {
  if (!sample::haveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const std::string made = "/tmp/drawingdb_apps_made_" + std::to_string(getpid()) + ".dxf";
  run(kMakeScript, made);
  const std::string expected = run(kListScript, made);
  ASSERT_NE(expected.find("line|MYAPP|1=on a line 40=1.5"), std::string::npos) << expected;
  ASSERT_NE(expected.find("block record|OTHER|1=on a block record"), std::string::npos) << expected;
  ASSERT_NE(expected.find("vertex|MYAPP|1=on a vertex"), std::string::npos) << expected;
  ASSERT_NE(expected.find("vertex|xdata|1000=vertex xdata 1070=7"), std::string::npos) << expected;
  ASSERT_NE(expected.find("block|MYAPP|1=on a block 70=2"), std::string::npos) << expected;
  ASSERT_NE(expected.find("block|xdata|1000=block xdata"), std::string::npos) << expected;
  ASSERT_NE(expected.find("record|xdata|1000=record xdata"), std::string::npos) << expected;

  Database db;
  const DxfReadResult r = readDxf(fileContents(made), db);
  std::remove(made.c_str());
  ASSERT_TRUE(r.status.ok()) << r.status.detail;
  // The groups are held where they belong, brackets included.
  const Entity& line = db.entities[db.modelSpace().entities.at(0)];
  EXPECT_EQ(shown(line.common.applications()), "102={MYAPP 1=on a line 40=1.5 102=}");
  EXPECT_TRUE(line.common.extra().empty());
  ASSERT_NE(db.layers.find("WALLS"), nullptr);
  EXPECT_EQ(shown(db.layers.find("WALLS")->common.applications), "102={MYAPP 1=on a layer 102=}");
  EXPECT_EQ(shown(db.modelSpace().applications), "102={OTHER 1=on a block record 102=}");
  const BlockRecord* block = db.findBlock("B1");
  ASSERT_NE(block, nullptr);
  ASSERT_NE(block->blockGroups.get(), nullptr);
  EXPECT_EQ(shown(block->blockGroups.get()->applications()), "102={MYAPP 1=on a block 70=2 102=}");
  EXPECT_TRUE(block->blockGroups.get()->extra().empty()) << shown(block->blockGroups.get()->extra());
  const Entity& polyline = db.entities[db.modelSpace().entities.at(1)];
  const EntityCommon* vertex = drawingdb::get<Polyline>(polyline.data).vertices.at(1).own.get();
  ASSERT_NE(vertex, nullptr);
  EXPECT_EQ(shown(vertex->applications()), "102={MYAPP 1=on a vertex 102=}");
  EXPECT_EQ(shown(vertex->xdata()), "1001=MYAPP 1000=vertex xdata 1070=7");

  for (const Release release : {Release::R13, Release::R2000, Release::R2004}) {
    SCOPED_TRACE(releaseInfo(release).version);
    Database copy = db;
    StringSink sink;
    ASSERT_TRUE(writeDxf(copy, sink, {release, false, 16}).ok());
    // In place: after the handle, before the owner.
    EXPECT_NE(sink.data.find("102\r\n{MYAPP\r\n  1\r\non a line\r\n 40\r\n1.5\r\n102\r\n}\r\n330\r\n"), std::string::npos);
    const std::string out = "/tmp/drawingdb_apps_out_" + std::to_string(getpid()) + ".dxf";
    std::ofstream(out, std::ios::binary) << sink.data;
    const std::string seen = run(kListScript, out);
    std::remove(out.c_str());
    EXPECT_EQ(seen, expected);
  }
  // Releases before R13 have no such groups.
  StringSink r12;
  ASSERT_TRUE(writeDxf(db, r12, {Release::R12, false, 16}).ok());
  EXPECT_EQ(r12.data.find("{MYAPP"), std::string::npos);
  EXPECT_NE(r12.data.find("vertex xdata"), std::string::npos);
  EXPECT_NE(r12.data.find("block xdata"), std::string::npos);
}

}  // namespace

// Damaged files: cut short or with bytes changed, a DXF file either reads
// with a status or reads into a database that writes and reads again.
// Never a crash, a hang or a read beyond the input (the sanitizers of the
// test build watch the last).
#include <gtest/gtest.h>

#include "drawingdb/dxf_codec.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

void expectSurvives(const std::string& bytes) {
  Database db;
  const DxfReadResult r = readDxf(bytes, db);
  if (!r.status.ok()) {
    EXPECT_FALSE(r.status.detail.empty());
    return;
  }
  StringSink sink;
  ASSERT_TRUE(writeDxf(db, sink, {Release::R2000, false, 17}).ok());
  Database again;
  const DxfReadResult r2 = readDxf(sink.data, again);
  ASSERT_TRUE(r2.status.ok()) << r2.status.detail;
  // Entities of unknown kinds cross the R13 boundary only where they came
  // from; every modelled one arrives.
  auto modelled = [](Database& d) {
    std::size_t n = 0;
    for (EntityId id : d.modelSpace().entities) n += d.entities[id].kind != EntityKind::Unknown ? 1 : 0;
    return n;
  };
  EXPECT_EQ(modelled(again), modelled(db));
}

TEST(DamagedInput, CutShortOrChangedFilesNeverBreakTheReader) {
  struct Form {
    Release release;
    bool binary;
  };
  for (const Form form : {Form{Release::R12, false}, Form{Release::R2000, false}, Form{Release::R2000, true},
                          Form{Release::R9, false}}) {
    SCOPED_TRACE(std::string(releaseInfo(form.release).version) + (form.binary ? " binary" : " ASCII"));
    Database db = sample::drawing(form.release);
    StringSink sink;
    ASSERT_TRUE(writeDxf(db, sink, {form.release, form.binary, 16}).ok());
    const std::string& file = sink.data;
    const std::size_t step = std::max<std::size_t>(1, file.size() / 200);
    for (std::size_t n = 0; n < file.size(); n += step) expectSurvives(file.substr(0, n));
    // Changed bytes, the same every run.
    std::uint32_t seed = 12345;
    for (int round = 0; round < 150; ++round) {
      std::string changed = file;
      for (int k = 0; k < 4; ++k) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t at = (seed >> 8) % changed.size();
        seed = seed * 1103515245u + 12345u;
        changed[at] = static_cast<char>(seed >> 16);
      }
      expectSurvives(changed);
    }
  }
}

// Counts in a file reserve no more than the file could hold.
TEST(DamagedInput, HugeCountsAreBoundedByTheFile) {
  const std::string file =
      "  0\nSECTION\n  2\nENTITIES\n  0\nLWPOLYLINE\n  8\n0\n 90\n2000000000\n 70\n0\n 10\n1\n 20\n2\n"
      "  0\nENDSEC\n  0\nEOF\n";
  Database db;
  const DxfReadResult r = readDxf(file, db);
  ASSERT_TRUE(r.status.ok()) << r.status.detail;
  ASSERT_EQ(db.modelSpace().entities.size(), 1u);
  const auto& lw = get<LwPolyline>(db.entities[db.modelSpace().entities[0]].data);
  ASSERT_EQ(lw.vertices.size(), 1u);
  EXPECT_LT(lw.vertices.capacity(), 1000u);
}

// A file of an unknown or too old version is refused with a clear status.
TEST(DamagedInput, UnreadableVersionsAreRefused) {
  for (const char* version : {"AC2.10", "AC9999", "MC0.0"}) {
    const std::string file = std::string("  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\n") + version +
                             "\n  0\nENDSEC\n  0\nEOF\n";
    Database db;
    const DxfReadResult r = readDxf(file, db);
    EXPECT_EQ(r.status.code, StatusCode::NotSupported) << version;
    EXPECT_NE(r.status.detail.find(version), std::string::npos);
  }
}

}  // namespace

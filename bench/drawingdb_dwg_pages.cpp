// Throughput of the page layout of DWG files of 2004 and later: the LZ
// compressor and decompressor over pages of object data, and a whole
// section laid out in pages and read back.  The data is a DWG file of
// 2000 holding N lines (object data as the objects section holds it).
//
//   bench_drawingdb_dwg_pages [lines]     (default 200000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/dwg_compression.h"
#include "drawingdb/dwg_file.h"
#include "drawingdb/dwg_paged_file.h"
#include "drawingdb/model.h"

using namespace drawingdb;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string objectData(long lines) {
  Database db = Database::create(Release::R2000);
  for (long i = 0; i < lines; ++i) {
    Entity line = makeEntity(EntityKind::Line);
    const double x = static_cast<double>(i % 1000), y = static_cast<double>(i / 1000);
    get<Line>(line.data) = Line{{x, y, 0}, {x + 0.5, y + 0.25 * static_cast<double>(i % 7), 0}};
    db.addEntity(db.modelSpace(), std::move(line));
  }
  StringSink sink;
  if (!writeDwg(db, sink, {}).ok()) std::exit(1);
  return std::move(sink.data);
}

void fail(const char* what, const Status& s) {
  std::fprintf(stderr, "%s: %s\n", what, s.detail.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 200000;
  const std::string data = objectData(lines);
  const double mb = static_cast<double>(data.size()) / 1e6;
  std::printf("%ld lines: %.1f MB of object data\n", lines, mb);

  std::vector<std::string> packed;
  std::size_t packedBytes = 0;
  const auto t0 = Clock::now();
  for (std::size_t at = 0; at < data.size(); at += kDwgMaxPageData) {
    std::string page = data.substr(at, kDwgMaxPageData);
    page.resize(kDwgMaxPageData, '\0');
    packed.emplace_back();
    if (Status s = dwgCompress(page, packed.back()); !s.ok()) fail("compress", s);
    packedBytes += packed.back().size();
  }
  const auto t1 = Clock::now();
  std::string page(kDwgMaxPageData, '\0');
  for (const std::string& p : packed) {
    std::size_t produced = 0;
    if (Status s = dwgDecompress(p, page, produced); !s.ok()) fail("decompress", s);
  }
  const auto t2 = Clock::now();
  std::printf("compress   %8.3f s  %7.1f MB/s  (to %.1f%%)\n", seconds(t0, t1), mb / seconds(t0, t1),
              100.0 * static_cast<double>(packedBytes) / static_cast<double>(data.size()));
  std::printf("decompress %8.3f s  %7.1f MB/s\n", seconds(t1, t2), mb / seconds(t1, t2));

  const std::vector<DwgPagedSectionData> sections = {{"AcDb:AcDbObjects", data, true, 0}};
  std::string file;
  const auto t3 = Clock::now();
  if (Status s = writeDwgPagedFile(DwgPagedHeader{}, sections, file); !s.ok()) fail("lay out", s);
  const auto t4 = Clock::now();
  DwgPagedFile layout;
  std::string back;
  if (Status s = readDwgPagedFile(file, layout); !s.ok()) fail("read layout", s);
  if (Status s = readDwgPagedSection(file, layout, "AcDb:AcDbObjects", back); !s.ok()) fail("read section", s);
  const auto t5 = Clock::now();
  if (back != data) {
    std::fprintf(stderr, "the section read back differs\n");
    return 1;
  }
  std::printf("lay out    %8.3f s  %7.1f MB/s\n", seconds(t3, t4), mb / seconds(t3, t4));
  std::printf("read back  %8.3f s  %7.1f MB/s (checksums, decompression)\n", seconds(t4, t5), mb / seconds(t4, t5));
  return 0;
}

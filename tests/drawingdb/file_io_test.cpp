// The format of a file from its first bytes, reading by name, saving in a
// chosen format.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "drawingdb/dxf_tags.h"
#include "drawingdb/file_io.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

const std::string kR12Header = "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1009\n  0\nENDSEC\n  0\nEOF\n";

TEST(FileFormat, FoundFromTheFirstBytes) {
  struct Case {
    std::string name, bytes;
    FileFormat format;
    std::optional<Release> release;
    DwgFamily family;
    StatusCode readable;
  };
  const std::string binary = std::string(kBinaryDxfSentinel) + std::string("\0\0SECTION\0", 10);
  const Case cases[] = {
      {"ASCII R12", kR12Header, FileFormat::DxfAscii, Release::R12, DwgFamily::None, StatusCode::Ok},
      {"byte order mark", "\xEF\xBB\xBF" + kR12Header, FileFormat::DxfAscii, Release::R12, DwgFamily::None, StatusCode::Ok},
      {"comment first", "999\nmade by hand\n" + kR12Header, FileFormat::DxfAscii, Release::R12, DwgFamily::None,
       StatusCode::Ok},
      {"no header", "  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n", FileFormat::DxfAscii, std::nullopt, DwgFamily::None,
       StatusCode::Ok},
      {"old DXF", "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC2.10\n", FileFormat::DxfAscii, Release::R2_10,
       DwgFamily::None, StatusCode::NotSupported},
      {"unknown DXF version", "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC7777\n", FileFormat::DxfAscii,
       std::nullopt, DwgFamily::None, StatusCode::NotSupported},
      {"binary DXF", binary, FileFormat::DxfBinary, std::nullopt, DwgFamily::None, StatusCode::Ok},
      {"DWG R12", std::string("AC1009\0\0\0\0\0", 11), FileFormat::Dwg, Release::R12, DwgFamily::BeforeR13,
       StatusCode::Ok},
      {"DWG R2.6", "AC1003xxxx", FileFormat::Dwg, Release::R2_6, DwgFamily::BeforeR13, StatusCode::Ok},
      {"DWG R2.22", "AC1001xxxx", FileFormat::Dwg, Release::R2_22, DwgFamily::BeforeR13, StatusCode::NotSupported},
      {"DWG R13 interim", "AC1011xxxx", FileFormat::Dwg, Release::R13, DwgFamily::R13To2000, StatusCode::Ok},
      {"DWG 2000", "AC1015\0\0\0", FileFormat::Dwg, Release::R2000, DwgFamily::R13To2000, StatusCode::Ok},
      {"DWG 2004", "AC1018", FileFormat::Dwg, Release::R2004, DwgFamily::R2004, StatusCode::Ok},
      {"DWG 2007", "AC1021", FileFormat::Dwg, Release::R2007, DwgFamily::R2007, StatusCode::Ok},
      {"DWG 2018", "AC1032", FileFormat::Dwg, Release::R2018, DwgFamily::R2010On, StatusCode::Ok},
      {"empty", "", FileFormat::Unknown, std::nullopt, DwgFamily::None, StatusCode::BadFile},
      {"text", "hello\nworld\n", FileFormat::Unknown, std::nullopt, DwgFamily::None, StatusCode::BadFile},
      {"binary garbage", std::string("\x00\x01\x02", 3), FileFormat::Unknown, std::nullopt, DwgFamily::None,
       StatusCode::BadFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FormatInfo info = detectFormat(c.bytes);
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(info.release, c.release);
    EXPECT_EQ(info.family, c.family);
    EXPECT_EQ(info.readable.code, c.readable);
    if (!info.readable.ok()) {
      EXPECT_FALSE(info.readable.detail.empty());
    }
  }
}

TEST(FileFormat, ReadByNameAndSaved) {
  Database db = sample::drawing(Release::R2000);
  for (FileFormat format : {FileFormat::DxfAscii, FileFormat::DxfBinary, FileFormat::Dwg}) {
    StringSink sink;
    ASSERT_TRUE(save(db, sink, {format, Release::R14, 16}).ok());
    const std::string path = "/tmp/drawingdb_io_" + std::to_string(getpid()) + (format == FileFormat::Dwg ? ".dwg" : ".dxf");
    std::ofstream(path, std::ios::binary) << sink.data;
    Database back;
    const ReadResult r = readFile(path, back);
    std::remove(path.c_str());
    ASSERT_TRUE(r.status.ok()) << r.status.detail;
    EXPECT_EQ(r.format.format, format);
    EXPECT_EQ(r.format.release, Release::R14);
    EXPECT_EQ(back.release, Release::R14);
    EXPECT_EQ(back.modelSpace().entities.size(), db.modelSpace().entities.size());
  }
  // A byte order mark before the first group is passed over.
  Database withMark;
  const ReadResult marked = readBytes("\xEF\xBB\xBF" + kR12Header, withMark);
  ASSERT_TRUE(marked.status.ok()) << marked.status.detail;
  EXPECT_EQ(withMark.release, Release::R12);
  Database none;
  EXPECT_EQ(readFile("/nonexistent/file.dxf", none).status.code, StatusCode::NotFound);
  // DWG files of 2007 on are read but not written; DWGs of R12, 2000 and
  // 2004 are read as such (here: too short to be one).
  StringSink sink;
  const Status dwg = save(db, sink, {FileFormat::Dwg, Release::R2010, 16});
  EXPECT_EQ(dwg.code, StatusCode::NotSupported);
  EXPECT_TRUE(sink.data.empty());
  for (const char* version : {"AC1009", "AC1015", "AC1018"}) {
    const ReadResult fromDwg = readBytes(std::string(version) + std::string(4, '\0'), none);
    EXPECT_NE(fromDwg.status.code, StatusCode::Ok) << version;
    EXPECT_NE(fromDwg.status.code, StatusCode::NotSupported) << version;
  }
  EXPECT_EQ(readBytes(std::string("AC1015\0\0\0\0", 10), none).format.family, DwgFamily::R13To2000);
}

}  // namespace

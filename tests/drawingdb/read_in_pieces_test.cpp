// Reading a file in pieces: whatever sizes the pieces come in, the database
// is the one reading the whole file gives; a file that fails or shrinks
// while it is read ends the reading with a status saying so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "drawingdb/dxf_codec.h"
#include "drawingdb/file_io.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

// Gives the bytes of a string in pieces of the sizes of `pieces`, in turn;
// fails with `failure` after `failAfter` bytes when that is set.
class PieceSource final : public ByteSource {
 public:
  PieceSource(std::string_view bytes, std::vector<std::size_t> pieces, std::size_t failAfter = SIZE_MAX)
      : bytes_(bytes), pieces_(std::move(pieces)), failAfter_(failAfter) {}
  std::size_t read(char* out, std::size_t n) override {
    if (!status_.ok()) return 0;
    if (at_ >= failAfter_) {
      status_ = Status::fail(StatusCode::BadFile, "the disk went away");
      return 0;
    }
    const std::size_t piece = pieces_[turn_++ % pieces_.size()];
    const std::size_t k = std::min({n, piece, bytes_.size() - at_, failAfter_ - at_});
    std::copy_n(bytes_.data() + at_, k, out);
    at_ += k;
    return k;
  }
  Status status() const override { return status_; }
  std::size_t size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  std::vector<std::size_t> pieces_;
  std::size_t failAfter_;
  std::size_t at_ = 0, turn_ = 0;
  Status status_;
};

std::string written(Database& db, Release release, bool binary) {
  StringSink sink;
  EXPECT_TRUE(writeDxf(db, sink, {release, binary, 16}).ok());
  return sink.data;
}

// The sample drawing with a text longer than the reader's buffer.
Database drawingWithLongText() {
  Database db = sample::drawing(Release::R2000);
  Entity text = sample::entity(EntityKind::Text);
  get<Text>(text.data).value = std::string(TagReader::kChunk + TagReader::kChunk / 2, 'x');
  db.addEntity(db.modelSpace(), std::move(text));
  return db;
}

TEST(ReadInPieces, GivesWhatReadingTheWholeFileGives) {
  struct Case {
    const char* name;
    Release release;
    bool binary;
    bool longText;
  };
  const Case cases[] = {
      {"R12 ASCII", Release::R12, false, false},    {"R12 binary (one-byte codes)", Release::R12, true, false},
      {"2000 ASCII", Release::R2000, false, false}, {"2000 binary", Release::R2000, true, false},
      {"2000 ASCII, text longer than the buffer", Release::R2000, false, true},
      {"2000 binary, text longer than the buffer", Release::R2000, true, true},
  };
  const std::vector<std::vector<std::size_t>> pieceSizes = {{1}, {7, 1, 3, 64, 2}, {TagReader::kChunk}};
  for (const Case& c : cases) {
    Database source = c.longText ? drawingWithLongText() : sample::drawing(c.release);
    const std::string file = written(source, c.release, c.binary);
    Database whole;
    const DxfReadResult expected = readDxf(file, whole);
    ASSERT_TRUE(expected.status.ok()) << c.name << ": " << expected.status.detail;
    const std::string expectedBytes = written(whole, c.release, c.binary);
    for (const auto& pieces : pieceSizes) {
      if (c.longText && pieces.front() == 1) continue;  // a byte a call: slow, and {7, 1, ...} covers it
      SCOPED_TRACE(std::string(c.name) + ", pieces from " + std::to_string(pieces.front()));
      PieceSource bytes(file, pieces);
      Database db;
      const DxfReadResult r = readDxf(bytes, db);
      ASSERT_TRUE(r.status.ok()) << r.status.detail;
      EXPECT_EQ(r.findings.size(), expected.findings.size());
      EXPECT_TRUE(written(db, c.release, c.binary) == expectedBytes);
    }
  }
}

// The hand-written seed files of the fuzz targets (odd line ends, padding,
// self-references, texts, dimensions, viewports ...) through reader
// buffers of 1 and 7 bytes and the usual one, fed in short pieces.
TEST(ReadInPieces, EverySeedFileReadsAlikeWhateverTheBuffer) {
  namespace fs = std::filesystem;
  std::vector<fs::path> seeds;
  for (const char* dir : {"fuzz/dxf_seeds", "fuzz/drawingdb_seeds"})
    for (const auto& f : fs::directory_iterator(fs::path(TROVAK_SOURCE_DIR) / dir)) seeds.push_back(f.path());
  ASSERT_GE(seeds.size(), 9u);
  for (const fs::path& seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Database whole;
    const DxfReadResult expected = readDxf(file, whole);
    const std::string expectedBytes = expected.status.ok() ? written(whole, Release::R2000, false) : std::string();
    for (const std::size_t buffer : {std::size_t{1}, std::size_t{7}, TagReader::kChunk}) {
      SCOPED_TRACE(seed.filename().string() + ", buffer of " + std::to_string(buffer));
      PieceSource bytes(file, {3, 1, 16, 5});
      Database db;
      const DxfReadResult r = readDxf(bytes, db, buffer);
      EXPECT_EQ(r.status.code, expected.status.code);
      EXPECT_EQ(r.status.detail, expected.status.detail);
      EXPECT_EQ(r.findings.size(), expected.findings.size());
      if (r.status.ok()) {
        EXPECT_TRUE(written(db, Release::R2000, false) == expectedBytes);
      }
    }
  }
}

TEST(ReadInPieces, ASourceThatFailsEndsTheReadingWithItsStatus) {
  Database source = sample::drawing(Release::R2000);
  for (const bool binary : {false, true}) {
    const std::string file = written(source, Release::R2000, binary);
    for (const std::size_t at : {std::size_t{0}, std::size_t{30}, file.size() / 2, file.size() - 1}) {
      SCOPED_TRACE(std::string(binary ? "binary" : "ASCII") + ", failing at byte " + std::to_string(at));
      PieceSource bytes(file, {4096}, at);
      Database db;
      const DxfReadResult r = readDxf(bytes, db);
      EXPECT_EQ(r.status.code, StatusCode::BadFile);
      EXPECT_EQ(r.status.detail, "the disk went away");
    }
  }
}

// Reads the file through a FileSource and cuts the file short after the
// first piece has been read.
class ShrinkingFile final : public ByteSource {
 public:
  ShrinkingFile(const std::string& path, off_t cutTo) : file_(path), path_(path), cutTo_(cutTo) {}
  std::size_t read(char* out, std::size_t n) override {
    const std::size_t got = file_.read(out, n);
    if (!cut_) {
      EXPECT_EQ(truncate(path_.c_str(), cutTo_), 0);
      cut_ = true;
    }
    return got;
  }
  Status status() const override { return file_.status(); }
  std::size_t size() const override { return file_.size(); }
  FileSource file_;

 private:
  std::string path_;
  off_t cutTo_;
  bool cut_ = false;
};

TEST(ReadInPieces, AFileThatShrinksWhileItIsReadGivesAStatus) {
  const std::string path = "/tmp/drawingdb_shrinking_" + std::to_string(getpid()) + ".dxf";
  Database source = drawingWithLongText();
  for (const bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ASCII");
    const std::string file = written(source, Release::R2000, binary);
    ASSERT_GT(file.size(), TagReader::kChunk);  // read in more than one piece
    std::ofstream(path, std::ios::binary) << file;
    ShrinkingFile shrinking(path, 1000);
    ASSERT_TRUE(shrinking.status().ok());
    Database db;
    const ReadResult r = readSource(shrinking, file.substr(0, 4096), db);
    EXPECT_EQ(r.status.code, StatusCode::BadFile);
    EXPECT_NE(r.status.detail.find("became shorter while it was read"), std::string::npos) << r.status.detail;
  }
  std::remove(path.c_str());
}

}  // namespace

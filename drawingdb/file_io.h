// Files as a whole: the format of a file found from its first bytes,
// reading a file by name, and writing a database in a chosen format and
// release to a byte sink the caller gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/byte_sink.h"
#include "drawingdb/byte_source.h"
#include "drawingdb/model.h"
#include "drawingdb/releases.h"
#include "drawingdb/status.h"

namespace drawingdb {

enum class FileFormat : std::uint8_t { Unknown, DxfAscii, DxfBinary, Dwg };

// The DWG file layouts, one per family of releases.
enum class DwgFamily : std::uint8_t {
  None,        // not a DWG file
  BeforeR13,   // up to AC1009: fixed header, tables at offsets
  R13To2000,   // AC1012 - AC1015: sections and object map
  R2004,       // AC1018: pages, compression
  R2007,       // AC1021: Reed-Solomon pages
  R2010On,     // AC1024 - AC1032
};

struct FormatInfo {
  FileFormat format = FileFormat::Unknown;
  std::optional<Release> release;  // when the first bytes tell it
  DwgFamily family = DwgFamily::None;
  Status readable;                 // Ok, or why the toolkit cannot read the file (yet)
};

// Looks at the first bytes of a file (a few kilobytes are enough for the
// release of a DXF file, whose $ACADVER opens the header).
FormatInfo detectFormat(std::string_view firstBytes);

struct ReadResult {
  Status status;
  std::vector<Finding> findings;
  FormatInfo format;
};

// Reads a file held in memory into an empty database, as its format says.
ReadResult readBytes(std::string_view file, Database& db);
// Reads the file of that name; a regular file in pieces (FileSource), so
// that it is never held whole.
ReadResult readFile(const std::string& path, Database& db);
// Reads a file from a source of its bytes; `head` holds its first bytes
// (FileSource::peek), which tell its format.
ReadResult readSource(ByteSource& source, std::string_view head, Database& db);

// The bytes of a file by name, read in order.  A file that ends before
// the size it had when it was opened (it shrank while it was read) or that
// cannot be read gives a status that says so.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::string& path);  // status() tells whether it opened
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::size_t read(char* out, std::size_t n) override;
  Status status() const override { return status_; }
  std::size_t size() const override { return size_; }
  // A regular file (not a pipe): its size is known and peek() works.
  bool regular() const { return regular_; }
  // Up to `n` bytes from the start of a regular file, without reading
  // them away.
  std::string peek(std::size_t n);

 private:
  Status failed(std::string what);

  int fd_ = -1;
  std::string path_;
  std::size_t size_ = 0;
  std::size_t offset_ = 0;
  bool regular_ = false;
  Status status_;
};

struct SaveOptions {
  FileFormat format = FileFormat::DxfAscii;
  Release release = Release::R2000;
  int precision = 16;  // significant digits of reals in ASCII DXF
  // Where to report what the release's forms could not carry in full
  // (see DxfWriteOptions); nothing is reported when null.
  std::vector<Finding>* findings = nullptr;
};

// Writes the database in the format and release asked for.
Status save(Database& db, ByteSink& sink, const SaveOptions& options);

}  // namespace drawingdb

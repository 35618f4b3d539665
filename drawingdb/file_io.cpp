#include "drawingdb/file_io.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "drawingdb/dwg_file.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_tags.h"

namespace drawingdb {
namespace {

DwgFamily familyOf(Release r) {
  if (r <= Release::R12) return DwgFamily::BeforeR13;
  if (r <= Release::R2000) return DwgFamily::R13To2000;
  if (r == Release::R2004) return DwgFamily::R2004;
  if (r == Release::R2007) return DwgFamily::R2007;
  return DwgFamily::R2010On;
}

// An ASCII DXF file opens with "0" / "SECTION" (perhaps after comments,
// blank lines or a UTF-8 byte order mark).
bool looksLikeAsciiDxf(std::string_view bytes) {
  TagReader tags(bytes);
  Tag t;
  return tags.next(t) && t.code == 0 && t.text.substr(0, 7) == "SECTION";
}

// The $ACADVER of a DXF file, read from its header.
std::optional<Release> dxfRelease(std::string_view bytes, std::string& version) {
  TagReader tags(bytes);
  Tag t;
  bool inHeader = false;
  while (tags.next(t)) {
    if (t.code == 2 && t.text == "HEADER") inHeader = true;
    else if (t.code == 0 && t.text == "ENDSEC" && inHeader) break;
    else if (t.code == 9 && t.text == "$ACADVER" && tags.next(t)) {
      version = std::string(t.text);
      return releaseFromVersion(t.text);
    }
  }
  return std::nullopt;
}

}  // namespace

FormatInfo detectFormat(std::string_view bytes) {
  FormatInfo info;
  const bool binary = bytes.substr(0, kBinaryDxfSentinel.size()) == kBinaryDxfSentinel;
  if (binary || looksLikeAsciiDxf(bytes)) {
    info.format = binary ? FileFormat::DxfBinary : FileFormat::DxfAscii;
    std::string version;
    info.release = dxfRelease(bytes, version);
    if (!info.release && !version.empty())
      info.readable = Status::fail(StatusCode::NotSupported, "DXF files of version " + version + " cannot be read");
    else if (info.release && !can(*info.release, kReadDxf))
      info.readable = Status::fail(StatusCode::NotSupported,
                                   "DXF files of version " + std::string(releaseInfo(*info.release).version) + " cannot be read");
    return info;
  }
  // DWG files open with their version string.
  for (const ReleaseInfo& r : releases()) {
    if (bytes.substr(0, r.version.size()) != r.version) continue;
    info.format = FileFormat::Dwg;
    info.release = r.release;
    info.family = familyOf(r.release);
    if (!can(r.release, kReadDwg))
      info.readable = Status::fail(StatusCode::NotSupported,
                                   "DWG files of version " + std::string(r.version) + " cannot be read yet");
    return info;
  }
  if (bytes.substr(0, 6) == "AC1011") {
    info.format = FileFormat::Dwg;
    info.release = Release::R13;
    info.family = DwgFamily::R13To2000;
    return info;
  }
  info.readable = Status::fail(StatusCode::BadFile, "neither a DXF nor a DWG file");
  return info;
}

namespace {

ReadResult readHeld(std::string_view file, Database& db, const DxfReadOptions& options) {
  ReadResult result;
  result.format = detectFormat(file);
  if (!result.format.readable.ok()) {
    result.status = result.format.readable;
    return result;
  }
  if (result.format.format == FileFormat::Dwg) {
    DwgReadResult dwg = readDwg(file, db);
    result.status = std::move(dwg.status);
    result.findings = std::move(dwg.findings);
    return result;
  }
  DxfReadResult dxf = readDxf(file, db, options);
  result.status = std::move(dxf.status);
  result.findings = std::move(dxf.findings);
  return result;
}

// A file mapped for reading, unmapped when done.
class MappedFile {
 public:
  MappedFile(int fd, std::size_t size) : size_(size) {
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const char*>(p);
    madvise(p, size, MADV_SEQUENTIAL);
  }
  ~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<char*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  bool ok() const { return data_ != nullptr; }
  std::string_view bytes() const { return {data_, size_}; }

 private:
  const char* data_ = nullptr;
  std::size_t size_;
};

}  // namespace

ReadResult readBytes(std::string_view file, Database& db) { return readHeld(file, db, {}); }

ReadResult readFile(const std::string& path, Database& db) {
  ReadResult result;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    result.status = Status::fail(StatusCode::NotFound, "cannot open " + path);
    return result;
  }
  // A regular file is read through a mapping that holds only the part
  // being read; anything else (a pipe) is read whole.
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    const MappedFile mapped(fd, static_cast<std::size_t>(info.st_size));
    if (mapped.ok()) {
      close(fd);
      return readHeld(mapped.bytes(), db, {.mappedFile = true});
    }
  }
  std::string bytes;
  char buffer[1 << 16];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  if (n < 0) {
    result.status = Status::fail(StatusCode::BadFile, "cannot read " + path);
    return result;
  }
  return readHeld(bytes, db, {});
}

Status save(Database& db, ByteSink& sink, const SaveOptions& options) {
  switch (options.format) {
    case FileFormat::DxfAscii:
    case FileFormat::DxfBinary:
      return writeDxf(db, sink, {options.release, options.format == FileFormat::DxfBinary, options.precision, options.findings});
    case FileFormat::Dwg:
      if (!can(options.release, kWriteDwg))
        return Status::fail(StatusCode::NotSupported,
                            "DWG files of version " + std::string(releaseInfo(options.release).version) + " cannot be written");
      return writeDwg(db, sink, {options.release, options.findings});
    case FileFormat::Unknown:
      break;
  }
  return Status::fail(StatusCode::NotSupported, "no format chosen");
}

}  // namespace drawingdb

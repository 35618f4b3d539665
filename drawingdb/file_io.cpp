#include "drawingdb/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "drawingdb/dwg_file.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_tags.h"

namespace drawingdb {
namespace {

// The bytes of a file that detectFormat is given when the file is read in
// pieces: the header of a DXF file states $ACADVER within its first lines.
constexpr std::size_t kFormatBytes = 64u << 10;

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

FileSource::FileSource(const std::string& path) : path_(path) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    status_ = Status::fail(StatusCode::NotFound, "cannot open " + path);
    return;
  }
  struct stat info {};
  if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
    regular_ = true;
    size_ = static_cast<std::size_t>(info.st_size);
  }
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

Status FileSource::failed(std::string what) {
  if (status_.ok()) status_ = Status::fail(StatusCode::BadFile, std::move(what));
  return status_;
}

std::size_t FileSource::read(char* out, std::size_t n) {
  if (!status_.ok() || n == 0) return 0;
  for (;;) {
    const ssize_t got = regular_ ? pread(fd_, out, n, static_cast<off_t>(offset_)) : ::read(fd_, out, n);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failed("cannot read " + path_ + " at byte " + std::to_string(offset_) + ": " + std::strerror(errno));
      return 0;
    }
    if (got == 0 && regular_ && offset_ < size_) {
      failed(path_ + " became shorter while it was read: it ends at byte " + std::to_string(offset_) + " of " +
             std::to_string(size_));
      return 0;
    }
    offset_ += static_cast<std::size_t>(got);
    if (!regular_) size_ = offset_;
    return static_cast<std::size_t>(got);
  }
}

std::string FileSource::peek(std::size_t n) {
  std::string head(regular_ ? std::min(n, size_) : 0, '\0');
  std::size_t filled = 0;
  while (filled < head.size()) {
    const ssize_t got = pread(fd_, head.data() + filled, head.size() - filled, static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // read() finds what went wrong
    filled += static_cast<std::size_t>(got);
  }
  head.resize(filled);
  return head;
}

ReadResult readBytes(std::string_view file, Database& db) {
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
  DxfReadResult dxf = readDxf(file, db);
  result.status = std::move(dxf.status);
  result.findings = std::move(dxf.findings);
  return result;
}

ReadResult readSource(ByteSource& source, std::string_view head, Database& db) {
  ReadResult result;
  result.format = detectFormat(head);
  if (!result.format.readable.ok()) {
    result.status = result.format.readable;
    return result;
  }
  if (result.format.format == FileFormat::Dwg) {
    // A DWG file is read by the addresses of its sections and objects: it
    // is held whole (the file's own size bounds it).
    std::string bytes;
    char buffer[1 << 16];
    while (const std::size_t n = source.read(buffer, sizeof buffer)) bytes.append(buffer, n);
    if (!source.status().ok()) {
      result.status = source.status();
      return result;
    }
    return readBytes(bytes, db);
  }
  DxfReadResult dxf = readDxf(source, db);
  result.status = std::move(dxf.status);
  result.findings = std::move(dxf.findings);
  return result;
}

ReadResult readFile(const std::string& path, Database& db) {
  FileSource source(path);
  if (!source.status().ok()) {
    ReadResult result;
    result.status = source.status();
    return result;
  }
  // The first bytes tell the format (a DXF file's $ACADVER stands near
  // its start); a pipe, which cannot be read twice, is read whole.
  if (source.regular()) {
    const std::string head = source.peek(kFormatBytes);
    return readSource(source, head, db);
  }
  std::string bytes;
  char buffer[1 << 16];
  while (const std::size_t n = source.read(buffer, sizeof buffer)) bytes.append(buffer, n);
  if (!source.status().ok()) {
    ReadResult result;
    result.status = source.status();
    return result;
  }
  return readBytes(bytes, db);
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

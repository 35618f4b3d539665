#include "iges_out/section_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/messages.h"
#include "driver/trace.h"

namespace {

// The registry is a fixed table of path buffers so that a trap handler can
// walk it without allocating.  Ten section files are the most a run has
// open (five of the IGES writer, five of the DXF writer), plus the
// temporary output of a join.
constexpr int kMaxSectionFiles = 16;
constexpr std::size_t kMaxPath = 4096;

struct SectionFileTable {
  char paths[kMaxSectionFiles][kMaxPath] = {};
};

SectionFileTable& sectionFileTable() {
  static SectionFileTable table;
  return table;
}

bool registerPath(const std::string& path) {
  if (path.empty() || path.size() >= kMaxPath) return false;
  for (auto& entry : sectionFileTable().paths) {
    if (entry[0] == '\0') {
      std::memcpy(entry, path.c_str(), path.size() + 1);
      return true;
    }
  }
  return false;
}

void forgetPath(const std::string& path) {
  for (auto& entry : sectionFileTable().paths) {
    if (entry[0] != '\0' && path == entry) entry[0] = '\0';
  }
}

// Creates a file exclusively and registers it; -1 when either fails.
int createExclusive(const std::string& path) {
  if (!registerPath(path)) return -1;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    // Not ours: an existing file under that name is left alone.
    forgetPath(path);
    return -1;
  }
  return fd;
}

// Copies one section file onto the output stream; 1 when it was missing,
// -1 when reading or writing failed.
int appendFile(const std::string& path, std::FILE* out) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return 1;
  char buffer[128];
  int result = 0;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, in);
    if (n > 0 && std::fwrite(buffer, 1, n, out) != n) {
      result = -1;
      break;
    }
    if (n < sizeof buffer - 1) {
      if (std::ferror(in)) result = -1;
      break;
    }
  }
  std::fclose(in);
  return result;
}

}  // namespace

std::FILE* createSectionFile(const std::string& path) {
  TraceScope t("scl100");
  const int fd = createExclusive(path);
  if (fd < 0) return nullptr;
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    close(fd);
    removeSectionFile(path);
  }
  return f;
}

void removeSectionFile(const std::string& path) {
  if (path.empty()) return;
  for (auto& entry : sectionFileTable().paths) {
    if (entry[0] != '\0' && path == entry) {
      unlink(entry);
      entry[0] = '\0';
    }
  }
}

void removeAllSectionFiles() {
  for (auto& entry : sectionFileTable().paths) {
    if (entry[0] != '\0') {
      unlink(entry);
      entry[0] = '\0';
    }
  }
}

int openSectionFileSet(const std::string* names, int count, std::FILE** files, std::string* paths,
                       const char* code) {
  for (int i = 0; i < count; ++i) {
    paths[i] = names[i];
    files[i] = createSectionFile(names[i]);
    if (files[i] == nullptr) {
      mfaError(code, 140, Channel::kConsole);
      discardSectionFileSet(files, paths, i);
      return -1;
    }
  }
  return 0;
}

bool closeSectionFileSet(std::FILE** files, int count) {
  bool closed = true;
  for (int i = 0; i < count; ++i) {
    if (files[i] != nullptr && std::fclose(files[i]) != 0) closed = false;
    files[i] = nullptr;
  }
  return closed;
}

void discardSectionFileSet(std::FILE** files, const std::string* paths, int count) {
  closeSectionFileSet(files, count);
  for (int i = 0; i < count; ++i) removeSectionFile(paths[i]);
}

JoinResult joinFiles(const std::string* sectionFiles, int count, const std::string& outputName,
                     const char* code) {
  TraceScope t("scl200");
  JoinResult result;
  auto cannotWrite = [&](const std::string& partial) {
    if (!partial.empty()) removeSectionFile(partial);
    for (int i = 0; i < count; ++i) removeSectionFile(sectionFiles[i]);
    mfaReport(code, 980, Channel::kBoth, Severity::kError, {}, {}, outputName, nullptr);
    result.status = -4;
    return result;
  };
  // The temporary output lies beside the output file, so the rename at the
  // end stays within one file system.
  const std::string partial = outputName + ".part" + std::to_string(getpid());
  const int fd = outputName.empty() ? -1 : createExclusive(partial);
  if (fd < 0) return cannotWrite("");
  std::FILE* out = fdopen(fd, "wb");
  if (out == nullptr) {
    close(fd);
    return cannotWrite(partial);
  }
  bool failed = false;
  for (int i = 0; i < count && !failed; ++i) {
    const int r = appendFile(sectionFiles[i], out);
    if (r == 1) ++result.missing;
    if (r < 0) failed = true;
    if (r == 0) {
      forgetPath(sectionFiles[i]);
      unlink(sectionFiles[i].c_str());
    }
  }
  if (std::fflush(out) != 0 || fsync(fileno(out)) != 0) failed = true;
  if (std::fclose(out) != 0) failed = true;
  if (failed) return cannotWrite(partial);
  if (std::rename(partial.c_str(), outputName.c_str()) != 0) return cannotWrite(partial);
  forgetPath(partial);
  return result;
}

#include "support/output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "support/trace.h"

namespace {

// ---------------------------------------------------------------------------
// The table of the run's files.  Entries are fixed buffers so that a signal
// handler can walk it without allocating; an entry's state is set last when
// it is filled and cleared first when it is freed.

constexpr int kMaxRunFiles = 32;
constexpr std::size_t kMaxPath = 4096;

enum EntryState : int { kFree = 0, kRemove = 1, kRenameWhenStopped = 2 };

struct RunFileEntry {
  volatile sig_atomic_t state = kFree;
  char path[kMaxPath] = {};
  char finalPath[kMaxPath] = {};
  int fd = -1;      // kRenameWhenStopped: the open file and the mode it
  mode_t mode = 0;  // is given before the rename
};

struct RunFileTable {
  RunFileEntry entries[kMaxRunFiles];
};

RunFileTable& runFileTable() {
  static RunFileTable table;
  return table;
}

// Takes a free entry for `pattern` (copied in, so that mkostemp can fill in
// its unpredictable part there); -1 when the table is full or the name too
// long.
int takeEntry(const std::string& pattern) {
  if (pattern.empty() || pattern.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxRunFiles; ++i) {
    RunFileEntry& e = runFileTable().entries[i];
    if (e.state != kFree || e.path[0] != '\0') continue;
    std::memcpy(e.path, pattern.c_str(), pattern.size() + 1);
    e.finalPath[0] = '\0';
    return i;
  }
  return -1;
}

void activateEntry(int slot) {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  runFileTable().entries[slot].state = kRemove;
}

void releaseEntry(int slot) {
  if (slot < 0) return;
  RunFileEntry& e = runFileTable().entries[slot];
  e.state = kFree;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  e.path[0] = '\0';
  e.finalPath[0] = '\0';
  e.fd = -1;
}

// The folder part of a name ("." for a name without one) and the rest.
std::string folderOf(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return name.substr(0, slash);
}

std::string baseOf(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The longest file name the temporary name may grow to before it is
// replaced by a short one in the same folder.
constexpr std::size_t kMaxBaseForSuffix = 200;

// A file made under a registered name pattern ending in "XXXXXX" plus
// `suffixLength` characters; the descriptor, or -1 with errno set.
int makeRegistered(const std::string& pattern, int suffixLength, int& slot) {
  slot = takeEntry(pattern);
  if (slot < 0) {
    errno = pattern.size() >= kMaxPath ? ENAMETOOLONG : EMFILE;
    return -1;
  }
  // mkostemps creates the file with O_CREAT|O_EXCL and mode 0600: never
  // through an existing file or link, never readable by others.  A stop
  // signal waits until the file is in the table, so that the handler that
  // removes the run's files cannot miss one made just before it ran.
  sigset_t stops;
  sigset_t previous;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  const int fd = mkostemps(runFileTable().entries[slot].path, suffixLength, O_CLOEXEC);
  const int error = errno;
  if (fd >= 0) activateEntry(slot);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) {
    releaseEntry(slot);
    slot = -1;
    errno = error;
    return -1;
  }
  return fd;
}

// Writes all bytes; the error number of the failure, or 0.
int writeFully(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// The stdio view of an output: every buffer it passes on goes through the
// output's checked write.
ssize_t streamWrite(void* cookie, const char* bytes, std::size_t size) {
  auto* file = static_cast<OutputFile*>(cookie);
  return file->write(bytes, size) ? static_cast<ssize_t>(size) : 0;
}

constexpr std::size_t kStreamBuffer = 64 * 1024;

mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// Syncs the folder so that the rename survives a crash; a file system that
// cannot sync folders leaves the file in place all the same.
void syncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

// ---------------------------------------------------------------------------
// OutputFile

OutputFile::~OutputFile() { discard(); }

bool OutputFile::fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

bool OutputFile::create(const std::string& finalName) {
  TraceScope t("scl300");
  discard();
  error_ = 0;
  finalName_ = finalName;
  if (finalName.empty() || finalName.back() == '/') return fail(EISDIR);
  const std::string base = baseOf(finalName);
  const std::string pattern = base.size() > kMaxBaseForSuffix
                                  ? folderOf(finalName) + "/.trovak_XXXXXX"
                                  : finalName + ".XXXXXX";
  fd_ = makeRegistered(pattern, 0, slot_);
  if (fd_ < 0) return fail(errno);
  temporaryName_ = runFileTable().entries[slot_].path;
  return true;
}

void OutputFile::keepWhenStopped() {
  if (slot_ < 0 || finalName_.size() >= kMaxPath) return;
  RunFileEntry& e = runFileTable().entries[slot_];
  std::memcpy(e.finalPath, finalName_.c_str(), finalName_.size() + 1);
  e.fd = fd_;
  e.mode = newFileMode();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  e.state = kRenameWhenStopped;
}

bool OutputFile::write(const void* bytes, std::size_t size) {
  if (error_ != 0) return false;
  if (fd_ < 0) return fail(EBADF);
  const int error = writeFully(fd_, static_cast<const char*>(bytes), size);
  return error == 0 ? true : fail(error);
}

std::FILE* OutputFile::stream() {
  if (stream_ != nullptr || fd_ < 0) return stream_;
  cookie_io_functions_t io{};
  io.write = streamWrite;
  stream_ = fopencookie(this, "w", io);
  if (stream_ != nullptr) std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
  return stream_;
}

void OutputFile::closeStream() {
  if (stream_ == nullptr) return;
  // Closing flushes what is buffered through write(), which records any
  // failure.
  if (std::fclose(stream_) != 0) fail(errno);
  stream_ = nullptr;
}

bool OutputFile::commit() {
  TraceScope t("scl310");
  if (fd_ < 0) return fail(EBADF);
  closeStream();
  if (error_ == 0 && fchmod(fd_, newFileMode()) != 0) fail(errno);
  if (error_ == 0 && fsync(fd_) != 0 && errno != EINVAL) fail(errno);
  if (close(fd_) != 0 && error_ == 0) fail(errno);
  fd_ = -1;
  if (error_ == 0 && std::rename(temporaryName_.c_str(), finalName_.c_str()) != 0) fail(errno);
  if (error_ != 0) {
    unlink(temporaryName_.c_str());
    releaseEntry(slot_);
    slot_ = -1;
    return false;
  }
  releaseEntry(slot_);
  slot_ = -1;
  syncFolder(folderOf(finalName_));
  return true;
}

void OutputFile::discard() {
  if (stream_ != nullptr) {
    // Nothing of it is kept: the buffer is dropped unwritten.
    std::FILE* s = stream_;
    stream_ = nullptr;
    const int savedError = error_;
    error_ = error_ != 0 ? error_ : ECANCELED;
    std::fclose(s);
    error_ = savedError;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (slot_ >= 0) {
    unlink(temporaryName_.c_str());
    releaseEntry(slot_);
    slot_ = -1;
  }
}

std::string OutputFile::failureText() const { return fileFailureText(finalName_, error_); }

// ---------------------------------------------------------------------------
// Scratch files

std::FILE* createScratchFile(const std::string& nameLike, const char* mode, std::string& path) {
  TraceScope t("scl320");
  const std::size_t slash = nameLike.find_last_of('/');
  const std::size_t dot = nameLike.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  const std::string stem = hasExtension ? nameLike.substr(0, dot) : nameLike;
  const std::string extension = hasExtension ? nameLike.substr(dot) : std::string();
  int slot = -1;
  const int fd = makeRegistered(stem + "_XXXXXX" + extension, static_cast<int>(extension.size()), slot);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    unlink(runFileTable().entries[slot].path);
    releaseEntry(slot);
    errno = error;
    return nullptr;
  }
  path = runFileTable().entries[slot].path;
  return file;
}

void removeScratchFile(const std::string& path) {
  if (path.empty()) return;
  for (int i = 0; i < kMaxRunFiles; ++i) {
    RunFileEntry& e = runFileTable().entries[i];
    if (e.state != kFree && path == e.path) {
      unlink(e.path);
      releaseEntry(i);
    }
  }
}

// ---------------------------------------------------------------------------

std::string fileFailureText(const std::string& name, int error) {
  return name + " (" + std::strerror(error != 0 ? error : EIO) + ")";
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  const bool haveFirst = stat(a.c_str(), &first) == 0;
  const bool haveSecond = stat(b.c_str(), &second) == 0;
  if (haveFirst && haveSecond) return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  if (haveFirst != haveSecond) return false;
  // Neither exists yet: the same folder and name.
  std::error_code ec;
  const auto ra = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto rb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return ra == rb;
}

void settleRunFiles() {
  for (RunFileEntry& e : runFileTable().entries) {
    const sig_atomic_t state = e.state;
    if (state == kFree) continue;
    e.state = kFree;
    if (state == kRenameWhenStopped && e.finalPath[0] != '\0') {
      if (e.fd >= 0) fchmod(e.fd, e.mode);
      if (rename(e.path, e.finalPath) != 0) unlink(e.path);
    } else {
      unlink(e.path);
    }
    e.path[0] = '\0';
  }
}

// ---------------------------------------------------------------------------
// OutputStreamBuffer

OutputStreamBuffer::OutputStreamBuffer(OutputFile& file) : file_(file), buffer_(kStreamBuffer) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

OutputStreamBuffer::~OutputStreamBuffer() { drain(); }

bool OutputStreamBuffer::drain() {
  const std::size_t used = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return used == 0 || file_.write(buffer_.data(), used);
}

OutputStreamBuffer::int_type OutputStreamBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize OutputStreamBuffer::xsputn(const char* bytes, std::streamsize count) {
  const auto room = static_cast<std::streamsize>(epptr() - pptr());
  if (count <= room) {
    std::memcpy(pptr(), bytes, static_cast<std::size_t>(count));
    pbump(static_cast<int>(count));
    return count;
  }
  if (!drain()) return 0;
  if (count >= static_cast<std::streamsize>(buffer_.size()))
    return file_.write(bytes, static_cast<std::size_t>(count)) ? count : 0;
  std::memcpy(pptr(), bytes, static_cast<std::size_t>(count));
  pbump(static_cast<int>(count));
  return count;
}

int OutputStreamBuffer::sync() { return drain() ? 0 : -1; }

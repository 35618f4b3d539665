// One scratch directory per fuzzing process in a temporary directory,
// removed when the process ends.  The fuzz targets that read
// their input as a named file write it here once per input and let the
// readers find it under the names they open, through links made once.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class ScratchDir {
 public:
  // `stem` names the directory ("fuzz_assign" gives /tmp/fuzz_assign_XXXXXX).
  explicit ScratchDir(const char* stem) {
    std::string pattern = baseDirectory() + "/" + stem + "_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern + "/";
  }
  ~ScratchDir() {
    nftw(path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); },
         16, FTW_DEPTH | FTW_PHYS);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory, ending in "/".
  const std::string& path() const { return path_; }

  // Writes `size` bytes into `name` of the directory, replacing its content.
  // The file is overwritten and then cut to its new length: a file emptied
  // before it is written again is flushed to the disk on close by some file
  // systems, which would make every input wait for the disk.
  void write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
    const int fd = open((path_ + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) std::abort();
    close(fd);
  }

  // The temporary directory: $TMPDIR, else the memory file system when
  // there is one, else /tmp.
  static std::string baseDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && *tmp != '\0') return tmp;
    if (access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return "/tmp";
  }

  // A subdirectory `sub` that holds one entry `name`, a link to the file
  // `target` of the scratch directory; returns the subdirectory, ending in
  // "/".
  std::string linkedDirectory(const std::string& sub, const std::string& name,
                              const std::string& target) const {
    const std::string dir = path_ + sub + "/";
    if (mkdir(dir.c_str(), 0700) != 0) std::abort();
    if (symlink(("../" + target).c_str(), (dir + name).c_str()) != 0) std::abort();
    return dir;
  }

 private:
  std::string path_;
};

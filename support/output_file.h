// The one way the program writes a file.
//
// An output (the KPL script, the IGES or DXF file, the protocol) is written
// under an unpredictable temporary name in the folder of its final name,
// created exclusively with mode 0600, so that no existing file, link or
// name shared by hard links is ever written through.  Every write, flush
// and close is checked; the first failure is kept with the system's error
// number.  Only a complete file is put under its final name: commit() gives
// it the mode of a newly created file (0666 less the umask), syncs it,
// renames it over the final name and syncs the folder.  A run that fails
// or is stopped leaves the previous file under the final name untouched.
//
// A scratch file (section files, the IGES reader's parameter file) gets an
// unpredictable name and mode 0600 in its folder and is removed when the
// run ends, however it ends.
//
// Every temporary and scratch file of the run is kept in a table of plain
// path buffers, so that the handlers of signals and traps can settle them
// with async-signal-safe calls only (settleRunFiles).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <streambuf>
#include <string_view>
#include <vector>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discards an output that was not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the output `finalName`.  false when the temporary file cannot be
  // made in its folder (errorNumber() says why).
  bool create(const std::string& finalName);
  // Marks the output as the one a stopped run still puts under its final
  // name (the protocol, which then says why the run stopped).
  void keepWhenStopped();

  // Checked writes; false once any write of the file has failed.
  bool write(const void* bytes, std::size_t size);
  bool write(std::string_view text) { return write(text.data(), text.size()); }
  // A buffered stdio stream over the same checked writes, for writers that
  // print; nullptr when it cannot be made.  Valid until commit or discard.
  std::FILE* stream();

  // Completes the output and puts it under its final name; false on any
  // failure, and then no file is left under the temporary name and the
  // final name is untouched.
  bool commit();
  // Closes and removes the temporary file.
  void discard();

  bool failed() const { return error_ != 0; }
  int errorNumber() const { return error_; }
  // "<final name> (<reason>)", the text argument of the failure messages.
  std::string failureText() const;
  const std::string& finalName() const { return finalName_; }
  int descriptor() const { return fd_; }

 private:
  bool fail(int error);
  void closeStream();

  int fd_ = -1;
  int error_ = 0;
  int slot_ = -1;
  std::FILE* stream_ = nullptr;
  std::string finalName_;
  std::string temporaryName_;
};

// Scratch files.  `nameLike` is the name the file would have without its
// unpredictable part ("<tmp>/strt12_1.tmp"); the file is made as
// "<tmp>/strt12_1_XXXXXX.tmp" with mode 0600 and registered.  The stream is
// opened with `mode` ("wb", "w+b"); `path` receives the name made.  nullptr
// when it cannot be made, with errno set.
std::FILE* createScratchFile(const std::string& nameLike, const char* mode, std::string& path);
// Unlinks a registered scratch file now and forgets it.
void removeScratchFile(const std::string& path);

// The failure text "<name> (<reason of error>)".
std::string fileFailureText(const std::string& name, int error);

// Whether two names of the run are the same file: by device and inode when
// both exist, else by their resolved folder and name.
bool sameFile(const std::string& a, const std::string& b);

// Settles every registered file at the end of a run that went wrong or was
// stopped: scratch and temporary files are unlinked, an output marked
// keepWhenStopped is renamed onto its final name.  Async-signal-safe.
void settleRunFiles();

// A stream buffer over an output, for writers that print through a
// std::ostream; every byte goes through the output's checked writes.
class OutputStreamBuffer : public std::streambuf {
 public:
  explicit OutputStreamBuffer(OutputFile& file);
  ~OutputStreamBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* bytes, std::streamsize count) override;
  int sync() override;

 private:
  bool drain();
  OutputFile& file_;
  std::vector<char> buffer_;
};

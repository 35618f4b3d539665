// Runs the real program in a directory with given standard input and
// collects its standard output, standard error and exit status.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ProgramResult {
  int status = -1;     // exit status, or 128 + signal number when killed
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs `program` with `args` (argv[1..]) in `workDir`, writing `input` to its
// standard input.  The program is killed after `timeoutSeconds`.  While it
// runs, `whileRunning` is called about every 20 ms until it returns true.
// `inChild` runs in the child just before the program starts (limits,
// signal dispositions, user); its failure ends the child with status 126.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, const std::string& input = "",
                         int timeoutSeconds = 60,
                         const std::function<bool(pid_t)>& whileRunning = nullptr,
                         const std::function<bool()>& inChild = nullptr);

// A fresh directory under the system's temporary directory, removed with the
// object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `content` into the file `name` of the directory; returns its path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

std::string readWholeFile(const std::string& path);

// How often `word` occurs in `text`.
int occurrences(const std::string& text, const std::string& word);
// The error and warning counts of the last closing line ("Conversion
// finished: ..." or "Konvertierung beendet: ..."), -1 each when there is none.
std::pair<int, int> closingCounts(const std::string& console);

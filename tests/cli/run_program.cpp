#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void closeIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

long long nowMillis() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir, const std::string& input,
                         int timeoutSeconds,
                         const std::function<bool(pid_t)>& whileRunning,
                         const std::function<bool()>& inChild) {
  ProgramResult result;
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    if (chdir(workDir.c_str()) != 0) _exit(127);
    if (inChild && !inChild()) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  int inFd = inPipe[1], outFd = outPipe[0], errFd = errPipe[0];
  fcntl(inFd, F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  std::size_t written = 0;
  if (input.empty()) closeIfOpen(inFd);

  bool watching = static_cast<bool>(whileRunning);
  const long long deadline = nowMillis() + timeoutSeconds * 1000LL;
  while (outFd >= 0 || errFd >= 0) {
    struct pollfd fds[3];
    int n = 0;
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    const long long left = deadline - nowMillis();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    const int wait = watching ? static_cast<int>(left < 20 ? left : 20) : static_cast<int>(left);
    if (poll(fds, n, wait) < 0 && errno != EINTR) break;
    if (watching && whileRunning(pid)) watching = false;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        const ssize_t w = write(inFd, input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 || written == input.size()) closeIfOpen(inFd);
      } else {
        char buffer[4096];
        const ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
        std::string& sink = fds[i].fd == outFd ? result.out : result.err;
        if (r > 0) {
          sink.append(buffer, static_cast<std::size_t>(r));
        } else if (fds[i].fd == outFd) {
          closeIfOpen(outFd);
        } else {
          closeIfOpen(errFd);
        }
      }
    }
  }
  closeIfOpen(inFd);
  closeIfOpen(outFd);
  closeIfOpen(errFd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.status = 128 + WTERMSIG(status);
  }
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "trovak_cli_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
  const std::string file = path_ + "/" + name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int occurrences(const std::string& text, const std::string& word) {
  int n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

std::pair<int, int> closingCounts(const std::string& console) {
  int errors = -1, warnings = -1;
  const std::size_t english = console.rfind("Conversion finished: ");
  const std::size_t german = console.rfind("Konvertierung beendet: ");
  if (english != std::string::npos && (german == std::string::npos || english > german)) {
    std::sscanf(console.c_str() + english, "Conversion finished: %d errors, %d warnings", &errors, &warnings);
  } else if (german != std::string::npos) {
    std::sscanf(console.c_str() + german, "Konvertierung beendet: %d Fehler, %d Warnungen", &errors, &warnings);
  }
  return {errors, warnings};
}

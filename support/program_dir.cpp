#include "support/program_dir.h"

#include <sys/stat.h>
#include <climits>
#include <cstdlib>
#include <memory>

#include "support/trace.h"

namespace {

// The fully resolved path of `path`, or "" when it cannot be resolved.
std::string resolvedPath(const char* path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::string directoryPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string programDirectory(const std::string& programPath) {
  TraceScope t("stt060");
  if (programPath.find('/') != std::string::npos) {
    struct stat info;
    if (lstat(programPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      const std::string target = directoryPart(resolvedPath(programPath.c_str()));
      if (!target.empty()) return target;
    }
    return directoryPart(programPath);
  }
  const std::string self = directoryPart(resolvedPath("/proc/self/exe"));
  return self.empty() ? std::string("./") : self;
}

// Fuzzes the reader of the run configuration file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/config.h"
#include "support/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/fuzz_config_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(name);
  }();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
  resetRunConfiguration();
  (void)readRunConfiguration("", path, "input.igs");
  mfaFree();
  return 0;
}

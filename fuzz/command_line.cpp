// The command line and the dialog on arbitrary input: the data holds the
// arguments, separated by NUL bytes, up to a first "\n\n"; the rest is the
// dialog's standard input.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::size_t split = text.find("\n\n");
  const std::string arguments = text.substr(0, split);
  std::string input = split == std::string::npos ? std::string() : text.substr(split + 2);

  std::vector<std::string> args = {"trovak_iges"};
  std::size_t from = 0;
  while (from <= arguments.size()) {
    const std::size_t end = arguments.find('\0', from);
    args.push_back(arguments.substr(from, end == std::string::npos ? std::string::npos : end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  if (input.empty()) input = "q";  // a memory stream cannot be empty
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  std::FILE* out = std::fopen("/dev/null", "w");
  if (in != nullptr && out != nullptr) {
    RunRequest request;
    parseCommandLine(1, args, request, DialogStreams{in, out});
    printUsage(out, args[0], request.language);
    printRefusal(out, args[0], request);
  }
  if (in != nullptr) std::fclose(in);
  if (out != nullptr) std::fclose(out);
  return 0;
}

// Fuzzes the reader of the numbered message files and the expansion of
// every loaded text.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "support/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (file == nullptr) return 0;
  mfaLoadStream(file);
  std::fclose(file);
  for (int number = 1; number < 1200; ++number) (void)mfaMessageText(number);
  mfaFree();
  return 0;
}

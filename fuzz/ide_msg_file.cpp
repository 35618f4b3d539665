// Fuzzes the reader of the keyed message files and the key lookup.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/ide_msg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string contents(reinterpret_cast<const char*>(data), size);
  ideMsgLoadText(contents);
  (void)ideMsgText("DwgIn::init", "default~");
  (void)ideMsgText(contents.substr(0, 16), "x");
  ideMsgReset();
  return 0;
}

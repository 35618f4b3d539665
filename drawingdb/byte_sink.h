// Where the toolkit writes its files: a sink the caller owns.  The toolkit
// never opens output files itself; the caller decides how bytes reach the
// disk (for instance under a temporary name renamed when complete).
#pragma once

#include <string>
#include <string_view>

namespace drawingdb {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends the bytes; false when they could not be stored.
  virtual bool write(std::string_view bytes) = 0;
};

// Collects everything in memory.
class StringSink final : public ByteSink {
 public:
  bool write(std::string_view bytes) override {
    data.append(bytes);
    return true;
  }
  std::string data;
};

}  // namespace drawingdb

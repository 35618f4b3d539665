// Where the toolkit reads a file in pieces: a source the caller owns, so
// that a large file is never held whole and a file that changes under the
// reader ends the reading with a status, not with a fault.
#pragma once

#include <cstddef>

#include "drawingdb/status.h"

namespace drawingdb {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `n` bytes into `out` and returns how many; 0 at the end
  // of the bytes and after a failure (then status() says what failed).
  virtual std::size_t read(char* out, std::size_t n) = 0;
  // Ok, or why the bytes could not be read in full.
  virtual Status status() const = 0;
  // The number of bytes the source expects to give in all; allocations
  // for what a file states are bounded by it.
  virtual std::size_t size() const = 0;
};

}  // namespace drawingdb

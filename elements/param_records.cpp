// The memory of the typed records: per size (in steps of eight bytes) a
// list of the records given back, and the rest of the latest chunk.  The
// chunks stay until the process ends (records held by other objects of
// static duration may be given back while it ends); a record given back is
// used again by the next record of its size.  Larger records come from the
// heap.
#include "elements/param_records.h"

#include <new>

#include "support/sanitizers.h"

namespace {

constexpr std::size_t kStep = 8;
constexpr std::size_t kLargest = 256;
constexpr std::size_t kClasses = kLargest / kStep;
constexpr std::size_t kChunkBytes = std::size_t{64} << 10;

// A sanitizer's allocator watches each record as a block of its own.
constexpr bool kPooled = !kAllocatorReplaced;

struct FreeRecord {
  FreeRecord* next;
};

class RecordPool {
 public:
  void* take(std::size_t size) {
    const std::size_t c = (size + kStep - 1) / kStep - 1;
    if (FreeRecord* f = free_[c]) {
      free_[c] = f->next;
      return f;
    }
    const std::size_t bytes = (c + 1) * kStep;
    if (rest_ < bytes) {
      // What is left of the chunk goes to the lists of the smaller sizes.
      char* chunk = static_cast<char*>(::operator new(kChunkBytes));
      while (rest_ >= kStep) {
        const std::size_t piece = rest_ < kLargest ? rest_ / kStep * kStep : kLargest;
        give(next_, piece);
        next_ += piece;
        rest_ -= piece;
      }
      next_ = chunk;
      rest_ = kChunkBytes;
    }
    void* record = next_;
    next_ += bytes;
    rest_ -= bytes;
    return record;
  }

  void give(void* record, std::size_t size) noexcept {
    const std::size_t c = (size + kStep - 1) / kStep - 1;
    auto* f = static_cast<FreeRecord*>(record);
    f->next = free_[c];
    free_[c] = f;
  }

 private:
  FreeRecord* free_[kClasses] = {};
  char* next_ = nullptr;
  std::size_t rest_ = 0;
};

RecordPool recordPool;

}  // namespace

void* ParamRecord::operator new(std::size_t size) {
  if (!kPooled || size == 0 || size > kLargest) return ::operator new(size);
  return recordPool.take(size);
}

void ParamRecord::operator delete(void* record, std::size_t size) noexcept {
  if (record == nullptr) return;
  if (!kPooled || size == 0 || size > kLargest) {
    ::operator delete(record);
    return;
  }
  recordPool.give(record, size);
}

#include "support/large_pages.h"

#include "support/sanitizers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

namespace {

constexpr bool kMapsDirectly = !kAllocatorReplaced;

constexpr std::align_val_t kLargeAlignment{kLargePageBytes};

std::uintptr_t roundedUp(std::uintptr_t value, std::uintptr_t unit) { return (value + unit - 1) & ~(unit - 1); }

std::size_t pageBytes() {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

}  // namespace

void adviseLargePages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  if (data == nullptr || size < kLargePageBytes || begin > UINTPTR_MAX - size) return;
  const std::uintptr_t first = roundedUp(begin, kLargePageBytes);
  const std::uintptr_t last = (begin + size) & ~(std::uintptr_t{kLargePageBytes} - 1);
  if (first >= last) return;
  // A refusal (no large pages on this system) leaves the memory as it was.
  (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

// Large blocks are mapped directly, so that giving one back gives its pages
// back to the system at once (for the page cache of the file written next,
// say).  Under a sanitizer they come from its allocator instead,
// whose leak check looks only into memory it handed out.
void* allocateLargeBlock(std::size_t size) {
  if (size < kLargePageBytes) return ::operator new(size, std::nothrow);
  if (!kMapsDirectly) {
    void* block = ::operator new(size, kLargeAlignment, std::nothrow);
    adviseLargePages(block, size);
    return block;
  }
  const std::size_t length = roundedUp(size, pageBytes());
  if (length > SIZE_MAX - kLargePageBytes) return nullptr;
  const std::size_t mapped = length + kLargePageBytes;
  void* const area = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  // The aligned part is kept, the rest given back.
  const auto begin = reinterpret_cast<std::uintptr_t>(area);
  const std::uintptr_t aligned = roundedUp(begin, kLargePageBytes);
  if (aligned > begin) munmap(area, aligned - begin);
  const std::size_t after = mapped - (aligned - begin) - length;
  if (after > 0) munmap(reinterpret_cast<void*>(aligned + length), after);
  void* const block = reinterpret_cast<void*>(aligned);
  adviseLargePages(block, length);
  return block;
}

void releaseLargeBlock(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size < kLargePageBytes) {
    ::operator delete(block, size);
  } else if (!kMapsDirectly) {
    ::operator delete(block, size, kLargeAlignment);
  } else {
    munmap(block, roundedUp(size, pageBytes()));
  }
}

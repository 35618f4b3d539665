#include "support/heap_room.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// Below this the heap's own growth serves well enough.
constexpr std::uint64_t kWorthPreparing = std::uint64_t{4} << 20;
// The most made ready: the heap keeps freed memory up to a bound that is
// an int, and the room must stay below it.
constexpr std::uint64_t kMostRoom = std::uint64_t{1} << 30;
// The size of a large page, to which the advised range is aligned.
constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;

}  // namespace

std::uint64_t prepareHeapRoom(std::uint64_t bytes) {
  bytes = std::min(bytes, kMostRoom);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0)
    bytes = std::min(bytes, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2);
  if (bytes < kWorthPreparing) return 0;
  // Freed memory stays with the process, and large blocks come from the
  // heap too (not mapped apart), so that they reuse the room.
  if (mallopt(M_TRIM_THRESHOLD, INT_MAX) == 0 || mallopt(M_MMAP_MAX, 0) == 0) return 0;
  void* room = std::malloc(static_cast<std::size_t>(bytes));
  if (room == nullptr) return 0;
  const std::uintptr_t from = reinterpret_cast<std::uintptr_t>(room);
  const std::uintptr_t start = (from + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (from + bytes) & ~(kLargePage - 1);
  // Without large pages the room still saves the returns and refaults.
  if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  // Freed at the top of the heap, the room stays there for what comes.
  std::free(room);
  return bytes;
}

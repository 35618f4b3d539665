#include "support/heap_room.h"

#include "support/large_pages.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// Only the C library's own allocator keeps its heap in one piece.
#include "support/sanitizers.h"
#if defined(__GLIBC__) && !defined(TROVAK_ALLOCATOR_REPLACED)
#if __GLIBC_PREREQ(2, 33)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#define TROVAK_HEAP_ROOM 1
#endif
#endif

namespace {

constexpr std::size_t kMostRoom = std::size_t{1} << 30;

}  // namespace

#if defined(TROVAK_HEAP_ROOM) && defined(MADV_HUGEPAGE)

namespace {

// The allocator's own values (mallopt(3)): the padding of each growth of
// the heap, the size from which it maps a block of its own, and the
// highest such size it rises to by itself.
constexpr int kDefaultTopPad = 128 * 1024;
constexpr int kDefaultMapThreshold = 128 * 1024;
constexpr int kMostMapThreshold = 32 * 1024 * 1024;

}  // namespace

void reserveHeapRoom(std::size_t bytes) {
  bytes = std::min(bytes, kMostRoom);
  if (bytes < kLargePageBytes) return;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  // A free at the heap's top gives nothing back below twice the room.
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<std::size_t>(2 * bytes, kMostRoom)));
  std::size_t top = heapRoomFree();
  if (top < bytes) {
    // A block larger than the top makes the allocator grow the heap by the
    // block and the padding; freed, the block joins the top again.
    // (The block must come from the heap, not be mapped on its own.)
    const std::size_t block = top + page;
    if (block < static_cast<std::size_t>(kMostMapThreshold)) {
      mallopt(M_MMAP_THRESHOLD, kMostMapThreshold);
      mallopt(M_TOP_PAD, static_cast<int>(bytes));
      void* volatile grown = std::malloc(block);
      std::free(grown);
      mallopt(M_TOP_PAD, kDefaultTopPad);
      mallopt(M_MMAP_THRESHOLD, kDefaultMapThreshold);
      top = heapRoomFree();
    }
  }
  const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  if (top < kLargePageBytes || end < top) return;
  adviseLargePages(reinterpret_cast<void*>(end - top), top);
}

std::size_t heapRoomFree() { return mallinfo2().keepcost; }

#else

void reserveHeapRoom(std::size_t) {}

std::size_t heapRoomFree() { return 0; }

#endif

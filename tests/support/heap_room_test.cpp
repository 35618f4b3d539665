// The room asked for at the heap's top: there afterwards where the
// allocator supports it, and the heap usable as before around it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "support/heap_room.h"

namespace {

// Blocks of the sizes a run makes (small records up to tables of several
// MiB), filled and checked, then freed.
void useTheHeap(std::size_t most) {
  std::vector<std::unique_ptr<unsigned char[]>> blocks;
  std::vector<std::size_t> sizes;
  for (std::size_t n = 24; n <= most; n = n * 3 + 5) {
    blocks.emplace_back(new unsigned char[n]);
    sizes.push_back(n);
    std::memset(blocks.back().get(), static_cast<int>(n & 0xff), n);
  }
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const unsigned char want = static_cast<unsigned char>(sizes[k] & 0xff);
    EXPECT_EQ(blocks[k][0], want);
    EXPECT_EQ(blocks[k][sizes[k] - 1], want);
  }
}

TEST(HeapRoom, RoomIsThereAndTheHeapWorksAroundIt) {
  const std::size_t room = std::size_t{24} << 20;
  reserveHeapRoom(room);
  // Where the room can be known it is there.
  if (heapRoomFree() != 0) {
    EXPECT_GE(heapRoomFree(), room);
  }
  useTheHeap(std::size_t{40} << 20);  // beyond the room too
  // Asked again: what is there is kept, and the heap still serves.
  reserveHeapRoom(room / 2);
  useTheHeap(std::size_t{1} << 20);
}

TEST(HeapRoom, SizesOutsideItsRangeChangeNothingHarmful) {
  reserveHeapRoom(0);
  reserveHeapRoom(4096);
  reserveHeapRoom(std::numeric_limits<std::size_t>::max());  // held to 1 GiB of address space
  useTheHeap(std::size_t{8} << 20);
}

}  // namespace

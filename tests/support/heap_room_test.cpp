// The heap made ready for a large input: small runs leave it alone; a
// prepared heap keeps the room and what is freed in it instead of handing
// it back, so that the objects made later reuse the pages.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "support/heap_room.h"

namespace {

TEST(HeapRoom, SmallRunsLeaveTheHeapAlone) {
  EXPECT_EQ(prepareHeapRoom(0), 0u);
  EXPECT_EQ(prepareHeapRoom(std::uint64_t{1} << 20), 0u);  // 1 MB
}

TEST(HeapRoom, PreparedRoomIsKeptThroughFrees) {
  const std::uint64_t asked = std::uint64_t{64} << 20;
  const std::uint64_t made = prepareHeapRoom(asked);
  // A heap that cannot be tuned (a checking allocator) is left as it is.
  if (made == 0) GTEST_SKIP() << "the heap of this build cannot be prepared";
  EXPECT_LE(made, asked);
  EXPECT_GE(mallinfo2().arena, made);
  // Many small objects and a few large ones, written through, then freed:
  // the heap does not shrink below the room.
  std::vector<std::unique_ptr<char[]>> small;
  for (int k = 0; k < 100000; ++k) {
    small.emplace_back(new char[64 + k % 200]);
    std::memset(small.back().get(), k & 0xff, 64);
  }
  std::vector<std::unique_ptr<char[]>> large;
  for (int k = 0; k < 4; ++k) {
    large.emplace_back(new char[std::size_t{8} << 20]);
    std::memset(large.back().get(), 1, std::size_t{8} << 20);
  }
  small.clear();
  large.clear();
  EXPECT_GE(mallinfo2().arena, made);
  // Larger requests than the cap are cut to it.
  EXPECT_LE(prepareHeapRoom(std::uint64_t{1} << 40), std::uint64_t{1} << 30);
}

}  // namespace

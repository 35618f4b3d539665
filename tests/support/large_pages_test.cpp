// Large-page blocks: every size comes back writable over its whole length,
// the large ones aligned to a large page so that the kernel can back them
// with large pages.
#include "support/large_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(LargePages, BlocksOfEverySizeAreWholeAndLargeOnesAligned) {
  const std::size_t large = kLargePageBytes;
  for (const std::size_t size : {std::size_t{1}, std::size_t{4095}, large - 1, large, large + 1,
                                 5 * large + 123}) {
    SCOPED_TRACE(size);
    auto* block = static_cast<unsigned char*>(allocateLargeBlock(size));
    ASSERT_NE(block, nullptr);
    if (size >= large) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % large, 0u);
    }
    std::memset(block, 0xa5, size);
    EXPECT_EQ(block[0] + block[size - 1], 2 * 0xa5);
    releaseLargeBlock(block, size);
  }
  releaseLargeBlock(nullptr, large);

  // Advice on any range, aligned or not, changes no byte.
  std::vector<unsigned char> bytes(3 * large + 5, 7);
  adviseLargePages(bytes.data() + 3, bytes.size() - 3);
  adviseLargePages(bytes.data(), 100);
  adviseLargePages(nullptr, large);
  EXPECT_EQ(bytes.front() + bytes.back(), 14);
}

}  // namespace

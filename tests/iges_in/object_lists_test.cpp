// The lists of expansion objects against a plain reading: every list
// written out in full with the lists it takes, then each object kept
// where it comes first.
#include "iges_in/object_lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "iges_in/iges_convert.h"

namespace {

// One item of a reference list: an object, or (list >= 0) a list.
struct RefItem {
  std::int32_t object = 0;
  int list = -1;
};

void writeOut(const std::vector<std::vector<RefItem>>& lists, int list, std::vector<std::int32_t>& out) {
  for (const RefItem& item : lists[static_cast<std::size_t>(list)]) {
    if (item.list >= 0) {
      writeOut(lists, item.list, out);
    } else {
      out.push_back(item.object);
    }
  }
}

std::vector<std::int32_t> plainReading(const std::vector<std::vector<RefItem>>& lists, int list) {
  std::vector<std::int32_t> all, once;
  writeOut(lists, list, all);
  for (std::int32_t obj : all) {
    bool seen = false;
    for (std::int32_t o : once) seen = seen || o == obj;
    if (!seen) once.push_back(obj);
  }
  return once;
}

// Random lists taking earlier ones (some twice, some nothing but empty
// lists), objects repeated within and across lists, some outside the
// marks' table; half of the lists are then dropped and made anew.
TEST(NestedObjectLists, ReadOutMatchesThePlainReading) {
  std::mt19937 random(7);
  NestedObjectLists lists;
  ObjectMarks marks;
  std::vector<std::vector<RefItem>> reference;
  const auto make = [&](int count) {
    for (int k = 0; k < count; ++k) {
      std::vector<RefItem> items;
      const int size = static_cast<int>(random() % 6);
      for (int i = 0; i < size; ++i) {
        const bool takesList = !reference.empty() && random() % 3 == 0;
        RefItem item;
        if (takesList) {
          item.list = static_cast<int>(random() % reference.size());
          lists.addList(item.list);
        } else {
          const std::uint32_t pick = random() % 40;
          item.object = pick < 36 ? static_cast<std::int32_t>(pick) : (pick % 2 == 0 ? -5 : (1 << 25) + 3);
          lists.addObject(item.object);
        }
        items.push_back(item);
      }
      ASSERT_EQ(lists.close(), static_cast<NestedObjectLists::Id>(reference.size()));
      reference.push_back(items);
    }
  };
  const auto check = [&] {
    for (std::size_t k = 0; k < reference.size(); ++k) {
      std::vector<std::int32_t> read{99};  // appended to
      lists.readOut(static_cast<NestedObjectLists::Id>(k), marks, read);
      std::vector<std::int32_t> expected{99};
      for (std::int32_t obj : plainReading(reference, static_cast<int>(k))) expected.push_back(obj);
      ASSERT_EQ(read, expected) << k;
      EXPECT_EQ(lists.holdsObjects(static_cast<NestedObjectLists::Id>(k)), expected.size() > 1) << k;
    }
  };
  make(60);
  check();
  // A list left unfinished is dropped with the lists after the mark.
  lists.addObject(5);
  lists.truncate(30);
  reference.resize(30);
  EXPECT_EQ(lists.count(), 30u);
  make(40);
  check();
  // Numbers of no closed list are passed over.
  lists.addList(-1);
  lists.addList(1000);
  EXPECT_FALSE(lists.holdsObjects(lists.close()));
  EXPECT_FALSE(lists.holdsObjects(-1));
}

// A chain of lists each taking the one before twice: read out in time
// linear in the chain, without a stack per level.
TEST(NestedObjectLists, DeepChainsTakenTwice) {
  constexpr int kDepth = 200000;
  NestedObjectLists lists;
  ObjectMarks marks;
  NestedObjectLists::Id last = -1;
  for (int k = 0; k < kDepth; ++k) {
    if (last >= 0) lists.addList(last);
    lists.addObject(k);
    if (last >= 0) lists.addList(last);
    last = lists.close();
  }
  std::vector<std::int32_t> read;
  lists.readOut(last, marks, read);
  ASSERT_EQ(read.size(), static_cast<std::size_t>(kDepth));
  for (int k = 0; k < kDepth; ++k) ASSERT_EQ(read[static_cast<std::size_t>(k)], k);
}

}  // namespace

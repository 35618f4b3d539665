// The list of script object numbers against a vector doing the same: the
// move from the numbers kept in the list to a block of their own and back,
// copies and moves in every combination, and the vector conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "elements/object_list.h"

namespace {

using Numbers = std::vector<std::int32_t>;

Numbers asVector(const ObjectList& list) { return Numbers(list.begin(), list.end()); }

TEST(ObjectListTest, FollowsAVectorThroughRandomEdits) {
  std::mt19937 random(7);
  ObjectList list;
  Numbers reference;
  for (int step = 0; step < 20000; ++step) {
    switch (random() % 8) {
      case 0:
      case 1:
      case 2: {
        const auto n = static_cast<std::int32_t>(random() % 1000);
        list.push_back(n);
        reference.push_back(n);
        break;
      }
      case 3: {
        Numbers more(random() % 5);
        for (std::int32_t& n : more) n = static_cast<std::int32_t>(random());
        list.append(more.data(), more.data() + more.size());
        reference.insert(reference.end(), more.begin(), more.end());
        break;
      }
      case 4:
        if (random() % 4 == 0) {
          list.clear();
          reference.clear();
        }
        break;
      case 5:
        list.shrink_to_fit();
        break;
      case 6: {
        // A copy and a move of the list stand for it from here on.
        ObjectList copy(list);
        ObjectList moved(std::move(copy));
        EXPECT_TRUE(copy.empty());
        list = std::move(moved);
        break;
      }
      case 7:
        if (!reference.empty()) {
          const std::size_t k = random() % reference.size();
          list[k] = reference[k] = static_cast<std::int32_t>(step);
        }
        break;
    }
    ASSERT_EQ(list.size(), reference.size());
    ASSERT_EQ(asVector(list), reference) << "step " << step;
  }
}

TEST(ObjectListTest, CopiesAndMovesBetweenShortAndLongLists) {
  const Numbers shortOne{4, 5};
  const Numbers longOne{1, 2, 3, 4, 5, 6, 7};
  for (const Numbers& from : {Numbers{}, shortOne, longOne}) {
    for (const Numbers& into : {Numbers{}, shortOne, longOne}) {
      ObjectList source(from);
      ObjectList target(into);
      target = source;
      EXPECT_EQ(target, from);
      EXPECT_EQ(source, from);
      ObjectList other(into);
      other = std::move(source);
      EXPECT_EQ(other, from);
      EXPECT_TRUE(source.empty());
      source.push_back(9);  // a list moved from is usable
      EXPECT_EQ(source, Numbers{9});
      other.swap(source);
      EXPECT_EQ(other, Numbers{9});
      EXPECT_EQ(source, from);
      const ObjectList& same = target;
      target = same;  // assignment to itself keeps the numbers
      EXPECT_EQ(target, from);
    }
  }
}

TEST(ObjectListTest, StandsForAVector) {
  const Numbers numbers{3, 1, 4, 1, 5};
  ObjectList list = numbers;
  const Numbers back = list;
  EXPECT_EQ(back, numbers);
  list = {8};
  EXPECT_EQ(list.front(), 8);
  EXPECT_EQ(list.at(0), 8);
  EXPECT_THROW(list.at(1), std::out_of_range);
  EXPECT_FALSE(list == numbers);
  EXPECT_FALSE((list == ObjectList{8, 8}));
  list.clear();
  list.shrink_to_fit();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
}

}  // namespace

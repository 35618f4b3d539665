// Where the table keeps what is not in its records: the store of the list
// nodes, the blocks of the typed records and the directory fields beside
// the records.  Each is compared with a plain model under random use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "elements/element_table.h"
#include "elements/param_records.h"
#include "support/run_state.h"

namespace {

// Nodes made and given back in random order: the nodes alive are distinct,
// keep what was written into them, and a reference finds its node again;
// nodes given back are used again, so the store holds no more numbers than
// were alive at most.
TEST(LinkStoreTest, NodesStayDistinctAndAreUsedAgain) {
  std::mt19937 random(7);
  const std::size_t before = linkStore.inUse();
  std::map<LinkNode*, std::int32_t> alive;  // node -> the index written into it
  std::set<std::uint32_t> ids;
  std::size_t most = 0;
  for (int step = 0; step < 20000; ++step) {
    if (alive.empty() || random() % 3 != 0) {
      LinkNode* node = linkStore.make();
      ASSERT_NE(node, nullptr);
      ASSERT_EQ(alive.count(node), 0u);
      EXPECT_EQ(std::tuple(node->index, node->orderKey, static_cast<LinkNode*>(node->next)),
                std::tuple(0, 0, nullptr));
      node->index = step;
      const NodeRef ref = node;
      ASSERT_EQ(static_cast<LinkNode*>(ref), node);
      alive[node] = step;
      ids.insert(node->id);
      most = std::max(most, alive.size());
    } else {
      auto it = alive.begin();
      std::advance(it, static_cast<long>(random() % alive.size()));
      ASSERT_EQ(it->first->index, it->second);
      linkStore.release(it->first);
      alive.erase(it);
    }
    ASSERT_EQ(linkStore.inUse(), before + alive.size());
  }
  EXPECT_LE(ids.size(), most + before);
  for (const auto& [node, index] : alive) {
    EXPECT_EQ(node->index, index);
    linkStore.release(node);
  }
  EXPECT_EQ(linkStore.inUse(), before);
  const NodeRef none;
  EXPECT_EQ(static_cast<LinkNode*>(none), nullptr);
}

// Records of several sizes made and released at random: no two alive
// records share a byte, and each keeps its contents.
struct SmallRecord : ParamRecord {
  std::int32_t value = 0;
};
struct MiddleRecord : ParamRecord {
  double values[9] = {};
};
struct LargeRecord : ParamRecord {
  char bytes[300] = {};  // beyond the sizes kept in blocks
};

TEST(TypedRecordMemoryTest, RecordsOfEverySizeStayApart) {
  std::mt19937 random(11);
  struct Alive {
    std::unique_ptr<ParamRecord> record;
    std::size_t size = 0;
    int mark = 0;
  };
  std::vector<Alive> alive;
  auto markOf = [](const Alive& a) {
    if (const auto* s = dynamic_cast<const SmallRecord*>(a.record.get())) return s->value;
    if (const auto* m = dynamic_cast<const MiddleRecord*>(a.record.get())) return static_cast<int>(m->values[8]);
    if (const auto* g = dynamic_cast<const GeometryRecord*>(a.record.get())) return static_cast<int>(g->values.at(0));
    return static_cast<int>(static_cast<const LargeRecord*>(a.record.get())->bytes[299]);
  };
  for (int step = 0; step < 5000; ++step) {
    if (alive.empty() || random() % 5 < 3) {
      Alive a;
      a.mark = step % 100;
      switch (random() % 4) {
        case 0: {
          auto r = std::make_unique<SmallRecord>();
          r->value = a.mark;
          a.size = sizeof(SmallRecord);
          a.record = std::move(r);
          break;
        }
        case 1: {
          auto r = std::make_unique<MiddleRecord>();
          r->values[8] = a.mark;
          a.size = sizeof(MiddleRecord);
          a.record = std::move(r);
          break;
        }
        case 2: {
          auto r = std::make_unique<GeometryRecord>();
          r->values = {static_cast<double>(a.mark), 1, 2};
          a.size = sizeof(GeometryRecord);
          a.record = std::move(r);
          break;
        }
        default: {
          auto r = std::make_unique<LargeRecord>();
          r->bytes[299] = static_cast<char>(a.mark);
          a.size = sizeof(LargeRecord);
          a.record = std::move(r);
          break;
        }
      }
      alive.push_back(std::move(a));
    } else {
      const std::size_t k = random() % alive.size();
      ASSERT_EQ(markOf(alive[k]), alive[k].mark);
      alive.erase(alive.begin() + static_cast<long>(k));
    }
  }
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> ranges;
  for (const Alive& a : alive) {
    EXPECT_EQ(markOf(a), a.mark);
    const auto start = reinterpret_cast<std::uintptr_t>(a.record.get());
    EXPECT_EQ(start % alignof(double), 0u);
    ranges.emplace_back(start, start + a.size);
  }
  std::sort(ranges.begin(), ranges.end());
  for (std::size_t k = 1; k < ranges.size(); ++k) EXPECT_LE(ranges[k - 1].second, ranges[k].first);
}

// The fields beside the records: made for the elements given any, zero for
// the others, and a whole entry reads back as it was given.
TEST(DirectoryExtraTest, WholeEntriesReadBackAndOthersStayZero) {
  resetRunState();
  ASSERT_EQ(allocateTable(20), 0);
  for (int i = 0; i < 12; ++i) ASSERT_GT(newIndex(), 0);
  DirectoryEntry de;
  de.entityType = 110;
  de.level = 7;
  de.view = 3;
  de.subscript = 9;
  de.sequence2 = 42;
  std::strcpy(de.label, "LINE");
  setDirectoryEntry(5, de);
  const DirectoryEntry back = directoryEntryOf(5);
  EXPECT_EQ(std::tuple(back.entityType, back.level, back.view, back.subscript, back.sequence2, std::string(back.label)),
            std::tuple(110, 7, 3, 9, 42, std::string("LINE")));
  EXPECT_EQ(element(5).de.level, 7);
  for (std::int32_t i : {0, 1, 4, 6, 12, 99, -1}) {
    EXPECT_EQ(std::tuple(directoryExtraOf(i).view, directoryExtraOf(i).subscript), std::tuple(0, 0)) << i;
  }
  clearDirectoryEntry(5);
  EXPECT_EQ(std::tuple(directoryExtraOf(5).view, element(5).de.level, element(5).de.label[0]), std::tuple(0, 0, '\0'));
  // An index outside the table gets a scratch record, not a slot.
  directoryExtra(500).view = 1;
  EXPECT_EQ(directoryExtraOf(500).view, 0);
  // A new table forgets them.
  directoryExtra(3).view = 8;
  ASSERT_EQ(allocateTable(20), 0);
  EXPECT_EQ(directoryExtraOf(3).view, 0);
  resetRunState();
}

}  // namespace

// The element table: slots and growth, son order, link checks, the son and
// descendant walks, ancestor queries, the conversion order, states and
// progress, the matrix chain, status and class decoding, and the loading of
// transfer-file elements.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "elements/element_table.h"
#include "elements/param_records.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"

namespace {

using Index = std::int32_t;

class ElementTableTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh(64); }
  void TearDown() override {
    elementTable().progressDisplay = nullptr;
    resetRunState();
  }

  // An empty table of n+1 slots in an input run; messages are counted but
  // not printed.
  void fresh(Index n) {
    resetRunState();
    ASSERT_EQ(allocateTable(n), 0);
    mfaSetMessageLevel(0);
    runState().runMode = RunModeBit::kInput;
  }

  static Index add(std::int32_t type, std::int32_t form = 0) {
    const Index i = newIndex();
    EXPECT_GT(i, 0);
    element(i).type = type;
    element(i).form = form;
    return i;
  }
  static void link(Index father, Index son) { ASSERT_EQ(linkFatherSon(father, son), 0); }
  // One new element of each type, in their order.
  template <typename... Types>
  static std::array<Index, sizeof...(Types)> adds(Types... types) {
    return {add(types)...};
  }
  // The states of the elements, in their order.
  static std::string statesOf(std::initializer_list<Index> indices) {
    std::string out;
    for (Index i : indices) out += element(i).state;
    return out;
  }
  // hasNoAncestorOfType for each (element, type).
  static std::vector<int> noAncestor(std::initializer_list<std::pair<Index, std::int32_t>> asked) {
    std::vector<int> out;
    for (const auto& [index, type] : asked) out.push_back(hasNoAncestorOfType(index, type));
    return out;
  }
  // Links the pairs (father, son) in their order.
  static void links(std::initializer_list<std::pair<Index, Index>> pairs) {
    for (const auto& [father, son] : pairs) link(father, son);
  }

  // The indices of a sons list as stored (with -3 and -99 entries).
  static std::vector<Index> sonList(Index father) {
    std::vector<Index> out;
    for (const LinkNode* n = element(father).sons; n != nullptr; n = n->next) out.push_back(n->index);
    return out;
  }
  static std::vector<std::int32_t> keyList(Index father) {
    std::vector<std::int32_t> out;
    for (const LinkNode* n = element(father).sons; n != nullptr; n = n->next) out.push_back(n->orderKey);
    return out;
  }
  // The sons nextSon hands out from a fresh cursor, and its final result.
  static std::vector<Index> walkSons(Index father, int* last = nullptr) {
    element(father).sonCursor = element(father).sons;
    std::vector<Index> out;
    SonResult r;
    int rc = 0;
    for (int guard = 0; guard < 100000 && (rc = nextSon(father, r)) == 0; ++guard) out.push_back(r.index);
    if (last != nullptr) *last = rc;
    return out;
  }
  // Everything nextDescendant yields from the start element's cursors as
  // they stand (bounded, so a fault cannot hang the test).
  static std::vector<Index> walkDescendants(Index start, std::size_t limit = 1000) {
    std::vector<Index> out;
    Index de = 0;
    Index index = 0;
    while (out.size() < limit && nextDescendant(start, de, index) == 0) {
      EXPECT_EQ(de, deNumberOf(index));
      out.push_back(index);
    }
    return out;
  }
  // nextToConvert until -1, each pick set to `state` (0 leaves it).
  static std::vector<Index> conversionOrder(char state, std::size_t limit = 1000) {
    std::vector<Index> out;
    ConvertPick pick;
    while (out.size() < limit && nextToConvert(pick) == 0) {
      out.push_back(pick.index);
      if (state != 0) setState(pick.index, state);
    }
    EXPECT_EQ(pick.index, -1);
    return out;
  }
};

// Priority of a son as the conversion wants it: planes, views, drawings,
// subfigures, groups, sectioned areas, composite curves, dimensions and
// their parts, then plain geometry (99).
std::int32_t expectedKey(std::int32_t type, std::int32_t form, bool output, bool plus) {
  static const std::int32_t kOrder[] = {108, 118, 404, 410, 120, 122, 408, 308, 402, 230, 102,
                                        210, 216, 206, 202, 222, 218, 220, 106, 104, 112};
  if (!output && ((type == 104 && form == 1) || (type == 106 && form == 40))) return 99;
  for (std::int32_t k = 0; k < 21; ++k) {
    if (kOrder[k] == type) return k;
  }
  return (type == 444 && output && plus) ? 20 : 99;
}

// What insertion by priority must give on any list, ordered or not: at the
// head when the key is smaller than the head's, else in front of the first
// later node whose key is greater.
struct RefNode {
  Index index;
  std::int32_t key;
  bool operator==(const RefNode&) const = default;
};
void referenceInsert(std::vector<RefNode>& list, RefNode node) {
  if (list.empty() || node.key < list.front().key) {
    list.insert(list.begin(), node);
    return;
  }
  std::size_t at = 1;
  while (at < list.size() && list[at].key <= node.key) ++at;
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), node);
}
std::vector<RefNode> storedList(Index father) {
  std::vector<RefNode> out;
  for (const LinkNode* n = element(father).sons; n != nullptr; n = n->next) out.push_back({n->index, n->orderKey});
  return out;
}

std::vector<int> gPercents;
void recordPercent(int percent) { gPercents.push_back(percent); }

TEST_F(ElementTableTest, IndexRulesAllocationAndGrowth) {
  // An even pointer falls to the entry below.
  EXPECT_EQ(std::tuple(indexOfPointer(1), indexOfPointer(3), indexOfPointer(4), deNumberOf(1), deNumberOf(57)),
            std::tuple(1, 2, 3, 1, 113));
  for (Index i = 1; i < 1000; ++i) ASSERT_EQ(indexOfPointer(deNumberOf(i)), i);

  fresh(100);
  for (Index i = 1; i <= 100; ++i) ASSERT_EQ(newIndex(), i);

  // Links, cursors and owned blocks stay with their records when the table
  // grows.
  element(5).type = 402;
  element(6).type = 110;
  element(7).type = 100;
  links({{5, 6}, {5, 7}});
  element(5).sonCursor = element(5).sons->next;
  element(5).params = std::make_unique<GeometryRecord>();
  element(5).scriptObjects = {42, 43};
  element(5).transferId = 17;
  element(5).sideRecord().transferAttrs = std::make_unique<TransferAttributes>();
  element(5).side->transferAttrs->name = "attr";
  const LinkNode* cursor = element(5).sonCursor;
  const ParamRecord* params = element(5).params.get();

  EXPECT_EQ(newIndex(), 101);
  const ElementRecord& moved = element(5);
  EXPECT_EQ(std::tuple(moved.sonCursor, moved.params.get(), moved.scriptObjects, moved.transferId),
            std::tuple(cursor, params, std::vector<std::int32_t>{42, 43}, 17));
  ASSERT_NE(moved.transferAttrs(), nullptr);
  EXPECT_EQ(element(5).transferAttrs()->name, "attr");
  EXPECT_EQ(sonList(5), (std::vector<Index>{6, 7}));
  EXPECT_EQ(element(6).fathers->index, 5);

  // Growing one element at a time: every new slot is empty, and the links
  // made so far survive.
  fresh(100);
  for (Index i = 1; i <= 6000; ++i) {
    ASSERT_EQ(newIndex(), i);
    ElementRecord& e = element(i);
    ASSERT_TRUE(e.type == 0 && e.sons == nullptr && e.fathers == nullptr &&
                e.scriptObjects.empty() && e.transferId == 0 && !e.params)
        << i;
    e.type = 402;
    e.transferId = i;
    if (i > 1) {
      ASSERT_EQ(linkFatherSon(i - 1, i), 0);
    }
  }
  bool intact = true;
  for (Index i = 2; i <= 6000; ++i) {
    intact = intact && element(i).fathers != nullptr && element(i).fathers->index == i - 1 &&
             element(i - 1).sons != nullptr && element(i - 1).sons->index == i &&
             element(i).transferId == i;
  }
  EXPECT_TRUE(intact);

  // The capacity is that of the file and grows in its steps of 500; a
  // record never moves while the table grows, far past the room asked for.
  freeTable();
  ASSERT_EQ(allocateTable(1000, 600), 0);
  EXPECT_EQ(elementTable().capacity, 1001);
  const ElementRecord* first = &element(1);
  for (Index i = 1; i <= 1500; ++i) ASSERT_EQ(newIndex(), i);
  EXPECT_EQ(elementTable().capacity, 1501);
  const ElementRecord* last = &element(1500);
  for (Index i = 1501; i <= 20000; ++i) ASSERT_EQ(newIndex(), i);
  EXPECT_EQ(&element(1), first);
  EXPECT_EQ(&element(1500), last);
  EXPECT_EQ(elementTable().capacity, 20001);

  // A table that was never made (or was freed) still hands out slot 1.
  freeTable();
  EXPECT_EQ(newIndex(), 1);
  EXPECT_EQ(newIndex(), 2);
}

// The blocks of records grow in uneven steps over many runs of memory: a
// record keeps its place and its contents, every new one is empty, and a
// move hands all of them over.
TEST(RecordBlocksTest, GrowthKeepsRecordsInPlace) {
  RecordBlocks blocks;
  std::vector<const ElementRecord*> places;
  std::mt19937 random(7);
  for (int step = 0; step < 60; ++step) {
    const std::int64_t wanted =
        static_cast<std::int64_t>(places.size()) + 1 + static_cast<std::int64_t>(random() % 3000);
    ASSERT_TRUE(blocks.holdAtLeast(wanted));
    ASSERT_GE(blocks.size(), wanted);
    ASSERT_EQ(blocks.size() % RecordBlocks::kPerBlock, 0);
    for (auto i = static_cast<std::int32_t>(places.size()); i < blocks.size(); ++i) {
      ElementRecord& e = blocks[i];
      ASSERT_TRUE(e.type == 0 && e.state == 0 && e.sons == nullptr && !e.params) << i;
      e.type = i;
      e.sideRecord().transferAttrs = std::make_unique<TransferAttributes>();  // freed with the blocks
      places.push_back(&e);
    }
  }
  RecordBlocks moved(std::move(blocks));
  EXPECT_FALSE(blocks);
  EXPECT_EQ(moved.size(), static_cast<std::int64_t>(places.size()));
  bool same = true;
  for (std::size_t i = 0; i < places.size(); ++i) {
    const auto index = static_cast<std::int32_t>(i);
    same = same && &moved[index] == places[i] && moved[index].type == index && moved[index].transferAttrs();
  }
  EXPECT_TRUE(same);
  blocks = std::move(moved);
  EXPECT_EQ(blocks.size(), static_cast<std::int64_t>(places.size()));
  blocks.reset();
  EXPECT_EQ(blocks.size(), 0);
}

TEST_F(ElementTableTest, SonsAreOrderedByPriority) {
  const auto [group, sub, plane, line, arc] = adds(402, 402, 108, 110, 100);
  const Index conicForm1 = add(104, 1);
  const Index conic = add(104, 0);
  const Index copious40 = add(106, 40);
  const Index copious = add(106, 1);

  link(group, sub);
  link(group, plane);  // a plane goes before the group already there
  EXPECT_EQ(sonList(group), (std::vector<Index>{plane, sub}));
  link(group, line);
  link(group, arc);  // equal keys keep link order
  links({{group, conicForm1}, {group, copious40}});
  ASSERT_EQ(linkFatherSon(group, 0), 0);  // a null pointer of the parameter data
  links({{group, conic}, {group, copious}});
  EXPECT_EQ(sonList(group),
            (std::vector<Index>{plane, sub, copious, conic, line, arc, conicForm1, copious40, LinkIndex::kNull}));
  EXPECT_EQ(keyList(group), (std::vector<std::int32_t>{0, 8, 18, 19, 99, 99, 99, 99, 99}));
  EXPECT_EQ(element(plane).fathers->index, group);
  // nextSon steps over the null son.
  int last = 0;
  EXPECT_EQ(walkSons(group, &last),
            (std::vector<Index>{plane, sub, copious, conic, line, arc, conicForm1, copious40}));
  EXPECT_EQ(last, -1);

  // appendSon keeps file order and links no father.
  const Index curve = add(102);
  ASSERT_EQ(appendSon(curve, line), 0);
  ASSERT_EQ(appendSon(curve, plane), 0);
  ASSERT_EQ(appendSon(curve, 0), 0);
  ASSERT_EQ(appendSon(curve, sub), 0);
  EXPECT_EQ(sonList(curve), (std::vector<Index>{line, plane, LinkIndex::kNull, sub}));
  EXPECT_EQ(element(curve).sonCount, 4);
  EXPECT_EQ(element(line).fatherCount, 1);  // only the group
  EXPECT_EQ(walkSons(curve), (std::vector<Index>{line, plane, sub}));
}

TEST_F(ElementTableTest, LongSonListsMatchTheReferenceOrder) {
  fresh(4000);
  struct Kind {
    std::int32_t type;
    std::int32_t form;
  };
  const Kind kinds[] = {{108, 0}, {118, 0}, {404, 0}, {410, 0}, {120, 0}, {122, 0}, {408, 0},
                        {308, 0}, {402, 0}, {230, 0}, {102, 0}, {210, 0}, {216, 0}, {206, 0},
                        {202, 0}, {222, 0}, {218, 0}, {220, 0}, {106, 1}, {104, 0}, {112, 0},
                        {110, 0}, {100, 0}, {116, 0}, {124, 0}, {104, 1}, {106, 40}, {444, 0}};
  std::mt19937 rng(20061);
  std::vector<Index> pool(300);
  for (Index& p : pool) {
    const Kind& k = kinds[rng() % std::size(kinds)];
    p = add(k.type, k.form);
  }
  auto pickSon = [&]() -> Index { return rng() % 25 == 0 ? 0 : pool[rng() % pool.size()]; };
  auto keyOf = [&](Index son, bool output, bool plus) -> std::int32_t {
    return son == 0 ? 99 : expectedKey(element(son).type, element(son).form, output, plus);
  };
  auto storedIndex = [](Index son) { return son == 0 ? LinkIndex::kNull : son; };

  // Only insertions by priority: a stable sort of the link order by key.
  for (int round = 0; round < 4; ++round) {
    const bool output = round >= 2;
    const bool plus = round == 3;
    runState().runMode = output ? (RunModeBit::kOutput | (plus ? RunModeBit::kPlus : 0)) : RunModeBit::kInput;
    const Index father = add(402);
    std::vector<RefNode> linked;
    for (int n = 0; n < 200; ++n) {
      const Index son = pickSon();
      ASSERT_EQ(linkSon(father, son, 'f'), 0);
      linked.push_back({storedIndex(son), keyOf(son, output, plus)});
    }
    std::stable_sort(linked.begin(), linked.end(), [](const RefNode& a, const RefNode& b) { return a.key < b.key; });
    EXPECT_EQ(storedList(father), linked) << "round " << round;
    EXPECT_EQ(element(father).sonCount, 200);
  }
  runState().runMode = RunModeBit::kInput;

  // Insertions by priority mixed with appends, on lists of every length
  // around the point where the list starts keeping its run tails.
  for (int length : {1, 5, 7, 8, 9, 12, 17, 40, 200}) {
    for (int appendShare : {0, 2, 10, 50}) {
      const Index father = add(402);
      std::vector<RefNode> reference;
      for (int n = 0; n < length; ++n) {
        const Index son = pickSon();
        const RefNode node{storedIndex(son), keyOf(son, false, false)};
        if (static_cast<int>(rng() % 100) < appendShare) {
          ASSERT_EQ(appendSon(father, son), 0);
          reference.push_back(node);
        } else {
          ASSERT_EQ(linkSon(father, son, 'f'), 0);
          referenceInsert(reference, node);
        }
      }
      ASSERT_EQ(storedList(father), reference) << "length " << length << " appends " << appendShare << "%";
      EXPECT_EQ(element(father).sonCount, length);
    }
  }

  // A long list that was appended in priority order stays usable for
  // insertions by priority.
  const Index father = add(402);
  std::vector<RefNode> reference;
  std::vector<Index> sorted(pool.begin(), pool.begin() + 60);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [&](Index a, Index b) { return keyOf(a, false, false) < keyOf(b, false, false); });
  for (Index son : sorted) {
    ASSERT_EQ(appendSon(father, son), 0);
    reference.push_back({son, keyOf(son, false, false)});
  }
  for (int n = 0; n < 60; ++n) {
    const Index son = pickSon();
    ASSERT_EQ(linkSon(father, son, 'f'), 0);
    referenceInsert(reference, {storedIndex(son), keyOf(son, false, false)});
  }
  EXPECT_EQ(storedList(father), reference);
}

TEST_F(ElementTableTest, LinksOutsideTheTableAreRefused) {
  for (int i = 0; i < 5; ++i) add(110);
  const Index group = 1;
  element(group).type = 402;
  EXPECT_EQ(linkSon(group, 7, 'f'), -1);
  EXPECT_EQ(linkSon(group, -1, 'f'), -1);
  EXPECT_EQ(linkSon(7, 2, 'v'), -1);
  EXPECT_EQ(linkFatherSon(group, 100000), -1);
  EXPECT_EQ(linkFatherSon(-5, 2), -1);
  EXPECT_EQ(appendSon(group, 8), -1);
  EXPECT_EQ(appendSon(-2, 3), -1);
  EXPECT_EQ(mfaCounts().errors, 7);
  EXPECT_EQ(std::tuple(element(group).sons == nullptr, element(group).sonCount, element(2).fathers == nullptr,
                       element(3).fatherCount),
            std::tuple(true, 0, true, 0));

  // 0 .. lastIndex+1 are accepted.
  EXPECT_EQ(linkSon(group, 6, 'f'), 0);
  EXPECT_EQ(linkSon(group, 0, 'f'), 0);
  EXPECT_EQ(sonList(group), (std::vector<Index>{6, LinkIndex::kNull}));
  EXPECT_EQ(element(6).fathers, nullptr);  // mode 'f' links the son only
  EXPECT_EQ(linkSon(group, 2, 'v'), 0);    // any other mode links the father only
  EXPECT_EQ(element(2).fathers->index, group);
  EXPECT_EQ(element(2).fatherCount, 1);
  EXPECT_EQ(element(group).sonCount, 2);
  EXPECT_EQ(mfaCounts().errors, 7);

  // lastIndex+1 beyond the end of the array is refused, not written.
  fresh(3);
  for (int i = 0; i < 3; ++i) add(110);
  EXPECT_EQ(linkFatherSon(1, 4), -1);
  EXPECT_EQ(linkFatherSon(4, 1), -1);
  EXPECT_EQ(element(1).sons, nullptr);
  EXPECT_EQ(element(1).fathers, nullptr);
  EXPECT_EQ(mfaCounts().errors, 2);
}

TEST_F(ElementTableTest, NextSonFatherCursorsAndSonsOfType) {
  const auto [top, group, line, arc, line2, empty, lone, leaf] = adds(404, 402, 110, 100, 110, 402, 402, 110);
  links({{top, group}, {group, line}, {group, 0}, {group, arc}, {group, line2}, {lone, leaf}});

  SonResult r;
  EXPECT_EQ(nextSon(empty, r), -3);
  element(group).sonCursor = element(group).sons;
  ASSERT_EQ(nextSon(group, r), 0);
  EXPECT_EQ(r.index, line);
  EXPECT_EQ(r.deNumber, deNumberOf(line));
  ASSERT_NE(element(line).fatherCursor, nullptr);
  EXPECT_EQ(element(line).fatherCursor, element(line).fathers);
  ASSERT_EQ(nextSon(group, r), 0);  // the null son is stepped over
  EXPECT_EQ(r.index, arc);
  ASSERT_EQ(nextSon(group, r), 0);
  EXPECT_EQ(r.index, line2);
  EXPECT_EQ(nextSon(group, r), -2);  // exhausted, the group has a father
  EXPECT_EQ(nextSon(group, r), -2);
  element(lone).sonCursor = element(lone).sons;
  ASSERT_EQ(nextSon(lone, r), 0);
  EXPECT_EQ(nextSon(lone, r), -1);  // exhausted, no father

  // Sons of a type: firstSonOfType does not look at the cursor.
  EXPECT_EQ(firstSonOfType(group, 110), line);
  EXPECT_EQ(firstSonOfType(group, 100), arc);
  EXPECT_EQ(firstSonOfType(top, 402), group);
  EXPECT_EQ(firstSonOfType(empty, 110), 0);

  // The output direction hands out the son's type and identifier.
  runState().runMode = RunModeBit::kOutput;
  element(line).transferId = 5001;
  element(group).sonCursor = element(group).sons;
  ASSERT_EQ(nextSon(group, r), 0);
  EXPECT_EQ(r.index, line);
  EXPECT_EQ(r.type, 110);
  EXPECT_EQ(r.id, 5001);

  // The father cursor names the father walked through, among few or many.
  {
    fresh(200);
    const Index son = add(110);
    std::vector<Index> fathers;
    for (int i = 0; i < 40; ++i) fathers.push_back(add(402));
    // Few fathers first (plain search of the list), then many (lookup).
    for (std::size_t count : {std::size_t{3}, std::size_t{40}}) {
      for (auto f = static_cast<std::size_t>(element(son).fatherCount); f < count; ++f) link(fathers[f], son);
      for (std::size_t f = 0; f < count; ++f) {
        SonResult r;
        element(fathers[f]).sonCursor = element(fathers[f]).sons;
        ASSERT_EQ(nextSon(fathers[f], r), 0);
        ASSERT_EQ(r.index, son);
        ASSERT_NE(element(son).fatherCursor, nullptr);
        EXPECT_EQ(element(son).fatherCursor->index, fathers[f]) << count << " fathers, father " << f;
      }
    }
    // A father listed twice: the cursor names its newest node.
    for (Index twice : {fathers[2], fathers[30]}) {
      link(twice, son);
      const LinkNode* newest = element(son).fathers;
      ASSERT_EQ(newest->index, twice);
      SonResult r;
      element(twice).sonCursor = element(twice).sons;
      ASSERT_EQ(nextSon(twice, r), 0);
      EXPECT_EQ(element(son).fatherCursor, newest);
      element(twice).sonCursor2 = element(twice).sons;
      element(son).fatherCursor = nullptr;
      Index de = 0;
      Index index = 0;
      ASSERT_EQ(nextDescendant(twice, de, index), 0);
      EXPECT_EQ(index, son);
      EXPECT_EQ(element(son).fatherCursor, newest);
    }
    EXPECT_EQ(element(son).fatherCount, 42);
    // The same when the father was listed twice before the list grew long.
    const Index shared = add(110);
    for (int f = 0; f < 20; ++f) link(fathers[f], shared);
    link(fathers[4], shared);
    for (int f = 20; f < 30; ++f) link(fathers[f], shared);
    const LinkNode* newest4 = nullptr;
    for (const LinkNode* n = element(shared).fathers; n != nullptr && newest4 == nullptr; n = n->next) {
      if (n->index == fathers[4]) newest4 = n;
    }
    ASSERT_NE(newest4, nullptr);
    ASSERT_NE(newest4->next, nullptr);
    element(fathers[4]).sonCursor = element(fathers[4]).sons;
    SonResult r4;
    while (nextSon(fathers[4], r4) == 0 && r4.index != shared) {
    }
    ASSERT_EQ(r4.index, shared);
    EXPECT_EQ(element(shared).fatherCursor, newest4);
    // A son reached from an element that is not among its fathers has no
    // father cursor.
    const Index other = add(402);
    ASSERT_EQ(appendSon(other, son), 0);
    SonResult r;
    element(other).sonCursor = element(other).sons;
    ASSERT_EQ(nextSon(other, r), 0);
    EXPECT_EQ(element(son).fatherCursor, nullptr);
  }
}

TEST_F(ElementTableTest, NextDescendantReturnsLeavesFirst) {
  const auto [root, groupA, a1, a2, b, subfigure, s1, curve, c1, groupD, d1] =
      adds(402, 402, 110, 100, 110, 308, 110, 102, 110, 402, 110);
  links({{root, groupA}, {groupA, a1}, {groupA, a2}, {root, b}, {root, subfigure}, {subfigure, s1},
         {root, curve}, {curve, c1}, {curve, 0}, {curve, groupD}, {groupD, d1}});
  const Index elsewhere = add(402);
  link(elsewhere, d1);  // d1's newest father is not the one walked through
  link(elsewhere, a1);
  for (Index i = 1; i <= elementTable().lastIndex; ++i) resetSonCursors(i);

  // Root's sons by priority: subfigure (its sons are its own), group A,
  // the curve (its own sons: group D, c1, null), b.
  const std::vector<Index> expected{subfigure, a1, a2, groupA, d1, groupD, c1, curve, b};
  EXPECT_EQ(walkDescendants(root), expected);
  EXPECT_EQ(std::tuple(element(a1).fatherCursor->index, element(d1).fatherCursor->index,
                       element(groupD).fatherCursor->index, element(subfigure).fatherCursor->index),
            std::tuple(groupA, groupD, curve, root));
  Index de = 7;
  Index index = 7;
  EXPECT_EQ(nextDescendant(root, de, index), -1);
  EXPECT_EQ(nextDescendant(root, de, index), -1);

  // Resetting the start element's cursor starts again from its first son;
  // the sons' own cursors are exhausted, so they come back as they are.
  resetSonCursors(root);
  EXPECT_EQ(walkDescendants(root), (std::vector<Index>{subfigure, groupA, curve, b}));
  element(root).sonCursor2 = element(root).sons;
  ASSERT_EQ(nextDescendant(root, de, index), 0);
  EXPECT_EQ(index, subfigure);
  // With every cursor reset the whole walk comes again, also when another
  // walk ran in between.
  setStateDeep(root, 'w');
  ASSERT_EQ(nextDescendant(root, de, index), 0);
  EXPECT_EQ(index, subfigure);
  ASSERT_EQ(nextDescendant(root, de, index), 0);
  EXPECT_EQ(index, a1);
  EXPECT_EQ(walkDescendants(groupD), (std::vector<Index>{d1}));
  EXPECT_EQ(walkDescendants(root), (std::vector<Index>{a2, groupA, groupD, c1, curve, b}));
  EXPECT_EQ(walkDescendants(a1), std::vector<Index>{});

  // Cursors changed in the middle of a walk: the walk goes on from the
  // cursors as they now stand.
  const auto [t, u, z, v, v1, w, w1, w2] = adds(402, 402, 110, 402, 110, 402, 110, 110);
  links({{t, u}, {t, z}, {u, v}, {u, w}, {v, v1}, {w, w1}, {w, w2}});
  for (Index i : {t, u, v, w}) resetSonCursors(i);
  EXPECT_EQ(walkDescendants(t, 3), (std::vector<Index>{v1, v, w1}));
  resetSonCursors(u);  // back to v, whose own sons are done
  EXPECT_EQ(walkDescendants(t, 2), (std::vector<Index>{v, w2}));
  element(t).sonCursor2 = element(t).sons->next;  // straight to z
  EXPECT_EQ(walkDescendants(t), (std::vector<Index>{z}));

  // A cycle ends.
  const Index x = add(402);
  const Index y = add(402);
  links({{x, y}, {y, x}});
  resetSonCursors(x);
  resetSonCursors(y);
  EXPECT_EQ(walkDescendants(x), (std::vector<Index>{y}));
  // So does an element that is its own son.
  const Index self = add(402);
  const Index selfLeaf = add(110);
  links({{self, self}, {self, selfLeaf}});
  resetSonCursors(self);
  EXPECT_EQ(walkDescendants(self), (std::vector<Index>{selfLeaf}));

  // A chain of 100000 nested groups is walked to its end, deepest first.
  {
    constexpr Index kDepth = 100000;
    fresh(kDepth);
    for (Index i = 1; i <= kDepth; ++i) add(402);
    for (Index i = 1; i < kDepth; ++i) ASSERT_EQ(linkFatherSon(i, i + 1), 0);
    for (Index i = 1; i <= kDepth; ++i) resetSonCursors(i);
    Index de = 0;
    Index index = 0;
    Index expected = kDepth;
    bool inOrder = true;
    while (nextDescendant(1, de, index) == 0) {
      inOrder = inOrder && index == expected && de == deNumberOf(expected);
      --expected;
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(expected, 1);  // every element below the start, deepest first
    EXPECT_EQ(element(kDepth).fatherCursor->index, kDepth - 1);

    // The deep chain does not trouble the other tree walks either.
    EXPECT_EQ(hasNoAncestorOfType(kDepth, 404), 1);
    element(1).type = 404;
    EXPECT_EQ(hasNoAncestorOfType(kDepth, 404), 0);
    setStateDeep(1, 'i');
    EXPECT_EQ(element(kDepth).state, 'i');
    EXPECT_EQ(elementTable().processedCount, kDepth);
  }
}

TEST_F(ElementTableTest, AncestorQueriesOverSharedAndCyclicFathers) {
  const auto [subfigure, group, line, loose] = adds(308, 402, 110, 110);
  links({{subfigure, group}, {group, line}});
  // The element itself does not count.
  EXPECT_EQ(noAncestor({{line, 308}, {line, 402}, {line, 102}, {line, 999}, {group, 402}, {subfigure, 308},
                        {loose, 308}}),
            (std::vector<int>{0, 0, 1, 1, 1, 1, 1}));
  // A link made after a query is seen by the next one.
  const Index curve = add(102);
  link(curve, loose);
  EXPECT_EQ(noAncestor({{loose, 102}, {line, 102}}), (std::vector<int>{0, 1}));
  const Index outer = add(102);
  const Index spare = add(308);
  EXPECT_EQ(noAncestor({{line, 102}, {loose, 308}}), (std::vector<int>{1, 1}));
  link(outer, subfigure);  // no new element, only a new link
  link(spare, curve);
  EXPECT_EQ(noAncestor({{line, 102}, {loose, 308}}), (std::vector<int>{0, 0}));

  // Type 0: no father, or a 406 property as first (newest) father.
  const Index property = add(406);
  const Index named = add(110);
  EXPECT_EQ(hasNoAncestorOfType(named, 0), 1);
  link(group, named);
  EXPECT_EQ(hasNoAncestorOfType(named, 0), 0);
  link(property, named);
  EXPECT_EQ(hasNoAncestorOfType(named, 0), 1);
  link(group, named);
  EXPECT_EQ(hasNoAncestorOfType(named, 0), 0);

  // A cyclic father graph ends.
  const Index p = add(110);
  const Index q = add(110);
  links({{p, q}, {q, p}});
  EXPECT_EQ(noAncestor({{p, 404}, {p, 308}}), (std::vector<int>{1, 1}));
  const Index drawing = add(404);
  link(drawing, q);
  EXPECT_EQ(hasNoAncestorOfType(p, 404), 0);

  // Forty levels of two elements, each father of both elements of the next
  // level: 2^40 paths, but an answer at once.
  fresh(200);
  std::vector<Index> level{add(404), add(308)};
  const Index top0 = level[0];
  for (int depth = 1; depth < 40; ++depth) {
    std::vector<Index> next{add(110), add(110)};
    for (Index f : level) {
      for (Index s : next) link(f, s);
    }
    level = next;
  }
  EXPECT_EQ(noAncestor({{level[1], 404}, {level[1], 308}, {level[1], 999}, {level[1], 402}, {top0, 308}}),
            (std::vector<int>{0, 0, 1, 1, 1}));
}

// Builds the table of the conversion-order test; returns the indices by name.
std::map<std::string, Index> buildConversionTable() {
  const struct {
    const char* name;
    std::int32_t type, form;
    const char* father;  // linked as its son, or nullptr
  } rows[] = {
      {"matrix", 124, 0, nullptr},        {"line", 110, 0, nullptr},          {"group13", 402, 13, nullptr},
      {"layer", 8888, 0, nullptr},        {"instance", 408, 0, nullptr},      {"definition", 308, 0, "instance"},
      {"definition2", 308, 0, nullptr},   {"nestedDefinition", 308, 0, "definition2"},
      {"group", 402, 0, nullptr},         {"area", 230, 0, "group"},          {"curve", 102, 0, "group"},
      {"dimension", 444, 0, nullptr},     {"d220", 220, 0, nullptr},          {"d218", 218, 0, nullptr},
      {"d210", 210, 0, nullptr},          {"d206", 206, 0, nullptr},          {"d202", 202, 0, nullptr},
      {"d222", 222, 0, nullptr},          {"d216", 216, 0, nullptr},          {"property", 406, 0, nullptr},
      {"named", 100, 0, "property"},      {"namedSon", 110, 0, "named"},      {"spline", 112, 0, nullptr},
      {"splineSon", 110, 0, "spline"},    {"innerGroup", 402, 0, "group"},    {"innerCurve", 102, 0, "curve"},
      {"matrix2", 124, 0, nullptr},       {"registered", 110, 0, nullptr},
  };
  std::map<std::string, Index> n;
  for (const auto& row : rows) {
    const Index i = newIndex();
    element(i).type = row.type;
    element(i).form = row.form;
    element(i).transferId = 1000 + i;
    n[row.name] = i;
    if (row.father != nullptr) {
      EXPECT_EQ(linkFatherSon(n.at(row.father), i), 0);
    }
  }
  setStateRaw(n["registered"], 'r');
  return n;
}

TEST_F(ElementTableTest, ConversionOrder) {
  auto n = buildConversionTable();
  const std::vector<Index> expected{
      n["layer"], n["instance"], n["definition"], n["definition2"], n["group"], n["area"], n["curve"],
      n["group13"], n["innerGroup"], n["dimension"], n["d216"], n["d222"], n["d202"], n["d206"],
      n["d210"], n["d218"], n["d220"], n["property"], n["named"], n["spline"], n["line"],
      n["nestedDefinition"], n["namedSon"], n["splineSon"], n["innerCurve"]};
  ConvertPick pick;
  std::vector<Index> order;
  while (order.size() < 100 && nextToConvert(pick) == 0) {
    EXPECT_EQ(pick.deNumberOrType, deNumberOf(pick.index));
    EXPECT_EQ(pick.id, 0);
    order.push_back(pick.index);
    setState(pick.index, 'd');
  }
  EXPECT_EQ(order, expected);
  EXPECT_EQ(pick.index, -1);
  EXPECT_EQ(nextToConvert(pick), -1);
  EXPECT_EQ(element(n["matrix"]).state, 'w');
  EXPECT_EQ(element(n["registered"]).state, 'r');

  // The cursors stay where they stopped: elements waiting again are not
  // taken before the cursors are reset.
  markAll('w');
  EXPECT_EQ(element(n["registered"]).state, 'w');
  EXPECT_EQ(element(n["definition"]).state, 'd');  // subfigure definitions are not marked
  EXPECT_EQ(nextToConvert(pick), -1);
  resetCursors();
  // All again but the three definitions, and the element that was only registered.
  EXPECT_EQ(conversionOrder('d').size(), expected.size() - 3 + 1);

  // Without state changes each step hands out an element once: the layer
  // element comes from its own step and from the last one.
  fresh(64);
  n = buildConversionTable();
  const std::vector<Index> repeated = conversionOrder(0);
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), n["layer"]), 2);
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), n["d220"]), 2);
  // A group: step of groups without a group above, step of all groups,
  // elements with sons and no father, all elements.
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), n["group"]), 4);
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), n["matrix"]), 0);
  EXPECT_EQ(std::count(repeated.begin(), repeated.end(), n["registered"]), 0);

  // The output direction takes a group of form 13 with the other groups and
  // hands out type and identifier.
  fresh(64);
  runState().runMode = RunModeBit::kOutput;
  n = buildConversionTable();
  std::vector<Index> outputOrder;
  while (outputOrder.size() < 100 && nextToConvert(pick) == 0) {
    EXPECT_EQ(pick.deNumberOrType, element(pick.index).type);
    EXPECT_EQ(pick.id, 1000 + pick.index);
    outputOrder.push_back(pick.index);
    setState(pick.index, 'd');
  }
  ASSERT_GE(outputOrder.size(), 6u);
  EXPECT_EQ(outputOrder[4], n["group13"]);
  EXPECT_EQ(outputOrder[5], n["group"]);
  EXPECT_EQ(outputOrder.size(), expected.size());
}

// A table long enough for the per-step lists of the conversion order:
// elements added after the first pick are still taken in their own step,
// both while few (passed over one by one) and once they outnumber the
// listed ones; a step that finds nothing leaves its cursor behind the last
// element.
TEST_F(ElementTableTest, ConversionOrderTakesElementsAddedAfterTheFirstPick) {
  fresh(8);
  std::vector<Index> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back(add(110));
  const Index layer = add(IgesType::kLayer);
  const Index group = add(402);
  ConvertPick pick;
  ASSERT_EQ(nextToConvert(pick), 0);
  EXPECT_EQ(pick.index, layer);
  setState(layer, 'd');
  const Index lateLayer = add(IgesType::kLayer);
  ASSERT_EQ(nextToConvert(pick), 0);
  EXPECT_EQ(pick.index, lateLayer);
  setState(lateLayer, 'd');
  for (int i = 0; i < 5000; ++i) lines.push_back(add(110));
  const Index lastLayer = add(IgesType::kLayer);

  std::vector<Index> expected{lastLayer, group};
  expected.insert(expected.end(), lines.begin(), lines.end());
  EXPECT_EQ(conversionOrder('d', 20000), expected);
  EXPECT_EQ(elementTable().cursors[0], elementTable().lastIndex + 1);
}

TEST_F(ElementTableTest, StatesProgressAndResultMapping) {
  for (int i = 0; i < 4; ++i) add(110);
  gPercents.clear();
  elementTable().progressDisplay = recordPercent;
  setState(1, 'd');
  EXPECT_EQ(elementTable().processedCount, 1);
  setState(1, 'e');  // not waiting any more: no count
  setState(2, 'r');  // registering is no progress
  setState(2, 'w');
  EXPECT_EQ(elementTable().processedCount, 1);
  setState(2, 'r');
  setState(2, 'i');  // leaving 'r' counts
  setStateRaw(3, 'c');  // raw: no count
  EXPECT_EQ(element(3).state, 'c');
  setState(4, 'o');
  EXPECT_EQ(elementTable().processedCount, 3);
  EXPECT_EQ(gPercents, (std::vector<int>{25, 50, 75}));
  elementTable().progressOn = 0;
  setState(3, 'w');
  setState(3, 'd');
  EXPECT_EQ(elementTable().processedCount, 3);
  EXPECT_EQ(gPercents.size(), 3u);
  elementTable().progressOn = 1;

  // Converter results.
  fresh(64);
  for (int i = 0; i < 6; ++i) add(110);
  EXPECT_EQ(setStateFromResult(1, 0, "tst001"), 0);
  EXPECT_EQ(setStateFromResult(2, -99, "tst001"), 0);
  EXPECT_EQ(setStateFromResult(3, -88, "tst001"), 0);
  EXPECT_EQ(mfaCounts().errors, 0);
  EXPECT_EQ(setStateFromResult(4, -1, "tst001"), 0);
  EXPECT_EQ(mfaCounts().errors, 1);
  EXPECT_EQ(setStateFromResult(5, 5, "tst001"), 0);
  EXPECT_EQ(setStateFromResult(6, -10, nullptr), 0);
  EXPECT_EQ(mfaCounts().errors, 3);
  std::string states;
  for (Index i = 1; i <= 6; ++i) states += element(i).state;
  EXPECT_EQ(states, "diceee");
  EXPECT_EQ(elementTable().processedCount, 6);
  // Out of range indices are no elements: nothing happens.
  EXPECT_EQ(setState(-1, 'd'), 0);
  EXPECT_EQ(setState(100000, 'd'), 0);
  EXPECT_EQ(setStateRaw(-4, 'd'), 0);
}

TEST_F(ElementTableTest, EveryFailedElementIsOneCountedError) {
  // However an element came into the error state (a converter result, a
  // state set directly, raw or over a tree), the end of the run reports
  // it once; what was reported already is not reported again.
  for (int i = 0; i < 7; ++i) add(110);
  link(6, 7);
  setStateFromResult(1, -1, "tst001");  // reported here
  setStateFromResult(2, 5, "tst001");   // unexpected result: reported here
  setState(3, ElementState::kError);
  setStateRaw(4, ElementState::kError);
  setState(5, ElementState::kDone);
  setStateDeep(6, ElementState::kError);
  reportElementFailure(1, "tst001");
  EXPECT_EQ(mfaCounts().errors, 2);
  EXPECT_EQ(reportUnreportedFailures(), 4);  // 3, 4, 6 and its son 7
  EXPECT_EQ(mfaCounts().errors, 6);
  EXPECT_EQ(reportUnreportedFailures(), 0);
  EXPECT_EQ(mfaCounts().errors, 6);
  int failed = 0;
  for (Index i = 1; i <= elementTable().lastIndex; ++i) failed += element(i).state == ElementState::kError;
  EXPECT_EQ(failed, mfaCounts().errors);
}

TEST_F(ElementTableTest, DeepStatesOverSharedSonsAndCycles) {
  const auto [root, a, b, shared, done, underDone] = adds(402, 402, 402, 110, 402, 110);
  links({{root, a}, {root, b}, {root, 0}, {a, shared}, {b, shared}});
  link(shared, root);  // a cycle back to the top
  links({{b, done}, {done, underDone}});
  setStateRaw(done, 'd');
  element(shared).scriptObjects = {3, 4};

  setStateDeep(root, 'i');
  // An element not waiting is left alone and not entered.
  EXPECT_EQ(statesOf({root, a, b, shared, done, underDone}), "iiiidw");
  EXPECT_EQ(elementTable().processedCount, 4);
  EXPECT_EQ(element(shared).scriptObjects, (std::vector<std::int32_t>{3, 4}));

  // 'w' goes into every son, resets cursors and forgets what was written.
  element(a).sonCursor = nullptr;
  element(a).sonCursor2 = nullptr;
  element(shared).fatherCursor = nullptr;
  setStateDeep(root, 'w');
  for (Index i : {root, a, b, shared, done, underDone}) EXPECT_EQ(element(i).state, 'w') << i;
  EXPECT_EQ(std::tuple(element(a).sonCursor, element(a).sonCursor2), std::tuple(element(a).sons, element(a).sons));
  EXPECT_EQ(element(shared).fatherCursor, element(shared).fathers);
  EXPECT_TRUE(element(shared).scriptObjects.empty());

  const std::int32_t countedBefore = elementTable().processedCount;
  setStateDeepKeepSelf(root, 'c');
  EXPECT_EQ(element(root).state, 'w');
  for (Index i : {a, b, shared, done, underDone}) EXPECT_EQ(element(i).state, 'c') << i;
  // The element that kept its state is not counted as processed.
  EXPECT_EQ(elementTable().processedCount, countedBefore + 5);
  setStateDeep(a, 'w');
  // The root is reached through the cycle.
  EXPECT_EQ(statesOf({a, shared, root, b}), "wwww");

  // markAll skips matrices, colours, drawings, views, groups of forms 3
  // and 4, and subfigure definitions with everything under them.
  fresh(64);
  const auto [matrix, colour, drawing, view] = adds(124, 314, 404, 410);
  const Index group3 = add(402, 3);
  const Index group4 = add(402, 4);
  const auto [group, line, definition, member, memberSon, instance, both] =
      adds(402, 110, 308, 110, 100, 408, 110);
  links({{group, line}, {definition, member}, {member, memberSon}, {instance, definition}, {group, both},
         {definition, both}});
  const std::vector<Index> skipped{matrix, colour, drawing, view, group3, group4};
  const std::vector<Index> subfigure{definition, member, memberSon, both};
  markAll('d');
  for (Index i : skipped) EXPECT_EQ(element(i).state, 'w') << i;
  for (Index i : subfigure) EXPECT_EQ(element(i).state, 'w') << i;
  for (Index i : {group, line, instance}) EXPECT_EQ(element(i).state, 'd') << i;

  runSettings().userElementMode = 2;
  markAll('i');
  for (Index i : skipped) EXPECT_EQ(element(i).state, 'w') << i;
  for (Index i : subfigure) EXPECT_EQ(element(i).state, 'i') << i;
  for (Index i : {group, line, instance}) EXPECT_EQ(element(i).state, 'i') << i;

  element(group).sonCursor = nullptr;
  element(group).sonCursor2 = nullptr;
  element(line).fatherCursor = nullptr;
  element(line).scriptObjects = {8, 9};
  markAll('w');
  const ElementRecord& g = element(group);
  EXPECT_EQ(std::tuple(g.sonCursor, g.sonCursor2), std::tuple(g.sons, g.sons));
  EXPECT_EQ(element(line).fatherCursor, element(line).fathers);
  EXPECT_TRUE(element(line).scriptObjects.empty());
  // The output direction keeps the identifier.
  runState().runMode = RunModeBit::kOutput;
  element(line).transferId = 77;
  markAll('w');
  EXPECT_EQ(element(line).transferId, 77);
}

TEST_F(ElementTableTest, MatrixChain) {
  const auto [line, inner, outer] = adds(110, 124, 124);
  element(line).de.matrixPointer = deNumberOf(inner);
  element(inner).de.matrixPointer = deNumberOf(outer);
  std::vector<Index> chain{99};
  EXPECT_EQ(matrixChain(line, chain), 0);
  EXPECT_EQ(chain, (std::vector<Index>{outer, inner}));
  EXPECT_EQ(matrixChain(inner, chain), 0);
  EXPECT_EQ(chain, (std::vector<Index>{outer}));
  const Index plain = add(110);
  EXPECT_EQ(matrixChain(plain, chain), 0);
  EXPECT_TRUE(chain.empty());
  EXPECT_EQ(mfaCounts().errors + mfaCounts().warnings, 0);

  // A negative pointer is a warning and still resolves.
  const Index negative = add(100);
  element(negative).de.matrixPointer = -deNumberOf(inner);
  EXPECT_EQ(matrixChain(negative, chain), 0);
  EXPECT_EQ(chain, (std::vector<Index>{outer, inner}));
  EXPECT_EQ(mfaCounts().warnings, 1);
  EXPECT_EQ(mfaCounts().errors, 0);

  // A pointer to something that is not a matrix abandons the chain.
  const Index wrong = add(110);
  element(wrong).de.matrixPointer = deNumberOf(line);
  EXPECT_EQ(matrixChain(wrong, chain), -1);
  EXPECT_TRUE(chain.empty());
  EXPECT_EQ(mfaCounts().errors, 1);
  const Index beyond = add(110);
  element(beyond).de.matrixPointer = 99999;
  EXPECT_EQ(matrixChain(beyond, chain), -1);
  element(beyond).de.matrixPointer = -2147483647 - 1;
  EXPECT_EQ(matrixChain(beyond, chain), -1);
  EXPECT_EQ(mfaCounts().errors, 3);

  // Loops of matrices end with the same error.
  const Index selfMatrix = add(124);
  element(selfMatrix).de.matrixPointer = deNumberOf(selfMatrix);
  EXPECT_EQ(matrixChain(selfMatrix, chain), -1);
  const Index user = add(110);
  element(user).de.matrixPointer = deNumberOf(selfMatrix);
  EXPECT_EQ(matrixChain(user, chain), -1);
  const Index m1 = add(124);
  const Index m2 = add(124);
  element(m1).de.matrixPointer = deNumberOf(m2);
  element(m2).de.matrixPointer = -deNumberOf(m1);
  element(user).de.matrixPointer = deNumberOf(m1);
  EXPECT_EQ(matrixChain(user, chain), -1);
  EXPECT_TRUE(chain.empty());
  EXPECT_EQ(mfaCounts().errors, 6);
  EXPECT_EQ(matrixChain(-1, chain), -1);
}

TEST_F(ElementTableTest, StatusFlagsAndClassBits) {
  struct Row {
    const char* status;
    StatusFlags flags;
  };
  const Row rows[] = {
      {"00030502", {0, 3, 5, 2}}, {"11040609", {1, 0, 0, 0}}, {"01", {1, 0, 0, 0}},
      {"", {0, 0, 0, 0}},         {"  1 1 1 ", {0, 0, 0, 0}}, {" 1 2 3 2", {1, 2, 3, 2}},
      {"00000003", {0, 0, 0, 0}}, {"00000600", {0, 0, 0, 0}},
  };
  for (const Row& row : rows) {
    DirectoryEntry de;
    std::snprintf(de.status, sizeof de.status, "%s", row.status);
    const StatusFlags f = decodeStatus(de);
    EXPECT_EQ(std::tuple(f.blank, f.subordinate, f.entityUse, f.hierarchy),
              std::tuple(row.flags.blank, row.flags.subordinate, row.flags.entityUse, row.flags.hierarchy))
        << row.status;
  }

  // The class bits of the elements read are OR-ed into the classes met.
  const Index leader = add(214, 3);
  const Index conic = add(104, 2);
  const Index line = add(110);
  classifyElement(leader);
  classifyElement(conic);
  classifyElement(line);
  EXPECT_EQ(element(leader).classBits, 16);
  EXPECT_EQ(elementTable().classesMet, 20);
}

TEST_F(ElementTableTest, TransferElementsLoadSortAndLink) {
  runState().runMode = RunModeBit::kOutput;
  auto node = [](std::int32_t id, std::int32_t type) {
    auto* n = new TransferListNode;
    n->id = id;
    n->type = type;
    return n;
  };
  std::vector<TransferListNode*> handed{node(30, 402), node(10, 110), node(20, 100), node(10, 116),
                                        node(40, 102), node(50, 402), node(60, 230), nullptr};
  handed[2]->attrs = std::make_unique<TransferAttributes>();
  handed[2]->attrs->first = 3;
  handed[2]->attrs->name = "Schicht";
  handed[2]->attrs->points[4] = 2.5;
  handed[2]->attrs->last = 9;
  TransferListNode* list = loadTransferList(handed);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(countList(list), 7);
  std::vector<std::pair<std::int32_t, std::int32_t>> sorted;
  for (const TransferListNode* p = list; p != nullptr; p = p->next) sorted.emplace_back(p->id, p->type);
  EXPECT_EQ(sorted, (std::vector<std::pair<std::int32_t, std::int32_t>>{
                        {10, 110}, {10, 116}, {20, 100}, {30, 402}, {40, 102}, {50, 402}, {60, 230}}));
  EXPECT_EQ(loadTransferList({}), nullptr);
  EXPECT_EQ(countList(nullptr), 0);

  fresh(2);  // too small: the load makes room
  runState().runMode = RunModeBit::kOutput;
  ASSERT_EQ(loadTransferElements(list), 0);
  EXPECT_EQ(elementTable().lastIndex, 7);
  EXPECT_GE(elementTable().capacity, 8);
  for (Index i = 1; i <= 7; ++i) {
    EXPECT_EQ(element(i).type, sorted[i - 1].second);
    EXPECT_EQ(element(i).transferId, sorted[i - 1].first);
  }
  ASSERT_NE(element(3).transferAttrs(), nullptr);
  EXPECT_NE(element(3).transferAttrs(), handed[2]->attrs.get());  // a copy
  EXPECT_EQ(element(3).transferAttrs()->name, "Schicht");
  EXPECT_EQ(element(3).transferAttrs()->points[4], 2.5);
  EXPECT_EQ(element(1).transferAttrs(), nullptr);
  EXPECT_EQ(freeTransferList(list), 0);

  EXPECT_EQ((std::vector<Index>{findById(30, 1, 7), findById(60, 1, 7), findById(60, 1, 500), findById(35, 1, 7),
                                 findById(99, 1, 7), findById(30, 5, 7)}),
            (std::vector<Index>{4, 7, 7, -1, -1, -1}));
  // From any hint, in the table or not, the search outwards finds what the
  // search of the whole table finds (of the two slots of id 10 either).
  for (Index hint = -1; hint <= 9; ++hint) {
    for (std::int32_t id : {5, 10, 20, 30, 35, 50, 60, 99}) {
      const Index near = findByIdNear(id, hint);
      if (findById(id, 1, 7) < 0) {
        EXPECT_EQ(near, -1) << id << " from " << hint;
      } else {
        ASSERT_GE(near, 1) << id << " from " << hint;
        EXPECT_EQ(element(near).transferId, id) << " from " << hint;
      }
    }
  }

  std::vector<Index> asked;
  auto members = [&](Index index, std::vector<std::int32_t>& ids) {
    asked.push_back(index);
    if (index == 4) ids = {20, 10, 77};  // 77 is not in the file
    return 0;
  };
  ASSERT_EQ(linkTransferElements(members), 0);
  EXPECT_EQ(asked, (std::vector<Index>{4, 5, 6, 7}));
  EXPECT_EQ(sonList(4), (std::vector<Index>{3, 1, 2}));  // both slots of id 10
  for (Index s : {1, 2, 3}) {
    ASSERT_NE(element(s).fathers, nullptr);
    EXPECT_EQ(element(s).fathers->index, 4);
    EXPECT_EQ(element(s).fatherCount, 1);
  }
  // A composite curve (5) or a group (6) without members fails; a sectioned
  // area (7) may stand alone.
  EXPECT_EQ(statesOf({4, 5, 6, 7}), "weew");
  SonResult r;
  ASSERT_EQ(nextSon(4, r), 0);  // cursors at the head of the sons
  EXPECT_EQ(r.id, 20);

  // A failing member fetch fails the whole step.
  auto failing = [](Index, std::vector<std::int32_t>&) { return -1; };
  EXPECT_EQ(linkTransferElements(failing), -1);

  // Loaded into a table that held elements before (and is large enough):
  // the slots carry nothing of what was there, and no answer about the old
  // table is kept.
  fresh(64);
  runState().runMode = RunModeBit::kOutput;
  add(308);
  for (int i = 1; i < 10; ++i) add(402);
  for (Index i = 1; i < 10; ++i) link(i, i + 1);
  element(2).params = std::make_unique<GeometryRecord>();
  element(2).sideRecord().transferAttrs = std::make_unique<TransferAttributes>();
  element(2).matrix = std::make_unique<Transform>();
  element(2).de.matrixPointer = 5;
  element(2).outputKind = 402;
  setStateRaw(3, 'd');
  EXPECT_EQ(hasNoAncestorOfType(3, 308), 0);
  std::vector<TransferListNode*> again;
  for (std::int32_t id = 1; id <= 10; ++id) again.push_back(node(id, id == 10 ? 402 : 110));
  list = loadTransferList(again);
  ASSERT_EQ(loadTransferElements(list), 0);
  freeTransferList(list);
  EXPECT_EQ(elementTable().lastIndex, 10);
  for (Index i = 1; i <= 10; ++i) {
    const ElementRecord& e = element(i);
    EXPECT_TRUE(e.sons == nullptr && e.fathers == nullptr && e.sonCount + e.fatherCount == 0 && !e.params &&
                !e.transferAttrs() && !e.matrix && e.de.matrixPointer == 0 && e.outputKind == 0 && e.state == 'w')
        << i;
  }
  auto noMembers = [](Index, std::vector<std::int32_t>&) { return 0; };
  ASSERT_EQ(linkTransferElements(noMembers), 0);
  EXPECT_EQ(hasNoAncestorOfType(3, 308), 1);
  EXPECT_EQ(statesOf({10, 3}), "ew");
}

}  // namespace

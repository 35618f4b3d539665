// The point registry against a plain tree walked node by node, on inputs
// that put points at all the distances where the tolerance decides
// differently, and on the shapes that make a plain tree deep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "script/point_registry.h"

namespace {

// The tree of the registry as a plain binary tree of nodes.
class PlainTree {
 public:
  explicit PlainTree(double tolerance) : tol_(tolerance) {}
  std::int32_t lookup(double x, double y, std::int32_t ref, std::int32_t newNumber) {
    if (!std::isfinite(x) || !std::isfinite(y)) return 0;
    return lookupAt(root_, x, y, ref, newNumber);
  }

 private:
  struct Node {
    double x, y;
    std::int32_t ref, number;
    std::unique_ptr<Node> lower, higher;
  };
  std::int32_t lookupAt(std::unique_ptr<Node>& slot, double x, double y, std::int32_t ref,
                        std::int32_t newNumber) {
    if (!slot) {
      if (newNumber != 0) slot.reset(new Node{x, y, ref < 0 ? -ref : ref, newNumber, nullptr, nullptr});
      return 0;
    }
    Node& n = *slot;
    if (x > n.x + tol_) return lookupAt(n.higher, x, y, ref, newNumber);
    if (x < n.x - tol_) return lookupAt(n.lower, x, y, ref, newNumber);
    if (y > n.y + tol_) return lookupAt(n.higher, x, y, ref, newNumber);
    if (y < n.y - tol_) return lookupAt(n.lower, x, y, ref, newNumber);
    if (ref > 0) {
      if (n.ref == ref) return n.number;
      return lookupAt(n.ref < ref ? n.higher : n.lower, x, y, ref, newNumber);
    }
    if (ref == 0) {
      if (n.higher) {
        const std::int32_t r = lookupAt(n.higher, x, y, ref, newNumber);
        if (r != 0) return r;
      }
      return n.number;
    }
    return lookupAt(-ref >= n.ref ? n.higher : n.lower, x, y, ref, newNumber);
  }
  double tol_;
  std::unique_ptr<Node> root_;
};

struct Query {
  double x, y;
  std::int32_t ref;
};

// Runs the queries through both and reports the first difference.
void expectSameAnswers(const std::vector<Query>& queries, double tolerance, const char* what) {
  PointRegistry registry;
  registry.setTolerance(tolerance);
  PlainTree plain(tolerance);
  std::int32_t next = 1;
  std::size_t found = 0;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const Query& q = queries[i];
    // Every fifth lookup only asks (as a lookup of a reference point does).
    const std::int32_t number = i % 5 == 4 ? 0 : next;
    const std::int32_t expected = plain.lookup(q.x, q.y, q.ref, number);
    const std::int32_t got = registry.lookup(q.x, q.y, q.ref, number);
    ASSERT_EQ(got, expected) << what << ": query " << i << " (" << q.x << ", " << q.y << ", ref " << q.ref << ")";
    if (expected != 0) ++found;
    if (number != 0 && expected == 0) ++next;
  }
  // The inputs are meant to find points again, not only to add them.
  EXPECT_GT(found, queries.size() / 20) << what;
}

TEST(PointRegistry, AnswersAsThePlainTreeAtEveryDistance) {
  const double tol = 0.0001;
  std::mt19937 random(12345);
  // Coordinates on a lattice of a quarter tolerance, some with noise, so that
  // pairs of points lie within, at, and just beyond one and two tolerances.
  auto lattice = [&](int range) {
    std::uniform_int_distribution<int> k(-range, range);
    std::uniform_int_distribution<int> noise(0, 3);
    double v = k(random) * 0.25 * tol;
    const int n = noise(random);
    if (n == 1) v += 1e-9;
    if (n == 2) v -= 1e-9;
    return v;
  };
  for (int round = 0; round < 40; ++round) {
    std::vector<Query> queries;
    const int range = 4 + round % 12;
    for (int i = 0; i < 3000; ++i) {
      std::int32_t ref = 7;
      if (round % 4 == 1) ref = 5 + static_cast<std::int32_t>(random() % 3);  // several references
      if (round % 4 == 2 && i % 7 == 0) ref = -static_cast<std::int32_t>(random() % 9);  // zero and negative
      queries.push_back(Query{lattice(range), lattice(range * 3), ref});
    }
    expectSameAnswers(queries, tol, "lattice");
  }
  // Columns farther apart than the tolerance, points on the lattice in y:
  // most points meet one node within the tolerance, which the walk finds,
  // or misses when an older node lies between.
  for (int round = 0; round < 40; ++round) {
    std::vector<Query> queries;
    std::uniform_int_distribution<int> column(0, 2 + round % 4);
    for (int i = 0; i < 3000; ++i) {
      const std::int32_t ref = round % 4 == 0 ? 3 : 2 + static_cast<std::int32_t>(random() % (2 + round % 4));
      queries.push_back(Query{column(random) * 3.0 * tol, lattice(8 + round % 24), ref});
    }
    expectSameAnswers(queries, tol, "columns");
  }
}

TEST(PointRegistry, AnswersAsThePlainTreeOnDeepShapes) {
  const double tol = 0.0001;
  std::mt19937 random(777);
  std::uniform_real_distribution<double> jitter(-0.6 * tol, 0.6 * tol);
  std::vector<Query> queries;
  // A line in increasing x, each point found again by a nearby point.
  for (int i = 0; i < 2000; ++i) {
    queries.push_back(Query{0.5 * i, 3.0, 1});
    queries.push_back(Query{0.5 * i + jitter(random), 3.0 + jitter(random), 1});
  }
  // Table rows: columns of points at the same x, rows in decreasing y.
  for (int row = 2000; row > 0; --row) {
    for (double column : {0.0, 40.0, 40.00015, 90.0}) {
      queries.push_back(Query{column + jitter(random) * 0.01, 0.25 * row, 1});
    }
  }
  // Nested lines: x alternating from both ends inwards.
  for (int i = 0; i < 1500; ++i) {
    queries.push_back(Query{static_cast<double>(i), -5.0, 1});
    queries.push_back(Query{3000.0 - i, -5.0, 1});
    queries.push_back(Query{static_cast<double>(i) + jitter(random), -5.0 + jitter(random), 1});
  }
  // A grid drawn row by row, each cell's points near the cell's corner, so
  // that every column is a chain in x and the rows stack in y.
  for (int row = 0; row < 20; ++row) {
    for (int column = 0; column < 150; ++column) {
      const double x = 1.25 * column, y = 0.75 * row;
      queries.push_back(Query{x, y, 1});
      queries.push_back(Query{x + 1.0 / 3.0, y + 0.2, 1});
      queries.push_back(Query{x + jitter(random), y + jitter(random), 1});
    }
  }
  // Everything again in random order.
  std::vector<Query> again = queries;
  std::shuffle(again.begin(), again.end(), random);
  queries.insert(queries.end(), again.begin(), again.end());
  expectSameAnswers(queries, tol, "deep shapes");

  // Without tolerance only equal points are the same.
  std::vector<Query> exact;
  for (int i = 0; i < 3000; ++i) exact.push_back(Query{static_cast<double>(i % 97), static_cast<double>(i % 13), 1});
  expectSameAnswers(exact, 0.0, "no tolerance");
}

// Drawings: points on a sheet of cells whose x values come back row after
// row (so that most points share x with earlier ones), points anywhere,
// and nearly every point found again; and the orders that make a plain
// tree a chain.  Each with no tolerance, the usual one and one as large as
// the distances of the drawing, where most lookups meet nodes near them.
TEST(PointRegistry, AnswersAsThePlainTreeOnDrawings) {
  std::mt19937 random(99);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::pair<const char*, std::vector<Query>>> inputs;
  std::vector<Query> sheet;
  for (int cell = 0; cell < 12000; ++cell) {
    const double x = 1.25 * (cell % 300), y = 0.75 * (cell / 300);
    sheet.push_back(Query{x, y, 1});
    switch (cell % 5) {
      case 0:  // a line, and its first point again as reference
        sheet.push_back(Query{x + 1.0 / 3.0, y + 0.2, 1});
        sheet.push_back(Query{x, y, 1});
        break;
      case 1:  // a polyline
        for (int k = 1; k < 5; ++k) sheet.push_back(Query{x + 0.1 * k, y + 0.1 * (k % 2), 1});
        break;
      case 2:  // a point anywhere
        sheet.push_back(Query{400.0 * unit(random), 80.0 * unit(random), 1});
        break;
      case 3:  // a point near a column, at the distances where the tolerance decides
        sheet.push_back(Query{x + 0.00005 * (cell % 7), y + 0.3, 1});
        break;
      default:  // a text
        break;
    }
  }
  inputs.emplace_back("sheet", sheet);
  std::vector<Query> scattered;
  for (int i = 0; i < 8000; ++i) {
    scattered.push_back(Query{std::floor(200.0 * unit(random)) * 0.5, std::floor(300.0 * unit(random)) * 0.25, 1});
  }
  inputs.emplace_back("scattered", scattered);
  std::vector<Query> ascending, column, repeated, descending;
  for (int i = 0; i < 4000; ++i) {
    ascending.push_back(Query{0.001 * i, 0.0005 * i, 1});
    column.push_back(Query{7.0, 0.5 * ((i * 7919) % 4000), 1});
    repeated.push_back(Query{3.0, 4.0, 1});
    descending.push_back(Query{-0.25 * i, 2.0, 1});
  }
  inputs.emplace_back("ascending", ascending);
  inputs.emplace_back("one column", column);
  inputs.emplace_back("all repeated", repeated);
  inputs.emplace_back("descending on one line", descending);
  for (double tol : {0.0, 0.0001, 0.3}) {
    for (auto& [what, queries] : inputs) {
      std::vector<Query> all = queries;
      std::vector<Query> again = queries;
      std::shuffle(again.begin(), again.end(), random);
      all.insert(all.end(), again.begin(), again.end());
      expectSameAnswers(all, tol, what);
    }
  }
}

// Exact repeats are answered without a search: they must still be the
// tree's answers when nodes of the same coordinates were registered by
// negative references, when a nearby point was registered first, when
// zero is written with either sign, and after the table of repeats grew.
TEST(PointRegistry, ExactRepeatsAnswerAsThePlainTree) {
  const double tol = 0.0001;
  std::mt19937 random(4242);
  std::vector<Query> queries;
  for (int i = 0; i < 6000; ++i) {
    const double x = 0.5 * (i % 300), y = 0.25 * (i % 170);
    switch (i % 6) {
      case 0:  // a negative reference first: its node holds 2 as reference
        queries.push_back(Query{x, y, -2});
        queries.push_back(Query{x, y, 2});
        break;
      case 1:  // a neighbour within the tolerance answers the repeat
        queries.push_back(Query{x + 0.4 * tol, y, 2});
        queries.push_back(Query{x, y, 2});
        break;
      case 2:
        queries.push_back(Query{-0.0, y, 2});
        queries.push_back(Query{0.0, y, 2});
        break;
      default:
        queries.push_back(Query{x, y, 1 + static_cast<std::int32_t>(random() % 3)});
        queries.push_back(Query{x, y, 0});
    }
  }
  std::vector<Query> again = queries;
  std::shuffle(again.begin(), again.end(), random);
  queries.insert(queries.end(), again.begin(), again.end());
  expectSameAnswers(queries, tol, "exact repeats");
}

// Runs of points that come in order at one place of the sequence (a line
// drawn point by point, each run at a place among earlier ones, upwards or
// downwards), with some lookups only asking and others walking the tree
// (references 0 and negative) through a tree of several levels of blocks.
TEST(PointRegistry, AnswersAsThePlainTreeWhenRunsComeInOrder) {
  const double tol = 0.0001;
  std::mt19937 random(31337);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Query> queries;
  for (int run = 0; run < 36; ++run) {
    const double x0 = 1000.0 * unit(random), y0 = 1000.0 * unit(random);
    const double step = (run % 3 == 0 ? -1.0 : 1.0) * (0.001 + 0.01 * unit(random));
    const bool alongY = run % 4 == 1;
    const int length = 200 + static_cast<int>(random() % 600);
    for (int i = 0; i < length; ++i) {
      const double d = step * i;
      std::int32_t ref = 1;
      if (run % 5 == 2 && i % 3 == 0) ref = -static_cast<std::int32_t>(random() % 3);
      queries.push_back(Query{alongY ? x0 : x0 + d, alongY ? y0 + d : y0, ref});
      // A point of the run within the tolerance, found again.
      if (i % 7 == 3) queries.push_back(Query{x0 + (alongY ? 0.3 : 1.0) * d + 0.4 * tol, alongY ? y0 + d : y0, 1});
    }
  }
  std::vector<Query> again = queries;
  std::shuffle(again.begin(), again.end(), random);
  queries.insert(queries.end(), again.begin(), again.end());
  expectSameAnswers(queries, tol, "runs in order");
}

// The blocks stay filled: points in order of x fill their leaves (a leaf
// left half empty or with a few nodes at every split would take much more
// memory), others half fill them at least; a cleared registry gives its
// memory back.
TEST(PointRegistry, MemoryPerPointStaysSmall) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int n = 60000;
  std::vector<std::pair<const char*, std::vector<Query>>> inputs(4);
  inputs[0].first = "ascending";
  inputs[1].first = "descending";
  inputs[2].first = "one column";
  inputs[3].first = "random";
  for (int i = 0; i < n; ++i) {
    inputs[0].second.push_back(Query{0.5 * i, 1.0, 1});
    inputs[1].second.push_back(Query{1e6 - 0.5 * i, 2.0, 1});
    inputs[2].second.push_back(Query{3.0, 0.25 * i, 1});
    inputs[3].second.push_back(Query{1000.0 * unit(random), 1000.0 * unit(random), 1});
  }
  for (const auto& [what, queries] : inputs) {
    PointRegistry registry;
    registry.setTolerance(0.0001);
    std::int32_t next = 1;
    for (const Query& q : queries) registry.lookup(q.x, q.y, q.ref, next++);
    ASSERT_EQ(registry.size(), static_cast<std::size_t>(n)) << what;
    EXPECT_LT(static_cast<double>(registry.bytesHeld()) / n, what == inputs[3].first ? 50.0 : 40.0) << what;
    registry.clear();
    EXPECT_LT(registry.bytesHeld(), sizeof(PointRegistry) + 1024) << what;
  }
}

TEST(PointRegistry, PointsThatAreNoNumbersAreNeverRegistered) {
  PointRegistry registry;
  registry.setTolerance(0.0001);
  const double nan = std::nan("");
  EXPECT_EQ(registry.lookup(1.0, 1.0, 1, 5), 0);
  EXPECT_EQ(registry.lookup(nan, 1.0, 1, 6), 0);
  EXPECT_EQ(registry.lookup(1.0, nan, 1, 7), 0);
  EXPECT_EQ(registry.lookup(1.0, std::numeric_limits<double>::infinity(), 1, 8), 0);
  EXPECT_EQ(registry.size(), 1u);
  // A lookup with number 0 leaves nothing behind: the point is registered
  // by the next lookup that brings a number.
  EXPECT_EQ(registry.lookup(2.0, 2.0, 1, 0), 0);
  EXPECT_EQ(registry.lookup(2.0, 2.0, 1, 9), 0);
  EXPECT_EQ(registry.lookup(2.00005, 2.0, 1, 10), 9);
  EXPECT_EQ(registry.lookup(1.0, 1.0, 1, 11), 5);
  // A cleared registry forgets its points, repeats included.
  registry.clear();
  registry.setTolerance(0.0001);
  EXPECT_EQ(registry.lookup(1.0, 1.0, 1, 12), 0);
  EXPECT_EQ(registry.lookup(2.0, 2.0, 1, 13), 0);
  EXPECT_EQ(registry.lookup(2.0, 2.0, 1, 0), 13);
}

}  // namespace

#include "script/point_registry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::int32_t kNone = -1;
// Node visits a search for bounds may make before it gives up (the bounds
// only save work; without them the lookup is still exact).
constexpr int kSearchBudget = 256;
// Fewer nodes than this between the bounds are walked without looking for
// closer ones.
constexpr std::int32_t kNarrowRange = 6;

}  // namespace

void PointRegistry::clear() {
  tolerance_ = 0.0;
  nodes_.clear();
  nodes_.shrink_to_fit();
  root_ = kNone;
  seed_ = 0x9E3779B9u;
}

PointRegistry::Side PointRegistry::sideOf(const Node& n, double x, double y) const {
  const double t = tolerance_;
  if (x > n.x + t) return Side::kHigher;
  if (x < n.x - t) return Side::kLower;
  if (y > n.y + t) return Side::kHigher;
  if (y < n.y - t) return Side::kLower;
  return Side::kPosition;
}

// ---------------------------------------------------------------------------
// The in-order sequence

void PointRegistry::pull(std::int32_t t) {
  Node& n = nodes_[t];
  n.count = 1;
  n.oldest = t;
  n.minX = n.maxX = n.x;
  n.minY = n.maxY = n.y;
  for (const std::int32_t c : {n.left, n.right}) {
    if (c < 0) continue;
    Node& k = nodes_[c];
    k.parent = t;
    n.count += k.count;
    n.oldest = std::min(n.oldest, k.oldest);
    n.minX = std::min(n.minX, k.minX);
    n.maxX = std::max(n.maxX, k.maxX);
    n.minY = std::min(n.minY, k.minY);
    n.maxY = std::max(n.maxY, k.maxY);
  }
}

// a takes the first k nodes of t, b the rest.
void PointRegistry::split(std::int32_t t, std::int32_t k, std::int32_t& a, std::int32_t& b) {
  if (t < 0) {
    a = b = kNone;
    return;
  }
  if (sizeOf(nodes_[t].left) >= k) {
    std::int32_t leftPart = kNone, rest = kNone;
    split(nodes_[t].left, k, leftPart, rest);
    nodes_[t].left = rest;
    pull(t);
    a = leftPart;
    b = t;
  } else {
    std::int32_t rest = kNone, rightPart = kNone;
    split(nodes_[t].right, k - sizeOf(nodes_[t].left) - 1, rest, rightPart);
    nodes_[t].right = rest;
    pull(t);
    a = t;
    b = rightPart;
  }
}

// The new node goes where its priority puts it on the way down to its
// rank; every subtree passed on the way gains it (its box grows, and its
// oldest node stays, as the new node is the youngest).
void PointRegistry::insertAt(std::int32_t rank, std::int32_t id) {
  const std::uint32_t priority = nodes_[id].priority;
  const double x = nodes_[id].x, y = nodes_[id].y;
  std::int32_t parent = kNone;
  bool right = false;
  std::int32_t u = root_;
  while (u >= 0 && nodes_[u].priority >= priority) {
    Node& m = nodes_[u];
    m.count += 1;
    m.minX = std::min(m.minX, x);
    m.maxX = std::max(m.maxX, x);
    m.minY = std::min(m.minY, y);
    m.maxY = std::max(m.maxY, y);
    parent = u;
    const std::int32_t l = sizeOf(m.left);
    right = rank > l;
    if (right) rank -= l + 1;
    u = right ? m.right : m.left;
  }
  std::int32_t a = kNone, b = kNone;
  split(u, rank, a, b);
  nodes_[id].left = a;
  nodes_[id].right = b;
  pull(id);
  nodes_[id].parent = parent;
  if (parent < 0) {
    root_ = id;
  } else {
    (right ? nodes_[parent].right : nodes_[parent].left) = id;
  }
}

std::int32_t PointRegistry::rankOf(std::int32_t id) const {
  std::int32_t r = sizeOf(nodes_[id].left);
  for (std::int32_t u = id, p = nodes_[id].parent; p >= 0; u = p, p = nodes_[p].parent) {
    if (nodes_[p].right == u) r += sizeOf(nodes_[p].left) + 1;
  }
  return r;
}

namespace {

// Ranks first..last of the subtree t whose first node has rank offset.
template <class Nodes>
std::int32_t oldestInRange(const Nodes& nodes, std::int32_t t, std::int32_t offset, std::int32_t first,
                           std::int32_t last) {
  std::int32_t best = std::numeric_limits<std::int32_t>::max();
  while (t >= 0) {
    const auto& n = nodes[t];
    const std::int32_t end = offset + n.count - 1;
    if (last < offset || first > end) break;
    if (first <= offset && end <= last) return std::min(best, n.oldest);
    const std::int32_t leftCount = n.left < 0 ? 0 : nodes[n.left].count;
    const std::int32_t own = offset + leftCount;
    if (last < own) {
      t = n.left;
      continue;
    }
    if (first > own) {
      offset = own + 1;
      t = n.right;
      continue;
    }
    // The range holds this node: the left part is a suffix of the left
    // subtree, the right part a prefix of the right one.
    best = std::min(best, t);
    std::int32_t u = n.left, o = offset;
    while (u >= 0) {
      const auto& m = nodes[u];
      const std::int32_t mOwn = o + (m.left < 0 ? 0 : nodes[m.left].count);
      if (first <= mOwn) {
        best = std::min(best, u);
        if (m.right >= 0) best = std::min(best, nodes[m.right].oldest);
        u = m.left;
      } else {
        o = mOwn + 1;
        u = m.right;
      }
    }
    u = n.right;
    o = own + 1;
    while (u >= 0) {
      const auto& m = nodes[u];
      const std::int32_t mOwn = o + (m.left < 0 ? 0 : nodes[m.left].count);
      if (last >= mOwn) {
        best = std::min(best, u);
        if (m.left >= 0) best = std::min(best, nodes[m.left].oldest);
        o = mOwn + 1;
        u = m.right;
      } else {
        u = m.left;
      }
    }
    return best;
  }
  return best;
}

}  // namespace

std::int32_t PointRegistry::oldestIn(std::int32_t first, std::int32_t last) const {
  return oldestInRange(nodes_, root_, 0, first, last);
}

std::int32_t PointRegistry::add(double x, double y, std::int32_t ref, std::int32_t number) {
  seed_ ^= seed_ << 13;
  seed_ ^= seed_ >> 17;
  seed_ ^= seed_ << 5;
  Node n;
  n.x = x;
  n.y = y;
  n.ref = ref;
  n.number = number;
  n.priority = seed_;
  n.minX = n.maxX = x;
  n.minY = n.maxY = y;
  nodes_.push_back(n);
  const std::int32_t id = static_cast<std::int32_t>(nodes_.size() - 1);
  nodes_[id].oldest = id;
  return id;
}

void PointRegistry::attach(std::int32_t parent, bool higher, std::int32_t id) {
  const std::int32_t rank = rankOf(parent) + (higher ? 1 : 0);
  (higher ? nodes_[parent].higher : nodes_[parent].lower) = id;
  insertAt(rank, id);
}

// ---------------------------------------------------------------------------
// The walk node by node

std::int32_t PointRegistry::lookupByWalk(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  if (nodes_.empty()) {
    if (newNumber == 0) return 0;
    insertAt(0, add(x, y, ref < 0 ? -ref : ref, newNumber));
    return 0;
  }
  return walkFrom(0, x, y, ref, newNumber);
}

std::int32_t PointRegistry::walkFrom(std::int32_t start, double x, double y, std::int32_t ref,
                                     std::int32_t newNumber) {
  // With reference 0 a node of the same position answers only when its
  // higher subtree finds nothing: the answer is the deepest such node's
  // number along the walk.
  std::int32_t fallback = 0;
  std::int32_t u = start;
  for (;;) {
    const Node& n = nodes_[u];
    Side side = sideOf(n, x, y);
    if (side == Side::kPosition) {
      if (ref > 0) {
        if (n.ref == ref) return n.number;
        side = n.ref < ref ? Side::kHigher : Side::kLower;
      } else if (ref == 0) {
        if (n.number != 0) fallback = n.number;
        if (n.higher < 0) return fallback;
        side = Side::kHigher;
      } else {
        side = -static_cast<std::int64_t>(ref) >= n.ref ? Side::kHigher : Side::kLower;
      }
    }
    const bool higher = side == Side::kHigher;
    const std::int32_t next = higher ? n.higher : n.lower;
    if (next >= 0) {
      u = next;
      continue;
    }
    if (newNumber != 0) attach(u, higher, add(x, y, ref < 0 ? -ref : ref, newNumber));
    return fallback;
  }
}

// ---------------------------------------------------------------------------
// The lookup through the sequence

namespace {

// Searches over the sequence with pruning by the subtrees' boxes; each
// spends from a budget and reports when it ran out.
struct Search {
  int budget = kSearchBudget;
  bool exhausted = false;
  bool spend() {
    if (budget-- > 0) return true;
    exhausted = true;
    return false;
  }
};

// The least x above (strictly or not) a threshold.
template <class Nodes>
double leastXAbove(const Nodes& nodes, std::int32_t t, double threshold, bool strict, Search& s) {
  if (t < 0) return kInfinity;
  const auto& n = nodes[t];
  if (strict ? !(n.maxX > threshold) : !(n.maxX >= threshold)) return kInfinity;
  if (strict ? n.minX > threshold : n.minX >= threshold) return n.minX;
  if (!s.spend()) return kInfinity;
  double best = (strict ? n.x > threshold : n.x >= threshold) ? n.x : kInfinity;
  best = std::min(best, leastXAbove(nodes, n.left, threshold, strict, s));
  best = std::min(best, leastXAbove(nodes, n.right, threshold, strict, s));
  return best;
}

// The greatest x below (strictly or not) a threshold.
template <class Nodes>
double greatestXBelow(const Nodes& nodes, std::int32_t t, double threshold, bool strict, Search& s) {
  if (t < 0) return -kInfinity;
  const auto& n = nodes[t];
  if (strict ? !(n.minX < threshold) : !(n.minX <= threshold)) return -kInfinity;
  if (strict ? n.maxX < threshold : n.maxX <= threshold) return n.maxX;
  if (!s.spend()) return -kInfinity;
  double best = (strict ? n.x < threshold : n.x <= threshold) ? n.x : -kInfinity;
  best = std::max(best, greatestXBelow(nodes, n.left, threshold, strict, s));
  best = std::max(best, greatestXBelow(nodes, n.right, threshold, strict, s));
  return best;
}

// A quadrant of the plane: x below xStrict (strictly) and xLimit, y below
// yLimit (strictly); or the mirror image with all signs turned.
struct Quadrant {
  bool lowerLeft;
  double xStrict, xLimit, yLimit;
  template <class N>
  bool holds(const N& n) const {
    return lowerLeft ? n.x < xStrict && n.x <= xLimit && n.y < yLimit
                     : n.x > xStrict && n.x >= xLimit && n.y > yLimit;
  }
  template <class N>
  bool mayHold(const N& n) const {
    return lowerLeft ? n.minX < xStrict && n.minX <= xLimit && n.minY < yLimit
                     : n.maxX > xStrict && n.maxX >= xLimit && n.maxY > yLimit;
  }
};

// A node and its rank in the sequence.
struct Ranked {
  std::int32_t id = kNone, rank = kNone;
};

// The last (lower left quadrant) or first (upper right) node within ranks
// first..last that lies in the quadrant; id -1 when none was found.
template <class Nodes>
Ranked extremeInQuadrant(const Nodes& nodes, std::int32_t t, std::int32_t offset, std::int32_t first,
                         std::int32_t last, const Quadrant& q, Search& s) {
  if (t < 0) return Ranked{};
  const auto& n = nodes[t];
  if (last < offset || first > offset + n.count - 1 || !q.mayHold(n)) return Ranked{};
  if (!s.spend()) return Ranked{};
  const std::int32_t own = offset + (n.left < 0 ? 0 : nodes[n.left].count);
  const bool ownIn = own >= first && own <= last && q.holds(n);
  if (q.lowerLeft) {
    const Ranked r = extremeInQuadrant(nodes, n.right, own + 1, first, last, q, s);
    if (r.id >= 0) return r;
    if (ownIn) return Ranked{t, own};
    return extremeInQuadrant(nodes, n.left, offset, first, last, q, s);
  }
  const Ranked r = extremeInQuadrant(nodes, n.left, offset, first, last, q, s);
  if (r.id >= 0) return r;
  if (ownIn) return Ranked{t, own};
  return extremeInQuadrant(nodes, n.right, own + 1, first, last, q, s);
}

}  // namespace

// Where a walk for (x, y) would end: between the nodes of ranks lo and hi
// (hi = lo + 1).  The walk is the full one here: a node of the same position
// and reference is passed by on its higher side, as the answer is found
// afterwards among the path's nodes.
//
// Bounds.  Let v lie after the place.  Some node w of the path was left on
// its lower side while v lies on w's higher side (or is w).  Going through
// the ways a walk turns lower at w and a node turns higher, this needs one
// of: v.x > q.x + 2t; a node with x in (q.x + t, v.x + t]; a node with x in
// [q.x - t, v.x - t); v.y > q.y; or v within 2t of q in both x and y.  So a
// node below and left of q, outside that box, with those bands empty, lies
// before the place; the mirror image holds for nodes after it.  The bands
// are widened by a slack that covers the rounding of the comparisons.
std::int32_t PointRegistry::lookupFast(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  const std::int32_t n = static_cast<std::int32_t>(nodes_.size());
  if (n == 0) return lookupByWalk(x, y, ref, newNumber);
  const double t = tolerance_;
  const double slack = 0.25 * t + 1e-12 * (1.0 + std::fabs(x) + std::fabs(y));
  const double window = 2.0 * (t + slack);

  // Nodes more than 2t away in x.
  Ranked lo{kNone, kNone}, hi{kNone, n};
  if (nodes_[root_].minX < x - window) {
    std::int32_t u = root_, offset = 0;
    while (u >= 0) {
      const Node& m = nodes_[u];
      const std::int32_t own = offset + sizeOf(m.left);
      if (m.right >= 0 && nodes_[m.right].minX < x - window) {
        offset = own + 1;
        u = m.right;
      } else if (m.x < x - window) {
        lo = Ranked{u, own};
        break;
      } else {
        u = m.left;
      }
    }
  }
  if (nodes_[root_].maxX > x + window) {
    std::int32_t u = root_, offset = 0;
    while (u >= 0) {
      const Node& m = nodes_[u];
      const std::int32_t own = offset + sizeOf(m.left);
      if (m.left >= 0 && nodes_[m.left].maxX > x + window) {
        u = m.left;
      } else if (m.x > x + window) {
        hi = Ranked{u, own};
        break;
      } else {
        offset = own + 1;
        u = m.right;
      }
    }
  }
  if (lo.rank >= hi.rank) return lookupByWalk(x, y, ref, newNumber);

  // Nodes more than 2t away in y, on the side the x bands allow.
  if (hi.rank - lo.rank - 1 > kNarrowRange) {
    Search bands;
    const double below1 = leastXAbove(nodes_, root_, x + t - slack, true, bands);
    const double below2 = leastXAbove(nodes_, root_, x - t - slack, false, bands);
    const double above1 = greatestXBelow(nodes_, root_, x - t + slack, true, bands);
    const double above2 = greatestXBelow(nodes_, root_, x + t + slack, false, bands);
    if (!bands.exhausted) {
      Search s;
      const Quadrant before{true, below1 - t - slack, below2 + t - slack, y - window};
      const Ranked b = extremeInQuadrant(nodes_, root_, 0, lo.rank + 1, hi.rank - 1, before, s);
      if (b.id >= 0) lo = b;
      Search s2;
      const Quadrant after{false, above1 + t + slack, above2 - t + slack, y + window};
      const Ranked a = extremeInQuadrant(nodes_, root_, 0, lo.rank + 1, hi.rank - 1, after, s2);
      if (a.id >= 0) hi = a;
    }
  }

  // The path's nodes between the bounds, oldest first.  A node of the path
  // within the tolerance lies between them (the bounds are far from q in x,
  // or in y with the x bands empty, farther than a node of the path that
  // holds them in its subtree could be), so the walk's answer is the oldest
  // of these that matches.
  std::int32_t answer = kNone;
  while (hi.rank - lo.rank > 1) {
    const std::int32_t m = oldestIn(lo.rank + 1, hi.rank - 1);
    const Node& node = nodes_[m];
    Side side = sideOf(node, x, y);
    if (side == Side::kPosition) {
      if (node.ref == ref && node.number != 0 && (answer < 0 || m < answer)) answer = m;
      side = node.ref <= ref ? Side::kHigher : Side::kLower;
    }
    const Ranked r{m, rankOf(m)};
    if (side == Side::kHigher) {
      lo = r;
    } else {
      hi = r;
    }
  }
  if (answer >= 0) return nodes_[answer].number;
  if (newNumber == 0) return 0;

  // The new node hangs below the younger of the two neighbours of its place.
  const bool higher = lo.id > hi.id;
  const std::int32_t parent = higher ? lo.id : hi.id;
  if (parent < 0 || (higher ? nodes_[parent].higher : nodes_[parent].lower) >= 0) {
    return lookupByWalk(x, y, ref, newNumber);  // not reached: the sequence and the tree disagree
  }
  const std::int32_t id = add(x, y, ref, newNumber);
  (higher ? nodes_[parent].higher : nodes_[parent].lower) = id;
  insertAt(hi.rank, id);
  return 0;
}

std::int32_t PointRegistry::lookup(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  if (ref <= 0) return lookupByWalk(x, y, ref, newNumber);
  return lookupFast(x, y, ref, newNumber);
}

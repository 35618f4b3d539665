#include "script/point_registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::int32_t kNone = -1;
// Blocks a search for bounds may read before it gives up (the bounds only
// save work; without them the lookup is still exact).
constexpr int kSearchBudget = 64;
// Fewer nodes than this between the bounds are walked without looking for
// closer ones.
constexpr std::int32_t kNarrowRange = 6;

// Every bit of the word depends on every bit of the argument.
std::uint64_t mixBits(std::uint64_t h) {
  h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdull;
  h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Asks for every cache line of a block at once, before it is read: the
// lines then come in together instead of one after another.
template <class T>
void prefetch(const T& block) {
  const char* p = reinterpret_cast<const char*>(&block);
  for (std::size_t at = 0; at < sizeof(T); at += 64) __builtin_prefetch(p + at);
}

}  // namespace

void PointRegistry::clear() {
  tolerance_ = 0.0;
  nodes_.clear();
  leaves_.clear();
  inners_.clear();
  path_.clear();
  path_.shrink_to_fit();
  root_ = kNone;
  height_ = 0;
  recent_.fill(Recent{});
}

std::size_t PointRegistry::bytesHeld() const {
  return sizeof(*this) + nodes_.bytesHeld() + leaves_.bytesHeld() + inners_.bytesHeld() +
         path_.capacity() * sizeof(Step);
}

PointRegistry::Side PointRegistry::sideOf(double nx, double ny, double x, double y) const {
  const double t = tolerance_;
  if (x > nx + t) return Side::kHigher;
  if (x < nx - t) return Side::kLower;
  if (y > ny + t) return Side::kHigher;
  if (y < ny - t) return Side::kLower;
  return Side::kPosition;
}

// ---------------------------------------------------------------------------
// The in-order sequence

void PointRegistry::Box::addPoint(std::int32_t id, double x, double y) {
  count += 1;
  oldest = std::min(oldest, id);
  minX = std::min(minX, x);
  maxX = std::max(maxX, x);
  minY = std::min(minY, y);
  maxY = std::max(maxY, y);
}

void PointRegistry::Box::addBox(const Box& b) {
  count += b.count;
  oldest = std::min(oldest, b.oldest);
  minX = std::min(minX, b.minX);
  maxX = std::max(maxX, b.maxX);
  minY = std::min(minY, b.minY);
  maxY = std::max(maxY, b.maxY);
}

void PointRegistry::Inner::setBox(int k, const Box& b) {
  count[k] = b.count;
  oldest[k] = b.oldest;
  minX[k] = b.minX;
  maxX[k] = b.maxX;
  minY[k] = b.minY;
  maxY[k] = b.maxY;
}

void PointRegistry::Inner::addPoint(int k, std::int32_t id, double x, double y) {
  count[k] += 1;
  oldest[k] = std::min(oldest[k], id);
  minX[k] = std::min(minX[k], x);
  maxX[k] = std::max(maxX[k], x);
  minY[k] = std::min(minY[k], y);
  maxY[k] = std::max(maxY[k], y);
}

PointRegistry::Box PointRegistry::leafBox(std::int32_t leaf) const {
  const Leaf& l = leaves_[leaf];
  Box b;
  for (int j = 0; j < l.size; ++j) b.addPoint(l.id[j], l.x[j], l.y[j]);
  return b;
}

PointRegistry::Box PointRegistry::innerBox(std::int32_t inner) const {
  const Inner& in = inners_[inner];
  Box b;
  for (int k = 0; k < in.size; ++k) b.addBox(in.box(k));
  return b;
}

// The node goes to its rank; every block passed on the way down gains it
// (its box grows and its oldest node stays, as the new node is the
// youngest).  A block that becomes full is split in two.
void PointRegistry::insertAt(std::int32_t rank, std::int32_t id, double x, double y) {
  if (root_ < 0) {
    root_ = leaves_.add();
    height_ = 0;
  }
  path_.clear();
  std::int32_t b = root_;
  for (int level = height_; level > 0; --level) {
    Inner& in = inners_[b];
    int k = 0;
    while (k < in.size - 1 && rank > in.count[k]) {
      rank -= in.count[k];
      ++k;
    }
    in.addPoint(k, id, x, y);
    path_.push_back(Step{b, k});
    b = in.child[k];
  }
  Leaf& l = leaves_[b];
  const int at = static_cast<int>(rank);
  for (int j = l.size; j > at; --j) {
    l.id[j] = l.id[j - 1];
    l.x[j] = l.x[j - 1];
    l.y[j] = l.y[j - 1];
  }
  l.id[at] = id;
  l.x[at] = x;
  l.y[at] = y;
  ++l.size;
  if (l.size == kLeafSize) splitLeaf(b, at);
}

// A full leaf keeps half its nodes; the last leaf of the sequence all but
// a new last node, the first one only a new first node, so that points
// coming in order of x fill their leaves.  (Leaves elsewhere are not
// filled further: a leaf shared with its neighbour would mix nodes of
// distant places, whose boxes the searches could not pass by.)
void PointRegistry::splitLeaf(std::int32_t leaf, int at) {
  bool first = true, last = true;
  for (const Step& s : path_) {
    first = first && s.k == 0;
    last = last && s.k == inners_[s.block].size - 1;
  }
  const int keep = at == kLeafSize - 1 && last ? kLeafSize - 1 : at == 0 && first ? 1 : kLeafSize / 2;
  const std::int32_t fresh = leaves_.add();
  Leaf& l = leaves_[leaf];
  Leaf& f = leaves_[fresh];
  for (int j = keep; j < l.size; ++j) {
    f.id[j - keep] = l.id[j];
    f.x[j - keep] = l.x[j];
    f.y[j - keep] = l.y[j];
  }
  f.size = l.size - keep;
  l.size = keep;
  addChild(fresh, 1);
}

// Puts child (a block of level - 1) into its parent on the latest
// insertion's path right after the child the insertion went to, whose box
// is taken anew; an inner block that becomes full is split in two the same
// way, up to a new root.
void PointRegistry::addChild(std::int32_t child, int level) {
  for (;;) {
    if (level > height_) {
      const std::int32_t top = inners_.add();
      Inner& t = inners_[top];
      t.size = 1;
      t.child[0] = root_;
      path_.insert(path_.begin(), Step{top, 0});
      root_ = top;
      height_ = level;
    }
    const Step at = path_[static_cast<std::size_t>(height_ - level)];
    const std::int32_t after = inners_[at.block].child[at.k];
    const Box afterBox = level == 1 ? leafBox(after) : innerBox(after);
    const Box childBox = level == 1 ? leafBox(child) : innerBox(child);
    Inner& in = inners_[at.block];
    for (int j = in.size; j > at.k + 1; --j) {
      in.child[j] = in.child[j - 1];
      in.setBox(j, in.box(j - 1));
    }
    in.setBox(at.k, afterBox);
    in.child[at.k + 1] = child;
    in.setBox(at.k + 1, childBox);
    ++in.size;
    if (in.size < kFanOut) return;

    const std::int32_t fresh = inners_.add();
    Inner& full = inners_[at.block];
    Inner& f = inners_[fresh];
    const int keep = kFanOut / 2;
    for (int j = keep; j < full.size; ++j) {
      f.child[j - keep] = full.child[j];
      f.setBox(j - keep, full.box(j));
    }
    f.size = full.size - keep;
    full.size = keep;
    child = fresh;
    ++level;
  }
}

// The oldest node of ranks first..last (a range not empty).
PointRegistry::Ranked PointRegistry::oldestIn(std::int32_t first, std::int32_t last) const {
  Oldest o;
  oldestInBlock(root_, height_, 0, first, last, o);
  // Down to the node from the block that gave it.
  std::int32_t b = o.block, offset = o.offset;
  for (int level = o.level; level > 0; --level) {
    const Inner& in = inners_[b];
    int k = 0;
    while (in.oldest[k] != o.id) offset += in.count[k++];
    b = in.child[k];
  }
  const Leaf& l = leaves_[b];
  int j = 0;
  while (l.id[j] != o.id) ++j;
  return Ranked{o.id, offset + j, l.x[j], l.y[j]};
}

std::int32_t PointRegistry::oldestId(std::int32_t first, std::int32_t last) const {
  Oldest o;
  oldestInBlock(root_, height_, 0, first, last, o);
  return o.id;
}

// Ranks first..last of the block whose first node has rank offset; the
// recursion goes as deep as the tree of blocks is high.
void PointRegistry::oldestInBlock(std::int32_t block, int level, std::int32_t offset, std::int32_t first,
                                  std::int32_t last, Oldest& o) const {
  if (level == 0) {
    const Leaf& l = leaves_[block];
    const int from = std::max<std::int32_t>(first - offset, 0);
    const int to = std::min<std::int32_t>(last - offset, l.size - 1);
    for (int j = from; j <= to; ++j) {
      if (l.id[j] < o.id) o = Oldest{l.id[j], block, 0, offset};
    }
    return;
  }
  const Inner& in = inners_[block];
  for (int k = 0; k < in.size && offset <= last; ++k) {
    const std::int32_t end = offset + in.count[k] - 1;
    if (end >= first) {
      if (first <= offset && end <= last) {
        if (in.oldest[k] < o.id) o = Oldest{in.oldest[k], in.child[k], level - 1, offset};
      } else {
        oldestInBlock(in.child[k], level - 1, offset, first, last, o);
      }
    }
    offset = end + 1;
  }
}

PointRegistry::Ranked PointRegistry::lastWithXBelow(double limit) const {
  std::int32_t b = root_, end = static_cast<std::int32_t>(nodes_.size());
  for (int level = height_; level > 0; --level) {
    const Inner& in = inners_[b];
    int k = in.size - 1;
    while (k >= 0 && !(in.minX[k] < limit)) end -= in.count[k--];
    if (k < 0) return Ranked{};
    b = in.child[k];
  }
  const Leaf& l = leaves_[b];
  for (int j = l.size - 1; j >= 0; --j) {
    if (l.x[j] < limit) return Ranked{l.id[j], end - l.size + j, l.x[j], l.y[j]};
  }
  return Ranked{};
}

PointRegistry::Ranked PointRegistry::firstWithXAbove(double limit) const {
  std::int32_t b = root_, offset = 0;
  for (int level = height_; level > 0; --level) {
    const Inner& in = inners_[b];
    int k = 0;
    while (k < in.size && !(in.maxX[k] > limit)) offset += in.count[k++];
    if (k == in.size) return Ranked{};
    b = in.child[k];
  }
  const Leaf& l = leaves_[b];
  for (int j = 0; j < l.size; ++j) {
    if (l.x[j] > limit) return Ranked{l.id[j], offset + j, l.x[j], l.y[j]};
  }
  return Ranked{};
}

std::int32_t PointRegistry::add(std::int32_t ref, std::int32_t number) {
  const std::int32_t id = nodes_.add();
  nodes_[id] = Node{ref, number};
  return id;
}

// ---------------------------------------------------------------------------
// The walk node by node

// The nodes of the walk are found in the sequence: the walk's next node is
// the oldest between the last node it passed on its higher side and the
// last it passed on its lower side, and its subtrees are what lies between
// it and those two.
std::int32_t PointRegistry::lookupByWalk(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  const std::int32_t stored = ref < 0 ? -ref : ref;
  if (empty()) {
    if (newNumber == 0) return 0;
    insertAt(0, add(stored, newNumber), x, y);
    return 0;
  }
  // With reference 0 a node of the same position answers only when its
  // higher subtree finds nothing: the answer is the deepest such node's
  // number along the walk.
  std::int32_t fallback = 0;
  std::int32_t lo = -1, hi = static_cast<std::int32_t>(nodes_.size());  // ranks
  while (hi - lo > 1) {
    const Ranked u = oldestIn(lo + 1, hi - 1);
    const std::int32_t rank = u.rank;
    const Node& n = nodes_[u.id];
    Side side = sideOf(u.x, u.y, x, y);
    if (side == Side::kPosition) {
      if (ref > 0) {
        if (n.ref == ref) return n.number;
        side = n.ref < ref ? Side::kHigher : Side::kLower;
      } else if (ref == 0) {
        if (n.number != 0) fallback = n.number;
        if (hi == rank + 1) return fallback;  // no higher subtree
        side = Side::kHigher;
      } else {
        side = -static_cast<std::int64_t>(ref) >= n.ref ? Side::kHigher : Side::kLower;
      }
    }
    if (side == Side::kHigher) {
      lo = rank;
    } else {
      hi = rank;
    }
  }
  if (newNumber != 0) insertAt(hi, add(stored, newNumber), x, y);
  return fallback;
}

// ---------------------------------------------------------------------------
// ---------------------------------------------------------------------------
// The lookup through the sequence

// Searches over the sequence with pruning by the blocks' boxes; each spends
// from a budget a block it reads and reports when it ran out.
struct PointRegistry::Search {
  int budget = kSearchBudget;
  bool exhausted = false;
  bool spend() {
    if (budget-- > 0) return true;
    exhausted = true;
    return false;
  }
};

// A band of x beyond a threshold: above or below it, strictly or not.
struct PointRegistry::Band {
  double threshold;
  bool above, strict;
  bool beyond(double v) const {
    if (strict) return above ? v > threshold : v < threshold;
    return above ? v >= threshold : v <= threshold;
  }
  bool closer(double a, double b) const { return above ? a < b : a > b; }
};

// A quadrant of the plane: x below xStrict (strictly) and xLimit, y below
// yLimit (strictly); or the mirror image with all signs turned.
struct PointRegistry::Quadrant {
  bool lowerLeft;
  double xStrict, xLimit, yLimit;
  bool holds(double x, double y) const {
    return lowerLeft ? x < xStrict && x <= xLimit && y < yLimit : x > xStrict && x >= xLimit && y > yLimit;
  }
  bool mayHold(const Box& b) const {
    return lowerLeft ? b.minX < xStrict && b.minX <= xLimit && b.minY < yLimit
                     : b.maxX > xStrict && b.maxX >= xLimit && b.maxY > yLimit;
  }
};

// The x nearest each band's threshold on its side: the least x above it,
// or the greatest x below it; strictly or not.  The bands are searched in
// one walk over the blocks, as their thresholds lie close together.
void PointRegistry::nearestX(std::int32_t block, int level, const Band* bands, int count, double* nearest,
                             Search& s) const {
  if (!s.spend()) return;
  if (level == 0) {
    const Leaf& l = leaves_[block];
    for (int i = 0; i < count; ++i) {
      const Band& band = bands[i];
      for (int j = 0; j < l.size; ++j) {
        if (band.beyond(l.x[j]) && band.closer(l.x[j], nearest[i])) nearest[i] = l.x[j];
      }
    }
    return;
  }
  const Inner& in = inners_[block];
  for (int k = 0; k < in.size; ++k) {
    bool descend = false;
    for (int i = 0; i < count; ++i) {
      const Band& band = bands[i];
      const double nearEnd = band.above ? in.minX[k] : in.maxX[k];
      const double farEnd = band.above ? in.maxX[k] : in.minX[k];
      if (!band.beyond(farEnd) || !band.closer(nearEnd, nearest[i])) continue;
      if (band.beyond(nearEnd)) {
        nearest[i] = nearEnd;
      } else {
        descend = true;
      }
    }
    if (descend) nearestX(in.child[k], level - 1, bands, count, nearest, s);
  }
}

// The last (lower left quadrant) or first (upper right) node within ranks
// first..last of the block (whose first node has rank offset) that lies in
// the quadrant; id -1 when none was found.
PointRegistry::Ranked PointRegistry::extremeInQuadrant(std::int32_t block, int level, std::int32_t offset,
                                                       std::int32_t first, std::int32_t last, const Quadrant& q,
                                                       Search& s) const {
  if (!s.spend()) return Ranked{};
  if (level == 0) {
    const Leaf& l = leaves_[block];
    const int from = std::max<std::int32_t>(first - offset, 0);
    const int to = std::min<std::int32_t>(last - offset, l.size - 1);
    if (q.lowerLeft) {
      for (int j = to; j >= from; --j) {
        if (q.holds(l.x[j], l.y[j])) return Ranked{l.id[j], offset + j, l.x[j], l.y[j]};
      }
    } else {
      for (int j = from; j <= to; ++j) {
        if (q.holds(l.x[j], l.y[j])) return Ranked{l.id[j], offset + j, l.x[j], l.y[j]};
      }
    }
    return Ranked{};
  }
  const Inner& in = inners_[block];
  std::int32_t offsets[kFanOut];
  for (int k = 0; k < in.size; ++k) {
    offsets[k] = offset;
    offset += in.count[k];
  }
  for (int i = 0; i < in.size; ++i) {
    const int k = q.lowerLeft ? in.size - 1 - i : i;
    const std::int32_t start = offsets[k], end = start + in.count[k] - 1;
    if (end < first || start > last || !q.mayHold(in.box(k))) continue;
    const Ranked r = extremeInQuadrant(in.child[k], level - 1, start, first, last, q, s);
    if (r.id >= 0 || s.exhausted) return r;
  }
  return Ranked{};
}

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
  Ranked lo = lastWithXBelow(x - window), hi = firstWithXAbove(x + window);
  if (hi.id < 0) hi.rank = n;
  if (lo.rank >= hi.rank) return lookupByWalk(x, y, ref, newNumber);

  // Nodes more than 2t away in y, on the side the x bands allow.
  if (hi.rank - lo.rank - 1 > kNarrowRange) {
    const Band bands[4] = {{x + t - slack, true, true},
                           {x - t - slack, true, false},
                           {x - t + slack, false, true},
                           {x + t + slack, false, false}};
    double nearest[4] = {kInfinity, kInfinity, -kInfinity, -kInfinity};
    Search search;
    nearestX(root_, height_, bands, 4, nearest, search);
    const double below1 = nearest[0], below2 = nearest[1], above1 = nearest[2], above2 = nearest[3];
    if (!search.exhausted) {
      Search s;
      const Quadrant before{true, below1 - t - slack, below2 + t - slack, y - window};
      const Ranked b = extremeInQuadrant(root_, height_, 0, lo.rank + 1, hi.rank - 1, before, s);
      if (b.id >= 0) lo = b;
      Search s2;
      const Quadrant after{false, above1 + t + slack, above2 - t + slack, y + window};
      const Ranked a = extremeInQuadrant(root_, height_, 0, lo.rank + 1, hi.rank - 1, after, s2);
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
    const Ranked r = oldestIn(lo.rank + 1, hi.rank - 1);
    const std::int32_t m = r.id;
    const Node& node = nodes_[m];
    Side side = sideOf(r.x, r.y, x, y);
    if (side == Side::kPosition) {
      if (node.ref == ref && node.number != 0 && (answer < 0 || m < answer)) answer = m;
      side = node.ref <= ref ? Side::kHigher : Side::kLower;
    }
    if (side == Side::kHigher) {
      lo = r;
    } else {
      hi = r;
    }
  }
  if (answer >= 0) return nodes_[answer].number;
  if (newNumber == 0) return 0;

  insertAt(hi.rank, add(ref, newNumber), x, y);
  return 0;
}

// ---------------------------------------------------------------------------
// The lookup of a point clear of its neighbours

// The point looked for and the nodes whose x lies near its x: a cluster of
// x values [low, high] that holds the point's x, and around it the ring
// [outerLow, low) and (high, outerHigh] of the tolerance (widened by the
// slack) where no node may lie; [yLow, yHigh] the band in y of the point.
struct PointRegistry::Column {
  double x, y, tolerance;
  double low, high, outerLow, outerHigh, yLow, yHigh;
  // A node in the ring, or one of the cluster in the band in y: with such
  // a node the order below may not hold (the latter may be met on the way).
  bool outOfOrder(double nx, double ny) const {
    return nx >= outerLow && nx <= outerHigh && (nx < low || nx > high || (ny >= yLow && ny <= yHigh));
  }
  bool mayHoldOutOfOrder(double minX, double maxX, double minY, double maxY) const {
    if (maxX < outerLow || minX > outerHigh) return false;
    if (minX >= low && maxX <= high) return !(maxY < yLow || minY > yHigh);
    return true;
  }
  // The walk passes a node on its higher side (no node lies within the
  // tolerance, so this is the whole comparison).
  bool higher(double nx, double ny) const {
    if (x > nx + tolerance) return true;
    if (x < nx - tolerance) return false;
    return y > ny + tolerance;
  }
  // Every node of a box is passed on the higher side, or every one on the
  // lower side.
  bool allHigher(double minX, double maxX, double maxY) const {
    return maxX < low || (minX >= low && maxX <= high && maxY < yLow);
  }
  bool allLower(double minX, double maxX, double minY) const {
    return minX > high || (minX >= low && maxX <= high && minY > yHigh);
  }
};

// Widens [minX, maxX] by the x of the nodes of the block within [low, high].
void PointRegistry::xExtent(std::int32_t block, int level, double low, double high, double& minX,
                            double& maxX) const {
  if (level == 0) {
    const Leaf& l = leaves_[block];
    for (int j = 0; j < l.size; ++j) {
      if (l.x[j] >= low && l.x[j] <= high) {
        minX = std::min(minX, l.x[j]);
        maxX = std::max(maxX, l.x[j]);
      }
    }
    return;
  }
  const Inner& in = inners_[block];
  for (int k = 0; k < in.size; ++k) {
    if (in.maxX[k] < low || in.minX[k] > high) continue;
    if (in.minX[k] >= low && in.maxX[k] <= high) {
      minX = std::min(minX, in.minX[k]);
      maxX = std::max(maxX, in.maxX[k]);
    } else {
      xExtent(in.child[k], level - 1, low, high, minX, maxX);
    }
  }
}

// Collects into found (up to two) the nodes that may break the order, in
// sequence order, with their ranks.  With `higher` it counts as well, in
// the same walk, the nodes passed on their higher side up to the first
// passed on its lower side, as countHigher does (the count holds when no
// node was found).
void PointRegistry::findOutOfOrder(std::int32_t block, int level, std::int32_t offset, const Column& c,
                                   Ranked* found, int& count, Higher* higher) const {
  if (level == 0) {
    const Leaf& l = leaves_[block];
    prefetch(l);
    for (int j = 0; j < l.size && count < 2; ++j) {
      if (c.outOfOrder(l.x[j], l.y[j])) found[count++] = Ranked{l.id[j], offset + j, l.x[j], l.y[j]};
      if (higher != nullptr && higher->open) {
        if (c.higher(l.x[j], l.y[j])) {
          ++higher->count;
        } else {
          higher->open = false;
        }
      }
    }
    return;
  }
  const Inner& in = inners_[block];
  prefetch(in);
  for (int k = 0; k < in.size && count < 2; ++k) {
    const bool may = c.mayHoldOutOfOrder(in.minX[k], in.maxX[k], in.minY[k], in.maxY[k]);
    if (higher != nullptr && higher->open) {
      if (c.allHigher(in.minX[k], in.maxX[k], in.maxY[k])) {
        higher->count += in.count[k];
        if (may) findOutOfOrder(in.child[k], level - 1, offset, c, found, count, nullptr);
      } else if (c.allLower(in.minX[k], in.maxX[k], in.minY[k])) {
        higher->open = false;
        if (may) findOutOfOrder(in.child[k], level - 1, offset, c, found, count, nullptr);
      } else {
        findOutOfOrder(in.child[k], level - 1, offset, c, found, count, higher);
      }
    } else if (may) {
      findOutOfOrder(in.child[k], level - 1, offset, c, found, count, nullptr);
    }
    offset += in.count[k];
  }
}

// Adds to count the nodes of the block passed on their higher side, which
// come first, leaving out node skip; false when the block holds one passed
// on its lower side.
bool PointRegistry::countHigher(std::int32_t block, int level, const Column& c, std::int32_t skip,
                                std::int32_t& count) const {
  if (level == 0) {
    const Leaf& l = leaves_[block];
    for (int j = 0; j < l.size; ++j) {
      if (l.id[j] == skip) continue;
      if (!c.higher(l.x[j], l.y[j])) return false;
      ++count;
    }
    return true;
  }
  const Inner& in = inners_[block];
  for (int k = 0; k < in.size; ++k) {
    if (c.allHigher(in.minX[k], in.maxX[k], in.maxY[k])) {
      count += in.count[k];
      continue;
    }
    if (c.allLower(in.minX[k], in.maxX[k], in.minY[k])) return false;
    if (!countHigher(in.child[k], level - 1, c, skip, count)) return false;
  }
  return true;
}

// Answers the lookup of a point (reference ref > 0) when the nodes near it
// are few: the nodes near it in x form a cluster of x values narrower than
// the tolerance, with no node within the tolerance around the cluster, and
// at most one node of the cluster lies near it in y.  False when it cannot.
// In drawings the cluster is mostly the point's own x (lines along the
// axes, columns of table rows) or one other x.
//
// Without that one node the walk compares every node it meets by x alone,
// or (nodes of the cluster) by y alone, and the sequence holds first the
// nodes below the cluster in x, then those of the cluster, then those
// above: two nodes in the tree's order lie at most 2t apart in the wrong
// order in x (they lie on the two sides of their common ancestor), and a
// common ancestor of a node of the cluster and another node lies outside
// the ring or in the cluster.  Among the nodes of the cluster the same
// holds for y.  So the nodes the walk passes on their higher side come
// before all it passes on their lower side, and the walk heads for the gap
// where the one kind ends.  The one node near the point, m, is met on the
// way exactly when no older node lies between it and that gap; met, it
// answers or turns the walk, which then ends beside it or at the gap.  The
// slack of the bands covers the rounding of the comparisons.
bool PointRegistry::lookupInOrder(double x, double y, std::int32_t ref, std::int32_t newNumber,
                                  std::int32_t& answer) {
  answer = 0;
  const std::int32_t n = static_cast<std::int32_t>(nodes_.size());
  if (n == 0) return false;
  const double t = tolerance_;
  // Far above the rounding of the comparisons (the other limits here are
  // the tolerance itself).
  const double slack = 1e-9 * t + 1e-12 * (1.0 + std::fabs(x) + std::fabs(y));
  // First as if the cluster were the point's x alone (the column of most
  // points); when nodes of other x lie in the band, with the cluster they
  // make.
  Column c{x, y, t, x, x, x - t - slack, x + t + slack, y - t - slack, y + t + slack};
  Ranked near[2];
  int nearCount = 0;
  Higher counted;
  findOutOfOrder(root_, height_, 0, c, near, nearCount, &counted);
  bool widened = false;
  const auto inCluster = [&](const Ranked& r) {
    return r.x >= c.low && r.x <= c.high;
  };
  if (nearCount > 1 || (nearCount == 1 && !inCluster(near[0]))) {
    double low = x, high = x;
    xExtent(root_, height_, x - t - slack, x + t + slack, low, high);
    // Every two x of the cluster compare by y.
    if (low == high || !(high - low <= t - slack)) return false;
    c = Column{x, y, t, low, high, low - t - slack, high + t + slack, y - t - slack, y + t + slack};
    nearCount = 0;
    widened = true;
    findOutOfOrder(root_, height_, 0, c, near, nearCount, nullptr);
    if (nearCount > 1 || (nearCount == 1 && !inCluster(near[0]))) return false;
  }
  const Ranked m = nearCount == 1 ? near[0] : Ranked{};
  // The gap the nodes other than m lead to: after the first `higher` of
  // them in the sequence.
  std::int32_t higher = 0;
  if (m.id < 0 && !widened) {
    higher = counted.count;
  } else {
    countHigher(root_, height_, c, m.id, higher);
  }
  std::int32_t gap = higher;
  if (m.id >= 0) {
    // Where m lies: among the nodes passed higher (before the gap), right
    // at the gap, or among those passed lower.
    const bool before = m.rank < higher;
    const bool at = m.rank == higher;
    if (before) gap = higher + 1;
    bool met = at;
    if (before) met = oldestId(m.rank + 1, higher) > m.id;
    if (!at && !before) met = oldestId(higher, m.rank - 1) > m.id;
    if (met) {
      const Node& node = nodes_[m.id];
      Side side = sideOf(m.x, m.y, x, y);
      if (side == Side::kPosition) {
        if (node.ref == ref) {
          answer = node.number;
          return true;
        }
        side = node.ref < ref ? Side::kHigher : Side::kLower;
      }
      if (before) {
        gap = side == Side::kHigher ? higher + 1 : m.rank;
      } else if (at) {
        gap = side == Side::kHigher ? higher + 1 : higher;
      } else {
        gap = side == Side::kHigher ? m.rank + 1 : higher;
      }
    }
  }
  if (newNumber == 0) return true;
  insertAt(gap, add(ref, newNumber), x, y);
  return true;
}

// ---------------------------------------------------------------------------
// The lookup

std::int32_t PointRegistry::lookup(double x, double y, std::int32_t ref, std::int32_t newNumber) {
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  if (ref <= 0) return lookupByWalk(x, y, ref, newNumber);
  std::uint64_t bx, by;
  std::memcpy(&bx, &x, sizeof bx);
  std::memcpy(&by, &y, sizeof by);
  const std::uint64_t hash = mixBits(mixBits(bx ^ static_cast<std::uint32_t>(ref)) ^ by);
  Recent& recent = recent_[hash & (kRecent - 1)];
  if (recent.ref == ref && sameBits(recent.x, x) && sameBits(recent.y, y)) return recent.number;
  const std::int32_t before = nodes_.size();
  std::int32_t answer = 0;
  if (!lookupInOrder(x, y, ref, newNumber, answer)) answer = lookupFast(x, y, ref, newNumber);
  if (answer != 0) {
    recent = Recent{x, y, ref, answer};
  } else if (nodes_.size() > before) {
    recent = Recent{x, y, ref, newNumber};
  }
  return answer;
}

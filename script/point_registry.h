// The registry of the points already written to the script.
//
// Its answers are those of a binary tree of points searched with a
// tolerance: from the root, x decides when it lies more than the tolerance
// away from the node's x, else y the same way, else (a match of position)
// the reference number: a node written against another reference point is
// passed by, descending higher when its reference is below the one looked
// for; with reference 0 the higher subtree is searched first and the node
// answers when that finds nothing; a negative reference never matches and
// registers a new node.  An empty place takes a new node; the answer is
// then 0.
//
// Such a tree degenerates on real drawings (points along a line, a column
// of table rows), so the walk is not made node by node.  The nodes are kept
// in their in-order sequence in a balanced tree of blocks as well (leaves of
// a few dozen points side by side in memory, inner blocks holding the
// count, the oldest node and the bounding box of each child, so that a
// descent reads a handful of blocks instead of a node per level); a node's
// insertion number is its age, and in a tree grown at its leaves a node is an
// ancestor of an empty place exactly when it is the oldest node between
// itself and that place in the sequence.  The lookup therefore bounds the
// place where a walk would end by nodes that provably lie on one side of it
// (far away in x; or below and left, or above and right, of the point with
// no node in the bands that could reorder them), finds the path's nodes in
// between as oldest nodes of the remaining range, and answers with the
// oldest of them within the tolerance.
//
// Most new points of a drawing have no node within the tolerance, and the
// nodes near them in x share their x exactly (lines along the axes, columns
// of table rows).  Then the nodes the walk passes on their higher side all
// come before those it passes on their lower side in the sequence, so the
// place is where the one kind ends, found by one descent over the blocks;
// one node of the same x within the tolerance (the point registered
// before) is met on the way or not as the ages of the nodes between say.
// The lookup falls back to the bounds above when more nodes lie nearer.
//
// A lookup with a positive reference that found a node, or registered
// one, is answered so for good: a later walk for the same coordinates
// passes the same nodes and ends at the same one.  The latest such answers
// are kept by the bits of their coordinates and reference, as most repeats
// come soon (the first point of an element as the reference of its next
// ones, the shared end of two lines).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class PointRegistry {
 public:
  void clear();
  double tolerance() const { return tolerance_; }
  void setTolerance(double tolerance) { tolerance_ = tolerance; }
  std::size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.size() == 0; }

  // The element number the tree answers for (x, y) with reference ref, 0
  // for a point not found.  A point not found is registered with newNumber,
  // unless newNumber is 0 (a registered 0 would hide the place for good) or
  // a coordinate is not a finite number (such a point never matches).
  std::int32_t lookup(double x, double y, std::int32_t ref, std::int32_t newNumber);

  // The same answer found by walking the tree node by node (the lookup
  // falls back to it for negative and zero references; tests compare).
  std::int32_t lookupByWalk(double x, double y, std::int32_t ref, std::int32_t newNumber);

  // The bytes held, for the benchmark.
  std::size_t bytesHeld() const;

 private:
  enum class Side { kLower, kHigher, kPosition };

  // Items in chunks that never move: growing reads and copies nothing, and
  // holds at most one chunk more than needed.
  template <class T, int kShift>
  class Pool {
   public:
    std::int32_t size() const { return size_; }
    T& operator[](std::int32_t i) { return chunks_[i >> kShift][i & kMask]; }
    const T& operator[](std::int32_t i) const { return chunks_[i >> kShift][i & kMask]; }
    // A new item as its type makes it.
    std::int32_t add() {
      if ((size_ & kMask) == 0) chunks_.emplace_back(new T[std::size_t{1} << kShift]);
      return size_++;
    }
    void clear() {
      chunks_.clear();
      chunks_.shrink_to_fit();
      size_ = 0;
    }
    std::size_t bytesHeld() const {
      return chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * (sizeof(T) << kShift);
    }

   private:
    static constexpr std::int32_t kMask = (1 << kShift) - 1;
    std::vector<std::unique_ptr<T[]>> chunks_;
    std::int32_t size_ = 0;
  };

  // What a node holds besides its position, which its leaf holds.
  struct Node {
    std::int32_t ref = 0, number = 0;
  };

  // What an inner block knows of each child: its node count, its oldest
  // node and the bounding box of its points.
  struct Box {
    std::int32_t count = 0;
    std::int32_t oldest = 0x7fffffff;
    double minX = kHuge, maxX = -kHuge, minY = kHuge, maxY = -kHuge;
    void addPoint(std::int32_t id, double x, double y);
    void addBox(const Box& b);
  };
  static constexpr double kHuge = 1.79769313486231570e+308;
  static constexpr int kLeafSize = 32;
  static constexpr int kFanOut = 16;

  // The sequence's blocks; a block is full (and split) when it reaches its
  // size, so an insertion always finds room.
  struct Leaf {
    std::int32_t size = 0;
    std::int32_t id[kLeafSize];
    double x[kLeafSize], y[kLeafSize];
  };
  struct Inner {
    std::int32_t size = 0;
    std::int32_t child[kFanOut];
    // The children's boxes field by field: a scan of one field reads a
    // cache line or two.
    std::int32_t count[kFanOut], oldest[kFanOut];
    double minX[kFanOut], maxX[kFanOut], minY[kFanOut], maxY[kFanOut];
    Box box(int k) const { return Box{count[k], oldest[k], minX[k], maxX[k], minY[k], maxY[k]}; }
    void setBox(int k, const Box& b);
    void addPoint(int k, std::int32_t id, double x, double y);
  };
  // A node, its rank in the sequence and its position.
  struct Ranked {
    std::int32_t id = -1, rank = -1;
    double x = 0.0, y = 0.0;
  };
  // An inner block passed by an insertion, and the child it went to.
  struct Step {
    std::int32_t block;
    int k;
  };
  struct Search;
  struct Band;
  struct Quadrant;
  struct Column;

  Side sideOf(double nx, double ny, double x, double y) const;

  // The sequence.
  Box leafBox(std::int32_t leaf) const;
  Box innerBox(std::int32_t inner) const;
  void insertAt(std::int32_t rank, std::int32_t id, double x, double y);
  void splitLeaf(std::int32_t leaf, int at);
  void addChild(std::int32_t child, int level);
  // The oldest node found so far and the block that holds it, whose first
  // node has rank offset.
  struct Oldest {
    std::int32_t id = 0x7fffffff, block = -1;
    int level = 0;
    std::int32_t offset = 0;
  };
  Ranked oldestIn(std::int32_t first, std::int32_t last) const;
  std::int32_t oldestId(std::int32_t first, std::int32_t last) const;
  void oldestInBlock(std::int32_t block, int level, std::int32_t offset, std::int32_t first, std::int32_t last,
                     Oldest& o) const;
  Ranked lastWithXBelow(double limit) const;
  Ranked firstWithXAbove(double limit) const;
  void nearestX(std::int32_t block, int level, const Band* bands, int count, double* nearest, Search& s) const;
  Ranked extremeInQuadrant(std::int32_t block, int level, std::int32_t offset, std::int32_t first,
                           std::int32_t last, const Quadrant& q, Search& s) const;

  std::int32_t add(std::int32_t ref, std::int32_t number);
  std::int32_t lookupFast(double x, double y, std::int32_t ref, std::int32_t newNumber);
  bool lookupInOrder(double x, double y, std::int32_t ref, std::int32_t newNumber, std::int32_t& answer);
  void xExtent(std::int32_t block, int level, double low, double high, double& minX, double& maxX) const;
  // A count of nodes passed on their higher side, open until the first
  // passed on its lower side.
  struct Higher {
    std::int32_t count = 0;
    bool open = true;
  };
  void findOutOfOrder(std::int32_t block, int level, std::int32_t offset, const Column& c, Ranked* found,
                      int& count, Higher* higher) const;
  bool countHigher(std::int32_t block, int level, const Column& c, std::int32_t skip, std::int32_t& count) const;

  double tolerance_ = 0.0;
  Pool<Node, 11> nodes_;
  Pool<Leaf, 5> leaves_;
  Pool<Inner, 4> inners_;
  std::int32_t root_ = -1;  // of the sequence
  int height_ = 0;          // inner levels above the leaves
  std::vector<Step> path_;  // of the latest insertion, from the root
  // The latest answers by the hash of their coordinates and reference,
  // none of them 0 (reference 0: an empty entry).
  struct Recent {
    double x = 0.0, y = 0.0;
    std::int32_t ref = 0, number = 0;
  };
  static constexpr std::size_t kRecent = 1024;
  std::array<Recent, kRecent> recent_{};
};

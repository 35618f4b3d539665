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
// in their in-order sequence in a balanced tree as well; a node's insertion
// number is its age, and in a tree grown at its leaves a node is an
// ancestor of an empty place exactly when it is the oldest node between
// itself and that place in the sequence.  The lookup therefore bounds the
// place where a walk would end by nodes that provably lie on one side of it
// (far away in x; or below and left, or above and right, of the point with
// no node in the bands that could reorder them), finds the path's nodes in
// between as oldest nodes of the remaining range, and asks for each point
// within the tolerance whether it lies on that path.
#pragma once

#include <cstdint>
#include <vector>

class PointRegistry {
 public:
  void clear();
  double tolerance() const { return tolerance_; }
  void setTolerance(double tolerance) { tolerance_ = tolerance; }
  std::size_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.empty(); }

  // The element number the tree answers for (x, y) with reference ref, 0
  // for a point not found.  A point not found is registered with newNumber,
  // unless newNumber is 0 (a registered 0 would hide the place for good) or
  // a coordinate is not a finite number (such a point never matches).
  std::int32_t lookup(double x, double y, std::int32_t ref, std::int32_t newNumber);

  // The same answer found by walking the tree node by node (the lookup
  // falls back to it for negative and zero references; tests compare).
  std::int32_t lookupByWalk(double x, double y, std::int32_t ref, std::int32_t newNumber);

 private:
  enum class Side { kLower, kHigher, kPosition };

  struct Node {
    // The point and the tree of the registry.
    double x, y;
    std::int32_t ref, number;
    std::int32_t lower = -1, higher = -1;
    // The in-order sequence: a treap with sizes, the oldest node and the
    // bounding box of each subtree.
    std::int32_t left = -1, right = -1, parent = -1;
    std::uint32_t priority = 0;
    std::int32_t count = 1;
    std::int32_t oldest = 0;
    double minX, maxX, minY, maxY;
  };

  Side sideOf(const Node& n, double x, double y) const;

  // The sequence.
  void pull(std::int32_t t);
  void split(std::int32_t t, std::int32_t k, std::int32_t& a, std::int32_t& b);
  void insertAt(std::int32_t rank, std::int32_t id);
  std::int32_t rankOf(std::int32_t id) const;
  std::int32_t oldestIn(std::int32_t first, std::int32_t last) const;
  std::int32_t sizeOf(std::int32_t t) const { return t < 0 ? 0 : nodes_[t].count; }

  std::int32_t add(double x, double y, std::int32_t ref, std::int32_t number);
  std::int32_t lookupFast(double x, double y, std::int32_t ref, std::int32_t newNumber);
  std::int32_t walkFrom(std::int32_t start, double x, double y, std::int32_t ref, std::int32_t newNumber);
  void attach(std::int32_t parent, bool higher, std::int32_t id);

  double tolerance_ = 0.0;
  std::vector<Node> nodes_;
  std::int32_t root_ = -1;  // of the sequence; the registry's tree has node 0 as root
  std::uint32_t seed_ = 0x9E3779B9u;
};

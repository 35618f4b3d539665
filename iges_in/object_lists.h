// Lists of script objects that take in whole lists made before them.
//
// An instance expanded inside another expansion hands its objects on to
// the expansion around it as one reference instead of a copy: a chain of
// expansions n deep keeps (and reads out at its top) each level's own
// objects once, not a copy of everything below at every level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ObjectMarks;

class NestedObjectLists {
 public:
  // Lists are numbered from 0 in the order they are closed.
  using Id = std::int32_t;

  // Adds to the list being made: an object, or a list closed before (all
  // of its objects, in their order, at this place).  A number that names
  // no closed list is passed over.
  void addObject(std::int32_t object);
  void addList(Id list);
  // Ends the list being made and gives its number.
  Id close();
  // Whether the list gives any object.
  bool holdsObjects(Id list) const;
  // Appends the objects of the list to `out`, each once where it comes
  // first, in order; `marks` starts a gathering of its own.  The work is
  // the list's own items and those of the lists it takes, each list read
  // once however often it is taken.
  void readOut(Id list, ObjectMarks& marks, std::vector<std::int32_t>& out);
  // The lists closed so far.
  std::size_t count() const { return lists_.size(); }
  // Forgets the lists from number `count` on and the list being made.
  void truncate(std::size_t count);

 private:
  struct Item {
    std::int32_t value = 0;  // an object, or the number of a list
    bool isList = false;
  };
  struct List {
    std::size_t begin = 0, end = 0;  // its items
    bool holdsObjects = false;
    std::uint32_t readStamp = 0;  // the read-out that took it last
  };
  struct Span {
    std::size_t at = 0, end = 0;
  };
  std::vector<Item> items_;  // the items of all lists, list after list
  std::vector<List> lists_;
  bool openHoldsObjects_ = false;
  std::uint32_t stamp_ = 0;
  std::vector<Span> spans_;  // the read-out's lists being read
};

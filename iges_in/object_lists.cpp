#include "iges_in/object_lists.h"

#include "iges_in/iges_convert.h"

void NestedObjectLists::addObject(std::int32_t object) {
  items_.push_back(Item{object, false});
  openHoldsObjects_ = true;
}

void NestedObjectLists::addList(Id list) {
  if (list < 0 || static_cast<std::size_t>(list) >= lists_.size()) return;
  items_.push_back(Item{list, true});
  if (lists_[static_cast<std::size_t>(list)].holdsObjects) openHoldsObjects_ = true;
}

NestedObjectLists::Id NestedObjectLists::close() {
  List l;
  l.begin = lists_.empty() ? 0 : lists_.back().end;
  l.end = items_.size();
  l.holdsObjects = openHoldsObjects_;
  lists_.push_back(l);
  openHoldsObjects_ = false;
  return static_cast<Id>(lists_.size() - 1);
}

bool NestedObjectLists::holdsObjects(Id list) const {
  return list >= 0 && static_cast<std::size_t>(list) < lists_.size() &&
         lists_[static_cast<std::size_t>(list)].holdsObjects;
}

void NestedObjectLists::readOut(Id list, ObjectMarks& marks, std::vector<std::int32_t>& out) {
  marks.begin();
  if (list < 0 || static_cast<std::size_t>(list) >= lists_.size()) return;
  if (++stamp_ == 0) {
    for (List& l : lists_) l.readStamp = 0;
    stamp_ = 1;
  }
  spans_.clear();
  List& first = lists_[static_cast<std::size_t>(list)];
  first.readStamp = stamp_;
  spans_.push_back(Span{first.begin, first.end});
  while (!spans_.empty()) {
    Span& s = spans_.back();
    if (s.at == s.end) {
      spans_.pop_back();
      continue;
    }
    const Item item = items_[s.at++];
    if (!item.isList) {
      if (marks.insert(item.value)) out.push_back(item.value);
      continue;
    }
    // A list taken a second time gives only objects given already.
    List& inner = lists_[static_cast<std::size_t>(item.value)];
    if (inner.readStamp == stamp_) continue;
    inner.readStamp = stamp_;
    spans_.push_back(Span{inner.begin, inner.end});
  }
}

void NestedObjectLists::truncate(std::size_t count) {
  if (count < lists_.size()) lists_.resize(count);
  items_.resize(lists_.empty() ? 0 : lists_.back().end);
  openHoldsObjects_ = false;
}

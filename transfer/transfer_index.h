// The two look-up structures of the CAD transfer file: the layer value list
// of the "general" section (layer value -> layer number) and the identifier
// index (element identifier -> element position).  Both are filled from an
// untrusted file, so both answer in logarithmic time however the file is
// ordered, and neither allocates more than the file holds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Two layer values closer than this are the same layer.
constexpr double kLayerValueTolerance = 0.0001;

// The layer values in file order.  The i-th value (from 0) of a list of
// capacity N is layer number N - i, so the first listed value is layer N and
// the last is layer 1.  A value matches a real v when abs(value - v) is at
// most the tolerance; of several matching values the earliest wins.
class LayerValueList {
 public:
  // Empties the list and sets its capacity (negative counts as 0).  Space is
  // reserved for at most `reserveLimit` values, as the capacity comes from
  // the file and may lie.
  void reset(std::int32_t capacity, std::size_t reserveLimit);
  // Stores the value; beyond the capacity nothing is stored, the program
  // error text is printed and -1 returned.
  int add(double value);
  // Takes the place of a value that could not be read: it keeps the layer
  // numbers of the later values and matches nothing.
  int addUnreadable();
  // Layer number of the value, or -1 when no stored value matches.
  std::int32_t lookup(double value) const;

  std::int32_t capacity() const { return capacity_; }
  std::int32_t count() const { return static_cast<std::int32_t>(values_.size()); }
  const std::vector<double>& values() const { return values_; }

 private:
  void buildLookup() const;

  std::int32_t capacity_ = 0;
  std::vector<double> values_;
  // Lookup: the file indices sorted by value, and a minimum tree over that
  // order (leaves at tree_[size..2 size)), made on the first lookup after a
  // change.
  mutable bool lookupValid_ = false;
  mutable std::vector<std::int32_t> byValue_;
  mutable std::vector<std::int32_t> tree_;
};

// An identifier split into its number and its suffix ("17a" is 17 and "a").
// key 0 means the identifier has no leading digits (or a number beyond
// 64 bits) and is never indexed.
struct TransferIdentifier {
  std::int64_t key = 0;
  std::string_view suffix;
};
TransferIdentifier splitIdentifier(std::string_view text);

// Identifier -> position.  The first element that registers an identifier
// keeps it; an identifier with a suffix is an entry of its own, so "17" and
// "17a" are two entries.  The directory pass registers every element before
// the first look-up: entries are collected as they come and put in order
// on the first look-up after them (sorting what came since and merging it
// with what was in order before), so the index costs n log n however the
// file orders its identifiers, and no allocation per element.
class TransferIdIndex {
 public:
  void clear();
  // Room for about `count` identifiers (a bound the caller takes from the
  // file), so that registering them does not copy the entries.
  void reserve(std::size_t count) { plain_.reserve(count); }
  // Registers the identifier; one that is not indexable is passed over.
  void insert(std::string_view identifier, std::int32_t position);
  std::optional<std::int32_t> find(std::string_view identifier) const;
  // The number of distinct numbers among the registered identifiers.
  std::size_t size() const;

 private:
  struct Plain {
    std::int64_t key;
    std::uint32_t order;  // of registration: the earliest wins
    std::int32_t position;
  };
  struct Suffixed {
    std::int64_t key;
    std::string suffix;
    std::uint32_t order;
    std::int32_t position;
  };
  void settle() const;

  std::uint32_t registered_ = 0;
  // Each list is in order (key, then suffix) up to its `inOrder` count,
  // with every key there once; the entries after it came since.
  mutable std::vector<Plain> plain_;
  mutable std::vector<Suffixed> suffixed_;
  mutable std::size_t plainInOrder_ = 0;
  mutable std::size_t suffixedInOrder_ = 0;
};

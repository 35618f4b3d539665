#include "transfer/transfer_index.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>

void LayerValueList::reset(std::int32_t capacity, std::size_t reserveLimit) {
  capacity_ = capacity > 0 ? capacity : 0;
  values_.clear();
  values_.shrink_to_fit();
  values_.reserve(std::min<std::size_t>(static_cast<std::size_t>(capacity_), reserveLimit));
  lookupValid_ = false;
}

int LayerValueList::add(double value) {
  if (count() >= capacity_) {
    std::printf("Programmfehler \n");
    return -1;
  }
  values_.push_back(value);
  lookupValid_ = false;
  return 0;
}

int LayerValueList::addUnreadable() {
  return add(std::numeric_limits<double>::quiet_NaN());
}

void LayerValueList::buildLookup() const {
  byValue_.clear();
  for (std::int32_t i = 0; i < count(); ++i) {
    if (values_[i] == values_[i]) byValue_.push_back(i);  // not the unreadable ones
  }
  const std::int32_t n = static_cast<std::int32_t>(byValue_.size());
  std::stable_sort(byValue_.begin(), byValue_.end(),
                   [this](std::int32_t a, std::int32_t b) { return values_[a] < values_[b]; });
  tree_.assign(2 * static_cast<std::size_t>(n), std::numeric_limits<std::int32_t>::max());
  for (std::int32_t i = 0; i < n; ++i) tree_[static_cast<std::size_t>(n + i)] = byValue_[i];
  for (std::int32_t i = n - 1; i >= 1; --i) tree_[i] = std::min(tree_[2 * i], tree_[2 * i + 1]);
  lookupValid_ = true;
}

std::int32_t LayerValueList::lookup(double value) const {
  if (!lookupValid_) buildLookup();
  const std::int32_t n = static_cast<std::int32_t>(byValue_.size());
  if (n == 0 || value != value) return -1;
  // The values within the tolerance form one run of the sorted order:
  // value - v and v - value are monotonic in the stored value, so both ends
  // are found with the exact test of a linear scan.
  auto first = std::partition_point(byValue_.begin(), byValue_.end(), [&](std::int32_t i) {
    return value - values_[i] > kLayerValueTolerance;
  });
  auto last = std::partition_point(first, byValue_.end(), [&](std::int32_t i) {
    return values_[i] - value <= kLayerValueTolerance;
  });
  if (first == last) return -1;
  // Earliest file index in [lo, hi) of the sorted order.
  std::size_t lo = static_cast<std::size_t>(first - byValue_.begin()) + static_cast<std::size_t>(n);
  std::size_t hi = static_cast<std::size_t>(last - byValue_.begin()) + static_cast<std::size_t>(n);
  std::int32_t earliest = std::numeric_limits<std::int32_t>::max();
  while (lo < hi) {
    if (lo & 1) earliest = std::min(earliest, tree_[lo++]);
    if (hi & 1) earliest = std::min(earliest, tree_[--hi]);
    lo >>= 1;
    hi >>= 1;
  }
  return capacity_ - earliest;
}

TransferIdentifier splitIdentifier(std::string_view text) {
  TransferIdentifier id;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t digitsStart = i;
  std::int64_t key = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (key > (std::numeric_limits<std::int64_t>::max() - digit) / 10) overflow = true;
    if (!overflow) key = key * 10 + digit;
  }
  if (i == digitsStart || overflow) return id;
  std::size_t end = i;
  while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\n' &&
         text[end] != '\r' && text[end] != '\0') {
    ++end;
  }
  id.key = negative ? -key : key;
  id.suffix = text.substr(i, end - i);
  return id;
}

void TransferIdIndex::clear() {
  registered_ = 0;
  plain_.clear();
  suffixed_.clear();
  plainInOrder_ = 0;
  suffixedInOrder_ = 0;
}

void TransferIdIndex::insert(std::string_view identifier, std::int32_t position) {
  const TransferIdentifier id = splitIdentifier(identifier);
  if (id.key == 0) return;
  const std::uint32_t order = registered_++;
  if (id.suffix.empty()) {
    plain_.push_back(Plain{id.key, order, position});
  } else {
    suffixed_.push_back(Suffixed{id.key, std::string(id.suffix), order, position});
  }
}

namespace {

// Puts the entries from `first` on in order when they are a few ascending
// sequences interleaved, as a file lists its elements ascending and, among
// them, the groups that collect them under identifiers of their own: each
// entry goes onto the first pile whose last entry does not follow it, and
// the piles are merged.  Linear in the entries; false (nothing moved) when
// an entry fits onto none of the piles.
template <class Entry, class Less>
bool sortInterleavedRuns(std::vector<Entry>& entries, std::size_t first, Less less) {
  constexpr int kPiles = 4;
  const std::size_t n = entries.size() - first;
  std::vector<std::uint8_t> pileOf(n);
  std::size_t tops[kPiles] = {};
  std::size_t sizes[kPiles] = {};
  int piles = 0;
  for (std::size_t i = 0; i < n; ++i) {
    int p = 0;
    while (p < piles && less(entries[first + i], entries[first + tops[p]])) ++p;
    if (p == piles) {
      if (piles == kPiles) return false;
      ++piles;
    }
    tops[p] = i;
    ++sizes[p];
    pileOf[i] = static_cast<std::uint8_t>(p);
  }
  std::vector<Entry> sorted;
  sorted.reserve(n);
  for (int p = 0; p < piles; ++p) {
    for (std::size_t i = 0; i < n; ++i)
      if (pileOf[i] == p) sorted.push_back(std::move(entries[first + i]));
  }
  std::size_t merged = sizes[0];
  for (int p = 1; p < piles; ++p) {
    std::inplace_merge(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(merged),
                       sorted.begin() + static_cast<std::ptrdiff_t>(merged + sizes[p]), less);
    merged += sizes[p];
  }
  std::move(sorted.begin(), sorted.end(), entries.begin() + static_cast<std::ptrdiff_t>(first));
  return true;
}

// Sorts the entries after the first `inOrder` (which are in order with
// every key once), merges them in and keeps the earliest entry of each key.
template <class Entry, class Less, class Same>
void settleEntries(std::vector<Entry>& entries, std::size_t& inOrder, Less less, Same same) {
  if (inOrder == entries.size()) return;
  const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(inOrder);
  // Most files register their identifiers ascending: nothing to sort.
  if (!std::is_sorted(middle, entries.end(), less) && !sortInterleavedRuns(entries, inOrder, less))
    std::sort(middle, entries.end(), less);
  if (inOrder > 0 && less(*middle, *(middle - 1))) std::inplace_merge(entries.begin(), middle, entries.end(), less);
  entries.erase(std::unique(entries.begin(), entries.end(), same), entries.end());
  inOrder = entries.size();
}

}  // namespace

void TransferIdIndex::settle() const {
  settleEntries(
      plain_, plainInOrder_,
      [](const Plain& a, const Plain& b) { return a.key != b.key ? a.key < b.key : a.order < b.order; },
      [](const Plain& a, const Plain& b) { return a.key == b.key; });
  settleEntries(
      suffixed_, suffixedInOrder_,
      [](const Suffixed& a, const Suffixed& b) {
        if (a.key != b.key) return a.key < b.key;
        if (const int c = a.suffix.compare(b.suffix); c != 0) return c < 0;
        return a.order < b.order;
      },
      [](const Suffixed& a, const Suffixed& b) { return a.key == b.key && a.suffix == b.suffix; });
}

std::optional<std::int32_t> TransferIdIndex::find(std::string_view identifier) const {
  const TransferIdentifier id = splitIdentifier(identifier);
  if (id.key == 0) return std::nullopt;
  settle();
  if (id.suffix.empty()) {
    const auto found = std::lower_bound(plain_.begin(), plain_.end(), id.key,
                                        [](const Plain& entry, std::int64_t key) { return entry.key < key; });
    if (found == plain_.end() || found->key != id.key) return std::nullopt;
    return found->position;
  }
  const auto found = std::lower_bound(suffixed_.begin(), suffixed_.end(), id, [](const Suffixed& entry, const TransferIdentifier& key) {
    return entry.key != key.key ? entry.key < key.key : std::string_view(entry.suffix) < key.suffix;
  });
  if (found == suffixed_.end() || found->key != id.key || found->suffix != id.suffix) return std::nullopt;
  return found->position;
}

std::size_t TransferIdIndex::size() const {
  settle();
  // The distinct keys of both lists, which are in key order.
  std::size_t count = 0;
  std::size_t p = 0, q = 0;
  std::int64_t last = 0;
  bool any = false;
  while (p < plain_.size() || q < suffixed_.size()) {
    const bool takePlain = q == suffixed_.size() || (p < plain_.size() && plain_[p].key <= suffixed_[q].key);
    const std::int64_t key = takePlain ? plain_[p++].key : suffixed_[q++].key;
    if (!any || key != last) ++count;
    any = true;
    last = key;
  }
  return count;
}

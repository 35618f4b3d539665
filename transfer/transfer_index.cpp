#include "transfer/transfer_index.h"

#include <algorithm>
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

bool TransferIdIndex::insert(std::string_view identifier, std::int32_t position) {
  const TransferIdentifier id = splitIdentifier(identifier);
  if (id.key == 0) return false;
  Node& node = nodes_[id.key];
  if (id.suffix.empty()) {
    if (node.position) return false;
    node.position = position;
    return true;
  }
  return node.suffixes.emplace(std::string(id.suffix), position).second;
}

std::optional<std::int32_t> TransferIdIndex::find(std::string_view identifier) const {
  const TransferIdentifier id = splitIdentifier(identifier);
  if (id.key == 0) return std::nullopt;
  auto node = nodes_.find(id.key);
  if (node == nodes_.end()) return std::nullopt;
  if (id.suffix.empty()) return node->second.position;
  auto sub = node->second.suffixes.find(id.suffix);
  if (sub == node->second.suffixes.end()) return std::nullopt;
  return sub->second;
}

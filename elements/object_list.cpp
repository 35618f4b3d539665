#include "elements/object_list.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

std::int32_t ObjectList::at(std::size_t k) const {
  if (k >= size_) throw std::out_of_range("ObjectList::at");
  return data()[k];
}

void ObjectList::push_back(std::int32_t value) {
  if (size_ == capacity_) reserve(std::size_t{size_} + 1);
  data()[size_++] = value;
}

void ObjectList::append(const std::int32_t* first, const std::int32_t* last) {
  const std::size_t n = static_cast<std::size_t>(last - first);
  if (n == 0) return;
  reserve(std::size_t{size_} + n);
  std::memcpy(data() + size_, first, n * sizeof(std::int32_t));
  size_ += static_cast<std::uint32_t>(n);
}

void ObjectList::assign(const std::int32_t* first, const std::int32_t* last) {
  size_ = 0;
  append(first, last);
}

void ObjectList::reserve(std::size_t n) {
  if (n <= capacity_) return;
  if (n > std::numeric_limits<std::uint32_t>::max() / 2) throw std::bad_alloc();
  // Doubling keeps a list that grows by single numbers linear.
  const std::size_t room = std::max<std::size_t>(n, 2 * std::size_t{capacity_});
  auto* block = new std::int32_t[room];
  if (size_ > 0) std::memcpy(block, data(), size_ * sizeof(std::int32_t));
  release();
  heap_ = block;
  capacity_ = static_cast<std::uint32_t>(room);
}

void ObjectList::shrink_to_fit() {
  if (!onHeap() || size_ > kInline) return;
  std::int32_t* block = heap_;
  std::int32_t kept[kInline] = {0, 0};
  std::memcpy(kept, block, size_ * sizeof(std::int32_t));
  delete[] block;
  std::memcpy(inline_, kept, sizeof kept);
  capacity_ = kInline;
}

void ObjectList::release() noexcept {
  if (onHeap()) delete[] heap_;
  capacity_ = kInline;
  inline_[0] = inline_[1] = 0;
}

void ObjectList::take(ObjectList& other) noexcept {
  size_ = other.size_;
  capacity_ = other.capacity_;
  if (other.onHeap()) {
    heap_ = other.heap_;
  } else {
    inline_[0] = other.inline_[0];
    inline_[1] = other.inline_[1];
  }
  other.size_ = 0;
  other.capacity_ = kInline;
  other.inline_[0] = other.inline_[1] = 0;
}

bool ObjectList::equal(const ObjectList& a, const std::int32_t* b, std::size_t n) {
  return a.size_ == n && std::equal(a.begin(), a.end(), b);
}

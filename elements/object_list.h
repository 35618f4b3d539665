// A list of script object numbers as an element or a conversion record keeps
// it.  Most elements are written as one or two objects, and a table holds a
// list per element: up to two numbers are kept in the list itself, longer
// lists in a block of their own.  The list takes 16 bytes where a vector
// takes 24 and a block of the heap besides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

class ObjectList {
 public:
  using value_type = std::int32_t;
  using iterator = std::int32_t*;
  using const_iterator = const std::int32_t*;

  ObjectList() noexcept : inline_{0, 0} {}
  ObjectList(const ObjectList& other) : ObjectList() { assign(other.begin(), other.end()); }
  ObjectList(ObjectList&& other) noexcept : ObjectList() { take(other); }
  ObjectList(const std::vector<std::int32_t>& values) : ObjectList() {
    assign(values.data(), values.data() + values.size());
  }
  ObjectList(std::initializer_list<std::int32_t> values) : ObjectList() { assign(values.begin(), values.end()); }
  ~ObjectList() { release(); }

  ObjectList& operator=(const ObjectList& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  ObjectList& operator=(ObjectList&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ObjectList& operator=(const std::vector<std::int32_t>& values) {
    assign(values.data(), values.data() + values.size());
    return *this;
  }
  ObjectList& operator=(std::initializer_list<std::int32_t> values) {
    assign(values.begin(), values.end());
    return *this;
  }
  // The numbers as a vector (for the callers that keep them as one).
  operator std::vector<std::int32_t>() const { return std::vector<std::int32_t>(begin(), end()); }

  std::int32_t* data() { return onHeap() ? heap_ : inline_; }
  const std::int32_t* data() const { return onHeap() ? heap_ : inline_; }
  iterator begin() { return data(); }
  iterator end() { return data() + size_; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::int32_t& operator[](std::size_t k) { return data()[k]; }
  std::int32_t operator[](std::size_t k) const { return data()[k]; }
  std::int32_t front() const { return data()[0]; }
  // The number at k; throws std::out_of_range beyond the list.
  std::int32_t at(std::size_t k) const;

  void push_back(std::int32_t value);
  // Appends the numbers of [first, last), which must not lie in this list.
  void append(const std::int32_t* first, const std::int32_t* last);
  // Empties the list; its room stays, as a vector's does.
  void clear() { size_ = 0; }
  // Gives back the block of a list that fits into the list itself.
  void shrink_to_fit();
  void swap(ObjectList& other) noexcept {
    ObjectList held(std::move(other));
    other = std::move(*this);
    *this = std::move(held);
  }

  friend bool operator==(const ObjectList& a, const ObjectList& b) { return equal(a, b.begin(), b.size()); }
  friend bool operator==(const ObjectList& a, const std::vector<std::int32_t>& b) {
    return equal(a, b.data(), b.size());
  }

 private:
  static constexpr std::uint32_t kInline = 2;

  bool onHeap() const { return capacity_ > kInline; }
  void assign(const std::int32_t* first, const std::int32_t* last);
  // Room for at least n numbers; the numbers held stay.
  void reserve(std::size_t n);
  void release() noexcept;
  void take(ObjectList& other) noexcept;
  static bool equal(const ObjectList& a, const std::int32_t* b, std::size_t n);

  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = kInline;
  union {
    std::int32_t inline_[kInline];
    std::int32_t* heap_;
  };
};

// Names that many entities repeat (layers, linetypes, DXF types): an
// immutable text held once and shared by every copy, so that a drawing of a
// million entities on a hundred layers holds a hundred layer names.  A
// Name reads as a std::string_view; names are kept as written (case
// preserved), comparisons are exact, as with std::string.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace drawingdb {

namespace detail {
// The shared text.  Counted copies free it with the last one; a block
// whose count is 0 is a constant that lives as long as the program.
struct NameBlock {
  std::atomic<std::uint32_t> refs;
  std::size_t size;
  const char* text;
};
inline constinit NameBlock kNameZero{0, 1, "0"};
inline constinit NameBlock kNameByLayer{0, 7, "BYLAYER"};
inline constinit NameBlock kNameStandard{0, 8, "Standard"};
}  // namespace detail

class Name {
 public:
  Name() = default;
  Name(std::string_view text);
  Name(const char* text) : Name(std::string_view(text)) {}
  Name(const std::string& text) : Name(std::string_view(text)) {}
  Name(const Name& other) noexcept : block_(other.block_) { retain(); }
  Name(Name&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  Name& operator=(const Name& other) noexcept {
    Name copy(other);
    std::swap(block_, copy.block_);
    return *this;
  }
  Name& operator=(Name&& other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  Name& operator=(std::string_view text) { return *this = Name(text); }
  Name& operator=(const char* text) { return *this = Name(text); }
  Name& operator=(const std::string& text) { return *this = Name(text); }
  ~Name() { release(); }

  // The layer "0" and the linetype "BYLAYER": the defaults of every
  // entity, shared without counting.
  static Name layerZero() { return Name(&detail::kNameZero); }
  static Name byLayer() { return Name(&detail::kNameByLayer); }
  // The text style of texts and attributes that name none.
  static Name standard() { return Name(&detail::kNameStandard); }

  std::string_view view() const { return block_ ? std::string_view(block_->text, block_->size) : std::string_view(); }
  operator std::string_view() const { return view(); }
  std::string str() const { return std::string(view()); }
  bool empty() const { return block_ == nullptr || block_->size == 0; }
  std::size_t size() const { return block_ ? block_->size : 0; }
  const char* data() const { return view().data(); }
  // Whether two names share one text (interned names of one reading do).
  bool sharesTextWith(const Name& other) const { return block_ == other.block_; }

  friend bool operator==(const Name& a, const Name& b) { return a.block_ == b.block_ || a.view() == b.view(); }
  friend bool operator==(const Name& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const Name& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const Name& a, const char* b) { return a.view() == b; }
  friend std::string operator+(std::string a, const Name& b) { return a.append(b.view()); }
  friend std::string operator+(const Name& a, std::string_view b) { return a.str().append(b); }
  friend std::string operator+(const Name& a, const char* b) { return a.str().append(b); }

 private:
  explicit Name(detail::NameBlock* constant) : block_(constant) {}
  void retain() const {
    if (block_ != nullptr && block_->refs.load(std::memory_order_relaxed) != 0)
      block_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void release();

  detail::NameBlock* block_ = nullptr;
};

std::ostream& operator<<(std::ostream& out, const Name& name);

// Hands out one Name per text, so that whoever makes many entities (a
// reader, a converter) shares each layer's name among them.  Texts are
// told apart exactly: "Wall" and "WALL" are two names.
class NameTable {
 public:
  const Name& operator()(std::string_view text) {
    const auto it = names_.find(text);
    if (it != names_.end()) return it->second;
    Name held(text);
    const std::string_view key = held.view();  // the Name's own text: stays where it is
    return names_.emplace(key, std::move(held)).first->second;
  }

 private:
  std::unordered_map<std::string_view, Name> names_;
};

}  // namespace drawingdb

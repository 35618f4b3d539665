#include "drawingdb/name.h"

#include <cstring>
#include <new>
#include <ostream>

namespace drawingdb {

Name::Name(std::string_view text) {
  if (text.empty()) return;
  // The block and its text in one allocation.
  void* memory = ::operator new(sizeof(detail::NameBlock) + text.size() + 1);
  char* chars = static_cast<char*>(memory) + sizeof(detail::NameBlock);
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  block_ = new (memory) detail::NameBlock{1, text.size(), chars};
}

void Name::release() {
  if (block_ == nullptr || block_->refs.load(std::memory_order_relaxed) == 0) return;
  if (block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->~NameBlock();
    ::operator delete(block_);
  }
  block_ = nullptr;
}

std::ostream& operator<<(std::ostream& out, const Name& name) { return out << name.view(); }

}  // namespace drawingdb

#include "support/trace.h"

namespace trace_detail {
Stack& stack() noexcept {
  static Stack s{};
  return s;
}
}  // namespace trace_detail

const char* trcCurrentCode() noexcept {
#ifdef NDEBUG
  return "";
#else
  const trace_detail::Stack& s = trace_detail::stack();
  if (s.depth == 0 || s.depth > trace_detail::kStackDepth) return "";
  return s.codes[s.depth - 1];
#endif
}

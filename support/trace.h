// Function boundaries.  Every function of the converter opens with a
// TraceScope carrying its function code ("cee150", "ses510", "start"); the
// code is what the function hands to the messages it reports.
//
// In an optimised build the scope is empty and vanishes entirely.  In a
// debug build it keeps a bounded stack of the active codes, so a trap can
// name the function it happened in.
#pragma once

#include <cstddef>

namespace trace_detail {
constexpr std::size_t kStackDepth = 256;
struct Stack {
  const char* codes[kStackDepth];
  std::size_t depth;
};
Stack& stack() noexcept;
}  // namespace trace_detail

#ifdef NDEBUG
inline void trcEnter(const char*) noexcept {}
inline void trcExit() noexcept {}
#else
inline void trcEnter(const char* code) noexcept {
  trace_detail::Stack& s = trace_detail::stack();
  if (s.depth < trace_detail::kStackDepth) s.codes[s.depth] = code;
  ++s.depth;
}
inline void trcExit() noexcept {
  trace_detail::Stack& s = trace_detail::stack();
  if (s.depth > 0) --s.depth;
}
#endif

// The innermost active function code, or "" when none is known (always ""
// in an optimised build).
const char* trcCurrentCode() noexcept;

class TraceScope {
 public:
  explicit TraceScope(const char* code) noexcept : code_(code) { trcEnter(code); }
  ~TraceScope() { trcExit(); }
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;
  const char* code() const noexcept { return code_; }

 private:
  const char* code_;
};

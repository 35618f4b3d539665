// Whether the program is built with a sanitizer that brings an allocator of
// its own.  Code that manages memory itself (large blocks, pools, the heap's
// room) leaves it to that allocator then, which watches only the blocks it
// hands out.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TROVAK_ALLOCATOR_REPLACED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TROVAK_ALLOCATOR_REPLACED 1
#endif
#endif

#ifdef TROVAK_ALLOCATOR_REPLACED
inline constexpr bool kAllocatorReplaced = true;
#else
inline constexpr bool kAllocatorReplaced = false;
#endif

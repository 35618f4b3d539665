// Large memory blocks backed by the processor's large pages (2 MiB).
//
// The tables and texts of a large drawing (the element table, the input
// file held in memory, the sections of the DXF output) take hundreds of
// megabytes that are filled once from start to end.  With pages of 4 KiB
// each such block costs one page fault per page, which on some machines
// (virtual ones above all) costs more than filling it; backed by large
// pages it costs one per 2 MiB.  The kernel gives large pages only to
// memory it was advised to, and only for whole, aligned 2 MiB ranges.
//
// Blocks below kLargePageBytes are left as they are, so that small runs do
// not hold a large page for a few bytes.
#pragma once

#include <cstddef>

// The size of a large page.
inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Advises the kernel to back the whole aligned large pages inside
// [data, data + size) with large pages when it first touches them.  Only a
// hint: memory already touched keeps its pages, and nothing happens where
// the system has no large pages.  Call it before the block is filled.
void adviseLargePages(void* data, std::size_t size);

// A block of at least `size` bytes aligned to a large page and advised (a
// block below kLargePageBytes is taken as it comes); nullptr when memory
// runs out.  The memory is not touched.  Given back with
// releaseLargeBlock(block, size) with the same size, which gives a large
// block's pages back to the system at once.
void* allocateLargeBlock(std::size_t size);
void releaseLargeBlock(void* block, std::size_t size);

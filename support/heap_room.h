// Room on the heap for a run that builds large structures from one input
// file.  A large drawing makes hundreds of thousands of small objects
// whose pages are touched for the first time one by one; where a fault of
// a fresh page is dear, those faults take a good share of the run.  Made
// ready before the input is read, the heap takes its room in one piece,
// asks for large pages on it and keeps what is freed for the objects made
// later, so that the pages come in large steps and are never handed back
// and faulted in again.
#pragma once

#include <cstdint>

// Readies the heap for a run whose structures take about `bytes` at their
// peak (at most half the machine's memory and 1 GB).  Smaller runs (below
// 4 MB) leave the heap as it is.  The room is address space only until
// it is used; when it cannot be had, the heap grows as usual.  Returns the
// bytes made ready (0 when none).
std::uint64_t prepareHeapRoom(std::uint64_t bytes);

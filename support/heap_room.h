// Room for the large tables of a run, asked of the system at once.
//
// The tables a large input fills (the element table, the typed records,
// the records of the conversion) are touched page by page as they fill, and
// every page's first touch costs the system a fault.  Where the allocator
// keeps its heap in one piece and the system hands out huge pages on
// request, reserveHeapRoom(bytes) grows the heap by that room at once and
// asks for huge pages for it: the tables made next then cost a fault per
// 2 MiB instead of one per 4 KiB.  The room stays virtual until used; what
// is not used costs no memory.  Elsewhere the call does nothing.
#pragma once

#include <cstddef>

// Room for about `bytes` more at the top of the heap (at most 1 GiB).
// Memory freed afterwards is kept for the run instead of going back to the
// system at each free, so that the room is not given back before it is
// used.
void reserveHeapRoom(std::size_t bytes);
// The free room at the top of the heap now; 0 where it cannot be known
// (and the call above does nothing).
std::size_t heapRoomFree();

// The heap region: one reserved span of address space that holds every
// frame of the memory manager. Anything the runtime keeps in a 32-bit field
// that would be an address (a node, a buffer, a head or tail, a value on the
// data stack) is a byte offset into this region: a HeapRef.
#pragma once
#include <cstddef>
#include "runtime/core/cell.h"

namespace zan {

extern u8* g_heap_base;

// The span reserved when the system allows it. Offsets are 32-bit, so 4 GiB
// is the ceiling.
constexpr u64 HEAP_REGION_SIZE = u64(1) << 32;
// Under a limit of the address space (ulimit -v) that refuses it, the
// reservation is halved until it succeeds, down to this floor.
constexpr u64 HEAP_REGION_MIN_SIZE = u64(64) << 20;
// The size of the span reserved; 0 before heap_region_init.
extern u64 g_heap_size;

template <class T = u8>
inline T* hptr(HeapRef off) {
    return reinterpret_cast<T*>(g_heap_base + off);
}
inline HeapRef heap_off(const void* p) {
    return static_cast<HeapRef>(static_cast<const u8*>(p) - g_heap_base);
}
inline bool heap_contains(const void* p) {
    auto b = static_cast<const u8*>(p);
    return b >= g_heap_base && b < g_heap_base + g_heap_size;
}

// Reserves the region once (idempotent): HEAP_REGION_SIZE, or the largest
// of its halves down to HEAP_REGION_MIN_SIZE that the system grants. False
// when not even that can be had.
bool heap_region_init();
// Page-granular blocks inside the region. size is rounded up to the page
// size. A block comes from the warm ranges when one holds it (pages freed
// earlier and still committed: the one freed last of the size asked for,
// else the smallest that holds it), else it is committed afresh. Its bytes
// are zero, or with zeroed false whatever they were (a frame that writes
// everything it reads). Null when the region is exhausted or the system
// refuses.
void* heap_region_alloc(size_t size, bool zeroed = true);
// Makes a block warm: its pages stay committed for the next allocations
// (heap_region_settle gives back the ones that stay unused).
void heap_region_free(void* block, size_t size);
// Grows a block in place to new_size bytes, taking the pages right after
// it (warm, released or never used); false, and nothing changed, when they
// are not free. The new bytes are not cleared.
bool heap_region_grow(void* block, size_t size, size_t new_size);
// Called when a collection ends: the warm ranges are kept up to a
// high-water mark of the bytes handed out, which follows their peak since
// the last call upwards at once and downwards a quarter of the way at each
// call; warm ranges beyond it, the ones freed longest ago first, go back
// to the system.
void heap_region_settle();
// Gives every warm range back to the system.
void heap_region_release_warm();
// Maps in at once the pages of a large block that the caller is about to
// write whole (a file's content, a decoded text, a sort's records), in the
// region or not: a hint, nothing changes when the system does not take it.
void heap_region_prefault(void* block, size_t size);
size_t heap_page_size();
// Bytes currently committed: handed out, or warm.
size_t heap_region_committed();

// The region's bookkeeping, for start-up's saved heap (boot/boot_heap.h):
// the first never-used offset (everything below it from the first page on
// is committed when there is no hole), and whether released or warm ranges
// exist.
size_t heap_region_bump();
bool heap_region_has_holes();
// Commits [bump, new_bump) as one more block, so that the region looks as
// if the blocks that made up that range had been allocated; false when the
// system refuses or the range is not past the bump.
bool heap_region_extend(size_t new_bump);
// Maps length bytes of a file from file_offset over the committed pages at
// offset at (all page-aligned, below the bump, no released range among
// them), privately: the pages read as the file's bytes, and writes stay in
// this process. Released later, they come back as zeroed pages like any
// other. False when the arguments do not fit or the system refuses; the
// range then holds zeroed, committed pages (the caller writes them).
bool heap_region_map_file(size_t at, size_t length, int fd, u64 file_offset);

}  // namespace zan

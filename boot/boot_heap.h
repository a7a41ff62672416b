// The decoded boot image, saved at build time.
//
// Decoding the embedded image is the largest single part of start-up, and
// its result depends on nothing but the image and the runtime's state
// before it: the heap that runtime initialisation built. The build prepares
// a runtime exactly as start-up does (boot_prepare_runtime), decodes the
// image once (zan-boot-image --heap) and saves what the decoding changed:
// the heap pages it wrote, the memory manager's counters and frame lists,
// the region's bump and the index of the first root value.
//
// At start-up, when the state before the decoding is the very one the
// build saw (the same counters, frame lists, fixed buffers and stack
// positions, and the same bytes in every committed page of the heap region,
// checked by a fingerprint), the saved pages are put in place instead of
// decoding: mapped from the executable file when they are part of it,
// copied otherwise. Otherwise, or when there is no saved heap, the image is decoded
// as before. Nothing a process takes from its surroundings (arguments,
// environment, directories, clock, terminal) is in the saved heap: all of
// that is made later, by the modules, in every process.
//
// The decoding must leave the runtime's C++ state alone apart from what is
// saved here (g_mem, the region's bump and commit count, g_boot_cells_first
// and the lookup scratch buffers): anything else it set would not be
// restored.
#pragma once
#include <span>
#include <string>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

// In a runtime just prepared by boot_prepare_runtime: decodes the image and
// writes the saved heap to *out. False with a message when the image does
// not decode. When the decoding did something the saved heap cannot carry,
// *out is left empty (start-up then decodes) and *error says what.
bool boot_heap_capture(std::span<const u8> image, std::vector<u8>* out, std::string* error);

// In a runtime just prepared by boot_prepare_runtime: puts the saved heap
// in place and sets *values to the count of root values the decoding made.
// False, with nothing changed, when the saved heap is malformed or the
// runtime's state differs from the one it was saved from.
bool boot_heap_restore(std::span<const u8> saved, u32* values);

// The parts shared with the library saved after its seal
// (boot/sealed_heap.h): a saved heap records the state before a change,
// the words after it (the memory manager's, the bump and the commit count,
// then the caller's) and the pages the change wrote.

// The memory manager's words, then the bump and the commit count: the
// first words after the change in every saved heap.
constexpr size_t kMemWords = 14;
constexpr size_t kBootHeapWords = kMemWords + 2;

// The state before a change, kept to find what the change wrote.
struct BootHeapBefore {
    std::vector<u64> state;
    u64 print = 0;
    size_t bump = 0;
    bool holes = false;
    std::vector<u8> bytes;
    std::vector<Node> fixed;
    const void* top = nullptr;
    const void* base = nullptr;
    const void* ctop = nullptr;
};
void boot_heap_before(BootHeapBefore* before);
// Whether what was done since *before can be saved: no released range, the
// same fixed buffers and stack registers.
bool boot_heap_savable(const BootHeapBefore& before);
// Writes the saved heap: the state before, the words after (the memory
// manager's, the bump, the commit count, then more) and the changed pages.
void boot_heap_write(u64 magic, const BootHeapBefore& before, const std::vector<u64>& more,
                     std::vector<u8>* out);

// A saved heap read and checked against the running runtime.
struct BootHeapSaved {
    std::vector<u64> after;  // kBootHeapWords, then the caller's
    const u8* offsets = nullptr;
    const u8* data = nullptr;
    u64 pages = 0;
};
// Checks a saved heap without changing anything: the magic, the state and
// fingerprint before, the pages' offsets and the commit count.
bool boot_heap_read(std::span<const u8> saved, u64 magic, BootHeapSaved* out);
// Commits the region up to the saved bump; false when that fails.
bool boot_heap_extend(const BootHeapSaved& saved);
// Puts the saved pages in place and sets the memory manager's words.
void boot_heap_put(const BootHeapSaved& saved);

// A digest of the runtime's state as the saved heap sees it (its live heap
// bytes and the state words around them) with the root value count: equal
// after a restore and after a decoding of the same image (for tests).
u64 boot_heap_digest(u32 values);


}  // namespace zan

// In-place sorting of arrays of fixed-size records with a caller-supplied
// comparison: a stable merge sort (Powersort run merging) and an adaptive,
// unstable quicksort. Records are any number of bytes: value cells, groups of
// cells, or the units of a string.
//
// The comparison receives the addresses of two records and the two context
// words that the caller handed to the sort, and answers a negative number,
// zero or a positive number. The merge sort always calls it as (earlier
// record, later record) and takes only a positive answer as "out of order",
// so a comparison that never answers 0 still leaves the records that it does
// not order in their original order.
//
// A comparison may raise (a language error, a throw): the records are then
// left as some permutation of the input, none lost or duplicated, and the
// merge sort's side buffer is released. The addresses handed to the
// comparison are either inside the array or inside the merge sort's side
// buffer; anything the comparison does must not move the array (a caller
// whose comparison can allocate keeps the collector from moving buffers for
// the duration of the sort).
#pragma once
#include <cstdint>

#include "runtime/core/cell.h"

namespace zan {

using SortCompare = i32 (*)(const void* a, const void* b, uintptr_t arg, u32 flags);

// Layout of the flags word that the series actions pass through the sort to
// their comparisons: bit 0 reverse, bit 1 compare whole records, bits 2 and
// up the record length (whole records) or the offset of the compared item.
constexpr u32 SORT_FLAG_REVERSE = 1u << 0;
constexpr u32 SORT_FLAG_ALL = 1u << 1;
constexpr u32 SORT_FLAG_ARG_SHIFT = 2;
inline u32 sort_flags_arg(u32 flags) { return flags >> SORT_FLAG_ARG_SHIFT; }

// Everything a sort step needs besides the addresses.
struct SortContext {
    u32 size;        // record size in bytes
    bool bytewise;   // size is not a multiple of 4
    uintptr_t arg;   // first context word
    u32 flags;       // second context word
    SortCompare cmp;
};

// Runs of fewer records than this are completed by insertion sort before
// merging.
constexpr u32 SORT_MIN_RUN = 24;
// Quicksort ranges of this many records or fewer finish by insertion sort.
constexpr u32 SORT_SMALL_RANGE = 7;

// Stable sort in place. Raises script error too-long when the side buffer
// (n / 2 records) does not fit in 31 bits and internal error no-memory when
// it cannot be had; both before any record is touched.
void sort_merge(void* base, u32 n, u32 size, uintptr_t arg, u32 flags, SortCompare cmp);

// Unstable sort in place; recognises ordered and nearly ordered input.
void sort_quick(void* base, u32 n, u32 size, uintptr_t arg, u32 flags, SortCompare cmp);

// For callers that append to a sorted series and sort again (the sorted
// part serves as pivots); the series actions sort whole ranges today.
// Sorts a range of which the first k records (k > 0) or the last -k records
// (k < 0) are already in order and serve as a sample of pivots.
void sort_quick_range(void* base, i32 k, u32 n, u32 size, uintptr_t arg, u32 flags,
                      SortCompare cmp);

// Merges the adjacent sorted runs [s1, e1) and [e1, e2) through the side
// buffer, which must hold min(run lengths) records. Equal records keep their
// order.
void sort_merge_step(u8* s1, u8* e1, u8* e2, u8* buf, const SortContext& ctx);

// Exchanges two records: 4 bytes at a time, or byte by byte when bytewise.
void sort_swap(void* a, void* b, u32 size, bool bytewise);

}  // namespace zan

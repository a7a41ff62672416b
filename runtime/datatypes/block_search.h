// Block search, selection, sorting and set operations. find, select, put
// and the eval-path entry of block! are declared with the other block!
// actions in block.h; this header adds the sort entry, its comparison
// callbacks, the set-operation core and the search primitives that hash!
// and the set operations share.
#pragma once
#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/datatypes/block.h"

namespace zan {

// ---- search core -------------------------------------------------------------------
// The buffer position (cells from the buffer head) of the first cell that
// find would answer, or -1; *after receives the position just past the
// matched value or run. Refinements as for find (null cells = absent).
i32 block_find_position(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                        bool case_sensitive, bool same, ValueCell* skip, bool last, bool reverse,
                        bool match, i32* after);
// Membership as the set operations test it: the value as one cell (find
// /only), at record starts (every skip cells from the series' index), under
// strict equality with case_sensitive, plain equality otherwise.
bool block_contains_value(ValueCell* series, ValueCell* value, bool case_sensitive, i32 skip);

// ---- sorting -------------------------------------------------------------------------
// The span a sort works on, for block_sort and string_sort: clamps the
// index of s to 0..length, applies /part (a count, or a position in the
// same series; a negative count takes the elements before the index and
// moves the index back to them) and answers how many elements it covers.
i32 sort_span(ValueCell* s, i32 length, ValueCell* part);

ValueCell* block_sort(ValueCell* series, bool case_sensitive, ValueCell* skip,
                      ValueCell* comparator, ValueCell* part, bool all, bool reverse, bool stable);
// The same, answering through *first the buffer position of the first
// sorted cell (-1 when nothing was sorted): hash! re-enters the cells from
// there.
ValueCell* block_sort_from(ValueCell* series, bool case_sensitive, ValueCell* skip,
                           ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                           bool stable, i32* first);

// The comparison callbacks handed to the sort engines. block_sort_compare
// takes the compare code (7, or 8 for /case) as its context word;
// block_sort_compare_func a BlockSortCall. Flags: bit 0 reverse, bit 1 whole
// records, bits 2 and up the record length (whole records) or the offset of
// the compared cell.
i32 block_sort_compare(const void* a, const void* b, uintptr_t code, u32 flags);
i32 block_sort_compare_func(const void* a, const void* b, uintptr_t call, u32 flags);

// What a sort through a user function needs: the function! and, for whole
// records, two scratch blocks of one record each (all kept on the data
// stack by the sort).
struct BlockSortCall {
    ValueCell* function;
    ValueCell* scratch_a;
    ValueCell* scratch_b;
    u32 record_cells;
};

// The order a user comparison function gives to its (first, second)
// arguments, as every series sort reads it: negative puts the first first.
// true -1, false and none 1, an integer! or float! by its sign, anything
// else -1.
i32 sort_function_answer(const ValueCell* result);

// The order of two records a and b (a the earlier) by a user comparison
// function, as the sort routines want it (negative: a first). The function
// sees the later record first, or the earlier first for /reverse, and its
// answer is read the other way round: a "lesser" (or "greater") test that
// fails on equal records keeps them in place, which a stable sort needs.
i32 sort_function_compare(const ValueCell* function, const ValueCell* a, const ValueCell* b,
                          u32 flags);

// Calls a function! with two arguments through the interpreter (the
// evaluator's call_function hook) and leaves its result in *out. Refinements
// of the function that the call does not use get their unused values.
// Raises internal error not-done when no interpreter is installed.
void block_call_function2(const ValueCell* function, const ValueCell* arg1, const ValueCell* arg2,
                          ValueCell* out);

// ---- set operations -------------------------------------------------------------------
enum SetOperation : i32 {
    SET_OP_UNIQUE = 8,
    SET_OP_UNION = 9,
    SET_OP_INTERSECT = 10,
    SET_OP_EXCLUDE = 11,
    SET_OP_DIFFERENCE = 12,
};
// Works on the series in cells 0 and (but for unique) 1 of the current
// argument frame; the new series replaces cell 0 (the result cell).
void block_set_op(bool case_sensitive, ValueCell* skip, i32 op);

}  // namespace zan

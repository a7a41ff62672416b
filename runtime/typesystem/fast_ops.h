// Fast operators: infix arithmetic and comparison, blk/N picks and series
// navigation. integer! and float! operands (number_infix.h) and block!
// series are computed inline, without a call frame; every other case
// opens a native call frame labelled with the operator's word, pushes the
// operands, runs the action's table entry and takes its result, exactly as
// the interpreter would.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Math op codes: 0 add, 1 subtract, 2 multiply, 5 or~, 6 and~, 7 xor~.
// Compare op codes: 0 to 6 of the compare protocol. Navigation op codes: 1
// length?, 2 index?, 3 head?, 4 tail?, 5 next, 6 back, 7 head, 8 tail. Any
// other code ends the process (runtime error 101).
enum FastNavOp : i32 {
    NAV_LENGTH_Q = 1, NAV_INDEX_Q = 2, NAV_HEAD_Q = 3, NAV_TAIL_Q = 4,
    NAV_NEXT = 5, NAV_BACK = 6, NAV_HEAD = 7, NAV_TAIL = 8,
};

// ---- on the top cell ----------------------------------------------------------------------
// An infix operator whose left operand is pushed: the left operand is the
// top cell, and the result (or the logic! answer) replaces it. The walker
// uses the comparison for operands its own step does not answer.
ValueCell* fastop_math_top(i32 op, const ValueCell* word, const ValueCell* right);
ValueCell* fastop_compare_top(i32 op, const ValueCell* word, const ValueCell* right);

// ---- for compiled code --------------------------------------------------------------------
// The forms that code compiled ahead of time to machine instructions calls,
// with its operands in cells or (the _int forms) a 32-bit integer literal as
// the right operand, which then needs no cell. The system has no such
// compiler yet: nothing but their tests calls these.

// The result pushed on the data stack.
ValueCell* fastop_math(i32 op, const ValueCell* word, const ValueCell* left,
                       const ValueCell* right);
ValueCell* fastop_math_int(i32 op, const ValueCell* word, const ValueCell* left, i32 right);
// As fastop_math_top, with an integer right operand.
ValueCell* fastop_math_top_int(i32 op, const ValueCell* word, i32 right);

// A logic! pushed on the data stack.
ValueCell* fastop_compare(i32 op, const ValueCell* word, const ValueCell* left,
                          const ValueCell* right);
ValueCell* fastop_compare_int(i32 op, const ValueCell* word, const ValueCell* left, i32 right);
// The logic! answer written into the current frame's result cell, and
// returned as 0/1; nothing stays pushed.
i32 fastop_compare_result(i32 op, const ValueCell* word, const ValueCell* left,
                          const ValueCell* right);
i32 fastop_compare_int_result(i32 op, const ValueCell* word, const ValueCell* left, i32 right);
// 1 when the answer differs from expected (0/1), else 0 (the test of a
// conditional jump); nothing pushed.
i32 fastop_compare_differs(i32 op, const ValueCell* word, const ValueCell* left,
                           const ValueCell* right, i32 expected);
i32 fastop_compare_int_differs(i32 op, const ValueCell* word, const ValueCell* left, i32 right,
                               i32 expected);
// As fastop_compare_top, with an integer right operand.
ValueCell* fastop_compare_top_int(i32 op, const ValueCell* word, i32 right);

// Pushes element n (counted from 1 at the value's index); none! outside a
// block!'s range.
ValueCell* fastop_path_pick(const ValueCell* value, i32 n, const ValueCell* word);
// Pushes the navigation result.
ValueCell* fastop_series_nav(i32 op, const ValueCell* value, const ValueCell* word);

}  // namespace zan

// The arithmetic and comparisons of integer! and float! operands computed
// without a call: what the add, subtract, multiply, divide, remainder,
// or~, and~ and xor~ actions and the comparison natives give for them, bit
// for bit. Every case these do not answer (another datatype, an operation
// that raises an error) is the action's: they say false and change nothing.
//
// Operation codes: the math codes (MATH_ADD .. MATH_XOR) and, for the
// comparisons, the compare protocol's codes CMP_EQUAL .. CMP_GREATER_EQUAL.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/actions.h"

namespace zan {

// The operations on two integers with an integer result: false when the
// operation overflows (the action then gives the float! result) or must
// raise its error in the action; divide is not one of them (its result
// may be a float!).
inline bool int_math_raw(i32 op, i32 a, i32 b, i32* out) {
    i32 r;
    switch (op) {
        case MATH_ADD: if (__builtin_add_overflow(a, b, &r)) return false; break;
        case MATH_SUBTRACT: if (__builtin_sub_overflow(a, b, &r)) return false; break;
        case MATH_MULTIPLY: if (__builtin_mul_overflow(a, b, &r)) return false; break;
        case MATH_REMAINDER:
            // Zero and the one overflowing case raise their errors in the action.
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            r = a % b;
            break;
        case MATH_OR: r = a | b; break;
        case MATH_AND: r = a & b; break;
        case MATH_XOR: r = a ^ b; break;
        default: return false;
    }
    *out = r;
    return true;
}

// A comparison of two integers (op: CMP_EQUAL .. CMP_GREATER_EQUAL).
inline bool int_compare_raw(i32 op, i32 a, i32 b) {
    switch (op) {
        case CMP_EQUAL: case CMP_STRICT_EQUAL: return a == b;
        case CMP_NOT_EQUAL: return a != b;
        case CMP_LESSER: return a < b;
        case CMP_LESSER_EQUAL: return a <= b;
        case CMP_GREATER: return a > b;
        default: return a >= b;
    }
}

// Two integers whose plain operation did not apply (overflow, divide):
// the action's result over left, or false when the action raises an error
// or the operation has no inline form. An overflowing add, subtract or
// multiply gives the exact float!; an exact divide keeps the integer!
// cell (its header too, as the action does), an inexact one gives the
// float! quotient.
__attribute__((noinline)) inline bool int_math_wide(i32 op, ValueCell* left, i32 a, i32 b) {
    double x = a, y = b;
    switch (op) {
        case MATH_ADD: float_make_at(left, x + y); return true;
        case MATH_SUBTRACT: float_make_at(left, x - y); return true;
        case MATH_MULTIPLY: float_make_at(left, x * y); return true;
        case MATH_DIVIDE:
            if (b == 0 || (a == INT32_MIN && b == -1)) return false;
            if (a % b != 0) float_make_at(left, x / y);
            else integer_set(left, a / b);
            return true;
        default: return false;
    }
}

// At least one float! operand and the other an integer! or float!.
// Arithmetic: add, subtract, multiply and divide in IEEE doubles (the
// float action divides by zero without an error), a float! result.
// Comparisons: = and <> approximate (float_almost_equal), == exact and
// false across datatypes, the orderings as IEEE orders (false with a NaN).
__attribute__((noinline)) inline bool float_op_inline(i32 op, bool compare, ValueCell* left,
                                                      const ValueCell* right) {
    u32 lt = left->type(), rt = right->type();
    if (!((lt == TYPE_FLOAT || lt == TYPE_INTEGER) && (rt == TYPE_FLOAT || rt == TYPE_INTEGER)))
        return false;
    double a = lt == TYPE_FLOAT ? left->get_float() : static_cast<double>(integer_get(left));
    double b = rt == TYPE_FLOAT ? right->get_float() : static_cast<double>(integer_get(right));
    if (compare) {
        bool r;
        switch (op) {
            case CMP_EQUAL: r = float_almost_equal(a, b); break;
            case CMP_NOT_EQUAL: r = !float_almost_equal(a, b); break;
            case CMP_STRICT_EQUAL: r = lt == rt && a == b; break;
            case CMP_LESSER: r = a < b; break;
            case CMP_LESSER_EQUAL: r = a <= b; break;
            case CMP_GREATER: r = a > b; break;
            case CMP_GREATER_EQUAL: r = a >= b; break;
            default: return false;
        }
        logic_box(left, r);
        return true;
    }
    double r;
    switch (op) {
        case MATH_ADD: r = a + b; break;
        case MATH_SUBTRACT: r = a - b; break;
        case MATH_MULTIPLY: r = a * b; break;
        case MATH_DIVIDE: r = a / b; break;
        default: return false;
    }
    float_make_at(left, r);
    return true;
}

// The math operation op on left and right, the result over left; false
// (nothing changed) when the action has to run.
__attribute__((always_inline)) inline bool number_math_inline(i32 op, ValueCell* left,
                                                              const ValueCell* right) {
    if (__builtin_expect(left->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER, 1)) {
        i32 a = integer_get(left), b = integer_get(right), r;
        if (__builtin_expect(int_math_raw(op, a, b, &r), 1)) {
            cell_init(left, TYPE_INTEGER, 0, static_cast<u32>(r), 0);
            return true;
        }
        return int_math_wide(op, left, a, b);
    }
    if (left->type() == TYPE_FLOAT && right->type() == TYPE_FLOAT) {
        double a = left->get_float(), b = right->get_float();
        switch (op) {
            case MATH_ADD: float_make_at(left, a + b); return true;
            case MATH_SUBTRACT: float_make_at(left, a - b); return true;
            case MATH_MULTIPLY: float_make_at(left, a * b); return true;
            case MATH_DIVIDE: float_make_at(left, a / b); return true;
            default: return false;
        }
    }
    return float_op_inline(op, false, left, right);
}

// The comparison op on left and right, the logic! answer over left; false
// (nothing changed) when the comparison has to run in full.
__attribute__((always_inline)) inline bool number_compare_inline(i32 op, ValueCell* left,
                                                                 const ValueCell* right) {
    if (__builtin_expect(left->type() == TYPE_INTEGER && right->type() == TYPE_INTEGER, 1)) {
        bool r = int_compare_raw(op, integer_get(left), integer_get(right));
        logic_box(left, r);
        return true;
    }
    if (left->type() == TYPE_FLOAT && right->type() == TYPE_FLOAT && op >= CMP_LESSER) {
        double a = left->get_float(), b = right->get_float();
        bool r = op == CMP_LESSER         ? a < b
                 : op == CMP_LESSER_EQUAL ? a <= b
                 : op == CMP_GREATER      ? a > b
                                          : a >= b;
        logic_box(left, r);
        return true;
    }
    return float_op_inline(op, true, left, right);
}

}  // namespace zan

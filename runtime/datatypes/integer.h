// integer!: the signed 32-bit integer of the language (data2 holds the
// value). Overflow of add, subtract, multiply and power, and an inexact
// divide, turn the result into a float!. Its row is the base of char! and
// handle!, and its arithmetic entry sorts out every mixed operation whose
// first operand is an integer.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* integer_box(ValueCell* c, i32 v) {
    cell_init(c, TYPE_INTEGER, 0, static_cast<u32>(v), 0);
    return c;
}
inline i32 integer_get(const ValueCell* c) { return static_cast<i32>(c->data2); }
// Changes the value only: char! shares the word, and its header stays.
inline void integer_set(ValueCell* c, i32 v) { c->data2 = static_cast<u32>(v); }
ValueCell* integer_push(i32 v);
void integer_set_result(i32 v);

// ---- services ------------------------------------------------------------------------
// Math op codes shared by the scalar arithmetic cores.
enum MathOp : i32 {
    MATH_ADD = 0, MATH_SUBTRACT = 1, MATH_MULTIPLY = 2, MATH_DIVIDE = 3,
    MATH_REMAINDER = 4, MATH_OR = 5, MATH_AND = 6, MATH_XOR = 7,
};

// The 32-bit operation. With a result cell its data2 receives the value;
// an overflowing add/subtract/multiply, or an inexact divide, makes the
// result cell a float! holding the exact float result instead. Divide and
// remainder raise zero-divide and, for -2147483648 by -1, overflow. Without
// a result cell divide truncates toward zero. Other codes end the process
// (runtime error 101).
i32 integer_do_math(i32 left, i32 right, i32 op, ValueCell* result);
// The arithmetic entry: argument cell 0 (an integer!, also the result cell)
// with cell 1 of any type.
void integer_math_op(i32 op);
// Decimal text in a static buffer, valid until the next call.
const char* integer_to_cstr(i32 v);
// |v|; the minimum value raises math overflow.
i32 integer_absolute_value(i32 v);
// True when a float! (or any cell holding a 64-bit float) cannot be
// truncated into 32 bits: above 2147483647.0, below -2147483648.0, or NaN.
bool integer_float_overflow_q(const ValueCell* f);
bool integer_float_overflow_q(double d);

// ---- actions -------------------------------------------------------------------------
ValueCell* integer_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* integer_to(ValueCell* proto, ValueCell* spec, u32 type);
void integer_random(ValueCell* value, bool seed, bool secure, bool only);
i32 integer_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 integer_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);
i32 integer_compare(ValueCell* value1, ValueCell* value2, i32 op);
void integer_absolute();
void integer_add();
void integer_divide();
void integer_multiply();
void integer_negate(ValueCell* value);
void integer_power();
void integer_remainder();
void integer_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling);
void integer_subtract();
bool integer_even_q(ValueCell* value);
bool integer_odd_q(ValueCell* value);
void integer_and_t();
ValueCell* integer_complement(ValueCell* value);
void integer_or_t();
void integer_xor_t();

void integer_init();

}  // namespace zan

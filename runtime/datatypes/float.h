// float!: the 64-bit IEEE-754 number (data2 the low word, data3 the high
// word). Its entries are also the arithmetic core of percent! (which
// inherits them), of time!, and of integer! when a float takes part.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* float_make_at(ValueCell* c, double d) {
    cell_init(c, TYPE_FLOAT);
    c->put_float(d);
    return c;
}
// A cell of a float-carrying type (float!, percent!, time!).
inline ValueCell* float_make_typed_at(ValueCell* c, u32 type, double d) {
    cell_init(c, type);
    c->put_float(d);
    return c;
}
inline double float_get(const ValueCell* c) { return c->get_float(); }
ValueCell* float_push(double d);

// ---- predicates ----------------------------------------------------------------------
bool float_nan_q(double d);
bool float32_nan_q(float f);
double float_abs_bits(double d);  // the sign bit cleared
// Closeness of 32-bit coordinates: within 10 ordered units, or, at or
// beyond the largest finite 32-bit float, same sign and magnitude patterns
// closer than 100000h. Never equal with a NaN.
bool float32_almost_equal(float a, float b);
// The approximate equality of float! =: exact, or closer than
// 2.220446049250313e-16, or within 10 ordered units; never with a NaN.
bool float_almost_equal(double a, double b);

// ---- services ------------------------------------------------------------------------
// The plain operation: 0 add, 1 subtract, 2 multiply, 3 divide (IEEE), 4
// remainder (below). Other codes raise cannot-use naming the current action
// and float!.
double float_do_math(double left, double right, i32 op);
// Remainder: fmod for a finite divisor; a NaN divisor gives NaN; an
// infinite one gives a finite dividend back, else NaN.
double float_remainder_value(double dividend, double divisor);
// The arithmetic entry on argument cells 0 (float!, percent!, time! or
// integer!; also the result cell) and 1.
void float_math_op(i32 op);
// v x r / 2147483647 for a draw r of the generator (two draws of the
// secure source with secure): between 0 and v, both included.
double float_random_up_to(double v, bool secure);

// ---- actions -------------------------------------------------------------------------
ValueCell* float_make(ValueCell* proto, ValueCell* spec, u32 type);
void float_random(ValueCell* value, bool seed, bool secure, bool only);
i32 float_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 float_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
i32 float_compare(ValueCell* value1, ValueCell* value2, i32 op);
void float_absolute();
void float_add();
void float_divide();
void float_multiply();
void float_negate(ValueCell* value);
// Runs on frame cell 0 (the value) and cell 1 (the exponent).
void float_power();
void float_remainder();
void float_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
void float_subtract();
bool float_even_q(ValueCell* value);
bool float_odd_q(ValueCell* value);

void float_init();

}  // namespace zan

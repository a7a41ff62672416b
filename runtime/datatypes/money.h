// money!: an exact decimal amount of 22 packed decimal digits (17 before
// and 5 after the point), a sign bit and a currency. Arithmetic is exact:
// amounts never go through floats unless a float operand is converted.
//
// Cell bytes: 0 the type id; header bit 14 the sign (1 negative); byte 4 the
// currency index (0 none, else the 1-based position of the currency word in
// system/locale/currencies/list); bytes 5-15 the 22 digits, most
// significant first, two per byte, high nibble first. Digit positions are
// numbered 1-22; 17 is the units, 18 the tenths.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr i32 MONEY_DIGITS = 22;
constexpr i32 MONEY_INT_DIGITS = 17;
constexpr i32 MONEY_FRACTION_DIGITS = 5;
constexpr i32 MONEY_DIGIT_BYTES = 11;

// ---- digits and cells ----------------------------------------------------------------
u32 money_digit(const ValueCell* m, i32 position);  // 1..22
void money_set_digit(ValueCell* m, i32 position, u32 digit);
// 22 less the leading zeros, at least 1.
i32 money_significant_digits(const ValueCell* m);

inline bool money_sign_q(const ValueCell* m) { return (m->header & MONEY_SIGN) != 0; }
inline void money_set_sign(ValueCell* m, bool negative) {
    m->header = negative ? (m->header | MONEY_SIGN) : (m->header & ~MONEY_SIGN);
}
inline u32 money_currency_of(const ValueCell* m) { return m->data1 & 0xFF; }
inline void money_set_currency(ValueCell* m, u32 index) {
    m->data1 = (m->data1 & ~0xFFu) | (index & 0xFF);
}
bool money_zero_q(const ValueCell* m);
i32 money_sign(const ValueCell* m);  // -1, 0, 1

// Builds a cell from its parts (the binary value decoders).
ValueCell* money_make_raw(ValueCell* cell, bool negative, u32 currency,
                          const u8 (&digits)[MONEY_DIGIT_BYTES]);
// Builds a cell from the digits of a text (the lexer's money literal):
// [start, end) in units of 1, 2 or 4 bytes holds digits, "'" separators
// and at most one "."; the integer digits nearest the point (at most 17)
// and the first 5 fraction digits are kept. currency is a word or null.
// False, the cell untouched, when the currency is not in the list.
bool money_make_at(ValueCell* cell, bool negative, const ValueCell* currency, const u8* start,
                   const u8* end, u32 unit);

// ---- currencies ----------------------------------------------------------------------
// The 1-based index of the word in the currency list, -1 when absent.
i32 money_currency_index(const ValueCell* word);
// The word at an index, or null.
const ValueCell* money_currency_at(u32 index);
// The currency word of a value, or none!, pushed on the data stack.
ValueCell* money_currency_word(const ValueCell* m);

// ---- conversions ---------------------------------------------------------------------
ValueCell* money_from_integer(ValueCell* out, i32 n);
// Raises bad-make-arg (money!, the float) for infinities, NaN, magnitudes
// money cannot hold and, when strict, more than 5 fraction digits; else
// the fraction is cut after 5 digits.
ValueCell* money_from_float(ValueCell* out, double x, bool strict);
// Whether a float is beyond the amounts money holds: 10^17 or more in
// magnitude, or not 0 and below 10^-5.
bool money_float_too_big_q(double x);
bool money_float_too_small_q(double x);
double money_to_float(const ValueCell* m);
// Truncated toward zero; type-limit (integer!) when out of range.
i32 money_to_integer(const ValueCell* m);

// ---- actions -------------------------------------------------------------------------
// The arithmetic entry on argument cells 0 (the first operand, also the
// result) and 1: code 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder.
void money_math_op(i32 op);
// Text without the budget: form groups the integer digits, mold does not;
// all prints the five fraction digits.
i32 money_form_body(const ValueCell* m, ValueCell* out, i32 limit, bool all, bool group);
ValueCell* money_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* money_to(ValueCell* proto, ValueCell* spec, u32 type);
void money_random(ValueCell* value, bool seed, bool secure, bool only);
i32 money_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 money_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* money_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool notify);
i32 money_compare(ValueCell* value1, ValueCell* value2, i32 op);
void money_absolute();
void money_add();
void money_divide();
void money_multiply();
void money_negate(ValueCell* value);
void money_remainder();
void money_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling);
void money_subtract();
bool money_even_q(ValueCell* value);
bool money_odd_q(ValueCell* value);
ValueCell* money_pick(ValueCell* value, i32 index, ValueCell* index_cell);

void money_init();

}  // namespace zan

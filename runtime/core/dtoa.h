// Conversions between 64-bit floats and decimal text: shortest round-trip
// digits, their plain/exponent layout, the formatter behind float! form and
// its relatives, and correctly rounded text-to-float.
//
// Every text is returned in a static buffer that the next call of the same
// function overwrites: copy it at once. Single-threaded, like the runtime.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Shared float constants.
extern const double g_float_max;         // largest finite double
extern const double g_float_inf;         // +infinity
extern const double g_float_neg_inf;     // -infinity
extern const double g_float_nan;         // quiet NaN, bits 7FF8000000000000h
extern const double g_float_round_half;  // 0.49999999999999994

// Position reported by dtoa_float_to_digits for infinities and NaN, and for
// zeros; the returned text is then a complete special text.
constexpr int DTOA_POS_SPECIAL = 9999;
constexpr int DTOA_POS_ZERO = 9998;

// Digits of |value|: the shortest string that reads back as the same float,
// rounded to at most `cap` digits when cap > 0. On return *point is p with
// value = 0.d1d2...dn x 10^p, *sign is 1 for a negative value, *count is n.
// Infinities and NaN give "1.#INF", "-1.#INF" or "1.#NaN" with *point 9999;
// zeros give "0"/"-0" ("0.0"/"-0.0" when zero_text) with *point 9998; *count
// is then the length of that text. The digits are NUL-terminated.
const char* dtoa_float_to_digits(double value, int cap, int* point, int* sign, int* count,
                                 bool zero_text);

// Plain or exponent layout of those digits, "-" first for negative values.
// dot_zero keeps "1.0" (else "1") and picks "0.0"/"-0.0" for zeros.
const char* dtoa_form_float(double value, int cap, bool dot_zero);

// Kinds of float_to_cstr.
enum FloatTextKind : int {
    FLOAT_TEXT_F32 = 0,      // 32-bit vector! elements: "%.7g", ".0" added
    FLOAT_TEXT_FLOAT = 1,    // float! form, 64-bit vector! elements: "%.16g", ".0"
    FLOAT_TEXT_PCT32 = 2,    // 32-bit percent elements (already x100): "%.7g", "%"
    FLOAT_TEXT_PERCENT = 3,  // percent! (already x100): "%.13g", "%"
    FLOAT_TEXT_TIME = 4,     // time! seconds: 6 digits, no ".0"
    FLOAT_TEXT_POINT = 5,    // point2D!/point3D! coordinates: "%.7g"
};

// The form text of a float for one of the kinds above.
const char* float_to_cstr(double value, int kind);

// The pretty-printing switch of float_to_cstr (on at start-up); set from the
// float options object of the system.
void float_set_pretty(bool on);

// Decimal text in [start, end) to the nearest float (ties to even).
// exp_adjust is added to the decimal exponent (-2 reads a percent).
// *unread receives the number of characters after the last one read; text
// that does not start with a number gives 0 with the whole range unread.
// Understands "1.#INF", "-1.#INF" and "1.#NaN".
double dtoa_text_to_float(const char* start, const char* end, int exp_adjust, int* unread);

}  // namespace zan

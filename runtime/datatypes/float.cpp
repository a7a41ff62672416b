// float!: IEEE arithmetic (also for percent!, time! and integer! operands),
// conversions, the approximate comparison, rounding, random draws and the
// two text forms.
#include "runtime/datatypes/float.h"

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------

ValueCell* float_push(double d) { return float_make_at(stack_push_cell(), d); }

// ---- predicates ----------------------------------------------------------------------

namespace {
constexpr u64 SIGN64 = u64(1) << 63;
constexpr u32 SIGN32 = u32(1) << 31;
constexpr double EPSILON = 2.220446049250313e-16;

// Sign-magnitude patterns mapped onto one ordered scale (both zeros meet
// at the middle).
u64 ordered64(double d) {
    u64 bits = std::bit_cast<u64>(d);
    u64 mag = bits & ~SIGN64;
    return (bits & SIGN64) ? SIGN64 - mag : SIGN64 + mag;
}
u32 ordered32(float f) {
    u32 bits = std::bit_cast<u32>(f);
    u32 mag = bits & ~SIGN32;
    return (bits & SIGN32) ? SIGN32 - mag : SIGN32 + mag;
}
template <class U>
U distance(U a, U b) {
    return a > b ? a - b : b - a;
}
}  // namespace

bool float_nan_q(double d) {
    u64 bits = std::bit_cast<u64>(d);
    return (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull &&
           (bits & 0x000FFFFFFFFFFFFFull) != 0;
}
bool float32_nan_q(float f) {
    u32 bits = std::bit_cast<u32>(f);
    return (bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0;
}
double float_abs_bits(double d) { return std::bit_cast<double>(std::bit_cast<u64>(d) & ~SIGN64); }

bool float32_almost_equal(float a, float b) {
    if (float32_nan_q(a) || float32_nan_q(b)) return false;
    if (a == b) return true;
    u32 ma = std::bit_cast<u32>(a) & ~SIGN32;
    u32 mb = std::bit_cast<u32>(b) & ~SIGN32;
    u32 max_bits = std::bit_cast<u32>(FLT_MAX);
    if (ma >= max_bits || mb >= max_bits) {
        bool same_sign = (std::bit_cast<u32>(a) & SIGN32) == (std::bit_cast<u32>(b) & SIGN32);
        return same_sign && distance(ma, mb) < 0x100000u;
    }
    return distance(ordered32(a), ordered32(b)) <= 10;
}

bool float_almost_equal(double a, double b) {
    if (float_nan_q(a) || float_nan_q(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    return distance(ordered64(a), ordered64(b)) <= 10;
}

// ---- arithmetic ----------------------------------------------------------------------

double float_remainder_value(double dividend, double divisor) {
    if (divisor * 0.0 == 0.0) return std::fmod(dividend, divisor);
    if (float_nan_q(divisor)) return g_float_nan;
    return std::isfinite(dividend) ? dividend : g_float_nan;
}

double float_do_math(double left, double right, i32 op) {
    switch (op) {
        case MATH_ADD: return left + right;
        case MATH_SUBTRACT: return left - right;
        case MATH_MULTIPLY: return left * right;
        case MATH_DIVIDE: return left / right;
        case MATH_REMAINDER: return float_remainder_value(left, right);
        default: {
            ValueCell word = *stack_calling_word();
            ValueCell dt;
            datatype_box(&dt, TYPE_FLOAT);
            fire(Err::script_cannot_use, &word, &dt);
        }
    }
}

namespace {
bool float_carrier(u32 t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

double number_value(const ValueCell* c) {
    u32 t = c->type();
    if (t == TYPE_INTEGER || t == TYPE_CHAR) return static_cast<double>(integer_get(c));
    return c->get_float();
}

void swap_cells(ValueCell* a, ValueCell* b) {
    ValueCell t = *a;
    *a = *b;
    *b = t;
}
}  // namespace

void float_math_op(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    u32 lt = left->type();
    u32 rt = right->type();
    switch (rt) {
        case TYPE_TUPLE:
        case TYPE_MONEY:
            // Their cores take a number on the left themselves.
            if (ActionEntry e = number_peer_entry(rt, op)) {
                reinterpret_cast<FrameFn>(e)();
                return;
            }
            break;
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            if (lt == TYPE_TIME) break;
            if (op == MATH_SUBTRACT || op == MATH_DIVIDE)
                number_fire_not_related(number_op_word(op), rt);
            if (ActionEntry e = number_peer_entry(rt, op)) {
                // 2.0 * 1x3 is computed as 1x3 * 2.0.
                swap_cells(left, right);
                reinterpret_cast<FrameFn>(e)();
                return;
            }
            break;
        case TYPE_VECTOR:
            // The vector computes number op element for each of its elements.
            if (number_peer_entry(rt, op)) {
                vector_math_number_left(op);
                return;
            }
            break;
        default:
            break;
    }
    bool right_ok = rt == TYPE_INTEGER || float_carrier(rt) ||
                    (rt == TYPE_CHAR && lt != TYPE_TIME && lt != TYPE_PERCENT);
    if (!right_ok) number_fire_type(Err::script_invalid_type, rt);
    if (lt == TYPE_INTEGER) lt = TYPE_FLOAT;
    double r = float_do_math(number_value(left), number_value(right), op);
    u32 type;
    if ((lt == TYPE_TIME) != (rt == TYPE_TIME)) type = TYPE_TIME;
    else if (lt == TYPE_PERCENT && rt != TYPE_PERCENT) type = TYPE_PERCENT;
    else type = lt;
    float_make_typed_at(left, type, r);
}

void float_add() { float_math_op(MATH_ADD); }
void float_subtract() { float_math_op(MATH_SUBTRACT); }
void float_multiply() { float_math_op(MATH_MULTIPLY); }
void float_divide() { float_math_op(MATH_DIVIDE); }
void float_remainder() { float_math_op(MATH_REMAINDER); }

// ---- make and to ---------------------------------------------------------------------

namespace {

// A float! from the text of a string-like value, as a float literal.
bool float_from_text(const ValueCell* s, double* out) {
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    i32 total = static_cast<i32>(b->used_bytes() / unit);
    i32 idx = series_index(s);
    if (idx > total) idx = total;
    if (idx < 0) idx = 0;
    if (total - idx == 0) return false;
    i32 error = 0;
    *out = g_services.scan_float_text(b->head_ptr() + static_cast<size_t>(idx) * unit,
                                      static_cast<u32>(total - idx), unit, &error);
    return error == 0;
}

// A percent! from text loaded by the lexer as exactly one value: an
// integer!, float! or percent! literal ("1 2" or "50%%" is refused).
bool percent_from_text(ValueCell* s, double* out) {
    ValueCell* dest = stack_push_cell();
    cell_init(dest, TYPE_UNSET);
    i32 consumed = 0;
    g_services.lexer_scan_string(s, dest, -1, &consumed);
    if (consumed != string_length(s) || dest->type() != TYPE_BLOCK || block_length(dest) != 1)
        return false;
    ValueCell* v = block_head_ptr(dest);
    switch (v->type()) {
        case TYPE_INTEGER: *out = static_cast<double>(integer_get(v)); return true;
        case TYPE_FLOAT:
        case TYPE_PERCENT: *out = v->get_float(); return true;
        default: return false;
    }
}

double exponent_part(const ValueCell* c) { return number_value(c); }

}  // namespace

ValueCell* float_make(ValueCell*, ValueCell* spec, u32 type) {
    u32 target = type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    u32 t = spec->type();
    double d = 0.0;
    bool ok = true;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            d = static_cast<double>(integer_get(spec));
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            d = spec->get_float();
            break;
        case TYPE_MONEY:
            d = money_to_float(spec);
            break;
        case TYPE_BINARY: {
            SeriesBuffer* b = series_buffer(spec);
            i32 total = static_cast<i32>(b->used_bytes());
            i32 idx = series_index(spec);
            if (idx > total) idx = total;
            if (idx < 0) idx = 0;
            const u8* p = b->head_ptr() + idx;
            u64 bits = 0;
            for (i32 i = 0; i < 8 && idx + i < total; i++) bits = (bits << 8) | p[i];
            d = std::bit_cast<double>(bits);
            break;
        }
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            ok = block_length(spec) == 2;
            if (!ok) break;
            ValueCell* m = block_head_ptr(spec);
            ValueCell* e = m + 1;
            auto numeric = [](u32 k) { return k == TYPE_INTEGER || k == TYPE_FLOAT; };
            ok = numeric(m->type()) && numeric(e->type());
            if (!ok) break;
            double mant = number_value(m);
            double ex = std::trunc(exponent_part(e));
            // A negative power of ten divides, so that [3 -1] gives exactly 0.3.
            d = ex < 0 ? mant / std::pow(10.0, -ex) : mant * std::pow(10.0, ex);
            break;
        }
        default:
            if (type_string_like(t)) {
                ok = target == TYPE_PERCENT ? percent_from_text(spec, &d) : float_from_text(spec, &d);
                break;
            }
            ok = false;
    }
    if (!ok) number_fire_bad_to_arg(target, spec);
    return float_make_typed_at(stack_push_cell(), target, d);
}

// ---- random --------------------------------------------------------------------------

double float_random_up_to(double v, bool secure) {
    if (secure) {
        double r1 = g_services.random_secure_next();
        double r2 = g_services.random_secure_next();
        return (r2 + r1 / 2147483647.0) * v / 2147483648.0;
    }
    double r = g_services.random_next();
    return v * r / 2147483647.0;
}

void float_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(float_low_word(value) ^ float_high_word(value));
        unset_set_result();
        return;
    }
    double r = float_random_up_to(value->get_float(), secure);
    float_make_typed_at(stack_result(), value->type(), r);
}

// ---- text ----------------------------------------------------------------------------

i32 float_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    const char* text = float_to_cstr(value->get_float(), FLOAT_TEXT_FLOAT);
    i32 len = static_cast<i32>(std::strlen(text));
    string_append_cstr(out, text);
    return limit - len;
}

i32 float_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    const char* text = dtoa_form_float(value->get_float(), 0, true);
    i32 len = static_cast<i32>(std::strlen(text));
    string_append_cstr(out, text);
    return limit - len;
}

// ---- compare -------------------------------------------------------------------------

namespace {
// Money can only hold magnitudes from 1e-5 (or zero) below 1e17.
bool money_can_hold(double x) {
    if (!std::isfinite(x)) return false;
    double m = std::fabs(x);
    return m == 0.0 || (m >= 1e-5 && m < 1e17);
}
}  // namespace

i32 float_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t2 = value2->type();
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && t2 != value1->type())
        return 1;
    double a = value1->get_float();
    double b;
    switch (t2) {
        case TYPE_INTEGER: b = static_cast<double>(integer_get(value2)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: b = value2->get_float(); break;
        case TYPE_MONEY: {
            if (money_can_hold(a)) {
                ValueCell m;
                money_from_float(&m, a, true);
                return money_compare(&m, value2, op);
            }
            // A float beyond money's range is ordered by value.
            b = money_to_float(value2);
            break;
        }
        default: return CMP_NOT_COMPARABLE;
    }
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
            return float_almost_equal(a, b) ? 0 : 1;
        case CMP_STRICT_EQUAL:
            return a == b ? 0 : 1;
        case CMP_SAME:
            return std::bit_cast<u64>(a) == std::bit_cast<u64>(b) ? 0 : 1;
        default:
            if (std::isnan(a) || std::isnan(b)) {
                switch (op) {
                    case CMP_LESSER:
                    case CMP_LESSER_EQUAL: return 1;
                    case CMP_GREATER:
                    case CMP_GREATER_EQUAL: return -1;
                    // A NaN equals nothing, also when searching.
                    case CMP_WORD_EXACT:
                    case CMP_WORD_FOLDED:
                    case CMP_FIND: return 1;
                    default: return 0;
                }
            }
            return a < b ? -1 : a > b ? 1 : 0;
    }
}

// ---- unary actions -------------------------------------------------------------------

void float_absolute() {
    ValueCell* v = stack_arg(0);
    v->put_float(float_abs_bits(v->get_float()));
}

void float_negate(ValueCell* value) {
    double d = 0.0 - value->get_float();
    ValueCell* r = stack_result();
    cell_copy(value, r);
    r->put_float(d);
}

namespace {
// Parity of the value truncated toward zero; infinities and NaN have none.
i32 float_parity(const ValueCell* value) {
    double d = value->get_float();
    if (!std::isfinite(d)) return -1;
    return std::fmod(std::trunc(d), 2.0) == 0.0 ? 0 : 1;
}
}  // namespace

bool float_even_q(ValueCell* value) { return float_parity(value) == 0; }
bool float_odd_q(ValueCell* value) { return float_parity(value) == 1; }

void float_power() {
    ValueCell* v = stack_arg(0);
    ValueCell* e = stack_arg(1);
    u32 et = e->type();
    double exponent;
    if (et == TYPE_INTEGER) exponent = static_cast<double>(integer_get(e));
    else if (et == TYPE_FLOAT) exponent = e->get_float();
    else number_fire_expect_arg(et, 1);
    v->put_float(std::pow(v->get_float(), exponent));
}

// ---- round ---------------------------------------------------------------------------

void float_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                 bool floor, bool ceiling, bool half_ceiling) {
    ValueCell* result = stack_result();
    u32 vt = value->type();
    double x = value->get_float();
    double s = vt == TYPE_PERCENT ? 0.01 : 1.0;
    u32 result_type = vt;
    if (scale) {
        u32 st = scale->type();
        if (st == TYPE_MONEY) number_fire_not_related(stack_calling_word(), TYPE_MONEY);
        if (st == TYPE_INTEGER) s = static_cast<double>(integer_get(scale));
        else if (float_carrier(st)) s = scale->get_float();
        else fire(Err::script_invalid_arg, scale);
        s = std::fabs(s);
        if (vt == TYPE_PERCENT) s /= 100.0;
        result_type = st;
    }
    auto unchanged = [&] {
        cell_copy(value, result);
    };
    // A zero or NaN scale has nothing to round to.
    if (s == 0.0 || std::isnan(s)) return unchanged();
    // Too large for the scale to matter (infinities included).
    if (std::fabs(x) * 0x1p-53 > s) return unchanged();
    if (std::isnan(x)) return unchanged();

    int t = 0;
    double e;
    if (s >= 1.0) {
        e = x / s;
    } else {
        double m = std::frexp(s, &t);
        if (t < -1021) {
            // 1 / s would overflow: scale both by 2^-t.
            s = m;
            x = std::ldexp(x, -t);
        } else {
            t = 0;
        }
        e = x * (1.0 / s);
    }

    double a = std::fabs(e);
    double f = std::floor(a) + 0.5;
    auto sgn = [&](double v) { return e < 0 ? -v : v; };
    double c;
    if (down) c = sgn(std::floor(a));
    else if (floor) c = std::floor(e);
    else if (ceiling) c = std::ceil(e);
    else if (f < a) c = sgn(std::ceil(a));
    else if (f > a) c = sgn(std::floor(a));
    else if (even) c = std::fmod(a, 2.0) >= 1.0 ? sgn(std::ceil(a)) : sgn(std::floor(a));
    else if (half_down) c = sgn(std::floor(a));
    else if (half_ceiling) c = std::ceil(e);
    else c = sgn(std::ceil(a));

    double r;
    if (s >= 1.0) {
        r = c * s;
        if (!std::isfinite(r) || std::fabs(r) == g_float_max) fire(Err::math_overflow);
    } else {
        r = std::ldexp(c / (1.0 / s), t);
    }

    if (result_type == TYPE_INTEGER) {
        // The rounded value must be an integer! that 32 bits hold.
        if (integer_float_overflow_q(r)) fire(Err::math_overflow);
        integer_box(result, static_cast<i32>(r));
        return;
    }
    float_make_typed_at(result, result_type, r);
}

void float_init() {
    ActionRow row;
    row.set<ACT_MAKE>(float_make)
        .set<ACT_RANDOM>(float_random)
        .set<ACT_TO>(float_make)
        .set<ACT_FORM>(float_form)
        .set<ACT_MOLD>(float_mold)
        .set<ACT_COMPARE>(float_compare)
        .set<ACT_ABSOLUTE>(float_absolute)
        .set<ACT_ADD>(float_add)
        .set<ACT_DIVIDE>(float_divide)
        .set<ACT_MULTIPLY>(float_multiply)
        .set<ACT_NEGATE>(float_negate)
        .set<ACT_POWER>(float_power)
        .set<ACT_REMAINDER>(float_remainder)
        .set<ACT_ROUND>(float_round)
        .set<ACT_SUBTRACT>(float_subtract)
        .set<ACT_EVEN_Q>(float_even_q)
        .set<ACT_ODD_Q>(float_odd_q);
    datatype_register(TYPE_FLOAT, row);
}

}  // namespace zan

// integer!: 32-bit arithmetic with promotion to float! on overflow, the
// mixed-type arithmetic entry, conversions, comparison, rounding, random
// draws and the decimal text form.
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace zan {

// ---- shared by the number types ------------------------------------------------------


u32 number_op_action(i32 op) {
    switch (op) {
        case MATH_ADD: return ACT_ADD;
        case MATH_SUBTRACT: return ACT_SUBTRACT;
        case MATH_MULTIPLY: return ACT_MULTIPLY;
        case MATH_DIVIDE: return ACT_DIVIDE;
        case MATH_REMAINDER: return ACT_REMAINDER;
        case MATH_OR: return ACT_OR_T;
        case MATH_AND: return ACT_AND_T;
        case MATH_XOR: return ACT_XOR_T;
        default: return 0;
    }
}

ActionEntry number_peer_entry(u32 type, i32 op) {
    u32 action = number_op_action(op);
    if (action == 0 || type >= TYPE_TABLE_SIZE) return nullptr;
    return action_entry(type, action);
}

const ValueCell* number_op_word(i32 op) {
    const ValueCell* w = nullptr;
    switch (op) {
        case MATH_ADD: w = g_words.n.add; break;
        case MATH_SUBTRACT: w = g_words.n.subtract; break;
        case MATH_MULTIPLY: w = g_words.n.multiply; break;
        case MATH_DIVIDE: w = g_words.n.divide; break;
        default: break;
    }
    return w ? w : stack_calling_word();
}

void number_fire_type(Err id, u32 type) {
    ValueCell dt;
    datatype_box(&dt, type);
    fire(id, &dt);
}

void number_fire_not_related(const ValueCell* word, u32 type) {
    ValueCell w;
    if (word) w = *word;
    else cell_init(&w, TYPE_NONE);
    ValueCell dt;
    datatype_box(&dt, type);
    fire(Err::script_not_related, &w, &dt);
}

void number_fire_bad_to_arg(u32 type, const ValueCell* value) {
    ValueCell dt;
    datatype_box(&dt, type);
    fire(Err::script_bad_to_arg, &dt, value);
}

void number_fire_expect_arg(u32 type, i32 n) {
    ValueCell word = *stack_calling_word();
    ValueCell dt;
    datatype_box(&dt, type);
    ValueCell* arg = error_arg_word_of_call(n);
    fire(Err::script_expect_arg, &word, &dt, arg);
}

// ---- cells ---------------------------------------------------------------------------

ValueCell* integer_push(i32 v) { return integer_box(stack_push_cell(), v); }
void integer_set_result(i32 v) { integer_box(stack_result(), v); }

// ---- services ------------------------------------------------------------------------

i32 integer_do_math(i32 left, i32 right, i32 op, ValueCell* result) {
    i32 r = 0;
    switch (op) {
        case MATH_ADD:
        case MATH_SUBTRACT:
        case MATH_MULTIPLY: {
            bool overflow = op == MATH_ADD        ? __builtin_add_overflow(left, right, &r)
                            : op == MATH_SUBTRACT ? __builtin_sub_overflow(left, right, &r)
                                                  : __builtin_mul_overflow(left, right, &r);
            if (result) {
                if (overflow) {
                    double a = left, b = right;
                    float_make_at(result, op == MATH_ADD        ? a + b
                                          : op == MATH_SUBTRACT ? a - b
                                                                : a * b);
                } else {
                    integer_set(result, r);
                }
            }
            return r;
        }
        case MATH_DIVIDE:
        case MATH_REMAINDER: {
            if (right == 0) fire(Err::math_zero_divide);
            if (left == INT32_MIN && right == -1) fire(Err::math_overflow);
            if (op == MATH_REMAINDER) {
                r = left % right;
                if (result) integer_set(result, r);
                return r;
            }
            r = left / right;
            if (result) {
                if (left % right != 0)
                    float_make_at(result, static_cast<double>(left) / static_cast<double>(right));
                else
                    integer_set(result, r);
            }
            return r;
        }
        case MATH_OR: r = left | right; break;
        case MATH_AND: r = left & right; break;
        case MATH_XOR: r = left ^ right; break;
        default: runtime_fatal(101, "integer arithmetic: unknown operation");
    }
    if (result) integer_set(result, r);
    return r;
}

namespace {

// Puts the right operand into cell 0 and the old left integer into cell 1,
// so that the other type's core sees itself first.
void swap_operands(ValueCell* left, ValueCell* right) {
    i32 n = integer_get(left);
    *left = *right;
    integer_box(right, n);
}

[[noreturn]] void invalid_type_of(const ValueCell* v) {
    number_fire_type(Err::script_invalid_type, v->type());
}

}  // namespace

void integer_math_op(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    u32 rt = right->type();
    switch (rt) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            integer_do_math(integer_get(left), integer_get(right), op, left);
            return;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            float_math_op(op);
            return;
        case TYPE_MONEY: {
            ActionEntry e = number_peer_entry(rt, op);
            if (!e) invalid_type_of(right);
            reinterpret_cast<FrameFn>(e)();
            return;
        }
        case TYPE_PAIR:
        case TYPE_POINT2D:
        case TYPE_POINT3D: {
            if (op == MATH_DIVIDE) number_fire_not_related(number_op_word(op), TYPE_INTEGER);
            ActionEntry e = number_peer_entry(rt, op == MATH_SUBTRACT ? MATH_ADD : op);
            if (!e) invalid_type_of(right);
            swap_operands(left, right);
            // a - P is computed as -P + a.
            if (op == MATH_SUBTRACT) action_negate_dispatch(left);
            reinterpret_cast<FrameFn>(e)();
            return;
        }
        case TYPE_VECTOR:
            // The vector computes integer op element for each of its elements.
            if (!number_peer_entry(rt, op)) invalid_type_of(right);
            vector_math_number_left(op);
            return;
        case TYPE_TUPLE: {
            // The other core combines its elements with the integer as their
            // right operand, which would reverse these operations.
            if (op == MATH_SUBTRACT || op == MATH_DIVIDE)
                number_fire_not_related(number_op_word(op), TYPE_INTEGER);
            ActionEntry e = number_peer_entry(rt, op);
            if (!e) invalid_type_of(right);
            swap_operands(left, right);
            reinterpret_cast<FrameFn>(e)();
            return;
        }
        case TYPE_DATE: {
            if (op != MATH_ADD) number_fire_not_related(stack_calling_word(), TYPE_INTEGER);
            ActionEntry e = number_peer_entry(rt, op);
            if (!e) invalid_type_of(right);
            swap_operands(left, right);
            reinterpret_cast<FrameFn>(e)();
            return;
        }
        default:
            invalid_type_of(right);
    }
}

const char* integer_to_cstr(i32 v) {
    static char buf[16];
    if (v == INT32_MIN) {
        std::memcpy(buf, "-2147483648", 12);
        return buf;
    }
    char tmp[12];
    int n = 0;
    u32 m = static_cast<u32>(v < 0 ? -v : v);
    do {
        tmp[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    int k = 0;
    if (v < 0) buf[k++] = '-';
    while (n) buf[k++] = tmp[--n];
    buf[k] = 0;
    return buf;
}

i32 integer_absolute_value(i32 v) {
    if (v == INT32_MIN) fire(Err::math_overflow);
    return v < 0 ? -v : v;
}

bool integer_float_overflow_q(double d) {
    return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}
bool integer_float_overflow_q(const ValueCell* f) { return integer_float_overflow_q(f->get_float()); }

// ---- make and to ---------------------------------------------------------------------

namespace {

i32 hex_digit(u32 c) {
    if (c >= '0' && c <= '9') return static_cast<i32>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<i32>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<i32>(c - 'A' + 10);
    return -1;
}

// Index clamped to the tail and the units from there, for any series.
struct SeriesSpan {
    const u8* p;
    u32 unit;
    i32 count;
};
SeriesSpan span_of(const ValueCell* s) {
    SeriesBuffer* b = series_buffer(s);
    u32 unit = b->unit();
    i32 total = static_cast<i32>(b->used_bytes() / unit);
    i32 idx = series_index(s);
    if (idx > total) idx = total;
    if (idx < 0) idx = 0;
    return SeriesSpan{b->head_ptr() + static_cast<size_t>(idx) * unit, unit, total - idx};
}

i32 integer_from_spec(ValueCell* spec) {
    u32 t = spec->type();
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_CHAR:
            return integer_get(spec);
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = spec->get_float();
            if (integer_float_overflow_q(d)) number_fire_type(Err::script_type_limit, TYPE_INTEGER);
            return static_cast<i32>(d);
        }
        case TYPE_TIME: {
            double d = spec->get_float() + 0.5;
            if (integer_float_overflow_q(d)) number_fire_type(Err::script_type_limit, TYPE_INTEGER);
            return static_cast<i32>(d);
        }
        case TYPE_DATE:
            return date_to_epoch(spec);
        case TYPE_MONEY:
            return money_to_integer(spec);
        case TYPE_BINARY: {
            SeriesSpan s = span_of(spec);
            u32 v = 0;
            for (i32 i = 0; i < s.count && i < 4; i++) v = (v << 8) | s.p[i];
            return static_cast<i32>(v);
        }
        case TYPE_ISSUE: {
            const char* name = symbol_to_cstr(word_symbol(spec));
            size_t n = std::strlen(name);
            if (n == 0 || n > 8) fire(Err::script_invalid_data, spec);
            u32 v = 0;
            for (size_t i = 0; i < n; i++) {
                i32 d = hex_digit(static_cast<u8>(name[i]));
                if (d < 0) fire(Err::script_invalid_data, spec);
                v = (v << 4) | static_cast<u32>(d);
            }
            return static_cast<i32>(v);
        }
        default:
            if (type_string_like(t)) {
                SeriesSpan s = span_of(spec);
                i32 v = 0;
                i32 error = 0;
                v = g_services.scan_integer_text(s.p, static_cast<u32>(s.count), s.unit, &error);
                if (error != 0) number_fire_bad_to_arg(TYPE_INTEGER, spec);
                return v;
            }
            number_fire_bad_to_arg(TYPE_INTEGER, spec);
    }
}

}  // namespace

ValueCell* integer_to(ValueCell*, ValueCell* spec, u32) {
    return integer_push(integer_from_spec(spec));
}

ValueCell* integer_make(ValueCell* proto, ValueCell* spec, u32 type) {
    if (spec->type() == TYPE_LOGIC) return integer_push(logic_get(spec) ? 1 : 0);
    return integer_to(proto, spec, type);
}

// ---- random, text, compare -----------------------------------------------------------

void integer_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(static_cast<u32>(integer_get(value)));
        unset_set_result();
        return;
    }
    i32 n = integer_get(value);
    if (n != 0) {
        n = g_services.random_int(n, secure);
    }
    // char! takes this entry: only the payload changes.
    ValueCell* r = stack_result();
    cell_copy(value, r);
    integer_set(r, n);
}

i32 integer_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    const char* text = integer_to_cstr(integer_get(value));
    i32 len = static_cast<i32>(std::strlen(text));
    string_append_cstr(out, text);
    return limit - len;
}

i32 integer_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
                 i32 limit, i32) {
    return integer_form(value, out, arg_limit, limit);
}

i32 integer_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t2 = value2->type();
    // Strict equality, sameness and key matching need the same datatype.
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && t2 != TYPE_INTEGER)
        return 1;
    switch (t2) {
        case TYPE_INTEGER:
        case TYPE_CHAR: {
            i32 a = integer_get(value1), b = integer_get(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case TYPE_MONEY: {
            ValueCell m;
            money_from_integer(&m, integer_get(value1));
            return money_compare(&m, value2, op);
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            ValueCell f;
            float_make_at(&f, static_cast<double>(integer_get(value1)));
            return float_compare(&f, value2, op);
        }
        default:
            return CMP_NOT_COMPARABLE;
    }
}

// ---- unary actions -------------------------------------------------------------------

void integer_absolute() {
    // char! inherits this entry: the header stays.
    ValueCell* v = stack_arg(0);
    integer_set(v, integer_absolute_value(integer_get(v)));
}

void integer_negate(ValueCell* value) {
    i32 v = integer_get(value);
    ValueCell* r = stack_result();
    cell_copy(value, r);
    if (v == INT32_MIN) {
        integer_set(r, v);  // 0 - v wraps to itself
        fire(Err::math_overflow);
    }
    integer_set(r, -v);
}

bool integer_even_q(ValueCell* value) { return (static_cast<u32>(integer_get(value)) & 1u) == 0; }
bool integer_odd_q(ValueCell* value) { return (static_cast<u32>(integer_get(value)) & 1u) != 0; }

ValueCell* integer_complement(ValueCell* value) { return integer_push(~integer_get(value)); }

// ---- power ---------------------------------------------------------------------------

void integer_power() {
    ValueCell* base_cell = stack_arg(0);
    ValueCell* exp_cell = stack_arg(1);
    u32 et = exp_cell->type();
    if (et != TYPE_INTEGER && et != TYPE_FLOAT) number_fire_expect_arg(et, 1);
    i32 base = integer_get(base_cell);
    if (et == TYPE_INTEGER && integer_get(exp_cell) >= 0) {
        i32 e = integer_get(exp_cell);
        i32 result = 1;
        i32 b = base;
        bool overflow = false;
        while (e != 0) {
            if (e & 1) {
                if (__builtin_mul_overflow(result, b, &result)) {
                    overflow = true;
                    break;
                }
            }
            e >>= 1;
            if (e != 0 && __builtin_mul_overflow(b, b, &b)) {
                overflow = true;
                break;
            }
        }
        if (!overflow) {
            integer_set_result(result);
            return;
        }
    }
    float_make_at(base_cell, static_cast<double>(base));
    float_power();
}

// ---- round ---------------------------------------------------------------------------

void integer_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling) {
    ValueCell* result = stack_result();
    if (scale && scale->type() == TYPE_MONEY)
        number_fire_not_related(stack_calling_word(), TYPE_MONEY);
    i32 n = integer_get(value);
    if (n == INT32_MIN) {
        integer_set_result(n);
        return;
    }
    if (scale && scale->type() != TYPE_INTEGER) {
        float_make_at(result, static_cast<double>(n));
        float_round(result, scale, even, down, half_down, floor, ceiling, half_ceiling);
        return;
    }
    i32 s = scale ? integer_absolute_value(integer_get(scale)) : 1;
    if (s == 0) {
        integer_set_result(n);
        return;
    }
    i64 a = n < 0 ? -static_cast<i64>(n) : n;
    i64 r = a % s;
    if (r == 0) {
        integer_set_result(n);
        return;
    }
    i64 d = s - r;
    i64 u = a + d;
    i64 sign = n < 0 ? -1 : 1;
    auto toward = [&] { integer_set_result(static_cast<i32>(sign * (a - r))); };
    auto away = [&] {
        if (u > INT32_MAX) fire(Err::math_overflow);
        integer_set_result(static_cast<i32>(sign * u));
    };
    if (down) return toward();
    if (floor || ceiling) {
        if (u > INT32_MAX) fire(Err::math_overflow);
        bool go_away = floor ? n < 0 : n > 0;
        return go_away ? away() : toward();
    }
    if (r < d) return toward();
    if (r > d) return away();
    if (even) return ((a / s) % 2 == 0) ? toward() : away();
    if (half_down) return toward();
    if (half_ceiling) return n > 0 ? away() : toward();
    away();
}

// ---- frame entries -------------------------------------------------------------------

void integer_add() { integer_math_op(MATH_ADD); }
void integer_subtract() { integer_math_op(MATH_SUBTRACT); }
void integer_multiply() { integer_math_op(MATH_MULTIPLY); }
void integer_divide() { integer_math_op(MATH_DIVIDE); }
void integer_remainder() { integer_math_op(MATH_REMAINDER); }
void integer_or_t() { integer_math_op(MATH_OR); }
void integer_and_t() { integer_math_op(MATH_AND); }
void integer_xor_t() { integer_math_op(MATH_XOR); }

void integer_init() {
    ActionRow row;
    row.set<ACT_MAKE>(integer_make)
        .set<ACT_RANDOM>(integer_random)
        .set<ACT_TO>(integer_to)
        .set<ACT_FORM>(integer_form)
        .set<ACT_MOLD>(integer_mold)
        .set<ACT_COMPARE>(integer_compare)
        .set<ACT_ABSOLUTE>(integer_absolute)
        .set<ACT_ADD>(integer_add)
        .set<ACT_DIVIDE>(integer_divide)
        .set<ACT_MULTIPLY>(integer_multiply)
        .set<ACT_NEGATE>(integer_negate)
        .set<ACT_POWER>(integer_power)
        .set<ACT_REMAINDER>(integer_remainder)
        .set<ACT_ROUND>(integer_round)
        .set<ACT_SUBTRACT>(integer_subtract)
        .set<ACT_EVEN_Q>(integer_even_q)
        .set<ACT_ODD_Q>(integer_odd_q)
        .set<ACT_AND_T>(integer_and_t)
        .set<ACT_COMPLEMENT>(integer_complement)
        .set<ACT_OR_T>(integer_or_t)
        .set<ACT_XOR_T>(integer_xor_t);
    datatype_register(TYPE_INTEGER, row);
}

}  // namespace zan

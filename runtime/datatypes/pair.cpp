// pair!: construction, integer arithmetic with its fall-over into
// point2D!, comparison, rounding, random draws, field access and the text
// form.
#include "runtime/datatypes/pair.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/point.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------

ValueCell* pair_make_at(ValueCell* cell, i32 x, i32 y) {
    u32 nl = cell->header & CELL_NEW_LINE;
    cell_init(cell, TYPE_PAIR, 0, static_cast<u32>(x), static_cast<u32>(y));
    cell->header |= nl;
    return cell;
}
ValueCell* pair_push(i32 x, i32 y) {
    ValueCell* c = stack_push_cell();
    cell_init(c, TYPE_PAIR);
    return pair_make_at(c, x, y);
}

i32 pair_scalar_value(const ValueCell* cell) {
    if (cell->type() == TYPE_INTEGER) return integer_get(cell);
    return float_to_i32_or(cell->get_float(), INT32_MIN);
}

i32 pair_field_index(const ValueCell* word, const ValueCell* where) {
    if (scalar_word_is(word, g_sym.x)) return 1;
    if (scalar_word_is(word, g_sym.y)) return 2;
    if (where && where->type() == TYPE_PAIR) fire(Err::script_cannot_use, word, where);
    fire(Err::script_invalid_path, where ? where : word, word);
}

void pair_arg_to_point2d(u32 n) {
    ValueCell* c = stack_arg(n);
    float x = static_cast<float>(pair_x(c));
    float y = static_cast<float>(pair_y(c));
    cell_init(c, TYPE_POINT2D, 0, 0, 0);
    point2d_make_at(c, x, y);
}

// ---- arithmetic ----------------------------------------------------------------------

namespace {

// One component: false when the exact result is not an integer that 32
// bits hold (overflow, inexact quotient); the pair then becomes a point.
bool component_math(i32 a, i32 b, i32 op, i32* out) {
    switch (op) {
        case MATH_ADD: return !__builtin_add_overflow(a, b, out);
        case MATH_SUBTRACT: return !__builtin_sub_overflow(a, b, out);
        case MATH_MULTIPLY: return !__builtin_mul_overflow(a, b, out);
        case MATH_DIVIDE:
        case MATH_REMAINDER:
            if (b == 0) fire(Err::math_zero_divide);
            if (a == INT32_MIN && b == -1) fire(Err::math_overflow);
            if (op == MATH_REMAINDER) {
                *out = a % b;
                return true;
            }
            if (a % b != 0) return false;
            *out = a / b;
            return true;
        case MATH_OR: *out = a | b; return true;
        case MATH_AND: *out = a & b; return true;
        case MATH_XOR: *out = a ^ b; return true;
        default: runtime_fatal(101, "pair arithmetic: unknown operation");
    }
}

// Scales a pair by a float into a point2D!, in double precision.
void scale_to_point(ValueCell* p, double f, bool divide) {
    double x = pair_x(p), y = pair_y(p);
    double rx = divide ? x / f : x * f;
    double ry = divide ? y / f : y * f;
    point2d_make_at(p, float_to_f32(rx), float_to_f32(ry));
}

}  // namespace

void pair_math_op(i32 op) {
    ValueCell* p = stack_arg(0);
    ValueCell* o = stack_arg(1);
    i32 rx, ry;
    switch (o->type()) {
        case TYPE_PAIR:
            rx = pair_x(o);
            ry = pair_y(o);
            break;
        case TYPE_INTEGER:
            rx = ry = integer_get(o);
            break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = o->get_float();
            if (op == MATH_MULTIPLY || op == MATH_DIVIDE) {
                // A zero or infinite divisor is IEEE arithmetic; only a NaN
                // (and, to multiply, any non-finite factor) is refused.
                if (op == MATH_MULTIPLY ? !std::isfinite(f) : std::isnan(f))
                    fire(Err::script_invalid_arg, o);
                scale_to_point(p, f, op == MATH_DIVIDE);
                return;
            }
            if (!std::isfinite(f)) fire(Err::script_invalid_arg, o);
            rx = ry = pair_scalar_value(o);
            break;
        }
        case TYPE_POINT2D:
            pair_arg_to_point2d(0);
            point2d_math_op(op);
            return;
        default:
            number_fire_type(Err::script_invalid_type, o->type());
    }
    i32 nx = 0, ny = 0;
    if (component_math(pair_x(p), rx, op, &nx) && component_math(pair_y(p), ry, op, &ny)) {
        pair_make_at(p, nx, ny);
        return;
    }
    // Redone in floating point: both operands become points.
    pair_make_at(o, rx, ry);
    pair_arg_to_point2d(0);
    pair_arg_to_point2d(1);
    point2d_math_op(op);
}

namespace {
void pair_add() { pair_math_op(MATH_ADD); }
void pair_subtract() { pair_math_op(MATH_SUBTRACT); }
void pair_multiply() { pair_math_op(MATH_MULTIPLY); }
void pair_divide() { pair_math_op(MATH_DIVIDE); }
void pair_remainder() { pair_math_op(MATH_REMAINDER); }
void pair_or_t() { pair_math_op(MATH_OR); }
void pair_and_t() { pair_math_op(MATH_AND); }
void pair_xor_t() { pair_math_op(MATH_XOR); }
}  // namespace

// ---- make and to ---------------------------------------------------------------------

ValueCell* pair_make(ValueCell*, ValueCell* spec, u32) {
    switch (spec->type()) {
        case TYPE_PAIR:
            return stack_push(spec);
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            i32 n = pair_scalar_value(spec);
            return pair_push(n, n);
        }
        case TYPE_BLOCK: {
            ValueCell* v = block_head_ptr(spec);
            auto number = [](const ValueCell* c) {
                return c->type() == TYPE_INTEGER || c->type() == TYPE_FLOAT;
            };
            if (block_length(spec) < 2 || !number(&v[0]) || !number(&v[1]))
                fire(Err::syntax_malconstruct, spec);
            return pair_push(pair_scalar_value(&v[0]), pair_scalar_value(&v[1]));
        }
        case TYPE_POINT2D: {
            double x = point_x(spec), y = point_y(spec);
            if (!std::isfinite(x) || !std::isfinite(y)) fire(Err::script_invalid_arg, spec);
            return pair_push(float_to_i32_or(x, INT32_MIN), float_to_i32_or(y, INT32_MIN));
        }
        case TYPE_STRING: {
            ValueCell* scanned = unset_push();
            rt_scan_string_value(spec, scanned);
            if (scanned->type() != TYPE_PAIR) number_fire_bad_to_arg(TYPE_PAIR, spec);
            return scanned;
        }
        default:
            number_fire_bad_to_arg(TYPE_PAIR, spec);
    }
}

// ---- random, text, compare -----------------------------------------------------------

void pair_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(static_cast<u32>(pair_x(value)) ^ static_cast<u32>(pair_y(value)));
        unset_set_result();
        return;
    }
    i32 x = pair_x(value), y = pair_y(value);
    if (x) x = g_services.random_int(x, secure);
    if (y) y = g_services.random_int(y, secure);
    ValueCell r = *value;
    *stack_result() = *pair_make_at(&r, x, y);
}

i32 pair_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    std::string s = integer_to_cstr(pair_x(value));
    s += 'x';
    s += integer_to_cstr(pair_y(value));
    string_append_cstr(out, s.c_str());
    return limit - static_cast<i32>(s.size());
}

i32 pair_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
              i32 limit, i32) {
    return pair_form(value, out, arg_limit, limit);
}

i32 pair_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t2 = value2->type();
    if (t2 == TYPE_POINT2D) {
        ValueCell p;
        cell_init(&p, TYPE_POINT2D);
        point2d_make_at(&p, static_cast<float>(pair_x(value1)), static_cast<float>(pair_y(value1)));
        return point2d_compare(&p, value2, op);
    }
    if (t2 != TYPE_PAIR) return CMP_NOT_COMPARABLE;
    i32 a = pair_x(value1), b = pair_x(value2);
    if (a == b) {
        a = pair_y(value1);
        b = pair_y(value2);
    }
    return a < b ? -1 : a > b ? 1 : 0;
}

// ---- unary actions -------------------------------------------------------------------

void pair_absolute() {
    ValueCell* p = stack_arg(0);
    i32 x = integer_absolute_value(pair_x(p));
    i32 y = integer_absolute_value(pair_y(p));
    pair_make_at(p, x, y);
}

void pair_negate(ValueCell* value) {
    ValueCell r = *value;
    i32 x = pair_x(value), y = pair_y(value);
    if (x == INT32_MIN || y == INT32_MIN) {
        // -(-2147483648) is not a 32-bit integer: rather than wrap back to
        // itself, the result is a point2D!, as for every other pair
        // operation that overflows.
        cell_init(&r, TYPE_POINT2D);
        r.header |= value->header & CELL_NEW_LINE;
        point2d_make_at(&r, float_to_f32(0.0 - x), float_to_f32(0.0 - y));
    } else {
        pair_make_at(&r, -x, -y);
    }
    *stack_result() = r;
}

void pair_reverse(ValueCell* value, ValueCell*, ValueCell*) {
    i32 x = pair_x(value);
    pair_set_x(value, pair_y(value));
    pair_set_y(value, x);
}

void pair_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling) {
    ValueCell orig = *value;
    if (scale && scale->type() == TYPE_MONEY)
        number_fire_not_related(stack_calling_word(), TYPE_MONEY);
    ValueCell scales[2];
    if (scale) {
        if (scale->type() == TYPE_PAIR) {
            integer_box(&scales[0], pair_x(scale));
            integer_box(&scales[1], pair_y(scale));
        } else {
            scales[0] = scales[1] = *scale;
        }
    }
    i32 out[2];
    for (int i = 0; i < 2; i++) {
        ValueCell* c = integer_push(i == 0 ? pair_x(&orig) : pair_y(&orig));
        ValueCell* s = scale ? stack_push(&scales[i]) : nullptr;
        integer_round(c, s, even, down, half_down, floor, ceiling, half_ceiling);
        out[i] = pair_scalar_value(stack_result());
        stack_pop(s ? 2 : 1);
    }
    ValueCell* r = stack_result();
    *r = orig;
    pair_make_at(r, out[0], out[1]);
}

// ---- path and pick -------------------------------------------------------------------

namespace {
i32 pair_selector(const ValueCell* element) {
    if (element->type() == TYPE_INTEGER) {
        i32 n = integer_get(element);
        return n == 1 || n == 2 ? n : -1;
    }
    if (scalar_word_is(element, g_sym.x)) return 1;
    if (scalar_word_is(element, g_sym.y)) return 2;
    return -1;
}
}  // namespace

ValueCell* pair_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32, bool,
                          bool, bool, bool notify) {
    i32 f = pair_selector(element);
    if (f < 0) fire(Err::script_invalid_path, path ? path : element, element);
    if (!value) return integer_push(f == 1 ? pair_x(parent) : pair_y(parent));
    if (value->type() != TYPE_INTEGER) number_fire_type(Err::script_invalid_type, value->type());
    ValueCell old = *parent;
    if (f == 1) pair_set_x(parent, integer_get(value));
    else pair_set_y(parent, integer_get(value));
    scalar_path_changed(holder, holder_item, &old, parent, notify);
    return value;
}

ValueCell* pair_pick(ValueCell* value, i32, ValueCell* index_cell) {
    i32 f;
    if (any_word_type_q(index_cell->type())) {
        f = pair_field_index(index_cell, value);
    } else {
        f = pair_selector(index_cell);
        if (f < 0) fire(Err::script_out_of_range, index_cell);
    }
    return integer_push(f == 1 ? pair_x(value) : pair_y(value));
}

void pair_init() {
    ActionRow row;
    row.set<ACT_MAKE>(pair_make)
        .set<ACT_TO>(pair_make)
        .set<ACT_RANDOM>(pair_random)
        .set<ACT_FORM>(pair_form)
        .set<ACT_MOLD>(pair_mold)
        .set<ACT_EVAL_PATH>(pair_eval_path)
        .set<ACT_COMPARE>(pair_compare)
        .set<ACT_ABSOLUTE>(pair_absolute)
        .set<ACT_NEGATE>(pair_negate)
        .set<ACT_ROUND>(pair_round)
        .set<ACT_REVERSE>(pair_reverse)
        .set<ACT_ADD>(pair_add)
        .set<ACT_SUBTRACT>(pair_subtract)
        .set<ACT_MULTIPLY>(pair_multiply)
        .set<ACT_DIVIDE>(pair_divide)
        .set<ACT_REMAINDER>(pair_remainder)
        .set<ACT_OR_T>(pair_or_t)
        .set<ACT_AND_T>(pair_and_t)
        .set<ACT_XOR_T>(pair_xor_t)
        .set<ACT_PICK>(pair_pick);
    datatype_register(TYPE_PAIR, row);
}

}  // namespace zan

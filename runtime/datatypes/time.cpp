// time!: construction, text form, field access and the arithmetic rules
// that keep a time a time. The plain float work is float!'s.
#include "runtime/datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------

ValueCell* time_push(double seconds) { return time_box(stack_push_cell(), seconds); }

// ---- services ------------------------------------------------------------------------

i32 time_hours(double seconds) {
    double h = std::trunc(seconds / TIME_SECS_HOUR);
    if (std::isnan(h) || h > 2147483647.0 || h < -2147483648.0)
        number_fire_type(Err::script_type_limit, TYPE_INTEGER);
    return static_cast<i32>(h);
}

i32 time_minutes(double seconds) {
    double m = std::floor(std::fmod(std::fabs(seconds), TIME_SECS_HOUR) / TIME_SECS_MINUTE);
    if (!(m >= 0.0 && m < 60.0)) return 0;  // infinities and NaN
    return static_cast<i32>(m);
}

ValueCell* time_get_field(double seconds, i32 field) {
    switch (field) {
        case TIME_FIELD_HOUR: return integer_push(time_hours(seconds));
        case TIME_FIELD_MINUTE: return integer_push(time_minutes(seconds));
        default: return float_push(std::fmod(seconds, TIME_SECS_MINUTE));
    }
}

i32 time_field_index(const ValueCell* word) {
    if (scalar_word_is(word, g_sym.hour)) return TIME_FIELD_HOUR;
    if (scalar_word_is(word, g_sym.minute)) return TIME_FIELD_MINUTE;
    if (scalar_word_is(word, g_sym.second)) return TIME_FIELD_SECOND;
    return -1;
}

bool time_set_field(double* seconds, i32 field, const ValueCell* value) {
    double x = *seconds;
    u32 vt = value->type();
    double v;
    if (vt == TYPE_INTEGER) v = static_cast<double>(integer_get(value));
    else if (vt == TYPE_FLOAT && field == TIME_FIELD_SECOND) v = value->get_float();
    else return false;
    switch (field) {
        case TIME_FIELD_HOUR:
            x = x - (std::floor(x / TIME_SECS_HOUR) - v) * TIME_SECS_HOUR;
            break;
        case TIME_FIELD_MINUTE:
            x = x - (std::floor(std::fmod(x, TIME_SECS_HOUR) / TIME_SECS_MINUTE) - v) *
                        TIME_SECS_MINUTE;
            break;
        default:
            x = x - (std::fmod(x, TIME_SECS_MINUTE) - v);
            break;
    }
    *seconds = x;
    return true;
}

i32 time_form_into(double seconds, ValueCell* out, i32 limit) {
    char text[400];
    if (!std::isfinite(seconds)) {
        std::snprintf(text, sizeof text, "%s", float_to_cstr(seconds, FLOAT_TEXT_TIME));
    } else {
        char* p = text;
        double s = seconds;
        if (s < 0) {
            *p++ = '-';
            s = -s;
        }
        int minutes = static_cast<int>(std::floor(std::fmod(s, TIME_SECS_HOUR) / TIME_SECS_MINUTE));
        p += std::snprintf(p, 340, "%.0f:%02d:", std::floor(s / TIME_SECS_HOUR), minutes);
        double sec = std::fmod(s, TIME_SECS_MINUTE);
        if (sec < 1e-6) {
            std::memcpy(p, "00", 3);
        } else {
            const char* digits = float_to_cstr(sec, FLOAT_TEXT_TIME);
            size_t n = std::strlen(digits);
            if (n == 1 || digits[1] == '.') *p++ = '0';
            std::snprintf(p, 40, "%s", digits);
        }
    }
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

// ---- make and to ---------------------------------------------------------------------

namespace {

// [hours minutes seconds]: integers, the third may be a float!; only the
// first may be negative, and then the whole time is.
bool time_from_block(ValueCell* spec, double* out) {
    i32 n = block_length(spec);
    if (n > 3) return false;
    ValueCell* v = block_head_ptr(spec);
    double parts[3] = {0.0, 0.0, 0.0};
    bool negative = false;
    for (i32 i = 0; i < n; i++) {
        u32 t = v[i].type();
        double d;
        if (t == TYPE_INTEGER) d = static_cast<double>(integer_get(&v[i]));
        else if (t == TYPE_FLOAT && i == 2) d = v[i].get_float();
        else return false;
        if (d < 0) {
            if (i != 0) return false;
            negative = true;
            d = -d;
        }
        parts[i] = d;
    }
    double total = parts[0] * TIME_SECS_HOUR + parts[1] * TIME_SECS_MINUTE + parts[2];
    *out = negative ? -total : total;
    return true;
}

}  // namespace

ValueCell* time_make(ValueCell*, ValueCell* spec, u32) {
    u32 t = spec->type();
    double seconds = 0.0;
    switch (t) {
        case TYPE_TIME:
            return time_push(spec->get_float());
        case TYPE_INTEGER:
            return time_push(static_cast<double>(integer_get(spec)));
        case TYPE_FLOAT:
        case TYPE_PERCENT:
            return time_push(spec->get_float());
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
            if (!time_from_block(spec, &seconds)) number_fire_bad_to_arg(TYPE_TIME, spec);
            return time_push(seconds);
        default:
            if (type_string_like(t)) {
                ValueCell* scanned = unset_push();
                rt_scan_string_value(spec, scanned);
                if (scanned->type() != TYPE_TIME) number_fire_bad_to_arg(TYPE_TIME, spec);
                return scanned;
            }
            number_fire_bad_to_arg(TYPE_TIME, spec);
    }
}

// ---- text ----------------------------------------------------------------------------

i32 time_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return time_form_into(value->get_float(), out, limit);
}

i32 time_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    return time_form_into(value->get_float(), out, limit);
}

// ---- path and pick -------------------------------------------------------------------

namespace {

i32 selector_field(const ValueCell* element) {
    if (element->type() == TYPE_INTEGER) {
        i32 n = integer_get(element);
        return n >= 1 && n <= 3 ? n : -1;
    }
    return time_field_index(element);
}

}  // namespace

ValueCell* time_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32,
                          bool, bool, bool, bool notify) {
    i32 field = selector_field(element);
    if (field < 0) fire(Err::script_invalid_path, path ? path : element, element);
    if (!value) return time_get_field(parent->get_float(), field);
    double x = parent->get_float();
    if (!time_set_field(&x, field, value)) fire(Err::script_invalid_arg, value);
    ValueCell old = *parent;
    parent->put_float(x);
    scalar_path_changed(holder, holder_item, &old, parent, notify);
    return value;
}

ValueCell* time_pick(ValueCell* value, i32, ValueCell* index_cell) {
    i32 field = selector_field(index_cell);
    if (field < 0) fire(Err::script_out_of_range, index_cell);
    return time_get_field(value->get_float(), field);
}

// ---- arithmetic ----------------------------------------------------------------------

void time_add() {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    if (right->type() == TYPE_DATE) {
        // A time plus a date is the date plus the time.
        ValueCell t = *left;
        *left = *right;
        *right = t;
        date_math_op(MATH_ADD);
        return;
    }
    float_math_op(MATH_ADD);
}

void time_subtract() {
    if (stack_arg(1)->type() == TYPE_DATE)
        number_fire_not_related(g_words.n.subtract, TYPE_TIME);
    float_math_op(MATH_SUBTRACT);
}

void time_multiply() {
    if (stack_arg(1)->type() == TYPE_TIME)
        number_fire_not_related(g_words.n.multiply, TYPE_TIME);
    float_math_op(MATH_MULTIPLY);
}

void time_divide() {
    bool by_time = stack_arg(1)->type() == TYPE_TIME;
    float_math_op(MATH_DIVIDE);
    // A time divided by a time is a plain ratio.
    if (by_time) cell_set_type(stack_arg(0), TYPE_FLOAT);
}

void time_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling) {
    if (scale && scale->type() == TYPE_MONEY)
        number_fire_not_related(stack_calling_word(), TYPE_MONEY);
    float_round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    ValueCell* r = stack_result();
    double d = r->type() == TYPE_INTEGER ? static_cast<double>(integer_get(r)) : r->get_float();
    time_box(r, d);
}

namespace {
// Parity of the whole seconds within the minute, with a small nudge away
// from zero so that 2.9999999 counts as 3; -1 for infinities and NaN.
i32 second_parity(const ValueCell* value) {
    double s = value->get_float();
    if (!std::isfinite(s)) return -1;
    s += s < 0 ? -1e-6 : 1e-6;
    double whole = std::trunc(std::fmod(s, TIME_SECS_MINUTE));
    return std::fmod(std::fabs(whole), 2.0) == 0.0 ? 0 : 1;
}
}  // namespace

bool time_even_q(ValueCell* value) { return second_parity(value) == 0; }
bool time_odd_q(ValueCell* value) { return second_parity(value) == 1; }

void time_init() {
    ActionRow row;
    row.set<ACT_MAKE>(time_make)
        .set<ACT_TO>(time_make)
        .set<ACT_FORM>(time_form)
        .set<ACT_MOLD>(time_mold)
        .set<ACT_EVAL_PATH>(time_eval_path)
        .set<ACT_ADD>(time_add)
        .set<ACT_SUBTRACT>(time_subtract)
        .set<ACT_MULTIPLY>(time_multiply)
        .set<ACT_DIVIDE>(time_divide)
        .set<ACT_ROUND>(time_round)
        .set<ACT_EVEN_Q>(time_even_q)
        .set<ACT_ODD_Q>(time_odd_q)
        .set<ACT_PICK>(time_pick)
        .inherit({ACT_RANDOM, ACT_COMPARE, ACT_ABSOLUTE, ACT_NEGATE, ACT_REMAINDER});
    datatype_register(TYPE_TIME, row);
}

}  // namespace zan

// The numeric natives: sign tests, max and min, shift, to-hex, the
// trigonometric functions in degrees (radians with /radians), NaN?, zero?,
// logarithms, exp and square-root.
#include <cmath>
#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/eval/interp/natives_numeric.h"

namespace zan {

namespace {

bool given(const i32* refs, u32 n) { return refs[n] != -1; }

// The sign of a number!, money! or time! argument: -1, 0 or 1 (0 for a
// NaN). Any other type raises expect-arg for argument 0.
i32 number_sign(ValueCell* v) {
    switch (v->type()) {
        case TYPE_INTEGER: {
            i32 n = integer_get(v);
            return n > 0 ? 1 : n < 0 ? -1 : 0;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: {
            double d = v->get_float();
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_MONEY:
            return money_sign(v);
        default:
            number_fire_expect_arg(v->type(), 0);
    }
}

void native_negative_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_NEGATIVE_Q, refs);
    logic_box(stack_result(), number_sign(stack_arg(0)) < 0);
}

void native_positive_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_POSITIVE_Q, refs);
    logic_box(stack_result(), number_sign(stack_arg(0)) > 0);
}

void native_sign_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_SIGN_Q, refs);
    integer_box(stack_result(), number_sign(stack_arg(0)));
}

void native_max(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_MAX, refs);
    maxmin_values(true);
}

void native_min(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_MIN, refs);
    maxmin_values(false);
}

// shift data bits /left /logical
void native_shift(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_SHIFT, refs);
    i32 data = integer_get(stack_arg(0));
    i32 bits = integer_get(stack_arg(1));
    if (bits < 0) bits = 0;
    i32 r;
    if (given(refs, 0)) {
        r = bits > 31 ? 0 : static_cast<i32>(static_cast<u32>(data) << bits);
    } else if (given(refs, 1)) {
        r = bits > 31 ? 0 : static_cast<i32>(static_cast<u32>(data) >> bits);
    } else {
        r = bits > 31 ? (data < 0 ? -1 : 0) : (data >> bits);
    }
    integer_box(stack_result(), r);
}

// to-hex value /size length
void native_to_hex(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_TO_HEX, refs);
    i32 value = integer_get(stack_arg(0));
    i32 keep = 8;
    if (given(refs, 0)) {
        const ValueCell* length = stack_arg(static_cast<u32>(refs[0]));
        keep = integer_get(length);
        if (keep <= 0) fire(Err::script_invalid_arg, length);
        if (keep > 8) keep = 8;
    }
    char digits[9];
    std::memcpy(digits, string_int_to_hex(value, true), 8);
    digits[8] = '\0';
    issue_make_at(digits + 8 - keep, stack_result());
}

// ---- trigonometry -----------------------------------------------------------------------

void native_sine(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_SINE, refs);
    double r = std::sin(trig_arg(given(refs, 0), ANGLE_FOLD_SINE));
    if (std::fabs(r) < NUM_EPSILON) r = 0.0;
    float_make_at(stack_result(), r);
}

void native_cosine(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_COSINE, refs);
    double r = std::cos(trig_arg(given(refs, 0), ANGLE_FOLD_COSINE));
    if (std::fabs(r) < NUM_EPSILON) r = 0.0;
    float_make_at(stack_result(), r);
}

void native_tangent(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_TANGENT, refs);
    double x = trig_arg(given(refs, 0), ANGLE_FOLD_TANGENT);
    double r;
    if (x == NUM_PI / 2.0) r = HUGE_VAL;
    else if (x == -NUM_PI / 2.0) r = -HUGE_VAL;
    else r = std::tan(x);
    float_make_at(stack_result(), r);
}

void native_arcsine(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ARCSINE, refs);
    float_make_at(stack_result(), arc_trig(given(refs, 0), 2));
}

void native_arccosine(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ARCCOSINE, refs);
    float_make_at(stack_result(), arc_trig(given(refs, 0), 1));
}

void native_arctangent(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ARCTANGENT, refs);
    float_make_at(stack_result(), arc_trig(given(refs, 0), 0));
}

// arctangent2 y x /radians
void native_arctangent2(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ARCTANGENT2, refs);
    double y = number_to_float(stack_arg(0));
    double x = number_to_float(stack_arg(1));
    double r = std::atan2(y, x);
    if (!given(refs, 0)) r = r * 180.0 / NUM_PI;
    float_make_at(stack_result(), r);
}

// ---- tests --------------------------------------------------------------------------------

void native_nan_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_NAN_Q, refs);
    const ValueCell* v = stack_arg(0);
    bool nan = v->type() != TYPE_INTEGER && std::isnan(v->get_float());
    logic_box(stack_result(), nan);
}

void native_zero_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ZERO_Q, refs);
    ValueCell* v = stack_arg(0);
    bool zero;
    switch (v->type()) {
        case TYPE_MONEY: zero = money_zero_q(v); break;
        case TYPE_CHAR:
        case TYPE_INTEGER: zero = integer_get(v) == 0; break;
        case TYPE_TIME:
        case TYPE_PERCENT:
        case TYPE_FLOAT: zero = v->get_float() == 0.0; break;
        case TYPE_PAIR: zero = pair_x(v) == 0 && pair_y(v) == 0; break;
        case TYPE_POINT2D: zero = point_x(v) == 0.0f && point_y(v) == 0.0f; break;
        case TYPE_POINT3D:
            zero = point_x(v) == 0.0f && point_y(v) == 0.0f && point_z(v) == 0.0f;
            break;
        case TYPE_TUPLE: zero = tuple_zero_q(v); break;
        default:
            number_fire_expect_arg(v->type(), 0);
    }
    logic_box(stack_result(), zero);
}

// ---- logarithms and powers -----------------------------------------------------------------

void native_log_2(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_LOG_2, refs);
    float_make_at(stack_result(), std::log(math_arg_to_float()) / NUM_LN2);
}

void native_log_10(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_LOG_10, refs);
    float_make_at(stack_result(), std::log10(math_arg_to_float()));
}

void native_log_e(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_LOG_E, refs);
    float_make_at(stack_result(), std::log(math_arg_to_float()));
}

void native_exp(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_EXP, refs);
    float_make_at(stack_result(), std::pow(NUM_E, math_arg_to_float()));
}

void native_square_root(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_SQUARE_ROOT, refs);
    float_make_at(stack_result(), std::sqrt(math_arg_to_float()));
}

}  // namespace

void natives_math_init(NativeEntry* slots) {
    slots[NAT_NEGATIVE_Q - 1] = native_negative_q;
    slots[NAT_POSITIVE_Q - 1] = native_positive_q;
    slots[NAT_SIGN_Q - 1] = native_sign_q;
    slots[NAT_MAX - 1] = native_max;
    slots[NAT_MIN - 1] = native_min;
    slots[NAT_SHIFT - 1] = native_shift;
    slots[NAT_TO_HEX - 1] = native_to_hex;
    slots[NAT_SINE - 1] = native_sine;
    slots[NAT_COSINE - 1] = native_cosine;
    slots[NAT_TANGENT - 1] = native_tangent;
    slots[NAT_ARCSINE - 1] = native_arcsine;
    slots[NAT_ARCCOSINE - 1] = native_arccosine;
    slots[NAT_ARCTANGENT - 1] = native_arctangent;
    slots[NAT_ARCTANGENT2 - 1] = native_arctangent2;
    slots[NAT_NAN_Q - 1] = native_nan_q;
    slots[NAT_ZERO_Q - 1] = native_zero_q;
    slots[NAT_LOG_2 - 1] = native_log_2;
    slots[NAT_LOG_10 - 1] = native_log_10;
    slots[NAT_LOG_E - 1] = native_log_e;
    slots[NAT_EXP - 1] = native_exp;
    slots[NAT_SQUARE_ROOT - 1] = native_square_root;
}

}  // namespace zan

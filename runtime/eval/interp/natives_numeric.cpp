// Numeric support of the natives: conversions of number cells, angle
// folding for the trigonometric natives, the inverse trigonometric body and
// the component-wise engine of max and min.
#include "runtime/eval/interp/natives_numeric.h"

#include <algorithm>
#include <cmath>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/tuple.h"

namespace zan {

namespace {

bool is_int_or_float(u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }
bool is_number(u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }
bool is_nan_float(const ValueCell* c) {
    return (c->type() == TYPE_FLOAT || c->type() == TYPE_PERCENT) && std::isnan(c->get_float());
}

i32 pick_int(i32 a, i32 b, bool is_max) { return is_max ? std::max(a, b) : std::min(a, b); }

// A NaN component wins, as a NaN operand wins for plain numbers.
float pick_coord(float a, float b, bool is_max) {
    if (std::isnan(a)) return a;
    if (std::isnan(b)) return b;
    return is_max ? (a < b ? b : a) : (b < a ? b : a);
}

// The pair! against an integer!/float! (applied to both parts) or a pair!.
bool maxmin_pair(ValueCell* v1, const ValueCell* v2, bool is_max) {
    i32 x2, y2;
    if (v2->type() == TYPE_PAIR) {
        x2 = pair_x(v2);
        y2 = pair_y(v2);
    } else if (is_int_or_float(v2->type())) {
        x2 = y2 = number_to_int(v2);
    } else {
        return false;
    }
    pair_make_at(v1, pick_int(pair_x(v1), x2, is_max), pick_int(pair_y(v1), y2, is_max));
    return true;
}

// point2D! (2 coordinates) or point3D! (3) against a number or a point of
// the same kind, in 32-bit float arithmetic.
bool maxmin_point(ValueCell* v1, const ValueCell* v2, bool is_max, u32 n) {
    float other[3];
    if (v2->type() == v1->type()) {
        other[0] = point_x(v2);
        other[1] = point_y(v2);
        other[2] = n == 3 ? point_z(v2) : 0.0f;
    } else if (is_int_or_float(v2->type())) {
        float f = float_to_f32(number_to_float(v2));
        other[0] = other[1] = other[2] = f;
    } else {
        return false;
    }
    float x = pick_coord(point_x(v1), other[0], is_max);
    float y = pick_coord(point_y(v1), other[1], is_max);
    if (n == 3) point3d_make_at(v1, x, y, pick_coord(point_z(v1), other[2], is_max));
    else point2d_make_at(v1, x, y);
    return true;
}

// tuple! against a number (every byte against it, the number kept within
// 0..255) or another tuple! (missing bytes count as 0; the result takes the
// longer size).
bool maxmin_tuple(ValueCell* v1, const ValueCell* v2, bool is_max) {
    u32 n1 = tuple_size(v1);
    u8 bytes[TUPLE_MAX];
    u32 n = n1;
    if (v2->type() == TYPE_TUPLE) {
        u32 n2 = tuple_size(v2);
        n = std::max(n1, n2);
        for (u32 i = 1; i <= n; ++i) {
            i32 a = i <= n1 ? static_cast<i32>(tuple_byte(v1, i)) : 0;
            i32 b = i <= n2 ? static_cast<i32>(tuple_byte(v2, i)) : 0;
            bytes[i - 1] = static_cast<u8>(pick_int(a, b, is_max));
        }
    } else if (is_int_or_float(v2->type())) {
        i32 k = std::clamp(number_to_int(v2), 0, 255);
        for (u32 i = 1; i <= n1; ++i)
            bytes[i - 1] = static_cast<u8>(pick_int(static_cast<i32>(tuple_byte(v1, i)), k, is_max));
    } else {
        return false;
    }
    tuple_make_at(v1, bytes, n);
    return true;
}

}  // namespace

i32 number_to_int(const ValueCell* cell) {
    if (cell->type() == TYPE_INTEGER) return integer_get(cell);
    double d = cell->get_float();
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0)
        number_fire_type(Err::script_type_limit, TYPE_INTEGER);
    return static_cast<i32>(d);
}

double number_to_float(const ValueCell* cell) {
    if (cell->type() == TYPE_INTEGER) return static_cast<double>(integer_get(cell));
    return cell->get_float();
}

double math_arg_to_float() {
    ValueCell* arg = stack_arg(0);
    switch (arg->type()) {
        case TYPE_INTEGER: float_make_at(arg, static_cast<double>(integer_get(arg))); break;
        case TYPE_PERCENT: arg->set_type(TYPE_FLOAT); break;
        default: break;
    }
    return arg->get_float();
}

double degree_to_radians(double x, i32 mode) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x += x < 0.0 ? 360.0 : -360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == ANGLE_FOLD_TANGENT) x += x < 0.0 ? 180.0 : -180.0;
        else if (mode == ANGLE_FOLD_SINE) x = x < 0.0 ? -180.0 - x : 180.0 - x;
    }
    return x * NUM_PI / 180.0;
}

double trig_arg(bool radians, i32 mode) {
    double x = math_arg_to_float();
    return radians ? x : degree_to_radians(x, mode);
}

double arc_trig(bool radians, i32 kind) {
    double x = math_arg_to_float();
    double r;
    switch (kind) {
        case 0: r = std::atan(x); break;
        case 1: r = std::acos(x); break;
        case 2: r = std::asin(x); break;
        default: runtime_fatal(101, "unexpected case in arc_trig");
    }
    return radians ? r : r * 180.0 / NUM_PI;
}

void maxmin_values(bool is_max) {
    ValueCell* v1 = stack_arg(0);
    ValueCell* v2 = stack_arg(1);
    u32 t1 = v1->type();
    u32 t2 = v2->type();

    // A NaN operand against a plain number wins.
    if (is_nan_float(v1) && is_number(t2)) return;
    if (is_nan_float(v2) && is_number(t1)) {
        *v1 = *v2;
        return;
    }

    // Composite value first.
    if ((t2 == TYPE_PAIR || t2 == TYPE_POINT2D || t2 == TYPE_POINT3D || t2 == TYPE_TUPLE) &&
        is_int_or_float(t1)) {
        std::swap(*v1, *v2);
        std::swap(t1, t2);
    }

    bool done = false;
    switch (t1) {
        case TYPE_PAIR: done = maxmin_pair(v1, v2, is_max); break;
        case TYPE_POINT2D: done = maxmin_point(v1, v2, is_max, 2); break;
        case TYPE_POINT3D: done = maxmin_point(v1, v2, is_max, 3); break;
        case TYPE_TUPLE: done = maxmin_tuple(v1, v2, is_max); break;
        default: break;
    }
    if (done) return;

    // Everything else: the datatypes' comparison picks one value unchanged.
    bool take_second = action_compare(v1, v2, is_max ? CMP_LESSER : CMP_GREATER);
    if (take_second) *v1 = *v2;
}

}  // namespace zan

// point2D! and point3D!: one implementation over the number of
// components, instantiated for both types.
#include "runtime/datatypes/point.h"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/dtoa.h"
#include "runtime/core/murmur.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/pair.h"
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

namespace {

template <int N>
constexpr u32 kType = N == 2 ? TYPE_POINT2D : TYPE_POINT3D;

float comp(const ValueCell* c, int i) {
    return std::bit_cast<float>(point_bits(c, static_cast<u32>(i)));
}
void set_comp(ValueCell* c, int i, float f) {
    set_point_bits(c, static_cast<u32>(i), std::bit_cast<u32>(f));
}

template <int N>
ValueCell* make_at(ValueCell* cell, const float (&v)[N]) {
    u32 nl = cell->header & CELL_NEW_LINE;
    cell_init(cell, kType<N>);
    cell->header |= nl;
    for (int i = 0; i < N; i++) set_comp(cell, i, v[i]);
    return cell;
}

template <int N>
void comps_of(const ValueCell* c, float (&v)[N]) {
    for (int i = 0; i < N; i++) v[i] = comp(c, i);
}

float scalar_value(const ValueCell* c) {
    if (c->type() == TYPE_INTEGER) return static_cast<float>(integer_get(c));
    return float_to_f32(c->get_float());
}

bool number_cell(const ValueCell* c) {
    return c->type() == TYPE_INTEGER || c->type() == TYPE_FLOAT;
}

u32 field_symbol(int i) { return i == 0 ? g_sym.x : i == 1 ? g_sym.y : g_sym.z; }

// The component number (1..N) of a word, else -1.
template <int N>
i32 word_field(const ValueCell* word) {
    for (int i = 0; i < N; i++)
        if (scalar_word_is(word, field_symbol(i))) return i + 1;
    return -1;
}

template <int N>
i32 field_index(const ValueCell* word, const ValueCell* where) {
    i32 f = word_field<N>(word);
    if (f > 0) return f;
    if (where && where->type() == kType<N>) fire(Err::script_cannot_use, word, where);
    fire(Err::script_invalid_path, where ? where : word, word);
}

// ---- arithmetic -----------------------------------------------------------------------

template <int N>
void math_op(i32 op) {
    ValueCell* p = stack_arg(0);
    ValueCell* o = stack_arg(1);
    double r[3] = {0.0, 0.0, 0.0};
    u32 ot = o->type();
    if (ot == kType<N>) {
        for (int i = 0; i < N; i++) r[i] = comp(o, i);
    } else if (ot == TYPE_PAIR && N == 2) {
        r[0] = static_cast<double>(pair_x(o));
        r[1] = static_cast<double>(pair_y(o));
    } else if (ot == TYPE_INTEGER) {
        for (int i = 0; i < N; i++) r[i] = static_cast<double>(integer_get(o));
    } else if (ot == TYPE_FLOAT || ot == TYPE_PERCENT) {
        double f = float_to_f32(o->get_float());
        for (int i = 0; i < N; i++) r[i] = f;
    } else {
        number_fire_type(Err::script_invalid_type, ot);
    }
    float out[N];
    for (int i = 0; i < N; i++)
        out[i] = float_to_f32(float_do_math(static_cast<double>(comp(p, i)), r[i], op));
    for (int i = 0; i < N; i++) set_comp(p, i, out[i]);
}

// ---- make and to ----------------------------------------------------------------------

template <int N>
ValueCell* make(ValueCell* spec) {
    u32 t = spec->type();
    float v[N] = {};
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_FLOAT:
            for (int i = 0; i < N; i++) v[i] = scalar_value(spec);
            break;
        case TYPE_BLOCK: {
            if (block_length(spec) < N) fire(Err::syntax_malconstruct, spec);
            ValueCell* e = block_head_ptr(spec);
            for (int i = 0; i < N; i++) {
                if (!number_cell(&e[i])) fire(Err::syntax_malconstruct, spec);
                v[i] = scalar_value(&e[i]);
            }
            break;
        }
        case TYPE_PAIR:
            v[0] = static_cast<float>(pair_x(spec));
            v[1] = static_cast<float>(pair_y(spec));
            break;
        case TYPE_POINT2D:
            if (N == 2) return stack_push(spec);
            v[0] = point_x(spec);
            v[1] = point_y(spec);
            break;
        case TYPE_POINT3D:
            if (N == 3) return stack_push(spec);
            number_fire_bad_to_arg(kType<N>, spec);
        case TYPE_STRING: {
            ValueCell* scanned = unset_push();
            rt_scan_string_value(spec, scanned);
            if (scanned->type() != kType<N>) number_fire_bad_to_arg(kType<N>, spec);
            return scanned;
        }
        default:
            number_fire_bad_to_arg(kType<N>, spec);
    }
    ValueCell* r = stack_push_cell();
    cell_init(r, kType<N>);
    return make_at<N>(r, v);
}

// ---- compare ---------------------------------------------------------------------------

template <int N>
i32 compare(ValueCell* value1, ValueCell* value2, i32 op) {
    ValueCell other = *value2;
    if (N == 2 && other.type() == TYPE_PAIR)
        point2d_make_at(&other, static_cast<float>(pair_x(value2)), static_cast<float>(pair_y(value2)));
    if (other.type() != kType<N>) return CMP_NOT_COMPARABLE;
    float a[N], b[N];
    comps_of<N>(value1, a);
    comps_of<N>(&other, b);
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL:
        case CMP_WORD_EXACT:
        case CMP_WORD_FOLDED:
        case CMP_FIND:
            for (int i = 0; i < N; i++)
                if (!float32_almost_equal(a[i], b[i])) return 1;
            return 0;
        case CMP_STRICT_EQUAL:
            for (int i = 0; i < N; i++)
                if (!(a[i] == b[i])) return 1;
            return 0;
        case CMP_SAME:
            for (int i = 0; i < N; i++)
                if (std::bit_cast<u32>(a[i]) != std::bit_cast<u32>(b[i])) return 1;
            return 0;
        default: {
            float d = 0.0f;
            for (int i = 0; i < N; i++) {
                d = a[i] - b[i];
                if (!float32_almost_equal(d, 0.0f)) break;
            }
            return d < 0 ? -1 : d > 0 ? 1 : 0;
        }
    }
}

// ---- round -----------------------------------------------------------------------------

template <int N>
void round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
           bool floor, bool ceiling, bool half_ceiling) {
    ValueCell orig = *value;
    if (scale && scale->type() == TYPE_MONEY)
        number_fire_not_related(stack_calling_word(), TYPE_MONEY);
    // One scale cell per component: a point or pair scale is used
    // component-wise, anything else serves every component.
    ValueCell scales[3];
    bool per_component = false;
    if (scale) {
        u32 st = scale->type();
        if (st == TYPE_PAIR && N == 2) {
            integer_box(&scales[0], pair_x(scale));
            integer_box(&scales[1], pair_y(scale));
            per_component = true;
        } else if (st == TYPE_POINT2D || st == TYPE_POINT3D) {
            for (int i = 0; i < N; i++) {
                double s = (i == 2 && st == TYPE_POINT2D) ? 0.0 : comp(scale, i);
                float_make_at(&scales[i], s);
            }
            per_component = true;
        }
    }
    float out[N];
    for (int i = 0; i < N; i++) {
        ValueCell* c = float_push(comp(&orig, i));
        ValueCell* s = nullptr;
        if (scale) s = per_component ? stack_push(&scales[i]) : stack_push(scale);
        float_round(c, s, even, down, half_down, floor, ceiling, half_ceiling);
        ValueCell* r = stack_result();
        out[i] = r->type() == TYPE_INTEGER ? static_cast<float>(integer_get(r))
                                           : float_to_f32(r->get_float());
        stack_pop(s ? 2 : 1);
    }
    ValueCell* r = stack_result();
    *r = orig;
    make_at<N>(r, out);
}

// ---- random ----------------------------------------------------------------------------

template <int N>
void random(ValueCell* value, bool seed, bool secure) {
    if (seed) {
        u32 words[3] = {point_bits(value, 0), point_bits(value, 1), point_bits(value, 2)};
        g_services.random_seed(murmur3_32(words, 4 * N));
        unset_set_result();
        return;
    }
    ValueCell orig = *value;
    float out[N];
    for (int i = 0; i < N; i++) {
        float c = comp(&orig, i);
        out[i] = c == 0.0f ? c : float_to_f32(float_random_up_to(c, secure));
    }
    ValueCell* r = stack_result();
    *r = orig;
    make_at<N>(r, out);
}

// ---- text ------------------------------------------------------------------------------

template <int N>
i32 form(const ValueCell* value, ValueCell* out, i32 limit) {
    std::string s = "(";
    for (int i = 0; i < N; i++) {
        if (i) s += ", ";
        s += float_to_cstr(static_cast<double>(comp(value, i)), FLOAT_TEXT_POINT);
    }
    s += ')';
    string_append_cstr(out, s.c_str());
    return limit - static_cast<i32>(s.size());
}

// ---- path and pick ---------------------------------------------------------------------

template <int N>
i32 selector(const ValueCell* element) {
    if (element->type() == TYPE_INTEGER) {
        i32 n = integer_get(element);
        return n >= 1 && n <= N ? n : -1;
    }
    return word_field<N>(element);
}

template <int N>
ValueCell* eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell* path,
                     ValueCell* holder, ValueCell* holder_item, bool notify) {
    i32 f = selector<N>(element);
    if (f < 0) fire(Err::script_invalid_path, path ? path : element, element);
    if (!value) return float_push(comp(parent, f - 1));
    if (!number_cell(value)) number_fire_type(Err::script_invalid_type, value->type());
    ValueCell old = *parent;
    set_comp(parent, f - 1, scalar_value(value));
    scalar_path_changed(holder, holder_item, &old, parent, notify);
    return value;
}

template <int N>
ValueCell* pick(ValueCell* value, ValueCell* index_cell) {
    if (any_word_type_q(index_cell->type())) {
        i32 f = field_index<N>(index_cell, value);
        return float_push(comp(value, f - 1));
    }
    i32 f = selector<N>(index_cell);
    if (f < 0) fire(Err::script_out_of_range, index_cell);
    return float_push(comp(value, f - 1));
}

}  // namespace

// ---- exported forms ----------------------------------------------------------------------

ValueCell* point2d_make_at(ValueCell* cell, float x, float y) {
    const float v[2] = {x, y};
    return make_at<2>(cell, v);
}
ValueCell* point3d_make_at(ValueCell* cell, float x, float y, float z) {
    const float v[3] = {x, y, z};
    return make_at<3>(cell, v);
}

void point2d_math_op(i32 op) { math_op<2>(op); }
void point3d_math_op(i32 op) { math_op<3>(op); }

ValueCell* point2d_make(ValueCell*, ValueCell* spec, u32) { return make<2>(spec); }
ValueCell* point3d_make(ValueCell*, ValueCell* spec, u32) { return make<3>(spec); }
void point2d_random(ValueCell* value, bool seed, bool secure, bool) {
    random<2>(value, seed, secure);
}
void point3d_random(ValueCell* value, bool seed, bool secure, bool) {
    random<3>(value, seed, secure);
}
i32 point2d_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return form<2>(value, out, limit);
}
i32 point3d_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return form<3>(value, out, limit);
}
i32 point2d_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    return form<2>(value, out, limit);
}
i32 point3d_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    return form<3>(value, out, limit);
}
ValueCell* point2d_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                             ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32,
                             bool, bool, bool, bool notify) {
    return eval_path<2>(parent, element, value, path, holder, holder_item, notify);
}
ValueCell* point3d_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                             ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32,
                             bool, bool, bool, bool notify) {
    return eval_path<3>(parent, element, value, path, holder, holder_item, notify);
}
i32 point2d_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    return compare<2>(value1, value2, op);
}
i32 point3d_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    return compare<3>(value1, value2, op);
}

namespace {
template <int N>
void absolute_in_place(ValueCell* v) {
    for (int i = 0; i < N; i++) set_comp(v, i, std::fabs(comp(v, i)));
}
template <int N>
void negate_into_result(ValueCell* value) {
    ValueCell r = *value;
    for (int i = 0; i < N; i++) set_comp(&r, i, 0.0f - comp(value, i));
    *stack_result() = r;
}
}  // namespace

void point2d_absolute() { absolute_in_place<2>(stack_arg(0)); }
void point3d_absolute() { absolute_in_place<3>(stack_arg(0)); }
void point2d_negate(ValueCell* value) { negate_into_result<2>(value); }
void point3d_negate(ValueCell* value) { negate_into_result<3>(value); }
void point2d_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling) {
    round<2>(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
void point3d_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling) {
    round<3>(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
}
void point2d_reverse(ValueCell* value, ValueCell*, ValueCell*) {
    swap_point_bits(value, 0, 1);
}
void point3d_reverse(ValueCell* value, ValueCell*, ValueCell*) {
    swap_point_bits(value, 0, 2);
}
ValueCell* point2d_pick(ValueCell* value, i32, ValueCell* index_cell) {
    return pick<2>(value, index_cell);
}
ValueCell* point3d_pick(ValueCell* value, i32, ValueCell* index_cell) {
    return pick<3>(value, index_cell);
}

namespace {
void point2d_add() { point2d_math_op(MATH_ADD); }
void point2d_subtract() { point2d_math_op(MATH_SUBTRACT); }
void point2d_multiply() { point2d_math_op(MATH_MULTIPLY); }
void point2d_divide() { point2d_math_op(MATH_DIVIDE); }
void point2d_remainder() { point2d_math_op(MATH_REMAINDER); }
void point3d_add() { point3d_math_op(MATH_ADD); }
void point3d_subtract() { point3d_math_op(MATH_SUBTRACT); }
void point3d_multiply() { point3d_math_op(MATH_MULTIPLY); }
void point3d_divide() { point3d_math_op(MATH_DIVIDE); }
void point3d_remainder() { point3d_math_op(MATH_REMAINDER); }
}  // namespace

void point2d_init() {
    ActionRow row;
    row.set<ACT_MAKE>(point2d_make)
        .set<ACT_TO>(point2d_make)
        .set<ACT_RANDOM>(point2d_random)
        .set<ACT_FORM>(point2d_form)
        .set<ACT_MOLD>(point2d_mold)
        .set<ACT_EVAL_PATH>(point2d_eval_path)
        .set<ACT_COMPARE>(point2d_compare)
        .set<ACT_ABSOLUTE>(point2d_absolute)
        .set<ACT_NEGATE>(point2d_negate)
        .set<ACT_ROUND>(point2d_round)
        .set<ACT_REVERSE>(point2d_reverse)
        .set<ACT_ADD>(point2d_add)
        .set<ACT_SUBTRACT>(point2d_subtract)
        .set<ACT_MULTIPLY>(point2d_multiply)
        .set<ACT_DIVIDE>(point2d_divide)
        .set<ACT_REMAINDER>(point2d_remainder)
        .set<ACT_PICK>(point2d_pick);
    datatype_register(TYPE_POINT2D, row);
}

void point3d_init() {
    ActionRow row;
    row.set<ACT_MAKE>(point3d_make)
        .set<ACT_TO>(point3d_make)
        .set<ACT_RANDOM>(point3d_random)
        .set<ACT_FORM>(point3d_form)
        .set<ACT_MOLD>(point3d_mold)
        .set<ACT_EVAL_PATH>(point3d_eval_path)
        .set<ACT_COMPARE>(point3d_compare)
        .set<ACT_ABSOLUTE>(point3d_absolute)
        .set<ACT_NEGATE>(point3d_negate)
        .set<ACT_ROUND>(point3d_round)
        .set<ACT_REVERSE>(point3d_reverse)
        .set<ACT_ADD>(point3d_add)
        .set<ACT_SUBTRACT>(point3d_subtract)
        .set<ACT_MULTIPLY>(point3d_multiply)
        .set<ACT_DIVIDE>(point3d_divide)
        .set<ACT_REMAINDER>(point3d_remainder)
        .set<ACT_PICK>(point3d_pick);
    datatype_register(TYPE_POINT3D, row);
}

}  // namespace zan

// tuple!: bytes kept in the cell, clamped arithmetic, comparison, byte
// access and the dotted text form.
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
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

void bytes_of(const ValueCell* t, u8 (&b)[TUPLE_MAX]) { std::memcpy(b, payload_bytes(t), TUPLE_MAX); }

// Writes the bytes and the size; bytes past the size are cleared.
void put_bytes(ValueCell* t, const u8* b, u32 n) {
    u8 all[TUPLE_MAX] = {};
    if (n > TUPLE_MAX) n = TUPLE_MAX;
    std::memcpy(all, b, n);
    if (n < TUPLE_MIN) n = TUPLE_MIN;
    std::memcpy(payload_bytes(t), all, TUPLE_MAX);
    t->header = (t->header & ~TUPLE_SIZE_MASK) | (n << TUPLE_SIZE_SHIFT);
}

u8 clamp_byte(i64 v) { return static_cast<u8>(v < 0 ? 0 : v > 255 ? 255 : v); }

u8 clamp_byte(double d) {
    if (std::isnan(d) || d <= 0.0) return 0;
    if (d >= 255.0) return 255;
    return static_cast<u8>(d);
}

}  // namespace

u32 tuple_byte(const ValueCell* t, u32 n) {
    u8 b[TUPLE_MAX];
    bytes_of(t, b);
    return n >= 1 && n <= TUPLE_MAX ? b[n - 1] : 0;
}

// ---- cells ---------------------------------------------------------------------------

ValueCell* tuple_make_at(ValueCell* cell, const u8* bytes, u32 n) {
    u32 nl = cell->header & CELL_NEW_LINE;
    cell_init(cell, TYPE_TUPLE);
    cell->header |= nl;
    put_bytes(cell, bytes, n);
    return cell;
}

ValueCell* tuple_make_rgba(ValueCell* cell, i32 r, i32 g, i32 b, i32 a) {
    u8 v[4] = {static_cast<u8>(r & 0xFF), static_cast<u8>(g & 0xFF), static_cast<u8>(b & 0xFF),
               static_cast<u8>(a & 0xFF)};
    return tuple_make_at(cell, v, a == -1 ? 3 : 4);
}

ValueCell* tuple_from_binary(const ValueCell* binary, ValueCell* cell) {
    SeriesBuffer* buf = series_buffer(binary);
    i32 total = static_cast<i32>(buf->used_bytes());
    i32 idx = series_index(binary);
    if (idx < 0) idx = 0;
    if (idx > total) idx = total;
    u32 n = static_cast<u32>(std::min(total - idx, static_cast<i32>(TUPLE_MAX)));
    u8 b[TUPLE_MAX] = {};
    std::memcpy(b, buf->head_ptr() + idx, n);
    cell_init(cell, TYPE_TUPLE);
    return tuple_make_at(cell, b, n);
}

ValueCell* tuple_from_hex(const ValueCell* issue, ValueCell* cell) {
    const char* name = symbol_to_cstr(word_symbol(issue));
    size_t n = std::strlen(name);
    u8 digits[8];
    if (n != 3 && n != 6 && n != 8) fire(Err::script_invalid_data, issue);
    for (size_t i = 0; i < n; i++) {
        // Only ASCII hexadecimal digits: other characters are refused,
        // never folded onto a digit.
        u8 c = static_cast<u8>(name[i]);
        if (c >= '0' && c <= '9') digits[i] = static_cast<u8>(c - '0');
        else if (c >= 'a' && c <= 'f') digits[i] = static_cast<u8>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digits[i] = static_cast<u8>(c - 'A' + 10);
        else fire(Err::script_invalid_data, issue);
    }
    u8 b[4];
    u32 count;
    if (n == 3) {
        for (int i = 0; i < 3; i++) b[i] = static_cast<u8>(digits[i] * 17);
        count = 3;
    } else {
        count = static_cast<u32>(n / 2);
        for (u32 i = 0; i < count; i++) b[i] = static_cast<u8>(digits[2 * i] * 16 + digits[2 * i + 1]);
    }
    cell_init(cell, TYPE_TUPLE);
    return tuple_make_at(cell, b, count);
}

void tuple_set_byte(ValueCell* tuple, const ValueCell* index, const ValueCell* value) {
    u32 size = tuple_size(tuple);
    if (index->type() != TYPE_INTEGER) number_fire_type(Err::script_invalid_type, index->type());
    i32 i = integer_get(index);
    if (i < 1 || static_cast<u32>(i) > size) fire(Err::script_out_of_range, index);
    u8 b[TUPLE_MAX];
    bytes_of(tuple, b);
    if (value->type() == TYPE_INTEGER) {
        b[i - 1] = clamp_byte(static_cast<i64>(integer_get(value)));
        put_bytes(tuple, b, size);
    } else if (value->type() == TYPE_NONE) {
        for (u32 k = static_cast<u32>(i) - 1; k < size; k++) b[k] = 0;
        put_bytes(tuple, b, static_cast<u32>(i) - 1);
    } else {
        number_fire_type(Err::script_invalid_type, value->type());
    }
}

bool tuple_zero_q(const ValueCell* tuple) {
    u8 b[TUPLE_MAX];
    bytes_of(tuple, b);
    for (u32 i = 0; i < tuple_size(tuple); i++)
        if (b[i]) return false;
    return true;
}

// ---- arithmetic ----------------------------------------------------------------------

namespace {

// One byte with an integer, computed in 64 bits and then clamped (so a
// result beyond 32 bits counts as 255 when positive and 0 otherwise).
u8 byte_math(i64 a, i64 b, i32 op) {
    switch (op) {
        case MATH_ADD: return clamp_byte(a + b);
        case MATH_SUBTRACT: return clamp_byte(a - b);
        case MATH_MULTIPLY: return clamp_byte(a * b);
        case MATH_DIVIDE:
            if (b == 0) fire(Err::math_zero_divide);
            return clamp_byte(a / b);
        case MATH_REMAINDER:
            if (b == 0) fire(Err::math_zero_divide);
            return clamp_byte(a % b);
        case MATH_OR: return clamp_byte(static_cast<i64>(static_cast<i32>(a) | static_cast<i32>(b)));
        case MATH_AND: return clamp_byte(static_cast<i64>(static_cast<i32>(a) & static_cast<i32>(b)));
        case MATH_XOR: return clamp_byte(static_cast<i64>(static_cast<i32>(a) ^ static_cast<i32>(b)));
        default: runtime_fatal(101, "tuple arithmetic: unknown operation");
    }
}

}  // namespace

void tuple_math_op(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    if (left->type() != TYPE_TUPLE) {
        // A number on the left: only the operations whose order does not
        // matter can be computed with the tuple first.
        u32 lt = left->type();
        if (op == MATH_SUBTRACT || op == MATH_DIVIDE || op == MATH_REMAINDER)
            number_fire_not_related(number_op_word(op), lt);
        if (lt != TYPE_INTEGER && lt != TYPE_FLOAT && lt != TYPE_PERCENT)
            number_fire_type(Err::script_invalid_type, lt);
        ValueCell t = *left;
        *left = *right;
        *right = t;
    }
    u8 a[TUPLE_MAX];
    bytes_of(left, a);
    u32 n = tuple_size(left);
    u8 r[TUPLE_MAX] = {};
    switch (right->type()) {
        case TYPE_TUPLE: {
            u8 b[TUPLE_MAX];
            bytes_of(right, b);
            n = std::max(n, tuple_size(right));
            for (u32 i = 0; i < n; i++) r[i] = byte_math(a[i], b[i], op);
            break;
        }
        case TYPE_INTEGER: {
            i64 k = integer_get(right);
            for (u32 i = 0; i < n; i++) r[i] = byte_math(a[i], k, op);
            break;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double f = right->get_float();
            for (u32 i = 0; i < n; i++) r[i] = clamp_byte(float_do_math(a[i], f, op));
            break;
        }
        default:
            number_fire_type(Err::script_invalid_type, right->type());
    }
    put_bytes(left, r, n);
}

namespace {
void tuple_add() { tuple_math_op(MATH_ADD); }
void tuple_subtract() { tuple_math_op(MATH_SUBTRACT); }
void tuple_multiply() { tuple_math_op(MATH_MULTIPLY); }
void tuple_divide() { tuple_math_op(MATH_DIVIDE); }
void tuple_remainder() { tuple_math_op(MATH_REMAINDER); }
void tuple_or_t() { tuple_math_op(MATH_OR); }
void tuple_and_t() { tuple_math_op(MATH_AND); }
void tuple_xor_t() { tuple_math_op(MATH_XOR); }
}  // namespace

// ---- make and to ---------------------------------------------------------------------

namespace {

bool byte_of_value(const ValueCell* v, u8* out) {
    switch (v->type()) {
        case TYPE_INTEGER: {
            i32 n = integer_get(v);
            if (n < 0 || n > 255) return false;
            *out = static_cast<u8>(n);
            return true;
        }
        case TYPE_CHAR: {
            u32 cp = char_get(v);
            if (cp > 255) return false;
            *out = static_cast<u8>(cp);
            return true;
        }
        case TYPE_FLOAT: {
            double d = std::trunc(v->get_float());
            if (!(d >= 0.0 && d <= 255.0)) return false;
            *out = static_cast<u8>(d);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

ValueCell* tuple_to(ValueCell*, ValueCell* spec, u32) {
    u32 t = spec->type();
    switch (t) {
        case TYPE_TUPLE:
            return stack_push(spec);
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH: {
            i32 n = block_length(spec);
            if (n > static_cast<i32>(TUPLE_MAX)) number_fire_bad_to_arg(TYPE_TUPLE, spec);
            u8 b[TUPLE_MAX] = {};
            ValueCell* v = block_head_ptr(spec);
            for (i32 i = 0; i < n; i++)
                if (!byte_of_value(&v[i], &b[i])) number_fire_bad_to_arg(TYPE_TUPLE, spec);
            ValueCell* c = stack_push_cell();
            cell_init(c, TYPE_TUPLE);
            return tuple_make_at(c, b, static_cast<u32>(n));
        }
        case TYPE_BINARY:
            return tuple_from_binary(spec, stack_push_cell());
        case TYPE_ISSUE:
            return tuple_from_hex(spec, stack_push_cell());
        default:
            if (type_string_like(t)) {
                ValueCell* scanned = unset_push();
                rt_scan_string_value(spec, scanned);
                if (scanned->type() != TYPE_TUPLE) number_fire_bad_to_arg(TYPE_TUPLE, spec);
                return scanned;
            }
            number_fire_bad_to_arg(TYPE_TUPLE, spec);
    }
}

ValueCell* tuple_make(ValueCell* proto, ValueCell* spec, u32 type) {
    return tuple_to(proto, spec, type);
}

// ---- random, text, compare -----------------------------------------------------------

void tuple_random(ValueCell* value, bool seed, bool secure, bool) {
    if (seed) {
        g_services.random_seed(payload_word(value, 1) ^ payload_word(value, 2) ^ payload_word(value, 3));
        unset_set_result();
        return;
    }
    ValueCell r = *value;
    u8 b[TUPLE_MAX];
    bytes_of(&r, b);
    u32 n = tuple_size(&r);
    for (u32 i = 0; i < n; i++) {
        b[i] = static_cast<u8>(g_services.random_int(b[i] + 1, secure) - 1);
    }
    put_bytes(&r, b, n);
    *stack_result() = r;
}

i32 tuple_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    u8 b[TUPLE_MAX];
    bytes_of(value, b);
    std::string s;
    for (u32 i = 0; i < tuple_size(value); i++) {
        if (i) s += '.';
        s += std::to_string(b[i]);
    }
    string_append_cstr(out, s.c_str());
    return limit - static_cast<i32>(s.size());
}

i32 tuple_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
               i32 limit, i32) {
    return tuple_form(value, out, arg_limit, limit);
}

i32 tuple_compare(ValueCell* value1, ValueCell* value2, i32) {
    if (value2->type() != TYPE_TUPLE) return CMP_NOT_COMPARABLE;
    u8 a[TUPLE_MAX], b[TUPLE_MAX];
    bytes_of(value1, a);
    bytes_of(value2, b);
    u32 n = std::max(tuple_size(value1), tuple_size(value2));
    for (u32 i = 0; i < n; i++)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

ValueCell* tuple_complement(ValueCell* value) {
    ValueCell* r = stack_push(value);
    u8 b[TUPLE_MAX];
    bytes_of(r, b);
    u32 n = tuple_size(r);
    for (u32 i = 0; i < n; i++) b[i] = static_cast<u8>(~b[i]);
    put_bytes(r, b, n);
    return r;
}

i32 tuple_length_q(ValueCell* value) { return static_cast<i32>(tuple_size(value)); }

ValueCell* tuple_pick(ValueCell* value, i32, ValueCell* index_cell) {
    if (index_cell->type() != TYPE_INTEGER) fire(Err::script_out_of_range, index_cell);
    i32 i = integer_get(index_cell);
    if (i < 1 || static_cast<u32>(i) > tuple_size(value)) fire(Err::script_out_of_range, index_cell);
    return integer_push(static_cast<i32>(tuple_byte(value, static_cast<u32>(i))));
}

ValueCell* tuple_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell*, ValueCell* holder, ValueCell* holder_item, i32, bool,
                           bool, bool, bool notify) {
    if (element->type() != TYPE_INTEGER) number_fire_type(Err::script_invalid_type, element->type());
    if (!value) return tuple_pick(parent, 0, element);
    ValueCell changed = *parent;
    tuple_set_byte(&changed, element, value);
    ValueCell old = *parent;
    *parent = changed;
    scalar_path_changed(holder, holder_item, &old, parent, notify);
    return value;
}

void tuple_reverse(ValueCell* value, ValueCell* part, ValueCell* skip) {
    u32 size = tuple_size(value);
    i32 n = static_cast<i32>(size);
    if (part) {
        if (part->type() != TYPE_INTEGER) fire(Err::script_invalid_refine_arg, g_refinements.part, part);
        i32 p = integer_get(part);
        if (p < 0) fire(Err::script_out_of_range, part);
        n = std::min(p, n);
    }
    i32 s = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER) fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        s = integer_get(skip);
        if (s <= 0) fire(Err::script_out_of_range, skip);
        if (s > n || n % s != 0) fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
    }
    if (s == n) return;
    u8 b[TUPLE_MAX];
    bytes_of(value, b);
    u8 r[TUPLE_MAX];
    std::memcpy(r, b, TUPLE_MAX);
    i32 groups = n / s;
    for (i32 g = 0; g < groups; g++)
        std::memcpy(r + g * s, b + (groups - 1 - g) * s, static_cast<size_t>(s));
    put_bytes(value, r, size);
}

void tuple_init() {
    ActionRow row;
    row.set<ACT_MAKE>(tuple_make)
        .set<ACT_RANDOM>(tuple_random)
        .set<ACT_TO>(tuple_to)
        .set<ACT_FORM>(tuple_form)
        .set<ACT_MOLD>(tuple_mold)
        .set<ACT_EVAL_PATH>(tuple_eval_path)
        .set<ACT_COMPARE>(tuple_compare)
        .set<ACT_ADD>(tuple_add)
        .set<ACT_SUBTRACT>(tuple_subtract)
        .set<ACT_MULTIPLY>(tuple_multiply)
        .set<ACT_DIVIDE>(tuple_divide)
        .set<ACT_REMAINDER>(tuple_remainder)
        .set<ACT_OR_T>(tuple_or_t)
        .set<ACT_AND_T>(tuple_and_t)
        .set<ACT_XOR_T>(tuple_xor_t)
        .set<ACT_COMPLEMENT>(tuple_complement)
        .set<ACT_LENGTH_Q>(tuple_length_q)
        .set<ACT_PICK>(tuple_pick)
        .set<ACT_REVERSE>(tuple_reverse);
    datatype_register(TYPE_TUPLE, row);
}

}  // namespace zan

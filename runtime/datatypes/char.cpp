// char!: code-point arithmetic, conversions, comparison and the text forms.
#include "runtime/datatypes/char.h"

#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

namespace zan {

ValueCell* char_push(u32 cp) { return char_box(stack_push_cell(), cp); }

void char_math_op(i32 op) {
    ValueCell* left = stack_arg(0);
    ValueCell* right = stack_arg(1);
    i32 n;
    switch (right->type()) {
        case TYPE_CHAR:
        case TYPE_INTEGER:
            n = integer_get(right);
            break;
        case TYPE_FLOAT: {
            double d = right->get_float();
            // A float that no 32-bit integer holds cannot give a code point.
            if (integer_float_overflow_q(d)) fire(Err::math_overflow);
            n = static_cast<i32>(d);
            break;
        }
        case TYPE_VECTOR: {
            // The vector's scalar operation, with the char as the scalar.
            ActionEntry e = number_peer_entry(TYPE_VECTOR, op);
            if (!e) number_fire_type(Err::script_invalid_type, TYPE_VECTOR);
            ValueCell c = *left;
            *left = *right;
            *right = c;
            reinterpret_cast<FrameFn>(e)();
            return;
        }
        default:
            number_fire_type(Err::script_invalid_type, right->type());
    }
    i32 cp = integer_get(left);
    i32 r;
    if (op == MATH_DIVIDE) {
        r = integer_do_math(cp, n, op, nullptr);
    } else {
        ValueCell scratch;
        integer_box(&scratch, 0);
        integer_do_math(cp, n, op, &scratch);
        if (scratch.type() != TYPE_INTEGER) fire(Err::math_overflow);
        r = integer_get(&scratch);
    }
    if (r < 0 || static_cast<u32>(r) > CHAR_MAX_CODE_POINT) fire(Err::math_overflow);
    char_set(left, static_cast<u32>(r));
}

void char_add() { char_math_op(MATH_ADD); }
void char_subtract() { char_math_op(MATH_SUBTRACT); }
void char_multiply() { char_math_op(MATH_MULTIPLY); }
void char_divide() { char_math_op(MATH_DIVIDE); }
void char_remainder() { char_math_op(MATH_REMAINDER); }
void char_or_t() { char_math_op(MATH_OR); }
void char_and_t() { char_math_op(MATH_AND); }
void char_xor_t() { char_math_op(MATH_XOR); }

ValueCell* char_make(ValueCell*, ValueCell* spec, u32) {
    u32 t = spec->type();
    switch (t) {
        case TYPE_CHAR:
        case TYPE_INTEGER: {
            i32 v = integer_get(spec);
            if (v < 0 || static_cast<u32>(v) > CHAR_MAX_CODE_POINT)
                fire(Err::script_out_of_range, spec);
            return char_push(static_cast<u32>(v));
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            double d = spec->get_float();
            if (!(d >= 0.0 && d <= static_cast<double>(CHAR_MAX_CODE_POINT)))
                fire(Err::script_out_of_range, spec);
            return char_push(static_cast<u32>(d));
        }
        case TYPE_BINARY: {
            // The UTF-8 sequence at the head; an empty binary or a sequence
            // the decoder rejects cannot give a character.
            SeriesBuffer* b = series_buffer(spec);
            i32 total = static_cast<i32>(b->used_bytes());
            i32 idx = series_index(spec);
            if (idx < 0 || idx >= total) number_fire_bad_to_arg(TYPE_CHAR, spec);
            const u8* p = b->head_ptr() + idx;
            i32 cp = -1;
            utf8_decode_char(p, b->tail_ptr(), &cp);
            if (cp < 0) number_fire_bad_to_arg(TYPE_CHAR, spec);
            return char_push(static_cast<u32>(cp));
        }
        default:
            if (type_string_like(t)) {
                SeriesBuffer* b = series_buffer(spec);
                u32 unit = b->unit();
                i32 total = static_cast<i32>(b->used_bytes() / unit);
                i32 idx = series_index(spec);
                if (idx < 0 || idx >= total) number_fire_bad_to_arg(TYPE_CHAR, spec);
                return char_push(string_get_char(b->head_ptr() + static_cast<size_t>(idx) * unit, unit));
            }
            number_fire_bad_to_arg(TYPE_CHAR, spec);
    }
}

i32 char_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    string_append_char(out, char_get(value));
    return limit - 1;
}

i32 char_mold(ValueCell* value, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit,
              i32) {
    string_append_cstr(out, "#\"");
    string_mold_char(out, char_get(value), MOLD_STRING_MODE, all);
    string_append_cstr(out, "\"");
    return limit - 4;
}

i32 char_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t2 = value2->type();
    // Strict equality, sameness and key matching need the same datatype.
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && t2 != TYPE_CHAR) return 1;
    if (t2 != TYPE_CHAR && t2 != TYPE_INTEGER) return CMP_NOT_COMPARABLE;
    i32 a = integer_get(value1), b = integer_get(value2);
    return a < b ? -1 : a > b ? 1 : 0;
}

void char_init() {
    ActionRow row;
    row.set<ACT_MAKE>(char_make)
        .set<ACT_TO>(char_make)
        .set<ACT_FORM>(char_form)
        .set<ACT_MOLD>(char_mold)
        .set<ACT_COMPARE>(char_compare)
        .set<ACT_ADD>(char_add)
        .set<ACT_DIVIDE>(char_divide)
        .set<ACT_MULTIPLY>(char_multiply)
        .set<ACT_REMAINDER>(char_remainder)
        .set<ACT_SUBTRACT>(char_subtract)
        .set<ACT_AND_T>(char_and_t)
        .set<ACT_OR_T>(char_or_t)
        .set<ACT_XOR_T>(char_xor_t)
        .inherit({ACT_RANDOM, ACT_ABSOLUTE, ACT_EVEN_Q, ACT_ODD_Q});
    datatype_register(TYPE_CHAR, row);
}

}  // namespace zan

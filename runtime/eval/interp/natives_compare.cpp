// The comparison natives (equal? ... greater-or-equal?), which hand their two
// arguments to the datatypes' shared compare, the identity test behind
// same?, and not and type?.
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/eval/interp/natives_numeric.h"

namespace zan {

bool value_same(const ValueCell* a, const ValueCell* b) {
    u32 t = a->type();
    if (t != b->type()) return false;
    switch (t) {
        case TYPE_DATATYPE:
            return datatype_get(a) == datatype_get(b);
        case TYPE_LOGIC:
            return logic_get(a) == logic_get(b);
        case TYPE_OBJECT:
            return context_of(a) == context_of(b);
        case TYPE_CHAR:
        case TYPE_INTEGER:
            return integer_get(a) == integer_get(b);
        case TYPE_BITSET:
            return series_node(a) == series_node(b);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH:
        case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING:
        case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
            return series_head(a) == series_head(b) && series_node(a) == series_node(b);
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME:
            // Bit for bit: 0.0 and -0.0 differ, a NaN is the same as itself.
            return float_low_word(a) == float_low_word(b) &&
                   float_high_word(a) == float_high_word(b);
        case TYPE_PAIR:
            return pair_x(a) == pair_x(b) && pair_y(a) == pair_y(b);
        case TYPE_TUPLE: {
            u32 n = tuple_size(a);
            if (n != tuple_size(b)) return false;
            for (u32 i = 1; i <= n; ++i)
                if (tuple_byte(a, i) != tuple_byte(b, i)) return false;
            return true;
        }
        case TYPE_NONE:
        case TYPE_UNSET:
            return true;
        case TYPE_MONEY: {
            ValueCell x = *a, y = *b;
            return action_compare(&x, &y, CMP_SAME);
        }
        case TYPE_NATIVE:
        case TYPE_ACTION:
            return callable_entry(a) == callable_entry(b) && callable_spec(a) == callable_spec(b);
        case TYPE_POINT2D:
            return point_bits(a, 0) == point_bits(b, 0) && point_bits(a, 1) == point_bits(b, 1);
        case TYPE_OP:
            return callable_spec(a) == callable_spec(b) && callable_more(a) == callable_more(b);
        default:
            return payload_word(a, 1) == payload_word(b, 1) &&
                   payload_word(a, 2) == payload_word(b, 2) &&
                   payload_word(a, 3) == payload_word(b, 3);
    }
}

namespace {

void compare_native(u32 index, i32 op, bool check, const i32* refs) {
    if (check) natives_check_args(index, refs);
    action_compare_logic(op);
}

void native_equal_q(bool check, const i32* refs) {
    compare_native(NAT_EQUAL_Q, CMP_EQUAL, check, refs);
}
void native_not_equal_q(bool check, const i32* refs) {
    compare_native(NAT_NOT_EQUAL_Q, CMP_NOT_EQUAL, check, refs);
}
void native_strict_equal_q(bool check, const i32* refs) {
    compare_native(NAT_STRICT_EQUAL_Q, CMP_STRICT_EQUAL, check, refs);
}
void native_lesser_q(bool check, const i32* refs) {
    compare_native(NAT_LESSER_Q, CMP_LESSER, check, refs);
}
void native_greater_q(bool check, const i32* refs) {
    compare_native(NAT_GREATER_Q, CMP_GREATER, check, refs);
}
void native_lesser_or_equal_q(bool check, const i32* refs) {
    compare_native(NAT_LESSER_OR_EQUAL_Q, CMP_LESSER_EQUAL, check, refs);
}
void native_greater_or_equal_q(bool check, const i32* refs) {
    compare_native(NAT_GREATER_OR_EQUAL_Q, CMP_GREATER_EQUAL, check, refs);
}

void native_same_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_SAME_Q, refs);
    bool same = value_same(stack_arg(0), stack_arg(1));
    logic_box(stack_result(), same);
}

void native_not(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_NOT, refs);
    const ValueCell* v = stack_arg(0);
    bool falsy = v->type() == TYPE_NONE || (v->type() == TYPE_LOGIC && !logic_get(v));
    logic_box(stack_result(), falsy);
}

// type? value /word
void native_type_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_TYPE_Q, refs);
    u32 t = stack_arg(0)->type();
    ValueCell* result = stack_result();
    if (refs[0] != -1) {
        *result = g_type_names[t].word;
        cell_clear_new_line(result);
    } else {
        datatype_box(result, t);
    }
}

}  // namespace

void natives_compare_init(NativeEntry* slots) {
    slots[NAT_EQUAL_Q - 1] = native_equal_q;
    slots[NAT_NOT_EQUAL_Q - 1] = native_not_equal_q;
    slots[NAT_STRICT_EQUAL_Q - 1] = native_strict_equal_q;
    slots[NAT_LESSER_Q - 1] = native_lesser_q;
    slots[NAT_GREATER_Q - 1] = native_greater_q;
    slots[NAT_LESSER_OR_EQUAL_Q - 1] = native_lesser_or_equal_q;
    slots[NAT_GREATER_OR_EQUAL_Q - 1] = native_greater_or_equal_q;
    slots[NAT_SAME_Q - 1] = native_same_q;
    slots[NAT_NOT - 1] = native_not;
    slots[NAT_TYPE_Q - 1] = native_type_q;
}

}  // namespace zan

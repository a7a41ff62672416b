// The comparison natives (equal? ... greater-or-equal?), which hand their two
// arguments to the datatypes' shared compare, the identity test behind
// same?, and not and type?.
#include "runtime/core/stack.h"
#include "runtime/datatypes/action_table.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
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
        case TYPE_LOGIC:
        case TYPE_OBJECT:
            return a->data1 == b->data1;
        case TYPE_CHAR:
        case TYPE_INTEGER:
        case TYPE_BITSET:
            return a->data2 == b->data2;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH:
        case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING:
        case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
            return a->data1 == b->data1 && a->data2 == b->data2;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_PAIR:
        case TYPE_TIME:
            // Bit for bit: 0.0 and -0.0 differ, a NaN is the same as itself.
            return a->data2 == b->data2 && a->data3 == b->data3;
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
        case TYPE_POINT2D:
            return a->data1 == b->data1 && a->data2 == b->data2;
        case TYPE_OP:
            return a->data2 == b->data2 && a->data3 == b->data3;
        default:
            return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
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

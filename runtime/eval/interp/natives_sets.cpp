// The set natives union, intersect, exclude, difference and unique, which
// check their operands and hand the work to the set routine of the first
// operand's datatype, and complement?.
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string_search.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/interp/natives.h"

namespace zan {

namespace {

bool is_block_or_hash(u32 t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// Arguments: set1 (set2 but for unique) /case /skip size; refs[0] is /case,
// refs[1] the position of size.
void set_op(i32 op, const i32* refs) {
    ValueCell* a = stack_arg(0);
    u32 t1 = a->type();
    bool case_sensitive = refs[0] != -1;
    ValueCell* skip = refs[1] != -1 ? stack_arg(static_cast<u32>(refs[1])) : nullptr;

    if (op != SET_OP_UNIQUE) {
        u32 t2 = stack_arg(1)->type();
        bool agree = is_block_or_hash(t1) ? is_block_or_hash(t2) : t1 == t2;
        if (!agree) {
            ValueCell d1, d2;
            datatype_box(&d1, t1);
            datatype_box(&d2, t2);
            fire(Err::script_expect_val, &d1, &d2);
        }
    }

    switch (t1) {
        case TYPE_BLOCK:
        case TYPE_HASH:
            block_set_op(case_sensitive, skip, op);
            return;
        case TYPE_TYPESET:
            typeset_set_op(op);
            return;
        case TYPE_DATE:
            if (op != SET_OP_DIFFERENCE) break;
            date_difference(a, stack_arg(1));
            return;
        case TYPE_STRING: {
            ValueCell* b = op == SET_OP_UNIQUE ? nullptr : stack_arg(1);
            stack_set_last(string_set_op(a, b, case_sensitive, skip, op));
            return;
        }
        case TYPE_BITSET:
            bitset_set_op(op);
            return;
        default:
            break;
    }
    number_fire_expect_arg(t1, 0);
}

void native_union(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_UNION, refs);
    set_op(SET_OP_UNION, refs);
}

void native_intersect(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_INTERSECT, refs);
    set_op(SET_OP_INTERSECT, refs);
}

void native_unique(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_UNIQUE, refs);
    set_op(SET_OP_UNIQUE, refs);
}

void native_difference(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_DIFFERENCE, refs);
    set_op(SET_OP_DIFFERENCE, refs);
}

void native_exclude(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_EXCLUDE, refs);
    set_op(SET_OP_EXCLUDE, refs);
}

void native_complement_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_COMPLEMENT_Q, refs);
    ValueCell* bits = stack_arg(0);
    if (bits->type() != TYPE_BITSET) number_fire_expect_arg(bits->type(), 0);
    logic_box(stack_result(), bitset_complemented(bits));
}

}  // namespace

void natives_sets_init(NativeEntry* slots) {
    slots[NAT_UNION - 1] = native_union;
    slots[NAT_INTERSECT - 1] = native_intersect;
    slots[NAT_UNIQUE - 1] = native_unique;
    slots[NAT_DIFFERENCE - 1] = native_difference;
    slots[NAT_EXCLUDE - 1] = native_exclude;
    slots[NAT_COMPLEMENT_Q - 1] = native_complement_q;
}

}  // namespace zan

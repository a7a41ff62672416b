// The set operations on blocks (unique, union, intersect, exclude,
// difference): records of one or more cells, deduplicated by their first
// value through a hash index of the values already taken.
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
inline i32 cells_of(const ValueCell* b) {
    return static_cast<i32>(series_of(b)->used_bytes() >> 4);
}

void clamp_index(ValueCell* s) {
    i32 len = cells_of(s);
    if (series_index(s) > len) series_set_index(s, len);
    if (series_index(s) < 0) series_set_index(s, 0);
}

enum class Test { none, member, non_member };

struct SetOp {
    bool case_sensitive;
    i32 record;
    i32 op;             // compare op of the membership tests
    ValueCell* result;  // a hash! on the data stack: the new block and its table
};

// Membership of value in other (a data-stack cell), at its record starts.
// table_cell: a hash! cell on the data stack whose table indexes other's
// buffer (other's own index, or a temporary one), made on first need.
bool member_of(const SetOp& so, ValueCell* other, ValueCell* table_cell, const ValueCell* value) {
    ValueCell key = *value;
    if (type_block_like(key.type()))
        return block_contains_value(other, &key, so.case_sensitive, so.record);
    if (!hashed_table(table_cell)) {
        Node t =
            hashtable_init(cells_of(other) < 1 ? 1 : cells_of(other), other, HASH_KIND_HASH, 0);
        set_hashed_table(table_cell, t);
    }
    return hashtable_get(hashed_table(table_cell), &key, series_index(other), so.record, so.op, false,
                         false) != nullptr;
}

bool taken_already(const SetOp& so, const ValueCell* value) {
    ValueCell key = *value;
    if (type_block_like(key.type()))
        return block_contains_value(so.result, &key, so.case_sensitive, so.record);
    return hashtable_get(hashed_table(so.result), &key, 0, 1, so.op, false, false) != nullptr;
}

// Appends each record of src whose first value passes the test against
// other and is not in the result yet.
void take_records(const SetOp& so, ValueCell* src, ValueCell* other, Test test) {
    ValueCell* table_cell = nullptr;
    if (test != Test::none) {
        ValueCell tc;
        cell_init(&tc, TYPE_HASH, 0, series_node(other), is_hash(other) ? hashed_table(other) : 0);
        table_cell = stack_push(&tc);
    }
    i32 start = series_index(src);
    for (i32 i = 0;; i += so.record) {
        i32 len = cells_of(src) - start;
        if (i >= len) break;
        ValueCell first = series_of(src)->head_cells()[start + i];
        if (test != Test::none) {
            bool member = member_of(so, other, table_cell, &first);
            if (member != (test == Test::member)) continue;
        }
        if (taken_already(so, &first)) continue;
        i32 pos = cells_of(so.result);
        i32 n = len - i < so.record ? len - i : so.record;
        for (i32 k = 0; k < n; k++) {
            ValueCell c = series_of(src)->head_cells()[start + i + k];
            block_append_cell(so.result, &c);
        }
        hashtable_put(hashed_table(so.result), series_of(so.result)->head_cells() + pos);
    }
    if (table_cell) stack_pop(1);
}
}  // namespace

void block_set_op(bool case_sensitive, ValueCell* skip, i32 op) {
    ValueCell* a = stack_arg(0);
    ValueCell* b = op == SET_OP_UNIQUE ? nullptr : stack_arg(1);
    i32 record = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER || dt::int_get(skip) < 1)
            fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        record = dt::int_get(skip);
    }
    if (b && !type_block_like(b->type())) fire(Err::script_invalid_arg, b);
    clamp_index(a);
    if (b) clamp_index(b);

    i32 la = cells_of(a) - series_index(a);
    i32 lb = b ? cells_of(b) - series_index(b) : 0;
    i64 room = i64(la) + (op == SET_OP_UNION ? lb : 0);
    if (room > 0x7FFFFFF) fire(Err::internal_no_memory);
    if (room < 1) room = 1;
    ValueCell* result = block_push_new(static_cast<u32>(room));
    cell_set_type(result, TYPE_HASH);
    set_hashed_table(result, hashtable_init(static_cast<i32>(room), result, HASH_KIND_HASH, 0));

    SetOp so{case_sensitive, record, case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL, result};
    switch (op) {
        case SET_OP_UNIQUE: take_records(so, a, nullptr, Test::none); break;
        case SET_OP_UNION:
            take_records(so, a, nullptr, Test::none);
            take_records(so, b, nullptr, Test::none);
            break;
        case SET_OP_INTERSECT: take_records(so, a, b, Test::member); break;
        case SET_OP_EXCLUDE: take_records(so, a, b, Test::non_member); break;
        case SET_OP_DIFFERENCE:
            take_records(so, a, b, Test::non_member);
            take_records(so, b, a, Test::non_member);
            break;
        default: fire(Err::script_invalid_arg, a);
    }

    bool hashed = a->type() == TYPE_HASH || (op != SET_OP_UNIQUE && b->type() == TYPE_HASH);
    ValueCell r = *result;
    if (hashed) {
        // Only the first cell of each record went into the table; a hash!
        // indexes every cell.
        if (record > 1) hashtable_reset(hashed_table(&r), cells_of(&r));
    } else {
        cell_set_type(&r, a->type());
        set_hashed_table(&r, 0);
    }
    r.header = r.type();
    series_set_index(&r, 0);
    *stack_arg(0) = r;
    stack_pop(1);
}

}  // namespace zan

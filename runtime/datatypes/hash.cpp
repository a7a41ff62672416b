// hash!: construction, conversion, mold, copy, and the sort and trim
// entries that put the reordered cells into the index again. Everything
// else is block!'s (which keeps a hash!'s index in step) except random,
// which a hash! does not support.
#include "runtime/datatypes/hash.h"

#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_search.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

namespace zan {

namespace {
inline i32 cells_of(const ValueCell* b) {
    return static_cast<i32>(series_of(b)->used_bytes() >> 4);
}
}  // namespace

ValueCell* hash_make_at(ValueCell* cell, u32 n) {
    if (n < 1) n = 1;
    block_make_at(cell, n);
    cell_set_type(cell, TYPE_HASH);
    set_hashed_table(cell, hashtable_init(static_cast<i32>(n), cell, HASH_KIND_HASH, 0));
    return cell;
}

ValueCell* hash_push_new(u32 n) { return hash_make_at(unset_push(), n); }

ValueCell* hash_from_block(ValueCell* cell) {
    cell->header = (cell->header & ~CELL_TYPE_MASK) | TYPE_HASH;
    set_hashed_table(cell, 0);
    i32 n = cells_of(cell);
    set_hashed_table(cell, hashtable_init(n < 1 ? 1 : n, cell, HASH_KIND_HASH, 0));
    return cell;
}

// ---- make and to ------------------------------------------------------------------------------

ValueCell* hash_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        i64 n = st == TYPE_INTEGER ? dt::int_get(spec) : static_cast<i64>(rt_to_integer(spec));
        if (n > 0x7FFFFFF) fire(Err::internal_no_memory);
        return hash_push_new(n < 1 ? 1u : static_cast<u32>(n));
    }
    if (st == TYPE_HASH) return hash_copy(spec, nullptr, nullptr, false, nullptr);
    if (type_block_like(st)) {
        ValueCell* out = series_copy(spec, nullptr, nullptr, false, nullptr);
        set_hashed_table(out, 0);
        return hash_from_block(out);
    }
    return hash_to(proto, spec, type);
}

ValueCell* hash_to(ValueCell* proto, ValueCell* spec, u32 type) {
    if (spec->type() == TYPE_HASH) return hash_copy(spec, nullptr, nullptr, false, nullptr);
    ValueCell* out = block_to(proto, spec, TYPE_BLOCK);
    (void)type;
    return hash_from_block(out);
}

// ---- mold ---------------------------------------------------------------------------------------

i32 hash_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent) {
    if (!only) {
        string_append_cstr(out, "make hash! ");
        limit -= 11;
    }
    return block_mold(value, out, only, all, flat, arg_limit, limit, indent);
}

// ---- copy
// ----------------------------------------------------------------------------------------

ValueCell* hash_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types) {
    ValueCell src = *value;
    ValueCell* out = block_copy(value, fresh, part, deep, types);
    cell_set_type(out, TYPE_HASH);
    set_hashed_table(out, 0);
    if (series_index(&src) == 0 && !part && !deep && !types && hashed_table(&src)) {
        set_hashed_table(out, hashtable_copy(hashed_table(&src), series_node(out)));
    } else {
        i32 n = cells_of(out);
        set_hashed_table(out, hashtable_init(n < 1 ? 1 : n, out, HASH_KIND_HASH, 0));
    }
    return out;
}

// ---- sort and trim
// ---------------------------------------------------------------------------------

ValueCell* hash_sort(ValueCell* series, bool case_sensitive, ValueCell* skip, ValueCell* comparator,
                     ValueCell* part, bool all, bool reverse, bool stable) {
    i32 first = -1;
    ValueCell* r = block_sort_from(series, case_sensitive, skip, comparator, part, all, reverse,
                                   stable, &first);
    if (first >= 0 && is_hash(r)) {
        // The sorted cells changed places: their entries go and they are
        // entered again at their new positions.
        hashtable_remove_range(hashed_table(r), first, cells_of(r) - first);
        hashtable_put_all(hashed_table(r), first, 1);
    }
    return r;
}

void hash_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
               ValueCell* with) {
    ValueCell* s = stack_push(series);
    i32 idx = series_index(s) < 0 ? 0 : series_index(s);
    i32 before = cells_of(s);
    block_trim(s, head, tail, auto_, lines, all, with);
    if (is_hash(s) && idx < before) {
        hashtable_remove_range(hashed_table(s), idx, before - idx);
        hashtable_put_all(hashed_table(s), idx, 1);
    }
    stack_pop(1);
}

// ---- registration
// ------------------------------------------------------------------------------------

void hash_init() {
    ActionRow row;
    row.set<ACT_MAKE>(hash_make)
        .set<ACT_TO>(hash_to)
        .set<ACT_MOLD>(hash_mold)
        .set<ACT_COPY>(hash_copy)
        .set<ACT_SORT>(hash_sort)
        .set<ACT_TRIM>(hash_trim)
        .inherit({ACT_FORM,     ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_INSERT, ACT_CHANGE,
                  ACT_FIND,     ACT_PUT,       ACT_SELECT,  ACT_SWAP,   ACT_TAKE,   ACT_REFLECT,
                  ACT_AT,       ACT_BACK,      ACT_CLEAR,   ACT_HEAD,   ACT_HEAD_Q, ACT_INDEX_Q,
                  ACT_LENGTH_Q, ACT_MOVE,      ACT_NEXT,    ACT_PICK,   ACT_POKE,   ACT_REMOVE,
                  ACT_REVERSE,  ACT_SKIP,      ACT_TAIL,    ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_HASH, row);
}

}  // namespace zan

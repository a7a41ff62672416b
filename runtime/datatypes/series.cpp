// series!: the positional actions shared by every series type, written
// once against the common layout (data1 head index in units, data2 node).
#include "runtime/datatypes/error.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/series.h"

#include <cstring>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/murmur.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/pair.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace zan {

Node g_take_scratch = 0;

namespace {
// The collector keeps the take scratch buffer through this cell.
ValueCell g_take_scratch_cell{TYPE_UNSET, 0, 0, 0};
// The value answered by pick for non-block series.
ValueCell g_pick_scratch{TYPE_NONE, 0, 0, 0};

inline u32 unit_of(const ValueCell* s) { return series_buffer(s)->unit(); }
inline u8* unit_addr(const ValueCell* s, i32 pos) {
    SeriesBuffer* b = series_buffer(s);
    return b->head_ptr() + (static_cast<i64>(pos) << unit_shift(b->unit()));
}

// Position p of pick/poke for a 1-based index n (in 64 bits: an index far
// past the tail must not wrap round to a position inside).
inline i64 pick_position(i32 idx, i32 n) { return n > 0 ? i64(idx) + n - 1 : i64(idx) + n; }

ValueCell* part_refinement() { return g_refinements.part; }
}  // namespace

// ---- helpers ------------------------------------------------------------------------------

i32 series_buffer_length(const ValueCell* s) {
    // An image's pixels live outside the heap: its length is its size.
    if (s->type() == TYPE_IMAGE) return static_cast<i32>(image_count(s));
    SeriesBuffer* b = series_buffer(s);
    return static_cast<i32>(b->used_bytes() >> unit_shift(b->unit()));
}

bool series_at_tail_q(const ValueCell* s) { return series_index(s) >= series_buffer_length(s); }

bool series_advance(ValueCell* s, i32 n) {
    i32 len = series_buffer_length(s);
    i32 nw = series_index(s) + n;
    if (nw <= len) series_set_index(s, nw);
    return nw >= len;
}

i32 series_offset_index(const ValueCell* s, const ValueCell* offset, bool is_at) {
    if (offset->type() != TYPE_INTEGER) fire(Err::script_invalid_arg, offset);
    i64 off = dt::int_get(offset);
    i64 idx = series_index(s);
    i64 r = is_at && off >= 1 ? idx + off - 1 : idx + off;
    i64 len = series_buffer_length(s);
    if (r < 0) r = 0;
    if (r > len) r = len;
    return static_cast<i32>(r);
}

i32 series_remaining(ValueCell* s, bool whole) {
    i32 len = series_buffer_length(s);
    i32 idx = series_index(s);
    if (idx > len) {
        series_set_index(s, len);
        return 0;
    }
    if (whole || idx < 0) return len;
    return len - idx;
}

u8* series_head_address(const ValueCell* s) {
    i32 idx = series_index(s);
    i32 len = series_buffer_length(s);
    if (idx > len) idx = len;
    if (idx < 0) idx = 0;
    return unit_addr(s, idx);
}

i32 series_part_count(const ValueCell* s, const ValueCell* part) {
    if (part->type() == TYPE_INTEGER) return dt::int_get(part);
    if (part->type() == s->type() && series_node(part) == series_node(s))
        return series_index(part) - series_index(s);
    fire(Err::script_invalid_refine_arg, part_refinement(), part);
}

bool series_has_owner(const ValueCell* series) {
    if (!g_services.ownership_check) return false;
    // An image's owner is found by its pixel slot in the table: no cell
    // of it carries a flag that every copy would have to share.
    return series->type() == TYPE_IMAGE || (series_buffer(series)->flags & SERIES_OWNED);
}

bool series_announce(ValueCell* series, ValueCell* action_word, const ValueCell* new_value,
                     i32 index, i32 count) {
    if (!series_has_owner(series)) return false;
    ValueCell nv = new_value ? *new_value : g_none_cell;
    return g_services.ownership_check(series, action_word, &nv, index, count);
}

// ---- navigation (frame actions) --------------------------------------------------------------

void series_at() {
    ValueCell* s = stack_arg(0);
    series_set_index(s, series_offset_index(s, stack_arg(1), true));
}
void series_skip() {
    ValueCell* s = stack_arg(0);
    series_set_index(s, series_offset_index(s, stack_arg(1), false));
}
void series_head() { series_set_index(stack_arg(0), 0); }
void series_tail() {
    ValueCell* s = stack_arg(0);
    series_set_index(s, series_buffer_length(s));
}
void series_head_q() { logic_set_result(series_index(stack_arg(0)) == 0); }
void series_tail_q() { logic_set_result(series_at_tail_q(stack_arg(0))); }
void series_index_q() { dt::int_set_result(series_index(stack_arg(0)) + 1); }
void series_next() { series_advance(stack_arg(0), 1); }
void series_back() {
    ValueCell* s = stack_arg(0);
    if (series_index(s) > 0) series_set_index(s, series_index(s) - 1);
}

i32 series_length_q(ValueCell* series) { return series_remaining(series, false); }

// ---- pick and poke ---------------------------------------------------------------------------

ValueCell* series_pick(ValueCell* series, i32 n, ValueCell* index_cell) {
    if (n == 0 && index_cell && index_cell->type() == TYPE_FLOAT) n = rt_to_integer(index_cell);
    i64 pos = pick_position(series_index(series), n);
    if (n == 0 || pos < 0 || pos >= series_buffer_length(series)) {
        cell_init(&g_pick_scratch, TYPE_NONE);
        return &g_pick_scratch;
    }
    i32 p = static_cast<i32>(pos);
    u32 t = series->type();
    if (type_block_like(t)) return reinterpret_cast<ValueCell*>(unit_addr(series, p));
    if (t == TYPE_VECTOR) {
        vector_element_to_value(series, static_cast<u32>(p), &g_pick_scratch);
        return &g_pick_scratch;
    }
    if (t == TYPE_BINARY) return dt::int_box(&g_pick_scratch, *unit_addr(series, p));
    return dt::char_box(&g_pick_scratch, string_get_char(unit_addr(series, p), unit_of(series)));
}

void series_pick_block(const ValueCell* block, i32 n, ValueCell* out) {
    SeriesBuffer* b = series_buffer(block);
    i64 p = pick_position(series_index(block), n);
    if (n == 0 || p < 0 || p >= i64(b->used_bytes() / sizeof(ValueCell)))
        cell_init(out, TYPE_NONE);
    else
        *out = b->head_cells()[p];
}

ValueCell* series_poke(ValueCell* series, i32 n, ValueCell* value, ValueCell* index_cell) {
    if (n == 0 && index_cell && index_cell->type() == TYPE_FLOAT) n = rt_to_integer(index_cell);
    i64 pos = pick_position(series_index(series), n);
    if (n == 0 || pos < 0 || pos >= series_buffer_length(series)) {
        ValueCell ic;
        dt::int_box(&ic, n);
        fire(Err::script_out_of_range, index_cell ? index_cell : &ic);
    }
    i32 p = static_cast<i32>(pos);
    u32 t = series->type();
    ValueCell v = *value;
    if (t == TYPE_VECTOR) {
        if (v.type() != vector_element_type(series)) fire(Err::script_invalid_arg, &v);
    } else if (t == TYPE_BINARY) {
        if (v.type() != TYPE_INTEGER && v.type() != TYPE_CHAR) fire(Err::script_invalid_arg, &v);
    } else if (!type_block_like(t) && v.type() != TYPE_CHAR) {
        fire(Err::script_invalid_arg, &v);
    }
    bool owned = series_announce(series, g_words.n.poke, &v, p, 1);
    if (type_block_like(t)) {
        ValueCell* c = reinterpret_cast<ValueCell*>(unit_addr(series, p));
        *c = v;
        if (is_hash(series)) hashtable_put(hashed_table(series), c);
    } else if (t == TYPE_VECTOR) {
        vector_store_value(series, static_cast<u32>(p), &v);
    } else if (t == TYPE_BINARY) {
        *unit_addr(series, p) = static_cast<u8>(dt::int_get(&v));
    } else {
        string_set_char(series_buffer(series), unit_addr(series, p), dt::char_get(&v));
    }
    if (owned) series_announce(series, g_words.n.poked, &v, p, 1);
    return value;
}

// ---- clear and remove ------------------------------------------------------------------------

void series_clear(ValueCell* series) {
    ValueCell s = *series;
    i32 rem = series_remaining(&s, false);
    if (rem > 0) {
        i32 idx = series_index(&s);
        bool owned = series_announce(&s, g_words.n.clear, nullptr, idx, rem);
        if (is_hash(&s)) hashtable_remove_range(hashed_table(&s), idx, rem);
        SeriesBuffer* b = series_buffer(&s);
        b->tail = b->head + (static_cast<u32>(idx) << unit_shift(b->unit()));
        if (owned) series_announce(&s, g_words.n.cleared, nullptr, idx, 0);
    }
    *stack_result() = s;
}

namespace {
// Removes count units at position pos (the caller checked the range),
// keeping a hash! index in step.
void remove_units(ValueCell* s, i32 pos, i32 count) {
    SeriesBuffer* b = series_buffer(s);
    u32 sh = unit_shift(b->unit());
    i32 len = static_cast<i32>(b->used_bytes() >> sh);
    if (pos + count >= len) {
        if (is_hash(s)) hashtable_remove_range(hashed_table(s), pos, len - pos);
        b->tail = b->head + (static_cast<u32>(pos) << sh);
        return;
    }
    u8* at = b->head_ptr() + (static_cast<u32>(pos) << sh);
    u32 moved = static_cast<u32>(len - pos - count) << sh;
    if (is_hash(s)) {
        // Delete the removed keys first, then renumber those that move down.
        i32 r = hashtable_shift_indexes(hashed_table(s), -count, pos + count, len - pos - count);
        std::memmove(at, at + (static_cast<u32>(count) << sh), moved);
        b->tail -= static_cast<u32>(count) << sh;
        if (r) hashtable_reset(hashed_table(s), len - count);
        return;
    }
    std::memmove(at, at + (static_cast<u32>(count) << sh), moved);
    b->tail -= static_cast<u32>(count) << sh;
}
}  // namespace

void series_remove(ValueCell* series, ValueCell* part, ValueCell* key) {
    ValueCell s = *series;
    i32 count = 1;
    if (part) {
        count = series_part_count(&s, part);
        if (count < 1) {
            *stack_result() = s;
            return;
        }
    }
    if (key) {
        ValueCell* saved_top = g_stack.top;
        ValueCell* held = stack_push(&s);
        series_set_index(held, 0);
        ValueCell k = *key;
        ValueCell* kc = stack_push(&k);
        ValueCell* found = action_find_dispatch(held, kc, nullptr, false, false, false, false,
                                                nullptr, nullptr, false, false, false, false);
        bool hit = found->type() != TYPE_NONE;
        i32 at = hit ? series_index(found) : 0;
        g_stack.top = saved_top;
        if (!hit) {
            none_set_result();
            return;
        }
        series_set_index(&s, at);
        count++;
    }
    i32 len = series_buffer_length(&s);
    i32 idx = series_index(&s);
    if (idx >= 0 && idx < len) {
        bool owned = series_announce(&s, g_words.remove, nullptr, idx, count);
        remove_units(&s, idx, count);
        if (owned) series_announce(&s, g_words.n.removed, nullptr, idx, 0);
    }
    *stack_result() = s;
}

// ---- reverse -------------------------------------------------------------------------------------

void series_reverse(ValueCell* series, ValueCell* part, ValueCell* skip) {
    ValueCell s = *series;
    i32 rem = series_remaining(&s, false);
    *stack_result() = s;
    if (rem < 1) return;
    i32 count = rem;
    if (part) {
        count = series_part_count(&s, part);
        if (count < 1) return;
        if (count > rem) count = rem;
    }
    i32 record = 1;
    if (skip) {
        if (skip->type() != TYPE_INTEGER)
            fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        i32 k = dt::int_get(skip);
        if (k == count) return;
        if (k < 1) fire(Err::script_out_of_range, skip);
        if (count < k || count % k != 0) fire(Err::script_invalid_refine_arg, g_refinements.skip, skip);
        record = k;
    }
    i32 idx = series_index(&s);
    bool owned = series_announce(&s, g_words.n.reverse, nullptr, idx, count);
    SeriesBuffer* b = series_buffer(&s);
    u32 unit = b->unit();
    u32 rsize = static_cast<u32>(record) * unit;
    u8* first = b->head_ptr() + static_cast<u64>(idx) * unit;
    u8* last = first + static_cast<u64>(count - record) * unit;
    std::vector<u8> scratch(rsize);
    bool hashed = is_hash(&s);
    i32 pa = idx, pb = idx + count - record;
    while (first < last) {
        if (hashed) {
            for (i32 i = 0; i < record; i++) {
                hashtable_delete(hashed_table(&s), reinterpret_cast<ValueCell*>(first) + i);
                hashtable_delete(hashed_table(&s), reinterpret_cast<ValueCell*>(last) + i);
            }
        }
        std::memcpy(scratch.data(), first, rsize);
        std::memcpy(first, last, rsize);
        std::memcpy(last, scratch.data(), rsize);
        if (hashed) {
            for (i32 i = 0; i < record; i++) {
                hashtable_put(hashed_table(&s), reinterpret_cast<ValueCell*>(first) + i);
                hashtable_put(hashed_table(&s), reinterpret_cast<ValueCell*>(last) + i);
                b = series_buffer(&s);
            }
            first = b->head_ptr() + static_cast<u64>(pa) * unit;
            last = b->head_ptr() + static_cast<u64>(pb) * unit;
        }
        first += rsize;
        last -= rsize;
        pa += record;
        pb -= record;
    }
    if (owned) series_announce(&s, g_words.n.reversed, nullptr, idx, count);
}

// ---- take -----------------------------------------------------------------------------------------

ValueCell* series_take(ValueCell* series, ValueCell* part, bool, bool last) {
    ValueCell s = *series;
    i32 rem = series_remaining(&s, false);
    if (rem < 1) return none_push();
    i32 idx = series_index(&s);
    i32 given = 1;
    if (part) {
        if (part->type() == TYPE_INTEGER) {
            given = dt::int_get(part);
        } else if (part->type() == s.type() && series_node(part) == series_node(&s)) {
            i32 pidx = series_index(part);
            if (pidx < idx) given = 0;
            else given = last ? idx + rem - pidx : pidx - idx;
        } else {
            fire(Err::script_invalid_refine_arg, part_refinement(), part);
        }
    }
    u32 unit = unit_of(&s);
    u32 sh = unit_shift(unit);
    i32 count = given;
    i32 available = rem;
    if (count < 0) {
        available = idx;
        count = last ? 1 : -count;
    }
    if (count > available) count = available;

    // The new series: a buffer of exactly count units with /part, else the
    // reused one-unit scratch buffer.
    ValueCell* result = stack_push_cell();
    cell_init(result, s.type(), 0, 0, s.type() == TYPE_VECTOR ? vector_element_type(&s) : 0);
    if (part) {
        set_series_node(result, alloc_units(count > 0 ? static_cast<u32>(count) : 1, unit));
    } else {
        if (!g_take_scratch) {
            g_take_scratch = alloc_bytes(16);
            cell_init(&g_take_scratch_cell, TYPE_BINARY, 0, g_take_scratch);
            gc_remove_root(&g_take_scratch_cell);
            gc_add_root(&g_take_scratch_cell);
        }
        SeriesBuffer* sb = node_buffer(g_take_scratch);
        sb->flags = (sb->flags & ~SERIES_UNIT_MASK) | unit;
        sb->head = sb->tail = sb->data_ref();
        set_series_node(result, g_take_scratch);
    }
    // take/part of 0 (or a backward take with nothing before the index, or
    // /last with a negative count) takes nothing: the empty new series.
    if ((part && given == 0) || (given < 0 && last) || count < 1) return result;

    i32 from;  // first unit taken
    if (given < 0) from = idx - count;
    else if (last) from = idx + rem - count;
    else from = idx;

    bool owned = series_announce(&s, g_words.n.take, nullptr, idx, count);
    SeriesBuffer* src = series_buffer(&s);
    SeriesBuffer* dst = node_buffer(series_node(result));
    u32 bytes = static_cast<u32>(count) << sh;
    std::memcpy(dst->head_ptr(), src->head_ptr() + (static_cast<u32>(from) << sh), bytes);
    dst->tail = dst->head + bytes;
    remove_units(&s, from, count);
    if (result->type() == TYPE_HASH) {
        // The taken cells get a fresh index of their own.
        Node t = hashtable_init(count, result, HASH_KIND_HASH, 0);
        set_hashed_table(result, t);
    }
    if (owned) series_announce(&s, g_words.n.taken, nullptr, idx, 0);
    return result;
}

// ---- copy ------------------------------------------------------------------------------------------

ValueCell* series_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool, ValueCell*) {
    ValueCell s = *value;
    i32 len = series_buffer_length(&s);
    i32 idx = series_index(&s);
    i32 start = idx;
    i32 count = len - idx;
    if (count < 0) count = 0;
    if (part) {
        if (part->type() == TYPE_INTEGER) {
            count = dt::int_get(part);
        } else if (part->type() == TYPE_PAIR) {
            i32 x = pair_x(part), y = pair_y(part);
            start = x < 0 ? idx + x : idx + x - 1;
            if (start < 0) start = 0;
            count = y < x ? 0 : y - x;
        } else if (part->type() == s.type() && series_node(part) == series_node(&s)) {
            count = series_index(part) - idx;
        } else {
            fire(Err::script_invalid_refine_arg, part_refinement(), part);
        }
        if (count < 0) {
            count = -count;
            start -= count;
            if (start < 0) {
                start = 0;
                count = idx;
            }
        }
    }
    if (start > len) {
        count = 0;
        start = len;
    }
    if (count > len - start) count = len - start;
    if (start < 0) start = 0;
    Node n = series_alloc_like(&s, static_cast<u32>(start), static_cast<u32>(count));
    ValueCell* out = fresh ? fresh : stack_push_cell();
    cell_init(out, s.type() | (s.header & CELL_NEW_LINE), 0, n,
              s.type() == TYPE_VECTOR ? vector_element_type(&s) : 0);
    return out;
}

// ---- move ------------------------------------------------------------------------------------------

namespace {
bool move_target_ok(u32 t) { return type_series(t); }
}  // namespace

ValueCell* series_move(ValueCell* origin, ValueCell* target, ValueCell* part) {
    ValueCell o = *origin;
    ValueCell t = *target;
    if (!move_target_ok(t.type())) {
        ValueCell word = *stack_calling_word();
        ValueCell* dt = datatype_push(t.type());
        ValueCell* arg = error_arg_word_of_call(1);
        fire(Err::script_expect_arg, &word, dt, arg);
    }
    i32 rem = series_remaining(&o, false);
    if (rem < 1) return target;
    i32 count = 1;
    if (part) {
        count = series_part_count(&o, part);
        if (count < 1) return target;
        if (count > rem) count = rem;
    }
    i32 oi = series_index(&o);
    i32 ti = series_index(&t);
    if (series_node(&o) == series_node(&t)) {
        i32 len = series_buffer_length(&o);
        if (ti > len) ti = len;
        if (ti == oi) return target;
        if (ti > oi && ti < len && ti - oi < count) return origin;
        bool owned = series_announce(&t, g_words.n.move, &o, oi, count);
        SeriesBuffer* b = series_buffer(&o);
        u32 unit = b->unit();
        u8* base = b->head_ptr();
        u32 bytes = static_cast<u32>(count) * unit;
        std::vector<u8> scratch(base + static_cast<u64>(oi) * unit,
                                base + static_cast<u64>(oi) * unit + bytes);
        i32 dest;
        if (ti < oi) {
            // Backwards: the run lands at the target, before the unit there.
            std::memmove(base + static_cast<u64>(ti + count) * unit, base + static_cast<u64>(ti) * unit,
                         static_cast<u64>(oi - ti) * unit);
            dest = ti;
        } else {
            // Forwards: right after the unit at the target, or at the end.
            i32 after = ti >= len ? len : ti + 1;
            std::memmove(base + static_cast<u64>(oi) * unit, base + static_cast<u64>(oi + count) * unit,
                         static_cast<u64>(after - oi - count) * unit);
            dest = after - count;
        }
        std::memcpy(base + static_cast<u64>(dest) * unit, scratch.data(), bytes);
        if (is_hash(&o) && hashtable_move_range(hashed_table(&o), oi, count, dest))
            hashtable_reset(hashed_table(&o), len);
        if (owned) series_announce(&t, g_words.n.moved, nullptr, ti, count);
        return target;
    }
    bool ob = type_block_like(o.type()), tb = type_block_like(t.type());
    u32 ou = unit_of(&o), tu = unit_of(&t);
    if (ob != tb) {
        ValueCell* d1 = datatype_push(o.type());
        ValueCell* d2 = datatype_push(t.type());
        fire(Err::script_move_bad, d1, d2);
    }
    if (ou != tu) {
        if (o.type() == TYPE_BINARY || o.type() == TYPE_VECTOR || t.type() == TYPE_BINARY ||
            t.type() == TYPE_VECTOR) {
            ValueCell* d1 = datatype_push(o.type());
            ValueCell* d2 = datatype_push(t.type());
            fire(Err::script_move_bad, d1, d2);
        }
        bool owned = series_announce(&t, g_words.n.move, &o, oi, count);
        string_move(&o, &t, count);
        if (owned) series_announce(&t, g_words.n.moved, nullptr, series_index(&t), count);
        return target;
    }
    bool owned = series_announce(&t, g_words.n.move, &o, oi, count);
    // Same unit, two buffers: insert into the target, then remove from the
    // origin.
    u32 unit = ou;
    u32 bytes = static_cast<u32>(count) * unit;
    i32 tlen = series_buffer_length(&t);
    if (ti > tlen) ti = tlen;
    SeriesBuffer* tbuf = series_buffer(&t);
    if (tbuf->used_bytes() + bytes > tbuf->end_ref() - tbuf->head) {
        series_expand(tbuf, (tbuf->used_bytes() + bytes) * 2);
        tbuf = series_buffer(&t);
    }
    SeriesBuffer* obuf = series_buffer(&o);
    u8* tat = tbuf->head_ptr() + static_cast<u64>(ti) * unit;
    std::memmove(tat + bytes, tat, static_cast<u64>(tlen - ti) * unit);
    std::memcpy(tat, obuf->head_ptr() + static_cast<u64>(oi) * unit, bytes);
    tbuf->tail += bytes;
    if (is_hash(&t) && hashtable_shift_indexes(hashed_table(&t), count, ti + count, tlen - ti))
        hashtable_reset(hashed_table(&t), tlen + count);
    else if (is_hash(&t))
        for (i32 i = 0; i < count; i++)
            hashtable_put(hashed_table(&t), reinterpret_cast<ValueCell*>(series_buffer(&t)->head_ptr()) + ti + i);
    remove_units(&o, oi, count);
    if (owned) series_announce(&t, g_words.n.moved, nullptr, ti, count);
    return target;
}

// ---- random -----------------------------------------------------------------------------------------

void series_random(ValueCell* value, bool seed, bool secure, bool only) {
    ValueCell s = *value;
    if (seed) {
        SeriesBuffer* b = series_buffer(&s);
        u8* at = series_head_address(&s);
        g_services.random_seed(murmur3_32(at, static_cast<size_t>(b->tail_ptr() - at)));
        unset_set_result();
        return;
    }
    i32 rem = series_remaining(&s, false);
    if (only) {
        if (rem < 1) {
            none_set_result();
            return;
        }
        i32 r = g_services.random_int(rem, secure);
        ValueCell* v = series_pick(&s, r, nullptr);
        *stack_result() = *v;
        return;
    }
    i32 idx = series_index(&s);
    bool owned = series_announce(&s, g_words.n.random, nullptr, idx, rem);
    u32 unit = unit_of(&s);
    std::vector<u8> tmp(unit);
    for (i32 k = rem, pos = idx; k > 1; k--, pos++) {
        i32 r = g_services.random_int(k, secure);
        u8* a = unit_addr(&s, pos);
        u8* b = unit_addr(&s, pos + r - 1);
        if (a == b) continue;
        std::memcpy(tmp.data(), a, unit);
        std::memcpy(a, b, unit);
        std::memcpy(b, tmp.data(), unit);
    }
    if (is_hash(&s)) hashtable_reset(hashed_table(&s), series_buffer_length(&s));
    if (owned) series_announce(&s, g_words.n.randomized, nullptr, idx, rem);
    *stack_result() = s;
}

// ---- reflect and modify -------------------------------------------------------------------------------

void series_reflect(ValueCell* value, u32 field) {
    if (field != g_sym.owned) fire(Err::internal_not_done);
    ValueCell* owner = ownership_owner_of(series_node(value));
    if (owner) *stack_result() = *owner;
    else none_set_result();
}

ValueCell* series_modify(ValueCell* target, ValueCell* field, ValueCell* value, bool) {
    if (!any_word_type_q(field->type()) || word_symbol(field) != g_sym.owned) return value;
    if (value->type() == TYPE_NONE) {
        ownership_release(target);
    } else if (value->type() == TYPE_BLOCK && block_length(value) >= 2) {
        ValueCell* owner = block_head_ptr(value);
        ownership_bind_object(target, owner, owner + 1);
    }
    return value;
}

void series_state_reset() {
    gc_remove_root(&g_take_scratch_cell);
    cell_init(&g_take_scratch_cell, TYPE_UNSET);
    cell_init(&g_pick_scratch, TYPE_NONE);
    g_take_scratch = 0;
}

void series_init() {
    ActionRow row;
    row.set<ACT_RANDOM>(series_random)
        .set<ACT_REFLECT>(series_reflect)
        .set<ACT_AT>(series_at)
        .set<ACT_BACK>(series_back)
        .set<ACT_CLEAR>(series_clear)
        .set<ACT_COPY>(series_copy)
        .set<ACT_HEAD>(series_head)
        .set<ACT_HEAD_Q>(series_head_q)
        .set<ACT_INDEX_Q>(series_index_q)
        .set<ACT_LENGTH_Q>(series_length_q)
        .set<ACT_MOVE>(series_move)
        .set<ACT_NEXT>(series_next)
        .set<ACT_PICK>(series_pick)
        .set<ACT_POKE>(series_poke)
        .set<ACT_REMOVE>(series_remove)
        .set<ACT_REVERSE>(series_reverse)
        .set<ACT_SKIP>(series_skip)
        .set<ACT_TAIL>(series_tail)
        .set<ACT_TAIL_Q>(series_tail_q)
        .set<ACT_TAKE>(series_take)
        .set<ACT_MODIFY>(series_modify);
    datatype_register(TYPE_SERIES, row);
}

}  // namespace zan

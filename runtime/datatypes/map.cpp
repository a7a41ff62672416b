// map!: construction, key normalisation, lookups and stores through the
// kind-1 hash table, reflection, text forms, comparison and the foreach
// step.
#include "runtime/datatypes/map.h"

#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/core/cycles.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

// Restores the data top when a C++ scope ends normally.
struct TopGuard {
    ValueCell* saved = g_stack.top;
    void restore() { g_stack.top = saved; }
};

inline Node entries_of(const ValueCell* map) { return series_node(map); }
inline Node table_of(const ValueCell* map) { return hashed_table(map); }
inline ValueCell* cells_at(Node entries) { return node_buffer(entries)->head_cells(); }
inline u32 cell_count(Node entries) { return node_buffer(entries)->used_bytes() / 16; }
// Whether the record at pos (a key position) is a live entry.
inline bool live_at(Node entries, u32 pos) {
    return pos + 1 < cell_count(entries) && cells_at(entries)[pos + 1].header != 0;
}

// The value cell of a live entry from its key cell as a lookup found it, or
// null for a removed entry (what live_at answers for its position).
inline ValueCell* live_value(Node entries, ValueCell* key_cell) {
    ValueCell* v = key_cell + 1;
    return v < node_buffer(entries)->tail_cells() && v->header != 0 ? v : nullptr;
}

inline bool is_plain_word(u32 t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// The lookup mode of select, find and paths.
i32 lookup_op(bool case_sensitive, bool same) {
    return same ? CMP_SAME : case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
}

// The position of the stored key equal to key under op, or -1. The table
// may retype the key it is given, so it gets a local copy.
i32 find_key(const ValueCell* map, const ValueCell* key, i32 op) {
    ValueCell k = *key;
    Node entries = entries_of(map);
    ValueCell* found = hashtable_get(table_of(map), &k, 0, 0, op, false, false);
    if (!found) return -1;
    return static_cast<i32>(found - cells_at(entries));
}

i32 emit(ValueCell* out, const char* text, i32 limit) {
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

// Equality of two values under an equality op; a type without a compare
// entry is equal only to an identical cell.
bool values_equal(ValueCell* a, ValueCell* b, i32 op) {
    if (!action_entry(a->type(), ACT_COMPARE))
        return cell_identical(a, b);
    return action_compare(a, b, op);
}

// Makes the entry block of a map room for extra more cells.
void reserve_cells(Node entries, u32 extra) {
    SeriesBuffer* b = node_buffer(entries);
    u64 need = u64(b->used_bytes()) + u64(extra) * 16;
    if (need <= u64(b->end_ref() - b->head)) return;
    if (need > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    series_expand(b, static_cast<u32>(need));
}

// The lookup of put and select that cannot allocate (hashtable_get_quick),
// a string! key going straight to the text lookup of a map's table.
inline bool quick_lookup(const ValueCell* map, const ValueCell* key, bool case_sensitive,
                         ValueCell** found) {
    if (key->type() == TYPE_STRING)
        return hashtable_map_get_text(table_of(map), key, !case_sensitive, found);
    return hashtable_get_quick(table_of(map), key, case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND,
                               found);
}

// set_entry past the lookup that cannot allocate: quick tells whether it
// answered, found what it found.
[[gnu::noinline]] void store_entry(const ValueCell* map, const ValueCell* key,
                                   const ValueCell* value, ValueCell* path, i32 op, bool quick,
                                   ValueCell* found);

// The value stored in place when the lookup that cannot allocate found a
// live entry; false when store_entry must do the work.
inline bool store_found(const ValueCell* map, bool quick, ValueCell* found,
                        const ValueCell* value) {
    ValueCell* slot = quick && found ? live_value(entries_of(map), found) : nullptr;
    if (!slot) return false;
    *slot = *value;
    slot->header &= ~CELL_NEW_LINE;
    return true;
}

// One step of extend and of a path set: stores value under key (looked up
// case-sensitively with case_sensitive), adding the entry at the end of the
// block when the key is absent and reviving it when it was removed.
void set_entry(const ValueCell* map, const ValueCell* key, const ValueCell* value, ValueCell* path,
               bool case_sensitive) {
    i32 op = case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
    // A lookup that cannot allocate: a live entry found takes the value in
    // place, and a miss is final (the table noted it for the put below).
    ValueCell* found = nullptr;
    bool quick = quick_lookup(map, key, case_sensitive, &found);
    if (!store_found(map, quick, found, value))
        store_entry(map, key, value, path, op, quick, found);
}

void store_entry(const ValueCell* map, const ValueCell* key, const ValueCell* value,
                 ValueCell* path, i32 op, bool quick, ValueCell* found) {
    TopGuard top;
    ValueCell* m = stack_push(map);
    ValueCell* k = stack_push(key);
    ValueCell* v = stack_push(value);
    v->header &= ~CELL_NEW_LINE;
    Node entries = entries_of(m);
    Node table = table_of(m);
    i32 pos = quick ? (found ? static_cast<i32>(found - cells_at(entries)) : -1) : find_key(m, k, op);
    if (pos < 0) {
        map_store_key(k, path);
        k->header &= ~CELL_NEW_LINE;
        u32 at = cell_count(entries);
        SeriesBuffer* eb = node_buffer(entries);
        if (eb->tail + 2 * sizeof(ValueCell) <= eb->end_ref()) {
            // Room for the record: the key and the unset placeholder written
            // in place.
            ValueCell* rec = eb->tail_cells();
            rec[0] = *k;
            cell_init(rec + 1, TYPE_UNSET);
            eb->tail += 2 * sizeof(ValueCell);
        } else {
            *series_alloc_tail_cell(eb) = *k;
            series_alloc_tail_cell(node_buffer(entries));  // the unset placeholder
        }
        i32 status = HASH_PUT_NEW;
        // The key entered is the one looked up, normalised (a set-word of
        // the same symbol, or a copy of the text from its index): its hash
        // is the one the lookup noted.
        ValueCell* stored = hashtable_put_missed(table, cells_at(entries) + at, &status, true);
        pos = static_cast<i32>(stored - cells_at(entries));
        if (pos != static_cast<i32>(at)) {
            // An equal key was there after all: the new record goes again.
            node_buffer(entries)->tail -= 2 * sizeof(ValueCell);
            if (!cells_at(entries)[pos + 1].header) hashtable_header(table)->count++;
        }
    } else if (!cells_at(entries)[pos + 1].header) {
        hashtable_header(table)->count++;
    }
    cells_at(entries)[pos + 1] = *v;
    top.restore();
}

// A block cell over the entry block of a map.
ValueCell entry_block(const ValueCell* map) {
    ValueCell b;
    cell_init(&b, TYPE_BLOCK, 0, entries_of(map));
    return b;
}

}  // namespace

// ---- keys ---------------------------------------------------------------------------------------

bool map_key_type_ok(u32 type) {
    switch (type) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER:
        case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD:
        case TYPE_GET_WORD: case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_PAIR:
        case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_BINARY: case TYPE_TIME: case TYPE_TAG:
        case TYPE_EMAIL: case TYPE_DATE: case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D:
        case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

ValueCell* map_store_key(ValueCell* key, ValueCell* path) {
    u32 t = key->type();
    if (!map_key_type_ok(t)) {
        ValueCell p = path ? *path : g_none_cell;
        ValueCell* held = stack_push(&p);
        ValueCell* dt = datatype_push(t);
        fire(Err::script_invalid_path, held, dt);
    }
    if (is_plain_word(t)) {
        key->header = TYPE_SET_WORD;
        return key;
    }
    if (type_string_like(t) || t == TYPE_BINARY) {
        // A key normalised in place may lie in a buffer that a collection
        // would slide: the collector stays off meanwhile.
        GcHold hold;
        ValueCell src = *key;
        i32 len = series_buffer_length(&src);
        i32 idx = series_index(&src);
        if (idx > len) idx = len;
        if (idx < 0) idx = 0;
        Node copy = series_alloc_like(&src, static_cast<u32>(idx), static_cast<u32>(len - idx));
        cell_init(key, src.header, 0, copy, 0);
    }
    return key;
}

// ---- making -----------------------------------------------------------------------------------------

ValueCell* map_make_at(ValueCell* cell, const ValueCell* block, u32 size) {
    if (size > 0x7FFFFFFu) fire(Err::internal_no_memory);
    Node table;
    Node entries;
    if (block) {
        ValueCell b = *block;
        ValueCell* held = stack_push(&b);
        table = hashtable_init(static_cast<i32>(size), held, HASH_KIND_MAP, 1);
        entries = series_node(held);
        stack_pop(1);
    } else {
        table = hashtable_init(static_cast<i32>(size), nullptr, HASH_KIND_MAP, 1);
        entries = hashtable_header(table)->values;
    }
    cell_init(cell, TYPE_MAP, 0, entries, table);
    return cell;
}

ValueCell* map_make_from_cells(ValueCell* cell, const ValueCell* cells, u32 count) {
    TopGuard top;
    ValueCell* b = block_push_new(count);
    SeriesBuffer* sb = series_of(b);
    if (count) std::memcpy(sb->head_ptr(), cells, u64(count) * sizeof(ValueCell));
    sb->tail = sb->head + count * static_cast<u32>(sizeof(ValueCell));
    for (u32 i = 0; i < count; i++) cell_clear_new_line(sb->head_cells() + i);
    ValueCell* m = unset_push();
    map_make_at(m, b, count ? count : 2);
    ValueCell made = *m;
    top.restore();
    *cell = made;
    return cell;
}

i32 map_count(const ValueCell* map) {
    return static_cast<i32>(hashtable_header(table_of(map))->count);
}

ValueCell* map_make(ValueCell*, ValueCell* spec, bool is_to) {
    ValueCell* res = unset_push();
    ValueCell* sp = stack_push(spec);
    u32 st = sp->type();
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        if (is_to) number_fire_bad_to_arg(TYPE_MAP, sp);
        i32 n = dt::int_arg(sp);
        if (n < 0) fire(Err::script_out_of_range, sp);
        u64 capacity = u64(n) * 2;
        if (capacity > 0x7FFFFFFu) fire(Err::internal_no_memory);
        map_make_at(res, nullptr, capacity ? static_cast<u32>(capacity) : 2);
    } else if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
        i32 len = block_length(sp);
        if (len % 2) fire(Err::script_invalid_arg, sp);
        ValueCell* copy = unset_push();
        block_clone(sp, copy, false, false);
        copy->header = TYPE_BLOCK;
        SeriesBuffer* b = series_of(copy);
        for (i32 i = 0; i < len; i++) cell_clear_new_line(b->head_cells() + i);
        map_make_at(res, copy, len ? static_cast<u32>(len) : 2);
    } else if (st == TYPE_MAP) {
        map_copy(sp, res, nullptr, false, nullptr);
    } else {
        number_fire_bad_to_arg(TYPE_MAP, sp);
    }
    g_stack.top = res + 1;
    return res;
}

ValueCell* map_make_action(ValueCell* proto, ValueCell* spec, u32) {
    return map_make(proto, spec, false);
}
ValueCell* map_to_action(ValueCell* proto, ValueCell* spec, u32) {
    return map_make(proto, spec, true);
}

// ---- extend and foreach ---------------------------------------------------------------------------------

void map_extend_from_block(ValueCell* map, ValueCell* block, bool case_sensitive) {
    TopGuard top;
    ValueCell* m = stack_push(map);
    ValueCell* src = stack_push(block);
    if (src->type() == TYPE_MAP) {
        // The live entries of another map (or of this one: only those there
        // at the start).
        Node from = entries_of(src);
        u32 n = cell_count(from);
        reserve_cells(entries_of(m), n);
        for (u32 pos = 0; pos + 1 < n; pos += 2) {
            if (!live_at(from, pos)) continue;
            ValueCell* k = stack_push(cells_at(from) + pos);
            ValueCell* v = stack_push(cells_at(from) + pos + 1);
            set_entry(m, k, v, nullptr, case_sensitive);
            stack_pop(2);
        }
        top.restore();
        return;
    }
    if (!type_block_like(src->type())) fire(Err::script_invalid_arg, src);
    i32 len = block_length(src);
    if (len % 2) fire(Err::script_invalid_arg, src);
    reserve_cells(entries_of(m), static_cast<u32>(len));
    for (i32 i = 0; i + 1 < len && i + 1 < block_length(src); i += 2) {
        ValueCell* k = stack_push(block_head_ptr(src) + i);
        ValueCell* v = stack_push(block_head_ptr(src) + i + 1);
        set_entry(m, k, v, nullptr, case_sensitive);
        stack_pop(2);
    }
    top.restore();
}

bool map_set_words(ValueCell* words, ValueCell* series, i32 count) {
    TopGuard top;
    ValueCell* ws = stack_push(words);
    ValueCell* m = stack_push(series);
    i32 n = block_length(ws);
    if (count > n) count = n;
    for (i32 k = 0; k < count; k++) {
        ValueCell* w = block_head_ptr(ws) + k;
        u32 t = w->type();
        if (!is_plain_word(t)) {
            ValueCell bad = *w;
            fire(Err::script_invalid_arg, &bad);
        }
    }
    Node entries = entries_of(m);
    u32 pos = static_cast<u32>(series_index(series));
    bool any = false;
    for (i32 k = 0; k < count; k++) {
        // A key position skips the holes of removed entries.
        if (pos % 2 == 0)
            while (pos + 1 < cell_count(entries) && !cells_at(entries)[pos + 1].header) pos += 2;
        ValueCell v;
        if (pos < cell_count(entries)) {
            v = cells_at(entries)[pos++];
            if (v.type() == TYPE_SET_WORD) v.set_type(TYPE_WORD);
            v.header &= ~CELL_NEW_LINE;
            any = true;
        } else {
            v = g_none_cell;
        }
        ValueCell w = *(block_head_ptr(ws) + k);
        ValueCell* val = stack_push(&v);
        context_set(&w, val);
        stack_pop(1);
    }
    series_set_index(series, static_cast<i32>(pos));
    top.restore();
    return any;
}

// ---- reflection ---------------------------------------------------------------------------------------

const ValueCell* map_entry_cells(const ValueCell* map, u32* count) {
    Node entries = entries_of(map);
    *count = cell_count(entries);
    return cells_at(entries);
}

ValueCell* map_body_of(ValueCell* map) {
    ValueCell* m = stack_push(map);
    Node entries = entries_of(m);
    i32 live = map_count(m);
    ValueCell* out = block_push_new(live > 0 ? static_cast<u32>(live) * 2 : 1);
    for (u32 pos = 0; pos + 1 < cell_count(entries); pos += 2) {
        if (!live_at(entries, pos)) continue;
        ValueCell k = cells_at(entries)[pos];
        k.header |= CELL_NEW_LINE;
        block_append_cell(out, &k);
        ValueCell v = cells_at(entries)[pos + 1];
        block_append_cell(out, &v);
    }
    ValueCell r = *out;
    stack_pop(2);
    return stack_push(&r);
}

void map_reflect(ValueCell* map, u32 field) {
    ValueCell* m = stack_push(map);
    Node entries = entries_of(m);
    u32 f = symbol_resolve(field);
    ValueCell result;
    if (f == symbol_resolve(g_sym.words) || f == symbol_resolve(g_sym.values)) {
        bool keys = f == symbol_resolve(g_sym.words);
        i32 live = map_count(m);
        ValueCell* out = block_push_new(live > 0 ? static_cast<u32>(live) : 1);
        for (u32 pos = 0; pos + 1 < cell_count(entries); pos += 2) {
            if (!live_at(entries, pos)) continue;
            ValueCell c = cells_at(entries)[keys ? pos : pos + 1];
            if (keys && c.type() == TYPE_SET_WORD) c.set_type(TYPE_WORD);
            c.header &= ~CELL_NEW_LINE;
            block_append_cell(out, &c);
        }
        result = *out;
    } else if (f == symbol_resolve(g_sym.body)) {
        result = *map_body_of(m);
    } else {
        fire(Err::internal_not_done);
    }
    *stack_result() = result;
}

// ---- text forms ----------------------------------------------------------------------------------------

i32 map_form_body(ValueCell* map, ValueCell* out, bool, bool all, bool flat, ValueCell* arg_limit,
                  i32 limit, i32 indent, bool mold_mode) {
    TopGuard top;
    ValueCell* m = stack_push(map);
    Node entries = entries_of(m);
    CycleScope cycles;
    cycles_push(entries);
    i32 level = mold_mode ? indent + 1 : indent;
    bool first = true;
    for (u32 pos = 0; pos + 1 < cell_count(entries); pos += 2) {
        if (arg_limit && limit <= 0) break;
        if (!live_at(entries, pos)) continue;
        if (mold_mode && !flat) {
            limit = emit(out, "\n", limit);
            limit = mold_indent(out, level, limit);
        } else if (!first) {
            limit = emit(out, flat ? " " : "\n", limit);
        }
        first = false;
        ValueCell* k = stack_push(cells_at(entries) + pos);
        limit = action_mold_dispatch(k, out, false, all, flat, arg_limit, limit, level);
        stack_pop(1);
        if (arg_limit && limit <= 0) break;
        limit = emit(out, " ", limit);
        if (pos + 1 >= cell_count(entries)) break;  // shrunk by a mold
        ValueCell* v = stack_push(cells_at(entries) + pos + 1);
        if (v->header == 0) cell_init(v, TYPE_UNSET);
        limit = action_mold_dispatch(v, out, false, all, flat, arg_limit, limit, level);
        stack_pop(1);
    }
    if (mold_mode && !flat && !first && !(arg_limit && limit <= 0)) {
        limit = emit(out, "\n", limit);
        limit = mold_indent(out, indent, limit);
    }
    top.restore();
    return limit;
}

i32 map_form(ValueCell* map, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    if (cycles_find(entries_of(map))) return emit(out, "#[...]", limit);
    return map_form_body(map, out, false, false, false, arg_limit, limit, 0, false);
}

i32 map_mold(ValueCell* map, ValueCell* out, bool only, bool all, bool flat,
             ValueCell* arg_limit, i32 limit, i32 indent) {
    if (cycles_find(entries_of(map))) return emit(out, "#[...]", limit);
    if (only) return map_form_body(map, out, true, all, flat, arg_limit, limit, indent, false);
    limit = emit(out, "#[", limit);
    limit = map_form_body(map, out, false, all, flat, arg_limit, limit, indent, true);
    return emit(out, "]", limit);
}

// ---- paths, put, select, find, remove ----------------------------------------------------------------

ValueCell* map_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value, ValueCell* path,
                         ValueCell*, ValueCell*, i32, bool case_sensitive, bool, bool, bool) {
    if (!value) {
        i32 pos = find_key(parent, element, lookup_op(case_sensitive, false));
        Node entries = entries_of(parent);
        if (pos < 0 || !live_at(entries, static_cast<u32>(pos))) return none_push();
        return stack_push(cells_at(entries) + pos + 1);
    }
    set_entry(parent, element, value, path, case_sensitive);
    return value;
}

ValueCell* map_put(ValueCell* map, ValueCell* key, ValueCell* value, bool case_sensitive) {
    set_entry(map, key, value, nullptr, case_sensitive);
    return value;
}

void map_put_entry(bool case_sensitive) {
    // set_entry with its arguments read again from the frame after the
    // lookup, so that none is kept across it.
    i32 op = case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
    ValueCell* found = nullptr;
    bool quick = quick_lookup(stack_arg(0), stack_arg(1), case_sensitive, &found);
    if (!store_found(stack_arg(0), quick, found, stack_arg(2)))
        store_entry(stack_arg(0), stack_arg(1), stack_arg(2), nullptr, op, quick, found);
    *stack_result() = *stack_arg(2);
}

namespace {
// The lookup that cannot allocate, its value or none into *out (which may
// be the map's own cell); false when it could not answer.
[[gnu::always_inline]] inline bool select_quick(const ValueCell* map, const ValueCell* key,
                                                bool case_sensitive, ValueCell* out) {
    ValueCell* found;
    if (!quick_lookup(map, key, case_sensitive, &found)) return false;
    ValueCell* v = found ? live_value(entries_of(map), found) : nullptr;
    if (v)
        *out = *v;
    else
        none_box(out);
    return true;
}

// select's work on a map: the lookup that cannot allocate answers in place,
// else the general one. (Inlined into both entries, so that the entry
// without refinements keeps no flags.)
[[gnu::always_inline]] inline void select_in_map(bool case_sensitive, bool same) {
    ValueCell* map = stack_arg(0);
    if (!same && select_quick(map, stack_arg(1), case_sensitive, map)) return;
    stack_set_last(map_select(map, stack_arg(1), nullptr, false, case_sensitive, same, false,
                              nullptr, nullptr, false, false));
}
}  // namespace

void map_select_entry(bool case_sensitive, bool same) { select_in_map(case_sensitive, same); }

void map_select_plain() { select_in_map(false, false); }

bool map_select_quick(const ValueCell* map, const ValueCell* key, ValueCell* out) {
    return select_quick(map, key, false, out);
}

bool map_put_quick(const ValueCell* map, const ValueCell* key, const ValueCell* value) {
    ValueCell* found = nullptr;
    if (!quick_lookup(map, key, false, &found)) return false;
    if (!store_found(map, true, found, value))
        store_entry(map, key, value, nullptr, CMP_FIND, true, found);
    return true;
}

bool map_store_existing(const ValueCell* map, const ValueCell* key, const ValueCell* value) {
    ValueCell* found = nullptr;
    if (!quick_lookup(map, key, false, &found)) return false;
    return store_found(map, true, found, value);
}

ValueCell* map_select(ValueCell* map, ValueCell* key, ValueCell*, bool, bool case_sensitive,
                      bool same, bool, ValueCell*, ValueCell*, bool, bool) {
    i32 pos = find_key(map, key, lookup_op(case_sensitive, same));
    Node entries = entries_of(map);
    if (pos < 0 || !live_at(entries, static_cast<u32>(pos))) return none_push();
    return stack_push(cells_at(entries) + pos + 1);
}

ValueCell* map_find(ValueCell* map, ValueCell* key, ValueCell*, bool, bool case_sensitive,
                    bool same, bool, ValueCell*, ValueCell*, bool, bool, bool, bool) {
    i32 pos = find_key(map, key, lookup_op(case_sensitive, same));
    Node entries = entries_of(map);
    if (pos < 0 || !live_at(entries, static_cast<u32>(pos))) return none_push();
    ValueCell* k = stack_push(cells_at(entries) + pos);
    if (k->type() == TYPE_SET_WORD) k->set_type(TYPE_WORD);
    cell_clear_new_line(k);
    return k;
}

void map_remove(ValueCell* map, ValueCell*, ValueCell* key) {
    if (!key) fire(Err::script_missing_arg);
    i32 pos = find_key(map, key, CMP_FIND);
    Node entries = entries_of(map);
    if (pos < 0 || !live_at(entries, static_cast<u32>(pos))) return;
    hashtable_delete(table_of(map), cells_at(entries) + pos);
}

void map_clear(ValueCell* map) {
    hashtable_clear(table_of(map));
    SeriesBuffer* b = node_buffer(entries_of(map));
    b->tail = b->head;
}

i32 map_length_q(ValueCell* map) { return map_count(map); }

// ---- copy ------------------------------------------------------------------------------------------------

ValueCell* map_copy(ValueCell* map, ValueCell* dst, ValueCell*, bool deep, ValueCell* types) {
    TopGuard top;
    CycleScope cycles;
    ValueCell* m = stack_push(map);
    bool nested = deep && types;
    if (nested) {
        if (cycles_find(entries_of(m))) fire(Err::internal_no_cycle);
        cycles_push(entries_of(m));
    }
    ValueCell* blk = unset_push();
    *blk = entry_block(m);
    ValueCell* copy = unset_push();
    if (deep && !types) block_copy(blk, copy, nullptr, true, nullptr);
    else block_clone(blk, copy, false, false);
    copy->header = TYPE_BLOCK;
    Node table = hashtable_copy(table_of(m), series_node(copy));
    ValueCell* made = unset_push();
    cell_init(made, TYPE_MAP, 0, series_node(copy), table);
    if (nested) {
        u32 n = cell_count(series_node(copy));
        for (u32 pos = 1; pos < n; pos += 2) block_copy_nested(copy, pos, 1, types, true);
    }
    ValueCell result = *made;
    top.restore();
    *dst = result;
    return dst;
}

// ---- comparison ------------------------------------------------------------------------------------------

i32 map_compare_values(ValueCell* value1, ValueCell* value2, i32 op) {
    if (series_same_place(value1, value2)) return 0;
    if (op == CMP_SAME) return -1;
    Node e1 = entries_of(value1), e2 = entries_of(value2);
    if (cycles_find(e1)) return cycles_find(e2) ? 0 : -1;
    i32 c1 = map_count(value1), c2 = map_count(value2);
    if (c1 != c2) {
        if (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND)
            return 1;
        return c1 < c2 ? -1 : 1;
    }
    if (c1 == 0) return 0;
    i32 value_op = op == CMP_NOT_EQUAL ? CMP_EQUAL : op;
    TopGuard top;
    stack_push(value1);
    ValueCell* b = stack_push(value2);
    CycleScope cycles;
    cycles_push(e1);
    cycles_push(e2);
    i32 result = 0;
    for (u32 pos = 0; pos + 1 < cell_count(e1) && result == 0; pos += 2) {
        if (!live_at(e1, pos)) continue;
        ValueCell* k = stack_push(cells_at(e1) + pos);
        ValueCell* v = stack_push(cells_at(e1) + pos + 1);
        if (op == CMP_STRICT_EQUAL) {
            i32 at = find_key(b, k, CMP_STRICT_EQUAL);
            if (at < 0 || !live_at(e2, static_cast<u32>(at))) {
                result = 1;
            } else {
                ValueCell* other = stack_push(cells_at(e2) + at + 1);
                if (!values_equal(v, other, CMP_STRICT_EQUAL)) result = 1;
            }
        } else {
            // The table's match first; other keys equal up to case after it.
            bool found = false;
            i32 at = find_key(b, k, CMP_FIND);
            if (at >= 0 && live_at(e2, static_cast<u32>(at))) {
                ValueCell* other = stack_push(cells_at(e2) + at + 1);
                found = values_equal(v, other, value_op);
            }
            for (u32 p2 = 0; !found && p2 + 1 < cell_count(e2); p2 += 2) {
                if (static_cast<i32>(p2) == at || !live_at(e2, p2)) continue;
                ValueCell* k2 = stack_push(cells_at(e2) + p2);
                if (k2->type() == k->type() && values_equal(k, k2, CMP_FIND)) {
                    ValueCell* other = stack_push(cells_at(e2) + p2 + 1);
                    found = values_equal(v, other, value_op);
                }
            }
            if (!found) result = 1;
        }
        g_stack.top = k;
    }
    top.restore();
    return result;
}

i32 map_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_MAP) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_SORT:
        case CMP_SORT_CASE: {
            u32 a = entries_of(value1), b = entries_of(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
            return map_compare_values(value1, value2, op);
        default:
            return CMP_NOT_COMPARABLE;
    }
}

// ---- registration ------------------------------------------------------------------------------------------

void map_init() {
    ActionRow row;
    row.set<ACT_MAKE>(map_make_action)
        .set<ACT_REFLECT>(map_reflect)
        .set<ACT_TO>(map_to_action)
        .set<ACT_FORM>(map_form)
        .set<ACT_MOLD>(map_mold)
        .set<ACT_EVAL_PATH>(map_eval_path)
        .set<ACT_COMPARE>(map_compare)
        .set<ACT_CLEAR>(map_clear)
        .set<ACT_COPY>(map_copy)
        .set<ACT_FIND>(map_find)
        .set<ACT_LENGTH_Q>(map_length_q)
        .set<ACT_PUT>(map_put)
        .set<ACT_REMOVE>(map_remove)
        .set<ACT_SELECT>(map_select);
    datatype_register(TYPE_MAP, row);
    hashtable_set_map_key_store(map_store_key);
}

}  // namespace zan

// block!: helpers, construction and conversion, the modifying actions, the
// text forms and the comparison of blocks.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_search.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/core/cycles.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
// Blocks made with a null parent land here.
ValueCell g_block_scratch{TYPE_NONE, 0, 0, 0};

inline SeriesBuffer* buf(const ValueCell* b) { return series_of(b); }
inline i32 cells_of(const SeriesBuffer* b) { return static_cast<i32>(b->used_bytes() >> 4); }

// Room for extra bytes from the head; the buffer may move.
SeriesBuffer* ensure_room(ValueCell* block, u64 need_bytes, u64 grow_to) {
    SeriesBuffer* b = buf(block);
    u64 cap = b->end_ref() - b->head;
    if (cap >= need_bytes) return b;
    if (grow_to > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    series_expand(b, static_cast<u32>(grow_to));
    return buf(block);
}
}  // namespace

bool block_append_quick(ValueCell* series, const ValueCell* value, bool only, ValueCell* result) {
    if (type_block_like(value->type()) && !only) return false;
    SeriesBuffer* b = buf(series);
    // A block with an owner carries the flag (an image is the one other kind).
    if (is_hash(series) || u64(b->used_bytes()) + 16 > u64(b->end_ref() - b->head) ||
        (b->flags & SERIES_OWNED))
        return false;
    i32 len = cells_of(b);
    if (series_index(series) > len) series_set_index(series, len);
    *b->tail_cells() = *value;
    b->tail += 16;
    ValueCell r = *series;
    series_set_index(&r, 0);
    *result = r;
    return true;
}

// ---- helpers ---------------------------------------------------------------------------

i32 block_length(const ValueCell* block) {
    i32 n = cells_of(buf(block)) - series_index(block);
    return n < 0 ? 0 : n;
}

ValueCell* block_head_ptr(const ValueCell* block) {
    SeriesBuffer* b = buf(block);
    i32 idx = series_index(block);
    i32 len = cells_of(b);
    if (idx > len) idx = len;
    if (idx < 0) idx = 0;
    return b->head_cells() + idx;
}

ValueCell* block_tail_ptr(const ValueCell* block) { return buf(block)->tail_cells(); }

bool block_at_tail_q(const ValueCell* block) {
    return series_index(block) >= cells_of(buf(block));
}

ValueCell* block_cell_at(const ValueCell* block, u32 n) { return buf(block)->head_cells() + n; }

void block_set_tail(ValueCell* block, u32 n) {
    SeriesBuffer* b = buf(block);
    b->tail = b->head + n * 16;
}

ValueCell* block_append_cell(ValueCell* block, const ValueCell* cell) {
    ValueCell v = *cell;
    ValueCell* c = block_alloc_tail(block);
    *c = v;
    return c;
}

const ValueCell* block_select_word(const ValueCell* block, u32 symbol, bool case_insensitive) {
    u32 want = case_insensitive ? symbol_resolve(symbol) : symbol;
    SeriesBuffer* b = buf(block);
    ValueCell* c = block_head_ptr(block);
    ValueCell* end = b->tail_cells();
    for (; c < end; c++) {
        u32 t = c->type();
        if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
        u32 s = case_insensitive ? symbol_resolve(word_symbol(c)) : word_symbol(c);
        if (s == want) return c + 1 < end ? c + 1 : &g_none_cell;
    }
    return &g_none_cell;
}

namespace {
bool clone_nested(u32 t, bool deep_any) {
    return t == TYPE_BLOCK || (deep_any && (t == TYPE_PAREN || type_path_like(t)));
}
}  // namespace

ValueCell* block_clone(const ValueCell* source, ValueCell* out, bool deep, bool deep_any) {
    ValueCell src = *source;
    i32 n = block_length(&src);
    Node node = alloc_cells(n < 1 ? 1u : static_cast<u32>(n));
    SeriesBuffer* nb = node_buffer(node);
    if (n > 0) std::memcpy(nb->head_ptr(), block_head_ptr(source), static_cast<size_t>(n) * 16);
    nb->tail = nb->head + static_cast<u32>(n) * 16;
    cell_init(out, src.type() | (src.header & CELL_NEW_LINE), 0, node);
    if (deep && n > 0) {
        CycleScope scope;
        cycles_push(series_node(&src));
        for (i32 i = 0; i < n; i++) {
            ValueCell* c = block_cell_at(out, static_cast<u32>(i));
            if (!clone_nested(c->type(), deep_any) || cycles_find(series_node(c))) continue;
            ValueCell* tmp = stack_push(c);
            ValueCell* copy = stack_push_cell();
            block_clone(tmp, copy, true, deep_any);
            copy->header = tmp->header;
            *block_cell_at(out, static_cast<u32>(i)) = *copy;
            stack_pop(2);
        }
    }
    return out;
}

void block_copy_nested(ValueCell* block, u32 first, u32 count, ValueCell* types, bool deep) {
    for (u32 i = first; i < first + count; i++) {
        ValueCell* c = block_cell_at(block, i);
        u32 t = c->type();
        bool wanted = types->type() == TYPE_DATATYPE ? datatype_get(types) == t
                                                     : typeset_bits_have(types, t);
        if (!wanted) continue;
        if (!(type_series(t) || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_ERROR ||
              t == TYPE_MAP))
            continue;
        ValueCell* tmp = stack_push(c);
        ValueCell* fresh = unset_push();
        ValueCell* r = action_copy_dispatch(tmp, fresh, nullptr, deep, types);
        ValueCell keep = *r;
        keep.header = (keep.header & ~CELL_NEW_LINE) | (tmp->header & CELL_NEW_LINE);
        *block_cell_at(block, i) = keep;
        stack_pop(2);
    }
}

void block_insert_value(ValueCell* block, const ValueCell* value, bool at_head, bool advance) {
    ValueCell v = *value;
    i32 len = cells_of(buf(block));
    i32 pos = at_head ? 0 : series_index(block);
    if (pos > len) pos = len;
    if (pos < 0) pos = 0;
    SeriesBuffer* b = buf(block);
    u64 need = u64(b->used_bytes()) + 16;
    b = ensure_room(block, need, need * 2);
    ValueCell* at = b->head_cells() + pos;
    std::memmove(at + 1, at, static_cast<size_t>(len - pos) * 16);
    *at = v;
    b->tail += 16;
    if (is_hash(block)) {
        if (pos < len && hashtable_shift_indexes(hashed_table(block), 1, pos + 1, len - pos) == 1)
            hashtable_reset(hashed_table(block), len + 1);
        else
            hashtable_put(hashed_table(block), buf(block)->head_cells() + pos);
    }
    if (advance) series_set_index(block, pos + 1);
}

void block_insert_from_stack() { block_insert_value(stack_arg(0) - 1, stack_arg(0), false, false); }
void block_append_from_stack() { block_append_value(stack_arg(0) - 1, stack_arg(0)); }

ValueCell* block_append_value(ValueCell* block, const ValueCell* value) {
    ValueCell* c = block_append_cell(block, value);
    if (is_hash(block)) c = hashtable_put(hashed_table(block), c);
    return c;
}

ValueCell* block_make_at(ValueCell* cell, u32 n) {
    Node node = alloc_cells(n < 1 ? 1 : n);
    cell_init(cell, TYPE_BLOCK, 0, node);
    return cell;
}

ValueCell* block_make_at_ex(ValueCell* cell, u32 n, bool fixed) {
    if (!fixed) return block_make_at(cell, n);
    Node node = alloc_series_fixed(n < 1 ? 1 : n, 16, 0);
    cell_init(cell, TYPE_BLOCK, 0, node);
    return cell;
}

namespace {
// A new block (fixed or not) in a new cell at the parent's tail, or in the
// scratch cell. The parent's tail cell is made first and found again by
// position after the allocation, which may move the parent.
ValueCell* make_in(ValueCell* parent, u32 n, bool fixed) {
    if (!parent) return block_make_at_ex(&g_block_scratch, n, fixed);
    block_alloc_tail(parent);
    u32 pos = static_cast<u32>(cells_of(buf(parent)) - 1);
    ValueCell tmp;
    block_make_at_ex(&tmp, n, fixed);
    ValueCell* c = block_cell_at(parent, pos);
    *c = tmp;
    return c;
}
}  // namespace

ValueCell* block_make_in(ValueCell* parent, u32 n) { return make_in(parent, n, false); }
ValueCell* block_push_new(u32 n) {
    ValueCell* c = unset_push();
    return block_make_at(c, n);
}

// ---- cycle guard -------------------------------------------------------------------------

bool cycles_detect(const ValueCell* value, ValueCell* out, i32* limit, bool mold) {
    u32 t = value->type();
    Node n = t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT ? context_of(value) : series_node(value);
    if (!cycles_find(n)) return false;
    const char* text = "...";
    if (mold) {
        switch (t) {
            case TYPE_BLOCK: case TYPE_HASH: text = "[...]"; break;
            case TYPE_PAREN: text = "(...)"; break;
            case TYPE_MAP: text = "#[...]"; break;
            case TYPE_OBJECT: text = "make object! [...]"; break;
            default: text = "..."; break;
        }
    }
    string_append_cstr(out, text);
    *limit -= static_cast<i32>(std::strlen(text));
    return true;
}

// ---- make and to ----------------------------------------------------------------------------

namespace {
ValueCell* from_service(ValueCell* (*fn)(ValueCell*), ValueCell* spec, u32 type) {
    ValueCell* r = fn(spec);
    cell_set_type(r, type);
    return r;
}
}  // namespace

ValueCell* block_make_sized(ValueCell* spec, u32 type) {
    constexpr i64 most = 0x7FFFFFF;  // a room hint, not a promise
    i64 n;
    if (spec->type() == TYPE_INTEGER) {
        n = dt::int_get(spec);
    } else {
        double d = spec->get_float();
        if (std::isnan(d)) {
            ValueCell* dt = datatype_push(type);
            fire(Err::script_bad_make_arg, dt, spec);
        }
        n = d <= 0.0 ? 0 : d >= double(most) ? most : static_cast<i64>(d);
    }
    ValueCell* out = block_push_new(n < 1 ? 1 : static_cast<u32>(n > most ? most : n));
    out->header = type;
    return out;
}

ValueCell* block_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (type_block_like(st)) {
        ValueCell* out = unset_push();
        block_clone(spec, out, false, false);
        out->header = type;
        return out;
    }
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) return block_make_sized(spec, type);
    if (st == TYPE_OBJECT) return from_service(object_body_of, spec, type);
    if (st == TYPE_MAP) return from_service(map_body_of, spec, type);
    if (st == TYPE_VECTOR) return from_service(vector_to_block, spec, type);
    (void)proto;
    ValueCell* dt = datatype_push(type);
    fire(Err::script_bad_make_arg, dt, spec);
}

ValueCell* block_to(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (st == TYPE_OBJECT || st == TYPE_MAP || st == TYPE_VECTOR || type_block_like(st))
        return block_make(proto, spec, type);
    if (st == TYPE_STRING) {
        ValueCell* out = unset_push();
        i32 consumed = 0;
        g_services.lexer_scan_string(spec, out, -1, &consumed);
        out->header = type;
        return out;
    }
    if (st == TYPE_TYPESET) {
        ValueCell* out = block_push_new(8);
        typeset_to_block(spec, out);
        out->header = type;
        return out;
    }
    ValueCell v = *spec;
    ValueCell* out = block_push_new(1);
    block_append_cell(out, &v);
    out->header = type;
    return out;
}

// ---- form and mold -----------------------------------------------------------------------------

namespace {
bool ends_with_break(ValueCell* out) {
    SeriesBuffer* b = series_of(out);
    if (b->tail == b->head) return false;
    u32 u = b->unit();
    u32 cp = string_get_char(b->tail_ptr() - u, u);
    return cp == '\t' || cp == '\n' || cp == '\r';
}
}  // namespace

i32 block_form(ValueCell* block, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    if (cycles_detect(block, out, &limit, false)) return limit;
    CycleScope scope;
    cycles_push(series_node(block));
    i32 n = block_length(block);
    i32 start = series_index(block) < 0 ? 0 : series_index(block);
    for (i32 i = 0; i < n; i++) {
        if (arg_limit && limit <= 0) break;
        if (i >= block_length(block)) break;  // shrunk by a form
        if (i > 0 && !ends_with_break(out)) {
            string_append_char(out, ' ');
            limit--;
            if (arg_limit && limit <= 0) break;
        }
        ValueCell* c = stack_push(block_cell_at(block, static_cast<u32>(start + i)));
        limit = action_form_dispatch(c, out, arg_limit, limit);
        stack_pop(1);
    }
    return limit;
}

i32 block_mold_values(ValueCell* block, ValueCell* out, bool only, bool all, bool flat,
                      ValueCell* arg_limit, i32 limit, i32 indent) {
    CycleScope scope;
    cycles_push(series_node(block));
    i32 start = series_index(block) < 0 ? 0 : series_index(block);
    i32 n = block_length(block);
    bool raised = false;  // the indent rose for this block: a closing line is due
    i32 level = indent;
    for (i32 i = 0; i < n; i++) {
        if (arg_limit && limit <= 0) break;
        if (start + i >= cells_of(buf(block))) break;
        // The separators below may collect and move the block's buffer:
        // the cell is read again after them.
        bool new_line = block_cell_at(block, static_cast<u32>(start + i))->new_line();
        if (!flat && new_line) {
            if (!raised && !only) {
                level++;
                raised = true;
            }
            if (!(i == 0 && only)) {
                string_append_char(out, '\n');
                limit--;
            }
            limit = mold_indent(out, level, limit);
        } else if (i > 0) {
            string_append_char(out, ' ');
            limit--;
        }
        ValueCell* v = stack_push(block_cell_at(block, static_cast<u32>(start + i)));
        limit = action_mold_dispatch(v, out, false, all, flat, arg_limit, limit, level);
        stack_pop(1);
    }
    if (raised && !(arg_limit && limit <= 0)) {
        string_append_char(out, '\n');
        limit--;
        limit = mold_indent(out, indent, limit);
    }
    return limit;
}

i32 block_mold(ValueCell* block, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent) {
    if (cycles_detect(block, out, &limit, true)) return limit;
    if (!only) {
        string_append_char(out, '[');
        limit--;
    }
    limit = block_mold_values(block, out, only, all, flat, arg_limit, limit, indent);
    if (!only) {
        string_append_char(out, ']');
        limit--;
    }
    return limit;
}

// ---- compare -------------------------------------------------------------------------------------

i32 block_compare(ValueCell* block1, ValueCell* block2, i32 op) {
    u32 t1 = block1->type(), t2 = block2->type();
    if (t1 != t2) {
        bool paths = (t1 == TYPE_PATH && t2 == TYPE_LIT_PATH) || (t1 == TYPE_LIT_PATH && t2 == TYPE_PATH);
        if (!(paths && (op == CMP_WORD_EXACT || op == CMP_WORD_FOLDED))) return CMP_NOT_COMPARABLE;
    }
    if (op == CMP_SAME) return series_node(block1) == series_node(block2) && series_index(block1) == series_index(block2) ? 0 : -1;
    if (series_node(block1) == series_node(block2) && series_index(block1) == series_index(block2)) return 0;
    if (cycles_find(series_node(block1))) return cycles_find(series_node(block2)) ? 0 : -1;
    i32 l1 = block_length(block1), l2 = block_length(block2);
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
                    op == CMP_WORD_EXACT || op == CMP_WORD_FOLDED || op == CMP_FIND;
    if (l1 != l2 && equality) return 1;
    CycleScope scope;
    cycles_push(series_node(block1));
    cycles_push(series_node(block2));
    i32 n = l1 < l2 ? l1 : l2;
    i32 s1 = series_index(block1), s2 = series_index(block2);
    for (i32 i = 0; i < n; i++) {
        if (s1 + i >= cells_of(buf(block1)) || s2 + i >= cells_of(buf(block2))) break;
        ValueCell* a = stack_push(block_cell_at(block1, static_cast<u32>(s1 + i)));
        ValueCell* b = stack_push(block_cell_at(block2, static_cast<u32>(s2 + i)));
        u32 ta = a->type(), tb = b->type();
        i32 r;
        if (ta != tb && !(any_word_type_q(ta) && any_word_type_q(tb)) &&
            !(dt::is_number(ta) && dt::is_number(tb))) {
            r = ta < tb ? -1 : 1;
        } else {
            r = action_compare_int(a, b, op);
        }
        stack_pop(2);
        if (r != 0) return r;
    }
    return l1 < l2 ? -1 : l1 > l2 ? 1 : 0;
}

// ---- insert and append -----------------------------------------------------------------------------

void block_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup, bool append) {
    bool spread = type_block_like(value->type()) && !only;
    if (append && dup <= 1 && block_append_quick(series, value, only, stack_result())) return;
    i32 count = 1;
    if (spread) {
        count = block_length(value);
        if (count == 0) {
            *stack_result() = *series;
            return;
        }
        if (part >= 0 && part < count) count = part;
    }
    SeriesBuffer* b = buf(series);
    i32 len = cells_of(b);
    if (series_index(series) > len) series_set_index(series, len);
    i32 pos = append ? len : series_index(series);
    if (pos < 0) pos = 0;
    u64 total = u64(count) * u64(dup < 1 ? 1 : dup);
    if (total > 0x7FFFFFFu) fire(Err::internal_no_memory);
    u64 used = b->used_bytes();
    u64 need = used + total * 16;
    if (need > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    ensure_room(series, need, dup < 5 ? need * 2 : need);

    ValueCell* word = append ? g_words.n.append : g_words.insert;
    bool owned = series_announce(series, word, value, pos, static_cast<i32>(total));

    // Copy the new cells only now: nothing allocates from here on, and the
    // source may share the buffer. A few cells are copied through a local
    // array (the common single value needs no heap allocation).
    constexpr i32 LOCAL_CELLS = 8;
    ValueCell local[LOCAL_CELLS];
    std::vector<ValueCell> heap_cells;
    ValueCell* cells = local;
    if (count > LOCAL_CELLS) {
        heap_cells.resize(static_cast<size_t>(count));
        cells = heap_cells.data();
    }
    if (spread) std::memcpy(cells, block_head_ptr(value), static_cast<size_t>(count) * 16);
    else cells[0] = *value;

    b = buf(series);
    len = cells_of(b);
    if (pos > len) pos = len;
    ValueCell* at = b->head_cells() + pos;
    bool rebuild = false;
    if (pos < len) {
        std::memmove(at + total, at, static_cast<size_t>(len - pos) * 16);
        if (is_hash(series)) {
            rebuild = hashtable_shift_indexes(hashed_table(series), static_cast<i32>(total), pos,
                                              len - pos) == 1;
            // Shifting the index may allocate, and so move this buffer.
            b = buf(series);
            at = b->head_cells() + pos;
        }
    }
    if (count == 1) *at = cells[0];
    else std::memcpy(at, cells, static_cast<size_t>(count) * 16);
    if (total > static_cast<u64>(count))
        mem_replicate(reinterpret_cast<u8*>(at), static_cast<u32>(count) * 16,
                      static_cast<u32>(total / static_cast<u64>(count)));
    b->tail += static_cast<u32>(total) * 16;
    if (is_hash(series)) {
        if (rebuild) {
            hashtable_reset(hashed_table(series), len + static_cast<i32>(total));
        } else {
            for (u64 i = 0; i < total; i++) {
                i32 st = 0;
                hashtable_put_key(hashed_table(series), buf(series)->head_cells() + pos + i, &st);
                if (st == HASH_PUT_REBUILT) break;
            }
        }
    }
    if (owned) series_announce(series, append ? g_words.n.appended : g_words.n.inserted, value, pos,
                               static_cast<i32>(total));
    ValueCell r = *series;
    if (append) {
        series_set_index(&r, 0);
    } else {
        i32 after = pos + static_cast<i32>(total);
        i32 l = cells_of(buf(series));
        series_set_index(&r, after > l ? l : after);
    }
    *stack_result() = r;
}

// ---- change -------------------------------------------------------------------------------------------

void block_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup) {
    SeriesBuffer* b = buf(series);
    i32 len = cells_of(b);
    if (series_index(series) > len) series_set_index(series, len);
    i32 pos = series_index(series) < 0 ? 0 : series_index(series);
    i32 rem = len - pos;
    bool spread = type_block_like(value->type()) && !only;
    i32 n = spread ? block_length(value) : 1;
    i64 written = i64(n) * (dup < 1 ? 1 : dup);
    if (written > 0x7FFFFFF) fire(Err::internal_no_memory);
    i32 replaced = part >= 0 ? (part < rem ? part : rem)
                             : (written < rem ? static_cast<i32>(written) : rem);
    bool owned = series_announce(series, g_words.n.change, nullptr, pos, replaced);
    i64 newlen = i64(len) + written - replaced;
    if (newlen * 16 > 0x7FFFFFF0) fire(Err::internal_no_memory);
    ensure_room(series, static_cast<u64>(newlen) * 16, static_cast<u64>(newlen) * 16);

    std::vector<ValueCell> cells(static_cast<size_t>(n));
    if (n > 0) {
        if (spread) std::memcpy(cells.data(), block_head_ptr(value), static_cast<size_t>(n) * 16);
        else cells[0] = *value;
    }
    b = buf(series);
    len = cells_of(b);
    ValueCell* at = b->head_cells() + pos;
    if (written != replaced) {
        std::memmove(at + written, at + replaced, static_cast<size_t>(len - pos - replaced) * 16);
        b->tail = b->head + static_cast<u32>(newlen) * 16;
    }
    if (n > 0) {
        std::memcpy(at, cells.data(), static_cast<size_t>(n) * 16);
        if (written > n)
            mem_replicate(reinterpret_cast<u8*>(at), static_cast<u32>(n) * 16,
                          static_cast<u32>(written / n));
    }
    if (is_hash(series)) hashtable_reset(hashed_table(series), static_cast<i32>(newlen));
    if (owned) series_announce(series, g_words.n.changed, nullptr, pos, static_cast<i32>(written));
    ValueCell r = *series;
    i32 after = pos + static_cast<i32>(written);
    i32 l = cells_of(buf(series));
    series_set_index(&r, after > l ? l : after);
    *stack_result() = r;
}

// ---- copy and take ------------------------------------------------------------------------------------

namespace {
bool deep_copy_type(u32 t) { return type_series(t); }
}  // namespace

ValueCell* block_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                      ValueCell* types) {
    ValueCell* out = series_copy(value, fresh, part, deep, types);
    if (!deep && !types) return out;
    if (value->type() == TYPE_HASH) cell_set_type(out, TYPE_BLOCK);
    CycleScope scope;
    if (deep) {
        if (cycles_find(series_node(value))) fire(Err::internal_no_cycle);
        cycles_push(series_node(value));
    }
    i32 n = cells_of(buf(out));
    if (types) {
        block_copy_nested(out, 0, static_cast<u32>(n), types, deep);
    } else {
        for (i32 i = 0; i < n; i++) {
            ValueCell* c = block_cell_at(out, static_cast<u32>(i));
            if (!deep_copy_type(c->type())) continue;
            ValueCell* src = stack_push(c);
            ValueCell* f = unset_push();
            ValueCell* r = action_copy_dispatch(src, f, nullptr, true, nullptr);
            ValueCell keep = *r;
            keep.header = (keep.header & ~CELL_NEW_LINE) | (src->header & CELL_NEW_LINE);
            *block_cell_at(out, static_cast<u32>(i)) = keep;
            stack_pop(2);
        }
    }
    return out;
}

ValueCell* block_take(ValueCell* series, ValueCell* part, bool deep, bool last) {
    ValueCell* r = series_take(series, part, deep, last);
    if (r->type() == TYPE_NONE) return r;
    i32 n = cells_of(buf(r));
    if (deep) {
        for (i32 i = 0; i < n; i++) {
            ValueCell* c = block_cell_at(r, static_cast<u32>(i));
            if (!deep_copy_type(c->type())) continue;
            ValueCell* src = stack_push(c);
            ValueCell* f = unset_push();
            ValueCell* copy = action_copy_dispatch(src, f, nullptr, true, nullptr);
            ValueCell keep = *copy;
            keep.header = (keep.header & ~CELL_NEW_LINE) | (src->header & CELL_NEW_LINE);
            *block_cell_at(r, static_cast<u32>(i)) = keep;
            stack_pop(2);
        }
    }
    if (!part && n == 1) {
        ValueCell v = *block_cell_at(r, 0);
        *r = v;
    }
    return r;
}

// ---- swap and trim --------------------------------------------------------------------------------------

void block_swap(ValueCell* series1, ValueCell* series2) {
    if (!type_block_like(series2->type())) fire(Err::script_invalid_arg, series2);
    if (!block_at_tail_q(series1) && !block_at_tail_q(series2)) {
        i32 i1 = series_index(series1), i2 = series_index(series2);
        bool o1 = series_announce(series1, g_words.n.swap, nullptr, i1, 1);
        bool o2 = series_announce(series2, g_words.n.swap, nullptr, i2, 1);
        ValueCell* a = block_cell_at(series1, static_cast<u32>(i1));
        ValueCell* b = block_cell_at(series2, static_cast<u32>(i2));
        if (is_hash(series1)) hashtable_delete(hashed_table(series1), a);
        if (is_hash(series2)) hashtable_delete(hashed_table(series2), b);
        ValueCell t = *a;
        *a = *b;
        *b = t;
        if (is_hash(series1)) hashtable_put(hashed_table(series1), block_cell_at(series1, static_cast<u32>(i1)));
        if (is_hash(series2)) hashtable_put(hashed_table(series2), block_cell_at(series2, static_cast<u32>(i2)));
        if (o1) series_announce(series1, g_words.n.swaped, nullptr, i1, 1);
        if (o2) series_announce(series2, g_words.n.swaped, nullptr, i2, 1);
    }
    *stack_result() = *series1;
}

void block_trim(ValueCell* series, bool, bool, bool, bool, bool, ValueCell*) {
    i32 idx = series_index(series) < 0 ? 0 : series_index(series);
    bool owned = series_announce(series, g_words.n.trim, nullptr, idx, 0);
    SeriesBuffer* b = buf(series);
    ValueCell* from = b->head_cells() + (idx > cells_of(b) ? cells_of(b) : idx);
    ValueCell* to = from;
    ValueCell* end = b->tail_cells();
    for (ValueCell* c = from; c < end; c++)
        if (c->type() != TYPE_NONE) *to++ = *c;
    b->tail = heap_off(to);
    if (is_hash(series)) hashtable_reset(hashed_table(series), cells_of(b));
    if (owned) series_announce(series, g_words.n.trimmed, nullptr, idx, 0);
    *stack_result() = *series;
}

// ---- registration ------------------------------------------------------------------------------------------

void block_init() {
    ActionRow row;
    row.set<ACT_MAKE>(block_make)
        .set<ACT_TO>(block_to)
        .set<ACT_FORM>(block_form)
        .set<ACT_MOLD>(block_mold)
        .set<ACT_EVAL_PATH>(block_eval_path)
        .set<ACT_COMPARE>(block_compare)
        .set<ACT_APPEND>(block_insert)
        .set<ACT_INSERT>(block_insert)
        .set<ACT_CHANGE>(block_change)
        .set<ACT_COPY>(block_copy)
        .set<ACT_FIND>(block_find)
        .set<ACT_PUT>(block_put)
        .set<ACT_SELECT>(block_select)
        .set<ACT_SORT>(block_sort)
        .set<ACT_SWAP>(block_swap)
        .set<ACT_TAKE>(block_take)
        .set<ACT_TRIM>(block_trim)
        .inherit({ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_HEAD, ACT_HEAD_Q,
                  ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE,
                  ACT_REVERSE, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_BLOCK, row);
}

}  // namespace zan

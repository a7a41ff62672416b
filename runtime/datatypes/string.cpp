// string!: storage in 1-, 2- or 4-byte units, the code-point primitives and
// the series actions of the text types. The text forms are in
// string_form.cpp.
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/core/case_folding.h"
#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
// The three valid units inline; anything else goes to the checking form.
inline u32 ushift(u32 unit) {
    if (unit == 1) return 0;
    if (unit == 2) return 1;
    if (unit == 4) return 2;
    return unicode_unit_shift(unit);
}
inline i32 units_of(const SeriesBuffer* b) {
    return static_cast<i32>(b->used_bytes() >> ushift(b->unit()));
}
inline i32 clamped_index(const ValueCell* s) {
    i32 idx = series_index(s);
    i32 len = units_of(series_of(s));
    return idx > len ? len : idx < 0 ? 0 : idx;
}

// Room for extra bytes after the tail; the buffer may move. Growth doubles
// the capacity, or takes exactly what is needed when that is more.
SeriesBuffer* ensure_tail_room(SeriesBuffer* b, u64 extra) {
    u64 cap = b->end_ref() - b->head;
    u64 need = u64(b->used_bytes()) + extra;
    if (need <= cap) return b;
    u64 grow = cap * 2 > need ? cap * 2 : need;
    if (grow > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    Node n = b->node;
    series_expand(b, static_cast<u32>((grow + 15) & ~u64(15)));
    return node_buffer(n);
}

// A read-only view of text: a string-like cell from its index, or the
// cached string of a symbol! from 0.
struct TextView {
    const u8* p;
    u32 unit;
    i32 len;
};
TextView view_of(const ValueCell* v) {
    ValueCell tmp;
    const ValueCell* s = v;
    if (v->type() == TYPE_SYMBOL) {
        ValueCell sym = *v;
        symbol_cache_string(&sym);
        cell_init(&tmp, TYPE_STRING, 0, symbol_text_node(&sym));
        s = &tmp;
    }
    SeriesBuffer* b = series_of(s);
    i32 idx = clamped_index(s);
    u32 u = b->unit();
    return TextView{b->head_ptr() + (static_cast<u32>(idx) << ushift(u)), u,
                    units_of(b) - idx};
}

inline u32 fold(u32 cp) { return case_fold_fast(cp); }
}  // namespace

// ---- making ----------------------------------------------------------------------------------

ValueCell* string_make_at(ValueCell* cell, u32 capacity_bytes) {
    Node n = alloc_series(capacity_bytes ? capacity_bytes : 1, 1, 0);
    cell_init(cell, TYPE_STRING, 0, n, 0);
    return cell;
}

ValueCell* string_make_at_unit(ValueCell* cell, u32 capacity_units, u32 unit) {
    ushift(unit);  // rejects a bad unit
    Node n = alloc_series(capacity_units ? capacity_units : 1, unit, 0);
    cell_init(cell, TYPE_STRING, 0, n, 0);
    return cell;
}

ValueCell* string_push_new(u32 capacity_bytes) {
    ValueCell* c = unset_push();
    return string_make_at(c, capacity_bytes);
}

void string_set_result(u32 capacity_bytes) { string_make_at(stack_result(), capacity_bytes); }

ValueCell* string_load_at(const void* source, u32 length, ValueCell* target, i32 encoding) {
    if (encoding != 0 && encoding != -1) {
        std::fflush(stdout);
        std::fputs("*** Loading Error: input encoding unsupported\n", stderr);
        std::fflush(stderr);
        std::exit(1);
    }
    // The target (kept where the collector sees it) becomes a new string,
    // then receives the decoded text.
    string_make_at(target, length ? length : 1);
    if (encoding == 0) {
        u32 left = 0;
        unicode_load_utf8_into(ByteSource(source), length, target, &left);
    } else {
        unicode_load_utf16(ByteSource(source), length, target, false);
    }
    series_set_index(target, 0);
    return target;
}

ValueCell* string_load_push(const void* source, u32 length, i32 encoding) {
    return string_load_at(source, length, unset_push(), encoding);
}

ValueCell* string_load(const void* source, u32 length, ValueCell* target, i32 encoding) {
    if (!target) return string_load_push(source, length, encoding);
    return string_load_at(source, length, target, encoding);
}

// ---- reading --------------------------------------------------------------------------------------

i32 string_length(const ValueCell* s) {
    i32 len = units_of(series_of(s));
    i32 idx = series_index(s);
    return idx >= len ? 0 : idx <= 0 ? len : len - idx;
}
i32 string_total_length(const ValueCell* s) { return units_of(series_of(s)); }

u8* string_head_ptr(ValueCell* s) {
    SeriesBuffer* b = series_of(s);
    i32 len = units_of(b);
    if (series_index(s) > len) series_set_index(s, len);
    i32 idx = series_index(s) < 0 ? 0 : series_index(s);
    return b->head_ptr() + (static_cast<u32>(idx) << ushift(b->unit()));
}

u8* string_tail_ptr(const ValueCell* s) { return series_of(s)->tail_ptr(); }

bool string_at_tail_q(ValueCell* s) { return string_head_ptr(s) >= string_tail_ptr(s); }

u32 string_get_char(const u8* address, u32 unit) { return unicode_get_unit(address, unit); }

u32 string_char_at(const ValueCell* s, u32 position) {
    SeriesBuffer* b = series_of(s);
    return unicode_get_unit(b->head_ptr() + (position << ushift(b->unit())), b->unit());
}

i32 string_index_of_char(ValueCell* s, u32 cp) {
    TextView v = view_of(s);
    for (i32 i = 0; i < v.len; i++)
        if (unicode_get_unit(v.p + (static_cast<u32>(i) << ushift(v.unit)), v.unit) == cp) return i;
    return -1;
}

bool string_starts_with_cstr(ValueCell* s, const char* text) {
    TextView v = view_of(s);
    i32 n = static_cast<i32>(std::strlen(text));
    if (v.len < n) return false;
    for (i32 i = 0; i < n; i++) {
        u32 c = unicode_get_unit(v.p + (static_cast<u32>(i) << ushift(v.unit)), v.unit);
        if (c > 255 || c != static_cast<u8>(text[i])) return false;
    }
    return true;
}

// ---- writing --------------------------------------------------------------------------------------

void string_clip_length(SeriesBuffer* buffer, u32 n) {
    u64 at = u64(buffer->head) + (u64(n) << ushift(buffer->unit()));
    if (at < buffer->tail) buffer->tail = static_cast<HeapRef>(at);
}
void string_clip_length(ValueCell* s, u32 n) { string_clip_length(series_of(s), n); }

SeriesBuffer* string_append_char(SeriesBuffer* buffer, u32 cp) {
    Node n = buffer->node;
    buffer = unicode_widen_for(buffer, cp);
    buffer = ensure_tail_room(node_buffer(n), buffer->unit());
    unicode_put_unit(buffer->tail_ptr(), buffer->unit(), cp);
    buffer->tail += buffer->unit();
    return buffer;
}

void string_append_char(ValueCell* s, u32 cp) { string_append_char(series_of(s), cp); }

SeriesBuffer* string_set_char(SeriesBuffer* buffer, u8* address, u32 cp) {
    u32 unit = buffer->unit();
    u32 pos = static_cast<u32>(address - buffer->head_ptr()) >> ushift(unit);
    buffer = unicode_widen_for(buffer, cp);
    unit = buffer->unit();
    unicode_put_unit(buffer->head_ptr() + (pos << ushift(unit)), unit, cp);
    return buffer;
}

SeriesBuffer* string_poke_char(SeriesBuffer* buffer, u32 position, u32 cp) {
    if (static_cast<i32>(position) >= units_of(buffer)) return string_append_char(buffer, cp);
    return string_set_char(buffer, buffer->head_ptr() + (position << ushift(buffer->unit())), cp);
}

SeriesBuffer* string_insert_char(SeriesBuffer* buffer, u32 position, u32 cp) {
    Node n = buffer->node;
    buffer = unicode_widen_for(buffer, cp);
    buffer = ensure_tail_room(node_buffer(n), buffer->unit());
    u32 unit = buffer->unit();
    u8* at = buffer->head_ptr() + (position << ushift(unit));
    std::memmove(at + unit, at, static_cast<size_t>(buffer->tail_ptr() - at));
    unicode_put_unit(at, unit, cp);
    buffer->tail += unit;
    return buffer;
}

void string_remove_part(SeriesBuffer* buffer, u32 position, u32 n) {
    u32 sh = ushift(buffer->unit());
    u32 len = static_cast<u32>(units_of(buffer));
    if (position >= len) return;
    if (position + n >= len) {
        buffer->tail = buffer->head + (position << sh);
        return;
    }
    u8* at = buffer->head_ptr() + (position << sh);
    std::memmove(at, at + (n << sh), static_cast<size_t>(len - position - n) << sh);
    buffer->tail -= n << sh;
}

void string_remove_char(SeriesBuffer* buffer, u32 position) {
    string_remove_part(buffer, position, 1);
}

void string_append_bytes(ValueCell* s, const void* bytes, u32 n) {
    if (!n) return;
    SeriesBuffer* b = series_of(s);
    const u8* src = static_cast<const u8*>(bytes);
    // Bytes inside the heap (a symbol's name, another series) slide when
    // growing the target collects: they are copied out first.
    std::vector<u8> held;
    u64 need = u64(n) << ushift(b->unit());
    if (heap_contains(src) && u64(b->used_bytes()) + need > b->end_ref() - b->head) {
        held.assign(src, src + n);
        src = held.data();
    }
    b = ensure_tail_room(b, need);
    u32 unit = b->unit();
    u8* to = b->tail_ptr();
    if (unit == 1) std::memcpy(to, src, n);
    else
        for (u32 i = 0; i < n; i++) unicode_put_unit(to + (i << ushift(unit)), unit, src[i]);
    b->tail += n << ushift(unit);
}

void string_append_cstr(ValueCell* s, const char* text) {
    string_append_bytes(s, text, static_cast<u32>(std::strlen(text)));
}

namespace {
// Appends count units (all with count < 0) of a string-like source from its
// index to the tail of a target of the same unit width when the target
// already has the room and is another buffer: one copy, nothing allocated.
// False when any of that does not hold (splice then does the work).
bool append_in_place(SeriesBuffer* b, i32 pos, const ValueCell* source, i32 count) {
    u32 unit = b->unit();
    if (pos < units_of(b)) return false;
    SeriesBuffer* sb = series_of(source);
    if (sb == b || sb->unit() != unit) return false;
    i32 slen = units_of(sb);
    i32 idx = series_index(source);
    idx = idx > slen ? slen : idx < 0 ? 0 : idx;
    i32 n = slen - idx;
    if (count >= 0 && count < n) n = count;
    u32 sh = ushift(unit);
    u64 bytes = u64(static_cast<u32>(n)) << sh;
    if (u64(b->used_bytes()) + bytes > u64(b->end_ref() - b->head)) return false;
    copy_short_bytes(b->tail_ptr(), sb->head_ptr() + (static_cast<u32>(idx) << sh), bytes);
    b->tail += static_cast<u32>(bytes);
    return true;
}

inline bool direct_text(u32 t) { return type_string_like(t) && t != TYPE_TAG; }

// Replaces `remove` units of the target at `pos` (units from its buffer
// head) by count units of the source text (from the source's index),
// `times` times over. The target is widened to the source's unit when that
// is wider; the source may share the target's buffer.
void splice(ValueCell* target, i32 pos, i32 remove, const ValueCell* source, i32 count,
            i32 times) {
    if (times < 1) times = 1;
    TextView sv = view_of(source);
    if (count < 0 || count > sv.len) count = sv.len;
    u32 su = sv.unit;
    // Keep a copy of the source units when they live in the target.
    std::vector<u8> copy;
    Node src_node = source->type() == TYPE_SYMBOL ? 0 : series_node(source);
    bool shared = src_node && src_node == series_node(target);
    if (shared) copy.assign(sv.p, sv.p + (static_cast<size_t>(count) << ushift(su)));
    SeriesBuffer* b = series_of(target);
    // Whether anything below allocated (and so may have moved the source).
    bool moved = false;
    if (su > b->unit()) {
        b = unicode_widen(b, su);
        moved = true;
    }
    b = series_of(target);
    u32 tu = b->unit();
    u32 tsh = ushift(tu);
    u64 add = u64(count) * u64(times);
    if (add > 0x7FFFFFFFu) fire(Err::internal_no_memory);
    i64 delta = static_cast<i64>(add) - remove;
    if (delta > 0) {
        SeriesBuffer* before = b;
        u64 cap = b->end_ref() - b->head;
        if (u64(b->used_bytes()) + (static_cast<u64>(delta) << tsh) > cap) moved = true;
        b = ensure_tail_room(b, static_cast<u64>(delta) << tsh);
        if (b != before) moved = true;
    }
    i32 len = units_of(b);
    if (pos > len) pos = len;
    if (remove > len - pos) remove = len - pos;
    u8* at = b->head_ptr() + (static_cast<u32>(pos) << tsh);
    size_t rest = static_cast<size_t>(len - pos - remove) << tsh;
    std::memmove(at + (add << tsh), at + (static_cast<u32>(remove) << tsh), rest);
    const u8* from = shared ? copy.data() : moved ? view_of(source).p : sv.p;
    if (su == tu)
        std::memcpy(at, from, static_cast<size_t>(count) << tsh);
    else
        for (i32 i = 0; i < count; i++)
            unicode_put_unit(at + (static_cast<u32>(i) << tsh), tu,
                             unicode_get_unit(from + (static_cast<u32>(i) << ushift(su)), su));
    if (times > 1)
        mem_replicate(at, static_cast<u32>(count) << tsh, static_cast<u32>(times));
    b->tail = static_cast<HeapRef>(b->tail + (delta << static_cast<i64>(tsh)));
}
}  // namespace

void string_concatenate(ValueCell* target, const ValueCell* source, i32 count, i32 position,
                        bool, i32 mode) {
    i32 base = clamped_index(target);
    i32 len = units_of(series_of(target));
    if (mode == CONCAT_APPEND) {
        splice(target, len, 0, source, count, 1);
    } else if (mode == CONCAT_INSERT) {
        splice(target, base + position, 0, source, count, 1);
    } else {
        TextView sv = view_of(source);
        i32 n = count < 0 || count > sv.len ? sv.len : count;
        i32 at = base + position;
        i32 over = len - at < n ? len - at : n;
        splice(target, at, over < 0 ? 0 : over, source, n, 1);
    }
}

void string_move(ValueCell* source, ValueCell* target, i32 count) {
    i32 si = clamped_index(source);
    i32 ti = clamped_index(target);
    for (i32 i = 0; i < count; i++) {
        u32 cp = string_char_at(source, static_cast<u32>(si + i));
        string_insert_char(series_of(target), static_cast<u32>(ti + i), cp);
    }
    string_remove_part(series_of(source), static_cast<u32>(si), static_cast<u32>(count));
}

// ---- comparison -------------------------------------------------------------------------------------

i32 string_compare_values(const ValueCell* a, const ValueCell* b, i32 op, bool match_mode) {
    if (op == CMP_SAME)
        return series_same_place(a, b) && a->type() == b->type() ? 0 : -1;
    if (series_same_place(a, b) && a->type() != TYPE_SYMBOL &&
        b->type() != TYPE_SYMBOL &&
        (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND))
        return 0;
    TextView va = view_of(a);
    TextView vb = view_of(b);
    i32 la = va.len, lb = vb.len;
    if (!match_mode) {
        if (la != lb) {
            if (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
                op == CMP_FIND || lb == 0)
                return 1;
        }
    } else {
        if (lb == 0) return op == CMP_FIND ? 1 : 0;
        if (la < lb) return 1;
    }
    if (la == 0 && lb == 0) return 0;
    bool fold_case = !(op == CMP_STRICT_EQUAL || op == CMP_SORT_CASE);
    i32 n = la < lb ? la : lb;
    if (va.unit == 1 && vb.unit == 1) {
        int r = case_fold_compare_bytes(va.p, vb.p, static_cast<size_t>(n), fold_case);
        if (r) return r;
        n = 0;
    }
    for (i32 i = 0; i < n; i++) {
        u32 ca = unicode_get_unit(va.p + (static_cast<u32>(i) << ushift(va.unit)), va.unit);
        u32 cb = unicode_get_unit(vb.p + (static_cast<u32>(i) << ushift(vb.unit)), vb.unit);
        if (fold_case) {
            ca = fold(ca);
            cb = fold(cb);
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    if (match_mode) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---- parse helpers ------------------------------------------------------------------------------------

bool string_char_in_bitset_q(ValueCell* s, const ValueCell* bitset) {
    if (string_at_tail_q(s)) return false;
    u32 cp = string_char_at(s, static_cast<u32>(clamped_index(s)));
    SeriesBuffer* b = series_of(bitset);
    u32 bits = b->used_bytes() * 8;
    if (cp >= bits) return (b->flags & SERIES_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80u >> (cp & 7))) != 0;
}

bool string_match_tag_q(ValueCell* s, const ValueCell* tag) {
    TextView v = view_of(s);
    i32 n = string_length(tag);
    if (v.len < n + 2) return false;
    return unicode_get_unit(v.p, v.unit) == '<' &&
           unicode_get_unit(v.p + (static_cast<u32>(n + 1) << ushift(v.unit)), v.unit) == '>';
}

bool string_match_value(ValueCell* s, const ValueCell* value, bool case_sensitive) {
    u32 t = value->type();
    if (t == TYPE_CHAR) {
        if (string_at_tail_q(s)) return false;
        u32 c = string_char_at(s, static_cast<u32>(clamped_index(s)));
        u32 w = dt::char_get(value);
        return case_sensitive ? c == w : fold(c) == fold(w);
    }
    if (t == TYPE_TAG) {
        if (!string_match_tag_q(s, value)) return false;
        ValueCell inner = *s;
        series_set_index(&inner, clamped_index(s) + 1);
        return string_compare_values(&inner, value, case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL,
                                     true) == 0;
    }
    if (type_string_like(t))
        return string_compare_values(s, value, case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL,
                                     true) == 0;
    return false;
}

// ---- make and to -------------------------------------------------------------------------------------

namespace {
// Forms a value and appends its text, under a /part budget (-1: none);
// returns the budget left (unchanged when there is none).
i32 form_into(ValueCell* out, ValueCell* value, i32 budget) {
    ValueCell lim;
    ValueCell* v = stack_push(value);
    if (budget < 0) {
        action_form_dispatch(v, out, nullptr, FORM_NO_LIMIT);
        stack_pop(1);
        return -1;
    }
    dt::int_box(&lim, budget);
    SeriesBuffer* b = series_of(out);
    i32 before = units_of(b);
    i32 left = action_form_dispatch(v, out, &lim, budget);
    stack_pop(1);
    // Text written past the limit is cut back.
    string_clip_length(series_of(out), static_cast<u32>(before + budget));
    return left;
}

ValueCell* binary_of_bytes(const u8* p, u32 n) {
    ValueCell* c = unset_push();
    Node node = alloc_bytes(n ? n : 1);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head_ptr(), p, n);
    b->tail = b->head + n;
    cell_init(c, TYPE_BINARY, 0, node, 0);
    return c;
}
}  // namespace

ValueCell* string_to(ValueCell*, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (st == TYPE_NONE) {
        ValueCell* dt = datatype_push(type);
        fire(Err::script_bad_to_arg, dt, spec);
    }
    ValueCell* out;
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
        out = string_push_new(16);
        ValueCell blk = *spec;
        i32 n = series_buffer_length(&blk);
        i32 start = series_index(&blk) < 0 ? 0 : series_index(&blk);
        for (i32 i = start; i < n; i++) {
            ValueCell* c = series_of(spec)->head_cells() + i;
            ValueCell v = *c;
            form_into(out, &v, -1);
        }
    } else if (type_string_like(st)) {
        out = series_copy(spec, unset_push(), nullptr, false, nullptr);
    } else if (st == TYPE_REFINEMENT) {
        out = string_push_new(16);
        ValueCell* v = stack_push(spec);
        if (type == TYPE_STRING) action_form_dispatch(v, out, nullptr, FORM_NO_LIMIT);
        else action_mold_dispatch(v, out, false, false, false, nullptr, FORM_NO_LIMIT, 0);
        stack_pop(1);
    } else if (st == TYPE_BINARY) {
        out = string_push_new(16);
        SeriesBuffer* b = series_of(spec);
        i32 idx = series_index(spec);
        i32 len = static_cast<i32>(b->used_bytes());
        if (idx > len) idx = len;
        if (idx < 0) idx = 0;
        u32 n = static_cast<u32>(len - idx);
        u32 left = 0;
        unicode_load_utf8_into(ByteSource::series(series_node(spec), static_cast<u32>(idx)), n, out,
                               &left);
        if (left) {
            SeriesBuffer* sb = series_of(spec);
            ValueCell* bin = binary_of_bytes(sb->head_ptr() + idx + (n - left), left);
            fire(Err::access_invalid_utf8, bin);
        }
    } else {
        out = string_push_new(16);
        ValueCell v = *spec;
        form_into(out, &v, -1);
    }
    cell_set_type(out, type);
    return out;
}

ValueCell* string_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        i32 n = st == TYPE_INTEGER ? dt::int_get(spec) : rt_to_integer(spec);
        if (n < 0) fire(Err::script_out_of_range, spec);
        ValueCell* out = string_push_new(static_cast<u32>(n));
        cell_set_type(out, type);
        return out;
    }
    if (type == TYPE_BINARY) {
        if (st == TYPE_MONEY) {
            ValueCell* dt = datatype_push(type);
            fire(Err::script_bad_make_arg, dt, spec);
        }
        auto to = action_entry_as<ACT_TO>(TYPE_BINARY);
        if (!to) action_lookup(TYPE_BINARY, proto, ACT_TO);
        return to(proto, spec, type);
    }
    return string_to(proto, spec, type);
}

// ---- eval-path ------------------------------------------------------------------------------------------

ValueCell* string_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                            ValueCell* path, ValueCell*, ValueCell*, i32, bool case_sensitive,
                            bool, bool, bool) {
    u32 et = element->type();
    if (et == TYPE_INTEGER) {
        if (!value) return action_pick_dispatch(parent, dt::int_get(element), element);
        action_poke_dispatch(parent, dt::int_get(element), value, element);
        return value;
    }
    if (et == TYPE_WORD) fire(Err::script_invalid_path, path, element);
    if (!value)
        return action_select_dispatch(parent, element, nullptr, false, case_sensitive, false, false,
                                      nullptr, nullptr, false, false);
    // Setting through a key does what put does on a block: the value lands
    // right after the whole match (never inside it), or is appended when the
    // match ends the string.
    ValueCell* found = action_find_dispatch(parent, element, nullptr, false, case_sensitive, false,
                                            false, nullptr, nullptr, false, false, true, false);
    if (found->type() == TYPE_NONE) fire(Err::script_bad_path_set, path, element);
    if (value->type() != TYPE_CHAR) fire(Err::script_invalid_arg, value);
    ValueCell after = *found;
    i32 pos = clamped_index(&after);
    string_poke_char(series_of(&after), static_cast<u32>(pos), dt::char_get(value));
    return value;
}

// ---- compare ------------------------------------------------------------------------------------------------

i32 string_compare(ValueCell* a, ValueCell* b, i32 op) {
    if (a->type() != b->type()) {
        if (!type_string_like(b->type()) || (op != CMP_EQUAL && op != CMP_NOT_EQUAL))
            return CMP_NOT_COMPARABLE;
    }
    return string_compare_values(a, b, op, false);
}

// ---- append, insert and change ---------------------------------------------------------------------------------

namespace {
// The text that append/insert/change put in for a value, as a string on the
// data stack; part counts as append's /part does (-1: all).
ValueCell* text_of_value(ValueCell* value, i32 part, bool only) {
    ValueCell v = *value;
    u32 t = v.type();
    ValueCell* out = string_push_new(16);
    if (t == TYPE_TAG) {
        i32 budget = part;
        if (budget != 0) {
            string_append_char(out, '<');
            if (budget > 0) budget--;
        }
        if (budget != 0) {
            ValueCell tv = v;
            cell_set_type(&tv, TYPE_STRING);
            splice(out, units_of(series_of(out)), 0, &tv, budget < 0 ? -1 : budget, 1);
            i32 n = string_length(&tv);
            if (budget > 0) budget = budget > n ? budget - n : 0;
        }
        if (budget != 0) string_append_char(out, '>');
    } else if (t == TYPE_CHAR) {
        string_append_char(out, dt::char_get(&v));
    } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        i32 len = series_buffer_length(&v);
        i32 start = series_index(&v) < 0 ? 0 : series_index(&v);
        i32 n = part;
        for (i32 i = start; i < len; i++) {
            if (part >= 0 && n < 1) break;
            ValueCell e = series_of(&v)->head_cells()[i];
            if (!only) {
                form_into(out, &e, -1);
                if (part >= 0) n--;
            } else {
                n = form_into(out, &e, part >= 0 ? n : -1);
                if (part < 0) n = -1;
            }
        }
    } else {
        form_into(out, &v, part);
    }
    return out;
}
}  // namespace

bool string_append_quick(ValueCell* series, const ValueCell* value, ValueCell* result) {
    u32 vt = value->type();
    if (vt != TYPE_STRING && !direct_text(vt)) return false;
    SeriesBuffer* b = series_of(series);
    SeriesBuffer* sb = series_of(value);
    u32 flags = b->flags;
    if ((flags & SERIES_OWNED) || sb == b) return false;
    if ((flags & SERIES_UNIT_MASK) == 1 && (sb->flags & SERIES_UNIT_MASK) == 1) {
        // Bytes to bytes, the usual case, without the unit arithmetic.
        i32 idx = series_index(value);
        u32 slen = sb->used_bytes();
        u32 from = idx <= 0 ? 0 : static_cast<u32>(idx) < slen ? static_cast<u32>(idx) : slen;
        u32 bytes = slen - from;
        if (u64(b->tail) + bytes > b->end_ref()) return false;
        copy_short_bytes(b->tail_ptr(), sb->head_ptr() + from, bytes);
        b->tail += bytes;
    } else if (!append_in_place(b, units_of(b), value, -1)) {
        return false;
    }
    *result = *series;
    series_set_index(result, 0);
    return true;
}

namespace {
// string_insert with its result into *result.
void insert_text(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup, bool append,
                 ValueCell* result) {
    ValueCell* saved_top = g_stack.top;
    i32 len = units_of(series_of(series));
    if (series_index(series) > len) series_set_index(series, len);
    i32 pos = append ? len : clamped_index(series);
    bool at_tail = pos >= len;
    ValueCell* text;
    i32 count;
    if (direct_text(value->type())) {
        text = value;
        count = part;
    } else {
        text = text_of_value(value, part, only);
        count = -1;
    }
    i32 n = string_length(text);
    if (count >= 0 && count < n) n = count;
    i32 times = dup < 1 ? 1 : dup;
    if (u64(n) * u64(times) > 0x7FFFFFFFu) fire(Err::internal_no_memory);
    ValueCell* word = append ? g_words.n.append : g_words.insert;
    i32 part_arg = part < 0 ? -1 : part;
    bool owned = series_announce(series, word, value, pos, part_arg);
    bool done = times == 1 && text->type() != TYPE_SYMBOL &&
                append_in_place(series_of(series), pos, text, n);
    if (!done) splice(series, pos, 0, text, n, times);
    if (owned)
        series_announce(series, append ? g_words.n.appended : g_words.n.inserted, value, pos,
                        part_arg < 0 ? 1 : part_arg);
    ValueCell r = *series;
    g_stack.top = saved_top;
    if (append) {
        series_set_index(&r, 0);
    } else {
        i32 after = pos + n * times;
        i32 l = units_of(series_of(&r));
        series_set_index(&r, at_tail ? l : (after > l ? l : after));
    }
    *result = r;
}
}  // namespace

void string_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append) {
    insert_text(series, value, part, only, dup, append, stack_result());
}

bool string_append_growing(ValueCell* series, ValueCell* value, ValueCell* result) {
    if (string_append_quick(series, value, result)) return true;
    u32 vt = value->type();
    SeriesBuffer* b = series_of(series);
    // No owner to tell, and far below the sizes whose growth raises an
    // error (even with the text widened to four bytes a unit).
    if (vt != TYPE_CHAR && !direct_text(vt)) return false;
    u64 bytes = vt == TYPE_CHAR ? 4 : series_of(value)->used_bytes();
    if ((b->flags & SERIES_OWNED) || u64(b->used_bytes()) + bytes > 0x07FFFFFFu) return false;
    // (On the data stack across the allocation, as a call's arguments are.)
    ValueCell* saved_top = g_stack.top;
    ValueCell* s = stack_push(series);
    ValueCell* v = stack_push(value);
    if (vt == TYPE_CHAR) {
        // The char's one unit, as insert leaves it, without making its text.
        string_append_char(b, char_get(v));
        *result = *s;
        series_set_index(result, 0);
    } else {
        insert_text(s, v, -1, false, -1, true, result);
    }
    g_stack.top = saved_top;
    return true;
}

void string_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup) {
    ValueCell* saved_top = g_stack.top;
    i32 len = units_of(series_of(series));
    if (series_index(series) > len) series_set_index(series, len);
    i32 pos = clamped_index(series);
    ValueCell* text = direct_text(value->type()) ? value : text_of_value(value, -1, only);
    i32 n = string_length(text);
    i32 times = dup < 1 ? 1 : dup;
    u64 total = u64(n) * u64(times);
    if (total > 0x7FFFFFFFu) fire(Err::internal_no_memory);
    i32 rem = len - pos;
    i32 replaced = part >= 0 ? (part < rem ? part : rem)
                             : (static_cast<i64>(total) < rem ? static_cast<i32>(total) : rem);
    bool owned = series_announce(series, g_words.n.change, nullptr, pos, replaced);
    splice(series, pos, replaced, text, n, times);
    if (owned) series_announce(series, g_words.n.changed, nullptr, pos, static_cast<i32>(total));
    ValueCell r = *series;
    g_stack.top = saved_top;
    i32 after = pos + static_cast<i32>(total);
    i32 l = units_of(series_of(&r));
    series_set_index(&r, after > l ? l : after);
    *stack_result() = r;
}

// ---- swap and take ---------------------------------------------------------------------------------------------

void string_swap(ValueCell* a, ValueCell* b) {
    if (!type_string_like(b->type()) && b->type() != TYPE_BINARY)
        fire(Err::script_invalid_arg, b);
    if (!string_at_tail_q(a) && !string_at_tail_q(b)) {
        i32 ia = clamped_index(a), ib = clamped_index(b);
        const bool bin_a = a->type() == TYPE_BINARY, bin_b = b->type() == TYPE_BINARY;
        // A binary holds bytes and is never widened: the code point that
        // would go into it must be a byte, else nothing is changed.
        if (bin_a != bin_b) {
            ValueCell* text = bin_a ? b : a;
            u32 cp = string_char_at(text, static_cast<u32>(bin_a ? ib : ia));
            if (cp > 0xFF) {
                ValueCell c;
                dt::char_box(&c, cp);
                fire(Err::script_invalid_arg, stack_push(&c));
            }
        }
        bool oa = series_announce(a, g_words.n.swap, nullptr, ia, 1);
        bool ob = series_announce(b, g_words.n.swap, nullptr, ib, 1);
        u32 ca = string_char_at(a, static_cast<u32>(ia));
        u32 cb = string_char_at(b, static_cast<u32>(ib));
        // The owners' handlers may have changed the series meanwhile: a
        // binary then takes the low byte, as poke does, and only inside
        // its bytes.
        auto put = [](ValueCell* s, i32 at, u32 cp) {
            SeriesBuffer* buf = series_of(s);
            if (s->type() != TYPE_BINARY)
                string_poke_char(buf, static_cast<u32>(at), cp);
            else if (static_cast<u32>(at) < buf->used_bytes())
                buf->head_ptr()[at] = static_cast<u8>(cp);
        };
        put(a, ia, cb);
        put(b, ib, ca);
        if (oa) series_announce(a, g_words.n.swaped, nullptr, ia, 1);
        if (ob) series_announce(b, g_words.n.swaped, nullptr, ib, 1);
    }
    *stack_result() = *a;
}

ValueCell* string_take(ValueCell* series, ValueCell* part, bool deep, bool last) {
    ValueCell* r = series_take(series, part, deep, last);
    if (part || r->type() == TYPE_NONE) return r;
    if (series_buffer_length(r) != 1) return r;
    ValueCell* v = series_pick(r, 1, nullptr);
    ValueCell keep = *v;
    *r = keep;
    return r;
}

// ---- registration --------------------------------------------------------------------------------------------------

void string_init() {
    ActionRow row;
    row.set<ACT_MAKE>(string_make)
        .set<ACT_TO>(string_to)
        .set<ACT_FORM>(string_form)
        .set<ACT_MOLD>(string_mold)
        .set<ACT_EVAL_PATH>(string_eval_path)
        .set<ACT_COMPARE>(string_compare)
        .set<ACT_APPEND>(string_insert)
        .set<ACT_INSERT>(string_insert)
        .set<ACT_CHANGE>(string_change)
        .set<ACT_FIND>(string_find)
        .set<ACT_SELECT>(string_select)
        .set<ACT_SORT>(string_sort)
        .set<ACT_SWAP>(string_swap)
        .set<ACT_TAKE>(string_take)
        .set<ACT_TRIM>(string_trim)
        .inherit({ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_HEAD,
                  ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                  ACT_REMOVE, ACT_REVERSE, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_STRING, row);
}

}  // namespace zan

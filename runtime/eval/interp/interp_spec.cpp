// The spec cache of a callable: its spec block parsed once, at the first
// call, into a block kept in the second cell of the callable's "more" block.
//
// The cache holds, in spec order: one typeset! per parameter word (its type
// block, or every type but unset!), with the fetch mode in header bits
// 20-21 (0 word, 100000h get-word, 200000h lit-word, 300000h the return:
// entry); one refinement! per refinement other than /local, whose index is
// its ordinal (native!, action!) or its argument-frame position (function!,
// routine!); when /local is present, an integer! of the locals plus one;
// and for a native! or action! with refinements a final integer! with
// their number.
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function_spec_memo.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/native.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

namespace {

enum EntryKind { ENTRY_PARAM, ENTRY_RETURN, ENTRY_REFINEMENT };

bool is_local_refinement(const ValueCell* c) {
    return c->type() == TYPE_REFINEMENT && g_refinements.local &&
           symbol_resolve(word_symbol(c)) == symbol_resolve(word_symbol(g_refinements.local));
}

inline ValueCell* spec_cell(Node spec, u32 i) { return node_buffer(spec)->head_cells() + i; }
inline u32 spec_length(Node spec) { return node_buffer(spec)->used_bytes() / 16; }

// Walks the spec: visit(kind, index of the entry's cell, index of its type
// block or -1, frame slot) for each entry in order; returns the number of
// locals (-1 without /local). The visitor may allocate (cells are re-read).
template <class V>
i32 walk_spec(Node spec, V&& visit) {
    u32 n = spec_length(spec);
    u32 i = 0;
    if (n > 0 && spec_cell(spec, 0)->type() == TYPE_BLOCK) i = 1;  // attributes
    bool in_locals = false;
    i32 locals = -1;
    u32 slot = 0;
    for (; i < n; i++) {
        ValueCell* c = spec_cell(spec, i);
        u32 t = c->type();
        switch (t) {
            case TYPE_WORD:
            case TYPE_GET_WORD:
            case TYPE_LIT_WORD: {
                if (in_locals) {
                    if (t == TYPE_WORD) locals++;
                    slot++;
                    break;
                }
                i32 types = (i + 1 < n && spec_cell(spec, i + 1)->type() == TYPE_BLOCK)
                                ? static_cast<i32>(i + 1)
                                : -1;
                visit(ENTRY_PARAM, i, types, slot);
                slot++;
                break;
            }
            case TYPE_SET_WORD: {
                if (in_locals) break;
                i32 types = (i + 1 < n && spec_cell(spec, i + 1)->type() == TYPE_BLOCK)
                                ? static_cast<i32>(i + 1)
                                : -1;
                visit(ENTRY_RETURN, i, types, slot);
                break;
            }
            case TYPE_REFINEMENT:
                if (is_local_refinement(c)) {
                    in_locals = true;
                    locals = 0;
                } else if (!in_locals) {
                    visit(ENTRY_REFINEMENT, i, -1, slot);
                }
                slot++;
                break;
            default:
                break;  // doc strings and type blocks
        }
    }
    return locals;
}

// The shape of a finished cache (SPEC_SHORT and the fields beside it in
// interp_internal.h), or 0 when calls must walk the cache.
u32 spec_digest(Node cache, bool native_like) {
    ValueCell* cells = node_buffer(cache)->head_cells();
    u32 n = node_buffer(cache)->used_bytes() / sizeof(ValueCell);
    u32 k = 0;
    while (k < n && cells[k].type() == TYPE_TYPESET) {
        u32 mode = cells[k].header & FETCH_MODE_MASK;
        if (mode == FETCH_RETURN) break;
        if (mode != FETCH_WORD) return 0;
        k++;
    }
    if (k > 0xFFu) return 0;
    // A return: entry after the parameters takes no argument and no frame
    // slot: both paths pass over it.
    u32 params = k;
    while (k < n && cells[k].type() == TYPE_TYPESET &&
           (cells[k].header & FETCH_MODE_MASK) == FETCH_RETURN)
        k++;
    if (k < n && cells[k].type() == TYPE_TYPESET) return 0;
    if (native_like) {
        // The refinement count is the last cell when it is an integer!, as
        // the long path reads it.
        u32 nrefs = 0;
        if (k < n && cells[n - 1].type() == TYPE_INTEGER) {
            i32 r = integer_get(cells + n - 1);
            if (r < 0 || r > 16) return 0;
            nrefs = static_cast<u32>(r);
        }
        return SPEC_SHORT | params | (nrefs << 24);
    }
    if (k == n) return SPEC_SHORT | params;
    if (k + 1 == n && cells[k].type() == TYPE_INTEGER) {
        i32 locals = integer_get(cells + k);
        if (locals < 0 || locals > 0xFFFF) return 0;
        return SPEC_SHORT | SPEC_LOCALS | params | (static_cast<u32>(locals) << 8);
    }
    return 0;
}

}  // namespace

bool callable_native_like(const ValueCell* callable) {
    u32 t = callable->type();
    if (t == TYPE_OP) t = op_wrapped_type(callable);
    return t == TYPE_NATIVE || t == TYPE_ACTION;
}

Node interp_parse_spec(const ValueCell* callable) {
    ValueCell* held = stack_push(callable);
    bool native_like = callable_native_like(callable);
    Node spec = callable_spec(held);
    // Functions of one spec share the cache made at the first call of one.
    i32 slot = -1;
    if (callable->type() == TYPE_FUNCTION) {
        SpecKey key;
        if (spec_key_make(spec, 0, key)) slot = spec_memo_find(key);
        if (const ValueCell* known = slot >= 0 ? spec_memo_cache(slot) : nullptr) {
            *(node_buffer(callable_more(held))->head_cells() + 1) = *known;
            stack_pop(1);
            return block_node(known);
        }
    }
    u32 count = 2;
    walk_spec(spec, [&](EntryKind, u32, i32, u32) { count++; });
    ValueCell* cache = none_push();
    block_make_at(cache, count);
    u32 ordinal = 0;
    i32 locals = walk_spec(spec, [&](EntryKind kind, u32 i, i32 types, u32 slot) {
        if (kind == ENTRY_REFINEMENT) {
            ValueCell r = *spec_cell(spec, i);
            ordinal++;
            set_word_index(&r, static_cast<i32>(native_like ? ordinal : slot));
            block_append_cell(cache, &r);
            return;
        }
        bool typed = types >= 0 && spec_length(block_node(spec_cell(spec, static_cast<u32>(types)))) >
                                       series_head(spec_cell(spec, static_cast<u32>(types)));
        ValueCell* ts;
        if (typed) {
            ValueCell tb = *spec_cell(spec, static_cast<u32>(types));
            ts = typeset_make_from_block_in(cache, &tb);
        } else {
            ts = typeset_make_default_in(cache);
        }
        u32 mode = FETCH_WORD;
        if (kind == ENTRY_RETURN) mode = FETCH_RETURN;
        else if (spec_cell(spec, i)->type() == TYPE_GET_WORD) mode = FETCH_GET;
        else if (spec_cell(spec, i)->type() == TYPE_LIT_WORD) mode = FETCH_LIT;
        ts = block_tail_ptr(cache) - 1;
        ts->header = (ts->header & ~FETCH_MODE_MASK) | mode;
    });
    if (locals >= 0) integer_box(block_alloc_tail(cache), locals + 1);
    if (native_like && ordinal > 0) integer_box(block_alloc_tail(cache), static_cast<i32>(ordinal));
    Node node = block_node(cache);
    set_block_extra(cache, spec_digest(node, native_like));
    *(node_buffer(callable_more(held))->head_cells() + 1) = *cache;
    if (slot >= 0) spec_memo_set_cache(slot, cache);
    stack_pop(2);
    return node;
}

void spec_entry_word(const ValueCell* callable, u32 k, ValueCell* out) {
    none_box(out);
    Node spec = callable_spec(callable);
    u32 seen = 0;
    // Entries are counted as the cache lays them out.
    walk_spec(spec, [&](EntryKind, u32 i, i32, u32) {
        if (seen++ == k && out->type() == TYPE_NONE) {
            *out = *spec_cell(spec, i);
            out->set_type(TYPE_WORD);
        }
    });
}

}  // namespace zan

// The everyday paths without the general walk's bookkeeping: fields of
// objects, keys of maps, words and integer positions of blocks, read or
// set, any number of levels. Every level either is one of these, answered
// in place, or the whole path is left to eval_path's general walk, which
// then runs it from its head as if this had not been tried: nothing here
// raises an error, allocates, calls a function or changes a value before
// the last level is known to be one of its own.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/context_field_cache.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

namespace {

inline bool field_word_type(u32 t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

// The position of an object's field named by a word (a word bound to the
// object's own context gives its position directly), or -1 when the general
// walk must answer (no such field, values not on the heap).
inline i32 object_field_index(const ValueCell* obj, const ValueCell* word) {
    Node ctx = context_of(obj);
    ValueCell* c = context_cell(ctx);
    if (ZAN_UNLIKELY(!context_values(c) || context_on_stack(c))) return -1;
    if (word_binding(word) == ctx && word_index(word) >= 0) return word_index(word);
    return context_field_index(ctx, word_symbol(word));
}

// The cell of a block at a pick position from 1, or null when the position
// is not one of the block's cells.
inline ValueCell* block_cell_at(const ValueCell* block, i32 n) {
    i32 idx = series_index(block);
    SeriesBuffer* b = series_buffer(block);
    i64 pos = i64(idx) + n - 1;
    if (n < 1 || idx < 0 || pos >= i64(b->used_bytes() / sizeof(ValueCell))) return nullptr;
    return b->head_cells() + pos;
}

// Stores a path's value: pushed, or into the frame's result cell.
inline void path_result(const ValueCell* value, bool push) {
    ValueCell result = *value;
    if (push) stack_push(&result);
    else stack_set_last_reset(&result);
}

// The commonest path, an object and one word: the loop's object level
// alone (the same answers, the same refusals).
inline bool object_field_quick(const ValueCell* obj, const ValueCell* word, u32 mode, bool push,
                               const ValueCell* set_value) {
    i32 index = object_field_index(obj, word);
    if (index < 0) return false;
    Node ctx = context_of(obj);
    ValueCell* c = context_cell(ctx);
    ValueCell* slot = node_buffer(context_values(c))->head_cells() + index;
    if (mode == PATH_SET) {
        if (object_record(obj)) return false;
        if (context_kind(c) == CTX_OBJECT)
            context_words_buffer(ctx)->head_cells()[index].header |= WORD_ASSIGNED;
        *slot = *set_value;
        path_result(set_value, push);
        return true;
    }
    u32 t = slot->type();
    if (slot->header == 0 || t == TYPE_UNSET || (mode == PATH_NORMAL && is_callable_type(t)))
        return false;
    path_result(slot, push);
    return true;
}

}  // namespace

bool eval_path_quick(const ValueCell* path, u32 mode, bool push, const ValueCell* set_value) {
    // The path's cells are read in place: nothing below allocates.
    SeriesBuffer* buf = node_buffer(series_node(path));
    const ValueCell* cells = buf->head_cells();
    u32 n = buf->used_bytes() / sizeof(ValueCell);
    u32 s = series_head(path);
    if (s >= n || n - s < 2) return false;
    const ValueCell* head = cells + s;
    if (head->type() != TYPE_WORD) return false;
    const ValueCell* head_value = word_value_if_available(head);
    if (!head_value || head_value->type() == TYPE_UNSET || is_callable_type(head_value->type()))
        return false;
    // The general walk may mark a frame (in library code) and keeps two
    // cells per level on the data stack (a few more around a set): with
    // less room than that, it is the one that meets the overflow.
    if (ZAN_UNLIKELY(g_stack.ctop >= g_stack.climit)) return false;
    if (ZAN_UNLIKELY(g_stack.limit - g_stack.top <= 2 * static_cast<i64>(n - s) + 8)) return false;
    if (n - s == 2 && head_value->type() == TYPE_OBJECT && cells[s + 1].type() == TYPE_WORD)
        return object_field_quick(head_value, cells + s + 1, mode, push, set_value);
    const ValueCell* cur = head_value;
    ValueCell scratch;  // a value that lives in no cell (a map's answer)
    for (u32 j = s + 1; j < n; j++) {
        const ValueCell* sel = cells + j;
        u32 et = sel->type();
        if (et == TYPE_GET_WORD) {
            sel = word_value_if_available(sel);
            if (!sel) return false;
            et = sel->type();
        } else if (et == TYPE_PAREN) {
            return false;
        }
        bool store = mode == PATH_SET && j + 1 == n;
        u32 ct = cur->type();
        if (ct == TYPE_OBJECT) {
            if (!field_word_type(et)) return false;
            i32 index = object_field_index(cur, sel);
            if (index < 0) return false;
            Node ctx = context_of(cur);
            ValueCell* slot = node_buffer(context_values(context_cell(ctx)))->head_cells() + index;
            if (store) {
                // A watched object reports the change: the general walk.
                if (object_record(cur)) return false;
                if (context_kind(context_cell(ctx)) == CTX_OBJECT)
                    context_words_buffer(ctx)->head_cells()[index].header |= WORD_ASSIGNED;
                *slot = *set_value;
                break;
            }
            if (slot->header == 0 || slot->type() == TYPE_UNSET) return false;
            cur = slot;
        } else if (ct == TYPE_BLOCK) {
            if (et == TYPE_INTEGER) {
                ValueCell* cell = block_cell_at(cur, dt::int_get(sel));
                if (store) {
                    if (!cell || series_has_owner(cur)) return false;
                    *cell = *set_value;
                    break;
                }
                if (!cell) {
                    cell_init(&scratch, TYPE_NONE);
                    cell = &scratch;
                }
                cur = cell;
            } else if (et == TYPE_WORD && !store) {
                cur = block_select_word(cur, word_symbol(sel), true);
            } else {
                return false;
            }
        } else if (ct == TYPE_MAP) {
            if (!(field_word_type(et) || et == TYPE_INTEGER || et == TYPE_STRING)) return false;
            if (store) {
                if (!map_store_existing(cur, sel, set_value)) return false;
                break;
            }
            ValueCell found;
            if (!map_select_quick(cur, sel, &found)) return false;
            scratch = found;
            cur = &scratch;
        } else {
            return false;
        }
        // A function reached in a normal path is called: the general walk.
        if (mode == PATH_NORMAL && is_callable_type(cur->type())) return false;
    }
    path_result(mode == PATH_SET ? set_value : cur, push);
    return true;
}

}  // namespace zan

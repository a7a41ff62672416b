// Series ownership: the ownership table and the binding walk.
#include "runtime/typesystem/ownership.h"
#include "runtime/typesystem/ownership_internal.h"

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/cycles.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/image/image_store.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

Node g_ownership_table = 0;

namespace {

// The value store: 100 integer! cells chained through data2 (last -1).
ValueCell g_value_store{TYPE_NONE, 0, 0, 0};
bool g_marker_added = false;

// uppercase and lowercase change a string in place: its owner hears of it
// like of any other modifying action.
void announce_case_change(ValueCell* value, bool upper, u32 index, u32 count) {
    ValueCell* word = upper ? g_words.n.uppercase : g_words.n.lowercase;
    if (word) series_announce(value, word, nullptr, static_cast<i32>(index), static_cast<i32>(count));
}

// The table's own storage; its entries are weak (see mark_entries, purge).
void mark_table() {
    if (g_ownership_table) hashtable_gc_mark(&g_ownership_table);
}
bool mark_entries() { return hashtable_mark_live_entries(g_ownership_table); }
void purge() { hashtable_purge_unmarked(g_ownership_table); }

inline bool object_like_q(const ValueCell* v) {
    u32 t = v->type();
    return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT;
}
inline bool block_kind(u32 t) { return type_block_like(t); }
inline bool tracked_series(u32 t) {
    return type_block_like(t) || type_string_like(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

Node table() {
    if (!g_ownership_table) ownership_init();
    return g_ownership_table;
}

// Whether the value has a store an entry can be kept for: a buffer node,
// or for an image its pixel slot (slot 0 is a slot like any other).
bool has_store(const ValueCell* v) {
    if (v->type() == TYPE_IMAGE) return image_slot(v) != IMAGE_NO_SLOT;
    return series_node(v) != 0;
}

// The key under which a value's entry is kept.
Node key_of(const ValueCell* v) {
    if (v->type() == TYPE_IMAGE) return image_ownership_key(image_slot(v));
    return object_like_q(v) ? context_of(v) : series_node(v);
}

// An image's pixels are shared by every copy of its cell, so whether they
// are owned is a question for the table, not for one cell's header.
bool owned_q(const ValueCell* v) {
    if (v->type() == TYPE_IMAGE)
        return g_ownership_table && hashtable_get_int(g_ownership_table, key_of(v)) != nullptr;
    return series_node(v) && (series_buffer(v)->flags & SERIES_OWNED) != 0;
}

void set_owned(ValueCell* v, bool on) {
    if (v->type() == TYPE_IMAGE) return;
    if (on) series_buffer(v)->flags |= SERIES_OWNED;
    else series_buffer(v)->flags &= ~SERIES_OWNED;
}

void record(ValueCell* value, ValueCell* owner, ValueCell* word) {
    ValueCell entry[3] = {*value, *owner, *word};
    entry[0].header &= ~CELL_NEW_LINE;
    set_owned(value, true);
    hashtable_put_int(table(), key_of(value), entry);
}

void bind_walk(ValueCell* value, ValueCell* owner, ValueCell* word);

// Visits the cells of a block-like value from its index, under the cycle stack.
void visit_cells(ValueCell* value, ValueCell* owner, ValueCell* word, bool bind) {
    Node node = series_node(value);
    if (cycles_find(node)) return;
    CycleScope scope;
    cycles_push(node);
    i32 start = series_index(value) < 0 ? 0 : series_index(value);
    for (i32 i = start; i < static_cast<i32>(node_buffer(node)->used_bytes() / 16); i++) {
        ValueCell* c = stack_push(node_buffer(node)->head_cells() + i);
        if (bind) bind_walk(c, owner, word);
        else ownership_release(c);
        stack_pop(1);
    }
}

// Visits the fields of an object that is not an owner itself.
void visit_fields(ValueCell* obj, ValueCell* owner, bool bind) {
    ValueCell* ctx = context_cell(context_of(obj));
    if (ctx->header & CONTEXT_IS_OWNER) return;
    Node values = context_values(ctx);
    if (cycles_find(values)) return;
    CycleScope scope;
    cycles_push(values);
    Node cnode = context_of(obj);
    u32 n = context_word_count(context_cell(cnode));
    for (u32 i = 0; i < n; i++) {
        ValueCell* v = stack_push(context_values_head(context_cell(cnode)) + i);
        if (bind && owner && object_like_q(v) && context_of(v) == context_of(owner)) {
            stack_pop(1);
            continue;
        }
        ValueCell* w = stack_push(object_word_at(cnode, i));
        if (bind) bind_walk(v, owner, w);
        else ownership_release(v);
        stack_pop(2);
    }
}

void bind_walk(ValueCell* value, ValueCell* owner, ValueCell* word) {
    u32 t = value->type();
    if (tracked_series(t)) {
        if (!has_store(value)) return;
        if (!owned_q(value)) record(value, owner, word);
        if (block_kind(t)) visit_cells(value, owner, word, true);
    } else if (t == TYPE_BITSET) {
        if (series_node(value) && !owned_q(value)) record(value, owner, word);
    } else if (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) {
        visit_fields(value, owner, true);
    }
}

}  // namespace

void ownership_init() {
    g_ownership_table =
        hashtable_init(static_cast<i32>(OWNERSHIP_TABLE_SIZE), nullptr, HASH_KIND_OWNERSHIP, 3);
    if (!g_marker_added) {
        gc_add_mark_callback(mark_table);
        gc_add_weak_table({mark_entries, purge});
        gc_add_root(&g_value_store);
        g_marker_added = true;
    }
    Node store = alloc_cells(VALUE_STORE_CELLS);
    SeriesBuffer* b = node_buffer(store);
    b->tail = b->head + VALUE_STORE_CELLS * 16;
    ValueCell* c = b->head_cells();
    for (u32 i = 0; i < VALUE_STORE_CELLS; i++) {
        integer_box(c + i, i + 1 < VALUE_STORE_CELLS ? static_cast<i32>(i + 1) : -1);
    }
    cell_init(&g_value_store, TYPE_BLOCK, 0, store);
    g_services.ownership_check = ownership_check;
    case_folding_set_notify(announce_case_change);
}

void ownership_bind_values(ValueCell* value, ValueCell* owner, ValueCell* word) {
    ValueCell* saved = g_stack.top;
    ValueCell* v = stack_push(value);
    ValueCell* o = stack_push(owner);
    ValueCell* w = stack_push(word);
    table();
    bind_walk(v, o, w);
    g_stack.top = saved;
}

void ownership_bind_object(ValueCell* value, ValueCell* owner, ValueCell* word) {
    ValueCell* o = stack_push(owner);
    ownership_bind_values(value, o, word);
    if (object_like_q(o)) context_cell(context_of(o))->header |= CONTEXT_IS_OWNER;
    stack_pop(1);
}

void ownership_release(ValueCell* value) {
    u32 t = value->type();
    if (tracked_series(t) || t == TYPE_BITSET) {
        if (!has_store(value)) return;
        bool was_owned = owned_q(value);
        set_owned(value, false);
        if (was_owned && g_ownership_table) {
            if (ValueCell* e = hashtable_get_int(g_ownership_table, key_of(value))) {
                for (u32 k = 1; k <= 3; k++) cell_init(e + k, TYPE_UNSET);
                hashtable_delete_int(g_ownership_table, key_of(value));
            }
        }
        if (block_kind(t)) {
            ValueCell* v = stack_push(value);
            visit_cells(v, nullptr, nullptr, false);
            stack_pop(1);
        }
    } else if (object_like_q(value)) {
        ValueCell* v = stack_push(value);
        visit_fields(v, nullptr, false);
        stack_pop(1);
    }
}

ValueCell* ownership_owner_of(Node node) {
    if (!g_ownership_table || !node) return nullptr;
    ValueCell* e = hashtable_get_int(g_ownership_table, node);
    return e ? e + OWNERSHIP_ENTRY_OWNER : nullptr;
}

bool ownership_check(ValueCell* value, ValueCell* action_word, ValueCell* new_value, i32 index,
                     i32 part) {
    if (!g_ownership_table) return false;
    if (!has_store(value)) return false;
    Node key = key_of(value);
    ValueCell* e = hashtable_get_int(g_ownership_table, key);
    if (!e || !object_record(&e[OWNERSHIP_ENTRY_OWNER])) return false;
    ValueCell* saved = g_stack.top;
    ValueCell* owner = stack_push(e + OWNERSHIP_ENTRY_OWNER);
    ValueCell* word = stack_push(e + OWNERSHIP_ENTRY_WORD);
    ValueCell* target = stack_push(value);
    ValueCell* action = stack_push(action_word);
    ValueCell* nv = stack_push(new_value ? new_value : &g_none_cell);
    object_fire_on_deep_change(owner, word, target, action, nv, index, part);
    g_stack.top = saved;
    return true;
}

void ownership_state_reset() {
    g_ownership_table = 0;
    cell_init(&g_value_store, TYPE_NONE);
}

}  // namespace zan

// Contexts: word tables (kind-2 hash tables whose block holds one word cell
// per entry) with value slots on the heap or on the data stack.
#include "runtime/datatypes/context.h"

#include <cassert>
#include <cstring>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/typesystem/dt_state.h"
#include "runtime/core/cycles.h"
#include "runtime/core/hashtable.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

Node g_global_ctx = 0;

namespace {
// Keeps the global context alive: an object-like cell whose data1 is the
// context node makes the collector mark the node and its two cells.
ValueCell g_global_root{TYPE_NONE, 0, 0, 0};

// The node of a context from its context! cell (cell 0 of a buffer that was
// allocated with its head at the start of the data area).
inline Node node_of(const ValueCell* ctx) {
    return reinterpret_cast<const SeriesBuffer*>(reinterpret_cast<const u8*>(ctx) -
                                                 sizeof(SeriesBuffer))
        ->node;
}

inline SeriesBuffer* words_buffer(const ValueCell* ctx) {
    return node_buffer(hashtable_header(context_word_table(ctx))->values);
}

inline bool is_word_like(u32 t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }

// Appends a word cell for the symbol (and, for a heap context, an unset!
// value) and enters it in the word table; returns its index.
i32 add_symbol(Node ctx, u32 symbol) {
    ValueCell* c = context_cell(ctx);
    Node table = context_word_table(c);
    SeriesBuffer* wb = node_buffer(hashtable_header(table)->values);
    i32 index = static_cast<i32>(wb->used_bytes() / 16);
    ValueCell* w = series_alloc_tail_cell(wb);
    cell_init(w, TYPE_WORD, ctx, symbol, static_cast<u32>(index));
    hashtable_put(table, node_buffer(hashtable_header(table)->values)->head_cells() + index);
    c = context_cell(ctx);
    if (!context_on_stack(c)) {
        ValueCell* v = series_alloc_tail_cell(node_buffer(context_values(c)));
        cell_init(v, TYPE_UNSET);
    }
    return index;
}

}  // namespace

// ---- structure ------------------------------------------------------------------------------

ValueCell* context_words_head(const ValueCell* ctx) { return words_buffer(ctx)->head_cells(); }
u32 context_word_count(const ValueCell* ctx) { return words_buffer(ctx)->used_bytes() / 16; }

ValueCell* context_values_head(const ValueCell* ctx) {
    u32 values = context_values(ctx);
    if (context_on_stack(ctx)) return values ? hptr<ValueCell>(values) : nullptr;
    return node_buffer(values)->head_cells();
}

// ---- creation --------------------------------------------------------------------------------

Node context_create(u32 slots, bool on_stack, bool self, const ValueCell* word_source,
                    u32 kind) {
    if (slots == 0) slots = 1;
    ValueCell source;
    if (word_source) source = *word_source;
    Node ctx = alloc_cells_unset(2);
    node_buffer(ctx)->tail = node_buffer(ctx)->head + 32;
    // Rooted on the data stack while the table and values are made.
    ValueCell* root = stack_push_cell();
    cell_init(root, TYPE_OBJECT, ctx);
    Node table = hashtable_init(static_cast<i32>(slots), word_source ? &source : nullptr,
                                HASH_KIND_SYMBOL, 2);
    ctx = context_of(root);
    set_context_word_table(context_cell(ctx), table);
    context_cell(ctx)->header = TYPE_CONTEXT | (kind << CONTEXT_KIND_SHIFT) |
                                (on_stack ? CONTEXT_VALUES_ON_STACK : 0) |
                                (self ? CONTEXT_HAS_SELF : 0);
    if (!on_stack) {
        u32 words = node_buffer(hashtable_header(table)->values)->used_bytes() / 16;
        Node values = alloc_cells_unset(slots > words ? slots : words);
        ctx = context_of(root);
        SeriesBuffer* vb = node_buffer(values);
        vb->tail = vb->head + words * 16;
        set_context_values(context_cell(ctx), values);
    }
    ctx = context_of(root);
    stack_pop(1);
    return ctx;
}

Node context_make_from_block(ValueCell* spec, bool on_stack, bool self, u32 kind) {
    ValueCell* held = stack_push(spec);
    i32 n = series_buffer_length(held);
    Node ctx = context_create(static_cast<u32>(n), on_stack, self, nullptr, kind);
    ValueCell* root = stack_push_cell();
    cell_init(root, TYPE_OBJECT, ctx);
    for (i32 i = 0; i < n; i++) {
        ValueCell w = series_of(held)->head_cells()[i];
        u32 t = w.type();
        if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT)
            continue;
        if (context_find_word(context_cell(context_of(root)), word_symbol(&w), true) < 0)
            add_symbol(context_of(root), word_symbol(&w));
    }
    ctx = context_of(root);
    stack_pop(2);
    return ctx;
}

Node context_share_words(Node proto) {
    Node ctx = alloc_cells_unset(2);
    SeriesBuffer* b = node_buffer(ctx);
    b->tail = b->head + 32;
    ValueCell* c = b->head_cells();
    *c = *context_cell(proto);
    assert(context_on_stack(c));
    set_context_values(c, 0);
    return ctx;
}

Node context_clone(ValueCell* object, u32 kind) {
    ValueCell* src = context_cell(context_of(object));
    ValueCell source = *src;
    u32 words = context_word_count(src);
    Node ctx = context_create(words, context_on_stack(&source),
                              (source.header & CONTEXT_HAS_SELF) != 0, &source, kind);
    ValueCell* c = context_cell(ctx);
    ValueCell* w = context_words_head(c);
    for (u32 i = 0; i < words; i++) {
        set_word_binding(w + i, ctx);
        set_word_index(w + i, static_cast<i32>(i));
    }
    set_context_of(object, ctx);
    return ctx;
}

// ---- lookup ----------------------------------------------------------------------------------

i32 context_find_word(const ValueCell* ctx, u32 symbol, bool case_insensitive) {
    ValueCell* w = hashtable_find_symbol(context_word_table(ctx), symbol, case_insensitive);
    if (!w) return -1;
    return static_cast<i32>(w - context_words_head(ctx));
}

ValueCell* context_find_value_ptr(u32 symbol, Node ctx) {
    ValueCell* c = context_cell(ctx);
    if (context_on_stack(c)) return global_value_ptr(symbol);
    i32 i = context_find_word(c, symbol, true);
    if (i < 0) return nullptr;
    return context_values_head(c) + i;
}

ValueCell* global_value_ptr(u32 symbol) {
    ValueCell* c = context_cell(g_global_ctx);
    i32 i = context_find_word(c, symbol, true);
    if (i < 0) return nullptr;
    // Spellings share the slot of their canonical entry.
    i32 slot = word_index(context_words_head(c) + i);
    return context_values_head(context_cell(g_global_ctx)) + slot;
}

// ---- adding ----------------------------------------------------------------------------------

i32 context_add_word(ValueCell* ctx, const ValueCell* word) {
    i32 i = context_find_word(ctx, word_symbol(word), true);
    if (i >= 0) return i;
    return add_symbol(node_of(ctx), word_symbol(word));
}

void context_add_word_value(ValueCell* ctx, const ValueCell* word, const ValueCell* value) {
    if (context_find_word(ctx, word_symbol(word), true) >= 0) return;
    ValueCell v = *value;
    Node node = node_of(ctx);
    i32 i = add_symbol(node, word_symbol(word));
    ValueCell* c = context_cell(node);
    if (!context_on_stack(c)) context_values_head(c)[i] = v;
}

bool context_collect_set_words(ValueCell* ctx, ValueCell* block) {
    Node node = node_of(ctx);
    ValueCell* held = stack_push(block);
    i32 len = series_buffer_length(held);
    i32 start = series_index(held);
    if (start > len) start = len;
    if (start < 0) start = 0;
    bool grew = false;
    for (i32 i = start; i < len; i++) {
        ValueCell w = series_of(held)->head_cells()[i];
        if (w.type() != TYPE_SET_WORD) continue;
        if (context_find_word(context_cell(node), word_symbol(&w), true) >= 0) continue;
        add_symbol(node, word_symbol(&w));
        grew = true;
    }
    stack_pop(1);
    return grew;
}

ValueCell* context_add_global(u32 symbol, bool case_insensitive, bool keep_spelling) {
    ValueCell* c = context_cell(g_global_ctx);
    i32 i = context_find_word(c, symbol, case_insensitive);
    if (i >= 0) {
        ValueCell* w = context_words_head(c) + i;
        if (case_insensitive && keep_spelling && word_symbol(w) != symbol) {
            ValueCell copy = *w;
            set_word_symbol(&copy, symbol);
            return word_root_append(&copy);
        }
        return w;
    }
    i = add_symbol(g_global_ctx, symbol);
    c = context_cell(g_global_ctx);
    ValueCell* w = context_words_head(c) + i;
    if (symbol_alias_of(symbol) > 0) {
        i32 canon = context_find_word(c, symbol_resolve(symbol), false);
        if (canon < 0) canon = context_find_word(c, symbol, true);
        if (canon >= 0 && canon != i) set_word_index(w, word_index(context_words_head(c) + canon));
    }
    return w;
}

// ---- get and set -------------------------------------------------------------------------------

ValueCell* context_get_ptr(ValueCell* word, ValueCell* ctx) {
    i32 index = word_index(word);
    if (index == -1) {
        if (word_symbol(word) == g_sym.self && word_binding(word))
            return context_owner(word_binding(word));
        fire(Err::script_no_value, word);
    }
    u32 values = context_values(ctx);
    if (!values) fire(Err::script_not_in_context, word);
    if (context_on_stack(ctx)) return hptr<ValueCell>(values) + index;
    return node_buffer(values)->head_cells() + index;
}

ValueCell* context_get(ValueCell* word) {
    if (!word_binding(word)) fire(Err::script_no_value, word);
    return context_get_ptr(word, context_cell(word_binding(word)));
}

void context_set_word(ValueCell* word, const ValueCell* value, ValueCell* ctx, bool report) {
    Node node = node_of(ctx);
    if (word_index(word) == -1) {
        i32 i = context_find_word(ctx, word_symbol(word), false);
        if (i < 0) i = context_add_word(context_cell(node), word);
        set_word_index(word, i);
        ctx = context_cell(node);
    }
    u32 values = context_values(ctx);
    if (!values) fire(Err::script_not_defined, word);
    u32 index = static_cast<u32>(word_index(word));
    if (context_on_stack(ctx)) {
        hptr<ValueCell>(values)[index] = *value;
        return;
    }
    ValueCell* slot = node_buffer(values)->head_cells() + index;
    if (context_kind(ctx) == CTX_OBJECT) {
        ValueCell* w = context_words_head(ctx) + index;
        w->header |= WORD_ASSIGNED;
        ValueCell* owner = context_owner(node);
        if (report && object_record(owner)) {
            ValueCell* saved = g_stack.top;
            ValueCell* old = stack_push(slot);
            ValueCell* nv = stack_push(value);
            *slot = *nv;
            ValueCell own = *context_owner(node);
            ValueCell wd = *word;
            g_services.object_fire_on_change(&own, &wd, old, nv);
            g_stack.top = saved;
            return;
        }
    }
    *slot = *value;
}

void context_set(ValueCell* word, const ValueCell* value) {
    if (!word_binding(word)) fire(Err::script_not_defined, word);
    context_set_word(word, value, context_cell(word_binding(word)), true);
}

// ---- binding ------------------------------------------------------------------------------------

i32 context_bind_word(const ValueCell* ctx, ValueCell* word) {
    i32 i = context_find_word(ctx, word_symbol(word), false);
    if (i < 0) return -1;
    set_word_binding(word, node_of(ctx));
    set_word_index(word, i);
    return i;
}

namespace {
// The answers of one binding walk: a symbol's index in the context (or -1).
// A walk does not change its context, so a symbol met again in the same walk
// has the same answer; answers of earlier walks carry another walk number.
// A context of few words (a function's, a module's) is entered whole at the
// start, so that every symbol it lacks is answered without a table lookup.
struct BindMemo {
    static constexpr u32 ENTER_WHOLE_LIMIT = 1024;
    std::vector<u64> entries;  // (walk << 32) | (index + 1)
    u32 walk = 0;
    bool whole = false;

    void start(Node ctx) {
        if (++walk == 0) {
            entries.assign(entries.size(), 0);
            walk = 1;
        }
        const ValueCell* c = context_cell(ctx);
        u32 n = context_word_count(c);
        whole = n <= ENTER_WHOLE_LIMIT;
        if (!whole) return;
        const ValueCell* w = context_words_head(c);
        for (u32 i = 0; i < n; i++) {
            if (!is_word_type(w[i].type())) continue;
            u32 symbol = word_symbol(w + i);
            if (symbol >= entries.size()) entries.resize(symbol + 1024);
            // The first of equal symbols is the one the table gives.
            if ((entries[symbol] >> 32) != walk) entries[symbol] = (u64(walk) << 32) | (i + 1);
        }
    }
    i32 index_of(Node ctx, u32 symbol) {
        if (symbol < entries.size() && (entries[symbol] >> 32) == walk) {
            i32 known = static_cast<i32>(static_cast<u32>(entries[symbol])) - 1;
            assert(!whole || known == context_find_word(context_cell(ctx), symbol, false));
            return known;
        }
        if (whole) {
            assert(context_find_word(context_cell(ctx), symbol, false) < 0);
            return -1;
        }
        i32 i = context_find_word(context_cell(ctx), symbol, false);
        if (symbol >= entries.size()) entries.resize(symbol + 1024);
        entries[symbol] = (u64(walk) << 32) | static_cast<u32>(i + 1);
        return i;
    }
};
BindMemo g_bind_memo;

// A context's answers read from the memo as it is: a context entered whole
// does not change the memo during a walk, so its table, size and walk
// number travel by value (kept in registers across the stores into the
// cells).
struct WholeAnswers {
    const u64* entries;
    u32 size;
    u32 walk;
    i32 operator()(Node ctx, u32 symbol) const {
        if (symbol < size && static_cast<u32>(entries[symbol] >> 32) == walk) {
            i32 known = static_cast<i32>(static_cast<u32>(entries[symbol])) - 1;
            assert(known == context_find_word(context_cell(ctx), symbol, false));
            return known;
        }
        assert(context_find_word(context_cell(ctx), symbol, false) < 0);
        return -1;
    }
};

// A context's answers from the memo, looked up and remembered when missing.
struct LookedUpAnswers {
    i32 operator()(Node ctx, u32 symbol) const { return g_bind_memo.index_of(ctx, symbol); }
};

// Binds the words of a block and of the blocks, parens and paths in it.
// self_symbol is the symbol of self in self mode (a word self is bound to
// the context itself), an impossible symbol otherwise. The walk allocates
// nothing, so the buffer stays where it is.
template <class Answers>
void bind_walk(Node blk, Node ctx, u32 self_symbol, Answers index_of) {
    if (cycles_find(blk)) return;
    cycles_push(blk);
    SeriesBuffer* b = node_buffer(blk);
    ValueCell* end = b->tail_cells();
    for (ValueCell* c = b->head_cells(); c < end; c++) {
        u32 t = c->type();
        if (is_word_like(t)) {
            u32 symbol = word_symbol(c);
            if (symbol == self_symbol && t == TYPE_WORD) {
                set_word_binding(c, ctx);
                set_word_index(c, -1);
            } else if (i32 i = index_of(ctx, symbol); i >= 0) {
                set_word_binding(c, ctx);
                set_word_index(c, i);
            }
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH ||
                   (t >= TYPE_PATH && t <= TYPE_GET_PATH)) {
            bind_walk(block_node(c), ctx, self_symbol, index_of);
        }
    }
    cycles_pop();
}
}  // namespace

namespace {
// One level of context_copy_bound: the cells of source copied into a new
// series (as block_clone deep does: blocks, parens and paths copied, each
// copy taking the header of the cell it replaces), words bound on the way.
// irregular is set when the copy keeps a series that the binding walk
// would still enter (a hash!, or a block that holds itself).
template <class Answers>
void copy_bind_level(const ValueCell* source, ValueCell* out, Node ctx, Answers index_of,
                     bool& irregular) {
    ValueCell src = *source;
    i32 n = block_length(&src);
    Node node = alloc_cells(n < 1 ? 1u : static_cast<u32>(n));
    SeriesBuffer* nb = node_buffer(node);
    const ValueCell* from = block_head_ptr(source);
    ValueCell* to = nb->head_cells();
    for (i32 i = 0; i < n; i++) to[i] = from[i];
    nb->tail = nb->head + static_cast<u32>(n) * 16;
    cell_init(out, src.type() | (src.header & CELL_NEW_LINE), 0, node);
    // The source is entered on the cycle stack at its first nested series
    // (a level without one needs no entry); the caller's scope pops what
    // an error leaves.
    bool entered = false;
    ValueCell* cells = to;
    for (i32 i = 0; i < n; i++) {
        ValueCell* c = cells + i;
        u32 t = c->type();
        if (is_word_like(t)) {
            if (i32 k = index_of(ctx, word_symbol(c)); k >= 0) {
                set_word_binding(c, ctx);
                set_word_index(c, k);
            }
            continue;
        }
        if (t == TYPE_HASH) {
            irregular = true;
            continue;
        }
        if (!(t == TYPE_BLOCK || t == TYPE_PAREN || type_path_like(t))) continue;
        if (!entered) {
            cycles_push(series_node(&src));
            entered = true;
        }
        if (cycles_find(series_node(c))) {
            irregular = true;
            continue;
        }
        ValueCell* tmp = stack_push(c);
        ValueCell* copy = stack_push_cell();
        copy_bind_level(tmp, copy, ctx, index_of, irregular);
        copy->header = tmp->header;
        // (The copy's cells are found again: the nested copy allocated.)
        cells = node_buffer(node)->head_cells();
        cells[i] = *copy;
        stack_pop(2);
    }
    if (entered) cycles_pop();
}

// The answers for a context of few words: its symbols in order, scanned
// (the first equal one is the one the table gives).
struct FewAnswers {
    static constexpr u32 LIMIT = 8;
    u32 symbols[LIMIT];
    u32 count;
    i32 operator()(Node ctx, u32 symbol) const {
        for (u32 k = 0; k < count; k++)
            if (symbols[k] == symbol) {
                assert(static_cast<i32>(k) == context_find_word(context_cell(ctx), symbol, false));
                return static_cast<i32>(k);
            }
        assert(context_find_word(context_cell(ctx), symbol, false) < 0);
        return -1;
    }
};
}  // namespace

void context_copy_bound(const ValueCell* source, ValueCell* out, const ValueCell* ctx) {
    Node node = node_of(ctx);
    bool irregular = false;
    const ValueCell* c = context_cell(node);
    u32 words = context_word_count(c);
    if (words <= FewAnswers::LIMIT) {
        FewAnswers answers;
        answers.count = words;
        const ValueCell* w = context_words_head(c);
        for (u32 i = 0; i < words; i++)
            answers.symbols[i] = is_word_type(w[i].type()) ? word_symbol(w + i) : ~u32(0);
        CycleScope scope;
        copy_bind_level(source, out, node, answers, irregular);
    } else {
        CycleScope scope;
        g_bind_memo.start(node);
        if (g_bind_memo.whole) {
            WholeAnswers answers{g_bind_memo.entries.data(),
                                 static_cast<u32>(g_bind_memo.entries.size()), g_bind_memo.walk};
            copy_bind_level(source, out, node, answers, irregular);
        } else {
            copy_bind_level(source, out, node, LookedUpAnswers{}, irregular);
        }
    }
    // The binding walk over the copy as a whole enters what the copy kept
    // (it binds again what is bound already, to the same slots).
    if (irregular) context_bind(out, context_cell(node), false);
}

void context_bind(ValueCell* block, const ValueCell* ctx, bool self_mode) {
    CycleScope scope;
    g_bind_memo.start(node_of(ctx));
    u32 self_symbol = self_mode ? g_sym.self : ~u32(0);
    if (g_bind_memo.whole) {
        WholeAnswers answers{g_bind_memo.entries.data(),
                             static_cast<u32>(g_bind_memo.entries.size()), g_bind_memo.walk};
        bind_walk(block_node(block), node_of(ctx), self_symbol, answers);
    } else {
        bind_walk(block_node(block), node_of(ctx), self_symbol, LookedUpAnswers{});
    }
}

// ---- index accessors ----------------------------------------------------------------------------

ValueCell* context_word_at(Node ctx, u32 n) { return context_words_head(context_cell(ctx)) + n; }

ValueCell* context_value_at(Node ctx, u32 n) {
    return node_buffer(context_values(context_cell(ctx)))->head_cells() + n;
}

ValueCell* context_word_or_global(const ValueCell* ctx, u32 symbol) {
    if (ctx) {
        i32 i = context_find_word(ctx, symbol, false);
        if (i >= 0) return context_words_head(ctx) + i;
    }
    return word_make_global(symbol);
}

ValueCell* context_push_value(Node ctx, u32 n) {
    ValueCell* c = context_cell(ctx);
    if (context_on_stack(c)) {
        if (!context_values(c)) fire(Err::script_not_defined, context_word_at(ctx, n));
        return stack_push(hptr<ValueCell>(context_values(c)) + n);
    }
    return stack_push(context_value_at(ctx, n));
}

namespace {
ValueCell* slot_of(Node ctx, u32 n) {
    ValueCell* c = context_cell(ctx);
    if (context_on_stack(c)) {
        if (!context_values(c)) fire(Err::script_not_defined, context_word_at(ctx, n));
        return hptr<ValueCell>(context_values(c)) + n;
    }
    if (context_kind(c) == CTX_OBJECT) context_word_at(ctx, n)->header |= WORD_ASSIGNED;
    return context_value_at(ctx, n);
}
}  // namespace

void context_store_result_at(Node ctx, u32 n) { *slot_of(ctx, n) = *stack_result(); }

void context_store_at(Node ctx, u32 n) { *slot_of(ctx, n) = *stack_top_value(); }

void context_store_at_keep_old(Node ctx, u32 n) {
    ValueCell v = *stack_top_value();
    ValueCell* slot = slot_of(ctx, n);
    ValueCell old = *slot;
    *slot = v;
    stack_push(&old);
}

// ---- the global context and registration -------------------------------------------------------

void context_state_reset() {
    gc_remove_root(&g_global_root);
    cell_init(&g_global_root, TYPE_NONE);
    g_global_ctx = 0;
}

void globals_create(u32 slots) {
    g_global_ctx = context_create(slots, false, false, nullptr, CTX_GLOBAL);
    cell_init(&g_global_root, TYPE_OBJECT, g_global_ctx);
    gc_remove_root(&g_global_root);
    gc_add_root(&g_global_root);
}

void context_init() { datatype_register(TYPE_CONTEXT, ActionRow{}); }

}  // namespace zan

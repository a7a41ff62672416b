// Sealing of the library functions and their compiled entry.
#include "boot/library_code.h"
#include "boot/library_code_internal.h"

#include <cstring>

#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

ValueCell g_library_root;
Node g_library_snapshot_ctx = 0;

namespace {

bool g_root_registered = false;
// Global context index -> snapshot context index (-1: not a callable).
std::vector<i32> g_snapshot_index;
ValueCell g_frame_words[2];  // eval-path, eval-set-path

const CompiledFunctionEntry kEntries[] = {library_function_entry};

bool callable_type(u32 t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
           t == TYPE_ROUTINE;
}
bool block_like(u32 t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || t == TYPE_PATH ||
           t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH || t == TYPE_MAP;
}
bool path_type(u32 t) {
    return t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

u32 cell_count(Node series) { return node_buffer(series)->used_bytes() / 16; }
ValueCell* cell_at(Node series, u32 i) { return node_buffer(series)->head_cells() + i; }

// ---- finding the library functions ----------------------------------------------------------

// A set of nodes (never 0): open addressing with linear probing, a few
// thousand of them at the seal.
class NodeSet {
public:
    // True when n was not in the set yet; it is now.
    bool insert(Node n) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        size_t mask = slots_.size() - 1;
        for (size_t i = (n * 0x9E3779B1u) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == n) return false;
            if (!slots_[i]) {
                slots_[i] = n;
                count_++;
                return true;
            }
        }
    }

private:
    void grow() {
        std::vector<Node> old(slots_.size() * 2);
        old.swap(slots_);
        count_ = 0;
        for (Node n : old)
            if (n) insert(n);
    }
    std::vector<Node> slots_ = std::vector<Node>(1024);
    size_t count_ = 0;
};

struct Finder {
    NodeSet seen_series;
    NodeSet seen_contexts;
    NodeSet seen_functions;  // by more-block node

    void context(Node ctx) {
        if (!ctx || !seen_contexts.insert(ctx)) return;
        ValueCell* c = context_cell(ctx);
        if (context_on_stack(c)) return;
        u32 n = context_word_count(c);
        for (u32 i = 0; i < n; i++) value(context_values_head(context_cell(ctx))[i]);
    }
    void series(Node node) {
        if (!node || !seen_series.insert(node)) return;
        for (u32 i = 0; i < cell_count(node); i++) value(*cell_at(node, i));
    }
    void value(ValueCell v) {
        u32 t = v.type();
        if (t == TYPE_FUNCTION) {
            if (!seen_functions.insert(callable_body(&v))) return;
            ValueCell* entry = function_more(&v, MORE_ENTRY);
            if (entry->type() == TYPE_INTEGER && integer_get(entry) != 0) return;
            block_append_cell(&g_library_root, &v);
        } else if (t == TYPE_OBJECT) {
            context(context_of(&v));
        } else if (block_like(t)) {
            series(block_node(&v));
        }
    }
};

// ---- the executable body ------------------------------------------------------------------------

// Binds a global word to the snapshot when its symbol held a callable at
// the seal.
void rebind_static(ValueCell* w) {
    if (w->type() != TYPE_WORD || word_binding(w) != g_global_ctx || !g_library_snapshot_ctx)
        return;
    i32 gi = word_index(w);
    if (gi < 0 || static_cast<size_t>(gi) >= g_snapshot_index.size()) return;
    i32 si = g_snapshot_index[static_cast<size_t>(gi)];
    if (si < 0) return;
    set_word_binding(w, g_library_snapshot_ctx);
    set_word_index(w, si);
}

void prepare_code(Node series, u32 depth) {
    if (depth > 200) return;
    node_buffer(series)->flags |= SERIES_LIBRARY_CODE;
    u32 n = cell_count(series);
    for (u32 i = 0; i < n; i++) {
        ValueCell* c = cell_at(series, i);
        u32 t = c->type();
        if (t == TYPE_WORD) {
            rebind_static(c);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
            prepare_code(block_node(c), depth + 1);
        } else if (path_type(t)) {
            Node p = block_node(c);
            if (cell_count(p) > 0) rebind_static(cell_at(p, 0));
            for (u32 j = 1; j < cell_count(p); j++)
                if (cell_at(p, j)->type() == TYPE_PAREN) prepare_code(block_node(cell_at(p, j)), depth + 1);
        }
    }
}

// Makes the executable body of a function from its source body and keeps
// it in the more block; returns it.
ValueCell make_executable(const ValueCell* fn_in) {
    ValueCell* mark = g_stack.top;
    ValueCell* fn = stack_push(fn_in);
    ValueCell body = *function_more(fn, MORE_BODY);
    ValueCell exec;
    if (body.type() == TYPE_BLOCK) {
        ValueCell* src = stack_push(&body);
        ValueCell* copy = stack_push_cell();
        block_clone(src, copy, true, true);
        cell_set_type(copy, TYPE_BLOCK);
        prepare_code(block_node(copy), 0);
        exec = *copy;
    } else {
        none_box(&exec);
    }
    ValueCell more;
    cell_init(&more, TYPE_BLOCK, 0, callable_body(fn), 0);
    ValueCell* held_more = stack_push(&more);
    while (static_cast<u32>(block_length(held_more)) < MORE_LIBRARY_BODY)
        none_box(block_alloc_tail(held_more));
    if (static_cast<u32>(block_length(held_more)) == MORE_LIBRARY_BODY)
        block_append_cell(held_more, &exec);
    else
        *function_more(fn, MORE_LIBRARY_BODY) = exec;
    g_stack.top = mark;
    return exec;
}

// Whether a sealed library function still has no executable body.
bool executable_pending(const ValueCell* fn) {
    if (!library_function_q(fn)) return false;
    return static_cast<u32>(node_buffer(callable_body(fn))->used_bytes() / 16) <= MORE_LIBRARY_BODY ||
           function_more(fn, MORE_LIBRARY_BODY)->type() != TYPE_BLOCK;
}

// The source body is about to be handed out (body-of): a library function
// makes its executable body now, from the body as it was sealed.
void before_body_handed_out(const ValueCell* fn) {
    if (executable_pending(fn)) make_executable(fn);
}

void make_frame_words() {
    cell_init(&g_frame_words[0], TYPE_WORD, 0, symbol_make("eval-path"), static_cast<u32>(-1));
    cell_init(&g_frame_words[1], TYPE_WORD, 0, symbol_make("eval-set-path"),
              static_cast<u32>(-1));
    g_library_path_words[0] = &g_frame_words[0];
    g_library_path_words[1] = &g_frame_words[1];
}

}  // namespace

void library_code_init() {
    if (!g_root_registered) {
        gc_add_root(&g_library_root);
        g_root_registered = true;
    }
    none_box(&g_library_root);
    g_snapshot_index.clear();
    g_library_snapshot_ctx = 0;
    interp_set_compiled_table(kEntries, 1);
    g_interp_hooks.body_handed_out = before_body_handed_out;
    make_frame_words();
}

void library_seal_words(std::vector<u64>* out) {
    u64 root[2];
    std::memcpy(root, &g_library_root, sizeof root);
    out->push_back(root[0]);
    out->push_back(root[1]);
    out->push_back(g_library_snapshot_ctx);
    out->push_back(g_snapshot_index.size());
    for (i32 i : g_snapshot_index) out->push_back(static_cast<u32>(i));
}

size_t library_seal_read(std::span<const u64> words) {
    if (words.size() < 4 || words[3] > words.size() - 4) return 0;
    std::memcpy(static_cast<void*>(&g_library_root), words.data(), sizeof g_library_root);
    g_library_snapshot_ctx = static_cast<Node>(words[2]);
    g_snapshot_index.resize(words[3]);
    for (size_t i = 0; i < g_snapshot_index.size(); i++)
        g_snapshot_index[i] = static_cast<i32>(static_cast<u32>(words[4 + i]));
    return 4 + g_snapshot_index.size();
}

u32 library_seal() {
    // The root block: the snapshot's place first.
    ValueCell* root = block_push_new(512);
    none_box(block_alloc_tail(root));
    g_library_root = *root;
    stack_pop(1);

    // Every function! reachable from the global context.
    Finder finder;
    finder.context(g_global_ctx);
    u32 count = static_cast<u32>(block_length(&g_library_root)) - 1;

    // The snapshot: every global word that holds a callable now.
    ValueCell* globals = context_cell(g_global_ctx);
    u32 n = context_word_count(globals);
    g_snapshot_index.assign(n, -1);
    u32 callables = 0;
    for (u32 i = 0; i < n; i++)
        if (callable_type(context_values_head(context_cell(g_global_ctx))[i].type())) callables++;
    Node snap = context_create(callables + 1, false, false, nullptr, CTX_OBJECT);
    for (u32 i = 0; i < n; i++) {
        ValueCell v = context_values_head(context_cell(g_global_ctx))[i];
        if (!callable_type(v.type())) continue;
        ValueCell w = context_words_head(context_cell(g_global_ctx))[i];
        w.header = TYPE_WORD;
        // A word that was added is the last one; one refused (another case
        // of a name already there) is looked up.
        u32 before = context_word_count(context_cell(snap));
        context_add_word_value(context_cell(snap), &w, &v);
        g_snapshot_index[i] = context_word_count(context_cell(snap)) > before
                                  ? static_cast<i32>(before)
                                  : context_find_word(context_cell(snap), word_symbol(&w), false);
    }
    ValueCell snap_obj = *object_push_from_context(snap, static_cast<u32>(-1));
    *block_head_ptr(&g_library_root) = snap_obj;
    stack_pop(1);
    g_library_snapshot_ctx = snap;

    // Each function: its entry, its spec cache, its executable body.
    for (u32 k = 1; k <= count; k++) {
        ValueCell fn = block_head_ptr(&g_library_root)[k];
        integer_box(function_more(&fn, MORE_ENTRY), static_cast<i32>(LIBRARY_ENTRY));
        if (function_more(&fn, MORE_UNUSED)->type() != TYPE_BLOCK) interp_parse_spec(&fn);
    }
    return count;
}

bool library_function_q(const ValueCell* fn) {
    if (fn->type() != TYPE_FUNCTION) return false;
    const ValueCell* entry = function_more(fn, MORE_ENTRY);
    return entry->type() == TYPE_INTEGER && integer_get(entry) == static_cast<i32>(LIBRARY_ENTRY);
}

namespace {
bool g_caller_is_library = false;
}  // namespace

bool library_caller_is_library() { return g_caller_is_library; }

void library_function_entry(Node) {
    // The block being evaluated is still the caller's.
    const ValueCell& at = g_interp.position;
    g_caller_is_library = (at.type() == TYPE_BLOCK || at.type() == TYPE_PAREN) && block_node(&at) &&
                          (node_buffer(block_node(&at))->flags & SERIES_LIBRARY_CODE);
    CallFrame* frame = stack_top_frame();
    if (!frame->func_ctx) fire(Err::internal_not_done);
    ValueCell fn = *context_owner(frame->func_ctx);
    if (fn.type() != TYPE_FUNCTION) fire(Err::internal_not_done);
    HeldCell held(fn);
    ValueCell exec =
        executable_pending(&fn) ? make_executable(&fn) : *function_more(&fn, MORE_LIBRARY_BODY);
    if (exec.type() != TYPE_BLOCK) {
        unset_box(stack_result());
        stack_keep();
        return;
    }
    HeldCell body(exec);
    frame->header |= FRAME_BODY;
    // Library code is opaque to tracing.
    TracingGuard tracing;
    g_interp.tracing = false;
    // A return, exit, break or throw is left pending for the caller's
    // handler, which takes it as it would take the same code raised (a C++
    // unwind that costs far more than the call); anything beyond goes on
    // raised, as before.
    if (u32 code = eval_block_p(&body.v, true)) {
        if (code > THROW_BREAK) interp_raise_pending();
        return;
    }
    frame->header &= ~FRAME_BODY;
}

}  // namespace zan

// The compiled form of the bodies a run calls often (see pure_call.h).
//
// While a run lasts nothing changes but the locals of its own calls: it
// stores into nothing else, allocates nothing and runs nothing but what it
// understands. So each word whose value does not live on the data stack (a
// global word, a word of an object) holds the same value all run long, and
// a block's shape (which word is an operator, which one calls a function of
// how many arguments) can be decided once and kept until the run ends.
// The form is a tree of nodes made from a block's cells; it lives in an
// arena that the next run empties. Words of a function's context (the
// locals) are read at every use and must hold plain values: one that holds
// a callable or an operator would make the walker read the block otherwise,
// so the run gives up there, as it does for anything else it meets.
#include <cstdlib>
#include <memory>
#include <vector>

#include "runtime/eval/interp/pure_call_internal.h"

namespace zan::pure {

namespace {

enum NodeKind : u8 {
    N_CONST,   // cell: the value
    N_LOCAL,   // a word of ctx at idx (cell: the word)
    N_DYN,     // a word of another function's context (cell: the word)
    N_MATH,    // a (code) b
    N_CALL,    // fn with kids[0..np) as arguments
    N_EITHER,  // a: condition, b and c: the branches
    N_IF,      // a: condition, b: the branch
    N_UNLESS,
    N_BLOCK,   // kids[0..idx): its expressions
    N_SET,     // the local idx of ctx takes a's value
    N_PREFIX,  // a prefix operation (code) on a and b (not: a only)
};

struct CFunc;

struct CNode {
    u8 kind;
    u8 right_plain;  // N_MATH: b needs no frame of its own
    u8 pad;
    i32 code;        // N_MATH: the fast operator code
    u32 idx;
    Cost cost;  // what the walker would have on its stacks evaluating it (calls' bodies apart)
    Node ctx;
    const ValueCell* ts;  // N_EITHER, N_IF, N_UNLESS: the native's parameter types
    ValueCell cell;
    CNode* a;
    CNode* b;
    CNode* c;
    CNode** kids;
    CFunc* fn;
};

// A function called in the run, found by its "more" node.
struct CFunc {
    Node more;
    Node ctx;
    u32 np;
    u32 nloc;
    const ValueCell* ts;    // its parameters' types
    const ValueCell* body;  // the body's cell in the "more" block
    CNode* code;            // the body's form; null while it is built or when it failed
    bool failed;
};

// ---- the arena ---------------------------------------------------------------------------------------

constexpr size_t CHUNK_BYTES = 64 * 1024;
constexpr size_t MAX_CHUNKS = 16;  // a run compiles no more than this

struct Arena {
    std::vector<std::unique_ptr<char[]>> chunks;
    size_t chunk = 0;  // the chunk in use
    size_t used = 0;   // bytes used of it
    std::vector<CFunc*> funcs;

    void* get(size_t n) {
        n = (n + 15) & ~size_t(15);
        if (chunks.empty() || used + n > CHUNK_BYTES) {
            if (!chunks.empty()) chunk++;
            if (chunk >= MAX_CHUNKS || n > CHUNK_BYTES) return nullptr;
            if (chunk == chunks.size()) chunks.emplace_back(new char[CHUNK_BYTES]);
            used = 0;
        }
        void* p = chunks[chunk].get() + used;
        used += n;
        return p;
    }
    void reset() {
        chunk = 0;
        used = 0;
        funcs.clear();
    }
};
Arena g_arena;
bool g_arena_used = false;

CNode* new_node(u8 kind) {
    void* p = g_arena.get(sizeof(CNode));
    if (!p) return nullptr;
    CNode* n = static_cast<CNode*>(p);
    *n = CNode{};
    n->kind = kind;
    return n;
}

// ---- building the form -------------------------------------------------------------------------------

// The larger of two costs, part by part, and a construct's own cost
// added to what is nested in it.
inline Cost most(Cost a, Cost b) {
    return Cost{a.frames > b.frames ? a.frames : b.frames, a.cells > b.cells ? a.cells : b.cells};
}
inline Cost plus(Cost own, Cost nested) {
    return Cost{own.frames + nested.frames, own.cells + nested.cells};
}

CFunc* func_of(const ValueCell* fn);
CNode* build_block(Node ctx, const ValueCell* block);
u32 build_expr(Node ctx, const ValueCell* cells, u32 i, u32 end, CNode** out);

// How a word reads during the run.
enum WordUse { W_FAIL, W_LOCAL, W_DYN, W_CONST };

WordUse word_use(Node ctx, const ValueCell* word, const ValueCell** value) {
    Node n = word_binding(word);
    i32 idx = word_index(word);
    if (!n || idx < 0) return W_FAIL;
    if (n == ctx) return W_LOCAL;
    if (n == g_run.global_ctx) {
        *value = g_run.globals + idx;
        return W_CONST;
    }
    if (context_cell(n)->header & CONTEXT_VALUES_ON_STACK) return W_DYN;
    *value = word_value_if_available(word);
    return *value ? W_CONST : W_FAIL;
}

// Types a word may hold and be read as a value (not a callable, an
// operator or unset!).
constexpr u64 kNotPlain = type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) | type_bit(TYPE_FUNCTION) |
                          type_bit(TYPE_ROUTINE) | type_bit(TYPE_UNSET) | type_bit(TYPE_OP);
static_assert(TYPE_NATIVE < 64 && TYPE_ACTION < 64 && TYPE_FUNCTION < 64 && TYPE_ROUTINE < 64 &&
              TYPE_UNSET < 64 && TYPE_OP < 64);
inline bool plain_type(u32 t) { return t >= 64 || !((kNotPlain >> t) & 1); }

// either, if or unless with its arguments (the branches must be blocks
// written where the call is, or held by a word that does not change), or
// a prefix operation of prefix_code's with its arguments.
u32 build_native(Node ctx, const ValueCell* fn, const ValueCell* cells, u32 i, u32 end,
                      CNode** out) {
    u32 nat = callable_entry(fn);
    u8 kind = 0;
    i32 code = -1;
    if (fn->type() == TYPE_NATIVE)
        kind = nat == NAT_EITHER ? N_EITHER : nat == NAT_IF ? N_IF : nat == NAT_UNLESS ? N_UNLESS : 0;
    if (!kind) {
        code = prefix_code(fn);
        if (code < 0) return 0;
        kind = N_PREFIX;
    }
    u32 n = kind == N_EITHER ? 3 : code == PREFIX_NOT ? 1 : 2;
    u32 digest = 0;
    Node cache = short_cache(node_buffer(callable_more(fn))->head_cells(), &digest);
    if (!cache || spec_params(digest) != n) return 0;
    CNode* node = new_node(kind);
    if (!node) return 0;
    node->ts = node_buffer(cache)->head_cells();
    CNode* args[3];
    for (u32 k = 0; k < n; k++) {
        if (i >= end) return 0;
        i = build_expr(ctx, cells, i, end, args + k);
        if (!i) return 0;
        if (k == 0 || kind == N_PREFIX) continue;
        if (args[k]->kind != N_CONST || args[k]->cell.type() != TYPE_BLOCK ||
            !arg_type_ok(node->ts + k, TYPE_BLOCK))
            return 0;
        args[k] = build_block(ctx, &args[k]->cell);
        if (!args[k]) return 0;
    }
    node->code = code;
    node->a = args[0];
    node->b = n >= 2 ? args[1] : nullptr;
    node->c = n == 3 ? args[2] : nullptr;
    Cost c = node->a->cost;
    if (node->b) c = most(c, node->b->cost);
    if (node->c) c = most(c, node->c->cost);
    node->cost = plus(NATIVE_COST, c);
    *out = node;
    return i;
}

u32 build_call(Node ctx, const ValueCell* fn, const ValueCell* cells, u32 i, u32 end,
               CNode** out) {
    CFunc* cf = func_of(fn);
    if (!cf) return 0;
    CNode* node = new_node(N_CALL);
    if (!node) return 0;
    node->fn = cf;
    if (cf->np) {
        node->kids = static_cast<CNode**>(g_arena.get(cf->np * sizeof(CNode*)));
        if (!node->kids) return 0;
    }
    Cost c{0, 0};
    for (u32 k = 0; k < cf->np; k++) {
        if (i >= end) return 0;
        i = build_expr(ctx, cells, i, end, node->kids + k);
        if (!i) return 0;
        c = most(c, node->kids[k]->cost);
    }
    node->cost = plus(Cost{FUNCTION_COST.frames, FUNCTION_COST.cells + cf->np + cf->nloc}, c);
    *out = node;
    return i;
}

// A term at i: returns the index after it, or 0 when it has no form.
u32 build_term(Node ctx, const ValueCell* cells, u32 i, u32 end, CNode** out) {
    const ValueCell* c = cells + i;
    u32 t = c->type();
    if (self_evaluating(t)) {
        CNode* n = new_node(N_CONST);
        if (!n) return 0;
        n->cell = *c;
        *out = n;
        return i + 1;
    }
    if (t == TYPE_WORD) {
        const ValueCell* v = nullptr;
        WordUse use = word_use(ctx, c, &v);
        if (use == W_FAIL) return 0;
        if (use == W_LOCAL || use == W_DYN) {
            CNode* n = new_node(use == W_LOCAL ? N_LOCAL : N_DYN);
            if (!n) return 0;
            n->cell = *c;
            n->ctx = ctx;
            n->idx = static_cast<u32>(word_index(c));
            *out = n;
            return i + 1;
        }
        u32 vt = v->type();
        if (vt == TYPE_FUNCTION) return build_call(ctx, v, cells, i + 1, end, out);
        if (vt == TYPE_NATIVE || vt == TYPE_ACTION)
            return build_native(ctx, v, cells, i + 1, end, out);
        if (!plain_type(vt)) return 0;
        CNode* n = new_node(N_CONST);
        if (!n) return 0;
        n->cell = *v;
        *out = n;
        return i + 1;
    }
    if (t == TYPE_PAREN) {
        *out = build_block(ctx, c);
        return *out ? i + 1 : 0;
    }
    if (t == TYPE_SET_WORD) {
        if (word_binding(c) != ctx || word_index(c) < 0 || i + 1 >= end) return 0;
        CNode* n = new_node(N_SET);
        if (!n) return 0;
        n->ctx = ctx;
        n->idx = static_cast<u32>(word_index(c));
        i = build_expr(ctx, cells, i + 1, end, &n->a);
        if (!i) return 0;
        n->cost = plus(SET_COST, n->a->cost);
        *out = n;
        return i;
    }
    return 0;
}

// An expression: a term and the operators after it. Only a word that
// keeps its value all run can be an operator here; a local in that place
// is read as the next expression's start, where an operator in it makes
// the run give up.
u32 build_expr(Node ctx, const ValueCell* cells, u32 i, u32 end, CNode** out) {
    i = build_term(ctx, cells, i, end, out);
    while (i && i < end) {
        const ValueCell* c = cells + i;
        if (c->type() != TYPE_WORD) break;
        const ValueCell* v = nullptr;
        if (word_use(ctx, c, &v) != W_CONST || v->type() != TYPE_OP) break;
        i32 code = fast_code(v);
        if (code < 0 || i + 1 >= end) return 0;
        CNode* n = new_node(N_MATH);
        if (!n) return 0;
        n->code = code;
        n->a = *out;
        i = build_term(ctx, cells, i + 1, end, &n->b);
        if (!i) return 0;
        // (A paren of one value is such a node too, but the walker gives
        // it the operator's frame and its own.)
        u8 bk = n->b->kind;
        u32 rt = cells[i - 1].type();
        n->right_plain = (bk == N_CONST || bk == N_LOCAL || bk == N_DYN) &&
                         (rt == TYPE_WORD || self_evaluating(rt));
        Cost b = n->b->cost;
        if (!n->right_plain) b.frames += OP_COST.frames;
        n->cost = plus(Cost{0, OP_COST.cells}, most(n->a->cost, b));
        *out = n;
    }
    return i;
}

CNode* build_block(Node ctx, const ValueCell* block) {
    SeriesBuffer* b = node_buffer(series_node(block));
    const ValueCell* cells = b->head_cells();
    u32 end = b->used_bytes() / sizeof(ValueCell);
    u32 i = series_head(block);
    if (i >= end) return nullptr;
    CNode* exprs[64];
    u32 n = 0;
    while (i < end) {
        if (n == 64) return nullptr;
        i = build_expr(ctx, cells, i, end, exprs + n);
        if (!i) return nullptr;
        n++;
    }
    Cost c{0, 0};
    for (u32 k = 0; k < n; k++) c = most(c, exprs[k]->cost);
    if (n == 1) {
        // One expression stands for its block (its frame counted in it).
        exprs[0]->cost = plus(BLOCK_COST, c);
        return exprs[0];
    }
    CNode* node = new_node(N_BLOCK);
    if (!node) return nullptr;
    node->kids = static_cast<CNode**>(g_arena.get(n * sizeof(CNode*)));
    if (!node->kids) return nullptr;
    for (u32 k = 0; k < n; k++) node->kids[k] = exprs[k];
    node->idx = n;
    node->cost = plus(BLOCK_COST, c);
    return node;
}

// The function's record, its body built the first time (null when it
// cannot take part in a run at all).
CFunc* func_of(const ValueCell* fn) {
    Node more_node = callable_more(fn);
    for (CFunc* cf : g_arena.funcs)
        if (cf->more == more_node) return cf;
    const ValueCell* more = node_buffer(more_node)->head_cells();
    u32 digest = 0;
    Node cache = short_cache(more, &digest);
    if (!cache || !plain_interpreted(fn, more) || more[MORE_BODY].type() != TYPE_BLOCK)
        return nullptr;
    u32 np = spec_params(digest);
    u32 nloc = (digest & SPEC_LOCALS) ? spec_local_count(digest) : 0;
    if (np + nloc > MAX_VALS) return nullptr;
    void* p = g_arena.get(sizeof(CFunc));
    if (!p) return nullptr;
    CFunc* cf = static_cast<CFunc*>(p);
    *cf = CFunc{more_node, context_of(fn), np, nloc, node_buffer(cache)->head_cells(),
                more + MORE_BODY, nullptr, false};
    g_arena.funcs.push_back(cf);
    cf->code = build_block(cf->ctx, cf->body);
    cf->failed = !cf->code;
    return cf;
}

// ---- running it ----------------------------------------------------------------------------------------

bool run_node(const CNode* n, const PureFrame* f, ValueCell* out);

inline bool read_word(const CNode* n, const PureFrame* f, ValueCell* out) {
    const ValueCell* v;
    if (n->kind == N_LOCAL && f->ctx == n->ctx && n->idx < f->nvals) v = f->vals + n->idx;
    else v = pure_slot(f, &n->cell);
    if (!v || !plain_type(v->type())) return false;
    *out = *v;
    return true;
}

// A constant or a local of the running call read in place; anything else
// through run_node.
__attribute__((always_inline)) inline bool run_value(const CNode* n, const PureFrame* f,
                                                    ValueCell* out) {
    if (n->kind == N_CONST) {
        *out = n->cell;
        return true;
    }
    if (n->kind == N_LOCAL && f->ctx == n->ctx && n->idx < f->nvals) {
        const ValueCell* v = f->vals + n->idx;
        if (!plain_type(v->type())) return false;
        *out = *v;
        return true;
    }
    return run_node(n, f, out);
}

__attribute__((noinline)) bool run_call(const CNode* n, const PureFrame* f, ValueCell* out) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) return false;
    const CFunc* cf = n->fn;
    // (The caller's cost counted the function's frame and values; a body
    // without a form counts its own as the tree walker runs it.)
    Cost body = cf->code ? cf->code->cost : Cost{0, 0};
    if (!take(body)) return false;
    // (Each argument is written by run_value before it is read, each local
    // by its box below; no cell at or beyond nvals is ever read.)
    UnwrittenCells<MAX_VALS> vals;
    for (u32 k = 0; k < cf->np; k++) {
        if (!run_value(n->kids[k], f, vals + k) || !arg_type_ok(cf->ts + k, vals[k].type()))
            return false;
    }
    u32 nvals = cf->np + cf->nloc;
    if (cf->nloc) {
        logic_box(vals + cf->np, false);
        for (u32 k = cf->np + 1; k < nvals; k++) none_box(vals + k);
    }
    PureFrame nf{cf->ctx, nvals, vals, f};
    g_run.calls++;
    if (!(cf->code ? run_node(cf->code, &nf, out) : walk_block(&nf, cf->body, out))) return false;
    give(body);
    return true;
}

bool run_node(const CNode* n, const PureFrame* f, ValueCell* out) {
    switch (n->kind) {
        case N_CONST:
            *out = n->cell;
            return true;
        case N_LOCAL:
        case N_DYN:
            return read_word(n, f, out);
        case N_MATH: {
            if (!run_value(n->a, f, out) || out->type() != TYPE_INTEGER) return false;
            ValueCell right;
            if (n->right_plain) {
                if (!run_value(n->b, f, &right)) return false;
            } else if (!run_node(n->b, f, &right)) {
                return false;
            }
            return right.type() == TYPE_INTEGER && int_op_inline(n->code, out, &right);
        }
        case N_BLOCK:
            for (u32 k = 0; k < n->idx; k++)
                if (!run_value(n->kids[k], f, out)) return false;
            return true;
        case N_EITHER:
        case N_IF:
        case N_UNLESS: {
            if (!run_value(n->a, f, out) ||
                !arg_type_ok(n->ts, out->type()))
                return false;
            const CNode* branch;
            if (n->kind == N_EITHER) {
                branch = truthy(out) ? n->b : n->c;
            } else if (truthy(out) != (n->kind == N_IF)) {
                none_box(out);
                return true;
            } else {
                branch = n->b;
            }
            return run_value(branch, f, out);
        }
        case N_SET: {
            if (!run_value(n->a, f, out) || out->type() == TYPE_UNSET || f->ctx != n->ctx ||
                n->idx >= f->nvals)
                return false;
            f->vals[n->idx] = *out;
            return true;
        }
        case N_CALL:
            return run_call(n, f, out);
        case N_PREFIX: {
            ValueCell args[2];
            if (!run_value(n->a, f, args) || !arg_type_ok(n->ts, args[0].type())) return false;
            if (n->b && (!run_value(n->b, f, args + 1) || !arg_type_ok(n->ts + 1, args[1].type())))
                return false;
            return prefix_result(n->code, args, out);
        }
        default:
            return false;
    }
}

}  // namespace

int compiled_body(const ValueCell* fn, const PureFrame* nf, ValueCell* out) {
    g_arena_used = true;
    CFunc* cf = func_of(fn);
    if (!cf || !cf->code) return -1;
    // (The caller took the function's own frame and values.)
    if (!take(cf->code->cost) || !run_node(cf->code, nf, out)) return 0;
    give(cf->code->cost);
    return 1;
}

void compiled_reset() {
    if (!g_arena_used) return;
    g_arena.reset();
    g_arena_used = false;
}

}  // namespace zan::pure

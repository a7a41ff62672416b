// The evaluator of calls that cannot be seen to run (see pure_call.h).
// It follows the walker's rules of evaluation step by step: an expression
// is a term and the operators after it, left to right; an operator's right
// operand is a term alone; a call's arguments are whole expressions; a
// block's value is its last expression's.
#include "runtime/eval/interp/pure_call.h"

#include "runtime/eval/interp/pure_call_internal.h"

namespace zan {

Node g_pure_refused[PURE_REFUSED_SLOTS];

namespace pure {

PureRun g_run;

namespace {

u32 pure_chain(const PureFrame* f, const ValueCell* cells, u32 i, u32 end, ValueCell* out);
u32 pure_call_term(const PureFrame* f, const ValueCell* callable, const ValueCell* cells, u32 i,
                   u32 end, ValueCell* out);

// An expression at i: a term, then the operators after it. Returns the
// index after it, or 0 to give up.
__attribute__((always_inline)) inline u32 pure_expr(const PureFrame* f, const ValueCell* cells,
                                                   u32 i, u32 end, ValueCell* out) {
    const ValueCell* callable = nullptr;
    if (const ValueCell* v = plain_term(f, cells + i, &callable)) {
        *out = *v;
        i++;
    } else {
        i = pure_call_term(f, callable, cells, i, end, out);
        if (!i) return 0;
    }
    if (i < end && cells[i].type() == TYPE_WORD) return pure_chain(f, cells, i, end, out);
    return i;
}

// The operators from i on (when the word there holds one), applied to the
// value in *out left to right; each right operand is a term alone.
u32 pure_chain(const PureFrame* f, const ValueCell* cells, u32 i, u32 end, ValueCell* out) {
    while (i < end) {
        const ValueCell* c = cells + i;
        if (c->type() != TYPE_WORD) break;
        const ValueCell* opv = pure_slot(f, c);
        if (!opv || opv->type() != TYPE_OP) break;
        i32 code = fast_code(opv);
        if (code < 0 || i + 1 >= end || out->type() != TYPE_INTEGER) return 0;
        const ValueCell* callable = nullptr;
        if (const ValueCell* rv = plain_term(f, c + 1, &callable)) {
            if (rv->type() != TYPE_INTEGER || !int_op_inline(code, out, rv)) return 0;
            i += 2;
            continue;
        }
        if (!take(OP_COST)) return 0;
        ValueCell right;
        i = pure_call_term(f, callable, cells, i + 1, end, &right);
        if (!i) return 0;
        give(OP_COST);
        if (right.type() != TYPE_INTEGER || !int_op_inline(code, out, &right)) return 0;
    }
    return i;
}

// The expressions of a block or paren, the last one's value into *out
// (an empty one gives unset!, which is the walker's to report).
bool pure_block(const PureFrame* f, const ValueCell* block, ValueCell* out) {
    SeriesBuffer* b = node_buffer(series_node(block));
    const ValueCell* cells = b->head_cells();
    u32 end = b->used_bytes() / sizeof(ValueCell);
    u32 i = series_head(block);
    if (i >= end || !take(BLOCK_COST)) return false;
    do {
        i = pure_expr(f, cells, i, end, out);
        if (!i) return false;
    } while (i < end);
    give(BLOCK_COST);
    return true;
}


// The arguments of a call, each a whole expression checked against its
// parameter's types, into args[0..n).
__attribute__((always_inline)) inline u32 pure_args(const PureFrame* f, const ValueCell* cells,
                                                    u32 i, u32 end, Node cache, u32 n,
                                                    ValueCell* args) {
    const ValueCell* ts = node_buffer(cache)->head_cells();
    for (u32 k = 0; k < n; k++) {
        if (i >= end) return 0;
        i = pure_expr(f, cells, i, end, args + k);
        if (!i || !arg_type_ok(ts + k, args[k].type())) return 0;
    }
    return i;
}

// either, if and unless, the natives whose call is understood here.
u32 pure_native(const PureFrame* f, const ValueCell* fn, const ValueCell* cells, u32 i, u32 end,
                ValueCell* out) {
    u32 idx = callable_entry(fn);
    bool conditional = fn->type() == TYPE_NATIVE &&
                       (idx == NAT_EITHER || idx == NAT_IF || idx == NAT_UNLESS);
    i32 code = conditional ? -1 : prefix_code(fn);
    if (!conditional && code < 0) return 0;
    u32 digest = 0;
    Node cache = short_cache(node_buffer(callable_more(fn))->head_cells(), &digest);
    u32 n = idx == NAT_EITHER && conditional ? 3 : code == PREFIX_NOT ? 1 : 2;
    if (!cache || spec_params(digest) != n || !take(NATIVE_COST)) return 0;
    ValueCell args[3];
    i = pure_args(f, cells, i, end, cache, n, args);
    if (!i) return 0;
    if (!conditional) {
        if (!prefix_result(code, args, out)) return 0;
        give(NATIVE_COST);
        return i;
    }
    const ValueCell* branch;
    if (idx == NAT_EITHER) {
        branch = truthy(args) ? args + 1 : args + 2;
    } else if (truthy(args) != (idx == NAT_IF)) {
        none_box(out);
        give(NATIVE_COST);
        return i;
    } else {
        branch = args + 1;
    }
    if (branch->type() != TYPE_BLOCK || !pure_block(f, branch, out)) return 0;
    give(NATIVE_COST);
    return i;
}

// A function's call: its arguments, its locals (the /local flag false and
// none for each), its body.
u32 pure_function(const PureFrame* f, const ValueCell* fn, const ValueCell* cells, u32 i,
                  u32 end, ValueCell* out) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) return 0;
    const ValueCell* more = node_buffer(callable_more(fn))->head_cells();
    u32 digest = 0;
    Node cache = short_cache(more, &digest);
    if (!cache || !plain_interpreted(fn, more) || more[MORE_BODY].type() != TYPE_BLOCK) return 0;
    u32 np = spec_params(digest);
    u32 nloc = (digest & SPEC_LOCALS) ? spec_local_count(digest) : 0;
    u32 nvals = np + nloc;
    if (nvals > MAX_VALS || !take(Cost{FUNCTION_COST.frames, FUNCTION_COST.cells + nvals})) return 0;
    ValueCell vals[MAX_VALS];
    const ValueCell* body = more + MORE_BODY;
    PureFrame nf{context_of(fn), nvals, vals, f};
    i = pure_args(f, cells, i, end, cache, np, vals);
    if (!i) return 0;
    if (nloc) {
        logic_box(vals + np, false);
        for (u32 k = np + 1; k < nvals; k++) none_box(vals + k);
    }
    // A run that makes many calls runs their bodies in compiled form.
    int done = ++g_run.calls > HOT_CALLS ? compiled_body(fn, &nf, out) : -1;
    if (done == 0 || (done < 0 && !pure_block(&nf, body, out))) return 0;
    give(Cost{FUNCTION_COST.frames, FUNCTION_COST.cells + nvals});
    return i;
}

// A set-word of a running call's local: the value of the expression after
// it, stored in the copy.
u32 pure_set(const PureFrame* f, const ValueCell* cells, u32 i, u32 end, ValueCell* out) {
    const ValueCell* sw = cells + i;
    Node n = word_binding(sw);
    i32 idx = word_index(sw);
    if (n != f->ctx || idx < 0 || static_cast<u32>(idx) >= f->nvals) return 0;
    if (i + 1 >= end || !take(SET_COST)) return 0;
    i = pure_expr(f, cells, i + 1, end, out);
    if (!i || out->type() == TYPE_UNSET) return 0;
    f->vals[idx] = *out;
    give(SET_COST);
    return i;
}

// A term that is not plain_term's: the call of callable (the value of the
// word at i), else a paren or a set-word.
u32 pure_call_term(const PureFrame* f, const ValueCell* callable, const ValueCell* cells, u32 i,
                   u32 end, ValueCell* out) {
    if (callable) {
        if (callable->type() == TYPE_FUNCTION)
            return pure_function(f, callable, cells, i + 1, end, out);
        return pure_native(f, callable, cells, i + 1, end, out);
    }
    const ValueCell* c = cells + i;
    if (c->type() == TYPE_PAREN) return pure_block(f, c, out) ? i + 1 : 0;
    if (c->type() == TYPE_SET_WORD) return pure_set(f, cells, i, end, out);
    return 0;
}

}  // namespace

bool walk_block(const PureFrame* f, const ValueCell* block, ValueCell* out) {
    return pure_block(f, block, out);
}

}  // namespace pure

PureFence g_pure_fence;

bool pure_call_run(const ValueCell* fn, const ValueCell* body, u32 nvals, ValueCell* out) {
    using namespace pure;
    Node more = callable_more(fn);
    if (nvals > MAX_VALS) return false;
    u32 frames_free = static_cast<u32>(g_stack.climit - g_stack.ctop);
    u32 cells_free = static_cast<u32>(g_stack.limit - g_stack.top);
    if (frames_free <= ROOM_MARGIN.frames || cells_free <= ROOM_MARGIN.cells) return false;
    global_value_slot(0);  // (brings the cached head up to date)
    g_run = PureRun{Cost{0, 0},
                    Cost{frames_free - ROOM_MARGIN.frames, cells_free - ROOM_MARGIN.cells},
                    0, false, g_global_values.ctx, g_global_values.head};
    compiled_reset();
    ValueCell vals[MAX_VALS];
    for (u32 k = 0; k < nvals; k++) vals[k] = g_stack.base[k];
    PureFrame top{context_of(fn), nvals, vals, nullptr};
    if (pure_block(&top, body, out)) return true;
    CallFrame* f = g_stack.ctop;
    g_pure_fence = PureFence{f, f[-1].saved_base, f[-1].header};
    // (Only a take that failed leaves a count at the room.)
    bool room = g_run.used.frames >= g_run.room.frames || g_run.used.cells >= g_run.room.cells;
    if (!room && !g_interrupt_pending && !g_run.unbuilt)
        g_pure_refused[pure_refused_slot(more)] = more;
    return false;
}

}  // namespace zan

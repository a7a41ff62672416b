// The interpreter core: blocks, expressions, the infix rule, calls with
// their argument fetch, functions and their bodies.
#include "runtime/eval/interp/interp.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "runtime/core/collector.h"
#include "runtime/core/interrupt.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/fast_ops.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/eval/interp/direct_call.h"
#include "runtime/eval/interp/forms_switch.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/eval/interp/interp_pure.h"
#include "runtime/eval/interp/pure_call.h"

namespace zan {

InterpState g_interp{};
HeldCell* g_held_top = nullptr;

namespace {

const CompiledFunctionEntry* g_compiled = nullptr;
u32 g_compiled_count = 0;
bool g_roots_registered = false;

// The collector's view of the interpreter: the cells held on the machine
// stack and the position cell.
void mark_interp_roots() {
    for (HeldCell* h = g_held_top; h; h = h->prev) gc_mark_cells(&h->v, &h->v + 1);
    if (g_interp.position.type() == TYPE_BLOCK || g_interp.position.type() == TYPE_PAREN)
        gc_mark_cells(&g_interp.position, &g_interp.position + 1);
}

// The position cell is saved on entry to a block and restored on exit,
// also when an exception passes.
struct PositionGuard {
    ValueCell saved;
    PositionGuard() { stack_copy_cell(&saved, &g_interp.position); }
    ~PositionGuard() { stack_copy_cell(&g_interp.position, &saved); }
};

inline void store_value(const ValueCell* v, bool push) {
    if (push) stack_push(v);
    else stack_set_last_reset(v);
}

inline void trace_push(EvalWalk& w, u32 i, bool push) {
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_PUSH, &w.block(), trace_offset(w, i), nullptr,
                           push ? stack_top_value() : stack_result());
}


// ---- errors ----------------------------------------------------------------------------------

[[noreturn]] void fire_no_arg(const ValueCell* fn, const ValueCell* name, u32 k) {
    ValueCell n = *name, p;
    spec_entry_word(fn, k, &p);
    fire(Err::script_no_arg, &n, &p);
}

[[noreturn]] void fire_expect_arg(const ValueCell* fn, const ValueCell* name, u32 k,
                                  const ValueCell* value) {
    ValueCell n = *name, p, dt;
    spec_entry_word(fn, k, &p);
    datatype_box(&dt, value->type());
    fire(Err::script_expect_arg, &n, &dt, &p);
}

// ---- the argument fetch ------------------------------------------------------------------------

constexpr u32 MAX_REFINEMENTS = 16;

inline Node cache_of(const ValueCell* fn) {
    ValueCell* c = node_buffer(callable_more(fn))->head_cells() + 1;
    if (ZAN_LIKELY(c->type() == TYPE_BLOCK)) return block_node(c);
    return interp_parse_spec(fn);
}
inline ValueCell* cache_cells(Node cache) { return node_buffer(cache)->head_cells(); }

// The cache's node and its shape word (see SPEC_SHORT).
struct SpecInfo {
    Node cache;
    u32 digest;
};
inline SpecInfo spec_info(const ValueCell* fn) {
    ValueCell* c = node_buffer(callable_more(fn))->head_cells() + 1;
    if (ZAN_UNLIKELY(c->type() != TYPE_BLOCK)) {
        interp_parse_spec(fn);
        c = node_buffer(callable_more(fn))->head_cells() + 1;
    }
    return SpecInfo{block_node(c), block_extra(c)};
}
inline u32 cache_length(Node cache) { return node_buffer(cache)->used_bytes() / 16; }

// Fetches one argument by its fetch mode, pushing it. Returns the next
// index of the walk.
u32 fetch_one(EvalWalk& w, u32 i, u32 mode, const ValueCell* fn, const ValueCell* name,
              Node cache, u32 k, u32 apply_mode, bool no_infix) {
    if (ZAN_UNLIKELY(i >= w.end)) {
        if (apply_mode & 1) {
            none_push();
            return i;
        }
        if (mode == FETCH_LIT && typeset_has_type(cache_cells(cache) + k, TYPE_UNSET)) {
            unset_push();
            return i;
        }
        fire_no_arg(fn, name, k);
    }
    if (ZAN_LIKELY(mode == FETCH_WORD)) return eval_arg(w, i, no_infix);
    ValueCell v = *w.at(i);
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_FETCH, &w.block(), trace_offset(w, i), nullptr, &v);
    if (mode == FETCH_GET) {
        stack_push(&v);
        return i + 1;
    }
    // A lit-word parameter: parens and get-paths are evaluated, get-words
    // replaced by their value, anything else taken as it is.
    switch (v.type()) {
        case TYPE_PAREN:
            eval_paren_p(&v, true);
            break;
        case TYPE_GET_WORD:
            stack_push(word_value(&v));
            break;
        case TYPE_GET_PATH:
            eval_path(w, i, &v, PATH_GET, true, nullptr, false);
            break;
        default:
            stack_push(&v);
            break;
    }
    return i + 1;
}


inline void check_arg(const ValueCell* fn, const ValueCell* name, Node cache, u32 k,
                      const ValueCell* value) {
    if (ZAN_UNLIKELY(!arg_type_ok(cache_cells(cache) + k, value->type())))
        fire_expect_arg(fn, name, k, value);
}

// The entry index of the refinement named by a word (by symbol, case
// folded); -1 when the spec has none.
i32 find_refinement(Node cache, u32 symbol) {
    u32 n = cache_length(cache);
    u32 want = symbol_resolve(symbol);
    for (u32 k = 0; k < n; k++) {
        ValueCell* e = cache_cells(cache) + k;
        if (e->type() == TYPE_REFINEMENT && symbol_resolve(word_symbol(e)) == want)
            return static_cast<i32>(k);
    }
    return -1;
}

struct Fetched {
    i32 refs[MAX_REFINEMENTS];
    u32 nrefs;
    // Every refinement position absent (-1): four 16-byte stores, cheaper
    // than a loop of the refinement count (which compiles to a string
    // store), and known to change only 32-bit words (a copy through memcpy
    // would make the compiler read the heap base again after it).
    void clear_refs() {
        typedef i32 RefBits __attribute__((vector_size(16), aligned(4)));
        static_assert(MAX_REFINEMENTS == 16, "four stores");
        RefBits absent = {-1, -1, -1, -1};
        for (u32 q = 0; q < 4; q++) reinterpret_cast<RefBits*>(refs)[q] = absent;
    }
};

// Fetches the arguments of one refinement's entries after entry r
// (typesets until the next refinement or the end), pushing them.
u32 fetch_refinement_args(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* name,
                          Node cache, u32 r, u32 apply_mode, bool keep) {
    u32 n = cache_length(cache);
    for (u32 k = r + 1; k < n; k++) {
        ValueCell* e = cache_cells(cache) + k;
        if (e->type() != TYPE_TYPESET) break;
        u32 mode = e->header & FETCH_MODE_MASK;
        if (mode == FETCH_RETURN) continue;
        i = fetch_one(w, i, mode, fn, name, cache, k, apply_mode, false);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
        check_arg(fn, name, cache, k, stack_top_value());
        if (!keep) stack_pop(1);
    }
    return i;
}

// Number of argument entries of refinement entry r.
u32 refinement_arity(Node cache, u32 r) {
    u32 n = cache_length(cache), a = 0;
    for (u32 k = r + 1; k < n; k++) {
        ValueCell* e = cache_cells(cache) + k;
        if (e->type() != TYPE_TYPESET) break;
        if ((e->header & FETCH_MODE_MASK) != FETCH_RETURN) a++;
    }
    return a;
}

// Turns the refinement named by a path element into a refinement entry
// index; raises bad-refine, no-refine. *on receives whether it is given (a
// get-word's value decides).
u32 path_refinement(Node cache, const ValueCell* elem, const ValueCell* name, bool* on) {
    ValueCell e = *elem;
    *on = true;
    if (e.type() == TYPE_GET_WORD) {
        *on = truthy(word_value(&e));
    } else if (e.type() != TYPE_WORD) {
        fire(Err::script_bad_refine, &e);
    }
    i32 r = find_refinement(cache, word_symbol(&e));
    if (r < 0) {
        ValueCell n = *name, wd = e;
        wd.set_type(TYPE_WORD);
        fire(Err::script_no_refine, &n, &wd);
    }
    return static_cast<u32>(r);
}

u32 set_word_arg(EvalWalk& w, u32 i);

// Parameter k's argument evaluated at i (not past the end) and checked;
// returns the next index (unchecked when a code is pending).
inline u32 fetch_checked_arg(const ValueCell* fn, EvalWalk& w, u32 i, const ValueCell* name,
                             Node cache, u32 k) {
    i = eval_arg(w, i, false);
    if (ZAN_LIKELY(!g_throw_code)) check_arg(fn, name, cache, k, g_stack.top - 1);
    return i;
}

// The short path of the argument fetch (SPEC_SHORT): np plain word
// parameters from the walk, each type-checked; the same errors as the long
// path, raised in the same frame. With inline_values (natives and
// actions) eval_arg's steps for a value, a word holding one or a word
// holding a callable are taken here; a value with no operator after it is
// checked at once (nothing ran that could leave a code pending). Each case
// ends in its own check: one shared tail cost 3 to 30 instructions per
// unit on the benchmarks. stopped is set when a pending code ended the
// fetch (a flag of the caller's, which the compiler can follow, where a
// test of g_throw_code after the fetch costs a load and a branch).
template <bool inline_values>
__attribute__((always_inline)) inline u32 fetch_plain_args_body(const ValueCell* fn, EvalWalk& w,
                                                                u32 i, const ValueCell* name,
                                                                Node cache, u32 np,
                                                                bool& stopped) {
    // The cache's entries, read again after anything was evaluated (which
    // may move them); a value taken as it stands moves nothing.
    const ValueCell* ts = cache_cells(cache);
    for (u32 k = 0; k < np; k++) {
        if (ZAN_UNLIKELY(i >= w.end)) fire_no_arg(fn, name, k);
        if (inline_values && ZAN_LIKELY(!g_interp.tracing)) {
            ValueCell* c = w.at(i);
            const ValueCell* callable = nullptr;
            const ValueCell* val = simple_value(c, &callable);
            if (val) {
                ValueCell* entry_top = g_stack.top;
                // (The type read before the push, which the compiler
                // cannot see leaves it as it was.)
                u32 vt = val->type();
                stack_push(val);
                const ValueCell* op = i + 1 < w.end ? op_cell(c + 1) : nullptr;
                if (!op) {
                    i++;
                    if (ZAN_UNLIKELY(!arg_type_ok(ts + k, vt))) fire_expect_arg(fn, name, k, val);
                    continue;
                }
                i = eval_infix(w, i + 1, entry_top, true, op);
                if (ZAN_UNLIKELY(g_throw_code)) {
                    stopped = true;
                    return i;
                }
                check_arg(fn, name, cache, k, g_stack.top - 1);
                ts = cache_cells(cache);
                continue;
            }
            // (A set-word, as in either c: select m k [...], goes to
            // set_word_arg, which does what eval_expr does with it.)
            if (callable || c->type() == TYPE_SET_WORD) {
                i = callable ? eval_word_call(w, i, callable, true, c) : set_word_arg(w, i);
                if (ZAN_UNLIKELY(g_throw_code)) {
                    stopped = true;
                    return i;
                }
                check_arg(fn, name, cache, k, g_stack.top - 1);
                ts = cache_cells(cache);
                continue;
            }
        }
        i = fetch_checked_arg(fn, w, i, name, cache, k);
        if (ZAN_UNLIKELY(g_throw_code)) {
            stopped = true;
            return i;
        }
        ts = cache_cells(cache);
    }
    return i;
}

template <bool inline_values>
inline u32 fetch_plain_args(const ValueCell* fn, EvalWalk& w, u32 i, const ValueCell* name,
                            Node cache, u32 np) {
    bool stopped = false;
    return fetch_plain_args_body<inline_values>(fn, w, i, name, cache, np, stopped);
}

// The positional arguments of a native!, action!, function! or routine!:
// the typeset entries at the head of the cache, each fetched and checked.
// With infix the caller has already counted the left operand on the stack:
// it is the first argument.
// Advances i past what they took and k to the first cache entry after
// them; false when a pending code stopped the fetch.
inline bool fetch_positional_args(const ValueCell* fn, EvalWalk& w, u32& i, const ValueCell* name,
                                  Node cache, u32 n, u32& k, u32 apply_mode, bool infix) {
    bool left = infix;
    for (; k < n; k++) {
        ValueCell* e = cache_cells(cache) + k;
        if (e->type() != TYPE_TYPESET) break;
        u32 mode = e->header & FETCH_MODE_MASK;
        if (mode == FETCH_RETURN) continue;
        if (left) {
            left = false;
        } else if (ZAN_LIKELY(mode == FETCH_WORD && i < w.end)) {
            i = eval_arg(w, i, infix);
            if (ZAN_UNLIKELY(g_throw_code)) return false;
        } else {
            i = fetch_one(w, i, mode, fn, name, cache, k, apply_mode, infix);
            if (ZAN_UNLIKELY(g_throw_code)) return false;
        }
        check_arg(fn, name, cache, k, g_stack.top - 1);
    }
    return true;
}

// The argument fetch of interp_fetch_args for a native! or action!.
u32 fetch_native_args(const ValueCell* fn, EvalWalk& w, u32 i, const ValueCell* name,
                      const PathRefs* path, u32 apply_mode, bool infix, Fetched& f) {
    if (infix) g_stack.top++;  // the left operand is the first argument
    Node cache = cache_of(fn);
    ValueCell* base = g_stack.base;
    u32 n = cache_length(cache);
    u32 k = 0;
    if (ZAN_UNLIKELY(!fetch_positional_args(fn, w, i, name, cache, n, k, apply_mode, infix)))
        return i;
    // Refinements: positions stay -1 unless given. Their number is the
    // cache's last cell.
    f.nrefs = 0;
    if (k < n) {
        ValueCell* last = cache_cells(cache) + n - 1;
        if (last->type() == TYPE_INTEGER) f.nrefs = static_cast<u32>(integer_get(last));
    }
    if (f.nrefs == 0) return i;
    if (f.nrefs > MAX_REFINEMENTS) runtime_fatal(101, "too many refinements");
    f.clear_refs();

    if (apply_mode & 1) {
        // Every refinement in order: its flag, then its arguments.
        for (u32 r = k; r < n; r++) {
            ValueCell* e = cache_cells(cache) + r;
            if (e->type() != TYPE_REFINEMENT) continue;
            u32 ord = static_cast<u32>(word_index(e));
            ValueCell* mark = g_stack.top;
            i = fetch_one(w, i, FETCH_WORD, fn, name, cache, r, apply_mode, false);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            bool on = truthy(mark);
            g_stack.top = mark;
            if (on) f.refs[ord - 1] = static_cast<i32>(g_stack.top - base);
            i = fetch_refinement_args(w, i, fn, name, cache, r, apply_mode, on);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
        return i;
    }
    if (apply_mode & 2) {
        // refinement! values in the argument block, each followed by its
        // flag and arguments.
        while (i < w.end && w.at(i)->type() == TYPE_REFINEMENT) {
            ValueCell rv = *w.at(i);
            rv.set_type(TYPE_WORD);
            bool dummy;
            u32 r = path_refinement(cache, &rv, name, &dummy);
            u32 ord = static_cast<u32>(word_index(cache_cells(cache) + r));
            if (f.refs[ord - 1] != -1) {
                ValueCell b = w.block();
                fire(Err::script_dup_refine, &b);
            }
            i++;
            ValueCell* mark = g_stack.top;
            i = fetch_one(w, i, FETCH_WORD, fn, name, cache, r, apply_mode, false);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            bool on = truthy(mark);
            g_stack.top = mark;
            if (!on && (apply_mode & 4)) {
                u32 skip = refinement_arity(cache, r);
                i = i + skip < w.end ? i + skip : w.end;
                continue;
            }
            if (on) f.refs[ord - 1] = static_cast<i32>(g_stack.top - base);
            i = fetch_refinement_args(w, i, fn, name, cache, r, apply_mode, on);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    }
    if (path) {
        EvalWalk& pw = *path->walk;
        for (u32 j = path->elem + 1; j < pw.end; j++) {
            bool on;
            u32 r = path_refinement(cache, pw.at(j), name, &on);
            u32 ord = static_cast<u32>(word_index(cache_cells(cache) + r));
            if (f.refs[ord - 1] != -1) {
                ValueCell p = pw.block();
                fire(Err::script_dup_refine, &p);
            }
            if (on) f.refs[ord - 1] = static_cast<i32>(g_stack.top - base);
            i = fetch_refinement_args(w, i, fn, name, cache, r, apply_mode, on);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    }
    return i;
}

// The argument fetch for a function! or routine!: refinements are logic!
// slots followed by their arguments, in spec order; the locals follow.
u32 fetch_function_args(const ValueCell* fn, EvalWalk& w, u32 i, const ValueCell* name,
                        const PathRefs* path, u32 apply_mode, bool infix) {
    if (infix) g_stack.top++;  // the left operand is the first argument
    Node cache = cache_of(fn);
    ValueCell* base = g_stack.base;
    u32 n = cache_length(cache);
    u32 k = 0;
    if (ZAN_UNLIKELY(!fetch_positional_args(fn, w, i, name, cache, n, k, apply_mode, infix)))
        return i;
    if (k >= n) return i;
    // Refinement slots and their arguments.
    i32 locals = 0;
    for (u32 r = k; r < n; r++) {
        ValueCell* e = cache_cells(cache) + r;
        u32 t = e->type();
        if (t == TYPE_REFINEMENT) {
            if (apply_mode & 1) {
                ValueCell* mark = g_stack.top;
                i = fetch_one(w, i, FETCH_WORD, fn, name, cache, r, apply_mode, false);
                if (ZAN_UNLIKELY(g_throw_code)) return i;
                logic_box(mark, truthy(mark));
                i = fetch_refinement_args(w, i, fn, name, cache, r, apply_mode, true);
                if (ZAN_UNLIKELY(g_throw_code)) return i;
                // skip its argument entries
                while (r + 1 < n && (cache_cells(cache) + r + 1)->type() == TYPE_TYPESET) r++;
                continue;
            }
            logic_box(stack_push_cell(), false);
        } else if (t == TYPE_TYPESET) {
            if ((e->header & FETCH_MODE_MASK) != FETCH_RETURN) none_push();
        } else if (t == TYPE_INTEGER) {
            locals = integer_get(e);
            break;
        }
    }
    // Refinements given in the argument block (apply) or in the path.
    auto give = [&](u32 r, bool on, bool skip_off) -> bool {
        ValueCell* e = cache_cells(cache) + r;
        u32 slot = static_cast<u32>(word_index(e));
        if (base[slot].type() == TYPE_LOGIC && logic_get(&base[slot])) return false;
        if (!on && skip_off) {
            u32 a = refinement_arity(cache, r);
            i = i + a < w.end ? i + a : w.end;
            return true;
        }
        if (on) logic_box(base + slot, true);
        ValueCell* mark = g_stack.top;
        i = fetch_refinement_args(w, i, fn, name, cache, r, apply_mode, true);
        if (ZAN_UNLIKELY(g_throw_code)) return true;
        u32 got = static_cast<u32>(g_stack.top - mark);
        if (on)
            for (u32 a = 0; a < got; a++) base[slot + 1 + a] = mark[a];
        g_stack.top = mark;
        return true;
    };
    if (apply_mode & 2) {
        while (i < w.end && w.at(i)->type() == TYPE_REFINEMENT) {
            ValueCell rv = *w.at(i);
            rv.set_type(TYPE_WORD);
            bool dummy;
            u32 r = path_refinement(cache, &rv, name, &dummy);
            i++;
            ValueCell* mark = g_stack.top;
            i = fetch_one(w, i, FETCH_WORD, fn, name, cache, r, apply_mode, false);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            bool on = truthy(mark);
            g_stack.top = mark;
            if (!give(r, on, (apply_mode & 4) != 0)) {
                ValueCell b = w.block();
                fire(Err::script_dup_refine, &b);
            }
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    }
    if (path) {
        EvalWalk& pw = *path->walk;
        for (u32 j = path->elem + 1; j < pw.end; j++) {
            bool on;
            u32 r = path_refinement(cache, pw.at(j), name, &on);
            if (!give(r, on, false)) {
                ValueCell p = pw.block();
                fire(Err::script_dup_refine, &p);
            }
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    }
    if (locals > 0) {
        logic_box(stack_push_cell(), false);
        for (i32 l = 1; l < locals; l++) none_push();
    }
    return i;
}

// The argument fetch of a routine! or of a function! that does not run
// through the walker's own body path (a library function): the short path
// when the parameter list holds nothing but plain parameters (and locals)
// and the call gives no refinement, else fetch_function_args. Both push
// the same cells and raise the same errors in the same frame.
u32 fetch_callee_args(const ValueCell* fn, EvalWalk& w, u32 i, const ValueCell* name,
                      const PathRefs* path, u32 apply_mode, bool infix) {
    if (ZAN_LIKELY(!infix && !path && !apply_mode)) {
        SpecInfo si = spec_info(fn);
        if (ZAN_LIKELY(si.digest & SPEC_SHORT)) {
            u32 np = spec_params(si.digest);
            i = np == 1 && ZAN_LIKELY(i < w.end)
                    ? fetch_checked_arg(fn, w, i, name, si.cache, 0)
                    : fetch_plain_args<false>(fn, w, i, name, si.cache, np);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            if (si.digest & SPEC_LOCALS) {
                u32 locals = spec_local_count(si.digest);
                if (locals > 0) {
                    logic_box(stack_push_cell(), false);
                    for (u32 l = 1; l < locals; l++) none_push();
                }
            }
            return i;
        }
    }
    return fetch_function_args(fn, w, i, name, path, apply_mode, infix);
}

// The context handed to a function: the parent object's, the maker's
// integer, or the context of the frame's word.
Node choose_context(const ValueCell* fn, const ValueCell* name, const ValueCell* parent) {
    if (parent && parent->type() == TYPE_OBJECT && context_of(parent) != g_global_ctx)
        return context_of(parent);
    ValueCell* extra = node_buffer(callable_more(fn))->head_cells() + MORE_EXTRA;
    if (extra->type() == TYPE_INTEGER) return static_cast<Node>(integer_get(extra));
    return word_binding(name);
}


// The callable an op! stands for.
ValueCell op_callable(const ValueCell* op) {
    u32 t = op_wrapped_type(op);
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE)
        return *(node_buffer(callable_more(op))->head_cells() + MORE_CALLABLE);
    ValueCell c = *op;
    c.header = t;
    return c;
}

// Runs a native or action whose two operands are already pushed at the
// frame base (the generic path of an infix operator when the inline one
// does not apply): the frame is marked below them, both are type-checked.
void run_ready_binary(const ValueCell* fn, const ValueCell* name, ValueCell* left, bool push) {
    g_stack.top = left;
    frame_mark(name, FRAME_BITS_NATIVE_FLAGGED);
    g_stack.top = left + 2;
    Node cache = cache_of(fn);
    u32 n = cache_length(cache), seen = 0;
    for (u32 k = 0; k < n && seen < 2; k++) {
        ValueCell* e = cache_cells(cache) + k;
        if (e->type() != TYPE_TYPESET) break;
        if ((e->header & FETCH_MODE_MASK) == FETCH_RETURN) continue;
        check_arg(fn, name, cache, k, left + seen);
        seen++;
    }
    if (fn->type() == TYPE_NATIVE) {
        u32 idx = callable_entry(fn);
        NativeEntry e = idx - 1 < NATIVES_TABLE_SIZE ? g_natives[idx - 1] : nullptr;
        if (!e) e = native_not_done;
        e(false, nullptr);
    } else {
        call_action_entry(callable_entry(fn), nullptr, 0);
    }
    if (ZAN_UNLIKELY(g_throw_code)) return;
    frame_unwind(push);
}

}  // namespace

// ---- walks ----------------------------------------------------------------------------------------

void EvalWalk::reload() {
    SeriesBuffer* b = node_buffer(series_node(&held.v));
    slot = &node_slot(series_node(&held.v));
    buf = *slot;
    cells = b->head_cells();
    // A block that shrank under its own evaluation ends where it now ends.
    u32 n = b->used_bytes() / sizeof(ValueCell);
    if (end > n) end = n;
}

// ---- values ---------------------------------------------------------------------------------------

ValueCell* word_value_slow(ValueCell* word) { return context_get(word); }

GlobalValues g_global_values{};

void global_values_refresh() {
    g_global_values.buffer = node_slot(g_global_values.values);
    g_global_values.head = node_buffer(g_global_values.values)->head_cells();
}

void word_assign(ValueCell* word, const ValueCell* value) {
    Node n = word_binding(word);
    i32 idx = word_index(word);
    if (ZAN_LIKELY(n != 0 && idx >= 0)) {
        if (n == g_global_values.ctx) {
            *global_value_slot(static_cast<u32>(idx)) = *value;
            return;
        }
        ValueCell* ctx = context_cell(n);
        u32 vals = context_values(ctx);
        if (ZAN_LIKELY(vals != 0)) {
            if (ctx->header & CONTEXT_VALUES_ON_STACK) {
                hptr<ValueCell>(vals)[idx] = *value;
                return;
            }
            if (context_kind(ctx) == CTX_GLOBAL) {
                node_buffer(vals)->head_cells()[idx] = *value;
                return;
            }
        }
    }
    context_set(word, value);
}

namespace {
// A call of an action number out of range, or of one not built.
[[noreturn]] __attribute__((cold)) void action_entry_fault(u32 n) {
    if (n < 1 || n > ACT_COUNT) runtime_fatal(101, "bad action number");
    fire(Err::internal_not_done);
}

// Every refinement position absent: the positions of a call that names none.
constexpr i32 kNoRefs[MAX_REFINEMENTS] = {-1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1};

// An action's table entry called with four or more refinement positions.
void call_action_wide(ActionEntry e, const i32* r, u32 count) {
    if (!action_entry_call(e, r, count)) runtime_fatal(101, "too many refinements for an action");
}

// An action's table entry called with four or more positions, all absent
// (a call that names no refinement).
__attribute__((noinline)) void call_action_absent(ActionEntry e, u32 count) {
    using I = i32;
    constexpr I a = -1;
    switch (count) {
        case 4: reinterpret_cast<void (*)(I, I, I, I)>(e)(a, a, a, a); break;
        case 5: reinterpret_cast<void (*)(I, I, I, I, I)>(e)(a, a, a, a, a); break;
        case 6: reinterpret_cast<void (*)(I, I, I, I, I, I)>(e)(a, a, a, a, a, a); break;
        case 7: reinterpret_cast<void (*)(I, I, I, I, I, I, I)>(e)(a, a, a, a, a, a, a); break;
        case 8:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I)>(e)(a, a, a, a, a, a, a, a);
            break;
        case 9:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I)>(e)(a, a, a, a, a, a, a, a, a);
            break;
        case 10:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I, I)>(e)(a, a, a, a, a, a, a, a, a,
                                                                        a);
            break;
        case 11:
            reinterpret_cast<void (*)(I, I, I, I, I, I, I, I, I, I, I)>(e)(a, a, a, a, a, a, a, a,
                                                                           a, a, a);
            break;
        default: call_action_wide(e, kNoRefs, count); break;
    }
}

// Calls action number n's table entry with the refinement positions; the
// common calls (up to three positions, or all absent) made without the
// table of arities.
template <bool absent>
__attribute__((always_inline)) inline void call_action_body(u32 n, const i32* r, u32 count) {
    if (ZAN_UNLIKELY(n - 1 >= ACT_COUNT)) action_entry_fault(n);
    ActionEntry e = g_generic_actions[n - 1];
    if (ZAN_UNLIKELY(!e)) action_entry_fault(n);
    using I = i32;
    if (ZAN_LIKELY(count == 0)) {
        reinterpret_cast<void (*)()>(e)();
        return;
    }
    switch (count) {
        case 1: reinterpret_cast<void (*)(I)>(e)(r[0]); break;
        case 2: reinterpret_cast<void (*)(I, I)>(e)(r[0], r[1]); break;
        case 3: reinterpret_cast<void (*)(I, I, I)>(e)(r[0], r[1], r[2]); break;
        default:
            if (absent) call_action_absent(e, count);
            else call_action_wide(e, r, count);
            break;
    }
}
template <bool absent = false>
inline void call_action(u32 n, const i32* r, u32 count) { call_action_body<absent>(n, r, count); }
}  // namespace

void call_action_entry(u32 n, const i32* r, u32 count) { call_action(n, r, count); }

void settle_at(CallFrame* frame) {
    while (g_stack.ctop - 1 > frame) {
        if ((g_stack.ctop - 1)->kind() == FRAME_FUNCTION) stack_unwind_func_last();
        else stack_unwind_last();
    }
    stack_keep();
}

// ---- interruption ---------------------------------------------------------------------------------

// Takes a pending Ctrl-C: the global function _interrupt decides (the
// console stops the command like halt, a script ends). Without one (the
// environment is not built yet) the process ends with the interrupted
// status. Afterwards g_throw_code tells whether a throw is on its way.
__attribute__((noinline)) void take_interrupt() {
    g_interrupt_pending = 0;
    u32 symbol = symbol_make("_interrupt");
    const ValueCell* handler = global_value_ptr(symbol);
    if (!handler || handler->type() != TYPE_FUNCTION) std::exit(INTERRUPTED_STATUS);
    ValueCell* mark = g_stack.top;
    ValueCell* code = block_push_new(1);
    ValueCell word;
    word_make_at(symbol, &word);
    block_append_cell(code, &word);
    interp_eval_block(code, false);
    if (!g_throw_code) g_stack.top = mark;
}

void interp_take_interrupt() {
    if (!g_interrupt_pending) return;
    take_interrupt();
    if (g_throw_code) raise_code(g_throw_code);
}

namespace {
// The end of an expression whose head left its value (at entry_top, or in
// the result cell): the operators after it (with infix), then the trace
// of the expression.
__attribute__((always_inline)) inline u32 expr_tail(EvalWalk& w, u32 i, ValueCell* entry_top, bool push, bool infix) {
    if (infix) {
        if (const ValueCell* op = op_at(w, i)) {
            i = eval_infix(w, i, entry_top, push, op);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    }
    if (ZAN_UNLIKELY(g_interp.tracing) && !push)
        interp_trace_event(TRACE_EXPR, &w.block(), trace_offset(w, i), nullptr, stack_result());
    return i;
}

// expr_tail with the operators after it, telling where it ended and what
// its look-ahead found (see CallEnd; nothing when tracing, whose events may
// run code).
__attribute__((always_inline)) inline CallEnd expr_tail_ahead(EvalWalk& w, u32 i,
                                                              ValueCell* entry_top, bool push) {
    const ValueCell* next = word_slot_at(w, i);
    if (next && next->type() == TYPE_OP) {
        i = eval_infix(w, i, entry_top, push, next);
        if (ZAN_UNLIKELY(g_throw_code)) return CallEnd{i, nullptr};
        next = nullptr;
    }
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        next = nullptr;
        if (!push)
            interp_trace_event(TRACE_EXPR, &w.block(), trace_offset(w, i), nullptr,
                               stack_result());
    }
    return CallEnd{i, next};
}
}  // namespace

// ---- blocks -----------------------------------------------------------------------------------------

namespace {
// Whether the frame the walker marks for a set-word, with the set-word and
// its value pushed, fits in the stacks (with a few cells to spare).
inline bool room_for_set_word_frame() {
    return g_stack.ctop < g_stack.climit && g_stack.limit - g_stack.top > 8;
}

// pure_expr for a set-word's value (i not past the end) out of line
// (set_word_value_pure finds its most common refusal first).
__attribute__((noinline)) u32 set_word_pure(EvalWalk& w, u32 i, ValueCell* out,
                                            const ValueCell** callable) {
    return pure_expr(w, i, out, callable);
}

// A set-word's value at i (not past the end; next: its cell, read since the
// last allocation) computed without a frame when it is of pure_expr's form,
// or a direct call of a routine that changes nothing (direct_value): the
// index after it, else 0, with *callable set when the value begins with a
// word holding a callable (found here without set_word_pure's call).
__attribute__((always_inline)) inline u32 set_word_value_pure(EvalWalk& w, u32 i,
                                                             const ValueCell* next,
                                                             ValueCell* out,
                                                             const ValueCell** callable) {
    // Near the stacks' limits the walker's frame for the set-word would
    // overflow: it is left to raise the error where it would.
    if (ZAN_UNLIKELY(g_forms_off) || ZAN_UNLIKELY(!room_for_set_word_frame())) return 0;
    const ValueCell* nv = next->type() == TYPE_WORD ? word_value_if_available(next) : nullptr;
    if (nv && is_callable_type(nv->type())) {
        *callable = nv;
        return direct_value(w, i, nv, out);
    }
    return set_word_pure(w, i, out, callable);
}

// A set-word in its native frame (eval_set_word without its frameless
// form).
// fn: the value of the word after the set-word when it holds a callable
// (read since the last allocation), or null; c: the set-word's cell, read
// since the last allocation.
// The end it gives tells what the look-ahead after the value's call found
// when the assignment cannot have changed it (else null).
// (One instance for each of push's values.)
template <bool push>
CallEnd eval_set_word_framed(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* c);
// native_word_call_statement without the direct attempt (just made).
CallEnd native_word_call_ordinary(EvalWalk& w, u32 i, const ValueCell* fn);
// The statements after a statement that ended at end.i, as long as each
// begins with a word that the look-ahead of the one before found holding
// a native or action: each is called at once, as the walk's next round
// would call it (its position set, the stack reset; tracing is off, or
// the look-ahead would have told nothing), without looking its word up
// again. Returns where the last one ended (a code may be pending).
// (The rounds out of line, in the walk only their test.)
__attribute__((noinline)) u32 native_statements_chain(EvalWalk& w, CallEnd end) {
    do {
        const ValueCell* fn = end.next;
        // (A Ctrl-C is the walk's to take, at its next statement.)
        if (ZAN_UNLIKELY(g_interrupt_pending)) break;
        if (fn->type() != TYPE_NATIVE && fn->type() != TYPE_ACTION) break;
        stack_reset();
        series_set_index(&g_interp.position, static_cast<i32>(end.i));
        end = native_word_call_statement(w, end.i, fn, w.at(end.i));
    } while (end.next);
    return end.i;
}
inline u32 native_statements_after(EvalWalk& w, CallEnd end) {
    if (ZAN_LIKELY(!end.next)) return end.i;
    return native_statements_chain(w, end);
}

// Evaluates the expressions of a walk from index i (its start, or where a
// loop's pure run of the block stopped) in the top frame (marked by the
// caller), the last value in its result cell; an empty walk gives unset!.
// Returns the pending code of an exit that goes on (0 when none).
// outer: null, or the position a caller saved for several walks in turn
// (the rounds of a loop), which interrupts and the entry's event see as
// the position before the walk, as they would without it.
__attribute__((always_inline)) inline u32 run_walk_body(EvalWalk& w, CallFrame* frame, u32 i,
                                                        const ValueCell* outer = nullptr) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) {
        if (outer) stack_copy_cell(&g_interp.position, outer);
        take_interrupt();
        if (g_throw_code) return g_throw_code;
    }
    std::optional<PositionGuard> pos;
    if (!outer) pos.emplace();
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        if (outer) stack_copy_cell(&g_interp.position, outer);
        interp_trace_event(TRACE_ENTER, &w.block(), 0, nullptr, nullptr);
    }
    if (i >= w.end) {
        unset_box(stack_result());
        stack_keep();
    } else {
        stack_copy_cell(&g_interp.position, &w.block());
        while (i < w.end) {
            series_set_index(&g_interp.position, static_cast<i32>(i));
            // A Ctrl-C stops the block at the next statement, whatever the
            // statement before it was.
            if (ZAN_UNLIKELY(g_interrupt_pending)) {
                take_interrupt();
                if (g_throw_code) goto pending;
            }
            if (ZAN_LIKELY(!g_interp.tracing)) {
                ValueCell* c = w.at(i);
                if (c->type() == TYPE_SET_WORD) {
                    // A set-word whose value needs no call: the fast form of
                    // eval_set_word, without the calls.
                    ValueCell sv;
                    const ValueCell* fn = nullptr;
                    u32 j = i + 1 < w.end ? set_word_value_pure(w, i + 1, c + 1, &sv, &fn) : 0;
                    ValueCell* slot = j ? word_slot_direct(c) : nullptr;
                    if (slot) {
                        *slot = sv;
                        stack_set_last_reset(&sv);
                        i = j;
                        if (i < w.end) stack_reset();
                        continue;
                    }
                    // Anything else: what eval_expr does with it, without
                    // trying pure_expr a second time.
                    if (ZAN_LIKELY(!g_interrupt_pending)) {
                        ValueCell* entry_top = g_stack.top;
                        CallEnd end = eval_set_word_framed<false>(w, i, fn, c);
                        i = end.i;
                        if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                        // A look-ahead that found no operator at i, with
                        // nothing run since, would find none again.
                        if (!end.next) {
                            i = expr_tail(w, i, entry_top, false, true);
                        } else {
                            i = native_statements_after(w, end);
                        }
                        if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                        if (i < w.end) stack_reset();
                        continue;
                    }
                }
                // A value or a plain word standing alone needs no call.
                // (Nothing since c was read allocates: c is still valid.)
                const ValueCell* fn = nullptr;
                const ValueCell* val = simple_value(c, &fn);
                if (fn) {
                    // A call made directly leaves its value as the statement's.
                    if (fn->type() == TYPE_ACTION && ZAN_LIKELY(!g_forms_off) && may_be_direct(fn)) {
                        ValueCell v;
                        u32 j = direct_worth_trying(c) ? direct_call(w, i, direct_entry(fn), &v) : 0;
                        if (j) {
                            stack_set_last_reset(&v);
                            i = j;
                            if (i < w.end) stack_reset();
                            continue;
                        }
                        // (Not tried again: the ordinary call at once.)
                        i = native_statements_after(w, native_word_call_ordinary(w, i, fn));
                    } else if (fn->type() == TYPE_NATIVE || fn->type() == TYPE_ACTION)
                        i = native_statements_after(w, native_word_call_statement(w, i, fn, c));
                    else
                        i = other_word_call(w, i, fn, false, c);
                    if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    if (i < w.end) stack_reset();
                    continue;
                }
                if (val) {
                    ValueCell* entry_top = g_stack.top;
                    stack_set_last_reset(val);
                    i++;
                    const ValueCell* op = i < w.end ? op_cell(c + 1) : nullptr;
                    if (op) {
                        i = eval_infix(w, i, entry_top, false, op);
                        if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    }
                    if (i < w.end) stack_reset();
                    continue;
                }
                if (c->type() == TYPE_PAREN && ZAN_LIKELY(!g_interrupt_pending)) {
                    // eval_expr's work on a paren, without its call.
                    ValueCell* entry_top = g_stack.top;
                    eval_paren_p(c, false);
                    if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    i = expr_tail(w, i + 1, entry_top, false, true);
                    if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    if (i < w.end) stack_reset();
                    continue;
                }
            }
            i = eval_expr(w, i, false, false, false);
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            if (i < w.end) stack_reset();
        }
        // One that came during the last statement is taken here, inside
        // the catches and tries around the block, not by whatever the
        // caller runs next.
        if (ZAN_UNLIKELY(g_interrupt_pending)) {
            take_interrupt();
            if (g_throw_code) goto pending;
        }
    }
    if (false) {
    pending:
        // A return aimed at this frame (marked by do/trace) ends the block
        // with the returned value.
        if (!pending_return_at(frame)) return g_throw_code;
        g_throw_code = 0;
        stack_clear_body_flag(&frame->header);
        stack_keep();
    }
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_EXIT, &w.block(), -1, nullptr, stack_result());
    return 0;
}

inline u32 run_walk(EvalWalk& w, CallFrame* frame, u32 i) { return run_walk_body(w, frame, i); }
}  // namespace

u32 eval_block_p(const ValueCell* block, bool chain) {
    EvalWalk w(block);
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
    if (run_walk(w, f, w.start)) return g_throw_code;
    frame_unwind(!chain);
    return 0;
}

// A branch holding nothing but a value or a word with a plain value (such
// as [n]) needs no frame when tracing is off: nothing in it can call,
// allocate or raise an error. Its value goes where the branch's would (the
// result cell, and on top as the frame's pop leaves it), after the frame's
// overflow check.
u32 eval_branch_p(const ValueCell* block) {
    SeriesBuffer* b = node_buffer(series_node(block));
    u32 head = series_head(block);
    if (head + 1 == b->used_bytes() / sizeof(ValueCell) && ZAN_LIKELY(!g_interp.tracing) &&
        ZAN_LIKELY(!g_interrupt_pending)) {
        if (const ValueCell* val = simple_value_quiet(b->head_cells() + head)) {
            if (ZAN_UNLIKELY(g_stack.ctop >= g_stack.climit)) stack_overflow();
            ValueCell* res = g_stack.top;
            stack_copy_cell(res, val);
            g_stack.top = res + 1;
            stack_copy_cell(g_stack.base, res);
            return 0;
        }
    }
    EvalWalk w(block);
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
    if (run_walk(w, f, w.start)) return g_throw_code;
    frame_unwind(false);
    return 0;
}

namespace {
// A loop's block run once more from walk index from, in its own frame.
__attribute__((always_inline)) inline u32 walk_again(EvalWalk& w, u32 from) {
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
    if (run_walk(w, f, from)) return g_throw_code;
    frame_unwind(false);
    return 0;
}
}  // namespace

u32 eval_walk_again_p(EvalWalk& w) {
    w.restart();
    return walk_again(w, w.start);
}

// The rounds share one body frame and one saved position: a round that
// ends normally leaves the frame as its mark made it (its base the loop's
// result cell, which the next round's mark would take again), so the next
// round only resets the top and the header. Nothing between two rounds can
// see the frame or the position but word_assign (which may raise an
// error): before it both are put back as they were between rounds.
u32 eval_counted_rounds_p(EvalWalk& w, ValueCell* word, i32& k, i32 count) {
    if (k > count) return 0;
    PositionGuard pos;
    CallFrame* f = nullptr;
    u32 header = 0;
    // The counter's context and its values on the stack when last looked
    // up: while the context still holds the same values there, the slot
    // is the same.
    Node cctx = 0;
    u32 cvals = 0;
    ValueCell* cslot = nullptr;
    // (The round's number in a register, written to k before anything
    // that may leave with it.)
    for (i32 n = k; n <= count; k = ++n) {
        if (word) {
            ValueCell* slot = nullptr;
            if (cslot) {
                const ValueCell* cc = context_cell(cctx);
                if (context_values(cc) == cvals && (cc->header & CONTEXT_VALUES_ON_STACK))
                    slot = cslot;
            }
            if (!slot) {
                slot = word_slot_direct(word);
                Node n = word_binding(word);
                cslot = nullptr;
                if (slot && n != g_global_values.ctx &&
                    (context_cell(n)->header & CONTEXT_VALUES_ON_STACK)) {
                    cctx = n;
                    cvals = context_values(context_cell(n));
                    cslot = slot;
                }
            }
            if (slot) {
                integer_box(slot, n);
            } else {
                if (f) {
                    frame_unwind(false);
                    stack_copy_cell(&g_interp.position, &pos.saved);
                    f = nullptr;
                }
                ValueCell counter;
                integer_box(&counter, n);
                word_assign(word, &counter);
            }
        }
        if (ZAN_LIKELY(f != nullptr)) {
            f->header = header;
            stack_reset();
        } else {
            stack_reset();
            f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
            header = f->header;
        }
        w.restart();
        if (run_walk_body(w, f, w.start, &pos.saved)) return g_throw_code;
    }
    frame_unwind(false);
    return 0;
}

// The blocks share one frame, as the rounds of repeat do; a condition
// whose value ends the loop or raises its error is tested with the frame
// popped.
u32 eval_while_rounds_p(EvalWalk& cond, EvalWalk& body, bool& in_cond) {
    EvalWalk* w = &cond;
    stack_reset();
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
    u32 header = f->header;
    for (;;) {
        in_cond = w == &cond;
        w->restart();
        if (run_walk(*w, f, w->start)) return g_throw_code;
        if (in_cond) {
            const ValueCell* r = stack_result();
            if (ZAN_UNLIKELY(r->type() == TYPE_UNSET || !truthy(r))) {
                frame_unwind(false);
                strict_true(stack_result());  // (unset! raises its error)
                return 0;
            }
            w = &body;
        } else {
            w = &cond;
        }
        f->header = header;
        stack_reset();
    }
}

u32 eval_walk_resume_p(EvalWalk& w, u32 from) {
    w.restart();
    return walk_again(w, from);
}

u32 eval_next(EvalWalk& w, u32 i, bool push) {
    frame_mark(g_words.n.body, FRAME_BITS_NATIVE_FLAGGED);
    i = eval_expr(w, i, false, push, false);
    if (ZAN_UNLIKELY(g_throw_code)) return i;
    frame_unwind(push);
    return i;
}

__attribute__((noinline)) bool pure_paren(const ValueCell* paren, u32 depth, ValueCell* out) {
    if (depth > PURE_PAREN_DEPTH || !pure_paren_room(depth) || g_interrupt_pending) return false;
    SeriesBuffer* b = node_buffer(series_node(paren));
    u32 end = b->used_bytes() / sizeof(ValueCell);
    u32 head = series_head(paren);
    // Such an expression has an odd number of cells (value, then operator
    // and operand pairs): a cheap test that turns most parens with calls away.
    if (head >= end || !((end - head) & 1)) return false;
    return pure_expr_in(b->head_cells(), end, head, out, nullptr, depth) == end;
}

namespace {
// The frameless form: true when the paren was of pure_expr's form and its
// value has been stored. (Out of line, so that the framed path keeps its
// registers.) The value goes where the paren's frame would leave it: in
// the cell at the top, which the frame's result cell takes without a check
// of the data stack's limit, and in the result cell unless push. (A push
// with its check would raise "stack overflow" one cell earlier, inside
// the operator whose operand the paren is, where the walker raises it
// later, in the function being called.)
__attribute__((noinline)) bool paren_pure(EvalWalk& w, bool push) {
    ValueCell val;
    if (pure_expr(w, w.start, &val) != w.end) return false;
    if (ZAN_UNLIKELY(g_stack.ctop >= g_stack.climit)) stack_overflow();
    ValueCell* res = g_stack.top;
    stack_copy_cell(res, &val);
    g_stack.top = res + 1;
    if (!push) stack_copy_cell(g_stack.base, res);
    return true;
}
}  // namespace

// A paren's contents are evaluated as a block inside the native frame that
// the paren opens (one frame, where a block of its own would add another).
//
// A paren holding nothing but one expression of pure_expr's form needs no
// frame when tracing is off: nothing in it can call, allocate or raise an
// error. The frame's overflow check still runs, so the depth at which the
// stack overflows stays the same.
void eval_paren_p(const ValueCell* paren, bool push) {
    EvalWalk w(paren);
    // Such an expression has an odd number of cells (value, then operator
    // and operand pairs): a cheap test that turns most calls away.
    if (ZAN_LIKELY(!g_interp.tracing) && ((w.end - w.start) & 1) && ZAN_LIKELY(!g_forms_off) &&
        paren_pure(w, push))
        return;
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_NATIVE_FLAGGED);
    if (run_walk(w, f, w.start)) return;
    frame_unwind(push);
}

namespace {

[[noreturn]] __attribute__((noinline)) void fire_word_value(const ValueCell* word, u32 t) {
    ValueCell wd = *word;
    fire(t == TYPE_UNSET ? Err::script_no_value : Err::script_no_op_arg, &wd);
}

__attribute__((noinline)) void trace_fetch(EvalWalk& w, u32 i) {
    ValueCell f = *w.at(i);
    interp_trace_event(TRACE_FETCH, &w.block(), trace_offset(w, i), nullptr, &f);
}

// A set-path: the value evaluated (pushed) in a native frame named
// set-path, then stored through the path; the value is the expression's.
__attribute__((noinline)) u32 eval_set_path(EvalWalk& w, u32 i, bool push) {
    ValueCell sp = *w.at(i);
    if (ZAN_UNLIKELY(i + 1 >= w.end)) fire(Err::script_need_value, &sp);
    frame_mark(g_words.n.set_path, FRAME_BITS_NATIVE_FLAGGED);
    u32 next = eval_expr(w, i + 1, false, true, false);
    if (ZAN_UNLIKELY(g_throw_code)) return next;
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_SET, &w.block(), trace_offset(w, i), &sp, g_stack.base);
    ValueCell value = *g_stack.base;
    eval_path(w, i, &sp, PATH_SET, true, &value, false);
    *g_stack.base = value;
    frame_unwind(push);
    return next;
}

// The expressions that are not the everyday ones: paths, get-words,
// lit-words, literal functions, operators and issues.
__attribute__((noinline)) u32 eval_expr_rare(EvalWalk& w, u32 i, bool push, bool no_call) {
    ValueCell* v = w.at(i);
    switch (v->type()) {
        case TYPE_PATH: {
            ValueCell p = *v;
            return eval_path(w, i, &p, PATH_NORMAL, push, nullptr, false);
        }
        case TYPE_GET_PATH: {
            ValueCell p = *v;
            return eval_path(w, i, &p, PATH_GET, push, nullptr, false);
        }
        case TYPE_GET_WORD: {
            ValueCell gw = *v;
            store_value(word_value(&gw), push);
            trace_push(w, i, push);
            return i + 1;
        }
        case TYPE_LIT_WORD: {
            ValueCell lw = *v;
            lw.set_type(TYPE_WORD);
            store_value(&lw, push);
            trace_push(w, i, push);
            return i + 1;
        }
        case TYPE_LIT_PATH: {
            ValueCell lp = *v;
            lp.set_type(TYPE_PATH);
            set_block_extra(&lp, 0);
            store_value(&lp, push);
            trace_push(w, i, push);
            return i + 1;
        }
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE: {
            ValueCell fn = *v;
            if (no_call) {
                store_value(&fn, push);
                trace_push(w, i, push);
                return i + 1;
            }
            return eval_code(&fn, w, i + 1, push, g_words.n.anon, nullptr, nullptr, 0, false);
        }
        case TYPE_OP:
            fire(Err::internal_not_done);
        case TYPE_ISSUE: {
            if (i + 1 < w.end && w.at(i + 1)->type() == TYPE_BLOCK) {
                u32 s = symbol_resolve(word_symbol(w.at(i)));
                if (s == symbol_resolve(g_sym.system) || s == symbol_resolve(g_sym.system_global))
                    fire(Err::internal_zan_system);
            }
            store_value(w.at(i), push);
            trace_push(w, i, push);
            return i + 1;
        }
        default:
            store_value(v, push);
            trace_push(w, i, push);
            return i + 1;
    }
}

// An operator after a value: the generic call (tracing, a missing right
// operand, or an operator without an inline path).
__attribute__((noinline)) u32 eval_infix_call(EvalWalk& w, u32 i, bool push, ValueCell* op,
                                              ValueCell* opword) {
    ValueCell fnv = op_callable(op);
    return eval_code(&fnv, w, i + 1, push, opword, nullptr, nullptr, 0, true);
}

// An operator with an inline path whose operands the step did not answer
// (another datatype, an error to raise, or no room left on the stacks):
// the comparison or the action runs on the two pushed operands.
__attribute__((noinline)) void eval_infix_generic(ValueCell* left, i32 code, ValueCell* op,
                                                  ValueCell* opword) {
    ValueCell right = left[1];
    u32 lt = left->type(), rt = right.type();
    if (code >= 16) {
        g_stack.top = left + 1;
        fastop_compare_top(code - 16, opword, &right);
    } else if ((lt == TYPE_INTEGER && rt == TYPE_INTEGER && code != MATH_DIVIDE) ||
               (lt == TYPE_FLOAT && rt == TYPE_FLOAT && code <= MATH_MULTIPLY)) {
        g_stack.top = left + 1;
        fastop_math_top(code, opword, &right);
    } else {
        ValueCell fnv = op_callable(op);
        run_ready_binary(&fnv, opword, left, true);
    }
}

}  // namespace

namespace {

// A set-word: the value of the next expression assigned to the word, in a
// native frame named by the set-word.
//
// When the value is a simple value followed by nothing but inline integer
// operators with simple right operands, and the word's slot can be written
// directly, nothing in the evaluation can call, raise an error or allocate:
// the frame could not be seen by anyone, so the value is computed and
// assigned without it (tracing off).
__attribute__((noinline)) u32 eval_set_word(EvalWalk& w, u32 i, bool push) {
    const ValueCell* fn = nullptr;
    if (ZAN_LIKELY(!g_interp.tracing) && i + 1 < w.end) {
        ValueCell val;
        u32 j = set_word_value_pure(w, i + 1, w.at(i + 1), &val, &fn);
        if (j) {
            ValueCell* slot = word_slot_direct(w.at(i));
            if (slot) {
                *slot = val;
                store_value(&val, push);
                return j;
            }
        }
    }
    if (push) return eval_set_word_framed<true>(w, i, fn, w.at(i)).i;
    return eval_set_word_framed<false>(w, i, fn, w.at(i)).i;
}

// A set-word as an argument (pushed), with tracing off: eval_expr's work
// on it without its tests of the cell.
__attribute__((noinline)) u32 set_word_arg(EvalWalk& w, u32 i) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) return eval_expr(w, i, false, true, false);
    ValueCell* entry_top = g_stack.top;
    i = eval_set_word(w, i, true);
    if (ZAN_UNLIKELY(g_throw_code)) return i;
    return expr_tail(w, i, entry_top, true, true);
}

template <bool push>
__attribute__((noinline)) CallEnd eval_set_word_framed(EvalWalk& w, u32 i, const ValueCell* fn,
                                                       const ValueCell* c) {
    // The set-word is read from the frame's first cell, where it is pushed
    // (the stack's cells stay where they are).
    frame_mark(c, FRAME_BITS_NATIVE_FLAGGED);
    stack_push(c);
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        interp_trace_event(TRACE_PUSH, &w.block(), trace_offset(w, i), nullptr, g_stack.base);
        fn = nullptr;  // eval_arg reports the fetch
    }
    // (A callable found after the set-word lies before the end.)
    if (!fn && ZAN_UNLIKELY(i + 1 >= w.end)) fire(Err::script_need_value, g_stack.base);
    u32 at = i;
    // (Without the event nothing ran or allocated since fn and c were
    // read.)
    CallEnd end{0, nullptr};
    if (fn) {
        if (fn->type() == TYPE_NATIVE || fn->type() == TYPE_ACTION)
            end = native_word_call_pushed(w, i + 1, fn, c + 1);
        else
            end.i = other_word_call(w, i + 1, fn, true, c + 1);
    } else {
        end.i = eval_arg(w, i + 1, false);
    }
    if (ZAN_UNLIKELY(g_throw_code)) return end;
    ValueCell* sw = g_stack.base;
    ValueCell* value = sw + 1;
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        end.next = nullptr;
        interp_trace_event(TRACE_SET, &w.block(), trace_offset(w, at), sw, value);
    }
    if (ZAN_UNLIKELY(value->type() == TYPE_UNSET)) fire(Err::script_need_value, sw);
    CellBits v;
    if (ValueCell* slot = word_slot_direct(sw)) {
        v = *reinterpret_cast<const CellBits*>(value);
        *reinterpret_cast<CellBits*>(slot) = v;
        // The look-ahead's word keeps what it held unless this store went
        // to its slot or to the cell it read (nothing else ran, nothing
        // allocated: the walk's cells are as the look-ahead read them).
        if (end.next == slot || slot == w.cells + end.i) end.next = nullptr;
    } else {
        word_assign(sw, value);
        end.next = nullptr;
        v = *reinterpret_cast<const CellBits*>(value);
    }
    // The frame popped with the value as its result, as frame_unwind
    // leaves it (the value already in hand).
    CallFrame* f = --g_stack.ctop;
    ValueCell* res = g_stack.base;
    *reinterpret_cast<CellBits*>(res) = v;
    g_stack.top = res + 1;
    ValueCell* b = hptr<ValueCell>(f->saved_base);
    g_stack.base = b;
    if (!push) *reinterpret_cast<CellBits*>(b) = v;
    return end;
}

}  // namespace

namespace {
// The operator (infix_code code, its cell nv) applied in place when its
// right operand is simple and operator_step_inline answers for the operands:
// the left operand at entry_top becomes the result (also in the result
// cell unless push). A simple right operand needs no evaluation (and
// nothing moves); a word without a value (or not bound) is left to the
// general path, which raises its error inside the operator's frame.
__attribute__((always_inline)) inline bool infix_inline_step(i32 code, ValueCell* entry_top, const ValueCell* nv, bool push) {
    ValueCell* left = entry_top;
    const ValueCell* rv = simple_value_quiet(nv + 1);
    if (!(rv && operator_step_inline(code, left, rv, 1))) return false;
    g_stack.top = entry_top + 1;
    if (!push) stack_set_last_reset(entry_top);
    return true;
}

// eval_infix from the operator first at i on, its cell nv read since the
// last allocation (or null).
__attribute__((noinline)) u32 eval_infix_chain(EvalWalk& w, u32 i, ValueCell* entry_top,
                                               bool push, const ValueCell* first,
                                               ValueCell* nv) {
    for (const ValueCell* opv = first; opv;
         opv = i < w.end ? op_cell(nv ? nv : (nv = w.at(i))) : nullptr) {
        // The left operand becomes the first cell of the new frame.
        if (!push && g_stack.base != entry_top) *entry_top = *g_stack.base;
        g_stack.top = entry_top;
        i32 code = infix_code(opv);
        if (code >= 0 && !g_interp.tracing && i + 1 < w.end) {
            ValueCell* left = entry_top;
            if (infix_inline_step(code, entry_top, nv, push)) {
                // Nothing was evaluated: the cells have not moved.
                i += 2;
                nv += 2;
                continue;
            }
            // Remainder and divide with a right operand to evaluate take
            // the operator's ordinary call.
            if (ZAN_UNLIKELY(code == FAST_REMAINDER || code == MATH_DIVIDE)) goto ordinary_call;
            // Both operands on the stack, then the operation on them.
            HeldCell held(*opv);
            ValueCell opword = *nv;
            // The right operand is fetched inside the operator's frame (its
            // base the left operand), as the call protocol has it: errors and
            // calls made while it is evaluated see the operator's frame.
            g_stack.top = entry_top;
            frame_mark(&opword, FRAME_BITS_NATIVE_FLAGGED);
            g_stack.top = entry_top + 1;
            i = eval_arg(w, i + 1, true);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            // Closed again: the operation opens its own frame when it needs one.
            g_stack.base = hptr<ValueCell>((--g_stack.ctop)->saved_base);
            if (operator_step_inline(code, left, left + 1, 1)) {
                g_stack.top = entry_top + 1;
            } else {
                eval_infix_generic(left, code, &held.v, &opword);
                if (ZAN_UNLIKELY(g_throw_code)) return i;
            }
            if (!push) stack_set_last_reset(entry_top);
            nv = nullptr;
            continue;
        }
    ordinary_call:
        ValueCell op = *opv;
        ValueCell opword = *nv;
        if (ZAN_UNLIKELY(g_interp.tracing))
            interp_trace_event(TRACE_FETCH, &w.block(), trace_offset(w, i), nullptr, &opword);
        i = eval_infix_call(w, i, push, &op, &opword);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
        nv = nullptr;
    }
    return i;
}
}  // namespace

// The common case first, in a routine small enough to cost little on
// entry: one operator with an inline path, integer! or float! operands,
// the right one simple, and no operator after it. Anything else goes on in
// eval_infix_chain, which does the same from where this one stopped.
u32 eval_infix(EvalWalk& w, u32 i, ValueCell* entry_top, bool push, const ValueCell* first) {
    ValueCell* nv = w.at(i);
    if (ZAN_LIKELY(!g_interp.tracing) && i + 1 < w.end) {
        i32 code = infix_code(first);
        if (code >= 0) {
            if (!push && g_stack.base != entry_top) *entry_top = *g_stack.base;
            g_stack.top = entry_top;
            if (infix_inline_step(code, entry_top, nv, push)) {
                i += 2;
                nv += 2;
                const ValueCell* next = i < w.end ? op_cell(nv) : nullptr;
                if (!next) return i;
                return eval_infix_chain(w, i, entry_top, push, next, nv);
            }
        }
    }
    return eval_infix_chain(w, i, entry_top, push, first, nv);
}


u32 eval_expr(EvalWalk& w, u32 i, bool no_infix, bool push, bool no_call) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) {
        take_interrupt();
        if (g_throw_code) return i;
    }
    ValueCell* entry_top = g_stack.top;
    if (ZAN_UNLIKELY(g_interp.tracing)) trace_fetch(w, i);
    ValueCell* v = w.at(i);
    u32 t = v->type();
    if (t == TYPE_WORD) {
        ValueCell* val = word_value(v);
        u32 vt = val->type();
        if (ZAN_LIKELY(!is_callable_type(vt))) {
            if (ZAN_UNLIKELY(vt == TYPE_UNSET || vt == TYPE_OP)) fire_word_value(v, vt);
            store_value(val, push);
            if (ZAN_UNLIKELY(g_interp.tracing)) trace_push(w, i, push);
            i++;
        } else {
            i = eval_call(val, w, i + 1, push, v);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
    } else if (self_evaluating(t)) {
        store_value(v, push);
        if (ZAN_UNLIKELY(g_interp.tracing)) trace_push(w, i, push);
        i++;
    } else if (t == TYPE_SET_WORD) {
        i = eval_set_word(w, i, push);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
    } else if (t == TYPE_PAREN) {
        ValueCell p = *v;
        eval_paren_p(&p, push);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
        i++;
    } else if ((t == TYPE_PATH || t == TYPE_GET_PATH) && ZAN_LIKELY(!g_interp.tracing) &&
               ZAN_LIKELY(!g_forms_off) &&
               eval_path_quick(v, t == TYPE_PATH ? PATH_NORMAL : PATH_GET, push, nullptr)) {
        i++;
    } else if (t == TYPE_SET_PATH) {
        i = eval_set_path(w, i, push);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
    } else {
        i = eval_expr_rare(w, i, push, no_call);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
    }
    return expr_tail(w, i, entry_top, push, !no_infix);
}


// ---- calls ---------------------------------------------------------------------------------------------

namespace {

// A native's or action's work once its arguments are in its frame: the
// call's trace, then the table entry with the refinement positions (the
// conditionals run in place).
template <bool absent>
__attribute__((always_inline)) inline void native_dispatch(const ValueCell& fnv, EvalWalk& w,
                                                           u32 i, const ValueCell& name,
                                                           const i32* refs, u32 nrefs) {
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_CALL, &w.block(), trace_offset(w, i), &name, &fnv);
    if (fnv.type() == TYPE_NATIVE) {
        u32 idx = callable_entry(&fnv);
        if (idx == NAT_EITHER || idx == NAT_IF || idx == NAT_UNLESS) {
            run_conditional(idx);
        } else {
            NativeEntry e = idx - 1 < NATIVES_TABLE_SIZE ? g_natives[idx - 1] : nullptr;
            if (ZAN_UNLIKELY(!e)) e = native_not_done;
            e(false, refs);
        }
    } else {
        // (Inlined for the call without refinements, the common one.)
        if constexpr (absent) call_action_body<true>(callable_entry(&fnv), refs, nrefs);
        else call_action<false>(callable_entry(&fnv), refs, nrefs);
    }
}

// The call of a native! or action! (fnv, held by the caller) in its native
// frame: the arguments, the table entry (the conditionals run in place),
// the frame's pop. Returns the next index; the frame stays when a code is
// pending.
template <bool inline_fetch, bool over_callable = false>
__attribute__((always_inline)) inline u32 native_call_body(const ValueCell& fnv, EvalWalk& w, u32 i,
                                                           bool push, ValueCell& name,
                                                           const PathRefs* path, u32 apply_mode,
                                                           bool infix) {
    frame_mark(&name, FRAME_BITS_NATIVE_FLAGGED);
    // (An infix call's left operand lies above the top: nothing may
    // be pushed before fetch_native_args takes it in.)
    SpecInfo si{0, 0};
    if (ZAN_LIKELY(!infix && !path && !apply_mode)) si = spec_info(&fnv);
    if (ZAN_LIKELY(si.digest & SPEC_SHORT)) {
        if (inline_fetch) {
            bool stopped = false;
            i = fetch_plain_args_body<true>(&fnv, w, i, &name, si.cache, spec_params(si.digest),
                                            stopped);
            if (ZAN_UNLIKELY(stopped)) return i;
        } else {
            i = fetch_plain_args<true>(&fnv, w, i, &name, si.cache, spec_params(si.digest));
            if (ZAN_UNLIKELY(g_throw_code)) return i;
        }
        // No refinement is given on this path: every position is absent.
        native_dispatch<true>(fnv, w, i, name, kNoRefs, spec_nrefs(si.digest));
    } else {
        Fetched f;
        i = fetch_native_args(&fnv, w, i, &name, path, apply_mode, infix, f);
        if (ZAN_UNLIKELY(g_throw_code)) return i;
        native_dispatch<false>(fnv, w, i, name, f.refs, f.nrefs);
    }
    if (ZAN_UNLIKELY(g_throw_code)) return i;
    if (over_callable) frame_unwind_over_callable(push);
    else frame_unwind(push);
    return i;
}

// The end of a call whose frame is popped: the return's trace, and a
// prefix call's result moved down over the callable it replaces.
// moved: the result is already where it goes (frame_unwind_over_callable).
__attribute__((always_inline)) inline void call_return(EvalWalk& w, u32 i, const ValueCell& name,
                                                      bool push, bool infix, bool moved = false) {
    if (ZAN_UNLIKELY(g_interp.tracing))
        interp_trace_event(TRACE_RETURN, &w.block(), trace_offset(w, i), &name,
                           push ? stack_top_value() : stack_result());
    if (!infix && !moved) {
        g_stack.top--;
        *(g_stack.top - 1) = *g_stack.top;
    }
}

// The body of eval_code, inlined into it and into eval_call (where the
// arguments that are constant there drop the branches they decide). fnc:
// the callable's copy that nothing changes while the call runs; name: the
// caller's copy of the calling word.
__attribute__((always_inline)) inline u32 eval_code_body(const ValueCell* fnc, EvalWalk& w, u32 i,
                                                         bool push, ValueCell& name,
                                                         const PathRefs* path,
                                                         const ValueCell* parent, u32 apply_mode,
                                                         bool infix) {
    const ValueCell& fnv = *fnc;
    switch (fnv.type()) {
        case TYPE_NATIVE:
        case TYPE_ACTION:
            i = native_call_body<false>(fnv, w, i, push, name, path, apply_mode, infix);
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            break;
        case TYPE_FUNCTION: {
            // The function's "more" cells (entry, spec cache, body), read
            // once for the entry and the cache: nothing allocates between.
            ValueCell* more = node_buffer(callable_more(&fnv))->head_cells();
            if (ZAN_LIKELY(plain_interpreted(&fnv, more))) {
                // An interpreted function: its frame, its arguments, its body
                // with the context's values pointed at the frame. The frame
                // saved the values address and its pop restores it.
                CallFrame* frame =
                    frame_mark(&name, (FRAME_FUNCTION << FRAME_KIND_SHIFT) | FRAME_INTERPRETED);
                frame->func_ctx = context_of(&fnv);
                ValueCell* ctxc = context_cell(context_of(&fnv));
                frame->saved_values = context_values(ctxc);
                SpecInfo si{0, 0};
                if (ZAN_LIKELY(!infix && !path && !apply_mode))
                    si = ZAN_LIKELY(more[1].type() == TYPE_BLOCK)
                             ? SpecInfo{block_node(more + 1), block_extra(more + 1)}
                             : spec_info(&fnv);
                i32 nvals = -1;  // the context's values, when the short path took them
                if (ZAN_LIKELY(si.digest & SPEC_SHORT)) {
                    u32 np = spec_params(si.digest);
                    nvals = static_cast<i32>(np);
                    if (np == 1 && ZAN_LIKELY(i < w.end)) {
                        // One parameter (the common case) without the loop.
                        i = fetch_checked_arg(&fnv, w, i, &name, si.cache, 0);
                        if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    } else {
                        i = fetch_plain_args<false>(&fnv, w, i, &name, si.cache, np);
                        if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                    }
                    if (si.digest & SPEC_LOCALS) {
                        u32 locals = spec_local_count(si.digest);
                        nvals += static_cast<i32>(locals);
                        if (locals > 0) {
                            logic_box(stack_push_cell(), false);
                            for (u32 l = 1; l < locals; l++) none_push();
                        }
                    }
                } else {
                    i = fetch_function_args(&fnv, w, i, &name, path, apply_mode, infix);
                }
                if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                if (ZAN_UNLIKELY(g_interp.tracing)) {
                    interp_trace_event(TRACE_CALL, &w.block(), trace_offset(w, i), &name, &fnv);
                    call_function_p(&fnv, choose_context(&fnv, &name, parent), &name, 0);
                    if (ZAN_UNLIKELY(g_throw_code)) goto pending;
                } else {
                    set_context_values(context_cell(context_of(&fnv)), heap_off(g_stack.base));
                    frame->header |= FRAME_BODY;
                    ValueCell body = *(node_buffer(callable_more(&fnv))->head_cells() + MORE_BODY);
                    u32 code = 0;
                    ValueCell value;
                    if (nvals >= 0 && body.type() == TYPE_BLOCK && ZAN_LIKELY(!g_forms_off) &&
                        pure_call_worth_trying(callable_more(&fnv), static_cast<u32>(nvals)) &&
                        pure_call_run(&fnv, &body, static_cast<u32>(nvals), &value)) {
                        // As the body's frame leaves it: the value on top
                        // and in the result cell.
                        ValueCell* res = stack_push(&value);
                        stack_copy_cell(g_stack.base, res);
                    } else if (ZAN_LIKELY(body.type() == TYPE_BLOCK)) {
                        code = run_handled(THROW_BREAK, [&] { eval_block_p(&body, true); });
                    } else {
                        unset_box(stack_result());
                        stack_keep();
                    }
                    if (ZAN_UNLIKELY(code)) {
                        if (code != THROW_RETURN && code != THROW_EXIT) goto pending;
                        g_throw_code = 0;
                        settle_at(frame);
                    }
                }
                frame_unwind_func(push);
                break;
            }
            Node ctx = choose_context(&fnv, &name, parent);
            stack_mark_func(&name, context_of(&fnv));
            stack_set_top_interpreted();
            i = fetch_callee_args(&fnv, w, i, &name, path, apply_mode, infix);
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            if (ZAN_UNLIKELY(g_interp.tracing))
                interp_trace_event(TRACE_CALL, &w.block(), trace_offset(w, i), &name, &fnv);
            call_function_p(&fnv, ctx, &name, 0);
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            frame_unwind_func(push);
            break;
        }
        case TYPE_ROUTINE: {
            frame_mark(&name, FRAME_BITS_NATIVE_FLAGGED);
            i = fetch_callee_args(&fnv, w, i, &name, path, apply_mode, infix);
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            if (ZAN_UNLIKELY(g_interp.tracing))
                interp_trace_event(TRACE_CALL, &w.block(), trace_offset(w, i), &name, &fnv);
            {
                ValueCell* entry = node_buffer(callable_more(&fnv))->head_cells() + MORE_ENTRY;
                RoutineFn rf = entry->type() == TYPE_INTEGER
                                   ? routine_table_entry(static_cast<u32>(integer_get(entry)))
                                   : nullptr;
                if (!rf) fire(Err::internal_not_done);
                rf();
            }
            if (ZAN_UNLIKELY(g_throw_code)) goto pending;
            frame_unwind(push);
            break;
        }
        default:
            runtime_fatal(101, "call of a value that is not callable");
    }
    call_return(w, i, name, push, infix);
    return i;
pending:
    return i;
}
}  // namespace

namespace {
inline void trace_open(EvalWalk& w, u32 i, const ValueCell* name, bool infix) {
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        if (infix) g_stack.top++;
        interp_trace_event(TRACE_OPEN, &w.block(), trace_offset(w, i), nullptr, name);
        if (infix) g_stack.top--;
    }
}
}  // namespace

// The callable is copied first: its cell may be a word's value, which the
// call itself may change. A prefix call pushes it as the cell its result
// replaces (the data stack stays where it is, and the collector sees it);
// an infix call's left operand is there, so the callable is held aside.
u32 eval_code(const ValueCell* callable, EvalWalk& w, u32 i, bool push, const ValueCell* name_in,
              const PathRefs* path, const ValueCell* parent, u32 apply_mode, bool infix) {
    ValueCell name = *name_in;
    if (infix) {
        HeldCell fn(*callable);
        trace_open(w, i, &name, true);
        return eval_code_body(&fn.v, w, i, push, name, path, parent, apply_mode, true);
    }
    trace_open(w, i, &name, false);
    const ValueCell* fnc = stack_push(callable);
    return eval_code_body(fnc, w, i, push, name, path, parent, apply_mode, false);
}

namespace {
__attribute__((always_inline)) inline u32 call_named(const ValueCell* callable, EvalWalk& w, u32 i,
                                                     bool push, const ValueCell* name_in) {
    ValueCell name = *name_in;
    trace_open(w, i, &name, false);
    const ValueCell* fnc = stack_push(callable);
    return eval_code_body(fnc, w, i, push, name, nullptr, nullptr, 0, false);
}
}  // namespace

u32 eval_call(const ValueCell* callable, EvalWalk& w, u32 i, bool push, const ValueCell* name) {
    return call_named(callable, w, i, push, name);
}

// The calls a word makes are made here rather than through eval_call: one
// routine less on the way into each. A native's or action's call has its
// own routine with the argument fetch inlined into it (one routine less
// again); inlined into the path that also serves functions, the fetch cost
// that path registers.
namespace {
// A conditional whose arguments were evaluated directly (rest) and whose
// branch needs the walker, from there on as the ordinary call goes: the
// callable pushed, the frame marked, the arguments in it, the branch run,
// the frame popped over the callable. False when a code is pending (the
// frame then stays, as the ordinary call leaves it).
__attribute__((noinline)) bool conditional_in_frame(const ValueCell& fnv, ValueCell& name,
                                                    const ConditionalArgs& rest, bool push) {
    const ValueCell* fnc = stack_push(&fnv);
    frame_mark(&name, FRAME_BITS_NATIVE_FLAGGED);
    for (u32 k = 0; k < rest.count; k++) stack_push(rest.args + k);
    run_conditional(callable_entry(fnc));
    if (ZAN_UNLIKELY(g_throw_code)) return false;
    frame_unwind_over_callable(push);
    return true;
}

// The end of a call made by a word whose value it left at entry_top (and
// in the result cell unless push), with tracing off: with ops, the
// operators after it, telling what the look-ahead found.
template <bool ops>
__attribute__((always_inline)) inline CallEnd after_word_call(EvalWalk& w, u32 i,
                                                              ValueCell* entry_top, bool push) {
    if (!ops) return CallEnd{i, nullptr};
    const ValueCell* next = word_slot_at(w, i);
    if (next && next->type() == TYPE_OP) {
        i = eval_infix(w, i, entry_top, push, next);
        if (ZAN_UNLIKELY(g_throw_code)) return CallEnd{i, nullptr};
        if (ZAN_UNLIKELY(g_interp.tracing) && !push)
            interp_trace_event(TRACE_EXPR, &w.block(), trace_offset(w, i), nullptr,
                               stack_result());
        return CallEnd{i, nullptr};
    }
    return CallEnd{i, next};
}

// The end of a call whose frame was popped, as native_word_call_body ends
// it (tracing may have been switched on by the call).
template <bool ops>
__attribute__((always_inline)) inline CallEnd after_native_call(EvalWalk& w, u32 i,
                                                                ValueCell* entry_top, bool push,
                                                                const ValueCell& name) {
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        call_return(w, i, name, push, false, true);
        if (ops) return expr_tail_ahead(w, i, entry_top, push);
        return CallEnd{expr_tail(w, i, entry_top, push, false), nullptr};
    }
    return after_word_call<ops>(w, i, entry_top, push);
}

// native_word_call_body's call made directly (see direct_call.h): false,
// nothing done, when the ordinary call must be made.
template <bool ops>
__attribute__((noinline)) bool direct_word_call(EvalWalk& w, u32 i, const ValueCell* fn, bool push,
                                                const ValueCell* word, CallEnd* end) {
    ValueCell* entry_top = g_stack.top;
    ValueCell v;
    u32 j;
    ConditionalArgs rest;
    ValueCell fnv = *fn;  // (a condition may be a set-word of the word itself)
    if (fn->type() == TYPE_ACTION) j = direct_call(w, i, direct_entry(fn), &v);
    else j = direct_conditional(w, i, callable_entry(fn), &v, rest);
    if (!j) return false;
    if (ZAN_LIKELY(!rest.count)) {
        // Where the ordinary call leaves its value: over the callable it
        // pushed, and in the result cell unless push.
        stack_copy_cell(entry_top, &v);
        g_stack.top = entry_top + 1;
        if (!push) stack_copy_cell(g_stack.base, &v);
        *end = after_word_call<ops>(w, j, entry_top, push);
        return true;
    }
    ValueCell name = *word;
    if (!conditional_in_frame(fnv, name, rest, push)) *end = CallEnd{j, nullptr};
    else *end = after_native_call<ops>(w, j, entry_top, push, name);
    return true;
}

// ops: the operators after the call are evaluated.
// (With ops, the end tells what the look-ahead found.)
// Every caller takes this path only with tracing off (its open event is
// then not sent); an interrupt is left to the next walk's start or round.
// Tracing is tested again after the native ran, which may have switched it
// on: then the return's and the expression's events go as before.
// direct: the call is tried directly first (see direct_call.h).
template <bool ops, bool direct>
__attribute__((always_inline)) inline CallEnd native_word_call_body(EvalWalk& w, u32 i,
                                                                    const ValueCell* fn, bool push,
                                                                    const ValueCell* word) {
    if (direct && ZAN_UNLIKELY(may_be_direct(fn)) && ZAN_LIKELY(!g_forms_off) &&
        direct_worth_trying(word)) {
        CallEnd end;
        if (direct_word_call<ops>(w, i, fn, push, word, &end)) return end;
    }
    ValueCell* entry_top = g_stack.top;
    ValueCell name = *word;
    const ValueCell* fnc = stack_push(fn);
    i = native_call_body<true, true>(*fnc, w, i + 1, push, name, nullptr, 0, false);
    if (ZAN_UNLIKELY(g_throw_code)) return CallEnd{i, nullptr};
    return after_native_call<ops>(w, i, entry_top, push, name);
}
}  // namespace

CallEnd native_word_call_pushed(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* word) {
    return native_word_call_body<true, true>(w, i, fn, true, word);
}

CallEnd native_word_call_statement(EvalWalk& w, u32 i, const ValueCell* fn,
                                   const ValueCell* word) {
    return native_word_call_body<true, true>(w, i, fn, false, word);
}

namespace {
CallEnd native_word_call_ordinary(EvalWalk& w, u32 i, const ValueCell* fn) {
    return native_word_call_body<true, false>(w, i, fn, false, w.at(i));
}
}  // namespace

u32 word_call_alone(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* word) {
    if (fn->type() == TYPE_NATIVE || fn->type() == TYPE_ACTION)
        return native_word_call_body<false, true>(w, i, fn, true, word).i;
    return eval_expr(w, i, true, true, false);
}

u32 other_word_call(EvalWalk& w, u32 i, const ValueCell* fn, bool push, const ValueCell* word) {
    if (ZAN_UNLIKELY(g_interrupt_pending)) return eval_expr(w, i, false, push, false);
    ValueCell* entry_top = g_stack.top;
    i = call_named(fn, w, i + 1, push, word);
    if (ZAN_UNLIKELY(g_throw_code)) return i;
    return expr_tail(w, i, entry_top, push, true);
}

// ---- functions -------------------------------------------------------------------------------------------

void call_function_p(const ValueCell* fn_in, Node ctx, const ValueCell* name, u32 trace_filter) {
    HeldCell fn(*fn_in);
    TracingGuard tguard;
    if (g_interp.tracing && trace_filter) g_interp.tracing = false;
    ValueCell* entry = node_buffer(callable_more(&fn.v))->head_cells() + MORE_ENTRY;
    if (entry->type() == TYPE_INTEGER && integer_get(entry) != 0) {
        u32 idx = static_cast<u32>(integer_get(entry));
        if (!g_compiled || idx == 0 || idx > g_compiled_count || !g_compiled[idx - 1])
            fire(Err::internal_not_done);
        Node own = context_of(&fn.v);
        CallFrame* frame = stack_top_frame();
        HeapRef saved = context_values(context_cell(own));
        set_context_values(context_cell(own), heap_off(g_stack.base));
        u32 code = run_handled(THROW_BREAK, [&] {
            g_compiled[idx - 1](ctx && ctx != g_global_ctx ? ctx : 0);
        });
        if (code == THROW_RETURN || code == THROW_EXIT) {
            g_throw_code = 0;
            settle_at(frame);
        }
        set_context_values(context_cell(own), saved);
        return;
    }
    if (g_interp.tracing && trace_filter)
        interp_trace_event(TRACE_CALL, nullptr, -1, name, &fn.v);
    exec_body_p(&fn.v, name);
    if (g_throw_code) return;
    if (g_interp.tracing && trace_filter)
        interp_trace_event(TRACE_RETURN, nullptr, -1, name, stack_result());
}

void exec_body_p(const ValueCell* fn_in, const ValueCell* name) {
    HeldCell fn(*fn_in);
    Node own = context_of(&fn.v);
    HeapRef saved = context_values(context_cell(own));
    set_context_values(context_cell(own), heap_off(g_stack.base));
    CallFrame* frame = stack_top_frame();
    frame->header |= FRAME_BODY;
    TracingGuard tguard;
    if (fn.v.header & FUNCTION_TRACE) {
        if (g_interp.trace_run) g_interp.tracing = true;
    } else if (fn.v.header & FUNCTION_NO_TRACE) {
        g_interp.tracing = false;
    }
    ValueCell body = *(node_buffer(callable_more(&fn.v))->head_cells() + MORE_BODY);
    if (g_interp.tracing) {
        u32 c = run_handled(THROW_ERROR, [&] {
            interp_trace_event(TRACE_PROLOG, &body, -1, name, &fn.v);
        });
        if (c) {
            frame->header &= ~FRAME_BODY;
            set_context_values(context_cell(own), saved);
            if (c >= THROW_THROW) raise_code(c);
            return;
        }
    }
    u32 code = 0;
    if (body.type() == TYPE_BLOCK) {
        code = run_handled(THROW_BREAK, [&] { eval_block_p(&body, true); });
    } else {
        unset_box(stack_result());
        stack_keep();
    }
    if (g_interp.tracing) {
        g_throw_code = 0;
        run_handled(THROW_BREAK, [&] {
            interp_trace_event(TRACE_EPILOG, &body, -1, name, &fn.v);
        });
        g_throw_code = code;
    }
    if (code == THROW_RETURN || code == THROW_EXIT) {
        g_throw_code = 0;
        settle_at(frame);
    }
    frame->header &= ~FRAME_BODY;
    set_context_values(context_cell(own), saved);
}

void push_unused_slots(const ValueCell* fn, u32 nparams) {
    Node cache = cache_of(fn);
    u32 n = cache_length(cache);
    u32 params = 0;
    bool in_refs = false;
    for (u32 k = 0; k < n; k++) {
        ValueCell* e = cache_cells(cache) + k;
        u32 t = e->type();
        if (t == TYPE_TYPESET) {
            if ((e->header & FETCH_MODE_MASK) == FETCH_RETURN) continue;
            if (!in_refs && params++ < nparams) continue;
            none_push();
        } else if (t == TYPE_REFINEMENT) {
            in_refs = true;
            logic_push(false);
        } else if (t == TYPE_INTEGER) {
            i32 locals = integer_get(e);
            if (locals > 0 && !callable_native_like(fn)) {
                logic_push(false);
                for (i32 l = 1; l < locals; l++) none_push();
            }
            break;
        }
    }
}

void call_function_with(const ValueCell* fn_in, const ValueCell* name_in, const ValueCell* args,
                        u32 n) {
    HeldCell fn(*fn_in);
    ValueCell name = *name_in;
    ValueCell* base = g_stack.top;
    for (u32 k = 0; k < n; k++) stack_push(args + k);
    g_stack.top = base;
    stack_mark_func(&name, context_of(&fn.v));
    stack_set_top_interpreted();
    g_stack.top = base + n;
    push_unused_slots(&fn.v, n);
    call_function_p(&fn.v, choose_context(&fn.v, &name, nullptr), &name, 0);
    if (g_throw_code) return;
    stack_unwind_func_last();
}

// ---- single values ----------------------------------------------------------------------------------------

void eval_value_p(const ValueCell* value, bool no_call, bool push) {
    // A block of one cell gives the value a position of its own.
    ValueCell* holder = none_push();
    block_make_at(holder, 1);
    block_append_cell(holder, value);
    ValueCell blk = *holder;
    EvalWalk w(&blk);
    g_stack.top--;
    eval_expr(w, 0, false, push, no_call);
}

// ---- raising entries ------------------------------------------------------------------------------------------

void interp_eval_block(const ValueCell* block, bool chain) {
    eval_block_p(block, chain);
    interp_raise_pending();
}

u32 interp_eval_next_at(const ValueCell* block, bool push) {
    EvalWalk w(block);
    u32 i = w.start;
    if (i >= w.end) {
        if (push) unset_push();
        else {
            unset_box(stack_result());
            stack_keep();
        }
        return i;
    }
    i = eval_next(w, i, push);
    interp_raise_pending();
    return i;
}

void interp_call_function(const ValueCell* fn, Node ctx, const ValueCell* name,
                          u32 trace_filter) {
    call_function_p(fn, ctx, name, trace_filter);
    interp_raise_pending();
}

void interp_apply(const ValueCell* callable, const ValueCell* args, const ValueCell* path,
                  u32 path_elem, const ValueCell* name, u32 mode) {
    EvalWalk w(args);
    if (path) {
        EvalWalk pw(path);
        PathRefs pr{&pw, path_elem};
        eval_code(callable, w, w.start, false, name, &pr, nullptr, mode, false);
    } else {
        eval_code(callable, w, w.start, false, name, nullptr, nullptr, mode, false);
    }
    interp_raise_pending();
}

void interp_eval_path_value(const ValueCell* path, bool get, const ValueCell* set_value,
                            bool case_sensitive) {
    ValueCell* holder = none_push();
    block_make_at(holder, 1);
    block_append_cell(holder, path);
    ValueCell blk = *holder;
    EvalWalk w(&blk);
    g_stack.top--;
    ValueCell p = *path;
    u32 mode = set_value ? PATH_SET : get ? PATH_GET : PATH_NORMAL;
    eval_path(w, 0, &p, mode, false, set_value, case_sensitive);
    interp_raise_pending();
}

// ---- set-up -----------------------------------------------------------------------------------------------------

void interp_set_compiled_table(const CompiledFunctionEntry* table, u32 count) {
    g_compiled = table;
    g_compiled_count = count;
}

namespace {
void hook_eval_block(ValueCell* block) {
    ValueCell b = *block;
    interp_eval_block(&b, false);
}
void hook_call_function(ValueCell* fn, Node ctx, ValueCell* name, u32 bit) {
    interp_call_function(fn, ctx, name, bit);
}
const ValueCell* hook_position() {
    return g_interp.position.type() == TYPE_UNSET ? nullptr : &g_interp.position;
}
}  // namespace

void interp_init() {
    forms_switch_read();
    g_held_top = nullptr;
    g_global_values.ctx = g_global_ctx;
    g_global_values.values = g_global_ctx ? context_values(context_cell(g_global_ctx)) : 0;
    if (g_global_values.values) global_values_refresh();
    cell_init(&g_interp.position, TYPE_UNSET);
    g_interp.tracing = false;
    g_interp.trace_run = false;
    g_interp.trace_mask = TRACE_DEFAULT_MASK;
    g_interp.trace_extra = 0;
    g_interp.trace_switches = 0;
    g_interp.trace_switched_on = false;
    g_interp.tracer = block_alloc_tail(&g_root_block);
    none_box(g_interp.tracer);
    if (!g_roots_registered) {
        gc_add_mark_callback(mark_interp_roots);
        g_roots_registered = true;
    }
    g_interp_hooks.eval_block = hook_eval_block;
    g_interp_hooks.call_function = hook_call_function;
    g_interp_hooks.position = hook_position;
    interp_trace_install_services();
}

// eval_block_p(paren, false) for an action of parse: the same frame and
// walk, the value copied to out and the stack left as it was found
// instead of pushed for the caller to take.
u32 eval_parse_paren_p(const ValueCell* paren, ValueCell* out) {
    u32 from = WALK_START;
    // A paren of direct calls needs no frame: its form is kept for the
    // next match.
    if (ZAN_LIKELY(!g_interp.tracing) && ZAN_LIKELY(!g_interrupt_pending) &&
        ZAN_LIKELY(!g_forms_off)) {
        from = direct_paren(paren, out);
        if (from == DIRECT_DONE) return 0;
    }
    EvalWalk w(paren);
    if (from == WALK_START) from = w.start;
    CallFrame* f = frame_mark(g_words.n.body, FRAME_BITS_EVAL_FLAGGED);
    if (run_walk(w, f, from)) return g_throw_code;
    ValueCell* res = g_stack.base;
    *out = *res;
    g_stack.top = res;
    g_stack.base = hptr<ValueCell>((--g_stack.ctop)->saved_base);
    return 0;
}

}  // namespace zan

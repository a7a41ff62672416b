// What the two evaluators of calls that cannot be seen to run share: the
// tree walker over a block's cells (pure_call.cpp) and the form built for
// the calls of a run that makes many (pure_compiled.cpp).
#pragma once
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/eval/interp/interp_pure.h"
#include "runtime/eval/interp/pure_call.h"

namespace zan::pure {

// Locals of one call: the walker keeps them on the data stack; here they
// are copies, so a store made before giving up is never seen.
constexpr u32 MAX_VALS = PURE_MAX_VALS;

// One running call: its function's context and the values its words read.
struct PureFrame {
    Node ctx;
    u32 nvals;
    ValueCell* vals;  // the parameters, then the /local flag and the locals
    const PureFrame* up;
};

// What the walker would have on its stacks (call frames and data cells)
// for what a run has under way, counted generously, against what they had
// free when the run began. Only one run is ever under way: nothing it runs
// can start another.
struct Cost {
    u32 frames;
    u32 cells;
};
struct PureRun {
    Cost used;
    Cost room;
    u32 calls;     // function calls made so far
    bool unbuilt;  // a callable's spec cache was not built yet
    Node global_ctx;
    ValueCell* globals;  // the global values (nothing moves them meanwhile)
};
extern PureRun g_run;

inline bool take(Cost c) {
    g_run.used.frames += c.frames;
    g_run.used.cells += c.cells;
    return g_run.used.frames < g_run.room.frames && g_run.used.cells < g_run.room.cells;
}
inline void give(Cost c) {
    g_run.used.frames -= c.frames;
    g_run.used.cells -= c.cells;
}

// What the walker pushes for each construct, at most: a function's frame,
// its callable and result (its body's block counts for itself, its values
// are added); a native's frame and a branch's (or an action's second
// frame), its callable, arguments and result; a block's or paren's frame
// and its statement's value; an operator's frame while its right operand
// is evaluated, and both operands; a set-word's frame, the word and value.
constexpr Cost FUNCTION_COST{1, 3}, NATIVE_COST{2, 5}, BLOCK_COST{1, 2}, OP_COST{1, 3},
    SET_COST{1, 3};
// Calls a run makes before it compiles the bodies it calls.
constexpr u32 HOT_CALLS = 32;
constexpr Cost ROOM_MARGIN{8, 64};

// The slot a word reads: a running call's local (the latest call of its
// function, as the walker points the context at its newest frame), else
// where the walker would read it. Null when it has no value to read.
__attribute__((always_inline)) inline ValueCell* pure_slot(const PureFrame* f,
                                                         const ValueCell* word) {
    Node n = word_binding(word);
    u32 idx = static_cast<u32>(word_index(word));
    if (n == f->ctx) return idx < f->nvals ? f->vals + idx : nullptr;
    if (n == g_run.global_ctx) return g_run.globals + idx;
    if (!n || static_cast<i32>(idx) < 0) return nullptr;
    for (f = f->up; f; f = f->up)
        if (f->ctx == n) return idx < f->nvals ? f->vals + idx : nullptr;
    return word_value_if_available(word);
}

// A term's value when it needs no evaluation: a value that evaluates to
// itself or a word holding one; else null (*callable: a word's callable).
__attribute__((always_inline)) inline const ValueCell* plain_term(const PureFrame* f,
                                                                const ValueCell* c,
                                                                const ValueCell** callable) {
    u32 t = c->type();
    if (self_evaluating(t)) return c;
    if (t != TYPE_WORD) return nullptr;
    const ValueCell* v = pure_slot(f, c);
    if (!v) return nullptr;
    u32 vt = v->type();
    if (vt == TYPE_FUNCTION || vt == TYPE_NATIVE || vt == TYPE_ACTION) {
        *callable = v;
        return nullptr;
    }
    if (is_callable_type(vt) || vt == TYPE_UNSET || vt == TYPE_OP) return nullptr;
    return v;
}

// The inline operation a prefix call of the native! or action! fn stands
// for: a fast operator code (add, subtract, multiply, remainder, or~,
// and~, xor~, and 16 + the code of a comparison native), PREFIX_NOT for
// not; -1 for any other.
constexpr i32 PREFIX_NOT = 64;
inline i32 prefix_code(const ValueCell* fn) {
    u32 e = callable_entry(fn);
    if (fn->type() == TYPE_ACTION) return action_math_code(e);
    if (e == NAT_NOT) return PREFIX_NOT;
    i32 c = native_compare_code(e);
    return c < 0 ? -1 : 16 + c;
}
// Its value on the arguments (one for not), into *out; false when the
// operator has no inline result for them.
inline bool prefix_result(i32 code, const ValueCell* args, ValueCell* out) {
    if (code == PREFIX_NOT) {
        logic_box(out, !truthy(args));
        return true;
    }
    if (args[0].type() != TYPE_INTEGER || args[1].type() != TYPE_INTEGER) return false;
    *out = args[0];
    return int_op_inline(code, out, args + 1);
}

// The spec cache of a callable whose calls take the short path (plain
// word parameters only); 0 when it is not built or not of that shape.
// (A cache not built yet is built by the walker's first call: the run
// that met it is tried again next time.)
inline Node short_cache(const ValueCell* more, u32* digest) {
    if (more[1].type() != TYPE_BLOCK) {
        g_run.unbuilt = true;
        return 0;
    }
    *digest = block_extra(more + 1);
    if (!(*digest & SPEC_SHORT)) return 0;
    return block_node(more + 1);
}

// The body of a function called from the tree walker, its frame nf ready,
// run by the compiled form: 1 when it ran, 0 to give up, -1 when the body
// has no compiled form (the tree walker runs it).
int compiled_body(const ValueCell* fn, const PureFrame* nf, ValueCell* out);
// The tree walker's run of a block, for calls the compiled form cannot take.
bool walk_block(const PureFrame* f, const ValueCell* block, ValueCell* out);
// Forgets the compiled forms of the last run.
void compiled_reset();

}  // namespace zan::pure

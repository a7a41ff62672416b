// What the interpreter's own files share: the walk over a block, the
// pending forms of the evaluation routines, the spec cache and the tracer
// hooks. Not for other modules (they use interp.h).
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/layout.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/eval/interp/forms_switch.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"

#define ZAN_LIKELY(x) __builtin_expect(!!(x), 1)
#define ZAN_UNLIKELY(x) __builtin_expect(!!(x), 0)

namespace zan {

// ---- held cells ------------------------------------------------------------------------------
// A cell the interpreter holds on the machine stack across evaluation (a
// callable, a block being walked): linked into a list that the collector
// marks, unlinked when it goes out of scope (also when an exception passes).
struct HeldCell {
    ValueCell v;
    HeldCell* prev;
    explicit HeldCell(const ValueCell& c);
    ~HeldCell();
    HeldCell(const HeldCell&) = delete;
    HeldCell& operator=(const HeldCell&) = delete;
};
extern HeldCell* g_held_top;

inline HeldCell::HeldCell(const ValueCell& c) : prev(g_held_top) {
    stack_copy_cell(&v, &c);
    g_held_top = this;
}
inline HeldCell::~HeldCell() { g_held_top = prev; }

// ---- frames on the hot paths ---------------------------------------------------------------------
// Inline forms of stack_mark and of the unwinds of runtime/core/stack.cpp,
// with the same effect on the registers and the records: the interpreter
// marks and pops several frames per call, and the out-of-line calls cost
// as much as the work they do. word is never null here.
inline CallFrame* frame_mark(const ValueCell* word, u32 bits) {
    if (ZAN_UNLIKELY(g_stack.ctop >= g_stack.climit)) stack_overflow();
    CallFrame* f = g_stack.ctop++;
    f->header = ((word_symbol(word) << FRAME_SYMBOL_SHIFT) & FRAME_SYMBOL_MASK) | bits;
    f->saved_base = heap_off(g_stack.base);
    f->name_ctx = word_binding(word);
    f->func_ctx = 0;
    f->saved_values = 0;
    g_stack.base = g_stack.top;
    return f;
}
constexpr u32 FRAME_BITS_NATIVE_FLAGGED = (FRAME_NATIVE << FRAME_KIND_SHIFT) | FRAME_INTERPRETED;
constexpr u32 FRAME_BITS_EVAL_FLAGGED = (FRAME_EVAL << FRAME_KIND_SHIFT) | FRAME_INTERPRETED;

// stack_unwind (push) or stack_unwind_last (result mode).
inline void frame_unwind(bool push) {
    CallFrame* f = --g_stack.ctop;
    ValueCell* res = g_stack.base;
    g_stack.top = res + 1;
    g_stack.base = hptr<ValueCell>(f->saved_base);
    if (!push) stack_copy_cell(g_stack.base, res);
}
// frame_unwind and the move of a prefix call's result down over its
// callable (the cell below the frame) in one: the top is left just above
// the result, which the caller's result cell also takes unless push.
inline void frame_unwind_over_callable(bool push) {
    CallFrame* f = --g_stack.ctop;
    ValueCell* res = g_stack.base;
    CellBits r = *reinterpret_cast<const CellBits*>(res);
    ValueCell* b = hptr<ValueCell>(f->saved_base);
    g_stack.base = b;
    if (!push) *reinterpret_cast<CellBits*>(b) = r;
    *reinterpret_cast<CellBits*>(res - 1) = r;
    g_stack.top = res;
}
// stack_unwind_func / stack_unwind_func_last.
inline void frame_unwind_func(bool push) {
    CallFrame* f = g_stack.ctop - 1;
    if (f->func_ctx) set_context_values(context_cell(f->func_ctx), f->saved_values);
    frame_unwind(push);
}

// ---- walking a block ---------------------------------------------------------------------------
// Positions are cell indexes from the buffer's head (the block's own index
// is where the walk starts). The buffer may move whenever something
// allocates (the collector slides buffers, an append may expand the block),
// so cell addresses are taken with at() just before use and never kept
// across evaluation.
struct EvalWalk {
    HeldCell held;     // the block cell (its node is series_node), kept alive
    ValueCell* cells;  // cell 0 of the buffer's head when last read
    const u32* slot;   // the node's slot (nodes stay where they are)
    HeapRef buf;       // the node's buffer when cells was read
    u32 start;         // the block's index clamped to the end
    u32 end;           // the tail when the walk began

    explicit EvalWalk(const ValueCell* block);
    const ValueCell& block() const { return held.v; }
    ValueCell* at(u32 i) {
        if (ZAN_UNLIKELY(*slot != buf)) reload();
        return cells + i;
    }
    void reload();
    // Reads the block again as the constructor did (a loop body evaluated
    // once more: the block may have grown or moved since).
    // (The node's slot stays where it is; only the buffer is read again.)
    void restart() {
        buf = *slot;
        SeriesBuffer* b = hptr<SeriesBuffer>(buf);
        cells = b->head_cells();
        end = b->used_bytes() / sizeof(ValueCell);
        start = series_head(&held.v) < end ? series_head(&held.v) : end;
    }
};

// (The block's fields are read from the source cell, which nothing can
// move meanwhile, rather than from the copy: read from the copy they were
// taken out of a vector register one by one.)
inline EvalWalk::EvalWalk(const ValueCell* block) : held(*block) {
    Node node = series_node(block);
    u32 head = series_head(block);
    slot = &node_slot(node);
    buf = *slot;
    SeriesBuffer* b = hptr<SeriesBuffer>(buf);
    cells = b->head_cells();
    end = b->used_bytes() / sizeof(ValueCell);
    start = head < end ? head : end;
}

// ---- the pending forms -------------------------------------------------------------------------------
// Each returns (or leaves) g_throw_code non-zero when a non-local exit is
// under way; the stacks are then already unwound to the exit's target and
// the caller must return at once, touching no frame.

// interp_eval_block.
u32 eval_block_p(const ValueCell* block, bool chain);
// eval_block_p(block, true) for the branch of a conditional.
u32 eval_branch_p(const ValueCell* block);
// interp_eval_block with the chain flag over a walk made earlier (a loop
// body run once more): the walk is restarted first.
u32 eval_walk_again_p(EvalWalk& w);
// The rounds k up to count of loop or repeat over a walk made earlier (the
// walker's rounds): before each, repeat's word (word, or null) is given k;
// then the block is walked again in its own frame. Returns at the first
// round that leaves a code pending (the code; k is that round) or when all
// have run (0, k is count + 1).
u32 eval_counted_rounds_p(EvalWalk& w, ValueCell* word, i32& k, i32 count);
// The walker's rounds of while from its condition on: each block walked
// again in its own frame, the condition's value tested (strict_true) after
// its frame is popped. Returns 0 when the condition is false, else at the
// first block that leaves a code pending (the code; in_cond tells which
// block, also for an exception that passes).
u32 eval_while_rounds_p(EvalWalk& cond, EvalWalk& body, bool& in_cond);
// eval_walk_again_p from walk index from on, the statements before it
// taken as run (a loop's pure run of the block stopped there).
u32 eval_walk_resume_p(EvalWalk& w, u32 from);
constexpr u32 WALK_START = ~0u;
// One expression at i; returns the next index. no_infix: operators after
// it are left alone; no_call: a function value standing in the block is
// returned as itself, not called.
u32 eval_expr(EvalWalk& w, u32 i, bool no_infix, bool push, bool no_call);
// One expression in push mode, as an argument: a value that evaluates to
// itself, or a word holding one, is pushed at once when no operator follows
// (or when the look-ahead is off); anything else goes to eval_expr.
inline u32 eval_arg(EvalWalk& w, u32 i, bool no_infix);
// The operators that follow a value (the left operand, stored at
// entry_top or in the result cell), chained left to right, op the value
// of the first (op_at(w, i)); returns the index after the last right
// operand.
u32 eval_infix(EvalWalk& w, u32 i, ValueCell* entry_top, bool push, const ValueCell* op);
// One expression inside a native frame named <body> (the form behind
// interp_eval_next_at).
u32 eval_next(EvalWalk& w, u32 i, bool push);

// A path that supplies refinements to a call: the walk over the path and
// the index of the element that named the callable.
struct PathRefs {
    EvalWalk* walk;
    u32 elem;
};
// Calls a callable with its arguments taken from the walk at i; returns
// the next index.
u32 eval_code(const ValueCell* callable, EvalWalk& w, u32 i, bool push, const ValueCell* name,
              const PathRefs* path, const ValueCell* parent, u32 apply_mode, bool infix);
// eval_code for a callable named by a word: no path, parent, apply mode or
// left operand.
u32 eval_call(const ValueCell* callable, EvalWalk& w, u32 i, bool push, const ValueCell* name);
// The path at index i of the walk. mode: PATH_NORMAL,
// PATH_GET (nothing is called) or PATH_SET (set_value is assigned at the
// last element). Returns the index after the path (and after the call that
// a function in it made).
enum PathMode : u32 { PATH_NORMAL = 0, PATH_GET = 1, PATH_SET = 2 };
// eval_path's general walk: every element kind, tracing, calls, errors.
u32 eval_path_walk(EvalWalk& w, u32 i, const ValueCell* path, u32 mode, bool push,
                   const ValueCell* set_value, bool case_sensitive);
// The path when its head is a word whose value is no function and every
// level after it an object's field, a map's key, or a block's word or
// integer position, and nothing on the way raises an error or calls a
// function: the value pushed or stored (in PATH_SET mode the set value,
// stored at the last level), true. Otherwise false, with nothing done:
// eval_path's general walk answers. Only with tracing off and the default
// comparison.
bool eval_path_quick(const ValueCell* path, u32 mode, bool push, const ValueCell* set_value);
// The everyday paths are answered in place; the general walk takes the
// rest. (The library code's frame of the general walk is seen only by an
// error, which the quick walk leaves to the general one, or by an overflow
// of the call stack, which it leaves there too.)
inline u32 eval_path(EvalWalk& w, u32 i, const ValueCell* path, u32 mode, bool push,
                     const ValueCell* set_value, bool case_sensitive) {
    if (ZAN_LIKELY(!g_interp.tracing) && !case_sensitive && ZAN_LIKELY(!g_forms_off) &&
        eval_path_quick(path, mode, push, set_value))
        return i + 1;
    return eval_path_walk(w, i, path, mode, push, set_value, case_sensitive);
}
// interp_call_function; and the body run of a function whose frame is
// already on top (its context's values pointed at the frame's arguments).
void call_function_p(const ValueCell* fn, Node ctx, const ValueCell* name, u32 trace_filter);
void exec_body_p(const ValueCell* fn, const ValueCell* name);
// Evaluates a paren! as an expression of its own (native frame <body>),
// pushing or storing its value. paren may be a cell of a block: it is read
// before anything can move it.
void eval_paren_p(const ValueCell* paren, bool push);
// A paren of parse's rules as eval_block_p(paren, false) runs it, its
// value stored at out and nothing left pushed.
u32 eval_parse_paren_p(const ValueCell* paren, ValueCell* out);
// Evaluates a single value as an expression: a word is looked up (a
// function it holds is called with no arguments following), a path
// evaluated; with no_call a literal function is returned as itself.
void eval_value_p(const ValueCell* value, bool no_call, bool push);

// Pushes, after the callable's first nparams parameters, what a call that
// gives none of the rest receives: false for each refinement and none for
// each of its arguments, then false and none for the /local group.
void push_unused_slots(const ValueCell* fn, u32 nparams);
// Calls a function! with argument values in a function frame named by name
// (its refinements unused); the result goes to the caller's result cell.
void call_function_with(const ValueCell* fn, const ValueCell* name, const ValueCell* args,
                        u32 n);

// Runs f and returns the pending code afterwards: one left pending, or one
// raised as a ThrowSignal up to limit (converted into a pending code). Codes
// above limit pass on as they came.
template <class F>
inline u32 run_handled(u32 limit, F&& f) {
    try {
        f();
    } catch (ThrowSignal& s) {
        if (s.code > limit) throw;
        g_throw_code = s.code;
    }
    return g_throw_code;
}

// Whether the pending exit (return or exit) targets the given frame: the
// unwinding stopped at it, so the routine that owns it consumes the code.
inline bool pending_return_at(const CallFrame* frame) {
    return (g_throw_code == THROW_RETURN || g_throw_code == THROW_EXIT) &&
           g_stack.ctop - 1 == frame;
}

// After a return or exit has been consumed by the routine that owns frame:
// pops any frame the exit left above it (its target may have been a frame
// that do/trace marked), carrying the result down, so the stacks stand at
// frame with the result in its first cell and the top at base + 1.
void settle_at(CallFrame* frame);

// Writes a whole cell with one 16-byte store, so that the 16-byte loads
// that copy it later are forwarded from the store (four narrow stores
// followed by one wide load stall the processor).
inline void cell_put(ValueCell* c, u32 header, u32 d1, u32 d2, u32 d3) {
    *reinterpret_cast<CellBits*>(c) = CellBits{header, d1, d2, d3};
}

// The global context's values, cached: most words are global, and going
// through the context node to the values buffer takes a chain of dependent
// loads. The cache holds the buffer's head while the buffer stays where it
// was (checked through its node on every use).
struct GlobalValues {
    Node ctx;          // the global context when the cache was made
    Node values;       // its values node
    HeapRef buffer;    // the node's buffer when head was read
    ValueCell* head;
};
extern GlobalValues g_global_values;
void global_values_refresh();
inline ValueCell* global_value_slot(u32 index) {
    if (ZAN_UNLIKELY(node_slot(g_global_values.values) != g_global_values.buffer))
        global_values_refresh();
    return g_global_values.head + index;
}

// ---- values -------------------------------------------------------------------------------------------
// The value slot of a word (errors for unbound or unavailable words).
ValueCell* word_value_slow(ValueCell* word);
inline ValueCell* word_value(ValueCell* word) {
    Node n = word_binding(word);
    i32 idx = word_index(word);
    if (ZAN_LIKELY(n != 0 && idx >= 0)) {
        if (n == g_global_values.ctx) return global_value_slot(idx);
        ValueCell* ctx = context_cell(n);
        u32 vals = context_values(ctx);
        if (ZAN_LIKELY(vals != 0)) {
            if (ctx->header & CONTEXT_VALUES_ON_STACK) return hptr<ValueCell>(vals) + idx;
            return node_buffer(vals)->head_cells() + idx;
        }
    }
    return word_value_slow(word);
}
// The slot when the word's context has its values available, else null
// (no error). (Inlined always where an operator is looked for after a
// value; elsewhere the compiler chooses.)
__attribute__((always_inline)) inline ValueCell* word_value_if_available_inline(
    const ValueCell* word) {
    Node n = word_binding(word);
    i32 idx = word_index(word);
    if (!n || idx < 0) return nullptr;
    if (n == g_global_values.ctx) return global_value_slot(idx);
    ValueCell* ctx = context_cell(n);
    u32 vals = context_values(ctx);
    if (!vals) return nullptr;
    if (ctx->header & CONTEXT_VALUES_ON_STACK) return hptr<ValueCell>(vals) + idx;
    return node_buffer(vals)->head_cells() + idx;
}
inline ValueCell* word_value_if_available(const ValueCell* word) {
    return word_value_if_available_inline(word);
}
// Assigns a value to a word (set-word semantics without the unset check).
void word_assign(ValueCell* word, const ValueCell* value);

inline bool is_callable_type(u32 t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}
inline bool truthy(const ValueCell* v) {
    u32 t = v->type();
    return !(t == TYPE_NONE || (t == TYPE_LOGIC && !logic_get(v)));
}

// The strict truth test (either, while, until, case): unset! raises
// no-return.
inline bool strict_true(const ValueCell* v) {
    if (v->type() == TYPE_UNSET) fire(Err::script_no_return);
    return truthy(v);
}
// The work of if, unless and either (nat) on the arguments of the top
// frame: the chosen block evaluated, or none. The call path runs it
// without going through the natives' table when the callable is one of
// these natives.
inline void run_conditional(u32 nat) {
    const ValueCell* cond = stack_arg(0);
    const ValueCell* body;
    if (nat == NAT_EITHER) {
        body = strict_true(cond) ? stack_arg(1) : stack_arg(2);
    } else {
        if (truthy(cond) != (nat == NAT_IF)) {
            none_box(stack_result());
            return;
        }
        body = stack_arg(1);
    }
    eval_branch_p(body);
}

// Datatypes whose values evaluate to themselves (no word, path, paren,
// callable or issue).
constexpr u64 type_bit(u32 t) { return u64(1) << t; }
constexpr u64 kNotSelf = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_GET_WORD) |
                         type_bit(TYPE_LIT_WORD) | type_bit(TYPE_PAREN) | type_bit(TYPE_PATH) |
                         type_bit(TYPE_GET_PATH) | type_bit(TYPE_SET_PATH) |
                         type_bit(TYPE_LIT_PATH) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
                         type_bit(TYPE_OP) | type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) |
                         type_bit(TYPE_ISSUE) | type_bit(TYPE_UNSET);
inline bool self_evaluating(u32 t) { return t < 64 && !((kNotSelf >> t) & 1); }

// The value of the word in cell c when it is an op!, else null; op_at
// reads the cell at walk index j (null past the end). Valid until
// something allocates.
__attribute__((always_inline)) inline const ValueCell* op_cell(const ValueCell* c) {
    if (c->type() != TYPE_WORD) return nullptr;
    ValueCell* v = word_value_if_available_inline(c);
    return v && v->type() == TYPE_OP ? v : nullptr;
}
inline const ValueCell* op_at(EvalWalk& w, u32 j) {
    if (j >= w.end) return nullptr;
    return op_cell(w.at(j));
}
// The value slot of the word at walk index j when its context has its
// values available, else null (also past the end and for any other cell).
// Valid until something allocates.
inline const ValueCell* word_slot_at(EvalWalk& w, u32 j) {
    if (j >= w.end) return nullptr;
    const ValueCell* c = w.at(j);
    return c->type() == TYPE_WORD ? word_value_if_available(c) : nullptr;
}

// Where a call ended: the next index and, when the look-ahead for an
// operator after it found a word there holding anything but an operator,
// that word's value slot (else null). The slot tells the walker what the
// word at i holds as long as nothing has run or allocated since.
struct CallEnd {
    u32 i;
    const ValueCell* next;
};

// What simple_value makes of a word's value val (read from its slot).
inline const ValueCell* simple_word_value(const ValueCell* val, const ValueCell** callable) {
    u32 vt = val->type();
    if (is_callable_type(vt)) {
        *callable = val;
        return nullptr;
    }
    if (vt == TYPE_UNSET || vt == TYPE_OP) return nullptr;
    return val;
}
// The value of a simple expression at i (a value that evaluates to itself,
// or a word holding a value that is not a function, an operator or
// unset!), or null; nothing is evaluated. When the cell is a word holding
// a callable, *callable receives its value (valid until something
// allocates).
// v is the cell itself, read from the walk since the last allocation.
inline const ValueCell* simple_value(ValueCell* v, const ValueCell** callable) {
    u32 t = v->type();
    if (t != TYPE_WORD) return self_evaluating(t) ? v : nullptr;
    return simple_word_value(word_value(v), callable);
}

// A word at i holding the callable fn, as eval_expr evaluates it with
// tracing off: the call, then the operators after it.
// word is the cell at i, read since the last allocation.
// The two routines behind it: for a native! or action!, for anything else.
// (One routine per result mode: the mode is known where the call is made.)
CallEnd native_word_call_pushed(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* word);
CallEnd native_word_call_statement(EvalWalk& w, u32 i, const ValueCell* fn,
                                   const ValueCell* word);
inline u32 native_word_call(EvalWalk& w, u32 i, const ValueCell* fn, bool push,
                            const ValueCell* word) {
    return push ? native_word_call_pushed(w, i, fn, word).i
                : native_word_call_statement(w, i, fn, word).i;
}
// The call of a word at i holding the callable fn as an operator's right
// operand (pushed; the operators after it are left alone).
u32 word_call_alone(EvalWalk& w, u32 i, const ValueCell* fn, const ValueCell* word);
u32 other_word_call(EvalWalk& w, u32 i, const ValueCell* fn, bool push, const ValueCell* word);
inline u32 eval_word_call(EvalWalk& w, u32 i, const ValueCell* fn, bool push,
                          const ValueCell* word) {
    u32 t = fn->type();
    if (t == TYPE_NATIVE || t == TYPE_ACTION) return native_word_call(w, i, fn, push, word);
    return other_word_call(w, i, fn, push, word);
}

// simple_value without errors: null also for a word whose context has no
// values available (the general path raises the error).
// (v: the cell, read from the walk since the last allocation.)
__attribute__((always_inline)) inline const ValueCell* simple_value_quiet(const ValueCell* v) {
    u32 t = v->type();
    if (self_evaluating(t)) return v;
    if (t != TYPE_WORD) return nullptr;
    const ValueCell* val = word_value_if_available(v);
    if (!val) return nullptr;
    u32 vt = val->type();
    if (is_callable_type(vt) || vt == TYPE_UNSET || vt == TYPE_OP) return nullptr;
    return val;
}

inline u32 eval_arg(EvalWalk& w, u32 i, bool no_infix) {
    if (ZAN_LIKELY(!g_interp.tracing)) {
        // Nothing here allocates before the look-ahead: one read of the
        // cells serves the value and the operator after it.
        ValueCell* c = w.at(i);
        const ValueCell* fn = nullptr;
        const ValueCell* val = simple_value(c, &fn);
        if (val) {
            ValueCell* entry_top = g_stack.top;
            stack_push(val);
            if (no_infix || i + 1 >= w.end) return i + 1;
            const ValueCell* op = op_cell(c + 1);
            if (!op) return i + 1;
            return eval_infix(w, i + 1, entry_top, true, op);
        }
        if (fn) {
            if (ZAN_LIKELY(!no_infix)) return eval_word_call(w, i, fn, true, c);
            return word_call_alone(w, i, fn, c);
        }
        // An operator's right operand in a paren: what eval_expr does with
        // it (nothing after it is looked at), without its call.
        if (no_infix && c->type() == TYPE_PAREN && ZAN_LIKELY(!g_interrupt_pending)) {
            eval_paren_p(c, true);
            return ZAN_UNLIKELY(g_throw_code) ? i : i + 1;
        }
    }
    return eval_expr(w, i, no_infix, true, false);
}

// ---- spec cache ---------------------------------------------------------------------------------------
// Fetch modes of a parameter entry (header bits 20-21 of its typeset!).
constexpr u32 FETCH_MODE_MASK = 0x300000u;
constexpr u32 FETCH_WORD = 0;
constexpr u32 FETCH_GET = 0x100000u;
constexpr u32 FETCH_LIT = 0x200000u;
constexpr u32 FETCH_RETURN = 0x300000u;

// The node of the callable's spec cache, built at the first call.
Node interp_parse_spec(const ValueCell* callable);

// The shape of a spec cache, kept in the third data word of the block!
// cell that holds the cache (a word that a block! value does not use
// otherwise). When SPEC_SHORT is set, the cache starts with
// SPEC_PARAMS plain word parameters and a call that names no refinement
// takes the short path: for a native! or action!, SPEC_NREFS refinements
// (all absent); for a function!, nothing after the parameters but, with
// SPEC_LOCALS, the /local integer (SPEC_LOCAL_COUNT, the locals plus one).
// 0 (also in a cache built elsewhere) sends every call the long way.
constexpr u32 SPEC_SHORT = 1u << 31;
constexpr u32 SPEC_LOCALS = 1u << 30;
inline u32 spec_params(u32 digest) { return digest & 0xFFu; }
inline u32 spec_local_count(u32 digest) { return (digest >> 8) & 0xFFFFu; }
inline u32 spec_nrefs(u32 digest) { return (digest >> 24) & 0x3Fu; }
// The spec's word of parameter entry k of the cache (a word! cell), for
// error reports; none when not found.
void spec_entry_word(const ValueCell* callable, u32 k, ValueCell* out);
// Whether the callable's datatype takes refinements as integers (native!,
// action!, an op! made from one).
bool callable_native_like(const ValueCell* callable);

// ---- natives and actions ---------------------------------------------------------------------------------
extern NativeEntry g_natives[NATIVES_TABLE_SIZE];
extern u32 g_natives_counter;
// Calls action number n's table entry with the refinement positions.
void call_action_entry(u32 n, const i32* refs, u32 count);

// ---- tracing ------------------------------------------------------------------------------------------------
enum TraceEvent : u32 {
    TRACE_INIT = 1, TRACE_END = 2, TRACE_PROLOG = 4, TRACE_EPILOG = 8, TRACE_ENTER = 16,
    TRACE_EXIT = 32, TRACE_OPEN = 64, TRACE_RETURN = 128, TRACE_FETCH = 256,
    TRACE_PUSH = 512, TRACE_SET = 1024, TRACE_CALL = 2048, TRACE_ERROR = 4096,
    TRACE_THROW = 8192, TRACE_CATCH = 16384, TRACE_EXPR = 32768,
};
constexpr u32 TRACE_DEFAULT_MASK = 0x1FFFFu;
// Sends one event to the tracer (when the mask wants it). code: the block
// in hand or null; offset: the position's cell index within it, -1 when
// none; ref and value may be null.
void interp_trace_event(u32 event, const ValueCell* code, i32 offset, const ValueCell* ref,
                        const ValueCell* value);
// The offset of walk position i for an event (-1 outside the block).
inline i32 trace_offset(EvalWalk& w, u32 i) {
    u32 head = series_head(&w.block());
    return (i >= head && i < w.end) ? static_cast<i32>(i - head) : -1;
}
// The event mask of a tracer function.
u32 interp_trace_mask(const ValueCell* tracer);
// Opening and closing a do/trace run; open answers whether a run was opened.
bool interp_trace_open(const ValueCell* tracer);
void interp_trace_close();
// Installs the error tracing service of the datatypes (fire reports errors).
void interp_trace_install_services();

// Saves the tracing flag and puts it back, unless traced code switched
// tracing meanwhile: then the last switch holds.
struct TracingGuard {
    bool saved;
    u32 switches;
    TracingGuard() : saved(g_interp.tracing), switches(g_interp.trace_switches) {}
    ~TracingGuard() {
        g_interp.tracing = switches == g_interp.trace_switches
                               ? saved
                               : g_interp.trace_switched_on && g_interp.trace_run;
    }
};

// ---- loop steppers ------------------------------------------------------------------------------------------
// One round's step of the loop natives, on the loop's cells at the top of
// the data stack (foreach: the series below its word or words; repeat: the
// counter on top).
// Assigns the next element to the word and advances the series; false at
// the tail.
bool foreach_next();
// The same with a block of n words (a map gives key/value pairs).
bool foreach_next_block(i32 n);
// After a remove-each body: when its result (the frame's first cell) is
// true, removes the n elements just visited.
void remove_each_step(i32 n);
// Whether a loop over the series has an element left (never for a map).
bool loop_series_check(const ValueCell* series);
// The steps of a compiled forall, repeat and loop: code compiled ahead of
// time would call these (the system has no such compiler; the walker's
// loop natives do the same work inline).
// Whether forall is done: the word's series (first advanced by one with
// advance) has reached its tail.
bool forall_loop_test(ValueCell* word, bool advance);
// Give the word the series saved below it (top - 2), and copy the word's
// final position into that saved cell.
void forall_next();
void forall_end();
void repeat_next();
// A float! count becomes an integer! in place; any other value stays.
void float_to_integer_arg(ValueCell* cell);
// float_to_integer_arg on the frame's first argument.
void loop_count_arg();

}  // namespace zan

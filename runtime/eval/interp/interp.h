// The interpreter: a direct walker over the cells of blocks. One routine
// evaluates one expression at a position and returns the position after it;
// a block is evaluated by calling it until the tail. Calls of native!,
// action!, op!, function! and routine! values follow the stack discipline of
// the whole system: a call frame is marked, the arguments are pushed from the
// frame's argument base, the callee writes its result into the first cell of
// the frame, and the frame is popped.
//
// Non-local exits. break, continue, return, exit and throw are frequent, so
// they do not travel as C++ exceptions inside the interpreter: the native
// unwinds the stacks (stack_throw_*_prepare) and leaves the throw code
// pending in g_throw_code; every evaluation routine returns at once when it
// sees a pending code, and the routine that evaluates under a handler (a
// loop, a function body, catch, try, do) examines the code afterwards,
// consumes the codes that are its business and passes the others on.
// Errors travel as ThrowSignal exceptions (fire); handlers accept both forms.
//
// The entries of this header are for code outside the interpreter (natives
// of other groups, datatypes, the console): they never return with a code
// pending but raise it as a ThrowSignal, so their callers need not know the
// protocol. The interpreter's own natives use the pending forms of
// interp_internal.h.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"

namespace zan {

// ---- state -------------------------------------------------------------------------------
struct InterpState {
    // The evaluation-position cell: the block and the index of the
    // expression being evaluated (read for the near field of errors);
    // unset! when nothing is evaluated.
    ValueCell position;
    // The tracer cell (at the tail of the root block): the tracer function
    // during a trace run, none otherwise.
    ValueCell* tracer;
    bool tracing;       // events are sent
    bool trace_run;     // a do/trace run is open
    u32 trace_mask;     // events the tracer wants (17 bits)
    u32 trace_extra;    // cells of the tracer's spec beyond its six arguments
    // Switches of the tracing flag asked for by traced code (trace true or
    // false): their count, and the state of the last one.
    u32 trace_switches;
    bool trace_switched_on;
};
extern InterpState g_interp;

// Allocates the tracer cell, sets the position cell to unset!, registers
// the interpreter's collector roots and fills the datatypes' interpreter
// hooks. Runs once after the boot image is decoded (again for a fresh
// runtime in tests).
void interp_init();

// Switches tracing on or off for the rest of the current trace run (no
// effect outside one). Frames that save and restore the tracing flag adopt
// the switch when they end, so it lasts until the next switch or the end of
// the run.
void interp_trace_switch(bool on);

// A native that stopped waiting because of a Ctrl-C takes it here, as the
// evaluator would at its next step (the console halts the command, a
// script ends); a throw that results is raised. Nothing happens when no
// interruption is pending.
void interp_take_interrupt();

// ---- evaluation (raising forms) -------------------------------------------------------------
// Evaluates every expression of a block! or paren! (from its index); the
// last value is the result; an empty block gives unset!. With chain the
// result is copied into the caller's result cell and the data top is its
// base + 1; without, the result is the top value of the data stack.
void interp_eval_block(const ValueCell* block, bool chain);
// Evaluates the expression at the block's index inside a native frame named
// <body> and returns the index after it; the value is pushed (push) or
// stored in the result cell. At the tail the value is unset! and the index
// is returned unchanged. For code outside the evaluator that steps through a
// block (code compiled ahead of time); the natives that do so use eval_next
// (interp_internal.h), so nothing calls this yet.
u32 interp_eval_next_at(const ValueCell* block, bool push);
// Runs a function! whose call frame the caller has marked and whose
// arguments (with refinements and locals) it has pushed; the result is left
// in the frame's result cell. ctx: the context handed to a compiled entry
// (0: none); name: the frame's word; trace_filter: 0 from the interpreter,
// else the callback kind bit (see interp_hooks.h).
void interp_call_function(const ValueCell* fn, Node ctx, const ValueCell* name,
                          u32 trace_filter);
// Calls a callable with the values of an argument block (from its index),
// in result mode, as the apply native does. path (or null): the path whose
// elements after element path_elem are refinements. name: the frame's
// word. mode: bit 0 missing trailing arguments become none (and every
// argument of the spec, refinement flags included, is given in order), bit
// 1 refinements are given as refinement! values followed by their flag and
// arguments, bit 2 (with bit 1) the arguments of a refinement whose flag is
// false are skipped instead of evaluated.
void interp_apply(const ValueCell* callable, const ValueCell* args, const ValueCell* path,
                  u32 path_elem, const ValueCell* name, u32 mode);
// Evaluates a path! (or get-path!, set-path!) value as an expression of its
// own; get: nothing is called; set: the value assigned is set_value.
// case_sensitive selects case-sensitive selection (get/case). The result is
// stored in the result cell.
void interp_eval_path_value(const ValueCell* path, bool get, const ValueCell* set_value,
                            bool case_sensitive);

// ---- non-local exits -------------------------------------------------------------------------
// Raises a pending code (if any) as a ThrowSignal.
inline void interp_raise_pending() {
    if (g_throw_code) raise_code(g_throw_code);
}

// ---- compiled functions ----------------------------------------------------------------------
// A compiled function's entry: its arguments are its context's values (the
// argument frame); ctx is the context of the object it was called for, 0
// for none. It leaves its result in the result cell. A non-local exit up to
// break may be left pending (see interp_internal.h) or raised; the caller
// takes either.
using CompiledFunctionEntry = void (*)(Node ctx);
// The table that the integer in a compiled function's entry cell indexes
// (from 1). Installed by the registration of compiled code.
void interp_set_compiled_table(const CompiledFunctionEntry* table, u32 count);

// Library code: the blocks and parens of the executable bodies of the
// library functions (sealed at the end of start-up) carry this series flag.
// A path evaluated from such a block runs inside a native frame named by
// g_library_path_words[0] (eval-path), a set-path inside one named by
// g_library_path_words[1] (eval-set-path), as compiled code does; errors
// raised there name that frame. Null words (before start-up): no frame.
constexpr u32 SERIES_LIBRARY_CODE = 1u << 25;
extern const ValueCell* g_library_path_words[2];

// ---- the machine stack ---------------------------------------------------------------------------
// Runs fn on a thread whose machine stack is large enough for the deepest
// nesting the data and call stacks allow, and waits for it; a C++ exception
// that fn lets out is rethrown in the caller. The thread is made once and
// reused; calls made while already on it run directly.
void interp_run_on_big_stack(void (*fn)(void*), void* arg);
template <class F>
void interp_run_on_big_stack(F&& f) {
    interp_run_on_big_stack([](void* p) { (*static_cast<F*>(p))(); },
                            static_cast<void*>(&f));
}

}  // namespace zan

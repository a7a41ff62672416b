// The data stack (value cells) and the call stack (CallFrame records) that
// every call runs on, with the unwinding of non-local exits.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"

namespace zan {

constexpr u32 DATA_STACK_CELLS = 20000;
constexpr u32 CALL_STACK_CELLS = 15000;  // 240000 bytes: 12000 records
// Room past each limit in which a stack overflow builds and raises its
// error (the buffers are that much longer than the counts above).
constexpr u32 STACK_RESERVE_CELLS = 64;
constexpr u32 STACK_RESERVE_FRAMES = 16;

// Frame kinds (header bits 24-27) and header flags.
enum FrameKind : u32 {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};
// The low 16 bits of the symbol of the word that opened the frame.
constexpr u32 FRAME_SYMBOL_SHIFT = 8;
constexpr u32 FRAME_SYMBOL_MASK = 0xFFFFu << FRAME_SYMBOL_SHIFT;
constexpr u32 FRAME_KIND_SHIFT = 24;
constexpr u32 FRAME_KIND_MASK = 0xFu << FRAME_KIND_SHIFT;
constexpr u32 FRAME_BODY = 1u << 28;
constexpr u32 FRAME_INTERPRETED = 1u << 31;

struct CallFrame {
    u32 header;        // symbol id << 8 | kind << 24 | flags
    HeapRef saved_base;
    Node name_ctx;
    Node func_ctx;
    HeapRef saved_values;

    u32 kind() const { return (header & FRAME_KIND_MASK) >> FRAME_KIND_SHIFT; }
    u32 symbol() const { return (header & FRAME_SYMBOL_MASK) >> FRAME_SYMBOL_SHIFT; }
};
static_assert(sizeof(CallFrame) == 20, "a call frame is five words");

struct StackState {
    ValueCell* bottom;
    ValueCell* top;
    ValueCell* limit;  // the reserve's start, or its end while it is open
    ValueCell* base;
    CallFrame* cbottom;
    CallFrame* ctop;
    CallFrame* climit;  // as limit
    CallFrame* throw_frame;  // null when unset
    u32 sym_body;            // symbols of <body> and <anon>
    u32 sym_anon;
    Node data_node;
    Node call_node;
};
extern StackState g_stack;

// Context cells (the first cell of a context node's buffer).
inline ValueCell* context_cell(Node ctx) { return node_buffer(ctx)->head_cells(); }

// Allocates the two stack blocks (fixed buffers, so the registers may be
// plain pointers) and sets the registers. sym_body/sym_anon may be 0 until
// the symbol table exists (stack_set_reserved_symbols).
void stack_init();
void stack_set_reserved_symbols(u32 sym_body, u32 sym_anon);

// ---- the room evaluation may use ------------------------------------------------------
// Both stacks keep their full size, but evaluation may be held to a part of
// each: 1/divisor of the data-stack cells and of the call frames, so that
// "stack overflow" comes at 1/divisor of the depth. The divisor is 1 unless
// the environment variable ZAN_STACK_DIVISOR gives another (2 to 16; other
// values are ignored); the test runs of the sanitizer builds set it, since
// there every level of a deep recursion costs the machine far more than in
// a plain build. stack_init applies it; the rest is for tests.
constexpr u32 STACK_DIVISOR_MAX = 16;
u32 stack_divisor_from_env();
void stack_set_divisor(u32 divisor);

// ---- marking frames --------------------------------------------------------
// A call marks a frame on entry: the frame records the calling word (for
// error reports and the stack list), saves the data-stack base, and the new
// base is the current top, so stack_arg(0) is the result slot and the
// arguments follow it.
void stack_mark(const ValueCell* word, u32 header_bits);
// A function's frame also saves where its context's values were, so that a
// recursive call's values can be put back when it returns.
void stack_mark_func(const ValueCell* word, Node func_ctx);
void stack_mark_native(const ValueCell* word);
void stack_mark_try(const ValueCell* word);
void stack_mark_try_all(const ValueCell* word);
void stack_mark_catch(const ValueCell* word);
void stack_mark_loop(const ValueCell* word);
// A native's frame with FRAME_INTERPRETED set: a call made by the
// interpreter itself rather than by native code.
void stack_mark_native_flagged(const ValueCell* word);
// The frame of a function body that `return` and `exit` land on; the
// function's context reads its values from the data stack at the current
// base, where the arguments lie. Compiled function bodies would open it on
// entry; the walker opens its function frames with stack_mark_func.
void stack_mark_func_body(const ValueCell* word, Node func_ctx);
// Marks the top frame FRAME_INTERPRETED (made by the interpreter itself).
void stack_set_top_interpreted();
// FRAME_BODY marks the frame `return` and `exit` unwind to.
// Makes the frame below the top one a body frame; false when there is none
// or it was one already (so the caller knows whether to clear it again).
bool stack_set_body_flag_below();
void stack_clear_body_flag(u32* header);

// ---- unwinding one frame -----------------------------------------------------
// Each pops the top frame and puts the caller's base back; the forms differ
// in what stays on the data stack:
// stack_unwind: the callee's result stays, as the caller's top value.
void stack_unwind();
// stack_unwind_last: ... and is also copied into the caller's result slot.
void stack_unwind_last();
// The *_func forms first put the function's context values back.
void stack_unwind_func();
void stack_unwind_func_last();
// stack_unwind_reset: the data stack is cut back to the caller's base and
// the frame's cells are dropped. Compiled code would call it to leave a
// frame whose result it does not keep; the walker uses the forms above.
void stack_unwind_reset();

// ---- data stack primitives -----------------------------------------------------
// Raises stack-overflow. The error is built in the reserve past the limits,
// above every live cell and frame: the calls that the raise unwinds keep
// what they hold on the stacks (their callables, their arguments) intact
// until then. The reserve closes again as the raise leaves.
[[noreturn]] void stack_overflow();
// True while a stack overflow is being raised (its reserve is in use): no
// language code may run then.
bool stack_reserve_open();

// The reserved cell starts as unset!: the collector scans every cell below
// the top, and stale contents left there by an earlier frame could name
// nodes that are long gone.
inline ValueCell* stack_push_cell() {
    ValueCell* c = g_stack.top++;
    if (g_stack.top >= g_stack.limit) stack_overflow();
    c->header = TYPE_UNSET;
    return c;
}
// A cell's four words as one 16-byte vector. Unlike the intrinsics' type,
// which may alias anything, a store of it is known to change only 32-bit
// words, so the compiler keeps the heap base and the stack registers it
// has loaded across the copy instead of reading them again.
typedef u32 CellBits __attribute__((vector_size(16), aligned(4)));
// Copies a whole cell with one 16-byte load and store (left to itself the
// compiler may gather the four words one by one).
inline void stack_copy_cell(ValueCell* dst, const ValueCell* src) {
    *reinterpret_cast<CellBits*>(dst) = *reinterpret_cast<const CellBits*>(src);
}
inline ValueCell* stack_push(const ValueCell* v) {
    ValueCell* c = g_stack.top;
    stack_copy_cell(c, v);
    if (++g_stack.top >= g_stack.limit) stack_overflow();
    return c;
}
inline void stack_pop(u32 n) {
    g_stack.top = (g_stack.top - g_stack.bottom) < static_cast<i64>(n) ? g_stack.bottom
                                                                         : g_stack.top - n;
}
inline void stack_reset() { g_stack.top = g_stack.base; }
// Drops everything above the result slot, which stays.
inline void stack_keep() { g_stack.top = g_stack.base + 1; }
inline ValueCell* stack_result() { return g_stack.base; }
inline ValueCell* stack_arg(u32 i) { return g_stack.base + i; }
inline void stack_set_last(const ValueCell* v) { *g_stack.base = *v; }
// The result slot takes v and everything above it is dropped (v may lie
// there, so it is copied first).
inline void stack_set_last_reset(const ValueCell* v) {
    CellBits tmp = *reinterpret_cast<const CellBits*>(v);
    g_stack.top = g_stack.base + 1;
    *reinterpret_cast<CellBits*>(g_stack.base) = tmp;
}
// After a try's block: an error! left on top becomes the result.
void stack_adjust_try_result();
// The top value, or the bottom cell of an empty stack.
ValueCell* stack_top_value();
inline CallFrame* stack_top_frame() { return g_stack.ctop - 1; }
// Code compiled ahead of time restores the call-stack top with it; the
// walker pops frames through the unwind forms, so only its tests call it.
inline void stack_set_ctop(CallFrame* f) { g_stack.ctop = f; }

// ---- non-local exits -----------------------------------------------------------
// The *_prepare forms unwind the stacks and return the throw code without
// raising it, so an evaluator can pass frequent exits back by return value;
// the plain forms raise the code (a ThrowSignal). A refused exit raises its
// throw error with the registers as they were.
u32 stack_throw_break_prepare(bool with_value, bool is_continue);
u32 stack_throw_exit_prepare(bool with_value, bool from_top);
u32 stack_throw_value_prepare(u32 code);
// The raising forms are the entries compiled code calls for break,
// continue, exit and return; the natives use the prepare forms above.
[[noreturn]] void stack_throw_break(bool with_value, bool is_continue);
[[noreturn]] void stack_throw_exit(bool with_value, bool from_top);
[[noreturn]] void stack_throw_error(ValueCell* error);

// Seams filled by the datatype layer: completing an error's where/stack
// fields before it unwinds, and printing an error that nothing caught.
struct StackErrorHooks {
    void (*prepare_error)(ValueCell* error) = nullptr;
    void (*print_uncaught)(ValueCell* error) = nullptr;
};
extern StackErrorHooks g_stack_error_hooks;
// Exit status of an uncaught error.
constexpr int EXIT_UNCAUGHT_ERROR = -2;

}  // namespace zan

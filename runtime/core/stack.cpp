#include "runtime/core/stack.h"
#include "runtime/core/layout.h"

#include <cstdlib>

#include "runtime/core/cycles.h"

namespace zan {

StackState g_stack{};
StackErrorHooks g_stack_error_hooks{};

namespace {
// The limits with the reserve closed and open.
ValueCell* g_limit_closed = nullptr;
ValueCell* g_limit_open = nullptr;
CallFrame* g_climit_closed = nullptr;
CallFrame* g_climit_open = nullptr;

constexpr u32 RESERVE_FRAME_CELLS = (STACK_RESERVE_FRAMES * sizeof(CallFrame) + 15) / 16;

void set_reserve(bool open) {
    g_stack.limit = open ? g_limit_open : g_limit_closed;
    g_stack.climit = open ? g_climit_open : g_climit_closed;
}
}  // namespace

void stack_init() {
    g_stack = StackState{};
    g_stack.data_node = alloc_series_fixed(DATA_STACK_CELLS + STACK_RESERVE_CELLS, 16, 0);
    g_stack.call_node = alloc_series_fixed(CALL_STACK_CELLS + RESERVE_FRAME_CELLS, 16, 0);
    SeriesBuffer* d = node_buffer(g_stack.data_node);
    g_stack.bottom = g_stack.top = g_stack.base = d->head_cells();
    SeriesBuffer* c = node_buffer(g_stack.call_node);
    g_stack.cbottom = g_stack.ctop = reinterpret_cast<CallFrame*>(c->head_ptr());
    g_stack.throw_frame = nullptr;
    stack_set_divisor(stack_divisor_from_env());
}

namespace {
u32 g_divisor = 1;
}

u32 stack_divisor_from_env() {
    const char* text = std::getenv("ZAN_STACK_DIVISOR");
    if (!text || !*text) return 1;
    char* end = nullptr;
    unsigned long n = std::strtoul(text, &end, 10);
    return *end == '\0' && n >= 2 && n <= STACK_DIVISOR_MAX ? static_cast<u32>(n) : 1;
}

void stack_set_divisor(u32 divisor) {
    if (divisor < 1 || divisor > STACK_DIVISOR_MAX) divisor = 1;
    g_divisor = divisor;
    // The reserve lies just past the part in use, inside the buffers.
    g_limit_closed = g_stack.bottom + DATA_STACK_CELLS / divisor;
    g_limit_open = g_limit_closed + STACK_RESERVE_CELLS;
    g_climit_closed = g_stack.cbottom + CALL_STACK_CELLS * 16 / sizeof(CallFrame) / divisor;
    g_climit_open = g_climit_closed + STACK_RESERVE_FRAMES;
    set_reserve(false);
}

void stack_set_reserved_symbols(u32 sym_body, u32 sym_anon) {
    g_stack.sym_body = sym_body;
    g_stack.sym_anon = sym_anon;
}

bool stack_reserve_open() { return g_stack.limit == g_limit_open; }

void stack_overflow() {
    // The raise needs only a few cells and no frame: running out of the
    // reserve as well is a fault of the runtime.
    if (stack_reserve_open()) runtime_fatal(101, "stack overflow while raising a stack overflow");
    // Closed on every way out, once the raise has unwound the stacks.
    struct Reserve {
        Reserve() { set_reserve(true); }
        ~Reserve() { set_reserve(false); }
    } reserve;
    cycles_reset();
    fire(Err::internal_stack_overflow);
}

// ---- marking -------------------------------------------------------------------

void stack_mark(const ValueCell* word, u32 bits) {
    if (g_stack.ctop >= g_stack.climit) stack_overflow();
    CallFrame* f = g_stack.ctop++;
    f->header = (word ? (word_symbol(word) << FRAME_SYMBOL_SHIFT) & FRAME_SYMBOL_MASK : 0) | bits;
    f->saved_base = heap_off(g_stack.base);
    f->name_ctx = word ? word_binding(word) : 0;
    f->func_ctx = 0;
    f->saved_values = 0;
    g_stack.base = g_stack.top;
}

static inline u32 kind_bits(u32 k) { return k << FRAME_KIND_SHIFT; }

void stack_mark_func(const ValueCell* word, Node ctx) {
    stack_mark(word, kind_bits(FRAME_FUNCTION));
    CallFrame* f = g_stack.ctop - 1;
    f->func_ctx = ctx;
    if (ctx) f->saved_values = context_values(context_cell(ctx));
}
void stack_mark_native(const ValueCell* w) { stack_mark(w, kind_bits(FRAME_NATIVE)); }
void stack_mark_try(const ValueCell* w) { stack_mark(w, kind_bits(FRAME_TRY)); }
void stack_mark_try_all(const ValueCell* w) { stack_mark(w, kind_bits(FRAME_TRY_ALL)); }
void stack_mark_catch(const ValueCell* w) { stack_mark(w, kind_bits(FRAME_CATCH)); }
void stack_mark_loop(const ValueCell* w) { stack_mark(w, kind_bits(FRAME_LOOP)); }
void stack_mark_native_flagged(const ValueCell* w) {
    stack_mark(w, kind_bits(FRAME_NATIVE) | FRAME_INTERPRETED);
}
void stack_mark_func_body(const ValueCell* word, Node ctx) {
    if (ctx) set_context_values(context_cell(ctx), heap_off(g_stack.base));
    stack_mark(word, kind_bits(FRAME_NATIVE) | FRAME_BODY);
}

void stack_set_top_interpreted() { (g_stack.ctop - 1)->header |= FRAME_INTERPRETED; }
bool stack_set_body_flag_below() {
    if (g_stack.ctop - g_stack.cbottom < 2) return false;
    CallFrame* f = g_stack.ctop - 2;
    if (f->header & FRAME_BODY) return false;
    f->header |= FRAME_BODY;
    return true;
}
void stack_clear_body_flag(u32* header) { *header &= ~FRAME_BODY; }

// ---- unwinding -----------------------------------------------------------------

static inline void restore_context(const CallFrame* f) {
    if (f->func_ctx) set_context_values(context_cell(f->func_ctx), f->saved_values);
}
static inline ValueCell* cell_at(HeapRef r) { return hptr<ValueCell>(r); }

void stack_unwind() {
    CallFrame* f = --g_stack.ctop;
    g_stack.top = g_stack.base + 1;
    g_stack.base = cell_at(f->saved_base);
}
void stack_unwind_last() {
    CallFrame* f = --g_stack.ctop;
    ValueCell* res = g_stack.base;
    g_stack.top = res + 1;
    g_stack.base = cell_at(f->saved_base);
    *g_stack.base = *res;
}
void stack_unwind_func() {
    restore_context(g_stack.ctop - 1);
    stack_unwind();
}
void stack_unwind_func_last() {
    restore_context(g_stack.ctop - 1);
    stack_unwind_last();
}
void stack_unwind_reset() {
    CallFrame* f = --g_stack.ctop;
    g_stack.base = g_stack.top = cell_at(f->saved_base);
}

// ---- primitives ----------------------------------------------------------------

void stack_adjust_try_result() {
    ValueCell* last = stack_top_value();
    if (last->type() == TYPE_ERROR) *g_stack.base = *last;
    g_stack.top = g_stack.base + 1;
}

ValueCell* stack_top_value() {
    return g_stack.top > g_stack.bottom ? g_stack.top - 1 : g_stack.bottom;
}

// ---- non-local exits ---------------------------------------------------------------

namespace {
struct SavedRegs {
    ValueCell* base;
    ValueCell* top;
    CallFrame* ctop;
    SavedRegs() : base(g_stack.base), top(g_stack.top), ctop(g_stack.ctop) {}
    void restore() const {
        g_stack.base = base;
        g_stack.top = top;
        g_stack.ctop = ctop;
    }
};

// The nearest record below the top one (the exiting native's own) that
// answers `target`, or null when a try/all record or the bottom comes
// first. Nothing is changed: a refused exit must leave every function's
// context as it was, since the try that catches the refusal goes on in it.
template <typename Target>
CallFrame* find_exit_target(Target target, bool skip_own) {
    CallFrame* r = g_stack.ctop;
    if (skip_own && r > g_stack.cbottom) r--;
    for (; r > g_stack.cbottom; r--) {
        CallFrame* f = r - 1;
        if (f->kind() == FRAME_TRY_ALL) return nullptr;
        if (target(f)) return f;
    }
    return nullptr;
}

// Pops the top record (the exiting native's own), restoring its context.
void pop_own_record() {
    if (g_stack.ctop == g_stack.cbottom) return;
    CallFrame* f = --g_stack.ctop;
    if (f->kind() == FRAME_FUNCTION) restore_context(f);
    g_stack.base = cell_at(f->saved_base);
}
}  // namespace

u32 stack_throw_break_prepare(bool with_value, bool is_continue) {
    SavedRegs saved;
    ValueCell value = *g_stack.base;
    Err refusal = is_continue ? Err::throw_continue : Err::throw_break;
    if (!find_exit_target([](CallFrame* f) { return f->kind() == FRAME_LOOP; }, true)) {
        saved.restore();
        fire(refusal);
    }
    pop_own_record();
    while (g_stack.ctop > g_stack.cbottom) {
        CallFrame* r = g_stack.ctop - 1;
        u32 k = r->kind();
        if (k == FRAME_TRY_ALL) break;
        if (k == FRAME_LOOP) {
            g_stack.top = g_stack.base;
            if (with_value && !is_continue) *g_stack.base = value;
            else cell_init(g_stack.base, TYPE_UNSET);
            return is_continue ? THROW_CONTINUE : THROW_BREAK;
        }
        if (k == FRAME_FUNCTION) restore_context(r);
        g_stack.base = cell_at(r->saved_base);
        g_stack.ctop--;
    }
    saved.restore();
    fire(refusal);
}

u32 stack_throw_exit_prepare(bool with_value, bool from_top) {
    SavedRegs saved;
    ValueCell value = *g_stack.base;
    bool skip_own = !from_top && g_stack.ctop > g_stack.cbottom;
    if ((skip_own && (g_stack.ctop - 1)->kind() == FRAME_TRY_ALL) ||
        !find_exit_target([](CallFrame* f) { return (f->header & FRAME_BODY) != 0; }, skip_own)) {
        saved.restore();
        fire(Err::throw_return);
    }
    if (skip_own) pop_own_record();
    while (g_stack.ctop > g_stack.cbottom) {
        CallFrame* r = g_stack.ctop - 1;
        if (r->kind() == FRAME_TRY_ALL) break;
        if (r->header & FRAME_BODY) {
            g_stack.top = g_stack.base;
            if (with_value) {
                *g_stack.base = value;
                return THROW_RETURN;
            }
            cell_init(g_stack.base, TYPE_UNSET);
            return THROW_EXIT;
        }
        if (r->kind() == FRAME_FUNCTION) restore_context(r);
        g_stack.base = cell_at(r->saved_base);
        g_stack.ctop--;
    }
    saved.restore();
    fire(Err::throw_return);
}

u32 stack_throw_value_prepare(u32 code) {
    SavedRegs saved;
    ValueCell value = g_stack.base[0];
    ValueCell name = g_stack.top - g_stack.base > 1 ? g_stack.base[1] : ValueCell{TYPE_NONE, 0, 0, 0};
    if (!find_exit_target([](CallFrame* f) { return f->kind() == FRAME_CATCH; }, true)) {
        saved.restore();
        fire(Err::throw_throw, &value);
    }
    pop_own_record();
    if (!g_stack.throw_frame) g_stack.throw_frame = g_stack.ctop;
    while (g_stack.ctop > g_stack.cbottom) {
        CallFrame* r = g_stack.ctop - 1;
        u32 k = r->kind();
        if (k == FRAME_TRY_ALL) break;
        if (k == FRAME_CATCH) {
            g_stack.top = g_stack.base;
            g_stack.top[0] = value;
            g_stack.top[1] = name;
            g_stack.top += 2;
            // The frames above the catch are gone: a later error must not
            // take its calling word from the one the throw started in.
            g_stack.throw_frame = nullptr;
            return code;
        }
        if (k == FRAME_FUNCTION) restore_context(r);
        g_stack.base = cell_at(r->saved_base);
        g_stack.ctop--;
    }
    saved.restore();
    g_stack.throw_frame = nullptr;
    fire(Err::throw_throw, &value);
}

void stack_throw_break(bool with_value, bool is_continue) {
    raise_code(stack_throw_break_prepare(with_value, is_continue));
}
void stack_throw_exit(bool with_value, bool from_top) {
    raise_code(stack_throw_exit_prepare(with_value, from_top));
}

void stack_throw_error(ValueCell* error) {
    ValueCell err = *error;
    if (g_stack.ctop > g_stack.cbottom) {
        if (g_stack_error_hooks.prepare_error) g_stack_error_hooks.prepare_error(&err);
        // Pop down to the nearest try or try/all record, then that record too.
        while (g_stack.ctop > g_stack.cbottom) {
            CallFrame* r = g_stack.ctop - 1;
            u32 k = r->kind();
            if (k == FRAME_FUNCTION) restore_context(r);
            ValueCell* own_base = g_stack.base;
            g_stack.base = cell_at(r->saved_base);
            g_stack.ctop--;
            if (k == FRAME_TRY || k == FRAME_TRY_ALL) {
                g_stack.top = own_base;
                *g_stack.top++ = err;
                raise_code(THROW_ERROR);
            }
        }
    }
    // Nothing catches it: the error is printed and the process ends.
    g_stack.base = g_stack.top = g_stack.bottom;
    *g_stack.top++ = err;
    if (g_stack_error_hooks.print_uncaught) g_stack_error_hooks.print_uncaught(g_stack.bottom);
    std::exit(EXIT_UNCAUGHT_ERROR);
}

}  // namespace zan

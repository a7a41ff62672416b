// Interpreter tracing: the events sent to the tracer function of a do/trace
// run, its event mask, and the opening and closing of a run.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

namespace {

const ValueCell* event_word(u32 event) {
    switch (event) {
        case TRACE_INIT: return g_words.n.init;
        case TRACE_END: return g_words.end;
        case TRACE_PROLOG: return g_words.n.prolog;
        case TRACE_EPILOG: return g_words.n.epilog;
        case TRACE_ENTER: return g_words.n.enter;
        case TRACE_EXIT: return g_words.n.exit;
        case TRACE_OPEN: return g_words.n.open;
        case TRACE_RETURN: return g_words.n.return_;
        case TRACE_FETCH: return g_words.n.fetch;
        case TRACE_PUSH: return g_words.n.push;
        case TRACE_SET: return g_words.set;
        case TRACE_CALL: return g_words.n.call;
        case TRACE_ERROR: return g_words.n.error;
        case TRACE_THROW: return g_words.n.throw_;
        case TRACE_CATCH: return g_words.n.catch_;
        case TRACE_EXPR: return g_words.n.expr;
        default: return nullptr;
    }
}

constexpr u32 kEvents[] = {TRACE_INIT,   TRACE_END,   TRACE_PROLOG, TRACE_EPILOG,
                           TRACE_ENTER,  TRACE_EXIT,  TRACE_OPEN,   TRACE_RETURN,
                           TRACE_FETCH,  TRACE_PUSH,  TRACE_SET,    TRACE_CALL,
                           TRACE_ERROR,  TRACE_THROW, TRACE_CATCH,  TRACE_EXPR};

bool ref_wanted(u32 event) {
    return event == TRACE_SET || event == TRACE_EPILOG || event == TRACE_PROLOG ||
           event == TRACE_RETURN || event == TRACE_CALL;
}

bool service_trace_enabled() { return g_interp.tracing; }
void service_trace_event(u32 code, ValueCell* value) {
    interp_trace_event(code, nullptr, -1, nullptr, value);
}

}  // namespace

void interp_trace_event(u32 event, const ValueCell* code, i32 offset, const ValueCell* ref,
                        const ValueCell* value) {
    ValueCell* tracer_cell = g_interp.tracer;
    if (!tracer_cell || tracer_cell->type() != TYPE_FUNCTION) return;
    if (!(g_interp.trace_mask & event)) return;
    const ValueCell* word = event_word(event);
    if (!word) return;
    // Copies first: the arguments may be cells near the top of the stack.
    ValueCell code_v, ref_v, value_v;
    if (code && (code->type() == TYPE_BLOCK || code->type() == TYPE_PAREN ||
                 (code->type() >= TYPE_PATH && code->type() <= TYPE_GET_PATH)))
        code_v = *code;
    else
        none_box(&code_v);
    if (code_v.type() == TYPE_NONE) offset = -1;
    if (ref && ref_wanted(event)) ref_v = *ref;
    else none_box(&ref_v);
    if (value && value->type() != 0) value_v = *value;
    else none_box(&value_v);

    ValueCell* saved_top = g_stack.top;
    ValueCell* saved_base = g_stack.base;
    CallFrame* saved_ctop = g_stack.ctop;
    i32 base_index = static_cast<i32>(g_stack.base - g_stack.bottom);
    i32 top_index = static_cast<i32>(g_stack.top - g_stack.bottom);
    g_stack.top++;
    HeldCell tracer(*tracer_cell);
    ValueCell* extra = node_buffer(callable_more(&tracer.v))->head_cells() + MORE_EXTRA;
    Node ctx = extra->type() == TYPE_INTEGER ? static_cast<Node>(integer_get(extra)) : g_global_ctx;
    stack_mark_func(g_words.n.interp_callback, context_of(&tracer.v));
    stack_push(word);
    stack_push(&code_v);
    integer_box(stack_push_cell(), offset);
    stack_push(&value_v);
    stack_push(&ref_v);
    cell_init(stack_push_cell(), TYPE_PAIR, 0, static_cast<u32>(base_index),
              static_cast<u32>(top_index));
    push_unused_slots(&tracer.v, 6);

    g_interp.tracing = false;
    u32 pending = g_throw_code;
    g_throw_code = 0;
    u32 c = run_handled(THROW_ERROR, [&] {
        call_function_p(&tracer.v, ctx, g_words.n.interp_callback, 0);
    });
    g_interp.tracing = true;
    if (c) {
        // An error or exit raised inside the tracer has unwound the stacks
        // to its target outside the event: it goes on there as a raised
        // code (the routine that sent the event cannot take a pending one).
        raise_code(c);
    }
    g_stack.ctop = saved_ctop;
    g_stack.base = saved_base;
    g_stack.top = saved_top;
    g_throw_code = pending;
}

u32 interp_trace_mask(const ValueCell* tracer) {
    ValueCell* body = node_buffer(callable_more(tracer))->head_cells() + MORE_BODY;
    if (body->type() != TYPE_BLOCK) return TRACE_DEFAULT_MASK;
    SeriesBuffer* b = node_buffer(block_node(body));
    u32 n = b->used_bytes() / 16;
    if (series_head(body) >= n) return TRACE_DEFAULT_MASK;
    ValueCell* first = b->head_cells() + series_head(body);
    if (first->type() != TYPE_BLOCK) return TRACE_DEFAULT_MASK;
    SeriesBuffer* words = node_buffer(block_node(first));
    u32 m = words->used_bytes() / 16;
    if (series_head(first) >= m) return TRACE_DEFAULT_MASK;
    u32 mask = 0;
    for (u32 k = series_head(first); k < m; k++) {
        ValueCell* wd = words->head_cells() + k;
        if (wd->type() != TYPE_WORD) continue;
        u32 s = symbol_resolve(word_symbol(wd));
        for (u32 e : kEvents)
            if (symbol_resolve(word_symbol(event_word(e))) == s) mask |= e;
    }
    return mask;
}

bool interp_trace_open(const ValueCell* tracer) {
    if (g_interp.trace_run) return false;
    ValueCell t = *tracer;
    g_interp.trace_mask = interp_trace_mask(&t);
    *g_interp.tracer = t;
    g_interp.tracing = true;
    g_interp.trace_run = true;
    interp_trace_event(TRACE_INIT, nullptr, -1, nullptr, nullptr);
    return true;
}

void interp_trace_close() {
    u32 pending = g_throw_code;
    g_throw_code = 0;
    try {
        if (g_interp.tracing) interp_trace_event(TRACE_END, nullptr, -1, nullptr, nullptr);
    } catch (...) {
        none_box(g_interp.tracer);
        g_interp.tracing = false;
        g_interp.trace_run = false;
        g_interp.trace_mask = TRACE_DEFAULT_MASK;
        throw;
    }
    none_box(g_interp.tracer);
    g_interp.tracing = false;
    g_interp.trace_run = false;
    g_interp.trace_mask = TRACE_DEFAULT_MASK;
    g_throw_code = pending;
}

void interp_trace_switch(bool on) {
    if (!g_interp.trace_run) return;
    // Called from library code, which runs untraced: the frames between it
    // and the traced code take the switch as they end.
    g_interp.trace_switches++;
    g_interp.trace_switched_on = on;
}

void interp_trace_install_services() {
    g_services.trace_enabled = service_trace_enabled;
    g_services.interp_trace_event = service_trace_event;
}

}  // namespace zan

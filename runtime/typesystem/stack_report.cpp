// Reporting of the call stack: the calling word, the list of calls and the
// stack traces that errors carry.
#include "runtime/typesystem/stack_report.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {
// The word answered by stack_calling_word (a copy, valid until the next call).
ValueCell g_calling_word{TYPE_NONE, 0, 0, 0};

inline bool reported(const CallFrame* f) {
    u32 s = f->symbol();
    return s != 0 && s != (g_stack.sym_body & 0xFFFFu) && s != (g_stack.sym_anon & 0xFFFFu);
}

ValueCell word_of(u32 symbol, Node ctx) {
    ValueCell w = *context_word_or_global(ctx ? context_cell(ctx) : nullptr, symbol);
    return w;
}

// The value of a frame's word, or null when it has none to give.
const ValueCell* value_of(ValueCell* w) {
    if (!word_binding(w) || word_index(w) < 0) return nullptr;
    ValueCell* ctx = context_cell(word_binding(w));
    if (!context_values(ctx)) return nullptr;
    return context_get_ptr(w, ctx);
}

}  // namespace

ValueCell* stack_calling_word() {
    CallFrame* f = (g_stack.throw_frame ? g_stack.throw_frame : g_stack.ctop) - 1;
    g_stack.throw_frame = nullptr;
    for (; f >= g_stack.cbottom; f--) {
        if (!reported(f)) continue;
        g_calling_word = word_of(f->symbol(), f->name_ctx);
        return &g_calling_word;
    }
    if (g_words.n.not_found) g_calling_word = *g_words.n.not_found;
    else cell_init(&g_calling_word, TYPE_NONE);
    return &g_calling_word;
}

void stack_trace_words(i32 level, ValueCell* block, CallFrame* end) {
    for (CallFrame* f = g_stack.cbottom; f < end && f < g_stack.climit; f++) {
        if (!reported(f)) continue;
        ValueCell w = word_of(f->symbol(), f->name_ctx);
        const ValueCell* v = value_of(&w);
        if (level > 1 || (v && v->type() == TYPE_FUNCTION)) block_append_cell(block, &w);
    }
}

i32 stack_trace_block(i32 level, const ValueCell* position, ValueCell* out, i32 limit) {
    i32 n = position->type() == TYPE_INTEGER ? dt::int_get(position) : 0;
    CallFrame* end = g_stack.cbottom + n;
    for (CallFrame* f = g_stack.cbottom; f < end && f < g_stack.climit; f++) {
        if (limit <= 0) break;
        if (!reported(f)) continue;
        ValueCell w = word_of(f->symbol(), f->name_ctx);
        const ValueCell* v = value_of(&w);
        if (!(level > 1 || (v && v->type() == TYPE_FUNCTION))) continue;
        ValueCell* held = stack_push(&w);
        limit = word_form(held, out, nullptr, limit);
        stack_pop(1);
        string_append_char(out, ' ');
        limit--;
    }
    return limit;
}

}  // namespace zan

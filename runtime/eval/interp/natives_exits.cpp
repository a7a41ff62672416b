// Non-local exits: break, continue, exit, return and throw start one;
// catch and try stop them.
//
// The starters unwind the stacks to their target with the *_prepare
// routines of the call stack and leave the code pending: no C++ exception
// travels for these frequent exits. A refused exit (no loop, no function, no
// catch, or a try/all barrier on the way) raises its throw error instead.
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

namespace {

void native_break(bool, const i32* refs) {
    g_throw_code = stack_throw_break_prepare(refs[0] >= 0, false);
}

void native_continue(bool, const i32*) { g_throw_code = stack_throw_break_prepare(false, true); }

void native_exit(bool, const i32*) { g_throw_code = stack_throw_exit_prepare(false, false); }

void native_return(bool, const i32*) { g_throw_code = stack_throw_exit_prepare(true, false); }

void native_throw(bool, const i32* refs) {
    if (g_interp.tracing) {
        ValueCell v = *stack_arg(0);
        interp_trace_event(TRACE_THROW, nullptr, -1, nullptr, &v);
    }
    if (refs[0] < 0) {
        g_stack.top = g_stack.base + 1;
        unset_push();
    } else {
        g_stack.top = g_stack.base + 2;
    }
    g_throw_code = stack_throw_value_prepare(THROW_THROW);
}

// Whether a catch's name (word or block of words) takes a throw's name.
bool catch_matches(const ValueCell* names, const ValueCell* thrown) {
    if (thrown->type() != TYPE_WORD) return false;
    u32 want = symbol_resolve(word_symbol(thrown));
    if (names->type() == TYPE_WORD) return symbol_resolve(word_symbol(names)) == want;
    i32 n = series_buffer_length(names);
    bool hit = false;
    for (i32 k = series_index(names); k < n; k++) {
        ValueCell* e = series_buffer(names)->head_cells() + k;
        if (e->type() != TYPE_WORD) {
            ValueCell b = *names;
            fire(Err::script_invalid_refine_arg, g_words.n.catch_, &b);
        }
        if (symbol_resolve(word_symbol(e)) == want) hit = true;
    }
    return hit;
}

void native_catch(bool, const i32* refs) {
    ValueCell block = *stack_arg(0);
    bool named = refs[0] >= 0;
    ValueCell names;
    if (named) names = *stack_arg(static_cast<u32>(refs[0]));
    stack_mark_catch(g_words.n.catch_);
    CallFrame* frame = stack_top_frame();
    u32 code = run_handled(THROW_THROW, [&] { eval_block_p(&block, true); });
    if (code == 0) {
        stack_unwind_last();
        return;
    }
    if (code != THROW_THROW || g_stack.ctop - 1 != frame) return;
    // The throw stopped at this frame: its value, then its name.
    if (named && !catch_matches(&names, g_stack.base + 1)) {
        g_throw_code = stack_throw_value_prepare(THROW_THROW);
        return;
    }
    g_throw_code = 0;
    stack_keep();
    if (g_interp.tracing) {
        ValueCell v = *g_stack.base;
        interp_trace_event(TRACE_CATCH, nullptr, -1, nullptr, &v);
    }
    stack_unwind_last();
}

void native_try(bool, const i32* refs) {
    bool all = refs[0] >= 0, keep = refs[1] >= 0;
    ValueCell block = *stack_arg(0);
    CallFrame* own = stack_top_frame();
    ValueCell* saved_base = g_stack.base;
    ValueCell* saved_top = g_stack.top;
    if (all) stack_mark_try_all(g_words.n.try_);
    else stack_mark_try(g_words.n.try_);
    u32 code = run_handled(THROW_ERROR, [&] { eval_block_p(&block, true); });
    if (code == 0) {
        stack_unwind_last();
    } else if (code == THROW_ERROR || all) {
        if (g_stack.ctop - 1 != own) {
            // Raised without unwinding (no error builder yet): put the
            // stacks back as they were at entry.
            if (g_stack.ctop - 1 > own) {
                g_stack.ctop = own + 1;
                g_stack.base = saved_base;
                g_stack.top = saved_top;
                none_box(g_stack.base);
            }
        }
        g_throw_code = 0;
        if (code == THROW_ERROR) {
            stack_adjust_try_result();
        } else {
            *g_stack.base = *stack_top_value();
            stack_keep();
        }
    } else {
        return;  // break, continue, return, exit, throw: on to their target
    }
    g_throw_code = 0;
    ValueCell* result = stack_result();
    if (keep && result->type() == TYPE_ERROR &&
        error_field(result, ERR_FIELD_STACK)->type() == TYPE_INTEGER)
        error_capture_stack(result);
}

}  // namespace

void natives_exits_init(NativeEntry* s) {
    s[NAT_BREAK - 1] = native_checked<NAT_BREAK, native_break>;
    s[NAT_CONTINUE - 1] = native_checked<NAT_CONTINUE, native_continue>;
    s[NAT_EXIT - 1] = native_checked<NAT_EXIT, native_exit>;
    s[NAT_RETURN - 1] = native_checked<NAT_RETURN, native_return>;
    s[NAT_THROW - 1] = native_checked<NAT_THROW, native_throw>;
    s[NAT_CATCH - 1] = native_checked<NAT_CATCH, native_catch>;
    s[NAT_TRY - 1] = native_checked<NAT_TRY, native_try>;
}

}  // namespace zan

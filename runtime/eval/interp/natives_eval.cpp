// Function makers (func, function, does, has), evaluation (do, reduce,
// compose), words (get, set, bind, in), output (print, prin) and stats.
#include "runtime/terminal/print_hooks.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/typesystem/host_io.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/typesystem/memory_stats.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

namespace {

inline bool any_word(u32 t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }
inline bool any_path(u32 t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
inline bool any_block(u32 t) { return type_block_like(t); }

// Pops the top frame, dropping its cells (the data top returns to the
// frame's own base).
void pop_frame_drop() {
    ValueCell* own = g_stack.base;
    stack_unwind();
    g_stack.top = own;
}

// Clamps a series index to its tail.
void clamp_index(ValueCell* s) {
    i32 len = series_buffer_length(s);
    if (series_index(s) > len) series_set_index(s, len);
}

// The global value of a name, or null.
ValueCell* global_value(const char* name) { return global_value_ptr(symbol_make(name)); }

// ---- function makers ----------------------------------------------------------------------------

void make_function(ValueCell* spec, ValueCell* body) {
    clamp_index(spec);
    clamp_index(body);
    function_create_checked(spec, body);
    *stack_result() = *stack_top_value();
}

void native_func(bool, const i32*) {
    ValueCell spec = *stack_arg(0), body = *stack_arg(1);
    make_function(&spec, &body);
}

void native_function(bool, const i32*) {
    ValueCell spec = *stack_arg(0), body = *stack_arg(1);
    clamp_index(&spec);
    clamp_index(&body);
    ValueCell full = *function_collect_locals(&spec, &body);
    make_function(&full, &body);
}

void native_does(bool, const i32*) {
    ValueCell body = *stack_arg(0);
    ValueCell spec = *block_push_new(1);
    make_function(&spec, &body);
}

void native_has(bool, const i32*) {
    ValueCell vars = *stack_arg(0), body = *stack_arg(1);
    clamp_index(&vars);
    i32 n = block_length(&vars);
    ValueCell* spec = block_push_new(static_cast<u32>(n + 1));
    block_append_cell(spec, g_refinements.local);
    for (i32 k = 0; k < n; k++) block_append_cell(spec, block_head_ptr(&vars) + k);
    ValueCell s = *spec;
    make_function(&s, &body);
}

// ---- do ------------------------------------------------------------------------------------------

// Calls a global function by name with argument values (do-file, the
// preprocessor, show-memory-stats); not-done when it is not defined.
void call_global(const char* name, const ValueCell* args, u32 n) {
    ValueCell* fv = global_value(name);
    if (!fv || fv->type() != TYPE_FUNCTION) fire(Err::internal_not_done);
    ValueCell fn = *fv;
    ValueCell word = *word_make_global(symbol_make(name));
    call_function_with(&fn, &word, args, n);
}

// Evaluates a block (from its index) for do: with /next only one
// expression, the position word receiving the block after it.
void do_block(ValueCell* value, const i32* refs) {
    clamp_index(value);
    if (refs[0] >= 0) {
        // /expand: the preprocessor's expand runs over the block first,
        // with no build configuration.
        ValueCell* pre = global_value("preprocessor");
        if (!pre || pre->type() != TYPE_OBJECT) fire(Err::internal_not_done);
        ValueCell obj = *pre;
        ValueCell field = *word_make_global(symbol_make("expand"));
        ValueCell fn = *object_select_word(&obj, &field);
        if (fn.type() != TYPE_FUNCTION) fire(Err::internal_not_done);
        ValueCell args[2] = {*value, {}};
        none_box(&args[1]);
        call_function_with(&fn, &field, args, 2);
        if (g_throw_code) return;
    }
    if (refs[2] >= 0) {
        ValueCell* posword = stack_arg(static_cast<u32>(refs[2]));
        EvalWalk w(value);
        u32 i = w.start;
        if (i >= w.end) {
            unset_box(stack_result());
        } else {
            i = eval_next(w, i, false);
            if (g_throw_code) return;
        }
        ValueCell after = w.block();
        series_set_head(&after, i);
        word_assign(posword, &after);
        return;
    }
    eval_block_p(value, true);
}

void native_do(bool, const i32* refs) {
    ValueCell value = *stack_arg(0);
    bool traced = false, flagged = false;
    // A script file is traced by do-file, around the script's code only.
    bool script = value.type() == TYPE_FILE || value.type() == TYPE_URL;
    if (refs[3] >= 0 && !script) {
        ValueCell tracer = *stack_arg(static_cast<u32>(refs[3]));
        if (!g_interp.trace_run) {
            flagged = stack_set_body_flag_below();
            traced = interp_trace_open(&tracer);
        }
    }
    CallFrame* below = g_stack.ctop - 2;
    auto close_trace = [&] {
        if (!traced) return;
        traced = false;
        interp_trace_close();
        if (flagged && below >= g_stack.cbottom && below < g_stack.ctop)
            stack_clear_body_flag(&below->header);
    };
    try {
        switch (value.type()) {
            case TYPE_BLOCK:
            case TYPE_PAREN:
            case TYPE_HASH:
                do_block(&value, refs);
                break;
            case TYPE_PATH:
                eval_value_p(&value, false, false);
                break;
            case TYPE_STRING: {
                ValueCell* dest = none_push();
                none_box(dest);
                i32 consumed = 0;
                g_services.lexer_scan_string(&value, dest, -1, &consumed);
                ValueCell blk = *dest;
                do_block(&blk, refs);
                break;
            }
            case TYPE_FILE:
            case TYPE_URL: {
                // do-file file callback do-args: the /trace callback and the
                // /args value, none for an absent refinement.
                ValueCell args[3] = {value, {}, {}};
                if (refs[3] >= 0) args[1] = *stack_arg(static_cast<u32>(refs[3]));
                else none_box(&args[1]);
                if (refs[1] >= 0) args[2] = *stack_arg(static_cast<u32>(refs[1]));
                else none_box(&args[2]);
                call_global("do-file", args, 3);
                break;
            }
            case TYPE_ERROR:
                close_trace();
                stack_throw_error(&value);
            default:
                eval_value_p(&value, true, false);
                break;
        }
    } catch (...) {
        close_trace();
        throw;
    }
    close_trace();
    // A pending exit goes on as it is: to the interpreter that called do,
    // or, from compiled code, back to the caller as the native's code.
}

// ---- reduce and compose ----------------------------------------------------------------------------

// Adds one value to the output of reduce: appended to an any-block, else
// inserted at the output's position, which moves past it.
void reduce_emit(ValueCell* out, const ValueCell* value, bool into_block) {
    if (into_block) {
        block_append_value(out, value);
        return;
    }
    ValueCell v = *value;
    i32 before = series_buffer_length(out);
    action_insert_dispatch(out, &v, -1, false, 1);
    series_set_head(out, series_head(out) + static_cast<u32>(series_buffer_length(out) - before));
}

// One item of a reduced block at i, evaluated as eval_next(w, i, true)
// evaluates it; returns the next index. With tracing off, no interrupt
// waiting and room in the stacks for the item's frame: a value that
// evaluates to itself or a word holding a plain value, with no operator
// after it, runs nothing, so with take_plain it is copied to *plain
// (is_plain set) without the frame; a word holding a callable is called in
// the item's frame with the value its look-up found.
inline u32 reduce_item(EvalWalk& w, u32 i, bool take_plain, ValueCell* plain, bool& is_plain) {
    is_plain = false;
    if (ZAN_UNLIKELY(g_interp.tracing || g_interrupt_pending) ||
        ZAN_UNLIKELY(g_stack.ctop >= g_stack.climit || g_stack.top + 2 >= g_stack.limit))
        return eval_next(w, i, true);
    ValueCell* c = w.at(i);
    u32 t = c->type();
    const ValueCell* val;
    if (t == TYPE_WORD) {
        const ValueCell* slot = word_value_if_available(c);
        if (!slot) return eval_next(w, i, true);
        u32 vt = slot->type();
        if (is_callable_type(vt)) {
            frame_mark(g_words.n.body, FRAME_BITS_NATIVE_FLAGGED);
            i = eval_word_call(w, i, slot, true, c);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            frame_unwind(true);
            return i;
        }
        if (vt == TYPE_UNSET || vt == TYPE_OP) return eval_next(w, i, true);
        val = slot;
    } else if (self_evaluating(t)) {
        val = c;
    } else {
        return eval_next(w, i, true);
    }
    if (!take_plain || (i + 1 < w.end && op_cell(c + 1))) return eval_next(w, i, true);
    *plain = *val;
    is_plain = true;
    return i + 1;
}

void native_reduce(bool, const i32* refs) {
    ValueCell value = *stack_arg(0);
    bool into = refs[0] >= 0;
    ValueCell* out;
    if (into) {
        out = stack_push(stack_arg(static_cast<u32>(refs[0])));
    } else {
        out = none_push();
        none_box(out);
    }
    bool out_block = !into || any_block(out->type());
    if (value.type() != TYPE_BLOCK) {
        u32 t = value.type();
        if (t == TYPE_FUNCTION || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP ||
            t == TYPE_ROUTINE) {
            stack_push(&value);
        } else {
            eval_value_p(&value, false, true);
            if (g_throw_code) return;
        }
        if (!into) {
            *stack_result() = *stack_top_value();
            return;
        }
        i32 start = series_buffer_length(out);
        reduce_emit(out, stack_top_value(), out_block);
        if (out_block)
            series_announce(out, g_words.n.inserted, nullptr, start,
                            series_buffer_length(out) - start);
        *stack_result() = *out;
        return;
    }
    clamp_index(&value);
    if (!into) block_make_at(out, static_cast<u32>(block_length(&value)));
    stack_push(&value);
    i32 start = out_block ? series_buffer_length(out) : 0;
    EvalWalk w(&value);
    stack_mark_native_flagged(g_words.n.body);
    u32 i = w.start;
    while (i < w.end) {
        ValueCell plain;
        bool is_plain;
        i = reduce_item(w, i, out_block, &plain, is_plain);
        if (g_throw_code) return;
        if (is_plain) {
            block_append_value(out, &plain);
            continue;
        }
        reduce_emit(out, stack_top_value(), out_block);
        stack_reset();
    }
    pop_frame_drop();
    if (into && out_block)
        series_announce(out, g_words.n.inserted, nullptr, start,
                        series_buffer_length(out) - start);
    // The new block was made as long as the source, which holds more
    // values than the results most often are.
    if (!into) series_trim_room(block_node(out));
    *stack_result() = *out;
}

// Builds the composition of block into out (appending, or with at_index
// inserting at out's index and moving past).
void compose_block(const ValueCell* block, ValueCell* out, bool deep, bool only, bool insert) {
    ValueCell blk = *block;
    clamp_index(&blk);
    auto add = [&](const ValueCell* v) {
        if (insert) block_insert_value(out, v, false, true);
        else block_append_value(out, v);
    };
    i32 n = series_buffer_length(&blk);
    for (i32 k = series_index(&blk); k < n; k++) {
        ValueCell c = *(series_buffer(&blk)->head_cells() + k);
        if (c.type() == TYPE_PAREN) {
            ValueCell* mark = g_stack.top;
            eval_paren_p(&c, true);
            if (g_throw_code) return;
            ValueCell v = *mark;
            g_stack.top = mark;
            if (v.type() == TYPE_UNSET) continue;
            if (v.type() == TYPE_BLOCK && !only) {
                ValueCell* held = stack_push(&v);
                i32 m = series_buffer_length(held);
                for (i32 j = series_index(held); j < m; j++) {
                    ValueCell e = *(series_buffer(held)->head_cells() + j);
                    add(&e);
                }
                g_stack.top = mark;
                continue;
            }
            add(&v);
        } else if (c.type() == TYPE_BLOCK && deep) {
            ValueCell* sub = none_push();
            block_make_at(sub, static_cast<u32>(block_length(&c) + 1));
            compose_block(&c, sub, true, only, false);
            if (g_throw_code) return;
            ValueCell s = *sub;
            add(&s);
            stack_pop(1);
        } else {
            add(&c);
        }
    }
}

void native_compose(bool, const i32* refs) {
    ValueCell value = *stack_arg(0);
    if (value.type() != TYPE_BLOCK) {
        ValueCell want, got;
        datatype_box(&want, TYPE_BLOCK);
        datatype_box(&got, value.type());
        fire(Err::script_expect_val, &want, &got);
    }
    bool deep = refs[0] >= 0, only = refs[1] >= 0, into = refs[2] >= 0;
    ValueCell* out;
    if (into) {
        out = stack_push(stack_arg(static_cast<u32>(refs[2])));
    } else {
        out = none_push();
        block_make_at(out, static_cast<u32>(block_length(&value) + 1));
    }
    ValueCell start = *out;
    compose_block(&value, out, deep, only, into);
    if (g_throw_code) return;
    *stack_result() = into ? start : *out;
}

// ---- get and set ----------------------------------------------------------------------------------

void native_get(bool, const i32* refs) {
    ValueCell word = *stack_arg(0);
    bool any = refs[0] >= 0, case_ = refs[1] >= 0;
    u32 t = word.type();
    if (any_path(t)) {
        word.set_type(TYPE_PATH);
        interp_eval_path_value(&word, true, nullptr, case_);
        return;
    }
    if (t == TYPE_OBJECT) {
        action_reflect_dispatch(&word, g_sym.values);
        return;
    }
    ValueCell v = *word_value(&word);
    if (v.type() == TYPE_UNSET && !any) fire(Err::script_no_value, &word);
    *stack_result() = v;
}

// Assigns value to the words of a block (set with a block target).
void set_many(ValueCell* words, ValueCell* value, bool any, bool only, bool some) {
    i32 n = block_length(words);
    for (i32 k = 0; k < n; k++) {
        ValueCell* w = block_head_ptr(words) + k;
        if (!any_word(w->type())) {
            ValueCell bad = *w;
            fire(Err::script_invalid_arg, &bad);
        }
    }
    bool spread = !only && (value->type() == TYPE_BLOCK || value->type() == TYPE_MAP);
    ValueCell* source = nullptr;
    if (spread) {
        if (value->type() == TYPE_MAP) {
            source = stack_push(map_body_of(value));
        } else {
            source = stack_push(value);
        }
        clamp_index(source);
    }
    auto element = [&](i32 k, ValueCell* out) {
        if (!spread) {
            *out = *value;
            return;
        }
        i32 at = series_index(source) + k;
        if (at < series_buffer_length(source)) *out = *(series_buffer(source)->head_cells() + at);
        else none_box(out);
    };
    if (!any) {
        for (i32 k = 0; k < n; k++) {
            ValueCell v;
            element(k, &v);
            if (v.type() == TYPE_UNSET) {
                ValueCell w = *(block_head_ptr(words) + k);
                fire(Err::script_need_value, &w);
            }
        }
    }
    for (i32 k = 0; k < n; k++) {
        ValueCell v;
        element(k, &v);
        if (some && v.type() == TYPE_NONE) continue;
        ValueCell w = *(block_head_ptr(words) + k);
        word_assign(&w, &v);
    }
}

void native_set(bool, const i32* refs) {
    ValueCell word = *stack_arg(0);
    ValueCell value = *stack_arg(1);
    bool any = refs[0] >= 0, case_ = refs[1] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
    if (value.type() == TYPE_UNSET && !any) fire(Err::script_need_value, &word);
    u32 t = word.type();
    if (any_word(t)) {
        word_assign(&word, &value);
    } else if (t == TYPE_BLOCK) {
        ValueCell* held = stack_push(&word);
        set_many(held, &value, any, only, some);
    } else if (any_path(t)) {
        word.set_type(TYPE_PATH);
        interp_eval_path_value(&word, false, &value, case_);
    } else if (t == TYPE_OBJECT) {
        object_set_many(&word, &value, any, only, some);
    }
    *stack_result() = value;
    stack_keep();
}

// ---- print and prin -------------------------------------------------------------------------------

// The text of a print: a block reduced into the print buffer and formed, a
// string as it is, anything else formed. Pushes the string.
ValueCell* print_text(const ValueCell* value) {
    ValueCell v = *value;
    if (v.type() == TYPE_STRING) {
        clamp_index(&v);
        return stack_push(&v);
    }
    ValueCell* out = string_push_new(64);
    if (v.type() != TYPE_BLOCK) {
        ValueCell* held = stack_push(&v);
        action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
        g_stack.top = out + 1;
        return out;
    }
    ValueCell* buffer = natives_print_buffer();
    i32 start = series_buffer_length(buffer);
    u32 saved_index = series_head(buffer);
    clamp_index(&v);
    EvalWalk w(&v);
    stack_mark_native_flagged(g_words.n.body);
    u32 i = w.start;
    try {
        while (i < w.end) {
            i = eval_next(w, i, true);
            if (g_throw_code) break;
            block_append_cell(buffer, stack_top_value());
            stack_reset();
        }
    } catch (...) {
        block_set_tail(buffer, static_cast<u32>(start));
        series_set_head(buffer, saved_index);
        throw;
    }
    if (g_throw_code) {
        block_set_tail(buffer, static_cast<u32>(start));
        series_set_head(buffer, saved_index);
        return nullptr;
    }
    pop_frame_drop();
    ValueCell view = *buffer;
    series_set_index(&view, start);
    ValueCell* held = stack_push(&view);
    action_form_dispatch(held, out, nullptr, FORM_NO_LIMIT);
    g_stack.top = out + 1;
    block_set_tail(buffer, static_cast<u32>(start));
    series_set_head(buffer, saved_index);
    return out;
}

void print_value(const ValueCell* value, bool newline) {
    ValueCell* text = print_text(value);
    if (!text) return;
    print_hooks_call(text, newline);
    g_print_last_newline = newline;
}

void native_print(bool, const i32*) {
    ValueCell v = *stack_arg(0);
    print_value(&v, true);
    if (g_throw_code) return;
    unset_box(stack_result());
}

void native_prin(bool, const i32*) {
    ValueCell v = *stack_arg(0);
    print_value(&v, false);
    if (g_throw_code) return;
    unset_box(stack_result());
}

void service_print(ValueCell* value) {
    ValueCell v = *value;
    ValueCell* mark = g_stack.top;
    print_value(&v, true);
    g_stack.top = mark;
}

// ---- stats ------------------------------------------------------------------------------------------

void native_stats(bool, const i32* refs) {
    bool show = refs[0] >= 0, info = refs[1] >= 0;
    if (!show && !info) {
        double bytes = memory_stats(nullptr, 1);
        if (bytes > 2147483647.0) float_make_at(stack_result(), bytes);
        else integer_box(stack_result(), static_cast<i32>(bytes));
        return;
    }
    ValueCell* blk = block_push_new(8);
    memory_stats(blk, 2);
    if (show) {
        ValueCell b = *blk;
        call_global("show-memory-stats", &b, 1);
        if (g_throw_code) return;
        unset_box(stack_result());
        return;
    }
    *stack_result() = *blk;
}

// ---- bind and in ------------------------------------------------------------------------------------

// The context node of a bind or in target.
Node target_context(const ValueCell* v) {
    switch (v->type()) {
        case TYPE_FUNCTION:
        case TYPE_ROUTINE:
        case TYPE_OBJECT:
        case TYPE_ERROR:
        case TYPE_PORT:
            return context_of(v);
        default:
            if (any_word(v->type()) || v->type() == TYPE_REFINEMENT) return word_binding(v);
            return 0;
    }
}

void native_bind(bool, const i32* refs) {
    ValueCell target = *stack_arg(0);
    Node ctx = target_context(stack_arg(1));
    if (!ctx) {
        *stack_result() = target;
        return;
    }
    if (target.type() == TYPE_BLOCK) {
        ValueCell* blk = stack_push(&target);
        if (refs[0] >= 0) {
            ValueCell* copy = none_push();
            block_clone(blk, copy, true, true);
            blk = copy;
        }
        ValueCell b = *blk;
        context_bind(&b, context_cell(ctx), false);
        *stack_result() = b;
        return;
    }
    context_bind_word(context_cell(ctx), &target);
    *stack_result() = target;
}

void native_in(bool, const i32*) {
    ValueCell word = *stack_arg(1);
    Node ctx = target_context(stack_arg(0));
    i32 idx = ctx ? context_find_word(context_cell(ctx), word_symbol(&word), true) : -1;
    if (idx < 0) {
        none_box(stack_result());
        return;
    }
    ValueCell r;
    cell_init(&r, TYPE_WORD, ctx, word_symbol(&word), static_cast<u32>(idx));
    *stack_result() = r;
}

// The URL parser of the library for the url! actions: url-parser/parse-url
// of the URL, pushed; none when the parser is not there.
ValueCell* parse_url_service(ValueCell* url) {
    ValueCell* parser = global_value("url-parser");
    ValueCell fn = g_none_cell;
    ValueCell field = *word_make_global(symbol_make("parse-url"));
    if (parser && parser->type() == TYPE_OBJECT) {
        ValueCell obj = *parser;
        const ValueCell* f = object_select_word(&obj, &field);
        if (f) fn = *f;
    }
    if (fn.type() != TYPE_FUNCTION) return none_push();
    // The call leaves its value in the current frame's result cell, whose
    // own value is kept on the data stack meanwhile.
    ValueCell* held = stack_push(stack_result());
    ValueCell* held_fn = stack_push(&fn);
    call_function_with(held_fn, &field, url, 1);
    interp_raise_pending();
    ValueCell r = *stack_result();
    *stack_result() = *held;
    *held = r;
    g_stack.top = held + 1;
    return held;
}

}  // namespace

void natives_eval_init(NativeEntry* s) {
    g_host_io.parse_url = parse_url_service;
    s[NAT_FUNC - 1] = native_checked<NAT_FUNC, native_func>;
    s[NAT_FUNCTION - 1] = native_checked<NAT_FUNCTION, native_function>;
    s[NAT_DOES - 1] = native_checked<NAT_DOES, native_does>;
    s[NAT_HAS - 1] = native_checked<NAT_HAS, native_has>;
    s[NAT_DO - 1] = native_checked<NAT_DO, native_do>;
    s[NAT_REDUCE - 1] = native_checked<NAT_REDUCE, native_reduce>;
    s[NAT_COMPOSE - 1] = native_checked<NAT_COMPOSE, native_compose>;
    s[NAT_GET - 1] = native_checked<NAT_GET, native_get>;
    s[NAT_SET - 1] = native_checked<NAT_SET, native_set>;
    s[NAT_PRINT - 1] = native_checked<NAT_PRINT, native_print>;
    s[NAT_PRIN - 1] = native_checked<NAT_PRIN, native_prin>;
    s[NAT_STATS - 1] = native_checked<NAT_STATS, native_stats>;
    s[NAT_BIND - 1] = native_checked<NAT_BIND, native_bind>;
    s[NAT_IN - 1] = native_checked<NAT_IN, native_in>;
    g_services.native_print = service_print;
}

}  // namespace zan

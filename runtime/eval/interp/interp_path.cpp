// Path evaluation: path!, get-path! and set-path! values. The first element
// must be a word; a function found there is called with the rest of the
// path as refinements; every further element selects through the datatype's
// eval-path action, and a function reached that way (in a normal path) is
// called with the elements after it as refinements.
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/forms_switch.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

const ValueCell* g_library_path_words[2] = {nullptr, nullptr};

namespace {

// A path that calls a function has been evaluated when the call returns:
// its exit event carries the call's result.
void trace_call_path_exit(const ValueCell* path, bool push) {
    if (ZAN_LIKELY(!g_interp.tracing) || g_throw_code) return;
    interp_trace_event(TRACE_EXIT, path, -1, nullptr, push ? stack_top_value() : stack_result());
}

}  // namespace

u32 eval_path_walk(EvalWalk& w, u32 i, const ValueCell* path_in, u32 mode, bool push,
                   const ValueCell* set_value, bool case_sensitive) {
    EvalWalk pw(path_in);
    ValueCell path = pw.block();
    u32 s = pw.start, n = pw.end;
    if (s >= n) fire(Err::script_empty_path, &path);
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        interp_trace_event(TRACE_ENTER, &path, 0, nullptr, nullptr);
        ValueCell f = *pw.at(s);
        interp_trace_event(TRACE_FETCH, &path, 0, nullptr, &f);
    }
    ValueCell head = *pw.at(s);
    if (head.type() != TYPE_WORD) fire(Err::script_word_first, &path);
    ValueCell* hv = word_value(&head);
    if (hv->type() == TYPE_UNSET) fire(Err::script_unset_path, &path, &head);
    if (is_callable_type(hv->type())) {
        if (mode == PATH_SET) fire(Err::script_invalid_path_set, &path);
        if (mode == PATH_GET) fire(Err::script_invalid_path_get, &path);
        ValueCell fn = *hv;
        PathRefs pr{&pw, s};
        u32 next = eval_code(&fn, w, i + 1, push, &head, &pr, nullptr, 0, false);
        trace_call_path_exit(&path, push);
        return next;
    }

    // In library code the selection runs in a frame of its own.
    bool framed = g_library_path_words[0] &&
                  (node_buffer(block_node(&w.block()))->flags & SERIES_LIBRARY_CODE);
    if (ZAN_UNLIKELY(framed)) stack_mark_native(g_library_path_words[mode == PATH_SET ? 1 : 0]);
    ValueCell* saved_top = g_stack.top;
    ValueCell set_copy;
    if (set_value) set_copy = *set_value;
    // The levels of the path lie on the data stack as pairs, the element
    // (the head word first) and the value it selected, so that a value
    // held in its cell (a date!, a pair!, ...) whose field is set can be
    // stored back level by level (path_store_back).
    ValueCell* head_holder = nullptr;
    if (word_binding(&head) && word_binding(&head) != g_global_ctx) {
        ValueCell* owner = context_owner(word_binding(&head));
        if (owner->type() != TYPE_OBJECT) head_holder = stack_push(owner);
    }
    ValueCell* item = stack_push(&head);
    ValueCell* cur = stack_push(hv);
    ValueCell* holder = head_holder;
    for (u32 j = s + 1; j < n; j++) {
        ValueCell el = *pw.at(j);
        if (ZAN_UNLIKELY(g_interp.tracing))
            interp_trace_event(TRACE_FETCH, &path, static_cast<i32>(j - s), nullptr, &el);
        ValueCell* sel;
        if (el.type() == TYPE_GET_WORD) {
            sel = stack_push(word_value(&el));
        } else if (el.type() == TYPE_PAREN) {
            eval_paren_p(&el, true);
            if (ZAN_UNLIKELY(g_throw_code)) return i;
            ValueCell pv = *(g_stack.top - 1);
            g_stack.top = cur + 1;
            sel = stack_push(&pv);
        } else {
            sel = stack_push(&el);
        }
        if (sel->type() == TYPE_UNSET) fire(Err::script_invalid_path, &path, &el);
        bool last = j + 1 == n;
        u32 level = j - s - 1;
        // A value held in its cell is stored back below, which reports the
        // change to the object or series holding it.
        bool in_cell = mode == PATH_SET && last && path_field_in_cell(cur->type());
        bool notify = false;
        if (mode == PATH_SET && last && n - s >= 3 && holder && !in_cell) {
            u32 ht = holder->type();
            notify = (ht == TYPE_OBJECT && object_record(holder) && item->type() == TYPE_WORD) ||
                     type_block_like(ht);
        }
        ValueCell* r = action_eval_path_dispatch(
            cur, sel, (mode == PATH_SET && last) ? &set_copy : nullptr, &path, holder, item,
            static_cast<i32>(level), case_sensitive, false, last, notify);
        ValueCell rv = *r;
        if (in_cell) path_store_back(&path, cur, level, head_holder, case_sensitive);
        g_stack.top = sel + 1;
        holder = cur;
        item = sel;
        cur = stack_push(&rv);
        if (mode == PATH_NORMAL && is_callable_type(cur->type())) {
            // A function reached through the path is called, the elements
            // after it giving its refinements; an object it was found in
            // gives its context.
            ValueCell fn = *cur;
            ValueCell parent = *holder;
            ValueCell name = el;
            if (name.type() != TYPE_WORD) name = *g_words.n.anon;
            if (ZAN_UNLIKELY(framed)) stack_unwind();
            g_stack.top = saved_top;
            PathRefs pr{&pw, j};
            HeldCell keep(parent);
            u32 next = eval_code(&fn, w, i + 1, push, &name, &pr, &keep.v, 0, false);
            trace_call_path_exit(&path, push);
            return next;
        }
    }
    ValueCell result = *cur;
    if (ZAN_UNLIKELY(framed)) stack_unwind();
    g_stack.top = saved_top;
    if (push) stack_push(&result);
    else stack_set_last_reset(&result);
    if (ZAN_UNLIKELY(g_interp.tracing)) {
        interp_trace_event(TRACE_PUSH, &path, -1, nullptr, &result);
        interp_trace_event(TRACE_EXIT, &path, -1, nullptr, &result);
    }
    return i + 1;
}

}  // namespace zan

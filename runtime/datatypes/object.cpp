// object!: construction, duplication, the change handlers, reflection, text
// forms, comparison and field access.
#include "runtime/datatypes/object.h"

#include <cstring>

#include "runtime/core/cycles.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/context_field_cache.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

InterpHooks g_interp_hooks{};
u32 g_object_class_counter = OBJECT_CLASS_ERROR;

u32 object_new_class_id() { return ++g_object_class_counter; }

namespace {

inline ValueCell* ctx_of(const ValueCell* obj) { return context_cell(context_of(obj)); }
inline u32 canon(u32 s) { return symbol_resolve(s); }

// Restores the data top when a C++ scope ends normally.
struct TopGuard {
    ValueCell* saved = g_stack.top;
    void restore() { g_stack.top = saved; }
};

u32 sym_of_word(ValueCell* const* well_known, const char* name) {
    return *well_known ? word_symbol(*well_known) : symbol_make(name);
}
u32 on_change_symbol() { return sym_of_word(&g_words.n.on_change, "on-change*"); }
u32 on_deep_change_symbol() { return sym_of_word(&g_words.n.on_deep_change, "on-deep-change*"); }

bool is_handler_word(u32 symbol) {
    u32 s = canon(symbol);
    return s == canon(on_change_symbol()) || s == canon(on_deep_change_symbol());
}

inline bool object_like(u32 t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

// The series kinds that a copy of an object copies, so that a copy never
// shares a mutable series with its original.
bool copied_kind(u32 t) {
    return type_string_like(t) || type_block_like(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE || t == TYPE_BITSET || t == TYPE_MAP;
}

// Replaces value i of the context by a copy made through the copy action
// (types whose datatype is not registered keep the shared value).
void copy_value_at(Node ctx, u32 i, bool deep) {
    ValueCell* v = stack_push(context_values_head(context_cell(ctx)) + i);
    if (!action_entry(v->type(), ACT_COPY)) {
        stack_pop(1);
        return;
    }
    ValueCell* fresh = unset_push();
    ValueCell* r = action_copy_dispatch(v, fresh, nullptr, deep, nullptr);
    ValueCell keep = *r;
    keep.header = (keep.header & ~CELL_NEW_LINE) | (v->header & CELL_NEW_LINE);
    context_values_head(context_cell(ctx))[i] = keep;
    stack_pop(2);
}

void rebind_function_at(Node ctx, u32 i) {
    ValueCell* v = stack_push(context_values_head(context_cell(ctx)) + i);
    object_rebind_function(v, ctx);
    context_values_head(context_cell(ctx))[i] = *v;
    stack_pop(1);
}

// A word cell of the object's table bound to the object, by index.
ValueCell bound_word(Node ctx, u32 i) {
    ValueCell w = *object_word_at(ctx, i);
    w.header = TYPE_WORD;
    set_word_binding(&w, ctx);
    set_word_index(&w, static_cast<i32>(i));
    return w;
}

// Pushes a copy of the word bound to the object (unchanged when it already is).
ValueCell* push_bound(ValueCell* word, Node ctx) {
    ValueCell* w = stack_push(word);
    if (word_binding(w) != ctx || word_index(w) < 0) {
        i32 i = context_find_word(context_cell(ctx), word_symbol(w), true);
        if (i >= 0) {
            set_word_binding(w, ctx);
            set_word_index(w, i);
        }
    }
    return w;
}

[[noreturn]] void not_done() { fire(Err::internal_not_done); }

// Calls a handler: opens its function frame named after the handler word,
// pushes the arguments, the unused /local values, runs it and pops the frame.
void call_handler(ValueCell* fn, Node obj_ctx, u32 name_symbol, const ValueCell* args, u32 nargs,
                  i32 locals, u32 callback) {
    ValueCell* name = stack_push_cell();
    cell_init(name, TYPE_WORD, 0, name_symbol, static_cast<u32>(-1));
    ValueCell* f = stack_push(fn);
    stack_mark_func(name, context_of(f));
    for (u32 k = 0; k < nargs; k++) stack_push(&args[k]);
    if (locals > 0) function_push_unused_refinement(locals);
    g_interp_hooks.call_function(f, obj_ctx, name, callback);
    stack_unwind_func();
}

}  // namespace

// ---- shared operations -------------------------------------------------------------------------

ValueCell* object_word_at(Node ctx, u32 n) { return context_words_head(context_cell(ctx)) + n; }
ValueCell* object_values(const ValueCell* obj) { return context_values_head(ctx_of(obj)); }
u32 object_word_count(const ValueCell* obj) { return context_word_count(ctx_of(obj)); }

i32 object_find_word(const ValueCell* obj, const ValueCell* word) {
    return context_field_index(context_of(obj), word_symbol(word));
}

const ValueCell* object_select_word(const ValueCell* obj, const ValueCell* word) {
    i32 i = object_find_word(obj, word);
    return i < 0 ? &g_none_cell : object_values(obj) + i;
}

void object_refresh_owner(const ValueCell* obj) { *context_owner(context_of(obj)) = *obj; }

ValueCell* object_make_at(ValueCell* cell, u32 n) {
    Node ctx = context_create(n, false, true, nullptr, CTX_OBJECT);
    cell_init(cell, TYPE_OBJECT, ctx, OBJECT_CLASS_EMPTY, 0);
    object_refresh_owner(cell);
    return cell;
}

ValueCell* object_push(Node ctx, Node events, u32 class_id) {
    ValueCell* c = stack_push_cell();
    cell_init(c, TYPE_OBJECT, ctx, class_id, events);
    object_refresh_owner(c);
    return c;
}

ValueCell* object_push_from_context(Node ctx, u32 class_id) {
    ValueCell* c = context_cell(ctx);
    u32 n = context_word_count(c);
    if (!context_on_stack(c)) {
        SeriesBuffer* vb = node_buffer(context_values(c));
        if (vb->used_bytes() > n * 16) vb->tail = vb->head + n * 16;
    }
    return object_push(ctx, 0, class_id);
}

bool word_value_is_object_q(const ValueCell* word, u32 class_id) {
    ValueCell w = *word;
    const ValueCell* v = context_get(&w);
    return v->type() == TYPE_OBJECT && object_class(v) == class_id;
}

bool object_value_is_object_q(Node ctx, u32 n, u32 class_id) {
    const ValueCell* v = context_values_head(context_cell(ctx)) + n;
    return v->type() == TYPE_OBJECT && object_class(v) == class_id;
}

void cells_clear_changed(Node ctx) {
    ValueCell* c = context_cell(ctx);
    ValueCell* w = context_words_head(c);
    u32 n = context_word_count(c);
    for (u32 i = 0; i < n; i++) w[i].header &= ~WORD_ASSIGNED;
}

// ---- change handlers ---------------------------------------------------------------------------

Node object_event_record_make(i32 change_index, i32 change_count, i32 deep_index,
                              i32 deep_count) {
    Node rec = alloc_cells(2);
    SeriesBuffer* b = node_buffer(rec);
    b->tail = b->head + 32;
    ValueCell* c = b->head_cells();
    auto slot = [](ValueCell* cell, i32 index, i32 count) {
        u32 idx = index < 0 ? 0xFFFFu : static_cast<u32>(index) & 0xFFFFu;
        cell_init(cell, TYPE_PAIR, 0, (idx << 16) | (static_cast<u32>(count < 0 ? 0 : count) & 0xFFFFu),
                  0);
    };
    slot(c, change_index, change_count);
    slot(c + 1, deep_index, deep_count);
    return rec;
}

ObjectHandlerSlot object_event_slot(Node record, u32 which) {
    const ValueCell* c = node_buffer(record)->head_cells() + which;
    ObjectHandlerSlot s;
    s.index = pair_x(c) >> 16;
    s.locals = pair_x(c) & 0xFFFF;
    s.identity = static_cast<u32>(pair_y(c));
    return s;
}

Node object_attach_events(Node ctx, i32 change_index, i32 change_count, i32 deep_index,
                          i32 deep_count) {
    ValueCell* obj = stack_top_value();
    Node rec = object_event_record_make(change_index, change_count, deep_index, deep_count);
    set_object_record(obj, rec);
    // The counts are given: they belong to the handlers stored now.
    ValueCell* vals = context_values_head(context_cell(ctx));
    ValueCell* cells = node_buffer(rec)->head_cells();
    const i32 idx[2] = {change_index, deep_index};
    for (u32 k = 0; k < 2; k++) {
        if (idx[k] >= 0 && vals[idx[k]].type() == TYPE_FUNCTION)
            pair_make_at(cells + k, pair_x(cells + k), static_cast<i32>(callable_spec(vals + idx[k])));
    }
    object_refresh_owner(obj);
    if (deep_index >= 0) {
        ValueCell* o = stack_push(obj);
        ownership_bind_object(o, o, o);
        stack_pop(1);
    }
    return rec;
}

void object_update_events(ValueCell* obj, Node ctx) {
    ValueCell* c = context_cell(ctx);
    i32 ci = context_find_word(c, on_change_symbol(), true);
    i32 di = context_find_word(c, on_deep_change_symbol(), true);
    const i32 found[2] = {ci, di};
    for (i32 i : found) {
        if (i < 0) continue;
        ValueCell v = context_values_head(context_cell(ctx))[i];
        if (v.type() != TYPE_FUNCTION && v.type() != TYPE_ROUTINE) {
            ValueCell w = bound_word(ctx, static_cast<u32>(i));
            ValueCell* held = stack_push(&w);
            ValueCell* dt = datatype_push(v.type());
            fire(Err::script_bad_field_set, held, dt);
        }
    }
    if (ci >= 0 || di >= 0) {
        Node rec = object_event_record_make(ci, 0, di, 0);
        set_object_record(obj, rec);
        object_refresh_owner(obj);
        if (di >= 0) {
            ValueCell* o = stack_push(obj);
            ownership_bind_object(o, o, o);
            stack_pop(1);
        }
    } else {
        set_object_record(obj, 0);
    }
    object_refresh_owner(obj);
}

ValueCell* object_handler_due(ValueCell* obj, u32 which, i32* locals) {
    if (!object_record(obj)) return nullptr;
    ObjectHandlerSlot s = object_event_slot(object_record(obj), which);
    if (s.index < 0 || static_cast<u32>(s.index) >= object_word_count(obj)) return nullptr;
    ValueCell* h = object_values(obj) + s.index;
    if (h->type() != TYPE_FUNCTION) {
        if (which == 1) return nullptr;
        ValueCell v = *h;
        fire(Err::script_invalid_obj_evt, &v);
    }
    if (s.identity != callable_spec(h)) {
        i32 n = function_refinement_arity(callable_spec(h), 0, false);
        ValueCell* cell = node_buffer(object_record(obj))->head_cells() + which;
        u32 packed = (static_cast<u32>(s.index) << 16) | (static_cast<u32>(n) & 0xFFFFu);
        pair_make_at(cell, static_cast<i32>(packed), static_cast<i32>(callable_spec(h)));
        s.locals = n;
    }
    if (locals) *locals = s.locals;
    return object_values(obj) + s.index;
}

void object_fire_on_change(ValueCell* obj, ValueCell* word, ValueCell* old_value,
                           ValueCell* new_value) {
    TopGuard top;
    ValueCell* o = stack_push(obj);
    ValueCell args[3] = {*word, *old_value, *new_value};
    i32 locals = 0;
    ValueCell* h = object_handler_due(o, 0, &locals);
    if (!h) {
        top.restore();
        return;
    }
    ValueCell* fn = stack_push(h);
    if (word_binding(&args[0]) != context_of(o)) {
        ValueCell* w = push_bound(&args[0], context_of(o));
        args[0] = *w;
    }
    call_handler(fn, context_of(o), on_change_symbol(), args, 3, locals, CALLBACK_ON_CHANGE);
    top.restore();
}

void object_fire_on_deep_change(ValueCell* owner, ValueCell* word, ValueCell* target,
                                ValueCell* action, ValueCell* new_value, i32 index, i32 part) {
    TopGuard top;
    ValueCell* o = stack_push(owner);
    if (!object_record(o)) fire(Err::script_invalid_obj_evt, o);
    i32 locals = 0;
    ValueCell* h = object_handler_due(o, 1, &locals);
    if (!h) {
        top.restore();
        return;
    }
    ValueCell* fn = stack_push(h);
    ValueCell args[7];
    args[0] = *o;
    args[1] = *word;
    args[2] = *target;
    args[3] = *action;
    args[4] = new_value ? *new_value : g_none_cell;
    integer_box(&args[5], index);
    integer_box(&args[6], part);
    call_handler(fn, context_of(o), on_deep_change_symbol(), args, 7, locals, CALLBACK_ON_DEEP_CHANGE);
    top.restore();
}

// ---- duplication -------------------------------------------------------------------------------

void object_rebind_function(ValueCell* fn, Node ctx) {
    TopGuard top;
    ValueCell* f = stack_push(fn);
    ValueCell body = *function_more(f, MORE_BODY);
    if (body.type() != TYPE_BLOCK) fire(Err::script_bad_func_def, f);
    ValueCell* b = stack_push(&body);
    ValueCell* copy = stack_push_cell();
    block_clone(b, copy, true, true);
    cell_set_type(copy, TYPE_BLOCK);
    context_bind(copy, context_cell(ctx), true);
    ValueCell* spec = stack_push_cell();
    cell_init(spec, TYPE_BLOCK, 0, callable_spec(f));
    const ValueCell* entry = function_more(f, MORE_ENTRY);
    u32 e = entry->type() == TYPE_INTEGER ? static_cast<u32>(integer_get(entry)) : 0;
    // A compiled function is called with its owner context: the new object.
    const ValueCell* extra = function_more(f, MORE_EXTRA);
    i32 x = extra->type() == TYPE_INTEGER ? (e ? static_cast<i32>(ctx) : integer_get(extra)) : 0;
    u32 flags = f->header & (FUNCTION_TRACE | FUNCTION_NO_TRACE);
    function_create_own_spec(spec, copy, 0, e, x, flags);
    ValueCell made = *stack_top_value();
    top.restore();
    *fn = made;
}

ValueCell* object_duplicate(ValueCell* src, ValueCell* dst, bool deep, ValueCell* types,
                            bool reset_events) {
    TopGuard top;
    CycleScope cycles;
    ValueCell* s = stack_push(src);
    if (types) {
        if (cycles_find(context_of(s))) fire(Err::internal_no_cycle);
        cycles_push(context_of(s));
    }
    ValueCell* d = stack_push(src);
    u32 n = context_word_count(ctx_of(s));
    Node ctx = context_clone(d, CTX_OBJECT);
    if (n) std::memcpy(context_values_head(context_cell(ctx)), object_values(s), n * 16u);
    set_object_record(d, reset_events ? 0 : object_record(s));
    object_refresh_owner(d);
    for (u32 i = 0; i < n; i++) {
        u32 t = context_values_head(context_cell(ctx))[i].type();
        if (t == TYPE_FUNCTION) rebind_function_at(ctx, i);
        else if (deep && !types && copied_kind(t)) copy_value_at(ctx, i, true);
    }
    if (types) {
        ValueCell* vals = stack_push_cell();
        cell_init(vals, TYPE_BLOCK, 0, context_values(context_cell(ctx)));
        block_copy_nested(vals, 0, n, types, deep);
    }
    if (reset_events) object_update_events(d, ctx);
    ValueCell made = *d;
    top.restore();
    *dst = made;
    return dst;
}

ValueCell* object_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                       ValueCell* types) {
    if (part) {
        ValueCell p = *part;
        ValueCell* word = stack_push_cell();
        cell_init(word, TYPE_REFINEMENT, 0, symbol_make("part"), static_cast<u32>(-1));
        fire(Err::script_invalid_refine_arg, word, &p);
    }
    return object_duplicate(value, fresh, deep, types, true);
}

// ---- make, construct, set ------------------------------------------------------------------------

namespace {
// The set-words of a block from its position (not of the blocks in it).
u32 set_words_in(const ValueCell* block) {
    SeriesBuffer* b = series_of(block);
    i32 len = static_cast<i32>(b->used_bytes() / 16);
    i32 start = series_index(block) < 0 ? 0 : series_index(block);
    u32 n = 0;
    for (i32 i = start; i < len; i++)
        if (b->head_cells()[i].type() == TYPE_SET_WORD) n++;
    return n;
}
}  // namespace

ValueCell* object_make(ValueCell* proto, ValueCell* spec, u32) {
    ValueCell* res = unset_push();
    ValueCell* pr = stack_push(proto);
    ValueCell* sp = stack_push(spec);
    bool proto_obj = pr->type() == TYPE_OBJECT;
    if (proto_obj) {
        object_duplicate(pr, res, true, nullptr, false);
        res->set_type(TYPE_OBJECT);
    } else {
        // Room for the set-words of a spec block at once: the word table
        // then need not grow while they are collected.
        object_make_at(res, 4 + (sp->type() == TYPE_BLOCK ? set_words_in(sp) : 0));
    }
    Node ctx = context_of(res);
    u32 proto_words = context_word_count(context_cell(ctx));
    u32 class_id = proto_obj ? object_class(pr) : object_class(res);
    if (object_like(sp->type())) {
        u32 n = object_word_count(sp);
        for (u32 i = 0; i < n; i++) {
            ValueCell w = *object_word_at(context_of(sp), i);
            i32 k = context_add_word(context_cell(ctx), &w);
            context_values_head(context_cell(ctx))[k] = object_values(sp)[i];
        }
        u32 total = context_word_count(context_cell(ctx));
        for (u32 i = 0; i < total; i++) {
            u32 t = context_values_head(context_cell(ctx))[i].type();
            if (t == TYPE_FUNCTION) rebind_function_at(ctx, i);
            else if (copied_kind(t)) copy_value_at(ctx, i, false);
        }
        if (total > proto_words) class_id = object_new_class_id();
    } else if (sp->type() == TYPE_BLOCK) {
        bool grew = context_collect_set_words(context_cell(ctx), sp);
        context_bind(sp, context_cell(ctx), true);
        if (proto_obj) {
            // Inherited blocks were copied by the duplication; their words
            // now refer to the new object.
            for (u32 i = 0; i < proto_words; i++) {
                ValueCell v = context_values_head(context_cell(ctx))[i];
                if (!type_block_like(v.type())) continue;
                ValueCell* held = stack_push(&v);
                context_bind(held, context_cell(ctx), true);
                stack_pop(1);
            }
        }
        ValueCell* top = g_stack.top;
        g_interp_hooks.eval_block(sp);
        g_stack.top = top;
        cells_clear_changed(ctx);
        ValueCell* vals = context_values_head(context_cell(ctx));
        u32 total = context_word_count(context_cell(ctx));
        for (u32 i = 0; i < total; i++) vals[i].header &= ~CELL_NEW_LINE;
        if (grew || !proto_obj) class_id = object_new_class_id();
    } else {
        fire(Err::syntax_malconstruct, sp);
    }
    set_object_class(res, class_id);
    object_refresh_owner(res);
    object_update_events(res, ctx);
    g_stack.top = res + 1;
    return res;
}

ValueCell* object_construct(ValueCell* spec, ValueCell* proto, bool only) {
    ValueCell* res = unset_push();
    ValueCell* sp = stack_push(spec);
    bool proto_obj = proto && proto->type() == TYPE_OBJECT;
    if (proto_obj) {
        object_duplicate(proto, res, true, nullptr, false);
    } else {
        object_make_at(res, 4);
        set_object_class(res, object_new_class_id());
    }
    Node ctx = context_of(res);
    u32 before = context_word_count(context_cell(ctx));
    i32 len = block_length(sp);
    for (i32 i = 0; i < len;) {
        ValueCell c = block_head_ptr(sp)[i];
        if (c.type() != TYPE_SET_WORD) {
            i++;
            continue;
        }
        i32 run_end = i;
        while (run_end < len && block_head_ptr(sp)[run_end].type() == TYPE_SET_WORD) run_end++;
        ValueCell value = run_end < len ? block_head_ptr(sp)[run_end] : g_none_cell;
        if (!only && value.type() == TYPE_WORD) {
            u32 s = canon(word_symbol(&value));
            if (s == canon(g_sym.true_) || s == canon(g_sym.yes) || s == canon(g_sym.on))
                logic_box(&value, true);
            else if (s == canon(g_sym.false_) || s == canon(g_sym.no) || s == canon(g_sym.off))
                logic_box(&value, false);
            else if (s == canon(g_sym.none))
                none_box(&value);
        }
        value.header &= ~CELL_NEW_LINE;
        for (i32 k = i; k < run_end; k++) {
            ValueCell w = block_head_ptr(sp)[k];
            i32 idx = context_add_word(context_cell(ctx), &w);
            context_values_head(context_cell(ctx))[idx] = value;
        }
        i = run_end + 1;
    }
    if (proto_obj && context_word_count(context_cell(ctx)) > before)
        set_object_class(res, object_new_class_id());
    object_refresh_owner(res);
    g_stack.top = res + 1;
    return res;
}

void object_set_many(ValueCell* obj, ValueCell* values, bool any, bool only, bool some) {
    TopGuard top;
    ValueCell* o = stack_push(obj);
    ValueCell* v = stack_push(values);
    Node ctx = context_of(o);
    u32 n = context_word_count(context_cell(ctx));
    enum { POSITIONAL, BY_WORD, EVERY } mode =
        only ? EVERY : v->type() == TYPE_BLOCK ? POSITIONAL : object_like(v->type()) ? BY_WORD : EVERY;
    // The value that word i would take; false when it is left alone.
    auto source = [&](u32 i, ValueCell* out) -> bool {
        switch (mode) {
            case POSITIONAL: {
                i32 len = block_length(v);
                *out = static_cast<i32>(i) < len ? block_head_ptr(v)[i] : g_none_cell;
                return true;
            }
            case BY_WORD: {
                ValueCell w = *object_word_at(ctx, i);
                i32 k = context_find_word(ctx_of(v), word_symbol(&w), true);
                if (k < 0) return false;
                *out = object_values(v)[k];
                return true;
            }
            default:
                *out = *v;
                return true;
        }
    };
    if (!only && !some && !any) {
        for (u32 i = 0; i < n; i++) {
            ValueCell val;
            if (source(i, &val) && val.type() == TYPE_UNSET) {
                ValueCell w = bound_word(ctx, i);
                fire(Err::script_need_value, &w);
            }
        }
    }
    for (u32 i = 0; i < n; i++) {
        ValueCell val;
        if (!source(i, &val)) continue;
        if (some && val.type() == TYPE_NONE) continue;
        val.header &= ~CELL_NEW_LINE;
        ValueCell* w = stack_push_cell();
        *w = bound_word(ctx, i);
        ValueCell* nv = stack_push(&val);
        if (object_record(o) && !is_handler_word(word_symbol(w))) {
            ValueCell* old = stack_push(context_values_head(context_cell(ctx)) + i);
            context_set_word(w, nv, context_cell(ctx), false);
            object_fire_on_change(o, w, old, nv);
        } else {
            context_set_word(w, nv, context_cell(ctx), false);
        }
        g_stack.top = w;
    }
    top.restore();
}

// ---- reflection -------------------------------------------------------------------------------------

ValueCell* object_body_of(ValueCell* obj) {
    ValueCell* o = stack_push(obj);
    Node ctx = context_of(o);
    u32 n = context_word_count(context_cell(ctx));
    ValueCell* out = block_push_new(n * 2);
    for (u32 i = 0; i < n; i++) {
        ValueCell w = bound_word(ctx, i);
        w.header = TYPE_SET_WORD | CELL_NEW_LINE;
        block_append_cell(out, &w);
        ValueCell v = context_values_head(context_cell(ctx))[i];
        if (v.header == 0) cell_init(&v, TYPE_UNSET);
        if (v.type() == TYPE_WORD) v.set_type(TYPE_LIT_WORD);
        else if (v.type() == TYPE_PATH) v.set_type(TYPE_LIT_PATH);
        v.header &= ~CELL_NEW_LINE;
        block_append_cell(out, &v);
    }
    ValueCell r = *out;
    stack_pop(2);
    return stack_push(&r);
}

void object_reflect(ValueCell* obj, u32 field) {
    ValueCell* o = stack_push(obj);
    Node ctx = context_of(o);
    u32 f = canon(field);
    u32 n = context_word_count(context_cell(ctx));
    ValueCell result;
    if (f == canon(symbol_make("changed")) || f == canon(g_sym.words)) {
        bool changed_only = f != canon(g_sym.words);
        ValueCell* out = block_push_new(n);
        for (u32 i = 0; i < n; i++) {
            if (changed_only && !(object_word_at(ctx, i)->header & WORD_ASSIGNED)) continue;
            ValueCell w = bound_word(ctx, i);
            block_append_cell(out, &w);
        }
        result = *out;
    } else if (f == canon(g_sym.class_)) {
        integer_box(&result, static_cast<i32>(object_class(o)));
    } else if (f == canon(g_sym.values)) {
        ValueCell* out = block_push_new(n);
        for (u32 i = 0; i < n; i++) {
            ValueCell v = context_values_head(context_cell(ctx))[i];
            if (v.header == 0) cell_init(&v, TYPE_UNSET);
            block_append_cell(out, &v);
        }
        result = *out;
    } else if (f == canon(g_sym.body)) {
        result = *object_body_of(o);
    } else if (f == canon(g_sym.owner)) {
        logic_box(&result, (context_cell(ctx)->header & CONTEXT_IS_OWNER) != 0);
    } else if (f == canon(g_sym.events_q)) {
        logic_box(&result, object_record(o) != 0);
    } else {
        not_done();
    }
    *stack_result() = result;
}

// ---- comparison -------------------------------------------------------------------------------------

i32 object_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (!object_like(value2->type())) return CMP_NOT_COMPARABLE;
    if (context_of(value1) == context_of(value2)) return 0;
    if (op == CMP_SAME) return -1;
    if (cycles_find(context_of(value1))) return cycles_find(context_of(value2)) ? 0 : -1;
    TopGuard top;
    ValueCell* a = stack_push(value1);
    ValueCell* b = stack_push(value2);
    u32 na = object_word_count(a), nb = object_word_count(b);
    if (na != nb) {
        top.restore();
        return na < nb ? -1 : 1;
    }
    CycleScope cycles;
    cycles_push(context_of(a));
    cycles_push(context_of(b));
    for (u32 i = 0; i < na; i++) {
        u32 sa = canon(word_symbol(object_word_at(context_of(a), i)));
        u32 sb = canon(word_symbol(object_word_at(context_of(b), i)));
        if (sa != sb) {
            top.restore();
            return sa < sb ? -1 : 1;
        }
    }
    for (u32 i = 0; i < na; i++) {
        ValueCell* va = stack_push(object_values(a) + i);
        ValueCell* vb = stack_push(object_values(b) + i);
        if (va->header == 0) cell_init(va, TYPE_UNSET);
        if (vb->header == 0) cell_init(vb, TYPE_UNSET);
        u32 ta = va->type(), tb = vb->type();
        i32 r;
        if (ta != tb && !(any_word_type_q(ta) && any_word_type_q(tb)) &&
            !(dt::is_number(ta) && dt::is_number(tb))) {
            r = ta < tb ? -1 : 1;
        } else {
            r = action_compare_int(va, vb, op);
        }
        stack_pop(2);
        if (r != 0) {
            top.restore();
            return r;
        }
    }
    top.restore();
    return 0;
}

// ---- field access -----------------------------------------------------------------------------------

ValueCell* object_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                            ValueCell* path, ValueCell*, ValueCell*, i32, bool, bool lenient,
                            bool, bool) {
    u32 et = element->type();
    auto fail = [&](Err id) {
        ValueCell* p = stack_push(path ? path : &g_none_cell);
        ValueCell* e = stack_push(element);
        fire(id, p, e);
    };
    if (!(et == TYPE_WORD || et == TYPE_SET_WORD || et == TYPE_GET_WORD || et == TYPE_LIT_WORD))
        fail(Err::script_invalid_path);
    Node ctx = context_of(parent);
    // The element caches its binding to the object it was last applied to.
    if (word_binding(element) != ctx || word_index(element) < 0) {
        i32 i = context_field_index(ctx, word_symbol(element));
        if (i >= 0) {
            set_word_binding(element, ctx);
            set_word_index(element, i);
        } else {
            if (!value && lenient) return unset_push();
            fail(Err::script_invalid_path);
        }
    }
    u32 index = static_cast<u32>(word_index(element));
    if (!value) {
        ValueCell* v = context_values_head(context_cell(ctx)) + index;
        if ((v->header == 0 || v->type() == TYPE_UNSET) && !lenient) fail(Err::script_unset_path);
        return v;
    }
    TopGuard top;
    ValueCell* o = stack_push(parent);
    ValueCell* w = stack_push_cell();
    *w = bound_word(ctx, index);
    ValueCell* nv = stack_push(value);
    if (object_record(o)) {
        ValueCell* old = stack_push(context_values_head(context_cell(ctx)) + index);
        context_set_word(w, nv, context_cell(ctx), false);
        object_fire_on_change(o, w, old, nv);
    } else {
        context_set_word(w, nv, context_cell(ctx), false);
    }
    top.restore();
    return value;
}

ValueCell* object_select(ValueCell* obj, ValueCell* key, ValueCell*, bool, bool, bool, bool,
                         ValueCell*, ValueCell*, bool, bool) {
    if (!any_word_type_q(key->type())) {
        ValueCell* dt = datatype_push(key->type());
        fire(Err::script_invalid_type, dt);
    }
    i32 i = object_find_word(obj, key);
    if (i < 0) return none_push();
    return stack_push(object_values(obj) + i);
}

ValueCell* object_put(ValueCell* obj, ValueCell* key, ValueCell* value, bool case_sensitive) {
    if (key->type() != TYPE_WORD) {
        ValueCell* dt = datatype_push(key->type());
        fire(Err::script_invalid_key_type, dt);
    }
    ValueCell* k = stack_push(key);
    object_eval_path(obj, k, value, nullptr, nullptr, nullptr, 0, case_sensitive, false, true,
                     false);
    return value;
}

ValueCell* object_modify(ValueCell* obj, ValueCell* field, ValueCell* value, bool) {
    if (!any_word_type_q(field->type())) return obj;
    u32 f = canon(word_symbol(field));
    if (f == canon(symbol_make("changed"))) {
        if (value->type() != TYPE_NONE) {
            ValueCell v = *value;
            fire(Err::script_invalid_arg, &v);
        }
        cells_clear_changed(context_of(obj));
    } else if (f == canon(g_sym.owner)) {
        ValueCell* o = stack_push(obj);
        ownership_bind_object(o, o, o);
        stack_pop(1);
    } else if (f == canon(g_sym.owned)) {
        if (value->type() == TYPE_NONE) {
            ownership_release(obj);
        } else if (value->type() == TYPE_BLOCK && block_length(value) >= 2) {
            ValueCell* o = stack_push(obj);
            ValueCell* owner = stack_push(block_head_ptr(value));
            ValueCell* word = stack_push(block_head_ptr(value) + 1);
            ownership_bind_object(o, owner, word);
            stack_pop(3);
        }
    }
    return obj;
}

void object_init() {
    ActionRow row;
    row.set<ACT_MAKE>(object_make)
        .set<ACT_REFLECT>(object_reflect)
        .set<ACT_FORM>(object_form)
        .set<ACT_MOLD>(object_mold)
        .set<ACT_EVAL_PATH>(object_eval_path)
        .set<ACT_COMPARE>(object_compare)
        .set<ACT_COPY>(object_copy)
        .set<ACT_PUT>(object_put)
        .set<ACT_SELECT>(object_select)
        .set<ACT_MODIFY>(object_modify);
    datatype_register(TYPE_OBJECT, row);
    g_services.object_fire_on_change = object_fire_on_change;
}

// ---- text forms -------------------------------------------------------------------------------------

i32 object_mold_body(ValueCell* obj, ValueCell* out, bool, bool all, bool flat,
                     ValueCell* arg_limit, i32 limit, i32 indent, bool mold_mode) {
    TopGuard top;
    ValueCell* o = stack_push(obj);
    Node ctx = context_of(o);
    CycleScope cycles;
    cycles_push(ctx);
    u32 n = context_word_count(context_cell(ctx));
    bool first = true;
    for (u32 i = 0; i < n; i++) {
        if (arg_limit && limit <= 0) break;
        ValueCell w = *object_word_at(ctx, i);
        if (!all && is_handler_word(word_symbol(&w))) continue;
        if (mold_mode && flat) {
            if (!first) limit = callable::emit(out, " ", limit);
        } else if (mold_mode) {
            limit = callable::emit(out, "\n", limit);
            limit = mold_indent(out, indent + 1, limit);
        } else if (!first) {
            limit = callable::emit(out, "\n", limit);
        }
        first = false;
        limit = callable::emit(out, symbol_to_cstr(word_symbol(&w)), limit);
        limit = callable::emit(out, ": ", limit);
        ValueCell* v = stack_push(context_values_head(context_cell(ctx)) + i);
        if (v->header == 0) cell_init(v, TYPE_UNSET);
        if (v->type() == TYPE_WORD) limit = callable::emit(out, "'", limit);
        limit = action_mold_dispatch(v, out, false, all, flat, arg_limit, limit,
                                     mold_mode ? indent + 1 : indent);
        stack_pop(1);
    }
    if (mold_mode && !flat && !first && !(arg_limit && limit <= 0)) {
        limit = callable::emit(out, "\n", limit);
        limit = mold_indent(out, indent, limit);
    }
    top.restore();
    return limit;
}

i32 object_form(ValueCell* obj, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    if (cycles_detect(obj, out, &limit, false)) return limit;
    return object_mold_body(obj, out, false, false, false, arg_limit, limit, 0, false);
}

i32 object_mold(ValueCell* obj, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent) {
    if (cycles_detect(obj, out, &limit, true)) return limit;
    if (only) return object_mold_body(obj, out, true, all, flat, arg_limit, limit, indent, false);
    limit = callable::emit(out, "make object! [", limit);
    limit = object_mold_body(obj, out, false, all, flat, arg_limit, limit, indent, true);
    return callable::emit(out, "]", limit);
}

void object_state_reset() { g_object_class_counter = OBJECT_CLASS_ERROR; }

}  // namespace zan

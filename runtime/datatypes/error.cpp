// error!: making errors, the error report, and the services through which
// the rest of the runtime raises and prints them.
#include "runtime/datatypes/error.h"

#include <cstdio>
#include <cstring>

#include "runtime/core/collector.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/typesystem/error_catalog.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/typesystem/stack_report.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

constexpr const char* kFieldNames[ERROR_FIELD_COUNT] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};

ValueCell g_proto{TYPE_NONE, 0, 0, 0};
bool g_proto_rooted = false;

// Message arguments and the near and files lines are cut to these lengths.
constexpr i32 ARG_TEXT_LIMIT = 80;
constexpr i32 NEAR_TEXT_LIMIT = 40;

inline u32 canon(u32 s) { return symbol_resolve(s); }

struct TopGuard {
    ValueCell* saved = g_stack.top;
    void restore() { g_stack.top = saved; }
};

ValueCell plain_word(const char* name) {
    ValueCell w;
    cell_init(&w, TYPE_WORD, 0, symbol_make(name), static_cast<u32>(-1));
    return w;
}

// A word of the catalogue (a category or an id) as a word! value.
ValueCell catalog_word(Node ctx, u32 n) {
    ValueCell w = *object_word_at(ctx, n);
    w.header = TYPE_WORD;
    return w;
}

// The index of a category word in the catalogue, or -1.
i32 find_category(u32 symbol) {
    Node cats = error_catalog_categories();
    i32 k = context_find_word(context_cell(cats), symbol, true);
    if (k < 0 || !error_catalog_category(static_cast<u32>(k))) return -1;
    return k;
}

// The position (from 0, code and type at 0 and 1) of an id word in a
// category, or -1 when the category has no such id.
i32 find_id(Node category, u32 symbol) {
    i32 i = context_find_word(context_cell(category), symbol, true);
    return i >= 2 ? i : -1;
}

// Values here are kept in C++ locals instead of on the data stack: the
// routines that make them hold the collector off (GcHold) meanwhile.

// A new error, a copy of the prototype, made into out. Uses almost no data
// stack, so that the error of a stack overflow can be built in the few
// cells the overflow leaves free. The caller holds the collector off.
void new_error_into(ValueCell* out) {
    ValueCell e = *error_prototype();
    u32 n = object_word_count(&e);
    const ValueCell* proto_values = object_values(&e);
    context_clone(&e, CTX_OBJECT);
    if (n) std::memcpy(object_values(&e), proto_values, n * 16u);
    e.set_type(TYPE_ERROR);
    set_object_class(&e, OBJECT_CLASS_ERROR);
    set_object_record(&e, 0);
    object_refresh_owner(&e);
    *out = e;
}

// A new error pushed on the data stack.
ValueCell* new_error() {
    GcHold hold;
    ValueCell e;
    new_error_into(&e);
    return stack_push(&e);
}

void set_field(ValueCell* err, u32 n, const ValueCell* value) {
    ValueCell v = *value;
    *error_field(err, n) = v;
}

void fill_ids(ValueCell* err, u32 category, u32 position) {
    Node cat = error_catalog_category(category);
    ValueCell code;
    integer_box(&code, static_cast<i32>(category * 100 + position - 2));
    set_field(err, ERR_FIELD_CODE, &code);
    ValueCell type = catalog_word(error_catalog_categories(), category);
    set_field(err, ERR_FIELD_TYPE, &type);
    ValueCell id = catalog_word(cat, position);
    set_field(err, ERR_FIELD_ID, &id);
}

void set_near(ValueCell* err) {
    if (!g_interp_hooks.position) return;
    if (const ValueCell* p = g_interp_hooks.position()) set_field(err, ERR_FIELD_NEAR, p);
}

// Moves the error cell to the top of the stack as it was when the builder
// started, and returns it.
ValueCell* finish(TopGuard& top, ValueCell* err) {
    ValueCell e = *err;
    top.restore();
    return stack_push(&e);
}

[[noreturn]] void spec_field_error(const char* field) {
    ValueCell w = plain_word(field);
    fire(Err::script_invalid_spec_field, &w);
}

const ValueCell* setting(const ValueCell* (*getter)()) { return getter ? getter() : nullptr; }

i32 stack_trace_level() {
    const ValueCell* v = setting(g_interp_hooks.state_stack_trace);
    return v && v->type() == TYPE_INTEGER ? integer_get(v) : 0;
}

// Appends the value formed (or molded flat), cut to max characters.
i32 append_cut(ValueCell* out, ValueCell* value, bool mold, bool only, i32 max, i32 limit) {
    ValueCell* tmp = string_push_new(16);
    ValueCell* v = stack_push(value);
    ValueCell lim;
    integer_box(&lim, max);
    if (mold) action_mold_dispatch(v, tmp, only, false, true, &lim, max, 0);
    else action_form_dispatch(v, tmp, &lim, max);
    if (string_length(tmp) > max) string_clip_length(tmp, static_cast<u32>(max));
    i32 n = string_length(tmp);
    string_concatenate(out, tmp, -1, 0, false, CONCAT_APPEND);
    stack_pop(2);
    return limit - n;
}

// Substitutes internal invalid-error for an error whose type or id the
// catalogue does not know; arg1 takes the offending word.
void make_invalid(ValueCell* err, const ValueCell* offending) {
    set_field(err, ERR_FIELD_ARG1, offending);
    Node internal = error_catalog_category(ERRCAT_internal);
    ValueCell type = catalog_word(error_catalog_categories(), ERRCAT_internal);
    set_field(err, ERR_FIELD_TYPE, &type);
    ValueCell id = catalog_word(internal, err_index(Err::internal_invalid_error) + 2);
    set_field(err, ERR_FIELD_ID, &id);
}

}  // namespace

ValueCell* error_field(const ValueCell* err, u32 n) { return object_values(err) + n; }

const ValueCell* error_prototype() {
    if (g_proto.type() != TYPE_OBJECT) {
        GcHold hold;
        ValueCell p;
        object_make_at(&p, ERROR_FIELD_COUNT);
        for (const char* name : kFieldNames) {
            ValueCell w = plain_word(name);
            context_add_word_value(context_cell(context_of(&p)), &w, &g_none_cell);
        }
        set_object_class(&p, OBJECT_CLASS_ERROR);
        object_refresh_owner(&p);
        error_set_prototype(&p);
    }
    return &g_proto;
}

void error_set_prototype(const ValueCell* proto) {
    g_proto = *proto;
    if (!g_proto_rooted) {
        gc_add_root(&g_proto);
        g_proto_rooted = true;
    }
}

// ---- making errors -----------------------------------------------------------------------------

ValueCell* error_create(Err id, const ValueCell* arg1, const ValueCell* arg2,
                        const ValueCell* arg3) {
    if (!error_catalog_ready()) raise_code(THROW_ERROR);
    GcHold hold;
    error_catalog();
    ValueCell e;
    new_error_into(&e);
    fill_ids(&e, err_category(id), err_index(id) + 2);
    set_near(&e);
    const ValueCell* args[3] = {arg1, arg2, arg3};
    for (u32 k = 0; k < 3; k++)
        if (args[k]) set_field(&e, ERR_FIELD_ARG1 + k, args[k]);
    return stack_push(&e);
}

ValueCell* error_make(ValueCell* spec) {
    TopGuard top;
    ValueCell* s = stack_push(spec);
    switch (s->type()) {
        case TYPE_INTEGER: {
            i32 code = integer_get(s);
            if (code < 0) fire(Err::script_out_of_range, s);
            u32 category = static_cast<u32>(code) / 100;
            u32 position = static_cast<u32>(code) % 100 + 2;
            if (category >= error_catalog_category_count() || !error_catalog_category(category))
                fire(Err::script_out_of_range, s);
            Node cat = error_catalog_category(category);
            if (position >= context_word_count(context_cell(cat))) fire(Err::script_out_of_range, s);
            ValueCell* err = new_error();
            fill_ids(err, category, position);
            set_near(err);
            return finish(top, err);
        }
        case TYPE_BLOCK: {
            i32 len = block_length(s);
            ValueCell first = len > 0 ? *block_head_ptr(s) : g_none_cell;
            if (first.type() == TYPE_WORD) {
                i32 k = find_category(word_symbol(&first));
                if (k < 0) spec_field_error("type");
                if (len < 2) spec_field_error("id");
                ValueCell second = block_head_ptr(s)[1];
                if (second.type() != TYPE_WORD) fire(Err::script_invalid_arg, &second);
                i32 pos = find_id(error_catalog_category(static_cast<u32>(k)), word_symbol(&second));
                if (pos < 0) spec_field_error("id");
                ValueCell* err = new_error();
                fill_ids(err, static_cast<u32>(k), static_cast<u32>(pos));
                set_near(err);
                return finish(top, err);
            }
            if (first.type() == TYPE_SET_WORD) {
                ValueCell* err = new_error();
                context_bind(s, context_cell(context_of(err)), false);
                ValueCell* mark = g_stack.top;
                g_interp_hooks.eval_block(s);
                g_stack.top = mark;
                ValueCell type = *error_field(err, ERR_FIELD_TYPE);
                i32 k = type.type() == TYPE_WORD ? find_category(word_symbol(&type)) : -1;
                if (k < 0) spec_field_error("type");
                ValueCell idw = *error_field(err, ERR_FIELD_ID);
                i32 pos = idw.type() == TYPE_WORD
                              ? find_id(error_catalog_category(static_cast<u32>(k)), word_symbol(&idw))
                              : -1;
                if (pos < 0) spec_field_error("id");
                ValueCell code;
                integer_box(&code, k * 100 + pos - 2);
                set_field(err, ERR_FIELD_CODE, &code);
                set_near(err);
                return finish(top, err);
            }
            fire(Err::internal_invalid_error);
        }
        case TYPE_STRING: {
            ValueCell* err = error_create(Err::user_message, s, nullptr, nullptr);
            return finish(top, err);
        }
        default: {
            ValueCell* dt = datatype_push(TYPE_ERROR);
            fire(Err::script_bad_make_arg, dt, s);
        }
    }
}

ValueCell* error_make_action(ValueCell*, ValueCell* spec, u32) { return error_make(spec); }

u32 error_get_type(const ValueCell* err) {
    const ValueCell* v = error_field(err, ERR_FIELD_TYPE);
    return any_word_type_q(v->type()) ? word_symbol(v) : 0;
}

u32 error_get_id(const ValueCell* err) {
    const ValueCell* v = error_field(err, ERR_FIELD_ID);
    return any_word_type_q(v->type()) ? word_symbol(v) : 0;
}

void error_capture_stack(ValueCell* err) {
    ValueCell* e = stack_push(err);
    const ValueCell* stack = error_field(e, ERR_FIELD_STACK);
    if (stack->type() == TYPE_INTEGER) {
        i32 depth = integer_get(stack);
        i32 level = stack_trace_level();
        if (level < 1) level = 1;
        // The frames between the handler and the point of the throw have been
        // unwound but not overwritten yet: read them before anything calls
        // again, and hold the collector off so their contexts stay in place.
        GcHold hold;
        ValueCell* trace = block_push_new(20);
        i32 frames = static_cast<i32>(g_stack.climit - g_stack.cbottom);
        stack_trace_words(level, trace, g_stack.cbottom + (depth < frames ? depth : frames));
        set_field(e, ERR_FIELD_STACK, trace);
        stack_pop(1);
    }
    const ValueCell* files = setting(g_interp_hooks.state_source_files);
    if (files && files->type() == TYPE_BLOCK && block_length(files) > 0) {
        ValueCell* f = stack_push(files);
        ValueCell* copy = stack_push_cell();
        block_clone(f, copy, false, false);
        set_field(e, ERR_FIELD_FILES, copy);
        stack_pop(2);
    }
    stack_pop(1);
}

ValueCell* error_arg_word_of_call(i32 n) {
    ValueCell w = *stack_calling_word();
    const ValueCell* v = nullptr;
    if (word_binding(&w) && word_index(&w) >= 0 && context_cell(word_binding(&w))->type() == TYPE_CONTEXT) {
        ValueCell* ctx = context_cell(word_binding(&w));
        ValueCell* vals = context_values_head(ctx);
        if (vals && static_cast<u32>(word_index(&w)) < context_word_count(ctx))
            v = vals + word_index(&w);
    }
    if (v) {
        u32 t = v->type();
        if (t == TYPE_FUNCTION || t == TYPE_ACTION || t == TYPE_NATIVE || t == TYPE_OP ||
            t == TYPE_ROUTINE) {
            SeriesBuffer* b = node_buffer(callable_spec(v));
            i32 k = 0;
            for (ValueCell* c = b->head_cells(); c < b->tail_cells(); c++) {
                u32 ct = c->type();
                if (ct != TYPE_WORD && ct != TYPE_LIT_WORD && ct != TYPE_GET_WORD &&
                    ct != TYPE_REFINEMENT)
                    continue;
                if (k++ == n) return stack_push(c);
            }
        }
    }
    if (g_words.n.anon) return stack_push(g_words.n.anon);
    ValueCell anon = plain_word("<anon>");
    return stack_push(&anon);
}

// ---- throwing and printing ------------------------------------------------------------------------

void error_prepare_throw(ValueCell* err) {
    if (err->type() != TYPE_ERROR || object_word_count(err) <= ERR_FIELD_STACK) return;
    if (error_field(err, ERR_FIELD_WHERE)->type() == TYPE_NONE) {
        ValueCell w = *stack_calling_word();
        set_field(err, ERR_FIELD_WHERE, &w);
    }
    if (error_field(err, ERR_FIELD_STACK)->type() != TYPE_BLOCK) {
        ValueCell depth;
        integer_box(&depth, static_cast<i32>(g_stack.ctop - g_stack.cbottom));
        set_field(err, ERR_FIELD_STACK, &depth);
    }
}

void error_print_uncaught(ValueCell* err) {
    if (g_services.native_print) {
        *stack_result() = *err;
        g_services.native_print(stack_result());
        return;
    }
    ValueCell* e = stack_push(err);
    ValueCell* out = string_push_new(64);
    if (e->type() == TYPE_ERROR) error_form(e, out, nullptr, FORM_NO_LIMIT);
    else action_form_dispatch(e, out, nullptr, FORM_NO_LIMIT);
    if (g_print_hooks.value_count) {
        print_hooks_call(out, true);
    } else {
        ValueCell* bytes = out;
        i32 n = string_length(bytes);
        for (i32 i = 0; i < n; i++) {
            u32 cp = string_char_at(bytes, static_cast<u32>(i));
            if (cp < 0x80) std::fputc(static_cast<int>(cp), stdout);
            else std::fputc('?', stdout);
        }
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    stack_pop(2);
}

// ---- the report ---------------------------------------------------------------------------------

i32 error_form(ValueCell* err, ValueCell* out, ValueCell*, i32 limit) {
    TopGuard top;
    ValueCell* e = stack_push(err);
    // A private copy of the fields, so that the substitutions of a malformed
    // error do not change the value that is formed.
    ValueCell* f = stack_push_cell();
    object_duplicate(e, f, false, nullptr, true);
    f->set_type(TYPE_ERROR);
    limit = callable::emit(out, "*** ", limit);

    // The category, then the message of the id.
    Node cat = 0;
    ValueCell type = *error_field(f, ERR_FIELD_TYPE);
    i32 k = type.type() == TYPE_WORD ? find_category(word_symbol(&type)) : -1;
    if (k < 0) {
        make_invalid(f, &type);
        k = ERRCAT_internal;
    }
    cat = error_catalog_category(static_cast<u32>(k));
    ValueCell idw = *error_field(f, ERR_FIELD_ID);
    i32 pos = idw.type() == TYPE_WORD ? find_id(cat, word_symbol(&idw)) : -1;
    if (pos < 0) {
        make_invalid(f, &idw);
        k = ERRCAT_internal;
        cat = error_catalog_category(static_cast<u32>(k));
        pos = static_cast<i32>(err_index(Err::internal_invalid_error)) + 2;
    }
    ValueCell* message = stack_push(context_values_head(context_cell(cat)) + pos);
    if (message->type() == TYPE_WORD) {
        i32 fi = context_find_word(context_cell(context_of(f)), word_symbol(message), true);
        *message = fi >= 0 ? *error_field(f, static_cast<u32>(fi)) : g_none_cell;
    }
    ValueCell* title = stack_push(context_values_head(context_cell(cat)) + 1);
    limit = action_form_dispatch(title, out, nullptr, limit);
    limit = callable::emit(out, ": ", limit);
    if (message->type() == TYPE_STRING) {
        limit = action_form_dispatch(message, out, nullptr, limit);
    } else if (message->type() == TYPE_BLOCK) {
        bool syntax = static_cast<u32>(k) == ERRCAT_syntax;
        i32 n = block_length(message);
        // An access error's message that ends in a label and an argument
        // ("reason:" :arg2) leaves both out when that argument is none: the
        // system's reason is optional there. (Elsewhere none can be the
        // value an error is about.)
        if (static_cast<u32>(k) == ERRCAT_access && n >= 2 &&
            block_head_ptr(message)[n - 2].type() == TYPE_STRING &&
            block_head_ptr(message)[n - 1].type() == TYPE_GET_WORD) {
            i32 fi = context_find_word(context_cell(context_of(f)),
                                       word_symbol(block_head_ptr(message) + n - 1), true);
            if (fi < 0 || error_field(f, static_cast<u32>(fi))->type() == TYPE_NONE) n -= 2;
        }
        for (i32 i = 0; i < n; i++) {
            if (i > 0) limit = callable::emit(out, " ", limit);
            ValueCell* item = stack_push(block_head_ptr(message) + i);
            u32 t = item->type();
            if (t == TYPE_STRING) {
                limit = action_form_dispatch(item, out, nullptr, limit);
            } else if (t == TYPE_WORD || t == TYPE_GET_WORD) {
                i32 fi = context_find_word(context_cell(context_of(f)), word_symbol(item), true);
                ValueCell* v = stack_push(fi >= 0 ? error_field(f, static_cast<u32>(fi)) : &g_none_cell);
                limit = append_cut(out, v, !syntax, false, ARG_TEXT_LIMIT, limit);
                stack_pop(1);
            } else {
                limit = action_form_dispatch(item, out, nullptr, limit);
            }
            stack_pop(1);
        }
    } else {
        ValueCell bad = *error_field(f, ERR_FIELD_TYPE);
        make_invalid(f, &bad);
    }

    limit = callable::emit(out, "\n*** Where: ", limit);
    ValueCell* where = stack_push(error_field(f, ERR_FIELD_WHERE));
    if (where->type() == TYPE_WORD || where->type() == TYPE_STRING)
        limit = action_form_dispatch(where, out, nullptr, limit);
    else
        limit = callable::emit(out, "???", limit);

    limit = callable::emit(out, "\n*** Near : ", limit);
    ValueCell* near_value = stack_push(error_field(f, ERR_FIELD_NEAR));
    limit = append_cut(out, near_value, true, true, NEAR_TEXT_LIMIT, limit);

    i32 level = stack_trace_level();
    if (level > 0) {
        ValueCell* stack = stack_push(error_field(f, ERR_FIELD_STACK));
        if (stack->type() == TYPE_INTEGER) {
            limit = callable::emit(out, "\n*** Stack: ", limit);
            limit = stack_trace_block(level, stack, out, limit);
        } else if (stack->type() == TYPE_BLOCK) {
            limit = callable::emit(out, "\n*** Stack: ", limit);
            limit = action_form_dispatch(stack, out, nullptr, limit);
        }
    }
    ValueCell* files = stack_push(error_field(f, ERR_FIELD_FILES));
    if (files->type() == TYPE_BLOCK) {
        limit = callable::emit(out, "\n*** Files: ", limit);
        limit = append_cut(out, files, true, true, NEAR_TEXT_LIMIT, limit);
    }
    top.restore();
    return limit;
}

i32 error_mold(ValueCell* err, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent) {
    if (!only) limit = callable::emit(out, "make error! [", limit);
    limit = object_mold_body(err, out, false, all, flat, arg_limit, limit, indent, true);
    if (!only) limit = callable::emit(out, "]", limit);
    return limit;
}

ValueCell* error_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool flag3) {
    if (element->type() == TYPE_WORD && canon(word_symbol(element)) == canon(g_sym.stack)) {
        ValueCell p = path ? *path : *element;
        fire(Err::script_invalid_path_set, &p);
    }
    return object_eval_path(parent, element, value, path, holder, holder_item, index,
                            case_sensitive, flag1, flag2, flag3);
}

i32 error_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_ERROR) return CMP_NOT_COMPARABLE;
    ValueCell* a = stack_push(value1);
    ValueCell* b = stack_push(value2);
    a->set_type(TYPE_OBJECT);
    b->set_type(TYPE_OBJECT);
    i32 r = object_compare(a, b, op);
    stack_pop(2);
    return r;
}

void error_init() {
    ActionRow row;
    row.set<ACT_MAKE>(error_make_action)
        .inherit({ACT_REFLECT, ACT_COPY, ACT_SELECT, ACT_FIND})
        .set<ACT_FORM>(error_form)
        .set<ACT_MOLD>(error_mold)
        .set<ACT_EVAL_PATH>(error_eval_path)
        .set<ACT_COMPARE>(error_compare);
    datatype_register(TYPE_ERROR, row);
    g_stack_error_hooks.prepare_error = error_prepare_throw;
    g_stack_error_hooks.print_uncaught = error_print_uncaught;
}

void error_state_reset() {
    cell_init(&g_proto, TYPE_NONE);
    error_catalog_reset();
}

}  // namespace zan

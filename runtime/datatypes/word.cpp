// word!, set-word!, lit-word!, get-word! and refinement!: making words from
// names and values, reading and writing through their contexts, and their
// actions. issue! is in issue.cpp.
#include "runtime/datatypes/word.h"

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/typesystem/services.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {
bool in_root_block(const ValueCell* c) {
    if (!block_node(&g_root_block)) return false;
    SeriesBuffer* b = series_of(&g_root_block);
    return c >= b->head_cells() && c < b->tail_cells();
}
}  // namespace

// ---- making ---------------------------------------------------------------------------------

ValueCell* word_root_append(const ValueCell* cell) { return block_append_cell(&g_root_block, cell); }

ValueCell* word_load(const char* name) {
    u32 sym = symbol_make(name);
    ValueCell* w = context_add_global(sym, true, true);
    if (!g_boot_flag || in_root_block(w)) return w;
    return word_root_append(w);
}

ValueCell* refinement_load(const char* name) {
    ValueCell r;
    cell_init(&r, TYPE_REFINEMENT, 0, symbol_make(name), static_cast<u32>(-1));
    return word_root_append(&r);
}

ValueCell* issue_make_at(const char* name, ValueCell* cell) {
    u32 sym = symbol_make(name);
    cell_init(cell, TYPE_ISSUE, g_global_ctx, sym, static_cast<u32>(-1));
    return cell;
}

ValueCell* word_make_at(u32 symbol, ValueCell* cell) {
    ValueCell w;
    cell_init(&w, TYPE_WORD, g_global_ctx, symbol, static_cast<u32>(-1));
    i32 i = context_add_word(context_cell(g_global_ctx), &w);
    // All spellings share the slot of the canonical entry.
    u32 slot = static_cast<u32>(word_index(context_word_at(g_global_ctx, static_cast<u32>(i))));
    cell_init(cell, TYPE_WORD, g_global_ctx, symbol, slot);
    return cell;
}

ValueCell* word_make_global(u32 symbol) {
    ValueCell* w = context_add_global(symbol, false, false);
    if (!g_boot_flag) return w;
    return word_root_append(w);
}

ValueCell* word_make_in_symbol(ValueCell* block, u32 symbol) {
    ValueCell w;
    word_make_at(symbol, &w);
    return block_append_cell(block, &w);
}

ValueCell* word_push_symbol(u32 symbol) {
    ValueCell w;
    word_make_at(symbol, &w);
    return stack_push(&w);
}

// ---- reading and writing ------------------------------------------------------------------------

ValueCell* word_push_value(ValueCell* word) {
    ValueCell* v = context_get(word);
    if (v->type() == TYPE_UNSET) fire(Err::script_no_value, word);
    return stack_push(v);
}
ValueCell* word_push_value_raw(ValueCell* word) { return stack_push(context_get(word)); }
ValueCell* get_word_push_value(ValueCell* word) { return stack_push(context_get(word)); }

void word_set_from_args() {
    ValueCell* w = stack_arg(0);
    ValueCell* v = stack_arg(1);
    if (v->type() == TYPE_UNSET) fire(Err::script_need_value, w);
    ValueCell val = *v;
    context_set(w, &val);
    *stack_result() = val;
}

namespace {
void set_unchecked() {
    ValueCell val = *stack_arg(1);
    context_set(stack_arg(0), &val);
    *stack_result() = val;
}
void get_into_result() {
    ValueCell v = *context_get(stack_arg(0));
    *stack_result() = v;
}
}  // namespace

void lit_word_set() { set_unchecked(); }
void set_word_set() { set_unchecked(); }
void get_word_set() { set_unchecked(); }
void refinement_set() { set_unchecked(); }
void lit_word_get() { get_into_result(); }
void set_word_get() { get_into_result(); }
void refinement_get() { get_into_result(); }

void word_store_result(ValueCell* slot) {
    if (stack_result()->type() == TYPE_UNSET) fire(Err::script_need_value, slot);
    *slot = *stack_result();
}

ValueCell* word_push_name(const ValueCell* word) {
    ValueCell s;
    symbol_string_cell(word_symbol(word), &s);
    return stack_push(&s);
}

ValueCell* word_symbol_entry(const ValueCell* word) { return symbol_entry(word_symbol(word)); }

// ---- make and to ----------------------------------------------------------------------------------

namespace {
// Scans text into one value with the lexer; null when the lexer is not there.
ValueCell* scan_one(ValueCell* string) {
    ValueCell* out = unset_push();
    i32 consumed = 0;
    g_services.lexer_scan_string(string, out, -1, &consumed);
    if (out->type() != TYPE_BLOCK || block_length(out) < 1) return nullptr;
    return block_head_ptr(out);
}

ValueCell* name_string(const ValueCell* word) {
    ValueCell s;
    symbol_string_cell(word_symbol(word), &s);
    return stack_push(&s);
}

ValueCell* retyped(const ValueCell* w, u32 type) {
    ValueCell* r = stack_push(w);
    r->header = type;
    return r;
}
}  // namespace

ValueCell* word_make(ValueCell*, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    switch (st) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
            return retyped(spec, type);
        case TYPE_ISSUE: case TYPE_REFINEMENT: {
            ValueCell* name = name_string(spec);
            ValueCell* v = scan_one(name);
            u32 vt = v ? v->type() : 0;
            if (vt < TYPE_WORD || vt > TYPE_GET_WORD) {
                ValueCell* dt = datatype_push(type);
                fire(Err::script_bad_to_arg, dt, spec);
            }
            ValueCell w = *v;
            i32 i = context_find_word(context_cell(g_global_ctx), word_symbol(&w), false);
            if (i >= 0) {
                set_word_binding(&w, g_global_ctx);
                set_word_index(&w, word_index(context_word_at(g_global_ctx, static_cast<u32>(i))));
            }
            return retyped(&w, type);
        }
        case TYPE_STRING: case TYPE_CHAR: {
            ValueCell* text = spec;
            if (st == TYPE_CHAR) {
                text = string_push_new(4);
                string_append_char(text, dt::char_get(spec));
            }
            ValueCell* v = scan_one(text);
            if (!v || !any_word_type_q(v->type())) fire(Err::script_invalid_chars, spec);
            ValueCell w = *v;
            return retyped(&w, type);
        }
        case TYPE_DATATYPE: {
            u32 t = datatype_get(spec) < TYPE_TABLE_SIZE ? datatype_get(spec) : 0;
            return retyped(&g_type_names[t].word, type);
        }
        case TYPE_LOGIC: {
            ValueCell w;
            word_make_at(logic_get(spec) ? g_sym.true_ : g_sym.false_, &w);
            return retyped(&w, type);
        }
        default: {
            ValueCell* dt = datatype_push(type);
            fire(Err::script_bad_to_arg, dt, spec);
        }
    }
}

// ---- form and mold -------------------------------------------------------------------------------

i32 word_form(ValueCell* word, ValueCell* out, ValueCell*, i32 limit) {
    ValueCell s;
    symbol_string_cell(word_symbol(word), &s);
    i32 n = string_length(&s);
    string_concatenate(out, &s, -1, 0, false, CONCAT_APPEND);
    return limit - n;
}

i32 word_mold(ValueCell* word, ValueCell* out, bool, bool, bool, ValueCell*, i32 limit, i32) {
    switch (word->type()) {
        case TYPE_SET_WORD:
            limit = word_form(word, out, nullptr, limit);
            string_append_char(out, ':');
            return limit - 1;
        case TYPE_GET_WORD: string_append_char(out, ':'); break;
        case TYPE_LIT_WORD: string_append_char(out, '\''); break;
        case TYPE_REFINEMENT: string_append_char(out, '/'); break;
        case TYPE_ISSUE: string_append_char(out, '#'); break;
        default: return word_form(word, out, nullptr, limit);
    }
    return word_form(word, out, nullptr, limit - 1);
}

// ---- compare --------------------------------------------------------------------------------------

i32 word_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    u32 t1 = value1->type(), t2 = value2->type();
    if (!any_word_type_q(t2)) return CMP_NOT_COMPARABLE;
    if ((t2 == TYPE_ISSUE) != (t1 == TYPE_ISSUE)) return CMP_NOT_COMPARABLE;
    u32 s1 = word_symbol(value1), s2 = word_symbol(value2);
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_FIND:
            return symbol_resolve(s1) == symbol_resolve(s2) ? 0 : 1;
        case CMP_STRICT_EQUAL:
            return t1 == t2 && s1 == s2 ? 0 : 1;
        case CMP_SAME:
            return t1 == t2 && s1 == s2 && word_binding(value1) == word_binding(value2) ? 0 : 1;
        case CMP_WORD_EXACT:
        case CMP_WORD_FOLDED: {
            bool interchangeable = (t1 == TYPE_WORD && t2 == TYPE_LIT_WORD) ||
                                   (t1 == TYPE_LIT_WORD && t2 == TYPE_WORD);
            bool same_sym = op == CMP_WORD_EXACT ? s1 == s2
                                                 : symbol_resolve(s1) == symbol_resolve(s2);
            return (interchangeable || t1 == t2) && same_sym ? 0 : 1;
        }
        default: {
            ValueCell a, b;
            symbol_string_cell(s1, &a);
            symbol_string_cell(s2, &b);
            return string_compare_values(&a, &b, op, false);
        }
    }
}

void word_index_q() {
    ValueCell* w = stack_arg(0);
    if (word_index(w) == -1) none_set_result();
    else dt::int_set_result(word_index(w) + 1);
}

// ---- registration ---------------------------------------------------------------------------------

void word_init() {
    ActionRow row;
    row.set<ACT_MAKE>(word_make)
        .set<ACT_TO>(word_make)
        .set<ACT_FORM>(word_form)
        .set<ACT_MOLD>(word_mold)
        .set<ACT_COMPARE>(word_compare)
        .set<ACT_INDEX_Q>(word_index_q);
    datatype_register(TYPE_WORD, row);
}

namespace {
void register_word_child(u32 type, bool with_index) {
    ActionRow row;
    row.set<ACT_MOLD>(word_mold).inherit({ACT_MAKE, ACT_TO, ACT_FORM, ACT_COMPARE});
    if (with_index) row.inherit({ACT_INDEX_Q});
    datatype_register(type, row);
}
}  // namespace

void lit_word_init() { register_word_child(TYPE_LIT_WORD, true); }
void set_word_init() { register_word_child(TYPE_SET_WORD, true); }
void get_word_init() { register_word_child(TYPE_GET_WORD, true); }
void refinement_init() { register_word_child(TYPE_REFINEMENT, false); }

}  // namespace zan

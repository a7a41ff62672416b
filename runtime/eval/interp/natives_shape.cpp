// Natives that build, retype, mark or query values without evaluation of
// their own: construct, value?, uppercase, lowercase, the as- combiners,
// extend, unset, new-line, new-line?, context?, as and apply.
#include <cmath>

#include "runtime/core/case_folding.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/scalar_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/eval/interp/natives_numeric.h"

namespace zan {

namespace {

bool given(const i32* refs, u32 n) { return refs[n] != -1; }
ValueCell* ref_arg(const i32* refs, u32 n) {
    return refs[n] == -1 ? nullptr : stack_arg(static_cast<u32>(refs[n]));
}

// construct block /with object /only
void native_construct(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_CONSTRUCT, refs);
    ValueCell* proto = ref_arg(refs, 0);
    ValueCell* obj = object_construct(stack_arg(0), proto, given(refs, 1));
    stack_set_last(obj);
}

// value? value: true unless the word's value is unset! (an unbound word
// has no value).
void native_value_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_VALUE_Q, refs);
    ValueCell* word = stack_arg(0);
    bool has = false;
    if (any_word_type_q(word->type()) && word_binding(word) != 0)
        has = context_get(word)->type() != TYPE_UNSET;
    logic_box(stack_result(), has);
}

// uppercase / lowercase string /part limit
void change_case(bool upper, const i32* refs) {
    ValueCell* part = ref_arg(refs, 0);
    ValueCell limit;
    if (part && part->type() == TYPE_FLOAT) {
        // A float count is truncated like every other count.
        integer_box(&limit, number_to_int(part));
        part = &limit;
    }
    case_folding_change(stack_arg(0), part, upper);
}

void native_uppercase(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_UPPERCASE, refs);
    change_case(true, refs);
}

void native_lowercase(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_LOWERCASE, refs);
    change_case(false, refs);
}

// ---- combiners --------------------------------------------------------------------------

// An integer! coordinate of as-pair: a float is truncated toward zero; one
// that has no 32-bit integer value (NaN, infinite, out of range) raises
// invalid-arg with the value.
i32 pair_coord(const ValueCell* v) {
    if (v->type() == TYPE_INTEGER) return integer_get(v);
    double d = v->get_float();
    if (std::isnan(d) || !(d > -2147483649.0 && d < 2147483648.0))
        fire(Err::script_invalid_arg, v);
    return static_cast<i32>(d);
}

float coord(const ValueCell* v) { return float_to_f32(number_to_float(v)); }

void native_as_pair(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_AS_PAIR, refs);
    i32 x = pair_coord(stack_arg(0));
    i32 y = pair_coord(stack_arg(1));
    pair_make_at(stack_result(), x, y);
}

void native_as_point2d(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_AS_POINT2D, refs);
    float x = coord(stack_arg(0));
    float y = coord(stack_arg(1));
    point2d_make_at(stack_result(), x, y);
}

void native_as_point3d(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_AS_POINT3D, refs);
    float x = coord(stack_arg(0));
    float y = coord(stack_arg(1));
    float z = coord(stack_arg(2));
    point3d_make_at(stack_result(), x, y, z);
}

// as-money currency amount
void native_as_money(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_AS_MONEY, refs);
    ValueCell* currency = stack_arg(0);
    i32 index = money_currency_index(currency);
    if (index < 0) fire(Err::script_bad_denom, currency);
    ValueCell* amount = stack_arg(1);
    ValueCell m;
    if (amount->type() == TYPE_INTEGER) money_from_integer(&m, integer_get(amount));
    else money_from_float(&m, amount->get_float(), true);
    money_set_currency(&m, static_cast<u32>(index));
    *stack_result() = m;
}

// extend obj spec /case
void native_extend(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_EXTEND, refs);
    ValueCell* target = stack_arg(0);
    // Extending an object! is reserved.
    if (target->type() != TYPE_MAP) fire(Err::internal_not_done);
    map_extend_from_block(target, stack_arg(1), given(refs, 0));
}

// unset word: the word, or every word! of a block, loses its value.
void native_unset(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_UNSET, refs);
    ValueCell* arg = stack_arg(0);
    if (arg->type() == TYPE_BLOCK) {
        // Words are copied out one at a time: a change handler may run and
        // move the block's buffer.
        i32 n = block_length(arg);
        for (i32 i = 0; i < n && i < block_length(arg); ++i) {
            ValueCell w = block_head_ptr(arg)[i];
            if (w.type() != TYPE_WORD) continue;
            context_set(&w, &g_unset_cell);
        }
    } else {
        ValueCell w = *arg;
        context_set(&w, &g_unset_cell);
    }
    unset_box(stack_result());
}

// new-line position value /all /skip size
void native_new_line(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_NEW_LINE, refs);
    ValueCell* pos = stack_arg(0);
    bool mark = logic_get(stack_arg(1));
    i32 size = 0;
    if (given(refs, 1)) {
        ValueCell* sz = stack_arg(static_cast<u32>(refs[1]));
        size = integer_get(sz);
        if (size < 1) fire(Err::script_out_of_range, sz);
    } else if (given(refs, 0)) {
        size = 1;
    }
    i32 left = series_remaining(pos, false);
    ValueCell* cell = block_head_ptr(pos);
    auto set_marker = [](ValueCell* c, bool on) {
        if (on) c->header |= CELL_NEW_LINE;
        else c->header &= ~CELL_NEW_LINE;
    };
    if (size == 0) {
        if (left > 0) set_marker(cell, mark);
        return;
    }
    for (i32 n = 0; n < left; ++n) {
        bool hit = size == 1 || n % size == 0;
        set_marker(cell + n, hit == mark);
    }
}

void native_new_line_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_NEW_LINE_Q, refs);
    ValueCell* pos = stack_arg(0);
    bool marked = series_remaining(pos, false) > 0 && block_head_ptr(pos)->new_line();
    logic_box(stack_result(), marked);
}

// context? word: the object! or function! that owns the word's context.
void native_context_q(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_CONTEXT_Q, refs);
    Node ctx = word_binding(stack_arg(0));
    if (!ctx) {
        none_box(stack_result());
        return;
    }
    *stack_result() = *context_owner(ctx);
    cell_clear_new_line(stack_result());
}

// ---- as ------------------------------------------------------------------------------------

bool block_family(u32 t) { return t == TYPE_BLOCK || t == TYPE_PAREN || type_path_like(t); }

void native_as(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_AS, refs);
    ValueCell* type_arg = stack_arg(0);
    ValueCell* spec = stack_arg(1);
    u32 target = type_arg->type() == TYPE_DATATYPE ? datatype_get(type_arg) : type_arg->type();
    u32 from = spec->type();
    bool ok = (block_family(target) && block_family(from)) ||
              (type_string_like(target) && type_string_like(from));
    if (!ok) {
        ValueCell d1, d2;
        datatype_box(&d1, from);
        datatype_box(&d2, target);
        fire(Err::script_not_same_class, &d1, &d2);
    }
    ValueCell r = *spec;
    r.set_type(target);
    *stack_result() = r;
}

// ---- apply -----------------------------------------------------------------------------------

bool applicable(u32 t) {
    return t == TYPE_FUNCTION || t == TYPE_ACTION || t == TYPE_NATIVE || t == TYPE_ROUTINE ||
           t == TYPE_OP;
}

// apply func args /all /safer
void native_apply(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_APPLY, refs);
    ValueCell* func = stack_arg(0);
    ValueCell* args = stack_arg(1);
    const ValueCell* path = nullptr;
    const ValueCell* name;
    ValueCell* callable;
    u32 t = func->type();
    if (any_word_type_q(t) || type_path_like(t)) {
        const ValueCell* word = func;
        if (type_path_like(t)) {
            if (block_length(func) < 1 || block_head_ptr(func)->type() != TYPE_WORD)
                fire(Err::script_invalid_arg, func);
            word = block_head_ptr(func);
            path = func;
        }
        ValueCell w = *word;
        callable = stack_push(context_get(&w));
        name = stack_push(&w);
    } else {
        callable = stack_push(func);
        name = g_words.n.applied;
    }
    if (!applicable(callable->type())) fire(Err::script_invalid_arg, func);
    if (callable->type() == TYPE_OP) callable->set_type(op_wrapped_type(callable));

    u32 mode = given(refs, 0) ? 1 : 2;
    if (given(refs, 1)) mode |= 4;
    stack_set_top_interpreted();
    interp_apply(callable, args, path, 0, name, mode);
}

}  // namespace

void natives_shape_init(NativeEntry* slots) {
    slots[NAT_CONSTRUCT - 1] = native_construct;
    slots[NAT_VALUE_Q - 1] = native_value_q;
    slots[NAT_UPPERCASE - 1] = native_uppercase;
    slots[NAT_LOWERCASE - 1] = native_lowercase;
    slots[NAT_AS_PAIR - 1] = native_as_pair;
    slots[NAT_AS_POINT2D - 1] = native_as_point2d;
    slots[NAT_AS_POINT3D - 1] = native_as_point3d;
    slots[NAT_AS_MONEY - 1] = native_as_money;
    slots[NAT_EXTEND - 1] = native_extend;
    slots[NAT_UNSET - 1] = native_unset;
    slots[NAT_NEW_LINE - 1] = native_new_line;
    slots[NAT_NEW_LINE_Q - 1] = native_new_line_q;
    slots[NAT_CONTEXT_Q - 1] = native_context_q;
    slots[NAT_AS - 1] = native_as;
    slots[NAT_APPLY - 1] = native_apply;
}

}  // namespace zan

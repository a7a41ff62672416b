// op!: infix operators made from a native!, action!, function! or routine!.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace {

// A function or routine usable as an operator: exactly two argument words
// before /local, /extern, return: or the end, the first a plain word!, and
// no other refinement.
bool op_spec_ok(Node spec) {
    // Making a symbol may allocate: the buffer is read afterwards.
    u32 local = symbol_make("local"), ext = symbol_make("extern");
    SeriesBuffer* b = node_buffer(spec);
    u32 args = 0;
    bool first_plain = false;
    for (ValueCell* c = b->head_cells(); c < b->tail_cells(); c++) {
        u32 t = c->type();
        if (t == TYPE_REFINEMENT) {
            u32 s = symbol_resolve(word_symbol(c));
            if (s == symbol_resolve(local) || s == symbol_resolve(ext)) break;
            return false;
        }
        if (t == TYPE_SET_WORD) break;  // return:
        if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD) {
            if (args == 0) first_plain = t == TYPE_WORD;
            args++;
        }
    }
    return args == 2 && first_plain;
}

}  // namespace

ValueCell* op_make(ValueCell*, ValueCell* spec, u32) {
    u32 t = spec->type();
    if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
        ValueCell* dt = datatype_push(t);
        fire(Err::script_invalid_type, dt);
    }
    ValueCell v = *spec;
    if (t == TYPE_FUNCTION || t == TYPE_ROUTINE) {
        if (!op_spec_ok(callable_spec(&v))) fire(Err::script_bad_op_spec);
        // The evaluator calls the operator's function through its more block.
        *function_more(&v, MORE_CALLABLE) = v;
    }
    ValueCell op;
    cell_init(&op, TYPE_OP | (t << OP_WRAPPED_SHIFT), payload_word(&v, 1), payload_word(&v, 2), payload_word(&v, 3));
    return stack_push(&op);
}

i32 op_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    return callable::emit(out, "?op?", limit);
}

i32 op_mold(ValueCell* value, ValueCell* out, bool, bool all, bool flat, ValueCell* arg_limit,
            i32 limit, i32 indent) {
    ValueCell* held = stack_push(value);
    limit = callable::emit(out, "make op! ", limit);
    if (op_wrapped_type(held) == TYPE_FUNCTION) {
        limit = callable::emit(out, "func ", limit);
        limit = callable::mold_node_as_block(callable_spec(held), out, all, flat, arg_limit, limit, indent);
        ValueCell* body = stack_push(function_more(held, MORE_BODY));
        if (body->type() == TYPE_BLOCK)
            limit = block_mold(body, out, false, all, flat, arg_limit, limit, indent);
        else
            limit = callable::emit(out, " none", limit);
        stack_pop(1);
    } else {
        limit = callable::emit(out, "[", limit);
        limit = callable::mold_node_as_block(callable_spec(held), out, all, flat, arg_limit, limit, indent);
        limit = callable::emit(out, "]", limit);
    }
    stack_pop(1);
    return limit;
}

void op_init() {
    ActionRow row;
    row.set<ACT_MAKE>(op_make)
        .inherit({ACT_REFLECT})
        .set<ACT_FORM>(op_form)
        .set<ACT_MOLD>(op_mold)
        .set<ACT_COMPARE>(native_compare);
    datatype_register(TYPE_OP, row);
}

}  // namespace zan

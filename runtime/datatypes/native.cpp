// native!: the built-in functions of the natives table. Also the reflect and
// compare entries that action! and op! share with it.
#include "runtime/datatypes/native.h"

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/interp_hooks.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/native_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"

namespace zan {

namespace native_support {

ValueCell* make_builtin(ValueCell* spec, u32 type, u32 max_index) {
    bool ok = spec->type() == TYPE_BLOCK && block_length(spec) == 2;
    if (ok) {
        ValueCell* head = block_head_ptr(spec);
        ok = head[0].type() == TYPE_BLOCK && head[1].type() == TYPE_INTEGER;
        if (ok) {
            i32 index = integer_get(&head[1]);
            ok = index >= 1 && static_cast<u32>(index) <= max_index;
        }
    }
    if (!ok) {
        ValueCell s = *spec;
        ValueCell* dt = datatype_push(type);
        fire(Err::script_bad_make_arg, dt, &s);
    }
    ValueCell* saved = g_stack.top;
    ValueCell* fspec = stack_push(block_head_ptr(spec));
    i32 index = integer_get(block_head_ptr(spec) + 1);
    if (series_index(fspec) != 0) {
        ValueCell* copy = stack_push_cell();
        block_clone(fspec, copy, false, false);
        cell_set_type(copy, TYPE_BLOCK);
        *fspec = *copy;
        stack_pop(1);
    }
    ValueCell* more = stack_push_cell();
    cell_init(more, TYPE_BLOCK, 0, alloc_cells_unset(2));
    SeriesBuffer* mb = series_of(more);
    mb->tail = mb->head + 32;
    Node ctx = context_make_from_block(fspec, true, false, CTX_FUNCTION);
    ValueCell* cells = series_of(more)->head_cells();
    cells[0] = *context_cell(ctx);
    none_box(&cells[1]);
    ValueCell result;
    cell_init(&result, type, static_cast<u32>(index), block_node(fspec), block_node(more));
    g_stack.top = saved;
    return stack_push(&result);
}

}  // namespace native_support

ValueCell* native_make(ValueCell*, ValueCell* spec, u32) {
    return native_support::make_builtin(spec, TYPE_NATIVE, NATIVE_TABLE_SLOTS);
}

void native_reflect(ValueCell* value, u32 field) {
    u32 f = symbol_resolve(field);
    if (f == symbol_resolve(g_sym.spec)) {
        cell_init(stack_result(), TYPE_BLOCK, 0, callable_spec(value));
        return;
    }
    if (f == symbol_resolve(g_sym.body)) {
        u32 wrapped = value->type() == TYPE_OP ? op_wrapped_type(value) : 0;
        if (wrapped == TYPE_FUNCTION && g_interp_hooks.body_handed_out)
            g_interp_hooks.body_handed_out(function_more(value, MORE_CALLABLE));
        if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE)
            *stack_result() = *function_more(value, MORE_BODY);
        else
            integer_box(stack_result(), static_cast<i32>(callable_entry(value)));
        return;
    }
    fire(Err::internal_not_done);
}

i32 native_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != value1->type()) return CMP_NOT_COMPARABLE;
    if (!callable::identity_op(op)) return CMP_NOT_COMPARABLE;
    return callable::compare_u32(callable_entry(value1), callable_entry(value2));
}

i32 native_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    return callable::emit(out, "?native?", limit);
}

i32 native_mold(ValueCell* value, ValueCell* out, bool, bool all, bool flat, ValueCell* arg_limit,
                i32 limit, i32 indent) {
    Node spec = callable_spec(value);
    limit = callable::emit(out, "make native! [", limit);
    limit = callable::mold_node_as_block(spec, out, all, flat, arg_limit, limit, indent);
    return callable::emit(out, "]", limit);
}

void native_init() {
    ActionRow row;
    row.set<ACT_MAKE>(native_make)
        .set<ACT_REFLECT>(native_reflect)
        .set<ACT_FORM>(native_form)
        .set<ACT_MOLD>(native_mold)
        .set<ACT_COMPARE>(native_compare);
    datatype_register(TYPE_NATIVE, row);
}

}  // namespace zan

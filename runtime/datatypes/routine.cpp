// routine!: the routine table, construction, text forms and comparison.
#include "runtime/datatypes/routine.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"

namespace zan {

namespace {
// The entries in registration order, and the number of each name.
struct RoutineTable {
    std::vector<RoutineFn> entries;
    std::unordered_map<std::string, u32> numbers;
};
RoutineTable& routine_table() {
    static RoutineTable table;
    return table;
}
// Points the calls' view of the entries at the vector again (after it grew
// or was cleared).
void publish_entries() {
    auto& e = routine_table().entries;
    g_routine_entries = e.data();
    g_routine_count = static_cast<u32>(e.size());
}
}  // namespace

RoutineFn* g_routine_entries = nullptr;
u32 g_routine_count = 0;

u32 routine_table_register(const char* name, RoutineFn fn) {
    auto& t = routine_table();
    auto [it, added] = t.numbers.try_emplace(name, static_cast<u32>(t.entries.size() + 1));
    if (!added) {
        t.entries[it->second - 1] = fn;
        return it->second;
    }
    t.entries.push_back(fn);
    publish_entries();
    return it->second;
}

u32 routine_table_find(const char* name) {
    auto& t = routine_table();
    auto it = t.numbers.find(name);
    return it == t.numbers.end() ? 0 : it->second;
}

void routine_table_reset() {
    routine_table().entries.clear();
    routine_table().numbers.clear();
    publish_entries();
}

ValueCell* routine_make(const ValueCell* spec, const ValueCell* body, u32 entry, i32 fourth,
                        bool flag) {
    ValueCell* saved = g_stack.top;
    ValueCell* sp = stack_push(spec);
    ValueCell* bd = body ? stack_push(body) : nullptr;
    Node ctx = context_make_from_block(sp, true, false, CTX_FUNCTION);
    ValueCell* r = stack_push_cell();
    cell_init(r, TYPE_ROUTINE | (flag ? ROUTINE_FLAG : 0u), ctx, block_node(sp), 0);
    Node more = alloc_cells_unset(FUNCTION_MORE_CELLS);
    SeriesBuffer* mb = node_buffer(more);
    mb->tail = mb->head + FUNCTION_MORE_CELLS * 16;
    set_callable_body(r, more);
    if (bd) *function_more(r, MORE_BODY) = *bd;
    else none_box(function_more(r, MORE_BODY));
    unset_box(function_more(r, MORE_UNUSED));
    integer_box(function_more(r, MORE_ENTRY), static_cast<i32>(entry));
    integer_box(function_more(r, MORE_EXTRA), fourth);
    routine_set_arity(r);
    *context_owner(ctx) = *r;
    ValueCell result = *r;
    g_stack.top = saved;
    return stack_push(&result);
}

void routine_set_arity(ValueCell* routine) {
    SeriesBuffer* b = node_buffer(callable_spec(routine));
    u32 n = 0;
    for (ValueCell* c = b->head_cells(); c < b->tail_cells(); c++)
        if (c->type() == TYPE_WORD) n++;
    if (n > 31) n = 31;
    routine->header = (routine->header & ~ROUTINE_ARITY_MASK) | (n << ROUTINE_ARITY_SHIFT);
}

i32 routine_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    return callable::emit(out, "?routine?", limit);
}

i32 routine_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent) {
    ValueCell* held = stack_push(value);
    limit = callable::emit(out, "routine ", limit);
    limit = callable::mold_node_as_block(callable_spec(held), out, all, flat, arg_limit, limit, indent);
    ValueCell* body = stack_push(function_more(held, MORE_BODY));
    if (body->type() == TYPE_BLOCK)
        limit = block_mold(body, out, false, all, flat, arg_limit, limit, indent);
    else
        limit = action_mold_dispatch(body, out, only, all, flat, arg_limit, limit, indent);
    stack_pop(2);
    return limit;
}

i32 routine_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_ROUTINE) return CMP_NOT_COMPARABLE;
    if (!callable::identity_op(op)) return CMP_NOT_COMPARABLE;
    return callable::compare_u32(callable_body(value1), callable_body(value2));
}

void routine_init() {
    ActionRow row;
    row.inherit({ACT_REFLECT})
        .set<ACT_FORM>(routine_form)
        .set<ACT_MOLD>(routine_mold)
        .set<ACT_COMPARE>(routine_compare);
    datatype_register(TYPE_ROUTINE, row);
}

}  // namespace zan

// action!: the values of the 62 generic actions (data1 the number of the
// action's entry in the generic action table).
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/native_support.h"

namespace zan {

ValueCell* action_value_make(ValueCell*, ValueCell* spec, u32) {
    return native_support::make_builtin(spec, TYPE_ACTION, ACT_COUNT);
}

i32 action_value_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    return callable::emit(out, "?action?", limit);
}

i32 action_value_mold(ValueCell* value, ValueCell* out, bool, bool all, bool flat,
                      ValueCell* arg_limit, i32 limit, i32 indent) {
    Node spec = callable_spec(value);
    limit = callable::emit(out, "make action! [", limit);
    limit = callable::mold_node_as_block(spec, out, all, flat, arg_limit, limit, indent);
    return callable::emit(out, "]", limit);
}

void action_value_init() {
    ActionRow row;
    row.set<ACT_MAKE>(action_value_make)
        .inherit({ACT_REFLECT})
        .set<ACT_FORM>(action_value_form)
        .set<ACT_MOLD>(action_value_mold)
        .set<ACT_COMPARE>(native_compare);
    datatype_register(TYPE_ACTION, row);
}

}  // namespace zan

// none!: the "no value" value. Its series actions answer as an empty series.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"

namespace zan {

const ValueCell g_none_cell{TYPE_NONE, 0, 0, 0};

ValueCell* none_push() { return none_box(stack_push_cell()); }
void none_set_result() { none_box(stack_result()); }

ValueCell* none_make(ValueCell*, ValueCell*, u32) { return none_push(); }

i32 none_form(ValueCell*, ValueCell* out, ValueCell*, i32 limit) {
    string_append_cstr(out, "none");
    return limit - 4;
}

i32 none_mold(ValueCell*, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit, i32) {
    string_append_cstr(out, all ? "#(none)" : "none");
    return limit - (all ? 7 : 4);
}

i32 none_compare(ValueCell*, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_NONE) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_SORT_CASE: case CMP_SAME: case CMP_FIND:
            return 0;
        default:
            return CMP_NOT_COMPARABLE;
    }
}

namespace {
void none_clear(ValueCell*) { none_set_result(); }
ValueCell* none_find(ValueCell*, ValueCell*, ValueCell*, bool, bool, bool, bool, ValueCell*,
                     ValueCell*, bool, bool, bool, bool) {
    return none_push();
}
i32 none_length_q(ValueCell*) { return -1; }
void none_remove(ValueCell*, ValueCell*, ValueCell*) { none_set_result(); }
ValueCell* none_select(ValueCell*, ValueCell*, ValueCell*, bool, bool, bool, bool, ValueCell*,
                       ValueCell*, bool, bool) {
    return none_push();
}
ValueCell* none_take(ValueCell*, ValueCell*, bool, bool) { return none_push(); }
}  // namespace

void none_init() {
    ActionRow row;
    row.set<ACT_MAKE>(none_make)
        .set<ACT_TO>(none_make)
        .set<ACT_FORM>(none_form)
        .set<ACT_MOLD>(none_mold)
        .set<ACT_COMPARE>(none_compare)
        .set<ACT_CLEAR>(none_clear)
        .set<ACT_FIND>(none_find)
        .set<ACT_LENGTH_Q>(none_length_q)
        .set<ACT_REMOVE>(none_remove)
        .set<ACT_SELECT>(none_select)
        .set<ACT_TAKE>(none_take);
    datatype_register(TYPE_NONE, row);
}

}  // namespace zan

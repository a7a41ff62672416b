// unset!: the value of a word without one and of expressions that give
// nothing.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"

namespace zan {

const ValueCell g_unset_cell{TYPE_UNSET, 0, 0, 0};

ValueCell* unset_push() { return unset_box(stack_push_cell()); }
void unset_set_result() { unset_box(stack_result()); }

ValueCell* unset_make(ValueCell*, ValueCell*, u32) { return unset_push(); }

i32 unset_form(ValueCell*, ValueCell*, ValueCell*, i32 limit) { return limit; }

i32 unset_mold(ValueCell*, ValueCell* out, bool, bool all, bool, ValueCell*, i32 limit, i32) {
    const char* text = all ? "#(unset)" : "unset";
    string_append_cstr(out, text);
    return limit - (all ? 8 : 5);
}

i32 unset_compare(ValueCell*, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_UNSET) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_SORT_CASE: case CMP_SAME: case CMP_FIND:
            return 0;
        default:
            return CMP_NOT_COMPARABLE;
    }
}

void unset_init() {
    ActionRow row;
    row.set<ACT_MAKE>(unset_make)
        .set<ACT_TO>(unset_make)
        .set<ACT_FORM>(unset_form)
        .set<ACT_MOLD>(unset_mold)
        .set<ACT_COMPARE>(unset_compare);
    datatype_register(TYPE_UNSET, row);
}

}  // namespace zan

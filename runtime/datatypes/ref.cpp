// ref!: a reference written with a leading "@" (the stored text has none).
// It forms as its bare text and takes its other actions from string!.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/text_types.h"

namespace zan {

i32 ref_mold(ValueCell* ref, ValueCell* out, bool, bool, bool, ValueCell* arg_limit, i32 limit,
             i32) {
    ValueCell r = *ref;
    string_append_char(out, '@');
    return string_form(&r, out, arg_limit, limit - 1);
}

void ref_init() {
    ActionRow row;
    row.set<ACT_MOLD>(ref_mold)
        .inherit({ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_COMPARE, ACT_AT, ACT_BACK,
                  ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q,
                  ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE, ACT_REMOVE,
                  ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q, ACT_TAKE,
                  ACT_MODIFY});
    datatype_register(TYPE_REF, row);
}

}  // namespace zan

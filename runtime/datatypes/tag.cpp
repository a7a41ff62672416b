// tag!: markup text; form and mold put it between angle brackets, with no
// escaping. Every other supported action is string!'s.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/text_types.h"

namespace zan {

i32 tag_form(ValueCell* tag, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    ValueCell t = *tag;
    string_append_char(out, '<');
    limit = string_form(&t, out, arg_limit, limit - 1);
    string_append_char(out, '>');
    return limit - 1;
}

i32 tag_mold(ValueCell* tag, ValueCell* out, bool, bool, bool, ValueCell* arg_limit, i32 limit,
             i32) {
    return tag_form(tag, out, arg_limit, limit);
}

void tag_init() {
    ActionRow row;
    row.set<ACT_FORM>(tag_form)
        .set<ACT_MOLD>(tag_mold)
        .inherit({ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT,
                  ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q,
                  ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                  ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q,
                  ACT_TAKE, ACT_MODIFY, ACT_TRIM});
    datatype_register(TYPE_TAG, row);
}

}  // namespace zan

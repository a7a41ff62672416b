// email!: a mail address, formed and molded as it is, with the user and
// host accessors of path access.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/text_types.h"
#include "runtime/datatypes/word.h"

namespace zan {

i32 email_mold(ValueCell* email, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
               i32 limit, i32) {
    ValueCell e = *email;
    return string_form(&e, out, arg_limit, limit);
}

ValueCell* email_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool flag3) {
    if (element->type() == TYPE_INTEGER)
        return string_eval_path(parent, element, value, path, holder, holder_item, index,
                                case_sensitive, flag1, flag2, flag3);
    bool user = false;
    if (element->type() == TYPE_WORD) {
        u32 s = symbol_resolve(word_symbol(element));
        if (s == symbol_resolve(g_sym.user)) user = true;
        else if (s != symbol_resolve(g_sym.host)) fire(Err::script_invalid_path, path, element);
    } else {
        fire(Err::script_invalid_path, path, element);
    }
    ValueCell e = *parent;
    string_head_ptr(&e);  // clamps the index to the tail
    i32 head = series_index(&e) < 0 ? 0 : series_index(&e);
    i32 len = string_length(&e);
    // The first "@" from the head; none counts as the end of the text.
    i32 at = string_index_of_char(&e, '@');
    if (at < 0) at = len;
    i32 start = user ? 0 : (at < len ? at + 1 : len);
    i32 count = user ? at : len - start;
    ValueCell part;
    dt::int_box(&part, count);
    ValueCell from = e;
    series_set_index(&from, head + start);
    if (!value) {
        ValueCell* r = series_copy(&from, nullptr, &part, false, nullptr);
        cell_set_type(r, TYPE_STRING);
        return r;
    }
    // Setting changes that part of the address itself. The change writes
    // its series into the result cell, which belongs to the caller.
    ValueCell v = *value;
    ValueCell* saved_top = g_stack.top;
    ValueCell saved_result = *stack_result();
    ValueCell* held_from = stack_push(&from);
    ValueCell* held_value = stack_push(&v);
    string_change(held_from, held_value, count, false, 1);
    *stack_result() = saved_result;
    g_stack.top = saved_top;
    return value;
}

void email_init() {
    ActionRow row;
    row.set<ACT_MOLD>(email_mold)
        .set<ACT_EVAL_PATH>(email_eval_path)
        .inherit({ACT_MAKE, ACT_REFLECT, ACT_TO, ACT_FORM, ACT_COMPARE, ACT_APPEND, ACT_AT,
                  ACT_BACK, ACT_CHANGE, ACT_CLEAR, ACT_COPY, ACT_FIND, ACT_HEAD, ACT_HEAD_Q,
                  ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                  ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP, ACT_TAIL, ACT_TAIL_Q,
                  ACT_TAKE, ACT_MODIFY, ACT_TRIM});
    datatype_register(TYPE_EMAIL, row);
}

}  // namespace zan

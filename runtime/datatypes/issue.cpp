// issue!: a word-like value written with "#"; names are interned as given,
// without scanning.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan {

ValueCell* issue_make(ValueCell* proto, ValueCell* spec, u32 type) {
    u32 st = spec->type();
    if (any_word_type_q(st)) {
        ValueCell* r = stack_push(spec);
        r->header = TYPE_ISSUE;
        return r;
    }
    if (st == TYPE_STRING || st == TYPE_CHAR) {
        ValueCell* text = stack_push(spec);
        if (st == TYPE_CHAR) {
            text = string_push_new(4);
            string_append_char(text, dt::char_get(spec));
        }
        u32 sym = symbol_make_from_string(text);
        ValueCell* r = stack_push_cell();
        cell_init(r, TYPE_ISSUE, g_global_ctx, sym, static_cast<u32>(-1));
        return r;
    }
    return word_make(proto, spec, type);
}

i32 issue_compare(ValueCell* value1, ValueCell* value2, i32 op) {
    if (value2->type() != TYPE_ISSUE) return CMP_NOT_COMPARABLE;
    return word_compare(value1, value2, op);
}

void issue_init() {
    ActionRow row;
    row.set<ACT_MAKE>(issue_make)
        .set<ACT_TO>(issue_make)
        .set<ACT_MOLD>(word_mold)
        .set<ACT_COMPARE>(issue_compare)
        .inherit({ACT_FORM});
    datatype_register(TYPE_ISSUE, row);
}

}  // namespace zan

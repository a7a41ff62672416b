// paren!: a block evaluated in place; only its mold differs from block!.
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/string.h"

namespace zan {

i32 paren_mold(ValueCell* paren, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent) {
    if (cycles_detect(paren, out, &limit, true)) return limit;
    if (!only) {
        string_append_char(out, '(');
        limit--;
    }
    limit = block_mold_values(paren, out, only, all, flat, arg_limit, limit, indent);
    if (!only) {
        string_append_char(out, ')');
        limit--;
    }
    return limit;
}

void paren_init() {
    ActionRow row;
    row.set<ACT_MOLD>(paren_mold).inherit_all();
    row.entries[ACT_TRIM - 1] = nullptr;
    datatype_register(TYPE_PAREN, row);
}

}  // namespace zan

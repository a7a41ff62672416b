// triple!: three 32-bit integers that can only be shown.
#include <cstdio>
#include <cstring>

#include "runtime/core/layout.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/string.h"

namespace zan {

ValueCell* triple_make_at(ValueCell* cell, i32 a, i32 b, i32 c) {
    cell_init(cell, TYPE_TRIPLE, static_cast<u32>(a), static_cast<u32>(b), static_cast<u32>(c));
    return cell;
}

i32 triple_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    char text[64];
    std::snprintf(text, sizeof text, "make triple! [%d %d %d]", static_cast<i32>(payload_word(value, 1)),
                  static_cast<i32>(payload_word(value, 2)), static_cast<i32>(payload_word(value, 3)));
    string_append_cstr(out, text);
    return limit - static_cast<i32>(std::strlen(text));
}

i32 triple_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
                i32 limit, i32) {
    return triple_form(value, out, arg_limit, limit);
}

void triple_init() {
    ActionRow row;
    row.set<ACT_FORM>(triple_form).set<ACT_MOLD>(triple_mold);
    datatype_register(TYPE_TRIPLE, row);
}

}  // namespace zan

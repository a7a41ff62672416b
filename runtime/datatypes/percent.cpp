// percent!: the text forms; everything else is inherited from float!.
#include "runtime/datatypes/percent.h"

#include <cstring>

#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/string.h"

namespace zan {

i32 percent_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    const char* text = float_to_cstr(value->get_float() * 100.0, FLOAT_TEXT_PERCENT);
    i32 len = static_cast<i32>(std::strlen(text));
    string_append_cstr(out, text);
    return limit - len;
}

i32 percent_mold(ValueCell* value, ValueCell* out, bool, bool, bool, ValueCell* arg_limit,
                 i32 limit, i32) {
    return percent_form(value, out, arg_limit, limit);
}

void percent_init() {
    ActionRow row;
    row.set<ACT_FORM>(percent_form)
        .set<ACT_MOLD>(percent_mold)
        .inherit({ACT_MAKE, ACT_RANDOM, ACT_TO, ACT_COMPARE, ACT_ABSOLUTE, ACT_ADD, ACT_DIVIDE,
                  ACT_MULTIPLY, ACT_NEGATE, ACT_POWER, ACT_REMAINDER, ACT_ROUND, ACT_SUBTRACT,
                  ACT_EVEN_Q, ACT_ODD_Q});
    datatype_register(TYPE_PERCENT, row);
}

}  // namespace zan

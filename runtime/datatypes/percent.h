// percent!: a float! shown as a percentage. The cell holds the fraction
// (50% is 0.5); every action but the text forms is float!'s.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* percent_make_at(ValueCell* c, double fraction) {
    cell_init(c, TYPE_PERCENT);
    c->put_float(fraction);
    return c;
}
inline double percent_get(const ValueCell* c) { return c->get_float(); }

// ---- actions -------------------------------------------------------------------------
i32 percent_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 percent_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);

void percent_init();

}  // namespace zan

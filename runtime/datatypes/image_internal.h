// The image! action entries shared between its files.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// The head, clamped to the pixel count.
u32 image_clamped_head(const ValueCell* v);
ValueCell* image_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* image_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 image_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 image_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
i32 image_compare(ValueCell* a, ValueCell* b, i32 op);
ValueCell* image_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                      ValueCell* types);
void image_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);

}  // namespace zan

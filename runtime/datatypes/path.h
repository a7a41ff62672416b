// paren! and the path types (path!, lit-path!, set-path!, get-path!):
// blocks with a different meaning to the evaluator and their own text forms.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

i32 paren_mold(ValueCell* paren, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* path_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* path_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 path_form(ValueCell* path, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
i32 lit_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent);
i32 set_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent);
i32 get_path_mold(ValueCell* path, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* path_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types);

void paren_init();
void path_init();
void lit_path_init();
void set_path_init();
void get_path_init();

}  // namespace zan

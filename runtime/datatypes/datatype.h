// datatype!: a value that denotes a datatype (data1 the id), and the start-up
// steps of the registry that need words.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

ValueCell* datatype_push(u32 type);
ValueCell* datatype_make_in(ValueCell* block, u32 type);
inline ValueCell* datatype_box(ValueCell* c, u32 type) {
    cell_init(c, TYPE_DATATYPE, type);
    return c;
}
inline u32 datatype_get(const ValueCell* c) { return c->data1; }

i32 datatype_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 datatype_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent);
i32 datatype_compare(ValueCell* value1, ValueCell* value2, i32 op);
void datatype_init();
// Makes the word of every registered datatype name (needs the global
// context and the symbol table).
void datatype_names_init();
// Empties the registry (names, rows, highest id) before a fresh start-up.
void datatype_registry_reset();
// The name with its "!" ("integer!"), or "?" for an unregistered id.
const char* datatype_name(u32 type);

}  // namespace zan

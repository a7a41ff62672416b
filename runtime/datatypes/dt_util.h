// Small cell helpers private to the core datatype files: the integer! and
// char! payloads (data2) and a few stack shortcuts. Kept out of the public
// headers so that the numeric datatypes stay the owners of their helper
// families.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/char.h"

namespace zan::dt {

inline ValueCell* int_box(ValueCell* c, i32 v) {
    cell_init(c, TYPE_INTEGER, 0, static_cast<u32>(v));
    return c;
}
inline i32 int_get(const ValueCell* c) { return static_cast<i32>(c->data2); }
inline void int_set_result(i32 v) { int_box(stack_result(), v); }
inline ValueCell* char_box(ValueCell* c, u32 cp) {
    cell_init(c, TYPE_CHAR, 0, cp);
    return c;
}
using zan::char_get;
inline bool is_number(u32 t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// Reads an integer argument that may also be a float! (truncated, with the
// range check of rt_to_integer).
i32 int_arg(const ValueCell* c);

}  // namespace zan::dt

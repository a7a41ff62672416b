// char!: one Unicode code point (data2, 0 to 10FFFFh). It shares the
// integer! cell layout and takes random, absolute, even? and odd? from
// integer!; its own arithmetic keeps every result a valid code point.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 CHAR_MAX_CODE_POINT = 0x10FFFF;

// ---- cells ---------------------------------------------------------------------------
inline ValueCell* char_box(ValueCell* c, u32 cp) {
    cell_init(c, TYPE_CHAR, 0, cp, 0);
    return c;
}
inline u32 char_get(const ValueCell* c) { return c->data2; }
inline void char_set(ValueCell* c, u32 cp) { c->data2 = cp; }
ValueCell* char_push(u32 cp);

// ---- actions -------------------------------------------------------------------------
// The arithmetic core on argument cells 0 (the char!, also the result) and
// 1; op codes as for integer!.
void char_math_op(i32 op);
// make and to (the same routine).
ValueCell* char_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 char_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 char_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
i32 char_compare(ValueCell* value1, ValueCell* value2, i32 op);
void char_add();
void char_divide();
void char_multiply();
void char_remainder();
void char_subtract();
void char_and_t();
void char_or_t();
void char_xor_t();

void char_init();

}  // namespace zan

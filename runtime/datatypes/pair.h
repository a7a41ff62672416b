// pair!: the two-dimensional integer coordinate (data2 x, data3 y, signed
// 32-bit). Integer arithmetic falls over into point2D! whenever the exact
// integer result cannot be kept.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

inline i32 pair_x(const ValueCell* p) { return static_cast<i32>(p->data2); }
inline i32 pair_y(const ValueCell* p) { return static_cast<i32>(p->data3); }
inline void pair_set_x(ValueCell* p, i32 x) { p->data2 = static_cast<u32>(x); }
inline void pair_set_y(ValueCell* p, i32 y) { p->data3 = static_cast<u32>(y); }

// ---- cells ---------------------------------------------------------------------------
// Sets the type (keeping the new-line marker) and the components.
ValueCell* pair_make_at(ValueCell* cell, i32 x, i32 y);
ValueCell* pair_push(i32 x, i32 y);
// An integer! cell's value, or a float! truncated toward zero; a float
// beyond the 32-bit range (or NaN) gives -2147483648, as the processor's
// truncation does.
i32 pair_scalar_value(const ValueCell* cell);
// 1 for the word x, 2 for y. Another word raises invalid-path naming
// `where` when it is a path, or cannot-use naming the word and `where`
// when it is the pair itself.
i32 pair_field_index(const ValueCell* word, const ValueCell* where);
// Turns argument cell n (a pair!) into the point2D! of its components.
void pair_arg_to_point2d(u32 n);

// ---- arithmetic ----------------------------------------------------------------------
// Argument cell 0 (the pair, also the result) with cell 1; op codes 0 add,
// 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or~, 6 and~, 7 xor~.
void pair_math_op(i32 op);

// ---- actions -------------------------------------------------------------------------
ValueCell* pair_make(ValueCell* proto, ValueCell* spec, u32 type);
void pair_random(ValueCell* value, bool seed, bool secure, bool only);
i32 pair_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 pair_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* pair_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                          ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                          bool case_sensitive, bool flag1, bool flag2, bool notify);
i32 pair_compare(ValueCell* value1, ValueCell* value2, i32 op);
void pair_absolute();
void pair_negate(ValueCell* value);
void pair_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                bool floor, bool ceiling, bool half_ceiling);
void pair_reverse(ValueCell* value, ValueCell* part, ValueCell* skip);
ValueCell* pair_pick(ValueCell* value, i32 index, ValueCell* index_cell);

void pair_init();

}  // namespace zan

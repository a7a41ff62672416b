// point2D! and point3D!: coordinates of 32-bit floats kept in the cell
// (data1 x, data2 y, data3 z for point3D!). Arithmetic runs in double
// precision and each result is rounded to 32 bits when it is stored.
#pragma once
#include <bit>

#include "runtime/core/layout.h"

namespace zan {

inline float point_x(const ValueCell* p) { return std::bit_cast<float>(p->data1); }
inline float point_y(const ValueCell* p) { return std::bit_cast<float>(p->data2); }
inline float point_z(const ValueCell* p) { return std::bit_cast<float>(p->data3); }
inline void set_point_bits(ValueCell* c, u32 i, u32 bits) {
    (i == 0 ? c->data1 : i == 1 ? c->data2 : c->data3) = bits;
}
// Exchanges coordinates i and j bit for bit.
inline void swap_point_bits(ValueCell* c, u32 i, u32 j) {
    u32 bits = point_bits(c, i);
    set_point_bits(c, i, point_bits(c, j));
    set_point_bits(c, j, bits);
}

// ---- cells ---------------------------------------------------------------------------
// Set the type (keeping the new-line marker) and store the components.
ValueCell* point2d_make_at(ValueCell* cell, float x, float y);
ValueCell* point3d_make_at(ValueCell* cell, float x, float y, float z);

// ---- arithmetic ------------------------------------------------------------------------
// Argument cell 0 (the point, also the result) with cell 1: op codes 0 add,
// 1 subtract, 2 multiply, 3 divide, 4 remainder.
void point2d_math_op(i32 op);
void point3d_math_op(i32 op);

// ---- actions ---------------------------------------------------------------------------
ValueCell* point2d_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* point3d_make(ValueCell* proto, ValueCell* spec, u32 type);
void point2d_random(ValueCell* value, bool seed, bool secure, bool only);
void point3d_random(ValueCell* value, bool seed, bool secure, bool only);
i32 point2d_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 point3d_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 point2d_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);
i32 point3d_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* point2d_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                             ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                             i32 index, bool case_sensitive, bool flag1, bool flag2, bool notify);
ValueCell* point3d_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                             ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                             i32 index, bool case_sensitive, bool flag1, bool flag2, bool notify);
i32 point2d_compare(ValueCell* value1, ValueCell* value2, i32 op);
i32 point3d_compare(ValueCell* value1, ValueCell* value2, i32 op);
void point2d_absolute();
void point3d_absolute();
void point2d_negate(ValueCell* value);
void point3d_negate(ValueCell* value);
void point2d_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling);
void point3d_round(ValueCell* value, ValueCell* scale, bool even, bool down, bool half_down,
                   bool floor, bool ceiling, bool half_ceiling);
void point2d_reverse(ValueCell* value, ValueCell* part, ValueCell* skip);
void point3d_reverse(ValueCell* value, ValueCell* part, ValueCell* skip);
ValueCell* point2d_pick(ValueCell* value, i32 index, ValueCell* index_cell);
ValueCell* point3d_pick(ValueCell* value, i32 index, ValueCell* index_cell);

void point2d_init();
void point3d_init();

}  // namespace zan

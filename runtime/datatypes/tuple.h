// tuple!: 3 to 12 bytes kept in the cell, written with dots (1.2.3,
// 255.0.0.128). The header holds the size in bits 19-22; byte 1 is the
// lowest byte of data1, bytes 5-8 are data2 and 9-12 data3, and the bytes
// past the size are 0. Arithmetic clamps every byte to 0..255.
#pragma once
#include <initializer_list>

#include "runtime/core/cell.h"

namespace zan {

constexpr u32 TUPLE_MAX = 12;
constexpr u32 TUPLE_MIN = 3;

inline u32 tuple_size(const ValueCell* t) { return (t->header & TUPLE_SIZE_MASK) >> TUPLE_SIZE_SHIFT; }
// Byte n (1-based, 1..12).
u32 tuple_byte(const ValueCell* t, u32 n);

// ---- cells ---------------------------------------------------------------------------
// A tuple of max(n, 3) bytes (zero padded) in the cell, new-line marker kept.
ValueCell* tuple_make_at(ValueCell* cell, const u8* bytes, u32 n);
// r.g.b (a = -1) or r.g.b.a.
ValueCell* tuple_make_rgba(ValueCell* cell, i32 r, i32 g, i32 b, i32 a);
// The bytes from the binary's index (at most 12) into cell.
ValueCell* tuple_from_binary(const ValueCell* binary, ValueCell* cell);
// A hexadecimal colour (3, 6 or 8 digits) into cell; invalid-data for any
// other issue.
ValueCell* tuple_from_hex(const ValueCell* issue, ValueCell* cell);
// Sets byte `index` of the tuple to an integer! (clamped to 0..255) or
// cuts the tuple there for none!; out-of-range and invalid-type errors.
void tuple_set_byte(ValueCell* tuple, const ValueCell* index, const ValueCell* value);
bool tuple_zero_q(const ValueCell* tuple);

// ---- arithmetic ----------------------------------------------------------------------
// Argument cell 0 (the tuple, or a number with the tuple in cell 1; also the
// result) with cell 1; op codes 0 add .. 7 xor~.
void tuple_math_op(i32 op);

// ---- actions -------------------------------------------------------------------------
ValueCell* tuple_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* tuple_to(ValueCell* proto, ValueCell* spec, u32 type);
void tuple_random(ValueCell* value, bool seed, bool secure, bool only);
i32 tuple_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 tuple_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* tuple_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                           bool case_sensitive, bool flag1, bool flag2, bool notify);
i32 tuple_compare(ValueCell* value1, ValueCell* value2, i32 op);
ValueCell* tuple_complement(ValueCell* value);
i32 tuple_length_q(ValueCell* value);
ValueCell* tuple_pick(ValueCell* value, i32 index, ValueCell* index_cell);
void tuple_reverse(ValueCell* value, ValueCell* part, ValueCell* skip);

void tuple_init();

}  // namespace zan

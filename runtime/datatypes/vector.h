// vector!: a packed array of numbers of one element type, char!, integer!,
// float! or percent!, stored as raw 1-, 2-, 4- or 8-byte elements.
//   data1  head index, in elements;
//   data2  Node of a byte buffer whose unit (flag bits 0-4) is the element
//          size: 1, 2 or 4 for char! and integer!, 4 or 8 for float!, 8 for
//          percent! (the fraction: 50% is 0.5);
//   data3  the element type id (10, 11, 12 or 38).
// integer! elements read sign-extended, char! elements read as the code
// points stored (never negative), 4-byte floats widen to 64 bits.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// The element size a type gets by default: 4 bytes, 8 for float! and percent!.
inline u32 vector_default_size(u32 type) {
    return type == TYPE_FLOAT || type == TYPE_PERCENT ? 8 : 4;
}
inline u32 vector_element_type(const ValueCell* v) { return v->data3; }
inline void vector_set_element_type(ValueCell* v, u32 type) { v->data3 = type; }
u32 vector_element_size(const ValueCell* v);

// ---- elements --------------------------------------------------------------------------------
// position: elements from the buffer's head (not from the index).
i64 vector_read_int(const ValueCell* v, u32 position);
double vector_read_float(const ValueCell* v, u32 position);
// The element as a scalar of the element type.
void vector_element_to_value(ValueCell* v, u32 position, ValueCell* out);
// Stores a value (of the element type; the caller checks) at a position:
// char! and integer! cut to the element size, floats rounded to 32 bits for
// 4-byte elements (beyond the 32-bit range: infinity).
void vector_store_value(ValueCell* v, u32 position, ValueCell* value);

// ---- helpers ---------------------------------------------------------------------------------
i32 vector_length(const ValueCell* v);  // elements from the head (index clamped)
u8* vector_head_ptr(const ValueCell* v);
// The elements from the head as scalars: a new block! pushed on the stack.
ValueCell* vector_to_block(ValueCell* v);
// An empty vector with room for capacity elements of type and size (a
// capacity times size beyond 32 bits raises internal no-memory).
ValueCell* vector_make_at(ValueCell* cell, u32 capacity, u32 type, u32 size);

// ---- arithmetic --------------------------------------------------------------------------------
// Op codes as for integer! (0 add .. 7 xor~). The vector's own elements from
// its head are replaced in place: element op scalar, or, with scalar_left,
// scalar op element (so 10 - v gives 10 minus each element). The scalar
// must be integer!, float! or percent! (else internal not-done).
void vector_math_scalar(ValueCell* v, const ValueCell* scalar, i32 op, bool scalar_left);
// Frame cells 0 and 1 both vectors: a new vector in cell 0.
void vector_do_math(i32 op);
// Frame cell 0 a number, cell 1 a vector: the scalar-left operation, the
// vector in the result cell. The entry the number types hand such mixed
// arithmetic to.
void vector_math_number_left(i32 op);

// ---- actions -----------------------------------------------------------------------------------
ValueCell* vector_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 vector_form(ValueCell* v, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 vector_mold(ValueCell* v, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
i32 vector_compare(ValueCell* a, ValueCell* b, i32 op);
void vector_add();
void vector_subtract();
void vector_multiply();
void vector_divide();
void vector_remainder();
void vector_and_t();
void vector_or_t();
void vector_xor_t();
void vector_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append);
void vector_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);

// Registers vector! and installs the element services of the series actions.
void vector_init();

}  // namespace zan

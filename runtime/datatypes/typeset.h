// typeset!: a set of datatypes held in the cell itself. data1, data2 and
// data3 form a 96-bit array in memory order; type id t is bit 7 - (t & 7)
// of byte t >> 3 (mask 80h >> (t & 7)). Bit 0 is never a type.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- bits ----------------------------------------------------------------------------
inline const u8* typeset_bytes(const ValueCell* ts) {
    return reinterpret_cast<const u8*>(&ts->data1);
}
inline u8* typeset_bytes(ValueCell* ts) { return reinterpret_cast<u8*>(&ts->data1); }
// The 96 bits as three words in memory order, for whole-set operations.
inline const u32* typeset_words(const ValueCell* ts) { return &ts->data1; }
inline u32* typeset_words(ValueCell* ts) { return &ts->data1; }
inline bool typeset_has_type(const ValueCell* ts, u32 type) {
    return type < 96 && (typeset_bytes(ts)[type >> 3] & (0x80u >> (type & 7))) != 0;
}
inline void typeset_add_type(ValueCell* ts, u32 type) {
    if (type < 96) typeset_bytes(ts)[type >> 3] |= static_cast<u8>(0x80u >> (type & 7));
}
inline ValueCell* typeset_make_at(ValueCell* c, u32 w1, u32 w2, u32 w3) {
    cell_init(c, TYPE_TYPESET, w1, w2, w3);
    return c;
}

// ---- services ------------------------------------------------------------------------
ValueCell* typeset_push(u32 w1, u32 w2, u32 w3);
ValueCell* typeset_make_in(ValueCell* block, u32 w1, u32 w2, u32 w3);
// Every bit set but that of unset!.
ValueCell* typeset_make_default_in(ValueCell* block);
// From a type list (a function spec's argument types): an element, or a
// word's value, that is a datatype! sets its bit, a typeset! is ORed in, a
// word! sets the object! bit, a block! is skipped; anything else raises
// invalid-type-spec with the element.
ValueCell* typeset_make_from_block_in(ValueCell* block, ValueCell* spec);
// value: a datatype!, a typeset! or a word! holding one of them; anything
// else raises invalid-arg.
void typeset_set_type_bit(ValueCell* ts, ValueCell* value);
// Set bits among the registered type ids.
i32 typeset_bit_count(const ValueCell* ts);
// One datatype! per member, in type id order, appended to the block.
void typeset_to_block(ValueCell* ts, ValueCell* block);
// Set operation on argument cells 0 and 1, result in cell 0: 5 or 9 OR, 6 or
// 10 AND, 7 or 12 XOR, 11 AND NOT, 8 the first value unchanged. The second
// value is a typeset! or a datatype!, else invalid-arg.
void typeset_set_op(i32 op);
void typeset_and_t();
void typeset_or_t();
void typeset_xor_t();
// "make typeset! [a! b!]", or "a! b!" with only; returns the budget left.
i32 typeset_mold_body(ValueCell* ts, ValueCell* out, bool only, i32 limit);

// ---- actions -------------------------------------------------------------------------
ValueCell* typeset_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 typeset_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 typeset_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);
i32 typeset_compare(ValueCell* value1, ValueCell* value2, i32 op);
ValueCell* typeset_complement(ValueCell* value);
// true when the datatype! value is a member; other values raise invalid-arg.
ValueCell* typeset_find(ValueCell* ts, ValueCell* value, ValueCell* part, bool only,
                        bool case_sensitive, bool same, bool any, ValueCell* with,
                        ValueCell* skip, bool last, bool reverse, bool tail, bool match);

void typeset_init();

}  // namespace zan

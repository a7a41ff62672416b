// bitset!: a growable array of bits indexed by integer or code point. The
// cell's data2 is the node of a byte series: bit n lies in byte n >> 3
// under the mask 80h >> (n & 7); the used length is the number of stored
// bytes. The complement flag (SERIES_COMPLEMENT in the buffer flags) gives
// the value of every bit at or beyond the stored bytes: stored bits are
// always the members themselves, and growth pads with FFh under the flag,
// with 00h without it.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- bits --------------------------------------------------------------------------------
// Operations of the spec walker.
enum BitsetOp : i32 { BITS_MEASURE = 0, BITS_SET = 1, BITS_TEST = 2, BITS_CLEAR = 3 };
// What a bad spec value raises: make bad-make-arg, to bad-to-arg,
// the other actions invalid-arg.
enum BitsetMode : i32 { BITS_MODE_MAKE = 0, BITS_MODE_TO = 1, BITS_MODE_OTHER = 2 };

// Address of byte 0 (re-read after anything that allocates).
u8* bitset_bits(const ValueCell* bitset);
// Stored bytes, and whether the complement flag is set.
u32 bitset_byte_count(const ValueCell* bitset);
bool bitset_complemented(const ValueCell* bitset);

// The one walker of bit specs: a char!, integer! or float! (one
// bit), a string! (its code points from the index) or a block (each element,
// with "lo - hi" ranges of chars or integers). Measure and set answer the
// bytes needed ((highest bit + 8) >> 3, at least 1; set also moves the used
// length up to them), test answers 1 when every bit is a member, clear 0.
i32 bitset_apply_spec(ValueCell* spec, ValueCell* bitset, i32 op, bool nested, i32 mode);

// make (is_to false) and to (is_to true): a block starting with the word
// `not` makes a complemented set (a binary! right after it is the spec), a
// bitset! gives a copy, a number a size in bits (make only), a binary! its
// bytes; anything else is measured and then set bit by bit. Pushed.
ValueCell* bitset_make_from_spec(ValueCell* spec, bool is_to);
// A new bitset of bytes stored bytes filled with fill (the flag set when
// complemented), pushed on the data stack.
ValueCell* bitset_push_new(u32 bytes, u8 fill, bool complemented);

// The set-operation core on argument cells 0 and 1, the result in cell 0:
// 5 or 9 OR, 6 or 10 AND, 7 or 12 XOR, 11 AND NOT, 8 the first set
// unchanged. The second value must be a bitset!, else invalid-type. A bit
// beyond an operand's stored bytes counts as that operand's flag, so the
// result has the members the operation gives; the result's flag is the
// operation applied to the two flags.
void bitset_set_op(i32 op);
void bitset_and_t();
void bitset_or_t();
void bitset_xor_t();

// ---- actions ---------------------------------------------------------------------------------
ValueCell* bitset_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* bitset_to(ValueCell* proto, ValueCell* spec, u32 type);
void bitset_reflect(ValueCell* bitset, u32 field_symbol);
// "make bitset! #{...}", or "make bitset! [not #{...}]" showing the bytes of
// the negated set for a complemented one.
i32 bitset_form(ValueCell* bitset, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 bitset_mold(ValueCell* bitset, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* bitset_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                            ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                            i32 index, bool case_sensitive, bool flag1, bool flag2, bool flag3);
i32 bitset_compare(ValueCell* value1, ValueCell* value2, i32 op);
// A copy with the flag toggled and every stored byte inverted.
ValueCell* bitset_complement(ValueCell* bitset);
void bitset_negate(ValueCell* bitset);
void bitset_insert(ValueCell* bitset, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append);
void bitset_clear(ValueCell* bitset);
ValueCell* bitset_copy(ValueCell* bitset, ValueCell* fresh, ValueCell* part, bool deep,
                       ValueCell* types);
// true when every bit of the value is a member, else none.
ValueCell* bitset_find(ValueCell* bitset, ValueCell* value, ValueCell* part, bool only,
                       bool case_sensitive, bool same, bool any, ValueCell* with,
                       ValueCell* skip, bool last, bool reverse, bool tail, bool match);
i32 bitset_length_q(ValueCell* bitset);
ValueCell* bitset_pick(ValueCell* bitset, i32 index, ValueCell* key);
ValueCell* bitset_poke(ValueCell* bitset, i32 index, ValueCell* value, ValueCell* key);
// Only remove/key: the key's bits stop being members.
void bitset_remove(ValueCell* bitset, ValueCell* part, ValueCell* key);
ValueCell* bitset_modify(ValueCell* bitset, ValueCell* field, ValueCell* value,
                         bool case_sensitive);

void bitset_init();

}  // namespace zan

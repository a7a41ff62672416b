// The series! base: the positional actions that every series type inherits
// (block-like, string-like, binary!, vector!, image!) and the small
// positional helpers the series datatypes share.
#pragma once
#include "runtime/core/layout.h"
#include "runtime/core/memory.h"

namespace zan {

// ---- type classes -------------------------------------------------------------------
// Block-like: cells of 16 bytes (block!, paren!, the paths, hash!; map! keeps
// its entries in one too).
inline bool type_block_like(u32 t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) ||
           t == TYPE_HASH;
}
inline bool type_path_like(u32 t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }
// Text types sharing the string! layout.
inline bool type_string_like(u32 t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
           t == TYPE_EMAIL || t == TYPE_REF;
}
// Any value with a series buffer reached through data2.
inline bool type_series(u32 t) {
    return type_block_like(t) || type_string_like(t) || t == TYPE_BINARY ||
           t == TYPE_VECTOR || t == TYPE_IMAGE;
}

// ---- layout helpers --------------------------------------------------------------------
inline SeriesBuffer* series_buffer(const ValueCell* s) { return node_buffer(series_node(s)); }
// The two values stand on the same buffer at the same head index.
inline bool series_same_place(const ValueCell* a, const ValueCell* b) {
    return series_node(a) == series_node(b) && series_index(a) == series_index(b);
}
inline u32 unit_shift(u32 unit) {
    return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : unit == 8 ? 3 : 4;
}
// Units between the buffer's head and tail (ignores the index); an image's
// pixel count.
i32 series_buffer_length(const ValueCell* s);
// Whether the index is at or past the tail.
bool series_at_tail_q(const ValueCell* s);
// Moves the index by n when the new position is at or before the tail;
// answers whether the computed position is at or past the tail.
bool series_advance(ValueCell* s, i32 n);
// New index for at (is_at) and skip; the offset must be integer!.
i32 series_offset_index(const ValueCell* s, const ValueCell* offset, bool is_at);
// Units from the index (from 0 with whole) to the tail; an index past the
// tail is set to the tail in the cell and 0 is returned.
i32 series_remaining(ValueCell* s, bool whole);
// Address of the unit at index (clamped to the tail).
u8* series_head_address(const ValueCell* s);

// The count of a /part argument for remove, reverse, take: an integer!, or a
// position of the same type in the same buffer (its index minus the
// series'); anything else raises invalid-refine-arg naming /part.
i32 series_part_count(const ValueCell* s, const ValueCell* part);

// Announces a change of a series to its owner (ownership tracking). Costs
// one flag test when nobody owns the series; answers whether it has one.
bool series_announce(ValueCell* series, ValueCell* action_word, const ValueCell* new_value,
                     i32 index, i32 count);
// Whether series_announce would announce a change of the series.
bool series_has_owner(const ValueCell* series);

// The scratch series that take without /part reuses (a collector root).
extern Node g_take_scratch;

// ---- entries of series! -------------------------------------------------------------------
void series_random(ValueCell* value, bool seed, bool secure, bool only);
void series_reflect(ValueCell* value, u32 field_symbol);
void series_at();
void series_back();
void series_clear(ValueCell* series);
ValueCell* series_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                       ValueCell* types);
void series_head();
void series_head_q();
void series_index_q();
i32 series_length_q(ValueCell* series);
ValueCell* series_move(ValueCell* origin, ValueCell* target, ValueCell* part);
void series_next();
// Block-like series answer the address of the cell; others a value in a
// scratch cell valid until the next call.
ValueCell* series_pick(ValueCell* series, i32 index, ValueCell* index_cell);
// pick of a block! at the integer index n: the cell or none into *out
// (which may be the block's own cell).
void series_pick_block(const ValueCell* block, i32 n, ValueCell* out);
ValueCell* series_poke(ValueCell* series, i32 index, ValueCell* value, ValueCell* index_cell);
void series_remove(ValueCell* series, ValueCell* part, ValueCell* key);
void series_reverse(ValueCell* series, ValueCell* part, ValueCell* skip);
void series_skip();
void series_tail();
void series_tail_q();
ValueCell* series_take(ValueCell* series, ValueCell* part, bool deep, bool last);
ValueCell* series_modify(ValueCell* target, ValueCell* field, ValueCell* value,
                         bool case_sensitive);
void series_init();

}  // namespace zan

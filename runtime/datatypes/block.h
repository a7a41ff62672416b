// block!: the list of values (a series of 16-byte cells), its helpers used
// across the runtime, construction, modification and text forms. A block
// cell: data1 the head index in cells, data2 the node of the cells; paren!
// and the paths share the layout.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/series.h"

namespace zan {

// ---- helpers ---------------------------------------------------------------------------
i32 block_length(const ValueCell* block);
// Moves the index one cell on (not past the tail); true at the tail.
ValueCell* block_head_ptr(const ValueCell* block);
ValueCell* block_tail_ptr(const ValueCell* block);
bool block_at_tail_q(const ValueCell* block);
// Cell n counted from the buffer's head.
ValueCell* block_cell_at(const ValueCell* block, u32 n);
// Makes the block n cells long (n within its room).
void block_set_tail(ValueCell* block, u32 n);
// Appends a copy of cell (which may lie in the block itself); no hash!
// index is kept (see block_append_value).
ValueCell* block_append_cell(ValueCell* block, const ValueCell* cell);
// The cell after the first word (of any of the four word types) of the
// symbol from the index; the none cell when there is none or it ends the
// block.
const ValueCell* block_select_word(const ValueCell* block, u32 symbol, bool case_insensitive);
// A new block in out holding copies of the source's cells from its index.
// deep copies nested block! values; deep_any also paren! and path values.
ValueCell* block_clone(const ValueCell* source, ValueCell* out, bool deep, bool deep_any);
// Replaces each cell in [first, first + count) of the block whose type is
// in types (a datatype! or typeset!) and that is a series, bitset!, object!,
// error! or map! by a copy made through the copy dispatcher.
void block_copy_nested(ValueCell* block, u32 first, u32 count, ValueCell* types, bool deep);
// Inserts one cell at the index (or the head), keeping a hash! index in step;
// with advance the index moves past it.
void block_insert_value(ValueCell* block, const ValueCell* value, bool at_head, bool advance);
// Insert or append frame argument 0 to the block in the cell below it: the
// insert and append of one value that code compiled ahead of time calls. The
// system has no such compiler yet; only their tests call these.
void block_insert_from_stack();
void block_append_from_stack();
// Appends a copy of value, keeping a hash! index in step.
ValueCell* block_append_value(ValueCell* block, const ValueCell* value);

ValueCell* block_make_at(ValueCell* cell, u32 n);
// fixed: a buffer that never moves (root structures).
ValueCell* block_make_at_ex(ValueCell* cell, u32 n, bool fixed);
// A new block in a new cell at the parent's tail (in a scratch cell when
// parent is null).
ValueCell* block_make_in(ValueCell* parent, u32 n);
ValueCell* block_push_new(u32 n);

// The cycle guard of form and mold: when the value's node is on the cycle
// stack, appends the placeholder ("[...]", "(...)", "...", ...), lowers the
// budget by its length and answers true.
bool cycles_detect(const ValueCell* value, ValueCell* out, i32* limit, bool mold);

// ---- actions ------------------------------------------------------------------------------
ValueCell* block_make(ValueCell* proto, ValueCell* spec, u32 type);
// make <block-like type> <number>: an empty block with room for about that
// many cells (the count clamped to a sane range; NaN is refused).
ValueCell* block_make_sized(ValueCell* spec, u32 type);
ValueCell* block_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 block_form(ValueCell* block, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 block_mold(ValueCell* block, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
// Writes the cells of a block or paren with the new-line layout.
i32 block_mold_values(ValueCell* block, ValueCell* out, bool only, bool all, bool flat,
                      ValueCell* arg_limit, i32 limit, i32 indent);
i32 block_compare(ValueCell* block1, ValueCell* block2, i32 op);
// append of one value (a block-like one only with /only) to a block that has
// the room, no hash index and no owner to tell: stored at the tail, the block
// at its head the result (into *result). False, nothing done, when any of
// that does not hold. Nothing here allocates.
bool block_append_quick(ValueCell* series, const ValueCell* value, bool only, ValueCell* result);
void block_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                  bool append);
void block_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
ValueCell* block_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                      ValueCell* types);
ValueCell* block_take(ValueCell* series, ValueCell* part, bool deep, bool last);
void block_swap(ValueCell* series1, ValueCell* series2);
void block_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                ValueCell* with);

// Search, selection, put and path access (block_search.cpp).
ValueCell* block_find(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                      bool case_sensitive, bool same, bool any, ValueCell* with,
                      ValueCell* skip, bool last, bool reverse, bool tail, bool match);
ValueCell* block_select(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                        bool case_sensitive, bool same, bool any, ValueCell* with,
                        ValueCell* skip, bool last, bool reverse);
ValueCell* block_put(ValueCell* series, ValueCell* key, ValueCell* value, bool case_sensitive);
ValueCell* block_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                           ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                           i32 index, bool case_sensitive, bool flag1, bool flag2, bool flag3);

void block_init();

}  // namespace zan

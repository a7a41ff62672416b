// hash!: a block whose cells are also entered in a hash index (a kind-0
// table in data3 mapping every cell of the buffer to its position), so that
// find, select and the set operations answer without scanning. Every block
// action keeps the index in step; the entries below are hash!'s own.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// An empty hash! with room for n cells (at least 1) and a table for n keys,
// made in the given cell (kept where it is: the caller roots it).
ValueCell* hash_make_at(ValueCell* cell, u32 n);
// A new empty hash! pushed on the data stack.
ValueCell* hash_push_new(u32 n);
// Turns a block-like cell (on the data stack or otherwise rooted) into a
// hash! in place, with a table built over every cell of its buffer.
ValueCell* hash_from_block(ValueCell* cell);

ValueCell* hash_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* hash_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 hash_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* hash_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types);
ValueCell* hash_sort(ValueCell* series, bool case_sensitive, ValueCell* skip, ValueCell* comparator,
                     ValueCell* part, bool all, bool reverse, bool stable);
void hash_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
               ValueCell* with);
void hash_init();

}  // namespace zan

// Series ownership: an object with a deep-change handler owns every series
// reachable from its fields. Each owned series carries the owned flag and
// has an entry in one table, keyed by its buffer node, holding the value,
// the owner object and the word of the field through which it was reached.
// An image's pixels are shared by every copy of its cell, so an image has
// no flag: its entry is keyed by its pixel slot and looked up. Every
// modifying action announces its change through ownership_check, which
// costs one flag test for the other series that nobody owns.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 OWNERSHIP_TABLE_SIZE = 1000;
constexpr u32 VALUE_STORE_CELLS = 100;

// The table key of an image's pixel slot. Nodes are multiples of 4, so an
// odd key never meets the key of a series or an object.
constexpr Node image_ownership_key(u32 slot) { return (slot << 1) | 1u; }

// Creates the table and the value store (both collector roots) and installs
// the ownership services of the series datatypes. Runs once at start-up;
// the other entries create the table on first use when it has not run.
void ownership_init();
// Forgets the table and the value store before a fresh start-up.
void ownership_state_reset();

// Records the value (and, for blocks and objects, what it holds) as owned by
// owner under the field word. A series already owned keeps its first owner.
void ownership_bind_values(ValueCell* value, ValueCell* owner, ValueCell* word);
// The same, then marks owner as an owner.
void ownership_bind_object(ValueCell* value, ValueCell* owner, ValueCell* word);
// The reverse of ownership_bind_values.
void ownership_release(ValueCell* value);
// The owner cell recorded for a series node, or null. The cell lies in the
// table: copy it before anything that allocates.
ValueCell* ownership_owner_of(Node node);
// Announces a change of value to its owner's on-deep-change*. Answers true
// when the value has an owner whose object has an event record (also when
// the record names no deep handler).
bool ownership_check(ValueCell* value, ValueCell* action_word, ValueCell* new_value, i32 index,
                     i32 part);

}  // namespace zan

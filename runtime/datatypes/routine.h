// routine!: a built-in function whose entry is a C++ function found through
// the routine table. data1 the node of a context made from the spec, data2
// the spec node, data3 the node of a five-cell "more" block: the body (as
// given, not copied, or none), unset, the entry (integer!: an index into the
// routine table), left unset, the maker's fourth value (integer!). Header
// bit 15: the maker's flag; bits 25-29: the number of word! entries of the
// spec (the argument count).
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// A routine's entry: it reads its arguments from the argument frame and
// leaves its result in the result cell, like a native.
using RoutineFn = void (*)();

// The routine table: entries registered by name, numbered from 1.
u32 routine_table_register(const char* name, RoutineFn fn);
// The number of a registered name, or 0.
u32 routine_table_find(const char* name);
// The table's entries as an array, kept in step with the registrations
// (read on every routine call, so without a look-up of the table itself).
extern RoutineFn* g_routine_entries;
extern u32 g_routine_count;
// The entry of a number, or null.
inline RoutineFn routine_table_entry(u32 index) {
    return index - 1 < g_routine_count ? g_routine_entries[index - 1] : nullptr;
}
// Forgets every registration (a fresh start-up).
void routine_table_reset();

// Builds a routine! on the data stack and returns the cell.
ValueCell* routine_make(const ValueCell* spec, const ValueCell* body, u32 entry, i32 fourth,
                        bool flag);
// Counts the word! entries of the spec into the header (at most 31).
void routine_set_arity(ValueCell* routine);
// The count stored above: a caller that pushes a routine's arguments as
// machine values (code compiled ahead of time) takes it from here; the
// walker counts the arguments itself, so only tests read it.
inline u32 routine_arity(const ValueCell* routine) {
    return (routine->header & ROUTINE_ARITY_MASK) >> ROUTINE_ARITY_SHIFT;
}

i32 routine_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 routine_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                 ValueCell* arg_limit, i32 limit, i32 indent);
i32 routine_compare(ValueCell* value1, ValueCell* value2, i32 op);
void routine_init();

}  // namespace zan

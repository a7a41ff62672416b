// handle! and triple!: two small opaque datatypes that can only be shown
// (and, for handles, compared).
//
// A handle! cell: data1 the kind (0 none, 1 fd, 2 monitor, 3 window, 4 font,
// 5 rich-text), data2 the 32-bit handle, data3 the slot of the
// external-resource table (runtime/core/externals.h) that keeps its resource
// alive, or -1. A handle that stands for a resource is that slot, never a
// pointer: the resource's address stays in the table.
// A triple! cell: data1-data3 three signed 32-bit integers.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

enum HandleKind : u32 {
    HANDLE_NONE = 0, HANDLE_FD, HANDLE_MONITOR, HANDLE_WINDOW, HANDLE_FONT, HANDLE_RICH_TEXT,
};
// The name of a kind ("null", "fd", ...), "null" for unknown kinds.
const char* handle_kind_name(u32 kind);

// A handle of a plain value, with no resource behind it (data3 -1).
ValueCell* handle_make_at(ValueCell* cell, u32 value, u32 kind);
inline u32 handle_get(const ValueCell* c) { return c->data2; }
inline u32 handle_kind(const ValueCell* c) { return c->data1; }
// The address kept in the table for a handle, or null when the slot is
// free or out of the table.
void* handle_address(const ValueCell* handle);

i32 handle_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 handle_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
i32 handle_compare(ValueCell* value1, ValueCell* value2, i32 op);
void handle_init();

ValueCell* triple_make_at(ValueCell* cell, i32 a, i32 b, i32 c);
i32 triple_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 triple_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
void triple_init();

}  // namespace zan

// Search, sort, trim and set operations on the text types (and on binary!
// and vector!, which take find, select and sort from string!). find and
// select are declared with the other string! actions in string.h.
#pragma once
#include <cstdint>

#include "runtime/core/cell.h"
#include "runtime/datatypes/string.h"

namespace zan {

// ---- search core -----------------------------------------------------------------------
// The buffer position (units from the buffer head) of the match that find
// would answer, or -1; *length receives the number of units matched.
i32 string_find_position(ValueCell* series, ValueCell* value, ValueCell* part, bool case_sensitive,
                         bool same, bool any, ValueCell* with, ValueCell* skip, bool last,
                         bool reverse, bool match, i32* length);

// ---- sort --------------------------------------------------------------------------------
ValueCell* string_sort(ValueCell* series, bool case_sensitive, ValueCell* skip,
                       ValueCell* comparator, ValueCell* part, bool all, bool reverse, bool stable);

// Comparisons of the sort engines, one per element kind. The context word
// is the case flag (1: no folding); flags: bit 0 reverse, bit 1 whole
// records, bits 2 and up the record size in units (whole records) or the
// offset of the compared unit. Text units fold through the simple lower-case
// folding in every unit width unless the case flag is set.
i32 string_sort_cmp_bytes(const void* a, const void* b, uintptr_t case_flag, u32 flags);
i32 string_sort_cmp_u16(const void* a, const void* b, uintptr_t case_flag, u32 flags);
i32 string_sort_cmp_u32(const void* a, const void* b, uintptr_t case_flag, u32 flags);
// Raw units never folded (binary! bytes).
i32 string_sort_cmp_raw_bytes(const void* a, const void* b, uintptr_t unused, u32 flags);
// vector! elements: integer! elements of 1, 2 or 4 bytes as signed numbers,
// 32- and 64-bit floats (char! elements compare as unsigned code points).
i32 string_sort_cmp_i8(const void* a, const void* b, uintptr_t unused, u32 flags);
i32 string_sort_cmp_i16(const void* a, const void* b, uintptr_t unused, u32 flags);
i32 string_sort_cmp_i32(const void* a, const void* b, uintptr_t unused, u32 flags);
i32 string_sort_cmp_f32(const void* a, const void* b, uintptr_t unused, u32 flags);
i32 string_sort_cmp_f64(const void* a, const void* b, uintptr_t unused, u32 flags);
// A user function; the context word is a StringSortCall.
i32 string_sort_compare_func(const void* a, const void* b, uintptr_t call, u32 flags);

struct StringSortCall {
    ValueCell* function;   // on the data stack
    ValueCell* series;     // the sorted series (for its type and element type)
    ValueCell* scratch_a;  // whole records: two series of one record each
    ValueCell* scratch_b;
    u32 unit;
    u32 record_units;
};

// ---- trim --------------------------------------------------------------------------------
void string_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                 ValueCell* with);
// Removes every code point of the set (a string! or binary! from its head,
// a char! or integer!; null: tab, LF, CR and space) from the index to the tail.
void string_trim_with(ValueCell* series, ValueCell* with);
// Collapses white space: none at the ends, one space for every inner run.
void string_trim_ws(ValueCell* series);
// White space off the head and/or the tail; with neither, both ends and the
// blanks around every line feed.
void string_trim_modes(ValueCell* series, bool head, bool tail);
// White space as trim knows it, and the blanks of the default trim.
bool string_white_space_q(u32 cp);
bool string_blank_q(u32 cp);

// ---- set operations ------------------------------------------------------------------------
// op: 8 unique (a only), 9 union, 10 intersect, 11 exclude, 12 difference.
// A new series of a's type, pushed on the data stack.
ValueCell* string_set_op(ValueCell* a, ValueCell* b, bool case_sensitive, ValueCell* skip, i32 op);

}  // namespace zan

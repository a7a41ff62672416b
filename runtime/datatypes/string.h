// string!: text in 1-, 2- or 4-byte units (never narrowed), the code-point
// primitives the whole runtime calls, the string actions and text forms.
// The other text types (file! url! tag! email! ref!) share the layout:
// data1 head index in units, data2 buffer node, data3 0 or the node of the
// encoders' scratch buffer.
#pragma once
#include <cstring>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

// ---- making ------------------------------------------------------------------------------
// An empty 1-byte-unit string with room for capacity bytes (0 taken as 1).
ValueCell* string_make_at(ValueCell* cell, u32 capacity_bytes);
// The same with a chosen unit (1, 2 or 4) and room in units.
ValueCell* string_make_at_unit(ValueCell* cell, u32 capacity_units, u32 unit);
ValueCell* string_push_new(u32 capacity_bytes);      // a new empty string on the stack
// A new empty string in a new cell at the block's tail.
void string_set_result(u32 capacity_bytes);           // a new empty string in the result cell
// string_load: UTF-8 (encoding 0) or UTF-16LE (encoding -1) into target
// (made a new string; keep it where the collector sees it), or into a new
// stack cell when target is null. Any other encoding ends the process with
// a message and a non-zero status.
ValueCell* string_load(const void* source, u32 length, ValueCell* target, i32 encoding);
ValueCell* string_load_push(const void* source, u32 length, i32 encoding);
ValueCell* string_load_at(const void* source, u32 length, ValueCell* target, i32 encoding);

// ---- reading ------------------------------------------------------------------------------
// Characters from the index to the tail, and in the whole buffer.
i32 string_length(const ValueCell* s);
i32 string_total_length(const ValueCell* s);
u8* string_head_ptr(ValueCell* s);                    // clamps the index to the tail
u8* string_tail_ptr(const ValueCell* s);
bool string_at_tail_q(ValueCell* s);
u32 string_get_char(const u8* address, u32 unit);
// The character at a position counted from the buffer's head.
u32 string_char_at(const ValueCell* s, u32 position);
// The offset from the index of the first cp, or -1.
i32 string_index_of_char(ValueCell* s, u32 cp);
bool string_starts_with_cstr(ValueCell* s, const char* text);

// ---- writing ------------------------------------------------------------------------------
// Cuts the buffer to at most n characters from its head.
void string_clip_length(SeriesBuffer* buffer, u32 n);
void string_clip_length(ValueCell* s, u32 n);
// Each returns the buffer, which may have moved (widening or growth).
SeriesBuffer* string_append_char(SeriesBuffer* buffer, u32 cp);
SeriesBuffer* string_set_char(SeriesBuffer* buffer, u8* address, u32 cp);
SeriesBuffer* string_poke_char(SeriesBuffer* buffer, u32 position, u32 cp);
SeriesBuffer* string_insert_char(SeriesBuffer* buffer, u32 position, u32 cp);
void string_remove_char(SeriesBuffer* buffer, u32 position);
void string_remove_part(SeriesBuffer* buffer, u32 position, u32 n);
// Cell forms of the appenders.
void string_append_char(ValueCell* s, u32 cp);
void string_append_cstr(ValueCell* s, const char* text);
void string_append_bytes(ValueCell* s, const void* bytes, u32 n);

enum ConcatMode : i32 { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };
// source: any string-like value or a symbol! (its cached string). count -1:
// everything from the source's head. position: units from the target's head.
void string_concatenate(ValueCell* target, const ValueCell* source, i32 count, i32 position,
                        bool per_char, i32 mode);
// Moves count characters from the source's index to the target's.
void string_move(ValueCell* source, ValueCell* target, i32 count);

// ---- comparison ------------------------------------------------------------------------------
// The text comparison behind compare, find and parse; match mode is the
// prefix match of find and parse.
i32 string_compare_values(const ValueCell* a, const ValueCell* b, i32 op, bool match_mode);

// ---- parse helpers ------------------------------------------------------------------------------
// Whether the character at the index is in the bitset (false at the tail).
bool string_char_in_bitset_q(ValueCell* s, const ValueCell* bitset);
// Whether the text at the index has the tag's frame: "<", as many
// characters as the tag holds, then ">".
bool string_match_tag_q(ValueCell* s, const ValueCell* tag);
// Whether the text at the index starts with the value (a char!, a tag with
// its brackets, or another string-like value); false for other types.
bool string_match_value(ValueCell* s, const ValueCell* value, bool case_sensitive);

// ---- actions ------------------------------------------------------------------------------
ValueCell* string_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* string_to(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* string_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                            ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                            i32 index, bool case_sensitive, bool flag1, bool flag2, bool flag3);
i32 string_compare(ValueCell* a, ValueCell* b, i32 op);
// append of a text value (not a tag) to a string at its tail when nothing
// but a copy is needed: same unit width, room in the buffer, another buffer,
// no owner to tell. The series at its head into *result; false when it did
// nothing. Nothing here allocates.
bool string_append_quick(ValueCell* series, const ValueCell* value, ValueCell* result);
// string_append_quick, or else append's work for a char! or a text value
// (not a tag) on a string without an owner, which may allocate (the
// arguments are pushed on the data stack meanwhile). False, nothing done,
// for any other case. Raises no error short of running out of memory.
bool string_append_growing(ValueCell* series, ValueCell* value, ValueCell* result);
// The usual case of string_append_quick, inline at the action: a string! of
// up to 16 bytes copied to the tail of another buffer of bytes that has the
// room and no owner. The caller sets the result; false when it did nothing.
[[gnu::always_inline]] inline bool string_append_bytes_quick(ValueCell* series, const ValueCell* value) {
    if (value->type() != TYPE_STRING) return false;
    SeriesBuffer* b = series_of(series);
    SeriesBuffer* sb = series_of(value);
    if ((b->flags & (SERIES_OWNED | SERIES_UNIT_MASK)) != 1 ||
        (sb->flags & SERIES_UNIT_MASK) != 1 || sb == b)
        return false;
    i32 idx = series_index(value);
    u32 slen = sb->used_bytes();
    u32 from = idx <= 0 ? 0u : static_cast<u32>(idx) < slen ? static_cast<u32>(idx) : slen;
    u32 n = slen - from;
    // A short text only (by overlapping moves), so that nothing here calls.
    if (n > 16 || u64(b->tail) + n > b->end_ref()) return false;
    u8* to = b->tail_ptr();
    const u8* p = sb->head_ptr() + from;
    if (n - 1 < 3) {
        to[0] = p[0];
        to[n / 2] = p[n / 2];
        to[n - 1] = p[n - 1];
    } else if (n - 4 < 4) {
        u32 x, y;
        std::memcpy(&x, p, 4);
        std::memcpy(&y, p + n - 4, 4);
        std::memcpy(to, &x, 4);
        std::memcpy(to + n - 4, &y, 4);
    } else if (n >= 8) {
        u64 x, y;
        std::memcpy(&x, p, 8);
        std::memcpy(&y, p + n - 8, 8);
        std::memcpy(to, &x, 8);
        std::memcpy(to + n - 8, &y, 8);
    }
    b->tail += n;
    return true;
}
void string_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append);
void string_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
void string_swap(ValueCell* a, ValueCell* b);
ValueCell* string_take(ValueCell* series, ValueCell* part, bool deep, bool last);
// Search, sort and trim (string_search.cpp).
ValueCell* string_find(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                       bool case_sensitive, bool same, bool any, ValueCell* with,
                       ValueCell* skip, bool last, bool reverse, bool tail, bool match);
ValueCell* string_select(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                         bool case_sensitive, bool same, bool any, ValueCell* with,
                         ValueCell* skip, bool last, bool reverse);

// ---- text forms ------------------------------------------------------------------------------
i32 string_form(ValueCell* s, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 string_mold(ValueCell* s, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
constexpr i32 MOLD_STRING_MODE = 253;
// Appends one character as mold writes it: ^(hex) for control and (with
// all) non-ASCII characters, caret escapes in MOLD_STRING_MODE.
void string_mold_char(ValueCell* out, u32 cp, i32 mode, bool all);
// Two upper-case hex digits in a static buffer, valid until the next call.
const char* string_byte_to_hex(u8 byte);
// Eight digits (full; leading "F" for negatives) or only the significant
// ones (short; "00" for zero), in a static buffer valid until the next call.
const char* string_int_to_hex(i32 n, bool full);
// Counts the double quotes and line feeds of the text, which choose
// between the quoted and the braced form.
void string_mold_scan(const u8* begin, const u8* end, u32 unit, i32* quotes, i32* line_feeds);
// Whether the "{" at position finds its closing "}" before end.
bool string_mold_brace_check(const u8* position, const u8* end, u32 unit);

void string_init();

}  // namespace zan

// binary!: a series of raw bytes (1-byte units, never widened): data1 the
// head index, data2 the node of the bytes, data3 0.
// Besides its actions it supplies the byte-series primitives with which the
// lexer, the serialisation format, the codecs, checksums, compression and
// the clipboard build and read byte buffers, and the base-2, -16, -58 and
// -64 text codecs behind enbase and debase.
//
// Collector discipline: every routine that allocates may move buffers. A
// binary cell handed to one of them must not live inside a series buffer
// (keep it on the data stack or in a local copy); byte sources that live in
// a series are given as ByteSource::series(node, offset).
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/unicode.h"

namespace zan {

// ---- primitives ---------------------------------------------------------------------------
// Bytes from the head (the index clamped to 0 .. tail) to the tail.
i32 binary_length(const ValueCell* b);
u8* binary_head_ptr(const ValueCell* b);
bool binary_at_tail(const ValueCell* b);
// Appends n bytes, growing the buffer (twice its room, or exactly the need).
void binary_append_bytes(ValueCell* b, ByteSource src, u32 n);
// Writes n bytes at head + offset, growing the buffer and the tail when the
// write passes them.
void binary_overwrite_bytes(ValueCell* b, u32 offset, ByteSource src, u32 n);

// ---- making -------------------------------------------------------------------------------
ValueCell* binary_make_at(ValueCell* cell, u32 capacity);
ValueCell* binary_push_new(u32 capacity);
// A new binary holding a copy of n bytes: in a given cell (which must not
// live in a series buffer), at the tail of a block, or pushed.
ValueCell* binary_load_at(ValueCell* cell, ByteSource src, u32 n);
ValueCell* binary_load(ByteSource src, u32 n);

// ---- values and matching ------------------------------------------------------------------
// Byte comparison of two binary! values from their heads (never folded).
// op 9: 0 for the same node and index, else -1. Outside match mode unequal
// lengths are unequal (1) for the equality ops, and the orderings compare
// the common prefix, the shorter first. In match mode b must be a prefix
// of a (0) or the answer is 1.
i32 binary_compare_values(const ValueCell* a, const ValueCell* b, i32 op, bool match_mode);
// The byte at the head is in the bitset (bytes beyond its bits answer the
// complement flag); false at the tail.
bool binary_byte_in_bitset(const ValueCell* b, const ValueCell* bitset);
// The parse helper: text and binary! values match as a prefix of the bytes
// at the head (text by its UTF-8 encoding), a char! by equality with the
// head byte; every other type never matches.
bool binary_match_value(const ValueCell* b, const ValueCell* value, i32 op);
// The issue's text read as hexadecimal into a new binary! in target; text
// that is not pairs of hexadecimal digits raises invalid-data with the issue.
ValueCell* binary_from_hex_text(const ValueCell* issue, ValueCell* target);

// ---- base-2, -16, -58 and -64 text ----------------------------------------------------------
// The most characters an encoder writes for n bytes.
u32 binary_encoded_size(u32 base, u32 n);
// Each encoder writes into out (at least binary_encoded_size bytes) and
// returns the end of what it wrote. src must not move while they run (they
// do not allocate).
u8* binary_encode_base2(const u8* src, u32 n, u8* out);
u8* binary_encode_base16(const u8* src, u32 n, u8* out);
u8* binary_encode_base58(const u8* src, u32 n, u8* out);
u8* binary_encode_base64(const u8* src, u32 n, u8* out);
// Each decoder reads length units of unit size 1, 2 or 4 and returns a new
// binary! pushed on the data stack, or null when the text is not valid in
// that base. They raise nothing. Trailing input is never dropped: a tail
// that does not complete a byte (or, in base 64, a group), or text after the
// padding, makes the whole text invalid.
ValueCell* binary_decode_base2(const u8* text, u32 length, u32 unit);
ValueCell* binary_decode_base16(const u8* text, u32 length, u32 unit);
ValueCell* binary_decode_base58(const u8* text, u32 length, u32 unit);
ValueCell* binary_decode_base64(const u8* text, u32 length, u32 unit);

// ---- actions ------------------------------------------------------------------------------------
ValueCell* binary_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 binary_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 binary_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
i32 binary_compare(ValueCell* a, ValueCell* b, i32 op);
// and~, or~, xor~ on frame cells 0 and 1: a new binary! in the result cell.
void binary_and_t();
void binary_or_t();
void binary_xor_t();
// A new binary! with every byte from the head inverted; the argument is
// left as it is.
ValueCell* binary_complement(ValueCell* value);
void binary_insert(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup,
                   bool append);
void binary_change(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
void binary_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                 ValueCell* with);

void binary_init();

}  // namespace zan

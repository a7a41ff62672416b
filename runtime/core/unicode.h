// Unicode text: the fixed-width unit buffers of the text values and the
// codecs between them and UTF-8 / UTF-16LE.
//
// A text value (string!, file!, url!, tag!, email!, ref!) is a cell with
//   data1  head index, in units, from the buffer's first used unit (head);
//   data2  Node of a SeriesBuffer whose unit (flags bits 0-4) is 1, 2 or 4:
//          1 byte holds code points 0-255, 2 bytes (little-endian) 0-0xFFFF,
//          4 bytes any code point;
//   data3  0, or the Node of the value's scratch byte series, the output
//          buffer that the encoders below reuse from call to call.
// A buffer is never narrowed: it is widened in place to the smallest unit
// that holds every code point that has arrived.
//
// Collector discipline: every routine here that allocates may run the
// collector, which moves buffers. Pointers into series (returned scratch
// addresses, SeriesBuffer pointers passed in) are valid only until the next
// allocation. A string cell handed to a routine that allocates must not live
// inside a series buffer (keep it on the data stack or in a local copy).
// Source bytes that live inside a series must be passed as
// ByteSource::series(node, offset) so that they are re-read after every
// allocation; a plain pointer source must not move.
//
// Line breaks: the platform text of this system uses LF. The CR flags below
// exist for callers that ask for CR LF; nothing here turns them on by itself.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

constexpr u32 UNICODE_MAX = 0x10FFFF;

// ---- source bytes for the loaders --------------------------------------------

// Where a loader reads from: a plain address that does not move, or a byte
// offset from the head of a series, re-read through its node.
struct ByteSource {
    const u8* raw = nullptr;
    Node node = 0;
    u32 offset = 0;

    ByteSource() = default;
    // Implicit, so that a plain address can be passed where a source is due.
    ByteSource(const void* p) : raw(static_cast<const u8*>(p)) {}
    static ByteSource series(Node n, u32 offset_from_head) {
        ByteSource s;
        s.node = n;
        s.offset = offset_from_head;
        return s;
    }
    bool none() const { return !raw && !node; }
    const u8* ptr() const { return raw ? raw : node_buffer(node)->head_ptr() + offset; }
};

// A code point of the surrogate range (U+D800-U+DFFF), which UTF-8 text
// never holds: such a character stands alone in a string (an undecodable
// byte of a local name) and has no UTF-8 form of its own.
inline bool unicode_is_surrogate(u32 cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// ---- decoding UTF-8 -------------------------------------------------------------

// One step of the table-driven UTF-8 decoder. Returns the position after the
// bytes consumed and the code point, or -1 when the sequence is rejected (the
// byte that made it fail is consumed). It reads until the sequence is
// accepted or rejected, so the input must end in a byte that is not a
// continuation byte (the NUL of a scratch buffer does); use the bounded form
// otherwise.
const u8* utf8_decode_char(const u8* p, i32* cp);
// The same, never reading at or past end: a sequence cut by end gives -1 and
// the position end.
const u8* utf8_decode_char(const u8* p, const u8* end, i32* cp);
// The bounded step for lenient decoding: a rejected sequence gives -1 and
// the position after its maximal invalid part (the lead byte and the
// continuation bytes that could still have been part of a character), so
// that the byte which broke it is decoded afresh and nothing valid is lost.
const u8* utf8_decode_char_lenient(const u8* p, const u8* end, i32* cp);
// Code points (rejected sequences count one each) between begin and end.
u32 utf8_count_chars(const u8* begin, const u8* end);
// The position after n code points, or end when it comes first.
const u8* utf8_skip_chars(const u8* p, const u8* end, u32 n);
// Length announced by a lead byte: 4 (1111xxxx), 3 (111xxxxx), 2 (11xxxxxx),
// else 0 (ASCII and continuation bytes). For a reader that sizes a sequence
// before decoding it; the decoders above find the length themselves.
u32 utf8_lead_length(u8 b);
// Strict-length decoding for the string loader. *remaining is the number of
// bytes available at p; on success it is replaced by the sequence length and
// the code point is returned. -1 when the sequence needs more bytes than
// remain. Lead bytes C0 and C1 (overlong two-byte forms) are accepted; a
// three-byte result in DC00-DCFF or a four-byte result above 0x10FFFF, a
// stray continuation or F8-FF lead, or a bad continuation byte raises access
// error invalid-utf8 with the bytes at p (up to 4) as a binary!.
i32 utf8_decode_char_checked(const u8* p, u32* remaining);

// ---- encoding UTF-8 ---------------------------------------------------------------

// 1 to 4; a code point above 0x10FFFF raises script error invalid-char.
u32 utf8_char_length(u32 cp);
// UTF-8 length of the units in [begin, end) of the given unit size. For a
// caller that sizes its own buffer before unicode_to_utf8_into; the
// converters here grow the scratch buffer as they go instead.
u32 utf8_length_of_units(const u8* begin, const u8* end, u32 unit);
// Writes 1 to 4 bytes; above 0x10FFFF raises invalid-char.
u32 utf8_encode_char(u32 cp, u8* dst);
// Writes only the leading bytes of the sequence that fit in room.
u32 utf8_encode_char_bounded(u32 cp, u8* dst, u32 room);

// The string from its index as NUL-terminated UTF-8 in its scratch buffer.
// *length: in, the number of code points to take (-1 = up to the tail);
// out, the byte count without the NUL. With crlf every LF becomes CR LF.
char* unicode_to_utf8(ValueCell* str, i32* length);
char* unicode_to_utf8_part(ValueCell* str, i32* length, bool crlf);
// As unicode_to_utf8_part, returning the scratch buffer's Node (its head is
// the text; its tail is set past the last byte, before the NUL).
Node unicode_to_utf8_buffer(ValueCell* str, i32* length, bool crlf);
// Encodes into dst (which must hold utf8_length_of_units of the run, plus 1
// with nul): at most limit code points (-1 = up to the tail). Returns the
// bytes written; the NUL is written after them, not counted.
u32 unicode_to_utf8_into(const ValueCell* str, u8* dst, i32 limit, bool nul);
// For a caller with a fixed buffer (a host routine filling a C field); the
// product converts into scratch buffers that grow.
// Encodes into dst without ever writing past room bytes: a sequence that
// does not fit is cut after the bytes that fit and later units write
// nothing. limit counts code points when above 0 and below the length. With
// nul a terminating NUL is written inside room (the text gets room - 1).
u32 unicode_to_utf8_bounded(const ValueCell* str, u8* dst, u32 room, i32 limit, bool nul);

// ---- UTF-16LE ---------------------------------------------------------------------------

// Units written: 1 below 0x10000, 2 (a surrogate pair) up to 0x10FFFF, 0 above.
u32 utf16_encode_char(u32 cp, char16_t* dst);
// Extra bytes an encoding of [begin, end) may need beyond 2 per unit: 2 for
// each LF and 2 for each code point above 0xFFFF.
u32 unicode_utf16_extra(const u8* begin, const u8* end, u32 unit);
// The string from its index as NUL-terminated UTF-16LE in its scratch
// buffer, or null when a code point above 0x10FFFF is met. *count: in, the
// number of code points to take (-1 = up to the tail); out, the UTF-16
// units written without the terminating zero unit. With crlf every LF is
// preceded by CR (and counted).
char16_t* unicode_to_utf16_part(ValueCell* str, i32* count, bool crlf);
// The whole rest of the string, LF kept as LF. For host routines that hand
// text to a UTF-16 interface; the Linux host passes UTF-8 only.
char16_t* unicode_to_utf16(ValueCell* str);
// The string's scratch buffer, made or grown to hold at least bytes bytes;
// returns the address of its first byte.
u8* unicode_scratch_reserve(ValueCell* str, u32 bytes);

// Width that UTF-16LE units need: 4 when a surrogate (high byte D8-DF) is
// among them, else 2 when any high byte is non-zero, else 1.
u32 utf16_unit_width(const u8* src, u32 count);

// ---- loading into strings ---------------------------------------------------------

// Decodes UTF-8 into a string buffer: into target's buffer (its content is
// replaced from its head; its unit is kept or widened) or, with none, into a
// new buffer of 1-byte units. A leading byte-order mark is skipped. A
// sequence cut at the end of the source stops the decoding: *left (when
// given) receives the bytes not decoded, for the caller to carry over. With
// cr, CR LF is stored as LF and a lone CR as LF. Invalid UTF-8 raises access
// error invalid-utf8. Returns the buffer's Node.
Node unicode_load_utf8(ByteSource src, u32 length, SeriesBuffer* target, u32* left, bool cr);
// Into the buffer of a string cell (CR flag clear).
Node unicode_load_utf8_into(ByteSource src, u32 length, ValueCell* str, u32* left);
// Into a new buffer (CR flag clear).
Node unicode_load_utf8_new(ByteSource src, u32 length);
// Turns the bytes of a byte series (unit 1, from its head; the caller keeps
// it reachable) into text by the rules of unicode_load_utf8 (CR flag
// clear): a leading byte-order mark is skipped; when every code point fits
// a byte the text is decoded in place and the series becomes its buffer,
// else a new buffer of the unit the widest code point needs receives it.
// Invalid UTF-8 raises access error invalid-utf8 with up to 4 bytes at the
// fault; a sequence cut by the end raises it with the bytes left, unless
// may_cut, when they are left out. Returns the node of the text's buffer.
Node unicode_utf8_bytes_to_text(Node bytes, bool may_cut);
// Appends bytes that should be UTF-8 at the tail of the buffer of the
// string cell str (which must not live in a series buffer), widening it as
// the code points need: valid sequences give their code points, each
// maximal invalid subsequence one U+FFFD. Without final, a sequence cut by
// the end of the bytes is left for the next call: returns the bytes taken.
// p must not lie in the heap.
size_t unicode_append_utf8_lenient(ValueCell* str, const u8* p, size_t n, bool final);
// Loads count UTF-16LE units into the buffer of the string cell str (content
// replaced from its head, unit set to utf16_unit_width) or, with null, into
// a new buffer. A none source means the raw units already sit in str's own
// buffer. Surrogate pairs become one code point; a lone low surrogate is kept
// as it is. With cr every CR unit is dropped. A high surrogate that is not
// followed by a low one within count raises script error invalid-data with
// the offending bytes as a binary!, before the target is touched. Returns the
// buffer's Node.
Node unicode_load_utf16(ByteSource src, u32 count, ValueCell* str, bool cr);

// ---- widening in place ------------------------------------------------------------------

// Each rewrites the units from head to tail at the wider unit (growing the
// buffer first when it is too small) and returns the buffer, which has moved
// when it had to grow.
SeriesBuffer* unicode_latin1_to_ucs2(SeriesBuffer* b);
SeriesBuffer* unicode_latin1_to_ucs4(SeriesBuffer* b);
SeriesBuffer* unicode_ucs2_to_ucs4(SeriesBuffer* b);
// The smallest unit that holds cp: 1, 2 or 4.
inline u32 unicode_unit_for(u32 cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }
// Widens b to unit to_unit (nothing when it is already as wide).
SeriesBuffer* unicode_widen(SeriesBuffer* b, u32 to_unit);
// Widens b so that its unit holds cp.
inline SeriesBuffer* unicode_widen_for(SeriesBuffer* b, u32 cp) {
    u32 u = unicode_unit_for(cp);
    return u > b->unit() ? unicode_widen(b, u) : b;
}

// ---- units ----------------------------------------------------------------------------------

// log2 of a text unit; any unit other than 1, 2 or 4 ends the process with
// runtime error 101.
u32 unicode_unit_shift(u32 unit);
[[noreturn]] void unicode_bad_unit(u32 unit);
// The code point at p of the given unit size, and the store of one.
inline u32 unicode_get_unit(const u8* p, u32 unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return u32(p[0]) | u32(p[1]) << 8;
        case 4: {
            u32 v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default: unicode_bad_unit(unit);
    }
}
inline void unicode_put_unit(u8* p, u32 unit, u32 cp) {
    switch (unit) {
        case 1: *p = static_cast<u8>(cp); return;
        case 2: p[0] = static_cast<u8>(cp); p[1] = static_cast<u8>(cp >> 8); return;
        case 4: std::memcpy(p, &cp, 4); return;
        default: unicode_bad_unit(unit);
    }
}
// Address of the head unit of a text cell (its index clamped to the tail,
// without changing the cell) and the number of units from there to the tail.
u8* unicode_head_ptr(const ValueCell* str);
u32 unicode_length(const ValueCell* str);

}  // namespace zan

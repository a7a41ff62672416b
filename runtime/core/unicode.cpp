#include "runtime/core/unicode.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/core/utf8_bulk.h"

namespace zan {

namespace {

// ---- the UTF-8 automaton -------------------------------------------------------
//
// 256 class bytes, one per byte value, then 108 transition bytes indexed by
// state + class. States are multiples of 12: 0 accept, 12 reject, 24 one
// continuation byte to go, 36 two to go, 48 after E0 (A0-BF next), 60 after
// ED (80-9F next), 72 after F0 (90-BF next), 84 after F1-F3, 96 after F4
// (80-8F next). Classes: 0 ASCII, 1 80-8F, 9 90-9F, 7 A0-BF, 8 C0-C1 and
// F5-FF, 2 C2-DF, 10 E0, 3 E1-EC and EE-EF, 4 ED, 11 F0, 6 F1-F3, 5 F4.
constexpr u32 DFA_ACCEPT = 0;
constexpr u32 DFA_REJECT = 12;

constexpr u8 utf8_dfa_table[364] = {
    // classes 00-7F
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 80-8F, 90-9F
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    // A0-BF
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    // C0-C1, C2-DF
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    // E0, E1-EC, ED, EE-EF, F0, F1-F3, F4, F5-FF
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions: one row of 12 classes per state
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,        // 0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 12
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,          // 24
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,       // 36
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,       // 48
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,       // 60
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 72
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,       // 84
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,       // 96
};
constexpr const u8* utf8_class = utf8_dfa_table;
constexpr const u8* utf8_trans = utf8_dfa_table + 256;

constexpr u32 LF = 0x0A;
constexpr u32 CR = 0x0D;

u32 round16(u64 n) { return static_cast<u32>((n + 15) & ~u64(15)); }

// A cell registered as a collector root for the duration of a scope, so that
// a series we work on stays alive and its node stays current.
struct Pin {
    ValueCell cell;
    GcRoot root;
    Pin(u32 type, Node n) : root(&cell) { cell_init(&cell, type, 0, n, 0); }
    Node node() const { return series_node(&cell); }
    SeriesBuffer* buffer() const { return node_buffer(series_node(&cell)); }
};

// A loader's source, kept reachable when it lives in a series.
struct SourcePin {
    const u8* raw;
    u32 offset;
    Pin pin;
    explicit SourcePin(const ByteSource& s)
        : raw(s.raw), offset(s.offset), pin(s.raw ? TYPE_NONE : TYPE_BINARY, s.raw ? 0 : s.node) {}
    const u8* ptr() const {
        if (raw) return raw;
        return pin.node() ? pin.buffer()->head_ptr() + offset : nullptr;
    }
};

void check_size(u64 bytes) {
    if (bytes > 0x7FFFFFF0u) fire(Err::internal_no_memory);
}

// Raises id with a binary! of n bytes copied from p.
[[noreturn]] void fire_with_bytes(Err id, const u8* p, u32 n) {
    u8 bytes[4];
    if (n > 4) n = 4;
    std::memcpy(bytes, p, n);
    Node node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    ValueCell arg;
    cell_init(&arg, TYPE_BINARY, 0, node, 0);
    // On the data stack the binary stays reachable while the error is built.
    if (g_stack.top) {
        fire(id, stack_push(&arg));
    }
    fire(id, &arg);
}

[[noreturn]] void fire_invalid_char(u32 cp) {
    ValueCell arg;
    cell_init(&arg, TYPE_INTEGER, 0, cp, 0);
    fire(Err::script_invalid_char, &arg);
}

inline u32 encode_utf8(u32 cp, u8* d) {
    if (cp < 0x80) {
        d[0] = static_cast<u8>(cp);
        return 1;
    }
    if (cp < 0x800) {
        d[0] = static_cast<u8>(0xC0 | cp >> 6);
        d[1] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        d[0] = static_cast<u8>(0xE0 | cp >> 12);
        d[1] = static_cast<u8>(0x80 | (cp >> 6 & 0x3F));
        d[2] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp <= UNICODE_MAX) {
        d[0] = static_cast<u8>(0xF0 | cp >> 18);
        d[1] = static_cast<u8>(0x80 | (cp >> 12 & 0x3F));
        d[2] = static_cast<u8>(0x80 | (cp >> 6 & 0x3F));
        d[3] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 4;
    }
    fire_invalid_char(cp);
}

template <u32 U>
inline u32 get_unit(const u8* p) {
    if constexpr (U == 1) {
        return *p;
    } else if constexpr (U == 2) {
        return u32(p[0]) | u32(p[1]) << 8;
    } else {
        u32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <u32 U>
inline void put_unit(u8* p, u32 cp) {
    if constexpr (U == 1) {
        *p = static_cast<u8>(cp);
    } else if constexpr (U == 2) {
        p[0] = static_cast<u8>(cp);
        p[1] = static_cast<u8>(cp >> 8);
    } else {
        std::memcpy(p, &cp, 4);
    }
}

inline u32 utf16_at(const u8* s, u32 i) { return u32(s[2 * i]) | u32(s[2 * i + 1]) << 8; }
inline bool is_high_surrogate(u32 u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_low_surrogate(u32 u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Encodes n units of unit size U from src as UTF-8 at d; returns the end.
template <u32 U>
u8* encode_run(const u8* src, u32 n, u8* d, bool crlf) {
    for (u32 i = 0; i < n; i++) {
        u32 cp = get_unit<U>(src + i * U);
        if (cp < 0x80) {
            if (cp == LF && crlf) *d++ = CR;
            *d++ = static_cast<u8>(cp);
        } else {
            d += encode_utf8(cp, d);
        }
    }
    return d;
}

u8* encode_units(const u8* src, u32 n, u32 unit, u8* d, bool crlf) {
    switch (unit) {
        case 1: return encode_run<1>(src, n, d, crlf);
        case 2: return encode_run<2>(src, n, d, crlf);
        case 4: return encode_run<4>(src, n, d, crlf);
        default: unicode_bad_unit(unit);
    }
}

// Rewrites the units of b from unit From to unit To, growing b first.
template <u32 From, u32 To>
SeriesBuffer* widen(SeriesBuffer* b) {
    if (b->unit() != From) unicode_bad_unit(b->unit());
    u32 count = b->used_bytes() / From;
    u64 lead = b->head - b->data_ref();
    u64 need = lead + u64(count) * To + To;
    if (need > b->size) {
        u64 size = u64(count) * To + To;
        check_size(size);
        Pin keep(TYPE_BINARY, b->node);
        b = series_expand(b, round16(size));
    }
    u8* h = b->head_ptr();
    for (u32 i = count; i-- > 0;) put_unit<To>(h + i * To, get_unit<From>(h + i * From));
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | To;
    b->tail = b->head + count * To;
    return b;
}

// Grows b (pinned) by at least step bytes beyond its current size.
SeriesBuffer* grow_by(const Pin& pin, u32 step) {
    SeriesBuffer* b = pin.buffer();
    u64 size = u64(b->size) + (step < 16 ? 16 : step);
    check_size(size);
    return series_expand(b, round16(size));
}

// Room in units from the head of b to the end of its data area.
inline u32 room_units(const SeriesBuffer* b, u32 unit) { return (b->end_ref() - b->head) / unit; }

}  // namespace

// ---- units ----------------------------------------------------------------------

void unicode_bad_unit(u32 unit) {
    (void)unit;
    runtime_fatal(101, "unsupported text unit size");
}

u32 unicode_unit_shift(u32 unit) {
    switch (unit) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        default: unicode_bad_unit(unit);
    }
}

u8* unicode_head_ptr(const ValueCell* str) {
    SeriesBuffer* b = series_of(str);
    u64 pos = u64(b->head) + (u64(static_cast<u32>(series_index(str))) << unicode_unit_shift(b->unit()));
    return hptr(pos < b->tail ? static_cast<HeapRef>(pos) : b->tail);
}

u32 unicode_length(const ValueCell* str) {
    SeriesBuffer* b = series_of(str);
    u32 shift = unicode_unit_shift(b->unit());
    return static_cast<u32>(b->tail_ptr() - unicode_head_ptr(str)) >> shift;
}

// ---- decoding UTF-8 ---------------------------------------------------------------

const u8* utf8_decode_char(const u8* p, i32* out) {
    u32 b = *p++;
    u32 c = utf8_class[b];
    u32 cp = (0xFFu >> c) & b;
    u32 state = utf8_trans[c];
    while (state != DFA_ACCEPT) {
        if (state == DFA_REJECT) {
            *out = -1;
            return p;
        }
        u32 next = *p++;
        cp = (next & 0x3F) | (cp << 6);
        state = utf8_trans[state + utf8_class[next]];
    }
    *out = static_cast<i32>(cp);
    return p;
}

const u8* utf8_decode_char(const u8* p, const u8* end, i32* out) {
    if (p >= end) {
        *out = -1;
        return end;
    }
    u32 b = *p++;
    u32 c = utf8_class[b];
    u32 cp = (0xFFu >> c) & b;
    u32 state = utf8_trans[c];
    while (state != DFA_ACCEPT) {
        if (state == DFA_REJECT || p == end) {
            *out = -1;
            return p;
        }
        u32 next = *p++;
        cp = (next & 0x3F) | (cp << 6);
        state = utf8_trans[state + utf8_class[next]];
    }
    *out = static_cast<i32>(cp);
    return p;
}

const u8* utf8_decode_char_lenient(const u8* p, const u8* end, i32* out) {
    const u8* next = utf8_decode_char(p, end, out);
    if (*out >= 0) return next;
    // Rejected or cut by end: the invalid part is the lead byte and the
    // continuation bytes the automaton took before the byte that failed,
    // which begins the next sequence.
    u32 state = utf8_trans[utf8_class[*p]];
    const u8* q = p + 1;
    while (state != DFA_REJECT && state != DFA_ACCEPT && q < end) {
        u32 after = utf8_trans[state + utf8_class[*q]];
        if (after == DFA_REJECT) break;
        state = after;
        q++;
    }
    return q;
}

u32 utf8_count_chars(const u8* begin, const u8* end) {
    u32 n = 0;
    i32 cp;
    while (begin < end) {
        if (*begin < 0x80) {
            ++begin;
        } else {
            begin = utf8_decode_char(begin, end, &cp);
        }
        n++;
    }
    return n;
}

const u8* utf8_skip_chars(const u8* p, const u8* end, u32 n) {
    i32 cp;
    while (n-- > 0 && p < end) p = utf8_decode_char(p, end, &cp);
    return p;
}

u32 utf8_lead_length(u8 b) {
    if ((b & 0xF0) == 0xF0) return 4;
    if ((b & 0xE0) == 0xE0) return 3;
    if ((b & 0xC0) == 0xC0) return 2;
    return 0;
}

i32 utf8_decode_char_checked(const u8* p, u32* remaining) {
    u32 rem = *remaining;
    if (rem == 0) return -1;
    u32 b = p[0];
    if (b < 0x80) {
        *remaining = 1;
        return static_cast<i32>(b);
    }
    u32 len;
    u32 cp;
    if (b >= 0xC0 && b <= 0xDF) {
        len = 2;
        cp = b - 0xC0;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b - 0xE0;
    } else if (b >= 0xF0 && b <= 0xF7) {
        len = 4;
        cp = b - 0xF0;
    } else {
        fire_with_bytes(Err::access_invalid_utf8, p, rem < 4 ? rem : 4);
    }
    if (rem < len) return -1;
    for (u32 i = 1; i < len; i++) {
        u32 c = p[i];
        if (c < 0x80 || c > 0xBF) fire_with_bytes(Err::access_invalid_utf8, p, rem < 4 ? rem : 4);
        cp = cp << 6 | (c - 0x80);
    }
    if ((len == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp > UNICODE_MAX)
        fire_with_bytes(Err::access_invalid_utf8, p, rem < 4 ? rem : 4);
    *remaining = len;
    return static_cast<i32>(cp);
}

// ---- encoding UTF-8 ---------------------------------------------------------------

u32 utf8_char_length(u32 cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp <= UNICODE_MAX) return 4;
    fire_invalid_char(cp);
}

u32 utf8_length_of_units(const u8* begin, const u8* end, u32 unit) {
    u32 shift = unicode_unit_shift(unit);
    u32 n = static_cast<u32>(end - begin) >> shift;
    u32 total = 0;
    for (u32 i = 0; i < n; i++) total += utf8_char_length(unicode_get_unit(begin + (i << shift), unit));
    return total;
}

u32 utf8_encode_char(u32 cp, u8* dst) { return encode_utf8(cp, dst); }

u32 utf8_encode_char_bounded(u32 cp, u8* dst, u32 room) {
    u8 tmp[4];
    u32 n = encode_utf8(cp, tmp);
    if (n > room) n = room;
    std::memcpy(dst, tmp, n);
    return n;
}

u8* unicode_scratch_reserve(ValueCell* str, u32 bytes) {
    if (bytes == 0) bytes = 1;
    if (!string_scratch(str)) {
        Node n = alloc_bytes(bytes);
        set_string_scratch(str, n);
        return node_buffer(n)->head_ptr();
    }
    SeriesBuffer* b = node_buffer(string_scratch(str));
    if (b->end_ref() - b->head < bytes) b = series_expand_buffer(b, round16(bytes));
    return b->head_ptr();
}

Node unicode_to_utf8_buffer(ValueCell* str, i32* length, bool crlf) {
    GcRoot keep(str);
    u32 n = unicode_length(str);
    if (*length >= 0 && static_cast<u32>(*length) < n) n = static_cast<u32>(*length);
    u32 unit = series_of(str)->unit();
    u32 per = unit == 1 ? 2 : unit == 2 ? 3 : 4;
    u64 need = u64(per) * (u64(n) + 1);
    check_size(need);
    u8* out = unicode_scratch_reserve(str, static_cast<u32>(need));
    u8* end = encode_units(unicode_head_ptr(str), n, unit, out, crlf);
    *end = 0;
    SeriesBuffer* sb = node_buffer(string_scratch(str));
    u32 bytes = static_cast<u32>(end - out);
    sb->tail = sb->head + bytes;
    *length = static_cast<i32>(bytes);
    return string_scratch(str);
}

char* unicode_to_utf8_part(ValueCell* str, i32* length, bool crlf) {
    Node n = unicode_to_utf8_buffer(str, length, crlf);
    return reinterpret_cast<char*>(node_buffer(n)->head_ptr());
}

char* unicode_to_utf8(ValueCell* str, i32* length) { return unicode_to_utf8_part(str, length, false); }

u32 unicode_to_utf8_into(const ValueCell* str, u8* dst, i32 limit, bool nul) {
    u32 n = unicode_length(str);
    if (limit >= 0 && static_cast<u32>(limit) < n) n = static_cast<u32>(limit);
    u8* end = encode_units(unicode_head_ptr(str), n, series_of(str)->unit(), dst, false);
    if (nul) *end = 0;
    return static_cast<u32>(end - dst);
}

u32 unicode_to_utf8_bounded(const ValueCell* str, u8* dst, u32 room, i32 limit, bool nul) {
    u32 n = unicode_length(str);
    if (limit > 0 && static_cast<u32>(limit) < n) n = static_cast<u32>(limit);
    if (nul) {
        if (room == 0) return 0;
        room--;
    }
    u32 unit = series_of(str)->unit();
    const u8* src = unicode_head_ptr(str);
    u32 w = 0;
    for (u32 i = 0; i < n && w < room; i++) {
        u32 cp = unicode_get_unit(src + i * unit, unit);
        w += utf8_encode_char_bounded(cp, dst + w, room - w);
    }
    if (nul) dst[w] = 0;
    return w;
}

// ---- UTF-16LE ---------------------------------------------------------------------------

u32 utf16_encode_char(u32 cp, char16_t* dst) {
    if (cp < 0x10000) {
        dst[0] = static_cast<char16_t>(cp);
        return 1;
    }
    if (cp <= UNICODE_MAX) {
        cp -= 0x10000;
        dst[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
        dst[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    return 0;
}

u32 unicode_utf16_extra(const u8* begin, const u8* end, u32 unit) {
    u32 shift = unicode_unit_shift(unit);
    u32 n = static_cast<u32>(end - begin) >> shift;
    u32 extra = 0;
    for (u32 i = 0; i < n; i++) {
        u32 cp = unicode_get_unit(begin + (i << shift), unit);
        if (cp == LF || cp > 0xFFFF) extra += 2;
    }
    return extra;
}

char16_t* unicode_to_utf16_part(ValueCell* str, i32* count, bool crlf) {
    GcRoot keep(str);
    u32 n = unicode_length(str);
    if (*count >= 0 && static_cast<u32>(*count) < n) n = static_cast<u32>(*count);
    u32 unit = series_of(str)->unit();
    const u8* src = unicode_head_ptr(str);
    u64 need = 2 * (u64(n) + 1) + unicode_utf16_extra(src, src + (n << unicode_unit_shift(unit)), unit);
    check_size(need);
    auto* out = reinterpret_cast<char16_t*>(unicode_scratch_reserve(str, static_cast<u32>(need)));
    src = unicode_head_ptr(str);
    char16_t* d = out;
    switch (unit) {
        case 1:
            for (u32 i = 0; i < n; i++) {
                if (src[i] == LF && crlf) *d++ = CR;
                *d++ = src[i];
            }
            break;
        case 2:
            if (!crlf) {
                std::memcpy(d, src, 2 * size_t(n));
                d += n;
            } else {
                for (u32 i = 0; i < n; i++) {
                    u32 u = get_unit<2>(src + 2 * i);
                    if (u == LF) *d++ = CR;
                    *d++ = static_cast<char16_t>(u);
                }
            }
            break;
        case 4:
            for (u32 i = 0; i < n; i++) {
                u32 cp = get_unit<4>(src + 4 * i);
                if (cp == LF && crlf) *d++ = CR;
                u32 w = utf16_encode_char(cp, d);
                if (!w) {
                    *count = 0;
                    return nullptr;
                }
                d += w;
            }
            break;
        default: unicode_bad_unit(unit);
    }
    *d = 0;
    SeriesBuffer* sb = node_buffer(string_scratch(str));
    sb->tail = sb->head + static_cast<u32>(reinterpret_cast<u8*>(d) - reinterpret_cast<u8*>(out));
    *count = static_cast<i32>(d - out);
    return out;
}

char16_t* unicode_to_utf16(ValueCell* str) {
    i32 count = -1;
    return unicode_to_utf16_part(str, &count, false);
}

u32 utf16_unit_width(const u8* src, u32 count) {
    u32 width = 1;
    for (u32 i = 0; i < count; i++) {
        u8 hi = src[2 * i + 1];
        if (hi >= 0xD8 && hi <= 0xDF) return 4;
        if (hi) width = 2;
    }
    return width;
}

// ---- loading ------------------------------------------------------------------------------

Node unicode_load_utf8(ByteSource source, u32 len, SeriesBuffer* target, u32* left, bool cr) {
    SourcePin src(source);
    Node node;
    if (!target) {
        node = alloc_series(len ? len : 1, 1, 0);
    } else {
        node = target->node;
        u32 u = target->unit();
        unicode_unit_shift(u);
        if (room_units(target, u) < len) {
            check_size(u64(len) * u);
            Pin keep(TYPE_BINARY, node);
            series_expand(target, round16(u64(len) * u));
            node = keep.node();
        }
    }
    Pin dst(TYPE_STRING, node);
    SeriesBuffer* b = dst.buffer();
    if (left) *left = 0;
    if (len == 0) {
        b->tail = b->head;
        return dst.node();
    }

    const u8* s = src.ptr();
    u32 in = 0;
    if (len > 2 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) in = 3;
    u32 unit = b->unit();
    u32 out = 0;
    bool cut = false;

    // Decodes one code point at s + in; false at a cut sequence.
    auto next = [&](u32* cp) -> bool {
        for (;;) {
            u32 rem = len - in;
            i32 c = utf8_decode_char_checked(s + in, &rem);
            if (c < 0) {
                cut = true;
                return false;
            }
            in += rem;
            if (cr && c == static_cast<i32>(CR)) {
                if (in < len && s[in] == LF) continue;
                c = LF;
            }
            *cp = static_cast<u32>(c);
            return true;
        }
    };

    // One loop per unit size; a code point that the unit cannot hold ends
    // the loop and widens the buffer, is stored below, and the loop of the
    // new unit takes over.
    while (in < len && !cut) {
        u32 cp = 0;
        bool wide = false;
        switch (unit) {
            case 1: {
                u8* h = b->head_ptr();
                while (in < len) {
                    u8 c = s[in];
                    if (c < 0x80 && !(cr && c == CR)) {
                        h[out++] = c;
                        in++;
                        continue;
                    }
                    if (!next(&cp)) break;
                    if (cp > 0xFF) {
                        wide = true;
                        break;
                    }
                    h[out++] = static_cast<u8>(cp);
                }
                if (!wide) break;
                b->tail = b->head + out;
                b = cp > 0xFFFF ? unicode_latin1_to_ucs4(b) : unicode_latin1_to_ucs2(b);
                s = src.ptr();
                unit = b->unit();
                break;
            }
            case 2: {
                while (in < len) {
                    if (!next(&cp)) break;
                    if (cp > 0xFFFF) {
                        wide = true;
                        break;
                    }
                    if (room_units(b, 2) <= out) {
                        b = grow_by(dst, len / 4);
                        s = src.ptr();
                    }
                    put_unit<2>(b->head_ptr() + out * 2, cp);
                    out++;
                }
                if (!wide) break;
                b->tail = b->head + out * 2;
                b = unicode_ucs2_to_ucs4(b);
                s = src.ptr();
                unit = 4;
                break;
            }
            case 4: {
                while (in < len) {
                    if (!next(&cp)) break;
                    if (room_units(b, 4) <= out) {
                        b = grow_by(dst, len);
                        s = src.ptr();
                    }
                    put_unit<4>(b->head_ptr() + out * 4, cp);
                    out++;
                }
                break;
            }
            default: unicode_bad_unit(unit);
        }
        if (wide) {
            // The widening left room for one more unit.
            unicode_put_unit(b->head_ptr() + out * unit, unit, cp);
            out++;
        }
    }
    b->tail = b->head + out * unit;
    if (left) *left = len - in;
    return dst.node();
}

Node unicode_load_utf8_into(ByteSource src, u32 len, ValueCell* str, u32* left) {
    GcRoot keep(str);
    Node n = unicode_load_utf8(src, len, series_of(str), left, false);
    set_series_node(str, n);
    return n;
}

Node unicode_load_utf8_new(ByteSource src, u32 len) {
    return unicode_load_utf8(src, len, nullptr, nullptr, false);
}

Node unicode_utf8_bytes_to_text(Node bytes, bool may_cut) {
    SeriesBuffer* b = node_buffer(bytes);
    u8* p = b->head_ptr();
    size_t n = b->used_bytes();
    size_t skip = n > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
    Utf8Measure m = utf8_measure_strict(p + skip, n - skip);
    size_t fault = skip + m.used;
    if (m.stop == Utf8Measure::INVALID)
        fire_with_bytes(Err::access_invalid_utf8, p + fault, static_cast<u32>(std::min<size_t>(n - fault, 4)));
    if (m.stop == Utf8Measure::CUT && !may_cut)
        fire_with_bytes(Err::access_invalid_utf8, p + fault, static_cast<u32>(n - fault));
    if (m.widest <= 0xFF) {
        // Nothing to decode only when every byte is a character of its own
        // (an overlong form of an ASCII character leaves widest below 0x80).
        if (skip || m.count != m.used) utf8_decode_strict(p + skip, m.used, p, m.count, 1);
        b->tail = b->head + static_cast<u32>(m.count);
        return bytes;
    }
    u32 unit = m.widest > 0xFFFF ? 4 : 2;
    check_size(u64(m.count) * unit);
    Pin keep(TYPE_BINARY, bytes);
    Node text = alloc_series(static_cast<u32>(m.count), unit, 0);
    SeriesBuffer* t = node_buffer(text);
    heap_region_prefault(t->head_ptr(), m.count * unit);
    utf8_decode_strict(keep.buffer()->head_ptr() + skip, m.used, t->head_ptr(), m.count, unit);
    t->tail = t->head + static_cast<u32>(m.count) * unit;
    return text;
}

size_t unicode_append_utf8_lenient(ValueCell* str, const u8* p, size_t n, bool final) {
    Utf8Measure m = utf8_measure_lenient(p, n, final);
    if (!m.count) return m.used;
    GcRoot keep(str);
    SeriesBuffer* b = series_of(str);
    u32 unit = b->unit();
    u32 wide = unicode_unit_for(m.widest);
    if (wide > unit) {
        b = unicode_widen(b, wide);
        unit = wide;
    }
    u64 add = u64(m.count) * unit;
    if (b->end_ref() - b->tail < add) {
        u64 used = b->tail - b->data_ref();
        u64 size = std::max<u64>(u64(b->size) * 2, used + add);
        check_size(size);
        b = series_grow(b, static_cast<u32>(round16(size)));
    }
    utf8_decode_lenient(p, m.used, b->tail_ptr(), m.count, unit);
    b->tail += static_cast<u32>(add);
    return m.used;
}

Node unicode_load_utf16(ByteSource source, u32 count, ValueCell* str, bool cr) {
    // No source: the raw units sit in the target's own buffer.
    bool alias = source.none() && str;
    if (source.none() && !str && count) fire(Err::internal_not_done);
    SourcePin src(alias ? ByteSource::series(series_node(str), 0) : source);
    std::optional<GcRoot> keep_target;
    if (str) keep_target.emplace(str);

    u32 width = utf16_unit_width(src.ptr(), count);
    if (width == 4) {
        // Every high surrogate needs its low partner; check before writing.
        const u8* s = src.ptr();
        for (u32 i = 0; i < count; i++) {
            u32 u = utf16_at(s, i);
            if (!is_high_surrogate(u)) continue;
            if (i + 1 < count && is_low_surrogate(utf16_at(s, i + 1))) {
                i++;
                continue;
            }
            fire_with_bytes(Err::script_invalid_data, s + 2 * i, i + 1 < count ? 4 : 2);
        }
    }

    Node node;
    if (str) {
        node = series_node(str);
        SeriesBuffer* b = node_buffer(node);
        u64 need = u64(count) * width;
        check_size(need);
        if ((b->end_ref() - b->head) < need) {
            series_expand(b, round16(need));
            node = series_node(str);
        }
    } else {
        node = count ? alloc_series(count, width, 0) : alloc_series(1, 2, 0);
    }
    Pin dst(TYPE_STRING, node);
    SeriesBuffer* b = dst.buffer();
    if (!count) {
        if (str) b->flags = (b->flags & ~SERIES_UNIT_MASK) | width;
        b->tail = b->head;
        return dst.node();
    }
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | width;

    const u8* s = src.ptr();
    u8* d = b->head_ptr();
    u32 out = 0;
    switch (width) {
        case 1:
            for (u32 i = 0; i < count; i++) {
                u8 lo = s[2 * i];
                if (cr && lo == CR) continue;
                d[out++] = lo;
            }
            break;
        case 2:
            if (!cr) {
                std::memmove(d, s, 2 * size_t(count));
                out = count;
            } else {
                for (u32 i = 0; i < count; i++) {
                    u32 u = utf16_at(s, i);
                    if (u == CR) continue;
                    put_unit<2>(d + 2 * out++, u);
                }
            }
            break;
        case 4: {
            // The output is wider than the input: read from a copy when
            // both share the buffer.
            std::vector<u8> copy;
            if (alias) {
                copy.assign(s, s + 2 * size_t(count));
                s = copy.data();
            }
            for (u32 i = 0; i < count; i++) {
                u32 u = utf16_at(s, i);
                if (is_high_surrogate(u)) {
                    u32 lo = utf16_at(s, ++i);
                    u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                } else if (cr && u == CR) {
                    continue;
                }
                put_unit<4>(d + 4 * out++, u);
            }
            break;
        }
        default: unicode_bad_unit(width);
    }
    b->tail = b->head + out * width;
    return dst.node();
}

// ---- widening ----------------------------------------------------------------------------------

SeriesBuffer* unicode_latin1_to_ucs2(SeriesBuffer* b) { return widen<1, 2>(b); }
SeriesBuffer* unicode_latin1_to_ucs4(SeriesBuffer* b) { return widen<1, 4>(b); }
SeriesBuffer* unicode_ucs2_to_ucs4(SeriesBuffer* b) { return widen<2, 4>(b); }

SeriesBuffer* unicode_widen(SeriesBuffer* b, u32 to_unit) {
    u32 from = b->unit();
    if (to_unit <= from) {
        unicode_unit_shift(from);
        return b;
    }
    if (from == 1 && to_unit == 2) return widen<1, 2>(b);
    if (from == 1 && to_unit == 4) return widen<1, 4>(b);
    if (from == 2 && to_unit == 4) return widen<2, 4>(b);
    unicode_bad_unit(from == 4 ? to_unit : from);
}

}  // namespace zan

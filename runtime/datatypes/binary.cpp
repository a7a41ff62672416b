// binary!: the byte-series primitives, the base-2/16/58/64 codecs and the
// binary! actions. Everything that gathers bytes from values copies them
// out of the heap first (a std::vector), so that the collector may move
// any buffer while the result is being made.
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/stack.h"
#include "runtime/typesystem/action_table.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/dt_util.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/runtime_support.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

using Bytes = std::vector<u8>;

constexpr u64 MAX_SERIES_BYTES = 0x7FFFFFF0u;

inline i32 used_of(const ValueCell* b) { return static_cast<i32>(series_of(b)->used_bytes()); }
inline i32 clamped_index(const ValueCell* b) {
    i32 idx = series_index(b);
    i32 len = used_of(b);
    return idx > len ? len : idx < 0 ? 0 : idx;
}

// Room for extra bytes after the tail: the buffer grows to twice its
// capacity, or to exactly what is needed when that is more.
SeriesBuffer* room_after_tail(const ValueCell* b, u64 extra) {
    SeriesBuffer* buf = series_of(b);
    u64 cap = buf->end_ref() - buf->head;
    u64 need = u64(buf->used_bytes()) + extra;
    if (need <= cap) return buf;
    u64 grow = cap * 2 > need ? cap * 2 : need;
    if (grow > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    series_expand(buf, static_cast<u32>((grow + 15) & ~u64(15)));
    return series_of(b);
}

// The bytes of a binary from its head.
Bytes bytes_of(const ValueCell* b, i32 limit = -1) {
    SeriesBuffer* buf = series_of(b);
    i32 idx = clamped_index(b);
    i32 n = used_of(b) - idx;
    if (limit >= 0 && limit < n) n = limit;
    const u8* p = buf->head_ptr() + idx;
    return Bytes(p, p + n);
}

// The UTF-8 encoding of a text value's code points from its head (at most
// limit of them when limit >= 0).
void append_utf8_of_text(const ValueCell* s, i32 limit, Bytes& out) {
    SeriesBuffer* buf = series_of(s);
    u32 unit = buf->unit();
    u32 sh = unicode_unit_shift(unit);
    i32 len = static_cast<i32>(buf->used_bytes() >> sh);
    i32 idx = series_index(s);
    if (idx > len) idx = len;
    if (idx < 0) idx = 0;
    i32 n = len - idx;
    if (limit >= 0 && limit < n) n = limit;
    const u8* p = buf->head_ptr() + (static_cast<u32>(idx) << sh);
    u8 enc[4];
    for (i32 i = 0; i < n; i++) {
        u32 cp = unicode_get_unit(p + (static_cast<u32>(i) << sh), unit);
        u32 k = utf8_encode_char(cp, enc);
        out.insert(out.end(), enc, enc + k);
    }
}

[[noreturn]] void fire_bad_to_arg(const ValueCell* value) {
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    ValueCell* dt = datatype_push(TYPE_BINARY);
    fire(Err::script_bad_to_arg, dt, held);
}

// The bytes that append, insert, change and to write for a value. part
// limits them (-1: all): bytes of a char! or binary!, code points of text,
// elements of a block. A value of another type is formed when form_other
// is set, else raises bad-to-arg.
void collect_bytes(const ValueCell* value, i32 part, bool form_other, Bytes& out) {
    ValueCell v = *value;
    u32 t = v.type();
    if (t == TYPE_CHAR) {
        u8 enc[4];
        u32 k = utf8_encode_char(dt::char_get(&v), enc);
        if (part >= 0 && static_cast<u32>(part) < k) k = static_cast<u32>(part);
        out.insert(out.end(), enc, enc + k);
    } else if (t == TYPE_INTEGER) {
        i32 n = dt::int_get(&v);
        if (n < -128 || n > 255) {
            ValueCell* held = stack_push(&v);
            fire(Err::script_invalid_arg, held);
        }
        out.push_back(static_cast<u8>(n));
    } else if (t == TYPE_BINARY) {
        Bytes b = bytes_of(&v, part);
        out.insert(out.end(), b.begin(), b.end());
    } else if (t == TYPE_TUPLE) {
        u32 size = tuple_size(&v);
        for (u32 i = 1; i <= size; i++) out.push_back(static_cast<u8>(tuple_byte(&v, i)));
    } else if (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH) {
        i32 len = series_buffer_length(&v);
        i32 start = series_index(&v) < 0 ? 0 : series_index(&v);
        i32 left = part;
        for (i32 i = start; i < len; i++) {
            if (part >= 0 && left < 1) break;
            ValueCell e = series_of(&v)->head_cells()[i];
            collect_bytes(&e, -1, form_other, out);
            left--;
        }
    } else if (type_string_like(t)) {
        append_utf8_of_text(&v, part, out);
    } else if (form_other) {
        ValueCell* saved = g_stack.top;
        ValueCell* held = stack_push(&v);
        ValueCell* text = string_push_new(16);
        action_form_dispatch(held, text, nullptr, FORM_NO_LIMIT);
        append_utf8_of_text(text, -1, out);
        g_stack.top = saved;
    } else {
        fire_bad_to_arg(&v);
    }
}

// Replaces `remove` bytes of the binary at buffer position pos by the
// bytes written `times` times over.
void splice(ValueCell* s, i32 pos, i32 remove, const Bytes& bytes, i32 times) {
    u64 add = u64(bytes.size()) * u64(times);
    if (add > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    i64 delta = static_cast<i64>(add) - remove;
    SeriesBuffer* b = delta > 0 ? room_after_tail(s, static_cast<u64>(delta)) : series_of(s);
    i32 len = static_cast<i32>(b->used_bytes());
    u8* at = b->head_ptr() + pos;
    std::memmove(at + add, at + remove, static_cast<size_t>(len - pos - remove));
    if (!bytes.empty()) {
        std::memcpy(at, bytes.data(), bytes.size());
        if (times > 1) mem_replicate(at, static_cast<u32>(bytes.size()), static_cast<u32>(times));
    }
    b->tail = static_cast<HeapRef>(static_cast<i64>(b->tail) + delta);
}

// ---- codec tables -----------------------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr u8 SKIP = 0x40;
constexpr u8 INVALID = 0x80;

struct DecodeTables {
    u8 base64[128];
    u8 base58[128];
    u8 hex[128];
    DecodeTables() {
        for (int i = 0; i < 128; i++) base64[i] = base58[i] = INVALID, hex[i] = 255;
        for (int i = 0; i < 64; i++) base64[static_cast<u8>(kBase64[i])] = static_cast<u8>(i);
        for (int i = 0; i < 58; i++) base58[static_cast<u8>(kBase58[i])] = static_cast<u8>(i);
        base64[u8{'='}] = 0;
        for (u8 c : {8, 9, 10, 12, 13, 32, 39}) base64[c] = base58[c] = SKIP;
        for (int i = 0; i < 10; i++) hex['0' + i] = static_cast<u8>(i);
        for (int i = 0; i < 6; i++) hex['A' + i] = hex['a' + i] = static_cast<u8>(10 + i);
    }
};
const DecodeTables kTables;

// Reads the code points of a text run; a ";" comment runs to the next LF.
struct TextReader {
    const u8* p;
    u32 length;
    u32 unit;
    u32 i = 0;
    bool next(u32* cp) {
        while (i < length) {
            u32 c = unicode_get_unit(p + static_cast<size_t>(i) * unit, unit);
            i++;
            if (c == ';') {
                while (i < length && unicode_get_unit(p + static_cast<size_t>(i) * unit, unit) != '\n')
                    i++;
                continue;
            }
            *cp = c;
            return true;
        }
        return false;
    }
};

ValueCell* decoded(const Bytes& out) { return binary_load(out.data(), static_cast<u32>(out.size())); }

}  // namespace

// ---- primitives ---------------------------------------------------------------------------------

i32 binary_length(const ValueCell* b) { return used_of(b) - clamped_index(b); }
u8* binary_head_ptr(const ValueCell* b) { return series_of(b)->head_ptr() + clamped_index(b); }
bool binary_at_tail(const ValueCell* b) { return series_index(b) >= used_of(b); }

void binary_append_bytes(ValueCell* b, ByteSource src, u32 n) {
    if (!n) return;
    SeriesBuffer* buf = room_after_tail(b, n);
    std::memcpy(buf->tail_ptr(), src.ptr(), n);
    buf->tail += n;
}

void binary_overwrite_bytes(ValueCell* b, u32 offset, ByteSource src, u32 n) {
    if (!n) return;
    SeriesBuffer* buf = series_of(b);
    u64 pos = u64(clamped_index(b)) + offset;
    u64 end = pos + n;
    if (end > buf->used_bytes()) buf = room_after_tail(b, end - buf->used_bytes());
    if (pos > buf->used_bytes()) {
        // A write past the tail leaves zero bytes in between.
        std::memset(buf->tail_ptr(), 0, pos - buf->used_bytes());
    }
    std::memcpy(buf->head_ptr() + pos, src.ptr(), n);
    if (end > buf->used_bytes()) buf->tail = buf->head + static_cast<u32>(end);
}

// ---- making ----------------------------------------------------------------------------------------

ValueCell* binary_make_at(ValueCell* cell, u32 capacity) {
    Node n = alloc_bytes(capacity ? capacity : 1);
    cell_init(cell, TYPE_BINARY, 0, n, 0);
    return cell;
}

ValueCell* binary_push_new(u32 capacity) { return binary_make_at(unset_push(), capacity); }

ValueCell* binary_load_at(ValueCell* cell, ByteSource src, u32 n) {
    Node node = alloc_bytes(n ? n : 1);
    SeriesBuffer* b = node_buffer(node);
    if (n) std::memcpy(b->head_ptr(), src.ptr(), n);
    b->tail = b->head + n;
    cell_init(cell, TYPE_BINARY, 0, node, 0);
    return cell;
}

ValueCell* binary_load(ByteSource src, u32 n) { return binary_load_at(unset_push(), src, n); }

// ---- values and matching ----------------------------------------------------------------------------

i32 binary_compare_values(const ValueCell* a, const ValueCell* b, i32 op, bool match_mode) {
    if (op == CMP_SAME) return series_same_place(a, b) ? 0 : -1;
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL ||
                    op == CMP_FIND;
    if (series_same_place(a, b) && equality) return 0;
    i32 la = binary_length(a), lb = binary_length(b);
    i32 n;
    if (match_mode) {
        if (lb == 0) return op == CMP_FIND ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && equality) return 1;
        n = la < lb ? la : lb;
    }
    i32 c = n ? std::memcmp(binary_head_ptr(a), binary_head_ptr(b), static_cast<size_t>(n)) : 0;
    if (c) return c > 0 ? 1 : -1;
    if (match_mode) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

bool binary_byte_in_bitset(const ValueCell* b, const ValueCell* bitset) {
    if (binary_at_tail(b)) return false;
    u32 byte = *binary_head_ptr(b);
    SeriesBuffer* bits = series_of(bitset);
    if (byte >= bits->used_bytes() * 8) return (bits->flags & SERIES_COMPLEMENT) != 0;
    return (bits->head_ptr()[byte >> 3] & (0x80u >> (byte & 7))) != 0;
}

bool binary_match_value(const ValueCell* b, const ValueCell* value, i32 op) {
    u32 t = value->type();
    if (t == TYPE_CHAR) return !binary_at_tail(b) && *binary_head_ptr(b) == dt::char_get(value);
    if (t == TYPE_BINARY) return binary_compare_values(b, value, op, true) == 0;
    if (type_string_like(t)) {
        Bytes text;
        append_utf8_of_text(value, -1, text);
        i32 la = binary_length(b);
        if (text.empty()) return op != CMP_FIND;
        if (la < static_cast<i32>(text.size())) return false;
        return std::memcmp(binary_head_ptr(b), text.data(), text.size()) == 0;
    }
    return false;
}

ValueCell* binary_from_hex_text(const ValueCell* issue, ValueCell* target) {
    ValueCell is = *issue;
    const char* text = symbol_to_cstr(word_symbol(&is));
    size_t n = std::strlen(text);
    Bytes out;
    out.reserve(n / 2);
    bool ok = n % 2 == 0;
    for (size_t i = 0; ok && i < n; i += 2) {
        u8 c1 = static_cast<u8>(text[i]), c2 = static_cast<u8>(text[i + 1]);
        u8 h = c1 < 128 ? kTables.hex[c1] : 255, l = c2 < 128 ? kTables.hex[c2] : 255;
        if (h > 15 || l > 15) ok = false;
        else out.push_back(static_cast<u8>(h << 4 | l));
    }
    if (!ok) {
        ValueCell* held = stack_push(&is);
        fire(Err::script_invalid_data, held);
    }
    return binary_load_at(target, out.data(), static_cast<u32>(out.size()));
}

// ---- codecs ---------------------------------------------------------------------------------------------

u32 binary_encoded_size(u32 base, u32 n) {
    switch (base) {
        case 2: return n * 8;
        case 16: return n * 2;
        case 58: return n * 2 + 1;
        default: return (n + 2) / 3 * 4;
    }
}

u8* binary_encode_base2(const u8* src, u32 n, u8* out) {
    for (u32 i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = static_cast<u8>('0' + ((src[i] >> bit) & 1));
    return out;
}

u8* binary_encode_base16(const u8* src, u32 n, u8* out) {
    for (u32 i = 0; i < n; i++) {
        *out++ = static_cast<u8>(kHex[src[i] >> 4]);
        *out++ = static_cast<u8>(kHex[src[i] & 15]);
    }
    return out;
}

u8* binary_encode_base64(const u8* src, u32 n, u8* out) {
    u32 i = 0;
    for (; i + 3 <= n; i += 3) {
        u32 v = u32(src[i]) << 16 | u32(src[i + 1]) << 8 | src[i + 2];
        for (int k = 3; k >= 0; k--) *out++ = static_cast<u8>(kBase64[(v >> (6 * k)) & 63]);
    }
    if (n - i == 1) {
        u32 v = u32(src[i]) << 16;
        *out++ = static_cast<u8>(kBase64[v >> 18]);
        *out++ = static_cast<u8>(kBase64[(v >> 12) & 63]);
        *out++ = '=';
        *out++ = '=';
    } else if (n - i == 2) {
        u32 v = u32(src[i]) << 16 | u32(src[i + 1]) << 8;
        *out++ = static_cast<u8>(kBase64[v >> 18]);
        *out++ = static_cast<u8>(kBase64[(v >> 12) & 63]);
        *out++ = static_cast<u8>(kBase64[(v >> 6) & 63]);
        *out++ = '=';
    }
    return out;
}

u8* binary_encode_base58(const u8* src, u32 n, u8* out) {
    u32 zeros = 0;
    while (zeros < n && src[zeros] == 0) zeros++;
    for (u32 i = 0; i < zeros; i++) *out++ = '1';
    // Long division of the big-endian number by 58 on a copy; the
    // remainders are the digits from the last one.
    Bytes num(src + zeros, src + n);
    Bytes digits;
    size_t start = 0;
    while (start < num.size()) {
        u32 rem = 0;
        for (size_t i = start; i < num.size(); i++) {
            u32 acc = rem * 256 + num[i];
            num[i] = static_cast<u8>(acc / 58);
            rem = acc % 58;
        }
        digits.push_back(static_cast<u8>(rem));
        while (start < num.size() && num[start] == 0) start++;
    }
    for (size_t i = digits.size(); i-- > 0;) *out++ = static_cast<u8>(kBase58[digits[i]]);
    return out;
}

ValueCell* binary_decode_base2(const u8* text, u32 length, u32 unit) {
    TextReader r{text, length, unit};
    Bytes out;
    u32 bits = 0, n = 0, c;
    while (r.next(&c)) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return nullptr;
        bits = bits << 1 | (c - '0');
        if (++n == 8) {
            out.push_back(static_cast<u8>(bits));
            bits = n = 0;
        }
    }
    if (n) return nullptr;
    return decoded(out);
}

ValueCell* binary_decode_base16(const u8* text, u32 length, u32 unit) {
    TextReader r{text, length, unit};
    Bytes out;
    out.reserve(length / 2);
    i32 high = -1;
    u32 c;
    while (r.next(&c)) {
        if (c <= ' ') continue;
        // Only ASCII digits count: a wider code point is never a digit.
        u8 v = c < 128 ? kTables.hex[c] : 255;
        if (v > 15) return nullptr;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<u8>(high << 4 | v));
            high = -1;
        }
    }
    // A lone last digit is a malformed tail: the text is refused (debase
    // gives none) rather than decoded with the digit dropped, which would
    // lose data without a word.
    if (high >= 0) return nullptr;
    return decoded(out);
}

ValueCell* binary_decode_base64(const u8* text, u32 length, u32 unit) {
    TextReader r{text, length, unit};
    Bytes out;
    out.reserve((static_cast<size_t>(length) * 3 + 9) / 4);
    u32 acc = 0, n = 0, c;
    bool want_pad = false;  // "=" at the third place of a group needs a second one
    bool done = false;      // after the padding only skipped text may follow
    while (r.next(&c)) {
        if (c > 127) return nullptr;
        u8 v = kTables.base64[c];
        if (v == SKIP) continue;
        if (v == INVALID || done) return nullptr;
        if (want_pad) {
            if (c != '=') return nullptr;
            want_pad = false;
            done = true;
            continue;
        }
        if (c == '=') {
            if (n == 3) {
                out.push_back(static_cast<u8>(acc >> 10));
                out.push_back(static_cast<u8>(acc >> 2));
                done = true;
            } else if (n == 2) {
                out.push_back(static_cast<u8>(acc >> 4));
                want_pad = true;
            } else {
                return nullptr;
            }
            n = 0;
            continue;
        }
        acc = acc << 6 | v;
        if (++n == 4) {
            out.push_back(static_cast<u8>(acc >> 16));
            out.push_back(static_cast<u8>(acc >> 8));
            out.push_back(static_cast<u8>(acc));
            acc = n = 0;
        }
    }
    // An unfinished group (or a missing second "=") is a malformed tail:
    // the text is refused rather than decoded without its last bytes.
    if (n || want_pad) return nullptr;
    return decoded(out);
}

ValueCell* binary_decode_base58(const u8* text, u32 length, u32 unit) {
    TextReader r{text, length, unit};
    Bytes digits;
    u32 c;
    while (r.next(&c)) {
        if (c > 127) return nullptr;
        u8 v = kTables.base58[c];
        if (v == SKIP) continue;
        if (v == INVALID) return nullptr;
        digits.push_back(v);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    // Repeated long division by 256 gives the bytes from the last one.
    Bytes num(digits.begin() + static_cast<std::ptrdiff_t>(zeros), digits.end());
    Bytes rev;
    size_t start = 0;
    while (start < num.size()) {
        u32 rem = 0;
        for (size_t i = start; i < num.size(); i++) {
            u32 acc = rem * 58 + num[i];
            num[i] = static_cast<u8>(acc / 256);
            rem = acc % 256;
        }
        rev.push_back(static_cast<u8>(rem));
        while (start < num.size() && num[start] == 0) start++;
    }
    Bytes out(zeros, 0);
    out.insert(out.end(), rev.rbegin(), rev.rend());
    return decoded(out);
}

// ---- to ---------------------------------------------------------------------------------------------------

ValueCell* binary_to(ValueCell*, ValueCell* spec, u32) {
    ValueCell v = *spec;
    u32 t = v.type();
    Bytes out;
    switch (t) {
        case TYPE_BLOCK:
        case TYPE_PAREN:
        case TYPE_HASH:
        case TYPE_CHAR:
        case TYPE_TUPLE:
            collect_bytes(&v, -1, false, out);
            break;
        case TYPE_INTEGER: {
            u32 u = static_cast<u32>(dt::int_get(&v));
            for (int k = 3; k >= 0; k--) out.push_back(static_cast<u8>(u >> (8 * k)));
            break;
        }
        case TYPE_FLOAT:
        case TYPE_PERCENT: {
            u64 bits;
            double d = v.get_float();
            std::memcpy(&bits, &d, 8);
            for (int k = 7; k >= 0; k--) out.push_back(static_cast<u8>(bits >> (8 * k)));
            break;
        }
        case TYPE_ISSUE:
            return binary_from_hex_text(&v, unset_push());
        case TYPE_BITSET: {
            SeriesBuffer* b = series_of(&v);
            out.assign(b->head_ptr(), b->tail_ptr());
            break;
        }
        case TYPE_BINARY:
            out = bytes_of(&v);
            break;
        case TYPE_IMAGE:
            // The pixel words as stored, four bytes each.
            return image_extract_channels(&v, IMAGE_ARGB);
        default:
            if (!type_string_like(t)) fire_bad_to_arg(&v);
            append_utf8_of_text(&v, -1, out);
            break;
    }
    return binary_load(out.data(), static_cast<u32>(out.size()));
}

// ---- form and mold ---------------------------------------------------------------------------------------

namespace {
// "#{" and upper-case digits; from 31 bytes on (unless flat) the bytes go
// on lines of 32 indented one level deeper than the value.
i32 hex_text(ValueCell* value, ValueCell* out, bool only, bool flat, i32 limit, i32 indent) {
    Bytes bytes = bytes_of(value);
    size_t n = bytes.size();
    bool lines = !flat && n >= 31;
    std::string text;
    text.reserve(n * 2 + 8);
    auto indent_to = [&](i32 level) {
        text += '\n';
        for (i32 i = 0; i < level; i++) text += "    ";
        limit -= 4 * level;
    };
    if (!only) {
        text += "#{";
        limit -= 2;
    }
    if (lines) indent_to(indent + 1);
    for (size_t i = 0; i < n; i++) {
        if (limit <= 0) break;
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
        limit -= 2;
        if (lines && (i + 1) % 32 == 0) indent_to(indent + 1);
    }
    if (lines && n % 32 != 0) indent_to(indent);
    if (!only) {
        text += '}';
        limit -= 1;
    }
    string_append_bytes(out, text.data(), static_cast<u32>(text.size()));
    return limit;
}
}  // namespace

i32 binary_form(ValueCell* value, ValueCell* out, ValueCell*, i32 limit) {
    return hex_text(value, out, false, false, limit, 0);
}

i32 binary_mold(ValueCell* value, ValueCell* out, bool only, bool, bool flat, ValueCell*,
                i32 limit, i32 indent) {
    return hex_text(value, out, only, flat, limit, indent);
}

// ---- compare ------------------------------------------------------------------------------------------------

i32 binary_compare(ValueCell* a, ValueCell* b, i32 op) {
    if (b->type() != TYPE_BINARY) return CMP_NOT_COMPARABLE;
    return binary_compare_values(a, b, op, false);
}

// ---- bitwise ------------------------------------------------------------------------------------------------------

namespace {
void bitwise(i32 op) {
    ValueCell* a = stack_arg(0);
    ValueCell* b = stack_arg(1);
    if (b->type() != TYPE_BINARY) fire(Err::script_invalid_arg, b);
    Bytes x = bytes_of(a), y = bytes_of(b);
    const Bytes& longer = x.size() >= y.size() ? x : y;
    size_t common = std::min(x.size(), y.size());
    Bytes r(longer.size(), 0);
    for (size_t i = 0; i < common; i++)
        r[i] = op == MATH_AND ? x[i] & y[i] : op == MATH_OR ? x[i] | y[i] : x[i] ^ y[i];
    if (op != MATH_AND) std::copy(longer.begin() + static_cast<std::ptrdiff_t>(common), longer.end(),
                                      r.begin() + static_cast<std::ptrdiff_t>(common));
    ValueCell* saved = g_stack.top;
    ValueCell* res = binary_load(r.data(), static_cast<u32>(r.size()));
    stack_set_last(res);
    g_stack.top = saved;
}
}  // namespace

void binary_and_t() { bitwise(MATH_AND); }
void binary_or_t() { bitwise(MATH_OR); }
void binary_xor_t() { bitwise(MATH_XOR); }

ValueCell* binary_complement(ValueCell* value) {
    Bytes x = bytes_of(value);
    for (u8& c : x) c = static_cast<u8>(~c);
    return binary_load(x.data(), static_cast<u32>(x.size()));
}

// ---- append, insert and change -----------------------------------------------------------------------------------

void binary_insert(ValueCell* series, ValueCell* value, i32 part, bool, i32 dup, bool append) {
    ValueCell* saved = g_stack.top;
    ValueCell s = *series;
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    Bytes bytes;
    collect_bytes(held, part, false, bytes);
    i32 times = dup < 1 ? 1 : dup;
    if (u64(bytes.size()) * u64(times) > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    i32 len = used_of(&s);
    if (series_index(&s) > len) series_set_index(&s, len);
    i32 pos = append ? len : clamped_index(&s);
    i32 part_arg = part < 0 ? -1 : part;
    // Both append and insert announce with the word append and the old tail.
    bool owned = series_announce(&s, g_words.n.append, held, len, part_arg);
    splice(&s, pos, 0, bytes, times);
    if (owned)
        series_announce(&s, g_words.n.appended, held, len, part_arg < 0 ? 1 : part_arg);
    ValueCell r = s;
    series_set_index(&r, append ? 0 : pos + static_cast<i32>(bytes.size()) * times);
    g_stack.top = saved;
    *stack_result() = r;
}

void binary_change(ValueCell* series, ValueCell* value, i32 part, bool, i32 dup) {
    ValueCell* saved = g_stack.top;
    ValueCell s = *series;
    ValueCell v = *value;
    ValueCell* held = stack_push(&v);
    Bytes bytes;
    collect_bytes(held, -1, true, bytes);
    i32 times = dup < 1 ? 1 : dup;
    u64 total = u64(bytes.size()) * u64(times);
    if (total > MAX_SERIES_BYTES) fire(Err::internal_no_memory);
    i32 len = used_of(&s);
    if (series_index(&s) > len) series_set_index(&s, len);
    i32 pos = clamped_index(&s);
    i32 rem = len - pos;
    // Without /part the new bytes overwrite (the tail grows when they pass
    // it); with /part that many bytes are replaced whatever the new length.
    i32 replaced = part >= 0 ? std::min(part, rem)
                             : (total < u64(rem) ? static_cast<i32>(total) : rem);
    bool owned = series_announce(&s, g_words.n.change, nullptr, pos, replaced);
    splice(&s, pos, replaced, bytes, times);
    if (owned) series_announce(&s, g_words.n.changed, nullptr, pos, static_cast<i32>(total));
    ValueCell r = s;
    series_set_index(&r, pos + static_cast<i32>(total));
    g_stack.top = saved;
    *stack_result() = r;
}

// ---- trim --------------------------------------------------------------------------------------------------------------

void binary_trim(ValueCell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                 ValueCell* with) {
    if (auto_ || lines) fire(Err::internal_not_done);
    ValueCell* saved = g_stack.top;
    ValueCell s = *series;
    ValueCell* held = stack_push(&s);
    // The set of bytes to remove: zero, or the bytes given with /with.
    bool set[256] = {};
    if (with) {
        ValueCell w = *with;
        u32 wt = w.type();
        if (wt == TYPE_BINARY) {
            for (u8 c : bytes_of(&w)) set[c] = true;
        } else if (type_string_like(wt)) {
            Bytes text;
            append_utf8_of_text(&w, -1, text);
            for (u8 c : text) set[c] = true;
        } else if ((wt == TYPE_INTEGER || wt == TYPE_CHAR) && dt::char_get(&w) <= 255) {
            set[dt::char_get(&w)] = true;
        } else {
            ValueCell* arg = stack_push(&w);
            fire(Err::script_invalid_arg, arg);
        }
    } else {
        set[0] = true;
    }
    i32 pos = clamped_index(held);
    Bytes in = bytes_of(held);
    Bytes out;
    if (all || with) {
        for (u8 c : in)
            if (!set[c]) out.push_back(c);
    } else {
        size_t b = 0, e = in.size();
        bool both = !head && !tail;
        if (head || both)
            while (b < e && in[b] == 0) b++;
        if (tail || both)
            while (e > b && in[e - 1] == 0) e--;
        out.assign(in.begin() + static_cast<std::ptrdiff_t>(b),
                   in.begin() + static_cast<std::ptrdiff_t>(e));
    }
    SeriesBuffer* buf = series_of(held);
    if (!out.empty()) std::memcpy(buf->head_ptr() + pos, out.data(), out.size());
    buf->tail = buf->head + static_cast<u32>(pos) + static_cast<u32>(out.size());
    series_announce(held, g_words.n.trim, nullptr, pos, 0);
    ValueCell r = *held;
    g_stack.top = saved;
    *stack_result() = r;
}

// ---- registration ---------------------------------------------------------------------------------------------------------

void binary_init() {
    ActionRow row;
    row.set<ACT_TO>(binary_to)
        .set<ACT_FORM>(binary_form)
        .set<ACT_MOLD>(binary_mold)
        .set<ACT_COMPARE>(binary_compare)
        .set<ACT_AND_T>(binary_and_t)
        .set<ACT_COMPLEMENT>(binary_complement)
        .set<ACT_OR_T>(binary_or_t)
        .set<ACT_XOR_T>(binary_xor_t)
        .set<ACT_APPEND>(binary_insert)
        .set<ACT_INSERT>(binary_insert)
        .set<ACT_CHANGE>(binary_change)
        .set<ACT_TRIM>(binary_trim)
        .inherit({ACT_MAKE, ACT_EVAL_PATH, ACT_FIND, ACT_SELECT, ACT_SORT, ACT_SWAP, ACT_TAKE,
                  ACT_RANDOM, ACT_REFLECT, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY, ACT_HEAD,
                  ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK, ACT_POKE,
                  ACT_REMOVE, ACT_REVERSE, ACT_SKIP, ACT_TAIL, ACT_TAIL_Q, ACT_MODIFY});
    datatype_register(TYPE_BINARY, row);
}

}  // namespace zan

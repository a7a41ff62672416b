// The encoding natives: dehex and enhex (URL-style %XX escapes), debase and
// enbase (base-2, base-16, base-58 and base-64 text). They choose the base,
// size the output and call the codecs of the string and binary datatypes.
#include <algorithm>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/eval/interp/natives.h"

namespace zan {

namespace {

// A new 1-byte-unit string with room for the argument's length from its
// index, pushed.
ValueCell* text_out(ValueCell* value) {
    i32 n = string_length(value);
    return string_push_new(n > 0 ? static_cast<u32>(n) : 1);
}

void native_dehex(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_DEHEX, refs);
    ValueCell* value = stack_arg(0);
    ValueCell* out = text_out(value);
    url_decode(value, out);
    stack_set_last(out);
}

// A string! keeps only the unreserved characters plain; the other text
// types also keep the file-safe ones.
void native_enhex(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ENHEX, refs);
    ValueCell* value = stack_arg(0);
    ValueCell* out = text_out(value);
    url_encode(value, out, value->type() == TYPE_STRING ? URL_UNRESERVED : 0xFF);
    stack_set_last(out);
}

// The base of /base (64 without it); any base but 64, 58, 16 and 2 raises
// invalid-arg with the base.
u32 base_arg(const i32* refs) {
    if (refs[0] == -1) return 64;
    const ValueCell* cell = stack_arg(static_cast<u32>(refs[0]));
    i32 base = integer_get(cell);
    if (base != 64 && base != 58 && base != 16 && base != 2) fire(Err::script_invalid_arg, cell);
    return static_cast<u32>(base);
}

// debase value /base base-value: a binary!, or none when the text is not
// valid in the base.
void native_debase(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_DEBASE, refs);
    u32 base = base_arg(refs);
    ValueCell* text = stack_arg(0);
    i32 length = string_length(text);
    if (length < 0) length = 0;
    const u8* start = string_head_ptr(text);
    u32 unit = series_of(text)->unit();
    ValueCell* decoded = nullptr;
    switch (base) {
        case 2: decoded = binary_decode_base2(start, static_cast<u32>(length), unit); break;
        case 16: decoded = binary_decode_base16(start, static_cast<u32>(length), unit); break;
        case 58: decoded = binary_decode_base58(start, static_cast<u32>(length), unit); break;
        default: decoded = binary_decode_base64(start, static_cast<u32>(length), unit); break;
    }
    if (decoded) stack_set_last(decoded);
    else none_box(stack_result());
}

// Room for the text of n bytes in a base; more than a series can hold
// raises too-long.
u32 encoded_room(u32 base, u64 n) {
    u64 room;
    switch (base) {
        case 64: room = (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5; break;
        case 58: room = n * 2; break;
        case 16: room = n * 2 + n / 32 + 32; break;
        default: room = n * 8 + (n / 8) * 2 + 4; break;
    }
    room = std::max<u64>(room, binary_encoded_size(base, static_cast<u32>(n)));
    if (room > 0x7FFFFFFFu) fire(Err::script_too_long);
    return static_cast<u32>(room);
}

// enbase value /base base-value: a string! is taken as its UTF-8 bytes, a
// binary! from its index.
void native_enbase(bool check, const i32* refs) {
    if (check) natives_check_args(NAT_ENBASE, refs);
    u32 base = base_arg(refs);
    ValueCell* value = stack_arg(0);
    std::vector<u8> bytes;
    if (value->type() == TYPE_BINARY) {
        const u8* p = binary_head_ptr(value);
        bytes.assign(p, p + binary_length(value));
    } else {
        i32 n = -1;
        const char* utf8 = unicode_to_utf8(value, &n);
        bytes.assign(reinterpret_cast<const u8*>(utf8), reinterpret_cast<const u8*>(utf8) + n);
    }
    u32 n = static_cast<u32>(bytes.size());
    std::vector<u8> text(encoded_room(base, n));
    u8* end;
    switch (base) {
        case 2: end = binary_encode_base2(bytes.data(), n, text.data()); break;
        case 16: end = binary_encode_base16(bytes.data(), n, text.data()); break;
        case 58: end = binary_encode_base58(bytes.data(), n, text.data()); break;
        default: end = binary_encode_base64(bytes.data(), n, text.data()); break;
    }
    u32 written = static_cast<u32>(end - text.data());
    ValueCell* result = stack_result();
    string_make_at(result, written);
    string_append_bytes(result, text.data(), written);
}

}  // namespace

void natives_encoding_init(NativeEntry* slots) {
    slots[NAT_DEHEX - 1] = native_dehex;
    slots[NAT_ENHEX - 1] = native_enhex;
    slots[NAT_DEBASE - 1] = native_debase;
    slots[NAT_ENBASE - 1] = native_enbase;
}

}  // namespace zan

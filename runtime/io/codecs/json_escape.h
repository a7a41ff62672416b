// The escapes of JSON strings, shared by the escape decoder and the reader.
#pragma once

#include "runtime/core/cell.h"

namespace zan {

constexpr u32 kJsonHighFirst = 0xD800, kJsonHighLast = 0xDBFF;
constexpr u32 kJsonLowFirst = 0xDC00, kJsonLowLast = 0xDFFF;

// The character that a backslash and the letter e stand for, for the
// escapes of one letter (b f n r t, and " \ / for themselves); -1 for any
// other letter (u among them).
inline i32 json_letter_escape(u32 e) {
    switch (e) {
        case '"': case '\\': case '/': return static_cast<i32>(e);
        case 'b': return 0x08;
        case 'f': return 0x0C;
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        default: return -1;
    }
}

// The value of a hexadecimal digit, or -1.
inline i32 json_hex_digit(u32 c) {
    if (c >= '0' && c <= '9') return static_cast<i32>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<i32>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<i32>(c - 'a' + 10);
    return -1;
}

// The code point of a surrogate pair.
inline u32 json_surrogate_pair(u32 high, u32 low) {
    return 0x10000 + ((high - kJsonHighFirst) << 10) + (low - kJsonLowFirst);
}

}  // namespace zan

#include "runtime/io/codecs/json_unescape.h"

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/codecs/json_escape.h"

namespace zan {

namespace {

// Reads the four hexadecimal digits at `at` (absolute character positions
// below `tail`); -1 when fewer are left or one is not a digit.
i32 read_hex4(const ValueCell* s, u32 at, u32 tail) {
    if (tail - at < 4) return -1;
    i32 code = 0;
    for (u32 i = 0; i < 4; i++) {
        i32 d = json_hex_digit(string_char_at(s, at + i));
        if (d < 0) return -1;
        code = code * 16 + d;
    }
    return code;
}

// Decodes the escape whose letter is at src (just after the backslash)
// into *c and moves src past it; false when it cannot be decoded.
bool decode_escape(const ValueCell* s, u32& src, u32 tail, u32* c) {
    u32 e = string_char_at(s, src++);
    if (e != 'u') {
        // Any other escaped character stands for itself.
        i32 letter = json_letter_escape(e);
        *c = letter >= 0 ? static_cast<u32>(letter) : e;
        return true;
    }
    i32 code = read_hex4(s, src, tail);
    if (code < 0) return false;
    src += 4;
    u32 cp = static_cast<u32>(code);
    if (cp >= kJsonLowFirst && cp <= kJsonLowLast) return false;
    if (cp >= kJsonHighFirst && cp <= kJsonHighLast) {
        if (tail - src < 6 || string_char_at(s, src) != '\\' || string_char_at(s, src + 1) != 'u')
            return false;
        i32 low = read_hex4(s, src + 2, tail);
        if (low < static_cast<i32>(kJsonLowFirst) || low > static_cast<i32>(kJsonLowLast))
            return false;
        src += 6;
        cp = json_surrogate_pair(cp, static_cast<u32>(low));
    }
    *c = cp;
    return true;
}

}  // namespace

void json_routine_unescape() {
    ValueCell* s = stack_arg(0);
    const u32 head = static_cast<u32>(string_total_length(s) - string_length(s));
    const u32 tail = static_cast<u32>(string_total_length(s));
    u32 first = head;
    // Nothing moves before the first backslash.
    while (first < tail && string_char_at(s, first) != '\\') first++;
    // Every escape is checked before any is written, so that a bad one is
    // reported with the string as it was given.
    for (u32 src = first; src < tail;) {
        u32 c;
        if (string_char_at(s, src++) == '\\' && src < tail && !decode_escape(s, src, tail, &c))
            fire(Err::script_invalid_data, s);
    }
    u32 src = first, dst = first;
    while (src < tail) {
        u32 c = string_char_at(s, src++);
        if (c == '\\' && src < tail) decode_escape(s, src, tail, &c);
        // Widening keeps character positions, so src and dst stay valid.
        string_poke_char(series_of(s), dst++, c);
    }
    string_clip_length(s, dst);
    stack_set_last(s);
}

}  // namespace zan

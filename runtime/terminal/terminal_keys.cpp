// Decoding terminal bytes into editor keys.
#include "runtime/terminal/terminal_keys.h"

namespace zan::console {

namespace {

constexpr i32 REPLACEMENT = 0xFFFD;

// The rest of a UTF-8 character whose lead byte is b; U+FFFD for a bad
// lead byte, a missing or bad continuation (given back), an overlong form,
// a surrogate or a value above 10FFFFh.
i32 read_utf8_rest(ByteInput& in, int b, int wait_ms) {
    int more;
    u32 cp;
    if (b >= 0xC2 && b <= 0xDF) {
        more = 1;
        cp = static_cast<u32>(b & 0x1F);
    } else if (b >= 0xE0 && b <= 0xEF) {
        more = 2;
        cp = static_cast<u32>(b & 0x0F);
    } else if (b >= 0xF0 && b <= 0xF4) {
        more = 3;
        cp = static_cast<u32>(b & 0x07);
    } else {
        return REPLACEMENT;  // a continuation byte, C0/C1 or F5..FF
    }
    const int total = more;
    while (more--) {
        int c = in.next_byte(wait_ms);
        if (c < 0) return REPLACEMENT;
        if ((c & 0xC0) != 0x80) {
            in.unread(static_cast<u8>(c));
            return REPLACEMENT;
        }
        cp = (cp << 6) | static_cast<u32>(c & 0x3F);
    }
    if ((total == 2 && cp < 0x800) || (total == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return REPLACEMENT;
    return static_cast<i32>(cp);
}

// After "ESC [": parameters, intermediates and the final byte.
i32 read_csi(ByteInput& in) {
    int c = in.next_byte(ESCAPE_WAIT_MS);
    if (c == '[') {
        // Linux console function keys: one more letter.
        in.next_byte(ESCAPE_WAIT_MS);
        return KEY_NONE;
    }
    int first = -1;
    bool in_first = true;
    while (c >= 0x30 && c <= 0x3F) {
        if (c >= '0' && c <= '9') {
            if (in_first) first = (first < 0 ? 0 : first) * 10 + (c - '0');
            if (first > 100000) first = 100000;
        } else {
            in_first = false;
        }
        c = in.next_byte(ESCAPE_WAIT_MS);
    }
    while (c >= 0x20 && c <= 0x2F) c = in.next_byte(ESCAPE_WAIT_MS);
    if (c < 0x40 || c > 0x7E) {
        // Cut short or broken: a byte that is not part of a sequence goes
        // back to the input.
        if (c >= 0) in.unread(static_cast<u8>(c));
        return KEY_NONE;
    }
    if (c == 'M' && first < 0) {
        // An X10 mouse report: three bytes of data follow.
        for (int k = 0; k < 3; k++) in.next_byte(ESCAPE_WAIT_MS);
        return KEY_NONE;
    }
    return csi_key(c, first);
}

i32 read_escape(ByteInput& in) {
    int c = in.next_byte(ESCAPE_WAIT_MS);
    if (c == BYTE_TIMEOUT || c == BYTE_END || c == BYTE_WAKE) return KEY_ESCAPE;
    if (c == '[') return read_csi(in);
    if (c == 'O') {
        int f = in.next_byte(ESCAPE_WAIT_MS);
        if (f < 0) return KEY_NONE;
        return ss3_key(f);
    }
    if (c == 0x1B) {
        // Escape pressed twice: the first one stands alone.
        in.unread(static_cast<u8>(c));
        return KEY_ESCAPE;
    }
    // Alt with a key: the key is consumed and ignored.
    if (c >= 0x80) read_utf8_rest(in, c, ESCAPE_WAIT_MS);
    return KEY_NONE;
}

}  // namespace

i32 csi_key(int final_byte, int first_param) {
    if (final_byte != '~') return ss3_key(final_byte);
    switch (first_param) {
        case 1: case 7: return KEY_HOME;
        case 2: return KEY_INSERT;
        case 3: return KEY_DELETE;
        case 4: case 8: return KEY_END;
        case 5: return KEY_PAGE_UP;
        case 6: return KEY_PAGE_DOWN;
        default: return KEY_NONE;
    }
}

i32 ss3_key(int final_byte) {
    switch (final_byte) {
        case 'A': return KEY_UP;
        case 'B': return KEY_DOWN;
        case 'C': return KEY_RIGHT;
        case 'D': return KEY_LEFT;
        case 'H': return KEY_HOME;
        case 'F': return KEY_END;
        default: return KEY_NONE;
    }
}

i32 ss3_function_key(int final_byte) {
    return final_byte >= 'P' && final_byte <= 'S' ? KEY_F1 - (final_byte - 'P') : KEY_NONE;
}

i32 csi_function_key(int final_byte, int first_param) {
    if (final_byte != '~') return first_param <= 1 ? ss3_function_key(final_byte) : KEY_NONE;
    static const int kTilde[] = {15, 17, 18, 19, 20, 21, 23, 24};  // F5 ... F12
    for (int k = 0; k < 8; k++)
        if (kTilde[k] == first_param) return KEY_F1 - 4 - k;
    return KEY_NONE;
}

i32 read_key(ByteInput& in) {
    int b = in.next_byte(-1);
    if (b == BYTE_END) return KEY_END_OF_INPUT;
    if (b == BYTE_WAKE) return KEY_RESIZE;
    if (b < 0) return KEY_NONE;
    if (b == 0x1B) return read_escape(in);
    if (b == '\n' || b == '\r') return KEY_ENTER;
    if (b < 0x80) return b;
    return read_utf8_rest(in, b, ESCAPE_WAIT_MS);
}

i32 read_utf8_char(ByteInput& in) {
    int b;
    do {
        b = in.next_byte(-1);
    } while (b == BYTE_WAKE || b == BYTE_TIMEOUT);
    if (b < 0) return -1;
    if (b < 0x80) return b;
    return read_utf8_rest(in, b, -1);
}

}  // namespace zan::console

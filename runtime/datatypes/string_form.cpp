// The text forms of string!: form (the bare code points) and mold (a quoted
// or braced literal with caret escapes that the lexer reads back).
#include <cstring>

#include "runtime/core/unicode.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"

namespace zan {

namespace {
// Caret escapes of code points 0-94 (0: none).
constexpr char kEscapes[95] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L', 'M', 'N', 'O',
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_',
    0,   0,   '"', 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   '^',
};

char g_hex2[3];
char g_hex8[9];
constexpr char kDigits[] = "0123456789ABCDEF";

inline u32 ushift(u32 unit) { return unicode_unit_shift(unit); }
}  // namespace

const char* string_byte_to_hex(u8 byte) {
    g_hex2[0] = kDigits[byte >> 4];
    g_hex2[1] = kDigits[byte & 15];
    g_hex2[2] = 0;
    return g_hex2;
}

const char* string_int_to_hex(i32 n, bool full) {
    u32 v = static_cast<u32>(n);
    for (int i = 7; i >= 0; i--) {
        g_hex8[i] = kDigits[v & 15];
        v >>= 4;
    }
    g_hex8[8] = 0;
    if (full) return g_hex8;
    if (n == 0) return "00";
    const char* p = g_hex8;
    while (*p == '0') p++;
    return p;
}

void string_mold_scan(const u8* begin, const u8* end, u32 unit, i32* quotes, i32* line_feeds) {
    *quotes = 0;
    *line_feeds = 0;
    for (const u8* p = begin; p < end; p += unit) {
        u32 c = unicode_get_unit(p, unit);
        if (c == '"') ++*quotes;
        else if (c == '\n') ++*line_feeds;
    }
}

bool string_mold_brace_check(const u8* position, const u8* end, u32 unit) {
    i32 depth = 0;
    for (const u8* p = position; p < end; p += unit) {
        u32 c = unicode_get_unit(p, unit);
        if (c == '{') depth++;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

void string_mold_char(ValueCell* out, u32 cp, i32 mode, bool all) {
    // A surrogate is written as its escape: that alone loads back as the
    // same character.
    if (cp == 30 || (cp >= 128 && cp <= 159) || unicode_is_surrogate(cp) || (all && cp > 127)) {
        string_append_cstr(out, "^(");
        string_append_cstr(out, string_int_to_hex(static_cast<i32>(cp), false));
        string_append_char(out, ')');
        return;
    }
    if (mode == MOLD_STRING_MODE) {
        if (cp < 95 && kEscapes[cp]) {
            string_append_char(out, '^');
            string_append_char(out, static_cast<u8>(kEscapes[cp]));
            return;
        }
        if (cp == 127) {
            string_append_cstr(out, "^~");
            return;
        }
    }
    string_append_char(out, cp);
}

i32 string_form(ValueCell* s, ValueCell* out, ValueCell* arg_limit, i32 limit) {
    i32 len = string_length(s);
    string_concatenate(out, s, arg_limit ? (limit < 0 ? 0 : limit) : -1, 0, false, CONCAT_APPEND);
    return limit - len;
}

i32 string_mold(ValueCell* s, ValueCell* out, bool, bool all, bool, ValueCell* arg_limit,
                i32 limit, i32) {
    ValueCell str = *s;
    i32 whole = string_length(&str);
    i32 count = whole;
    if (arg_limit) count = limit < 0 ? 0 : (limit < whole ? limit : whole);
    SeriesBuffer* b = series_of(&str);
    u32 unit = b->unit();
    u8* begin = string_head_ptr(&str);
    u8* end = begin + (static_cast<u32>(count) << ushift(unit));
    i32 quotes, lfs;
    string_mold_scan(begin, end, unit, &quotes, &lfs);
    bool braces = lfs >= 3 || quotes >= 1 || whole >= 50;
    string_append_char(out, braces ? '{' : '"');
    bool balanced = true;
    i32 depth = 0;
    for (i32 i = 0; i < count; i++) {
        // The output may grow and move; the source is re-read each time.
        b = series_of(&str);
        begin = b->head_ptr() + (static_cast<u32>(series_index(&str)) << ushift(b->unit()));
        end = begin + (static_cast<u32>(count) << ushift(b->unit()));
        const u8* p = begin + (static_cast<u32>(i) << ushift(b->unit()));
        u32 c = unicode_get_unit(p, b->unit());
        if (braces) {
            if (c == '{') {
                if (balanced && !string_mold_brace_check(p, end, b->unit())) balanced = false;
                if (balanced) {
                    depth++;
                    string_append_char(out, '{');
                } else {
                    string_append_cstr(out, "^{");
                }
                continue;
            }
            if (c == '}') {
                if (depth > 0) {
                    depth--;
                    string_append_char(out, '}');
                } else {
                    string_append_cstr(out, "^}");
                }
                continue;
            }
            if (c == '"') {
                string_append_char(out, '"');
                continue;
            }
        }
        string_mold_char(out, c, MOLD_STRING_MODE, all);
    }
    string_append_char(out, braces ? '}' : '"');
    return limit - count - 2;
}

}  // namespace zan

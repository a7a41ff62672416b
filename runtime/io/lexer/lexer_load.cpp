// Value loaders of the lexer for the text-like literals: strings (quoted,
// braced, raw), caret escapes, words and their kinds, refinements, issues,
// characters, files, urls, emails, refs, tags, binaries and construction
// syntax. Each checks the token's text and, when asked to build, pushes the
// value on the output stack.
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

namespace {

constexpr u32 kUnicodeSpaces[] = {
    0x0085, 0x00A0, 0x1680, 0x180E, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006,
    0x2007, 0x2008, 0x2009, 0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};
static_assert(sizeof kUnicodeSpaces / sizeof kUnicodeSpaces[0] == 21);

int hex_value(u8 c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? static_cast<u8>(c + 32) : c; }

bool same_folded(const u8* text, const char* word, size_t n) {
    for (size_t k = 0; k < n; k++)
        if (lower(text[k]) != lower(static_cast<u8>(word[k]))) return false;
    return true;
}

struct EscapeName {
    const char* name;
    u32 code;
};
constexpr EscapeName kEscapeNames[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

u32 unit_from_flags(u32 flags) {
    return (flags & LEX_FLAG_UTF8_4) ? 4 : (flags & LEX_FLAG_UTF8_3) ? 2 : 1;
}

u32 gather_flags(const u8* s, const u8* e) {
    u32 f = 0;
    for (const u8* p = s; p < e; p++) f |= LexerClassTable[*p];
    return f & ~LEX_CLASS_MASK;
}

// Decodes a text's code points: UTF-8, with caret escapes when asked.
// Calls emit for each; answers the position of the first bad sequence, or
// null when the whole text is good.
template <class Emit>
const u8* decode_text(const u8* s, const u8* e, bool escapes, Emit emit) {
    const u8* p = s;
    while (p < e) {
        u8 b = *p;
        if (b == '^' && escapes) {
            const u8* next;
            i64 cp = lexer_decode_escape(p, e, &next);
            if (cp < 0 || cp > UNICODE_MAX) return p;
            emit(static_cast<u32>(cp));
            p = next;
        } else if (b < 0x80) {
            emit(b);
            p++;
        } else {
            i32 cp;
            const u8* q = utf8_decode_char(p, e, &cp);
            if (cp < 0) return p;
            emit(static_cast<u32>(cp));
            p = q;
        }
    }
    return nullptr;
}

// The unit that escapes may need: "^(...)" made only of hex digits with
// more than two digits needs 2 bytes, more than four 4 bytes.
u32 escape_unit(const u8* s, const u8* e, u32 unit) {
    for (const u8* p = s; p + 1 < e && unit < 4; p++) {
        if (*p != '^') continue;
        if (p[1] != '(') {
            p++;  // "^^" and the like: the next byte is escaped
            continue;
        }
        const u8* q = p + 2;
        u32 n = 0;
        while (q < e && hex_value(*q) >= 0) {
            q++;
            n++;
        }
        if (q < e && *q == ')' && n > 0) {
            if (n > 4) unit = 4;
            else if (n > 2 && unit < 2) unit = 2;
        }
        p = q - 1;
    }
    return unit;
}

// %XX decoding; a "%" not followed by two hex digits stays as it is. A url
// keeps the escapes that url_kept_escape names (with upper-case digits).
std::vector<u8> percent_decode(const u8* s, const u8* e, bool url) {
    std::vector<u8> out;
    out.reserve(static_cast<size_t>(e - s));
    for (const u8* p = s; p < e; p++) {
        i32 kept = url ? url_kept_escape(p, e) : -1;
        if (kept >= 0) {
            const char* escape = url_escape_text(static_cast<u8>(kept));
            out.insert(out.end(), escape, escape + 3);
            p += 2;
        } else if (*p == '%' && e - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
            out.push_back(static_cast<u8>(hex_value(p[1]) * 16 + hex_value(p[2])));
            p += 2;
        } else {
            out.push_back(*p);
        }
    }
    return out;
}

// Makes the series for a text in a new output cell and fills it.
void build_text(LexerState* r, const u8* s, const u8* e, bool escapes, u32 unit, u32 type,
                bool ascii) {
    u32 capacity = static_cast<u32>(e - s);
    u32 i = lexer_push_value(r);
    bool nl = r->nl_count > 0;
    string_make_at_unit(lexer_cell(i), capacity ? capacity : 1, unit);
    ValueCell* cell = lexer_cell(i);
    SeriesBuffer* b = series_of(cell);
    u8* dst = b->tail_ptr();
    if (!escapes && unit == 1 && ascii) {
        std::memcpy(dst, s, capacity);
        dst += capacity;
    } else {
        decode_text(s, e, escapes, [&](u32 cp) {
            unicode_put_unit(dst, unit, cp);
            dst += unit;
        });
    }
    b->tail = heap_off(dst);
    cell->set_type(type);
    lexer_keep_nl(i, nl);
}

}  // namespace

// ---- Unicode spaces --------------------------------------------------------------------------

bool lexer_unicode_space_q(u32 cp) {
    if (cp < 0x85) return false;
    for (u32 s : kUnicodeSpaces)
        if (s == cp) return true;
    return false;
}

const u8* lexer_skip_unicode_spaces(const u8* p, const u8* end) {
    while (p < end && *p >= 0x80) {
        i32 cp;
        const u8* q = utf8_decode_char(p, end, &cp);
        if (cp < 0) return nullptr;
        if (!lexer_unicode_space_q(static_cast<u32>(cp))) return p;
        p = q;
    }
    return p;
}

const u8* lexer_find_unicode_space(const u8* p, const u8* end) {
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        i32 cp;
        const u8* q = utf8_decode_char(p, end, &cp);
        if (cp >= 0 && lexer_unicode_space_q(static_cast<u32>(cp))) return p;
        p = q > p ? q : p + 1;
    }
    return end;
}

// ---- caret escapes ---------------------------------------------------------------------------------

i64 lexer_decode_escape(const u8* p, const u8* end, const u8** next) {
    const u8* q = p + 1;
    if (q >= end) return -1;
    u8 c = *q;
    if (c == '(') {
        const u8* t = q + 1;
        u32 n = 0;
        i64 v = 0;
        while (t + n < end && n < 7 && hex_value(t[n]) >= 0) v = v * 16 + hex_value(t[n++]);
        bool closed = t + n < end && t[n] == ')';
        if (closed && n >= 1 && n <= 2) {
            *next = t + n + 1;
            return v;
        }
        for (const EscapeName& name : kEscapeNames) {
            size_t len = std::strlen(name.name);
            if (static_cast<size_t>(end - t) > len && same_folded(t, name.name, len) && t[len] == ')') {
                *next = t + len + 1;
                return name.code;
            }
        }
        if (closed && n >= 1 && n <= 6) {
            *next = t + n + 1;
            return v;
        }
        return -1;
    }
    *next = q + 1;
    switch (c) {
        case '"': return '"';
        case '-': return '\t';
        case '/': return '\n';
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 0x40 && c <= 0x5F) return c - 0x40;
    if (c >= 0x80) {
        // A character beyond ASCII stands for itself.
        i32 cp;
        const u8* after = utf8_decode_char(q, end, &cp);
        if (cp < 0) return -1;
        *next = after;
        return cp;
    }
    return c;
}

// ---- the shared string loader -------------------------------------------------------------------

void lexer_load_text(LexerState* r, const u8* s, const u8* e, u32 flags, bool build,
                     bool escapes, bool pct, u32 error_type, const u8* err_start,
                     const u8* err_end) {
    u32 type = r->type_override > 0 ? static_cast<u32>(r->type_override) : TYPE_STRING;
    if (pct && std::memchr(s, '%', static_cast<size_t>(e - s))) {
        std::vector<u8> bytes = percent_decode(s, e, type == TYPE_URL);
        const u8* bs = bytes.data();
        const u8* be = bs + bytes.size();
        u32 max_cp = 0;
        if (decode_text(bs, be, false, [&](u32 cp) { max_cp = cp > max_cp ? cp : max_cp; }))
            lexer_invalid(r, err_start, err_end, error_type);
        if (build) build_text(r, bs, be, false, unicode_unit_for(max_cp), type, max_cp < 0x80);
        return;
    }
    bool esc = escapes && (flags & LEX_FLAG_CARET);
    if (!esc && !(flags & (LEX_FLAG_UTF8_3 | LEX_FLAG_UTF8_4))) {
        // ASCII only, unless a stray continuation byte hides in it.
        for (const u8* p = s; p < e; p++)
            if (*p >= 0x80) lexer_invalid(r, err_start, err_end, error_type);
        if (build) build_text(r, s, e, false, 1, type, true);
        return;
    }
    u32 unit = unit_from_flags(flags);
    if (esc && unit < 4) unit = escape_unit(s, e, unit);
    if (decode_text(s, e, esc, [](u32) {})) lexer_invalid(r, err_start, err_end, error_type);
    if (build) build_text(r, s, e, esc, unit, type, false);
}

// ---- strings ---------------------------------------------------------------------------------------

void lexer_scan_string_check(LexerState* r, const u8* start, const u8* end, u32 flags, bool) {
    lexer_load_string_quoted(r, start, end, flags, false);
}

void lexer_load_string_quoted(LexerState* r, const u8* start, const u8* end, u32 flags,
                              bool build) {
    // start is the opening quote, end the closing one.
    r->pos = end + 1;
    lexer_load_text(r, start + 1, end, flags, build, true, false, TYPE_STRING, start, r->pos);
}

void lexer_load_raw_string(LexerState* r, const u8* start, const u8* end, u32 flags,
                           bool build) {
    const u8* p = start;
    u32 open = 0;
    while (p < end && *p == '%') {
        p++;
        open++;
    }
    const u8* content = p + 1;  // after the "{"
    u32 close = 0;
    const u8* q = end;
    while (q > content && q[-1] == '%') {
        q--;
        close++;
    }
    if (open < close) lexer_invalid(r, start, end, TYPE_STRING);
    const u8* content_end = q - 1;  // the "}"
    const u8* after = end;
    if (open > close) {
        // The token ended early: find "}" followed by enough "%".
        const u8* s = end;
        const u8* found = nullptr;
        for (; s < r->in_end; s++) {
            if (*s != '}') continue;
            u32 n = 0;
            while (s + 1 + n < r->in_end && s[1 + n] == '%' && n < open) n++;
            if (n == open) {
                found = s;
                break;
            }
        }
        if (!found) lexer_invalid(r, start, r->in_end, TYPE_STRING);
        for (const u8* k = end; k < found; k++)
            if (*k == '\n' && build) r->line++;
        content_end = found;
        after = found + 1 + open;
        flags |= gather_flags(end, found);
    }
    r->pos = after;
    if (!build && lexer_has_callback(r)) {
        lexer_fire_event(r, LEX_EVENT_OPEN, TYPE_STRING, nullptr, start, content);
        lexer_fire_event(r, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, content_end, after);
    }
    lexer_load_text(r, content, content_end, flags, build, false, false, TYPE_STRING, start, after);
}

// ---- words -----------------------------------------------------------------------------------------

void lexer_load_word_text(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    const u8* s = start;
    const u8* e = end;
    if (flags & (LEX_FLAG_UTF8_3 | LEX_FLAG_UTF8_4)) {
        const u8* cut = lexer_find_unicode_space(s, e);
        if (cut < e) {
            r->pos = cut;
            e = cut;
        }
    }
    u32 type = TYPE_WORD;
    if (*s == '\'') {
        type = TYPE_LIT_WORD;
        s++;
    } else if (*s == ':') {
        type = TYPE_GET_WORD;
        s++;
    }
    if ((flags & LEX_FLAG_COLON) && e > s && e[-1] == ':') {
        if (type == TYPE_GET_WORD) lexer_invalid(r, start, end, TYPE_SET_WORD);
        if (type == TYPE_LIT_WORD) lexer_invalid(r, start, end, TYPE_LIT_WORD);
        type = TYPE_SET_WORD;
        e--;
    }
    if (s >= e) lexer_invalid(r, start, end, type == TYPE_SET_WORD ? TYPE_SET_WORD : TYPE_WORD);
    if ((flags & LEX_FLAG_COLON) && std::memchr(s, ':', static_cast<size_t>(e - s)))
        lexer_invalid(r, start, end, TYPE_WORD);
    r->token_type = static_cast<i32>(type);
    if (!build) return;
    u32 sym = symbol_make_text(reinterpret_cast<const char*>(s), static_cast<u32>(e - s));
    u32 i = lexer_push_value(r);
    bool nl = lexer_cell(i)->new_line();
    ValueCell w;
    word_make_at(sym, &w);
    w.set_type(type);
    *lexer_cell(i) = w;
    lexer_keep_nl(i, nl);
}

void lexer_scan_word_check(LexerState* r, const u8* start, const u8* end, u32 flags, bool) {
    lexer_load_word_text(r, start, end, flags, false);
}

void lexer_load_word(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    lexer_load_word_text(r, start, end, flags, build);
}

namespace {

// Makes a word of the given type from a name.
void push_word(LexerState* r, const u8* s, const u8* e, u32 type) {
    u32 sym = symbol_make_text(reinterpret_cast<const char*>(s), static_cast<u32>(e - s));
    u32 i = lexer_push_value(r);
    bool nl = lexer_cell(i)->new_line();
    ValueCell w;
    word_make_at(sym, &w);
    w.set_type(type);
    *lexer_cell(i) = w;
    lexer_keep_nl(i, nl);
}

}  // namespace

void lexer_load_refinement(LexerState* r, const u8* start, const u8* end, u32 flags,
                           bool build) {
    r->pos = end;
    const u8* e = end;
    if (flags & (LEX_FLAG_UTF8_3 | LEX_FLAG_UTF8_4)) {
        const u8* cut = lexer_find_unicode_space(start, e);
        if (cut < e) r->pos = e = cut;
    }
    size_t n = static_cast<size_t>(e - start);
    const u8* s = start;
    u32 type;
    if (n == 1 && *s == '/') {
        type = TYPE_WORD;
    } else if (n == 2 && (s[0] == '\'' || s[0] == ':' || s[1] == ':')) {
        type = s[0] == '\'' ? TYPE_LIT_WORD : s[0] == ':' ? TYPE_GET_WORD : TYPE_SET_WORD;
        if (s[1] == ':') e--;
        else s++;
    } else if (*s == '/' && n > 1) {
        type = TYPE_REFINEMENT;
        s++;
    } else {
        lexer_invalid(r, start, end, TYPE_REFINEMENT);
    }
    r->token_type = static_cast<i32>(type);
    if (build) push_word(r, s, e, type);
}

void lexer_scan_issue_check(LexerState* r, const u8* start, const u8* end, u32 flags, bool) {
    lexer_load_issue(r, start, end, flags, false);
}

void lexer_load_issue(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    const u8* e = end;
    if (flags & (LEX_FLAG_UTF8_3 | LEX_FLAG_UTF8_4)) {
        const u8* cut = lexer_find_unicode_space(start, e);
        if (cut < e) r->pos = e = cut;
    }
    if (e - start < 2) lexer_invalid(r, start, end, TYPE_ISSUE);
    if (!build) return;
    std::string name(reinterpret_cast<const char*>(start + 1), static_cast<size_t>(e - start - 1));
    u32 i = lexer_push_value(r);
    bool nl = lexer_cell(i)->new_line();
    ValueCell v;
    issue_make_at(name.c_str(), &v);
    *lexer_cell(i) = v;
    lexer_keep_nl(i, nl);
}

// ---- characters ------------------------------------------------------------------------------------

void lexer_load_char(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    // #"x": start is "#", end the closing quote.
    r->pos = end + 1;
    const u8* s = start + 2;
    if (end <= s || start[1] != '"' || *end != '"') lexer_invalid(r, start, r->pos, TYPE_CHAR);
    i64 cp;
    const u8* next;
    if (*s == '^') {
        cp = lexer_decode_escape(s, end, &next);
    } else if (*s < 0x80) {
        cp = *s;
        next = s + 1;
    } else {
        i32 c;
        next = utf8_decode_char(s, end, &c);
        cp = c;
    }
    if (cp < 0 || cp > UNICODE_MAX || next != end) lexer_invalid(r, start, r->pos, TYPE_CHAR);
    if (!build) return;
    u32 i = lexer_push_value(r);
    bool nl = lexer_cell(i)->new_line();
    char_box(lexer_cell(i), static_cast<u32>(cp));
    lexer_keep_nl(i, nl);
}

// ---- files, urls, emails, refs, tags -------------------------------------------------------------------

void lexer_load_file(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->type_override = TYPE_FILE;
    if (start + 1 < r->in_end && start[1] == '"') {
        if (r->prev_state != 8 || end >= r->in_end || *end != '"')
            lexer_invalid(r, start, end, TYPE_FILE);
        r->pos = end + 1;
        lexer_load_text(r, start + 2, end, flags, build, true, false, TYPE_FILE, start, r->pos);
        return;
    }
    r->pos = end;
    lexer_load_text(r, start + 1, end, flags, build, false, true, TYPE_FILE, start, end);
}

void lexer_load_url(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    if (*start == ':') lexer_invalid(r, start, end, TYPE_SET_WORD);
    if (*start == '\'') lexer_invalid(r, start, end, TYPE_LIT_WORD);
    r->type_override = TYPE_URL;
    lexer_load_text(r, start, end, flags, build, false, true, TYPE_URL, start, end);
}

void lexer_load_email(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    r->type_override = TYPE_EMAIL;
    lexer_load_text(r, start, end, flags, build, false, false, TYPE_EMAIL, start, end);
}

void lexer_load_ref(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    r->type_override = TYPE_REF;
    lexer_load_text(r, start + 1, end, flags, build, false, false, TYPE_REF, start, end);
}

void lexer_load_tag(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    // start is "<", end the ">".
    r->pos = end + 1;
    if (*start != '<' || end >= r->in_end || *end != '>') lexer_invalid(r, start, r->pos, TYPE_TAG);
    r->type_override = TYPE_TAG;
    lexer_load_text(r, start + 1, end, flags, build, false, false, TYPE_TAG, start, r->pos);
}

// ---- binary ----------------------------------------------------------------------------------------

namespace {

// Decoders of the binary literal's text. Each answers the position of the
// first bad byte, or null.
const u8* skip_comment(const u8* p, const u8* e) {
    while (p < e && *p != '\n') p++;
    return p;
}

const u8* decode_base16(const u8* s, const u8* e, std::vector<u8>* out) {
    int high = -1;
    const u8* high_at = s;
    for (const u8* p = s; p < e; p++) {
        u8 c = *p;
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
        if (c == ';') {
            p = skip_comment(p, e);
            if (p >= e) break;
            continue;
        }
        int v = hex_value(c);
        if (v < 0) return p;
        if (high < 0) {
            high = v;
            high_at = p;
        } else {
            out->push_back(static_cast<u8>(high * 16 + v));
            high = -1;
        }
    }
    return high >= 0 ? high_at : nullptr;
}

const u8* decode_base2(const u8* s, const u8* e, std::vector<u8>* out) {
    u32 bits = 0;
    u32 n = 0;
    const u8* group_at = s;
    for (const u8* p = s; p < e; p++) {
        u8 c = *p;
        if (c == '\t' || c == '\n' || c == '\r' || c == ' ') continue;
        if (c == ';') {
            p = skip_comment(p, e);
            if (p >= e) break;
            continue;
        }
        if (c != '0' && c != '1') return p;
        if (n == 0) group_at = p;
        bits = bits << 1 | static_cast<u32>(c - '0');
        if (++n == 8) {
            out->push_back(static_cast<u8>(bits));
            bits = 0;
            n = 0;
        }
    }
    return n ? group_at : nullptr;
}

int base64_value(u8 c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

const u8* decode_base64(const u8* s, const u8* e, std::vector<u8>* out) {
    u32 acc = 0;
    u32 n = 0;
    const u8* group_at = s;
    for (const u8* p = s; p < e; p++) {
        u8 c = *p;
        if (c == 8 || c == '\t' || c == '\n' || c == 12 || c == '\r' || c == ' ' || c == '\'')
            continue;
        if (c == ';') {
            p = skip_comment(p, e);
            if (p >= e) break;
            continue;
        }
        if (c == '=') {
            if (n == 2) out->push_back(static_cast<u8>(acc >> 4));
            else if (n == 3) {
                out->push_back(static_cast<u8>(acc >> 10));
                out->push_back(static_cast<u8>(acc >> 2));
            } else {
                return p;
            }
            return nullptr;  // the padding ends the decoding
        }
        int v = base64_value(c);
        if (v < 0) return p;
        if (n == 0) group_at = p;
        acc = acc << 6 | static_cast<u32>(v);
        if (++n == 4) {
            out->push_back(static_cast<u8>(acc >> 16));
            out->push_back(static_cast<u8>(acc >> 8));
            out->push_back(static_cast<u8>(acc));
            acc = 0;
            n = 0;
        }
    }
    return n ? group_at : nullptr;
}

}  // namespace

const u8* lexer_decode_binary(u32 base, const u8* start, const u8* end, std::vector<u8>* out) {
    size_t text = static_cast<size_t>(end - start);
    switch (base) {
        case 16:
            out->reserve(text / 2);
            return decode_base16(start, end, out);
        case 64:
            out->reserve(text * 3 / 4);
            return decode_base64(start, end, out);
        default:
            out->reserve(text / 8);
            return decode_base2(start, end, out);
    }
}

void lexer_load_binary(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    // [base] "#{" text "}": end is the "}".
    r->pos = end + 1;
    const u8* sharp = start;
    while (sharp < end && *sharp != '#') sharp++;
    u32 base = 16;
    if (sharp > start) {
        base = 0;
        for (const u8* p = start; p < sharp; p++) {
            base = base * 10 + static_cast<u32>(*p - '0');
            if (base > 64) break;
        }
    }
    if (base != 2 && base != 16 && base != 64) lexer_invalid(r, start, r->pos, TYPE_BINARY);
    std::vector<u8> bytes;
    const u8* bad = lexer_decode_binary(base, sharp + 2, end, &bytes);
    if (bad) lexer_invalid(r, bad, r->pos, TYPE_BINARY);
    if (!build) return;
    u32 i = lexer_push_value(r);
    bool nl = lexer_cell(i)->new_line();
    lexer_make_binary(lexer_cell(i), bytes.data(), static_cast<u32>(bytes.size()));
    lexer_keep_nl(i, nl);
}

// ---- construction syntax -----------------------------------------------------------------------------

bool lexer_datatype_from_construct(const u8* start, const u8* end, ValueCell* out) {
    size_t n = static_cast<size_t>(end - start);
    if (n == 0) return false;  // an empty spec names nothing
    struct Keyword {
        const char* word;
        int kind;
    };
    static const Keyword keywords[] = {{"true", 1}, {"false", 2}, {"none", 3}, {"unset", 4}};
    for (const Keyword& k : keywords) {
        if (std::strlen(k.word) == n && same_folded(start, k.word, n)) {
            switch (k.kind) {
                case 1: logic_box(out, true); break;
                case 2: logic_box(out, false); break;
                case 3: none_box(out); break;
                default: unset_box(out); break;
            }
            return true;
        }
    }
    for (u32 id = TYPE_DATATYPE; id <= TYPE_LAST; id++) {
        const char* name = datatype_name(id);
        if (!name || std::strcmp(name, "?") == 0) continue;
        if (std::strlen(name) >= n && same_folded(start, name, n)) {
            datatype_box(out, id);
            return true;
        }
    }
    return false;
}

}  // namespace zan

// The scanning loop of the lexer and its structural scanners: brackets,
// parens and points, braced strings, maps, paths, construction syntax,
// comments and commas, with the open markers of the output stack.
#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

namespace {

// Calls a scanner or loader under the stop exit. Answers false when the
// stop exit was taken (the run halted, or a callback refused the token).
bool guarded(LexerRoutine fn, LexerState* r, u32 flags, bool flag) {
    try {
        fn(r, r->tok_start, r->tok_end, flags, flag);
        return true;
    } catch (const LexerStop&) {
        return false;
    }
}

// Tokens whose last byte (the one that led to the final state) is part of
// them: the one-byte tokens and the closing delimiters.
bool final_byte_is_token(i32 final_state, i32 prev_state) {
    switch (final_state) {
        case LEX_S_BLOCK_OPEN: case LEX_S_BLOCK_CLOSE: case LEX_S_PAREN_OPEN:
        case LEX_S_PAREN_CLOSE: case LEX_S_BRACE_OPEN: case LEX_S_BRACE_CLOSE:
        case LEX_S_MAP_OPEN: case LEX_S_PATH: case LEX_S_CONSTRUCT: case LEX_S_COMMA:
        case LEX_S_STRING: case LEX_S_CHAR: case LEX_S_BINARY: case LEX_S_PERCENT:
        case LEX_S_POINT: case LEX_S_TAG:
            return true;
        case LEX_S_FILE:
            return prev_state == 8;  // %"...": the closing quote
        default:
            return false;
    }
}

// Whether the innermost open series is a path.
bool innermost_is_path(const LexerState* r) {
    return r->marker >= 0 &&
           lexer_path_type_q(lexer_marker_type(lexer_cell(static_cast<u32>(r->marker))));
}

}  // namespace

// ---- the loop ------------------------------------------------------------------------------------

void lexer_scan_loop(LexerState* r, bool one_value, bool prescan) {
    const u8* end = r->in_end;
    for (;;) {
        // 1-2: one token through the state machine.
        u32 flags = 0;
        u32 skip = 0;
        i32 gap_lines = 0;
        i32 state = r->start_state;
        const i32 start_state = state;
        const u8* begin = r->pos;
        const u8* p = begin;
        const i32 line0 = r->line;
        i32 prev = state;
        while (p < end) {
            u32 e = LexerClassTable[*p];
            u32 cls = e & LEX_CLASS_MASK;
            flags |= e;
            prev = state;
            state = lexer_next_state(static_cast<u32>(state), cls);
            skip += LexerSkipTable[static_cast<u32>(state)];
            if (state > 65) break;
            u32 lf = LexerLineTable[cls];
            r->line += static_cast<i32>(lf);
            if (state == LEX_START) gap_lines += static_cast<i32>(lf);
            p++;
        }
        // 3: the input ended first.
        if (p >= end && state <= 65) {
            prev = state;
            state = lexer_next_state(static_cast<u32>(state), 39);
        }
        // 4: the token.
        r->tok_start = begin + skip;
        r->pos = r->tok_end = p;
        r->nl_count = gap_lines;
        r->step_lines = r->line - line0;
        r->prev_state = prev;
        r->type_override = -1;
        r->token_type = LexerStateTypeTable[static_cast<u32>(state)];
        r->flags = flags & ~LEX_CLASS_MASK;
        i32 fs = state;
        u32 tok = static_cast<u32>(fs - LEX_FIRST_FINAL);
        if (start_state == LEX_IN_POINT) {
            // The point literal ends here, whatever becomes of it.
            r->nl_count = r->point_nl;
            r->start_state = innermost_is_path(r) ? LEX_IN_PATH : LEX_START;
        }

        // 5: prescan runs the structural scanners at once.
        bool scanned = false;
        if (prescan && fs <= LEX_S_STRING) {
            scanned = true;
            if (!guarded(LexerScanTable[tok], r, r->flags, r->load_mode) && r->halted) return;
        }

        // 6: words begin after their leading Unicode spaces.
        if (fs == LEX_S_WORD && (r->flags & (LEX_FLAG_UTF8_3 | LEX_FLAG_UTF8_4))) {
            const u8* s = lexer_skip_unicode_spaces(r->tok_start, r->tok_end);
            if (!s) {
                if (!guarded([](LexerState* rr, const u8* a, const u8* b, u32, bool) {
                        lexer_invalid(rr, a, b, TYPE_WORD);
                    }, r, r->flags, false) && r->halted)
                    return;
                continue;
            }
            r->tok_start = s;
            if (s == r->tok_end) {
                if (r->pos < end) continue;
                // Nothing but spaces up to the end: the end of the input.
                fs = LEX_S_EOF;
                tok = 0;
                r->token_type = 0;
            }
        }

        // 7: the prescan event.
        bool go_on;
        bool skipped = false;
        if (lexer_has_callback(r)) {
            if (start_state == LEX_IN_BRACES) {
                go_on = true;
            } else {
                i32 t = r->token_type ? r->token_type : -static_cast<i32>(tok + 1);
                go_on = lexer_fire_event(r, LEX_EVENT_PRESCAN, t, nullptr, r->tok_start, r->tok_end);
                skipped = !go_on;
            }
        } else {
            go_on = !prescan;
        }

        // 8: checks, structure and values.
        if (go_on) {
            bool keep = !one_value || r->load_mode;
            if (fs > LEX_S_COMMA) {
                LexerRoutine scanner = LexerScanTable[tok];
                LexerRoutine loader = LexerLoadTable[tok];
                // In load mode without a scan subscription the loader's own
                // checks are the check.
                bool check = !(r->load_mode && !lexer_subscribed(r, LEX_EVENT_SCAN) &&
                               (loader || !scanner));
                if (check && !(scanned && scanner)) {
                    if (!guarded(scanner ? scanner : loader, r, r->flags, false)) {
                        if (r->halted) return;
                        skipped = true;
                    } else if (lexer_has_callback(r)) {
                        keep = lexer_fire_event(r, LEX_EVENT_SCAN, r->token_type, nullptr,
                                                r->tok_start, r->tok_end) && keep;
                    }
                }
                if (!skipped && keep && loader) {
                    u32 before = r->top;
                    if (!guarded(loader, r, r->flags, true)) {
                        if (r->halted) return;
                        skipped = true;
                        r->top = before;
                    } else if (r->top > before && lexer_has_callback(r)) {
                        ValueCell made = *lexer_cell(r->top - 1);
                        if (!lexer_fire_event(r, LEX_EVENT_LOAD, r->token_type, &made,
                                              r->tok_start, r->tok_end))
                            r->top = before;
                    }
                }
            } else if (!scanned) {
                if (!guarded(LexerScanTable[tok], r, r->flags, r->load_mode)) {
                    if (r->halted) return;
                    skipped = true;
                }
            }
        }

        // A token nobody handled still owns its closing byte.
        if (r->pos == r->tok_end && final_byte_is_token(fs, prev) && r->pos < end &&
            (!go_on || skipped))
            r->pos++;

        // 9: the path step after an element. It decides where a path ends,
        // so the prescan needs it too.
        if ((go_on || prescan) && !skipped && start_state == LEX_IN_PATH && fs != LEX_S_PATH &&
            fs != LEX_S_ERROR && innermost_is_path(r)) {
            if (!guarded([](LexerState* rr, const u8*, const u8*, u32, bool) {
                    lexer_path_step(rr);
                }, r, 0, false) && r->halted)
                return;
        }

        // A refused token that consumed nothing must not be met again.
        if (r->pos == r->tok_start && r->pos < end) {
            i32 cp;
            r->pos = utf8_decode_char(r->pos, end, &cp);
            if (r->pos == r->tok_start) r->pos++;
        }

        // 10: one value is enough.
        if ((one_value || prescan) && r->token_type != 0 && r->start_state != LEX_IN_PATH &&
            r->start_state != LEX_IN_BRACES && fs != LEX_S_PATH) {
            u32 n = r->top - r->base;
            if (n == 0 || (n == 1 && !lexer_is_marker(lexer_cell(r->base)))) return;
        }
        // 11
        r->prev_type = r->token_type;
        if (r->pos >= end) break;
    }
    if (r->start_state == LEX_IN_BRACES && r->token_type == 0) {
        try {
            lexer_throw_error(r, r->brace_start, r->in_end, TYPE_STRING);
        } catch (const LexerStop&) {
            r->start_state = LEX_START;
        }
    }
}

// ---- markers ---------------------------------------------------------------------------------------

bool lexer_open(LexerState* r, u32 type, const u8* opener, const u8* start, const u8* end) {
    if (r->marker >= 0 &&
        lexer_marker_type(lexer_cell(static_cast<u32>(r->marker))) == TYPE_POINT2D)
        lexer_invalid(r, start, end, TYPE_POINT2D);
    if (!lexer_fire_event(r, LEX_EVENT_OPEN, static_cast<i32>(type), nullptr, start, end))
        return false;
    bool nl = r->nl_count > 0;
    u32 m = lexer_push(r, nl);
    ValueCell* mk = lexer_cell(m);
    mk->set_type(TYPE_TRIPLE);
    lexer_marker_init(mk, r->marker >= 0 ? m - static_cast<u32>(r->marker) : 0, type,
                      static_cast<u32>(opener - r->in_start));
    r->marker = static_cast<i32>(m);
    return true;
}

namespace {

// Replaces the innermost marker by a series of the given type made of the
// cells above it.
void collapse_marker(LexerState* r, u32 type) {
    u32 m = static_cast<u32>(r->marker);
    ValueCell* mk = lexer_cell(m);
    u32 back = lexer_marker_back(mk);
    bool nl = mk->new_line();
    u32 n = r->top - m - 1;
    if (type == TYPE_MAP && r->load_mode) {
        lexer_make_map(lexer_cell(m), lexer_cell(m + 1), n);
    } else {
        // Outside load mode a map's cells only stand for its type.
        if (type == TYPE_MAP) type = TYPE_BLOCK;
        ValueCell* tmp = none_push();
        block_make_at(tmp, n);
        SeriesBuffer* b = series_of(tmp);
        std::memcpy(b->tail_cells(), lexer_cell(m + 1), n * sizeof(ValueCell));
        b->tail += n * sizeof(ValueCell);
        tmp->set_type(type);
        *lexer_cell(m) = *tmp;
        stack_pop(1);
    }
    if (nl) lexer_cell(m)->header |= CELL_NEW_LINE;
    r->top = m + 1;
    r->marker = back ? static_cast<i32>(m - back) : -1;
    r->start_state = innermost_is_path(r) ? LEX_IN_PATH : LEX_START;
}

}  // namespace

u32 lexer_close(LexerState* r, const u8* start, const u8* end, u32 closer) {
    bool has_marker = r->marker >= 0;
    u32 type = has_marker ? lexer_marker_type(lexer_cell(static_cast<u32>(r->marker))) : closer;
    bool matches;
    if (lexer_path_type_q(closer)) matches = has_marker && lexer_path_type_q(type);
    else if (closer == TYPE_BLOCK) matches = has_marker && (type == TYPE_BLOCK || type == TYPE_MAP);
    else matches = has_marker && type == TYPE_PAREN;
    if (!matches) {
        r->missing_type = static_cast<i32>(type);
        lexer_throw_error(r, nullptr, end, -3);
    }
    if (!lexer_fire_event(r, LEX_EVENT_CLOSE, static_cast<i32>(type), nullptr, start, end))
        return 0;
    if (lexer_path_type_q(closer)) type = closer == TYPE_SET_PATH ? TYPE_SET_PATH : type;
    if (type == TYPE_MAP) {
        u32 m = static_cast<u32>(r->marker);
        u32 n = r->top - m - 1;
        const u8* opener = r->in_start + lexer_marker_opener(lexer_cell(m));
        if (n % 2 != 0) lexer_invalid(r, opener, end, TYPE_MAP);
        for (u32 k = 0; k < n; k += 2)
            if (!lexer_map_key_type_ok(lexer_cell(m + 1 + k)->type()))
                lexer_invalid(r, opener, end, TYPE_MAP);
    }
    collapse_marker(r, type);
    return type;
}

// ---- the path step ---------------------------------------------------------------------------------

// Whether a path element may not start at p (just after a "/"): the input
// ends there, or a ":" there is not followed by a byte that can begin the
// name of a get-word element.
namespace {
bool lexer_bad_path_element(const u8* p, const u8* end) {
    if (p >= end) return true;
    if (*p != ':') return false;
    if (p + 1 >= end) return true;
    u32 c = lexer_class_of(p[1]);
    return !((c >= 14 && c <= 20) || (c >= 23 && c <= 25) || c == 30 || c == 32 || c == 33 ||
             c == 36 || c == 37);
}
}  // namespace

void lexer_path_step(LexerState* r) {
    const u8* p = r->pos;
    const u8* end = r->in_end;
    if (p >= end || LexerPathEndTable[lexer_class_of(*p)]) {
        bool set = p < end && *p == ':';
        u32 type = lexer_marker_type(lexer_cell(static_cast<u32>(r->marker)));
        if (set) {
            r->pos = p + 1;
            if (r->pos < end && *r->pos == '/')
                lexer_invalid(r, r->in_start + lexer_marker_opener(lexer_cell(
                                                   static_cast<u32>(r->marker))),
                              r->pos + 1, TYPE_PATH);
        }
        u32 closed = lexer_close(r, p, r->pos, set ? TYPE_SET_PATH : type);
        if (closed) r->token_type = static_cast<i32>(closed);
        return;
    }
    // A separator.
    r->pos = p + 1;
    if (lexer_bad_path_element(r->pos, end))
        lexer_invalid(r,
                      r->in_start + lexer_marker_opener(lexer_cell(static_cast<u32>(r->marker))),
                      r->pos, TYPE_PATH);
}

// ---- structural scanners ---------------------------------------------------------------------------

void lexer_scan_eof(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    // A NUL byte before the real end is an error, not the end of the text:
    // taking it as the end would drop the rest of the source silently.
    if (r->tok_end < r->in_end && *r->tok_end == 0) {
        r->pos = r->tok_end;
        lexer_throw_error(r, r->tok_end, r->tok_end + 1, -1);
    }
    r->pos = r->in_end;
}

void lexer_scan_error(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    bool braces = r->prev_state == 4 || r->prev_state == 5;
    i32 type = LexerStateTypeTable[static_cast<u32>(r->prev_state)];
    if (braces) lexer_throw_error(r, r->brace_start, end, TYPE_STRING);
    lexer_throw_error(r, start, end, type ? type : -1);
}

void lexer_scan_block_open(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    lexer_open(r, TYPE_BLOCK, start, start, r->pos);
}

void lexer_scan_block_close(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    u32 t = lexer_close(r, start, r->pos, TYPE_BLOCK);
    if (t) r->token_type = static_cast<i32>(t);
}

namespace {

// Whether "(" at p opens a point literal: from the next byte, only blanks,
// "#", signs, ".", digits and the letters of INF/NaN and exponents, up to
// a ",".
bool point_ahead(const u8* p, const u8* end) {
    const u8* q = p + 1;
    if (end - q < 4) return false;
    for (; q < end; q++) {
        switch (*q) {
            case '\t': case ' ': case '#': case '+': case '-': case '.':
            case 'A': case 'E': case 'F': case 'I': case 'N':
            case 'a': case 'e': case 'f': case 'i': case 'n':
                continue;
            case ',':
                return true;
            default:
                if (*q >= '0' && *q <= '9') continue;
                return false;
        }
    }
    return false;
}

}  // namespace

void lexer_scan_paren_open(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    if (point_ahead(end, r->in_end)) {
        if (r->marker >= 0 &&
            lexer_marker_type(lexer_cell(static_cast<u32>(r->marker))) == TYPE_POINT2D)
            lexer_invalid(r, start, r->pos, TYPE_POINT2D);
        r->point_nl = r->nl_count;
        r->start_state = LEX_IN_POINT;
        return;
    }
    if (lexer_open(r, TYPE_PAREN, start, start, r->pos)) r->start_state = LEX_START;
}

void lexer_scan_paren_close(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    u32 t = lexer_close(r, start, r->pos, TYPE_PAREN);
    if (!t) return;
    r->token_type = static_cast<i32>(t);
    // A paren that was a path element: the path goes on or ends here.
    if (innermost_is_path(r)) lexer_path_step(r);
}

void lexer_scan_brace_open(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    if (r->start_state != LEX_IN_BRACES) {
        if (!lexer_fire_event(r, LEX_EVENT_OPEN, TYPE_STRING, nullptr, start, r->pos)) return;
        r->brace_start = start;
        r->brace_depth = 1;
        r->brace_flags = flags;
        r->brace_nl = r->nl_count;
        r->start_state = LEX_IN_BRACES;
        r->token_type = 0;
        return;
    }
    r->brace_depth++;
    r->brace_flags |= flags;
    r->brace_nl += r->step_lines;
}

void lexer_scan_brace_close(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    r->brace_flags |= flags;
    if (--r->brace_depth > 0) {
        r->token_type = 0;
        return;
    }
    // The last piece's line breaks count when the closing brace follows them.
    i32 nl = r->brace_nl + r->step_lines;
    r->start_state = LEX_START;
    r->token_type = TYPE_STRING;
    const u8* first = r->brace_start;
    if (!lexer_fire_event(r, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, first, r->pos)) return;
    u32 before = r->top;
    i32 saved_nl = r->nl_count;
    r->nl_count = nl;
    lexer_load_text(r, first + 1, end, r->brace_flags, load, true, false, TYPE_STRING, first,
                    r->pos);
    r->nl_count = saved_nl;
    if (load && r->top > before && lexer_has_callback(r)) {
        ValueCell made = *lexer_cell(r->top - 1);
        if (!lexer_fire_event(r, LEX_EVENT_LOAD, TYPE_STRING, &made, first, r->pos))
            r->top = before;
    }
}

void lexer_scan_map_open(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    if (lexer_open(r, TYPE_MAP, start, start, r->pos)) r->start_state = LEX_START;
}

void lexer_scan_path_open(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    // end is the "/" after the first element.
    u32 type = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    r->pos = end + 1;
    if (lexer_bad_path_element(r->pos, r->in_end)) lexer_invalid(r, start, r->pos, TYPE_PATH);
    if (!lexer_open(r, type, start, start, end)) return;
    r->start_state = LEX_IN_PATH;
    const u8* first = type == TYPE_PATH ? start : start + 1;
    if (load) {
        u32 before = r->top;
        r->nl_count = 0;
        lexer_load_word_text(r, first, end, flags & ~LEX_FLAG_COLON, false);
        if (!lexer_fire_event(r, LEX_EVENT_SCAN, TYPE_WORD, nullptr, first, end)) return;
        lexer_load_word_text(r, first, end, flags & ~LEX_FLAG_COLON, true);
        if (r->top > before && lexer_has_callback(r)) {
            ValueCell made = *lexer_cell(r->top - 1);
            if (!lexer_fire_event(r, LEX_EVENT_LOAD, TYPE_WORD, &made, first, end))
                r->top = before;
        }
    }
    r->token_type = 0;
}

void lexer_scan_construct(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    // "#(" text ")"; end is the ")".
    r->pos = end + 1;
    ValueCell v;
    if (!lexer_datatype_from_construct(start + 2, end, &v))
        lexer_throw_error(r, start, r->pos, -2);
    r->token_type = static_cast<i32>(v.type());
    if (!load) return;
    bool nl = r->nl_count > 0;
    u32 i = lexer_push(r, nl);
    *lexer_cell(i) = v;
    lexer_keep_nl(i, nl);
    if (lexer_has_callback(r) &&
        !lexer_fire_event(r, LEX_EVENT_LOAD, static_cast<i32>(v.type()), &v, start, r->pos))
        r->top = i;
}

void lexer_scan_comment(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end;
}

void lexer_scan_comma(LexerState* r, const u8* start, const u8* end, u32 flags, bool load) {
    r->pos = end + 1;
    if (r->marker >= 0) {
        ValueCell* mk = lexer_cell(static_cast<u32>(r->marker));
        u32 type = lexer_marker_type(mk);
        if (type == TYPE_PAREN) {
            lexer_marker_set_shape(mk, TYPE_POINT2D, 1);
            return;
        }
        if (type == TYPE_POINT2D) {
            lexer_marker_set_shape(mk, TYPE_POINT2D, lexer_marker_commas(mk) + 1);
            return;
        }
    }
    lexer_invalid(r, start, r->pos, TYPE_POINT2D);
}

}  // namespace zan

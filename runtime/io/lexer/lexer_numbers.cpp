// Number loaders of the lexer (integers, hexadecimal integers, floats and
// their special forms, percents, tuples, pairs, points, times, dates and
// money) and the text-to-number scanners that the datatypes use for their
// conversions from text.
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/dtoa.h"
#include "runtime/core/errors.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/time.h"
#include "runtime/io/lexer/lexer_internal.h"

namespace zan {

namespace {

constexpr u32 FLOAT_TEXT_MAX = 312;

bool digit(u8 c) { return c >= '0' && c <= '9'; }

// ---- float syntax ---------------------------------------------------------------------------

// Classes: other 0, sign 1, digit 2, e/E 3, "." 4, "'" 5, end 6. Accepting
// states are those whose end entry is 9; 10 rejects.
constexpr u8 kFloatSyntax[10][7] = {
    {10, 0, 1, 10, 4, 10, 10},
    {10, 10, 1, 6, 5, 2, 9},
    {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},
    {10, 10, 3, 10, 10, 10, 9},
    {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10},
    {10, 10, 8, 10, 10, 10, 10},
    {10, 10, 8, 10, 10, 10, 9},
    {9, 9, 9, 9, 9, 9, 9},
};

u32 float_class(u8 c) {
    if (digit(c)) return 2;
    switch (c) {
        case '+': case '-': return 1;
        case 'e': case 'E': return 3;
        case '.': return 4;
        case '\'': return 5;
        default: return 0;
    }
}

// ---- integers -------------------------------------------------------------------------------

enum IntStatus { INT_OK, INT_BAD, INT_EMPTY, INT_BIG };

// An optionally signed decimal run with apostrophes between digits (two in
// a row are bad). INT_BIG: more than 10 digits or beyond 32 bits (the
// smallest integer is fine).
IntStatus parse_int(const u8* s, const u8* e, bool apostrophes, i32* out) {
    const u8* p = s;
    bool neg = false;
    if (p < e && (*p == '+' || *p == '-')) {
        neg = *p == '-';
        p++;
    }
    u32 digits = 0;
    u64 acc = 0;
    bool quote = false;
    for (; p < e; p++) {
        if (*p == '\'' && apostrophes) {
            if (quote) return INT_BAD;
            quote = true;
            continue;
        }
        quote = false;
        if (!digit(*p)) return INT_BAD;
        if (++digits <= 10) acc = acc * 10 + static_cast<u64>(*p - '0');
    }
    if (digits == 0) return INT_EMPTY;
    if (digits > 10) return INT_BIG;
    i64 v = neg ? -static_cast<i64>(acc) : static_cast<i64>(acc);
    if (v < INT32_MIN || v > INT32_MAX) return INT_BIG;
    *out = static_cast<i32>(v);
    return INT_OK;
}

u32 push_number_cell(LexerState* r) { return lexer_push_value(r); }

// ---- dates --------------------------------------------------------------------------------------

constexpr const char* kMonths[12] = {"january", "february", "march",     "april",
                                     "may",     "june",     "july",      "august",
                                     "september", "october", "november", "december"};
constexpr i32 kMonthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap_year(i32 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? static_cast<u8>(c + 32) : c; }
bool letter(u8 c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Reads n digits exactly.
bool fixed_digits(const u8*& p, const u8* e, u32 n, i32* out) {
    i32 v = 0;
    for (u32 k = 0; k < n; k++) {
        if (p >= e || !digit(*p)) return false;
        v = v * 10 + (*p++ - '0');
    }
    *out = v;
    return true;
}

// Reads 1 to max digits.
bool some_digits(const u8*& p, const u8* e, u32 max, i32* out, u32* count) {
    i32 v = 0;
    u32 n = 0;
    while (p < e && digit(*p) && n < max + 1) {
        v = v * 10 + (*p++ - '0');
        n++;
    }
    if (n == 0 || n > max) return false;
    *out = v;
    if (count) *count = n;
    return true;
}

// Seconds: digits with an optional fraction.
bool seconds_text(const u8*& p, const u8* e, double* out) {
    const u8* s = p;
    while (p < e && digit(*p)) p++;
    if (p == s) return false;
    if (p < e && *p == '.') {
        p++;
        const u8* f = p;
        while (p < e && digit(*p)) p++;
        if (p == f) return false;
    }
    int unread = 0;
    *out = dtoa_text_to_float(reinterpret_cast<const char*>(s), reinterpret_cast<const char*>(p),
                              0, &unread);
    return unread == 0;
}

// "Z" or a zone of a sign, hours, an optional ":" and minutes.
bool zone_text(const u8*& p, const u8* e, LexerDate* d, bool compact) {
    if (p >= e) return true;
    if (*p == 'Z' || *p == 'z') {
        p++;
        d->has_zone = true;
        return p == e;
    }
    if (*p != '+' && *p != '-') return false;
    bool neg = *p++ == '-';
    i32 h, m = 0;
    if (compact) {
        if (!fixed_digits(p, e, 2, &h) || !fixed_digits(p, e, 2, &m)) return false;
    } else {
        u32 n;
        if (!some_digits(p, e, 2, &h, &n)) return false;
        if (p < e && *p == ':') p++;
        if (p < e && !some_digits(p, e, 2, &m, nullptr)) return false;
    }
    if (p != e || h > 15 || m > 59) return false;
    d->has_zone = true;
    d->zone_hours = neg ? -h : h;
    d->zone_minutes = neg ? -m : m;
    return true;
}

// A time after a date: hours ":" minutes [":" seconds] [zone].
bool date_time_text(const u8*& p, const u8* e, LexerDate* d) {
    i32 h, m;
    double s = 0;
    if (!some_digits(p, e, 2, &h, nullptr)) return false;
    if (p >= e || *p++ != ':') return false;
    if (!fixed_digits(p, e, 2, &m)) return false;
    if (p < e && *p == ':') {
        p++;
        if (!seconds_text(p, e, &s)) return false;
    }
    if (h > 23 || m > 59 || !(s < 60)) return false;
    d->has_time = true;
    d->time = h * 3600.0 + m * 60.0 + s;
    return zone_text(p, e, d, false);
}

// A year, day or month field of the three-field form: an optional "-" and
// up to four digits.
bool year_field(const u8*& p, const u8* e, i32* v, u32* n) {
    bool neg = p < e && *p == '-';
    if (neg) p++;
    if (!some_digits(p, e, 4, v, n)) return false;
    if (neg) *v = -*v;
    return true;
}

bool month_field(const u8*& p, const u8* e, i32* month) {
    if (p < e && digit(*p)) {
        u32 n;
        return some_digits(p, e, 2, month, &n);
    }
    const u8* s = p;
    while (p < e && letter(*p)) p++;
    size_t n = static_cast<size_t>(p - s);
    if (n < 3 || n > 9) return false;
    for (i32 k = 0; k < 12; k++) {
        const char* name = kMonths[k];
        if (std::strlen(name) < n) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; i++) same = lower(s[i]) == static_cast<u8>(name[i]);
        if (same) {
            *month = k + 1;
            return true;
        }
    }
    return false;
}

bool parse_date(const u8* s, const u8* e, LexerDate* d) {
    *d = LexerDate{};
    const u8* p = s;
    // 1. Compact ISO: yyyymmddThhmm...
    if (e - s > 8 && s[8] == 'T') {
        i32 y, mo, da, h, mi;
        if (fixed_digits(p, e, 4, &y) && fixed_digits(p, e, 2, &mo) && fixed_digits(p, e, 2, &da) &&
            *p++ == 'T' && fixed_digits(p, e, 2, &h) && fixed_digits(p, e, 2, &mi)) {
            double sec = 0;
            if (p < e && digit(*p) && !seconds_text(p, e, &sec)) return false;
            if (h > 23 || mi > 59 || !(sec < 60)) return false;
            d->year = y;
            d->month = mo;
            d->day = da;
            d->has_time = true;
            d->time = h * 3600.0 + mi * 60.0 + sec;
            return zone_text(p, e, d, true);
        }
        return false;
    }
    // 2 and 3. Week and ordinal dates: yyyy-Www[-d], yyyy-ddd.
    {
        const u8* q = s;
        i32 y;
        u32 n;
        if (some_digits(q, e, 4, &y, &n) && q < e && *q == '-') {
            q++;
            if (q < e && *q == 'W') {
                q++;
                i32 w, wd = 0;
                if (!fixed_digits(q, e, 2, &w)) return false;
                if (q < e) {
                    if (*q++ != '-' || !fixed_digits(q, e, 1, &wd) || q != e) return false;
                    if (wd != 0 && (wd < 1 || wd > 7)) return false;
                }
                d->year = y;
                d->month = 1;
                d->day = 1;
                d->week = w;
                d->weekday = wd;
                return true;
            }
            const u8* t = q;
            i32 yd;
            if (fixed_digits(t, e, 3, &yd) && t == e) {
                d->year = y;
                d->month = 1;
                d->day = 1;
                d->yearday = yd;
                return true;
            }
        }
    }
    // 4. Three fields with the same separator.
    i32 first, month, last;
    u32 first_n, last_n;
    if (!year_field(p, e, &first, &first_n)) return false;
    if (p >= e || (*p != '-' && *p != '/')) return false;
    u8 sep = *p++;
    if (!month_field(p, e, &month)) return false;
    if (p >= e || *p++ != sep) return false;
    if (!year_field(p, e, &last, &last_n)) return false;
    i32 year, day;
    u32 year_n;
    if (first > 99 && last >= 0 && last <= 31) {
        year = first;
        year_n = first_n;
        day = last;
    } else {
        day = first;
        year = last;
        year_n = last_n;
    }
    if (year >= 0 && year <= 99 && year_n <= 2) year += year > 49 ? 1900 : 2000;
    d->year = year;
    d->month = month;
    d->day = day;
    if (p < e) {
        if (*p != '/' && *p != 'T') return false;
        p++;
        if (!date_time_text(p, e, d)) return false;
    }
    return p == e;
}

bool date_valid(const LexerDate& d) {
    if (d.month < 1 || d.month > 12) return false;
    if (d.year < -9999 || d.year > 9999) return false;
    i32 days = kMonthDays[d.month - 1];
    if (d.month == 2 && !leap_year(d.year)) days = 28;
    if (d.day < 1 || d.day > days) return false;
    if (d.zone_hours < -15 || d.zone_hours > 15) return false;
    return true;
}

// ---- money ------------------------------------------------------------------------------------------

struct MoneyText {
    bool negative;
    const u8* currency;  // three letters, or null
    const u8* int_start;
    const u8* int_end;
    const u8* frac_start;
    const u8* frac_end;
};

// Digits with single apostrophes (not first, not doubled, not last);
// answers the number of digits, -1 when malformed.
i32 money_digits(const u8*& p, const u8* e) {
    i32 n = 0;
    bool quote = false;
    const u8* s = p;
    while (p < e && (digit(*p) || *p == '\'')) {
        if (*p == '\'') {
            if (p == s || quote) return -1;
            quote = true;
        } else {
            quote = false;
            n++;
        }
        p++;
    }
    if (quote) return -1;
    return n;
}

bool parse_money(const u8* s, const u8* e, MoneyText* m) {
    const u8* p = s;
    m->negative = false;
    if (p < e && (*p == '+' || *p == '-')) m->negative = *p++ == '-';
    const u8* letters = p;
    while (p < e && letter(*p)) p++;
    size_t n = static_cast<size_t>(p - letters);
    if (n != 0 && n != 3) return false;
    m->currency = n ? letters : nullptr;
    if (p >= e || *p++ != '$') return false;
    m->int_start = p;
    i32 int_digits = money_digits(p, e);
    if (int_digits <= 0) return false;
    m->int_end = p;
    m->frac_start = m->frac_end = p;
    if (p < e && (*p == '.' || *p == ',')) {
        p++;
        m->frac_start = p;
        i32 f = money_digits(p, e);
        if (f <= 0 || f > 5) return false;
        m->frac_end = p;
    }
    if (p != e) return false;
    // Leading zeros do not count.
    const u8* q = m->int_start;
    i32 significant = int_digits;
    while (q < m->int_end && (*q == '0' || *q == '\'') && significant > 1) {
        if (*q == '0') significant--;
        q++;
    }
    return significant <= 17;
}

// ---- coordinates of points -----------------------------------------------------------------------

bool coordinate(const u8* s, const u8* e, double* out) {
    while (s < e && (*s == ' ' || *s == '\t')) s++;
    while (e > s && (e[-1] == ' ' || e[-1] == '\t')) e--;
    if (s == e) return false;
    if (std::memchr(s, '#', static_cast<size_t>(e - s))) {
        const u8* p = s;
        bool neg = false;
        if (*p == '+' || *p == '-') neg = *p++ == '-';
        if (e - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
        const u8* w = p + 3;
        bool inf = lower(w[0]) == 'i' && lower(w[1]) == 'n' && lower(w[2]) == 'f';
        bool nan = lower(w[0]) == 'n' && lower(w[1]) == 'a' && lower(w[2]) == 'n';
        if (!inf && !nan) return false;
        *out = nan ? g_float_nan : neg ? g_float_neg_inf : g_float_inf;
        return true;
    }
    if (e - s > static_cast<long>(FLOAT_TEXT_MAX)) return false;
    if (!lexer_float_syntax_ok(s, e)) return false;
    return lexer_text_to_float(s, e, false, 0, out);
}

}  // namespace

bool lexer_date_text(const u8* start, const u8* end, LexerDate* out) {
    return parse_date(start, end, out) && date_valid(*out);
}

// ---- float text -------------------------------------------------------------------------------------

bool lexer_float_syntax_ok(const u8* start, const u8* end) {
    u32 state = 0;
    for (const u8* p = start; p < end && state < 9; p++) state = kFloatSyntax[state][float_class(*p)];
    if (state >= 9) return state == 9;
    return kFloatSyntax[state][6] == 9;
}

bool lexer_text_to_float(const u8* start, const u8* end, bool apostrophes, int exp_adjust,
                         double* out) {
    char buf[FLOAT_TEXT_MAX + 1];
    size_t n = 0;
    for (const u8* p = start; p < end && n < FLOAT_TEXT_MAX; p++) {
        if (*p == '\'' && apostrophes) continue;
        buf[n++] = static_cast<char>(*p == ',' ? '.' : *p);
    }
    int unread = 0;
    *out = dtoa_text_to_float(buf, buf + n, exp_adjust, &unread);
    return unread == 0 && n > 0;
}

// ---- loaders ----------------------------------------------------------------------------------------

void lexer_load_integer(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    i32 v = 0;
    const u8* p = start + ((*start == '+' || *start == '-') ? 1 : 0);
    if (end - p == 1 && digit(*p)) {
        v = *p - '0';
        if (*start == '-') v = -v;
    } else {
        switch (parse_int(start, end, true, &v)) {
            case INT_OK: break;
            case INT_BIG:
                r->token_type = TYPE_FLOAT;
                lexer_load_float(r, start, end, flags, build);
                return;
            case INT_EMPTY: lexer_invalid(r, start, end, TYPE_PAIR);
            default: lexer_invalid(r, start, end, TYPE_INTEGER);
        }
    }
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    integer_box(lexer_cell(i), v);
    lexer_keep_nl(i, nl);
}

void lexer_load_hex(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    // The type of the error is that of the state the "h" came from: a word
    // for "Fh", an integer for "9h".
    u32 err_type = LexerStateTypeTable[static_cast<u32>(r->prev_state)];
    if (!err_type) err_type = TYPE_INTEGER;
    const u8* e = end - 1;  // the "h"
    size_t n = static_cast<size_t>(e - start);
    if (end <= start || *e != 'h' || n < 2 || n > 8) lexer_invalid(r, start, end, err_type);
    u32 v = 0;
    for (const u8* p = start; p < e; p++) {
        u8 c = *p;
        u32 d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else lexer_invalid(r, start, end, TYPE_INTEGER);
        v = v << 4 | d;
    }
    r->token_type = TYPE_INTEGER;
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    integer_box(lexer_cell(i), static_cast<i32>(v));
    lexer_keep_nl(i, nl);
}

namespace {

// The float of a float literal's text, as the float loader reads it; false
// when the loader refuses the text.
bool float_literal(const u8* start, const u8* end, bool apostrophes, double* out) {
    return end - start <= static_cast<long>(FLOAT_TEXT_MAX) && lexer_float_syntax_ok(start, end) &&
           lexer_text_to_float(start, end, apostrophes, 0, out);
}

}  // namespace

bool lexer_decimal_value(const u8* start, const u8* end, ValueCell* out) {
    double d;
    if (!std::memchr(start, '.', static_cast<size_t>(end - start)) &&
        !std::memchr(start, 'e', static_cast<size_t>(end - start)) &&
        !std::memchr(start, 'E', static_cast<size_t>(end - start))) {
        i32 v = 0;
        switch (parse_int(start, end, false, &v)) {
            case INT_OK: integer_box(out, v); return true;
            case INT_BIG: break;
            default: return false;
        }
    }
    if (!float_literal(start, end, false, &d)) return false;
    float_make_at(out, d);
    return true;
}

void lexer_load_float(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    double d;
    if (!float_literal(start, end, (flags & LEX_FLAG_QUOTE) != 0, &d))
        lexer_invalid(r, start, end, TYPE_FLOAT);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    float_make_at(lexer_cell(i), d);
    lexer_keep_nl(i, nl);
}

void lexer_load_float_special(LexerState* r, const u8* start, const u8* end, u32 flags,
                              bool build) {
    r->pos = end;
    const u8* p = start;
    bool neg = false;
    if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#')
        lexer_invalid(r, start, end, TYPE_FLOAT);
    const u8* w = p + 3;
    bool inf = lower(w[0]) == 'i' && lower(w[1]) == 'n' && lower(w[2]) == 'f';
    bool nan = lower(w[0]) == 'n' && lower(w[1]) == 'a' && lower(w[2]) == 'n';
    if (!inf && !nan) lexer_invalid(r, start, end, TYPE_FLOAT);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    float_make_at(lexer_cell(i), nan ? g_float_nan : neg ? g_float_neg_inf : g_float_inf);
    lexer_keep_nl(i, nl);
}

void lexer_load_percent(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    // end is the "%".
    r->pos = end + 1;
    double d;
    if (end - start > static_cast<long>(FLOAT_TEXT_MAX) || !lexer_float_syntax_ok(start, end) ||
        !lexer_text_to_float(start, end, (flags & LEX_FLAG_QUOTE) != 0, -2, &d))
        lexer_invalid(r, start, r->pos, TYPE_PERCENT);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    percent_make_at(lexer_cell(i), d);
    lexer_keep_nl(i, nl);
}

void lexer_load_tuple(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    u8 parts[12];
    i32 err = 0;
    i32 n = scan_tuple_text(start, static_cast<u32>(end - start), 1, parts, &err);
    if (err || n < 3) lexer_invalid(r, start, end, TYPE_TUPLE);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    lexer_make_tuple(lexer_cell(i), parts, static_cast<u32>(n));
    lexer_keep_nl(i, nl);
}

void lexer_load_pair(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    const u8* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    i32 a, b;
    if (x >= end || std::memchr(start, '.', static_cast<size_t>(end - start)) ||
        parse_int(start, x, false, &a) != INT_OK || parse_int(x + 1, end, false, &b) != INT_OK)
        lexer_invalid(r, start, end, TYPE_PAIR);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    lexer_make_pair(lexer_cell(i), a, b);
    lexer_keep_nl(i, nl);
}

void lexer_load_point(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    // start is after the "(", end the ")".
    r->pos = end + 1;
    const u8* open = start - 1;
    double c[3];
    u32 n = 0;
    const u8* s = start;
    u32 commas = 0;
    for (const u8* p = start; p < end; p++)
        if (*p == ',') commas++;
    u32 type = commas >= 2 ? TYPE_POINT3D : TYPE_POINT2D;
    if (end >= r->in_end || *end != ')' || commas < 1 || commas > 2)
        lexer_invalid(r, open, r->pos, type);
    for (const u8* p = start;; p++) {
        if (p == end || *p == ',') {
            if (!coordinate(s, p, &c[n++])) lexer_invalid(r, open, r->pos, type);
            if (p == end) break;
            s = p + 1;
        }
    }
    r->token_type = static_cast<i32>(type);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    if (n == 2) lexer_make_point2d(lexer_cell(i), c[0], c[1]);
    else lexer_make_point3d(lexer_cell(i), c[0], c[1], c[2]);
    lexer_keep_nl(i, nl);
}

void lexer_load_time(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    const u8* p = start;
    bool neg = *p == '-';
    // First field, with its sign.
    const u8* f1 = p;
    if (*p == '+' || *p == '-') p++;
    while (p < end && (digit(*p) || *p == '\'')) p++;
    i32 first;
    if (p >= end || *p != ':' || parse_int(f1, p, true, &first) != INT_OK)
        lexer_invalid(r, start, end, TYPE_TIME);
    p++;
    const u8* f2 = p;
    while (p < end && (digit(*p) || *p == '\'')) p++;
    i32 second;
    if (parse_int(f2, p, true, &second) != INT_OK || second < 0 || *f2 == '+' || *f2 == '-')
        lexer_invalid(r, start, end, TYPE_TIME);
    double hours = 0, minutes, seconds = 0;
    if (p == end) {
        hours = first;
        minutes = second;
    } else if (*p == ':') {
        p++;
        hours = first;
        minutes = second;
        if (!seconds_text(p, end, &seconds) || p != end) lexer_invalid(r, start, end, TYPE_TIME);
    } else if (*p == '.' || *p == ',') {
        // m:s.f
        const u8* f = ++p;
        while (p < end && digit(*p)) p++;
        if (p == f || p != end) lexer_invalid(r, start, end, TYPE_TIME);
        std::string frac = "0." + std::string(reinterpret_cast<const char*>(f), static_cast<size_t>(p - f));
        int unread = 0;
        double fraction = dtoa_text_to_float(frac.data(), frac.data() + frac.size(), 0, &unread);
        minutes = first;
        seconds = second + fraction;
    } else {
        lexer_invalid(r, start, end, TYPE_TIME);
    }
    if (!(seconds < 60)) lexer_invalid(r, start, end, TYPE_TIME);
    double v = std::fabs(hours) * 3600 + std::fabs(minutes) * 60 + seconds;
    if (neg || hours < 0 || (hours == 0 && minutes < 0)) v = -v;
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    time_box(lexer_cell(i), v);
    lexer_keep_nl(i, nl);
}

void lexer_load_date(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    LexerDate d;
    if (!lexer_date_text(start, end, &d)) lexer_invalid(r, start, end, TYPE_DATE);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    if (!lexer_make_date(lexer_cell(i), d)) {
        lexer_pop(r);
        lexer_invalid(r, start, end, TYPE_DATE);
    }
    lexer_keep_nl(i, nl);
}

void lexer_load_money(LexerState* r, const u8* start, const u8* end, u32 flags, bool build) {
    r->pos = end;
    MoneyText m;
    if (!parse_money(start, end, &m)) lexer_invalid(r, start, end, TYPE_MONEY);
    if (!build) return;
    u32 i = push_number_cell(r);
    bool nl = lexer_cell(i)->new_line();
    if (!lexer_make_money(lexer_cell(i), m.negative, m.currency, m.int_start, m.int_end,
                          m.frac_start, m.frac_end)) {
        lexer_pop(r);
        lexer_invalid(r, start, end, TYPE_MONEY);
    }
    lexer_keep_nl(i, nl);
}

// ---- scanners for the datatypes' conversions ----------------------------------------------------------

namespace {

// The units of a text as bytes; false when one is beyond ASCII.
bool ascii_units(const u8* start, u32 count, u32 unit, std::string* out) {
    out->clear();
    out->reserve(count);
    for (u32 k = 0; k < count; k++) {
        u32 c = unicode_get_unit(start + k * unit, unit);
        if (c >= 0x80) return false;
        out->push_back(static_cast<char>(c));
    }
    return true;
}

}  // namespace

i32 scan_integer_text(const u8* start, u32 length, u32 unit, i32* error) {
    *error = 0;
    std::string t;
    if (!ascii_units(start, length, unit, &t)) {
        *error = -1;
        return 0;
    }
    const u8* s = reinterpret_cast<const u8*>(t.data());
    const u8* e = s + t.size();
    // Apostrophes are skipped wherever they stand.
    std::string digits;
    for (const u8* p = s; p < e; p++) {
        if (*p == '\'') continue;
        if (!digit(*p) && !(p == s && (*p == '+' || *p == '-'))) {
            *error = -1;
            return 0;
        }
        digits.push_back(static_cast<char>(*p));
    }
    i32 v = 0;
    const u8* ds = reinterpret_cast<const u8*>(digits.data());
    switch (parse_int(ds, ds + digits.size(), false, &v)) {
        case INT_OK: return v;
        case INT_BIG: {
            // Beyond 10 digits only leading zeros keep it in range.
            const u8* p = ds;
            bool neg = false;
            if (*p == '+' || *p == '-') neg = *p++ == '-';
            while (p + 1 < ds + digits.size() && *p == '0') p++;
            std::string trimmed = (neg ? "-" : "") + std::string(reinterpret_cast<const char*>(p));
            const u8* ts = reinterpret_cast<const u8*>(trimmed.data());
            if (parse_int(ts, ts + trimmed.size(), false, &v) == INT_OK) return v;
            *error = -2;
            return 0;
        }
        default: *error = -1; return 0;
    }
}

double scan_float_text(const u8* start, u32 count, u32 unit, i32* error) {
    *error = 0;
    std::string t;
    if (count == 0 || count > FLOAT_TEXT_MAX || !ascii_units(start, count, unit, &t)) {
        *error = -1;
        return g_float_nan;
    }
    for (char& c : t)
        if (c == ',') c = '.';
    const u8* s = reinterpret_cast<const u8*>(t.data());
    const u8* e = s + t.size();
    double d;
    if (!lexer_float_syntax_ok(s, e) || !lexer_text_to_float(s, e, true, 0, &d)) {
        *error = -1;
        return g_float_nan;
    }
    return d;
}

i32 scan_tuple_text(const u8* start, u32 length, u32 unit, u8* parts, i32* error) {
    *error = 0;
    i32 n = 0;
    u32 value = 0;
    u32 digits = 0;
    for (u32 k = 0; k <= length; k++) {
        u32 c = k < length ? unicode_get_unit(start + k * unit, unit) : '.';
        if (c == '.') {
            if (digits == 0 || n == 12) {
                *error = -1;
                return 0;
            }
            parts[n++] = static_cast<u8>(value);
            value = 0;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            digits++;
            if (value > 255) {
                *error = -1;
                return 0;
            }
        } else {
            *error = -1;
            return 0;
        }
    }
    return n;
}

bool scan_money_text(const u8* start, const u8* end, u32 unit, ValueCell* result) {
    std::string t;
    u32 count = static_cast<u32>((end - start) / static_cast<long>(unit));
    if (!ascii_units(start, count, unit, &t)) return false;
    const u8* s = reinterpret_cast<const u8*>(t.data());
    const u8* e = s + t.size();
    MoneyText m;
    if (!parse_money(s, e, &m)) return false;
    // The code form needs at least five characters after the sign.
    const u8* after_sign = s + ((*s == '+' || *s == '-') ? 1 : 0);
    if (m.currency && e - after_sign < 5) return false;
    return lexer_make_money(result, m.negative, m.currency, m.int_start, m.int_end, m.frac_start,
                            m.frac_end);
}

}  // namespace zan

// The formatter behind float! form and the texts of percent!, time! seconds,
// vector! elements and point coordinates: printf-style digits, a retry with
// fewer digits for values that print as ...01 or ...99 noise, an exponent
// without "+" and leading zeros, and the kind's suffix.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/core/dtoa.h"
#include "runtime/core/errors.h"

namespace zan {

namespace {

bool g_pretty = true;

// Magnitudes below this print as zero while pretty-printing is on.
constexpr double PRETTY_ZERO_LIMIT = 2.220446049250313e-16;

constexpr int BUF_SIZE = 32;
char g_buf[BUF_SIZE];

const char* format_of(int kind, bool retry) {
    switch (kind) {
    case FLOAT_TEXT_F32:
    case FLOAT_TEXT_PCT32:
        return retry ? (kind == FLOAT_TEXT_F32 ? "%.5g" : "%.14g") : "%.7g";
    case FLOAT_TEXT_FLOAT: return retry ? "%.14g" : "%.16g";
    case FLOAT_TEXT_PERCENT: return retry ? "%.14g" : "%.13g";
    case FLOAT_TEXT_TIME: return "%.5g";  // first pass uses dtoa_form_float
    case FLOAT_TEXT_POINT: return retry ? "%.5g" : "%.7g";
    }
    runtime_fatal(100, "float conversion: unknown text kind");
}

struct Scan {
    size_t len;
    bool point;
    const char* e;  // the "e", or null
};

Scan scan(const char* t) {
    Scan s{std::strlen(t), std::strchr(t, '.') != nullptr, std::strchr(t, 'e')};
    return s;
}

// A mantissa of 17 or more significant characters that ends in "01" or "99"
// is the binary representation's noise showing through.
bool looks_noisy(const char* t, const Scan& s) {
    size_t mlen = s.e ? size_t(s.e - t) : s.len;
    const char* first_digit = t + (t[0] == '-' ? 1 : 0);
    size_t limit = (!s.e && *first_digit == '0') ? 17 : 16;
    if (mlen <= limit) return false;
    const char* last2 = t + mlen - 2;
    return (last2[0] == '0' && last2[1] == '1') || (last2[0] == '9' && last2[1] == '9');
}

}  // namespace

void float_set_pretty(bool on) { g_pretty = on; }

const char* float_to_cstr(double value, int kind) {
    if (kind < FLOAT_TEXT_F32 || kind > FLOAT_TEXT_POINT)
        runtime_fatal(100, "float conversion: unknown text kind");
    u64 bits = std::bit_cast<u64>(value);
    if ((bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull) {
        if (bits & 0x000FFFFFFFFFFFFFull) return "1.#NaN";
        return (bits >> 63) ? "-1.#INF" : "1.#INF";
    }
    const bool percent = kind == FLOAT_TEXT_PCT32 || kind == FLOAT_TEXT_PERCENT;
    if (g_pretty && std::fabs(value) < PRETTY_ZERO_LIMIT)
        return percent ? "0%" : kind == FLOAT_TEXT_POINT ? "0" : "0.0";

    char text[BUF_SIZE];
    if (kind == FLOAT_TEXT_TIME) {
        std::snprintf(text, sizeof text, "%s", dtoa_form_float(value, 6, false));
    } else {
        std::snprintf(text, sizeof text, format_of(kind, false), value);
    }
    Scan s = scan(text);
    if (g_pretty && looks_noisy(text, s)) {
        std::snprintf(text, sizeof text, format_of(kind, true), value);
        s = scan(text);
    }

    // Copy the mantissa, then the exponent without "+" and leading zeros.
    char* o = g_buf;
    size_t mlen = s.e ? size_t(s.e - text) : s.len;
    std::memcpy(o, text, mlen);
    o += mlen;
    if ((kind == FLOAT_TEXT_F32 || kind == FLOAT_TEXT_FLOAT) && !s.point) {
        *o++ = '.';
        *o++ = '0';
    }
    if (s.e) {
        const char* p = s.e + 1;
        *o++ = 'e';
        if (*p == '-') *o++ = '-';
        if (*p == '+' || *p == '-') ++p;
        while (*p == '0' && p[1]) ++p;
        size_t n = std::strlen(p);
        std::memcpy(o, p, n);
        o += n;
    }
    if (percent) *o++ = '%';
    *o = 0;
    return g_buf;
}

}  // namespace zan

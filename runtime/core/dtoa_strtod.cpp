// Decimal text to the nearest float. Short inputs take one exact
// floating-point operation; the rest get a scaled approximation that is then
// corrected ulp by ulp with exact big-integer comparisons against the
// halfway points between neighbouring floats.
#include <bit>
#include <cmath>
#include <cstring>

#include "runtime/core/dtoa.h"
#include "runtime/core/dtoa_bigint.h"

namespace zan {

namespace {

constexpr u64 FRAC_MASK = 0x000FFFFFFFFFFFFFull;
constexpr u64 HIDDEN_BIT = 0x0010000000000000ull;
constexpr u64 MAX_FINITE_BITS = 0x7FEFFFFFFFFFFFFFull;
constexpr u64 INF_BITS = 0x7FF0000000000000ull;

// Written exponents beyond this are clamped: no text is long enough for its
// digits to bring such a value back into range.
constexpr long EXP_CLAMP = 1000000000000000L;

// Halfway points between doubles have at most 767 significant digits, so
// digits beyond this many only matter as "something non-zero follows".
constexpr int MAX_SIG_DIGITS = 800;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The significant digits of the text, skipping the decimal point.
struct Digits {
    const char* start;  // first significant digit
    int skip_at;        // index of the first digit that follows the point
    int count;
    bool sticky;        // a non-zero digit 1 stands after the first `count`

    char at(int i) const { return start[i + (i >= skip_at ? 1 : 0)]; }
};

// Exact value of the digits (plus the sticky digit) as a big integer.
Bigint* digits_value(const Digits& d) {
    Bigint* b = big_from_u64(0);
    int n = d.count;
    int i = 0;
    while (i < n) {
        u32 chunk = 0, scale = 1;
        for (int j = 0; j < 9 && i < n; ++j, ++i) {
            chunk = chunk * 10 + u32(d.at(i) - '0');
            scale *= 10;
        }
        b = big_multadd(b, scale, chunk);
    }
    if (d.sticky) b = big_multadd(b, 10, 1);
    return b;
}

double from_bits(u64 b) { return std::bit_cast<double>(b); }

// Compares D * 10^e against hm * 2^hq, with bd = D * 5^max(e, 0) and
// p5 = 5^max(-e, 0) computed once by the caller.
int compare_halfway(const Bigint* bd, const Bigint* p5, long e, u64 hm, long hq) {
    long b2 = e > 0 ? e : 0, s2 = e < 0 ? -e : 0;
    if (hq >= 0) s2 += hq;
    else b2 += -hq;
    long common = b2 < s2 ? b2 : s2;
    b2 -= common;
    s2 -= common;
    Bigint* lhs = big_lshift(big_copy(bd), int(b2));
    Bigint* h = big_from_u64(hm);
    Bigint* rhs = big_mult(h, p5);
    dtoa_big_free(h);
    rhs = big_lshift(rhs, int(s2));
    int c = big_cmp(lhs, rhs);
    dtoa_big_free(lhs);
    dtoa_big_free(rhs);
    return c;
}

// Corrects an approximation x >= 0 of D * 10^e to the correctly rounded
// float (ties to even). Returns +infinity on overflow.
double correct(const Digits& dg, long e, double x) {
    Bigint* bd = digits_value(dg);
    if (dg.sticky) --e;
    if (e > 0) bd = big_pow5mult(bd, int(e));
    Bigint* p5 = big_pow5mult(big_from_u64(1), e < 0 ? int(-e) : 0);

    u64 bits = std::bit_cast<u64>(x);
    for (;;) {
        int biased = int(bits >> 52);
        u64 m = bits & FRAC_MASK;
        long q;
        if (biased) {
            m |= HIDDEN_BIT;
            q = biased - 1075;
        } else {
            q = -1074;
        }
        // Above the upper halfway point (or on it with an odd mantissa): up.
        int c = compare_halfway(bd, p5, e, 2 * m + 1, q - 1);
        if (c > 0 || (c == 0 && (m & 1))) {
            ++bits;
            if (bits == INF_BITS || c == 0) break;
            continue;
        }
        if (m == 0) break;
        // Below the lower halfway point (or on it with an odd mantissa): down.
        bool narrow = m == HIDDEN_BIT && biased > 1;  // the gap below is halved
        c = narrow ? compare_halfway(bd, p5, e, 4 * m - 1, q - 2)
                   : compare_halfway(bd, p5, e, 2 * m - 1, q - 1);
        if (c < 0 || (c == 0 && (m & 1))) {
            --bits;
            if (c == 0) break;
            continue;
        }
        break;
    }
    dtoa_big_free(bd);
    dtoa_big_free(p5);
    return from_bits(bits);
}

// True for "INF"/"NAN" (any case) at p.
bool word_at(const char* p, const char* end, const char* word) {
    for (; *word; ++word, ++p) {
        if (p >= end) return false;
        char c = *p;
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c != *word) return false;
    }
    return true;
}

}  // namespace

double dtoa_text_to_float(const char* start, const char* end, int exp_adjust, int* unread) {
    const char* s = start;
    bool neg = false;
    if (s < end && (*s == '+' || *s == '-')) {
        neg = *s == '-';
        ++s;
    }
    const char* lead = s;
    while (s < end && *s == '0') ++s;
    bool seen_digit = s > lead;

    // "1.#INF", "1.#NaN": one digit, a point, "#" and the word's first letter.
    if (end - s >= 4 && s[0] >= '1' && s[0] <= '9' && s[1] == '.' && s[2] == '#') {
        char c = s[3];
        if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
            bool inf = c == 'I' || c == 'i';
            const char* after = s + 3;
            after += word_at(after, end, inf ? "INF" : "NAN") ? 3 : 1;
            *unread = int(end - after);
            if (inf) return neg ? g_float_neg_inf : g_float_inf;
            return g_float_nan;
        }
    }

    Digits dg{s, 0, 0, false};
    long frac = 0;  // digits read after the point
    int n_before = 0;
    while (s < end && is_digit(*s)) {
        ++n_before;
        ++s;
    }
    dg.count = n_before;
    dg.skip_at = n_before;
    seen_digit = seen_digit || n_before > 0;
    if (s < end && *s == '.') {
        ++s;
        if (n_before == 0) {  // zeros before the first significant digit
            while (s < end && *s == '0') {
                ++s;
                ++frac;
                seen_digit = true;
            }
            dg.start = s;
            dg.skip_at = 1 << 30;
        }
        while (s < end && is_digit(*s)) {
            ++s;
            ++frac;
            ++dg.count;
            seen_digit = true;
        }
    } else {
        dg.skip_at = 1 << 30;
    }
    if (!seen_digit) {
        *unread = int(end - start);
        return 0.0;
    }

    long written = 0;
    if (s < end && (*s == 'e' || *s == 'E') && end - s > 1) {
        const char* p = s + 1;
        bool eneg = false;
        if (*p == '+' || *p == '-') {
            eneg = *p == '-';
            ++p;
        }
        if (p < end && is_digit(*p)) {
            while (p < end && is_digit(*p)) {
                if (written < EXP_CLAMP) written = written * 10 + (*p - '0');
                ++p;
            }
            if (written > EXP_CLAMP) written = EXP_CLAMP;
            if (eneg) written = -written;
            s = p;
        }
    }
    *unread = int(end - s);

    // value = D * 10^e, D the significant digits without trailing zeros.
    long e = written + exp_adjust - frac;
    while (dg.count > 0 && dg.at(dg.count - 1) == '0') {
        --dg.count;
        ++e;
    }
    const double zero = neg ? -0.0 : 0.0;
    if (dg.count == 0) return zero;
    const double inf = neg ? g_float_neg_inf : g_float_inf;
    long nd = dg.count;
    if (nd + e >= 310) return inf;   // at least 1e309
    if (nd + e <= -324) return zero;  // below 1e-324, under half the least float
    if (nd > MAX_SIG_DIGITS) {
        e += nd - MAX_SIG_DIGITS;
        dg.count = MAX_SIG_DIGITS;
        dg.sticky = true;  // the dropped tail ends in a non-zero digit
        nd = MAX_SIG_DIGITS;
    }

    // First approximation from up to 16 digits: 9 as one integer, 7 more.
    int k = nd < 16 ? int(nd) : 16;
    u32 y = 0, z = 0;
    for (int i = 0; i < k; ++i) {
        if (i < 9) y = y * 10 + u32(dg.at(i) - '0');
        else z = z * 10 + u32(dg.at(i) - '0');
    }
    double rv = y;
    if (k > 9) rv = g_tens[k - 9] * rv + z;
    long e1 = e + (nd - k);

    if (nd <= 15) {  // rv is exact: one rounding gives the answer
        if (e1 == 0) return neg ? -rv : rv;
        if (e1 > 0) {
            if (e1 <= DTOA_TEN_PMAX) {
                rv *= g_tens[e1];
                return neg ? -rv : rv;
            }
            long room = 15 - nd;  // rv * 10^room is still an exact integer
            if (e1 <= DTOA_TEN_PMAX + room) {
                rv *= g_tens[room];
                rv *= g_tens[e1 - room];
                return neg ? -rv : rv;
            }
        } else if (-e1 <= DTOA_TEN_PMAX) {
            rv /= g_tens[-e1];
            return neg ? -rv : rv;
        }
    }

    // Scale by the power tables. Results near underflow are approximated at
    // 2^106 times their size, so no intermediate loses precision.
    if (e1 > 0) {
        if (long i = e1 & 15) rv *= g_tens[i];
        for (int j = 0, b = int(e1 >> 4); b; ++j, b >>= 1)
            if (b & 1) rv *= g_bigtens[j];
        if (std::isinf(rv)) rv = from_bits(MAX_FINITE_BITS);
    } else if (e1 < 0) {
        long ne = -e1;
        bool scaled = ne >= 256;
        if (scaled) rv = std::ldexp(rv, 106);
        if (long i = ne & 15) rv /= g_tens[i];
        for (int j = 0, b = int(ne >> 4); b; ++j, b >>= 1)
            if (b & 1) rv *= g_tinytens[j];
        if (scaled) rv = std::ldexp(rv, -106);
    }

    rv = correct(dg, e, rv);
    return neg ? -rv : rv;
}

}  // namespace zan

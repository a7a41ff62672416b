// Float to decimal digits: the shortest digit string that reads back as the
// same float (exact big-integer digit generation with a floating-point fast
// path for small integers), and its plain or exponent layout.
#include "runtime/core/dtoa.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/core/dtoa_bigint.h"
#include "runtime/core/errors.h"

namespace zan {

const double g_float_max = std::bit_cast<double>(u64(0x7FEFFFFFFFFFFFFFull));
const double g_float_inf = std::bit_cast<double>(u64(0x7FF0000000000000ull));
const double g_float_neg_inf = std::bit_cast<double>(u64(0xFFF0000000000000ull));
const double g_float_nan = std::bit_cast<double>(u64(0x7FF8000000000000ull));
const double g_float_round_half = 0.49999999999999994;

namespace {

constexpr u64 SIGN_BIT = 0x8000000000000000ull;
constexpr u64 EXP_MASK = 0x7FF0000000000000ull;
constexpr u64 FRAC_MASK = 0x000FFFFFFFFFFFFFull;
constexpr u64 HIDDEN_BIT = 0x0010000000000000ull;

// One byte holding "-", then the digits or special text. A negative special
// or zero text is returned from the "-".
char g_digit_buf[1 + 40];
char* const g_digits = g_digit_buf + 1;

// Text laid out by dtoa_form_float.
char g_form_buf[48];

const char* special_text(const char* text, bool neg, int* count) {
    g_digit_buf[0] = '-';
    std::strcpy(g_digits, text);
    *count = int(std::strlen(text)) + (neg ? 1 : 0);
    return neg ? g_digit_buf : g_digits;
}

// Adds one to the digit string [start, s): carries through 9s; a carry out of
// the first digit leaves "1" and raises the decimal exponent.
char* round_up(char* start, char* s, int* k) {
    while (s > start && s[-1] == '9') --s;
    if (s == start) {
        *s++ = '1';
        ++*k;
    } else {
        ++s[-1];
    }
    return s;
}

char* drop_trailing_zeros(char* start, char* s) {
    while (s > start + 1 && s[-1] == '0') --s;
    return s;
}

// Digits of an integer below 1e15, by repeated floating-point division: every
// step is exact. k is the decimal exponent of the leading digit.
char* integer_digits(double d, int k, int cap, int* kp) {
    const double ds = g_tens[k];
    char* s = g_digits;
    for (int n = 1;; ++n, d *= 10) {
        double q = std::floor(d / ds);
        d -= q * ds;
        int dig = int(q);
        if (dig < 0 || dig > 9) runtime_fatal(100, "float conversion: digit out of range");
        *s++ = char('0' + dig);
        if (d == 0) return s;
        if (n == cap) {
            d += d;
            if (d > ds || (d == ds && (dig & 1))) return round_up(g_digits, s, kp);
            return drop_trailing_zeros(g_digits, s);
        }
    }
}

// The general case: value = m * 2^e2 exactly; k estimates floor(log10(value))
// and may be one too high (or, defensively, one too low).
char* bignum_digits(u64 m, int e2, bool lower_gap_halved, int k, int cap, int* kp) {
    // Work in units of 2^(e2 - 2): value = 4m, half the gap to the successor
    // is 2, to the predecessor 2 (or 1 when that gap is halved).
    int t = e2 - 2;
    int b2 = t > 0 ? t : 0, s2 = t < 0 ? -t : 0;
    int b5 = 0, s5 = 0;
    if (k >= 0) {
        s5 = k;
        s2 += k;
    } else {
        b5 = -k;
        b2 += -k;
    }
    int common = b2 < s2 ? b2 : s2;
    b2 -= common;
    s2 -= common;

    Bigint* b = big_lshift(big_pow5mult(big_from_u64(m << 2), b5), b2);
    Bigint* mhi = big_lshift(big_pow5mult(big_from_u64(2), b5), b2);
    Bigint* mlo = big_lshift(big_pow5mult(big_from_u64(lower_gap_halved ? 1 : 2), b5), b2);
    Bigint* S = big_lshift(big_pow5mult(big_from_u64(1), s5), s2);

    // Keep S's top word below 2^28 and well filled, so the quotient digit
    // estimate of big_quorem is at most one off.
    int shift = (big_top_zero_bits(S) - 4 + 32) % 32;
    if (shift) {
        b = big_lshift(b, shift);
        mhi = big_lshift(mhi, shift);
        mlo = big_lshift(mlo, shift);
        S = big_lshift(S, shift);
    }

    if (big_cmp(b, S) < 0) {  // the estimate was one too high
        --k;
        b = big_multadd(b, 10, 0);
        mhi = big_multadd(mhi, 10, 0);
        mlo = big_multadd(mlo, 10, 0);
    } else {
        Bigint* s10 = big_multadd(big_copy(S), 10, 0);
        if (big_cmp(b, s10) >= 0) {  // one too low
            ++k;
            dtoa_big_free(S);
            S = s10;
        } else {
            dtoa_big_free(s10);
        }
    }
    *kp = k;

    const bool even = (m & 1) == 0;  // ties at the interval's ends read back
    char* s = g_digits;
    for (int n = 1;; ++n) {
        int dig = big_quorem(b, S);
        // Truncating here reads back when b < mlo; rounding up reads back
        // when b + mhi > S.
        int j = big_cmp(b, mlo);
        Bigint* delta = big_diff(S, mhi);
        int j1 = delta->sign ? 1 : big_cmp(b, delta);
        dtoa_big_free(delta);
        bool low = j < 0 || (j == 0 && even);
        bool high = j1 > 0 || (j1 == 0 && even);
        *s++ = char('0' + dig);
        if (low || high || n == cap) {
            bool up;
            if (low && !high) {
                up = false;
            } else if (high && !low) {
                up = true;
            } else {  // both (or neither, at the cap): the nearer one
                b = big_lshift(b, 1);
                int c = big_cmp(b, S);
                up = c > 0 || (c == 0 && (dig & 1));
            }
            if (up) s = round_up(g_digits, s, kp);
            else s = drop_trailing_zeros(g_digits, s);
            break;
        }
        b = big_multadd(b, 10, 0);
        mhi = big_multadd(mhi, 10, 0);
        mlo = big_multadd(mlo, 10, 0);
    }
    dtoa_big_free(b);
    dtoa_big_free(mhi);
    dtoa_big_free(mlo);
    dtoa_big_free(S);
    return s;
}

}  // namespace

const char* dtoa_float_to_digits(double value, int cap, int* point, int* sign, int* count,
                                 bool zero_text) {
    u64 bits = std::bit_cast<u64>(value);
    bool neg = (bits & SIGN_BIT) != 0;
    *sign = neg ? 1 : 0;
    bits &= ~SIGN_BIT;
    if ((bits & EXP_MASK) == EXP_MASK) {
        *point = DTOA_POS_SPECIAL;
        if (bits & FRAC_MASK) return special_text("1.#NaN", false, count);
        return special_text("1.#INF", neg, count);
    }
    if (bits == 0) {
        *point = DTOA_POS_ZERO;
        return special_text(zero_text ? "0.0" : "0", neg, count);
    }
    if (cap < 0) cap = 0;

    double d = std::bit_cast<double>(bits);
    int biased = int(bits >> 52);
    u64 m = bits & FRAC_MASK;
    int e2;
    if (biased) {
        m |= HIDDEN_BIT;
        e2 = biased - 1075;
    } else {
        e2 = -1074;
    }

    // k = floor(log10(d)) estimated from the tangent of log10 at 1.5.
    int fexp;
    double f = 2 * std::frexp(d, &fexp);  // d = f * 2^(fexp - 1), f in [1, 2)
    double ds = (f - 1.5) * 0.289529654602168 + 0.1760912590558 +
                (fexp - 1) * 0.301029995663981;
    int k = int(ds);
    if (ds < 0 && ds != k) --k;
    bool checked = false;
    if (k >= 0 && k <= DTOA_TEN_PMAX) {
        if (d < g_tens[k]) --k;
        else if (k < DTOA_TEN_PMAX && d >= g_tens[k + 1]) ++k;
        checked = true;
    }

    char* end;
    int tz = std::countr_zero(m);
    if (e2 + tz >= 0 && checked && k >= 0 && k <= 14) {
        end = integer_digits(d, k, cap, &k);
    } else {
        bool halved = m == HIDDEN_BIT && biased > 1;
        end = bignum_digits(m, e2, halved, k, cap, &k);
    }
    *end = 0;
    *point = k + 1;
    *count = int(end - g_digits);
    return g_digits;
}

const char* dtoa_form_float(double value, int cap, bool dot_zero) {
    int point, sign, n;
    const char* d = dtoa_float_to_digits(value, cap, &point, &sign, &n, dot_zero);
    if (point >= DTOA_POS_ZERO) return d;

    char* o = g_form_buf;
    if (sign) *o++ = '-';
    // A point left at the end of the mantissa is followed by "0" or dropped.
    auto close_point = [&] {
        if (o[-1] == '.') {
            if (dot_zero) *o++ = '0';
            else --o;
        }
    };
    if (point >= 18 || point < -6) {
        *o++ = d[0];
        *o++ = '.';
        std::memcpy(o, d + 1, size_t(n - 1));
        o += n - 1;
        close_point();
        o += std::snprintf(o, 8, "e%d", point - 1);
    } else if (point >= 1) {
        int lead = n < point ? n : point;
        std::memcpy(o, d, size_t(lead));
        o += lead;
        for (int i = lead; i < point; ++i) *o++ = '0';
        *o++ = '.';
        std::memcpy(o, d + lead, size_t(n - lead));
        o += n - lead;
        close_point();
    } else {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -point; ++i) *o++ = '0';
        std::memcpy(o, d, size_t(n));
        o += n;
    }
    *o = 0;
    return g_form_buf;
}

}  // namespace zan

// Float <-> text: special and zero texts, capped digits, layout, the
// formatter's clean-up rules per kind, text-to-float edge cases, and the
// big-integer block recycling.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/dtoa.h"
#include "runtime/core/dtoa_bigint.h"

namespace zan {
namespace {

const double INF = std::bit_cast<double>(u64(0x7FF0000000000000ull));
const double NAN_Q = std::bit_cast<double>(u64(0x7FF8000000000000ull));
const double NAN_NEG = std::bit_cast<double>(u64(0xFFF8000000000001ull));

// Puts the pretty-printing switch back on (its start-up state) after a test.
struct PrettyGuard {
    explicit PrettyGuard(bool on) { float_set_pretty(on); }
    ~PrettyGuard() { float_set_pretty(true); }
};

TEST(FloatConstants, HoldTheSharedValues) {
    EXPECT_EQ(g_float_max, DBL_MAX);
    EXPECT_EQ(g_float_inf, INFINITY);
    EXPECT_EQ(g_float_neg_inf, -INFINITY);
    EXPECT_EQ(std::bit_cast<u64>(g_float_nan), 0x7FF8000000000000ull);
    EXPECT_EQ(g_float_round_half, std::nextafter(0.5, 0.0));
}

TEST(FloatDigits, SpecialAndZeroTexts) {
    struct Case { double v; bool zero_text; const char* text; int point, sign; };
    const Case cases[] = {
        {INF, false, "1.#INF", DTOA_POS_SPECIAL, 0},
        {-INF, true, "-1.#INF", DTOA_POS_SPECIAL, 1},
        {NAN_Q, false, "1.#NaN", DTOA_POS_SPECIAL, 0},
        {NAN_NEG, false, "1.#NaN", DTOA_POS_SPECIAL, 1},
        {0.0, true, "0.0", DTOA_POS_ZERO, 0},
        {-0.0, true, "-0.0", DTOA_POS_ZERO, 1},
        {0.0, false, "0", DTOA_POS_ZERO, 0},
        {-0.0, false, "-0", DTOA_POS_ZERO, 1},
    };
    for (const Case& c : cases) {
        int point = 0, sign = 0, count = 0;
        const char* t = dtoa_float_to_digits(c.v, 0, &point, &sign, &count, c.zero_text);
        EXPECT_EQ(std::string(t, size_t(count)), c.text) << c.text;
        EXPECT_EQ(point, c.point) << c.text;
        EXPECT_EQ(sign, c.sign) << c.text;
    }
}

TEST(FloatDigits, CapRoundsTheExactValueHalfEven) {
    struct Case { double v; int cap; const char* digits; int point; };
    const Case cases[] = {
        {1.0 / 3, 6, "333333", 0},
        {2.0 / 3, 6, "666667", 0},
        {0.125, 2, "12", 0},        // exactly half, even digit stays
        {0.375, 2, "38", 0},        // exactly half, odd digit rounds up
        {9.9999999, 3, "1", 2},     // carry out of the first digit
        {123456.0, 3, "123", 6},    // integer path
        {125.0, 2, "12", 3},        // integer path, tie to even
        {135.0, 2, "14", 3},
        {999999.0, 3, "1", 7},
        {1.5, 6, "15", 1},          // shorter than the cap: untouched
        {0.1, -1, "1", 0},          // no cap
        {1e300, 6, "1", 301},
        {12.3456789, 6, "123457", 2},
        {1.2000001, 6, "12", 1},    // trailing zeros dropped after rounding down
    };
    for (const Case& c : cases) {
        int point = 0, sign = 0, count = 0;
        const char* t = dtoa_float_to_digits(c.v, c.cap, &point, &sign, &count, false);
        EXPECT_EQ(std::string(t, size_t(count)), c.digits) << c.v << " cap " << c.cap;
        EXPECT_EQ(point, c.point) << c.v << " cap " << c.cap;
    }
}

TEST(FloatForm, PlainAndExponentLayout) {
    struct Case { double v; int cap; bool dot_zero; const char* text; };
    const Case cases[] = {
        {1.0, 0, true, "1.0"},
        {100.0, 0, true, "100.0"},
        {0.1, 0, true, "0.1"},
        {1e17, 0, true, "1.0e17"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {-2.5, 0, true, "-2.5"},
        {1.0 / 3, 0, true, "0.3333333333333333"},
        {1e300, 0, true, "1.0e300"},
        {-0.0, 0, true, "-0.0"},
        {123456789012345680.0, 0, true, "1.2345678901234568e17"},
        {5e-324, 0, true, "5.0e-324"},
        {-1.7976931348623157e308, 0, true, "-1.7976931348623157e308"},
        {-INF, 0, true, "-1.#INF"},
        {NAN_Q, 0, true, "1.#NaN"},
        {1.0, 0, false, "1"},
        {1e17, 0, false, "1e17"},
        {0.0, 0, false, "0"},
        {1e-8, 0, false, "1e-8"},
        {12345.678, 0, false, "12345.678"},
        {1.5, 6, false, "1.5"},
        {1.0 / 3, 6, false, "0.333333"},
        {12.3456789, 6, false, "12.3457"},
        {59.9999999, 6, false, "60"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(dtoa_form_float(c.v, c.cap, c.dot_zero), c.text) << c.text;
}

struct CstrCase { int kind; double v; const char* text; };

void expect_cstr(const CstrCase* cases, size_t n, bool pretty) {
    PrettyGuard guard(pretty);
    for (size_t i = 0; i < n; ++i)
        EXPECT_STREQ(float_to_cstr(cases[i].v, cases[i].kind), cases[i].text)
            << "kind " << cases[i].kind << " expected " << cases[i].text;
}

TEST(FloatToCstr, KindsWithPrettyPrinting) {
    const CstrCase cases[] = {
        // kind 1: float! form
        {1, 0.30000000000000004, "0.3"},
        {1, 0.7999999999999999, "0.8"},           // "...99" noise, retried
        {1, -0.7999999999999999, "-0.8"},
        {1, 0.799999999999999, "0.799999999999999"},  // 17 characters after "0": kept
        {1, 56.99999999999999, "57.0"},
        {1, 1234567890123.401, "1234567890123.4"},
        {1, 1.999999999999999e20, "2.0e20"},        // the mantissa is retried too
        {1, 1.0 / 3, "0.3333333333333333"},
        {1, 1e-20, "0.0"},
        {1, -1e-20, "0.0"},
        {1, 1e-15, "1.0e-15"},
        {1, 3e-16, "3.0e-16"},
        {1, 2.0, "2.0"},
        {1, 1e20, "1.0e20"},
        {1, 1e-7, "1.0e-7"},
        {1, -2.5e-10, "-2.5e-10"},
        {1, 1.5e300, "1.5e300"},
        {1, 1e16, "1.0e16"},
        {1, 123456789.0, "123456789.0"},
        // kind 3: percent! (already multiplied by 100)
        {3, 50.0, "50%"},
        {3, 0.0, "0%"},
        {3, 12.5, "12.5%"},
        {3, 1e-20, "0%"},
        {3, 1e20, "1e20%"},
        {3, 100.0 / 3, "33.33333333333%"},
        // kind 0: 32-bit float elements
        {0, 3.0, "3.0"},
        {0, double(0.1f), "0.1"},
        {0, 1e20, "1.0e20"},
        {0, 1.5e-10, "1.5e-10"},
        // kind 2: 32-bit percent elements
        {2, 50.0, "50%"},
        {2, double(12.5f), "12.5%"},
        // kind 4: time! seconds
        {4, 1.5, "1.5"},
        {4, 1.0 / 3, "0.333333"},
        {4, 5.0, "5"},
        {4, 12.3456789, "12.3457"},
        {4, 0.0, "0.0"},
        // kind 5: point coordinates
        {5, 1.0, "1"},
        {5, -0.25, "-0.25"},
        {5, 0.0, "0"},
        {5, 1e-20, "0"},
        {5, 1e10, "1e10"},
        {5, 123456789.0, "1.234568e8"},
        {5, 1.5e-7, "1.5e-7"},
    };
    expect_cstr(cases, std::size(cases), true);
}

TEST(FloatToCstr, WithoutPrettyPrinting) {
    const CstrCase cases[] = {
        {1, 1e-20, "9.999999999999999e-21"},  // no retry without pretty-printing
        {1, 0.7999999999999999, "0.7999999999999999"},
        {1, 0.0, "0.0"},
        {1, -0.0, "-0.0"},
        {3, 0.0, "0%"},
        {3, 1e-20, "1e-20%"},
        {5, 1e-20, "1e-20"},
        {4, 1e-7, "0.0000001"},
    };
    expect_cstr(cases, std::size(cases), false);
}

TEST(FloatToCstr, InfinitiesAndNaNInEveryKind) {
    for (int kind = 0; kind <= 5; ++kind) {
        EXPECT_STREQ(float_to_cstr(INF, kind), "1.#INF") << kind;
        EXPECT_STREQ(float_to_cstr(-INF, kind), "-1.#INF") << kind;
        EXPECT_STREQ(float_to_cstr(NAN_NEG, kind), "1.#NaN") << kind;
    }
}

struct ParseCase { const char* text; int adjust; double value; int unread; };

TEST(TextToFloat, SpecialTextsAdjustmentAndPartialInput) {
    const ParseCase cases[] = {
        {"1.#INF", 0, INF, 0},
        {"-1.#INF", 0, -INF, 0},
        {"+1.#inf", 0, INF, 0},
        {"001.#INF", 0, INF, 0},
        {"1.#Ixyz", 0, INF, 3},      // one letter decides; the rest is left
        {"12.#INF", 0, 12.0, 4},     // not a special text: reading stops at "#"
        {"50", -2, 0.5, 0},
        {"12.5", -2, 0.125, 0},
        {"1e400", 0, INF, 0},
        {"-1e400", 0, -INF, 0},
        {"1e-400", 0, 0.0, 0},
        {"1e99999999999", 0, INF, 0},
        {"1e-99999999999", 0, 0.0, 0},
        {"0e999999", 0, 0.0, 0},
        {"abc", 0, 0.0, 3},
        {"", 0, 0.0, 0},
        {"-", 0, 0.0, 1},
        {".", 0, 0.0, 1},
        {"0", 0, 0.0, 0},
        {"0.000", 0, 0.0, 0},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"2.5e3x", 0, 2500.0, 1},
        {"1.5 ", 0, 1.5, 1},
        {".5", 0, 0.5, 0},
        {"5.", 0, 5.0, 0},
        {"+0012.50E-1", 0, 1.25, 0},
        {"0.000000000000000000000000000001e30", 0, 1.0, 0},
        {"100000000000000000000000000000e-28", 0, 10.0, 0},
    };
    for (const ParseCase& c : cases) {
        int unread = -1;
        double v = dtoa_text_to_float(c.text, c.text + std::strlen(c.text), c.adjust, &unread);
        EXPECT_EQ(std::bit_cast<u64>(v), std::bit_cast<u64>(c.value)) << '"' << c.text << '"';
        EXPECT_EQ(unread, c.unread) << '"' << c.text << '"';
    }
}

TEST(TextToFloat, NaNIsQuietAndSignedZerosKeepTheirSign) {
    const char* texts[] = {"1.#NaN", "1.#nan", "-1.#NAN"};
    for (const char* t : texts) {
        int unread = -1;
        double v = dtoa_text_to_float(t, t + std::strlen(t), 0, &unread);
        EXPECT_EQ(std::bit_cast<u64>(v), 0x7FF8000000000000ull) << t;
        EXPECT_EQ(unread, 0) << t;
    }
    int unread;
    const char* neg[] = {"-0", "-0.0e5", "-1e-400"};
    for (const char* t : neg) {
        double v = dtoa_text_to_float(t, t + std::strlen(t), 0, &unread);
        EXPECT_EQ(v, 0.0) << t;
        EXPECT_TRUE(std::signbit(v)) << t;
    }
}

TEST(TextToFloat, ReadsOnlyTheGivenRange) {
    const char* text = "123456";
    int unread = -1;
    EXPECT_EQ(dtoa_text_to_float(text, text + 3, 0, &unread), 123.0);
    EXPECT_EQ(unread, 0);
    const char* exp = "1e5000";
    EXPECT_EQ(dtoa_text_to_float(exp, exp + 3, 0, &unread), 1e5);
    EXPECT_EQ(unread, 0);
}

TEST(TextToFloat, LongDigitRunsBalanceLargeExponents) {
    int unread = -1;
    std::string tiny = "0." + std::string(25000, '0') + "15e25001";  // 1.5
    EXPECT_EQ(dtoa_text_to_float(tiny.data(), tiny.data() + tiny.size(), 0, &unread), 1.5);
    EXPECT_EQ(unread, 0);
    std::string huge = "15" + std::string(25000, '0') + "e-25001";  // 1.5
    EXPECT_EQ(dtoa_text_to_float(huge.data(), huge.data() + huge.size(), 0, &unread), 1.5);
    // 2000 significant digits just above the halfway point between 1 and
    // its successor: the digits past the 800th still decide.
    std::string above = "1.00000000000000011102230246251565404236316680908203125" +
                        std::string(2000, '0') + "1";
    EXPECT_EQ(dtoa_text_to_float(above.data(), above.data() + above.size(), 0, &unread),
              std::nextafter(1.0, 2.0));
    std::string exact = "1.00000000000000011102230246251565404236316680908203125" +
                        std::string(2000, '0');
    EXPECT_EQ(dtoa_text_to_float(exact.data(), exact.data() + exact.size(), 0, &unread), 1.0);
}

TEST(FloatBigint, SmallBlocksAreRecycledPerClass) {
    Bigint* a = dtoa_big_alloc(3);
    EXPECT_EQ(a->maxwds, 8);
    dtoa_big_free(a);
    Bigint* b = dtoa_big_alloc(3);
    EXPECT_EQ(b, a);  // the most recently freed block comes back first
    EXPECT_TRUE(big_is_zero(b));
    dtoa_big_free(b);
}

TEST(FloatBigint, QuotientDigitAndRemainder) {
    // S = 2^64 + 12345, b = 7 S + 99.
    Bigint* S = big_lshift(big_from_u64(1), 64);
    S = big_multadd(S, 1, 12345);
    Bigint* b = big_multadd(big_copy(S), 7, 99);
    EXPECT_EQ(big_quorem(b, S), 7);
    Bigint* r = big_from_u64(99);
    EXPECT_EQ(big_cmp(b, r), 0);
    Bigint* d = big_diff(r, S);
    EXPECT_EQ(d->sign, 1);
    Bigint* back = big_diff(S, d);  // S - (S - 99)
    EXPECT_EQ(big_cmp(back, r), 0);
    for (Bigint* x : {S, b, r, d, back}) dtoa_big_free(x);
}

}  // namespace
}  // namespace zan

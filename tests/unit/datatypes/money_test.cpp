// money!: exact arithmetic, rounding and conversions checked against a
// table made with Python's decimal module (tests/data/money_oracle.tsv,
// tools/gen_money_oracle.py), then currencies, the text forms and the
// packed layout.
#include <bit>
#include <cmath>

#include "scalar_test_support.h"

namespace zan::test {
namespace {

class MoneyTest : public ScalarTest {
protected:
    static std::string all(const ValueCell& m) { return mold(m, false, true); }
    static i32 op_of(const std::string& k) {
        if (k == "add") return MATH_ADD;
        if (k == "sub") return MATH_SUBTRACT;
        if (k == "mul") return MATH_MULTIPLY;
        if (k == "div") return MATH_DIVIDE;
        return MATH_REMAINDER;
    }
    static ValueCell round_mode(const ValueCell& n, const ValueCell& scale, const std::string& m) {
        unsigned flags = m == "even"           ? R_EVEN
                         : m == "down"         ? R_DOWN
                         : m == "half-down"    ? R_HALF_DOWN
                         : m == "floor"        ? R_FLOOR
                         : m == "ceiling"      ? R_CEILING
                         : m == "half-ceiling" ? R_HALF_CEILING
                                               : 0u;
        return round_call(n, &scale, flags);
    }
};

TEST_F(MoneyTest, OracleArithmetic) {
    int rows = 0;
    for (const auto& r : read_table("money_oracle.tsv")) {
        if (r[0] != "add" && r[0] != "sub" && r[0] != "mul" && r[0] != "div" && r[0] != "rem")
            continue;
        rows++;
        ValueCell a = MONEY(r[1]);
        // Multiply, divide and remainder take a float! as the second
        // operand (money by money is refused or gives a float!); the table
        // holds floats that money reads exactly.
        bool number = r[0] == "mul" || r[0] == "div" || r[0] == "rem";
        ValueCell b = number ? F(std::stod(r[2])) : MONEY(r[2]);
        if (number) {
            ValueCell check;
            money_from_float(&check, std::stod(r[2]), false);
            EXPECT_EQ(all(check), all(MONEY(r[2])));
        }
        std::string what = r[1] + " " + r[0] + " " + r[2];
        i32 op = op_of(r[0]);
        if (r[3] == "LIMIT") {
            EXPECT_EQ(math_error(a, op, b), Err::script_type_limit) << what;
        } else if (r[3] == "ZERO") {
            EXPECT_EQ(math_error(a, op, b), Err::math_zero_divide) << what;
        } else {
            EXPECT_EQ(all(math(a, op, b)), r[3]) << what;
        }
    }
    EXPECT_GT(rows, 1000);
}

TEST_F(MoneyTest, OracleRoundCompareAndConversions) {
    int rows = 0;
    for (const auto& r : read_table("money_oracle.tsv")) {
        if (r[0] == "round") {
            ValueCell res = round_mode(MONEY(r[1]), MONEY(r[2]), r[3]);
            EXPECT_EQ(all(res), r[4]) << "round " << r[1] << " to " << r[2] << " " << r[3];
        } else if (r[0] == "cmp") {
            i32 want = std::stoi(r[3]);
            ValueCell a = MONEY(r[1]), b = MONEY(r[2]);
            EXPECT_EQ(cmp(a, CMP_EQUAL, b), want == 0) << r[1] << " = " << r[2];
            EXPECT_EQ(cmp(a, CMP_LESSER, b), want < 0) << r[1] << " < " << r[2];
            EXPECT_EQ(cmp(a, CMP_GREATER_EQUAL, b), want >= 0) << r[1] << " >= " << r[2];
        } else if (r[0] == "fromfloat") {
            double x = std::stod(r[1]);
            if (r[2] == "BAD")
                EXPECT_EQ(error_of([&] { to(TYPE_MONEY, F(x)); }), Err::script_bad_make_arg) << r[1];
            else
                EXPECT_EQ(all(to(TYPE_MONEY, F(x))), r[2]) << r[1];
        } else if (r[0] == "tofloat") {
            double want = std::stod(r[2]);
            EXPECT_EQ(std::bit_cast<u64>(fget(to(TYPE_FLOAT, MONEY(r[1])))),
                      std::bit_cast<u64>(want))
                << r[1];
        } else if (r[0] == "toint") {
            if (r[2] == "LIMIT")
                EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, MONEY(r[1])); }), Err::script_type_limit)
                    << r[1];
            else
                EXPECT_EQ(iget(to(TYPE_INTEGER, MONEY(r[1]))), std::stoi(r[2])) << r[1];
        } else {
            continue;
        }
        rows++;
    }
    EXPECT_GT(rows, 1500);
}

TEST_F(MoneyTest, PackedLayout) {
    ValueCell m = MONEY("-1234.56789");
    const u8* b = reinterpret_cast<const u8*>(&m);
    EXPECT_EQ(b[0], TYPE_MONEY);
    EXPECT_TRUE(m.header & (1u << 14));
    EXPECT_EQ(b[4], 0);
    // Positions 1-17 are the whole part, 18-22 the fraction.
    const u8 want[11] = {0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x67, 0x89};
    for (int i = 0; i < 11; i++) EXPECT_EQ(b[5 + i], want[i]) << i;
    EXPECT_EQ(money_digit(&m, 17), 4u);
    EXPECT_EQ(money_digit(&m, 18), 5u);
    EXPECT_EQ(money_significant_digits(&m), 9);
    u8 raw[11] = {};
    raw[10] = 0x50;
    ValueCell r;
    money_make_raw(&r, false, 0, raw);
    EXPECT_EQ(all(r), "$0.00050");
}

TEST_F(MoneyTest, LiteralDigitsAreLaidOutFromThePoint) {
    const char* text = "12'345'678'901'234'567'890.1234567";
    ValueCell m;
    ASSERT_TRUE(money_make_at(&m, false, nullptr, reinterpret_cast<const u8*>(text),
                              reinterpret_cast<const u8*>(text) + std::strlen(text), 1));
    // The 17 whole digits nearest the point, the first five fraction digits.
    EXPECT_EQ(all(m), "$45678901234567890.12345");
}

TEST_F(MoneyTest, SpecCases) {
    EXPECT_TRUE(cmp(math(MONEY("0.1"), MATH_ADD, MONEY("0.2")), CMP_STRICT_EQUAL, MONEY("0.3")));
    EXPECT_EQ(all(math(MONEY("1"), MATH_DIVIDE, I(3))), "$0.33333");
    EXPECT_EQ(all(math(MONEY("2"), MATH_MULTIPLY, F(0.5))), "$1.00000");
    EXPECT_EQ(math_error(MONEY("99999999999999999"), MATH_ADD, MONEY("1")), Err::script_type_limit);
    EXPECT_EQ(all(math(MONEY("0.00001"), MATH_DIVIDE, I(10))), "$0.00000");
    ValueCell ratio = math(MONEY("10"), MATH_DIVIDE, MONEY("4"));
    EXPECT_EQ(ratio.type(), TYPE_FLOAT);
    EXPECT_DOUBLE_EQ(fget(ratio), 2.5);
    EXPECT_EQ(math_error(I(2), MATH_DIVIDE, MONEY("1")), Err::script_invalid_type);
    EXPECT_EQ(math_error(MONEY("1"), MATH_MULTIPLY, MONEY("1")), Err::script_invalid_type);
    EXPECT_EQ(all(math(I(1), MATH_ADD, MONEY("1"))), "$2.00000");
    EXPECT_EQ(all(math(MONEY("1"), MATH_ADD, F(0.123456))), "$1.12345");
    EXPECT_EQ(all(math(F(0.5), MATH_MULTIPLY, MONEY("3"))), "$1.50000");
    EXPECT_EQ(all(math(MONEY("200"), MATH_MULTIPLY, P(0.5))), "$100.00000");
    EXPECT_EQ(math_error(TM(1), MATH_ADD, MONEY("1")), Err::script_invalid_type);
    EXPECT_EQ(math_error(MONEY("1"), MATH_ADD, str("1")[0]), Err::script_invalid_type);
    EXPECT_EQ(all(math(MONEY("-7"), MATH_REMAINDER, MONEY("2"))), "-$1.00000");
    EXPECT_EQ(math_error(MONEY("1"), MATH_DIVIDE, MONEY("0")), Err::math_zero_divide);
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, F(0.123456)); }), Err::script_bad_make_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, F(1e17)); }), Err::script_bad_make_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, F(kInf)); }), Err::script_bad_make_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, F(kNaN)); }), Err::script_bad_make_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_INTEGER, MONEY("2147483648")); }), Err::script_type_limit);
    EXPECT_EQ(iget(to(TYPE_INTEGER, MONEY("-2147483648"))), -2147483647 - 1);
    EXPECT_EQ(iget(to(TYPE_INTEGER, MONEY("1.99"))), 1);
    EXPECT_EQ(all(to(TYPE_MONEY, I(-2147483647 - 1))), "-$2147483648.00000");
}

TEST_F(MoneyTest, Rounding) {
    struct Case {
        const char* n;
        const char* scale;  // null: no /to
        unsigned flags;
        const char* want;
    } cases[] = {
        {"2.5", nullptr, 0, "$3.00000"},          {"2.5", nullptr, R_EVEN, "$2.00000"},
        {"3.5", nullptr, R_EVEN, "$4.00000"},     {"-2.7", nullptr, R_DOWN, "-$2.00000"},
        {"-2.1", nullptr, R_FLOOR, "-$3.00000"},  {"2.1", nullptr, R_CEILING, "$3.00000"},
        {"-2.5", nullptr, R_HALF_CEILING, "-$2.00000"},
        {"-2.5", nullptr, R_HALF_DOWN, "-$2.00000"},
        {"-2.5", nullptr, 0, "-$3.00000"},        {"3", nullptr, R_CEILING, "$3.00000"},
        {"0", nullptr, R_CEILING, "$0.00000"},    {"1.2345", "0.01", 0, "$1.23000"},
        {"1.125", "0.25", R_EVEN, "$1.00000"},    {"1.375", "0.25", R_EVEN, "$1.50000"},
    };
    for (const Case& c : cases) {
        ValueCell scale = c.scale ? MONEY(c.scale) : ValueCell{};
        ValueCell r = round_call(MONEY(c.n), c.scale ? &scale : nullptr, c.flags);
        EXPECT_EQ(all(r), c.want) << c.n << " " << (c.scale ? c.scale : "") << " " << c.flags;
    }
    ValueCell fscale = F(0.01);
    EXPECT_EQ(all(round_call(MONEY("1.2345"), &fscale, 0)), "$1.23000");
    ValueCell iscale = I(10);
    EXPECT_EQ(all(round_call(MONEY("15"), &iscale, 0)), "$20.00000");
    ValueCell zero = I(0);
    EXPECT_EQ(all(round_call(MONEY("1.5"), &zero, 0)), "$1.50000");
    ValueCell bad = TM(1);
    EXPECT_EQ(error_of([&] { round_call(MONEY("1"), &bad, 0); }), Err::script_not_related);
    ValueCell tiny = F(0.123456);
    EXPECT_EQ(error_of([&] { round_call(MONEY("1"), &tiny, 0); }), Err::script_bad_make_arg);
}

TEST_F(MoneyTest, Currencies) {
    install_system({"CHF", "EUR", "USD"});
    ValueCell usd = MONEY("1", "usd");
    EXPECT_EQ(money_currency_of(&usd), 3u);
    EXPECT_EQ(mold(usd), "USD$1.00");
    ValueCell eur = MONEY("1", "EUR");
    EXPECT_EQ(math_error(usd, MATH_ADD, eur), Err::script_wrong_denom);
    EXPECT_EQ(mold(math(usd, MATH_ADD, MONEY("1"))), "USD$2.00");
    EXPECT_EQ(mold(math(MONEY("1"), MATH_ADD, usd)), "USD$2.00");
    ValueCell c;
    const char* digits = "5";
    EXPECT_FALSE(money_make_at(&c, false, &static_cast<const ValueCell&>(word("XYZ")),
                               reinterpret_cast<const u8*>(digits),
                               reinterpret_cast<const u8*>(digits) + 1, 1));
    // Fields.
    EXPECT_EQ(mold(pick(usd, W("code"))), "USD");
    EXPECT_EQ(pick(usd, I(1)).type(), TYPE_WORD);
    EXPECT_EQ(pick(MONEY("1"), W("code")).type(), TYPE_NONE);
    EXPECT_EQ(mold(path_get(usd, W("amount"))), "$1.00");
    EXPECT_EQ(error_of([&] { pick(usd, I(3)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { path_get(usd, W("cents")); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path_set(usd, W("amount"), MONEY("2")); }), Err::script_bad_path_set);
    // Comparison: equal only with the same or without a currency.
    EXPECT_TRUE(cmp(usd, CMP_EQUAL, MONEY("1")));
    EXPECT_FALSE(cmp(usd, CMP_STRICT_EQUAL, MONEY("1")));
    EXPECT_FALSE(cmp(usd, CMP_EQUAL, eur));
    EXPECT_EQ(error_of([&] { cmp(usd, CMP_LESSER, eur); }), Err::script_wrong_denom);
    EXPECT_TRUE(cmp(usd, CMP_LESSER, MONEY("2")));
    EXPECT_EQ(cmp_raw(MONEY("5"), CMP_SORT, usd), -1);  // no currency first
    EXPECT_EQ(cmp_raw(eur, CMP_SORT, usd), -1);
    EXPECT_EQ(cmp_raw(usd, CMP_FIND, MONEY("1")), 0);
    EXPECT_EQ(cmp_raw(MONEY("1"), CMP_FIND, usd), 1);
}

TEST_F(MoneyTest, MakeAndTo) {
    install_system({"EUR", "USD"});
    EXPECT_EQ(mold(make(TYPE_MONEY, word("USD"))), "USD$0.00");
    EXPECT_EQ(mold(make(TYPE_MONEY, *blk({word("USD"), I(12), I(50000)}))), "USD$12.50");
    EXPECT_EQ(all(make(TYPE_MONEY, *blk({I(-12), I(50000)}))), "-$12.50000");
    EXPECT_EQ(all(make(TYPE_MONEY, *blk({F(1.5)}))), "$1.50000");
    EXPECT_EQ(all(make(TYPE_MONEY, I(7))), "$7.00000");
    ValueCell bad[] = {
        *blk({word("USD")}),  *blk({F(1.5), I(2)}),   *blk({I(1), I(100000)}),
        *blk({}),             *blk({I(1), I(2), I(3), I(4)}), *blk({word("XYZ"), I(1)}),
        *blk({str("1")[0]}),  word("XYZ"),
    };
    for (const ValueCell& b : bad)
        EXPECT_EQ(error_of([&] { make(TYPE_MONEY, b); }), Err::script_bad_make_arg) << mold(b);
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, NONE()); }), Err::script_bad_to_arg);
    scan_as(MONEY("3.5"));
    EXPECT_EQ(all(to(TYPE_MONEY, empty_text())), "$3.50000");
    scan_as(I(3));
    EXPECT_EQ(error_of([&] { to(TYPE_MONEY, empty_text()); }), Err::script_bad_to_arg);
}

TEST_F(MoneyTest, TextForms) {
    install_system({"USD"});
    ValueCell m = MONEY("1234567.891", "USD");
    EXPECT_EQ(form(m), "USD$1'234'567.89");
    EXPECT_EQ(mold(m), "USD$1234567.89");
    EXPECT_EQ(mold(m, false, true), "USD$1234567.89100");
    EXPECT_EQ(form(MONEY("-0.5")), "-$0.50");
    EXPECT_EQ(form(MONEY("-0")), "$0.00");
    EXPECT_EQ(form(MONEY("123")), "$123.00");
    EXPECT_EQ(form(MONEY("1234")), "$1'234.00");
    EXPECT_EQ(form(MONEY("99999999999999999.99999")), "$99'999'999'999'999'999.99");
    install_system({"USD"}, {}, 0);
    EXPECT_EQ(form(MONEY("12.75")), "$12");
    install_system({"USD"}, {}, 4);
    EXPECT_EQ(form(MONEY("12.75")), "$12.7500");
    install_system({"USD"}, {}, 9);
    EXPECT_EQ(form(MONEY("12.75")), "$12.75000");
}

TEST_F(MoneyTest, UnaryActionsAndSigns) {
    EXPECT_EQ(all(NEG(MONEY("5"))), "-$5.00000");
    EXPECT_EQ(all(ABS(MONEY("-5"))), "$5.00000");
    ValueCell zero = NEG(MONEY("0"));
    EXPECT_TRUE(money_sign_q(&zero));  // the sign bit flips on zero too
    EXPECT_EQ(money_sign(&zero), 0);
    EXPECT_TRUE(money_zero_q(&zero));
    ValueCell neg = MONEY("-0.00001");
    EXPECT_EQ(money_sign(&neg), -1);
    ValueCell four = MONEY("4.9"), three = MONEY("13");
    EXPECT_TRUE(action_even_q_dispatch(&four));
    EXPECT_TRUE(action_odd_q_dispatch(&three));
    EXPECT_TRUE(cmp(MONEY("2"), CMP_EQUAL, I(2)));
    EXPECT_TRUE(cmp(MONEY("2.5"), CMP_GREATER, F(2.25)));
    EXPECT_TRUE(cmp(MONEY("-2"), CMP_LESSER, MONEY("1")));
    EXPECT_TRUE(cmp(MONEY("-3"), CMP_LESSER, MONEY("-2")));
    EXPECT_TRUE(cmp(MONEY("0"), CMP_EQUAL, NEG(MONEY("0"))));
    EXPECT_TRUE(cmp(I(2), CMP_EQUAL, MONEY("2")));
    EXPECT_EQ(cmp_raw(MONEY("1"), CMP_EQUAL, str("1")[0]), CMP_NOT_COMPARABLE);
}

TEST_F(MoneyTest, FloatsThatMoneyCannotHoldAreOrderedByValue) {
    // Neither an error nor an order that ignores the signs.
    EXPECT_TRUE(cmp(MONEY("1"), CMP_GREATER, F(-1e20)));
    EXPECT_TRUE(cmp(MONEY("1"), CMP_LESSER, F(1e20)));
    EXPECT_TRUE(cmp(MONEY("0"), CMP_GREATER, F(-1e-9)));
    EXPECT_TRUE(cmp(MONEY("1"), CMP_GREATER, F(0.123456)));
    EXPECT_FALSE(cmp(MONEY("0.12345"), CMP_EQUAL, F(0.123456)));
    EXPECT_TRUE(cmp(MONEY("0.12345"), CMP_LESSER, F(0.123456)));
    EXPECT_EQ(cmp_raw(MONEY("1"), CMP_LESSER, F(kNaN)), 1);
}

TEST_F(MoneyTest, Random) {
    install_random();
    ValueCell m = MONEY("100");
    for (int i = 0; i < 50; i++) {
        ValueCell r = call({m}, [] { action_random(-1, -1, -1); });
        EXPECT_EQ(r.type(), TYPE_MONEY);
        EXPECT_TRUE(cmp(r, CMP_LESSER_EQUAL, m)) << all(r);
        EXPECT_TRUE(cmp(r, CMP_GREATER_EQUAL, MONEY("0"))) << all(r);
    }
    ValueCell s = call({m}, [] { action_random(0, -1, -1); });
    EXPECT_EQ(s.type(), TYPE_UNSET);
}

}  // namespace
}  // namespace zan::test

namespace zan::test {
namespace {

// Currency look-ups and month names read the system object while symbols
// are interned: under a collector that runs before every allocation the
// values must still come out right.
class ScalarGcStressTest : public ScalarTest {
protected:
    void SetUp() override {
        ScalarTest::SetUp();
        install_system({"CHF", "EUR", "USD"},
                       {"January", "February", "March", "April", "May", "June", "July",
                        "August", "September", "October", "November", "December"});
        g_gc.enabled = true;
        set_collect_stress(true);
    }
    void TearDown() override {
        set_collect_stress(false);
        ScalarTest::TearDown();
    }
};

TEST_F(ScalarGcStressTest, CurrenciesAndMonthNamesSurviveCollections) {
    u32 before = g_gc.series_cycles;
    ValueCell m = make(TYPE_MONEY, *blk({word("eur"), I(12), I(50000)}));
    EXPECT_EQ(mold(m), "EUR$12.50");
    EXPECT_EQ(form(math(m, MATH_MULTIPLY, I(1000))), "EUR$12'500.00");
    EXPECT_EQ(mold(pick(m, W("code"))), "EUR");
    EXPECT_EQ(mold(DTM(2024, 8, 9, 7, 5, 3, -150)), "9-Aug-2024/7:05:03-02:30");
    EXPECT_GT(g_gc.series_cycles, before);
}

}  // namespace
}  // namespace zan::test

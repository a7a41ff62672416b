// char!: code-point arithmetic, conversions, comparison, the text forms with
// their caret escapes, and the actions taken from integer!.
#include "number_test_support.h"

namespace zan::test {
namespace {

class CharTest : public NumberTest {};

TEST_F(CharTest, ArithmeticKeepsACodePoint) {
    struct Case {
        u32 cp;
        i32 op;
        ValueCell b;
        u32 expected;
    } const cases[] = {
        {'a', MATH_ADD, I(1), 'b'},
        {'b', MATH_SUBTRACT, I(1), 'a'},
        {'d', MATH_DIVIDE, I(2), '2'},       // 100 / 2 = 50, truncated
        {'e', MATH_DIVIDE, I(2), '2'},       // 101 / 2 truncates too
        {'a', MATH_ADD, F(1.9), 'b'},        // the float is truncated first
        {'a', MATH_ADD, C(1), 'b'},
        {'a', MATH_MULTIPLY, I(2), 194},
        {'a', MATH_REMAINDER, I(10), 7},
        {'a', MATH_AND, I(0xDF), 'A'},
        {'A', MATH_OR, I(0x20), 'a'},
        {'a', MATH_XOR, C(0x20), 'A'},
        {0x10FFFE, MATH_ADD, I(1), 0x10FFFF},
        {'a', MATH_SUBTRACT, I(97), 0},
    };
    for (const Case& c : cases) {
        ValueCell r = math(C(c.cp), c.op, c.b);
        SCOPED_TRACE(testing::Message() << c.cp << " op " << c.op);
        ASSERT_EQ(r.type(), TYPE_CHAR);
        EXPECT_EQ(char_get(&r), c.expected);
    }
}

TEST_F(CharTest, ArithmeticErrors) {
    struct Case {
        u32 cp;
        i32 op;
        ValueCell b;
        Err err;
    } const cases[] = {
        {'a', MATH_SUBTRACT, I(98), Err::math_overflow},
        {0x10FFFF, MATH_ADD, I(1), Err::math_overflow},
        {'a', MATH_MULTIPLY, I(100000), Err::math_overflow},
        {'a', MATH_MULTIPLY, I(2147483647), Err::math_overflow},   // 32-bit overflow
        {'a', MATH_ADD, F(1e10), Err::math_overflow},
        {'a', MATH_ADD, F(kNaN), Err::math_overflow},
        {'a', MATH_DIVIDE, I(0), Err::math_zero_divide},
        {'a', MATH_REMAINDER, C(0), Err::math_zero_divide},
        {'a', MATH_ADD, P(0.5), Err::script_invalid_type},
        {'a', MATH_ADD, NONE(), Err::script_invalid_type},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cp << " op " << c.op);
        EXPECT_EQ(math_error(C(c.cp), c.op, c.b), c.err);
    }
}

TEST_F(CharTest, MakeAndTo) {
    struct Case {
        ValueCell spec;
        u32 expected;
    } const cases[] = {
        {I(65), 'A'},    {C('z'), 'z'},     {F(65.7), 'A'}, {P(66.2), 'B'},
        {I(0), 0},       {I(0x10FFFF), 0x10FFFF},
    };
    for (const Case& c : cases) {
        ValueCell r = to(TYPE_CHAR, c.spec);
        ASSERT_EQ(r.type(), TYPE_CHAR);
        EXPECT_EQ(char_get(&r), c.expected);
        EXPECT_EQ(cget((make(TYPE_CHAR, c.spec))), c.expected);
    }
    EXPECT_EQ(cget((to(TYPE_CHAR, *str("abc")))), u32('a'));
    EXPECT_EQ(cget((to(TYPE_CHAR, *str("\xE2\x82\xAC")))), 0x20ACu);
    ValueCell* s = str("abc");
    s->data1 = 1;
    EXPECT_EQ(cget((to(TYPE_CHAR, *s))), u32('b'));
    EXPECT_EQ(cget((to(TYPE_CHAR, *bin({0xE2, 0x82, 0xAC})))), 0x20ACu);
    EXPECT_EQ(cget((to(TYPE_CHAR, *bin({'A', 'B'})))), u32('A'));

    struct Bad {
        ValueCell spec;
        Err err;
    } const bad[] = {
        {I(1114112), Err::script_out_of_range}, {I(-1), Err::script_out_of_range},
        {F(-0.5), Err::script_out_of_range},    {F(1114112.0), Err::script_out_of_range},
        {F(kNaN), Err::script_out_of_range},    {NONE(), Err::script_bad_to_arg},
        {g_true_cell, Err::script_bad_to_arg},
    };
    for (const Bad& b : bad) EXPECT_EQ(error_of([&] { to(TYPE_CHAR, b.spec); }), b.err);
    EXPECT_EQ(error_of([&] { to(TYPE_CHAR, *str("")); }), Err::script_bad_to_arg);
    ValueCell* tail = str("ab");
    tail->data1 = 2;
    EXPECT_EQ(error_of([&] { to(TYPE_CHAR, *tail); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_CHAR, *bin({})); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { to(TYPE_CHAR, *bin({0xFF})); }), Err::script_bad_to_arg);
}

TEST_F(CharTest, Compare) {
    EXPECT_TRUE(cmp(C('a'), CMP_EQUAL, I(97)));
    EXPECT_FALSE(cmp(C('a'), CMP_STRICT_EQUAL, I(97)));
    EXPECT_FALSE(cmp(C('a'), CMP_SAME, I(97)));
    EXPECT_FALSE(cmp(C('a'), CMP_FIND, I(97)));
    EXPECT_TRUE(cmp(C('a'), CMP_STRICT_EQUAL, C('a')));
    EXPECT_FALSE(cmp(C('a'), CMP_EQUAL, C('A')));     // code points, no case folding
    EXPECT_TRUE(cmp(C('a'), CMP_LESSER, C('b')));
    EXPECT_TRUE(cmp(C('b'), CMP_GREATER_EQUAL, I(98)));
    EXPECT_FALSE(cmp(C('a'), CMP_EQUAL, F(97.0)));    // not comparable
    EXPECT_EQ(cmp_raw(C('a'), CMP_EQUAL, F(97.0)), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp_raw(C('a'), CMP_SORT, C('b')), -1);
    EXPECT_EQ(error_of([] { cmp(C('a'), CMP_LESSER, NONE()); }), Err::script_invalid_compare);
}

TEST_F(CharTest, FormAndMoldWithEscapes) {
    struct Case {
        u32 cp;
        const char* molded;
    } const cases[] = {
        {'a', "#\"a\""},       {'\n', "#\"^/\""},     {'\t', "#\"^-\""},
        {0, "#\"^@\""},        {27, "#\"^[\""},       {'"', "#\"^\"\""},
        {'^', "#\"^^\""},      {30, "#\"^(1E)\""},    {127, "#\"^~\""},
        {0x80, "#\"^(80)\""},  {0xE9, "#\"\xC3\xA9\""}, {0x20AC, "#\"\xE2\x82\xAC\""},
        {' ', "#\" \""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(C(c.cp)), c.molded) << c.cp;
    EXPECT_EQ(mold(C(0xE9), false, true), "#\"^(E9)\"");
    EXPECT_EQ(form(C('a')), "a");
    EXPECT_EQ(form(C(0x20AC)), "\xE2\x82\xAC");
    EXPECT_EQ(form(C('\n')), "\n");

    ValueCell v = C('\n');
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(char_mold(&v, out, false, false, false, nullptr, 10, 0), 6);
    EXPECT_EQ(char_form(&v, out, nullptr, 10), 9);
}

TEST_F(CharTest, ActionsTakenFromIntegerKeepTheCharHeader) {
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_ABSOLUTE), action_entry(TYPE_INTEGER, ACT_ABSOLUTE));
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_NEGATE), nullptr);
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_ROUND), nullptr);
    ValueCell a = call({C('a')}, action_absolute);
    EXPECT_EQ(a.type(), TYPE_CHAR);
    EXPECT_EQ(char_get(&a), u32('a'));
    EXPECT_TRUE(lget(call({C('b')}, action_even_q)));
    EXPECT_TRUE(lget(call({C('a')}, action_odd_q)));
    g_services.random_int = [](i32 n, bool) -> i32 { return n - 1; };
    ValueCell r = call({C('b')}, [] { action_random(-1, -1, -1); });
    EXPECT_EQ(r.type(), TYPE_CHAR);
    EXPECT_EQ(char_get(&r), u32('a'));
    g_services.random_int = nullptr;
}

}  // namespace
}  // namespace zan::test

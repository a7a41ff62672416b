// Fast operators: the inline integer, float and block paths, the generic
// fallback through the action entries, and the stack discipline of each
// entry point.
#include "number_test_support.h"

namespace zan::test {
namespace {

class FastOpsTest : public NumberTest {
protected:
    // Checks that an entry leaves exactly `pushed` new cells and no frame.
    struct Balance {
        ValueCell* top = g_stack.top;
        CallFrame* ctop = g_stack.ctop;
        ValueCell* base = g_stack.base;
        void expect(i32 pushed) const {
            EXPECT_EQ(g_stack.top - top, pushed);
            EXPECT_EQ(g_stack.ctop, ctop);
            EXPECT_EQ(g_stack.base, base);
        }
    };
};

void expect_number(const ValueCell& r, const ValueCell& expected) {
    ASSERT_EQ(r.type(), expected.type());
    if (r.type() == TYPE_INTEGER) EXPECT_EQ(iget(r), iget(expected));
    else EXPECT_EQ(fget(r), fget(expected));
}

TEST_F(FastOpsTest, MathInlineAndGeneric) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        ValueCell expected;
    } const cases[] = {
        {I(2147483647), MATH_ADD, I(1), F(2147483648.0)},
        {I(-2147483647 - 1), MATH_SUBTRACT, I(1), F(-2147483649.0)},
        {I(65536), MATH_MULTIPLY, I(65536), F(4294967296.0)},
        {I(2), MATH_MULTIPLY, I(3), I(6)},
        {I(6), MATH_AND, I(3), I(2)},
        {I(6), MATH_OR, I(3), I(7)},
        {I(6), MATH_XOR, I(3), I(5)},
        {F(1.5), MATH_ADD, F(1.5), F(3.0)},
        {F(1e308), MATH_MULTIPLY, F(10.0), F(kInf)},
        {I(1), MATH_ADD, F(1.5), F(2.5)},
        {F(1.5), MATH_SUBTRACT, I(1), F(0.5)},
        {P(0.5), MATH_ADD, P(0.25), P(0.75)},      // generic path
        {C('a'), MATH_ADD, I(1), C('b')},          // generic path
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op);
        Balance bal;
        ValueCell* r = fastop_math(c.op, g_words.n.add, &c.a, &c.b);
        bal.expect(1);
        EXPECT_EQ(r, g_stack.top - 1);
        if (c.expected.type() == TYPE_CHAR) EXPECT_EQ(cget(*r), cget(c.expected));
        else expect_number(*r, c.expected);
        stack_pop(1);
    }
    Balance bal;
    ValueCell left = I(40);
    expect_number(*fastop_math_int(MATH_ADD, nullptr, &left, 2), I(42));
    bal.expect(1);
}

TEST_F(FastOpsTest, MathOnTheTopCell) {
    ValueCell seven = I(7);
    ValueCell* top = stack_push(&seven);
    Balance bal;
    ValueCell three = I(3);
    EXPECT_EQ(fastop_math_top(MATH_SUBTRACT, nullptr, &three), top);
    expect_number(*top, I(4));
    EXPECT_EQ(fastop_math_top_int(MATH_MULTIPLY, nullptr, 2147483647), top);
    expect_number(*top, F(4.0 * 2147483647.0));
    // A float and an integer: the result replaces the left cell, nothing else stays.
    EXPECT_EQ(fastop_math_top_int(MATH_ADD, nullptr, 1), top);
    expect_number(*top, F(4.0 * 2147483647.0 + 1.0));
    bal.expect(0);
}

TEST_F(FastOpsTest, GenericPathErrorsComeFromTheAction) {
    ValueCell a = I(1);
    ValueCell s = NONE();
    EXPECT_EQ(error_of([&] { fastop_math(MATH_ADD, g_words.n.add, &a, &s); }),
              Err::script_invalid_type);
    ValueCell f = F(1.5);
    EXPECT_EQ(error_of([&] { fastop_math(MATH_AND, nullptr, &a, &f); }), Err::script_cannot_use);
    EXPECT_EQ(error_of([&] { fastop_math_int(MATH_AND, nullptr, &f, 1); }),
              Err::script_expect_arg);
}

TEST_F(FastOpsTest, CompareEntries) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        bool expected;
    } const cases[] = {
        {I(1), CMP_NOT_EQUAL, I(2), true},  {I(1), CMP_EQUAL, I(2), false},
        {I(2), CMP_STRICT_EQUAL, I(2), true}, {I(1), CMP_LESSER, I(2), true},
        {I(2), CMP_LESSER_EQUAL, I(2), true}, {I(3), CMP_GREATER, I(2), true},
        {I(1), CMP_GREATER_EQUAL, I(2), false},
        {I(1), CMP_EQUAL, F(1.0), true},     // generic
        {F(0.1 + 0.2), CMP_EQUAL, F(0.3), true},
        {I(1), CMP_STRICT_EQUAL, F(1.0), false},
        {I(1), CMP_EQUAL, NONE(), false},
        {I(1), CMP_NOT_EQUAL, NONE(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << " type " << c.b.type());
        {
            Balance bal;
            ValueCell* r = fastop_compare(c.op, nullptr, &c.a, &c.b);
            bal.expect(1);
            EXPECT_EQ(r->type(), TYPE_LOGIC);
            EXPECT_EQ(lget(*r), c.expected);
            stack_pop(1);
        }
        {
            Balance bal;
            stack_result()->header = TYPE_NONE;
            EXPECT_EQ(fastop_compare_result(c.op, nullptr, &c.a, &c.b), c.expected ? 1 : 0);
            EXPECT_EQ(stack_result()->type(), TYPE_LOGIC);
            EXPECT_EQ(lget(*stack_result()), c.expected);
            bal.expect(0);
        }
        {
            Balance bal;
            EXPECT_EQ(fastop_compare_differs(c.op, nullptr, &c.a, &c.b, c.expected ? 1 : 0), 0);
            EXPECT_EQ(fastop_compare_differs(c.op, nullptr, &c.a, &c.b, c.expected ? 0 : 1), 1);
            bal.expect(0);
        }
        {
            ValueCell* top = stack_push(&c.a);
            Balance bal;
            EXPECT_EQ(fastop_compare_top(c.op, nullptr, &c.b), top);
            EXPECT_EQ(lget(*top), c.expected);
            bal.expect(0);
            stack_pop(1);
        }
    }
    ValueCell five = I(5);
    EXPECT_TRUE(lget(*fastop_compare_int(CMP_GREATER, nullptr, &five, 4)));
    EXPECT_EQ(fastop_compare_int_result(CMP_LESSER, nullptr, &five, 4), 0);
    EXPECT_EQ(fastop_compare_int_differs(CMP_EQUAL, nullptr, &five, 5, 1), 0);
    ValueCell* top = stack_push(&five);
    EXPECT_TRUE(lget(*fastop_compare_top_int(CMP_LESSER_EQUAL, nullptr, 5)));
    EXPECT_EQ(top->type(), TYPE_LOGIC);
}

TEST_F(FastOpsTest, IntegerAgainstStringComparesWithoutErrorForEquality) {
    ValueCell a = I(1);
    ValueCell* s = str("1");
    Balance bal;
    // equal is false: "differs from expected true" answers 1.
    EXPECT_EQ(fastop_compare_differs(CMP_EQUAL, nullptr, &a, s, 1), 1);
    bal.expect(0);
    EXPECT_EQ(error_of([&] { fastop_compare_differs(CMP_LESSER, nullptr, &a, s, 1); }),
              Err::script_invalid_compare);
}

TEST_F(FastOpsTest, PathPickOnBlocks) {
    ValueCell* b = blk({I(10), I(20), I(30)});
    struct Case {
        i32 n;
        i32 expected;  // 0: none
    } const cases[] = {{0, 0}, {1, 10}, {3, 30}, {4, 0}, {-1, 0}};
    for (const Case& c : cases) {
        Balance bal;
        ValueCell* r = fastop_path_pick(b, c.n, nullptr);
        bal.expect(1);
        if (c.expected) expect_number(*r, I(c.expected));
        else EXPECT_EQ(r->type(), TYPE_NONE);
        stack_pop(1);
    }
    ValueCell at = *b;
    at.data1 = 1;
    expect_number(*fastop_path_pick(&at, 1, nullptr), I(20));
    EXPECT_EQ(fastop_path_pick(&at, 3, nullptr)->type(), TYPE_NONE);
    at.data1 = 9;   // past the tail
    EXPECT_EQ(fastop_path_pick(&at, 1, nullptr)->type(), TYPE_NONE);
    // Other types go through eval-path; integer! has none.
    ValueCell n = I(5);
    EXPECT_EQ(error_of([&] { fastop_path_pick(&n, 1, nullptr); }), Err::script_bad_path_type2);
}

TEST_F(FastOpsTest, SeriesNavigationOnBlocks) {
    ValueCell* b = blk({I(1), I(2), I(3)});
    auto nav = [&](i32 op, i32 index) {
        ValueCell v = *b;
        v.data1 = static_cast<u32>(index);
        ValueCell r = *fastop_series_nav(op, &v, nullptr);
        stack_pop(1);
        return r;
    };
    EXPECT_EQ(iget(nav(NAV_LENGTH_Q, 0)), 3);
    EXPECT_EQ(iget(nav(NAV_LENGTH_Q, 2)), 1);
    EXPECT_EQ(iget(nav(NAV_LENGTH_Q, 5)), 0);
    EXPECT_EQ(iget(nav(NAV_INDEX_Q, 2)), 3);
    EXPECT_TRUE(lget(nav(NAV_HEAD_Q, 0)));
    EXPECT_FALSE(lget(nav(NAV_HEAD_Q, 1)));
    EXPECT_TRUE(lget(nav(NAV_TAIL_Q, 3)));
    EXPECT_FALSE(lget(nav(NAV_TAIL_Q, 2)));
    EXPECT_EQ(nav(NAV_NEXT, 1).data1, 2u);
    EXPECT_EQ(nav(NAV_NEXT, 3).data1, 3u);   // stays at the tail
    EXPECT_EQ(nav(NAV_BACK, 2).data1, 1u);
    EXPECT_EQ(nav(NAV_BACK, 0).data1, 0u);   // stays at the head
    EXPECT_EQ(nav(NAV_HEAD, 2).data1, 0u);
    EXPECT_EQ(nav(NAV_TAIL, 1).data1, 3u);
    EXPECT_EQ(nav(NAV_TAIL, 1).type(), TYPE_BLOCK);
}

TEST_F(FastOpsTest, NavigationOfOtherTypesRunsTheActions) {
    ValueCell* s = str("abcd");
    Balance bal;
    ValueCell* r = fastop_series_nav(NAV_LENGTH_Q, s, nullptr);
    bal.expect(1);
    expect_number(*r, I(4));
    ValueCell* next = fastop_series_nav(NAV_NEXT, s, nullptr);
    EXPECT_EQ(next->type(), TYPE_STRING);
    EXPECT_EQ(next->data1, 1u);
    ValueCell n = I(5);
    EXPECT_EQ(error_of([&] { fastop_series_nav(NAV_HEAD, &n, nullptr); }),
              Err::script_expect_arg);
}

using FastOpsDeathTest = FastOpsTest;

TEST_F(FastOpsDeathTest, UnknownOpCodesEndTheProcess) {
    ValueCell a = I(1);
    EXPECT_EXIT(fastop_math(MATH_DIVIDE, nullptr, &a, &a), testing::ExitedWithCode(101),
                "Runtime Error 101");
    EXPECT_EXIT(fastop_compare(CMP_SORT, nullptr, &a, &a), testing::ExitedWithCode(101),
                "Runtime Error 101");
    EXPECT_EXIT(fastop_series_nav(9, &a, nullptr), testing::ExitedWithCode(101),
                "Runtime Error 101");
}

}  // namespace
}  // namespace zan::test

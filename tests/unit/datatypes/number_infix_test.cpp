// The inline number operations the evaluator's operator step uses, checked
// against the actions they stand in for: over a grid of integer! and float!
// operands (limits, signed zeros, NaN, infinities, values that are
// approximately but not exactly equal) each operation either gives the
// action's result cell bit for bit or declines, and it declines whenever
// the action raises an error.
#include <sstream>
#include <string>
#include <vector>

#include "number_test_support.h"
#include "runtime/typesystem/number_infix.h"

namespace zan::test {
namespace {

class NumberInfixTest : public NumberTest {
protected:
    // The action's result of a op b into *out; false when it raised an error.
    static bool action_result(const ValueCell& a, i32 op, const ValueCell& b, ValueCell* out) {
        StackMark mark;
        stack_mark_try(nullptr);
        try {
            *out = math(a, op, b);
        } catch (const ThrowSignal& s) {
            mark.restore();
            cycles_reset();
            EXPECT_EQ(s.code, THROW_ERROR);
            return false;
        }
        mark.restore();
        return true;
    }
};

// A cell with the new-line flag set, as a value read from the start of a
// line of a block carries it.
ValueCell on_new_line(ValueCell c) {
    c.header |= CELL_NEW_LINE;
    return c;
}

std::vector<ValueCell> operand_grid() {
    const double eps = 2.220446049250313e-16;
    return {
        I(0), I(1), I(-1), I(3), I(7), I(-7), I(65536), I(2147483647), I(-2147483647 - 1),
        F(0.0), F(-0.0), F(1.0), F(3.0), F(0.1), F(0.2), F(0.30000000000000004), F(0.3),
        F(1.0 + 8 * eps), F(1.0 + 64 * eps), F(2147483648.0), F(1e308), F(-1e308), F(5e-324),
        F(kNaN), F(kInf), F(-kInf), on_new_line(I(6)), on_new_line(F(6.0)),
    };
}

bool same_cell(const ValueCell& x, const ValueCell& y) {
    return x.header == y.header && x.data1 == y.data1 && x.data2 == y.data2 &&
           x.data3 == y.data3;
}
// The same but for the new-line flag: the operator step has always given
// integer results a fresh cell where the integer action keeps the left
// operand's flag (KnownAnswers pins the flag where it matters).
bool same_value(const ValueCell& x, const ValueCell& y) {
    ValueCell a = x, b = y;
    a.header &= ~CELL_NEW_LINE;
    b.header &= ~CELL_NEW_LINE;
    return same_cell(a, b);
}

std::string show(const ValueCell& c) {
    std::ostringstream s;
    s << "type " << c.type() << " header " << std::hex << c.header << " data " << c.data1 << ' '
      << c.data2 << ' ' << c.data3;
    if (c.type() == TYPE_FLOAT) s << " (" << c.get_float() << ')';
    if (c.type() == TYPE_INTEGER) s << " (" << std::dec << integer_get(&c) << ')';
    return s.str();
}

TEST_F(NumberInfixTest, ArithmeticMatchesTheActionsOrDeclines) {
    const i32 ops[] = {MATH_ADD, MATH_SUBTRACT, MATH_MULTIPLY, MATH_DIVIDE,
                       MATH_REMAINDER, MATH_OR, MATH_AND, MATH_XOR};
    std::vector<ValueCell> grid = operand_grid();
    for (i32 op : ops)
        for (const ValueCell& a : grid)
            for (const ValueCell& b : grid) {
                SCOPED_TRACE(testing::Message() << "op " << op << ": " << show(a) << " with "
                                                << show(b));
                ValueCell expected;
                bool ok = action_result(a, op, b, &expected);
                ValueCell left = a;
                bool inline_done = number_math_inline(op, &left, &b);
                if (!inline_done) {
                    EXPECT_TRUE(same_cell(left, a)) << "changed when declining: " << show(left);
                    // The four arithmetic operations on numbers decline only
                    // where the action raises its error.
                    if (op <= MATH_DIVIDE) {
                        EXPECT_FALSE(ok);
                    }
                    continue;
                }
                ASSERT_TRUE(ok) << "answered where the action raises an error";
                EXPECT_TRUE(same_value(left, expected))
                    << "inline " << show(left) << ", action " << show(expected);
            }
}

TEST_F(NumberInfixTest, ComparisonsMatchTheComparisonProtocol) {
    const i32 ops[] = {CMP_EQUAL, CMP_NOT_EQUAL, CMP_STRICT_EQUAL, CMP_LESSER,
                       CMP_LESSER_EQUAL, CMP_GREATER, CMP_GREATER_EQUAL};
    std::vector<ValueCell> grid = operand_grid();
    for (i32 op : ops)
        for (const ValueCell& a : grid)
            for (const ValueCell& b : grid) {
                SCOPED_TRACE(testing::Message() << "compare " << op << ": " << show(a)
                                                << " with " << show(b));
                ValueCell left = a;
                ASSERT_TRUE(number_compare_inline(op, &left, &b));
                ValueCell expected;
                logic_box(&expected, cmp(a, op, b));
                EXPECT_TRUE(same_cell(left, expected)) << "inline " << show(left);
            }
}

// A few answers spelled out, so that an action and the inline form that
// went wrong together would still be caught.
TEST_F(NumberInfixTest, KnownAnswers) {
    struct Case {
        ValueCell a;
        i32 op;
        ValueCell b;
        ValueCell expected;
    } const cases[] = {
        {I(1), MATH_DIVIDE, I(3), F(1.0 / 3.0)},
        {I(6), MATH_DIVIDE, I(3), I(2)},
        // An exact divide keeps the left cell, as the action does; a float
        // result is a fresh cell.
        {on_new_line(I(6)), MATH_DIVIDE, I(3), on_new_line(I(2))},
        {on_new_line(I(6)), MATH_DIVIDE, I(4), F(1.5)},
        {on_new_line(F(6.0)), MATH_DIVIDE, I(3), F(2.0)},
        {F(1.0), MATH_DIVIDE, I(0), F(kInf)},
        {I(2147483647), MATH_ADD, I(1), F(2147483648.0)},
        {I(1), MATH_ADD, F(0.5), F(1.5)},
        {F(0.5), MATH_MULTIPLY, I(-4), F(-2.0)},
        {I(-2147483647 - 1), MATH_SUBTRACT, F(1.0), F(-2147483649.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << ": " << show(c.a));
        ValueCell left = c.a;
        ASSERT_TRUE(number_math_inline(c.op, &left, &c.b));
        EXPECT_TRUE(same_cell(left, c.expected)) << show(left);
    }
    struct CmpCase {
        ValueCell a;
        i32 op;
        ValueCell b;
        bool expected;
    } const compares[] = {
        {F(0.1 + 0.2), CMP_EQUAL, F(0.3), true},
        {F(0.1 + 0.2), CMP_STRICT_EQUAL, F(0.3), false},
        {I(1), CMP_EQUAL, F(1.0), true},
        {I(1), CMP_STRICT_EQUAL, F(1.0), false},
        {F(kNaN), CMP_EQUAL, F(kNaN), false},
        {F(kNaN), CMP_NOT_EQUAL, F(kNaN), true},
        {F(kNaN), CMP_GREATER_EQUAL, I(0), false},
        {F(-0.0), CMP_LESSER, F(0.0), false},
        {I(2), CMP_GREATER, F(1.5), true},
    };
    for (const CmpCase& c : compares) {
        SCOPED_TRACE(testing::Message() << "compare " << c.op << ": " << show(c.a));
        ValueCell left = c.a;
        ASSERT_TRUE(number_compare_inline(c.op, &left, &c.b));
        ASSERT_EQ(left.type(), TYPE_LOGIC);
        EXPECT_EQ(lget(left), c.expected);
    }
}

// Every other datatype on either side is left to the action, unchanged.
TEST_F(NumberInfixTest, OtherDatatypesDecline) {
    const ValueCell others[] = {P(0.5), T(60.0), M(1.5), C('a'), NONE()};
    const ValueCell numbers[] = {I(2), F(2.0)};
    for (const ValueCell& o : others)
        for (const ValueCell& n : numbers) {
            SCOPED_TRACE(show(o) + " / " + show(n));
            for (i32 op = MATH_ADD; op <= MATH_XOR; op++) {
                ValueCell left = o;
                EXPECT_FALSE(number_math_inline(op, &left, &n));
                EXPECT_TRUE(same_cell(left, o));
                left = n;
                EXPECT_FALSE(number_math_inline(op, &left, &o));
                EXPECT_TRUE(same_cell(left, n));
            }
            for (i32 op = CMP_EQUAL; op <= CMP_GREATER_EQUAL; op++) {
                ValueCell left = o;
                EXPECT_FALSE(number_compare_inline(op, &left, &n));
                EXPECT_TRUE(same_cell(left, o));
            }
        }
}

}  // namespace
}  // namespace zan::test

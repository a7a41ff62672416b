#include <cstdlib>
#include <string>
#include <utility>

#include "test_support.h"

namespace zan {
namespace {

using StackTest = test::RuntimeTest;

ValueCell word(u32 sym) { return ValueCell{TYPE_WORD, 0, sym, 0}; }
ValueCell integer(i32 v) { return ValueCell{TYPE_INTEGER, 0, static_cast<u32>(v), 0}; }

// An overflow raises its error past the limit: every cell and frame below
// the top keeps what it held (the calls being unwound still read them), and
// the reserve is closed again once the raise has left.
TEST_F(StackTest, LastCellOfDataStackIsNeverUsed) {
    stack_set_divisor(1);  // the whole stack, whatever the environment asks
    ValueCell* limit = g_stack.limit;
    u32 pushed = 0;
    try {
        for (;;) {
            ValueCell v = integer(static_cast<i32>(pushed));
            stack_push(&v);
            pushed++;
        }
    } catch (const ThrowSignal& s) {
        EXPECT_EQ(s.code, THROW_ERROR);
    }
    EXPECT_EQ(pushed, DATA_STACK_CELLS - 1);
    EXPECT_EQ(g_raw_error, Err::internal_stack_overflow);
    EXPECT_EQ(g_stack.top, limit);
    EXPECT_EQ(g_stack.limit, limit);
    EXPECT_FALSE(stack_reserve_open());
    for (u32 i = 0; i < DATA_STACK_CELLS; i++) {
        ASSERT_EQ(g_stack.bottom[i].type(), TYPE_INTEGER) << i;
        ASSERT_EQ(static_cast<i32>(g_stack.bottom[i].data2), static_cast<i32>(i)) << i;
    }
}

TEST_F(StackTest, CallStackHoldsTwelveThousandFrames) {
    stack_set_divisor(1);
    ValueCell w = word(7);
    ValueCell v = integer(99);
    for (int i = 0; i < 3; i++) stack_push(&v);
    ValueCell* top = g_stack.top;
    CallFrame* limit = g_stack.climit;
    u32 frames = 0;
    try {
        for (;;) {
            stack_mark_native(&w);
            frames++;
        }
    } catch (const ThrowSignal&) {
        EXPECT_EQ(g_raw_error, Err::internal_stack_overflow);
    }
    EXPECT_EQ(frames, 12000u);
    EXPECT_EQ(g_stack.climit, limit);
    EXPECT_EQ(g_stack.top, top);
    for (ValueCell* c = g_stack.bottom; c < top; c++) EXPECT_EQ(static_cast<i32>(c->data2), 99);
    // The next overflow is raised the same way.
    ValueCell* t = g_stack.top;
    EXPECT_THROW(stack_mark_native(&w), ThrowSignal);
    EXPECT_EQ(g_stack.top, t);
    EXPECT_FALSE(stack_reserve_open());
}

// Cells pushed and frames marked before stack-overflow, with the whole of
// each stack and with a part of it (ZAN_STACK_DIVISOR): the last data cell is
// never used, and the error is raised in the reserve past the part in use.
TEST_F(StackTest, TheRoomOfEachStackAndItsParts) {
    const struct {
        u32 divisor;
        u32 cells;   // pushed before the overflow
        u32 frames;  // marked before the overflow
    } cases[] = {{1, DATA_STACK_CELLS - 1, 12000}, {8, DATA_STACK_CELLS / 8 - 1, 1500},
                 {16, DATA_STACK_CELLS / 16 - 1, 750},
                 {0, DATA_STACK_CELLS - 1, 12000},     // out of range: the whole stack
                 {17, DATA_STACK_CELLS - 1, 12000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.divisor);
        stack_init();
        stack_set_divisor(c.divisor);
        u32 pushed = 0;
        try {
            for (;;) {
                ValueCell v = integer(1);
                stack_push(&v);
                pushed++;
            }
        } catch (const ThrowSignal& s) {
            EXPECT_EQ(s.code, THROW_ERROR);
        }
        EXPECT_EQ(pushed, c.cells);
        EXPECT_EQ(g_raw_error, Err::internal_stack_overflow);
        EXPECT_EQ(g_stack.top, g_stack.limit);
        EXPECT_FALSE(stack_reserve_open());
        ValueCell w = word(7);
        u32 frames = 0;
        try {
            for (;;) {
                stack_mark_native(&w);
                frames++;
            }
        } catch (const ThrowSignal&) {
            EXPECT_EQ(g_raw_error, Err::internal_stack_overflow);
        }
        EXPECT_EQ(frames, c.frames);
    }
}

// The divisor comes from the environment: a whole number from 2 to 16, else 1.
TEST_F(StackTest, TheDivisorOfTheEnvironment) {
    const char* saved = std::getenv("ZAN_STACK_DIVISOR");
    std::string keep = saved ? saved : "";
    const std::pair<const char*, u32> cases[] = {
        {"8", 8}, {"2", 2}, {"16", 16}, {"1", 1}, {"17", 1}, {"0", 1}, {"4x", 1}, {"", 1},
        {"-4", 1},
    };
    for (auto& [text, divisor] : cases) {
        setenv("ZAN_STACK_DIVISOR", text, 1);
        EXPECT_EQ(stack_divisor_from_env(), divisor) << text;
        stack_init();
        EXPECT_EQ(g_stack.limit - g_stack.bottom, DATA_STACK_CELLS / divisor) << text;
    }
    unsetenv("ZAN_STACK_DIVISOR");
    EXPECT_EQ(stack_divisor_from_env(), 1u);
    if (saved) setenv("ZAN_STACK_DIVISOR", keep.c_str(), 1);
}

TEST_F(StackTest, UnwindLastCopiesResultToCaller) {
    ValueCell w = word(3);
    stack_mark_native(&w);
    ValueCell* caller_base = g_stack.base;
    ValueCell a = integer(10);
    stack_push(&a);
    stack_mark_native(&w);
    ValueCell r = integer(42);
    stack_push(&r);
    stack_unwind_last();
    EXPECT_EQ(g_stack.base, caller_base);
    EXPECT_EQ(static_cast<i32>(g_stack.base->data2), 42);
    EXPECT_EQ(static_cast<i32>((g_stack.top - 1)->data2), 42);
}

TEST_F(StackTest, BreakInsideTryAllIsRefusedAndLeavesStacks) {
    ValueCell w = word(1);
    stack_mark_loop(&w);
    stack_mark_try_all(&w);
    stack_mark_native(&w);  // the break native's own frame
    ValueCell v = integer(5);
    stack_push(&v);
    ValueCell* base = g_stack.base;
    ValueCell* top = g_stack.top;
    CallFrame* ctop = g_stack.ctop;
    EXPECT_THROW(stack_throw_break(true, false), ThrowSignal);
    EXPECT_EQ(g_raw_error, Err::throw_break);
    EXPECT_EQ(g_stack.base, base);
    EXPECT_EQ(g_stack.top, top);
    EXPECT_EQ(g_stack.ctop, ctop);
}

TEST_F(StackTest, BreakWithValueReachesLoop) {
    ValueCell w = word(1);
    stack_mark_loop(&w);
    ValueCell* loop_base = g_stack.base;
    stack_mark_native(&w);
    stack_mark_native(&w);  // break's frame
    ValueCell v = integer(9);
    stack_push(&v);
    EXPECT_EQ(stack_throw_break_prepare(true, false), THROW_BREAK);
    EXPECT_EQ(g_stack.base, loop_base);
    EXPECT_EQ(stack_top_frame()->kind(), FRAME_LOOP);
    EXPECT_EQ(static_cast<i32>(g_stack.base->data2), 9);
}

TEST_F(StackTest, ThrowLeavesValueAndNameOnCatchFrame) {
    ValueCell w = word(1);
    stack_mark_catch(&w);
    ValueCell* catch_base = g_stack.base;
    stack_mark_native(&w);
    ValueCell v = integer(3), name = word(99);
    stack_push(&v);
    stack_push(&name);
    EXPECT_EQ(stack_throw_value_prepare(THROW_THROW), THROW_THROW);
    EXPECT_EQ(g_stack.base, catch_base);
    EXPECT_EQ(g_stack.top - g_stack.base, 2);
    EXPECT_EQ(g_stack.base[0].data2, 3u);
    EXPECT_EQ(g_stack.base[1].data2, 99u);
}

TEST_F(StackTest, ReturnWithoutBodyFrameIsRefused) {
    ValueCell w = word(1);
    stack_mark_native(&w);
    ValueCell v = integer(1);
    stack_push(&v);
    EXPECT_THROW(stack_throw_exit(true, false), ThrowSignal);
    EXPECT_EQ(g_raw_error, Err::throw_return);
}

TEST_F(StackTest, ErrorUnwindsToTryFrame) {
    ValueCell w = word(1);
    stack_mark_try(&w);
    ValueCell* try_base = g_stack.base;
    stack_mark_native(&w);
    stack_mark_native(&w);
    ValueCell e{TYPE_ERROR, 0, 0, 0};
    try {
        stack_throw_error(&e);
        FAIL();
    } catch (const ThrowSignal& s) {
        EXPECT_EQ(s.code, THROW_ERROR);
    }
    EXPECT_EQ(g_stack.ctop, g_stack.cbottom);
    EXPECT_EQ(g_stack.top - 1, try_base);
    EXPECT_EQ(try_base->type(), static_cast<u32>(TYPE_ERROR));
}

}  // namespace
}  // namespace zan

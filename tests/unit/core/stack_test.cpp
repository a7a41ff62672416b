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
    EXPECT_EQ(stack_depth(), 0u);
    EXPECT_EQ(g_stack.top - 1, try_base);
    EXPECT_EQ(try_base->type(), static_cast<u32>(TYPE_ERROR));
}

}  // namespace
}  // namespace zan

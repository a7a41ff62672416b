// Deep recursion: the data and call stacks end it with the stack-overflow
// error, the process stays alive and the next evaluation works; the machine
// stack that one nested call takes.
#include <pthread.h>

#include "eval/eval_helper.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan::evaltest {
namespace {

class RecursionTest : public EvalTest {};

TEST_F(RecursionTest, TwelveThousandNestedCallsOverflowAndRecover) {
    EvalOutcome r = eval_outcome(
        "f: func [n] [either n = 0 [0] [1 + f n - 1]] f 12000");
    EXPECT_TRUE(r.error);
    EXPECT_EQ(r.id, "internal/stack-overflow");
    EXPECT_EQ(r.text.substr(0, r.text.find('\n')), "*** Internal Error: stack overflow");
    // The same runtime evaluates on.
    EXPECT_EQ(eval("f 100"), "100");
    EXPECT_EQ(eval("1 + 2"), "3");
}

TEST_F(RecursionTest, EndlessRecursionOfEveryShape) {
    const char* sources[] = {
        "f: func [] [f] f",                       // two frames a level
        "f: func [n] [f n + 1] f 1",
        "f: func [] [(f)] f",                     // through parens
        "f: func [] [do [f]] f",                  // through do
        "f: func [] [loop 1 [f]] f",              // through loops
        "f: func [] [try [f]] f",                 // through try: the error is caught...
        "f: does [reduce [f]] f",
        "f: func [x] [f f x] f 1",                // arguments nest before the call
        "b: [do b] do b",
    };
    for (const char* src : sources) {
        EvalOutcome r = eval_outcome(src);
        if (std::string(src).find("try") != std::string::npos) {
            // ...by the innermost try: the result is that error.
            EXPECT_NE(r.text.find("stack-overflow"), std::string::npos) << src;
        } else {
            EXPECT_EQ(r.id, "internal/stack-overflow") << src;
        }
        EXPECT_EQ(eval("1 + 2"), "3") << "after " << src;
    }
}

// Depths well inside the stacks: with a part of them (ZAN_STACK_DIVISOR),
// the same part of these depths.
TEST_F(RecursionTest, DeepButFiniteRecursionWorks) {
    const std::string deep = std::to_string(1500 / stack_divisor_from_env());
    const std::string deeper = std::to_string(2500 / stack_divisor_from_env());
    EXPECT_EQ(eval("f: func [n] [either n = 0 [0] [1 + f n - 1]] f " + deep), deep);
    EXPECT_EQ(eval("f: func [n] [if n > 0 [f n - 1]] type? f " + deeper), "none!");
}

// The machine stack one nested interpreted call takes, measured between two
// depths with a probe native; reported, and checked against the stack the
// evaluation thread has for the deepest nesting the call stack allows.
uintptr_t g_probe_sp = 0;
void probe_native(bool, const i32*) {
    g_probe_sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    unset_box(stack_result());
}

TEST_F(RecursionTest, MachineStackPerCall) {
    NativeEntry saved = g_natives[NAT_STATS - 1];
    g_natives[NAT_STATS - 1] = probe_native;
    eval("f: func [n] [either n = 0 [stats] [f n - 1]]");
    eval("f 0");
    uintptr_t shallow = g_probe_sp;
    // A depth inside the stacks' room also when they are held to a part.
    const i32 depth = 1000 / static_cast<i32>(stack_divisor_from_env());
    eval("f " + std::to_string(depth));
    uintptr_t deep = g_probe_sp;
    g_natives[NAT_STATS - 1] = saved;
    ASSERT_NE(shallow, 0u);
    ASSERT_NE(deep, 0u);
    ptrdiff_t per_call = static_cast<ptrdiff_t>(shallow - deep) / depth;
    RecordProperty("machine_stack_bytes_per_call", static_cast<int>(per_call));
    std::printf("machine stack per nested call: %td bytes\n", per_call);
    EXPECT_GT(per_call, 0);
    // Each such level takes four call frames; the call stack has 12000.
    size_t big_stack = 0;
    interp_run_on_big_stack([&big_stack] {
        pthread_attr_t attr;
        ASSERT_EQ(pthread_getattr_np(pthread_self(), &attr), 0);
        pthread_attr_getstacksize(&attr, &big_stack);
        pthread_attr_destroy(&attr);
    });
    EXPECT_LT(static_cast<size_t>(per_call) * 12000, big_stack);
}

}  // namespace
}  // namespace zan::evaltest

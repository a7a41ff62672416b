// Interpreter tracing: the events of a do/trace run, their payloads, the
// event mask of a tracer, nesting, and errors inside the tracer.
#include "eval/eval_helper.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan::evaltest {
namespace {

class TraceTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        eval("log: copy [] "
             "t: func [event code offset value ref frame] [append log event] "
             "p: func [event code offset value ref frame] "
             "[append/only log reduce [event offset :value :ref]]");
    }
};

TEST_F(TraceTest, EventsOfAnExpression) {
    expect_cases({
        {"clear log do/trace [1 + 2] :t log",
         "[init enter fetch push fetch open fetch push call return expr exit end]"},
        {"clear log do/trace [1 + 2] :t", "3"},   // the value is the evaluation's
    });
}

TEST_F(TraceTest, EventsOfAFunctionCall) {
    EXPECT_EQ(eval("f: func [] [1] clear log do/trace [f] :t log"),
              "[init enter fetch open call prolog enter fetch push expr exit epilog return expr "
              "exit end]");
}

TEST_F(TraceTest, Payloads) {
    EXPECT_EQ(eval("clear log do/trace [a: 1] :p log"),
              "[[init -1 none none] [enter 0 none none] [fetch 0 a: none] [push 0 a: none] "
              "[fetch 1 1 none] [push 1 1 none] [set 0 1 a:] [expr -1 1 none] "
              "[exit -1 1 none] [end -1 none none]]");
    // The frame argument is a pair! of the argument base and the top.
    EXPECT_EQ(eval("clear log q: func [event code offset value ref frame] "
                   "[append log type? frame] do/trace [1] :q unique log"),
              "[pair!]");
    // The code argument is the block being evaluated.
    EXPECT_EQ(eval("clear log q: func [event code offset value ref frame] "
                   "[if event = 'fetch [append/only log code]] do/trace [7] :q log"),
              "[[7]]");
}

TEST_F(TraceTest, ErrorThrowAndCatchEvents) {
    EXPECT_EQ(eval("clear log do/trace [try [x-unset]] :t log"),
              "[init enter fetch open fetch push call enter fetch error return expr exit end]");
    EXPECT_EQ(eval("clear log do/trace [catch [throw 1]] :t log"),
              "[init enter fetch open fetch push call enter fetch open fetch push call throw "
              "catch return expr exit end]");
}

TEST_F(TraceTest, MaskFromTheTracersBody) {
    // A tracer whose body starts with a block of event words receives only
    // those; words that name no event (and other values) are ignored.
    EXPECT_EQ(eval("clear log m: func [event code offset value ref frame] "
                   "[[enter exit bogus 5] append log event] do/trace [(1)] :m log"),
              "[enter enter exit exit]");
    EXPECT_EQ(eval("clear log m: func [event code offset value ref frame] "
                   "[[init end] append log event] do/trace [1 2 3] :m log"),
              "[init end]");
}

TEST_F(TraceTest, NestedTraceRunsDoNotReplaceTheTracer) {
    EXPECT_EQ(eval("clear log u: func [event code offset value ref frame] [append log 'inner] "
                   "do/trace [do/trace [1] :u] :t find log 'inner"),
              "none");
    EXPECT_EQ(eval("clear log do/trace [do/trace [1] :t 2] :t length? find log 'end"), "1");
}

TEST_F(TraceTest, TracingEndsWithTheRun) {
    eval("clear log do/trace [1] :t");
    EXPECT_FALSE(g_interp.tracing);
    EXPECT_FALSE(g_interp.trace_run);
    EXPECT_EQ(g_interp.tracer->type(), static_cast<u32>(TYPE_NONE));
    EXPECT_EQ(eval("clear log 1 + 1 log"), "[]");
}

TEST_F(TraceTest, AnErrorInsideTheTracerGoesOn) {
    EXPECT_EQ(eval_error_id("bad: func [event code offset value ref frame] "
                            "[if event = 'fetch [x-unset]] do/trace [1] :bad"),
              "script/no-value");
    EXPECT_FALSE(g_interp.trace_run);
    EXPECT_EQ(eval("1 + 1"), "2");
}

TEST_F(TraceTest, FunctionsForcedOnAndOff) {
    // no-trace: the function's body runs untraced (no prolog, no events of
    // its body, no epilog).
    EXPECT_EQ(eval("clear log f: func [[no-trace]] [1 2 3] do/trace [f] :t log"),
              "[init enter fetch open call return expr exit end]");
    EXPECT_EQ(eval("clear log g: func [] [] do/trace [g] :t log"),
              "[init enter fetch open call prolog enter exit epilog return expr exit end]");
}

TEST_F(TraceTest, ReturnInTracedCodeStopsAtTheMarkedFrame) {
    EXPECT_EQ(eval("do/trace [return 5 6] :t"), "5");
    EXPECT_EQ(eval("f: func [] [do/trace [return 5] :t 6] f"), "5");
}

TEST_F(TraceTest, APathThatCallsAFunctionExitsAfterTheCall) {
    // The enter of a calling path is matched by an exit once the call has
    // returned, carrying its result; a path that selects a value exits as
    // before, after its push.
    EXPECT_EQ(eval("clear log do/trace [append/only copy [] 1] :t log"),
              "[init enter fetch enter fetch open fetch open fetch push call return fetch push "
              "call return exit expr exit end]");
    EXPECT_EQ(eval("clear log r: func [event code offset value ref frame] "
                   "[if all [event = 'exit path! = type? code] [append/only log :value]] "
                   "do/trace [append/only copy [] 1] :r log"),
              "[[1]]");
    EXPECT_EQ(eval("clear log o: make object! [a: 5] do/trace [o/a] :t log"),
              "[init enter fetch enter fetch fetch push exit expr exit end]");
}

TEST_F(TraceTest, ASwitchOfTracingOutlastsTheFramesThatSaveTheFlag) {
    // Outside a run a switch changes nothing.
    interp_trace_switch(true);
    EXPECT_FALSE(g_interp.tracing);
    g_interp.trace_run = true;
    g_interp.tracing = true;
    {
        TracingGuard outer;
        g_interp.tracing = false;  // a frame running untraced code
        {
            TracingGuard inner;
            interp_trace_switch(false);
        }
        EXPECT_FALSE(g_interp.tracing);
        {
            TracingGuard inner;
            interp_trace_switch(true);
        }
        EXPECT_TRUE(g_interp.tracing);
        g_interp.tracing = false;
    }
    // The outer frame saved "on" before a switch to "on": the switch holds.
    EXPECT_TRUE(g_interp.tracing);
    {
        TracingGuard plain;
        g_interp.tracing = false;
    }
    // Without a switch a frame puts back what it saved.
    EXPECT_TRUE(g_interp.tracing);
    g_interp.trace_run = false;
    {
        TracingGuard closing;
        interp_trace_switch(true);
        g_interp.trace_run = true;
        interp_trace_switch(true);
        g_interp.trace_run = false;
    }
    // A run that ended meanwhile leaves tracing off.
    EXPECT_FALSE(g_interp.tracing);
}

}  // namespace
}  // namespace zan::evaltest

// Set-paths that change a field of a value held in its cell (date!, time!,
// pair!, tuple!, point2D!): the changed value is stored back into the word,
// the block element, the map entry or the object field that holds it, and
// an object holder runs its on-change* once, after the store.
#include "eval/eval_helper.h"
#include "runtime/datatypes/integer.h"

namespace zan::evaltest {
namespace {

class PathStoreTest : public EvalTest {};

TEST_F(PathStoreTest, FieldsOfAWordsValue) {
    expect_cases({
        {"d: 1-Jan-2024/10:00 d/year: 2000 d", "1-Jan-2000/10:00:00"},
        {"d: 1-Jan-2024/10:00 d/timezone: 2 d", "1-Jan-2024/12:00:00+02:00"},
        {"d: 1-Jan-2024/10:00 d/zone: 2 d", "1-Jan-2024/10:00:00+02:00"},
        {"d: 31-Jan-2023 d/month: 14 d", "2-Mar-2024"},
        {"t: 1:02:03 t/second: 30 t", "1:02:30"},
        {"t: 1:02:03 t/hour: 5 t", "5:02:03"},
        {"p: 1x2 p/y: 7 p", "1x7"},
        {"p: 1x2 p/1: 4 p", "4x2"},
        {"v: 1.2.3 v/2: 9 v", "1.9.3"},
        {"q: make point2D! [1 2] q/x: 5 q/x", "5.0"},
        // the path's value is the value that was set
        {"d: 1-Jan-2024 d/day: 5", "5"},
        // a field of a field: the time of a date
        {"d: 1-Jan-2024/10:00 d/time/hour: 5 d", "1-Jan-2024/5:00:00"},
        // set with a path goes the same way
        {"d: 1-Jan-2024 set 'd/year 1990 d", "1-Jan-1990"},
        // a local word of a function
        {"f: func [/local p] [p: 1x1 p/x: 3 p] f", "3x1"},
        {"f: func [v] [v/3: 0 v] f 1.2.3", "1.2.0"},
    });
}

TEST_F(PathStoreTest, FieldsOfSeriesElementsAndMapEntries) {
    expect_cases({
        {"b: reduce [1-Jan-2024 3x4 1.2.3 1:00] b/1/year: 2001 b/2/x: 9 b/3/2: 7 "
         "b/4/hour: 5 b",
         "[1-Jan-2001 9x4 1.7.3 5:00:00]"},
        // an element selected by the word before it
        {"b: [p 1x1 q 2x2] b/q/y: 6 b", "[p 1x1 q 2x6]"},
        {"b: [[1x1]] b/1/1/y: 4 b", "[[1x4]]"},
        {"b: [1x1] i: 1 b/(i)/x: 8 b", "[8x1]"},
        {"m: make map! [k 1x1] m/k/x: 5 m/k", "5x1"},
        // a block reached through an object field
        {"o: make object! [b: [1.1.1]] o/b/1/3: 9 o/b", "[1.1.9]"},
    });
}

TEST_F(PathStoreTest, ObjectFieldsRunOnChangeOnceAfterTheStore) {
    const char* obj =
        "log: copy [] "
        "o: make object! [d: 1-Jan-2000/1:00 p: 1x1 "
        "on-change*: func [w old new] [append log reduce [w old new get in o w]]] ";
    expect_cases({
        // the handler sees the old value, the new one, and the field holding
        // the new one already
        {(std::string(obj) + "o/p/x: 5 log").c_str(), "[p 1x1 5x1 5x1]"},
        {(std::string(obj) + "o/d/year: 1999 reduce [o/d log]").c_str(),
         "[1-Jan-1999/1:00:00 [d 1-Jan-2000/1:00:00 1-Jan-1999/1:00:00 1-Jan-1999/1:00:00]]"},
        // two levels of cell values: still one report, for the field
        {(std::string(obj) + "o/d/time/minute: 30 log").c_str(),
         "[d 1-Jan-2000/1:00:00 1-Jan-2000/1:30:00 1-Jan-2000/1:30:00]"},
    });
}

TEST_F(PathStoreTest, AFailedSetLeavesTheValueAlone) {
    EXPECT_EQ(eval_error_id("d: 1-Jan-2024 d/month: \"x\""), "script/invalid-arg");
    EXPECT_EQ(eval("d: 1-Jan-2024 try [d/month: \"x\"] d"), "1-Jan-2024");
    EXPECT_EQ(eval_error_id("d: 1-Jan-2024 d/bogus: 1"), "script/invalid-path");
    EXPECT_EQ(eval("p: 1x2 try [p/x: 1.5] p"), "1x2");
    // reading a field changes nothing
    EXPECT_EQ(eval("d: 1-Jan-2024/10:00 reduce [d/hour d]"), "[10 1-Jan-2024/10:00:00]");
}

// The path evaluation of compiled code (rt_eval_path) stores back the same
// way: into the head word, and into an object field with its on-change*.
TEST_F(PathStoreTest, CompiledPathEvaluationStoresBack) {
    eval("d: 1-Jan-2024/10:00 log: copy [] "
         "o: make object! [p: 1x1 on-change*: func [w old new] [append log w]]");
    interp_run_on_big_stack([] {
        auto set_path = [](const char* src, u32 count, i32 value) {
            g_stack.top = g_stack.base = g_stack.bottom;
            g_stack.ctop = g_stack.cbottom;
            stack_mark_native(g_words.n.body);
            unset_push();
            ValueCell path = *block_head_ptr(load_block(src));
            ValueCell* cells = block_head_ptr(&path);
            ValueCell head = cells[0];
            ValueCell e[2] = {cells[1], count > 1 ? cells[2] : cells[1]};
            ValueCell* elements[2] = {&e[0], &e[1]};
            integer_box(stack_result(), value);
            rt_eval_path(true, &path, &head, elements, count);
            stack_unwind();
        };
        set_path("d/year", 1, 2002);
        set_path("o/p/y", 2, 7);
    });
    EXPECT_EQ(eval("d"), "1-Jan-2002/10:00:00");
    EXPECT_EQ(eval("reduce [o/p log]"), "[1x7 [p]]");
}

}  // namespace
}  // namespace zan::evaltest

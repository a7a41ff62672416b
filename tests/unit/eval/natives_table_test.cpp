// The natives table: its fixed order, what registration fills, the specs,
// calls by index with the check flag (compiled code's way), and the slots
// that no group has built.
#include <set>

#include "eval/eval_helper.h"
#include "runtime/eval/interp/interp_internal.h"

namespace zan::evaltest {
namespace {

class NativesTableTest : public EvalTest {};

TEST_F(NativesTableTest, RegistrationFillsExactlyTheNatives) {
    EXPECT_EQ(g_native_count, NATIVES_COUNT);
    EXPECT_NE(g_natives[NATIVES_COUNT - 1], nullptr);
    EXPECT_EQ(g_natives[NATIVES_COUNT], nullptr);
}

// Every native is built and wired to an entry of its own: none is left to
// the not-done stub, and no two slots share an entry.
TEST_F(NativesTableTest, EveryNativeHasItsOwnEntry) {
    std::set<NativeEntry> seen;
    for (u32 i = 1; i <= NATIVES_COUNT; i++) {
        SCOPED_TRACE(native_info(i)->name);
        NativeEntry e = g_natives[i - 1];
        ASSERT_NE(e, nullptr);
        EXPECT_NE(e, native_not_done);
        EXPECT_TRUE(seen.insert(e).second) << "shared with another native";
    }
}

TEST_F(NativesTableTest, FixedOrder) {
    struct Row {
        u32 index;
        const char* name;
    };
    const Row rows[] = {{1, "if"},        {13, "remove-each"}, {20, "do"},
                        {25, "equal?"},   {40, "parse"},       {70, "try"},
                        {77, "break"},    {82, "catch"},       {96, "now"},
                        {106, "transcode"}, {107, "apply"}};
    for (const Row& r : rows) EXPECT_STREQ(native_info(r.index)->name, r.name);
    EXPECT_EQ(native_info(0), nullptr);
    EXPECT_EQ(native_info(108), nullptr);
    // The words of the environment hold natives of those indexes.
    EXPECT_EQ(eval("reflect :apply 'body"), "107");
    EXPECT_EQ(eval("reflect :try 'body"), "70");
}

TEST_F(NativesTableTest, SpecsDeclareTheirRefinements) {
    // The refinement positions are passed by order: the spec of every
    // native lists them as the table says.
    expect_cases({
        {"reflect :do 'spec",
         "[{Evaluates a value, returning the last evaluation result} value [any-type!] "
         "/expand /args arg /next position [word!] /trace callback [function!]]"},
        {"reflect :break 'spec",
         "[{Breaks out of a loop, while, until, repeat, foreach, etc} /return value "
         "[any-type!]]"},
    });
    for (u32 i = 1; i <= NATIVES_COUNT; i++) {
        const NativeInfo* ni = native_info(i);
        std::string src = std::string("n: 0 foreach v reflect get pick [") + ni->name +
                          "] 1 'spec [if refinement! = type? v [n: n + 1]] n";
        EXPECT_EQ(eval(src), std::to_string(ni->refinements)) << ni->name;
    }
}

TEST_F(NativesTableTest, SlotsNotBuiltRaiseNotDone) {
    EXPECT_EQ(eval_error_line("do reduce [make native! [[] 110]]"),
              "*** Internal Error: reserved for future use (or not yet implemented)");
}

// Compiled code calls natives by index with the check flag set.
TEST_F(NativesTableTest, CallByIndexWithTheCheckFlag) {
    interp_run_on_big_stack([] {
        g_stack.top = g_stack.base = g_stack.bottom;
        g_stack.ctop = g_stack.cbottom;
        stack_mark_try_all(g_words.n.try_);
        // case/all [true [1] true [2]]
        ValueCell cases = *load_block("true [1] true [2]");
        stack_mark_native(g_words.n.body);
        stack_push(&cases);
        ValueCell on;
        logic_box(&on, true);
        RtRefinement all{&on, 1, 1, 0};
        rt_call_by_index(NAT_CASE, CALL_NATIVE, 1, &all);
        EXPECT_EQ(mold_text(stack_result(), false), "2");
        stack_unwind();
        // if 1 2: the check flag makes the native check its then-blk
        stack_mark_native(g_words.n.body);
        ValueCell one, two;
        cell_init(&one, TYPE_INTEGER, 0, 1, 0);
        cell_init(&two, TYPE_INTEGER, 0, 2, 0);
        stack_push(&one);
        stack_push(&two);
        bool raised = false;
        try {
            rt_call_by_index(NAT_IF, CALL_NATIVE, 0, nullptr);
        } catch (ThrowSignal&) {
            raised = true;
            ValueCell e = *stack_top_value();
            EXPECT_EQ(e.type(), static_cast<u32>(TYPE_ERROR));
            EXPECT_STREQ(symbol_to_cstr(error_get_id(&e)), "expect-arg");
        }
        EXPECT_TRUE(raised);
        g_throw_code = 0;
        g_stack.top = g_stack.base = g_stack.bottom;
        g_stack.ctop = g_stack.cbottom;
    });
}

}  // namespace
}  // namespace zan::evaltest

// The table of direct routines: each row must take the arguments its
// action's spec declares, every one of them evaluated (a direct call reads
// its arguments as an ordinary call of that spec would fetch them).
#include <string>

#include "eval/eval_helper.h"
#include "runtime/eval/interp/direct_call.h"

namespace zan::evaltest {
namespace {

class DirectCallsTest : public EvalTest {};

// The action of number n by its word, found through the environment.
std::string action_name(u32 n) {
    return eval("foreach w words-of system/words [if all [action? get/any w " +
                std::to_string(n) + " = reflect get/any w 'body] [break/return w]]");
}

TEST_F(DirectCallsTest, RowsTakeTheArgumentsTheirSpecsDeclare) {
    u32 rows = 0;
    for (u32 n = 1; n <= ACT_COUNT; n++) {
        const DirectEntry& d = g_direct_actions.by_number[n];
        if (!d.call) continue;
        rows++;
        std::string name = action_name(n);
        SCOPED_TRACE(name);
        ASSERT_FALSE(name.empty());
        // The spec's entries before its first refinement or return: all
        // plain words (fetched by evaluation), as many as the row takes.
        std::string count = eval("n: 0 foreach e reflect :" + name +
                                 " 'spec [if any [refinement? e set-word? e] [break] "
                                 "if any-word? e [either word? e [n: n + 1] [n: -1000]]] n");
        EXPECT_EQ(count, std::to_string(d.nargs));
        // (The walk takes no operator after a direct call: its last
        // argument took them, so a row needs one.)
        EXPECT_GT(d.nargs, 0u);
    }
    EXPECT_EQ(rows, 5u);
}

// Natives have no direct routine, nor has any value but an action.
TEST_F(DirectCallsTest, OnlyActionsWithARowAreDirect) {
    expect_cases({{"action? :append", "true"}, {"native? :either", "true"}});
    auto entry = [](const char* name) {
        ValueCell w = *word_load(name);
        return direct_entry(word_value(&w));
    };
    EXPECT_EQ(entry("either"), nullptr);
    EXPECT_EQ(entry("negate"), nullptr);
    ASSERT_NE(entry("append"), nullptr);
    EXPECT_FALSE(entry("append")->pure);
    ASSERT_NE(entry("pick"), nullptr);
    EXPECT_TRUE(entry("pick")->pure);
}

}  // namespace
}  // namespace zan::evaltest

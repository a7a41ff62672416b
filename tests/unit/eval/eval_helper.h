// The test side of eval_env.h: a fixture with a fresh environment per test,
// the capture of printed text and table checks.
#pragma once
#include <gtest/gtest.h>

#include "runtime/terminal/print_hooks.h"
#include "tests/unit/eval/eval_env.h"

namespace zan::evaltest {

// What print and prin wrote since the last call of printed_text().
inline std::string& printed_buffer() {
    static std::string b;
    return b;
}
inline void capture_print(const ValueCell* str, bool new_line) {
    ValueCell s = *str;
    printed_buffer() += utf8_text(&s);
    if (new_line) printed_buffer() += "\n";
}
inline std::string printed_text() {
    std::string s = printed_buffer();
    printed_buffer().clear();
    return s;
}

// A fixture with a fresh environment per test; printed text is captured.
class EvalTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_init();
        print_hooks_init();
        print_hooks_remove(print_hooks_default, nullptr);
        print_hooks_add(capture_print, nullptr);
        printed_buffer().clear();
    }
    void TearDown() override {
        print_hooks_init();
        set_collect_stress(false);
        g_gc.enabled = false;
    }
};

// A table row: source and expected text.
struct EvalCase {
    const char* src;
    const char* expected;
};

inline void expect_cases(std::initializer_list<EvalCase> cases) {
    for (const EvalCase& c : cases) EXPECT_EQ(eval(c.src), c.expected) << "source: " << c.src;
}

}  // namespace zan::evaltest

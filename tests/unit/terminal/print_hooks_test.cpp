// Print hooks: the two lists and the default console writer hook.
#include "runtime/terminal/print_hooks.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/terminal/console_out.h"
#include "runtime/terminal/console_out_internal.h"
#include "core/test_support.h"

namespace zan {
namespace {

std::vector<int> calls;
template <int N>
void value_hook(const ValueCell*, bool) { calls.push_back(N); }
template <int N>
void raw_hook(const u8*, u32, bool) { calls.push_back(N); }

int g_pipe_read = -1;
int pending_bytes() {
    int n = 0;
    ioctl(g_pipe_read, FIONREAD, &n);
    return n;
}
void before_print() { calls.push_back(pending_bytes() == 0 ? 100 : -100); }
void after_print() { calls.push_back(pending_bytes() > 0 ? 200 : -200); }

class PrintHooksTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        ASSERT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        g_pipe_read = fds[0];
        console_output_start(fds[1]);
        print_hooks_init();
        calls.clear();
    }
    void TearDown() override {
        g_tui_before_print = nullptr;
        g_tui_after_print = nullptr;
        print_hooks_free();
        platform_console_init();
        close(fds[0]);
        close(fds[1]);
    }
    std::string output() {
        std::string out;
        char buf[1024];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
        return out;
    }
    // A string! whose buffer holds `count` units of `unit` bytes.
    static ValueCell make_string(const void* units, u32 count, u32 unit, u32 index) {
        Node n = alloc_units(count, unit);
        SeriesBuffer* b = node_buffer(n);
        std::memcpy(b->head_ptr(), units, count * unit);
        b->tail = b->head + count * unit;
        return ValueCell{TYPE_STRING, index, n, 0};
    }

    int fds[2] = {-1, -1};
};

TEST_F(PrintHooksTest, InitInstallsTheConsoleWriterAsFirstValueHook) {
    EXPECT_EQ(g_print_hooks.value_count, 1u);
    EXPECT_EQ(g_print_hooks.value[0], &print_hooks_default);
    EXPECT_EQ(g_print_hooks.value_capacity, 5u);
    EXPECT_EQ(g_print_hooks.raw_count, 0u);
    EXPECT_EQ(g_print_hooks.raw_capacity, 5u);
    print_hooks_add(value_hook<1>, nullptr);
    print_hooks_init();  // again: a fresh pair of lists
    EXPECT_EQ(g_print_hooks.value_count, 1u);
}

TEST_F(PrintHooksTest, SixthValueHookGrowsTheListByFiveKeepingTheOrder) {
    print_hooks_add(value_hook<1>, nullptr);
    print_hooks_add(value_hook<2>, nullptr);
    print_hooks_add(value_hook<3>, nullptr);
    print_hooks_add(value_hook<4>, nullptr);
    EXPECT_EQ(g_print_hooks.value_count, 5u);
    EXPECT_EQ(g_print_hooks.value_capacity, 5u);
    print_hooks_add(value_hook<5>, raw_hook<50>);
    EXPECT_EQ(g_print_hooks.value_count, 6u);
    EXPECT_EQ(g_print_hooks.value_capacity, 10u);
    EXPECT_EQ(g_print_hooks.value[0], &print_hooks_default);
    const char text[] = "hi";
    ValueCell s = make_string(text, 2, 1, 0);
    print_hooks_call(&s, false);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(output(), "hi");
}

TEST_F(PrintHooksTest, RemoveTakesTheFirstMatchAndIgnoresAbsentHooks) {
    print_hooks_remove(&print_hooks_default, nullptr);
    print_hooks_add(value_hook<1>, raw_hook<10>);
    print_hooks_add(value_hook<2>, raw_hook<20>);
    print_hooks_add(value_hook<1>, raw_hook<10>);
    print_hooks_remove(value_hook<3>, raw_hook<30>);  // not registered
    EXPECT_EQ(g_print_hooks.value_count, 3u);
    EXPECT_EQ(g_print_hooks.raw_count, 3u);
    print_hooks_remove(value_hook<1>, raw_hook<10>);
    const char text[] = "x";
    ValueCell s = make_string(text, 1, 1, 0);
    print_hooks_call(&s, true);
    print_hooks_call_raw(reinterpret_cast<const u8*>(text), 1, false);
    EXPECT_EQ(calls, (std::vector<int>{2, 1, 20, 10}));
    EXPECT_EQ(output(), "");  // the console writer was removed
}

TEST_F(PrintHooksTest, ConsoleWriterPrintsFromTheIndexInTheBufferUnit) {
    const char narrow[] = "hello";
    const char16_t mid[] = u"a\u20acb";
    const char32_t wide[] = U"\U0001F600z";
    struct Case { const void* units; u32 count, unit, index; bool new_line; std::string want; };
    const Case cases[] = {
        {narrow, 5, 1, 2, false, "llo"},
        {narrow, 5, 1, 0, true, "hello\n"},
        {mid, 3, 2, 1, false, "\xE2\x82\xAC" "b"},
        {wide, 2, 4, 0, true, "\xF0\x9F\x98\x80z\n"},
        {wide, 2, 4, 1, false, "z"},
        {narrow, 5, 1, 5, true, "\n"},     // at the tail: only the new line
        {narrow, 5, 1, 9, false, ""},      // past the tail: taken as the tail
        {mid, 3, 2, 7, true, "\n"},
    };
    for (const auto& c : cases) {
        ValueCell s = make_string(c.units, c.count, c.unit, c.index);
        print_hooks_default(&s, c.new_line);
        EXPECT_EQ(output(), c.want) << "unit " << c.unit << " index " << c.index;
    }
}

TEST_F(PrintHooksTest, TextUiStepsRunBeforeAndAfterTheText) {
    g_tui_before_print = before_print;
    g_tui_after_print = after_print;
    const char text[] = "drawn";
    ValueCell s = make_string(text, 5, 1, 0);
    print_hooks_call(&s, true);
    EXPECT_EQ(calls, (std::vector<int>{100, 200}));
    EXPECT_EQ(output(), "drawn\n");
}

TEST_F(PrintHooksTest, UnknownUnitWidthIsReported) {
    Node n = alloc_cells(1);
    ValueCell s{TYPE_STRING, 0, n, 0};
    print_hooks_default(&s, false);
    EXPECT_EQ(output(), "Error: unknown string encoding: 16\n");
}

}  // namespace
}  // namespace zan

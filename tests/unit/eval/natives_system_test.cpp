// The system natives (wait, now, the environment, size?, to-local-file,
// recycle, call and browse), the file! actions on the host I/O layer as a
// script uses them, and the system routines called as routine! values.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <iterator>

#include "eval/eval_helper.h"

namespace zan::evaltest {
namespace {

class NativesSystemTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        char tmpl[] = "/tmp/zan-sys-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        unsetenv("ZAN_SYS_TEST");
        EvalTest::TearDown();
    }
    // The file! literal of a name in the temporary directory.
    std::string f(const std::string& name) const { return "%" + dir_ + "/" + name; }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    static std::string get_bytes(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void put_bytes(const std::string& p, const std::string& bytes) {
        std::ofstream out(p, std::ios::binary);
        out << bytes;
    }

    std::string dir_;
};

TEST_F(NativesSystemTest, Wait) {
    expect_cases({
        {"wait 0", "none"},
        {"wait 0.001", "none"},
        {"wait 0:00:00.001", "none"},
        {"wait/all 0", "none"},
    });
    EXPECT_EQ(eval_error_id("wait [1]"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("wait none"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("wait \"1\""), "script/expect-arg");
}

TEST_F(NativesSystemTest, Now) {
    expect_cases({
        {"type? now", "date!"},
        {"type? now/precise", "date!"},
        {"type? now/time", "time!"},
        {"type? now/time/precise", "time!"},
        {"type? now/zone", "time!"},
        {"now/utc/zone", "0:00:00"},
        {"type? now/date", "date!"},
        {"d: now/date d = d/date", "true"},
        {"w: now/weekday all [w >= 1 w <= 7]", "true"},
        {"d: now/yearday all [d >= 1 d <= 366]", "true"},
        {"m: now/month all [m >= 1 m <= 12]", "true"},
    });
    // The year of the local calendar, read around the evaluation.
    time_t before = std::time(nullptr);
    std::string year = eval("now/year");
    time_t after = std::time(nullptr);
    tm b{}, a{};
    localtime_r(&before, &b);
    localtime_r(&after, &a);
    EXPECT_TRUE(year == std::to_string(b.tm_year + 1900) || year == std::to_string(a.tm_year + 1900))
        << year;
    // Whole seconds without /precise.
    EXPECT_EQ(eval("t: now/time t = to time! to integer! t"), "true");
    EXPECT_EQ(eval_error_id("now/year/month"), "script/bad-refines");
    EXPECT_EQ(eval_error_id("now/date/zone"), "script/bad-refines");
    EXPECT_EQ(eval_error_line("now/day/weekday"),
              "*** Script Error: incompatible or invalid refinements");
}

TEST_F(NativesSystemTest, Environment) {
    expect_cases({
        {"get-env \"ZAN_SYS_TEST\"", "none"},
        {"set-env \"ZAN_SYS_TEST\" \"v\u00e9\"", "\"v\u00e9\""},
        {"get-env \"ZAN_SYS_TEST\"", "\"v\u00e9\""},
        {"get-env 'ZAN_SYS_TEST", "\"v\u00e9\""},
        {"get-env %ZAN_SYS_TEST", "\"v\u00e9\""},
        {"set-env 'ZAN_SYS_TEST \"\"", "\"\""},
        // An empty value is a value.
        {"get-env \"ZAN_SYS_TEST\"", "\"\""},
        {"m: list-env select m \"ZAN_SYS_TEST\"", "\"\""},
        {"set-env \"ZAN_SYS_TEST\" none", "none"},
        {"get-env \"ZAN_SYS_TEST\"", "none"},
        {"type? list-env", "map!"},
        {"select list-env \"ZAN_SYS_TEST\"", "none"},
    });
    ASSERT_EQ(setenv("ZAN_SYS_TEST", "from outside", 1), 0);
    EXPECT_EQ(eval("select list-env \"ZAN_SYS_TEST\""), "\"from outside\"");
    EXPECT_EQ(eval_error_id("set-env \"\" \"x\""), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("set-env \"A=B\" \"x\""), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("set-env \"ZAN_SYS_TEST\" 1"), "script/expect-arg");
}

TEST_F(NativesSystemTest, SizeAndLocalNames) {
    put_bytes(path("five"), "12345");
    mkdir(path("dir").c_str(), 0700);
    expect_cases({
        {("size? " + f("five")).c_str(), "5"},
        {("size? " + f("dir")).c_str(), "none"},
        {("size? " + f("dir/")).c_str(), "none"},
        {("size? " + f("missing")).c_str(), "none"},
        {"to-local-file %/usr/lib/x", "\"/usr/lib/x\""},
        {"to-local-file \"a\\b\"", "\"a\\b\""},
        {"to-local-file %\"a b\"", "\"a b\""},
        {"to-local-file/full %/abs", "\"/abs\""},
    });
    char* cwd = getcwd(nullptr, 0);
    std::string here = cwd;
    std::free(cwd);
    EXPECT_EQ(eval("to-local-file/full %rel/x"),
              "\"" + (here == "/" ? std::string("/") : here + "/") + "rel/x\"");
}

TEST_F(NativesSystemTest, Recycle) {
    expect_cases({
        {"type? recycle", "integer!"},
        {"type? recycle/off", "unset!"},
        {"type? recycle/on", "unset!"},
    });
    interp_run_on_big_stack([] { eval_here("recycle/off"); });
    EXPECT_FALSE(g_gc.enabled);
    interp_run_on_big_stack([] { eval_here("recycle/on"); });
    EXPECT_TRUE(g_gc.enabled);
    u32 cycles = g_gc.series_cycles;
    eval("recycle");
    EXPECT_GT(g_gc.series_cycles, cycles);
}

TEST_F(NativesSystemTest, Call) {
    expect_cases({
        {"call \"\"", "0"},
        {"call/wait \"false\"", "1"},
        {"call/wait/show \"true\"", "0"},
        {"o: copy \"\" call/output {printf \"%s|\" a \"b c\"} o o", "\"a|b c|\""},
        {"o: copy #{} call/input/output \"cat\" #{0001FF} o o", "#{0001FF}"},
        {"call/shell/wait \"exit 7\"", "7"},
        {"call/wait \"/no/such/program\"", "127"},
        {"call/input \"true\" %/no/such/input/file", "-1"},
    });
    EXPECT_EQ(eval_error_id("call 12"), "script/expect-arg");
}

TEST_F(NativesSystemTest, FileActions) {
    std::string a = f("a.txt");
    expect_cases({
        {("write " + a + " \"one^/two\"").c_str(), "unset"},
        {("read " + a).c_str(), "\"one^/two\""},
        {("read/lines " + a).c_str(), "[\"one\" \"two\"]"},
        {("read/binary " + a).c_str(), "#{6F6E650A74776F}"},
        {("read/part " + a + " 3").c_str(), "\"one\""},
        {("read/seek " + a + " 4").c_str(), "\"two\""},
        {("write/append " + a + " \"!\" read " + a).c_str(), "\"one^/two!\""},
        {("write/lines " + f("l.txt") + " [\"x\" 2 y] read " + f("l.txt")).c_str(),
         "{x^/2^/y^/}"},
        {("write " + f("n.txt") + " 12 read " + f("n.txt")).c_str(), "\"12\""},
        {("type? query " + a).c_str(), "date!"},
        {("query " + f("missing")).c_str(), "none"},
        {("rename " + a + " " + f("b.txt")).c_str(), "true"},
        {("read " + f("b.txt")).c_str(), "\"one^/two!\""},
        {("delete " + f("b.txt")).c_str(), "true"},
        {("delete " + f("b.txt")).c_str(), "false"},
    });
    EXPECT_EQ(get_bytes(path("l.txt")), "x\n2\ny\n");
    mkdir(path("sub").c_str(), 0700);
    EXPECT_EQ(eval("sort read %" + dir_ + "/"), "[%l.txt %n.txt %sub/]");
    EXPECT_EQ(eval_error_id("read " + f("missing")), "access/cannot-open");
    EXPECT_EQ(eval_error_line("read " + f("missing")),
              "*** Access Error: cannot open: " + f("missing") +
                  " reason: \"No such file or directory\"");
    EXPECT_EQ(eval_error_id("read " + f("nothing/")), "access/cannot-open");
    EXPECT_EQ(eval_error_id("write " + f("no/such") + " 1"), "access/cannot-open");
    EXPECT_EQ(eval_error_id("read/part " + f("l.txt") + " \"x\""), "script/expect-arg");
}

TEST_F(NativesSystemTest, RoutinesThroughTheInterpreter) {
    put_bytes(path("here"), "x");
    expect_cases({
        {"shift-right -8 1", "-4"},
        {"shift-logical -8 1", "2147483644"},
        {"shift-left 1 32", "0"},
        {"as-color 256 1 2", "0.1.2"},
        {"as-ipv4 127 0 0 1", "127.0.0.1"},
        {"block? []", "true"},
        {"block? \"\"", "false"},
        {"unset? ()", "true"},
        {"any-list? make hash! []", "true"},
        {"any-string? %f", "true"},
        {"any-list!: make typeset! [string!] any-list? []", "false"},
        {"series? #{00}", "true"},
        {"count-chars b: to binary! \"\u00e9\" tail b", "1"},
        {("exists? " + f("here")).c_str(), "true"},
        {("exists? " + f("gone")).c_str(), "false"},
        {"b: reduce [stack-size? frame-index?] b/1 = b/2", "true"},
        {"pick-stack 0", "none"},
        {"pick-stack 100000", "none"},
        {"tracing?", "false"},
        {"type? os-info", "object!"},
        {"o: os-info o/arch = 'x86-64", "true"},
        {"f: func [] [collect-calls copy []] b: f b/1", "collect-calls"},
        {"f: func [] [collect-calls copy []] b: f b/3", "f"},
    });
    // The interpreter checks the arguments against the spec.
    EXPECT_EQ(eval_error_id("shift-right \"8\" 1"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("as-color -1 0 0"), "script/invalid-arg");
    EXPECT_EQ(eval_error_id("set-quiet 1 2"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("set-slot-quiet \"s\" 2"), "script/expect-arg");
    EXPECT_EQ(eval_error_id("create-dir " + f("here")), "access/no-create");
    EXPECT_EQ(eval("create-dir " + f("made") + " exists? " + f("made")), "true");
}

TEST_F(NativesSystemTest, QuietSettersSkipTheHandlers) {
    expect_cases({
        {"n: 0 o: make object! [a: 1 on-change*: func [w old new] [n: n + 1]] o/a: 2 n", "1"},
        {"n: 0 o: make object! [a: 1 on-change*: func [w old new] [n: n + 1]] "
         "set-quiet in o 'a 5 reduce [o/a n]",
         "[5 0]"},
        {"b: [1 2] set-slot-quiet next b 9 b", "[1 9]"},
        {"b: [] set-slot-quiet b 9", "[]"},
    });
}

TEST_F(NativesSystemTest, LastLineFeed) {
    expect_cases({
        {"prin \"a\" last-lf?", "false"},
        {"print \"a\" last-lf?", "true"},
    });
    EXPECT_EQ(printed_text(), "aa\n");
}

}  // namespace
}  // namespace zan::evaltest

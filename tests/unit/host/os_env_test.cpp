// The command line (joining arguments so that the start-up splitting rule
// gives them back), the environment list and the os-info description.
#include <sys/utsname.h>

#include "host/host_test_support.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/io/host/os_env.h"

namespace zan::test {
namespace {

using Args = std::vector<std::string>;

class OsEnvTest : public HostTest {};

TEST_F(OsEnvTest, SplittingRule) {
    struct Case {
        const char* line;
        Args args;
    } cases[] = {
        // The example of the start-up rule: quotes dropped, c on its own.
        {"prog \"a b\" c", {"prog", "a b", "c"}},
        {"  a\t\tb  ", {"a", "b"}},
        {"", {}},
        {"\"\"", {""}},
        {"\"", {""}},
        // Inner quotes stay; a quote opens a mode where separators do not
        // split.
        {"a\"b c\"d e", {"a\"b c\"d", "e"}},
        {"ab\" x", {"ab\" x"}},
        {"\"a\"b", {"a\"b"}},
        {"ab\"\"", {"ab\""}},
    };
    for (const Case& c : cases) EXPECT_EQ(command_line_split(c.line), c.args) << c.line;
}

TEST_F(OsEnvTest, JoinedArgumentsSplitBack) {
    const Args lists[] = {
        {"/usr/bin/zan", "script.zan", "plain"},
        {"/opt/my apps/zan", "a b", "", "c"},
        {"zan", "say \"hi\"", "x"},
        {"zan", "a\"b", "\"lead", "trail\"", "\"both\"", "\"\""},
        {"zan", "tab\there", "a \"b", "a\" b"},
        {"zan", "h\xC3\xA9llo w\xC3\xB6rld"},
    };
    for (const Args& args : lists) {
        bool exact = false;
        std::string line = command_line_join(args, &exact);
        EXPECT_TRUE(exact) << line;
        EXPECT_EQ(command_line_split(line), args) << line;
    }
    // Plain arguments are written as they are.
    EXPECT_EQ(command_line_join({"zan", "-v", "x.zan"}), "zan -v x.zan");
    EXPECT_EQ(command_line_join({"zan", "a b", ""}), "zan \"a b\" \"\"");
    // Some arguments have no spelling: a separator before a closing quote,
    // a lone double quote (every spelling leaves the quote mode open or
    // drops the quote).
    for (const char* arg : {"a b\"", "\""}) {
        bool exact = true;
        command_line_join({"zan", arg}, &exact);
        EXPECT_FALSE(exact) << arg;
    }
}

TEST_F(OsEnvTest, CommandLineString) {
    const char* argv[] = {"/usr/bin/zan", "my script.zan", "--flag", "\xC3\xA9t\xC3\xA9"};
    host_set_command_line(4, argv);
    ValueCell* s = os_command_line();
    ASSERT_EQ(s->type(), TYPE_STRING);
    EXPECT_EQ(text(s), "/usr/bin/zan \"my script.zan\" --flag \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(command_line_split(text(s)),
              (Args{"/usr/bin/zan", "my script.zan", "--flag", "\xC3\xA9t\xC3\xA9"}));
    // Bytes that are not UTF-8 become U+FFFD instead of failing.
    const char* bad[] = {"zan", "a\xFF" "b"};
    host_set_command_line(2, bad);
    EXPECT_EQ(text(os_command_line()), "zan a\xEF\xBF\xBD" "b");
}

TEST_F(OsEnvTest, LenientDecodingReplacesEachMaximalInvalidPartOnce) {
    // Expected results are those of the usual replacement decoding (Python's
    // bytes.decode("utf-8", "replace")): nothing after a broken sequence is
    // lost.
#define R "\xEF\xBF\xBD"
    struct Case {
        std::string bytes, text;
    } const cases[] = {
        {"A\xE9" "BCD", "A" R "BCD"},
        {"caf\xE9 ok", "caf" R " ok"},
        {"\xE2\x82", R},
        {"\xE2\x82" "A", R "A"},
        {"\xF0\x9F\x98x", R "x"},
        {"\xF1\x80\x80\xE1\x80" "C", R R "C"},
        {"\xED\xA0\x80", R R R},
        {"\xF0\x80\x80\x80", R R R R},
        {"\xE0\x80\xAF", R R R},
        {"\xC0\xAF", R R},
        {"\xF4\x90\x80\x80", R R R R},
        {"\xFF\xFE", R R},
        {"\x80\x80", R R},
        {"\xC3\xA9\xF0\x9F\x98\x80", "\xC3\xA9\xF0\x9F\x98\x80"},
    };
#undef R
    for (const Case& c : cases)
        EXPECT_EQ(text(string_load_lenient_push(c.bytes.data(), c.bytes.size())), c.text)
            << c.bytes;
}

TEST_F(OsEnvTest, EnvironmentList) {
    const char* env[] = {"=C:=C:\\", "EMPTY=", "PATH=/bin:/usr/bin", "EQ=a=b", "NOEQ", nullptr};
    ValueCell* m = os_list_env(env);
    ASSERT_EQ(m->type(), TYPE_MAP);
    EXPECT_EQ(map_count(m), 5);
    auto get = [&](const char* name) {
        ValueCell* key = str(name);
        ValueCell* r = action_select_dispatch(m, key, nullptr, false, true, false, false, nullptr,
                                              nullptr, false, false);
        return r->type() == TYPE_STRING ? text(r) : std::string("<none>");
    };
    EXPECT_EQ(get("=C:"), "C:\\");
    EXPECT_EQ(get("EMPTY"), "");
    EXPECT_EQ(get("PATH"), "/bin:/usr/bin");
    EXPECT_EQ(get("EQ"), "a=b");
    EXPECT_EQ(get("NOEQ"), "");
    // The process's own environment.
    ASSERT_EQ(setenv("ZAN_HOST_TEST_VAR", "v\xC3\xA9", 1), 0);
    ValueCell* own = os_list_env(nullptr);
    ValueCell* key = str("ZAN_HOST_TEST_VAR");
    ValueCell* r = action_select_dispatch(own, key, nullptr, false, true, false, false, nullptr,
                                          nullptr, false, false);
    ASSERT_EQ(r->type(), TYPE_STRING);
    EXPECT_EQ(text(r), "v\xC3\xA9");
    unsetenv("ZAN_HOST_TEST_VAR");
}

TEST_F(OsEnvTest, GetAndSetVariables) {
    std::string v;
    EXPECT_TRUE(os_set_env("ZAN_HOST_X", "1"));
    EXPECT_TRUE(os_get_env("ZAN_HOST_X", &v));
    EXPECT_EQ(v, "1");
    EXPECT_TRUE(os_set_env("ZAN_HOST_X", ""));
    EXPECT_TRUE(os_get_env("ZAN_HOST_X", &v));
    EXPECT_EQ(v, "");
    EXPECT_TRUE(os_set_env("ZAN_HOST_X", nullptr));
    EXPECT_FALSE(os_get_env("ZAN_HOST_X", &v));
    EXPECT_FALSE(os_set_env("", "x"));
    EXPECT_FALSE(os_set_env("A=B", "x"));
}

TEST_F(OsEnvTest, ArchitectureNames) {
    struct Case {
        const char* machine;
        const char* arch;
    } cases[] = {{"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"},
                 {"aarch64", "ARM64"}, {"armv7l", "ARM"},  {"ia64", "IA-64"},
                 {"riscv64", "Unknown"}};
    for (const Case& c : cases) EXPECT_STREQ(os_arch_name(c.machine), c.arch) << c.machine;
}

TEST_F(OsEnvTest, ReleaseAndBuildNumbers) {
    struct Case {
        const char* release;
        u32 v[3];
    } cases[] = {{"6.1.0-18-amd64", {6, 1, 0}},
                 {"5.15.153.1-microsoft-standard-WSL2", {5, 15, 153}},
                 {"4.9", {4, 9, 0}},
                 {"3.10.1000", {3, 10, 255}},
                 {"weird", {0, 0, 0}}};
    for (const Case& c : cases) {
        u32 out[3];
        os_release_numbers(c.release, out);
        EXPECT_EQ(out[0], c.v[0]) << c.release;
        EXPECT_EQ(out[1], c.v[1]) << c.release;
        EXPECT_EQ(out[2], c.v[2]) << c.release;
    }
    EXPECT_EQ(os_build_number("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"), 1);
    EXPECT_EQ(os_build_number("#42-Ubuntu SMP"), 42);
    EXPECT_EQ(os_build_number("no number"), 0);
}

TEST_F(OsEnvTest, OsInfoObject) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    ValueCell* obj = os_info();
    ASSERT_EQ(obj->type(), TYPE_OBJECT);
    EXPECT_EQ(object_word_count(obj), 4u);
    auto field = [&](const char* name) {
        ValueCell w = word(name);
        return *object_select_word(obj, &w);
    };
    ValueCell name = field("name");
    ASSERT_EQ(name.type(), TYPE_STRING);
    EXPECT_EQ(text(&name), std::string(u.sysname) + " " + u.release);
    ValueCell arch = field("arch");
    ASSERT_EQ(arch.type(), TYPE_WORD);
    EXPECT_STREQ(symbol_to_cstr(word_symbol(&arch)), os_arch_name(u.machine));
    ValueCell version = field("version");
    ASSERT_EQ(version.type(), TYPE_TUPLE);
    u32 nums[3];
    os_release_numbers(u.release, nums);
    EXPECT_EQ(mold(version), std::to_string(nums[0]) + "." + std::to_string(nums[1]) + "." +
                                 std::to_string(nums[2]));
    ValueCell build = field("build");
    ASSERT_EQ(build.type(), TYPE_INTEGER);
    EXPECT_EQ(integer_get(&build), os_build_number(u.version));
}

TEST_F(OsEnvTest, EnsureValueType) {
    ValueCell* s = str("x");
    ensure_value_type(s, TYPE_STRING);
    EXPECT_EQ(error_of([&] { ensure_value_type(s, TYPE_BLOCK); }), Err::script_invalid_arg);
}

}  // namespace
}  // namespace zan::test

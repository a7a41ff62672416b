// The system routines called through an argument frame as the interpreter
// calls them: shifts, tuples, character counts, quiet setters, directories,
// the stacks, standard output, the predicates, the collector routines and
// the exit.
#include <fcntl.h>

#include "host/host_test_support.h"
#include "runtime/core/collector.h"
#include "runtime/core/layout.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/io/host/routines_system.h"
#include "runtime/io/host/routines_system_internal.h"

namespace zan::test {
namespace {

class RoutinesTest : public HostTest {
protected:
    // The entry registered under the name (null when absent).
    static RoutineFn fn(const char* name) {
        u32 k = routine_table_find(name);
        EXPECT_NE(k, 0u) << name;
        return k ? routine_table_entry(k) : nullptr;
    }
    static ValueCell run(const char* name, std::initializer_list<ValueCell> args) {
        return call(args, fn(name));
    }
    static i32 run_int(const char* name, std::initializer_list<ValueCell> args) {
        ValueCell r = run(name, args);
        EXPECT_EQ(r.type(), TYPE_INTEGER) << name;
        return integer_get(&r);
    }
    static bool run_logic(const char* name, std::initializer_list<ValueCell> args) {
        ValueCell r = run(name, args);
        EXPECT_EQ(r.type(), TYPE_LOGIC) << name;
        return logic_get(&r);
    }
    static ValueCell bin(const std::string& bytes) {
        return *binary_load(ByteSource(bytes.data()), static_cast<u32>(bytes.size()));
    }
};

TEST_F(RoutinesTest, TableAndRegistration) {
    const u32 n = SYSTEM_ROUTINE_COUNT;
    const SystemRoutine* all = g_system_routines;
    EXPECT_EQ(n, 90u);
    routine_table_reset();
    routines_system_register();
    // Numbered 1 to n, one number each.
    EXPECT_EQ(routine_table_entry(n + 1), nullptr);
    for (u32 i = 0; i < n; i++) {
        u32 k = routine_table_find(all[i].name);
        ASSERT_NE(k, 0u) << all[i].name;
        EXPECT_LE(k, n) << all[i].name;
        EXPECT_EQ(routine_table_entry(k), all[i].entry);
        EXPECT_EQ(all[i].spec[0], '[');
    }
    const SystemRoutine* any_list = nullptr;
    for (u32 i = 0; i < n; i++)
        if (std::string(all[i].name) == "any-list?") any_list = &all[i];
    ASSERT_NE(any_list, nullptr);
    EXPECT_STREQ(any_list->spec,
                 "[\"Returns true if the value is any type of any-list\" value [any-type!] "
                 "return: [logic!]]");
}

TEST_F(RoutinesTest, Shifts) {
    struct Case {
        const char* name;
        i32 data, bits, result;
    } cases[] = {
        {"shift-right", -8, 1, -4},           {"shift-logical", -8, 1, 2147483644},
        {"shift-left", 1, 31, INT32_MIN},     {"shift-right", -1, 40, -1},
        {"shift-left", 1, 32, 0},             {"shift-right", 8, -1, 8},
        {"shift-right", 8, 40, 0},            {"shift-logical", -1, 32, 0},
        {"shift-left", 3, 2, 12},             {"shift-logical", 256, 4, 16},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run_int(c.name, {integer(c.data), integer(c.bits)}), c.result)
            << c.name << " " << c.data << " " << c.bits;
}

TEST_F(RoutinesTest, Tuples) {
    EXPECT_EQ(mold(run("as-color", {integer(256), integer(1), integer(2)})), "0.1.2");
    EXPECT_EQ(mold(run("as-color", {integer(255), integer(128), integer(0)})), "255.128.0");
    EXPECT_EQ(mold(run("as-ipv4", {integer(192), integer(168), integer(0), integer(1)})),
              "192.168.0.1");
    // Above 255 an argument is reduced like as-color's, not spread into the
    // next byte.
    EXPECT_EQ(mold(run("as-ipv4", {integer(10), integer(0), integer(0), integer(300)})),
              "10.0.0.44");
    EXPECT_EQ(mold(run("as-rgba", {integer(1), integer(2), integer(3), integer(4)})), "1.2.3.4");
    EXPECT_EQ(error_of([&] { run("as-color", {integer(-1), integer(0), integer(0)}); }),
              Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] {
                  run("as-rgba", {integer(1), integer(-2), integer(3), integer(-4)});
              }),
              Err::script_invalid_arg);
}

TEST_F(RoutinesTest, CountChars) {
    // "a", U+00E9, U+20AC, U+1F600: 1, 2, 3 and 4 bytes.
    ValueCell b = bin("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    ValueCell tail = b;
    series_set_index(&tail, 10);
    EXPECT_EQ(run_int("count-chars", {b, tail}), 4);
    ValueCell e = bin("\xC3\xA9");
    ValueCell e_tail = e;
    series_set_index(&e_tail, 2);
    EXPECT_EQ(run_int("count-chars", {e, e_tail}), 1);
    // A position inside a character counts the character it passes into.
    ValueCell mid = b;
    series_set_index(&mid, 2);
    EXPECT_EQ(run_int("count-chars", {b, mid}), 2);
    // At or before the start: 0.
    EXPECT_EQ(run_int("count-chars", {mid, b}), 0);
    EXPECT_EQ(run_int("count-chars", {b, b}), 0);
    // A rejected byte counts once.
    ValueCell bad = bin("\xFF" "a");
    ValueCell bad_tail = bad;
    series_set_index(&bad_tail, 2);
    EXPECT_EQ(run_int("count-chars", {bad, bad_tail}), 2);
    // Positions of two different series cannot be compared.
    EXPECT_EQ(error_of([&] { run("count-chars", {b, e_tail}); }), Err::script_invalid_arg);
}

TEST_F(RoutinesTest, SetSlotQuiet) {
    ValueCell* b = blk({integer(1), integer(2), integer(3)});
    ValueCell at1 = *b;
    series_set_index(&at1, 1);
    ValueCell r = run("set-slot-quiet", {at1, *str("x")});
    EXPECT_EQ(r.type(), TYPE_BLOCK);
    EXPECT_EQ(series_index(&r), 1);
    EXPECT_EQ(mold(*b), "[1 \"x\" 3]");
    ValueCell tail = *b;
    series_set_index(&tail, 3);
    run("set-slot-quiet", {tail, integer(9)});
    EXPECT_EQ(mold(*b), "[1 \"x\" 3]");
    ValueCell* empty = blk({});
    EXPECT_EQ(mold(run("set-slot-quiet", {*empty, integer(1)})), "[]");
    ValueCell* path = blk({word("a"), word("b")}, {}, TYPE_PATH);
    run("set-slot-quiet", {*path, word("c")});
    EXPECT_EQ(mold(*path), "c/b");
    EXPECT_EQ(error_of([&] { run("set-slot-quiet", {*str("abc"), integer(1)}); }),
              Err::script_expect_arg);
}

TEST_F(RoutinesTest, SetQuiet) {
    ValueCell obj;
    object_make_at(&obj, 2);
    ValueCell* held = stack_push(&obj);
    ValueCell w = word("field");
    ValueCell one = integer(1);
    context_add_word_value(context_cell(held->data1), &w, &one);
    // A word bound to the object's field.
    ValueCell bound;
    cell_init(&bound, TYPE_SET_WORD, held->data1, symbol_make("field"),
              static_cast<u32>(context_find_word(context_cell(held->data1),
                                                 symbol_make("field"), true)));
    ValueCell r = run("set-quiet", {bound, integer(42)});
    EXPECT_EQ(mold(r), "42");
    EXPECT_EQ(mold(*object_select_word(held, &w)), "42");
    // A global word.
    ValueCell g = word("zan-quiet-global");
    run("set-quiet", {g, *str("v")});
    EXPECT_EQ(mold(*global_value_ptr(symbol_make("zan-quiet-global"))), "\"v\"");
    EXPECT_EQ(error_of([&] { run("set-quiet", {integer(1), integer(2)}); }),
              Err::script_expect_arg);
}

TEST_F(RoutinesTest, Directories) {
    std::string start = cwd();
    ValueCell here = run("get-current-dir", {});
    ASSERT_EQ(here.type(), TYPE_STRING);
    EXPECT_EQ(text(&here), start == "/" ? "/" : start + "/");

    ValueCell d = *file(at("made"));
    EXPECT_EQ(run("create-dir", {d}).type(), TYPE_FILE);
    EXPECT_TRUE(exists(at("made")));
    EXPECT_EQ(error_of([&] { run("create-dir", {d}); }), Err::access_no_create);
    ValueCell deep = *file(at("a/b/c"));
    EXPECT_EQ(error_of([&] { run("create-dir", {deep}); }), Err::access_no_create);

    EXPECT_TRUE(run_logic("exists?", {d}));
    put_bytes(at("f"), "x");
    EXPECT_TRUE(run_logic("exists?", {*file(at("f"))}));
    EXPECT_FALSE(run_logic("exists?", {*file(at("none"))}));
    std::string with_nul = at("f") + std::string(1, '\0');
    EXPECT_FALSE(run_logic("exists?", {*file(with_nul)}));

    EXPECT_EQ(run("set-current-dir", {d}).type(), TYPE_FILE);
    EXPECT_EQ(cwd(), at("made"));
    here = run("get-current-dir", {});
    EXPECT_EQ(text(&here), at("made") + "/");
    EXPECT_EQ(error_of([&] { run("set-current-dir", {*file(at("none"))}); }),
              Err::access_cannot_open);
    ASSERT_EQ(chdir(start.c_str()), 0);
}

TEST_F(RoutinesTest, OsInfo) {
    ValueCell r = run("os-info", {});
    ASSERT_EQ(r.type(), TYPE_OBJECT);
    EXPECT_EQ(object_word_count(&r), 4u);
}

TEST_F(RoutinesTest, Stacks) {
    ValueCell* mark = g_stack.top;
    // Each call leaves its result on the stack: measure right before it.
    i32 size = static_cast<i32>(g_stack.top - g_stack.bottom);
    EXPECT_EQ(run_int("stack-size?", {}), size);
    size = static_cast<i32>(g_stack.top - g_stack.bottom);
    EXPECT_EQ(run_int("frame-index?", {}), size);
    g_stack.top = mark;
    ValueCell* arg_cell = g_stack.top;
    ValueCell r = run("frame-index?", {});
    EXPECT_EQ(integer_get(&r), static_cast<i32>(arg_cell - g_stack.bottom));
    // pick-stack reads the cells below its own frame.
    ValueCell* marker = str("marker");
    i32 idx = static_cast<i32>(marker - g_stack.bottom);
    ValueCell got = run("pick-stack", {integer(idx)});
    EXPECT_EQ(text(&got), "marker");
    i32 below = static_cast<i32>(g_stack.top - g_stack.bottom);
    EXPECT_EQ(run("pick-stack", {integer(below)}).type(), TYPE_NONE);
    EXPECT_EQ(run("pick-stack", {integer(0)}).type(), TYPE_NONE);
    EXPECT_EQ(run("pick-stack", {integer(-5)}).type(), TYPE_NONE);
    g_stack.top = mark;
}

TEST_F(RoutinesTest, CollectCalls) {
    ValueCell* mark = g_stack.top;
    ValueCell outer = word("outer-fn");
    ValueCell inner = word("inner-fn");
    // Each frame reports the argument base it saved: its caller's.
    i32 base0 = static_cast<i32>(g_stack.base - g_stack.bottom);
    stack_mark_native(&outer);
    ValueCell one = integer(1);
    stack_push(&one);
    stack_mark_native(g_words.n.body);  // left out
    i32 base1 = static_cast<i32>(g_stack.base - g_stack.bottom);
    stack_mark_native(&inner);
    ValueCell* b = blk({});
    ValueCell r = run("collect-calls", {*b});
    stack_unwind();
    stack_unwind();
    stack_unwind();
    // The routine's own frame is named <body> by the test helper.
    EXPECT_EQ(mold(r), "[inner-fn " + std::to_string(base1) + " outer-fn " +
                           std::to_string(base0) + "]");
    g_stack.top = mark;
}

TEST_F(RoutinesTest, FlagsOfTracingAndPrinting) {
    EXPECT_FALSE(run_logic("tracing?", {}));
    auto saved = g_services.trace_enabled;
    g_services.trace_enabled = [] { return true; };
    EXPECT_TRUE(run_logic("tracing?", {}));
    g_services.trace_enabled = saved;

    auto hook = g_last_lf_hook;
    g_last_lf_hook = nullptr;
    EXPECT_FALSE(run_logic("last-lf?", {}));
    g_last_lf_hook = [] { return true; };
    EXPECT_TRUE(run_logic("last-lf?", {}));
    g_last_lf_hook = hook;
}

TEST_F(RoutinesTest, WriteStdout) {
    std::string p = at("stdout.txt");
    std::fflush(stdout);
    int saved = dup(1);
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 1);
    close(fd);
    ValueCell r1 = run("write-stdout", {*str("h\xC3\xA9")});
    ValueCell r2 = run("write-stdout", {integer(42)});
    ValueCell r3 = run("write-stdout", {bin("!\n")});
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(get_bytes(p), "h\xC3\xA9" "42!\n");
    EXPECT_EQ(text(&r1), "h\xC3\xA9");
    EXPECT_EQ(mold(r2), "42");
    EXPECT_EQ(r3.type(), TYPE_BINARY);
}

TEST_F(RoutinesTest, DatatypePredicates) {
    const SystemRoutine* all = g_system_routines;
    u32 tested = 0;
    for (u32 i = 24; i < 24 + 48; i++) {
        std::string type_name = std::string(all[i].name);
        type_name.back() = '!';
        u32 type = type_id_of_name(type_name.c_str());
        ASSERT_NE(type, 0u) << all[i].name;
        for (u32 t = 1; t <= TYPE_LAST; t++) {
            ValueCell v;
            cell_init(&v, t);
            ValueCell r = call({v}, all[i].entry);
            EXPECT_EQ(logic_get(&r), t == type) << all[i].name << " on " << type_name_of(t);
        }
        tested++;
    }
    EXPECT_EQ(tested, 48u);
}

TEST_F(RoutinesTest, TypesetPredicatesFollowTheGlobalWord) {
    auto define = [](const char* name, std::initializer_list<u32> types) {
        ValueCell ts;
        typeset_make_at(&ts, 0, 0, 0);
        for (u32 t : types) typeset_add_type(&ts, t);
        ValueCell w = *word_load(name);
        context_set(&w, &ts);
    };
    ValueCell hash;
    cell_init(&hash, TYPE_HASH);
    ValueCell s = *str("s");
    // Before the typeset exists the answer is false.
    EXPECT_FALSE(run_logic("any-list?", {hash}));
    define("any-list!", {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    EXPECT_TRUE(run_logic("any-list?", {hash}));
    EXPECT_FALSE(run_logic("any-list?", {s}));
    define("any-list!", {TYPE_STRING});
    EXPECT_FALSE(run_logic("any-list?", {hash}));
    EXPECT_TRUE(run_logic("any-list?", {s}));
    define("planar!", {TYPE_PAIR, TYPE_POINT2D});
    ValueCell pair;
    cell_init(&pair, TYPE_PAIR);
    EXPECT_TRUE(run_logic("planar?", {pair}));
    EXPECT_FALSE(run_logic("series?", {s}));
}

TEST_F(RoutinesTest, CollectorRoutines) {
    g_gc.enabled = true;
    EXPECT_TRUE(run_logic("active?", {}));
    g_gc.enabled = false;
    EXPECT_FALSE(run_logic("active?", {}));
    i32 before = run_int("series-cycles", {});
    gc_collect();
    EXPECT_EQ(run_int("series-cycles", {}), before + 1);
    EXPECT_GE(run_int("nodes-cycles", {}), 0);
}

// Without a display the clipboard is the process's own: what is written is
// read back unchanged, LF line ends included.
TEST_F(RoutinesTest, ClipboardWithoutADisplayRoundTrips) {
    std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
    std::string wayland = getenv("WAYLAND_DISPLAY") ? getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(run_logic("write-clipboard", {*str("a\nb\n")}));
    ValueCell r = run("read-clipboard", {});
    EXPECT_EQ(r.type(), static_cast<u32>(TYPE_STRING));
    EXPECT_EQ(text(&r), "a\nb\n");
    EXPECT_TRUE(run_logic("write-clipboard", {g_none_cell}));
    EXPECT_EQ(run("read-clipboard", {}).type(), static_cast<u32>(TYPE_NONE));
    EXPECT_EQ(error_of([&] { run("write-clipboard", {integer(3)}); }), Err::script_invalid_arg);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
}

TEST_F(RoutinesTest, SystemWordsObject) {
    ValueCell v = *str("value");
    ValueCell w = *word_load("zan-words-probe");
    context_set(&w, &v);
    ValueCell* obj = system_words_object();
    ASSERT_EQ(obj->type(), TYPE_OBJECT);
    EXPECT_EQ(obj->data1, g_global_ctx);
    EXPECT_EQ(obj->data2, static_cast<u32>(-1));
    EXPECT_EQ(text(object_select_word(obj, &w)), "value");
    EXPECT_EQ(context_owner(g_global_ctx)->type(), TYPE_OBJECT);
}

using RoutinesDeathTest = RoutinesTest;

TEST_F(RoutinesDeathTest, QuitReturnEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run("quit-return", {integer(3)}), ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(run("quit-return", {integer(0)}), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zan::test

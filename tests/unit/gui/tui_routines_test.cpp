// The back end's routines that need no widget, called through an argument
// frame as the interpreter calls them.
#include "datatypes/fn_test_support.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"

namespace zan::test {
namespace {

class TuiRoutines : public FnTest {
protected:
    void SetUp() override {
        FnTest::SetUp();
        gui::tui_routines_register();
    }
    static RoutineFn entry(const char* name) {
        u32 n = routine_table_find(name);
        EXPECT_NE(n, 0u) << name;
        return routine_table_entry(n);
    }
    static ValueCell run(const char* name, std::initializer_list<ValueCell> args) {
        return call(args, entry(name));
    }
};

TEST_F(TuiRoutines, SizeTextOfAStringOrOfTheFacesText) {
    ValueCell* held = make_object("[type: none text: none]");
    set_field(held, "text", *str("wide \xE6\xBC\xA2\nab"));
    ValueCell face = *held;
    struct Case {
        const char* text;
        float cols, lines;
    } cases[] = {{"", 0, 1}, {"abc", 3, 1}, {"ab\ncdefg\n", 5, 3}, {"\xE6\xBC\xA2\xE5\xAD\x97", 4, 1}};
    for (const Case& c : cases) {
        ValueCell r = run("size-text", {face, *str(c.text)});
        ASSERT_EQ(r.type(), TYPE_POINT2D) << c.text;
        EXPECT_EQ(point_x(&r), c.cols) << c.text;
        EXPECT_EQ(point_y(&r), c.lines) << c.text;
    }
    ValueCell none;
    none_box(&none);
    ValueCell r = run("size-text", {face, none});
    ASSERT_EQ(r.type(), TYPE_POINT2D);
    EXPECT_EQ(point_x(&r), 7.0f);
    EXPECT_EQ(point_y(&r), 2.0f);
    // A face whose text is not a string measures none.
    ValueCell bare = *make_object("[type: none text: none]");
    EXPECT_EQ(run("size-text", {bare, none}).type(), TYPE_NONE);
    EXPECT_EQ(error_of([&] { run("size-text", {face, integer(5)}); }), Err::script_invalid_type);
}

TEST_F(TuiRoutines, ScreenHandlesAndTheSettledAnswers) {
    ValueCell size = run("get-screen-size", {integer(0)});
    ASSERT_EQ(size.type(), TYPE_PAIR);
    EXPECT_GT(pair_x(&size), 0);
    EXPECT_GT(pair_y(&size), 0);
    ValueCell h = run("make-null-handle", {});
    ASSERT_EQ(h.type(), TYPE_HANDLE);
    EXPECT_EQ(handle_get(&h), 0u);
    EXPECT_EQ(handle_kind(&h), static_cast<u32>(HANDLE_NONE));
    EXPECT_EQ(run("fetch-all-screens", {}).type(), TYPE_NONE);
    ValueCell f = run("support-dark-mode?", {});
    ASSERT_EQ(f.type(), TYPE_LOGIC);
    EXPECT_FALSE(logic_get(&f));
    gui::TuiBackend& b = gui::tui_backend();
    b.enter_loop();
    b.enter_loop();
    run("exit-event-loop", {});
    EXPECT_EQ(b.loop_level(), 1);
    run("exit-event-loop", {});
    run("exit-event-loop", {});
    EXPECT_EQ(b.loop_level(), 0);
}

TEST_F(TuiRoutines, FontAndParaChanges) {
    ValueCell* font = make_object("[name: none state: 1]");
    struct Case {
        i32 flags;
        bool drops;
    } cases[] = {{0, true}, {1, true}, {2, true}, {3, true}, {4, false}, {5, true}, {6, false}, {-1, false}};
    for (const Case& c : cases) {
        set_field(font, "state", integer(1));
        run("update-font", {*font, integer(c.flags)});
        EXPECT_EQ(field(font, "state").type(), c.drops ? TYPE_NONE : TYPE_INTEGER) << c.flags;
    }
    ValueCell* face = make_object("[text: none state: none]");
    ValueCell none;
    none_box(&none);
    set_field(face, "state", *blk({none, integer(5), none}));
    run("update-para", {*face, integer(0)});
    ValueCell state = field(face, "state");
    EXPECT_EQ(int_of(*block_cell_at(&state, 1)), 5 | (1 << 18));
    EXPECT_EQ(block_cell_at(&state, 0)->type(), TYPE_NONE);
    // A face not realised (no state block) is left alone.
    ValueCell* bare = make_object("[state: none]");
    run("update-para", {*bare, integer(0)});
    EXPECT_EQ(field(bare, "state").type(), TYPE_NONE);
}

}  // namespace
}  // namespace zan::test

// Rich text in the terminal: the cells laid out from a rich-text face's
// text and style data, the face drawn (and laid out again on update), the
// face drawn by the draw dialect's text command, and the text metrics.
#include "gui/tui_code_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_rich.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/point.h"

namespace zan::test {
namespace {

class TuiRich : public TuiCodeTest {
protected:
    ValueCell* rich(const char* text, const char* data) {
        ValueCell* f = full_face("rich-text");
        if (text) set_field(f, "text", *str(text));
        if (data) set_field(f, "data", value(data));
        return f;
    }
    static u32 color(u32 r, u32 g, u32 b) { return gui::color_from_tuple(r | (g << 8) | (b << 16)); }
    // The window (cols x rows) holding f realised, drawn.
    std::string drawn(ValueCell* f, int cols, int rows) {
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        ValueCell* win = face("window", pair(0, 0), pair(cols, rows));
        win_ = realise(win, null);
        realise(f, win_);
        gui::tui_backend().activate(handle_get(&win_));
        return rows_of(screen_);
    }
    ValueCell metrics(const ValueCell& f, const ValueCell& arg, i32 type) {
        return run("text-box-metrics", {f, arg, integer(type)});
    }
    ValueCell win_{0, 0, 0, 0};
    gui::TuiScreen screen_;
};

TEST_F(TuiRich, LayoutAppliesTheRangesToTheCharacters) {
    ValueCell* f = rich("abcdef", "[2x3 bold 255.0.0 4x2 backdrop 0.0.255 underline \"Mono\" 12 1x0 italic 5x9 strike]");
    set_field(f, "color", value("255.255.0"));
    std::vector<gui::TuiCell> cells = gui::rich_layout(f);
    ASSERT_EQ(cells.size(), 6u);
    const u32 yellow = color(255, 255, 0), red = color(255, 0, 0), blue = color(0, 0, 255);
    struct Expect {
        u32 attr, fg, bg;
    };
    const Expect expect[6] = {
        {0, 0, yellow},                                                    // a
        {gui::CELL_BOLD, red, yellow},                                     // b
        {gui::CELL_BOLD, red, yellow},                                     // c
        {gui::CELL_BOLD | gui::CELL_UNDERLINE, red, blue},                 // d
        {gui::CELL_UNDERLINE | gui::CELL_STRIKE, 0, blue},                 // e
        {gui::CELL_STRIKE, 0, yellow},                                     // f: the range is cut at the end
    };
    for (int i = 0; i < 6; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cells[static_cast<size_t>(i)].cp, static_cast<u32>("abcdef"[i]));
        EXPECT_EQ(cells[static_cast<size_t>(i)].attr, expect[i].attr);
        EXPECT_EQ(cells[static_cast<size_t>(i)].fg, expect[i].fg);
        EXPECT_EQ(cells[static_cast<size_t>(i)].bg, expect[i].bg);
    }
    // Characters beyond U+FFFF count once.
    f = rich("\xF0\x9F\x98\x80xy", "[2x1 bold]");
    cells = gui::rich_layout(f);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[1].attr, gui::CELL_BOLD);
    EXPECT_EQ(cells[2].attr, 0u);
    // No text, no cells; data that is not a block is ignored.
    EXPECT_TRUE(gui::rich_layout(rich(nullptr, "[1x1 bold]")).empty());
    f = rich("ab", nullptr);
    set_field(f, "data", integer(3));
    EXPECT_EQ(gui::rich_layout(f).size(), 2u);
}

TEST_F(TuiRich, FaceIsDrawnAlignedAndLaidOutAgainOnUpdate) {
    ValueCell* f = rich("ab\ncd", "[1x2 italic]");
    set_field(f, "size", pair(6, 3));
    ValueCell* para = make_object("[align: none v-align: none wrap?: false]");
    set_field(para, "align", word("right"));
    set_field(para, "v-align", word("bottom"));
    set_field(f, "para", *para);
    EXPECT_EQ(drawn(f, 6, 3), "      |    ab|    cd|");
    EXPECT_TRUE(screen_.at(4, 1).attr & gui::CELL_ITALIC);
    EXPECT_FALSE(screen_.at(4, 2).attr & gui::CELL_ITALIC);

    set_field(f, "data", value("[4x2 bold]"));
    run("update-view", {*f});
    rows_of(screen_);
    EXPECT_FALSE(screen_.at(4, 1).attr & gui::CELL_ITALIC);
    EXPECT_TRUE(screen_.at(4, 2).attr & gui::CELL_BOLD);
    EXPECT_TRUE(screen_.at(5, 2).attr & gui::CELL_BOLD);
}

TEST_F(TuiRich, WrappedRowsArePlacedEachByItsOwnWidth) {
    struct Case {
        const char* align;
        const char* v_align;
        const char* rows;
    } cases[] = {
        {"center", "top", "abcdef|  gh  |      |"},
        {"right", "top", "abcdef|    gh|      |"},
        {"center", "bottom", "      |abcdef|  gh  |"},
        {"left", "top", "abcdef|gh    |      |"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.align);
        ValueCell* f = rich("abcdefgh", "[7x1 bold]");
        set_field(f, "size", pair(6, 3));
        ValueCell* para = make_object("[align: none v-align: none wrap?: true]");
        set_field(para, "align", word(c.align));
        set_field(para, "v-align", word(c.v_align));
        set_field(f, "para", *para);
        EXPECT_EQ(drawn(f, 6, 3), c.rows);
    }
    // The style of a range follows its character onto the next row (the
    // last case leaves "g" in the first column).
    EXPECT_TRUE(screen_.at(0, 1).attr & gui::CELL_BOLD);
    EXPECT_FALSE(screen_.at(1, 1).attr & gui::CELL_BOLD);
}

TEST_F(TuiRich, DrawTextOfARichTextFace) {
    // A face with no widget, drawn by a base face's draw block.
    ValueCell* r = rich("xy", "[2x1 0.255.0]");
    ValueCell* cmds = blk({word("pen"), value("255.0.0"), word("text"), pair(1, 0), *r});
    ValueCell* f = full_face("base");
    set_field(f, "offset", pair(1, 1));
    set_field(f, "size", pair(5, 2));
    set_field(f, "draw", *cmds);
    EXPECT_EQ(drawn(f, 7, 3), "       |  xy   |       |");  // at the face's 1x1 plus 1x0
    EXPECT_EQ(screen_.at(2, 1).fg, color(255, 0, 0));  // the pen colours the plain characters
    EXPECT_EQ(screen_.at(3, 1).fg, color(0, 255, 0));  // the range keeps its own
}

TEST_F(TuiRich, TextMetrics) {
    ValueCell* f = rich("ab\n\xE4\xB8\xAD" "c", nullptr);  // "ab", then a wide character and "c"
    struct Point {
        i32 type;
        i32 index;
        float x, y;
    };
    const Point offsets[] = {
        {0, 1, 0, 0}, {0, 3, 2, 0}, {0, 4, 0, 1}, {0, 5, 2, 1}, {0, 99, 3, 1}, {0, -5, 0, 0}, {6, 4, 0, 2},
    };
    for (const Point& p : offsets) {
        SCOPED_TRACE(std::to_string(p.type) + " " + std::to_string(p.index));
        ValueCell r = metrics(*f, integer(p.index), p.type);
        ASSERT_EQ(r.type(), TYPE_POINT2D);
        EXPECT_EQ(point_x(&r), p.x);
        EXPECT_EQ(point_y(&r), p.y);
    }
    struct Index {
        i32 type;
        i32 x, y;
        i32 index;
    };
    const Index indexes[] = {
        {1, 0, 0, 1}, {1, 1, 1, 4}, {1, 2, 1, 5}, {1, 3, 1, 6}, {1, 9, 0, 3},
        {5, 3, 1, 5}, {5, 9, 0, 2}, {5, 0, 7, 4}, {5, -3, -3, 1},
    };
    for (const Index& p : indexes) {
        SCOPED_TRACE(std::to_string(p.type) + " " + std::to_string(p.x) + "x" + std::to_string(p.y));
        ValueCell r = metrics(*f, pair(p.x, p.y), p.type);
        ASSERT_EQ(r.type(), TYPE_INTEGER);
        EXPECT_EQ(integer_get(&r), p.index);
    }
    ValueCell h = metrics(*f, integer(1), 2);
    ASSERT_EQ(h.type(), TYPE_FLOAT);
    EXPECT_EQ(float_get(&h), 1.0);
    ValueCell size = metrics(*f, integer(0), 3);
    ASSERT_EQ(size.type(), TYPE_POINT2D);
    EXPECT_EQ(point_x(&size), 3.0f);
    EXPECT_EQ(point_y(&size), 2.0f);
    ValueCell lines = metrics(*f, integer(0), 4);
    EXPECT_EQ(integer_get(&lines), 2);

    // No text: none. Another type of face: face-type.
    EXPECT_EQ(metrics(*rich(nullptr, nullptr), integer(0), 4).type(), TYPE_NONE);
    ValueCell* other = face("base", pair(0, 0), pair(1, 1));
    ValueCell err = caught([&] { metrics(*other, integer(0), 4); });
    EXPECT_EQ(id_of(err), "face-type");
    err = caught([&] { metrics(*f, *str("x"), 0); });
    EXPECT_EQ(id_of(err), "invalid-type");
}

}  // namespace
}  // namespace zan::test

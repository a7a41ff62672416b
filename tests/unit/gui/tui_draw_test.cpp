// The draw dialect on the cell buffer: each drawing command cell by cell
// (characters, foreground and background), placement relative to the face
// and clipping to it, the commands that are only read, push keeping the
// paint, the two errors and system/view/silent?.
#include "gui/tui_code_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_draw.h"
#include "gui/terminal/tui_face.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/tuple.h"

namespace zan::test {
namespace {

class TuiDraw : public TuiCodeTest {
protected:
    // A window of 12 x 6 cells holding one base face at 2x1 of 6 x 4 cells
    // whose draw facet is cmds; the rows drawn, joined by "|".
    std::string drawn(const ValueCell& cmds, int w = 6, int h = 4) {
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        ValueCell* win = face("window", pair(0, 0), pair(12, 6));
        ValueCell hw = realise(win, null);
        ValueCell* f = full_face("base");
        set_field(f, "offset", pair(2, 1));
        set_field(f, "size", pair(w, h));
        set_field(f, "draw", cmds);
        realise(f, hw);
        gui::tui_backend().activate(handle_get(&hw));
        // The window is destroyed also when drawing raises an error.
        struct Closer {
            ValueCell h;
            ~Closer() { gui::tui_backend().destroy(handle_get(&h)); }
        } closer{hw};
        return rows_of(screen_);
    }
    std::string drawn(const std::string& src, int w = 6, int h = 4) { return drawn(*code(src), w, h); }
    static u32 color(u32 r, u32 g, u32 b) { return gui::color_from_tuple(r | (g << 8) | (b << 16)); }
    const gui::TuiCell& at(int x, int y) const { return screen_.at(x, y); }
    ValueCell error_of_block(const ValueCell& cmds) {
        return caught([&] { drawn(cmds); });
    }
    ValueCell error_of(const std::string& src) { return error_of_block(*code(src)); }
    // The position an error names, molded.
    static std::string named(const ValueCell& err) {
        return mold(*error_field(&err, ERR_FIELD_ARG1), false, false, true);
    }
    // system/view/silent? as a global system object.
    void set_silent(bool on) {
        ValueCell* view = make_object("[silent?: false]");
        set_field(view, "silent?", on ? g_true_cell : g_false_cell);
        ValueCell* system = make_object("[view: none]");
        set_field(system, "view", *view);
        bind_global("system", *system);
    }
    gui::TuiScreen screen_;
};

TEST_F(TuiDraw, ShapesInCells) {
    struct Case {
        const char* name;
        const char* cmds;
        const char* rows;
    };
    // The face stands at column 2, row 1, 6 x 4 cells, inside 12 x 6.
    const Case cases[] = {
        {"a box frames 5 x 3 cells at the face's origin", "box 0x0 4x2",
         "            |  ┌───┐     |  │   │     |  └───┘     |            |            |"},
        {"corners in any order", "box 4x2 0x0",
         "            |  ┌───┐     |  │   │     |  └───┘     |            |            |"},
        {"a box of one row on the face's first row", "box 0x0 4x0",
         "            |  ┌───┐     |            |            |            |            |"},
        {"a box wholly left of the face draws nothing", "box -5x0 -1x2",
         "            |            |            |            |            |            |"},
        {"a box beyond the face is clipped", "box 3x1 9x9",
         "            |            |     ┌──    |     │      |     │      |            |"},
        {"a line is placed at the face's origin", "line 0x0 3x0",
         "            |  ████      |            |            |            |            |"},
        {"a line leaving the face is clipped to it", "line 0x3 20x3",
         "            |            |            |            |  ██████    |            |"},
        {"a line coming from outside enters the face", "line -10x-10 1x1",
         "            |  █         |   █        |            |            |            |"},
        {"several points make segments", "line 0x0 2x0 2x2",
         "            |  ███       |    █       |    █       |            |            |"},
        {"a diagonal", "line 0x0 3x3",
         "            |  █         |   █        |    █       |     █      |            |"},
        {"a triangle's edges", "triangle 0x0 4x0 0x2",
         "            |  █████     |  ███       |  █         |            |            |"},
        {"a circle has twice the width of its height", "circle 3x1 1",
         "            |    ███     |   █   █    |    ███     |            |            |"},
        {"a circle of radius 0 draws nothing", "circle 3x1 0",
         "            |            |            |            |            |            |"},
        {"an ellipse in its box", "ellipse 0x0 5x3",
         "            |   ███      |  █   █     |   ███      |            |            |"},
        {"an ellipse with a side below 1 draws nothing", "ellipse 0x0 0x3",
         "            |            |            |            |            |            |"},
        {"text at the origin, clipped", "text 1x1 \"abcdefgh\"",
         "            |            |   abcde    |            |            |            |"},
        {"a rotated block draws unrotated", "rotate 45 [box 0x0 2x1]",
         "            |  ┌─┐       |  └─┘       |            |            |            |"},
        {"a nested block runs in place", "[line 0x0 1x0] [line 0x1 1x1]",
         "            |  ██        |  ██        |            |            |            |"},
        {"pen off draws no outline", "pen off box 0x0 2x1 line 0x3 2x3 circle 3x1 1",
         "            |            |            |            |            |            |"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(drawn(c.cmds), c.rows);
    }
}

TEST_F(TuiDraw, PenFillAndTextColours) {
    const u32 red = color(255, 0, 0), blue = color(0, 0, 255), green = color(0, 255, 0);
    drawn("pen 255.0.0 fill-pen 0.0.255 box 0x0 3x2");
    EXPECT_EQ(at(2, 1).cp, 0x250Cu);
    EXPECT_EQ(at(2, 1).fg, red);
    EXPECT_EQ(at(2, 1).bg, blue);
    EXPECT_EQ(at(3, 2).cp, u32(' '));  // inner cells filled with spaces
    EXPECT_EQ(at(3, 2).bg, blue);
    EXPECT_EQ(at(6, 2).bg, gui::COLOR_DEFAULT);  // beyond the box

    // A filled triangle without a pen, a filled circle.
    EXPECT_EQ(drawn("pen off fill-pen 0.255.0 triangle 0x0 4x0 0x2"),
              "            |            |            |            |            |            |");
    for (int x = 2; x <= 6; x++) EXPECT_EQ(at(x, 1).bg, green) << x;
    EXPECT_EQ(at(2, 3).bg, green);
    EXPECT_EQ(at(3, 3).bg, gui::COLOR_DEFAULT);
    drawn("pen off fill-pen 0.255.0 circle 3x1 1");
    for (int x = 3; x <= 7; x++) EXPECT_EQ(at(x, 2).bg, green) << x;  // the middle row, 2 either side
    EXPECT_EQ(at(5, 1).bg, green);
    EXPECT_EQ(at(5, 3).bg, green);
    EXPECT_EQ(at(2, 2).bg, gui::COLOR_DEFAULT);
    EXPECT_EQ(at(5, 4).bg, gui::COLOR_DEFAULT);

    // Text takes the pen's colour unless a font gave one, and keeps the
    // background beneath it.
    drawn("fill-pen 0.0.255 pen off box 0x0 5x0 pen 255.0.0 text 0x0 \"ab\"");
    EXPECT_EQ(at(2, 1).fg, red);
    EXPECT_EQ(at(2, 1).bg, blue);
    ValueCell* font = make_object("[color: none]");
    ValueCell g;
    tuple_make_rgba(&g, 0, 255, 0, -1);
    set_field(font, "color", g);
    ValueCell r;
    tuple_make_rgba(&r, 255, 0, 0, -1);
    ValueCell* cmds = blk({word("pen"), r, word("font"), *font, word("text"),
                           pair(0, 0), *str("\x1b[4mab")});
    drawn(*cmds);
    EXPECT_EQ(at(2, 1).fg, green);
    EXPECT_TRUE(at(2, 1).attr & gui::CELL_UNDERLINE);  // escape sequences are read

    // A word that is not a command stands for its value.
    ValueCell t;
    tuple_make_rgba(&t, 0, 0, 255, -1);
    ValueCell bound = *bind_global("a-colour", t);
    drawn(*blk({word("pen"), bound, word("line"), pair(0, 0), pair(1, 0)}));
    EXPECT_EQ(at(2, 1).fg, blue);
}

TEST_F(TuiDraw, PushKeepsThePaint) {
    const u32 red = color(255, 0, 0);
    drawn("pen 255.0.0 push [pen 0.0.255 fill-pen 0.255.0 line 0x0 1x0] line 0x1 1x1 box 0x2 1x3");
    EXPECT_EQ(at(2, 1).fg, color(0, 0, 255));
    EXPECT_EQ(at(2, 2).fg, red);
    EXPECT_EQ(at(2, 3).fg, red);
    EXPECT_EQ(at(2, 3).bg, gui::COLOR_DEFAULT);  // the fill was switched on only inside
    // Other blocks share the paint.
    drawn("pen 255.0.0 translate 1x1 [pen 0.0.255] line 0x0 1x0");
    EXPECT_EQ(at(2, 1).fg, color(0, 0, 255));
}

TEST_F(TuiDraw, CommandsThatAreOnlyRead) {
    const std::string blank = drawn("");
    const char* cmds[] = {
        "line-width 2 line-join round line-cap square line-pattern 1 2 anti-alias off",
        "polygon 0x0 4x0 2x2 arc 2x2 1x1 0 90 closed curve 0x0 1x1 2x0 spline 0x0 2x2 3x0 closed",
        "shadow 1x1 2 3 0.0.0 inset shadow off",
        "clip 0x0 2x2 intersect clip [move 0x0 line 1x1 2x2 hline 3 close] xor",
        "shape [move 0x0 'line 1x1 arc 2x2 1 1 0 sweep large curve 1x1 2x2 qcurv 3x3 close]",
        "scale 2 2 translate pen 1x1 skew 10 transform 30 1x1 2 2 3x3 matrix [1 0 0 1 0 0] reset-matrix "
        "invert-matrix fill-pen",
        "pen linear 255.0.0 0 100 0.0.255 pad fill-pen radial 1x1 255.0.0 reflect pen pattern 2x2 [box 0x0 1x1] tile",
    };
    for (const char* c : cmds) {
        SCOPED_TRACE(c);
        EXPECT_EQ(drawn(c), blank);
    }
}

TEST_F(TuiDraw, InvalidInput) {
    struct Case {
        const char* cmds;
        const char* at;  // the position the error names, molded
    };
    const Case cases[] = {
        {"nonsense", "[nonsense]"},
        {"box 0x0 2x2 box 1x1", "[]"},
        {"line 0x0", "[]"},
        {"line 0x0 box 0x0 1x1", "[box 0x0 1x1]"},
        {"pen \"red\"", "[\"red\"]"},
        {"circle 1x1 \"r\"", "[\"r\"]"},
        {"triangle 0x0 1x1 text", "[text]"},
        {"image 0x0", "[0x0]"},
        {"anti-alias maybe", "[maybe]"},
        {"shape [move]", "[[move]]"},
        {"matrix [1 2]", "[[1 2]]"},
        {"text 0x0 12", "[12]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmds);
        ValueCell err = error_of(c.cmds);
        EXPECT_EQ(id_of(err), "draw-invalid");
        EXPECT_EQ(named(err), c.at);
    }
}

TEST_F(TuiDraw, SelfContainingBlockAndSilence) {
    // b: [line 0x0 1x0 b] drawn as a nested block.
    ValueCell* b = code("line 0x0 1x0");
    block_append_cell(b, b);
    ValueCell err = error_of_block(*b);
    EXPECT_EQ(id_of(err), "draw-infinite");

    // push of itself, through a word.
    ValueCell* p = code("line 0x1 1x1 push");
    ValueCell w = *bind_global("again", *p);
    block_append_cell(p, &w);
    EXPECT_EQ(id_of(error_of_block(*p)), "draw-infinite");

    set_silent(true);
    EXPECT_EQ(drawn(*b), "            |  ██        |            |            |            |            |");
    EXPECT_EQ(drawn(*p), "            |            |  ██        |            |            |            |");
    // Bad commands are skipped and the rest is drawn.
    EXPECT_EQ(drawn("nonsense line 0x0 1x0 box 0x0 line 0x2 1x2 pen"),
              "            |  ██        |            |  ██        |            |            |");
    set_silent(false);
    EXPECT_EQ(id_of(error_of("nonsense")), "draw-invalid");
}

}  // namespace
}  // namespace zan::test

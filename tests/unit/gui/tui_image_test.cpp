// Image faces drawn with half-block cells, and the caret a base holds for
// another face.
#include "gui/tui_face_test_support.h"
#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_image.h"
#include "gui/terminal/tui_loop.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_views.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/tuple.h"

namespace zan::test {
namespace {

using gui::color_from_tuple;
using gui::color_word;
using gui::COLOR_DEFAULT;
using gui::COLOR_MODE_INDEXED;
using gui::COLOR_MODE_TRUE;
using gui::HALF_BLOCK;
using gui::TuiCell;

constexpr u32 RED = 0xFFFF0000, GREEN = 0xFF00FF00, BLUE = 0xFF0000FF, CLEAR = 0x00FFFFFF;
// Half transparent white: drawn, in its own colour or the nearest indexed one.
constexpr u32 HAZE = 0x80FFFFFF;

TEST(TuiImage, TwoPixelsPerCellInBothColourModes) {
    // One column of four pixels: red over green, then clear over blue.
    const u32 column[4] = {RED, GREEN, CLEAR, BLUE};
    std::vector<TuiCell> truecolor = gui::image_cells(column, 1, 4, 1, 2, COLOR_MODE_TRUE);
    ASSERT_EQ(truecolor.size(), 2u);
    EXPECT_EQ(truecolor[0], (TuiCell{HALF_BLOCK, color_word(COLOR_MODE_TRUE, 0xFF0000),
                                     color_word(COLOR_MODE_TRUE, 0x00FF00), 0}));
    // A fully transparent upper pixel leaves a blank cell of default colours.
    EXPECT_EQ(truecolor[1], (TuiCell{' ', COLOR_DEFAULT, COLOR_DEFAULT, 0}));

    std::vector<TuiCell> indexed = gui::image_cells(column, 1, 4, 1, 2, COLOR_MODE_INDEXED);
    ASSERT_EQ(indexed.size(), 2u);
    EXPECT_EQ(indexed[0], (TuiCell{HALF_BLOCK, color_word(COLOR_MODE_INDEXED, 196), color_word(COLOR_MODE_INDEXED, 46), 0}));
    EXPECT_EQ(indexed[1], truecolor[1]);

    const u32 haze_over_clear[2] = {HAZE, CLEAR};
    std::vector<TuiCell> haze = gui::image_cells(haze_over_clear, 1, 2, 1, 1, COLOR_MODE_INDEXED);
    ASSERT_EQ(haze.size(), 1u);
    EXPECT_EQ(haze[0].bg, color_word(COLOR_MODE_INDEXED, 231));
    EXPECT_EQ(haze[0].fg, COLOR_DEFAULT);  // a clear lower pixel: the terminal's own colour
}

TEST(TuiImage, ScaledToTheCellsByTheNearestPixel) {
    // A 4x4 image whose pixel at (x, y) is x + 4y: two cells of one row
    // take columns 0 and 2, rows 0 (upper) and 2 (lower).
    u32 pixels[16];
    for (u32 i = 0; i < 16; i++) pixels[i] = 0xFF000000 | i;
    std::vector<TuiCell> cells = gui::image_cells(pixels, 4, 4, 2, 1, COLOR_MODE_TRUE);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0].bg & 0xFFFFFF, 0u);
    EXPECT_EQ(cells[0].fg & 0xFFFFFF, 8u);
    EXPECT_EQ(cells[1].bg & 0xFFFFFF, 2u);
    EXPECT_EQ(cells[1].fg & 0xFFFFFF, 10u);
    // Enlarged: a 1x1 image fills 3x2 cells.
    const u32 one = BLUE;
    std::vector<TuiCell> big = gui::image_cells(&one, 1, 1, 3, 2, COLOR_MODE_TRUE);
    ASSERT_EQ(big.size(), 6u);
    for (const TuiCell& c : big) EXPECT_EQ(c, big[0]);
    EXPECT_EQ(big[0].cp, HALF_BLOCK);
    // Nothing to draw: no pixels or no cells.
    EXPECT_TRUE(gui::image_cells(&one, 0, 1, 3, 2, COLOR_MODE_TRUE).empty());
    EXPECT_TRUE(gui::image_cells(&one, 1, 1, 0, 2, COLOR_MODE_TRUE).empty());
    EXPECT_TRUE(gui::image_cells(nullptr, 1, 1, 3, 2, COLOR_MODE_TRUE).empty());
}

class TuiImageFace : public TuiFaceTest {
protected:
    void SetUp() override {
        TuiFaceTest::SetUp();
        saved_mode_ = gui::tui_backend().color_mode;
        gui::tui_backend().color_mode = static_cast<int>(COLOR_MODE_TRUE);
    }
    void TearDown() override {
        gui::tui_backend().color_mode = saved_mode_;
        TuiFaceTest::TearDown();
    }
    // An image of width x height of one colour, kept on the data stack.
    static ValueCell* image(u32 width, u32 height, u32 pixel) {
        ValueCell* img = image_push_new(width, height, pixel);
        return img;
    }
    ValueCell window(i32 cols, i32 rows) {
        ValueCell* win = face("window", pair(0, 0), pair(cols, rows));
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        return realise(win, null);
    }
    // A base face of width x 1 cells with a text.
    ValueCell* base(i32 x, i32 y, i32 width, const char* text) {
        ValueCell* f = face("base", pair(x, y), pair(width, 1));
        set_field(f, "text", *str(text));
        return f;
    }
    void draw(ValueCell win) {
        gui::tui_backend().activate(handle_get(&win));
        gui::tui_backend().render(screen_, 80, 24);
    }
    int saved_mode_ = 0;
    gui::TuiScreen screen_;
};

TEST_F(TuiImageFace, DrawnAtItsPlaceClippedAndRedrawnWhenTheImageChanges) {
    ValueCell win = window(8, 2);
    ValueCell* panel = face("panel", pair(0, 0), pair(5, 2));
    ValueCell ph = realise(panel, win);
    ValueCell* f = face("image", pair(1, 0), pair(6, 1));
    set_field(f, "image", *image(2, 2, RED));
    ValueCell fh = realise(f, ph);
    draw(win);
    const TuiCell red{HALF_BLOCK, color_word(COLOR_MODE_TRUE, 0xFF0000), color_word(COLOR_MODE_TRUE, 0xFF0000), 0};
    EXPECT_EQ(screen_.at(0, 0), (TuiCell{' ', COLOR_DEFAULT, COLOR_DEFAULT, 0}));  // left of the face
    for (int x = 1; x < 5; x++) EXPECT_EQ(screen_.at(x, 0), red) << x;
    EXPECT_EQ(screen_.at(1, 1), screen_.at(0, 0));  // below the face
    EXPECT_EQ(row_text(screen_, 0), " \u2584\u2584\u2584\u2584   ");  // clipped by the panel

    // A new image reaches the cells with the image facet's change flag.
    set_field(f, "image", *image(1, 1, BLUE));
    ValueCell none;
    none_box(&none);
    set_field(f, "state", *blk({fh, integer(1 << 4), none}));
    run("update-view", {*f});
    draw(win);
    EXPECT_EQ(screen_.at(2, 0).bg, color_word(COLOR_MODE_TRUE, 0x0000FF));

    // No image: the face's own background again.
    set_field(f, "image", none);
    set_field(f, "state", *blk({fh, integer(1 << 4), none}));
    run("update-view", {*f});
    draw(win);
    EXPECT_EQ(row_text(screen_, 0), "        ");
}

TEST_F(TuiImageFace, HiddenImageFaceDrawsNothing) {
    ValueCell win = window(3, 1);
    ValueCell* f = face("image", pair(0, 0), pair(3, 1));
    set_field(f, "image", *image(1, 1, GREEN));
    ValueCell hidden;
    logic_box(&hidden, false);
    set_field(f, "visible?", hidden);
    realise(f, win);
    draw(win);
    EXPECT_EQ(row_text(screen_, 0), "   ");
}

TEST_F(TuiImageFace, ABaseHoldsTheCaretOfAnotherFace) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell win = window(12, 3);
    ValueCell* panel = face("panel", pair(2, 1), pair(10, 2));
    ValueCell ph = realise(panel, win);
    ValueCell* target = base(0, 0, 4, "abcd");
    ValueCell th = realise(target, ph);
    ValueCell* holder = base(5, 1, 1, "H");
    ValueCell red;
    tuple_make_rgba(&red, 255, 0, 0, -1);
    set_field(holder, "color", red);
    set_field(holder, "options", *blk({word("caret"), *target}));
    realise(holder, ph);
    EXPECT_TRUE(b.widget(handle_get(&th))->flags & gui::WIDGET_CARET);
    draw(win);
    EXPECT_EQ(row_text(screen_, 2), "            ");  // the holder draws nothing itself
    EXPECT_EQ(screen_.at(7, 2).bg, COLOR_DEFAULT);

    gui::TuiPlacement at;
    b.set_focus(handle_get(&th));
    gui::caret_of(b, at);
    EXPECT_TRUE(at.caret);
    EXPECT_EQ(at.caret_col, 7);
    EXPECT_EQ(at.caret_row, 2);
    // Without the focus, no caret.
    b.set_focus(handle_get(&ph));
    gui::caret_of(b, at);
    EXPECT_FALSE(at.caret);
}

TEST_F(TuiImageFace, OddOptionsOrNoFaceHoldNoCaret) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell win = window(6, 1);
    ValueCell* target = base(0, 0, 2, "");
    ValueCell th = realise(target, win);
    ValueCell* odd = base(2, 0, 1, "O");
    set_field(odd, "options", *blk({word("caret"), *target, word("hint")}));
    realise(odd, win);
    ValueCell* wrong = base(3, 0, 1, "W");
    set_field(wrong, "options", *blk({word("caret"), integer(3)}));
    realise(wrong, win);
    EXPECT_FALSE(b.widget(handle_get(&th))->flags & gui::WIDGET_CARET);
    draw(win);
    EXPECT_EQ(row_text(screen_, 0), "  OW  ");
    gui::TuiPlacement at;
    b.set_focus(handle_get(&th));
    gui::caret_of(b, at);
    EXPECT_FALSE(at.caret);
}

}  // namespace
}  // namespace zan::test

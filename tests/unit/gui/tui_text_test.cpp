// A face's text in cells: the pen, sequences inside the text, control
// characters, alignment, wrapping, clipping and the group box frame.
#include <gtest/gtest.h>

#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_text.h"

using namespace zan;
using namespace zan::gui;

namespace {
TuiScreen screen(int cols, int rows) {
    TuiScreen s;
    s.resize(cols, rows);
    return s;
}
u32 basic(u32 i) { return color_word(COLOR_MODE_BASIC, i); }
u32 indexed(u32 i) { return color_word(COLOR_MODE_INDEXED, i); }
const u32 kPenFg = color_word(COLOR_MODE_INDEXED, 231);
const u32 kPenBg = color_word(COLOR_MODE_INDEXED, 21);
}  // namespace

TEST(TuiText, PenColoursAndFlagsGoIntoEveryCell) {
    TuiScreen s = screen(4, 2);
    write_text(s, 0, 0, "ab\ncd", TuiPen{PEN_REVERSE | PEN_DIM, 0, kPenFg, kPenBg}, s.bounds());
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++) {
            EXPECT_EQ(s.at(x, y).fg, kPenFg);
            EXPECT_EQ(s.at(x, y).bg, kPenBg);
            EXPECT_EQ(s.at(x, y).attr, CELL_REVERSE | CELL_DIM);
        }
    EXPECT_EQ(row_text(s, 0), "ab  ");
    EXPECT_EQ(row_text(s, 1), "cd  ");
    TuiScreen m = screen(3, 1);
    write_text(m, 0, 0, "pw", TuiPen{PEN_MASKED, 0, 0, 0}, m.bounds());
    EXPECT_EQ(m.at(1, 0).attr, CELL_MASKED);
}

TEST(TuiText, SelectGraphicRenditionInTheText) {
    struct Case {
        const char* text;
        TuiCell second;  // the cell of "y" after "x" and the sequence
    } cases[] = {
        {"x\x1b[7my", {'y', kPenBg, kPenFg, CELL_REVERSE}},
        {"x\x1b[1;4;9my", {'y', kPenBg, kPenFg, CELL_BOLD | CELL_UNDERLINE | CELL_STRIKE}},
        {"x\x1b[1;2;22my", {'y', kPenBg, kPenFg, CELL_BOLD}},
        {"x\x1b[1;7;21;27my", {'y', kPenBg, kPenFg, 0}},
        {"x\x1b[3;5;8my", {'y', kPenBg, kPenFg, CELL_ITALIC | CELL_BLINK | CELL_HIDDEN}},
        {"x\x1b[31;42my", {'y', basic(2), basic(1), 0}},
        {"x\x1b[39;49my", {'y', basic(9), basic(9), 0}},
        {"x\x1b[91;107my", {'y', basic(17), basic(11), 0}},
        {"x\x1b[38;5;208;48;5;16my", {'y', indexed(16), indexed(208), 0}},
        {"x\x1b[38;2;1;2;3my", {'y', kPenBg, color_word(COLOR_MODE_TRUE, 0x010203), 0}},
        {"x\x1b[1;31m\x1b[0my", {'y', kPenBg, kPenFg, 0}},
        {"x\x1b[1;31m\x1b[my", {'y', kPenBg, kPenFg, 0}},
        {"x\x1b[2J\x1b[Hy", {'y', kPenBg, kPenFg, 0}},
    };
    for (const Case& c : cases) {
        TuiScreen s = screen(4, 1);
        write_text(s, 0, 0, c.text, TuiPen{PEN_ESCAPES, 0, kPenFg, kPenBg}, s.bounds());
        EXPECT_EQ(s.at(0, 0), (TuiCell{'x', kPenBg, kPenFg, 0})) << c.text + 1;
        EXPECT_EQ(s.at(1, 0), c.second) << c.text + 1;
        EXPECT_EQ(s.at(2, 0).cp, 0u) << c.text + 1;
    }
}

TEST(TuiText, ControlCharactersNeverReachTheTerminal) {
    // A cursor move in the text is shown, not obeyed; without the escapes
    // flag every sequence is shown; other control characters show as
    // their pictures.
    TuiScreen s = screen(8, 3);
    write_text(s, 0, 0, "a\x1b[2Ab", TuiPen{PEN_ESCAPES, 0, 0, 0}, s.bounds());
    EXPECT_EQ(row_text(s, 0), "a\xE2\x90\x9B[2Ab  ");
    write_text(s, 0, 1, "\x1b[7mz", TuiPen{}, s.bounds());
    EXPECT_EQ(row_text(s, 1), "\xE2\x90\x9B[7mz   ");
    write_text(s, 0, 2, "\t\r\x07\x7F", TuiPen{}, s.bounds());
    EXPECT_EQ(s.at(0, 2).cp, 0x2409u);
    EXPECT_EQ(s.at(1, 2).cp, 0x240Du);
    EXPECT_EQ(s.at(2, 2).cp, 0x2407u);
    EXPECT_EQ(s.at(3, 2).cp, 0x2421u);
}

TEST(TuiText, AlignmentInTheBox) {
    struct Case {
        u32 align;
        const char* text;
        std::vector<std::string> rows;
    } cases[] = {
        {0, "ab", {"ab    ", "      ", "      "}},
        {ALIGN_RIGHT, "ab", {"    ab", "      ", "      "}},
        {ALIGN_CENTER, "ab", {"  ab  ", "      ", "      "}},
        {ALIGN_CENTER | ALIGN_MIDDLE, "ab", {"      ", "  ab  ", "      "}},
        {ALIGN_BOTTOM, "ab\ncd", {"      ", "ab    ", "cd    "}},
        {ALIGN_RIGHT | ALIGN_BOTTOM, "x", {"      ", "      ", "     x"}},
        {ALIGN_CENTER, "\x1b[1mab\x1b[0m", {"  ab  ", "      ", "      "}},
        {ALIGN_WRAP, "abcdefgh", {"abcdef", "gh    ", "      "}},
        // Wrapped rows are placed each by its own width, the last one too,
        // and the vertical alignment counts the rows the wrapping made.
        {ALIGN_WRAP | ALIGN_CENTER, "abcdefgh", {"abcdef", "  gh  ", "      "}},
        {ALIGN_WRAP | ALIGN_RIGHT, "abcdefgh", {"abcdef", "    gh", "      "}},
        {ALIGN_WRAP | ALIGN_CENTER | ALIGN_BOTTOM, "abcdefgh", {"      ", "abcdef", "  gh  "}},
        {ALIGN_WRAP | ALIGN_CENTER | ALIGN_MIDDLE, "abcdefghijklm", {"abcdef", "ghijkl", "  m   "}},
        {ALIGN_WRAP | ALIGN_CENTER, "ab\ncdefghij", {"  ab  ", "cdefgh", "  ij  "}},
        {ALIGN_WRAP | ALIGN_CENTER, "\x1b[1mabcdefg\x1b[0m", {"abcdef", "  g   ", "      "}},
        {ALIGN_WRAP | ALIGN_CENTER, "abcde\xE6\xBC\xA2", {"abcde ", "  \xE6\xBC\xA2  ", "      "}},
    };
    for (const Case& c : cases) {
        TuiScreen s = screen(6, 3);
        write_aligned(s, s.bounds(), c.text, TuiPen{PEN_ESCAPES, c.align, 0, 0}, s.bounds());
        for (int y = 0; y < 3; y++) EXPECT_EQ(row_text(s, y), c.rows[static_cast<size_t>(y)]) << c.text << " row " << y;
    }
}

TEST(TuiText, WrappedCentredRowsKeepTheirColoursAndClip) {
    // A sequence before the break still colours the row after it.
    TuiScreen s = screen(6, 2);
    write_aligned(s, s.bounds(), "\x1b[1mabcdefg", TuiPen{PEN_ESCAPES, ALIGN_WRAP | ALIGN_CENTER, 0, 0}, s.bounds());
    EXPECT_EQ(s.at(2, 1).cp, static_cast<u32>('g'));
    EXPECT_EQ(s.at(2, 1).attr, CELL_BOLD);
    // The rows are made at the box's width; an ancestor's clip only hides
    // cells, it does not wrap the text again.
    TuiScreen t = screen(8, 3);
    write_aligned(t, TuiRect{0, 0, 6, 3}, "abcdefgh", TuiPen{0, ALIGN_WRAP | ALIGN_CENTER, 0, 0}, TuiRect{0, 0, 3, 3});
    EXPECT_EQ(row_text(t, 0), "abc     ");
    EXPECT_EQ(row_text(t, 1), "  g     ");
    EXPECT_EQ(row_text(t, 2), "        ");
}

TEST(TuiText, ClippedToTheBoxAndTheClip) {
    TuiScreen s = screen(8, 4);
    // Box 1..5 x 1..3, clipped further by an ancestor ending at column 4.
    write_aligned(s, TuiRect{1, 1, 5, 3}, "abcdef\nghijkl\nmnop", TuiPen{}, TuiRect{0, 0, 4, 4});
    EXPECT_EQ(row_text(s, 0), "        ");
    EXPECT_EQ(row_text(s, 1), " abc    ");
    EXPECT_EQ(row_text(s, 2), " ghi    ");
    EXPECT_EQ(row_text(s, 3), "        ");
    // Lines above the clip are skipped, the rest keep their rows.
    TuiScreen t = screen(4, 3);
    write_text(t, 0, -1, "11\n22\n33", TuiPen{}, t.bounds());
    EXPECT_EQ(row_text(t, 0), "22  ");
    EXPECT_EQ(row_text(t, 1), "33  ");
    // Wrapping with a double-width character at the edge.
    TuiScreen w = screen(3, 2);
    write_text(w, 0, 0, "ab\xE6\xBC\xA2", TuiPen{0, ALIGN_WRAP, 0, 0}, w.bounds());
    EXPECT_EQ(row_text(w, 0), "ab ");
    EXPECT_EQ(row_text(w, 1), "\xE6\xBC\xA2 ");
}

TEST(TuiText, GroupBoxFrame) {
    TuiScreen s = screen(7, 4);
    const u32 green = indexed(46);
    s.fill(s.bounds(), ' ', TuiStyle{0, kPenBg, 0});
    draw_frame(s, TuiRect{0, 0, 6, 3}, s.bounds(), false, green, "Hi", kPenFg);
    EXPECT_EQ(row_text(s, 0), "\xE2\x94\x8CHi\xE2\x94\x80\xE2\x94\x80\xE2\x94\x90 ");
    EXPECT_EQ(row_text(s, 1), "\xE2\x94\x82    \xE2\x94\x82 ");
    EXPECT_EQ(row_text(s, 2), "\xE2\x94\x94\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x98 ");
    EXPECT_EQ(s.at(0, 0), (TuiCell{0x250C, kPenBg, green, 0}));
    EXPECT_EQ(s.at(1, 0), (TuiCell{'H', kPenBg, kPenFg, 0}));
    TuiScreen r = screen(3, 3);
    draw_frame(r, r.bounds(), r.bounds(), true, 0, "", 0);
    EXPECT_EQ(r.at(0, 0).cp, 0x256Du);
    EXPECT_EQ(r.at(2, 0).cp, 0x256Eu);
    EXPECT_EQ(r.at(0, 2).cp, 0x2570u);
    EXPECT_EQ(r.at(2, 2).cp, 0x256Fu);
    // A long title stops before the right corner.
    TuiScreen l = screen(5, 2);
    draw_frame(l, l.bounds(), l.bounds(), false, 0, "Title", 0);
    EXPECT_EQ(row_text(l, 0), "\xE2\x94\x8CTit\xE2\x94\x90");
}

// The bytes of a frame, inline and full screen, with attribute and colour
// changes, masked, empty and double-width cells, the caret; the sequences
// of the terminal modes and of leaving a view.
#include <gtest/gtest.h>

#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_output.h"

using namespace zan;
using namespace zan::gui;

namespace {
const u32 kRed = color_word(COLOR_MODE_INDEXED, 196);
const u32 kBlue = color_word(COLOR_MODE_INDEXED, 21);

TuiScreen two_rows() {
    TuiScreen s;
    s.resize(2, 2);
    put_text(s, 0, 0, "ab", TuiStyle{}, s.bounds());
    put_text(s, 0, 1, "cd", TuiStyle{}, s.bounds());
    return s;
}
}  // namespace

TEST(TuiOutput, InlineFrameGoesBackUpToItsTopAndErasesBelow) {
    TuiScreen s = two_rows();
    TuiPlacement at;
    EXPECT_EQ(frame_bytes(s, at), "\r\x1b[0J" "ab\x1b[49m\r\n" "cd");
    EXPECT_EQ(at.cursor_row, 1);
    // The next frame starts by going up the rows the last one left below.
    EXPECT_EQ(frame_bytes(s, at), "\r\x1b[1A\x1b[0J" "ab\x1b[49m\r\n" "cd");
    EXPECT_EQ(at.cursor_row, 1);
}

TEST(TuiOutput, FullScreenFrameStartsAtHome) {
    TuiScreen s = two_rows();
    TuiPlacement at;
    at.full_screen = true;
    at.cursor_row = 1;
    EXPECT_EQ(frame_bytes(s, at), "\x1b[H" "ab\x1b[49m\r\n" "cd");
}

TEST(TuiOutput, EmptyBufferWritesNothing) {
    TuiScreen s;
    TuiPlacement at;
    at.cursor_row = 3;
    EXPECT_EQ(frame_bytes(s, at), "");
    EXPECT_EQ(at.cursor_row, 3);
}

TEST(TuiOutput, ColoursAreSentWhereTheyChangeAndResetAtTheEnd) {
    TuiScreen s;
    s.resize(3, 2);
    TuiStyle red_on_blue{kRed, kBlue, 0};
    put_text(s, 0, 0, "ab", red_on_blue, s.bounds());
    put_text(s, 0, 1, "c", red_on_blue, s.bounds());
    TuiPlacement at;
    EXPECT_EQ(frame_bytes(s, at),
              "\r\x1b[0J"
              "\x1b[38;5;196m\x1b[48;5;21m" "ab"
              "\x1b[39m\x1b[49m" " "
              "\x1b[49m\r\n"
              "\x1b[38;5;196m\x1b[48;5;21m" "c"
              "\x1b[39m\x1b[49m" "  ");
    // A row that ends in a background colour has it reset before the new
    // line, and the next row sends it again.
    TuiScreen b;
    b.resize(1, 2);
    b.fill(b.bounds(), 'x', TuiStyle{0, kBlue, 0});
    TuiPlacement at2;
    EXPECT_EQ(frame_bytes(b, at2),
              "\r\x1b[0J" "\x1b[48;5;21m" "x" "\x1b[49m\r\n" "\x1b[48;5;21m" "x" "\x1b[49m");
}

TEST(TuiOutput, MaskedEmptyAndDoubleWidthCells) {
    TuiScreen s;
    s.resize(5, 1);
    put_text(s, 0, 0, "p", TuiStyle{0, 0, CELL_MASKED}, s.bounds());
    put_text(s, 2, 0, "\xE6\xBC\xA2", TuiStyle{}, s.bounds());
    TuiPlacement at;
    // The masked cell is a star (its flag sends no sequence), the empty one
    // a space, the wide character is written once for its two cells.
    EXPECT_EQ(frame_bytes(s, at), "\r\x1b[0J" "* \xE6\xBC\xA2 ");
    EXPECT_EQ(at.cursor_row, 0);
}

TEST(TuiOutput, CaretPlacesTheCursor) {
    struct Case {
        int col, row;
        const char* tail;
    } cases[] = {
        {4, 1, "\r\x1b[1A\x1b[4C"},
        {0, 0, "\r\x1b[2A"},
        {2, 2, "\r\x1b[2C"},
        {0, 2, "\r"},
    };
    for (const Case& c : cases) {
        TuiScreen s;
        s.resize(6, 3);
        TuiPlacement at;
        at.caret = true;
        at.caret_col = c.col;
        at.caret_row = c.row;
        std::string body = "\r\x1b[0J" "      \x1b[49m\r\n" "      \x1b[49m\r\n" "      ";
        EXPECT_EQ(frame_bytes(s, at), body + c.tail) << c.col << "," << c.row;
        EXPECT_EQ(at.cursor_row, c.row);
    }
}

TEST(TuiOutput, AttributeChanges) {
    struct Case {
        u32 from, to;
        const char* bytes;
    } cases[] = {
        {0, CELL_BOLD, "\x1b[1m"},
        {0, CELL_DIM | CELL_BOLD, "\x1b[2m\x1b[1m"},
        {CELL_BOLD, 0, "\x1b[22m"},
        // Bold off also ends dim: the dim that stays is set again.
        {CELL_BOLD | CELL_DIM, CELL_DIM, "\x1b[22m\x1b[2m"},
        {CELL_BOLD | CELL_DIM, CELL_BOLD, "\x1b[22m\x1b[1m"},
        {0, CELL_REVERSE | CELL_ITALIC | CELL_STRIKE | CELL_UNDERLINE, "\x1b[7m\x1b[3m\x1b[9m\x1b[4m"},
        {CELL_REVERSE | CELL_ITALIC | CELL_STRIKE | CELL_UNDERLINE, 0, "\x1b[27m\x1b[23m\x1b[29m\x1b[24m"},
        {CELL_UNDERLINE, CELL_UNDERLINE | CELL_MASKED, ""},
        {CELL_BOLD, CELL_BOLD, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        append_attribute_changes(out, TuiCell{'a', 0, 0, c.from}, TuiCell{'b', 0, 0, c.to});
        EXPECT_EQ(out, c.bytes) << std::hex << c.from << " -> " << c.to;
    }
    std::string out;
    append_attribute_changes(out, TuiCell{'a', kBlue, kRed, 0}, TuiCell{'b', kRed, kBlue, CELL_BOLD});
    EXPECT_EQ(out, "\x1b[1m\x1b[38;5;21m\x1b[48;5;196m");
}

TEST(TuiOutput, ModeSequences) {
    EXPECT_EQ(mouse_bytes(true), "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h");
    EXPECT_EQ(mouse_bytes(false), "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l");
    EXPECT_EQ(alt_screen_bytes(true), "\x1b[?1049h\x1b[2J");
    EXPECT_EQ(alt_screen_bytes(false), "\x1b[?1049l");
    EXPECT_EQ(cursor_bytes(false), "\x1b[?25l");
    EXPECT_EQ(cursor_bytes(true), "\x1b[?25h");
}

TEST(TuiOutput, LeavingPutsTheCursorBelowTheViewAndRestoresTheModes) {
    struct Case {
        int rows, cursor_row;
        TuiModes modes;
        std::string bytes;
    } cases[] = {
        // The cursor may stand on any row of the view (on a caret, or the
        // last row): it always ends on the line below the view.
        {3, 0, {}, "\x1b[2B\r\n"},
        {3, 1, {}, "\x1b[1B\r\n"},
        {3, 2, {}, "\r\n"},
        {1, 0, {}, "\r\n"},
        {0, 0, {}, ""},
        {3, 2, {true, false, true}, "\r\n" + mouse_bytes(false) + "\x1b[?25h"},
        {5, 0, {false, true, false}, "\x1b[?1049l"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(leave_bytes(c.rows, c.cursor_row, c.modes), c.bytes) << c.rows << "," << c.cursor_row;
}

TEST(TuiOutput, PrintingErasesTheDrawnRowsFromTheirTop) {
    int row = 2;
    EXPECT_EQ(before_print_bytes(true, row), "\r\x1b[2A\x1b[0J");
    EXPECT_EQ(row, 0);
    // A view of one row is erased too.
    EXPECT_EQ(before_print_bytes(true, row), "\r\x1b[0J");
    row = 4;
    EXPECT_EQ(before_print_bytes(false, row), "");
    EXPECT_EQ(row, 0);
}

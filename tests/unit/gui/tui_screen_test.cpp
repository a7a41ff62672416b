// The cell buffer: characters with their widths, double-width characters
// and their continuation cells, clipping, text measurement.
#include <gtest/gtest.h>

#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_screen.h"

using namespace zan;
using namespace zan::gui;

namespace {
const TuiStyle kPlain{};
const TuiStyle kBoldRedOnBlue{0x020000C4u, 0x02000015u, CELL_BOLD};

TuiScreen screen(int cols, int rows) {
    TuiScreen s;
    s.resize(cols, rows);
    return s;
}
}  // namespace

TEST(TuiScreen, TextTakesOneCellPerCharacterWithItsStyle) {
    TuiScreen s = screen(6, 2);
    EXPECT_EQ(put_text(s, 1, 1, "ab\xC3\xA9", kBoldRedOnBlue, s.bounds()), 3);
    EXPECT_EQ(s.at(0, 1), (TuiCell{0, 0, 0, 0}));
    EXPECT_EQ(s.at(1, 1), (TuiCell{'a', kBoldRedOnBlue.bg, kBoldRedOnBlue.fg, CELL_BOLD}));
    EXPECT_EQ(s.at(2, 1), (TuiCell{'b', kBoldRedOnBlue.bg, kBoldRedOnBlue.fg, CELL_BOLD}));
    EXPECT_EQ(s.at(3, 1), (TuiCell{0xE9, kBoldRedOnBlue.bg, kBoldRedOnBlue.fg, CELL_BOLD}));
    EXPECT_EQ(s.at(4, 1), (TuiCell{0, 0, 0, 0}));
    EXPECT_EQ(row_text(s, 1), " ab\xC3\xA9  ");
    EXPECT_EQ(row_text(s, 0), "      ");
}

TEST(TuiScreen, DoubleWidthCharacterHasAContinuationCell) {
    TuiScreen s = screen(5, 1);
    EXPECT_EQ(put_text(s, 0, 0, "a\xE6\xBC\xA2" "b", kPlain, s.bounds()), 4);  // a, U+6F22, b
    EXPECT_EQ(s.at(1, 0).cp, 0x6F22u);
    EXPECT_EQ(s.at(1, 0).attr & CELL_CONTINUATION, 0u);
    EXPECT_EQ(s.at(2, 0).attr & CELL_CONTINUATION, CELL_CONTINUATION);
    EXPECT_EQ(s.at(3, 0).cp, u32('b'));
    EXPECT_EQ(row_text(s, 0), "a\xE6\xBC\xA2" "b ");
}

TEST(TuiScreen, DrawingOverHalfADoubleWidthCharacterBlanksTheOtherHalf) {
    TuiScreen s = screen(4, 2);
    // Over the continuation cell: the lead cell becomes a blank.
    put_text(s, 0, 0, "\xE6\xBC\xA2", kPlain, s.bounds());
    s.put(1, 0, 'x', kPlain, s.bounds());
    EXPECT_EQ(s.at(0, 0).cp, u32(' '));
    EXPECT_EQ(s.at(1, 0), (TuiCell{'x', 0, 0, 0}));
    // Over the lead cell: the continuation becomes a blank of its own.
    put_text(s, 0, 1, "\xE6\xBC\xA2", kPlain, s.bounds());
    s.put(0, 1, 'y', kPlain, s.bounds());
    EXPECT_EQ(s.at(0, 1).cp, u32('y'));
    EXPECT_EQ(s.at(1, 1), (TuiCell{' ', 0, 0, 0}));
    EXPECT_EQ(row_text(s, 1), "y   ");
    // A wide character put one cell into another one.
    TuiScreen t = screen(4, 1);
    put_text(t, 0, 0, "\xE6\xBC\xA2\xE6\xBC\xA2", kPlain, t.bounds());
    put_text(t, 1, 0, "\xE5\xAD\x97", kPlain, t.bounds());  // U+5B57
    EXPECT_EQ(row_text(t, 0), " \xE5\xAD\x97 ");
}

TEST(TuiScreen, ClippingKeepsTextInsideTheRectangle) {
    TuiScreen s = screen(8, 3);
    TuiRect clip{2, 1, 5, 2};
    put_text(s, 0, 1, "abcdefg", kPlain, clip);
    EXPECT_EQ(row_text(s, 1), "  cde   ");
    put_text(s, 0, 0, "abcdefg", kPlain, clip);  // row outside
    put_text(s, 0, 2, "abcdefg", kPlain, clip);
    EXPECT_EQ(row_text(s, 0), "        ");
    EXPECT_EQ(row_text(s, 2), "        ");
    // A double-width character that would cross the right edge leaves a blank.
    TuiScreen w = screen(6, 1);
    put_text(w, 0, 0, "....", kPlain, w.bounds());
    put_text(w, 1, 0, "a\xE6\xBC\xA2", kBoldRedOnBlue, TuiRect{0, 0, 3, 1});
    EXPECT_EQ(w.at(2, 0), (TuiCell{' ', kBoldRedOnBlue.bg, kBoldRedOnBlue.fg, kBoldRedOnBlue.attr}));
    EXPECT_EQ(w.at(3, 0).cp, u32('.'));
    // Text past the buffer's own edges is cut there.
    TuiScreen e = screen(3, 1);
    EXPECT_EQ(e.put(3, 0, 'z', kPlain, TuiRect{0, 0, 10, 10}), 0);
    put_text(e, -2, 0, "abcdef", kPlain, TuiRect{-5, -5, 10, 10});
    EXPECT_EQ(row_text(e, 0), "cde");
}

TEST(TuiScreen, ZeroWidthCharactersTakeNoCell) {
    TuiScreen s = screen(4, 1);
    EXPECT_EQ(put_text(s, 0, 0, "e\xCC\x81x", kPlain, s.bounds()), 2);  // e, U+0301, x
    EXPECT_EQ(row_text(s, 0), "ex  ");
}

TEST(TuiScreen, FillAndResize) {
    TuiScreen s = screen(4, 3);
    s.fill(TuiRect{1, 1, 9, 9}, '#', kBoldRedOnBlue);
    EXPECT_EQ(row_text(s, 0), "    ");
    EXPECT_EQ(row_text(s, 1), " ###");
    EXPECT_EQ(row_text(s, 2), " ###");
    EXPECT_EQ(s.at(3, 2).fg, kBoldRedOnBlue.fg);
    s.resize(2, 2);
    EXPECT_EQ(s.cols(), 2);
    EXPECT_EQ(s.rows(), 2);
    EXPECT_EQ(s.at(1, 1), (TuiCell{0, 0, 0, 0}));
    s.resize(5, 4);
    EXPECT_EQ(row_text(s, 3), "     ");
}

TEST(TuiScreen, TextSizeIsTheWidestLineAndTheLineCount) {
    struct Case {
        const char* text;
        int cols, lines;
    } cases[] = {
        {"", 0, 1},
        {"abc", 3, 1},
        {"ab\ncdef", 4, 2},
        {"abcd\nx\n", 4, 3},
        {"\xE6\xBC\xA2\xE5\xAD\x97\nabc", 4, 2},
        {"e\xCC\x81", 1, 1},
    };
    for (const Case& c : cases) {
        TuiTextSize sz = text_size(c.text);
        EXPECT_EQ(sz.cols, c.cols) << c.text;
        EXPECT_EQ(sz.lines, c.lines) << c.text;
    }
}

TEST(TuiScreen, BadUtf8ShowsReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::vector<u32> cps;
    } cases[] = {
        {"\xFF" "a", {0xFFFD, 'a'}},
        {"\xE6\xBC", {0xFFFD, 0xFFFD}},
        {"\xC0\xAF", {0xFFFD, 0xFFFD}},
        {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xF0\x9F\x98\x80", {0x1F600}},
    };
    for (const Case& c : cases) {
        std::vector<u32> got;
        for (size_t i = 0; i < c.bytes.size();) got.push_back(utf8_next(c.bytes, i));
        EXPECT_EQ(got, c.cps);
    }
}

// The escape-sequence emulation, read back from a grid screen.
#include "runtime/terminal/ansi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/terminal/console_screen.h"
#include "terminal/console_grid.h"

namespace zan {
namespace {

const std::string ESC = "\x1b";

class AnsiTest : public ::testing::Test {
protected:
    void SetUp() override { s = console_grid_new(20, 6); }
    void TearDown() override { console_screen_destroy(s); }

    void write(const std::string& text, bool new_line = false) {
        ansi_write(s, text.data(), text.size(), 1, new_line);
    }
    // Every row filled with its own letter, cursor back at (x, y).
    void fill_letters(int x, int y) {
        for (int row = 0; row < s->height; row++) {
            console_screen_set_cursor(s, 0, row);
            write(std::string(static_cast<size_t>(s->width), static_cast<char>('a' + row)));
        }
        console_screen_set_cursor(s, x, y);
    }

    ConsoleScreen* s = nullptr;
};

TEST_F(AnsiTest, ColourChangeAppliesToFollowingTextOnly) {
    write("a" + ESC + "[31mb" + ESC + "[0m");
    EXPECT_EQ(console_grid_row_text(s, 0), "ab");
    EXPECT_EQ(console_grid_attribute_at(s, 0, 0), CONSOLE_DEFAULT_ATTRIBUTE);
    EXPECT_EQ(console_grid_attribute_at(s, 1, 0), 0x04);  // red foreground, black background
    EXPECT_EQ(s->attribute, CONSOLE_DEFAULT_ATTRIBUTE);
    EXPECT_EQ(s->cursor_x, 2);
}

TEST_F(AnsiTest, SeveralParametersMakeOneAttribute) {
    write(ESC + "[1;31;44mX");
    // 1: both intensities; 31: red foreground; 44: blue background.
    EXPECT_EQ(console_grid_attribute_at(s, 0, 0), 0x9C);
    write(ESC + "[mY");  // no parameter: back to the default
    EXPECT_EQ(console_grid_attribute_at(s, 1, 0), CONSOLE_DEFAULT_ATTRIBUTE);
}

TEST_F(AnsiTest, SgrCodesMapOntoTheConsoleAttribute) {
    struct Case { u16 a; u32 code; u16 want; };
    const u16 def = 0x07;
    const Case cases[] = {
        {0x1E, 0, 0x07},        // reset
        {0x01, 1, 0x89},        // both intensities
        {0x07, 4, 0x8007},      // underscore
        {0x801E, 7, 0xE1},      // nibbles exchanged, high bits cleared
        {0x80FF, 30, 0xF8},     // black foreground, mask clears the high bits
        {0x07, 31, 0x04},       // colour 1 is console red (4)
        {0x07, 34, 0x01},       // colour 4 is console blue (1)
        {0x07, 33, 0x06},
        {0x07, 36, 0x03},
        {0xFF, 41, 0xCF},       // red background keeps the background intensity
        {0x0C, 39, 0x07},       // default foreground
        {0x4A, 49, 0x0A},       // default background
        {0x07, 91, 0x0C},       // bright red
        {0x07, 104, 0x97},      // bright blue background
        {0x8F, 22, 0x07},       // intensities off
        {0x8007, 24, 0x07},     // underscore off
        {0x1E, 5, 0x1E},        // blink: no console counterpart
        {0x1E, 65534, 0x1E},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ansi_sgr(c.a, def, c.code), c.want) << "code " << c.code << " on " << c.a;
}

TEST_F(AnsiTest, ExtendedColourArgumentsAreNotReadAsCodes) {
    // 38;2;255;0;0 would reset the attribute if its zeros were read as code 0.
    write(ESC + "[31m" + ESC + "[38;2;255;0;0mA" + ESC + "[48;5;1;44mB");
    EXPECT_EQ(console_grid_attribute_at(s, 0, 0), 0x04);
    EXPECT_EQ(console_grid_attribute_at(s, 1, 0), 0x14);
}

TEST_F(AnsiTest, CursorSequences) {
    struct Case { int x0, y0; std::string seq; int x, y; };
    const Case cases[] = {
        {0, 0, "[5;10H", 9, 4},     // row 5, column 10, counted from 1
        {3, 3, "[H", 0, 0},
        {3, 3, "[;7f", 6, 0},
        {3, 3, "[0;0H", 0, 0},
        {0, 0, "[99;99H", 19, 5},   // clamped to the screen
        {4, 1, "[3A", 4, 0},        // stops at the top
        {4, 3, "[A", 4, 2},         // no count means one
        {4, 3, "[0A", 4, 2},
        {4, 1, "[100B", 4, 5},      // stops at the last row
        {4, 1, "[100C", 19, 1},     // and at the last column
        {1, 1, "[2D", 0, 1},
        {5, 2, "[2E", 0, 4},
        {5, 2, "[F", 0, 1},
        {5, 2, "[12G", 11, 2},
        {5, 2, "[4d", 5, 3},
        {0, 0, "[65537C", 2, 0},    // parameters accumulate modulo 65535
    };
    for (const auto& c : cases) {
        console_screen_set_cursor(s, c.x0, c.y0);
        write(ESC + c.seq);
        EXPECT_EQ(s->cursor_x, c.x) << c.seq;
        EXPECT_EQ(s->cursor_y, c.y) << c.seq;
        EXPECT_EQ(console_grid_text(s), "") << c.seq << " shows nothing";
    }
}

TEST_F(AnsiTest, SaveAndRestoreCursor) {
    console_screen_set_cursor(s, 2, 3);
    write(ESC + "[u");  // nothing saved yet: stays
    EXPECT_EQ(s->cursor_x, 2);
    write(ESC + "[s" + "abc" + ESC + "[5;5H" + ESC + "[u" + "X");
    EXPECT_EQ(console_grid_row_text(s, 3), "  Xbc");
    EXPECT_EQ(s->cursor_x, 3);
}

TEST_F(AnsiTest, EraseKindsBlankTheirRegionAndLeaveTheCursor) {
    struct Case { std::string seq; std::vector<std::string> rows; };
    // Cursor at column 2, row 1 of a 20 x 6 screen of letters.
    auto row = [](char c, int from, int to) {  // letter c in columns [from, to)
        std::string r(static_cast<size_t>(to), ' ');
        for (int i = from; i < to; i++) r[static_cast<size_t>(i)] = c;
        return r;
    };
    const Case cases[] = {
        {"[J", {row('a', 0, 20), "bb", "", "", "", ""}},
        {"[0J", {row('a', 0, 20), "bb", "", "", "", ""}},
        {"[1J", {"", row('b', 3, 20), row('c', 0, 20), row('d', 0, 20), row('e', 0, 20),
                 row('f', 0, 20)}},
        {"[2J", {"", "", "", "", "", ""}},
        {"[K", {row('a', 0, 20), "bb", row('c', 0, 20), row('d', 0, 20), row('e', 0, 20),
                row('f', 0, 20)}},
        {"[1K", {row('a', 0, 20), row('b', 3, 20), row('c', 0, 20), row('d', 0, 20),
                 row('e', 0, 20), row('f', 0, 20)}},
        {"[2K", {row('a', 0, 20), "", row('c', 0, 20), row('d', 0, 20), row('e', 0, 20),
                 row('f', 0, 20)}},
    };
    for (const auto& c : cases) {
        fill_letters(2, 1);
        write(ESC + "[44m" + ESC + c.seq);
        for (int y = 0; y < 6; y++)
            EXPECT_EQ(console_grid_row_text(s, y), c.rows[static_cast<size_t>(y)]) << c.seq << " row " << y;
        EXPECT_EQ(s->cursor_x, 2) << c.seq;
        EXPECT_EQ(s->cursor_y, 1) << c.seq;
        write(ESC + "[0m");
    }
    // Erased cells take the default attribute, not the current one.
    fill_letters(0, 0);
    write(ESC + "[44m" + ESC + "[2J");
    EXPECT_EQ(console_grid_attribute_at(s, 5, 3), CONSOLE_DEFAULT_ATTRIBUTE);
}

TEST_F(AnsiTest, EscapeWithoutBracketIsShownAsACharacter) {
    write(ESC + "x");
    EXPECT_EQ(console_grid_char_at(s, 0, 0), 27u);
    EXPECT_EQ(console_grid_char_at(s, 1, 0), u32('x'));
    const char text[] = "\x1bx";
    EXPECT_EQ(ansi_sequence(s, text, 2, 1), 0u);
}

TEST_F(AnsiTest, SequenceLengthIsBoundedByTheText) {
    // Cut off: everything up to the end is consumed, nothing is done.
    const std::string cut = ESC + "[31";
    console_screen_set_cursor(s, 1, 1);
    EXPECT_EQ(ansi_sequence(s, cut.data(), cut.size(), 1), cut.size());
    EXPECT_EQ(s->attribute, CONSOLE_DEFAULT_ATTRIBUTE);
    EXPECT_EQ(s->cursor_x, 1);
    // The parser stops at the given length even when more bytes follow.
    const std::string more = ESC + "[3" + "1mZ";
    EXPECT_EQ(ansi_sequence(s, more.data(), 3, 1), 3u);
    EXPECT_EQ(s->attribute, CONSOLE_DEFAULT_ATTRIBUTE);
    const std::string bare = ESC + "[";
    EXPECT_EQ(ansi_sequence(s, bare.data(), 2, 1), 2u);
    EXPECT_EQ(ansi_sequence(s, bare.data(), 1, 1), 0u);
}

TEST_F(AnsiTest, ACharacterThatCannotContinueEndsTheSequenceAndIsConsumed) {
    write(ESC + "[3\x01xyz");
    EXPECT_EQ(console_grid_row_text(s, 0), "xyz");
    EXPECT_EQ(s->attribute, CONSOLE_DEFAULT_ATTRIBUTE);
}

TEST_F(AnsiTest, ManyParametersAreReadAndTheExtraOnesIgnored) {
    std::string seq = ESC + "[";
    for (int i = 0; i < ANSI_MAX_PARAMS; i++) seq += "0;";
    seq += "31mQ";  // the 17th parameter
    write(seq);
    EXPECT_EQ(console_grid_row_text(s, 0), "Q");
    EXPECT_EQ(console_grid_attribute_at(s, 0, 0), CONSOLE_DEFAULT_ATTRIBUTE);
}

TEST_F(AnsiTest, PrivateModesAreConsumedAndCursorVisibilityKept) {
    write(ESC + "[?25l" + ESC + "[?1049h" + ESC + "[?1000;1006h" + "ok");
    EXPECT_FALSE(s->cursor_visible);
    EXPECT_EQ(console_grid_text(s), "ok");
    write(ESC + "[?25h");
    EXPECT_TRUE(s->cursor_visible);
}

TEST_F(AnsiTest, QuestionMarkAloneReportsTheScreen) {
    console_grid_resize(s, 40, 10);
    console_screen_set_cursor(s, 3, 2);
    write(ESC + "[?");
    EXPECT_EQ(console_grid_row_text(s, 2), "   Screen buffer info:");
    EXPECT_EQ(console_grid_row_text(s, 3), "  size: 40 10");
    EXPECT_EQ(console_grid_row_text(s, 4), "  cursor: 3 2");
    EXPECT_EQ(console_grid_row_text(s, 5), "  attribute: 7");
}

TEST_F(AnsiTest, WideUnitsCarryTheSameSequences) {
    std::u16string text = u"\x1b[32m\u00e9\u0100\x1b[0m";
    text.push_back(0x011B);  // high byte set: not an ESC
    ansi_write(s, text.data(), text.size() * 2, 2, false);
    EXPECT_EQ(console_grid_char_at(s, 0, 0), 0xE9u);
    EXPECT_EQ(console_grid_attribute_at(s, 1, 0), 0x02);
    EXPECT_EQ(console_grid_char_at(s, 2, 0), 0x011Bu);
    std::u32string wide = U"\x1b[2;3H\U0001F600";
    ansi_write(s, wide.data(), wide.size() * 4, 4, false);
    EXPECT_EQ(console_grid_char_at(s, 2, 1), 0x1F600u);
}

TEST_F(AnsiTest, NewLineFlagAndWrappingAndScrolling) {
    console_grid_resize(s, 5, 3);
    write("abcdefgh", true);
    EXPECT_EQ(console_grid_text(s), "abcde\nfgh");
    EXPECT_EQ(s->cursor_x, 0);
    EXPECT_EQ(s->cursor_y, 2);
    // Filling the last row does not scroll until another character comes.
    write("12345");
    EXPECT_EQ(console_grid_text(s), "abcde\nfgh\n12345");
    EXPECT_TRUE(s->wrap_pending);
    write("6");
    EXPECT_EQ(console_grid_text(s), "fgh\n12345\n6");
}

TEST_F(AnsiTest, LongTextArrivesWithNothingLostOrDoubled) {
    console_grid_resize(s, 100, 12);
    std::string text;
    for (int i = 0; i < 1100; i++) text += static_cast<char>('a' + i % 26);
    write(text);
    std::string shown;
    for (int y = 0; y < 11; y++) shown += console_grid_row_text(s, y);
    EXPECT_EQ(shown, text);
}

TEST_F(AnsiTest, ControlCharacters) {
    write("abc\rX\tY\bZ\x07");
    EXPECT_EQ(console_grid_row_text(s, 0), "Xbc     Z");
    EXPECT_EQ(s->cursor_x, 9);
}

}  // namespace
}  // namespace zan

// Widths, wrapping and cursor movement of the line editor's layout.
#include <gtest/gtest.h>

#include "runtime/terminal/terminal_layout.h"

namespace zan::console {
namespace {

std::vector<Glyph> prompt(const std::u32string& p) { return prompt_glyphs(p); }

TEST(Layout, CharactersTakeTheRuntimesWidths) {
    struct Case {
        u32 cp;
        int width;
    } cases[] = {
        {'a', 1}, {0xE9, 1}, {0x4E2D, 2} /* CJK */, {0xFF21, 2} /* fullwidth */,
        {0x0301, 0} /* combining */, {0x1F600, 2} /* emoji */, {0x1F321, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(line_glyph(c.cp, false).width, c.width) << c.cp;
}

TEST(Layout, TabShowsAsFourSpacesAndControlsAsAQuestionMark) {
    Glyph tab = line_glyph('\t', false);
    EXPECT_EQ(tab.bytes, "    ");
    EXPECT_EQ(tab.width, 4);
    EXPECT_EQ(line_glyph(0x07, false).bytes, "?");
    EXPECT_EQ(line_glyph(0x9B, false).bytes, "?");
    EXPECT_EQ(line_glyph(0x4E2D, true).bytes, "*");
    EXPECT_EQ(line_glyph(0x4E2D, true).width, 1);
}

TEST(Layout, PromptColourSequencesTakeNoColumn) {
    LineLayout l = layout_line(prompt(U"\x1b[31m>>\x1b[0m "), U"ab", false, 80, 0);
    EXPECT_EQ(l.at(0), (TermPos{0, 3, false}));
    EXPECT_EQ(l.end, (TermPos{0, 5, false}));
    // The "(" form; a lone Escape takes no column, what follows it does.
    LineLayout m = layout_line(prompt(U"\x1b(B>\x1bx"), U"", false, 80, 0);
    EXPECT_EQ(m.end.col, 2);
}

TEST(Layout, LongLinesWrapAtTheWidth) {
    // Width 10, prompt ">> " (3 columns), 12 characters: 7 on row 0, 5 on row 1.
    LineLayout l = layout_line(prompt(U">> "), std::u32string(12, 'x'), false, 10, 0);
    EXPECT_EQ(l.at(6), (TermPos{0, 9, false}));
    EXPECT_EQ(l.at(7), (TermPos{1, 0, false}));
    EXPECT_EQ(l.end, (TermPos{1, 5, false}));
}

TEST(Layout, TextEndingAtTheRightEdgeLeavesTheWrapPending) {
    LineLayout l = layout_line(prompt(U">> "), std::u32string(7, 'x'), false, 10, 0);
    EXPECT_EQ(l.end, (TermPos{1, 0, true}));
    EXPECT_EQ(physical_row(l.end), 0);
}

TEST(Layout, AWideCharacterThatWouldStartInTheLastColumnMovesToTheNextRow) {
    // ">> " + 6 x: column 9 is the last free one; the wide character goes to
    // row 1 and takes columns 0-1.
    std::u32string line = std::u32string(6, 'x') + U"\u4E2D" + U"y";
    LineLayout l = layout_line(prompt(U">> "), line, false, 10, 0);
    EXPECT_EQ(l.at(6), (TermPos{1, 0, false}));
    EXPECT_EQ(l.at(7), (TermPos{1, 2, false}));
    EXPECT_EQ(l.end, (TermPos{1, 3, false}));
}

TEST(Layout, TabsWrapSpaceBySpace) {
    LineLayout l = layout_line(prompt(U">> "), U"abcde\tz", false, 10, 0);
    // a-e at columns 3-7, the Tab's spaces at 8, 9, then 0, 1 of row 1.
    EXPECT_EQ(l.at(5), (TermPos{0, 8, false}));
    EXPECT_EQ(l.at(6), (TermPos{1, 2, false}));
}

TEST(Layout, ZeroWidthCharactersShareTheCursorOfTheNextOne) {
    LineLayout l = layout_line(prompt(U""), U"e\u0301x", false, 80, 0);
    EXPECT_EQ(l.at(1), (TermPos{0, 1, false}));
    EXPECT_EQ(l.at(2), (TermPos{0, 1, false}));
    EXPECT_EQ(l.end.col, 2);
}

TEST(Layout, ThePromptMayStartInAnyColumn) {
    LineLayout l = layout_line(prompt(U"? "), U"abcd", false, 10, 5);
    EXPECT_EQ(l.at(0), (TermPos{0, 7, false}));
    EXPECT_EQ(l.at(3), (TermPos{1, 0, false}));
}

TEST(Layout, CursorMovement) {
    struct Case {
        TermPos from, to;
        std::string seq;
    } cases[] = {
        {{0, 8, false}, {0, 3, false}, "\x1b[5D"},
        {{0, 3, false}, {0, 8, false}, "\x1b[5C"},
        {{2, 4, false}, {0, 3, false}, "\r\x1b[2A\x1b[3C"},
        {{2, 4, false}, {0, 0, false}, "\r\x1b[2A"},
        // From a pending wrap: the terminal is still on the row above.
        {{1, 0, true}, {1, 0, false}, "\r\n"},
        {{1, 0, true}, {0, 2, false}, "\r\x1b[2C"},
        {{0, 5, false}, {2, 1, false}, "\r\n\r\n\x1b[1C"},
    };
    for (const Case& c : cases) EXPECT_EQ(move_cursor(c.from, c.to), c.seq);
}

}  // namespace
}  // namespace zan::console

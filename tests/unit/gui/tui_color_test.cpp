// Colour words: the nearest indexed colour, the colour sequences and the
// colour capability from the environment.
#include <gtest/gtest.h>

#include "gui/terminal/tui_color.h"

using namespace zan;
using namespace zan::gui;

namespace {
// A tuple's 32-bit layout: first component in the low byte, alpha on top.
u32 tuple(u32 r, u32 g, u32 b, u32 alpha = 0) { return r | (g << 8) | (b << 16) | (alpha << 24); }
}  // namespace

TEST(TuiColor, NearestIndexedColour) {
    struct Case {
        u32 rgba;
        u32 expected;
    } cases[] = {
        {tuple(255, 255, 255), color_word(COLOR_MODE_INDEXED, 231)},
        {tuple(128, 128, 128), color_word(COLOR_MODE_INDEXED, 244)},  // grey beats cube 102
        {tuple(255, 0, 0), color_word(COLOR_MODE_INDEXED, 196)},
        {tuple(0, 0, 255), color_word(COLOR_MODE_INDEXED, 21)},
        {tuple(0, 255, 0), color_word(COLOR_MODE_INDEXED, 46)},
        {tuple(20, 20, 20), color_word(COLOR_MODE_INDEXED, 233)},
        {tuple(0, 0, 0), color_word(COLOR_MODE_INDEXED, 16)},
        {tuple(255, 135, 0), color_word(COLOR_MODE_INDEXED, 208)},
        {tuple(1, 2, 3, 255), COLOR_DEFAULT},  // fully transparent
    };
    for (const Case& c : cases) EXPECT_EQ(color_from_tuple(c.rgba), c.expected) << std::hex << c.rgba;
}

TEST(TuiColor, PaletteOfTheIndexedColours) {
    EXPECT_EQ(color_index_rgb(9), 0xFF0000u);
    EXPECT_EQ(color_index_rgb(16), 0x000000u);
    EXPECT_EQ(color_index_rgb(102), 0x878787u);
    EXPECT_EQ(color_index_rgb(231), 0xFFFFFFu);
    EXPECT_EQ(color_index_rgb(232), 0x080808u);
    EXPECT_EQ(color_index_rgb(255), 0xEEEEEEu);
}

TEST(TuiColor, ColourSequences) {
    struct Case {
        u32 color;
        bool fg;
        const char* bytes;
    } cases[] = {
        {COLOR_DEFAULT, true, "\x1b[39m"},
        {COLOR_DEFAULT, false, "\x1b[49m"},
        {color_word(COLOR_MODE_BASIC, 1), true, "\x1b[31m"},
        {color_word(COLOR_MODE_BASIC, 1), false, "\x1b[41m"},
        {color_word(COLOR_MODE_BASIC, 8), true, "\x1b[0m"},
        {color_word(COLOR_MODE_BASIC, 9), false, "\x1b[49m"},
        {color_word(COLOR_MODE_BASIC, 12), false, "\x1b[102m"},
        {color_word(COLOR_MODE_BASIC, 17), true, "\x1b[97m"},
        {color_word(COLOR_MODE_BASIC, 18), true, "\x1b[0m"},
        {color_word(COLOR_MODE_INDEXED, 196), true, "\x1b[38;5;196m"},
        {color_word(COLOR_MODE_INDEXED, 0), false, "\x1b[48;5;0m"},
        {color_word(COLOR_MODE_TRUE, 0x102030), true, "\x1b[38;2;16;32;48m"},
        {color_word(COLOR_MODE_TRUE, 0xFF00FF), false, "\x1b[48;2;255;0;255m"},
        {color_word(3, 5), true, "\x1b[0m"},
    };
    for (const Case& c : cases) {
        std::string out;
        append_color(out, c.color, c.fg);
        EXPECT_EQ(out, c.bytes) << std::hex << c.color << " fg " << c.fg;
    }
}

TEST(TuiColor, CapabilityFromColortermAndTerm) {
    struct Case {
        const char* colorterm;
        const char* term;
        int mode;
    } cases[] = {
        {"truecolor", "xterm", 4},        {"24bit", nullptr, 4},
        {"truecolor", "xterm-256color", 4}, {nullptr, "xterm-256color", 2},
        {"", "screen-256color", 2},       {"256", "xterm", 2},
        {nullptr, "xterm", 4},            {nullptr, nullptr, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(color_mode_of(c.colorterm, c.term), c.mode)
            << (c.colorterm ? c.colorterm : "(unset)") << " " << (c.term ? c.term : "(unset)");
}

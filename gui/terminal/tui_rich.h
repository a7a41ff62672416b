// The styles of a rich-text face in cells: its data block holds ranges
// (a pair: first character from 1, count) each followed by its styles:
// bold, italic, underline, strike, a colour (tuple) for the text,
// backdrop and a colour for the background; font names and sizes are
// taken and change nothing in the terminal.
#pragma once
#include <string>
#include <vector>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

struct RichRange {
    long start;  // first character, from 1
    long count;
    u32 attr = 0;
    bool has_fg = false, has_bg = false;
    u32 fg = 0, bg = 0;  // colour words
};

// The ranges of a rich-text face's data block (none when it is no block).
std::vector<RichRange> rich_ranges(const ValueCell* data);

// The text with the select-graphic-rendition sequences that give each
// character the styles of the ranges over it (later ranges over earlier
// ones), for writing with escapes interpreted. An ESC of the text itself
// is shown as its control picture, never taken as a sequence.
std::string rich_markup(const std::u32string& text, const std::vector<RichRange>& ranges);

}  // namespace zan::gui

// Where characters of a text stand in cells (lines end at LF, a character
// takes its display width), for the text metrics of rich-text faces.
#pragma once
#include <string>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

struct TuiCellPos {
    int col;
    int row;
};

// The column and row of the character at index (from 1); an index past the
// end gives the place after the last character, one below 1 the first.
TuiCellPos text_index_place(const std::u32string& text, long index);

// The index (from 1) of the character whose cells hold the point (col,
// row). A point right of its line gives the place after the line's last
// character (caret) or that last character (character); a row below the
// last line is taken on the last line, one above the first on the first.
long text_place_index(const std::u32string& text, double col, double row, bool caret);

void tui_metrics_register();

}  // namespace zan::gui

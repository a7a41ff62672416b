// Writing the cell buffer to the terminal: one frame is assembled as UTF-8
// text with escape sequences and written at once. A window is drawn
// inline, below the line the cursor stood on when the view started, or on
// the alternate screen from its top left corner (full screen).
#pragma once
#include <string>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

// Where the frame is and where the terminal cursor is left after it.
struct TuiPlacement {
    bool full_screen = false;
    // The buffer row the terminal cursor stands on after the last flush.
    int cursor_row = 0;
    // The focused widget shows a caret at (caret_col, caret_row).
    bool caret = false;
    int caret_col = 0;
    int caret_row = 0;
};

// The bytes of one frame: back to the frame's top (home on the full
// screen; inline, up from the cursor's row and erase below), every row
// with the attribute and colour changes from cell to cell, the attributes
// reset at the end, and the cursor put on the caret. A caret outside the
// buffer counts as none (at.caret becomes false). Updates cursor_row.
// An empty buffer gives no bytes.
std::string frame_bytes(const TuiScreen& screen, TuiPlacement& at);

// Appends the sequences that change the attributes and colours of the
// cell written last (from) to those of the next one (to).
void append_attribute_changes(std::string& out, const TuiCell& from, const TuiCell& to);

// The terminal modes the back end switches while a view runs.
struct TuiModes {
    bool mouse = false;
    bool alt_screen = false;
    bool cursor_hidden = false;
};
std::string mouse_bytes(bool on);
std::string alt_screen_bytes(bool on);
std::string cursor_bytes(bool visible);
// From the cursor's row among `rows` drawn rows (inline) to the start of
// the line below them; nothing when no row was drawn.
std::string below_bytes(int rows, int cursor_row);
// Leaving the view: the cursor goes to the line below the drawn rows (so
// that the prompt never lands inside the view), then every mode of
// `modes` is switched back.
std::string leave_bytes(int rows, int cursor_row, const TuiModes& modes);
// Before printed text: the drawn rows are erased from their top, where the
// text then goes. cursor_row becomes 0.
std::string before_print_bytes(bool drawn, int& cursor_row);

}  // namespace zan::gui

// Writing a face's text into the cell buffer: colours and attributes from
// the pen, select-graphic-rendition sequences inside the text, alignment
// in the face's box, wrapping, and the frame of a group box.
#pragma once
#include <string>
#include <vector>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

// Renderer flags.
constexpr u32 PEN_DIM = 0x4;
constexpr u32 PEN_REVERSE = 0x8;
constexpr u32 PEN_MASKED = 0x800;
constexpr u32 PEN_ESCAPES = 0x1000;  // interpret escape sequences in the text
constexpr u32 PEN_NO_TEXT = 0x2000;
// Alignment flags (from the face's para).
constexpr u32 ALIGN_RIGHT = 0x1;
constexpr u32 ALIGN_CENTER = 0x2;
constexpr u32 ALIGN_MIDDLE = 0x4;
constexpr u32 ALIGN_BOTTOM = 0x8;
constexpr u32 ALIGN_WRAP = 0x20;
// Cell flags kept but not shown.
constexpr u32 CELL_BLINK = 0x1;
constexpr u32 CELL_HIDDEN = 0x200;

struct TuiPen {
    u32 flags = 0;
    u32 align = 0;
    u32 fg = 0;
    u32 bg = 0;
};

// What a character shows as in a cell: control characters as their
// control pictures (U+2400 ...), C1 controls as U+FFFD.
u32 shown_code_point(u32 cp);

// Writes text from (col, row): LF goes to the start column of the next
// row; cells outside clip are not written; with ALIGN_WRAP a line that
// reaches the clip's right edge goes on at the start column of the next
// row. With PEN_ESCAPES, "ESC [ params m" changes the colours and
// attributes, the cursor and erase sequences (H f s u J K and the rest)
// are consumed, and the cursor moves (A B C D) are shown as text. Control
// characters never reach a cell as themselves: they are shown as their
// control pictures (U+2400 ...), so the text cannot move the terminal's
// cursor.
void write_text(TuiScreen& screen, int col, int row, const std::string& utf8, const TuiPen& pen,
                const TuiRect& clip);

// The first column of each row of a wrapped text, from the box's left
// edge, given the rows' widths: centred or right-aligned rows are placed
// each by its own width, never left of the box.
std::vector<int> row_starts(const std::vector<int>& row_widths, int width, u32 align);

// The cells and lines the text takes on the screen (escape sequences that
// are consumed take none).
TuiTextSize shown_text_size(const std::string& utf8, bool escapes);

// Writes text aligned in box (absolute cells), within clip.
void write_aligned(TuiScreen& screen, const TuiRect& box, const std::string& utf8, const TuiPen& pen,
                   const TuiRect& clip);

// The frame of a group box on the outer cells of box, its title on the top
// edge from the second column.
void draw_frame(TuiScreen& screen, const TuiRect& box, const TuiRect& clip, bool round, u32 color,
                const std::string& title, u32 title_fg);

}  // namespace zan::gui

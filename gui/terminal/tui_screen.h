// The cell buffer of the text-mode back end: the active window drawn as
// rows of cells before they are written to the terminal. Widgets draw into
// it through put, always inside a clip rectangle (their own box within
// their ancestors'), so nothing spills out of a face.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan::gui {

// Attribute flags of a cell.
constexpr u32 CELL_BOLD = 0x2;
constexpr u32 CELL_DIM = 0x4;
constexpr u32 CELL_REVERSE = 0x8;
constexpr u32 CELL_UNDERLINE = 0x10;
constexpr u32 CELL_STRIKE = 0x40;
constexpr u32 CELL_ITALIC = 0x100;
// The second cell of a double-width character: not written.
constexpr u32 CELL_CONTINUATION = 0x400;
// Written as "*" (password fields).
constexpr u32 CELL_MASKED = 0x800;

// A code point of 0 shows as a space; colours are colour words.
struct TuiCell {
    u32 cp;
    u32 bg;
    u32 fg;
    u32 attr;
    bool operator==(const TuiCell&) const = default;
};
static_assert(sizeof(TuiCell) == 16, "a cell is 16 bytes");

struct TuiStyle {
    u32 fg = 0;
    u32 bg = 0;
    u32 attr = 0;
};

// Columns x0 <= x < x1, rows y0 <= y < y1.
struct TuiRect {
    int x0, y0, x1, y1;
    bool contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
    TuiRect intersect(const TuiRect& o) const;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};

class TuiScreen {
public:
    int cols() const { return cols_; }
    int rows() const { return rows_; }
    TuiRect bounds() const { return {0, 0, cols_, rows_}; }
    // New size, every cell cleared. Memory grows only when the new size
    // needs more cells than any size before.
    void resize(int cols, int rows);
    void clear();
    const TuiCell& at(int x, int y) const { return cells_[static_cast<size_t>(y) * cols_ + x]; }

    // Draws one character at (x, y) within clip; returns the columns it
    // took (0 for a zero-width character or outside the clip). A
    // double-width character that does not fit before the clip's right
    // edge leaves a blank cell instead. Drawing over half of a
    // double-width character blanks its other half.
    int put(int x, int y, u32 cp, const TuiStyle& style, const TuiRect& clip);
    // Writes cp in the style into every cell of rect (clipped to the screen).
    void fill(const TuiRect& rect, u32 cp, const TuiStyle& style);
    // Adds attribute flags to every cell of rect (clipped to the screen).
    void add_attributes(const TuiRect& rect, u32 attr);

private:
    TuiCell& cell(int x, int y) { return cells_[static_cast<size_t>(y) * cols_ + x]; }
    // Blanks the other half of a double-width character that the cell at
    // (x, y) belongs to, before that cell is written.
    void split_wide_at(int x, int y);

    int cols_ = 0;
    int rows_ = 0;
    std::vector<TuiCell> cells_;
};

// Columns and lines of a text: the widest line in cells (double-width
// characters count 2) and the number of lines (lines end at LF).
struct TuiTextSize {
    int cols;
    int lines;
};
TuiTextSize text_size(const std::string& utf8);
TuiTextSize text_size(const std::u32string& text);

// Decodes one UTF-8 character at text[i]; advances i. Bad bytes give
// U+FFFD one by one.
u32 utf8_next(const std::string& text, size_t& i);

}  // namespace zan::gui

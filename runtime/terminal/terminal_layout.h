// Where the prompt and the line land on the terminal: columns taken by each
// character and the wrapping of rows, the same way the terminal wraps them.
//
// Positions count rows from the row where the prompt starts (row 0) and
// columns from the left edge. The prompt may start in any column.
//
// Widths:
// - a Tab in the line shows as four spaces;
// - Escape takes no column; with "[" or "(" after it, that character, the
//   digits and ";" that follow and one final character form a control
//   sequence shown as nothing (a prompt may hold colour sequences);
// - every other character takes the columns that char_width gives (0, 1 or
//   2); other control characters show as "?" (one column).
// A two-column character that would start in the last column of a row goes
// whole to the next row, as terminals place it; the cell it skips stays
// blank.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan::console {

// A position of the terminal cursor. pending: the character before filled
// the row's last column; the terminal cursor still sits on that column and
// the next character starts the next row (row/col then name that next
// row's start).
struct TermPos {
    int row = 0;
    int col = 0;
    bool pending = false;
    bool operator==(const TermPos&) const = default;
};

// The row the terminal cursor really is on for a position.
inline int physical_row(const TermPos& p) { return p.pending ? p.row - 1 : p.row; }

// Walks the text cell by cell.
class LayoutWalker {
public:
    LayoutWalker(int columns, int origin_col);
    // Adds one character of the given width; returns where it was drawn.
    TermPos advance(int width);
    const TermPos& pos() const { return pos_; }
    int columns() const { return columns_; }

private:
    int columns_;
    TermPos pos_;
};

// The visible form of one character of the line: the UTF-8 bytes written
// and the width of each piece (a Tab gives four one-column spaces).
struct Glyph {
    std::string bytes;
    int width;
    bool tab = false;   // four spaces, each a cell of its own
};
// hidden: the line is shown as "*" characters.
Glyph line_glyph(u32 cp, bool hidden);

// The prompt split into what is written and its width: pieces of text with
// their width (control sequences have width 0).
std::vector<Glyph> prompt_glyphs(const std::u32string& prompt);

// The layout of prompt and line: where each character of the line starts,
// and where the text ends.
struct LineLayout {
    std::vector<TermPos> starts;   // one per character of the line
    TermPos end;                   // after the last character
    TermPos at(size_t index) const { return index < starts.size() ? starts[index] : end; }
};
LineLayout layout_line(const std::vector<Glyph>& prompt, const std::u32string& line, bool hidden,
                       int columns, int origin_col);

// How many characters of text, from its start, fit in the given number of
// columns (the widths of line_glyph, on one row without wrapping): the
// whole length when all of it fits.
size_t chars_within_width(const std::u32string& text, int columns);

// Escape sequences that take the terminal cursor from `from` to `to`
// (both relative to the same origin row). Moving down below the row the
// cursor is on writes line ends, so that the terminal scrolls when it must.
std::string move_cursor(const TermPos& from, const TermPos& to);

}  // namespace zan::console

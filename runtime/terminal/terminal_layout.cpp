// Character widths, row wrapping and cursor movement of the line editor.
#include "runtime/terminal/terminal_layout.h"

#include "runtime/core/case_folding.h"
#include "runtime/terminal/console_screen.h"

namespace zan::console {

LayoutWalker::LayoutWalker(int columns, int origin_col) : columns_(columns < 1 ? 1 : columns) {
    pos_.col = origin_col < 0 ? 0 : origin_col % columns_;
}

TermPos LayoutWalker::advance(int width) {
    if (width <= 0) return pos_;
    if (width > columns_) width = columns_;
    if (pos_.col + width > columns_) {
        // Does not fit in what is left of the row: the next row.
        pos_.row++;
        pos_.col = 0;
        pos_.pending = false;
    }
    TermPos drawn = pos_;
    drawn.pending = false;
    pos_.col += width;
    pos_.pending = false;
    if (pos_.col >= columns_) {
        pos_.row++;
        pos_.col = 0;
        pos_.pending = true;
    }
    return drawn;
}

namespace {

std::string utf8(u32 cp) {
    char buf[4];
    int n = console_utf8_encode(cp, buf);
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

Glyph line_glyph(u32 cp, bool hidden) {
    if (hidden) return {"*", 1};
    if (cp == '\t') return {"    ", 4, true};
    if (cp < 32 || (cp >= 127 && cp <= 159)) return {"?", 1};
    return {utf8(cp), char_width(cp)};
}

size_t chars_within_width(const std::u32string& text, int columns) {
    int used = 0;
    for (size_t i = 0; i < text.size(); i++) {
        used += line_glyph(text[i], false).width;
        if (used > columns) return i;
    }
    return text.size();
}

std::vector<Glyph> prompt_glyphs(const std::u32string& prompt) {
    std::vector<Glyph> out;
    size_t i = 0, n = prompt.size();
    while (i < n) {
        u32 cp = prompt[i];
        if (cp == 27) {
            std::string seq = "\x1b";
            i++;
            if (i < n && (prompt[i] == '[' || prompt[i] == '(')) {
                seq += static_cast<char>(prompt[i++]);
                while (i < n && ((prompt[i] >= '0' && prompt[i] <= '9') || prompt[i] == ';'))
                    seq += static_cast<char>(prompt[i++]);
                if (i < n) seq += utf8(prompt[i++]);
            }
            out.push_back({seq, 0});
            continue;
        }
        out.push_back(line_glyph(cp, false));
        i++;
    }
    return out;
}

LineLayout layout_line(const std::vector<Glyph>& prompt, const std::u32string& line, bool hidden,
                       int columns, int origin_col) {
    LayoutWalker walk(columns, origin_col);
    for (const Glyph& g : prompt) {
        if (g.tab) {
            for (int k = 0; k < 4; k++) walk.advance(1);
        } else {
            walk.advance(g.width);
        }
    }
    LineLayout out;
    out.starts.reserve(line.size());
    for (u32 cp : line) {
        Glyph g = line_glyph(cp, hidden);
        if (g.tab) {
            TermPos first = walk.advance(1);
            for (int k = 1; k < 4; k++) walk.advance(1);
            out.starts.push_back(first);
        } else if (g.width == 0) {
            out.starts.push_back(walk.pos());
        } else {
            out.starts.push_back(walk.advance(g.width));
        }
    }
    out.end = walk.pos();
    return out;
}

std::string move_cursor(const TermPos& from, const TermPos& to) {
    std::string out;
    int row = physical_row(from);
    if (!from.pending && to.row == row) {
        // Along the row.
        if (to.col < from.col) out += "\x1b[" + std::to_string(from.col - to.col) + "D";
        if (to.col > from.col) out += "\x1b[" + std::to_string(to.col - from.col) + "C";
        return out;
    }
    if (to.row > row) {
        // Below the cursor's row: line ends make the rows (scrolling when
        // the bottom is reached).
        for (int k = row; k < to.row; k++) out += "\r\n";
    } else {
        out += "\r";
        if (row > to.row) out += "\x1b[" + std::to_string(row - to.row) + "A";
    }
    if (to.col > 0) out += "\x1b[" + std::to_string(to.col) + "C";
    return out;
}

}  // namespace zan::console

// The cell buffer: drawing characters with their widths and clipping.
#include "gui/terminal/tui_screen.h"

#include <algorithm>

#include "runtime/core/case_folding.h"

namespace zan::gui {

TuiRect TuiRect::intersect(const TuiRect& o) const {
    return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
}

void TuiScreen::resize(int cols, int rows) {
    cols_ = std::max(cols, 0);
    rows_ = std::max(rows, 0);
    size_t need = static_cast<size_t>(cols_) * rows_;
    if (need > cells_.size()) cells_.resize(need);
    clear();
}

void TuiScreen::clear() {
    std::fill(cells_.begin(), cells_.end(), TuiCell{0, 0, 0, 0});
}

// Keeps a double-width character whole or not at all: when (x, y) is one
// half of one, the other half becomes a blank cell of its style.
void TuiScreen::split_wide_at(int x, int y) {
    TuiCell& c = cell(x, y);
    if ((c.attr & CELL_CONTINUATION) && x > 0) {
        TuiCell& lead = cell(x - 1, y);
        lead.cp = ' ';
    } else if (x + 1 < cols_ && (cell(x + 1, y).attr & CELL_CONTINUATION)) {
        TuiCell& rest = cell(x + 1, y);
        rest.cp = ' ';
        rest.attr &= ~CELL_CONTINUATION;
    }
    c.attr &= ~CELL_CONTINUATION;
}

int TuiScreen::put(int x, int y, u32 cp, const TuiStyle& style, const TuiRect& clip) {
    TuiRect r = clip.intersect(bounds());
    int width = char_width(cp);
    if (width == 0 || !r.contains(x, y)) return 0;
    split_wide_at(x, y);
    if (width == 2 && x + 1 >= r.x1) {
        cell(x, y) = {' ', style.bg, style.fg, style.attr};
        return 1;
    }
    cell(x, y) = {cp, style.bg, style.fg, style.attr};
    if (width == 2) {
        split_wide_at(x + 1, y);
        if (x + 2 < cols_ && (cell(x + 2, y).attr & CELL_CONTINUATION)) {
            cell(x + 2, y).cp = ' ';
            cell(x + 2, y).attr &= ~CELL_CONTINUATION;
        }
        cell(x + 1, y) = {0, style.bg, style.fg, style.attr | CELL_CONTINUATION};
    }
    return width;
}

void TuiScreen::fill(const TuiRect& rect, u32 cp, const TuiStyle& style) {
    TuiRect r = rect.intersect(bounds());
    for (int y = r.y0; y < r.y1; y++)
        for (int x = r.x0; x < r.x1; x++) put(x, y, cp, style, r);
}

void TuiScreen::add_attributes(const TuiRect& rect, u32 attr) {
    TuiRect r = rect.intersect(bounds());
    for (int y = r.y0; y < r.y1; y++)
        for (int x = r.x0; x < r.x1; x++) cell(x, y).attr |= attr;
}

u32 utf8_next(const std::string& text, size_t& i) {
    u8 b = static_cast<u8>(text[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra == 0) {
        i++;
        return b;
    }
    if (extra < 0 || i + static_cast<size_t>(extra) > text.size() - 1) {
        i++;
        return 0xFFFD;
    }
    u32 cp = b & (0x3Fu >> extra);
    for (int k = 1; k <= extra; k++) {
        u8 c = static_cast<u8>(text[i + static_cast<size_t>(k)]);
        if ((c & 0xC0) != 0x80) {
            i++;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static const u32 kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        i++;
        return 0xFFFD;
    }
    i += static_cast<size_t>(extra) + 1;
    return cp;
}

TuiTextSize text_size(const std::u32string& text) {
    int widest = 0, col = 0, lines = 1;
    for (u32 cp : text) {
        if (cp == '\n') {
            widest = std::max(widest, col);
            col = 0;
            lines++;
            continue;
        }
        col += char_width(cp);
    }
    return {std::max(widest, col), lines};
}

TuiTextSize text_size(const std::string& utf8) {
    std::u32string cps;
    for (size_t i = 0; i < utf8.size();) cps += utf8_next(utf8, i);
    return text_size(cps);
}

}  // namespace zan::gui

// Text in cells: escape sequences, alignment, wrapping and frames.
#include "gui/terminal/tui_text.h"

#include <algorithm>
#include <vector>

#include "gui/terminal/tui_color.h"
#include "runtime/core/case_folding.h"

namespace zan::gui {

u32 shown_code_point(u32 cp) {
    if (cp < 0x20) return 0x2400 + cp;
    if (cp == 0x7F) return 0x2421;
    if (cp >= 0x80 && cp < 0xA0) return 0xFFFD;
    return cp;
}

namespace {

struct Sequence {
    size_t length;  // bytes from the ESC, 0 when it is not a complete one
    char final_byte;
    std::vector<int> params;
};

// The control sequence at text[i] (an ESC).
Sequence parse_sequence(const std::string& text, size_t i) {
    Sequence s{0, 0, {}};
    if (i + 1 >= text.size() || text[i + 1] != '[') return s;
    int current = -1;
    for (size_t k = i + 2; k < text.size(); k++) {
        char c = text[k];
        if (c >= '0' && c <= '9') {
            current = (current < 0 ? 0 : current) * 10 + (c - '0');
            if (current > 100000) current = 100000;
        } else if (c == ';') {
            s.params.push_back(current < 0 ? 0 : current);
            current = -1;
        } else if (c >= 0x40 && c <= 0x7E) {
            if (current >= 0 || !s.params.empty()) s.params.push_back(current < 0 ? 0 : current);
            s.final_byte = c;
            s.length = k + 1 - i;
            return s;
        } else if (c < 0x20 || c > 0x3F) {
            return s;
        }
    }
    return s;
}

bool moves_cursor(char f) { return f == 'A' || f == 'B' || f == 'C' || f == 'D'; }

struct Brush {
    u32 fg, bg, attr;
};

void apply_sgr(const std::vector<int>& params, Brush& b, const Brush& base) {
    if (params.empty()) {
        b = base;
        return;
    }
    static const u32 kAttr[10] = {0, CELL_BOLD, CELL_DIM, CELL_ITALIC, CELL_UNDERLINE, CELL_BLINK,
                                  0, CELL_REVERSE, CELL_HIDDEN, CELL_STRIKE};
    for (size_t i = 0; i < params.size(); i++) {
        int p = params[i];
        if (p == 0) b = base;
        else if (p >= 1 && p <= 9) b.attr |= kAttr[p];
        else if (p >= 21 && p <= 29) b.attr &= ~kAttr[p - 20];
        else if ((p >= 30 && p <= 37) || p == 39) b.fg = color_word(COLOR_MODE_BASIC, static_cast<u32>(p - 30));
        else if ((p >= 40 && p <= 47) || p == 49) b.bg = color_word(COLOR_MODE_BASIC, static_cast<u32>(p - 40));
        else if (p >= 90 && p <= 97) b.fg = color_word(COLOR_MODE_BASIC, static_cast<u32>(p - 80));
        else if (p >= 100 && p <= 107) b.bg = color_word(COLOR_MODE_BASIC, static_cast<u32>(p - 90));
        else if (p == 38 || p == 48) {
            u32& target = p == 38 ? b.fg : b.bg;
            if (i + 2 < params.size() && params[i + 1] == 5) {
                target = color_word(COLOR_MODE_INDEXED, static_cast<u32>(params[i + 2]) & 0xFF);
                i += 2;
            } else if (i + 4 < params.size() && params[i + 1] == 2) {
                u32 r = static_cast<u32>(params[i + 2]) & 0xFF, g = static_cast<u32>(params[i + 3]) & 0xFF,
                    bl = static_cast<u32>(params[i + 4]) & 0xFF;
                target = color_word(COLOR_MODE_TRUE, (r << 16) | (g << 8) | bl);
                i += 4;
            }
        }
    }
}

// Walks the visible characters of a text the way they fall into rows: a row
// ends at LF and, with a wrap width above 0, before a character that would
// pass that width (a row always takes at least one character). For each
// character put(row, offset in the row, code point as shown, width, brush)
// is called; characters of no width are skipped, consumed escape sequences
// only change the brush.
template <typename Put>
void walk_rows(const std::string& utf8, const TuiPen& pen, int wrap_width, Put&& put) {
    const Brush base{pen.fg, pen.bg, pen.flags & (PEN_DIM | PEN_REVERSE | PEN_MASKED)};
    Brush brush = base;
    bool escapes = (pen.flags & PEN_ESCAPES) != 0;
    int x = 0, row = 0;
    for (size_t i = 0; i < utf8.size();) {
        if (escapes && utf8[i] == 0x1B) {
            Sequence s = parse_sequence(utf8, i);
            if (s.length && !moves_cursor(s.final_byte)) {
                if (s.final_byte == 'm') apply_sgr(s.params, brush, base);
                i += s.length;
                continue;
            }
        }
        u32 cp = utf8_next(utf8, i);
        if (cp == '\n') {
            x = 0;
            row++;
            continue;
        }
        cp = shown_code_point(cp);
        int w = char_width(cp);
        if (w == 0) continue;
        if (wrap_width > 0 && x + w > wrap_width && x > 0) {
            x = 0;
            row++;
        }
        put(row, x, cp, w, brush);
        x += w;
    }
}

}  // namespace

void write_text(TuiScreen& screen, int col, int row, const std::string& utf8, const TuiPen& pen,
                const TuiRect& clip) {
    int wrap_width = (pen.align & ALIGN_WRAP) ? std::max(1, clip.x1 - col) : 0;
    walk_rows(utf8, pen, wrap_width, [&](int r, int x, u32 cp, int, const Brush& b) {
        int y = row + r;
        if (y >= clip.y0 && y < clip.y1) screen.put(col + x, y, cp, TuiStyle{b.fg, b.bg, b.attr}, clip);
    });
}

std::vector<int> row_starts(const std::vector<int>& row_widths, int width, u32 align) {
    std::vector<int> starts;
    starts.reserve(row_widths.size());
    for (int w : row_widths) {
        int x = 0;
        if (align & ALIGN_CENTER) x = (width - w) / 2;
        else if (align & ALIGN_RIGHT) x = width - w;
        starts.push_back(std::max(0, x));
    }
    return starts;
}

TuiTextSize shown_text_size(const std::string& utf8, bool escapes) {
    if (!escapes) return text_size(utf8);
    std::string visible;
    for (size_t i = 0; i < utf8.size();) {
        if (utf8[i] == 0x1B) {
            Sequence s = parse_sequence(utf8, i);
            if (s.length && !moves_cursor(s.final_byte)) {
                i += s.length;
                continue;
            }
        }
        visible += utf8[i++];
    }
    return text_size(visible);
}

// A wrapped text in its box: the rows are made at the box's width, then
// each row is placed by its own width, so that the last row of a centred
// or right-aligned paragraph lines up like the others, and the vertical
// alignment counts the rows the wrapping made.
static void write_wrapped(TuiScreen& screen, const TuiRect& box, const std::string& utf8, const TuiPen& pen,
                   const TuiRect& clip) {
    int width = box.x1 - box.x0, height = box.y1 - box.y0;
    if (width <= 0) return;
    std::vector<int> widths;
    walk_rows(utf8, pen, width, [&](int r, int x, u32, int w, const Brush&) {
        if (static_cast<size_t>(r) >= widths.size()) widths.resize(static_cast<size_t>(r) + 1, 0);
        widths[static_cast<size_t>(r)] = x + w;
    });
    std::vector<int> starts = row_starts(widths, width, pen.align);
    int lines = std::max<int>(1, static_cast<int>(widths.size()));
    int y0 = box.y0;
    if (pen.align & ALIGN_MIDDLE) y0 += (height - lines) / 2;
    else if (pen.align & ALIGN_BOTTOM) y0 += height - lines;
    TuiRect c = clip.intersect(box);
    walk_rows(utf8, pen, width, [&](int r, int x, u32 cp, int, const Brush& b) {
        int y = y0 + r;
        int col = box.x0 + starts[static_cast<size_t>(r)] + x;
        if (y >= c.y0 && y < c.y1) screen.put(col, y, cp, TuiStyle{b.fg, b.bg, b.attr}, c);
    });
}

void write_aligned(TuiScreen& screen, const TuiRect& box, const std::string& utf8, const TuiPen& pen,
                   const TuiRect& clip) {
    if (pen.align & ALIGN_WRAP) {
        write_wrapped(screen, box, utf8, pen, clip);
        return;
    }
    TuiTextSize size = shown_text_size(utf8, (pen.flags & PEN_ESCAPES) != 0);
    int width = box.x1 - box.x0, height = box.y1 - box.y0;
    int x = box.x0, y = box.y0;
    if (pen.align & ALIGN_CENTER) x += (width - size.cols) / 2;
    else if (pen.align & ALIGN_RIGHT) x += width - size.cols;
    if (pen.align & ALIGN_MIDDLE) y += (height - size.lines) / 2;
    else if (pen.align & ALIGN_BOTTOM) y += height - size.lines;
    write_text(screen, x, y, utf8, pen, clip.intersect(box));
}

void draw_frame(TuiScreen& screen, const TuiRect& box, const TuiRect& clip, bool round, u32 color,
                const std::string& title, u32 title_fg) {
    if (box.x1 - box.x0 < 2 || box.y1 - box.y0 < 2) return;
    TuiRect c = clip.intersect(box);
    auto keep_bg = [&](int x, int y, u32 cp) {
        if (!c.contains(x, y)) return;
        u32 bg = screen.at(x, y).bg;
        screen.put(x, y, cp, TuiStyle{color, bg, 0}, c);
    };
    int r = box.x1 - 1, b = box.y1 - 1;
    for (int x = box.x0 + 1; x < r; x++) {
        keep_bg(x, box.y0, 0x2500);
        keep_bg(x, b, 0x2500);
    }
    for (int y = box.y0 + 1; y < b; y++) {
        keep_bg(box.x0, y, 0x2502);
        keep_bg(r, y, 0x2502);
    }
    keep_bg(box.x0, box.y0, round ? 0x256D : 0x250C);
    keep_bg(r, box.y0, round ? 0x256E : 0x2510);
    keep_bg(box.x0, b, round ? 0x2570 : 0x2514);
    keep_bg(r, b, round ? 0x256F : 0x2518);
    if (!title.empty()) {
        u32 bg = c.contains(box.x0 + 1, box.y0) ? screen.at(box.x0 + 1, box.y0).bg : 0;
        write_text(screen, box.x0 + 1, box.y0, title, TuiPen{0, 0, title_fg, bg},
                   TuiRect{box.x0 + 1, box.y0, r, box.y0 + 1}.intersect(c));
    }
}

}  // namespace zan::gui

// Frames, attribute changes and the mode sequences of the text-mode back end.
#include "gui/terminal/tui_output.h"

#include <cstdio>

#include "gui/terminal/tui_color.h"
#include "runtime/terminal/console_screen.h"

namespace zan::gui {

namespace {
void csi(std::string& out, int n, char final_byte) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "\x1b[%d%c", n, final_byte);
    out += buf;
}
void private_mode(std::string& out, int mode, bool on) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "\x1b[?%d%c", mode, on ? 'h' : 'l');
    out += buf;
}
bool turned_on(const TuiCell& from, const TuiCell& to, u32 flag) {
    return !(from.attr & flag) && (to.attr & flag);
}
bool turned_off(const TuiCell& from, const TuiCell& to, u32 flag) {
    return (from.attr & flag) && !(to.attr & flag);
}
}  // namespace

void append_attribute_changes(std::string& out, const TuiCell& from, const TuiCell& to) {
    // Bold and dim share their "off" sequence: when either goes off, both
    // are reset and the one that stays is set again.
    if (turned_off(from, to, CELL_BOLD) || turned_off(from, to, CELL_DIM)) {
        out += "\x1b[22m";
        if (to.attr & CELL_DIM) out += "\x1b[2m";
        if (to.attr & CELL_BOLD) out += "\x1b[1m";
    } else {
        if (turned_on(from, to, CELL_DIM)) out += "\x1b[2m";
        if (turned_on(from, to, CELL_BOLD)) out += "\x1b[1m";
    }
    static const struct {
        u32 flag;
        const char* on;
        const char* off;
    } kToggles[] = {{CELL_REVERSE, "\x1b[7m", "\x1b[27m"},
                    {CELL_ITALIC, "\x1b[3m", "\x1b[23m"},
                    {CELL_STRIKE, "\x1b[9m", "\x1b[29m"},
                    {CELL_UNDERLINE, "\x1b[4m", "\x1b[24m"}};
    for (const auto& t : kToggles) {
        if (turned_on(from, to, t.flag)) out += t.on;
        if (turned_off(from, to, t.flag)) out += t.off;
    }
    if (from.fg != to.fg) append_color(out, to.fg, true);
    if (from.bg != to.bg) append_color(out, to.bg, false);
}

std::string frame_bytes(const TuiScreen& screen, TuiPlacement& at) {
    std::string out;
    int cols = screen.cols(), rows = screen.rows();
    if (cols < 1 || rows < 1) return out;
    out.reserve(static_cast<size_t>(cols) * rows * 2 + 64);
    if (at.full_screen) {
        out += "\x1b[H";
    } else {
        out += '\r';
        if (at.cursor_row > 0) csi(out, at.cursor_row, 'A');
        out += "\x1b[0J";
    }
    TuiCell last{0, 0, 0, 0};
    for (int y = 0; y < rows; y++) {
        for (int x = 0; x < cols; x++) {
            const TuiCell& c = screen.at(x, y);
            if (c.attr & CELL_CONTINUATION) continue;
            append_attribute_changes(out, last, c);
            last = c;
            if (c.attr & CELL_MASKED) {
                out += '*';
            } else {
                char buf[4];
                int n = console_utf8_encode(c.cp ? c.cp : ' ', buf);
                out.append(buf, static_cast<size_t>(n));
            }
        }
        if (y + 1 < rows) {
            last.bg = 0;
            out += "\x1b[49m\r\n";
        }
    }
    append_attribute_changes(out, last, TuiCell{0, 0, 0, 0});
    // A caret outside the frame (its widget lies beyond the terminal's edge)
    // shows no cursor: the cursor never leaves the drawn rows and columns.
    if (at.caret && !screen.bounds().contains(at.caret_col, at.caret_row)) at.caret = false;
    if (at.caret) {
        out += '\r';
        if (rows - at.caret_row - 1 > 0) csi(out, rows - at.caret_row - 1, 'A');
        if (at.caret_col > 0) csi(out, at.caret_col, 'C');
        at.cursor_row = at.caret_row;
    } else {
        at.cursor_row = rows - 1;
    }
    return out;
}

std::string mouse_bytes(bool on) {
    std::string out;
    for (int mode : {1000, 1003, 1015, 1006}) private_mode(out, mode, on);
    return out;
}

std::string alt_screen_bytes(bool on) {
    std::string out;
    private_mode(out, 1049, on);
    if (on) out += "\x1b[2J";
    return out;
}

std::string cursor_bytes(bool visible) {
    std::string out;
    private_mode(out, 25, visible);
    return out;
}

std::string below_bytes(int rows, int cursor_row) {
    std::string out;
    if (rows <= 0) return out;
    int below = rows - 1 - cursor_row;
    if (below > 0) csi(out, below, 'B');
    out += "\r\n";
    return out;
}

std::string leave_bytes(int rows, int cursor_row, const TuiModes& modes) {
    std::string out;
    if (!modes.alt_screen) out += below_bytes(rows, cursor_row);
    if (modes.mouse) out += mouse_bytes(false);
    if (modes.alt_screen) out += alt_screen_bytes(false);
    if (modes.cursor_hidden) out += cursor_bytes(true);
    return out;
}

std::string before_print_bytes(bool drawn, int& cursor_row) {
    std::string out;
    if (drawn) {
        out += '\r';
        if (cursor_row > 0) csi(out, cursor_row, 'A');
        out += "\x1b[0J";
    }
    cursor_row = 0;
    return out;
}

}  // namespace zan::gui

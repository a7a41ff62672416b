// Test support for the text-mode back end: writing a string into the cell
// buffer, reading a row of it back as text, and hiding a widget, all done
// through the classes' public members.
#pragma once
#include <string>

#include "gui/terminal/tui_screen.h"
#include "gui/terminal/tui_widgets.h"
#include "runtime/core/case_folding.h"
#include "runtime/terminal/console_screen.h"

namespace zan::gui {

// Draws UTF-8 text on row y from column x within clip, one character at a
// time; returns the columns used. Bad bytes show as U+FFFD.
inline int put_text(TuiScreen& screen, int x, int y, const std::string& utf8, const TuiStyle& style,
                    const TuiRect& clip) {
    int col = x;
    for (size_t i = 0; i < utf8.size();) {
        u32 cp = utf8_next(utf8, i);
        int w = char_width(cp);
        if (w == 0) continue;
        if (col >= clip.x1) break;
        if (col >= clip.x0) screen.put(col, y, cp, style, clip);
        col += w;
    }
    return col - x;
}

// Row y as UTF-8 (continuation cells skipped, empty cells as spaces).
inline std::string row_text(const TuiScreen& screen, int y) {
    std::string out;
    for (int x = 0; x < screen.cols(); x++) {
        const TuiCell& c = screen.at(x, y);
        if (c.attr & CELL_CONTINUATION) continue;
        char buf[4];
        int n = console_utf8_encode(c.cp ? c.cp : ' ', buf);
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// Hides or shows a live widget and marks its window for drawing.
inline void set_hidden(TuiBackend& backend, WidgetId id, bool hidden) {
    TuiWidget* w = backend.widget(id);
    if (!w) return;
    if (hidden) w->flags |= WIDGET_HIDDEN;
    else w->flags &= ~WIDGET_HIDDEN;
    backend.mark_dirty(id);
}

}  // namespace zan::gui

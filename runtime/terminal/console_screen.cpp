// The console screen layer and its grid and terminal back ends.
#include "runtime/terminal/console_screen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "runtime/core/platform.h"

namespace zan {

int console_utf8_encode(u32 cp, char* out) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

namespace {

// One code point from UTF-8 at *p (before end); a bad sequence gives U+FFFD
// and skips one byte.
u32 utf8_next(const u8*& p, const u8* end) {
    u8 b = *p++;
    if (b < 0x80) return b;
    int more;
    u32 cp, min;
    if (b >= 0xC2 && b <= 0xDF) {
        more = 1, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        more = 2, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        more = 3, cp = b & 0x07, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (end - p < more) return 0xFFFD;
    for (int i = 0; i < more; i++) {
        if ((p[i] & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    p += more;
    return cp;
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

void new_line(ConsoleScreen* s) {
    s->cursor_x = 0;
    s->wrap_pending = false;
    if (s->cursor_y < s->height - 1) {
        s->cursor_y++;
    } else {
        s->ops->scroll_up(s, 1, s->default_attribute);
    }
}

}  // namespace

// ---- the layer ------------------------------------------------------------------

ConsoleScreen* console_screen_new(const ConsoleScreenOps* ops, void* backend, int w, int h) {
    auto* s = new ConsoleScreen{};
    s->ops = ops;
    s->backend = backend;
    s->width = w < 1 ? 1 : w;
    s->height = h < 1 ? 1 : h;
    s->cursor_visible = true;
    s->attribute = CONSOLE_DEFAULT_ATTRIBUTE;
    s->default_attribute = CONSOLE_DEFAULT_ATTRIBUTE;
    return s;
}

void console_screen_write(ConsoleScreen* s, const u32* cps, size_t count) {
    constexpr int RUN = 256;
    u32 run[RUN];
    int run_len = 0, run_x = 0, run_y = 0;
    auto flush_run = [&] {
        if (run_len) s->ops->write_run(s, run_x, run_y, run, run_len, s->attribute);
        run_len = 0;
    };
    for (size_t i = 0; i < count; i++) {
        u32 cp = cps[i];
        switch (cp) {
        case '\r':
            flush_run();
            s->cursor_x = 0;
            s->wrap_pending = false;
            break;
        case '\n':
            flush_run();
            new_line(s);
            break;
        case '\b':
            flush_run();
            if (s->wrap_pending)
                s->wrap_pending = false;
            else if (s->cursor_x > 0)
                s->cursor_x--;
            break;
        case '\t':
            flush_run();
            s->wrap_pending = false;
            s->cursor_x = clamp((s->cursor_x / TAB_WIDTH + 1) * TAB_WIDTH, 0, s->width - 1);
            break;
        case 0:
        case 7:
            break;
        default:
            if (s->wrap_pending) {
                flush_run();
                new_line(s);
            }
            if (!run_len) {
                run_x = s->cursor_x;
                run_y = s->cursor_y;
            }
            run[run_len++] = cp;
            if (s->cursor_x >= s->width - 1) {
                s->wrap_pending = true;
                flush_run();
            } else {
                s->cursor_x++;
                if (run_len == RUN) flush_run();
            }
        }
    }
    flush_run();
}

void console_screen_put_char(ConsoleScreen* s, u32 cp) { console_screen_write(s, &cp, 1); }

void console_screen_write_utf8(ConsoleScreen* s, const char* text, size_t length) {
    const u8* p = reinterpret_cast<const u8*>(text);
    const u8* end = p + length;
    u32 buf[128];
    size_t n = 0;
    while (p < end) {
        buf[n++] = utf8_next(p, end);
        if (n == 128) {
            console_screen_write(s, buf, n);
            n = 0;
        }
    }
    console_screen_write(s, buf, n);
}

void console_screen_set_cursor(ConsoleScreen* s, int x, int y) {
    s->cursor_x = clamp(x, 0, s->width - 1);
    s->cursor_y = clamp(y, 0, s->height - 1);
    s->wrap_pending = false;
}

void console_screen_set_attribute(ConsoleScreen* s, u16 attr) { s->attribute = attr; }

void console_screen_fill(ConsoleScreen* s, int x, int y, u32 count, u32 cp, u16 attr) {
    if (x < 0 || y < 0 || x >= s->width || y >= s->height || !count) return;
    u64 total = static_cast<u64>(s->width) * static_cast<u64>(s->height);
    u64 start = static_cast<u64>(y) * static_cast<u64>(s->width) + static_cast<u64>(x);
    if (count > total - start) count = static_cast<u32>(total - start);
    s->ops->fill(s, x, y, count, cp, attr);
}

void console_screen_show_cursor(ConsoleScreen* s, bool visible) {
    s->cursor_visible = visible;
    s->ops->show_cursor(s, visible);
}

int console_screen_flush(ConsoleScreen* s) { return s->ops->flush(s); }

void console_screen_refresh(ConsoleScreen* s) {
    s->ops->refresh(s);
    s->cursor_x = clamp(s->cursor_x, 0, s->width - 1);
    s->cursor_y = clamp(s->cursor_y, 0, s->height - 1);
    if (s->saved_valid) {
        s->saved_x = clamp(s->saved_x, 0, s->width - 1);
        s->saved_y = clamp(s->saved_y, 0, s->height - 1);
    }
}

void console_screen_destroy(ConsoleScreen* s) {
    if (s) s->ops->destroy(s);
}

// ---- terminal back end ----------------------------------------------------------

namespace {

// ANSI colour index of a console colour value, and back (the table is its
// own inverse: red and blue trade places).
constexpr u8 kAnsiOfConsole[8] = {0, 4, 2, 6, 1, 5, 3, 7};

struct Terminal {
    int fd;
    std::string out;
    bool real_valid;  // the terminal's cursor is known to be at real_x, real_y
    int real_x, real_y;
    bool pen_valid;
    u16 pen;
    int error;
};

Terminal* term_of(const ConsoleScreen* s) { return static_cast<Terminal*>(s->backend); }

void term_push(ConsoleScreen* s) {
    Terminal* t = term_of(s);
    if (t->out.empty()) return;
    int err = platform_write_fd(t->fd, t->out.data(), t->out.size());
    if (err && !t->error) t->error = err;
    t->out.clear();
}

void term_append(ConsoleScreen* s, const char* text, size_t n) {
    Terminal* t = term_of(s);
    t->out.append(text, n);
    if (t->out.size() >= 4096) term_push(s);
}

void term_appendf(ConsoleScreen* s, const char* fmt, int a, int b = 0) {
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, fmt, a, b);
    if (n > 0) term_append(s, buf, static_cast<size_t>(n));
}

void term_move(ConsoleScreen* s, int x, int y) {
    Terminal* t = term_of(s);
    if (t->real_valid && t->real_x == x && t->real_y == y) return;
    term_appendf(s, "\x1b[%d;%dH", y + 1, x + 1);
    t->real_valid = true;
    t->real_x = x;
    t->real_y = y;
}

void term_pen(ConsoleScreen* s, u16 attr) {
    Terminal* t = term_of(s);
    if (t->pen_valid && t->pen == attr) return;
    t->pen_valid = true;
    t->pen = attr;
    u16 def = s->default_attribute;
    if (attr == def) {
        term_append(s, "\x1b[0m", 4);
        return;
    }
    std::string seq = "\x1b[0";
    u32 fg = attr & 0x0F, bg = (attr >> 4) & 0x0F;
    if (fg != (def & 0x0Fu)) seq += ";" + std::to_string((fg & 8 ? 90 : 30) + kAnsiOfConsole[fg & 7]);
    if (bg != ((def >> 4) & 0x0Fu))
        seq += ";" + std::to_string((bg & 8 ? 100 : 40) + kAnsiOfConsole[bg & 7]);
    if (attr & ATTR_UNDERSCORE) seq += ";4";
    seq += "m";
    term_append(s, seq.data(), seq.size());
}

void term_advance(ConsoleScreen* s, int n) {
    Terminal* t = term_of(s);
    t->real_x += n;
    // At the right edge the terminal's own wrap state is not ours to guess.
    if (t->real_x >= s->width) t->real_valid = false;
}

void term_char(ConsoleScreen* s, u32 cp) {
    // Control characters are shown as their pictures, never obeyed.
    if (cp < 0x20) cp += 0x2400;
    else if (cp == 0x7F) cp = 0x2421;
    char buf[4];
    term_append(s, buf, static_cast<size_t>(console_utf8_encode(cp, buf)));
}

void term_write_run(ConsoleScreen* s, int x, int y, const u32* cps, int count, u16 attr) {
    term_move(s, x, y);
    term_pen(s, attr);
    for (int i = 0; i < count; i++) term_char(s, cps[i]);
    term_advance(s, count);
}

void term_fill(ConsoleScreen* s, int x, int y, u32 count, u32 cp, u16 attr) {
    while (count && y < s->height) {
        u32 n = static_cast<u32>(s->width - x);
        if (n > count) n = count;
        term_move(s, x, y);
        term_pen(s, attr);
        if (cp == ' ' && x + static_cast<int>(n) == s->width) {
            term_append(s, "\x1b[K", 3);  // to the end of the row; the cursor stays
        } else {
            for (u32 i = 0; i < n; i++) term_char(s, cp);
            term_advance(s, static_cast<int>(n));
        }
        count -= n;
        x = 0;
        y++;
    }
}

void term_scroll_up(ConsoleScreen* s, int lines, u16 attr) {
    term_move(s, 0, s->height - 1);
    term_pen(s, attr);
    for (int i = 0; i < lines; i++) term_append(s, "\n", 1);
}

int term_flush(ConsoleScreen* s) {
    term_move(s, s->cursor_x, s->cursor_y);
    term_push(s);
    return term_of(s)->error;
}

void term_refresh(ConsoleScreen* s) {
    winsize ws{};
    if (ioctl(term_of(s)->fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
        if (ws.ws_col != s->width || ws.ws_row != s->height) {
            s->width = ws.ws_col;
            s->height = ws.ws_row;
            term_of(s)->real_valid = false;
        }
    }
}

void term_show_cursor(ConsoleScreen* s, bool visible) {
    term_append(s, visible ? "\x1b[?25h" : "\x1b[?25l", 6);
}

void term_destroy(ConsoleScreen* s) {
    term_flush(s);
    delete term_of(s);
    delete s;
}

const ConsoleScreenOps kTerminalOps = {term_write_run, term_fill,        term_scroll_up, term_flush,
                                       term_refresh,   term_show_cursor, term_destroy};

}  // namespace

ConsoleScreen* console_terminal_new(int fd) {
    auto* t = new Terminal{};
    t->fd = fd;
    ConsoleScreen* s = console_screen_new(&kTerminalOps, t, 80, 24);
    term_refresh(s);
    return s;
}

}  // namespace zan

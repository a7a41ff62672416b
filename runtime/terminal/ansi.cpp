// Escape-sequence emulation on a console screen.
#include "runtime/terminal/ansi.h"

#include <cstdio>
#include <cstring>

#include "runtime/terminal/print_hooks.h"

namespace zan {

namespace {

constexpr u16 kColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
constexpr size_t RUN_UNITS = 510;

u32 unit_at(const u8* p, size_t i, u32 width) {
    switch (width) {
    case 1:
        return p[i];
    case 2: {
        u16 u;
        std::memcpy(&u, p + i * 2, 2);
        return u;
    }
    default: {
        u32 u;
        std::memcpy(&u, p + i * 4, 4);
        return u;
    }
    }
}

bool is_digit(u32 u) { return u >= '0' && u <= '9'; }

struct Csi {
    u32 private_mark;     // '?', '<', '=', '>' or 0
    bool intermediate;    // a byte 20h-2Fh came before the final
    int count;            // parameters given (0 when none at all)
    u32 p[ANSI_MAX_PARAMS];

    u32 param(int k) const { return k < count && k < ANSI_MAX_PARAMS ? p[k] : 0; }
    int n1() const { return param(0) ? static_cast<int>(param(0)) : 1; }
};

void select_graphic(ConsoleScreen* s, const Csi& c) {
    u16 a = s->attribute;
    if (c.count == 0) {
        a = ansi_sgr(a, s->default_attribute, 0);
    } else {
        int n = c.count < ANSI_MAX_PARAMS ? c.count : ANSI_MAX_PARAMS;
        for (int k = 0; k < n; k++) {
            u32 code = c.p[k];
            if (code == 38 || code == 48 || code == 58) {
                // Extended colours have no console attribute: their
                // arguments are skipped so that none is read as a code.
                u32 mode = c.param(k + 1);
                k += mode == 5 ? 2 : (mode == 2 ? 4 : 1);
                continue;
            }
            a = ansi_sgr(a, s->default_attribute, code);
        }
    }
    console_screen_set_attribute(s, a);
}

void private_mode(ConsoleScreen* s, const Csi& c, u32 final) {
    if (c.private_mark != '?' || (final != 'h' && final != 'l')) return;
    int n = c.count < ANSI_MAX_PARAMS ? c.count : ANSI_MAX_PARAMS;
    for (int k = 0; k < n; k++)
        if (c.p[k] == 25) console_screen_show_cursor(s, final == 'h');
}

void carry_out(ConsoleScreen* s, const Csi& c, u32 final) {
    if (c.intermediate) return;
    if (c.private_mark) {
        private_mode(s, c, final);
        return;
    }
    int x = s->cursor_x, y = s->cursor_y, n = c.n1();
    switch (final) {
    case 'A': console_screen_set_cursor(s, x, y - n); break;
    case 'B': console_screen_set_cursor(s, x, y + n); break;
    case 'C': console_screen_set_cursor(s, x + n, y); break;
    case 'D': console_screen_set_cursor(s, x - n, y); break;
    case 'E': console_screen_set_cursor(s, 0, y + n); break;
    case 'F': console_screen_set_cursor(s, 0, y - n); break;
    case 'G': console_screen_set_cursor(s, n - 1, y); break;
    case 'd': console_screen_set_cursor(s, x, n - 1); break;
    case 'H':
    case 'f': {
        int col = c.param(1) ? static_cast<int>(c.param(1)) : 1;
        console_screen_set_cursor(s, col - 1, n - 1);
        break;
    }
    case 'J':
        switch (c.param(0)) {
        case 0: ansi_erase(s, ERASE_TO_SCREEN_END); break;
        case 1: ansi_erase(s, ERASE_TO_CURSOR); break;
        case 2: ansi_erase(s, ERASE_SCREEN); break;
        default: break;
        }
        break;
    case 'K':
        switch (c.param(0)) {
        case 0: ansi_erase(s, ERASE_TO_ROW_END); break;
        case 1: ansi_erase(s, ERASE_ROW_TO_CURSOR); break;
        case 2: ansi_erase(s, ERASE_ROW); break;
        default: break;
        }
        break;
    case 'm': select_graphic(s, c); break;
    case 's':
        s->saved_valid = true;
        s->saved_x = x;
        s->saved_y = y;
        break;
    case 'u':
        if (s->saved_valid) console_screen_set_cursor(s, s->saved_x, s->saved_y);
        break;
    default: break;
    }
}

}  // namespace

u16 ansi_sgr(u16 a, u16 def, u32 code) {
    if (code >= 30 && code <= 37) return static_cast<u16>((a & 0xF8) + kColour[code - 30]);
    if (code >= 40 && code <= 47) return static_cast<u16>((a & 0x8F) + kColour[code - 40] * 16);
    if (code >= 90 && code <= 97) return static_cast<u16>((a & 0xF0) + kColour[code - 90] + 8);
    if (code >= 100 && code <= 107)
        return static_cast<u16>((a & 0x0F) + (kColour[code - 100] + 8) * 16);
    switch (code) {
    case 0: return def;
    case 1: return static_cast<u16>(a | ATTR_FG_INTENSITY | ATTR_BG_INTENSITY);
    case 4: return static_cast<u16>(a | ATTR_UNDERSCORE);
    case 7: return static_cast<u16>(((a & 0x0F) << 4) | ((a >> 4) & 0x0F));
    case 22: return static_cast<u16>(a & ~(ATTR_FG_INTENSITY | ATTR_BG_INTENSITY));
    case 24: return static_cast<u16>(a & ~ATTR_UNDERSCORE);
    case 39: return static_cast<u16>((a & ~ATTR_FG_MASK) | (def & ATTR_FG_MASK));
    case 49: return static_cast<u16>((a & ~ATTR_BG_MASK) | (def & ATTR_BG_MASK));
    default: return a;
    }
}

void ansi_erase(ConsoleScreen* s, int kind) {
    u32 w = static_cast<u32>(s->width), h = static_cast<u32>(s->height);
    u32 x = static_cast<u32>(s->cursor_x), y = static_cast<u32>(s->cursor_y);
    u16 attr = s->default_attribute;
    switch (kind) {
    case ERASE_TO_SCREEN_END: console_screen_fill(s, int(x), int(y), (h - y) * w - x, ' ', attr); break;
    case ERASE_TO_CURSOR: console_screen_fill(s, 0, 0, y * w + x + 1, ' ', attr); break;
    case ERASE_SCREEN: console_screen_fill(s, 0, 0, w * h, ' ', attr); break;
    case ERASE_ROW: console_screen_fill(s, 0, int(y), w, ' ', attr); break;
    case ERASE_TO_ROW_END: console_screen_fill(s, int(x), int(y), w - x, ' ', attr); break;
    case ERASE_ROW_TO_CURSOR: console_screen_fill(s, 0, int(y), x + 1, ' ', attr); break;
    default: return;
    }
    s->wrap_pending = false;
}

void ansi_screen_dump(ConsoleScreen* s) {
    char lines[6][64];
    std::snprintf(lines[0], sizeof lines[0], "Screen buffer info:");
    std::snprintf(lines[1], sizeof lines[1], "  size: %d %d", s->width, s->height);
    std::snprintf(lines[2], sizeof lines[2], "  cursor: %d %d", s->cursor_x, s->cursor_y);
    std::snprintf(lines[3], sizeof lines[3], "  attribute: %d", s->attribute);
    std::snprintf(lines[4], sizeof lines[4], "  window: %d %d %d %d", 0, 0, s->width - 1,
                  s->height - 1);
    std::snprintf(lines[5], sizeof lines[5], "  largest window: %d %d", s->width, s->height);
    for (auto& line : lines) {
        size_t n = std::strlen(line);
        console_screen_write_utf8(s, line, n);
        console_screen_write_utf8(s, "\r\n", 2);
        print_hooks_call_raw(reinterpret_cast<const u8*>(line), static_cast<u32>(n), true);
    }
}

size_t ansi_sequence(ConsoleScreen* s, const void* esc, size_t bytes, u32 width) {
    const u8* p = static_cast<const u8*>(esc);
    size_t n = bytes / width;
    if (n < 2 || unit_at(p, 0, width) != 27 || unit_at(p, 1, width) != '[') return 0;
    size_t i = 2;
    Csi c{};
    if (i < n) {
        u32 u = unit_at(p, i, width);
        if (u == '?') {
            u32 next = i + 1 < n ? unit_at(p, i + 1, width) : 0;
            if (next < 0x20 || next > 0x7E) {
                ansi_screen_dump(s);
                return (i + 1) * width;
            }
        }
        if (u == '?' || u == '<' || u == '=' || u == '>') {
            c.private_mark = u;
            i++;
        }
    }
    int current = 0;
    while (i < n) {
        u32 u = unit_at(p, i++, width);
        if (is_digit(u) && !c.intermediate) {
            if (current < ANSI_MAX_PARAMS)
                c.p[current] = (c.p[current] * 10 + (u - '0')) % ANSI_PARAM_MODULUS;
            if (c.count <= current) c.count = current + 1;
        } else if ((u == ';' || u == ':') && !c.intermediate) {
            current++;
            if (c.count <= current) c.count = current + 1;
        } else if (u >= 0x20 && u <= 0x2F) {
            c.intermediate = true;
        } else if (u >= 0x40 && u <= 0x7E) {
            carry_out(s, c, u);
            return i * width;
        } else {
            return i * width;  // cannot continue a sequence: it ends here
        }
    }
    return n * width;  // cut off by the end of the text
}

void ansi_write(ConsoleScreen* s, const void* units, size_t bytes, u32 width, bool new_line) {
    const u8* p = static_cast<const u8*>(units);
    size_t n = bytes / width;
    u32 run[RUN_UNITS + 2];
    size_t pending = 0;
    for (size_t i = 0; i < n;) {
        u32 u = unit_at(p, i, width);
        if (u == 27) {
            console_screen_write(s, run, pending);
            pending = 0;
            size_t used = ansi_sequence(s, p + i * width, (n - i) * width, width);
            if (used) {
                i += used / width;
                continue;
            }
        }
        run[pending++] = u;
        i++;
        if (pending == RUN_UNITS) {
            console_screen_write(s, run, pending);
            pending = 0;
        }
    }
    if (new_line) {
        run[pending++] = '\r';
        run[pending++] = '\n';
    }
    console_screen_write(s, run, pending);
}

}  // namespace zan

// Console output writers and the typed print of the runtime's reports.
#include "runtime/terminal/console_out.h"
#include "runtime/terminal/console_out_internal.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "runtime/terminal/ansi.h"
#include "runtime/core/errors.h"
#include "runtime/core/platform.h"
#include "runtime/terminal/print_hooks.h"

namespace zan {

ConsoleOutputState g_console_output;

namespace {

OutputFailureHandler g_on_stdout_failure = nullptr;

u32 unit_at(const u8* p, size_t i, u32 width) {
    if (width == 1) return p[i];
    if (width == 2) {
        u16 u;
        std::memcpy(&u, p + i * 2, 2);
        return u;
    }
    u32 u;
    std::memcpy(&u, p + i * 4, 4);
    return u;
}

void check_width(u32 width) {
    if (width != 1 && width != 2 && width != 4) runtime_fatal(101, "unknown unit width in console output");
}

int note(int err) {
    if (err) g_console_output.error = err;
    return err;
}

// Writes out what is pending; the write position returns to the start.
int write_pending() {
    size_t n = g_console_output.pending;
    g_console_output.pending = 0;
    if (!n) return 0;
    if (g_console_output.fd == STDOUT_FILENO) std::fflush(stdout);  // keep C stdio text in order
    int err = note(platform_write_fd(g_console_output.fd, g_console_output.out, n));
    if (err && g_console_output.fd == STDOUT_FILENO && g_on_stdout_failure)
        g_on_stdout_failure(err);
    return err;
}

int append_byte(u8 b) {
    g_console_output.out[g_console_output.pending++] = b;
    return g_console_output.pending > CONSOLE_FILE_FLUSH_AT ? write_pending() : 0;
}

void drop_terminal() {
    if (g_console_output.terminal) {
        console_screen_destroy(g_console_output.terminal);
        g_console_output.terminal = nullptr;
    }
}

int flush_screen(ConsoleScreen* s) { return note(console_screen_flush(s)); }

// Typed print: the text to the writer, then to the raw hooks.
int typed_print(const char* text, size_t n) {
    int err = platform_write_units(text, n, 1, false);
    print_hooks_call_raw(reinterpret_cast<const u8*>(text), static_cast<u32>(n), false);
    return err;
}

int typed_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int typed_printf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    char* number = g_console_output.number;
    constexpr size_t room = sizeof g_console_output.number;
    int n = std::vsnprintf(number, room, fmt, ap);
    va_end(ap);
    if (n < 0) return 0;
    size_t len = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
    return typed_print(number, len);
}

}  // namespace

void console_output_start(int fd) {
    drop_terminal();
    g_console_output.fd = fd;
    g_console_output.is_console = isatty(fd) == 1;
    g_console_output.pending = 0;
    g_console_output.screen = nullptr;
    g_console_output.default_attribute = CONSOLE_DEFAULT_ATTRIBUTE;
    g_console_output.error = 0;
}

void platform_console_init() { console_output_start(STDOUT_FILENO); }

void platform_console_save_attribute() {
    ConsoleScreen* s = platform_console_screen();
    g_console_output.default_attribute = s ? s->attribute : CONSOLE_DEFAULT_ATTRIBUTE;
    if (s) s->default_attribute = g_console_output.default_attribute;
}

ConsoleScreen* platform_console_screen() {
    if (g_console_output.screen) return g_console_output.screen;
    if (!g_console_output.is_console) return nullptr;
    if (!g_console_output.terminal) {
        g_console_output.terminal = console_terminal_new(g_console_output.fd);
        g_console_output.terminal->default_attribute = g_console_output.default_attribute;
        g_console_output.terminal->attribute = g_console_output.default_attribute;
    }
    return g_console_output.terminal;
}

// ---- writers ----------------------------------------------------------------------

int platform_write_units(const void* units, size_t bytes, u32 width, bool new_line) {
    check_width(width);
    if (g_console_output.screen) return platform_write_console_ansi(units, bytes, width, new_line);
    return platform_write_utf8(units, bytes, width, new_line);
}

int platform_write_console_ansi(const void* units, size_t bytes, u32 width, bool new_line) {
    check_width(width);
    ConsoleScreen* s = platform_console_screen();
    if (!s) return platform_write_utf8(units, bytes, width, new_line);
    ansi_write(s, units, bytes, width, new_line);
    return flush_screen(s);
}

int platform_write_utf8(const void* units, size_t bytes, u32 width, bool new_line) {
    check_width(width);
    const u8* p = static_cast<const u8*>(units);
    size_t n = bytes / width;
    char enc[4];
    for (size_t i = 0; i < n; i++) {
        int len = console_utf8_encode(unit_at(p, i, width), enc);
        for (int k = 0; k < len; k++)
            if (int err = append_byte(static_cast<u8>(enc[k]))) return err;
    }
    if (new_line)
        if (int err = append_byte('\n')) return err;
    return write_pending();
}

int platform_print_ucs4(const void* units, size_t bytes) {
    ConsoleScreen* s = g_console_output.screen;
    if (!s) return platform_write_utf8(units, bytes, 4, false);
    const u8* p = static_cast<const u8*>(units);
    for (size_t i = 0; i < bytes / 4; i++) console_screen_put_char(s, unit_at(p, i, 4));
    return flush_screen(s);
}

int platform_print_ucs4_line(const void* units, size_t bytes) {
    ConsoleScreen* s = g_console_output.screen;
    if (!s) return platform_write_utf8(units, bytes, 4, true);
    int err = platform_print_ucs4(units, bytes);
    console_screen_put_char(s, '\n');
    int err2 = flush_screen(s);
    return err ? err : err2;
}

int platform_console_put_char(u32 cp) {
    if (ConsoleScreen* s = g_console_output.screen) {
        console_screen_put_char(s, cp);
        return flush_screen(s);
    }
    return platform_write_utf8(&cp, 4, 4, false);
}

// ---- console operations -------------------------------------------------------

size_t platform_console_ansi_sequence(const void* esc, size_t bytes, u32 width) {
    check_width(width);
    ConsoleScreen* s = platform_console_screen();
    if (!s) return 0;
    size_t used = ansi_sequence(s, esc, bytes, width);
    flush_screen(s);
    return used;
}

u16 platform_console_sgr(int attr, u32 code) {
    ConsoleScreen* s = platform_console_screen();
    u16 def = s ? s->default_attribute : g_console_output.default_attribute;
    u16 a = attr >= 0 ? static_cast<u16>(attr) : (s ? s->attribute : def);
    return ansi_sgr(a, def, code);
}

void platform_console_erase(int kind) {
    if (ConsoleScreen* s = platform_console_screen()) {
        console_screen_refresh(s);
        ansi_erase(s, kind);
        flush_screen(s);
    }
}

void platform_console_set_cursor(int x, int y) {
    if (ConsoleScreen* s = platform_console_screen()) {
        console_screen_refresh(s);
        console_screen_set_cursor(s, x, y);
        flush_screen(s);
    }
}

void platform_console_set_attribute(u16 attr) {
    if (ConsoleScreen* s = platform_console_screen()) console_screen_set_attribute(s, attr);
}

// ---- typed print ------------------------------------------------------------------

int platform_print_int(i32 value) { return typed_printf("%i", value); }
int platform_print_hex2(u32 value) { return typed_printf("%02X", value); }
int platform_print_hex(u32 value) { return typed_printf("%08X", value); }
int platform_print_float(double value) { return typed_printf("%.16g", value); }
int platform_print_float32(float value) { return typed_printf("%.7g", static_cast<double>(value)); }

int platform_print_cstring(const char* text) {
    size_t n = std::strlen(text);
    int err;
    if (ConsoleScreen* s = g_console_output.screen) {
        for (size_t i = 0; i < n; i++) console_screen_put_char(s, static_cast<u8>(text[i]));
        err = flush_screen(s);
    } else {
        err = write_pending();
        if (!err && n) {
            if (g_console_output.fd == STDOUT_FILENO) std::fflush(stdout);
            err = note(platform_write_fd(g_console_output.fd, text, n));
        }
    }
    print_hooks_call_raw(reinterpret_cast<const u8*>(text), static_cast<u32>(n), false);
    return err;
}

void platform_on_stdout_failure(OutputFailureHandler handler) { g_on_stdout_failure = handler; }

}  // namespace zan

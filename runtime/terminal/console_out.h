// Console output: every piece of text the system prints goes to standard
// output through these writers. The road is chosen at start-up:
//
// - terminal: standard output is a terminal. Text is written as UTF-8 and
//   escape sequences pass through to the terminal, which carries them out.
// - file: standard output is a pipe or a file. Text is written as UTF-8,
//   escape sequences pass through, the new-line flag writes LF.
// - screen: a console screen is attached to the writers' state
//   (console_out_internal.h). Escape sequences are carried out on it by the
//   emulation of ansi.h; the checks attach a grid to read what a terminal
//   would show.
//
// Output is not buffered across calls: each call has written all its text
// when it returns. Partial writes and interruptions are retried; a failed
// write stops the call, which returns the errno, and the error is kept in
// the writers' state.
#pragma once
#include <cstddef>

#include "runtime/core/cell.h"
#include "runtime/terminal/console_screen.h"

namespace zan {

constexpr size_t CONSOLE_OUTPUT_BUFFER = 1024;
// The file road writes whenever more than this many bytes are pending.
constexpr size_t CONSOLE_FILE_FLUSH_AT = 1020;

// Detects the console on standard output and resets the writer's state.
void platform_console_init();
// The console's current attribute becomes its default (SGR 0, erasing). For
// a host that sets its colours before drawing with the console operations
// below; start-up leaves the default as it is, since the product's output
// passes escape sequences through and never reads it.
void platform_console_save_attribute();
// The screen the cursor and attribute operations act on: the attached one,
// else a terminal screen on the output when it is a terminal, else null.
ConsoleScreen* platform_console_screen();

// Writers. units: the first unit; bytes: the text's length in bytes; width:
// 1, 2 or 4 bytes per unit (each unit a code point). Return 0 or an errno.
int platform_write_units(const void* units, size_t bytes, u32 width, bool new_line);
// Escape sequences carried out on the console screen (falls back to the
// file road when there is none).
int platform_write_console_ansi(const void* units, size_t bytes, u32 width, bool new_line);
// UTF-8, escape sequences passed through, LF for the new-line flag.
int platform_write_utf8(const void* units, size_t bytes, u32 width, bool new_line);
// 4-byte code points, with no escape interpretation on a screen.
int platform_print_ucs4(const void* units, size_t bytes);
int platform_print_ucs4_line(const void* units, size_t bytes);
// One code point, as the above. For a host writing one character at a
// time; the print hooks write whole texts, so only its tests call it.
int platform_console_put_char(u32 cp);

// Console operations on platform_console_screen(); nothing happens when
// there is none. For a host that draws on the terminal itself (an
// embedder); the product's own output passes escape sequences through to
// the terminal and never calls these.
size_t platform_console_ansi_sequence(const void* esc, size_t bytes, u32 width);
// attr -1 reads the current attribute.
u16 platform_console_sgr(int attr, u32 code);
void platform_console_erase(int kind);
void platform_console_set_cursor(int x, int y);
void platform_console_set_attribute(u16 attr);

// Typed print for the runtime's own reports: the text goes to the console
// writer and then to the raw print hooks. For diagnostics written from C++
// (a debugging session, a host's report); the language prints through the
// print hooks instead.
int platform_print_int(i32 value);          // "%i"
int platform_print_hex2(u32 value);         // "%02X"
int platform_print_hex(u32 value);          // "%08X"
int platform_print_float(double value);     // "%.16g"
int platform_print_float32(float value);    // "%.7g"
// A NUL-terminated byte string, written as it is (on a screen each byte is
// one character).
int platform_print_cstring(const char* text);

// Called with the errno when a write to standard output fails (the
// process's entry point installs one that ends the process; none: the
// error is only kept).
using OutputFailureHandler = void (*)(int err);
void platform_on_stdout_failure(OutputFailureHandler handler);

}  // namespace zan

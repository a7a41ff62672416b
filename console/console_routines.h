// The terminal module of the console: the routines through which the
// language reads lines (ask, input, the console loop) and the console's
// init routine.
//
// Standard input decides the road:
// - a terminal: lines are edited with the line editor (terminal_editor.h)
//   in raw mode, echoed to standard output when it is a terminal (else to
//   standard error when that is one, else nowhere), with history and Tab
//   completion;
// - a pipe or a file: lines are read as UTF-8 up to LF with no prompt and
//   no echo; a CR before the LF stays in the line; bytes that are not UTF-8
//   become U+FFFD. Once the input has ended, every read answers at once.
//
// Routines (registered by console_routines_register, declared by the
// console modules with boot-routine):
//   console-init str            titles the window (when standard output is
//                               a terminal), measures the terminal into
//                               system/console/size (80x50 without one)
//   _set-buffer-history line hist   the string to fill, the history block
//   _read-input prompt hidden?  edits or reads one line into that string;
//                               true, or false when the input had ended
//                               before anything was read
//   _end-of-input?              whether the last read found the input at
//                               its end with nothing read
//   _terminate-console          nothing to do on this system
//   input-stdin                 a new string with one line of standard input
//   read-stdin buffer buflen    up to buflen bytes of standard input into
//                               the binary, from its head
#pragma once
#include <string>

#include "runtime/terminal/terminal_editor.h"
#include "runtime/terminal/terminal_tty.h"

namespace zan {

void console_routines_register();

}  // namespace zan

namespace zan::console {

// Reads one line of UTF-8 from a reader (LF not kept) into out. False when
// the input had ended before any byte of the line.
bool read_line_utf8(ByteInput& in, std::u32string& out);

// Whether an entered line goes into the history: not when hidden, not
// when empty, not when it equals the newest entry (case-sensitively).
bool history_takes(const std::u32string& line, bool hidden, bool has_newest,
                   const std::u32string& newest);

}  // namespace zan::console

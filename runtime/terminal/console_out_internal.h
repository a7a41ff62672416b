// The console writers' state, shared by the writers and the checks that
// point them at another descriptor or screen and read back what happened.
#pragma once
#include <unistd.h>

#include <cstddef>

#include "runtime/terminal/console_out.h"

namespace zan {

// One instance for the process, shared by every writer.
struct ConsoleOutputState {
    int fd = STDOUT_FILENO;
    bool is_console = false;  // fd was a terminal when it was chosen
    u8 out[CONSOLE_OUTPUT_BUFFER];
    size_t pending = 0;
    char number[64];
    ConsoleScreen* screen = nullptr;    // attached: escape sequences are carried out on it
    ConsoleScreen* terminal = nullptr;  // ours, made on first use
    u16 default_attribute = CONSOLE_DEFAULT_ATTRIBUTE;
    int error = 0;  // errno of the last failed write, 0 when none
};
extern ConsoleOutputState g_console_output;

// Resets the writers' state with fd as their output: the console flag is
// detected on fd, the screen detached, the kept error cleared and the
// terminal screen made earlier dropped (platform_console_init with
// standard output).
void console_output_start(int fd);

}  // namespace zan

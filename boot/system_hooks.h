// What the runtime learns of the system object once the start-up code has
// built it: the error catalogue, the error prototype, the settings the
// interpreter, the lexer and the port maker read. Until then an error is
// made from the built-in catalogue and reported raw when nothing catches it.
#pragma once

namespace zan {

// Runs right after the module that builds `system`.
void system_ready();

}  // namespace zan

// Print hooks: every piece of text the language prints leaves the runtime
// through two lists of callbacks, one for string! values and one for raw
// byte strings. The console writer is the default value hook; other parts of
// the system add hooks to observe or wrap output.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// A value hook gets a string cell (any of the string-like types: head index
// in data1, buffer node in data2) and the new-line flag.
using PrintValueHook = void (*)(const ValueCell* str, bool new_line);
// A raw hook gets bytes, their count and the new-line flag.
using PrintRawHook = void (*)(const u8* bytes, u32 size, bool new_line);

constexpr u32 PRINT_HOOKS_GROWTH = 5;

// Two growable arrays (capacity 5 at start, growing by 5).
struct PrintHookList {
    PrintValueHook* value;
    u32 value_count;
    u32 value_capacity;
    PrintRawHook* raw;
    u32 raw_count;
    u32 raw_capacity;
};
extern PrintHookList g_print_hooks;

// Steps of the text UI around each printed piece (erase its drawing before,
// draw again after). Null until the GUI installs them.
extern void (*g_tui_before_print)();
extern void (*g_tui_after_print)();

// Allocates both lists (dropping any earlier ones) and makes
// print_hooks_default the first value hook. Runs first at start-up.
void print_hooks_init();
// Frees both lists; print_hooks_call does nothing afterwards.
void print_hooks_free();
// Appends each non-null routine to its list.
void print_hooks_add(PrintValueHook value, PrintRawHook raw);
// For a hook owner that goes away before the process ends; the text-mode
// back end's hooks stay installed for the whole run.
// Removes the first entry equal to each non-null routine; an absent one
// changes nothing.
void print_hooks_remove(PrintValueHook value, PrintRawHook raw);
// Calls every value hook, in order of registration.
void print_hooks_call(const ValueCell* str, bool new_line);
// Calls every raw hook, in order of registration.
void print_hooks_call_raw(const u8* bytes, u32 size, bool new_line);

// The console writer: the string's text from its index to its tail, in its
// buffer's unit (1, 2 or 4 bytes), through the platform writers, then
// standard output is flushed. The text UI's steps run before and after.
void print_hooks_default(const ValueCell* str, bool new_line);

}  // namespace zan

// The routines of the start-up code: boot-routine, which the module files
// use to declare routines, and the few that the system object's methods
// need (the global context as an object, the command line, the stack query
// of interpreted?, the float switches).
#include <cstring>
#include <stdexcept>
#include <string>

#include "boot/build_facts.h"
#include "boot/library_code.h"
#include "boot/routine_registry.h"
#include "boot/startup.h"
#include "runtime/core/dtoa.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/routines_system.h"

namespace zan {

namespace {

// Set by the float options of the system object; the float formatter has
// no use for it yet.
bool g_float_full = false;

// boot-routine name [string!] spec [block!] body [block!]
void r_boot_routine() {
    ValueCell* name = stack_arg(0);
    i32 len = -1;
    char* p = unicode_to_utf8(name, &len);
    std::string text(p, static_cast<size_t>(len));
    u32 index = routine_table_find(text.c_str());
    if (!index) throw BootFailure("routine not registered: " + text);
    ValueCell spec = *stack_arg(1);
    ValueCell body = *stack_arg(2);
    ValueCell made = *routine_make(&spec, &body, index, -1, false);
    *stack_result() = made;
}

// system-words: the global context as an object! (system/words).
void r_system_words() {
    ValueCell v = *system_words_object();
    *stack_result() = v;
}

// command-line: the process's command line as one string!.
void r_command_line() {
    ValueCell v = *os_command_line();
    *stack_result() = v;
}

// stack-interpreted?: whether the code that called interpreted? is
// evaluated by the interpreter (a console command, a script, a function of
// the user's) rather than part of the library. interpreted? is a library
// function that calls this routine at once, so the latest library entry is
// its own.
void r_stack_interpreted_q() { logic_box(stack_result(), !library_caller_is_library()); }

// null-handle: a handle! holding 0 (the value of the word null-handle).
void r_null_handle() { handle_make_at(stack_result(), 0, HANDLE_NONE); }

// float-pretty on [logic!], float-full on [logic!]: the float switches.
void r_float_pretty() { float_set_pretty(logic_get(stack_arg(0))); }
void r_float_full() { g_float_full = logic_get(stack_arg(0)); }

// trace-switch on [logic!]: tracing on or off for the rest of a trace run.
void r_trace_switch() {
    interp_trace_switch(logic_get(stack_arg(0)));
    unset_box(stack_result());
}

// trace-run?: whether a do/trace run is open (library code runs untraced,
// so tracing? cannot tell it).
void r_trace_run_q() { logic_box(stack_result(), g_interp.trace_run); }

// build-facts: the facts of this build as Zan text (boot/build_facts.h).
void r_build_facts() {
    const char* text = build_facts_text();
    string_load(text, static_cast<u32>(std::strlen(text)), stack_result(), 0);
}

}  // namespace

void boot_routines_register() {
    routine_table_register("boot-routine", r_boot_routine);
    routine_table_register("system-words", r_system_words);
    routine_table_register("command-line", r_command_line);
    routine_table_register("stack-interpreted?", r_stack_interpreted_q);
    routine_table_register("null-handle", r_null_handle);
    routine_table_register("float-pretty", r_float_pretty);
    routine_table_register("float-full", r_float_full);
    routine_table_register("trace-switch", r_trace_switch);
    routine_table_register("trace-run?", r_trace_run_q);
    routine_table_register("build-facts", r_build_facts);
}

}  // namespace zan

// The built-in system routines: exiting, quiet setters, bit shifts, the
// current directory, file existence and directory creation, the os-info
// object, tuples from integers, UTF-8 character counts, the data and call
// stacks, the tracing flag, standard output, the type predicates and the
// collector's routines.
//
// Each routine is a C++ function registered by name in the routine table
// (routine_table_register) and paired with its spec block, as source text,
// which the language-level library gives to routine! values it makes.
// Calling convention (the interpreter's, as for natives): the arguments sit
// in the current argument frame (stack_arg), already checked against the
// spec; the routine writes its result into the result cell (stack_result),
// boxing integer! and logic! results itself; a routine that writes nothing
// returns its first argument.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/datatypes/routine.h"

namespace zan {

// Registers every system routine in the routine table (again after a
// routine_table_reset).
void routines_system_register();

// The print flag that last-lf? reads: true when the last text printed
// ended with a line feed. Installed by the evaluator, which owns print;
// until then last-lf? answers false.
extern bool (*g_last_lf_hook)();

// system/words: an object! whose context is the global context itself,
// class -1, without change handlers; it also becomes the owner value of the
// global context. Pushed.
ValueCell* system_words_object();

}  // namespace zan

// The table of the built-in system routines: each name, the spec block
// (as source text) that the language-level library gives to the routine!
// value it makes, and the entry.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/datatypes/routine.h"

namespace zan {

struct SystemRoutine {
    const char* name;
    const char* spec;
    RoutineFn entry;
};

// The 24 routines of the core values, the 49 datatype predicates, the 14
// typeset predicates and the 3 collector routines.
constexpr u32 SYSTEM_ROUTINE_COUNT = 24 + 49 + 14 + 3;

// Every system routine, in registration order.
extern const SystemRoutine g_system_routines[SYSTEM_ROUTINE_COUNT];

}  // namespace zan

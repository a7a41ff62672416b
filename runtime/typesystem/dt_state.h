// Resets of the process-wide state of the core datatype modules, so that a
// fresh runtime can be started in the same process (tests and tools). Each
// drops its collector roots and forgets nodes of the old heap.
#pragma once

namespace zan {

void series_state_reset();
void symbols_state_reset();
void context_state_reset();
void runtime_support_state_reset();
// All of the above.
void datatypes_state_reset();

}  // namespace zan

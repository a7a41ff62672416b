#include "runtime/core/cycles.h"

#include "runtime/core/errors.h"

namespace zan {

Node g_cycle_stack[CYCLE_STACK_SIZE];
u32 g_cycle_top = 0;

void cycles_overflow() {
    g_cycle_top = 0;
    fire(Err::internal_too_deep);
}

void cycles_init() { g_cycle_top = 0; }

void cycles_pop_n(u32 n) { g_cycle_top = n > g_cycle_top ? 0 : g_cycle_top - n; }

void cycles_reset() { g_cycle_top = 0; }

void cycles_remap(Node (*relocate)(Node)) {
    for (u32 i = 0; i < g_cycle_top; i++) g_cycle_stack[i] = relocate(g_cycle_stack[i]);
}

}  // namespace zan

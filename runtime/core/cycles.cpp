#include "runtime/core/cycles.h"

#include "runtime/core/errors.h"

namespace zan {

namespace {
Node g_cycles[CYCLE_STACK_SIZE];
u32 g_top = 0;
}  // namespace

void cycles_init() { g_top = 0; }

void cycles_push(Node node) {
    g_cycles[g_top++] = node;
    if (g_top >= CYCLE_STACK_SIZE) {
        g_top = 0;
        fire(Err::internal_too_deep);
    }
}

void cycles_pop() {
    if (g_top) g_top--;
}

void cycles_pop_n(u32 n) { g_top = n > g_top ? 0 : g_top - n; }

void cycles_reset() { g_top = 0; }

bool cycles_find(Node node) {
    for (u32 i = 0; i < g_top; i++)
        if (g_cycles[i] == node) return true;
    return false;
}

u32 cycles_depth() { return g_top; }

void cycles_remap(Node (*relocate)(Node)) {
    for (u32 i = 0; i < g_top; i++) g_cycles[i] = relocate(g_cycles[i]);
}

}  // namespace zan

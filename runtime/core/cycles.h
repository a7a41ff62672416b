// The process-wide cycle stack that deep operations (mold, form, compare,
// copy, ownership binding) use to avoid looping on self-containing values.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 CYCLE_STACK_SIZE = 1000;

// The stack itself: read and written only through the functions below,
// which are inline because every block a deep walk enters calls three of
// them.
extern Node g_cycle_stack[CYCLE_STACK_SIZE];
extern u32 g_cycle_top;

// Empties the stack and raises too-deep.
[[noreturn]] void cycles_overflow();

void cycles_init();
// A deep operation pushes the node of each series or context it enters and
// pops it on leaving; meeting a node already on the stack means the value
// contains itself. Raises too-deep (stack emptied first) when full.
inline void cycles_push(Node node) {
    g_cycle_stack[g_cycle_top++] = node;
    if (__builtin_expect(g_cycle_top >= CYCLE_STACK_SIZE, 0)) cycles_overflow();
}
inline void cycles_pop() {
    if (g_cycle_top) g_cycle_top--;
}
void cycles_pop_n(u32 n);
void cycles_reset();
// The node is being walked by an enclosing level: the value is cyclic.
inline bool cycles_find(Node node) {
    for (u32 i = 0; i < g_cycle_top; i++)
        if (g_cycle_stack[i] == node) return true;
    return false;
}
inline u32 cycles_depth() { return g_cycle_top; }
// Rewrites every recorded node through the given relocation (collector).
void cycles_remap(Node (*relocate)(Node));

// Restores the cycle stack to its depth at construction, also when an error
// unwinds through a deep operation.
struct CycleScope {
    u32 depth = cycles_depth();
    ~CycleScope() {
        u32 d = cycles_depth();
        if (d > depth) cycles_pop_n(d - depth);
    }
};

}  // namespace zan

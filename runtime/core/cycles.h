// The process-wide cycle stack that deep operations (mold, form, compare,
// copy, ownership binding) use to avoid looping on self-containing values.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 CYCLE_STACK_SIZE = 1000;

void cycles_init();
// A deep operation pushes the node of each series or context it enters and
// pops it on leaving; meeting a node already on the stack means the value
// contains itself. Raises too-deep (stack emptied first) when full.
void cycles_push(Node node);
void cycles_pop();
void cycles_pop_n(u32 n);
void cycles_reset();
// The node is being walked by an enclosing level: the value is cyclic.
bool cycles_find(Node node);
u32 cycles_depth();
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

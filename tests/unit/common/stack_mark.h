// Test support shared by the unit-test areas: putting the data and call
// stacks back where they stood after a step that raised.
#pragma once

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"

namespace zan::test {

// The positions of the data and call stacks, taken when made; restore()
// puts them back (a raised error leaves its frames and cells behind).
struct StackMark {
    ValueCell* top = g_stack.top;
    CallFrame* ctop = g_stack.ctop;
    ValueCell* base = g_stack.base;

    void restore() const {
        g_stack.top = top;
        g_stack.ctop = ctop;
        g_stack.base = base;
    }
};

// Runs f and answers the code of the signal it raised, the stacks put back
// where they stood; 0 when it raised none.
template <class F>
u32 raised_code(F f) {
    StackMark mark;
    try {
        f();
    } catch (const ThrowSignal& s) {
        mark.restore();
        return s.code;
    }
    return 0;
}

}  // namespace zan::test

// The flag of a pending interruption, and where it is taken from the host
// layers.
#include "runtime/core/interrupt.h"

namespace zan {

volatile std::sig_atomic_t g_interrupt_pending = 0;
InterruptTaker g_interrupt_taker = nullptr;

void interrupt_take_pending() {
    if (g_interrupt_pending && g_interrupt_taker) g_interrupt_taker();
}

}  // namespace zan

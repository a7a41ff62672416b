// The flag of a pending interruption.
#include "runtime/core/interrupt.h"

namespace zan {

volatile std::sig_atomic_t g_interrupt_pending = 0;

}  // namespace zan

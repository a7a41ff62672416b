// The four CRC-32C lanes behind the boot heap's fingerprint: word k of each
// 32-byte block goes to lane k. The table form and the processor's
// instruction give the same sums, so a heap saved on one machine is
// accepted on another whichever form each one ran.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Continues the lanes h over `blocks` blocks of 32 bytes from p.
void heap_crc_lanes_portable(u32 h[4], const u8* p, u64 blocks);
// The same with the SSE4.2 instruction; only where the processor has it.
void heap_crc_lanes_sse42(u32 h[4], const u8* p, u64 blocks);

}  // namespace zan

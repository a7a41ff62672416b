// The heap region's bookkeeping that its checks read directly.
#pragma once
#include <cstddef>

namespace zan {

// Bytes in warm ranges: freed blocks whose pages are still committed.
extern size_t g_heap_warm_bytes;

}  // namespace zan

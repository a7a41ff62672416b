// Memory statistics (the stats native): the bytes the memory manager holds,
// or a description of every frame.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Level 1: the bytes in use (4 per used node, the used part of every series
// frame, the data of every big series). Level 2 and above: appends to block
// the node frames, the series frames, the big series, the total of the
// frames' sizes with the fixed buffers, and the fixed buffers alone; returns
// 0. The collector is held off for the walk.
double memory_stats(ValueCell* block, i32 level);
// A byte total as the level-2 block gives it: integer! up to 2147483647,
// else float!.
ValueCell* memory_stats_total_cell(u64 bytes, ValueCell* out);

}  // namespace zan

// The seal's storage, shared by the file that keeps it and the checks that
// inspect the snapshot.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// A collector root: a block whose cell 0 is the snapshot object (none
// before the seal), then every sealed function. None before the first seal.
extern ValueCell g_library_root;
// The snapshot object's context (0 before the seal): the words of library
// code that named a callable of the global context are bound to it.
extern Node g_library_snapshot_ctx;

}  // namespace zan

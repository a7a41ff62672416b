// Builds a handle! that keeps a resource in the external-resource table, the
// way a platform binding would record a window or a native action table.
#pragma once
#include "runtime/core/externals.h"
#include "runtime/datatypes/handle.h"

namespace zan::test {

// Records the address under ext_kind (a kind registered in the table) and
// makes the cell a handle of kind whose value and data3 name that slot.
inline ValueCell* make_external_handle(ValueCell* cell, void* address, u32 ext_kind, u32 kind) {
    i32 slot = externals_store(address, ext_kind);
    handle_make_at(cell, static_cast<u32>(slot), kind);
    cell->data3 = static_cast<u32>(slot);
    return cell;
}

}  // namespace zan::test

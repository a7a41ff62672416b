// Helpers shared by the native!, action! and op! files.
#pragma once
#include "runtime/core/cell.h"

namespace zan::native_support {

// make native! / make action!: the spec is a block of the spec block and an
// integer! index in 1..max_index, else bad-make-arg (type, spec). Pushes
// the new value and returns it.
ValueCell* make_builtin(ValueCell* spec, u32 type, u32 max_index);

}  // namespace zan::native_support

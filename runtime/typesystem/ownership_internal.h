// The ownership table's storage, shared by the file that keeps it and the
// checks that inspect it.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// The table's node (0 before the first use). Each entry is keyed by the
// owned series' buffer node (or an image's pixel-slot key) and holds three
// cells after the key: the value, the owner object and the field word.
extern Node g_ownership_table;

constexpr u32 OWNERSHIP_ENTRY_VALUE = 1;
constexpr u32 OWNERSHIP_ENTRY_OWNER = 2;
constexpr u32 OWNERSHIP_ENTRY_WORD = 3;

}  // namespace zan

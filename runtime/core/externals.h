// The external-resource table: slots that record resources living outside
// the collected heap (platform handles, bitmaps), each with a kind whose
// finaliser runs exactly once, when the slot is removed or no value refers
// to it after a collection.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 EXTERNAL_FREE = 0x40000000u;
constexpr u32 EXTERNAL_MARK = 0x80000000u;

struct ExternalSlot {
    u32 kind;        // bits 0-7 registry position; free and mark bits
    void* address;   // the resource
    i32 next;        // next slot on the same list, -1 ends it
};

using ExternalFinalizer = void (*)(void* address);

void externals_init();
// Registers a kind; returns its 1-based position. Raises internal limit-hit
// when the registry is full rather than writing past its end.
u32 externals_register_kind(u32 kind_word, ExternalFinalizer finalizer);
i32 externals_store(void* address, u32 kind);
void externals_replace(i32 slot, void* address);
void externals_remove(i32 slot, bool finalise);
void externals_call_finalizer(u32 kind_word, void* address);
void externals_finalize_slot(i32 slot);
bool externals_mark(i32 slot, void* address);
// Whether the slot has been marked in the collection under way.
bool externals_marked(i32 slot);
void externals_foreach_kind(u32 kind, void (*fn)(u32 kind, void* address));
void externals_sweep();

const ExternalSlot* externals_slot(i32 slot);
u32 externals_capacity();
i32 externals_used_head();
i32 externals_free_head();

}  // namespace zan

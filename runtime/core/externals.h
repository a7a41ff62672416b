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

// Drops the kind registry and starts an empty table of 1000 slots.
void externals_init();
// Registers a kind; returns its 1-based position. Raises internal limit-hit
// when the registry is full rather than writing past its end.
u32 externals_register_kind(u32 kind_word, ExternalFinalizer finalizer);
// Records a resource of a registered kind (its position) and returns the
// slot a value will hold; the table doubles when its last free slot goes.
i32 externals_store(void* address, u32 kind);
// Replace and remove are for the owners of external resources that swap or
// release one before the collector does (closing a handle! explicitly);
// today every slot is freed by the collector's sweep.
// Puts another resource in a slot, finalising the one it held.
void externals_replace(i32 slot, void* address);
// Frees a slot (finalising its resource first when asked); removing a slot
// twice or one out of range does nothing.
void externals_remove(i32 slot, bool finalise);
// Runs the finaliser of the kind in the low byte of kind_word, if any.
void externals_call_finalizer(u32 kind_word, void* address);
void externals_finalize_slot(i32 slot);
// The collector's mark: keeps the slot past the next sweep (a non-null
// address also updates the resource); true when newly marked.
bool externals_mark(i32 slot, void* address);
// Whether the slot has been marked in the collection under way.
bool externals_marked(i32 slot);
// After marking: finalises and frees every unmarked slot, clears the marks.
void externals_sweep();

// A slot as it stands (to check a handle's kind), and the table for tests.
const ExternalSlot* externals_slot(i32 slot);
u32 externals_capacity();

}  // namespace zan

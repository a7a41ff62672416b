#include "runtime/core/externals.h"

#include <cstdlib>

#include "runtime/core/errors.h"

namespace zan {

namespace {
constexpr u32 KIND_CAPACITY = 20;
struct KindEntry {
    u32 kind_word;
    ExternalFinalizer finalizer;
};
KindEntry g_kinds[KIND_CAPACITY];
u32 g_kind_count = 0;

ExternalSlot* g_slots = nullptr;
u32 g_capacity = 0;
i32 g_used = -1;
i32 g_free = -1;

void chain_free(u32 from, u32 to) {
    for (u32 i = from; i < to; i++) {
        g_slots[i].kind = EXTERNAL_FREE;
        g_slots[i].address = nullptr;
        g_slots[i].next = i + 1 < to ? static_cast<i32>(i + 1) : -1;
    }
}

void unlink_used(i32 slot) {
    if (g_used == slot) {
        g_used = g_slots[slot].next;
        return;
    }
    for (i32 i = g_used; i != -1; i = g_slots[i].next) {
        if (g_slots[i].next == slot) {
            g_slots[i].next = g_slots[slot].next;
            return;
        }
    }
}
}  // namespace

void externals_init() {
    std::free(g_slots);
    g_kind_count = 0;
    g_capacity = 1000;
    g_slots = static_cast<ExternalSlot*>(std::malloc(sizeof(ExternalSlot) * g_capacity));
    if (!g_slots) runtime_fatal(1, "out of memory");
    chain_free(0, g_capacity);
    g_used = -1;
    g_free = 0;
}

u32 externals_register_kind(u32 kind_word, ExternalFinalizer finalizer) {
    if (g_kind_count >= KIND_CAPACITY) fire(Err::internal_limit_hit);
    g_kinds[g_kind_count] = {kind_word, finalizer};
    return ++g_kind_count;
}

i32 externals_store(void* address, u32 kind) {
    if (!g_slots) externals_init();
    i32 s = g_free;
    if (g_slots[s].next == -1) {
        // Taking the last free slot: double first, chaining the new half.
        u32 old = g_capacity;
        auto* grown = static_cast<ExternalSlot*>(
            std::realloc(g_slots, sizeof(ExternalSlot) * old * 2));
        if (!grown) runtime_fatal(1, "out of memory");
        g_slots = grown;
        g_capacity = old * 2;
        chain_free(old, g_capacity);
        g_slots[s].next = static_cast<i32>(old);
    }
    g_free = g_slots[s].next;
    g_slots[s].kind = kind & 0xFFu;
    g_slots[s].address = address;
    g_slots[s].next = g_used;
    g_used = s;
    return s;
}

void externals_call_finalizer(u32 kind_word, void* address) {
    u32 pos = kind_word & 0xFFu;
    if (pos < 1 || pos > g_kind_count) return;
    if (g_kinds[pos - 1].finalizer) g_kinds[pos - 1].finalizer(address);
}

void externals_finalize_slot(i32 slot) {
    externals_call_finalizer(g_slots[slot].kind, g_slots[slot].address);
}

void externals_replace(i32 slot, void* address) {
    void* old = g_slots[slot].address;
    g_slots[slot].address = address;
    if (old != address) externals_call_finalizer(g_slots[slot].kind, old);
}

void externals_remove(i32 slot, bool finalise) {
    if (slot < 0 || static_cast<u32>(slot) >= g_capacity) return;
    if (g_slots[slot].kind & EXTERNAL_FREE) return;  // already removed: nothing twice
    if (finalise) externals_finalize_slot(slot);
    unlink_used(slot);
    g_slots[slot].kind = EXTERNAL_FREE;
    g_slots[slot].address = nullptr;
    g_slots[slot].next = g_free;
    g_free = slot;
}

bool externals_mark(i32 slot, void* address) {
    if (slot < 0 || static_cast<u32>(slot) >= g_capacity) return false;
    ExternalSlot& s = g_slots[slot];
    if (address) s.address = address;
    if (s.kind & EXTERNAL_MARK) return false;
    s.kind |= EXTERNAL_MARK;
    return true;
}

bool externals_marked(i32 slot) {
    if (slot < 0 || static_cast<u32>(slot) >= g_capacity) return false;
    return (g_slots[slot].kind & EXTERNAL_MARK) != 0;
}

void externals_sweep() {
    i32 prev = -1;
    i32 i = g_used;
    while (i != -1) {
        i32 next = g_slots[i].next;
        if (g_slots[i].kind & EXTERNAL_MARK) {
            g_slots[i].kind &= ~EXTERNAL_MARK;
            prev = i;
        } else {
            externals_finalize_slot(i);
            if (prev == -1) g_used = next;
            else g_slots[prev].next = next;
            g_slots[i].kind = EXTERNAL_FREE;
            g_slots[i].address = nullptr;
            g_slots[i].next = g_free;
            g_free = i;
        }
        i = next;
    }
}

const ExternalSlot* externals_slot(i32 slot) { return &g_slots[slot]; }
u32 externals_capacity() { return g_capacity; }

}  // namespace zan

// Print hooks and the default console writer hook.
#include "runtime/terminal/print_hooks.h"
#include "runtime/core/layout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/terminal/console_out.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"

namespace zan {

PrintHookList g_print_hooks = {};
void (*g_tui_before_print)() = nullptr;
void (*g_tui_after_print)() = nullptr;

namespace {

template <class T>
T* hook_array(u32 capacity) {
    auto* a = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (!a) runtime_fatal(1, "out of memory for the print hooks");
    return a;
}

template <class T>
void print_hooks_append(T*& list, u32& count, u32& capacity, T hook) {
    if (count == capacity) {
        // A new array, the entries copied over, the old one freed.
        T* grown = hook_array<T>(capacity + PRINT_HOOKS_GROWTH);
        if (count) std::memcpy(grown, list, count * sizeof(T));
        std::free(list);
        list = grown;
        capacity += PRINT_HOOKS_GROWTH;
    }
    list[count++] = hook;
}

template <class T>
void print_hooks_remove_from(T* list, u32& count, T hook) {
    for (u32 i = 0; i < count; i++) {
        if (list[i] == hook) {
            for (u32 j = i + 1; j < count; j++) list[j - 1] = list[j];
            count--;
            return;
        }
    }
}

}  // namespace

void print_hooks_free() {
    std::free(g_print_hooks.value);
    std::free(g_print_hooks.raw);
    g_print_hooks = PrintHookList{};
}

void print_hooks_init() {
    print_hooks_free();
    g_print_hooks.value = hook_array<PrintValueHook>(PRINT_HOOKS_GROWTH);
    g_print_hooks.value_capacity = PRINT_HOOKS_GROWTH;
    g_print_hooks.raw = hook_array<PrintRawHook>(PRINT_HOOKS_GROWTH);
    g_print_hooks.raw_capacity = PRINT_HOOKS_GROWTH;
    print_hooks_add(print_hooks_default, nullptr);
}

void print_hooks_add(PrintValueHook value, PrintRawHook raw) {
    auto& h = g_print_hooks;
    if (value) print_hooks_append(h.value, h.value_count, h.value_capacity, value);
    if (raw) print_hooks_append(h.raw, h.raw_count, h.raw_capacity, raw);
}

void print_hooks_remove(PrintValueHook value, PrintRawHook raw) {
    auto& h = g_print_hooks;
    if (value) print_hooks_remove_from(h.value, h.value_count, value);
    if (raw) print_hooks_remove_from(h.raw, h.raw_count, raw);
}

// The list is read afresh on every step: a hook may add or remove hooks.
void print_hooks_call(const ValueCell* str, bool new_line) {
    for (u32 i = 0; i < g_print_hooks.value_count; i++) g_print_hooks.value[i](str, new_line);
}

void print_hooks_call_raw(const u8* bytes, u32 size, bool new_line) {
    for (u32 i = 0; i < g_print_hooks.raw_count; i++) g_print_hooks.raw[i](bytes, size, new_line);
}

void print_hooks_default(const ValueCell* str, bool new_line) {
    if (g_tui_before_print) g_tui_before_print();
    // Read the buffer only now: the step above may have allocated.
    SeriesBuffer* buf = series_of(str);
    u32 unit = buf->unit();
    if (unit == 1 || unit == 2 || unit == 4) {
        u32 shift = unit == 1 ? 0 : (unit == 2 ? 1 : 2);
        u64 head = static_cast<u64>(buf->head) + (static_cast<u64>(static_cast<u32>(series_index(str))) << shift);
        u64 tail = buf->tail;
        const u8* text = hptr(buf->head);
        // An index past the tail (another value shrank the buffer) is at the tail.
        size_t bytes = head < tail ? static_cast<size_t>(tail - head) : 0;
        if (bytes) text = hptr(static_cast<HeapRef>(head));
        if (unit == 4) {
            if (new_line)
                platform_print_ucs4_line(text, bytes);
            else
                platform_print_ucs4(text, bytes);
        } else {
            platform_write_units(text, bytes, unit, new_line);
        }
    } else {
        platform_print_cstring("Error: unknown string encoding: ");
        platform_print_int(static_cast<i32>(unit));
        platform_print_cstring("\n");
    }
    std::fflush(stdout);
    if (g_tui_after_print) g_tui_after_print();
}

}  // namespace zan

#include "runtime/core/unit_array.h"

#include <cstring>
#include <vector>

#include "runtime/core/memory.h"

namespace zan {

namespace {

// Reserves n bytes at the tail and returns their address. A full buffer is
// expanded to twice its size, or to twice n when n exceeds the size; the
// buffer may move, so the address is only good until the next allocation.
u8* reserve_tail(Node array, u32 n) {
    SeriesBuffer* b = node_buffer(array);
    if (u64(b->tail) + n > b->end_ref()) {
        u64 want = n > b->size ? u64(n) * 2 : u64(b->size) * 2;
        want = (want + 15) & ~u64(15);  // whole units of every unit size
        if (want > 0xFFFFFFFFu) want = 0xFFFFFFFFu;  // refused by the expansion
        b = series_expand(b, static_cast<u32>(want));
    }
    u8* at = b->tail_ptr();
    b->tail += n;
    return at;
}

template <class T>
void append_word(Node array, T value) {
    u8* at = reserve_tail(array, sizeof value);
    std::memcpy(at, &value, sizeof value);
}

template <class T>
T word_at(Node array, u32 position) {
    T v;
    std::memcpy(&v, node_buffer(array)->head_ptr() + (position - 1) * sizeof(T), sizeof v);
    return v;
}

template <class T>
i32 find_word(Node array, T value) {
    SeriesBuffer* b = node_buffer(array);
    const u8* head = b->head_ptr();
    u32 used = b->used_bytes();
    for (u32 off = 0; off + sizeof(T) <= used; off += sizeof(T)) {
        T v;
        std::memcpy(&v, head + off, sizeof v);
        if (v == value) return static_cast<i32>(off);
    }
    return -1;
}

}  // namespace

Node array_make(u32 n, u32 element_size) {
    u64 bytes = u64(n) * element_size;
    // An impossible size is refused by the allocator (no-memory).
    Node a = alloc_bytes(bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<u32>(bytes));
    SeriesBuffer* b = node_buffer(a);
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | (element_size & SERIES_UNIT_MASK);
    return a;
}

u32 array_length(Node array) {
    SeriesBuffer* b = node_buffer(array);
    return b->used_bytes() / b->unit();
}

void array_clear(Node array) {
    SeriesBuffer* b = node_buffer(array);
    b->tail = b->head;
}

void array_truncate(Node array, u32 position) {
    SeriesBuffer* b = node_buffer(array);
    b->tail = b->head + (position - 1) * b->unit();
}

Node array_copy(Node array) { return series_copy_buffer(node_buffer(array)); }

u32 array_flags(Node array) { return node_buffer(array)->flags; }

void array_append_byte(Node array, u8 byte) { *reserve_tail(array, 1) = byte; }

void array_append_bytes(Node array, const void* source, u32 count) {
    if (!count) return;
    SeriesBuffer* b = node_buffer(array);
    if (u64(b->tail) + count > b->end_ref() && heap_contains(source)) {
        // The source lies in the heap and the growth may collect and move
        // it (or it is this very array): take a copy first.
        std::vector<u8> copy(static_cast<const u8*>(source),
                             static_cast<const u8*>(source) + count);
        std::memcpy(reserve_tail(array, count), copy.data(), count);
        return;
    }
    std::memmove(reserve_tail(array, count), source, count);
}

void array_append_int(Node array, i32 value) { append_word(array, value); }
void array_append_ptr(Node array, HeapRef ref) { append_word(array, ref); }

i32 array_pick_int(Node array, u32 position) { return word_at<i32>(array, position); }
HeapRef array_pick_ptr(Node array, u32 position) { return word_at<HeapRef>(array, position); }

void array_poke_int(Node array, u32 position, i32 value) {
    std::memcpy(node_buffer(array)->head_ptr() + (position - 1) * sizeof value, &value,
                sizeof value);
}

i32 array_find_int(Node array, i32 value) { return find_word(array, value); }
i32 array_find_ptr(Node array, HeapRef ref) { return find_word(array, ref); }

void array_remove_ptr(Node array, HeapRef ref) {
    i32 off = array_find_ptr(array, ref);
    if (off >= 0) array_remove_at(array, static_cast<u32>(off), sizeof ref);
}

void array_remove_at(Node array, u32 offset, u32 count) {
    SeriesBuffer* b = node_buffer(array);
    u8* at = b->head_ptr() + offset;
    std::memmove(at, at + count, b->used_bytes() - offset - count);
    b->tail -= count;
}

}  // namespace zan

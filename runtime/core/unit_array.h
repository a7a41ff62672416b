// Raw arrays: series buffers that the runtime uses as growable arrays of
// plain bytes, 32-bit integers or heap references, outside any language
// value. An array is the Node of its buffer; the buffer's unit size is the
// element size, and the used elements run from head to tail.
//
// Appends may move the buffer: hold the Node, never an element address,
// across an append. The array lives in the collected heap, so its owner
// must keep it reachable while it is in use.
//
// Positions given to pick and poke are 1-based element indexes; find
// operations answer 0-based byte offsets from the head, or -1. Positions are
// not checked against the length: they are the caller's responsibility.
//
// "Pointer" elements are heap references (HeapRef): the 32-bit form in which
// the runtime keeps every address of the heap region.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// The whole set stays for the owners of raw arrays: the hash tables use
// make, length, clear, copy and the integer forms today; the byte and
// pointer forms, truncate, flags and remove_ptr are there for the text-mode
// back end's own lists, which would keep widget references in them.
// A new, empty array with room for n elements of the given size (1, 2, 4
// or 16 bytes).
Node array_make(u32 n, u32 element_size);
u32 array_length(Node array);
void array_clear(Node array);
// Keeps the first position - 1 elements.
void array_truncate(Node array, u32 position);
Node array_copy(Node array);
u32 array_flags(Node array);

void array_append_byte(Node array, u8 byte);
void array_append_bytes(Node array, const void* source, u32 count);
void array_append_int(Node array, i32 value);
void array_append_ptr(Node array, HeapRef ref);

i32 array_pick_int(Node array, u32 position);
HeapRef array_pick_ptr(Node array, u32 position);
void array_poke_int(Node array, u32 position, i32 value);

i32 array_find_int(Node array, i32 value);
i32 array_find_ptr(Node array, HeapRef ref);
// Removes the first element equal to ref; nothing when there is none.
void array_remove_ptr(Node array, HeapRef ref);
// Removes count bytes at the byte offset; the bytes behind move down.
void array_remove_at(Node array, u32 offset, u32 count);

}  // namespace zan

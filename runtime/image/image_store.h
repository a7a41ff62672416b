// The pixel store behind image!: one buffer of width x height 32-bit words
// 0xAARRGGBB (bytes B, G, R, A in memory, rows top to bottom, no padding)
// per image, owned by a slot of the external-resource table. An image cell
// keeps only the slot; the collector marks the slot and the table frees the
// buffer once no value reaches it.
#pragma once
#include <cstddef>

#include "runtime/core/cell.h"

namespace zan {

constexpr u32 IMAGE_MAX_SIDE = 65535;
// Decoders refuse headers that claim more pixels than a 4 GiB heap holds.
constexpr u64 IMAGE_MAX_PIXELS = u64(1) << 30;
// The slot word of an image that has no pixels (a zero width or height).
constexpr u32 IMAGE_NO_SLOT = 0xFFFFFFFFu;

struct ImagePixels {
    u32 width;
    u32 height;
    u32* words;  // width * height pixel words (malloc'd)
};

// Registers the external-resource kind of images; runs once at start-up.
void image_store_init();
// A buffer of width * height words, not initialised (or, zeroed, all 0:
// fully transparent, in pages that the system zeroes as they are first
// touched); null when the memory is not there or the count exceeds
// IMAGE_MAX_PIXELS.
u32* image_words_alloc(u32 width, u32 height, bool zeroed = false);
// Frees words from image_words_alloc; null is allowed.
void image_words_free(u32* words);
// Takes ownership of words (from image_words_alloc) and files them under a
// new slot; returns the slot.
u32 image_store_adopt(u32 width, u32 height, u32* words);
// A new slot of width x height pixels all of the colour; raises internal
// no-memory when the buffer cannot be had.
u32 image_store_new(u32 width, u32 height, u32 fill);
// The record of a slot, or null for IMAGE_NO_SLOT or a slot that no
// longer holds an image.
ImagePixels* image_store_get(u32 slot);

}  // namespace zan

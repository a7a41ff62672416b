// image!: a series of 32-bit pixels over a buffer of the pixel store
// (runtime/image/image_store.h). The cell holds the head (data1, a pixel
// index), the store slot (data2, IMAGE_NO_SLOT for an image without pixels)
// and the size (data3: width in bits 0-15, height in bits 16-31). Pixels
// reach the language as tuples R.G.B.T, T being 255 minus the opacity.
#pragma once
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/image/image_store.h"

namespace zan {

// ---- typed access to the cell --------------------------------------------------------------
inline u32 image_head(const ValueCell* v) { return v->data1; }
inline void image_set_head(ValueCell* v, u32 head) { v->data1 = head; }
inline u32 image_slot(const ValueCell* v) { return v->data2; }
inline u32 image_width(const ValueCell* v) { return v->data3 & 0xFFFFu; }
inline u32 image_height(const ValueCell* v) { return v->data3 >> 16; }
inline u32 image_count(const ValueCell* v) { return image_width(v) * image_height(v); }
// The pixel words (width * height), or null for an image without pixels.
u32* image_words(const ValueCell* v);

// Makes cell an image of the size over the slot, head 0.
ValueCell* image_make_at(ValueCell* cell, u32 slot, u32 width, u32 height);
// A new image of width x height, every pixel the colour word (none of
// either side above 65535; a zero side gives an image without pixels).
ValueCell* image_push_new(u32 width, u32 height, u32 fill);
// Pushes an image over decoded words (taking them), sized width x height.
ValueCell* image_push_adopted(u32 width, u32 height, u32* words);

// Pixel words and tuples.
u32 image_pixel_of_tuple(const ValueCell* tuple);
ValueCell* image_tuple_of_pixel(ValueCell* cell, u32 pixel);
// Reads or writes pixel `index`; false (nothing done) when the index is not
// below width x height or the image has no pixels.
bool image_get_pixel(const ValueCell* image, u32 index, u32* pixel);
bool image_set_pixel(ValueCell* image, u32 index, u32 pixel);

// The pixel index of a position (integer or pair; base 1 for pick and
// poke, 0 for skip); *out_of_range tells whether it falls outside.
u32 image_offset_of(const ValueCell* image, const ValueCell* position, i32 base,
                    bool* out_of_range);

// Channel modes of the paths and of to binary!.
enum ImageChannels : i32 { IMAGE_ALPHA = 0, IMAGE_RGB = 1, IMAGE_ARGB = 2 };
// A new binary of the channel bytes of the whole image, pushed.
ValueCell* image_extract_channels(const ValueCell* image, i32 mode);
void image_set_channels(ValueCell* image, const ValueCell* value, i32 mode);

// Decoding and encoding for the codecs and the clipboard. load_binary
// pushes none for bytes without a known signature and raises access
// bad-media when they do not decode; encode pushes a new binary (format 0
// BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF; another number raises invalid-arg).
ValueCell* image_load_binary(const u8* bytes, size_t n);
ValueCell* image_encode(const ValueCell* image, i32 format);
bool image_known_format_q(const u8* bytes, size_t n);

// Registers the routines of the image codecs (decode, and encode per format).
void image_routines_register();

void image_init();

}  // namespace zan

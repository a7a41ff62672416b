// Encoding and decoding of the five image formats to and from the pixel
// words of image_store.h. Every decoder checks the sizes a file claims
// before it takes memory and reports any damage as a failed decode; no
// library error escapes as a jump or an abort.
#pragma once
#include <cstddef>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// Format numbers, as the codecs and the encoder use them.
enum ImageFormat : i32 { IMG_BMP = 0, IMG_PNG = 1, IMG_GIF = 2, IMG_JPEG = 3, IMG_TIFF = 4 };

// A decoded image: words from image_words_alloc, owned until taken.
struct DecodedImage {
    u32 width = 0;
    u32 height = 0;
    u32* words = nullptr;
    DecodedImage() = default;
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;
    ~DecodedImage();
    // Allocates the words for a size a file claims; false when a side is 0
    // or above 65535 or the count is beyond the cap.
    bool allocate(u32 w, u32 h);
    // Hands the words to the caller, who frees them from then on.
    u32* take();
};

// The format whose signature starts the bytes, or -1.
i32 image_format_of(const u8* data, size_t n);
// Decodes the first frame of any known format; false when the bytes are not
// an image this system reads.
bool image_decode(const u8* data, size_t n, DecodedImage& out);
// Encodes width x height words in the format; false for an unknown format
// or when the library fails.
bool image_encode(const u32* words, u32 width, u32 height, i32 format, std::vector<u8>& out);

// The codec of each format, with the contract of image_decode and
// image_encode.
bool png_decode(const u8* data, size_t n, DecodedImage& out);
bool png_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool jpeg_decode(const u8* data, size_t n, DecodedImage& out);
bool jpeg_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool gif_decode(const u8* data, size_t n, DecodedImage& out);
bool gif_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool tiff_decode(const u8* data, size_t n, DecodedImage& out);
bool tiff_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out);
bool bmp_decode(const u8* data, size_t n, DecodedImage& out);
bool bmp_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out);

}  // namespace zan

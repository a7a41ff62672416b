// Encoding and decoding of the five image formats to and from the pixel
// words of image_store.h. Every decoder checks the sizes a file claims
// before it takes memory and reports any damage as a failed decode; no
// library error escapes as a jump or an abort.
//
// A header is only a claim: a decoder takes memory for no more than the
// file's data can describe. Uncompressed data must hold every sample; a
// compressed stream expands at most by its method's ratio below; and the
// parts of an image that no data describes (a GIF's screen around its
// frame, what a run-length bitmap skips) are transparent words in pages
// that the system zeroes only when they are touched. Whatever the data,
// a decoded image holds at most IMAGE_DECODE_MAX_PIXELS.
#pragma once
#include <cstddef>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// The largest image a file may decode to: 2^28 pixels, 1 GiB of words
// (16384 x 16384, or 10000 x 26843). make image! is held only to
// IMAGE_MAX_PIXELS: the script asked for that size, a file only claims it.
constexpr u64 IMAGE_DECODE_MAX_PIXELS = u64(1) << 28;

// The most each compression method expands its data: units (bytes of
// samples, or pixels) per byte of compressed data.
// Deflate: a 258-byte match coded in two bits.
constexpr u64 DEFLATE_MAX_RATIO = 1032;
// LZW: a code of at least 3 bits stands for at most 4096 units.
constexpr u64 LZW_MAX_RATIO = 4096 * 8 / 3 + 1;
// Whether `units` can come from `bytes` of data expanding at most `ratio`
// times (a small image may round up to one ratio's worth).
inline bool image_data_can_hold(u64 units, u64 bytes, u64 ratio) {
    return units <= (bytes + 1) * ratio;
}

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
    // or above 65535 or the count is beyond IMAGE_DECODE_MAX_PIXELS.
    bool allocate(u32 w, u32 h);
    // As allocate, every word 0 (transparent), the pages taken only as the
    // decoder writes them: for data that may leave parts undescribed.
    bool allocate_clear(u32 w, u32 h);
    // Hands the words to the caller, who frees them from then on.
    u32* take();

private:
    bool allocate_words(u32 w, u32 h, bool zeroed);
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

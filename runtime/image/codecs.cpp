#include "runtime/image/codecs.h"

#include <cstring>

#include "runtime/image/image_store.h"

namespace zan {

DecodedImage::~DecodedImage() { image_words_free(words); }

bool DecodedImage::allocate(u32 w, u32 h) { return allocate_words(w, h, false); }
bool DecodedImage::allocate_clear(u32 w, u32 h) { return allocate_words(w, h, true); }

bool DecodedImage::allocate_words(u32 w, u32 h, bool zeroed) {
    if (w == 0 || h == 0 || w > IMAGE_MAX_SIDE || h > IMAGE_MAX_SIDE ||
        u64(w) * h > IMAGE_DECODE_MAX_PIXELS)
        return false;
    image_words_free(words);
    words = image_words_alloc(w, h, zeroed);
    if (!words) return false;
    width = w;
    height = h;
    return true;
}

u32* DecodedImage::take() {
    u32* w = words;
    words = nullptr;
    return w;
}

i32 image_format_of(const u8* d, size_t n) {
    auto starts = [&](const char* sig, size_t len) {
        return n >= len && std::memcmp(d, sig, len) == 0;
    };
    if (starts("\x89PNG", 4)) return IMG_PNG;
    if (starts("\xFF\xD8\xFF", 3)) return IMG_JPEG;
    if (starts("BM", 2)) return IMG_BMP;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return IMG_GIF;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return IMG_TIFF;
    return -1;
}

bool image_decode(const u8* data, size_t n, DecodedImage& out) {
    switch (image_format_of(data, n)) {
        case IMG_PNG: return png_decode(data, n, out);
        case IMG_JPEG: return jpeg_decode(data, n, out);
        case IMG_BMP: return bmp_decode(data, n, out);
        case IMG_GIF: return gif_decode(data, n, out);
        case IMG_TIFF: return tiff_decode(data, n, out);
        default: return false;
    }
}

bool image_encode(const u32* words, u32 width, u32 height, i32 format, std::vector<u8>& out) {
    switch (format) {
        case IMG_PNG: return png_encode(words, width, height, out);
        case IMG_JPEG: return jpeg_encode(words, width, height, out);
        case IMG_BMP: return bmp_encode(words, width, height, out);
        case IMG_GIF: return gif_encode(words, width, height, out);
        case IMG_TIFF: return tiff_encode(words, width, height, out);
        default: return false;
    }
}

}  // namespace zan

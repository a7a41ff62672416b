// PNG through libpng's memory interface, which keeps its error handling
// inside the library and reports failure by its result.
#include <png.h>

#include "runtime/image/codecs.h"

namespace zan {

bool png_decode(const u8* data, size_t n, DecodedImage& out) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, data, n)) return false;
    if (!out.allocate(img.width, img.height)) {
        png_image_free(&img);
        return false;
    }
    img.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&img, nullptr, out.words, 0, nullptr)) {
        png_image_free(&img);
        return false;
    }
    return true;
}

bool png_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = width;
    img.height = height;
    img.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(img, size, 0, words, 0, nullptr)) return false;
    out.resize(size);
    if (!png_image_write_to_memory(&img, out.data(), &size, 0, words, 0, nullptr)) return false;
    out.resize(size);
    return true;
}

}  // namespace zan

// PNG through libpng. Reading gives the stored samples (no gamma
// correction): 16-bit samples keep their high byte, palettes and grey
// expand to RGB, tRNS becomes alpha; every ancillary chunk is skipped
// unread. The library reports errors through a callback that must not
// return; it jumps back to the setjmp inside the small functions below,
// whose own locals are plain data.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "runtime/image/codec_library.h"
#include "runtime/image/codecs.h"
#include "runtime/image/image_store.h"

namespace zan {

namespace {
#define ZAN_PNG_FUNCTIONS(X)                                                                  \
    X(png_create_read_struct) X(png_create_write_struct) X(png_create_info_struct)            \
    X(png_destroy_read_struct) X(png_destroy_write_struct) X(png_get_io_ptr) X(png_error)     \
    X(png_longjmp) X(png_set_longjmp_fn) X(png_set_read_fn) X(png_read_info)                  \
    X(png_get_image_width) X(png_get_image_height) X(png_get_color_type) X(png_set_strip_16)  \
    X(png_set_packing) X(png_set_palette_to_rgb) X(png_get_bit_depth)                         \
    X(png_set_expand_gray_1_2_4_to_8) X(png_get_valid) X(png_set_tRNS_to_alpha)              \
    X(png_set_gray_to_rgb) X(png_set_filler) X(png_set_bgr) X(png_set_interlace_handling)     \
    X(png_read_update_info) X(png_get_rowbytes) X(png_read_image) X(png_read_end)             \
    X(png_set_write_fn) X(png_set_IHDR) X(png_set_compression_level) X(png_set_filter)        \
    X(png_write_info) X(png_write_row) X(png_write_end) X(png_set_user_limits)                \
    X(png_set_chunk_malloc_max) X(png_set_chunk_cache_max) X(png_set_keep_unknown_chunks)
ZAN_CODEC_LIBRARY(png_library, ZAN_PNG_SONAME, ZAN_PNG_FUNCTIONS)

struct PngSource {
    const u8* data;
    size_t n;
    size_t pos;
    u64 idat;  // the bytes of the IDAT chunks
};

u32 be32(const u8* p) { return (u32(p[0]) << 24) | (u32(p[1]) << 16) | (u32(p[2]) << 8) | p[3]; }

// Walks the chunks after the signature up to IEND: false when one claims
// more bytes than the file has left; sums the image data's lengths.
bool chunks_fit(PngSource& src) {
    src.idat = 0;
    size_t at = 8;
    while (at + 12 <= src.n) {
        u32 len = be32(src.data + at);
        if (len > src.n - at - 12) return false;
        if (std::memcmp(src.data + at + 4, "IDAT", 4) == 0) src.idat += len;
        if (std::memcmp(src.data + at + 4, "IEND", 4) == 0) return true;
        at += size_t(len) + 12;
    }
    return false;
}

void png_read_mem(png_structp png, png_bytep out, png_size_t len) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (len > src->n - src->pos) png_error(png, "data ends early");
    std::memcpy(out, src->data + src->pos, len);
    src->pos += len;
}

[[noreturn]] void png_fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
    std::abort();  // not reached: png_longjmp jumps
}
void png_quiet(png_structp, png_const_charp) {}

bool png_read_all(png_structp png, png_infop info, PngSource* src, DecodedImage* out,
                  png_bytep* rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, src, png_read_mem);
    // Nothing but the image is read: the library keeps no text, profile or
    // other ancillary chunk, and holds what it does keep within bounds.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_user_limits(png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
    png_set_chunk_cache_max(png, 64);
    png_set_chunk_malloc_max(png, 1 << 20);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    // The filtered rows (a filter byte each) come from the IDAT data.
    u64 raw = u64(h) * (1 + png_get_rowbytes(png, info));
    if (!image_data_can_hold(raw, src->idat, DEFLATE_MAX_RATIO) || !out->allocate(w, h))
        return false;
    int type = png_get_color_type(png, info);
    png_set_strip_16(png);
    png_set_packing(png);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) return false;
    for (png_uint_32 y = 0; y < h; y++) rows[y] = reinterpret_cast<png_bytep>(out->words + size_t(y) * w);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}
void png_write_mem(png_structp png, png_bytep data, png_size_t len) {
    auto* out = static_cast<std::vector<u8>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + len);
}
void png_flush_mem(png_structp) {}

// RGBA, 8 bits, one pass over the rows of BGRA words.
bool png_write_all(png_structp png, png_infop info, const u32* words, u32 width, u32 height,
                   std::vector<u8>* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, png_write_mem, png_flush_mem);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // A fast level and two cheap filters: most of the size for a fraction
    // of the time of the full search.
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
    png_write_info(png, info);
    png_set_bgr(png);
    for (u32 y = 0; y < height; y++)
        png_write_row(png, reinterpret_cast<png_const_bytep>(words + size_t(y) * width));
    png_write_end(png, nullptr);
    return true;
}
}  // namespace

bool png_decode(const u8* data, size_t n, DecodedImage& out) {
    PngSource src{data, n, 0, 0};
    if (!chunks_fit(src) || !png_library()) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    // The row table is sized for the largest side there can be.
    std::vector<png_bytep> rows(65536);
    bool ok = png_read_all(png, info, &src, &out, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

bool png_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!png_library()) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    bool ok = info && png_write_all(png, info, words, width, height, &out);
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok;
}

}  // namespace zan

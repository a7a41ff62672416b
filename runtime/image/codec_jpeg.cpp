// JPEG through libjpeg. The library reports errors through a callback that
// must not return; it jumps back to the setjmp inside the two small
// functions below, whose own locals are plain data, so no frame of ours with
// a destructor is ever skipped.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "runtime/image/codec_library.h"
#include "runtime/image/codecs.h"

namespace zan {

namespace {
#define ZAN_JPEG_FUNCTIONS(X)                                                                 \
    X(jpeg_std_error) X(jpeg_CreateDecompress) X(jpeg_CreateCompress)                         \
    X(jpeg_destroy_decompress) X(jpeg_destroy_compress) X(jpeg_mem_src) X(jpeg_mem_dest)      \
    X(jpeg_read_header) X(jpeg_start_decompress) X(jpeg_read_scanlines)                       \
    X(jpeg_finish_decompress) X(jpeg_set_defaults) X(jpeg_set_quality)                        \
    X(jpeg_start_compress) X(jpeg_write_scanlines) X(jpeg_finish_compress)
ZAN_CODEC_LIBRARY(jpeg_library, ZAN_JPEG_SONAME, ZAN_JPEG_FUNCTIONS)

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void jpeg_fail(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}
void jpeg_quiet(j_common_ptr, int) {}
// Reading treats the library's warnings (data ending early, corrupt
// segments) as failures: a damaged file is refused, not half shown.
void jpeg_strict(j_common_ptr cinfo, int level) {
    if (level < 0) jpeg_fail(cinfo);
}

// The library's error manager with our exits; strict turns warnings into
// failures.
jpeg_error_mgr* error_manager(JpegError& err, bool strict) {
    jpeg_error_mgr* m = jpeg_std_error(&err.mgr);
    m->error_exit = jpeg_fail;
    m->emit_message = strict ? jpeg_strict : jpeg_quiet;
    return m;
}

// Whether the image is stored as ink (CMYK, or YCCK, which the library
// turns into CMYK): such files are read as CMYK and made RGB here.
bool ink_q(const jpeg_decompress_struct* cinfo) {
    return cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
}

// Turns a row of CMYK bytes into pixel words in place (both 4 bytes a
// pixel): each colour is what the ink leaves of white, (255 - C) x (255 - K)
// / 255. Files with the Adobe marker (as common tools write them) store
// every ink value inverted, 255 - ink.
void ink_row_to_words(u32* row, u32 width, bool inverted) {
    const u8* bytes = reinterpret_cast<const u8*>(row);
    for (u32 x = 0; x < width; x++) {
        u32 left[4];
        for (int k = 0; k < 4; k++) left[k] = inverted ? bytes[4 * x + k] : 255u - bytes[4 * x + k];
        u32 r = (left[0] * left[3] + 127) / 255, g = (left[1] * left[3] + 127) / 255,
            b = (left[2] * left[3] + 127) / 255;
        row[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
}

// Whether the file can code the size its header claims. Huffman codes take
// at least a bit for each 8 x 8 block that a scan codes, a block of a
// component sampled at a quarter covering up to 1024 pixels; arithmetic
// coding can take less, held only by the pixel cap.
bool sizes_fit(const jpeg_decompress_struct* cinfo, size_t n) {
    u64 pixels = u64(cinfo->image_width) * cinfo->image_height;
    return cinfo->arith_code || image_data_can_hold(pixels, n, 1024 * 8);
}

// Reads the header and the scan lines into words; returns false on any
// library error. `row` is a scratch buffer of 3 * width bytes.
bool jpeg_read(jpeg_decompress_struct* cinfo, JpegError* err, const u8* data, size_t n,
               DecodedImage* out, u8** row) {
    if (setjmp(err->jump)) return false;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(n));
    jpeg_read_header(cinfo, TRUE);
    bool ink = ink_q(cinfo);
    cinfo->out_color_space = ink ? JCS_CMYK : JCS_EXT_BGRA;
    if (!sizes_fit(cinfo, n) || !out->allocate(cinfo->image_width, cinfo->image_height))
        return false;
    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        u32* words = out->words + size_t(cinfo->output_scanline) * out->width;
        *row = reinterpret_cast<u8*>(words);
        jpeg_read_scanlines(cinfo, row, 1);
        if (ink) ink_row_to_words(words, out->width, cinfo->saw_Adobe_marker);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

bool jpeg_write(jpeg_compress_struct* cinfo, JpegError* err, const u32* words, u32 width,
                u32 height, unsigned char** mem, unsigned long* size) {
    if (setjmp(err->jump)) return false;
    jpeg_mem_dest(cinfo, mem, size);
    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = 4;
    cinfo->in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 92, TRUE);
    // Full-resolution colour: small images keep their colours.
    for (int c = 0; c < cinfo->num_components; c++)
        cinfo->comp_info[c].h_samp_factor = cinfo->comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const u8*>(words + size_t(cinfo->next_scanline) * width));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}
}  // namespace

bool jpeg_decode(const u8* data, size_t n, DecodedImage& out) {
    if (!jpeg_library()) return false;
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = error_manager(err, true);
    jpeg_create_decompress(&cinfo);
    u8* row = nullptr;
    bool ok = jpeg_read(&cinfo, &err, data, n, &out, &row);
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

bool jpeg_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!jpeg_library()) return false;
    jpeg_compress_struct cinfo{};
    JpegError err{};
    cinfo.err = error_manager(err, false);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    bool ok = jpeg_write(&cinfo, &err, words, width, height, &mem, &size);
    jpeg_destroy_compress(&cinfo);
    if (ok) out.assign(mem, mem + size);
    std::free(mem);
    return ok;
}

}  // namespace zan

// One image format's decoder on fuzzed bytes (built once per format, the
// format given by ZAN_FUZZ_FORMAT), without the signature check in front of
// it. An image it accepts is encoded again in the same format and decoded
// once more: the encoder takes every size a decoder gives, the sizes
// survive, and the lossless formats give back every pixel.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/image/codecs.h"

namespace {

using namespace zan;

bool decode_as(i32 format, const u8* data, size_t n, DecodedImage& out) {
    switch (format) {
        case IMG_PNG: return png_decode(data, n, out);
        case IMG_JPEG: return jpeg_decode(data, n, out);
        case IMG_GIF: return gif_decode(data, n, out);
        case IMG_TIFF: return tiff_decode(data, n, out);
        default: return bmp_decode(data, n, out);
    }
}

[[noreturn]] void fail(const char* what, const DecodedImage& d) {
    std::fprintf(stderr, "%s (%ux%u)\n", what, d.width, d.height);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan;
    const i32 format = ZAN_FUZZ_FORMAT;
    DecodedImage d;
    if (!decode_as(format, data, size, d)) return 0;
    if (!d.words || d.width == 0 || d.height == 0) fail("an accepted image without pixels", d);
    // Large images (a claim the data backs) are decoded only: encoding them
    // again would take most of a run's time.
    if (u64(d.width) * d.height > (u64(1) << 18)) return 0;
    std::vector<u8> file;
    if (!image_encode(d.words, d.width, d.height, format, file)) fail("not encoded again", d);
    DecodedImage again;
    if (!image_decode(file.data(), file.size(), again)) fail("its own encoding refused", d);
    if (again.width != d.width || again.height != d.height) fail("the size changed", d);
    bool lossless = format == IMG_PNG || format == IMG_BMP || format == IMG_TIFF;
    if (lossless && std::memcmp(d.words, again.words, size_t(d.width) * d.height * 4) != 0)
        fail("the pixels changed", d);
    return 0;
}

// image!: decoding and encoding through the codecs of runtime/image, and
// the routines behind the image codec objects of system/codecs.
#include <fstream>
#include <iterator>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/image/codecs.h"

namespace zan {

bool image_known_format_q(const u8* bytes, size_t n) { return image_format_of(bytes, n) >= 0; }

ValueCell* image_load_binary(const u8* bytes, size_t n) {
    if (!image_known_format_q(bytes, n)) return none_push();
    DecodedImage d;
    if (!image_decode(bytes, n, d)) fire(Err::access_bad_media);
    return image_push_adopted(d.width, d.height, d.take());
}

ValueCell* image_encode(const ValueCell* image, i32 format) {
    if (format < IMG_BMP || format > IMG_TIFF) {
        ValueCell* f = integer_push(format);
        fire(Err::script_invalid_arg, f);
    }
    const u32* words = image_words(image);
    if (!words) return binary_push_new(1);
    std::vector<u8> out;
    if (!image_encode(words, image_width(image), image_height(image), format, out))
        fire(Err::access_bad_media);
    ValueCell* b = binary_push_new(static_cast<u32>(out.size()) + 1);
    binary_append_bytes(b, out.data(), static_cast<u32>(out.size()));
    return b;
}

namespace {
// decode data [any-type!]: a binary, or a file read whole.
void image_routine_decode() {
    ValueCell* top = g_stack.top;
    ValueCell data = *stack_arg(0);
    ValueCell* result;
    if (data.type() == TYPE_BINARY) {
        // Bytes without a known signature give none.
        result = image_load_binary(binary_head_ptr(&data), static_cast<size_t>(binary_length(&data)));
    } else if (data.type() == TYPE_FILE) {
        std::ifstream in(file_to_local_cstr(&data), std::ios::binary);
        std::vector<u8> bytes;
        if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        DecodedImage d;
        if (!in.good() && !in.eof()) fire(Err::access_cannot_open, &data);
        if (!image_decode(bytes.data(), bytes.size(), d)) fire(Err::access_cannot_open, &data);
        result = image_push_adopted(d.width, d.height, d.take());
    } else {
        fire(Err::script_invalid_arg, &data);
    }
    ValueCell r = *result;
    g_stack.top = top;
    stack_set_last(&r);
}

// encode img [image!] where [any-type!], one routine per format.
template <i32 Format>
void image_routine_encode() {
    ValueCell* top = g_stack.top;
    ValueCell img = *stack_arg(0);
    if (img.type() != TYPE_IMAGE) fire(Err::script_invalid_arg, &img);
    ValueCell r = *image_encode(&img, Format);
    g_stack.top = top;
    stack_set_last(&r);
}
}  // namespace

void image_routines_register() {
    routine_table_register("image-decode", image_routine_decode);
    routine_table_register("bmp-encode", image_routine_encode<IMG_BMP>);
    routine_table_register("png-encode", image_routine_encode<IMG_PNG>);
    routine_table_register("gif-encode", image_routine_encode<IMG_GIF>);
    routine_table_register("jpeg-encode", image_routine_encode<IMG_JPEG>);
    routine_table_register("tiff-encode", image_routine_encode<IMG_TIFF>);
}

}  // namespace zan

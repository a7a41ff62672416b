// GIF through giflib, on memory: only the first frame is read, laid over a
// transparent screen; writing quantises to a palette of 255 colours and
// keeps one index for transparent pixels.
#include <gif_lib.h>

#include <cstring>
#include <unordered_map>

#include "runtime/image/codec_library.h"
#include "runtime/image/codecs.h"

namespace zan {

namespace {
#define ZAN_GIF_FUNCTIONS(X)                                                                  \
    X(DGifOpen) X(DGifCloseFile) X(DGifGetRecordType) X(DGifGetImageDesc) X(DGifGetLine)      \
    X(DGifGetExtension) X(DGifGetExtensionNext) X(DGifExtensionToGCB) X(EGifOpen)             \
    X(EGifCloseFile) X(EGifPutScreenDesc) X(EGifPutExtension) X(EGifGCBToExtension)           \
    X(EGifPutImageDesc) X(EGifPutLine) X(GifMakeMapObject) X(GifFreeMapObject)                \
    X(GifQuantizeBuffer)
ZAN_CODEC_LIBRARY(gif_library, ZAN_GIF_SONAME, ZAN_GIF_FUNCTIONS)

struct MemReader {
    const u8* data;
    size_t n;
    size_t pos;
};

int read_mem(GifFileType* gif, GifByteType* buf, int len) {
    auto* r = static_cast<MemReader*>(gif->UserData);
    size_t left = r->n - r->pos;
    size_t take = static_cast<size_t>(len) < left ? static_cast<size_t>(len) : left;
    std::memcpy(buf, r->data + r->pos, take);
    r->pos += take;
    return static_cast<int>(take);
}

int write_mem(GifFileType* gif, const GifByteType* buf, int len) {
    auto* out = static_cast<std::vector<u8>*>(gif->UserData);
    out->insert(out->end(), buf, buf + len);
    return len;
}

// The extensions before the first frame: the transparent index of its
// graphic control block, or -1.
bool read_extension(GifFileType* gif, int* transparent) {
    int code = 0;
    GifByteType* ext = nullptr;
    if (DGifGetExtension(gif, &code, &ext) != GIF_OK) return false;
    while (ext) {
        GraphicsControlBlock gcb;
        if (code == GRAPHICS_EXT_FUNC_CODE && ext[0] == 4 &&
            DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK)
            *transparent = gcb.TransparentColor;
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) return false;
    }
    return true;
}

// Reads records up to the first frame and decodes it over the screen. The
// sizes are checked before any pixel memory is taken: the screen within
// the limits, the frame within the screen and within what the rest of the
// file can code. The screen is allocated clear (transparent), so only the
// frame's rows take memory.
bool decode_first(GifFileType* gif, const MemReader& r, DecodedImage& out) {
    int transparent = -1;
    GifRecordType type;
    do {
        if (DGifGetRecordType(gif, &type) != GIF_OK) return false;
        if (type == EXTENSION_RECORD_TYPE && !read_extension(gif, &transparent)) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;
    } while (type != IMAGE_DESC_RECORD_TYPE);
    if (DGifGetImageDesc(gif) != GIF_OK) return false;
    const GifImageDesc& d = gif->Image;
    u32 sw = static_cast<u32>(gif->SWidth), sh = static_cast<u32>(gif->SHeight);
    if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0 ||
        u32(d.Left + d.Width) > sw || u32(d.Top + d.Height) > sh ||
        !image_data_can_hold(u64(d.Width) * u64(d.Height), r.n - r.pos, LZW_MAX_RATIO))
        return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !out.allocate_clear(sw, sh)) return false;
    std::vector<GifPixelType> line(static_cast<size_t>(d.Width));
    // Interlaced frames come in four passes of rows.
    static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int first = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
        for (int y = first; y < d.Height; y += step) {
            if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return false;
            u32* row = out.words + size_t(d.Top + y) * sw + d.Left;
            for (int x = 0; x < d.Width; x++) {
                int idx = line[static_cast<size_t>(x)];
                if (idx >= map->ColorCount) continue;
                // The transparent index keeps its palette colour, fully clear.
                const GifColorType& c = map->Colors[idx];
                u32 a = idx == transparent ? 0 : 0xFF000000u;
                row[x] = a | (u32(c.Red) << 16) | (u32(c.Green) << 8) | c.Blue;
            }
        }
    }
    return true;
}

// A palette of the image's own colours when it has no more than `room` of
// them (transparent pixels aside); false when it has more.
bool exact_palette(const u32* words, size_t count, int& room, std::vector<GifColorType>& palette,
                   std::vector<GifByteType>& indexes) {
    std::unordered_map<u32, int> seen;
    for (size_t i = 0; i < count; i++) {
        if ((words[i] >> 24) < 128) continue;
        u32 rgb = words[i] & 0xFFFFFFu;
        auto it = seen.find(rgb);
        if (it == seen.end()) {
            if (static_cast<int>(seen.size()) == room) return false;
            int idx = static_cast<int>(seen.size());
            seen.emplace(rgb, idx);
            palette[idx] = GifColorType{static_cast<GifByteType>(rgb >> 16),
                                        static_cast<GifByteType>(rgb >> 8),
                                        static_cast<GifByteType>(rgb)};
            indexes[i] = static_cast<GifByteType>(idx);
        } else {
            indexes[i] = static_cast<GifByteType>(it->second);
        }
    }
    room = static_cast<int>(seen.size());
    return true;
}
}  // namespace

bool gif_decode(const u8* data, size_t n, DecodedImage& out) {
    if (!gif_library()) return false;
    MemReader r{data, n, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&r, read_mem, &error);
    if (!gif) return false;
    bool ok = decode_first(gif, r, out);
    DGifCloseFile(gif, &error);
    return ok;
}

bool gif_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!gif_library()) return false;
    size_t count = size_t(width) * height;
    std::vector<GifByteType> red(count), green(count), blue(count), indexes(count);
    bool any_transparent = false;
    for (size_t i = 0; i < count; i++) {
        red[i] = static_cast<GifByteType>(words[i] >> 16);
        green[i] = static_cast<GifByteType>(words[i] >> 8);
        blue[i] = static_cast<GifByteType>(words[i]);
        if ((words[i] >> 24) < 128) any_transparent = true;
    }
    int colours = any_transparent ? 255 : 256;
    std::vector<GifColorType> palette(256, GifColorType{0, 0, 0});
    if (!exact_palette(words, count, colours, palette, indexes) &&
        GifQuantizeBuffer(width, height, &colours, red.data(), green.data(), blue.data(),
                          indexes.data(), palette.data()) != GIF_OK)
        return false;
    int transparent = -1;
    if (any_transparent) {
        transparent = 255;
        for (size_t i = 0; i < count; i++)
            if ((words[i] >> 24) < 128) indexes[i] = 255;
    }
    for (int i = colours; i < 256; i++) palette[i] = GifColorType{0, 0, 0};
    int error = 0;
    GifFileType* gif = EGifOpen(&out, write_mem, &error);
    if (!gif) return false;
    ColorMapObject* map = GifMakeMapObject(256, palette.data());
    bool ok = map != nullptr;
    if (ok) ok = EGifPutScreenDesc(gif, int(width), int(height), 8, 0, map) == GIF_OK;
    if (ok && transparent >= 0) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = 0;
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        size_t len = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext) == GIF_OK;
    }
    if (ok) ok = EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) == GIF_OK;
    for (u32 y = 0; ok && y < height; y++)
        ok = EGifPutLine(gif, indexes.data() + size_t(y) * width, int(width)) == GIF_OK;
    if (map) GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok;
}

}  // namespace zan

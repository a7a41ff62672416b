// GIF through giflib, on memory: the first frame is read and laid over the
// screen's background; writing quantises to a palette of 255 colours and
// keeps one index for transparent pixels.
#include <gif_lib.h>

#include <cstring>
#include <unordered_map>

#include "runtime/image/codecs.h"

namespace zan {

namespace {
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

bool decode_first(GifFileType* gif, DecodedImage& out) {
    // A damaged file is refused whole: a frame cut short has unread rows.
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) return false;
    const SavedImage& frame = gif->SavedImages[0];
    const GifImageDesc& d = frame.ImageDesc;
    u32 sw = gif->SWidth > 0 ? static_cast<u32>(gif->SWidth) : static_cast<u32>(d.Width);
    u32 sh = gif->SHeight > 0 ? static_cast<u32>(gif->SHeight) : static_cast<u32>(d.Height);
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || !frame.RasterBits || d.Width <= 0 || d.Height <= 0) return false;
    if (!out.allocate(sw, sh)) return false;
    int transparent = -1;
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
    // Outside the frame the screen is transparent.
    for (size_t i = 0; i < size_t(sw) * sh; i++) out.words[i] = 0;
    for (int y = 0; y < d.Height; y++) {
        i64 ty = i64(d.Top) + y;
        if (ty < 0 || ty >= sh) continue;
        for (int x = 0; x < d.Width; x++) {
            i64 tx = i64(d.Left) + x;
            if (tx < 0 || tx >= sw) continue;
            int idx = frame.RasterBits[size_t(y) * d.Width + x];
            if (idx >= map->ColorCount) continue;
            // The transparent index keeps its palette colour, fully clear.
            const GifColorType& c = map->Colors[idx];
            u32 a = idx == transparent ? 0 : 0xFF000000u;
            out.words[size_t(ty) * sw + tx] = a | (u32(c.Red) << 16) | (u32(c.Green) << 8) | c.Blue;
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
    MemReader r{data, n, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&r, read_mem, &error);
    if (!gif) return false;
    // A screen larger than the cap is refused before the frames are read.
    bool ok = gif->SWidth <= int(65535) && gif->SHeight <= int(65535) && decode_first(gif, out);
    DGifCloseFile(gif, &error);
    return ok;
}

bool gif_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
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

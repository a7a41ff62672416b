// BMP, our own: reading uncompressed 1, 4, 8, 16, 24 and 32-bit bitmaps
// (bit fields included) and the 8 and 4-bit run-length forms; writing 24-bit
// when every pixel is opaque, else 32-bit with an alpha mask.
#include <cstring>
#include <vector>

#include "runtime/image/codecs.h"

namespace zan {

namespace {
u32 le16(const u8* p) { return u32(p[0]) | (u32(p[1]) << 8); }
u32 le32(const u8* p) { return le16(p) | (le16(p + 2) << 16); }

// The shift and width of a colour mask, to scale a field to 8 bits.
struct Mask {
    u32 mask = 0;
    u32 shift = 0;
    u32 bits = 0;
    explicit Mask(u32 m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) shift++;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1)) bits++;
    }
    u32 get(u32 v, u32 absent) const {
        if (!mask) return absent;
        u32 f = (v & mask) >> shift;
        u32 max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        return static_cast<u32>((u64(f) * 255 + max / 2) / max);
    }
};

struct Header {
    u32 offset, info_size, width, height, bits, compression, colours;
    bool top_down;
    u32 masks[4];
};

bool parse_header(const u8* d, size_t n, Header& h) {
    if (n < 26) return false;
    h.offset = le32(d + 10);
    h.info_size = le32(d + 14);
    if (h.info_size == 12) {
        h.width = le16(d + 18);
        i32 height = static_cast<int16_t>(le16(d + 20));
        h.top_down = height < 0;
        h.height = static_cast<u32>(height < 0 ? -height : height);
        h.bits = le16(d + 24);
        h.compression = 0;
        h.colours = 0;
        return true;
    }
    if (h.info_size < 40 || n < 14 + size_t(40)) return false;
    i32 width = static_cast<i32>(le32(d + 18));
    i32 height = static_cast<i32>(le32(d + 22));
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    h.width = static_cast<u32>(width);
    h.top_down = height < 0;
    h.height = static_cast<u32>(height < 0 ? -height : height);
    h.bits = le16(d + 28);
    h.compression = le32(d + 30);
    h.colours = le32(d + 46);
    std::memset(h.masks, 0, sizeof h.masks);
    if (h.compression == 3 || h.compression == 6) {
        // Masks follow a 40-byte header, or sit inside a longer one.
        size_t at = 14 + 40;
        if (n < at + 12) return false;
        h.masks[0] = le32(d + at);
        h.masks[1] = le32(d + at + 4);
        h.masks[2] = le32(d + at + 8);
        if ((h.info_size >= 56 || h.compression == 6) && n >= at + 16) h.masks[3] = le32(d + at + 12);
    } else if (h.bits == 16) {
        h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    } else if (h.bits == 32) {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
    }
    return true;
}

// An index's colour; one past the palette is opaque black.
u32 colour_of(const std::vector<u32>& palette, u32 i) {
    return i < palette.size() ? palette[i] : 0xFF000000u;
}

u32* row_of(DecodedImage& out, const Header& h, u32 y) {
    u32 row = h.top_down ? y : h.height - 1 - y;
    return out.words + size_t(row) * out.width;
}

// The run-length forms (1 = 8-bit, 2 = 4-bit), straight into the words.
// What the runs skip (a delta, the rest of a line, everything after the
// end of the bitmap) stays transparent: the image is allocated clear, so a
// bitmap that ends early takes only the pages its runs wrote.
bool decode_rle(const u8* d, size_t n, const Header& h, const std::vector<u32>& palette,
                DecodedImage& out) {
    if (!out.allocate_clear(h.width, h.height)) return false;
    size_t p = h.offset;
    u32 x = 0, y = 0;
    bool four = h.compression == 2;
    auto put = [&](u32 v) {
        if (x < h.width && y < h.height)
            row_of(out, h, y)[x] = colour_of(palette, v);
        x++;
    };
    while (p + 1 < n) {
        u32 count = d[p], value = d[p + 1];
        p += 2;
        if (count > 0) {
            for (u32 i = 0; i < count; i++)
                put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            y++;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (p + 1 >= n) return false;
            x += d[p];
            y += d[p + 1];
            p += 2;
        } else {
            size_t bytes = four ? (value + 1) / 2 : value;
            if (p + bytes > n) return false;
            for (u32 i = 0; i < value; i++)
                put(four ? ((i & 1) ? d[p + i / 2] & 15 : d[p + i / 2] >> 4) : d[p + i]);
            p += (bytes + 1) & ~size_t(1);
        }
        if (y > h.height) return false;
    }
    return false;
}
}  // namespace

bool bmp_decode(const u8* d, size_t n, DecodedImage& out) {
    Header h{};
    if (!parse_header(d, n, h)) return false;
    u32 b = h.bits;
    bool rle = h.compression == 1 || h.compression == 2;
    if (rle ? !((h.compression == 1 && b == 8) || (h.compression == 2 && b == 4))
            : !(h.compression == 0 || h.compression == 3 || h.compression == 6))
        return false;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return false;
    if (h.offset >= n) return false;
    std::vector<u32> palette;
    if (b <= 8) {
        u32 entries = h.colours ? h.colours : (1u << b);
        if (entries > 256) return false;
        u32 entry = h.info_size == 12 ? 3 : 4;
        size_t at = 14 + size_t(h.info_size);
        if (at + size_t(entries) * entry > n) return false;
        for (u32 i = 0; i < entries; i++) {
            const u8* e = d + at + size_t(i) * entry;
            palette.push_back(0xFF000000u | (u32(e[2]) << 16) | (u32(e[1]) << 8) | e[0]);
        }
    }
    // Run-length rows run bottom up unless the height was negative.
    if (rle) return decode_rle(d, n, h, palette, out);
    u64 stride = ((u64(h.width) * b + 31) / 32) * 4;
    if (h.offset + stride * h.height > n) return false;
    if (!out.allocate(h.width, h.height)) return false;
    auto colour = [&](u32 i) { return colour_of(palette, i); };
    Mask r(h.masks[0]), g(h.masks[1]), bl(h.masks[2]), a(h.masks[3]);
    for (u32 y = 0; y < h.height; y++) {
        const u8* src = d + h.offset + stride * y;
        u32* dst = row_of(out, h, y);
        for (u32 x = 0; x < h.width; x++) {
            switch (b) {
                case 1: dst[x] = colour((src[x / 8] >> (7 - x % 8)) & 1); break;
                case 4: dst[x] = colour((src[x / 2] >> ((x & 1) ? 0 : 4)) & 15); break;
                case 8: dst[x] = colour(src[x]); break;
                case 24:
                    dst[x] = 0xFF000000u | (u32(src[x * 3 + 2]) << 16) | (u32(src[x * 3 + 1]) << 8) |
                             src[x * 3];
                    break;
                default: {
                    u32 v = b == 16 ? le16(src + x * 2) : le32(src + x * 4);
                    dst[x] = (a.get(v, 255) << 24) | (r.get(v, 0) << 16) | (g.get(v, 0) << 8) |
                             bl.get(v, 0);
                }
            }
        }
    }
    return true;
}

bool bmp_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    size_t count = size_t(width) * height;
    bool opaque = true;
    for (size_t i = 0; i < count && opaque; i++) opaque = (words[i] >> 24) == 255;
    u32 info = opaque ? 40 : 108;
    u32 bpp = opaque ? 24 : 32;
    u64 stride = ((u64(width) * bpp + 31) / 32) * 4;
    u64 size = 14 + info + stride * height;
    if (size > 0xFFFFFFFFu) return false;
    out.assign(static_cast<size_t>(size), 0);
    u8* p = out.data();
    auto put16 = [](u8* q, u32 v) { q[0] = u8(v), q[1] = u8(v >> 8); };
    auto put32 = [&](u8* q, u32 v) { put16(q, v), put16(q + 2, v >> 16); };
    p[0] = 'B', p[1] = 'M';
    put32(p + 2, static_cast<u32>(size));
    put32(p + 10, 14 + info);
    put32(p + 14, info);
    put32(p + 18, width);
    put32(p + 22, height);
    put16(p + 26, 1);
    put16(p + 28, bpp);
    put32(p + 30, opaque ? 0 : 3);
    put32(p + 34, static_cast<u32>(stride * height));
    put32(p + 38, 2835), put32(p + 42, 2835);
    if (!opaque) {
        put32(p + 54, 0x00FF0000u), put32(p + 58, 0x0000FF00u), put32(p + 62, 0x000000FFu);
        put32(p + 66, 0xFF000000u);
        put32(p + 70, 0x73524742u);  // "sRGB"
    }
    for (u32 y = 0; y < height; y++) {
        const u32* src = words + size_t(height - 1 - y) * width;
        u8* dst = p + 14 + info + stride * y;
        for (u32 x = 0; x < width; x++) {
            if (opaque) {
                dst[x * 3] = u8(src[x]), dst[x * 3 + 1] = u8(src[x] >> 8), dst[x * 3 + 2] = u8(src[x] >> 16);
            } else {
                put32(dst + x * 4, src[x]);
            }
        }
    }
    return true;
}

}  // namespace zan

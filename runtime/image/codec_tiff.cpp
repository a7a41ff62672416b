// TIFF through libtiff on memory (TIFFClientOpen). Plain 8-bit RGB, RGBA
// and grey strips are read sample for sample, so unassociated alpha stays
// exact; every other layout goes through the library's RGBA reader.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/image/codec_library.h"
#include "runtime/image/codecs.h"
#include "runtime/image/image_store.h"

namespace zan {

namespace {
#define ZAN_TIFF_FUNCTIONS(X)                                                                 \
    X(TIFFClientOpen) X(TIFFClose) X(TIFFSetErrorHandler) X(TIFFSetWarningHandler)            \
    X(TIFFGetField) X(TIFFGetFieldDefaulted) X(TIFFSetField) X(TIFFIsTiled)                   \
    X(TIFFScanlineSize) X(TIFFReadScanline) X(TIFFReadRGBAImageOriented) X(TIFFSetDirectory)  \
    X(TIFFDefaultStripSize) X(TIFFWriteScanline) X(TIFFWriteDirectory) X(TIFFNumberOfStrips)   \
    X(TIFFNumberOfTiles) X(TIFFGetStrileByteCount)
ZAN_CODEC_LIBRARY(tiff_library, ZAN_TIFF_SONAME, ZAN_TIFF_FUNCTIONS)

struct MemFile {
    std::vector<u8>* grow;  // writing
    const u8* data;         // reading
    size_t size;
    size_t pos;
};

tsize_t mem_read(thandle_t h, tdata_t buf, tsize_t len) {
    auto* m = static_cast<MemFile*>(h);
    if (m->pos >= m->size || len <= 0) return 0;
    size_t take = std::min(static_cast<size_t>(len), m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, take);
    m->pos += take;
    return static_cast<tsize_t>(take);
}

tsize_t mem_write(thandle_t h, tdata_t buf, tsize_t len) {
    auto* m = static_cast<MemFile*>(h);
    if (!m->grow || len < 0) return 0;
    size_t end = m->pos + static_cast<size_t>(len);
    if (end > m->grow->size()) m->grow->resize(end);
    std::memcpy(m->grow->data() + m->pos, buf, static_cast<size_t>(len));
    m->pos = end;
    m->data = m->grow->data();
    m->size = m->grow->size();
    return len;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemFile*>(h);
    i64 base = whence == SEEK_CUR ? i64(m->pos) : whence == SEEK_END ? i64(m->size) : 0;
    i64 p = base + static_cast<i64>(off);
    if (p < 0) return static_cast<toff_t>(-1);
    m->pos = static_cast<size_t>(p);
    return static_cast<toff_t>(p);
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<MemFile*>(h)->size; }
int mem_map(thandle_t, tdata_t*, toff_t*) { return 0; }
void mem_unmap(thandle_t, tdata_t, toff_t) {}

void quiet_handlers() {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}

// The strip layouts read directly: 8 bits, one plane, RGB(A) or grey(+A).
bool read_plain(TIFF* tif, DecodedImage& out) {
    uint16_t bits = 0, spp = 0, planar = PLANARCONFIG_CONTIG, photo = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photo)) return false;
    bool rgb = photo == PHOTOMETRIC_RGB && (spp == 3 || spp == 4);
    bool grey = photo == PHOTOMETRIC_MINISBLACK && (spp == 1 || spp == 2);
    if (bits != 8 || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif) || !(rgb || grey))
        return false;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    // Premultiplied alpha is left to the library's reader.
    if (extra_count > 0 && extra && extra[0] == EXTRASAMPLE_ASSOCALPHA) return false;
    tsize_t line = TIFFScanlineSize(tif);
    if (line < static_cast<tsize_t>(out.width) * spp) return false;
    std::vector<u8> row(static_cast<size_t>(line));
    for (u32 y = 0; y < out.height; y++) {
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0) return false;
        u32* dst = out.words + size_t(y) * out.width;
        for (u32 x = 0; x < out.width; x++) {
            const u8* p = row.data() + size_t(x) * spp;
            u32 r, g, b, a = 255;
            if (rgb) {
                r = p[0], g = p[1], b = p[2];
                if (spp == 4) a = p[3];
            } else {
                r = g = b = p[0];
                if (spp == 2) a = p[1];
            }
            dst[x] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}

// The library's reader, into the words themselves (its 32-bit pixels have
// the channels in another order, put right in place); a damaged strip ends
// the reading.
bool read_rgba(TIFF* tif, DecodedImage& out) {
    if (!TIFFReadRGBAImageOriented(tif, out.width, out.height, out.words, ORIENTATION_TOPLEFT, 1))
        return false;
    for (size_t i = 0; i < size_t(out.width) * out.height; i++) {
        uint32_t v = out.words[i];
        out.words[i] = (TIFFGetA(v) << 24) | (TIFFGetR(v) << 16) | (TIFFGetG(v) << 8) | TIFFGetB(v);
    }
    return true;
}

// The most a compression method expands the strips' bytes. The fax codes,
// JPEG and the rest can code a plain row in a few bits.
u64 expansion(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;  // 128 bytes from a 2-byte run
        case COMPRESSION_LZW: return LZW_MAX_RATIO;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: return DEFLATE_MAX_RATIO;
        default: return u64(1) << 16;
    }
}

// Whether the strips (or tiles) the directory lists, as far as the file
// holds them, can give the w x h samples it claims.
bool strips_can_hold(TIFF* tif, u32 w, u32 h, size_t file_size) {
    uint16_t bits = 1, spp = 1, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    u64 data = 0;
    u32 striles = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (u32 i = 0; i < striles && data < file_size; i++) data += TIFFGetStrileByteCount(tif, i);
    if (data > file_size) data = file_size;
    u64 needed = (u64(w) * h * bits * (spp ? spp : 1) + 7) / 8;
    return image_data_can_hold(needed, data, expansion(compression));
}
}  // namespace

bool tiff_decode(const u8* data, size_t n, DecodedImage& out) {
    if (!tiff_library()) return false;
    quiet_handlers();
    MemFile m{nullptr, data, n, 0};
    TIFF* tif = TIFFClientOpen("memory", "rm", &m, mem_read, mem_write, mem_seek, mem_close,
                               mem_size, mem_map, mem_unmap);
    if (!tif) return false;
    uint32_t w = 0, h = 0;
    bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) &&
              w > 0 && h > 0 && w <= IMAGE_MAX_SIDE && h <= IMAGE_MAX_SIDE &&
              strips_can_hold(tif, w, h, n) && out.allocate(w, h);
    if (ok) ok = read_plain(tif, out) || (TIFFSetDirectory(tif, 0) && read_rgba(tif, out));
    TIFFClose(tif);
    return ok;
}

bool tiff_encode(const u32* words, u32 width, u32 height, std::vector<u8>& out) {
    if (!tiff_library()) return false;
    quiet_handlers();
    out.clear();
    MemFile m{&out, nullptr, 0, 0};
    TIFF* tif = TIFFClientOpen("memory", "wm", &m, mem_read, mem_write, mem_seek, mem_close,
                               mem_size, mem_map, mem_unmap);
    if (!tif) return false;
    uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<u8> row(size_t(width) * 4);
    bool ok = true;
    for (u32 y = 0; ok && y < height; y++) {
        const u32* src = words + size_t(y) * width;
        for (u32 x = 0; x < width; x++) {
            row[x * 4] = static_cast<u8>(src[x] >> 16);
            row[x * 4 + 1] = static_cast<u8>(src[x] >> 8);
            row[x * 4 + 2] = static_cast<u8>(src[x]);
            row[x * 4 + 3] = static_cast<u8>(src[x] >> 24);
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    if (ok) ok = TIFFWriteDirectory(tif) != 0;
    TIFFClose(tif);
    return ok;
}

}  // namespace zan

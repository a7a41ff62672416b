// Pieces shared by the codecs of this folder: checksums, the bit writer and
// the bit reader, and the vector-based cores behind both API layers.
#pragma once
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/digest/checksum.h"
#include "runtime/io/compress/compress.h"

namespace zan::compress_detail {

// CRC-32 (reflected polynomial EDB88320h, register preset and result
// inverted). `crc` is the value of the data before, 0 for none.
inline u32 crc32_of(const u8* bytes, size_t count, u32 crc = 0) {
    return zan::crc32_update(crc, bytes, count);
}
// Adler-32; `adler` is the value of the data before, 1 for none.
inline u32 adler32_of(const u8* bytes, size_t count, u32 adler = 1) {
    return zan::adler32_update(adler, bytes, count);
}

inline u32 load_le32(const u8* p) {
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}
inline u32 load_be32(const u8* p) {
    return u32(p[3]) | u32(p[2]) << 8 | u32(p[1]) << 16 | u32(p[0]) << 24;
}
inline void store_le32(u8* p, u32 v) {
    p[0] = u8(v); p[1] = u8(v >> 8); p[2] = u8(v >> 16); p[3] = u8(v >> 24);
}
inline void store_be32(u8* p, u32 v) {
    p[0] = u8(v >> 24); p[1] = u8(v >> 16); p[2] = u8(v >> 8); p[3] = u8(v);
}

// Appends bits least significant first. Whole bytes are stored while the
// position is below the capacity and only counted past it, so a writer run
// into a short buffer still learns the size it would have needed.
struct BitWriter {
    u8* buf;
    size_t cap;
    size_t pos = 0;
    u64 acc = 0;
    unsigned count = 0;  // pending bits in acc, below 8 between calls

    BitWriter(u8* b, size_t c, size_t start = 0) : buf(b), cap(c), pos(start) {}

    bool overflowed() const { return pos > cap; }

    void byte(u8 b) {
        if (pos < cap) buf[pos] = b;
        ++pos;
    }
    // k is at most 32.
    void put(u32 bits, unsigned k) {
        acc |= u64(bits) << count;
        count += k;
        while (count >= 8) {
            byte(u8(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    // Stores the pending bits padded with zeros up to the byte.
    void align() {
        if (count) byte(u8(acc));
        acc = 0;
        count = 0;
    }
    // Forgets the pending bits.
    void reset() {
        acc = 0;
        count = 0;
    }
};

// Takes bits least significant first from [p, end). Past the end it supplies
// zero bits and counts them, so a decoder can read a whole symbol without a
// check per bit and then ask whether it used bits that were not there.
struct BitReader {
    const u8* p;
    const u8* end;
    u64 acc = 0;
    unsigned count = 0;   // bits in acc
    size_t phantom = 0;   // zero bytes supplied past the end

    BitReader(const u8* b, const u8* e) : p(b), end(e) {}

    // Leaves at least 56 bits in acc.
    void refill() {
        if (end - p >= 8 && count <= 56) {
            u64 w;
            std::memcpy(&w, p, 8);
            acc |= w << count;
            p += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (p < end) {
                acc |= u64(*p++) << count;
            } else {
                ++phantom;
            }
            count += 8;
        }
    }
    u32 peek(unsigned k) const { return u32(acc & ((u64{1} << k) - 1)); }
    void drop(unsigned k) {
        acc >>= k;
        count -= k;
    }
    // k is at most 32; the caller has refilled enough bits.
    u32 take(unsigned k) {
        u32 v = peek(k);
        drop(k);
        return v;
    }
    // True when bits past the end of the input have been consumed.
    bool overrun() const { return phantom * 8 > count; }
    // Bytes of input consumed, counting a partly used byte as used.
    size_t consumed_bytes(const u8* start) const {
        size_t bits = (size_t(p - start) + phantom) * 8 - count;
        return (bits + 7) / 8;
    }
};

// Appends the deflate stream of `in` to `out`: stored blocks for level 0,
// else the fixed-Huffman single-pass compressor.
void deflate_append(const u8* in, size_t len, int level, std::vector<u8>& out);

// Decodes one deflate stream from in[0, len) and appends its output to
// `out`; back-references may not reach before the output's size on entry.
// Output past max_output (total size of `out`) stops with DEFLATE_TOO_LARGE.
// `consumed` receives the bytes of input the stream used (its last byte
// counted whole). Returns a DeflateResult other than DEFLATE_NO_ROOM and
// DEFLATE_BAD_DATA: trailing input is for the caller to judge.
int inflate_append(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                   size_t* consumed);

// Whole-stream decoders of the framings, status form, appending to `out`
// (emptied first).
CompressStatus inflate_raw(const u8* in, size_t len, OutputBuffer& out, size_t max_output);
// `code`, when given, receives inflate's result code of the last member.
// On an error `out` may hold part of the output.
CompressStatus zlib_decode(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                           int* code = nullptr);
CompressStatus gzip_decode(const u8* in, size_t len, OutputBuffer& out, size_t max_output,
                           int* code = nullptr);
// The recorded size of a gzip stream's last member, bounded as a hint.
size_t gzip_size_hint(const u8* in, size_t len, size_t max_output);

// An OutputBuffer in memory of the C library's (grown with realloc, never
// cleared), whose bytes finish hands to a vector. A size hint that the
// data does not fill costs only address space.
struct VectorOutput {
    std::vector<u8>& v;
    OutputBuffer out;
    explicit VectorOutput(std::vector<u8>& vec) : v(vec) {
        v.clear();
        out.owner = this;
        out.grow = [](OutputBuffer& o, size_t want) {
            void* p = std::realloc(o.data, want ? want : 1);
            if (!p) return false;
            o.data = static_cast<u8*>(p);
            o.room = want;
            return true;
        };
    }
    VectorOutput(const VectorOutput&) = delete;
    VectorOutput& operator=(const VectorOutput&) = delete;
    ~VectorOutput() { std::free(out.data); }
    void finish() { v.assign(out.data, out.data + out.size); }
};

// Framed encoders, replacing `out`.
void zlib_encode(const u8* in, size_t len, int level, std::vector<u8>& out);
void gzip_encode(const u8* in, size_t len, int level, std::vector<u8>& out);

// The LZ compressor writing into out[0, cap): returns the stream's size, which
// is more than cap when it did not fit (then out holds only a prefix).
// `stop_on_overflow` ends the work as soon as the stream cannot fit.
size_t lz_encode(const u8* src, size_t n, u8* out, size_t cap,
                 bool stop_on_overflow);
// An upper bound of the LZ stream's size for n bytes of input.
size_t lz_bound(size_t n);

}  // namespace zan::compress_detail

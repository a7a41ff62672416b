// The LZ codec: an LZ77 coder with a 256 KB window whose literal and match
// codes are packed into a bit stream, on independent blocks of at most 1 MB.
//
// Stream: packed size P (bytes from offset 8 to the end of the last block)
// and unpacked size U, both 32-bit little-endian; then the blocks. A block is
// a 32-bit length L (1..1 MB) and the bit-coded symbols producing exactly L
// bytes, padded with zero bits to the byte; bits are taken least significant
// first and the bit state restarts with every block.
//
// Symbols: 0 + 8 bits is a literal byte; 1 + a length code + a distance code
// copies length + 3 bytes (3..566) from distance bytes back (1..256 KB).
#include <algorithm>
#include <cstddef>
#include <memory>

#include "runtime/io/compress/codec_internal.h"

namespace zan::compress_detail {

namespace {

constexpr size_t kBlockMax = 0x100000;
constexpr u32 kMaxMatch = 566;
constexpr u32 kWindow = 0x40000;
constexpr u32 kHead3Size = 0x80000;
constexpr u32 kHead4Size = 0x100000;
constexpr u32 kChainMask = 0x3FFFF;
constexpr u32 kMaxCandidates = 256;
// A three-byte match farther back than this costs more than its literals.
constexpr u32 kFarThree = 0x10000;

// Length value v = length - 3 (0..563): a unary prefix picks the range.
void put_length(BitWriter& w, u32 v) {
    if (v < 4) { w.put(1, 1); w.put(v, 2); }
    else if (v < 8) { w.put(2, 2); w.put(v - 4, 2); }
    else if (v < 12) { w.put(4, 3); w.put(v - 8, 2); }
    else if (v < 20) { w.put(8, 4); w.put(v - 12, 3); }
    else if (v < 52) { w.put(16, 5); w.put(v - 20, 5); }
    else { w.put(0, 5); w.put(v - 52, 9); }
}

// D = distance - 1: a 4-bit field m - 2, then D in 3 bits when m is 2, else
// D - 2^m in m bits; m is the smallest value from 2 with D < 2^(m+1).
void put_distance(BitWriter& w, u32 d) {
    unsigned m = 2;
    while (d >= (1u << (m + 1))) ++m;
    w.put(m - 2, 4);
    if (m == 2)
        w.put(d, 3);
    else
        w.put(d - (1u << m), m);
}

// The hash heads are all -1 between blocks: a block clears only the slots
// it set (walking its hashes again), so a small input does not pay for
// filling 6 MB of heads, and the workspace is kept for the thread's next
// call.
struct Workspace {
    std::unique_ptr<i32[]> heads{new i32[kHead3Size + kHead4Size]};
    std::unique_ptr<i32[]> chain{new i32[kChainMask + 1]};
    // The block and zeros past its end, where the rolling hashes and the
    // probe at the current best length may look.
    std::unique_ptr<u8[]> block{new u8[kBlockMax + kMaxMatch]};
    Workspace() { std::fill(heads.get(), heads.get() + kHead3Size + kHead4Size, -1); }
};

// Blocks shorter than this clear their slots one by one; longer ones refill
// the heads, which is then the cheaper way.
constexpr size_t kClearBySlots = 0x40000;

// Sets back to -1 every head slot that a block of len bytes in b set.
void clear_heads(i32* head3, i32* head4, const u8* b, size_t len) {
    if (len >= kClearBySlots) {
        std::fill(head3, head3 + kHead3Size + kHead4Size, -1);
        return;
    }
    u32 h3 = 0, h4 = 0;
    for (int i = 0; i < 3; ++i) h3 = ((h3 << 7) + b[i]) & (kHead3Size - 1);
    for (int i = 0; i < 4; ++i) h4 = ((h4 << 5) + b[i]) & (kHead4Size - 1);
    for (size_t p = 0; p < len; ++p) {
        head3[h3] = -1;
        head4[h4] = -1;
        h3 = ((h3 << 7) + b[p + 3]) & (kHead3Size - 1);
        h4 = ((h4 << 5) + b[p + 4]) & (kHead4Size - 1);
    }
}

void encode_block(Workspace& ws, const u8* src, size_t len, BitWriter& w) {
    u8* b = ws.block.get();
    std::memcpy(b, src, len);
    std::memset(b + len, 0, kMaxMatch);
    for (int i = 0; i < 4; ++i) w.byte(u8(u32(len) >> (8 * i)));
    w.reset();
    i32* head3 = ws.heads.get();
    i32* head4 = head3 + kHead3Size;
    i32* chain = ws.chain.get();

    u32 h3 = 0, h4 = 0;
    for (int i = 0; i < 3; ++i) h3 = ((h3 << 7) + b[i]) & (kHead3Size - 1);
    for (int i = 0; i < 4; ++i) h4 = ((h4 << 5) + b[i]) & (kHead4Size - 1);

    // Equal bytes at q and p, up to limit. Compares eight bytes at a time;
    // the loads stay inside the block copy and its zero tail (p + limit is
    // at most len).
    auto match_length = [b](size_t q, size_t p, u32 limit) {
        u32 m = 0;
        while (m < limit) {
            u64 x, y;
            std::memcpy(&x, b + q + m, 8);
            std::memcpy(&y, b + p + m, 8);
            if (u64 diff = x ^ y) {
                m += u32(__builtin_ctzll(diff)) / 8;
                break;
            }
            m += 8;
        }
        return std::min(m, limit);
    };

    size_t p = 0;
    while (p < len) {
        u32 v = u32(std::min<size_t>(len - p, kMaxMatch));
        i64 window = std::max<i64>(i64(p) - kWindow, 0);
        u32 best = 2, best_dist = kWindow;

        i32 q = head3[h3];
        if (q >= 0 && q >= window && b[q] == b[p]) {
            u32 m = match_length(size_t(q), p, v);
            if (m > best) {
                best = m;
                best_dist = u32(p - size_t(q));
            }
        }
        if (best < kMaxMatch) {
            i32 c = head4[h4];
            for (u32 n = 0; n < kMaxCandidates && c >= 0 && c >= window; ++n) {
                if (b[size_t(c) + best] == b[p + best] && b[c] == b[p]) {
                    u32 m = match_length(size_t(c), p, v);
                    u32 d = u32(p - size_t(c));
                    // A farther match must be longer by one byte for every
                    // three more bits its distance takes.
                    u32 cost = 0;
                    for (u32 x = d >> 4; x > best_dist; x >>= 3) ++cost;
                    if (m > best + cost) {
                        best = m;
                        best_dist = d;
                    }
                    if (m >= v) break;
                }
                c = chain[u32(c) & kChainMask];
            }
        }
        if (best == 3 && best_dist > kFarThree) best = 2;

        u32 advance;
        if (best < 3) {
            w.put(0, 1);
            w.put(b[p], 8);
            advance = 1;
        } else {
            w.put(1, 1);
            put_length(w, best - 3);
            put_distance(w, best_dist - 1);
            advance = best;
        }
        for (u32 i = 0; i < advance; ++i, ++p) {
            head3[h3] = i32(p);
            chain[p & kChainMask] = head4[h4];
            head4[h4] = i32(p);
            h3 = ((h3 << 7) + b[p + 3]) & (kHead3Size - 1);
            h4 = ((h4 << 5) + b[p + 4]) & (kHead4Size - 1);
        }
    }
    clear_heads(head3, head4, b, len);
    // Seven zero bits push out the last partial byte; the rest is dropped.
    w.put(0, 7);
    w.reset();
}

}  // namespace

size_t lz_bound(size_t n) {
    // Nine bits per literal, five bytes per block (length word and padding),
    // and the head.
    return 8 + n + n / 8 + 5 * (n / kBlockMax + 1) + 8;
}

size_t lz_encode(const u8* src, size_t n, u8* out, size_t cap, bool stop_on_overflow) {
    BitWriter w(out, cap, 8);
    if (n) {
        thread_local std::unique_ptr<Workspace> kept;
        if (!kept) kept = std::make_unique<Workspace>();
        Workspace& ws = *kept;
        for (size_t at = 0; at < n; at += kBlockMax) {
            encode_block(ws, src + at, std::min(kBlockMax, n - at), w);
            if (stop_on_overflow && w.overflowed()) break;
        }
    }
    if (cap >= 8) {
        store_le32(out, u32(w.pos - 8));
        store_le32(out + 4, u32(n));
    }
    return w.pos;
}

}  // namespace zan::compress_detail

namespace zan {

using namespace compress_detail;

i64 lz_compress(const u8* src, size_t n, u8* out) {
    if (n <= 127) return -1;
    size_t size = lz_encode(src, n, out, n, true);
    if (size > n) return -1;
    return i64(size);
}

CompressStatus lz_decompress(std::span<const u8> stream, std::vector<u8>& out, size_t max_output) {
    out.clear();
    if (stream.size() < 8) return CompressStatus::truncated;
    const u8* in = stream.data();
    size_t packed = load_le32(in);
    size_t unpacked = load_le32(in + 4);
    if (stream.size() - 8 < packed) return CompressStatus::truncated;
    if (unpacked > max_output) return CompressStatus::too_large;
    // U is a claim to be checked, not a size to trust: the first reservation
    // is bounded by the most that P bytes can expand to (a 566-byte match
    // takes at least 22 bits).
    out.resize(std::min(unpacked, packed * 206 + 64));

    const u8* end = in + 8 + packed;
    const u8* pos = in + 8;
    size_t produced = 0;
    auto fail = [&out](CompressStatus st) {
        out.clear();
        return st;
    };
    while (pos < end) {
        if (end - pos < 4) return fail(CompressStatus::truncated);
        size_t block = load_le32(pos);
        pos += 4;
        if (block < 1 || block > kBlockMax) return fail(CompressStatus::corrupt);
        if (block > unpacked - produced) return fail(CompressStatus::bad_size);
        if (out.size() < produced + block)
            out.resize(std::min(unpacked, std::max(out.size() * 2, produced + block)));
        u8* base = out.data() + produced;
        size_t done = 0;
        BitReader r(pos, end);
        while (done < block) {
            r.refill();  // 56 bits or more; one symbol takes at most 36
            if (r.take(1) == 0) {
                base[done++] = u8(r.take(8));
            } else {
                u32 v;
                if (r.take(1)) v = r.take(2);
                else if (r.take(1)) v = 4 + r.take(2);
                else if (r.take(1)) v = 8 + r.take(2);
                else if (r.take(1)) v = 12 + r.take(3);
                else if (r.take(1)) v = 20 + r.take(5);
                else v = 52 + r.take(9);
                unsigned m = r.take(4) + 2;
                size_t d = m == 2 ? r.take(3) : (size_t{1} << m) + r.take(m);
                size_t length = size_t(v) + 3;
                if (r.overrun()) return fail(CompressStatus::truncated);
                if (d + 1 > done || length > block - done) return fail(CompressStatus::corrupt);
                u8* dst = base + done;
                const u8* src = dst - (d + 1);
                for (size_t i = 0; i < length; ++i) dst[i] = src[i];
                done += length;
            }
            if (r.overrun()) return fail(CompressStatus::truncated);
        }
        produced += block;
        // The next block starts at the byte after the last one used: the
        // reader fetched count / 8 whole bytes ahead, phantom of them past
        // the end (fewer than count / 8, or it would have overrun).
        pos = r.p - (std::ptrdiff_t(r.count / 8) - std::ptrdiff_t(r.phantom));
    }
    if (produced != unpacked) return fail(CompressStatus::bad_size);
    out.resize(produced);
    return CompressStatus::ok;
}

}  // namespace zan

// Inflate with raw, zlib and gzip framing. Whatever a decoder accepts must be
// what zlib itself makes of the stream, and compressing the bytes must give
// them back.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "runtime/io/compress/compress.h"

namespace {

using zan::CompressMethod;
using zan::CompressStatus;

constexpr size_t kCap = size_t{16} << 20;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_inflate: %s\n", what);
    std::abort();
}

// zlib's reading of one stream (window_bits as for inflateInit2); false
// unless it ends cleanly on the last input byte.
bool zlib_reads(const uint8_t* data, size_t size, int window_bits, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return false;
    out.assign(kCap + 1, 0);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&z, Z_FINISH);
    bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    out.resize(z.total_out);
    inflateEnd(&z);
    return ok;
}

void check_against_zlib(CompressMethod method, int window_bits, const uint8_t* data, size_t size) {
    std::vector<uint8_t> ours;
    CompressStatus st = zan::decompress_bytes(method, std::span<const uint8_t>(data, size), ours, kCap);
    if (st != CompressStatus::ok) return;
    std::vector<uint8_t> theirs;
    if (!zlib_reads(data, size, window_bits, theirs)) fail("accepted a stream zlib refuses");
    if (theirs != ours) fail("decoded differently from zlib");
}

void round_trip(CompressMethod method, const uint8_t* data, size_t size) {
    std::vector<uint8_t> packed, back;
    std::span<const uint8_t> in(data, size);
    if (zan::compress_bytes(method, in, packed) != CompressStatus::ok) fail("compress failed");
    if (zan::decompress_bytes(method, packed, back) != CompressStatus::ok) fail("round trip refused");
    if (back.size() != size || (size && std::memcmp(back.data(), data, size) != 0))
        fail("round trip changed the bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_against_zlib(CompressMethod::deflate, -15, data, size);
    check_against_zlib(CompressMethod::zlib, 15, data, size);
    std::vector<uint8_t> out;
    zan::decompress_bytes(CompressMethod::gzip, std::span<const uint8_t>(data, size), out, kCap);
    // The buffer forms with a small output buffer.
    uint8_t small[64];
    size_t n = sizeof small;
    zan::inflate_decompress(small, n, data, size);
    n = sizeof small;
    zan::zlib_decompress(small, n, data, size);
    n = sizeof small;
    zan::gzip_decompress(small, n, data, size);
    round_trip(CompressMethod::deflate, data, size);
    round_trip(CompressMethod::gzip, data, size);
    return 0;
}

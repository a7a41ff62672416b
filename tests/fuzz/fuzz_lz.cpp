// The LZ codec: any stream is decoded or refused cleanly, and compressing
// the bytes gives them back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "runtime/io/compress/compress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using zan::CompressMethod;
    using zan::CompressStatus;
    std::vector<uint8_t> out;
    zan::lz_decompress(std::span<const uint8_t>(data, size), out, size_t{16} << 20);
    std::vector<uint8_t> packed, back;
    std::span<const uint8_t> in(data, size);
    if (zan::compress_bytes(CompressMethod::lz, in, packed) != CompressStatus::ok ||
        zan::decompress_bytes(CompressMethod::lz, packed, back) != CompressStatus::ok ||
        back.size() != size || (size && std::memcmp(back.data(), data, size) != 0)) {
        std::fprintf(stderr, "fuzz_lz: the round trip changed the bytes\n");
        std::abort();
    }
    return 0;
}

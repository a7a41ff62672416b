// Throughput of the checksum methods on a large buffer: SHA-256 through the
// cryptographic service, and CRC-32 and Adler-32 computed here.
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/digest/checksum.h"

namespace {

const std::vector<zan::u8>& buffer() {
    static const std::vector<zan::u8> data = [] {
        std::vector<zan::u8> b(16 << 20);
        zan::u32 x = 2463534242u;  // xorshift: incompressible, reproducible
        for (auto& byte : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = zan::u8(x);
        }
        return b;
    }();
    return data;
}

void BM_sha256(benchmark::State& state) {
    const auto& b = buffer();
    zan::DigestValue d;
    for (auto _ : state) {
        if (zan::crypto_digest(b.data(), b.size(), zan::CHECKSUM_CODE_SHA256, &d) != zan::ChecksumStatus::ok)
            state.SkipWithError("digest failed");
        benchmark::DoNotOptimize(d.bytes);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

void BM_crc32(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(zan::crc32_compute(b.data(), b.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

void BM_adler32(benchmark::State& state) {
    const auto& b = buffer();
    for (auto _ : state) benchmark::DoNotOptimize(zan::adler32_compute(b.data(), b.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.size()));
}

BENCHMARK(BM_sha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_crc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_adler32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

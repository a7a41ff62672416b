// Compression and decompression speed of our codecs and of zlib (as a
// yardstick) on a few megabytes of generated text, at zlib levels 1 and 6.
// Our deflate has one compressor for every level; LZ has no levels.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "runtime/io/compress/compress.h"

namespace {

using Bytes = std::vector<zan::u8>;

const Bytes& text() {
    static const Bytes data = [] {
        static const char* kWords[] = {
            "the", "value", "of", "a", "block", "series", "word", "is", "bound", "to",
            "context", "function", "returns", "and", "in", "string!", "integer", "make",
            "parse", "rule", "copy", "append", "either", "none", "print", "loop", "foreach",
            "compress", "decompress", "binary!", "system", "object", "refinement", "/part"};
        std::mt19937 rng(1);
        std::geometric_distribution<int> pick(0.15);
        Bytes b;
        const size_t n = 4 << 20;
        while (b.size() < n) {
            for (const char* c = kWords[size_t(pick(rng)) % std::size(kWords)]; *c; ++c) b.push_back(zan::u8(*c));
            b.push_back(rng() % 10 == 0 ? '\n' : ' ');
        }
        b.resize(n);
        return b;
    }();
    return data;
}

void report(benchmark::State& state, size_t in_bytes, size_t compressed) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in_bytes));
    state.counters["ratio_pct"] = 100.0 * double(compressed) / double(text().size());
}

void BM_ours_compress(benchmark::State& state, zan::CompressMethod method) {
    int level = state.range(0) >= 0 ? int(state.range(0)) : zan::COMPRESS_LEVEL_DEFAULT;
    Bytes out;
    for (auto _ : state) {
        zan::compress_bytes(method, text(), out, level);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, text().size(), out.size());
}

void BM_ours_decompress(benchmark::State& state, zan::CompressMethod method) {
    int level = state.range(0) >= 0 ? int(state.range(0)) : zan::COMPRESS_LEVEL_DEFAULT;
    Bytes stream, out;
    zan::compress_bytes(method, text(), stream, level);
    for (auto _ : state) {
        if (zan::decompress_bytes(method, stream, out) != zan::CompressStatus::ok) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, text().size(), stream.size());
}

Bytes zlib_compress_level(int level) {
    uLongf n = compressBound(uLong(text().size()));
    Bytes out(n);
    compress2(out.data(), &n, text().data(), uLong(text().size()), level);
    out.resize(n);
    return out;
}

void BM_zlib_compress(benchmark::State& state) {
    int level = int(state.range(0));
    Bytes out;
    for (auto _ : state) {
        out = zlib_compress_level(level);
        benchmark::DoNotOptimize(out.data());
    }
    report(state, text().size(), out.size());
}

void BM_zlib_decompress(benchmark::State& state) {
    Bytes stream = zlib_compress_level(int(state.range(0)));
    Bytes out(text().size());
    for (auto _ : state) {
        uLongf n = uLongf(out.size());
        if (uncompress(out.data(), &n, stream.data(), uLong(stream.size())) != Z_OK) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, text().size(), stream.size());
}

// Our decoder on zlib's streams: dynamic Huffman blocks, which our own
// compressor never writes.
void BM_ours_decompress_zlib_stream(benchmark::State& state) {
    Bytes stream = zlib_compress_level(int(state.range(0)));
    Bytes out;
    for (auto _ : state) {
        if (zan::decompress_bytes(zan::CompressMethod::zlib, stream, out) != zan::CompressStatus::ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    report(state, text().size(), stream.size());
}

// Levels 1 and 6 run the same compressor; the argument -1 is "no level".
BENCHMARK_CAPTURE(BM_ours_compress, zlib, zan::CompressMethod::zlib)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ours_compress, lz, zan::CompressMethod::lz)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ours_decompress, zlib, zan::CompressMethod::zlib)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ours_decompress, lz, zan::CompressMethod::lz)->Arg(-1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_compress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_decompress)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ours_decompress_zlib_stream)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

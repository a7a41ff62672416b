// Images: decoding and encoding a 4000x3000 picture as PNG and JPEG, and a
// loop over every pixel of a 1000x1000 image with pick in the interpreter
// (pixel access reads the one buffer in place, without a copy).
#include <benchmark/benchmark.h>

#include <vector>

#include "runtime/image/codecs.h"
#include "tests/unit/eval/eval_env.h"

namespace {

using namespace zan;

constexpr u32 W = 4000, H = 3000;

// A photograph-like picture: smooth gradients with some texture.
const std::vector<u32>& picture() {
    static std::vector<u32> px;
    if (px.empty()) {
        px.resize(size_t(W) * H);
        u32 seed = 16;
        for (u32 y = 0; y < H; y++)
            for (u32 x = 0; x < W; x++) {
                seed = seed * 1103515245u + 12345u;
                u32 noise = (seed >> 16) & 15;
                px[size_t(y) * W + x] = 0xFF000000u | (((x * 255 / W) ^ noise) << 16) |
                                        (((y * 255 / H) + noise) & 255) << 8 | ((x + y) & 255);
            }
    }
    return px;
}

void encode(benchmark::State& state, i32 format) {
    const auto& px = picture();
    std::vector<u8> out;
    for (auto _ : state) {
        out.clear();
        if (!image_encode(px.data(), W, H, format, out)) state.SkipWithError("encode failed");
    }
    state.counters["bytes"] = static_cast<double>(out.size());
}

void decode(benchmark::State& state, i32 format) {
    std::vector<u8> file;
    image_encode(picture().data(), W, H, format, file);
    for (auto _ : state) {
        DecodedImage d;
        if (!image_decode(file.data(), file.size(), d)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(d.words);
    }
}

void BM_png_encode(benchmark::State& s) { encode(s, IMG_PNG); }
void BM_png_decode(benchmark::State& s) { decode(s, IMG_PNG); }
void BM_jpeg_encode(benchmark::State& s) { encode(s, IMG_JPEG); }
void BM_jpeg_decode(benchmark::State& s) { decode(s, IMG_JPEG); }
BENCHMARK(BM_png_encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_png_decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_decode)->Unit(benchmark::kMillisecond);

void BM_pick_every_pixel(benchmark::State& state) {
    using namespace zan::evaltest;
    static bool ready = false;
    if (!ready) {
        env_init();
        ready = true;
    }
    const char* setup =
        "img: make image! 1000x1000 poke img 500000 1.2.3 "
        "scan: func [img /local n] [n: 0 repeat i length? img [if 255 = pick pick img i 1 [n: n + 1]] n]";
    if (eval_outcome(setup).error) {
        state.SkipWithError("setup failed");
        return;
    }
    std::string got;
    for (auto _ : state) got = eval("scan img");
    if (got != "999999") state.SkipWithError(("unexpected result: " + got).c_str());
}
BENCHMARK(BM_pick_every_pixel)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Throughput of the lexer on a large generated source: loading it into
// values, checking it in scan mode one value at a time, and the prescan.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/core/collector.h"
#include "tests/unit/common/runtime_start.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/io/lexer/lexer.h"

namespace {

// About 1 MB of typical source: set-words, words, paths, numbers, strings,
// comments and nested blocks, on many lines.
const std::string& source() {
    static const std::string text = [] {
        std::string s;
        unsigned x = 2463534242u;
        auto next = [&x] {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            return x;
        };
        while (s.size() < (1u << 20)) {
            unsigned k = next() % 1000;
            s += "item-" + std::to_string(k) + ": func [arg [integer!] /ref] [\n";
            s += "    if arg > " + std::to_string(next() % 100000) + " [print \"big value\"]\n";
            s += "    total: total + arg * 1.5 ; running sum\n";
            s += "    system/options/path/(k): {braced\ntext} 'lit #issue %file.txt\n";
            s += "    append out [a b c " + std::to_string(next()) + " <tag> #\"c\" 1'000]\n";
            s += "]\n";
        }
        return s;
    }();
    return text;
}

void setup() {
    static bool done = false;
    if (done) return;
    zan::test::start_runtime();
    done = true;
}

void BM_load(benchmark::State& state) {
    setup();
    const std::string& src = source();
    for (auto _ : state) {
        zan::ValueCell* out = zan::none_push();
        zan::lexer_transcode(out, reinterpret_cast<const zan::u8*>(src.data()),
                             static_cast<zan::u32>(src.size()), false, true, true, 0, nullptr,
                             nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(out->data2);
        zan::stack_pop(1);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_load)->Unit(benchmark::kMillisecond);

// Scan mode, one value at a time, as a syntax check walks a text.
void BM_scan_each(benchmark::State& state) {
    setup();
    const std::string& src = source();
    for (auto _ : state) {
        const zan::u8* p = reinterpret_cast<const zan::u8*>(src.data());
        const zan::u8* end = p + src.size();
        zan::ValueCell out;
        while (p < end) {
            zan::i32 consumed = 0;
            zan::i32 t = zan::lexer_transcode(&out, p, static_cast<zan::u32>(end - p), true, true,
                                              false, 0, &consumed, nullptr, nullptr, nullptr);
            if (t <= 0 || consumed <= 0) break;
            p += consumed;
        }
        benchmark::DoNotOptimize(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_scan_each)->Unit(benchmark::kMillisecond);

void BM_prescan(benchmark::State& state) {
    setup();
    // One big block: the prescan runs through the whole text.
    std::string src = "[" + source() + "]";
    for (auto _ : state) {
        zan::ValueCell out;
        zan::i32 t = zan::lexer_transcode(&out, reinterpret_cast<const zan::u8*>(src.data()),
                                          static_cast<zan::u32>(src.size()), true, false, true, 0,
                                          nullptr, nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(t);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_prescan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The interpreter on small programs: recursive fib, a counting loop with
// integer arithmetic, building a block with append, building a string,
// foreach over a block. Each program is loaded once and evaluated per
// iteration (the loading is not measured).
#include <benchmark/benchmark.h>

#include <string>

#include "tests/unit/eval/eval_env.h"

namespace {

using namespace zan;
using namespace zan::evaltest;

bool g_ready = false;

void ensure_env() {
    if (g_ready) return;
    env_init();
    g_ready = true;
}

// Defines the program's functions (setup), then evaluates body per
// iteration on the big-stack thread; the result must mold to expected.
void run(benchmark::State& state, const char* setup, const char* body, const char* expected) {
    ensure_env();
    if (eval_outcome(setup).error) {
        state.SkipWithError("setup failed");
        return;
    }
    std::string got;
    for (auto _ : state) got = eval(body);
    if (got != expected) state.SkipWithError(("unexpected result: " + got).c_str());
}

void BM_fib(benchmark::State& state) {
    run(state, "fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]]", "fib 25",
        "75025");
}
BENCHMARK(BM_fib)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_count_loop(benchmark::State& state) {
    run(state,
        "count: func [n /local i s] [i: 0 s: 0 while [i < n] [i: i + 1 s: s + i and 65535] s]",
        "count 1000000", "10528");
}
BENCHMARK(BM_count_loop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_append_block(benchmark::State& state) {
    run(state, "build: func [n /local b] [b: copy [] repeat i n [append b i] length? b]",
        "build 1000000", "1000000");
}
BENCHMARK(BM_append_block)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_append_string(benchmark::State& state) {
    run(state, "text: func [n /local s] [s: copy \"\" repeat i n [append s \"ab\"] length? s]",
        "text 1000000", "2000000");
}
BENCHMARK(BM_append_string)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_foreach(benchmark::State& state) {
    run(state,
        "data: make block! 1000000 repeat i 1000000 [append data i] "
        "sum: func [b /local s] [s: 0 foreach x b [s: s + x and 65535] s]",
        "sum data", "10528");
}
BENCHMARK(BM_foreach)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

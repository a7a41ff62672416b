// parse over a large input: a 1 MB text scanned with charsets, literal
// repetitions, alternatives and to/thru searches; a block of 200000 values
// matched by datatype with copy and collect. The inputs are built once
// (setup, not measured); each iteration runs one parse.
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
    // A text of words, numbers and punctuation, about 1 MB, and a block of
    // alternating words, integers and strings.
    std::string setup =
        "digit: make bitset! \"0123456789\" "
        "alpha: make bitset! \"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\" "
        "text: make string! 1100000 "
        "loop 25000 [append text \"alpha 12345, Beta 678; gamma-delta 9. \"] "
        "data: make block! 200000 "
        "repeat i 66667 [append data reduce ['word i \"str\"]]";
    EvalOutcome r = eval_outcome(setup);
    if (r.error) {
        fprintf(stderr, "setup failed: %s\n", r.text.c_str());
        std::abort();
    }
    g_ready = true;
}

void run(benchmark::State& state, const char* body, const char* expected) {
    ensure_env();
    std::string got;
    for (auto _ : state) got = eval(body);
    if (got != expected) state.SkipWithError(("unexpected result: " + got).c_str());
}

// Tokens of the text through charset repetitions and alternatives: the
// state machine's main road.
void BM_string_tokens(benchmark::State& state) {
    run(state,
        "n: 0 parse text [any [some alpha (n: n + 1) | some digit | skip]] n",
        "100000");
}
BENCHMARK(BM_string_tokens)->Unit(benchmark::kMillisecond)->UseRealTime();

// Literal repetitions and searches (the fast paths).
void BM_string_thru(benchmark::State& state) {
    run(state, "n: 0 parse text [any [thru \"gamma\" (n: n + 1)] to end] n", "25000");
}
BENCHMARK(BM_string_thru)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_string_case_fold(benchmark::State& state) {
    run(state, "n: 0 parse text [any [to #\"b\" skip (n: n + 1)] to end] n", "25000");
}
BENCHMARK(BM_string_case_fold)->Unit(benchmark::kMillisecond)->UseRealTime();

// Datatype rules over the block, with set and collect.
void BM_block_types(benchmark::State& state) {
    run(state, "parse data [some [word! set i integer! string!]] i", "66667");
}
BENCHMARK(BM_block_types)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_block_collect(benchmark::State& state) {
    run(state, "length? parse data [collect [any [skip keep integer! skip]]]", "66667");
}
BENCHMARK(BM_block_collect)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

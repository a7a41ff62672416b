// Runs under a collector that moves buffers at every allocation: the output
// cells, the input and the text are found and kept current.
#include <cstring>

#include "lexer_test_support.h"
#include "runtime/core/memory.h"

namespace zan::test {
namespace {

std::string sample_source() {
    std::string src;
    for (int i = 0; i < 60; i++) {
        src += "item" + std::to_string(i) + ": [\"text " + std::to_string(i) +
               "\" {braced\n" + std::to_string(i) + "} #\"c\" 1.5 " + std::to_string(i * 7) +
               " a/b/(c " + std::to_string(i) + ") %file" + std::to_string(i) + " <tag>]\n";
    }
    return src;
}

TEST_F(LexerTest, LoadsTheSameWhileTheCollectorMovesBuffers) {
    std::string src = sample_source();
    std::string quiet = render(load_cell(src));
    stack_pop(1);
    g_gc.enabled = true;
    set_collect_stress(true);
    u32 cycles = g_gc.series_cycles;
    std::string stressed = render(load_cell(src));
    EXPECT_EQ(stressed, quiet);
    EXPECT_GT(g_gc.series_cycles, cycles + 100) << "the collector did not run";
}

TEST_F(LexerTest, TextInsideASeriesIsScannedFromACopy) {
    std::string src = sample_source();
    std::string quiet = render(load_cell(src));
    stack_pop(1);
    // The text sits in a series buffer right after a little garbage, so the
    // first collection slides it down and new buffers soon cover its old
    // place. Nothing allocates between here and the scan, so the garbage is
    // still there when it starts, with or without stress mode.
    ValueCell* first = g_stack.top;
    for (int i = 0; i < 10; i++) string_push_new(16);
    string_load_push(src.data(), static_cast<u32>(src.size()), 0);
    *first = *(g_stack.top - 1);
    g_stack.top = first + 1;
    ValueCell* holder = first;
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* out = none_push();
    const u8* text = series_of(holder)->head_ptr();
    lexer_transcode(out, text, static_cast<u32>(src.size()), false, true, true, 0, nullptr,
                    nullptr, holder, nullptr);
    EXPECT_NE(series_of(holder)->head_ptr(), text) << "the text did not move";
    EXPECT_EQ(render(out), quiet);
}

TEST_F(LexerTest, StringInputUnderTheCollector) {
    std::string src = sample_source();
    std::string quiet = render(load_cell(src));
    stack_pop(1);
    ValueCell* input = string_load_push(src.data(), static_cast<u32>(src.size()), 0);
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* out = none_push();
    i32 consumed = 0;
    lexer_scan_string(out, input, -1, false, true, true, 0, &consumed, nullptr, nullptr);
    EXPECT_EQ(render(out), quiet);
    EXPECT_EQ(consumed, string_length(input));
}

}  // namespace
}  // namespace zan::test

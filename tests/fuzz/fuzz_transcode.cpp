// The lexer through transcode: the bytes as binary! and as text, whole and
// one value at a time.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    eval_around(binary_literal(data, size), {{"attempt [transcode ", "]"},
                                             {"attempt [transcode/next ", "]"},
                                             {"attempt [transcode to string! ", "]"}});
    return 0;
}

// Mold-then-load round trips over one long-lived environment: the value read
// from the bytes, molded and loaded again, returned as the result so that it
// is molded once more at the top level, as the console does.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    eval_around(binary_literal(data, size), {{"attempt [load mold/all load ", "]"},
                                             {"attempt [load mold load ", "]"},
                                             {"attempt [load/as save/as none load ", " 'zanbin 'zanbin]"}});
    return 0;
}

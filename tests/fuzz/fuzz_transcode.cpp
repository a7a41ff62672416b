// The lexer through transcode: the bytes as binary! and as text, whole and
// one value at a time.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    std::string bin = binary_literal(data, size);
    eval("attempt [transcode " + bin + "]");
    eval("attempt [transcode/next " + bin + "]");
    eval("attempt [transcode to string! " + bin + "]");
    return 0;
}

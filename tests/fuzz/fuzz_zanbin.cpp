// The ZANBIN decoder (the image's flags choose the fixed or compact layout
// and LZ compression), with the decoded value molded and encoded again.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    eval("attempt [fz-v: load/as " + binary_literal(data, size) + " 'zanbin]");
    eval("attempt [load/as save/as none :fz-v 'zanbin 'zanbin] attempt [mold/all :fz-v]");
    eval("fz-v: none");
    return 0;
}

// The JSON codec on fuzzed text: load-json, and for what loads, to-json
// (plain, pretty and ASCII) and load-json of that again.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    eval("attempt [fz-v: load-json to string! " + binary_literal(data, size) +
         " if not error? :fz-v [load-json to-json :fz-v load-json to-json/pretty/ascii :fz-v \"  \"]]");
    return 0;
}

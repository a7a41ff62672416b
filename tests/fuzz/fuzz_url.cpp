// URL text: the fuzzed bytes as a url! (molded and loaded again), through
// decode-url and back through encode-url, and the lexer's reading of the
// text after a scheme. Nothing is fetched.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    if (size > 1024) return 0;
    eval("attempt [fz-t: to string! " + binary_literal(data, size) +
         " attempt [fz-u: to url! fz-t load mold fz-u form fz-u]"
         " attempt [fz-o: decode-url fz-t if object? fz-o [decode-url encode-url fz-o]]"
         " attempt [transcode append copy \"http://\" fz-t]]");
    return 0;
}

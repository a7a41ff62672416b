// URL text: the fuzzed bytes as a url! (molded and loaded again), through
// decode-url and back through encode-url, and the lexer's reading of the
// text after a scheme. Nothing is fetched.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    std::string text = "to string! " + binary_literal(data, size);
    eval("attempt [fz-u: to url! " + text + " load mold fz-u form fz-u]");
    eval("attempt [fz-o: decode-url " + text + " if object? fz-o [decode-url encode-url fz-o]]");
    eval("attempt [transcode append copy \"http://\" " + text + "]");
    return 0;
}

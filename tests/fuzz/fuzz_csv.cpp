// The CSV codec on fuzzed text: load-csv with the refinements the first
// byte picks (a semicolon delimiter, a header, columns, records, one flat
// block, trimmed values, a quote of its own), then to-csv of what loads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    if (size == 0 || size > 128) return 0;
    static const char* const kRefinements[] = {"/with", "/header", "/as-columns", "/as-records",
                                               "/flat", "/trim", "/quote"};
    std::string call = "load-csv", args;
    for (int i = 0; i < 7; i++) {
        if (!(data[0] & (1 << i))) continue;
        call += kRefinements[i];
        if (i == 0) args += " #\";\"";
        if (i == 6) args += " #\"'\"";
    }
    eval("attempt [fz-v: " + call + " to string! " + binary_literal(data + 1, size - 1) + args +
         " attempt [to-csv fz-v]]");
    return 0;
}

// Shared pieces of the fuzz targets: one environment per process, started
// from the embedded boot image on first use and kept across inputs (set
// ZAN_GC_STRESS=1 to collect before every allocation), and the spelling of
// raw bytes as a binary! literal.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace zan::fuzz {

// Starts the environment once; aborts when it cannot start.
void boot_once();

// Evaluates source text under a try frame; the result is molded (as the
// console would) and dropped. Errors are expected and ignored.
void eval(const std::string& source);

// Evaluates before + text + after for each pair, in order.
struct Around {
    const char* before;
    const char* after;
};
void eval_around(const std::string& text, std::initializer_list<Around> forms);

// #{...} of the bytes.
std::string binary_literal(const uint8_t* data, size_t size);

}  // namespace zan::fuzz

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

// Starts the environment once with nothing printed (the reports that the
// code fuzzed may print), then evaluates the setup source; true. Meant for
// the initialiser of a function's static.
bool start_quiet(const std::string& setup);

// A folder of the process's own under /tmp, made on the first call, as a
// file! literal ending in "/".
const std::string& scratch_folder();

// The tokens of a byte string, one a byte, joined by spaces, with brackets
// and parens kept balanced: a closer without its opener is dropped, and the
// open ones are closed at the end.
template <typename Token>
std::string tokens(const uint8_t* p, size_t n, Token token) {
    std::string out, open;
    for (size_t i = 0; i < n; i++) {
        std::string t = token(p[i]);
        if (t == "[" || t == "(") open += t == "[" ? ']' : ')';
        if (t == "]" || t == ")") {
            if (open.empty() || open.back() != t[0]) continue;
            open.pop_back();
        }
        out += t;
        out += ' ';
    }
    while (!open.empty()) {
        out += open.back();
        out += ' ';
        open.pop_back();
    }
    return out;
}

// Tokens from a fixed vocabulary, each byte choosing one.
template <size_t N>
std::string tokens(const uint8_t* p, size_t n, const char* const (&vocabulary)[N]) {
    return tokens(p, n, [&](uint8_t b) { return std::string(vocabulary[b % N]); });
}

}  // namespace zan::fuzz

// parse with a fuzzed rule over a fuzzed input. The first byte splits the
// rest into rule bytes and input bytes; each rule byte picks a token from a
// fixed vocabulary of keywords and literals (nothing that evaluates code),
// with brackets kept balanced. change and insert are left out: inside a
// search (to, thru) a change that grows the input runs ahead of the search
// for ever, as the rules say it should. The input is kept short: a rule
// that calls itself under to or thru backtracks in time exponential in the
// input's length, which is the nature of such rules, not a fault. The input is a string, or a block when the
// first byte's top bit is set.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kRuleTokens[] = {
    "[",    "]",      "|",     "skip",    "any",       "some",      "opt",   "not",
    "ahead", "end",   "to",    "thru",    "\"a\"",     "\"ab\"",    "#\"b\"", "\"\"",
    "1",    "2",      "0 3",   "fz-cs",   "copy fz-x", "set fz-x",  "into",  "collect",
    "keep", "remove", "to end", "fail",   "break",     "reject",    "fz-rule", "quote a",
    "case", "after",  "pick",  "only",    "none",      "a",         "word!", "string!",
};

const char* const kBlockTokens[] = {"a", "\"a\"", "1", "[", "]", "#\"b\"", "\"ab\"", "b"};
const char kChars[] = "abAB1 \n\xC3";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    if (size == 0 || size > 4096) return 0;
    static bool defined = false;
    if (!defined) {
        eval("fz-cs: charset \"ab1\"");
        defined = true;
    }
    size_t rule_len = data[0] & 0x7F;
    if (rule_len > size - 1) rule_len = size - 1;
    const uint8_t* rule = data + 1;
    const uint8_t* input = rule + rule_len;
    size_t input_len = size - 1 - rule_len;
    if (input_len > 16) input_len = 16;
    std::string rule_text = tokens(rule, rule_len, kRuleTokens);
    std::string input_text;
    if (data[0] & 0x80) {
        input_text = "[" + tokens(input, input_len, kBlockTokens) + "]";
    } else {
        std::string s;
        for (size_t i = 0; i < input_len; i++) s += kChars[input[i] % 8];
        input_text = "to string! " + binary_literal(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    eval("fz-x: none fz-rule: [" + rule_text + "] attempt [parse " + input_text + " fz-rule]");
    return 0;
}

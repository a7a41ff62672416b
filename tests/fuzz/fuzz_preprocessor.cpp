// The preprocessor on a block of directives, macro definitions and values
// that the fuzzed bytes pick from a fixed vocabulary, brackets and parens
// balanced. Macros come only from whole definitions whose expansions never
// hold a macro's name or pattern, so that every expansion ends (a macro
// that expands to itself runs for ever, as it should); the code that #do
// and the conditions run has no loop word. Reports are not printed. The
// files included lie in a folder of the run's own (%FZ/ in the tokens).
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kTokens[] = {
    "#if", "#either", "#switch", "#case", "#do", "keep", "#local", "#reset",
    "#process off", "#process on", "#trace on", "#trace off", "#default", "#include %FZ/fz-inc.zan",
    "#include-binary %FZ/fz-inc.zan", "#include %FZ/fz-missing.zan",
    "#macro fz-m: func [] [[fz-out]]", "#macro fz-n: func [x] [[fz-out 2]]",
    "#macro fz-k: func [x y] [reduce ['fz-out 'fz-out]]", "#macro [integer!] func [s e] [[fz-int]]",
    "#macro ['fz-b] func [[manual] s e] [remove s]", "#macro fz-e: func [] [cause-error 'user 'message [\"e\"]]",
    "fz-m", "fz-n", "fz-k", "fz-b", "fz-e", "fz-a", "fz-a:", "fz-a + 1", "fz-a > 1", "1 = 1",
    "[", "]", "(", ")", "[", "]", "true", "false", "none", "1", "2", "0", "\"s\"", "'x", "x",
    "=", "+", "not", "#x", "fz-m 1",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    static const bool ready =
        start_quiet("write " + scratch_folder() + "fz-inc.zan {Zan [] fz-included #if true [1]}");
    (void)ready;
    if (size > 64) return 0;
    std::string block = tokens(data, size, [](uint8_t b) {
        std::string t = kTokens[b % (sizeof kTokens / sizeof kTokens[0])];
        size_t at = t.find("%FZ/");
        return at == std::string::npos ? t : t.replace(at, 4, scratch_folder());
    });
    eval("fz-a: 0 attempt [expand-directives/clean [" + block + "]]");
    return 0;
}

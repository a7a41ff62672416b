// Endless recursion that ends in a stack overflow, through every road the
// evaluator has: word and path calls, do of a block and of a string, load,
// parse, the preprocessor (#do, and an include of itself), operators and
// reduce, under try, attempt, catch and the conditionals. Up to four
// functions call each other in a ring, each chosen by a byte (its wrapper
// and its call of the next).
//
// So that every run reaches the overflow in a few hundred calls, the
// stacks are filled first to within the room the first two bytes give (a
// few frames to 259, a few cells to 514): the overflow meets the frames of
// the calls at every alignment. The cells filled below the evaluation must
// come back untouched, and the runtime must evaluate on afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/process.h"
#include "boot/startup.h"
#include "tests/support/boot_eval.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/interp.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace zan;

const char* const kWrappers[] = {
    "%s",
    "try [%s]",
    "attempt [%s]",
    "set/any 'fz-v try [%s] :fz-v",
    "catch [%s]",
    "either true [%s] [0]",
    "loop 1 [%s]",
    "if error? set/any 'fz-v try [%s] [:fz-v]",
};

// Set at start-up: the include call, with the file's absolute path.
std::string include_self;

const char* const kCalls[] = {
    "fz-f%d",
    "fz-o/f%d",
    "do [fz-f%d]",
    "do load {fz-f%d}",
    "parse [a] [(fz-f%d)]",
    "expand-directives [#do [fz-f%d]]",
    nullptr,  // an include of a file that includes itself (include_self)
    "do {fz-f%d}",
    "1 + fz-f%d",
    "reduce [fz-f%d]",
    "fz-o/f%d/x",
};

std::string format(const char* pattern, const std::string& arg) {
    std::string out;
    for (const char* p = pattern; *p; p++) {
        if (p[0] == '%' && p[1] == 's') out += arg, p++;
        else out += *p;
    }
    return out;
}

// The function definitions of a ring of k functions, the i-th one shaped by
// shapes[i].
std::string ring(const uint8_t* shapes, int k) {
    std::string defs, fields;
    for (int i = 0; i < k; i++) {
        char call[256];
        const char* pattern = kCalls[(shapes[i] >> 3) % 11];
        std::snprintf(call, sizeof call, pattern ? pattern : include_self.c_str(), (i + 1) % k + 1);
        std::string body = format(kWrappers[shapes[i] & 7], call);
        defs += "fz-f" + std::to_string(i + 1) + ": func [/x] [" + body + "] ";
        fields += "f" + std::to_string(i + 1) + ": :fz-f" + std::to_string(i + 1) + " ";
    }
    return defs + "fz-o: object [" + fields + "] none";
}

// Calls fz-f1 under a try/all frame, with no room kept for anything else:
// the stacks are put back before anything is formed or printed.
void run_ring() {
    ValueCell code = *global_value_ptr(symbol_make("fz-run"));
    interp_run_on_big_stack([&] {
        process_thread_alt_stack();
        ValueCell* top = g_stack.top;
        ValueCell* base = g_stack.base;
        CallFrame* ctop = g_stack.ctop;
        stack_mark_try_all(g_words.n.try_);
        try {
            interp_eval_block(&code, false);
        } catch (ThrowSignal&) {
            g_throw_code = 0;
        }
        g_stack.top = top;
        g_stack.base = base;
        g_stack.ctop = ctop;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zan::fuzz;
    static const bool ready = [] {
        std::string self = scratch_folder() + "fz-self.zan";
        include_self = "expand-directives [#include " + self + "] fz-f%d";
        return start_quiet("write " + self + " {Zan [] #include " + self + "} fz-run: [fz-f1]");
    }();
    (void)ready;
    if (size < 4) return 0;
    int k = 1 + data[2] % 4;
    if (size < size_t(3 + k)) return 0;
    // (Defined again only when the ring changed.)
    static std::string defined;
    std::string defs = ring(data + 3, k);
    if (defs != defined) eval(defs);
    defined = defs;

    // Fill the stacks to within the room asked for.
    ValueCell* top = g_stack.top;
    ValueCell* base = g_stack.base;
    CallFrame* ctop = g_stack.ctop;
    const u32 frames_left = 4 + data[0], cells_left = 4 + 2u * data[1];
    u32 frames = 0;
    while (g_stack.climit - g_stack.ctop > frames_left) {
        stack_mark(nullptr, FRAME_NATIVE << FRAME_KIND_SHIFT);
        frames++;
    }
    i32 cells = 0;
    while (g_stack.limit - g_stack.top > cells_left) {
        ValueCell v{TYPE_INTEGER, 0, static_cast<u32>(cells), 0};
        stack_push(&v);
        cells++;
    }
    ValueCell* filled = g_stack.top - cells;
    CallFrame* marked = g_stack.ctop - frames;

    run_ring();

    for (i32 i = 0; i < cells; i++) {
        if (filled[i].type() != TYPE_INTEGER || static_cast<i32>(filled[i].data2) != i) {
            std::fprintf(stderr, "a cell below the evaluation was overwritten: %d of %d\n", i, cells);
            std::abort();
        }
    }
    for (u32 i = 0; i < frames; i++) {
        if (marked[i].kind() != FRAME_NATIVE || marked[i].symbol() != 0) {
            std::fprintf(stderr, "a frame below the evaluation was overwritten: %u of %u\n", i, frames);
            std::abort();
        }
    }
    g_stack.top = top;
    g_stack.base = base;
    g_stack.ctop = ctop;
    if (boot_eval("1 + 2") != "3") {
        std::fprintf(stderr, "the runtime does not evaluate on\n");
        std::abort();
    }
    return 0;
}

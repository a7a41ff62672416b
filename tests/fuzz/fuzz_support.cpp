#include "tests/fuzz/fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "boot/embedded_image.h"
#include "boot/startup.h"
#include "tests/support/boot_eval.h"
#include "runtime/terminal/print_hooks.h"

namespace zan::fuzz {

void boot_once() {
    static bool started = false;
    if (started) return;
    BootConfig config;
    config.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    config.args = {"zan-fuzz"};
    BootResult r = boot_start(config);
    if (r.status != 0) {
        std::fprintf(stderr, "the environment did not start: %s\n", r.message.c_str());
        std::abort();
    }
    started = true;
}

void eval(const std::string& source) {
    boot_once();
    boot_eval(source);
}

void eval_around(const std::string& text, std::initializer_list<Around> forms) {
    for (const Around& f : forms) eval(f.before + text + f.after);
}

bool start_quiet(const std::string& setup) {
    boot_once();
    print_hooks_remove(print_hooks_default, nullptr);
    eval(setup);
    return true;
}

const std::string& scratch_folder() {
    static const std::string folder = [] {
        char made[] = "/tmp/zan-fuzz-XXXXXX";
        if (!mkdtemp(made)) {
            std::fprintf(stderr, "no scratch folder\n");
            std::abort();
        }
        return std::string("%") + made + "/";
    }();
    return folder;
}

std::string binary_literal(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "#{";
    s.reserve(size * 2 + 3);
    for (size_t i = 0; i < size; i++) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    s += '}';
    return s;
}

}  // namespace zan::fuzz

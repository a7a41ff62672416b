// Starting the runtime in a unit test the way `zan` starts it: the same
// initialisation steps in the same order (boot/runtime_init.cpp), so that a
// test runs on the lexer, natives, interpreter and services that users run.
// Free of the test framework, so that benchmarks can use it too.
#pragma once
#include <span>
#include <stdexcept>
#include <string>

#include "boot/embedded_image.h"
#include "boot/runtime_init.h"
#include "boot/startup.h"

namespace zan::test {

// A fresh runtime without the boot image, for tests that make their own
// values: every step of start-up before and after the image decode, ending
// with the collector on (collecting before every allocation under
// ZAN_GC_STRESS=1). No word of the global context has a value yet.
inline void start_runtime() {
    runtime_init();
    runtime_init_after_decode();
}

// A fresh environment started from the embedded boot image: the built-in
// words, every module of the start-up code and the seal. Throws when
// start-up fails, with its message.
inline void start_environment() {
    BootConfig config;
    config.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    config.args = {"zan"};
    BootResult result = boot_start(config);
    if (result.status != 0)
        throw std::runtime_error("start-up failed: " + result.message);
}

}  // namespace zan::test

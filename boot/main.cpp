// The entry point of zan: process set-up, start-up, hand-over, exit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "boot/embedded_image.h"
#include "boot/process.h"
#include "boot/startup.h"
#include "runtime/core/errors.h"

namespace {

int run(int argc, char** argv) {
    using namespace zan;
    BootConfig config;
    for (int i = 0; i < argc; i++) config.args.emplace_back(argv[i]);
    config.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    config.saved_heap = std::span<const u8>(zan_boot_heap_data, zan_boot_heap_size);
    // The developer switch: the module files instead of the embedded image.
    if (const char* dir = std::getenv("ZAN_LIBRARY_DIR"); dir && *dir) config.library_dir = dir;

    BootResult started = boot_start(config);
    if (started.status != 0) boot_fail(started.message, started.status);
    if (const char* timing = std::getenv("ZAN_BOOT_TIMING"); timing && *timing == '1')
        std::fprintf(stderr, "start-up: %.0f us, %u modules, %u library functions, image %s\n",
                     started.microseconds, started.modules, started.sealed,
                     started.restored ? "restored" : "decoded");
    return boot_launch(config.args);
}

}  // namespace

int main(int argc, char** argv) {
    zan::process_guard_standard_streams();
    zan::process_install_fault_handlers();
    int status;
    try {
        status = run(argc, argv);
    } catch (std::bad_alloc&) {
        zan::sys_runtime_error(94, 0);
    } catch (zan::ThrowSignal&) {
        // A throw that no handler accepted.
        zan::sys_runtime_error(95, reinterpret_cast<std::uintptr_t>(&run));
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

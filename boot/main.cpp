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

// Writes the library saved after its seal to path (an empty file when it
// cannot be saved: start-up then runs the modules as before).
int save_library(zan::BootConfig& config, const char* path) {
    using namespace zan;
    std::vector<u8> saved;
    const char* stress = std::getenv("ZAN_GC_STRESS");
    bool plain = config.library_dir.empty() && !(stress && std::string(stress) == "boot");
    if (plain) {
        config.save_sealed = &saved;
        BootResult started = boot_start(config);
        if (started.status != 0) boot_fail(started.message, started.status);
        if (saved.empty())
            std::fprintf(stderr, "zan: the library is not saved: %s\n", started.message.c_str());
    }
    std::FILE* f = std::fopen(path, "wb");
    if (!f || std::fwrite(saved.data(), 1, saved.size(), f) != saved.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "zan: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

int run(int argc, char** argv) {
    using namespace zan;
    BootConfig config;
    for (int i = 0; i < argc; i++) config.args.emplace_back(argv[i]);
    config.image = std::span<const u8>(zan_boot_image_data, zan_boot_image_size);
    config.saved_heap = std::span<const u8>(zan_boot_heap_data, zan_boot_heap_size);
#ifndef ZAN_NO_SAVED_LIBRARY
    config.sealed_heap = std::span<const u8>(zan_sealed_heap_data, zan_sealed_heap_size);
#endif
    // The developer switch: the module files instead of the embedded image.
    if (const char* dir = std::getenv("ZAN_LIBRARY_DIR"); dir && *dir) config.library_dir = dir;
    // The build's request: start up to the seal and save the library there.
    if (const char* path = std::getenv("ZAN_SAVE_LIBRARY"); path && *path)
        return save_library(config, path);

    BootResult started = boot_start(config);
    if (started.status != 0) boot_fail(started.message, started.status);
    if (const char* timing = std::getenv("ZAN_BOOT_TIMING"); timing && *timing == '1')
        std::fprintf(stderr, "start-up: %.0f us, %u modules, %u library functions, image %s\n",
                     started.microseconds, started.modules, started.sealed,
                     started.library_restored ? "not needed (library restored)"
                     : started.restored           ? "restored"
                                                  : "decoded");
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

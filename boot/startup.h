// Start-up: from a bare process to a running environment, and the hand-over
// to the console.
//
//   runtime_init                  the runtime in its fixed order
//   boot image decode             the built-in bindings and the module code
//   collector on, boot flag off
//   modules 1 .. 21               the start-up code (the system object after 5)
//   seal                          the library functions become "compiled"
//   module 99                     the values of the process (directory, ...)
//   launch                        cli-console-ctx/launch, or a script
//
// boot_start never exits the process: it reports a failure by its status,
// so that tests can start the runtime again and again. The entry point
// (main.cpp) prints the message and exits.
#pragma once
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// A fatal start-up failure raised below the runner (an unregistered
// routine, ...).
struct BootFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Exit status of a language error that nothing caught (-2).
constexpr int BOOT_ERROR_STATUS = 254;

struct BootConfig {
    // The boot image; ignored when library_dir is given.
    std::span<const u8> image;
    // The image as decoded at build time (boot/boot_heap.h), used instead of
    // decoding the image when it fits the runtime; may be empty.
    std::span<const u8> saved_heap;
    // The library saved after its modules and the seal (boot/sealed_heap.h),
    // put back instead of decoding and running them when it fits; may be
    // empty.
    std::span<const u8> sealed_heap;
    // For the build: when set, start-up stops after the seal and the saved
    // form of the library goes here (left empty, with the reason in the
    // result's message, when it cannot be saved).
    std::vector<u8>* save_sealed = nullptr;
    // The developer switch: build the image from the module files under
    // this directory (its library/, gui/ and console/ folders).
    std::string library_dir;
    // The command-line arguments, program path first.
    std::vector<std::string> args;
    // For tests: when set, receives boot_heap_digest of the runtime right
    // after the seal, before the process module (what depends only on the
    // build).
    u64* sealed_digest = nullptr;
};

// The module run after the seal, at every start: the values a process
// takes from its surroundings (library/99-process.zan).
constexpr int BOOT_PROCESS_MODULE = 99;

struct BootResult {
    int status = 0;          // 0: the environment is running
    std::string message;     // what went wrong (printed by the entry point)
    u32 modules = 0;         // module files run
    u32 sealed = 0;          // library functions sealed
    bool restored = false;   // the saved decoded image was used
    bool library_restored = false;  // the library saved after its seal was used
    double microseconds = 0; // time from runtime_init to the end of the seal
};

// Runs start-up up to and including the seal.
BootResult boot_start(const BootConfig& config);

// Hands over: cli-console-ctx/launch when the console modules are there,
// else the script named by the first argument (if any). Answers the exit
// status (0 when launch returns; 254 after an uncaught error).
int boot_launch(const std::vector<std::string>& args);

// The runtime as start-up prepares it before the image is decoded (runtime
// initialisation, the library functions' entry); zan-boot-image prepares
// its own the same way to save the decoded image (boot/boot_heap.h).
void boot_prepare_runtime();

}  // namespace zan

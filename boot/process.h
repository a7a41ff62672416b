// The process around the runtime: fault handlers, runtime error reports and
// every way the process ends.
//
// Faults (a bad memory access, a division by zero in machine code, an
// illegal instruction ...) are caught with sigaction on an alternate signal
// stack, mapped to a runtime error number and reported as
//
//     *** Runtime Error 13: integer divide by zero
//     *** at: 000055D0C2A1B3F4h
//
// (a newline first, the address as 16 hexadecimal digits), and the process
// exits with the number as its status. Ctrl-C (SIGINT) outside the line
// editor is noted and taken by the evaluator at its next step (see
// runtime/core/interrupt.h); a second one before that ends the process with
// status 130.
#pragma once
#include <cstdint>
#include <string>

namespace zan {

// Exit status of any fatal start-up failure (a corrupt boot image, an
// unregistered routine, a missing module file in the developer switch ...).
// Start-up never ends with status 0 on failure.
constexpr int BOOT_FAILURE_STATUS = 70;
// Exit status when standard output cannot be written (a full disk, a closed
// descriptor): the output is lost, which a caller must not take for success.
constexpr int OUTPUT_FAILURE_STATUS = 74;

// Makes sure descriptors 0, 1 and 2 are open (a closed one is held by
// /dev/null opened for reading, so that no file opened later takes its
// number and writes to it fail), and has a failed write to standard output
// end the process: "*** Output error: cannot write to standard output:"
// and the reason on standard error, status OUTPUT_FAILURE_STATUS.
void process_guard_standard_streams();

// Installs the fault and Ctrl-C handlers and an alternate signal stack for
// the calling thread. Safe to call again.
void process_install_fault_handlers();
// Gives the calling thread its own alternate signal stack (a stack overflow
// can only be reported from one); once per thread, later calls do nothing.
void process_thread_alt_stack();

// The message of a runtime error number, or null for a number it does not
// know ("unknown error code!" is printed then).
const char* runtime_error_message(int code);
// The report printed for a runtime error (empty for code 0).
std::string runtime_error_report(int code, std::uintptr_t address);
// Prints the report of a non-zero code on standard output, then ends the
// process with the code as its status (0: nothing printed, status 0).
[[noreturn]] void sys_runtime_error(int code, std::uintptr_t address);

// The runtime error number of a signal with its si_code; near_stack tells
// that a SIGSEGV hit the guard area below a thread's stack (a stack
// overflow). SIGINT gives 0.
int fault_error_number(int signo, int si_code, bool near_stack);

// One line on standard error ("*** Boot: " and the message; a message of
// the boot image decoder, "Error: ...", alone), then the
// process ends with the status (BOOT_FAILURE_STATUS unless another non-zero
// one is given).
[[noreturn]] void boot_fail(const std::string& message, int status = BOOT_FAILURE_STATUS);

}  // namespace zan

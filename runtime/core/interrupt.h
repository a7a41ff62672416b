// The user's interruption (Ctrl-C, SIGINT) of a running evaluation. The
// signal handler only notes it; the evaluator takes it at its next step,
// where running code of the language is safe.
#pragma once
#include <csignal>

namespace zan {

// Exit status of a process ended by the interruption (128 + SIGINT).
constexpr int INTERRUPTED_STATUS = 130;

// Set by the signal handler, cleared by whoever takes the interruption.
extern volatile std::sig_atomic_t g_interrupt_pending;

// Takes a pending interruption where a blocking host operation (a read, a
// write, an HTTP transfer) gave up for it: the evaluator installs the
// taker, which stops the evaluation by a throw (the console halts the
// command, a script ends).
// Returns when nothing is pending or no taker is installed yet.
using InterruptTaker = void (*)();
extern InterruptTaker g_interrupt_taker;
void interrupt_take_pending();

}  // namespace zan

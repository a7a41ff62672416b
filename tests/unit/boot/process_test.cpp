// The process layer: runtime error numbers of faults, the report, and the
// ways the process ends.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include "boot/process.h"
#include "runtime/core/interrupt.h"

namespace zan {
namespace {

TEST(Process, FaultNumbers) {
    struct Case {
        int signo, code;
        bool near_stack;
        int number;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, 1},  {SIGSEGV, SEGV_ACCERR, true, 19},
        {SIGBUS, BUS_ADRALN, false, 2},    {SIGBUS, BUS_ADRERR, false, 27},
        {SIGBUS, 0, false, 34},            {SIGTRAP, TRAP_BRKPT, false, 3},
        {SIGTRAP, TRAP_TRACE, false, 4},   {SIGFPE, FPE_INTDIV, false, 13},
        {SIGFPE, FPE_INTOVF, false, 14},   {SIGFPE, FPE_FLTDIV, false, 7},
        {SIGFPE, FPE_FLTOVF, false, 10},   {SIGFPE, FPE_FLTUND, false, 12},
        {SIGFPE, FPE_FLTRES, false, 8},    {SIGFPE, FPE_FLTINV, false, 9},
        {SIGFPE, FPE_FLTSUB, false, 5},    {SIGILL, ILL_ILLOPC, false, 17},
        {SIGILL, ILL_PRVOPC, false, 15},   {SIGILL, ILL_ILLOPN, false, 23},
        {SIGILL, ILL_COPROC, false, 26},   {SIGABRT, 0, false, 98},
        {SIGINT, 0, false, 0},             {SIGUSR1, 0, false, 99},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fault_error_number(c.signo, c.code, c.near_stack), c.number)
            << "signal " << c.signo << " code " << c.code;
}

TEST(Process, ReportHasTheNumberTheMessageAndA64BitAddress) {
    EXPECT_EQ(runtime_error_report(13, 0x55D0C2A1B3F4u),
              "\n*** Runtime Error 13: integer divide by zero\n*** at: 000055D0C2A1B3F4h\n");
    EXPECT_EQ(runtime_error_report(95, 0),
              "\n*** Runtime Error 95: no CATCH for THROW\n*** at: 0000000000000000h\n");
    EXPECT_EQ(runtime_error_report(77, 1),
              "\n*** Runtime Error 77: unknown error code!\n*** at: 0000000000000001h\n");
    EXPECT_EQ(runtime_error_report(0, 5), "");
    EXPECT_STREQ(runtime_error_message(6), "float denormal operan");
    EXPECT_STREQ(runtime_error_message(101), "no value matched in SWITCH");
    EXPECT_EQ(runtime_error_message(35), nullptr);
}

#if !defined(__SANITIZE_ADDRESS__)
volatile int g_zero = 0;

int divide(int a) { return a / g_zero; }

// Recursion without end, through a pointer the compiler cannot see through.
int (*volatile g_deep)(int);
int deep(int n) {
    volatile char pad[256];
    pad[0] = static_cast<char>(n);
    return g_deep(n + 1) + pad[0];
}

TEST(ProcessDeathTest, IntegerDivisionByZeroEndsWithItsNumber) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            process_install_fault_handlers();
            std::exit(divide(7));
        },
        ::testing::ExitedWithCode(13), "");
}

TEST(ProcessDeathTest, StackOverflowIsNumber19) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            process_install_fault_handlers();
            g_deep = deep;
            std::exit(deep(0));
        },
        ::testing::ExitedWithCode(19), "");
}
#endif

TEST(ProcessDeathTest, CtrlCIsNotedAndASecondOneEndsWithStatus130) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The first one is left for the evaluator: the process goes on.
    EXPECT_EXIT(
        {
            g_interrupt_pending = 0;
            process_install_fault_handlers();
            ::raise(SIGINT);
            std::exit(g_interrupt_pending ? 3 : 4);
        },
        ::testing::ExitedWithCode(3), "^$");
    EXPECT_EXIT(
        {
            g_interrupt_pending = 0;
            process_install_fault_handlers();
            ::raise(SIGINT);
            ::raise(SIGINT);
            std::exit(3);
        },
        ::testing::ExitedWithCode(INTERRUPTED_STATUS), "^$");
}

TEST(ProcessDeathTest, RuntimeErrorExitsWithItsCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(sys_runtime_error(95, 0), ::testing::ExitedWithCode(95), "");
    EXPECT_EXIT(sys_runtime_error(0, 0), ::testing::ExitedWithCode(0), "^$");
}

TEST(ProcessDeathTest, BootFailureIsNeverStatus0) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(boot_fail("routine not registered: x"),
                ::testing::ExitedWithCode(BOOT_FAILURE_STATUS),
                "\\*\\*\\* Boot: routine not registered: x");
    EXPECT_NE(BOOT_FAILURE_STATUS, 0);
}

}  // namespace
}  // namespace zan

// Fault handlers, runtime error reports and the ways the process ends.
#include "boot/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/terminal/console_out.h"
#include "runtime/core/interrupt.h"

namespace zan {

namespace {

struct RuntimeErrorText {
    int code;
    const char* text;
};

const RuntimeErrorText kMessages[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// A report is built in a fixed buffer: the signal handler may not allocate.
struct Report {
    char text[160];
    size_t length = 0;
    void put(const char* s) {
        while (*s && length + 1 < sizeof text) text[length++] = *s++;
        text[length] = 0;
    }
    void put_decimal(int v) {
        char digits[16];
        int n = 0;
        unsigned u = v < 0 ? static_cast<unsigned>(-v) : static_cast<unsigned>(v);
        do {
            digits[n++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        if (v < 0) put("-");
        char one[2] = {0, 0};
        while (n) {
            one[0] = digits[--n];
            put(one);
        }
    }
    void put_hex16(std::uintptr_t a) {
        static const char* digits = "0123456789ABCDEF";
        char one[2] = {0, 0};
        for (int shift = 60; shift >= 0; shift -= 4) {
            one[0] = digits[(a >> shift) & 15];
            put(one);
        }
    }
};

void build_report(Report& r, int code, std::uintptr_t address) {
    const char* msg = runtime_error_message(code);
    r.put("\n*** Runtime Error ");
    r.put_decimal(code);
    r.put(": ");
    r.put(msg ? msg : "unknown error code!");
    r.put("\n*** at: ");
    r.put_hex16(address);
    r.put("h\n");
}

void write_all(int fd, const char* p, size_t n) {
    while (n) {
        ssize_t k = ::write(fd, p, n);
        if (k <= 0) return;
        p += k;
        n -= static_cast<size_t>(k);
    }
}

// The lowest address of each thread's stack, recorded when its alternate
// stack is made: a fault just below it is a stack overflow.
thread_local std::uintptr_t t_stack_low = 0;
thread_local bool t_alt_stack = false;
constexpr std::uintptr_t GUARD_REACH = 1u << 20;

std::uintptr_t fault_address_of(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return uc ? static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]) : 0;
#else
    (void)uc;
    return 0;
#endif
}

void on_fault(int signo, siginfo_t* info, void* context) {
    if (signo == SIGINT) {
        // Noted for the evaluator, which stops at its next step. A second
        // one before that (a native busy for long, a blocked read) ends the
        // process at once.
        if (g_interrupt_pending) ::_exit(INTERRUPTED_STATUS);
        g_interrupt_pending = 1;
        return;
    }
    bool near_stack = false;
    if (signo == SIGSEGV && info && t_stack_low) {
        auto a = reinterpret_cast<std::uintptr_t>(info->si_addr);
        near_stack = a < t_stack_low + 4096 && a + GUARD_REACH >= t_stack_low;
    }
    int code = fault_error_number(signo, info ? info->si_code : 0, near_stack);
    Report r;
    build_report(r, code, fault_address_of(context));
    // Text the program printed before the fault comes first. (A fault inside
    // stdio itself would make this flush wait for ever; such a fault is not
    // expected of this program.)
    std::fflush(stdout);
    write_all(STDOUT_FILENO, r.text, r.length);
    ::_exit(code);
}

}  // namespace

const char* runtime_error_message(int code) {
    for (const RuntimeErrorText& m : kMessages)
        if (m.code == code) return m.text;
    return nullptr;
}

std::string runtime_error_report(int code, std::uintptr_t address) {
    if (code == 0) return {};
    Report r;
    build_report(r, code, address);
    return std::string(r.text, r.length);
}

void sys_runtime_error(int code, std::uintptr_t address) {
    std::fflush(stdout);
    if (code != 0) {
        std::string text = runtime_error_report(code, address);
        write_all(STDOUT_FILENO, text.data(), text.size());
    }
    std::fflush(stderr);
    std::_Exit(code);
}

int fault_error_number(int signo, int si_code, bool near_stack) {
    switch (signo) {
        case SIGINT:
            return 0;
        case SIGSEGV:
            return near_stack ? 19 : 1;
        case SIGBUS:
            if (si_code == BUS_ADRALN) return 2;
            if (si_code == BUS_ADRERR) return 27;
            if (si_code == BUS_OBJERR) return 28;
#ifdef BUS_MCEERR_AR
            if (si_code == BUS_MCEERR_AR) return 29;
#endif
#ifdef BUS_MCEERR_AO
            if (si_code == BUS_MCEERR_AO) return 30;
#endif
            return 34;
        case SIGTRAP:
            if (si_code == TRAP_TRACE) return 4;
            return 3;
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTSUB: return 5;
                default: return 33;
            }
        case SIGILL:
            switch (si_code) {
                case ILL_ILLOPC: return 17;
                case ILL_ILLOPN: return 23;
                case ILL_ILLADR: return 24;
                case ILL_ILLTRP: return 25;
                case ILL_PRVOPC: return 15;
                case ILL_PRVREG: return 31;
                case ILL_COPROC: return 26;
                case ILL_BADSTK: return 19;
                default: return 17;
            }
        case SIGABRT:
            return 98;
        default:
            return 99;
    }
}

void process_thread_alt_stack() {
    if (t_alt_stack) return;
    t_alt_stack = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &low, &size) == 0)
            t_stack_low = reinterpret_cast<std::uintptr_t>(low);
        pthread_attr_destroy(&attr);
    }
    // Never freed: the thread keeps it until the process ends.
    size_t size = 64 * 1024;
    void* mem = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) return;
    stack_t ss{};
    ss.ss_sp = mem;
    ss.ss_size = size;
    ss.ss_flags = 0;
    ::sigaltstack(&ss, nullptr);
}

void process_install_fault_handlers() {
    process_thread_alt_stack();
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
#if !defined(__SANITIZE_ADDRESS__)
    // Under the address sanitizer its own reports of these are kept.
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) ::sigaction(s, &sa, nullptr);
#endif
}

namespace {

void on_stdout_failure(int err) {
    Report r;
    r.put("*** Output error: cannot write to standard output: ");
    r.put(std::strerror(err));
    r.put("\n");
    write_all(STDERR_FILENO, r.text, r.length);
    ::_exit(OUTPUT_FAILURE_STATUS);
}

}  // namespace

void process_guard_standard_streams() {
    for (int fd = 0; fd <= 2; fd++) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
    platform_on_stdout_failure(on_stdout_failure);
}

void boot_fail(const std::string& message, int status) {
    std::fflush(stdout);
    // The boot image's own messages ("Error: Not a Zanbin file!") stand alone.
    if (message.rfind("Error: ", 0) == 0) std::fprintf(stderr, "%s\n", message.c_str());
    else std::fprintf(stderr, "*** Boot: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(status != 0 ? status : BOOT_FAILURE_STATUS);
}

}  // namespace zan

// The evaluation thread: the interpreter recurses on the machine stack for
// every nested call, so evaluation runs on one thread whose stack is large
// enough for the deepest nesting that the data and call stacks allow (they
// raise stack-overflow first). The caller waits while it runs: the system
// stays single-threaded in effect.
#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>

#include "runtime/core/errors.h"
#include "runtime/eval/interp/interp.h"

namespace zan {

namespace {

// 1 GiB of address space; pages are committed only as the stack grows.
// Smaller sizes are tried when the system refuses the reservation.
constexpr size_t BIG_STACK_SIZES[] = {size_t(1) << 30, size_t(256) << 20, size_t(64) << 20};

struct Worker {
    std::mutex m;
    std::condition_variable cv;
    void (*fn)(void*) = nullptr;
    void* arg = nullptr;
    bool pending = false;
    bool done = false;
    std::exception_ptr error;
    bool started = false;
};

// Never destroyed: the thread waits on it until the process ends.
Worker& g_worker = *new Worker;
thread_local bool t_on_big_stack = false;

void* worker_main(void*) {
    t_on_big_stack = true;
    std::unique_lock<std::mutex> lock(g_worker.m);
    for (;;) {
        g_worker.cv.wait(lock, [] { return g_worker.pending; });
        g_worker.pending = false;
        void (*fn)(void*) = g_worker.fn;
        void* arg = g_worker.arg;
        lock.unlock();
        std::exception_ptr err;
        try {
            fn(arg);
        } catch (...) {
            err = std::current_exception();
        }
        lock.lock();
        g_worker.error = err;
        g_worker.done = true;
        g_worker.cv.notify_all();
    }
    return nullptr;
}

void start_worker() {
    for (size_t size : BIG_STACK_SIZES) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, size);
        pthread_t t;
        int rc = pthread_create(&t, &attr, worker_main, nullptr);
        pthread_attr_destroy(&attr);
        if (rc == 0) {
            pthread_detach(t);
            g_worker.started = true;
            return;
        }
    }
    runtime_fatal(94, "out of memory (evaluation thread)");
}

}  // namespace

void interp_run_on_big_stack(void (*fn)(void*), void* arg) {
    if (t_on_big_stack) {
        fn(arg);
        return;
    }
    std::exception_ptr err;
    {
        std::unique_lock<std::mutex> lock(g_worker.m);
        if (!g_worker.started) start_worker();
        g_worker.fn = fn;
        g_worker.arg = arg;
        g_worker.done = false;
        g_worker.pending = true;
        // A Ctrl-C is for the evaluation: while the caller waits it goes to
        // the evaluation thread, whose blocked reads it must interrupt.
        sigset_t interrupt, saved;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        pthread_sigmask(SIG_BLOCK, &interrupt, &saved);
        g_worker.cv.notify_all();
        g_worker.cv.wait(lock, [] { return g_worker.done; });
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        err = g_worker.error;
        g_worker.error = nullptr;
    }
    if (err) std::rethrow_exception(err);
}

}  // namespace zan

// Platform services on POSIX: mmap-backed heap region, clock_gettime and the
// C library's time-zone data, nanosleep, getcwd/chdir, getenv/setenv.
#include "runtime/core/platform.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "runtime/core/errors.h"
#include "runtime/core/heap.h"
#include "runtime/core/interrupt.h"

namespace zan {

void (*g_platform_crypto_init)() = nullptr;

void platform_init() {
    if (g_platform_crypto_init) g_platform_crypto_init();
}

size_t platform_page_size() {
    static size_t page = 0;
    if (!page) {
        long p = sysconf(_SC_PAGESIZE);
        page = p > 0 ? static_cast<size_t>(p) : 4096;
    }
    return page;
}

// ---- virtual memory ---------------------------------------------------------

namespace {
// Live blocks and their rounded sizes: the region allocator needs the size
// back when a block is released.
std::map<const void*, size_t>& virtual_blocks() {
    static std::map<const void*, size_t> blocks;
    return blocks;
}
}  // namespace

void* platform_alloc_virtual(size_t size, bool executable) {
    size_t page = platform_page_size();
    if (size > HEAP_REGION_SIZE) raise_code(THROW_VIRTUAL_ALLOC_FAILED);
    size_t rounded = (size ? size : 1) + page - 1;
    rounded -= rounded % page;
    void* p = heap_region_alloc(rounded);
    if (!p) raise_code(THROW_VIRTUAL_ALLOC_FAILED);
    if (executable && mprotect(p, rounded, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) {
        heap_region_free(p, rounded);
        raise_code(THROW_VIRTUAL_ALLOC_FAILED);
    }
    virtual_blocks()[p] = rounded;
    return p;
}

void platform_free_virtual(void* address) {
    auto& blocks = virtual_blocks();
    auto it = blocks.find(address);
    if (it == blocks.end()) raise_code(THROW_VIRTUAL_FREE_FAILED);
    size_t size = it->second;
    blocks.erase(it);
    heap_region_free(address, size);
}

// ---- current directory and environment -------------------------------------

char* platform_get_current_dir(u32* length) {
    *length = 0;
    size_t cap = 256;
    for (;;) {
        char* buf = static_cast<char*>(std::malloc(cap));
        if (!buf) return nullptr;
        if (getcwd(buf, cap)) {
            *length = static_cast<u32>(std::strlen(buf));
            return buf;
        }
        int err = errno;
        std::free(buf);
        if (err != ERANGE || cap >= (size_t(1) << 24)) return nullptr;
        cap *= 2;
    }
}

int platform_set_current_dir(const char* path) {
    return path && chdir(path) == 0 ? 1 : 0;
}

u32 platform_get_env(const char* name, char* buffer, u32 size) {
    if (!name) return 0;
    const char* value = std::getenv(name);
    if (!value) return 0;
    size_t len = std::strlen(value);
    if (len >= 0xFFFFFFFFu) return 0;
    if (!buffer || size < len + 1) return static_cast<u32>(len + 1);
    std::memcpy(buffer, value, len + 1);
    return static_cast<u32>(len);
}

int platform_set_env(const char* name, const char* value) {
    if (!name) return 0;
    int r = value ? setenv(name, value, 1) : unsetenv(name);
    return r == 0 ? 1 : 0;
}

// ---- sleeping ----------------------------------------------------------------

u32 platform_wait_millis(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;                 // below 1, negative or NaN
    if (ms >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<u32>(ms);
}

bool platform_wait(double seconds) {
    u32 ms = platform_wait_millis(seconds);
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += static_cast<time_t>(ms / 1000);
    end.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
        end.tv_sec++;
        end.tv_nsec -= 1000000000L;
    }
    // In steps, so that a Ctrl-C noted by any thread ends the wait soon.
    for (;;) {
        if (g_interrupt_pending) return false;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        i64 left_ns = (static_cast<i64>(end.tv_sec) - now.tv_sec) * 1000000000LL +
                      (end.tv_nsec - now.tv_nsec);
        if (left_ns <= 0) return true;
        i64 step = left_ns < PLATFORM_WAIT_STEP_NS ? left_ns : PLATFORM_WAIT_STEP_NS;
        timespec nap{static_cast<time_t>(step / 1000000000LL), static_cast<long>(step % 1000000000LL)};
        nanosleep(&nap, nullptr);
    }
}

// ---- clock and calendar --------------------------------------------------------

double platform_time_of_day(i64 epoch_seconds, long nanoseconds, bool precise) {
    i64 s = epoch_seconds % 86400;
    if (s < 0) s += 86400;
    double t = static_cast<double>(s);
    if (precise) t += static_cast<double>(nanoseconds) / 1e9;
    return t;
}

double platform_get_time(bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return platform_time_of_day(ts.tv_sec, ts.tv_nsec, precise);
}

i32 platform_pack_date(i32 year, u32 month, u32 day, u32 zone_bits) {
    u32 word = static_cast<u32>(year) << 17 | (month & 15u) << 12 | (day & 31u) << 7 |
               (zone_bits & 0x7Fu);
    return static_cast<i32>(word);
}

// The sign is kept apart from the magnitude, so that an offset west of UTC
// by less than an hour, or by a quarter past the hour, keeps both its sign
// and its quarters.
u32 platform_zone_bits(i32 offset_seconds) {
    bool west = offset_seconds < 0;
    i64 minutes = (west ? -static_cast<i64>(offset_seconds) : offset_seconds) / 60;
    i64 hours = minutes / 60;
    if (hours > 15) hours = 15;                 // the field has four bits
    u32 quarters = static_cast<u32>(minutes % 60) / 15;
    u32 bits = static_cast<u32>(hours) << 2 | quarters;
    if (west && bits) bits |= 0x40u;
    return bits;
}

PlatformDateTime platform_date_time_at(i64 epoch_seconds, long nanoseconds, bool utc,
                                       bool precise) {
    time_t t = static_cast<time_t>(epoch_seconds);
    tm parts{};
    long offset = 0;
    if (utc || !localtime_r(&t, &parts)) {
        gmtime_r(&t, &parts);
    } else {
        offset = parts.tm_gmtoff;
    }
    u32 zone = platform_zone_bits(static_cast<i32>(offset));
    PlatformDateTime r;
    r.date = static_cast<i32>(static_cast<u32>(platform_pack_date(
        parts.tm_year + 1900, static_cast<u32>(parts.tm_mon + 1),
        static_cast<u32>(parts.tm_mday), zone)) | PACKED_DATE_TIME_FLAG);
    // Local time of day less the offset: the instant stays exact.
    double local = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec;
    r.time = local - static_cast<double>(offset);
    if (precise) r.time += static_cast<double>(nanoseconds) / 1e9;
    return r;
}

PlatformDateTime platform_now(bool utc, bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return platform_date_time_at(ts.tv_sec, ts.tv_nsec, utc, precise);
}

i32 platform_get_date(bool utc) {
    PlatformDateTime now = platform_now(utc, false);
    return static_cast<i32>(static_cast<u32>(now.date) & ~PACKED_DATE_TIME_FLAG);
}

// ---- raw output ----------------------------------------------------------------

int platform_write_fd(int fd, const void* bytes, size_t n) {
    const u8* p = static_cast<const u8*>(bytes);
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return errno;
            continue;
        }
        return w < 0 ? errno : EIO;
    }
    return 0;
}

}  // namespace zan

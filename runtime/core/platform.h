// Platform services below the runtime: start-up, virtual memory for the
// memory manager's frames, the clock and the calendar date with the local
// time zone, sleeping, the current directory and environment variables.
//
// Text crosses this layer as UTF-8: file names and the environment are byte
// strings on this system, and callers convert them with the Unicode codecs.
#pragma once
#include <cstddef>
#include <ctime>

#include "runtime/core/cell.h"

namespace zan {

// Throw codes raised by the virtual-memory calls (see errors.h).
constexpr u32 THROW_VIRTUAL_ALLOC_FAILED = 0x7FFFFFF7u;
constexpr u32 THROW_VIRTUAL_FREE_FAILED = 0x7FFFFFF6u;

// Start-up, once, right after the print hooks: the cryptographic start-up
// hook (when set). The console is detected next, by platform_console_init
// of the terminal layer, which sits above this one.
void platform_init();
// Set by the evaluator's digest module before platform_init when its
// provider needs a start-up step; null means nothing to do.
extern void (*g_platform_crypto_init)();

size_t platform_page_size();

// The memory manager takes its frames from the heap region itself
// (heap_region_alloc); these two are for a caller that wants pages of its
// own, executable ones for generated code, and only their tests call them.
// Committed, zero-filled memory inside the heap region (heap.h), rounded up
// to whole pages; readable, writable and, with the flag, executable. Raises
// THROW_VIRTUAL_ALLOC_FAILED when none can be had.
void* platform_alloc_virtual(size_t size, bool executable);
// Releases a block from platform_alloc_virtual. Raises
// THROW_VIRTUAL_FREE_FAILED for an address that is not such a live block.
void platform_free_virtual(void* address);

// The directory and environment wrappers are for code below the host layer;
// the natives and host routines reach the directory and the environment
// through the C library themselves, so only their tests call these.
// A new buffer (release it with std::free) holding the current directory as
// NUL-terminated UTF-8; *length gets its length in bytes without the NUL.
// Null, with *length 0, when the directory cannot be read.
char* platform_get_current_dir(u32* length);
// Non-zero on success.
int platform_set_current_dir(const char* path);

// Copies the variable's value, NUL-terminated, into buffer (size bytes) and
// returns its length. When the buffer is null or too small the result is the
// size needed, NUL included, and nothing is copied. 0 when the variable is
// absent (an empty value also gives 0).
u32 platform_get_env(const char* name, char* buffer, u32 size);
// Sets the variable, or removes it when value is null. Non-zero on success.
int platform_set_env(const char* name, const char* value);

// Milliseconds that platform_wait sleeps for a number of seconds: seconds x
// 1000, at least 1, truncated (NaN and negative waits sleep 1 ms).
u32 platform_wait_millis(double seconds);
// The longest step of a wait between looks at a pending interruption.
constexpr long long PLATFORM_WAIT_STEP_NS = 50'000'000;
// Sleeps platform_wait_millis(seconds); a Ctrl-C (g_interrupt_pending)
// ends it early, within one step: false then, true after the whole wait.
bool platform_wait(double seconds);

// Seconds since midnight UTC; with the flag the fraction of the second is
// included. For a caller that wants the time of day alone; `now` takes the
// date and the time from one clock reading (platform_date_time_at), so only
// the tests call this and platform_get_date.
double platform_get_time(bool precise);
// The same from a given clock reading (seconds and nanoseconds since the
// epoch).
double platform_time_of_day(i64 epoch_seconds, long nanoseconds, bool precise);

// Packed date word of a date!: year << 17 | month << 12 | day << 7 | zone.
// Bit 16 (time present) is left clear here.
i32 platform_pack_date(i32 year, u32 month, u32 day, u32 zone_bits);
// The 7 zone bits for an offset east of UTC in seconds: bit 6 the sign (west
// of UTC), bits 2-5 whole hours, bits 0-1 quarter hours.
u32 platform_zone_bits(i32 offset_seconds);

// Today's packed date word: the UTC date with zone 0, or the local date with
// the local zone.
i32 platform_get_date(bool utc);

// The current moment as a date! holds it, from one reading of the clock:
// `date` is the packed word of the local (or, with utc, the UTC) calendar
// date with the time-present flag and the zone; `time` is the time of day in
// UTC seconds measured from the start of that date, so that time + the zone's
// offset is the local time of day.
struct PlatformDateTime {
    i32 date;
    double time;
};
constexpr u32 PACKED_DATE_TIME_FLAG = 1u << 16;
PlatformDateTime platform_now(bool utc, bool precise);
// The same for a given instant, broken down in the process's time zone.
PlatformDateTime platform_date_time_at(i64 epoch_seconds, long nanoseconds, bool utc,
                                       bool precise);

// Writes all n bytes to fd, retrying after partial writes, interruptions and
// a full non-blocking pipe. 0 on success, else the errno of the failure.
int platform_write_fd(int fd, const void* bytes, size_t n);

}  // namespace zan
